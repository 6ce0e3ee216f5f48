// The delegate's shelf actions with the island and the application object replaced by recording
// fakes; pasteboards live in memory and the shelf file in a temporary folder.

#include "Pasteboard/ClipboardMonitor.h"
#include "Shelf/ShelfPasteboard.h"
#include "Shelf/ShelfSessionStore.h"
#include "Shell/AppDelegate.h"
#include "Shell/GlobalHotKeyController.h"

#include "AppDelegateFakes.h"
#include "TestSupport.h"

#include <Platform/GlobalHotKeys.h>
#include <Platform/InstanceRegistry.h>
#include <Platform/Pasteboard.h>
#include <Platform/SharingServiceKdeConnect.h>
#include <Platform/Workspace.h>
#include <QuillomareCore/Files.h>
#include <QuillomareCore/Language.h>

#include <QApplication>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QTemporaryDir>

#include <cerrno>

using namespace QuillomareCore;
using namespace QuillomareMac;
using namespace QuillomareTest;
using Platform::PasteboardItem;

namespace {

PasteboardItem uriList(const QList<QUrl>& urls)
{
    QByteArray list;
    for (const QUrl& url : urls)
        list += url.toEncoded() + "\r\n";
    PasteboardItem item;
    item.setData(list, Platform::PasteboardType::uriList);
    return item;
}

PasteboardItem text(const QString& value)
{
    PasteboardItem item;
    item.setData(value.toUtf8(), Platform::PasteboardType::string);
    return item;
}

QList<QUrl> links(int count, int first = 0)
{
    QList<QUrl> urls;
    for (int i = first; i < first + count; ++i)
        urls.append(QUrl(QStringLiteral("https://example.org/page/%1").arg(i)));
    return urls;
}

} // namespace

class AppDelegateShelfTest : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<QTemporaryDir> m_dir;
    Platform::MemoryPasteboard m_pasteboard;
    std::shared_ptr<Platform::MemoryWorkspace> m_workspace;
    std::shared_ptr<Platform::MemoryGlobalHotKeys> m_hotKeys;
    std::shared_ptr<FakeDesktop> m_desktop;
    FakeIsland* m_island = nullptr;
    std::unique_ptr<AppDelegate> m_delegate;

    void launch()
    {
        AppDelegateEnvironment environment =
            fakeDelegateEnvironment(m_dir->path(), m_pasteboard, *m_workspace, &m_island);
        environment.hotKeys = m_hotKeys;
        environment.desktop = m_desktop;
        m_delegate = std::make_unique<AppDelegate>(environment);
        m_delegate->applicationDidFinishLaunching();
    }

    QString shelfPath() const { return m_dir->filePath(QStringLiteral("Quillomare/shelf-sessions.json")); }

    // Lets the shelf's write finish and its outcome reach the island.
    void settle()
    {
        m_delegate->shelfSessionStore().waitForPendingSaves();
        QCoreApplication::processEvents();
    }

    void drop(const QList<PasteboardItem>& items)
    {
        Platform::MemoryPasteboard source;
        source.writeItems(items);
        m_island->actions.onShelfDropPasteboard(source);
        settle();
    }

    QList<ShelfItem> shownItems() const
    {
        for (const ShelfSession& session : m_island->shelfSessions) {
            if (session.id == m_island->selectedShelfSessionID)
                return session.items;
        }
        return {};
    }

    QString shelfMessage() const { return m_island->shelfMessage.value_or(QString()); }

