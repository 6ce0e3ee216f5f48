#include "IslandTheme.h"

#include <QGuiApplication>
#include <QPainter>
#include <QScreen>

#include <algorithm>

namespace QuillomareMac::IslandTheme {

QColor white(qreal alpha)
{
    return QColor::fromRgbF(1.0f, 1.0f, 1.0f, float(alpha));
}

QColor rgb(qreal red, qreal green, qreal blue, qreal alpha)
{
    return QColor::fromRgbF(float(red), float(green), float(blue), float(alpha));
}

QColor withAlpha(const QColor& colour, qreal alpha)
{
    QColor result = colour;
    result.setAlphaF(float(alpha));
    return result;
}

#define QUILLOMARE_ISLAND_COLOUR(name, value)                                                                          \
    const QColor& name()                                                                                               \
    {                                                                                                                  \
        static const QColor colour = value;                                                                            \
        return colour;                                                                                                 \
    }

QUILLOMARE_ISLAND_COLOUR(collapsedBackground, rgb(0.006, 0.007, 0.009, 0.98))
QUILLOMARE_ISLAND_COLOUR(expandedBackground, rgb(0.047, 0.055, 0.063, 0.86))
QUILLOMARE_ISLAND_COLOUR(collapsedBorder, white(0.08))
QUILLOMARE_ISLAND_COLOUR(expandedBorder, white(0.16))
QUILLOMARE_ISLAND_COLOUR(searchBackground, white(0.064))
QUILLOMARE_ISLAND_COLOUR(searchBorder, white(0.07))
QUILLOMARE_ISLAND_COLOUR(panelStroke, white(0.08))
QUILLOMARE_ISLAND_COLOUR(panelFill, white(0.035))
QUILLOMARE_ISLAND_COLOUR(selectionBlue, rgb(0.184, 0.549, 1.0, 1.0))
QUILLOMARE_ISLAND_COLOUR(segmentBlueText, rgb(0.353, 0.643, 1.0, 1.0))
QUILLOMARE_ISLAND_COLOUR(segmentBlueFill, rgb(0.184, 0.549, 1.0, 0.18))
QUILLOMARE_ISLAND_COLOUR(pinYellow, rgb(1.0, 0.77, 0.28, 1.0))
QUILLOMARE_ISLAND_COLOUR(onlineGreen, rgb(0.36, 0.78, 0.54, 1.0))
QUILLOMARE_ISLAND_COLOUR(shelfSurfaceFill, white(0.035))
QUILLOMARE_ISLAND_COLOUR(shelfSurfaceStroke, white(0.1))
QUILLOMARE_ISLAND_COLOUR(shelfGalleryWrapFill, white(0.025))
QUILLOMARE_ISLAND_COLOUR(shelfGalleryWrapStroke, white(0.08))
QUILLOMARE_ISLAND_COLOUR(shelfCardFill, white(0.05))
QUILLOMARE_ISLAND_COLOUR(shelfCardHoverFill, white(0.062))
QUILLOMARE_ISLAND_COLOUR(shelfDropStroke, white(0.2))

#undef QUILLOMARE_ISLAND_COLOUR

qreal surfaceAlpha(bool blurBehind)
{
    return blurBehind ? expandedBackground().alphaF() : 0.97;
}

QColor expandedSurface(bool blurBehind)
{
    const QColor& base = expandedBackground();
    const qreal alpha = surfaceAlpha(blurBehind);
    // Over black a colour c at alpha a shows c·a: keep that product.
    const qreal scale = base.alphaF() / alpha;
    return rgb(base.redF() * scale, base.greenF() * scale, base.blueF() * scale, alpha);
}

namespace {

qreal logicalDpi()
{
    if (const QScreen* screen = QGuiApplication::primaryScreen()) {
        const qreal dpi = screen->logicalDotsPerInchY();
        if (dpi > 0)
            return dpi;
    }
    return 96.0;
}

} // namespace

QFont systemFont(qreal points, QFont::Weight weight)
{
    QFont font = QGuiApplication::font();
    font.setPointSizeF(points * 72.0 / logicalDpi());
    font.setWeight(weight);
    font.setStyleStrategy(QFont::PreferAntialias);
    return font;
}

QFont monospacedDigitFont(qreal points, QFont::Weight weight)
{
    // The UI fonts of the desktops we run on draw digits at one width already; asking for tabular
    // figures by name would need a newer Qt.
    return systemFont(points, weight);
}

void paintRoundedSurface(QPainter& painter, const QRectF& bounds, qreal radius, const QColor& fill,
                         const QColor& border, qreal borderWidth)
{
    painter.save();
    if (fill.alpha() > 0) {
        painter.setPen(Qt::NoPen);
        painter.setBrush(fill);
        painter.drawRoundedRect(bounds, radius, radius);
    }
    if (borderWidth > 0 && border.alpha() > 0) {
        const qreal half = borderWidth / 2;
        const qreal innerRadius = std::max<qreal>(radius - half, 0);
        painter.setPen(QPen(border, borderWidth));
        painter.setBrush(Qt::NoBrush);
        painter.drawRoundedRect(bounds.adjusted(half, half, -half, -half), innerRadius, innerRadius);
    }
    painter.restore();
}

} // namespace QuillomareMac::IslandTheme
