// Images that stay in the history file: loaded without being decoded, read on demand from the
// file version they were found in, copied as they stand by every later save, and never lost when
// their place in the file turns out damaged.

#include <QuillomareCore/ClipboardStore.h>
#include <QuillomareCore/Files.h>
#include <QuillomareCore/Foundation.h>
#include <QuillomareCore/Hashing.h>
#include <QuillomareCore/Json.h>
#include <QuillomareCore/Language.h>
#include <QuillomareCore/MonotonicClock.h>
#include <QuillomareCore/Notice.h>
#include <QuillomareCore/StoredImage.h>

#include "TestSupport.h"

#include <QRandomGenerator>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <QTest>

#include <cerrno>
#include <fcntl.h>
#include <atomic>
#include <future>
#include <thread>
#include <sys/stat.h>
#include <unistd.h>

using namespace QuillomareCore;
using namespace QuillomareTest;

namespace {

QByteArray randomImage(qsizetype size, quint32 seed)
{
    QByteArray bytes(size, Qt::Uninitialized);
    QRandomGenerator random(seed);
    for (char& byte : bytes)
        byte = static_cast<char>(random.bounded(256));
    return bytes;
}

// Bytes that begin as a PNG of the given size; the same length for every size.
QByteArray pngOfSize(quint32 width, quint32 height, quint32 seed)
{
    QByteArray bytes("\x89PNG\r\n\x1a\n\0\0\0\x0dIHDR", 16);
    for (quint32 value : {width, height})
        for (int shift : {24, 16, 8, 0})
            bytes.append(char((value >> shift) & 0xff));
    return bytes + randomImage(40'000, seed);
}

QByteArray imageEntryJson(const QString& id, const QString& createdAt, const QByteArray& base64Text)
{
    return QStringLiteral(R"({"id":"%1","createdAt":"%2","kind":"image","preview":"Image","contentHash":"h-%1",)"
                          R"("sourcePlatform":"mac","isSensitive":false,"isLocalOnly":false,"isPinned":false,)"
                          R"("payload":{"imagePNG":{"_0":"%3"}}})")
        .arg(id, createdAt, QString::fromLatin1(base64Text))
        .toUtf8();
}

QByteArray historyJson(const QList<QByteArray>& entries)
{
    QByteArray joined;
    for (const QByteArray& entry : entries)
        joined += (joined.isEmpty() ? "" : ",") + entry;
    return "{\"items\":[" + joined + "]}";
}

const QString kIdA = QStringLiteral("11111111-1111-1111-1111-111111111111");
const QString kIdB = QStringLiteral("22222222-2222-2222-2222-222222222222");

// Overwrites bytes of the file in place (the same file, not a replacement).
void overwriteInPlace(const QString& path, qint64 offset, const QByteArray& bytes)
{
    const int descriptor = ::open(QFile::encodeName(path).constData(), O_WRONLY);
    QVERIFY(descriptor >= 0);
    QCOMPARE(::pwrite(descriptor, bytes.constData(), bytes.size(), offset), ssize_t(bytes.size()));
    ::close(descriptor);
}

// How many versions of the history file this process holds open, deleted ones included.
int openVersions(const QString& path)
{
    int count = 0;
    const QDir descriptors(QStringLiteral("/proc/self/fd"));
    for (const QString& name : descriptors.entryList(QDir::System | QDir::Files | QDir::NoDotAndDotDot)) {
        const QString target = QFile::symLinkTarget(descriptors.filePath(name));
        if (target == path || target == path + QStringLiteral(" (deleted)"))
            ++count;
    }
    return count;
}

// Writes the whole file anew in place, as `cp -p backup clips.json` does: the same file (the
// store's open version sees it), truncated and written, dated as the copy was.
void rewriteInPlace(const QString& path, const QByteArray& bytes, bool keepDate = true)
{
    const int descriptor = ::open(QFile::encodeName(path).constData(), O_WRONLY | O_TRUNC);
    QVERIFY(descriptor >= 0);
    QCOMPARE(::write(descriptor, bytes.constData(), bytes.size()), ssize_t(bytes.size()));
    ::close(descriptor);
    if (!keepDate)
        return;
    const timespec longAgo[2] = {{1'600'000'000, 0}, {1'600'000'000, 0}};
    QCOMPARE(::utimensat(AT_FDCWD, QFile::encodeName(path).constData(), longAgo, 0), 0);
}

// `file` with each pair of equally long texts traded: whole entries change places without the
// file changing its size.
QByteArray traded(QByteArray file, const QList<std::pair<QByteArray, QByteArray>>& pairs)
{
    for (const auto& [a, b] : pairs) {
        if (a.size() != b.size() || file.count(a) != 1 || file.count(b) != 1)
            return {};
        file.replace(a, "\x01").replace(b, a).replace("\x01", b);
    }
    return file;
}

// The image entries of a history, each read back (and so checked against its identity).
QList<QByteArray> imagesIn(const ClipboardStore& store, bool* whole)
{
    QList<QByteArray> images;
    *whole = true;
    for (const ClipboardItem& item : store.items()) {
        if (!item.payload.isImagePNG())
            continue;
        const auto bytes = item.payload.loadImagePNG();
        if (!bytes || ClipHashing::imageContentHash(*bytes) != item.contentHash)
            *whole = false;
        else
            images.append(*bytes);
    }
    return images;
}

} // namespace

class StoredImagesTest : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<QTemporaryDir> m_dir;
    QString path() const { return m_dir->filePath(QStringLiteral("clips.json")); }

    // Writes a history of one image entry (kIdA) holding `base64Text`; returns the file's bytes.
    QByteArray writeImageHistory(const QByteArray& base64Text) const
    {
        const QByteArray history =
            historyJson({imageEntryJson(kIdA, QStringLiteral("2024-01-02T00:00:00.000Z"), base64Text)});
        writeFile(path(), history);
        return history;
    }

    // Time for the store's waits and retries moves only when the test moves it.
    std::shared_ptr<ManualMonotonicClock> useManualClock()
    {
        auto clock = std::make_shared<ManualMonotonicClock>(1'000'000);
        MonotonicClock::setSharedForTesting(clock);
        return clock;
    }

    QStringList corruptBackups() const
    {
        return QDir(m_dir->path()).entryList({QStringLiteral("clips.corrupt-*.json")}, QDir::Files);
    }

    // A history of `count` images of one size (and a note), saved; the images, oldest first.
    QList<QByteArray> saveImages(ClipboardStore& store, int count, quint32 seed)
    {
        QList<QByteArray> images;
        for (int i = 0; i < count; ++i) {
            images.append(pngOfSize(500 + i, 300 + i, seed + i));
            store.add(imageItem(images.last(), at(i)));
        }
        store.add(textItem(QStringLiteral("a note"), at(count)));
        store.waitForPendingSaves();
        [&] { QVERIFY(!store.lastSaveError()); }();
        return images;
    }

private Q_SLOTS:
    void init() { m_dir = std::make_unique<QTemporaryDir>(); }
    void cleanup()
    {
        Files::failWritesForTesting(0);
        HistoryFileVersion::failReadsForTesting = 0;
        MonotonicClock::setSharedForTesting(nullptr);
    }

