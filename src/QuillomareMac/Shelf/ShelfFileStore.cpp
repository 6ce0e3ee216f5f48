#include "ShelfFileStore.h"

#include <Platform/StandardFolders.h>
#include <QuillomareCore/Foundation.h>
#include <QuillomareCore/Language.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace QuillomareMac {

namespace Language = QuillomareCore::Language;

namespace {

const QString shelfFilesName = QStringLiteral("ShelfFiles");
const QString partialSuffix = QStringLiteral(".quillomare-partial");

// Creates the folder and its missing parents; the ones made here are user-only.
int makeUserOnlyFolder(const QString& path)
{
    if (QFileInfo(path).isDir())
        return 0;
    const QString parent = QFileInfo(path).path();
    if (parent != path) {
        if (const int error = makeUserOnlyFolder(parent))
            return error;
    }
    if (::mkdir(QFile::encodeName(path).constData(), 0700) == 0)
        return 0;
    const int error = errno;
    return error == EEXIST && QFileInfo(path).isDir() ? 0 : error;
}

// The name a dropped path is kept under: its last component.
QString entryName(const QString& sourcePath)
{
    QString path = sourcePath;
    while (path.size() > 1 && path.endsWith(QLatin1Char('/')))
        path.chop(1);
    const QString name = QFileInfo(path).fileName();
    return name.isEmpty() ? QStringLiteral("Item") : name;
}

// "report.pdf", "report 2.pdf", "report 3.pdf"… (folders: "Photos", "Photos 2"…)
QString uniqueName(const QString& folder, const QString& name, bool isFolder)
{
    auto taken = [&](const QString& candidate) {
        struct stat info
        {
        };
        const QString path = folder + QLatin1Char('/') + candidate;
        return ::lstat(QFile::encodeName(path).constData(), &info) == 0 ||
               ::lstat(QFile::encodeName(folder + QStringLiteral("/.") + candidate + partialSuffix).constData(),
                       &info) == 0;
    };
    if (!taken(name))
        return name;
    const qsizetype dot = isFolder ? -1 : name.lastIndexOf(QLatin1Char('.'));
    const QString base = dot > 0 ? name.left(dot) : name;
    const QString extension = dot > 0 ? name.mid(dot) : QString();
    for (int number = 2;; ++number) {
        const QString candidate = base + QLatin1Char(' ') + QString::number(number) + extension;
        if (!taken(candidate))
            return candidate;
    }
}

class Copier
{
public:
    Copier(QString sourcePath, const QString& itemFolder, const std::function<bool()>& isCancelled)
        : m_sourcePath(std::move(sourcePath)), m_isCancelled(isCancelled)
    {
        // A dropped folder that holds the shelf's own files (the home folder, say) must not be
        // copied into itself as the copy grows.
        struct stat info
        {
        };
        if (::stat(QFile::encodeName(itemFolder).constData(), &info) == 0)
            m_itemFolder = {info.st_dev, info.st_ino};
    }

    bool copy(const QString& source, const QString& destination, bool followLink)
    {
        const QByteArray encoded = QFile::encodeName(source);
        struct stat info
        {
        };
        if ((followLink ? ::stat(encoded.constData(), &info) : ::lstat(encoded.constData(), &info)) != 0)
            return fail(source, errno);
        if (S_ISREG(info.st_mode))
            return copyFile(source, encoded, destination, info);
        if (S_ISDIR(info.st_mode)) {
            if (std::pair(info.st_dev, info.st_ino) == m_itemFolder)
                return true;
            return copyFolder(source, encoded, destination, info);
        }
        if (S_ISLNK(info.st_mode))
            return copyLink(source, encoded, destination);
        // A pipe or a device dropped by itself cannot be kept; inside a folder it is left out.
        return followLink ? fail(source, ENOTSUP) : true;
    }

    bool cancelled() const { return m_cancelled; }
    const std::optional<ShelfFileStore::CopyFailure>& failure() const { return m_failure; }

private:
    bool checkCancelled()
    {
        if (!m_cancelled && m_isCancelled && m_isCancelled())
            m_cancelled = true;
        return m_cancelled;
    }

    bool fail(const QString& path, int error)
    {
        if (!m_failure)
            m_failure = ShelfFileStore::CopyFailure{m_sourcePath, path, error, error == ENOENT && path == m_sourcePath};
        return false;
    }

