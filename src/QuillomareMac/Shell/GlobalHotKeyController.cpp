#include "GlobalHotKeyController.h"

#include <Platform/GlobalHotKeysX11.h>

namespace QuillomareMac {

namespace {

using Platform::GlobalHotKeys;

struct Combination
{
    GlobalHotKeyAction action;
    GlobalHotKeys::KeyPosition key;
};

// Control+Option on the other platform's keyboards; Ctrl+Alt here.
constexpr GlobalHotKeys::Modifiers kModifiers = GlobalHotKeys::Modifier::control | GlobalHotKeys::Modifier::alt;
constexpr Combination kCombinations[] = {
    {GlobalHotKeyAction::showIsland, GlobalHotKeys::KeyPosition::v},
    {GlobalHotKeyAction::addClipboardToShelf, GlobalHotKeys::KeyPosition::s},
};

} // namespace

GlobalHotKeyController::GlobalHotKeyController(std::shared_ptr<Platform::GlobalHotKeys> keys, QObject* parent)
    : QObject(parent), m_keys(std::move(keys))
{
}

// Dropping the controller leaves any registration to the keys object, which may outlive it.
GlobalHotKeyController::~GlobalHotKeyController() = default;

void GlobalHotKeyController::registerHotKeys()
{
    if (m_isRegistered)
        return;
    if (!m_keys)
        m_keys = Platform::GlobalHotKeysX11::create();
    if (!m_keys)
        return;
    m_handler = connect(m_keys.get(), &GlobalHotKeys::pressed, this, &GlobalHotKeyController::handlePress);
    for (const Combination& combination : kCombinations) {
        const auto id = static_cast<quint32>(combination.action);
        if (!m_keys->registerHotKey(id, combination.key, kModifiers)) {
            unregisterHotKeys();
            return;
        }
        m_registeredIds.insert(id);
    }
    m_isRegistered = true;
}

void GlobalHotKeyController::unregisterHotKeys()
{
    for (quint32 id : std::as_const(m_registeredIds))
        m_keys->unregisterHotKey(id);
    m_registeredIds.clear();
    if (m_handler)
        disconnect(m_handler);
    m_handler = {};
    m_isRegistered = false;
}

void GlobalHotKeyController::handlePress(quint32 id)
{
    const GlobalHotKeyAction action = id == static_cast<quint32>(GlobalHotKeyAction::addClipboardToShelf)
                                          ? GlobalHotKeyAction::addClipboardToShelf
                                          : GlobalHotKeyAction::showIsland;
    // Queued, so that whatever the callback does (open windows, unregister the keys) happens
    // after the keys object has finished reading its events.
    QMetaObject::invokeMethod(
        this,
        [this, action] {
            if (onPressed)
                onPressed(action);
        },
        Qt::QueuedConnection);
}

} // namespace QuillomareMac
