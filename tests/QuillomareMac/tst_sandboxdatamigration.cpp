#include "TestSupport.h"

#include <Platform/StandardFolders.h>
#include <Shell/Localization.h>
#include <Shell/SandboxDataMigration.h>

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QMap>
#include <QRegularExpression>

#include <csignal>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace QuillomareMac;
using QuillomareTest::readFile;
using QuillomareTest::writeFile;

namespace {

const QString shelfItem = QStringLiteral("/ShelfFiles/6F1C0B1E-3C7A-4F0E-9B1A-2D7E8C9A0B11");

QString source()
{
    return SandboxDataMigration::sourceFolder();
}

QString target()
{
    return SandboxDataMigration::targetFolder();
}

// Every entry under `root`, links not followed: "dir 700", "link -> text" or "file 600 <bytes>".
QMap<QString, QString> tree(const QString& root)
{
    QMap<QString, QString> entries;
    QDirIterator it(root, QDir::AllEntries | QDir::System | QDir::Hidden | QDir::NoDotAndDotDot,
                    QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        struct stat status = {};
        ::lstat(QFile::encodeName(path).constData(), &status);
        const QString mode = QString::number(status.st_mode & 0777, 8);
        QString& entry = entries[path.mid(root.size())];
        if (S_ISLNK(status.st_mode))
            entry = QStringLiteral("link -> ") + it.fileInfo().symLinkTarget();
        else if (S_ISDIR(status.st_mode))
            entry = QStringLiteral("dir ") + mode;
        else if (S_ISREG(status.st_mode))
            entry = QStringLiteral("file %1 ").arg(mode) + QString::fromLatin1(readFile(path).toHex());
        else
            entry = QStringLiteral("special");
    }
    return entries;
}

// What a sandboxed build leaves, with a FIFO and a link out of the folder besides.
void makeSource(qsizetype bigFileSize = 3)
{
    writeFile(source() + QStringLiteral("/clips.json"), "sandbox clips");
    writeFile(source() + QStringLiteral("/shelf-sessions.json"), "sandbox shelf");
    writeFile(source() + shelfItem + QStringLiteral("/photo.png"), "png");
    writeFile(source() + shelfItem + QStringLiteral("/Folder/Nested/note.txt"), "note");
    writeFile(source() + shelfItem + QStringLiteral("/big.bin"), QByteArray(bigFileSize, 'b'));
    writeFile(source() + QStringLiteral("/Exports/out.txt"), "export");
    QVERIFY(QFile::link(QStringLiteral("/etc/hostname"), source() + QStringLiteral("/outside")));
    QCOMPARE(::mkfifo(QFile::encodeName(source() + QStringLiteral("/pipe")).constData(), 0600), 0);
    ::chmod(QFile::encodeName(source() + QStringLiteral("/clips.json")).constData(), 0644);
}

// The source as the target must hold it: private modes, no FIFO, the link a link.
QMap<QString, QString> expectedCopy()
{
    QMap<QString, QString> expected;
    const QMap<QString, QString> original = tree(source());
    for (auto it = original.begin(); it != original.end(); ++it) {
        if (it.value().startsWith(QLatin1String("dir ")))
            expected[it.key()] = QStringLiteral("dir 700");
        else if (it.value().startsWith(QLatin1String("file ")))
            expected[it.key()] = QStringLiteral("file 600") + it.value().mid(it.value().indexOf(QLatin1Char(' '), 5));
        else if (it.value() != QLatin1String("special"))
            expected[it.key()] = it.value();
    }
    return expected;
}

// Hidden working folders left beside or inside the target.
QStringList stagingLeftovers()
{
    QStringList found;
    for (const QString& folder : {Platform::StandardFolders::applicationSupport(), target()})
        found += QDir(folder).entryList({QStringLiteral(".Quillomare.migrating-*")},
                                        QDir::AllEntries | QDir::Hidden | QDir::System);
    return found;
}

void expectMigrated()
{
    QTest::ignoreMessage(QtInfoMsg, qPrintable(QStringLiteral("[Quillomare] migrated sandbox data → ") + target()));
}

void expectSkipped(const QString& pattern)
{
    QTest::ignoreMessage(
        QtWarningMsg,
        QRegularExpression(QStringLiteral("^\\[Quillomare\\] sandbox data migration skipped: ") + pattern));
}

} // namespace

