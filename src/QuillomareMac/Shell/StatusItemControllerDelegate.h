#pragma once

namespace QuillomareMac {

// What the tray menus ask of the application delegate, one member per command. The status item
// holds its delegate weakly: the delegate must also be a QObject.
class StatusItemControllerDelegate
{
public:
    virtual ~StatusItemControllerDelegate() = default;

    virtual void showIslandFromMenu() = 0;
    virtual void addClipboardToShelfFromMenu() = 0;
    virtual void showPreferencesFromMenu() = 0;
    virtual void showOnboardingFromMenu() = 0;
    virtual void toggleCaptureFromMenu() = 0;
    virtual void toggleSensitiveFilteringFromMenu() = 0;
    virtual void toggleSensitiveLocalOnlyFromMenu() = 0;
    virtual void toggleCloudSyncFromMenu() = 0;
    virtual void syncNowFromMenu() = 0;
    virtual void clearHistoryFromMenu() = 0;
    virtual void quitFromMenu() = 0;
};

} // namespace QuillomareMac
