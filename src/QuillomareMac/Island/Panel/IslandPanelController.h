#pragma once

// Decides when the island is collapsed or expanded, places its panel (the stage) and its view,
// plays the capture echo, and relays every action of the island view to the application shell
// through callback properties of its own.
//
// Coordinates: screen rectangles (targetFrame, the activation and echo rectangles, the panel's
// frame) are y-up, as Platform::ScreenInfo describes; rectangles of the island view inside the
// panel ("canvas" rectangles) are Qt's y-down widget coordinates of the panel's content.
// `canvasFrame` converts the first into the second.

#include "Island/IslandCallbacks.h"
#include "IslandEventMonitors.h"
#include "Island/IslandView.h"
#include "NotchAnchor.h"

#include <Platform/ScreenInfo.h>

#include <QObject>
#include <QPointer>

#include <functional>
#include <memory>
#include <optional>

namespace QuillomareMac {

class IslandCanvasView;
class IslandPanel;
class WorkItem;

// What the controller uses of the desktop; tests put fakes in.
struct IslandPanelEnvironment
{
    std::shared_ptr<Platform::ScreenInfo> screens;
    std::shared_ptr<IslandEventMonitors> monitors;
    // Whether an application-modal window is up.
    std::function<bool()> isModalWindowUp;

    static IslandPanelEnvironment system();
};

// The controller relays each action of the island view through the callback of the same name.
class IslandPanelController : public QObject, public IslandCallbacks
{
    Q_OBJECT

public:
    using DisplayMode = IslandView::DisplayMode;

    explicit IslandPanelController(IslandPanelEnvironment environment = IslandPanelEnvironment::system());
    ~IslandPanelController() override;

    IslandPanel* panel() const { return m_panel; }
    IslandView* islandView() const { return m_islandView; }
    IslandCanvasView* canvasView() const { return m_canvasView; }
    DisplayMode displayMode() const { return m_displayMode; }
    bool isCollapsing() const { return m_isCollapsing; }
    // The pending automatic hide; the shell may cancel it.
    const std::shared_ptr<WorkItem>& hideWorkItem() const { return m_hideWorkItem; }

    // MARK: Operations of the shell
    // Expands the island. autoHide false is a user opening (the program takes the keyboard and
    // another program's activation does not collapse the island for 2 s); true is the program
    // showing it, without taking the keyboard, and collapsing again 7 s later (or once a longer
    // message has been shown) unless the user has the island's keyboard by then.
    void show(bool autoHide, bool focusSearch);
    // Collapses unless a modal window is up (before the shell opens a window or another program).
    void hide();
    // Another program became active.
    void collapseIfExpanded();
    void flashCaptureEcho(const QuillomareCore::CaptureFeedback& feedback);
    // The single state switch.
    void transition(DisplayMode mode, bool animated);

    void installClickMonitors();
    void removeClickMonitors();
    void installCollapsedClickMonitors();
    void removeCollapsedClickMonitors();
    bool hasClickMonitors() const { return m_outsideClickMonitor || m_localClickMonitor; }
    bool hasCollapsedClickMonitors() const { return m_collapsedClickMonitor || m_collapsedLocalClickMonitor; }

    // MARK: Geometry (y-up screen rectangles)
    Platform::ScreenDescription targetScreen() const;
    // Also tells the island view the layout values of the screen.
    QRectF targetFrame(DisplayMode mode) const;
    QRectF targetFrame(DisplayMode mode, bool echoActive) const;
    QSizeF size(DisplayMode mode, const Platform::ScreenDescription& screen, const NotchAnchor& anchor) const;
    QRectF collapsedActivationFrame(const QPointF& location) const;
    void ensureStageFrame(DisplayMode mode, bool displayImmediately);
    std::optional<Platform::ScreenDescription> preferredBuiltInScreen() const;
    std::optional<Platform::ScreenDescription> screen(const QPointF& containing) const;
    // The panel's frame, y-up.
    QRectF panelFrame() const;
    // A y-up screen rectangle in the panel's content (Qt y-down).
    QRectF canvasFrame(const QRectF& screenRect) const;

    // MARK: Internal steps (public for tests)
    void collapseIfClickIsOutside(const QPointF& location);
    void animateEchoFrame();

protected:
    // Follows the island view's drawn surface into the panel's shape.
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void updatePanelShape();
    void wireIslandViewCallbacks();
    template <typename... Args>
    void relay(std::function<void(Args...)>& viewCallback, std::function<void(Args...)> IslandCallbacks::*property);
    void pushLayout(const IslandGeometry::LayoutPushes& pushes) const;
    void settleCollapsed();
    void cancelHideWorkItem();
    // Collapses the island `delay` from now (see show()), or once the message it shows has gone.
    void scheduleAutomaticHide(qint64 delay);
    bool panelMouseDown(QMouseEvent* event);
    bool collapsedClickOpens(const QPointF& location) const;
    bool isModalWindowUp() const;
    qint64 now() const;
    QPointF pointerLocation() const;

    IslandPanelEnvironment m_environment;
    IslandPanel* m_panel = nullptr;
    IslandView* m_islandView = nullptr;
    IslandCanvasView* m_canvasView = nullptr;

    std::optional<Platform::ScreenDescription> m_stageScreen;
    std::optional<DisplayMode> m_stageMode;
    DisplayMode m_displayMode = DisplayMode::collapsed;
    // The width the current echo's badge asks for (its texts on one line).
    double m_echoContentWidth = 0;

    std::shared_ptr<WorkItem> m_hideWorkItem;
    std::unique_ptr<IslandEventMonitor> m_outsideClickMonitor;
    std::unique_ptr<IslandEventMonitor> m_localClickMonitor;
    std::unique_ptr<IslandEventMonitor> m_collapsedClickMonitor;
    std::unique_ptr<IslandEventMonitor> m_collapsedLocalClickMonitor;
    std::optional<qint64> m_suppressWorkspaceCollapseUntil;
    bool m_isCollapsing = false;
    bool m_panelShapeUpdatePending = false;
    std::optional<qint64> m_lastPanelMouseDownAt;
    std::optional<qint64> m_lastExpandShownAt;
};

} // namespace QuillomareMac
