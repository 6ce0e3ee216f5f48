#pragma once

#include "Pasteboard/PasteTransform.h"
#include "Shell/AppPorts.h"
#include "Shell/Localization.h"
#include "Shell/StatusItemControllerDelegate.h"

#include <QuillomareCore/ClipboardStore.h>
#include <QuillomareCore/CloudSyncService.h>
#include <QuillomareCore/SensitiveContentDetector.h>

#include <QObject>
#include <QPointer>
#include <QTimer>
#include <QUrl>

#include <functional>
#include <memory>
#include <optional>

namespace Platform {
class DataFolderLock;
class GlobalHotKeys;
class InstanceRegistry;
class Pasteboard;
class Workspace;
} // namespace Platform

namespace QuillomareMac {

class ClipboardMonitor;
struct ShelfRevealTarget;
class ShelfSessionStore;
class SingleInstance;
class GlobalHotKeyController;
class PreferencesWindowController;
class OnboardingWindowController;
enum class GlobalHotKeyAction : quint32;

// What the delegate is built from. The defaults are the real desktop; tests replace the parts
// they watch.
struct AppDelegateEnvironment
{
    Platform::Pasteboard* pasteboard = nullptr; // the general pasteboard (the X11 clipboard)
    Platform::Workspace* workspace = nullptr;   // the desktop's workspace
    // The other running instances (the session bus); tests give an in-memory one.
    std::shared_ptr<Platform::InstanceRegistry> instances;
    // The global keys (X11 grabs); tests give in-memory ones so that no display is grabbed.
    std::shared_ptr<Platform::GlobalHotKeys> hotKeys;
    QString storeFileURL = QuillomareCore::ClipboardStore::defaultStoreURL();
    QString shelfFileURL;                                    // empty: the shelf store's default
    std::function<std::unique_ptr<IslandPort>()> makeIsland; // empty: the real island
    std::shared_ptr<DesktopPort> desktop;                    // empty: the application object
    std::shared_ptr<StatusMenuPort> statusMenu;              // empty: no tray menu yet
    std::shared_ptr<SavePanelPort> savePanel;                // empty: a file dialog
    // The sync service for the given settings; empty: the program's own choice.
    std::function<std::shared_ptr<QuillomareCore::CloudSyncing>(const QuillomareCore::ClipSettings&)> makeSyncService;
};

// Owns every long-lived part of the running program, runs the launch, answers the island's
// actions and the clipboard monitor's captures, drives cloud sync and stops everything at the
// end. Parts are made on first use, in the order the launch reads them. GUI thread only; work
// that waits (sync, file writes) runs elsewhere and comes back through the event loop.
class AppDelegate final : public QObject, public StatusItemControllerDelegate
{
    Q_OBJECT

public:
    static constexpr int backgroundSyncIntervalMilliseconds = 120'000;
    static constexpr int backgroundSyncToleranceMilliseconds = 20'000;
    static constexpr int cloudPullLimit = 200;
    // While a pass leaves records for the next, the next comes this soon.
    static constexpr int pendingRecordsSyncDelayMilliseconds = 1'000;
    static inline const QString didMigrateSilentCaptureDefaultKey =
        QStringLiteral("Quillomare.didMigrateSilentCaptureDefault.v1");

    explicit AppDelegate(AppDelegateEnvironment environment = {}, QObject* parent = nullptr);
    ~AppDelegate() override;

    void applicationDidFinishLaunching();
    void applicationWillTerminate();
    // The island's and the menu's Quit. While the history cannot be saved, the first request
    // says what quitting would lose and the next one quits.
    void requestQuit();

    // Parts, made on first read.
    QuillomareCore::ClipboardStore& store();
    ClipboardMonitor& monitor();
    ShelfSessionStore& shelfSessionStore();
    IslandPort& island();
    QuillomareCore::CloudSyncing& cloudSync();
    bool hasBackgroundSyncTimer() const { return m_backgroundSyncTimer.isActive(); }
    bool isCloudSyncInFlight() const { return m_isCloudSyncInFlight; }
    GlobalHotKeyController& hotKeyController();

    // Capture handling.
    void handleCapture(const QuillomareCore::ClipboardCaptureResult& result);
    std::optional<QString> launchMessage();
    // The launch's message: the history's load failure (if any) before the other instances' word.
    std::optional<QString> combinedLaunchMessage(const std::optional<QString>& takeoverMessage);
    // Why an instance does not run when another one (in another desktop session with the same
    // home) already uses the data folder: a title and the detail naming the folder.
    static QString dataFolderInUseTitle();
    static QString dataFolderInUseDetail(const QString& folder);
    static QString historyLoadFailureMessage(const QuillomareCore::ClipboardStoreLoadFailure& failure);

