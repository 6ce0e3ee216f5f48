#include "IslandPanel.h"

#include "IslandView.h"

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
    if (QWindow* window = windowHandle())
        window->installEventFilter(this);
}

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
    setWindowFlagLive(Qt::WindowTransparentForInput, ignores);
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

} // namespace QuillomareMac
