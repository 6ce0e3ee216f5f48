#include "ThumbnailProvider.h"

#include <QBuffer>
#include <QCoreApplication>
#include <QCryptographicHash>
#include <QDateTime>
#include <QDeadlineTimer>
#include <QDir>
#include <QFileInfo>
#include <QImageReader>
#include <QMimeDatabase>
#include <QPainter>
#include <QPainterPath>
#include <QPixmap>
#include <QPointer>
#include <QThread>
#include <QUrl>
#include <QtConcurrent/QtConcurrentRun>

#include <algorithm>
#include <array>
#include <atomic>

namespace Platform::ThumbnailProvider {

namespace {

std::atomic<int> pendingRequests{0};

QImage fitWithin(const QImage& image, int limit)
{
    if (image.isNull() || std::max(image.width(), image.height()) <= limit)
        return image;
    return image.scaled(limit, limit, Qt::KeepAspectRatio, Qt::SmoothTransformation);
}

// The reader scales while it decodes where the format allows it (JPEG decodes at a fraction of its
// size), so the full picture is never held; the orientation is applied after the scaling.
QImage readScaled(QImageReader& reader, int maxPixelSize)
{
    const int limit = std::max(1, maxPixelSize);
    reader.setAutoTransform(true);
    const QSize size = reader.size();
    if (size.isValid() && std::max(size.width(), size.height()) > limit)
        reader.setScaledSize(size.scaled(limit, limit, Qt::KeepAspectRatio).expandedTo(QSize(1, 1)));
    return fitWithin(reader.read(), limit);
}

QString thumbnailCacheFolder()
{
    QString base = qEnvironmentVariable("XDG_CACHE_HOME");
    if (base.isEmpty() || !QDir::isAbsolutePath(base))
        base = QDir::homePath() + QStringLiteral("/.cache");
    return base + QStringLiteral("/thumbnails/");
}

// The desktop's thumbnail folders, the best first: the smallest that is big enough, then the larger
// ones, then the smaller ones from the largest down.
QStringList thumbnailFoldersFor(int pixelSize)
{
    struct Folder
    {
        int size;
        const char* name;
    };
    static constexpr std::array<Folder, 4> folders{
        {{128, "normal"}, {256, "large"}, {512, "x-large"}, {1024, "xx-large"}}};
    QStringList larger;
    QStringList smaller;
    for (const Folder& folder : folders) {
        if (folder.size >= pixelSize)
            larger.append(QString::fromLatin1(folder.name));
        else
            smaller.prepend(QString::fromLatin1(folder.name));
    }
    return larger + smaller;
}

QImage cachedDesktopThumbnail(const QFileInfo& file, int pixelSize)
{
    const QByteArray uri = QUrl::fromLocalFile(file.absoluteFilePath()).toEncoded();
    const QString name =
        QString::fromLatin1(QCryptographicHash::hash(uri, QCryptographicHash::Md5).toHex()) + QStringLiteral(".png");
    const QString mtime = QString::number(file.lastModified().toSecsSinceEpoch());
    const QString folder = thumbnailCacheFolder();
    for (const QString& size : thumbnailFoldersFor(pixelSize)) {
        // Read whole (they are small): the reader's own text() splits keys at the first colon.
        const QImage image(folder + size + QLatin1Char('/') + name, "png");
        // A thumbnail of an older version of the file, or of another file, is stale.
        if (image.isNull() || image.text(QStringLiteral("Thumb::URI")) != QString::fromLatin1(uri) ||
            image.text(QStringLiteral("Thumb::MTime")) != mtime)
            continue;
        return fitWithin(image, pixelSize);
    }
    return {};
}

// Our own stand-ins when the icon theme has nothing: a sheet with a folded corner, or a folder.
QIcon fallbackIcon(bool folder)
{
    constexpr int side = 64;
    QPixmap pixmap(side, side);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(QPen(QColor(120, 128, 140), 2));
    QPainterPath path;
    if (folder) {
        painter.setBrush(QColor(120, 170, 230));
        path.moveTo(6, 16);
        path.lineTo(24, 16);
        path.lineTo(29, 21);
        path.lineTo(58, 21);
        path.lineTo(58, 54);
        path.lineTo(6, 54);
        path.closeSubpath();
    } else {
        painter.setBrush(QColor(236, 238, 242));
        path.moveTo(14, 5);
        path.lineTo(40, 5);
        path.lineTo(52, 17);
        path.lineTo(52, 59);
        path.lineTo(14, 59);
        path.closeSubpath();
        path.moveTo(40, 5);
        path.lineTo(40, 17);
        path.lineTo(52, 17);
    }
    painter.drawPath(path);
    painter.end();
    return QIcon(pixmap);
}

} // namespace

QImage decodeImageData(const QByteArray& bytes, int maxPixelSize)
{
    if (bytes.isEmpty())
        return {};
    QBuffer buffer;
    buffer.setData(bytes);
    buffer.open(QIODevice::ReadOnly);
    QImageReader reader(&buffer);
    return readScaled(reader, maxPixelSize);
}

QImage decodeImageFile(const QString& path, int maxPixelSize)
{
    if (path.isEmpty() || !QFileInfo(path).isFile())
        return {};
    QImageReader reader(path);
    reader.setDecideFormatFromContent(true);
    return readScaled(reader, maxPixelSize);
}

QImage fileThumbnail(const QString& path, int pixelSize)
{
    const QFileInfo file(path);
    if (path.isEmpty() || !file.isFile())
        return {};
    const QImage image = decodeImageFile(path, pixelSize);
    if (!image.isNull())
        return image;
    return cachedDesktopThumbnail(file, std::max(1, pixelSize));
}

QIcon fileTypeIcon(const QString& path)
{
    const QFileInfo file(path);
    if (path.isEmpty() || !file.exists())
        return {};
    const QMimeType mime = QMimeDatabase().mimeTypeForFile(file);
    QIcon icon = QIcon::fromTheme(mime.iconName());
    if (icon.isNull())
        icon = QIcon::fromTheme(mime.genericIconName());
    if (icon.isNull())
        icon = QIcon::fromTheme(file.isDir() ? QStringLiteral("folder") : QStringLiteral("text-x-generic"));
    return icon.isNull() ? fallbackIcon(file.isDir()) : icon;
}

QString fileTypeDescription(const QString& path)
{
    if (path.isEmpty())
        return {};
    const QMimeType mime = QMimeDatabase().mimeTypeForFile(path);
    return mime.isValid() && !mime.isDefault() ? mime.comment() : QString();
}

void request(QObject* context, std::function<QImage()> work, std::function<void(const QImage&)> done)
{
    ++pendingRequests;
    // The answer goes through the application object, which outlives every receiver, so that a
    // request whose receiver is gone is still counted off; the receiver is tested on its thread.
    QPointer<QObject> receiver(context);
    auto task = [receiver, work = std::move(work), done = std::move(done)]() mutable {
        QImage image = work ? work() : QImage();
        QMetaObject::invokeMethod(
            QCoreApplication::instance(),
            [receiver = std::move(receiver), done = std::move(done), image = std::move(image)] {
                --pendingRequests;
                if (receiver && done)
                    done(image);
            },
            Qt::QueuedConnection);
    };
    [[maybe_unused]] auto future = QtConcurrent::run(std::move(task));
}

bool waitForPendingRequests(int timeoutMilliseconds)
{
    const QDeadlineTimer deadline(timeoutMilliseconds);
    while (true) {
        QCoreApplication::processEvents(QEventLoop::AllEvents);
        if (pendingRequests.load() == 0)
            return true;
        if (deadline.hasExpired())
            return false;
        QThread::msleep(1);
    }
}

} // namespace Platform::ThumbnailProvider
