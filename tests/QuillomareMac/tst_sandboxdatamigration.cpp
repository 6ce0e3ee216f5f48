#include "TestSupport.h"

#include <Platform/StandardFolders.h>
#include <QuillomareCore/Language.h>
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

using namespace Qt::StringLiterals;
using namespace QuillomareMac;
namespace Language = QuillomareCore::Language;
using QuillomareTest::readFile;
using QuillomareTest::writeFile;

namespace {

const QString shelfItem = u"/ShelfFiles/6F1C0B1E-3C7A-4F0E-9B1A-2D7E8C9A0B11"_s;

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
            entry = u"link -> "_s + it.fileInfo().symLinkTarget();
        else if (S_ISDIR(status.st_mode))
            entry = u"dir "_s + mode;
        else if (S_ISREG(status.st_mode))
            entry = u"file %1 "_s.arg(mode) + QString::fromLatin1(readFile(path).toHex());
        else
            entry = u"special"_s;
    }
    return entries;
}

// What a sandboxed build leaves, with a FIFO and a link out of the folder besides.
void makeSource(qsizetype bigFileSize = 3)
{
    writeFile(source() + u"/clips.json"_s, "sandbox clips");
    writeFile(source() + u"/shelf-sessions.json"_s, "sandbox shelf");
    writeFile(source() + shelfItem + u"/photo.png"_s, "png");
    writeFile(source() + shelfItem + u"/Folder/Nested/note.txt"_s, "note");
    writeFile(source() + shelfItem + u"/big.bin"_s, QByteArray(bigFileSize, 'b'));
    writeFile(source() + u"/Exports/out.txt"_s, "export");
    QVERIFY(QFile::link(u"/etc/hostname"_s, source() + u"/outside"_s));
    QCOMPARE(::mkfifo(QFile::encodeName(source() + u"/pipe"_s).constData(), 0600), 0);
    ::chmod(QFile::encodeName(source() + u"/clips.json"_s).constData(), 0644);
}

// The source as the target must hold it: private modes, no FIFO, the link a link.
QMap<QString, QString> expectedCopy()
{
    QMap<QString, QString> expected;
    const QMap<QString, QString> original = tree(source());
    for (auto it = original.begin(); it != original.end(); ++it) {
        if (it.value().startsWith(QLatin1String("dir ")))
            expected[it.key()] = u"dir 700"_s;
        else if (it.value().startsWith(QLatin1String("file ")))
            expected[it.key()] = u"file 600"_s + it.value().mid(it.value().indexOf(QLatin1Char(' '), 5));
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
        found += QDir(folder).entryList({u".Quillomare.migrating-*"_s}, QDir::AllEntries | QDir::Hidden | QDir::System);
    return found;
}

void expectMigrated()
{
    QTest::ignoreMessage(QtInfoMsg, qPrintable(u"[Quillomare] migrated sandbox data → "_s + target()));
}

void expectSkipped(const QString& pattern)
{
    QTest::ignoreMessage(QtWarningMsg,
                         QRegularExpression(u"^\\[Quillomare\\] sandbox data migration skipped: "_s + pattern));
}

} // namespace

class SandboxDataMigrationTest : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase()
    {
        Language::setIsChineseForTesting(false);
        std::signal(SIGXFSZ, SIG_IGN); // a write past the file-size limit fails instead
    }

    void init()
    {
        QVERIFY(QDir(QDir::homePath() + u"/.var"_s).removeRecursively());
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
            QVERIFY(QFile::remove(source() + u"/shelf-sessions.json"_s));
        writeFile(target() + u"/clips.json"_s, "mine");
        if (targetHasMarker)
            writeFile(target() + u"/shelf-sessions.json"_s, "my shelf");
        const auto before = tree(target());

        SandboxDataMigration::migrateIfNeeded();
        QCOMPARE(tree(target()), before);
    }

    void copiesTheWholeFolder()
    {
        makeSource();
        // What a killed run left; nothing holds its lock any more.
        writeFile(Platform::StandardFolders::applicationSupport() + u"/.Quillomare.migrating-Ab3dEf/x"_s, "x");
        const auto sourceBefore = tree(source());
        expectMigrated();
        SandboxDataMigration::migrateIfNeeded();

        QCOMPARE(tree(target()), expectedCopy());
        QCOMPARE(tree(target())[u"/outside"_s], u"link -> /etc/hostname"_s);
        QCOMPARE(tree(target() + u"/.."_s).value(u"/Quillomare"_s), u"dir 700"_s);
        QCOMPARE(tree(source()), sourceBefore);
        QVERIFY(stagingLeftovers().isEmpty());

        // Done once: a second start finds the shelf file and leaves everything alone.
        writeFile(source() + u"/later.txt"_s, "later");
        SandboxDataMigration::migrateIfNeeded();
        QVERIFY(!QFile::exists(target() + u"/later.txt"_s));
    }

    void mergesIntoAnExistingTarget()
    {
        makeSource();
        writeFile(target() + u"/clips.json"_s, "mine");
        writeFile(target() + shelfItem + u"/photo.png"_s, "my png");
        writeFile(target() + u"/Exports"_s, "a file where the source has a folder");
        const auto before = tree(target());
        expectMigrated();
        SandboxDataMigration::migrateIfNeeded();

        // Whatever the target had stays as it was; it gains the rest.
        auto expected = expectedCopy();
        expected.remove(u"/Exports/out.txt"_s);
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
            writeFile(target() + u"/clips.json"_s, "mine");
        else
            writeFile(support, "a file where the data folder belongs");
        const auto before = tree(target());

        if (!targetExists) {
            expectSkipped(u"“%1” is not a folder$"_s.arg(QRegularExpression::escape(support)));
            SandboxDataMigration::migrateIfNeeded();
            QVERIFY(QFile::remove(support));
        }

        // Like a full disk: the big file fails part-way through, after others were copied.
        rlimit limit = {};
        QCOMPARE(::getrlimit(RLIMIT_FSIZE, &limit), 0);
        const rlimit small = {1 << 20, limit.rlim_max};
        QCOMPARE(::setrlimit(RLIMIT_FSIZE, &small), 0);
        expectSkipped(
            u"Couldn't copy “%1/big.bin”: File too large$"_s.arg(QRegularExpression::escape(source() + shelfItem)));
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
