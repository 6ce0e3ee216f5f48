#include "TestSupport.h"

#include "History/ClipRowView.h"
#include "Island/CaptureEchoHUDView.h"
#include "Island/Kit/IslandListScrollView.h"
#include "Island/Panel/IslandPanel.h"
#include "Island/Panel/IslandPanelController.h"
#include "Island/Kit/IslandScheduler.h"
#include "Island/Kit/IslandToastView.h"
#include "Shelf/ShelfItem.h"

#include <Platform/MotionPreferences.h>
#include <Platform/ScreenInfo.h>
#include <QuillomareCore/ClipSettings.h>
#include <QuillomareCore/ClipboardItem.h>
#include <QuillomareCore/Language.h>

#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QScopeGuard>
#include <QScrollBar>
#include <QWindow>

#include <cmath>
#include <map>
#include <memory>

using namespace QuillomareMac;
namespace Language = QuillomareCore::Language;
using Mode = IslandView::DisplayMode;

namespace {

// Monitors whose clicks the test sends by hand.
class FakeMonitors final : public IslandEventMonitors
{
public:
    struct Entry
    {
        int id;
        bool global;
        unsigned mask;
        std::function<void(const IslandMouseEvent&)> globalHandler;
        std::function<bool(const IslandMouseEvent&)> localHandler;
    };

    class Token final : public IslandEventMonitor
    {
    public:
        Token(FakeMonitors* owner, int id) : m_owner(owner), m_id(id) {}
        ~Token() override { std::erase_if(m_owner->entries, [this](const Entry& e) { return e.id == m_id; }); }

    private:
        FakeMonitors* m_owner;
        int m_id;
    };

    std::unique_ptr<IslandEventMonitor> addGlobalMonitor(unsigned mask,
                                                         std::function<void(const IslandMouseEvent&)> handler) override
    {
        if (refuseGlobal)
            return nullptr;
        entries.push_back({++nextId, true, mask, std::move(handler), nullptr});
        return std::make_unique<Token>(this, nextId);
    }

    std::unique_ptr<IslandEventMonitor> addLocalMonitor(unsigned mask,
                                                        std::function<bool(const IslandMouseEvent&)> handler) override
    {
        entries.push_back({++nextId, false, mask, nullptr, std::move(handler)});
        return std::make_unique<Token>(this, nextId);
    }

    int count(bool global, unsigned mask) const
    {
        return int(std::count_if(entries.begin(), entries.end(),
                                 [&](const Entry& e) { return e.global == global && e.mask == mask; }));
    }

    void sendGlobal(IslandMouseEventKind kind, IslandMouseButton button)
    {
        IslandMouseEvent event;
        event.kind = kind;
        event.button = button;
        const auto snapshot = entries;
        for (const Entry& entry : snapshot) {
            if (entry.global && IslandMouseMask::matches(entry.mask, event))
                entry.globalHandler(event);
        }
    }

    // True when a monitor swallowed it.
    bool sendLocal(IslandMouseEventKind kind, IslandMouseButton button, QWindow* window)
    {
        IslandMouseEvent event;
        event.kind = kind;
        event.button = button;
        event.window = window;
        const auto snapshot = entries;
        for (const Entry& entry : snapshot) {
            if (!entry.global && IslandMouseMask::matches(entry.mask, event) && entry.localHandler(event))
                return true;
        }
        return false;
    }

    std::vector<Entry> entries;
    int nextId = 0;
    bool refuseGlobal = false;
};

// A value to call a view callback with (the pasteboard a drop brings, for the one taking a reference).
template <typename T>
std::remove_cvref_t<T>& sample()
{
    if constexpr (std::is_same_v<std::remove_cvref_t<T>, Platform::Pasteboard>) {
        static Platform::MemoryPasteboard pasteboard;
        return pasteboard;
    } else {
        static std::remove_cvref_t<T> value{};
        return value;
    }
}

// One callback of the view and the same-named one of the controller.
struct RelayCase
{
    std::function<void(IslandView&)> fire;
    std::function<void(IslandPanelController&, int& calls)> arm;
};

template <typename Owner, typename... Args>
RelayCase relayCase(std::function<void(Args...)> IslandCallbacks::*source, std::function<void(Args...)> Owner::*target)
{
    return {[source](IslandView& view) { (view.*source)(sample<Args>()...); },
            [target](IslandPanelController& controller, int& calls) {
                controller.*target = [&calls](Args...) { ++calls; };
            }};
}

// The test's screens, counting how often the pointer is asked for (a round trip to the X server).
class CountingScreens final : public Platform::ScreenInfo
{
public:
    explicit CountingScreens(std::shared_ptr<Platform::FixedScreenInfo> inner) : m_inner(std::move(inner)) {}
    QList<Platform::ScreenDescription> screens() const override { return m_inner->screens(); }
    std::optional<Platform::ScreenDescription> mainScreen() const override { return m_inner->mainScreen(); }
    QPointF pointerLocation() const override
    {
        ++pointerReads;
        return m_inner->pointerLocation();
    }
    double flipReference() const override { return m_inner->flipReference(); }
    mutable int pointerReads = 0;

private:
    std::shared_ptr<Platform::FixedScreenInfo> m_inner;
};

} // namespace

class TestIslandPanelController : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void init();
    void cleanup();

    void startsCollapsedHiddenAndClickThrough();
    void programOpeningHidesAfterSevenSeconds();
    void programOpeningOfAKeyIslandSchedulesNothing();
    void programOpeningStaysOpenUntilALongMessageHasBeenRead();
    void automaticHideWaitsForModalAndForTheUser();
    void userOpeningTakesTheKeyboardAndFocusesSearch();
    void everyOpeningSelectsTheTopRowWithAgesAsOfNow();
    void workspaceCollapseGrace();
    void outsideClickGuards();
    void clickInAnotherWindowOfTheProgramCollapses();
    void modalWindowBlocksClicksAndCollapses();
    void collapsedClicksOpenInsideTheActivationFrameOnly();
    void panelMouseDownHook();
    void collapseSettlesAfterTheMorph();
    void showDuringCollapseWins();
    void transitionIsIdempotent();
    void reduceMotionSwitchesInOneStep();
    void echoGrowsOnTheExpandedStageAndSettlesBack();
    void echoWithReduceMotionEndsAfterOneSecond();
    void expandingEndsTheEchoSilentlyAndShowsNoneWhileOpen();
    void echoWidensToShowALongReasonWhole_data();
    void echoWidensToShowALongReasonWhole();
    void stageFollowsTheScreenOfTheMoment();
    void missingGlobalMonitorIsRetried();
    void applicationMonitorSeesEachClickOnceAndCanSwallowIt();
    void everyViewActionReachesTheController();
    void echoesAskForThePointerOnlyWhenItChoosesTheScreen();
    void clickOnThePillOpensDuringAStreamOfEchoes();

