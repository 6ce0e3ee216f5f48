#include <QuillomareCore/ClipboardStore.h>
#include <QuillomareCore/Files.h>
#include <QuillomareCore/Foundation.h>
#include <QuillomareCore/Hashing.h>
#include <QuillomareCore/Json.h>

#include "TestSupport.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QRandomGenerator>
#include <QFileInfo>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QThread>
#include <QThreadPool>

#include <algorithm>
#include <atomic>
#include <csignal>
#include <cstdio>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace QuillomareCore;
using namespace Qt::StringLiterals;
using namespace QuillomareTest;

namespace {

QByteArray entryJson(const QString& id, const QString& createdAt, const QString& text, bool pinned = false)
{
    return QStringLiteral(R"({"id":"%1","createdAt":"%2","kind":"text","preview":"%3","contentHash":"h-%3",)"
                          R"("sourcePlatform":"mac","isSensitive":false,"isLocalOnly":false,"isPinned":%4,)"
                          R"("payload":{"text":{"_0":"%3"}}})")
        .arg(id, createdAt, text, pinned ? QStringLiteral("true") : QStringLiteral("false"))
        .toUtf8();
}

ClipSettings given()
{
    ClipSettings settings;
    settings.maxHistoryCount = 20;
    return settings;
}

const QString kIdA = QStringLiteral("11111111-1111-1111-1111-111111111111");
const QString kIdB = QStringLiteral("22222222-2222-2222-2222-222222222222");
const QString kIdC = QStringLiteral("33333333-3333-3333-3333-333333333333");

// The top-level keys of a JSON object as they appear in the text, in order.
QStringList topLevelKeysInOrder(const QByteArray& json)
{
    QStringList keys;
    const QRegularExpression key(QStringLiteral("^  \"([^\"]+)\" : "), QRegularExpression::MultilineOption);
    auto it = key.globalMatch(QString::fromUtf8(json));
    while (it.hasNext())
        keys.append(it.next().captured(1));
    return keys;
}

// This process's threads other than the calling one and QtTest's watchdog (which waits on a lock
// of its own that nothing else takes), as "id name".
QStringList threadsOtherThanThisAndTheWatchdog()
{
    QStringList others;
    const QString self = QString::number(::gettid());
    const QString tasks = QStringLiteral("/proc/self/task");
    for (const QString& task : QDir(tasks).entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        if (task == self)
            continue;
        QFile comm(tasks + QLatin1Char('/') + task + QStringLiteral("/comm"));
        // A thread gone between the listing and this read is gone.
        if (!comm.open(QIODevice::ReadOnly))
            continue;
        const QByteArray name = comm.readAll().trimmed();
        if (name != "QtTest Watchdog")
            others.append(task + QLatin1Char(' ') + QString::fromUtf8(name));
    }
    return others;
}

// Runs `scenario` in a child process as the unprivileged user "nobody" when we are root (file
// permissions do not stop root); `home` is handed to that user first. The scenario's answer:
// empty when it passed, else what went wrong (a child prints it).
QString runUnprivileged(const QString& home, const std::function<QString()>& scenario)
{
    if (::geteuid() != 0)
        return scenario();
    constexpr uid_t nobody = 65534;
    if (::chown(QFile::encodeName(home).constData(), nobody, nobody) != 0)
        return QStringLiteral("couldn't hand the folder over");
    // The child is a copy of this thread alone: a lock that another thread held at the fork stays
    // held in it for ever. The global pool's threads take the pool's lock each time they finish a
    // task (closing the history files of the tests before), and GLib's lock on their way out;
    // the scenario's store hands the pool tasks of its own and its writer thread ends through
    // GLib too. On a busy machine the child waited for one of those locks until CTest killed the
    // run. So the pool is emptied and the fork waits until no other thread of ours is left at
    // all: a pool thread counts as finished to Qt before it has run its way out.
    QThreadPool::globalInstance()->waitForDone();
    QStringList others;
    const QDeadlineTimer quiet(30000);
    while (!(others = threadsOtherThanThisAndTheWatchdog()).isEmpty() && !quiet.hasExpired())
        QThread::msleep(5);
    if (!others.isEmpty())
        return QStringLiteral("threads still running where the scenario would fork: ") + others.join(u", ");
    const pid_t child = ::fork();
    if (child == 0) {
        const bool dropped = ::setgid(nobody) == 0 && ::setuid(nobody) == 0;
        const QString answer = dropped ? scenario() : QStringLiteral("could not drop privileges");
        if (!answer.isEmpty())
            std::fprintf(stderr, "%s\n", qPrintable(answer));
        std::fflush(stderr);
        ::_exit(answer.isEmpty() ? 0 : 1);
    }
    if (child < 0)
        return QStringLiteral("couldn't start the unprivileged process");
    // Bounded all the same: a child stuck for any reason fails this test with its reason instead
    // of holding the whole run until the runner's time limit.
    constexpr int kScenarioBoundMilliseconds = 120000;
    const QDeadlineTimer bound(kScenarioBoundMilliseconds);
    int status = 0;
    pid_t ended = 0;
    while ((ended = ::waitpid(child, &status, WNOHANG)) == 0 && !bound.hasExpired())
        QThread::msleep(10);
    if (ended == 0) {
        ::kill(child, SIGKILL);
        ::waitpid(child, &status, 0);
        return QStringLiteral("the unprivileged scenario did not end within %1 s").arg(kScenarioBoundMilliseconds / 1000);
    }
    return ended == child && WIFEXITED(status) && WEXITSTATUS(status) == 0 ? QString()
                                                                            : QStringLiteral("the scenario failed");
}

} // namespace

