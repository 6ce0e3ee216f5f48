// The delegate's recognition, QR, save, share and reveal actions, with the island, the save
// dialog, the file manager and the nearby-device service replaced by recording fakes.

#include "Pasteboard/ClipboardMonitor.h"
#include "Pasteboard/ImageTextRecognizer.h"
#include "Shell/AppDelegate.h"
#include "Shell/QRCodeWindowController.h"

#include "AppDelegateFakes.h"
#include "TestSupport.h"

#include <Platform/GlobalHotKeys.h>
#include <Platform/InstanceRegistry.h>
#include <Platform/Pasteboard.h>
#include <Platform/SharingService.h>
#include <Platform/SharingServiceKdeConnect.h>
#include <Platform/Workspace.h>
#include <QuillomareCore/Language.h>

#include <QApplication>
#include <QBuffer>
#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QPainter>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <QThreadPool>

using namespace QuillomareCore;
using namespace QuillomareMac;
using namespace QuillomareTest;

namespace {

struct FakeSharing final : Platform::SharingService
{
    bool available = false;
    QList<QList<Platform::PasteboardObject>> performed;

    bool isAvailable() const override { return available; }
    bool perform(const QList<Platform::PasteboardObject>& items) override
    {
        performed.append(items);
        return true;
    }
};

QByteArray pngOf(const QString& text)
{
    return QuillomareTest::pngOf(
        textPicture(QSize(700, 160), {{QStringLiteral("DejaVu Sans"), 48, QPoint(40, 100), text}}));
}

QString message(const char* english)
{
    return QString::fromUtf8(english);
}

} // namespace

class AppDelegateFileActionsTest : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<QTemporaryDir> m_dir;
    Platform::MemoryPasteboard m_pasteboard;
    std::shared_ptr<Platform::MemoryWorkspace> m_workspace;
    std::shared_ptr<FakeSharing> m_sharing;
    std::shared_ptr<FakeSavePanel> m_savePanel;
    FakeIsland* m_island = nullptr;
    std::unique_ptr<AppDelegate> m_delegate;

    AppDelegate& launch()
    {
        AppDelegateEnvironment environment =
            fakeDelegateEnvironment(m_dir->path(), m_pasteboard, *m_workspace, &m_island);
        environment.savePanel = m_savePanel;
        m_delegate = std::make_unique<AppDelegate>(environment);
        m_delegate->applicationDidFinishLaunching();
        return *m_delegate;
    }

