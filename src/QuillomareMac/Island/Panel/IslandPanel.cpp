#include "IslandPanel.h"

#include <Platform/BlurBehind.h>

#include "Island/IslandView.h"

#include <Platform/X11WindowShape.h>

#include <QApplication>
#include <QMouseEvent>
#include <QWindow>


namespace QuillomareMac {

IslandCanvasView::IslandCanvasView(QWidget* parent) : QWidget(parent)
{
    setAttribute(Qt::WA_NoSystemBackground);
    setAttribute(Qt::WA_TranslucentBackground);
    setAutoFillBackground(false);
}

void IslandCanvasView::mousePressEvent(QMouseEvent* event)
{
    event->ignore();
}

QRegion IslandCanvasView::islandShape() const
{
    if (!islandView || islandView->isHidden())
        return {};
    // The island view's own pixel outline, so that the window's shape and what the view paints
    // agree on every edge pixel.
    return islandView->presentedSurfaceRegion().translated(islandView->pos());
}

IslandPanel::IslandPanel()
    : QWidget(nullptr, Qt::Tool | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint | Qt::X11BypassWindowManagerHint
                           | Qt::WindowDoesNotAcceptFocus | Qt::NoDropShadowWindowHint)
{
    setObjectName(QStringLiteral("IslandPanel"));
    setWindowTitle(QStringLiteral("Quillomare"));
    setAttribute(Qt::WA_ShowWithoutActivating);
    setAttribute(Qt::WA_TranslucentBackground);
    setAttribute(Qt::WA_NoSystemBackground);
    setAutoFillBackground(false);
    // The native window exists from the start, so that mouse-downs can be looked at before any
    // view of the panel sees them.
    winId();
    if (QWindow* window = windowHandle()) {
        window->installEventFilter(this);
        m_windowShape = Platform::X11WindowShape::create(window);
    }
    if (m_windowShape)
        connect(m_windowShape.get(), &Platform::X11WindowShape::compositingManagerChanged, this,
                [this] { applyWindowShape(); });
}

IslandPanel::~IslandPanel() = default;

void IslandPanel::setContentView(QWidget* contentView)
{
    m_contentView = contentView;
    contentView->setParent(this);
    contentView->setGeometry(rect());
    contentView->show();
}

void IslandPanel::resizeEvent(QResizeEvent* event)
{
    QWidget::resizeEvent(event);
    if (m_contentView)
        m_contentView->setGeometry(rect());
}

bool IslandPanel::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == windowHandle()
        && (event->type() == QEvent::MouseButtonPress || event->type() == QEvent::MouseButtonDblClick)) {
        auto* mouse = static_cast<QMouseEvent*>(event);
        if (onMouseDown && onMouseDown(mouse))
            return true;
    }
    return QWidget::eventFilter(watched, event);
}

void IslandPanel::changeEvent(QEvent* event)
{
    QWidget::changeEvent(event);
    if (event->type() == QEvent::ActivationChange && !isActiveWindow()) {
        // Back to a window that never takes the keyboard by itself.
        setWindowFlagLive(Qt::WindowDoesNotAcceptFocus, true);
        if (onResignKey)
            onResignKey();
    }
}

void IslandPanel::setWindowFlagLive(Qt::WindowType flag, bool on)
{
    const Qt::WindowFlags flags = on ? (windowFlags() | flag) : (windowFlags() & ~Qt::WindowFlags(flag));
    if (flags == windowFlags())
        return;
    // QWidget::setWindowFlags would re-create (and hide) the window; the QWindow takes the change
    // on the live native window, and the widget is told without touching the window system.
    if (QWindow* window = windowHandle())
        window->setFlags(flags);
    overrideWindowFlags(flags);
}

bool IslandPanel::isKeyWindow() const
{
    // A panel shown without activation refuses focus, whatever a platform without a window
    // manager (offscreen) reports as active.
    return isVisible() && isActiveWindow() && !windowFlags().testFlag(Qt::WindowDoesNotAcceptFocus);
}

