#pragma once

#include <QImage>
#include <QString>

#include <array>
#include <optional>
#include <vector>

namespace Platform::HanGlyphs {

// Whether the text is one CJK ideograph (a Han character, the unit Chinese text recognition
// can confuse between its simplified and traditional forms).
bool isHanCharacter(const QString& text);

// A style of Chinese type as the fonts of a Linux desktop draw it (sans, serif, Ming, Kai), by
// the family that draws each script's forms (one family can draw both).
struct Style
{
    QString simplified;
    QString traditional;
};

// The common styles whose fonts are installed; the first is the desktop's usual one.
const std::vector<Style>& installedStyles();

// The dark shape in a picture of one character (grey, black on white), ready to be compared
// with characters drawn in a font.
class Shape
{
public:
    explicit Shape(const QImage& picture);

    // How much the shape looks like `character` drawn in `family`, from -1 to 1. Shapes are
    // compared at a coarse grid after both are fitted to their ink, so the size of the picture
    // matters little; what decides is where the strokes lie, which is what tells 贴 from 貼.
    //
    // Draws text: needs a QGuiApplication (any thread); without one every likeness is 0.
    double likeness(const QString& character, const QString& family) const;

    // The ink at a coarse grid, of zero mean and unit length.
    using Signature = std::array<float, 16 * 16>;

private:
    std::optional<Signature> m_signature;
    int m_pixelSize = 0;
};

// How much ink `character` takes drawn in `family`: the darkness summed over its em square, as a
// share of the square. The two forms of a character differ in it by their strokes (體 takes
// about twice the ink of 体) in every family alike, while a family's weight changes all of its
// characters together: the ratio of two characters' ink says which forms a picture shows
// whichever font drew it. 0 without a QGuiApplication.
double inkOf(const QString& character, const QString& family);

// The strokes of the character in a picture (grey, black on white, cut to about one character),
// thinned to lines one pixel wide in a box of one size, ready to be compared with characters drawn
// in a font whatever the two faces' stroke widths and brush: where a Kai face's strokes lie within
// its box is much where a sans face's lie, and the two forms of a character differ in it (帮 and 幫).
class Strokes
{
public:
    explicit Strokes(const QImage& picture);

    // How much the lines, blurred, lie where those of `character` drawn in `family` do, from -1 to
    // 1. 0 without a QGuiApplication or ink.
    double likeness(const QString& character, const QString& family) const;

    static constexpr int kGrid = 24;
    using Signature = std::array<float, kGrid * kGrid>;

private:
    std::optional<Signature> m_signature;
};

// How many pixels high the picture's detail is: its height where its edges are sharp, less where
// they spread over several pixels (a small character scaled up, a blurred photograph), since an
// edge antialiased as drawn spans about a pixel. Measured as the pixels of middle grey per pixel of
// the ink's edge, the width of an edge. 0 without ink.
double sharpHeight(const QImage& picture);

// Shape(picture).likeness(character, family).
double likeness(const QImage& picture, const QString& character, const QString& family);

} // namespace Platform::HanGlyphs
