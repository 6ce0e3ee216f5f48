// The island's states: opening, closing, the automatic hide and its grace, the capture echo and
// the click monitors that open and close the island.

#include "IslandPanel.h"
#include "IslandPanelController.h"
#include "Island/IslandView.h"
#include "Island/Kit/IslandScheduler.h"
#include "Island/Kit/IslandToastView.h"

#include <Platform/MotionPreferences.h>

#include <QMouseEvent>

namespace QuillomareMac {

namespace {

constexpr qint64 kAutoHideDelay = 7000;
constexpr qint64 kWorkspaceCollapseGrace = 2000;
constexpr qint64 kOpeningGuard = 600;
constexpr qint64 kPanelPressGuard = 450;

} // namespace

void IslandPanelController::cancelHideWorkItem()
{
    if (m_hideWorkItem)
        m_hideWorkItem->cancel();
    m_hideWorkItem.reset();
}

void IslandPanelController::show(bool autoHide, bool focusSearch)
{
    const bool opening = !m_panel->isVisible() || m_displayMode != DisplayMode::expanded || m_isCollapsing;
    m_isCollapsing = false;
    const bool alreadyKey = autoHide && m_displayMode == DisplayMode::expanded && m_panel->isKeyWindow();

    if (!m_panel->isVisible()) {
        // The expansion grows out of the collapsed island.
        ensureStageFrame(DisplayMode::collapsed, true);
        m_islandView->setDisplayMode(DisplayMode::collapsed, false);
        m_islandView->setGeometry(canvasFrame(targetFrame(DisplayMode::collapsed)).toAlignedRect());
        m_displayMode = DisplayMode::collapsed;
    }
    if (!autoHide)
        m_suppressWorkspaceCollapseUntil = now() + kWorkspaceCollapseGrace;

    if (focusSearch) {
        m_panel->makeKeyAndOrderFront();
        m_islandView->setContentMode(IslandView::ContentMode::history, false);
    } else if (!autoHide || alreadyKey) {
        m_panel->makeKeyAndOrderFront();
    } else {
        m_panel->orderFrontRegardless();
    }
    if (opening)
        m_islandView->prepareHistoryForOpening();
    m_lastExpandShownAt = now();
    transition(DisplayMode::expanded, true);
    if (!autoHide)
        m_panel->activateApplication();
    if (focusSearch)
        m_islandView->focusSearch();

    cancelHideWorkItem();
    if (autoHide && !alreadyKey)
        scheduleAutomaticHide(kAutoHideDelay);
}

void IslandPanelController::scheduleAutomaticHide(qint64 delay)
{
    QPointer<IslandPanelController> weak(this);
    m_hideWorkItem = IslandScheduler::shared().schedule(delay, this, [weak] {
        if (!weak || weak->isModalWindowUp())
            return;
        // The user took the island's keyboard meanwhile: it is theirs now.
        if (weak->m_panel->isKeyWindow())
            return;
        // A long message is still being read: the island closes once it is gone, not under it.
        const IslandToastView* toast = weak->m_islandView->transientToast();
        if (const qint64 reading = toast ? toast->remainingMilliseconds() : 0; reading > 0) {
            weak->scheduleAutomaticHide(reading);
            return;
        }
        weak->cancelHideWorkItem();
        weak->transition(DisplayMode::collapsed, true);
        weak->m_panel->orderFrontRegardless();
    });
}

void IslandPanelController::hide()
{
    if (isModalWindowUp())
        return;
    cancelHideWorkItem();
    transition(DisplayMode::collapsed, true);
    m_panel->orderFrontRegardless();
}

void IslandPanelController::transition(DisplayMode mode, bool animated)
{
    const bool visible = m_panel->isVisible();
    if (animated && visible && m_displayMode == mode) {
        if (mode == DisplayMode::expanded && !m_isCollapsing)
            return;
        if (mode == DisplayMode::collapsed && m_isCollapsing)
            return;
    }
    ensureStageFrame((mode == DisplayMode::expanded || animated) ? DisplayMode::expanded : DisplayMode::collapsed,
                     true);
    m_displayMode = mode;
    const bool reduceMotion = Platform::MotionPreferences::reduceMotion();

    if (mode == DisplayMode::expanded) {
        m_isCollapsing = false;
        removeCollapsedClickMonitors();
        installClickMonitors();
        m_panel->setIgnoresMouseEvents(false);
    } else {
        const bool collapsing = animated && visible && !reduceMotion;
        m_isCollapsing = collapsing;
        m_panel->clearFirstResponder();
        removeClickMonitors();
        removeCollapsedClickMonitors();
        m_panel->setIgnoresMouseEvents(collapsing);
        if (!collapsing) {
            installCollapsedClickMonitors();
            m_panel->setIgnoresMouseEvents(false);
        }
    }

    const QRectF target = canvasFrame(targetFrame(mode));
    const QRectF current = QRectF(m_islandView->geometry());
    if (animated && !reduceMotion && visible) {
        const bool expanding = mode == DisplayMode::expanded;
        QPointer<IslandPanelController> weak(this);
        m_islandView->morph(current, target, expanding, expanding ? 0.42 : 0.45, expanding ? 0.8 : 1.0,
                            [weak, mode] {
                                if (weak && mode == DisplayMode::collapsed
                                    && weak->m_displayMode == DisplayMode::collapsed)
                                    weak->settleCollapsed();
                            });
        return;
    }
    m_islandView->setDisplayMode(mode, false);
    m_islandView->setGeometry(target.toAlignedRect());
    if (mode == DisplayMode::collapsed && m_displayMode == DisplayMode::collapsed)
        settleCollapsed();
}

void IslandPanelController::settleCollapsed()
{
    ensureStageFrame(DisplayMode::collapsed, true);
    m_islandView->syncBackingLayerToCurrentFrameWithoutAnimation();
    m_isCollapsing = false;
    installCollapsedClickMonitors();
    m_panel->setIgnoresMouseEvents(false);
}

void IslandPanelController::collapseIfExpanded()
{
    if (m_displayMode != DisplayMode::expanded || isModalWindowUp())
        return;
    if (m_suppressWorkspaceCollapseUntil && now() < *m_suppressWorkspaceCollapseUntil)
        return;
    cancelHideWorkItem();
    transition(DisplayMode::collapsed, true);
    m_panel->orderFrontRegardless();
}

void IslandPanelController::flashCaptureEcho(const QuillomareCore::CaptureFeedback& feedback)
{
    if (m_displayMode != DisplayMode::collapsed)
        return;
    cancelHideWorkItem();
    // An echo that starts while the island is still collapsing takes over from the collapse (the
    // island view holds the collapse's end until the echo's). The island is collapsed from here
    // on: a click on the pill opens it, also while copies keep the echo going and the collapse's
    // settling (which would install the collapsed monitors) never comes.
    m_isCollapsing = false;
    installCollapsedClickMonitors();
    m_panel->orderFrontRegardless();
    m_panel->setIgnoresMouseEvents(true);
    m_echoContentWidth = IslandView::captureEchoWidth(feedback);
    animateEchoFrame();
    m_islandView->presentCaptureEcho(feedback, canvasFrame(targetFrame(DisplayMode::collapsed)));
}

void IslandPanelController::animateEchoFrame()
{
    ensureStageFrame(DisplayMode::expanded, true);
    const QRectF echo = canvasFrame(targetFrame(DisplayMode::collapsed, true));
    if (Platform::MotionPreferences::reduceMotion()) {
        m_islandView->setGeometry(echo.toAlignedRect());
        return;
    }
    m_islandView->morphEchoFrame(QRectF(m_islandView->geometry()), echo, true, nullptr);
}

// MARK: - Clicks

void IslandPanelController::installClickMonitors()
{
    if (m_outsideClickMonitor || m_localClickMonitor)
        return;
    QPointer<IslandPanelController> weak(this);
    m_outsideClickMonitor = m_environment.monitors->addGlobalMonitor(
        IslandMouseMask::anyUp, [weak](const IslandMouseEvent&) {
            if (!weak)
                return;
            // Decided after the click was handled, with the pointer where it is by then.
            IslandScheduler::shared().schedule(0, weak, [weak] {
                if (weak)
                    weak->collapseIfClickIsOutside(weak->pointerLocation());
            });
        });
    m_localClickMonitor = m_environment.monitors->addLocalMonitor(
        IslandMouseMask::anyDown, [weak](const IslandMouseEvent& event) {
            if (!weak || weak->m_displayMode != DisplayMode::expanded)
                return false;
            if (event.window && event.window == weak->m_panel->windowHandle()) {
                weak->m_lastPanelMouseDownAt = weak->now();
            } else if (!weak->isModalWindowUp()) {
                // A click in another window of this program closes the island.
                weak->cancelHideWorkItem();
                weak->transition(DisplayMode::collapsed, true);
                weak->m_panel->orderFrontRegardless();
            }
            return false;
        });
}

void IslandPanelController::removeClickMonitors()
{
    m_outsideClickMonitor.reset();
    m_localClickMonitor.reset();
}

bool IslandPanelController::collapsedClickOpens(const QPointF& location) const
{
    return m_displayMode == DisplayMode::collapsed && !m_isCollapsing && !isModalWindowUp()
        && Platform::ScreenGeometry::mouseInRect(location, collapsedActivationFrame(location));
}

void IslandPanelController::installCollapsedClickMonitors()
{
    if (m_collapsedClickMonitor || m_collapsedLocalClickMonitor)
        return;
    QPointer<IslandPanelController> weak(this);
    m_collapsedClickMonitor = m_environment.monitors->addGlobalMonitor(
        IslandMouseMask::leftDown, [weak](const IslandMouseEvent&) {
            if (!weak)
                return;
            if (weak->collapsedClickOpens(weak->pointerLocation()))
                weak->show(false, false);
        });
    m_collapsedLocalClickMonitor = m_environment.monitors->addLocalMonitor(
        IslandMouseMask::leftDown, [weak](const IslandMouseEvent&) {
            if (!weak || weak->m_displayMode != DisplayMode::collapsed)
                return false;
            if (!weak->collapsedClickOpens(weak->pointerLocation()))
                return false;
            weak->show(false, false);
            return true;
        });
}

void IslandPanelController::removeCollapsedClickMonitors()
{
    m_collapsedClickMonitor.reset();
    m_collapsedLocalClickMonitor.reset();
}

void IslandPanelController::collapseIfClickIsOutside(const QPointF& location)
{
    if (m_displayMode != DisplayMode::expanded || isModalWindowUp())
        return;
    const qint64 current = now();
    if (m_lastExpandShownAt && current - *m_lastExpandShownAt < kOpeningGuard)
        return;
    if (m_lastPanelMouseDownAt && current - *m_lastPanelMouseDownAt < kPanelPressGuard)
        return;
    if (Platform::ScreenGeometry::mouseInRect(location, panelFrame().adjusted(-2, -2, 2, 2)))
        return;
    if (isModalWindowUp())
        return;
    cancelHideWorkItem();
    transition(DisplayMode::collapsed, true);
    m_panel->orderFrontRegardless();
}

bool IslandPanelController::panelMouseDown(QMouseEvent* event)
{
    if (m_displayMode == DisplayMode::expanded)
        m_lastPanelMouseDownAt = now();
    if (m_displayMode == DisplayMode::collapsed && !m_isCollapsing && event->button() == Qt::LeftButton) {
        const QPointF location = pointerLocation();
        if (isModalWindowUp())
            return false;
        if (Platform::ScreenGeometry::mouseInRect(location, collapsedActivationFrame(location))) {
            show(false, false);
            return true;
        }
    }
    return false;
}

} // namespace QuillomareMac
