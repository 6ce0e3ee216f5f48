#pragma once

// Pictures of text for the text-recognition tests and benchmarks, and how far a reading is from
// what was drawn.

#include <QBuffer>
#include <QFont>
#include <QFontMetrics>
#include <QImage>
#include <QLinearGradient>
#include <QList>
#include <QPainter>
#include <QRadialGradient>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QString>
#include <QTransform>

#include <algorithm>
#include <cmath>
#include <utility>
#include <vector>

namespace RecognitionPictures {

// How a picture of text is coloured and what became of it on its way to the clipboard.
enum class Look
{
    plain,       // black on white
    darkMode,    // #e6e6e6 on #1e1f22
    whiteOnBlue, // a coloured button or banner
    gradient,    // white on a gradient from blue to orange
    lowContrast, // mid grey on light grey
    jpeg,        // dark mode saved as a JPEG of quality 60
    tightCrop,   // black on white, cut two pixels around the ink
};

inline const QList<std::pair<Look, QString>>& looks()
{
    static const QList<std::pair<Look, QString>> all{
        {Look::plain, QStringLiteral("plain")},         {Look::darkMode, QStringLiteral("dark mode")},
        {Look::whiteOnBlue, QStringLiteral("white on blue")}, {Look::gradient, QStringLiteral("gradient")},
        {Look::lowContrast, QStringLiteral("low contrast")}, {Look::jpeg, QStringLiteral("JPEG 60")},
        {Look::tightCrop, QStringLiteral("tight crop")},
    };
    return all;
}

// The common CJK fonts of a Linux desktop: the family that draws each Chinese script's forms.
struct CjkFont
{
    QString name;
    QString simplified;
    QString traditional;
};

inline const QList<CjkFont>& cjkFonts()
{
    static const QList<CjkFont> all{
        {QStringLiteral("Noto Sans CJK"), QStringLiteral("Noto Sans CJK SC"), QStringLiteral("Noto Sans CJK TC")},
        {QStringLiteral("Noto Serif CJK"), QStringLiteral("Noto Serif CJK SC"), QStringLiteral("Noto Serif CJK TC")},
        {QStringLiteral("AR PL UMing"), QStringLiteral("AR PL UMing CN"), QStringLiteral("AR PL UMing TW")},
        {QStringLiteral("AR PL UKai"), QStringLiteral("AR PL UKai CN"), QStringLiteral("AR PL UKai TW")},
        {QStringLiteral("WenQuanYi Zen Hei"), QStringLiteral("WenQuanYi Zen Hei"), QStringLiteral("WenQuanYi Zen Hei")},
    };
    return all;
}

namespace Detail {

inline QImage throughJpeg(const QImage& image, int quality)
{
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "JPG", quality);
    return QImage::fromData(bytes, "JPG");
}

// The picture cut `margin` pixels around what differs from its top left pixel.
inline QImage croppedToInk(const QImage& image, int margin)
{
    const QRgb background = image.pixel(0, 0);
    int left = image.width(), right = -1, top = image.height(), bottom = -1;
    for (int y = 0; y < image.height(); ++y) {
        const auto* row = reinterpret_cast<const QRgb*>(image.constScanLine(y));
        for (int x = 0; x < image.width(); ++x) {
            if (row[x] != background) {
                left = std::min(left, x);
                right = std::max(right, x);
                top = std::min(top, y);
                bottom = std::max(bottom, y);
            }
        }
    }
    if (right < 0)
        return image;
    return image.copy(QRect(QPoint(left, top), QPoint(right, bottom)).adjusted(-margin, -margin, margin, margin));
}

} // namespace Detail

