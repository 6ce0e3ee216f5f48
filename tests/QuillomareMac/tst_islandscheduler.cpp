#include "TestSupport.h"

#include "Island/Kit/IslandScheduler.h"

#include <QApplication>

#include <memory>

using namespace QuillomareMac;

class TestIslandScheduler : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void manualRunsDueWorkInOrderOfDueTimeWithinOneAdvance();
    void cancelledWorkAndDestroyedContextNeverRun();
    void sharedSchedulerIsReplaceableAndRunsOnTimersByDefault();
};

void TestIslandScheduler::manualRunsDueWorkInOrderOfDueTimeWithinOneAdvance()
{
    ManualIslandScheduler scheduler;
    QStringList ran;
    const auto note = [&](const QString& name) { ran << QStringLiteral("%1@%2").arg(name).arg(scheduler.now()); };
    scheduler.schedule(300, nullptr, [&] { note(QStringLiteral("c")); });
    scheduler.schedule(100, nullptr, [&] {
        note(QStringLiteral("a"));
        // Work scheduled by work runs when due, within the same advance.
        scheduler.schedule(0, nullptr, [&] { note(QStringLiteral("a0")); });
        scheduler.schedule(250, nullptr, [&] { note(QStringLiteral("a250")); });
    });
    scheduler.schedule(100, nullptr, [&] { note(QStringLiteral("b")); }); // same time: order of scheduling
    scheduler.advance(99);
    QVERIFY(ran.isEmpty());
    QCOMPARE(scheduler.now(), 99);
    scheduler.advance(1);
    QCOMPARE(ran, (QStringList{QStringLiteral("a@100"), QStringLiteral("b@100"), QStringLiteral("a0@100")}));
    scheduler.advance(1000);
    QCOMPARE(ran.mid(3), (QStringList{QStringLiteral("c@300"), QStringLiteral("a250@350")}));
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

void TestIslandScheduler::sharedSchedulerIsReplaceableAndRunsOnTimersByDefault()
{
    auto manual = std::make_shared<ManualIslandScheduler>();
    IslandScheduler::setSharedForTesting(manual);
    QCOMPARE(&IslandScheduler::shared(), manual.get());
    IslandScheduler::setSharedForTesting(nullptr);
    IslandScheduler& scheduler = IslandScheduler::shared();
    QVERIFY(&scheduler != manual.get());

    const qint64 start = scheduler.now();
    qint64 ranAt = -1;
    scheduler.schedule(20, nullptr, [&] { ranAt = -2; })->cancel();
    scheduler.schedule(60, nullptr, [&] { ranAt = scheduler.now(); });
    QTRY_VERIFY_WITH_TIMEOUT(ranAt >= 0, 5000);
    QVERIFY2(ranAt - start >= 55, qPrintable(QString::number(ranAt - start)));
}

QUILLOMARE_GUI_TEST_MAIN(TestIslandScheduler)
#include "tst_islandscheduler.moc"