    // Copy actions on history entries.
    void copyToPasteboard(const QuillomareCore::ClipboardItem& item);
    void copyPasteVariant(const QuillomareCore::ClipboardItem& item, PasteVariant variant);
    void copyCombinedItems(const QList<QuillomareCore::ClipboardItem>& items, CombinedPasteFormat format);
    void copyCondensedText(const QuillomareCore::ClipboardItem& item);
    void copyPlainTextToPasteboard(const QuillomareCore::ClipboardItem& item);
    void copyQuickPreviewText(const QString& text);
    // Words separated by single blanks: every run of white space and line breaks becomes one.
    static QString condensedText(const QString& text);

    // Removing, pinning and clearing.
    void removeHistoryItem(const QuillomareCore::ClipboardItem& item);
    void togglePinnedHistoryItem(const QuillomareCore::ClipboardItem& item);
    void clearHistory();

    // File, sharing, text-recognition and QR actions on history entries (AppDelegateFileActions.cpp).
    static constexpr int revealDelayMilliseconds = 120;
    void recognizeText(const QuillomareCore::ClipboardItem& item);
    void makeQRCode(const QuillomareCore::ClipboardItem& item);
    void exportItemToFile(const QuillomareCore::ClipboardItem& item);
    void airDropHistoryItem(const QuillomareCore::ClipboardItem& item);
    void revealHistoryItem(const QuillomareCore::ClipboardItem& item);
    // Writes (or reuses) the PNG of a non-sensitive image entry and shows it in the file manager.
    // A failure is reported in the history unless `reportFailure` is given (the shelf's).
    void exportImageAndRevealInFinder(const QuillomareCore::ClipboardItem& item,
                                      const std::function<void(const QString&)>& reportFailure = {});

    // Shelf actions (AppDelegateShelf.cpp). Each ends by handing the island the shelf and opening
    // it on the shelf, except an AirDrop or a reveal that went through, which collapse it.
    static constexpr qsizetype maxShelfItemsPerSession = 30;
    void updateShelfState(const std::optional<QString>& message, bool show);
    void addShelfItems(const Platform::Pasteboard& source);
    void selectShelfSession(const QUuid& id);
    void createShelfSession();
    void renameShelfSession();
    void copyShelfItem(const ShelfItem& item);
    void performShelfBatchAction(ShelfBatchAction action, const QList<ShelfItem>& items);
    void airDropShelfItem(const ShelfItem& item);
    void revealShelfItem(const ShelfItem& item);
    void removeShelfItem(const QUuid& id);
    void clearShelf();

    // Cloud sync.
    void performCloudSync(const std::optional<QString>& reason, bool showWhenFinished);
    void deleteFromCloud(const QList<QuillomareCore::ClipboardItem>& items, const std::optional<QString>& reason);
    void configureBackgroundCloudSync();
    void runBackgroundCloudSyncTimer();
    // Builds the service the settings ask for and the timer that goes with it.
    void rebuildCloudSync();
    static QuillomareCore::CloudSyncState resolvedSyncState(const QList<QuillomareCore::CloudSyncState>& states);
    static QString syncOutcomeMessage(const QuillomareCore::CloudSyncState& resolved, qsizetype merged,
                                      qsizetype deleted);

    // The status menu's commands and the consequences of a settings change (AppDelegateStatusMenu.cpp).
    void showIslandFromMenu() override;
    void addClipboardToShelfFromMenu() override;
    void showPreferencesFromMenu() override;
    void showOnboardingFromMenu() override;
    void toggleCaptureFromMenu() override;
    void toggleSensitiveFilteringFromMenu() override;
    void toggleSensitiveLocalOnlyFromMenu() override;
    void toggleCloudSyncFromMenu() override;
    void syncNowFromMenu() override;
    void clearHistoryFromMenu() override;
    void quitFromMenu() override;
    // Capture runs or pauses for this process only; every launch starts it again.
    void setCaptureEnabled(bool enabled);
    // After the settings were saved elsewhere (the preferences window): the menus, the hot keys,
    // the sync service and a word to the user follow.
    void settingsDidChange(const QuillomareCore::ClipSettings& old, const QuillomareCore::ClipSettings& current);
    static QString sensitiveFilteringMessage(const QuillomareCore::ClipSettings& settings);
    // Writes or removes the autostart entry and says how it went; only when the setting changes.
    void configureLoginItem(bool isEnabled);

    // The preferences window (AppDelegatePreferences.cpp): one for the life of the process, made
    // hidden and wired to the delegate the first time it is asked for.
    PreferencesWindowController& preferencesController();
    void wirePreferences(PreferencesWindowController& preferences);
    // Reloads it and brings it forward, sized to the screen.
    void showPreferences();

    // The cross-device guide (AppDelegateGuide.cpp): one window for the life of the process, shown
    // once half a second after the first launch and whenever the menu asks.
    static inline const QString didShowOnboardingKey = QStringLiteral("Quillomare.didShowOnboarding.v1");
    static constexpr int onboardingDelayMilliseconds = 500;
    OnboardingWindowController& onboardingController();

private:
    Platform::Pasteboard& pasteboard();
    DesktopPort& desktop();
    std::shared_ptr<QuillomareCore::CloudSyncing> makeCloudSyncService() const;
    bool shouldRunBackgroundCloudSync() const;

