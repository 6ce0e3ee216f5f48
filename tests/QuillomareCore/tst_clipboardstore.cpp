#include <QuillomareCore/ClipboardStore.h>

#include "TestSupport.h"

#include <QFileInfo>
#include <QTemporaryDir>

using namespace QuillomareCore;
using namespace QuillomareTest;

namespace {

QList<QString> previews(const QList<ClipboardItem>& items)
{
    QList<QString> result;
    for (const auto& item : items)
        result.append(item.preview);
    return result;
}

ClipSettings settingsWithMax(qint64 max)
{
    ClipSettings settings;
    settings.maxHistoryCount = max;
    return settings;
}

ClipboardItem localOnlyText(const QString& text, const QDateTime& createdAt)
{
    ClipboardItem item = textItem(text, createdAt);
    item.isLocalOnly = true;
    return item;
}

} // namespace

class ClipboardStoreTest : public QObject
{
    Q_OBJECT

private:
    QString storePath() const { return m_dir->filePath(QStringLiteral("Quillomare/clips.json")); }
    std::unique_ptr<QTemporaryDir> m_dir;

private Q_SLOTS:
    void init()
    {
        m_dir = std::make_unique<QTemporaryDir>();
        QVERIFY(m_dir->isValid());
    }

    void testPinnedComeFirstAndASecondCopyTakesTheNewDateButKeepsThePin()
    {
        ClipboardStore store(storePath());
        store.add(textItem(QStringLiteral("pinned"), at(0), true));
        store.add(textItem(QStringLiteral("other pinned"), at(10), true));
        store.add(textItem(QStringLiteral("one"), at(20)));
        store.add(textItem(QStringLiteral("two"), at(21)));
        QCOMPARE(previews(store.items()), (QList<QString>{"other pinned", "pinned", "two", "one"}));

        const ClipboardItem pinnedAgain = textItem(QStringLiteral("  pinned\n"), at(30)); // same content hash
        const ClipboardItem oneAgain = textItem(QStringLiteral("one"), at(31));
        QCOMPARE(store.add(pinnedAgain), ClipboardAddOutcome::deduplicated);
        QCOMPARE(store.add(oneAgain), ClipboardAddOutcome::deduplicated);
        QCOMPARE(previews(store.items()), (QList<QString>{"  pinned\n", "other pinned", "one", "two"}));
        QCOMPARE(store.items()[0].id, pinnedAgain.id);
        QCOMPARE(store.items()[0].createdAt, at(30));
        QVERIFY(store.items()[0].isPinned);
        QCOMPARE(store.items()[2].id, oneAgain.id);
        QVERIFY(!store.items()[2].isPinned);
    }

    void testEntriesWithEqualDatesKeepTheirOrder()
    {
        ClipboardStore store(storePath());
        // Added in this order, each goes to the front among equals: c, b, a.
        for (const char* text : {"a", "b", "c"})
            store.add(textItem(QString::fromLatin1(text), at(0)));
        QCOMPARE(previews(store.items()), (QList<QString>{"c", "b", "a"}));

        // Pinning the middle one moves it up; unpinning flips it where it stands, and the stable
        // sort leaves it there among entries of the same date.
        const QUuid b = store.items()[1].id;
        store.togglePinned(b);
        QCOMPARE(previews(store.items()), (QList<QString>{"b", "c", "a"}));
        store.togglePinned(b);
        QCOMPARE(previews(store.items()), (QList<QString>{"b", "c", "a"}));

        store.waitForPendingSaves();
        QCOMPARE(previews(ClipboardStore(storePath()).items()), (QList<QString>{"b", "c", "a"}));
    }

    void testImageOverTheLimitIsRefusedAndNothingChanges()
    {
        ClipboardStore store(storePath());
        store.add(textItem(QStringLiteral("keep"), at(0)));
        store.remove(store.items().first().id);
        store.add(textItem(QStringLiteral("kept"), at(1)));
        store.waitForPendingSaves();
        const QByteArray fileBefore = readFile(storePath());
        const auto tombstonesBefore = store.deletionTombstones();

        try {
            store.add(imageItem(QByteArray(8 * 1024 * 1024 + 1, 'x'), at(2)));
            QFAIL("an image over 8 MiB was accepted");
        } catch (const ClipboardStoreError& error) {
            QCOMPARE(error.caseOf(), ClipboardStoreError::Case::payloadTooLarge);
            QCOMPARE(error.localizedDescription(),
                     QStringLiteral("Image too large, not saved (8,388,609 bytes, limit 8,388,608 bytes)"));
        }
        QCOMPARE(previews(store.items()), QList<QString>{"kept"});
        QCOMPARE(store.deletionTombstones(), tombstonesBefore);
        store.waitForPendingSaves();
        QCOMPARE(readFile(storePath()), fileBefore);

        QCOMPARE(store.add(imageItem(QByteArray(8 * 1024 * 1024, 'x'), at(3))), ClipboardAddOutcome::inserted);
        QCOMPARE(store.items().size(), 2);
    }

