#include "TestSupport.h"
#include "X11Tools.h"

#include "Island/Kit/IslandIconButton.h"
#include "Island/Panel/IslandPanel.h"
#include "Island/Panel/IslandPanelController.h"
#include "Island/Kit/IslandScheduler.h"

#include <Platform/MotionPreferences.h>
#include <Platform/X11RawButtonMonitor.h>
#include <Platform/X11WindowShape.h>
#include <QuillomareCore/Language.h>

#include <QApplication>
#include <QDeadlineTimer>
#include <QLineEdit>
#include <QMouseEvent>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QScreen>
#include <QWindow>

#include <xcb/shape.h>

#include <memory>

using namespace QuillomareMac;
namespace Language = QuillomareCore::Language;
using Mode = IslandView::DisplayMode;

namespace {

QByteArray run(const QString& program, const QStringList& arguments)
{
    int exitCode = -1;
    const QByteArray output = QuillomareTest::runWhileServingEvents(program, arguments, {}, 10000, &exitCode);
    if (exitCode != 0)
        qWarning("%s failed (%d)", qPrintable(program), exitCode);
    return output;
}

QByteArray xdotool(const QStringList& arguments)
{
    return run(QStringLiteral("xdotool"), arguments);
}

quint64 activeWindow()
{
    const QByteArray output =
        run(QStringLiteral("xprop"), {QStringLiteral("-root"), QStringLiteral("_NET_ACTIVE_WINDOW")});
    const auto match = QRegularExpression(QStringLiteral("0x([0-9a-fA-F]+)")).match(QString::fromLatin1(output));
    return match.hasMatch() ? match.captured(1).toULongLong(nullptr, 16) : 0;
}

quint64 windowManagerCheck()
{
    return QuillomareTest::windowManagerCheck(
        [](const QStringList& arguments) { return run(QStringLiteral("xprop"), arguments); });
}

// The top-level window under the pointer at (x, y), as the X server stacks them.
quint64 windowAt(int x, int y)
{
    xdotool({QStringLiteral("mousemove"), QString::number(x), QString::number(y)});
    const QByteArray output = xdotool({QStringLiteral("getmouselocation"), QStringLiteral("--shell")});
    const auto match = QRegularExpression(QStringLiteral("WINDOW=(\\d+)")).match(QString::fromLatin1(output));
    return match.hasMatch() ? match.captured(1).toULongLong() : 0;
}

// The place among the root's children, top first, of the one that is or holds `window`.
int stackingIndex(quint64 window)
{
    static const QRegularExpression id(QStringLiteral("^(\\s*)(0x[0-9a-f]+)"));
    int top = -1;
    qsizetype rootIndent = -1;
    const QString tree = QString::fromLocal8Bit(run(QStringLiteral("xwininfo"), {QStringLiteral("-root"), QStringLiteral("-tree")}));
    for (const QString& line : tree.split(QLatin1Char('\n'))) {
        const QRegularExpressionMatch match = id.match(line);
        if (!match.hasMatch())
            continue;
        if (rootIndent < 0)
            rootIndent = match.capturedLength(1);
        if (match.capturedLength(1) == rootIndent)
            ++top;
        if (match.captured(2).toULongLong(nullptr, 16) == window)
            return top;
    }
    return -1;
}

void click(int x, int y)
{
    xdotool({QStringLiteral("mousemove"), QString::number(x), QString::number(y), QStringLiteral("click"),
             QStringLiteral("1")});
}

// A window of "the program the user works in".
class WorkWindow : public QWidget
{
public:
    WorkWindow() { setWindowTitle(QStringLiteral("work")); }
    int presses = 0;
    quint64 lastPressTime = 0;

protected:
    void mousePressEvent(QMouseEvent* event) override
    {
        ++presses;
        lastPressTime = event->timestamp();
        QWidget::mousePressEvent(event);
    }
};

} // namespace