    void testTextCheckAgreesWithTheDecoder_data()
    {
        QTest::addColumn<QByteArray>("text");
        QTest::newRow("empty") << QByteArray();
        QTest::newRow("one group") << QByteArray("QUJD");
        QTest::newRow("two paddings") << QByteArray("QQ==");
        QTest::newRow("one padding") << QByteArray("QUI=");
        QTest::newRow("padding alone") << QByteArray("====");
        QTest::newRow("padding in the middle") << QByteArray("QQ==QUJD");
        QTest::newRow("three paddings") << QByteArray("Q===");
        QTest::newRow("short") << QByteArray("QUJ");
        QTest::newRow("blank") << QByteArray("QU JD");
        QTest::newRow("line break") << QByteArray("QUJD\nQUJD");
        QTest::newRow("url-safe letters") << QByteArray("QU-_");
        QTest::newRow("high byte") << QByteArray("QUJ\xC3");
        QTest::newRow("all letters") << QByteArray("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/");
        // Long enough for the wide path, with the fault at each kind of place.
        const QByteArray longText = Base64::encode(randomImage(300, 7));
        QTest::newRow("long") << longText;
        for (qsizetype at :
             {qsizetype(0), qsizetype(15), qsizetype(16), qsizetype(63), qsizetype(64), qsizetype(200)}) {
            for (char bad : {'-', '\0', '\x80', '=', '@', '[', '`', '{', ':'}) {
                QByteArray broken = longText;
                broken[at] = bad;
                QTest::addRow("long, 0x%02x at %lld", static_cast<unsigned char>(bad), static_cast<long long>(at))
                    << broken;
            }
        }
    }

    void testTextCheckAgreesWithTheDecoder()
    {
        QFETCH(QByteArray, text);
        const std::string_view view(text.constData(), static_cast<size_t>(text.size()));
        const auto decoded = Base64::decode(view);
        QCOMPARE(Base64Text::isValid(view), decoded.has_value());
        if (decoded)
            QCOMPARE(Base64Text::decodedSize(view), decoded->size());
        // The load takes the parser's word for it, found while the string was scanned.
        const QByteArray json = "[\"" + text + "\"]";
        std::optional<Json::Document> document;
        try {
            document = Json::Document::parse(json);
        } catch (const DecodingError&) {
            QVERIFY(!decoded); // not a JSON string, and no base64 either
            return;
        }
        bool holds = false;
        document->root().forEachElement([&](const Json::Value& value) { holds = value.holdsBase64Text(); });
        QCOMPARE(holds, decoded.has_value());
    }

