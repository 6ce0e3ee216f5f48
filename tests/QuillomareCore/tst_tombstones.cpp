#include <QuillomareCore/ClipboardStore.h>

#include "TestSupport.h"

#include <QFileInfo>
#include <QTemporaryDir>

using namespace QuillomareCore;
using namespace QuillomareTest;

namespace {

ClipboardDeletionTombstone tombstone(const QString& hash, const QDateTime& date)
{
    return ClipboardDeletionTombstone{hash, date};
}

QString hashOf(const QString& text)
{
    return textItem(text, at(0)).contentHash;
}

} // namespace

class TombstonesTest : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<QTemporaryDir> m_dir;
    QString storePath() const { return m_dir->filePath(QStringLiteral("clips.json")); }
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
        store.add(textItem(QStringLiteral("shared"), at(0), true));
        store.add(textItem(QStringLiteral("other"), at(1)));
        forgetFile(store);
        QCOMPARE(store.mergeDeletionTombstones({tombstone(hashOf(QStringLiteral("shared")), at(10))}), 1);
        QCOMPARE(store.items().size(), 1);
        QCOMPARE(store.items().first().preview, QStringLiteral("other"));
        QCOMPARE(store.deletionTombstones(), {tombstone(hashOf(QStringLiteral("shared")), at(10))});
        QVERIFY(saved(store));
    }

    void testStoreKeepsTheLaterOfItsOwnAndThePulledDate()
    {
        ClockOverride clock(at(50));
        ClipboardStore store(storePath());
        store.add(textItem(QStringLiteral("gone"), at(0)));
        store.remove(store.items().first().id); // own tombstone dated 50
        store.add([] {
            ClipboardItem item = textItem(QStringLiteral("gone"), at(40));
            item.isLocalOnly = true; // not exportable: keeps the tombstone in place
            return item;
        }());
        // The pulled date is older, but the entry is older than the store's own date: it is not
        // exportable, so it stays, and the own, later date is kept.
        QCOMPARE(store.mergeDeletionTombstones({tombstone(hashOf(QStringLiteral("gone")), at(20))}), 0);
        QCOMPARE(store.items().size(), 1);
        QCOMPARE(store.deletionTombstones(), {tombstone(hashOf(QStringLiteral("gone")), at(50))});
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
        ClipboardItem item = textItem(QStringLiteral("private"), at(0));
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
        store.add(textItem(QStringLiteral("again"), at(0)));
        store.remove(store.items().first().id); // tombstone at 10
        ClipboardItem localOnly = textItem(QStringLiteral("again"), at(20));
        localOnly.isLocalOnly = true;
        store.add(localOnly); // not exportable, so the tombstone stays
        QCOMPARE(store.deletionTombstones().size(), 1);

        forgetFile(store);
        QCOMPARE(store.mergeDeletionTombstones({tombstone(localOnly.contentHash, at(15))}), 0);
        QCOMPARE(store.items().size(), 1);
        QVERIFY(store.deletionTombstones().isEmpty());
        QVERIFY(saved(store)); // the tombstones changed
    }

    void testOlderPulledTombstoneForAnAbsentHashChangesNothing()
    {
        ClockOverride clock(at(100));
        ClipboardStore store(storePath());
        store.add(textItem(QStringLiteral("x"), at(0)));
        store.remove(store.items().first().id);
        forgetFile(store);
        QCOMPARE(store.mergeDeletionTombstones({tombstone(hashOf(QStringLiteral("x")), at(50))}), 0);
        QCOMPARE(store.deletionTombstones(), {tombstone(hashOf(QStringLiteral("x")), at(100))});
        QVERIFY(!saved(store));
    }

    void testUnknownPulledTombstoneIsStoredAndSaved()
    {
        ClipboardStore store(storePath());
        QCOMPARE(store.mergeDeletionTombstones({tombstone(QStringLiteral("elsewhere"), at(3)),
                                                tombstone(QString(), at(4))}),
                 0);
        QCOMPARE(store.deletionTombstones(), {tombstone(QStringLiteral("elsewhere"), at(3))});
        QVERIFY(saved(store));

        forgetFile(store);
        QCOMPARE(store.mergeDeletionTombstones({tombstone(QString(), at(4))}), 0);
        QVERIFY(!saved(store));
    }

    void testDeletedContentHashesAreDatedNow()
    {
        ClockOverride clock(at(70));
        ClipboardStore store(storePath());
        store.add(textItem(QStringLiteral("old"), at(0)));
        QCOMPARE(store.mergeDeletedContentHashes({hashOf(QStringLiteral("old")), QString()}), 1);
        QVERIFY(store.items().isEmpty());
        QCOMPARE(store.deletionTombstones(), {tombstone(hashOf(QStringLiteral("old")), at(70))});
    }

    // --- trimming

    void testThe1001stTombstoneDropsTheOldestWithTheSmallestHash()
    {
        ClipboardStore store(storePath());
        QList<ClipboardDeletionTombstone> pulled;
        // Two share the oldest date; "a…" sorts before "b…" and goes first.
        pulled.append(tombstone(QStringLiteral("b-oldest"), at(0)));
        pulled.append(tombstone(QStringLiteral("a-oldest"), at(0)));
        for (int i = 0; i < 998; ++i)
            pulled.append(tombstone(QStringLiteral("h%1").arg(i, 4, 10, QLatin1Char('0')), at(10 + i)));
        store.mergeDeletionTombstones(pulled);
        QCOMPARE(store.deletionTombstones().size(), 1000);

        ClockOverride clock(at(5000));
        store.add(textItem(QStringLiteral("deleted now"), at(4000)));
        store.remove(store.items().first().id);
        const auto tombstones = store.deletionTombstones();
        QCOMPARE(tombstones.size(), 1000);
        QCOMPARE(tombstones.first().contentHash, QStringLiteral("b-oldest"));
        QVERIFY(!store.deletedContentHashes().contains(QStringLiteral("a-oldest")));
        QCOMPARE(tombstones.last().contentHash, hashOf(QStringLiteral("deleted now")));
    }

    // --- pulled entries

    void testPulledEntryAtTheTombstoneDateIsRejectedAndOneSecondLaterAccepted()
    {
        ClipboardStore store(storePath());
        store.mergeDeletionTombstones({tombstone(hashOf(QStringLiteral("back")), at(10))});
        forgetFile(store);
        QCOMPARE(store.merge({textItem(QStringLiteral("back"), at(10))}), 0);
        QVERIFY(store.items().isEmpty());
        QVERIFY(!saved(store));

        QCOMPARE(store.merge({textItem(QStringLiteral("back"), at(11))}), 1);
        QCOMPARE(store.items().size(), 1);
        QVERIFY(store.deletionTombstones().isEmpty());
        QVERIFY(saved(store));
    }

    void testOlderPulledCopyOnlySpreadsAPin()
    {
        ClipboardStore store(storePath());
        const ClipboardItem local = textItem(QStringLiteral("same"), at(10));
        store.add(local);
        forgetFile(store);
        QCOMPARE(store.merge({textItem(QStringLiteral("same"), at(5))}), 0);
        QVERIFY(!saved(store));
        QCOMPARE(store.items().first().id, local.id);

        QCOMPARE(store.merge({textItem(QStringLiteral("same"), at(5), true)}), 1);
        QCOMPARE(store.items().first().id, local.id);
        QVERIFY(store.items().first().isPinned);

        // Unpinning never travels through a merge.
        QCOMPARE(store.merge({textItem(QStringLiteral("same"), at(5), false)}), 0);
        QVERIFY(store.items().first().isPinned);
    }

    void testNewerPulledCopyReplacesTheLocalOneAndKeepsItsPin()
    {
        ClipboardStore store(storePath());
        store.add(textItem(QStringLiteral("same"), at(0), true));
        store.add(textItem(QStringLiteral("unrelated"), at(1)));
        ClipboardItem pulled = textItem(QStringLiteral("same"), at(30));
        pulled.sourcePlatform = ClipSourcePlatform::iphone;
        QCOMPARE(store.merge({pulled}), 1);
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
        ClipboardItem localOnly = textItem(QStringLiteral("local"), at(0));
        localOnly.isLocalOnly = true;
        QTest::newRow("local only") << localOnly;
        QTest::newRow("file while rich content does not sync") << fileItem({QStringLiteral("/tmp/x")}, at(0));
        QTest::newRow("image over the local limit") << imageItem(QByteArray(8 * 1024 * 1024 + 1, 'p'), at(0));
        ClipboardItem noHash = textItem(QStringLiteral("nohash"), at(0));
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

    void testEveryChangeCountsEvenForOneHash()
    {
        ClipboardStore store(storePath());
        const ClipboardItem first = textItem(QStringLiteral("dup"), at(1));
        const ClipboardItem second = textItem(QStringLiteral("dup"), at(2));
        QCOMPARE(store.merge({first, second}), 2);
        QCOMPARE(store.items().size(), 1);
        QCOMPARE(store.items().first().id, second.id);
    }

    void testMergeSortsAndTrims()
    {
        ClipSettings settings;
        settings.maxHistoryCount = 2;
        ClipboardStore store(storePath(), settings);
        store.add(textItem(QStringLiteral("local"), at(5)));
        QCOMPARE(store.merge({textItem(QStringLiteral("older"), at(1)), textItem(QStringLiteral("newest"), at(9))}), 2);
        QCOMPARE(store.items().size(), 2);
        QCOMPARE(store.items()[0].preview, QStringLiteral("newest"));
        QCOMPARE(store.items()[1].preview, QStringLiteral("local"));
        QVERIFY(store.deletionTombstones().isEmpty());
    }

    void testTombstonesSurviveAReload()
    {
        ClockOverride clock(at(42));
        {
            ClipboardStore store(storePath());
            store.add(textItem(QStringLiteral("a"), at(0)));
            store.remove(store.items().first().id);
        }
        ClipboardStore reloaded(storePath());
        QCOMPARE(reloaded.deletionTombstones(), {tombstone(hashOf(QStringLiteral("a")), at(42))});
        QCOMPARE(reloaded.merge({textItem(QStringLiteral("a"), at(41))}), 0);
    }
};

QUILLOMARE_TEST_MAIN(TombstonesTest)
#include "tst_tombstones.moc"
