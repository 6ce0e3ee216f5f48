#include "RowDrag.h"

#include "Pasteboard/MacPasteboardWriter.h"

#include <QLineF>
#include <QMouseEvent>
#include <QWidget>

#include <algorithm>

namespace QuillomareMac::RowDrag {

namespace {

constexpr qreal dragItemOffset = 7;
constexpr int maxDragItemOffsetSteps = 4;

} // namespace

bool shouldStartDrag(const QWidget& view, QMouseEvent* event, const std::optional<QPointF>& pressPoint,
                     bool didStartDragSession, qreal threshold)
{
    if (!(event->buttons() & Qt::LeftButton))
        return false;
    event->accept();
    const QPointF point = view.mapFromGlobal(event->globalPosition());
    if (pressPoint && QLineF(*pressPoint, point).length() < threshold)
        return false;
    return !didStartDragSession && view.width() != 0 && view.height() != 0;
}

QList<DraggingItem> fannedItems(const QRectF& frame, const QList<QuillomareCore::ClipboardItem>& entries)
{
    QList<DraggingItem> items;
    for (qsizetype i = 0; i < entries.size(); ++i) {
        const qreal offset = dragItemOffset * qreal(std::min<qsizetype>(i, maxDragItemOffsetSteps));
        const QRectF shifted = frame.translated(offset, offset);
        for (const Platform::PasteboardObject& object : MacPasteboardWriter::draggingWriters(entries.at(i)))
            items.append({object, shifted});
    }
    return items;
}

QPixmap snapshot(QWidget& view)
{
    QPixmap picture = view.grab();
    if (picture.isNull()) {
        picture = QPixmap(view.size());
        picture.fill(Qt::transparent);
    }
    return picture;
}

} // namespace QuillomareMac::RowDrag
