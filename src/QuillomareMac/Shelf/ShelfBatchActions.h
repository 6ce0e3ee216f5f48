#pragma once

// What the shelf does with a selection of entries: copy their file names or paths, zip their
// files, convert or compress their images; and the two single-entry actions, showing an entry's
// files in the file manager and sending an entry to a nearby device.
//
// The batch actions run on the calling thread and return when done, as the shell expects (it
// shows their outcome at once). Image conversion spreads the images over the processor's cores
// meanwhile. Results go to "QuillomareShelfExports" in the program's cache folder, a folder of
// this user alone; a failed action leaves none of its files behind.

#include "Shelf/ShelfItem.h"
#include "Pasteboard/ShelfRevealTarget.h"

#include <Platform/Pasteboard.h>

#include <QList>
#include <QString>
#include <QStringList>

#include <optional>

namespace QuillomareMac {

namespace ShelfBatchActions {

enum class ImageFileType
{
    png,
    jpeg
};

// Converted images keep their pixels; JPEG at this quality, transparency over white.
constexpr int jpegQuality = 90;
// Compressed images: a JPEG no larger than this on its longer side, at this quality. Sharp on
// any screen and in any chat or mail, and a tenth of a 4K PNG or less.
constexpr int compressedMaxDimension = 2048;
constexpr int compressedJPEGQuality = 75;

// "<cache folder>/Quillomare/QuillomareShelfExports"; empty when there is no cache folder.
QString exportFolderPath();

// The entries' file names (or full paths), one per line, as one text on the pasteboard. False,
// with the pasteboard untouched, when the entries hold no files.
bool copyFileNames(const QList<ShelfItem>& items, Platform::Pasteboard& pasteboard);
bool copyFilePaths(const QList<ShelfItem>& items, Platform::Pasteboard& pasteboard);

// One zip archive of every file and folder of the entries, each under its own name; a single
// source gives "<name>.zip", several "Shelf <date time>.zip". Returns the archive's path.
// Throws ShelfBatchError (noFiles, zipFailed) or QuillomareCore::FileSystemError.
QString zipFiles(const QList<ShelfItem>& items);

// Every image of the entries (image entries and image files) written as PNG or JPEG; returns
// the written files in entry order. Throws ShelfBatchError (noImages, imageConversionFailed) or
// QuillomareCore::FileSystemError.
QStringList convertImages(const QList<ShelfItem>& items, ImageFileType type);
// Every image as a smaller JPEG ("<name>-compressed.jpg"); throws like convertImages().
QStringList compressImages(const QList<ShelfItem>& items);

} // namespace ShelfBatchActions

namespace ShelfFileActions {

// The files of a file entry that exist, as the history's file actions compute it; else nothing.
std::optional<ShelfRevealTarget> revealTarget(const ShelfItem& item);
// Shows them in the file manager (the one file selected in its folder when there is one);
// false when there is nothing to show.
bool reveal(const ShelfItem& item);

} // namespace ShelfFileActions

namespace ShelfSharingService {

// Hands the entry's sharing items to the nearby-device service; false when there is nothing to
// share, no service, or the hand-over failed.
bool airDrop(const ShelfItem& item);

} // namespace ShelfSharingService

} // namespace QuillomareMac
