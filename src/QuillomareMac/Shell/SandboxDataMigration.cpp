#include "SandboxDataMigration.h"

#include <Platform/StandardFolders.h>
#include <QuillomareCore/Errors.h>
#include <QuillomareCore/Files.h>
#include <QuillomareCore/Language.h>

#include <QByteArrayList>
#include <QDir>
#include <QFile>
#include <QLoggingCategory>

#include <cerrno>
#include <cstdio>
#include <dirent.h>
#include <fcntl.h>
#include <optional>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>

Q_LOGGING_CATEGORY(lcMigration, "quillomare.migration", QtInfoMsg)

namespace QuillomareMac::SandboxDataMigration {

namespace Language = QuillomareCore::Language;

namespace {

namespace Files = QuillomareCore::Files;
using QuillomareCore::FileSystemError;

const QString programFolderName = QStringLiteral("Quillomare");
const QByteArray markerName = QByteArrayLiteral("shelf-sessions.json");
const QByteArray stagingPrefix = QByteArrayLiteral(".Quillomare.migrating-");

constexpr int folderFlags = O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC;

class Descriptor
{
public:
    explicit Descriptor(int descriptor = -1) : m_descriptor(descriptor) {}
    ~Descriptor() { reset(); }
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;

    void reset(int descriptor = -1)
    {
        if (m_descriptor >= 0)
            ::close(m_descriptor);
        m_descriptor = descriptor;
    }
    int get() const { return m_descriptor; }
    int release() { return std::exchange(m_descriptor, -1); }
    bool isValid() const { return m_descriptor >= 0; }

private:
    int m_descriptor;
};

[[noreturn]] void failCopy(const QString& path, int error)
{
    throw FileSystemError(Language::text(QStringLiteral("无法复制“%1”：%2"), QStringLiteral("Couldn't copy “%1”: %2"))
                              .arg(QDir::toNativeSeparators(path), Files::reason(error)));
}

[[noreturn]] void failPlacing(const QString& path, int error)
{
    throw FileSystemError(
        Language::text(QStringLiteral("无法把“%1”放到位：%2"), QStringLiteral("Couldn't put “%1” in place: %2"))
            .arg(QDir::toNativeSeparators(path), Files::reason(error)));
}

QString child(const QString& folder, const QByteArray& name)
{
    return folder + QLatin1Char('/') + QFile::decodeName(name);
}

std::optional<struct stat> statAt(int folder, const char* name)
{
    struct stat status = {};
    if (::fstatat(folder, name, &status, AT_SYMLINK_NOFOLLOW) != 0)
        return std::nullopt;
    return status;
}

std::optional<struct stat> statPath(const QString& path)
{
    return statAt(AT_FDCWD, QFile::encodeName(path).constData());
}

// The names in a folder; errno is set and the list empty when it cannot be read.
std::optional<QByteArrayList> entryNames(int folder)
{
    // A descriptor of its own, so that reading does not move the caller's offset.
    const int descriptor = ::openat(folder, ".", folderFlags);
    DIR* directory = descriptor >= 0 ? ::fdopendir(descriptor) : nullptr;
    if (!directory) {
        const int error = errno;
        if (descriptor >= 0)
            ::close(descriptor);
        errno = error;
        return std::nullopt;
    }
    QByteArrayList names;
    for (;;) {
        errno = 0;
        const dirent* entry = ::readdir(directory);
        if (!entry)
            break;
        const QByteArray name(entry->d_name);
        if (name != "." && name != "..")
            names.append(name);
    }
    const int error = errno;
    ::closedir(directory);
    errno = error;
    if (error != 0)
        return std::nullopt;
    return names;
}

// Deletes `name` in `folder` with everything in it, following no link; best effort.
void removeTree(int folder, const QByteArray& name)
{
    const auto status = statAt(folder, name.constData());
    if (status && S_ISDIR(status->st_mode)) {
        const Descriptor inside(::openat(folder, name.constData(), folderFlags));
        if (inside.isValid()) {
            for (const QByteArray& entry : entryNames(inside.get()).value_or(QByteArrayList()))
                removeTree(inside.get(), entry);
        }
        ::unlinkat(folder, name.constData(), AT_REMOVEDIR);
    } else {
        ::unlinkat(folder, name.constData(), 0);
    }
}

// renameat() that never replaces what is at the destination: 0, or the errno (EEXIST when taken).
int moveWithoutReplacing(int fromFolder, const char* name, int toFolder, const char* toName)
{
    if (::renameat2(fromFolder, name, toFolder, toName, RENAME_NOREPLACE) == 0)
        return 0;
    if (errno != EINVAL && errno != ENOSYS)
        return errno;
    // A file system without the flag. Nothing else writes here during launch, so look, then move.
    if (statAt(toFolder, toName))
        return EEXIST;
    return ::renameat(fromFolder, name, toFolder, toName) == 0 ? 0 : errno;
}

// Whole file contents: in the kernel (or as a reflink) where the file system can, else by reads
// and writes. 0 or the errno.
int copyContents(int from, int to)
{
    for (;;) {
        const ssize_t copied = ::copy_file_range(from, nullptr, to, nullptr, size_t(1) << 30, 0);
        if (copied > 0)
            continue;
        if (copied == 0)
            return 0;
        if (errno == EINTR)
            continue;
        if (errno != EXDEV && errno != EINVAL && errno != ENOSYS && errno != EOPNOTSUPP)
            return errno;
        break; // the offsets moved along, so plain copying goes on from where this stopped
    }
    QByteArray buffer(1 << 20, Qt::Uninitialized);
    for (;;) {
        const ssize_t got = ::read(from, buffer.data(), size_t(buffer.size()));
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0)
            return got < 0 ? errno : 0;
        for (ssize_t done = 0; done < got;) {
            const ssize_t written = ::write(to, buffer.constData() + done, size_t(got - done));
            if (written < 0 && errno == EINTR)
                continue;
            if (written < 0)
                return errno;
            done += written;
        }
    }
}

// The hidden folder the copy is assembled in (beside the target, or inside it when it exists), locked while it is in
// use so that the clean-up of a later start can tell it from one that a killed run left behind. Deleted with whatever
// it still holds unless it was renamed into place whole.
class Staging
{
public:
    Staging(int parentFolder, const QString& parentPath) : m_parentFolder(parentFolder)
    {
        QByteArray path = QFile::encodeName(parentPath) + '/' + stagingPrefix + "XXXXXX";
        if (!::mkdtemp(path.data())) // 0700
            failPlacing(QFile::decodeName(path), errno);
        m_name = path.mid(path.lastIndexOf('/') + 1);
        m_folder.reset(::openat(parentFolder, m_name.constData(), folderFlags));
        if (!m_folder.isValid()) {
            const int error = errno;
            ::unlinkat(parentFolder, m_name.constData(), AT_REMOVEDIR);
            failPlacing(QFile::decodeName(path), error);
        }
        ::flock(m_folder.get(), LOCK_EX);
    }
    ~Staging()
    {
        if (!m_landed)
            removeTree(m_parentFolder, m_name);
    }
    Staging(const Staging&) = delete;
    Staging& operator=(const Staging&) = delete;

