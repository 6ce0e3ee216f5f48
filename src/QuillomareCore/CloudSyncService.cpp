#include "CloudSyncService.h"

#include "Coding.h"
#include "Foundation.h"
#include "Hashing.h"
#include "Json.h"

#include <QHash>

#include <algorithm>

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

namespace PeerRecords {

QDateTime clampedDate(const QDateTime& claimed, const QDateTime& latest)
{
    if (!claimed.isValid() || claimed > latest.addSecs(clockSkewAllowanceSeconds))
        return latest;
    return claimed;
}

namespace {

// The signature and a sound header chunk: enough to tell a picture from bytes dressed up as one
// without decoding it.
bool beginsAsPNG(const QByteArray& bytes)
{
    return bytes.size() >= 33 && Png::headerSize(bytes);
}

// Paths as a capture takes them: absolute, and free of the line feed that joins them for the
// hash (a path holding one could pass for two).
bool isPathList(const QStringList& paths)
{
    return !paths.isEmpty() && std::all_of(paths.cbegin(), paths.cend(), [](const QString& path) {
        return path.startsWith(QLatin1Char('/')) && !path.contains(QLatin1Char('\n')) && !path.contains(QChar(u'\0'));
    });
}

} // namespace

std::optional<QString> contentProblem(const ClipboardItem& item)
{
    const ClipboardPayload& payload = item.payload;
    bool fits = false;
    switch (item.kind) {
    case ClipKind::text:
    case ClipKind::url:
        fits = payload.isText();
        break;
    case ClipKind::file:
        fits = payload.isFileURLs() && isPathList(payload.fileURLsValue());
        break;
    case ClipKind::image:
        // A copied image file travels as its path, a copied picture as its bytes.
        fits = (payload.isFileURLs() && isPathList(payload.fileURLsValue())) ||
               (payload.isImagePNG() && beginsAsPNG(payload.imagePNGValue()));
        break;
    case ClipKind::unknown:
        break;
    }
    if (!fits)
        return QStringLiteral("its kind \"%1\" does not fit its content").arg(item.kind.rawValue());
    if (item.contentHash.isEmpty() || item.contentHash != ClipHashing::payloadContentHash(payload))
        return QStringLiteral("its content hash is not that of its content");
    return std::nullopt;
}

} // namespace PeerRecords

} // namespace QuillomareCore
