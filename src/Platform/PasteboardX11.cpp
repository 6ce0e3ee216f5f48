#include "PasteboardX11.h"

#include "X11LingeringTransfers.h"
#include "X11PrivateConnection.h"

#include <QuillomareCore/ClipSettings.h>
#include <QuillomareCore/TextDecoding.h>

#include <QDeadlineTimer>
#include <QGuiApplication>
#include <QMimeData>

#include <poll.h>
#include <xcb/xcb.h>
#include <xcb/xfixes.h>

#include <algorithm>
#include <cstdlib>
#include <functional>
#include <mutex>
#include <thread>
#include <utility>
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
// How often a wait looks whether its transfer is still wanted.
constexpr int kAbandonCheckMilliseconds = 20;
// How long a transfer given up may keep its window for an owner still answering: enough for any
// owner that answers at all to finish, not enough for a trickling one to hold a thread for good.
constexpr int kLingerMilliseconds = 2 * kSelectionTimeoutMilliseconds;

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

// What bounds one transfer: its deadline, its size, and whether it is still wanted (a newer copy
// or quitting ends it at once).
struct TransferBounds
{
    QDeadlineTimer deadline;
    qint64 maxBytes = 0;
    std::function<bool()> abandoned;
    // The selection's owner when the change being read was announced (XCB_NONE: it had none),
    // when known. Another owner holds a newer copy, which is read for its own change.
    std::optional<xcb_window_t> owner;
};

struct TransferResult
{
    enum class Status
    {
        done,
        failed, // refused, or the owner went away or stopped answering
        abandoned,
        replaced, // another owner than the change's holds the selection: nothing was asked
        timedOut,
        tooLarge
    } status = Status::failed;
    QByteArray bytes;
    qint64 size = 0;
    bool sizeIsExact = false;
};

// What a transfer asked of the owner.
struct SelectionRequest
{
    xcb_window_t requestor = 0;
    xcb_atom_t selection = XCB_ATOM_NONE;
    xcb_atom_t target = XCB_ATOM_NONE;
    xcb_atom_t property = XCB_ATOM_NONE;
    xcb_timestamp_t time = XCB_CURRENT_TIME;
};

// Whether an event is the SelectionNotify that answers our request: the window alone does not say
// it, for the server hands a closed window's id to the next connection at once, and a late answer
// meant for a transfer given up and closed would else be taken for the answer to a newer one. An
// owner repeats the request's selection, target and time, and names our property or none (a
// refusal).
bool answersRequest(const xcb_generic_event_t* event, const SelectionRequest& request)
{
    if ((event->response_type & 0x7F) != XCB_SELECTION_NOTIFY)
        return false;
    const auto* notice = reinterpret_cast<const xcb_selection_notify_event_t*>(event);
    return notice->requestor == request.requestor && notice->selection == request.selection &&
           notice->target == request.target &&
           (notice->property == request.property || notice->property == XCB_ATOM_NONE) &&
           (request.time == XCB_CURRENT_TIME || notice->time == request.time);
}

// Transfers given up while their owner may still write to their window. An owner that writes to
// a window that is gone gets an error, and the many owners on Xlib's default error handler die of
// it, taking the user's copy along; so the window stays until the owner has answered (and any
// transfer in parts has ended, its parts thrown away unread), or until the owner has had its time.
// A window lives and dies with the connection that made it, so each one kept costs a connection to
// the X server, whose clients are few (256 by default) and shared by the whole desktop: few are
// kept, and past the limit lingeringTransferToClose() chooses the one that goes.
class AbandonedTransfers
{
public:
    enum class Awaiting
    {
        nothing,
        answer, // the owner's answer to our request
        part,   // the next part of a transfer in parts
    };

    // How many given-up transfers keep their connection at once.
    static constexpr size_t limit = 8;

    static AbandonedTransfers& instance()
    {
        // Never destroyed: its thread may outlive the statics at exit.
        static AbandonedTransfers* const transfers = new AbandonedTransfers;
        return *transfers;
    }

