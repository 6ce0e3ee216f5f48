#include "IslandAnimation.h"

#include "IslandScheduler.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <numbers>
#include <unordered_map>
#include <utility>

namespace QuillomareMac {

namespace {

constexpr qint64 kFrameMilliseconds = 16;
// A frame this long overdue was scheduled on a clock that no longer runs (a test's replaced one).
constexpr qint64 kStaleFrameMilliseconds = 1000;
constexpr double kSettlingEpsilon = 0.001;

// The whole milliseconds an animation of `seconds` lasts: the fewest after which the finishing
// test (elapsed seconds ≥ duration) holds, whatever the rounding of seconds × 1000.
qint64 durationMilliseconds(double seconds)
{
    double milliseconds = std::ceil(seconds * 1000.0);
    if (!(milliseconds < 1e12)) // also NaN
        milliseconds = 1e12;
    qint64 result = std::max<qint64>(qint64(milliseconds), 0);
    while (result > 0 && double(result - 1) / 1000.0 >= seconds)
        --result;
    while (double(result) / 1000.0 < seconds && result < qint64(1e12))
        ++result;
    return result;
}

} // namespace

// MARK: - Springs and curves

SpringParameters SpringParameters::fromResponse(double response, double dampingFraction)
{
    const double omega = 2 * std::numbers::pi / std::max(response, 0.0001);
    return SpringParameters{1, omega * omega, 2 * std::max(dampingFraction, 0.0) * omega};
}

SpringParameters SpringParameters::criticallyDamped() const
{
    return SpringParameters{mass, stiffness, 2 * std::sqrt(stiffness * mass)};
}

std::pair<double, double> SpringParameters::state(double x0, double v0, double t) const
{
    const double m = std::max(mass, 1e-9);
    const double k = std::max(stiffness, 1e-9);
    const double omega = std::sqrt(k / m);
    const double zeta = std::max(damping, 0.0) / (2 * std::sqrt(k * m));
    if (std::abs(zeta - 1) < 1e-6) {
        const double b = v0 + omega * x0;
        const double e = std::exp(-omega * t);
        return {(x0 + b * t) * e, (b - omega * (x0 + b * t)) * e};
    }
    if (zeta < 1) {
        const double omegaD = omega * std::sqrt(1 - zeta * zeta);
        const double decay = zeta * omega;
        const double b = (v0 + decay * x0) / omegaD;
        const double e = std::exp(-decay * t);
        const double c = std::cos(omegaD * t);
        const double s = std::sin(omegaD * t);
        const double x = e * (x0 * c + b * s);
        const double v = e * ((-decay) * (x0 * c + b * s) + (-x0 * omegaD * s + b * omegaD * c));
        return {x, v};
    }
    const double root = omega * std::sqrt(zeta * zeta - 1);
    const double r1 = -zeta * omega + root;
    const double r2 = -zeta * omega - root;
    const double c2 = (v0 - r1 * x0) / (r2 - r1);
    const double c1 = x0 - c2;
    const double e1 = std::exp(r1 * t);
    const double e2 = std::exp(r2 * t);
    return {c1 * e1 + c2 * e2, c1 * r1 * e1 + c2 * r2 * e2};
}

namespace {

// A time after which a unit displacement released at rest never again leaves the band: the
// envelope of the solution falls below it. Infinity when the spring has no damping.
double envelopeBound(const SpringParameters& spring)
{
    const double m = std::max(spring.mass, 1e-9);
    const double k = std::max(spring.stiffness, 1e-9);
    const double omega = std::sqrt(k / m);
    const double zeta = std::max(spring.damping, 0.0) / (2 * std::sqrt(k * m));
    if (zeta <= 0)
        return std::numeric_limits<double>::infinity();
    if (std::abs(zeta - 1) < 1e-6) {
        // (1 + ωt)·e^(−ωt) falls monotonically: find where it crosses the band.
        double low = 0;
        double high = 1 / omega;
        while ((1 + omega * high) * std::exp(-omega * high) >= kSettlingEpsilon)
            high *= 2;
        for (int i = 0; i < 60; ++i) {
            const double mid = (low + high) / 2;
            ((1 + omega * mid) * std::exp(-omega * mid) >= kSettlingEpsilon ? low : high) = mid;
        }
        return high;
    }
    if (zeta < 1) {
        // |x| ≤ √(1 + b²)·e^(−ζωt), b = ζω / ω_d.
        const double omegaD = omega * std::sqrt(1 - zeta * zeta);
        const double b = zeta * omega / omegaD;
        return std::log(std::sqrt(1 + b * b) / kSettlingEpsilon) / (zeta * omega);
    }
    // Overdamped: |x| ≤ (|c1| + |c2|)·e^(r1·t), r1 the slower root.
    const double root = omega * std::sqrt(zeta * zeta - 1);
    const double r1 = -zeta * omega + root;
    const double r2 = -zeta * omega - root;
    const double c2 = -r1 / (r2 - r1);
    const double c1 = 1 - c2;
    if (r1 >= 0)
        return std::numeric_limits<double>::infinity();
    return std::log((std::abs(c1) + std::abs(c2)) / kSettlingEpsilon) / -r1;
}

} // namespace

double SpringParameters::settlingDuration() const
{
    // Every echo and morph asks for its springs' durations several times, and the same few springs
    // recur: each is worked out once per thread.
    struct Key
    {
        double mass, stiffness, damping;
        bool operator==(const Key&) const = default;
    };
    struct KeyHash
    {
        size_t operator()(const Key& key) const
        {
            const std::hash<double> hash;
            return hash(key.mass) ^ (hash(key.stiffness) * 31) ^ (hash(key.damping) * 1000003);
        }
    };
    thread_local std::unordered_map<Key, double, KeyHash> cache;
    const Key key{mass, stiffness, damping};
    if (const auto found = cache.find(key); found != cache.end())
        return found->second;

    // The last millisecond at which a released unit displacement is still outside the band, plus
    // one; ten seconds is the longest any island spring is allowed to run. Past the envelope's
    // bound nothing is outside, so the walk goes back from there and stops at the first moment
    // outside: a fraction of a period instead of ten seconds of steps.
    constexpr double limit = 10.0;
    constexpr qint64 limitSteps = 10000;
    const double bound = envelopeBound(*this);
    qint64 step = bound < limit ? std::min<qint64>(limitSteps, qint64(std::ceil(bound * 1000.0)) + 1) : limitSteps;
    double result = 0.001;
    for (; step > 0; --step) {
        if (std::abs(state(1, 0, double(step) / 1000.0).first) >= kSettlingEpsilon) {
            result = std::min(limit, double(step + 1) / 1000.0);
            break;
        }
    }
    if (cache.size() > 256)
        cache.clear();
    cache.emplace(key, result);
    return result;
}

double CubicCurve::valueAt(double progress) const
{
    const double p = std::clamp(progress, 0.0, 1.0);
    if (p <= 0)
        return 0;
    if (p >= 1)
        return 1;
    const auto bezier = [](double a, double b, double s) {
        const double r = 1 - s;
        return 3 * r * r * s * a + 3 * r * s * s * b + s * s * s;
    };
    const auto slope = [](double a, double b, double s) {
        const double r = 1 - s;
        return 3 * r * r * a + 6 * r * s * (b - a) + 3 * s * s * (1 - b);
    };
    // Newton's method from the linear guess, bisection when the slope gives out.
    double s = p;
    for (int i = 0; i < 8; ++i) {
        const double error = bezier(x1, x2, s) - p;
        if (std::abs(error) < 1e-7)
            return bezier(y1, y2, s);
        const double d = slope(x1, x2, s);
        if (std::abs(d) < 1e-6)
            break;
        s = std::clamp(s - error / d, 0.0, 1.0);
    }
    double low = 0, high = 1;
    s = p;
    for (int i = 0; i < 60; ++i) {
        const double x = bezier(x1, x2, s);
        if (std::abs(x - p) < 1e-9)
            break;
        (x < p ? low : high) = s;
        s = (low + high) / 2;
    }
    return bezier(y1, y2, s);
}

// MARK: - Values

namespace AnimatedValues {

int componentCount(const AnimatedValue& value)
{
    switch (value.index()) {
    case 0:
        return 1;
    case 1:
        return 2;
    default:
        return 4;
    }
}

std::array<double, 4> components(const AnimatedValue& value)
{
    if (const double* number = std::get_if<double>(&value))
        return {*number, 0, 0, 0};
    if (const QPointF* point = std::get_if<QPointF>(&value))
        return {point->x(), point->y(), 0, 0};
    if (const QRectF* rect = std::get_if<QRectF>(&value))
        return {rect->x(), rect->y(), rect->width(), rect->height()};
    const QColor color = std::get<QColor>(value).toRgb();
    return {color.redF(), color.greenF(), color.blueF(), color.alphaF()};
}

AnimatedValue make(const AnimatedValue& like, const std::array<double, 4>& c)
{
    switch (like.index()) {
    case 0:
        return c[0];
    case 1:
        return QPointF(c[0], c[1]);
    case 2:
        return QRectF(c[0], c[1], c[2], c[3]);
    default: {
        const auto unit = [](double v) { return float(std::clamp(v, 0.0, 1.0)); };
        return QColor::fromRgbF(unit(c[0]), unit(c[1]), unit(c[2]), unit(c[3]));
    }
    }
}

bool sameKind(const AnimatedValue& a, const AnimatedValue& b)
{
    return a.index() == b.index();
}

} // namespace AnimatedValues

IslandAnimation IslandAnimation::spring(std::optional<AnimatedValue> from, AnimatedValue to, SpringParameters spring)
{
    IslandAnimation animation;
    animation.from = std::move(from);
    animation.to = std::move(to);
    animation.timing = spring;
    return animation;
}

IslandAnimation IslandAnimation::timed(std::optional<AnimatedValue> from, AnimatedValue to, double duration,
                                       CubicCurve curve)
{
    IslandAnimation animation;
    animation.from = std::move(from);
    animation.to = std::move(to);
    animation.timing = TimedCurve{duration, curve};
    return animation;
}

double IslandAnimation::totalDuration() const
{
    const double delay = std::max(beginDelay, 0.0);
    if (const auto* spring = std::get_if<SpringParameters>(&timing))
        return delay + spring->settlingDuration();
    return delay + std::max(std::get<TimedCurve>(timing).duration, 0.0);
}

// MARK: - Transactions

struct IslandAnimationTransaction::State
{
    int pending = 0;
    bool committed = false;
    bool fired = false;
    std::function<void()> completion;

