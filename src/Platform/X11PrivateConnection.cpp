#include "X11PrivateConnection.h"

#include <QGuiApplication>

namespace Platform {

X11PrivateConnection X11PrivateConnection::open()
{
    X11PrivateConnection result;
    if (QGuiApplication::platformName() != QLatin1String("xcb"))
        return result;
    xcb_connection_t* connection = xcb_connect(nullptr, &result.screenNumber);
    if (!connection)
        return result;
    xcb_screen_iterator_t screens = xcb_setup_roots_iterator(xcb_get_setup(connection));
    for (int i = 0; i < result.screenNumber && screens.rem; ++i)
        xcb_screen_next(&screens);
    if (xcb_connection_has_error(connection) || !screens.rem) {
        xcb_disconnect(connection);
        return result;
    }
    result.connection = connection;
    result.root = screens.data->root;
    return result;
}

} // namespace Platform
