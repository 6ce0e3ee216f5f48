// The island's probe switches, run as a developer runs them: the built program in a home of the
// test's own, without a display, the verdict read from the exit status and the printed findings.

#include "TestSupport.h"

#include <QDir>
#include <QDirIterator>
#include <QFileInfo>
#include <QTemporaryDir>

using namespace Qt::StringLiterals;

namespace {

// A probe's run with its output read as findings.
struct Run
{
    QuillomareTest::ProgramRun program;
    QString name; // the probe's name, as it prints it
    QStringList lines;

    QString verdict() const { return lines.isEmpty() ? QString() : lines.constLast(); }
    // The value of a finding; empty when it was not printed.
    QString value(const QString& finding) const { return QuillomareTest::probeFinding(lines, name, finding); }
    qint64 number(const QString& finding) const { return value(finding).toLongLong(); }
};

} // namespace

class ProbesIslandTest : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<QTemporaryDir> m_dir;

    QString home() const { return m_dir->path() + u"/home"_s; }

    // Runs the program with one switch; `environment` adds to (or, with an empty value, takes
    // from) the test's environment.
    Run run(const QString& flag, const QString& name, const QMap<QString, QString>& environment = {})
    {
        QProcessEnvironment variables = QuillomareTest::offscreenProgramEnvironment(home());
        // Motion is on unless a row turns it off: the desktop's own choice is not the test's.
        variables.insert(u"QUILLOMARE_REDUCE_MOTION"_s, u"0"_s);
        variables.remove(u"QUILLOMARE_SIMULATE_NOTCH"_s);
        for (auto it = environment.cbegin(); it != environment.cend(); ++it)
            variables.insert(it.key(), it.value());
        Run result;
        result.program = QuillomareTest::runBuiltProgram({flag}, variables, m_dir->path(), 90000);
        result.name = name;
        result.lines = result.program.lines();
        return result;
    }

    // Passed, with every line in the probes' form.
    static bool passed(const Run& run) { return QuillomareTest::probePassProblem(run.program, run.name).isEmpty(); }

    static QByteArray describe(const Run& run) { return QuillomareTest::describeRun(run.program); }

