// The built program against a record folder that other machines write into, as a file-sync tool
// would keep it: one JSON file per record. One peer's clock runs years ahead, another is honest,
// and somebody plants a deletion dated 9999, forged records and a 2 GB record file. The program
// must keep every local entry and every new copy, take in every sound record, and refuse the rest.

#include <Platform/CloudDatabase.h>
#include <Sync/CloudKitSyncService.h>
#include <Sync/CloudRecordNaming.h>

#include <QuillomareCore/ClipSettings.h>
#include <QuillomareCore/ClipboardItem.h>
#include <QuillomareCore/ClipboardStore.h>
#include <QuillomareCore/Errors.h>
#include <QuillomareCore/Foundation.h>
#include <QuillomareCore/Hashing.h>
#include <QuillomareCore/Json.h>

#include "TestSupport.h"
#include "X11Tools.h"

#include <QDeadlineTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QRegularExpression>
#include <QSet>
#include <QSettings>
#include <QTemporaryDir>

#include <algorithm>

using namespace QuillomareCore;
using namespace QuillomareMac;
using namespace QuillomareTest;
using namespace Qt::StringLiterals;

namespace {

const QDateTime farFuture(QDate(9999, 1, 1), QTime(0, 0), Qt::UTC);
const QDateTime fastClock(QDate(2027, 6, 1), QTime(0, 0), Qt::UTC);

Platform::CloudRecord itemRecord(const ClipboardItem& item)
{
    Platform::CloudRecord record{
        CloudRecordNaming::itemRecordType, CloudRecordNaming::itemRecordName(item.contentHash), {}, {}, {}};
    record.fields.insert(u"id"_s, Uuid::text(item.id));
    record.fields.insert(u"createdAt"_s, item.createdAt);
    record.fields.insert(u"kind"_s, item.kind.rawValue());
    record.fields.insert(u"preview"_s, item.preview);
    record.fields.insert(u"contentHash"_s, item.contentHash);
    record.fields.insert(u"sourcePlatform"_s, u"mac"_s);
    if (item.payload.isText())
        record.fields.insert(u"payloadText"_s, item.payload.textValue());
    else if (item.payload.isImagePNG())
        record.fields.insert(u"payloadImagePNG"_s, item.payload.imagePNGValue());
    return record;
}

QByteArray pngBytes()
{
    QByteArray bytes("\x89PNG\r\n\x1a\n\x00\x00\x00\x0dIHDR", 16);
    bytes += QByteArray("\x00\x00\x00\x01\x00\x00\x00\x01\x08\x06\x00\x00\x00\x1f\x15\xc4\x89", 17);
    return bytes;
}

} // namespace

class SyncPeerTest : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_home;
    QProcess m_program;
    QList<ClipboardItem> m_local;
    QList<ClipboardItem> m_peerItems; // every sound record the peers wrote

    QString historyPath() const { return m_home.filePath(u".local/share/Quillomare/clips.json"_s); }
    QString recordsRoot() const { return m_home.filePath(u".local/share/Quillomare/CloudRecords"_s); }
    QString folder() const { return recordsRoot() + u"/"_s + ClipDefaults::cloudContainerIdentifier; }

    // The history as the program last wrote it, read as a bystander.
    QList<ClipboardItem> history() const { return historyAt(historyPath()); }

    static qsizetype indexOfText(const QList<ClipboardItem>& items, const QString& text)
    {
        const QString hash = ClipHashing::textContentHash(text);
        for (qsizetype i = 0; i < items.size(); ++i) {
            if (items[i].contentHash == hash)
                return i;
        }
        return -1;
    }

    bool hasRecordOf(const QString& text) const
    {
        return QFileInfo::exists(
            folder() + u"/"_s +
            Platform::CloudDatabase::fileName(CloudRecordNaming::itemRecordName(ClipHashing::textContentHash(text))));
    }

    // Copies in another program until the copy is in the history and a sync pass after it has
    // pushed it to the folder: the passes that capture starts are what this test watches.
    bool copyAndSync(const QString& text)
    {
        for (int attempt = 0; attempt < 20; ++attempt) {
            if (xclipCopy(text.toUtf8()) &&
                waitFor([&] { return indexOfText(history(), text) >= 0 && hasRecordOf(text); }, 1500))
                return true;
        }
        return false;
    }

    bool start() { return startBuiltProgram(m_program, m_home.path(), QProcess::SeparateChannels); }

    qint64 programPeakKiB() const
    {
        QFile status(u"/proc/%1/status"_s.arg(m_program.processId()));
        if (!status.open(QIODevice::ReadOnly))
            return -1;
        for (const QByteArray& line : status.readAll().split('\n')) {
            if (line.startsWith("VmHWM:"))
                return line.mid(6).trimmed().split(' ').first().toLongLong();
        }
        return -1;
    }

