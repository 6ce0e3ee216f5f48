// The island's own motion and stages, looked at as a user sees them. Each probe builds the island
// panel as the shell leaves it at launch (collapsed and ordered front; no delegate, no clipboard
// monitor, no store), works it with real mouse and key events and the shell's own calls, and
// reads what the island draws at every painted frame.

#include "UserInterfaceProbe.h"

#include "Island/CaptureEchoHUDView.h"
#include "Island/Panel/IslandPanel.h"
#include "Island/Panel/IslandPanelController.h"

#include <Platform/MotionPreferences.h>
#include <QuillomareCore/CaptureFeedback.h>
#include <QuillomareCore/CloudSyncService.h>
#include <QuillomareCore/Hashing.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QImage>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPalette>
#include <QPixmap>
#include <QScreen>
#include <QWindow>

#include <cmath>
#include <memory>
#include <vector>

namespace QuillomareMac::UserInterfaceProbe {

namespace {

using Mode = IslandView::DisplayMode;
using Style = IslandView::CollapsedVisualStyle;
using Platform::ScreenGeometry::maxY;

constexpr int kPollMilliseconds = 10;
// Far longer than any morph, echo or retract takes on a loaded machine: a state not reached by
// then is never reached.
constexpr int kSettleBound = 8000;

QString text(const QRectF& rect)
{
    return QStringLiteral("%1,%2 %3x%4").arg(rect.x()).arg(rect.y()).arg(rect.width()).arg(rect.height());
}

bool near(const QRectF& a, const QRectF& b, double tolerance = 0.5)
{
    return std::abs(a.x() - b.x()) <= tolerance && std::abs(a.y() - b.y()) <= tolerance &&
           std::abs(a.width() - b.width()) <= tolerance && std::abs(a.height() - b.height()) <= tolerance;
}

// `rect` (y-up screen) inside a panel whose frame is `stage` (y-up screen): the island's canvas.
QRectF inStage(const QRectF& rect, const QRectF& stage)
{
    return QRectF(rect.x() - stage.x(), maxY(stage) - maxY(rect), rect.width(), rect.height());
}

// What the island drew in one painted frame.
struct Frame
{
    qint64 at = 0;    // milliseconds since the island was built
    QRectF surface;   // the drawn surface, in the panel
    QRect stage;      // the panel, Qt screen coordinates
    double badge = 0; // the echo badge's opacity, 0 while it is hidden
    double pill = 0;  // the collapsed content's alpha, 0 while it is hidden
};

// The island as the shell leaves it at launch, and the frames it paints.
class ProbeIsland final : public QObject
{
public:
    ProbeIsland() : controller(std::make_unique<IslandPanelController>())
    {
        clock.start();
        const QDateTime now = QDateTime::currentDateTime();
        QList<QuillomareCore::ClipboardItem> items;
        for (const QString& entry : {QStringLiteral("Quarterly notes"), QStringLiteral("https://example.org/a"),
                                     QStringLiteral("Meeting at ten")}) {
            QuillomareCore::ClipboardItem item;
            item.id = QUuid::createUuid();
            item.createdAt = now.addSecs(-60 * items.size());
            item.kind = QuillomareCore::ClipKind::text;
            item.preview = entry;
            item.contentHash = QuillomareCore::ClipHashing::textContentHash(entry);
            item.payload = QuillomareCore::ClipboardPayload::text(entry);
            items.append(item);
        }
        view()->configure(items, QuillomareCore::CloudSyncState::idle(), std::nullopt);
        view()->installEventFilter(this);
    }

    // What the shell does at launch.
    void launch() const
    {
        controller->removeClickMonitors();
        controller->installCollapsedClickMonitors();
        controller->transition(Mode::collapsed, false);
        panel()->orderFrontRegardless();
    }

    IslandView* view() const { return controller->islandView(); }
    IslandPanel* panel() const { return controller->panel(); }
    qint64 now() const { return clock.elapsed(); }

    bool isSettled(Mode mode) const
    {
        const bool still = controller->displayMode() == mode && !controller->isCollapsing() &&
                           !view()->hasActiveIslandLayerAnimation() && !view()->isCaptureEchoShown();
        const bool staged = panel()->isVisible() && controller->panelFrame() == controller->targetFrame(mode);
        // The window's shape follows what is drawn on the next turn of the event loop.
        return still && staged && panel()->islandShape() == controller->canvasView()->islandShape();
    }

    std::vector<Frame> framesSince(qint64 at) const
    {
        std::vector<Frame> result;
        for (const Frame& frame : frames) {
            if (frame.at >= at)
                result.push_back(frame);
        }
        return result;
    }

    // Another top-level window of the program, living as long as the island.
    QWidget* addWindow(const QString& title, const QRect& geometry, const QColor& background)
    {
        auto window = std::make_unique<QWidget>();
        window->setWindowTitle(title);
        window->setGeometry(geometry);
        QPalette palette = window->palette();
        palette.setColor(QPalette::Window, background);
        window->setPalette(palette);
        window->setAutoFillBackground(true);
        windows.push_back(std::move(window));
        return windows.back().get();
    }

