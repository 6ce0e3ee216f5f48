#include "PairingDiagnosticReport.h"

#include "Localization.h"
#include "PairingReadinessChecklist.h"

namespace QuillomareMac::PairingDiagnosticReport {

using QuillomareCore::CloudSyncState;

namespace {

QString onOff(bool on)
{
    return on ? L10n::text(QStringLiteral("开启"), QStringLiteral("On"))
              : L10n::text(QStringLiteral("关闭"), QStringLiteral("Off"));
}

QString syncStateText(const CloudSyncState& state)
{
    switch (state.caseOf()) {
    case CloudSyncState::Case::unavailable:
        return L10n::text(QStringLiteral("不可用（%1）"), QStringLiteral("Unavailable (%1)")).arg(state.text());
    case CloudSyncState::Case::failed:
        return L10n::text(QStringLiteral("失败（%1）"), QStringLiteral("Failed (%1)")).arg(state.text());
    case CloudSyncState::Case::disabled:
        return L10n::text(QStringLiteral("本地模式"), QStringLiteral("Local mode"));
    case CloudSyncState::Case::idle:
        return L10n::text(QStringLiteral("空闲/已就绪"), QStringLiteral("Idle / ready"));
    case CloudSyncState::Case::syncing:
        return L10n::text(QStringLiteral("同步中"), QStringLiteral("Syncing"));
    }
    Q_UNREACHABLE();
    return {};
}

// A long list would swamp the report: four names, then the total.
QString ignoredSourceText(const QStringList& identifiers)
{
    if (identifiers.isEmpty())
        return L10n::text(QStringLiteral("未配置"), QStringLiteral("Not configured"));
    QString text = identifiers.mid(0, 4).join(QStringLiteral(", "));
    if (identifiers.size() >= 5) {
        const QString total = QString::number(identifiers.size());
        text += L10n::text(QStringLiteral(" 等 ") + total + QStringLiteral(" 个"),
                           QStringLiteral(" and ") + total + QStringLiteral(" total"));
    }
    return text;
}

QString privacyText(const QuillomareCore::ClipSettings& settings)
{
    if (settings.ignoreSensitiveContent)
        return L10n::text(QStringLiteral("自动忽略敏感内容"), QStringLiteral("Automatically ignore sensitive content"));
    if (settings.markSensitiveLocalOnly)
        return L10n::text(QStringLiteral("敏感内容隐藏预览并仅本机保留"),
                          QStringLiteral("Sensitive content hides preview and stays on this Mac only"));
    return L10n::text(QStringLiteral("敏感内容隐藏预览，iCloud 仍跳过敏感项"),
                      QStringLiteral("Sensitive content hides preview; iCloud still skips sensitive items"));
}

QString entitlementText(const std::optional<QString>& reason)
{
    if (!reason)
        return L10n::text(QStringLiteral("可用"), QStringLiteral("Available"));
    return L10n::text(QStringLiteral("不可用（%1）"), QStringLiteral("Unavailable (%1)")).arg(*reason);
}

// A heading followed by its "- " lines, each on a line of its own.
QString section(const QString& heading, const QStringList& lines)
{
    QString text = heading;
    for (const QString& line : lines)
        text += QStringLiteral("\n- ") + line;
    return text;
}

} // namespace

QString make(const QuillomareCore::ClipSettings& settings, bool captureEnabled, const CloudSyncState& cloudState,
             const std::optional<QString>& cloudEntitlementReason, const QDateTime& generatedAt)
{
    const auto t = [](const char16_t* chinese, const char16_t* english) {
        return L10n::text(QString::fromUtf16(chinese), QString::fromUtf16(english));
    };
    const QString limit = QString::number(settings.maxHistoryCount);

    QString report = t(u"Quillomare 联动诊断", u"Quillomare Cross-device Diagnostics") + QLatin1Char('\n');
    report += t(u"生成时间：", u"Generated at: ") + generatedAt.toUTC().toString(Qt::ISODate) + QStringLiteral("\n\n");
    report += section(t(u"Mac 状态", u"Mac status"),
                      {
                          t(u"自动记录剪贴板：", u"Auto-capture clipboard: ") + onOff(captureEnabled),
                          t(u"iCloud 同步开关：", u"iCloud Sync toggle: ") + onOff(settings.cloudSyncEnabled),
                          t(u"图片/文件 iCloud 同步：", u"Image/file iCloud Sync: ")
                              + onOff(settings.syncRichContentToICloud),
                          t(u"当前同步状态：", u"Current sync state: ") + syncStateText(cloudState),
                          L10n::text(QStringLiteral("历史上限：") + limit + QStringLiteral(" 条"),
                                     QStringLiteral("History limit: ") + limit),
                          t(u"隐私策略：", u"Privacy policy: ") + privacyText(settings),
                          t(u"自动忽略来源：", u"Auto-ignored sources: ")
                              + ignoredSourceText(settings.ignoredSourceBundleIdentifiers),
                          t(u"Mac 签名权限：", u"Mac signing entitlement: ") + entitlementText(cloudEntitlementReason),
                      })
        + QStringLiteral("\n\n");
    // These two heads are the same in both languages, full-width colon included.
    report += section(t(u"共享标识", u"Shared identifiers"),
                      {
                          QStringLiteral("App Group：") + QuillomareCore::ClipDefaults::appGroupIdentifier,
                          QStringLiteral("iCloud Container：") + settings.resolvedCloudContainerIdentifier(),
                      })
        + QStringLiteral("\n\n");
    report += t(u"联动就绪清单", u"Cross-device readiness checklist") + QLatin1Char('\n')
        + PairingReadinessChecklist::reportText(
                  PairingReadinessChecklist::make(settings, captureEnabled, cloudState, cloudEntitlementReason))
        + QStringLiteral("\n\n");
    report += section(t(u"iPhone 端需要一致配置", u"iPhone side needs matching configuration"),
                      {
                          t(u"iOS App、Share Extension、Keyboard Extension、Widget Extension 使用同一个 App Group",
                            u"The iOS App, Share Extension, Keyboard Extension and Widget Extension use the same "
                            u"App Group"),
                          t(u"所有 iOS targets 使用同一个 iCloud Container",
                            u"All iOS targets use the same iCloud Container"),
                          t(u"Mac 和 iPhone 使用同一 Apple Developer Team 签名",
                            u"Mac and iPhone are signed with the same Apple Developer Team"),
                          t(u"iPhone App 内开启 iCloud 同步；键盘扩展需要在系统设置里开启完全访问",
                            u"Enable iCloud Sync in the iPhone app; the keyboard extension needs Full Access in "
                            u"System Settings"),
                      })
        + QStringLiteral("\n\n");
    report += t(u"若 Mac 签名权限不可用，请用包含 CloudKit entitlement 的 Apple Development 或 Developer ID "
                u"签名重新打包，再进行真机 iCloud 联动验证。",
                u"If the Mac signing entitlement is unavailable, repackage with an Apple Development or Developer "
                u"ID signature that includes the CloudKit entitlement, then verify cross-device iCloud sync on "
                u"real devices.");
    return report;
}

} // namespace QuillomareMac::PairingDiagnosticReport
