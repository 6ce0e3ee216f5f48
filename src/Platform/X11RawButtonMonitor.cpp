#include "X11RawButtonMonitor.h"

#include "X11PrivateConnection.h"

#include <QGuiApplication>
#include <QSocketNotifier>

#include <xcb/xcb.h>
#include <xcb/xcbext.h>

#include <cstdlib>
#include <cstring>
#include <sys/uio.h>

namespace Platform {

namespace {

// XInput 2 is not among the xcb bindings this build links, and it needs only two requests, so
// they are written out here from the protocol's description.
xcb_extension_t inputExtension = {"XInputExtension", 0};

constexpr uint8_t kQueryVersionOpcode = 47;
constexpr uint8_t kSelectEventsOpcode = 46;
constexpr uint16_t kAllMasterDevices = 1;
constexpr uint16_t kRawButtonPress = 15;
constexpr uint16_t kRawButtonRelease = 16;
constexpr uint8_t kGenericEvent = 35;

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

} // namespace

struct X11RawButtonMonitor::Private
{
    xcb_connection_t* connection = nullptr;
    uint8_t majorOpcode = 0;
    std::unique_ptr<QSocketNotifier> notifier;

    ~Private()
    {
        notifier.reset();
        if (connection)
            xcb_disconnect(connection);
    }
};

std::unique_ptr<X11RawButtonMonitor> X11RawButtonMonitor::create()
{
    const X11PrivateConnection x11 = X11PrivateConnection::open();
    if (!x11.connection)
        return nullptr;
    auto d = std::make_unique<Private>();
    d->connection = x11.connection;

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

    std::unique_ptr<X11RawButtonMonitor> monitor(new X11RawButtonMonitor(std::move(d)));
    return monitor;
}

X11RawButtonMonitor::X11RawButtonMonitor(std::unique_ptr<Private> data) : d(std::move(data))
{
    d->notifier = std::make_unique<QSocketNotifier>(xcb_get_file_descriptor(d->connection), QSocketNotifier::Read);
    connect(d->notifier.get(), &QSocketNotifier::activated, this, &X11RawButtonMonitor::readEvents);
    // Events may already wait in xcb's queue, read along with the replies above.
    QMetaObject::invokeMethod(this, &X11RawButtonMonitor::readEvents, Qt::QueuedConnection);
}

X11RawButtonMonitor::~X11RawButtonMonitor() = default;

void X11RawButtonMonitor::readEvents()
{
    if (xcb_connection_has_error(d->connection)) {
        d->notifier->setEnabled(false);
        return;
    }
    while (xcb_generic_event_t* event = xcb_poll_for_event(d->connection)) {
        RawEventHead head;
        std::memcpy(&head, event, sizeof head);
        std::free(event);
        if ((head.responseType & 0x7f) != kGenericEvent || head.extension != d->majorOpcode)
            continue;
        if (head.eventType != kRawButtonPress && head.eventType != kRawButtonRelease)
            continue;
        if (head.detail >= 4 && head.detail <= 7)
            continue; // wheel
        const Button button = head.detail == 1   ? Button::left
                              : head.detail == 2 ? Button::middle
                              : head.detail == 3 ? Button::right
                                                 : Button::other;
        if (head.eventType == kRawButtonPress)
            Q_EMIT buttonPressed(button);
        else
            Q_EMIT buttonReleased(button);
    }
}

} // namespace Platform
