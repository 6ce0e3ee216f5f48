#include "TestSupport.h"

#include "Island/Kit/IslandAnimation.h"
#include "Island/Kit/IslandScheduler.h"

#include <QApplication>

#include <cmath>
#include <memory>

using namespace QuillomareMac;

namespace {

double number(const std::optional<AnimatedValue>& value)
{
    return value ? std::get<double>(*value) : std::nan("");
}

} // namespace

class TestIslandAnimation : public QObject
{
    Q_OBJECT

private:
    static QString key(const char* name) { return QString::fromLatin1(name); }
    bool has(const char* name) const { return m_animator->contains(m_owner.get(), key(name)); }
    double val(const char* name) const { return number(m_animator->value(m_owner.get(), key(name))); }
    auto add(const char* name, IslandAnimation animation)
    {
        return m_animator->add(m_owner.get(), key(name), std::move(animation));
    }

    std::shared_ptr<ManualIslandScheduler> m_scheduler;
    std::unique_ptr<IslandAnimator> m_animator;
    std::unique_ptr<QObject> m_owner;

private Q_SLOTS:
    void init()
    {
        m_scheduler = std::make_shared<ManualIslandScheduler>();
        IslandScheduler::setSharedForTesting(m_scheduler);
        m_animator = std::make_unique<IslandAnimator>();
        m_owner = std::make_unique<QObject>();
    }

    void cleanup()
    {
        m_owner.reset();
        m_animator.reset();
        IslandScheduler::setSharedForTesting(nullptr);
        m_scheduler.reset();
    }

    void settlingDurationGrowsWithResponseAndShrinksWithDamping()
    {
        const double expand = SpringParameters::fromResponse(0.42, 0.8).settlingDuration();
        const double collapse = SpringParameters::fromResponse(0.45, 1.0).settlingDuration();
        QVERIFY2(expand > 0.3 && expand < 1.5, qPrintable(QString::number(expand)));
        QVERIFY2(collapse > 0.3 && collapse < 1.5, qPrintable(QString::number(collapse)));
        QVERIFY(SpringParameters::fromResponse(0.8, 1.0).settlingDuration() > collapse);
        QVERIFY(SpringParameters::fromResponse(0.45, 0.3).settlingDuration() > collapse);
        // Settled means it stays within the band afterwards.
        const SpringParameters spring = SpringParameters::fromResponse(0.42, 0.5);
        const double settling = spring.settlingDuration();
        for (double t = settling; t < settling + 2; t += 0.01)
            QVERIFY(std::abs(spring.state(1, 0, t).first) < 0.001);
        QVERIFY(std::abs(spring.state(1, 0, settling - 0.05).first) >= 0.0005);
        // Out-of-range inputs are clamped, not propagated as infinities or negative damping.
        const SpringParameters clamped = SpringParameters::fromResponse(0, -1);
        QVERIFY(std::isfinite(clamped.stiffness));
        QCOMPARE(clamped.damping, 0.0);
    }

    void springSettlesOnTheTargetAndFinishesOnce()
    {
        QList<bool> completions;
        QList<double> frames;
        IslandAnimation animation = IslandAnimation::spring(0.0, 100.0, SpringParameters::fromResponse(0.3, 1.0));
        animation.onFrame = [&](const AnimatedValue& value) { frames << std::get<double>(value); };
        animation.completion = [&](bool finished) { completions << finished; };
        add("morph.x", std::move(animation));
        QCOMPARE(frames, QList<double>({0.0}));

        m_scheduler->advance(100);
        const double early = val("morph.x");
        QVERIFY(early > 0 && early < 100);
        QVERIFY(m_animator->containsPrefix(m_owner.get(), key("morph.")));

        m_scheduler->advance(3000);
        QCOMPARE(completions, QList<bool>({true}));
        QCOMPARE(frames.last(), 100.0);
        QVERIFY(!has("morph.x"));
        QCOMPARE(m_animator->count(), 0);
        m_scheduler->advance(1000);
        QCOMPARE(completions.size(), 1);
        // Frames stop when nothing runs.
        QCOMPARE(m_scheduler->pendingCount(), 0);
    }

    void underdampedSpringOvershootsAndCriticalDoesNot()
    {
        add("a", IslandAnimation::spring(0.0, 1.0, SpringParameters::fromResponse(0.42, 0.5)));
        add("b", IslandAnimation::spring(0.0, 1.0, SpringParameters::fromResponse(0.42, 0.5).criticallyDamped()));
        double maxA = 0, maxB = 0;
        for (int step = 0; step < 60; ++step) {
            m_scheduler->advance(16);
            maxA = std::max(maxA, val("a"));
            maxB = std::max(maxB, val("b"));
        }
        QVERIFY2(maxA > 1.05, qPrintable(QString::number(maxA)));
        QVERIFY2(maxB <= 1.0 + 1e-9, qPrintable(QString::number(maxB)));
    }

