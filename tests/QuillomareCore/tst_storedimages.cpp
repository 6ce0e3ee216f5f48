// Images that stay in the history file: loaded without being decoded, read on demand from the
// file version they were found in, copied as they stand by every later save, and never lost when
// their place in the file turns out damaged.

#include <QuillomareCore/ClipboardStore.h>
#include <QuillomareCore/Files.h>
#include <QuillomareCore/Foundation.h>
#include <QuillomareCore/Json.h>
#include <QuillomareCore/StoredImage.h>

#include "TestSupport.h"

#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QTest>

#include <fcntl.h>
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

} // namespace

class StoredImagesTest : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<QTemporaryDir> m_dir;
    QString path() const { return m_dir->filePath(QStringLiteral("clips.json")); }

private Q_SLOTS:
    void init() { m_dir = std::make_unique<QTemporaryDir>(); }
    void cleanup() { Files::failWritesForTesting(0); }

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
        QVERIFY(freshText->file != before.payload.storedImageText()->file);

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

    void testAnImageShownBeforeASaveIsTheSameEntryAfterItWithoutBeingRead()
    {
        const QByteArray image = randomImage(40'000, 11);
        const QByteArray text = Base64::encode(image);
        writeFile(path(), historyJson({imageEntryJson(kIdA, QStringLiteral("2024-01-02T00:00:00.000Z"), text)}));
        ClipboardStore store(path());
        const ClipboardItem shown = store.items().first();
        store.add(textItem(QStringLiteral("a copy"), at(10)));
        store.waitForPendingSaves();
        QVERIFY(!store.lastSaveError());
        const ClipboardItem saved = store.items().last();
        QVERIFY(saved.payload.storedImageText()->file != shown.payload.storedImageText()->file);

        // Spoil the letters in the new version past what is known of the image without reading
        // it: a comparison that read the image would now find it unreadable, and differ.
        const qint64 textOffset = readFile(path()).indexOf(text);
        QVERIFY(textOffset > 0);
        overwriteInPlace(path(), textOffset + 1000, "!!!!");
        QVERIFY(!saved.payload.loadImagePNG());
        QVERIFY(saved == shown);

        // Without a content hash only the bytes can tell.
        ClipboardItem unnamedShown = shown, unnamedSaved = saved;
        unnamedShown.contentHash.clear();
        unnamedSaved.contentHash.clear();
        QVERIFY(!(unnamedSaved == unnamedShown));
    }

    void testDamagedRegionGivesAClearErrorAndLosesNothing_data()
    {
        QTest::addColumn<bool>("truncate");
        QTest::newRow("the file cut short") << true;
        QTest::newRow("letters overwritten") << false;
    }

    void testDamagedRegionGivesAClearErrorAndLosesNothing()
    {
        QFETCH(bool, truncate);
        const QByteArray image = randomImage(60'000, 8);
        const QByteArray text = Base64::encode(image);
        const QByteArray original =
            historyJson({imageEntryJson(kIdA, QStringLiteral("2024-01-02T00:00:00.000Z"), text)});
        writeFile(path(), original);
        ClipboardStore store(path());
        QCOMPARE(store.items().size(), 1);
        const qint64 textOffset = original.indexOf(text);

        // The same file, changed behind the store's back.
        if (truncate)
            QVERIFY(::truncate(QFile::encodeName(path()).constData(), textOffset + 100) == 0);
        else
            overwriteInPlace(path(), textOffset + 1000, "!!!!");

        QString error;
        QVERIFY(!store.items().first().payload.loadImagePNG(&error));
        QVERIFY2(error.startsWith(QStringLiteral("The image couldn't be read from the history file: ")),
                 qPrintable(error));
        QVERIFY(store.items().first().payload.imagePNGValue().isEmpty());

        // A save cannot copy it: it fails and says why, and the entry stays.
        const QByteArray onDisk = readFile(path());
        store.add(textItem(QStringLiteral("copied meanwhile"), at(10)));
        store.waitForPendingSaves();
        QVERIFY(store.lastSaveError());
        QVERIFY2(store.lastSaveError()->contains(QStringLiteral("The image couldn't be read from the history file")),
                 qPrintable(*store.lastSaveError()));
        QCOMPARE(readFile(path()), onDisk);
        QCOMPARE(store.items().size(), 2);

        // Once the file holds the image again, nothing was lost.
        const int descriptor = ::open(QFile::encodeName(path()).constData(), O_WRONLY);
        QVERIFY(descriptor >= 0);
        QCOMPARE(::pwrite(descriptor, original.constData(), original.size(), 0), ssize_t(original.size()));
        ::close(descriptor);
        QCOMPARE(store.items().last().payload.imagePNGValue(), image);
        store.add(textItem(QStringLiteral("later"), at(20)));
        store.waitForPendingSaves();
        QVERIFY(!store.lastSaveError());
        ClipboardStore reread(path());
        QCOMPARE(reread.items().size(), 3);
        QCOMPARE(reread.items().last().payload.imagePNGValue(), image);
    }

    // An image damaged for good: the failure names the entry, and deleting it lets the history,
    // copies made meanwhile included, reach the disk again.
    void testDeletingTheDamagedEntryLetsTheHistorySaveAgain()
    {
        const QByteArray image = randomImage(60'000, 9);
        const QByteArray text = Base64::encode(image);
        const QByteArray original =
            historyJson({imageEntryJson(kIdA, QStringLiteral("2024-01-02T00:00:00.000Z"), text),
                         imageEntryJson(kIdB, QStringLiteral("2024-01-01T00:00:00.000Z"), Base64::encode(randomImage(50'000, 10)))});
        writeFile(path(), original);
        ClipboardStore store(path());
        QCOMPARE(store.items().size(), 2);
        overwriteInPlace(path(), original.indexOf(text) + 1000, "#%#%");

        store.add(textItem(QStringLiteral("copied meanwhile"), at(10)));
        store.waitForPendingSaves();
        QVERIFY(store.lastSaveError());
        const QString when = QDateTime::fromString(QStringLiteral("2024-01-02T00:00:00.000Z"), Qt::ISODateWithMs)
                                 .toLocalTime()
                                 .toString(QStringLiteral("yyyy-MM-dd HH:mm"));
        QVERIFY2(store.lastSaveError()->contains(QStringLiteral("the image copied %1; delete that entry").arg(when)),
                 qPrintable(*store.lastSaveError()));

        store.remove(QUuid(kIdA));
        store.waitForPendingSaves();
        QVERIFY2(!store.lastSaveError(), qPrintable(store.lastSaveError().value_or(QString())));
        ClipboardStore reread(path());
        QVERIFY(!reread.lastLoadFailure());
        QCOMPARE(reread.items().size(), 2);
        QCOMPARE(reread.items().first().payload.textValue(), QStringLiteral("copied meanwhile"));
        QCOMPARE(reread.items().last().payload.imagePNGValue(), randomImage(50'000, 10));
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
