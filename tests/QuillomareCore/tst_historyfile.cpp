#include <QuillomareCore/ClipboardStore.h>
#include <QuillomareCore/Foundation.h>
#include <QuillomareCore/Json.h>

#include "TestSupport.h"

#include <QDir>
#include <QFileInfo>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTemporaryDir>

using namespace QuillomareCore;
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

} // namespace

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

    void testMissingFileIsAFirstStart()
    {
        ClipSettings settings;
        settings.maxHistoryCount = 40;
        ClipboardStore store(path(), settings);
        QVERIFY(store.items().isEmpty());
        QCOMPARE(store.settings(), settings);
        QVERIFY(!store.lastLoadFailure());
        QVERIFY(!QFileInfo::exists(path()));
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

        ClipboardStore reloaded(path());
        QVERIFY(!reloaded.lastLoadFailure());
        QCOMPARE(reloaded.items(), written);
        QCOMPARE(reloaded.settings(), settings);
        QCOMPARE(reloaded.deletedContentHashes(), QSet<QString>{textItem(QStringLiteral("deleted"), at(0)).contentHash});
    }

    void testFileIsWrittenWithSortedKeysAndSortedHashes()
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
        const QByteArray json = readFile(path());
        QCOMPARE(topLevelKeysInOrder(json),
                 (QStringList{"deletedContentHashes", "deletionTombstones", "items", "settings"}));

        const Json::Document document = Json::Document::parse(json);
        QStringList listed;
        document.root().member("deletedContentHashes")->forEachElement(
            [&](const Json::Value& hash) { listed.append(hash.toString("hash")); });
        QStringList tombstoneHashes;
        document.root().member("deletionTombstones")->forEachElement([&](const Json::Value& tombstone) {
            tombstoneHashes.append(tombstone.member("contentHash")->toString("hash"));
            QCOMPARE(tombstone.member("deletedAt")->toString("date"), QStringLiteral("2026-01-01T12:01:40.000Z"));
        });
        QStringList sorted = listed;
        sorted.sort();
        QCOMPARE(listed.size(), 3);
        QCOMPARE(listed, sorted);
        QCOMPARE(tombstoneHashes, listed);
    }

    void testFolderAndFileAreUserOnly()
    {
        const QString nested = m_dir->filePath(QStringLiteral("data/Quillomare/clips.json"));
        ClipboardStore store(nested);
        store.add(textItem(QStringLiteral("password=hunter2hunter2"), at(0)));
        QCOMPARE(QFileInfo(QFileInfo(nested).absolutePath()).permissions() & 0x0077, QFileDevice::Permissions());
        QCOMPARE(QFile::permissions(nested) & 0x0077, QFileDevice::Permissions());
        QVERIFY(QFile::permissions(nested) & QFileDevice::ReadOwner);
    }

    void testBareArrayOfEntriesLoadsWithTheGivenSettings()
    {
        writeFile(path(), "[" + entryJson(kIdA, QStringLiteral("2026-01-01T10:00:00.000Z"), QStringLiteral("older")) + "," +
                              entryJson(kIdB, QStringLiteral("2026-01-01T11:00:00Z"), QStringLiteral("newer")) + "]");
        ClipSettings settings;
        settings.maxHistoryCount = 20;
        ClipboardStore store(path(), settings);
        QVERIFY(!store.lastLoadFailure());
        QCOMPARE(store.items().size(), 2);
        QCOMPARE(store.items()[0].preview, QStringLiteral("newer"));
        QCOMPARE(store.settings(), settings);
        QVERIFY(store.deletionTombstones().isEmpty());

        store.togglePinned(store.items()[1].id);
        QCOMPARE(topLevelKeysInOrder(readFile(path())),
                 (QStringList{"deletedContentHashes", "deletionTombstones", "items", "settings"}));
    }

    void testFileWithOnlyItemsTakesDefaultSettings()
    {
        writeFile(path(), R"({"items":[)" + entryJson(kIdA, QStringLiteral("2026-01-01T10:00:00.5Z"), QStringLiteral("x")) + "]}");
        ClipSettings given;
        given.maxHistoryCount = 20;
        ClipboardStore store(path(), given);
        QCOMPARE(store.items().size(), 1);
        QCOMPARE(store.items()[0].createdAt, QDateTime(QDate(2026, 1, 1), QTime(10, 0, 0, 500), Qt::UTC));
        QCOMPARE(store.settings(), ClipSettings{});
        QVERIFY(store.deletionTombstones().isEmpty());
    }

    void testLoadingNeitherTrimsNorSaves()
    {
        QByteArray json = R"({"settings":{"maxHistoryCount":1},"items":[)";
        json += entryJson(kIdA, QStringLiteral("2026-01-01T10:00:00Z"), QStringLiteral("a")) + ",";
        json += entryJson(kIdB, QStringLiteral("2026-01-01T12:00:00Z"), QStringLiteral("b"), true) + ",";
        json += entryJson(kIdC, QStringLiteral("2026-01-01T11:00:00Z"), QStringLiteral("c")) + "]}";
        writeFile(path(), json);
        ClipboardStore store(path());
        QCOMPARE(store.items().size(), 3);
        QCOMPARE(store.items()[0].preview, QStringLiteral("b"));
        QCOMPARE(store.items()[1].preview, QStringLiteral("c"));
        QCOMPARE(readFile(path()), json);
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
        QTest::newRow("opening brace only") << QByteArray("{");
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
    }

    void testUndecodableFilesAreSetAside()
    {
        QFETCH(QByteArray, content);
        writeFile(path(), content);
        ClipSettings given;
        given.maxHistoryCount = 20;
        ClipboardStore store(path(), given);

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

    void testFileWithoutExtensionIsBackedUpAsBak()
    {
        writeFile(path(QStringLiteral("history")), "{");
        ClipboardStore store(path(QStringLiteral("history")));
        QVERIFY(store.lastLoadFailure());
        const QString backup = QFileInfo(*store.lastLoadFailure()->backupURL).fileName();
        QVERIFY2(backup.startsWith(QStringLiteral("history.corrupt-")) && backup.endsWith(QStringLiteral(".bak")),
                 qPrintable(backup));
    }

    void testSavingAfterAFailedLoadClearsTheFailureAndKeepsTheBackup()
    {
        writeFile(path(), "{ broken");
        ClipboardStore store(path());
        QVERIFY(store.lastLoadFailure());
        const QString backup = *store.lastLoadFailure()->backupURL;
        store.add(textItem(QStringLiteral("fresh"), at(0)));
        QVERIFY(!store.lastLoadFailure());
        QCOMPARE(readFile(backup), QByteArray("{ broken"));
        QCOMPARE(ClipboardStore(path()).items().size(), 1);
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
        QVERIFY(QFileInfo(path()).isFile());
        QCOMPARE(readFile(backup + QStringLiteral("/inside.txt")), QByteArray("keep me"));
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
