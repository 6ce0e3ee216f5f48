// Deletion tombstones and the merging of what a sync run pulled from other devices.

#include "ClipboardStore.h"

#include "Foundation.h"

#include <algorithm>

namespace QuillomareCore {

namespace {

using TombstoneMap = QHash<QString, QDateTime>;

void keepLater(TombstoneMap& map, const QString& hash, const QDateTime& date)
{
    auto it = map.find(hash);
    if (it == map.end())
        map.insert(hash, date);
    else if (date > *it)
        *it = date;
}

bool tombstoneOrder(const ClipboardDeletionTombstone& a, const ClipboardDeletionTombstone& b)
{
    if (a.deletedAt != b.deletedAt)
        return a.deletedAt < b.deletedAt;
    return a.contentHash < b.contentHash;
}

QList<ClipboardDeletionTombstone> sortedTombstones(const TombstoneMap& map)
{
    QList<ClipboardDeletionTombstone> tombstones;
    tombstones.reserve(map.size());
    for (auto it = map.cbegin(); it != map.cend(); ++it)
        tombstones.append(ClipboardDeletionTombstone{it.key(), it.value()});
    std::sort(tombstones.begin(), tombstones.end(), tombstoneOrder);
    return tombstones;
}

} // namespace

QList<ClipboardDeletionTombstone>
ClipboardStore::normalizedTombstones(const QList<ClipboardDeletionTombstone>& tombstones)
{
    TombstoneMap map;
    for (const ClipboardDeletionTombstone& tombstone : tombstones) {
        if (!tombstone.contentHash.isEmpty())
            keepLater(map, tombstone.contentHash, tombstone.deletedAt);
    }
    return sortedTombstones(map);
}

QList<ClipboardDeletionTombstone> ClipboardStore::deletionTombstones() const
{
    return sortedTombstones(m_deletedContentTombstonesByHash);
}

void ClipboardStore::rememberDeletedContentHashes(const QList<ClipboardItem>& removed)
{
    const QDateTime now = Clock::now();
    for (const ClipboardItem& item : removed) {
        if (item.isCloudExportable(m_settings))
            keepLater(m_deletedContentTombstonesByHash, item.contentHash, now);
    }
    trimDeletedContentHashesIfNeeded();
}

void ClipboardStore::trimDeletedContentHashesIfNeeded()
{
    if (m_deletedContentTombstonesByHash.size() <= maxDeletedContentHashCount)
        return;
    const QList<ClipboardDeletionTombstone> sorted = deletionTombstones();
    TombstoneMap kept;
    kept.reserve(maxDeletedContentHashCount);
    for (qsizetype i = sorted.size() - maxDeletedContentHashCount; i < sorted.size(); ++i)
        kept.insert(sorted[i].contentHash, sorted[i].deletedAt);
    m_deletedContentTombstonesByHash = std::move(kept);
}

qsizetype ClipboardStore::mergeDeletionTombstones(const QList<ClipboardDeletionTombstone>& tombstones)
{
    // A deletion cannot have happened after it reached us: dated later, it would also delete
    // every copy made after its arrival, for good.
    const QDateTime now = Clock::now();
    TombstoneMap incoming;
    for (const ClipboardDeletionTombstone& tombstone : tombstones) {
        if (!tombstone.contentHash.isEmpty())
            keepLater(incoming, tombstone.contentHash, PeerRecords::clampedDate(tombstone.deletedAt, now));
    }
    if (incoming.isEmpty())
        return 0;

    const TombstoneMap before = m_deletedContentTombstonesByHash;
    qsizetype removedCount = 0;
    for (auto it = incoming.cbegin(); it != incoming.cend(); ++it) {
        const QString& hash = it.key();
        QDateTime effective = it.value();
        const auto own = m_deletedContentTombstonesByHash.constFind(hash);
        if (own != m_deletedContentTombstonesByHash.cend() && *own > effective)
            effective = *own;

        removedCount += m_items.removeIf([&](const ClipboardItem& item) {
            return item.contentHash == hash && item.isCloudExportable(m_settings) && item.createdAt <= effective;
        });

        const bool newerCopySurvives = std::any_of(m_items.cbegin(), m_items.cend(), [&](const ClipboardItem& item) {
            return item.contentHash == hash && item.createdAt > effective;
        });
        if (newerCopySurvives)
            m_deletedContentTombstonesByHash.remove(hash);
        else
            m_deletedContentTombstonesByHash.insert(hash, effective);
    }
    trimDeletedContentHashesIfNeeded();

    if (removedCount == 0 && m_deletedContentTombstonesByHash == before)
        return 0;
    if (removedCount > 0)
        saveRemoval();
    else
        save();
    return removedCount;
}

qsizetype ClipboardStore::mergeDeletedContentHashes(const QStringList& contentHashes)
{
    QList<ClipboardDeletionTombstone> tombstones;
    tombstones.reserve(contentHashes.size());
    for (const QString& hash : contentHashes)
        tombstones.append(ClipboardDeletionTombstone{hash, Clock::now()});
    return mergeDeletionTombstones(tombstones);
}

qsizetype ClipboardStore::merge(const QList<ClipboardItem>& pulledItems)
{
    return merge(pulledItems, nullptr);
}

qsizetype ClipboardStore::merge(const QList<ClipboardItem>& pulledItems, qsizetype* rejectedCount)
{
    const QDateTime now = Clock::now();
    const TombstoneMap before = m_deletedContentTombstonesByHash;
    qsizetype changes = 0;
    qsizetype rejected = 0;
    for (ClipboardItem pulled : pulledItems) {
        if (!pulled.fitsLocalHistoryPayloadLimits() || !pulled.isCloudExportable(m_settings))
            continue;
        // Hashed once: the check of its identity below and its first save share the hash.
        if (pulled.payload.isImagePNG() && !pulled.payload.storedImageText())
            pulled.payload = ClipboardPayload::hashedImagePNG(pulled.payload.imagePNGValue());
        // An entry whose content is not what its hash says would take the place of the entry
        // that has that hash; one that reuses another entry's id would be removed with it.
        const auto sameId = std::find_if(m_items.cbegin(), m_items.cend(),
                                         [&](const ClipboardItem& item) { return item.id == pulled.id; });
        if (PeerRecords::contentProblem(pulled) ||
            (sameId != m_items.cend() && sameId->contentHash != pulled.contentHash)) {
            ++rejected;
            continue;
        }
        // A date in the future would sort the entry above everything copied until then, and
        // trimming would drop those instead.
        pulled.createdAt = PeerRecords::clampedDate(pulled.createdAt, now);

        const auto tombstone = m_deletedContentTombstonesByHash.constFind(pulled.contentHash);
        if (tombstone != m_deletedContentTombstonesByHash.cend()) {
            if (!(pulled.createdAt > *tombstone))
                continue;
            m_deletedContentTombstonesByHash.erase(tombstone);
        }

        const auto local = std::find_if(m_items.begin(), m_items.end(), [&](const ClipboardItem& item) {
            return item.contentHash == pulled.contentHash;
        });
        if (local == m_items.end()) {
            m_items.append(pulled);
            ++changes;
        } else if (pulled.createdAt > local->createdAt && pulled.id != local->id) {
            const bool pinned = pulled.isPinned || local->isPinned;
            *local = pulled;
            local->isPinned = pinned;
            ++changes;
        } else if (pulled.isPinned && !local->isPinned) {
            // The same capture seen again (its date read differently by a peer that clamps it,
            // say) only spreads its pin.
            local->isPinned = true;
            ++changes;
        }
    }
    if (rejectedCount)
        *rejectedCount = rejected;
    sortIntoHistoryOrder(m_items);
    trimToMaxHistoryCount();

    if (changes == 0 && m_deletedContentTombstonesByHash == before)
        return 0;
    save();
    return changes;
}

} // namespace QuillomareCore
