#include "ShelfBatchActions.h"

#include "Pasteboard/ClipboardSharingService.h"

#include "Pasteboard/MacFileContent.h"
#include "Pasteboard/MacPasteboardWriter.h"

#include <Platform/Archiver.h>
#include <Platform/SharingService.h>
#include <Platform/StandardFolders.h>
#include <QuillomareCore/Errors.h>
#include <QuillomareCore/Files.h>
#include <QuillomareCore/Foundation.h>
#include <QuillomareCore/Language.h>

#include <QBuffer>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QImageReader>
#include <QImageWriter>
#include <QPainter>
#include <QSet>
#include <QtConcurrent/QtConcurrentMap>

#include <cerrno>
#include <cstring>
#include <sys/stat.h>

namespace QuillomareMac {

using namespace QuillomareCore;

namespace {

// NSURL's path of a stored path: trimmed, no trailing slash except for the root.
QString cleanPath(const QString& path)
{
    QString cleaned = path;
    while (cleaned.size() > 1 && cleaned.endsWith(QLatin1Char('/')))
        cleaned.chop(1);
    return cleaned;
}

QStringList filePaths(const QList<ShelfItem>& items)
{
    QStringList paths;
    for (const ShelfItem& item : items) {
        if (!item.payload.isFileURLs())
            continue;
        for (const QString& path : MacFileContent::cleanPaths(item.payload.fileURLsValue()))
            paths.append(cleanPath(path));
    }
    return paths;
}

QString nameOf(const QString& path)
{
    const QString name = QFileInfo(path).fileName();
    return name.isEmpty() ? path : name;
}

bool copyLines(const QStringList& lines, Platform::Pasteboard& pasteboard)
{
    if (lines.isEmpty())
        return false;
    return MacPasteboardWriter::copyString(lines.join(QLatin1Char('\n')), pasteboard);
}

// The exports are the user's files, zips of whatever was on the shelf: they go to a folder no one
// else can enter, and never into one someone else made for us.
void makeExportFolder()
{
    const QString folder = ShelfBatchActions::exportFolderPath();
    if (folder.isEmpty())
        throw FileSystemError(Language::text(QStringLiteral("找不到存放导出文件的缓存文件夹"),
                                             QStringLiteral("There is no cache folder to put the exports in")));
    QuillomareCore::Files::makePrivateFolder(folder, QFileInfo(folder).path());
}

// "name.ext", "name 2.ext"… free in `folder` and not in `reserved`; the result is reserved.
QString uniqueFileName(const QString& folder, const QString& base, const QString& extension, QSet<QString>& reserved)
{
    for (int number = 1;; ++number) {
        const QString name = (number == 1 ? base : base + QLatin1Char(' ') + QString::number(number)) + extension;
        const QString path = folder + QLatin1Char('/') + name;
        struct stat info
        {
        };
        if (!reserved.contains(name) && ::lstat(QFile::encodeName(path).constData(), &info) != 0) {
            reserved.insert(name);
            return name;
        }
    }
}

QString archiveFailureCause(const Platform::ArchiveFailure& failure)
{
    using Reason = Platform::ArchiveFailure::Reason;
    const QString name = nameOf(failure.path);
    const QString detail =
        failure.systemMessage.isEmpty() ? QString() : QStringLiteral("（%1）").arg(failure.systemMessage);
    const QString detailEnglish =
        failure.systemMessage.isEmpty() ? QString() : QStringLiteral(" (%1)").arg(failure.systemMessage);
    switch (failure.reason) {
    case Reason::noSources:
        return Language::text(QStringLiteral("没有可以放进压缩包的内容"),
                              QStringLiteral("there is nothing to put in the archive"));
    case Reason::sourceMissing:
        return Language::text(QStringLiteral("“%1”已不存在").arg(name),
                              QStringLiteral("“%1” no longer exists").arg(name));
    case Reason::sourceUnreadable:
        return Language::text(QStringLiteral("无法读取“%1”").arg(name) + detail,
                              QStringLiteral("couldn't read “%1”").arg(name) + detailEnglish);
    case Reason::destinationFailed:
        return Language::text(QStringLiteral("无法写入压缩包") + detail,
                              QStringLiteral("couldn't write the archive") + detailEnglish);
    }
    return {};
}

// One image to write: where it comes from, where it goes, and what went wrong.
struct ImageJob
{
    enum class Failure
    {
        none,
        unreadable,
        unwritable
    };