    // Takes the connection and the request's window over, and closes both once the owner is done;
    // only the answer to `request` counts. `owner` names the owner's client (0 when unknown).
    void adopt(xcb_connection_t* connection, const SelectionRequest& request, xcb_atom_t incr, Awaiting awaiting,
               uint32_t owner)
    {
        std::vector<Transfer> dropped;
        {
            const std::lock_guard lock(m_mutex);
            m_transfers.push_back({connection, request, incr, awaiting, owner, QDeadlineTimer(kLingerMilliseconds)});
            while (m_transfers.size() > limit) {
                std::vector<uint32_t> owners;
                for (const Transfer& transfer : m_transfers)
                    owners.push_back(transfer.owner);
                const auto closed = m_transfers.begin() + qsizetype(lingeringTransferToClose(owners));
                dropped.push_back(*closed);
                m_transfers.erase(closed);
            }
            if (!m_running) {
                m_running = true;
                std::thread([this] { run(); }).detach();
            }
        }
        for (const Transfer& transfer : dropped)
            close(transfer);
    }

private:
    struct Transfer
    {
        xcb_connection_t* connection;
        SelectionRequest request;
        xcb_atom_t incr;
        Awaiting awaiting;
        uint32_t owner;
        QDeadlineTimer deadline;
    };

    static void close(const Transfer& transfer)
    {
        xcb_destroy_window(transfer.connection, transfer.request.requestor);
        xcb_disconnect(transfer.connection);
    }

    void run()
    {
        std::unique_lock lock(m_mutex);
        while (!m_transfers.empty()) {
            std::vector<pollfd> descriptors;
            for (const Transfer& transfer : m_transfers)
                descriptors.push_back({xcb_get_file_descriptor(transfer.connection), POLLIN, 0});
            lock.unlock();
            ::poll(descriptors.data(), descriptors.size(), kAbandonCheckMilliseconds);
            lock.lock();
            // The list may have changed meanwhile (adopted, or closed past the limit): each
            // transfer now in it is looked at, whatever woke the wait.
            for (auto transfer = m_transfers.begin(); transfer != m_transfers.end();) {
                if (serve(*transfer)) {
                    ++transfer;
                    continue;
                }
                close(*transfer);
                transfer = m_transfers.erase(transfer);
            }
        }
        m_running = false;
    }

    // Takes what came for the transfer; false once the owner is done with the window.
    static bool serve(Transfer& transfer)
    {
        while (xcb_generic_event_t* event = xcb_poll_for_event(transfer.connection)) {
            const uint8_t type = event->response_type & 0x7F;
            if (transfer.awaiting == Awaiting::answer && answersRequest(event, transfer.request)) {
                const auto* notice = reinterpret_cast<xcb_selection_notify_event_t*>(event);
                transfer.awaiting = Awaiting::nothing;
                // An announcement of parts is answered by deleting it, which asks for the first.
                if (notice->property != XCB_ATOM_NONE && propertyType(transfer) == transfer.incr) {
                    xcb_delete_property(transfer.connection, transfer.request.requestor, transfer.request.property);
                    xcb_flush(transfer.connection);
                    transfer.awaiting = Awaiting::part;
                }
            } else if (type == XCB_PROPERTY_NOTIFY && transfer.awaiting == Awaiting::part) {
                const auto* notice = reinterpret_cast<xcb_property_notify_event_t*>(event);
                if (notice->window == transfer.request.requestor && notice->atom == transfer.request.property &&
                    notice->state == XCB_PROPERTY_NEW_VALUE) {
                    // An empty part ends the transfer; any other is deleted to ask for the next.
                    const bool last = propertyLength(transfer) == 0;
                    xcb_delete_property(transfer.connection, transfer.request.requestor, transfer.request.property);
                    xcb_flush(transfer.connection);
                    transfer.awaiting = last ? Awaiting::nothing : Awaiting::part;
                }
            }
            std::free(event);
        }
        return transfer.awaiting != Awaiting::nothing && !transfer.deadline.hasExpired() &&
               !xcb_connection_has_error(transfer.connection);
    }

    static xcb_get_property_reply_t* propertyHead(const Transfer& transfer)
    {
        return xcb_get_property_reply(transfer.connection,
                                      xcb_get_property(transfer.connection, 0, transfer.request.requestor,
                                                       transfer.request.property, XCB_GET_PROPERTY_TYPE_ANY, 0, 0),
                                      nullptr);
    }

    static xcb_atom_t propertyType(const Transfer& transfer)
    {
        xcb_get_property_reply_t* reply = propertyHead(transfer);
        const xcb_atom_t type = reply ? reply->type : xcb_atom_t(XCB_ATOM_NONE);
        std::free(reply);
        return type;
    }

