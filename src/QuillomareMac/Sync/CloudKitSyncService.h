#pragma once

#include <Platform/CloudDatabase.h>
#include <QuillomareCore/CloudSyncService.h>

#include <QMutex>

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
    // At most `limit` records, the most recently modified of both types; damaged records are
    // skipped. A failed pull carries no entries and no deletions.
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
};

} // namespace QuillomareMac