    void addingUnderAKeyReplacesAndContinuesFromTheCurrentValue()
    {
        QList<bool> first;
        IslandAnimation animation = IslandAnimation::spring(0.0, 100.0, SpringParameters::fromResponse(0.4, 0.8));
        animation.completion = [&](bool finished) { first << finished; };
        const auto firstToken = add("k", std::move(animation));
        m_scheduler->advance(120);
        const double reached = val("k");
        const auto velocity = m_animator->velocity(m_owner.get(), key("k"));
        QVERIFY(reached > 10 && reached < 100);
        QVERIFY(velocity && (*velocity)[0] > 0);

        // No start value: carry on from where the replaced one is, with its velocity.
        QList<bool> second;
        IslandAnimation back = IslandAnimation::spring(std::nullopt, 0.0, SpringParameters::fromResponse(0.4, 1.0));
        back.completion = [&](bool finished) { second << finished; };
        const auto secondToken = add("k", std::move(back));
        QCOMPARE(val("k"), reached);
        QCOMPARE((*m_animator->velocity(m_owner.get(), key("k")))[0], (*velocity)[0]);
        QVERIFY(!m_animator->isRunning(firstToken));
        QVERIFY(m_animator->isRunning(secondToken));
        QCOMPARE(m_animator->keys(m_owner.get()), QStringList({QStringLiteral("k")}));

        // The carried velocity keeps it moving up for a moment before it turns back.
        m_scheduler->advance(16);
        QVERIFY(val("k") > reached);
        QCOMPARE(first, QList<bool>({false}));
        QVERIFY(second.isEmpty());
        m_scheduler->advance(3000);
        QCOMPARE(first, QList<bool>({false}));
        QCOMPARE(second, QList<bool>({true}));
    }

    void removalFinishesUnfinishedAndLater()
    {
        QList<bool> completions;
        IslandAnimation animation = IslandAnimation::timed(0.0, 1.0, 1.0);
        animation.completion = [&](bool finished) { completions << finished; };
        add("echo.bounds", std::move(animation));
        add("morph.bounds", IslandAnimation::timed(0.0, 1.0, 1.0));
        m_scheduler->advance(100);
        m_animator->removeAll(m_owner.get(), QStringLiteral("echo."));
        // Not from inside the call that removed it…
        QVERIFY(completions.isEmpty());
        QVERIFY(!has("echo.bounds"));
        QVERIFY(has("morph.bounds"));
        // …but on the next turn of the main queue, once.
        m_scheduler->advance(0);
        QCOMPARE(completions, QList<bool>({false}));
        QVERIFY(!m_animator->remove(m_owner.get(), key("echo.bounds")));
        m_scheduler->advance(2000);
        QCOMPARE(completions, QList<bool>({false}));
    }

    void ownerDestroyedEndsItsAnimations()
    {
        QList<bool> completions;
        int frames = 0;
        IslandAnimation animation = IslandAnimation::timed(0.0, 1.0, 1.0);
        animation.onFrame = [&](const AnimatedValue&) { ++frames; };
        animation.completion = [&](bool finished) { completions << finished; };
        add("k", std::move(animation));
        m_owner.reset();
        const int framesAtDestruction = frames;
        m_scheduler->advance(2000);
        QCOMPARE(frames, framesAtDestruction);
        QCOMPARE(completions, QList<bool>({false}));
        QCOMPARE(m_animator->count(), 0);
    }

    void cubicCurveEndPointsAndMonotonicity_data()
    {
        QTest::addColumn<QList<double>>("p");
        QTest::newRow("steep start") << QList<double>{0.16, 1.0, 0.3, 1.0};
        QTest::newRow("ease in") << QList<double>{0.42, 0.0, 1.0, 1.0};
        QTest::newRow("linear") << QList<double>{0.0, 0.0, 1.0, 1.0};
    }

    void cubicCurveEndPointsAndMonotonicity()
    {
        QFETCH(QList<double>, p);
        const CubicCurve curve{p[0], p[1], p[2], p[3]};
        QCOMPARE(curve.valueAt(0), 0.0);
        QCOMPARE(curve.valueAt(1), 1.0);
        QCOMPARE(curve.valueAt(-0.5), 0.0);
        QCOMPARE(curve.valueAt(1.5), 1.0);
        double previous = 0;
        for (int i = 1; i <= 1000; ++i) {
            const double value = curve.valueAt(i / 1000.0);
            QVERIFY2(value >= previous - 1e-9, qPrintable(QStringLiteral("at %1").arg(i)));
            previous = value;
        }
        if (p == QList<double>{0.0, 0.0, 1.0, 1.0})
            QVERIFY(std::abs(curve.valueAt(0.3) - 0.3) < 1e-6);
    }