private:
    // `shown`: collapsed and ordered front, as the shell leaves it.
    std::unique_ptr<IslandPanelController> makeController(bool shown = false);
    void advance(qint64 milliseconds) { m_scheduler->advance(milliseconds); }
    void pointAt(const QPointF& location) { m_screens->pointer = location; }
    QRect qtRect(const QRectF& yUp) const { return m_screens->toQt(yUp).toAlignedRect(); }

    std::shared_ptr<ManualIslandScheduler> m_scheduler;
    std::shared_ptr<Platform::FixedScreenInfo> m_screens;
    std::shared_ptr<FakeMonitors> m_monitors;
    bool m_modal = false;
};

// One external 1920 × 1080 screen with a 25-point top panel: collapsed (868, 1017, 185 × 32),
// expanded (570, 619, 780 × 430), echo (820, 991, 280 × 58), all y-up.
const QRectF kCollapsed(868, 1017, 185, 32);
const QRectF kExpanded(570, 619, 780, 430);
const QRectF kEcho(820, 991, 280, 58);
const QPointF kOnPill(900, 1030);
const QPointF kFarAway(100, 100);

namespace {
QtMessageHandler g_defaultMessageHandler = nullptr;
// The offscreen platform has no stacking order and says so on every raise().
void dropRaiseWarnings(QtMsgType type, const QMessageLogContext& context, const QString& message)
{
    if (message.contains(QLatin1String("does not support raise()")))
        return;
    g_defaultMessageHandler(type, context, message);
}
} // namespace

void TestIslandPanelController::initTestCase()
{
    g_defaultMessageHandler = qInstallMessageHandler(dropRaiseWarnings);
    Language::setIsChineseForTesting(false);
}

void TestIslandPanelController::init()
{
    m_scheduler = std::make_shared<ManualIslandScheduler>();
    IslandScheduler::setSharedForTesting(m_scheduler);
    Platform::MotionPreferences::setReduceMotionForTesting(false);
    m_screens = std::make_shared<Platform::FixedScreenInfo>();
    Platform::ScreenDescription screen;
    screen.name = QStringLiteral("HDMI-1");
    screen.frame = QRectF(0, 0, 1920, 1080);
    screen.visibleFrame = QRectF(0, 0, 1920, 1055);
    m_screens->screenList = {screen};
    m_screens->reference = 1080;
    m_screens->pointer = kFarAway;
    m_monitors = std::make_shared<FakeMonitors>();
    m_modal = false;
}

void TestIslandPanelController::cleanup()
{
    Platform::MotionPreferences::setReduceMotionForTesting(std::nullopt);
    // Let stale completions of the last test run against this test's clock before it goes.
    m_scheduler->advance(5000);
    IslandScheduler::setSharedForTesting(nullptr);
}

std::unique_ptr<IslandPanelController> TestIslandPanelController::makeController(bool shown)
{
    IslandPanelEnvironment environment;
    environment.screens = m_screens;
    environment.monitors = m_monitors;
    environment.isModalWindowUp = [this] { return m_modal; };
    auto controller = std::make_unique<IslandPanelController>(environment);
    if (shown) {
        controller->transition(Mode::collapsed, false);
        controller->panel()->orderFrontRegardless();
    }
    return controller;
}

void TestIslandPanelController::startsCollapsedHiddenAndClickThrough()
{
    auto controller = makeController();
    QCOMPARE(controller->displayMode(), Mode::collapsed);
    QVERIFY(!controller->panel()->isVisible());
    QVERIFY(controller->panel()->ignoresMouseEvents());
    QCOMPARE(controller->panelFrame(), kCollapsed);
    QCOMPARE(controller->panel()->geometry(), qtRect(kCollapsed));
    QCOMPARE(controller->islandView()->geometry(), QRect(0, 0, 185, 32));
    QCOMPARE(controller->islandView()->displayMode(), Mode::collapsed);
    QVERIFY(!controller->hasClickMonitors());

    // What the shell does at launch.
    controller->removeClickMonitors();
    controller->installCollapsedClickMonitors();
    controller->transition(Mode::collapsed, false);
    controller->panel()->orderFrontRegardless();
    QVERIFY(controller->panel()->isVisible());
    QVERIFY(!controller->panel()->ignoresMouseEvents());
    QVERIFY(controller->hasCollapsedClickMonitors());
    QCOMPARE(m_monitors->count(true, IslandMouseMask::leftDown), 1);
    QCOMPARE(m_monitors->count(false, IslandMouseMask::leftDown), 1);
    QCOMPARE(controller->panelFrame(), kCollapsed);
}

void TestIslandPanelController::programOpeningHidesAfterSevenSeconds()
{
    auto controller = makeController();
    controller->show(true, false);
    QCoreApplication::processEvents();
    QCOMPARE(controller->displayMode(), Mode::expanded);
    QVERIFY(controller->panel()->isVisible());
    QVERIFY2(!controller->panel()->isKeyWindow(), "a program opening must not take the keyboard");
    QCOMPARE(controller->panelFrame(), kExpanded);
    QVERIFY(controller->hideWorkItem());
    QVERIFY(controller->hasClickMonitors());
    QVERIFY(!controller->hasCollapsedClickMonitors());

    advance(6999);
    QCOMPARE(controller->displayMode(), Mode::expanded);
    advance(1);
    QCOMPARE(controller->displayMode(), Mode::collapsed);
    QVERIFY(controller->isCollapsing());
    QVERIFY(controller->panel()->ignoresMouseEvents());
    QVERIFY(!controller->hideWorkItem());
    QCOMPARE(controller->panelFrame(), kExpanded); // the stage stays large while the morph runs
}

