#include "InstanceRegistryDBus.h"

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QFile>
#include <QHash>
#include <QLoggingCategory>
#include <QRegularExpression>

#include <cerrno>
#include <csignal>
#include <limits>
#include <sys/types.h>

Q_LOGGING_CATEGORY(lcInstances, "quillomare.platform.instances", QtWarningMsg)

namespace Platform {

namespace {

const QString kBusService = QStringLiteral("org.freedesktop.DBus");
const QString kBusPath = QStringLiteral("/org/freedesktop/DBus");
const QString kBusInterface = QStringLiteral("org.freedesktop.DBus");
const QString kInstanceMarker = QStringLiteral(".Instance-");
// The bus daemon answers in microseconds; this only bounds a daemon that has stopped answering.
constexpr int kBusCallTimeoutMs = 2000;
// RequestName: fail rather than wait in a queue for a name someone else holds.
constexpr uint kDoNotQueue = 4;
constexpr uint kPrimaryOwner = 1;
constexpr uint kAlreadyOwner = 4;

struct SignalAddress
{
    QString path;
    QString interface;
    QString member;
};

// "a.b.c.member" is the signal `member` of interface "a.b.c", sent from the path "/a/b/c".
std::optional<SignalAddress> signalAddress(const QString& notificationName)
{
    const qsizetype dot = notificationName.lastIndexOf(QLatin1Char('.'));
    if (dot <= 0 || dot == notificationName.size() - 1)
        return std::nullopt;
    SignalAddress address;
    address.interface = notificationName.left(dot);
    address.member = notificationName.mid(dot + 1);
    address.path = QLatin1Char('/') + QString(address.interface).replace(QLatin1Char('.'), QLatin1Char('/'));
    return address;
}

bool sendSignal(pid_t processIdentifier, int signal)
{
    // 0 and negative numbers would signal whole process groups.
    if (processIdentifier <= 0)
        return false;
    return ::kill(processIdentifier, signal) == 0;
}

std::optional<pid_t> toPid(qint64 processIdentifier)
{
    if (processIdentifier <= 0 || processIdentifier > std::numeric_limits<pid_t>::max())
        return std::nullopt;
    return static_cast<pid_t>(processIdentifier);
}

// Hands the bus's signals to the registry on the thread the registry lives on.
class SignalReceiver final : public QObject
{
    Q_OBJECT

public:
    explicit SignalReceiver(InstanceRegistry* registry) : QObject(registry), m_registry(registry) {}

public Q_SLOTS:
    // Takes any arguments, so that a malformed broadcast still arrives and is judged by its hearer.
    void deliver(const QDBusMessage& message)
    {
        const QList<QVariant> arguments = message.arguments();
        const QString name = message.interface() + QLatin1Char('.') + message.member();
        Q_EMIT m_registry->notificationReceived(name, arguments.size() >= 2 ? arguments.at(1) : QVariant());
    }

private:
    InstanceRegistry* m_registry;
};

} // namespace

struct DBusInstanceRegistry::Private
{
    QDBusConnection bus = QDBusConnection::sessionBus();
    SignalReceiver* receiver = nullptr;
    QStringList observed;
    // The unique connection behind each instance found by the last listing.
    mutable QHash<qint64, QString> connections;

    QDBusMessage callBus(const QString& method, const QList<QVariant>& arguments) const
    {
        QDBusMessage message = QDBusMessage::createMethodCall(kBusService, kBusPath, kBusInterface, method);
        message.setArguments(arguments);
        return bus.call(message, QDBus::Block, kBusCallTimeoutMs);
    }
};

DBusInstanceRegistry::DBusInstanceRegistry(QObject* parent) : InstanceRegistry(parent), d(std::make_unique<Private>())
{
    d->receiver = new SignalReceiver(this);
    if (!d->bus.isConnected())
        qCInfo(lcInstances) << "no session bus:" << d->bus.lastError().message();
}

DBusInstanceRegistry::~DBusInstanceRegistry() = default;

QString DBusInstanceRegistry::instanceBusName(const QString& bundleIdentifier, qint64 processIdentifier)
{
    return bundleIdentifier + kInstanceMarker + QString::number(processIdentifier);
}

QString DBusInstanceRegistry::bundleIdentifierOfBusName(const QString& busName)
{
    static const QRegularExpression pattern(QStringLiteral("^([A-Za-z_][A-Za-z0-9_.-]*)\\.Instance-[0-9]+$"));
    const QRegularExpressionMatch match = pattern.match(busName);
    return match.hasMatch() ? match.captured(1) : QString();
}

bool DBusInstanceRegistry::isAvailable() const
{
    return d->bus.isConnected();
}

bool DBusInstanceRegistry::registerInstance(const QString& bundleIdentifier)
{
    if (!isAvailable())
        return false;
    const QString name = instanceBusName(bundleIdentifier, QCoreApplication::applicationPid());
    const QDBusMessage reply = d->callBus(QStringLiteral("RequestName"), {name, kDoNotQueue});
    if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty()) {
        qCWarning(lcInstances) << "cannot own" << name << reply.errorMessage();
        return false;
    }
    const uint answer = reply.arguments().constFirst().toUInt();
    return answer == kPrimaryOwner || answer == kAlreadyOwner;
}

