#include "IslandIcons.h"

#include <QDir>
#include <QFileInfo>
#include <QHash>
#include <QPainter>

#include <cmath>
#include <numbers>

namespace QuillomareMac {

namespace {

// Shapes drawn here for symbols the theme has no fitting icon for (and as the stand-in when the
// theme icon of a symbol cannot be found).
enum class Glyph
{
    placeholder,
    antennaRadiowaves,
    archivebox,
    checkmarkCircleFill,
    chevronDown,
    circle,
    doc,
    docFill,
    docPlaintext,
    docRichtext,
    docText,
    docTextFill,
    ellipsis,
    ellipsisCircle,
    listBullet,
    minusCircle,
    minusCircleFill,
    plus,
    rectangleDashed,
    textViewfinder,
    trayFull,
    xmark,
    xmarkCircle,
    xmarkCircleFill,
};

struct SymbolEntry
{
    const char* symbol;
    // Breeze name; nullptr when the glyph is the icon.
    const char* themeIcon;
    Glyph glyph;
    // Drawn smaller with a plus in a cleared circle at its lower right.
    bool plusBadge = false;
};

// The one table of the island's symbols. Theme icons are chosen among breeze's monochrome
// action, place and symbolic icons: they tint cleanly, where the full-colour mime type and folder
// icons would turn into solid blobs.
constexpr SymbolEntry symbolTable[] = {
    {"antenna.radiowaves.left.and.right", nullptr, Glyph::antennaRadiowaves},
    {"archivebox", nullptr, Glyph::archivebox},
    {"arrow.down.icloud", "cloud-download", Glyph::placeholder},
    {"arrow.triangle.2.circlepath", "view-refresh-symbolic", Glyph::placeholder},
    {"checkmark.circle.fill", nullptr, Glyph::checkmarkCircleFill},
    {"chevron.down", "go-down-symbolic", Glyph::chevronDown},
    {"circle", nullptr, Glyph::circle},
    {"clock", "clock", Glyph::circle},
    {"display", "computer-symbolic", Glyph::placeholder},
    {"doc", nullptr, Glyph::doc},
    {"doc.fill", nullptr, Glyph::docFill},
    {"doc.on.clipboard", "edit-paste-symbolic", Glyph::doc},
    {"doc.on.clipboard.fill", "edit-paste-symbolic", Glyph::docFill},
    {"doc.on.doc", "edit-copy-symbolic", Glyph::doc},
    {"doc.plaintext", nullptr, Glyph::docPlaintext},
    {"doc.richtext", nullptr, Glyph::docRichtext},
    {"doc.text", nullptr, Glyph::docText},
    {"doc.text.fill", nullptr, Glyph::docTextFill},
    {"ellipsis", "view-more-horizontal-symbolic", Glyph::ellipsis},
    {"ellipsis.circle", nullptr, Glyph::ellipsisCircle},
    {"eye", "view-visible", Glyph::placeholder},
    {"film", "folder-videos-symbolic", Glyph::placeholder},
    {"folder", "folder-symbolic", Glyph::placeholder},
    {"gearshape", "emblem-system-symbolic", Glyph::circle},
    {"globe", "globe", Glyph::circle},
    {"info.circle", "help-about-symbolic", Glyph::circle},
    {"iphone", "phone-symbolic", Glyph::placeholder},
    {"link", "link", Glyph::placeholder},
    {"link.badge.plus", "link", Glyph::placeholder, true},
    {"list.bullet", nullptr, Glyph::listBullet},
    {"lock.fill", "object-locked", Glyph::placeholder},
    {"magnifyingglass", "edit-find-symbolic", Glyph::circle},
    {"minus.circle", nullptr, Glyph::minusCircle},
    {"minus.circle.fill", nullptr, Glyph::minusCircleFill},
    {"pencil", "document-edit-symbolic", Glyph::placeholder},
    {"photo", "viewimage", Glyph::placeholder},
    {"photo.fill", "viewimage", Glyph::placeholder},
    {"pin", "pin", Glyph::placeholder},
    {"pin.fill", "window-pin", Glyph::placeholder},
    {"pin.slash", "window-unpin", Glyph::placeholder},
    {"plus", "list-add-symbolic", Glyph::plus},
    {"power", "system-shutdown-symbolic", Glyph::circle},
    {"qrcode", "view-barcode-qr", Glyph::placeholder},
    {"rectangle.dashed", "select-rectangular", Glyph::rectangleDashed},
    {"square.and.arrow.down", "download", Glyph::placeholder},
    {"square.and.arrow.up", "cloud-upload", Glyph::placeholder},
    {"square.stack.3d.up", "layer-visible-on", Glyph::placeholder},
    {"text.alignleft", "format-justify-left-symbolic", Glyph::listBullet},
    {"text.append", "media-playlist-append", Glyph::listBullet},
    {"text.badge.plus", "insert-text-symbolic", Glyph::plus},
    {"text.justify.left", "format-justify-fill", Glyph::listBullet},
    {"text.viewfinder", nullptr, Glyph::textViewfinder},
    {"trash", "user-trash-symbolic", Glyph::placeholder},
    {"tray.and.arrow.down", "mail-inbox-symbolic", Glyph::trayFull},
    {"tray.full", nullptr, Glyph::trayFull},
    {"waveform", "view-media-visualization", Glyph::placeholder},
    {"xmark", nullptr, Glyph::xmark},
    {"xmark.circle", nullptr, Glyph::xmarkCircle},
    {"xmark.circle.fill", nullptr, Glyph::xmarkCircleFill},
};

const SymbolEntry* findEntry(const QString& symbol)
{
    for (const SymbolEntry& entry : symbolTable) {
        if (symbol == QLatin1String(entry.symbol))
            return &entry;
    }
    return nullptr;
}

// Stroke width of drawn glyphs, in units of their 24-unit design box.
qreal glyphStroke(SymbolWeight weight)
{
    switch (weight) {
    case SymbolWeight::ultraLight:
        return 0.8;
    case SymbolWeight::thin:
        return 1.0;
    case SymbolWeight::light:
        return 1.4;
    case SymbolWeight::regular:
        return 1.7;
    case SymbolWeight::medium:
        return 2.0;
    case SymbolWeight::semibold:
        return 2.3;
    case SymbolWeight::bold:
        return 2.7;
    case SymbolWeight::heavy:
        return 3.0;
    case SymbolWeight::black:
        return 3.3;
    }
    return 1.7;
}

// Theme icons are drawn with one-pixel lines at 16 px; heavier weights widen them by this many
// pixels (at 16 px, scaled with the image).
qreal themeEmbolden(SymbolWeight weight)
{
    switch (weight) {
    case SymbolWeight::ultraLight:
    case SymbolWeight::thin:
    case SymbolWeight::light:
    case SymbolWeight::regular:
        return 0.0;
    case SymbolWeight::medium:
        return 0.2;
    case SymbolWeight::semibold:
        return 0.35;
    case SymbolWeight::bold:
        return 0.55;
    case SymbolWeight::heavy:
        return 0.7;
    case SymbolWeight::black:
        return 0.85;
    }
    return 0.0;
}

void drawGlyph(QPainter& p, Glyph glyph, qreal stroke)
{
    // Everything is drawn opaque in one colour and tinted afterwards; holes are cut with Clear.
    const QColor ink(Qt::black);
    QPen pen(ink, stroke, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin);
    p.setPen(pen);
    p.setBrush(Qt::NoBrush);

    auto cut = [&](auto&& draw) {
        p.save();
        p.setCompositionMode(QPainter::CompositionMode_Clear);
        QPen clearPen(ink, stroke * 1.05, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin);
        p.setPen(clearPen);
        p.setBrush(ink);
        draw();
        p.restore();
    };
    auto dot = [&](QPointF centre, qreal radius) {
        p.save();
        p.setPen(Qt::NoPen);
        p.setBrush(ink);
        p.drawEllipse(centre, radius, radius);
        p.restore();
    };
    auto filledCircle = [&] {
        p.save();
        p.setPen(Qt::NoPen);
        p.setBrush(ink);
        p.drawEllipse(QPointF(12, 12), 10, 10);
        p.restore();
    };
    const QPolygonF page{{6, 3}, {14, 3}, {19, 8}, {19, 21}, {6, 21}};
    auto pageOutline = [&] {
        p.drawPolygon(page);
        p.drawPolyline(QPolygonF{{14, 3}, {14, 8}, {19, 8}});
    };
    auto pageFilled = [&] {
        p.save();
        QPen fillPen = pen;
        p.setPen(fillPen);
        p.setBrush(ink);
        p.drawPolygon(page);
        p.restore();
        cut([&] { p.drawPolyline(QPolygonF{{14, 3.6}, {14, 8}, {18.4, 8}}); });
    };
    auto textLines = [&](const QList<QLineF>& lines) {
        for (const QLineF& line : lines)
            p.drawLine(line);
    };

    switch (glyph) {
    case Glyph::placeholder:
        p.drawRoundedRect(QRectF(4, 4, 16, 16), 3.5, 3.5);
        break;
    case Glyph::antennaRadiowaves: {
        dot(QPointF(12, 12), stroke * 0.95 + 0.6);
        const QRectF inner(12 - 4.8, 12 - 4.8, 9.6, 9.6);
        const QRectF outer(12 - 9, 12 - 9, 18, 18);
        p.drawArc(inner, 140 * 16, 80 * 16);
        p.drawArc(inner, -40 * 16, 80 * 16);
        p.drawArc(outer, 135 * 16, 90 * 16);
        p.drawArc(outer, -45 * 16, 90 * 16);
        break;
    }
    case Glyph::archivebox:
        p.drawRoundedRect(QRectF(3, 4, 18, 4.5), 1.2, 1.2);
        p.drawPolyline(QPolygonF{{4.5, 8.5}, {4.5, 20}, {19.5, 20}, {19.5, 8.5}});
        p.drawLine(QPointF(9.5, 12.5), QPointF(14.5, 12.5));
        break;
    case Glyph::checkmarkCircleFill:
        filledCircle();
        cut([&] { p.drawPolyline(QPolygonF{{7.6, 12.4}, {10.6, 15.3}, {16.4, 8.9}}); });
        break;
    case Glyph::chevronDown:
        p.drawPolyline(QPolygonF{{5, 9}, {12, 16}, {19, 9}});
        break;
    case Glyph::circle:
        p.drawEllipse(QPointF(12, 12), 9, 9);
        break;
    case Glyph::doc:
        pageOutline();
        break;
    case Glyph::docFill:
        pageFilled();
        break;
    case Glyph::docPlaintext:
        pageOutline();
        textLines({QLineF(9, 11.5, 16, 11.5), QLineF(9, 14.75, 16, 14.75), QLineF(9, 18, 16, 18)});
        break;
    case Glyph::docRichtext:
        pageOutline();
        p.save();
        p.setBrush(ink);
        p.drawRect(QRectF(9, 10.5, 2.6, 2.6));
        p.restore();
        textLines({QLineF(14, 10.8, 16, 10.8), QLineF(14, 13, 16, 13), QLineF(9, 16.5, 16, 16.5)});
        break;
    case Glyph::docText:
        pageOutline();
        textLines({QLineF(9, 12, 16, 12), QLineF(9, 15, 16, 15), QLineF(9, 18, 13.5, 18)});
        break;
    case Glyph::docTextFill:
        pageFilled();
        cut([&] { textLines({QLineF(9.5, 12, 15.5, 12), QLineF(9.5, 15, 15.5, 15), QLineF(9.5, 18, 13, 18)}); });
        break;
    case Glyph::ellipsis: {
        const qreal radius = stroke * 0.8 + 0.4;
        dot(QPointF(5, 12), radius);
        dot(QPointF(12, 12), radius);
        dot(QPointF(19, 12), radius);
        break;
    }
    case Glyph::ellipsisCircle: {
        p.drawEllipse(QPointF(12, 12), 9, 9);
        const qreal radius = stroke * 0.6 + 0.3;
        dot(QPointF(8, 12), radius);
        dot(QPointF(12, 12), radius);
        dot(QPointF(16, 12), radius);
        break;
    }
    case Glyph::listBullet: {
        const qreal radius = stroke * 0.6 + 0.4;
        for (qreal y : {6.0, 12.0, 18.0}) {
            dot(QPointF(5, y), radius);
            p.drawLine(QPointF(9.5, y), QPointF(20, y));
        }
        break;
    }
    case Glyph::minusCircle:
        p.drawEllipse(QPointF(12, 12), 9, 9);
        p.drawLine(QPointF(7.5, 12), QPointF(16.5, 12));
        break;
    case Glyph::minusCircleFill:
        filledCircle();
        cut([&] { p.drawLine(QPointF(7.5, 12), QPointF(16.5, 12)); });
        break;
    case Glyph::plus:
        p.drawLine(QPointF(12, 4), QPointF(12, 20));
        p.drawLine(QPointF(4, 12), QPointF(20, 12));
        break;
    case Glyph::rectangleDashed: {
        QPen dashed = pen;
        dashed.setCapStyle(Qt::FlatCap);
        dashed.setDashPattern({2.2 / stroke * 1.0, 1.8 / stroke * 1.0});
        p.setPen(dashed);
        p.drawRoundedRect(QRectF(3, 5, 18, 14), 2.5, 2.5);
        break;
    }
    case Glyph::textViewfinder:
        p.drawPolyline(QPolygonF{{3, 8}, {3, 3}, {8, 3}});
        p.drawPolyline(QPolygonF{{16, 3}, {21, 3}, {21, 8}});
        p.drawPolyline(QPolygonF{{21, 16}, {21, 21}, {16, 21}});
        p.drawPolyline(QPolygonF{{8, 21}, {3, 21}, {3, 16}});
        textLines({QLineF(8, 9, 16, 9), QLineF(8, 12, 16, 12), QLineF(8, 15, 13, 15)});
        break;
    case Glyph::trayFull:
        p.drawPolygon(QPolygonF{{3, 13}, {8, 13}, {9, 15.5}, {15, 15.5}, {16, 13}, {21, 13}, {21, 20}, {3, 20}});
        textLines({QLineF(6, 4.5, 18, 4.5), QLineF(6, 8.5, 18, 8.5)});
        break;
    case Glyph::xmark:
        p.drawLine(QPointF(5.5, 5.5), QPointF(18.5, 18.5));
        p.drawLine(QPointF(18.5, 5.5), QPointF(5.5, 18.5));
        break;
    case Glyph::xmarkCircle:
        p.drawEllipse(QPointF(12, 12), 9, 9);
        p.drawLine(QPointF(8.8, 8.8), QPointF(15.2, 15.2));
        p.drawLine(QPointF(15.2, 8.8), QPointF(8.8, 15.2));
        break;
    case Glyph::xmarkCircleFill:
        filledCircle();
        cut([&] {
            p.drawLine(QPointF(8.6, 8.6), QPointF(15.4, 15.4));
            p.drawLine(QPointF(15.4, 8.6), QPointF(8.6, 15.4));
        });
        break;
    }
}

QImage renderGlyph(Glyph glyph, int pixelSide, SymbolWeight weight)
{
    QImage canvas(pixelSide, pixelSide, QImage::Format_ARGB32_Premultiplied);
    canvas.fill(Qt::transparent);
    QPainter p(&canvas);
    p.setRenderHint(QPainter::Antialiasing);
    const qreal scale = pixelSide / 24.0;
    p.scale(scale, scale);
    drawGlyph(p, glyph, glyphStroke(weight));
    p.end();
    return canvas;
}

QImage renderThemeIcon(const QIcon& icon, int pixelSide, SymbolWeight weight)
{
    // Theme icons carry their own padding (a 16 px icon draws about 14 px), so they fill the
    // whole square, as the symbols they stand in for fill their point size.
    const QPixmap source = icon.pixmap(QSize(pixelSide, pixelSide), 1.0);
    if (source.isNull())
        return {};
    QImage mask = source.toImage().convertToFormat(QImage::Format_ARGB32_Premultiplied);
    QImage canvas(pixelSide, pixelSide, QImage::Format_ARGB32_Premultiplied);
    canvas.fill(Qt::transparent);
    QPainter p(&canvas);
    p.setRenderHint(QPainter::SmoothPixmapTransform);
    const QPointF origin((pixelSide - mask.width()) / 2.0, (pixelSide - mask.height()) / 2.0);
    const qreal radius = themeEmbolden(weight) * pixelSide / 16.0;
    p.drawImage(origin, mask);
    if (radius > 0.05) {
        // Widening by drawing the shape again around a small circle thickens one-pixel lines
        // without changing the outline's shape.
        for (int step = 0; step < 8; ++step) {
            const double angle = step * std::numbers::pi / 4.0;
            p.drawImage(origin + QPointF(radius * std::cos(angle), radius * std::sin(angle)), mask);
        }
    }
    p.end();
    return canvas;
}

QImage withPlusBadge(const QImage& shape, SymbolWeight weight)
{
    const int side = shape.width();
    QImage canvas(side, side, QImage::Format_ARGB32_Premultiplied);
    canvas.fill(Qt::transparent);
    QPainter p(&canvas);
    p.setRenderHint(QPainter::Antialiasing);
    p.setRenderHint(QPainter::SmoothPixmapTransform);
    p.drawImage(QRectF(0, 0, side * 0.8, side * 0.8), shape);
    const QPointF badge(side * 0.76, side * 0.76);
    p.setCompositionMode(QPainter::CompositionMode_Clear);
    p.setPen(Qt::NoPen);
    p.setBrush(Qt::black);
    p.drawEllipse(badge, side * 0.25, side * 0.25);
    p.setCompositionMode(QPainter::CompositionMode_SourceOver);
    const qreal arm = side * 0.15;
    p.setPen(QPen(Qt::black, glyphStroke(weight) * side / 24.0, Qt::SolidLine, Qt::RoundCap));
    p.drawLine(badge - QPointF(arm, 0), badge + QPointF(arm, 0));
    p.drawLine(badge - QPointF(0, arm), badge + QPointF(0, arm));
    p.end();
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
    for (const SymbolEntry& entry : symbolTable)
        names.append(QLatin1String(entry.symbol));
    return names;
}

bool contains(const QString& symbol)
{
    return findEntry(symbol) != nullptr;
}

QString themeIconName(const QString& symbol)
{
    const SymbolEntry* entry = findEntry(symbol);
    return entry && entry->themeIcon ? QLatin1String(entry->themeIcon) : QString();
}

bool isFromTheme(const QString& symbol)
{
    const QString name = themeIconName(symbol);
    if (name.isEmpty())
        return false;
    ensureIconTheme();
    return QIcon::hasThemeIcon(name);
}

void ensureIconTheme()
{
    static bool done = false;
    if (done)
        return;
    done = true;

    QStringList paths = QIcon::themeSearchPaths();
    auto addPath = [&paths](const QString& path) {
        if (!path.isEmpty() && !paths.contains(path) && QFileInfo(path).isDir())
            paths.append(path);
    };
    QString dataHome = qEnvironmentVariable("XDG_DATA_HOME");
    if (dataHome.isEmpty())
        dataHome = QDir::homePath() + QStringLiteral("/.local/share");
    addPath(dataHome + QStringLiteral("/icons"));
    addPath(QDir::homePath() + QStringLiteral("/.icons"));
    QString dataDirs = qEnvironmentVariable("XDG_DATA_DIRS");
    if (dataDirs.isEmpty())
        dataDirs = QStringLiteral("/usr/local/share:/usr/share");
    for (const QString& dir : dataDirs.split(QLatin1Char(':'), Qt::SkipEmptyParts))
        addPath(dir + QStringLiteral("/icons"));
    if (paths != QIcon::themeSearchPaths())
        QIcon::setThemeSearchPaths(paths);

    const QString breeze = QStringLiteral("breeze");
    const QString current = QIcon::themeName();
    if (current.isEmpty() || current == QLatin1String("hicolor"))
        QIcon::setThemeName(breeze);
    else if (QIcon::fallbackThemeName().isEmpty())
        QIcon::setFallbackThemeName(breeze);
}

int imageSide(qreal pointSize)
{
    return pointSize > 0 ? int(std::ceil(pointSize * 1.15)) : 0;
}

QImage image(const QString& symbol, qreal pointSize, SymbolWeight weight, const QColor& colour, qreal devicePixelRatio)
{
    const SymbolEntry* entry = findEntry(symbol);
    if (!entry || pointSize <= 0)
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

    QImage shape;
    if (entry->themeIcon) {
        ensureIconTheme();
        const QIcon themed = QIcon::fromTheme(QLatin1String(entry->themeIcon));
        if (!themed.isNull())
            shape = renderThemeIcon(themed, pixelSide, weight);
    }
    if (shape.isNull())
        shape = renderGlyph(entry->glyph, pixelSide, weight);
    if (entry->plusBadge)
        shape = withPlusBadge(shape, weight);

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