    std::unique_ptr<IslandPanelController> controller;
    std::vector<std::unique_ptr<QWidget>> windows;
    std::vector<Frame> frames;
    QElapsedTimer clock;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (watched == view() && event->type() == QEvent::Paint) {
            const CaptureEchoHUDView* hud = view()->captureEchoHUD();
            const QWidget* pill = view()->collapsedRoot();
            frames.push_back({now(), view()->presentationFrame(), panel()->geometry(),
                              hud && !hud->isHidden() ? hud->badgeOpacity() : 0.0,
                              pill->isHidden() ? 0.0 : IslandView::alphaValue(pill)});
        }
        return false;
    }
};

// The island lives until the event loop ends, before the application object goes.
ProbeIsland& buildIsland(bool launch = true)
{
    static std::unique_ptr<ProbeIsland> island;
    island = std::make_unique<ProbeIsland>();
    QObject::connect(qApp, &QCoreApplication::aboutToQuit, [] { island.reset(); });
    if (launch)
        island->launch();
    return *island;
}

// The steps of a probe, each started once the one before has settled.
class Script
{
public:
    explicit Script(Probe& probe) : m_state(std::make_shared<State>()) { m_state->probe = &probe; }

    // Runs `action`, waits until `settled` holds (the probe fails when it does not within the
    // bound), then runs `check`.
    Script& step(const QString& name, std::function<void()> action, std::function<bool()> settled = {},
                 std::function<void()> check = {})
    {
        m_state->steps.push_back({name, std::move(action), std::move(settled), std::move(check)});
        return *this;
    }

    Script& pause(const QString& name, int milliseconds)
    {
        auto started = std::make_shared<QElapsedTimer>();
        return step(
            name, [started] { started->start(); },
            [started, milliseconds] { return started->elapsed() >= milliseconds; });
    }

    // Runs the steps on the main queue and finishes the probe after the last.
    void start()
    {
        m_state->probe->after(0, [state = m_state] { run(state); });
    }

private:
    struct Step
    {
        QString name;
        std::function<void()> action;
        std::function<bool()> settled;
        std::function<void()> check;
    };
    struct State
    {
        Probe* probe = nullptr;
        std::vector<Step> steps;
        size_t next = 0;
        QElapsedTimer clock;
    };

    static void run(const std::shared_ptr<State>& state)
    {
        if (state->next >= state->steps.size()) {
            state->probe->finish();
            return;
        }
        if (const auto& action = state->steps[state->next].action)
            action();
        state->clock.start();
        state->probe->after(kPollMilliseconds, [state] { poll(state); });
    }

    static void poll(const std::shared_ptr<State>& state)
    {
        const Step& step = state->steps[state->next];
        if (!step.settled || step.settled()) {
            if (step.check)
                step.check();
            ++state->next;
            state->probe->after(0, [state] { run(state); });
            return;
        }
        if (state->clock.elapsed() > kSettleBound) {
            state->probe->fail(step.name, QStringLiteral("notSettledIn%1ms").arg(kSettleBound));
            state->probe->finish();
            return;
        }
        state->probe->after(kPollMilliseconds, [state] { poll(state); });
    }

