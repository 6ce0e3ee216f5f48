#include "Files.h"

#include "Errors.h"
#include "Language.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QIODevice>

#include <atomic>
#include <cerrno>
#include <cstring>

#include <fcntl.h>
#include <mutex>
#include <signal.h>
#include <sys/mman.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace QuillomareCore::Files {

namespace {

std::atomic<int> g_injectedError{0};
std::atomic<qint64> g_injectedAfterBytes{0};
std::atomic<const std::function<void(const QString&)>*> g_beforeRename{nullptr};

QByteArray encoded(const QString& path)
{
    return QFile::encodeName(path);
}

QString native(const QString& path)
{
    return QDir::toNativeSeparators(path);
}

// A write-only device over a descriptor that remembers why the system refused a write, so the
// message can say "No space left on device" rather than a generic failure.
class DescriptorDevice final : public QIODevice
{
public:
    explicit DescriptorDevice(int descriptor) : m_descriptor(descriptor) { open(QIODevice::WriteOnly | QIODevice::Unbuffered); }

    int systemError() const { return m_error; }

    // Only back to the start, which empties the file: a producer that finds, halfway through,
    // that part of what it meant to write cannot be had writes the whole again.
    bool seek(qint64 position) override
    {
        if (position != 0 || ::lseek(m_descriptor, 0, SEEK_SET) != 0 || ::ftruncate(m_descriptor, 0) != 0)
            return false;
        m_written = 0;
        m_writeBackFrom = 0;
        return QIODevice::seek(0);
    }

protected:
    qint64 readData(char*, qint64) override { return -1; }

    qint64 writeData(const char* data, qint64 size) override
    {
        qint64 done = 0;
        while (done < size) {
            qint64 chunk = size - done;
            if (const int injected = g_injectedError.load()) {
                const qint64 allowed = g_injectedAfterBytes.load() - m_written;
                if (allowed <= 0) {
                    m_error = injected;
                    return -1;
                }
                chunk = std::min(chunk, allowed);
            }
            const ssize_t written = ::write(m_descriptor, data + done, static_cast<size_t>(chunk));
            if (written < 0) {
                if (errno == EINTR)
                    continue;
                m_error = errno;
                return -1;
            }
            done += written;
            m_written += written;
        }
        startWriteBack();
        return done;
    }

private:
    // A large file goes to the disk while the rest is still produced: the fsync before the
    // rename then waits for the tail only, not for the whole history.
    void startWriteBack()
    {
        constexpr qint64 step = 32 * 1024 * 1024;
        if (m_written - m_writeBackFrom < step)
            return;
        ::sync_file_range(m_descriptor, m_writeBackFrom, m_written - m_writeBackFrom, SYNC_FILE_RANGE_WRITE);
        m_writeBackFrom = m_written;
    }

    int m_descriptor;
    int m_error = 0;
    qint64 m_written = 0;
    qint64 m_writeBackFrom = 0;
};

const QString kTemporaryInfix = QStringLiteral(".saving-");

bool isRandomSuffix(QStringView suffix)
{
    if (suffix.size() != 6)
        return false;
    bool lower = false, other = false;
    for (const QChar c : suffix) {
        if (c.unicode() >= 0x80 || !c.isLetterOrNumber())
            return false;
        (c.isLower() ? lower : other) = true;
    }
    // Random names mix cases and digits; a word such as "backup" is somebody's own file.
    return lower && other;
}

// ".clips.json.saving-XXXXXX" is ours; "clips.json.XXXXXX" with a random suffix is what earlier
// builds (Qt's save file) left.
bool isTemporaryName(const QString& name, const QString& fileName)
{
    const QString ours = QLatin1Char('.') + fileName + kTemporaryInfix;
    if (name.startsWith(ours))
        return name.size() == ours.size() + 6;
    return name.startsWith(fileName + QLatin1Char('.')) && isRandomSuffix(QStringView(name).mid(fileName.size() + 1));
}

} // namespace

QString reason(int error)
{
    switch (error) {
    case ENOSPC:
        return Language::text(QStringLiteral("磁盘空间不足"), QStringLiteral("No space left on device"));
    case EDQUOT:
        return Language::text(QStringLiteral("超出磁盘配额"), QStringLiteral("Disk quota exceeded"));
    case EACCES:
    case EPERM:
        return Language::text(QStringLiteral("没有权限"), QStringLiteral("Permission denied"));
    case EROFS:
        return Language::text(QStringLiteral("文件系统为只读"), QStringLiteral("Read-only file system"));
    case EIO:
        return Language::text(QStringLiteral("输入/输出错误"), QStringLiteral("Input/output error"));
    case ENOENT:
        return Language::text(QStringLiteral("文件或文件夹不存在"), QStringLiteral("No such file or directory"));
    case EINVAL:
        return Language::text(QStringLiteral("不是普通文件"), QStringLiteral("Not a regular file"));
    default:
        break;
    }
    return QString::fromLocal8Bit(std::strerror(error));
}

