#pragma once

// Watching mouse buttons for the island: "local" monitors see this program's own mouse-downs and
// mouse-ups before any window handles them (and may swallow them); "global" monitors hear of the
// clicks that go to other programs. The panel controller installs and removes them as the island
// opens and closes; tests hand it a fake that injects clicks.
//
// The real ones: an application-wide event filter for the local side (clicks on this program's
// pop-up menus and tooltips are left alone); XInput 2 raw button events for the global side,
// with the program losing activation as the stand-in for a click elsewhere where the display
// has no XInput 2 (then only mouse-ups are heard, and only that one). A raw event is told from
// the same click delivered to one of our windows by the server's time of the click, never by
// how close together the two came.

#include <QPointer>
#include <QWindow>

#include <functional>
#include <memory>

namespace QuillomareMac {

enum class IslandMouseButton { left, right, other };
enum class IslandMouseEventKind { down, up };

struct IslandMouseEvent
{
    IslandMouseEventKind kind = IslandMouseEventKind::down;
    IslandMouseButton button = IslandMouseButton::left;
    // The window of this program the event was sent to; none for global events.
    QPointer<QWindow> window;
};

namespace IslandMouseMask {
enum : unsigned {
    leftDown = 1u << 0,
    rightDown = 1u << 1,
    otherDown = 1u << 2,
    leftUp = 1u << 3,
    rightUp = 1u << 4,
    otherUp = 1u << 5,
    anyDown = leftDown | rightDown | otherDown,
    anyUp = leftUp | rightUp | otherUp,
};
unsigned bit(const IslandMouseEvent& event);
inline bool matches(unsigned mask, const IslandMouseEvent& event)
{
    return (mask & bit(event)) != 0;
}
} // namespace IslandMouseMask

// An installed monitor; destroying it removes it.
class IslandEventMonitor
{
public:
    virtual ~IslandEventMonitor() = default;
};

class IslandEventMonitors
{
public:
    virtual ~IslandEventMonitors() = default;

    // Clicks that go to other programs. Nothing when the desktop cannot report them at all.
    virtual std::unique_ptr<IslandEventMonitor> addGlobalMonitor(unsigned mask,
                                                                 std::function<void(const IslandMouseEvent&)> handler) = 0;
    // Clicks of this program, before delivery; a handler that returns true swallows the event.
    virtual std::unique_ptr<IslandEventMonitor> addLocalMonitor(unsigned mask,
                                                                std::function<bool(const IslandMouseEvent&)> handler) = 0;

    static std::shared_ptr<IslandEventMonitors> system();
};

} // namespace QuillomareMac
