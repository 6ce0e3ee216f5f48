#pragma once

#include <QString>
#include <QStringList>

#include <optional>

namespace QuillomareMac {

// Whether the program's entitlements let it use iCloud with a container, and why not.
namespace CloudKitEntitlementChecker {

// The program's values of an entitlement (Platform::Entitlements); empty when it has none.
QStringList entitlementStrings(const QString& key);

// Nothing when iCloud can be used with `containerIdentifier` (trimmed), else the reason in the
// interface language: the identifier is blank, `services` lacks "CloudKit", or `containers`
// lacks the identifier.
std::optional<QString> unavailableReason(const QString& containerIdentifier, const QStringList& containers,
                                         const QStringList& services);

} // namespace CloudKitEntitlementChecker

} // namespace QuillomareMac