    QString sourcePath;   // an image file, or
    QByteArray sourcePNG; // the bytes of an image entry
    QString displayName;  // for messages
    QString outputPath;
    Failure failure = Failure::none;
};

struct ImageOptions
{
    const char* format = "png";
    int quality = -1;
    int maxDimension = 0; // 0: keep the size
};

QImage readImage(const ImageJob& job)
{
    QBuffer buffer;
    std::unique_ptr<QImageReader> reader;
    if (job.sourcePath.isEmpty()) {
        buffer.setData(job.sourcePNG);
        buffer.open(QIODevice::ReadOnly);
        reader = std::make_unique<QImageReader>(&buffer);
    } else {
        reader = std::make_unique<QImageReader>(job.sourcePath);
    }
    // A photo shows the way the camera held it.
    reader->setAutoTransform(true);
    return reader->read();
}

// JPEG has no transparency: transparent parts are shown on white, as a viewer shows them.
QImage opaqueOnWhite(const QImage& image)
{
    if (!image.hasAlphaChannel())
        return image;
    QImage flattened(image.size(), QImage::Format_RGB32);
    flattened.setDevicePixelRatio(image.devicePixelRatio());
    flattened.fill(Qt::white);
    QPainter painter(&flattened);
    painter.drawImage(0, 0, image);
    painter.end();
    return flattened;
}

void runImageJob(ImageJob& job, const ImageOptions& options)
{
    QImage image = readImage(job);
    if (image.isNull()) {
        job.failure = ImageJob::Failure::unreadable;
        return;
    }
    if (options.maxDimension > 0 && std::max(image.width(), image.height()) > options.maxDimension)
        image = image.scaled(options.maxDimension, options.maxDimension, Qt::KeepAspectRatio, Qt::SmoothTransformation);
    if (std::strcmp(options.format, "jpeg") == 0)
        image = opaqueOnWhite(image);

    // Written aside and renamed, so that a file of the final name is always whole.
    const QFileInfo output(job.outputPath);
    const QString partial = output.path() + QStringLiteral("/.") + output.fileName() + QStringLiteral(".partial");
    {
        QFile file(partial);
        if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
            job.failure = ImageJob::Failure::unwritable;
            return;
        }
        QImageWriter writer(&file, options.format);
        if (options.quality >= 0)
            writer.setQuality(options.quality);
        if (std::strcmp(options.format, "jpeg") == 0)
            writer.setOptimizedWrite(true);
        if (!writer.write(image) || !file.flush()) {
            file.close();
            QFile::remove(partial);
            job.failure = ImageJob::Failure::unwritable;
            return;
        }
    }
    if (::rename(QFile::encodeName(partial).constData(), QFile::encodeName(job.outputPath).constData()) != 0) {
        QFile::remove(partial);
        job.failure = ImageJob::Failure::unwritable;
    }
}

QStringList writeImages(const QList<ShelfItem>& items, const ImageOptions& options, const QString& suffix,
                        const QString& extension)
{
    QList<ImageJob> jobs;
    for (const ShelfItem& item : items) {
        if (item.payload.isImagePNG()) {
            if (item.payload.imagePNGValue().isEmpty())
                continue;
            ImageJob job;
            job.sourcePNG = item.payload.imagePNGValue();
            job.displayName = QStringLiteral("Quillomare-") + Uuid::text(item.id).left(8);
            jobs.append(job);
        } else if (item.payload.isFileURLs()) {
            for (const QString& path : MacFileContent::cleanPaths(item.payload.fileURLsValue())) {
                const QString cleaned = cleanPath(path);
                // Chosen by extension: a damaged photo is reported, not silently left out.
                if (!MacFileContent::imageExtensions().contains(QFileInfo(cleaned).suffix().toLower()))
                    continue;
                ImageJob job;
                job.sourcePath = cleaned;
                job.displayName = nameOf(cleaned);
                jobs.append(job);
            }
        }
    }
    if (jobs.isEmpty())
        throw ShelfBatchError::noImages();

    makeExportFolder();
    const QString folder = ShelfBatchActions::exportFolderPath();
    QSet<QString> reserved;
    for (ImageJob& job : jobs) {
        const QString base = job.sourcePath.isEmpty() ? job.displayName : QFileInfo(job.sourcePath).completeBaseName();
        job.outputPath = folder + QLatin1Char('/') + uniqueFileName(folder, base + suffix, extension, reserved);
    }

    // The caller waits, as it expects; the images are decoded and encoded on every core meanwhile.
    QtConcurrent::blockingMap(jobs, [&options](ImageJob& job) { runImageJob(job, options); });

    const auto failed = std::find_if(jobs.cbegin(), jobs.cend(),
                                     [](const ImageJob& job) { return job.failure != ImageJob::Failure::none; });
    if (failed != jobs.cend()) {
        for (const ImageJob& job : std::as_const(jobs)) {
            if (job.failure == ImageJob::Failure::none)
                QFile::remove(job.outputPath);
        }
        const QString name = failed->displayName;
        if (failed->failure == ImageJob::Failure::unreadable)
            throw ShelfBatchError::imageConversionFailed(
                Language::text(QStringLiteral("无法读取图片“%1”").arg(name),
                               QStringLiteral("couldn't read the image “%1”").arg(name)));
        const QString output = QFileInfo(failed->outputPath).fileName();
        throw ShelfBatchError::imageConversionFailed(Language::text(QStringLiteral("无法写入“%1”").arg(output),
                                                                    QStringLiteral("couldn't write “%1”").arg(output)));
    }

    QStringList outputs;
    for (const ImageJob& job : std::as_const(jobs))
        outputs.append(job.outputPath);
    return outputs;
}

} // namespace

