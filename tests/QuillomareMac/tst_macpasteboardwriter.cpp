#include "TestSupport.h"

#include <Pasteboard/ClipboardSharingService.h>
#include <Pasteboard/MacPasteboardWriter.h>
#include <Platform/SharingService.h>
#include <Platform/StandardFolders.h>
#include <QuillomareCore/ClipboardStore.h>

#include <QBuffer>
#include <QDir>
#include <QFileInfo>
#include <QImage>
#include <QScopeGuard>
#include <QTemporaryDir>

using namespace QuillomareCore;
using namespace QuillomareMac;
using Platform::MemoryPasteboard;
using Platform::Pasteboard;
using Platform::PasteboardItem;
using Platform::PasteboardObject;
namespace PasteboardType = Platform::PasteboardType;

Q_DECLARE_METATYPE(QuillomareCore::ClipboardItem)

namespace {

// A pasteboard that refuses writes until it has been cleared a given number of times: armed
// with 2, it refuses the new contents (written after the first clear) and takes back the old
// ones (written after the second), which is how a refused write must be rolled back.
class GuardedPasteboard final : public Pasteboard
{
public:
    qint64 changeCount() const override { return m_memory.changeCount(); }
    QStringList types() const override { return m_memory.types(); }
    std::optional<QByteArray> data(const QString& type) const override { return m_memory.data(type); }
    QList<PasteboardItem> pasteboardItems() const override { return m_memory.pasteboardItems(); }

    qint64 clearContents() override
    {
        if (m_clearsBeforeWrites > 0)
            --m_clearsBeforeWrites;
        return m_memory.clearContents();
    }
    bool setData(const QByteArray& data, const QString& type) override
    {
        return !refuses() && m_memory.setData(data, type);
    }
    bool writeItems(const QList<PasteboardItem>& items) override
    {
        return !refuses() && m_memory.writeItems(items);
    }

    void refuseWritesUntilCleared(int clears) { m_clearsBeforeWrites = clears; }
    void simulateExternalCopy(const QList<PasteboardItem>& items) { m_memory.simulateExternalCopy(items); }
    int refusedWrites() const { return m_refusedWrites; }

private:
    bool refuses()
    {
        if (m_clearsBeforeWrites == 0)
            return false;
        ++m_refusedWrites;
        return true;
    }

    MemoryPasteboard m_memory;
    int m_clearsBeforeWrites = 0;
    int m_refusedWrites = 0;
};

PasteboardItem representations(const QList<std::pair<QString, QByteArray>>& list)
{
    PasteboardItem item;
    for (const auto& [type, bytes] : list)
        item.setData(bytes, type);
    return item;
}

// What another program left on the clipboard: two items, several types each.
QList<PasteboardItem> foreignContents()
{
    return {
        representations({{PasteboardType::string, "earlier text"},
                         {PasteboardType::html, "<b>earlier</b> text"},
                         {QStringLiteral("application/x-editor-private"), QByteArray("\x00\x01\x02", 3)}}),
        representations({{PasteboardType::uriList, "file:///home/someone/notes.txt\r\n"}}),
    };
}

QByteArray pngBytes(int width = 6, int height = 4)
{
    QImage image(width, height, QImage::Format_ARGB32);
    image.fill(QColor(200, 40, 90));
    image.setPixelColor(0, 0, Qt::blue);
    QByteArray png;
    QBuffer buffer(&png);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "PNG");
    return png;
}

ClipboardItem textEntry(const QString& text)
{
    return QuillomareTest::textItem(text, QuillomareTest::at(0));
}

ClipboardItem linkEntry(const QString& text)
{
    ClipboardItem item = textEntry(text);
    item.kind = ClipKind::url;
    return item;
}

ClipboardItem fileEntry(const QStringList& paths)
{
    return QuillomareTest::fileItem(paths, QuillomareTest::at(0));
}

ClipboardItem imageEntry(const QByteArray& png)
{
    return QuillomareTest::imageItem(png, QuillomareTest::at(0));
}

ClipboardItem emptyEntry()
{
    ClipboardItem item = textEntry(QString());
    item.kind = ClipKind::unknown;
    item.payload = ClipboardPayload::empty();
    return item;
}