void IslandPanel::makeKeyAndOrderFront()
{
    setWindowFlagLive(Qt::WindowDoesNotAcceptFocus, false);
    if (!isVisible())
        show();
    raise();
    activateWindow();
}

void IslandPanel::orderFrontRegardless()
{
    if (!isVisible())
        show();
    raise();
}

void IslandPanel::activateApplication()
{
    setWindowFlagLive(Qt::WindowDoesNotAcceptFocus, false);
    raise();
    activateWindow();
}

void IslandPanel::clearFirstResponder()
{
    if (QWidget* focus = focusWidget())
        focus->clearFocus();
}

void IslandPanel::setIgnoresMouseEvents(bool ignores)
{
    // Every capture echo asks again; a window that already does so is left alone (changing the
    // live window's flags and its input shape are requests to the X server).
    if (ignores == ignoresMouseEvents())
        return;
    setWindowFlagLive(Qt::WindowTransparentForInput, ignores);
    // Qt has just set the input region to the whole window as it is now, or to nothing.
    m_appliedInput.reset();
    applyWindowShape();
}

bool IslandPanel::isCutToShape() const
{
    return m_windowShape && !m_windowShape->compositingManagerRunning();
}

bool IslandPanel::ignoresMouseEvents() const
{
    return windowFlags().testFlag(Qt::WindowTransparentForInput);
}

void IslandPanel::setFrame(const QRect& frame, bool display)
{
    setGeometry(frame);
    if (display && isVisible())
        repaint();
}

void IslandPanel::setIslandShape(const QRegion& shape)
{
    m_islandShape = shape;
    applyWindowShape();
}

void IslandPanel::setBoundingNow(const std::optional<QRegion>& region, const QPoint& origin)
{
    if (m_boundingApplied && m_appliedBounding == region) {
        m_appliedBoundingOrigin = origin;
        return;
    }
    m_windowShape->setBoundingRegion(region);
    m_boundingApplied = true;
    m_appliedBounding = region;
    m_appliedBoundingOrigin = origin;
}

void IslandPanel::applyWindowShape()
{
    if (!m_windowShape)
        return;
    const QRegion input = ignoresMouseEvents() ? QRegion() : m_islandShape;
    if (m_appliedInput != input) {
        m_windowShape->setInputRegion(input);
        m_appliedInput = input;
    }
    // A compositing manager blends the transparent stage with what is below; without one it
    // would show black, and a pill left from before a resize would show where it no longer is.
    if (m_windowShape->compositingManagerRunning()) {
        m_boundingCatchUpPending = false;
        setBoundingNow(std::nullopt, geometry().topLeft());
    } else {
        // The shape is asked for as a frame is about to be painted, and the frame reaches the
        // screen only after it is painted: a shape that grew at once would show the new pixels'
        // old, transparent (black) contents meanwhile. Until the frame is out the window keeps
        // what the old and the new shape share, and takes the new one right after.
        const QPoint origin = geometry().topLeft();
        QRegion shown = m_islandShape;
        if (m_boundingApplied && m_appliedBounding)
            shown &= m_appliedBounding->translated(m_appliedBoundingOrigin - origin);
        setBoundingNow(shown, origin);
        if (shown != m_islandShape && !m_boundingCatchUpPending) {
            m_boundingCatchUpPending = true;
            QMetaObject::invokeMethod(this, [this] {
                if (!m_boundingCatchUpPending)
                    return;
                m_boundingCatchUpPending = false;
                if (m_windowShape && !m_windowShape->compositingManagerRunning())
                    setBoundingNow(m_islandShape, geometry().topLeft());
            }, Qt::QueuedConnection);
        }
    }
    // Where the desktop blurs behind windows on request, only the island itself is blurred, so
    // its surface can stay translucent without text beneath being readable.
    const QRegion blur = m_windowShape->compositingManagerRunning() ? m_islandShape : QRegion();
    if (m_appliedBlur != blur) {
        m_isBackdropBlurred = Platform::BlurBehind::setRegion(windowHandle(), blur) && !blur.isEmpty();
        m_appliedBlur = blur;
    }
}

} // namespace QuillomareMac
