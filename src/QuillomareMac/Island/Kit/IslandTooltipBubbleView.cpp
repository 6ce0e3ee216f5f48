#include "IslandTooltipBubbleView.h"

#include "IslandTheme.h"
#include "Island/IslandView.h"

#include <QFontMetricsF>
#include <QPainter>

#include <algorithm>
#include <cmath>

namespace QuillomareMac {

namespace {

constexpr qreal horizontalInset = 11;
constexpr qreal verticalInset = 6;
constexpr qreal maximumContentWidth = 260;
constexpr qreal cornerRadius = 8;
constexpr int textFlags = int(Qt::AlignHCenter) | int(Qt::AlignTop) | int(Qt::TextWrapAnywhere);

qreal lineHeight(const QFontMetricsF& metrics)
{
    return std::ceil(metrics.height());
}

} // namespace

IslandTooltipBubbleView::IslandTooltipBubbleView(const QString& text, QWidget* parent) : QWidget(parent), m_text(text)
{
    setAttribute(Qt::WA_TranslucentBackground);
    setAttribute(Qt::WA_TransparentForMouseEvents);
    setAccessibleName(text);
}

const QFont& IslandTooltipBubbleView::tooltipFont()
{
    static const QFont font = IslandTheme::systemFont(12, QFont::Medium);
    return font;
}

QSizeF IslandTooltipBubbleView::measuredContentSize(const QString& text)
{
    const QFontMetricsF metrics(tooltipFont());
    const qreal oneLine = metrics.horizontalAdvance(text);
    const qreal width = std::min(std::ceil(oneLine + 10), maximumContentWidth);
    const qreal wrapped = metrics.boundingRect(QRectF(0, 0, width, 10000), textFlags, text).height();
    const qreal line = lineHeight(metrics);
    const qreal height = std::clamp(std::ceil(wrapped), line, 2 * line);
    return QSizeF(width, height);
}

QSize IslandTooltipBubbleView::bubbleSize(const QString& text)
{
    const QSizeF content = measuredContentSize(text);
    return QSize(int(std::max<qreal>(content.width() + 22, 46)), int(content.height() + 12));
}

QRegion IslandTooltipBubbleView::outline(const QSize& size)
{
    return IslandView::surfaceRegion(QRectF(QPointF(0, 0), QSizeF(size)), cornerRadius, false);
}

void IslandTooltipBubbleView::setText(const QString& text)
{
    m_text = text;
    setAccessibleName(text);
    updateGeometry();
    update();
}

QSize IslandTooltipBubbleView::sizeHint() const
{
    return bubbleSize(m_text);
}

void IslandTooltipBubbleView::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setRenderHint(QPainter::TextAntialiasing);
    const QRectF bounds(rect());
    const QColor fill = QColor::fromRgbF(0.04f, 0.04f, 0.04f, 0.94f);
    // A window cut to the outline shows its edge pixels whole: they are filled whole, not blended
    // with the (black) nothing around them.
    if (!window()->mask().isEmpty())
        painter.fillRect(bounds, fill);
    IslandTheme::paintRoundedSurface(painter, bounds, cornerRadius, fill, IslandTheme::white(0.12));

    // Two lines at most: the third and later are cut off by the text rectangle.
    const QFontMetricsF metrics(tooltipFont());
    const QRectF textRect = bounds.adjusted(horizontalInset, verticalInset, -horizontalInset, -verticalInset);
    const qreal needed = metrics.boundingRect(QRectF(0, 0, textRect.width(), 10000), textFlags, m_text).height();
    const qreal shown = std::min(needed, textRect.height());
    QRectF placed = textRect;
    placed.setTop(textRect.top() + std::max<qreal>((textRect.height() - shown) / 2, 0));
    painter.setClipRect(textRect);
    painter.setFont(tooltipFont());
    painter.setPen(IslandTheme::white(0.92));
    painter.drawText(placed, textFlags, m_text);
}

} // namespace QuillomareMac
