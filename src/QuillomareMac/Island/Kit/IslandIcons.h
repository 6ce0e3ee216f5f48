#pragma once

// The island names its icons with symbol names ("doc.on.doc", "pin", "trash"…). This provider
// turns each name the island uses into a monochrome image drawn from the island's own icon set:
// SVGs on a 24-unit grid with one stroke weight and round caps, bundled as resources, so the
// island looks the same whatever icon theme the desktop has. Images are tinted to one colour,
// sized by a point size and drawn at a weight, like a symbol font. An unknown name gives a null
// image, so callers can show nothing rather than a wrong icon.

#include <QColor>
#include <QIcon>
#include <QImage>
#include <QPixmap>
#include <QString>
#include <QStringList>

class QPainter;

namespace QuillomareMac {

enum class SymbolWeight
{
    ultraLight,
    thin,
    light,
    regular,
    medium,
    semibold,
    bold,
    heavy,
    black
};

namespace IslandIcons {

// Every symbol name the provider knows, in table order.
QStringList symbolNames();
bool contains(const QString& symbol);
// The side of the square image of a symbol at a point size, in device-independent pixels.
int imageSide(qreal pointSize);

// The symbol tinted `colour` (its alpha included), square, `imageSide(pointSize)` wide, at the
// given device pixel ratio. Null for an unknown symbol or a size that is not positive.
QImage image(const QString& symbol, qreal pointSize, SymbolWeight weight, const QColor& colour,
             qreal devicePixelRatio = 1.0);
QPixmap pixmap(const QString& symbol, qreal pointSize, SymbolWeight weight, const QColor& colour,
               qreal devicePixelRatio = 1.0);

// One colour for every state.
QIcon icon(const QString& symbol, qreal pointSize, SymbolWeight weight, const QColor& colour);
// A template icon for the island's dark surfaces: light at rest, dim when disabled, full white
// when active or selected. Null for an unknown symbol.
QIcon templateIcon(const QString& symbol, qreal pointSize, SymbolWeight weight);

// Draws the symbol tinted `colour` scaled proportionally down (never up) into `target`, centred.
void paint(QPainter& painter, const QRectF& target, const QString& symbol, qreal pointSize, SymbolWeight weight,
           const QColor& colour);

} // namespace IslandIcons

// The image of every island menu item: the symbol at 12 points, regular weight, as a template
// icon; a null icon when there is no such symbol.
QIcon islandMenuIcon(const QString& symbol);

} // namespace QuillomareMac
