#include "CloudKitSyncService.h"

#include "CloudRecordNaming.h"
#include "Pasteboard/ClipboardMonitor.h"

#include <QuillomareCore/ClipSettings.h>
#include <QuillomareCore/Errors.h>
#include <QuillomareCore/Foundation.h>
#include <QuillomareCore/Language.h>

#include <QHash>

#include <algorithm>

namespace QuillomareMac {

namespace Language = QuillomareCore::Language;

namespace {

using Platform::CloudRecord;
using Platform::CloudRecordValue;
using QuillomareCore::ClipboardDeletionTombstone;
using QuillomareCore::ClipboardItem;
using QuillomareCore::ClipboardPayload;
using QuillomareCore::CloudSyncState;
using QuillomareCore::DecodingError;

// A field that is absent reads as nothing; one of another type makes the record unusable.
template <typename T> std::optional<T> field(const CloudRecord& record, const QString& name)
{
    const auto it = record.fields.constFind(name);
    if (it == record.fields.cend())
        return std::nullopt;
    if (const T* value = std::get_if<T>(&*it))
        return *value;
    throw DecodingError(QStringLiteral("The field \"%1\" has the wrong type.").arg(name));
}

template <typename T> T requiredField(const CloudRecord& record, const QString& name)
{
    if (auto value = field<T>(record, name))
        return *value;
    throw DecodingError(QStringLiteral("The field \"%1\" is missing.").arg(name));
}

CloudRecord itemRecord(const ClipboardItem& item)
{
    CloudRecord record{
        CloudRecordNaming::itemRecordType, CloudRecordNaming::itemRecordName(item.contentHash), {}, {}, {}};
    auto& fields = record.fields;
    fields.insert(QStringLiteral("id"), QuillomareCore::Uuid::text(item.id));
    fields.insert(QStringLiteral("createdAt"), item.createdAt);
    fields.insert(QStringLiteral("kind"), item.kind.rawValue());
    fields.insert(QStringLiteral("preview"), item.preview);
    fields.insert(QStringLiteral("contentHash"), item.contentHash);
    if (item.sourceAppName)
        fields.insert(QStringLiteral("sourceAppName"), *item.sourceAppName);
    if (item.sourceBundleIdentifier)
        fields.insert(QStringLiteral("sourceBundleIdentifier"), *item.sourceBundleIdentifier);
    fields.insert(QStringLiteral("sourcePlatform"), item.sourcePlatform.rawValue());
    fields.insert(QStringLiteral("isSensitive"), item.isSensitive);
    fields.insert(QStringLiteral("isLocalOnly"), item.isLocalOnly);
    fields.insert(QStringLiteral("isPinned"), item.isPinned);
    switch (item.payload.caseOf()) {
    case ClipboardPayload::Case::text:
        fields.insert(QStringLiteral("payloadText"), item.payload.textValue());
        break;
    case ClipboardPayload::Case::fileURLs:
        fields.insert(QStringLiteral("payloadFileURLs"), item.payload.fileURLsValue());
        break;
    case ClipboardPayload::Case::imagePNG:
        fields.insert(QStringLiteral("payloadImagePNG"), item.payload.imagePNGValue());
        break;
    case ClipboardPayload::Case::empty:
        break;
    }
    return record;
}

// Throws DecodingError for a record that cannot be an entry of ours.
ClipboardItem itemFromRecord(const CloudRecord& record)
{
    ClipboardItem item;
    item.contentHash = requiredField<QString>(record, QStringLiteral("contentHash"));
    if (item.contentHash.isEmpty() || CloudRecordNaming::itemRecordName(item.contentHash) != record.recordName)
        throw DecodingError(QStringLiteral("The record's name does not match its content."));
    const auto id = field<QString>(record, QStringLiteral("id"));
    item.id = (id ? QuillomareCore::Uuid::fromText(*id) : std::nullopt)
                  .value_or(CloudRecordNaming::stableUUID(record.recordName));
    item.createdAt = requiredField<QDateTime>(record, QStringLiteral("createdAt"));
    const auto kind = QuillomareCore::ClipKind::fromRawValue(requiredField<QString>(record, QStringLiteral("kind")));
    if (!kind)
        throw DecodingError(QStringLiteral("Unknown kind."));
    item.kind = *kind;
    item.sourceAppName = field<QString>(record, QStringLiteral("sourceAppName"));
    item.sourceBundleIdentifier = field<QString>(record, QStringLiteral("sourceBundleIdentifier"));
    if (const auto platform = field<QString>(record, QStringLiteral("sourcePlatform"))) {
        const auto value = QuillomareCore::ClipSourcePlatform::fromRawValue(*platform);
        if (!value)
            throw DecodingError(QStringLiteral("Unknown source platform."));
        item.sourcePlatform = *value;
    }
    item.isSensitive = field<bool>(record, QStringLiteral("isSensitive")).value_or(false);
    item.isLocalOnly = field<bool>(record, QStringLiteral("isLocalOnly")).value_or(false);
    item.isPinned = field<bool>(record, QStringLiteral("isPinned")).value_or(false);

    const auto text = field<QString>(record, QStringLiteral("payloadText"));
    const auto paths = field<QStringList>(record, QStringLiteral("payloadFileURLs"));
    const auto png = field<QByteArray>(record, QStringLiteral("payloadImagePNG"));
    if (int(text.has_value()) + int(paths.has_value()) + int(png.has_value()) > 1)
        throw DecodingError(QStringLiteral("A record holds one payload."));
    item.payload = text    ? ClipboardPayload::text(*text)
                   : paths ? ClipboardPayload::fileURLs(*paths)
                   : png   ? ClipboardPayload::imagePNG(*png)
                           : ClipboardPayload::empty();
    // The preview a record carries is only what its writer says: the list shows what the
    // content gives, as for a capture here (and never a peer's unbounded text).
    item.preview = ClipboardMonitor::previewOf(item.payload, item.isSensitive);
    return item;
}

CloudRecord deletionRecord(const QString& contentHash, const QDateTime& deletedAt)
{
    return CloudRecord{CloudRecordNaming::deletionRecordType,
                       CloudRecordNaming::deletionRecordName(contentHash),
                       {{QStringLiteral("contentHash"), contentHash}, {QStringLiteral("deletedAt"), deletedAt}},
                       {},
                       {}};
}

ClipboardDeletionTombstone tombstoneFromRecord(const CloudRecord& record)
{
    ClipboardDeletionTombstone tombstone{requiredField<QString>(record, QStringLiteral("contentHash")),
                                         requiredField<QDateTime>(record, QStringLiteral("deletedAt"))};
    if (tombstone.contentHash.isEmpty() ||
        CloudRecordNaming::deletionRecordName(tombstone.contentHash) != record.recordName)
        throw DecodingError(QStringLiteral("The record's name does not match its content."));
    return tombstone;
}

} // namespace

CloudKitSyncService::CloudKitSyncService(std::optional<QString> containerIdentifier, bool syncRichContentToICloud,
                                         const QString& recordsRoot)
    : m_syncRichContentToICloud(syncRichContentToICloud)
{
    try {
        m_database.emplace(containerIdentifier.value_or(QuillomareCore::ClipDefaults::cloudContainerIdentifier),
                           recordsRoot);
    } catch (const QuillomareCore::Error& error) {
        m_databaseError = error.localizedDescription();
    }
}

QuillomareCore::CloudSyncState CloudKitSyncService::state() const
{
    QMutexLocker lock(&m_stateMutex);
    return m_state;
}

void CloudKitSyncService::setState(const CloudSyncState& state)
{
    QMutexLocker lock(&m_stateMutex);
    m_state = state;
}

template <typename Operation> CloudSyncState CloudKitSyncService::perform(Operation&& operation)
{
    QMutexLocker lock(&m_operationMutex);
    setState(CloudSyncState::syncing());
    CloudSyncState result = CloudSyncState::idle();
    if (!m_database) {
        result = CloudSyncState::failed(m_databaseError);
    } else {
        try {
            operation(*m_database);
        } catch (const QuillomareCore::Error& error) {
            result = CloudSyncState::failed(error.localizedDescription());
        } catch (const std::exception& error) {
            result = CloudSyncState::failed(
                Language::text(QStringLiteral("意外错误：%1"), QStringLiteral("Unexpected error: %1"))
                    .arg(QString::fromLocal8Bit(error.what())));
        }
    }
    setState(result);
    return result;
}

CloudSyncState CloudKitSyncService::push(const QList<ClipboardItem>& items)
{
    return perform([&](Platform::CloudDatabase& database) {
        QList<CloudRecord> records;
        for (const ClipboardItem& item : items) {
            if (!item.isCloudExportable(m_syncRichContentToICloud))
                continue;
            CloudRecord record = itemRecord(item);
            const auto clamped = m_clampedDates.constFind(record.recordName);
            if (clamped != m_clampedDates.cend() && clamped->id == item.id && clamped->clamped == item.createdAt)
                record.fields.insert(QStringLiteral("createdAt"), clamped->claimed);
            records.append(std::move(record));
        }
        database.save(records);
    });
}

CloudSyncState CloudKitSyncService::pushDeletionTombstones(const QList<ClipboardDeletionTombstone>& tombstones)
{
    // One record per hash: the latest deletion stands for all of them.
    QHash<QString, QDateTime> latest;
    for (const ClipboardDeletionTombstone& tombstone : tombstones) {
        if (tombstone.contentHash.isEmpty())
            continue;
        QDateTime& date = latest[tombstone.contentHash];
        if (!date.isValid() || tombstone.deletedAt > date)
            date = tombstone.deletedAt;
    }
    return perform([&](Platform::CloudDatabase& database) {
        QList<CloudRecord> records;
        for (auto it = latest.cbegin(); it != latest.cend(); ++it) {
            const QString name = CloudRecordNaming::deletionRecordName(it.key());
            const auto clamped = m_clampedDates.constFind(name);
            const bool asPulled =
                clamped != m_clampedDates.cend() && clamped->id.isNull() && clamped->clamped == it.value();
            records.append(deletionRecord(it.key(), asPulled ? clamped->claimed : it.value()));
        }
        database.save(records);
    });
}

CloudSyncState CloudKitSyncService::pushDeletedContentHashes(const QSet<QString>& contentHashes)
{
    QList<ClipboardDeletionTombstone> tombstones;
    for (const QString& hash : contentHashes)
        tombstones.append(ClipboardDeletionTombstone{hash, QuillomareCore::Clock::now()});
    return pushDeletionTombstones(tombstones);
}

QuillomareCore::CloudSyncPullResult CloudKitSyncService::pull(int limit)
{
    using QuillomareCore::PeerRecords::clampedDate;
    QList<ClipboardItem> items;
    QList<ClipboardDeletionTombstone> tombstones;
    qsizetype rejected = 0;
    qsizetype pending = 0;
    const CloudSyncState state = perform([&](Platform::CloudDatabase& database) {
        const Platform::CloudFetch fetch =
            database.fetchChanged({CloudRecordNaming::itemRecordType, CloudRecordNaming::deletionRecordType}, limit);
        rejected = fetch.rejectedCount;
        pending = fetch.pendingCount;
        const QDateTime now = QuillomareCore::Clock::now();
        for (const CloudRecord& record : fetch.records) {
            const QDateTime latest = std::min(record.arrivalDate.isValid() ? record.arrivalDate : now, now);
            // A record another device wrote damaged is passed over, as a damaged file is.
            try {
                if (record.recordType == CloudRecordNaming::itemRecordType) {
                    ClipboardItem item = itemFromRecord(record);
                    const QDateTime claimed = item.createdAt;
                    item.createdAt = clampedDate(claimed, latest);
                    if (item.createdAt != claimed)
                        m_clampedDates.insert(record.recordName, {item.id, item.createdAt, claimed});
                    else
                        m_clampedDates.remove(record.recordName);
                    items.append(std::move(item));
                } else {
                    ClipboardDeletionTombstone tombstone = tombstoneFromRecord(record);
                    const QDateTime claimed = tombstone.deletedAt;
                    tombstone.deletedAt = clampedDate(claimed, latest);
                    if (tombstone.deletedAt != claimed)
                        m_clampedDates.insert(record.recordName, {QUuid(), tombstone.deletedAt, claimed});
                    else
                        m_clampedDates.remove(record.recordName);
                    tombstones.append(std::move(tombstone));
                }
            } catch (const DecodingError&) {
                ++rejected;
            }
        }
    });
    if (state.caseOf() == CloudSyncState::Case::failed)
        return QuillomareCore::CloudSyncPullResult(state, {}, {}, {});
    QuillomareCore::CloudSyncPullResult result(state, std::move(items), {}, tombstones);
    result.rejectedCount = rejected;
    result.pendingCount = pending;
    return result;
}

CloudSyncState CloudKitSyncService::deleteItems(const QList<ClipboardItem>& items)
{
    QStringList names;
    for (const ClipboardItem& item : items) {
        if (!item.contentHash.isEmpty())
            names.append(CloudRecordNaming::itemRecordName(item.contentHash));
    }
    return perform([&](Platform::CloudDatabase& database) { database.deleteRecords(names); });
}

} // namespace QuillomareMac