    int folder() const { return m_folder.get(); }
    const QByteArray& name() const { return m_name; }
    void markLanded() { m_landed = true; }

    // Deletes the staging folders of runs that were killed; ones in use are left alone.
    static void removeLeftovers(int parentFolder)
    {
        for (const QByteArray& name : entryNames(parentFolder).value_or(QByteArrayList())) {
            if (!name.startsWith(stagingPrefix))
                continue;
            const Descriptor folder(::openat(parentFolder, name.constData(), folderFlags));
            struct stat status = {};
            if (folder.isValid() && ::fstat(folder.get(), &status) == 0 && status.st_uid == ::geteuid() &&
                ::flock(folder.get(), LOCK_EX | LOCK_NB) == 0)
                removeTree(parentFolder, name);
        }
    }

private:
    int m_parentFolder;
    QByteArray m_name;
    Descriptor m_folder;
    bool m_landed = false;
};

// Copies what the source holds and `target` lacks into `staging`. Folders present in both are
// made in the staging folder too and filled with what the target's one lacks. `target` is -1
// when there is no such folder in the target.
void stage(int source, const QString& sourcePath, int staging, int target)
{
    const auto names = entryNames(source);
    if (!names)
        failCopy(sourcePath, errno);
    for (const QByteArray& name : *names) {
        const QString path = child(sourcePath, name);
        const char* const raw = name.constData();
        const auto status = statAt(source, raw);
        if (!status)
            failCopy(path, errno);
        const bool isFolder = S_ISDIR(status->st_mode);
        if (!isFolder && !S_ISREG(status->st_mode) && !S_ISLNK(status->st_mode))
            continue; // FIFOs, sockets, devices: nothing a later start could use

        Descriptor targetFolder;
        if (target >= 0) {
            if (const auto existing = statAt(target, raw)) {
                if (!isFolder || !S_ISDIR(existing->st_mode))
                    continue; // the target's own file stays as it is
                targetFolder.reset(::openat(target, raw, folderFlags));
                if (!targetFolder.isValid())
                    failCopy(path, errno);
            } else if (errno != ENOENT) {
                failCopy(path, errno);
            }
        }

        if (isFolder) {
            const Descriptor from(::openat(source, raw, folderFlags));
            if (!from.isValid() || ::mkdirat(staging, raw, 0700) != 0)
                failCopy(path, errno);
            const Descriptor to(::openat(staging, raw, folderFlags));
            if (!to.isValid() || ::fchmod(to.get(), 0700) != 0)
                failCopy(path, errno);
            stage(from.get(), path, to.get(), targetFolder.get());
        } else if (S_ISLNK(status->st_mode)) {
            // Copied as it is: a link is never followed, in or out of the folder.
            QByteArray text(qsizetype(status->st_size) + 1, Qt::Uninitialized);
            const ssize_t length = ::readlinkat(source, raw, text.data(), size_t(text.size()));
            if (length < 0 || length >= text.size())
                failCopy(path, length < 0 ? errno : EIO); // changed under us: the next start tries again
            text.truncate(length);
            if (::symlinkat(text.constData(), staging, raw) != 0)
                failCopy(path, errno);
        } else {
            const Descriptor from(::openat(source, raw, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
            if (!from.isValid())
                failCopy(path, errno);
            struct stat opened = {};
            if (::fstat(from.get(), &opened) != 0)
                failCopy(path, errno);
            if (!S_ISREG(opened.st_mode))
                continue; // replaced by a FIFO or device since it was listed
            ::fcntl(from.get(), F_SETFL, ::fcntl(from.get(), F_GETFL) & ~O_NONBLOCK);
            Descriptor to(::openat(staging, raw, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600));
            if (!to.isValid() || ::fchmod(to.get(), 0600) != 0)
                failCopy(path, errno);
            if (const int error = copyContents(from.get(), to.get()))
                failCopy(path, error);
            const timespec times[2] = {opened.st_atim, opened.st_mtim};
            ::futimens(to.get(), times);
            const int closed = ::close(to.get());
            to.release();
            if (closed != 0)
                failCopy(path, errno);
        }
    }
}

// Moves into `target` each piece of `staging` it lacks; folders both have are merged level by
// level. What the target already has is kept. The marker at the top is left for the caller.
void land(int staging, int target, const QString& targetPath, bool isTop)
{
    const auto names = entryNames(staging);
    if (!names)
        failPlacing(targetPath, errno);
    for (const QByteArray& name : *names) {
        if (isTop && name == markerName)
            continue;
        const char* const raw = name.constData();
        const int error = moveWithoutReplacing(staging, raw, target, raw);
        if (error == 0)
            continue;
        const QString path = child(targetPath, name);
        if (error != EEXIST)
            failPlacing(path, error);
        const auto staged = statAt(staging, raw);
        const auto existing = statAt(target, raw);
        if (!staged || !existing || !S_ISDIR(staged->st_mode) || !S_ISDIR(existing->st_mode))
            continue;
        const Descriptor from(::openat(staging, raw, folderFlags));
        const Descriptor to(::openat(target, raw, folderFlags));
        if (!from.isValid() || !to.isValid())
            failPlacing(path, errno);
        land(from.get(), to.get(), path, false);
    }
}

void migrate(const QString& supportPath, const QString& targetPath, const QString& sourcePath)
{
    // Makes the data folder and its missing parents (user-only) and changes none that exist.
    Files::makePrivateFolder(supportPath, targetPath);
    const Descriptor support(::open(QFile::encodeName(supportPath).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!support.isValid())
        failPlacing(supportPath, errno);
    Staging::removeLeftovers(support.get());

    const Descriptor source(::open(QFile::encodeName(sourcePath).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!source.isValid())
        failCopy(sourcePath, errno);

    const QByteArray targetName = QFile::encodeName(programFolderName);
    Descriptor target;
    if (statAt(support.get(), targetName.constData())) {
        Files::makePrivateFolder(targetPath); // ours alone, and a folder at all
        // The folder itself may be a link the user made (to a synced folder, say); below it
        // nothing is followed.
        target.reset(::openat(support.get(), targetName.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
        if (!target.isValid())
            failPlacing(targetPath, errno);
    }

    // Assembled on the file system it lands on, so that only renames remain once it is complete.
    if (target.isValid())
        Staging::removeLeftovers(target.get());
    Staging staging(target.isValid() ? target.get() : support.get(), target.isValid() ? targetPath : supportPath);
    stage(source.get(), sourcePath, staging.folder(), target.get());
    // The contents are on the disk before any name in the target points at them.
    ::syncfs(staging.folder());

    if (!target.isValid()) {
        const int error =
            moveWithoutReplacing(support.get(), staging.name().constData(), support.get(), targetName.constData());
        if (error == 0) {
            staging.markLanded();
            ::fsync(support.get());
            return;
        }
        if (error != EEXIST)
            failPlacing(targetPath, error);
        // Made meanwhile: merge into it like into any existing target.
        target.reset(::openat(support.get(), targetName.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
        if (!target.isValid())
            failPlacing(targetPath, errno);
    }

    land(staging.folder(), target.get(), targetPath, true);
    // Everything else is in place, and on the disk, before the marker says so.
    ::syncfs(target.get());
    const int error =
        moveWithoutReplacing(staging.folder(), markerName.constData(), target.get(), markerName.constData());
    if (error != 0 && error != EEXIST && !(error == ENOENT && statAt(target.get(), markerName.constData())))
        failPlacing(child(targetPath, markerName), error);
    ::fsync(target.get());
}

} // namespace

QString sourceFolder()
{
    return QDir::homePath() + QStringLiteral("/.var/app/") + sandboxAppID + QStringLiteral("/data/") +
           programFolderName;
}

QString targetFolder()
{
    const QString support = Platform::StandardFolders::applicationSupport();
    return support.isEmpty() ? QString() : support + QLatin1Char('/') + programFolderName;
}

void migrateIfNeeded()
{
    const QString supportPath = Platform::StandardFolders::applicationSupport();
    if (supportPath.isEmpty())
        return;
    const QString targetPath = supportPath + QLatin1Char('/') + programFolderName;
    // Anything under the marker's name, even a link, means the target is not ours to fill.
    if (statPath(child(targetPath, markerName)))
        return;
    const QString sourcePath = sourceFolder();
    const auto sourceMarker = statPath(child(sourcePath, markerName));
    if (!sourceMarker || !S_ISREG(sourceMarker->st_mode))
        return;

    std::optional<QString> failure;
    try {
        migrate(supportPath, targetPath, sourcePath);
    } catch (const QuillomareCore::Error& error) {
        failure = error.localizedDescription();
    } catch (const std::exception& error) {
        failure = QString::fromLocal8Bit(error.what());
    }
    if (!failure)
        qCInfo(
            lcMigration, "%s",
            qUtf8Printable(
                QStringLiteral("[Quillomare] migrated sandbox data → %1").arg(QDir::toNativeSeparators(targetPath))));
    else
        qCWarning(lcMigration, "%s",
                  qUtf8Printable(QStringLiteral("[Quillomare] sandbox data migration skipped: %1").arg(*failure)));
}

} // namespace QuillomareMac::SandboxDataMigration
