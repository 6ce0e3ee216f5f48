// The built program's self-test, run as a developer or CI runs it: in a home of the test's own,
// with no display, judged by its exit status, its output and what it left in the user's folders.

#include "TestSupport.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QMap>
#include <QSettings>
#include <QTemporaryDir>

#include <optional>

using namespace Qt::StringLiterals;

namespace {

const QString kLanguageKey = u"quillomare.language.preference"_s;
const QString kGuideKey = u"Quillomare.didShowOnboarding.v1"_s;

using Run = QuillomareTest::ProgramRun;

// Standard error without what the offscreen platform says of itself.
QList<QByteArray> ownLines(const QByteArray& err)
{
    QList<QByteArray> lines;
    for (const QByteArray& line : err.split('\n')) {
        if (!line.isEmpty() && !line.startsWith("This plugin does not support"))
            lines.append(line);
    }
    return lines;
}

// Every file under the folder with its bytes.
QMap<QString, QByteArray> contentsOf(const QString& folder)
{
    QMap<QString, QByteArray> files;
    for (QDirIterator it(folder, QDir::Files | QDir::Hidden, QDirIterator::Subdirectories); it.hasNext();) {
        const QString path = it.next();
        files.insert(path, QuillomareTest::readFile(path));
    }
    return files;
}

} // namespace

class SmokeTestTest : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<QTemporaryDir> m_dir;

    QString home() const { return m_dir->path() + u"/home"_s; }
    QString temporary() const { return m_dir->path() + u"/tmp"_s; }
    QString defaultsFile() const { return home() + u"/.config/Quillomare/Quillomare.ini"_s; }
    QString dataFolder() const { return home() + u"/.local/share/Quillomare"_s; }

    // The language choice as the user's preferences file holds it; nothing when absent.
    std::optional<QString> storedChoice() const
    {
        QSettings defaults(defaultsFile(), QSettings::IniFormat);
        return defaults.contains(kLanguageKey) ? std::optional<QString>(defaults.value(kLanguageKey).toString())
                                               : std::nullopt;
    }

    void store(const std::optional<QString>& choice) const
    {
        QSettings defaults(defaultsFile(), QSettings::IniFormat);
        if (choice)
            defaults.setValue(kLanguageKey, *choice);
        else
            defaults.remove(kLanguageKey);
    }

    QProcessEnvironment m_extraEnvironment;

    Run run(const QStringList& arguments = {u"--smoke-test"_s}, const QString& temporaryFolder = {})
    {
        QProcessEnvironment environment = QuillomareTest::programEnvironment(home());
        // The self-test picks its platform itself when there is no display.
        environment.remove(u"DISPLAY"_s);
        environment.remove(u"WAYLAND_DISPLAY"_s);
        environment.remove(u"QT_QPA_PLATFORM"_s);
        environment.insert(u"TMPDIR"_s, temporaryFolder.isEmpty() ? temporary() : temporaryFolder);
        environment.insert(u"XDG_RUNTIME_DIR"_s, m_dir->path() + u"/runtime"_s);
        for (const QString& name : m_extraEnvironment.keys())
            environment.insert(name, m_extraEnvironment.value(name));
        return QuillomareTest::runBuiltProgram(arguments, environment, m_dir->path(), 120000);
    }