    std::shared_ptr<State> m_state;
};

// A click as the window system hands it to the program: press and release at `at` (in
// `widget`'s coordinates), sent to the widget's window.
void click(QWidget* widget, const QPointF& at)
{
    QWidget* top = widget->window();
    const QPointF local = widget->mapTo(top, at);
    const QPointF global = top->mapToGlobal(local);
    QMouseEvent press(QEvent::MouseButtonPress, local, local, global, Qt::LeftButton, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(top->windowHandle(), &press);
    QMouseEvent release(QEvent::MouseButtonRelease, local, local, global, Qt::LeftButton, Qt::NoButton, Qt::NoModifier);
    QCoreApplication::sendEvent(top->windowHandle(), &release);
}

void pressKey(QWidget* window, int key)
{
    QKeyEvent press(QEvent::KeyPress, key, Qt::NoModifier);
    QCoreApplication::sendEvent(window->windowHandle(), &press);
    QKeyEvent release(QEvent::KeyRelease, key, Qt::NoModifier);
    QCoreApplication::sendEvent(window->windowHandle(), &release);
}

void clickPill(const ProbeIsland& island)
{
    click(island.view(), QRectF(island.view()->rect()).center());
}

// One morph's frames, drawn on one stage: each hangs from the target's top edge about its centre,
// every size moves from `from` toward `to` without turning back before it first gets there, and
// at most `overshoot` points beyond.
void checkMorph(Probe& probe, const QString& name, const std::vector<Frame>& frames, const QRectF& from,
                const QRectF& to, double overshoot)
{
    int between = 0;
    int turnedBack = 0;
    QString firstTurn;
    int offAnchor = 0;
    double beyond = 0;
    const double distances[2] = {to.width() - from.width(), to.height() - from.height()};
    double previous[2] = {0, 0};
    bool arrived[2] = {false, false};
    for (const Frame& frame : frames) {
        const double sizes[2] = {frame.surface.width() - from.width(), frame.surface.height() - from.height()};
        bool inBetween = false;
        for (int d = 0; d < 2; ++d) {
            if (std::abs(distances[d]) < 1)
                continue;
            const double progress = sizes[d] / distances[d];
            inBetween = inBetween || (progress > 0.02 && progress < 0.98);
            if (!arrived[d] && progress < previous[d] - 0.002 && turnedBack++ == 0)
                firstTurn = QStringLiteral("%1ms:").arg(frame.at) + text(frame.surface);
            arrived[d] = arrived[d] || progress >= 0.999;
            previous[d] = progress;
            beyond = std::max(beyond, (progress - 1) * std::abs(distances[d]));
        }
        between += inBetween ? 1 : 0;
        if (std::abs(frame.surface.center().x() - to.center().x()) > 1 || std::abs(frame.surface.top() - to.top()) > 1)
            ++offAnchor;
    }
    probe.report(name + QStringLiteral(".frames"), qint64(frames.size()));
    probe.expect(name + QStringLiteral(".framesInBetween"), between >= 3);
    probe.expect(name + QStringLiteral(".fromTopCentre"), offAnchor == 0);
    if (!probe.expect(name + QStringLiteral(".towardTarget"), turnedBack == 0))
        probe.report(name + QStringLiteral(".turnedBackAt"), firstTurn);
    probe.report(name + QStringLiteral(".overshoot"), beyond);
    probe.expect(name + QStringLiteral(".overshootWithinSpring"), beyond <= overshoot);
}

// The settled collapsed island: on its own small stage, the pill's content shown, the expanded
// content hidden, the keyboard let go, taking clicks again at the pill only, ready to open on a
// click. Empty when it is; else the parts that are wrong.
QStringList wrongWithCollapsed(const ProbeIsland& island)
{
    const IslandPanelController& c = *island.controller;
    const IslandView& view = *island.view();
    const QRectF pill = c.targetFrame(Mode::collapsed);
    QStringList wrong;
    const auto need = [&wrong](bool holds, const char* what) {
        if (!holds)
            wrong.append(QString::fromLatin1(what));
    };
    need(c.displayMode() == Mode::collapsed && !c.isCollapsing(), "mode");
    need(c.panelFrame() == pill, "stage");
    need(view.geometry() == QRect(QPoint(), pill.size().toSize()), "frame");
    need(near(view.presentationFrame(), QRectF(view.geometry())), "drawn");
    need(!view.hasActiveIslandLayerAnimation(), "animating");
    need(view.expandedRoot()->isHidden() || view.presentationExpandedContentOpacity() == 0, "expandedContent");
    // Over a camera housing the pill shows no content of its own.
    need(!view.collapsedRoot()->isHidden() &&
             (view.collapsedVisualStyle() == Style::hardwareNotch || view.presentationCollapsedContentOpacity() == 1),
         "pillContent");
    need(!view.searchInput()->hasFocus(), "keyboard");
    need(!island.panel()->ignoresMouseEvents(), "ignoresMouse");
    const QRegion shape = island.panel()->islandShape();
    need(!shape.isEmpty() && QRect(QPoint(), pill.size().toSize()).contains(shape.boundingRect()), "inputShape");
    need(c.hasCollapsedClickMonitors() && !c.hasClickMonitors(), "clickMonitors");
    return wrong;
}

void expectCollapsed(Probe& probe, const QString& name, const ProbeIsland& island)
{
    const QStringList wrong = wrongWithCollapsed(island);
    if (!probe.expect(name, wrong.isEmpty()))
        probe.report(name + QStringLiteral(".wrong"), wrong.join(u','));
}

QuillomareCore::CaptureFeedback sampleFeedback()
{
    QuillomareCore::CaptureFeedback feedback;
    feedback.kind = QuillomareCore::ClipKind::text;
    feedback.sourceAppName = QStringLiteral("Probe");
    return feedback;
}

// The mean lightness (0…255) of a part of the screen as the display shows it; nothing where the
// platform keeps no screen to read (offscreen, where each window is drawn on its own).
std::optional<double> screenLightness(const QRect& area)
{
    if (QGuiApplication::platformName() != QStringLiteral("xcb") || area.isEmpty())
        return std::nullopt;
    const QImage image = QGuiApplication::primaryScreen()
                             ->grabWindow(0, area.x(), area.y(), area.width(), area.height())
                             .toImage()
                             .convertToFormat(QImage::Format_RGB32);
    if (image.isNull())
        return std::nullopt;
    double sum = 0;
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x)
            sum += QColor(image.pixel(x, y)).lightness();
    }
    return sum / (image.width() * image.height());
}

} // namespace

