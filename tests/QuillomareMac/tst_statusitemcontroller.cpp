// The tray menus as a user reads them, where their commands go, and what the delegate does with
// them: the real menus on a delegate whose island, desktop and cloud are fakes.

#include "Pasteboard/ClipboardMonitor.h"
#include "Shell/AppDelegate.h"
#include "Shell/GlobalHotKeyController.h"
#include "Shell/LoginItemController.h"
#include "Shell/StatusItemController.h"

#include "AppDelegateFakes.h"
#include "TestSupport.h"

#include <Platform/GlobalHotKeys.h>
#include <Platform/InstanceRegistry.h>
#include <Platform/Pasteboard.h>
#include <Platform/Workspace.h>
#include <QuillomareCore/Files.h>
#include <QuillomareCore/Language.h>

#include <QApplication>
#include <QDir>
#include <QFileInfo>
#include <QMenu>
#include <QMessageBox>
#include <QSystemTrayIcon>
#include <QTemporaryDir>

#include <atomic>

using namespace QuillomareCore;
using namespace QuillomareMac;
using namespace QuillomareTest;

namespace {

// Writes each command it hears into a log that outlives it.
struct RecordingDelegate final : QObject, StatusItemControllerDelegate
{
    explicit RecordingDelegate(QStringList& log) : log(log) {}
    QStringList& log;

    void showIslandFromMenu() override { log << QStringLiteral("showIsland"); }
    void addClipboardToShelfFromMenu() override { log << QStringLiteral("addClipboardToShelf"); }
    void showPreferencesFromMenu() override { log << QStringLiteral("showPreferences"); }
    void showOnboardingFromMenu() override { log << QStringLiteral("showOnboarding"); }
    void toggleCaptureFromMenu() override { log << QStringLiteral("toggleCapture"); }
    void toggleSensitiveFilteringFromMenu() override { log << QStringLiteral("toggleSensitiveFiltering"); }
    void toggleSensitiveLocalOnlyFromMenu() override { log << QStringLiteral("toggleSensitiveLocalOnly"); }
    void toggleCloudSyncFromMenu() override { log << QStringLiteral("toggleCloudSync"); }
    void syncNowFromMenu() override { log << QStringLiteral("syncNow"); }
    void clearHistoryFromMenu() override { log << QStringLiteral("clearHistory"); }
    void quitFromMenu() override { log << QStringLiteral("quit"); }
};

// A cloud that has nothing new; counts the sync runs that reach it.
struct QuietCloud final : CloudSyncing
{
    std::atomic<int> pulls = 0;
    CloudSyncState state() const override { return CloudSyncState::idle(); }
    CloudSyncState push(const QList<ClipboardItem>&) override { return CloudSyncState::idle(); }
    CloudSyncState pushDeletionTombstones(const QList<ClipboardDeletionTombstone>&) override
    {
        return CloudSyncState::idle();
    }
    CloudSyncState pushDeletedContentHashes(const QSet<QString>&) override { return CloudSyncState::idle(); }
    CloudSyncPullResult pull(int) override
    {
        ++pulls;
        return CloudSyncPullResult(CloudSyncState::idle(), {}, {}, {});
    }
    CloudSyncState deleteItems(const QList<ClipboardItem>&) override { return CloudSyncState::idle(); }
};

// "-" for a separator; "[x] " or "[ ] " before a check item; " (off)" after a disabled one and
// " <keys>" after one with a shortcut.
QStringList rows(const QMenu* menu)
{
    QStringList rows;
    for (const QAction* action : menu->actions()) {
        if (action->isSeparator()) {
            rows << QStringLiteral("-");
            continue;
        }
        QString row =
            action->isCheckable() ? (action->isChecked() ? QStringLiteral("[x] ") : QStringLiteral("[ ] ")) : QString();
        row += action->text();
        if (!action->isEnabled())
            row += QStringLiteral(" (off)");
        if (!action->shortcut().isEmpty())
            row += QStringLiteral(" <") + action->shortcut().toString(QKeySequence::PortableText) + QLatin1Char('>');
        rows << row;
    }
    return rows;
}

QAction* item(const QMenu* menu, const QString& title)
{
    for (QAction* action : menu->actions())
        if (action->text().endsWith(title))
            return action;
    return nullptr;
}

ClipSettings settingsWith(bool ignore, bool localOnly, bool sync)
{
    ClipSettings settings;
    settings.ignoreSensitiveContent = ignore;
    settings.markSensitiveLocalOnly = localOnly;
    settings.cloudSyncEnabled = sync;
    return settings;
}

} // namespace

