#pragma once

// Dragging history entries out to other programs. A drag offers every item's object at once: the
// links and files as a URI list, the texts as plain text and the first picture as an image, with
// the row's snapshot stacked once per item as the drag image. Only copying is offered.

#include <Platform/Pasteboard.h>

#include <QList>
#include <QPixmap>
#include <QRectF>

#include <functional>

class QMimeData;
class QWidget;

namespace QuillomareMac {

struct DraggingItem
{
    Platform::PasteboardObject object;
    // Where the item's image starts, in the source's coordinates.
    QRectF frame;
};

namespace HistoryDragSession {

// Runs the drag (it returns when the drop is done or cancelled); the testing starter, when set,
// is called instead.
void begin(QWidget* source, const QList<DraggingItem>& items, const QPixmap& snapshot);
// An empty function restores the real drag.
void setStarterForTesting(std::function<void(QWidget*, const QList<DraggingItem>&, const QPixmap&)> starter);

// The data a drop receives; the caller owns it.
QMimeData* mimeData(const QList<DraggingItem>& items);

} // namespace HistoryDragSession

} // namespace QuillomareMac
