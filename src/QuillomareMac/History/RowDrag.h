#pragma once

// What the history's rows and the shelf's entries share when a press turns into a drag: when a
// move starts it, the fan of dragging items and the snapshot the drag shows.

#include "HistoryDragSession.h"

#include <QuillomareCore/ClipboardItem.h>

#include <QList>
#include <QPixmap>
#include <QPointF>
#include <QRectF>

#include <optional>

class QMouseEvent;
class QWidget;

namespace QuillomareMac::RowDrag {

// Whether a move of `view`'s press starts a drag now: the left button is held, the pointer has
// gone `threshold` points from `pressPoint` (in a straight line), no drag has started yet and the
// view has a size. A move with the button held is the view's, whatever the answer.
bool shouldStartDrag(const QWidget& view, QMouseEvent* event, const std::optional<QPointF>& pressPoint,
                     bool didStartDragSession, qreal threshold);

// Every entry's objects, each entry's frame 7 points further down and right than the one before
// (4 steps at the most). Entries that yield nothing still take their place in the fan, so offsets
// follow list order.
QList<DraggingItem> fannedItems(const QRectF& frame, const QList<QuillomareCore::ClipboardItem>& entries);

// The view as it looks, or a clear picture of its size when it cannot be grabbed.
QPixmap snapshot(QWidget& view);

} // namespace QuillomareMac::RowDrag
