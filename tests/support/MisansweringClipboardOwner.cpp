// A clipboard owner for the X11 tests that answers each request for its text first with answers
// to another request, then with the right one: owns the CLIPBOARD selection, says "owning" on
// standard output once it holds it, and quits when another program takes the selection.
//
//   misanswering-clipboard-owner <wrong part> <text>
//
// The wrong part is what the misleading answer changes: "target", "selection", "time" or
// "property". It names the requestor's window and is sent once the decoy text is where that
// answer points; the right text follows once the requestor has taken the decoy, or after 200 ms.

#include <xcb/xcb.h>

#include <poll.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

xcb_atom_t atom(xcb_connection_t* c, const char* name)
{
    xcb_intern_atom_reply_t* reply = xcb_intern_atom_reply(c, xcb_intern_atom(c, 0, uint16_t(std::strlen(name)), name), nullptr);
    const xcb_atom_t result = reply ? reply->atom : xcb_atom_t(XCB_ATOM_NONE);
    std::free(reply);
    return result;
}

void notify(xcb_connection_t* c, xcb_window_t requestor, xcb_atom_t selection, xcb_atom_t target,
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

using Clock = std::chrono::steady_clock;

} // namespace

int main(int argc, char* argv[])
{
    if (argc != 3) {
        std::fputs("usage: misanswering-clipboard-owner <target|selection|time|property> <text>\n", stderr);
        return 2;
    }
    const std::string wrong = argv[1];
    const std::string text = argv[2];
    const std::string decoy = "decoy answer";

    xcb_connection_t* c = xcb_connect(nullptr, nullptr);
    if (xcb_connection_has_error(c))
        return 1;
    const xcb_screen_t* screen = xcb_setup_roots_iterator(xcb_get_setup(c)).data;
    const xcb_window_t window = xcb_generate_id(c);
    xcb_create_window(c, XCB_COPY_FROM_PARENT, window, screen->root, 0, 0, 1, 1, 0, XCB_WINDOW_CLASS_INPUT_ONLY,
                      XCB_COPY_FROM_PARENT, 0, nullptr);
    const xcb_atom_t clipboard = atom(c, "CLIPBOARD");
    const xcb_atom_t primary = XCB_ATOM_PRIMARY;
    const xcb_atom_t targets = atom(c, "TARGETS");
    const xcb_atom_t utf8 = atom(c, "UTF8_STRING");
    const xcb_atom_t otherProperty = atom(c, "MISANSWERING_DECOY");
    xcb_set_selection_owner(c, window, clipboard, XCB_CURRENT_TIME);
    xcb_get_selection_owner_reply_t* owner = xcb_get_selection_owner_reply(c, xcb_get_selection_owner(c, clipboard), nullptr);
    const bool owning = owner && owner->owner == window;
    std::free(owner);
    if (!owning)
        return 1;
    std::puts("owning");
    std::fflush(stdout);

    // The request for the text whose right answer is still due, and when it is due at the latest.
    bool pending = false;
    xcb_selection_request_event_t request{};
    Clock::time_point due{};
    const auto answer = [&] {
        xcb_change_property(c, XCB_PROP_MODE_REPLACE, request.requestor, request.property, utf8, 8,
                            uint32_t(text.size()), text.data());
        notify(c, request.requestor, request.selection, request.target, request.property, request.time);
        xcb_flush(c);
        pending = false;
    };

    while (true) {
        int timeout = -1;
        if (pending)
            timeout = int(std::max<long long>(
                0, std::chrono::duration_cast<std::chrono::milliseconds>(due - Clock::now()).count()));
        pollfd descriptor{xcb_get_file_descriptor(c), POLLIN, 0};
        ::poll(&descriptor, 1, timeout);
        if (xcb_connection_has_error(c))
            return 1;
        while (xcb_generic_event_t* event = xcb_poll_for_event(c)) {
            const uint8_t type = event->response_type & 0x7F;
            if (type == XCB_SELECTION_CLEAR) {
                std::free(event);
                return 0;
            }
            if (type == XCB_SELECTION_REQUEST) {
                const auto asked = *reinterpret_cast<xcb_selection_request_event_t*>(event);
                const xcb_atom_t into = asked.property ? asked.property : asked.target;
                if (asked.target == targets) {
                    const xcb_atom_t offered[] = {targets, utf8};
                    xcb_change_property(c, XCB_PROP_MODE_REPLACE, asked.requestor, into, XCB_ATOM_ATOM, 32, 2, offered);
                    notify(c, asked.requestor, asked.selection, asked.target, into, asked.time);
                } else if (asked.target == utf8) {
                    if (pending)
                        answer();
                    request = asked;
                    request.property = into;
                    xcb_atom_t selection = asked.selection;
                    xcb_atom_t target = asked.target;
                    xcb_atom_t property = into;
                    xcb_timestamp_t time = asked.time;
                    if (wrong == "target")
                        target = targets;
                    else if (wrong == "selection")
                        selection = asked.selection == primary ? clipboard : primary;
                    else if (wrong == "time")
                        time = asked.time + 1;
                    else
                        property = otherProperty;
                    // Watching the requestor's window tells when it took the decoy.
                    const uint32_t events = XCB_EVENT_MASK_PROPERTY_CHANGE;
                    xcb_change_window_attributes(c, asked.requestor, XCB_CW_EVENT_MASK, &events);
                    xcb_change_property(c, XCB_PROP_MODE_REPLACE, asked.requestor, property, utf8, 8,
                                        uint32_t(decoy.size()), decoy.data());
                    notify(c, asked.requestor, selection, target, property, time);
                    pending = true;
                    due = Clock::now() + std::chrono::milliseconds(200);
                } else {
                    notify(c, asked.requestor, asked.selection, asked.target, XCB_ATOM_NONE, asked.time);
                }
                xcb_flush(c);
            } else if (type == XCB_PROPERTY_NOTIFY && pending) {
                const auto* notice = reinterpret_cast<xcb_property_notify_event_t*>(event);
                if (notice->window == request.requestor && notice->state == XCB_PROPERTY_DELETE &&
                    (notice->atom == request.property || notice->atom == otherProperty))
                    answer();
            }
            std::free(event);
        }
        if (pending && Clock::now() >= due)
            answer();
    }
}