class TestIslandPanelX11 : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void init();
    void cleanup();

    void collapsedPillSitsAtTheTopCentre();
    void programOpeningKeepsTheActiveWindowAndStaysOnTop();
    void clicksFallThroughWhileTheIslandIgnoresTheMouse();
    void clickOnThePillOpensWhileCopiesKeepArriving();
    void clickOnThePillRightAfterAClickInTheProgramOpens();
    void userOpeningTakesTheKeyboardForTheSearchField();
    void clickInAnotherProgramClosesTheIsland();
    void rawButtonsAreHeardEverywhere();
    void rawClicksSayWhetherTheyReachedThisProgram();
    void rawClicksFollowALeftHandedMapping();
    void aClickHeldBackByAGrabStillReachesThisProgram();
    void headerTooltipStacksAboveTheIsland();
    void tooltipCornersShowWhatIsBeneathWithoutACompositor();
    void echoDuringACollapseShowsNoBlack();

private:
    void launch();
    void showSettingsTooltip(QWidget*& tooltip);
    void settle(int milliseconds = 300);
    void copyArrives();

    std::shared_ptr<ManualIslandScheduler> m_scheduler;
    std::unique_ptr<IslandPanelController> m_controller;
    std::unique_ptr<WorkWindow> m_work;
};

void TestIslandPanelX11::initTestCase()
{
    QCOMPARE(QGuiApplication::platformName(), QStringLiteral("xcb"));
    Language::setIsChineseForTesting(false);
    // A session's window manager may still be starting when the first test runs; until it runs
    // nothing becomes the active window.
    QTRY_VERIFY2_WITH_TIMEOUT(windowManagerCheck() != 0, "a window manager runs on the display", 15000);
}

void TestIslandPanelX11::init()
{
    m_scheduler = std::make_shared<ManualIslandScheduler>();
    IslandScheduler::setSharedForTesting(m_scheduler);
    Platform::MotionPreferences::setReduceMotionForTesting(false);

    // The work window lies under the island's expanded rectangle.
    m_work = std::make_unique<WorkWindow>();
    m_work->setGeometry(500, 100, 900, 500);
    m_work->show();
    // The manager takes a fresh window over in its own time; an activation asked for before that
    // can be lost, so it is asked for again until the window is active (within a bound).
    const quint64 work = m_work->winId();
    QDeadlineTimer deadline(15000);
    while (activeWindow() != work && !deadline.hasExpired()) {
        m_work->activateWindow();
        if (QTest::qWaitFor([&] { return activeWindow() == work; }, 1000))
            break;
    }
    QVERIFY(QTest::qWaitForWindowActive(m_work.get()));
    QCOMPARE(activeWindow(), work);
}

void TestIslandPanelX11::cleanup()
{
    m_controller.reset();
    m_work.reset();
    m_scheduler->advance(5000);
    IslandScheduler::setSharedForTesting(nullptr);
    Platform::MotionPreferences::setReduceMotionForTesting(std::nullopt);
}

void TestIslandPanelX11::settle(int milliseconds)
{
    QTest::qWait(milliseconds);
}

// What the shell does at launch.
void TestIslandPanelX11::launch()
{
    m_controller = std::make_unique<IslandPanelController>();
    m_controller->removeClickMonitors();
    m_controller->installCollapsedClickMonitors();
    m_controller->transition(Mode::collapsed, false);
    m_controller->panel()->orderFrontRegardless();
    QVERIFY(QTest::qWaitForWindowExposed(m_controller->panel()));
}

// Opens the island and lets the pointer enter its settings button, until the button's tooltip
// is on screen.
void TestIslandPanelX11::showSettingsTooltip(QWidget*& tooltip)
{
    m_controller->show(false, false);
    settle();
    IslandIconButton* button = m_controller->islandView()->settingsButton();
    QEnterEvent enter(QPointF(1, 1), QPointF(1, 1), button->mapToGlobal(QPointF(1, 1)));
    QApplication::sendEvent(button, &enter);
    tooltip = button->tooltipWindow();
    QVERIFY(tooltip);
    QVERIFY(QTest::qWaitForWindowExposed(tooltip));
    settle(200);
}

