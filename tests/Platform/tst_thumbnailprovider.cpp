#include "TestSupport.h"

#include <Platform/ThumbnailProvider.h>

#include <QApplication>
#include <QBuffer>
#include <QCryptographicHash>
#include <QDateTime>
#include <QDir>
#include <QFileInfo>
#include <QImageReader>
#include <QSemaphore>
#include <QTemporaryDir>
#include <QThread>
#include <QUrl>

namespace Thumbnails = Platform::ThumbnailProvider;

namespace {

QImage solid(QSize size, const QColor& colour)
{
    QImage image(size, QImage::Format_RGB32);
    image.fill(colour);
    return image;
}

QByteArray encode(const QImage& image, const char* format)
{
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, format);
    return bytes;
}

bool near(const QColor& actual, const QColor& expected)
{
    return std::abs(actual.red() - expected.red()) < 24 && std::abs(actual.green() - expected.green()) < 24 &&
           std::abs(actual.blue() - expected.blue()) < 24;
}

// A private desktop thumbnail cache for one test: XDG_CACHE_HOME points at a fresh folder.
class DesktopThumbnailCache
{
public:
    DesktopThumbnailCache() : m_previous(qgetenv("XDG_CACHE_HOME"))
    {
        qputenv("XDG_CACHE_HOME", QFile::encodeName(m_root.path()));
    }
    ~DesktopThumbnailCache() { qputenv("XDG_CACHE_HOME", m_previous); }

    // Writes the thumbnail of `file` into one size folder, claiming the given URI and mtime.
    void write(const QString& folder, const QString& file, const QImage& picture, const QByteArray& uri,
               qint64 mtime) const
    {
        const QByteArray fileURI = QUrl::fromLocalFile(QFileInfo(file).absoluteFilePath()).toEncoded();
        const QString name = QString::fromLatin1(QCryptographicHash::hash(fileURI, QCryptographicHash::Md5).toHex());
        const QString path = m_root.filePath(QStringLiteral("thumbnails/%1/%2.png").arg(folder, name));
        QDir().mkpath(QFileInfo(path).absolutePath());
        QImage image = picture;
        image.setText(QStringLiteral("Thumb::URI"), QString::fromLatin1(uri));
        image.setText(QStringLiteral("Thumb::MTime"), QString::number(mtime));
        QVERIFY(image.save(path, "PNG"));
    }

private:
    QTemporaryDir m_root;
    QByteArray m_previous;
};

} // namespace

class TestThumbnailProvider final : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void decodesScaledDownNeverUp_data();
    void decodesScaledDownNeverUp();
    void rejectsWhatIsNotAnImage();
    void turnsByTheOrientationTag();
    void fileThumbnailDecodesImageFiles();
    void fileThumbnailReadsTheDesktopCache_data();
    void fileThumbnailReadsTheDesktopCache();
    void fileTypeIconAndDescription();
    void requestDeliversOnTheGuiThread();
    void requestIsDroppedAfterTheReceiverIsGone();

private:
    QTemporaryDir m_folder;
};

void TestThumbnailProvider::decodesScaledDownNeverUp_data()
{
    QTest::addColumn<QByteArray>("format");
    QTest::addColumn<QSize>("size");
    QTest::addColumn<int>("maxPixelSize");
    QTest::addColumn<QSize>("expected");

    QTest::newRow("wide PNG") << QByteArray("png") << QSize(800, 400) << 200 << QSize(200, 100);
    QTest::newRow("tall JPEG") << QByteArray("jpg") << QSize(300, 600) << 150 << QSize(75, 150);
    QTest::newRow("small PNG kept") << QByteArray("png") << QSize(100, 50) << 360 << QSize(100, 50);
    QTest::newRow("limit of at least one pixel") << QByteArray("png") << QSize(80, 40) << 0 << QSize(1, 1);
}

void TestThumbnailProvider::decodesScaledDownNeverUp()
{
    QFETCH(QByteArray, format);
    QFETCH(QSize, size);
    QFETCH(int, maxPixelSize);
    QFETCH(QSize, expected);

    const QByteArray bytes = encode(solid(size, Qt::red), format.constData());
    const QString path = m_folder.filePath(QStringLiteral("picture.") + QString::fromLatin1(format));
    QuillomareTest::writeFile(path, bytes);

    const QImage fromData = Thumbnails::decodeImageData(bytes, maxPixelSize);
    QCOMPARE(fromData.size(), expected);
    QVERIFY(near(fromData.pixelColor(0, 0), Qt::red));
    QCOMPARE(Thumbnails::decodeImageFile(path, maxPixelSize).size(), expected);
}

