#include "TestSupport.h"

#include <Platform/CloudDatabase.h>
#include <Sync/CloudKitSyncService.h>
#include <Sync/CloudRecordNaming.h>

#include <QuillomareCore/ClipSettings.h>
#include <QuillomareCore/Hashing.h>
#include <QuillomareCore/Language.h>

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QTemporaryDir>

#include <sys/resource.h>

using namespace Qt::StringLiterals;
using namespace QuillomareMac;
namespace Language = QuillomareCore::Language;
using QuillomareCore::ClipboardDeletionTombstone;
using QuillomareCore::ClipboardItem;
using QuillomareCore::CloudSyncState;
using QuillomareTest::at;

namespace {

QString recordFile(const QString& folder, const ClipboardItem& item)
{
    return folder + QLatin1Char('/') +
           Platform::CloudDatabase::fileName(CloudRecordNaming::itemRecordName(item.contentHash));
}

const QDateTime farFuture(QDate(9999, 1, 1), QTime(0, 0), Qt::UTC);

qint64 peakMemoryKiB()
{
    struct rusage usage = {};
    ::getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

QStringList filesUnder(const QString& folder)
{
    QStringList files;
    QDirIterator it(folder, QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot, QDirIterator::Subdirectories);
    while (it.hasNext())
        files.append(it.next());
    return files;
}

// A record's arrival is its file's change time, which the file system's clock gives in ticks of a
// few milliseconds: records written within one tick arrive together. Waits until a file written
// now would arrive after every file under `folder` (`scratch` is written to find out).
bool fileClockHasPassed(const QString& folder, const QString& scratch)
{
    QDateTime newest;
    for (const QString& path : filesUnder(folder)) {
        const QDateTime changed = QFileInfo(path).metadataChangeTime();
        if (!newest.isValid() || changed > newest)
            newest = changed;
    }
    return QTest::qWaitFor(
        [&] {
            QFile file(scratch);
            if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) || file.write("x") != 1)
                return false;
            file.close();
            return QFileInfo(scratch).metadataChangeTime() > newest;
        },
        5000);
}

} // namespace

