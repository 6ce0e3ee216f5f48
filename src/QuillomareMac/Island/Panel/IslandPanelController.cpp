// The controller's construction, its geometry and the relay of the island view's actions; its
// states and click monitors are in IslandPanelControllerStates.cpp.

#include "IslandPanelController.h"

#include "IslandPanel.h"
#include "Island/Kit/IslandScheduler.h"

#include <QApplication>
#include <QEvent>

#include <cstdio>
#include <cstdlib>

namespace QuillomareMac {

using Platform::ScreenDescription;

IslandPanelEnvironment IslandPanelEnvironment::system()
{
    IslandPanelEnvironment environment;
    environment.screens = Platform::ScreenInfo::system();
    environment.monitors = IslandEventMonitors::system();
    environment.isModalWindowUp = [] { return QApplication::activeModalWidget() != nullptr; };
    return environment;
}

IslandPanelController::IslandPanelController(IslandPanelEnvironment environment)
    : m_environment(std::move(environment))
{
    if (!m_environment.screens)
        m_environment.screens = Platform::ScreenInfo::system();
    if (!m_environment.monitors)
        m_environment.monitors = IslandEventMonitors::system();
    if (!m_environment.isModalWindowUp)
        m_environment.isModalWindowUp = [] { return false; };

    m_canvasView = new IslandCanvasView;
    m_islandView = new IslandView(QRect(), m_canvasView);
    m_canvasView->islandView = m_islandView;
    m_panel = new IslandPanel;
    m_panel->setContentView(m_canvasView);
    m_panel->resize(185, 32);
    // Until the island first settles collapsed or expands, clicks go through it.
    m_panel->setIgnoresMouseEvents(true);

    QPointer<IslandPanelController> weak(this);
    m_panel->onMouseDown = [weak](QMouseEvent* event) { return weak ? weak->panelMouseDown(event) : false; };
    m_panel->onResignKey = [] {};

    ensureStageFrame(DisplayMode::collapsed, true);
    m_islandView->setDisplayMode(DisplayMode::collapsed, false);
    m_islandView->setGeometry(canvasFrame(targetFrame(DisplayMode::collapsed)).toAlignedRect());

    wireIslandViewCallbacks();
    // Each frame of a morph or an echo moves only the drawn surface and ends in a repaint; the
    // panel's shape is set just before the frame is drawn.
    m_islandView->installEventFilter(this);
    updatePanelShape();
}

bool IslandPanelController::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == m_islandView) {
        switch (event->type()) {
        case QEvent::Paint:
            updatePanelShape();
            break;
        case QEvent::Move:
        case QEvent::Resize:
        case QEvent::Show:
        case QEvent::Hide:
            // A morph first gives the view its final rectangle and only then the animation that
            // presents the surface elsewhere: the shape is taken once the caller is done.
            if (!m_panelShapeUpdatePending) {
                m_panelShapeUpdatePending = true;
                QMetaObject::invokeMethod(this, [this] {
                    m_panelShapeUpdatePending = false;
                    updatePanelShape();
                }, Qt::QueuedConnection);
            }
            break;
        default:
            break;
        }
    }
    return QObject::eventFilter(watched, event);
}

void IslandPanelController::updatePanelShape()
{
    m_islandView->setEdgesCutToShape(m_panel->isCutToShape());
    m_panel->setIslandShape(m_canvasView->islandShape());
    m_islandView->setBackdropBlurred(m_panel->isBackdropBlurred());
}

IslandPanelController::~IslandPanelController()
{
    cancelHideWorkItem();
    removeClickMonitors();
    removeCollapsedClickMonitors();
    m_islandView->removeEventFilter(this);
    delete m_panel;
}

// MARK: - Relay

template <typename... Args>
void IslandPanelController::relay(std::function<void(Args...)>& viewCallback,
                                  std::function<void(Args...)> IslandCallbacks::*property)
{
    viewCallback = [weak = QPointer<IslandPanelController>(this), property](Args... args) {
        if (!weak)
            return;
        const auto& callback = static_cast<IslandCallbacks&>(*weak).*property;
        if (callback)
            callback(std::forward<Args>(args)...);
    };
}

