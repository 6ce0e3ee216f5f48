#include "IslandListScrollView.h"

#include "IslandAnimation.h"
#include "IslandScheduler.h"
#include "IslandTheme.h"

#include <QApplication>
#include <QMouseEvent>
#include <QPainter>
#include <QPointer>
#include <QScrollBar>
#include <QWheelEvent>
#include <QWindow>

#include <algorithm>
#include <cmath>

namespace QuillomareMac {

namespace {

constexpr int kBandThickness = 12;
constexpr int kRestThickness = 6;
constexpr int kHoverThickness = 9;
constexpr int kEdgeInset = 2;
constexpr int kMinimumKnobLength = 24;
constexpr qint64 kHideDelayMilliseconds = 900;
constexpr double kFadeSeconds = 0.25;
const QString kFadeKey = QStringLiteral("overlayScrollerFade");

} // namespace

// The knob over the scroll view's edge. It lies over the viewport as a child of the scroll view
// and lets the mouse through whenever it is not shown, so the rows under the band stay clickable.
class IslandOverlayScroller final : public QWidget
{
public:
    IslandOverlayScroller(IslandListScrollView* view, Qt::Orientation orientation)
        : QWidget(view), m_view(view), m_orientation(orientation),
          m_bar(orientation == Qt::Vertical ? view->verticalScrollBar() : view->horizontalScrollBar())
    {
        setAttribute(Qt::WA_TransparentForMouseEvents);
        setAttribute(Qt::WA_NoSystemBackground);
        connect(m_bar, &QScrollBar::valueChanged, this, [this] {
            flash();
            refreshInput();
        });
        connect(m_bar, &QScrollBar::rangeChanged, this, [this] {
            if (contentFits())
                hideNow();
            refreshInput();
            update();
        });
        // The pointer's position reaches rows (mouse tracking or not) only through their window;
        // watching the application is the one place that sees it whatever lies under the band.
        qApp->installEventFilter(this);
        place();
        show();
        raise();
    }

    bool isShown() const { return m_opacity > 0; }

    // In our own coordinates.
    QRect knobRect() const
    {
        if (contentFits())
            return {};
        const int track = trackLength();
        const int range = m_bar->maximum() - m_bar->minimum();
        const int page = std::max(m_bar->pageStep(), 1);
        const int length = std::clamp(int(std::lround(double(track) * page / (range + page))),
                                      std::min(kMinimumKnobLength, track), track);
        const int offset = int(std::lround(double(track - length) * (m_bar->value() - m_bar->minimum()) / range));
        const int thickness = (m_hovered || m_dragging) ? kHoverThickness : kRestThickness;
        if (m_orientation == Qt::Vertical)
            return QRect(width() - kEdgeInset - thickness, kEdgeInset + offset, thickness, length);
        return QRect(kEdgeInset + offset, height() - kEdgeInset - thickness, length, thickness);
    }

    // Shows the knob now and fades it out after a quiet moment.
    void flash()
    {
        if (contentFits())
            return;
        reveal();
        scheduleHide();
    }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        switch (event->type()) {
        case QEvent::MouseMove:
            if (belongsToOurWindow(watched))
                setHovered(inBand(static_cast<QMouseEvent*>(event)->globalPosition().toPoint()));
            break;
        case QEvent::Leave:
            if (watched == m_view)
                setHovered(false);
            break;
        case QEvent::Resize:
        case QEvent::Move:
            if (watched == m_view->viewport())
                place();
            break;
        default:
            break;
        }
        return false;
    }

    void paintEvent(QPaintEvent*) override
    {
        const QRect knob = knobRect();
        if (!isShown() || knob.isEmpty())
            return;
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing);
        painter.setOpacity(m_opacity);
        painter.setPen(Qt::NoPen);
        painter.setBrush(IslandTheme::white((m_hovered || m_dragging) ? 0.42 : 0.28));
        const qreal radius = std::min(knob.width(), knob.height()) / 2.0;
        painter.drawRoundedRect(QRectF(knob), radius, radius);
    }

    void mousePressEvent(QMouseEvent* event) override
    {
        event->accept();
        if (event->button() != Qt::LeftButton || contentFits())
            return;
        const QRect knob = knobRect();
        const int at = along(event->position().toPoint());
        const int start = m_orientation == Qt::Vertical ? knob.top() : knob.left();
        const int end = m_orientation == Qt::Vertical ? knob.bottom() : knob.right();
        if (at < start || at > end)
            return;
        m_dragging = true;
        m_dragOrigin = at;
        m_dragStartValue = m_bar->value();
        reveal();
        refreshInput();
        update();
    }

    void mouseMoveEvent(QMouseEvent* event) override
    {
        event->accept();
        if (!m_dragging)
            return;
        const QRect knob = knobRect();
        const int travel = trackLength() - (m_orientation == Qt::Vertical ? knob.height() : knob.width());
        if (travel <= 0)
            return;
        const double perPixel = double(m_bar->maximum() - m_bar->minimum()) / travel;
        const int moved = along(event->position().toPoint()) - m_dragOrigin;
        m_bar->setValue(m_dragStartValue + int(std::lround(moved * perPixel)));
    }

    void mouseReleaseEvent(QMouseEvent* event) override
    {
        event->accept();
        if (!m_dragging || event->button() != Qt::LeftButton)
            return;
        m_dragging = false;
        scheduleHide();
        refreshInput();
        update();
    }

    // The wheel over the band scrolls the list as it does anywhere else on it.
    void wheelEvent(QWheelEvent* event) override { QApplication::sendEvent(m_view->viewport(), event); }

