// The preview switches of the built program, run as a developer runs them: no display, the
// working directory of the developer's choosing, the result read from the exit status, the two
// output streams and the PNG files.

#include "TestSupport.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImageReader>
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

    Run run(const QStringList& arguments, const QString& workingDirectory = {})
    {
        QProcess process;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        // The switches need no display and choose their platform themselves.
        environment.remove(QStringLiteral("DISPLAY"));
        environment.remove(QStringLiteral("WAYLAND_DISPLAY"));
        environment.remove(QStringLiteral("QT_QPA_PLATFORM"));
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
};

QUILLOMARE_TEST_MAIN(RenderSwitchesTest)
#include "tst_renderswitches.moc"
