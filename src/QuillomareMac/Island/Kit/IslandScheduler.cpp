#include "IslandScheduler.h"

#include <QElapsedTimer>
#include <QTimer>

#include <algorithm>
#include <atomic>

namespace QuillomareMac {

void WorkItem::perform()
{
    if (m_cancelled || m_performed)
        return;
    m_performed = true;
    if (m_work)
        m_work();
}

namespace {

class TimerIslandScheduler final : public IslandScheduler
{
public:
    TimerIslandScheduler() { m_clock.start(); }

    qint64 now() const override { return m_clock.elapsed(); }

    std::shared_ptr<WorkItem> schedule(qint64 delayMilliseconds, QObject* context,
                                       std::function<void()> work) override
    {
        auto item = std::make_shared<WorkItem>(std::move(work));
        const int delay = static_cast<int>(std::clamp<qint64>(delayMilliseconds, 0, 24 * 3600 * 1000));
        if (context)
            QTimer::singleShot(delay, context, [item] { item->perform(); });
        else
            QTimer::singleShot(delay, [item] { item->perform(); });
        return item;
    }

private:
    QElapsedTimer m_clock;
};

std::shared_ptr<IslandScheduler>& sharedScheduler()
{
    static std::shared_ptr<IslandScheduler> scheduler;
    return scheduler;
}

} // namespace

IslandScheduler::IslandScheduler()
{
    static std::atomic<quint64> made{0};
    m_identity = ++made;
}

IslandScheduler& IslandScheduler::shared()
{
    auto& scheduler = sharedScheduler();
    if (!scheduler)
        scheduler = std::make_shared<TimerIslandScheduler>();
    return *scheduler;
}

void IslandScheduler::setSharedForTesting(std::shared_ptr<IslandScheduler> scheduler)
{
    sharedScheduler() = std::move(scheduler);
}

std::shared_ptr<WorkItem> ManualIslandScheduler::schedule(qint64 delayMilliseconds, QObject* context,
                                                          std::function<void()> work)
{
    auto item = std::make_shared<WorkItem>(std::move(work));
    m_entries.push_back(Entry{m_now + std::max<qint64>(delayMilliseconds, 0), m_nextOrder++, context,
                              context != nullptr, item});
    return item;
}

void ManualIslandScheduler::advance(qint64 milliseconds)
{
    const qint64 target = m_now + std::max<qint64>(milliseconds, 0);
    while (true) {
        auto next = std::min_element(m_entries.begin(), m_entries.end(), [](const Entry& a, const Entry& b) {
            return a.due != b.due ? a.due < b.due : a.order < b.order;
        });
        if (next == m_entries.end() || next->due > target)
            break;
        Entry entry = *next;
        m_entries.erase(next);
        m_now = std::max(m_now, entry.due);
        if (!entry.hasContext || entry.context)
            entry.item->perform();
    }
    m_now = target;
}

qsizetype ManualIslandScheduler::pendingCount() const
{
    return std::count_if(m_entries.begin(), m_entries.end(), [](const Entry& entry) {
        return !entry.item->isCancelled() && (!entry.hasContext || entry.context);
    });
}

} // namespace QuillomareMac
