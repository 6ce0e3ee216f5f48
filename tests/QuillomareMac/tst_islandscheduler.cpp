#include "TestSupport.h"

#include "Island/IslandScheduler.h"

#include <QApplication>
#include <QElapsedTimer>

#include <memory>

using namespace QuillomareMac;

class TestIslandScheduler : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void manualRunsDueWorkInOrderOfDueTime();
    void cancelledWorkAndDestroyedContextNeverRun();
    void workScheduledByWorkRunsWhenDueWithinTheSameAdvance();
    void sharedSchedulerCanBeReplacedAndRestored();
    void timerSchedulerRunsAfterTheDelay();
};

void TestIslandScheduler::manualRunsDueWorkInOrderOfDueTime()
{
    ManualIslandScheduler scheduler;
    QStringList ran;
    scheduler.schedule(300, nullptr, [&] { ran << QStringLiteral("c"); });
    scheduler.schedule(100, nullptr, [&] { ran << QStringLiteral("a"); });
    scheduler.schedule(100, nullptr, [&] { ran << QStringLiteral("b"); }); // same time: order of scheduling
    scheduler.advance(99);
    QVERIFY(ran.isEmpty());
    QCOMPARE(scheduler.now(), 99);
    scheduler.advance(1);
    QCOMPARE(ran, QStringList({QStringLiteral("a"), QStringLiteral("b")}));
    scheduler.advance(1000);
    QCOMPARE(ran.size(), 3);
    QCOMPARE(scheduler.now(), 1100);
    QCOMPARE(scheduler.pendingCount(), 0);
}

void TestIslandScheduler::cancelledWorkAndDestroyedContextNeverRun()
{
    ManualIslandScheduler scheduler;
    int runs = 0;
    auto cancelled = scheduler.schedule(10, nullptr, [&] { ++runs; });
    auto context = std::make_unique<QObject>();
    scheduler.schedule(10, context.get(), [&] { ++runs; });
    auto kept = scheduler.schedule(10, nullptr, [&] { runs += 100; });
    cancelled->cancel();
    context.reset();
    QCOMPARE(scheduler.pendingCount(), 1);
    scheduler.advance(10);
    QCOMPARE(runs, 100);
    // A work item runs once, however often it is asked to.
    kept->perform();
    QCOMPARE(runs, 100);
}

void TestIslandScheduler::workScheduledByWorkRunsWhenDueWithinTheSameAdvance()
{
    ManualIslandScheduler scheduler;
    QList<qint64> times;
    scheduler.schedule(50, nullptr, [&] {
        times << scheduler.now();
        scheduler.schedule(0, nullptr, [&] { times << scheduler.now(); });
        scheduler.schedule(100, nullptr, [&] { times << scheduler.now(); });
    });
    scheduler.advance(120);
    QCOMPARE(times, QList<qint64>({50, 50}));
    scheduler.advance(30);
    QCOMPARE(times, QList<qint64>({50, 50, 150}));
}

void TestIslandScheduler::sharedSchedulerCanBeReplacedAndRestored()
{
    auto manual = std::make_shared<ManualIslandScheduler>();
    IslandScheduler::setSharedForTesting(manual);
    QCOMPARE(&IslandScheduler::shared(), manual.get());
    bool ran = false;
    IslandScheduler::shared().schedule(7000, nullptr, [&] { ran = true; });
    manual->advance(7000);
    QVERIFY(ran);
    IslandScheduler::setSharedForTesting(nullptr);
    QVERIFY(&IslandScheduler::shared() != manual.get());
}

void TestIslandScheduler::timerSchedulerRunsAfterTheDelay()
{
    IslandScheduler::setSharedForTesting(nullptr);
    IslandScheduler& scheduler = IslandScheduler::shared();
    const qint64 start = scheduler.now();
    qint64 ranAt = -1;
    auto cancelled = scheduler.schedule(20, nullptr, [&] { ranAt = -2; });
    cancelled->cancel();
    scheduler.schedule(60, nullptr, [&] { ranAt = scheduler.now(); });
    QTRY_VERIFY_WITH_TIMEOUT(ranAt >= 0, 5000);
    QVERIFY2(ranAt - start >= 55, qPrintable(QString::number(ranAt - start)));
}

QUILLOMARE_GUI_TEST_MAIN(TestIslandScheduler)
#include "tst_islandscheduler.moc"