void TestIslandPanelX11::collapsedPillSitsAtTheTopCentre()
{
    launch();
    const QRect available = QGuiApplication::primaryScreen()->availableGeometry();
    QCOMPARE(available.top(), 0); // the session's tray sits at the bottom
    const QRect expected(available.x() + (available.width() - 185 + 1) / 2, available.top() + 6, 185, 32);
    QCOMPARE(m_controller->panel()->geometry(), expected);
    // Where the X server has it, not only where Qt thinks it is.
    const QByteArray geometry = xdotool({QStringLiteral("getwindowgeometry"),
                                         QString::number(m_controller->panel()->winId())});
    QVERIFY2(geometry.contains(QStringLiteral("Position: %1,%2").arg(expected.x()).arg(expected.y()).toLatin1()),
             geometry.constData());
    QVERIFY2(geometry.contains("Geometry: 185x32"), geometry.constData());

    // QUILLOMARE_ISLAND_RENDER_DIR keeps a picture of it for a look.
    const QString keep = qEnvironmentVariable("QUILLOMARE_ISLAND_RENDER_DIR");
    if (!keep.isEmpty()) {
        m_controller->panel()->grab().save(keep + QStringLiteral("/island-x11-collapsed.png"));
        settle(200);
        QGuiApplication::primaryScreen()->grabWindow(0, 560, 0, 800, 160).save(keep + QStringLiteral("/island-x11-screen.png"));
    }
}

void TestIslandPanelX11::programOpeningKeepsTheActiveWindowAndStaysOnTop()
{
    launch();
    const quint64 work = m_work->winId();
    m_controller->show(true, false);
    // The island takes the mouse only where it is drawn: let the opening morph (on the test's
    // clock) reach the expanded island.
    for (int frame = 0; frame < 200 && m_controller->islandView()->hasActiveIslandLayerAnimation(); ++frame)
        m_scheduler->advance(16);
    settle();
    QCOMPARE(m_controller->displayMode(), Mode::expanded);
    QCOMPARE(activeWindow(), work);
    QVERIFY(m_work->isActiveWindow());

    // Above the work window, also after the work window is raised.
    const quint64 panel = m_controller->panel()->winId();
    QCOMPARE(windowAt(960, 200), panel);
    m_work->raise();
    xdotool({QStringLiteral("windowraise"), QString::number(work)});
    settle();
    QCOMPARE(windowAt(960, 200), panel);
    QVERIFY(windowAt(1300, 550) != panel); // the work window's frame, beside the island
    QCOMPARE(activeWindow(), work);

    // Seven seconds later (on the test's clock) it collapses by itself.
    m_scheduler->advance(7000);
    m_scheduler->advance(2000);
    QCOMPARE(m_controller->displayMode(), Mode::collapsed);
    QCOMPARE(activeWindow(), work);
}

void TestIslandPanelX11::clicksFallThroughWhileTheIslandIgnoresTheMouse()
{
    launch();
    const quint64 panel = m_controller->panel()->winId();
    // The echo spreads the panel over the expanded rectangle and lets the mouse through.
    m_controller->flashCaptureEcho(QuillomareCore::CaptureFeedback{});
    settle();
    QCOMPARE(m_controller->panel()->geometry(), QRect(570, 6, 780, 430));
    click(960, 300);
    QTRY_COMPARE(m_work->presses, 1);
    QCOMPARE(m_controller->displayMode(), Mode::collapsed);

    // Once the echo is over (shown 1.57 s, retracted in 0.26 s) the panel takes clicks again
    // (at the pill only).
    m_scheduler->advance(1570 + 260);
    settle();
    QCOMPARE(windowAt(960, 20), panel);

    // And a click on the pill opens the island (and does not reach the work window).
    click(960, 20);
    QTRY_COMPARE(m_controller->displayMode(), Mode::expanded);
    QCOMPARE(m_work->presses, 1);
}

void TestIslandPanelX11::clickOnThePillOpensWhileCopiesKeepArriving()
{
    // A copy every 200 ms keeps the island in its echo (each one starts before the last ends);
    // a click on the pill, during an echo or between two, still opens the island.
    launch();
    QuillomareCore::CaptureFeedback feedback;
    feedback.kind = QuillomareCore::ClipKind::text;
    const auto copyArrives = [&] {
        m_controller->flashCaptureEcho(feedback);
        // The island's clock runs with the copies.
        for (int frame = 0; frame < 12; ++frame) {
            m_scheduler->advance(16);
            QCoreApplication::processEvents();
        }
        settle(8);
    };
    for (int attempt = 0; attempt < 6; ++attempt) {
        for (int copy = 0; copy < 2 + attempt % 3; ++copy)
            copyArrives();
        QVERIFY(m_controller->islandView()->isCaptureEchoShown());
        // Clicked while the copies go on, a little off the pill's centre each time.
        click(950 + 4 * attempt, 16 + 2 * attempt);
        QDeadlineTimer deadline(3000);
        while (m_controller->displayMode() != Mode::expanded && !deadline.hasExpired())
            copyArrives();
        QVERIFY2(m_controller->displayMode() == Mode::expanded, qPrintable(QStringLiteral("attempt %1").arg(attempt)));
        QCOMPARE(m_work->presses, 0);
        // Closed again for the next attempt; every other time the copies come on during the
        // collapse, and the echo takes over from it.
        m_scheduler->advance(1000);
        m_controller->hide();
        if (attempt % 2 == 0) {
            for (int frame = 0; frame < 100 && m_controller->islandView()->hasActiveIslandLayerAnimation(); ++frame)
                m_scheduler->advance(16);
        }
        QCOMPARE(m_controller->displayMode(), Mode::collapsed);
    }
}

