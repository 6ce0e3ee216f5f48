#include "IslandToastView.h"

#include "IslandAnimation.h"
#include "IslandScheduler.h"
#include "IslandTheme.h"

#include <QFontMetricsF>
#include <QGraphicsDropShadowEffect>
#include <QPainter>
#include <QPointer>

#include <algorithm>
#include <cmath>

namespace QuillomareMac {

namespace {

constexpr qreal cornerRadius = 15;
constexpr qreal labelInset = 14;

const QString kFadeKey = QStringLiteral("toast.fade");

QFont toastFont()
{
    return IslandTheme::systemFont(11.5, QFont::Medium);
}

// A line break starts a line of its own: a message puts a place (a folder) there, so that it is
// shown instead of being cut at the toast's edge.
QStringList toastLines(const QString& text)
{
    return text.split(QLatin1Char('\n'));
}

int heightForLines(qsizetype lines)
{
    const QFontMetricsF metrics(toastFont());
    return IslandToastView::toastHeight + int(std::ceil(metrics.lineSpacing() * qreal(std::max<qsizetype>(lines, 1) - 1)));
}

} // namespace

IslandToastView::IslandToastView(QWidget* parent) : QWidget(parent)
{
    setAttribute(Qt::WA_TranslucentBackground);
    setAttribute(Qt::WA_TransparentForMouseEvents);
    setFocusPolicy(Qt::NoFocus);
    setFixedHeight(heightForLines(1));
    setMaximumWidth(maximumToastWidth);
    setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Fixed);

    // The shadow falls outside the capsule, so it is an effect rather than part of our painting.
    auto* shadow = new QGraphicsDropShadowEffect(this);
    shadow->setColor(QColor::fromRgbF(0, 0, 0, 0.4f));
    shadow->setBlurRadius(24);
    shadow->setOffset(0, 4);
    setGraphicsEffect(shadow);

    QWidget::setVisible(false);
}

IslandToastView::~IslandToastView()
{
    if (m_pendingHide)
        m_pendingHide->cancel();
    IslandAnimator::shared().removeAll(this);
}

void IslandToastView::setText(const QString& text)
{
    m_text = text;
    setAccessibleName(text);
    setFixedHeight(heightForLines(toastLines(text).size()));
    updateGeometry();
    update();
}

void IslandToastView::setAlpha(qreal alpha)
{
    m_alpha = std::clamp<qreal>(alpha, 0, 1);
    update();
}

void IslandToastView::showTransientStatus(const QString& text)
{
    setText(text);
    if (m_pendingHide) {
        m_pendingHide->cancel();
        m_pendingHide.reset();
    }
    show();
    fadeTo(1.0, fadeInMilliseconds, CubicCurve::easeOut());

    QPointer<IslandToastView> toast(this);
    m_pendingHide = IslandScheduler::shared().schedule(hideDelayMilliseconds, this, [toast] {
        if (!toast)
            return;
        toast->m_pendingHide.reset();
        toast->fadeTo(0.0, fadeOutMilliseconds, CubicCurve::easeIn(), [toast](bool finished) {
            // A newer message that brought the toast back keeps it up; it may have come between
            // the end of the fade and this completion, so a fade running now counts too.
            if (finished && toast && toast->m_alpha == 0.0 && !IslandAnimator::shared().contains(toast, kFadeKey))
                toast->hide();
        });
    });
}

void IslandToastView::fadeTo(qreal target, qint64 milliseconds, const CubicCurve& curve,
                             std::function<void(bool)> completion)
{
    IslandAnimation fade = IslandAnimation::timed(m_alpha, target, double(milliseconds) / 1000.0, curve);
    // The animator drops the toast's fades when it is destroyed, so the frames may use it freely.
    fade.onFrame = [this](const AnimatedValue& value) { setAlpha(std::get<double>(value)); };
    fade.completion = std::move(completion);
    IslandAnimator::shared().add(this, kFadeKey, std::move(fade));
}

QWidget* IslandToastView::hitTest(const QPointF&) const
{
    return nullptr;
}

QSize IslandToastView::sizeHint() const
{
    const QFontMetricsF metrics(toastFont());
    const QStringList lines = toastLines(m_text);
    qreal widest = 0;
    for (const QString& line : lines)
        widest = std::max(widest, std::ceil(metrics.horizontalAdvance(line)));
    return QSize(int(std::min<qreal>(widest + 2 * labelInset, maximumToastWidth)), heightForLines(lines.size()));
}

QSize IslandToastView::minimumSizeHint() const
{
    return QSize(int(2 * labelInset), toastHeight);
}

void IslandToastView::paintEvent(QPaintEvent*)
{
    if (m_alpha <= 0)
        return;
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setRenderHint(QPainter::TextAntialiasing);
    painter.setOpacity(m_alpha);
    const QRectF bounds(rect());
    const qreal radius = std::min(cornerRadius, bounds.height() / 2);
    IslandTheme::paintRoundedSurface(painter, bounds, radius, IslandTheme::rgb(0.075, 0.082, 0.098, 0.96),
                                     IslandTheme::white(0.16));

    const QFont font = toastFont();
    const QFontMetricsF metrics(font);
    const QRectF label = bounds.adjusted(labelInset, 0, -labelInset, 0);
    painter.setFont(font);
    painter.setPen(IslandTheme::white(0.92));
    const QStringList lines = toastLines(m_text);
    if (lines.size() == 1) {
        painter.drawText(label, Qt::AlignLeft | Qt::AlignVCenter,
                         metrics.elidedText(m_text, Qt::ElideRight, label.width()));
        return;
    }
    // The lines after the first hold places: a folder too long for the line keeps its start and
    // its own name at the end.
    const qreal lineHeight = metrics.lineSpacing();
    qreal top = label.center().y() - lineHeight * qreal(lines.size()) / 2;
    for (qsizetype index = 0; index < lines.size(); ++index, top += lineHeight)
        painter.drawText(QRectF(label.left(), top, label.width(), lineHeight), Qt::AlignLeft | Qt::AlignVCenter,
                         metrics.elidedText(lines[index], index == 0 ? Qt::ElideRight : Qt::ElideMiddle,
                                            label.width()));
}

} // namespace QuillomareMac
