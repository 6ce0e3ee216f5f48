#include "PasteboardX11.h"

#include "X11PrivateConnection.h"

#include <QDeadlineTimer>
#include <QGuiApplication>
#include <QMimeData>

#include <poll.h>
#include <xcb/xcb.h>

#include <algorithm>
#include <cstdlib>
#include <vector>

namespace Platform {

namespace {

const QString kPlainText = QStringLiteral("text/plain");
// What GNOME's file manager reads when files are pasted; others read the URI list.
const QString kGnomeCopiedFiles = QStringLiteral("x-special/gnome-copied-files");

bool isInternalType(const QString& type)
{
    return type.startsWith(QLatin1String("application/x-qt-"));
}

// How long the owner may take to answer, and between two parts of an incremental transfer.
constexpr int kSelectionTimeoutMilliseconds = 5000;

xcb_atom_t internAtom(xcb_connection_t* connection, const QByteArray& name)
{
    xcb_intern_atom_reply_t* reply = xcb_intern_atom_reply(
        connection, xcb_intern_atom(connection, 0, static_cast<uint16_t>(name.size()), name.constData()), nullptr);
    const xcb_atom_t atom = reply ? reply->atom : xcb_atom_t(XCB_ATOM_NONE);
    std::free(reply);
    return atom;
}

// The names of the targets an owner's TARGETS answer lists, in its order.
QStringList targetNamesOf(xcb_connection_t* connection, const QByteArray& targets)
{
    const auto* atoms = reinterpret_cast<const xcb_atom_t*>(targets.constData());
    const qsizetype count = targets.size() / qsizetype(sizeof(xcb_atom_t));
    std::vector<xcb_get_atom_name_cookie_t> cookies;
    cookies.reserve(size_t(count));
    for (qsizetype i = 0; i < count; ++i)
        cookies.push_back(xcb_get_atom_name(connection, atoms[i]));
    QStringList names;
    for (const xcb_get_atom_name_cookie_t cookie : cookies) {
        if (xcb_get_atom_name_reply_t* reply = xcb_get_atom_name_reply(connection, cookie, nullptr)) {
            names.append(QString::fromLatin1(xcb_get_atom_name_name(reply), xcb_get_atom_name_name_length(reply)));
            std::free(reply);
        }
    }
    return names;
}

// The formats of those targets, named as types() names them: the text targets as one text type,
// the protocol's own targets and Qt's private ones left out.
QStringList formatNamesOf(const QStringList& targetNames)
{
    static const QStringList textTargets{QStringLiteral("UTF8_STRING"), QStringLiteral("STRING"),
                                         QStringLiteral("TEXT"), QStringLiteral("COMPOUND_TEXT"), kPlainText,
                                         PasteboardType::string};
    static const QStringList protocolTargets{QStringLiteral("TARGETS"), QStringLiteral("MULTIPLE"),
                                             QStringLiteral("TIMESTAMP"), QStringLiteral("SAVE_TARGETS"),
                                             QStringLiteral("DELETE"), QStringLiteral("INSERT_SELECTION"),
                                             QStringLiteral("INSERT_PROPERTY")};
    QStringList names;
    for (const QString& name : targetNames) {
        const QString type = textTargets.contains(name) ? PasteboardType::string : name;
        if (!protocolTargets.contains(name) && !isInternalType(name) && !names.contains(type))
            names.append(type);
    }
    return names;
}

// One selection transfer on a connection of our own: the GUI thread's connection (and so its
// event loop, which must keep answering other programs while we own the clipboard) is never
// held by the megabytes of an image.
class SelectionTransfer
{
public:
    explicit SelectionTransfer(const X11PrivateConnection& x) : m_connection(x.connection), m_root(x.root) {}
    // The connection outlives the transfer: one reader's reads share it.
    ~SelectionTransfer()
    {
        if (m_window)
            xcb_destroy_window(m_connection, m_window);
    }
    SelectionTransfer(const SelectionTransfer&) = delete;
    SelectionTransfer& operator=(const SelectionTransfer&) = delete;

