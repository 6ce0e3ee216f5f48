#include "IslandImageView.h"

#include <QuillomareCore/Language.h>

#include <QChildEvent>
#include <QMouseEvent>
#include <QPainter>

#include <algorithm>
#include <utility>

namespace QuillomareMac {

namespace Language = QuillomareCore::Language;

AspectFillImageView::AspectFillImageView(QWidget* parent) : QWidget(parent)
{
    setAttribute(Qt::WA_TranslucentBackground);
}

void AspectFillImageView::setImage(const QImage& image)
{
    m_image = image;
    update();
    if (m_image.isNull()) {
        setToolTip(QString());
        unsetCursor();
    } else {
        setToolTip(Language::text(QStringLiteral("点击查看大图"), QStringLiteral("Click to enlarge")));
        setCursor(Qt::PointingHandCursor);
    }
}

QRectF AspectFillImageView::aspectFillRect(const QSizeF& imageSize, const QRectF& bounds)
{
    if (imageSize.width() <= 0 || imageSize.height() <= 0 || bounds.width() <= 0 || bounds.height() <= 0)
        return {};
    const qreal scale = std::max(bounds.width() / imageSize.width(), bounds.height() / imageSize.height());
    const QSizeF drawn(imageSize.width() * scale, imageSize.height() * scale);
    return QRectF(bounds.center().x() - drawn.width() / 2, bounds.center().y() - drawn.height() / 2, drawn.width(),
                  drawn.height());
}

QWidget* AspectFillImageView::hitTest(const QPointF& pointInParent)
{
    const QPointF local = parentWidget() ? mapFromParent(pointInParent) : pointInParent - QPointF(pos());
    const bool inside = local.x() >= 0 && local.y() >= 0 && local.x() < width() && local.y() < height();
    return inside ? this : nullptr;
}

void AspectFillImageView::childEvent(QChildEvent* event)
{
    if (event->added() && event->child()->isWidgetType())
        static_cast<QWidget*>(event->child())->setAttribute(Qt::WA_TransparentForMouseEvents);
    QWidget::childEvent(event);
}

void AspectFillImageView::paintEvent(QPaintEvent*)
{
    if (m_image.isNull())
        return;
    const QRectF target = aspectFillRect(m_image.deviceIndependentSize(), QRectF(rect()));
    if (target.isEmpty())
        return;
    QPainter painter(this);
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setClipRect(rect());
    painter.setCompositionMode(QPainter::CompositionMode_SourceOver);
    painter.drawImage(target, m_image);
}

void AspectFillImageView::mousePressEvent(QMouseEvent* event)
{
    // Take the press only when a click can mean something, so that the release comes back here;
    // otherwise the press goes on to the view below (a row's selection or drag).
    if (event->button() == Qt::LeftButton && hasImage() && onClick) {
        m_pressedOnImage = true;
        event->accept();
        return;
    }
    QWidget::mousePressEvent(event);
}

void AspectFillImageView::mouseReleaseEvent(QMouseEvent* event)
{
    const bool pressed = std::exchange(m_pressedOnImage, false);
    if (pressed && event->button() == Qt::LeftButton && QRectF(rect()).contains(event->position()) && hasImage() &&
        onClick) {
        event->accept();
        onClick();
        return;
    }
    QWidget::mouseReleaseEvent(event);
}

} // namespace QuillomareMac
