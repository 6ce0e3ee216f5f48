#include "PairingReadinessChecklist.h"

#include "CloudKitEntitlementChecker.h"

#include <Platform/CloudDatabase.h>
#include <Platform/Entitlements.h>
#include <QuillomareCore/Language.h>

#include <QDir>
#include <QFileInfo>

namespace QuillomareMac::PairingReadinessChecklist {

namespace Language = QuillomareCore::Language;

using QuillomareCore::CloudSyncState;

namespace {

// Item 2 stays ready whenever sync is switched on; its detail is where a problem shows.
QString syncDetail(const CloudSyncState& state)
{
    switch (state.caseOf()) {
    case CloudSyncState::Case::unavailable:
        return Language::text(QStringLiteral("同步文件夹暂不可用："),
                              QStringLiteral("The sync folder is currently unavailable: ")) +
               state.text();
    case CloudSyncState::Case::failed:
        return Language::text(QStringLiteral("最近一次同步失败："), QStringLiteral("Last sync failed: ")) +
               state.text();
    case CloudSyncState::Case::disabled:
        return Language::text(QStringLiteral("当前仍处于本地模式。"), QStringLiteral("Still in local mode."));
    case CloudSyncState::Case::idle:
        return Language::text(QStringLiteral("文件夹同步已启用，等待变更或手动同步。"),
                              QStringLiteral("Folder sync is enabled, waiting for changes or a manual sync."));
    case CloudSyncState::Case::syncing:
        return Language::text(QStringLiteral("正在与同步文件夹同步历史。"),
                              QStringLiteral("Syncing history with the sync folder."));
    }
    Q_UNREACHABLE();
    return {};
}

} // namespace

QString rawValue(State state)
{
    switch (state) {
    case State::ready:
        return QStringLiteral("就绪");
    case State::actionNeeded:
        return QStringLiteral("需处理");
    case State::verifyOnDevice:
        return QStringLiteral("真机确认");
    case State::checking:
        return QStringLiteral("正在检查…");
    }
    Q_UNREACHABLE();
    return {};
}

QString label(State state)
{
    if (Language::isChinese())
        return rawValue(state);
    switch (state) {
    case State::ready:
        return QStringLiteral("Ready");
    case State::actionNeeded:
        return QStringLiteral("Action needed");
    case State::verifyOnDevice:
        return QStringLiteral("Verify on device");
    case State::checking:
        return QStringLiteral("Checking…");
    }
    Q_UNREACHABLE();
    return {};
}

MachineConditions syncFolderConditions(const QString& containerIdentifier, const QString& recordsRoot)
{
    MachineConditions conditions;
    conditions.syncFolderProblem = CloudKitEntitlementChecker::unavailableReason(
        containerIdentifier,
        CloudKitEntitlementChecker::entitlementStrings(Platform::Entitlements::iCloudContainerIdentifiersKey),
        CloudKitEntitlementChecker::entitlementStrings(Platform::Entitlements::iCloudServicesKey));
    if (conditions.syncFolderProblem)
        return conditions;
    try {
        conditions.syncFolder = Platform::CloudDatabase(containerIdentifier.trimmed(), recordsRoot).folder();
    } catch (const QuillomareCore::Error& error) {
        conditions.syncFolderProblem = error.localizedDescription();
        return conditions;
    }
    // A folder that does not exist yet is made at the first sync: what counts then is the
    // nearest folder above it.
    QFileInfo existing(conditions.syncFolder);
    while (!existing.exists() && !existing.isRoot() && existing.absoluteFilePath() != existing.absolutePath())
        existing = QFileInfo(existing.absolutePath());
    if (!existing.isDir() || !existing.isWritable())
        conditions.syncFolderProblem =
            Language::text(QStringLiteral("无法写入“%1”"), QStringLiteral("“%1” cannot be written"))
                .arg(QDir::toNativeSeparators(existing.absoluteFilePath()));
    return conditions;
}

QList<Item> make(const QuillomareCore::ClipSettings& settings, bool captureEnabled, const CloudSyncState& cloudState,
                 const MachineConditions& machine)
{
    const QString folder = QDir::toNativeSeparators(machine.syncFolder);
    QString hotKeyDetail;
    if (!settings.hotKeyEnabled)
        hotKeyDetail = Language::text(QStringLiteral("开启快捷键后，Ctrl + Alt + V 才能打开灵动岛。"),
                                      QStringLiteral("Turn on the hot key so Ctrl + Alt + V opens the island."));
    else if (machine.hotKeyRegistered)
        hotKeyDetail =
            Language::text(QStringLiteral("Ctrl + Alt + V 打开灵动岛，Ctrl + Alt + S 加入暂存架。"),
                           QStringLiteral("Ctrl + Alt + V opens the island; Ctrl + Alt + S adds to the shelf."));
    else
        hotKeyDetail = Language::text(QStringLiteral("Ctrl + Alt + V 或 Ctrl + Alt + S 已被其他程序占用。"),
                                      QStringLiteral("Another program holds Ctrl + Alt + V or Ctrl + Alt + S."));
    const auto pairedDeviceState = machine.pairedDeviceChecking ? State::checking
                                   : machine.pairedDeviceReachable ? State::ready
                                                                   : State::actionNeeded;
    QString pairedDeviceDetail;
    if (machine.pairedDeviceChecking)
        pairedDeviceDetail = Language::text(QStringLiteral("正在检查 KDE Connect 能否连到已配对的设备。"),
                                            QStringLiteral("Checking whether KDE Connect reaches a paired device."));
    else if (!machine.sharingServiceInstalled)
        pairedDeviceDetail =
            Language::text(QStringLiteral("未安装 KDE Connect；安装 KDE Connect 后才能发送到手机。"),
                           QStringLiteral("KDE Connect is not installed; install KDE Connect to send items to a "
                                          "phone."));
    else if (machine.pairedDeviceReachable)
        pairedDeviceDetail =
            Language::text(QStringLiteral("KDE Connect 可以连到已配对的设备，可直接发送。"),
                           QStringLiteral("KDE Connect reaches a paired device; items can be sent to it."));
    else
        pairedDeviceDetail =
            Language::text(QStringLiteral("KDE Connect 没有连到已配对的设备；配对手机后才能发送。"),
                           QStringLiteral("KDE Connect reaches no paired device; pair a phone to send items."));
    return {
        Item{Language::text(QStringLiteral("自动记录"), QStringLiteral("Auto-capture")),
             captureEnabled ? State::ready : State::actionNeeded,
             captureEnabled
                 ? Language::text(QStringLiteral("本机复制的内容会进入灵动岛历史。"),
                                  QStringLiteral("Content copied on this computer enters the island history."))
                 : Language::text(QStringLiteral("开启自动记录后，本机复制的内容才会写入历史。"),
                                  QStringLiteral("Turn on auto-capture so copies on this computer are written "
                                                 "to history."))},
        Item{Language::text(QStringLiteral("文件夹同步开关"), QStringLiteral("Folder sync toggle")),
             settings.cloudSyncEnabled ? State::ready : State::actionNeeded,
             settings.cloudSyncEnabled
                 ? syncDetail(cloudState)
                 : Language::text(QStringLiteral("开启后，非敏感且可导出的历史会参与跨设备同步。"),
                                  QStringLiteral("Once enabled, non-sensitive exportable history takes part in "
                                                 "cross-device sync."))},
        Item{Language::text(QStringLiteral("同步文件夹"), QStringLiteral("Sync folder")),
             machine.syncFolderProblem ? State::actionNeeded : State::ready,
             machine.syncFolderProblem
                 ? *machine.syncFolderProblem
                 : Language::text(QStringLiteral("可写入 ") + folder +
                                      QStringLiteral("；用文件同步工具让它在各台电脑间保持一致。"),
                                  QStringLiteral("Writable: ") + folder +
                                      QStringLiteral("; keep it in step between computers with a file-sync tool."))},
        Item{Language::text(QStringLiteral("配对设备"), QStringLiteral("Paired device")), pairedDeviceState,
             pairedDeviceDetail},
        Item{Language::text(QStringLiteral("全局快捷键"), QStringLiteral("Global hot keys")),
             settings.hotKeyEnabled && machine.hotKeyRegistered ? State::ready : State::actionNeeded, hotKeyDetail},
    };
}

QString reportText(const QList<Item>& items)
{
    const QString separator = Language::text(QStringLiteral("："), QStringLiteral(": "));
    QStringList lines;
    lines.reserve(items.size());
    for (const Item& item : items)
        lines.append(QStringLiteral("- [") + label(item.state) + QStringLiteral("] ") + item.title + separator
                     + item.detail);
    return lines.join(QLatin1Char('\n'));
}

} // namespace QuillomareMac::PairingReadinessChecklist
