// Two desktop sessions with one home: the built program started in each, each session with its
// own X display, window manager and session bus, so that the bus's single-instance rule cannot
// see from one to the other. Copies are made with xclip in the session they belong to.

#include <QuillomareCore/ClipboardItem.h>

#include "TestSupport.h"
#include "X11Tools.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QProcess>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QTemporaryDir>

#include <algorithm>
#include <csignal>

using namespace QuillomareCore;
using namespace QuillomareTest;

namespace {

// How long a session's parts may take to come up, and its program to show its window, on a
// machine whose every core is busy.
constexpr int kStartBoundMilliseconds = 30000;

// Another desktop session: an X server, a session bus and a window manager of its own.
class OtherSession
{
public:
    OtherSession() = default;
    OtherSession(const OtherSession&) = delete;
    OtherSession& operator=(const OtherSession&) = delete;
    ~OtherSession() { stop(); }

    // The X server picks a free display itself and names it once it takes connections; it never
    // resets, so that a client's first connection may also be its only one.
    bool startDisplay()
    {
        m_display.setStandardErrorFile(QProcess::nullDevice());
        m_display.start(QStringLiteral("Xvfb"),
                        {QStringLiteral("-displayfd"), QStringLiteral("1"), QStringLiteral("-noreset"),
                         QStringLiteral("-screen"), QStringLiteral("0"), QStringLiteral("1280x800x24"),
                         QStringLiteral("-nolisten"), QStringLiteral("tcp")});
        const QByteArray number = firstLine(m_display);
        if (number.isEmpty())
            return false;
        m_displayName = QLatin1Char(':') + QString::fromLatin1(number);
        m_bus.setStandardErrorFile(QProcess::nullDevice());
        m_bus.start(QStringLiteral("dbus-daemon"),
                    {QStringLiteral("--session"), QStringLiteral("--nofork"), QStringLiteral("--print-address=1")});
        m_busAddress = QString::fromLatin1(firstLine(m_bus));
        return !m_busAddress.isEmpty();
    }

    // Returns at once: the manager takes a moment to run (see windowManagerRuns).
    bool startWindowManager()
    {
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("DISPLAY"), m_displayName);
        m_windowManager.setProcessEnvironment(environment);
        m_windowManager.setStandardOutputFile(QProcess::nullDevice());
        m_windowManager.setStandardErrorFile(QProcess::nullDevice());
        m_windowManager.start(QStringLiteral("openbox"), {QStringLiteral("--sm-disable")});
        return m_windowManager.waitForStarted(kStartBoundMilliseconds);
    }

    bool windowManagerRuns() const
    {
        return QuillomareTest::windowManagerCheck(
                   [this](const QStringList& arguments) { return run(QStringLiteral("xprop"), arguments); })
               != 0;
    }

    bool startWindowManagerAndWait()
    {
        return startWindowManager() && waitFor([&] { return windowManagerRuns(); }, kStartBoundMilliseconds, 10, 50);
    }

    // A window manager that has stopped answering: it still holds the screen, so no window is
    // mapped but through it. The display itself must go on answering: a manager grabs the server
    // for moments (openbox while it takes on a window), and one stopped inside such a grab would
    // stop every client of the display, the program's first connection included, which is
    // another case than the one tested. So the manager is stopped, seen stopped, and let run
    // again for a moment while the display does not answer a bystander.
    bool freezeWindowManager() const
    {
        const pid_t manager = pid_t(m_windowManager.processId());
        const QDeadlineTimer deadline(kStartBoundMilliseconds);
        while (!deadline.hasExpired()) {
            ::kill(manager, SIGSTOP);
            if (waitFor([&] { return isStopped(manager); }, 5000, 10, 10) && displayAnswers())
                return true;
            ::kill(manager, SIGCONT);
            displayAnswers();
        }
        return false;
    }

