#include "QRCode.h"

#include <QPainter>

#include <qrencode.h>

#include <algorithm>
#include <memory>

namespace Platform::QRCode {

namespace {

struct QRcodeDeleter
{
    void operator()(QRcode* code) const { QRcode_free(code); }
};

// One module of white on every side: enough for a reader to find the code's edge even where the
// surrounding widget has no margin of its own.
constexpr int quietZoneModules = 1;

} // namespace

QImage image(const QString& text, int pixelSize)
{
    const QByteArray bytes = text.toUtf8();
    if (bytes.isEmpty() || pixelSize <= 0)
        return {};
    // Byte mode for the whole text, as a scanner then hands back exactly these bytes; version 0
    // lets the library pick the smallest symbol that holds them.
    const std::unique_ptr<QRcode, QRcodeDeleter> code(QRcode_encodeData(
        int(bytes.size()), reinterpret_cast<const unsigned char*>(bytes.constData()), 0, QR_ECLEVEL_M));
    if (!code)
        return {};

    const int modules = code->width + 2 * quietZoneModules;
    // The exact quotient keeps the code filling the square; with fewer pixels than modules every
    // module still gets one pixel and the image grows instead.
    const qreal scale = std::max(1.0, qreal(pixelSize) / modules);
    const int side = std::max(pixelSize, modules);
    QImage result(side, side, QImage::Format_RGB32);
    result.fill(Qt::white);
    QPainter painter(&result);
    painter.setRenderHint(QPainter::Antialiasing, false);
    painter.setPen(Qt::NoPen);
    painter.setBrush(Qt::black);
    for (int y = 0; y < code->width; ++y) {
        const unsigned char* row = code->data + qsizetype(y) * code->width;
        for (int x = 0; x < code->width; ++x) {
            // Bit 0 of each byte is the module's colour; the others are the library's bookkeeping.
            if (row[x] & 1)
                painter.drawRect(QRectF((x + quietZoneModules) * scale, (y + quietZoneModules) * scale, scale, scale));
        }
    }
    return result;
}

} // namespace Platform::QRCode
