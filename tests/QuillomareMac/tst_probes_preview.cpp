// The quick preview and Live Text probes of the built program, run as a developer runs them: each in
// a home of its own, the verdict read from the exit status and the last line, every other line one
// finding of the probe. Without fonts the sample picture holds no text and the Live Text probes
// must say so and fail.

#include "TestSupport.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

using namespace Qt::StringLiterals;

namespace {

// The sample's font is reported by family, which is empty when there are no fonts.
constexpr auto kValues = QuillomareTest::ProbeValues::mayBeEmpty;

// Every file left under `folder`, relative to it.
QStringList filesUnder(const QString& folder)
{
    QStringList files;
    QDirIterator it(folder, QDir::Files | QDir::Hidden | QDir::NoDotAndDotDot, QDirIterator::Subdirectories);
    while (it.hasNext())
        files.append(QDir(folder).relativeFilePath(it.next()));
    return files;
}

} // namespace

class ProbesPreviewTest : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<QTemporaryDir> m_dir;

    QString home() const { return m_dir->filePath(u"home"_s); }
    QString temporary() const { return m_dir->filePath(u"tmp"_s); }

    QuillomareTest::ProgramRun run(const QString& probeSwitch, const QHash<QString, QString>& extra = {})
    {
        QProcessEnvironment environment = QuillomareTest::offscreenProgramEnvironment(home());
        environment.insert(u"XDG_CONFIG_HOME"_s, home() + u"/.config"_s);
        environment.insert(u"XDG_DATA_HOME"_s, home() + u"/.local/share"_s);
        environment.insert(u"XDG_CACHE_HOME"_s, home() + u"/.cache"_s);
        environment.insert(u"XDG_RUNTIME_DIR"_s, m_dir->filePath(u"runtime"_s));
        environment.insert(u"TMPDIR"_s, temporary());
        for (auto it = extra.cbegin(); it != extra.cend(); ++it)
            environment.insert(it.key(), it.value());
        return QuillomareTest::runBuiltProgram({probeSwitch}, environment, {}, 120000);
    }