    void testAddingExportableContentLiftsItsTombstone()
    {
        ClipboardStore store(storePath());
        store.add(textItem(QStringLiteral("secret-ish"), at(0)));
        store.remove(store.items().first().id);
        const QString hash = textItem(QStringLiteral("secret-ish"), at(0)).contentHash;
        QVERIFY(store.deletedContentHashes().contains(hash));

        store.add(localOnlyText(QStringLiteral("secret-ish"), at(1)));
        QVERIFY(store.deletedContentHashes().contains(hash));

        store.add(textItem(QStringLiteral("secret-ish"), at(2)));
        QVERIFY(!store.deletedContentHashes().contains(hash));
    }

    void testTrimmingDropsTheOldestUnpinnedAndNeverAPinnedEntry()
    {
        ClipboardStore store(storePath(), settingsWithMax(3));
        store.add(textItem(QStringLiteral("oldest pinned"), at(0), true));
        for (int i = 1; i <= 3; ++i)
            store.add(textItem(QStringLiteral("e%1").arg(i), at(i)));
        QCOMPARE(previews(store.items()), (QList<QString>{"oldest pinned", "e3", "e2"}));

        // Full of pinned entries: a new unpinned one is inserted and dropped at once.
        store.add(textItem(QStringLiteral("p4"), at(4), true));
        store.add(textItem(QStringLiteral("p5"), at(5), true));
        QCOMPARE(store.add(textItem(QStringLiteral("newest"), at(10))), ClipboardAddOutcome::inserted);
        QCOMPARE(previews(store.items()), (QList<QString>{"p5", "p4", "oldest pinned"}));
        // Trimmed entries leave no tombstones: they were not deleted by anyone.
        QVERIFY(store.deletionTombstones().isEmpty());
    }

    void testMaxHistoryCountTrimsAtOnceAndRaisingRestoresNothing()
    {
        // A negative count, which only a hand-edited file can hold, trims as the default does.
        ClipboardStore store(storePath(), settingsWithMax(-5));
        for (int i = 0; i < 205; ++i)
            store.add(textItem(QStringLiteral("e%1").arg(i), at(i)));
        QCOMPARE(store.items().size(), 200);
        QCOMPARE(store.items().first().preview, QStringLiteral("e204"));
        QCOMPARE(store.settings().maxHistoryCount, -5);
        store.updateSettings([](ClipSettings& settings) { settings.maxHistoryCount = -1; });
        QCOMPARE(store.items().size(), 200);

        store.updateSettings([](ClipSettings& settings) { settings.maxHistoryCount = 2; });
        QCOMPARE(previews(store.items()), (QList<QString>{"e204", "e203"}));
        store.waitForPendingSaves();
        ClipboardStore reloaded(storePath());
        QCOMPARE(reloaded.items().size(), 2);
        QCOMPARE(reloaded.settings().maxHistoryCount, 2);

        store.updateSettings([](ClipSettings& settings) { settings.maxHistoryCount = 200; });
        QCOMPARE(store.items().size(), 2);
        store.updateSettings([](ClipSettings& settings) { settings.maxHistoryCount = 0; });
        QVERIFY(store.items().isEmpty());
        QCOMPARE(store.add(textItem(QStringLiteral("gone"), at(999))), ClipboardAddOutcome::inserted);
        QVERIFY(store.items().isEmpty());
    }

    void testRemoveRemembersTheEntryAndAnUnknownIdStillSavesButTogglingOneDoesNot()
    {
        ClipboardStore store(storePath());
        QVERIFY(!QFileInfo::exists(storePath()));
        QVERIFY(store.remove(QUuid::createUuid()).isEmpty());
        store.waitForPendingSaves();
        QVERIFY(QFileInfo::exists(storePath()));

        store.add(textItem(QStringLiteral("a"), at(0)));
        store.add(textItem(QStringLiteral("b"), at(1)));
        const ClipboardItem b = store.items().first();
        QCOMPARE(store.remove(b.id), QList<ClipboardItem>{b});
        QCOMPARE(previews(store.items()), QList<QString>{"a"});
        QCOMPARE(store.deletedContentHashes(), QSet<QString>{b.contentHash});

        store.waitForPendingSaves();
        QFile::remove(storePath());
        store.togglePinned(QUuid::createUuid());
        store.waitForPendingSaves();
        QVERIFY(!QFileInfo::exists(storePath()));
    }

