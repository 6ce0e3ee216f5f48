#include "PairingDiagnosticReport.h"

#include "PairingReadinessChecklist.h"
#include "SingleInstance.h"

#include <QuillomareCore/Language.h>

#include <QDir>

namespace QuillomareMac::PairingDiagnosticReport {

namespace Language = QuillomareCore::Language;

using QuillomareCore::CloudSyncState;

namespace {

QString onOff(bool on)
{
    return on ? Language::text(QStringLiteral("开启"), QStringLiteral("On"))
              : Language::text(QStringLiteral("关闭"), QStringLiteral("Off"));
}

QString syncStateText(const CloudSyncState& state)
{
    switch (state.caseOf()) {
    case CloudSyncState::Case::unavailable:
        return Language::text(QStringLiteral("不可用（%1）"), QStringLiteral("Unavailable (%1)")).arg(state.text());
    case CloudSyncState::Case::failed:
        return Language::text(QStringLiteral("失败（%1）"), QStringLiteral("Failed (%1)")).arg(state.text());
    case CloudSyncState::Case::disabled:
        return Language::text(QStringLiteral("本地模式"), QStringLiteral("Local mode"));
    case CloudSyncState::Case::idle:
        return Language::text(QStringLiteral("空闲/已就绪"), QStringLiteral("Idle / ready"));
    case CloudSyncState::Case::syncing:
        return Language::text(QStringLiteral("同步中"), QStringLiteral("Syncing"));
    }
    Q_UNREACHABLE();
    return {};
}

// A long list would swamp the report: four names, then the total.
QString ignoredSourceText(const QStringList& identifiers)
{
    if (identifiers.isEmpty())
        return Language::text(QStringLiteral("未配置"), QStringLiteral("Not configured"));
    QString text = identifiers.mid(0, 4).join(QStringLiteral(", "));
    if (identifiers.size() >= 5) {
        const QString total = QString::number(identifiers.size());
        text += Language::text(QStringLiteral(" 等 ") + total + QStringLiteral(" 个"),
                               QStringLiteral(" and ") + total + QStringLiteral(" total"));
    }
    return text;
}

QString privacyText(const QuillomareCore::ClipSettings& settings)
{
    if (settings.ignoreSensitiveContent)
        return Language::text(QStringLiteral("自动忽略敏感内容"),
                              QStringLiteral("Automatically ignore sensitive content"));
    if (settings.markSensitiveLocalOnly)
        return Language::text(QStringLiteral("敏感内容隐藏预览并仅本机保留"),
                              QStringLiteral("Sensitive content hides preview and stays on this computer only"));
    return Language::text(QStringLiteral("敏感内容隐藏预览，文件夹同步仍跳过敏感项"),
                          QStringLiteral("Sensitive content hides preview; folder sync still skips sensitive items"));
}

QString availabilityText(const std::optional<QString>& problem)
{
    if (!problem)
        return Language::text(QStringLiteral("可用"), QStringLiteral("Available"));
    return Language::text(QStringLiteral("不可用（%1）"), QStringLiteral("Unavailable (%1)")).arg(*problem);
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
             const PairingReadinessChecklist::MachineConditions& machine, const QDateTime& generatedAt)
{
    const auto t = [](const char16_t* chinese, const char16_t* english) {
        return Language::text(QString::fromUtf16(chinese), QString::fromUtf16(english));
    };
    const QString limit = QString::number(settings.maxHistoryCount);

    QString report = t(u"Quillomare 联动诊断", u"Quillomare Cross-device Diagnostics") + QLatin1Char('\n');
    report += t(u"生成时间：", u"Generated at: ") + generatedAt.toUTC().toString(Qt::ISODate) + QStringLiteral("\n\n");
    report +=
        section(t(u"本机状态", u"This computer"),
                {
                    t(u"自动记录剪贴板：", u"Auto-capture clipboard: ") + onOff(captureEnabled),
                    t(u"文件夹同步开关：", u"Folder sync toggle: ") + onOff(settings.cloudSyncEnabled),
                    t(u"图片/文件同步：", u"Image/file sync: ") + onOff(settings.syncRichContentToICloud),
                    t(u"当前同步状态：", u"Current sync state: ") + syncStateText(cloudState),
                    Language::text(QStringLiteral("历史上限：") + limit + QStringLiteral(" 条"),
                                   QStringLiteral("History limit: ") + limit),
                    t(u"隐私策略：", u"Privacy policy: ") + privacyText(settings),
                    t(u"自动忽略来源：", u"Auto-ignored sources: ") +
                        ignoredSourceText(settings.ignoredSourceBundleIdentifiers),
                    t(u"同步文件夹：", u"Sync folder: ") + availabilityText(machine.syncFolderProblem),
                    t(u"KDE Connect 配对设备：", u"KDE Connect paired device: ") +
                        (machine.pairedDeviceChecking       ? t(u"正在检查…", u"Checking…")
                         : !machine.sharingServiceInstalled ? t(u"未安装 KDE Connect", u"KDE Connect is not installed")
                         : machine.pairedDeviceReachable    ? t(u"可连接", u"Reachable")
                                                            : t(u"无法连接", u"Not reachable")),
                    t(u"全局快捷键：", u"Global hot keys: ") +
                        (machine.hotKeyRegistered ? t(u"已注册", u"Registered") : t(u"未注册", u"Not registered")),
                }) +
        QStringLiteral("\n\n");
    // These heads are the same in both languages, full-width colon included.
    report += section(t(u"共享标识", u"Shared identifiers"),
                      {
                          QStringLiteral("App ID：") + SingleInstance::bundleIdentifier,
                          QStringLiteral("Sync Container：") + settings.resolvedCloudContainerIdentifier(),
                          QStringLiteral("Sync Folder：") + QDir::toNativeSeparators(machine.syncFolder),
                      })
        + QStringLiteral("\n\n");
    report += t(u"联动就绪清单", u"Cross-device readiness checklist") + QLatin1Char('\n')
        + PairingReadinessChecklist::reportText(
                  PairingReadinessChecklist::make(settings, captureEnabled, cloudState, machine))
        + QStringLiteral("\n\n");
    report += section(t(u"其他电脑需要一致配置", u"Other computers need matching configuration"),
                      {
                          t(u"使用同一个同步容器标识", u"Use the same sync container identifier"),
                          t(u"用文件同步工具（如 Syncthing 或 Nextcloud）让同步文件夹与本机保持一致",
                            u"Keep the sync folder in step with this computer's through a file-sync tool (such as "
                            u"Syncthing or Nextcloud)"),
                          t(u"在那台电脑的 Quillomare 中也开启文件夹同步",
                            u"Turn on folder sync in Quillomare there too"),
                          t(u"要发送到手机，先在 KDE Connect 中把手机与本机配对",
                            u"To send items to a phone, pair it with this computer in KDE Connect"),
                      })
        + QStringLiteral("\n\n");
    report += t(u"若同步文件夹不可用，请确认该文件夹可写、同步容器标识只含字母、数字、“.”、“-”和“_”，"
                u"再在两台电脑之间验证同步。",
                u"If the sync folder is unavailable, check that it can be written and that the sync container "
                u"identifier uses only letters, digits, “.”, “-” and “_”, then verify sync between two "
                u"computers.");
    return report;
}

} // namespace QuillomareMac::PairingDiagnosticReport
