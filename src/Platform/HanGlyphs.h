#pragma once

#include <QImage>
#include <QString>

namespace Platform::HanGlyphs {

// Whether the text is one CJK ideograph (a Han character, the unit Chinese text recognition
// can confuse between its simplified and traditional forms).
bool isHanCharacter(const QString& text);

// How much the dark shape in `picture` (grey, black on white, the area of one character) looks
// like `character` drawn in `family`, from -1 to 1. Shapes are compared at a coarse grid after
// both are fitted to their ink, so the font and the size of the picture matter little; what
// decides is where the strokes lie, which is what tells 贴 from 貼.
//
// Draws text: needs a QGuiApplication (any thread); without one every likeness is 0.
double likeness(const QImage& picture, const QString& character, const QString& family);

} // namespace Platform::HanGlyphs
