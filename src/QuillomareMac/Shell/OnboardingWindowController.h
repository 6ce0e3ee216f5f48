#pragma once

#include <QObject>
#include <QString>

#include <functional>
#include <memory>

class QWidget;

namespace Platform {
class Pasteboard;
}

namespace QuillomareMac {

// The cross-device guide: four numbered steps on reaching a phone without a phone application,
// and three buttons (copy the container identifier, open the preferences, close). Its texts are
// chosen once, when it is made. Closing only hides the window; showing it again reuses it.
class OnboardingWindowController final : public QObject
{
    Q_OBJECT

public:
    static constexpr int windowWidth = 560;
    // The fixed height; only a window whose texts need more (larger fonts) is made taller.
    static constexpr int windowHeight = 560;

    // `pasteboard` is the general pasteboard the copy button writes to; it outlives the controller.
    explicit OnboardingWindowController(Platform::Pasteboard& pasteboard, QObject* parent = nullptr);
    ~OnboardingWindowController() override;

    // The user asked for the preferences window; the guide has closed by then.
    std::function<void()> onOpenPreferences;
    // The guide has just written to the pasteboard.
    std::function<void()> onPasteboardWrite;
    // Always the default container, whatever the settings name.
    const QString containerIdentifier;

    // Object names: "onboardingWindow", "onboardingCopyButton", "onboardingPreferencesButton",
    // "onboardingCloseButton".
    QWidget* window() const { return m_window.get(); }
    // Centred on the screen, in front and taking the keyboard.
    void showWindow();

    void copyContainerIdentifier();
    void openPreferences();
    void closeWindow();

private:
    void setup();
    QWidget* makeHeader();
    QWidget* makeSteps();
    QWidget* makeStep(int number, const QString& title, const QString& body);
    QWidget* makePrivacyNote();
    QWidget* makeActions();

    Platform::Pasteboard& m_pasteboard;
    std::unique_ptr<QWidget> m_window;
};

} // namespace QuillomareMac
