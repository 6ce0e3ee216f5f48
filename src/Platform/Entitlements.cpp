#include "Entitlements.h"

#include <QuillomareCore/ClipSettings.h>

// Set for this file by CMake (src/Platform/CMakeLists.txt).
#ifndef QUILLOMARE_ICLOUD_ENTITLEMENTS
#define QUILLOMARE_ICLOUD_ENTITLEMENTS 1
#endif
#ifndef QUILLOMARE_ICLOUD_CONTAINERS
#define QUILLOMARE_ICLOUD_CONTAINERS ""
#endif

namespace Platform::Entitlements {

QStringList values(const QString& key)
{
    if (!QUILLOMARE_ICLOUD_ENTITLEMENTS)
        return {};
    if (key == iCloudServicesKey)
        return {QStringLiteral("CloudKit")};
    if (key != iCloudContainerIdentifiersKey)
        return {};
    QStringList containers{QuillomareCore::ClipDefaults::cloudContainerIdentifier};
    for (const QString& extra :
         QString::fromUtf8(QUILLOMARE_ICLOUD_CONTAINERS).split(QLatin1Char(','), Qt::SkipEmptyParts)) {
        const QString container = extra.trimmed();
        if (!container.isEmpty() && !containers.contains(container))
            containers.append(container);
    }
    return containers;
}

} // namespace Platform::Entitlements
