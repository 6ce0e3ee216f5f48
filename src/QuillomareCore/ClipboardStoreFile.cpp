// The history file: where it lives, its top-level record, loading (with the bad file set aside)
// and the atomic save.

#include "ClipboardStore.h"

#include "BackgroundFileWriter.h"
#include "Files.h"
#include "Foundation.h"
#include "Hashing.h"
#include "Json.h"
#include "Language.h"
#include "Notice.h"
#include "StoredImage.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <functional>
#include <mutex>

namespace QuillomareCore {

namespace {

const QString kUnreadableReason = QStringLiteral("历史文件无法读取");
const QString kCorruptReason = QStringLiteral("历史文件格式损坏");

// The top level of the history file.
struct StoreSnapshot
{
    ClipSettings settings;
    QList<ClipboardItem> items;
    QStringList deletedContentHashes;
    QList<ClipboardDeletionTombstone> deletionTombstones;

    StoreSnapshot(ClipSettings settings, QList<ClipboardItem> items,
                  const QList<ClipboardDeletionTombstone>& tombstones)
        : settings(std::move(settings)), items(std::move(items)),
          deletionTombstones(ClipboardStore::normalizedTombstones(tombstones))
    {
        for (const auto& tombstone : deletionTombstones)
            deletedContentHashes.append(tombstone.contentHash);
        deletedContentHashes.sort();
    }

    // `decoded` is told the end of each entry once it is decoded.
    static StoreSnapshot decode(const Json::Value& root, const std::function<void(qsizetype)>& decoded,
                                const ImageTextSource* source)
    {
        root.requireObject("StoreSnapshot");
        ClipSettings settings;
        if (auto member = root.presentMember("settings"))
            settings = ClipSettings::decode(*member);

        QList<ClipboardItem> items;
        if (auto member = root.presentMember("items")) {
            member->requireArray("items");
            items.reserve(member->arraySize());
            member->forEachElement([&](const Json::Value& element) {
                items.append(ClipboardItem::decode(element, source));
                decoded(element.sourceEnd());
            });
        }

        QList<ClipboardDeletionTombstone> tombstones;
        if (auto member = root.presentMember("deletionTombstones")) {
            member->requireArray("deletionTombstones");
            member->forEachElement(
                [&](const Json::Value& element) { tombstones.append(ClipboardDeletionTombstone::decode(element)); });
        }

        QStringList hashes;
        if (auto member = root.presentMember("deletedContentHashes")) {
            member->requireArray("deletedContentHashes");
            member->forEachElement(
                [&](const Json::Value& element) { hashes.append(element.toString("deletedContentHashes")); });
        }

        // A hash listed without a tombstone (files written before tombstones carried dates)
        // is taken as deleted now.
        QSet<QString> dated;
        for (const auto& tombstone : tombstones)
            dated.insert(tombstone.contentHash);
        for (const QString& hash : hashes) {
            if (!dated.contains(hash))
                tombstones.append(ClipboardDeletionTombstone{hash, Clock::now()});
        }
        return StoreSnapshot(std::move(settings), std::move(items), tombstones);
    }

    void encode(Json::Writer& writer,
                const std::function<void(Json::Writer&, const ClipboardItem&)>& writeItem) const
    {
        // Sorted keys: "deletedContentHashes", "deletionTombstones", "items", "settings".
        writer.beginObject();
        writer.key("deletedContentHashes");
        writer.beginArray();
        for (const QString& hash : deletedContentHashes)
            writer.string(hash);
        writer.endArray();
        writer.key("deletionTombstones");
        writer.beginArray();
        for (const auto& tombstone : deletionTombstones)
            tombstone.encode(writer);
        writer.endArray();
        writer.key("items");
        writer.beginArray();
        for (const ClipboardItem& item : items)
            writeItem(writer, item);
        writer.endArray();
        writer.key("settings");
        settings.encode(writer);
        writer.endObject();
    }

    QHash<QString, QDateTime> deletedContentTombstonesByHash() const
    {
        QHash<QString, QDateTime> map;
        map.reserve(deletionTombstones.size());
        for (const auto& tombstone : deletionTombstones)
            map.insert(tombstone.contentHash, tombstone.deletedAt);
        return map;
    }
};

bool findImageTexts(const HistoryFileVersion& version, std::vector<HistoryFileVersion::FoundImage>& found, bool& whole,
                    QString& error);

// The file's bytes, mapped when possible: a history of large images is gigabytes. Mapped pages
// are handed back as each pass over them (the parse, then the decoding) goes on, so that the load
// never holds more than a few megabytes of the file, whatever its size. Only a regular file is
// read, and never past the size it had when opened.
class FileBytes
{
public:

