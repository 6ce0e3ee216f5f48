#include "X11WindowShape.h"

#include <QCoreApplication>
#include <QGuiApplication>
#include <QTimer>
#include <QTransform>
#include <QWindow>

#include <xcb/shape.h>
#include <xcb/xcb.h>
#include <xcb/xfixes.h>

#include <cstdlib>
#include <vector>

namespace Platform {

namespace {

// Reports a request the server refused; nullptr (no error) says nothing.
void reportError(const char* what, xcb_generic_error_t* error)
{
    if (!error)
        return;
    qWarning("X11WindowShape: the X server refused %s (error %u, major %u, minor %u)", what,
             unsigned(error->error_code), unsigned(error->major_code), unsigned(error->minor_code));
    std::free(error);
}

xcb_atom_t internAtom(xcb_connection_t* connection, const QByteArray& name)
{
    xcb_generic_error_t* error = nullptr;
    xcb_intern_atom_reply_t* reply = xcb_intern_atom_reply(
        connection, xcb_intern_atom(connection, 0, uint16_t(name.size()), name.constData()), &error);
    reportError("an atom", error);
    const xcb_atom_t atom = reply ? reply->atom : xcb_atom_t(XCB_ATOM_NONE);
    std::free(reply);
    return atom;
}

// Shape changes come with every frame of an animation; their errors are collected a moment later
// in one go, so that checking them costs one round trip for a burst instead of one per frame.
constexpr int kErrorCheckDelayMilliseconds = 250;

} // namespace

std::unique_ptr<X11WindowShape> X11WindowShape::create(QWindow* window)
{
    if (!window || QGuiApplication::platformName() != QLatin1String("xcb"))
        return nullptr;
    auto* application = qGuiApp ? qGuiApp->nativeInterface<QNativeInterface::QX11Application>() : nullptr;
    xcb_connection_t* connection = application ? application->connection() : nullptr;
    if (!connection)
        return nullptr;
    const xcb_query_extension_reply_t* shape = xcb_get_extension_data(connection, &xcb_shape_id);
    if (!shape || !shape->present)
        return nullptr;

    std::unique_ptr<X11WindowShape> result(new X11WindowShape);
    result->m_window = window;
    result->m_connection = connection;
    result->m_windowId = uint32_t(window->winId());

    // The compositing manager of the window's screen owns _NET_WM_CM_S<screen number>.
    xcb_generic_error_t* error = nullptr;
    xcb_get_geometry_reply_t* geometry =
        xcb_get_geometry_reply(connection, xcb_get_geometry(connection, result->m_windowId), &error);
    if (!geometry) {
        reportError("to describe the window", error);
        return nullptr;
    }
    const xcb_window_t root = geometry->root;
    std::free(geometry);
    int screenNumber = 0;
    for (xcb_screen_iterator_t it = xcb_setup_roots_iterator(xcb_get_setup(connection)); it.rem;
         xcb_screen_next(&it), ++screenNumber) {
        if (it.data->root == root)
            break;
    }
    result->m_compositorSelection = internAtom(connection, "_NET_WM_CM_S" + QByteArray::number(screenNumber));

    // Told when a compositing manager starts or stops (Qt negotiated the XFixes version already).
    const xcb_query_extension_reply_t* xfixes = xcb_get_extension_data(connection, &xcb_xfixes_id);
    if (xfixes && xfixes->present && result->m_compositorSelection != XCB_ATOM_NONE) {
        constexpr uint32_t mask = XCB_XFIXES_SELECTION_EVENT_MASK_SET_SELECTION_OWNER
            | XCB_XFIXES_SELECTION_EVENT_MASK_SELECTION_WINDOW_DESTROY
            | XCB_XFIXES_SELECTION_EVENT_MASK_SELECTION_CLIENT_CLOSE;
        const xcb_void_cookie_t cookie =
            xcb_xfixes_select_selection_input_checked(connection, root, result->m_compositorSelection, mask);
        error = xcb_request_check(connection, cookie);
        if (error) {
            reportError("to report changes of the compositing manager", error);
        } else {
            result->m_xfixesFirstEvent = xfixes->first_event;
            QCoreApplication::instance()->installNativeEventFilter(result.get());
        }
    }
    result->m_compositing = result->queryCompositingManager();
    return result;
}

X11WindowShape::~X11WindowShape()
{
    checkPendingRequests();
    if (QCoreApplication* application = QCoreApplication::instance())
        application->removeNativeEventFilter(this);
}

bool X11WindowShape::queryCompositingManager() const
{
    auto* connection = static_cast<xcb_connection_t*>(m_connection);
    if (m_compositorSelection == XCB_ATOM_NONE)
        return false;
    xcb_generic_error_t* error = nullptr;
    xcb_get_selection_owner_reply_t* reply = xcb_get_selection_owner_reply(
        connection, xcb_get_selection_owner(connection, m_compositorSelection), &error);
    reportError("the compositing manager's selection owner", error);
    const bool owned = reply && reply->owner != XCB_WINDOW_NONE;
    std::free(reply);
    return owned;
}

bool X11WindowShape::nativeEventFilter(const QByteArray& eventType, void* message, qintptr*)
{
    if (m_xfixesFirstEvent == 0 || eventType != "xcb_generic_event_t")
        return false;
    const auto* event = static_cast<const xcb_generic_event_t*>(message);
    if ((event->response_type & 0x7f) != m_xfixesFirstEvent + XCB_XFIXES_SELECTION_NOTIFY)
        return false;
    const auto* notify = reinterpret_cast<const xcb_xfixes_selection_notify_event_t*>(event);
    if (notify->selection != m_compositorSelection)
        return false;
    const bool running =
        notify->subtype == XCB_XFIXES_SELECTION_EVENT_SET_SELECTION_OWNER && notify->owner != XCB_WINDOW_NONE;
    if (running != m_compositing) {
        m_compositing = running;
        Q_EMIT compositingManagerChanged(running);
    }
    return false; // Qt follows the compositing manager too
}

void X11WindowShape::setInputRegion(const QRegion& region)
{
    setRegion(XCB_SHAPE_SK_INPUT, &region);
}

void X11WindowShape::setBoundingRegion(const std::optional<QRegion>& region)
{
    setRegion(XCB_SHAPE_SK_BOUNDING, region ? &*region : nullptr);
}

void X11WindowShape::setRegion(uint8_t kind, const QRegion* region)
{
    auto* connection = static_cast<xcb_connection_t*>(m_connection);
    xcb_void_cookie_t cookie;
    if (!region) {
        // A mask of None takes the shape of this kind off again.
        cookie = xcb_shape_mask_checked(connection, XCB_SHAPE_SO_SET, kind, m_windowId, 0, 0, XCB_PIXMAP_NONE);
    } else {
        const qreal ratio = m_window->devicePixelRatio();
        const QRegion native = qFuzzyCompare(ratio, 1.0) ? *region : QTransform::fromScale(ratio, ratio).map(*region);
        std::vector<xcb_rectangle_t> rectangles;
        rectangles.reserve(size_t(native.rectCount()));
        for (const QRect& rect : native)
            rectangles.push_back({int16_t(rect.x()), int16_t(rect.y()), uint16_t(rect.width()), uint16_t(rect.height())});
        cookie = xcb_shape_rectangles_checked(connection, XCB_SHAPE_SO_SET, kind, XCB_CLIP_ORDERING_UNSORTED,
                                              m_windowId, 0, 0, uint32_t(rectangles.size()), rectangles.data());
    }
    xcb_flush(connection);
    m_pendingRequests.push_back({cookie.sequence, kind});
    if (!m_errorCheckScheduled) {
        m_errorCheckScheduled = true;
        QTimer::singleShot(kErrorCheckDelayMilliseconds, this, [this] { checkPendingRequests(); });
    }
}

void X11WindowShape::checkPendingRequests()
{
    m_errorCheckScheduled = false;
    auto* connection = static_cast<xcb_connection_t*>(m_connection);
    for (const PendingRequest& pending : std::exchange(m_pendingRequests, {})) {
        xcb_generic_error_t* error = xcb_request_check(connection, xcb_void_cookie_t{pending.sequence});
        if (error)
            ++m_refusedRequests;
        reportError(pending.kind == XCB_SHAPE_SK_INPUT ? "the window's input shape" : "the window's bounding shape",
                    error);
    }
}

} // namespace Platform
