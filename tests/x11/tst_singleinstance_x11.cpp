// Instances taking over from each other on a real session bus. The instances are this test
// program started again in a helper mode, each its own process with its own bus connection.

#include "Shell/SingleInstance.h"

#include <Platform/InstanceRegistryDBus.h>

#include "TestSupport.h"

#include <QDeadlineTimer>
#include <QFile>
#include <QProcess>
#include <QSocketNotifier>
#include <QTemporaryDir>
#include <QTextStream>

#include <csignal>
#include <memory>
#include <sys/socket.h>
#include <unistd.h>

using namespace Qt::StringLiterals;
using namespace QuillomareMac;

namespace {

const char kHelperSwitch[] = "--instance-helper";
int g_termPipe[2] = {-1, -1};

// An instance as the program runs one: it takes over at launch, prints what it did and heard, and
// on SIGTERM or a take-over shuts down the way the program does, writing a file shortly before it
// exits. Modes "companion" (the phone app: only announced) and "stubborn" (ignores SIGTERM and
// take-overs) stand for instances that do less.
int runHelper(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    const QByteArray mode = argv[2];
    const QString marker = argc > 3 ? QString::fromLocal8Bit(argv[3]) : QString();
    QTextStream out(stdout);
    const auto say = [&out](const QString& line) { out << line << Qt::endl; };
    Platform::DBusInstanceRegistry registry;

    if (mode != "instance") {
        if (mode == "stubborn")
            std::signal(SIGTERM, SIG_IGN);
        registry.registerInstance(mode == "companion" ? SingleInstance::companionBundleIdentifier
                                                      : SingleInstance::bundleIdentifier);
        say(u"ready"_s);
        return app.exec();
    }

    bool shuttingDown = false;
    const auto shutDown = [&] {
        if (std::exchange(shuttingDown, true))
            return;
        QTimer::singleShot(300, &app, [&] {
            QFile file(marker);
            if (file.open(QIODevice::WriteOnly))
                file.write("last write");
            file.close();
            app.quit();
        });
    };
    if (::socketpair(AF_UNIX, SOCK_STREAM, 0, g_termPipe) == 0) {
        std::signal(SIGTERM, [](int) { [[maybe_unused]] auto n = ::write(g_termPipe[1], "t", 1); });
        auto* notifier = new QSocketNotifier(g_termPipe[0], QSocketNotifier::Read, &app);
        QObject::connect(notifier, &QSocketNotifier::activated, &app, [&] {
            char byte = 0;
            [[maybe_unused]] auto n = ::read(g_termPipe[0], &byte, 1);
            say(u"sigterm"_s);
            shutDown();
        });
    }
    QObject::connect(&registry, &Platform::InstanceRegistry::notificationReceived, &app,
                     [&](const QString&, const QVariant& object) {
                         say(u"heard %1 %2"_s.arg(QString::fromLatin1(object.typeName()), object.toString()));
                     });

    SingleInstance instance(registry);
    instance.onQuit = [&] {
        say(u"quit by takeover"_s);
        shutDown();
    };
    const SingleInstance::TakeoverResult result = instance.terminateOtherQuillomareInstancesAndWait();
    const auto pids = [](const QList<qint64>& list) {
        QStringList texts;
        for (qint64 pid : list)
            texts.append(QString::number(pid));
        texts.sort();
        return texts.join(QLatin1Char(','));
    };
    say(u"ready bus=%1 ended=%2 forced=%3 marker=%4 message=%5"_s.arg(
        result.busReachable ? u"reachable"_s : u"unreachable"_s, pids(result.ended), pids(result.forcedAtDeadline),
        QFile::exists(marker) ? u"yes"_s : u"no"_s, result.message().value_or(QString())));
    return app.exec();
}

class Helper
{
public:
    explicit Helper(const QStringList& arguments,
                    const QProcessEnvironment& environment = QProcessEnvironment::systemEnvironment())
    {
        m_process.setProcessEnvironment(environment);
        m_process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        m_process.start(QCoreApplication::applicationFilePath(),
                        QStringList{QString::fromLatin1(kHelperSwitch)} + arguments);
        m_process.waitForStarted(5000);
        m_pid = m_process.processId();
    }
    ~Helper()
    {
        if (m_process.state() != QProcess::NotRunning) {
            m_process.kill();
            m_process.waitForFinished(5000);
        }
    }

