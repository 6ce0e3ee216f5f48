#include "MacPasteboardWriter.h"

#include "MacFileContent.h"

#include <QuillomareCore/Foundation.h>

#include <QBuffer>
#include <QFileInfo>
#include <QImageWriter>
#include <QUrl>

#include <optional>

namespace QuillomareMac {

using Platform::Pasteboard;
using Platform::PasteboardItem;
using Platform::PasteboardObject;
using QuillomareCore::ClipboardItem;
using QuillomareCore::ClipboardPayload;
using QuillomareCore::ClipKind;

namespace {

// Everything the pasteboard held, item by item with every representation, copied out so that it
// survives clearContents() and can be written back.
class PasteboardSnapshot
{
public:
    explicit PasteboardSnapshot(const Pasteboard& pasteboard)
    {
        for (const PasteboardItem& item : pasteboard.pasteboardItems()) {
            // An item that offers nothing cannot be written back.
            if (!item.isEmpty())
                m_items.append(item);
        }
    }

    bool isEmpty() const { return m_items.isEmpty(); }

    void restore(Pasteboard& pasteboard) const
    {
        if (!m_items.isEmpty())
            pasteboard.writeItems(m_items);
    }

private:
    QList<PasteboardItem> m_items;
};

// The one way anything is written: a refused write puts the old contents back rather than
// leaving the clipboard empty or half written.
template <typename Write>
bool writeKeepingContents(Pasteboard& pasteboard, Write&& write)
{
    // Where a refused write cannot have touched the contents, no copy of them is taken: it would
    // fetch every format another program offers, megabytes perhaps, while the GUI thread waits.
    if (pasteboard.keepsContentsWhenAWriteFails()) {
        pasteboard.startNewContents();
        return write();
    }
    const PasteboardSnapshot snapshot(pasteboard);
    pasteboard.clearContents();
    if (write())
        return true;
    pasteboard.clearContents();
    snapshot.restore(pasteboard);
    return false;
}

// A text that is a whole web (non-file) URL: valid in the strict sense and with a scheme.
std::optional<QUrl> webURL(const QString& trimmedText)
{
    if (trimmedText.isEmpty())
        return std::nullopt;
    const QUrl url(trimmedText, QUrl::StrictMode);
    if (!url.isValid() || url.scheme().isEmpty() || url.isLocalFile())
        return std::nullopt;
    return url;
}

QList<QUrl> fileURLs(const QStringList& cleanedPaths)
{
    QList<QUrl> urls;
    urls.reserve(cleanedPaths.size());
    // A relative path is taken from the working folder: a file URL is always absolute.
    for (const QString& path : cleanedPaths)
        urls.append(QUrl::fromLocalFile(QFileInfo(path).absoluteFilePath()));
    return urls;
}

QString joinedPaths(const QStringList& cleanedPaths)
{
    return cleanedPaths.join(QLatin1Char('\n'));
}

bool copyText(const QString& text, const ClipboardItem& item, Pasteboard& pasteboard)
{
    if (text.isEmpty())
        return false;
    if (item.kind == ClipKind::url) {
        if (const auto url = webURL(QuillomareCore::Text::trimmed(text))) {
            // Browsers take the URL, editors the text exactly as it was copied.
            return writeKeepingContents(pasteboard, [&] {
                const bool wroteURL = pasteboard.writeObjects({*url});
                const bool wroteText = pasteboard.setString(text);
                return wroteURL || wroteText;
            });
        }
    }
    return MacPasteboardWriter::copyString(text, pasteboard);
}

bool copyFileURLs(const QStringList& paths, Pasteboard& pasteboard)
{
    const QStringList cleaned = MacFileContent::cleanPaths(paths);
    // Files that are gone are still written: the paths are what the user copied.
    const QList<QUrl> urls = fileURLs(cleaned);
    if (urls.isEmpty())
        return false;
    QList<PasteboardObject> objects;
    for (const QUrl& url : urls)
        objects.append(url);
    return writeKeepingContents(pasteboard, [&] {
        const bool wroteURLs = pasteboard.writeObjects(objects);
        const bool wroteText = pasteboard.setString(joinedPaths(cleaned));
        return wroteURLs || wroteText;
    });
}

std::optional<QByteArray> encodeTIFF(const QImage& image)
{
    QByteArray tiff;
    QBuffer buffer(&tiff);
    buffer.open(QIODevice::WriteOnly);
    QImageWriter writer(&buffer, "tiff");
    if (!writer.write(image) || tiff.isEmpty())
        return std::nullopt;
    return tiff;
}

std::optional<QByteArray> tiffData(const QImage& image)
{
    if (image.isNull())
        return std::nullopt;
    if (auto tiff = encodeTIFF(image))
        return tiff;
    // Some pixel formats (indexed with odd palettes, 16-bit grey…) the TIFF writer refuses;
    // plain 32-bit pixels it always takes.
    const QImage converted = image.convertToFormat(image.hasAlphaChannel() ? QImage::Format_ARGB32
                                                                            : QImage::Format_RGB32);
    if (converted.isNull())
        return std::nullopt;
    return encodeTIFF(converted);
}

bool copyImage(const QByteArray& png, Pasteboard& pasteboard)
{
    QImage image;
    if (png.isEmpty() || !image.loadFromData(png))
        return false;
    const auto tiff = tiffData(image);
    if (!tiff)
        return false;

    PasteboardItem item;
    item.setData(png, Platform::PasteboardType::png);
    item.setData(*tiff, Platform::PasteboardType::tiff);

    return writeKeepingContents(pasteboard, [&] {
        const bool wroteItem = pasteboard.writeItems({item});
        bool wrotePNG = pasteboard.data(Platform::PasteboardType::png).has_value();
        if (!wrotePNG)
            wrotePNG = pasteboard.setData(png, Platform::PasteboardType::png);
        bool wroteTIFF = false;
        if (!pasteboard.data(Platform::PasteboardType::tiff))
            wroteTIFF = pasteboard.setData(*tiff, Platform::PasteboardType::tiff);
        if (!wroteItem && !wrotePNG && !wroteTIFF)
            return false;
        // Only what can be read back counts: an image application asks for one of the two and
        // must get a picture.
        return pasteboard.data(Platform::PasteboardType::png).has_value()
               && pasteboard.data(Platform::PasteboardType::tiff).has_value() && !pasteboard.readImage().isNull();
    });
}

QList<PasteboardObject> textWriters(const QString& text, const ClipboardItem& item)
{
    const QString trimmed = QuillomareCore::Text::trimmed(text);
    if (trimmed.isEmpty())
        return {};
    if (item.kind == ClipKind::url) {
        if (const auto url = webURL(trimmed))
            return {*url};
    }
    return {trimmed};
}

} // namespace

namespace MacPasteboardWriter {

bool copyString(const QString& text, Pasteboard& pasteboard)
{
    if (text.isEmpty())
        return false;
    return writeKeepingContents(pasteboard, [&] { return pasteboard.setString(text); });
}

bool copy(const ClipboardItem& item, Pasteboard& pasteboard)
{
    switch (item.payload.caseOf()) {
    case ClipboardPayload::Case::text:
        return copyText(item.payload.textValue(), item, pasteboard);
    case ClipboardPayload::Case::fileURLs:
        return copyFileURLs(item.payload.fileURLsValue(), pasteboard);
    case ClipboardPayload::Case::imagePNG:
        return copyImage(item.payload.imagePNGValue(), pasteboard);
    case ClipboardPayload::Case::empty:
        break;
    }
    return false;
}

QList<PasteboardObject> draggingWriters(const ClipboardItem& item)
{
    switch (item.payload.caseOf()) {
    case ClipboardPayload::Case::text:
        return textWriters(item.payload.textValue(), item);
    case ClipboardPayload::Case::fileURLs:
        return fileURLDraggingWriters(item.payload.fileURLsValue());
    case ClipboardPayload::Case::imagePNG:
        return imageDraggingWriters(item.payload.imagePNGValue(), item.id);
    case ClipboardPayload::Case::empty:
        break;
    }
    return {};
}

QList<PasteboardObject> fileURLDraggingWriters(const QStringList& paths)
{
    const QStringList cleaned = MacFileContent::cleanPaths(paths);
    const QList<PasteboardObject> writers = DragExportFileStore::fileURLWriters(cleaned);
    if (!writers.isEmpty())
        return writers;
    // Files that are gone can still be dropped as their paths.
    if (!cleaned.isEmpty())
        return {joinedPaths(cleaned)};
    return {};
}

QList<PasteboardObject> imageDraggingWriters(const QByteArray& png, const QUuid& itemID)
{
    if (png.isEmpty())
        return {};
    // A file is what most drop targets (file managers, mail, chat) take; the image itself is
    // the fallback when the caches folder cannot be written.
    if (auto file = DragExportFileStore::pngFileWriter(png, itemID))
        return {*file};
    QImage image;
    if (!image.loadFromData(png))
        return {};
    return {image};
}

} // namespace MacPasteboardWriter

} // namespace QuillomareMac