    // Takes the data folder for this process; false when another process has it (the user is
    // then told, and the application ends).
    bool takeDataFolder();
    void migrateSilentCaptureDefaultIfNeeded();
    void configureWorkspaceActivationObserver();
    void configureHotKey();
    void handleHotKey(GlobalHotKeyAction action);
    void showIslandFromHotKey();
    void bindIslandCallbacks();
    void changeLanguage(AppLanguagePreference preference);
    void showSettingsMenu(QWidget* anchor);
    // Inverts one switch through the store; once saved, `announce` tells the user. The menus follow
    // what the store holds even when the write fails.
    void toggleSettingFromMenu(bool QuillomareCore::ClipSettings::*flag, std::function<void()> announce);
    void reportNotAvailable();
    // Preferences helpers (AppDelegatePreferences.cpp).
    // A setting changed behind the window's back: it follows only while it is on screen.
    void refreshPreferencesIfVisible();

    // File-action helpers (AppDelegateFileActions.cpp).
    SavePanelPort& savePanel();
    Platform::Workspace& workspace();
    // Shows the target's files; false when neither a file manager nor the desktop's opener could.
    bool showInFileManager(const ShelfRevealTarget& target);
    // With no file manager on the session and nothing to open a folder with, the user still
    // learns where the file is, instead of clicking a button that does nothing.
    static QString noFileManagerMessage(const QUrl& file);
    // A message, then the island opened on the history.
    void reportAndShowHistory(const QString& message);

    // Shelf helpers (AppDelegateShelf.cpp).
    void bindShelfStore();
    std::optional<QString> promptShelfSessionName(const QString& title, const QString& defaultValue);
    // Once the shelf's newest change is on disk, reports `message`; a failed write reports
    // `failurePrefix` + the reason instead.
    void reportShelfAfterSave(const QString& failurePrefix, const std::optional<QString>& message);

    // The island gets the store's entries, a state and a message.
    void report(const std::optional<QString>& message);
    void report(const std::optional<QString>& message, const QuillomareCore::CloudSyncState& state);
    void reportStoreFailure(const QString& failurePrefix, const QString& description);
    void showIsland();
    void showOrEcho(const QuillomareCore::ClipboardCaptureResult& result,
                    std::optional<QuillomareCore::ClipboardAddOutcome> outcome);
    void refreshStatusMenu();
    // After a write the program made itself: the monitor must not take it for a copy.
    void markOwnWrite();
    // Runs `then` once the store's newest change is on disk; on a failed write reports
    // `failurePrefix` + the reason instead. Neither happens when `superseded` says that a later
    // waiter will answer for this one.
    void afterSave(const QString& failurePrefix, bool showOnFailure, std::function<void()> then,
                   std::function<bool()> superseded = {});

    struct MergeOutcome;
    void runSyncPass(std::shared_ptr<QuillomareCore::CloudSyncing> service, bool showWhenFinished);
    MergeOutcome mergePulled(const QuillomareCore::CloudSyncPullResult& pulled);
    void reportSyncPass(const MergeOutcome& outcome, const QuillomareCore::CloudSyncPullResult& pulled,
                        const QuillomareCore::CloudSyncState& tombstonesPushed,
                        const QuillomareCore::CloudSyncState& itemsPushed, bool showWhenFinished);

    AppDelegateEnvironment m_environment;
    QuillomareCore::SensitiveContentDetector m_detector;
    std::unique_ptr<Platform::Pasteboard> m_ownPasteboard;
    std::unique_ptr<QuillomareCore::ClipboardStore> m_store;
    std::unique_ptr<ShelfSessionStore> m_shelfSessionStore;
    std::unique_ptr<ClipboardMonitor> m_monitor;
    std::unique_ptr<IslandPort> m_island;
    std::unique_ptr<SingleInstance> m_singleInstance;
    // Held for the life of the process once the launch has it.
    std::unique_ptr<Platform::DataFolderLock> m_dataFolderLock;
    std::unique_ptr<GlobalHotKeyController> m_hotKeyController;
    std::optional<QString> m_takeoverMessage;
    bool m_quitDespiteUnsavedHistory = false;
    std::shared_ptr<void> m_workspaceActivationObserver;
    std::shared_ptr<QuillomareCore::CloudSyncing> m_cloudSync;
    QTimer m_backgroundSyncTimer;
    QTimer m_pendingRecordsSyncTimer;
    bool m_isCloudSyncInFlight = false;
    bool m_launched = false;
    // The last stored capture handed to the history; its save answers for the earlier ones.
    quint64 m_newestStoredCapture = 0;
    // Last, so that it goes before the store it edits.
    std::shared_ptr<PreferencesWindowController> m_preferencesController;

    // The guide (AppDelegateGuide.cpp); a child of the delegate, made on first use.
    void showOnboardingIfNeeded();
    OnboardingWindowController* m_onboardingController = nullptr;
};

} // namespace QuillomareMac