void TestThumbnailProvider::rejectsWhatIsNotAnImage()
{
    const QString fakePNG = m_folder.filePath(QStringLiteral("notes.png"));
    QuillomareTest::writeFile(fakePNG, "just some words, not a picture");

    QVERIFY(Thumbnails::decodeImageData({}, 100).isNull());
    QVERIFY(Thumbnails::decodeImageData("\x89PNG but cut short", 100).isNull());
    QVERIFY(Thumbnails::decodeImageFile(fakePNG, 100).isNull());
    QVERIFY(Thumbnails::decodeImageFile(m_folder.filePath(QStringLiteral("missing.png")), 100).isNull());
    QVERIFY(Thumbnails::decodeImageFile(m_folder.path(), 100).isNull());
}

void TestThumbnailProvider::turnsByTheOrientationTag()
{
    // Stored 200 × 100, red on the left; tagged "turn 90° clockwise", so shown red on top.
    QImage stored(200, 100, QImage::Format_RGB32);
    stored.fill(Qt::blue);
    for (int y = 0; y < 100; ++y)
        for (int x = 0; x < 100; ++x)
            stored.setPixelColor(x, y, Qt::red);
    // An Exif block holding only the orientation (6: turn 90° clockwise), right after the JPEG's
    // start marker.
    const QByteArray exif = QByteArray::fromHex("ffe10022"
                                                "457869660000"
                                                "4d4d002a00000008"
                                                "0001"
                                                "011200030000000100060000"
                                                "00000000");
    QByteArray jpeg = encode(stored, "jpg");
    jpeg.insert(2, exif);
    const QString path = m_folder.filePath(QStringLiteral("turned.jpg"));
    QuillomareTest::writeFile(path, jpeg);
    QCOMPARE(QImageReader(path).transformation(), QImageIOHandler::TransformationRotate90);

    const QImage shown = Thumbnails::decodeImageFile(path, 100);
    QCOMPARE(shown.size(), QSize(50, 100));
    QVERIFY(near(shown.pixelColor(25, 10), Qt::red));
    QVERIFY(near(shown.pixelColor(25, 90), Qt::blue));
}

void TestThumbnailProvider::fileThumbnailDecodesImageFiles()
{
    const QString path = m_folder.filePath(QStringLiteral("large.png"));
    QuillomareTest::writeFile(path, encode(solid(QSize(1000, 500), Qt::green), "png"));

    QCOMPARE(Thumbnails::fileThumbnail(path, 256).size(), QSize(256, 128));
    QVERIFY(Thumbnails::fileThumbnail(m_folder.filePath(QStringLiteral("gone.png")), 256).isNull());
}

void TestThumbnailProvider::fileThumbnailReadsTheDesktopCache_data()
{
    QTest::addColumn<QStringList>("entries"); // "<folder>=<valid|stale|other>"
    QTest::addColumn<int>("pixelSize");
    QTest::addColumn<QColor>("expectedColour"); // invalid: no thumbnail
    QTest::addColumn<int>("expectedSide");

    const QStringList both{QStringLiteral("normal=valid"), QStringLiteral("large=valid")};
    QTest::newRow("smallest big enough") << both << 100 << QColor(Qt::red) << 100;
    QTest::newRow("larger folder for a larger size") << both << 200 << QColor(Qt::green) << 200;
    QTest::newRow("stale one skipped") << QStringList{QStringLiteral("normal=stale"), QStringLiteral("large=valid")}
                                       << 100 << QColor(Qt::green) << 100;
    QTest::newRow("smaller one when no larger")
        << QStringList{QStringLiteral("normal=valid")} << 300 << QColor(Qt::red) << 128;
    QTest::newRow("stale only") << QStringList{QStringLiteral("normal=stale")} << 100 << QColor() << 0;
    QTest::newRow("another file's") << QStringList{QStringLiteral("normal=other")} << 100 << QColor() << 0;
    QTest::newRow("none") << QStringList() << 100 << QColor() << 0;
}