// Lines of (family, text) in one size, black on white with a margin of one line, or in another look.
inline QImage linesPicture(const QList<std::pair<QString, QString>>& lines, int pixelSize, Look look = Look::plain)
{
    int width = 0;
    for (const auto& [family, text] : lines) {
        QFont font(family);
        font.setPixelSize(pixelSize);
        width = std::max(width, QFontMetrics(font).horizontalAdvance(text));
    }
    const int step = pixelSize * 8 / 5;
    QImage image(width + 2 * pixelSize, int(lines.size()) * step + 2 * pixelSize, QImage::Format_RGB32);
    QColor ink(Qt::black);
    switch (look) {
    case Look::plain:
    case Look::tightCrop:
        image.fill(Qt::white);
        break;
    case Look::darkMode:
    case Look::jpeg:
        image.fill(QColor(0x1e, 0x1f, 0x22));
        ink = QColor(0xe6, 0xe6, 0xe6);
        break;
    case Look::whiteOnBlue:
        image.fill(QColor(0x25, 0x63, 0xeb));
        ink = Qt::white;
        break;
    case Look::gradient: {
        QPainter background(&image);
        QLinearGradient gradient(0, 0, image.width(), image.height());
        gradient.setColorAt(0, QColor(0x25, 0x63, 0xeb));
        gradient.setColorAt(1, QColor(0xf9, 0x73, 0x16));
        background.fillRect(image.rect(), gradient);
        ink = Qt::white;
        break;
    }
    case Look::lowContrast:
        image.fill(QColor(0xc0, 0xc0, 0xc0));
        ink = QColor(0x80, 0x80, 0x80);
        break;
    }
    {
        QPainter painter(&image);
        painter.setPen(ink);
        int top = pixelSize;
        for (const auto& [family, text] : lines) {
            QFont font(family);
            font.setPixelSize(pixelSize);
            painter.setFont(font);
            painter.drawText(pixelSize, top + QFontMetrics(font).ascent(), text);
            top += step;
        }
    }
    if (look == Look::jpeg)
        return Detail::throughJpeg(image, 60);
    if (look == Look::tightCrop)
        return Detail::croppedToInk(image, 2);
    return image;
}

// The picture turned by `degrees` (clockwise on the screen) about its centre, smoothly, onto a
// background of its top left pixel's colour large enough to hold it all: a screenshot of a
// window slightly askew, or a photograph of a screen.
inline QImage turnedPicture(const QImage& image, double degrees)
{
    QTransform turn;
    turn.rotate(degrees);
    const QRect bounds = turn.mapRect(QRectF(image.rect())).toAlignedRect();
    QImage turned(bounds.size(), QImage::Format_RGB32);
    turned.fill(image.pixel(0, 0));
    QPainter painter(&turned);
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.translate(bounds.width() / 2.0, bounds.height() / 2.0);
    painter.rotate(degrees);
    painter.translate(-image.width() / 2.0, -image.height() / 2.0);
    painter.drawImage(0, 0, image);
    return turned;
}

// Pictures without any text that a user copies all the same: patterns, noise, photographs'
// smooth shading, text drawn without fonts. Made from a fixed seed, so that every run sees the
// same ones.
inline QList<std::pair<QString, QImage>> textures()
{
    QList<std::pair<QString, QImage>> all;
    const QSize size(640, 400);
    const auto make = [&](const QString& name, auto value) {
        QImage image(size, QImage::Format_RGB32);
        for (int y = 0; y < size.height(); ++y) {
            auto* row = reinterpret_cast<QRgb*>(image.scanLine(y));
            for (int x = 0; x < size.width(); ++x)
                row[x] = value(x, y);
        }
        all.append({name, image});
    };
    const auto grey = [](double v) {
        const int g = std::clamp(int(std::lround(v)), 0, 255);
        return qRgb(g, g, g);
    };
    make(QStringLiteral("checkerboard 8 px"), [&](int x, int y) { return grey(((x / 8 + y / 8) % 2) * 255); });
    make(QStringLiteral("checkerboard 40 px"), [&](int x, int y) { return grey(((x / 40 + y / 40) % 2) * 255); });
    make(QStringLiteral("stripes"), [&](int x, int y) { return grey(((x + y) / 6 % 2) * 200 + 30); });
    // Plasma: a sum of waves of several directions and lengths, in colour.
    make(QStringLiteral("plasma"), [](int x, int y) {
        const double v = std::sin(x / 16.0) + std::sin(y / 9.0) + std::sin((x + y) / 23.0)
                         + std::sin(std::hypot(x - 320.0, y - 200.0) / 11.0);
        return qRgb(int(127.5 + 127.5 * std::sin(v * 3.14159)), int(127.5 + 127.5 * std::sin(v * 3.14159 + 2.1)),
                    int(127.5 + 127.5 * std::sin(v * 3.14159 + 4.2)));
    });
    QRandomGenerator random(43);
    std::vector<int> noise(size_t(size.width() * size.height()));
    for (int& value : noise)
        value = int(random.bounded(256));
    make(QStringLiteral("white noise"), [&](int x, int y) { return grey(noise[size_t(y * size.width() + x)]); });
    // Blotches: noise smoothed over a few pixels, thresholded, like a stone or a rough wall.
    make(QStringLiteral("blotches"), [&](int x, int y) {
        int sum = 0, count = 0;
        for (int dy = -3; dy <= 3; ++dy)
            for (int dx = -3; dx <= 3; ++dx)
                if (x + dx >= 0 && x + dx < size.width() && y + dy >= 0 && y + dy < size.height()) {
                    sum += noise[size_t((y + dy) * size.width() + x + dx)];
                    ++count;
                }
        return grey(sum / count < 124 ? 40 : 220);
    });
    make(QStringLiteral("dots"),
         [&](int x, int y) { return grey(std::hypot(x % 24 - 12, y % 24 - 12) < 6 ? 0 : 255); });
    make(QStringLiteral("shading"), [&](int x, int y) {
        return qRgb(x * 255 / size.width(), y * 255 / size.height(), 128);
    });
    // Two lines of the boxes a font-less system draws for characters it has no glyph for.
    QImage boxes(1000, 310, QImage::Format_RGB32);
    boxes.fill(Qt::white);
    {
        QPainter painter(&boxes);
        painter.setPen(Qt::black);
        for (int i = 0; i < 15; ++i)
            painter.drawRect(82 + i * 40, 62, 35, 35);
        for (int i = 0; i < 6; ++i)
            painter.drawRect(82 + i * 40, 152, 35, 35);
    }
    all.append({QStringLiteral("boxes for missing glyphs"), boxes});
    return all;
}

