#include "TestSupport.h"

#include <History/ClipThumbnailView.h>
#include <Platform/ThumbnailProvider.h>
#include <QuillomareCore/Language.h>

#include <QApplication>
#include <QBuffer>
#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QPainter>
#include <QTemporaryDir>
#include <QUrl>

using namespace QuillomareMac;
namespace Language = QuillomareCore::Language;
using QuillomareCore::ClipboardItem;
using QuillomareCore::ClipboardPayload;
using QuillomareCore::ClipKind;
using QuillomareTest::at;

namespace {

QByteArray png(QSize size, const QColor& colour = Qt::red)
{
    return QuillomareTest::filledPng(size, colour);
}

ClipboardItem imageEntry(const QByteArray& bytes)
{
    return QuillomareTest::imageItem(bytes, at(0));
}

ClipboardItem fileEntry(const QStringList& paths)
{
    return QuillomareTest::fileItem(paths, at(0));
}

QString tileKey(const ClipboardItem& item)
{
    return ClipThumbnailImageCache::pngKey(QStringLiteral("thumb-png:"), item.contentHash,
                                           item.payload.imagePNGValue());
}

bool settle()
{
    return Platform::ThumbnailProvider::waitForPendingRequests();
}

// The tile drawn alone over black, as the island's dark surface would show it.
QImage rendered(ClipThumbnailView& tile)
{
    QImage image(tile.size(), QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::black);
    tile.render(&image, QPoint(), QRegion(), QWidget::DrawChildren);
    return image;
}

} // namespace

class TestClipThumbnailView final : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase() { Language::setIsChineseForTesting(false); }
    void init() { ClipThumbnailImageCache::clearForTesting(); }

    void cacheKeys_data();
    void cacheKeys();
    void synchronousThumbnailKeepsOnlySuccesses();
    void pictureArrivesAfterTheSymbol();
    void entriesWithTheSameBytesShareOnePicture();
    void failedDecodeIsTriedAgainOnTheNextConfigure();
    void lateResultLandsInTheCacheOnly();
    void sensitiveEntries_data();
    void sensitiveEntries();
    void symbols_data();
    void symbols();
    void singleImageFileOnly();
    void fileThumbnailOnlyForTilesThatPreferIt();
    void drawsPictureInsideRoundedCornersAndDimmedSymbols();

private:
    QTemporaryDir m_folder;
};

void TestClipThumbnailView::cacheKeys_data()
{
    QTest::addColumn<QString>("key");
    QTest::addColumn<QString>("expected");

    QTest::newRow("tile, first 16 bytes")
        << ClipThumbnailImageCache::pngKey(QStringLiteral("thumb-png:"), QStringLiteral("h1"), QByteArray(20, 'a'))
        << QStringLiteral("thumb-png:h1:20:YWFhYWFhYWFhYWFhYWFhYQ==");
    QTest::newRow("inspector, fewer bytes")
        << ClipThumbnailImageCache::pngKey(QStringLiteral("preview-png:"), QStringLiteral("h2"), "abc")
        << QStringLiteral("preview-png:h2:3:YWJj");
    QTest::newRow("no bytes") << ClipThumbnailImageCache::pngKey(QStringLiteral("thumb-png:"), QStringLiteral("h3"), QByteArray())
                              << QStringLiteral("thumb-png:h3:0:");
    QTest::newRow("file") << ClipThumbnailImageCache::fileKey(QStringLiteral("/tmp/a b.png"))
                          << QStringLiteral("thumb-file:/tmp/a b.png");
    QTest::newRow("file thumbnail") << ClipQuickLookThumbnailCache::key(QStringLiteral("/x/report.pdf"), 256)
                                    << QStringLiteral("/x/report.pdf@256");
    QTest::newRow("file thumbnail, size cut")
        << ClipQuickLookThumbnailCache::key(QStringLiteral("/x/r.pdf"), 511.9) << QStringLiteral("/x/r.pdf@511");
}

void TestClipThumbnailView::cacheKeys()
{
    QFETCH(QString, key);
    QFETCH(QString, expected);
    QCOMPARE(key, expected);
}

void TestClipThumbnailView::synchronousThumbnailKeepsOnlySuccesses()
{
    const QString key = QStringLiteral("thumb-png:h:1");
    QVERIFY(ClipThumbnailImageCache::thumbnail({}, key, 360).isNull());
    QVERIFY(ClipThumbnailImageCache::thumbnail("not a picture", key, 360).isNull());
    QVERIFY(ClipThumbnailImageCache::cached(key).isNull());

    const QImage decoded = ClipThumbnailImageCache::thumbnail(png(QSize(800, 400)), key, 360);
    QCOMPARE(decoded.size(), QSize(360, 180));
    // A cached picture answers whatever the bytes.
    QCOMPARE(ClipThumbnailImageCache::thumbnail("not a picture", key, 360).cacheKey(), decoded.cacheKey());
}