// A copy while the island shows its echo, with the island's clock running along.
void TestIslandPanelX11::copyArrives()
{
    QuillomareCore::CaptureFeedback feedback;
    feedback.kind = QuillomareCore::ClipKind::text;
    m_controller->flashCaptureEcho(feedback);
    for (int frame = 0; frame < 12; ++frame) {
        m_scheduler->advance(16);
        QCoreApplication::processEvents();
    }
    settle(8);
}

void TestIslandPanelX11::clickOnThePillRightAfterAClickInTheProgramOpens()
{
    // During an echo the island lets clicks through, so the click on the pill is heard only as a
    // click elsewhere on the display. A click in a window of the program just before it is
    // another click, not this one's twin: both in one go, the second close behind the first.
    launch();
    copyArrives();
    copyArrives();
    QVERIFY(m_controller->islandView()->isCaptureEchoShown());
    xdotool({QStringLiteral("mousemove"), QStringLiteral("1300"), QStringLiteral("550"), QStringLiteral("click"),
             QStringLiteral("1"), QStringLiteral("mousemove"), QStringLiteral("950"), QStringLiteral("16"),
             QStringLiteral("click"), QStringLiteral("1")});
    QDeadlineTimer deadline(3000);
    while (m_controller->displayMode() != Mode::expanded && !deadline.hasExpired())
        copyArrives();
    QCOMPARE(m_controller->displayMode(), Mode::expanded);
    // The first click went to the window it was meant for.
    QCOMPARE(m_work->presses, 1);
}

void TestIslandPanelX11::userOpeningTakesTheKeyboardForTheSearchField()
{
    launch();
    m_controller->show(false, true);
    QTRY_VERIFY(m_controller->panel()->isKeyWindow());
    QTRY_COMPARE(QApplication::focusWidget(), m_controller->islandView()->searchInput());
    xdotool({QStringLiteral("type"), QStringLiteral("abc")});
    QTRY_COMPARE(m_controller->islandView()->searchInput()->text(), QStringLiteral("abc"));

    // Handing the keyboard back: a click in the work window closes the island.
    m_scheduler->advance(1000);
    click(1300, 550);
    QTRY_COMPARE(m_work->presses, 1);
    QCOMPARE(m_controller->displayMode(), Mode::collapsed);
    QTRY_VERIFY(!m_controller->panel()->isKeyWindow());
}

void TestIslandPanelX11::clickInAnotherProgramClosesTheIsland()
{
    launch();
    m_controller->show(false, false);
    settle();
    m_scheduler->advance(1000); // past the opening guard
    // The desktop, outside every window of this program: only the raw XInput events tell.
    click(200, 900);
    QTRY_VERIFY_WITH_TIMEOUT(
        [&] {
            m_scheduler->advance(0);
            return m_controller->displayMode() == Mode::collapsed;
        }(),
        3000);
    QCOMPARE(m_work->presses, 0);
}

