#pragma once

// The clock of work that paces itself on threads of its own (the history writer's pause between
// writes of a large file, its retries): milliseconds on a monotonic clock, and waiting for a
// moment of it. The program runs on the system's steady clock; tests put a ManualMonotonicClock
// in place, so that seconds of pause pass in no time and what is checked never depends on how
// busy the machine is.

#include <QtGlobal>

#include <atomic>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <vector>

namespace QuillomareCore {

class MonotonicClock
{
public:
    virtual ~MonotonicClock() = default;

    // Milliseconds; only differences mean anything.
    virtual qint64 now() const = 0;

    // Waits on `wake` (its mutex held through `lock`) until `stop()` holds or the clock shows
    // `deadline`; true when it returned because `stop()` held. The mutex is released while it
    // waits (and may be released briefly around it), as a condition variable's wait does.
    virtual bool waitUntil(std::unique_lock<std::mutex>& lock, std::condition_variable& wake, qint64 deadline,
                           const std::function<bool()>& stop) = 0;

    // The system's steady clock, unless a test put another in place.
    static std::shared_ptr<MonotonicClock> shared();
    // nullptr restores the system's clock. Whoever took the clock before keeps it.
    static void setSharedForTesting(std::shared_ptr<MonotonicClock> clock);
};

// Time moves only when a test moves it; it wakes whoever waits for a moment that has come.
class ManualMonotonicClock final : public MonotonicClock
{
public:
    explicit ManualMonotonicClock(qint64 start = 0) : m_now(start) {}

    qint64 now() const override;
    bool waitUntil(std::unique_lock<std::mutex>& lock, std::condition_variable& wake, qint64 deadline,
                   const std::function<bool()>& stop) override;

    void advance(qint64 milliseconds);
    // The moments someone waits for now, earliest first.
    std::vector<qint64> deadlines() const;

private:
    struct Waiter
    {
        std::mutex* mutex;
        std::condition_variable* wake;
        qint64 deadline;
    };
    // Read by waiters that hold their own mutex: never behind this clock's.
    std::atomic<qint64> m_now;
    mutable std::mutex m_mutex;
    std::vector<Waiter> m_waiters;
};

} // namespace QuillomareCore
