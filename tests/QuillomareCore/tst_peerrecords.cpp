// What another device sends is folded in only as far as it can be true: dates no later than the
// present, content that is what its hash says, ids that name one entry.

#include <QuillomareCore/ClipboardStore.h>
#include <QuillomareCore/Hashing.h>

#include "TestSupport.h"

#include <QTemporaryDir>

using namespace QuillomareCore;
using namespace QuillomareTest;
using namespace Qt::StringLiterals;

namespace {

const QDateTime farFuture(QDate(9999, 1, 1), QTime(0, 0), Qt::UTC);

// The smallest PNG header there is: signature and a 1×1 RGBA header chunk.
QByteArray pngHeader()
{
    QByteArray bytes("\x89PNG\r\n\x1a\n", 8);
    bytes += QByteArray("\x00\x00\x00\x0dIHDR", 8);
    bytes += QByteArray("\x00\x00\x00\x01\x00\x00\x00\x01\x08\x06\x00\x00\x00", 13);
    bytes += QByteArray("\x1f\x15\xc4\x89", 4);
    return bytes + QByteArray("IDAT and the rest");
}

ClipSettings richSync(qsizetype maxHistoryCount = 200)
{
    ClipSettings settings;
    settings.syncRichContentToICloud = true;
    settings.maxHistoryCount = maxHistoryCount;
    return settings;
}

} // namespace

class PeerRecordsTest : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<QTemporaryDir> m_dir;
    QString storePath() const { return m_dir->filePath(u"clips.json"_s); }

