#include "SingleInstance.h"

#include <Platform/InstanceRegistry.h>
#include <QuillomareCore/Language.h>

#include <QEventLoop>

#include <limits>
#include <utility>

namespace QuillomareMac {

namespace Language = QuillomareCore::Language;

std::optional<QString> SingleInstance::TakeoverResult::message() const
{
    if (!busReachable)
        return busUnreachableMessage();
    if (!stillRunning.isEmpty())
        return survivorMessage();
    return std::nullopt;
}

QString SingleInstance::busUnreachableMessage()
{
    return Language::text(QStringLiteral("无法连接会话总线，可能还有另一个 Quillomare 在运行。"),
                          QStringLiteral("Can't reach the session bus; another Quillomare may still be running."));
}

QString SingleInstance::survivorMessage()
{
    return Language::text(QStringLiteral("另一个 Quillomare 未能退出，它可能会覆盖历史记录。"),
                          QStringLiteral("Another Quillomare did not quit and may overwrite the history."));
}

SingleInstance::SingleInstance(Platform::InstanceRegistry& registry, qint64 ownProcessIdentifier, Timing timing,
                               QObject* parent)
    : QObject(parent), m_registry(registry), m_ownProcessIdentifier(ownProcessIdentifier), m_timing(timing)
{
    m_pollTimer.setInterval(m_timing.pollIntervalMs);
    connect(&m_pollTimer, &QTimer::timeout, this, &SingleInstance::checkEndedProcesses);
}

namespace {

// How many launches in this process are waiting for other instances to exit.
int g_waitsInProgress = 0;

} // namespace

bool SingleInstance::launchWaitInProgress()
{
    return g_waitsInProgress > 0;
}

bool SingleInstance::launchedBefore(qint64 processIdentifier) const
{
    // Unknown (a process that announces no instance, or one already gone): not known to have lost.
    const auto own = m_registry.launchOrder(m_ownProcessIdentifier);
    const auto other = m_registry.launchOrder(processIdentifier);
    return own && other && *other < *own;
}

bool SingleInstance::launchedAfter(qint64 processIdentifier) const
{
    const auto own = m_registry.launchOrder(m_ownProcessIdentifier);
    const auto other = m_registry.launchOrder(processIdentifier);
    return own && other && *own < *other;
}

void SingleInstance::terminateOtherQuillomareInstances(std::function<void(const TakeoverResult&)> whenOthersGone)
{
    m_result = {};
    m_result.busReachable = m_registry.isAvailable();
    m_whenOthersGone = std::move(whenOthersGone);

    // Announced first, so that an instance launching right after this one finds it.
    m_registry.registerInstance(bundleIdentifier);

    const QStringList endedIdentifiers{bundleIdentifier, companionBundleIdentifier};
    QList<Platform::RunningApplication> others;
    for (const Platform::RunningApplication& application : m_registry.runningApplications()) {
        if (application.processIdentifier == m_ownProcessIdentifier || !application.bundleIdentifier)
            continue;
        if (!endedIdentifiers.contains(*application.bundleIdentifier))
            continue;
        // Two instances launched at once both see each other: each ending the other would leave
        // none. Both answer by the same order, so exactly the later one goes on; this one, when
        // it is the earlier, ends nobody, announces nothing and ends itself. An instance the
        // later one did not see (it listed before this one announced itself) is not told at all.
        if (*application.bundleIdentifier == bundleIdentifier && launchedAfter(application.processIdentifier))
            m_result.supersededBy = application.processIdentifier;
        others.append(application);
    }

    m_waitingFor.clear();
    if (!m_result.supersededBy) {
        for (const Platform::RunningApplication& application : std::as_const(others)) {
            if (!m_registry.terminate(application))
                m_registry.forceTerminate(application);
            m_result.ended.append(application.processIdentifier);
            m_waitingFor.append(application);
        }
    }

    // Listening before posting: this instance hears its own broadcast too, and ignores it.
    if (!m_observing) {
        connect(&m_registry, &Platform::InstanceRegistry::notificationReceived, this,
                [this](const QString& name, const QVariant& object) {
                    if (name == takeoverNotification)
                        handleTakeoverBroadcast(object);
                });
        m_observing = true;
    }
    m_registry.addObserver(takeoverNotification);

    m_waiting = true;
    m_forced = false;
    m_sincePhaseStart.start();
    if (m_result.supersededBy) {
        // Ended as this instance ends any other: the termination request, which ends a process
        // still waiting here at once, before it has read any file. Should the request not end
        // it, it quits once the grace period is over.
        m_quitDeferred = true;
        Platform::RunningApplication self;
        self.processIdentifier = m_ownProcessIdentifier;
        self.bundleIdentifier = bundleIdentifier;
        m_registry.terminate(self);
    } else {
        m_registry.postNotification(takeoverNotification, QString::number(m_ownProcessIdentifier));
    }
    checkEndedProcesses();
    if (m_waiting)
        m_pollTimer.start();
}

SingleInstance::TakeoverResult SingleInstance::terminateOtherQuillomareInstancesAndWait()
{
    TakeoverResult result;
    bool finished = false;
    QEventLoop loop;
    terminateOtherQuillomareInstances([&](const TakeoverResult& outcome) {
        result = outcome;
        finished = true;
        loop.quit();
    });
    if (!finished) {
        // Socket notifiers stay on: the termination-signal pipe among them, so that a request to
        // end (from the instance that wins, or from the user) is heard while waiting.
        ++g_waitsInProgress;
        loop.exec(QEventLoop::ExcludeUserInputEvents);
        --g_waitsInProgress;
    }
    return result;
}

void SingleInstance::checkEndedProcesses()
{
    m_waitingFor.removeIf([this](const Platform::RunningApplication& application) {
        return !m_registry.isRunning(application.processIdentifier);
    });
    if (m_result.supersededBy) {
        if (m_sincePhaseStart.hasExpired(m_timing.gracePeriodMs))
            finishWaiting();
        return;
    }
    if (m_waitingFor.isEmpty()) {
        finishWaiting();
        return;
    }
    if (!m_forced && m_sincePhaseStart.hasExpired(m_timing.gracePeriodMs)) {
        for (const Platform::RunningApplication& application : std::as_const(m_waitingFor)) {
            m_registry.forceTerminate(application);
            m_result.forcedAtDeadline.append(application.processIdentifier);
        }
        m_forced = true;
        m_sincePhaseStart.start();
    } else if (m_forced && m_sincePhaseStart.hasExpired(m_timing.afterForceMs)) {
        for (const Platform::RunningApplication& application : std::as_const(m_waitingFor))
            m_result.stillRunning.append(application.processIdentifier);
        finishWaiting();
    }
}

void SingleInstance::finishWaiting()
{
    m_pollTimer.stop();
    m_waitingFor.clear();
    m_waiting = false;
    if (m_quitDeferred) {
        m_quitDeferred = false;
        // Posted now, delivered by the main loop: a quit asked for before it runs is lost.
        QTimer::singleShot(0, this, [this] {
            if (onQuit)
                onQuit();
        });
    }
    if (auto whenOthersGone = std::exchange(m_whenOthersGone, nullptr))
        whenOthersGone(m_result);
}

void SingleInstance::handleTakeoverBroadcast(const QVariant& object)
{
    if (!object.isValid() || object.typeId() != QMetaType::QString)
        return;
    const auto sender = processIdentifierFromText(object.toString());
    if (!sender || *sender == m_ownProcessIdentifier)
        return;
    // An instance launched before this one lost the race, even when its broadcast left before it
    // learnt so (it listed the instances before this one announced itself).
    if (m_result.ended.contains(*sender) || launchedBefore(*sender))
        return;
    if (m_waiting) {
        m_quitDeferred = true;
        return;
    }
    if (onQuit)
        onQuit();
}

std::optional<qint32> SingleInstance::processIdentifierFromText(const QString& text)
{
    qsizetype position = 0;
    bool negative = false;
    if (!text.isEmpty() && (text.front() == QLatin1Char('+') || text.front() == QLatin1Char('-'))) {
        negative = text.front() == QLatin1Char('-');
        ++position;
    }
    if (position == text.size())
        return std::nullopt;
    // One past the largest magnitude, so that the loop stops long before a long text overflows.
    constexpr qint64 limit = qint64(std::numeric_limits<qint32>::max()) + 1;
    qint64 magnitude = 0;
    for (; position < text.size(); ++position) {
        const char16_t character = text.at(position).unicode();
        if (character < u'0' || character > u'9')
            return std::nullopt;
        magnitude = magnitude * 10 + (character - u'0');
        if (magnitude > limit)
            return std::nullopt;
    }
    const qint64 value = negative ? -magnitude : magnitude;
    if (value > std::numeric_limits<qint32>::max())
        return std::nullopt;
    return static_cast<qint32>(value);
}

} // namespace QuillomareMac
