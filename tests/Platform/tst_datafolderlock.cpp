// The data folder's lock between processes: one holder at a time, gone with its process however
// that ends, and never handed on to the programs the holder starts. Other processes are this
// test program started again in a helper mode that takes the lock and waits.

#include <Platform/DataFolderLock.h>

#include "TestSupport.h"

#include <QDir>
#include <QProcess>
#include <QTemporaryDir>

#include <csignal>
#include <cstdio>
#include <sys/stat.h>
#include <unistd.h>

using Platform::DataFolderLock;
using State = DataFolderLock::State;

namespace {

const char kHolderSwitch[] = "--hold-data-folder";

// Takes the lock on argv[2], says what came of it, and waits to be ended.
int runHolder(char* argv[])
{
    DataFolderLock lock(QString::fromLocal8Bit(argv[2]));
    std::printf("%s\n", lock.state() == State::held ? "held" : "refused");
    std::fflush(stdout);
    ::pause();
    return 0;
}

// A holder in another process; empty when it did not say it holds the lock.
bool startHolder(QProcess& holder, const QString& folder)
{
    holder.start(QCoreApplication::applicationFilePath(), {QString::fromLatin1(kHolderSwitch), folder});
    if (!holder.waitForStarted(5000))
        return false;
    QByteArray said;
    while (!said.contains('\n') && holder.waitForReadyRead(10000))
        said += holder.readAllStandardOutput();
    return said.trimmed() == "held";
}

mode_t modeOf(const QString& path)
{
    struct stat status = {};
    return ::lstat(QFile::encodeName(path).constData(), &status) == 0 ? status.st_mode & 07777 : 0;
}

} // namespace

class DataFolderLockTest : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_root;

    QString folder(const QString& name) const { return m_root.filePath(name + QStringLiteral("/share/Quillomare")); }

private Q_SLOTS:
    void testOneHolderAtATimeInAFolderOfItsOwn()
    {
        const QString path = folder(QStringLiteral("one"));
        // Whatever the umask: the folder and the lock file are the user's alone.
        const mode_t previous = ::umask(0);
        auto first = std::make_unique<DataFolderLock>(path);
        ::umask(previous);
        QCOMPARE(first->state(), State::held);
        QCOMPARE(modeOf(path), mode_t(0700));
        QCOMPARE(modeOf(path + QLatin1Char('/') + DataFolderLock::fileName), mode_t(0600));

        // A second holder, even in the same process, is refused while the first lives.
        DataFolderLock second(path);
        QCOMPARE(second.state(), State::heldElsewhere);
        QVERIFY(second.failure().isEmpty());
        first.reset();
        QCOMPARE(DataFolderLock(path).state(), State::held);

        // A lock file another program left open to others is closed to them again.
        QVERIFY(QFile::setPermissions(path + QLatin1Char('/') + DataFolderLock::fileName,
                                      QFile::ReadOwner | QFile::WriteOwner | QFile::ReadOther));
        QCOMPARE(DataFolderLock(path).state(), State::held);
        QCOMPARE(modeOf(path + QLatin1Char('/') + DataFolderLock::fileName), mode_t(0600));
    }

    void testTheLockEndsWithItsProcessEvenWhenItIsKilled()
    {
        const QString path = folder(QStringLiteral("killed"));
        QProcess holder;
        QVERIFY(startHolder(holder, path));
        QCOMPARE(DataFolderLock(path).state(), State::heldElsewhere);

        // A crash leaves nothing that keeps the next instance out.
        ::kill(static_cast<pid_t>(holder.processId()), SIGKILL);
        QVERIFY(holder.waitForFinished(10000));
        QCOMPARE(DataFolderLock(path).state(), State::held);
    }

    void testProgramsTheHolderStartsDoNotKeepTheLock()
    {
        // A file manager or the next instance of a language switch may outlive this process.
        const QString path = folder(QStringLiteral("inherited"));
        auto lock = std::make_unique<DataFolderLock>(path);
        QCOMPARE(lock->state(), State::held);
        QProcess child;
        child.start(QStringLiteral("sleep"), {QStringLiteral("30")});
        QVERIFY(child.waitForStarted(5000));
        lock.reset();
        QCOMPARE(DataFolderLock(path).state(), State::held);
        child.kill();
        child.waitForFinished(5000);
    }

    void testAFolderThatCannotBeMadeIsNoRefusal()
    {
        // Nothing can be written there either: the stores say so, and the instance runs.
        QTemporaryDir root;
        QuillomareTest::writeFile(root.filePath(QStringLiteral("share")), "a file where a folder should be");
        DataFolderLock lock(root.filePath(QStringLiteral("share/Quillomare")));
        QCOMPARE(lock.state(), State::unavailable);
        QVERIFY(!lock.failure().isEmpty());
    }
};

int main(int argc, char* argv[])
{
    if (argc >= 3 && qstrcmp(argv[1], kHolderSwitch) == 0)
        return runHolder(argv);
    QuillomareTest::isolateUserFolders();
    QCoreApplication app(argc, argv);
    DataFolderLockTest test;
    QTEST_SET_MAIN_SOURCE_PATH
    return QTest::qExec(&test, argc, argv);
}

#include "tst_datafolderlock.moc"
