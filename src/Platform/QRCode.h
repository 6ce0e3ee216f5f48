#pragma once

#include <QImage>
#include <QString>

namespace Platform::QRCode {

// The QR code of the text's UTF-8 bytes at error-correction level M, black on white with a quiet
// zone of one module, scaled to `pixelSize` square (never below one pixel per module). A null
// image when the text does not fit the largest symbol or encoding fails.
QImage image(const QString& text, int pixelSize);

} // namespace Platform::QRCode
