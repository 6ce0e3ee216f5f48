#include "HistoryDragSession.h"

#include <QBuffer>
#include <QCursor>
#include <QDrag>
#include <QMimeData>
#include <QPainter>
#include <QWidget>

namespace QuillomareMac::HistoryDragSession {

namespace {

using Starter = std::function<void(QWidget*, const QList<DraggingItem>&, const QPixmap&)>;

Starter& testingStarter()
{
    static Starter starter;
    return starter;
}

QString urlText(const QUrl& url)
{
    return url.isLocalFile() ? url.toLocalFile() : url.toString();
}

QByteArray pngBytes(const QImage& image)
{
    QByteArray png;
    QBuffer buffer(&png);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "PNG");
    return png;
}

// The snapshot drawn at every item's frame, the first item on top, like a fanned stack.
QPixmap stackedImage(const QList<DraggingItem>& items, const QPixmap& snapshot, QRectF* bounds)
{
    *bounds = items.first().frame;
    for (const DraggingItem& item : items)
        *bounds = bounds->united(item.frame);
    const qreal ratio = snapshot.devicePixelRatio();
    QPixmap image((bounds->size() * ratio).toSize());
    image.setDevicePixelRatio(ratio);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    for (auto it = items.crbegin(); it != items.crend(); ++it)
        painter.drawPixmap(it->frame.topLeft() - bounds->topLeft(), snapshot);
    return image;
}

} // namespace

QMimeData* mimeData(const QList<DraggingItem>& items)
{
    QList<QUrl> urls;
    QStringList texts;
    QImage image;
    for (const DraggingItem& item : items) {
        if (const auto* url = std::get_if<QUrl>(&item.object))
            urls.append(*url);
        else if (const auto* text = std::get_if<QString>(&item.object))
            texts.append(*text);
        else if (image.isNull())
            image = std::get<QImage>(item.object);
    }

    auto* data = new QMimeData;
    if (!urls.isEmpty())
        data->setUrls(urls);
    if (texts.isEmpty() && !urls.isEmpty()) {
        // Editors and terminals take only plain text: they get the links or paths.
        for (const QUrl& url : urls)
            texts.append(urlText(url));
    }
    if (!texts.isEmpty())
        data->setText(texts.join(QLatin1Char('\n')));
    if (!image.isNull()) {
        data->setImageData(image);
        data->setData(Platform::PasteboardType::png, pngBytes(image));
    }
    return data;
}

void begin(QWidget* source, const QList<DraggingItem>& items, const QPixmap& snapshot)
{
    if (items.isEmpty())
        return;
    if (const Starter& starter = testingStarter()) {
        starter(source, items, snapshot);
        return;
    }
    // Owned by the window, which outlives the drag: the list may rebuild its rows while it runs.
    auto* drag = new QDrag(source->window());
    drag->setMimeData(mimeData(items));
    QRectF bounds;
    drag->setPixmap(stackedImage(items, snapshot, &bounds));
    drag->setHotSpot(source->mapFromGlobal(QCursor::pos()) - bounds.topLeft().toPoint());
    drag->exec(Qt::CopyAction, Qt::CopyAction);
}

void setStarterForTesting(std::function<void(QWidget*, const QList<DraggingItem>&, const QPixmap&)> starter)
{
    testingStarter() = std::move(starter);
}

} // namespace QuillomareMac::HistoryDragSession