    bool copyFile(const QString& source, const QByteArray& encoded, const QString& destination, const struct stat& info)
    {
        if (checkCancelled())
            return false;
        const int in = ::open(encoded.constData(), O_RDONLY | O_CLOEXEC);
        if (in < 0)
            return fail(source, errno);
        const QByteArray encodedDestination = QFile::encodeName(destination);
        const int out = ::open(encodedDestination.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
        if (out < 0) {
            const int error = errno;
            ::close(in);
            return fail(destination, error);
        }
        const bool copied = copyContents(in, out, source, destination);
        ::close(in);
        bool ok = copied;
        if (ok) {
            // The owner's execute bit survives (a dropped script still runs); nobody else gets in.
            ::fchmod(out, (info.st_mode & 0700) | 0600);
            const timespec times[2] = {info.st_atim, info.st_mtim};
            ::futimens(out, times);
        }
        if (::close(out) != 0 && ok)
            ok = fail(destination, errno);
        return ok;
    }

    bool copyContents(int in, int out, const QString& source, const QString& destination)
    {
        // The kernel copies without the data passing through us (and shares blocks where the
        // file system can); pieces keep a stop request from waiting on a whole film.
        constexpr size_t piece = 32 * 1024 * 1024;
        bool kernelCopy = true;
        for (;;) {
            if (checkCancelled())
                return false;
            if (kernelCopy) {
                const ssize_t copied = ::copy_file_range(in, nullptr, out, nullptr, piece, 0);
                if (copied > 0)
                    continue;
                if (copied == 0)
                    return true;
                const int error = errno;
                if (error == EXDEV || error == ENOSYS || error == EINVAL || error == EOPNOTSUPP || error == EPERM) {
                    kernelCopy = false; // nothing was written by the failed call: go on by hand
                    continue;
                }
                return fail(error == ENOSPC || error == EDQUOT ? destination : source, error);
            }
            static thread_local std::vector<char> buffer(1024 * 1024);
            const ssize_t got = ::read(in, buffer.data(), buffer.size());
            if (got < 0) {
                if (errno == EINTR)
                    continue;
                return fail(source, errno);
            }
            if (got == 0)
                return true;
            for (ssize_t written = 0; written < got;) {
                const ssize_t n = ::write(out, buffer.data() + written, size_t(got - written));
                if (n < 0) {
                    if (errno == EINTR)
                        continue;
                    return fail(destination, errno);
                }
                written += n;
            }
        }
    }

    bool copyFolder(const QString& source, const QByteArray& encoded, const QString& destination,
                    const struct stat& info)
    {
        if (checkCancelled())
            return false;
        const QByteArray encodedDestination = QFile::encodeName(destination);
        if (::mkdir(encodedDestination.constData(), 0700) != 0)
            return fail(destination, errno);
        DIR* folder = ::opendir(encoded.constData());
        if (!folder)
            return fail(source, errno);
        std::vector<QByteArray> children;
        errno = 0;
        while (const dirent* entry = ::readdir(folder)) {
            if (std::strcmp(entry->d_name, ".") != 0 && std::strcmp(entry->d_name, "..") != 0)
                children.emplace_back(entry->d_name);
            errno = 0;
        }
        const int listError = errno;
        ::closedir(folder);
        if (listError != 0)
            return fail(source, listError);
        for (const QByteArray& child : children) {
            const QString name = QFile::decodeName(child);
            if (!copy(source + QLatin1Char('/') + name, destination + QLatin1Char('/') + name, false))
                return false;
        }
        ::chmod(encodedDestination.constData(), (info.st_mode & 0700) | 0700);
        const timespec times[2] = {info.st_atim, info.st_mtim};
        ::utimensat(AT_FDCWD, encodedDestination.constData(), times, 0);
        return true;
    }

    bool copyLink(const QString& source, const QByteArray& encoded, const QString& destination)
    {
        std::vector<char> target(4096);
        const ssize_t length = ::readlink(encoded.constData(), target.data(), target.size() - 1);
        if (length < 0)
            return fail(source, errno);
        target[size_t(length)] = '\0';
        if (::symlink(target.data(), QFile::encodeName(destination).constData()) != 0)
            return fail(destination, errno);
        return true;
    }

    QString m_sourcePath;
    const std::function<bool()>& m_isCancelled;
    std::pair<dev_t, ino_t> m_itemFolder{0, 0};
    std::optional<ShelfFileStore::CopyFailure> m_failure;
    bool m_cancelled = false;
};

void removePath(const QString& path)
{
    const QFileInfo info(path);
    if (info.isDir() && !info.isSymLink())
        QDir(path).removeRecursively();
    else
        QFile::remove(path);
}

} // namespace

namespace ShelfFileStore {

QString folderPath(const QString& shelfFileURL)
{
    return QFileInfo(shelfFileURL).absolutePath() + QLatin1Char('/') + shelfFilesName;
}

QString defaultFolderPath()
{
    QString root = Platform::StandardFolders::applicationSupport();
    if (root.isEmpty())
        root = Platform::StandardFolders::temporary();
    return root + QStringLiteral("/Quillomare/") + shelfFilesName;
}

QString itemFolderPath(const QString& root, const QUuid& itemID)
{
    return root + QLatin1Char('/') + QuillomareCore::Uuid::text(itemID);
}

bool isPrivateCopy(const QString& root, const QUuid& itemID, const QString& path)
{
    const QString folder = QDir::cleanPath(itemFolderPath(root, itemID)) + QLatin1Char('/');
    return QDir::cleanPath(path).startsWith(folder);
}

CopyOutcome makePrivateCopy(const QString& root, const QUuid& itemID, const QString& sourcePath,
                            const std::function<bool()>& isCancelled)
{
    CopyOutcome outcome;
    // A source that is gone is named as such, whatever else would fail too.
    struct stat sourceInfo
    {
    };
    if (::stat(QFile::encodeName(sourcePath).constData(), &sourceInfo) != 0) {
        const int error = errno;
        outcome.failure = CopyFailure{sourcePath, sourcePath, error, error == ENOENT};
        return outcome;
    }
    const QString folder = itemFolderPath(root, itemID);
    if (const int error = makeUserOnlyFolder(folder)) {
        outcome.failure = CopyFailure{sourcePath, folder, error, false};
        return outcome;
    }

    const QString name = uniqueName(folder, entryName(sourcePath), QFileInfo(sourcePath).isDir());
    const QString partial = folder + QStringLiteral("/.") + name + partialSuffix;
    const QString destination = folder + QLatin1Char('/') + name;

    Copier copier(sourcePath, folder, isCancelled);
    const bool copied = copier.copy(sourcePath, partial, true);
    if (copied && ::rename(QFile::encodeName(partial).constData(), QFile::encodeName(destination).constData()) == 0) {
        outcome.copyPath = destination;
        return outcome;
    }
    const int renameError = copied ? errno : 0;
    removePath(partial);
    if (copier.cancelled())
        outcome.cancelled = true;
    else if (copier.failure())
        outcome.failure = copier.failure();
    else
        outcome.failure = CopyFailure{sourcePath, destination, renameError, false};
    return outcome;
}

std::optional<QString> finishedCopyPath(const QString& root, const QUuid& itemID, const QString& sourcePath)
{
    const QString path = itemFolderPath(root, itemID) + QLatin1Char('/') + entryName(sourcePath);
    struct stat info
    {
    };
    if (::lstat(QFile::encodeName(path).constData(), &info) != 0)
        return std::nullopt;
    return path;
}

void removeItemFolder(const QString& root, const QUuid& itemID)
{
    removePath(itemFolderPath(root, itemID));
}

std::optional<QString> relocatedPath(const QString& root, const QString& storedPath)
{
    const QString marker = QLatin1Char('/') + shelfFilesName + QLatin1Char('/');
    const qsizetype at = storedPath.lastIndexOf(marker);
    if (at < 0)
        return std::nullopt;
    const QString rest = storedPath.mid(at + marker.size()); // "<ID>/name…"
    const qsizetype slash = rest.indexOf(QLatin1Char('/'));
    if (slash <= 0 || !QuillomareCore::Uuid::fromText(QStringView(rest).left(slash)))
        return std::nullopt;
    const QString candidate = root + QLatin1Char('/') + rest;
    if (QDir::cleanPath(candidate) == QDir::cleanPath(storedPath))
        return std::nullopt;
    struct stat info
    {
    };
    if (::lstat(QFile::encodeName(candidate).constData(), &info) != 0)
        return std::nullopt;
    return candidate;
}

void removeUnusedFolders(const QString& root, const QSet<QUuid>& itemIDs)
{
    const QDir folder(root);
    if (!folder.exists())
        return;
    const QStringList names = folder.entryList(QDir::Dirs | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System);
    for (const QString& name : names) {
        const auto id = QuillomareCore::Uuid::fromText(name);
        if (!id)
            continue;
        const QString path = folder.filePath(name);
        if (!itemIDs.contains(*id)) {
            removePath(path);
            continue;
        }
        const QStringList partials = QDir(path).entryList({QStringLiteral(".*") + partialSuffix},
                                                          QDir::AllEntries | QDir::Hidden | QDir::System);
        for (const QString& partial : partials)
            removePath(path + QLatin1Char('/') + partial);
    }
}

QString failureDescription(const CopyFailure& failure)
{
    const QString name = entryName(failure.sourcePath);
    if (failure.sourceMissing)
        return Language::text(QStringLiteral("“%1”已不存在，无法在暂存架保留副本").arg(name),
                              QStringLiteral("“%1” no longer exists, so the shelf couldn't keep a copy").arg(name));
    const QString cause =
        failure.systemError != 0 ? QString::fromLocal8Bit(std::strerror(failure.systemError)) : QString();
    const bool elsewhere = failure.failedPath != failure.sourcePath;
    const QString where = elsewhere ? QStringLiteral("（%1）").arg(failure.failedPath) : QString();
    const QString whereEnglish = elsewhere ? QStringLiteral(" (%1)").arg(failure.failedPath) : QString();
    return Language::text(QStringLiteral("无法在暂存架保留“%1”的副本，将继续使用原文件：%2%3").arg(name, cause, where),
                          QStringLiteral("Couldn't keep a shelf copy of “%1”; the shelf keeps using the original: %2%3")
                              .arg(name, cause, whereEnglish));
}

} // namespace ShelfFileStore

} // namespace QuillomareMac