    bool open(const QString& path)
    {
        const int descriptor = Files::openRegularFile(path);
        if (descriptor < 0)
            return false;
        // Kept open: the entries read their images from this version of the file later.
        m_version = std::make_shared<const HistoryFileVersion>(descriptor, findImageTexts);
        QString ignored;
        return read(*m_version, &ignored);
    }

    // The bytes of `version` as they are now (another program may have written into it).
    bool read(const HistoryFileVersion& version, QString* error)
    {
        struct stat status = {};
        if (::fstat(version.descriptor(), &status) != 0) {
            *error = Files::reason(errno);
            return false;
        }
        const qsizetype size = static_cast<qsizetype>(status.st_size);
        if (m_mapping.map(version.descriptor(), size)) {
            m_mapped = const_cast<char*>(m_mapping.data());
            m_data = m_mapped;
            m_size = size;
            ::madvise(m_mapped, static_cast<size_t>(size), MADV_SEQUENTIAL);
            return true;
        }
        // Read through the same descriptor, so that the offsets are this version's.
        QByteArray buffer(size, Qt::Uninitialized);
        if (size > 0 && !version.read(0, buffer.data(), size, error))
            return false;
        m_buffer = std::move(buffer);
        m_data = m_buffer.constData();
        m_size = m_buffer.size();
        return true;
    }

    const char* data() const { return m_data; }
    qsizetype size() const { return m_size; }
    const std::shared_ptr<const HistoryFileVersion>& version() const { return m_version; }
    // Another program cut the file short while it was read: the bytes past its end read as zeros.
    bool wasCut() const { return m_mapping.wasCut(); }

    // Drops the mapped pages that lie wholly before `offset`; they are read again if touched.
    void releaseBefore(qsizetype offset)
    {
        if (!m_mapped)
            return;
        static const qsizetype pageSize = ::sysconf(_SC_PAGESIZE);
        const qsizetype end = std::min(offset, m_size) / pageSize * pageSize;
        if (end <= m_released)
            return;
        ::madvise(m_mapped + m_released, static_cast<size_t>(end - m_released), MADV_DONTNEED);
        m_released = end;
    }

    // The next pass reads the bytes from the start again (from the page cache, through new
    // faults) and hands them back as it goes.
    void startNextPass() { m_released = 0; }

private:
    std::shared_ptr<const HistoryFileVersion> m_version;
    Files::MappedFile m_mapping;
    char* m_mapped = nullptr;
    qsizetype m_released = 0;
    QByteArray m_buffer;
    const char* m_data = nullptr;
    qsizetype m_size = 0;
};

// What can still be read from a history file that does not decode whole (cut short, or an entry
// damaged by another program): the file is walked member by member and entry by entry, and each
// piece that parses and decodes on its own is kept. Strings are skipped with memchr, so even a
// history of gigabytes is walked at memory speed.
class SalvageReader
{
public:
    SalvageReader(const char* data, qsizetype size) : m_data(data), m_size(size) {}

    struct Result
    {
        std::optional<ClipSettings> settings;
        QList<ClipboardDeletionTombstone> tombstones;
        QStringList hashes;
    };

    // Each entry that parses on its own goes to `take`, which throws DecodingError for one it
    // cannot use.
    using TakeItem = std::function<void(const Json::Value&)>;

    Result read(const TakeItem& take, const std::function<void(qsizetype)>& passed)
    {
        Result result;
        qsizetype at = skipBlank(0);
        // A byte order mark, as the strict reader accepts.
        if (m_size - at >= 3 && std::string_view(m_data + at, 3) == "\xEF\xBB\xBF")
            at = skipBlank(at + 3);
        if (at < m_size && m_data[at] == '[') {
            readItems(at, take, passed);
            return result;
        }
        if (at >= m_size || m_data[at] != '{')
            return result;
        at = skipBlank(at + 1);
        while (at < m_size && m_data[at] == '"') {
            const qsizetype keyEnd = skipString(at);
            if (keyEnd < 0)
                break;
            const std::string_view key(m_data + at + 1, static_cast<size_t>(keyEnd - at - 2));
            at = skipBlank(keyEnd);
            if (at >= m_size || m_data[at] != ':')
                break;
            const qsizetype value = skipBlank(at + 1);
            const qsizetype end = key == "items" ? readItems(value, take, passed) : skipValue(value);
            if (end < 0)
                break; // cut short here: nothing after it is there
            if (key == "settings") {
                try {
                    result.settings = ClipSettings::decode(parse(value, end).root());
                } catch (const DecodingError&) {
                }
            } else if (key == "deletionTombstones") {
                eachElement(value, end, [&](const Json::Value& element) {
                    result.tombstones.append(ClipboardDeletionTombstone::decode(element));
                });
            } else if (key == "deletedContentHashes") {
                eachElement(value, end, [&](const Json::Value& element) {
                    result.hashes.append(element.toString("deletedContentHashes"));
                });
            }
            at = skipBlank(end);
            if (at >= m_size || m_data[at] != ',')
                break;
            at = skipBlank(at + 1);
        }
        return result;
    }

