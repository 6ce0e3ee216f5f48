#include "Pasteboard.h"

#include <QuillomareCore/TextDecoding.h>

#include <QBuffer>
#include <QImageReader>

namespace Platform {

// --- PasteboardItem

QStringList PasteboardItem::types() const
{
    QStringList types;
    for (const auto& [type, data] : m_representations)
        types.append(type);
    return types;
}

std::optional<QByteArray> PasteboardItem::data(const QString& type) const
{
    for (const auto& [itemType, data] : m_representations) {
        if (itemType == type)
            return data;
    }
    return std::nullopt;
}

void PasteboardItem::setData(const QByteArray& data, const QString& type)
{
    for (auto& representation : m_representations) {
        if (representation.first == type) {
            representation.second = data;
            return;
        }
    }
    m_representations.append({type, data});
}

// --- Pasteboard

PasteboardItem Pasteboard::item(const PasteboardObject& object)
{
    PasteboardItem item;
    if (const auto* url = std::get_if<QUrl>(&object)) {
        item.setData(url->toEncoded() + "\r\n", PasteboardType::uriList);
    } else if (const auto* text = std::get_if<QString>(&object)) {
        item.setData(text->toUtf8(), PasteboardType::string);
    } else if (const auto* image = std::get_if<QImage>(&object)) {
        QByteArray png;
        QBuffer buffer(&png);
        buffer.open(QIODevice::WriteOnly);
        if (!image->isNull() && image->save(&buffer, "PNG"))
            item.setData(png, PasteboardType::png);
    }
    return item;
}

bool Pasteboard::writeObjects(const QList<PasteboardObject>& objects)
{
    QList<PasteboardItem> items;
    for (const PasteboardObject& object : objects) {
        PasteboardItem converted = item(object);
        if (converted.isEmpty())
            return false;
        items.append(converted);
    }
    return !items.isEmpty() && writeItems(items);
}

std::optional<QString> Pasteboard::string() const
{
    if (const auto bytes = data(PasteboardType::string))
        return QuillomareCore::Text::fromUtf8(*bytes);
    return std::nullopt;
}

QList<QByteArray> Pasteboard::dataOfEachItem(const QString& type) const
{
    if (auto bytes = data(type))
        return {*bytes};
    return {};
}

QList<QUrl> Pasteboard::readURLs(bool fileURLsOnly) const
{
    QList<QUrl> urls;
    for (const QByteArray& list : dataOfEachItem(PasteboardType::uriList))
        urls += urlsIn(list, fileURLsOnly);
    return urls;
}

QList<QUrl> Pasteboard::urlsIn(const QByteArray& uriList, bool fileURLsOnly)
{
    QList<QUrl> urls;
    for (const QByteArray& rawLine : uriList.split('\n')) {
        const QByteArray line = rawLine.trimmed();
        if (line.isEmpty() || line.startsWith('#'))
            continue;
        const QUrl url = QUrl::fromEncoded(line, QUrl::StrictMode);
        if (!url.isValid() || url.scheme().isEmpty())
            continue;
        if (fileURLsOnly && !url.isLocalFile())
            continue;
        urls.append(url);
    }
    return urls;
}

QImage Pasteboard::readImage() const
{
    static const QStringList preferred{PasteboardType::png, PasteboardType::tiff, QStringLiteral("image/jpeg"),
                                       QStringLiteral("image/bmp"), QStringLiteral("image/gif"),
                                       QStringLiteral("image/webp")};
    QStringList candidates;
    const QStringList offered = types();
    for (const QString& type : preferred) {
        if (offered.contains(type))
            candidates.append(type);
    }
    for (const QString& type : offered) {
        if (type.startsWith(QLatin1String("image/")) && !candidates.contains(type))
            candidates.append(type);
    }
    for (const QString& type : candidates) {
        const auto bytes = data(type);
        if (!bytes || bytes->isEmpty())
            continue;
        QImage image;
        if (image.loadFromData(*bytes))
            return image;
    }
    return {};
}

// --- MemoryPasteboard

QStringList MemoryPasteboard::types() const
{
    QStringList types;
    for (const PasteboardItem& item : m_items) {
        for (const QString& type : item.types()) {
            if (!types.contains(type))
                types.append(type);
        }
    }
    return types;
}

std::optional<QByteArray> MemoryPasteboard::data(const QString& type) const
{
    for (const PasteboardItem& item : m_items) {
        if (auto bytes = item.data(type))
            return bytes;
    }
    return std::nullopt;
}

QList<QByteArray> MemoryPasteboard::dataOfEachItem(const QString& type) const
{
    QList<QByteArray> found;
    for (const PasteboardItem& item : m_items) {
        if (auto bytes = item.data(type))
            found.append(std::move(*bytes));
    }
    return found;
}

void MemoryPasteboard::changed()
{
    ++m_changeCount;
    if (m_sendsChangeNotices)
        notifyChanged();
}

qint64 MemoryPasteboard::clearContents()
{
    m_items.clear();
    changed();
    return m_changeCount;
}

bool MemoryPasteboard::setData(const QByteArray& data, const QString& type)
{
    if (m_refusesWrites)
        return false;
    if (m_items.isEmpty())
        m_items.append(PasteboardItem());
    m_items.first().setData(data, type);
    changed();
    return true;
}

bool MemoryPasteboard::writeItems(const QList<PasteboardItem>& items)
{
    if (m_refusesWrites || items.isEmpty())
        return false;
    m_items.append(items);
    changed();
    return true;
}

void MemoryPasteboard::simulateExternalCopy(const QList<PasteboardItem>& items)
{
    m_items = items;
    changed();
}

} // namespace Platform