    void testLoadedImagesStayInTheFileAndReadBackWhole()
    {
        const QByteArray first = randomImage(70'001, 1), second = randomImage(2, 2);
        writeFile(
            path(),
            historyJson({imageEntryJson(kIdA, QStringLiteral("2024-01-02T00:00:00.000Z"), Base64::encode(first)),
                         imageEntryJson(kIdB, QStringLiteral("2024-01-01T00:00:00.000Z"), Base64::encode(second))}));
        ClipboardStore store(path());
        QVERIFY(!store.lastLoadFailure());
        QCOMPARE(store.items().size(), 2);
        const ClipboardPayload& payload = store.items().first().payload;
        QVERIFY(payload.storedImageText());
        QCOMPARE(payload.imagePNGByteCount(), first.size());
        QCOMPARE(payload.imagePNGHead(16), first.left(16));
        QCOMPARE(payload.imagePNGValue(), first);
        QCOMPARE(store.items().last().payload.imagePNGValue(), second);
        QCOMPARE(store.items().last().payload.imagePNGHead(16), second);
        // Equal to the same image held in memory, and not to another.
        QVERIFY(payload == ClipboardPayload::imagePNG(first));
        QVERIFY(!(payload == ClipboardPayload::imagePNG(second)));
    }

    void testEncodedFormIsReusedByteForByte()
    {
        // "QR==" and "QQ==" both decode to "A": only a copy of the text keeps the first.
        const QByteArray odd = Base64::encode(randomImage(3000, 3)) + "QR==";
        writeFile(path(), historyJson({imageEntryJson(kIdA, QStringLiteral("2024-01-02T00:00:00.000Z"), odd)}));
        {
            ClipboardStore store(path());
            QCOMPARE(store.items().size(), 1);
            store.add(textItem(QStringLiteral("a new copy"), at(10)));
            store.waitForPendingSaves();
            QVERIFY(!store.lastSaveError());
        }
        const QByteArray saved = readFile(path());
        QVERIFY2(saved.contains("\"" + odd + "\""), "the image's text was encoded again");
        // And a new capture is encoded at its first save, then copied as written.
        const QByteArray fresh = randomImage(5000, 4);
        {
            ClipboardStore store(path());
            store.add(imageItem(fresh, at(20)));
            store.waitForPendingSaves();
            QVERIFY(store.items().first().payload.storedImageText());
            store.add(textItem(QStringLiteral("another"), at(30)));
            store.waitForPendingSaves();
            QCOMPARE(store.items().at(1).payload.imagePNGValue(), fresh);
        }
        QVERIFY(readFile(path()).contains("\"" + Base64::encode(fresh) + "\""));
        QVERIFY(readFile(path()).contains("\"" + odd + "\""));
    }

    // Whoever waits for the save (the capture's echo, the island's list) already gets entries
    // that read their image from the file, not a copy of the bytes.
    void testWaitersOfTheFirstSaveSeeTheImageInTheFile()
    {
        ClipboardStore store(path());
        const QByteArray captured = randomImage(20'000, 9);
        store.add(imageItem(captured, at(1)));
        bool answered = false;
        store.whenSaved([&](const std::optional<QString>& error) {
            QVERIFY(!error);
            QVERIFY(store.items().first().payload.storedImageText());
            answered = true;
        });
        store.waitForPendingSaves();
        QVERIFY(answered);
        QCOMPARE(store.items().first().payload.imagePNGValue(), captured);
    }

    void testAfterASaveImagesAreReadFromTheFileTheyWereFoundIn()
    {
        const QByteArray loaded = randomImage(40'000, 5);
        const QByteArray captured = randomImage(30'000, 6);
        writeFile(path(), historyJson({imageEntryJson(kIdA, QStringLiteral("2024-01-02T00:00:00.000Z"),
                                                      Base64::encode(loaded))}));
        ClipboardStore store(path());
        const ClipboardItem before = store.items().first(); // read from the loaded version
        store.add(imageItem(captured, at(10)));
        store.waitForPendingSaves();
        QVERIFY(!store.lastSaveError());
        // The capture is no longer held: it is read from the file just written.
        const auto freshText = store.items().first().payload.storedImageText();
        QVERIFY(freshText);
        // Every copy of the loaded entry, `before` included, reads from the new version now: the
        // loaded one is let go as soon as the save is in place.
        QCOMPARE(before.payload.storedImageText()->place().file, freshText->place().file);

        // Another program replaces the file: what was indexed is still read from its own version.
        writeFile(path() + QStringLiteral(".other"), QByteArray(200'000, 'x'));
        QVERIFY(::rename(QFile::encodeName(path() + QStringLiteral(".other")).constData(),
                         QFile::encodeName(path()).constData()) == 0);
        QCOMPARE(before.payload.imagePNGValue(), loaded);
        QCOMPARE(store.items().first().payload.imagePNGValue(), captured);
        QCOMPARE(store.items().last().payload.imagePNGValue(), loaded);

        // The next save writes both whole again.
        store.add(textItem(QStringLiteral("text"), at(20)));
        store.waitForPendingSaves();
        QVERIFY(!store.lastSaveError());
        ClipboardStore reread(path());
        QVERIFY(!reread.lastLoadFailure());
        QCOMPARE(reread.items().size(), 3);
        QCOMPARE(reread.items().at(1).payload.imagePNGValue(), captured);
        QCOMPARE(reread.items().at(2).payload.imagePNGValue(), loaded);
    }

    // A copy of an entry kept elsewhere (a row of the island's list) must not keep the version
    // it was loaded from: a running program would need twice the history on disk, a save three
    // times.
    void testOnlyTheNewestVersionStaysOpen()
    {
        const QByteArray image = randomImage(40'000, 14);
        writeImageHistory(Base64::encode(image));
        ClipboardStore store(path());
        const ClipboardItem row = store.items().first();
        QCOMPARE(openVersions(path()), 1);
        for (int i = 0; i < 3; ++i) {
            store.add(textItem(QStringLiteral("copy %1").arg(i), at(10 + i)));
            store.waitForPendingSaves();
            QVERIFY(!store.lastSaveError());
        }
        QTRY_COMPARE(openVersions(path()), 1);
        QCOMPARE(row.payload.imagePNGValue(), image);
    }

    void testAnImageShownBeforeASaveIsTheSameEntryAfterItWithoutBeingRead()
    {
        const QByteArray image = randomImage(40'000, 11);
        const QByteArray text = Base64::encode(image);
        const QByteArray history = writeImageHistory(text);
        const QString other = path() + QStringLiteral(".other.json");
        writeFile(other, history);
        // The same entry read from two files: two stored images that only their hash ties.
        ClipboardStore store(path()), otherStore(other);
        const ClipboardItem shown = store.items().first();
        const ClipboardItem saved = otherStore.items().first();

        // Spoil the letters in one file past what is known of the image without reading it: a
        // comparison that read the image would now find it unreadable, and differ.
        const qint64 textOffset = readFile(other).indexOf(text);
        QVERIFY(textOffset > 0);
        overwriteInPlace(other, textOffset + 1000, "!!!!");
        QVERIFY(!saved.payload.loadImagePNG());
        QVERIFY(saved == shown);

        // Without a content hash only the bytes can tell.
        ClipboardItem unnamedShown = shown, unnamedSaved = saved;
        unnamedShown.contentHash.clear();
        unnamedSaved.contentHash.clear();
        QVERIFY(!(unnamedSaved == unnamedShown));
    }

    void testDamagedRegionGivesAClearErrorAndCostsOnlyThatImage_data()
    {
        QTest::addColumn<bool>("truncate");
        QTest::newRow("the file cut short") << true;
        QTest::newRow("letters overwritten") << false;
    }

    // The file changed in place behind the store's back: the damaged image cannot be read, but
    // the saves go on, the copies made meanwhile reach the disk, and the user is told once.
    void testDamagedRegionGivesAClearErrorAndCostsOnlyThatImage()
    {
        QFETCH(bool, truncate);
        const auto clock = useManualClock();
        const QByteArray image = randomImage(60'000, 8);
        const QByteArray text = Base64::encode(image);
        const QByteArray original = writeImageHistory(text);
        ClipboardStore store(path());
        QStringList notices;
        store.onEntriesLost = [&](const QString& notice) { notices.append(notice); };
        QCOMPARE(store.items().size(), 1);
        const qint64 textOffset = original.indexOf(text);

        if (truncate)
            QVERIFY(::truncate(QFile::encodeName(path()).constData(), textOffset + 100) == 0);
        else
            overwriteInPlace(path(), textOffset + 1000, "!!!!");

        QString error;
        QVERIFY(!store.items().first().payload.loadImagePNG(&error));
        QVERIFY2(error.startsWith(QStringLiteral("The image couldn't be read from the history file: ")),
                 qPrintable(error));
        QVERIFY(store.items().first().payload.imagePNGValue().isEmpty());

        store.add(textItem(QStringLiteral("copied meanwhile"), at(10)));
        store.waitForPendingSaves();
        if (truncate) {
            // Cut short, the file may be a copy still under way: the image is waited for, not
            // dropped, until the file has stayed so; it is then set aside before a save writes
            // over it.
            QVERIFY(store.lastSaveError());
            QCOMPARE(store.items().size(), 2);
            QVERIFY(notices.isEmpty());
            QCOMPARE(corruptBackups(), QStringList());
            clock->advance(HistoryFileVersion::unreadableGraceMilliseconds + 1000);
            QTRY_COMPARE_WITH_TIMEOUT(notices.size(), 1, 20'000);
            QTRY_VERIFY_WITH_TIMEOUT(!store.lastSaveError(), 20'000);
            QCOMPARE(corruptBackups().size(), 1);
        }
        QVERIFY2(!store.lastSaveError(), qPrintable(store.lastSaveError().value_or(QString())));
        QCOMPARE(store.items().size(), 1);
        QCOMPARE(notices.size(), 1);
        QVERIFY2(notices.first().startsWith(QStringLiteral("The image couldn't be read from the history file: ")),
                 qPrintable(notices.first()));
        ClipboardStore reread(path());
        QVERIFY(!reread.lastLoadFailure());
        QCOMPARE(reread.items().size(), 1);
        QCOMPARE(reread.items().first().payload.textValue(), QStringLiteral("copied meanwhile"));

        // Told once: the next saves have nothing left to leave out.
        store.add(textItem(QStringLiteral("later"), at(20)));
        store.waitForPendingSaves();
        QCOMPARE(notices.size(), 1);
    }

    // Six screenshots taken within a minute, one of them damaged for good: the notice names it
    // to the second and by its size, and the others and the copies made meanwhile are kept.
    void testDamagedImageIsNamedAndTheRestSaves()
    {
        auto png = [](quint32 width, quint32 height, quint32 seed) {
            QByteArray bytes("\x89PNG\r\n\x1a\n\0\0\0\x0dIHDR", 16);
            for (quint32 value : {width, height})
                for (int shift : {24, 16, 8, 0})
                    bytes.append(char((value >> shift) & 0xff));
            return bytes + randomImage(40'000, seed);
        };
        const QByteArray damaged = png(1920, 1080, 9), kept = png(800, 600, 10);
        const QByteArray text = Base64::encode(damaged);
        const QByteArray original =
            historyJson({imageEntryJson(kIdA, QStringLiteral("2024-01-02T00:00:07.000Z"), text),
                         imageEntryJson(kIdB, QStringLiteral("2024-01-02T00:00:03.000Z"), Base64::encode(kept))});
        writeFile(path(), original);
        ClipboardStore store(path());
        QStringList notices;
        store.onEntriesLost = [&](const QString& notice) { notices.append(notice); };
        QCOMPARE(store.items().size(), 2);
        overwriteInPlace(path(), original.indexOf(text) + 1000, QByteArray(4000, '#'));

        store.add(textItem(QStringLiteral("copied meanwhile"), at(10)));
        store.waitForPendingSaves();
        QVERIFY2(!store.lastSaveError(), qPrintable(store.lastSaveError().value_or(QString())));
        const QString when = QDateTime::fromString(QStringLiteral("2024-01-02T00:00:07.000Z"), Qt::ISODateWithMs)
                                 .toLocalTime()
                                 .toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"));
        QCOMPARE(notices.size(), 1);
        QVERIFY2(notices.first().contains(QStringLiteral("the image copied %1 (1920 × 1080)").arg(when)),
                 qPrintable(notices.first()));
        QVERIFY2(!notices.first().contains(QStringLiteral("800 × 600")), qPrintable(notices.first()));
        QCOMPARE(store.takeLostEntriesNotice(), notices.first());
        QCOMPARE(store.items().size(), 2);

        ClipboardStore reread(path());
        QVERIFY(!reread.lastLoadFailure());
        QCOMPARE(reread.items().size(), 2);
        QCOMPARE(reread.items().first().payload.textValue(), QStringLiteral("copied meanwhile"));
        QCOMPARE(reread.items().last().payload.imagePNGValue(), kept);
    }

    // A read that fails (an I/O error, memory short) finds no damage: the image is not given up,
    // the save fails and keeps the previous file, and a save once the error is gone writes it.
    void testPassingReadErrorKeepsTheImage()
    {
        const QByteArray image = randomImage(50'000, 14);
        const QByteArray text = Base64::encode(image);
        writeFile(path(), historyJson({imageEntryJson(kIdA, QStringLiteral("2024-01-02T00:00:00.000Z"), text)}));
        ClipboardStore store(path());
        bool told = false;
        store.onEntriesLost = [&](const QString&) { told = true; };
        const auto stored = store.items().first().payload.storedImageText();
        QVERIFY(stored);

        for (const int error : {EIO, ENOMEM}) {
            HistoryFileVersion::failReadsForTesting = error;
            QString reason;
            QVERIFY(!std::async(std::launch::async, [&] { return stored->load(&reason); }).get());
            QVERIFY2(reason.startsWith(QStringLiteral("The image couldn't be read from the history file")),
                     qPrintable(reason));
            QVERIFY(!stored->isDamaged());

            store.add(textItem(QStringLiteral("copied during error %1").arg(error), at(10 + error)));
            store.waitForPendingSaves();
            QVERIFY(store.lastSaveError());
            QVERIFY(!stored->isDamaged());
            QVERIFY(!told);
            QVERIFY(readFile(path()).contains(text));
            QVERIFY(!readFile(path()).contains("copied during error"));
        }
        QCOMPARE(store.items().size(), 3);

        HistoryFileVersion::failReadsForTesting = 0;
        store.add(textItem(QStringLiteral("copied after"), at(100)));
        store.waitForPendingSaves();
        QVERIFY2(!store.lastSaveError(), qPrintable(store.lastSaveError().value_or(QString())));
        QVERIFY(!told);
        ClipboardStore reread(path());
        QCOMPARE(reread.items().size(), 4);
        QCOMPARE(reread.items().last().payload.imagePNGValue(), image);
        QCOMPARE(store.items().last().payload.imagePNGValue(), image);
    }

    // An image read (shown, copied) before the file was damaged is still in memory: the save
    // writes that copy instead of losing it.
    void testImageReadBeforeTheDamageIsSavedFromMemory()
    {
        const QByteArray image = randomImage(50'000, 11);
        const QByteArray text = Base64::encode(image);
        const QByteArray original = writeImageHistory(text);
        ClipboardStore store(path());
        bool told = false;
        store.onEntriesLost = [&](const QString&) { told = true; };
        QCOMPARE(store.items().first().payload.imagePNGValue(), image);
        QVERIFY(::truncate(QFile::encodeName(path()).constData(), original.indexOf(text) + 10) == 0);

        store.add(textItem(QStringLiteral("copied meanwhile"), at(10)));
        store.waitForPendingSaves();
        QVERIFY(!store.lastSaveError());
        QVERIFY(!told);
        // Every copy of the entry reads the image written from memory: the cut version is let go.
        QTRY_COMPARE(openVersions(path()), 1);
        QCOMPARE(store.items().last().payload.imagePNGValue(), image);
        ClipboardStore reread(path());
        QCOMPARE(reread.items().size(), 2);
        QCOMPARE(reread.items().last().payload.imagePNGValue(), image);
    }

    // Other valid letters in an image's place: what is read back is not the image that was
    // copied, so it is refused, and the next save leaves it out instead of keeping it under the
    // old identity.
    void testImageReplacedByOtherValidTextIsRefused()
    {
        const QByteArray image = randomImage(30'000, 12), other = randomImage(30'000, 13);
        const QByteArray text = Base64::encode(image);
        QByteArray entry = imageEntryJson(kIdA, QStringLiteral("2024-01-02T00:00:00.000Z"), text);
        entry.replace("\"h-" + kIdA.toLatin1() + "\"", "\"" + ClipHashing::imageContentHash(image).toLatin1() + "\"");
        const QByteArray original = historyJson({entry});
        writeFile(path(), original);

        {
            ClipboardStore store(path());
            QCOMPARE(store.items().first().payload.imagePNGValue(), image); // checked, and right
        }
        overwriteInPlace(path(), original.indexOf(text), Base64::encode(other));
        {
            // Read on the GUI thread (a copy back): refused as well.
            ClipboardStore store(path());
            const auto stored = store.items().first().payload.storedImageText();
            store.items().first().payload.imagePNGValue();
            QTRY_VERIFY(stored->isDamaged());
            QVERIFY(!store.items().first().payload.loadImagePNG());
        }
        ClipboardStore store(path());
        QVERIFY(!store.lastLoadFailure());
        // Read on a worker (a thumbnail, the preview): refused at once.
        QString error;
        const ClipboardPayload payload = store.items().first().payload;
        QVERIFY(!std::async(std::launch::async, [&] { return payload.loadImagePNG(&error); }).get());
        QVERIFY2(error.contains(QStringLiteral("the file holds a different image in its place")), qPrintable(error));

        QStringList notices;
        store.onEntriesLost = [&](const QString& notice) { notices.append(notice); };
        store.add(textItem(QStringLiteral("copied meanwhile"), at(10)));
        store.waitForPendingSaves();
        QVERIFY(!store.lastSaveError());
        QCOMPARE(notices.size(), 1);
        QVERIFY(!readFile(path()).contains(Base64::encode(other)));
        QVERIFY(readFile(path()).contains("copied meanwhile"));
    }

    // Another image of the same length put in an image's place while the program was not
    // running: no read hands it out, on the GUI thread or on a worker, and the check after the
    // load finds it without anyone looking at the entry. It is left out at once and named, and a
    // save made before the check reached it does not make it the entry's image.
    void testImageReplacedWhileClosedIsFoundWithoutBeingRead()
    {
        const QByteArray image = pngOfSize(640, 480, 21), other = pngOfSize(320, 200, 22);
        {
            ClipboardStore store(path());
            store.add(imageItem(image, at(0)));
            store.add(textItem(QStringLiteral("kept"), at(1)));
            store.waitForPendingSaves();
            QVERIFY(!store.lastSaveError());
            // A capture's bytes are checked as they are written: reading it back hashes nothing.
            const auto stored = store.items().last().payload.storedImageText();
            QVERIFY(stored && stored->isChecked());
        }
        QByteArray file = readFile(path());
        const QByteArray text = Base64::encode(image), otherText = Base64::encode(other);
        QCOMPARE(otherText.size(), text.size());
        QVERIFY(file.contains(text));
        file.replace(text, otherText);
        writeFile(path(), file);
        auto imageEntry = [](const ClipboardStore& store) -> std::optional<ClipboardPayload> {
            for (const ClipboardItem& item : store.items())
                if (item.payload.isImagePNG())
                    return item.payload;
            return std::nullopt;
        };

        {
            ClipboardStore store(path());
            const auto payload = imageEntry(store);
            QVERIFY(payload);
            QString error;
            QCOMPARE(payload->loadImagePNG(&error), std::optional<QByteArray>());
            QVERIFY2(error.contains(QStringLiteral("the file holds a different image in its place")), qPrintable(error));
            QCOMPARE(std::async(std::launch::async, [&] { return payload->loadImagePNG(); }).get(),
                     std::optional<QByteArray>());
            QCOMPARE(payload->imagePNGValue(), QByteArray());
        }

        ClipboardStore store(path());
        QStringList notices;
        store.onEntriesLost = [&](const QString& notice) { notices.append(notice); };
        store.add(textItem(QStringLiteral("copied at once"), at(10)));
        QTRY_COMPARE_WITH_TIMEOUT(notices.size(), 1, 20'000);
        QVERIFY2(notices.first().contains(QStringLiteral("the file holds a different image in its place")),
                 qPrintable(notices.first()));
        // Named by when it was copied, not by the size of the image found in its place.
        QVERIFY2(!notices.first().contains(QStringLiteral("320 × 200")), qPrintable(notices.first()));
        QVERIFY(!imageEntry(store));
        QCOMPARE(store.items().size(), 2);
        store.waitForPendingSaves();
        QVERIFY(!readFile(path()).contains(otherText));
        ClipboardStore reread(path());
        QCOMPARE(reread.items().size(), 2);
        QVERIFY(!imageEntry(reread));
    }

    // The check after a load is kept while the file is not written: a later read need not hash
    // the image again. A write into the file since (another image in place) is noticed.
    void testCheckedImageIsCheckedAgainOnceTheFileIsWrittenInto()
    {
        const QByteArray image = randomImage(30'000, 23), other = randomImage(30'000, 24);
        const QByteArray text = Base64::encode(image);
        QByteArray entry = imageEntryJson(kIdA, QStringLiteral("2024-01-02T00:00:00.000Z"), text);
        entry.replace("\"h-" + kIdA.toLatin1() + "\"", "\"" + ClipHashing::imageContentHash(image).toLatin1() + "\"");
        const QByteArray original = historyJson({entry});
        writeFile(path(), original);
        // Written long ago: the write below cannot share its modification time.
        const timespec longAgo[2] = {{1'600'000'000, 0}, {1'600'000'000, 0}};
        QCOMPARE(::utimensat(AT_FDCWD, QFile::encodeName(path()).constData(), longAgo, 0), 0);

        ClipboardStore store(path());
        const auto stored = store.items().first().payload.storedImageText();
        QVERIFY(stored);
        QTRY_VERIFY_WITH_TIMEOUT(store.hasCheckedLoadedImages(), 20'000);
        QVERIFY(stored->isChecked());
        QVERIFY(!stored->isDamaged());

        overwriteInPlace(path(), original.indexOf(text), Base64::encode(other));
        QVERIFY(!stored->isChecked());
        QString error;
        QCOMPARE(store.items().first().payload.loadImagePNG(&error), std::optional<QByteArray>());
        QVERIFY2(error.contains(QStringLiteral("the file holds a different image in its place")), qPrintable(error));
        QVERIFY(stored->isDamaged());
    }

    void testManyRemovedImagesAreCountedFirstAndEachNamedInTheDetails_data()
    {
        QTest::addColumn<bool>("chinese");
        QTest::newRow("English") << false;
        QTest::newRow("Chinese") << true;
    }

    // An older copy of the history, holding 2 of its 40 images, is put back in place: the notice
    // begins with how many were removed and why, short enough to flash, and its details name
    // each of them, newest first.
    void testManyRemovedImagesAreCountedFirstAndEachNamedInTheDetails()
    {
        QFETCH(bool, chinese);
        Language::setIsChineseForTesting(chinese);
        const auto restore = qScopeGuard([] { Language::resetForTesting(); });
        ClipboardStore store(path());
        QStringList notices;
        store.onEntriesLost = [&](const QString& notice) { notices.append(notice); };
        QByteArray olderCopy;
        for (int i = 0; i < 40; ++i) {
            store.add(imageItem(pngOfSize(1000 + i, 700 + i, 100 + i).first(3000), at(i)));
            if (i == 1) {
                store.waitForPendingSaves();
                olderCopy = readFile(path());
            }
        }
        store.waitForPendingSaves();
        QVERIFY(!store.lastSaveError());
        rewriteInPlace(path(), olderCopy, false);
        store.add(textItem(QStringLiteral("copied after"), at(50)));
        store.waitForPendingSaves();
        QVERIFY2(!store.lastSaveError(), qPrintable(store.lastSaveError().value_or(QString())));
        QCOMPARE(store.items().size(), 3);

        QCOMPARE(notices.size(), 1);
        const QString headline = Notice::headline(notices.first());
        QVERIFY2(headline.startsWith(Language::text(QStringLiteral("38 张图片已从历史中移除："),
                                                    QStringLiteral("38 images were removed from the history: "))),
                 qPrintable(headline));
        QVERIFY2(
            headline.contains(Language::text(QStringLiteral("另一个程序改写了历史文件，其中已没有这张图片"),
                                             QStringLiteral("another program rewrote the history file without it"))),
            qPrintable(headline));
        const QString whole = Notice::whole(notices.first());
        qsizetype previous = whole.size();
        for (int i = 0; i < 40; ++i) {
            const QString size =
                Language::text(QStringLiteral("（%1 × %2）"), QStringLiteral("(%1 × %2)")).arg(1000 + i).arg(700 + i);
            QVERIFY2(!headline.contains(size), qPrintable(headline));
            QCOMPARE(whole.contains(size), i >= 2);
            // Listed as the history lists them: the newest first.
            if (i >= 2) {
                QVERIFY2(whole.indexOf(size) < previous, qPrintable(whole));
                previous = whole.indexOf(size);
            }
        }
    }

    void testFileRewrittenInPlaceKeepsTheImagesItStillHolds_data()
    {
        QTest::addColumn<QString>("rewrite");
        QTest::addColumn<int>("keptImages");
        QTest::newRow("re-indented by an editor") << QStringLiteral("indent") << 6;
        QTest::newRow("two entries traded, size and date kept") << QStringLiteral("trade") << 6;
        QTest::newRow("an older backup copied over it") << QStringLiteral("backup") << 3;
    }

    // Another program writes the history file anew in place (an editor, `cp backup clips.json`,
    // `rsync --inplace`): the same file the store reads its images from, another layout. Each
    // image the file still holds is found where it now is, by a read as by the next save, and
    // checked; those it no longer holds are named once; no entry gets another entry's image.
    void testFileRewrittenInPlaceKeepsTheImagesItStillHolds()
    {
        QFETCH(QString, rewrite);
        QFETCH(int, keptImages);
        ClipboardStore store(path());
        QStringList notices;
        store.onEntriesLost = [&](const QString& notice) { notices.append(notice); };
        QList<QByteArray> images;
        QByteArray backup;
        for (int i = 0; i < 6; ++i) {
            images.append(pngOfSize(600 + i, 400 + i, 30 + i));
            store.add(imageItem(images.last(), at(i)));
            store.waitForPendingSaves();
            if (i == 2)
                backup = readFile(path());
        }
        store.add(textItem(QStringLiteral("a note"), at(10)));
        store.waitForPendingSaves();
        QVERIFY(!store.lastSaveError());

        const QByteArray file = readFile(path());
        QByteArray rewritten = backup;
        if (rewrite == QLatin1String("indent")) {
            rewritten = QByteArray(file).replace("\n", "\n\t");
        } else if (rewrite == QLatin1String("trade")) {
            auto textOf = [&](int i) { return Base64::encode(images[i]); };
            auto named = [&](int i) -> const ClipboardItem& { return store.items().at(store.items().size() - 1 - i); };
            QCOMPARE(named(1).contentHash, ClipHashing::imageContentHash(images[1]));
            rewritten = traded(file, {{textOf(1), textOf(4)},
                                      {named(1).contentHash.toLatin1(), named(4).contentHash.toLatin1()},
                                      {Uuid::text(named(1).id).toLatin1(), Uuid::text(named(4).id).toLatin1()}});
            QCOMPARE(rewritten.size(), file.size());
        }
        QVERIFY(!rewritten.isEmpty());
        rewriteInPlace(path(), rewritten);

        // Read before the next save, on a worker as a thumbnail is: where the image now is.
        const ClipboardPayload second = store.items().at(store.items().size() - 2).payload;
        QCOMPARE(std::async(std::launch::async, [&] { return second.loadImagePNG(); }).get(),
                 std::optional<QByteArray>(images[1]));

        store.add(textItem(QStringLiteral("copied after"), at(20)));
        store.waitForPendingSaves();
        QVERIFY2(!store.lastSaveError(), qPrintable(store.lastSaveError().value_or(QString())));
        QCOMPARE(notices.size(), keptImages < 6 ? 1 : 0);
        for (int i = 0; i < 6; ++i) {
            const QString named = QStringLiteral("(%1 × %2)").arg(600 + i).arg(400 + i);
            QVERIFY2(notices.join(QString()).contains(named) == (i >= keptImages), qPrintable(notices.join(QString())));
        }
        ClipboardStore reread(path());
        QVERIFY(!reread.lastLoadFailure());
        for (const ClipboardStore* history : {&store, &reread}) {
            bool whole = false;
            const QList<QByteArray> found = imagesIn(*history, &whole);
            QVERIFY(whole);
            QCOMPARE(found.size(), keptImages);
            for (int i = 0; i < keptImages; ++i)
                QVERIFY(found.contains(images[i]));
            QCOMPARE(history->items().size(), keptImages + 2);
        }
    }

    // Another program keeps writing the file in place while the saves go on: a save never hands
    // on an image read from a layout that changed under it, and once the file is left alone the
    // next save keeps every image.
    void testFileRewrittenAgainWhileItIsReadAgain()
    {
        ClipboardStore store(path());
        QStringList notices;
        store.onEntriesLost = [&](const QString& notice) { notices.append(notice); };
        QList<QByteArray> images;
        for (int i = 0; i < 4; ++i) {
            images.append(pngOfSize(300 + i, 200 + i, 50 + i));
            store.add(imageItem(images.last(), at(i)));
        }
        store.waitForPendingSaves();
        QVERIFY(!store.lastSaveError());
        const QByteArray file = readFile(path());
        const ClipboardItem &first = store.items().at(3), &second = store.items().at(2);
        // Of two sizes: the date alone may not tell two writes in one tick of the clock apart.
        const QByteArray indented = QByteArray(file).replace("\n", "\n ");
        const QByteArray trade = traded(QByteArray(file).replace("\n", "\n  "), {{Base64::encode(images[0]), Base64::encode(images[1])},
                                               {first.contentHash.toLatin1(), second.contentHash.toLatin1()},
                                               {Uuid::text(first.id).toLatin1(), Uuid::text(second.id).toLatin1()}});
        QVERIFY(!trade.isEmpty());

        std::atomic<bool> stop{false};
        std::thread other([&] {
            for (int n = 0; !stop.load(); ++n) {
                rewriteInPlace(path(), n % 2 ? indented : trade, false);
                std::this_thread::sleep_for(std::chrono::milliseconds(2));
            }
        });
        auto leftAlone = qScopeGuard([&] {
            stop = true;
            other.join();
        });
        for (int i = 0; i < 8; ++i) {
            store.add(textItem(QStringLiteral("note %1").arg(i), at(100 + i)));
            store.waitForPendingSaves();
            // Read meanwhile, on a worker: the oldest image, or nothing while the file is being
            // written, never another image.
            QCOMPARE(store.items().last().contentHash, ClipHashing::imageContentHash(images[0]));
            const ClipboardPayload payload = store.items().last().payload;
            const auto read = std::async(std::launch::async, [&] { return payload.loadImagePNG(); }).get();
            QVERIFY(!read || *read == images[0]);
        }
        leftAlone.dismiss();
        stop = true;
        other.join();

        store.add(textItem(QStringLiteral("left alone"), at(200)));
        store.waitForPendingSaves();
        QVERIFY2(!store.lastSaveError(), qPrintable(store.lastSaveError().value_or(QString())));
        QVERIFY2(notices.isEmpty(), qPrintable(notices.join(QString())));
        ClipboardStore reread(path());
        for (const ClipboardStore* history : {&store, &reread}) {
            bool whole = false;
            QCOMPARE(imagesIn(*history, &whole), QList<QByteArray>({images[3], images[2], images[1], images[0]}));
            QVERIFY(whole);
        }
    }

    // What tells a write into a kept version: one that keeps the size and the modification time,
    // made at once (within one tick of the clock) and dated back, still shows; our own save,
    // renaming a new file over the version, writes nothing into it and must not look like a write.
    void testStampTellsEveryWriteButOurOwnReplacement()
    {
        const QByteArray text = "{\"items\":[]}   ";
        const QString other = path() + QStringLiteral(".other");
        writeFile(path(), text);
        writeFile(other, text);
        const HistoryFileVersion replaced(::open(QFile::encodeName(path()).constData(), O_RDONLY | O_CLOEXEC));
        const HistoryFileVersion written(::open(QFile::encodeName(other).constData(), O_RDONLY | O_CLOEXEC));
        QVERIFY(replaced.descriptor() >= 0 && written.descriptor() >= 0);
        const HistoryFileVersion::Stamp replacedBefore = replaced.stamp(), writtenBefore = written.stamp();

        struct stat dated = {};
        QCOMPARE(::stat(QFile::encodeName(other).constData(), &dated), 0);
        overwriteInPlace(other, 0, "{\"items\":[ ]}  ");
        const timespec back[2] = {dated.st_atim, dated.st_mtim};
        QCOMPARE(::utimensat(AT_FDCWD, QFile::encodeName(other).constData(), back, 0), 0);
        QVERIFY(written.stamp().modified == writtenBefore.modified && written.stamp().size == writtenBefore.size);
        QVERIFY(!(written.stamp() == writtenBefore));

        writeFile(path() + QStringLiteral(".new"), text);
        QCOMPARE(::rename(QFile::encodeName(path() + QStringLiteral(".new")).constData(),
                          QFile::encodeName(path()).constData()),
                 0);
        QVERIFY(replaced.stamp() == replacedBefore);
    }

    // Two images of one size trade places and the file keeps its size and its modification time
    // (`cp -p`, `rsync -t`, `touch -r`, or a write within one tick of the clock): the store must
    // still notice, so that neither a read nor the next save takes one image for the other.
    void testImagesTradedUnderTheSameDateKeepTheirOwnPictures()
    {
        ClipboardStore store(path());
        QStringList notices;
        store.onEntriesLost = [&](const QString& notice) { notices.append(notice); };
        const QList<QByteArray> images = saveImages(store, 3, 80);
        const QByteArray file = readFile(path());
        struct stat before = {};
        QCOMPARE(::stat(QFile::encodeName(path()).constData(), &before), 0);

        auto entryOf = [&](int i) -> const ClipboardItem& { return store.items().at(store.items().size() - 1 - i); };
        const QByteArray swapped =
            traded(file, {{Base64::encode(images[0]), Base64::encode(images[1])},
                          {entryOf(0).contentHash.toLatin1(), entryOf(1).contentHash.toLatin1()},
                          {Uuid::text(entryOf(0).id).toLatin1(), Uuid::text(entryOf(1).id).toLatin1()}});
        QCOMPARE(swapped.size(), file.size());
        rewriteInPlace(path(), swapped, false);
        const timespec dated[2] = {before.st_atim, before.st_mtim};
        QCOMPARE(::utimensat(AT_FDCWD, QFile::encodeName(path()).constData(), dated, 0), 0);
        struct stat after = {};
        QCOMPARE(::stat(QFile::encodeName(path()).constData(), &after), 0);
        QCOMPARE(after.st_mtim.tv_nsec, before.st_mtim.tv_nsec);
        QCOMPARE(after.st_mtim.tv_sec, before.st_mtim.tv_sec);
        QCOMPARE(after.st_size, before.st_size);

        // Read before the next save, as a thumbnail is: its own picture, found where it now lies.
        const ClipboardPayload oldest = entryOf(0).payload;
        QCOMPARE(std::async(std::launch::async, [&] { return oldest.loadImagePNG(); }).get(),
                 std::optional<QByteArray>(images[0]));

        store.add(textItem(QStringLiteral("copied after"), at(20)));
        store.waitForPendingSaves();
        QVERIFY2(!store.lastSaveError(), qPrintable(store.lastSaveError().value_or(QString())));
        QVERIFY2(notices.isEmpty(), qPrintable(notices.join(QString())));
        // Every entry written holds the bytes its identity names, in the file as in memory.
        ClipboardStore reread(path());
        QVERIFY(!reread.lastLoadFailure());
        for (const ClipboardStore* history : {&store, &reread}) {
            bool whole = false;
            QCOMPARE(imagesIn(*history, &whole), QList<QByteArray>({images[2], images[1], images[0]}));
            QVERIFY(whole);
        }
    }

    void testFileWrittenSlowlyInPlaceCostsNoImage_data()
    {
        QTest::addColumn<int>("chunks");
        QTest::newRow("copied in five chunks") << 5;
        QTest::newRow("copied in seven chunks") << 7;
        QTest::newRow("left empty after its truncation") << 0;
    }

    // Another program copies a history over the file in place from slow media: truncated, then
    // written piece by piece with long pauses between. Each time the store looks at the file
    // meanwhile (a copy made, a save), the file does not parse whole and lacks images: the save
    // waits, keeping every entry, and once the file is whole nothing is lost.
    void testFileWrittenSlowlyInPlaceCostsNoImage()
    {
        QFETCH(int, chunks);
        const auto clock = useManualClock();
        ClipboardStore store(path());
        QStringList notices;
        store.onEntriesLost = [&](const QString& notice) { notices.append(notice); };
        const QList<QByteArray> images = saveImages(store, 6, 90);
        // The same history, laid out otherwise: every image lies elsewhere in the new file.
        const QByteArray copied = readFile(path()).replace("\n", "\n\t");

        const int descriptor = ::open(QFile::encodeName(path()).constData(), O_WRONLY | O_TRUNC);
        QVERIFY(descriptor >= 0);
        auto closed = qScopeGuard([descriptor] { ::close(descriptor); });
        // Looked at right after the truncation and after each piece but the last.
        const int looks = std::max(chunks, 1);
        const qsizetype piece = chunks > 0 ? copied.size() / chunks : 0;
        qsizetype written = 0;
        for (int look = 0; look < looks; ++look) {
            // The store looks 400 ms after the last write, by its clock.
            clock->advance(400);
            store.add(textItem(QStringLiteral("copied during pause %1").arg(look), at(100 + look)));
            store.waitForPendingSaves();
            QVERIFY2(store.lastSaveError(), "a save wrote over a history still being copied");
            QVERIFY2(notices.isEmpty(), qPrintable(notices.join(QString())));
            qsizetype imageEntries = 0;
            for (const ClipboardItem& item : store.items())
                imageEntries += item.payload.isImagePNG() ? 1 : 0;
            QCOMPARE(imageEntries, 6);
            const qsizetype size = look == looks - 1 ? copied.size() - written : piece;
            QCOMPARE(::write(descriptor, copied.constData() + written, size_t(size)), ssize_t(size));
            written += size;
        }
        closed.dismiss();
        ::close(descriptor);

        store.add(textItem(QStringLiteral("copied once it is whole"), at(200)));
        store.waitForPendingSaves();
        QVERIFY2(!store.lastSaveError(), qPrintable(store.lastSaveError().value_or(QString())));
        QVERIFY2(notices.isEmpty(), qPrintable(notices.join(QString())));
        QCOMPARE(corruptBackups(), QStringList());
        ClipboardStore reread(path());
        QVERIFY(!reread.lastLoadFailure());
        for (const ClipboardStore* history : {&store, &reread}) {
            bool whole = false;
            QCOMPARE(imagesIn(*history, &whole),
                     QList<QByteArray>({images[5], images[4], images[3], images[2], images[1], images[0]}));
            QVERIFY(whole);
            QCOMPARE(history->items().size(), 6 + 2 + std::max(chunks, 1));
        }
    }

    void testUnreadableFileIsSetAsideBeforeASaveWritesOverIt_data()
    {
        QTest::addColumn<bool>("withImages");
        QTest::newRow("a history of texts") << false;
        QTest::newRow("a history with images") << true;
    }

    // Garbage written over the history file in place while the program runs: the file as it is
    // then is kept as clips.corrupt-<UUID>.json before any save writes over it. Images it held
    // are waited for while it might still be a copy under way; once it has stayed unreadable,
    // they are gone and named, and everything else is saved.
    void testUnreadableFileIsSetAsideBeforeASaveWritesOverIt()
    {
        QFETCH(bool, withImages);
        const auto clock = useManualClock();
        ClipboardStore store(path());
        QStringList notices;
        store.onEntriesLost = [&](const QString& notice) { notices.append(notice); };
        if (withImages)
            saveImages(store, 2, 120);
        store.add(textItem(QStringLiteral("kept text"), at(50)));
        store.waitForPendingSaves();
        QVERIFY(!store.lastSaveError());

        const QByteArray garbage = randomImage(70'000, 121);
        rewriteInPlace(path(), garbage, false);
        store.add(textItem(QStringLiteral("copied after the damage"), at(60)));
        store.waitForPendingSaves();
        if (withImages) {
            // Perhaps the start of a slow copy: nothing is written over it, nothing is dropped.
            QVERIFY(store.lastSaveError());
            QCOMPARE(readFile(path()), garbage);
            QCOMPARE(store.items().size(), 5);
            QVERIFY(notices.isEmpty());
            clock->advance(HistoryFileVersion::unreadableGraceMilliseconds + 1000);
            QTRY_COMPARE_WITH_TIMEOUT(notices.size(), 1, 20'000);
            QTRY_VERIFY_WITH_TIMEOUT(!store.lastSaveError(), 20'000);
            QVERIFY2(notices.first().contains(QStringLiteral("(500 × 300)")) &&
                         notices.first().contains(QStringLiteral("(501 × 301)")),
                     qPrintable(notices.first()));
        }
        QVERIFY2(!store.lastSaveError(), qPrintable(store.lastSaveError().value_or(QString())));
        const QStringList backups = corruptBackups();
        QCOMPARE(backups.size(), 1);
        QCOMPARE(readFile(m_dir->filePath(backups.first())), garbage);
        ClipboardStore reread(path());
        QVERIFY(!reread.lastLoadFailure());
        QStringList texts;
        for (const ClipboardItem& item : reread.items())
            texts.append(item.payload.isText() ? item.payload.textValue() : QStringLiteral("image"));
        QCOMPARE(texts, QStringList({QStringLiteral("copied after the damage"), QStringLiteral("kept text")}) +
                            (withImages ? QStringList{QStringLiteral("a note")} : QStringList()));
    }

    void testLoadKeepsWhatADamagedFileStillHolds_data()
    {
        QTest::addColumn<QString>("damage");
        QTest::addColumn<QStringList>("kept");
        QTest::addColumn<bool>("settingsKept");
        QTest::newRow("cut to 4096 bytes") << QStringLiteral("cut4096") << QStringList{QStringLiteral("newest text")}
                                           << false;
        QTest::newRow("cut inside the older image")
            << QStringLiteral("cutA") << QStringList{QStringLiteral("newest text"), QStringLiteral("B")} << false;
        QTest::newRow("4000 # in the newer image's letters")
            << QStringLiteral("hashB")
            << QStringList{QStringLiteral("newest text"), QStringLiteral("A"), QStringLiteral("oldest text")} << true;
    }

    void testLoadKeepsWhatADamagedFileStillHolds()
    {
        QFETCH(QString, damage);
        QFETCH(QStringList, kept);
        QFETCH(bool, settingsKept);
        const QByteArray imageA = randomImage(30'000, 21), imageB = randomImage(30'000, 22);
        {
            ClipboardStore store(path());
            store.updateSettings([](ClipSettings& settings) { settings.maxHistoryCount = 40; });
            store.add(textItem(QStringLiteral("oldest text"), at(1)));
            store.add(imageItem(imageA, at(2)));
            store.add(imageItem(imageB, at(3)));
            store.add(textItem(QStringLiteral("newest text"), at(4)));
            store.waitForPendingSaves();
            QVERIFY(!store.lastSaveError());
        }
        const QByteArray written = readFile(path());
        QVERIFY(written.size() > 4096);
        const QByteArray::size_type a = written.indexOf(Base64::encode(imageA));
        const QByteArray::size_type b = written.indexOf(Base64::encode(imageB));
        QVERIFY(a > 0 && b > 0 && b < a && b < 4096);
        if (damage == QLatin1String("cut4096"))
            QVERIFY(::truncate(QFile::encodeName(path()).constData(), 4096) == 0);
        else if (damage == QLatin1String("cutA"))
            QVERIFY(::truncate(QFile::encodeName(path()).constData(), a + 20'000) == 0);
        else
            overwriteInPlace(path(), b + 100, QByteArray(4000, '#'));
        const QByteArray damaged = readFile(path());

        auto described = [&](const QList<ClipboardItem>& items) {
            QStringList list;
            for (const ClipboardItem& item : items) {
                if (item.payload.isText())
                    list.append(item.payload.textValue());
                else
                    list.append(item.payload.imagePNGValue() == imageA   ? QStringLiteral("A")
                                : item.payload.imagePNGValue() == imageB ? QStringLiteral("B")
                                                                         : QStringLiteral("?"));
            }
            return list;
        };
        {
            ClipboardStore store(path());
            QVERIFY(store.lastLoadFailure());
            QCOMPARE(store.lastLoadFailure()->reason, QStringLiteral("历史文件格式损坏"));
            QVERIFY(store.lastLoadFailure()->backupURL);
            QCOMPARE(store.lastLoadFailure()->recoveredItemCount, kept.size());
            QCOMPARE(described(store.items()), kept);
            QCOMPARE(store.settings().maxHistoryCount, settingsKept ? 40 : ClipSettings{}.maxHistoryCount);
            // The file as it was is set aside whole.
            QCOMPARE(readFile(*store.lastLoadFailure()->backupURL), damaged);
            store.add(textItem(QStringLiteral("after the damage"), at(10)));
            store.waitForPendingSaves();
            QVERIFY(!store.lastSaveError());
        }
        ClipboardStore reread(path());
        QVERIFY(!reread.lastLoadFailure());
        QCOMPARE(described(reread.items()), QStringList{QStringLiteral("after the damage")} + kept);
    }

    void testImageTextWithEscapesStillLoads()
    {
        // A writer that escapes the slash: the text is not the letters themselves, so the image
        // is decoded at load and kept as any new capture is.
        const QByteArray image = QByteArray::fromHex("fbff");
        const QByteArray text = Base64::encode(image); // "+/8="
        QVERIFY(text.contains('/'));
        QByteArray escaped = text;
        escaped.replace("/", "\\/");
        writeFile(path(), historyJson({imageEntryJson(kIdA, QStringLiteral("2024-01-02T00:00:00.000Z"), escaped)}));
        ClipboardStore store(path());
        QVERIFY(!store.lastLoadFailure());
        QCOMPARE(store.items().first().payload.imagePNGValue(), image);
        store.save();
        store.waitForPendingSaves();
        ClipboardStore reread(path());
        QCOMPARE(reread.items().first().payload.imagePNGValue(), image);
    }
};

QTEST_GUILESS_MAIN(StoredImagesTest)
#include "tst_storedimages.moc"
