// The history and shelf-gallery probes of the built program, run as a developer runs them: each
// switch in a home folder of its own on the offscreen platform, the verdict read from the exit
// status and from the lines the probe prints.

#include "TestSupport.h"

#include <QDir>
#include <QFileInfo>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>

#include <memory>

using namespace Qt::StringLiterals;

namespace {

struct Run
{
    int status = -1;
    QStringList lines; // standard output, one entry per line
    QByteArray err;
};

} // namespace

class ProbesHistoryTest : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<QTemporaryDir> m_dir;

    QString home() const { return m_dir->path() + u"/home"_s; }

    Run run(const QString& flag, const QList<std::pair<QString, QString>>& extraEnvironment = {})
    {
        QuillomareTest::markGuideShown(home());
        QProcessEnvironment environment = QuillomareTest::programEnvironment(home());
        environment.insert(u"QT_QPA_PLATFORM"_s, u"offscreen"_s);
        environment.remove(u"DISPLAY"_s);
        environment.remove(u"WAYLAND_DISPLAY"_s);
        for (const auto& [name, value] : extraEnvironment)
            environment.insert(name, value);
        QProcess process;
        process.setProcessEnvironment(environment);
        process.setWorkingDirectory(m_dir->path());
        process.start(QuillomareTest::builtProgramPath(), {flag});
        Run result;
        // The probe's own bound is 60 s; more means it hangs.
        if (!process.waitForFinished(90000)) {
            process.kill();
            process.waitForFinished();
            return result;
        }
        result.status = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
        result.lines = QString::fromUtf8(process.readAllStandardOutput()).split(u'\n', Qt::SkipEmptyParts);
        result.err = process.readAllStandardError();
        return result;
    }

    // Every line but the last is "<name> <finding>=<value>"; the last is "<name>=<verdict>".
    static bool wellFormed(const Run& run, const QString& name, const QString& verdict)
    {
        if (run.lines.isEmpty() || run.lines.constLast() != name + u'=' + verdict)
            return false;
        const QRegularExpression finding(u"^"_s + QRegularExpression::escape(name) + u" [A-Za-z][A-Za-z0-9]*=\\S.*$"_s);
        for (qsizetype i = 0; i + 1 < run.lines.size(); ++i) {
            if (!finding.match(run.lines[i]).hasMatch())
                return false;
        }
        return true;
    }

    static QString describe(const Run& run)
    {
        return u"status %1\n"_s.arg(run.status) + run.lines.join(u'\n') + u"\n--- stderr\n"_s +
               QString::fromUtf8(run.err.right(2000));
    }

private Q_SLOTS:
    void initTestCase()
    {
        QVERIFY2(QFileInfo(QuillomareTest::builtProgramPath()).isExecutable(),
                 qPrintable(QuillomareTest::builtProgramPath() + u" is not built"_s));
    }

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
        const Run result = run(flag);
        QVERIFY2(result.status == 0, qPrintable(describe(result)));
        QVERIFY2(wellFormed(result, name, u"pass"_s), qPrintable(describe(result)));
        for (const QString& finding : findings)
            QVERIFY2(result.lines.contains(name + u' ' + finding + u"=true"_s),
                     qPrintable(finding + u" missing\n"_s + describe(result)));
        // A passing probe holds nothing false.
        for (const QString& line : result.lines)
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
        const Run result = run(u"--history-row-file-preview-probe"_s, {{u"TMPDIR"_s, notAFolder}});
        QVERIFY2(result.status == 1, qPrintable(describe(result)));
        QVERIFY2(wellFormed(result, u"historyRowFilePreviewProbe"_s, u"fail"_s), qPrintable(describe(result)));
        QVERIFY2(result.lines.size() == 2 &&
                     result.lines.constFirst().startsWith(u"historyRowFilePreviewProbe sampleFilesWritten="_s),
                 qPrintable(describe(result)));
        QCOMPARE(QDir(m_dir->path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot),
                 (QStringList{u"home"_s, u"not-a-folder"_s}));
    }
};

QUILLOMARE_TEST_MAIN(ProbesHistoryTest)
#include "tst_probes_history.moc"
