#include "IslandListScrollView.h"

#include "IslandScheduler.h"

#include <QMouseEvent>
#include <QPointer>
#include <QScrollBar>
#include <QWheelEvent>

namespace QuillomareMac {

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
    if (m_scrollEnd)
        m_scrollEnd->cancel();
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