QString fileURL(const QString& path)
{
    return QUrl::fromLocalFile(path).toString();
}

// Readable in a failure message, and exact enough to catch a wrong kind or value.
QStringList describe(const QList<PasteboardObject>& objects)
{
    QStringList lines;
    for (const PasteboardObject& object : objects) {
        if (const auto* url = std::get_if<QUrl>(&object))
            lines.append(QStringLiteral("url ") + url->toString());
        else if (const auto* text = std::get_if<QString>(&object))
            lines.append(QStringLiteral("text ") + *text);
        else if (const auto* image = std::get_if<QImage>(&object))
            lines.append(QStringLiteral("image %1x%2").arg(image->width()).arg(image->height()));
    }
    return lines;
}

class RecordingSharingService final : public Platform::SharingService
{
public:
    bool isAvailable() const override { return available; }
    bool perform(const QList<PasteboardObject>& items) override
    {
        performed.append(describe(items));
        return accepts;
    }

    bool available = true;
    bool accepts = true;
    QList<QStringList> performed;
};

} // namespace

class TestMacPasteboardWriter : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void cleanup();

    void copyString_writesOneStringAndRefusesEmptyText();
    void refusedWrite_bringsBackPreviousContents_data();
    void refusedWrite_bringsBackPreviousContents();
    void linkEntries_data();
    void linkEntries();
    void fileEntry_writesTrimmedURLsAndPaths();
    void entriesWithNothingToWrite_leavePasteboardUntouched_data();
    void entriesWithNothingToWrite_leavePasteboardUntouched();
    void imageEntry_offersPNGAndTIFFInOneItem();
    void draggingAndSharing_data();
    void draggingAndSharing();
    void imageDraggingWriters_writeOneFilePerEntry();
    void sharingCheck_readsOnlyTheHeaderOfAStoredImage();
    void sharingCheck_takesPNGsWithChunksBeforeTheirPixels();
    void imageDraggingWriters_fallBackToImageWhenCachesCannotBeWritten();
    void airDrop();

private:
    std::optional<QTemporaryDir> m_dir;
};

// One folder of real files for the whole case: the data tables name them before any test runs.
void TestMacPasteboardWriter::initTestCase()
{
    m_dir.emplace();
    QVERIFY(m_dir->isValid());
    QuillomareTest::writeFile(m_dir->filePath(QStringLiteral("one.txt")), "one");
    QuillomareTest::writeFile(m_dir->filePath(QStringLiteral("two words.txt")), "two");
    QVERIFY(QDir(m_dir->path()).mkdir(QStringLiteral("folder")));
}

void TestMacPasteboardWriter::cleanup()
{
    Platform::SharingService::setAirDropForTesting(nullptr);
}

void TestMacPasteboardWriter::copyString_writesOneStringAndRefusesEmptyText()
{
    MemoryPasteboard pasteboard;
    pasteboard.simulateExternalCopy(foreignContents());
    const qint64 before = pasteboard.changeCount();

    QVERIFY(!MacPasteboardWriter::copyString(QString(), pasteboard));
    QCOMPARE(pasteboard.changeCount(), before);
    QCOMPARE(pasteboard.pasteboardItems(), foreignContents());

    // A blank is text: it replaces everything, old types included.
    QVERIFY(MacPasteboardWriter::copyString(QStringLiteral(" "), pasteboard));
    QVERIFY(pasteboard.changeCount() > before);
    QCOMPARE(pasteboard.pasteboardItems(), (QList<PasteboardItem>{representations({{PasteboardType::string, " "}})}));
}

// Every write goes through one rollback; text and the image (written in parts) each reach it.
void TestMacPasteboardWriter::refusedWrite_bringsBackPreviousContents_data()
{
    QTest::addColumn<ClipboardItem>("item");
    QTest::newRow("text") << textEntry(QStringLiteral("new text"));
    QTest::newRow("image") << imageEntry(pngBytes());
}

