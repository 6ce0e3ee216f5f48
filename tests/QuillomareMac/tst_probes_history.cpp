// The history and shelf-gallery probes of the built program, run as a developer runs them: each
// switch in a home folder of its own on the offscreen platform, the verdict read from the exit
// status and from the lines the probe prints.

#include "TestSupport.h"

#include <QDir>
#include <QFileInfo>
#include <QTemporaryDir>

#include <memory>

using namespace Qt::StringLiterals;

class ProbesHistoryTest : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<QTemporaryDir> m_dir;

    QString home() const { return m_dir->path() + u"/home"_s; }

    QuillomareTest::ProgramRun run(const QString& flag, const QList<std::pair<QString, QString>>& extraEnvironment = {})
    {
        QuillomareTest::markGuideShown(home());
        QProcessEnvironment environment = QuillomareTest::offscreenProgramEnvironment(home());
        for (const auto& [name, value] : extraEnvironment)
            environment.insert(name, value);
        // The probe's own bound is 60 s; more means it hangs.
        return QuillomareTest::runBuiltProgram({flag}, environment, m_dir->path(), 90000);
    }

private Q_SLOTS:
    void initTestCase() { QUILLOMARE_VERIFY_PROGRAM_BUILT(); }

    void init()
    {
        m_dir = std::make_unique<QTemporaryDir>();
        QVERIFY(m_dir->isValid());
        QVERIFY(QDir().mkpath(home()));
    }

    void probePassesWithItsFindings_data()
    {
        QTest::addColumn<QString>("flag");
        QTest::addColumn<QString>("name");
        QTest::addColumn<QStringList>("findings"); // each must be printed "=true"
        QTest::newRow("row preview") << u"--history-row-preview-probe"_s << u"historyRowPreviewProbe"_s
                                     << QStringList{u"textRowShowsText"_s,
                                                    u"textRowShowsSymbol"_s,
                                                    u"imageRowsShowPictures"_s,
                                                    u"pictureClickOpensPreview"_s,
                                                    u"previewedEntrySelected"_s,
                                                    u"previewShowsPicture"_s,
                                                    u"privatePictureClickOpensNoPreview"_s,
                                                    u"privatePictureClickSelects"_s,
                                                    u"textSymbolClickOpensNoPreview"_s,
                                                    u"textSymbolClickSelects"_s,
                                                    u"doubleClickOpensPreview"_s,
                                                    u"previewShowsText"_s};
        QTest::newRow("row file preview") << u"--history-row-file-preview-probe"_s << u"historyRowFilePreviewProbe"_s
                                          << QStringList{u"row0ShowsName"_s,
                                                         u"row1ShowsName"_s,
                                                         u"row2ShowsName"_s,
                                                         u"fileRowShowsTypeIcon"_s,
                                                         u"filesRowShowsTypeIcon"_s,
                                                         u"pictureFileRowShowsPicture"_s,
                                                         u"pictureFileClickOpensPreview"_s,
                                                         u"previewShowsFilePicture"_s,
                                                         u"filesIconClickOpensNoPreview"_s,
                                                         u"filesIconClickSelects"_s,
                                                         u"doubleClickOpensFilePreview"_s,
                                                         u"previewListsFile"_s};
        QTest::newRow("row body select") << u"--history-row-body-select-probe"_s << u"historyRowBodySelectProbe"_s
                                         << QStringList{u"firstRowSelectedAtStart"_s, u"previewTextClickSelects"_s,
                                                        u"metaTextClickSelects"_s,    u"emptyBodyClickSelects"_s,
                                                        u"symbolClickSelects"_s,      u"clicksOpenNoPreview"_s,
                                                        u"clicksCopyNothing"_s};
        QTest::newRow("row body mouse-down select")
            << u"--history-row-body-mousedown-select-probe"_s << u"historyRowBodyMousedownSelectProbe"_s
            << QStringList{u"row2SelectedOnPress"_s, u"row2SelectedAfterRelease"_s, u"releaseOpensNoPreview"_s,
                           u"row0SelectedOnPress"_s, u"row0SelectedAfterRelease"_s};
        QTest::newRow("scroll fallback body select")
            << u"--history-scroll-fallback-body-select-probe"_s << u"historyScrollFallbackBodySelectProbe"_s
            << QStringList{u"scrolledRowInView"_s, u"fallbackPressSelectsRowUnderPointer"_s,
                           u"fallbackReleaseKeepsSelection"_s, u"fallbackDoubleClickReachesSameRow"_s,
                           u"pressBelowRowsSelectsNothing"_s};
        QTest::newRow("shelf gallery hit test") << u"--shelf-gallery-hit-test-probe"_s << u"shelfGalleryHitTestProbe"_s
                                                << QStringList{u"firstCardFocusedAtStart"_s,
                                                               u"card0CentreSelects"_s,
                                                               u"card0TopLeftSelects"_s,
                                                               u"card2BottomRightSelects"_s,
                                                               u"gap0SelectsNothing"_s,
                                                               u"gap1ScrollViewPressSelectsNothing"_s,
                                                               u"scrollViewPressSelectsCardUnderPointer"_s};
    }

    void probePassesWithItsFindings()
    {
        QFETCH(QString, flag);
        QFETCH(QString, name);
        QFETCH(QStringList, findings);
        const QuillomareTest::ProgramRun result = run(flag);
        QStringList expected;
        for (const QString& finding : findings)
            expected << finding + u"=true"_s;
        const QString problem = QuillomareTest::probePassProblem(result, name, expected);
        QVERIFY2(problem.isEmpty(), qPrintable(problem));
        // A passing probe holds nothing false.
        for (const QString& line : result.lines())
            QVERIFY2(!line.endsWith(u"=false"_s), qPrintable(line));
        // The probes build their own island: the user's history and shelf stay untouched.
        const QString data = home() + u"/.local/share/Quillomare"_s;
        QVERIFY(!QFileInfo::exists(data + u"/clips.json"_s));
        QVERIFY(!QFileInfo::exists(data + u"/shelf-sessions.json"_s));
    }

    // The file rows need files: where none can be written (the temporary folder is a file) the
    // probe says so and fails, leaving nothing behind.
    void filePreviewProbeFailsWithoutAWritableTemporaryFolder()
    {
        const QString notAFolder = m_dir->path() + u"/not-a-folder"_s;
        QuillomareTest::writeFile(notAFolder, "x");
        const QuillomareTest::ProgramRun result =
            run(u"--history-row-file-preview-probe"_s, {{u"TMPDIR"_s, notAFolder}});
        const QStringList lines = result.lines();
        const QByteArray described = QuillomareTest::describeRun(result);
        QVERIFY2(result.status == 1, described.constData());
        QVERIFY2(QuillomareTest::probeOutputIsWellFormed(lines, u"historyRowFilePreviewProbe"_s, u"fail"_s),
                 described.constData());
        QVERIFY2(lines.size() == 2 &&
                     lines.constFirst().startsWith(u"historyRowFilePreviewProbe sampleFilesWritten="_s),
                 described.constData());
        QCOMPARE(QDir(m_dir->path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot),
                 (QStringList{u"home"_s, u"not-a-folder"_s}));
    }
};

QUILLOMARE_TEST_MAIN(ProbesHistoryTest)
#include "tst_probes_history.moc"