// The morph between the collapsed and the expanded island: opened by a click on the pill, closed
// as the shell closes it; each drawn frame between the two, and where each ends.
void animProbe(Probe& probe)
{
    ProbeIsland& island = buildIsland();
    IslandPanelController* c = island.controller.get();
    const QRectF expanded = c->targetFrame(Mode::expanded);
    const QRectF collapsed = c->targetFrame(Mode::collapsed);
    // Both morphs run on the expanded stage.
    const QRectF from = inStage(collapsed, expanded);
    const QRectF to = inStage(expanded, expanded);
    const QRect stage = island.panel()->geometry();
    auto startedAt = std::make_shared<qint64>(0);
    probe.report(QStringLiteral("reduceMotion"), Platform::MotionPreferences::reduceMotion());

    Script(probe)
        .step(QStringLiteral("launched"), {}, [&island] { return island.isSettled(Mode::collapsed); })
        .step(
            QStringLiteral("expand"),
            [&island, startedAt] {
                *startedAt = island.now();
                clickPill(island);
            },
            [&island] { return island.isSettled(Mode::expanded); },
            [&island, &probe, startedAt, from, to, stage] {
                // The frames from the stage's growth on: the pill was still drawn on its own
                // small stage until then.
                std::vector<Frame> frames;
                bool leftStage = false;
                for (const Frame& frame : island.framesSince(*startedAt)) {
                    if (frame.stage.size() == to.size().toSize())
                        frames.push_back(frame);
                    else
                        leftStage = leftStage || !frames.empty();
                }
                probe.report(QStringLiteral("expand.ms"), island.now() - *startedAt);
                // The stage grows around the pill: its first frame shows the pill where it was.
                const QRectF first = frames.empty() ? QRectF() : frames.front().surface;
                if (!probe.expect(QStringLiteral("expand.startsAtPill"), near(first, from)))
                    probe.report(QStringLiteral("expand.startedAt"), text(first));
                probe.expect(QStringLiteral("expand.onExpandedStage"),
                             !leftStage && stage != island.panel()->geometry());
                // The expanding spring (damping 0.8) overshoots by under 2 %.
                checkMorph(probe, QStringLiteral("expand"), frames, from, to,
                           0.05 * std::max(to.width() - from.width(), to.height() - from.height()) + 1);
                const IslandView& view = *island.view();
                QStringList wrong;
                if (view.geometry() != to.toRect() || !near(view.presentationFrame(), to, 0))
                    wrong.append(QStringLiteral("frame:") + text(view.presentationFrame()));
                if (view.expandedRoot()->isHidden() || view.presentationExpandedContentOpacity() != 1)
                    wrong.append(QStringLiteral("expandedContent"));
                if (!view.collapsedRoot()->isHidden() && view.presentationCollapsedContentOpacity() != 0)
                    wrong.append(QStringLiteral("pillContent"));
                if (view.presentationBackground() != view.surfaceLook(Mode::expanded).background)
                    wrong.append(QStringLiteral("look"));
                if (!probe.expect(QStringLiteral("expand.endsExactly"), wrong.isEmpty()))
                    probe.report(QStringLiteral("expand.wrong"), wrong.join(u','));
            })
        .step(
            QStringLiteral("collapse"),
            [&island, startedAt] {
                *startedAt = island.now();
                island.controller->hide();
            },
            [&island] { return island.isSettled(Mode::collapsed); },
            [&island, &probe, startedAt, from, to] {
                probe.report(QStringLiteral("collapse.ms"), island.now() - *startedAt);
                std::vector<Frame> onStage;
                bool strayFrame = false;
                const QRectF pill(QPointF(), from.size());
                for (const Frame& frame : island.framesSince(*startedAt)) {
                    if (frame.stage.size() == to.size().toSize())
                        onStage.push_back(frame);
                    else // the small stage only once the pill has settled
                        strayFrame = strayFrame || !near(frame.surface, pill, 0);
                }
                probe.expect(QStringLiteral("collapse.stageHeldUntilSettled"), !strayFrame);
                // The collapsing spring is critically damped: nothing smaller than the pill.
                checkMorph(probe, QStringLiteral("collapse"), onStage, to, from, 0.5);
                expectCollapsed(probe, QStringLiteral("collapse.endsExactly"), island);
            })
        .start();
}

