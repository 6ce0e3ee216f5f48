#pragma once

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QList>
#include <QObject>
#include <QString>
#include <QTimer>
#include <QVariant>

#include <functional>
#include <optional>

namespace Platform {
class InstanceRegistry;
struct RunningApplication;
} // namespace Platform

namespace QuillomareMac {

struct SingleInstanceTiming
{
    // How long ended instances get to finish their shut-down before they are forced.
    int gracePeriodMs = 3000;
    // How long a forced instance may take to vanish before it is given up on.
    int afterForceMs = 1000;
    int pollIntervalMs = 50;
};

// One instance at a time, the newest winning: a launching instance ends every other one (and the
// companion phone app's), then tells all instances that it has taken over; any instance that
// hears this from another process quits.
//
// Ending another process is only a request, and the old instance still runs its shut-down (and
// may write the history or the shelf file) for a moment after it. So the launch waits until the
// ended processes are gone, forcing those still there after a grace period, before it loads any
// file or grabs the hot keys.
class SingleInstance final : public QObject
{
    Q_OBJECT

public:
    static inline const QString bundleIdentifier = QStringLiteral("app.quillomare.Quillomare");
    static inline const QString companionBundleIdentifier = QStringLiteral("app.quillomare.Quillomare.companion");
    static inline const QString takeoverNotification = QStringLiteral("app.quillomare.Quillomare.instance.takeover");

    using Timing = SingleInstanceTiming;

    struct TakeoverResult
    {
        // False when the bus could not be reached: nothing was ended and no broadcast will be heard.
        bool busReachable = true;
        // Processes asked to quit (or forced at once when they refused), in the order met.
        QList<qint64> ended;
        // Those still running at the end of the grace period, then forced.
        QList<qint64> forcedAtDeadline;
        // Those that outlived even that.
        QList<qint64> stillRunning;
        // An instance launched after this one, which wins: nothing was ended or announced, and
        // this instance was asked to end.
        std::optional<qint64> supersededBy;

        // The island's message when the take-over went wrong, in the interface language.
        std::optional<QString> message() const;
    };

    explicit SingleInstance(Platform::InstanceRegistry& registry,
                            qint64 ownProcessIdentifier = QCoreApplication::applicationPid(), Timing timing = {},
                            QObject* parent = nullptr);

    // Called when another instance has taken over; the application should terminate normally.
    std::function<void()> onQuit;

    // Announces this instance, ends the others, starts listening for take-overs and broadcasts
    // its own. `whenOthersGone` is called once every ended process has exited (at once when there
    // were none or the bus is unreachable). Call once, at launch.
    void terminateOtherQuillomareInstances(std::function<void(const TakeoverResult&)> whenOthersGone);
    // The same, waiting in a local event loop that leaves user input for the main loop. For the
    // launch, before the main loop runs and before anything is shown.
    TakeoverResult terminateOtherQuillomareInstancesAndWait();
    // True while a launch waits in terminateOtherQuillomareInstancesAndWait(): no file has been
    // read yet, so a request to end can end the process at once.
    static bool launchWaitInProgress();

    // A take-over notification's object: quits (through onQuit) when it is the decimal process ID
    // of another process, unless that is an instance launched before this one (or one it ended).
    // A take-over heard while this instance is still waiting for the old ones is acted on once
    // the main loop runs, where quitting works.
    void handleTakeoverBroadcast(const QVariant& object);

    // A signed 32-bit decimal: an optional "+" or "-", then ASCII digits only.
    static std::optional<qint32> processIdentifierFromText(const QString& text);

    static QString busUnreachableMessage();
    static QString survivorMessage();

private:
    bool launchedBefore(qint64 processIdentifier) const;
    bool launchedAfter(qint64 processIdentifier) const;
    void checkEndedProcesses();
    void finishWaiting();

    Platform::InstanceRegistry& m_registry;
    const qint64 m_ownProcessIdentifier;
    const Timing m_timing;
    QTimer m_pollTimer;
    QElapsedTimer m_sincePhaseStart;
    QList<Platform::RunningApplication> m_waitingFor;
    TakeoverResult m_result;
    std::function<void(const TakeoverResult&)> m_whenOthersGone;
    bool m_waiting = false;
    bool m_forced = false;
    bool m_quitDeferred = false;
    bool m_observing = false;
};

} // namespace QuillomareMac
