// Two desktop sessions with one home: the built program started in each, each session with its
// own X display and its own session bus, so that the bus's single-instance rule cannot see from
// one to the other. Copies are made with xclip in the session they belong to.

#include <QuillomareCore/ClipboardItem.h>

#include "TestSupport.h"
#include "X11Tools.h"

#include <QDir>
#include <QProcess>
#include <QRandomGenerator>
#include <QTemporaryDir>

#include <algorithm>
#include <csignal>

using namespace QuillomareCore;
using namespace QuillomareTest;

class SharedHomeTest : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_home;
    QProcess m_firstSession;   // the program in this test's session
    QProcess m_secondDisplay;  // the other session's X server
    QString m_secondDisplayName;
    QProcess m_secondSession;  // the program in the other session, on a bus of its own

    QString dataFolder() const { return m_home.filePath(QStringLiteral(".local/share/Quillomare")); }
    QString historyPath() const { return dataFolder() + QStringLiteral("/clips.json"); }

    QStringList historyTexts() const
    {
        QStringList texts;
        for (const ClipboardItem& item : historyAt(historyPath()))
            texts.append(item.payload.textValue());
        return texts;
    }

    QProcessEnvironment secondSessionEnvironment() const
    {
        QProcessEnvironment environment = programEnvironment(m_home.path());
        environment.insert(QStringLiteral("DISPLAY"), m_secondDisplayName);
        environment.remove(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"));
        return environment;
    }

    // A command on the other session's display; its standard output.
    QByteArray inSecondSession(const QString& program, const QStringList& arguments, const QByteArray& input = {})
    {
        QProcess process;
        process.setProcessEnvironment(secondSessionEnvironment());
        process.start(program, arguments);
        if (!process.waitForStarted(5000))
            return {};
        process.write(input);
        process.closeWriteChannel();
        // xclip leaves a child behind that owns the selection; the command itself returns.
        process.waitForFinished(10000);
        return process.readAllStandardOutput();
    }

    bool copyInFirstSessionAndWait(const QString& text)
    {
        return xclipCopy(text.toUtf8()) && waitFor([&] { return historyTexts().contains(text); }, 5000);
    }

    // The program watches from the moment it has started: copies until one reaches the file.
    bool copyUntilCaptured(const QString& prefix)
    {
        for (int attempt = 0; attempt < 100; ++attempt) {
            const QString text = prefix + QLatin1Char(' ') + QString::number(attempt);
            if (xclipCopy(text.toUtf8()) && waitFor([&] { return historyTexts().contains(text); }, 100))
                return true;
        }
        return false;
    }

    QStringList folderContents() const
    {
        return QDir(dataFolder()).entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
                                            QDir::Name);
    }

