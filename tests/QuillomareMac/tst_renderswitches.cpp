// The developer switches of the built program, run as a developer runs them: no display, the
// working directory of the developer's choosing, the result read from the exit status, the two
// output streams and the files written (in a home folder of the test's own).

#include "TestSupport.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QImageReader>
#include <QJsonArray>
#include <QJsonDocument>
#include <QTemporaryDir>

using namespace Qt::StringLiterals;

namespace {

using Run = QuillomareTest::ProgramRun;

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
            items.append(uR"({"createdAt": "2026-01-01T12:00:00Z", "id": "%1", "isSensitive": false, )"
                         R"("kind": "file", "payload": {%2}, "preview": "", "subtitle": "", "title": "%3"})"_s.arg(
                             entry.id.toString(QUuid::WithoutBraces),
                             entry.paths.isEmpty()
                                 ? uR"("text": {"_0": ""})"_s
                                 : R"("fileURLs": {"_0": )" +
                                       QJsonDocument(QJsonArray::fromStringList(entry.paths)).toJson() + u'}',
                             entry.title));
        list.append(uR"({"createdAt": "2026-01-01T12:00:00Z", "id": "%1", "items": [%2], "name": "Work", )"
                    R"("updatedAt": "2026-01-01T12:00:00Z"})"_s.arg(QUuid::createUuid().toString(QUuid::WithoutBraces),
                                                                    items.join(u',')));
    }
    return (uR"({"sessions": [)"_s + list.join(u',') + u"]}"_s).toUtf8();
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
    std::unique_ptr<QTemporaryDir> m_dir;

    // The folder's path as the program sees it as its working directory.
    QString folder() const { return QDir(m_dir->path()).canonicalPath(); }
    QString dataFolder() const { return folder() + u"/home/.local/share/Quillomare"_s; }

    Run run(const QStringList& arguments, const QString& workingDirectory = {}, const QString& display = {})
    {
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        // The switches need no display and choose their platform themselves.
        environment.remove(u"DISPLAY"_s);
        if (!display.isEmpty())
            environment.insert(u"DISPLAY"_s, display);
        environment.remove(u"WAYLAND_DISPLAY"_s);
        environment.remove(u"QT_QPA_PLATFORM"_s);
        environment.insert(u"HOME"_s, folder() + u"/home"_s);
        environment.remove(u"XDG_DATA_HOME"_s);
        return QuillomareTest::runBuiltProgram(arguments, environment,
                                               workingDirectory.isEmpty() ? folder() : workingDirectory, 60000);
    }

