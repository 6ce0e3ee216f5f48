#pragma once

// Running instances on the D-Bus session bus. Each instance owns the well-known name
// "<bundle identifier>.Instance-<pid>"; finding instances lists the bus's names and asks the bus
// daemon for the process behind each one, never trusting the number in the name. A notification
// "a.b.c.member" is the broadcast signal `member` of interface "a.b.c", with the name and the
// object as its arguments. Ending an instance is a signal to its process: SIGTERM to ask it,
// SIGKILL to force it.

#include "InstanceRegistry.h"

#include <memory>

namespace Platform {

class DBusInstanceRegistry final : public InstanceRegistry
{
    Q_OBJECT

public:
    // On the session bus of this process (DBUS_SESSION_BUS_ADDRESS); a bus that cannot be
    // reached leaves the registry unavailable, never waiting for it.
    explicit DBusInstanceRegistry(QObject* parent = nullptr);
    ~DBusInstanceRegistry() override;

    bool isAvailable() const override;
    bool registerInstance(const QString& bundleIdentifier) override;
    QList<RunningApplication> runningApplications() const override;
    bool isRunning(qint64 processIdentifier) const override;
    std::optional<LaunchOrder> launchOrder(qint64 processIdentifier) const override;
    bool terminate(const RunningApplication& application) override;
    bool forceTerminate(const RunningApplication& application) override;
    bool addObserver(const QString& notificationName) override;
    bool postNotification(const QString& notificationName, const QVariant& object) override;

    // The bus name an instance of this application and process owns.
    static QString instanceBusName(const QString& bundleIdentifier, qint64 processIdentifier);
    // The application a bus name announces, or empty when the name is not an instance's.
    static QString bundleIdentifierOfBusName(const QString& busName);
    // When the process started, in clock ticks since boot; nothing when it is gone.
    static std::optional<quint64> processStartTime(qint64 processIdentifier);
    // The order of a unique connection name (":1.42") among those of its bus; nothing for
    // another kind of name.
    static std::optional<std::pair<quint64, quint64>> connectionSerial(const QString& uniqueName);

private:
    struct Private;
    std::unique_ptr<Private> d;
};

} // namespace Platform
