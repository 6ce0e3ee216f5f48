#pragma once

// Small pictures of images and files. Decoding never needs the GUI thread: the decoders are safe
// on any thread, and request() runs one on the thread pool and hands the picture back to the GUI
// thread, only while the asking object still lives.
//
// Images are read with QImageReader at the asked size (the reader scales while it decodes, so a
// 24-megapixel photo never lands in memory whole); other files take the desktop's thumbnail from
// the freedesktop thumbnail cache when it has a valid one, else nothing (callers then show the
// type's icon).

#include <QByteArray>
#include <QIcon>
#include <QImage>
#include <QString>

#include <functional>

class QObject;

namespace Platform::ThumbnailProvider {

// The image scaled down (never up) so that its longer side is at most `maxPixelSize` (at least 1),
// turned by its orientation metadata. Null when the bytes or the file are not an image.
QImage decodeImageData(const QByteArray& bytes, int maxPixelSize);
QImage decodeImageFile(const QString& path, int maxPixelSize);

// A file's content picture at most `pixelSize` on its longer side: an image file decoded; any other
// file from the thumbnail cache (~/.cache/thumbnails, a PNG whose Thumb::URI is the file's URI and
// whose Thumb::MTime is its modification time); null otherwise. Any thread.
QImage fileThumbnail(const QString& path, int pixelSize);

// The icon of the file's type (MIME database, then the icon theme, then a generic document or
// folder icon of our own). Null when no file exists at the path. GUI thread.
QIcon fileTypeIcon(const QString& path);
// The type's description ("PDF document"), empty when unknown.
QString fileTypeDescription(const QString& path);

// Runs `work` on the thread pool; `done` gets its image on the GUI thread, not at all when
// `context` was destroyed first.
void request(QObject* context, std::function<QImage()> work, std::function<void(const QImage&)> done);

// Tests and the off-screen renderer: processes events until every request started so far has been
// delivered (or dropped), at most `timeoutMilliseconds`. True when none is left.
bool waitForPendingRequests(int timeoutMilliseconds = 5000);

} // namespace Platform::ThumbnailProvider
