#include "HanGlyphs.h"

#include <QFont>
#include <QFontDatabase>
#include <QGuiApplication>
#include <QPainter>

#include <array>
#include <cmath>
#include <cstdint>
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

namespace {

// The box both characters are fitted into before thinning, and the grid their blurred lines are
// compared at.
constexpr int kSkeletonSide = 48;
constexpr int kSkeletonGrid = Strokes::kGrid;
static_assert(kSkeletonSide % kSkeletonGrid == 0);
using SkeletonSignature = Strokes::Signature;

// Zhang and Suen's thinning: strokes peeled from both sides in turn until one pixel wide.
void thin(std::vector<uint8_t>& ink, int side)
{
    const auto at = [&](int x, int y) { return x >= 0 && y >= 0 && x < side && y < side && ink[size_t(y * side + x)]; };
    std::vector<size_t> peeled;
    for (bool changed = true; changed;) {
        changed = false;
        for (int step = 0; step < 2; ++step) {
            peeled.clear();
            for (int y = 0; y < side; ++y) {
                for (int x = 0; x < side; ++x) {
                    if (!at(x, y))
                        continue;
                    const bool p[8] = {at(x, y - 1), at(x + 1, y - 1), at(x + 1, y), at(x + 1, y + 1),
                                       at(x, y + 1), at(x - 1, y + 1), at(x - 1, y), at(x - 1, y - 1)};
                    int neighbours = 0, transitions = 0;
                    for (int k = 0; k < 8; ++k) {
                        neighbours += p[k];
                        transitions += !p[k] && p[(k + 1) % 8];
                    }
                    if (neighbours < 2 || neighbours > 6 || transitions != 1)
                        continue;
                    if (step == 0 ? (p[0] && p[2] && p[4]) || (p[2] && p[4] && p[6])
                                  : (p[0] && p[2] && p[6]) || (p[0] && p[4] && p[6]))
                        continue;
                    peeled.push_back(size_t(y * side + x));
                }
            }
            for (const size_t k : peeled)
                ink[k] = 0;
            changed = changed || !peeled.empty();
        }
    }
}

std::optional<SkeletonSignature> skeletonOf(const QImage& grey)
{
    if (grey.isNull())
        return std::nullopt;
    int darkest = 255;
    for (int y = 0; y < grey.height(); ++y) {
        const uchar* row = grey.constScanLine(y);
        for (int x = 0; x < grey.width(); ++x)
            darkest = std::min(darkest, int(row[x]));
    }
    if (darkest > 200)
        return std::nullopt;
    // Halfway between the darkest ink and white: a small face's thin strokes are lighter than
    // its thick ones, and still strokes.
    const int threshold = (darkest + 255) / 2;
    int left = grey.width(), right = -1, top = grey.height(), bottom = -1;
    for (int y = 0; y < grey.height(); ++y) {
        const uchar* row = grey.constScanLine(y);
        for (int x = 0; x < grey.width(); ++x) {
            if (row[x] < threshold) {
                left = std::min(left, x);
                right = std::max(right, x);
                top = std::min(top, y);
                bottom = std::max(bottom, y);
            }
        }
    }
    if (right < 0)
        return std::nullopt;
    // Fitted to the box both ways: faces draw one character narrower or wider (a Kai face's are
    // tall), while where its strokes lie within its box is the character's own.
    const QRect box(QPoint(left, top), QPoint(right, bottom));
    const QSize fitted(kSkeletonSide - 4, kSkeletonSide - 4);
    const QImage scaled = grey.copy(box).scaled(fitted, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
    std::vector<uint8_t> ink(size_t(kSkeletonSide * kSkeletonSide), 0);
    const int offsetX = (kSkeletonSide - fitted.width()) / 2, offsetY = (kSkeletonSide - fitted.height()) / 2;
    for (int y = 0; y < scaled.height(); ++y) {
        const uchar* row = scaled.constScanLine(y);
        for (int x = 0; x < scaled.width(); ++x)
            ink[size_t((y + offsetY) * kSkeletonSide + x + offsetX)] = row[x] < threshold;
    }
    thin(ink, kSkeletonSide);
    // The lines blurred wide, so that strokes a little apart in two faces still meet.
    constexpr double kSpread = 2;
    constexpr int kRadius = 4;
    std::array<float, 2 * kRadius + 1> kernel{};
    for (int k = -kRadius; k <= kRadius; ++k)
        kernel[size_t(k + kRadius)] = float(std::exp(-k * k / (2 * kSpread * kSpread)));
    std::vector<float> across(ink.size(), 0), blurred(ink.size(), 0);
    for (int y = 0; y < kSkeletonSide; ++y)
        for (int x = 0; x < kSkeletonSide; ++x)
            for (int k = -kRadius; k <= kRadius; ++k)
                if (x + k >= 0 && x + k < kSkeletonSide)
                    across[size_t(y * kSkeletonSide + x)] +=
                        kernel[size_t(k + kRadius)] * ink[size_t(y * kSkeletonSide + x + k)];
    for (int y = 0; y < kSkeletonSide; ++y)
        for (int x = 0; x < kSkeletonSide; ++x)
            for (int k = -kRadius; k <= kRadius; ++k)
                if (y + k >= 0 && y + k < kSkeletonSide)
                    blurred[size_t(y * kSkeletonSide + x)] +=
                        kernel[size_t(k + kRadius)] * across[size_t((y + k) * kSkeletonSide + x)];
    SkeletonSignature signature{};
    constexpr int kCell = kSkeletonSide / kSkeletonGrid;
    for (int y = 0; y < kSkeletonSide; ++y)
        for (int x = 0; x < kSkeletonSide; ++x)
            signature[size_t(y / kCell * kSkeletonGrid + x / kCell)] += blurred[size_t(y * kSkeletonSide + x)];
    double mean = 0;
    for (const float value : signature)
        mean += value;
    mean /= double(signature.size());
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

std::optional<SkeletonSignature> drawnSkeleton(const QString& character, const QString& family)
{
    using Key = std::pair<QString, QString>;
    static std::mutex mutex;
    static std::map<Key, std::optional<SkeletonSignature>> drawn;
    constexpr size_t kMostKept = 4096;
    Key key{character, family};
    {
        const std::lock_guard lock(mutex);
        if (const auto found = drawn.find(key); found != drawn.end())
            return found->second;
    }
    std::optional<SkeletonSignature> signature = skeletonOf(drawnCharacter(character, family, 64));
    const std::lock_guard lock(mutex);
    if (drawn.size() >= kMostKept)
        drawn.clear();
    drawn.emplace(std::move(key), signature);
    return signature;
}

} // namespace

Strokes::Strokes(const QImage& picture)
{
    if (!qobject_cast<QGuiApplication*>(QCoreApplication::instance()) || picture.isNull())
        return;
    m_signature = skeletonOf(picture.convertToFormat(QImage::Format_Grayscale8));
}

double Strokes::likeness(const QString& character, const QString& family) const
{
    if (!m_signature)
        return 0;
    const std::optional<SkeletonSignature> expected = drawnSkeleton(character, family);
    if (!expected)
        return 0;
    double correlation = 0;
    for (size_t i = 0; i < m_signature->size(); ++i)
        correlation += double((*m_signature)[i]) * (*expected)[i];
    return correlation;
}

double sharpHeight(const QImage& picture)
{
    if (picture.isNull())
        return 0;
    const QImage grey = picture.convertToFormat(QImage::Format_Grayscale8);
    int darkest = 255;
    for (int y = 0; y < grey.height(); ++y) {
        const uchar* row = grey.constScanLine(y);
        for (int x = 0; x < grey.width(); ++x)
            darkest = std::min(darkest, int(row[x]));
    }
    if (darkest > 200)
        return 0;
    const int threshold = (darkest + 255) / 2;
    const int light = darkest + 3 * (255 - darkest) / 4, dark = darkest + (255 - darkest) / 4;
    const auto ink = [&](int x, int y) {
        return x >= 0 && y >= 0 && x < grey.width() && y < grey.height() && grey.constScanLine(y)[x] < threshold;
    };
    int middle = 0, edge = 0;
    for (int y = 0; y < grey.height(); ++y) {
        const uchar* row = grey.constScanLine(y);
        for (int x = 0; x < grey.width(); ++x) {
            middle += row[x] > dark && row[x] < light;
            edge += ink(x, y) && (!ink(x - 1, y) || !ink(x + 1, y) || !ink(x, y - 1) || !ink(x, y + 1));
        }
    }
    return edge > 0 && middle > 0 ? grey.height() * double(edge) / middle : double(grey.height());
}

double likeness(const QImage& picture, const QString& character, const QString& family)
{
    return Shape(picture).likeness(character, family);
}

} // namespace Platform::HanGlyphs
