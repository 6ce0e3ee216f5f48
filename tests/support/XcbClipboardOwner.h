#pragma once

// What the small xcb clipboard owners of the X11 tests share: a connection with a window of
// their own, atoms, taking the CLIPBOARD, answering a request, and waiting for events or a time.

#include <xcb/xcb.h>

#include <poll.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace XcbClipboardOwner {

using Clock = std::chrono::steady_clock;

inline xcb_atom_t atom(xcb_connection_t* c, const char* name)
{
    xcb_intern_atom_reply_t* reply =
        xcb_intern_atom_reply(c, xcb_intern_atom(c, 0, uint16_t(std::strlen(name)), name), nullptr);
    const xcb_atom_t result = reply ? reply->atom : xcb_atom_t(XCB_ATOM_NONE);
    std::free(reply);
    return result;
}

// A connection to the display and an unmapped window on it; nullptr when there is no display.
inline xcb_connection_t* connectWithWindow(xcb_window_t& window)
{
    xcb_connection_t* c = xcb_connect(nullptr, nullptr);
    if (xcb_connection_has_error(c))
        return nullptr;
    const xcb_screen_t* screen = xcb_setup_roots_iterator(xcb_get_setup(c)).data;
    window = xcb_generate_id(c);
    xcb_create_window(c, XCB_COPY_FROM_PARENT, window, screen->root, 0, 0, 1, 1, 0, XCB_WINDOW_CLASS_INPUT_ONLY,
                      XCB_COPY_FROM_PARENT, 0, nullptr);
    return c;
}

// Takes the selection for `window` and, once the server says it holds it, prints "owning" for
// the test that waits for that line.
inline bool takeAndAnnounce(xcb_connection_t* c, xcb_window_t window, xcb_atom_t selection)
{
    xcb_set_selection_owner(c, window, selection, XCB_CURRENT_TIME);
    xcb_get_selection_owner_reply_t* owner =
        xcb_get_selection_owner_reply(c, xcb_get_selection_owner(c, selection), nullptr);
    const bool owning = owner && owner->owner == window;
    std::free(owner);
    if (!owning)
        return false;
    std::puts("owning");
    std::fflush(stdout);
    return true;
}

inline void notify(xcb_connection_t* c, xcb_window_t requestor, xcb_atom_t selection, xcb_atom_t target,
                   xcb_atom_t property, xcb_timestamp_t time)
{
    xcb_selection_notify_event_t notice{};
    notice.response_type = XCB_SELECTION_NOTIFY;
    notice.time = time;
    notice.requestor = requestor;
    notice.selection = selection;
    notice.target = target;
    notice.property = property;
    xcb_send_event(c, 0, requestor, XCB_EVENT_MASK_NO_EVENT, reinterpret_cast<const char*>(&notice));
}

// Waits for events on the connection, until `due` at the latest when one is given.
inline void waitForEvents(xcb_connection_t* c, const Clock::time_point* due)
{
    int timeout = -1;
    if (due)
        timeout = int(std::max<long long>(
            0, std::chrono::duration_cast<std::chrono::milliseconds>(*due - Clock::now()).count()));
    pollfd descriptor{xcb_get_file_descriptor(c), POLLIN, 0};
    ::poll(&descriptor, 1, timeout);
}

} // namespace XcbClipboardOwner
