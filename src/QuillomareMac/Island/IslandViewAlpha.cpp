// The views' alpha and scale: an opacity effect that exists only while a view is translucent or
// scaled, so that resting views draw directly.

#include "IslandView.h"

#include <QGraphicsOpacityEffect>
#include <QPainter>

#include <algorithm>

namespace QuillomareMac {

namespace {

// The opacity effect of a view with an alpha, which can also draw the view scaled about its
// centre (the expanded content shrinks a little while the island collapses).
class ContentEffect final : public QGraphicsOpacityEffect
{
public:
    using QGraphicsOpacityEffect::QGraphicsOpacityEffect;

    double scale() const { return m_scale; }
    void setScale(double scale)
    {
        if (scale == m_scale)
            return;
        m_scale = scale;
        update();
    }

protected:
    void draw(QPainter* painter) override
    {
        if (m_scale == 1.0) {
            QGraphicsOpacityEffect::draw(painter);
            return;
        }
        QPoint offset;
        const QPixmap pixmap = sourcePixmap(Qt::LogicalCoordinates, &offset, QGraphicsEffect::NoPad);
        if (pixmap.isNull())
            return;
        const QRectF bounds = sourceBoundingRect(Qt::LogicalCoordinates);
        painter->save();
        painter->setOpacity(painter->opacity() * opacity());
        painter->setRenderHint(QPainter::SmoothPixmapTransform);
        painter->translate(bounds.center());
        painter->scale(m_scale, m_scale);
        painter->translate(-bounds.center());
        painter->drawPixmap(offset, pixmap);
        painter->restore();
    }

private:
    double m_scale = 1.0;
};

} // namespace

// MARK: - Alpha

double IslandView::alphaValue(const QWidget* view)
{
    if (!view)
        return 0;
    if (const auto* effect = qobject_cast<const QGraphicsOpacityEffect*>(view->graphicsEffect()))
        return effect->opacity();
    return 1;
}

void IslandView::setAlphaValue(QWidget* view, double alpha)
{
    if (!view)
        return;
    alpha = std::clamp(alpha, 0.0, 1.0);
    auto* effect = qobject_cast<QGraphicsOpacityEffect*>(view->graphicsEffect());
    if (alpha >= 1.0 && contentScale(view) == 1.0) {
        if (effect)
            view->setGraphicsEffect(nullptr);
        return;
    }
    if (!effect) {
        effect = new ContentEffect(view);
        view->setGraphicsEffect(effect);
    }
    if (effect->opacity() != alpha)
        effect->setOpacity(alpha);
}

double IslandView::contentScale(const QWidget* view)
{
    const auto* effect = view ? dynamic_cast<const ContentEffect*>(view->graphicsEffect()) : nullptr;
    return effect ? effect->scale() : 1.0;
}

void IslandView::setContentScale(QWidget* view, double scale)
{
    if (!view)
        return;
    scale = std::max(scale, 0.0);
    auto* effect = dynamic_cast<ContentEffect*>(view->graphicsEffect());
    if (scale == 1.0 && alphaValue(view) >= 1.0) {
        if (view->graphicsEffect())
            view->setGraphicsEffect(nullptr);
        return;
    }
    if (!effect) {
        // Keep the alpha a plain opacity effect was holding.
        const double alpha = alphaValue(view);
        effect = new ContentEffect(view);
        effect->setOpacity(alpha);
        view->setGraphicsEffect(effect);
    }
    effect->setScale(scale);
}

} // namespace QuillomareMac
