#include <QuillomareCore/ClipboardStore.h>

#include "TestSupport.h"

#include <QFileInfo>
#include <QTemporaryDir>

using namespace QuillomareCore;
using namespace QuillomareTest;
using namespace Qt::StringLiterals;

namespace {

ClipboardDeletionTombstone tombstone(const QString& hash, const QDateTime& date)
{
    return ClipboardDeletionTombstone{hash, date};
}

QString hashOf(const QString& text)
{
    return textItem(text, at(0)).contentHash;
}

ClipboardItem localOnlyText(const QString& text, const QDateTime& createdAt)
{
    ClipboardItem item = textItem(text, createdAt);
    item.isLocalOnly = true;
    return item;
}

} // namespace

class TombstonesTest : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<QTemporaryDir> m_dir;
    QString storePath() const { return m_dir->filePath(u"clips.json"_s); }
    QDateTime fileTime() const { return QFileInfo(storePath()).lastModified(); }
    // Makes the file vanish so that a test can tell whether the next operation saved.
    void forgetFile(ClipboardStore& store)
    {
        store.waitForPendingSaves();
        QFile::remove(storePath());
    }
    bool saved(ClipboardStore& store) const
    {
        store.waitForPendingSaves();
        return QFileInfo::exists(storePath());
    }