    static uint32_t propertyLength(const Transfer& transfer)
    {
        xcb_get_property_reply_t* reply = propertyHead(transfer);
        const uint32_t length = reply ? reply->bytes_after : 0;
        std::free(reply);
        return length;
    }

    std::mutex m_mutex;
    std::vector<Transfer> m_transfers;
    bool m_running = false;
};

// One selection transfer on a connection of our own: the GUI thread's connection (and so its
// event loop, which must keep answering other programs while we own the clipboard) is never
// held by the megabytes of an image.
class SelectionTransfer
{
public:
    SelectionTransfer(X11PrivateConnection& x, const TransferBounds& bounds)
        : m_x(x), m_connection(x.connection), m_root(x.root), m_bounds(bounds)
    {
    }
    // The connection outlives the transfer: one reader's reads share it. A transfer given up
    // while the owner may still write to its window leaves the window, and the connection with
    // it, to the reaper until the owner is done.
    ~SelectionTransfer()
    {
        if (!m_window)
            return;
        if (m_awaiting != AbandonedTransfers::Awaiting::nothing) {
            AbandonedTransfers::instance().adopt(m_connection, m_request, m_incr, m_awaiting, m_owner);
            m_x.connection = nullptr;
            return;
        }
        xcb_destroy_window(m_connection, m_window);
        xcb_flush(m_connection);
    }
    SelectionTransfer(const SelectionTransfer&) = delete;
    SelectionTransfer& operator=(const SelectionTransfer&) = delete;

    TransferResult read(const QByteArray& selectionName, const QByteArray& targetName)
    {
        m_window = xcb_generate_id(m_connection);
        const uint32_t events = XCB_EVENT_MASK_PROPERTY_CHANGE;
        xcb_create_window(m_connection, XCB_COPY_FROM_PARENT, m_window, m_root, 0, 0, 1, 1, 0,
                          XCB_WINDOW_CLASS_INPUT_ONLY, XCB_COPY_FROM_PARENT, XCB_CW_EVENT_MASK, &events);
        const xcb_atom_t selection = internAtom(m_connection, selectionName);
        const xcb_atom_t target = internAtom(m_connection, targetName);
        m_property = internAtom(m_connection, QByteArrayLiteral("QUILLOMARE_SELECTION"));
        m_incr = internAtom(m_connection, QByteArrayLiteral("INCR"));
        const xcb_atom_t stamp = internAtom(m_connection, QByteArrayLiteral("QUILLOMARE_TIMESTAMP"));
        if (!selection || !target || !m_property || !m_incr || !stamp)
            return m_result;
        // The request carries a time of its own, which the answer repeats: a time the server
        // gives us by reporting a change of our own window's property.
        xcb_change_property(m_connection, XCB_PROP_MODE_APPEND, m_window, stamp, XCB_ATOM_INTEGER, 32, 0, nullptr);
        const xcb_get_selection_owner_cookie_t ownerCookie = xcb_get_selection_owner(m_connection, selection);
        xcb_flush(m_connection);
        xcb_get_selection_owner_reply_t* ownerReply = xcb_get_selection_owner_reply(m_connection, ownerCookie, nullptr);
        if (!ownerReply)
            return m_result;
        const xcb_window_t owner = ownerReply->owner;
        std::free(ownerReply);
        if (m_bounds.owner && *m_bounds.owner != owner) {
            m_result.status = TransferResult::Status::replaced;
            return m_result;
        }
        // Who is asked, as far as we can tell: the client that made the owner's window.
        m_owner = owner & ~xcb_get_setup(m_connection)->resource_id_mask;
        xcb_generic_event_t* stamped = waitFor([&](xcb_generic_event_t* event) {
            if ((event->response_type & 0x7F) != XCB_PROPERTY_NOTIFY)
                return false;
            const auto* property = reinterpret_cast<xcb_property_notify_event_t*>(event);
            return property->window == m_window && property->atom == stamp;
        });
        if (!stamped)
            return m_result;
        const xcb_timestamp_t time = reinterpret_cast<xcb_property_notify_event_t*>(stamped)->time;
        std::free(stamped);

        m_request = {m_window, selection, target, m_property, time};
        xcb_convert_selection(m_connection, m_window, selection, target, m_property, time);
        xcb_flush(m_connection);
        m_awaiting = AbandonedTransfers::Awaiting::answer;

        // Anything else that comes for our window is ignored, and its property left unread.
        xcb_generic_event_t* notice =
            waitFor([&](xcb_generic_event_t* event) { return answersRequest(event, m_request); });
        if (!notice)
            return m_result;
        m_awaiting = AbandonedTransfers::Awaiting::nothing;
        const xcb_atom_t answered = reinterpret_cast<xcb_selection_notify_event_t*>(notice)->property;
        std::free(notice);
        if (answered == XCB_ATOM_NONE)
            return m_result; // the owner refused the target

        bool incremental = false;
        if (!readProperty(&incremental))
            return m_result;
        if (!incremental)
            return done();

        // Incremental: the property was deleted to ask for the first part; each new value is a
        // part, and an empty one ends the transfer.
        m_result.bytes.clear();
        m_awaiting = AbandonedTransfers::Awaiting::part;
        while (true) {
            xcb_generic_event_t* event = waitFor([this](xcb_generic_event_t* e) { return isNewPart(e); });
            if (!event)
                return m_result;
            std::free(event);
            m_awaiting = AbandonedTransfers::Awaiting::nothing;
            const qsizetype before = m_result.bytes.size();
            if (!readProperty(nullptr))
                return m_result;
            if (m_result.bytes.size() == before)
                return done();
            m_awaiting = AbandonedTransfers::Awaiting::part; // deleting a part asked for the next
        }
    }

private:
    TransferResult done()
    {
        m_result.status = TransferResult::Status::done;
        m_result.size = m_result.bytes.size();
        m_result.sizeIsExact = true;
        return m_result;
    }

