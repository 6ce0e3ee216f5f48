// A clipboard owner for the X11 tests that never lets go and never answers: it takes the
// CLIPBOARD selection again every few milliseconds and leaves every request unanswered. Says
// "owning" on standard output once it holds the selection, and runs until it is ended.
//
//   busy-clipboard-owner <milliseconds between takes>

#include "XcbClipboardOwner.h"

using namespace XcbClipboardOwner;

int main(int argc, char* argv[])
{
    if (argc != 2) {
        std::fputs("usage: busy-clipboard-owner <interval ms>\n", stderr);
        return 2;
    }
    const int interval = std::max(1, std::atoi(argv[1]));

    xcb_window_t window = 0;
    xcb_connection_t* c = connectWithWindow(window);
    if (!c)
        return 1;
    const xcb_atom_t clipboard = atom(c, "CLIPBOARD");
    if (clipboard == XCB_ATOM_NONE)
        return 1;

    bool announced = false;
    auto next = Clock::now();
    while (!xcb_connection_has_error(c)) {
        if (Clock::now() >= next) {
            // Every take is news to whoever watches the selection, though the owner stays the same.
            if (!announced) {
                if (!takeAndAnnounce(c, window, clipboard))
                    return 1;
                announced = true;
            } else {
                xcb_set_selection_owner(c, window, clipboard, XCB_CURRENT_TIME);
            }
            xcb_flush(c);
            next += std::chrono::milliseconds(interval);
        }
        // Requests are taken off the connection and left unanswered.
        while (xcb_generic_event_t* event = xcb_poll_for_event(c))
            std::free(event);
        waitForEvents(c, &next);
    }
    return 0;
}