    qint64 pid() const { return m_pid; }
    QProcess& process() { return m_process; }

    // The `count`-th line printed (so far or within the time) that starts with the prefix; empty
    // when there were fewer.
    QString waitForLine(const QString& prefix, qsizetype count = 1, int milliseconds = 10000)
    {
        const QDeadlineTimer deadline(milliseconds);
        for (;;) {
            while (m_process.canReadLine())
                m_lines.append(QString::fromUtf8(m_process.readLine()).trimmed());
            QStringList matching;
            for (const QString& line : std::as_const(m_lines)) {
                if (line.startsWith(prefix))
                    matching.append(line);
            }
            if (matching.size() >= count)
                return matching.at(count - 1);
            if (deadline.hasExpired() || m_process.state() == QProcess::NotRunning)
                return {};
            m_process.waitForReadyRead(20);
        }
    }
    bool waitForExit() { return m_process.state() == QProcess::NotRunning || m_process.waitForFinished(10000); }

private:
    QProcess m_process;
    QStringList m_lines;
    qint64 m_pid = 0;
};

} // namespace

class SingleInstanceX11Test : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_folder;

    QString marker() const { return m_folder.filePath(u"last-write"_s); }

private Q_SLOTS:
    void initTestCase() { QVERIFY(Platform::DBusInstanceRegistry().isAvailable()); }
    void init() { QFile::remove(marker()); }

    void testNewInstanceEndsTheRunningOnesAfterTheirLastWriteAndStays()
    {
        Helper first({u"instance"_s, marker()});
        QVERIFY(!first.waitForLine(u"ready bus=reachable ended= "_s).isEmpty());
        Helper companion({u"companion"_s});
        QVERIFY(!companion.waitForLine(u"ready"_s).isEmpty());

        Helper second({u"instance"_s, marker()});
        const QString ready = second.waitForLine(u"ready"_s);
        QStringList ended{QString::number(first.pid()), QString::number(companion.pid())};
        ended.sort();
        // The old instance had finished its shut-down, file write included, before this returned.
        QCOMPARE(ready,
                 u"ready bus=reachable ended=%1 forced= marker=yes message="_s.arg(ended.join(QLatin1Char(','))));
        QVERIFY(first.waitForExit());
        QCOMPARE(first.process().exitCode(), 0);
        QVERIFY(companion.waitForExit());

        // Its own broadcast came back to it and changed nothing.
        QVERIFY(!second.waitForLine(u"heard QString %1"_s.arg(second.pid())).isEmpty());
        QVERIFY(second.waitForLine(u"quit"_s, 1, 300).isEmpty());
        QCOMPARE(second.process().state(), QProcess::Running);
    }

    void testInstanceThatIgnoresTheRequestIsForcedAfterTheGracePeriod()
    {
        Helper stubborn({u"stubborn"_s});
        QVERIFY(!stubborn.waitForLine(u"ready"_s).isEmpty());
        Helper next({u"instance"_s, marker()});
        const QString pid = QString::number(stubborn.pid());
        QCOMPARE(next.waitForLine(u"ready"_s), u"ready bus=reachable ended=%1 forced=%1 marker=no message="_s.arg(pid));
        QVERIFY(stubborn.waitForExit());
        QCOMPARE(stubborn.process().exitStatus(), QProcess::CrashExit);
    }

    void testOnlyAWellFormedBroadcastFromAnotherProcessEndsAnInstance()
    {
        Helper instance({u"instance"_s, marker()});
        QVERIFY(!instance.waitForLine(u"ready"_s).isEmpty());
        QVERIFY(!instance.waitForLine(u"heard QString %1"_s.arg(instance.pid())).isEmpty());

        Platform::DBusInstanceRegistry poster;
        const QString name = SingleInstance::takeoverNotification;
        const QList<QVariant> malformed{QString(),   u"12x"_s,   u"99999999999"_s,
                                        QVariant(7), QVariant(), QString::number(instance.pid())};
        for (const QVariant& object : malformed)
            QVERIFY(poster.postNotification(name, object));
        // All heard, its own first; none of them ends it.
        QVERIFY(!instance.waitForLine(u"heard"_s, 1 + malformed.size()).isEmpty());
        QVERIFY(instance.waitForLine(u"quit"_s, 1, 300).isEmpty());
        QCOMPARE(instance.process().state(), QProcess::Running);

        QVERIFY(poster.postNotification(name, u"+%1"_s.arg(QCoreApplication::applicationPid())));
        QVERIFY(!instance.waitForLine(u"quit by takeover"_s).isEmpty());
        QVERIFY(instance.waitForExit());
        QCOMPARE(instance.process().exitStatus(), QProcess::NormalExit);
        QCOMPARE(instance.process().exitCode(), 0);
    }

    // The order every process must agree on: read from the process table and the bus, for
    // announced instances only.
    void testLaunchOrderFollowsTheLaunches()
    {
        Helper earlier({u"companion"_s});
        QVERIFY(!earlier.waitForLine(u"ready"_s).isEmpty());
        Helper later({u"companion"_s});
        QVERIFY(!later.waitForLine(u"ready"_s).isEmpty());
        QProcess unannounced;
        unannounced.start(u"sleep"_s, {u"10"_s});
        QVERIFY(unannounced.waitForStarted());

        Platform::DBusInstanceRegistry registry;
        const auto own = registry.launchOrder(QCoreApplication::applicationPid());
        const auto first = registry.launchOrder(earlier.pid());
        const auto second = registry.launchOrder(later.pid());
        QVERIFY(own && first && second);
        QVERIFY(*own < *first);
        QVERIFY(*first < *second);
        QCOMPARE(registry.launchOrder(unannounced.processId()), std::nullopt);
        unannounced.kill();
        unannounced.waitForFinished();

        QCOMPARE(Platform::DBusInstanceRegistry::connectionSerial(u":1.42"_s), (std::pair<quint64, quint64>{1, 42}));
        QCOMPARE(Platform::DBusInstanceRegistry::connectionSerial(u"org.example.Name"_s), std::nullopt);
        QCOMPARE(Platform::DBusInstanceRegistry::connectionSerial(u":1.99999999999999999999"_s), std::nullopt);
    }

    void testWithoutABusAnInstanceStillStartsAndSaysSo()
    {
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(u"DBUS_SESSION_BUS_ADDRESS"_s, u"unix:path="_s + m_folder.filePath(u"no-bus"_s));
        Helper alone({u"instance"_s, marker()}, environment);
        const QString ready = alone.waitForLine(u"ready"_s, 1, 5000);
        const QString start = u"ready bus=unreachable ended= forced= marker=no message="_s;
        QVERIFY2(ready.startsWith(start) && ready.size() > start.size(), qPrintable(ready));
        QVERIFY(!alone.process().waitForFinished(300));
    }
};

int main(int argc, char* argv[])
{
    if (argc >= 3 && qstrcmp(argv[1], kHelperSwitch) == 0)
        return runHelper(argc, argv);
    QuillomareTest::isolateUserFolders();
    QCoreApplication app(argc, argv);
    SingleInstanceX11Test test;
    QTEST_SET_MAIN_SOURCE_PATH
    return QTest::qExec(&test, argc, argv);
}

#include "tst_singleinstance_x11.moc"
