#include "GlobalHotKeysX11.h"

#include "X11PrivateConnection.h"

#include <QGuiApplication>
#include <QHash>
#include <QSocketNotifier>

#include <xcb/xcb.h>
#include <xcb/xcb_keysyms.h>

#include <array>
#include <cstdlib>

namespace Platform {

namespace {

// Key positions as X keycodes. Both keycode sets X servers use (evdev's, and the older xfree86
// one) give the US layout's V and S positions these numbers, so the grab follows the position
// and not the letter the active layout prints there.
xcb_keycode_t keycodeOf(GlobalHotKeys::KeyPosition key)
{
    switch (key) {
    case GlobalHotKeys::KeyPosition::v:
        return 55;
    case GlobalHotKeys::KeyPosition::s:
        return 39;
    }
    return 0;
}

constexpr xcb_keysym_t kAltL = 0xffe9, kAltR = 0xffea, kSuperL = 0xffeb, kSuperR = 0xffec, kNumLock = 0xff7f;

struct ModifierMasks
{
    uint16_t alt = XCB_MOD_MASK_1;
    uint16_t super = XCB_MOD_MASK_4;
    uint16_t numLock = XCB_MOD_MASK_2;
};

} // namespace

struct GlobalHotKeysX11::Private
{
    struct Grab
    {
        xcb_keycode_t keycode = 0;
        uint16_t modifiers = 0;
    };

    xcb_connection_t* connection = nullptr;
    xcb_window_t root = XCB_NONE;
    std::unique_ptr<QSocketNotifier> notifier;
    QHash<quint32, Grab> grabs;
    // Time of each grabbed key's last release: X repeats a held key as a release and a press
    // bearing the same time, and only the first press of a hold counts.
    QHash<xcb_keycode_t, xcb_timestamp_t> lastRelease;
    ModifierMasks masks;

    ~Private()
    {
        notifier.reset();
        if (connection)
            xcb_disconnect(connection);
    }

    // Which modifier bit Alt, Super and Num Lock sit on depends on the keymap; the usual bits
    // stand when the server's mapping cannot be read.
    void readModifierMasks()
    {
        masks = {};
        xcb_key_symbols_t* symbols = xcb_key_symbols_alloc(connection);
        xcb_get_modifier_mapping_reply_t* mapping =
            xcb_get_modifier_mapping_reply(connection, xcb_get_modifier_mapping(connection), nullptr);
        if (symbols && mapping) {
            ModifierMasks found{0, 0, 0};
            const xcb_keycode_t* keycodes = xcb_get_modifier_mapping_keycodes(mapping);
            const int perModifier = mapping->keycodes_per_modifier;
            for (int modifier = 0; modifier < 8; ++modifier) {
                for (int i = 0; i < perModifier; ++i) {
                    const xcb_keycode_t keycode = keycodes[modifier * perModifier + i];
                    for (int column = 0; keycode && column < 4; ++column) {
                        const xcb_keysym_t keysym = xcb_key_symbols_get_keysym(symbols, keycode, column);
                        const uint16_t bit = uint16_t(1u << modifier);
                        if (keysym == kAltL || keysym == kAltR)
                            found.alt |= bit;
                        else if (keysym == kSuperL || keysym == kSuperR)
                            found.super |= bit;
                        else if (keysym == kNumLock)
                            found.numLock |= bit;
                    }
                }
            }
            if (found.alt)
                masks.alt = found.alt;
            if (found.super)
                masks.super = found.super;
            masks.numLock = found.numLock; // no Num Lock key: no variant needed for it
        }
        std::free(mapping);
        if (symbols)
            xcb_key_symbols_free(symbols);
    }

    uint16_t maskOf(Modifiers modifiers) const
    {
        uint16_t mask = 0;
        if (modifiers & Modifier::control)
            mask |= XCB_MOD_MASK_CONTROL;
        if (modifiers & Modifier::shift)
            mask |= XCB_MOD_MASK_SHIFT;
        if (modifiers & Modifier::alt)
            mask |= masks.alt;
        if (modifiers & Modifier::super)
            mask |= masks.super;
        return mask;
    }

    // A grab matches the modifier state exactly, so a combination is grabbed once for each state
    // of the two lock keys the user may have switched on.
    std::array<uint16_t, 4> lockVariants() const
    {
        return {0, XCB_MOD_MASK_LOCK, masks.numLock, uint16_t(XCB_MOD_MASK_LOCK | masks.numLock)};
    }

