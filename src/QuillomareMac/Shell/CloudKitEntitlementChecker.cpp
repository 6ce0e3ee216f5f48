#include "CloudKitEntitlementChecker.h"

#include <Platform/Entitlements.h>
#include <QuillomareCore/Foundation.h>
#include <QuillomareCore/Language.h>

namespace QuillomareMac::CloudKitEntitlementChecker {

namespace Language = QuillomareCore::Language;

QStringList entitlementStrings(const QString& key)
{
    return Platform::Entitlements::values(key);
}

std::optional<QString> unavailableReason(const QString& containerIdentifier, const QStringList& containers,
                                         const QStringList& services)
{
    const QString identifier = QuillomareCore::Text::trimmed(containerIdentifier);
    if (identifier.isEmpty())
        return Language::text(QStringLiteral("缺少同步容器标识"), QStringLiteral("Missing sync container identifier"));
    if (!services.contains(QStringLiteral("CloudKit")))
        return Language::text(QStringLiteral("当前构建未包含文件夹同步"),
                              QStringLiteral("This build does not include folder sync"));
    if (containers.contains(identifier))
        return std::nullopt;
    return Language::text(QStringLiteral("当前构建不能使用同步容器 %1"),
                          QStringLiteral("This build cannot use the %1 sync container"))
        .arg(identifier);
}

} // namespace QuillomareMac::CloudKitEntitlementChecker