private:
    bool contentFits() const { return m_bar->maximum() <= m_bar->minimum(); }
    int trackLength() const
    {
        return std::max((m_orientation == Qt::Vertical ? height() : width()) - 2 * kEdgeInset, 0);
    }
    int along(QPoint point) const { return m_orientation == Qt::Vertical ? point.y() : point.x(); }

    bool belongsToOurWindow(QObject* watched) const
    {
        if (auto* widget = qobject_cast<QWidget*>(watched))
            return widget->window() == window();
        return watched == window()->windowHandle() && watched != nullptr;
    }

    bool inBand(QPoint global) const
    {
        return m_view->isVisible() && geometry().contains(m_view->mapFromGlobal(global));
    }

    void place()
    {
        const QRect viewport = m_view->viewport()->geometry();
        if (m_orientation == Qt::Vertical)
            setGeometry(viewport.right() + 1 - kBandThickness, viewport.top(), kBandThickness, viewport.height());
        else
            setGeometry(viewport.left(), viewport.bottom() + 1 - kBandThickness, viewport.width(), kBandThickness);
        raise();
        refreshInput();
    }

    void setHovered(bool hovered)
    {
        if (hovered == m_hovered)
            return;
        m_hovered = hovered;
        if (hovered && !contentFits())
            reveal();
        else if (!hovered && isShown())
            scheduleHide();
        refreshInput();
        update();
    }

    void reveal()
    {
        IslandAnimator::shared().remove(this, kFadeKey);
        if (m_hide)
            m_hide->cancel();
        setOpacity(1);
    }

    void hideNow()
    {
        IslandAnimator::shared().remove(this, kFadeKey);
        if (m_hide)
            m_hide->cancel();
        m_dragging = false;
        setOpacity(0);
    }

    void scheduleHide()
    {
        if (m_hide)
            m_hide->cancel();
        m_hide = IslandScheduler::shared().schedule(kHideDelayMilliseconds, this, [this] {
            m_hide.reset();
            if (m_hovered || m_dragging)
                return;
            IslandAnimation fade = IslandAnimation::timed(m_opacity, 0.0, kFadeSeconds, CubicCurve::easeOut());
            fade.onFrame = [this](const AnimatedValue& value) { setOpacity(std::get<double>(value)); };
            IslandAnimator::shared().add(this, kFadeKey, std::move(fade));
        });
    }

    void setOpacity(qreal opacity)
    {
        m_opacity = opacity;
        refreshInput();
        update();
    }

    // Only the knob takes the mouse: a row's trailing buttons lie under the band.
    void refreshInput()
    {
        const QRect knob = knobRect();
        const bool takesMouse = m_opacity > 0 && !knob.isEmpty();
        setAttribute(Qt::WA_TransparentForMouseEvents, !takesMouse);
        if (takesMouse)
            setMask(QRegion(knob.adjusted(-1, -1, 1, 1)));
    }

    IslandListScrollView* m_view;
    Qt::Orientation m_orientation;
    QScrollBar* m_bar;
    std::shared_ptr<WorkItem> m_hide;
    qreal m_opacity = 0;
    bool m_hovered = false;
    bool m_dragging = false;
    int m_dragOrigin = 0;
    int m_dragStartValue = 0;
};

void applySlimScrollBars(QAbstractScrollArea* area)
{
    static const QString style = QStringLiteral(
        "QScrollBar:vertical { width: 8px; background: transparent; margin: 2px 2px 2px 0; }"
        "QScrollBar:horizontal { height: 8px; background: transparent; margin: 0 2px 2px 2px; }"
        "QScrollBar::handle { background: rgba(255,255,255,70); border-radius: 3px; }"
        "QScrollBar::handle:vertical { min-height: 24px; }"
        "QScrollBar::handle:horizontal { min-width: 24px; }"
        "QScrollBar::handle:hover { background: rgba(255,255,255,110); }"
        "QScrollBar::add-line, QScrollBar::sub-line { width: 0; height: 0; }"
        "QScrollBar::add-page, QScrollBar::sub-page { background: transparent; }");
    area->verticalScrollBar()->setStyleSheet(style);
    area->horizontalScrollBar()->setStyleSheet(style);
}