class StatusItemControllerTest : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<QTemporaryDir> m_dir;
    Platform::MemoryPasteboard m_pasteboard;
    Platform::MemoryWorkspace m_workspace;
    FakeIsland* m_island = nullptr;
    std::shared_ptr<FakeDesktop> m_desktop;
    std::shared_ptr<QuietCloud> m_cloud;
    std::shared_ptr<Platform::MemoryGlobalHotKeys> m_hotKeys;
    std::shared_ptr<StatusItemController> m_statusItem;
    std::unique_ptr<AppDelegate> m_delegate;

    AppDelegate& launch()
    {
        AppDelegateEnvironment environment =
            fakeDelegateEnvironment(m_dir->path(), m_pasteboard, m_workspace, &m_island);
        environment.hotKeys = m_hotKeys;
        environment.desktop = m_desktop;
        environment.statusMenu = m_statusItem;
        environment.makeSyncService = [this](const ClipSettings& settings) -> std::shared_ptr<CloudSyncing> {
            if (!settings.cloudSyncEnabled)
                return std::make_shared<LocalOnlyCloudSyncService>(QStringLiteral("Folder sync is off"));
            return m_cloud;
        };
        m_delegate = std::make_unique<AppDelegate>(environment);
        m_statusItem->setDelegate(m_delegate.get());
        m_delegate->applicationDidFinishLaunching();
        return *m_delegate;
    }

    // Clicks a row of the tray menu and lets the command and the writes it starts finish.
    void click(const QString& title)
    {
        QAction* action = item(m_statusItem->menu(), title);
        QVERIFY2(action, qPrintable(title));
        action->trigger();
        QCoreApplication::processEvents();
        m_delegate->store().waitForPendingSaves();
        QCoreApplication::processEvents();
    }

