// The delegate's rules with the island, the application object and the sync service replaced by
// recording fakes; the pasteboard lives in memory and the stores in a temporary folder.

#include "Island/Kit/IslandToastView.h"
#include "Pasteboard/ClipboardMonitor.h"
#include "Shell/AppDelegate.h"
#include "Shell/GlobalHotKeyController.h"
#include "Sync/CloudKitSyncService.h"

#include "AppDelegateFakes.h"
#include "IslandViewTestRig.h"
#include "TestSupport.h"

#include <Platform/DataFolderLock.h>
#include <Platform/GlobalHotKeys.h>
#include <Platform/InstanceRegistry.h>
#include <Platform/Pasteboard.h>
#include <Platform/UserDefaults.h>
#include <Platform/Workspace.h>
#include <QuillomareCore/Files.h>
#include <QuillomareCore/Foundation.h>
#include <QuillomareCore/Language.h>
#include <QuillomareCore/MonotonicClock.h>
#include <QuillomareCore/StoredImage.h>

#include <QApplication>
#include <QMutex>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QTemporaryDir>

#include <cerrno>
#include <unistd.h>

using namespace QuillomareCore;
using namespace QuillomareMac;
using namespace QuillomareTest;

namespace {

// A cloud that answers with what the test scripted; called from the delegate's worker threads.
struct FakeCloud final : CloudSyncing
{
    mutable QMutex mutex;
    CloudSyncPullResult pulled{CloudSyncState::idle(), {}, {}, {}};
    CloudSyncState pushState = CloudSyncState::idle();
    QList<QList<ClipboardItem>> pushes, deletions;

    CloudSyncState state() const override { return CloudSyncState::idle(); }
    CloudSyncState push(const QList<ClipboardItem>& items) override
    {
        QMutexLocker lock(&mutex);
        pushes.append(items);
        return pushState;
    }
    CloudSyncState pushDeletionTombstones(const QList<ClipboardDeletionTombstone>&) override { return CloudSyncState::idle(); }
    CloudSyncState pushDeletedContentHashes(const QSet<QString>&) override { return CloudSyncState::idle(); }
    // Answered in turn before `pulled`.
    QList<CloudSyncPullResult> scriptedPulls;
    int pullCount = 0;
    CloudSyncPullResult pull(int) override
    {
        QMutexLocker lock(&mutex);
        ++pullCount;
        return scriptedPulls.isEmpty() ? pulled : scriptedPulls.takeFirst();
    }
    CloudSyncState deleteItems(const QList<ClipboardItem>& items) override
    {
        QMutexLocker lock(&mutex);
        deletions.append(items);
        return CloudSyncState::idle();
    }
};

ClipboardCaptureResult captured(const ClipboardItem& item)
{
    return ClipboardCaptureResult{item, std::nullopt};
}

} // namespace

class AppDelegateTest : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<QTemporaryDir> m_dir;
    Platform::MemoryPasteboard m_pasteboard;
    Platform::MemoryWorkspace m_workspace;
    FakeIsland* m_island = nullptr;
    std::shared_ptr<FakeDesktop> m_desktop;
    std::shared_ptr<FakeCloud> m_cloud;
    std::shared_ptr<Platform::MemoryGlobalHotKeys> m_hotKeys;
    std::unique_ptr<AppDelegate> m_delegate;

    QString storePath() const { return m_dir->filePath(QStringLiteral("Quillomare/clips.json")); }

    AppDelegate& launch(bool syncOn = false)
    {
        if (syncOn) {
            ClipboardStore seed(storePath());
            seed.updateSettings([](ClipSettings& settings) { settings.cloudSyncEnabled = true; });
        }
        AppDelegateEnvironment environment;
        environment.pasteboard = &m_pasteboard;
        environment.workspace = &m_workspace;
        environment.instances = std::make_shared<Platform::MemoryInstanceRegistry>();
        environment.hotKeys = m_hotKeys;
        environment.storeFileURL = storePath();
        environment.shelfFileURL = m_dir->filePath(QStringLiteral("Quillomare/shelf-sessions.json"));
        environment.makeIsland = [this] {
            auto island = std::make_unique<FakeIsland>();
            m_island = island.get();
            return island;
        };
        environment.desktop = m_desktop;
        environment.makeSyncService = [this](const ClipSettings& settings) -> std::shared_ptr<CloudSyncing> {
            if (!settings.cloudSyncEnabled)
                return std::make_shared<LocalOnlyCloudSyncService>(QStringLiteral("Folder sync is off"));
            return m_cloud;
        };
        m_delegate = std::make_unique<AppDelegate>(environment);
        m_delegate->applicationDidFinishLaunching();
        return *m_delegate;
    }

    // Lets the writer and the sync workers finish and their answers arrive.
    void settle()
    {
        m_delegate->store().waitForPendingSaves();
        QTRY_VERIFY(!m_delegate->isCloudSyncInFlight());
        QCoreApplication::processEvents();
    }

