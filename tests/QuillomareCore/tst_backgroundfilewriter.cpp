#include <QuillomareCore/BackgroundFileWriter.h>
#include <QuillomareCore/Files.h>

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
