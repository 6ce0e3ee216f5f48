#pragma once

// The scroll view of the island's lists. It tells its owner when scrolling starts or goes on and
// when it has settled (rows pause their hover effects while the list moves), and it offers the
// owner the mouse events no row took, so that clicks and drags on empty list space can still
// select or start a drag. On the island's dark surface it scrolls with an overlay scroller: a thin
// knob over the content's edge that shows while the list moves or the pointer nears that edge.

#include <QScrollArea>
#include <QWidget>

#include <functional>
#include <memory>

class QWheelEvent;

namespace QuillomareMac {

class IslandOverlayScroller;
class WorkItem;

// Thin, dark scroll bars without arrows for the island's text views, in place of the desktop
// style's light ones.
void applySlimScrollBars(QAbstractScrollArea* area);

// The document inside the island's scroll views; rows stack downward from its top.
class FlippedDocumentView final : public QWidget
{
    Q_OBJECT

public:
    explicit FlippedDocumentView(QWidget* parent = nullptr);
    // Our origin is the top left, as Qt's always is; kept so that layout code reads as intended.
    bool isFlipped() const { return true; }
};

class IslandListScrollView final : public QScrollArea
{
    Q_OBJECT

public:
    static constexpr qint64 quietScrollEndMilliseconds = 50;
    static constexpr qint64 gestureScrollEndMilliseconds = 120;

    explicit IslandListScrollView(QWidget* parent = nullptr);
    ~IslandListScrollView() override;

    std::function<void()> onScrollActivity;
    std::function<void()> onScrollEnded;
    // Each answers true when it handled the event; otherwise the scroll view handles it as usual.
    std::function<bool(QMouseEvent*)> onMouseDownFallback;
    std::function<bool(QMouseEvent*)> onMouseDraggedFallback;
    std::function<bool(QMouseEvent*)> onMouseUpFallback;

    // Reports every change of the visible part of the document (scroll bars moved by anything) as
    // scroll activity; once is enough.
    void installBoundsObserver();
    bool hasBoundsObserver() const { return m_boundsObserverInstalled; }

    // Postpones the end report: at once after a gesture's or momentum's end, 0.12 s while a
    // gesture goes on, 0.05 s after a classic wheel notch or a change without an event.
    void scheduleScrollEnd(const QWheelEvent* event);
    bool hasPendingScrollEnd() const { return m_scrollEnd != nullptr; }

    // Turns Qt's bar for that orientation off (its QScrollBar still holds the position) and draws
    // the overlay knob over the trailing edge (vertical) or the bottom edge (horizontal) instead.
    void setOverlayScroller(Qt::Orientation orientation);
    // Nothing until setOverlayScroller. The widget lies along the edge over the viewport and takes
    // the mouse only while the knob shows.
    QWidget* overlayScrollerWidget() const;
    bool isOverlayScrollerShown() const;
    // In the scroll view's coordinates; empty without an overlay scroller or when the content fits.
    QRect overlayKnobRect() const;

protected:
    void wheelEvent(QWheelEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    // The press that ends a double click: offered to the press fallback like the first one.
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

private:
    void boundsChanged();

    bool m_boundsObserverInstalled = false;
    std::shared_ptr<WorkItem> m_scrollEnd;
    IslandOverlayScroller* m_overlayScroller = nullptr;
};

} // namespace QuillomareMac
