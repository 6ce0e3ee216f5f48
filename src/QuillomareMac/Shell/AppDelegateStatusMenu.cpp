// What the tray menus' commands do, and what follows a settings change saved elsewhere.

#include "AppDelegate.h"

#include "Pasteboard/ClipboardMonitor.h"
#include "Shell/LoginItemController.h"

namespace QuillomareMac {

using namespace QuillomareCore;

namespace {

QString syncTurnedOff()
{
    return Language::text(QStringLiteral("文件夹同步已关闭"), QStringLiteral("Folder sync is off"));
}

} // namespace

void AppDelegate::showIslandFromMenu()
{
    // Opened by the user: it stays open and the search field takes the keyboard.
    report(std::nullopt);
    island().show(/*autoHide=*/false, /*focusSearch=*/true);
}

void AppDelegate::addClipboardToShelfFromMenu()
{
    addShelfItems(pasteboard());
}

void AppDelegate::showPreferencesFromMenu()
{
    showPreferences();
}

void AppDelegate::toggleCaptureFromMenu()
{
    setCaptureEnabled(!monitor().isRunning());
}

void AppDelegate::setCaptureEnabled(bool enabled)
{
    if (enabled)
        monitor().start();
    else
        monitor().stop();
    refreshStatusMenu();
    refreshPreferencesIfVisible();
}

void AppDelegate::toggleSensitiveFilteringFromMenu()
{
    toggleSettingFromMenu(&ClipSettings::ignoreSensitiveContent, [this] {
        report(sensitiveFilteringMessage(store().settings()));
        showIsland();
    });
}

void AppDelegate::toggleSensitiveLocalOnlyFromMenu()
{
    toggleSettingFromMenu(&ClipSettings::markSensitiveLocalOnly, [this] {
        report(
            store().settings().markSensitiveLocalOnly
                ? Language::text(QStringLiteral("未忽略的敏感内容将仅本机保留"),
                                 QStringLiteral("Sensitive content that isn't ignored will stay on this device"))
                : Language::text(QStringLiteral("未忽略的敏感内容不再标记为仅本机"),
                                 QStringLiteral("Sensitive content that isn't ignored is no longer kept local-only")));
        showIsland();
    });
}

void AppDelegate::toggleCloudSyncFromMenu()
{
    toggleSettingFromMenu(&ClipSettings::cloudSyncEnabled, [this] {
        if (!store().settings().cloudSyncEnabled) {
            report(syncTurnedOff(), CloudSyncState::disabled());
            showIsland();
            return;
        }
        report(Language::text(QStringLiteral("正在启用文件夹同步"), QStringLiteral("Enabling folder sync…")),
               CloudSyncState::syncing());
        showIsland();
        performCloudSync(std::nullopt, true);
    });
}

void AppDelegate::syncNowFromMenu()
{
    performCloudSync(Language::text(QStringLiteral("正在与同步文件夹同步历史"),
                                    QStringLiteral("Syncing history with the sync folder…")),
                     true);
}

void AppDelegate::clearHistoryFromMenu()
{
    clearHistory();
}

void AppDelegate::quitFromMenu()
{
    requestQuit();
}

void AppDelegate::toggleSettingFromMenu(bool ClipSettings::*flag, std::function<void()> announce)
{
    store().updateSettings([flag](ClipSettings& settings) { settings.*flag = !(settings.*flag); });
    // The change holds in memory from now on, written or not: the menus and the sync service
    // follow it at once.
    refreshStatusMenu();
    if (flag == &ClipSettings::cloudSyncEnabled)
        rebuildCloudSync();
    refreshPreferencesIfVisible();
    QPointer<AppDelegate> self(this);
    store().whenSaved([self, announce = std::move(announce)](const std::optional<QString>& error) {
        if (!self)
            return;
        if (!error) {
            announce();
            return;
        }
        self->report(*error, CloudSyncState::failed(*error));
        self->showIsland();
        self->refreshStatusMenu();
        self->refreshPreferencesIfVisible();
    });
}

void AppDelegate::settingsDidChange(const ClipSettings& old, const ClipSettings& current)
{
    refreshStatusMenu();
    if (old.hotKeyEnabled != current.hotKeyEnabled)
        configureHotKey();
    if (old.launchAtLoginEnabled != current.launchAtLoginEnabled)
        configureLoginItem(current.launchAtLoginEnabled);
    if (old.cloudContainerIdentifier != current.cloudContainerIdentifier ||
        old.cloudSyncEnabled != current.cloudSyncEnabled ||
        old.syncRichContentToICloud != current.syncRichContentToICloud)
        rebuildCloudSync();

    if (!old.cloudSyncEnabled && current.cloudSyncEnabled) {
        performCloudSync(Language::text(QStringLiteral("正在启用文件夹同步"), QStringLiteral("Enabling folder sync…")),
                         true);
        return;
    }
    if (old.cloudSyncEnabled && !current.cloudSyncEnabled) {
        report(syncTurnedOff(), CloudSyncState::disabled());
        showIsland();
        return;
    }
    if (old.syncRichContentToICloud == current.syncRichContentToICloud)
        return;
    report(current.syncRichContentToICloud
               ? Language::text(QStringLiteral("新图片和文件可同步"), QStringLiteral("New images and files can sync"))
               : Language::text(QStringLiteral("图片和文件将仅本机保留"),
                                QStringLiteral("Images and files will stay on this device")));
    showIsland();
    if (current.cloudSyncEnabled && current.syncRichContentToICloud)
        performCloudSync(Language::text(QStringLiteral("正在同步可导出的图片和文件"),
                                        QStringLiteral("Syncing exportable images and files…")),
                         true);
}

void AppDelegate::configureLoginItem(bool isEnabled)
{
    try {
        LoginItemController::setEnabled(isEnabled);
    } catch (const Error& error) {
        // Neither sync nor the history failed: the pill goes on saying what sync does.
        report(Language::text(QStringLiteral("登录自启设置失败："), QStringLiteral("Failed to set launch at login: ")) +
               error.localizedDescription());
        showIsland();
        return;
    }
    report(isEnabled ? LoginItemController::statusLine()
                     : Language::text(QStringLiteral("登录自启已关闭"), QStringLiteral("Launch at login is off")));
    showIsland();
}

QString AppDelegate::sensitiveFilteringMessage(const ClipSettings& settings)
{
    if (settings.ignoreSensitiveContent)
        return Language::text(QStringLiteral("敏感内容将默认忽略保存"),
                              QStringLiteral("Sensitive content will be ignored by default"));
    if (settings.markSensitiveLocalOnly)
        return Language::text(QStringLiteral("敏感内容将隐藏预览并仅本机保留"),
                              QStringLiteral("Sensitive content will hide its preview and stay on this device"));
    return Language::text(QStringLiteral("敏感内容将隐藏预览保存"),
                          QStringLiteral("Sensitive content will be saved with its preview hidden"));
}

} // namespace QuillomareMac
