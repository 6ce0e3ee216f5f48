#include "StandardFolders.h"

#include <QDir>
#include <QStandardPaths>

namespace Platform::StandardFolders {

QString applicationSupport()
{
    return QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation);
}

QString caches()
{
    return QStandardPaths::writableLocation(QStandardPaths::GenericCacheLocation);
}

QString temporary()
{
    return QDir::tempPath();
}

} // namespace Platform::StandardFolders