QList<RunningApplication> DBusInstanceRegistry::runningApplications() const
{
    QList<RunningApplication> applications;
    if (!isAvailable())
        return applications;
    QHash<qint64, QString> connections;
    const QDBusMessage names = d->callBus(QStringLiteral("ListNames"), {});
    if (names.type() != QDBusMessage::ReplyMessage || names.arguments().isEmpty())
        return applications;
    for (const QString& name : names.arguments().constFirst().toStringList()) {
        const QString bundleIdentifier = bundleIdentifierOfBusName(name);
        if (bundleIdentifier.isEmpty())
            continue;
        // The number in the name is only there to make it unique; the daemon knows the real owner.
        const QDBusMessage pid = d->callBus(QStringLiteral("GetConnectionUnixProcessID"), {name});
        if (pid.type() != QDBusMessage::ReplyMessage || pid.arguments().isEmpty())
            continue; // gone in the meantime
        RunningApplication application;
        application.processIdentifier = pid.arguments().constFirst().toUInt();
        application.bundleIdentifier = bundleIdentifier;
        applications.append(application);
        const QDBusMessage owner = d->callBus(QStringLiteral("GetNameOwner"), {name});
        if (owner.type() == QDBusMessage::ReplyMessage && !owner.arguments().isEmpty())
            connections.insert(application.processIdentifier, owner.arguments().constFirst().toString());
    }
    d->connections = connections;
    return applications;
}

std::optional<LaunchOrder> DBusInstanceRegistry::launchOrder(qint64 processIdentifier) const
{
    if (!isAvailable())
        return std::nullopt;
    QString connection;
    if (processIdentifier == QCoreApplication::applicationPid()) {
        connection = d->bus.baseService();
    } else {
        if (!d->connections.contains(processIdentifier))
            runningApplications();
        connection = d->connections.value(processIdentifier);
    }
    const auto serial = connectionSerial(connection);
    const auto started = processStartTime(processIdentifier);
    if (!serial || !started)
        return std::nullopt;
    return LaunchOrder{*started, serial->first, serial->second};
}

std::optional<quint64> DBusInstanceRegistry::processStartTime(qint64 processIdentifier)
{
    const auto pid = toPid(processIdentifier);
    if (!pid)
        return std::nullopt;
    QFile stat(QStringLiteral("/proc/%1/stat").arg(*pid));
    if (!stat.open(QIODevice::ReadOnly))
        return std::nullopt;
    const QByteArray line = stat.readAll();
    // The command may hold spaces and brackets; the fields after it start with the state (the
    // third field), and the start time is the 22nd.
    const qsizetype commandEnd = line.lastIndexOf(')');
    if (commandEnd < 0)
        return std::nullopt;
    const QList<QByteArray> fields = line.mid(commandEnd + 2).split(' ');
    constexpr qsizetype startTimeField = 22 - 3;
    if (fields.size() <= startTimeField)
        return std::nullopt;
    bool ok = false;
    const quint64 startTime = fields.at(startTimeField).toULongLong(&ok);
    return ok ? std::optional<quint64>(startTime) : std::nullopt;
}

std::optional<std::pair<quint64, quint64>> DBusInstanceRegistry::connectionSerial(const QString& uniqueName)
{
    // The daemon hands out ":<generation>.<serial>" in increasing order as connections arrive.
    static const QRegularExpression pattern(QStringLiteral("^:([0-9]{1,19})\\.([0-9]{1,19})$"));
    const QRegularExpressionMatch match = pattern.match(uniqueName);
    if (!match.hasMatch())
        return std::nullopt;
    bool generationOk = false, serialOk = false;
    const quint64 generation = match.captured(1).toULongLong(&generationOk);
    const quint64 serial = match.captured(2).toULongLong(&serialOk);
    if (!generationOk || !serialOk)
        return std::nullopt;
    return std::pair{generation, serial};
}

bool DBusInstanceRegistry::isRunning(qint64 processIdentifier) const
{
    const auto pid = toPid(processIdentifier);
    if (!pid)
        return false;
    if (::kill(*pid, 0) != 0 && errno == ESRCH)
        return false;
    // An exited process whose parent has not collected it yet lingers as a zombie.
    QFile stat(QStringLiteral("/proc/%1/stat").arg(*pid));
    if (!stat.open(QIODevice::ReadOnly))
        return true;
    const QByteArray line = stat.readAll();
    const qsizetype commandEnd = line.lastIndexOf(')'); // the command may hold spaces and brackets
    const char state = commandEnd >= 0 && commandEnd + 2 < line.size() ? line.at(commandEnd + 2) : 'R';
    return state != 'Z' && state != 'X';
}

bool DBusInstanceRegistry::terminate(const RunningApplication& application)
{
    const auto pid = toPid(application.processIdentifier);
    return pid && sendSignal(*pid, SIGTERM);
}

bool DBusInstanceRegistry::forceTerminate(const RunningApplication& application)
{
    const auto pid = toPid(application.processIdentifier);
    return pid && sendSignal(*pid, SIGKILL);
}

bool DBusInstanceRegistry::addObserver(const QString& notificationName)
{
    if (d->observed.contains(notificationName))
        return true;
    const auto address = signalAddress(notificationName);
    if (!isAvailable() || !address)
        return false;
    // Any sender and any path: the interface and member are the notification.
    if (!d->bus.connect(QString(), QString(), address->interface, address->member, d->receiver,
                        SLOT(deliver(QDBusMessage)))) {
        qCWarning(lcInstances) << "cannot observe" << notificationName << d->bus.lastError().message();
        return false;
    }
    d->observed.append(notificationName);
    return true;
}

bool DBusInstanceRegistry::postNotification(const QString& notificationName, const QVariant& object)
{
    const auto address = signalAddress(notificationName);
    if (!isAvailable() || !address)
        return false;
    QDBusMessage message = QDBusMessage::createSignal(address->path, address->interface, address->member);
    message << notificationName;
    if (object.isValid())
        message << object;
    return d->bus.send(message);
}

} // namespace Platform

#include "InstanceRegistryDBus.moc"