void TestMacPasteboardWriter::refusedWrite_bringsBackPreviousContents()
{
    QFETCH(ClipboardItem, item);
    GuardedPasteboard pasteboard;
    pasteboard.simulateExternalCopy(foreignContents());
    pasteboard.refuseWritesUntilCleared(2);

    QVERIFY(!MacPasteboardWriter::copy(item, pasteboard));
    QVERIFY(pasteboard.refusedWrites() > 0);
    QCOMPARE(pasteboard.pasteboardItems(), foreignContents());
}

void TestMacPasteboardWriter::linkEntries_data()
{
    QTest::addColumn<ClipboardItem>("item");
    QTest::addColumn<QStringList>("urls");
    QTest::addColumn<QString>("string");

    const QString padded = QStringLiteral("\n  https://example.com/a?b=1#c \n");
    QTest::newRow("link with line breaks around it") << linkEntry(padded)
                                                      << QStringList{QStringLiteral("https://example.com/a?b=1#c")}
                                                      << padded;
    QTest::newRow("the same text as a text entry") << textEntry(padded) << QStringList() << padded;
    QTest::newRow("a file URL in a link entry")
        << linkEntry(QStringLiteral("file:///etc/hosts")) << QStringList() << QStringLiteral("file:///etc/hosts");
    QTest::newRow("a link entry that is no URL")
        << linkEntry(QStringLiteral("see example.com")) << QStringList() << QStringLiteral("see example.com");
}

void TestMacPasteboardWriter::linkEntries()
{
    QFETCH(ClipboardItem, item);
    QFETCH(QStringList, urls);
    QFETCH(QString, string);

    MemoryPasteboard pasteboard;
    pasteboard.simulateExternalCopy(foreignContents());
    QVERIFY(MacPasteboardWriter::copy(item, pasteboard));

    QStringList written;
    for (const QUrl& url : pasteboard.readURLs(false))
        written.append(url.toString());
    QCOMPARE(written, urls);
    QCOMPARE(pasteboard.string(), string);
    QStringList types{PasteboardType::string};
    if (!urls.isEmpty())
        types.prepend(PasteboardType::uriList);
    QCOMPARE(pasteboard.types(), types);
}

void TestMacPasteboardWriter::fileEntry_writesTrimmedURLsAndPaths()
{
    // The files need not exist: what was copied is written back.
    const QString existing = m_dir->filePath(QStringLiteral("one.txt"));
    const QString missing = m_dir->filePath(QStringLiteral("gone/was here.txt"));
    MemoryPasteboard pasteboard;
    QVERIFY(MacPasteboardWriter::copy(fileEntry({QStringLiteral(" ") + existing + QStringLiteral("\n"), QString(),
                                                 QStringLiteral("  \t"), missing}),
                                      pasteboard));

    QCOMPARE(pasteboard.readURLs(true), (QList<QUrl>{QUrl::fromLocalFile(existing), QUrl::fromLocalFile(missing)}));
    QCOMPARE(pasteboard.string(), existing + QLatin1Char('\n') + missing);
}

void TestMacPasteboardWriter::entriesWithNothingToWrite_leavePasteboardUntouched_data()
{
    QTest::addColumn<ClipboardItem>("item");
    QTest::newRow("empty text") << textEntry(QString());
    QTest::newRow("blank paths only") << fileEntry({QStringLiteral(" "), QStringLiteral("\n"), QString()});
    QTest::newRow("bytes that are no image") << imageEntry(QByteArray("not an image at all"));
    QTest::newRow("empty payload") << emptyEntry();
}

void TestMacPasteboardWriter::entriesWithNothingToWrite_leavePasteboardUntouched()
{
    QFETCH(ClipboardItem, item);
    MemoryPasteboard pasteboard;
    pasteboard.simulateExternalCopy(foreignContents());
    const qint64 before = pasteboard.changeCount();

    QVERIFY(!MacPasteboardWriter::copy(item, pasteboard));
    QCOMPARE(pasteboard.changeCount(), before);
    QCOMPARE(pasteboard.pasteboardItems(), foreignContents());
}