    qsizetype damagedItemCount() const { return m_damagedItems; }

private:
    qsizetype skipBlank(qsizetype at) const
    {
        while (at < m_size && (m_data[at] == ' ' || m_data[at] == '\n' || m_data[at] == '\r' || m_data[at] == '\t'))
            ++at;
        return at;
    }

    // Past the closing quote of the string that starts at `at`; -1 when it never closes.
    qsizetype skipString(qsizetype at) const
    {
        qsizetype from = at + 1;
        while (from < m_size) {
            const void* quote = std::memchr(m_data + from, '"', static_cast<size_t>(m_size - from));
            if (!quote)
                return -1;
            const qsizetype end = static_cast<const char*>(quote) - m_data;
            qsizetype slashes = 0;
            while (end - 1 - slashes > at && m_data[end - 1 - slashes] == '\\')
                ++slashes;
            if (slashes % 2 == 0)
                return end + 1;
            from = end + 1;
        }
        return -1;
    }

    // Past the value that starts at `at`; -1 when it is cut short.
    qsizetype skipValue(qsizetype at) const
    {
        if (at >= m_size)
            return -1;
        const char first = m_data[at];
        if (first == '"')
            return skipString(at);
        if (first != '{' && first != '[') {
            while (at < m_size && !std::strchr(",}] \n\r\t", m_data[at]))
                ++at;
            return at < m_size ? at : -1;
        }
        int depth = 0;
        while (at < m_size) {
            const char c = m_data[at];
            if (c == '"') {
                at = skipString(at);
                if (at < 0)
                    return -1;
                continue;
            }
            if (c == '{' || c == '[') {
                ++depth;
            } else if (c == '}' || c == ']') {
                if (--depth == 0)
                    return at + 1;
            }
            ++at;
        }
        return -1;
    }

    Json::Document parse(qsizetype from, qsizetype end) const
    {
        return Json::Document::parse(m_data + from, end - from);
    }

    // Each element of the array in [from, end) that parses, handed to `take`; one that does not
    // decode is skipped.
    template <typename F>
    void eachElement(qsizetype from, qsizetype end, F&& take)
    {
        try {
            const Json::Document document = parse(from, end);
            if (document.root().type() != Json::Type::Array)
                return;
            document.root().forEachElement([&](const Json::Value& element) {
                try {
                    take(element);
                } catch (const DecodingError&) {
                }
            });
        } catch (const DecodingError&) {
        }
    }

    // The entries of the array at `at`, one by one; past the array, or -1 when it is cut short.
    qsizetype readItems(qsizetype at, const TakeItem& take, const std::function<void(qsizetype)>& passed)
    {
        if (at >= m_size || m_data[at] != '[')
            return skipValue(at);
        at = skipBlank(at + 1);
        if (at < m_size && m_data[at] == ']')
            return at + 1;
        while (at < m_size) {
            const qsizetype end = skipValue(at);
            if (end < 0) {
                ++m_damagedItems;
                return -1;
            }
            try {
                const Json::Document document = parse(at, end);
                take(document.root());
            } catch (const DecodingError&) {
                ++m_damagedItems;
            }
            passed(end);
            at = skipBlank(end);
            if (at < m_size && m_data[at] == ',') {
                at = skipBlank(at + 1);
                continue;
            }
            return at < m_size && m_data[at] == ']' ? at + 1 : -1;
        }
        return -1;
    }

