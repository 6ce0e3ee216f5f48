#pragma once

// Mouse button presses and releases anywhere on the X display, whichever program receives them.
// X11 sends a program only the clicks on its own windows; XInput 2 "raw" events, selected on the
// root window, report every press and release of the master pointer without position. They are
// read on a connection of this monitor's own, so that Qt's connection never sees them. Wheel
// buttons (4 to 7) are left out.

#include <QObject>

#include <memory>

namespace Platform {

class X11RawButtonMonitor : public QObject
{
    Q_OBJECT

public:
    enum class Button { left, middle, right, other };

    // Nothing when the program does not run on X11 or the server lacks XInput 2.
    static std::unique_ptr<X11RawButtonMonitor> create();
    ~X11RawButtonMonitor() override;

Q_SIGNALS:
    void buttonPressed(Platform::X11RawButtonMonitor::Button button);
    void buttonReleased(Platform::X11RawButtonMonitor::Button button);

private:
    struct Private;
    explicit X11RawButtonMonitor(std::unique_ptr<Private> d);
    void readEvents();

    std::unique_ptr<Private> d;
};

} // namespace Platform
