#include "ShelfPasteboard.h"

#include "Pasteboard/ClipboardMonitor.h"
#include "Pasteboard/MacFileContent.h"
#include "Pasteboard/MacPasteboardWriter.h"

#include <QuillomareCore/Foundation.h>
#include <QuillomareCore/Language.h>

#include <QBuffer>
#include <QFileInfo>
#include <QImage>
#include <QImageReader>
#include <QSet>

namespace QuillomareMac {

using namespace QuillomareCore;
using Platform::Pasteboard;

namespace {

constexpr qsizetype titleLength = 60;

ShelfItem newItem(ClipKind kind)
{
    ShelfItem item;
    item.id = QUuid::createUuid();
    item.createdAt = ShelfDates::now();
    item.kind = kind;
    return item;
}

QString hiddenPreview()
{
    return Language::text(QStringLiteral("敏感内容已隐藏"), QStringLiteral("Sensitive content hidden"));
}

// A file URL's path as the file manager names it: no trailing slash except for the root.
QString pathOf(const QUrl& url)
{
    QString path = url.toLocalFile();
    while (path.size() > 1 && path.endsWith(QLatin1Char('/')))
        path.chop(1);
    return path;
}

// Header only: deciding that a dropped photo is an image must not decode it on the GUI thread.
bool looksLikeImageFile(const QString& path, const QFileInfo& info)
{
    if (!info.isFile() || !MacFileContent::imageExtensions().contains(info.suffix().toLower()))
        return false;
    QImageReader reader(path);
    return reader.canRead();
}

ShelfItem fileItem(const QString& path)
{
    const QFileInfo info(path);
    ShelfItem item = newItem(looksLikeImageFile(path, info) ? ClipKind::image : ClipKind::file);
    item.title = info.fileName().isEmpty() ? path : info.fileName();
    if (info.isDir()) {
        item.subtitle = Language::text(QStringLiteral("文件夹"), QStringLiteral("Folder"));
    } else {
        const QString size = ClipboardItem::formattedBytes(info.size());
        const QString type = info.suffix().toUpper();
        item.subtitle = type.isEmpty() ? size : type + QStringLiteral(" · ") + size;
    }
    item.preview = path;
    item.payload = ShelfPayload::fileURLs({path});
    return item;
}

ShelfItem linkItem(const QString& link, const QUrl& url, const SensitiveContentDetector& detector)
{
    ShelfItem item = newItem(ClipKind::url);
    item.payload = ShelfPayload::url(link);
    if (detector.isSensitive(link)) {
        item.isSensitive = true;
        item.title = Language::text(QStringLiteral("私密链接"), QStringLiteral("Private link"));
        item.subtitle = Language::text(QStringLiteral("内容已隐藏"), QStringLiteral("Content hidden"));
        item.preview = hiddenPreview();
        return item;
    }
    QString host = url.host();
    if (host.startsWith(QLatin1String("www.")))
        host.remove(0, 4);
    if (host.isEmpty() && url.scheme().compare(QLatin1String("mailto"), Qt::CaseInsensitive) == 0)
        host = url.path();
    item.title = host.isEmpty() ? ClipboardMonitor::textPreview(link) : host;
    QString shown = link;
    const qsizetype schemeEnd = shown.indexOf(QLatin1String("://"));
    if (schemeEnd > 0)
        shown = shown.mid(schemeEnd + 3);
    if (shown.endsWith(QLatin1Char('/')))
        shown.chop(1);
    item.subtitle = ClipboardMonitor::textPreview(shown);
    item.preview = ClipboardMonitor::textPreview(link);
    return item;
}

ShelfItem textItem(const QString& text, const SensitiveContentDetector& detector)
{
    const QString trimmed = Text::trimmed(text);
    if (const auto url = ClipboardMonitor::detectURL(trimmed))
        return linkItem(trimmed, *url, detector);

    ShelfItem item = newItem(ClipKind::text);
    item.payload = ShelfPayload::text(text);
    if (detector.isSensitive(text)) {
        item.isSensitive = true;
        item.title = Language::text(QStringLiteral("私密文本"), QStringLiteral("Private text"));
        item.subtitle = Language::text(QStringLiteral("内容已隐藏"), QStringLiteral("Content hidden"));
        item.preview = hiddenPreview();
        return item;
    }
    QString firstLine;
    for (const QStringView line : QStringView(trimmed).split(QLatin1Char('\n'))) {
        firstLine = Text::trimmed(line.toString());
        if (!firstLine.isEmpty())
            break;
    }
    // At most 60 characters, the ellipsis included.
    const bool tooLong = Text::graphemePrefix(firstLine, titleLength).size() < firstLine.size();
    item.title =
        tooLong ? Text::trimmed(Text::graphemePrefix(firstLine, titleLength - 1)) + QStringLiteral("…") : firstLine;
    const qsizetype characters = Text::graphemeCount(text);
    item.subtitle =
        Language::text(QStringLiteral("%1 个字符").arg(characters), QStringLiteral("%1 characters").arg(characters));
    item.preview = ClipboardMonitor::textPreview(text);
    return item;
}

ShelfItem imageItem(const QByteArray& png, const QSize& size)
{
    ShelfItem item = newItem(ClipKind::image);
    item.payload = ShelfPayload::imagePNG(png);
    const QString bytes = ClipboardItem::formattedBytes(png.size());
    item.title = Language::text(QStringLiteral("图片"), QStringLiteral("Image"));
    item.subtitle = QStringLiteral("%1 × %2 · ").arg(size.width()).arg(size.height()) + bytes;
    item.preview = Language::text(QStringLiteral("图片 · "), QStringLiteral("Image · ")) + bytes;
    return item;
}

QString missingFilesMessage(const QStringList& missing)
{
    if (missing.size() == 1) {
        const QString name = QFileInfo(missing.first()).fileName();
        return Language::text(QStringLiteral("找不到“%1”，它可能已被移动或删除").arg(name),
                              QStringLiteral("Couldn't find “%1”; it may have been moved or deleted").arg(name));
    }
    return Language::text(
        QStringLiteral("有 %1 个文件找不到，可能已被移动或删除").arg(missing.size()),
        QStringLiteral("%1 files couldn't be found; they may have been moved or deleted").arg(missing.size()));
}

} // namespace

namespace ShelfPasteboardReader {

ShelfReadResult items(const Pasteboard& pasteboard, const SensitiveContentDetector& detector)
{
    ShelfReadResult result;

    // Files: what a file manager drops (it also offers the paths as text, which is not read).
    const QList<QUrl> fileURLs = pasteboard.readURLs(/*fileURLsOnly=*/true);
    if (!fileURLs.isEmpty()) {
        QSet<QString> seen;
        QStringList missing;
        for (const QUrl& url : fileURLs) {
            const QString path = pathOf(url);
            if (path.isEmpty() || seen.contains(path))
                continue;
            seen.insert(path);
            const QFileInfo info(path);
            if (info.exists() || info.isSymLink())
                result.items.append(fileItem(path));
            else
                missing.append(path);
        }
        if (!missing.isEmpty())
            result.message = missingFilesMessage(missing);
        return result;
    }

    // Links: what a browser drops (with the link's text beside it, not read separately).
    for (const QUrl& url : pasteboard.readURLs(/*fileURLsOnly=*/false)) {
        // Checked in its encoded form, kept in the readable one (a link with Chinese in it).
        if (const auto web = ClipboardMonitor::detectURL(QString::fromUtf8(url.toEncoded())))
            result.items.append(linkItem(url.toString(), *web, detector));
    }
    if (!result.items.isEmpty())
        return result;

    // An image: PNG first, then TIFF, then whatever else is offered as an image.
    const QStringList types = pasteboard.types();
    QStringList imageTypes;
    for (const QString& type : {Platform::PasteboardType::png, Platform::PasteboardType::tiff}) {
        if (types.contains(type))
            imageTypes.append(type);
    }
    for (const QString& type : types) {
        if (type.startsWith(QLatin1String("image/")) && !imageTypes.contains(type))
            imageTypes.append(type);
    }
    for (const QString& type : std::as_const(imageTypes)) {
        const auto bytes = pasteboard.data(type);
        if (!bytes || bytes->isEmpty())
            continue;
        if (const auto png = MacFileContent::pngData(*bytes, type)) {
            result.items.append(imageItem(png->first, png->second));
            return result;
        }
    }
    if (!imageTypes.isEmpty())
        result.message =
            Language::text(QStringLiteral("无法读取拖入的图片"), QStringLiteral("The dropped image couldn't be read"));

    // Text.
    if (const auto text = pasteboard.string()) {
        if (!Text::trimmed(*text).isEmpty()) {
            result.items.append(textItem(*text, detector));
            result.message.reset();
        }
    }
    return result;
}

} // namespace ShelfPasteboardReader

namespace ShelfPasteboardWriter {

bool copy(const ShelfItem& item, Pasteboard& pasteboard)
{
    return MacPasteboardWriter::copy(item.clipboardItem(), pasteboard);
}

QList<Platform::PasteboardObject> draggingWriters(const QList<ShelfItem>& items)
{
    QList<Platform::PasteboardObject> writers;
    for (const ShelfItem& item : items)
        writers.append(MacPasteboardWriter::draggingWriters(item.clipboardItem()));
    return writers;
}

} // namespace ShelfPasteboardWriter

} // namespace QuillomareMac