// MARK: - ShelfBatchActions

namespace ShelfBatchActions {

QString exportFolderPath()
{
    const QString caches = Platform::StandardFolders::caches();
    if (caches.isEmpty())
        return {};
    return caches + QStringLiteral("/Quillomare/QuillomareShelfExports");
}

bool copyFileNames(const QList<ShelfItem>& items, Platform::Pasteboard& pasteboard)
{
    QStringList names;
    for (const QString& path : filePaths(items))
        names.append(nameOf(path));
    return copyLines(names, pasteboard);
}

bool copyFilePaths(const QList<ShelfItem>& items, Platform::Pasteboard& pasteboard)
{
    return copyLines(filePaths(items), pasteboard);
}

QString zipFiles(const QList<ShelfItem>& items)
{
    QStringList paths;
    for (const QString& path : filePaths(items)) {
        if (!paths.contains(path))
            paths.append(path);
    }
    if (paths.isEmpty())
        throw ShelfBatchError::noFiles();
    // A file that is gone is named before anything is written.
    for (const QString& path : std::as_const(paths)) {
        const QFileInfo info(path);
        if (!info.exists()) {
            const QString name = nameOf(path);
            throw ShelfBatchError::zipFailed(Language::text(QStringLiteral("“%1”已不存在").arg(name),
                                                            QStringLiteral("“%1” no longer exists").arg(name)));
        }
    }

    // Two dropped files of the same name from different folders both go in.
    QList<Platform::ArchiveSource> sources;
    QSet<QString> names;
    for (const QString& path : std::as_const(paths)) {
        const QString name = nameOf(path);
        QString unique = name;
        const qsizetype dot = QFileInfo(path).isDir() ? -1 : name.lastIndexOf(QLatin1Char('.'));
        for (int number = 2; names.contains(unique); ++number)
            unique = dot > 0 ? name.left(dot) + QLatin1Char(' ') + QString::number(number) + name.mid(dot)
                             : name + QLatin1Char(' ') + QString::number(number);
        names.insert(unique);
        sources.append(Platform::ArchiveSource{path, unique});
    }

    makeExportFolder();
    const QString folder = exportFolderPath();
    const QString base = sources.size() == 1
                             ? sources.first().name
                             : Language::text(QStringLiteral("暂存架 "), QStringLiteral("Shelf ")) +
                                   QDateTime::currentDateTime().toString(QStringLiteral("yyyy-MM-dd HH.mm.ss"));
    QSet<QString> reserved;
    const QString destination =
        folder + QLatin1Char('/') + uniqueFileName(folder, base, QStringLiteral(".zip"), reserved);

    if (const auto failure = Platform::Archiver::createZip(sources, destination))
        throw ShelfBatchError::zipFailed(archiveFailureCause(*failure));
    return destination;
}

QStringList convertImages(const QList<ShelfItem>& items, ImageFileType type)
{
    if (type == ImageFileType::png)
        return writeImages(items, ImageOptions{"png", -1, 0}, QString(), QStringLiteral(".png"));
    return writeImages(items, ImageOptions{"jpeg", jpegQuality, 0}, QString(), QStringLiteral(".jpg"));
}

QStringList compressImages(const QList<ShelfItem>& items)
{
    return writeImages(items, ImageOptions{"jpeg", compressedJPEGQuality, compressedMaxDimension},
                       QStringLiteral("-compressed"), QStringLiteral(".jpg"));
}

} // namespace ShelfBatchActions

// MARK: - ShelfFileActions

namespace ShelfFileActions {

std::optional<ShelfRevealTarget> revealTarget(const ShelfItem& item)
{
    return ClipboardFileActions::revealTarget(item.clipboardItem());
}

bool reveal(const ShelfItem& item)
{
    return ClipboardFileActions::reveal(item.clipboardItem());
}

} // namespace ShelfFileActions

// MARK: - ShelfSharingService

namespace ShelfSharingService {

bool airDrop(const ShelfItem& item)
{
    return ClipboardSharingService::share(item.sharingItems());
}

} // namespace ShelfSharingService

} // namespace QuillomareMac
