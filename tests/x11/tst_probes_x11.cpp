// The island's probe switches on a real display with a window manager: the built program in a
// home of the test's own, its island stacked, shaped and drawn by the X server, read back from
// the screen by the stage probe.

#include "TestSupport.h"

#include <QDir>
#include <QFileInfo>
#include <QTemporaryDir>

using namespace Qt::StringLiterals;

class ProbesX11Test : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<QTemporaryDir> m_dir;

    QuillomareTest::ProgramRun run(const QString& flag)
    {
        QProcessEnvironment variables = QuillomareTest::programEnvironment(m_dir->path() + u"/home"_s);
        variables.insert(u"QT_QPA_PLATFORM"_s, u"xcb"_s);
        variables.insert(u"QUILLOMARE_REDUCE_MOTION"_s, u"0"_s);
        variables.remove(u"QUILLOMARE_SIMULATE_NOTCH"_s);
        return QuillomareTest::runBuiltProgram({flag}, variables, m_dir->path(), 90000);
    }

private Q_SLOTS:
    void initTestCase()
    {
        QVERIFY2(!qEnvironmentVariableIsEmpty("DISPLAY"), "runs inside scripts/x11-session");
        QUILLOMARE_VERIFY_PROGRAM_BUILT();
    }

    void init()
    {
        m_dir = std::make_unique<QTemporaryDir>();
        QVERIFY(m_dir->isValid());
        QVERIFY(QDir().mkpath(m_dir->path() + u"/home"_s));
        QuillomareTest::markGuideShown(m_dir->path() + u"/home"_s);
    }

    // Each island probe passes on the display, every line in the probes' form, with the findings
    // only a display can give: the island read back from the screen above another window, the
    // transparent stage around the pill and the echo showing that window, not black.
    void islandProbesPassOnTheDisplay_data()
    {
        QTest::addColumn<QString>("flag");
        QTest::addColumn<QString>("name");
        QTest::addColumn<QStringList>("lines");
        QTest::newRow("anim") << u"--anim-probe"_s << u"animProbe"_s
                              << QStringList{u"expand.framesInBetween=true"_s,
                                             u"collapse.stageHeldUntilSettled=true"_s};
        QTest::newRow("collapse") << u"--collapse-probe"_s << u"collapseProbe"_s
                                  << QStringList{u"escape.collapsed=true"_s, u"otherWindow.collapsed=true"_s};
        QTest::newRow("echo retract") << u"--echo-retract-probe"_s << u"echoRetractProbe"_s
                                      << QStringList{u"retract.endsOnPill=true"_s, u"clickOnPillOpens=true"_s};
        QTest::newRow("stage") << u"--stage-probe"_s << u"stageProbe"_s
                               << QStringList{u"collapsed.displayShowsOnlyTheIsland=true"_s,
                                              u"expanded.displayShowsOnlyTheIsland=true"_s,
                                              u"echo.displayShowsOnlyTheIsland=true"_s, u"displayReadBack=true"_s};
    }

    void islandProbesPassOnTheDisplay()
    {
        QFETCH(QString, flag);
        QFETCH(QString, name);
        QFETCH(QStringList, lines);
        const QString problem = QuillomareTest::probePassProblem(run(flag), name, lines);
        QVERIFY2(problem.isEmpty(), qPrintable(problem));
    }
};

QUILLOMARE_TEST_MAIN(ProbesX11Test)
#include "tst_probes_x11.moc"
