#include "CloudSyncService.h"

#include "Coding.h"
#include "Foundation.h"
#include "Json.h"

#include <QHash>

namespace QuillomareCore {

void ClipboardDeletionTombstone::encode(Json::Writer& writer) const
{
    writer.beginObject();
    writer.key("contentHash");
    writer.string(contentHash);
    writer.key("deletedAt");
    writer.string(Iso8601::format(deletedAt));
    writer.endObject();
}

ClipboardDeletionTombstone ClipboardDeletionTombstone::decode(const Json::Value& value)
{
    value.requireObject("ClipboardDeletionTombstone");
    const auto hash = value.member("contentHash");
    const auto date = value.member("deletedAt");
    if (!hash || !date)
        throw DecodingError(QStringLiteral("No value associated with key \"%1\".")
                                .arg(hash ? QStringLiteral("deletedAt") : QStringLiteral("contentHash")));
    return ClipboardDeletionTombstone{hash->toString("contentHash"), Coding::decodeDate(*date, "deletedAt")};
}

CloudSyncPullResult::CloudSyncPullResult(CloudSyncState state, QList<ClipboardItem> items,
                                         const QSet<QString>& deletedContentHashes,
                                         const QList<ClipboardDeletionTombstone>& deletionTombstones)
    : state(std::move(state)), items(std::move(items))
{
    QHash<QString, QDateTime> latest;
    for (const ClipboardDeletionTombstone& tombstone : deletionTombstones) {
        if (tombstone.contentHash.isEmpty())
            continue;
        auto it = latest.find(tombstone.contentHash);
        if (it == latest.end())
            latest.insert(tombstone.contentHash, tombstone.deletedAt);
        else if (tombstone.deletedAt > *it)
            *it = tombstone.deletedAt;
    }
    for (const QString& hash : deletedContentHashes) {
        if (hash.isEmpty() || latest.contains(hash))
            continue;
        latest.insert(hash, Clock::now());
    }
    for (auto it = latest.cbegin(); it != latest.cend(); ++it) {
        this->deletedContentHashes.insert(it.key());
        this->deletionTombstones.append(ClipboardDeletionTombstone{it.key(), it.value()});
    }
}

} // namespace QuillomareCore
