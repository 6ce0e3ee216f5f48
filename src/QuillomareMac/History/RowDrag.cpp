#include "RowDrag.h"

#include "Island/Kit/IslandTheme.h"
#include "Pasteboard/MacPasteboardWriter.h"

#include <QLineF>
#include <QMouseEvent>
#include <QPainter>
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
    // A row is drawn translucent on the island's surface. Alone in a drag window its transparent
    // pixels would show whatever that window is filled with: without a compositing manager that
    // is a blank (white) bar with the row's white text lost on it. The picture carries the
    // island's surface, opaque, under the row.
    const QPixmap row = view.grab();
    const QSize size = row.isNull() ? view.size() : row.deviceIndependentSize().toSize();
    QPixmap picture(row.isNull() ? size : row.size());
    picture.setDevicePixelRatio(row.isNull() ? 1.0 : row.devicePixelRatio());
    picture.fill(Qt::black);
    QPainter painter(&picture);
    painter.fillRect(QRect(QPoint(0, 0), size), IslandTheme::expandedBackground());
    if (!row.isNull())
        painter.drawPixmap(0, 0, row);
    return picture;
}

} // namespace QuillomareMac::RowDrag
