#include "MacFileContent.h"

#include <Platform/StandardFolders.h>
#include <Platform/Workspace.h>
#include <QuillomareCore/Errors.h>
#include <QuillomareCore/Files.h>
#include <QuillomareCore/Foundation.h>
#include <QuillomareCore/Language.h>

#include <QBuffer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QImage>
#include <QImageReader>
#include <QMutex>
#include <QMutexLocker>
#include <QSaveFile>
#include <QTemporaryFile>

#include <algorithm>
#include <cerrno>
#include <sys/stat.h>
#include <unistd.h>

namespace QuillomareMac {

namespace Language = QuillomareCore::Language;

using QuillomareCore::ClipboardItem;

namespace {

const QString productFolderName = QStringLiteral("Quillomare");

// Creates the folder and every missing parent. The folders we make hold what people copied, so
// they are user-only; folders that already exist are left as they are. On failure `error` gets
// the errno of the step that failed and `failedPath` the folder that could not be made.
bool makeUserOnlyFolder(const QString& path, int& error, QString& failedPath)
{
    if (QFileInfo(path).isDir())
        return true;
    const QString parent = QFileInfo(path).path();
    if (parent != path && !makeUserOnlyFolder(parent, error, failedPath))
        return false;
    if (::mkdir(QFile::encodeName(path).constData(), 0700) == 0)
        return true;
    const int mkdirError = errno;
    if (mkdirError == EEXIST && QFileInfo(path).isDir())
        return true; // made meanwhile by someone else
    error = mkdirError;
    failedPath = path;
    return false;
}

bool makeUserOnlyFolder(const QString& path)
{
    int error = 0;
    QString failedPath;
    return makeUserOnlyFolder(path, error, failedPath);
}

// The program's folder and those below it down to `path` are closed to others even when they
// were there before (made by an older version, or by hand, at 0755): what is put there comes
// from the history.
void closeProgramFolders(const QString& path)
{
    QString root = path;
    while (QFileInfo(root).fileName() != productFolderName && QFileInfo(root).path() != root)
        root = QFileInfo(root).path();
    if (QFileInfo(root).fileName() != productFolderName)
        root = path;
    try {
        QuillomareCore::Files::makePrivateFolder(path, root);
    } catch (const QuillomareCore::Error&) {
        // One of another user, say: the file written there says what went wrong, if anything.
    }
}

// A file is taken for an image by its header: a format the reader knows and, where the format
// states one, a size with pixels in it. Decoding is what previews do, later and scaled; here it
// would cost a second for a 24-megapixel photo, and fail outright for one beyond the reader's
// allocation limit, which is no less an image.
bool hasImageHeader(QImageReader& reader)
{
    if (!reader.canRead())
        return false;
    if (!reader.supportsOption(QImageIOHandler::Size))
        return true;
    const QSize size = reader.size();
    return size.isValid() && !size.isEmpty();
}

// Previews ask about the same files again and again as rows are drawn. The answer is kept per
// file identity and thrown away as soon as the file's size, modification or change time differs,
// so an edited or replaced file is judged afresh.
struct ImageCheck
{
    qint64 size = 0;
    timespec modified{};
    timespec changed{};
    bool isImage = false;
};

bool sameStamp(const ImageCheck& check, const struct stat& info)
{
    return check.size == info.st_size && check.modified.tv_sec == info.st_mtim.tv_sec
        && check.modified.tv_nsec == info.st_mtim.tv_nsec && check.changed.tv_sec == info.st_ctim.tv_sec
        && check.changed.tv_nsec == info.st_ctim.tv_nsec;
}

bool fileLoadsAsImage(const QString& path)
{
    struct stat info{};
    if (::stat(QFile::encodeName(path).constData(), &info) != 0 || !S_ISREG(info.st_mode))
        return false;

    static QMutex mutex;
    static QHash<std::pair<quint64, quint64>, ImageCheck> checks;
    const std::pair<quint64, quint64> identity{quint64(info.st_dev), quint64(info.st_ino)};
    {
        QMutexLocker locker(&mutex);
        const auto found = checks.constFind(identity);
        if (found != checks.constEnd() && sameStamp(*found, info))
            return found->isImage;
    }

    QImageReader reader(path);
    const bool isImage = hasImageHeader(reader);

    QMutexLocker locker(&mutex);
    if (checks.size() >= 512)
        checks.clear();
    checks.insert(identity, ImageCheck{qint64(info.st_size), info.st_mtim, info.st_ctim, isImage});
    return isImage;
}

// An absolute path with "." and ".." resolved by name, as a standardised file URL would have it.
QString standardizedPath(const QString& path)
{
    return QDir::cleanPath(QFileInfo(path).absoluteFilePath());
}

QString firstIDGroup(const QUuid& id)
{
    return QuillomareCore::Uuid::text(id).left(8);
}

// True when the file at `path` holds exactly `bytes`; compared in pieces so that a large image
// is not held twice in memory.
bool fileHoldsBytes(const QString& path, const QByteArray& bytes)
{
    QFile file(path);
    if (!QFileInfo(path).isFile() || !file.open(QIODevice::ReadOnly) || file.size() != bytes.size())
        return false;
    constexpr qint64 pieceSize = 1 << 20;
    for (qint64 offset = 0; offset < bytes.size(); offset += pieceSize) {
        const QByteArray piece = file.read(std::min(pieceSize, bytes.size() - offset));
        if (piece.isEmpty() || QByteArrayView(piece) != QByteArrayView(bytes).sliced(offset, piece.size()))
            return false;
    }
    return file.atEnd();
}

[[noreturn]] void throwFolderError(const QString& path, int error)
{
    const QString cause = qt_error_string(error);
    throw QuillomareCore::FileSystemError(
        Language::text(QStringLiteral("无法创建文件夹“%1”：%2"), QStringLiteral("Could not create the folder “%1”: %2"))
            .arg(path, cause));
}

[[noreturn]] void throwWriteError(const QString& path, const QString& cause)
{
    throw QuillomareCore::FileSystemError(
        Language::text(QStringLiteral("无法写入文件“%1”：%2"), QStringLiteral("Could not write the file “%1”: %2"))
            .arg(path, cause));
}

// Deletes a clean-up folder when nothing but hidden files (left by file managers) remains in it.
void removeFolderIfEmpty(const QString& folder)
{
    const QFileInfo info(folder);
    if (info.isSymLink()) {
        // Never empty what a link points at: that folder is not ours. A link to a folder with
        // nothing visible in it goes; the folder it names stays untouched.
        if (!info.isDir())
            return;
        const QStringList names =
            QDir(folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot);
        if (std::all_of(names.begin(), names.end(), [](const QString& name) { return name.startsWith(u'.'); }))
            QFile::remove(folder);
        return;
    }
    if (!info.isDir())
        return;
    QDir dir(folder);
    if (!dir.isReadable())
        return;
    const QStringList names = dir.entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot);
    const bool onlyHidden =
        std::all_of(names.begin(), names.end(), [](const QString& name) { return name.startsWith(u'.'); });
    if (onlyHidden)
        dir.removeRecursively();
}

std::optional<QString> pngExportPath(const QUuid& itemID)
{
    const QString caches = Platform::StandardFolders::caches();
    if (caches.isEmpty())
        return std::nullopt;
    return caches + u'/' + productFolderName + QStringLiteral("/DragExports/") + QuillomareCore::Uuid::text(itemID)
        + QStringLiteral("/Quillomare-") + firstIDGroup(itemID).toLower() + QStringLiteral(".png");
}

// Replaces the file in one step, so that a program reading it (a drop target) sees the old or
// the new image, never half of one. Not synced to disk: the file lives in the caches folder and
// is written again at the next drag, and a sync costs a quarter of a second at the start of a drag.
bool replaceFileContents(const QString& path, const QByteArray& bytes)
{
    QTemporaryFile temporary(QFileInfo(path).path() + QStringLiteral("/.Quillomare-XXXXXX.part"));
    if (!temporary.open() || temporary.write(bytes) != bytes.size() || !temporary.flush())
        return false;
    if (::rename(QFile::encodeName(temporary.fileName()).constData(), QFile::encodeName(path).constData()) != 0)
        return false;
    temporary.setAutoRemove(false); // its name is now the target's
    return true;
}

} // namespace