    bool isNewPart(xcb_generic_event_t* event) const
    {
        if ((event->response_type & 0x7F) != XCB_PROPERTY_NOTIFY)
            return false;
        const auto* property = reinterpret_cast<xcb_property_notify_event_t*>(event);
        return property->window == m_window && property->atom == m_property &&
               property->state == XCB_PROPERTY_NEW_VALUE;
    }

    // After the part that passed the limit: whether it was the last. The owner is asked for the
    // next part, whose size is looked at without reading it; an empty one ends the transfer, and
    // the size seen is the whole size.
    bool nextPartIsTheEnd()
    {
        xcb_delete_property(m_connection, m_window, m_property);
        xcb_flush(m_connection);
        m_awaiting = AbandonedTransfers::Awaiting::part;
        xcb_generic_event_t* event = waitFor([this](xcb_generic_event_t* e) { return isNewPart(e); });
        if (!event)
            return false;
        std::free(event);
        m_awaiting = AbandonedTransfers::Awaiting::nothing;
        xcb_get_property_reply_t* reply = xcb_get_property_reply(
            m_connection, xcb_get_property(m_connection, 0, m_window, m_property, XCB_GET_PROPERTY_TYPE_ANY, 0, 0),
            nullptr);
        const bool end = reply && xcb_get_property_value_length(reply) == 0 && reply->bytes_after == 0;
        std::free(reply);
        if (end) {
            xcb_delete_property(m_connection, m_window, m_property);
            xcb_flush(m_connection);
        }
        return end;
    }

    // `exact`: `seen` is the whole size (one property held it all, the owner announced it, or the
    // part that passed the limit was the last); otherwise more came, and `seen` is a lower bound.
    void tooLarge(qint64 seen, bool exact)
    {
        m_result.status = TransferResult::Status::tooLarge;
        // An owner that announced more than it sent leaves only a bound.
        m_result.sizeIsExact = exact && m_announcedSize <= seen;
        m_result.size = std::max(seen, m_announcedSize);
        m_result.bytes.clear();
    }

