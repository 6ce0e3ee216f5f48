#pragma once

#include <QString>
#include <QUuid>

namespace QuillomareMac {

// Names of the records in the private database. Every device derives them from the content
// hash alone, so an entry and its deletion have one record each however often they travel.
namespace CloudRecordNaming {

inline const QString itemRecordType = QStringLiteral("ClipboardItem");
inline const QString deletionRecordType = QStringLiteral("ClipboardDeletion");

// "item:" / "delete:" and the SHA-256 digest (lower-case hex) of the content hash.
QString itemRecordName(const QString& contentHash);
QString deletionRecordName(const QString& contentHash);
// The same UUID for the same record name on every device (name-based, version 5).
QUuid stableUUID(const QString& recordName);

} // namespace CloudRecordNaming

} // namespace QuillomareMac