private Q_SLOTS:
    void initTestCase() { QUILLOMARE_VERIFY_PROGRAM_BUILT(); }

    void init()
    {
        m_dir = std::make_unique<QTemporaryDir>();
        QVERIFY(m_dir->isValid());
        QVERIFY(QDir().mkpath(home()));
        QuillomareTest::markGuideShown(home());
    }

    // Each probe passes and prints the findings that make its verdict; it leaves no history or
    // shelf file behind (it builds its island without the stores).
    void probePasses_data()
    {
        QTest::addColumn<QString>("flag");
        QTest::addColumn<QString>("name");
        QTest::addColumn<QStringList>("holding");
        QTest::newRow("anim") << u"--anim-probe"_s << u"animProbe"_s
                              << QStringList{u"expand.startsAtPill"_s,
                                             u"expand.framesInBetween"_s,
                                             u"expand.fromTopCentre"_s,
                                             u"expand.towardTarget"_s,
                                             u"expand.endsExactly"_s,
                                             u"collapse.framesInBetween"_s,
                                             u"collapse.stageHeldUntilSettled"_s,
                                             u"collapse.endsExactly"_s};
        QTest::newRow("collapse") << u"--collapse-probe"_s << u"collapseProbe"_s
                                  << QStringList{u"searchFocused"_s,
                                                 u"escape.collapsed"_s,
                                                 u"clickInIsland.staysOpen"_s,
                                                 u"otherWindow.collapsed"_s,
                                                 u"workspaceWithinGrace.staysOpen"_s,
                                                 u"workspace.collapsed"_s,
                                                 u"outsideWithinGuard.staysOpen"_s,
                                                 u"outside.collapsed"_s};
        QTest::newRow("echo retract") << u"--echo-retract-probe"_s << u"echoRetractProbe"_s
                                      << QStringList{u"echo.clicksPassThrough"_s,
                                                     u"echo.grewToEcho"_s,
                                                     u"echo.stayedItsTime"_s,
                                                     u"retract.towardTarget"_s,
                                                     u"retract.neverAnEmptyCapsule"_s,
                                                     u"retract.stageHeldUntilSettled"_s,
                                                     u"retract.badgeHidden"_s,
                                                     u"retract.endsOnPill"_s,
                                                     u"clickOnPillOpens"_s};
        QTest::newRow("stage")
            << u"--stage-probe"_s << u"stageProbe"_s
            << QStringList{
                   u"beforeShowing.hiddenAndClickThrough"_s, u"collapsed.stage"_s, u"collapsed.topCentre"_s,
                   u"collapsed.takesClicksAtThePill"_s,      u"expanded.stage"_s,  u"expanded.keyboardLeftAlone"_s,
                   u"collapsing.stageHeldAndClickThrough"_s, u"echo.stage"_s,      u"echo.clickThrough"_s,
                   u"afterEcho.takesClicksAgain"_s};
    }

    void probePasses()
    {
        QFETCH(QString, flag);
        QFETCH(QString, name);
        QFETCH(QStringList, holding);
        const Run result = run(flag, name);
        QStringList expected;
        for (const QString& finding : holding)
            expected << finding + u"=true"_s;
        const QString problem = QuillomareTest::probePassProblem(result.program, name, expected);
        QVERIFY2(problem.isEmpty(), qPrintable(problem));
        // Only the settings the test itself wrote: no history, no shelf, no exports.
        QStringList written;
        for (QDirIterator it(home(), QDir::Files | QDir::Hidden, QDirIterator::Subdirectories); it.hasNext();) {
            const QString file = it.next();
            if (!file.contains(u"/.config/Quillomare/"_s) && !file.contains(u"/.cache/"_s))
                written.append(file);
        }
        QCOMPARE(written, QStringList());
    }

    // The morph's frames lie between the two states and the springs come to rest in well under
    // the program's bound; the echo lasts its 1.57 s and its 0.26-s retract.
    void probesMeasureTheMotion()
    {
        const Run anim = run(u"--anim-probe"_s, u"animProbe"_s);
        QVERIFY2(passed(anim), describe(anim).constData());
        QVERIFY(anim.number(u"expand.frames"_s) >= 3);
        QVERIFY(anim.number(u"collapse.frames"_s) >= 3);
        // The expanding spring overshoots a few points; the collapsing one not at all.
        QCOMPARE(anim.value(u"collapse.overshoot"_s), u"0.00"_s);
        QVERIFY(anim.value(u"expand.overshoot"_s).toDouble() < 20);
        QVERIFY(anim.number(u"expand.ms"_s) > 300);

        const Run echo = run(u"--echo-retract-probe"_s, u"echoRetractProbe"_s);
        QVERIFY2(passed(echo), describe(echo).constData());
        QVERIFY2(echo.number(u"echo.ms"_s) >= 1570 + 260 - 20, describe(echo).constData());
        QCOMPARE(echo.value(u"echo.frame"_s).section(u' ', 1), u"280x58"_s);
        QVERIFY(echo.number(u"retract.frames"_s) >= 3);
        QVERIFY(echo.number(u"retract.emptyCapsuleMs"_s) <= 25);
    }

    // With the desktop's Reduce Motion the island switches in one step: the anim probe has no
    // morph to see and fails, saying why; the echo shows for 1.0 s and ends without a retract,
    // and the stages and triggers hold as before.
    void reduceMotion()
    {
        const QMap<QString, QString> reduce{{u"QUILLOMARE_REDUCE_MOTION"_s, u"1"_s}};
        const Run anim = run(u"--anim-probe"_s, u"animProbe"_s, reduce);
        QCOMPARE(anim.program.status, 1);
        QCOMPARE(anim.verdict(), u"animProbe=fail"_s);
        QVERIFY2(QuillomareTest::malformedProbeLines(anim.lines, anim.name).isEmpty(), describe(anim).constData());
        QCOMPARE(anim.value(u"reduceMotion"_s), u"true"_s);
        QCOMPARE(anim.value(u"expand.framesInBetween"_s), u"false"_s);
        QCOMPARE(anim.value(u"collapse.framesInBetween"_s), u"false"_s);
        // Where it can still look, it finds the island right: in its place, at its targets.
        QCOMPARE(anim.value(u"expand.startsAtPill"_s), u"true"_s);
        QCOMPARE(anim.value(u"collapse.endsExactly"_s), u"true"_s);

        const Run echo = run(u"--echo-retract-probe"_s, u"echoRetractProbe"_s, reduce);
        QVERIFY2(passed(echo), describe(echo).constData());
        QVERIFY2(echo.number(u"echo.ms"_s) >= 980 && echo.number(u"echo.ms"_s) < 1570, describe(echo).constData());
        QCOMPARE(echo.value(u"retract.frames"_s), u"0"_s);
        QCOMPARE(echo.value(u"retract.endsOnPill"_s), u"true"_s);

        for (const auto& [flag, name] :
             {std::pair{u"--collapse-probe"_s, u"collapseProbe"_s}, std::pair{u"--stage-probe"_s, u"stageProbe"_s}}) {
            const Run result = run(flag, name, reduce);
            QVERIFY2(passed(result), describe(result).constData());
        }
    }

    // Over a camera housing (simulated: 200 points wide, a 37-point strip) the pill hangs 2 points
    // above the screen's top, as wide as the housing and as tall as the strip; the expanded
    // island and the echo hang from the same place.
    void stagesOverACameraHousing()
    {
        const QMap<QString, QString> notch{{u"QUILLOMARE_SIMULATE_NOTCH"_s, u"1"_s}};
        const Run stage = run(u"--stage-probe"_s, u"stageProbe"_s, notch);
        QVERIFY2(passed(stage), describe(stage).constData());
        QCOMPARE(stage.value(u"notched"_s), u"true"_s);
        const QString pill = stage.value(u"collapsed.panel"_s);
        QVERIFY2(pill.endsWith(u",-2 200x37"_s), qPrintable(pill));
        QVERIFY2(stage.value(u"expanded.panel"_s).section(u' ', 0, 0).endsWith(u",-2"_s), describe(stage).constData());

        for (const auto& [flag, name] : {std::pair{u"--anim-probe"_s, u"animProbe"_s},
                                         std::pair{u"--echo-retract-probe"_s, u"echoRetractProbe"_s}}) {
            const Run result = run(flag, name, notch);
            QVERIFY2(passed(result), describe(result).constData());
        }
    }
};

QUILLOMARE_TEST_MAIN(ProbesIslandTest)
#include "tst_probes_island.moc"