    // The display answers a request from another client within a bound.
    bool displayAnswers() const
    {
        QProcess process;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("DISPLAY"), m_displayName);
        process.setProcessEnvironment(environment);
        process.setStandardOutputFile(QProcess::nullDevice());
        process.setStandardErrorFile(QProcess::nullDevice());
        process.start(QStringLiteral("xprop"), {QStringLiteral("-root"), QStringLiteral("_NET_SUPPORTING_WM_CHECK")});
        if (!process.waitForStarted(5000))
            return false;
        if (!process.waitForFinished(5000)) {
            process.kill();
            process.waitForFinished(5000);
            return false;
        }
        return process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0;
    }

    QProcessEnvironment programEnvironment(const QString& home) const
    {
        QProcessEnvironment environment = QuillomareTest::programEnvironment(home);
        environment.insert(QStringLiteral("DISPLAY"), m_displayName);
        environment.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"), m_busAddress);
        return environment;
    }

    // A command in this session; its standard output.
    QByteArray run(const QString& program, const QStringList& arguments, const QByteArray& input = {}) const
    {
        QProcess process;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("DISPLAY"), m_displayName);
        environment.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"), m_busAddress);
        process.setProcessEnvironment(environment);
        process.start(program, arguments);
        if (!process.waitForStarted(5000))
            return {};
        process.write(input);
        process.closeWriteChannel();
        // xclip leaves a child behind that owns the selection; the command itself returns.
        process.waitForFinished(10000);
        return process.readAllStandardOutput();
    }

    // The program's window, mapped and viewable, as a user sees it.
    bool programWindowShown() const
    {
        return !run(QStringLiteral("xdotool"), {QStringLiteral("search"), QStringLiteral("--onlyvisible"),
                                                QStringLiteral("--name"), QStringLiteral("^Quillomare$")})
                    .trimmed()
                    .isEmpty();
    }

    void stop()
    {
        if (m_windowManager.state() != QProcess::NotRunning)
            ::kill(pid_t(m_windowManager.processId()), SIGCONT);
        for (QProcess* process : {&m_windowManager, &m_bus, &m_display}) {
            if (process->state() == QProcess::NotRunning)
                continue;
            process->terminate();
            if (!process->waitForFinished(10000)) {
                process->kill();
                process->waitForFinished(5000);
            }
        }
    }

private:
    // The process is stopped by a signal (its state in /proc is "T").
    static bool isStopped(pid_t process)
    {
        const QByteArray stat = readFile(QStringLiteral("/proc/%1/stat").arg(process));
        const qsizetype nameEnd = stat.lastIndexOf(')');
        return nameEnd >= 0 && stat.mid(nameEnd + 1).trimmed().startsWith('T');
    }

    static QByteArray firstLine(QProcess& process)
    {
        process.setReadChannel(QProcess::StandardOutput);
        if (!process.waitForStarted(kStartBoundMilliseconds))
            return {};
        QByteArray output;
        const QDeadlineTimer deadline(kStartBoundMilliseconds);
        while (!output.contains('\n') && process.state() == QProcess::Running && !deadline.hasExpired()) {
            process.waitForReadyRead(int(std::max<qint64>(1, deadline.remainingTime())));
            output += process.readAllStandardOutput();
        }
        return output.contains('\n') ? output.left(output.indexOf('\n')).trimmed() : QByteArray();
    }

    QProcess m_display;
    QProcess m_bus;
    QProcess m_windowManager;
    QString m_displayName;
    QString m_busAddress;
};

} // namespace

class SharedHomeTest : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_home;
    QProcess m_firstSession;  // the program in this test's session
    OtherSession m_other;     // the other session, up for the whole test
    QProcess m_secondSession; // the program in the other session

    QString dataFolder() const { return m_home.filePath(QStringLiteral(".local/share/Quillomare")); }
    QString historyPath() const { return dataFolder() + QStringLiteral("/clips.json"); }

    QStringList historyTexts() const
    {
        QStringList texts;
        for (const ClipboardItem& item : historyAt(historyPath()))
            texts.append(item.payload.textValue());
        return texts;
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
        return QDir(dataFolder())
            .entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot, QDir::Name);
    }

    void startProgramIn(const OtherSession& session, QProcess& program) const
    {
        program.setProcessEnvironment(session.programEnvironment(m_home.path()));
        program.setProcessChannelMode(QProcess::SeparateChannels);
        program.start(builtProgramPath(), {});
    }

    static bool saysWhy(QProcess& program, QByteArray& errors)
    {
        errors += program.readAllStandardError();
        return errors.contains("already running in another session");
    }

    static void end(QProcess& program)
    {
        if (program.state() == QProcess::NotRunning)
            return;
        program.terminate();
        if (!program.waitForFinished(10000)) {
            program.kill();
            program.waitForFinished(5000);
        }
    }

