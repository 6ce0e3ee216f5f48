#pragma once

#include <xcb/xcb.h>

namespace Platform {

// A connection of our own to the X server, with the root window of its default screen: for
// facilities that must read their events themselves (Qt's reader thread takes every event off
// its own connection). Only on the xcb platform; null otherwise. The caller disconnects.
struct X11PrivateConnection
{
    xcb_connection_t* connection = nullptr;
    xcb_window_t root = 0;
    int screenNumber = 0;

    static X11PrivateConnection open();
};

} // namespace Platform