private Q_SLOTS:
    void init()
    {
        m_dir = std::make_unique<QTemporaryDir>();
        m_pasteboard.clearContents();
        m_workspace = std::make_shared<Platform::MemoryWorkspace>();
        Platform::Workspace::setSharedForTesting(m_workspace);
        m_sharing = std::make_shared<FakeSharing>();
        Platform::SharingService::setAirDropForTesting(m_sharing);
        m_savePanel = std::make_shared<FakeSavePanel>();
        Language::setIsChineseForTesting(false);
    }

    void cleanup()
    {
        m_delegate.reset();
        if (QRCodeWindowController::current())
            QRCodeWindowController::current()->window()->close();
        Platform::SharingService::setAirDropForTesting(nullptr);
    }

    void testTextRecognition_data()
    {
        QTest::addColumn<ClipboardItem>("item");
        QTest::addColumn<QString>("expectedMessage");
        QTest::addColumn<QString>("expectedClipboard");
        QTest::newRow("English text") << imageItem(pngOf(QStringLiteral("Clipboard")), at(0))
                                      << message("Text extracted and copied") << QStringLiteral("Clipboard");
        QTest::newRow("no text") << imageItem(pngOf(QString()), at(0))
                                 << ImageTextRecognizerError::description(ImageTextRecognizerError::Case::noText)
                                 << QStringLiteral("before");
    }

    void testTextRecognition()
    {
        QFETCH(ClipboardItem, item);
        QFETCH(QString, expectedMessage);
        QFETCH(QString, expectedClipboard);
        // On the clipboard before the launch: the monitor leaves it alone.
        m_pasteboard.setString(QStringLiteral("before"));
        AppDelegate& delegate = launch();
        delegate.recognizeText(item);
        QCOMPARE(m_island->message, std::optional<QString>(message("Extracting text from image…")));
        QCOMPARE(m_island->shows, 1);
        QTRY_COMPARE_WITH_TIMEOUT(m_island->message, std::optional<QString>(expectedMessage), 20000);
        QCOMPARE(m_island->shows, 2);
        QCOMPARE(m_pasteboard.string(), std::optional<QString>(expectedClipboard));
        // Our own write, if any: the monitor does not take it for a copy.
        delegate.monitor().poll();
        QVERIFY(delegate.store().items().isEmpty());
    }

    void testAnswerAfterTheDelegateIsGoneReachesNoOne()
    {
        launch().recognizeText(imageItem(pngOf(QStringLiteral("Late")), at(0)));
        m_delegate.reset();
        QThreadPool::globalInstance()->waitForDone();
        QCoreApplication::processEvents();
        QVERIFY(!m_pasteboard.string());
    }

    void testQRCode()
    {
        AppDelegate& delegate = launch();
        delegate.makeQRCode(imageItem(pngOf(QStringLiteral("x")), at(0)));
        QCOMPARE(m_island->message, std::optional<QString>(message("This item cannot be encoded as a QR code")));
        QCOMPARE(m_island->historySwitches, 1);
        QVERIFY(!QRCodeWindowController::current());

        // Of a file entry only the first path is encoded.
        delegate.makeQRCode(fileItem({QStringLiteral("/tmp/one.txt"), QStringLiteral("/tmp/two.txt")}, at(0)));
        QCOMPARE(m_island->hides, 1);
        QVERIFY(QRCodeWindowController::current());
        const auto code = [] {
            return QRCodeWindowController::current()
                ->window()
                ->findChild<QLabel*>(QStringLiteral("qrCode"))
                ->pixmap()
                .toImage();
        };
        const QImage shown = code();
        QRCodeWindowController::present(QStringLiteral("/tmp/one.txt"));
        QCOMPARE(shown, code());
    }

    void testExportToAFile()
    {
        AppDelegate& delegate = launch();
        const QString stamp = at(0).toLocalTime().toString(QStringLiteral("yyyyMMdd-HHmmss"));

        const QString text = QStringLiteral("héllo\n  world ");
        delegate.exportItemToFile(textItem(text, at(0)));
        QCOMPARE(m_island->hides, 1);
        QCOMPARE(m_savePanel->suggestedNames.last(), QStringLiteral("Quillomare-%1.txt").arg(stamp));
        m_savePanel->choose(m_dir->filePath(QStringLiteral("saved.txt")));
        QCOMPARE(readFile(m_dir->filePath(QStringLiteral("saved.txt"))), text.toUtf8());

        const QByteArray png = pngOf(QStringLiteral("x"));
        delegate.exportItemToFile(imageItem(png, at(0)));
        QCOMPARE(m_savePanel->suggestedNames.last(), QStringLiteral("Quillomare-%1.png").arg(stamp));
        m_savePanel->choose(m_dir->filePath(QStringLiteral("saved.png")));
        QCOMPARE(readFile(m_dir->filePath(QStringLiteral("saved.png"))), png);
        QCOMPARE(m_island->shows, 0);

        // A folder that cannot exist: beneath a regular file.
        delegate.exportItemToFile(textItem(text, at(0)));
        m_savePanel->choose(m_dir->filePath(QStringLiteral("saved.txt/inside.txt")));
        QVERIFY2(m_island->message->startsWith(message("Couldn't save “inside.txt”: ")),
                 qPrintable(*m_island->message));
        QCOMPARE(m_island->historySwitches, 1);
        QCOMPARE(m_island->shows, 1);

        // No dialog for files.
        delegate.exportItemToFile(fileItem({m_dir->path()}, at(0)));
        QCOMPARE(m_island->message,
                 std::optional<QString>(message("File items are already on disk — use Show in Folder")));
        QCOMPARE(m_savePanel->suggestedNames.size(), 3);
    }

    void testShare()
    {
        AppDelegate& delegate = launch();
        const ClipboardItem item = textItem(QStringLiteral("hello"), at(0));
        delegate.airDropHistoryItem(item);
        QCOMPARE(m_island->message, std::optional<QString>(message("This item can't be sent via KDE Connect")));
        QCOMPARE(m_island->historySwitches, 1);
        QCOMPARE(m_island->shows, 1);
        QVERIFY(m_sharing->performed.isEmpty());

        m_sharing->available = true;
        delegate.airDropHistoryItem(item);
        QCOMPARE(m_sharing->performed.size(), 1);
        QCOMPARE(m_island->hides, 1);
        QCOMPARE(m_island->shows, 1);
    }

    // Without KDE Connect on this machine the island says what is missing, not only that the
    // item can't go.
    void testShareWithoutKdeConnectSaysItIsNotInstalled()
    {
        const QTemporaryDir emptyBin;
        const QByteArray path = qgetenv("PATH");
        const auto restored = qScopeGuard([path] { qputenv("PATH", path); });
        qputenv("PATH", QFile::encodeName(emptyBin.path()));
        Platform::SharingService::setAirDropForTesting(std::make_shared<Platform::KdeConnectSharingService>());
        AppDelegate& delegate = launch();
        delegate.airDropHistoryItem(textItem(QStringLiteral("hello"), at(0)));
        QCOMPARE(m_island->message,
                 std::optional<QString>(message("This item can't be sent: KDE Connect is not installed; install KDE "
                                                "Connect (package kdeconnect) to send items to a phone")));
        QCOMPARE(m_island->shows, 1);
        Language::setIsChineseForTesting(true);
        delegate.airDropHistoryItem(textItem(QStringLiteral("hello"), at(0)));
        QCOMPARE(m_island->message, std::optional<QString>(QStringLiteral(
                                        "这项内容无法发送：未安装 KDE Connect；安装 KDE Connect（软件包 kdeconnect）后才能发送到手机")));
    }

    void testReveal()
    {
        AppDelegate& delegate = launch();
        const QString path = m_dir->filePath(QStringLiteral("kept.txt"));
        writeFile(path, "x");

        delegate.revealHistoryItem(fileItem({m_dir->filePath(QStringLiteral("missing.txt"))}, at(0)));
        QCOMPARE(m_island->message, std::optional<QString>(message("This item has no file to show")));
        QCOMPARE(m_island->historySwitches, 1);

        delegate.revealHistoryItem(fileItem({path}, at(0)));
        QCOMPARE(m_island->hides, 1);
        QVERIFY(m_workspace->selectedFiles.isEmpty()); // the island collapses first
        QTRY_COMPARE(m_workspace->selectedFiles.size(), 1);
        QCOMPARE(m_workspace->selectedFiles.first().first, path);

        // Gone by the time the file manager would come forward.
        delegate.revealHistoryItem(fileItem({path}, at(0)));
        QFile::remove(path);
        QTRY_COMPARE(m_island->message, std::optional<QString>(message("This item can't be shown in the file manager")));
        QCOMPARE(m_workspace->selectedFiles.size(), 1);

        // An image is exported first; a sensitive one never is.
        ClipboardItem image = imageItem(pngOf(QStringLiteral("x")), at(0));
        delegate.revealHistoryItem(image);
        QTRY_COMPARE(m_workspace->viewerSelections.size(), 1);
        const QString exported = m_workspace->viewerSelections.first().first().toLocalFile();
        QCOMPARE(readFile(exported), image.payload.imagePNGValue());
        image.isSensitive = true;
        delegate.revealHistoryItem(image);
        QCOMPARE(m_island->message, std::optional<QString>(message("This item has no file to show")));
    }

    // A session with no file manager on the bus and nothing to open a folder with: the user is
    // told where the file is instead of a click that does nothing.
    void testRevealWithNothingToShowItSaysWhereTheFileIs_data()
    {
        QTest::addColumn<bool>("image");
        QTest::addColumn<bool>("chinese");
        QTest::newRow("file entry") << false << false;
        QTest::newRow("image entry") << true << false;
        QTest::newRow("file entry, Chinese") << false << true;
    }

    void testRevealWithNothingToShowItSaysWhereTheFileIs()
    {
        QFETCH(bool, image);
        QFETCH(bool, chinese);
        Language::setIsChineseForTesting(chinese);
        m_workspace->acceptsSelectFile = false;
        m_workspace->acceptsViewerSelections = false;
        AppDelegate& delegate = launch();
        const QString path = m_dir->filePath(QStringLiteral("kept.txt"));
        writeFile(path, "x");
        const ClipboardItem item = image ? imageItem(pngOf(QStringLiteral("x")), at(0)) : fileItem({path}, at(0));

        delegate.revealHistoryItem(item);
        QCOMPARE(m_island->hides, 1);
        QTRY_COMPARE(m_workspace->viewerSelections.size(), 1);
        const QString shown = m_workspace->viewerSelections.first().first().toLocalFile();
        const QString folder = QFileInfo(shown).absolutePath();
        QCOMPARE(m_island->message,
                 std::optional<QString>(chinese ? QStringLiteral("没有可用的文件管理器来显示它，它位于\n") + folder
                                                : QStringLiteral("No file manager is available to show it; it is in\n") +
                                                      folder));
        QCOMPARE(m_island->historySwitches, 1);
        QVERIFY(m_island->shows >= 1);
        // Nothing was lost on the way: the file is still there and the history unchanged.
        QVERIFY(QFileInfo::exists(shown));
        QVERIFY(delegate.store().items().isEmpty());
    }
};

QUILLOMARE_GUI_TEST_MAIN(AppDelegateFileActionsTest)
#include "tst_appdelegate_fileactions.moc"
