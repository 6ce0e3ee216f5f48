// The island as a drop target, collapsed or expanded: whatever another program drags onto it goes
// to the shelf. A drag that enters switches the island to its shelf, lights both drop zones and
// asks a collapsed island to open; the drop hands what it carries, unread, to the shell.

#include "Island/IslandView.h"

#include "Shelf/Views/ShelfDropZoneView.h"

#include <QBuffer>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QImage>
#include <QMimeData>

namespace QuillomareMac {

namespace {

using Platform::PasteboardType::html;
using Platform::PasteboardType::png;
using Platform::PasteboardType::tiff;
using Platform::PasteboardType::uriList;

QByteArray pngBytes(const QImage& image)
{
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    if (!image.save(&buffer, "PNG"))
        return {};
    return bytes;
}

// A drag that starts on one of the island's own rows or cards passes over the island at once:
// taken for a drop, every drag-out would flip the island to its shelf and a card nudged by a few
// points would land on the shelf a second time.
bool startsInside(const QDropEvent& event, const QWidget* island)
{
    const auto* source = qobject_cast<const QWidget*>(event.source());
    return source && (source == island || island->isAncestorOf(source));
}

} // namespace

bool IslandView::carriesShelfContent(const QMimeData& data)
{
    return data.hasFormat(uriList) || data.hasText() || data.hasFormat(png) || data.hasFormat(tiff) ||
           data.hasFormat(html) || data.hasImage();
}

std::unique_ptr<Platform::MemoryPasteboard> IslandView::shelfDropPasteboard(const QMimeData& data)
{
    Platform::PasteboardItem item;
    if (data.hasFormat(uriList))
        item.setData(data.data(uriList), uriList);
    // The UTF-8 bytes as sent, where offered: Qt's decoded text() has lost a leading U+FEFF.
    if (data.hasFormat(Platform::PasteboardType::string))
        item.setData(data.data(Platform::PasteboardType::string), Platform::PasteboardType::string);
    else if (data.hasText())
        item.setData(data.text().toUtf8(), Platform::PasteboardType::string);
    for (const QString& type : {png, tiff, html}) {
        if (data.hasFormat(type))
            item.setData(data.data(type), type);
    }
    // A picture dragged inside this program (or offered only as Qt's own image) arrives decoded.
    if (!data.hasFormat(png) && !data.hasFormat(tiff) && data.hasImage()) {
        const QByteArray bytes = pngBytes(qvariant_cast<QImage>(data.imageData()));
        if (!bytes.isEmpty())
            item.setData(bytes, png);
    }
    auto pasteboard = std::make_unique<Platform::MemoryPasteboard>();
    if (!item.isEmpty())
        pasteboard->writeItems({item});
    return pasteboard;
}

void IslandView::setShelfDropZonesHighlighted(bool highlighted)
{
    for (ShelfDropZoneView* zone : {m_shelfDropZone, m_shelfGalleryDropZone}) {
        if (!zone)
            continue;
        zone->setHighlighted(highlighted);
        zone->updateAppearance();
    }
}

void IslandView::draggingEntered()
{
    setContentMode(ContentMode::shelfGallery, false);
    setShelfDropZonesHighlighted(true);
    if (m_displayMode == DisplayMode::collapsed && onExpand)
        onExpand();
}

void IslandView::draggingUpdated()
{
    setShelfDropZonesHighlighted(true);
}

void IslandView::draggingExited()
{
    setShelfDropZonesHighlighted(false);
}

void IslandView::performDragOperation(const QMimeData& data)
{
    setShelfDropZonesHighlighted(false);
    setContentMode(ContentMode::shelfGallery, false);
    if (!onShelfDropPasteboard)
        return;
    const std::unique_ptr<Platform::MemoryPasteboard> pasteboard = shelfDropPasteboard(data);
    onShelfDropPasteboard(*pasteboard);
}

// MARK: - Qt's drag events

void IslandView::dragEnterEvent(QDragEnterEvent* event)
{
    if (!event->mimeData() || !carriesShelfContent(*event->mimeData()) || startsInside(*event, this)) {
        event->ignore();
        return;
    }
    draggingEntered();
    event->setDropAction(Qt::CopyAction);
    event->accept();
}

void IslandView::dragMoveEvent(QDragMoveEvent* event)
{
    if (startsInside(*event, this)) {
        event->ignore();
        return;
    }
    draggingUpdated();
    event->setDropAction(Qt::CopyAction);
    event->accept();
}

void IslandView::dragLeaveEvent(QDragLeaveEvent* event)
{
    draggingExited();
    event->accept();
}

void IslandView::dropEvent(QDropEvent* event)
{
    if (!event->mimeData() || startsInside(*event, this)) {
        draggingExited();
        event->ignore();
        return;
    }
    performDragOperation(*event->mimeData());
    event->setDropAction(Qt::CopyAction);
    event->accept();
}

bool IslandView::handleDescendantDragEvent(QWidget* receiver, QEvent* event)
{
    // A child that takes drops of its own (the search field, the inspector's editor) would keep
    // what was meant for the shelf: the island answers for every part of itself.
    if (!receiver || receiver == this || !isAncestorOf(receiver))
        return false;
    switch (event->type()) {
    case QEvent::DragEnter:
        dragEnterEvent(static_cast<QDragEnterEvent*>(event));
        return true;
    case QEvent::DragMove:
        dragMoveEvent(static_cast<QDragMoveEvent*>(event));
        return true;
    case QEvent::DragLeave:
        dragLeaveEvent(static_cast<QDragLeaveEvent*>(event));
        return true;
    case QEvent::Drop:
        dropEvent(static_cast<QDropEvent*>(event));
        return true;
    default:
        return false;
    }
}

} // namespace QuillomareMac
