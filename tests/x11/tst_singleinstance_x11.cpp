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
        say(QStringLiteral("ready"));
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
            say(QStringLiteral("sigterm"));
            shutDown();
        });
    }
    QObject::connect(
        &registry, &Platform::InstanceRegistry::notificationReceived, &app,
        [&](const QString&, const QVariant& object) {
            say(QStringLiteral("heard %1 %2").arg(QString::fromLatin1(object.typeName()), object.toString()));
        });

    SingleInstance instance(registry);
    instance.onQuit = [&] {
        say(QStringLiteral("quit by takeover"));
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
    say(QStringLiteral("ready bus=%1 ended=%2 forced=%3 marker=%4 message=%5")
            .arg(result.busReachable ? QStringLiteral("reachable") : QStringLiteral("unreachable"), pids(result.ended),
                 pids(result.forcedAtDeadline), QFile::exists(marker) ? QStringLiteral("yes") : QStringLiteral("no"),
                 result.message().value_or(QString())));
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

    QString marker() const { return m_folder.filePath(QStringLiteral("last-write")); }

private Q_SLOTS:
    void initTestCase() { QVERIFY(Platform::DBusInstanceRegistry().isAvailable()); }
    void init() { QFile::remove(marker()); }

    void testNewInstanceEndsTheRunningOnesAfterTheirLastWriteAndStays()
    {
        Helper first({QStringLiteral("instance"), marker()});
        QVERIFY(!first.waitForLine(QStringLiteral("ready bus=reachable ended= ")).isEmpty());
        Helper companion({QStringLiteral("companion")});
        QVERIFY(!companion.waitForLine(QStringLiteral("ready")).isEmpty());

        Helper second({QStringLiteral("instance"), marker()});
        const QString ready = second.waitForLine(QStringLiteral("ready"));
        QStringList ended{QString::number(first.pid()), QString::number(companion.pid())};
        ended.sort();
        // The old instance had finished its shut-down, file write included, before this returned.
        QCOMPARE(ready, QStringLiteral("ready bus=reachable ended=%1 forced= marker=yes message=")
                            .arg(ended.join(QLatin1Char(','))));
        QVERIFY(first.waitForExit());
        QCOMPARE(first.process().exitCode(), 0);
        QVERIFY(companion.waitForExit());

        // Its own broadcast came back to it and changed nothing.
        QVERIFY(!second.waitForLine(QStringLiteral("heard QString %1").arg(second.pid())).isEmpty());
        QVERIFY(second.waitForLine(QStringLiteral("quit"), 1, 300).isEmpty());
        QCOMPARE(second.process().state(), QProcess::Running);
    }

    void testInstanceThatIgnoresTheRequestIsForcedAfterTheGracePeriod()
    {
        Helper stubborn({QStringLiteral("stubborn")});
        QVERIFY(!stubborn.waitForLine(QStringLiteral("ready")).isEmpty());
        Helper next({QStringLiteral("instance"), marker()});
        const QString pid = QString::number(stubborn.pid());
        QCOMPARE(next.waitForLine(QStringLiteral("ready")),
                 QStringLiteral("ready bus=reachable ended=%1 forced=%1 marker=no message=").arg(pid));
        QVERIFY(stubborn.waitForExit());
        QCOMPARE(stubborn.process().exitStatus(), QProcess::CrashExit);
    }

    void testOnlyAWellFormedBroadcastFromAnotherProcessEndsAnInstance()
    {
        Helper instance({QStringLiteral("instance"), marker()});
        QVERIFY(!instance.waitForLine(QStringLiteral("ready")).isEmpty());
        QVERIFY(!instance.waitForLine(QStringLiteral("heard QString %1").arg(instance.pid())).isEmpty());

        Platform::DBusInstanceRegistry poster;
        const QString name = SingleInstance::takeoverNotification;
        const QList<QVariant> malformed{
            QString(),  QStringLiteral("12x"),          QStringLiteral("99999999999"), QVariant(7),
            QVariant(), QString::number(instance.pid())};
        for (const QVariant& object : malformed)
            QVERIFY(poster.postNotification(name, object));
        // All heard, its own first; none of them ends it.
        QVERIFY(!instance.waitForLine(QStringLiteral("heard"), 1 + malformed.size()).isEmpty());
        QVERIFY(instance.waitForLine(QStringLiteral("quit"), 1, 300).isEmpty());
        QCOMPARE(instance.process().state(), QProcess::Running);

        QVERIFY(poster.postNotification(name, QStringLiteral("+%1").arg(QCoreApplication::applicationPid())));
        QVERIFY(!instance.waitForLine(QStringLiteral("quit by takeover")).isEmpty());
        QVERIFY(instance.waitForExit());
        QCOMPARE(instance.process().exitStatus(), QProcess::NormalExit);
        QCOMPARE(instance.process().exitCode(), 0);
    }

    void testWithoutABusAnInstanceStillStartsAndSaysSo()
    {
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"),
                           QStringLiteral("unix:path=") + m_folder.filePath(QStringLiteral("no-bus")));
        Helper alone({QStringLiteral("instance"), marker()}, environment);
        const QString ready = alone.waitForLine(QStringLiteral("ready"), 1, 5000);
        QVERIFY2(ready.startsWith(QStringLiteral("ready bus=unreachable ended= forced= marker=no message=")),
                 qPrintable(ready));
        QVERIFY(ready.size() > QStringLiteral("ready bus=unreachable ended= forced= marker=no message=").size());
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
