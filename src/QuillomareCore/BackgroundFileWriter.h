#pragma once

#include "MonotonicClock.h"

#include <QObject>
#include <QString>

#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>

class QIODevice;

namespace QuillomareCore {

// Writes one file on a thread of its own, so that a history of large images never holds the GUI
// thread. Each change hands over the whole new content; a content handed over while another is
// still waiting replaces it (only the newest matters), and the file on disk is always a whole
// file (Files::writeAtomically). A write that fails is tried again after a pause until it works
// or a newer content replaces it.
//
// A large file is written at most once per gathering interval: the contents handed over in
// between wait, and the newest is written for them all, so that a stream of small changes to a
// history of hundreds of megabytes does not rewrite it whole for each one. waitUntilIdle()
// (quitting) and the destructor write what waits at once, and a write that follows a failed one
// never waits. The pauses are measured on `clock` (the shared MonotonicClock unless one is given).
//
// Made and used on one thread (the GUI thread); outcomes come back to it through its event loop.
class BackgroundFileWriter final : public QObject
{
public:
    // Streams the content into the device; false when the device refused a write. Runs on the
    // writer's thread: it must only read what it captured.
    using Content = std::function<bool(QIODevice&)>;

    struct Outcome
    {
        quint64 generation = 0;           // the newest content this write carried
        std::optional<QString> error;     // why the file keeps its previous contents
        std::optional<QString> setAsideTo; // where a protected file was moved before writing
    };

    explicit BackgroundFileWriter(QString path, QObject* parent = nullptr);
    BackgroundFileWriter(QString path, std::shared_ptr<MonotonicClock> clock, QObject* parent = nullptr);
    // Finishes the write under way and the one waiting, then stops the thread.
    ~BackgroundFileWriter() override;

    const QString& path() const { return m_path; }

    // Called on the writer's thread once a content is in place under the path, before its
    // outcome is delivered.
    using Committed = std::function<void()>;

    // Hands over the newest content; returns its generation (1, 2, …).
    quint64 write(Content content, Committed committed = {});
    // What waits now goes to disk without the gathering pause: for a content that takes
    // something away (a deleted entry must not stay on disk for seconds).
    void flushSoon();

    // A file at the path that must never be written over (one that could not be read): before
    // the next write it is moved to `backupPath`; while that fails nothing is written, the
    // write fails with `failureText` and is tried again later.
    void protectExistingFile(const QString& backupPath, const QString& failureText);

    // Called once everything handed over so far has been written, or its write failed (with the
    // reason); at once when that has already happened.
    void whenWritten(std::function<void(const std::optional<QString>& error)> done);
    // After every attempt, retries included, once the waiters of whenWritten() were called.
    std::function<void(const Outcome&)> onWritten;
    // After every attempt too, before those waiters are called: for state they should see.
    std::function<void(const Outcome&)> beforeWaiters;

    // Blocks until nothing waits to be written (a write waiting for its retry does not count)
    // and delivers the outcomes: for quitting, tests and benchmarks.
    void waitUntilIdle();

    bool hasPendingWrite() const;
    const std::optional<QString>& lastError() const { return m_lastError; }

    // The pause before the first retry of a failed write (2 s); it doubles up to a minute.
    void setFirstRetryDelay(int milliseconds);

    static constexpr qint64 defaultGatheringThresholdBytes = 64 * 1024 * 1024;
    static constexpr int defaultGatheringIntervalMilliseconds = 4500;
    // After a write of a file larger than `thresholdBytes`, the next waits until `milliseconds`
    // have passed since it started.
    void setGathering(qint64 thresholdBytes, int milliseconds);
    // Every write goes to disk as soon as it is handed over.
    void turnGatheringOff();

private:
    void run();
    Outcome attempt(quint64 generation, const Content& content);
    void deliver(const Outcome& outcome);

    const QString m_path;
    const std::shared_ptr<MonotonicClock> m_clock;

    // Shared with the writer thread.
    mutable std::mutex m_mutex;
    std::condition_variable m_wake;
    std::condition_variable m_idle;
    Content m_pending;
    Committed m_pendingCommitted;
    quint64 m_pendingGeneration = 0;
    Content m_failed; // kept for its retry until a newer content arrives
    Committed m_failedCommitted;
    quint64 m_failedGeneration = 0;
    bool m_busy = false;
    bool m_stopping = false;
    int m_firstRetryDelay = 2000;
    qint64 m_gatheringThreshold = defaultGatheringThresholdBytes;
    int m_gatheringInterval = defaultGatheringIntervalMilliseconds;
    std::optional<qint64> m_gatherUntil; // on m_clock
    bool m_flushRequested = false;
    bool m_flushSoon = false; // the waiting content skips the gathering pause
    std::optional<QString> m_protectedBackup;
    QString m_protectedFailure;
    std::thread m_thread;

    // Owner's thread only.
    quint64 m_handedOver = 0;
    quint64 m_delivered = 0;
    std::optional<QString> m_lastError;
    std::deque<std::pair<quint64, std::function<void(const std::optional<QString>&)>>> m_waiters;
};

} // namespace QuillomareCore
