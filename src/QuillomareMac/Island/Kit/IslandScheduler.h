#pragma once

// One clock and one queue of delayed work for the island (automatic hide, grace periods, toasts,
// tile restores, scroll ends, the echo's retract). The program runs it on Qt timers; tests run a
// manual one, so that seven seconds of automatic hide pass in no time.

#include <QObject>
#include <QPointer>

#include <functional>
#include <memory>

namespace QuillomareMac {

// A pending piece of work: cancelling it before it runs means it never runs.
class WorkItem
{
public:
    explicit WorkItem(std::function<void()> work) : m_work(std::move(work)) {}
    void cancel() { m_cancelled = true; }
    bool isCancelled() const { return m_cancelled; }
    // Runs the work once unless cancelled; later calls do nothing.
    void perform();

private:
    std::function<void()> m_work;
    bool m_cancelled = false;
    bool m_performed = false;
};

class IslandScheduler
{
public:
    IslandScheduler();
    virtual ~IslandScheduler() = default;

    // Tells this scheduler apart from every other one made in the process, including one that
    // later occupies the same memory: work pending on a replaced scheduler never runs.
    quint64 identity() const { return m_identity; }

    // Milliseconds on a monotonic clock; only differences mean anything.
    virtual qint64 now() const = 0;
    // Runs `work` on the GUI thread `delayMilliseconds` from now, unless cancelled first or unless
    // `context` (when given) is destroyed by then.
    virtual std::shared_ptr<WorkItem> schedule(qint64 delayMilliseconds, QObject* context,
                                               std::function<void()> work) = 0;

    static IslandScheduler& shared();
    // Tests put a ManualIslandScheduler in place; nullptr restores the timer-driven one.
    static void setSharedForTesting(std::shared_ptr<IslandScheduler> scheduler);

private:
    quint64 m_identity;
};

// Time moves only when a test advances it; due work runs in order of its due time.
class ManualIslandScheduler final : public IslandScheduler
{
public:
    qint64 now() const override { return m_now; }
    std::shared_ptr<WorkItem> schedule(qint64 delayMilliseconds, QObject* context,
                                       std::function<void()> work) override;
    // Moves the clock on, running everything that falls due on the way (also work scheduled by
    // work that ran).
    void advance(qint64 milliseconds);
    qsizetype pendingCount() const;

private:
    struct Entry
    {
        qint64 due;
        quint64 order;
        QPointer<QObject> context;
        bool hasContext;
        std::shared_ptr<WorkItem> item;
    };
    qint64 m_now = 0;
    quint64 m_nextOrder = 0;
    std::vector<Entry> m_entries;
};

} // namespace QuillomareMac
