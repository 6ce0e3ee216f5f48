#pragma once

#include "Workspace.h"

#include <QHash>
#include <QList>
#include <QObject>
#include <QSet>
#include <QString>
#include <QStringList>
#include <QVariant>

#include <compare>
#include <optional>

namespace Platform {

// Orders instances by launch, the same way in every process that compares them: when the process
// started (in the system's clock ticks since boot), then, for processes started within one tick,
// the order in which they joined the bus.
struct LaunchOrder
{
    quint64 startTime = 0;
    quint64 busGeneration = 0;
    quint64 busSerial = 0;

    friend auto operator<=>(const LaunchOrder&, const LaunchOrder&) = default;
};

// The running instances of applications that announce themselves on the desktop, ending them,
// and notifications broadcast to every such process (the sender included).
class InstanceRegistry : public QObject
{
    Q_OBJECT

public:
    using QObject::QObject;

    // False when the registry cannot reach the desktop's message bus: then nothing can be found,
    // ended, posted or heard.
    virtual bool isAvailable() const = 0;

    // Announces this process as a running instance of the application with this bundle
    // identifier, until the process ends; false when that failed.
    virtual bool registerInstance(const QString& bundleIdentifier) = 0;

    // Every announced instance, this process included, in no particular order.
    virtual QList<RunningApplication> runningApplications() const = 0;
    // True until the process has exited (an exited process never writes another byte).
    virtual bool isRunning(qint64 processIdentifier) const = 0;
    // Where an announced instance (or this process) stands in the order of launches; nothing for
    // a process that announces no instance or is gone.
    virtual std::optional<LaunchOrder> launchOrder(qint64 processIdentifier) const = 0;

    // Asks the application to quit; true when the request was delivered.
    virtual bool terminate(const RunningApplication& application) = 0;
    // Ends it without asking; true when that was delivered.
    virtual bool forceTerminate(const RunningApplication& application) = 0;

    // From now on, notificationReceived is emitted for every notification of this name posted
    // by any process, this one included.
    virtual bool addObserver(const QString& notificationName) = 0;
    // Broadcasts the notification; an invalid object posts one without an object.
    virtual bool postNotification(const QString& notificationName, const QVariant& object) = 0;

Q_SIGNALS:
    // The object as it was posted: invalid when there was none, any type the sender chose.
    void notificationReceived(const QString& notificationName, const QVariant& object);
};

// Answers what a test sets, records what was asked and delivers its own posts (queued, as a
// bus would) to this process only.
class MemoryInstanceRegistry final : public InstanceRegistry
{
    Q_OBJECT

public:
    using InstanceRegistry::InstanceRegistry;

    bool isAvailable() const override { return available; }
    bool registerInstance(const QString& bundleIdentifier) override;
    QList<RunningApplication> runningApplications() const override;
    bool isRunning(qint64 processIdentifier) const override;
    std::optional<LaunchOrder> launchOrder(qint64 processIdentifier) const override;
    bool terminate(const RunningApplication& application) override;
    bool forceTerminate(const RunningApplication& application) override;
    bool addObserver(const QString& notificationName) override;
    bool postNotification(const QString& notificationName, const QVariant& object) override;

    bool available = true;
    // Absent for a process: its order is unknown.
    QHash<qint64, LaunchOrder> launchOrders;
    QList<RunningApplication> applications;
    QSet<qint64> refusingTermination; // terminate() answers false
    QSet<qint64> lingering;           // accept terminate() but run on until a test removes them or they are forced
    QSet<qint64> unkillable;          // survive forceTerminate() too
    // "register <id>", "terminate <pid>", "forceTerminate <pid>", "observe <name>", "post <name> <object>".
    QStringList calls;

private:
    void remove(qint64 processIdentifier);

    QStringList m_observed;
};

} // namespace Platform