    // Appends the property's value and deletes it; an INCR announcement only sets `incremental`
    // and notes the size the owner announced. Stops, without fetching more, once the value would
    // pass the size limit.
    bool readProperty(bool* incremental)
    {
        constexpr uint32_t longsPerRequest = 1024 * 1024; // 4 MB per reply
        uint32_t offset = 0;
        QByteArray& into = m_result.bytes;
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
                // The protocol calls it a lower bound of the size; owners give the whole size.
                if (xcb_get_property_value_length(reply) >= 4)
                    m_announcedSize = *static_cast<const uint32_t*>(xcb_get_property_value(reply));
                std::free(reply);
                // Refused on the owner's word, before a byte comes: the size is the one it gave.
                if (m_announcedSize > m_bounds.maxBytes) {
                    tooLarge(m_announcedSize, true);
                    return false;
                }
                break;
            }
            const int length = xcb_get_property_value_length(reply);
            const uint32_t after = reply->bytes_after;
            if (offset == 0 && into.size() + length + qint64(after) > m_bounds.maxBytes) {
                std::free(reply);
                // Whole in one property, its size is known; in parts, once the next part is the end.
                const qint64 seen = into.size() + length + qint64(after);
                const bool whole = incremental != nullptr || nextPartIsTheEnd();
                tooLarge(seen, whole);
                return false;
            }
            into.append(static_cast<const char*>(xcb_get_property_value(reply)), length);
            std::free(reply);
            if (after == 0)
                break;
            offset += static_cast<uint32_t>(length) / 4;
        }
        xcb_delete_property(m_connection, m_window, m_property);
        xcb_flush(m_connection);
        return true;
    }

    // The first event that is wanted, or null when the owner stopped answering, the transfer ran
    // out of time or is no longer wanted (the result's status says which).
    template <typename Predicate>
    xcb_generic_event_t* waitFor(Predicate&& wanted)
    {
        const QDeadlineTimer step(kSelectionTimeoutMilliseconds);
        while (true) {
            while (xcb_generic_event_t* event = xcb_poll_for_event(m_connection)) {
                if (wanted(event))
                    return event;
                std::free(event);
            }
            if (m_bounds.abandoned && m_bounds.abandoned()) {
                m_result.status = TransferResult::Status::abandoned;
                return nullptr;
            }
            if (m_bounds.deadline.hasExpired()) {
                m_result.status = TransferResult::Status::timedOut;
                return nullptr;
            }
            if (xcb_connection_has_error(m_connection) || step.hasExpired())
                return nullptr;
            const qint64 remaining = std::min(step.remainingTime(), m_bounds.deadline.remainingTime());
            pollfd descriptor{xcb_get_file_descriptor(m_connection), POLLIN, 0};
            ::poll(&descriptor, 1, int(std::clamp<qint64>(remaining, 1, kAbandonCheckMilliseconds)));
        }
    }

    X11PrivateConnection& m_x;
    xcb_connection_t* m_connection;
    xcb_window_t m_root;
    const TransferBounds& m_bounds;
    AbandonedTransfers::Awaiting m_awaiting = AbandonedTransfers::Awaiting::nothing;
    xcb_window_t m_window = 0;
    xcb_atom_t m_property = XCB_ATOM_NONE;
    xcb_atom_t m_incr = XCB_ATOM_NONE;
    SelectionRequest m_request;
    uint32_t m_owner = 0;
    qint64 m_announcedSize = 0;
    TransferResult m_result;
};

} // namespace

X11Pasteboard::X11Pasteboard(QClipboard::Mode mode, QObject* parent) : QObject(parent), m_mode(mode)
{
    auto* x11 = qGuiApp ? qGuiApp->nativeInterface<QNativeInterface::QX11Application>() : nullptr;
    if (xcb_connection_t* connection = x11 ? x11->connection() : nullptr) {
        const xcb_query_extension_reply_t* xfixes = xcb_get_extension_data(connection, &xcb_xfixes_id);
        m_selectionAtom = internAtom(connection, m_mode == QClipboard::Clipboard ? QByteArrayLiteral("CLIPBOARD")
                                                                                 : QByteArrayLiteral("PRIMARY"));
        if (xfixes && xfixes->present && m_selectionAtom) {
            m_xfixesSelectionNotify = xfixes->first_event + XCB_XFIXES_SELECTION_NOTIFY;
            QCoreApplication::instance()->installNativeEventFilter(this);
        }
    }
    connect(QGuiApplication::clipboard(), &QClipboard::changed, this, [this](QClipboard::Mode changed) {
        if (changed != m_mode)
            return;
        ++m_changeCount;
        // Only a change the server's notice announced names its owner.
        m_changeOwner = std::exchange(m_lastOwnerSeen, std::nullopt);
        m_sharedChangeCount->store(m_changeCount);
        notifyChanged();
    });
}

