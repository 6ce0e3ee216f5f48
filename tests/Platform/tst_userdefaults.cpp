// The preferences file holds which apps are ignored and what is kept: it and its folder are this
// user's alone, made so whatever the umask and closed again when found open.

#include <Platform/UserDefaults.h>

#include "TestSupport.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <sys/stat.h>

using namespace Platform;

namespace {

const QString kKey = QStringLiteral("Quillomare.didShowOnboarding.v1");

mode_t modeOf(const QString& path)
{
    struct stat status = {};
    return ::lstat(QFile::encodeName(path).constData(), &status) == 0 ? status.st_mode & 07777 : mode_t(-1);
}

void setMode(const QString& path, mode_t mode)
{
    QVERIFY(::chmod(QFile::encodeName(path).constData(), mode) == 0);
}

} // namespace

class UserDefaultsTest : public QObject
{
    Q_OBJECT

    QString file() const { return UserDefaults::filePath(); }
    QString folder() const { return QFileInfo(file()).path(); }

private Q_SLOTS:
    void init()
    {
        QFile::remove(file());
        QFile::remove(folder());
        QDir(folder()).removeRecursively();
        QVERIFY(QDir().mkpath(QFileInfo(folder()).path()));
    }

    void testFileAndFolderArePrivateWhateverTheUmask_data()
    {
        QTest::addColumn<int>("umask");
        QTest::newRow("umask 000") << 0;
        QTest::newRow("umask 022") << 022;
    }

    void testFileAndFolderArePrivateWhateverTheUmask()
    {
        QFETCH(int, umask);
        const mode_t previous = ::umask(mode_t(umask));
        UserDefaults::setBoolValue(kKey, true);
        // A second save goes through a new file renamed over the first: it must keep the mode.
        UserDefaults::setBoolValue(QStringLiteral("other"), true);
        ::umask(previous);
        QCOMPARE(modeOf(folder()), mode_t(0700));
        QCOMPARE(modeOf(file()), mode_t(0600));
        QVERIFY(UserDefaults::boolValue(kKey));
        QVERIFY(UserDefaults::boolValue(QStringLiteral("other")));
    }

    void testAnOpenFileAndFolderAreClosedAndKeepTheirValues()
    {
        QVERIFY(QDir().mkpath(folder()));
        QuillomareTest::writeFile(file(), "[General]\nflag=true\n");
        setMode(folder(), 0755);
        setMode(file(), 0666);
        // Reading is enough: an earlier build left them open, and nothing need be written.
        QVERIFY(UserDefaults::boolValue(QStringLiteral("flag")));
        QCOMPARE(modeOf(folder()), mode_t(0700));
        QCOMPARE(modeOf(file()), mode_t(0600));
        QCOMPARE(QuillomareTest::readFile(file()), QByteArray("[General]\nflag=true\n"));
    }

    // Settings kept elsewhere through links (a dotfiles folder, say): used, their modes left alone.
    void testLinkedFolderAndFileKeepTheirTargetsModes()
    {
        QTemporaryDir elsewhere;
        QVERIFY(elsewhere.isValid());
        const QString linkedFolder = elsewhere.filePath(QStringLiteral("config"));
        QVERIFY(QDir().mkpath(linkedFolder));
        setMode(linkedFolder, 0755);
        QVERIFY(QFile::link(linkedFolder, folder()));
        const QString linkedFile = elsewhere.filePath(QStringLiteral("Quillomare.ini"));
        QuillomareTest::writeFile(linkedFile, "[General]\nflag=true\n");
        setMode(linkedFile, 0644);
        QVERIFY(QFile::link(linkedFile, file()));

        QVERIFY(UserDefaults::boolValue(QStringLiteral("flag")));
        QCOMPARE(modeOf(linkedFolder), mode_t(0755));
        QCOMPARE(modeOf(linkedFile), mode_t(0644));
        QVERIFY(QFileInfo(file()).isSymLink());
    }
};

QUILLOMARE_TEST_MAIN(UserDefaultsTest)
#include "tst_userdefaults.moc"