Q_DECLARE_METATYPE(QuillomareCore::ClipSettings)

class HistoryFileTest : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<QTemporaryDir> m_dir;
    QString path(const QString& name = QStringLiteral("clips.json")) const { return m_dir->filePath(name); }
    QStringList corruptBackups() const
    {
        return QDir(m_dir->path()).entryList(QDir::Files | QDir::Dirs | QDir::NoDotAndDotDot).filter(QStringLiteral(".corrupt-"));
    }

private Q_SLOTS:
    void init()
    {
        m_dir = std::make_unique<QTemporaryDir>();
        QVERIFY(m_dir->isValid());
    }

    void testWhatLoadsAndWhichSettingsApply_data()
    {
        QTest::addColumn<QByteArray>("content"); // null: no file
        QTest::addColumn<ClipSettings>("settings");
        QTest::addColumn<QStringList>("previews");
        const QByteArray entries =
            entryJson(kIdA, QStringLiteral("2026-01-01T10:00:00.000Z"), QStringLiteral("older")) + "," +
            entryJson(kIdB, QStringLiteral("2026-01-01T11:00:00.5Z"), QStringLiteral("newer"));
        QTest::newRow("no file: the given settings") << QByteArray() << given() << QStringList();
        QTest::newRow("bare array: the given settings")
            << "[" + entries + "]" << given() << QStringList{"newer", "older"};
        QTest::newRow("only items: default settings")
            << R"({"items":[)" + entries + "]}" << ClipSettings{} << QStringList{"newer", "older"};
        // Loading does not trim: only a change does.
        ClipSettings one;
        one.maxHistoryCount = 1;
        QTest::newRow("more entries than the settings keep")
            << R"({"settings":{"maxHistoryCount":1},"items":[)" + entries + "," +
                   entryJson(kIdC, QStringLiteral("2026-01-01T09:00:00Z"), QStringLiteral("pinned"), true) + "]}"
            << one << QStringList{"pinned", "newer", "older"};
    }

    void testWhatLoadsAndWhichSettingsApply()
    {
        QFETCH(QByteArray, content);
        QFETCH(ClipSettings, settings);
        QFETCH(QStringList, previews);
        if (!content.isNull())
            writeFile(path(), content);
        ClipboardStore store(path(), given());
        QVERIFY(!store.lastLoadFailure());
        QCOMPARE(store.settings(), settings);
        QStringList loaded;
        for (const ClipboardItem& item : store.items()) {
            loaded.append(item.preview);
            if (item.preview == QLatin1String("newer"))
                QCOMPARE(item.createdAt, at(-3600).addMSecs(500));
        }
        QCOMPARE(loaded, previews);
        QVERIFY(store.deletionTombstones().isEmpty());
        // Loading writes nothing; the first change writes the whole form.
        QCOMPARE(QFileInfo::exists(path()), !content.isNull());
        QCOMPARE(readFile(path()), content);
        store.add(textItem(QStringLiteral("new"), at(0)));
        store.waitForPendingSaves();
        QCOMPARE(topLevelKeysInOrder(readFile(path())),
                 (QStringList{"deletedContentHashes", "deletionTombstones", "items", "settings"}));
    }

    void testEverythingWrittenReadsBackEqual()
    {
        ClipSettings settings;
        settings.maxHistoryCount = 60;
        settings.cloudContainerIdentifier = QStringLiteral("  iCloud.example  ");
        settings.ignoredSourceBundleIdentifiers = {QStringLiteral("org.keepassxc.KeePassXC")};
        settings.launchAtLoginEnabled = true;

        QList<ClipboardItem> written;
        {
            ClipboardStore store(path(), settings);
            ClipboardItem text = textItem(QStringLiteral("línea 1\n\t\"quoted\" \\ 表情😀 \u0001"), at(1));
            text.sourceAppName = QStringLiteral("Kate");
            text.sourceBundleIdentifier = QStringLiteral("org.kde.kate");
            text.createdAt = text.createdAt.addMSecs(123);
            store.add(text);
            store.add(fileItem({QStringLiteral("/home/u/a b.txt"), QStringLiteral("/home/u/ü.png")}, at(2)));
            QByteArray png(70001, Qt::Uninitialized);
            for (int i = 0; i < png.size(); ++i)
                png[i] = static_cast<char>(i * 7 + 3);
            store.add(imageItem(png, at(3)));
            ClipboardItem empty = textItem(QString(), at(4), true);
            empty.kind = ClipKind::unknown;
            empty.payload = ClipboardPayload::empty();
            empty.sourcePlatform = ClipSourcePlatform::iphone;
            store.add(empty);
            store.add(textItem(QStringLiteral("deleted"), at(5)));
            store.remove(store.items()[1].id);
            written = store.items();
        }

        // The file holds secrets: it is the user's alone.
        QCOMPARE(QFile::permissions(path()) & 0x0077, QFileDevice::Permissions());
        QVERIFY(QFile::permissions(path()) & QFileDevice::ReadOwner);
        ClipboardStore reloaded(path());
        QVERIFY(!reloaded.lastLoadFailure());
        QCOMPARE(reloaded.items(), written);
        QCOMPARE(reloaded.settings(), settings);
        QCOMPARE(reloaded.deletedContentHashes(), QSet<QString>{textItem(QStringLiteral("deleted"), at(0)).contentHash});
    }

    void testFileIsWrittenWithSortedHashes()
    {
        ClockOverride clock(at(100));
        {
            ClipboardStore store(path());
            for (const char* text : {"b", "a", "c"})
                store.add(textItem(QString::fromLatin1(text), at(0)));
            // Deleted in the order b, a, c at the same moment: the tombstones sort by hash.
            while (!store.items().isEmpty())
                store.remove(store.items().last().id);
        }
        const QByteArray json = readFile(path()); // the document points into it
        const Json::Document document = Json::Document::parse(json);
        QStringList listed;
        document.root().member("deletedContentHashes")->forEachElement(
            [&](const Json::Value& hash) { listed.append(hash.toString("hash")); });
        QStringList tombstoneHashes;
        document.root().member("deletionTombstones")->forEachElement([&](const Json::Value& tombstone) {
            tombstoneHashes.append(tombstone.member("contentHash")->toString("hash"));
            QCOMPARE(tombstone.member("deletedAt")->toString("date"), QStringLiteral("2026-01-01T12:01:40.000Z"));
        });
        QCOMPARE(listed.size(), 3);
        QVERIFY(std::is_sorted(listed.cbegin(), listed.cend()));
        QCOMPARE(tombstoneHashes, listed);
    }

    void testListedHashesAndTombstonesAreFolded()
    {
        ClockOverride clock(at(5000));
        writeFile(path(), R"({
            "deletedContentHashes": ["only-listed", "both", ""],
            "deletionTombstones": [
                {"contentHash": "both", "deletedAt": "2026-01-01T12:00:10Z"},
                {"contentHash": "twice", "deletedAt": "2026-01-01T12:00:30.000Z"},
                {"contentHash": "twice", "deletedAt": "2026-01-01T12:00:20.000Z"},
                {"contentHash": "", "deletedAt": "2026-01-01T12:00:20.000Z"}
            ]})");
        ClipboardStore store(path());
        QVERIFY(!store.lastLoadFailure());
        const QList<ClipboardDeletionTombstone> expected{
            {QStringLiteral("both"), at(10)},
            {QStringLiteral("twice"), at(30)},
            {QStringLiteral("only-listed"), at(5000)},
        };
        QCOMPARE(store.deletionTombstones(), expected);
    }

    void testUndecodableFilesAreSetAside_data()
    {
        QTest::addColumn<QByteArray>("content");
        QTest::newRow("empty file") << QByteArray();
        QTest::newRow("not JSON") << QByteArray("clipboard history\n");
        QTest::newRow("settings of the wrong form") << QByteArray(R"({"settings":[]})");
        QTest::newRow("a string instead of a number") << QByteArray(R"({"settings":{"maxHistoryCount":"200"}})");
        QTest::newRow("a date that is not ISO 8601")
            << QByteArray("[" + entryJson(kIdA, QStringLiteral("2026-01-01 10:00:00"), QStringLiteral("x")) + "]");
        QTest::newRow("an unknown kind") << QByteArray(R"({"items":[{"kind":"Text"}]})");
        QTest::newRow("a tombstone without a date") << QByteArray(R"({"deletionTombstones":[{"contentHash":"h"}]})");
        QTest::newRow("an image that is not base64") << QByteArray(R"([{"payload":{"imagePNG":{"_0":"a b="}}}])");
        QTest::newRow("a bare number") << QByteArray("42");
        // Invalid UTF-8 would otherwise come back as U+FFFD and the original bytes be lost.
        QTest::newRow("a stray continuation byte") << QByteArray("[" + entryJson(kIdA, QStringLiteral("2026-01-01T10:00:00Z"), QStringLiteral("x")).replace("\"x\"", "\"x\x80\"") + "]");
        QTest::newRow("an overlong slash") << QByteArray("[{\"preview\":\"\xC0\xAF\"}]");
        QTest::newRow("an encoded surrogate") << QByteArray("[{\"preview\":\"\xED\xA0\x80\"}]");
        QTest::newRow("a truncated sequence") << QByteArray("[{\"preview\":\"\xE4\xB8\"}]");
    }

    void testUndecodableFilesAreSetAside()
    {
        QFETCH(QByteArray, content);
        writeFile(path(), content);
        ClipboardStore store(path(), given());

        QVERIFY(store.items().isEmpty());
        QCOMPARE(store.settings(), ClipSettings{});
        QVERIFY(store.lastLoadFailure());
        QCOMPARE(store.lastLoadFailure()->reason, QStringLiteral("历史文件格式损坏"));
        QCOMPARE(store.lastLoadFailure()->fileURL, path());

        const QStringList backups = corruptBackups();
        QCOMPARE(backups.size(), 1);
        QVERIFY2(QRegularExpression(QStringLiteral(R"(^clips\.corrupt-[0-9A-F]{8}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{12}\.json$)"))
                     .match(backups.first())
                     .hasMatch(),
                 qPrintable(backups.first()));
        QCOMPARE(store.lastLoadFailure()->backupURL, std::optional<QString>(path(backups.first())));
        QCOMPARE(readFile(path(backups.first())), content);
        QVERIFY(!QFileInfo::exists(path()));
    }

    void testSavingAfterAFailedLoadClearsTheFailureAndKeepsTheBackup()
    {
        // A file without an extension is set aside as ".bak".
        writeFile(path(QStringLiteral("history")), "{ broken");
        ClipboardStore store(path(QStringLiteral("history")));
        QVERIFY(store.lastLoadFailure());
        const QString backup = *store.lastLoadFailure()->backupURL;
        QVERIFY2(QFileInfo(backup).fileName().startsWith(QStringLiteral("history.corrupt-")) &&
                     backup.endsWith(QStringLiteral(".bak")),
                 qPrintable(backup));
        store.add(textItem(QStringLiteral("fresh"), at(0)));
        store.waitForPendingSaves();
        QVERIFY(!store.lastLoadFailure());
        QCOMPARE(readFile(backup), QByteArray("{ broken"));
        QCOMPARE(ClipboardStore(path(QStringLiteral("history"))).items().size(), 1);
    }

    void testUnreadableHistoryIsMovedAsideBeforeTheNextSave()
    {
        // A folder where the file should be cannot be read as a file; it must survive the next save.
        QVERIFY(QDir().mkpath(path()));
        writeFile(path() + QStringLiteral("/inside.txt"), "keep me");
        ClipboardStore store(path());
        QVERIFY(store.lastLoadFailure());
        QCOMPARE(store.lastLoadFailure()->reason, QStringLiteral("历史文件无法读取"));
        QVERIFY(store.lastLoadFailure()->backupURL);
        const QString backup = *store.lastLoadFailure()->backupURL;
        QCOMPARE(readFile(backup + QStringLiteral("/inside.txt")), QByteArray("keep me"));

        store.add(textItem(QStringLiteral("after"), at(0)));
        store.waitForPendingSaves();
        QVERIFY(QFileInfo(path()).isFile());
        QCOMPARE(readFile(backup + QStringLiteral("/inside.txt")), QByteArray("keep me"));
    }

    void testExtremeDatesAndStringsSurviveEveryRoundTrip()
    {
        // Offsets can carry a date past the four-digit years; whatever is loaded must be written
        // in a form that loads again, and every string must come back unchanged.
        QRandomGenerator random(20261207);
        QByteArray file = "[";
        for (int i = 0; i < 300; ++i) {
            const int year = QList<int>{1, 2, 1970, 9998, 9999}[random.bounded(5)];
            const int offset = random.bounded(-23 * 60 - 59, 23 * 60 + 60);
            const int month = random.bounded(1, 13), day = random.bounded(1, 29), hour = random.bounded(24),
                      minute = random.bounded(60), second = random.bounded(60);
            const QString date =
                QString::asprintf("%04d-%02d-%02dT%02d:%02d:%02d%c%02d:%02d", year, month, day, hour, minute, second,
                                  offset < 0 ? '-' : '+', std::abs(offset) / 60, std::abs(offset) % 60);
            file += (i ? "," : "") + entryJson(QUuid::createUuid().toString(QUuid::WithoutBraces), date,
                                               QStringLiteral("e%1").arg(i));
        }
        file += "]";
        writeFile(path(), file);

        ClipboardStore first(path());
        QVERIFY(!first.lastLoadFailure());
        QCOMPARE(first.items().size(), 300);
        for (const ClipboardItem& item : first.items())
            QVERIFY(item.createdAt.date().year() >= 1 && item.createdAt.date().year() <= 9999);
        for (int i = 0; i < 200; ++i) {
            QString text;
            const int length = random.bounded(1, 12);
            // Anything UTF-16 can hold, lone surrogates and control characters included.
            for (int j = 0; j < length; ++j)
                text += QChar(static_cast<char16_t>(random.bounded(j % 3 == 0 ? 0x20 : 0x10000)));
            first.add(textItem(text, at(i)));
        }
        first.waitForPendingSaves();

        ClipboardStore second(path());
        QVERIFY(!second.lastLoadFailure());
        QCOMPARE(second.items(), first.items());
        second.togglePinned(second.items().last().id);
        second.waitForPendingSaves();
        QCOMPARE(ClipboardStore(path()).items(), second.items());
    }

    void testTextsKeepALeadingU_FEFFThroughTheFile()
    {
        // As the writer escapes a line break, the text after one starts a new run of bytes.
        const QStringList texts{u"\uFEFFcopied with a mark"_s, u"line\n\uFEFFafter a break"_s, u"\uFEFF"_s};
        {
            ClipboardStore store(path());
            for (qsizetype i = 0; i < texts.size(); ++i)
                store.add(textItem(texts[i], at(i)));
            store.waitForPendingSaves();
        }
        ClipboardStore loaded(path());
        QVERIFY(!loaded.lastLoadFailure());
        QStringList back;
        for (const ClipboardItem& item : loaded.items()) {
            back.prepend(item.payload.textValue());
            QCOMPARE(item.contentHash, ClipHashing::textContentHash(item.payload.textValue()));
        }
        QCOMPARE(back, texts);
    }

    void testByteOrderMarkIsAccepted()
    {
        writeFile(path(), "\xEF\xBB\xBF[" + entryJson(kIdA, QStringLiteral("2026-01-01T10:00:00Z"), QStringLiteral("bom")) + "]");
        ClipboardStore store(path());
        QVERIFY(!store.lastLoadFailure());
        QCOMPARE(store.items().size(), 1);
    }

    void testOnlyARegularFileIsRead_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::newRow("a FIFO") << QStringLiteral("fifo");
        QTest::newRow("a link to an endless device") << QStringLiteral("device");
    }

    void testOnlyARegularFileIsRead()
    {
        // A FIFO would block the start for ever; /dev/zero would be read until memory runs out.
        QFETCH(QString, kind);
        if (kind == QLatin1String("fifo"))
            QCOMPARE(::mkfifo(QFile::encodeName(path()).constData(), 0600), 0);
        else
            QVERIFY(QFile::link(QStringLiteral("/dev/zero"), path()));
        ClipboardStore store(path());
        QVERIFY(store.lastLoadFailure());
        QCOMPARE(store.lastLoadFailure()->reason, QStringLiteral("历史文件无法读取"));
        QVERIFY(store.lastLoadFailure()->backupURL);
        store.add(textItem(QStringLiteral("after"), at(0)));
        store.waitForPendingSaves();
        QVERIFY(QFileInfo(path()).isFile() && !QFileInfo(path()).isSymLink());
        QCOMPARE(ClipboardStore(path()).items().size(), 1);
    }

    void testLeftoverTemporaryFilesAreRemovedAtLoad()
    {
        writeFile(path(QStringLiteral(".clips.json.saving-Zq81xA")), "half a save");
        writeFile(path(QStringLiteral("clips.json.a1B2c3")), "half a save of an earlier build");
        writeFile(path(QStringLiteral("clips.json.backup")), "not ours");
        writeFile(path(QStringLiteral("other.json.a1B2c3")), "not ours either");
        // A save still in progress, in another process for instance, holds its file locked.
        writeFile(path(QStringLiteral(".clips.json.saving-InUse1")), "being written");
        const int inUse = ::open(QFile::encodeName(path(QStringLiteral(".clips.json.saving-InUse1"))).constData(), O_RDONLY);
        QCOMPARE(::flock(inUse, LOCK_EX), 0);
        ClipboardStore store(path());
        ::close(inUse);
        QVERIFY(QFileInfo::exists(path(QStringLiteral(".clips.json.saving-InUse1"))));
        QVERIFY(!QFileInfo::exists(path(QStringLiteral(".clips.json.saving-Zq81xA"))));
        QVERIFY(!QFileInfo::exists(path(QStringLiteral("clips.json.a1B2c3"))));
        QVERIFY(QFileInfo::exists(path(QStringLiteral("clips.json.backup"))));
        QVERIFY(QFileInfo::exists(path(QStringLiteral("other.json.a1B2c3"))));
    }

    // Another instance starting while this one saves cleans up what killed saves left: the
    // save in progress must still count as alive at its very last step.
    void testCleanUpDuringASaveNeverTakesItsFile()
    {
        // Runs on the writer's thread: it records, the test thread checks.
        std::atomic<int> existedBefore = 0, seen = 0;
        Files::beforeRenameForTesting([&](const QString& temporary) {
            existedBefore += QFileInfo::exists(temporary) ? 1 : 0;
            Files::removeLeftoverTemporaryFiles(path());
            seen += QFileInfo::exists(temporary) ? 1 : 0;
        });
        ClipboardStore store(path());
        store.add(textItem(QStringLiteral("saved whole"), at(1)));
        store.waitForPendingSaves();
        Files::beforeRenameForTesting({});
        QCOMPARE(existedBefore.load(), 1);
        QCOMPARE(seen.load(), 1);
        QVERIFY2(!store.lastSaveError(), qPrintable(store.lastSaveError().value_or(QString())));
        QCOMPARE(ClipboardStore(path()).items().size(), 1);
    }

    // Another program cutting the file while it is mapped: the pages it no longer has read as
    // zeros, and the reader is told, instead of the process dying of a bus error.
    void testAFileCutWhileMappedReadsAsZerosNotABusError()
    {
        const qsizetype page = ::sysconf(_SC_PAGESIZE);
        writeFile(path(), QByteArray(3 * page, 'a'));
        const int descriptor = ::open(QFile::encodeName(path()).constData(), O_RDONLY);
        QVERIFY(descriptor >= 0);
        {
            Files::MappedFile mapped;
            QVERIFY(mapped.map(descriptor, 3 * page));
            QCOMPARE(mapped.data()[0], 'a');
            QVERIFY(!mapped.wasCut());
            QVERIFY(::truncate(QFile::encodeName(path()).constData(), page) == 0);
            QCOMPARE(mapped.data()[page - 1], 'a');
            QCOMPARE(mapped.data()[2 * page + 5], '\0');
            QCOMPARE(mapped.data()[page], '\0');
            QVERIFY(mapped.wasCut());
        }
        ::close(descriptor);
    }

    void testFailedWriteKeepsThePreviousFileAndSaysWhy()
    {
        ClipboardStore store(path());
        store.add(textItem(QStringLiteral("saved"), at(0)));
        store.waitForPendingSaves();
        const QByteArray before = readFile(path());

        Files::failWritesForTesting(ENOSPC, 100);
        store.add(textItem(QStringLiteral("not saved"), at(1)));
        std::optional<QString> reported;
        store.whenSaved([&](const std::optional<QString>& error) { reported = error.value_or(QString()); });
        store.waitForPendingSaves();
        Files::failWritesForTesting(0);

        QVERIFY2(reported && reported->contains(QStringLiteral("No space left on device")) &&
                     reported->contains(path()),
                 qPrintable(reported.value_or(QString())));
        QCOMPARE(readFile(path()), before);
        QCOMPARE(QDir(m_dir->path()).entryList(QDir::Files | QDir::Hidden), QStringList{QStringLiteral("clips.json")});
        QCOMPARE(store.items().size(), 2);

        // The next change writes everything memory holds.
        store.togglePinned(store.items().last().id);
        store.waitForPendingSaves();
        QVERIFY(!store.lastSaveError());
        QCOMPARE(ClipboardStore(path()).items(), store.items());
    }

    void testFileThatCannotBeSetAsideIsNeverWrittenOver()
    {
        // Permissions stop only an unprivileged user, so the scenario runs as one.
        const QString folder = path(QStringLiteral("locked"));
        const QString file = folder + QStringLiteral("/clips.json");
        const QString failure = runUnprivileged(m_dir->path(), [&]() -> QString {
            QDir().mkdir(folder);
            writeFile(file, "{ broken");
            ::chmod(QFile::encodeName(folder).constData(), 0500);
            ClipboardStore store(file);
            if (!store.lastLoadFailure() || store.lastLoadFailure()->backupURL)
                return QStringLiteral("the file should have stayed in place");
            store.add(textItem(QStringLiteral("kept in memory"), at(0)));
            std::optional<QString> reported;
            store.whenSaved([&](const std::optional<QString>& error) { reported = error; });
            store.waitForPendingSaves();
            if (!reported || readFile(file) != "{ broken")
                return QStringLiteral("the bad file was written over, or the failure not reported");

            // The folder becomes writable: the bad file goes aside first, then the history is saved.
            ::chmod(QFile::encodeName(folder).constData(), 0700);
            store.add(textItem(QStringLiteral("later"), at(1)));
            store.waitForPendingSaves();
            const QStringList backups = QDir(folder).entryList({QStringLiteral("clips.corrupt-*.json")});
            if (backups.size() != 1 || readFile(folder + QLatin1Char('/') + backups.first()) != "{ broken")
                return QStringLiteral("the bad file was not set aside");
            if (ClipboardStore(file).items().size() != 2 || store.lastLoadFailure())
                return QStringLiteral("the history was not saved after setting the file aside");
            return {};
        });
        QVERIFY2(failure.isEmpty(), qPrintable(failure));
    }

    void testDataFolderAndNewParentsArePrivateWhateverTheUmask()
    {
        const mode_t previous = ::umask(0);
        const QString nested = path(QStringLiteral("a/b/Quillomare/clips.json"));
        {
            ClipboardStore store(nested);
            store.add(textItem(QStringLiteral("x"), at(0)));
        }
        ::umask(previous);
        for (const QString& folder : {path(QStringLiteral("a")), path(QStringLiteral("a/b")), path(QStringLiteral("a/b/Quillomare"))})
            QCOMPARE(QFileInfo(folder).permissions() & 0x0077, QFileDevice::Permissions());

        // A folder someone opened up is closed again at the next start.
        ::chmod(QFile::encodeName(path(QStringLiteral("a/b/Quillomare"))).constData(), 0755);
        ClipboardStore reopened(nested);
        QCOMPARE(QFileInfo(path(QStringLiteral("a/b/Quillomare"))).permissions() & 0x0077, QFileDevice::Permissions());
    }

    void testDefaultStoreURLIsInTheDataFolder()
    {
        const QString expected = QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation) +
                                 QStringLiteral("/Quillomare/clips.json");
        QCOMPARE(ClipboardStore::defaultStoreURL(), expected);
    }
};

QUILLOMARE_TEST_MAIN(HistoryFileTest)
#include "tst_historyfile.moc"
