#pragma once

// Small file utilities shared by capture, copying, previews and the island: cleaning path lists,
// recognising image files, revealing an entry's files, exporting image entries to PNG files and
// writing the files that stand for images dragged out of the island.

#include "Pasteboard/ShelfRevealTarget.h"

#include <Platform/Pasteboard.h>
#include <QuillomareCore/ClipboardItem.h>

#include <QByteArray>
#include <QSet>
#include <QSize>
#include <QString>
#include <QStringList>
#include <QUrl>
#include <QUuid>

#include <optional>

namespace QuillomareMac {

namespace MacFileContent {

// "png", "jpg", "jpeg", "heic", "heif", "gif", "webp", "tif", "tiff", "bmp", "ico"
const QSet<QString>& imageExtensions();
// Trimmed of white space and line breaks, blank ones dropped, order kept.
QStringList cleanPaths(const QStringList& paths);
// An image extension (any letter case), an existing file, and a header the image reader knows,
// stating a size with pixels in it. Judged without decoding: a photo of any size costs the same.
bool isImageFilePath(const QString& path);
bool allAreImageFiles(const QStringList& paths);
// Cleaned, standardised file URLs of the paths that exist (files or folders), in order.
QList<QUrl> revealableFileURLs(const QStringList& paths);

// PNG bytes that decode are kept as they came (encoding them again would cost time and change
// nothing a person sees); anything else that decodes as an image is encoded as PNG. Answers the
// PNG and the image's size; nothing when the bytes do not decode, a PNG cut short included.
std::optional<std::pair<QByteArray, QSize>> pngData(const QByteArray& bytes, const QString& type);

} // namespace MacFileContent

namespace ClipboardFileActions {

std::optional<ShelfRevealTarget> revealTarget(const QuillomareCore::ClipboardItem& item);
// Shows the entry's files in the file manager; false when it has none that exist.
bool reveal(const QuillomareCore::ClipboardItem& item);

} // namespace ClipboardFileActions

namespace ClipboardImageExportStore {

// Writes a (non-sensitive) image entry once as a PNG under the program's "ExportedImages" folder
// and returns the file; nothing for other entries. Throws QuillomareCore::FileSystemError.
std::optional<QString> exportImage(const QuillomareCore::ClipboardItem& item);
// Deletes the exported files of these entries and the export folders left empty.
void removeExportedFiles(const QList<QuillomareCore::ClipboardItem>& items);
// "Quillomare-yyyyMMdd-HHmmss-XXXXXXXX.png" from the entry's creation time and id.
QString exportedFileName(const QuillomareCore::ClipboardItem& item);
// The program's folder that holds "ExportedImages" (the temporary folder's when the user has
// no data folder).
QString baseFolderPath();
// The folder exported images are written to: "ExportedImages" in the folder above.
QString exportFolderPath();
// Every folder an exported file may be in, in the order removal looks in them.
QStringList cleanupFolderPaths();

} // namespace ClipboardImageExportStore

namespace DragExportFileStore {

// Writes the image to the caches folder for a drag and answers its file URL; nothing when the
// bytes are not an image or the file cannot be written.
std::optional<Platform::PasteboardObject> pngFileWriter(const QByteArray& data, const QUuid& itemID);
// File URLs of the cleaned paths that exist.
QList<Platform::PasteboardObject> fileURLWriters(const QStringList& paths);

} // namespace DragExportFileStore

// What previews need to know of an entry's image.
namespace MacPreview {
bool hasMacPreviewImagePayload(const QuillomareCore::ClipboardItem& item);
std::optional<QString> macPreviewImageFilePath(const QuillomareCore::ClipboardItem& item);
} // namespace MacPreview

} // namespace QuillomareMac