void TestMacPasteboardWriter::imageEntry_offersPNGAndTIFFInOneItem()
{
    const QByteArray png = pngBytes(7, 5);
    MemoryPasteboard pasteboard;
    pasteboard.simulateExternalCopy(foreignContents());
    QVERIFY(MacPasteboardWriter::copy(imageEntry(png), pasteboard));

    const QList<PasteboardItem> items = pasteboard.pasteboardItems();
    QCOMPARE(items.size(), 1);
    QCOMPARE(items.first().types(), (QStringList{PasteboardType::png, PasteboardType::tiff}));
    QCOMPARE(items.first().data(PasteboardType::png), png);

    const QImage original = QImage::fromData(png).convertToFormat(QImage::Format_ARGB32);
    const QImage tiff = QImage::fromData(*items.first().data(PasteboardType::tiff), "TIFF");
    QVERIFY(!tiff.isNull());
    QCOMPARE(tiff.convertToFormat(QImage::Format_ARGB32), original);
}

// What a drag offers and what is handed to a sharing service are the same for all but images.
void TestMacPasteboardWriter::draggingAndSharing_data()
{
    QTest::addColumn<ClipboardItem>("item");
    QTest::addColumn<QStringList>("objects");

    const QString one = m_dir->filePath(QStringLiteral("one.txt"));
    const QString two = m_dir->filePath(QStringLiteral("two words.txt"));
    const QString folder = m_dir->filePath(QStringLiteral("folder"));
    const QString missing = m_dir->filePath(QStringLiteral("missing.txt"));

    QTest::newRow("text is trimmed") << textEntry(QStringLiteral("\n hello \n")) << QStringList{QStringLiteral("text hello")};
    QTest::newRow("blank text") << textEntry(QStringLiteral(" \n ")) << QStringList();
    QTest::newRow("link") << linkEntry(QStringLiteral(" https://example.com/?q=1\n"))
                          << QStringList{QStringLiteral("url https://example.com/?q=1")};
    QTest::newRow("a link's file URL is text") << linkEntry(QStringLiteral("file:///etc/hosts"))
                                               << QStringList{QStringLiteral("text file:///etc/hosts")};
    QTest::newRow("link text that is no URL") << linkEntry(QStringLiteral("two words"))
                                              << QStringList{QStringLiteral("text two words")};
    QTest::newRow("existing files and a folder in order, a missing one left out")
        << fileEntry({two, QStringLiteral(" "), missing, folder + QLatin1Char(' '), QStringLiteral("\t") + one})
        << QStringList{QStringLiteral("url ") + fileURL(two), QStringLiteral("url ") + fileURL(folder),
                       QStringLiteral("url ") + fileURL(one)};
    QTest::newRow("files that are gone are their paths")
        << fileEntry({QStringLiteral(" ") + missing, QStringLiteral("/nowhere/else.txt")})
        << QStringList{QStringLiteral("text ") + missing + QStringLiteral("\n/nowhere/else.txt")};
    QTest::newRow("blank paths") << fileEntry({QStringLiteral("  "), QString()}) << QStringList();
    QTest::newRow("bytes that are no image") << imageEntry(QByteArray("nope")) << QStringList();
    QTest::newRow("empty payload") << emptyEntry() << QStringList();
}

void TestMacPasteboardWriter::draggingAndSharing()
{
    QFETCH(ClipboardItem, item);
    QFETCH(QStringList, objects);
    QCOMPARE(describe(MacPasteboardWriter::draggingWriters(item)), objects);
    QCOMPARE(describe(ClipboardSharingService::sharingItems(item)), objects);
    // The tiles' quick answer agrees with what sharing would hand over.
    QCOMPARE(ClipboardSharingService::canShare(item), !objects.isEmpty());
    // Paths held apart from an entry (a shelf's files) are dragged by the same rule.
    if (item.payload.isFileURLs())
        QCOMPARE(describe(MacPasteboardWriter::fileURLDraggingWriters(item.payload.fileURLsValue())), objects);
}

