// The preferences window: made and wired the first time it is needed (building it is a good
// part of a launch that never shows it), shown on request.

#include "AppDelegate.h"

#include "Pasteboard/ClipboardMonitor.h"
#include "Shell/GlobalHotKeyController.h"
#include "Shell/LoginItemController.h"
#include "Shell/PreferencesWindowController.h"

#include <Platform/SharingService.h>

#include <QWidget>

namespace QuillomareMac {

using namespace QuillomareCore;

PreferencesWindowController& AppDelegate::preferencesController()
{
    if (!m_preferencesController) {
        m_preferencesController = std::make_shared<PreferencesWindowController>(store(), pasteboard());
        wirePreferences(*m_preferencesController);
    }
    return *m_preferencesController;
}

void AppDelegate::wirePreferences(PreferencesWindowController& preferences)
{
    QPointer<AppDelegate> self(this);
    preferences.captureEnabledProvider = [self] { return self && self->monitor().isRunning(); };
    preferences.onCaptureEnabledChanged = [self](bool enabled) {
        if (self)
            self->setCaptureEnabled(enabled);
    };
    preferences.cloudStateProvider = [self] { return self ? self->cloudSync().state() : CloudSyncState::disabled(); };
    preferences.sharingServiceProvider = [] { return Platform::SharingService::airDrop(); };
    preferences.hotKeyRegisteredProvider = [self] { return self && self->hotKeyController().isRegistered(); };
    preferences.onPasteboardWrite = [self] {
        if (self)
            self->markOwnWrite();
    };
    preferences.onSettingsChanged = [self](const ClipSettings& old, const ClipSettings& current) {
        if (!self)
            return;
        self->settingsDidChange(old, current);
        // A change the start-up folder refused (the island has said why) must not leave a ticked
        // box over an entry that is not there: the setting follows the entry, so that the window
        // (refreshed after this) and the next launch show what will happen at the next login.
        const bool registered = LoginItemController::isRegistered();
        if (old.launchAtLoginEnabled == current.launchAtLoginEnabled ||
            self->store().settings().launchAtLoginEnabled == registered)
            return;
        try {
            self->store().updateSettings(
                [registered](ClipSettings& settings) { settings.launchAtLoginEnabled = registered; });
        } catch (const Error&) {
            // Held in memory all the same; the window's own save reported the store's trouble.
        }
        self->refreshStatusMenu();
    };
}

void AppDelegate::showPreferences()
{
    PreferencesWindowController& preferences = preferencesController();
    preferences.refresh();
    preferences.positionWithinVisibleFrame();
    QWidget* window = preferences.window();
    window->show();
    window->raise();
    window->activateWindow();
}

void AppDelegate::refreshPreferencesIfVisible()
{
    if (m_preferencesController && m_preferencesController->window()->isVisible())
        m_preferencesController->refresh();
}

} // namespace QuillomareMac
