#pragma once

#include <QImage>

namespace Platform::TextPicture {

// The picture as dark text on white, whatever its colours: light text on a dark background
// (dark mode), text on a coloured or shaded background, grey on grey. Each pixel becomes darker
// the more it differs from the background around it, and as dark as black where it differs as
// much as the most different pixels near it (the text's own contrast); the background, however
// it is shaded, becomes white, and so does the grain of a photograph behind a caption. Black text on white comes out as it was. A transparent pixel
// counts as white. Grey, one byte a pixel.
QImage darkTextOnWhite(const QImage& image);

// Whether the text of a picture made dark on white reached it blurred, scaled down after it was
// drawn: its strokes fade into the paper over ramps of greys, where text drawn at its size, with
// antialiasing or without, meets the paper within a pixel.
bool blurredByScaling(const QImage& grey);

} // namespace Platform::TextPicture
