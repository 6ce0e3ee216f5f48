#include "X11RawButtonMonitor.h"

#include "X11PrivateConnection.h"

#include <QDeadlineTimer>
#include <QGuiApplication>
#include <QLoggingCategory>
#include <QSet>
#include <QSocketNotifier>
#include <QTimer>
#include <QWindow>

#include <xcb/xcb.h>
#include <xcb/xcbext.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <optional>
#include <sys/uio.h>
#include <vector>

namespace Platform {

namespace {

Q_LOGGING_CATEGORY(lcRawButtons, "quillomare.platform.rawbuttons", QtWarningMsg)

// XInput 2 is not among the xcb bindings this build links, and it needs only two requests, so
// they are written out here from the protocol's description.
xcb_extension_t inputExtension = {"XInputExtension", 0};

constexpr uint8_t kQueryVersionOpcode = 47;
constexpr uint8_t kSelectEventsOpcode = 46;
constexpr uint16_t kAllMasterDevices = 1;
constexpr uint16_t kRawButtonPress = 15;
constexpr uint16_t kRawButtonRelease = 16;
constexpr uint16_t kButtonPress = 4;
constexpr uint16_t kButtonRelease = 5;
constexpr uint8_t kGenericEvent = 35;

// How long a click on one of our windows may be held back by a window manager's grab before it
// counts as one that never reaches us (a binding of the manager's kept it).
constexpr int kHeldClickWaitMilliseconds = 500;
// A marker that does not come back (Qt's event loop stalled) must not hold every later click up.
constexpr int kMarkerWaitMilliseconds = 2000;
// Clicks Qt's connection delivered, remembered for raw events that arrive after them.
constexpr std::size_t kRememberedClicks = 64;
// Windows nest this deep at most under the pointer (root, manager's frame, ours, a child).
constexpr int kPointerDepth = 8;

struct QueryVersionRequest
{
    uint8_t majorOpcode;
    uint8_t minorOpcode;
    uint16_t length;
    uint16_t majorVersion;
    uint16_t minorVersion;
};
static_assert(sizeof(QueryVersionRequest) == 8);

struct SelectEventsRequest
{
    uint8_t majorOpcode;
    uint8_t minorOpcode;
    uint16_t length;
    uint32_t window;
    uint16_t maskCount;
    uint16_t pad;
    uint16_t deviceId;
    uint16_t maskLength; // in 4-byte units
    uint32_t mask;
};
static_assert(sizeof(SelectEventsRequest) == 20);

// The generic event's head, as far as raw button events need it.
struct RawEventHead
{
    uint8_t responseType;
    uint8_t extension;
    uint16_t sequence;
    uint32_t length;
    uint16_t eventType;
    uint16_t deviceId;
    uint32_t time;
    uint32_t detail;
};

unsigned int sendRequest(xcb_connection_t* connection, void* request, size_t size, uint8_t opcode, bool isVoid)
{
    // xcb wants two spare vectors in front of the ones it sends.
    struct iovec parts[4];
    parts[2].iov_base = request;
    parts[2].iov_len = size;
    parts[3].iov_base = nullptr;
    parts[3].iov_len = 0;
    xcb_protocol_request_t protocol = {2, &inputExtension, opcode, uint8_t(isVoid ? 1 : 0)};
    return xcb_send_request(connection, XCB_REQUEST_CHECKED, parts + 2, &protocol);
}

constexpr uint16_t kCorePointer = 0;

xcb_connection_t* qtConnection()
{
    auto* application = qGuiApp ? qGuiApp->nativeInterface<QNativeInterface::QX11Application>() : nullptr;
    return application ? application->connection() : nullptr;
}

} // namespace

struct X11RawButtonMonitor::Click
{
    bool press = false;
    uint32_t detail = 0; // the device's own button number, as raw events give it
    uint32_t time = 0;
    // The master pointer the click came through. Qt hears a click on its windows from the mouse
    // itself too (a slave device), even while another program's grab takes the pointer's click:
    // only the pointer's own event is the click our window received.
    uint16_t device = kCorePointer;

    // Whether `delivered`, an event Qt's connection received, is this raw click.
    bool isDeliveredAs(const Click& delivered) const
    {
        return press == delivered.press && detail == delivered.detail && time == delivered.time &&
               (delivered.device == kCorePointer || delivered.device == device);
    }
};

struct X11RawButtonMonitor::Private
{
    xcb_connection_t* connection = nullptr;
    xcb_window_t root = 0;
    uint8_t majorOpcode = 0;
    std::unique_ptr<QSocketNotifier> notifier;

    // The marker's window belongs to Qt's connection, so that events sent to it come back there.
    xcb_window_t markerWindow = 0;
    xcb_atom_t markerAtom = XCB_ATOM_NONE;
    uint32_t nextMark = 1;

