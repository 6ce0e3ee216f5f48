#include "SingleInstance.h"

#include "Localization.h"

#include <Platform/InstanceRegistry.h>

#include <QEventLoop>

#include <limits>
#include <utility>

namespace QuillomareMac {

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
    return L10n::text(QStringLiteral("无法连接会话总线，可能还有另一个 Quillomare 在运行。"),
                      QStringLiteral("Can't reach the session bus; another Quillomare may still be running."));
}

QString SingleInstance::survivorMessage()
{
    return L10n::text(QStringLiteral("另一个 Quillomare 未能退出，它可能会覆盖历史记录。"),
                      QStringLiteral("Another Quillomare did not quit and may overwrite the history."));
}

SingleInstance::SingleInstance(Platform::InstanceRegistry& registry, qint64 ownProcessIdentifier, Timing timing,
                               QObject* parent)
    : QObject(parent), m_registry(registry), m_ownProcessIdentifier(ownProcessIdentifier), m_timing(timing)
{
    m_pollTimer.setInterval(m_timing.pollIntervalMs);
    connect(&m_pollTimer, &QTimer::timeout, this, &SingleInstance::checkEndedProcesses);
}

void SingleInstance::terminateOtherQuillomareInstances(std::function<void(const TakeoverResult&)> whenOthersGone)
{
    m_result = {};
    m_result.busReachable = m_registry.isAvailable();
    m_whenOthersGone = std::move(whenOthersGone);

    // Announced first, so that an instance launching right after this one finds it.
    m_registry.registerInstance(bundleIdentifier);

    const QStringList endedIdentifiers{bundleIdentifier, companionBundleIdentifier};
    m_waitingFor.clear();
    for (const Platform::RunningApplication& application : m_registry.runningApplications()) {
        if (application.processIdentifier == m_ownProcessIdentifier || !application.bundleIdentifier)
            continue;
        if (!endedIdentifiers.contains(*application.bundleIdentifier))
            continue;
        if (!m_registry.terminate(application))
            m_registry.forceTerminate(application);
        m_result.ended.append(application.processIdentifier);
        m_waitingFor.append(application);
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
    m_registry.postNotification(takeoverNotification, QString::number(m_ownProcessIdentifier));

    m_waiting = true;
    m_forced = false;
    m_sincePhaseStart.start();
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
    if (!finished)
        loop.exec(QEventLoop::ExcludeUserInputEvents | QEventLoop::ExcludeSocketNotifiers);
    return result;
}

void SingleInstance::checkEndedProcesses()
{
    m_waitingFor.removeIf([this](const Platform::RunningApplication& application) {
        return !m_registry.isRunning(application.processIdentifier);
    });
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
