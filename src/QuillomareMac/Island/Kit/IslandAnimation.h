#pragma once

// The island's animation engine: values (numbers, points, rectangles, colours) animated under
// named keys on an owner object. Adding an animation under a key that already has one replaces
// it: the old one ends unfinished, and a new one given no start value carries on from where the
// old one is (value, and velocity for springs). Frames come from the island scheduler's clock:
// about sixty a second in the program, as many as a test advances it by, and one more exactly
// where an animation ends, so that its end value is on screen (and it completes) on time rather
// than up to a frame late.
//
// Completions are called once, later on the main queue, never from inside the call that ended
// the animation: with true when the animation ran to its end, false when it was removed or
// replaced or its owner was destroyed. Every animation gets a token; `isRunning(token)` tells a
// late completion whether its animation is still the one on screen.

#include <QColor>
#include <QObject>
#include <QPointF>
#include <QRectF>
#include <QString>

#include <array>
#include <functional>
#include <memory>
#include <optional>
#include <unordered_map>
#include <variant>
#include <vector>

namespace QuillomareMac {

class WorkItem;
class IslandScheduler;

using AnimatedValue = std::variant<double, QPointF, QRectF, QColor>;

// A damped spring pulling the value to its target, of mass 1 by default.
struct SpringParameters
{
    double mass = 1;
    double stiffness = 100;
    double damping = 20;

    // The response-and-damping-fraction form: stiffness (2π / response)², damping
    // 2 × fraction × 2π / response. A response of 0 or less counts as 0.0001 s, a negative
    // fraction as 0.
    static SpringParameters fromResponse(double response, double dampingFraction);
    // The same stiffness, damped critically (no overshoot).
    SpringParameters criticallyDamped() const;

    // Seconds until a unit displacement released at rest stays within 0.001 of the target.
    double settlingDuration() const;
    // Displacement and velocity at time t of a spring released at displacement x0 with velocity v0.
    std::pair<double, double> state(double x0, double v0, double t) const;
};

// A cubic Bézier timing curve from (0, 0) to (1, 1) through the control points (x1, y1), (x2, y2).
struct CubicCurve
{
    double x1 = 0, y1 = 0, x2 = 1, y2 = 1;

    // The curve's y where its x is `progress` (clamped to 0…1).
    double valueAt(double progress) const;

    // The island's easing of fades and colour changes.
    static constexpr CubicCurve standard() { return {0.16, 1, 0.3, 1}; }
    static constexpr CubicCurve linear() { return {0, 0, 1, 1}; }
    static constexpr CubicCurve easeIn() { return {0.42, 0, 1, 1}; }
    static constexpr CubicCurve easeOut() { return {0, 0, 0.58, 1}; }
    static constexpr CubicCurve easeInOut() { return {0.42, 0, 0.58, 1}; }
    // The desktop's default timing, which the controls' capsule fades use.
    static constexpr CubicCurve defaultTiming() { return {0.25, 0.1, 0.25, 1}; }
};

struct TimedCurve
{
    double duration = 0.25; // seconds
    CubicCurve curve = CubicCurve::standard();
};

struct IslandAnimation
{
    // Absent: carry on from the value of the animation this one replaces (with its velocity when
    // both are springs); when there is none, the animation starts at `to` and only marks time.
    std::optional<AnimatedValue> from;
    AnimatedValue to = 0.0;
    std::variant<SpringParameters, TimedCurve> timing = SpringParameters{};
    // Springs only: velocity per second at the start, in the value's own components.
    std::optional<AnimatedValue> initialVelocity;
    // Seconds before it starts moving; meanwhile the value stays at the start value.
    double beginDelay = 0;
    // Called on every frame with the current value, and once more with `to` when it finishes.
    std::function<void(const AnimatedValue&)> onFrame;
    std::function<void(bool finished)> completion;

    static IslandAnimation spring(std::optional<AnimatedValue> from, AnimatedValue to, SpringParameters spring);
    static IslandAnimation timed(std::optional<AnimatedValue> from, AnimatedValue to, double duration,
                                 CubicCurve curve = CubicCurve::standard());

    // Seconds from start to end, delay included.
    double totalDuration() const;
};

// Calls one completion when every animation handed one of its tracking completions has ended:
// one transaction of animations with one end.
class IslandAnimationTransaction
{
public:
    explicit IslandAnimationTransaction(std::function<void()> completion);
    // A completion to give one animation of the transaction.
    std::function<void(bool)> track();
    // No more animations will be added; with none pending the completion comes on the next turn
    // of the main queue.
    void commit();

private:
    struct State;
    std::shared_ptr<State> m_state;
};

class IslandAnimator : public QObject
{
    Q_OBJECT

public:
    using Token = quint64;

    IslandAnimator();
    ~IslandAnimator() override;

    static IslandAnimator& shared();

    Token add(QObject* owner, const QString& key, IslandAnimation animation);
    // Ends the animation unfinished; false when there was none.
    bool remove(QObject* owner, const QString& key);
    // Every animation of the owner whose key begins with the prefix (all with an empty prefix).
    void removeAll(QObject* owner, const QString& prefix = {});

    bool contains(QObject* owner, const QString& key) const;
    bool containsPrefix(QObject* owner, const QString& prefix) const;
    QStringList keys(QObject* owner) const;
    // The value and velocity shown now; nothing when no animation runs under the key.
    std::optional<AnimatedValue> value(QObject* owner, const QString& key) const;
    // Per second, in the value's components (see AnimatedValues::components).
    std::optional<std::array<double, 4>> velocity(QObject* owner, const QString& key) const;
    std::optional<Token> token(QObject* owner, const QString& key) const;
    bool isRunning(Token token) const;
    int count() const;

    // Brings every animation to the scheduler's present; the frame timer calls it.
    void tick();

private:
    struct Running
    {
        Token token = 0;
        QString key;
        IslandAnimation animation;
        AnimatedValue start;
        std::array<double, 4> startVelocity{};
        qint64 startedAt = 0;     // scheduler milliseconds
        double totalDuration = 0; // seconds
        qint64 endsAt = 0;        // the first scheduler millisecond at which totalDuration has passed
        AnimatedValue current;
        std::array<double, 4> currentVelocity{};
    };
    struct OwnerAnimations
    {
        std::vector<std::unique_ptr<Running>> running;
        QMetaObject::Connection destroyedConnection;
    };

    Running* find(QObject* owner, const QString& key) const;
    void evaluate(Running& running, qint64 now) const;
    void finishLater(std::function<void(bool)> completion, bool finished);
    void ownerDestroyed(QObject* owner);
    void ensureFrames();
    bool hasPendingFrame(const IslandScheduler& scheduler, qint64 now) const;
    void forgetOwnerIfEmpty(QObject* owner);

    std::unordered_map<QObject*, OwnerAnimations> m_owners;
    Token m_nextToken = 1;
    std::shared_ptr<WorkItem> m_pendingFrame;
    quint64 m_frameScheduler = 0; // the identity of the scheduler the pending frame is on
    qint64 m_pendingFrameAt = 0; // when the pending frame is due
    qint64 m_regularFrameAt = 0; // the next frame of the steady cadence
    bool m_ticking = false;
};

// Components of a value and back (a colour as red, green, blue, alpha in 0…1).
namespace AnimatedValues {
int componentCount(const AnimatedValue& value);
std::array<double, 4> components(const AnimatedValue& value);
AnimatedValue make(const AnimatedValue& like, const std::array<double, 4>& components);
bool sameKind(const AnimatedValue& a, const AnimatedValue& b);
} // namespace AnimatedValues

} // namespace QuillomareMac