void TestThumbnailProvider::fileThumbnailReadsTheDesktopCache()
{
    QFETCH(QStringList, entries);
    QFETCH(int, pixelSize);
    QFETCH(QColor, expectedColour);
    QFETCH(int, expectedSide);

    const DesktopThumbnailCache cache;
    const QString path = m_folder.filePath(QStringLiteral("report.pdf"));
    QuillomareTest::writeFile(path, "%PDF-1.4 not really");
    const qint64 mtime = QFileInfo(path).lastModified().toSecsSinceEpoch();
    const QByteArray uri = QUrl::fromLocalFile(path).toEncoded();

    const QHash<QString, std::pair<int, QColor>> folders{{QStringLiteral("normal"), {128, Qt::red}},
                                                         {QStringLiteral("large"), {256, Qt::green}}};
    for (const QString& entry : entries) {
        const QString folder = entry.section(QLatin1Char('='), 0, 0);
        const QString state = entry.section(QLatin1Char('='), 1);
        const auto [side, colour] = folders.value(folder);
        const QByteArray claimedURI = state == QStringLiteral("other") ? QByteArray("file:///elsewhere.pdf") : uri;
        const qint64 claimedTime = state == QStringLiteral("stale") ? mtime - 60 : mtime;
        cache.write(folder, path, solid(QSize(side, side), colour), claimedURI, claimedTime);
    }

    const QImage thumbnail = Thumbnails::fileThumbnail(path, pixelSize);
    if (!expectedColour.isValid()) {
        QVERIFY(thumbnail.isNull());
        return;
    }
    QCOMPARE(thumbnail.size(), QSize(expectedSide, expectedSide));
    QVERIFY(near(thumbnail.pixelColor(5, 5), expectedColour));
}

void TestThumbnailProvider::fileTypeIconAndDescription()
{
    const QString text = m_folder.filePath(QStringLiteral("notes.txt"));
    const QString blob = m_folder.filePath(QStringLiteral("blob"));
    QuillomareTest::writeFile(text, "hello");
    QuillomareTest::writeFile(blob, QByteArray("\x00\x01\x02\xff\xfe", 5));

    QVERIFY(!Thumbnails::fileTypeIcon(text).isNull());
    QVERIFY(!Thumbnails::fileTypeIcon(text).pixmap(32, 32).isNull());
    QVERIFY(!Thumbnails::fileTypeIcon(m_folder.path()).isNull());
    QVERIFY(Thumbnails::fileTypeIcon(m_folder.filePath(QStringLiteral("missing.txt"))).isNull());
    QVERIFY(!Thumbnails::fileTypeDescription(text).isEmpty());
    QCOMPARE(Thumbnails::fileTypeDescription(blob), QString());
}

void TestThumbnailProvider::requestDeliversOnTheGuiThread()
{
    QObject receiver;
    QThread* workThread = nullptr;
    QThread* doneThread = nullptr;
    QImage delivered;
    Thumbnails::request(
        &receiver,
        [&workThread] {
            workThread = QThread::currentThread();
            return solid(QSize(4, 3), Qt::red);
        },
        [&](const QImage& image) {
            doneThread = QThread::currentThread();
            delivered = image;
        });

    QVERIFY(Thumbnails::waitForPendingRequests());
    QCOMPARE(delivered.size(), QSize(4, 3));
    QCOMPARE(doneThread, qApp->thread());
    QVERIFY(workThread != nullptr && workThread != qApp->thread());
}

void TestThumbnailProvider::requestIsDroppedAfterTheReceiverIsGone()
{
    auto receiver = std::make_unique<QObject>();
    QSemaphore workMayFinish;
    bool delivered = false;
    Thumbnails::request(
        receiver.get(),
        [&workMayFinish] {
            workMayFinish.acquire();
            return solid(QSize(2, 2), Qt::blue);
        },
        [&delivered](const QImage&) { delivered = true; });

    QVERIFY(!Thumbnails::waitForPendingRequests(50));
    receiver.reset();
    workMayFinish.release();

    QVERIFY(Thumbnails::waitForPendingRequests());
    QVERIFY(!delivered);
}

QUILLOMARE_GUI_TEST_MAIN(TestThumbnailProvider)
#include "tst_thumbnailprovider.moc"