private Q_SLOTS:
    void init()
    {
        m_dir = std::make_unique<QTemporaryDir>();
        m_workspace = std::make_shared<Platform::MemoryWorkspace>();
        Platform::Workspace::setSharedForTesting(m_workspace);
        m_hotKeys = std::make_shared<Platform::MemoryGlobalHotKeys>();
        m_desktop = std::make_shared<FakeDesktop>();
        Language::setIsChineseForTesting(false);
        launch();
    }

    void cleanup()
    {
        Files::failWritesForTesting(0);
        m_delegate.reset();
    }

    void testDroppedFilesGoToTheSelectedSessionAndTheFile()
    {
        const QString first = m_dir->filePath(QStringLiteral("report.pdf"));
        const QString second = m_dir->filePath(QStringLiteral("photos"));
        writeFile(first, "pdf");
        QVERIFY(QDir().mkpath(second));
        const int shows = m_island->shows;

        drop({uriList({QUrl::fromLocalFile(first), QUrl::fromLocalFile(second)})});

        QCOMPARE(shelfMessage(), QStringLiteral("Added to Shelf"));
        QCOMPARE(m_island->selectedShelfSessionID, m_delegate->shelfSessionStore().selectedSessionID());
        const QList<ShelfItem> items = shownItems();
        QCOMPARE(items.size(), 2);
        for (const ShelfItem& item : items)
            QVERIFY(item.payload.isFileURLs());
        // Opened on the shelf, and kept open.
        QCOMPARE(m_island->shelfSwitches, 1);
        QCOMPARE(m_island->shows, shows + 1);
        QCOMPARE(ShelfSessionStore(shelfPath()).currentSession().items.size(), 2);
    }

    void testASessionHoldsThirtyItems_data()
    {
        QTest::addColumn<int>("held");
        QTest::addColumn<int>("dropped");
        QTest::addColumn<bool>("chinese");
        QTest::addColumn<int>("expectedCount");
        QTest::addColumn<QString>("expectedMessage");
        QTest::newRow("room for all") << 27 << 3 << false << 30 << QStringLiteral("Added to Shelf");
        QTest::newRow("room for one") << 29 << 3 << false << 30 << QStringLiteral("Shelf is full — added 1 item");
        QTest::newRow("room for one, Chinese") << 29 << 3 << true << 30 << QStringLiteral("暂存架已满，已加入 1 项");
        QTest::newRow("full") << 30 << 1 << false << 30 << QStringLiteral("Shelf is full — clear some items first");
    }

    void testASessionHoldsThirtyItems()
    {
        QFETCH(int, held);
        QFETCH(int, dropped);
        QFETCH(bool, chinese);
        QFETCH(int, expectedCount);
        QFETCH(QString, expectedMessage);
        drop({uriList(links(held))});
        QCOMPARE(shownItems().size(), held);

        Language::setIsChineseForTesting(chinese);
        drop({uriList(links(dropped, 100))});
        QCOMPARE(shelfMessage(), expectedMessage);
        QCOMPARE(shownItems().size(), expectedCount);
    }

    void testUnreadableDropsSayWhy()
    {
        drop({});
        QCOMPARE(shelfMessage(), QStringLiteral("This dropped content isn't supported"));

        // The reader's own reason wins over the general one.
        const QList<PasteboardItem> gone{uriList({QUrl::fromLocalFile(m_dir->filePath(QStringLiteral("gone.txt")))})};
        Platform::MemoryPasteboard source;
        source.writeItems(gone);
        const std::optional<QString> reason = ShelfPasteboardReader::items(source, SensitiveContentDetector()).message;
        QVERIFY(reason && !reason->isEmpty());
        drop(gone);
        QCOMPARE(shelfMessage(), *reason);
        QVERIFY(shownItems().isEmpty());
    }

    void testAFailedWriteIsReported()
    {
        Files::failWritesForTesting(ENOSPC);
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression(QStringLiteral("shelf not saved")));
        drop({text(QStringLiteral("kept in memory"))});
        QVERIFY2(shelfMessage().startsWith(QStringLiteral("Failed to save to Shelf: ")), qPrintable(shelfMessage()));
        QVERIFY(shelfMessage().size() > QStringLiteral("Failed to save to Shelf: ").size());
        // The island shows the shelf as it stands in memory.
        QCOMPARE(shownItems().size(), 1);
    }

    void testSessionsAreCreatedRenamedAndSelected()
    {
        const QUuid first = m_delegate->shelfSessionStore().selectedSessionID();
        const QString untitled = ShelfSessionStore::nextUntitledName(m_delegate->shelfSessionStore().sessions());

        m_desktop->sessionName = std::nullopt;
        m_island->actions.onCreateShelfSession();
        settle();
        QCOMPARE(shelfMessage(), QStringLiteral("New session cancelled"));
        QCOMPARE(m_desktop->namePrompts.last(),
                 std::make_pair(QStringLiteral("New Shelf Session"), QStringLiteral("New Session")));
        QCOMPARE(m_island->shelfSessions.size(), 1);
        // The island makes way for the dialog.
        QCOMPARE(m_island->hides, 1);

        m_desktop->sessionName = QStringLiteral("  ");
        m_island->actions.onCreateShelfSession();
        settle();
        QCOMPARE(shelfMessage(), QStringLiteral("New shelf session created"));
        QCOMPARE(m_island->shelfSessions.size(), 2);
        QCOMPARE(m_island->shelfSessions.first().name, untitled);
        QCOMPARE(m_island->selectedShelfSessionID, m_island->shelfSessions.first().id);

        m_desktop->sessionName = QStringLiteral(" \n ");
        m_island->actions.onRenameShelfSession();
        settle();
        QCOMPARE(shelfMessage(), QStringLiteral("Session name can't be empty"));
        QCOMPARE(m_desktop->namePrompts.last(), std::make_pair(QStringLiteral("Rename Shelf Session"), untitled));
        QCOMPARE(m_island->shelfSessions.first().name, untitled);

        m_desktop->sessionName = std::nullopt;
        m_island->actions.onRenameShelfSession();
        settle();
        QCOMPARE(shelfMessage(), QStringLiteral("Rename cancelled"));

        m_desktop->sessionName = QStringLiteral("  Trip \t");
        m_island->actions.onRenameShelfSession();
        settle();
        QCOMPARE(shelfMessage(), QStringLiteral("Shelf session renamed"));
        QCOMPARE(m_island->shelfSessions.first().name, QStringLiteral("Trip"));

        const int configures = m_island->shelfConfigures;
        m_island->actions.onShelfSessionsChanged(first);
        settle();
        QCOMPARE(m_island->selectedShelfSessionID, first);
        QCOMPARE(m_island->shelfConfigures, configures + 1);
        QCOMPARE(ShelfSessionStore(shelfPath()).selectedSessionID(), first);
    }

    void testItemsAreCopiedRemovedAndCleared()
    {
        drop({text(QStringLiteral("first"))});
        drop({text(QStringLiteral("second"))});
        const QUuid removed = shownItems().last().id;
        // A copy of our own is not taken for a new copy.
        m_island->actions.onCopyShelfItem(shownItems().first());
        QCOMPARE(shelfMessage(), QStringLiteral("Shelf item copied"));
        QCOMPARE(m_pasteboard.string(), std::optional<QString>(QStringLiteral("second")));
        QCOMPARE(m_delegate->monitor().lastChangeCount(), m_pasteboard.changeCount());

        m_island->actions.onRemoveShelfItem(removed);
        settle();
        QCOMPARE(shelfMessage(), QStringLiteral("Removed one shelf item"));
        QCOMPARE(shownItems().size(), 1);
        QCOMPARE(shownItems().first().payload.textValue(), QStringLiteral("second"));

        m_island->actions.onRemoveShelfItem(removed);
        settle();
        QCOMPARE(shelfMessage(), QStringLiteral("Couldn't find this shelf item"));

        m_island->actions.onClearShelf();
        settle();
        QCOMPARE(shelfMessage(), QStringLiteral("Shelf cleared"));
        QVERIFY(shownItems().isEmpty());
        QVERIFY(ShelfSessionStore(shelfPath()).currentSession().items.isEmpty());

        m_island->actions.onClearShelf();
        settle();
        QCOMPARE(shelfMessage(), QStringLiteral("Shelf is already empty"));
    }

    void testBatchActionsReportTheirOutcome_data()
    {
        QTest::addColumn<int>("action");
        QTest::addColumn<bool>("files");
        QTest::addColumn<QString>("expectedMessage");
        QTest::addColumn<QString>("expectedPasteboard");
        QTest::newRow("names") << int(ShelfBatchAction::copyFileNames) << true
                               << QStringLiteral("Copied all file names") << QStringLiteral("a.txt\nb.txt");
        QTest::newRow("no paths") << int(ShelfBatchAction::copyFilePaths) << false << QStringLiteral("No paths to copy")
                                  << QString();
        QTest::newRow("no images") << int(ShelfBatchAction::convertImagesToPNG) << true
                                   << ShelfBatchError::noImages().localizedDescription() << QString();
        QTest::newRow("nothing to zip") << int(ShelfBatchAction::zipFiles) << false
                                        << ShelfBatchError::noFiles().localizedDescription() << QString();
    }

    void testBatchActionsReportTheirOutcome()
    {
        QFETCH(int, action);
        QFETCH(bool, files);
        QFETCH(QString, expectedMessage);
        QFETCH(QString, expectedPasteboard);
        if (files) {
            QList<QUrl> urls;
            for (const QString& name : {QStringLiteral("a.txt"), QStringLiteral("b.txt")}) {
                writeFile(m_dir->filePath(name), "x");
                urls.append(QUrl::fromLocalFile(m_dir->filePath(name)));
            }
            drop({uriList(urls)});
        } else {
            drop({text(QStringLiteral("just text"))});
        }
        const qint64 changeCount = m_pasteboard.changeCount();

        m_island->actions.onBatchShelfItems(shownItems(), ShelfBatchAction(ShelfBatchAction::Value(action)));
        QCOMPARE(shelfMessage(), expectedMessage);
        if (expectedPasteboard.isEmpty()) {
            QCOMPARE(m_pasteboard.changeCount(), changeCount);
        } else {
            QCOMPARE(m_pasteboard.string(), std::optional<QString>(expectedPasteboard));
            QCOMPARE(m_delegate->monitor().lastChangeCount(), m_pasteboard.changeCount());
        }
    }

    // Revealing a shelf item: its file is selected once the island has begun to collapse; with
    // nothing on the session to show it, the shelf says which folder it is in, as the history does.
    void testRevealShowsTheItemOrSaysWhereItIs_data()
    {
        QTest::addColumn<bool>("fileManager");
        QTest::addColumn<bool>("chinese");
        QTest::newRow("file manager") << true << false;
        QTest::newRow("nothing to show it") << false << false;
        QTest::newRow("nothing to show it, Chinese") << false << true;
    }

    void testRevealShowsTheItemOrSaysWhereItIs()
    {
        QFETCH(bool, fileManager);
        QFETCH(bool, chinese);
        m_workspace->acceptsSelectFile = fileManager;
        m_workspace->acceptsViewerSelections = fileManager;
        const QString path = m_dir->filePath(QStringLiteral("report.pdf"));
        writeFile(path, "pdf");
        drop({uriList({QUrl::fromLocalFile(path)})});
        QCOMPARE(shownItems().size(), 1);
        Language::setIsChineseForTesting(chinese);
        const ShelfItem item = shownItems().first();
        const QString stored = item.revealableFileURLs().first().toLocalFile();
        const int hides = m_island->hides;
        const int shelfSwitches = m_island->shelfSwitches;

        m_island->actions.onRevealShelfItem(item);
        QCOMPARE(m_island->hides, hides + 1);
        QTRY_COMPARE(m_workspace->selectedFiles.size(), 1);
        QCOMPARE(m_workspace->selectedFiles.first().first, stored);
        if (fileManager) {
            QCOMPARE(m_island->shelfSwitches, shelfSwitches);
            return;
        }
        QTRY_COMPARE(m_workspace->viewerSelections.size(), 1);
        const QString folder = QFileInfo(stored).absolutePath();
        QCOMPARE(shelfMessage(), chinese ? QStringLiteral("没有可用的文件管理器来显示它，它位于\n") + folder
                                         : QStringLiteral("No file manager is available to show it; it is in\n") +
                                               folder);
        QCOMPARE(m_island->shelfSwitches, shelfSwitches + 1);
        QVERIFY(QFileInfo::exists(stored));
    }

    // Without KDE Connect on this machine a shelf item's send says what is missing.
    void testSendingWithoutKdeConnectSaysItIsNotInstalled()
    {
        const QTemporaryDir emptyBin;
        const QByteArray path = qgetenv("PATH");
        const auto restored = qScopeGuard([path] {
            qputenv("PATH", path);
            Platform::SharingService::setAirDropForTesting(nullptr);
        });
        qputenv("PATH", QFile::encodeName(emptyBin.path()));
        Platform::SharingService::setAirDropForTesting(std::make_shared<Platform::KdeConnectSharingService>());
        drop({text(QStringLiteral("hello"))});
        m_island->actions.onAirDropShelfItem(shownItems().first());
        QCOMPARE(shelfMessage(), QStringLiteral("This shelf item can't be sent: KDE Connect is not installed; "
                                                "install KDE Connect (package kdeconnect) to send items to a phone"));
    }

    // An entry whose stored copy was deleted names the folder its file was in, rather than only
    // that it can't be shown.
    void testRevealOfAnItemWhoseFileIsGoneSaysWhereItWas_data()
    {
        QTest::addColumn<bool>("chinese");
        QTest::newRow("English") << false;
        QTest::newRow("Chinese") << true;
    }

    void testRevealOfAnItemWhoseFileIsGoneSaysWhereItWas()
    {
        QFETCH(bool, chinese);
        const QString path = m_dir->filePath(QStringLiteral("report.pdf"));
        writeFile(path, "pdf");
        drop({uriList({QUrl::fromLocalFile(path)})});
        QTRY_VERIFY(shownItems().size() == 1 &&
                    shownItems().first().payload.fileURLsValue().value(0).contains(QStringLiteral("/ShelfFiles/")));
        const ShelfItem item = shownItems().first();
        const QString stored = item.payload.fileURLsValue().first();
        QVERIFY(QFile::remove(stored));
        Language::setIsChineseForTesting(chinese);

        m_island->actions.onRevealShelfItem(item);
        const QString folder = QFileInfo(stored).absolutePath();
        QCOMPARE(shelfMessage(), chinese ? QStringLiteral("这项内容的文件已不在了，它原来在\n") + folder
                                         : QStringLiteral("This item's file is no longer there; it was in\n") + folder);
        QVERIFY(m_workspace->selectedFiles.isEmpty());
        QVERIFY(m_workspace->viewerSelections.isEmpty());
    }

    void testCtrlAltSAddsTheClipboardToTheShelf()
    {
        QVERIFY(m_delegate->hotKeyController().isRegistered());
        m_pasteboard.simulateExternalCopy({text(QStringLiteral("copied elsewhere"))});
        m_hotKeys->press(2);
        QTRY_COMPARE(shownItems().size(), 1);
        settle();
        QCOMPARE(shownItems().first().payload.textValue(), QStringLiteral("copied elsewhere"));
        QCOMPARE(shelfMessage(), QStringLiteral("Added to Shelf"));
        QCOMPARE(m_island->shelfSwitches, 1);
    }
};

QUILLOMARE_GUI_TEST_MAIN(AppDelegateShelfTest)
#include "tst_appdelegate_shelf.moc"