// MARK: - MacFileContent

namespace MacFileContent {

const QSet<QString>& imageExtensions()
{
    static const QSet<QString> extensions{
        QStringLiteral("png"),  QStringLiteral("jpg"),  QStringLiteral("jpeg"), QStringLiteral("heic"),
        QStringLiteral("heif"), QStringLiteral("gif"),  QStringLiteral("webp"), QStringLiteral("tif"),
        QStringLiteral("tiff"), QStringLiteral("bmp"),  QStringLiteral("ico"),
    };
    return extensions;
}

QStringList cleanPaths(const QStringList& paths)
{
    QStringList cleaned;
    cleaned.reserve(paths.size());
    for (const QString& path : paths) {
        QString trimmed = QuillomareCore::Text::trimmed(path);
        if (!trimmed.isEmpty())
            cleaned.append(std::move(trimmed));
    }
    return cleaned;
}

bool isImageFilePath(const QString& path)
{
    if (path.isEmpty())
        return false;
    const QString extension = QFileInfo(path).suffix().toLower();
    if (!imageExtensions().contains(extension))
        return false;
    return fileLoadsAsImage(path);
}

bool allAreImageFiles(const QStringList& paths)
{
    const QStringList cleaned = cleanPaths(paths);
    if (cleaned.isEmpty())
        return false;
    return std::all_of(cleaned.begin(), cleaned.end(), [](const QString& path) { return isImageFilePath(path); });
}

QList<QUrl> revealableFileURLs(const QStringList& paths)
{
    QList<QUrl> urls;
    for (const QString& path : cleanPaths(paths)) {
        const QString standardized = standardizedPath(path);
        if (QFileInfo::exists(standardized))
            urls.append(QUrl::fromLocalFile(standardized));
    }
    return urls;
}

std::optional<std::pair<QByteArray, QSize>> pngData(const QByteArray& bytes, const QString& type)
{
    if (type == Platform::PasteboardType::png) {
        // Decoded once all the same: a PNG cut short keeps a valid header, and kept as it came it
        // would be an entry nobody can open.
        QBuffer buffer;
        buffer.setData(bytes);
        QImageReader reader(&buffer, "png");
        if (const QImage image = reader.read(); !image.isNull())
            return std::pair(bytes, image.size());
    }
    QImage image;
    if (!image.loadFromData(bytes))
        return std::nullopt;
    QByteArray png;
    QBuffer buffer(&png);
    buffer.open(QIODevice::WriteOnly);
    if (!image.save(&buffer, "PNG"))
        return std::nullopt;
    return std::pair(png, image.size());
}

} // namespace MacFileContent

