// The built program, started as a user would start it, with xclip as the other program.

#include <QuillomareCore/ClipboardStore.h>
#include <QuillomareCore/Hashing.h>

#include "TestSupport.h"
#include "X11Tools.h"

#include <QApplication>
#include <QDeadlineTimer>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>

#include <csignal>

using namespace QuillomareCore;
using namespace QuillomareTest;

class ProgramTest : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_home;
    QProcess m_program;

    QString historyPath() const { return m_home.filePath(QStringLiteral(".local/share/Quillomare/clips.json")); }

    // The history as the program last wrote it.
    QList<ClipboardItem> history() const
    {
        if (!QFileInfo::exists(historyPath()))
            return {};
        return ClipboardStore(historyPath()).items();
    }

    qsizetype entriesWithText(const QString& text) const
    {
        const QString hash = ClipHashing::textContentHash(text);
        const auto items = history();
        return std::count_if(items.begin(), items.end(), [&](const ClipboardItem& item) { return item.contentHash == hash; });
    }

    bool waitFor(const std::function<bool()>& condition, int milliseconds)
    {
        const QDeadlineTimer deadline(milliseconds);
        while (!deadline.hasExpired()) {
            if (condition())
                return true;
            QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
        }
        return condition();
    }

private Q_SLOTS:
    void initTestCase()
    {
        QVERIFY(m_home.isValid());
        const QString program = qEnvironmentVariable("QUILLOMARE_BUILD_DIR") + QStringLiteral("/bin/quillomare");
        QVERIFY2(QFileInfo(program).isExecutable(), qPrintable(program));

        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("HOME"), m_home.path());
        for (const char* name : {"XDG_DATA_HOME", "XDG_CONFIG_HOME", "XDG_CACHE_HOME", "XDG_STATE_HOME"})
            environment.remove(QString::fromLatin1(name));
        m_program.setProcessEnvironment(environment);
        m_program.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        m_program.start(program, {});
        QVERIFY(m_program.waitForStarted(5000));
    }

    void testCopiesInOtherProgramsReachTheHistoryFile()
    {
        // The program watches from the moment it has started; copy until it has seen one.
        const QString text = QStringLiteral("copied in another program — 另一个程序");
        bool captured = false;
        for (int attempt = 0; attempt < 10 && !captured; ++attempt) {
            QVERIFY(xclipCopy(text.toUtf8()));
            captured = waitFor([&] { return entriesWithText(text) == 1; }, 1500);
            if (!captured)
                QVERIFY(xclipCopy(QByteArray("something else ") + QByteArray::number(attempt)));
        }
        QVERIFY(captured);
        const auto items = history();
        QCOMPARE(items.first().payload.textValue(), text);
        QCOMPARE(QFile::permissions(historyPath()) & 0x0077, QFileDevice::Permissions());
    }

    void testTheSameTextTwiceIsOneEntry()
    {
        const QString text = QStringLiteral("twice");
        QVERIFY(xclipCopy(text.toUtf8()));
        QVERIFY(waitFor([&] { return entriesWithText(text) == 1; }, 5000));
        const QUuid firstID = history().first().id;

        QVERIFY(xclipCopy(QByteArray("in between")));
        QVERIFY(waitFor([&] { return entriesWithText(QStringLiteral("in between")) == 1; }, 5000));
        QVERIFY(xclipCopy(text.toUtf8()));
        QVERIFY(waitFor([&] { return !history().isEmpty() && history().first().payload.textValue() == text; }, 5000));
        QCOMPARE(entriesWithText(text), 1);
        QVERIFY(history().first().id != firstID);
    }

    void testTerminationEndsCleanly()
    {
        ::kill(static_cast<pid_t>(m_program.processId()), SIGTERM);
        QVERIFY(m_program.waitForFinished(10000));
        QCOMPARE(m_program.exitStatus(), QProcess::NormalExit);
        QCOMPARE(m_program.exitCode(), 0);
    }

    void cleanupTestCase()
    {
        if (m_program.state() != QProcess::NotRunning) {
            m_program.kill();
            m_program.waitForFinished(5000);
        }
    }
};

QUILLOMARE_GUI_TEST_MAIN(ProgramTest)
#include "tst_program.moc"