X11Pasteboard::~X11Pasteboard()
{
    if (m_xfixesSelectionNotify && QCoreApplication::instance())
        QCoreApplication::instance()->removeNativeEventFilter(this);
}

bool X11Pasteboard::nativeEventFilter(const QByteArray& eventType, void* message, qintptr*)
{
    if (eventType != "xcb_generic_event_t")
        return false;
    const auto* event = static_cast<const xcb_generic_event_t*>(message);
    if ((event->response_type & 0x7F) == m_xfixesSelectionNotify) {
        const auto* notice = reinterpret_cast<const xcb_xfixes_selection_notify_event_t*>(event);
        if (notice->selection == m_selectionAtom)
            m_lastOwnerSeen = notice->owner;
    }
    return false; // Qt reports the change from the same event, right after
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
        // Another program's text as it sent it, by whichever name it offers it: Qt decodes it on
        // the way and drops a leading U+FEFF. Our own copy has no reader (and no transfer).
        if (const BackgroundReader reader = backgroundReader())
            return reader(type, QuillomareCore::ClipDefaults::maxTextPayloadBytes).bytes;
        // Our own copy's bytes as written: text() decodes them again, and drops the mark too.
        if (mime->hasFormat(PasteboardType::string))
            return mime->data(PasteboardType::string);
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
    TransferBounds bounds;
    bool started = false;
    int deadlineMilliseconds = 0;
    // Set once another owner than the change's was found holding the selection.
    bool replaced = false;

    ~ReaderSession()
    {
        if (x.connection)
            xcb_disconnect(x.connection);
    }

    bool open()
    {
        // The deadline runs from the first read: a reader may wait in a queue first.
        if (!started) {
            started = true;
            bounds.deadline = QDeadlineTimer(deadlineMilliseconds);
        }
        if (!x.connection)
            x = X11PrivateConnection::open();
        return x.connection != nullptr;
    }

    TransferResult read(const QByteArray& selection, const QByteArray& target, qint64 maxBytes)
    {
        TransferResult result;
        if (replaced) {
            result.status = TransferResult::Status::replaced;
            return result;
        }
        bounds.maxBytes = maxBytes;
        result = SelectionTransfer(x, bounds).read(selection, target);
        replaced = result.status == TransferResult::Status::replaced;
        return result;
    }

    // Whether the change being read is no longer there to read.
    bool over() const { return replaced || bounds.abandoned(); }

    // The list, or why there is none.
    const std::optional<QStringList>& targetNames(const QByteArray& selection, TransferResult::Status& status)
    {
        status = TransferResult::Status::done;
        if (!targets) {
            // Ten thousand targets take 40 kB.
            const TransferResult answer = read(selection, "TARGETS", 1024 * 1024);
            status = answer.status;
            if (status == TransferResult::Status::abandoned || status == TransferResult::Status::replaced ||
                status == TransferResult::Status::timedOut)
                return *(targets = std::optional<QStringList>()); // asked again by no one: the reader is done
            targets = answer.status == TransferResult::Status::done
                          ? std::optional<QStringList>(targetNamesOf(x.connection, answer.bytes))
                          : std::nullopt;
        }
        return *targets;
    }
};

// Carries a transfer's outcome into what the reader answers; true when the bytes came.
bool takeResult(Pasteboard::BackgroundData& into, TransferResult&& read)
{
    switch (read.status) {
    case TransferResult::Status::done:
        into.bytes = std::move(read.bytes);
        return true;
    case TransferResult::Status::tooLarge:
        into.tooLarge = true;
        into.size = read.size;
        into.sizeIsExact = read.sizeIsExact;
        break;
    case TransferResult::Status::timedOut:
        into.timedOut = true;
        break;
    case TransferResult::Status::abandoned:
    case TransferResult::Status::replaced:
    case TransferResult::Status::failed:
        break;
    }
    return false;
}

