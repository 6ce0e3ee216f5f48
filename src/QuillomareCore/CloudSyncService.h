#pragma once

#include "ClipboardItem.h"

#include <QDateTime>
#include <QList>
#include <QSet>
#include <QString>

#include <optional>

namespace QuillomareCore {

namespace Json {
class Value;
class Writer;
} // namespace Json

class CloudSyncState
{
public:
    enum class Case : quint8
    {
        unavailable,
        failed,
        disabled,
        idle,
        syncing
    };

    static CloudSyncState unavailable(QString reason) { return CloudSyncState(Case::unavailable, std::move(reason)); }
    static CloudSyncState failed(QString message) { return CloudSyncState(Case::failed, std::move(message)); }
    static CloudSyncState disabled() { return CloudSyncState(Case::disabled, {}); }
    static CloudSyncState idle() { return CloudSyncState(Case::idle, {}); }
    static CloudSyncState syncing() { return CloudSyncState(Case::syncing, {}); }

    Case caseOf() const { return m_case; }
    // The reason of `unavailable` or the message of `failed`; empty for the others.
    const QString& text() const { return m_text; }

    friend bool operator==(const CloudSyncState&, const CloudSyncState&) = default;

private:
    CloudSyncState(Case c, QString text) : m_case(c), m_text(std::move(text)) {}
    Case m_case;
    QString m_text;
};

// The record that an entry which could have reached the cloud was deleted.
struct ClipboardDeletionTombstone
{
    QString contentHash;
    QDateTime deletedAt;

    friend bool operator==(const ClipboardDeletionTombstone&, const ClipboardDeletionTombstone&) = default;

    void encode(Json::Writer& writer) const;
    // Both keys are required; throws DecodingError.
    static ClipboardDeletionTombstone decode(const Json::Value& value);
};

struct CloudSyncPullResult
{
    // Folds the pulled tombstones and the pulled set of deleted hashes into one tombstone per
    // non-empty hash with the latest date; a hash known only from the set is dated now.
    CloudSyncPullResult(CloudSyncState state, QList<ClipboardItem> items, const QSet<QString>& deletedContentHashes,
                        const QList<ClipboardDeletionTombstone>& deletionTombstones);

    CloudSyncState state;
    QList<ClipboardItem> items;
    QSet<QString> deletedContentHashes;
    QList<ClipboardDeletionTombstone> deletionTombstones; // in no particular order
    // Records the service passed over as unusable (damaged, oversized, not what they claim to be).
    qsizetype rejectedCount = 0;
    // New records past the pull's limit: the next pulls bring them.
    qsizetype pendingCount = 0;
};

// Other devices are not trusted further than their records can be checked: a date they claim
// never outranks the present, and content must be what its identity says.
namespace PeerRecords {

// How far ahead of the present a peer's clock may run before its dates are not believed.
inline constexpr qint64 clockSkewAllowanceSeconds = 30;

// `claimed`, unless it lies more than the skew allowance after `latest` (or is not a date): then
// `latest`, the last moment the claim can be true.
QDateTime clampedDate(const QDateTime& claimed, const QDateTime& latest);

// Why an entry cannot be what it says it is, or nothing when it can: its content hash must be
// the one its payload gives, its kind must fit the payload (text and links hold text, files a
// list of absolute paths, images a PNG image or a list of image files), and a PNG must at least
// begin as one.
std::optional<QString> contentProblem(const ClipboardItem& item);

} // namespace PeerRecords

// How the application talks to cloud sync. Every operation blocks until it is done, never throws
// and reports failures as a `failed` state: callers run them off the GUI thread.
class CloudSyncing
{
public:
    virtual ~CloudSyncing() = default;

    virtual CloudSyncState state() const = 0;
    virtual CloudSyncState push(const QList<ClipboardItem>& items) = 0;
    virtual CloudSyncState pushDeletionTombstones(const QList<ClipboardDeletionTombstone>& tombstones) = 0;
    virtual CloudSyncState pushDeletedContentHashes(const QSet<QString>& contentHashes) = 0;
    virtual CloudSyncPullResult pull(int limit) = 0;
    virtual CloudSyncState deleteItems(const QList<ClipboardItem>& items) = 0; // `delete` is a C++ keyword
};

// The inert service used while sync is off or cannot run: it answers everything with its one state.
class LocalOnlyCloudSyncService final : public CloudSyncing
{
public:
    explicit LocalOnlyCloudSyncService(QString reason) : m_state(CloudSyncState::unavailable(std::move(reason))) {}

    CloudSyncState state() const override { return m_state; }
    CloudSyncState push(const QList<ClipboardItem>&) override { return m_state; }
    CloudSyncState pushDeletionTombstones(const QList<ClipboardDeletionTombstone>&) override { return m_state; }
    CloudSyncState pushDeletedContentHashes(const QSet<QString>&) override { return m_state; }
    CloudSyncPullResult pull(int) override { return CloudSyncPullResult(m_state, {}, {}, {}); }
    CloudSyncState deleteItems(const QList<ClipboardItem>&) override { return m_state; }

private:
    const CloudSyncState m_state;
};

} // namespace QuillomareCore