QString shortPath(const QString& path)
{
    const QString home = QDir::homePath();
    const QString absolute = QDir::cleanPath(QFileInfo(path).absoluteFilePath());
    if (!home.isEmpty() && home != QLatin1String("/") && absolute.startsWith(home + QLatin1Char('/')))
        return native(QStringLiteral("~") + absolute.mid(home.size()));
    return native(absolute);
}

QString writeFailure(const QString& path, int error)
{
    // The reason first: a message cut to fit the island still says what went wrong.
    return Language::text(QStringLiteral("%1：无法写入“%2”"), QStringLiteral("%1 — couldn't write “%2”"))
        .arg(reason(error), shortPath(path));
}

void makePrivateFolder(const QString& folder, const QString& ownedFrom)
{
    const QString target = QDir::cleanPath(QFileInfo(folder).absoluteFilePath());
    const QString owned = QDir::cleanPath(QFileInfo(ownedFrom.isEmpty() ? folder : ownedFrom).absoluteFilePath());
    auto fail = [](const QString& chinese, const QString& english, const QString& path, int error = 0) {
        const QString text = Language::text(chinese, english).arg(native(path));
        throw FileSystemError(error ? text.arg(reason(error)) : text);
    };

    // From the root down, so that each folder is made inside one that exists.
    QString path;
    for (const QString& part : target.split(QLatin1Char('/'), Qt::SkipEmptyParts)) {
        path += QLatin1Char('/') + part;
        const QByteArray name = encoded(path);
        struct stat status = {};
        if (::lstat(name.constData(), &status) != 0) {
            // mkdir only ever takes bits away from 0700: no umask opens what we make.
            if (errno != ENOENT || (::mkdir(name.constData(), 0700) != 0 && errno != EEXIST) ||
                ::lstat(name.constData(), &status) != 0)
                fail(QStringLiteral("无法创建文件夹“%1”：%2"), QStringLiteral("Couldn't create the folder “%1”: %2"),
                     path, errno);
        }
        // A link to a folder is the user's own arrangement (the data on another disk, say): it is
        // followed, but what it points at keeps its mode.
        const bool link = S_ISLNK(status.st_mode);
        if (link && ::stat(name.constData(), &status) != 0)
            fail(QStringLiteral("无法创建文件夹“%1”：%2"), QStringLiteral("Couldn't create the folder “%1”: %2"), path,
                 errno);
        if (!S_ISDIR(status.st_mode))
            fail(QStringLiteral("“%1”不是文件夹"), QStringLiteral("“%1” is not a folder"), path);
        if (path != owned && !path.startsWith(owned + QLatin1Char('/')))
            continue;
        // What we keep there would be theirs to read or swap.
        if (status.st_uid != ::geteuid())
            fail(QStringLiteral("文件夹“%1”属于其他用户，不会在其中存放文件"),
                 QStringLiteral("The folder “%1” belongs to another user, so nothing is put there"), path);
        if (link || (status.st_mode & 077) == 0)
            continue;
        // Only others' bits go: the owner's own choice (a folder made read-only) stays. Changed
        // through a descriptor of the folder itself, so that a link swapped in after the look
        // above is never followed.
        const int descriptor = ::open(name.constData(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        struct stat opened = {};
        const bool same = descriptor >= 0 && ::fstat(descriptor, &opened) == 0 && opened.st_dev == status.st_dev &&
                          opened.st_ino == status.st_ino;
        const int error =
            !same ? (descriptor < 0 ? errno : ELOOP) : (::fchmod(descriptor, opened.st_mode & 0700) == 0 ? 0 : errno);
        if (descriptor >= 0)
            ::close(descriptor);
        if (error != 0)
            fail(QStringLiteral("无法把文件夹“%1”设为仅自己可以访问：%2"),
                 QStringLiteral("Couldn't make the folder “%1” private: %2"), path, error);
    }
}

void writeAtomically(const QString& path, const std::function<bool(QIODevice&)>& produce)
{
    const QFileInfo info(path);
    QByteArray temporary =
        encoded(info.dir().filePath(QLatin1Char('.') + info.fileName() + kTemporaryInfix)) + "XXXXXX";
    const int descriptor = ::mkostemp(temporary.data(), O_CLOEXEC);
    if (descriptor < 0)
        throw FileSystemError(writeFailure(path, errno));
    // Held until the file is renamed or gone: the clean-up of another process (or of the next
    // start) must tell a save in progress from one a killed process left behind.
    ::flock(descriptor, LOCK_EX);

    int error = 0;
    {
        DescriptorDevice device(descriptor);
        try {
            if (!produce(device))
                error = device.systemError() ? device.systemError() : EIO;
        } catch (...) {
            ::close(descriptor);
            ::unlink(temporary.constData());
            throw;
        }
    }
    // The data must be on the disk before the name points at it, or a crash could leave an
    // empty history behind a complete-looking rename.
    if (error == 0 && ::fsync(descriptor) != 0)
        error = errno;
    if (error == 0) {
        if (const auto hook = g_beforeRename.load())
            (*hook)(QFile::decodeName(temporary));
    }
    // Renamed while still open and locked: between a close and the rename, another process's
    // clean-up (a second instance starting) would take the file for one a killed save left.
    if (error == 0 && ::rename(temporary.constData(), encoded(path).constData()) != 0)
        error = errno;
    if (error != 0) {
        ::unlink(temporary.constData());
        ::close(descriptor);
        throw FileSystemError(writeFailure(path, error));
    }
    // The contents are synced and in place: a late close error changes nothing about that.
    ::close(descriptor);
    const int folder = ::open(encoded(QFileInfo(path).absolutePath()).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (folder >= 0) {
        ::fsync(folder);
        ::close(folder);
    }
}

void removeLeftoverTemporaryFiles(const QString& path)
{
    const QFileInfo info(path);
    const QString fileName = info.fileName();
    const QDir folder = info.absoluteDir();
    const QStringList candidates =
        folder.entryList({fileName + QStringLiteral(".??????"), QLatin1Char('.') + fileName + kTemporaryInfix + QLatin1Char('*')},
                         QDir::Files | QDir::Hidden | QDir::System);
    for (const QString& name : candidates) {
        if (!isTemporaryName(name, fileName))
            continue;
        const QByteArray candidate = encoded(folder.filePath(name));
        const int descriptor = ::open(candidate.constData(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
        if (descriptor < 0)
            continue;
        struct stat status = {};
        // A writer that is alive holds its lock; a killed one's lock went with it.
        if (::fstat(descriptor, &status) == 0 && S_ISREG(status.st_mode) && status.st_uid == ::geteuid() &&
            ::flock(descriptor, LOCK_EX | LOCK_NB) == 0)
            ::unlink(candidate.constData());
        ::close(descriptor);
    }
}

int openRegularFile(const QString& path)
{
    // Non-blocking, so that opening a FIFO cannot hang; the check below refuses it anyway.
    const int descriptor = ::open(encoded(path).constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    if (descriptor < 0)
        return -1;
    struct stat status = {};
    if (::fstat(descriptor, &status) != 0 || !S_ISREG(status.st_mode)) {
        const int error = S_ISREG(status.st_mode) ? errno : EINVAL;
        ::close(descriptor);
        errno = error;
        return -1;
    }
    ::fcntl(descriptor, F_SETFL, ::fcntl(descriptor, F_GETFL) & ~O_NONBLOCK);
    return descriptor;
}

std::optional<QByteArray> readRegularFile(const QString& path, QString* errorText)
{
    auto fail = [&](int error) -> std::optional<QByteArray> {
        if (errorText)
            *errorText = reason(error);
        return std::nullopt;
    };
    const int descriptor = openRegularFile(path);
    if (descriptor < 0)
        return fail(errno);
    struct stat status = {};
    ::fstat(descriptor, &status);
    QByteArray bytes;
    bytes.resize(static_cast<qsizetype>(status.st_size));
    qsizetype done = 0;
    while (done < bytes.size()) {
        const ssize_t got = ::read(descriptor, bytes.data() + done, static_cast<size_t>(bytes.size() - done));
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0) {
            const int error = errno;
            ::close(descriptor);
            return fail(error);
        }
        if (got == 0)
            break; // the file shrank meanwhile: what is there is what we have
        done += got;
    }
    ::close(descriptor);
    bytes.truncate(done);
    return bytes;
}

void beforeRenameForTesting(std::function<void(const QString&)> hook)
{
    static std::function<void(const QString&)> kept;
    g_beforeRename.store(nullptr);
    kept = std::move(hook);
    if (kept)
        g_beforeRename.store(&kept);
}

namespace {

// The mappings being read, for the bus-error handler: a fault inside one of them is a file cut
// short under the reader. A few at once are plenty (one history load at a time).
constexpr int kGuardedSlots = 8;
std::atomic<uintptr_t> g_guardedStart[kGuardedSlots];
std::atomic<uintptr_t> g_guardedEnd[kGuardedSlots];
std::atomic<bool> g_guardedCut[kGuardedSlots];
uintptr_t g_pageSize = 4096;
struct sigaction g_previousBusAction;

void onBusError(int signal, siginfo_t* info, void* context)
{
    const auto address = reinterpret_cast<uintptr_t>(info->si_addr);
    for (int slot = 0; slot < kGuardedSlots; ++slot) {
        // The end before the start: a range being set up or let go reads as empty.
        const uintptr_t end = g_guardedEnd[slot].load(std::memory_order_acquire);
        if (address >= end || address < g_guardedStart[slot].load(std::memory_order_acquire))
            continue;
        // A page of zeros in place of the one the file no longer has; the read is retried.
        void* page = reinterpret_cast<void*>(address & ~(g_pageSize - 1));
        if (::mmap(page, g_pageSize, PROT_READ, MAP_PRIVATE | MAP_ANONYMOUS | MAP_FIXED, -1, 0) != MAP_FAILED) {
            g_guardedCut[slot].store(true);
            return;
        }
    }
    // Not ours: whoever handled it before does, or the default ends the process.
    if (g_previousBusAction.sa_flags & SA_SIGINFO) {
        if (g_previousBusAction.sa_sigaction) {
            g_previousBusAction.sa_sigaction(signal, info, context);
            return;
        }
    } else if (g_previousBusAction.sa_handler != SIG_DFL && g_previousBusAction.sa_handler != SIG_IGN) {
        g_previousBusAction.sa_handler(signal);
        return;
    }
    ::signal(SIGBUS, SIG_DFL); // the faulting read runs again and ends the process as it would have
}

void installBusErrorHandler()
{
    static std::once_flag once;
    std::call_once(once, [] {
        g_pageSize = static_cast<uintptr_t>(::sysconf(_SC_PAGESIZE));
        struct sigaction action = {};
        action.sa_sigaction = &onBusError;
        action.sa_flags = SA_SIGINFO | SA_RESTART;
        sigemptyset(&action.sa_mask);
        ::sigaction(SIGBUS, &action, &g_previousBusAction);
    });
}

} // namespace

MappedFile::~MappedFile()
{
    if (m_slot >= 0) {
        // The end first: between the two stores the range is empty, never [0, end), which a
        // stray bus error anywhere below the old end would fall into. Freeing the start last
        // lets the slot be taken again only once it guards nothing.
        g_guardedEnd[m_slot].store(0, std::memory_order_release);
        g_guardedStart[m_slot].store(0, std::memory_order_release);
    }
    if (m_data)
        ::munmap(m_data, static_cast<size_t>(m_size));
}

bool MappedFile::map(int descriptor, qsizetype size)
{
    if (size <= 0)
        return false;
    installBusErrorHandler();
    void* mapped = ::mmap(nullptr, static_cast<size_t>(size), PROT_READ, MAP_PRIVATE, descriptor, 0);
    if (mapped == MAP_FAILED)
        return false;
    m_data = static_cast<char*>(mapped);
    m_size = size;
    const auto start = reinterpret_cast<uintptr_t>(mapped);
    for (int slot = 0; slot < kGuardedSlots; ++slot) {
        uintptr_t expected = 0;
        // The start first (taking the slot), the end last: until then the range is empty.
        if (g_guardedStart[slot].compare_exchange_strong(expected, start, std::memory_order_acq_rel)) {
            g_guardedCut[slot].store(false, std::memory_order_relaxed);
            g_guardedEnd[slot].store(start + static_cast<uintptr_t>(size), std::memory_order_release);
            m_slot = slot;
            return true;
        }
    }
    // No slot free: not guarded, so not used.
    ::munmap(m_data, static_cast<size_t>(m_size));
    m_data = nullptr;
    m_size = 0;
    return false;
}

bool MappedFile::wasCut() const
{
    return m_slot >= 0 && g_guardedCut[m_slot].load();
}

void failWritesForTesting(int error, qint64 afterBytes)
{
    g_injectedAfterBytes.store(afterBytes);
    g_injectedError.store(error);
}

} // namespace QuillomareCore::Files
