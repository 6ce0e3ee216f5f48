#include "CloudKitEntitlementChecker.h"

#include "Localization.h"

#include <Platform/Entitlements.h>
#include <QuillomareCore/Foundation.h>

namespace QuillomareMac::CloudKitEntitlementChecker {

QStringList entitlementStrings(const QString& key)
{
    return Platform::Entitlements::values(key);
}

std::optional<QString> unavailableReason(const QString& containerIdentifier, const QStringList& containers,
                                         const QStringList& services)
{
    const QString identifier = QuillomareCore::Text::trimmed(containerIdentifier);
    if (identifier.isEmpty())
        return L10n::text(QStringLiteral("缺少 iCloud Container Identifier"),
                          QStringLiteral("Missing iCloud Container Identifier"));
    if (!services.contains(QStringLiteral("CloudKit")))
        return L10n::text(QStringLiteral("当前应用没有 CloudKit 签名权限"),
                          QStringLiteral("The app is missing the CloudKit signing entitlement"));
    if (containers.contains(identifier))
        return std::nullopt;
    return L10n::text(QStringLiteral("当前应用没有 %1 容器权限"),
                      QStringLiteral("The app is missing the %1 container entitlement"))
        .arg(identifier);
}

} // namespace QuillomareMac::CloudKitEntitlementChecker
