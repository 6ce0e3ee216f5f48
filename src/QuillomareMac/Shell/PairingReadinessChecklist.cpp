#include "PairingReadinessChecklist.h"

#include "Localization.h"

namespace QuillomareMac::PairingReadinessChecklist {

using QuillomareCore::CloudSyncState;

namespace {

// Item 2 stays ready whenever sync is switched on; its detail is where a problem shows.
QString syncDetail(const CloudSyncState& state)
{
    switch (state.caseOf()) {
    case CloudSyncState::Case::unavailable:
        return L10n::text(QStringLiteral("iCloud 暂不可用："), QStringLiteral("iCloud is currently unavailable: "))
            + state.text();
    case CloudSyncState::Case::failed:
        return L10n::text(QStringLiteral("最近一次同步失败："), QStringLiteral("Last sync failed: ")) + state.text();
    case CloudSyncState::Case::disabled:
        return L10n::text(QStringLiteral("当前仍处于本地模式。"), QStringLiteral("Still in local mode."));
    case CloudSyncState::Case::idle:
        return L10n::text(QStringLiteral("iCloud 同步已启用，等待变更或手动同步。"),
                          QStringLiteral("iCloud Sync is enabled, waiting for changes or a manual sync."));
    case CloudSyncState::Case::syncing:
        return L10n::text(QStringLiteral("正在同步 iCloud 历史。"), QStringLiteral("Syncing iCloud history."));
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
    }
    Q_UNREACHABLE();
    return {};
}

QString label(State state)
{
    if (L10n::isChinese())
        return rawValue(state);
    switch (state) {
    case State::ready:
        return QStringLiteral("Ready");
    case State::actionNeeded:
        return QStringLiteral("Action needed");
    case State::verifyOnDevice:
        return QStringLiteral("Verify on device");
    }
    Q_UNREACHABLE();
    return {};
}

QList<Item> make(const QuillomareCore::ClipSettings& settings, bool captureEnabled, const CloudSyncState& cloudState,
                 const std::optional<QString>& cloudEntitlementReason)
{
    const QString container = settings.resolvedCloudContainerIdentifier();
    return {
        Item{L10n::text(QStringLiteral("Mac 自动记录"), QStringLiteral("Mac auto-capture")),
             captureEnabled ? State::ready : State::actionNeeded,
             captureEnabled ? L10n::text(QStringLiteral("Mac 复制内容会进入灵动岛历史。"),
                                         QStringLiteral("Content copied on Mac enters the notch history."))
                            : L10n::text(QStringLiteral("开启自动记录后，Mac 复制内容才会写入历史。"),
                                         QStringLiteral("Turn on auto-capture so Mac copies are written to history."))},
        Item{L10n::text(QStringLiteral("iCloud 同步开关"), QStringLiteral("iCloud Sync toggle")),
             settings.cloudSyncEnabled ? State::ready : State::actionNeeded,
             settings.cloudSyncEnabled
                 ? syncDetail(cloudState)
                 : L10n::text(QStringLiteral("开启后，非敏感且可导出的历史会参与跨设备同步。"),
                              QStringLiteral("Once enabled, non-sensitive exportable history takes part in "
                                             "cross-device sync."))},
        Item{L10n::text(QStringLiteral("Mac CloudKit 签名"), QStringLiteral("Mac CloudKit signing")),
             cloudEntitlementReason ? State::actionNeeded : State::ready,
             cloudEntitlementReason
                 ? *cloudEntitlementReason
                 : L10n::text(QStringLiteral("当前包包含 CloudKit 和目标 container 权限。"),
                              QStringLiteral("The current build includes CloudKit and the target container "
                                             "entitlement."))},
        Item{L10n::text(QStringLiteral("共享 Container"), QStringLiteral("Shared container")), State::ready,
             L10n::text(QStringLiteral("Mac 与 iPhone targets 需同时使用 ") + container + QStringLiteral("。"),
                        QStringLiteral("Mac and iPhone targets must both use ") + container + QStringLiteral("."))},
        Item{L10n::text(QStringLiteral("iPhone 端验证"), QStringLiteral("iPhone-side verification")),
             State::verifyOnDevice,
             L10n::text(QStringLiteral("真机需同一 Apple ID/Team，开启 iCloud；键盘扩展需开启完全访问。"),
                        QStringLiteral("On device, use the same Apple ID/Team and enable iCloud; the keyboard "
                                       "extension needs Full Access."))},
    };
}

QString reportText(const QList<Item>& items)
{
    const QString separator = L10n::text(QStringLiteral("："), QStringLiteral(": "));
    QStringList lines;
    lines.reserve(items.size());
    for (const Item& item : items)
        lines.append(QStringLiteral("- [") + label(item.state) + QStringLiteral("] ") + item.title + separator
                     + item.detail);
    return lines.join(QLatin1Char('\n'));
}

} // namespace QuillomareMac::PairingReadinessChecklist
