#include "BlurBehind.h"

#include <QGuiApplication>
#include <QWindow>

#include <xcb/xcb.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <memory>

namespace Platform::BlurBehind {

namespace {

const QByteArray kBlurRegionAtom = QByteArrayLiteral("_KDE_NET_WM_BLUR_BEHIND_REGION");

struct FreeDeleter
{
    void operator()(void* pointer) const { std::free(pointer); }
};

xcb_connection_t* connection()
{
    auto* application = qGuiApp ? qGuiApp->nativeInterface<QNativeInterface::QX11Application>() : nullptr;
    return application ? application->connection() : nullptr;
}

// The blur's atom when the desktop announces it on the root window, else none. The atom is
// looked up without being created, so that desktops without the effect never see it.
xcb_atom_t queryAnnouncedAtom()
{
    xcb_connection_t* x = connection();
    if (!x)
        return XCB_ATOM_NONE;
    const std::unique_ptr<xcb_intern_atom_reply_t, FreeDeleter> atomReply(xcb_intern_atom_reply(
        x, xcb_intern_atom(x, 1, uint16_t(kBlurRegionAtom.size()), kBlurRegionAtom.constData()), nullptr));
    if (!atomReply || atomReply->atom == XCB_ATOM_NONE)
        return XCB_ATOM_NONE;
    const xcb_screen_t* screen = xcb_setup_roots_iterator(xcb_get_setup(x)).data;
    if (!screen)
        return XCB_ATOM_NONE;
    const std::unique_ptr<xcb_list_properties_reply_t, FreeDeleter> reply(
        xcb_list_properties_reply(x, xcb_list_properties(x, screen->root), nullptr));
    if (!reply)
        return XCB_ATOM_NONE;
    const xcb_atom_t* atoms = xcb_list_properties_atoms(reply.get());
    const xcb_atom_t* end = atoms + xcb_list_properties_atoms_length(reply.get());
    return std::find(atoms, end, atomReply->atom) != end ? atomReply->atom : xcb_atom_t(XCB_ATOM_NONE);
}

xcb_atom_t announcedAtom()
{
    static const xcb_atom_t atom = queryAnnouncedAtom();
    return atom;
}

} // namespace

bool isAvailable()
{
    return announcedAtom() != XCB_ATOM_NONE;
}

QList<quint32> propertyValue(const QRegion& region, qreal devicePixelRatio)
{
    QList<quint32> value;
    for (const QRect& rect : region) {
        // Whole device pixels that cover the rectangle.
        const int left = int(std::floor(rect.x() * devicePixelRatio));
        const int top = int(std::floor(rect.y() * devicePixelRatio));
        const int right = int(std::ceil((rect.x() + rect.width()) * devicePixelRatio));
        const int bottom = int(std::ceil((rect.y() + rect.height()) * devicePixelRatio));
        if (right <= left || bottom <= top)
            continue;
        value << quint32(qMax(left, 0)) << quint32(qMax(top, 0)) << quint32(right - qMax(left, 0))
              << quint32(bottom - qMax(top, 0));
    }
    return value;
}

bool setRegion(QWindow* window, const QRegion& region)
{
    xcb_connection_t* x = connection();
    if (!x || !window)
        return false;
    const xcb_atom_t atom = announcedAtom();
    if (atom == XCB_ATOM_NONE)
        return false;
    const auto id = xcb_window_t(window->winId());
    // The property present without rectangles would blur the whole window, transparent stage
    // included: an empty region removes it instead.
    const QList<quint32> value = propertyValue(region, window->devicePixelRatio());
    if (value.isEmpty())
        xcb_delete_property(x, id, atom);
    else
        xcb_change_property(x, XCB_PROP_MODE_REPLACE, id, atom, XCB_ATOM_CARDINAL, 32, uint32_t(value.size()),
                            value.constData());
    xcb_flush(x);
    return true;
}

} // namespace Platform::BlurBehind