// MARK: - ClipboardFileActions

namespace ClipboardFileActions {

std::optional<ShelfRevealTarget> revealTarget(const ClipboardItem& item)
{
    if (!item.payload.isFileURLs())
        return std::nullopt;
    ShelfRevealTarget target;
    target.urls = MacFileContent::revealableFileURLs(item.payload.fileURLsValue());
    if (target.urls.isEmpty())
        return std::nullopt;
    if (target.urls.size() == 1) {
        const QString path = target.urls.first().toLocalFile();
        target.primaryFilePath = path;
        target.rootedAtPath = QFileInfo(path).path();
    }
    return target;
}

bool reveal(const ClipboardItem& item)
{
    const std::optional<ShelfRevealTarget> target = revealTarget(item);
    if (!target)
        return false;
    Platform::Workspace& workspace = Platform::Workspace::shared();
    if (target->primaryFilePath && target->rootedAtPath
        && workspace.selectFile(*target->primaryFilePath, *target->rootedAtPath))
        return true;
    // Nothing on the desktop may be able to show it: the caller then says so.
    return workspace.activateFileViewerSelecting(target->urls);
}

} // namespace ClipboardFileActions

// MARK: - ClipboardImageExportStore

namespace ClipboardImageExportStore {

QString baseFolderPath()
{
    QString root = Platform::StandardFolders::applicationSupport();
    if (root.isEmpty())
        root = Platform::StandardFolders::temporary();
    return root + u'/' + productFolderName;
}

QString exportFolderPath()
{
    return baseFolderPath() + QStringLiteral("/ExportedImages");
}

QStringList cleanupFolderPaths()
{
    // Exports may sit in any of the folders earlier versions wrote them to. The two Chinese
    // names are the product's short name "夸洛玛" and its full name "夸洛玛剪贴板"; they are
    // fixed folder names, looked in whatever the interface language.
    const QString base = baseFolderPath() + u'/';
    return {
        exportFolderPath(),
        base + QStringLiteral("夸洛玛"),
        base + productFolderName,
        base + QStringLiteral("夸洛玛剪贴板"),
    };
}

QString exportedFileName(const ClipboardItem& item)
{
    return QStringLiteral("Quillomare-") + item.createdAt.toLocalTime().toString(QStringLiteral("yyyyMMdd-HHmmss"))
        + u'-' + firstIDGroup(item.id) + QStringLiteral(".png");
}

std::optional<QString> exportImage(const ClipboardItem& item)
{
    if (!item.payload.isImagePNG() || item.isSensitive)
        return std::nullopt;
    const QByteArray png = item.payload.imagePNGValue();
    if (png.isEmpty())
        return std::nullopt;

    const QString folder = exportFolderPath();
    const QString path = folder + u'/' + exportedFileName(item);

    // An entry is written once. The file is only taken as that export when it holds exactly the
    // entry's bytes: a file cut short by a crash of an older version, or anything else that came
    // to have this name, is replaced.
    if (fileHoldsBytes(path, png))
        return path;

    int error = 0;
    QString failedFolder;
    if (!makeUserOnlyFolder(folder, error, failedFolder))
        throwFolderError(failedFolder, error);
    closeProgramFolders(folder);

    // Written aside and renamed over the path, so that a file at the path is always complete.
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        throwWriteError(path, file.errorString());
    file.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner);
    if (file.write(png) != png.size()) {
        const QString cause = file.errorString();
        file.cancelWriting();
        throwWriteError(path, cause);
    }
    if (!file.commit())
        throwWriteError(path, file.errorString());
    return path;
}