FlippedDocumentView::FlippedDocumentView(QWidget* parent) : QWidget(parent) {}

IslandListScrollView::IslandListScrollView(QWidget* parent) : QScrollArea(parent)
{
    // The island's lists sit on its own surface: no frame, no background of their own.
    setFrameShape(QFrame::NoFrame);
    setAutoFillBackground(false);
    viewport()->setAutoFillBackground(false);
}

IslandListScrollView::~IslandListScrollView()
{
    // Before the viewport goes: the overlay watches it.
    delete m_overlayScroller;
    if (m_scrollEnd)
        m_scrollEnd->cancel();
}

void IslandListScrollView::setOverlayScroller(Qt::Orientation orientation)
{
    if (orientation == Qt::Vertical)
        setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    else
        setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    delete m_overlayScroller;
    m_overlayScroller = new IslandOverlayScroller(this, orientation);
}

QWidget* IslandListScrollView::overlayScrollerWidget() const
{
    return m_overlayScroller;
}

bool IslandListScrollView::isOverlayScrollerShown() const
{
    return m_overlayScroller && m_overlayScroller->isShown();
}

QRect IslandListScrollView::overlayKnobRect() const
{
    if (!m_overlayScroller)
        return {};
    const QRect knob = m_overlayScroller->knobRect();
    return knob.isEmpty() ? QRect() : knob.translated(m_overlayScroller->pos());
}

void IslandListScrollView::installBoundsObserver()
{
    if (m_boundsObserverInstalled)
        return;
    m_boundsObserverInstalled = true;
    connect(verticalScrollBar(), &QScrollBar::valueChanged, this, &IslandListScrollView::boundsChanged);
    connect(horizontalScrollBar(), &QScrollBar::valueChanged, this, &IslandListScrollView::boundsChanged);
}

void IslandListScrollView::boundsChanged()
{
    if (onScrollActivity)
        onScrollActivity();
    scheduleScrollEnd(nullptr);
}

void IslandListScrollView::scheduleScrollEnd(const QWheelEvent* event)
{
    if (m_scrollEnd)
        m_scrollEnd->cancel();

    qint64 delay = quietScrollEndMilliseconds;
    if (event) {
        switch (event->phase()) {
        case Qt::ScrollEnd:
            delay = 0;
            break;
        case Qt::NoScrollPhase:
            delay = quietScrollEndMilliseconds;
            break;
        case Qt::ScrollBegin:
        case Qt::ScrollUpdate:
        case Qt::ScrollMomentum:
            delay = gestureScrollEndMilliseconds;
            break;
        }
    }

    QPointer<IslandListScrollView> view(this);
    m_scrollEnd = IslandScheduler::shared().schedule(delay, this, [view] {
        if (!view)
            return;
        view->m_scrollEnd.reset();
        if (view->onScrollEnded)
            view->onScrollEnded();
    });
}

void IslandListScrollView::wheelEvent(QWheelEvent* event)
{
    if (onScrollActivity)
        onScrollActivity();
    scheduleScrollEnd(event);
    // A wheel at either end moves nothing, yet the knob still shows where the list stands.
    if (m_overlayScroller)
        m_overlayScroller->flash();
    QScrollArea::wheelEvent(event);
}

void IslandListScrollView::mousePressEvent(QMouseEvent* event)
{
    if (onMouseDownFallback && onMouseDownFallback(event)) {
        event->accept();
        return;
    }
    QScrollArea::mousePressEvent(event);
}

void IslandListScrollView::mouseDoubleClickEvent(QMouseEvent* event)
{
    // Qt carries the second click's count in this event alone; without it a row reached through
    // the fallback would take a double click for two single ones.
    if (onMouseDownFallback && onMouseDownFallback(event)) {
        event->accept();
        return;
    }
    QScrollArea::mouseDoubleClickEvent(event);
}

void IslandListScrollView::mouseMoveEvent(QMouseEvent* event)
{
    // Only drags: a move without a pressed button is not a drag.
    if (event->buttons() != Qt::NoButton && onMouseDraggedFallback && onMouseDraggedFallback(event)) {
        event->accept();
        return;
    }
    QScrollArea::mouseMoveEvent(event);
}

void IslandListScrollView::mouseReleaseEvent(QMouseEvent* event)
{
    if (onMouseUpFallback && onMouseUpFallback(event)) {
        event->accept();
        return;
    }
    QScrollArea::mouseReleaseEvent(event);
}

} // namespace QuillomareMac
