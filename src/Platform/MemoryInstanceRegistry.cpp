#include "InstanceRegistry.h"

#include <QMetaObject>

#include <algorithm>

namespace Platform {

bool MemoryInstanceRegistry::registerInstance(const QString& bundleIdentifier)
{
    calls.append(QStringLiteral("register ") + bundleIdentifier);
    return available;
}

QList<RunningApplication> MemoryInstanceRegistry::runningApplications() const
{
    return available ? applications : QList<RunningApplication>{};
}

bool MemoryInstanceRegistry::isRunning(qint64 processIdentifier) const
{
    return std::any_of(applications.begin(), applications.end(), [&](const RunningApplication& application) {
        return application.processIdentifier == processIdentifier;
    });
}

std::optional<LaunchOrder> MemoryInstanceRegistry::launchOrder(qint64 processIdentifier) const
{
    const auto found = launchOrders.constFind(processIdentifier);
    return found != launchOrders.cend() ? std::optional<LaunchOrder>(*found) : std::nullopt;
}

bool MemoryInstanceRegistry::terminate(const RunningApplication& application)
{
    calls.append(QStringLiteral("terminate %1").arg(application.processIdentifier));
    if (refusingTermination.contains(application.processIdentifier))
        return false;
    if (!lingering.contains(application.processIdentifier))
        remove(application.processIdentifier);
    return true;
}

bool MemoryInstanceRegistry::forceTerminate(const RunningApplication& application)
{
    calls.append(QStringLiteral("forceTerminate %1").arg(application.processIdentifier));
    if (!unkillable.contains(application.processIdentifier))
        remove(application.processIdentifier);
    return true;
}

bool MemoryInstanceRegistry::addObserver(const QString& notificationName)
{
    calls.append(QStringLiteral("observe ") + notificationName);
    if (available && !m_observed.contains(notificationName))
        m_observed.append(notificationName);
    return available;
}

bool MemoryInstanceRegistry::postNotification(const QString& notificationName, const QVariant& object)
{
    calls.append(QStringLiteral("post %1 %2").arg(notificationName, object.toString()));
    if (!available)
        return false;
    if (m_observed.contains(notificationName)) {
        QMetaObject::invokeMethod(
            this, [this, notificationName, object] { Q_EMIT notificationReceived(notificationName, object); },
            Qt::QueuedConnection);
    }
    return true;
}

void MemoryInstanceRegistry::remove(qint64 processIdentifier)
{
    applications.removeIf(
        [&](const RunningApplication& application) { return application.processIdentifier == processIdentifier; });
}

} // namespace Platform