    void fireIfDone()
    {
        if (!committed || pending > 0 || fired)
            return;
        fired = true;
        if (auto completionToRun = std::move(completion))
            completionToRun();
    }
};

IslandAnimationTransaction::IslandAnimationTransaction(std::function<void()> completion)
    : m_state(std::make_shared<State>())
{
    m_state->completion = std::move(completion);
}

std::function<void(bool)> IslandAnimationTransaction::track()
{
    ++m_state->pending;
    return [state = m_state, counted = std::make_shared<bool>(false)](bool) {
        if (*counted)
            return;
        *counted = true;
        --state->pending;
        state->fireIfDone();
    };
}

void IslandAnimationTransaction::commit()
{
    m_state->committed = true;
    if (m_state->pending == 0) {
        IslandScheduler::shared().schedule(0, nullptr, [state = m_state] { state->fireIfDone(); });
    }
}

// MARK: - The engine

IslandAnimator::IslandAnimator() = default;

IslandAnimator::~IslandAnimator()
{
    for (auto& [owner, entry] : m_owners)
        disconnect(entry.destroyedConnection);
    if (m_pendingFrame)
        m_pendingFrame->cancel();
}

IslandAnimator& IslandAnimator::shared()
{
    static IslandAnimator* animator = new IslandAnimator; // lives as long as the process
    return *animator;
}

IslandAnimator::Running* IslandAnimator::find(QObject* owner, const QString& key) const
{
    const auto it = m_owners.find(owner);
    if (it == m_owners.end())
        return nullptr;
    for (const auto& running : it->second.running) {
        if (running->key == key)
            return running.get();
    }
    return nullptr;
}

IslandAnimator::Token IslandAnimator::add(QObject* owner, const QString& key, IslandAnimation animation)
{
    const qint64 now = IslandScheduler::shared().now();
    auto running = std::make_unique<Running>();
    running->token = m_nextToken++;
    running->key = key;
    running->startedAt = now;

    std::optional<AnimatedValue> carriedValue;
    std::array<double, 4> carriedVelocity{};
    bool carriedSpring = false;
    if (Running* previous = find(owner, key)) {
        evaluate(*previous, now);
        carriedValue = previous->current;
        carriedVelocity = previous->currentVelocity;
        carriedSpring = std::holds_alternative<SpringParameters>(previous->animation.timing);
        // Replaced: it ends unfinished, after its value was taken over.
        remove(owner, key);
    }

    if (animation.from && AnimatedValues::sameKind(*animation.from, animation.to)) {
        running->start = *animation.from;
    } else if (!animation.from && carriedValue && AnimatedValues::sameKind(*carriedValue, animation.to)) {
        running->start = *carriedValue;
        if (carriedSpring && std::holds_alternative<SpringParameters>(animation.timing) && !animation.initialVelocity)
            running->startVelocity = carriedVelocity;
    } else {
        running->start = animation.to;
    }
    if (animation.initialVelocity && AnimatedValues::sameKind(*animation.initialVelocity, animation.to))
        running->startVelocity = AnimatedValues::components(*animation.initialVelocity);
    running->animation = std::move(animation);
    running->totalDuration = running->animation.totalDuration();
    running->endsAt = running->startedAt + durationMilliseconds(running->totalDuration);
    running->current = running->start;
    running->currentVelocity = running->startVelocity;

    auto& entry = m_owners[owner];
    if (!entry.destroyedConnection) {
        entry.destroyedConnection =
            connect(owner, &QObject::destroyed, this, [this, owner] { ownerDestroyed(owner); });
    }
    const Token token = running->token;
    const auto onFrame = running->animation.onFrame;
    const AnimatedValue start = running->start;
    entry.running.push_back(std::move(running));
    ensureFrames();
    if (onFrame)
        onFrame(start);
    return token;
}

bool IslandAnimator::remove(QObject* owner, const QString& key)
{
    auto it = m_owners.find(owner);
    if (it == m_owners.end())
        return false;
    auto& list = it->second.running;
    const auto found = std::find_if(list.begin(), list.end(), [&](const auto& r) { return r->key == key; });
    if (found == list.end())
        return false;
    auto completion = std::move((*found)->animation.completion);
    list.erase(found);
    forgetOwnerIfEmpty(owner);
    finishLater(std::move(completion), false);
    return true;
}

void IslandAnimator::removeAll(QObject* owner, const QString& prefix)
{
    const QStringList matching = [&] {
        QStringList found;
        for (const QString& key : keys(owner)) {
            if (key.startsWith(prefix))
                found.append(key);
        }
        return found;
    }();
    for (const QString& key : matching)
        remove(owner, key);
}

bool IslandAnimator::contains(QObject* owner, const QString& key) const
{
    return find(owner, key) != nullptr;
}

bool IslandAnimator::containsPrefix(QObject* owner, const QString& prefix) const
{
    const auto it = m_owners.find(owner);
    if (it == m_owners.end())
        return false;
    return std::any_of(it->second.running.begin(), it->second.running.end(),
                       [&](const auto& r) { return r->key.startsWith(prefix); });
}

QStringList IslandAnimator::keys(QObject* owner) const
{
    QStringList result;
    const auto it = m_owners.find(owner);
    if (it != m_owners.end()) {
        for (const auto& running : it->second.running)
            result.append(running->key);
    }
    return result;
}

std::optional<AnimatedValue> IslandAnimator::value(QObject* owner, const QString& key) const
{
    Running* running = find(owner, key);
    if (!running)
        return std::nullopt;
    evaluate(*running, IslandScheduler::shared().now());
    return running->current;
}

std::optional<std::array<double, 4>> IslandAnimator::velocity(QObject* owner, const QString& key) const
{
    Running* running = find(owner, key);
    if (!running)
        return std::nullopt;
    evaluate(*running, IslandScheduler::shared().now());
    return running->currentVelocity;
}

std::optional<IslandAnimator::Token> IslandAnimator::token(QObject* owner, const QString& key) const
{
    if (Running* running = find(owner, key))
        return running->token;
    return std::nullopt;
}

bool IslandAnimator::isRunning(Token token) const
{
    for (const auto& [owner, entry] : m_owners) {
        for (const auto& running : entry.running) {
            if (running->token == token)
                return true;
        }
    }
    return false;
}

int IslandAnimator::count() const
{
    int total = 0;
    for (const auto& [owner, entry] : m_owners)
        total += int(entry.running.size());
    return total;
}

void IslandAnimator::evaluate(Running& running, qint64 now) const
{
    const IslandAnimation& animation = running.animation;
    const double elapsed = double(now - running.startedAt) / 1000.0 - std::max(animation.beginDelay, 0.0);
    if (elapsed <= 0) {
        running.current = running.start;
        running.currentVelocity = running.startVelocity;
        return;
    }
    const auto from = AnimatedValues::components(running.start);
    const auto to = AnimatedValues::components(animation.to);
    std::array<double, 4> value{};
    std::array<double, 4> velocity{};
    const int count = AnimatedValues::componentCount(animation.to);
    if (const auto* spring = std::get_if<SpringParameters>(&animation.timing)) {
        for (int i = 0; i < count; ++i) {
            const auto [x, v] = spring->state(from[i] - to[i], running.startVelocity[i], elapsed);
            value[i] = to[i] + x;
            velocity[i] = v;
        }
    } else {
        const TimedCurve& timed = std::get<TimedCurve>(animation.timing);
        const double progress = timed.duration > 0 ? elapsed / timed.duration : 1.0;
        const double eased = timed.curve.valueAt(progress);
        for (int i = 0; i < count; ++i)
            value[i] = from[i] + (to[i] - from[i]) * eased;
    }
    running.current = AnimatedValues::make(animation.to, value);
    running.currentVelocity = velocity;
}

void IslandAnimator::finishLater(std::function<void(bool)> completion, bool finished)
{
    if (!completion)
        return;
    IslandScheduler::shared().schedule(0, nullptr, [completion = std::move(completion), finished] {
        completion(finished);
    });
}

void IslandAnimator::ownerDestroyed(QObject* owner)
{
    const auto it = m_owners.find(owner);
    if (it == m_owners.end())
        return;
    OwnerAnimations entry = std::move(it->second);
    m_owners.erase(it);
    for (auto& running : entry.running)
        finishLater(std::move(running->animation.completion), false);
}

void IslandAnimator::forgetOwnerIfEmpty(QObject* owner)
{
    const auto it = m_owners.find(owner);
    if (it != m_owners.end() && it->second.running.empty()) {
        disconnect(it->second.destroyedConnection);
        m_owners.erase(it);
    }
}

bool IslandAnimator::hasPendingFrame(const IslandScheduler& scheduler, qint64 now) const
{
    return m_pendingFrame && !m_pendingFrame->isCancelled() && m_frameScheduler == scheduler.identity() &&
           m_pendingFrameAt <= now + kFrameMilliseconds && m_pendingFrameAt + kStaleFrameMilliseconds >= now;
}

void IslandAnimator::ensureFrames()
{
    if (m_owners.empty()) {
        if (m_pendingFrame)
            m_pendingFrame->cancel();
        m_pendingFrame.reset();
        return;
    }
    IslandScheduler& scheduler = IslandScheduler::shared();
    const qint64 now = scheduler.now();
    const bool pending = hasPendingFrame(scheduler, now);
    // Frames starting from rest begin a new cadence; a frame added for an animation's end leaves
    // the cadence where it was.
    if (!pending && !m_ticking)
        m_regularFrameAt = now + kFrameMilliseconds;
    qint64 due = m_regularFrameAt;
    for (const auto& [owner, entry] : m_owners) {
        for (const auto& running : entry.running)
            due = std::min(due, running->endsAt);
    }
    due = std::max(due, now);
    if (pending && m_pendingFrameAt <= due)
        return;
    if (m_pendingFrame)
        m_pendingFrame->cancel();
    m_frameScheduler = scheduler.identity();
    m_pendingFrameAt = due;
    m_pendingFrame = scheduler.schedule(due - now, this, [this] {
        m_pendingFrame.reset();
        tick();
    });
}

void IslandAnimator::tick()
{
    const qint64 now = IslandScheduler::shared().now();
    if (now >= m_regularFrameAt || m_regularFrameAt > now + kFrameMilliseconds)
        m_regularFrameAt = now + kFrameMilliseconds;
    const bool wasTicking = std::exchange(m_ticking, true);
    // Frame callbacks may add or remove animations: walk a list of tokens, looking each up again.
    struct Step
    {
        QObject* owner;
        Token token;
    };
    std::vector<Step> steps;
    for (const auto& [owner, entry] : m_owners) {
        for (const auto& running : entry.running)
            steps.push_back({owner, running->token});
    }
    for (const Step& step : steps) {
        auto it = m_owners.find(step.owner);
        if (it == m_owners.end())
            continue;
        auto& list = it->second.running;
        const auto found = std::find_if(list.begin(), list.end(), [&](const auto& r) { return r->token == step.token; });
        if (found == list.end())
            continue;
        Running& running = **found;
        const double elapsed = double(now - running.startedAt) / 1000.0;
        if (elapsed >= running.totalDuration) {
            auto onFrame = std::move(running.animation.onFrame);
            auto completion = std::move(running.animation.completion);
            const AnimatedValue end = running.animation.to;
            list.erase(found);
            forgetOwnerIfEmpty(step.owner);
            if (onFrame)
                onFrame(end);
            finishLater(std::move(completion), true);
            continue;
        }
        evaluate(running, now);
        if (running.animation.onFrame) {
            const auto onFrame = running.animation.onFrame;
            const AnimatedValue current = running.current;
            onFrame(current);
        }
    }
    ensureFrames();
    m_ticking = wasTicking;
}

} // namespace QuillomareMac
