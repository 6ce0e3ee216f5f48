#pragma once

// Global hot keys on X11: passive key grabs on the root window, made and read on a connection of
// this object's own, so that the grabbed presses never reach Qt's connection.

#include "GlobalHotKeys.h"

#include <memory>

namespace Platform {

class GlobalHotKeysX11 final : public GlobalHotKeys
{
    Q_OBJECT

public:
    // Nothing when the program does not run on X11 or the display cannot be reached.
    static std::unique_ptr<GlobalHotKeysX11> create();
    ~GlobalHotKeysX11() override;

    bool registerHotKey(quint32 id, KeyPosition key, Modifiers modifiers) override;
    void unregisterHotKey(quint32 id) override;

private:
    struct Private;
    explicit GlobalHotKeysX11(std::unique_ptr<Private> d);
    void readEvents();
    void emitPressed(quint8 keycode, quint16 state);

    std::unique_ptr<Private> d;
};

} // namespace Platform
