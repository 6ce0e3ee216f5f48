// The history file: where it lives, its top-level record, loading (with the bad file set aside)
// and the atomic save.

#include "ClipboardStore.h"

#include "BackgroundFileWriter.h"
#include "Files.h"
#include "Foundation.h"
#include "Json.h"
#include "Language.h"
#include "StoredImage.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <functional>

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

// The file's bytes, mapped when possible: a history of large images is gigabytes. Mapped pages
// are handed back as each pass over them (the parse, then the decoding) goes on, so that the load
// never holds more than a few megabytes of the file, whatever its size. Only a regular file is
// read, and never past the size it had when opened.
class FileBytes
{
public:
    ~FileBytes()
    {
        if (m_mapped)
            ::munmap(m_mapped, static_cast<size_t>(m_size));
    }

    bool open(const QString& path)
    {
        const int descriptor = Files::openRegularFile(path);
        if (descriptor < 0)
            return false;
        // Kept open: the entries read their images from this version of the file later.
        m_version = std::make_shared<const HistoryFileVersion>(descriptor);
        struct stat status = {};
        ::fstat(descriptor, &status);
        const qsizetype size = static_cast<qsizetype>(status.st_size);
        if (size > 0) {
            void* mapped = ::mmap(nullptr, static_cast<size_t>(size), PROT_READ, MAP_PRIVATE, descriptor, 0);
            if (mapped != MAP_FAILED) {
                m_mapped = static_cast<char*>(mapped);
                m_data = m_mapped;
                m_size = size;
                ::madvise(mapped, static_cast<size_t>(size), MADV_SEQUENTIAL);
                return true;
            }
        }
        // Read through the same descriptor, so that the offsets are this version's.
        QByteArray buffer(size, Qt::Uninitialized);
        QString ignored;
        if (size > 0 && !m_version->read(0, buffer.data(), size, &ignored))
            return false;
        m_buffer = std::move(buffer);
        m_data = m_buffer.constData();
        m_size = m_buffer.size();
        return true;
    }

    const char* data() const { return m_data; }
    qsizetype size() const { return m_size; }
    const std::shared_ptr<const HistoryFileVersion>& version() const { return m_version; }

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
    char* m_mapped = nullptr;
    qsizetype m_released = 0;
    QByteArray m_buffer;
    const char* m_data = nullptr;
    qsizetype m_size = 0;
};

QString protectedFileText(const QString& path)
{
    return Language::text(
        QStringLiteral("无法移开无法读取的历史文件“%1”；为保留其中内容，不会覆盖它。更改暂存在内存中，稍后会重试保存")
            .arg(QDir::toNativeSeparators(path)),
        QStringLiteral("The unreadable history file “%1” couldn't be moved aside, so nothing is saved over it. "
                       "Changes are kept in memory and saving will be tried again")
            .arg(QDir::toNativeSeparators(path)));
}

} // namespace

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

    try {
        const Json::Document document = Json::Document::parse(
            bytes.data(), bytes.size(), [&bytes](qsizetype passed) { bytes.releaseBefore(passed); });
        bytes.startNextPass();
        const Json::Value root = document.root();
        // Images stay in the file: checked here, read when something needs them.
        const ImageTextSource source{bytes.version(), bytes.data()};
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
        m_lastLoadFailure.reset();
        sortIntoHistoryOrder(m_items);
    } catch (const DecodingError&) {
        const auto backup = backupCorruptStore();
        resetAfterLoadFailure(kCorruptReason, backup);
        if (!backup)
            m_writer->protectExistingFile(backupURLForCorruptStore(), protectedFileText(m_fileURL));
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
    m_lastLoadFailure = ClipboardStoreLoadFailure{m_fileURL, std::move(backupURL), reason};
}

QString ClipboardStore::backupURLForCorruptStore() const
{
    const QFileInfo info(m_fileURL);
    const QString extension = info.suffix().isEmpty() ? QStringLiteral("bak") : info.suffix();
    const QString baseName = info.suffix().isEmpty() ? info.fileName() : info.completeBaseName();
    return info.dir().filePath(baseName + QStringLiteral(".corrupt-") + Uuid::text(QUuid::createUuid()) +
                               QLatin1Char('.') + extension);
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

struct ClipboardStore::WrittenImages
{
    struct Place
    {
        qint64 offset;
        qint64 length;
    };
    // Filled by the writer's thread; read on the GUI thread after the outcome is delivered.
    QHash<QUuid, Place> places;
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
    auto version = std::make_shared<const HistoryFileVersion>(descriptor);
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
        if (current && current->file == written->version)
            continue;
        // The text written for this entry must be its image's: same size once decoded.
        const qint64 full = place->length / 4 * 3;
        if (place->length % 4 != 0 || byteCount > full || byteCount < full - 2)
            continue;
        auto stored = std::make_shared<StoredImageText>();
        stored->file = written->version;
        stored->offset = place->offset;
        stored->length = place->length;
        stored->byteCount = byteCount;
        stored->head = item.payload.imagePNGHead(StoredImageText::headByteCount);
        item.payload = ClipboardPayload::storedImagePNG(std::shared_ptr<const StoredImageText>(std::move(stored)));
    }
}

namespace {

QString unreadableEntryHint(const ClipboardItem& item)
{
    const QString when = item.createdAt.toLocalTime().toString(QStringLiteral("yyyy-MM-dd HH:mm"));
    return Language::text(QStringLiteral("（%1 复制的图片；删除这条记录即可再次保存历史）"),
                          QStringLiteral(" (the image copied %1; delete that entry and the history saves again)"))
        .arg(when);
}

} // namespace

void ClipboardStore::save()
{
    // The snapshot shares the entries' data with memory (implicit sharing): handing it over
    // copies no payload, and a later change detaches only what it touches.
    auto snapshot = std::make_shared<const StoreSnapshot>(m_settings, m_items, deletionTombstones());
    auto written = std::make_shared<WrittenImages>();
    auto committed = [written, path = m_fileURL] {
        QList<std::pair<qint64, qint64>> places;
        for (const auto& place : std::as_const(written->places))
            places.append({place.offset, place.length});
        written->version = openWrittenVersion(path, written->fileSize, places);
    };
    const quint64 generation = m_writer->write([snapshot, cache = m_encodedItems, written](QIODevice& device) {
        // An entry is encoded once and its text kept for the following saves: a save rewrites
        // the whole file, but one change touches one entry. An image's text is not kept in
        // memory: it is copied from the file that holds it, or encoded at its first save.
        QHash<QUuid, EncodedItem> encoded;
        written->places.clear();
        QUuid writingImage;
        auto writeItem = [&](Json::Writer& writer, const ClipboardItem& item) {
            if (item.payload.isImagePNG()) {
                writingImage = item.id;
                try {
                    item.encode(writer);
                } catch (const FileSystemError& error) {
                    // Until the entry is gone no save can succeed: say which one it is.
                    throw FileSystemError(error.localizedDescription() + unreadableEntryHint(item));
                }
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
        Json::Writer writer(&device);
        writer.onBase64Written = [&](qint64 offset, qint64 length) {
            written->places.insert(writingImage, {offset, length});
        };
        snapshot->encode(writer, writeItem);
        *cache = std::move(encoded);
        const bool flushed = writer.flush();
        written->fileSize = writer.position();
        return flushed;
    }, std::move(committed));
    m_writtenImages[generation] = std::move(written);
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
