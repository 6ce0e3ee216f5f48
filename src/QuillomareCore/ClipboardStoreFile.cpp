// The history file: where it lives, its top-level record, loading (with the bad file set aside)
// and the atomic save.

#include "ClipboardStore.h"

#include "Foundation.h"
#include "Json.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

#include <sys/mman.h>
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
    static StoreSnapshot decode(const Json::Value& root, const std::function<void(qsizetype)>& decoded)
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
                items.append(ClipboardItem::decode(element));
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
// that have been decoded are handed back as the load goes on, so that the file and its decoded
// images are never resident together.
class FileBytes
{
public:
    ~FileBytes()
    {
        if (m_mapped)
            m_file.unmap(m_mapped);
    }

    bool open(const QString& path)
    {
        m_file.setFileName(path);
        if (QFileInfo(path).isDir() || !m_file.open(QIODevice::ReadOnly))
            return false;
        const qint64 size = m_file.size();
        if (size > 0) {
            if (uchar* mapped = m_file.map(0, size)) {
                m_mapped = mapped;
                m_data = reinterpret_cast<const char*>(mapped);
                m_size = size;
                ::madvise(mapped, static_cast<size_t>(size), MADV_SEQUENTIAL);
                return true;
            }
        }
        m_buffer = m_file.readAll();
        if (m_file.error() != QFileDevice::NoError)
            return false;
        m_data = m_buffer.constData();
        m_size = m_buffer.size();
        return true;
    }

    const char* data() const { return m_data; }
    qsizetype size() const { return m_size; }

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

private:
    QFile m_file;
    uchar* m_mapped = nullptr;
    qsizetype m_released = 0;
    QByteArray m_buffer;
    const char* m_data = nullptr;
    qsizetype m_size = 0;
};

QString describe(const QFileDevice& file, const QString& action)
{
    return QStringLiteral("Couldn't %1 “%2”: %3").arg(action, QDir::toNativeSeparators(file.fileName()),
                                                       file.errorString());
}

} // namespace

void ClipboardStore::load()
{
    const QFileInfo info(m_fileURL);
    if (!info.exists() && !info.isSymLink())
        return;

    FileBytes bytes;
    if (!bytes.open(m_fileURL)) {
        // Set the unreadable file aside so that the next save cannot destroy a history that a
        // passing error kept us from reading.
        // Only a rename: copying what cannot be read would fail anyway.
        const QString backup = backupURLForCorruptStore();
        resetAfterLoadFailure(kUnreadableReason,
                              QDir().rename(m_fileURL, backup) ? std::optional<QString>(backup) : std::nullopt);
        return;
    }

    try {
        const Json::Document document = Json::Document::parse(bytes.data(), bytes.size());
        const Json::Value root = document.root();
        if (root.type() == Json::Type::Object) {
            StoreSnapshot snapshot =
                StoreSnapshot::decode(root, [&bytes](qsizetype decodedEnd) { bytes.releaseBefore(decodedEnd); });
            m_items = std::move(snapshot.items);
            m_settings = std::move(snapshot.settings);
            m_deletedContentTombstonesByHash = snapshot.deletedContentTombstonesByHash();
        } else {
            // An older form: the file held only the list of entries.
            root.requireArray("[ClipboardItem]");
            QList<ClipboardItem> items;
            items.reserve(root.arraySize());
            root.forEachElement([&](const Json::Value& element) {
                items.append(ClipboardItem::decode(element));
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

void ClipboardStore::save()
{
    const QFileInfo info(m_fileURL);
    const QString folder = info.absolutePath();
    if (!QDir(folder).exists()) {
        // The folder holds what people copy, passwords included: only its owner may enter it.
        const QString parent = QFileInfo(folder).absolutePath();
        if (!QDir().mkpath(parent) ||
            !QDir().mkdir(folder, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner)) {
            if (!QDir(folder).exists())
                throw FileSystemError(
                    QStringLiteral("Couldn't create the folder “%1”.").arg(QDir::toNativeSeparators(folder)));
        }
    }

    const StoreSnapshot snapshot(m_settings, m_items, deletionTombstones());

    QSaveFile file(m_fileURL);
    if (!file.open(QIODevice::WriteOnly))
        throw FileSystemError(describe(file, QStringLiteral("write")));
    file.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner);
    {
        // An entry is encoded once and its text kept for the following saves: a save rewrites the
        // whole file, but one change touches one entry. Images are encoded afresh each time:
        // keeping their text would double what they cost in memory.
        QHash<QUuid, EncodedItem> encoded;
        auto writeItem = [&](Json::Writer& writer, const ClipboardItem& item) {
            if (item.payload.isImagePNG()) {
                item.encode(writer);
                return;
            }
            const auto cached = m_encodedItems.constFind(item.id);
            const QByteArray json = cached != m_encodedItems.cend() && cached->item == item
                                        ? cached->json
                                        : Json::writeToByteArray([&](Json::Writer& w) { item.encode(w); },
                                                                 writer.depth());
            writer.raw(json);
            encoded.insert(item.id, EncodedItem{item, json});
        };
        Json::Writer writer(&file);
        snapshot.encode(writer, writeItem);
        m_encodedItems = std::move(encoded);
        if (!writer.flush()) {
            const QString message = describe(file, QStringLiteral("write"));
            file.cancelWriting();
            throw FileSystemError(message);
        }
    }
    if (!file.commit())
        throw FileSystemError(describe(file, QStringLiteral("save")));
    m_lastLoadFailure.reset();
}

} // namespace QuillomareCore
