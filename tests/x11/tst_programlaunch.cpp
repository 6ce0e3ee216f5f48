// The built program started as a user starts it, on the session's bus and display: two copies
// started at the same instant, a request to end while the launch waits for an instance that does
// not quit, and a long crafted text copied in another program. This test program doubles as that
// stubborn instance when started with kStubbornSwitch.

#include <QuillomareCore/ClipboardItem.h>
#include <QuillomareCore/Errors.h>
#include <QuillomareCore/Hashing.h>
#include <QuillomareCore/Json.h>

#include <Platform/InstanceRegistryDBus.h>

#include "Shell/SingleInstance.h"
#include "TestSupport.h"
#include "X11Tools.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QSettings>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QThread>

#include <algorithm>
#include <csignal>
#include <optional>
#include <sys/wait.h>
#include <unistd.h>

using namespace Qt::StringLiterals;
using namespace QuillomareCore;
using namespace QuillomareMac;

namespace {

const char kStubbornSwitch[] = "--stubborn-instance";

// An instance of the program's kind that ignores the request to end.
int runStubbornInstance(int argc, char* argv[])
{
    std::signal(SIGTERM, SIG_IGN);
    QCoreApplication app(argc, argv);
    Platform::DBusInstanceRegistry registry;
    if (!registry.registerInstance(SingleInstance::bundleIdentifier))
        return 2;
    std::puts("ready");
    std::fflush(stdout);
    return app.exec();
}

QString programPath()
{
    return QuillomareTest::builtProgramPath();
}

// A process's state letter and parent, from /proc/<pid>/stat; the name between them may hold
// blanks and parentheses, so the fields are read after its last ')'.
std::optional<std::pair<char, pid_t>> stateAndParent(pid_t pid)
{
    QFile stat(u"/proc/%1/stat"_s.arg(pid));
    if (!stat.open(QIODevice::ReadOnly))
        return std::nullopt;
    const QByteArray line = stat.readAll();
    const qsizetype close = line.lastIndexOf(')');
    const QList<QByteArray> fields = line.mid(close + 2).split(' ');
    if (close < 0 || fields.size() < 2 || fields[0].isEmpty())
        return std::nullopt;
    return std::pair<char, pid_t>(fields[0].at(0), pid_t(fields[1].toLong()));
}

// A zombie has ended; only nobody has asked for its status yet.
bool isRunning(pid_t pid)
{
    const auto state = stateAndParent(pid);
    return state && state->first != 'Z' && state->first != 'X';
}

QList<pid_t> runningChildrenOf(pid_t parent)
{
    QList<pid_t> children;
    const QStringList entries = QDir(u"/proc"_s).entryList(QDir::Dirs | QDir::NoDotAndDotDot);
    for (const QString& entry : entries) {
        bool number = false;
        const pid_t pid = pid_t(entry.toLong(&number));
        if (!number)
            continue;
        const auto state = stateAndParent(pid);
        if (state && state->second == parent && isRunning(pid))
            children.append(pid);
    }
    return children;
}

// A home of its own with the first-launch guide already seen, and the environment to start the
// program in it.
class Home
{
public:
    Home() { QuillomareTest::markGuideShown(m_dir.path()); }

    bool isValid() const { return m_dir.isValid(); }
    QString filePath(const QString& relative) const { return m_dir.filePath(relative); }

    QStringList environment() const { return QuillomareTest::programEnvironment(m_dir.path()).toStringList(); }

private:
    QTemporaryDir m_dir;
};

// Processes forked at once and let go together: each child waits on a pipe until all are made,
// so the execs happen within a fraction of a millisecond.
class SimultaneousStart
{
public:
    SimultaneousStart(int count, const QString& program, const QStringList& environment)
    {
        const QByteArray path = QFile::encodeName(program);
        QList<QByteArray> variables;
        for (const QString& variable : environment)
            variables.append(variable.toLocal8Bit());
        std::vector<char*> envp;
        for (QByteArray& variable : variables)
            envp.push_back(variable.data());
        envp.push_back(nullptr);
        char* argv[] = {const_cast<char*>(path.constData()), nullptr};

        int gate[2];
        if (::pipe(gate) != 0)
            return;
        for (int i = 0; i < count; ++i) {
            const pid_t pid = ::fork();
            if (pid == 0) {
                ::close(gate[1]);
                char byte;
                while (::read(gate[0], &byte, 1) < 0 && errno == EINTR) {
                }
                ::close(gate[0]);
                ::execve(argv[0], argv, envp.data());
                ::_exit(127);
            }
            if (pid > 0)
                m_pids.append(pid);
        }
        ::close(gate[0]);
        ::close(gate[1]); // every child's read returns now
    }

    ~SimultaneousStart()
    {
        for (const pid_t pid : std::as_const(m_pids)) {
            if (!m_statuses.contains(pid)) {
                ::kill(pid, SIGKILL);
                ::waitpid(pid, nullptr, 0);
            }
        }
    }

