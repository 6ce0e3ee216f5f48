#include "MonotonicClock.h"

#include <algorithm>
#include <chrono>

namespace QuillomareCore {

namespace {

class SteadyClock final : public MonotonicClock
{
public:
    qint64 now() const override
    {
        return std::chrono::duration_cast<std::chrono::milliseconds>(
                   std::chrono::steady_clock::now().time_since_epoch())
            .count();
    }

    bool waitUntil(std::unique_lock<std::mutex>& lock, std::condition_variable& wake, qint64 deadline,
                   const std::function<bool()>& stop) override
    {
        return wake.wait_until(lock, std::chrono::steady_clock::time_point(std::chrono::milliseconds(deadline)),
                               stop);
    }
};

std::shared_ptr<MonotonicClock>& sharedClock()
{
    static std::shared_ptr<MonotonicClock> clock;
    return clock;
}

std::mutex& sharedClockMutex()
{
    static std::mutex mutex;
    return mutex;
}

} // namespace

std::shared_ptr<MonotonicClock> MonotonicClock::shared()
{
    std::lock_guard lock(sharedClockMutex());
    auto& clock = sharedClock();
    if (!clock)
        clock = std::make_shared<SteadyClock>();
    return clock;
}

void MonotonicClock::setSharedForTesting(std::shared_ptr<MonotonicClock> clock)
{
    std::lock_guard lock(sharedClockMutex());
    sharedClock() = std::move(clock);
}

qint64 ManualMonotonicClock::now() const
{
    return m_now.load();
}

bool ManualMonotonicClock::waitUntil(std::unique_lock<std::mutex>& lock, std::condition_variable& wake,
                                     qint64 deadline, const std::function<bool()>& stop)
{
    // advance() takes this clock's mutex and then each waiter's: the waiter's is never held
    // while this one is taken, or the two would wait for each other.
    std::mutex* const waiterMutex = lock.mutex();
    lock.unlock();
    {
        std::lock_guard guard(m_mutex);
        m_waiters.push_back({waiterMutex, &wake, deadline});
    }
    lock.lock();
    bool stopped = false;
    while (true) {
        if (stop()) {
            stopped = true;
            break;
        }
        if (now() >= deadline)
            break;
        wake.wait(lock);
    }
    lock.unlock();
    {
        std::lock_guard guard(m_mutex);
        const auto mine = std::find_if(m_waiters.begin(), m_waiters.end(), [&](const Waiter& waiter) {
            return waiter.wake == &wake && waiter.deadline == deadline;
        });
        if (mine != m_waiters.end())
            m_waiters.erase(mine);
    }
    lock.lock();
    // What the caller waited for may have changed while its mutex was let go.
    return stopped || stop();
}

void ManualMonotonicClock::advance(qint64 milliseconds)
{
    std::lock_guard guard(m_mutex);
    m_now.fetch_add(std::max<qint64>(milliseconds, 0));
    for (const Waiter& waiter : m_waiters) {
        // Taken so that a waiter between its look at the time and its wait cannot miss the wake.
        std::lock_guard waiting(*waiter.mutex);
        waiter.wake->notify_all();
    }
}

std::vector<qint64> ManualMonotonicClock::deadlines() const
{
    std::lock_guard guard(m_mutex);
    std::vector<qint64> moments;
    for (const Waiter& waiter : m_waiters)
        moments.push_back(waiter.deadline);
    std::sort(moments.begin(), moments.end());
    return moments;
}

} // namespace QuillomareCore
