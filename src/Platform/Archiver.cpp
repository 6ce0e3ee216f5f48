#include "Archiver.h"

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSet>
#include <QThread>
#include <QUuid>
#include <QtConcurrent/QtConcurrentMap>

#include <zip.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <memory>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace Platform {

namespace {

std::atomic<qint64> readFailureAfterBytes{-1};

// Deflate level: the fastest. On text it gives about 0.31 of the size where the default level
// gives 0.26, at six times the speed; the user waits for the archive.
constexpr zip_uint32_t deflateLevel = 1;
// Below this many bytes to deflate, compressing in parts costs more than it saves.
constexpr qint64 parallelThreshold = 16 * 1000 * 1000;
// Small files are deflated together, so that a folder of thousands of them is not thousands of parts.
constexpr qint64 partBytes = 32 * 1000 * 1000;
constexpr int partFiles = 512;

// Deflating a photo or a film costs time and gains nothing.
const QSet<QString>& compressedExtensions()
{
    static const QSet<QString> extensions = [] {
        QSet<QString> set;
        for (const char* extension :
             {"jpg",  "jpeg", "png",  "gif", "webp", "heic", "heif", "avif", "jxl", "mp4", "m4v",  "mov",
              "mkv",  "webm", "avi",  "wmv", "mpg",  "mpeg", "3gp",  "mp3",  "m4a", "aac", "ogg",  "oga",
              "opus", "flac", "zip",  "gz",  "tgz",  "bz2",  "xz",   "zst",  "7z",  "rar", "jar",  "apk",
              "docx", "xlsx", "pptx", "odt", "ods",  "odp",  "epub", "dmg",  "deb", "rpm", "woff2"})
            set.insert(QLatin1String(extension));
        return set;
    }();
    return extensions;
}

QString systemMessage(int error)
{
    return error == 0 ? QString() : QString::fromLocal8Bit(std::strerror(error));
}

// Shared by every archive written for one createZip() call (the parts are written in parallel).
struct Shared
{
    std::atomic<qint64> bytesRead{0};
    qint64 failAfterBytes = -1;
};

// One archive being written: its first failure.
struct Run
{
    Shared* shared = nullptr;
    std::optional<ArchiveFailure> failure;

    void fail(ArchiveFailure::Reason reason, const QString& path, int error)
    {
        if (!failure)
            failure = ArchiveFailure{reason, path, systemMessage(error)};
    }
    void fail(ArchiveFailure::Reason reason, const QString& path, const QString& message)
    {
        if (!failure)
            failure = ArchiveFailure{reason, path, message};
    }
    bool zipFailed(zip_t* archive, const QString& path)
    {
        fail(ArchiveFailure::Reason::destinationFailed, path,
             QString::fromUtf8(zip_error_strerror(zip_get_error(archive))));
        return false;
    }
};

// One thing to put in the archive, found before anything is written.
struct Entry
{
    enum class Kind
    {
        folder,
        file,
        link
    };
    Kind kind = Kind::file;
    QString path;
    QByteArray encodedPath;
    QString name; // in the archive
    struct stat info
    {
    };
    QByteArray linkTarget;
    bool store = false;
    int part = -1; // the part archive holding it deflated, if any
    zip_uint64_t partIndex = 0;
};

// A file read only while an archive is written (libzip reads every source at zip_close), so that
// thousands of files never hold thousands of descriptors, and a read error names its file.
struct FileSource
{
    Run* run = nullptr;
    QString path;
    QByteArray encodedPath;
    qint64 size = 0;
    time_t modified = 0;
    int fd = -1;
    qint64 offset = 0;
    zip_error_t error{};