    void settlingDurationMatchesTheMillisecondWalk_data()
    {
        QTest::addColumn<double>("mass");
        QTest::addColumn<double>("stiffness");
        QTest::addColumn<double>("damping");
        const auto response = [](const char* name, double r, double fraction) {
            const SpringParameters s = SpringParameters::fromResponse(r, fraction);
            QTest::newRow(name) << s.mass << s.stiffness << s.damping;
        };
        response("expand 0.42/0.8", 0.42, 0.8);
        response("collapse 0.45/1.0", 0.45, 1.0);
        response("collapse radius (critical)", 0.45, 1.0);
        response("bouncy 0.5/0.2", 0.5, 0.2);
        response("barely damped 0.3/0.02", 0.3, 0.02);
        response("overdamped 0.3/2.5", 0.3, 2.5);
        response("near critical 0.4/0.9999", 0.4, 0.9999);
        response("undamped", 0.4, 0.0);
        response("response 0", 0, 0.7);
        QTest::newRow("echo spring") << 1.0 << 385.5314219175531 << 33.37942194439155;
        QTest::newRow("badge scale") << 1.0 << 320.0 << 22.0;
        QTest::newRow("critically damped echo") << 1.0 << 385.5314219175531 << 2 * std::sqrt(385.5314219175531);
        QTest::newRow("heavy slow") << 4.0 << 10.0 << 1.0;
        QTest::newRow("too slow for ten seconds") << 1.0 << 1.0 << 0.5;
    }

    void settlingDurationMatchesTheMillisecondWalk()
    {
        QFETCH(double, mass);
        QFETCH(double, stiffness);
        QFETCH(double, damping);
        const SpringParameters spring{mass, stiffness, damping};
        // The reference: every millisecond of ten seconds, the last one still outside the band.
        double lastOutside = 0;
        for (int step = 0; step <= 10000; ++step) {
            if (std::abs(spring.state(1, 0, step / 1000.0).first) >= 0.001)
                lastOutside = step / 1000.0;
        }
        const double walked = std::min(10.0, lastOutside + 0.001);
        const double settling = spring.settlingDuration();
        QVERIFY2(std::abs(settling - walked) <= 0.001 + 1e-9,
                 qPrintable(QStringLiteral("%1 against %2").arg(settling).arg(walked)));
        // Asked again (a cached answer), it is the same.
        QCOMPARE(spring.settlingDuration(), settling);
    }

    void timedAnimationWithDelayHoldsItsStartValue()
    {
        IslandAnimation animation = IslandAnimation::timed(0.2, 1.0, 0.26);
        animation.beginDelay = 0.04;
        add("fade", std::move(animation));
        m_scheduler->advance(32);
        QCOMPARE(val("fade"), 0.2);
        m_scheduler->advance(16);
        QVERIFY(val("fade") > 0.2);
        // Standard easing reaches most of the way early.
        m_scheduler->advance(92); // 0.1 s into the fade
        QVERIFY(val("fade") > 0.8);
        m_scheduler->advance(200);
        QVERIFY(!has("fade"));
    }

    void valuesOfEveryKindInterpolate()
    {
        add("rect", IslandAnimation::timed(QRectF(10, 20, 185, 32), QRectF(0, 0, 780, 430), 1.0, CubicCurve::linear()));
        add("point", IslandAnimation::timed(QPointF(0, 0), QPointF(100, -100), 1.0, CubicCurve::linear()));
        add("color", IslandAnimation::timed(QColor(0, 0, 0, 0), QColor(255, 255, 255, 255), 1.0, CubicCurve::linear()));
        m_scheduler->advance(500);
        const QRectF rect = std::get<QRectF>(*m_animator->value(m_owner.get(), key("rect")));
        QVERIFY(std::abs(rect.x() - 5) < 1e-6 && std::abs(rect.y() - 10) < 1e-6);
        QVERIFY(std::abs(rect.width() - 482.5) < 1e-6 && std::abs(rect.height() - 231) < 1e-6);
        const QPointF point = std::get<QPointF>(*m_animator->value(m_owner.get(), key("point")));
        QVERIFY(std::abs(point.x() - 50) < 1e-6 && std::abs(point.y() + 50) < 1e-6);
        const QColor color = std::get<QColor>(*m_animator->value(m_owner.get(), key("color")));
        QVERIFY(std::abs(color.alphaF() - 0.5) < 0.01 && std::abs(color.redF() - 0.5) < 0.01);
    }