void TestIslandPanelController::programOpeningOfAKeyIslandSchedulesNothing()
{
    auto controller = makeController();
    controller->show(true, false);
    const auto firstHide = controller->hideWorkItem();
    QVERIFY(firstHide);
    controller->show(false, false); // the user opens it: the pending hide goes
    QCoreApplication::processEvents();
    QVERIFY(firstHide->isCancelled());
    QVERIFY(controller->panel()->isKeyWindow());
    controller->show(true, false);
    QVERIFY(!controller->hideWorkItem());
    advance(10000);
    QCOMPARE(controller->displayMode(), Mode::expanded);
}

// The shell reports, then shows the island: a message of several lines is read to its end before
// the island closes by itself; a short one leaves the seven seconds as they are.
void TestIslandPanelController::programOpeningStaysOpenUntilALongMessageHasBeenRead()
{
    auto controller = makeController(true);
    IslandView* view = controller->islandView();
    view->configure({}, QuillomareCore::CloudSyncState::disabled(),
                    QStringLiteral("The image couldn't be read from the history file: the file holds a different "
                                   "image in its place. Removed from the history: the image copied 2026-12-08 "
                                   "10:11:12 (1920 × 1080), the image copied 2026-12-08 10:12:40 (800 × 600). "
                                   "Everything else is saved"));
    controller->show(true, false);
    QCoreApplication::processEvents();
    advance(1000);
    IslandToastView* toast = view->transientToast();
    QVERIFY(toast && toast->isVisible());
    QVERIFY(toast->shownLines().size() >= 3);

    advance(6000);
    QCOMPARE(controller->displayMode(), Mode::expanded);
    QVERIFY(controller->hideWorkItem());
    QVERIFY(toast->isVisible());
    advance(toast->remainingMilliseconds() - 1);
    QCOMPARE(controller->displayMode(), Mode::expanded);
    advance(1);
    QCOMPARE(controller->displayMode(), Mode::collapsed);

    advance(2000);
    view->configure({}, QuillomareCore::CloudSyncState::disabled(), QStringLiteral("Pinned"));
    controller->show(true, false);
    advance(6999);
    QCOMPARE(controller->displayMode(), Mode::expanded);
    advance(1);
    QCOMPARE(controller->displayMode(), Mode::collapsed);
}

void TestIslandPanelController::automaticHideWaitsForModalAndForTheUser()
{
    auto controller = makeController();
    controller->show(true, false);
    m_modal = true;
    advance(7000);
    QCOMPARE(controller->displayMode(), Mode::expanded);
    m_modal = false;
    advance(10000); // not rescheduled
    QCOMPARE(controller->displayMode(), Mode::expanded);

    // The user takes the island's keyboard before the hide comes: it stays open.
    controller->transition(Mode::collapsed, false);
    controller->show(true, false);
    advance(3000);
    controller->panel()->makeKeyAndOrderFront();
    QCoreApplication::processEvents();
    QVERIFY(controller->panel()->isKeyWindow());
    advance(4000);
    QCOMPARE(controller->displayMode(), Mode::expanded);
}

void TestIslandPanelController::userOpeningTakesTheKeyboardAndFocusesSearch()
{
    auto controller = makeController();
    controller->islandView()->setContentMode(IslandView::ContentMode::shelfGallery, false);
    controller->show(false, true);
    QCoreApplication::processEvents();
    QVERIFY(controller->panel()->isKeyWindow());
    QVERIFY(!controller->hideWorkItem());
    QCOMPARE(controller->islandView()->contentMode(), IslandView::ContentMode::history);
    QCOMPARE(QApplication::focusWidget(), controller->islandView()->searchInput());

    // Collapsing gives the focus up again.
    advance(2500);
    controller->collapseIfExpanded();
    QVERIFY(!controller->islandView()->searchInput()->hasFocus());
}