    const char* m_data;
    qsizetype m_size;
    qsizetype m_damagedItems = 0;
};

// Where each entry's image text lies in `version` as it is now, read as the load reads the file:
// parsed whole (its pages let go of as the parse goes on), or, when it no longer parses whole,
// entry by entry, keeping what still parses. Only what finds the texts is decoded.
bool findImageTexts(const HistoryFileVersion& version, std::vector<HistoryFileVersion::FoundImage>& found, bool& whole,
                    QString& error)
{
    FileBytes bytes;
    if (!bytes.read(version, &error))
        return false;
    auto take = [&](const Json::Value& element) {
        if (element.type() != Json::Type::Object)
            return;
        const auto payload = element.presentMember("payload");
        const auto image = payload && payload->type() == Json::Type::Object ? payload->member("imagePNG") : std::nullopt;
        const auto letters = image && image->type() == Json::Type::Object ? image->presentMember("_0") : std::nullopt;
        const auto raw = letters ? letters->rawString() : std::nullopt;
        if (!raw)
            return;
        HistoryFileVersion::FoundImage text;
        if (const auto id = element.presentMember("id"); id && id->type() == Json::Type::String)
            text.entryId = Uuid::fromText(id->toString("id")).value_or(QUuid());
        if (const auto hash = element.presentMember("contentHash"); hash && hash->type() == Json::Type::String)
            text.contentHash = hash->toString("contentHash");
        text.offset = raw->data() - bytes.data();
        text.length = static_cast<qint64>(raw->size());
        text.whole = letters->holdsBase64Text();
        if (text.whole) {
            text.byteCount = Base64Text::decodedSize(*raw);
            const size_t headText = std::min<size_t>(raw->size(), StoredImageText::headByteCount / 3 * 4);
            text.head = Base64::decode(raw->substr(0, headText)).value_or(QByteArray());
        }
        found.push_back(std::move(text));
    };
    auto release = [&bytes](qsizetype passed) { bytes.releaseBefore(passed); };
    try {
        const Json::Document document = Json::Document::parse(bytes.data(), bytes.size(), release);
        bytes.startNextPass();
        const Json::Value root = document.root();
        const auto items = root.type() == Json::Type::Object ? root.presentMember("items") : std::optional(root);
        if (items && items->type() == Json::Type::Array) {
            items->forEachElement([&](const Json::Value& element) {
                take(element);
                release(element.sourceEnd());
            });
        } else if (items) {
            throw DecodingError(QStringLiteral("No list of entries."));
        }
        if (bytes.wasCut())
            throw DecodingError(QStringLiteral("The file was cut short while it was read."));
        whole = true;
    } catch (const DecodingError&) {
        found.clear();
        whole = false;
        bytes.startNextPass();
        SalvageReader(bytes.data(), bytes.size()).read(take, release);
    }
    return true;
}

QString protectedFileText(const QString& path)
{
    return Language::text(
        QStringLiteral("无法移开无法读取的历史文件“%1”；为保留其中内容，不会覆盖它。更改暂存在内存中，稍后会重试保存")
            .arg(QDir::toNativeSeparators(path)),
        QStringLiteral("The unreadable history file “%1” couldn't be moved aside, so nothing is saved over it. "
                       "Changes are kept in memory and saving will be tried again")
            .arg(QDir::toNativeSeparators(path)));
}

QString corruptBackupPath(const QString& path)
{
    const QFileInfo info(path);
    const QString extension = info.suffix().isEmpty() ? QStringLiteral("bak") : info.suffix();
    const QString baseName = info.suffix().isEmpty() ? info.fileName() : info.completeBaseName();
    return info.dir().filePath(baseName + QStringLiteral(".corrupt-") + Uuid::text(QUuid::createUuid()) +
                               QLatin1Char('.') + extension);
}

} // namespace

struct ClipboardStore::FileAtPath
{
    std::mutex mutex;
    // Kept open: whether the file was written since is told by its stamp, without reading it.
    std::shared_ptr<const HistoryFileVersion> version;
    // The file last set aside, by device and inode: a save that fails after setting it aside
    // does not set it aside again when it is tried again.
    std::pair<quint64, quint64> setAside;

    void remember(std::shared_ptr<const HistoryFileVersion> newest)
    {
        std::lock_guard lock(mutex);
        version = std::move(newest);
    }