    void transactionCompletesOnceAfterAllItsAnimations()
    {
        // The transaction's completion comes through the shared animator's clock as well.
        int completions = 0;
        {
            IslandAnimationTransaction transaction([&] { ++completions; });
            IslandAnimation shortOne = IslandAnimation::timed(0.0, 1.0, 0.1);
            shortOne.completion = transaction.track();
            IslandAnimation longOne = IslandAnimation::timed(0.0, 1.0, 0.5);
            longOne.completion = transaction.track();
            add("short", std::move(shortOne));
            add("long", std::move(longOne));
            transaction.commit();
        }
        m_scheduler->advance(200);
        QCOMPARE(completions, 0);
        // A replaced member counts as ended.
        add("long", IslandAnimation::timed(0.0, 1.0, 5.0));
        m_scheduler->advance(0);
        QCOMPARE(completions, 1);
        m_scheduler->advance(6000);
        QCOMPARE(completions, 1);

        // An empty transaction completes on the next turn.
        IslandAnimationTransaction empty([&] { ++completions; });
        empty.commit();
        QCOMPARE(completions, 1);
        m_scheduler->advance(0);
        QCOMPARE(completions, 2);
    }

    void lastFrameFallsOnTheEndWithoutShiftingTheCadence()
    {
        // A longer animation started first sets the cadence of frames off the fade's start.
        QList<qint64> cadenceFrames;
        IslandAnimation longer = IslandAnimation::timed(0.0, 1.0, 2.0);
        longer.onFrame = [&](const AnimatedValue&) { cadenceFrames << m_scheduler->now(); };
        add("longer", std::move(longer));
        m_scheduler->advance(5);

        QList<double> frames;
        QList<bool> completions;
        IslandAnimation fade = IslandAnimation::timed(1.0, 0.0, 0.28, CubicCurve::easeIn());
        fade.onFrame = [&](const AnimatedValue& value) { frames << std::get<double>(value); };
        fade.completion = [&](bool finished) { completions << finished; };
        add("fade", std::move(fade));
        m_scheduler->advance(279);
        QVERIFY(frames.last() > 0.0);
        QVERIFY(completions.isEmpty());
        // 0.28 s after it began, not at the next frame of the cadence.
        m_scheduler->advance(1);
        QCOMPARE(frames.last(), 0.0);
        QCOMPARE(completions, QList<bool>({true}));
        QVERIFY(!has("fade"));

        m_scheduler->advance(100);
        for (const qint64 at : cadenceFrames)
            QVERIFY2(at % 16 == 0 || at == 5 + 280, qPrintable(QString::number(at)));
        QVERIFY(cadenceFrames.contains(288));
    }

    void framesFollowAClockThatReplacedTheOldOne()
    {
        // An animation left running when its clock went away (the end of a test)…
        add("k", IslandAnimation::timed(0.0, 1.0, 1.0));
        m_scheduler->advance(100);
        m_owner = std::make_unique<QObject>();
        IslandScheduler::setSharedForTesting(nullptr);
        m_scheduler.reset();
        // …does not hold up the frames of the next clock, often made at the same address.
        m_scheduler = std::make_shared<ManualIslandScheduler>();
        IslandScheduler::setSharedForTesting(m_scheduler);
        QList<bool> completions;
        IslandAnimation animation = IslandAnimation::timed(0.0, 1.0, 0.1);
        animation.completion = [&](bool finished) { completions << finished; };
        add("k", std::move(animation));
        m_scheduler->advance(100);
        QCOMPARE(completions, QList<bool>({true}));
    }

    void aFrameLeftOnAClockThatWentAwayDoesNotStandForOneOnTheNextAtItsAddress()
    {
        // Both clocks live in the same storage, as the allocator often arranges between tests.
        alignas(ManualIslandScheduler) unsigned char storage[sizeof(ManualIslandScheduler)];
        const auto clockAt = [&] {
            auto* clock = new (storage) ManualIslandScheduler;
            return std::shared_ptr<ManualIslandScheduler>(clock,
                                                          [](ManualIslandScheduler* c) { c->~ManualIslandScheduler(); });
        };
        auto first = clockAt();
        IslandScheduler::setSharedForTesting(first);
        // A frame is due on the first clock at its very start when it goes away.
        add("k", IslandAnimation::timed(0.0, 1.0, 1.0));
        m_owner = std::make_unique<QObject>();
        IslandScheduler::setSharedForTesting(nullptr);
        first.reset();

        auto second = clockAt();
        IslandScheduler::setSharedForTesting(second);
        QList<bool> completions;
        double shown = 0;
        IslandAnimation animation = IslandAnimation::timed(0.0, 1.0, 0.1);
        animation.onFrame = [&](const AnimatedValue& value) { shown = std::get<double>(value); };
        animation.completion = [&](bool finished) { completions << finished; };
        add("k", std::move(animation));
        second->advance(200);
        QCOMPARE(shown, 1.0);
        QCOMPARE(completions, QList<bool>({true}));
        IslandScheduler::setSharedForTesting(m_scheduler);
    }
};

QUILLOMARE_GUI_TEST_MAIN(TestIslandAnimation)
#include "tst_islandanimation.moc"
