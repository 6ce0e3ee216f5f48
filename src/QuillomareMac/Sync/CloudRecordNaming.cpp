#include "CloudRecordNaming.h"

#include <QuillomareCore/Hashing.h>

namespace QuillomareMac::CloudRecordNaming {

QString itemRecordName(const QString& contentHash)
{
    return QStringLiteral("item:") + QuillomareCore::ClipHashing::sha256(contentHash);
}

QString deletionRecordName(const QString& contentHash)
{
    return QStringLiteral("delete:") + QuillomareCore::ClipHashing::sha256(contentHash);
}

QUuid stableUUID(const QString& recordName)
{
    // The program's own namespace, so that its UUIDs never meet another name scheme's.
    static const QUuid recordNamespace(QStringLiteral("{6f1c2a4e-3b7d-4e58-9a0c-51d2b8e7f934}"));
    return QUuid::createUuidV5(recordNamespace, recordName);
}

} // namespace QuillomareMac::CloudRecordNaming
