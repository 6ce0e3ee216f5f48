// A clipboard owner for the X11 tests that never lets go and never answers: it takes the
// CLIPBOARD selection again every few milliseconds and leaves every request unanswered. Says
// "owning" on standard output once it holds the selection, and runs until it is ended.
//
//   busy-clipboard-owner <milliseconds between takes>

#include <xcb/xcb.h>

#include <poll.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>

int main(int argc, char* argv[])
{
    if (argc != 2) {
        std::fputs("usage: busy-clipboard-owner <interval ms>\n", stderr);
        return 2;
    }
    const int interval = std::max(1, std::atoi(argv[1]));

    int screenNumber = 0;
    xcb_connection_t* c = xcb_connect(nullptr, &screenNumber);
    if (xcb_connection_has_error(c))
        return 1;
    const xcb_screen_t* screen = xcb_setup_roots_iterator(xcb_get_setup(c)).data;
    const xcb_window_t window = xcb_generate_id(c);
    xcb_create_window(c, XCB_COPY_FROM_PARENT, window, screen->root, 0, 0, 1, 1, 0, XCB_WINDOW_CLASS_INPUT_ONLY,
                      XCB_COPY_FROM_PARENT, 0, nullptr);
    static const char name[] = "CLIPBOARD";
    xcb_intern_atom_reply_t* atom =
        xcb_intern_atom_reply(c, xcb_intern_atom(c, 0, uint16_t(std::strlen(name)), name), nullptr);
    if (!atom)
        return 1;
    const xcb_atom_t clipboard = atom->atom;
    std::free(atom);

    bool announced = false;
    using Clock = std::chrono::steady_clock;
    auto next = Clock::now();
    while (!xcb_connection_has_error(c)) {
        if (Clock::now() >= next) {
            // Every take is news to whoever watches the selection, though the owner stays the same.
            xcb_set_selection_owner(c, window, clipboard, XCB_CURRENT_TIME);
            if (!announced) {
                xcb_get_selection_owner_reply_t* owner =
                    xcb_get_selection_owner_reply(c, xcb_get_selection_owner(c, clipboard), nullptr);
                const bool owning = owner && owner->owner == window;
                std::free(owner);
                if (!owning)
                    return 1;
                std::puts("owning");
                std::fflush(stdout);
                announced = true;
            }
            xcb_flush(c);
            next += std::chrono::milliseconds(interval);
        }
        // Requests are taken off the connection and left unanswered.
        while (xcb_generic_event_t* event = xcb_poll_for_event(c))
            std::free(event);
        const auto wait = std::chrono::duration_cast<std::chrono::milliseconds>(next - Clock::now()).count();
        pollfd descriptor{xcb_get_file_descriptor(c), POLLIN, 0};
        ::poll(&descriptor, 1, int(std::max<long long>(0, wait)));
    }
    return 0;
}