    struct Heard
    {
        Click click;
        uint32_t mark = 0;
        bool overThisProgram = false;
        bool markerBack = false;
        // Until the marker is back, or until a held click on one of our windows is given up.
        QDeadlineTimer waitUntil;
        std::optional<bool> reachedThisProgram;
    };
    std::deque<Heard> heard;
    std::deque<Click> seenHere;
    // The pointer's button mapping (a left-handed user swaps 1 and 3): raw events carry the
    // device's button, the events delivered to windows the mapped one.
    std::vector<uint8_t> buttonMap;
    QTimer waitTimer;
    bool reportQueued = false;

    ~Private()
    {
        notifier.reset();
        if (connection)
            xcb_disconnect(connection);
        // Qt's connection is gone once the application is; the server drops the window with it.
        if (xcb_connection_t* qt = markerWindow ? qtConnection() : nullptr) {
            xcb_destroy_window(qt, markerWindow);
            xcb_flush(qt);
        }
    }

    bool wasSeenHere(const Click& click) const
    {
        return std::any_of(seenHere.begin(), seenHere.end(),
                           [&](const Click& delivered) { return click.isDeliveredAs(delivered); });
    }

    void readButtonMap()
    {
        buttonMap.clear();
        xcb_get_pointer_mapping_reply_t* reply =
            xcb_get_pointer_mapping_reply(connection, xcb_get_pointer_mapping(connection), nullptr);
        if (!reply)
            return;
        const uint8_t* map = xcb_get_pointer_mapping_map(reply);
        buttonMap.assign(map, map + xcb_get_pointer_mapping_map_length(reply));
        std::free(reply);
    }

    // The device's button a delivered event's button came from; 0 when none maps to it.
    uint32_t deviceButton(uint32_t mapped) const
    {
        if (buttonMap.empty())
            return mapped;
        for (std::size_t i = 0; i < buttonMap.size(); ++i) {
            if (buttonMap[i] == mapped)
                return uint32_t(i + 1);
        }
        return 0;
    }