    zip_int64_t failWith(int systemError, ArchiveFailure::Reason reason = ArchiveFailure::Reason::sourceUnreadable)
    {
        run->fail(reason, path, systemError);
        zip_error_set(&error, reason == ArchiveFailure::Reason::sourceMissing ? ZIP_ER_NOENT : ZIP_ER_READ,
                      systemError);
        return -1;
    }
};

zip_int64_t fileSourceCallback(void* userdata, void* data, zip_uint64_t length, zip_source_cmd_t command)
{
    auto* source = static_cast<FileSource*>(userdata);
    switch (command) {
    case ZIP_SOURCE_OPEN: {
        source->fd = ::open(source->encodedPath.constData(), O_RDONLY | O_CLOEXEC);
        if (source->fd < 0) {
            const int error = errno;
            return source->failWith(error, error == ENOENT ? ArchiveFailure::Reason::sourceMissing
                                                           : ArchiveFailure::Reason::sourceUnreadable);
        }
        source->offset = 0;
        return 0;
    }
    case ZIP_SOURCE_READ: {
        const qint64 wanted = std::min<qint64>(qint64(length), source->size - source->offset);
        if (wanted <= 0)
            return 0;
        const ssize_t got = ::read(source->fd, data, size_t(wanted));
        if (got < 0)
            return source->failWith(errno);
        if (got == 0) // shorter than when it was listed: the archive would not hold the file
            return source->failWith(EIO);
        Shared& shared = *source->run->shared;
        const qint64 total = shared.bytesRead.fetch_add(got) + got;
        if (shared.failAfterBytes >= 0 && total > shared.failAfterBytes)
            return source->failWith(EIO);
        source->offset += got;
        return got;
    }
    case ZIP_SOURCE_CLOSE:
        if (source->fd >= 0)
            ::close(source->fd);
        source->fd = -1;
        return 0;
    case ZIP_SOURCE_STAT: {
        if (length < sizeof(zip_stat_t))
            return -1;
        auto* stat = static_cast<zip_stat_t*>(data);
        zip_stat_init(stat);
        stat->size = zip_uint64_t(source->size);
        stat->mtime = source->modified;
        stat->valid |= ZIP_STAT_SIZE | ZIP_STAT_MTIME;
        return sizeof(zip_stat_t);
    }
    case ZIP_SOURCE_ERROR:
        return zip_error_to_data(&source->error, data, length);
    case ZIP_SOURCE_FREE:
        if (source->fd >= 0)
            ::close(source->fd);
        zip_error_fini(&source->error);
        delete source;
        return 0;
    case ZIP_SOURCE_SUPPORTS:
        return ZIP_SOURCE_SUPPORTS_READABLE;
    default:
        zip_error_set(&source->error, ZIP_ER_OPNOTSUPP, 0);
        return -1;
    }
}

zip_source_t* fileSource(zip_t* archive, Run& run, const Entry& entry)
{
    auto* source = new FileSource;
    source->run = &run;
    source->path = entry.path;
    source->encodedPath = entry.encodedPath;
    source->size = entry.info.st_size;
    source->modified = entry.info.st_mtim.tv_sec;
    zip_error_init(&source->error);
    zip_source_t* zipSource = zip_source_function(archive, fileSourceCallback, source);
    if (!zipSource) {
        zip_error_fini(&source->error);
        delete source;
    }
    return zipSource;
}

// True when deflating the start of the file saves less than a tenth: random-looking data.
bool looksIncompressible(const QByteArray& encodedPath)
{
    constexpr qint64 sampleSize = 128 * 1024;
    const int fd = ::open(encodedPath.constData(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return false;
    QByteArray sample(sampleSize, Qt::Uninitialized);
    const ssize_t got = ::read(fd, sample.data(), size_t(sampleSize));
    ::close(fd);
    if (got < 4096)
        return false;
    sample.truncate(got);
    const QByteArray compressed = qCompress(sample, 1);
    return compressed.size() > sample.size() * 9 / 10;
}

// Lists `path` and, for a folder, everything in it, in name order. False once something failed.
bool plan(const QString& path, const QString& name, bool followLink, std::vector<Entry>& entries, Run& run)
{
    Entry entry;
    entry.path = path;
    entry.encodedPath = QFile::encodeName(path);
    entry.name = name;
    if ((followLink ? ::stat(entry.encodedPath.constData(), &entry.info)
                    : ::lstat(entry.encodedPath.constData(), &entry.info)) != 0) {
        const int error = errno;
        run.fail(error == ENOENT ? ArchiveFailure::Reason::sourceMissing : ArchiveFailure::Reason::sourceUnreadable,
                 path, error);
        return false;
    }

    if (S_ISREG(entry.info.st_mode)) {
        entry.kind = Entry::Kind::file;
        entry.store = compressedExtensions().contains(QFileInfo(name).suffix().toLower()) ||
                      looksIncompressible(entry.encodedPath);
        entries.push_back(std::move(entry));
        return true;
    }
    if (S_ISLNK(entry.info.st_mode)) {
        std::vector<char> target(size_t(std::max<off_t>(entry.info.st_size, 255)) + 1);
        const ssize_t length = ::readlink(entry.encodedPath.constData(), target.data(), target.size());
        if (length < 0) {
            run.fail(ArchiveFailure::Reason::sourceUnreadable, path, errno);
            return false;
        }
        entry.kind = Entry::Kind::link;
        entry.linkTarget = QByteArray(target.data(), length);
        entries.push_back(std::move(entry));
        return true;
    }
    if (!S_ISDIR(entry.info.st_mode))
        return true; // sockets, pipes and devices have no contents to keep

    entry.kind = Entry::Kind::folder;
    const QByteArray encoded = entry.encodedPath;
    entries.push_back(std::move(entry));
    DIR* folder = ::opendir(encoded.constData());
    if (!folder) {
        run.fail(ArchiveFailure::Reason::sourceUnreadable, path, errno);
        return false;
    }
    std::vector<QByteArray> children;
    errno = 0;
    while (const dirent* child = ::readdir(folder)) {
        if (std::strcmp(child->d_name, ".") != 0 && std::strcmp(child->d_name, "..") != 0)
            children.emplace_back(child->d_name);
        errno = 0;
    }
    const int listError = errno;
    ::closedir(folder);
    if (listError != 0) {
        run.fail(ArchiveFailure::Reason::sourceUnreadable, path, listError);
        return false;
    }
    // The same folder gives the same archive.
    std::sort(children.begin(), children.end());
    for (const QByteArray& child : children) {
        const QString childName = QFile::decodeName(child);
        if (!plan(path + QLatin1Char('/') + childName, name + QLatin1Char('/') + childName, false, entries, run))
            return false;
    }
    return true;
}

bool setAttributes(zip_t* archive, zip_int64_t index, const Entry& entry, Run& run)
{
    const zip_uint32_t attributes = zip_uint32_t(entry.info.st_mode & 0xFFFF) << 16;
    if (zip_file_set_external_attributes(archive, zip_uint64_t(index), 0, ZIP_OPSYS_UNIX, attributes) != 0 ||
        zip_file_set_mtime(archive, zip_uint64_t(index), entry.info.st_mtim.tv_sec, 0) != 0)
        return run.zipFailed(archive, entry.path);
    return true;
}

zip_int64_t addSource(zip_t* archive, const QString& name, zip_source_t* source, const Entry& entry, Run& run)
{
    if (!source) {
        run.zipFailed(archive, entry.path);
        return -1;
    }
    const QByteArray entryName = name.toUtf8();
    const zip_int64_t index = zip_file_add(archive, entryName.constData(), source, ZIP_FL_ENC_UTF_8);
    if (index < 0) {
        zip_source_free(source);
        run.zipFailed(archive, entry.path);
    }
    return index;
}

std::optional<ArchiveFailure> openFailure(int code, const QString& path)
{
    zip_error_t error;
    zip_error_init_with_code(&error, code);
    const QString message = QString::fromUtf8(zip_error_strerror(&error));
    zip_error_fini(&error);
    return ArchiveFailure{ArchiveFailure::Reason::destinationFailed, path, message};
}

// The files of one part, deflated into an archive of their own on a worker thread.
struct Part
{
    QString path;
    std::vector<size_t> entries;
    std::optional<ArchiveFailure> failure;
    zip_t* reader = nullptr;
};

void writePart(Part& part, std::vector<Entry>& entries, Shared& shared)
{
    Run run{&shared, std::nullopt};
    int openError = 0;
    zip_t* archive = zip_open(QFile::encodeName(part.path).constData(), ZIP_CREATE | ZIP_EXCL, &openError);
    if (!archive) {
        part.failure = openFailure(openError, part.path);
        return;
    }
    zip_uint64_t position = 0;
    for (const size_t index : part.entries) {
        Entry& entry = entries[index];
        const zip_int64_t added =
            addSource(archive, QString::number(position), fileSource(archive, run, entry), entry, run);
        if (added < 0)
            break;
        zip_set_file_compression(archive, zip_uint64_t(added), ZIP_CM_DEFLATE, deflateLevel);
        entry.partIndex = zip_uint64_t(added);
        ++position;
    }
    if (!run.failure && zip_close(archive) != 0)
        run.zipFailed(archive, part.path);
    else if (!run.failure)
        archive = nullptr;
    if (archive)
        zip_discard(archive);
    part.failure = run.failure;
}

// The partial archive and whatever libzip left beside it (it writes "<name>.XXXXXX" first).
void removePartialFiles(const QString& partialPath)
{
    QFile::remove(partialPath);
    const QFileInfo info(partialPath);
    QDir folder = info.dir();
    const QStringList leftovers =
        folder.entryList({info.fileName() + QStringLiteral(".*")}, QDir::Files | QDir::Hidden | QDir::System);
    for (const QString& name : leftovers)
        folder.remove(name);
}

// Owns the parts of one run and removes them, however the run ends.
class Parts
{
public:
    explicit Parts(QString folder) : m_folder(std::move(folder)) {}
    ~Parts()
    {
        for (Part& part : list) {
            if (part.reader)
                zip_discard(part.reader);
        }
        if (!m_folder.isEmpty())
            QDir(m_folder).removeRecursively();
    }
    Parts(const Parts&) = delete;
    Parts& operator=(const Parts&) = delete;

    const QString& folder() const { return m_folder; }
    std::vector<Part> list;

private:
    QString m_folder;
};

} // namespace

namespace Archiver {

std::optional<ArchiveFailure> createZip(const QList<ArchiveSource>& sources, const QString& destination,
                                        ArchiveStatistics* statistics)
{
    if (sources.isEmpty())
        return ArchiveFailure{ArchiveFailure::Reason::noSources, {}, {}};

    Shared shared;
    shared.failAfterBytes = readFailureAfterBytes.load();
    Run run{&shared, std::nullopt};

    // 1. Everything that goes in, before anything is written.
    std::vector<Entry> entries;
    for (const ArchiveSource& source : sources) {
        if (!plan(source.path, source.name, true, entries, run))
            return run.failure;
    }
    if (entries.empty())
        return ArchiveFailure{ArchiveFailure::Reason::noSources, sources.first().path, {}};

    const QFileInfo destinationInfo(destination);
    const QString partialPath =
        destinationInfo.dir().filePath(QLatin1Char('.') + destinationInfo.fileName() + QStringLiteral(".partial-") +
                                       QUuid::createUuid().toString(QUuid::Id128).left(12));

    // 2. Large amounts of data to deflate are deflated in parts, on every core, into archives of
    // their own; the final archive then copies their compressed data as it is.
    qint64 deflateBytes = 0;
    for (const Entry& entry : entries) {
        if (entry.kind == Entry::Kind::file && !entry.store)
            deflateBytes += entry.info.st_size;
    }
    Parts parts(deflateBytes >= parallelThreshold && QThread::idealThreadCount() > 1
                    ? partialPath + QStringLiteral(".parts")
                    : QString());
    if (!parts.folder().isEmpty()) {
        if (::mkdir(QFile::encodeName(parts.folder()).constData(), 0700) != 0)
            return ArchiveFailure{ArchiveFailure::Reason::destinationFailed, destination, systemMessage(errno)};
        Part* current = nullptr;
        qint64 currentBytes = 0;
        for (size_t i = 0; i < entries.size(); ++i) {
            Entry& entry = entries[i];
            if (entry.kind != Entry::Kind::file || entry.store)
                continue;
            if (!current || currentBytes >= partBytes || int(current->entries.size()) >= partFiles) {
                parts.list.push_back(Part{});
                current = &parts.list.back();
                current->path = parts.folder() + QStringLiteral("/part-%1.zip").arg(parts.list.size());
                currentBytes = 0;
            }
            current->entries.push_back(i);
            entry.part = int(parts.list.size() - 1);
            currentBytes += entry.info.st_size;
        }
        QtConcurrent::blockingMap(parts.list, [&entries, &shared](Part& part) { writePart(part, entries, shared); });
        for (Part& part : parts.list) {
            if (part.failure)
                return part.failure;
            int openError = 0;
            part.reader = zip_open(QFile::encodeName(part.path).constData(), ZIP_RDONLY, &openError);
            if (!part.reader)
                return openFailure(openError, part.path);
        }
    }

    // 3. The archive itself, in the order the sources were given.
    int openError = 0;
    zip_t* archive = zip_open(QFile::encodeName(partialPath).constData(), ZIP_CREATE | ZIP_EXCL, &openError);
    if (!archive)
        return openFailure(openError, destination);

    ArchiveStatistics counted;
    for (const Entry& entry : entries) {
        zip_int64_t index = -1;
        switch (entry.kind) {
        case Entry::Kind::folder: {
            const QByteArray name = (entry.name + QLatin1Char('/')).toUtf8();
            index = zip_dir_add(archive, name.constData(), ZIP_FL_ENC_UTF_8);
            if (index < 0)
                run.zipFailed(archive, entry.path);
            break;
        }
        case Entry::Kind::link: {
            void* copy = std::malloc(size_t(std::max<qsizetype>(entry.linkTarget.size(), 1)));
            std::memcpy(copy, entry.linkTarget.constData(), size_t(entry.linkTarget.size()));
            zip_source_t* source = zip_source_buffer(archive, copy, zip_uint64_t(entry.linkTarget.size()), 1);
            if (!source)
                std::free(copy);
            index = addSource(archive, entry.name, source, entry, run);
            if (index >= 0)
                zip_set_file_compression(archive, zip_uint64_t(index), ZIP_CM_STORE, 0);
            break;
        }
        case Entry::Kind::file:
            if (entry.part >= 0) {
                // Already deflated: copied without being decompressed.
                zip_source_t* source =
                    zip_source_zip(archive, parts.list[size_t(entry.part)].reader, entry.partIndex, 0, 0, -1);
                index = addSource(archive, entry.name, source, entry, run);
            } else {
                index = addSource(archive, entry.name, fileSource(archive, run, entry), entry, run);
                if (index >= 0)
                    zip_set_file_compression(archive, zip_uint64_t(index), entry.store ? ZIP_CM_STORE : ZIP_CM_DEFLATE,
                                             entry.store ? 0 : deflateLevel);
            }
            ++(entry.store ? counted.storedEntries : counted.deflatedEntries);
            break;
        }
        if (index < 0 || !setAttributes(archive, index, entry, run))
            break;
        ++counted.entries;
    }

    if (!run.failure && zip_close(archive) != 0)
        run.zipFailed(archive, destination);
    if (run.failure) {
        zip_discard(archive);
        removePartialFiles(partialPath);
        return run.failure;
    }

    if (::rename(QFile::encodeName(partialPath).constData(), QFile::encodeName(destination).constData()) != 0) {
        const int error = errno;
        removePartialFiles(partialPath);
        return ArchiveFailure{ArchiveFailure::Reason::destinationFailed, destination, systemMessage(error)};
    }
    if (statistics) {
        counted.bytesRead = shared.bytesRead.load();
        *statistics = counted;
    }
    return std::nullopt;
}

void setReadFailureAfterBytesForTesting(std::optional<qint64> bytes)
{
    readFailureAfterBytes.store(bytes.value_or(-1));
}

} // namespace Archiver

} // namespace Platform