private Q_SLOTS:
    void initTestCase() { QUILLOMARE_VERIFY_PROGRAM_BUILT(); }

    void init()
    {
        m_dir = std::make_unique<QTemporaryDir>();
        QVERIFY(m_dir->isValid());
    }

    void testRendersOnlyTheWinningRowToTheResolvedPath_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<QString>("output"); // relative to the folder; run from its "work" folder
        QTest::addColumn<QSize>("size");
        for (const auto& [flag, size] : {std::pair{"--render-island-preview", kIslandSize},
                                         {"--render-shelf-preview", kIslandSize},
                                         {"--render-echo-preview", kEchoSize}})
            QTest::newRow(flag) << QStringList{flag, "../out/./preview.png"} << "out/preview.png" << size;
        QTest::newRow("another switch after the flag is the output path")
            << QStringList{"--render-island-preview", "--render-shelf-preview"} << "work/--render-shelf-preview"
            << kIslandSize;
        // The echo switch comes first on the command line, but the island row comes first.
        QTest::newRow("first row of the table decides")
            << QStringList{"--render-echo-preview", "echo.png", "--render-island-preview", "island.png"}
            << "work/island.png" << kIslandSize;
    }

    void testRendersOnlyTheWinningRowToTheResolvedPath()
    {
        QFETCH(QStringList, arguments);
        QFETCH(QString, output);
        QFETCH(QSize, size);
        QVERIFY(QDir(folder()).mkpath(u"work"_s));
        QVERIFY(QDir(folder()).mkpath(u"out"_s));
        const Run result = run(arguments, folder() + u"/work"_s);
        const QString expected = folder() + u'/' + output;
        QCOMPARE(result.status, 0);
        QCOMPARE(result.out, QFile::encodeName(expected) + '\n');
        QCOMPARE(pngSize(expected), size);
        QStringList written;
        for (QDirIterator it(folder(), QDir::Files, QDirIterator::Subdirectories); it.hasNext();)
            written.append(it.next());
        written.removeIf([this](const QString& file) { return file.startsWith(folder() + u"/home/"_s); });
        QCOMPARE(written, QStringList{expected});
    }

    // A settings folder that cannot be made (a plain file in its place): every start says why
    // and goes on or ends; none waits forever for the language it is choosing.
    void testUnusableSettingsFolderNeverHangs()
    {
        QVERIFY(QDir(folder()).mkpath(u"home/.config"_s));
        QFile blocker(folder() + u"/home/.config/Quillomare"_s);
        QVERIFY(blocker.open(QIODevice::WriteOnly));
        blocker.close();

        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.remove(u"DISPLAY"_s);
        environment.remove(u"WAYLAND_DISPLAY"_s);
        environment.remove(u"QT_QPA_PLATFORM"_s);
        environment.insert(u"HOME"_s, folder() + u"/home"_s);
        for (const QString& name : {u"XDG_DATA_HOME"_s, u"XDG_CONFIG_HOME"_s, u"XDG_CACHE_HOME"_s})
            environment.remove(name);

        const Run render =
            QuillomareTest::runBuiltProgram({u"--render-echo-preview"_s, u"echo.png"_s}, environment, folder(), 60000);
        QCOMPARE(render.status, 0);
        QCOMPARE(pngSize(folder() + u"/echo.png"_s), kEchoSize);

        const Run smoke = QuillomareTest::runBuiltProgram({u"--smoke-test"_s}, environment, folder(), 60000);
        QCOMPARE(smoke.status, 1);
        // Warnings may come first; the verdict is a line of its own.
        QVERIFY2((smoke.err.startsWith("Smoke test failed: ") || smoke.err.contains("\nSmoke test failed: ")) &&
                     smoke.err.contains("is not a folder"),
                 smoke.err.constData());
    }

    void testRenderFailureHasTheRowsPrefix_data()
    {
        QTest::addColumn<QString>("flag");
        QTest::addColumn<QByteArray>("prefix");
        QTest::newRow("island") << u"--render-island-preview"_s << QByteArray("Preview render failed: ");
        QTest::newRow("shelf") << u"--render-shelf-preview"_s << QByteArray("Shelf preview render failed: ");
        QTest::newRow("echo") << u"--render-echo-preview"_s << QByteArray("Echo preview render failed: ");
    }

    void testRenderFailureHasTheRowsPrefix()
    {
        QFETCH(QString, flag);
        QFETCH(QByteArray, prefix);
        const Run result = run({flag, u"missing/folder/preview.png"_s});
        QCOMPARE(result.status, 1);
        QCOMPARE(result.out, QByteArray());
        // Qt may warn on standard error before; the failure is the last line.
        QVERIFY(result.err.endsWith('\n'));
        const QByteArray last = result.err.chopped(1).split('\n').constLast();
        QVERIFY2(last.startsWith(prefix) && last.size() > prefix.size(), result.err.constData());
        QVERIFY2(last.contains("missing/folder/preview.png"), result.err.constData());
    }

    // A device takes the image in place (a file renamed over it would replace the device), and
    // one that refuses the bytes is a failure like any other.
    void testRenderToADeviceThatRefusesTheBytesFails_data() { testRenderFailureHasTheRowsPrefix_data(); }

    void testRenderToADeviceThatRefusesTheBytesFails()
    {
        QFETCH(QString, flag);
        QFETCH(QByteArray, prefix);
        const Run result = run({flag, u"/dev/full"_s});
        QCOMPARE(result.status, 1);
        QCOMPARE(result.out, QByteArray());
        const QByteArray last = result.err.chopped(1).split('\n').constLast();
        QVERIFY2(last.startsWith(prefix) && last.contains("/dev/full"), result.err.constData());
        QVERIFY(QFileInfo(u"/dev/full"_s).exists() && !QFileInfo(u"/dev/full"_s).isFile());

        const Run toNull = run({flag, u"/dev/null"_s});
        QCOMPARE(toNull.status, 0);
        QCOMPARE(toNull.out, "/dev/null\n");
        QVERIFY(!QFileInfo(u"/dev/null"_s).isFile());
    }

    // The normal start with a display that cannot be opened stops with the program's own word,
    // as without one, never with a toolkit's abort.
    void testDisplayThatCannotBeOpenedGetsTheProgramsMessage_data()
    {
        QTest::addColumn<QString>("display");
        int free = 90;
        while (QFileInfo::exists(u"/tmp/.X11-unix/X%1"_s.arg(free)))
            ++free;
        QTest::newRow("no server at the display") << u":%1"_s.arg(free);
        QTest::newRow("garbage") << u"not a display at all"_s;
    }

    void testDisplayThatCannotBeOpenedGetsTheProgramsMessage()
    {
        QFETCH(QString, display);
        const Run result = run({}, {}, display);
        QCOMPARE(result.status, 1);
        QVERIFY2(result.err.contains("Quillomare needs an X11 display") && result.err.contains(display.toUtf8()),
                 result.err.constData());
        QCOMPARE(result.out, QByteArray());
    }

    void testRefusalsWriteNothing_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<int>("status");
        QTest::addColumn<QByteArray>("err"); // all of standard error when it ends in a newline
        for (const QStringList& arguments :
             {QStringList{"--render-island-preview"}, QStringList{"-v", "--render-shelf-preview"},
              QStringList{"--render-echo-preview"}})
            QTest::newRow(qPrintable(arguments.join(u' ')))
                << arguments << 64 << "Missing output path for " + arguments.constLast().toLatin1() + '\n';
        // Not a switch: the normal start, which without a display stops with its own message.
        for (const QStringList& arguments :
             {QStringList{"--render-echo-preview=echo.png"}, QStringList{"--Render-Echo-Preview", "echo.png"},
              QStringList{"--render-everything", "echo.png"}})
            QTest::newRow(qPrintable(arguments.join(u' '))) << arguments << 1 << QByteArray("DISPLAY is not set");
    }

    void testRefusalsWriteNothing()
    {
        QFETCH(QStringList, arguments);
        QFETCH(int, status);
        QFETCH(QByteArray, err);
        const Run result = run(arguments);
        QCOMPARE(result.status, status);
        QVERIFY2(err.endsWith('\n') ? result.err == err : result.err.contains(err), result.err.constData());
        QCOMPARE(result.out, QByteArray());
        QCOMPARE(QDir(folder()).entryList(QDir::Files), QStringList());
    }

    // Several switches: the one earlier in the table runs, and nothing of the others (no picture,
    // no repair line).
    void testTheFirstSwitchOfTheTableWins_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<QByteArray>("winner"); // what every line of standard output starts with
        QTest::newRow("a probe before the one given first")
            << QStringList{u"--history-row-preview-probe"_s, u"--anim-probe"_s} << QByteArray("animProbe");
        QTest::newRow("a probe before the repair probe")
            << QStringList{u"--repair-shelf-store-probe"_s, u"--stage-probe"_s} << QByteArray("stageProbe");
        QTest::newRow("the self-test before a render")
            << QStringList{u"--render-island-preview"_s, u"island.png"_s, u"--smoke-test"_s} << QByteArray();
    }

    void testTheFirstSwitchOfTheTableWins()
    {
        QFETCH(QStringList, arguments);
        QFETCH(QByteArray, winner);
        const Run result = run(arguments);
        QVERIFY2(result.status == 0, result.out + result.err);
        if (winner.isEmpty()) {
            QCOMPARE(result.out, QByteArray());
        } else {
            const QList<QByteArray> lines = result.out.trimmed().split('\n');
            for (const QByteArray& line : lines)
                QVERIFY2(line.startsWith(winner + ' ') || line == winner + "=pass", line.constData());
            QCOMPARE(lines.constLast(), winner + "=pass");
        }
        QCOMPARE(QDir(folder()).entryList(QDir::Files), QStringList());
    }

    void testRepairProbeChecksTheRepairedShelf()
    {
        // An empty shelf passes (and the probe's row comes before the last probe's).
        Run result = run({u"--live-text-copy-all-probe"_s, u"--repair-shelf-store-probe"_s});
        QCOMPARE(result.status, 0);
        QCOMPARE(result.out, "shelfRepairProbe foundFileItem=false allFilePayloadsValid=true result=pass\n");

        const QString present = folder() + u"/files/a.txt"_s;
        const QString gone = folder() + u"/files/gone.txt"_s;
        const QString document = folder() + u"/files/Plan.DOCX"_s;
        // A private copy whose data folder was moved here: opening the shelf points the entry at it
        // and saves that before the probe ends.
        const QUuid id = QUuid::createUuid();
        const QString name = id.toString(QUuid::WithoutBraces).toUpper() + u"/notes.txt"_s;
        const QString copy = dataFolder() + u"/ShelfFiles/"_s + name;
        const QString shelf = dataFolder() + u"/shelf-sessions.json"_s;
        QuillomareTest::writeFile(present, "a");
        QuillomareTest::writeFile(copy, "n");
        // Listed: a title or a path that says "doc" in any letter case. Checked all the same: the other
        // file entries. Skipped: entries that are no files.
        QuillomareTest::writeFile(shelf, shelfFile({{{"Quarterly Doc", {present, gone}}, {"doc.doc", {}}},
                                                    {{"readme", {present}},
                                                     {"doc", {"/old/home/Quillomare/ShelfFiles/" + name}, id},
                                                     {"plan", {document}}}}));
        result = run({u"--repair-shelf-store-probe"_s});
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