class TestCloudKitSyncService : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase() { Language::setIsChineseForTesting(false); }

    void entriesAndDeletionsTravelBetweenTwoHomes()
    {
        // This home keeps its records in the default place; the other home's container folder is
        // kept in step with it, as a file-sync tool would.
        const QString folder = Platform::CloudDatabase::defaultRecordsRoot() + u"/"_s +
                               QuillomareCore::ClipDefaults::cloudContainerIdentifier;
        CloudKitSyncService here(std::nullopt, false);
        ClipboardItem text = QuillomareTest::textItem(u"shared note"_s, at(0), true);
        text.sourceAppName = u"Editor"_s;
        text.sourceBundleIdentifier = u"org.example.editor"_s;
        // Previews as a capture makes them: a pulled entry shows what its content gives.
        ClipboardItem file = QuillomareTest::fileItem({u"/tmp/a.txt"_s}, at(1));
        file.preview = u"a.txt"_s;
        ClipboardItem image = QuillomareTest::imageItem(QByteArray("\x89PNG small", 10), at(2));
        image.preview = u"Image · 10 bytes"_s;
        QCOMPARE(here.push({text, file, image}), CloudSyncState::idle());
        QVERIFY(QFile::exists(recordFile(folder, text)));
        QVERIFY(!QFile::exists(recordFile(folder, file))); // rich content stays home with rich sync off

        QTemporaryDir otherHome;
        QVERIFY(QDir().mkpath(otherHome.filePath(u"CloudRecords"_s)));
        QVERIFY(QFile::link(folder, otherHome.filePath(u"CloudRecords/"_s) +
                                        QuillomareCore::ClipDefaults::cloudContainerIdentifier));
        CloudKitSyncService there(QuillomareCore::ClipDefaults::cloudContainerIdentifier, true,
                                  otherHome.filePath(u"CloudRecords"_s));
        auto pulled = there.pull(200);
        QCOMPARE(pulled.state, CloudSyncState::idle());
        QCOMPARE(pulled.items, QList<ClipboardItem>{text});

        // With rich sync on, files and images travel too, whole.
        QCOMPARE(there.push({file, image}), CloudSyncState::idle());
        pulled = here.pull(200);
        QCOMPARE(pulled.items.size(), 3);
        QVERIFY(pulled.items.contains(file) && pulled.items.contains(image));

        // A deletion travels as a tombstone, and the deleted entry's record goes.
        QCOMPARE(here.pushDeletionTombstones({{text.contentHash, at(60)}, {QString(), at(61)}}),
                 CloudSyncState::idle());
        QCOMPARE(here.deleteItems({text}), CloudSyncState::idle());
        pulled = there.pull(200);
        QCOMPARE(pulled.items.size(), 2);
        QVERIFY(!pulled.items.contains(text));
        QCOMPARE(pulled.deletionTombstones, (QList<ClipboardDeletionTombstone>{{text.contentHash, at(60)}}));
        QCOMPARE(pulled.deletedContentHashes, QSet<QString>{text.contentHash});
    }

    void pullTakesTheNewestRecordsAndUnchangedPushesWriteNothing()
    {
        QuillomareTest::ClockOverride clock(at(0));
        QTemporaryDir root;
        CloudKitSyncService service(u"newest.test"_s, false, root.path());
        const ClipboardItem first = QuillomareTest::textItem(u"first"_s, at(0));
        const ClipboardItem second = QuillomareTest::textItem(u"second"_s, at(0));
        const QString folder = root.filePath(u"newest.test"_s);
        const QString scratch = root.filePath(u"scratch"_s);
        QCOMPARE(service.push({first}), CloudSyncState::idle());
        QVERIFY(fileClockHasPassed(folder, scratch));
        clock.advance(1000);
        QCOMPARE(service.pushDeletedContentHashes({u"gone"_s}), CloudSyncState::idle());
        QVERIFY(fileClockHasPassed(folder, scratch));
        clock.advance(1000);
        QCOMPARE(service.push({second}), CloudSyncState::idle());

        // Pushing the same entry again changes nothing, so it does not become newer.
        clock.advance(1000);
        QCOMPARE(service.push({first, second}), CloudSyncState::idle());
        auto pulled = service.pull(2);
        QCOMPARE(pulled.items, QList<ClipboardItem>{second});
        QCOMPARE(pulled.deletionTombstones, (QList<ClipboardDeletionTombstone>{{u"gone"_s, at(1)}}));

        // A changed entry does.
        ClipboardItem pinned = first;
        pinned.isPinned = true;
        QCOMPARE(service.push({pinned}), CloudSyncState::idle());
        QCOMPARE(service.pull(1).items, QList<ClipboardItem>{pinned});
        QVERIFY(service.pull(0).items.isEmpty());
    }

    void damagedRecordFilesAreSkipped()
    {
        QTemporaryDir root;
        CloudKitSyncService service(u"damaged.test"_s, false, root.path());
        QList<ClipboardItem> items;
        for (const char* text : {"good", "truncated", "not json", "other type", "mistyped field"})
            items.append(QuillomareTest::textItem(QString::fromLatin1(text), at(0)));
        QCOMPARE(service.push(items), CloudSyncState::idle());

        const QString folder = root.filePath(u"damaged.test"_s);
        const QByteArray good = QuillomareTest::readFile(recordFile(folder, items[1]));
        QuillomareTest::writeFile(recordFile(folder, items[1]), good.left(good.size() / 2));
        QuillomareTest::writeFile(recordFile(folder, items[2]), "\x00\x01 not json");
        QuillomareTest::writeFile(
            recordFile(folder, items[3]),
            QuillomareTest::readFile(recordFile(folder, items[3])).replace("\"ClipboardItem\"", "\"Bookmark\""));
        QString mistyped = QString::fromUtf8(QuillomareTest::readFile(recordFile(folder, items[4])));
        mistyped.replace(QRegularExpression(u"\"string\"\\s*:\\s*\"text\""_s), u"\"bool\" : true"_s);
        QuillomareTest::writeFile(recordFile(folder, items[4]), mistyped.toUtf8());
        // A sync tool's conflict copy is not a record of ours.
        QFile::copy(recordFile(folder, items[0]), folder + u"/item.sync-conflict-1.json"_s);

        const auto pulled = service.pull(200);
        QCOMPARE(pulled.state, CloudSyncState::idle());
        QCOMPARE(pulled.items, QList<ClipboardItem>{items[0]});
    }

    void unsafeContainerIdentifierIsRefused_data()
    {
        QTest::addColumn<QString>("identifier");
        QTest::newRow("slash") << u"iCloud.app/evil"_s;
        QTest::newRow("parent") << u".."_s;
        QTest::newRow("climbing") << u"../outside"_s;
        QTest::newRow("empty") << QString();
    }

    void unsafeContainerIdentifierIsRefused()
    {
        QFETCH(QString, identifier);
        QTemporaryDir sandbox;
        CloudKitSyncService service(identifier, true, sandbox.filePath(u"home/CloudRecords"_s));
        QCOMPARE(service.state(), CloudSyncState::idle());

        const CloudSyncState state = service.push({QuillomareTest::textItem(u"x"_s, at(0))});
        QCOMPARE(state.caseOf(), CloudSyncState::Case::failed);
        QVERIFY(state.text().contains(identifier.isEmpty() ? u"missing"_s : identifier));
        QCOMPARE(service.pull(10).state, state);
        QCOMPARE(service.pushDeletedContentHashes({u"h"_s}), state);
        QCOMPARE(filesUnder(sandbox.path()), QStringList());
    }

    void unwritableRecordsFolderFailsAndLosesNothing()
    {
        QTemporaryDir root;
        const QString folder = root.filePath(u"blocked.test"_s);
        QuillomareTest::writeFile(folder, "somebody's file");
        CloudKitSyncService service(u"blocked.test"_s, false, root.path());
        const ClipboardItem item = QuillomareTest::textItem(u"kept"_s, at(0));

        const CloudSyncState state = service.push({item});
        QCOMPARE(state.caseOf(), CloudSyncState::Case::failed);
        QVERIFY2(state.text().contains(folder), qPrintable(state.text()));
        QCOMPARE(service.state(), state);
        QCOMPARE(service.pull(10).state.caseOf(), CloudSyncState::Case::failed);
        QCOMPARE(QuillomareTest::readFile(folder), QByteArray("somebody's file"));

        // Once the folder can be made, the next pass delivers what the failed one could not.
        QVERIFY(QFile::remove(folder));
        QCOMPARE(service.push({item}), CloudSyncState::idle());
        QCOMPARE(service.pull(10).items, QList<ClipboardItem>{item});
    }

    void fastClockPeerCannotHideRecordsThatCameAfterIt()
    {
        QTemporaryDir root;
        const QString container = u"fastclock.test"_s;
        {
            // A peer whose clock runs in 2027 writes its records first.
            QuillomareTest::ClockOverride clock(QDateTime(QDate(2027, 6, 1), QTime(0, 0), Qt::UTC));
            CloudKitSyncService fast(container, false, root.path());
            QList<ClipboardItem> items;
            for (int i = 0; i < 250; ++i)
                items.append(QuillomareTest::textItem(u"fast %1"_s.arg(i), clock.now()));
            QCOMPARE(fast.push(items), CloudSyncState::idle());
        }
        CloudKitSyncService other(container, false, root.path());
        QList<ClipboardItem> honest;
        for (int i = 0; i < 38; ++i)
            honest.append(QuillomareTest::textItem(u"honest %1"_s.arg(i), at(i)));
        QCOMPARE(other.push(honest), CloudSyncState::idle());

        CloudKitSyncService here(container, false, root.path());
        const QDateTime beforePull = QDateTime::currentDateTimeUtc();
        auto pulled = here.pull(200);
        QCOMPARE(pulled.state, CloudSyncState::idle());
        QCOMPARE(pulled.items.size(), 200);
        for (const ClipboardItem& item : honest)
            QVERIFY2(pulled.items.contains(item), qPrintable(item.preview));
        for (const ClipboardItem& item : std::as_const(pulled.items))
            QVERIFY(item.createdAt <= beforePull.addSecs(1));

        // The records past the limit come with the next pull; then nothing is new, however the
        // records are dated.
        QCOMPARE(pulled.pendingCount, 88);
        pulled = here.pull(200);
        QCOMPARE(pulled.items.size(), 88);
        QCOMPARE(pulled.pendingCount, 0);
        QVERIFY(here.pull(200).items.isEmpty());
        // What the other machine writes next arrives at once.
        const ClipboardItem later = QuillomareTest::textItem(u"honest later"_s, at(100));
        QCOMPARE(other.push({later}), CloudSyncState::idle());
        QCOMPARE(here.pull(200).items, QList<ClipboardItem>{later});

        // So does a record rewritten in place, as some sync tools do.
        QFile file(recordFile(root.filePath(container), later));
        QVERIFY(file.open(QIODevice::ReadWrite));
        QByteArray bytes = file.readAll();
        const qsizetype pin = bytes.indexOf("isPinned");
        QVERIFY(pin > 0);
        bytes.replace(bytes.indexOf("false", pin), 5, "true ");
        QVERIFY(file.seek(0));
        file.write(bytes);
        file.close();
        ClipboardItem pinned = later;
        pinned.isPinned = true;
        QCOMPARE(here.pull(200).items, QList<ClipboardItem>{pinned});
    }

    void recordsPastTheLimitComeWithTheNextPullsLatestArrivalFirst()
    {
        QTemporaryDir root;
        const QString container = u"backlog.test"_s;
        const QString folder = root.filePath(container);
        // A peer back after a while: 450 honest records at once.
        CloudKitSyncService peer(container, false, root.path());
        QList<ClipboardItem> backlog;
        for (int i = 0; i < 450; ++i)
            backlog.append(QuillomareTest::textItem(u"backlog %1"_s.arg(i), at(i)));
        QCOMPARE(peer.push(backlog), CloudSyncState::idle());

        CloudKitSyncService here(container, false, root.path());
        QSet<QString> seen;
        QList<qsizetype> sizes, pending;
        for (auto pulled = here.pull(200); !pulled.items.isEmpty(); pulled = here.pull(200)) {
            sizes.append(pulled.items.size());
            pending.append(pulled.pendingCount);
            for (const ClipboardItem& item : std::as_const(pulled.items))
                seen.insert(item.contentHash);
        }
        QCOMPARE(sizes, (QList<qsizetype>{200, 200, 50}));
        QCOMPARE(pending, (QList<qsizetype>{250, 50, 0}));
        QCOMPARE(seen.size(), 450);

        // A flood whose records claim to be a little newer than they are (within the clock skew
        // a peer is allowed), then a few honest copies that really came after it: the honest
        // ones are taken first, and the flood follows in the next pulls.
        {
            QuillomareTest::ClockOverride clock(QDateTime::currentDateTimeUtc().addSecs(25));
            CloudKitSyncService flood(container, false, root.path());
            QList<ClipboardItem> items;
            for (int i = 0; i < 250; ++i)
                items.append(QuillomareTest::textItem(u"claims newer %1"_s.arg(i), clock.now()));
            QCOMPARE(flood.push(items), CloudSyncState::idle());
        }
        // Arrival is the file's change time: let the file system's clock move past the flood's.
        QVERIFY(fileClockHasPassed(folder, root.filePath(u"scratch"_s)));
        QList<ClipboardItem> honest;
        for (int i = 0; i < 5; ++i)
            honest.append(QuillomareTest::textItem(u"honest copy %1"_s.arg(i), QDateTime::currentDateTimeUtc()));
        QCOMPARE(peer.push(honest), CloudSyncState::idle());

        auto pulled = here.pull(200);
        for (const ClipboardItem& item : honest)
            QVERIFY2(pulled.items.contains(item), qPrintable(item.preview));
        QCOMPARE(pulled.pendingCount, 55);
        QCOMPARE(here.pull(200).items.size(), 55);
    }

    void aPulledEntryShowsWhatItsContentGivesNotWhatThePeerWrote()
    {
        QTemporaryDir root;
        const QString container = u"preview.test"_s;
        // Correct hashes, previews that say something else (one of them megabytes long).
        ClipboardItem text = QuillomareTest::textItem(u"  real words\n\tsecond line "_s, at(0));
        text.preview = QString(2 * 1024 * 1024, u'W');
        ClipboardItem files = QuillomareTest::fileItem({u"/home/me/report.pdf"_s, u"/home/me/b.txt"_s}, at(1));
        files.preview = u"Click here"_s;
        ClipboardItem image = QuillomareTest::imageItem(QByteArray("\x89PNG\r\n\x1a\n12345", 13), at(2));
        image.preview = u"Your account is locked"_s;
        CloudKitSyncService peer(container, true, root.path());
        QCOMPARE(peer.push({text, files, image}), CloudSyncState::idle());

        CloudKitSyncService here(container, true, root.path());
        const auto pulled = here.pull(200);
        QCOMPARE(pulled.items.size(), 3);
        QHash<QString, QString> previews;
        for (const ClipboardItem& item : pulled.items)
            previews.insert(item.contentHash, item.preview);
        QCOMPARE(previews.value(text.contentHash), u"real words  second line"_s);
        QCOMPARE(previews.value(files.contentHash), u"2 files"_s);
        QCOMPARE(previews.value(image.contentHash), u"Image · 13 bytes"_s);
    }

    void futureDatesCountFromArrivalAndGoBackAsTheyCame()
    {
        QTemporaryDir root;
        const QString container = u"future.test"_s;
        const QString folder = root.filePath(container);
        const ClipboardItem claimed = QuillomareTest::textItem(u"from 9999"_s, farFuture);
        const QString goneHash = QuillomareCore::ClipHashing::textContentHash(u"gone"_s);
        {
            QuillomareTest::ClockOverride clock(farFuture);
            CloudKitSyncService peer(container, false, root.path());
            QCOMPARE(peer.push({claimed}), CloudSyncState::idle());
            QCOMPARE(peer.pushDeletionTombstones({{goneHash, farFuture}}), CloudSyncState::idle());
        }
        const QString deletionFile =
            folder + u"/"_s + Platform::CloudDatabase::fileName(CloudRecordNaming::deletionRecordName(goneHash));
        const QByteArray itemBytes = QuillomareTest::readFile(recordFile(folder, claimed));
        const QByteArray deletionBytes = QuillomareTest::readFile(deletionFile);

        CloudKitSyncService here(container, false, root.path());
        const auto pulled = here.pull(200);
        const QDateTime now = QDateTime::currentDateTimeUtc();
        QCOMPARE(pulled.items.size(), 1);
        QVERIFY(pulled.items.first().createdAt <= now);
        QVERIFY(pulled.items.first().createdAt > now.addSecs(-60));
        QCOMPARE(pulled.deletionTombstones.size(), 1);
        QVERIFY(pulled.deletionTombstones.first().deletedAt <= now);

        // Pushed back as merged, the records stay as the peer wrote them: nothing flips back and forth.
        QCOMPARE(here.push(pulled.items), CloudSyncState::idle());
        QCOMPARE(here.pushDeletionTombstones(pulled.deletionTombstones), CloudSyncState::idle());
        QCOMPARE(QuillomareTest::readFile(recordFile(folder, claimed)), itemBytes);
        QCOMPARE(QuillomareTest::readFile(deletionFile), deletionBytes);
        QVERIFY(here.pull(200).items.isEmpty());
    }

    void oversizedRecordFileIsSkippedUnread()
    {
        QTemporaryDir root;
        const QString container = u"oversized.test"_s;
        CloudKitSyncService service(container, false, root.path());
        const ClipboardItem good = QuillomareTest::textItem(u"small and sound"_s, at(0));
        QCOMPARE(service.push({good}), CloudSyncState::idle());

        // Named as a record, 2 GB long, and sparse, so that making it costs nothing.
        const ClipboardItem huge = QuillomareTest::textItem(u"huge"_s, at(1));
        QFile file(recordFile(root.filePath(container), huge));
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write("{\"fields\":{");
        QVERIFY(file.resize(qint64(2) * 1024 * 1024 * 1024));
        file.close();

        CloudKitSyncService here(container, false, root.path());
        const qint64 before = peakMemoryKiB();
        const auto pulled = here.pull(200);
        QCOMPARE(pulled.state, CloudSyncState::idle());
        QCOMPARE(pulled.items, QList<ClipboardItem>{good});
        QCOMPARE(pulled.rejectedCount, 1);
        QVERIFY2(peakMemoryKiB() - before < 64 * 1024, qPrintable(QString::number(peakMemoryKiB() - before)));
        // Counted once, not on every pass.
        QCOMPARE(here.pull(200).rejectedCount, 0);
    }
};

QUILLOMARE_TEST_MAIN(TestCloudKitSyncService)
#include "tst_cloudkitsyncservice.moc"