// The expanded island closes on each of its triggers and ends collapsed with its content hidden:
// Escape in the search field (through the Hide relay to the shell), a click in another window of
// the program, another program becoming active (after the opening's grace) and a click elsewhere
// on the desktop (after the opening's guard); clicks in the island itself leave it open.
void collapseProbe(Probe& probe)
{
    ProbeIsland& island = buildIsland();
    IslandPanelController* c = island.controller.get();
    // The shell's handler behind the relayed Hide.
    c->onHide = [c] { c->hide(); };
    QWidget* other = island.addWindow(QStringLiteral("Another window"), QRect(40, 200, 200, 120), Qt::lightGray);

    const auto settledExpanded = [&island] { return island.isSettled(Mode::expanded); };
    const auto settledCollapsed = [&island] { return island.isSettled(Mode::collapsed); };
    // The trigger starts the collapse at once; where it ends is checked once it has settled.
    const auto trigger = [&island, &probe](const QString& name, std::function<void()> fire) {
        return [&island, &probe, name, fire] {
            fire();
            probe.expect(name + QStringLiteral(".startsCollapse"), island.controller->displayMode() == Mode::collapsed);
        };
    };
    // What the desktop-wide monitor decides on a mouse-up in another program, beside the stage.
    const auto clickElsewhere = [c] {
        const QRectF panel = c->panelFrame();
        c->collapseIfClickIsOutside(QPointF(panel.x() - 40, panel.y() - 40));
    };
    const auto stillOpen = [&island, &probe](const QString& name) {
        return [&island, &probe, name] {
            probe.expect(name,
                         island.controller->displayMode() == Mode::expanded && !island.controller->isCollapsing());
        };
    };

    Script(probe)
        .step(QStringLiteral("launched"), {}, settledCollapsed)
        // The hot key's opening: the search field has the keyboard.
        .step(
            QStringLiteral("openForEscape"), [c] { c->show(false, true); }, settledExpanded,
            [&island, &probe] {
                probe.expect(QStringLiteral("searchFocused"), island.view()->searchInput()->hasFocus());
            })
        .step(QStringLiteral("escape"),
              trigger(QStringLiteral("escape"), [&island] { pressKey(island.panel(), Qt::Key_Escape); }),
              settledCollapsed,
              [&island, &probe] { expectCollapsed(probe, QStringLiteral("escape.collapsed"), island); })
        // A click on the pill opens it; a click in the island's own search field keeps it open.
        .step(
            QStringLiteral("openByClick"), [&island] { clickPill(island); }, settledExpanded)
        .step(QStringLiteral("clickInIsland"),
              [&island] {
                  QLineEdit* field = island.view()->searchInput();
                  click(field, QRectF(field->rect()).center());
              })
        .pause(QStringLiteral("afterClickInIsland"), 700)
        .step(QStringLiteral("islandClickKeepsOpen"), stillOpen(QStringLiteral("clickInIsland.staysOpen")))
        .step(QStringLiteral("otherWindow"),
              trigger(QStringLiteral("otherWindow"),
                      [other] {
                          other->show();
                          click(other, QPointF(100, 60));
                      }),
              settledCollapsed,
              [&island, &probe, other] {
                  other->hide();
                  expectCollapsed(probe, QStringLiteral("otherWindow.collapsed"), island);
              })
        // Another program becoming active right after the user's opening (within its 2-s grace)
        // leaves it open; later it closes it.
        .step(QStringLiteral("openForWorkspace"),
              [c] {
                  c->show(false, false);
                  c->collapseIfExpanded();
              })
        .step(QStringLiteral("workspaceGrace"), stillOpen(QStringLiteral("workspaceWithinGrace.staysOpen")))
        .step(QStringLiteral("workspaceSettles"), {}, settledExpanded)
        .pause(QStringLiteral("workspaceGraceEnds"), 2100)
        .step(QStringLiteral("workspace"), trigger(QStringLiteral("workspace"), [c] { c->collapseIfExpanded(); }),
              settledCollapsed,
              [&island, &probe] { expectCollapsed(probe, QStringLiteral("workspace.collapsed"), island); })
        // A click elsewhere right after the opening (within its 0.6-s guard) leaves it open; later
        // it closes it.
        .step(QStringLiteral("openForOutside"),
              [c, clickElsewhere] {
                  c->show(false, false);
                  clickElsewhere();
              })
        .step(QStringLiteral("outsideGuard"), stillOpen(QStringLiteral("outsideWithinGuard.staysOpen")))
        .step(QStringLiteral("outsideSettles"), {}, settledExpanded)
        .pause(QStringLiteral("outsideGuardEnds"), 650)
        .step(QStringLiteral("outside"), trigger(QStringLiteral("outside"), clickElsewhere), settledCollapsed,
              [&island, &probe] { expectCollapsed(probe, QStringLiteral("outside.collapsed"), island); })
        .start();
}

