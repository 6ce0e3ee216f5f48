#include "IslandPanel.h"

#include <Platform/BlurBehind.h>

#include "IslandView.h"

#include <Platform/X11WindowShape.h>

#include <QApplication>
#include <QMouseEvent>
#include <QWindow>

#include <algorithm>
#include <cmath>
#include <vector>

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
    // The surface as the island view draws it (its border lies inside it): a rounded rectangle,
    // or over a camera housing square top corners and quadratic lower ones.
    const QRectF outer = islandView->presentationFrame();
    if (outer.width() <= 0 || outer.height() <= 0)
        return {};
    const double r =
        std::max(0.0, std::min({islandView->presentationCornerRadius(), outer.height() / 2, outer.width() / 2}));
    const bool notch = islandView->collapsedVisualStyle() == IslandView::CollapsedVisualStyle::hardwareNotch;

    // How far the outline lies inside the straight side, `v` away from the rounded edge.
    const auto inset = [r](double v, bool quadratic) {
        if (r <= 0 || v >= r)
            return 0.0;
        v = std::max(v, 0.0);
        if (quadratic) {
            const double t = 1 - std::sqrt(v / r);
            return r * t * t;
        }
        return r - std::sqrt(std::max(0.0, r * r - (r - v) * (r - v)));
    };

    // One span per pixel row, taking the row's widest point, so that every pixel the antialiased
    // edge touches is in; equal rows are merged.
    std::vector<QRect> rects;
    const int top = int(std::floor(outer.top()));
    const int bottom = int(std::ceil(outer.bottom()));
    for (int y = top; y < bottom; ++y) {
        const double fromTop = std::min(double(y + 1), outer.bottom()) - outer.top();
        const double fromBottom = outer.bottom() - std::max(double(y), outer.top());
        const double in = std::max(notch ? 0.0 : inset(fromTop, false), inset(fromBottom, notch));
        const int left = int(std::floor(outer.left() + in));
        const int right = int(std::ceil(outer.right() - in));
        if (right <= left)
            continue;
        if (!rects.empty() && rects.back().left() == left && rects.back().right() == right - 1
            && rects.back().bottom() == y - 1)
            rects.back().setBottom(y);
        else
            rects.emplace_back(left, y, right - left, 1);
    }
    QRegion shape;
    shape.setRects(rects.data(), int(rects.size()));
    return shape;
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
    setWindowFlagLive(Qt::WindowTransparentForInput, ignores);
    // Qt has just set the input region to the whole window as it is now, or to nothing.
    m_appliedInput.reset();
    applyWindowShape();
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
    const std::optional<QRegion> bounding =
        m_windowShape->compositingManagerRunning() ? std::nullopt : std::optional<QRegion>(m_islandShape);
    if (m_appliedBounding != bounding) {
        m_windowShape->setBoundingRegion(bounding);
        m_appliedBounding = bounding;
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
