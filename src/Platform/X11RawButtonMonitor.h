#pragma once

// Mouse button presses and releases anywhere on the X display, whichever program receives them.
// X11 sends a program only the clicks on its own windows; XInput 2 "raw" events, selected on the
// root window, report every press and release of the master pointer without position. They are
// read on a connection of this monitor's own, so that Qt's connection never sees them. Wheel
// buttons (4 to 7) are left out.
//
// Each click is reported together with whether it also reached a window of this program, so
// that a listener can tell a click elsewhere from one of its own: Qt delivers such a click as a
// mouse event whose timestamp is the same server time. The answer is known without guessing at
// delays: after a raw event the monitor sends a marker event to itself over Qt's connection. The
// server had queued the click for this program (if it was ours) before it reported the raw
// event, and it queues the marker only after, so by the time the marker comes back in Qt's
// stream the click would have come back before it. A window manager that grabs presses on the
// windows it manages holds such a press back until it lets it through; only then, when the
// pointer is over a window of this program and the press has not come, the monitor waits for
// it, within a bound.

#include <QAbstractNativeEventFilter>
#include <QObject>

#include <memory>

namespace Platform {

class X11RawButtonMonitor : public QObject, public QAbstractNativeEventFilter
{
    Q_OBJECT

public:
    enum class Button { left, middle, right, other };

    // Nothing when the program does not run on X11 or the server lacks XInput 2.
    static std::unique_ptr<X11RawButtonMonitor> create();
    ~X11RawButtonMonitor() override;

    bool nativeEventFilter(const QByteArray& eventType, void* message, qintptr* result) override;

Q_SIGNALS:
    // `serverTime` is the X server's time of the click; `reachedThisProgram` says whether a
    // window of this program received it too. Reported in the order the clicks happened.
    void buttonPressed(Platform::X11RawButtonMonitor::Button button, quint32 serverTime, bool reachedThisProgram);
    void buttonReleased(Platform::X11RawButtonMonitor::Button button, quint32 serverTime, bool reachedThisProgram);

private:
    struct Private;
    struct Click;
    explicit X11RawButtonMonitor(std::unique_ptr<Private> d);
    void readEvents();
    void heardRaw(const Click& click);
    void sawHere(const Click& click);
    void markerCameBack(uint32_t mark);
    void settle();
    void report();
    bool pointerOverThisProgram() const;

    std::unique_ptr<Private> d;
};

} // namespace Platform
