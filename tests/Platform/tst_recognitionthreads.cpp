// How a recognition shares the processors: the threads it reads on and the width of the engine's
// teams stay within what other work leaves free, on any machine, and the load it goes by is the
// load of this moment.

#include <Platform/RecognitionThreads.h>

#include "TestSupport.h"

#include <QDeadlineTimer>

#include <atomic>
#include <thread>
#include <vector>

namespace RecognitionThreads = Platform::RecognitionThreads;

class TestRecognitionThreads : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void neverMoreThreadsThanTheFreeProcessors()
    {
        for (int processors = 1; processors <= 16; ++processors) {
            for (int busy = 0; busy <= 20; ++busy) {
                for (int readings = 1; readings <= 20; ++readings) {
                    const RecognitionThreads::Plan plan = RecognitionThreads::plan(processors, busy, readings);
                    const QByteArray where = QByteArray::number(processors) + " processors, " +
                                             QByteArray::number(busy) + " busy, " + QByteArray::number(readings) +
                                             " readings";
                    QVERIFY2(plan.readers >= 1 && plan.teamWidth >= 1, where);
                    QVERIFY2(plan.readers <= readings, where);
                    QVERIFY2(plan.readers * plan.teamWidth <= std::max(1, processors - busy), where);
                }
            }
        }
    }

    void anIdleMachineReadsLinesSideBySideAndABusyOneOneAtATime()
    {
        // Lines on threads of their own, each engine without a team beside them.
        const RecognitionThreads::Plan idle = RecognitionThreads::plan(8, 0, 15);
        QVERIFY(idle.readers > 1);
        QCOMPARE(idle.teamWidth, 1);
        // Every processor taken by other work (a busy loop each, as under scripts/stress-tests):
        // one thread alone, so that no thread of ours waits for another one's turn.
        for (const int busy : {8, 9, 16}) {
            const RecognitionThreads::Plan loaded = RecognitionThreads::plan(8, busy, 15);
            QCOMPARE(loaded.readers, 1);
            QCOMPARE(loaded.teamWidth, 1);
        }
        // The page alone on an idle machine: a small team; on a half-loaded one, none.
        QCOMPARE(RecognitionThreads::plan(8, 0, 1).teamWidth, 2);
        QCOMPARE(RecognitionThreads::plan(8, 6, 1).teamWidth, 1);
    }

    void theLoadCountsThreadsThatRunNow()
    {
        // Threads of this process that keep a processor busy count at once, not a minute later
        // as in the load averages.
        const int spinners = 3;
        std::atomic<bool> stop = false;
        std::vector<std::thread> threads;
        for (int i = 0; i < spinners; ++i)
            threads.emplace_back([&stop] {
                while (!stop.load(std::memory_order_relaxed)) {
                }
            });
        int seen = 0;
        const QDeadlineTimer deadline(10000);
        while (seen < spinners && !deadline.hasExpired())
            seen = std::max(seen, RecognitionThreads::busyThreads());
        stop = true;
        for (std::thread& thread : threads)
            thread.join();
        QVERIFY2(seen >= spinners, QByteArray::number(seen));
    }
};

QUILLOMARE_TEST_MAIN(TestRecognitionThreads)
#include "tst_recognitionthreads.moc"