    const QList<pid_t>& pids() const { return m_pids; }

    // Collects the ones that have ended; true once `pid` has.
    bool hasEnded(pid_t pid)
    {
        for (const pid_t child : std::as_const(m_pids)) {
            int status = 0;
            if (!m_statuses.contains(child) && ::waitpid(child, &status, WNOHANG) == child)
                m_statuses.insert(child, status);
        }
        return m_statuses.contains(pid);
    }
    QList<pid_t> running()
    {
        QList<pid_t> alive;
        for (const pid_t pid : std::as_const(m_pids)) {
            if (!hasEnded(pid))
                alive.append(pid);
        }
        return alive;
    }
    QString describe(pid_t pid) const
    {
        if (!m_statuses.contains(pid))
            return u"running"_s;
        const int status = m_statuses.value(pid);
        return WIFSIGNALED(status) ? u"killed by signal %1"_s.arg(WTERMSIG(status))
                                   : u"exit %1"_s.arg(WEXITSTATUS(status));
    }
    bool endedCleanly(pid_t pid) const
    {
        const int status = m_statuses.value(pid, -1);
        return m_statuses.contains(pid) && WIFEXITED(status) && WEXITSTATUS(status) == 0;
    }

private:
    QList<pid_t> m_pids;
    QHash<pid_t, int> m_statuses;
};

// Mostly other processes are waited for: rest between rounds.
bool waitFor(const std::function<bool()>& condition, int milliseconds)
{
    return QuillomareTest::waitFor(condition, milliseconds, 10, 10);
}

bool instanceAnnounced(qint64 pid)
{
    const auto applications = Platform::DBusInstanceRegistry().runningApplications();
    return std::any_of(applications.begin(), applications.end(), [&](const Platform::RunningApplication& application) {
        return application.processIdentifier == pid;
    });
}

} // namespace