void removeExportedFiles(const QList<ClipboardItem>& items)
{
    if (items.isEmpty())
        return;
    const QStringList folders = cleanupFolderPaths();
    for (const ClipboardItem& item : items) {
        const QString name = exportedFileName(item);
        for (const QString& folder : folders)
            QFile::remove(folder + u'/' + name);
    }
    for (const QString& folder : folders)
        removeFolderIfEmpty(folder);
}

} // namespace ClipboardImageExportStore

// MARK: - DragExportFileStore

namespace DragExportFileStore {

std::optional<Platform::PasteboardObject> pngFileWriter(const QByteArray& data, const QUuid& itemID)
{
    if (data.isEmpty() || QImage::fromData(data).isNull())
        return std::nullopt;
    const std::optional<QString> path = pngExportPath(itemID);
    if (!path)
        return std::nullopt;
    if (!makeUserOnlyFolder(QFileInfo(*path).path()))
        return std::nullopt;
    closeProgramFolders(QFileInfo(*path).path());
    if (!replaceFileContents(*path, data))
        return std::nullopt;
    return Platform::PasteboardObject(QUrl::fromLocalFile(*path));
}

QList<Platform::PasteboardObject> fileURLWriters(const QStringList& paths)
{
    QList<Platform::PasteboardObject> writers;
    for (const QString& path : MacFileContent::cleanPaths(paths)) {
        const QString absolute = QFileInfo(path).absoluteFilePath();
        if (QFileInfo::exists(absolute))
            writers.append(QUrl::fromLocalFile(absolute));
    }
    return writers;
}

} // namespace DragExportFileStore

// MARK: - Previews

namespace MacPreview {

bool hasMacPreviewImagePayload(const ClipboardItem& item)
{
    if (item.payload.isImagePNG())
        return item.payload.imagePNGByteCount() > 0;
    return macPreviewImageFilePath(item).has_value();
}

std::optional<QString> macPreviewImageFilePath(const ClipboardItem& item)
{
    if (!item.payload.isFileURLs())
        return std::nullopt;
    const QStringList cleaned = MacFileContent::cleanPaths(item.payload.fileURLsValue());
    if (cleaned.size() != 1 || !MacFileContent::isImageFilePath(cleaned.first()))
        return std::nullopt;
    return cleaned.first();
}

} // namespace MacPreview

} // namespace QuillomareMac
