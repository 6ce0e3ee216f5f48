#include "TestSupport.h"

#include <Shell/QRCodeWindowController.h>

#include <QuillomareCore/Language.h>

#include <QApplication>
#include <QFontInfo>
#include <QLabel>
#include <QPointer>
#include <QProcess>
#include <QTemporaryDir>

using namespace Qt::StringLiterals;
using namespace QuillomareMac;
namespace Language = QuillomareCore::Language;

namespace {

QLabel* codeView(const QRCodeWindowController* controller)
{
    return controller->window()->findChild<QLabel*>(u"qrCode"_s);
}

void processDeferredDeletes()
{
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
}

} // namespace

class TestQRCodeWindow : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init() { Language::setIsChineseForTesting(true); }

    void cleanup()
    {
        if (QRCodeWindowController::current())
            QRCodeWindowController::current()->window()->close();
        processDeferredDeletes();
        QVERIFY(!QRCodeWindowController::current());
    }

    void theShownCodeScansBackToTheText_data()
    {
        QTest::addColumn<QString>("text");
        QTest::newRow("latin") << u"https://example.org/a?b=1&c=2"_s;
        QTest::newRow("chinese") << u"手机扫码秒传：你好，世界！\n第二行 mixed 123"_s;
        QTest::newRow("long") << QString(u"长文本"_s).repeated(150);
    }

    void theShownCodeScansBackToTheText()
    {
        QFETCH(QString, text);
        QRCodeWindowController* controller = QRCodeWindowController::present(text);
        QVERIFY(controller->window()->isVisible());
        QVERIFY(!codeView(controller)->pixmap().isNull());

        QTemporaryDir folder;
        const QString path = folder.filePath(u"code.png"_s);
        QVERIFY(codeView(controller)->grab().save(path));
        QProcess zbar;
        zbar.start(u"zbarimg"_s, {u"--raw"_s, u"-q"_s, path});
        QVERIFY(zbar.waitForFinished(30000));
        QCOMPARE(zbar.exitCode(), 0);
        QByteArray decoded = zbar.readAllStandardOutput();
        QVERIFY(decoded.endsWith('\n'));
        decoded.chop(1);
        QCOMPARE(QString::fromUtf8(decoded), text);
    }

    void aTextTooLongOpensWithAnEmptySquare()
    {
        const QString text(3000, QLatin1Char('x'));
        QRCodeWindowController* controller = QRCodeWindowController::present(text);
        QVERIFY(controller->window()->isVisible());
        QLabel* code = codeView(controller);
        QVERIFY(code->pixmap().isNull());
        const QImage shown = code->grab().toImage();
        const QRect inner = shown.rect().adjusted(16, 16, -16, -16);
        for (int y = inner.top(); y <= inner.bottom(); y += 8)
            for (int x = inner.left(); x <= inner.right(); x += 8)
                QCOMPARE(shown.pixelColor(x, y), QColor(Qt::white));
        QLabel* caption = controller->window()->findChild<QLabel*>(u"qrCaption"_s);
        QCOMPARE(caption->text(), u"手机扫码秒传"_s);
        // Sizes are the island's points, one to a device-independent pixel, as everywhere else.
        QCOMPARE(QFontInfo(caption->font()).pixelSize(), 15);
        // The text line never widens the window.
        QCOMPARE(controller->window()->size(),
                 QSize(QRCodeWindowController::windowWidth, QRCodeWindowController::windowHeight));
        QVERIFY(controller->window()->findChild<QWidget*>(u"qrText"_s)->width() <= 260);
    }

    void presentingAgainReplacesTheOpenWindow()
    {
        QRCodeWindowController* first = QRCodeWindowController::present(u"one"_s);
        QPointer<QWidget> firstWindow = first->window();
        QRCodeWindowController* second = QRCodeWindowController::present(u"two"_s);
        QCOMPARE(QRCodeWindowController::current(), second);
        QVERIFY(!firstWindow->isVisible());
        processDeferredDeletes();
        QVERIFY(firstWindow.isNull());
        QCOMPARE(QRCodeWindowController::current(), second);

        second->window()->close();
        QVERIFY(!QRCodeWindowController::current());
    }
};

QUILLOMARE_GUI_TEST_MAIN(TestQRCodeWindow)
#include "tst_qrcodewindow.moc"