private Q_SLOTS:
    void initTestCase()
    {
        QUILLOMARE_VERIFY_PROGRAM_BUILT();
        QVERIFY(m_home.isValid());
        QVERIFY2(m_other.startDisplay(), "the other session's X server or bus did not start");
        QVERIFY2(m_other.startWindowManagerAndWait(), "the other session's window manager did not start");
        QVERIFY(startBuiltProgram(m_firstSession, m_home.path(), QProcess::ForwardedErrorChannel));
    }

    void testTheSecondSessionLeavesTheHistoryToTheFirstAndSaysWhy()
    {
        QVERIFY(copyUntilCaptured(QStringLiteral("before the second session")));
        const QByteArray historyBefore = readFile(historyPath());
        const QStringList filesBefore = folderContents();

        startProgramIn(m_other, m_secondSession);
        QVERIFY(m_secondSession.waitForStarted(5000));

        // It says why, on standard error and in a window its user sees.
        QByteArray errors;
        QVERIFY2(waitFor([&] { return saysWhy(m_secondSession, errors); }, 20000), errors.constData());
        QVERIFY(errors.contains(QFile::encodeName(QStringLiteral("~/.local/share/Quillomare"))));
        QVERIFY(waitFor([&] { return m_other.programWindowShown(); }, 10000));

        // While its window is up: a copy in its session is not recorded, and every copy in the
        // first session is, none of them written over.
        m_other.run(QStringLiteral("xclip"),
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
        m_other.run(QStringLiteral("xdotool"), {QStringLiteral("key"), QStringLiteral("Return")});
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

    // A login starts its autostart programs beside the window manager; one starting with it can
    // lose the window's request to be shown. Each round is a fresh session, so that the two race.
    void testTheRefusalIsShownWhenItStartsWithTheWindowManager()
    {
        for (int round = 1; round <= 8; ++round) {
            OtherSession session;
            QVERIFY2(session.startDisplay(), "an X server or bus did not start");
            QProcess program;
            const auto ending = qScopeGuard([&] { end(program); });
            QVERIFY(session.startWindowManager());
            startProgramIn(session, program);
            QVERIFY(program.waitForStarted(5000));

            QByteArray errors;
            QVERIFY2(waitFor([&] { return saysWhy(program, errors); }, kStartBoundMilliseconds), errors.constData());
            const bool shown = waitFor([&] { return session.programWindowShown(); }, kStartBoundMilliseconds, 10, 50);
            QVERIFY2(shown, qPrintable(QStringLiteral("round %1: the window never reached the screen").arg(round)));
            // Its user has it in front of them: it waits for them.
            QCOMPARE(program.state(), QProcess::Running);
        }
    }

    // Where no window can be shown at all, the process has said why on standard error and ends as
    // a failed launch instead of sitting unseen until someone signals it.
    void testARefusalThatCannotBeShownStillEnds()
    {
        OtherSession session;
        QVERIFY2(session.startDisplay(), "an X server or bus did not start");
        QVERIFY2(session.startWindowManagerAndWait(), "the window manager did not start");
        QVERIFY2(session.freezeWindowManager(), "the window manager could not be stopped with the display answering");

        QProcess program;
        const auto ending = qScopeGuard([&] { end(program); });
        startProgramIn(session, program);
        QVERIFY(program.waitForStarted(5000));
        QByteArray errors;
        QVERIFY2(waitFor([&] { return saysWhy(program, errors); }, kStartBoundMilliseconds), errors.constData());
        const bool ended = waitFor([&] { return program.state() == QProcess::NotRunning; }, 60000, 10, 50);
        // What it said tells a process that never gave up on its window from one that gave up and
        // then did not end.
        errors += program.readAllStandardError();
        QVERIFY2(ended, qPrintable(QStringLiteral("the process lingers with nothing on screen; it said:\n") +
                                   QString::fromLocal8Bit(errors)));
        QCOMPARE(program.exitStatus(), QProcess::NormalExit);
        QCOMPARE(program.exitCode(), 1);
    }

    void cleanupTestCase()
    {
        end(m_secondSession);
        end(m_firstSession);
        m_other.stop();
    }
};

QUILLOMARE_GUI_TEST_MAIN(SharedHomeTest)
#include "tst_sharedhome_x11.moc"