// The shading of a photograph-like picture, painted over all of `image`: a base shaded from one
// grey to another, then `blobs` soft round blobs of grey. Each grey is `low` plus up to `span`
// less one; a blob's radius is `reach` times `least` plus up to `spread` more, its centre's
// opacity `alpha`. The draws from `random` come in a fixed order, so that a seed makes one picture.
struct PhotoShading
{
    int low = 0;
    int span = 1;
    int blobs = 0;
    double reach = 0;
    double least = 0;
    double spread = 0;
    int alpha = 255;
};

// A soft round blob, `inner` at its centre fading to nothing at `radius`, as a photograph's
// out-of-focus light.
inline void paintSoftBlob(QPainter& painter, QPointF centre, double radius, const QColor& inner)
{
    QColor outer = inner;
    outer.setAlpha(0);
    QRadialGradient blob(centre, radius);
    blob.setColorAt(0, inner);
    blob.setColorAt(1, outer);
    painter.setBrush(blob);
    painter.drawEllipse(centre, radius, radius);
}

inline void paintPhotoShading(QImage& image, QRandomGenerator& random, const PhotoShading& shading)
{
    const auto colour = [&] {
        const auto channel = [&] { return shading.low + int(random.bounded(shading.span)); };
        return QColor(channel(), channel(), channel());
    };
    QPainter painter(&image);
    QLinearGradient base(0, 0, image.width(), image.height());
    base.setColorAt(0, colour());
    base.setColorAt(1, colour());
    painter.fillRect(image.rect(), base);
    painter.setPen(Qt::NoPen);
    for (int i = 0; i < shading.blobs; ++i) {
        const QPointF centre(random.bounded(image.width()), random.bounded(image.height()));
        const double radius = shading.reach * (shading.least + random.bounded(shading.spread));
        QColor inner = colour();
        inner.setAlpha(shading.alpha);
        paintSoftBlob(painter, centre, radius, inner);
    }
}

// Characters to add, drop or change to turn one text into the other, blanks ignored.
inline qsizetype editDistance(QString a, QString b)
{
    static const QRegularExpression blanks(QStringLiteral("\\s+"));
    a.remove(blanks);
    b.remove(blanks);
    std::vector<qsizetype> row(size_t(b.size()) + 1);
    for (qsizetype j = 0; j <= b.size(); ++j)
        row[size_t(j)] = j;
    for (qsizetype i = 1; i <= a.size(); ++i) {
        qsizetype diagonal = row[0];
        row[0] = i;
        for (qsizetype j = 1; j <= b.size(); ++j) {
            const qsizetype above = row[size_t(j)];
            row[size_t(j)] = std::min({above + 1, row[size_t(j - 1)] + 1, diagonal + (a[i - 1] == b[j - 1] ? 0 : 1)});
            diagonal = above;
        }
    }
    return row[size_t(b.size())];
}

} // namespace RecognitionPictures