class ProgramLaunchTest : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase()
    {
        QVERIFY2(QFileInfo(programPath()).isExecutable(), qPrintable(programPath() + u" is not built"_s));
        QVERIFY(Platform::DBusInstanceRegistry().isAvailable());
    }

    // Each copy sees the other as an instance to end; they must agree on which one goes on.
    void testExactlyOneOfTwoCopiesStartedTogetherSurvives()
    {
        constexpr int kRaces = 30;
        QStringList failures;
        for (int race = 0; race < kRaces; ++race) {
            Home home;
            QVERIFY(home.isValid());
            SimultaneousStart start(2, programPath(), home.environment());
            QCOMPARE(start.pids().size(), 2);

            // The loser ends at once; both gone or neither after the others' grace period (3 s)
            // and forcing (1 s) is the fault.
            waitFor([&] { return start.running().size() < 2; }, 8000);
            QThread::msleep(1500); // time enough for a wrong decision to end the survivor too
            const QList<pid_t> survivors = start.running();
            const QString outcome = u"race %1: %2 / %3"_s.arg(race).arg(start.describe(start.pids().at(0)),
                                                                        start.describe(start.pids().at(1)));
            if (survivors.size() != 1) {
                failures.append(outcome);
                continue;
            }
            const pid_t loser = start.pids().at(start.pids().at(0) == survivors.first() ? 1 : 0);
            if (!start.endedCleanly(loser))
                failures.append(outcome + u" (the loser did not end cleanly)"_s);
            if (!instanceAnnounced(survivors.first()))
                failures.append(outcome + u" (the survivor is not announced)"_s);
            ::kill(survivors.first(), SIGTERM);
            if (!waitFor([&] { return start.hasEnded(survivors.first()); }, 10000))
                failures.append(outcome + u" (the survivor did not end on request)"_s);
        }
        QVERIFY2(failures.isEmpty(), qPrintable(failures.join(u'\n')));
    }

    // The launch waits up to its grace period for an instance that ignores the request to end; a
    // request to end this one meanwhile ends it at once, cleanly, before it has read any file.
    void testRequestToEndDuringTheTakeoverWaitEndsTheProgramCleanly()
    {
        QProcess stubborn;
        stubborn.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        stubborn.start(QCoreApplication::applicationFilePath(), {QString::fromLatin1(kStubbornSwitch)});
        QVERIFY(stubborn.waitForReadyRead(10000));
        QCOMPARE(stubborn.readLine().trimmed(), QByteArray("ready"));

        Home home;
        SimultaneousStart start(1, programPath(), home.environment());
        const pid_t program = start.pids().first();
        // Announced before it lists the others: then it asks the stubborn one and waits.
        QVERIFY(waitFor([&] { return instanceAnnounced(program); }, 10000));
        QThread::msleep(300);
        QVERIFY(!start.hasEnded(program));

        QElapsedTimer elapsed;
        elapsed.start();
        ::kill(program, SIGTERM);
        QVERIFY2(waitFor([&] { return start.hasEnded(program); }, 10000), "the program never ended");
        qInfo("ended %lld ms after the request", elapsed.elapsed());
        QVERIFY2(start.endedCleanly(program), qPrintable(start.describe(program)));
        // Before the grace period was over: the stubborn instance was never forced.
        QVERIFY2(elapsed.elapsed() < 2000, qPrintable(u"took %1 ms"_s.arg(elapsed.elapsed())));
        QCOMPARE(stubborn.state(), QProcess::Running);
        QVERIFY(!QFileInfo::exists(home.filePath(u".local/share/Quillomare/clips.json"_s)));

        stubborn.kill();
        stubborn.waitForFinished(5000);
    }

    // The program follows the desktop's animation setting through a helper (gsettings). Killed,
    // it takes the helper along: left behind, the helper would keep the pipe the program was
    // started with open for ever, and whatever waits for that pipe's end would wait with it.
    void testAKilledProgramLeavesNoHelperBehind()
    {
        if (QStandardPaths::findExecutable(u"gsettings"_s).isEmpty())
            QSKIP("gsettings is not installed: the program starts no helper");
        Home home;
        QVERIFY(home.isValid());
        QProcess program;
        program.setEnvironment(home.environment());
        program.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        program.start(programPath(), {});
        QVERIFY(program.waitForStarted(10000));
        const pid_t parent = pid_t(program.processId());
        QList<pid_t> helpers;
        QVERIFY2(QuillomareTest::waitFor([&] { return !(helpers = runningChildrenOf(parent)).isEmpty(); }, 20000),
                 "the program started no helper");

        ::kill(parent, SIGKILL);
        QVERIFY(program.waitForFinished(10000));
        QVERIFY2(QuillomareTest::waitFor(
                     [&] {
                         return std::none_of(helpers.cbegin(), helpers.cend(), [](pid_t pid) { return isRunning(pid); });
                     },
                     10000),
                 "a helper outlived the program");
    }

    // Built against the token rule's word boundaries beside letters outside ASCII; scanning it
    // once took tens of seconds, and every later copy waited behind it.
    void testCraftedLongTextIsCapturedAndTheNextCopyToo()
    {
        Home home;
        SimultaneousStart start(1, programPath(), home.environment());
        const pid_t program = start.pids().first();
        QVERIFY(waitFor([&] { return instanceAnnounced(program); }, 10000));
        const QString historyPath = home.filePath(u".local/share/Quillomare/clips.json"_s);
        const auto hashes = [&] {
            QSet<QString> found;
            QFile file(historyPath);
            if (!file.open(QIODevice::ReadOnly))
                return found;
            try {
                const QByteArray bytes = file.readAll();
                const Json::Document document = Json::Document::parse(bytes);
                if (const auto list = document.root().presentMember("items"))
                    list->forEachElement(
                        [&](const Json::Value& element) { found.insert(ClipboardItem::decode(element).contentHash); });
            } catch (const DecodingError&) {
            }
            return found;
        };
        // The program watches from once it has started: copy until a first copy arrives.
        bool watching = false;
        for (int attempt = 0; attempt < 100 && !watching; ++attempt) {
            const QString text = u"warm-up %1"_s.arg(attempt);
            watching = QuillomareTest::xclipCopy(text.toUtf8()) &&
                       waitFor([&] { return hashes().contains(ClipHashing::textContentHash(text)); }, 200);
        }
        QVERIFY(watching);

        const QString crafted = u"aaaaaaaaaaa.bbbbbbbb.ccccccccé "_s.repeated(1300 * 1000 / 31);
        const QString next = u"the copy after it"_s;
        QElapsedTimer elapsed;
        elapsed.start();
        QVERIFY(QuillomareTest::xclipCopy(crafted.toUtf8()));
        // A generous bound: a rule quadratic again would take tens of seconds. The speed itself is
        // the benchmark's.
        QVERIFY(waitFor([&] { return hashes().contains(ClipHashing::textContentHash(crafted)); }, 15000));
        qInfo("crafted 1.3 MB text in the history file after %lld ms", elapsed.elapsed());
        QVERIFY(QuillomareTest::xclipCopy(next.toUtf8()));
        QVERIFY(waitFor([&] { return hashes().contains(ClipHashing::textContentHash(next)); }, 15000));

        ::kill(program, SIGTERM);
        QVERIFY(waitFor([&] { return start.hasEnded(program); }, 10000));
        QVERIFY(start.endedCleanly(program));
    }
};

int main(int argc, char* argv[])
{
    if (argc >= 2 && qstrcmp(argv[1], kStubbornSwitch) == 0)
        return runStubbornInstance(argc, argv);
    QuillomareTest::isolateUserFolders();
    QCoreApplication app(argc, argv);
    ProgramLaunchTest test;
    QTEST_SET_MAIN_SOURCE_PATH
    return QTest::qExec(&test, argc, argv);
}

#include "tst_programlaunch.moc"
