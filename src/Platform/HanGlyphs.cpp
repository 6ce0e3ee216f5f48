#include "HanGlyphs.h"

#include <QFont>
#include <QFontDatabase>
#include <QGuiApplication>
#include <QPainter>

#include <array>
#include <cmath>
#include <map>
#include <mutex>
#include <tuple>

namespace Platform::HanGlyphs {

namespace {

constexpr int kGrid = 16;
using Signature = Shape::Signature;
static_assert(std::tuple_size_v<Signature> == kGrid * kGrid);

// Antialiased edges count from about the middle grey on.
constexpr int kInk = 160;

// One character drawn black on white, centred in a square twice its size.
QImage drawnCharacter(const QString& character, const QString& family, int size)
{
    QImage image(size * 2, size * 2, QImage::Format_Grayscale8);
    image.fill(255);
    {
        QPainter painter(&image);
        QFont font(family);
        font.setPixelSize(size);
        painter.setFont(font);
        painter.setPen(Qt::black);
        painter.drawText(image.rect(), Qt::AlignCenter, character);
    }
    return image;
}

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

const std::vector<Style>& installedStyles()
{
    static const std::vector<Style> styles = [] {
        const std::vector<Style> common{
            {QStringLiteral("Noto Sans CJK SC"), QStringLiteral("Noto Sans CJK TC")},
            {QStringLiteral("Noto Serif CJK SC"), QStringLiteral("Noto Serif CJK TC")},
            {QStringLiteral("AR PL UMing CN"), QStringLiteral("AR PL UMing TW")},
            {QStringLiteral("AR PL UKai CN"), QStringLiteral("AR PL UKai TW")},
            {QStringLiteral("WenQuanYi Zen Hei"), QStringLiteral("WenQuanYi Zen Hei")},
        };
        std::vector<Style> installed;
        for (const Style& style : common)
            if (QFontDatabase::hasFamily(style.simplified) && QFontDatabase::hasFamily(style.traditional))
                installed.push_back(style);
        // Without any of them the character is still drawn, in whatever font stands in.
        if (installed.empty())
            installed.push_back(common.front());
        return installed;
    }();
    return styles;
}

namespace {

// Characters drawn at sizes a little apart look alike at the grid: drawn once per step.
int drawingSize(int pixelSize)
{
    const int size = std::clamp(pixelSize, 8, 256);
    return size <= 64 ? (size + 3) / 8 * 8 : (size + 15) / 32 * 32;
}

// The recognitions of a session compare the same few hundred characters in a few fonts again
// and again: each is drawn once. Bounded, since a session can meet many characters.
std::optional<Signature> drawnSignature(const QString& character, const QString& family, int pixelSize)
{
    using Key = std::tuple<QString, QString, int>;
    static std::mutex mutex;
    static std::map<Key, std::optional<Signature>> drawn;
    constexpr size_t kMostKept = 4096;
    Key key{character, family, drawingSize(pixelSize)};
    {
        const std::lock_guard lock(mutex);
        if (const auto found = drawn.find(key); found != drawn.end())
            return found->second;
    }
    const QImage image = drawnCharacter(character, family, std::get<2>(key));
    std::optional<Signature> signature = signatureOf(image);
    const std::lock_guard lock(mutex);
    if (drawn.size() >= kMostKept)
        drawn.clear();
    drawn.emplace(std::move(key), signature);
    return signature;
}

} // namespace

Shape::Shape(const QImage& picture)
{
    if (!qobject_cast<QGuiApplication*>(QCoreApplication::instance()) || picture.isNull())
        return;
    const QImage grey = picture.convertToFormat(QImage::Format_Grayscale8);
    m_signature = signatureOf(grey);
    // Drawn about as large as the picture's character, so that both lose the same details.
    m_pixelSize = std::max(grey.width(), grey.height());
}

double Shape::likeness(const QString& character, const QString& family) const
{
    if (!m_signature)
        return 0;
    const std::optional<Signature> expected = drawnSignature(character, family, m_pixelSize);
    if (!expected)
        return 0;
    double correlation = 0;
    for (size_t i = 0; i < m_signature->size(); ++i)
        correlation += double((*m_signature)[i]) * (*expected)[i];
    return correlation;
}

double inkOf(const QString& character, const QString& family)
{
    if (!qobject_cast<QGuiApplication*>(QCoreApplication::instance()))
        return 0;
    using Key = std::pair<QString, QString>;
    static std::mutex mutex;
    static std::map<Key, double> drawn;
    constexpr size_t kMostKept = 4096;
    Key key{character, family};
    {
        const std::lock_guard lock(mutex);
        if (const auto found = drawn.find(key); found != drawn.end())
            return found->second;
    }
    // Large enough that the strokes' antialiased edges weigh little.
    constexpr int kSize = 48;
    const QImage image = drawnCharacter(character, family, kSize);
    double ink = 0;
    for (int y = 0; y < image.height(); ++y) {
        const uchar* row = image.constScanLine(y);
        for (int x = 0; x < image.width(); ++x)
            ink += 255 - row[x];
    }
    ink /= 255.0 * kSize * kSize;
    const std::lock_guard lock(mutex);
    if (drawn.size() >= kMostKept)
        drawn.clear();
    drawn.emplace(std::move(key), ink);
    return ink;
}

double likeness(const QImage& picture, const QString& character, const QString& family)
{
    return Shape(picture).likeness(character, family);
}

} // namespace Platform::HanGlyphs