    void testClearTakesPinnedEntriesAndTombstonesOnlyExportableOnes()
    {
        ClipboardStore store(storePath());
        store.add(localOnlyText(QStringLiteral("local"), at(0)));
        store.add(textItem(QStringLiteral("exportable"), at(1), true));
        store.add(fileItem({QStringLiteral("/tmp/a.txt")}, at(2))); // rich content while rich sync is off

        QCOMPARE(store.clear().size(), 3);
        QVERIFY(store.items().isEmpty());
        QCOMPARE(store.deletedContentHashes(),
                 QSet<QString>{textItem(QStringLiteral("exportable"), at(0)).contentHash});
    }

    // A large history gathers the additions of an interval, but whatever takes entries away
    // (a deletion, a clear, a lower limit) reaches the disk at once.
    void testRemovalsOfALargeHistoryAreNotHeldBack()
    {
        ClipboardStore store(storePath());
        // "Large" is any file here; the interval is longer than any test runs.
        store.setSaveGatheringForTesting(8, 600'000);
        store.add(textItem(QStringLiteral("secret one"), at(0)));
        store.add(textItem(QStringLiteral("secret two"), at(1)));
        store.add(textItem(QStringLiteral("secret three"), at(2)));
        store.waitForPendingSaves();
        QVERIFY(readFile(storePath()).contains("secret three"));

        store.add(textItem(QStringLiteral("kept"), at(3)));
        store.remove(store.items().at(1).id); // "secret three", right after a write
        QTRY_VERIFY(!store.hasPendingSave());
        QVERIFY(!readFile(storePath()).contains("secret three"));
        QVERIFY(readFile(storePath()).contains("kept"));

        store.updateSettings([](ClipSettings& settings) { settings.maxHistoryCount = 2; });
        QTRY_VERIFY(!store.hasPendingSave());
        QVERIFY(!readFile(storePath()).contains("secret one"));

        store.clear();
        QTRY_VERIFY(!store.hasPendingSave());
        QVERIFY(!readFile(storePath()).contains("secret two"));
        QVERIFY(!readFile(storePath()).contains("kept"));
    }

    void testCloudExportableItemsFollowTheSettings()
    {
        ClipboardStore store(storePath());
        ClipboardItem sensitive = textItem(QStringLiteral("sensitive"), at(0));
        sensitive.isSensitive = true;
        store.add(sensitive);
        store.add(textItem(QStringLiteral("plain"), at(1)));
        store.add(fileItem({QStringLiteral("/tmp/a")}, at(2)));
        store.add(imageItem(QByteArray(1024 * 1024 + 1, 'i'), at(3))); // over the cloud limit
        QCOMPARE(previews(store.cloudExportableItems()), QList<QString>{"plain"});

        store.updateSettings([](ClipSettings& settings) { settings.syncRichContentToICloud = true; });
        QCOMPARE(previews(store.cloudExportableItems()), (QList<QString>{"/tmp/a", "plain"}));
    }

    void testFailedSaveKeepsTheChangeInMemoryAndReportsTheFolder()
    {
        // A plain file where the program's folder should be: creating the folder fails, even as root.
        writeFile(m_dir->filePath(QStringLiteral("blocked")), "not a folder");
        ClipboardStore store(m_dir->filePath(QStringLiteral("blocked/clips.json")));
        store.add(textItem(QStringLiteral("unsaved"), at(0)));
        QCOMPARE(previews(store.items()), QList<QString>{"unsaved"});
        std::optional<QString> reported;
        store.whenSaved([&](const std::optional<QString>& error) { reported = error.value_or(QString()); });
        store.waitForPendingSaves();
        QVERIFY(reported && reported->contains(m_dir->filePath(QStringLiteral("blocked"))));
        QCOMPARE(store.lastSaveError(), reported);
        QCOMPARE(readFile(m_dir->filePath(QStringLiteral("blocked"))), QByteArray("not a folder"));
    }
};

QUILLOMARE_TEST_MAIN(ClipboardStoreTest)
#include "tst_clipboardstore.moc"