void TestIslandPanelX11::rawButtonsAreHeardEverywhere()
{
    using Button = Platform::X11RawButtonMonitor::Button;
    auto monitor = Platform::X11RawButtonMonitor::create();
    QVERIFY2(monitor, "the X server offers XInput 2");
    QList<std::pair<bool, Button>> heard;
    connect(monitor.get(), &Platform::X11RawButtonMonitor::buttonPressed, this,
            [&](Button button) { heard.append({true, button}); });
    connect(monitor.get(), &Platform::X11RawButtonMonitor::buttonReleased, this,
            [&](Button button) { heard.append({false, button}); });
    xdotool({QStringLiteral("mousemove"), QStringLiteral("200"), QStringLiteral("900"), QStringLiteral("click"),
             QStringLiteral("3")});
    // Wheel turns are no clicks.
    xdotool({QStringLiteral("click"), QStringLiteral("4")});
    QTRY_COMPARE(heard.size(), 2);
    settle(200);
    // A right click on the desktop opens the window manager's menu, which holds the keyboard
    // until it closes: later tests' keys would go to it.
    xdotool({QStringLiteral("key"), QStringLiteral("Escape")});
    QCOMPARE(heard, (QList<std::pair<bool, Button>>{{true, Button::right}, {false, Button::right}}));
}

void TestIslandPanelX11::rawClicksSayWhetherTheyReachedThisProgram()
{
    // One click in the work window, one on the desktop: the raw events tell which one a window
    // of this program had, by the server's time of the click.
    using Button = Platform::X11RawButtonMonitor::Button;
    struct Heard
    {
        bool press;
        Button button;
        quint32 time;
        bool reachedUs;
    };
    auto monitor = Platform::X11RawButtonMonitor::create();
    QVERIFY2(monitor, "the X server offers XInput 2");
    QList<Heard> heard;
    connect(monitor.get(), &Platform::X11RawButtonMonitor::buttonPressed, this,
            [&](Button button, quint32 time, bool reachedUs) {
                heard.append({true, button, time, reachedUs});
            });
    connect(monitor.get(), &Platform::X11RawButtonMonitor::buttonReleased, this,
            [&](Button button, quint32 time, bool reachedUs) {
                heard.append({false, button, time, reachedUs});
            });
    xdotool({QStringLiteral("mousemove"), QStringLiteral("1300"), QStringLiteral("550"), QStringLiteral("click"),
             QStringLiteral("1"), QStringLiteral("mousemove"), QStringLiteral("200"), QStringLiteral("900"),
             QStringLiteral("click"), QStringLiteral("1")});
    QTRY_COMPARE(heard.size(), 4);
    QCOMPARE(m_work->presses, 1);
    const QList<bool> presses{heard[0].press, heard[1].press, heard[2].press, heard[3].press};
    QCOMPARE(presses, (QList<bool>{true, false, true, false}));
    for (const Heard& click : heard)
        QCOMPARE(click.button, Button::left);
    QCOMPARE(heard[0].time, quint32(m_work->lastPressTime));
    QVERIFY(heard[0].reachedUs);
    QVERIFY(heard[1].reachedUs);
    QVERIFY(!heard[2].reachedUs);
    QVERIFY(!heard[3].reachedUs);
    QVERIFY(heard[2].time >= heard[1].time);
}

void TestIslandPanelX11::rawClicksFollowALeftHandedMapping()
{
    // A left-handed user swaps the first and third buttons: the device's first button is then
    // the right one, for the raw events as for the program's windows.
    using Button = Platform::X11RawButtonMonitor::Button;
    auto monitor = Platform::X11RawButtonMonitor::create();
    QVERIFY2(monitor, "the X server offers XInput 2");
    QList<std::tuple<bool, Button, bool>> heard;
    connect(monitor.get(), &Platform::X11RawButtonMonitor::buttonPressed, this,
            [&](Button button, quint32, bool reachedUs) {
                heard.append({true, button, reachedUs});
            });
    connect(monitor.get(), &Platform::X11RawButtonMonitor::buttonReleased, this,
            [&](Button button, quint32, bool reachedUs) {
                heard.append({false, button, reachedUs});
            });

    xcb_connection_t* connection = qGuiApp->nativeInterface<QNativeInterface::QX11Application>()->connection();
    const auto setMapping = [connection](const QByteArray& map) {
        xcb_set_pointer_mapping_reply_t* reply = xcb_set_pointer_mapping_reply(
            connection,
            xcb_set_pointer_mapping(connection, uint8_t(map.size()), reinterpret_cast<const uint8_t*>(map.constData())),
            nullptr);
        const bool done = reply && reply->status == XCB_MAPPING_STATUS_SUCCESS;
        std::free(reply);
        return done;
    };
    xcb_get_pointer_mapping_reply_t* current =
        xcb_get_pointer_mapping_reply(connection, xcb_get_pointer_mapping(connection), nullptr);
    QVERIFY(current);
    const QByteArray original(reinterpret_cast<const char*>(xcb_get_pointer_mapping_map(current)),
                              xcb_get_pointer_mapping_map_length(current));
    std::free(current);
    QVERIFY(original.size() >= 3);
    QByteArray swapped = original;
    std::swap(swapped[0], swapped[2]);
    QVERIFY(setMapping(swapped));
    const auto restore = qScopeGuard([&] { setMapping(original); });

    click(1300, 550);
    QTRY_COMPARE(heard.size(), 2);
    QCOMPARE(m_work->presses, 1);
    QCOMPARE(heard, (QList<std::tuple<bool, Button, bool>>{{true, Button::right, true}, {false, Button::right, true}}));
}

