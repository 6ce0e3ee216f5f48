#include "BackgroundFileWriter.h"

#include "Errors.h"
#include "Files.h"

#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>

#include <limits>

#include <cstdio>
#include <sys/stat.h>

namespace QuillomareCore {

namespace {
constexpr int kLongestRetryDelayMilliseconds = 60'000;
}

BackgroundFileWriter::BackgroundFileWriter(QString path, QObject* parent)
    : BackgroundFileWriter(std::move(path), MonotonicClock::shared(), parent)
{
}

BackgroundFileWriter::BackgroundFileWriter(QString path, std::shared_ptr<MonotonicClock> clock, QObject* parent)
    : QObject(parent), m_path(std::move(path)), m_clock(std::move(clock))
{
    m_thread = std::thread([this] { run(); });
}

BackgroundFileWriter::~BackgroundFileWriter()
{
    {
        std::lock_guard lock(m_mutex);
        m_stopping = true;
    }
    m_wake.notify_all();
    m_thread.join();
}

quint64 BackgroundFileWriter::write(Content content, Committed committed)
{
    {
        std::lock_guard lock(m_mutex);
        m_pending = std::move(content);
        m_pendingCommitted = std::move(committed);
        m_pendingGeneration = ++m_handedOver;
    }
    m_wake.notify_all();
    return m_handedOver;
}

void BackgroundFileWriter::flushSoon()
{
    {
        std::lock_guard lock(m_mutex);
        m_flushSoon = true;
    }
    m_wake.notify_all();
}

void BackgroundFileWriter::protectExistingFile(const QString& backupPath, const QString& failureText)
{
    std::lock_guard lock(m_mutex);
    m_protectedBackup = backupPath;
    m_protectedFailure = failureText;
}

void BackgroundFileWriter::whenWritten(std::function<void(const std::optional<QString>&)> done)
{
    if (m_delivered >= m_handedOver) {
        done(m_lastError);
        return;
    }
    m_waiters.emplace_back(m_handedOver, std::move(done));
}

void BackgroundFileWriter::setFirstRetryDelay(int milliseconds)
{
    std::lock_guard lock(m_mutex);
    m_firstRetryDelay = milliseconds;
}

void BackgroundFileWriter::setGathering(qint64 thresholdBytes, int milliseconds)
{
    std::lock_guard lock(m_mutex);
    m_gatheringThreshold = thresholdBytes;
    m_gatheringInterval = milliseconds;
}

void BackgroundFileWriter::turnGatheringOff()
{
    setGathering(std::numeric_limits<qint64>::max(), 0);
}

bool BackgroundFileWriter::hasPendingWrite() const
{
    return m_delivered < m_handedOver;
}

void BackgroundFileWriter::waitUntilIdle()
{
    {
        std::unique_lock lock(m_mutex);
        m_flushRequested = true;
        m_wake.notify_all();
        m_idle.wait(lock, [this] { return !m_pending && !m_busy; });
        m_flushRequested = false;
    }
    QCoreApplication::sendPostedEvents(this, QEvent::MetaCall);
}

void BackgroundFileWriter::run()
{
    std::unique_lock lock(m_mutex);
    int retryDelay = m_firstRetryDelay;
    while (true) {
        Content content;
        Committed committed;
        quint64 generation = 0;
        if (m_pending && m_gatherUntil && !m_stopping && !m_flushRequested && !m_flushSoon &&
            m_clock->now() < *m_gatherUntil) {
            m_clock->waitUntil(lock, m_wake, *m_gatherUntil,
                               [this] { return m_stopping || m_flushRequested || m_flushSoon; });
            m_gatherUntil.reset();
            continue;
        }
        if (m_pending) {
            content = std::move(m_pending);
            committed = std::move(m_pendingCommitted);
            m_pending = nullptr;
            m_pendingCommitted = nullptr;
            generation = m_pendingGeneration;
            m_flushSoon = false;
            // A newer content makes the failed one pointless to retry.
            m_failed = nullptr;
            m_failedCommitted = nullptr;
            retryDelay = m_firstRetryDelay;
        } else if (m_stopping) {
            break;
        } else if (m_failed) {
            const bool woken = m_clock->waitUntil(lock, m_wake, m_clock->now() + retryDelay,
                                                  [this] { return m_pending || m_stopping; });
            if (woken)
                continue;
            content = m_failed;
            committed = m_failedCommitted;
            generation = m_failedGeneration;
            retryDelay = std::min(retryDelay * 2, kLongestRetryDelayMilliseconds);
        } else {
            m_wake.wait(lock, [this] { return m_pending || m_stopping; });
            continue;
        }

        const std::optional<QString> protectedBackup = m_protectedBackup;
        const QString protectedFailure = m_protectedFailure;
        m_busy = true;
        lock.unlock();
        const qint64 startedAt = m_clock->now();

        Outcome outcome;
        outcome.generation = generation;
        qint64 writtenBytes = 0;
        bool stillProtected = false;
        if (protectedBackup) {
            struct stat status = {};
            const QByteArray path = QFile::encodeName(m_path);
            if (::lstat(path.constData(), &status) == 0) {
                if (std::rename(path.constData(), QFile::encodeName(*protectedBackup).constData()) == 0)
                    outcome.setAsideTo = protectedBackup;
                else
                    stillProtected = true;
            }
        }
        if (stillProtected) {
            outcome.error = protectedFailure;
        } else {
            try {
                Files::makePrivateFolder(QFileInfo(m_path).absolutePath());
                Files::writeAtomically(m_path, content);
                struct stat written = {};
                if (::stat(QFile::encodeName(m_path).constData(), &written) == 0)
                    writtenBytes = written.st_size;
                if (committed)
                    committed();
            } catch (const Error& error) {
                outcome.error = error.localizedDescription();
            } catch (const std::exception& error) {
                // Out of memory while encoding, most likely: the previous file stays.
                outcome.error = Files::writeFailure(m_path, ENOMEM);
            }
        }

        lock.lock();
        m_gatherUntil.reset();
        // Counted from the write's start: a change handed over just after it began waits for that
        // write, the rest of the pause and its own write, and no longer, however long writes take.
        if (!outcome.error && writtenBytes > m_gatheringThreshold)
            m_gatherUntil = startedAt + m_gatheringInterval;
        if (protectedBackup && !stillProtected)
            m_protectedBackup.reset();
        if (outcome.error && !m_failed && !m_pending) {
            m_failed = std::move(content);
            m_failedCommitted = std::move(committed);
            m_failedGeneration = generation;
        } else if (!outcome.error && m_failedGeneration == generation) {
            m_failed = nullptr;
            m_failedCommitted = nullptr;
        }
        QMetaObject::invokeMethod(
            this, [this, outcome] { deliver(outcome); }, Qt::QueuedConnection);
        m_busy = false;
        if (!m_pending)
            m_idle.notify_all();
    }
    m_idle.notify_all();
}

void BackgroundFileWriter::deliver(const Outcome& outcome)
{
    m_delivered = std::max(m_delivered, outcome.generation);
    m_lastError = outcome.error;
    if (beforeWaiters)
        beforeWaiters(outcome);
    while (!m_waiters.empty() && m_waiters.front().first <= outcome.generation) {
        auto done = std::move(m_waiters.front().second);
        m_waiters.pop_front();
        done(outcome.error);
    }
    if (onWritten)
        onWritten(outcome);
}

} // namespace QuillomareCore