    void ungrab(const Grab& grab)
    {
        // Releases only this connection's own grabs: another program's grab of the same
        // combination stays as it is.
        for (uint16_t variant : lockVariants())
            xcb_ungrab_key(connection, grab.keycode, root, uint16_t(grab.modifiers | variant));
    }
};

std::unique_ptr<GlobalHotKeysX11> GlobalHotKeysX11::create()
{
    const X11PrivateConnection x11 = X11PrivateConnection::open();
    if (!x11.connection)
        return nullptr;
    auto d = std::make_unique<Private>();
    d->connection = x11.connection;
    d->root = x11.root;
    return std::unique_ptr<GlobalHotKeysX11>(new GlobalHotKeysX11(std::move(d)));
}

GlobalHotKeysX11::GlobalHotKeysX11(std::unique_ptr<Private> data) : d(std::move(data))
{
    d->notifier = std::make_unique<QSocketNotifier>(xcb_get_file_descriptor(d->connection), QSocketNotifier::Read);
    connect(d->notifier.get(), &QSocketNotifier::activated, this, &GlobalHotKeysX11::readEvents);
}

GlobalHotKeysX11::~GlobalHotKeysX11() = default;

bool GlobalHotKeysX11::registerHotKey(quint32 id, KeyPosition key, Modifiers modifiers)
{
    if (xcb_connection_has_error(d->connection))
        return false;
    unregisterHotKey(id);
    d->readModifierMasks();
    const Private::Grab grab{keycodeOf(key), d->maskOf(modifiers)};

    std::array<xcb_void_cookie_t, 4> cookies;
    const auto variants = d->lockVariants();
    for (size_t i = 0; i < variants.size(); ++i)
        cookies[i] = xcb_grab_key_checked(d->connection, 0, d->root, uint16_t(grab.modifiers | variants[i]),
                                          grab.keycode, XCB_GRAB_MODE_ASYNC, XCB_GRAB_MODE_ASYNC);
    // Every reply is collected before deciding, so no error is left behind in the queue. The
    // server refuses a grab that another program holds with an access error.
    bool allGranted = true;
    for (const xcb_void_cookie_t& cookie : cookies) {
        if (xcb_generic_error_t* error = xcb_request_check(d->connection, cookie)) {
            allGranted = false;
            std::free(error);
        }
    }
    if (!allGranted) {
        d->ungrab(grab);
        xcb_flush(d->connection);
        return false;
    }
    d->grabs.insert(id, grab);
    // Replies may have brought events along into xcb's queue, where the socket no longer signals them.
    QMetaObject::invokeMethod(this, &GlobalHotKeysX11::readEvents, Qt::QueuedConnection);
    return true;
}

void GlobalHotKeysX11::unregisterHotKey(quint32 id)
{
    const auto found = d->grabs.constFind(id);
    if (found == d->grabs.constEnd())
        return;
    d->ungrab(*found);
    d->grabs.erase(found);
    xcb_flush(d->connection);
}

void GlobalHotKeysX11::emitPressed(quint8 keycode, quint16 state)
{
    // Lock keys and mouse buttons do not change which combination was pressed.
    const uint16_t modifiers = uint16_t(state & 0xff) & uint16_t(~(XCB_MOD_MASK_LOCK | d->masks.numLock));
    for (auto grab = d->grabs.cbegin(); grab != d->grabs.cend(); ++grab) {
        if (grab->keycode == keycode && grab->modifiers == modifiers) {
            Q_EMIT pressed(grab.key());
            return;
        }
    }
}

void GlobalHotKeysX11::readEvents()
{
    if (xcb_connection_has_error(d->connection)) {
        d->notifier->setEnabled(false);
        return;
    }
    while (xcb_generic_event_t* event = xcb_poll_for_event(d->connection)) {
        const uint8_t type = event->response_type & 0x7f;
        if (type == XCB_KEY_PRESS || type == XCB_KEY_RELEASE) {
            const auto* key = reinterpret_cast<const xcb_key_press_event_t*>(event);
            const bool repeated = type == XCB_KEY_PRESS && d->lastRelease.contains(key->detail)
                                  && d->lastRelease.value(key->detail) == key->time;
            if (type == XCB_KEY_RELEASE)
                d->lastRelease.insert(key->detail, key->time);
            else if (!repeated)
                emitPressed(key->detail, key->state);
        }
        std::free(event);
    }
}

} // namespace Platform
