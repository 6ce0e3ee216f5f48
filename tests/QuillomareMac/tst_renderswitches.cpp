// The developer switches of the built program, run as a developer runs them: no display, the
// working directory of the developer's choosing, the result read from the exit status, the two
// output streams and the files written (in a home folder of the test's own).

#include "TestSupport.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImageReader>
#include <QJsonArray>
#include <QJsonDocument>
#include <QProcess>
#include <QTemporaryDir>

namespace {

struct Run
{
    int status = -1;
    QByteArray out;
    QByteArray err;
};

const QSize kIslandSize(780, 430);
const QSize kEchoSize(280, 58);

// A shelf entry: the paths of a file entry, none for a text entry.
struct Entry
{
    QString title;
    QStringList paths;
    QUuid id = QUuid::createUuid();
};

// The shelf file with one session per list of entries, in order.
QByteArray shelfFile(const QList<QList<Entry>>& sessions)
{
    QStringList list;
    for (const QList<Entry>& entries : sessions) {
        QStringList items;
        for (const Entry& entry : entries)
            items.append(
                QStringLiteral(R"({"createdAt": "2026-01-01T12:00:00Z", "id": "%1", "isSensitive": false, )"
                               R"("kind": "file", "payload": {%2}, "preview": "", "subtitle": "", "title": "%3"})")
                    .arg(entry.id.toString(QUuid::WithoutBraces),
                         entry.paths.isEmpty()
                             ? QStringLiteral(R"("text": {"_0": ""})")
                             : R"("fileURLs": {"_0": )" +
                                   QJsonDocument(QJsonArray::fromStringList(entry.paths)).toJson() + u'}',
                         entry.title));
        list.append(
            QStringLiteral(R"({"createdAt": "2026-01-01T12:00:00Z", "id": "%1", "items": [%2], "name": "Work", )"
                           R"("updatedAt": "2026-01-01T12:00:00Z"})")
                .arg(QUuid::createUuid().toString(QUuid::WithoutBraces), items.join(u',')));
    }
    return (QStringLiteral(R"({"sessions": [)") + list.join(u',') + QStringLiteral("]}")).toUtf8();
}

QSize pngSize(const QString& path)
{
    QImageReader reader(path, "png");
    const QImage image = reader.read();
    return image.isNull() ? QSize() : image.size();
}

} // namespace

class RenderSwitchesTest : public QObject
{
    Q_OBJECT

private:
    QString m_program;
    std::unique_ptr<QTemporaryDir> m_dir;

    // The folder's path as the program sees it as its working directory.
    QString folder() const { return QDir(m_dir->path()).canonicalPath(); }
    QString dataFolder() const { return folder() + QStringLiteral("/home/.local/share/Quillomare"); }

    Run run(const QStringList& arguments, const QString& workingDirectory = {})
    {
        QProcess process;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        // The switches need no display and choose their platform themselves.
        environment.remove(QStringLiteral("DISPLAY"));
        environment.remove(QStringLiteral("WAYLAND_DISPLAY"));
        environment.remove(QStringLiteral("QT_QPA_PLATFORM"));
        environment.insert(QStringLiteral("HOME"), folder() + QStringLiteral("/home"));
        environment.remove(QStringLiteral("XDG_DATA_HOME"));
        process.setProcessEnvironment(environment);
        process.setWorkingDirectory(workingDirectory.isEmpty() ? folder() : workingDirectory);
        process.start(m_program, arguments);
        Run result;
        if (!process.waitForFinished(60000)) {
            process.kill();
            process.waitForFinished();
            return result;
        }
        result.status = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
        result.out = process.readAllStandardOutput();
        result.err = process.readAllStandardError();
        return result;
    }

private Q_SLOTS:
    void initTestCase()
    {
        m_program = qEnvironmentVariable("QUILLOMARE_BUILD_DIR") + QStringLiteral("/bin/quillomare");
        QVERIFY2(QFileInfo(m_program).isExecutable(), qPrintable(m_program + QStringLiteral(" is not built")));
    }

    void init()
    {
        m_dir = std::make_unique<QTemporaryDir>();
        QVERIFY(m_dir->isValid());
    }

