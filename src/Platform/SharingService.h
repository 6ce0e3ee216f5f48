#pragma once

#include "Pasteboard.h"

#include <QList>

#include <memory>

namespace Platform {

// Sending items to a nearby device (what other systems call AirDrop). On Linux this is KDE
// Connect: available only while it reaches a paired device.
class SharingService
{
public:
    // Why items can or cannot be sent: the user's remedy differs (install the service, or pair
    // and reach a device).
    enum class Availability
    {
        available,
        noReachableDevice,
        notInstalled,
    };

    virtual ~SharingService() = default;

    virtual bool isAvailable() const = 0;
    // A service that cannot be missing answers from isAvailable() alone.
    virtual Availability availability() const
    {
        return isAvailable() ? Availability::available : Availability::noReachableDevice;
    }
    // Hands the items over; the outcome of the transfer itself is not reported.
    virtual bool perform(const QList<PasteboardObject>& items) = 0;

    // The nearby-device service; tests put their own in its place.
    static std::shared_ptr<SharingService> airDrop();
    static void setAirDropForTesting(std::shared_ptr<SharingService> service);
};

} // namespace Platform