private Q_SLOTS:
    void init()
    {
        m_dir = std::make_unique<QTemporaryDir>();
        QVERIFY(m_dir->isValid());
    }

    // --- pulled tombstones

    void testPulledTombstoneRemovesOlderExportableEntriesPinnedOrNot()
    {
        ClipboardStore store(storePath());
        store.add(textItem(u"shared"_s, at(0), true));
        store.add(textItem(u"other"_s, at(1)));
        forgetFile(store);
        QCOMPARE(store.mergeDeletionTombstones({tombstone(hashOf(u"shared"_s), at(10))}), 1);
        QCOMPARE(store.items().size(), 1);
        QCOMPARE(store.items().first().preview, u"other"_s);
        QCOMPARE(store.deletionTombstones(), {tombstone(hashOf(u"shared"_s), at(10))});
        QVERIFY(saved(store));
    }

    void testStoreKeepsTheLaterOfItsOwnAndThePulledDate()
    {
        ClockOverride clock(at(50));
        ClipboardStore store(storePath());
        store.add(textItem(u"gone"_s, at(0)));
        store.remove(store.items().first().id);      // own tombstone dated 50
        store.add(localOnlyText(u"gone"_s, at(40))); // not exportable: keeps the tombstone in place
        forgetFile(store);
        // The pulled date is older, but the entry is older than the store's own date: it is not
        // exportable, so it stays, and the own, later date is kept. Nothing changed, nothing is written.
        QCOMPARE(store.mergeDeletionTombstones({tombstone(hashOf(u"gone"_s), at(20))}), 0);
        QCOMPARE(store.items().size(), 1);
        QCOMPARE(store.deletionTombstones(), {tombstone(hashOf(u"gone"_s), at(50))});
        QVERIFY(!saved(store));
    }

    void testLocalOnlyOrSensitiveEntriesStayBesideThePulledTombstone_data()
    {
        QTest::addColumn<bool>("localOnly");
        QTest::addColumn<bool>("sensitive");
        QTest::newRow("local only") << true << false;
        QTest::newRow("sensitive") << false << true;
    }

    void testLocalOnlyOrSensitiveEntriesStayBesideThePulledTombstone()
    {
        QFETCH(bool, localOnly);
        QFETCH(bool, sensitive);
        ClipboardStore store(storePath());
        ClipboardItem item = textItem(u"private"_s, at(0));
        item.isLocalOnly = localOnly;
        item.isSensitive = sensitive;
        store.add(item);
        QCOMPARE(store.mergeDeletionTombstones({tombstone(item.contentHash, at(5))}), 0);
        QCOMPARE(store.items().size(), 1);
        QCOMPARE(store.deletionTombstones(), {tombstone(item.contentHash, at(5))});
    }

    void testNewerLocalCopySurvivesAndLiftsTheTombstone()
    {
        ClockOverride clock(at(10));
        ClipboardStore store(storePath());
        store.add(textItem(u"again"_s, at(0)));
        store.remove(store.items().first().id); // tombstone at 10
        const ClipboardItem localOnly = localOnlyText(u"again"_s, at(20));
        store.add(localOnly); // not exportable, so the tombstone stays
        QCOMPARE(store.deletionTombstones().size(), 1);

        forgetFile(store);
        QCOMPARE(store.mergeDeletionTombstones({tombstone(localOnly.contentHash, at(15))}), 0);
        QCOMPARE(store.items().size(), 1);
        QVERIFY(store.deletionTombstones().isEmpty());
        QVERIFY(saved(store)); // the tombstones changed
    }

    void testUnknownPulledTombstoneIsStoredAndSaved()
    {
        ClipboardStore store(storePath());
        QCOMPARE(store.mergeDeletionTombstones({tombstone(u"elsewhere"_s, at(3)), tombstone(QString(), at(4))}), 0);
        QCOMPARE(store.deletionTombstones(), {tombstone(u"elsewhere"_s, at(3))});
        QVERIFY(saved(store));

        forgetFile(store);
        QCOMPARE(store.mergeDeletionTombstones({tombstone(QString(), at(4))}), 0);
        QVERIFY(!saved(store));
    }

    void testDeletedContentHashesAreDatedNow()
    {
        ClockOverride clock(at(70));
        ClipboardStore store(storePath());
        store.add(textItem(u"old"_s, at(0)));
        QCOMPARE(store.mergeDeletedContentHashes({hashOf(u"old"_s), QString()}), 1);
        QVERIFY(store.items().isEmpty());
        QCOMPARE(store.deletionTombstones(), {tombstone(hashOf(u"old"_s), at(70))});
    }

    // --- trimming

    void testThe1001stTombstoneDropsTheOldestWithTheSmallestHash()
    {
        ClipboardStore store(storePath());
        QList<ClipboardDeletionTombstone> pulled;
        // Two share the oldest date; "a…" sorts before "b…" and goes first.
        pulled.append(tombstone(u"b-oldest"_s, at(0)));
        pulled.append(tombstone(u"a-oldest"_s, at(0)));
        for (int i = 0; i < 998; ++i)
            pulled.append(tombstone(u"h%1"_s.arg(i, 4, 10, QLatin1Char('0')), at(10 + i)));
        store.mergeDeletionTombstones(pulled);
        QCOMPARE(store.deletionTombstones().size(), 1000);

        ClockOverride clock(at(5000));
        store.add(textItem(u"deleted now"_s, at(4000)));
        store.remove(store.items().first().id);
        const auto tombstones = store.deletionTombstones();
        QCOMPARE(tombstones.size(), 1000);
        QCOMPARE(tombstones.first().contentHash, u"b-oldest"_s);
        QVERIFY(!store.deletedContentHashes().contains(u"a-oldest"_s));
        QCOMPARE(tombstones.last().contentHash, hashOf(u"deleted now"_s));
    }

    // --- pulled entries

    void testPulledEntryAtTheTombstoneDateIsRejectedAndOneSecondLaterAccepted()
    {
        ClipboardStore store(storePath());
        store.mergeDeletionTombstones({tombstone(hashOf(u"back"_s), at(10))});
        forgetFile(store);
        QCOMPARE(store.merge({textItem(u"back"_s, at(10))}), 0);
        QVERIFY(store.items().isEmpty());
        QVERIFY(!saved(store));

        QCOMPARE(store.merge({textItem(u"back"_s, at(11))}), 1);
        QCOMPARE(store.items().size(), 1);
        QVERIFY(store.deletionTombstones().isEmpty());
        QVERIFY(saved(store));
    }

    void testOlderPulledCopyOnlySpreadsAPin()
    {
        ClipboardStore store(storePath());
        const ClipboardItem local = textItem(u"same"_s, at(10));
        store.add(local);
        forgetFile(store);
        QCOMPARE(store.merge({textItem(u"same"_s, at(5))}), 0);
        QVERIFY(!saved(store));
        QCOMPARE(store.items().first().id, local.id);

        QCOMPARE(store.merge({textItem(u"same"_s, at(5), true)}), 1);
        QCOMPARE(store.items().first().id, local.id);
        QVERIFY(store.items().first().isPinned);

        // Unpinning never travels through a merge.
        QCOMPARE(store.merge({textItem(u"same"_s, at(5), false)}), 0);
        QVERIFY(store.items().first().isPinned);
    }

    void testNewerPulledCopyReplacesTheLocalOneAndKeepsItsPin()
    {
        ClipboardStore store(storePath());
        store.add(textItem(u"same"_s, at(0), true));
        store.add(textItem(u"unrelated"_s, at(1)));
        ClipboardItem pulled = textItem(u"same"_s, at(30));
        pulled.sourcePlatform = ClipSourcePlatform::iphone;
        // Every change counts, even two for one hash.
        QCOMPARE(store.merge({textItem(u"same"_s, at(20)), pulled}), 2);
        QCOMPARE(store.items().size(), 2);
        const ClipboardItem& merged = store.items().first();
        QCOMPARE(merged.id, pulled.id);
        QCOMPARE(merged.createdAt, at(30));
        QCOMPARE(merged.sourcePlatform, ClipSourcePlatform(ClipSourcePlatform::iphone));
        QVERIFY(merged.isPinned);
    }

    void testPulledEntriesThatMayNotBeKeptAreRejected_data()
    {
        QTest::addColumn<ClipboardItem>("pulled");
        QTest::newRow("local only") << localOnlyText(u"local"_s, at(0));
        QTest::newRow("file while rich content does not sync") << fileItem({u"/tmp/x"_s}, at(0));
        QTest::newRow("image over the local limit") << imageItem(QByteArray(8 * 1024 * 1024 + 1, 'p'), at(0));
        ClipboardItem noHash = textItem(u"nohash"_s, at(0));
        noHash.contentHash.clear();
        QTest::newRow("no content hash") << noHash;
    }

    void testPulledEntriesThatMayNotBeKeptAreRejected()
    {
        QFETCH(ClipboardItem, pulled);
        ClipboardStore store(storePath());
        QCOMPARE(store.merge({pulled}), 0);
        QVERIFY(store.items().isEmpty());
        QVERIFY(!saved(store));
    }

    void testMergeSortsAndTrims()
    {
        ClipSettings settings;
        settings.maxHistoryCount = 2;
        ClipboardStore store(storePath(), settings);
        store.add(textItem(u"local"_s, at(5)));
        QCOMPARE(store.merge({textItem(u"older"_s, at(1)), textItem(u"newest"_s, at(9))}), 2);
        QCOMPARE(store.items().size(), 2);
        QCOMPARE(store.items()[0].preview, u"newest"_s);
        QCOMPARE(store.items()[1].preview, u"local"_s);
        QVERIFY(store.deletionTombstones().isEmpty());
    }
};

QUILLOMARE_TEST_MAIN(TombstonesTest)
#include "tst_tombstones.moc"
