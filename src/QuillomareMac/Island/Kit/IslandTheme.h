#pragma once

// The island's shared colours, the fonts its controls draw with and the one way its capsules,
// tiles and bubbles are painted. Every colour that more than one island view uses lives here, so
// the frame, the lists, the inspector and the shelf agree on the same greys and the same blue.

#include <QColor>
#include <QFont>
#include <QPainterPath>
#include <QRectF>
#include <QStringList>

#include <functional>

class QPainter;

namespace QuillomareMac::IslandTheme {

// Each constant is made on first read and shared for the life of the process.
const QColor& collapsedBackground();
const QColor& expandedBackground();
const QColor& collapsedBorder();
const QColor& expandedBorder();
const QColor& searchBackground();
const QColor& searchBorder();
const QColor& panelStroke();
const QColor& panelFill();
const QColor& selectionBlue();
const QColor& segmentBlueText();
const QColor& segmentBlueFill();
const QColor& pinYellow();
const QColor& onlineGreen();
const QColor& shelfSurfaceFill();
const QColor& shelfSurfaceStroke();
const QColor& shelfGalleryWrapFill();
const QColor& shelfGalleryWrapStroke();
const QColor& shelfCardFill();
const QColor& shelfCardHoverFill();
const QColor& shelfDropStroke();

// The expanded surface's alpha: 0.86 where the desktop blurs what lies behind the island's window,
// so the backdrop shows through as a blur; 0.97 elsewhere, where a translucent surface would let
// the text under the island be read through it.
qreal surfaceAlpha(bool blurBehind);
// The expanded surface at that alpha, mixed so that over a dark backdrop it shows the same colour
// either way.
QColor expandedSurface(bool blurBehind);

// Pure white at an alpha in 0...1.
QColor white(qreal alpha);
// RGB components and alpha in 0...1.
QColor rgb(qreal red, qreal green, qreal blue, qreal alpha = 1.0);
// The same colour with another alpha in 0...1.
QColor withAlpha(const QColor& colour, qreal alpha);

// The faces the island draws its texts with, first choice first: Inter (its display cut where
// installed) and Noto Sans CJK for Chinese, those of them that are installed (empty: the
// desktop's UI font alone).
const QStringList& fontFamilies();
// The island's UI font at a size given in the island's points. The island's layout is measured
// in device-independent pixels, so one point here is one such pixel whatever the screen's DPI;
// text then keeps its proportion to the boxes it sits in.
QFont systemFont(qreal points, QFont::Weight weight = QFont::Normal);
// The same, for texts made of digits that should not jiggle when they change (counts).
QFont monospacedDigitFont(qreal points, QFont::Weight weight = QFont::Normal);

// Strokes a border `width` wide just inside an outline: `outline(inset)` gives the outline moved
// `inset` inwards, and the pen runs along it at half the width in, so the border never spills
// past the fill and none of its half-covered pixels fall outside the surface. A transparent
// colour or a width of 0 draws nothing; the painter's pen and brush are as they were afterwards.
void strokeInsideBorder(QPainter& painter, const QColor& border, qreal width,
                        const std::function<QPainterPath(qreal inset)>& outline);

// Fills a rounded rectangle and strokes its border `borderWidth` wide just inside the edge, so the
// border never spills past the fill. A transparent fill or border, or a width of 0, is left out;
// the painter's pen and brush are as they were afterwards.
void paintRoundedSurface(QPainter& painter, const QRectF& bounds, qreal radius, const QColor& fill,
                         const QColor& border, qreal borderWidth = 1);

} // namespace QuillomareMac::IslandTheme
