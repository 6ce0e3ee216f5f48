#include "X11WindowMapRequest.h"

#include <QGuiApplication>
#include <QWindow>

#include <xcb/xcb.h>

namespace Platform {

bool requestWindowMapAgain(QWindow* window)
{
    if (!window || !window->handle() || QGuiApplication::platformName() != QLatin1String("xcb"))
        return false;
    auto* application = qGuiApp->nativeInterface<QNativeInterface::QX11Application>();
    xcb_connection_t* connection = application ? application->connection() : nullptr;
    if (!connection)
        return false;
    // With a window manager this becomes a request to it, which it answers now that it runs.
    xcb_map_window(connection, xcb_window_t(window->winId()));
    xcb_flush(connection);
    return true;
}

} // namespace Platform