private Q_SLOTS:
    void initTestCase() { QUILLOMARE_VERIFY_PROGRAM_BUILT(); }

    void init()
    {
        m_dir = std::make_unique<QTemporaryDir>();
        QVERIFY(m_dir->isValid());
        QVERIFY(QDir().mkpath(home()));
        QVERIFY(QDir().mkpath(temporary()));
        QVERIFY(QDir().mkpath(m_dir->filePath(u"runtime"_s)));
        QFile::setPermissions(m_dir->filePath(u"runtime"_s),
                              QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
        QuillomareTest::markGuideShown(home());
    }

    void testEachProbePassesWithItsFindings_data()
    {
        QTest::addColumn<QString>("probeSwitch");
        QTest::addColumn<QString>("name");
        QTest::addColumn<QStringList>("findings"); // lines that must be among the output

        QTest::newRow("quick preview") << u"--quick-preview-probe"_s << u"quickPreviewProbe"_s
                                       << QStringList{u"textShown=true"_s, u"textClosedByEscape=true"_s,
                                                      u"imageContent=true"_s, u"imageIsSample=true"_s,
                                                      u"imageClosedByButton=true"_s};
        QTest::newRow("live text") << u"--live-text-probe"_s << u"liveTextProbe"_s
                                   << QStringList{
                                          u"recognizedOffGuiThread=true"_s, u"guiAnsweredWhileRecognizing=true"_s,
                                          u"recognizingHintShown=true"_s,   u"lines=Quick brown fox | 快速预览文字"_s,
                                          u"wordsWhereDrawn=true"_s,        u"selectHintShown=true"_s};
        QTest::newRow("pan gate") << u"--live-text-pan-gate-probe"_s << u"liveTextPanGateProbe"_s
                                  << QStringList{u"fittedBlankDragStill=true"_s,
                                                 u"panX=-40.00"_s,
                                                 u"panY=-30.00"_s,
                                                 u"zoomedBlankDragPans=true"_s,
                                                 u"zoomedWordDragSelects=true"_s,
                                                 u"zoomedWordClickClears=true"_s};
        QTest::newRow("zoom") << u"--live-text-zoom-probe"_s << u"liveTextZoomProbe"_s
                              << QStringList{u"wheelZoomsIn=true"_s,
                                             u"wheelKeepsPointUnderPointer=true"_s,
                                             u"zoomStopsAtMaximum=true"_s,
                                             u"panClampedAtTopLeft=true"_s,
                                             u"panClampedAtBottomRight=true"_s,
                                             u"doubleClickFits=true"_s,
                                             u"zoomStopsAtFitted=true"_s,
                                             u"doubleClickZoomsIn=true"_s};
        QTest::newRow("copy all") << u"--live-text-copy-all-probe"_s << u"liveTextCopyAllProbe"_s
                                  << QStringList{u"everyWordSelected=true"_s, u"copiedLines=2"_s, u"copiedOnce=true"_s,
                                                 u"copiedRecognisedLines=true"_s, u"copiedInReadingOrder=true"_s};
    }

    void testEachProbePassesWithItsFindings()
    {
        QFETCH(QString, probeSwitch);
        QFETCH(QString, name);
        QFETCH(QStringList, findings);

        const QuillomareTest::ProgramRun result = run(probeSwitch);
        const QString problem = QuillomareTest::probePassProblem(result, name, findings, kValues);
        QVERIFY2(problem.isEmpty(), qPrintable(problem));
        // A pass holds no failed expectation.
        for (const QString& line : result.lines())
            QVERIFY2(!line.endsWith(u"=false"_s), qPrintable(line));
        // The sample lived in a temporary folder that is gone, and nothing of the user's was made.
        QCOMPARE(filesUnder(temporary()), QStringList());
        QVERIFY(!QFileInfo::exists(home() + u"/.local/share/Quillomare"_s));
    }

    void testLiveTextProbesFailWhenTheSampleHasNoText_data()
    {
        QTest::addColumn<QString>("probeSwitch");
        QTest::addColumn<QString>("name");
        QTest::newRow("live text") << u"--live-text-probe"_s << u"liveTextProbe"_s;
        QTest::newRow("copy all") << u"--live-text-copy-all-probe"_s << u"liveTextCopyAllProbe"_s;
    }

    void testLiveTextProbesFailWhenTheSampleHasNoText()
    {
        QFETCH(QString, probeSwitch);
        QFETCH(QString, name);
        // A font configuration that knows no fonts: the sample is drawn without glyphs.
        const QString fonts = m_dir->filePath(u"fonts.conf"_s);
        QuillomareTest::writeFile(fonts, QStringLiteral("<?xml version=\"1.0\"?>\n<fontconfig><dir>%1</dir>"
                                                        "<cachedir>%2</cachedir></fontconfig>\n")
                                             .arg(m_dir->filePath(u"no-fonts"_s), m_dir->filePath(u"font-cache"_s))
                                             .toUtf8());
        const QuillomareTest::ProgramRun result = run(probeSwitch, {{u"FONTCONFIG_FILE"_s, fonts}});
        const QStringList lines = result.lines();
        QCOMPARE(result.status, 1);
        QVERIFY2(QuillomareTest::probeOutputIsWellFormed(lines, name, u"fail"_s, kValues),
                 QuillomareTest::describeRun(result).constData());
        QVERIFY(lines.contains(name + u" liveTextState=noText"_s));
        QVERIFY(lines.contains(name + u" wordsFound=false"_s));
        QCOMPARE(filesUnder(temporary()), QStringList());
    }
};

QUILLOMARE_TEST_MAIN(ProbesPreviewTest)
#include "tst_probes_preview.moc"
