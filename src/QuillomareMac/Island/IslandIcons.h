#pragma once

// The island names its icons with symbol names ("doc.on.doc", "pin", "trash"…). This provider
// turns each name the island uses into a monochrome image: a freedesktop icon from the icon theme
// (breeze when the desktop names none) or, where no theme icon fits, a small glyph drawn here.
// Images are tinted to one colour, sized by a point size and drawn at a weight, like a symbol
// font. An unknown name gives a null image, so callers can show nothing rather than a wrong icon.

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
// The theme icon a symbol is drawn from, or an empty string for a symbol drawn as a glyph.
QString themeIconName(const QString& symbol);
// True when the symbol comes from the icon theme and the theme has that icon right now.
bool isFromTheme(const QString& symbol);

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

// Makes sure the icon theme can be found: names breeze when the desktop named no theme (or only
// the bare hicolor one), names it as the fallback otherwise, and adds the XDG icon folders to the
// search path (platforms without a desktop theme, like the offscreen one, search none).
void ensureIconTheme();

} // namespace IslandIcons

// The image of every island menu item: the symbol at 12 points, regular weight, as a template
// icon; a null icon when there is no such symbol.
QIcon islandMenuIcon(const QString& symbol);

} // namespace QuillomareMac