class SandboxDataMigrationTest : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase()
    {
        L10n::setIsChineseForTesting(false);
        std::signal(SIGXFSZ, SIG_IGN); // a write past the file-size limit fails instead
    }

    void init()
    {
        QVERIFY(QDir(QDir::homePath() + QStringLiteral("/.var")).removeRecursively());
        QVERIFY(QDir(Platform::StandardFolders::applicationSupport()).removeRecursively());
    }

    void nothingToDo_data()
    {
        QTest::addColumn<bool>("sourceHasMarker");
        QTest::addColumn<bool>("targetHasMarker");
        QTest::newRow("target already has a shelf file") << true << true;
        QTest::newRow("source has no shelf file") << false << false;
    }
    void nothingToDo()
    {
        QFETCH(bool, sourceHasMarker);
        QFETCH(bool, targetHasMarker);
        makeSource();
        if (!sourceHasMarker)
            QVERIFY(QFile::remove(source() + QStringLiteral("/shelf-sessions.json")));
        writeFile(target() + QStringLiteral("/clips.json"), "mine");
        if (targetHasMarker)
            writeFile(target() + QStringLiteral("/shelf-sessions.json"), "my shelf");
        const auto before = tree(target());

        SandboxDataMigration::migrateIfNeeded();
        QCOMPARE(tree(target()), before);
    }

    void copiesTheWholeFolder()
    {
        makeSource();
        // What a killed run left; nothing holds its lock any more.
        writeFile(Platform::StandardFolders::applicationSupport() + QStringLiteral("/.Quillomare.migrating-Ab3dEf/x"),
                  "x");
        const auto sourceBefore = tree(source());
        expectMigrated();
        SandboxDataMigration::migrateIfNeeded();

        QCOMPARE(tree(target()), expectedCopy());
        QCOMPARE(tree(target())[QStringLiteral("/outside")], QStringLiteral("link -> /etc/hostname"));
        QCOMPARE(tree(target() + QStringLiteral("/..")).value(QStringLiteral("/Quillomare")),
                 QStringLiteral("dir 700"));
        QCOMPARE(tree(source()), sourceBefore);
        QVERIFY(stagingLeftovers().isEmpty());

        // Done once: a second start finds the shelf file and leaves everything alone.
        writeFile(source() + QStringLiteral("/later.txt"), "later");
        SandboxDataMigration::migrateIfNeeded();
        QVERIFY(!QFile::exists(target() + QStringLiteral("/later.txt")));
    }

    void mergesIntoAnExistingTarget()
    {
        makeSource();
        writeFile(target() + QStringLiteral("/clips.json"), "mine");
        writeFile(target() + shelfItem + QStringLiteral("/photo.png"), "my png");
        writeFile(target() + QStringLiteral("/Exports"), "a file where the source has a folder");
        const auto before = tree(target());
        expectMigrated();
        SandboxDataMigration::migrateIfNeeded();

        // Whatever the target had stays as it was; it gains the rest.
        auto expected = expectedCopy();
        expected.remove(QStringLiteral("/Exports/out.txt"));
        expected.insert(before);
        QCOMPARE(tree(target()), expected);
        QVERIFY(stagingLeftovers().isEmpty());
    }

    void failedCopyLeavesNothingAndIsRetried_data()
    {
        QTest::addColumn<bool>("targetExists");
        QTest::newRow("no target folder") << false;
        QTest::newRow("target folder with a history file") << true;
    }
    void failedCopyLeavesNothingAndIsRetried()
    {
        QFETCH(bool, targetExists);
        const QString support = Platform::StandardFolders::applicationSupport();
        makeSource(3 << 20);
        if (targetExists)
            writeFile(target() + QStringLiteral("/clips.json"), "mine");
        else
            writeFile(support, "a file where the data folder belongs");
        const auto before = tree(target());

        if (!targetExists) {
            expectSkipped(QStringLiteral("“%1” is not a folder$").arg(QRegularExpression::escape(support)));
            SandboxDataMigration::migrateIfNeeded();
            QVERIFY(QFile::remove(support));
        }

        // Like a full disk: the big file fails part-way through, after others were copied.
        rlimit limit = {};
        QCOMPARE(::getrlimit(RLIMIT_FSIZE, &limit), 0);
        const rlimit small = {1 << 20, limit.rlim_max};
        QCOMPARE(::setrlimit(RLIMIT_FSIZE, &small), 0);
        expectSkipped(QStringLiteral("Couldn't copy “%1/big.bin”: File too large$")
                          .arg(QRegularExpression::escape(source() + shelfItem)));
        SandboxDataMigration::migrateIfNeeded();
        QCOMPARE(::setrlimit(RLIMIT_FSIZE, &limit), 0);

        QCOMPARE(tree(target()), before);
        QCOMPARE(QFileInfo::exists(target()), targetExists);
        QVERIFY(stagingLeftovers().isEmpty());

        expectMigrated();
        SandboxDataMigration::migrateIfNeeded();
        auto expected = expectedCopy();
        expected.insert(before);
        QCOMPARE(tree(target()), expected);
    }
};

QUILLOMARE_TEST_MAIN(SandboxDataMigrationTest)
#include "tst_sandboxdatamigration.moc"
