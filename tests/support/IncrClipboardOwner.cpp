// A clipboard owner for the X11 tests that sends its one format in parts (INCR) at its own pace,
// as slow or as large as the test asks: owns the CLIPBOARD selection, says "owning" on standard
// output once it holds it, "part <bytes sent so far>" after each part it hands over and "done"
// after the last, and quits when another program takes the selection.
//
//   incr-clipboard-owner <target> <total bytes> <part bytes> <milliseconds between parts> <announced size>
//
// A total of -1 never ends. The announced size is what the transfer's start claims (an owner's
// lower bound of the size; 0 claims nothing).

#include "XcbClipboardOwner.h"

#include <string>
#include <vector>

using namespace XcbClipboardOwner;

namespace {

void notify(xcb_connection_t* c, const xcb_selection_request_event_t& request, xcb_atom_t property)
{
    XcbClipboardOwner::notify(c, request.requestor, request.selection, request.target, property, request.time);
}

} // namespace

int main(int argc, char* argv[])
{
    if (argc != 6) {
        std::fputs("usage: incr-clipboard-owner <target> <total> <part> <interval ms> <announced>\n", stderr);
        return 2;
    }
    const long long total = std::atoll(argv[2]);
    const long long partSize = std::atoll(argv[3]);
    const int interval = std::atoi(argv[4]);
    const uint32_t announced = uint32_t(std::atoll(argv[5]));

    xcb_window_t window = 0;
    xcb_connection_t* c = connectWithWindow(window);
    if (!c)
        return 1;
    const xcb_atom_t clipboard = atom(c, "CLIPBOARD");
    const xcb_atom_t targets = atom(c, "TARGETS");
    const xcb_atom_t incr = atom(c, "INCR");
    const xcb_atom_t target = atom(c, argv[1]);
    if (!takeAndAnnounce(c, window, clipboard))
        return 1;

    // The one transfer under way: its requestor's window and property, what was sent, and when
    // the next part is due once the requestor has taken the last one.
    xcb_window_t requestor = 0;
    xcb_atom_t property = XCB_ATOM_NONE;
    long long sent = 0;
    bool partTaken = false;
    Clock::time_point due{};
    const std::vector<char> part(size_t(partSize > 0 ? partSize : 1), 'q');

    while (true) {
        waitForEvents(c, requestor && partTaken ? &due : nullptr);
        if (xcb_connection_has_error(c))
            return 1;

        while (xcb_generic_event_t* event = xcb_poll_for_event(c)) {
            const uint8_t type = event->response_type & 0x7F;
            if (type == XCB_SELECTION_CLEAR) {
                std::free(event);
                return 0;
            }
            if (type == XCB_SELECTION_REQUEST) {
                const auto request = *reinterpret_cast<xcb_selection_request_event_t*>(event);
                const xcb_atom_t into = request.property ? request.property : request.target;
                if (request.target == targets) {
                    const xcb_atom_t offered[] = {targets, target};
                    xcb_change_property(c, XCB_PROP_MODE_REPLACE, request.requestor, into, XCB_ATOM_ATOM, 32, 2, offered);
                    notify(c, request, into);
                } else if (request.target == target) {
                    // A newer request replaces the transfer under way.
                    const uint32_t events = XCB_EVENT_MASK_PROPERTY_CHANGE;
                    xcb_change_window_attributes(c, request.requestor, XCB_CW_EVENT_MASK, &events);
                    xcb_change_property(c, XCB_PROP_MODE_REPLACE, request.requestor, into, incr, 32, 1, &announced);
                    notify(c, request, into);
                    requestor = request.requestor;
                    property = into;
                    sent = 0;
                    partTaken = false;
                } else {
                    notify(c, request, XCB_ATOM_NONE);
                }
                xcb_flush(c);
            } else if (type == XCB_PROPERTY_NOTIFY) {
                const auto* notice = reinterpret_cast<xcb_property_notify_event_t*>(event);
                if (notice->window == requestor && notice->atom == property && notice->state == XCB_PROPERTY_DELETE) {
                    partTaken = true;
                    due = Clock::now() + std::chrono::milliseconds(sent == 0 ? 0 : interval);
                }
            }
            std::free(event);
        }

        if (requestor && partTaken && Clock::now() >= due) {
            partTaken = false;
            const long long left = total < 0 ? partSize : total - sent;
            const long long now = std::min(partSize, left);
            xcb_change_property(c, XCB_PROP_MODE_REPLACE, requestor, property, target, 8, uint32_t(std::max(0LL, now)),
                                part.data());
            xcb_flush(c);
            if (now <= 0) {
                std::puts("done");
                requestor = 0;
            } else {
                sent += now;
                std::printf("part %lld\n", sent);
            }
            std::fflush(stdout);
        }
    }
}