private Q_SLOTS:
    void init()
    {
        m_dir = std::make_unique<QTemporaryDir>();
        QVERIFY(m_dir->isValid());
    }

    // --- dates

    void testFutureDatedEntriesRankAsMergedNowAndNewCopiesOutrankThem()
    {
        ClockOverride clock(at(1000));
        ClipboardStore store(storePath(), richSync(5));
        store.add(textItem(u"local"_s, at(900)));
        QList<ClipboardItem> future;
        for (int i = 0; i < 5; ++i)
            future.append(textItem(u"from the future %1"_s.arg(i), farFuture));
        QCOMPARE(store.merge(future), 5);
        for (const ClipboardItem& item : store.items())
            QVERIFY2(item.createdAt <= at(1000), qPrintable(item.preview));

        // Copies made after the merge are newer than anything it brought, whatever was claimed.
        for (int i = 0; i < 3; ++i) {
            clock.advance(1000);
            store.add(textItem(u"new copy %1"_s.arg(i), clock.now()));
        }
        QCOMPARE(store.items().size(), 5);
        for (int i = 0; i < 3; ++i)
            QCOMPARE(store.items()[i].preview, u"new copy %1"_s.arg(2 - i));
    }

    void testDatesWithinTheSkewAllowanceAreKept()
    {
        ClockOverride clock(at(1000));
        ClipboardStore store(storePath());
        QCOMPARE(store.merge({textItem(u"slightly ahead"_s, at(1020))}), 1);
        QCOMPARE(store.items().first().createdAt, at(1020));
        QCOMPARE(PeerRecords::clampedDate(at(1031), at(1000)), at(1000));
        QCOMPARE(PeerRecords::clampedDate(QDateTime(), at(1000)), at(1000));
    }

    void testFutureTombstoneDeletesOnlyWhatCameBeforeIt()
    {
        ClockOverride clock(at(1000));
        ClipboardStore store(storePath());
        store.add(textItem(u"phoenix"_s, at(500)));
        const QString hash = ClipHashing::textContentHash(u"phoenix"_s);
        QCOMPARE(store.mergeDeletionTombstones({{hash, farFuture}}), 1);
        QCOMPARE(store.deletionTombstones(), (QList<ClipboardDeletionTombstone>{{hash, at(1000)}}));

        // A copy made on another device after the deletion reached us comes back.
        QCOMPARE(store.merge({textItem(u"phoenix"_s, at(1010))}), 1);
        QCOMPARE(store.items().size(), 1);

        // So does one made here, and a deletion from before it leaves it alone.
        clock.set(at(2000));
        store.add(textItem(u"phoenix"_s, at(2000)));
        QCOMPARE(store.mergeDeletionTombstones({{hash, at(1500)}}), 0);
        QCOMPARE(store.items().size(), 1);
        QCOMPARE(store.items().first().createdAt, at(2000));
    }

    // --- content

    void testEntriesThatAreNotWhatTheyClaimAreRejected_data()
    {
        QTest::addColumn<ClipboardItem>("pulled");

        // The local entry "original" is in the store; each forged entry tries to change or shadow it.
        ClipboardItem injected = textItem(u"INJECTED payload"_s, at(10));
        injected.contentHash = ClipHashing::textContentHash(u"original"_s);
        injected.preview = u"original"_s;
        QTest::newRow("another text under the local entry's hash") << injected;

        ClipboardItem pngAsText = textItem(QString(), at(10));
        pngAsText.payload = ClipboardPayload::imagePNG(pngHeader());
        pngAsText.contentHash = ClipHashing::imageContentHash(pngHeader());
        QTest::newRow("text kind holding PNG bytes") << pngAsText;

        ClipboardItem textAsFile = textItem(u"/etc/shadow"_s, at(10));
        textAsFile.kind = ClipKind::file;
        QTest::newRow("file kind holding text") << textAsFile;

        QTest::newRow("relative path") << fileItem({u"../../etc/shadow"_s}, at(10));
        QTest::newRow("empty file list") << fileItem({}, at(10));
        QTest::newRow("path with a line feed") << fileItem({u"/tmp/a\n/tmp/b"_s}, at(10));

        ClipboardItem linkAsFiles = fileItem({u"/tmp/x"_s}, at(10));
        linkAsFiles.kind = ClipKind::url;
        QTest::newRow("link kind holding files") << linkAsFiles;

        QTest::newRow("image that is no PNG") << imageItem(QByteArray("\x89PNG but nothing more", 21), at(10));
        QByteArray badHeader = pngHeader();
        badHeader[16] = 0; // width 0
        badHeader[17] = badHeader[18] = badHeader[19] = 0;
        QTest::newRow("PNG of width 0") << imageItem(badHeader, at(10));

        ClipboardItem unknown = textItem(u"what am I"_s, at(10));
        unknown.kind = ClipKind::unknown;
        QTest::newRow("unknown kind") << unknown;

        ClipboardItem wrongHash = fileItem({u"/tmp/report.pdf"_s}, at(10));
        wrongHash.contentHash = ClipHashing::fileContentHash({u"/tmp/other.pdf"_s});
        QTest::newRow("file list under another list's hash") << wrongHash;
    }

    void testEntriesThatAreNotWhatTheyClaimAreRejected()
    {
        QFETCH(ClipboardItem, pulled);
        ClipboardStore store(storePath(), richSync());
        const ClipboardItem original = textItem(u"original"_s, at(0));
        store.add(original);
        qsizetype rejected = -1;
        QCOMPARE(store.merge({pulled}, &rejected), 0);
        QCOMPARE(rejected, 1);
        QCOMPARE(store.items(), QList<ClipboardItem>{original});
        QVERIFY(PeerRecords::contentProblem(pulled).has_value());
    }

    void testEntriesThatAreWhatTheyClaimAreAccepted_data()
    {
        QTest::addColumn<ClipboardItem>("pulled");
        QTest::newRow("text") << textItem(u"  spaced text  "_s, at(10));
        ClipboardItem link = textItem(u"https://example.org/a"_s, at(10));
        link.kind = ClipKind::url;
        QTest::newRow("link") << link;
        QTest::newRow("files") << fileItem({u"/tmp/a.txt"_s, u"/home/me/b c.pdf"_s}, at(10));
        ClipboardItem imageFiles = fileItem({u"/tmp/photo.png"_s}, at(10));
        imageFiles.kind = ClipKind::image;
        QTest::newRow("image files") << imageFiles;
        QTest::newRow("image bytes") << imageItem(pngHeader(), at(10));
    }

    void testEntriesThatAreWhatTheyClaimAreAccepted()
    {
        QFETCH(ClipboardItem, pulled);
        QCOMPARE(PeerRecords::contentProblem(pulled), std::nullopt);
        ClipboardStore store(storePath(), richSync());
        qsizetype rejected = -1;
        QCOMPARE(store.merge({pulled}, &rejected), 1);
        QCOMPARE(rejected, 0);
        QCOMPARE(store.items(), QList<ClipboardItem>{pulled});
    }

    void testAnIdNamesOneEntry()
    {
        ClipboardStore store(storePath());
        const ClipboardItem local = textItem(u"local"_s, at(0));
        store.add(local);

        // Another content under the local entry's id would be removed with it.
        ClipboardItem sameId = textItem(u"somebody else's"_s, at(10));
        sameId.id = local.id;
        // Two pulled entries of different content under one new id: the first one only.
        ClipboardItem first = textItem(u"first"_s, at(11));
        ClipboardItem second = textItem(u"second"_s, at(12));
        second.id = first.id;
        qsizetype rejected = -1;
        QCOMPARE(store.merge({sameId, first, second}, &rejected), 1);
        QCOMPARE(rejected, 2);
        QCOMPARE(store.items().size(), 2);
        QCOMPARE(store.remove(local.id).size(), 1);
        QCOMPARE(store.items().first().preview, u"first"_s);

        // The same entry again under its id is no conflict: its pin still spreads.
        ClipboardItem again = store.items().first();
        again.isPinned = true;
        QCOMPARE(store.merge({again}, &rejected), 1);
        QCOMPARE(rejected, 0);
        QVERIFY(store.items().first().isPinned);
    }
};

QUILLOMARE_TEST_MAIN(PeerRecordsTest)
#include "tst_peerrecords.moc"
