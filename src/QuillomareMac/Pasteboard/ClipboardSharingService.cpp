#include "ClipboardSharingService.h"

#include "MacFileContent.h"

#include <Platform/SharingService.h>
#include <QuillomareCore/Foundation.h>

#include <QBuffer>
#include <QFileInfo>
#include <QImageReader>
#include <QImage>
#include <QUrl>

#include <algorithm>
#include <optional>

namespace QuillomareMac {

using Platform::PasteboardObject;
using QuillomareCore::ClipboardItem;
using QuillomareCore::ClipboardPayload;

namespace ClipboardSharingService {

QList<PasteboardObject> sharingItems(const ClipboardItem& item)
{
    switch (item.payload.caseOf()) {
    case ClipboardPayload::Case::imagePNG: {
        QImage image;
        if (!image.loadFromData(item.payload.imagePNGValue()))
            return {};
        return {image};
    }
    case ClipboardPayload::Case::fileURLs: {
        const QStringList cleaned = MacFileContent::cleanPaths(item.payload.fileURLsValue());
        QList<PasteboardObject> existing;
        for (const QString& path : cleaned) {
            const QFileInfo file(path);
            if (file.exists())
                existing.append(QUrl::fromLocalFile(file.absoluteFilePath()));
        }
        if (!existing.isEmpty())
            return existing;
        if (!cleaned.isEmpty())
            return {cleaned.join(QLatin1Char('\n'))};
        return {};
    }
    case ClipboardPayload::Case::text: {
        const QString trimmed = QuillomareCore::Text::trimmed(item.payload.textValue());
        if (trimmed.isEmpty())
            return {};
        if (item.kind == QuillomareCore::ClipKind::url) {
            const QUrl url(trimmed, QUrl::StrictMode);
            if (url.isValid() && !url.scheme().isEmpty() && !url.isLocalFile())
                return {url};
        }
        return {trimmed};
    }
    case ClipboardPayload::Case::empty:
        break;
    }
    return {};
}

bool canShare(const ClipboardItem& item)
{
    // What sharingItems() decides for a text, without trimming a copy of megabytes.
    if (item.payload.isText())
        return !QuillomareCore::Text::isBlank(item.payload.textValue());
    if (!item.payload.isImagePNG())
        return !sharingItems(item).isEmpty();
    return item.payload.imagePNGByteCount() > 0 && imageHeaderIsReadable(item.payload.imagePNGHead(64));
}

std::optional<QSize> pngImageSize(QByteArrayView head)
{
    return QuillomareCore::Png::headerSize(head);
}

bool imageHeaderIsReadable(QByteArray head)
{
    if (head.isEmpty())
        return false;
    // A PNG says its size in its first chunk. The image reader would go on through every chunk
    // before the pixels (a colour profile, text, a thumbnail) and fail on a head that ends among
    // them, as most PNGs of other programs than this one have such chunks.
    if (head.startsWith("\x89PNG"))
        return pngImageSize(head).has_value();
    QBuffer buffer(&head);
    buffer.open(QIODevice::ReadOnly);
    QImageReader reader(&buffer);
    return reader.canRead() && reader.size().isValid() && !reader.size().isEmpty();
}

bool airDrop(const ClipboardItem& item)
{
    return share(sharingItems(item));
}

bool share(const QList<PasteboardObject>& items)
{
    if (items.isEmpty())
        return false;
    const std::shared_ptr<Platform::SharingService> service = Platform::SharingService::airDrop();
    if (!service || !service->isAvailable())
        return false;
    // A hand-over that could not even start is reported; what the device does with it is not.
    return service->perform(items);
}

bool serviceIsInstalled()
{
    const std::shared_ptr<Platform::SharingService> service = Platform::SharingService::airDrop();
    return service && service->availability() != Platform::SharingService::Availability::notInstalled;
}

} // namespace ClipboardSharingService

} // namespace QuillomareMac
