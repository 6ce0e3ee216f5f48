#include "IslandTheme.h"

#include <QFontDatabase>
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

const QStringList& fontFamilies()
{
    // The island's texts were measured against a UI face of Inter's proportions, a little
    // narrower than Inter's text cut, with real semibold and medium weights; the desktop's own
    // font (often DejaVu Sans, wider and with no semibold) cuts them short. Inter's display cut
    // has those widths (Inter itself stands in where only it is installed), and Chinese takes a
    // CJK face of the same family of design. Faces that are not installed are left out; with
    // none the desktop's font is used.
    static const QStringList families = [] {
        QStringList found;
        for (const QString& family : {QStringLiteral("Inter Display"), QStringLiteral("Inter")}) {
            if (QFontDatabase::hasFamily(family)) {
                found.append(family);
                break;
            }
        }
        if (QFontDatabase::hasFamily(QStringLiteral("Noto Sans CJK SC")))
            found.append(QStringLiteral("Noto Sans CJK SC"));
        return found;
    }();
    return families;
}

QFont systemFont(qreal points, QFont::Weight weight)
{
    QFont font = QGuiApplication::font();
    if (!fontFamilies().isEmpty()) {
        // The desktop's font stays last, for the scripts the island's faces do not cover.
        QStringList families = fontFamilies();
        families.append(font.families().isEmpty() ? QStringList{font.family()} : font.families());
        font.setFamilies(families);
    }
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

void strokeInsideBorder(QPainter& painter, const QColor& border, qreal width,
                        const std::function<QPainterPath(qreal inset)>& outline)
{
    if (width <= 0 || border.alpha() == 0)
        return;
    painter.save();
    painter.setPen(QPen(border, width));
    painter.setBrush(Qt::NoBrush);
    painter.drawPath(outline(width / 2));
    painter.restore();
}

void paintRoundedSurface(QPainter& painter, const QRectF& bounds, qreal radius, const QColor& fill,
                         const QColor& border, qreal borderWidth)
{
    if (fill.alpha() > 0) {
        painter.save();
        painter.setPen(Qt::NoPen);
        painter.setBrush(fill);
        painter.drawRoundedRect(bounds, radius, radius);
        painter.restore();
    }
    strokeInsideBorder(painter, border, borderWidth, [&](qreal inset) {
        QPainterPath path;
        const qreal innerRadius = std::max<qreal>(radius - inset, 0);
        path.addRoundedRect(bounds.adjusted(inset, inset, -inset, -inset), innerRadius, innerRadius);
        return path;
    });
}

} // namespace QuillomareMac::IslandTheme