// The capture echo grows out of the pill, shows its badge, and retracts back into the pill: the
// badge hidden, never an empty capsule on the way, the pill's content, stage and input shape as
// before, and a click on the pill opens the island again.
void echoRetractProbe(Probe& probe)
{
    ProbeIsland& island = buildIsland();
    IslandPanelController* c = island.controller.get();
    const bool reduceMotion = Platform::MotionPreferences::reduceMotion();
    const QRectF expanded = c->targetFrame(Mode::expanded);
    const QRectF collapsed = c->targetFrame(Mode::collapsed);
    const QRectF echo = inStage(c->targetFrame(Mode::collapsed, true), expanded);
    const QRectF pillOnStage = inStage(collapsed, expanded);
    const QSize bigStage = expanded.size().toSize();
    auto startedAt = std::make_shared<qint64>(0);
    probe.report(QStringLiteral("reduceMotion"), reduceMotion);

    Script(probe)
        .step(QStringLiteral("launched"), {}, [&island] { return island.isSettled(Mode::collapsed); })
        .step(
            QStringLiteral("echo"),
            [&island, &probe, c, expanded, startedAt] {
                *startedAt = island.now();
                c->flashCaptureEcho(sampleFeedback());
                const CaptureEchoHUDView* hud = island.view()->captureEchoHUD();
                probe.expect(QStringLiteral("echo.onExpandedStage"), c->panelFrame() == expanded);
                probe.expect(QStringLiteral("echo.clicksPassThrough"), island.panel()->ignoresMouseEvents());
                probe.expect(QStringLiteral("echo.badgeShown"), hud && !hud->isHidden());
            },
            [&island] { return island.isSettled(Mode::collapsed); },
            [&island, &probe, reduceMotion, startedAt, echo, pillOnStage, collapsed, bigStage] {
                const qint64 shown = island.now() - *startedAt;
                probe.report(QStringLiteral("echo.ms"), shown);
                // Shown 1.57 s and retracted in 0.26 s; with Reduce Motion shown 1.0 s, no retract.
                probe.expect(QStringLiteral("echo.stayedItsTime"), shown >= (reduceMotion ? 1000 : 1570 + 260) - 20);

                // The retract: shrinking toward the pill, never below it, and never an empty
                // capsule (a shell larger than the pill with neither the badge nor the pill's
                // content on it) beyond the instant in which the one hands over to the other.
                const bool pillStyle = island.view()->collapsedVisualStyle() == Style::floatingPill;
                std::vector<Frame> retract;
                bool stray = false;
                bool grown = false;
                for (const Frame& frame : island.framesSince(*startedAt)) {
                    if (frame.stage.size() != bigStage) {
                        stray = stray || !near(frame.surface, QRectF(QPointF(), collapsed.size()), 0);
                        continue;
                    }
                    grown = grown || near(frame.surface, echo, 0);
                    if (!retract.empty() || (grown && frame.surface.width() < echo.width() - 0.5))
                        retract.push_back(frame);
                }
                // The echo at its full size, with the badge and without the pill's content.
                bool echoShown = false;
                bool pillShownOnEcho = false;
                for (const Frame& frame : island.framesSince(*startedAt)) {
                    if (frame.stage.size() == bigStage && near(frame.surface, echo, 0)) {
                        echoShown = echoShown || frame.badge > 0.99;
                        pillShownOnEcho = pillShownOnEcho || frame.pill > 0;
                    }
                }
                probe.report(QStringLiteral("echo.frame"), text(echo));
                probe.expect(QStringLiteral("echo.grewToEcho"),
                             echo.width() >= 280 && echo.height() >= 58 && echoShown);
                probe.expect(QStringLiteral("echo.pillContentHidden"), !pillShownOnEcho);

                std::optional<qint64> firstEmpty, lastEmpty;
                for (const Frame& frame : retract) {
                    if (frame.surface.width() > pillOnStage.width() + 1 && frame.badge < 0.01 && frame.pill < 0.01) {
                        firstEmpty = firstEmpty.value_or(frame.at);
                        lastEmpty = frame.at;
                    }
                }
                if (!pillStyle || reduceMotion)
                    probe.report(QStringLiteral("retract.frames"), qint64(retract.size()));
                if (pillStyle && !reduceMotion)
                    checkMorph(probe, QStringLiteral("retract"), retract, echo, pillOnStage, 0.5);
                const qint64 emptyFor = firstEmpty ? *lastEmpty - *firstEmpty : -1;
                probe.report(QStringLiteral("retract.emptyCapsuleMs"), emptyFor);
                probe.expect(QStringLiteral("retract.neverAnEmptyCapsule"), !pillStyle || emptyFor <= 25);
                probe.expect(QStringLiteral("retract.stageHeldUntilSettled"), !stray);

                const IslandView& view = *island.view();
                const CaptureEchoHUDView* hud = view.captureEchoHUD();
                probe.expect(QStringLiteral("retract.badgeHidden"), hud && hud->isHidden() && hud->badgeOpacity() == 0);
                probe.expect(QStringLiteral("retract.pillLook"),
                             view.presentationBackground() == view.surfaceLook(Mode::collapsed).background &&
                                 view.presentationCornerRadius() == view.surfaceLook(Mode::collapsed).cornerRadius &&
                                 (!pillStyle || IslandView::alphaValue(view.collapsedRoot()) == 1));
                expectCollapsed(probe, QStringLiteral("retract.endsOnPill"), island);
            })
        // The click behaviour is back: a click on the pill opens the island.
        .step(
            QStringLiteral("clickOpens"), [&island] { clickPill(island); },
            [c] { return c->displayMode() == Mode::expanded; },
            [&probe, &island] {
                probe.expect(QStringLiteral("clickOnPillOpens"), !island.view()->isCaptureEchoShown());
            })
        .start();
}

