#include "IslandIcons.h"

#include <QFile>
#include <QHash>
#include <QPainter>
#include <QSvgRenderer>

#include <algorithm>
#include <cmath>

namespace QuillomareMac {

namespace {

// The symbols the island draws; each has ":/island-icons/<symbol>.svg".
constexpr const char* symbolTable[] = {
    "antenna.radiowaves.left.and.right",
    "archivebox",
    "arrow.down.icloud",
    "arrow.triangle.2.circlepath",
    "checkmark.circle.fill",
    "chevron.down",
    "circle",
    "clock",
    "display",
    "doc",
    "doc.fill",
    "doc.on.clipboard",
    "doc.on.clipboard.fill",
    "doc.on.doc",
    "doc.plaintext",
    "doc.richtext",
    "doc.text",
    "doc.text.fill",
    "ellipsis",
    "ellipsis.circle",
    "eye",
    "film",
    "folder",
    "gearshape",
    "globe",
    "info.circle",
    "iphone",
    "link",
    "link.badge.plus",
    "list.bullet",
    "lock.fill",
    "magnifyingglass",
    "minus.circle",
    "minus.circle.fill",
    "pencil",
    "photo",
    "photo.fill",
    "pin",
    "pin.fill",
    "pin.slash",
    "plus",
    "power",
    "qrcode",
    "rectangle.dashed",
    "square.and.arrow.down",
    "square.and.arrow.up",
    "square.stack.3d.up",
    "text.alignleft",
    "text.append",
    "text.badge.plus",
    "text.justify.left",
    "text.viewfinder",
    "trash",
    "tray.and.arrow.down",
    "tray.full",
    "waveform",
    "xmark",
    "xmark.circle",
    "xmark.circle.fill",
};

bool knownSymbol(const QString& symbol)
{
    for (const char* name : symbolTable) {
        if (symbol == QLatin1String(name))
            return true;
    }
    return false;
}

// The icons are drawn with this stroke width; the weight and the pixel size asked for swap it.
constexpr QLatin1String designStroke("stroke-width=\"1.75\"");

// Stroke width of the icons per weight, in units of their 24-unit grid.
qreal strokeWidth(SymbolWeight weight)
{
    switch (weight) {
    case SymbolWeight::ultraLight:
        return 0.9;
    case SymbolWeight::thin:
        return 1.15;
    case SymbolWeight::light:
        return 1.45;
    case SymbolWeight::regular:
        return 1.75;
    case SymbolWeight::medium:
        return 2.0;
    case SymbolWeight::semibold:
        return 2.25;
    case SymbolWeight::bold:
        return 2.6;
    case SymbolWeight::heavy:
        return 2.9;
    case SymbolWeight::black:
        return 3.2;
    }
    return 1.75;
}

// The icon's SVG in black ink, cut-outs in white, its strokes `stroke` units wide.
QByteArray svgSource(const QString& symbol, qreal stroke)
{
    QFile file(QStringLiteral(":/island-icons/") + symbol + QStringLiteral(".svg"));
    if (!file.open(QIODevice::ReadOnly))
        return {};
    QString source = QString::fromUtf8(file.readAll());
    source.replace(QLatin1String("currentColor"), QLatin1String("#000"));
    source.replace(designStroke, QStringLiteral("stroke-width=\"%1\"").arg(stroke, 0, 'f', 2));
    return source.toUtf8();
}

// A coverage mask of the icon: black ink is the shape and white ink erases it, which lets filled
// icons carry strokes cut out of them (the tick in a filled circle) without SVG masks.
QImage renderShape(const QString& symbol, int pixelSide, SymbolWeight weight)
{
    // Below a device pixel, antialiased lines fade to grey smudges in small icons.
    const qreal stroke = std::max(strokeWidth(weight), 24.0 / pixelSide);
    QSvgRenderer renderer(svgSource(symbol, stroke));
    if (!renderer.isValid())
        return {};
    QImage canvas(pixelSide, pixelSide, QImage::Format_ARGB32_Premultiplied);
    canvas.fill(Qt::transparent);
    QPainter p(&canvas);
    p.setRenderHint(QPainter::Antialiasing);
    renderer.render(&p, QRectF(0, 0, pixelSide, pixelSide));
    p.end();
    // Premultiplied, a pixel's red is how much white covers it: what is left of its alpha is ink.
    for (int y = 0; y < pixelSide; ++y) {
        auto* line = reinterpret_cast<QRgb*>(canvas.scanLine(y));
        for (int x = 0; x < pixelSide; ++x)
            line[x] = qRgba(0, 0, 0, std::max(0, qAlpha(line[x]) - qRed(line[x])));
    }
    return canvas;
}

QString cacheKey(const QString& symbol, int pixelSide, SymbolWeight weight, const QColor& colour)
{
    return symbol + QLatin1Char('|') + QString::number(pixelSide) + QLatin1Char('|') + QString::number(int(weight)) +
           QLatin1Char('|') + QString::number(colour.rgba(), 16);
}

QHash<QString, QImage>& imageCache()
{
    static QHash<QString, QImage> cache;
    return cache;
}

} // namespace

namespace IslandIcons {

QStringList symbolNames()
{
    QStringList names;
    for (const char* name : symbolTable)
        names.append(QLatin1String(name));
    return names;
}

bool contains(const QString& symbol)
{
    return knownSymbol(symbol);
}

int imageSide(qreal pointSize)
{
    return pointSize > 0 ? int(std::ceil(pointSize * 1.15)) : 0;
}

QImage image(const QString& symbol, qreal pointSize, SymbolWeight weight, const QColor& colour, qreal devicePixelRatio)
{
    if (pointSize <= 0 || !knownSymbol(symbol))
        return {};
    const qreal ratio = devicePixelRatio > 0 ? devicePixelRatio : 1.0;
    const int pixelSide = std::max(1, int(std::ceil(imageSide(pointSize) * ratio)));

    auto& cache = imageCache();
    const QString key = cacheKey(symbol, pixelSide, weight, colour);
    if (auto found = cache.constFind(key); found != cache.constEnd()) {
        QImage cached = *found;
        cached.setDevicePixelRatio(ratio);
        return cached;
    }

    QImage shape = renderShape(symbol, pixelSide, weight);
    if (shape.isNull())
        return {};

    QPainter tint(&shape);
    tint.setCompositionMode(QPainter::CompositionMode_SourceIn);
    tint.fillRect(shape.rect(), colour);
    tint.end();

    // Paint events of a few dozen controls ask for the same handful of images again and again.
    if (cache.size() > 1024)
        cache.clear();
    cache.insert(key, shape);
    shape.setDevicePixelRatio(ratio);
    return shape;
}

QPixmap pixmap(const QString& symbol, qreal pointSize, SymbolWeight weight, const QColor& colour,
               qreal devicePixelRatio)
{
    const QImage rendered = image(symbol, pointSize, weight, colour, devicePixelRatio);
    return rendered.isNull() ? QPixmap() : QPixmap::fromImage(rendered);
}

QIcon icon(const QString& symbol, qreal pointSize, SymbolWeight weight, const QColor& colour)
{
    if (!contains(symbol))
        return {};
    QIcon result;
    for (qreal ratio : {1.0, 2.0})
        result.addPixmap(pixmap(symbol, pointSize, weight, colour, ratio));
    return result;
}

QIcon templateIcon(const QString& symbol, qreal pointSize, SymbolWeight weight)
{
    if (!contains(symbol))
        return {};
    QIcon result;
    const QColor rest = QColor::fromRgbF(1, 1, 1, 0.86f);
    const QColor disabled = QColor::fromRgbF(1, 1, 1, 0.3f);
    const QColor lit = QColor::fromRgbF(1, 1, 1, 1);
    for (qreal ratio : {1.0, 2.0}) {
        result.addPixmap(pixmap(symbol, pointSize, weight, rest, ratio), QIcon::Normal);
        result.addPixmap(pixmap(symbol, pointSize, weight, disabled, ratio), QIcon::Disabled);
        result.addPixmap(pixmap(symbol, pointSize, weight, lit, ratio), QIcon::Active);
        result.addPixmap(pixmap(symbol, pointSize, weight, lit, ratio), QIcon::Selected);
    }
    return result;
}

void paint(QPainter& painter, const QRectF& target, const QString& symbol, qreal pointSize, SymbolWeight weight,
           const QColor& colour)
{
    if (target.isEmpty())
        return;
    qreal ratio = painter.device() ? painter.device()->devicePixelRatioF() : 1.0;
    ratio *= std::max(std::abs(painter.worldTransform().m11()), std::abs(painter.worldTransform().m22()));
    const QImage rendered = image(symbol, pointSize, weight, colour, std::max<qreal>(ratio, 1.0));
    if (rendered.isNull())
        return;
    const qreal side = imageSide(pointSize);
    const qreal drawn = std::min({side, target.width(), target.height()});
    const QRectF rect(target.center().x() - drawn / 2.0, target.center().y() - drawn / 2.0, drawn, drawn);
    painter.save();
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    painter.drawImage(rect, rendered);
    painter.restore();
}

} // namespace IslandIcons

QIcon islandMenuIcon(const QString& symbol)
{
    return IslandIcons::templateIcon(symbol, 12, SymbolWeight::regular);
}

} // namespace QuillomareMac
