// The delegate's parts, its launch and shut-down, the wiring of the island and the handling of
// captures; copy, pin, delete and clear are in AppDelegateActions.cpp, sync in AppDelegateSync.cpp.

#include "AppDelegate.h"

#include "Pasteboard/ClipboardMonitor.h"
#include "Shelf/ShelfSessionStore.h"
#include "Shell/AppPortsQt.h"
#include "Shell/AppUpdater.h"
#include "Shell/GlobalHotKeyController.h"
#include "Shell/SandboxDataMigration.h"
#include "Shell/SingleInstance.h"

#include <Platform/DataFolderLock.h>
#include <Platform/InstanceRegistryDBus.h>
#include <Platform/PasteboardX11.h>
#include <Platform/UserDefaults.h>
#include <Platform/Workspace.h>
#include <QuillomareCore/CaptureFeedback.h>
#include <QuillomareCore/Files.h>
#include <QuillomareCore/Language.h>
#include <QuillomareCore/Notice.h>

#include <QFileInfo>
#include <QTimer>
#include <QLoggingCategory>

Q_LOGGING_CATEGORY(lcShell, "quillomare.shell", QtWarningMsg)

namespace QuillomareMac {

using namespace QuillomareCore;

AppDelegate::AppDelegate(AppDelegateEnvironment environment, QObject* parent)
    : QObject(parent), m_environment(std::move(environment))
{
    m_backgroundSyncTimer.setInterval(backgroundSyncIntervalMilliseconds);
    connect(&m_backgroundSyncTimer, &QTimer::timeout, this, &AppDelegate::runBackgroundCloudSyncTimer);
    m_pendingRecordsSyncTimer.setSingleShot(true);
    m_pendingRecordsSyncTimer.setInterval(pendingRecordsSyncDelayMilliseconds);
    connect(&m_pendingRecordsSyncTimer, &QTimer::timeout, this, &AppDelegate::runBackgroundCloudSyncTimer);
}

AppDelegate::~AppDelegate() = default;

// MARK: - Parts

Platform::Pasteboard& AppDelegate::pasteboard()
{
    if (!m_environment.pasteboard) {
        m_ownPasteboard = std::make_unique<Platform::X11Pasteboard>();
        m_environment.pasteboard = m_ownPasteboard.get();
    }
    return *m_environment.pasteboard;
}

DesktopPort& AppDelegate::desktop()
{
    if (!m_environment.desktop)
        m_environment.desktop = std::make_shared<ApplicationDesktopPort>();
    return *m_environment.desktop;
}

ClipboardStore& AppDelegate::store()
{
    if (!m_store) {
        m_store = std::make_unique<ClipboardStore>(m_environment.storeFileURL, ClipSettings{});
        QPointer<AppDelegate> self(this);
        // Said after the save's own answers (the capture's echo clears the message).
        m_store->onEntriesLost = [self](const QString& notice) {
            QTimer::singleShot(0, self, [self, notice] {
                if (!self)
                    return;
                // Every image named: the toast flashes only the count.
                qCWarning(lcShell).noquote() << Notice::whole(notice);
                self->report(notice);
                self->showIsland();
            });
        };
        // A failure that passed: the next one warns again before quitting.
        m_store->onSaved = [self] {
            if (self)
                self->m_quitDespiteUnsavedHistory = false;
        };
    }
    return *m_store;
}

ShelfSessionStore& AppDelegate::shelfSessionStore()
{
    if (!m_shelfSessionStore) {
        const QString path = m_environment.shelfFileURL.isEmpty() ? ShelfSessionStore::defaultStoreURL()
                                                                  : m_environment.shelfFileURL;
        m_shelfSessionStore = std::make_unique<ShelfSessionStore>(path);
        bindShelfStore();
    }
    return *m_shelfSessionStore;
}

ClipboardMonitor& AppDelegate::monitor()
{
    if (!m_monitor) {
        Platform::Workspace& workspace = m_environment.workspace ? *m_environment.workspace : Platform::Workspace::shared();
        // Made from the pasteboard's count at this moment: what is on it now is never captured.
        m_monitor = std::make_unique<ClipboardMonitor>(pasteboard(), store(), m_detector, workspace);
    }
    return *m_monitor;
}

IslandPort& AppDelegate::island()
{
    if (!m_island) {
        m_island = m_environment.makeIsland ? m_environment.makeIsland() : std::make_unique<IslandPanelPort>();
        bindIslandCallbacks();
    }
    return *m_island;
}

// MARK: - Launch and shut-down

void AppDelegate::applicationDidFinishLaunching()
{
    if (m_launched)
        return;
    m_launched = true;

    // The newest instance wins, and only once the others are gone does anything read a file:
    // an older instance must not write a file after this one has loaded it.
    if (!m_environment.instances)
        m_environment.instances = std::make_shared<Platform::DBusInstanceRegistry>();
    m_singleInstance = std::make_unique<SingleInstance>(*m_environment.instances);
    QPointer<AppDelegate> self(this);
    m_singleInstance->onQuit = [self] {
        if (self)
            self->desktop().quit();
    };
    m_takeoverMessage = m_singleInstance->terminateOtherQuillomareInstancesAndWait().message();
    // The bus reaches the instances of this desktop session only; one in another session with
    // the same home has a bus of its own, and the two would save over each other's history.
    if (!takeDataFolder())
        return;

    SandboxDataMigration::migrateIfNeeded();
    AppUpdater::shared();
    if (m_environment.statusMenu)
        m_environment.statusMenu->install();
    // The shelf loads before the history.
    shelfSessionStore();
    migrateSilentCaptureDefaultIfNeeded();
    store();
    configureHotKey();
    configureWorkspaceActivationObserver();

    island();

    monitor().onCapture = [self](const ClipboardCaptureResult& result) {
        if (self)
            self->handleCapture(result);
    };
    monitor().start();

    island().configure(store().items(), cloudSync().state(),
                       combinedLaunchMessage(m_takeoverMessage));
    // A shelf file that could not be read was set aside; its drop zone says so.
    const auto& shelfFailure = shelfSessionStore().lastLoadFailure();
    updateShelfState(shelfFailure ? std::optional<QString>(shelfFailure->message) : std::nullopt, false);
    island().settleCollapsed();
    // A history that could not be read: the island opens so that its message is seen.
    if (store().lastLoadFailure())
        island().show(/*autoHide=*/true, /*focusSearch=*/false);
    refreshStatusMenu();

    configureBackgroundCloudSync();
    if (store().settings().cloudSyncEnabled)
        performCloudSync(Language::text(QStringLiteral("正在与同步文件夹同步历史"),
                                        QStringLiteral("Syncing history with the sync folder…")),
                         true);
    showOnboardingIfNeeded();
}

void AppDelegate::applicationWillTerminate()
{
    m_backgroundSyncTimer.stop();
    m_pendingRecordsSyncTimer.stop();
    m_workspaceActivationObserver.reset();
    if (m_monitor)
        m_monitor->stop();
    if (m_hotKeyController)
        m_hotKeyController->unregisterHotKeys();
    // Every change is already with the writers; quitting waits for the last writes.
    if (m_store) {
        m_store->waitForPendingSaves();
        if (m_store->lastSaveError()) {
            // A write waiting for its retry: one last try now, and never a silent loss.
            m_store->save();
            m_store->waitForPendingSaves();
        }
        if (const auto& error = m_store->lastSaveError())
            qCCritical(lcShell).noquote() << *error
                                         << "— the history could not be saved; what was copied since the last "
                                            "successful save is lost";
    }
    if (m_shelfSessionStore)
        m_shelfSessionStore->waitForPendingSaves();
}

void AppDelegate::requestQuit()
{
    if (m_store && m_store->lastSaveError() && !m_quitDespiteUnsavedHistory) {
        m_quitDespiteUnsavedHistory = true;
        report(*m_store->lastSaveError() +
               Language::text(QStringLiteral("。历史尚未保存，现在退出会丢失之后复制的内容；再次选择退出即可退出"),
                              QStringLiteral(". The history isn't saved: quitting now loses what was copied since. "
                                             "Choose Quit again to quit anyway")));
        showIsland();
        return;
    }
    desktop().quit();
}

QString AppDelegate::dataFolderInUseTitle()
{
    return Language::text(QStringLiteral("Quillomare 已在另一个会话中运行"),
                          QStringLiteral("Quillomare is already running in another session"));
}

QString AppDelegate::dataFolderInUseDetail(const QString& folder)
{
    return Language::text(QStringLiteral("另一个 Quillomare（可能在同一主目录的另一个桌面会话中）正在使用“%1”中的历史记录。"
                                         "这个 Quillomare 将退出，以免覆盖那边保存的内容；在这里复制的内容不会被记录。"),
                          QStringLiteral("Another Quillomare (perhaps in another desktop session with the same home "
                                         "folder) is using the history in “%1”. This one quits so that it doesn't "
                                         "overwrite what that one saves; what is copied here isn't recorded."))
        .arg(Files::shortPath(folder));
}

bool AppDelegate::takeDataFolder()
{
    const QString folder = QFileInfo(m_environment.storeFileURL).absolutePath();
    m_dataFolderLock = std::make_unique<Platform::DataFolderLock>(folder);
    switch (m_dataFolderLock->state()) {
    case Platform::DataFolderLock::State::held:
        return true;
    case Platform::DataFolderLock::State::unavailable:
        // Nothing to tell another instance by; the stores report a folder they cannot use.
        qCWarning(lcShell).noquote() << "the data folder" << Files::shortPath(folder)
                                     << "could not be locked:" << m_dataFolderLock->failure();
        return true;
    case Platform::DataFolderLock::State::heldElsewhere:
        break;
    }
    // Nothing of the folder has been read or written, and nothing will be: no store, no
    // migration, no tray, no island, no keys.
    const QString title = dataFolderInUseTitle();
    const QString detail = dataFolderInUseDetail(folder);
    qCCritical(lcShell).noquote() << title + QStringLiteral(": ") + detail;
    desktop().refuseToRun(title, detail);
    return false;
}

void AppDelegate::migrateSilentCaptureDefaultIfNeeded()
{
    auto defaults = Platform::UserDefaults::standard();
    if (defaults->value(didMigrateSilentCaptureDefaultKey).toBool())
        return;
    // Installations from before the capture echo showed the whole island after every copy.
    if (store().settings().showIslandAfterCapture)
        store().updateSettings([](ClipSettings& settings) { settings.showIslandAfterCapture = false; });
    defaults->setValue(didMigrateSilentCaptureDefaultKey, true);
    defaults->sync();
}

GlobalHotKeyController& AppDelegate::hotKeyController()
{
    if (!m_hotKeyController)
        m_hotKeyController = std::make_unique<GlobalHotKeyController>(m_environment.hotKeys);
    return *m_hotKeyController;
}

void AppDelegate::configureHotKey()
{
    QPointer<AppDelegate> self(this);
    hotKeyController().onPressed = [self](GlobalHotKeyAction action) {
        if (self)
            self->handleHotKey(action);
    };
    if (store().settings().hotKeyEnabled)
        hotKeyController().registerHotKeys();
    else
        hotKeyController().unregisterHotKeys();
}

void AppDelegate::handleHotKey(GlobalHotKeyAction action)
{
    if (action == GlobalHotKeyAction::addClipboardToShelf)
        addShelfItems(pasteboard());
    else
        showIslandFromHotKey();
}

void AppDelegate::showIslandFromHotKey()
{
    // The user asked for it: the island stays open and the search field takes the keyboard.
    report(QStringLiteral("Ctrl + Alt + V"));
    island().show(/*autoHide=*/false, /*focusSearch=*/true);
}

void AppDelegate::configureWorkspaceActivationObserver()
{
    Platform::Workspace& workspace = m_environment.workspace ? *m_environment.workspace : Platform::Workspace::shared();
    QPointer<AppDelegate> self(this);
    m_workspaceActivationObserver = workspace.observeActivations([self](const Platform::RunningApplication& application) {
        // Collapsing waits until the notice has been handled; our own windows never collapse it.
        QMetaObject::invokeMethod(
            self.data(),
            [self, pid = application.processIdentifier] {
                if (self && pid != QCoreApplication::applicationPid())
                    self->island().collapseIfExpanded();
            },
            Qt::QueuedConnection);
    });
}

void AppDelegate::bindIslandCallbacks()
{
    IslandCallbacks& callbacks = m_island->callbacks();
    QPointer<AppDelegate> self(this);
    // Every action holds the delegate weakly and does nothing once it is gone.
    auto bind = [self]<typename... Args>(void (AppDelegate::*handler)(Args...)) {
        return [self, handler](std::decay_t<Args>... args) {
            if (self)
                (self->*handler)(args...);
        };
    };
    callbacks.onSelectItem = bind(&AppDelegate::copyToPasteboard);
    callbacks.onCopyPasteVariantItem = bind(&AppDelegate::copyPasteVariant);
    callbacks.onCombineItems = bind(&AppDelegate::copyCombinedItems);
    callbacks.onCopyCondensedItem = bind(&AppDelegate::copyCondensedText);
    callbacks.onChangeLanguage = bind(&AppDelegate::changeLanguage);
    callbacks.onShowSettings = bind(&AppDelegate::showSettingsMenu);
    callbacks.onPullFromIPhone = [self] {
        if (self)
            self->performCloudSync(Language::text(QStringLiteral("正在从同步文件夹拉取最新"),
                                                  QStringLiteral("Pulling latest from the sync folder…")),
                                   true);
    };
    callbacks.onCopyPlainTextItem = bind(&AppDelegate::copyPlainTextToPasteboard);
    callbacks.onCopyQuickPreviewText = bind(&AppDelegate::copyQuickPreviewText);
    callbacks.onDeleteItem = bind(&AppDelegate::removeHistoryItem);
    callbacks.onTogglePinItem = bind(&AppDelegate::togglePinnedHistoryItem);
    callbacks.onClear = bind(&AppDelegate::clearHistory);
    callbacks.onHide = [self] {
        if (self)
            self->island().hide();
    };
    callbacks.onQuit = [self] {
        if (self)
            self->requestQuit();
    };
    callbacks.onCopyShelfPasteVariantItem = [self](const ShelfItem& item, PasteVariant variant) {
        if (self)
            self->copyPasteVariant(item.clipboardItem(), variant);
    };
    callbacks.onCombineShelfItems = [self](const QList<ShelfItem>& items, CombinedPasteFormat format) {
        QList<ClipboardItem> entries;
        for (const ShelfItem& item : items)
            entries.append(item.clipboardItem());
        if (self)
            self->copyCombinedItems(entries, format);
    };

    callbacks.onRecognizeTextItem = bind(&AppDelegate::recognizeText);
    callbacks.onMakeQRCodeItem = bind(&AppDelegate::makeQRCode);
    callbacks.onExportItemToFile = bind(&AppDelegate::exportItemToFile);
    callbacks.onAirDropItem = bind(&AppDelegate::airDropHistoryItem);
    callbacks.onRevealItem = bind(&AppDelegate::revealHistoryItem);
    callbacks.onShelfDropPasteboard = [self](Platform::Pasteboard& source) {
        if (self)
            self->addShelfItems(source);
    };
    callbacks.onShelfSessionsChanged = bind(&AppDelegate::selectShelfSession);
    callbacks.onCreateShelfSession = bind(&AppDelegate::createShelfSession);
    callbacks.onRenameShelfSession = bind(&AppDelegate::renameShelfSession);
    callbacks.onCopyShelfItem = bind(&AppDelegate::copyShelfItem);
    callbacks.onBatchShelfItems = [self](const QList<ShelfItem>& items, ShelfBatchAction action) {
        if (self)
            self->performShelfBatchAction(action, items);
    };
    callbacks.onAirDropShelfItem = bind(&AppDelegate::airDropShelfItem);
    callbacks.onRevealShelfItem = bind(&AppDelegate::revealShelfItem);
    callbacks.onRemoveShelfItem = bind(&AppDelegate::removeShelfItem);
    callbacks.onClearShelf = bind(&AppDelegate::clearShelf);
}

void AppDelegate::changeLanguage(AppLanguagePreference preference)
{
    if (preference == L10n::preference())
        return;
    L10n::setPreference(preference);
    desktop().relaunchToApplyLanguage();
}

void AppDelegate::showSettingsMenu(QWidget* anchor)
{
    if (!m_environment.statusMenu) {
        reportNotAvailable();
        return;
    }
    m_environment.statusMenu->popUpQuickMenu(anchor, monitor().isRunning(), store().settings());
}

void AppDelegate::reportNotAvailable()
{
    report(Language::text(QStringLiteral("此功能即将推出"), QStringLiteral("This isn't available yet")));
    showIsland();
}

// MARK: - Messages

void AppDelegate::report(const std::optional<QString>& message)
{
    report(message, cloudSync().state());
}

void AppDelegate::report(const std::optional<QString>& message, const CloudSyncState& state)
{
    island().configure(store().items(), state, message);
}

void AppDelegate::reportStoreFailure(const QString& failurePrefix, const QString& description)
{
    report(failurePrefix + description, CloudSyncState::failed(description));
}

void AppDelegate::showIsland()
{
    island().show(/*autoHide=*/true, /*focusSearch=*/false);
}

void AppDelegate::refreshStatusMenu()
{
    if (m_environment.statusMenu)
        m_environment.statusMenu->refresh(monitor().isRunning(), store().settings());
}

void AppDelegate::markOwnWrite()
{
    monitor().setLastChangeCount(pasteboard().changeCount());
}

void AppDelegate::afterSave(const QString& failurePrefix, bool showOnFailure, std::function<void()> then,
                            std::function<bool()> superseded)
{
    QPointer<AppDelegate> self(this);
    store().whenSaved([self, failurePrefix, showOnFailure, then = std::move(then),
                       superseded = std::move(superseded)](const std::optional<QString>& error) {
        if (!self || (superseded && superseded()))
            return;
        if (!error) {
            then();
            return;
        }
        // Never what was copied; the reason is enough.
        qCWarning(lcShell) << "history not saved:" << *error;
        self->reportStoreFailure(failurePrefix, *error);
        if (showOnFailure)
            self->showIsland();
        // The status menu follows every outcome, a failed write's too.
        self->refreshStatusMenu();
    });
}

// MARK: - Captures

void AppDelegate::handleCapture(const ClipboardCaptureResult& result)
{
    const QString saveFailed = Language::text(QStringLiteral("保存失败："), QStringLiteral("Save failed: "));
    if (result.item) {
        ClipboardAddOutcome outcome;
        try {
            outcome = store().add(*result.item);
        } catch (const Error& error) {
            // Refused before anything changed (an image over the size limit).
            reportStoreFailure(saveFailed, error.localizedDescription());
            showIsland();
            refreshStatusMenu();
            return;
        }
        // The echo says "saved" only once it is true. A slow write of a large history answers
        // every capture that arrived meanwhile at once: only the newest is reported and echoed
        // (an earlier echo would be replaced before it is seen), and the write that carries the
        // newest change carries the earlier ones too.
        const quint64 serial = ++m_newestStoredCapture;
        QPointer<AppDelegate> self(this);
        afterSave(
            saveFailed, /*showOnFailure=*/true,
            [self, result, outcome] {
                self->performCloudSync(std::nullopt, false);
                self->report(std::nullopt);
                self->showOrEcho(result, outcome);
                self->refreshStatusMenu();
            },
            [self, serial] { return self->m_newestStoredCapture != serial; });
        return;
    }
    if (result.ignoredReason) {
        report(*result.ignoredReason);
        showOrEcho(result, std::nullopt);
    }
    refreshStatusMenu();
}

void AppDelegate::showOrEcho(const ClipboardCaptureResult& result, std::optional<ClipboardAddOutcome> outcome)
{
    const ClipSettings& settings = store().settings();
    if (settings.showIslandAfterCapture) {
        island().showHistory();
        showIsland();
    } else if (settings.smartCopyEchoEnabled) {
        island().flashCaptureEcho(CaptureFeedback::from(result, outcome));
    }
}

std::optional<QString> AppDelegate::combinedLaunchMessage(const std::optional<QString>& takeoverMessage)
{
    // A history that was set aside is named first: a word about other instances must not hide
    // where the user's history went.
    if (!takeoverMessage)
        return launchMessage();
    if (const auto& failure = store().lastLoadFailure())
        return historyLoadFailureMessage(*failure) + Language::text(QStringLiteral("；"), QStringLiteral("; ")) +
               *takeoverMessage;
    return takeoverMessage;
}

std::optional<QString> AppDelegate::launchMessage()
{
    if (const auto& failure = store().lastLoadFailure())
        return historyLoadFailureMessage(*failure);
    if (store().items().isEmpty())
        return Language::text(QStringLiteral("复制文本、链接、图片或文件后，历史会在这里出现。"),
                              QStringLiteral("Copy text, a link, an image, or a file and it will show up here."));
    return std::nullopt;
}

QString AppDelegate::historyLoadFailureMessage(const ClipboardStoreLoadFailure& failure)
{
    if (failure.backupURL && failure.recoveredItemCount > 0) {
        const QString name = QFileInfo(*failure.backupURL).fileName();
        const QString count = QString::number(failure.recoveredItemCount);
        return Language::text(
            QStringLiteral("历史文件损坏，已找回 %1 条记录，原文件备份为：%2").arg(count, name),
            QStringLiteral("History file was damaged; %1 entries were recovered and a backup was kept: %2")
                .arg(count, name));
    }
    if (failure.backupURL) {
        const QString name = QFileInfo(*failure.backupURL).fileName();
        return Language::text(QStringLiteral("历史文件异常，已保留备份：") + name,
                              QStringLiteral("History file was corrupted; a backup was kept: ") + name);
    }
    return Language::text(QStringLiteral("历史文件异常：") + failure.reason,
                          QStringLiteral("History file error: ") + failure.reason);
}

} // namespace QuillomareMac