namespace {

// Where the island's rectangles lie on a screen, worked out from the screen alone (y-up).
struct StageRects
{
    bool notched = false;
    QRectF collapsed, expanded, echo;
};

StageRects expectedStage(const Platform::ScreenDescription& screen, bool notched)
{
    const QRectF& s = screen.frame;
    const QRectF& v = screen.visibleFrame;
    const double strip = std::max(0.0, maxY(s) - maxY(v));
    const double edge = notched ? maxY(s) + 2 : maxY(v) - 6;
    const auto hanging = [&s](QSizeF size, double top) {
        return QRectF(std::round(s.center().x() - size.width() / 2), std::round(top - size.height()), size.width(),
                      size.height());
    };
    QSizeF pill(185, 32);
    if (notched) {
        if (screen.auxiliaryTopLeftArea && screen.auxiliaryTopRightArea) {
            const double width =
                s.width() - screen.auxiliaryTopLeftArea->width() - screen.auxiliaryTopRightArea->width() + 4;
            if (std::isfinite(width) && width >= 120)
                pill.setWidth(std::round(width));
        }
        pill.setHeight(strip > 32 ? std::round(strip) : 32);
    }
    const double top = notched ? strip + 6 : 0;
    const double width = std::max(1.0, std::min(780.0, std::floor(v.width() * 0.82)));
    const double height = std::max(
        1.0, std::min({std::max(1.0, std::floor(edge - v.y() - 16)), top + std::floor(v.height() * 0.85), top + 430}));
    StageRects rects;
    rects.notched = notched;
    rects.collapsed = hanging(pill, edge);
    rects.expanded = hanging(QSizeF(width, height), edge);
    rects.echo =
        hanging(QSizeF(std::max(pill.width(), 280.0), std::max(pill.height(), 58.0)), notched ? maxY(v) : maxY(v) - 6);
    return rects;
}

} // namespace

