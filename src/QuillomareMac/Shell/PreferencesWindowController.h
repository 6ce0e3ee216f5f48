#pragma once

#include "Shell/PairingReadinessChecklist.h"

#include <Platform/SharingService.h>

#include <QuillomareCore/ClipSettings.h>
#include <QuillomareCore/CloudSyncService.h>

#include <QObject>
#include <QRect>
#include <QString>
#include <QStringList>

#include <functional>
#include <memory>
#include <optional>

class QCheckBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QSpinBox;
class QVBoxLayout;
class QWidget;

namespace Platform {
class Pasteboard;
} // namespace Platform

namespace QuillomareCore {
class ClipboardStore;
} // namespace QuillomareCore

namespace QuillomareMac {

// The one window where every setting except the language is edited. Each control saves through
// the store the moment it changes; there is no pending state. The window reports only through
// the callbacks below and is hidden, not destroyed, when closed. GUI thread only.
//
// Controls carry object names for tests: the checkboxes "captureCheckbox", "launchAtLoginCheckbox",
// "showIslandCheckbox", "smartCopyEchoCheckbox", "hotKeyCheckbox", "sensitiveCheckbox",
// "sensitiveLocalOnlyCheckbox", "cloudCheckbox", "richContentCloudCheckbox"; "launchAtLoginStatusLabel"
// (shown while the ticked box's entry does not start the program), "ignoredSourceField",
// "privacyLabel", "historyStepper", "historyLabel", "containerField", "copyContainerButton",
// "copyDiagnosticsButton", "cloudReadinessLabel", "pairingChecklist" (rows "checklistBadge" and
// "checklistText"), "statusLabel".
class PreferencesWindowController final : public QObject
{
    Q_OBJECT

public:
    static constexpr int windowWidth = 460;
    static constexpr int maximumWindowHeight = 840;
    static constexpr int minimumHistoryCount = 20;
    static constexpr int maximumHistoryCount = 1000;
    static constexpr int historyStep = 20;

    // `pasteboard` is the general pasteboard the copy buttons write to; both outlive the window.
    PreferencesWindowController(QuillomareCore::ClipboardStore& store, Platform::Pasteboard& pasteboard,
                                QObject* parent = nullptr);
    ~PreferencesWindowController() override;

    // Unset: capture counts as running and the sync state as idle.
    std::function<bool()> captureEnabledProvider;
    std::function<QuillomareCore::CloudSyncState()> cloudStateProvider;
    std::function<void(bool)> onCaptureEnabledChanged;
    // After each change of the settings, with the settings before it and what the store now holds.
    std::function<void(const QuillomareCore::ClipSettings& old, const QuillomareCore::ClipSettings& current)>
        onSettingsChanged;
    // The window has just written to the general pasteboard.
    std::function<void()> onPasteboardWrite;
    // For the readiness checklist; unset: no paired device, hot keys not held. The service is
    // asked for on the GUI thread; whether it reaches a device is asked on a worker, since that
    // may start another program and wait for it.
    std::function<std::shared_ptr<Platform::SharingService>()> sharingServiceProvider;
    std::function<bool()> hotKeyRegisteredProvider;
    // Where the sync folders live; tests point it elsewhere.
    QString recordsRoot;

    QWidget* window() const;
    // Reloads every control from the store and the providers; the status line goes back to the
    // sync state, replacing any message it held.
    void refresh();
    // 460 wide, at most 840 high, centred in the screen's available area.
    void positionWithinVisibleFrame();
    static QRect frameWithinVisibleFrame(const QRect& visibleFrame);

    // Pieces of the ignored-apps field: split at ",", ";" and line breaks (CR and LF), then
    // trimmed, empties and case-insensitive repeats dropped.
    static QStringList parsedIgnoredSources(const QString& text);

private:
    void setup();
    QWidget* makeHeader();
    QWidget* makeSection(const QString& title, const QList<QWidget*>& views);
    QWidget* makePrivacySection();
    QWidget* makeHistorySection();
    QWidget* makeCloudSection();
    QWidget* makeChecklistRow(const PairingReadinessChecklist::Item& item);

    void toggleChanged(QCheckBox* sender);
    void historyStepperChanged();
    void containerFieldChanged();
    void ignoredSourceFieldChanged();
    void copyContainerIdentifier();
    void copyPairingDiagnostics();
    void updateSettings(const std::function<void(QuillomareCore::ClipSettings&)>& change);

    bool captureEnabled() const;
    QuillomareCore::CloudSyncState cloudState() const;
    QString currentContainerIdentifier() const;
    PairingReadinessChecklist::MachineConditions machineConditions(const QString& containerIdentifier) const;
    static QString privacyStatus(const QuillomareCore::ClipSettings& settings);
    static QString cloudReadinessStatus(const PairingReadinessChecklist::MachineConditions& machine);
    QString cloudStatusText(const QuillomareCore::ClipSettings& settings) const;
    void refreshPairingChecklist(const QuillomareCore::ClipSettings& settings,
                                 const PairingReadinessChecklist::MachineConditions& machine);
    void probePairedDevice();
    void pairedDeviceProbeFinished(Platform::SharingService::Availability availability);

    QuillomareCore::ClipboardStore& m_store;
    Platform::Pasteboard& m_pasteboard;
    std::unique_ptr<QWidget> m_window;
    QCheckBox* m_captureCheckbox = nullptr;
    QList<std::pair<QCheckBox*, bool QuillomareCore::ClipSettings::*>> m_settingCheckboxes;
    QLabel* m_launchAtLoginStatusLabel = nullptr;
    QLabel* m_echoHintLabel = nullptr;
    QLineEdit* m_ignoredSourceField = nullptr;
    QLabel* m_privacyLabel = nullptr;
    QSpinBox* m_historyStepper = nullptr;
    QLabel* m_historyLabel = nullptr;
    QLineEdit* m_containerField = nullptr;
    QPushButton* m_copyContainerButton = nullptr;
    QPushButton* m_copyDiagnosticsButton = nullptr;
    QLabel* m_cloudReadinessLabel = nullptr;
    QWidget* m_pairingChecklist = nullptr;
    QVBoxLayout* m_pairingChecklistStack = nullptr;
    QLabel* m_statusLabel = nullptr;
    // The sharing service's last answer; nothing until the first probe has answered.
    std::optional<Platform::SharingService::Availability> m_sharingAvailability;
    bool m_pairedDeviceProbeRunning = false;
    // A refresh came while a probe ran: the next one starts when it answers.
    bool m_pairedDeviceProbeWanted = false;
};

} // namespace QuillomareMac
