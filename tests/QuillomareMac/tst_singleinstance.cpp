#include "Shell/SingleInstance.h"

#include <Platform/InstanceRegistry.h>

#include "TestSupport.h"

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

class SingleInstanceTest : public QObject
{
    Q_OBJECT

private:
    Platform::MemoryInstanceRegistry m_registry;
    int m_quits = 0;

    std::unique_ptr<SingleInstance> makeInstance(SingleInstance::Timing timing = {})
    {
        auto instance = std::make_unique<SingleInstance>(m_registry, kOwnPid, timing);
        instance->onQuit = [this] { ++m_quits; };
        return instance;
    }

    void removeLater(qint64 pid, int milliseconds)
    {
        QTimer::singleShot(milliseconds, this, [this, pid] {
            m_registry.applications.removeIf([&](const RunningApplication& a) { return a.processIdentifier == pid; });
        });
    }

private Q_SLOTS:
    void init()
    {
        m_registry.available = true;
        m_registry.applications.clear();
        m_registry.refusingTermination.clear();
        m_registry.lingering.clear();
        m_registry.unkillable.clear();
        m_registry.calls.clear();
        m_quits = 0;
    }

    void testBroadcastQuitsOnlyForAnotherProcessIdentifier_data()
    {
        QTest::addColumn<QVariant>("object");
        QTest::addColumn<bool>("quits");
        QTest::newRow("other pid") << QVariant(QStringLiteral("77")) << true;
        QTest::newRow("plus sign") << QVariant(QStringLiteral("+77")) << true;
        QTest::newRow("leading zeros") << QVariant(QStringLiteral("000077")) << true;
        QTest::newRow("negative") << QVariant(QStringLiteral("-77")) << true;
        QTest::newRow("32-bit max") << QVariant(QStringLiteral("2147483647")) << true;
        QTest::newRow("32-bit min") << QVariant(QStringLiteral("-2147483648")) << true;
        QTest::newRow("own pid") << QVariant(QStringLiteral("4242")) << false;
        QTest::newRow("own pid, signed and padded") << QVariant(QStringLiteral("+0004242")) << false;
        QTest::newRow("overflow") << QVariant(QStringLiteral("2147483648")) << false;
        QTest::newRow("long overflow") << QVariant(QStringLiteral("99999999999999999999999")) << false;
        QTest::newRow("empty") << QVariant(QString()) << false;
        QTest::newRow("sign only") << QVariant(QStringLiteral("-")) << false;
        QTest::newRow("two signs") << QVariant(QStringLiteral("+-7")) << false;
        QTest::newRow("letter") << QVariant(QStringLiteral("7a")) << false;
        QTest::newRow("space") << QVariant(QStringLiteral(" 7")) << false;
        QTest::newRow("full-width digits") << QVariant(QStringLiteral("７７")) << false;
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
        m_registry.applications = {app(kOwnPid, SingleInstance::bundleIdentifier),
                                   app(100, SingleInstance::bundleIdentifier),
                                   app(200, SingleInstance::companionBundleIdentifier),
                                   app(300, QStringLiteral("org.example.Other")),
                                   app(400, std::nullopt),
                                   app(500, SingleInstance::bundleIdentifier)};
        m_registry.refusingTermination = {500};
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
        QCOMPARE(m_registry.calls, (QStringList{QStringLiteral("register ") + SingleInstance::bundleIdentifier,
                                                QStringLiteral("terminate 100"), QStringLiteral("terminate 200"),
                                                QStringLiteral("terminate 500"), QStringLiteral("forceTerminate 500"),
                                                QStringLiteral("observe ") + notification,
                                                QStringLiteral("post ") + notification + QStringLiteral(" 4242")}));
        QCOMPARE(m_registry.applications.size(), 3);

        // The own broadcast comes back and is ignored; another instance's makes this one quit.
        QCoreApplication::processEvents();
        QCOMPARE(m_quits, 0);
        m_registry.postNotification(notification, QStringLiteral("77"));
        QTRY_COMPARE(m_quits, 1);
    }

    void testLaunchWaitsUntilEndedInstancesHaveExited()
    {
        m_registry.applications = {app(100, SingleInstance::bundleIdentifier)};
        m_registry.lingering = {100};
        removeLater(100, 150);
        const auto instance = makeInstance({.gracePeriodMs = 5000, .afterForceMs = 1000, .pollIntervalMs = 10});

        QElapsedTimer elapsed;
        elapsed.start();
        const SingleInstance::TakeoverResult result = instance->terminateOtherQuillomareInstancesAndWait();
        QVERIFY(elapsed.elapsed() >= 140);
        QVERIFY(!m_registry.isRunning(100));
        QCOMPARE(result.ended, QList<qint64>{100});
        QVERIFY(result.forcedAtDeadline.isEmpty());
        QVERIFY(!m_registry.calls.contains(QStringLiteral("forceTerminate 100")));
    }

    void testInstancesStillRunningAtTheDeadlineAreForced()
    {
        m_registry.applications = {app(100, SingleInstance::bundleIdentifier),
                                   app(200, SingleInstance::bundleIdentifier)};
        m_registry.lingering = {100, 200};
        m_registry.unkillable = {200};
        const auto instance = makeInstance({.gracePeriodMs = 60, .afterForceMs = 60, .pollIntervalMs = 10});

        const SingleInstance::TakeoverResult result = instance->terminateOtherQuillomareInstancesAndWait();
        QCOMPARE(result.forcedAtDeadline, (QList<qint64>{100, 200}));
        QCOMPARE(result.stillRunning, QList<qint64>{200});
        QCOMPARE(result.message(), SingleInstance::survivorMessage());
    }

    void testTakeoverHeardWhileWaitingQuitsOnlyOnceTheWaitIsOver()
    {
        m_registry.applications = {app(100, SingleInstance::bundleIdentifier)};
        m_registry.lingering = {100};
        const auto instance = makeInstance({.gracePeriodMs = 5000, .afterForceMs = 1000, .pollIntervalMs = 10});
        bool othersGone = false;
        instance->terminateOtherQuillomareInstances([&](const SingleInstance::TakeoverResult&) { othersGone = true; });

        m_registry.postNotification(SingleInstance::takeoverNotification, QStringLiteral("77"));
        QTest::qWait(50);
        QVERIFY(!othersGone);
        QCOMPARE(m_quits, 0);

        removeLater(100, 0);
        QTRY_VERIFY(othersGone);
        QTRY_COMPARE(m_quits, 1);
    }

    void testWithoutABusTheLaunchGoesOnAndSaysSo()
    {
        m_registry.available = false;
        m_registry.applications = {app(100, SingleInstance::bundleIdentifier)};
        const auto instance = makeInstance();
        const SingleInstance::TakeoverResult result = instance->terminateOtherQuillomareInstancesAndWait();
        QVERIFY(!result.busReachable);
        QVERIFY(result.ended.isEmpty());
        QCOMPARE(result.message(), SingleInstance::busUnreachableMessage());
    }
};

QUILLOMARE_TEST_MAIN(SingleInstanceTest)
#include "tst_singleinstance.moc"