    std::optional<QByteArray> read(const QByteArray& selectionName, const QByteArray& targetName)
    {
        m_window = xcb_generate_id(m_connection);
        const uint32_t events = XCB_EVENT_MASK_PROPERTY_CHANGE;
        xcb_create_window(m_connection, XCB_COPY_FROM_PARENT, m_window, m_root, 0, 0, 1, 1, 0,
                          XCB_WINDOW_CLASS_INPUT_ONLY, XCB_COPY_FROM_PARENT, XCB_CW_EVENT_MASK, &events);
        const xcb_atom_t selection = internAtom(m_connection, selectionName);
        const xcb_atom_t target = internAtom(m_connection, targetName);
        m_property = internAtom(m_connection, QByteArrayLiteral("QUILLOMARE_SELECTION"));
        m_incr = internAtom(m_connection, QByteArrayLiteral("INCR"));
        if (!selection || !target || !m_property || !m_incr)
            return std::nullopt;
        xcb_convert_selection(m_connection, m_window, selection, target, m_property, XCB_CURRENT_TIME);
        xcb_flush(m_connection);

        xcb_generic_event_t* notice = waitFor([&](xcb_generic_event_t* event) {
            return (event->response_type & 0x7F) == XCB_SELECTION_NOTIFY &&
                   reinterpret_cast<xcb_selection_notify_event_t*>(event)->requestor == m_window;
        });
        if (!notice)
            return std::nullopt;
        const xcb_atom_t answered = reinterpret_cast<xcb_selection_notify_event_t*>(notice)->property;
        std::free(notice);
        if (answered == XCB_ATOM_NONE)
            return std::nullopt; // the owner refused the target

        QByteArray bytes;
        bool incremental = false;
        if (!readProperty(bytes, &incremental))
            return std::nullopt;
        if (!incremental)
            return bytes;

        // Incremental: the property was deleted to ask for the first part; each new value is a
        // part, and an empty one ends the transfer.
        bytes.clear();
        while (true) {
            xcb_generic_event_t* event = waitFor([&](xcb_generic_event_t* e) {
                if ((e->response_type & 0x7F) != XCB_PROPERTY_NOTIFY)
                    return false;
                const auto* property = reinterpret_cast<xcb_property_notify_event_t*>(e);
                return property->window == m_window && property->atom == m_property &&
                       property->state == XCB_PROPERTY_NEW_VALUE;
            });
            if (!event)
                return std::nullopt;
            std::free(event);
            const qsizetype before = bytes.size();
            if (!readProperty(bytes, nullptr))
                return std::nullopt;
            if (bytes.size() == before)
                return bytes;
        }
    }

private:
    // Appends the property's value and deletes it; an INCR announcement only sets `incremental`.
    bool readProperty(QByteArray& into, bool* incremental)
    {
        constexpr uint32_t longsPerRequest = 1024 * 1024; // 4 MB per reply
        uint32_t offset = 0;
        while (true) {
            xcb_get_property_reply_t* reply = xcb_get_property_reply(
                m_connection,
                xcb_get_property(m_connection, 0, m_window, m_property, XCB_GET_PROPERTY_TYPE_ANY, offset,
                                 longsPerRequest),
                nullptr);
            if (!reply)
                return false;
            if (incremental && reply->type == m_incr) {
                *incremental = true;
                std::free(reply);
                break;
            }
            const int length = xcb_get_property_value_length(reply);
            into.append(static_cast<const char*>(xcb_get_property_value(reply)), length);
            const uint32_t after = reply->bytes_after;
            std::free(reply);
            if (after == 0)
                break;
            offset += static_cast<uint32_t>(length) / 4;
        }
        xcb_delete_property(m_connection, m_window, m_property);
        xcb_flush(m_connection);
        return true;
    }

    template <typename Predicate>
    xcb_generic_event_t* waitFor(Predicate&& wanted)
    {
        const QDeadlineTimer deadline(kSelectionTimeoutMilliseconds);
        while (true) {
            while (xcb_generic_event_t* event = xcb_poll_for_event(m_connection)) {
                if (wanted(event))
                    return event;
                std::free(event);
            }
            if (xcb_connection_has_error(m_connection) || deadline.hasExpired())
                return nullptr;
            pollfd descriptor{xcb_get_file_descriptor(m_connection), POLLIN, 0};
            ::poll(&descriptor, 1, static_cast<int>(std::max<qint64>(1, deadline.remainingTime())));
        }
    }