void TestIslandPanelController::everyOpeningSelectsTheTopRowWithAgesAsOfNow()
{
    using QuillomareCore::ClipboardItem;
    QuillomareTest::ClockOverride clock(QuillomareTest::at(10'000));
    QList<ClipboardItem> items;
    for (int i = 0; i < 60; ++i)
        items.append(QuillomareTest::textItem(QStringLiteral("entry %1").arg(i), QuillomareTest::at(10'000 - i)));
    auto controller = makeController(true);
    IslandView* view = controller->islandView();
    view->configure(items, QuillomareCore::CloudSyncState::idle(), std::nullopt);
    controller->show(false, true);
    advance(1000);
    QCOMPARE(view->selectedItemID(), items[0].id);
    QCOMPARE(view->historyRow(items[0].id)->metaLabel()->text(), QStringLiteral("Text · just now · Computer"));

    // While it stays open the user's choice stands, also when the island is asked to show again.
    view->moveSelection(45);
    view->toggleHistorySelection(items[44], false);
    view->toggleHistorySelection(items[46], false);
    QVERIFY(view->scrollView()->verticalScrollBar()->value() > 0);
    controller->show(true, false);
    QCOMPARE(view->selectedItemID(), items[46].id);
    QCOMPARE(view->selectedHistoryItemIDs().size(), 2);

    // Three minutes later, opened again: by the hot key or the tray, from the pill.
    const std::vector<std::function<void()>> openings{[&] { controller->show(false, true); }, [&] { view->onExpand(); },
                                                      [&] { controller->show(true, false); }};
    for (const auto& open : openings) {
        controller->hide();
        advance(1000);
        clock.advance(180'000);
        open();
        advance(1000);
        QCOMPARE(view->selectedItemID(), items[0].id);
        QVERIFY(view->selectedHistoryItemIDs().isEmpty());
        QCOMPARE(view->scrollView()->verticalScrollBar()->value(), 0);
        ClipRowView* top = view->historyRow(items[0].id);
        QVERIFY(top && top->isSelected() && top->isVisible());
        QVERIFY2(top->metaLabel()->text().contains(QLatin1String("m ago")), qPrintable(top->metaLabel()->text()));
        QCOMPARE(top->metaLabel()->text(), ClipRowView::metaText(items[0]));
        // Down then Return gives the entry before the newest.
        view->moveSelection(1);
        QCOMPARE(view->selectedItemID(), items[1].id);
    }
}

void TestIslandPanelController::workspaceCollapseGrace()
{
    auto controller = makeController();
    controller->show(false, false);
    advance(1500);
    controller->collapseIfExpanded();
    QCOMPARE(controller->displayMode(), Mode::expanded);
    advance(1000);
    controller->collapseIfExpanded();
    QCOMPARE(controller->displayMode(), Mode::collapsed);

    // A program opening grants no grace.
    advance(3000);
    controller->show(true, false);
    advance(100);
    controller->collapseIfExpanded();
    QCOMPARE(controller->displayMode(), Mode::collapsed);
}

void TestIslandPanelController::outsideClickGuards()
{
    auto controller = makeController();
    controller->show(false, false);
    pointAt(kFarAway);

    const auto clickOutside = [&] {
        m_monitors->sendGlobal(IslandMouseEventKind::up, IslandMouseButton::left);
        QCOMPARE(controller->displayMode(), Mode::expanded); // decided on the next turn
        advance(0);
    };
    advance(599);
    clickOutside();
    QCOMPARE(controller->displayMode(), Mode::expanded);

    // A press on the panel protects for 0.45 s.
    advance(400);
    QVERIFY(!m_monitors->sendLocal(IslandMouseEventKind::down, IslandMouseButton::right,
                                   controller->panel()->windowHandle()));
    advance(449);
    clickOutside();
    QCOMPARE(controller->displayMode(), Mode::expanded);

    // The panel frame grown by 2 counts as inside; the pointer is read when the decision runs.
    advance(1);
    pointAt(QPointF(kExpanded.x() - 1, kExpanded.y() + 100));
    clickOutside();
    QCOMPARE(controller->displayMode(), Mode::expanded);
    m_monitors->sendGlobal(IslandMouseEventKind::up, IslandMouseButton::other);
    pointAt(QPointF(kExpanded.x() - 3, kExpanded.y() + 100));
    advance(0);
    QCOMPARE(controller->displayMode(), Mode::collapsed);
    QVERIFY(controller->isCollapsing());
    QVERIFY(!controller->hasClickMonitors());
}

void TestIslandPanelController::clickInAnotherWindowOfTheProgramCollapses()
{
    auto controller = makeController();
    QWidget preferences;
    preferences.show();
    controller->show(false, false);
    // At once, without the opening guard, and the click goes on to its window.
    QVERIFY(!m_monitors->sendLocal(IslandMouseEventKind::down, IslandMouseButton::left, preferences.windowHandle()));
    QCOMPARE(controller->displayMode(), Mode::collapsed);
}

void TestIslandPanelController::modalWindowBlocksClicksAndCollapses()
{
    auto controller = makeController();
    QWidget other;
    other.show();
    controller->show(false, false);
    advance(3000);
    m_modal = true;
    pointAt(kFarAway);
    m_monitors->sendGlobal(IslandMouseEventKind::up, IslandMouseButton::left);
    advance(0);
    m_monitors->sendLocal(IslandMouseEventKind::down, IslandMouseButton::left, other.windowHandle());
    controller->collapseIfExpanded();
    controller->hide();
    QCOMPARE(controller->displayMode(), Mode::expanded);

    m_modal = false;
    controller->hide();
    advance(2000);
    QCOMPARE(controller->displayMode(), Mode::collapsed);
    QVERIFY(!controller->isCollapsing());

    // Nor does a click open it while a modal window is up.
    m_modal = true;
    pointAt(kOnPill);
    QVERIFY(!m_monitors->sendLocal(IslandMouseEventKind::down, IslandMouseButton::left,
                                   controller->panel()->windowHandle()));
    m_monitors->sendGlobal(IslandMouseEventKind::down, IslandMouseButton::left);
    QCOMPARE(controller->displayMode(), Mode::collapsed);
}

void TestIslandPanelController::collapsedClicksOpenInsideTheActivationFrameOnly()
{
    auto controller = makeController(true);

    // Four points beyond the pill still open it; five do not.
    pointAt(QPointF(kCollapsed.x() - 5, kCollapsed.y() + 10));
    QVERIFY(!m_monitors->sendLocal(IslandMouseEventKind::down, IslandMouseButton::left,
                                   controller->panel()->windowHandle()));
    m_monitors->sendGlobal(IslandMouseEventKind::down, IslandMouseButton::left);
    QCOMPARE(controller->displayMode(), Mode::collapsed);
    // A right-click never opens it.
    pointAt(kOnPill);
    QVERIFY(!m_monitors->sendLocal(IslandMouseEventKind::down, IslandMouseButton::right,
                                   controller->panel()->windowHandle()));
    QCOMPARE(controller->displayMode(), Mode::collapsed);

    pointAt(QPointF(kCollapsed.x() - 4, kCollapsed.y() + 10));
    QVERIFY(m_monitors->sendLocal(IslandMouseEventKind::down, IslandMouseButton::left,
                                  controller->panel()->windowHandle()));
    QCOMPARE(controller->displayMode(), Mode::expanded);
    // It was a user opening: the grace applies.
    advance(1000);
    controller->collapseIfExpanded();
    QCOMPARE(controller->displayMode(), Mode::expanded);

    // A click on the pill in another program (the global monitor) opens it too.
    controller->transition(Mode::collapsed, false);
    pointAt(kOnPill);
    m_monitors->sendGlobal(IslandMouseEventKind::down, IslandMouseButton::left);
    QCOMPARE(controller->displayMode(), Mode::expanded);
}

void TestIslandPanelController::panelMouseDownHook()
{
    auto controller = makeController(true);
    QWindow* window = controller->panel()->windowHandle();

    // A right-click on the collapsed island reaches the panel and does not open it.
    pointAt(kOnPill);
    QTest::mousePress(window, Qt::RightButton, {}, QPoint(20, 10));
    QTest::mouseRelease(window, Qt::RightButton, {}, QPoint(20, 10));
    QCOMPARE(controller->displayMode(), Mode::collapsed);

    // A left-click does, consumed by the panel before any view sees it.
    int expandsFromView = 0;
    auto relayedExpand = controller->islandView()->onExpand;
    controller->islandView()->onExpand = [&] {
        ++expandsFromView;
        relayedExpand();
    };
    QTest::mousePress(window, Qt::LeftButton, {}, QPoint(20, 10));
    QTest::mouseRelease(window, Qt::LeftButton, {}, QPoint(20, 10));
    QCOMPARE(controller->displayMode(), Mode::expanded);
    QCOMPARE(expandsFromView, 0);

    // On the expanded island a press only marks the time (and protects from a mouse-up outside).
    advance(1000);
    QTest::mousePress(window, Qt::RightButton, {}, QPoint(20, 10));
    QTest::mouseRelease(window, Qt::RightButton, {}, QPoint(20, 10));
    QCOMPARE(controller->displayMode(), Mode::expanded);
    pointAt(kFarAway);
    m_monitors->sendGlobal(IslandMouseEventKind::up, IslandMouseButton::left);
    advance(100);
    QCOMPARE(controller->displayMode(), Mode::expanded);

    // With a modal window up the panel lets the click through to the island view, whose own
    // press opens the island (it asks no modal question).
    controller->transition(Mode::collapsed, false);
    m_modal = true;
    pointAt(kOnPill);
    QTest::mousePress(window, Qt::LeftButton, {}, QPoint(20, 10));
    QTest::mouseRelease(window, Qt::LeftButton, {}, QPoint(20, 10));
    QCOMPARE(expandsFromView, 1);
    QCOMPARE(controller->displayMode(), Mode::expanded);
}

void TestIslandPanelController::collapseSettlesAfterTheMorph()
{
    auto controller = makeController();
    controller->show(false, false);
    advance(2000);
    QVERIFY(!controller->islandView()->hasActiveIslandLayerAnimation());
    QCOMPARE(controller->islandView()->geometry(), QRect(0, 0, 780, 430));

    controller->hide();
    QVERIFY(controller->isCollapsing());
    QVERIFY(controller->panel()->ignoresMouseEvents());
    QVERIFY(!controller->hasClickMonitors() && !controller->hasCollapsedClickMonitors());
    QVERIFY(controller->islandView()->hasActiveIslandLayerAnimation());

    advance(2000);
    QVERIFY(!controller->isCollapsing());
    QCOMPARE(controller->panelFrame(), kCollapsed);
    QVERIFY(!controller->panel()->ignoresMouseEvents());
    QVERIFY(controller->hasCollapsedClickMonitors());
    QCOMPARE(controller->islandView()->geometry(), QRect(0, 0, 185, 32));
    QVERIFY(!controller->islandView()->hasActiveIslandLayerAnimation());
}

void TestIslandPanelController::showDuringCollapseWins()
{
    auto controller = makeController();
    controller->show(false, false);
    advance(2000);
    controller->hide();
    advance(150);
    const QRectF onScreen = controller->islandView()->presentationFrame();
    controller->show(false, false);
    // The expansion starts from what was on screen.
    QCOMPARE(controller->islandView()->presentationFrame(), onScreen);
    advance(5000);
    QCOMPARE(controller->displayMode(), Mode::expanded);
    QCOMPARE(controller->panelFrame(), kExpanded);
    QVERIFY(!controller->hasCollapsedClickMonitors());
    QVERIFY(controller->hasClickMonitors());
    QCOMPARE(controller->islandView()->displayMode(), Mode::expanded);
    QCOMPARE(controller->islandView()->geometry(), QRect(0, 0, 780, 430));
}

void TestIslandPanelController::transitionIsIdempotent()
{
    auto controller = makeController();
    controller->show(false, false);
    const quint64 afterOpening = controller->islandView()->morphCompletionToken();
    controller->transition(Mode::expanded, true);
    QCOMPARE(controller->islandView()->morphCompletionToken(), afterOpening);

    controller->transition(Mode::collapsed, true);
    const quint64 afterCollapse = controller->islandView()->morphCompletionToken();
    QVERIFY(afterCollapse > afterOpening);
    controller->transition(Mode::collapsed, true);
    QCOMPARE(controller->islandView()->morphCompletionToken(), afterCollapse);
    QVERIFY(controller->isCollapsing());
}

void TestIslandPanelController::reduceMotionSwitchesInOneStep()
{
    Platform::MotionPreferences::setReduceMotionForTesting(true);
    auto controller = makeController();
    controller->show(false, false);
    QCOMPARE(controller->islandView()->displayMode(), Mode::expanded);
    QVERIFY(!controller->islandView()->hasActiveIslandLayerAnimation());
    QCOMPARE(controller->islandView()->geometry(), QRect(0, 0, 780, 430));

    advance(3000);
    controller->hide();
    QVERIFY(!controller->isCollapsing());
    QCOMPARE(controller->panelFrame(), kCollapsed);
    QVERIFY(!controller->panel()->ignoresMouseEvents());
    QVERIFY(controller->hasCollapsedClickMonitors());
    QCOMPARE(controller->islandView()->geometry(), QRect(0, 0, 185, 32));
    QVERIFY(!controller->islandView()->hasActiveIslandLayerAnimation());
}

void TestIslandPanelController::echoGrowsOnTheExpandedStageAndSettlesBack()
{
    auto controller = makeController(true);
    controller->show(true, false);
    const auto pendingHide = controller->hideWorkItem();
    controller->transition(Mode::collapsed, false);

    int finished = 0;
    auto settle = controller->islandView()->onCaptureEchoDidFinish;
    controller->islandView()->onCaptureEchoDidFinish = [&] {
        ++finished;
        settle();
    };
    QuillomareCore::CaptureFeedback feedback;
    feedback.kind = QuillomareCore::ClipKind::text;
    controller->flashCaptureEcho(feedback);
    QVERIFY(pendingHide->isCancelled());
    QVERIFY(controller->islandView()->isCaptureEchoShown());
    QVERIFY(controller->panel()->ignoresMouseEvents());
    QCOMPARE(controller->panelFrame(), kExpanded);
    // The collapsed monitors stay in place during the echo.
    QVERIFY(controller->hasCollapsedClickMonitors());
    const QRect echoInCanvas = controller->canvasFrame(kEcho).toAlignedRect();
    QCOMPARE(controller->islandView()->geometry(), echoInCanvas);

    advance(1570 + 260 - 1); // shown 1.57 s, then retracted in 0.26 s, all on the expanded stage
    QCOMPARE(finished, 0);
    QCOMPARE(controller->panelFrame(), kExpanded);
    advance(1);
    QCOMPARE(finished, 1);
    QVERIFY(!controller->islandView()->isCaptureEchoShown());
    QCOMPARE(controller->panelFrame(), kCollapsed);
    QVERIFY(!controller->panel()->ignoresMouseEvents());
    QCOMPARE(controller->islandView()->geometry(), QRect(0, 0, 185, 32));
    advance(5000);
    QCOMPARE(finished, 1);
}

void TestIslandPanelController::echoWithReduceMotionEndsAfterOneSecond()
{
    Platform::MotionPreferences::setReduceMotionForTesting(true);
    auto controller = makeController(true);
    controller->flashCaptureEcho(QuillomareCore::CaptureFeedback{});
    QVERIFY(!controller->islandView()->hasActiveIslandLayerAnimation());
    QCOMPARE(controller->islandView()->geometry(), controller->canvasFrame(kEcho).toAlignedRect());
    advance(999);
    QVERIFY(controller->islandView()->isCaptureEchoShown());
    advance(1);
    QVERIFY(!controller->islandView()->isCaptureEchoShown());
    QCOMPARE(controller->panelFrame(), kCollapsed);
}

void TestIslandPanelController::expandingEndsTheEchoSilentlyAndShowsNoneWhileOpen()
{
    auto controller = makeController(true);
    int finished = 0;
    controller->islandView()->onCaptureEchoDidFinish = [&] { ++finished; };
    controller->flashCaptureEcho(QuillomareCore::CaptureFeedback{});
    advance(500);
    controller->show(false, false);
    QVERIFY(!controller->islandView()->isCaptureEchoShown());
    advance(5000);
    QCOMPARE(finished, 0);
    QCOMPARE(controller->displayMode(), Mode::expanded);
    QCOMPARE(controller->panelFrame(), kExpanded);
    QVERIFY(!controller->panel()->ignoresMouseEvents());

    // The expanded island shows no echo.
    controller->flashCaptureEcho(QuillomareCore::CaptureFeedback{});
    QVERIFY(!controller->islandView()->isCaptureEchoShown());
    QVERIFY(!controller->panel()->ignoresMouseEvents());
}

void TestIslandPanelController::echoWidensToShowALongReasonWhole_data()
{
    QTest::addColumn<bool>("chinese");
    QTest::addColumn<bool>("image");
    QTest::newRow("text, English") << false << false;
    QTest::newRow("image, English") << false << true;
    QTest::newRow("text, Chinese") << true << false;
    QTest::newRow("image, Chinese") << true << true;
}

// A copy refused for its size says how large it was and what the limit is: the echo grows as
// wide as its badge needs (inside the expanded island's width) rather than cutting that off.
void TestIslandPanelController::echoWidensToShowALongReasonWhole()
{
    QFETCH(bool, chinese);
    QFETCH(bool, image);
    Language::setIsChineseForTesting(chinese);
    const auto english = qScopeGuard([] { Language::setIsChineseForTesting(false); });
    Platform::MotionPreferences::setReduceMotionForTesting(true);
    auto controller = makeController(true);
    const qint64 limit = image ? QuillomareCore::ClipDefaults::maxImagePayloadBytes
                               : QuillomareCore::ClipDefaults::maxTextPayloadBytes;
    const QString reason = QuillomareCore::ClipboardItem::payloadTooLargeDescription(image, limit + 1);
    controller->flashCaptureEcho(
        QuillomareCore::CaptureFeedback{std::nullopt, std::nullopt, false,
                                        QuillomareCore::CaptureFeedback::SaveStatus::ignored(reason)});

    const CaptureEchoHUDView* hud = controller->islandView()->captureEchoHUD();
    QVERIFY(hud);
    QCOMPARE(hud->subtitle(), reason);
    QVERIFY2(hud->displayedSubtitle() == reason, qPrintable(hud->displayedSubtitle()));
    const QRect echo = controller->islandView()->geometry();
    QVERIFY2(echo.width() > kEcho.width() && echo.width() <= kExpanded.width(), qPrintable(QString::number(echo.width())));
    QCOMPARE(echo.height(), int(kEcho.height()));
    // Centred under the collapsed island, as the narrow echo is.
    QVERIFY(std::abs(echo.center().x() - controller->canvasFrame(kCollapsed).toAlignedRect().center().x()) <= 1);
    QVERIFY(QRect(QPoint(0, 0), controller->panel()->size()).contains(echo));
    QVERIFY(QRect(QPoint(0, 0), echo.size()).contains(hud->badgeGeometry()));

    // The next ordinary copy has the ordinary echo again.
    advance(1000);
    controller->flashCaptureEcho(QuillomareCore::CaptureFeedback{QuillomareCore::ClipKind::text, QStringLiteral("Kate"),
                                                                 false, QuillomareCore::CaptureFeedback::SaveStatus::saved()});
    QCOMPARE(controller->islandView()->geometry(), controller->canvasFrame(kEcho).toAlignedRect());
}

void TestIslandPanelController::stageFollowsTheScreenOfTheMoment()
{
    auto controller = makeController(true);
    // A second screen appears and the pointer moves onto it; the first no longer has it.
    Platform::ScreenDescription second;
    second.name = QStringLiteral("HDMI-2");
    second.frame = QRectF(1920, 0, 1280, 1024);
    second.visibleFrame = QRectF(1920, 0, 1280, 1000);
    m_screens->screenList.append(second);
    pointAt(QPointF(2500, 500));
    controller->show(false, false);
    QCOMPARE(controller->panelFrame(), QRectF(2170, 564, 780, 430));
    advance(3000);

    // A built-in notched screen takes over at the next transition: the notch look is pushed.
    Platform::ScreenDescription builtIn;
    builtIn.name = QStringLiteral("eDP-1");
    builtIn.isBuiltIn = true;
    builtIn.frame = QRectF(-1512, 0, 1512, 982);
    builtIn.visibleFrame = QRectF(-1512, 0, 1512, 945);
    builtIn.auxiliaryTopLeftArea = QRectF(-1512, 945, 654, 37);
    builtIn.auxiliaryTopRightArea = QRectF(-654, 945, 654, 37);
    m_screens->screenList.append(builtIn);
    controller->hide();
    advance(3000);
    QCOMPARE(controller->panelFrame(), QRectF(-860, 947, 208, 37));
    QCOMPARE(controller->islandView()->collapsedVisualStyle(), IslandView::CollapsedVisualStyle::hardwareNotch);
    QCOMPARE(controller->islandView()->notchHeaderWidth(), 208.0);
    QCOMPARE(controller->islandView()->expandedTopInset(), 4.5);
}

void TestIslandPanelController::missingGlobalMonitorIsRetried()
{
    auto controller = makeController();
    m_monitors->refuseGlobal = true;
    controller->show(false, false);
    QCOMPARE(m_monitors->count(true, IslandMouseMask::anyUp), 0);
    QCOMPARE(m_monitors->count(false, IslandMouseMask::anyDown), 1);
    controller->removeClickMonitors();
    m_monitors->refuseGlobal = false;
    controller->installClickMonitors();
    QCOMPARE(m_monitors->count(true, IslandMouseMask::anyUp), 1);
    // An install does nothing while its pair is there.
    controller->installClickMonitors();
    QCOMPARE(m_monitors->count(true, IslandMouseMask::anyUp), 1);
    QCOMPARE(m_monitors->count(false, IslandMouseMask::anyDown), 1);
}

namespace {
class PressCounter : public QWidget
{
public:
    int presses = 0;

protected:
    void mousePressEvent(QMouseEvent* event) override
    {
        ++presses;
        event->accept();
    }
};
} // namespace

void TestIslandPanelController::applicationMonitorSeesEachClickOnceAndCanSwallowIt()
{
    PressCounter window;
    window.resize(200, 100);
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    PressCounter popup;
    popup.setWindowFlags(Qt::Popup);
    popup.resize(50, 50);

    // Events as the window system delivers them: to the window first, then to its widget.
    QList<IslandMouseEvent> seen;
    bool swallow = false;
    auto monitors = IslandEventMonitors::system();
    auto monitor = monitors->addLocalMonitor(IslandMouseMask::leftDown | IslandMouseMask::rightUp,
                                             [&](const IslandMouseEvent& event) {
                                                 seen.append(event);
                                                 return swallow;
                                             });
    QVERIFY(monitor);
    QTest::mouseClick(window.windowHandle(), Qt::LeftButton, {}, QPoint(10, 10));
    QCOMPARE(seen.size(), 1);
    QCOMPARE(seen.first().kind, IslandMouseEventKind::down);
    QCOMPARE(seen.first().button, IslandMouseButton::left);
    QCOMPARE(seen.first().window.data(), window.windowHandle());
    QCOMPARE(window.presses, 1);
    QTest::mouseClick(window.windowHandle(), Qt::RightButton, {}, QPoint(10, 10));
    QCOMPARE(seen.size(), 2);
    QCOMPARE(seen.last().kind, IslandMouseEventKind::up);

    swallow = true;
    QTest::mousePress(window.windowHandle(), Qt::LeftButton, {}, QPoint(10, 10));
    QCOMPARE(seen.size(), 3);
    QCOMPARE(window.presses, 2); // the right-click's press came through; the swallowed one did not
    QTest::mouseRelease(window.windowHandle(), Qt::LeftButton, {}, QPoint(10, 10));

    // The program's own pop-up menus are left alone.
    popup.show();
    QVERIFY(QTest::qWaitForWindowExposed(&popup));
    QTest::mouseClick(popup.windowHandle(), Qt::LeftButton, {}, QPoint(5, 5));
    QCOMPARE(seen.size(), 3);
    QCOMPARE(popup.presses, 1);
    popup.hide();

    // Removing the monitor stops it.
    monitor.reset();
    swallow = false;
    QTest::mouseClick(window.windowHandle(), Qt::LeftButton, {}, QPoint(10, 10));
    QCOMPARE(seen.size(), 3);
}

void TestIslandPanelController::everyViewActionReachesTheController()
{
#define RELAY(name) std::pair{QStringLiteral(#name), relayCase(&IslandView::name, &IslandPanelController::name)}
    const std::pair<QString, RelayCase> relays[] = {
        RELAY(onSelectItem), RELAY(onCopyPasteVariantItem), RELAY(onCombineItems), RELAY(onRecognizeTextItem),
        RELAY(onAirDropItem), RELAY(onRevealItem), RELAY(onPullFromIPhone), RELAY(onCopyPlainTextItem),
        RELAY(onCopyQuickPreviewText), RELAY(onDeleteItem), RELAY(onTogglePinItem), RELAY(onClear),
        RELAY(onHide), RELAY(onQuit), RELAY(onChangeLanguage), RELAY(onShowSettings),
        RELAY(onMakeQRCodeItem), RELAY(onExportItemToFile), RELAY(onCopyCondensedItem), RELAY(onShelfDropPasteboard),
        RELAY(onShelfSessionsChanged), RELAY(onCreateShelfSession), RELAY(onRenameShelfSession), RELAY(onCopyShelfItem),
        RELAY(onCopyShelfPasteVariantItem), RELAY(onCombineShelfItems), RELAY(onBatchShelfItems),
        RELAY(onAirDropShelfItem), RELAY(onRevealShelfItem), RELAY(onRemoveShelfItem), RELAY(onClearShelf),
    };
#undef RELAY
    // Each callback fired once unarmed (nothing happens) and once armed: a callback wired to
    // another's property shows as a count of 0 beside one of 2.
    std::map<QString, int> calls;
    auto controller = makeController();
    IslandView* view = controller->islandView();
    for (const auto& [name, relay] : relays) {
        relay.fire(*view);
        relay.arm(*controller, calls[name]);
        relay.fire(*view);
    }
    for (const auto& [name, count] : calls)
        QVERIFY2(count == 1, qPrintable(QStringLiteral("%1 reached the controller %2 times").arg(name).arg(count)));

    // The arguments arrive untouched, a reference as the very object.
    const auto item = QuillomareTest::textItem(QStringLiteral("hello"), QuillomareTest::at(0));
    std::optional<std::pair<QuillomareCore::ClipboardItem, PasteVariant>> copied;
    controller->onCopyPasteVariantItem = [&](const QuillomareCore::ClipboardItem& got, PasteVariant variant) {
        copied.emplace(got, variant);
    };
    view->onCopyPasteVariantItem(item, PasteVariant::markdownLink);
    QVERIFY(copied && copied->first == item && copied->second == PasteVariant::markdownLink);
    Platform::MemoryPasteboard pasteboard;
    Platform::Pasteboard* dropped = nullptr;
    controller->onShelfDropPasteboard = [&](Platform::Pasteboard& got) { dropped = &got; };
    view->onShelfDropPasteboard(pasteboard);
    QVERIFY(dropped == &pasteboard);

    // A relay outliving its controller does nothing.
    auto orphan = view->onQuit;
    int quits = 0;
    controller->onQuit = [&] { ++quits; };
    orphan();
    QCOMPARE(quits, 1);
    controller.reset();
    orphan();
    QCOMPARE(quits, 1);
}

void TestIslandPanelController::echoesAskForThePointerOnlyWhenItChoosesTheScreen()
{
    auto counting = std::make_shared<CountingScreens>(m_screens);
    IslandPanelEnvironment environment;
    environment.screens = counting;
    environment.monitors = m_monitors;
    environment.isModalWindowUp = [] { return false; };
    IslandPanelController controller(environment);
    controller.transition(Mode::collapsed, false);
    controller.panel()->orderFrontRegardless();
    QuillomareCore::CaptureFeedback feedback;
    feedback.kind = QuillomareCore::ClipKind::text;

    // One screen: the pointer decides nothing, and a stream of echoes never asks for it.
    counting->pointerReads = 0;
    for (int copy = 0; copy < 5; ++copy) {
        controller.flashCaptureEcho(feedback);
        advance(200);
    }
    QCOMPARE(counting->pointerReads, 0);
    QCOMPARE(controller.panelFrame(), kExpanded);

    // Two screens, neither built in: the screen under the pointer is the island's, so it is asked.
    Platform::ScreenDescription second;
    second.name = QStringLiteral("HDMI-2");
    second.frame = QRectF(1920, 0, 1280, 1024);
    second.visibleFrame = QRectF(1920, 0, 1280, 1000);
    m_screens->screenList.append(second);
    m_screens->pointer = QPointF(2500, 500);
    controller.flashCaptureEcho(feedback);
    QVERIFY(counting->pointerReads > 0);
    QVERIFY(second.frame.contains(controller.panelFrame()));

    // With a built-in screen among them that one is always the island's: no need to ask.
    Platform::ScreenDescription builtIn;
    builtIn.name = QStringLiteral("eDP-1");
    builtIn.isBuiltIn = true;
    builtIn.frame = QRectF(-1512, 0, 1512, 982);
    builtIn.visibleFrame = QRectF(-1512, 0, 1512, 957);
    m_screens->screenList.append(builtIn);
    advance(3000);
    counting->pointerReads = 0;
    controller.flashCaptureEcho(feedback);
    advance(200);
    QCOMPARE(counting->pointerReads, 0);
    QVERIFY(builtIn.frame.contains(controller.panelFrame()));
}

void TestIslandPanelController::clickOnThePillOpensDuringAStreamOfEchoes()
{
    auto controller = makeController(true);
    QuillomareCore::CaptureFeedback feedback;
    feedback.kind = QuillomareCore::ClipKind::text;
    // Copies every 200 ms: each echo starts before the last has ended, so the island never
    // settles in between, and it lets the mouse through all along.
    for (int copy = 0; copy < 4; ++copy) {
        controller->flashCaptureEcho(feedback);
        advance(200);
    }
    QVERIFY(controller->islandView()->isCaptureEchoShown());
    QVERIFY(controller->panel()->ignoresMouseEvents());
    QVERIFY(controller->hasCollapsedClickMonitors());
    // The click falls through to whatever is below: the global monitor hears it on the pill.
    pointAt(kOnPill);
    m_monitors->sendGlobal(IslandMouseEventKind::down, IslandMouseButton::left);
    QCOMPARE(controller->displayMode(), Mode::expanded);
    QVERIFY(!controller->islandView()->isCaptureEchoShown());
    QVERIFY(!controller->panel()->ignoresMouseEvents());
    // The next copy while it is open shows no echo.
    controller->flashCaptureEcho(feedback);
    QVERIFY(!controller->islandView()->isCaptureEchoShown());

    // Closed by the user, and the copies go on during the collapse: the echo takes over from it,
    // and the pill still opens on a click while the stream lasts.
    advance(1000);
    controller->hide();
    QVERIFY(controller->isCollapsing());
    advance(100);
    for (int copy = 0; copy < 4; ++copy) {
        controller->flashCaptureEcho(feedback);
        advance(200);
    }
    QVERIFY(controller->islandView()->isCaptureEchoShown());
    QVERIFY(!controller->isCollapsing());
    m_monitors->sendGlobal(IslandMouseEventKind::down, IslandMouseButton::left);
    QCOMPARE(controller->displayMode(), Mode::expanded);
}

QUILLOMARE_GUI_TEST_MAIN(TestIslandPanelController)
#include "tst_islandpanelcontroller.moc"