void TestClipThumbnailView::pictureArrivesAfterTheSymbol()
{
    ClipThumbnailView tile;
    tile.resize(40, 40);
    tile.configure(imageEntry(png(QSize(800, 400))), QStringLiteral("Image"), Qt::white);

    QVERIFY(!tile.isShowingImage());
    QCOMPARE(tile.shownSymbol(), QStringLiteral("photo"));
    QVERIFY(tile.iconImageView()->isVisibleTo(&tile));
    QCOMPARE(qRound(tile.contentBackground().alphaF() * 1000), 75);

    QVERIFY(settle());
    QVERIFY(tile.isShowingImage());
    QCOMPARE(tile.imageView()->image().size(), QSize(360, 180));
    QCOMPARE(tile.shownSymbol(), QString());
    QVERIFY(!tile.iconImageView()->isVisibleTo(&tile));
    QCOMPARE(qRound(tile.contentBackground().alphaF() * 1000), 160);
    QCOMPARE(tile.contentBackground().red(), 0);
}

void TestClipThumbnailView::entriesWithTheSameBytesShareOnePicture()
{
    const QByteArray bytes = png(QSize(800, 400), Qt::green);
    const ClipboardItem history = imageEntry(bytes);
    const ClipboardItem shelf = imageEntry(bytes);
    ClipThumbnailView row;
    ClipThumbnailView card;
    row.configure(history, QString(), Qt::white);
    card.configure(shelf, QString(), Qt::white);
    QVERIFY(settle());
    QVERIFY(row.isShowingImage());
    QVERIFY(card.isShowingImage());
    QCOMPARE(card.imageView()->image().cacheKey(), row.imageView()->image().cacheKey());

    // A third tile of the same bytes needs no decode at all.
    ClipThumbnailView detail;
    detail.configure(shelf, QString(), Qt::white);
    QVERIFY(detail.isShowingImage());

    // The inspector's larger picture of it is kept apart.
    const QString previewKey =
        ClipThumbnailImageCache::pngKey(QStringLiteral("preview-png:"), history.contentHash, bytes);
    QCOMPARE(ClipThumbnailImageCache::thumbnail(bytes, previewKey, ClipThumbnailImageCache::previewPixelSize).size(),
             QSize(800, 400));
    QCOMPARE(ClipThumbnailImageCache::cached(tileKey(history)).size(), QSize(360, 180));
}

void TestClipThumbnailView::failedDecodeIsTriedAgainOnTheNextConfigure()
{
    ClipThumbnailView tile;
    const ClipboardItem empty = imageEntry({});
    tile.configure(empty, QString(), Qt::white);
    QVERIFY(settle());
    QCOMPARE(tile.shownSymbol(), QStringLiteral("photo"));
    QVERIFY(ClipThumbnailImageCache::cached(tileKey(empty)).isNull());

    // An image file that does not decode yet, then does.
    const QString path = m_folder.filePath(QStringLiteral("later.png"));
    QuillomareTest::writeFile(path, "still being written");
    const ClipboardItem file = fileEntry({path});
    tile.configure(file, QString(), Qt::white);
    QVERIFY(settle());
    QVERIFY(!tile.isShowingImage());
    QVERIFY(ClipThumbnailImageCache::cached(ClipThumbnailImageCache::fileKey(path)).isNull());

    QuillomareTest::writeFile(path, png(QSize(30, 20)));
    tile.configure(file, QString(), Qt::white);
    QVERIFY(settle());
    QVERIFY(tile.isShowingImage());
    QCOMPARE(tile.imageView()->image().size(), QSize(30, 20));
}

void TestClipThumbnailView::lateResultLandsInTheCacheOnly()
{
    const ClipboardItem image = imageEntry(png(QSize(500, 500)));
    const ClipboardItem text = QuillomareTest::textItem(QStringLiteral("hello"), at(1));
    ClipThumbnailView tile;
    tile.configure(image, QString(), Qt::white);
    tile.configure(text, QString(), Qt::white);
    QVERIFY(settle());

    QVERIFY(!tile.isShowingImage());
    QCOMPARE(tile.shownSymbol(), QStringLiteral("text.alignleft"));
    QCOMPARE(tile.currentItemID(), text.id);
    QVERIFY(!ClipThumbnailImageCache::cached(tileKey(image)).isNull());

    tile.configure(image, QString(), Qt::white);
    QVERIFY(tile.isShowingImage());
}

