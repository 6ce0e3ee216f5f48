// A clipboard owner for the X11 tests that answers each request for its text first with answers
// to another request, then with the right one: owns the CLIPBOARD selection, says "owning" on
// standard output once it holds it, and quits when another program takes the selection.
//
//   misanswering-clipboard-owner <wrong part> <text>
//
// The wrong part is what the misleading answer changes: "target", "selection", "time" or
// "property". It names the requestor's window and is sent once the decoy text is where that
// answer points; the right text follows once the requestor has taken the decoy, or after 200 ms.

#include "XcbClipboardOwner.h"

#include <string>

using namespace XcbClipboardOwner;

int main(int argc, char* argv[])
{
    if (argc != 3) {
        std::fputs("usage: misanswering-clipboard-owner <target|selection|time|property> <text>\n", stderr);
        return 2;
    }
    const std::string wrong = argv[1];
    const std::string text = argv[2];
    const std::string decoy = "decoy answer";

    xcb_window_t window = 0;
    xcb_connection_t* c = connectWithWindow(window);
    if (!c)
        return 1;
    const xcb_atom_t clipboard = atom(c, "CLIPBOARD");
    const xcb_atom_t primary = XCB_ATOM_PRIMARY;
    const xcb_atom_t targets = atom(c, "TARGETS");
    const xcb_atom_t utf8 = atom(c, "UTF8_STRING");
    const xcb_atom_t otherProperty = atom(c, "MISANSWERING_DECOY");
    if (!takeAndAnnounce(c, window, clipboard))
        return 1;

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
        waitForEvents(c, pending ? &due : nullptr);
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