void IslandPanelController::wireIslandViewCallbacks()
{
    IslandView& view = *m_islandView;
    relay(view.onSelectItem, &IslandPanelController::onSelectItem);
    relay(view.onCopyPasteVariantItem, &IslandPanelController::onCopyPasteVariantItem);
    relay(view.onCombineItems, &IslandPanelController::onCombineItems);
    relay(view.onRecognizeTextItem, &IslandPanelController::onRecognizeTextItem);
    relay(view.onAirDropItem, &IslandPanelController::onAirDropItem);
    relay(view.onRevealItem, &IslandPanelController::onRevealItem);
    relay(view.onPullFromIPhone, &IslandPanelController::onPullFromIPhone);
    relay(view.onCopyPlainTextItem, &IslandPanelController::onCopyPlainTextItem);
    relay(view.onCopyQuickPreviewText, &IslandPanelController::onCopyQuickPreviewText);
    relay(view.onDeleteItem, &IslandPanelController::onDeleteItem);
    relay(view.onTogglePinItem, &IslandPanelController::onTogglePinItem);
    relay(view.onClear, &IslandPanelController::onClear);
    relay(view.onHide, &IslandPanelController::onHide);
    relay(view.onQuit, &IslandPanelController::onQuit);
    relay(view.onChangeLanguage, &IslandPanelController::onChangeLanguage);
    relay(view.onShowSettings, &IslandPanelController::onShowSettings);
    relay(view.onMakeQRCodeItem, &IslandPanelController::onMakeQRCodeItem);
    relay(view.onExportItemToFile, &IslandPanelController::onExportItemToFile);
    relay(view.onCopyCondensedItem, &IslandPanelController::onCopyCondensedItem);
    relay(view.onShelfDropPasteboard, &IslandPanelController::onShelfDropPasteboard);
    relay(view.onShelfSessionsChanged, &IslandPanelController::onShelfSessionsChanged);
    relay(view.onCreateShelfSession, &IslandPanelController::onCreateShelfSession);
    relay(view.onRenameShelfSession, &IslandPanelController::onRenameShelfSession);
    relay(view.onCopyShelfItem, &IslandPanelController::onCopyShelfItem);
    relay(view.onCopyShelfPasteVariantItem, &IslandPanelController::onCopyShelfPasteVariantItem);
    relay(view.onCombineShelfItems, &IslandPanelController::onCombineShelfItems);
    relay(view.onBatchShelfItems, &IslandPanelController::onBatchShelfItems);
    relay(view.onAirDropShelfItem, &IslandPanelController::onAirDropShelfItem);
    relay(view.onRevealShelfItem, &IslandPanelController::onRevealShelfItem);
    relay(view.onRemoveShelfItem, &IslandPanelController::onRemoveShelfItem);
    relay(view.onClearShelf, &IslandPanelController::onClearShelf);

    QPointer<IslandPanelController> weak(this);
    view.onExpand = [weak] {
        if (weak)
            weak->show(false, false);
    };
    view.onCaptureEchoDidFinish = [weak] {
        if (weak && weak->m_displayMode == DisplayMode::collapsed)
            weak->settleCollapsed();
    };
}

// MARK: - Geometry

std::optional<ScreenDescription> IslandPanelController::preferredBuiltInScreen() const
{
    return IslandGeometry::preferredBuiltInScreen(m_environment.screens->screens());
}

std::optional<ScreenDescription> IslandPanelController::screen(const QPointF& containing) const
{
    return IslandGeometry::screenContaining(m_environment.screens->screens(), containing);
}

ScreenDescription IslandPanelController::targetScreen() const
{
    const QList<ScreenDescription> screens = m_environment.screens->screens();
    // The pointer only chooses between several screens none of which is built in, and asking the
    // X server where it is costs a round trip: a capture echo computes the screen several times.
    QPointF pointer;
    if (screens.size() > 1 && !IslandGeometry::preferredBuiltInScreen(screens))
        pointer = pointerLocation();
    else if (!screens.isEmpty())
        pointer = screens.first().frame.center();
    const auto chosen = IslandGeometry::targetScreen(screens, pointer, m_environment.screens->mainScreen());
    if (!chosen) {
        std::fputs("Quillomare requires an active display\n", stderr);
        std::abort();
    }
    return *chosen;
}