// Whether the reads of a transfer that ended this way are over: no other target is tried.
bool endsReading(const Pasteboard::BackgroundData& data)
{
    return data.tooLarge || data.timedOut;
}

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
    auto session = std::make_shared<ReaderSession>();
    session->deadlineMilliseconds = m_transferDeadline;
    session->bounds.owner = m_changeOwner;
    // A newer copy, or quitting, ends a read at once.
    session->bounds.abandoned = [count = m_sharedChangeCount, seen = m_changeCount, cancel = m_cancelGeneration,
                                 generation = m_cancelGeneration->load()] {
        return count->load() != seen || cancel->load() != generation;
    };
    return [selection, count = m_sharedChangeCount, seen = m_changeCount, session](const QString& type,
                                                                                   qint64 maxBytes) {
        BackgroundData result;
        if (session->over()) {
            result.superseded = count->load() != seen || session->replaced;
            return result;
        }
        if (!session->open())
            return result;
        TransferResult::Status listStatus = TransferResult::Status::done;
        const std::optional<QStringList>& targets = session->targetNames(selection, listStatus);
        if (listStatus == TransferResult::Status::timedOut) {
            result.timedOut = true;
        } else if (listStatus == TransferResult::Status::abandoned || listStatus == TransferResult::Status::replaced) {
            // nothing read
        } else if (type == PasteboardType::formatNames) {
            if (targets)
                result.bytes = formatNamesOf(*targets).join(u'\n').toUtf8();
        } else if (type == PasteboardType::string) {
            // Text goes by several target names, of which owners offer some; STRING is Latin-1.
            // Asked by a name it does not offer, an owner may answer in another encoding. With no
            // list to go by, every name is tried.
            const auto offers = [&](const char* name) { return !targets || targets->contains(QLatin1String(name)); };
            bool read = false;
            for (const char* target : {"UTF8_STRING", "text/plain;charset=utf-8", "text/plain"}) {
                if (session->over() || endsReading(result))
                    break;
                if (offers(target) && (read = takeResult(result, session->read(selection, target, maxBytes))))
                    break;
            }
            if (!read && !session->over() && !endsReading(result) && offers("STRING")) {
                // Latin-1 grows by at most one byte a character in UTF-8.
                if (takeResult(result, session->read(selection, "STRING", maxBytes))) {
                    result.bytes = QString::fromLatin1(*result.bytes).toUtf8();
                    if (result.bytes->size() > maxBytes) {
                        result.tooLarge = result.sizeIsExact = true;
                        result.size = result.bytes->size();
                        result.bytes.reset();
                    }
                }
            }
            // Some owners count the C string's terminator in.
            while (result.bytes && result.bytes->endsWith('\0'))
                result.bytes->chop(1);
        } else {
            takeResult(result, session->read(selection, type.toLatin1(), maxBytes));
        }
        // What was read may belong to a newer copy: that one is read for its own change.
        result.superseded = count->load() != seen || session->replaced;
        return result;
    };
}

void X11Pasteboard::cancelBackgroundReads()
{
    ++*m_cancelGeneration;
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
            mime->setText(QuillomareCore::Text::fromUtf8(bytes));
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
    const bool qtOwns = m_mode == QClipboard::Clipboard ? clipboard->ownsClipboard() : clipboard->ownsSelection();
    return qtOwns && serverNamesUsOwner();
}

// Qt asks for the selection with the time of the last event it has handled and believes it owns
// it even when the server refused: when another program took the clipboard after that event,
// the request is ignored. Only the server can say whether the write took.
bool X11Pasteboard::serverNamesUsOwner() const
{
    auto* x11 = qGuiApp ? qGuiApp->nativeInterface<QNativeInterface::QX11Application>() : nullptr;
    xcb_connection_t* connection = x11 ? x11->connection() : nullptr;
    if (!connection)
        return true; // not on X: Qt's word is all there is
    const xcb_atom_t selection = internAtom(connection, m_mode == QClipboard::Clipboard
                                                            ? QByteArrayLiteral("CLIPBOARD")
                                                            : QByteArrayLiteral("PRIMARY"));
    xcb_get_selection_owner_reply_t* reply =
        xcb_get_selection_owner_reply(connection, xcb_get_selection_owner(connection, selection), nullptr);
    const xcb_window_t owner = reply ? reply->owner : xcb_window_t(XCB_NONE);
    std::free(reply);
    // Every window this connection makes carries its resource base.
    const xcb_setup_t* setup = xcb_get_setup(connection);
    return owner != XCB_NONE && (owner & ~setup->resource_id_mask) == setup->resource_id_base;
}

} // namespace Platform
