#include "HanGlyphs.h"

#include <QFont>
#include <QGuiApplication>
#include <QPainter>

#include <array>
#include <cmath>

namespace Platform::HanGlyphs {

namespace {

constexpr int kGrid = 16;
using Signature = std::array<float, kGrid * kGrid>;

// Antialiased edges count from about the middle grey on.
constexpr int kInk = 160;

QRect inkBox(const QImage& grey)
{
    int left = grey.width(), right = -1, top = grey.height(), bottom = -1;
    for (int y = 0; y < grey.height(); ++y) {
        const uchar* row = grey.constScanLine(y);
        for (int x = 0; x < grey.width(); ++x) {
            if (row[x] < kInk) {
                left = std::min(left, x);
                right = std::max(right, x);
                top = std::min(top, y);
                bottom = std::max(bottom, y);
            }
        }
    }
    return right < 0 ? QRect() : QRect(QPoint(left, top), QPoint(right, bottom));
}

// The ink, centred in a square that keeps its proportions, reduced to the grid; zero mean and
// unit length, so that the dot product of two signatures is their correlation.
std::optional<Signature> signatureOf(const QImage& grey)
{
    const QRect box = inkBox(grey);
    if (box.isEmpty())
        return std::nullopt;
    const int side = std::max(box.width(), box.height());
    QImage square(side, side, QImage::Format_Grayscale8);
    square.fill(255);
    {
        QPainter painter(&square);
        painter.drawImage(QPoint((side - box.width()) / 2, (side - box.height()) / 2), grey, box);
    }
    const QImage small = square.scaled(kGrid, kGrid, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
    Signature signature{};
    double mean = 0;
    for (int y = 0; y < kGrid; ++y) {
        for (int x = 0; x < kGrid; ++x) {
            signature[size_t(y * kGrid + x)] = float(255 - small.constScanLine(y)[x]);
            mean += signature[size_t(y * kGrid + x)];
        }
    }
    mean /= kGrid * kGrid;
    double length = 0;
    for (float& value : signature) {
        value = float(value - mean);
        length += double(value) * value;
    }
    length = std::sqrt(length);
    if (length <= 0)
        return std::nullopt;
    for (float& value : signature)
        value = float(value / length);
    return signature;
}

} // namespace

bool isHanCharacter(const QString& text)
{
    const QList<uint> codePoints = text.toUcs4();
    if (codePoints.size() != 1)
        return false;
    const uint c = codePoints.front();
    return (c >= 0x3400 && c <= 0x4DBF) || (c >= 0x4E00 && c <= 0x9FFF) || (c >= 0xF900 && c <= 0xFAFF)
           || (c >= 0x20000 && c <= 0x3134F);
}

double likeness(const QImage& picture, const QString& character, const QString& family)
{
    if (!qobject_cast<QGuiApplication*>(QCoreApplication::instance()) || picture.isNull())
        return 0;
    const QImage grey = picture.convertToFormat(QImage::Format_Grayscale8);
    const std::optional<Signature> seen = signatureOf(grey);
    if (!seen)
        return 0;

    // Drawn about as large as the picture's character, so that both lose the same details.
    const int pixelSize = std::clamp(std::max(grey.width(), grey.height()), 8, 256);
    QImage drawn(pixelSize * 2, pixelSize * 2, QImage::Format_Grayscale8);
    drawn.fill(255);
    {
        QPainter painter(&drawn);
        QFont font(family);
        font.setPixelSize(pixelSize);
        painter.setFont(font);
        painter.setPen(Qt::black);
        painter.drawText(drawn.rect(), Qt::AlignCenter, character);
    }
    const std::optional<Signature> expected = signatureOf(drawn);
    if (!expected)
        return 0;
    double correlation = 0;
    for (size_t i = 0; i < seen->size(); ++i)
        correlation += double((*seen)[i]) * (*expected)[i];
    return correlation;
}

} // namespace Platform::HanGlyphs
