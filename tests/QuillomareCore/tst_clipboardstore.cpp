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

    void testHistoryOrderIsPinnedFirstThenNewestFirst()
    {
        ClipboardStore store(storePath());
        store.add(textItem(QStringLiteral("old"), at(0)));
        store.add(textItem(QStringLiteral("pinned old"), at(1), true));
        store.add(textItem(QStringLiteral("new"), at(5)));
        store.add(textItem(QStringLiteral("pinned new"), at(3), true));
        QCOMPARE(previews(store.items()),
                 (QList<QString>{"pinned new", "pinned old", "new", "old"}));
    }

    void testEntriesWithEqualDatesKeepTheirOrder()
    {
        ClipboardStore store(storePath());
        // Added in this order, each goes to the front among equals: c, b, a.
        store.add(textItem(QStringLiteral("a"), at(0)));
        store.add(textItem(QStringLiteral("b"), at(0)));
        store.add(textItem(QStringLiteral("c"), at(0)));
        QCOMPARE(previews(store.items()), (QList<QString>{"c", "b", "a"}));

        // Pinning the middle one moves it up; unpinning flips it where it stands, and the stable
        // sort leaves it there among entries of the same date.
        const QUuid b = store.items()[1].id;
        store.togglePinned(b);
        QCOMPARE(previews(store.items()), (QList<QString>{"b", "c", "a"}));
        store.togglePinned(b);
        QCOMPARE(previews(store.items()), (QList<QString>{"b", "c", "a"}));

        store.waitForPendingSaves();
        ClipboardStore reloaded(storePath());
        QCOMPARE(previews(reloaded.items()), (QList<QString>{"b", "c", "a"}));
    }

    void testSecondCopyOfPinnedTextIsOnePinnedEntry()
    {
        ClipboardStore store(storePath());
        store.add(textItem(QStringLiteral("pinned"), at(0), true));
        store.add(textItem(QStringLiteral("other pinned"), at(10), true));
        store.add(textItem(QStringLiteral("plain"), at(20)));

        ClipboardItem again = textItem(QStringLiteral("  pinned\n"), at(30)); // same content hash
        const ClipboardItem copy = again;
        QCOMPARE(store.add(again), ClipboardAddOutcome::deduplicated);

        QCOMPARE(store.items().size(), 3);
        const ClipboardItem& top = store.items().first();
        QCOMPARE(top.id, copy.id);
        QCOMPARE(top.createdAt, copy.createdAt);
        QCOMPARE(top.preview, QStringLiteral("  pinned\n"));
        QVERIFY(top.isPinned);
    }

    void testSecondCopyOfUnpinnedTextMovesToTopOfUnpinned()
    {
        ClipboardStore store(storePath());
        store.add(textItem(QStringLiteral("one"), at(0)));
        store.add(textItem(QStringLiteral("two"), at(1)));
        store.add(textItem(QStringLiteral("pinned"), at(2), true));
        const ClipboardItem again = textItem(QStringLiteral("one"), at(3));
        QCOMPARE(store.add(again), ClipboardAddOutcome::deduplicated);
        QCOMPARE(previews(store.items()), (QList<QString>{"pinned", "one", "two"}));
        QCOMPARE(store.items()[1].id, again.id);
        QVERIFY(!store.items()[1].isPinned);
    }

    void testImageOverTheLimitIsRefusedAndNothingChanges()
    {
        ClipboardStore store(storePath());
        store.add(textItem(QStringLiteral("keep"), at(0)));
        const QList<ClipboardItem> removed = store.remove(store.items().first().id);
        QCOMPARE(removed.size(), 1);
        store.add(textItem(QStringLiteral("kept"), at(1)));
        store.waitForPendingSaves();
        const QByteArray fileBefore = readFile(storePath());
        const auto tombstonesBefore = store.deletionTombstones();

        const ClipboardItem tooLarge = imageItem(QByteArray(8 * 1024 * 1024 + 1, 'x'), at(2));
        try {
            store.add(tooLarge);
            QFAIL("an image over 8 MiB was accepted");
        } catch (const ClipboardStoreError& error) {
            QCOMPARE(error.caseOf(), ClipboardStoreError::Case::payloadTooLarge);
            QCOMPARE(error.localizedDescription(), QStringLiteral("图片过大，未写入历史（8.4 MB，上限 8.4 MB）"));
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

        ClipboardItem localOnly = textItem(QStringLiteral("secret-ish"), at(1));
        localOnly.isLocalOnly = true;
        store.add(localOnly);
        QVERIFY(store.deletedContentHashes().contains(hash));

        store.add(textItem(QStringLiteral("secret-ish"), at(2)));
        QVERIFY(!store.deletedContentHashes().contains(hash));
    }

    void testFullOfPinnedEntriesDropsTheNewUnpinnedOne()
    {
        ClipboardStore store(storePath(), settingsWithMax(3));
        for (int i = 0; i < 3; ++i)
            store.add(textItem(QStringLiteral("pinned %1").arg(i), at(i), true));
        QCOMPARE(store.add(textItem(QStringLiteral("newest"), at(10))), ClipboardAddOutcome::inserted);
        QCOMPARE(previews(store.items()), (QList<QString>{"pinned 2", "pinned 1", "pinned 0"}));
    }

    void testTrimmingDropsOldestUnpinnedFirst()
    {
        ClipboardStore store(storePath(), settingsWithMax(3));
        store.add(textItem(QStringLiteral("oldest pinned"), at(0), true));
        store.add(textItem(QStringLiteral("a"), at(1)));
        store.add(textItem(QStringLiteral("b"), at(2)));
        store.add(textItem(QStringLiteral("c"), at(3)));
        QCOMPARE(previews(store.items()), (QList<QString>{"oldest pinned", "c", "b"}));
        // Trimmed entries leave no tombstones: they were not deleted by anyone.
        QVERIFY(store.deletionTombstones().isEmpty());
    }

    void testZeroMaxHistoryCountKeepsNothing()
    {
        ClipboardStore store(storePath(), settingsWithMax(0));
        QCOMPARE(store.add(textItem(QStringLiteral("gone"), at(0))), ClipboardAddOutcome::inserted);
        QVERIFY(store.items().isEmpty());
    }

    void testNegativeMaxHistoryCountTrimsAsTheDefault()
    {
        // Only a hand-edited file can hold this; it must neither crash nor empty the history.
        ClipboardStore store(storePath(), settingsWithMax(-5));
        for (int i = 0; i < 205; ++i)
            store.add(textItem(QStringLiteral("entry %1").arg(i), at(i)));
        QCOMPARE(store.items().size(), 200);
        QCOMPARE(store.items().first().preview, QStringLiteral("entry 204"));
        QCOMPARE(store.settings().maxHistoryCount, -5);

        store.updateSettings([](ClipSettings& settings) { settings.maxHistoryCount = -1; });
        QCOMPARE(store.items().size(), 200);
    }

    void testRemoveDeletesEveryEntryWithThatIdAndRemembersExportableOnes()
    {
        ClipboardStore store(storePath());
        store.add(textItem(QStringLiteral("a"), at(0)));
        store.add(textItem(QStringLiteral("b"), at(1)));
        const ClipboardItem b = store.items().first();

        const QList<ClipboardItem> removed = store.remove(b.id);
        QCOMPARE(removed, QList<ClipboardItem>{b});
        QCOMPARE(previews(store.items()), QList<QString>{"a"});
        QCOMPARE(store.deletedContentHashes(), QSet<QString>{b.contentHash});
    }

    void testRemovingAnUnknownIdStillSavesAndTogglingOneWritesNothing()
    {
        ClipboardStore store(storePath());
        QVERIFY(!QFileInfo::exists(storePath()));
        QVERIFY(store.remove(QUuid::createUuid()).isEmpty());
        store.waitForPendingSaves();
        QVERIFY(QFileInfo::exists(storePath()));

        QFile::remove(storePath());
        store.togglePinned(QUuid::createUuid());
        store.waitForPendingSaves();
        QVERIFY(!QFileInfo::exists(storePath()));
    }

    void testClearTakesPinnedEntriesAndTombstonesOnlyExportableOnes()
    {
        ClipboardStore store(storePath());
        ClipboardItem localOnly = textItem(QStringLiteral("local"), at(0));
        localOnly.isLocalOnly = true;
        store.add(localOnly);
        store.add(textItem(QStringLiteral("exportable"), at(1), true));
        store.add(fileItem({QStringLiteral("/tmp/a.txt")}, at(2))); // rich content while rich sync is off

        const QList<ClipboardItem> removed = store.clear();
        QCOMPARE(removed.size(), 3);
        QVERIFY(store.items().isEmpty());
        QCOMPARE(store.deletedContentHashes(),
                 QSet<QString>{textItem(QStringLiteral("exportable"), at(0)).contentHash});
    }

    void testLoweringMaxHistoryCountTrimsAtOnceAndRaisingRestoresNothing()
    {
        ClipboardStore store(storePath());
        for (int i = 0; i < 5; ++i)
            store.add(textItem(QStringLiteral("e%1").arg(i), at(i)));
        store.updateSettings([](ClipSettings& settings) { settings.maxHistoryCount = 2; });
        QCOMPARE(previews(store.items()), (QList<QString>{"e4", "e3"}));

        store.waitForPendingSaves();
        ClipboardStore reloaded(storePath());
        QCOMPARE(reloaded.items().size(), 2);
        QCOMPARE(reloaded.settings().maxHistoryCount, 2);

        store.updateSettings([](ClipSettings& settings) { settings.maxHistoryCount = 200; });
        QCOMPARE(store.items().size(), 2);
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