void TestClipThumbnailView::sensitiveEntries_data()
{
    QTest::addColumn<ClipboardItem>("item");
    QTest::addColumn<bool>("showsImage");
    QTest::addColumn<QString>("symbol");

    ClipboardItem image = imageEntry(png(QSize(10, 10)));
    image.isSensitive = true;
    ClipboardItem text = QuillomareTest::textItem(QStringLiteral("hunter2"), at(0));
    text.isSensitive = true;
    QTest::newRow("image keeps its picture") << image << true << QString();
    QTest::newRow("text shows the lock") << text << false << QStringLiteral("lock.fill");
}

void TestClipThumbnailView::sensitiveEntries()
{
    QFETCH(ClipboardItem, item);
    QFETCH(bool, showsImage);
    QFETCH(QString, symbol);

    ClipThumbnailView tile;
    tile.configure(item, QString(), Qt::white);
    QVERIFY(settle());
    QCOMPARE(tile.isShowingImage(), showsImage);
    QCOMPARE(tile.shownSymbol(), symbol);
}

void TestClipThumbnailView::symbols_data()
{
    QTest::addColumn<int>("kind");
    QTest::addColumn<QStringList>("paths");
    QTest::addColumn<QString>("symbol");

    QTest::newRow("text") << int(ClipKind::text) << QStringList() << QStringLiteral("text.alignleft");
    QTest::newRow("link") << int(ClipKind::url) << QStringList() << QStringLiteral("link");
    QTest::newRow("image") << int(ClipKind::image) << QStringList() << QStringLiteral("photo");
    QTest::newRow("unknown") << int(ClipKind::unknown) << QStringList() << QStringLiteral("doc.on.clipboard");
    QTest::newRow("no files") << int(ClipKind::file) << QStringList() << QStringLiteral("doc");

    const auto file = [](const char* name) { return QStringList{QStringLiteral("/nowhere/") + QLatin1String(name)}; };
    const int kind = ClipKind::file;
    QTest::newRow("pdf") << kind << file("a.pdf") << QStringLiteral("doc.richtext");
    QTest::newRow("zip upper case") << kind << file("b.ZIP") << QStringLiteral("archivebox");
    QTest::newRow("7z") << kind << file("c.7z") << QStringLiteral("archivebox");
    QTest::newRow("PNG upper case") << kind << file("d.PNG") << QStringLiteral("photo");
    QTest::newRow("heic") << kind << file("e.heic") << QStringLiteral("photo");
    QTest::newRow("mov") << kind << file("f.mov") << QStringLiteral("film");
    QTest::newRow("m4a") << kind << file("g.m4a") << QStringLiteral("waveform");
    QTest::newRow("aiff") << kind << file("h.aiff") << QStringLiteral("waveform");
    QTest::newRow("other") << kind << file("i.txt") << QStringLiteral("doc");
    QTest::newRow("no extension") << kind << file("README") << QStringLiteral("doc");
    QTest::newRow("first path decides") << kind << (file("j.mp4") + file("k.pdf")) << QStringLiteral("film");
}

void TestClipThumbnailView::symbols()
{
    QFETCH(int, kind);
    QFETCH(QStringList, paths);
    QFETCH(QString, symbol);

    ClipboardItem item = QuillomareTest::textItem(QStringLiteral("x"), at(0));
    item.kind = static_cast<ClipKind::Value>(kind);
    if (item.kind == ClipKind::file)
        item.payload = ClipboardPayload::fileURLs(paths);
    else if (item.kind != ClipKind::text)
        item.payload = ClipboardPayload::empty();

    QCOMPARE(ClipThumbnailView::symbolName(item), symbol);
    ClipThumbnailView tile;
    tile.configure(item, QString(), Qt::white);
    QVERIFY(settle());
    QCOMPARE(tile.shownSymbol(), symbol);
    QVERIFY(!tile.isShowingFileIcon());
    QVERIFY(!tile.iconImageView()->pixmap().isNull());
}

void TestClipThumbnailView::singleImageFileOnly()
{
    const QString first = m_folder.filePath(QStringLiteral("one.png"));
    const QString second = m_folder.filePath(QStringLiteral("two.jpg"));
    QuillomareTest::writeFile(first, png(QSize(40, 40)));
    QuillomareTest::writeFile(second, png(QSize(40, 40)));

    ClipThumbnailView tile;
    tile.configure(fileEntry({first, second}), QString(), Qt::white);
    QVERIFY(settle());
    QVERIFY(!tile.isShowingImage());
    QVERIFY(tile.isShowingFileIcon());
    QCOMPARE(tile.shownSymbol(), QStringLiteral("photo"));

    // Blank lines around a single path do not make it two.
    tile.configure(fileEntry({QStringLiteral("  "), first + QStringLiteral("\n")}), QString(), Qt::white);
    QVERIFY(settle());
    QVERIFY(tile.isShowingImage());
    QVERIFY(!ClipThumbnailImageCache::cached(ClipThumbnailImageCache::fileKey(first)).isNull());

    QVERIFY(QFile::remove(first));
    tile.configure(fileEntry({first, second}), QString(), Qt::white);
    QVERIFY(settle());
    QVERIFY(!tile.isShowingImage());
    QVERIFY(!tile.isShowingFileIcon());
    QCOMPARE(tile.shownSymbol(), QStringLiteral("photo"));
}

