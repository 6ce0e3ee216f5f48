// Folders for this user alone: made 0700 whatever the umask, closed when found open, and a link
// to a folder followed without its target ever having its mode changed.

#include <QuillomareCore/Errors.h>
#include <QuillomareCore/Files.h>

#include "TestSupport.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <sys/stat.h>

using namespace QuillomareCore;

namespace {

mode_t modeOf(const QString& path)
{
    struct stat status = {};
    return ::lstat(QFile::encodeName(path).constData(), &status) == 0 ? status.st_mode & 07777 : mode_t(-1);
}

bool makeFolder(const QString& path, mode_t mode)
{
    return QDir().mkpath(path) && ::chmod(QFile::encodeName(path).constData(), mode) == 0;
}

} // namespace

class PrivateFolderTest : public QObject
{
    Q_OBJECT

    std::unique_ptr<QTemporaryDir> m_dir;
    QString path(const QString& relative) const { return m_dir->filePath(relative); }

private Q_SLOTS:
    void init()
    {
        m_dir = std::make_unique<QTemporaryDir>();
        QVERIFY(m_dir->isValid());
    }

    void testNewFoldersArePrivateWhateverTheUmask()
    {
        const mode_t previous = ::umask(0);
        Files::makePrivateFolder(path(QStringLiteral("a/b/c")), path(QStringLiteral("a")));
        ::umask(previous);
        for (const char* folder : {"a", "a/b", "a/b/c"})
            QCOMPARE(modeOf(path(QString::fromLatin1(folder))), mode_t(0700));
    }

    // Where the owned part of the path is a link, the link is followed: the folder is used, and
    // what it points at keeps the mode its owner gave it.
    void testLinkedFoldersKeepTheirTargetsMode_data()
    {
        QTest::addColumn<QString>("link");   // relative: made a link to "elsewhere"
        QTest::addColumn<QString>("folder"); // relative: the folder asked for
        QTest::addColumn<QString>("ownedFrom");
        QTest::newRow("the folder itself") << "Quillomare"
                                           << "Quillomare"
                                           << "";
        QTest::newRow("the container above it") << "container"
                                                << "container/Data/Quillomare"
                                                << "container";
        QTest::newRow("a parent above the owned part") << "home"
                                                       << "home/Quillomare"
                                                       << "home/Quillomare";
    }

    void testLinkedFoldersKeepTheirTargetsMode()
    {
        QFETCH(QString, link);
        QFETCH(QString, folder);
        QFETCH(QString, ownedFrom);
        const QString target = path(QStringLiteral("elsewhere"));
        QVERIFY(makeFolder(target, 0755));
        QVERIFY(QFile::link(target, path(link)));

        Files::makePrivateFolder(path(folder), ownedFrom.isEmpty() ? QString() : path(ownedFrom));

        QCOMPARE(modeOf(target), mode_t(0755));
        QVERIFY(QFileInfo(path(folder)).isDir());
        // Below the link, the folders made are private as always.
        for (QString below = folder; below != link; below = QFileInfo(below).path())
            QCOMPARE(modeOf(path(below)), mode_t(0700));
    }

    void testExistingFoldersAreClosedButKeepTheOwnersChoice_data()
    {
        QTest::addColumn<int>("before");
        QTest::addColumn<int>("after");
        QTest::newRow("open to all") << 0777 << 0700;
        QTest::newRow("readable by others") << 0755 << 0700;
        QTest::newRow("made read-only by its owner") << 0555 << 0500;
        QTest::newRow("already private") << 0700 << 0700;
    }

    void testExistingFoldersAreClosedButKeepTheOwnersChoice()
    {
        QFETCH(int, before);
        QFETCH(int, after);
        const QString folder = path(QStringLiteral("Quillomare"));
        QVERIFY(makeFolder(folder, mode_t(before)));
        QVERIFY(makeFolder(path(QStringLiteral("outside")), 0755));
        Files::makePrivateFolder(folder);
        QCOMPARE(modeOf(folder), mode_t(after));
        // Existing folders above the owned one are left alone.
        QCOMPARE(modeOf(m_dir->path()) & 0700, mode_t(0700));
        QCOMPARE(modeOf(path(QStringLiteral("outside"))), mode_t(0755));
        ::chmod(QFile::encodeName(folder).constData(), 0700);
    }

    void testWhatIsNoFolderIsRefusedByName_data()
    {
        QTest::addColumn<QString>("setUp"); // "file", "dangling link", "link to a file"
        QTest::newRow("a file") << "file";
        QTest::newRow("a dangling link") << "dangling link";
        QTest::newRow("a link to a file") << "link to a file";
    }

    void testWhatIsNoFolderIsRefusedByName()
    {
        QFETCH(QString, setUp);
        const QString blocker = path(QStringLiteral("Quillomare"));
        if (setUp == QLatin1String("file"))
            QuillomareTest::writeFile(blocker, "x");
        else if (setUp == QLatin1String("dangling link"))
            QVERIFY(QFile::link(path(QStringLiteral("gone")), blocker));
        else {
            QuillomareTest::writeFile(path(QStringLiteral("a file")), "x");
            QVERIFY(QFile::link(path(QStringLiteral("a file")), blocker));
        }
        try {
            Files::makePrivateFolder(blocker + QStringLiteral("/History"), blocker);
            QFAIL("no error");
        } catch (const FileSystemError& error) {
            QVERIFY2(error.localizedDescription().contains(blocker), qPrintable(error.localizedDescription()));
        }
        QVERIFY(!QFileInfo::exists(path(QStringLiteral("gone"))));
    }
};

QUILLOMARE_TEST_MAIN(PrivateFolderTest)
#include "tst_privatefolder.moc"