private Q_SLOTS:
    void init()
    {
        m_dir = std::make_unique<QTemporaryDir>();
        m_desktop = std::make_shared<FakeDesktop>();
        m_cloud = std::make_shared<QuietCloud>();
        m_hotKeys = std::make_shared<Platform::MemoryGlobalHotKeys>();
        Language::setIsChineseForTesting(false);
        m_statusItem = std::make_shared<StatusItemController>();
    }

    void cleanup()
    {
        if (m_delegate)
            QTRY_VERIFY(!m_delegate->isCloudSyncInFlight());
        m_delegate.reset();
        m_statusItem.reset();
        Files::failWritesForTesting(0);
    }

    void testBothMenusShowTheCaptureStateAndSettings_data()
    {
        QTest::addColumn<bool>("chinese");
        QTest::addColumn<bool>("capturing");
        QTest::addColumn<ClipSettings>("settings");
        QTest::addColumn<QStringList>("trayRows");
        QTest::addColumn<QStringList>("quickRows");
        // Rows separated by '|'.
        auto split = [](const QString& rows) { return rows.split(QLatin1Char('|')); };
        QTest::newRow("defaults, capturing")
            << false << true << settingsWith(true, true, false)
            << split(
                   QStringLiteral("Show Island|Add Clipboard to Shelf|Preferences... <Ctrl+,>|Cross-device Guide...|-|"
                                  "[x] Pause Capturing|[x] Ignore Sensitive Content|[x] Sensitive Stays Local|"
                                  "[ ] Enable Folder Sync|Sync Now (off)|-|Clear History|-|Check for Updates...|-|"
                                  "Quit <Ctrl+Q>"))
            << split(QStringLiteral("Add Clipboard to Shelf|-|[x] Pause Capturing|[x] Ignore Sensitive Content|"
                                    "[x] Sensitive Stays Local|[ ] Enable Folder Sync|Sync Now (off)|-|Preferences...|"
                                    "Cross-device Guide...|Check for Updates...|-|Clear History"));
        QTest::newRow("paused, sync on, Chinese")
            << true << false << settingsWith(false, true, true)
            << split(QStringLiteral("显示灵动岛|当前剪贴板加入暂存架|偏好设置... <Ctrl+,>|跨设备使用说明...|-|"
                                    "[ ] 继续自动记录|[ ] 忽略敏感内容|[x] 敏感内容仅本机保留|[x] 启用文件夹同步|"
                                    "立即同步|-|清空历史|-|检查更新...|-|退出 <Ctrl+Q>"))
            << split(QStringLiteral("当前剪贴板加入暂存架|-|[ ] 继续自动记录|[ ] 忽略敏感内容|[x] 敏感内容仅本机保留|"
                                    "[x] 启用文件夹同步|立即同步|-|偏好设置...|跨设备使用说明...|检查更新...|-|"
                                    "清空历史"));
    }

    void testBothMenusShowTheCaptureStateAndSettings()
    {
        QFETCH(bool, chinese);
        QFETCH(bool, capturing);
        QFETCH(ClipSettings, settings);
        QFETCH(QStringList, trayRows);
        QFETCH(QStringList, quickRows);
        Language::setIsChineseForTesting(chinese);
        StatusItemController controller;
        controller.install();
        QVERIFY(controller.statusItem()->isVisible());
        QCOMPARE(controller.statusItem()->toolTip(), QStringLiteral("Quillomare"));
        QVERIFY(!controller.statusItem()->icon().isNull());
        // Before the first refresh the capture row reads as running, without a mark.
        QCOMPARE(rows(controller.menu()).at(5),
                 chinese ? QStringLiteral("[ ] 暂停自动记录") : QStringLiteral("[ ] Pause Capturing"));

        controller.refresh(capturing, settings);
        QCOMPARE(rows(controller.menu()), trayRows);

        QWidget anchor;
        anchor.setGeometry(120, 80, 30, 20);
        anchor.show();
        controller.popUpQuickMenu(&anchor, capturing, settings);
        QMenu* quick = controller.quickMenu();
        QVERIFY(quick && quick->isVisible());
        QCOMPARE(rows(quick), quickRows);
        QCOMPARE(quick->activeAction(), nullptr);
        QCOMPARE(quick->pos(), anchor.mapToGlobal(QPoint(0, anchor.height() + 6)));
    }

    void testCommandsReachTheDelegateWhileItLives()
    {
        QStringList log;
        auto* delegate = new RecordingDelegate(log);
        StatusItemController controller(delegate);
        controller.install();
        controller.refresh(true, settingsWith(true, true, true));
        for (QAction* action : controller.menu()->actions())
            if (!action->isSeparator() && !action->text().startsWith(QStringLiteral("Check for Updates")))
                action->trigger();
        // Commands run once the menu has closed.
        QVERIFY(log.isEmpty());
        QCoreApplication::processEvents();
        QCOMPARE(log, (QStringList{QStringLiteral("showIsland"), QStringLiteral("addClipboardToShelf"),
                                   QStringLiteral("showPreferences"), QStringLiteral("showOnboarding"),
                                   QStringLiteral("toggleCapture"), QStringLiteral("toggleSensitiveFiltering"),
                                   QStringLiteral("toggleSensitiveLocalOnly"), QStringLiteral("toggleCloudSync"),
                                   QStringLiteral("syncNow"), QStringLiteral("clearHistory"), QStringLiteral("quit")}));
        // A click does not move a mark: only the delegate's refresh does.
        QVERIFY(item(controller.menu(), QStringLiteral("Pause Capturing"))->isChecked());

        // A real click in the quick menu; the menu goes away with it.
        log.clear();
        QWidget anchor;
        anchor.setGeometry(120, 80, 30, 20);
        anchor.show();
        controller.popUpQuickMenu(&anchor, true, settingsWith(false, true, false));
        QMenu* quick = controller.quickMenu();
        QAction* ignore = item(quick, QStringLiteral("Ignore Sensitive Content"));
        QTest::mouseClick(quick, Qt::LeftButton, {}, quick->actionGeometry(ignore).center());
        QTRY_COMPARE(log, QStringList{QStringLiteral("toggleSensitiveFiltering")});
        QTRY_VERIFY(!controller.quickMenu());

        // Check for Updates needs no delegate: it says where updates come from.
        delete delegate;
        item(controller.menu(), QStringLiteral("Check for Updates..."))->trigger();
        item(controller.menu(), QStringLiteral("Quit"))->trigger();
        QCoreApplication::processEvents();
        QCOMPARE(log.size(), 1);
        QMessageBox* notice = nullptr;
        for (QWidget* window : QApplication::topLevelWidgets())
            if (auto* box = qobject_cast<QMessageBox*>(window); box && box->isVisible())
                notice = box;
        QVERIFY(notice);
        QVERIFY(notice->text().contains(QStringLiteral("package")));
        notice->close();
    }

    void testMenuTogglesSaveTheSettingAndSayWhatChanged_data()
    {
        QTest::addColumn<bool>("ignore");
        QTest::addColumn<QString>("row");
        QTest::addColumn<QString>("message");
        QTest::addColumn<bool>("ignoreAfter");
        QTest::addColumn<bool>("localOnlyAfter");
        QTest::newRow("ignoring off, local-only on")
            << true << QStringLiteral("Ignore Sensitive Content")
            << QStringLiteral("Sensitive content will hide its preview and stay on this device") << false << true;
        QTest::newRow("ignoring on") << false << QStringLiteral("Ignore Sensitive Content")
                                     << QStringLiteral("Sensitive content will be ignored by default") << true << true;
        QTest::newRow("local-only off") << true << QStringLiteral("Sensitive Stays Local")
                                        << QStringLiteral(
                                               "Sensitive content that isn't ignored is no longer kept local-only")
                                        << true << false;
    }

    void testMenuTogglesSaveTheSettingAndSayWhatChanged()
    {
        QFETCH(bool, ignore);
        QFETCH(QString, row);
        QFETCH(QString, message);
        QFETCH(bool, ignoreAfter);
        QFETCH(bool, localOnlyAfter);
        AppDelegate& delegate = launch();
        delegate.store().updateSettings([ignore](ClipSettings& settings) { settings.ignoreSensitiveContent = ignore; });

        click(row);
        QCOMPARE(m_island->message, std::optional<QString>(message));
        QCOMPARE(delegate.store().settings().ignoreSensitiveContent, ignoreAfter);
        QCOMPARE(delegate.store().settings().markSensitiveLocalOnly, localOnlyAfter);
        QCOMPARE(ClipboardStore(delegate.store().fileURL()).settings(), delegate.store().settings());
        QCOMPARE(item(m_statusItem->menu(), QStringLiteral("Ignore Sensitive Content"))->isChecked(), ignoreAfter);
        QCOMPARE(item(m_statusItem->menu(), QStringLiteral("Sensitive Stays Local"))->isChecked(), localOnlyAfter);
    }

    void testCaptureSyncAndQuitFromTheMenu()
    {
        AppDelegate& delegate = launch();
        QMenu* menu = m_statusItem->menu();
        QCOMPARE(rows(menu).at(5), QStringLiteral("[x] Pause Capturing"));
        click(QStringLiteral("Pause Capturing"));
        QVERIFY(!delegate.monitor().isRunning());
        QCOMPARE(rows(menu).at(5), QStringLiteral("[ ] Resume Capturing"));
        click(QStringLiteral("Resume Capturing"));
        QVERIFY(delegate.monitor().isRunning());

        // Sync on: said at once, one run starts, the timer runs and Sync Now is offered.
        // A quick pass may already have reported its outcome after the announcement.
        click(QStringLiteral("Enable Folder Sync"));
        QVERIFY(m_island->messages.contains(QStringLiteral("Enabling folder sync…")));
        QCOMPARE(&delegate.cloudSync(), m_cloud.get());
        QVERIFY(delegate.hasBackgroundSyncTimer());
        QVERIFY(item(menu, QStringLiteral("Sync Now"))->isEnabled());
        QTRY_COMPARE(m_cloud->pulls.load(), 1);
        QTRY_VERIFY(!delegate.isCloudSyncInFlight());
        click(QStringLiteral("Sync Now"));
        QVERIFY(m_island->messages.contains(QStringLiteral("Syncing history with the sync folder…")));
        QTRY_COMPARE(m_cloud->pulls.load(), 2);
        QTRY_VERIFY(!delegate.isCloudSyncInFlight());

        click(QStringLiteral("Enable Folder Sync"));
        QCOMPARE(m_island->message, std::optional<QString>(QStringLiteral("Folder sync is off")));
        QCOMPARE(m_island->state.caseOf(), CloudSyncState::Case::disabled);
        QVERIFY(!delegate.hasBackgroundSyncTimer());
        QVERIFY(!item(menu, QStringLiteral("Sync Now"))->isEnabled());

        // The island's settings button opens the quick menu with the same state.
        QWidget anchor;
        m_island->actions.onShowSettings(&anchor);
        QVERIFY(m_statusItem->quickMenu());
        QCOMPARE(rows(m_statusItem->quickMenu()).at(5), QStringLiteral("[ ] Enable Folder Sync"));
        m_statusItem->quickMenu()->close();

        click(QStringLiteral("Quit"));
        QCOMPARE(m_desktop->quits, 1);
    }

    void testAFailedSaveShowsTheValueTheStoreHolds()
    {
        AppDelegate& delegate = launch();
        Files::failWritesForTesting(ENOSPC);
        click(QStringLiteral("Enable Folder Sync"));
        // The reason, as the message and as the failed state.
        QVERIFY2(m_island->message && m_island->message->contains(QStringLiteral("No space left on device — couldn't write")),
                 qPrintable(m_island->message.value_or(QString())));
        QCOMPARE(m_island->state, CloudSyncState::failed(*m_island->message));
        // The change holds in memory: the menu says so and the sync service follows it.
        QVERIFY(delegate.store().settings().cloudSyncEnabled);
        QVERIFY(item(m_statusItem->menu(), QStringLiteral("Enable Folder Sync"))->isChecked());
        QCOMPARE(&delegate.cloudSync(), m_cloud.get());
        QVERIFY(delegate.hasBackgroundSyncTimer());
    }

    void testACaptureWhoseWriteFailsStillRefreshesTheMenu()
    {
        AppDelegate& delegate = launch();
        // Paused behind the menu's back: only a refresh can show it.
        delegate.monitor().stop();
        Files::failWritesForTesting(ENOSPC);
        delegate.handleCapture(ClipboardCaptureResult{textItem(QStringLiteral("not saved"), at(0)), std::nullopt});
        delegate.store().waitForPendingSaves();
        QCoreApplication::processEvents();
        QVERIFY(m_island->message->startsWith(QStringLiteral("Save failed: ")));
        QVERIFY(item(m_statusItem->menu(), QStringLiteral("Resume Capturing")));
    }

    void testSettingsChangedElsewhereHaveTheirConsequences()
    {
        AppDelegate& delegate = launch();
        auto change = [&](const std::function<void(ClipSettings&)>& edit) {
            const ClipSettings old = delegate.store().settings();
            delegate.store().updateSettings(edit);
            m_island->message.reset();
            m_island->messages.clear();
            delegate.settingsDidChange(old, delegate.store().settings());
        };
        QVERIFY(delegate.hotKeyController().isRegistered());
        change([](ClipSettings& settings) { settings.hotKeyEnabled = false; });
        QVERIFY(!delegate.hotKeyController().isRegistered());
        QVERIFY(m_hotKeys->registered.isEmpty());
        change([](ClipSettings& settings) { settings.hotKeyEnabled = true; });
        QCOMPARE(m_hotKeys->registered.size(), 2);

        // Silent changes: only the menus follow.
        change([](ClipSettings& settings) { settings.maxHistoryCount = 50; });
        QCOMPARE(m_island->message, std::nullopt);

        change([](ClipSettings& settings) { settings.syncRichContentToICloud = true; });
        QCOMPARE(m_island->message, std::optional<QString>(QStringLiteral("New images and files can sync")));
        QCOMPARE(m_cloud->pulls.load(), 0);

        // Sync and rich content on together: one run, announced as enabling.
        change([](ClipSettings& settings) {
            settings.syncRichContentToICloud = false;
            settings.cloudSyncEnabled = true;
        });
        QCOMPARE(m_island->messages.value(0), QStringLiteral("Enabling folder sync…"));
        QCOMPARE(m_island->message, std::optional<QString>(QStringLiteral("Enabling folder sync…")));
        QTRY_COMPARE(m_cloud->pulls.load(), 1);
        QTRY_VERIFY(!delegate.isCloudSyncInFlight());
        QVERIFY(item(m_statusItem->menu(), QStringLiteral("Enable Folder Sync"))->isChecked());

        // A new container alone: a new service and timer, nothing said.
        m_cloud = std::make_shared<QuietCloud>();
        change([](ClipSettings& settings) { settings.cloudContainerIdentifier = QStringLiteral("iCloud.other"); });
        QCOMPARE(&delegate.cloudSync(), m_cloud.get());
        QVERIFY(delegate.hasBackgroundSyncTimer());
        QCOMPARE(m_island->message, std::nullopt);
    }

    void testLaunchAtLoginFollowsTheSetting()
    {
        AppDelegate& delegate = launch();
        auto turn = [&](bool on) {
            const ClipSettings old = delegate.store().settings();
            delegate.store().updateSettings([on](ClipSettings& settings) { settings.launchAtLoginEnabled = on; });
            delegate.settingsDidChange(old, delegate.store().settings());
        };
        const QString entry = LoginItemController::autostartFilePath();
        turn(true);
        QCOMPARE(m_island->message, std::optional<QString>(QStringLiteral("Launch at login: Enabled")));
        QVERIFY(readFile(entry).contains(QCoreApplication::applicationFilePath().toUtf8()));
        // Switched off in the desktop's start-up settings, or pointing at a program that is gone.
        writeFile(entry, readFile(entry) + "Hidden=true\n");
        QCOMPARE(LoginItemController::statusDescription(), QStringLiteral("Needs approval in System Settings"));
        writeFile(entry, "[Desktop Entry]\nExec=\"/nowhere/quillomare\"\n");
        QCOMPARE(LoginItemController::statusDescription(), QStringLiteral("App not found"));

        turn(false);
        QCOMPARE(m_island->message, std::optional<QString>(QStringLiteral("Launch at login is off")));
        QVERIFY(!QFileInfo::exists(entry));
        QCOMPARE(LoginItemController::statusDescription(), QStringLiteral("Off"));

        // A file where the autostart folder belongs: the failure is said, the setting stays.
        QDir(QFileInfo(entry).absolutePath()).removeRecursively();
        writeFile(QFileInfo(entry).absolutePath(), "not a folder");
        turn(true);
        QVERIFY2(m_island->message->startsWith(QStringLiteral("Failed to set launch at login: ")),
                 qPrintable(*m_island->message));
        // Not a sync failure: with sync off the pill goes on saying so.
        QCOMPARE(m_island->state, delegate.cloudSync().state());
        QVERIFY(delegate.store().settings().launchAtLoginEnabled);
        QFile::remove(QFileInfo(entry).absolutePath());
    }

    // The pill's word is the sync state's: a start-up entry that cannot be written leaves it as
    // sync has it, off or on.
    void testALaunchAtLoginFailureIsNoSyncError_data()
    {
        QTest::addColumn<bool>("syncOn");
        QTest::newRow("sync off") << false;
        QTest::newRow("sync on") << true;
    }

    void testALaunchAtLoginFailureIsNoSyncError()
    {
        QFETCH(bool, syncOn);
        ClipboardStore(m_dir->filePath(QStringLiteral("Quillomare/clips.json")))
            .updateSettings([syncOn](ClipSettings& settings) { settings.cloudSyncEnabled = syncOn; });
        AppDelegate& delegate = launch();
        delegate.store().waitForPendingSaves();
        QTRY_VERIFY(!delegate.isCloudSyncInFlight());
        QCoreApplication::processEvents();
        const CloudSyncState before = delegate.cloudSync().state();
        QCOMPARE(before.caseOf(), syncOn ? CloudSyncState::Case::idle : CloudSyncState::Case::unavailable);

        const QString folder = QFileInfo(LoginItemController::autostartFilePath()).absolutePath();
        QDir(folder).removeRecursively();
        writeFile(folder, "not a folder");
        const auto removeFile = qScopeGuard([&folder] { QFile::remove(folder); });
        const ClipSettings old = delegate.store().settings();
        delegate.store().updateSettings([](ClipSettings& settings) { settings.launchAtLoginEnabled = true; });
        delegate.settingsDidChange(old, delegate.store().settings());
        QVERIFY2(m_island->message && m_island->message->startsWith(QStringLiteral("Failed to set launch at login: ")),
                 qPrintable(m_island->message.value_or(QString())));
        QCOMPARE(m_island->state, before);
        QVERIFY(m_island->shows > 0);
    }
};

QUILLOMARE_GUI_TEST_MAIN(StatusItemControllerTest)
#include "tst_statusitemcontroller.moc"
