#include "TestSupport.h"
#include "X11Tools.h"

#include <Platform/X11PrivateConnection.h>
#include <Platform/X11WindowShape.h>

#include <QGuiApplication>
#include <QRasterWindow>
#include <QRegularExpression>

#include <xcb/shape.h>
#include <xcb/xcb.h>

#include <memory>

using QuillomareTest::serverShape;

class TestX11WindowShape : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase() { QCOMPARE(QGuiApplication::platformName(), QStringLiteral("xcb")); }

    void shapesReachTheServerAsAsked()
    {
        QRasterWindow window;
        window.setGeometry(100, 100, 300, 120);
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        auto shape = Platform::X11WindowShape::create(&window);
        QVERIFY(shape);
        const auto id = xcb_window_t(window.winId());

        const QRegion pill = QRegion(20, 10, 200, 40, QRegion::Ellipse) + QRect(60, 10, 120, 40);
        shape->setInputRegion(pill);
        shape->setBoundingRegion(pill.translated(0, 30));
        shape->checkPendingRequests();
        QCOMPARE(shape->refusedRequests(), 0);
        QCOMPARE(serverShape(id, XCB_SHAPE_SK_INPUT), pill);
        QCOMPARE(serverShape(id, XCB_SHAPE_SK_BOUNDING), pill.translated(0, 30));

        // An empty input region lets every click through; no bounding region gives the window
        // its whole rectangle back.
        shape->setInputRegion(QRegion());
        shape->setBoundingRegion(std::nullopt);
        shape->checkPendingRequests();
        QCOMPARE(shape->refusedRequests(), 0);
        QVERIFY(serverShape(id, XCB_SHAPE_SK_INPUT).isEmpty());
        QCOMPARE(serverShape(id, XCB_SHAPE_SK_BOUNDING), QRegion(0, 0, 300, 120));
    }

    void aRefusedRequestIsReportedNotLost()
    {
        // The window is destroyed behind the object's back (by another client): the server
        // refuses the next shape, and the refusal is told instead of passing unnoticed.
        QRasterWindow window;
        window.setGeometry(100, 100, 200, 80);
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        auto shape = Platform::X11WindowShape::create(&window);
        QVERIFY(shape);
        Platform::X11PrivateConnection other = Platform::X11PrivateConnection::open();
        QVERIFY(other.connection);
        xcb_generic_error_t* error = xcb_request_check(
            other.connection, xcb_destroy_window_checked(other.connection, xcb_window_t(window.winId())));
        QVERIFY(!error);
        xcb_disconnect(other.connection);

        QTest::ignoreMessage(QtWarningMsg,
                             QRegularExpression(QStringLiteral("refused the window's input shape \\(error 3,")));
        shape->setInputRegion(QRegion(0, 0, 10, 10));
        shape->checkPendingRequests();
        QCOMPARE(shape->refusedRequests(), 1);
        // Checked once: nothing is left to report.
        shape->checkPendingRequests();
        QCOMPARE(shape->refusedRequests(), 1);
        window.destroy();
    }
};

QUILLOMARE_GUI_TEST_MAIN(TestX11WindowShape)
#include "tst_x11windowshape_x11.moc"
