#include "PasteboardX11.h"

#include <QGuiApplication>
#include <QMimeData>

namespace Platform {

namespace {

const QString kPlainText = QStringLiteral("text/plain");
// What GNOME's file manager reads when files are pasted; others read the URI list.
const QString kGnomeCopiedFiles = QStringLiteral("x-special/gnome-copied-files");

bool isInternalType(const QString& type)
{
    return type.startsWith(QLatin1String("application/x-qt-"));
}

} // namespace

X11Pasteboard::X11Pasteboard(QClipboard::Mode mode, QObject* parent) : QObject(parent), m_mode(mode)
{
    connect(QGuiApplication::clipboard(), &QClipboard::changed, this, [this](QClipboard::Mode changed) {
        if (changed != m_mode)
            return;
        ++m_changeCount;
        notifyChanged();
    });
}

QStringList X11Pasteboard::types() const
{
    const QMimeData* mime = QGuiApplication::clipboard()->mimeData(m_mode);
    if (!mime)
        return {};
    QStringList types;
    if (mime->hasText())
        types.append(PasteboardType::string);
    for (const QString& format : mime->formats()) {
        if (format != kPlainText && format != PasteboardType::string && !isInternalType(format))
            types.append(format);
    }
    return types;
}

std::optional<QByteArray> X11Pasteboard::data(const QString& type) const
{
    const QMimeData* mime = QGuiApplication::clipboard()->mimeData(m_mode);
    if (!mime)
        return std::nullopt;
    if (type == PasteboardType::string) {
        if (!mime->hasText())
            return std::nullopt;
        return mime->text().toUtf8();
    }
    if (!mime->hasFormat(type))
        return std::nullopt;
    return mime->data(type);
}

QList<PasteboardItem> X11Pasteboard::pasteboardItems() const
{
    PasteboardItem item;
    for (const QString& type : types()) {
        if (type == kGnomeCopiedFiles)
            continue; // written again from the URI list
        if (auto bytes = data(type))
            item.setData(*bytes, type);
    }
    if (item.isEmpty())
        return {};
    return {item};
}

qint64 X11Pasteboard::clearContents()
{
    m_pending = PasteboardItem();
    // Owning an empty selection rather than releasing it: a release while another program owns
    // the selection brings a second, late change notice that would count as a foreign copy.
    QGuiApplication::clipboard()->setMimeData(new QMimeData, m_mode);
    return m_changeCount;
}

bool X11Pasteboard::setData(const QByteArray& data, const QString& type)
{
    m_pending.setData(data, type);
    return publish();
}

bool X11Pasteboard::writeItems(const QList<PasteboardItem>& items)
{
    if (items.isEmpty())
        return false;
    // One X11 selection carries one item: URI lists are joined, other types keep the first value.
    QByteArray uris = m_pending.data(PasteboardType::uriList).value_or(QByteArray());
    for (const PasteboardItem& item : items) {
        for (const auto& [type, bytes] : item.representations()) {
            if (type == PasteboardType::uriList) {
                uris += bytes;
                if (!uris.endsWith('\n'))
                    uris += "\r\n";
            } else if (!m_pending.data(type)) {
                m_pending.setData(bytes, type);
            }
        }
    }
    if (!uris.isEmpty())
        m_pending.setData(uris, PasteboardType::uriList);
    return publish();
}

bool X11Pasteboard::publish()
{
    auto* mime = new QMimeData;
    for (const auto& [type, bytes] : m_pending.representations()) {
        if (type == PasteboardType::string) {
            // Qt offers UTF8_STRING, STRING and TEXT for this; some readers ask for the MIME name.
            mime->setText(QString::fromUtf8(bytes));
            mime->setData(PasteboardType::string, bytes);
        } else if (type == PasteboardType::uriList) {
            mime->setData(type, bytes);
            QList<QUrl> urls;
            for (const QByteArray& line : bytes.split('\n')) {
                if (!line.trimmed().isEmpty())
                    urls.append(QUrl::fromEncoded(line.trimmed()));
            }
            const bool allFiles = !urls.isEmpty() && std::all_of(urls.cbegin(), urls.cend(),
                                                                [](const QUrl& url) { return url.isLocalFile(); });
            if (allFiles) {
                QByteArray copied = "copy";
                for (const QUrl& url : urls)
                    copied += '\n' + url.toEncoded();
                mime->setData(kGnomeCopiedFiles, copied);
            }
        } else {
            mime->setData(type, bytes);
        }
    }
    QClipboard* clipboard = QGuiApplication::clipboard();
    clipboard->setMimeData(mime, m_mode);
    return m_mode == QClipboard::Clipboard ? clipboard->ownsClipboard() : clipboard->ownsSelection();
}

} // namespace Platform
