#pragma once

#include <QString>
#include <QStringList>

namespace Platform {

// The program's code-signing entitlements. Linux has no signatures to carry them, so the values
// are fixed when the program is built: by default the build may use iCloud with the default
// container, so that sync can be switched on; a build configured with
// -DQUILLOMARE_ICLOUD_ENTITLEMENTS=OFF has none and keeps sync local-only, and
// -DQUILLOMARE_ICLOUD_CONTAINERS=a,b grants further containers.
namespace Entitlements {

inline const QString iCloudServicesKey = QStringLiteral("com.apple.developer.icloud-services");
inline const QString iCloudContainerIdentifiersKey = QStringLiteral("com.apple.developer.icloud-container-identifiers");

// The entitlement's values; empty for an entitlement the build does not have.
QStringList values(const QString& key);

} // namespace Entitlements

} // namespace Platform
