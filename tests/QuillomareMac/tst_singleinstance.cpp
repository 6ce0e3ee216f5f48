#include "Shell/SingleInstance.h"

#include <Platform/InstanceRegistry.h>

#include "TestSupport.h"

using namespace Qt::StringLiterals;
using namespace QuillomareMac;
using Platform::RunningApplication;

namespace {

constexpr qint64 kOwnPid = 4242;

RunningApplication app(qint64 pid, std::optional<QString> bundleIdentifier)
{
    RunningApplication application;
    application.processIdentifier = pid;
    application.bundleIdentifier = std::move(bundleIdentifier);
    return application;
}

} // namespace

Q_DECLARE_METATYPE(Platform::LaunchOrder)
Q_DECLARE_METATYPE(std::optional<Platform::LaunchOrder>)

class SingleInstanceTest : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<Platform::MemoryInstanceRegistry> m_registry;
    int m_quits = 0;

    std::unique_ptr<SingleInstance> makeInstance(SingleInstance::Timing timing = {})
    {
        auto instance = std::make_unique<SingleInstance>(*m_registry, kOwnPid, timing);
        instance->onQuit = [this] { ++m_quits; };
        return instance;
    }

    void removeLater(qint64 pid, int milliseconds)
    {
        QTimer::singleShot(milliseconds, this, [this, pid] {
            m_registry->applications.removeIf([&](const RunningApplication& a) { return a.processIdentifier == pid; });
        });
    }