// The inspector asks whether the selected entry can be shared each time it shows one: for an image
// kept in the history file that must not read the whole picture back on the GUI thread.
void TestMacPasteboardWriter::sharingCheck_readsOnlyTheHeaderOfAStoredImage()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString path = dir.filePath(QStringLiteral("clips.json"));
    QImage noise(400, 300, QImage::Format_RGB32);
    for (int y = 0; y < noise.height(); ++y)
        for (int x = 0; x < noise.width(); ++x)
            noise.setPixel(x, y, qRgb((x * 37 + y * 11) % 256, (x * y) % 256, (x + 3 * y) % 256));
    QByteArray png;
    QBuffer buffer(&png);
    buffer.open(QIODevice::WriteOnly);
    QVERIFY(noise.save(&buffer, "PNG"));

    QuillomareCore::ClipboardStore store(path);
    store.add(imageEntry(png));
    store.waitForPendingSaves();
    QVERIFY(!store.lastSaveError());
    const ClipboardItem& item = store.items().first();
    QVERIFY(item.payload.storedImageText()); // read from the file from now on

    // The picture's tail is damaged in the file: reading it whole fails from now on.
    const QByteArray text = png.toBase64();
    const qint64 textOffset = QuillomareTest::readFile(path).indexOf(text);
    QVERIFY(textOffset > 0);
    QFile file(path);
    QVERIFY(file.open(QIODevice::ReadWrite));
    QVERIFY(file.seek(textOffset + text.size() - 40));
    QCOMPARE(file.write("!!!!"), qint64(4));
    file.close();
    QVERIFY(item.payload.imagePNGValue().isEmpty());

    QVERIFY(ClipboardSharingService::canShare(item));
}

namespace {

quint32 crc32(const QByteArray& bytes)
{
    quint32 crc = 0xffffffffu;
    for (const char byte : bytes) {
        crc ^= uchar(byte);
        for (int bit = 0; bit < 8; ++bit)
            crc = (crc >> 1) ^ (0xedb88320u & (0u - (crc & 1u)));
    }
    return ~crc;
}

QByteArray chunk(const QByteArray& type, const QByteArray& data)
{
    QByteArray out;
    const auto put32 = [&](quint32 value) {
        for (int shift = 24; shift >= 0; shift -= 8)
            out.append(char((value >> shift) & 0xff));
    };
    put32(quint32(data.size()));
    out.append(type + data);
    put32(crc32(type + data));
    return out;
}

// A PNG as screenshot tools and image editors write them: the header, then chunks before the
// pixels (long text here), and the chunks and pixels of `source`.
QByteArray pngWithChunksBeforePixels(const QByteArray& source)
{
    const qsizetype afterHeader = 8 + 25;
    QByteArray extra = chunk("tEXt", QByteArray("Comment\0", 8) + QByteArray(3000, 'x'));
    extra += chunk("tEXt", QByteArray("Software\0hand-built test image", 30));
    return source.left(afterHeader) + extra + source.mid(afterHeader);
}

} // namespace

// The send tiles of the history and the shelf ask with the first 64 bytes of an image.
void TestMacPasteboardWriter::sharingCheck_takesPNGsWithChunksBeforeTheirPixels()
{
    QStringList warnings;
    static QStringList* sink = nullptr;
    sink = &warnings;
    const QtMessageHandler previous =
        qInstallMessageHandler([](QtMsgType, const QMessageLogContext&, const QString& m) { sink->append(m); });
    const auto restore = qScopeGuard([&] { qInstallMessageHandler(previous); });

    const QByteArray qtPNG = pngBytes(6, 4);
    const QByteArray editorPNG = pngWithChunksBeforePixels(pngBytes(1200, 34));
    QCOMPARE(QImage::fromData(editorPNG).size(), QSize(1200, 34)); // a sound picture
    for (const QByteArray& png : {qtPNG, editorPNG}) {
        QVERIFY(ClipboardSharingService::canShare(imageEntry(png)));
        QVERIFY(ClipboardSharingService::imageHeaderIsReadable(png.left(64)));
    }
    QCOMPARE(ClipboardSharingService::pngImageSize(editorPNG.left(24)), std::optional<QSize>(QSize(1200, 34)));

    // What is no PNG header is refused, and says so nowhere.
    QByteArray zeroWidth = qtPNG;
    zeroWidth.replace(16, 4, QByteArray(4, '\0'));
    QByteArray wrongChunk = qtPNG;
    wrongChunk.replace(12, 4, "IDAT");
    QByteArray tooWide = qtPNG;
    tooWide.replace(16, 4, QByteArray("\x80\0\0\0", 4));
    for (const QByteArray& bad : {qtPNG.left(23), zeroWidth, wrongChunk, tooWide}) {
        QVERIFY(!ClipboardSharingService::pngImageSize(bad));
        QVERIFY(!ClipboardSharingService::imageHeaderIsReadable(bad.left(64)));
    }
    QVERIFY2(warnings.isEmpty(), qPrintable(warnings.join(QLatin1Char('\n'))));
}

