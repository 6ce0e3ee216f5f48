#include <QuillomareCore/BackgroundFileWriter.h>
#include <QuillomareCore/Files.h>
#include <QuillomareCore/MonotonicClock.h>

#include "TestSupport.h"

#include <QIODevice>
#include <QSemaphore>
#include <QTemporaryDir>

#include <atomic>
#include <cerrno>

using namespace QuillomareCore;
using namespace QuillomareTest;

namespace {

BackgroundFileWriter::Content text(const QByteArray& bytes, std::atomic<int>* runs = nullptr)
{
    return [bytes, runs](QIODevice& device) {
        if (runs)
            ++*runs;
        return device.write(bytes) == bytes.size();
    };
}

} // namespace

class BackgroundFileWriterTest : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<QTemporaryDir> m_dir;
    QString path() const { return m_dir->filePath(QStringLiteral("data/file.json")); }

private Q_SLOTS:
    void init()
    {
        m_dir = std::make_unique<QTemporaryDir>();
        QVERIFY(m_dir->isValid());
    }
    void cleanup() { Files::failWritesForTesting(0); }

    void testOnlyTheNewestWaitingContentIsWritten()
    {
        BackgroundFileWriter writer(path());
        QSemaphore entered, release;
        writer.write([&](QIODevice& device) {
            entered.release();
            release.acquire();
            return device.write("first") == 5;
        });
        entered.acquire(); // the first write is under way
        std::atomic<int> secondRuns = 0;
        writer.write(text("second", &secondRuns));
        QList<std::optional<QString>> outcomes;
        writer.whenWritten([&](const std::optional<QString>& error) { outcomes.append(error); });
        writer.write(text("third"));
        writer.whenWritten([&](const std::optional<QString>& error) { outcomes.append(error); });
        release.release();
        writer.waitUntilIdle();

        QCOMPARE(readFile(path()), QByteArray("third"));
        QCOMPARE(secondRuns.load(), 0);
        QCOMPARE(outcomes, (QList<std::optional<QString>>{std::nullopt, std::nullopt}));
        // Nothing pending: a waiter is answered at once.
        bool answered = false;
        writer.whenWritten([&](const std::optional<QString>&) { answered = true; });
        QVERIFY(answered);
    }

    // The committed step runs once the content is in place, and only then: not for a content a
    // newer one replaced, not for a failed write, and with the retry that works.
    void testCommittedRunsOnlyForAContentThatIsInPlace()
    {
        BackgroundFileWriter writer(path());
        writer.setFirstRetryDelay(20);
        QSemaphore entered, release;
        QStringList committed; // what the file held at each committed step (writer thread)
        std::atomic<int> committedCount = 0;
        auto note = [&] {
            committed.append(QString::fromLatin1(readFile(path())));
            ++committedCount;
        };
        writer.write(
            [&](QIODevice& device) {
                entered.release();
                release.acquire();
                return device.write("first") == 5;
            },
            note);
        entered.acquire();
        writer.write(text("replaced"), note);
        writer.write(text("newest"), note);
        release.release();
        writer.waitUntilIdle();
        QCOMPARE(committed, (QStringList{QStringLiteral("first"), QStringLiteral("newest")}));

        Files::failWritesForTesting(EIO);
        writer.write(text("retried"), note);
        writer.waitUntilIdle();
        QCOMPARE(committedCount.load(), 2);
        Files::failWritesForTesting(0);
        QTRY_COMPARE(committedCount.load(), 3);
        QCOMPARE(committed.last(), QStringLiteral("retried"));
    }

    void testFailedWriteIsTriedAgainUntilItWorks()
    {
        BackgroundFileWriter writer(path());
        writer.setFirstRetryDelay(20);
        QList<BackgroundFileWriter::Outcome> outcomes;
        writer.onWritten = [&](const BackgroundFileWriter::Outcome& outcome) { outcomes.append(outcome); };

        Files::failWritesForTesting(EIO);
        writer.write(text("content"));
        writer.waitUntilIdle();
        QCOMPARE(outcomes.size(), 1);
        QVERIFY(outcomes.first().error && outcomes.first().error->contains(QStringLiteral("Input/output error")));
        QCOMPARE(writer.lastError(), outcomes.first().error);
        QVERIFY(!QFileInfo::exists(path()));

        Files::failWritesForTesting(0);
        QTRY_VERIFY(!outcomes.isEmpty() && !outcomes.last().error);
        QCOMPARE(readFile(path()), QByteArray("content"));
        QVERIFY(!writer.lastError());
    }

    void testProtectedFileIsMovedAsideBeforeAnythingIsWritten()
    {
        writeFile(path(), "unreadable history");
        BackgroundFileWriter writer(path());
        writer.setFirstRetryDelay(20);
        // The backup's folder does not exist yet: moving the file fails, even for root.
        const QString backup = m_dir->filePath(QStringLiteral("aside/file.bak"));
        writer.protectExistingFile(backup, QStringLiteral("kept in memory"));
        QList<BackgroundFileWriter::Outcome> outcomes;
        writer.onWritten = [&](const BackgroundFileWriter::Outcome& outcome) { outcomes.append(outcome); };

        writer.write(text("new history"));
        writer.waitUntilIdle();
        QCOMPARE(outcomes.size(), 1);
        QCOMPARE(outcomes.first().error, std::optional<QString>(QStringLiteral("kept in memory")));
        QCOMPARE(readFile(path()), QByteArray("unreadable history"));

        // Once moving works, the retry sets the file aside and writes.
        QVERIFY(QDir().mkpath(m_dir->filePath(QStringLiteral("aside"))));
        QTRY_VERIFY(!outcomes.last().error);
        QCOMPARE(outcomes.last().setAsideTo, std::optional<QString>(backup));
        QCOMPARE(readFile(backup), QByteArray("unreadable history"));
        QCOMPARE(readFile(path()), QByteArray("new history"));
    }

    // Once the file is large, the changes of an interval are written once, the newest for all;
    // quitting and destruction write at once, and so does the write after a failed one.
    void testALargeFileGathersTheChangesOfAnInterval()
    {
        auto writer = std::make_unique<BackgroundFileWriter>(path());
        writer->setFirstRetryDelay(60'000);
        // "Large" is anything over 8 bytes here; the interval is longer than any test runs.
        writer->setGathering(8, 600'000);
        writer->write(text("a large history"));
        writer->waitUntilIdle();

        std::atomic<int> firstRuns = 0, secondRuns = 0;
        writer->write(text("first copy", &firstRuns));
        writer->write(text("second copy", &secondRuns));
        std::optional<QString> outcome = QStringLiteral("none yet");
        writer->whenWritten([&](const std::optional<QString>& error) { outcome = error; });
        writer->write(text("third copy"));
        writer->waitUntilIdle(); // quitting
        QCOMPARE(readFile(path()), QByteArray("third copy"));
        QCOMPARE(firstRuns.load() + secondRuns.load(), 0);
        QCOMPARE(outcome, std::optional<QString>());

        // A failed write is not held back by the interval, and neither is the next.
        writer->write(text("a copy that waits"));
        Files::failWritesForTesting(ENOSPC);
        writer->waitUntilIdle();
        QVERIFY(writer->lastError());
        Files::failWritesForTesting(0);
        outcome = QStringLiteral("none yet");
        writer->write(text("written at once"));
        writer->whenWritten([&](const std::optional<QString>& error) { outcome = error; });
        QTRY_COMPARE(outcome, std::optional<QString>());
        QCOMPARE(readFile(path()), QByteArray("written at once"));

        // Destruction writes what is gathered.
        writer->write(text("the last copy, gathered"));
        QVERIFY(writer->hasPendingWrite());
        writer.reset();
        QCOMPARE(readFile(path()), QByteArray("the last copy, gathered"));
    }

    // A content that takes something away is never held back by the interval; the additions
    // that follow it are again.
    void testFlushSoonSkipsTheGatheringPause()
    {
        BackgroundFileWriter writer(path());
        writer.setGathering(8, 600'000);
        writer.write(text("a large history"));
        writer.waitUntilIdle();

        writer.write(text("an entry removed"));
        std::optional<QString> outcome = QStringLiteral("none yet");
        writer.whenWritten([&](const std::optional<QString>& error) { outcome = error; });
        writer.flushSoon();
        QTRY_COMPARE(outcome, std::optional<QString>());
        QCOMPARE(readFile(path()), QByteArray("an entry removed"));

        writer.write(text("an entry added"));
        QVERIFY(writer.hasPendingWrite());
        writer.waitUntilIdle();
        QCOMPARE(readFile(path()), QByteArray("an entry added"));
    }

    // The pause of a large file on the clock: the copies handed over within it are gathered
    // into one write at the moment it ends, counted from the start of the previous write (a
    // slow write does not lengthen it); a write after a failed one, a removal and quitting go
    // at once.
    void testPacingOfALargeFileFollowsTheClock()
    {
        const qint64 start = 1'000'000;
        const auto clock = std::make_shared<ManualMonotonicClock>(start);
        // When each content was written, on the clock.
        QList<std::pair<QByteArray, qint64>> written;
        std::mutex writtenMutex;
        BackgroundFileWriter writer(path(), clock);
        writer.setFirstRetryDelay(60'000);
        writer.setGathering(8, BackgroundFileWriter::defaultGatheringIntervalMilliseconds);
        const qint64 pause = BackgroundFileWriter::defaultGatheringIntervalMilliseconds;
        auto timed = [&](const QByteArray& bytes) -> BackgroundFileWriter::Content {
            return [&, bytes](QIODevice& device) {
                {
                    std::lock_guard lock(writtenMutex);
                    written.append({bytes, clock->now()});
                }
                return device.write(bytes) == bytes.size();
            };
        };
        auto writes = [&] {
            std::lock_guard lock(writtenMutex);
            return written;
        };
        // Whether the file holds `bytes` once everything handed over has been written.
        auto settled = [&](const QByteArray& bytes) {
            const auto done = std::make_shared<bool>(false);
            writer.whenWritten([done](const std::optional<QString>&) { *done = true; });
            return QTest::qWaitFor([&] { return *done; }, 10'000) && readFile(path()) == bytes;
        };

        writer.write(timed("a large history"));
        QVERIFY(settled("a large history"));

        // Copies within the pause wait for its end, and only the newest is written.
        clock->advance(1000);
        writer.write(timed("first copy"));
        writer.write(timed("second copy"));
        QTRY_COMPARE_WITH_TIMEOUT(clock->deadlines(), std::vector<qint64>{start + pause}, 10'000);
        writer.write(timed("third copy"));
        clock->advance(pause - 1000 - 1);
        QTRY_COMPARE_WITH_TIMEOUT(clock->deadlines(), std::vector<qint64>{start + pause}, 10'000);
        QCOMPARE(writes().size(), 1);
        clock->advance(1);
        QVERIFY(settled("third copy"));
        QCOMPARE(writes().size(), 2);
        QCOMPARE(writes().last(), (std::pair<QByteArray, qint64>{"third copy", start + pause}));

        // A write that takes longer than the pause: the next copy goes as soon as it is handed over.
        clock->advance(pause);
        const qint64 slowStart = clock->now();
        writer.write([&](QIODevice& device) {
            clock->advance(pause + 500);
            return device.write("written slowly") == 14;
        });
        QVERIFY(settled("written slowly"));
        writer.write(timed("after a slow write"));
        QVERIFY(settled("after a slow write"));
        QCOMPARE(writes().last().second, slowStart + pause + 500);

        // A removal skips the pause it falls into.
        clock->advance(100);
        writer.write(timed("an entry removed"));
        writer.flushSoon();
        QVERIFY(settled("an entry removed"));
        QCOMPARE(writes().last().second, slowStart + pause + 600);

        // A failed write (a removal here) and the write that follows it are not held back.
        clock->advance(100);
        Files::failWritesForTesting(ENOSPC);
        writer.write(timed("fails"));
        writer.flushSoon();
        const auto failed = std::make_shared<bool>(false);
        writer.whenWritten([failed](const std::optional<QString>& error) { *failed = error.has_value(); });
        QTRY_VERIFY_WITH_TIMEOUT(*failed, 10'000);
        QCOMPARE(writes().last().second, slowStart + pause + 700);
        Files::failWritesForTesting(0);
        writer.write(timed("after the failure"));
        QVERIFY(settled("after the failure"));
        QCOMPARE(writes().last().second, slowStart + pause + 700);

        // Quitting writes what waits without waiting for the clock.
        writer.write(timed("gathered at quit"));
        QTRY_VERIFY_WITH_TIMEOUT(!clock->deadlines().empty(), 10'000);
        writer.waitUntilIdle();
        QCOMPARE(readFile(path()), QByteArray("gathered at quit"));
        QCOMPARE(writes().last().second, slowStart + pause + 700);
    }

    // A failed write is tried again when its pause has passed on the clock, and not before.
    void testRetryWaitsForItsPauseOnTheClock()
    {
        const auto clock = std::make_shared<ManualMonotonicClock>(0);
        BackgroundFileWriter writer(path(), clock);
        writer.setFirstRetryDelay(2000);
        std::atomic<int> runs = 0;
        Files::failWritesForTesting(EIO);
        writer.write(text("retried", &runs));
        writer.waitUntilIdle();
        QCOMPARE(runs.load(), 1);
        Files::failWritesForTesting(0);
        QTRY_COMPARE_WITH_TIMEOUT(clock->deadlines(), std::vector<qint64>{2000}, 10'000);
        clock->advance(1999);
        QTRY_COMPARE_WITH_TIMEOUT(clock->deadlines(), std::vector<qint64>{2000}, 10'000);
        QCOMPARE(runs.load(), 1);
        clock->advance(1);
        QTRY_COMPARE_WITH_TIMEOUT(runs.load(), 2, 10'000);
        writer.waitUntilIdle();
        QCOMPARE(readFile(path()), QByteArray("retried"));
        QVERIFY(!writer.lastError());
    }

    void testDestructionFinishesTheWaitingWrite()
    {
        {
            BackgroundFileWriter writer(path());
            writer.write(text("last words"));
        }
        QCOMPARE(readFile(path()), QByteArray("last words"));
    }
};

QUILLOMARE_TEST_MAIN(BackgroundFileWriterTest)
#include "tst_backgroundfilewriter.moc"