private Q_SLOTS:
    void initTestCase() { QUILLOMARE_VERIFY_PROGRAM_BUILT(); }

    void init()
    {
        m_extraEnvironment.clear();
        m_dir = std::make_unique<QTemporaryDir>();
        QVERIFY(m_dir->isValid());
        QVERIFY(QDir().mkpath(temporary()));
        QVERIFY(QDir().mkpath(m_dir->path() + u"/runtime"_s));
        QVERIFY(QFile::setPermissions(m_dir->path() + u"/runtime"_s,
                                      QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));
    }

    // The self-test reads the interface in Chinese while it runs; afterwards the user's own
    // choice is back, other preferences untouched, and a preferences file it had to make for
    // that is gone again.
    void testPassesAndPutsTheUsersLanguageBack_data()
    {
        QTest::addColumn<bool>("hasFile");
        QTest::addColumn<std::optional<QString>>("choice");
        QTest::newRow("no preferences file") << false << std::optional<QString>();
        QTest::newRow("no choice beside the guide flag") << true << std::optional<QString>();
        QTest::newRow("english") << true << std::optional<QString>(u"english"_s);
        QTest::newRow("system") << true << std::optional<QString>(u"system"_s);
        QTest::newRow("chinese") << true << std::optional<QString>(u"chinese"_s);
        QTest::newRow("a word of an older version") << true << std::optional<QString>(u"klingon"_s);
    }

    void testPassesAndPutsTheUsersLanguageBack()
    {
        QFETCH(bool, hasFile);
        QFETCH(std::optional<QString>, choice);
        if (hasFile) {
            QuillomareTest::markGuideShown(home());
            store(choice);
        }

        const Run result = run();
        QVERIFY2(result.status == 0, result.err.constData());
        QCOMPARE(result.out, QByteArray());
        QCOMPARE(ownLines(result.err), QList<QByteArray>());

        QCOMPARE(QFileInfo::exists(defaultsFile()), hasFile);
        QCOMPARE(QFileInfo::exists(home() + u"/.config/Quillomare"_s), hasFile);
        QCOMPARE(storedChoice(), choice);
        if (hasFile)
            QCOMPARE(QSettings(defaultsFile(), QSettings::IniFormat).value(kGuideKey).toBool(), true);
        // Its working files go with it.
        QCOMPARE(QDir(temporary()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden), QStringList());
    }

    // The user's history and shelf stay as they are, a damaged history included: the self-test
    // sets aside only the damaged file it made itself.
    void testLeavesTheUsersDataAlone()
    {
        QuillomareTest::markGuideShown(home());
        const QString history = dataFolder() + u"/clips.json"_s;
        QuillomareTest::writeFile(history, "{\"items\": [{\"id\": \"half a history");
        QuillomareTest::writeFile(dataFolder() + u"/shelf-sessions.json"_s,
                                  "{\"selectedSessionID\": null, \"sessions\": []}");
        QuillomareTest::writeFile(dataFolder() + u"/ShelfFiles/A/notes.txt"_s, "notes");
        const QMap<QString, QByteArray> before = contentsOf(home() + u"/.local"_s);

        const Run result = run();
        QVERIFY2(result.status == 0, result.err.constData());
        QCOMPARE(contentsOf(home() + u"/.local"_s), before);
        QVERIFY(!QFileInfo::exists(home() + u"/.cache/Quillomare"_s));
    }

    void testRunsAloneWhateverElseIsAsked()
    {
        const Run result = run({u"--render-island-preview"_s, u"island.png"_s, u"--smoke-test"_s});
        QVERIFY2(result.status == 0, result.err.constData());
        QCOMPARE(result.out, QByteArray());
        QVERIFY(!QFileInfo::exists(m_dir->path() + u"/island.png"_s));
    }

    // A check that cannot be made is a failure with its reason, and the language choice is the
    // user's again all the same.
    void testFailureIsReportedAndTheLanguageStillGoesBack_data()
    {
        QTest::addColumn<std::optional<QString>>("choice");
        QTest::addColumn<QString>("temporaryFolder"); // relative to the test's folder
        QTest::addColumn<QByteArray>("reason");
        // (A folder that is missing is no failure: Qt then takes the system's own.)
        for (const auto& choice : {std::optional<QString>(), std::optional<QString>(u"english"_s)}) {
            const QByteArray name = choice ? "english" : "no choice";
            QTest::newRow(name + ", temporary folder is a file")
                << choice << u"tmp-file"_s << QByteArray("cannot create a temporary folder in ");
        }
    }

    void testFailureIsReportedAndTheLanguageStillGoesBack()
    {
        QFETCH(std::optional<QString>, choice);
        QFETCH(QString, temporaryFolder);
        QFETCH(QByteArray, reason);
        QuillomareTest::markGuideShown(home());
        store(choice);
        QuillomareTest::writeFile(m_dir->path() + u"/tmp-file"_s, "not a folder");
        const QString folder = m_dir->path() + u'/' + temporaryFolder;

        const Run result = run({u"--smoke-test"_s}, folder);
        QCOMPARE(result.status, 1);
        QCOMPARE(result.out, QByteArray());
        const QList<QByteArray> lines = ownLines(result.err);
        QVERIFY2(lines.size() == 1, result.err.constData());
        QVERIFY2(lines.first().startsWith("Smoke test failed: " + reason) && lines.first().contains(folder.toUtf8()),
                 result.err.constData());
        QVERIFY(result.err.endsWith('\n'));
        QCOMPARE(storedChoice(), choice);
        QCOMPARE(QSettings(defaultsFile(), QSettings::IniFormat).value(kGuideKey).toBool(), true);
    }

    // With no fonts the island's pictures are not blank, yet every label is an empty box: the
    // self-test must not pass them.
    void testFailsWhenNoFontCanDrawTheIsland()
    {
        const QString config = m_dir->path() + u"/fonts.conf"_s;
        QuillomareTest::writeFile(config, "<?xml version=\"1.0\"?>\n<fontconfig><cachedir>" +
                                              QFile::encodeName(m_dir->path()) + "/font-cache</cachedir></fontconfig>\n");
        m_extraEnvironment.insert(u"FONTCONFIG_FILE"_s, config);
        const Run result = run();
        QCOMPARE(result.status, 1);
        const QList<QByteArray> lines = ownLines(result.err);
        QVERIFY2(lines.size() == 1 &&
                     lines.first().startsWith("Smoke test failed: the island's texts cannot be drawn: no installed font "
                                              "has “"),
                 result.err.constData());
    }

    // Preferences that cannot be written: the self-test cannot read the interface in its
    // language, and says where it tried.
    void testUnwritablePreferencesFail()
    {
        QVERIFY(QDir().mkpath(defaultsFile()));
        const Run result = run();
        QCOMPARE(result.status, 1);
        const QByteArray last = result.err.chopped(1).split('\n').constLast();
        QVERIFY2(last.startsWith("Smoke test failed: the language choice could not be stored in ") &&
                     last.contains(defaultsFile().toUtf8()),
                 result.err.constData());
        QVERIFY(QFileInfo(defaultsFile()).isDir());
    }
};

QUILLOMARE_TEST_MAIN(SmokeTestTest)
#include "tst_smoketest.moc"