void TestIslandPanelX11::aClickHeldBackByAGrabStillReachesThisProgram()
{
    // A window manager that acts on clicks in the windows it manages grabs them and lets them
    // through after (openbox focuses a window that way). Until it does, the click seems to have
    // gone nowhere; it must not be taken for a click elsewhere.
    auto monitor = Platform::X11RawButtonMonitor::create();
    QVERIFY2(monitor, "the X server offers XInput 2");
    QList<std::pair<bool, bool>> heard;
    connect(monitor.get(), &Platform::X11RawButtonMonitor::buttonPressed, this,
            [&](Platform::X11RawButtonMonitor::Button, quint32, bool reachedUs) {
                heard.append({true, reachedUs});
            });
    connect(monitor.get(), &Platform::X11RawButtonMonitor::buttonReleased, this,
            [&](Platform::X11RawButtonMonitor::Button, quint32, bool reachedUs) {
                heard.append({false, reachedUs});
            });

    int screenNumber = 0;
    xcb_connection_t* holder = xcb_connect(nullptr, &screenNumber);
    const auto disconnect = qScopeGuard([holder] { xcb_disconnect(holder); });
    QVERIFY(!xcb_connection_has_error(holder));
    xcb_screen_iterator_t screens = xcb_setup_roots_iterator(xcb_get_setup(holder));
    for (int i = 0; i < screenNumber; ++i)
        xcb_screen_next(&screens);
    // On the root, so that it comes before the window manager's own grabs.
    xcb_generic_error_t* refused = xcb_request_check(
        holder, xcb_grab_button_checked(holder, 0, screens.data->root, XCB_EVENT_MASK_BUTTON_PRESS, XCB_GRAB_MODE_SYNC,
                                        XCB_GRAB_MODE_ASYNC, XCB_NONE, XCB_NONE, XCB_BUTTON_INDEX_1, 0));
    QVERIFY2(!refused, "the button is free to grab");

    click(1300, 550);
    bool held = false;
    const auto holderGotThePress = [&] {
        while (xcb_generic_event_t* event = xcb_poll_for_event(holder)) {
            held = held || (event->response_type & 0x7f) == XCB_BUTTON_PRESS;
            std::free(event);
        }
        return held;
    };
    QTRY_VERIFY_WITH_TIMEOUT(holderGotThePress(), 5000);
    // Held for a while (as a busy window manager might): nothing is said of the click yet.
    settle(150);
    QCOMPARE(heard.size(), 0);
    xcb_allow_events(holder, XCB_ALLOW_REPLAY_POINTER, XCB_CURRENT_TIME);
    xcb_ungrab_button(holder, XCB_BUTTON_INDEX_1, screens.data->root, 0);
    xcb_flush(holder);
    QTRY_COMPARE(heard.size(), 2);
    QCOMPARE(heard, (QList<std::pair<bool, bool>>{{true, true}, {false, true}}));
    QCOMPARE(m_work->presses, 1);
}

void TestIslandPanelX11::headerTooltipStacksAboveTheIsland()
{
    launch();
    QWidget* tooltip = nullptr;
    showSettingsTooltip(tooltip);
    if (QTest::currentTestFailed())
        return;
    const int island = stackingIndex(m_controller->panel()->winId());
    const int bubble = stackingIndex(tooltip->winId());
    QVERIFY(island >= 0 && bubble >= 0);
    QVERIFY2(bubble < island, qPrintable(QStringLiteral("tooltip %1, island %2").arg(bubble).arg(island)));
}

