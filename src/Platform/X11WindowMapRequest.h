#pragma once

class QWindow;

namespace Platform {

// Asks the X server once more to map a top-level window that Qt has shown.
//
// A window asks to be mapped once, when shown. A window manager that is starting at that moment
// (a login's autostart starts programs beside it) can take over the screen and lose the request:
// the window then stays unmapped while Qt takes it for shown, and nothing asks again. A window
// already mapped is left as it is. False where there is no X11 or the window has no native one.
bool requestWindowMapAgain(QWindow* window);

} // namespace Platform
