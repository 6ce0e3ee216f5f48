// The preferences window as a user drives it: each control saves through a real store at once and
// tells the delegate; a failed write still shows what the store holds, with the reason.

#include "Pasteboard/ClipboardMonitor.h"
#include "Shell/AppDelegate.h"
#include "Shell/LoginItemController.h"
#include "Shell/PreferencesWindowController.h"

#include "AppDelegateFakes.h"
#include "TestSupport.h"

#include <Platform/GlobalHotKeys.h>
#include <Platform/InstanceRegistry.h>
#include <Platform/Pasteboard.h>
#include <Platform/SharingService.h>
#include <Platform/SharingServiceKdeConnect.h>
#include <Platform/Workspace.h>
#include <QuillomareCore/ClipboardStore.h>
#include <QuillomareCore/Files.h>
#include <QuillomareCore/Language.h>

#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScopeGuard>
#include <QSemaphore>
#include <QSpinBox>
#include <QTemporaryDir>

#include <atomic>

using namespace QuillomareCore;
using namespace QuillomareMac;
using namespace QuillomareTest;

Q_DECLARE_METATYPE(std::optional<CloudSyncState>)

namespace {

struct Change
{
    ClipSettings old, current;
};

} // namespace

namespace {

// A nearby-device service whose reach the test decides; asked on a worker thread.
struct ReachableSharing final : Platform::SharingService
{
    std::atomic<bool> reachable = true;
    bool isAvailable() const override { return reachable; }
    bool perform(const QList<Platform::PasteboardObject>&) override { return reachable; }
};

// A nearby-device service whose probe waits until the test lets it answer, as a slow
// kdeconnect-cli does. A probe waited for on the GUI thread would time out and count.
struct BlockingSharing final : Platform::SharingService
{
    mutable QSemaphore answer;
    mutable std::atomic<int> probes = 0;
    mutable std::atomic<int> running = 0;
    mutable std::atomic<int> mostRunning = 0;
    mutable std::atomic<int> timedOut = 0;
    bool isAvailable() const override
    {
        ++probes;
        const int now = ++running;
        mostRunning = std::max(mostRunning.load(), now);
        if (!answer.tryAcquire(1, 20000))
            ++timedOut;
        --running;
        return true;
    }
    bool perform(const QList<Platform::PasteboardObject>&) override { return true; }
};

} // namespace

class PreferencesWindowTest : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<QTemporaryDir> m_dir;
    std::unique_ptr<ClipboardStore> m_store;
    Platform::MemoryPasteboard m_pasteboard;
    std::unique_ptr<PreferencesWindowController> m_window;
    QList<Change> m_changes;
    QList<bool> m_captureChanges;
    int m_pasteboardWrites = 0;

    template <typename T> T* control(const char* name) const
    {
        T* found = m_window->window()->findChild<T*>(QString::fromLatin1(name));
        if (!found)
            qFatal("no control %s", name);
        return found;
    }
    QString status() const { return control<QLabel>("statusLabel")->text(); }

    // Lets the window lay itself out after a change, as the event loop does before it paints.
    static void settleLayout()
    {
        for (int round = 0; round < 3; ++round)
            QCoreApplication::sendPostedEvents(nullptr, QEvent::LayoutRequest);
    }

    // A click on the box itself, as the user makes it.
    static void click(QAbstractButton* button)
    {
        QTest::mouseClick(button, Qt::LeftButton, {}, QPoint(8, button->height() / 2));
    }

    // Replaces the field's text as a user would and presses Return.
    static void typeAndCommit(QLineEdit* field, const QString& text)
    {
        field->setFocus();
        field->selectAll();
        if (text.isEmpty())
            QTest::keyClick(field, Qt::Key_Delete);
        else
            QTest::keyClicks(field, text);
        QTest::keyClick(field, Qt::Key_Return);
    }

