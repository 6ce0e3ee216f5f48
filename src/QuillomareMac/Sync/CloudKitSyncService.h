#pragma once

#include <Platform/CloudDatabase.h>
#include <QuillomareCore/CloudSyncService.h>

#include <QHash>
#include <QMutex>
#include <QUuid>

#include <optional>

namespace QuillomareMac {

// Sync through the container's private database (Platform::CloudDatabase): entries travel as
// "ClipboardItem" records, deletions as "ClipboardDeletion" records, each named after its
// content hash (CloudRecordNaming). Every operation blocks until it is done, never throws and
// reports a failure as `failed` with a message. Any thread may call it: operations run one at a
// time, and `state()` answers at once, also while one runs (it is then `syncing`).
class CloudKitSyncService final : public QuillomareCore::CloudSyncing
{
public:
    // The container `containerIdentifier`, or the default one when absent. Touches no file and
    // cannot fail; the state is idle. An identifier that cannot name the container's folder
    // makes every operation fail with the reason.
    CloudKitSyncService(std::optional<QString> containerIdentifier, bool syncRichContentToICloud,
                        const QString& recordsRoot = Platform::CloudDatabase::defaultRecordsRoot());

    QuillomareCore::CloudSyncState state() const override;
    // Sends the entries that may reach the cloud (isCloudExportable with this service's
    // rich-content switch); the others are passed over.
    QuillomareCore::CloudSyncState push(const QList<QuillomareCore::ClipboardItem>& items) override;
    QuillomareCore::CloudSyncState
    pushDeletionTombstones(const QList<QuillomareCore::ClipboardDeletionTombstone>& tombstones) override;
    // A deletion record dated now for each non-empty hash.
    QuillomareCore::CloudSyncState pushDeletedContentHashes(const QSet<QString>& contentHashes) override;
    // The records new to this service since its last pull (changed in the folder, as the local
    // file system tells), at most `limit`, the latest arrivals of both types first; the rest stay
    // new for the next pulls and are counted in the result's pendingCount.
    // Dates are believed only up to the moment the record reached this machine: an entry's
    // creation and a deletion dated later count as made then. Damaged, oversized and misnamed
    // records are skipped and counted in the result's rejectedCount. A failed pull carries no
    // entries and no deletions.
    QuillomareCore::CloudSyncPullResult pull(int limit) override;
    QuillomareCore::CloudSyncState deleteItems(const QList<QuillomareCore::ClipboardItem>& items) override;

private:
    template <typename Operation> QuillomareCore::CloudSyncState perform(Operation&& operation);
    void setState(const QuillomareCore::CloudSyncState& state);

    const bool m_syncRichContentToICloud;
    std::optional<Platform::CloudDatabase> m_database;
    QString m_databaseError;
    QMutex m_operationMutex;
    mutable QMutex m_stateMutex;
    QuillomareCore::CloudSyncState m_state = QuillomareCore::CloudSyncState::idle();
    // Records whose date a pull moved back to their arrival, by record name: pushing the entry
    // or deletion back writes the record's own date again, so that the record stays as it is
    // (and a peer does not see it change back and forth).
    struct ClampedDate
    {
        QUuid id; // of the entry; null for a deletion
        QDateTime clamped;
        QDateTime claimed;
    };
    QHash<QString, ClampedDate> m_clampedDates;
};

} // namespace QuillomareMac
