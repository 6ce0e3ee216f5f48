#include "X11WindowShape.h"

#include <QCoreApplication>
#include <QGuiApplication>
#include <QTransform>
#include <QWindow>

#include <xcb/xcb.h>
#include <xcb/xcbext.h>

#include <cstdlib>
#include <cstring>
#include <vector>
#include <sys/uio.h>

namespace Platform {

namespace {

// SHAPE and XFIXES are not among the xcb bindings this build links, and only three small
// requests are needed, so they are written out here from the protocols' descriptions.
xcb_extension_t shapeExtension = {"SHAPE", 0};
xcb_extension_t xfixesExtension = {"XFIXES", 0};

constexpr uint8_t kShapeRectanglesOpcode = 1;
constexpr uint8_t kShapeMaskOpcode = 2;
constexpr uint8_t kShapeSet = 0;
constexpr uint8_t kShapeUnsorted = 0;
constexpr uint8_t kShapeBounding = 0;
constexpr uint8_t kShapeInput = 2;

constexpr uint8_t kXFixesSelectSelectionInputOpcode = 2;
constexpr uint8_t kXFixesSelectionNotify = 0;
// Set owner, owner window destroyed, owner client gone.
constexpr uint32_t kXFixesSelectionMask = 1 | 2 | 4;

struct ShapeRectanglesRequest
{
    uint8_t majorOpcode;
    uint8_t minorOpcode;
    uint16_t length;
    uint8_t operation;
    uint8_t kind;
    uint8_t ordering;
    uint8_t pad;
    uint32_t window;
    int16_t xOffset;
    int16_t yOffset;
};
static_assert(sizeof(ShapeRectanglesRequest) == 16);

struct ShapeMaskRequest
{
    uint8_t majorOpcode;
    uint8_t minorOpcode;
    uint16_t length;
    uint8_t operation;
    uint8_t kind;
    uint16_t pad;
    uint32_t window;
    int16_t xOffset;
    int16_t yOffset;
    uint32_t bitmap;
};
static_assert(sizeof(ShapeMaskRequest) == 20);

struct SelectSelectionInputRequest
{
    uint8_t majorOpcode;
    uint8_t minorOpcode;
    uint16_t length;
    uint32_t window;
    uint32_t selection;
    uint32_t eventMask;
};
static_assert(sizeof(SelectSelectionInputRequest) == 16);

struct SelectionNotifyEvent
{
    uint8_t responseType;
    uint8_t subtype;
    uint16_t sequence;
    uint32_t window;
    uint32_t owner;
    uint32_t selection;
};

void sendVoidRequest(xcb_connection_t* connection, xcb_extension_t* extension, uint8_t opcode, void* head,
                     size_t headSize, const void* body = nullptr, size_t bodySize = 0)
{
    // xcb wants two spare vectors in front of the ones it sends.
    struct iovec parts[4];
    parts[2].iov_base = head;
    parts[2].iov_len = headSize;
    parts[3].iov_base = const_cast<void*>(body);
    parts[3].iov_len = bodySize;
    xcb_protocol_request_t protocol = {2, extension, opcode, 1};
    xcb_send_request(connection, 0, parts + 2, &protocol);
}

xcb_atom_t internAtom(xcb_connection_t* connection, const QByteArray& name)
{
    xcb_intern_atom_reply_t* reply = xcb_intern_atom_reply(
        connection, xcb_intern_atom(connection, 0, uint16_t(name.size()), name.constData()), nullptr);
    const xcb_atom_t atom = reply ? reply->atom : xcb_atom_t(XCB_ATOM_NONE);
    std::free(reply);
    return atom;
}

} // namespace

std::unique_ptr<X11WindowShape> X11WindowShape::create(QWindow* window)
{
    if (!window || QGuiApplication::platformName() != QLatin1String("xcb"))
        return nullptr;
    auto* application = qGuiApp ? qGuiApp->nativeInterface<QNativeInterface::QX11Application>() : nullptr;
    xcb_connection_t* connection = application ? application->connection() : nullptr;
    if (!connection)
        return nullptr;
    const xcb_query_extension_reply_t* shape = xcb_get_extension_data(connection, &shapeExtension);
    if (!shape || !shape->present)
        return nullptr;

    std::unique_ptr<X11WindowShape> result(new X11WindowShape);
    result->m_window = window;
    result->m_connection = connection;
    result->m_windowId = uint32_t(window->winId());

    // The compositing manager of the window's screen owns _NET_WM_CM_S<screen number>.
    xcb_get_geometry_reply_t* geometry =
        xcb_get_geometry_reply(connection, xcb_get_geometry(connection, result->m_windowId), nullptr);
    if (!geometry)
        return nullptr;
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
    const xcb_query_extension_reply_t* xfixes = xcb_get_extension_data(connection, &xfixesExtension);
    if (xfixes && xfixes->present && result->m_compositorSelection != XCB_ATOM_NONE) {
        result->m_xfixesFirstEvent = xfixes->first_event;
        SelectSelectionInputRequest select = {0, 0, 0, root, result->m_compositorSelection, kXFixesSelectionMask};
        sendVoidRequest(connection, &xfixesExtension, kXFixesSelectSelectionInputOpcode, &select, sizeof select);
        QCoreApplication::instance()->installNativeEventFilter(result.get());
    }
    result->m_compositing = result->queryCompositingManager();
    return result;
}

X11WindowShape::~X11WindowShape()
{
    if (QCoreApplication* application = QCoreApplication::instance())
        application->removeNativeEventFilter(this);
}

bool X11WindowShape::queryCompositingManager() const
{
    auto* connection = static_cast<xcb_connection_t*>(m_connection);
    if (m_compositorSelection == XCB_ATOM_NONE)
        return false;
    xcb_get_selection_owner_reply_t* reply = xcb_get_selection_owner_reply(
        connection, xcb_get_selection_owner(connection, m_compositorSelection), nullptr);
    const bool owned = reply && reply->owner != XCB_WINDOW_NONE;
    std::free(reply);
    return owned;
}

bool X11WindowShape::nativeEventFilter(const QByteArray& eventType, void* message, qintptr*)
{
    if (m_xfixesFirstEvent == 0 || eventType != "xcb_generic_event_t")
        return false;
    const auto* event = static_cast<const xcb_generic_event_t*>(message);
    if ((event->response_type & 0x7f) != m_xfixesFirstEvent + kXFixesSelectionNotify)
        return false;
    const auto* notify = reinterpret_cast<const SelectionNotifyEvent*>(event);
    if (notify->selection != m_compositorSelection)
        return false;
    const bool running = notify->subtype == 0 && notify->owner != XCB_WINDOW_NONE;
    if (running != m_compositing) {
        m_compositing = running;
        Q_EMIT compositingManagerChanged(running);
    }
    return false; // Qt follows the compositing manager too
}

void X11WindowShape::setInputRegion(const QRegion& region)
{
    setRegion(kShapeInput, &region);
}

void X11WindowShape::setBoundingRegion(const std::optional<QRegion>& region)
{
    setRegion(kShapeBounding, region ? &*region : nullptr);
}

void X11WindowShape::setRegion(uint8_t kind, const QRegion* region)
{
    auto* connection = static_cast<xcb_connection_t*>(m_connection);
    if (!region) {
        // A mask of None takes the shape of this kind off again.
        ShapeMaskRequest request = {0, 0, 0, kShapeSet, kind, 0, m_windowId, 0, 0, XCB_NONE};
        sendVoidRequest(connection, &shapeExtension, kShapeMaskOpcode, &request, sizeof request);
    } else {
        const qreal ratio = m_window->devicePixelRatio();
        const QRegion native = qFuzzyCompare(ratio, 1.0) ? *region : QTransform::fromScale(ratio, ratio).map(*region);
        std::vector<xcb_rectangle_t> rectangles;
        rectangles.reserve(size_t(native.rectCount()));
        for (const QRect& rect : native)
            rectangles.push_back({int16_t(rect.x()), int16_t(rect.y()), uint16_t(rect.width()), uint16_t(rect.height())});
        ShapeRectanglesRequest request = {0, 0, 0, kShapeSet, kind, kShapeUnsorted, 0, m_windowId, 0, 0};
        sendVoidRequest(connection, &shapeExtension, kShapeRectanglesOpcode, &request, sizeof request,
                        rectangles.data(), rectangles.size() * sizeof(xcb_rectangle_t));
    }
    xcb_flush(connection);
}

} // namespace Platform