void TestIslandPanelX11::tooltipCornersShowWhatIsBeneathWithoutACompositor()
{
    launch();
    const auto shape = Platform::X11WindowShape::create(m_controller->panel()->windowHandle());
    QVERIFY(shape);
    if (shape->compositingManagerRunning())
        QSKIP("a compositing manager blends the bubble's corners itself");
    QWidget* tooltip = nullptr;
    showSettingsTooltip(tooltip);
    if (QTest::currentTestFailed())
        return;
    const QRect frame = tooltip->geometry();
    const QRect local(QPoint(0, 0), frame.size());
    const QList<QPoint> corners{local.topLeft(), local.topRight(), local.bottomLeft(), local.bottomRight()};

    // The window is cut to the bubble: no corner pixel is part of it.
    const QRegion bounding = QuillomareTest::serverShape(tooltip->winId(), XCB_SHAPE_SK_BOUNDING);
    QVERIFY(bounding.contains(local.center()));
    for (const QPoint& corner : corners)
        QVERIFY2(!bounding.contains(corner), qPrintable(QStringLiteral("%1,%2").arg(corner.x()).arg(corner.y())));

    // On screen the corners show what lies beneath the bubble, as without it.
    QScreen* screen = QGuiApplication::primaryScreen();
    const QImage shown = screen->grabWindow(0, frame.x(), frame.y(), frame.width(), frame.height()).toImage();
    m_controller->islandView()->settingsButton()->hideCustomTooltip();
    settle(200);
    const QImage beneath = screen->grabWindow(0, frame.x(), frame.y(), frame.width(), frame.height()).toImage();
    QCOMPARE(shown.size(), beneath.size());
    for (const QPoint& corner : corners)
        QCOMPARE(shown.pixelColor(corner).name(), beneath.pixelColor(corner).name());
    int differing = 0;
    for (int y = 0; y < shown.height(); ++y) {
        for (int x = 0; x < shown.width(); ++x)
            differing += shown.pixel(x, y) != beneath.pixel(x, y);
    }
    QVERIFY2(differing > 50, "the bubble was on screen");
}

void TestIslandPanelX11::echoDuringACollapseShowsNoBlack()
{
    // A copy 0.05 s after the click that collapsed the island: the echo takes over from the
    // collapsing surface. Without a compositing manager the window shows exactly its shape, and
    // any part of that shape the island does not paint shows black (its surfaces are dark, never
    // pure black). Over the work window, no frame may show any.
    launch();
    const auto shape = Platform::X11WindowShape::create(m_controller->panel()->windowHandle());
    QVERIFY(shape);
    if (shape->compositingManagerRunning())
        QSKIP("a compositing manager blends what the window does not paint");
    m_controller->show(false, false);
    m_scheduler->advance(1500);
    QTRY_VERIFY(!m_controller->islandView()->hasActiveIslandLayerAnimation());
    m_controller->transition(Mode::collapsed, true);
    m_scheduler->advance(50);
    QuillomareCore::CaptureFeedback feedback;
    feedback.kind = QuillomareCore::ClipKind::text;
    m_controller->flashCaptureEcho(feedback);

    QScreen* screen = QGuiApplication::primaryScreen();
    const auto blackPixels = [&] {
        const QRect area = m_controller->panel()->geometry() & m_work->geometry() & screen->geometry();
        const QImage image = screen->grabWindow(0, area.x(), area.y(), area.width(), area.height()).toImage();
        int black = 0;
        for (int y = 0; y < image.height(); ++y) {
            for (int x = 0; x < image.width(); ++x)
                black += (image.pixel(x, y) & 0xffffff) == 0;
        }
        return black;
    };
    int frames = 0;
    for (int frame = 0; frame < 12; ++frame, m_scheduler->advance(24)) {
        // Each frame stays until the clock moves on: it is looked at once the window has taken
        // its shape and the island has painted it.
        QTRY_VERIFY(m_controller->panel()->islandShape() == m_controller->canvasView()->islandShape());
        QCoreApplication::processEvents();
        QCoreApplication::processEvents();
        const int black = blackPixels();
        QVERIFY2(black == 0, qPrintable(QStringLiteral("frame %1: %2 black pixels").arg(frame).arg(black)));
        ++frames;
    }
    QCOMPARE(frames, 12);
}

QUILLOMARE_GUI_TEST_MAIN(TestIslandPanelX11)
#include "tst_islandpanel_x11.moc"