private Q_SLOTS:
    void initTestCase()
    {
        QVERIFY(m_home.isValid());
        const QDateTime now = QDateTime::currentDateTimeUtc();
        {
            ClipSettings settings;
            settings.cloudSyncEnabled = true;
            settings.syncRichContentToICloud = true;
            settings.maxHistoryCount = 1000;
            ClipboardStore store(historyPath(), settings);
            for (int i = 0; i < 20; ++i)
                m_local.append(textItem(u"local %1"_s.arg(i), now.addSecs(-3600 + i)));
            m_local.append(textItem(u"phoenix"_s, now.addSecs(-7200)));
            for (const ClipboardItem& item : std::as_const(m_local))
                store.add(item);
            store.waitForPendingSaves();
        }
        // A peer whose clock runs ahead: its entries claim 2027, some 9999, and so do its writes.
        QList<ClipboardItem> ahead;
        for (int i = 0; i < 170; ++i)
            ahead.append(textItem(u"fast clock %1"_s.arg(i), fastClock.addSecs(i)));
        for (int i = 0; i < 30; ++i)
            ahead.append(textItem(u"from 9999 %1"_s.arg(i), farFuture.addSecs(-i)));
        {
            ClockOverride clock(fastClock);
            CloudKitSyncService peer(std::nullopt, true, recordsRoot());
            QCOMPARE(peer.push(ahead.mid(0, 170)), CloudSyncState::idle());
            clock.set(farFuture);
            QCOMPARE(peer.push(ahead.mid(170)), CloudSyncState::idle());
        }
        m_peerItems = ahead;
        QVERIFY(start());
    }

    void testEverySoundRecordIsMergedAndNothingLocalIsLost()
    {
        // The pass at start-up takes in the fast peer's records, dated no later than their arrival.
        QVERIFY(waitFor([&] { return history().size() == m_local.size() + m_peerItems.size(); }, 30000));
        // The same pass then pushes this machine's entries. A record planted under one of their
        // names before that push would be overwritten by it unseen, so plant only after it.
        QVERIFY(waitFor(
            [&] {
                return std::all_of(m_local.cbegin(), m_local.cend(),
                                   [&](const ClipboardItem& item) { return hasRecordOf(item.payload.textValue()); });
            },
            30000));

        // Then an honest machine writes, and somebody plants a deletion dated 9999, forged
        // records and a 2 GB record file.
        const QDateTime now = QDateTime::currentDateTimeUtc();
        QList<ClipboardItem> honest;
        for (int i = 0; i < 38; ++i)
            honest.append(textItem(u"honest %1"_s.arg(i), now.addSecs(-60 + i)));
        CloudKitSyncService other(std::nullopt, true, recordsRoot());
        QCOMPARE(other.push(honest), CloudSyncState::idle());
        m_peerItems += honest;
        {
            ClockOverride clock(farFuture);
            QCOMPARE(other.pushDeletionTombstones({{ClipHashing::textContentHash(u"phoenix"_s), farFuture}}),
                     CloudSyncState::idle());
        }

        QList<Platform::CloudRecord> forged;
        ClipboardItem injected = textItem(u"INJECTED by a peer"_s, now);
        injected.contentHash = m_local[5].contentHash;
        forged.append(itemRecord(injected));
        ClipboardItem pngAsText = textItem(u"png as text"_s, now);
        pngAsText.payload = ClipboardPayload::imagePNG(pngBytes());
        pngAsText.contentHash = ClipHashing::imageContentHash(pngBytes());
        forged.append(itemRecord(pngAsText));
        ClipboardItem sameId = textItem(u"under a local entry's id"_s, now);
        sameId.id = m_local[6].id;
        forged.append(itemRecord(sameId));
        const QByteArray notPNG("\x89PNG, or so it says", 19);
        forged.append(itemRecord(imageItem(notPNG, now)));
        Platform::CloudDatabase(ClipDefaults::cloudContainerIdentifier, recordsRoot()).save(forged);

        QFile huge(folder() + u"/"_s + Platform::CloudDatabase::fileName(CloudRecordNaming::itemRecordName(u"huge"_s)));
        QVERIFY(huge.open(QIODevice::WriteOnly));
        huge.write("{\"fields\":{");
        QVERIFY(huge.resize(qint64(2) * 1024 * 1024 * 1024)); // sparse: nothing is written
        huge.close();

        // A copy starts a pass; the honest records arrive with it, and the planted deletion
        // takes the phoenix that was there before it.
        QVERIFY(copyAndSync(u"first copy after the peers wrote"_s));
        QVERIFY(waitFor(
            [&] {
                const auto items = history();
                return std::all_of(honest.cbegin(), honest.cend(),
                                   [&](const ClipboardItem& item) { return items.contains(item); }) &&
                       indexOfText(items, u"phoenix"_s) < 0;
            },
            20000));

        // Copied again after the deletion arrived, the phoenix stays, pass after pass.
        QVERIFY(copyAndSync(u"phoenix"_s));
        for (int i = 0; i < 3; ++i) {
            QVERIFY(copyAndSync(u"copy %1 after the phoenix"_s.arg(i)));
            QVERIFY2(indexOfText(history(), u"phoenix"_s) >= 0, "the phoenix was deleted again");
        }

        const QList<ClipboardItem> items = history();
        const QDateTime latest = QDateTime::currentDateTimeUtc().addSecs(1);
        for (const ClipboardItem& item : items)
            QVERIFY2(item.createdAt <= latest, qPrintable(item.preview));

        // Every local entry, unchanged, under its own id and nothing else's.
        for (const ClipboardItem& local : std::as_const(m_local)) {
            if (local.preview == u"phoenix"_s)
                continue;
            const qsizetype at = indexOfText(items, local.payload.textValue());
            QVERIFY2(at >= 0, qPrintable(local.preview));
            QCOMPARE(items[at].payload.textValue(), local.payload.textValue());
            QCOMPARE(items[at].id, local.id);
        }
        QSet<QUuid> ids;
        for (const ClipboardItem& item : items)
            ids.insert(item.id);
        QCOMPARE(ids.size(), items.size());

        // Every sound record; none of the forged ones.
        for (const ClipboardItem& peer : std::as_const(m_peerItems))
            QVERIFY2(indexOfText(items, peer.payload.textValue()) >= 0, qPrintable(peer.preview));
        for (const QString& text : {u"INJECTED by a peer"_s, u"under a local entry's id"_s})
            QCOMPARE(indexOfText(items, text), -1);
        QVERIFY(std::none_of(items.cbegin(), items.cend(),
                             [](const ClipboardItem& item) { return item.payload.isImagePNG(); }));

        // The new copies sort above everything the peers claimed to be newer.
        qsizetype newestPeer = items.size();
        for (const ClipboardItem& peer : std::as_const(m_peerItems))
            newestPeer = std::min(newestPeer, indexOfText(items, peer.payload.textValue()));
        for (const QString& copy : {u"phoenix"_s, u"copy 0 after the phoenix"_s, u"copy 2 after the phoenix"_s})
            QVERIFY2(indexOfText(items, copy) < newestPeer, qPrintable(copy));
        QCOMPARE(items.size(), m_local.size() + m_peerItems.size() + 4);

        // The 2 GB file was never read, and the refusals were counted.
        const qint64 peak = programPeakKiB();
        QVERIFY2(peak > 0 && peak < 512 * 1024, qPrintable(QString::number(peak)));
        const QString errors = QString::fromUtf8(m_program.readAllStandardError());
        qsizetype rejected = 0;
        const QRegularExpression count(u"rejected (\\d+) record"_s);
        for (auto it = count.globalMatch(errors); it.hasNext();)
            rejected += it.next().captured(1).toLongLong();
        QVERIFY2(rejected == 5, qPrintable(errors));
    }

    void cleanupTestCase()
    {
        if (m_program.state() != QProcess::NotRunning) {
            m_program.kill();
            m_program.waitForFinished(5000);
        }
    }
};

QUILLOMARE_GUI_TEST_MAIN(SyncPeerTest)
#include "tst_syncpeer_x11.moc"