    // The button as the user has it.
    uint32_t mappedButton(uint32_t device) const
    {
        return device >= 1 && device <= buttonMap.size() ? buttonMap[device - 1] : device;
    }
};

std::unique_ptr<X11RawButtonMonitor> X11RawButtonMonitor::create()
{
    const X11PrivateConnection x11 = X11PrivateConnection::open();
    if (!x11.connection)
        return nullptr;
    xcb_connection_t* qt = qtConnection();
    if (!qt) {
        xcb_disconnect(x11.connection);
        return nullptr;
    }
    auto d = std::make_unique<Private>();
    d->connection = x11.connection;
    d->root = x11.root;

    const xcb_query_extension_reply_t* extension = xcb_get_extension_data(d->connection, &inputExtension);
    if (!extension || !extension->present)
        return nullptr;
    d->majorOpcode = extension->major_opcode;

    // The server speaks XInput 2 to a client only after it said which version it knows.
    QueryVersionRequest query = {0, 0, 0, 2, 2};
    const unsigned int querySequence = sendRequest(d->connection, &query, sizeof query, kQueryVersionOpcode, false);
    xcb_generic_error_t* error = nullptr;
    void* reply = xcb_wait_for_reply(d->connection, querySequence, &error);
    const bool versionOk = reply && !error;
    std::free(reply);
    std::free(error);
    if (!versionOk)
        return nullptr;

    SelectEventsRequest select = {};
    select.window = x11.root;
    select.maskCount = 1;
    select.deviceId = kAllMasterDevices;
    select.maskLength = 1;
    select.mask = (1u << kRawButtonPress) | (1u << kRawButtonRelease);
    const unsigned int selectSequence = sendRequest(d->connection, &select, sizeof select, kSelectEventsOpcode, true);
    if (xcb_generic_error_t* selectError = xcb_request_check(d->connection, xcb_void_cookie_t{selectSequence})) {
        std::free(selectError);
        return nullptr;
    }

    static const char markerName[] = "_QUILLOMARE_CLICK_MARKER";
    xcb_intern_atom_reply_t* atom =
        xcb_intern_atom_reply(qt, xcb_intern_atom(qt, 0, uint16_t(sizeof markerName - 1), markerName), nullptr);
    if (!atom)
        return nullptr;
    d->markerAtom = atom->atom;
    std::free(atom);
    d->markerWindow = xcb_generate_id(qt);
    const uint32_t overrideRedirect = 1;
    const xcb_void_cookie_t created = xcb_create_window_checked(
        qt, XCB_COPY_FROM_PARENT, d->markerWindow, x11.root, -1, -1, 1, 1, 0, XCB_WINDOW_CLASS_INPUT_ONLY,
        XCB_COPY_FROM_PARENT, XCB_CW_OVERRIDE_REDIRECT, &overrideRedirect);
    if (xcb_generic_error_t* createError = xcb_request_check(qt, created)) {
        std::free(createError);
        d->markerWindow = 0;
        return nullptr;
    }

    d->readButtonMap();
    std::unique_ptr<X11RawButtonMonitor> monitor(new X11RawButtonMonitor(std::move(d)));
    return monitor;
}

X11RawButtonMonitor::X11RawButtonMonitor(std::unique_ptr<Private> data) : d(std::move(data))
{
    d->notifier = std::make_unique<QSocketNotifier>(xcb_get_file_descriptor(d->connection), QSocketNotifier::Read);
    connect(d->notifier.get(), &QSocketNotifier::activated, this, &X11RawButtonMonitor::readEvents);
    // Events may already wait in xcb's queue, read along with the replies above.
    QMetaObject::invokeMethod(this, &X11RawButtonMonitor::readEvents, Qt::QueuedConnection);
    d->waitTimer.setSingleShot(true);
    connect(&d->waitTimer, &QTimer::timeout, this, &X11RawButtonMonitor::settle);
    QCoreApplication::instance()->installNativeEventFilter(this);
}

X11RawButtonMonitor::~X11RawButtonMonitor()
{
    if (QCoreApplication::instance())
        QCoreApplication::instance()->removeNativeEventFilter(this);
}

void X11RawButtonMonitor::readEvents()
{
    if (xcb_connection_has_error(d->connection)) {
        d->notifier->setEnabled(false);
        return;
    }
    while (xcb_generic_event_t* event = xcb_poll_for_event(d->connection)) {
        RawEventHead head;
        std::memcpy(&head, event, sizeof head);
        const bool mappingChanged =
            (event->response_type & 0x7f) == XCB_MAPPING_NOTIFY &&
            reinterpret_cast<xcb_mapping_notify_event_t*>(event)->request == XCB_MAPPING_POINTER;
        std::free(event);
        if (mappingChanged)
            d->readButtonMap();
        if ((head.responseType & 0x7f) != kGenericEvent || head.extension != d->majorOpcode)
            continue;
        if (head.eventType != kRawButtonPress && head.eventType != kRawButtonRelease)
            continue;
        if (head.detail >= 4 && head.detail <= 7)
            continue; // wheel
        heardRaw({head.eventType == kRawButtonPress, head.detail, head.time, head.deviceId});
    }
}

void X11RawButtonMonitor::heardRaw(const Click& click)
{
    xcb_connection_t* qt = qtConnection();
    Private::Heard heard;
    heard.click = click;
    heard.mark = d->nextMark++;
    heard.waitUntil.setRemainingTime(kMarkerWaitMilliseconds);
    if (d->wasSeenHere(heard.click))
        heard.reachedThisProgram = true;
    else if (click.press)
        heard.overThisProgram = pointerOverThisProgram();
    // A release goes where its press went, whatever is under the pointer by then; a grab that
    // held the press back has let it through before the release is heard.
    if (!qt)
        heard.reachedThisProgram = false; // the application is going away
    d->heard.push_back(heard);
    if (heard.reachedThisProgram.has_value()) {
        settle();
        return;
    }
    xcb_client_message_event_t marker = {};
    marker.response_type = XCB_CLIENT_MESSAGE;
    marker.format = 32;
    marker.window = d->markerWindow;
    marker.type = d->markerAtom;
    marker.data.data32[0] = heard.mark;
    xcb_send_event(qt, 0, d->markerWindow, XCB_EVENT_MASK_NO_EVENT, reinterpret_cast<const char*>(&marker));
    xcb_flush(qt);
    settle();
}

bool X11RawButtonMonitor::nativeEventFilter(const QByteArray& eventType, void* message, qintptr*)
{
    if (eventType != "xcb_generic_event_t")
        return false;
    auto* event = static_cast<xcb_generic_event_t*>(message);
    const uint8_t type = event->response_type & 0x7f;
    if (type == XCB_BUTTON_PRESS || type == XCB_BUTTON_RELEASE) {
        auto* button = reinterpret_cast<xcb_button_press_event_t*>(event);
        sawHere({type == XCB_BUTTON_PRESS, d->deviceButton(button->detail), button->time, kCorePointer});
    } else if (type == kGenericEvent) {
        // Qt reads its mouse through XInput 2 where the server has it.
        RawEventHead head;
        std::memcpy(&head, event, sizeof head);
        if (head.extension == d->majorOpcode && (head.eventType == kButtonPress || head.eventType == kButtonRelease))
            sawHere({head.eventType == kButtonPress, d->deviceButton(head.detail), head.time, head.deviceId});
    } else if (type == XCB_CLIENT_MESSAGE) {
        auto* client = reinterpret_cast<xcb_client_message_event_t*>(event);
        if (client->window == d->markerWindow && client->type == d->markerAtom) {
            markerCameBack(client->data.data32[0]);
            return true;
        }
    }
    return false;
}

void X11RawButtonMonitor::sawHere(const Click& click)
{
    d->seenHere.push_back(click);
    if (d->seenHere.size() > kRememberedClicks)
        d->seenHere.pop_front();
    bool settled = false;
    for (Private::Heard& heard : d->heard) {
        if (!heard.reachedThisProgram.has_value() && heard.click.isDeliveredAs(click)) {
            if (heard.markerBack)
                qCDebug(lcRawButtons) << "click at" << click.time << "came after its marker, held"
                                      << kHeldClickWaitMilliseconds - heard.waitUntil.remainingTime() << "ms";
            heard.reachedThisProgram = true;
            settled = true;
        }
    }
    if (settled)
        settle();
}

void X11RawButtonMonitor::markerCameBack(uint32_t mark)
{
    for (Private::Heard& heard : d->heard) {
        if (heard.mark != mark)
            continue;
        heard.markerBack = true;
        if (!heard.reachedThisProgram.has_value() && heard.overThisProgram) {
            qCDebug(lcRawButtons) << "click at" << heard.click.time << "over our window has not come yet";
            heard.waitUntil.setRemainingTime(kHeldClickWaitMilliseconds);
        }
    }
    settle();
}

void X11RawButtonMonitor::settle()
{
    QDeadlineTimer nextWait = QDeadlineTimer::Forever;
    for (Private::Heard& heard : d->heard) {
        if (heard.reachedThisProgram.has_value())
            continue;
        // Once the marker is back, Qt's connection has had everything the server sent before it,
        // and the click was not among it: it went elsewhere, unless a grab holds it back.
        const bool mayStillCome = !heard.markerBack || heard.overThisProgram;
        if (!mayStillCome || heard.waitUntil.hasExpired()) {
            if (!heard.markerBack)
                qCWarning(lcRawButtons) << "no marker came back for the click at" << heard.click.time;
            heard.reachedThisProgram = false;
        } else {
            nextWait = std::min(nextWait, heard.waitUntil);
        }
    }
    if (nextWait.isForever())
        d->waitTimer.stop();
    else
        d->waitTimer.start(std::max<qint64>(0, nextWait.remainingTime()));
    // Called from Qt's event filter too: the listeners hear of it once Qt is done with its event.
    if (!d->reportQueued && !d->heard.empty() && d->heard.front().reachedThisProgram.has_value()) {
        d->reportQueued = true;
        QMetaObject::invokeMethod(this, &X11RawButtonMonitor::report, Qt::QueuedConnection);
    }
}

void X11RawButtonMonitor::report()
{
    d->reportQueued = false;
    while (!d->heard.empty() && d->heard.front().reachedThisProgram.has_value()) {
        const Private::Heard heard = d->heard.front();
        d->heard.pop_front();
        const uint32_t detail = d->mappedButton(heard.click.detail);
        qCDebug(lcRawButtons) << (heard.click.press ? "press" : "release") << detail << "at" << heard.click.time
                              << (*heard.reachedThisProgram ? "reached us" : "went elsewhere");
        const Button button = detail == 1   ? Button::left
                              : detail == 2 ? Button::middle
                              : detail == 3 ? Button::right
                                            : Button::other;
        if (heard.click.press)
            Q_EMIT buttonPressed(button, heard.click.time, *heard.reachedThisProgram);
        else
            Q_EMIT buttonReleased(button, heard.click.time, *heard.reachedThisProgram);
    }
}

bool X11RawButtonMonitor::pointerOverThisProgram() const
{
    QSet<xcb_window_t> ours;
    for (QWindow* window : QGuiApplication::allWindows()) {
        if (window->handle() && window->isVisible())
            ours.insert(xcb_window_t(window->winId()));
    }
    if (ours.isEmpty())
        return false;
    // The server's view, which knows about input shapes: a window that lets clicks through is
    // not under the pointer.
    xcb_window_t window = d->root;
    for (int depth = 0; depth < kPointerDepth; ++depth) {
        xcb_query_pointer_reply_t* reply =
            xcb_query_pointer_reply(d->connection, xcb_query_pointer(d->connection, window), nullptr);
        const xcb_window_t child = reply && reply->same_screen ? reply->child : xcb_window_t(XCB_NONE);
        std::free(reply);
        if (child == XCB_NONE)
            return false;
        if (ours.contains(child))
            return true;
        window = child;
    }
    return false;
}

} // namespace Platform