private Q_SLOTS:
    void init()
    {
        m_registry = std::make_unique<Platform::MemoryInstanceRegistry>();
        m_quits = 0;
    }

    void testBroadcastQuitsOnlyForAnotherProcessIdentifier_data()
    {
        QTest::addColumn<QVariant>("object");
        QTest::addColumn<bool>("quits");
        QTest::newRow("other pid") << QVariant(u"77"_s) << true;
        QTest::newRow("plus sign") << QVariant(u"+77"_s) << true;
        QTest::newRow("leading zeros") << QVariant(u"000077"_s) << true;
        QTest::newRow("negative") << QVariant(u"-77"_s) << true;
        QTest::newRow("32-bit max") << QVariant(u"2147483647"_s) << true;
        QTest::newRow("32-bit min") << QVariant(u"-2147483648"_s) << true;
        QTest::newRow("own pid") << QVariant(u"4242"_s) << false;
        QTest::newRow("own pid, signed and padded") << QVariant(u"+0004242"_s) << false;
        QTest::newRow("overflow") << QVariant(u"2147483648"_s) << false;
        QTest::newRow("long overflow") << QVariant(u"99999999999999999999999"_s) << false;
        QTest::newRow("empty") << QVariant(QString()) << false;
        QTest::newRow("sign only") << QVariant(u"-"_s) << false;
        QTest::newRow("two signs") << QVariant(u"+-7"_s) << false;
        QTest::newRow("letter") << QVariant(u"7a"_s) << false;
        QTest::newRow("space") << QVariant(u" 7"_s) << false;
        QTest::newRow("full-width digits") << QVariant(u"７７"_s) << false;
        QTest::newRow("not a text") << QVariant(77) << false;
        QTest::newRow("no object") << QVariant() << false;
    }

    void testBroadcastQuitsOnlyForAnotherProcessIdentifier()
    {
        QFETCH(QVariant, object);
        QFETCH(bool, quits);
        const auto instance = makeInstance();
        instance->handleTakeoverBroadcast(object);
        QCOMPARE(m_quits, quits ? 1 : 0);
    }

    void testTakeoverEndsOurInstancesAndTheCompanionThenAnnouncesItself()
    {
        m_registry->applications = {app(kOwnPid, SingleInstance::bundleIdentifier),
                                    app(100, SingleInstance::bundleIdentifier),
                                    app(200, SingleInstance::companionBundleIdentifier),
                                    app(300, u"org.example.Other"_s),
                                    app(400, std::nullopt),
                                    app(500, SingleInstance::bundleIdentifier)};
        m_registry->refusingTermination = {500};
        const auto instance = makeInstance();

        int reports = 0;
        instance->terminateOtherQuillomareInstances([&](const SingleInstance::TakeoverResult& result) {
            ++reports;
            QCOMPARE(result.ended, (QList<qint64>{100, 200, 500}));
            QVERIFY(result.forcedAtDeadline.isEmpty());
            QVERIFY(!result.message());
        });
        QCOMPARE(reports, 1); // nothing left to wait for
        const QString notification = SingleInstance::takeoverNotification;
        QCOMPARE(m_registry->calls,
                 (QStringList{u"register "_s + SingleInstance::bundleIdentifier, u"terminate 100"_s, u"terminate 200"_s,
                              u"terminate 500"_s, u"forceTerminate 500"_s, u"observe "_s + notification,
                              u"post "_s + notification + u" 4242"_s}));
        QCOMPARE(m_registry->applications.size(), 3);

        // The own broadcast comes back and is ignored; another instance's makes this one quit.
        QCoreApplication::processEvents();
        QCOMPARE(m_quits, 0);
        m_registry->postNotification(notification, u"77"_s);
        QTRY_COMPARE(m_quits, 1);
    }

    void testLaunchWaitsUntilEndedInstancesHaveExited()
    {
        m_registry->applications = {app(100, SingleInstance::bundleIdentifier)};
        m_registry->lingering = {100};
        removeLater(100, 150);
        const auto instance = makeInstance({.gracePeriodMs = 5000, .afterForceMs = 1000, .pollIntervalMs = 10});

        QElapsedTimer elapsed;
        elapsed.start();
        const SingleInstance::TakeoverResult result = instance->terminateOtherQuillomareInstancesAndWait();
        QVERIFY(elapsed.elapsed() >= 140);
        QVERIFY(!m_registry->isRunning(100));
        QCOMPARE(result.ended, QList<qint64>{100});
        QVERIFY(result.forcedAtDeadline.isEmpty());
        QVERIFY(!m_registry->calls.contains(u"forceTerminate 100"_s));
    }

    void testInstancesStillRunningAtTheDeadlineAreForced()
    {
        m_registry->applications = {app(100, SingleInstance::bundleIdentifier),
                                    app(200, SingleInstance::bundleIdentifier)};
        m_registry->lingering = {100, 200};
        m_registry->unkillable = {200};
        const auto instance = makeInstance({.gracePeriodMs = 60, .afterForceMs = 60, .pollIntervalMs = 10});

        const SingleInstance::TakeoverResult result = instance->terminateOtherQuillomareInstancesAndWait();
        QCOMPARE(result.forcedAtDeadline, (QList<qint64>{100, 200}));
        QCOMPARE(result.stillRunning, QList<qint64>{200});
        QCOMPARE(result.message(), SingleInstance::survivorMessage());
    }

    void testTakeoverHeardWhileWaitingQuitsOnlyOnceTheWaitIsOver()
    {
        m_registry->applications = {app(100, SingleInstance::bundleIdentifier)};
        m_registry->lingering = {100};
        const auto instance = makeInstance({.gracePeriodMs = 5000, .afterForceMs = 1000, .pollIntervalMs = 10});
        bool othersGone = false;
        instance->terminateOtherQuillomareInstances([&](const SingleInstance::TakeoverResult&) { othersGone = true; });

        m_registry->postNotification(SingleInstance::takeoverNotification, u"77"_s);
        QTest::qWait(50);
        QVERIFY(!othersGone);
        QCOMPARE(m_quits, 0);

        removeLater(100, 0);
        QTRY_VERIFY(othersGone);
        QTRY_COMPARE(m_quits, 1);
    }

    // Two instances launched at once, each as seen from its own process: both must pick the same
    // winner, whichever of start time and bus order decides.
    void testTwoInstancesLaunchedTogetherAgreeOnTheLaterOne_data()
    {
        QTest::addColumn<Platform::LaunchOrder>("first");
        QTest::addColumn<Platform::LaunchOrder>("second"); // always the later one
        QTest::newRow("same clock tick, joined the bus later")
            << Platform::LaunchOrder{500, 1, 40} << Platform::LaunchOrder{500, 1, 41};
        QTest::newRow("started later, joined the bus first")
            << Platform::LaunchOrder{500, 1, 41} << Platform::LaunchOrder{501, 1, 40};
        QTest::newRow("serials compared as numbers")
            << Platform::LaunchOrder{500, 1, 9} << Platform::LaunchOrder{500, 1, 10};
    }

    void testTwoInstancesLaunchedTogetherAgreeOnTheLaterOne()
    {
        QFETCH(Platform::LaunchOrder, first);
        QFETCH(Platform::LaunchOrder, second);
        constexpr qint64 kFirstPid = 100, kSecondPid = 200;
        const SingleInstance::Timing timing{.gracePeriodMs = 40, .afterForceMs = 40, .pollIntervalMs = 5};
        struct Side
        {
            Platform::MemoryInstanceRegistry registry;
            std::unique_ptr<SingleInstance> instance;
            int quits = 0;
            SingleInstance::TakeoverResult result;
        };
        Side sides[2];
        for (Side& side : sides) {
            side.registry.applications = {app(kFirstPid, SingleInstance::bundleIdentifier),
                                          app(kSecondPid, SingleInstance::bundleIdentifier)};
            side.registry.lingering = {kFirstPid, kSecondPid};
            side.registry.launchOrders = {{kFirstPid, first}, {kSecondPid, second}};
        }
        sides[0].instance = std::make_unique<SingleInstance>(sides[0].registry, kFirstPid, timing);
        sides[1].instance = std::make_unique<SingleInstance>(sides[1].registry, kSecondPid, timing);
        for (Side& side : sides) {
            side.instance->onQuit = [&side] { ++side.quits; };
            side.result = side.instance->terminateOtherQuillomareInstancesAndWait();
        }
        QCoreApplication::processEvents();

        // The earlier one ends nobody, announces nothing, asks to be ended itself and quits.
        QCOMPARE(sides[0].result.supersededBy, std::optional<qint64>(kSecondPid));
        QVERIFY(sides[0].result.ended.isEmpty());
        QCOMPARE(sides[0].registry.calls.filter(u"terminate"_s), QStringList{u"terminate 100"_s});
        QVERIFY(sides[0].registry.calls.filter(u"post"_s).isEmpty());
        QTRY_COMPARE(sides[0].quits, 1);
        // The later one ends the earlier and stays.
        QCOMPARE(sides[1].result.supersededBy, std::nullopt);
        QCOMPARE(sides[1].result.ended, QList<qint64>{kFirstPid});
        QCOMPARE(sides[1].registry.calls.filter(u"post"_s).size(), 1);
        // The earlier one's broadcast, sent before it learnt it had lost, does not end the later.
        sides[1].instance->handleTakeoverBroadcast(QString::number(kFirstPid));
        QCoreApplication::processEvents();
        QCOMPARE(sides[1].quits, 0);
    }

    void testBroadcastFromAnInstanceLaunchedEarlierIsIgnored_data()
    {
        QTest::addColumn<std::optional<Platform::LaunchOrder>>("sender");
        QTest::addColumn<bool>("quits");
        QTest::newRow("launched later") << std::optional(Platform::LaunchOrder{500, 1, 43}) << true;
        QTest::newRow("launched earlier") << std::optional(Platform::LaunchOrder{500, 1, 41}) << false;
        QTest::newRow("started earlier") << std::optional(Platform::LaunchOrder{499, 1, 90}) << false;
        // Not an announced instance (a tool, or one already gone): as any other process.
        QTest::newRow("order unknown") << std::optional<Platform::LaunchOrder>() << true;
    }

    void testBroadcastFromAnInstanceLaunchedEarlierIsIgnored()
    {
        QFETCH(std::optional<Platform::LaunchOrder>, sender);
        QFETCH(bool, quits);
        m_registry->launchOrders.insert(kOwnPid, Platform::LaunchOrder{500, 1, 42});
        if (sender)
            m_registry->launchOrders.insert(77, *sender);
        const auto instance = makeInstance();
        instance->handleTakeoverBroadcast(u"77"_s);
        QCOMPARE(m_quits, quits ? 1 : 0);
    }

    void testWithoutABusTheLaunchGoesOnAndSaysSo()
    {
        m_registry->available = false;
        m_registry->applications = {app(100, SingleInstance::bundleIdentifier)};
        const auto instance = makeInstance();
        const SingleInstance::TakeoverResult result = instance->terminateOtherQuillomareInstancesAndWait();
        QVERIFY(!result.busReachable);
        QVERIFY(result.ended.isEmpty());
        QCOMPARE(result.message(), SingleInstance::busUnreachableMessage());
    }
};

QUILLOMARE_TEST_MAIN(SingleInstanceTest)
#include "tst_singleinstance.moc"