private Q_SLOTS:
    void init()
    {
        m_dir = std::make_unique<QTemporaryDir>();
        m_desktop = std::make_shared<FakeDesktop>();
        m_cloud = std::make_shared<FakeCloud>();
        m_hotKeys = std::make_shared<Platform::MemoryGlobalHotKeys>();
        m_pasteboard.setRefusesWrites(false);
        Language::setIsChineseForTesting(false);
    }

    void cleanup()
    {
        m_delegate.reset();
        Files::failWritesForTesting(0);
        HistoryFileVersion::failReadsForTesting = 0;
    }

    void testLaunchMessagesAndTheIslandAtStart()
    {
        AppDelegate& delegate = launch();
        QCOMPARE(m_island->settles, 1);
        QCOMPARE(m_island->shows, 0);
        QCOMPARE(m_island->message, std::optional<QString>(QStringLiteral(
                                        "Copy text, a link, an image, or a file and it will show up here.")));
        QVERIFY(delegate.monitor().isRunning());
        m_delegate.reset();

        // A history set aside at the last start: its backup is named, the island opens.
        writeFile(storePath(), "{ broken");
        launch();
        QCOMPARE(m_island->shows, 1);
        QVERIFY(m_island->message->startsWith(QStringLiteral("History file was corrupted; a backup was kept: clips.corrupt-")));
        QCOMPARE(AppDelegate::historyLoadFailureMessage({storePath(), std::nullopt, QStringLiteral("历史文件无法读取")}),
                 QStringLiteral("History file error: 历史文件无法读取"));
    }

    void testCaptureEchoesOnlyOnceTheWriteIsDone()
    {
        AppDelegate& delegate = launch();
        delegate.handleCapture(captured(textItem(QStringLiteral("first"), at(0))));
        // Nothing is claimed before the file holds it.
        QVERIFY(m_island->echoes.isEmpty());
        settle();
        QCOMPARE(m_island->echoes.size(), 1);
        QCOMPARE(m_island->echoes.last().status.caseOf(), CaptureFeedback::SaveStatus::Case::saved);
        QCOMPARE(m_island->items.size(), 1);

        delegate.handleCapture(captured(textItem(QStringLiteral("first"), at(1))));
        settle();
        QCOMPARE(m_island->echoes.last().status.caseOf(), CaptureFeedback::SaveStatus::Case::duplicate);

        // An ignored copy: its reason is the island's message and the echo says so.
        delegate.handleCapture(ClipboardCaptureResult{std::nullopt, QStringLiteral("Ignored clipboard from KeePassXC")});
        QCOMPARE(m_island->message, std::optional<QString>(QStringLiteral("Ignored clipboard from KeePassXC")));
        QCOMPARE(m_island->echoes.last().status.caseOf(), CaptureFeedback::SaveStatus::Case::ignored);

        // With the island set to open after each copy, it opens on the history instead.
        delegate.store().updateSettings([](ClipSettings& settings) { settings.showIslandAfterCapture = true; });
        const int shows = m_island->shows;
        delegate.handleCapture(captured(textItem(QStringLiteral("second"), at(2))));
        settle();
        QCOMPARE(m_island->shows, shows + 1);
        QCOMPARE(m_island->historySwitches, 1);
        QCOMPARE(m_island->echoes.size(), 3);
    }

    // A slow save of a large history answers every capture that came meanwhile with one write:
    // one echo, the newest's, and the island and messages as after the newest alone.
    void testOneWriteForSeveralCapturesEchoesOnceForTheNewest()
    {
        AppDelegate& delegate = launch();
        const QStringList sources = {QStringLiteral("Editor"), QStringLiteral("Browser"), QStringLiteral("Terminal")};
        for (int i = 0; i < sources.size(); ++i) {
            ClipboardItem item = textItem(QStringLiteral("copy %1").arg(i), at(i));
            item.sourceAppName = sources[i];
            delegate.handleCapture(captured(item));
        }
        // The first write may land before the others are handed over: it is still one burst,
        // since nothing was delivered while the copies came.
        settle();
        QCOMPARE(m_island->echoes.size(), 1);
        QCOMPARE(m_island->echoes.last().sourceAppName, std::optional<QString>(QStringLiteral("Terminal")));
        QCOMPARE(m_island->echoes.last().status.caseOf(), CaptureFeedback::SaveStatus::Case::saved);
        QCOMPARE(m_island->items.size(), 3);
        QCOMPARE(m_island->items.first().payload.textValue(), QStringLiteral("copy 2"));
        QCOMPARE(m_island->message, std::nullopt);

        // A capture whose write lands on its own still echoes on its own.
        delegate.handleCapture(captured(textItem(QStringLiteral("copy 0"), at(10))));
        settle();
        QCOMPARE(m_island->echoes.size(), 2);
        QCOMPARE(m_island->echoes.last().status.caseOf(), CaptureFeedback::SaveStatus::Case::duplicate);

        // A burst whose write fails says so once, and nothing claims "saved".
        Files::failWritesForTesting(ENOSPC);
        const qsizetype messages = m_island->messages.size();
        const int shows = m_island->shows;
        delegate.handleCapture(captured(textItem(QStringLiteral("lost 1"), at(11))));
        delegate.handleCapture(captured(textItem(QStringLiteral("lost 2"), at(12))));
        settle();
        QCOMPARE(m_island->messages.size(), messages + 1);
        QVERIFY2(m_island->messages.last().startsWith(QStringLiteral("Save failed: ")),
                 qPrintable(m_island->messages.last()));
        QCOMPARE(m_island->shows, shows + 1);
        QCOMPARE(m_island->echoes.size(), 2);
        // Both stay in memory for the next write.
        QCOMPARE(delegate.store().items().first().payload.textValue(), QStringLiteral("lost 2"));
        QCOMPARE(delegate.store().items().at(1).payload.textValue(), QStringLiteral("lost 1"));
    }

    // Quitting while the history cannot be saved: the first request says what would be lost
    // and why, the second quits; with saves working, Quit quits at once.
    void testQuitWhileSavesFailSaysWhatWouldBeLost()
    {
        AppDelegate& delegate = launch();
        delegate.quitFromMenu();
        QCOMPARE(m_desktop->quits, 1);

        Files::failWritesForTesting(ENOSPC);
        delegate.handleCapture(captured(textItem(QStringLiteral("not on disk"), at(1))));
        settle();
        delegate.quitFromMenu();
        QCOMPARE(m_desktop->quits, 1);
        QVERIFY2(m_island->messages.last().startsWith(QStringLiteral("No space left on device")) &&
                     m_island->messages.last().contains(QStringLiteral("Choose Quit again")),
                 qPrintable(m_island->messages.last()));
        delegate.quitFromMenu();
        QCOMPARE(m_desktop->quits, 2);
    }

    // A save failure that passed (a save worked since) is forgotten: the next failure warns
    // again before quitting instead of quitting at once.
    void testQuitWarnsAgainAfterSavesRecovered()
    {
        AppDelegate& delegate = launch();
        Files::failWritesForTesting(ENOSPC);
        delegate.handleCapture(captured(textItem(QStringLiteral("first failure"), at(1))));
        settle();
        delegate.quitFromMenu();
        QCOMPARE(m_desktop->quits, 0);

        Files::failWritesForTesting(0);
        delegate.handleCapture(captured(textItem(QStringLiteral("saved"), at(2))));
        settle();
        QVERIFY(!delegate.store().lastSaveError());

        Files::failWritesForTesting(ENOSPC);
        delegate.handleCapture(captured(textItem(QStringLiteral("second failure"), at(3))));
        settle();
        QVERIFY(delegate.store().lastSaveError());
        m_island->messages.clear();
        delegate.quitFromMenu();
        QCOMPARE(m_desktop->quits, 0);
        QVERIFY2(!m_island->messages.isEmpty() && m_island->messages.last().contains(QStringLiteral("Choose Quit again")),
                 qPrintable(m_island->messages.value(m_island->messages.size() - 1)));
        delegate.quitFromMenu();
        QCOMPARE(m_desktop->quits, 1);
    }

    // An image the file holds but a read failed for a moment (an I/O error): the copy fails
    // with the plain text, the image is not read again to find a reason, and nothing is lost.
    void testImageThatCannotBeReadForAMomentIsNotGivenUp()
    {
        const QByteArray image = QByteArray("\x89PNG\r\n\x1a\n", 8) + QByteArray(30'000, 'q');
        {
            ClipboardStore seed(storePath());
            seed.add(imageItem(image, at(1)));
            seed.waitForPendingSaves();
        }
        AppDelegate& delegate = launch();
        const auto stored = delegate.store().items().first().payload.storedImageText();
        QVERIFY(stored);

        HistoryFileVersion::failReadsForTesting = EIO;
        delegate.copyToPasteboard(delegate.store().items().first());
        QCOMPARE(m_island->message, std::optional<QString>(QStringLiteral("This item can't be copied")));
        QVERIFY(!stored->isDamaged());

        HistoryFileVersion::failReadsForTesting = 0;
        QCOMPARE(delegate.store().items().first().payload.loadImagePNG(), std::optional<QByteArray>(image));
        delegate.handleCapture(captured(textItem(QStringLiteral("copied afterwards"), at(2))));
        settle();
        QVERIFY(!delegate.store().lastSaveError());
        QCOMPARE(ClipboardStore(storePath()).items().size(), 2);
    }

    // An image another program damaged in the file: the copy made afterwards is saved, and the
    // island names what was lost.
    void testDamagedImageInTheFileIsNamedInTheIsland()
    {
        const QByteArray image = QByteArray("\x89PNG\r\n\x1a\n", 8) + QByteArray(30'000, 'p');
        {
            ClipboardStore seed(storePath());
            seed.add(imageItem(image, at(1)));
            seed.waitForPendingSaves();
        }
        const auto clock = std::make_shared<ManualMonotonicClock>();
        MonotonicClock::setSharedForTesting(clock);
        auto realClock = qScopeGuard([] { MonotonicClock::setSharedForTesting(nullptr); });
        AppDelegate& delegate = launch();
        QCOMPARE(delegate.store().items().size(), 1);
        const QByteArray onDisk = readFile(storePath());
        const QByteArray::size_type text = onDisk.indexOf(Base64::encode(image));
        QVERIFY(text > 0);
        QVERIFY(::truncate(QFile::encodeName(storePath()).constData(), text + 50) == 0);

        // Copying it back says why it cannot be had.
        delegate.copyToPasteboard(delegate.store().items().first());
        QCOMPARE(m_island->message,
                 std::optional<QString>(QStringLiteral("The image couldn't be read from the history file: "
                                                       "the history file is shorter than expected")));

        delegate.handleCapture(captured(textItem(QStringLiteral("copied afterwards"), at(2))));
        settle();
        // A file cut short may be a copy still under way: the image is given up only once the
        // file has stayed so.
        QCOMPARE(delegate.store().items().size(), 2);
        clock->advance(HistoryFileVersion::unreadableGraceMilliseconds + 1000);
        QTRY_VERIFY2(!m_island->messages.isEmpty() &&
                         m_island->messages.last().contains(QStringLiteral("Removed from the history: the image copied")),
                     qPrintable(m_island->messages.value(m_island->messages.size() - 1)));
        QVERIFY(!delegate.store().lastSaveError());
        QCOMPARE(m_island->items.size(), 1);
        ClipboardStore reread(storePath());
        QCOMPARE(reread.items().size(), 1);
        QCOMPARE(reread.items().first().payload.textValue(), QStringLiteral("copied afterwards"));
    }

    void testManyRemovedImagesAreCountedInTheToastAndEachNamedInTheTooltipAndLog_data()
    {
        QTest::addColumn<bool>("chinese");
        QTest::newRow("English") << false;
        QTest::newRow("Chinese") << true;
    }

    // Another program puts back an older copy of the history that holds 2 of its 40 screenshots:
    // the toast begins with how many went and says it whole, and every one of them is named in the
    // header's tooltip and the log, where the user can read the list.
    void testManyRemovedImagesAreCountedInTheToastAndEachNamedInTheTooltipAndLog()
    {
        QFETCH(bool, chinese);
        Language::setIsChineseForTesting(chinese);
        auto screenshot = [](int i) {
            QByteArray bytes("\x89PNG\r\n\x1a\n\0\0\0\x0dIHDR", 16);
            for (quint32 value : {quint32(1000 + i), quint32(700 + i)})
                for (int shift : {24, 16, 8, 0})
                    bytes.append(char((value >> shift) & 0xff));
            return bytes + QByteArray(2000, char('a' + i % 26)) + QByteArray::number(i);
        };
        auto named = [&](int i) {
            const QString when = at(i).toLocalTime().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"));
            return Language::text(QStringLiteral("%1 复制的图片（%2 × %3）"),
                                  QStringLiteral("the image copied %1 (%2 × %3)"))
                .arg(when)
                .arg(1000 + i)
                .arg(700 + i);
        };
        QByteArray olderCopy;
        {
            ClipboardStore seed(storePath());
            for (int i = 0; i < 40; ++i) {
                seed.add(imageItem(screenshot(i), at(i)));
                if (i == 1) {
                    seed.waitForPendingSaves();
                    olderCopy = readFile(storePath());
                }
            }
            seed.waitForPendingSaves();
            QVERIFY(!seed.lastSaveError());
        }
        AppDelegate& delegate = launch();
        QCOMPARE(delegate.store().items().size(), 40);

        static QStringList* logged = nullptr;
        QStringList log;
        logged = &log;
        const QtMessageHandler previous =
            qInstallMessageHandler([](QtMsgType, const QMessageLogContext& context, const QString& message) {
                if (logged && QLatin1String(context.category) == QLatin1String("quillomare.shell"))
                    logged->append(message);
            });
        const auto restore = qScopeGuard([&] {
            qInstallMessageHandler(previous);
            logged = nullptr;
        });

        writeFile(storePath(), olderCopy);
        delegate.handleCapture(captured(textItem(QStringLiteral("copied afterwards"), at(50))));
        settle();
        QTRY_VERIFY_WITH_TIMEOUT(!m_island->messages.isEmpty() && !log.isEmpty(), 20'000);
        QCOMPARE(delegate.store().items().size(), 3);
        const QString message = m_island->messages.last();

        // The island as the user sees it: the message flashed on the expanded island.
        IslandViewTestRig rig(QRect(297, 0, 185, 32), chinese);
        rig.canvas->show();
        rig.expand();
        rig.view->configure({textItem(QStringLiteral("copied afterwards"), at(50))}, CloudSyncState::idle(), message);
        const IslandToastView* toast = rig.view->transientToast();
        QVERIFY(toast && !toast->isHidden());
        const QString shown = toast->text();
        QVERIFY2(shown.startsWith(Language::text(QStringLiteral("38 张图片已从历史中移除"),
                                                 QStringLiteral("38 images were removed from the history"))),
                 qPrintable(shown));
        const QStringList lines = toast->shownLines();
        QVERIFY2(lines.size() <= IslandToastView::maximumMessageLines, qPrintable(lines.join(QLatin1Char('|'))));
        auto withoutSpaces = [](QString text) { return text.remove(QRegularExpression(QStringLiteral("\\s"))); };
        QCOMPARE(withoutSpaces(lines.join(QString())), withoutSpaces(shown));

        const QString tooltip = rig.view->headerStack()->toolTip();
        const QString logText = log.join(QLatin1Char('\n'));
        for (int i = 0; i < 40; ++i) {
            QVERIFY2(tooltip.contains(named(i)) == (i >= 2), qPrintable(named(i) + QStringLiteral("\n") + tooltip));
            QVERIFY2(logText.contains(named(i)) == (i >= 2), qPrintable(named(i) + QStringLiteral("\n") + logText));
        }
    }

    void testFailedCaptureSaysSaveFailed()
    {
        AppDelegate& delegate = launch();
        delegate.handleCapture(captured(imageItem(QByteArray(8 * 1024 * 1024 + 1, 'x'), at(0))));
        QVERIFY(m_island->message->startsWith(QStringLiteral("Save failed: Image too large")));
        QCOMPARE(m_island->state.caseOf(), CloudSyncState::Case::failed);
        QCOMPARE(m_island->shows, 1);

        Files::failWritesForTesting(ENOSPC);
        delegate.handleCapture(captured(textItem(QStringLiteral("lost"), at(1))));
        settle();
        QVERIFY2(m_island->message->startsWith(QStringLiteral("Save failed: No space left on device — couldn't write “")) &&
                     m_island->message->endsWith(QStringLiteral("clips.json”")),
                 qPrintable(*m_island->message));
        QVERIFY(m_island->echoes.isEmpty());
    }

    void testCopyActionsMarkTheirOwnWrites()
    {
        AppDelegate& delegate = launch();
        delegate.copyToPasteboard(textItem(QStringLiteral("again"), at(0)));
        QCOMPARE(m_pasteboard.string(), std::optional<QString>(QStringLiteral("again")));
        QCOMPARE(delegate.monitor().lastChangeCount(), m_pasteboard.changeCount());
        QCOMPARE(m_island->message, std::optional<QString>(QStringLiteral("Copied to clipboard")));

        ClipboardItem empty = textItem(QString(), at(0));
        empty.payload = ClipboardPayload::empty();
        const qint64 before = m_pasteboard.changeCount();
        delegate.copyToPasteboard(empty);
        QCOMPARE(m_island->message, std::optional<QString>(QStringLiteral("This item can't be copied")));
        QCOMPARE(m_pasteboard.changeCount(), before);

        delegate.copyCondensedText(textItem(QStringLiteral("  a  b\n\tc "), at(0)));
        QCOMPARE(m_pasteboard.string(), std::optional<QString>(QStringLiteral("a b c")));
        delegate.copyCondensedText(imageItem("png", at(0)));
        QCOMPARE(m_island->message, std::optional<QString>(QStringLiteral("Only text can be condensed")));
        QCOMPARE(m_island->historySwitches, 1);

        delegate.copyCombinedItems({textItem(QStringLiteral("x"), at(0)), textItem(QStringLiteral("y"), at(1)),
                                    imageItem("png", at(2))},
                                   CombinedPasteFormat::newline);
        QVERIFY(m_island->message->endsWith(QStringLiteral(" · 3 items")));

        // The quick preview's copy only speaks; the island neither opens nor closes.
        const int shows = m_island->shows;
        delegate.copyQuickPreviewText(QString());
        QCOMPARE(m_island->message, std::optional<QString>(QStringLiteral("No text selected")));
        delegate.copyQuickPreviewText(QStringLiteral("  "));
        QCOMPARE(m_pasteboard.string(), std::optional<QString>(QStringLiteral("  ")));
        QCOMPARE(m_island->shows, shows);

        // A refused write keeps the count the monitor knows.
        m_pasteboard.setRefusesWrites(true);
        const qint64 known = delegate.monitor().lastChangeCount();
        delegate.copyPlainTextToPasteboard(textItem(QStringLiteral("refused"), at(0)));
        QCOMPARE(m_island->message, std::optional<QString>(QStringLiteral("This item has no copyable text")));
        QCOMPARE(delegate.monitor().lastChangeCount(), known);
    }

    void testDeletePinAndClear()
    {
        AppDelegate& delegate = launch();
        delegate.handleCapture(captured(textItem(QStringLiteral("a"), at(0))));
        delegate.handleCapture(captured(textItem(QStringLiteral("b"), at(1))));
        settle();
        const ClipboardItem b = delegate.store().items().first();

        delegate.togglePinnedHistoryItem(delegate.store().items().last());
        settle();
        QCOMPARE(m_island->message, std::optional<QString>(QStringLiteral("Pinned")));
        QCOMPARE(delegate.store().items().first().preview, QStringLiteral("a"));

        delegate.removeHistoryItem(b);
        settle();
        QCOMPARE(m_island->message, std::optional<QString>(QStringLiteral("Deleted one item")));
        QCOMPARE(delegate.store().items().size(), 1);

        m_desktop->answer = false;
        delegate.clearHistory();
        QCOMPARE(m_desktop->confirmations, QList<qsizetype>{1});
        QCOMPARE(m_island->message, std::optional<QString>(QStringLiteral("Clear history cancelled")));
        QCOMPARE(delegate.store().items().size(), 1);

        m_desktop->answer = true;
        delegate.clearHistory();
        settle();
        QCOMPARE(m_island->message, std::optional<QString>(QStringLiteral("History cleared")));
        QVERIFY(delegate.store().items().isEmpty());
        delegate.clearHistory();
        QCOMPARE(m_island->message, std::optional<QString>(QStringLiteral("No history to clear")));
        QCOMPARE(m_desktop->confirmations.size(), 2);
    }

    // With sync on, clearing also clears the sync folder's copies, and the last word says so.
    void testClearingWithSyncOnClearsTheSyncFolderToo()
    {
        AppDelegate& delegate = launch(/*syncOn=*/true);
        settle();
        delegate.handleCapture(captured(textItem(QStringLiteral("a"), at(0))));
        delegate.handleCapture(captured(textItem(QStringLiteral("b"), at(1))));
        settle();
        m_desktop->answer = true;
        delegate.clearHistory();
        QTRY_VERIFY2(m_island->message == std::optional<QString>(QStringLiteral("Sync folder history cleared")),
                     qPrintable(m_island->messages.join(u'|')));
        QCOMPARE(m_island->messages.mid(m_island->messages.size() - 2),
                 (QStringList{QStringLiteral("History cleared"), QStringLiteral("Sync folder history cleared")}));
        QMutexLocker lock(&m_cloud->mutex);
        QCOMPARE(m_cloud->deletions.size(), 1);
        QCOMPARE(m_cloud->deletions.first().size(), 2);
    }

    // Installations from before the capture echo had the island shown after every copy: the
    // first launch turns that off once, and a later choice of the user stands.
    void testTheSilentCaptureMigrationRunsOnce()
    {
        auto defaults = Platform::UserDefaults::standard();
        defaults->remove(AppDelegate::didMigrateSilentCaptureDefaultKey);
        {
            ClipboardStore seed(storePath());
            seed.updateSettings([](ClipSettings& settings) { settings.showIslandAfterCapture = true; });
            seed.waitForPendingSaves();
        }
        AppDelegate& first = launch();
        QVERIFY(!first.store().settings().showIslandAfterCapture);
        QVERIFY(defaults->value(AppDelegate::didMigrateSilentCaptureDefaultKey).toBool());
        first.store().updateSettings([](ClipSettings& settings) { settings.showIslandAfterCapture = true; });
        first.store().waitForPendingSaves();
        m_delegate.reset();

        AppDelegate& second = launch();
        QVERIFY(second.store().settings().showIslandAfterCapture);
        defaults->remove(AppDelegate::didMigrateSilentCaptureDefaultKey);
    }

    void testIslandActionsReachTheirHandlers()
    {
        launch();
        m_island->actions.onQuit();
        QCOMPARE(m_desktop->quits, 1);
        m_island->actions.onChangeLanguage(L10n::preference());
        QCOMPARE(m_desktop->relaunches, 0);
        m_island->actions.onChangeLanguage(L10n::preference() == AppLanguagePreference::chinese
                                               ? AppLanguagePreference::english
                                               : AppLanguagePreference::chinese);
        QCOMPARE(m_desktop->relaunches, 1);
        m_island->actions.onHide();
        QCOMPARE(m_island->hides, 1);
        // Ctrl+Alt+V from any application opens the island for typing.
        QVERIFY(m_delegate->hotKeyController().isRegistered());
        const int shows = m_island->shows;
        m_hotKeys->press(1);
        QTRY_COMPARE(m_island->shows, shows + 1);
        QCOMPARE(m_island->message, std::optional<QString>(QStringLiteral("Ctrl + Alt + V")));
        // Another application coming to the front collapses the island; our own windows do not.
        m_workspace.activate({QCoreApplication::applicationPid(), QStringLiteral("app.quillomare.Quillomare"), {}});
        m_workspace.activate({4242, QStringLiteral("org.kde.kate"), QStringLiteral("Kate")});
        QTRY_COMPARE(m_island->collapses, 1);
        m_island->actions.onSelectItem(textItem(QStringLiteral("chosen"), at(0)));
        QCOMPARE(m_pasteboard.string(), std::optional<QString>(QStringLiteral("chosen")));
        // Once the delegate is gone, actions do nothing.
        IslandCallbacks actions = m_island->actions;
        m_delegate.reset();
        actions.onQuit();
        QCOMPARE(m_desktop->quits, 1);
    }

    void testSyncPassesRunOneAtATimeAndReport()
    {
        m_cloud->pulled = CloudSyncPullResult(CloudSyncState::idle(),
                                              {textItem(QStringLiteral("from the phone"), at(5)),
                                               textItem(QStringLiteral("also"), at(6))},
                                              {}, {});
        AppDelegate& delegate = launch(/*syncOn=*/true);
        // The launch pass is under way: a second request only shows its reason.
        QVERIFY(delegate.isCloudSyncInFlight());
        delegate.performCloudSync(QStringLiteral("Pulling"), true);
        QCOMPARE(m_island->state.caseOf(), CloudSyncState::Case::syncing);
        settle();
        QCOMPARE(m_island->message, std::optional<QString>(QStringLiteral("Merged 2 items from the sync folder")));
        QCOMPARE(delegate.store().items().size(), 2);
        QCOMPARE(m_cloud->pushes.size(), 1);
        QVERIFY(delegate.hasBackgroundSyncTimer());

        // A quiet pass that changed nothing does not open the island; a failed push is reported.
        m_cloud->pushState = CloudSyncState::failed(QStringLiteral("offline"));
        const int shows = m_island->shows;
        delegate.performCloudSync(std::nullopt, false);
        settle();
        QCOMPARE(m_island->message, std::optional<QString>(QStringLiteral("Folder sync failed: offline")));
        QCOMPARE(m_island->shows, shows);

        // Deleting an exportable entry deletes its cloud copy.
        delegate.removeHistoryItem(delegate.store().items().first());
        settle();
        QTRY_COMPARE(m_cloud->deletions.size(), 1);
    }

    void testRecordsLeftByAPassComeWithTheNextPassSoon()
    {
        // The first pass takes three records and leaves two; nothing else asks for a pass.
        CloudSyncPullResult first(CloudSyncState::idle(),
                                  {textItem(QStringLiteral("one"), at(1)), textItem(QStringLiteral("two"), at(2)),
                                   textItem(QStringLiteral("three"), at(3))},
                                  {}, {});
        first.pendingCount = 2;
        const CloudSyncPullResult second(
            CloudSyncState::idle(), {textItem(QStringLiteral("four"), at(4)), textItem(QStringLiteral("five"), at(5))},
            {}, {});
        {
            QMutexLocker lock(&m_cloud->mutex);
            m_cloud->scriptedPulls = {first, second};
        }
        AppDelegate& delegate = launch(/*syncOn=*/true);
        QTRY_COMPARE(delegate.store().items().size(), 5);
        settle();
        QTRY_COMPARE(m_island->message, std::optional<QString>(QStringLiteral("Merged 2 items from the sync folder")));
        QMutexLocker lock(&m_cloud->mutex);
        QCOMPARE(m_cloud->pullCount, 2);
    }

    void testAMergeWhoseWriteFailsIsReportedAsAFailure()
    {
        m_cloud->pulled = CloudSyncPullResult(CloudSyncState::idle(), {textItem(QStringLiteral("from the phone"), at(5))},
                                              {}, {});
        launch(/*syncOn=*/true);
        // The launch pass is pulling; the merge's write is what fails.
        Files::failWritesForTesting(ENOSPC);
        settle();
        QVERIFY2(m_island->message && m_island->message->startsWith(QStringLiteral("Failed to merge sync folder history: ")),
                 qPrintable(m_island->message.value_or(QString())));
        QCOMPARE(m_island->state.caseOf(), CloudSyncState::Case::failed);
    }

    void testPinningAnEntryThatIsGoneReportsNoOldFailure()
    {
        AppDelegate& delegate = launch();
        Files::failWritesForTesting(ENOSPC);
        delegate.handleCapture(captured(textItem(QStringLiteral("not saved"), at(1))));
        settle();
        QVERIFY(m_island->message->startsWith(QStringLiteral("Save failed: ")));
        delegate.togglePinnedHistoryItem(textItem(QStringLiteral("never stored"), at(2)));
        QCOMPARE(m_island->message, std::optional<QString>(QStringLiteral("Unpinned")));
    }

    void testTheSetAsideHistoryIsNamedBeforeOtherInstancesWord()
    {
        writeFile(storePath(), "{ damaged");
        AppDelegate& delegate = launch();
        const std::optional<QString> message = delegate.combinedLaunchMessage(QStringLiteral("The session bus is unreachable"));
        QVERIFY(message);
        QVERIFY2(message->startsWith(QStringLiteral("History file was corrupted; a backup was kept: clips.corrupt-")) &&
                     message->endsWith(QStringLiteral("; The session bus is unreachable")),
                 qPrintable(*message));
        QCOMPARE(delegate.combinedLaunchMessage(std::nullopt), delegate.launchMessage());
    }

    void testAnInstanceWhoseDataFolderIsTakenSaysSoAndTouchesNothing()
    {
        // An instance in another desktop session with the same home: its bus is another, so the
        // take-over never reached it, and it holds the folder.
        {
            ClipboardStore seed(storePath());
            seed.add(textItem(QStringLiteral("saved by the other session"), at(0)));
            seed.waitForPendingSaves();
        }
        const QString folder = QFileInfo(storePath()).absolutePath();
        auto other = std::make_unique<Platform::DataFolderLock>(folder);
        QCOMPARE(other->state(), Platform::DataFolderLock::State::held);
        const QDir::Filters everything = QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot;
        const QStringList filesBefore = QDir(folder).entryList(everything, QDir::Name);
        const QByteArray historyBefore = readFile(storePath());

        QTest::ignoreMessage(QtCriticalMsg, QRegularExpression(QStringLiteral("already running in another session")));
        m_island = nullptr;
        AppDelegate& delegate = launch();
        QCOMPARE(m_desktop->refusals.size(), 1);
        QCOMPARE(m_desktop->refusals.first().first, QStringLiteral("Quillomare is already running in another session"));
        QVERIFY2(m_desktop->refusals.first().second.contains(Files::shortPath(folder)),
                 qPrintable(m_desktop->refusals.first().second));
        // Nothing was started that reads the clipboard or the folder, or that a user would use.
        QVERIFY(!m_island);
        QVERIFY(m_hotKeys->registered.isEmpty());
        Platform::PasteboardItem copy;
        copy.setData("copied in this session", Platform::PasteboardType::string);
        m_pasteboard.simulateExternalCopy({copy});
        QCoreApplication::processEvents();
        delegate.applicationWillTerminate();
        QCOMPARE(QDir(folder).entryList(everything, QDir::Name), filesBefore);
        QCOMPARE(readFile(storePath()), historyBefore);
        m_delegate.reset();

        // Once the other has ended, an instance runs; in Chinese the refusal says so in Chinese.
        Language::setIsChineseForTesting(true);
        QCOMPARE(AppDelegate::dataFolderInUseTitle(), QStringLiteral("Quillomare 已在另一个会话中运行"));
        Language::setIsChineseForTesting(false);
        other.reset();
        launch();
        QCOMPARE(m_desktop->refusals.size(), 1);
        QVERIFY(m_island);
        QCOMPARE(m_delegate->store().items().first().payload.textValue(), QStringLiteral("saved by the other session"));
    }

    void testTwoHomesSharingARecordFolderShareTheirHistory()
    {
        // The real record folder, as a file-sync tool would keep it in step between two machines.
        const QString records = m_dir->filePath(QStringLiteral("shared-records"));
        auto home = [&](const QString& name) {
            const QString path = m_dir->filePath(name + QStringLiteral("/clips.json"));
            ClipboardStore(path).updateSettings([](ClipSettings& settings) { settings.cloudSyncEnabled = true; });
            AppDelegateEnvironment environment;
            environment.pasteboard = &m_pasteboard;
            environment.workspace = &m_workspace;
            environment.instances = std::make_shared<Platform::MemoryInstanceRegistry>();
            environment.storeFileURL = path;
            environment.shelfFileURL = m_dir->filePath(name + QStringLiteral("/shelf-sessions.json"));
            environment.makeIsland = [] { return std::make_unique<FakeIsland>(); };
            environment.desktop = m_desktop;
            environment.makeSyncService = [records](const ClipSettings& settings) {
                return std::make_shared<CloudKitSyncService>(settings.resolvedCloudContainerIdentifier(),
                                                             settings.syncRichContentToICloud, records);
            };
            auto delegate = std::make_unique<AppDelegate>(environment);
            delegate->applicationDidFinishLaunching();
            return delegate;
        };
        auto settled = [](AppDelegate& delegate) {
            delegate.store().waitForPendingSaves();
            QTRY_VERIFY(!delegate.isCloudSyncInFlight());
        };

        auto first = home(QStringLiteral("first"));
        settled(*first);
        first->handleCapture(captured(textItem(QStringLiteral("copied on the first machine"), at(0))));
        settled(*first);
        QTRY_VERIFY(!first->isCloudSyncInFlight());

        auto second = home(QStringLiteral("second"));
        settled(*second);
        QCOMPARE(second->store().items().size(), 1);
        QCOMPARE(second->store().items().first().payload.textValue(), QStringLiteral("copied on the first machine"));

        // A deletion travels as a tombstone.
        second->removeHistoryItem(second->store().items().first());
        settled(*second);
        second->performCloudSync(std::nullopt, false);
        settled(*second);
        first->performCloudSync(std::nullopt, false);
        settled(*first);
        QVERIFY(first->store().items().isEmpty());
    }

    void testResolvedStateAndOutcomeMessages()
    {
        using S = CloudSyncState;
        QCOMPARE(AppDelegate::resolvedSyncState({S::unavailable(QStringLiteral("u")), S::failed(QStringLiteral("f"))}),
                 S::failed(QStringLiteral("f")));
        QCOMPARE(AppDelegate::resolvedSyncState({S::idle(), S::disabled(), S::syncing()}), S::disabled());
        QCOMPARE(AppDelegate::resolvedSyncState({}), S::idle());
        QCOMPARE(AppDelegate::syncOutcomeMessage(S::idle(), 2, 1), QStringLiteral("Synced 2 items and deleted 1"));
        QCOMPARE(AppDelegate::syncOutcomeMessage(S::idle(), 1, 0), QStringLiteral("Merged 1 item from the sync folder"));
        QCOMPARE(AppDelegate::syncOutcomeMessage(S::idle(), 0, 1), QStringLiteral("Synced deletion of 1 item"));
        Language::setIsChineseForTesting(true);
        QCOMPARE(AppDelegate::syncOutcomeMessage(S::syncing(), 0, 3), QStringLiteral("已同步删除 3 条历史"));
        QCOMPARE(AppDelegate::syncOutcomeMessage(S::unavailable(QStringLiteral("无权限")), 0, 0),
                 QStringLiteral("同步文件夹不可用：无权限"));
    }

    void testSyncOffStartsNothing()
    {
        AppDelegate& delegate = launch();
        delegate.performCloudSync(QStringLiteral("Syncing"), true);
        QVERIFY(!delegate.isCloudSyncInFlight());
        QCOMPARE(m_island->shows, 0);
        QVERIFY(!delegate.hasBackgroundSyncTimer());
        QCOMPARE(delegate.cloudSync().state(), CloudSyncState::unavailable(QStringLiteral("Folder sync is off")));
    }
};

QUILLOMARE_GUI_TEST_MAIN(AppDelegateTest)
#include "tst_appdelegate.moc"