// The panel's stages: hidden and click-through before the first showing; then at the top centre
// of the screen the collapsed pill, the expanded island, the stage held large while the island
// collapses inside it, and the echo on the large stage letting clicks through; always above the
// other windows, and (where the display can be read back) showing only the island itself.
void stageProbe(Probe& probe)
{
    ProbeIsland& island = buildIsland(false);
    IslandPanelController* c = island.controller.get();
    IslandPanel* panel = island.panel();
    const Platform::ScreenDescription screen = c->targetScreen();
    c->targetFrame(Mode::collapsed);
    const StageRects rects = expectedStage(screen, island.view()->collapsedVisualStyle() == Style::hardwareNotch);
    const auto screens = Platform::ScreenInfo::system();
    const QRect collapsedQt = screens->toQt(rects.collapsed).toRect();
    const QRect expandedQt = screens->toQt(rects.expanded).toRect();
    const QRect echoQt = screens->toQt(rects.echo).toRect();
    probe.report(QStringLiteral("screen"),
                 (screen.name.isEmpty() ? QStringLiteral("unnamed") : screen.name) + u' ' + text(screen.frame));
    probe.report(QStringLiteral("notched"), rects.notched);

    probe.expect(QStringLiteral("beforeShowing.hiddenAndClickThrough"),
                 !panel->isVisible() && panel->ignoresMouseEvents() && c->panelFrame() == rects.collapsed);
    const Qt::WindowFlags flags = panel->windowFlags();
    probe.expect(QStringLiteral("panel.aboveOthersWithoutFrame"),
                 flags.testFlags(Qt::WindowStaysOnTopHint | Qt::FramelessWindowHint | Qt::Tool));

    // A bright window of another kind below the island, so that what the display shows of the
    // island and of the stage around it can be told apart.
    QWidget* backdrop = island.addWindow(QStringLiteral("Backdrop"), expandedQt.adjusted(-60, 0, 60, 60), Qt::white);
    auto looked = std::make_shared<bool>(false);

    // The panel's rectangle, the island view's and the screen's top centre for one stage.
    const auto expectStage = [&probe, &island, screen](const QString& name, const QRect& stage,
                                                       const QRectF& islandRect) {
        const QRect panelRect = island.panel()->geometry();
        const QRect viewRect = island.view()->geometry().translated(panelRect.topLeft());
        probe.report(name + QStringLiteral(".panel"), text(QRectF(panelRect)));
        probe.expect(name + QStringLiteral(".stage"), panelRect == stage);
        probe.expect(name + QStringLiteral(".island"), viewRect == islandRect.toRect());
        QScreen* qscreen = screen.screen ? screen.screen.data() : QGuiApplication::primaryScreen();
        probe.expect(name + QStringLiteral(".topCentre"),
                     std::abs(QRectF(viewRect).center().x() - QRectF(qscreen->geometry()).center().x()) <= 1);
    };
    // What the display shows: the island dark over the bright backdrop, the stage around it not at all.
    const auto displayShows = [looked, backdrop](const QRect& islandRect, const QRect& around) {
        const auto dark = screenLightness(islandRect.adjusted(4, 4, -4, -4));
        // Where the window manager put the backdrop elsewhere, only the island can be looked at.
        const bool covered = !around.isEmpty() && backdrop->geometry().contains(around);
        const auto bright = covered ? screenLightness(around) : std::optional<double>(255);
        if (!dark || !bright)
            return true;
        *looked = true;
        return *dark < 110 && *bright > 200;
    };
    const auto expectDisplay = [&probe, displayShows](const QString& name, const QRect& islandRect,
                                                      const QRect& around) {
        if (QGuiApplication::platformName() == QStringLiteral("xcb"))
            probe.expect(name + QStringLiteral(".displayShowsOnlyTheIsland"), displayShows(islandRect, around));
    };
    // Settled with what the display shows caught up (bounded by the step's bound).
    const auto shown = [displayShows](std::function<bool()> settled, QRect islandRect, QRect around) {
        return [displayShows, settled, islandRect, around] {
            return settled() &&
                   (QGuiApplication::platformName() != QStringLiteral("xcb") || displayShows(islandRect, around));
        };
    };
    // Beside the pill, and the expanded stage's lower corner outside the echo.
    const QRect besidePill(collapsedQt.right() + 12, collapsedQt.top() + 4, 30, 20);
    const QRect stageCorner(expandedQt.left() + 6, expandedQt.bottom() - 26, 30, 20);

    Script(probe)
        .step(
            QStringLiteral("backdrop"), [backdrop] { backdrop->show(); },
            [backdrop] { return backdrop->windowHandle() && backdrop->windowHandle()->isExposed(); })
        .pause(QStringLiteral("backdropSettles"), 200)
        .step(
            QStringLiteral("collapsed"), [&island] { island.launch(); },
            shown(
                [&island] { return island.isSettled(Mode::collapsed) && island.panel()->windowHandle()->isExposed(); },
                collapsedQt, besidePill),
            [&probe, &island, expectStage, expectDisplay, collapsedQt, besidePill] {
                expectStage(QStringLiteral("collapsed"), collapsedQt, QRectF(collapsedQt));
                const QRegion shape = island.panel()->islandShape();
                probe.expect(QStringLiteral("collapsed.takesClicksAtThePill"),
                             !island.panel()->ignoresMouseEvents() && !shape.isEmpty() &&
                                 shape.boundingRect() == QRect(QPoint(), collapsedQt.size()));
                probe.expect(QStringLiteral("collapsed.keyboardLeftAlone"), !island.panel()->isKeyWindow());
                expectDisplay(QStringLiteral("collapsed"), collapsedQt, besidePill);
            })
        // The program's own opening (after a capture): expanded, still without the keyboard.
        .step(
            QStringLiteral("expanded"), [c] { c->show(true, false); },
            shown([&island] { return island.isSettled(Mode::expanded); }, expandedQt, QRect()),
            [&probe, &island, expectStage, expectDisplay, expandedQt] {
                expectStage(QStringLiteral("expanded"), expandedQt, QRectF(expandedQt));
                const QRegion shape = island.panel()->islandShape();
                probe.expect(QStringLiteral("expanded.takesClicksOnTheIsland"),
                             !island.panel()->ignoresMouseEvents() &&
                                 shape.boundingRect() == QRect(QPoint(), expandedQt.size()));
                probe.expect(QStringLiteral("expanded.keyboardLeftAlone"), !island.panel()->isKeyWindow());
                expectDisplay(QStringLiteral("expanded"), expandedQt, QRect());
            })
        .step(
            QStringLiteral("collapsing"),
            [&probe, &island, c, expandedQt] {
                c->hide();
                const bool animated = !Platform::MotionPreferences::reduceMotion();
                probe.expect(QStringLiteral("collapsing.stageHeldAndClickThrough"),
                             !animated || (island.panel()->geometry() == expandedQt &&
                                           island.panel()->ignoresMouseEvents() && c->isCollapsing()));
            },
            shown([&island] { return island.isSettled(Mode::collapsed); }, collapsedQt, besidePill),
            [expectStage, collapsedQt] {
                expectStage(QStringLiteral("collapsedAgain"), collapsedQt, QRectF(collapsedQt));
            })
        .step(
            QStringLiteral("echo"), [c] { c->flashCaptureEcho(sampleFeedback()); },
            shown(
                [&island, echoQt, expandedQt] {
                    return island.view()->geometry().size() == echoQt.size() &&
                           !island.view()->hasActiveIslandLayerAnimation() && island.panel()->geometry() == expandedQt;
                },
                echoQt, stageCorner),
            [&probe, &island, expectStage, expectDisplay, expandedQt, echoQt, stageCorner] {
                expectStage(QStringLiteral("echo"), expandedQt, QRectF(echoQt));
                probe.expect(QStringLiteral("echo.clickThrough"), island.panel()->ignoresMouseEvents());
                expectDisplay(QStringLiteral("echo"), echoQt, stageCorner);
            })
        .step(
            QStringLiteral("echoEnds"), {}, [&island] { return island.isSettled(Mode::collapsed); },
            [&probe, &island, expectStage, collapsedQt, looked] {
                expectStage(QStringLiteral("afterEcho"), collapsedQt, QRectF(collapsedQt));
                probe.expect(QStringLiteral("afterEcho.takesClicksAgain"), !island.panel()->ignoresMouseEvents());
                probe.report(QStringLiteral("displayReadBack"), *looked);
            })
        .start();
}

} // namespace QuillomareMac::UserInterfaceProbe
