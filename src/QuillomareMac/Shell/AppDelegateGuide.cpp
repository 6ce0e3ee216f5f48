// The cross-device guide: shown once after the first launch and from the status menu.

#include "AppDelegate.h"

#include "Shell/OnboardingWindowController.h"

#include <Platform/UserDefaults.h>

namespace QuillomareMac {

OnboardingWindowController& AppDelegate::onboardingController()
{
    if (!m_onboardingController) {
        m_onboardingController = new OnboardingWindowController(pasteboard(), this);
        QPointer<AppDelegate> self(this);
        m_onboardingController->onOpenPreferences = [self] {
            if (self)
                self->showPreferencesFromMenu();
        };
        // The guide's own copy must not come back as a capture.
        m_onboardingController->onPasteboardWrite = [self] {
            if (self)
                self->markOwnWrite();
        };
    }
    return *m_onboardingController;
}

void AppDelegate::showOnboardingIfNeeded()
{
    if (Platform::UserDefaults::boolValue(didShowOnboardingKey))
        return;
    // The flag is written only once the guide is up: a program that quits sooner shows it next time.
    QTimer::singleShot(onboardingDelayMilliseconds, this, [this] {
        OnboardingWindowController& guide = onboardingController();
        Platform::UserDefaults::setBoolValue(didShowOnboardingKey, true);
        guide.showWindow();
    });
}

void AppDelegate::showOnboardingFromMenu()
{
    onboardingController().showWindow();
}

} // namespace QuillomareMac