    void testMissingOutputPath_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::newRow("island") << QStringList{QStringLiteral("--render-island-preview")};
        QTest::newRow("shelf, after another argument")
            << QStringList{QStringLiteral("-v"), QStringLiteral("--render-shelf-preview")};
        QTest::newRow("echo") << QStringList{QStringLiteral("--render-echo-preview")};
    }

    void testMissingOutputPath()
    {
        QFETCH(QStringList, arguments);
        const Run result = run(arguments);
        QCOMPARE(result.status, 64);
        QCOMPARE(result.err, "Missing output path for " + arguments.constLast().toLatin1() + '\n');
        QCOMPARE(result.out, QByteArray());
        QCOMPARE(QDir(folder()).entryList(QDir::Files), QStringList());
    }

    void testRelativePathIsResolvedAndStandardised_data()
    {
        QTest::addColumn<QString>("flag");
        QTest::addColumn<QSize>("size");
        QTest::newRow("island") << QStringLiteral("--render-island-preview") << kIslandSize;
        QTest::newRow("shelf") << QStringLiteral("--render-shelf-preview") << kIslandSize;
        QTest::newRow("echo") << QStringLiteral("--render-echo-preview") << kEchoSize;
    }

    void testRelativePathIsResolvedAndStandardised()
    {
        QFETCH(QString, flag);
        QFETCH(QSize, size);
        QVERIFY(QDir(folder()).mkpath(QStringLiteral("work")));
        QVERIFY(QDir(folder()).mkpath(QStringLiteral("out")));
        const Run result = run({flag, QStringLiteral("../out/./preview.png")}, folder() + QStringLiteral("/work"));
        const QString expected = folder() + QStringLiteral("/out/preview.png");
        QCOMPARE(result.status, 0);
        QCOMPARE(result.out, QFile::encodeName(expected) + '\n');
        QCOMPARE(pngSize(expected), size);
    }

    void testAnotherSwitchAfterTheFlagIsTheOutputPath()
    {
        const Run result = run({QStringLiteral("--render-island-preview"), QStringLiteral("--render-shelf-preview")});
        const QString expected = folder() + QStringLiteral("/--render-shelf-preview");
        QCOMPARE(result.status, 0);
        QCOMPARE(result.out, QFile::encodeName(expected) + '\n');
        QCOMPARE(pngSize(expected), kIslandSize);
    }

    void testTheFirstRowOfTheTableDecides()
    {
        // The echo switch comes first on the command line, but the island row comes first.
        const Run result = run({QStringLiteral("--render-echo-preview"), QStringLiteral("echo.png"),
                                QStringLiteral("--render-island-preview"), QStringLiteral("island.png")});
        QCOMPARE(result.status, 0);
        QCOMPARE(result.out, QFile::encodeName(folder() + QStringLiteral("/island.png")) + '\n');
        QCOMPARE(pngSize(folder() + QStringLiteral("/island.png")), kIslandSize);
        QVERIFY(!QFileInfo::exists(folder() + QStringLiteral("/echo.png")));
    }

    void testRenderFailureHasTheRowsPrefix_data()
    {
        QTest::addColumn<QString>("flag");
        QTest::addColumn<QByteArray>("prefix");
        QTest::newRow("island") << QStringLiteral("--render-island-preview") << QByteArray("Preview render failed: ");
        QTest::newRow("shelf") << QStringLiteral("--render-shelf-preview")
                               << QByteArray("Shelf preview render failed: ");
        QTest::newRow("echo") << QStringLiteral("--render-echo-preview") << QByteArray("Echo preview render failed: ");
    }

    void testRenderFailureHasTheRowsPrefix()
    {
        QFETCH(QString, flag);
        QFETCH(QByteArray, prefix);
        const Run result = run({flag, QStringLiteral("missing/folder/preview.png")});
        QCOMPARE(result.status, 1);
        QCOMPARE(result.out, QByteArray());
        // Qt may warn on standard error before; the failure is the last line.
        QVERIFY(result.err.endsWith('\n'));
        const QByteArray last = result.err.chopped(1).split('\n').constLast();
        QVERIFY2(last.startsWith(prefix) && last.size() > prefix.size(), result.err.constData());
        QVERIFY2(last.contains("missing/folder/preview.png"), result.err.constData());
    }

    void testSwitchesMatchWholeArgumentsOnly_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::newRow("with a value glued on") << QStringList{QStringLiteral("--render-echo-preview=echo.png")};
        QTest::newRow("other letter case")
            << QStringList{QStringLiteral("--Render-Echo-Preview"), QStringLiteral("echo.png")};
        QTest::newRow("unknown switch") << QStringList{QStringLiteral("--render-everything"),
                                                       QStringLiteral("echo.png")};
    }

    void testSwitchesMatchWholeArgumentsOnly()
    {
        // Not a switch: the normal start, which without a display stops with its own message.
        QFETCH(QStringList, arguments);
        const Run result = run(arguments);
        QCOMPARE(result.status, 1);
        QVERIFY2(result.err.contains("DISPLAY is not set"), result.err.constData());
        QCOMPARE(QDir(folder()).entryList(QDir::Files), QStringList());
    }

    void testTheFirstRowOfTheTableDecidesAcrossKinds_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<QString>("flag");
        for (const char* flag :
             {"--smoke-test", "--live-text-probe", "--live-text-pan-gate-probe", "--live-text-zoom-probe",
              "--anim-probe", "--collapse-probe", "--echo-retract-probe", "--stage-probe", "--quick-preview-probe",
              "--history-row-preview-probe", "--history-row-file-preview-probe", "--history-row-body-select-probe",
              "--history-row-body-mousedown-select-probe", "--history-scroll-fallback-body-select-probe",
              "--shelf-gallery-hit-test-probe", "--live-text-copy-all-probe"})
            QTest::newRow(flag) << QStringList{flag} << QString::fromLatin1(flag);
        QTest::newRow("self-test over a render")
            << QStringList{"--render-island-preview", "island.png", "--smoke-test"} << "--smoke-test";
        QTest::newRow("probe over a later probe")
            << QStringList{"--history-row-preview-probe", "--anim-probe"} << "--anim-probe";
        QTest::newRow("probe over the repair probe")
            << QStringList{"--repair-shelf-store-probe", "--stage-probe"} << "--stage-probe";
    }

    void testTheFirstRowOfTheTableDecidesAcrossKinds()
    {
        // Modes not in this build refuse on their own, naming the switch that won.
        QFETCH(QStringList, arguments);
        QFETCH(QString, flag);
        const Run result = run(arguments);
        QCOMPARE(result.status, 1);
        QCOMPARE(result.err, flag.toLatin1() + " is not available in this build yet\n");
        QCOMPARE(result.out, QByteArray());
        QCOMPARE(QDir(folder()).entryList(QDir::Files), QStringList());
    }

    void testRepairProbeChecksTheRepairedShelf()
    {
        // An empty shelf passes (and the probe's row comes before the last probe's).
        Run result = run({QStringLiteral("--live-text-copy-all-probe"), QStringLiteral("--repair-shelf-store-probe")});
        QCOMPARE(result.status, 0);
        QCOMPARE(result.out, "shelfRepairProbe foundFileItem=false allFilePayloadsValid=true result=pass\n");

        const QString present = folder() + QStringLiteral("/files/a.txt");
        const QString gone = folder() + QStringLiteral("/files/gone.txt");
        const QString document = folder() + QStringLiteral("/files/Plan.DOCX");
        // A private copy whose data folder was moved here: opening the shelf points the entry at it
        // and saves that before the probe ends.
        const QUuid id = QUuid::createUuid();
        const QString name = id.toString(QUuid::WithoutBraces).toUpper() + QStringLiteral("/notes.txt");
        const QString copy = dataFolder() + QStringLiteral("/ShelfFiles/") + name;
        const QString shelf = dataFolder() + QStringLiteral("/shelf-sessions.json");
        QuillomareTest::writeFile(present, "a");
        QuillomareTest::writeFile(copy, "n");
        // Listed: a title or a path that says "doc" in any letter case. Checked all the same: the other
        // file entries. Skipped: entries that are no files.
        QuillomareTest::writeFile(shelf, shelfFile({{{"Quarterly Doc", {present, gone}}, {"doc.doc", {}}},
                                                    {{"readme", {present}},
                                                     {"doc", {"/old/home/Quillomare/ShelfFiles/" + name}, id},
                                                     {"plan", {document}}}}));
        result = run({QStringLiteral("--repair-shelf-store-probe")});
        QCOMPARE(result.status, 1);
        QCOMPARE(result.out,
                 QStringLiteral("shelfRepairProbe title=Quarterly Doc paths=[\"%1\", \"%2\"] exists=[true, false]\n"
                                "shelfRepairProbe title=doc paths=[\"%3\"] exists=[true]\n"
                                "shelfRepairProbe title=plan paths=[\"%4\"] exists=[false]\n"
                                "shelfRepairProbe foundFileItem=true allFilePayloadsValid=false result=fail\n")
                     .arg(present, gone, copy, document)
                     .toUtf8());
        QVERIFY(QuillomareTest::readFile(shelf).contains(copy.toUtf8()));
    }
};

QUILLOMARE_TEST_MAIN(RenderSwitchesTest)
#include "tst_renderswitches.moc"