private Q_SLOTS:
    void init()
    {
        Language::setIsChineseForTesting(false);
        m_dir = std::make_unique<QTemporaryDir>();
        m_store = std::make_unique<ClipboardStore>(m_dir->filePath(QStringLiteral("clips.json")));
        m_window = std::make_unique<PreferencesWindowController>(*m_store, m_pasteboard);
        m_changes.clear();
        m_captureChanges.clear();
        m_pasteboardWrites = 0;
        m_window->onSettingsChanged = [this](const ClipSettings& old, const ClipSettings& current) {
            m_changes.append({old, current});
        };
        m_window->onCaptureEnabledChanged = [this](bool on) { m_captureChanges.append(on); };
        m_window->onPasteboardWrite = [this] { ++m_pasteboardWrites; };
        m_window->window()->show();
        QVERIFY(QTest::qWaitForWindowExposed(m_window->window()));
    }

    void cleanup()
    {
        m_window.reset();
        m_store.reset();
        Files::failWritesForTesting(0);
    }

    void testEachCheckboxSavesItsSettingAndReportsTheChange()
    {
        const QList<std::pair<const char*, bool ClipSettings::*>> boxes{
            {"launchAtLoginCheckbox", &ClipSettings::launchAtLoginEnabled},
            {"showIslandCheckbox", &ClipSettings::showIslandAfterCapture},
            {"smartCopyEchoCheckbox", &ClipSettings::smartCopyEchoEnabled},
            {"hotKeyCheckbox", &ClipSettings::hotKeyEnabled},
            {"sensitiveCheckbox", &ClipSettings::ignoreSensitiveContent},
            {"sensitiveLocalOnlyCheckbox", &ClipSettings::markSensitiveLocalOnly},
            {"cloudCheckbox", &ClipSettings::cloudSyncEnabled},
            {"richContentCloudCheckbox", &ClipSettings::syncRichContentToICloud},
        };
        for (const auto& [name, flag] : boxes) {
            auto* box = control<QCheckBox>(name);
            const bool before = m_store->settings().*flag;
            QCOMPARE(box->isChecked(), before);
            m_changes.clear();
            click(box);
            QVERIFY2(m_store->settings().*flag == !before, name);
            QCOMPARE(box->isChecked(), !before);
            QCOMPARE(m_changes.size(), 1);
            QCOMPARE(m_changes[0].old.*flag, before);
            QCOMPARE(m_changes[0].current, m_store->settings());
        }
        // Every change is on disk.
        m_store->waitForPendingSaves();
        QCOMPARE(ClipboardStore(m_store->fileURL()).settings(), m_store->settings());
        QVERIFY(m_captureChanges.isEmpty());
    }

    void testTheCaptureCheckboxOnlyAsksTheDelegateAndShowsWhatItReports()
    {
        bool capturing = true;
        m_window->captureEnabledProvider = [&capturing] { return capturing; };
        auto* box = control<QCheckBox>("captureCheckbox");
        const ClipSettings before = m_store->settings();

        // The delegate refuses: the box goes back to what the provider says.
        click(box);
        QCOMPARE(m_captureChanges, QList<bool>{false});
        QVERIFY(box->isChecked());

        m_window->onCaptureEnabledChanged = [&capturing](bool on) { capturing = on; };
        click(box);
        QVERIFY(!box->isChecked());
        QVERIFY(m_changes.isEmpty());
        QCOMPARE(m_store->settings(), before);
        // The checklist's first row follows the capture state.
        QCOMPARE(m_window->window()->findChildren<QLabel*>(QStringLiteral("checklistBadge")).first()->text(),
                 QStringLiteral("Action needed"));
    }

    void testThePastedIgnoreListIsSplitIntoIdentifiers_data()
    {
        QTest::addColumn<QString>("pasted");
        QTest::addColumn<QStringList>("stored");
        QTest::addColumn<QString>("shown");
        const QStringList three{QStringLiteral("com.a.one"), QStringLiteral("com.b.two"),
                                QStringLiteral("com.c.three")};
        QTest::newRow("comma, semicolon, line feed, repeat")
            << QStringLiteral("com.a.one, com.b.two;com.c.three\nCOM.A.ONE") << three
            << QStringLiteral("com.a.one, com.b.two, com.c.three");
        QTest::newRow("CR LF lines") << QStringLiteral("com.a.one\r\ncom.b.two\r\ncom.c.three\r\n") << three
                                     << QStringLiteral("com.a.one, com.b.two, com.c.three");
        QTest::newRow("CR only") << QStringLiteral("com.a.one\rcom.b.two") << three.mid(0, 2)
                                 << QStringLiteral("com.a.one, com.b.two");
        QTest::newRow("empty") << QString() << QStringList() << QString();
    }

    void testThePastedIgnoreListIsSplitIntoIdentifiers()
    {
        QFETCH(QString, pasted);
        QFETCH(QStringList, stored);
        QFETCH(QString, shown);
        auto* field = control<QLineEdit>("ignoredSourceField");
        field->setFocus();
        field->selectAll();
        QTest::keyClick(field, Qt::Key_Delete);
        if (!pasted.isEmpty()) {
            QGuiApplication::clipboard()->setText(pasted);
            QTest::keyClick(field, Qt::Key_V, Qt::ControlModifier);
        }
        QTest::keyClick(field, Qt::Key_Return);

        QCOMPARE(m_store->settings().ignoredSourceBundleIdentifiers, stored);
        QCOMPARE(field->text(), shown);
        QVERIFY(!m_changes.isEmpty());
        QCOMPARE(m_changes.last().current.ignoredSourceBundleIdentifiers, stored);
        if (stored.isEmpty())
            QVERIFY(control<QLabel>("privacyLabel")->text().endsWith(QStringLiteral("history.")));
        else
            QVERIFY(control<QLabel>("privacyLabel")
                        ->text()
                        .endsWith(QStringLiteral("; %1 high-risk source app(s) auto-ignored.").arg(stored.size())));
    }

    void testTheContainerFieldStoresATrimmedIdentifierOrNone()
    {
        auto* field = control<QLineEdit>("containerField");
        typeAndCommit(field, QStringLiteral("  iCloud.example.custom "));
        QCOMPARE(m_store->settings().cloudContainerIdentifier, QStringLiteral("iCloud.example.custom"));
        QVERIFY(control<QLabel>("cloudReadinessLabel")->text().contains(QStringLiteral("iCloud.example.custom")));

        typeAndCommit(field, QStringLiteral("   "));
        QCOMPARE(m_store->settings().cloudContainerIdentifier, std::nullopt);
        QCOMPARE(field->text(), ClipDefaults::cloudContainerIdentifier);

        // Committing the default as shown stores it as text.
        m_changes.clear();
        field->setFocus();
        QTest::keyClick(field, Qt::Key_Return);
        QCOMPARE(m_store->settings().cloudContainerIdentifier, ClipDefaults::cloudContainerIdentifier);
        QCOMPARE(m_changes.size(), 1);
        QCOMPARE(m_changes[0].old.cloudContainerIdentifier, std::nullopt);
    }

    void testTheStepperSavesTheHistoryLength()
    {
        auto* stepper = control<QSpinBox>("historyStepper");
        QCOMPARE(stepper->value(), 200);
        stepper->setFocus();
        QTest::keyClick(stepper, Qt::Key_Up);
        QCOMPARE(m_store->settings().maxHistoryCount, 220);
        QCOMPARE(control<QLabel>("historyLabel")->text(), QStringLiteral("220 items"));
        QCOMPARE(m_changes.size(), 1);
        QCOMPARE(m_changes[0].old.maxHistoryCount, 200);
    }

    void testTheChecklistIsShownWithItsStates()
    {
        m_window->refresh();
        const auto badges = m_window->window()->findChildren<QLabel*>(QStringLiteral("checklistBadge"));
        const auto texts = m_window->window()->findChildren<QLabel*>(QStringLiteral("checklistText"));
        QCOMPARE(badges.size(), 5);
        QCOMPARE(texts.size(), 5);
        // Sync is off by default; capture counts as on without a provider.
        QCOMPARE(badges[0]->text(), QStringLiteral("Ready"));
        QCOMPARE(badges[1]->text(), QStringLiteral("Action needed"));
        QCOMPARE(badges[4]->text(), QStringLiteral("Action needed"));
        QVERIFY(texts[0]->text().startsWith(QStringLiteral("Auto-capture: ")));
        QCOMPARE(texts[1]->text(), QStringLiteral("Folder sync toggle: Once enabled, non-sensitive exportable history "
                                                  "takes part in cross-device sync."));
    }

    void testAFailedSaveShowsTheStoredValueAndTheReason()
    {
        Files::failWritesForTesting(ENOSPC);
        auto* box = control<QCheckBox>("showIslandCheckbox");
        click(box);
        m_store->waitForPendingSaves();
        QCoreApplication::processEvents();

        // The store keeps the change in memory, so the window and the delegate follow it.
        QVERIFY(m_store->settings().showIslandAfterCapture);
        QVERIFY(box->isChecked());
        QCOMPARE(m_changes.size(), 1);
        QCOMPARE(m_changes[0].current, m_store->settings());
        QVERIFY2(status().startsWith(QStringLiteral("Save failed: ") + Files::reason(ENOSPC)),
                 qPrintable(status()));
    }

    void testTheStatusLineFollowsTheSyncState_data()
    {
        QTest::addColumn<bool>("cloud");
        QTest::addColumn<bool>("rich");
        QTest::addColumn<std::optional<CloudSyncState>>("state");
        QTest::addColumn<QString>("line");
        const QString local = QStringLiteral("Currently in local mode.");
        const QString textOnly =
            QStringLiteral("Only text and links sync by default; images and files stay local.");
        QTest::newRow("off, failing") << false << false << std::optional(CloudSyncState::failed(QStringLiteral("x")))
                                      << local;
        QTest::newRow("no provider") << true << false << std::optional<CloudSyncState>() << textOnly;
        QTest::newRow("idle, rich") << true << true << std::optional(CloudSyncState::idle())
                                    << QStringLiteral("Sync skips sensitive and local-only content; newly saved "
                                                      "images and files can sync.");
        QTest::newRow("unavailable") << true << false
                                     << std::optional(CloudSyncState::unavailable(QStringLiteral("No account")))
                                     << QStringLiteral("Sync folder unavailable: No account");
        QTest::newRow("failed") << true << false << std::optional(CloudSyncState::failed(QStringLiteral("Timeout")))
                                << QStringLiteral("Folder sync failed: Timeout");
        QTest::newRow("disabled") << true << false << std::optional(CloudSyncState::disabled()) << local;
        QTest::newRow("syncing") << true << false << std::optional(CloudSyncState::syncing())
                                 << QStringLiteral("Syncing history with the sync folder.");
    }

    void testTheStatusLineFollowsTheSyncState()
    {
        QFETCH(bool, cloud);
        QFETCH(bool, rich);
        QFETCH(std::optional<CloudSyncState>, state);
        QFETCH(QString, line);
        m_store->updateSettings([&](ClipSettings& settings) {
            settings.cloudSyncEnabled = cloud;
            settings.syncRichContentToICloud = rich;
        });
        if (state)
            m_window->cloudStateProvider = [state] { return *state; };
        m_window->refresh();
        QCOMPARE(status(), line);
    }

    void testCopyButtonsWriteThePasteboardAndSaySo()
    {
        click(control<QPushButton>("copyContainerButton"));
        QCOMPARE(m_pasteboard.string(), ClipDefaults::cloudContainerIdentifier);
        QCOMPARE(m_pasteboardWrites, 1);
        QCOMPARE(status(), QStringLiteral("Container Identifier copied."));

        // Typed but not committed: the report shows it and the settings stay as they were.
        auto* field = control<QLineEdit>("containerField");
        field->setFocus();
        field->selectAll();
        QTest::keyClicks(field, QStringLiteral("iCloud.example.typed"));
        click(control<QPushButton>("copyDiagnosticsButton"));
        QVERIFY(m_pasteboard.string()->contains(QStringLiteral("- Sync Container：iCloud.example.typed")));
        QCOMPARE(m_store->settings().cloudContainerIdentifier, std::nullopt);
        QCOMPARE(m_pasteboardWrites, 2);
        QCOMPARE(status(), QStringLiteral("Sync diagnostics copied."));
        // The next refresh puts the sync state back.
        m_window->refresh();
        QCOMPARE(status(), QStringLiteral("Currently in local mode."));
    }

    void testTheWindowFitsTheScreen_data()
    {
        QTest::addColumn<QRect>("visible");
        QTest::addColumn<QRect>("frame");
        QTest::newRow("low screen") << QRect(0, 30, 1440, 600) << QRect(490, 42, 460, 576);
        QTest::newRow("tall screen") << QRect(100, 0, 1000, 1000) << QRect(370, 80, 460, 840);
    }

    void testTheWindowFitsTheScreen()
    {
        QFETCH(QRect, visible);
        QFETCH(QRect, frame);
        QCOMPARE(PreferencesWindowController::frameWithinVisibleFrame(visible), frame);
    }

    // The checklist looks at this machine: the sync folder, the paired device and the hot keys.
    void testTheChecklistReadsThisMachine()
    {
        m_window->recordsRoot = m_dir->filePath(QStringLiteral("records"));
        auto device = std::make_shared<ReachableSharing>();
        device->reachable = false;
        bool hotKey = true;
        m_window->sharingServiceProvider = [device] { return device; };
        m_window->hotKeyRegisteredProvider = [&hotKey] { return hotKey; };
        m_window->refresh();
        const auto badges = [this] {
            QStringList texts;
            for (QLabel* badge : m_window->window()->findChildren<QLabel*>(QStringLiteral("checklistBadge")))
                texts.append(badge->text());
            return texts;
        };
        QTRY_COMPARE(badges(), (QStringList{QStringLiteral("Ready"), QStringLiteral("Action needed"),
                                            QStringLiteral("Ready"), QStringLiteral("Action needed"),
                                            QStringLiteral("Ready")}));
        QVERIFY(control<QLabel>("cloudReadinessLabel")->text().contains(m_dir->filePath(QStringLiteral("records"))));

        // A file where the folder should go, a device in reach, the hot keys taken.
        QuillomareTest::writeFile(m_dir->filePath(QStringLiteral("records")), "not a folder");
        device->reachable = true;
        hotKey = false;
        m_window->refresh();
        QTRY_COMPARE(badges(), (QStringList{QStringLiteral("Ready"), QStringLiteral("Action needed"),
                                            QStringLiteral("Action needed"), QStringLiteral("Ready"),
                                            QStringLiteral("Action needed")}));
        QVERIFY(control<QLabel>("cloudReadinessLabel")->text().startsWith(QStringLiteral("Sync check: “")));
    }

    // Seen on a real display: a sync folder problem made the "Sync check" line run to three lines,
    // and the window gave it the height of two, cutting it at the top and the bottom. However
    // long the folder's name, the line gets the height of all its lines.
    void testTheSyncCheckShowsAllItsLines_data()
    {
        QTest::addColumn<bool>("chinese");
        QTest::newRow("chinese") << true;
        QTest::newRow("english") << false;
    }

    void testTheSyncCheckShowsAllItsLines()
    {
        QFETCH(bool, chinese);
        Language::setIsChineseForTesting(chinese);
        auto* label = control<QLabel>("cloudReadinessLabel");
        int mostLines = 0;
        for (int length = 1; length <= 40; ++length) {
            // A file where the folder should be: the line names it and says it cannot be written.
            const QString root = m_dir->filePath(QString(length, u'n') + QStringLiteral("/CloudRecords"));
            QDir().mkpath(QFileInfo(root).path());
            QuillomareTest::writeFile(root, "not a folder");
            m_window->recordsRoot = root;
            m_window->refresh();
            settleLayout();
            QVERIFY(label->text().contains(root));
            const int needed = label->heightForWidth(label->width());
            QVERIFY2(label->height() >= needed, qPrintable(QStringLiteral("%1 high, its %2 lines need %3: %4")
                                                               .arg(label->height())
                                                               .arg(wrappedLines(label).size())
                                                               .arg(needed)
                                                               .arg(label->text())));
            mostLines = std::max(mostLines, int(wrappedLines(label).size()));
        }
        QVERIFY(mostLines >= 3);
    }

    // "Ctrl + Alt + V" broke across lines in the checklist; it stays whole at the row's width and
    // at any narrower one, in both languages and in each of the hot key's texts.
    void testKeyCombinationsStayOnOneLineInTheChecklist_data()
    {
        QTest::addColumn<bool>("chinese");
        QTest::addColumn<bool>("enabled");
        QTest::addColumn<bool>("registered");
        for (const bool chinese : {true, false}) {
            const char* language = chinese ? "chinese" : "english";
            QTest::addRow("%s, held", language) << chinese << true << true;
            QTest::addRow("%s, taken by another program", language) << chinese << true << false;
            QTest::addRow("%s, switched off", language) << chinese << false << false;
        }
    }

    void testKeyCombinationsStayOnOneLineInTheChecklist()
    {
        QFETCH(bool, chinese);
        QFETCH(bool, enabled);
        QFETCH(bool, registered);
        Language::setIsChineseForTesting(chinese);
        m_store->updateSettings([enabled](ClipSettings& settings) { settings.hotKeyEnabled = enabled; });
        m_window->hotKeyRegisteredProvider = [registered] { return registered; };
        m_window->refresh();
        settleLayout();
        const QLabel* row = m_window->window()->findChildren<QLabel*>(QStringLiteral("checklistText")).at(4);
        QVERIFY(row->text().contains(QStringLiteral("Ctrl")));
        const int width = row->contentsRect().width();
        for (int lineWidth = width; lineWidth >= width / 2; --lineWidth) {
            const QStringList lines = wrappedLines(row, lineWidth);
            QVERIFY2(!breaksInsideKeyCombination(lines), qPrintable(lines.join(QStringLiteral(" | "))));
        }
    }

    // Without KDE Connect there is nothing to pair: the paired-device row says what is missing
    // and what to install, and goes back to pairing once the tool is there.
    void testAMissingKdeConnectIsToldApartFromNoPairedDevice()
    {
        const QTemporaryDir bin;
        const QByteArray path = qgetenv("PATH");
        const auto restored = qScopeGuard([path] { qputenv("PATH", path); });
        qputenv("PATH", QFile::encodeName(bin.path()));
        m_window->sharingServiceProvider = [] { return std::make_shared<Platform::KdeConnectSharingService>(); };
        const auto deviceRow = [this] {
            const auto badges = m_window->window()->findChildren<QLabel*>(QStringLiteral("checklistBadge"));
            const auto texts = m_window->window()->findChildren<QLabel*>(QStringLiteral("checklistText"));
            return QStringList{badges.at(3)->text(), texts.at(3)->text()};
        };
        const QString actionNeeded = QStringLiteral("Action needed");
        m_window->refresh();
        QTRY_COMPARE(deviceRow(), (QStringList{actionNeeded, QStringLiteral("Paired device: KDE Connect is not "
                                                                            "installed; install KDE Connect to send "
                                                                            "items to a phone.")}));

        // Installed, with no device paired: the tool answers with no device.
        const QString tool = bin.filePath(QStringLiteral("kdeconnect-cli"));
        QuillomareTest::writeFile(tool, "#!/bin/sh\nexit 0\n");
        QFile::setPermissions(tool, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
        m_window->refresh();
        QTRY_COMPARE(deviceRow(), (QStringList{actionNeeded, QStringLiteral("Paired device: KDE Connect reaches no "
                                                                            "paired device; pair a phone to send "
                                                                            "items.")}));
    }

    // The delegate writes the start-up entry; the desktop's start-up settings may switch it off
    // later, behind the program's back. Each time the window shows, it says what the entry is now.
    void testALaunchAtLoginEntrySwitchedOffElsewhereShowsAsSuch()
    {
        Platform::MemoryPasteboard pasteboard;
        Platform::MemoryWorkspace workspace;
        AppDelegate delegate(
            fakeDelegateEnvironment(m_dir->filePath(QStringLiteral("delegate")), pasteboard, workspace));
        delegate.applicationDidFinishLaunching();
        delegate.showPreferencesFromMenu();
        QWidget* window = delegate.preferencesController().window();
        auto* status = window->findChild<QLabel*>(QStringLiteral("launchAtLoginStatusLabel"));
        QVERIFY(status);
        QVERIFY(status->isHidden());

        click(window->findChild<QCheckBox*>(QStringLiteral("launchAtLoginCheckbox")));
        const QString entry = LoginItemController::autostartFilePath();
        QVERIFY(QFileInfo(entry).isFile());
        // Written and in force: the ticked box says it all.
        QVERIFY(status->isHidden());
        const QByteArray written = QuillomareTest::readFile(entry);

        for (const QByteArray& switchedOff :
             {written + "Hidden=true\n",
              QByteArray(written).replace("X-GNOME-Autostart-enabled=true", "X-GNOME-Autostart-enabled=false")}) {
            window->close();
            QuillomareTest::writeFile(entry, switchedOff);
            delegate.showPreferencesFromMenu();
            QVERIFY(!status->isHidden());
            QCOMPARE(status->text(), QStringLiteral("Launch at login: Needs approval in System Settings"));
        }

        window->close();
        QVERIFY(QFile::remove(entry));
        delegate.showPreferencesFromMenu();
        QCOMPARE(status->text(), QStringLiteral("Launch at login: Off"));

        window->close();
        QuillomareTest::writeFile(entry, written);
        delegate.showPreferencesFromMenu();
        QVERIFY(status->isHidden());
        delegate.store().waitForPendingSaves();
    }

    // Whether a device is in reach is asked off the GUI thread: refreshes do not wait for the
    // answer, the row says it is checking until it comes, and one probe runs at a time.
    void testThePairedDeviceIsProbedWithoutWaiting()
    {
        Language::setIsChineseForTesting(true);
        auto sharing = std::make_shared<BlockingSharing>();
        const auto released = qScopeGuard([sharing] { sharing->answer.release(10); });
        m_window->sharingServiceProvider = [sharing] { return sharing; };
        const auto deviceRow = [this] {
            return m_window->window()->findChildren<QLabel*>(QStringLiteral("checklistBadge")).at(3)->text();
        };
        for (int i = 0; i < 3; ++i)
            m_window->refresh();
        click(control<QCheckBox>("hotKeyCheckbox"));
        QCOMPARE(deviceRow(), QStringLiteral("正在检查…"));
        QTRY_COMPARE(sharing->probes.load(), 1);

        sharing->answer.release();
        QTRY_COMPARE(deviceRow(), QStringLiteral("就绪"));
        // The refreshes made while the probe ran ask once more, not once each.
        QTRY_COMPARE(sharing->probes.load(), 2);
        sharing->answer.release();
        QTRY_COMPARE(sharing->running.load(), 0);
        QCOMPARE(deviceRow(), QStringLiteral("就绪"));
        QCOMPARE(sharing->probes.load(), 2);
        QCOMPARE(sharing->mostRunning.load(), 1);
        QCOMPARE(sharing->timedOut.load(), 0);
    }

    // The window is laid out for one size: its badges share one width so that the texts beside
    // them line up, the history limit is shown once, and the window cannot be resized.
    void testTheWindowKeepsItsLayout()
    {
        const auto texts = m_window->window()->findChildren<QLabel*>(QStringLiteral("checklistText"));
        QCOMPARE(texts.size(), 5);
        for (QLabel* text : texts)
            QCOMPARE(text->mapTo(m_window->window(), QPoint()).x(), texts.first()->mapTo(m_window->window(), QPoint()).x());

        auto* stepper = control<QSpinBox>("historyStepper");
        QCOMPARE(stepper->text(), QStringLiteral("200 items"));
        QVERIFY(control<QLabel>("historyLabel")->isHidden());
        // A stored limit the stepper cannot show is still told as it is.
        m_store->updateSettings([](ClipSettings& settings) { settings.maxHistoryCount = 5000; });
        m_window->refresh();
        QVERIFY(!control<QLabel>("historyLabel")->isHidden());
        QCOMPARE(control<QLabel>("historyLabel")->text(), QStringLiteral("5000 items"));

        m_window->positionWithinVisibleFrame();
        QWidget* window = m_window->window();
        QCOMPARE(window->minimumSize(), window->size());
        QCOMPARE(window->maximumSize(), window->size());
    }

    // The delegate's side: the window it keeps, the consequences it draws and the refreshes it owes.
    void testTheDelegateWiresTheWindow()
    {
        Platform::MemoryPasteboard pasteboard;
        Platform::MemoryWorkspace workspace;
        auto hotKeys = std::make_shared<Platform::MemoryGlobalHotKeys>();
        AppDelegateEnvironment environment =
            fakeDelegateEnvironment(m_dir->filePath(QStringLiteral("delegate")), pasteboard, workspace);
        environment.hotKeys = hotKeys;
        // Not built by a launch that may never show it; wired all the same once it is.
        const auto preferencesWindows = [] {
            const QWidgetList windows = QApplication::topLevelWidgets();
            return std::count_if(windows.cbegin(), windows.cend(), [](const QWidget* widget) {
                return widget->findChild<QCheckBox*>(QStringLiteral("captureCheckbox")) != nullptr;
            });
        };
        const auto before = preferencesWindows();
        AppDelegate delegate(environment);
        delegate.applicationDidFinishLaunching();
        QCOMPARE(preferencesWindows(), before);
        QWidget* window = delegate.preferencesController().window();
        QVERIFY(!window->isVisible());
        QCOMPARE(preferencesWindows(), before + 1);

        delegate.showPreferencesFromMenu();
        QVERIFY(window->isVisible());
        QCOMPARE(window->width(), PreferencesWindowController::windowWidth);

        QVERIFY(!hotKeys->registered.isEmpty());
        // The checklist's last rows are the delegate's: the paired device and the hot keys held.
        const auto lastBadges = [window] {
            const auto badges = window->findChildren<QLabel*>(QStringLiteral("checklistBadge"));
            return QStringList{badges.at(3)->text(), badges.at(4)->text()};
        };
        auto sharing = std::make_shared<ReachableSharing>();
        Platform::SharingService::setAirDropForTesting(sharing);
        delegate.preferencesController().refresh();
        QTRY_COMPARE(lastBadges(), (QStringList{QStringLiteral("Ready"), QStringLiteral("Ready")}));
        sharing->reachable = false;
        delegate.preferencesController().refresh();
        QTRY_COMPARE(lastBadges(), (QStringList{QStringLiteral("Action needed"), QStringLiteral("Ready")}));
        Platform::SharingService::setAirDropForTesting(nullptr);
        click(window->findChild<QCheckBox*>(QStringLiteral("hotKeyCheckbox")));
        QVERIFY(!delegate.store().settings().hotKeyEnabled);
        QVERIFY(hotKeys->registered.isEmpty());

        auto* capture = window->findChild<QCheckBox*>(QStringLiteral("captureCheckbox"));
        click(capture);
        QVERIFY(!delegate.monitor().isRunning());
        QVERIFY(!capture->isChecked());

        // Changes made from the tray menu show in the open window.
        delegate.toggleCaptureFromMenu();
        QVERIFY(capture->isChecked());
        delegate.toggleSensitiveFilteringFromMenu();
        QVERIFY(!window->findChild<QCheckBox*>(QStringLiteral("sensitiveCheckbox"))->isChecked());

        // Its copy is the program's own write, not a capture.
        click(window->findChild<QPushButton*>(QStringLiteral("copyContainerButton")));
        QCOMPARE(delegate.monitor().lastChangeCount(), pasteboard.changeCount());
        delegate.store().waitForPendingSaves();
    }
};

QUILLOMARE_GUI_TEST_MAIN(PreferencesWindowTest)
#include "tst_preferenceswindow.moc"