    xcb_connection_t* m_connection;
    xcb_window_t m_root;
    xcb_window_t m_window = 0;
    xcb_atom_t m_property = XCB_ATOM_NONE;
    xcb_atom_t m_incr = XCB_ATOM_NONE;
};

} // namespace

X11Pasteboard::X11Pasteboard(QClipboard::Mode mode, QObject* parent) : QObject(parent), m_mode(mode)
{
    connect(QGuiApplication::clipboard(), &QClipboard::changed, this, [this](QClipboard::Mode changed) {
        if (changed != m_mode)
            return;
        ++m_changeCount;
        m_sharedChangeCount->store(m_changeCount);
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

namespace {

// What one reader's reads share: one connection, and the owner's list of targets, asked once.
// Used by one thread at a time.
struct ReaderSession
{
    X11PrivateConnection x;
    std::optional<std::optional<QStringList>> targets;

    ~ReaderSession()
    {
        if (x.connection)
            xcb_disconnect(x.connection);
    }

    bool open()
    {
        if (!x.connection)
            x = X11PrivateConnection::open();
        return x.connection != nullptr;
    }

    const std::optional<QStringList>& targetNames(const QByteArray& selection)
    {
        if (!targets) {
            const std::optional<QByteArray> answer = SelectionTransfer(x).read(selection, "TARGETS");
            targets = answer ? std::optional<QStringList>(targetNamesOf(x.connection, *answer)) : std::nullopt;
        }
        return *targets;
    }
};

} // namespace

Pasteboard::BackgroundReader X11Pasteboard::backgroundReader() const
{
    if (QGuiApplication::platformName() != QLatin1String("xcb"))
        return {};
    // Our own copy is answered by our own event loop: a reader on another thread would wait for
    // the very thread that may be waiting for it, where Qt hands it over without the server.
    const QClipboard* clipboard = QGuiApplication::clipboard();
    if (m_mode == QClipboard::Clipboard ? clipboard->ownsClipboard() : clipboard->ownsSelection())
        return {};
    const QByteArray selection = m_mode == QClipboard::Clipboard ? QByteArrayLiteral("CLIPBOARD")
                                                                 : QByteArrayLiteral("PRIMARY");
    return [selection, count = m_sharedChangeCount, seen = m_changeCount,
            session = std::make_shared<ReaderSession>()](const QString& type) {
        BackgroundData result;
        if (count->load() != seen) {
            result.superseded = true;
            return result;
        }
        if (!session->open())
            return result;
        const X11PrivateConnection& x = session->x;
        const std::optional<QStringList>& targets = session->targetNames(selection);
        if (type == PasteboardType::formatNames) {
            if (targets)
                result.bytes = formatNamesOf(*targets).join(u'\n').toUtf8();
        } else if (type == PasteboardType::string) {
            // Text goes by several target names, of which owners offer some; STRING is Latin-1.
            // Asked by a name it does not offer, an owner may answer in another encoding. With no
            // list to go by, every name is tried.
            const auto offers = [&](const char* name) { return !targets || targets->contains(QLatin1String(name)); };
            for (const char* target : {"UTF8_STRING", "text/plain;charset=utf-8", "text/plain"}) {
                if (count->load() != seen)
                    break;
                if (offers(target) && (result.bytes = SelectionTransfer(x).read(selection, target)))
                    break;
            }
            if (!result.bytes && count->load() == seen && offers("STRING")) {
                if (auto latin1 = SelectionTransfer(x).read(selection, "STRING"))
                    result.bytes = QString::fromLatin1(*latin1).toUtf8();
            }
            // Some owners count the C string's terminator in.
            while (result.bytes && result.bytes->endsWith('\0'))
                result.bytes->chop(1);
        } else {
            result.bytes = SelectionTransfer(x).read(selection, type.toLatin1());
        }
        // What was read may belong to a newer copy: that one is read for its own change.
        result.superseded = count->load() != seen;
        return result;
    };
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
