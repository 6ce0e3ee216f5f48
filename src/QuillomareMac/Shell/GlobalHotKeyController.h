#pragma once

#include <QMetaObject>
#include <QObject>
#include <QSet>

#include <functional>
#include <memory>

namespace Platform {
class GlobalHotKeys;
}

namespace QuillomareMac {

// The raw value is also the id each combination is registered under.
enum class GlobalHotKeyAction : quint32 {
    showIsland = 1,          // Ctrl+Alt+V
    addClipboardToShelf = 2, // Ctrl+Alt+S
};

// The program's two system-wide combinations, registered together or not at all. A combination
// another program holds leaves the program without either until the next registerHotKeys();
// that is not reported to the user.
class GlobalHotKeyController final : public QObject
{
    Q_OBJECT

public:
    // Without `keys`, the desktop's own (X11) hot keys, made on the first registration.
    explicit GlobalHotKeyController(std::shared_ptr<Platform::GlobalHotKeys> keys = {}, QObject* parent = nullptr);
    ~GlobalHotKeyController() override;

    // Called on the GUI thread, after the event that reported the press has been handled.
    std::function<void(GlobalHotKeyAction)> onPressed;

    // Nothing when already registered. (Named so because `register` is a C++ keyword.)
    void registerHotKeys();
    // Safe at any time, also repeatedly.
    void unregisterHotKeys();
    // True only while both combinations are held.
    bool isRegistered() const { return m_isRegistered; }

private:
    void handlePress(quint32 id);

    std::shared_ptr<Platform::GlobalHotKeys> m_keys;
    QSet<quint32> m_registeredIds;
    QMetaObject::Connection m_handler;
    bool m_isRegistered = false;
};

} // namespace QuillomareMac