void TestClipThumbnailView::fileThumbnailOnlyForTilesThatPreferIt()
{
    // A PDF with a valid desktop thumbnail at the 256-pixel size (the test home's cache folder).
    const QString path = m_folder.filePath(QStringLiteral("report.pdf"));
    QuillomareTest::writeFile(path, "%PDF-1.4 not really");
    const QByteArray uri = QUrl::fromLocalFile(path).toEncoded();
    QImage thumbnail(256, 256, QImage::Format_RGB32);
    thumbnail.fill(Qt::yellow);
    thumbnail.setText(QStringLiteral("Thumb::URI"), QString::fromLatin1(uri));
    thumbnail.setText(QStringLiteral("Thumb::MTime"),
                      QString::number(QFileInfo(path).lastModified().toSecsSinceEpoch()));
    const QString folder = qEnvironmentVariable("XDG_CACHE_HOME") + QStringLiteral("/thumbnails/large/");
    QVERIFY(QDir().mkpath(folder));
    QVERIFY(thumbnail.save(folder +
                           QString::fromLatin1(QCryptographicHash::hash(uri, QCryptographicHash::Md5).toHex()) +
                           QStringLiteral(".png")));

    const ClipboardItem pdf = fileEntry({path});
    const ClipboardItem text = QuillomareTest::textItem(QStringLiteral("next"), at(1));
    const QString key = ClipQuickLookThumbnailCache::key(path, 256);

    ClipThumbnailView row;
    row.configure(pdf, QString(), Qt::white);
    QVERIFY(settle());
    QVERIFY(!row.isShowingImage());
    QVERIFY(row.isShowingFileIcon());
    QVERIFY(ClipQuickLookThumbnailCache::cached(key).isNull());

    // A card moved on to another entry keeps it; the thumbnail is kept for the next time.
    ClipThumbnailView card;
    card.prefersContentPreview = true;
    card.configure(pdf, QString(), Qt::white);
    QVERIFY(card.isShowingFileIcon());
    card.configure(text, QString(), Qt::white);
    QVERIFY(settle());
    QCOMPARE(card.shownSymbol(), QStringLiteral("text.alignleft"));
    QCOMPARE(ClipQuickLookThumbnailCache::cached(key).size(), QSize(256, 256));

    card.configure(pdf, QString(), Qt::white);
    QVERIFY(card.isShowingImage());
    QCOMPARE(card.imageView()->image().pixelColor(0, 0), QColor(Qt::yellow));

    QVERIFY(QFile::remove(path));
    row.configure(pdf, QString(), Qt::white);
    QCOMPARE(row.shownSymbol(), QStringLiteral("doc.richtext"));
    QVERIFY(!row.isShowingFileIcon());
}

void TestClipThumbnailView::drawsPictureInsideRoundedCornersAndDimmedSymbols()
{
    ClipThumbnailView tile;
    tile.resize(40, 40);
    tile.configure(QuillomareTest::textItem(QStringLiteral("words"), at(0)), QString(), Qt::white);
    const QImage symbol = rendered(tile);
    int brightest = 0;
    for (int y = 0; y < symbol.height(); ++y)
        for (int x = 0; x < symbol.width(); ++x)
            brightest = std::max(brightest, qGray(symbol.pixel(x, y)));
    // White at 0.82 over the faint fill: clearly drawn, never full white.
    QVERIFY2(brightest > 190 && brightest < 225, qPrintable(QString::number(brightest)));

    tile.configure(imageEntry(png(QSize(100, 50), Qt::red)), QString(), Qt::white);
    QVERIFY(settle());
    const QImage picture = rendered(tile);
    QVERIFY(qRed(picture.pixel(20, 20)) > 240 && qGreen(picture.pixel(20, 20)) < 20);
    QVERIFY(qRed(picture.pixel(0, 0)) < 60);

    int clicks = 0;
    tile.imageView()->onClick = [&clicks] { ++clicks; };
    QTest::mouseClick(tile.imageView(), Qt::LeftButton, {}, QPoint(20, 20));
    QCOMPARE(clicks, 1);
}

QUILLOMARE_GUI_TEST_MAIN(TestClipThumbnailView)
#include "tst_clipthumbnailview.moc"