void IslandPanelController::pushLayout(const IslandGeometry::LayoutPushes& pushes) const
{
    if (pushes.collapsedVisualStyle)
        m_islandView->setCollapsedVisualStyle(*pushes.collapsedVisualStyle);
    m_islandView->setExpandedTopInset(pushes.expandedTopInset);
    m_islandView->setNotchHeaderLayout(pushes.notchWidth, pushes.stripHeight);
    m_islandView->setExpandedContentHeight(pushes.expandedContentHeight);
}

QRectF IslandPanelController::targetFrame(DisplayMode mode) const
{
    const IslandGeometry::Target target = IslandGeometry::targetFrame(mode, targetScreen());
    pushLayout(target.pushes);
    return target.frame;
}

QRectF IslandPanelController::targetFrame(DisplayMode mode, bool echoActive) const
{
    if (mode != DisplayMode::collapsed || !echoActive)
        return targetFrame(mode);
    const ScreenDescription screen = targetScreen();
    pushLayout(IslandGeometry::targetFrame(DisplayMode::collapsed, screen).pushes);
    return IslandGeometry::echoFrame(screen, m_echoContentWidth);
}

QSizeF IslandPanelController::size(DisplayMode mode, const ScreenDescription& screen, const NotchAnchor& anchor) const
{
    return IslandGeometry::size(mode, screen, anchor);
}

QRectF IslandPanelController::collapsedActivationFrame(const QPointF& /*location*/) const
{
    const ScreenDescription screen = targetScreen();
    pushLayout(IslandGeometry::targetFrame(DisplayMode::collapsed, screen).pushes);
    return IslandGeometry::collapsedActivationFrame(screen);
}

QRectF IslandPanelController::panelFrame() const
{
    return m_environment.screens->fromQt(QRectF(m_panel->geometry()));
}

QRectF IslandPanelController::canvasFrame(const QRectF& screenRect) const
{
    const QRectF panel = panelFrame();
    return QRectF(screenRect.x() - panel.x(),
                  Platform::ScreenGeometry::maxY(panel) - Platform::ScreenGeometry::maxY(screenRect),
                  screenRect.width(), screenRect.height());
}

void IslandPanelController::ensureStageFrame(DisplayMode mode, bool displayImmediately)
{
    const ScreenDescription screen = targetScreen();
    const QRectF frame = targetFrame(mode);
    if (m_stageScreen && m_stageScreen->isSameScreen(screen) && m_stageMode == mode && panelFrame() == frame)
        return;
    m_stageScreen = screen;
    m_stageMode = mode;
    const QRect stage = m_environment.screens->toQt(frame).toAlignedRect();
    m_panel->setFrame(stage, false);
    m_islandView->setGeometry(canvasFrame(targetFrame(m_displayMode)).toAlignedRect());
    if (displayImmediately && !m_islandView->hasActiveIslandLayerAnimation())
        m_islandView->syncBackingLayerToCurrentFrameWithoutAnimation();
    // The panel moved under the island: the island's place in it changed even where the view's
    // geometry did not.
    updatePanelShape();
    // Drawn only now that the island has its place on the new stage: drawn with the resize, the
    // island showed for a frame at its old place in the panel (at the large stage's corner, or
    // outside the small one).
    if (displayImmediately)
        m_panel->setFrame(stage, true);
}

// MARK: - Small helpers

bool IslandPanelController::isModalWindowUp() const
{
    return m_environment.isModalWindowUp();
}

qint64 IslandPanelController::now() const
{
    return IslandScheduler::shared().now();
}

QPointF IslandPanelController::pointerLocation() const
{
    return m_environment.screens->pointerLocation();
}

} // namespace QuillomareMac