    void setAsideUnlessWhole(const QString& path);
};

// Before a save replaces the file under `path`: one that does not parse whole (another program
// wrote garbage over it, or is still writing it) is set aside as the load sets an unreadable file
// aside, never written over. Set aside by a second name for the same file rather than a rename,
// so that the path never lacks a file for the program writing into it: a copy still under way
// goes on into the file kept under the new name, and the images still read from it are read
// from it.
void ClipboardStore::FileAtPath::setAsideUnlessWhole(const QString& path)
{
    const QByteArray encodedPath = QFile::encodeName(path);
    struct stat status = {};
    if (::stat(encodedPath.constData(), &status) != 0 || !S_ISREG(status.st_mode))
        return;
    std::shared_ptr<const HistoryFileVersion> known;
    {
        std::lock_guard lock(mutex);
        known = version;
    }
    auto isUnderPath = [&status](const HistoryFileVersion& candidate) {
        const HistoryFileVersion::Stamp stamp = candidate.stamp();
        return stamp.device == quint64(status.st_dev) && stamp.inode == quint64(status.st_ino);
    };
    // Another program put a file of its own there: read once, then known by its stamp.
    if (!known || !isUnderPath(*known)) {
        const int descriptor = Files::openRegularFile(path);
        known =
            descriptor >= 0 ? std::make_shared<const HistoryFileVersion>(descriptor, findImageTexts, false) : nullptr;
        remember(known);
    }
    if (known) {
        QString reason;
        const auto layout = known->layout(&reason);
        if (!layout)
            throw FileSystemError(reason);
        if (layout->whole)
            return;
    }
    const std::pair<quint64, quint64> identity{quint64(status.st_dev), quint64(status.st_ino)};
    {
        std::lock_guard lock(mutex);
        if (setAside == identity)
            return;
    }
    const QString backup = corruptBackupPath(path);
    // A file system without hard links gets a copy.
    if (::link(encodedPath.constData(), QFile::encodeName(backup).constData()) != 0 && !QFile::copy(path, backup))
        throw FileSystemError(protectedFileText(path));
    std::lock_guard lock(mutex);
    setAside = identity;
}

void ClipboardStore::load()
{
    const QFileInfo info(m_fileURL);
    if (info.absoluteDir().exists()) {
        // What a killed save left behind, and a folder that others could enter.
        Files::removeLeftoverTemporaryFiles(m_fileURL);
        try {
            Files::makePrivateFolder(info.absolutePath());
        } catch (const FileSystemError&) {
        }
    }
    if (!info.exists() && !info.isSymLink())
        return;

    FileBytes bytes;
    if (!bytes.open(m_fileURL)) {
        // Set the unreadable file aside so that the next save cannot destroy a history that a
        // passing error kept us from reading. Only a rename: copying what cannot be read would
        // fail anyway, and a FIFO or a device is no file to copy.
        const QString backup = backupURLForCorruptStore();
        if (QDir().rename(m_fileURL, backup)) {
            resetAfterLoadFailure(kUnreadableReason, backup);
        } else {
            resetAfterLoadFailure(kUnreadableReason, std::nullopt);
            m_writer->protectExistingFile(backup, protectedFileText(m_fileURL));
        }
        return;
    }

    // Images stay in the file: checked here, read when something needs them.
    const ImageTextSource source{bytes.version(), bytes.data()};
    try {
        const Json::Document document = Json::Document::parse(
            bytes.data(), bytes.size(), [&bytes](qsizetype passed) { bytes.releaseBefore(passed); });
        bytes.startNextPass();
        const Json::Value root = document.root();
        if (root.type() == Json::Type::Object) {
            StoreSnapshot snapshot = StoreSnapshot::decode(
                root, [&bytes](qsizetype decodedEnd) { bytes.releaseBefore(decodedEnd); }, &source);
            m_items = std::move(snapshot.items);
            m_settings = std::move(snapshot.settings);
            m_deletedContentTombstonesByHash = snapshot.deletedContentTombstonesByHash();
        } else {
            // An older form: the file held only the list of entries.
            root.requireArray("[ClipboardItem]");
            QList<ClipboardItem> items;
            items.reserve(root.arraySize());
            root.forEachElement([&](const Json::Value& element) {
                items.append(ClipboardItem::decode(element, &source));
                bytes.releaseBefore(element.sourceEnd());
            });
            m_items = std::move(items);
            m_deletedContentTombstonesByHash.clear();
        }
        // Cut short while it was read: part of what was decoded was zeros, not the file.
        if (bytes.wasCut())
            throw DecodingError(QStringLiteral("The file was cut short while it was read."));
        m_lastLoadFailure.reset();
        sortIntoHistoryOrder(m_items);
        m_fileAtPath->remember(bytes.version());
    } catch (const DecodingError&) {
        // One damaged entry, or a file cut short, costs only what is damaged: the rest is kept
        // (its images still read from this version, which stays open), and the file as it was
        // is set aside for whoever wants to look at it.
        bytes.startNextPass();
        SalvageReader reader(bytes.data(), bytes.size());
        QList<ClipboardItem> salvagedItems;
        SalvageReader::Result salvaged = reader.read(
            [&](const Json::Value& element) { salvagedItems.append(ClipboardItem::decode(element, &source)); },
            [&bytes](qsizetype passed) { bytes.releaseBefore(passed); });
        const auto backup = backupCorruptStore();
        resetAfterLoadFailure(kCorruptReason, backup);
        if (!backup)
            m_writer->protectExistingFile(backupURLForCorruptStore(), protectedFileText(m_fileURL));
        if (salvaged.settings)
            m_settings = std::move(*salvaged.settings);
        QSet<QString> dated;
        for (const auto& tombstone : std::as_const(salvaged.tombstones))
            dated.insert(tombstone.contentHash);
        for (const QString& hash : std::as_const(salvaged.hashes)) {
            if (!dated.contains(hash))
                salvaged.tombstones.append(ClipboardDeletionTombstone{hash, Clock::now()});
        }
        m_deletedContentTombstonesByHash =
            StoreSnapshot(m_settings, {}, salvaged.tombstones).deletedContentTombstonesByHash();
        m_items = std::move(salvagedItems);
        sortIntoHistoryOrder(m_items);
        m_lastLoadFailure->recoveredItemCount = m_items.size();
    } catch (const std::bad_alloc&) {
        // More than memory allows: the file may be fine, so it must survive untouched.
        resetAfterLoadFailure(kUnreadableReason, std::nullopt);
        m_writer->protectExistingFile(backupURLForCorruptStore(), protectedFileText(m_fileURL));
    }
}

void ClipboardStore::resetAfterLoadFailure(const QString& reason, std::optional<QString> backupURL)
{
    m_items.clear();
    m_settings = ClipSettings{};
    m_deletedContentTombstonesByHash.clear();
    m_lastLoadFailure = ClipboardStoreLoadFailure{m_fileURL, std::move(backupURL), reason, 0};
}

QString ClipboardStore::backupURLForCorruptStore() const
{
    return corruptBackupPath(m_fileURL);
}

std::optional<QString> ClipboardStore::backupCorruptStore()
{
    const QString backup = backupURLForCorruptStore();
    if (QDir().rename(m_fileURL, backup))
        return backup;
    if (QFile::copy(m_fileURL, backup))
        return backup;
    return std::nullopt;
}

std::shared_ptr<ClipboardStore::FileAtPath> ClipboardStore::makeFileAtPath()
{
    return std::make_shared<FileAtPath>();
}

struct ClipboardStore::WrittenImages
{
    struct Place
    {
        qint64 offset;
        qint64 length;
        // The stored text that was copied there (or whose image a read kept in memory was
        // written there in its place); null for a capture held in memory.
        std::shared_ptr<const StoredImageText> copiedFrom;
        bool fromMemory = false;
        // A capture held in memory whose bytes were found to be the image its identity names:
        // the text written for it needs no check after the save.
        bool identityChecked = false;
    };
    // Filled by the writer's thread; read on the GUI thread after the outcome is delivered.
    QHash<QUuid, Place> places;
    // Entries whose image could no longer be read and had no copy in memory: left out, with why.
    QHash<QUuid, QString> lost;
    qint64 fileSize = 0;
    std::shared_ptr<const HistoryFileVersion> version;
};

namespace {

// The file now under `path`, when it is the one just written: its size and the quotes around
// every image's text are where the writer put them. Anything else (another program replaced it
// meanwhile) is not trusted for reading images.
std::shared_ptr<const HistoryFileVersion> openWrittenVersion(const QString& path, qint64 size,
                                                             const QList<std::pair<qint64, qint64>>& places)
{
    const int descriptor = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
    if (descriptor < 0)
        return nullptr;
    auto version = std::make_shared<const HistoryFileVersion>(descriptor, findImageTexts);
    struct stat status = {};
    if (::fstat(descriptor, &status) != 0 || !S_ISREG(status.st_mode) || status.st_size != size)
        return nullptr;
    for (const auto& [offset, length] : places) {
        char before = 0, after = 0;
        if (!version->read(offset - 1, &before, 1, nullptr) || !version->read(offset + length, &after, 1, nullptr) ||
            before != '"' || after != '"')
            return nullptr;
    }
    return version;
}

// How the user recognises an image entry: when it was copied (to the second: a burst of
// screenshots shares its minute) and its size in pixels when its header says so.
QString describeImageEntry(const ClipboardItem& item)
{
    const QString when = item.createdAt.toLocalTime().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"));
    // Another image in its place says nothing of this one's size.
    const auto stored = item.payload.storedImageText();
    const QByteArray head = stored && stored->isSubstituted() ? QByteArray() : item.payload.imagePNGHead(24);
    if (head.size() >= 24 && head.startsWith("\x89PNG\r\n\x1a\n") && head.mid(12, 4) == "IHDR") {
        auto number = [&](int at) {
            return (quint32(quint8(head[at])) << 24) | (quint32(quint8(head[at + 1])) << 16) |
                   (quint32(quint8(head[at + 2])) << 8) | quint32(quint8(head[at + 3]));
        };
        return Language::text(QStringLiteral("%1 复制的图片（%2 × %3）"), QStringLiteral("the image copied %1 (%2 × %3)"))
            .arg(when)
            .arg(number(16))
            .arg(number(20));
    }
    return Language::text(QStringLiteral("%1 复制的图片"), QStringLiteral("the image copied %1")).arg(when);
}

// Thrown inside a save to start it over without what it could not read.
struct StartOver
{
};

} // namespace

void ClipboardStore::adoptWrittenImages(quint64 generation, bool succeeded)
{
    // Older saves were replaced or are done; a failed one is retried under its own generation.
    m_writtenImages.erase(m_writtenImages.begin(), m_writtenImages.lower_bound(generation));
    if (!succeeded)
        return;
    const auto found = m_writtenImages.find(generation);
    if (found == m_writtenImages.end())
        return;
    const std::shared_ptr<WrittenImages> written = found->second;
    m_writtenImages.erase(found);

    // What the file just written left out is gone: it goes from memory too, and the user is told,
    // in the order of the history.
    QList<Notice::RemovedImage> removed;
    for (auto entry = m_items.begin(); entry != m_items.end();) {
        const auto reason = written->lost.constFind(entry->id);
        if (reason == written->lost.cend() || !entry->payload.isImagePNG()) {
            ++entry;
            continue;
        }
        removed.append({describeImageEntry(*entry), *reason});
        entry = m_items.erase(entry);
    }
    if (!removed.isEmpty()) {
        const QString notice = Notice::removedImages(removed);
        m_lostEntriesNotice = notice;
        if (onEntriesLost)
            onEntriesLost(notice);
    }

    if (!written->version)
        return;
    for (ClipboardItem& item : m_items) {
        if (!item.payload.isImagePNG())
            continue;
        const auto place = written->places.constFind(item.id);
        if (place == written->places.cend())
            continue;
        const qsizetype byteCount = item.payload.imagePNGByteCount();
        const auto current = item.payload.storedImageText();
        // The same text, copied: every holder of the entry reads from the new version now, and
        // the one it was copied from is closed once nothing else reads from it.
        if (current && current == place->copiedFrom && current->byteCount == byteCount) {
            current->moveTo({written->version, place->offset, place->length}, place->fromMemory);
            continue;
        }
        // The text written for this entry must be its image's: same size once decoded.
        const qint64 full = place->length / 4 * 3;
        if (place->length % 4 != 0 || byteCount > full || byteCount < full - 2)
            continue;
        auto stored = std::make_shared<const StoredImageText>(
            StoredImageText::Place{written->version, place->offset, place->length}, byteCount,
            item.payload.imagePNGHead(StoredImageText::headByteCount),
            isImageContentHash(item.contentHash) ? item.contentHash : QString(), item.id);
        if (place->identityChecked)
            stored->markCheckedWhereItIs();
        item.payload = ClipboardPayload::storedImagePNG(std::move(stored));
    }
}

void ClipboardStore::save()
{
    // The snapshot shares the entries' data with memory (implicit sharing): handing it over
    // copies no payload, and a later change detaches only what it touches.
    auto snapshot = std::make_shared<const StoreSnapshot>(m_settings, m_items, deletionTombstones());
    auto written = std::make_shared<WrittenImages>();
    auto committed = [written, path = m_fileURL, fileAtPath = m_fileAtPath] {
        QList<std::pair<qint64, qint64>> places;
        for (const auto& place : std::as_const(written->places))
            places.append({place.offset, place.length});
        written->version = openWrittenVersion(path, written->fileSize, places);
        fileAtPath->remember(written->version);
    };
    const quint64 generation = m_writer->write([snapshot, cache = m_encodedItems, written, path = m_fileURL,
                                                fileAtPath = m_fileAtPath](QIODevice& device) {
        // An entry is encoded once and its text kept for the following saves: a save rewrites
        // the whole file, but one change touches one entry. An image's text is not kept in
        // memory: it is copied from the file that holds it, or encoded at its first save.
        //
        // An image the file no longer holds (another program cut or overwrote it) must not cost
        // the rest of the history: the save starts over, writing the copy still in memory if a
        // recent read left one, else leaving the entry out.
        written->lost.clear();
        QHash<QUuid, QByteArray> fromMemory;
        // Start-overs because another program wrote into the file an image was copied from.
        int restarts = 0;
        while (true) {
            QHash<QUuid, EncodedItem> encoded;
            written->places.clear();
            QUuid writingImage;
            std::shared_ptr<const StoredImageText> copying;
            bool identityChecked = false;
            auto writeItem = [&](Json::Writer& writer, const ClipboardItem& item) {
                if (item.payload.isImagePNG()) {
                    if (written->lost.contains(item.id))
                        return;
                    writingImage = item.id;
                    copying = item.payload.storedImageText();
                    // Checked as it is written, so that the first read of the image from the
                    // file (a copy back, often on the GUI thread) needs no hashing: by the hash
                    // the capture made of these very bytes, else hashed here, on the writer's
                    // thread.
                    if (!copying && isImageContentHash(item.contentHash)) {
                        const QString known = item.payload.imagePNGContentHash();
                        identityChecked =
                            (known.isEmpty() ? ClipHashing::imageContentHash(item.payload.imagePNGValue()) : known) ==
                            item.contentHash;
                    } else {
                        identityChecked = false;
                    }
                    // Known or plainly gone (the file ends before its text does, or another
                    // program rewrote it without the image): settled before anything of the
                    // entry is written, without starting over.
                    std::optional<StoredImageText::Place> copyFrom;
                    if (copying && !fromMemory.contains(item.id)) {
                        QString reason;
                        copyFrom = copying->placeToCopy(&reason);
                        // Cannot be told now (another program keeps writing into the file, or
                        // has not written it whole yet): a copy still in memory is written, else
                        // the save fails, keeping the previous file and every entry, and is
                        // tried again.
                        if (!copyFrom && !copying->isDamaged()) {
                            auto copy = copying->recentCopy();
                            if (!copy)
                                throw FileSystemError(unreadableImageText(reason));
                            fromMemory.insert(item.id, *copy);
                        }
                        copying->checkEnd();
                        if (copying->isDamaged()) {
                            if (auto copy = copying->recentCopy()) {
                                fromMemory.insert(item.id, *copy);
                            } else {
                                written->lost.insert(item.id, unreadableImageText(copying->damage()));
                                return;
                            }
                        }
                    }
                    if (const auto bytes = fromMemory.constFind(item.id); bytes != fromMemory.cend()) {
                        // `copying` stays: once this file is in place, the damaged text moves to
                        // the image written here, whole again.
                        ClipboardItem held = item;
                        held.payload = ClipboardPayload::imagePNG(*bytes);
                        held.encode(writer);
                        return;
                    }
                    // Another program wrote into the file while the text was copied from it:
                    // what was copied may be neither its old text nor its new one.
                    auto changedMeanwhile = [&] {
                        return copyFrom && copyFrom->file && !copyFrom->file->holdsLayout(copyFrom->layout);
                    };
                    auto startOverAfterChange = [&] {
                        if (++restarts > 3)
                            throw FileSystemError(unreadableImageText(historyFileChangingText()));
                        throw StartOver{};
                    };
                    try {
                        item.encode(writer);
                    } catch (const FileSystemError& error) {
                        // A read that failed without damage found: the whole save fails and is
                        // tried again, keeping the entry and the previous file.
                        if (copying && !copying->isDamaged()) {
                            if (changedMeanwhile())
                                startOverAfterChange();
                            throw;
                        }
                        if (auto copy = copying ? copying->recentCopy() : std::nullopt)
                            fromMemory.insert(item.id, *copy);
                        else
                            written->lost.insert(item.id, error.localizedDescription());
                        throw StartOver{};
                    }
                    if (changedMeanwhile())
                        startOverAfterChange();
                    return;
                }
                const auto cached = cache->constFind(item.id);
                const QByteArray json = cached != cache->cend() && cached->item == item
                                            ? cached->json
                                            : Json::writeToByteArray([&](Json::Writer& w) { item.encode(w); },
                                                                     writer.depth());
                writer.raw(json);
                encoded.insert(item.id, EncodedItem{item, json});
            };
            try {
                Json::Writer writer(&device);
                writer.onBase64Written = [&](qint64 offset, qint64 length) {
                    written->places.insert(writingImage, {offset, length, copying,
                                                          fromMemory.contains(writingImage), identityChecked});
                };
                snapshot->encode(writer, writeItem);
                *cache = std::move(encoded);
                const bool flushed = writer.flush();
                written->fileSize = writer.position();
                // Last, once every image was found: a file still being written that lacks one
                // made the save fail above instead, and it is tried again.
                if (flushed)
                    fileAtPath->setAsideUnlessWhole(path);
                return flushed;
            } catch (const StartOver&) {
                if (!device.seek(0))
                    return false;
            }
        }
    }, std::move(committed));
    m_writtenImages[generation] = std::move(written);
}

void ClipboardStore::saveRemoval()
{
    save();
    m_writer->flushSoon();
}

void ClipboardStore::setSaveGatheringForTesting(qint64 thresholdBytes, int milliseconds)
{
    m_writer->setGathering(thresholdBytes, milliseconds);
}

std::optional<QString> ClipboardStore::takeLostEntriesNotice()
{
    return std::exchange(m_lostEntriesNotice, std::nullopt);
}

void ClipboardStore::whenSaved(std::function<void(const std::optional<QString>&)> done)
{
    m_writer->whenWritten(std::move(done));
}

const std::optional<QString>& ClipboardStore::lastSaveError() const
{
    return m_writer->lastError();
}

bool ClipboardStore::hasPendingSave() const
{
    return m_writer->hasPendingWrite();
}

void ClipboardStore::waitForPendingSaves()
{
    m_writer->waitUntilIdle();
}

} // namespace QuillomareCore