private Q_SLOTS:
    void initTestCase()
    {
        QUILLOMARE_VERIFY_PROGRAM_BUILT();
        QVERIFY(m_home.isValid());
        // A display of its own, far from the numbers X servers pick for themselves: one whose
        // name another server already answers to would put the second session elsewhere.
        for (int attempt = 0; attempt < 20 && m_secondDisplayName.isEmpty(); ++attempt) {
            const QString name = QLatin1Char(':') + QString::number(QRandomGenerator::global()->bounded(200, 2000));
            m_secondDisplay.start(QStringLiteral("Xvfb"), {name, QStringLiteral("-screen"), QStringLiteral("0"),
                                                          QStringLiteral("1280x800x24"), QStringLiteral("-nolisten"),
                                                          QStringLiteral("tcp")});
            if (!m_secondDisplay.waitForStarted(5000))
                continue;
            m_secondDisplayName = name;
            const bool up = waitFor([&] {
                return m_secondDisplay.state() != QProcess::Running ||
                       !inSecondSession(QStringLiteral("xwininfo"), {QStringLiteral("-root")}).isEmpty();
            }, 10000, 10, 50);
            const QByteArray log = m_secondDisplay.readAllStandardError();
            if (!up || m_secondDisplay.state() != QProcess::Running || log.contains("failed")) {
                m_secondDisplayName.clear();
                m_secondDisplay.kill();
                m_secondDisplay.waitForFinished(5000);
            }
        }
        QVERIFY2(!m_secondDisplayName.isEmpty(), "no second X display could be started");
        QVERIFY(startBuiltProgram(m_firstSession, m_home.path(), QProcess::ForwardedErrorChannel));
    }

    void testTheSecondSessionLeavesTheHistoryToTheFirstAndSaysWhy()
    {
        QVERIFY(copyUntilCaptured(QStringLiteral("before the second session")));
        const QByteArray historyBefore = readFile(historyPath());
        const QStringList filesBefore = folderContents();

        m_secondSession.setProcessEnvironment(secondSessionEnvironment());
        m_secondSession.setProcessChannelMode(QProcess::SeparateChannels);
        m_secondSession.start(QStringLiteral("dbus-run-session"), {QStringLiteral("--"), builtProgramPath()});
        QVERIFY(m_secondSession.waitForStarted(5000));

        // It says why, on standard error and in a window its user sees.
        QByteArray errors;
        QVERIFY2(waitFor([&] {
                     errors += m_secondSession.readAllStandardError();
                     return errors.contains("already running in another session");
                 }, 20000),
                 errors.constData());
        QVERIFY(errors.contains(QFile::encodeName(QStringLiteral("~/.local/share/Quillomare"))));
        QVERIFY(waitFor([&] {
            return !inSecondSession(QStringLiteral("xdotool"),
                                    {QStringLiteral("search"), QStringLiteral("--onlyvisible"), QStringLiteral("--name"),
                                     QStringLiteral("^Quillomare$")})
                        .trimmed()
                        .isEmpty();
        }, 10000));

        // While its window is up: a copy in its session is not recorded, and every copy in the
        // first session is, none of them written over.
        inSecondSession(QStringLiteral("xclip"),
                        {QStringLiteral("-selection"), QStringLiteral("clipboard"), QStringLiteral("-i")},
                        "copied in the second session");
        const QStringList texts{QStringLiteral("first copy"), QStringLiteral("second copy"),
                                QStringLiteral("third copy")};
        for (const QString& text : texts)
            QVERIFY(copyInFirstSessionAndWait(text));
        QStringList history = historyTexts();
        for (const QString& text : texts)
            QVERIFY2(history.contains(text), qPrintable(history.join(QStringLiteral(" | "))));
        QVERIFY(!history.contains(QStringLiteral("copied in the second session")));

        // Its user reads the window and confirms: it ends as a launch that failed.
        inSecondSession(QStringLiteral("xdotool"), {QStringLiteral("key"), QStringLiteral("Return")});
        QVERIFY(waitFor([&] { return m_secondSession.state() == QProcess::NotRunning; }, 10000));
        QCOMPARE(m_secondSession.exitStatus(), QProcess::NormalExit);
        QCOMPARE(m_secondSession.exitCode(), 1);

        // It added nothing to the folder, and the first session's history is whole.
        QCOMPARE(folderContents(), filesBefore);
        history = historyTexts();
        for (const QString& text : texts)
            QVERIFY(history.contains(text));
        QVERIFY(readFile(historyPath()) != historyBefore);
        QCOMPARE(m_firstSession.state(), QProcess::Running);
    }

    void cleanupTestCase()
    {
        for (QProcess* process : {&m_secondSession, &m_firstSession}) {
            if (process->state() != QProcess::NotRunning) {
                process->terminate();
                if (!process->waitForFinished(10000)) {
                    process->kill();
                    process->waitForFinished(5000);
                }
            }
        }
        m_secondDisplay.terminate();
        m_secondDisplay.waitForFinished(5000);
    }
};

QUILLOMARE_GUI_TEST_MAIN(SharedHomeTest)
#include "tst_sharedhome_x11.moc"