void TestMacPasteboardWriter::imageDraggingWriters_writeOneFilePerEntry()
{
    const ClipboardItem item = imageEntry(pngBytes());
    const QList<PasteboardObject> first = MacPasteboardWriter::draggingWriters(item);
    QCOMPARE(first.size(), 1);
    const QUrl* url = std::get_if<QUrl>(&first.first());
    QVERIFY(url);
    QVERIFY(url->isLocalFile());
    QCOMPARE(QuillomareTest::readFile(url->toLocalFile()), item.payload.imagePNGValue());
    // Shared, it is the picture itself.
    QCOMPARE(describe(ClipboardSharingService::sharingItems(item)), QStringList{QStringLiteral("image 6x4")});
    QVERIFY(ClipboardSharingService::canShare(item));

    // A second drag of the same entry writes the same file again, with the bytes given.
    const QByteArray other = pngBytes(3, 3);
    const QList<PasteboardObject> second = MacPasteboardWriter::imageDraggingWriters(other, item.id);
    QCOMPARE(describe(second), describe(first));
    QCOMPARE(QuillomareTest::readFile(url->toLocalFile()), other);
}

void TestMacPasteboardWriter::imageDraggingWriters_fallBackToImageWhenCachesCannotBeWritten()
{
    // A file where the program's caches folder should be: no drag file can be made.
    const QString caches = Platform::StandardFolders::caches();
    const QString blocker = caches + QStringLiteral("/Quillomare");
    const bool hadFolder = QFileInfo::exists(blocker);
    QString movedAside;
    if (hadFolder) {
        movedAside = blocker + QStringLiteral(".aside");
        QVERIFY(QDir().rename(blocker, movedAside));
    }
    QuillomareTest::writeFile(blocker, "in the way");

    const QList<PasteboardObject> writers = MacPasteboardWriter::imageDraggingWriters(pngBytes(9, 2), QUuid::createUuid());

    QFile::remove(blocker);
    if (hadFolder)
        QVERIFY(QDir().rename(movedAside, blocker));
    QCOMPARE(describe(writers), QStringList{QStringLiteral("image 9x2")});
}

void TestMacPasteboardWriter::airDrop()
{
    auto service = std::make_shared<RecordingSharingService>();
    Platform::SharingService::setAirDropForTesting(service);

    QVERIFY(!ClipboardSharingService::airDrop(emptyEntry()));
    QVERIFY(!ClipboardSharingService::airDrop(textEntry(QStringLiteral("  "))));
    QVERIFY(service->performed.isEmpty());

    QVERIFY(ClipboardSharingService::airDrop(linkEntry(QStringLiteral("https://example.com"))));
    QCOMPARE(service->performed, (QList<QStringList>{{QStringLiteral("url https://example.com")}}));

    // No device in reach: nothing is handed over.
    service->available = false;
    QVERIFY(!ClipboardSharingService::airDrop(textEntry(QStringLiteral("hello"))));
    QCOMPARE(service->performed.size(), 1);

    // A hand-over that could not start is not reported as done.
    service->available = true;
    service->accepts = false;
    QVERIFY(!ClipboardSharingService::airDrop(textEntry(QStringLiteral("hello"))));
    QCOMPARE(service->performed.last(), QStringList{QStringLiteral("text hello")});
}

QUILLOMARE_TEST_MAIN(TestMacPasteboardWriter)
#include "tst_macpasteboardwriter.moc"
