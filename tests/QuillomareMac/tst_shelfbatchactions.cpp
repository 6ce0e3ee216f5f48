#include "TestSupport.h"

#include <Platform/Archiver.h>
#include <Platform/Pasteboard.h>
#include <Platform/SharingService.h>
#include <Platform/StandardFolders.h>
#include <Platform/Workspace.h>
#include <QuillomareCore/Errors.h>
#include <QuillomareCore/Foundation.h>
#include <QuillomareCore/Language.h>
#include <Shelf/ShelfBatchActions.h>
#include <Shelf/ShelfItem.h>

#include <QBuffer>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QImageReader>
#include <QProcess>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <QUrl>

#include <sys/stat.h>
#include <unistd.h>

using namespace QuillomareMac;
namespace Language = QuillomareCore::Language;
using QuillomareCore::ClipKind;
using QuillomareTest::readFile;

namespace {

ShelfItem item(ShelfPayload payload, ClipKind kind)
{
    return ShelfItem{QUuid::createUuid(), QuillomareTest::at(0), kind, QStringLiteral("t"), QStringLiteral("s"),
                     QStringLiteral("p"), std::move(payload),    false};
}

ShelfItem files(const QStringList& paths)
{
    return item(ShelfPayload::fileURLs(paths), ClipKind::file);
}

ShelfItem text(const QString& value)
{
    return item(ShelfPayload::text(value), ClipKind::text);
}

QByteArray pngOf(const QImage& image)
{
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "PNG");
    return bytes;
}

QImage noisyImage(int width, int height)
{
    QImage image(width, height, QImage::Format_RGB32);
    quint32 seed = 7;
    for (int y = 0; y < height; ++y) {
        auto* line = reinterpret_cast<QRgb*>(image.scanLine(y));
        for (int x = 0; x < width; ++x) {
            seed = seed * 1664525u + 1013904223u;
            // Smooth colour with a little noise, as a photo has.
            line[x] = qRgb((x * 255 / width + int(seed >> 29)) & 255, (y * 255 / height) & 255, int(seed >> 24) & 31);
        }
    }
    return image;
}

int modeOf(const QString& path)
{
    struct stat info
    {
    };
    return ::stat(QFile::encodeName(path).constData(), &info) == 0 ? int(info.st_mode & 07777) : -1;
}

QStringList everythingIn(const QString& folder)
{
    QStringList names;
    QDirIterator it(folder, QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
                    QDirIterator::Subdirectories);
    while (it.hasNext())
        names.append(QDir(folder).relativeFilePath(it.next()));
    names.sort();
    return names;
}

// The error an action fails with; none when it succeeds.
template <typename Action>
std::optional<ShelfBatchError> batchError(Action&& action)
{
    try {
        action();
    } catch (const ShelfBatchError& error) {
        return error;
    }
    return std::nullopt;
}

class RecordingSharing final : public Platform::SharingService
{
public:
    bool isAvailable() const override { return available; }
    bool perform(const QList<Platform::PasteboardObject>& items) override
    {
        performed.append(items);
        return true;
    }
    bool available = true;
    QList<QList<Platform::PasteboardObject>> performed;
};

} // namespace

class TestShelfBatchActions : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<QTemporaryDir> m_dir;
    Platform::MemoryPasteboard m_pasteboard;

    QString makeFile(const QString& name, const QByteArray& bytes = "x")
    {
        const QString path = m_dir->filePath(name);
        QDir().mkpath(QFileInfo(path).path());
        QuillomareTest::writeFile(path, bytes);
        return path;
    }
    QString exports() const { return ShelfBatchActions::exportFolderPath(); }

    // Opened again with another program's reader, which checks every entry's CRC; empty when it
    // found fault.
    QString unzip(const QString& archive)
    {
        const QString out = m_dir->filePath(QStringLiteral("unzipped-") + QFileInfo(archive).completeBaseName());
        QProcess process;
        process.start(QStringLiteral("unzip"), {QStringLiteral("-q"), archive, QStringLiteral("-d"), out});
        if (process.waitForFinished(30000) && process.exitCode() == 0)
            return out;
        qWarning() << "unzip failed:" << process.readAllStandardError();
        return QString();
    }

private Q_SLOTS:
    void init()
    {
        Language::setIsChineseForTesting(false);
        m_dir = std::make_unique<QTemporaryDir>();
        QVERIFY(m_dir->isValid());
        // Each test starts without exports.
        QVERIFY(QDir(exports()).removeRecursively());
        m_pasteboard.simulateExternalCopy({});
    }

    void cleanup() { Platform::Archiver::setReadFailureAfterBytesForTesting(std::nullopt); }

    void exportsGoToAFolderOfThisUserAlone()
    {
        const QString product = QFileInfo(exports()).path();
        QCOMPARE(product, Platform::StandardFolders::caches() + QStringLiteral("/Quillomare"));
        QVERIFY(QDir(product).removeRecursively());
        const mode_t umask = ::umask(0);
        const auto restoreUmask = qScopeGuard([umask] { ::umask(umask); });
        const QList<ShelfItem> selection{files({makeFile(QStringLiteral("a.txt"))})};
        ShelfBatchActions::zipFiles(selection);
        // Made under an open umask, the folder and the product folder above it are ours alone.
        QCOMPARE(modeOf(product), 0700);
        QCOMPARE(modeOf(exports()), 0700);
        // One that an earlier version left open is closed.
        QCOMPARE(::chmod(QFile::encodeName(exports()).constData(), 0777), 0);
        ShelfBatchActions::zipFiles(selection);
        QCOMPARE(modeOf(exports()), 0700);

        if (::geteuid() != 0)
            QSKIP("handing the folder to another user needs root");
        QCOMPARE(::chown(QFile::encodeName(exports()).constData(), 65534, 65534), 0);
        Language::setIsChineseForTesting(true);
        try {
            ShelfBatchActions::zipFiles(selection);
            QFAIL("The zip went into another user's folder");
        } catch (const QuillomareCore::FileSystemError& error) {
            QCOMPARE(error.localizedDescription(),
                     QStringLiteral("文件夹“%1”属于其他用户，不会在其中存放文件").arg(exports()));
        }
        QCOMPARE(everythingIn(exports()), (QStringList{QStringLiteral("a.txt 2.zip"), QStringLiteral("a.txt.zip")}));
    }

    // --- Copying names and paths

    void copiesNamesAndPathsOnePerLine()
    {
        const QString a = makeFile(QStringLiteral("docs/a.txt"));
        const QString photos = m_dir->filePath(QStringLiteral("docs"));
        const QList<ShelfItem> selection{files({a, QStringLiteral(" ")}), text(QStringLiteral("not a file")),
                                         files({photos + QLatin1Char('/')})};
        QVERIFY(ShelfBatchActions::copyFileNames(selection, m_pasteboard));
        QCOMPARE(m_pasteboard.string(), std::optional<QString>(QStringLiteral("a.txt\ndocs")));
        QVERIFY(ShelfBatchActions::copyFilePaths(selection, m_pasteboard));
        const std::optional<QString> paths(a + QLatin1Char('\n') + photos);
        QCOMPARE(m_pasteboard.string(), paths);

        // Without files the pasteboard is left as it is.
        const qint64 count = m_pasteboard.changeCount();
        const QList<ShelfItem> noFiles{text(QStringLiteral("x")), files({QStringLiteral("  ")})};
        QVERIFY(!ShelfBatchActions::copyFileNames(noFiles, m_pasteboard));
        QVERIFY(!ShelfBatchActions::copyFilePaths(noFiles, m_pasteboard));
        QCOMPARE(m_pasteboard.changeCount(), count);
        QCOMPARE(m_pasteboard.string(), paths);
    }

    // --- Zip

    void zipHoldsEachSourceUnderItsName()
    {
        const QByteArray photo = QuillomareCore::Base64::encode(QByteArray(200000, '\x7f')); // compressible
        const QString notes = makeFile(QStringLiteral("drop/报告 1.txt"), "notes");
        makeFile(QStringLiteral("drop/Photos/2026/a.jpg"), photo);
        const QString script = makeFile(QStringLiteral("drop/Photos/run.sh"), "#!/bin/sh\n");
        QVERIFY(QFile::setPermissions(script, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner |
                                                  QFileDevice::ReadGroup | QFileDevice::ExeGroup));
        QVERIFY(QDir().mkpath(m_dir->filePath(QStringLiteral("drop/Photos/empty"))));
        QVERIFY(QFile::link(QStringLiteral("2026/a.jpg"), m_dir->filePath(QStringLiteral("drop/Photos/latest.jpg"))));
        const QString same1 = makeFile(QStringLiteral("one/same.txt"), "1");
        const QString same2 = makeFile(QStringLiteral("two/same.txt"), "2");

        const QString archive =
            ShelfBatchActions::zipFiles({files({notes, m_dir->filePath(QStringLiteral("drop/Photos/"))}),
                                         text(QStringLiteral("skipped")), files({same1}), files({same2, same1})});
        QCOMPARE(QFileInfo(archive).path(), exports());
        QVERIFY(QFileInfo(archive).fileName().startsWith(QStringLiteral("Shelf ")));
        QCOMPARE(everythingIn(exports()), QStringList{QFileInfo(archive).fileName()}); // nothing else left

        const QString out = unzip(archive);
        QCOMPARE(everythingIn(out),
                 (QStringList{QStringLiteral("Photos"), QStringLiteral("Photos/2026"),
                              QStringLiteral("Photos/2026/a.jpg"), QStringLiteral("Photos/empty"),
                              QStringLiteral("Photos/latest.jpg"), QStringLiteral("Photos/run.sh"),
                              QStringLiteral("same 2.txt"), QStringLiteral("same.txt"), QStringLiteral("报告 1.txt")}));
        QCOMPARE(readFile(out + QStringLiteral("/报告 1.txt")), QByteArray("notes"));
        QCOMPARE(readFile(out + QStringLiteral("/Photos/2026/a.jpg")), photo);
        QCOMPARE(readFile(out + QStringLiteral("/same.txt")), QByteArray("1"));
        QCOMPARE(readFile(out + QStringLiteral("/same 2.txt")), QByteArray("2"));
        QCOMPARE(QFileInfo(out + QStringLiteral("/Photos/latest.jpg")).symLinkTarget(),
                 out + QStringLiteral("/Photos/2026/a.jpg"));
        QCOMPARE(modeOf(out + QStringLiteral("/Photos/run.sh")), 0750);
        QVERIFY(
            qAbs(QFileInfo(out + QStringLiteral("/same.txt")).lastModified().secsTo(QFileInfo(same1).lastModified())) <=
            2);
    }

    void aSingleSourceNamesTheArchive()
    {
        makeFile(QStringLiteral("Photos/a.png"), "a");
        const ShelfItem folder = files({m_dir->filePath(QStringLiteral("Photos"))});
        QCOMPARE(QFileInfo(ShelfBatchActions::zipFiles({folder})).fileName(), QStringLiteral("Photos.zip"));
        QCOMPARE(QFileInfo(ShelfBatchActions::zipFiles({folder})).fileName(), QStringLiteral("Photos 2.zip"));
        QCOMPARE(everythingIn(unzip(exports() + QStringLiteral("/Photos 2.zip"))),
                 (QStringList{QStringLiteral("Photos"), QStringLiteral("Photos/a.png")}));
    }

    void zipFailuresLeaveNothingBehind_data()
    {
        QTest::addColumn<QString>("failure");
        QTest::addColumn<QString>("expected");
        QTest::newRow("no files") << QStringLiteral("none") << QStringLiteral("There are no files in the selection");
        QTest::newRow("file gone") << QStringLiteral("gone")
                                   << QStringLiteral("Couldn't create the ZIP archive: “gone.txt” no longer exists");
        QTest::newRow("read error half-way")
            << QStringLiteral("io")
            << QStringLiteral("Couldn't create the ZIP archive: couldn't read “big.bin” (Input/output error)");
    }

    void zipFailuresLeaveNothingBehind()
    {
        QFETCH(QString, failure);
        QFETCH(QString, expected);
        const QString small = makeFile(QStringLiteral("drop/small.txt"), "small");
        const QString big = makeFile(QStringLiteral("drop/big.bin"), QByteArray(1 << 20, 'b'));
        QList<ShelfItem> selection{files({small, big})};
        if (failure == QLatin1String("none"))
            selection = {text(QStringLiteral("only text"))};
        if (failure == QLatin1String("gone"))
            selection.append(files({m_dir->filePath(QStringLiteral("drop/gone.txt"))}));
        if (failure == QLatin1String("io"))
            Platform::Archiver::setReadFailureAfterBytesForTesting(300 * 1024);

        const auto error = batchError([&] { ShelfBatchActions::zipFiles(selection); });
        QVERIFY(error);
        QCOMPARE(error->localizedDescription(), expected);
        QCOMPARE(error->caseOf(), failure == QLatin1String("none") ? ShelfBatchError::Case::noFiles
                                                                   : ShelfBatchError::Case::zipFailed);
        QCOMPARE(everythingIn(exports()), QStringList());
        QCOMPARE(readFile(big).size(), 1 << 20);
    }

    // Enough text to be deflated in parts on several cores, then put together.
    void largeTextReadsBackWhole()
    {
        QStringList paths;
        QList<QByteArray> contents;
        for (int i = 0; i < 6; ++i) {
            QByteArray text;
            for (int line = 0; text.size() < 3500 * 1000; ++line)
                text += QByteArray::number(i) + " line " + QByteArray::number(line * 7919 % 10007) + " of the export\n";
            contents.append(text);
            paths.append(makeFile(QStringLiteral("logs/export-%1.log").arg(i), text));
        }
        const QString archive = ShelfBatchActions::zipFiles({files({m_dir->filePath(QStringLiteral("logs"))})});
        QVERIFY(QFileInfo(archive).size() < 21 * 1000 * 1000 / 3);
        const QString out = unzip(archive);
        for (int i = 0; i < 6; ++i)
            QCOMPARE(readFile(out + QStringLiteral("/logs/export-%1.log").arg(i)), contents[i]);

        Platform::Archiver::setReadFailureAfterBytesForTesting(10 * 1000 * 1000);
        QVERIFY_THROWS_EXCEPTION(ShelfBatchError,
                                 ShelfBatchActions::zipFiles({files({m_dir->filePath(QStringLiteral("logs"))})}));
        QCOMPARE(everythingIn(exports()), QStringList{QFileInfo(archive).fileName()});
    }

    // --- Images

    void convertsEveryImageAndOnlyImages()
    {
        QImage translucent(40, 30, QImage::Format_ARGB32);
        translucent.fill(QColor(10, 200, 30, 128));
        const ShelfItem imageEntry = item(ShelfPayload::imagePNG(pngOf(translucent)), ClipKind::image);
        const QImage photo = noisyImage(64, 48);
        const QString photoPath = makeFile(QStringLiteral("photo.PNG"), pngOf(photo));
        const QString notes = makeFile(QStringLiteral("notes.txt"), "words");
        const QList<ShelfItem> selection{imageEntry, text(QStringLiteral("t")), files({notes, photoPath})};

        const QStringList pngs = ShelfBatchActions::convertImages(selection, ShelfBatchActions::ImageFileType::png);
        QCOMPARE(pngs.size(), 2);
        QCOMPARE(QFileInfo(pngs[0]).fileName(), QStringLiteral("Quillomare-") +
                                                    QuillomareCore::Uuid::text(imageEntry.id).left(8) +
                                                    QStringLiteral(".png"));
        QCOMPARE(QFileInfo(pngs[1]).fileName(), QStringLiteral("photo.png"));
        QCOMPARE(QImageReader(pngs[1]).format(), QByteArray("png"));
        QCOMPARE(QImage(pngs[1]).convertToFormat(QImage::Format_RGB32), photo);
        QCOMPARE(QImage(pngs[0]).convertToFormat(QImage::Format_ARGB32), translucent);

        const QStringList jpegs = ShelfBatchActions::convertImages(selection, ShelfBatchActions::ImageFileType::jpeg);
        QCOMPARE(jpegs.size(), 2);
        QVERIFY(jpegs[1].endsWith(QStringLiteral("/photo.jpg")));
        QCOMPARE(QImageReader(jpegs[0]).format(), QByteArray("jpeg"));
        const QImage flattened(jpegs[0]);
        QCOMPARE(flattened.size(), QSize(40, 30));
        // Half-transparent green over white, not over black.
        const QColor pixel = flattened.pixelColor(20, 15);
        QVERIFY2(qAbs(pixel.red() - 132) <= 8 && qAbs(pixel.green() - 227) <= 8 && qAbs(pixel.blue() - 142) <= 8,
                 qPrintable(pixel.name()));
    }

    void compressingGivesASmallerJPEG()
    {
        const QString source = makeFile(QStringLiteral("Large Photo.png"), pngOf(noisyImage(4000, 3000)));
        const QStringList outputs = ShelfBatchActions::compressImages({files({source})});
        QCOMPARE(outputs.size(), 1);
        QCOMPARE(QFileInfo(outputs[0]).fileName(), QStringLiteral("Large Photo-compressed.jpg"));
        QImageReader reader(outputs[0]);
        QCOMPARE(reader.format(), QByteArray("jpeg"));
        QCOMPARE(reader.size(), QSize(2048, 1536));
        QVERIFY(QFileInfo(outputs[0]).size() < QFileInfo(source).size() / 4);

        // A small image keeps its size.
        const ShelfItem small = item(ShelfPayload::imagePNG(pngOf(noisyImage(300, 200))), ClipKind::image);
        QCOMPARE(QImageReader(ShelfBatchActions::compressImages({small}).first()).size(), QSize(300, 200));
    }

    void aBadImageFailsTheWholeConversion()
    {
        const QString good = makeFile(QStringLiteral("good.png"), pngOf(noisyImage(50, 50)));
        const QByteArray valid = pngOf(noisyImage(50, 50));
        const QString cut = makeFile(QStringLiteral("cut short.png"), valid.left(valid.size() / 2));
        for (const auto type : {ShelfBatchActions::ImageFileType::png, ShelfBatchActions::ImageFileType::jpeg}) {
            const auto error = batchError([&] { ShelfBatchActions::convertImages({files({good, cut})}, type); });
            QVERIFY(error);
            QCOMPARE(error->caseOf(), ShelfBatchError::Case::imageConversionFailed);
            QCOMPARE(error->localizedDescription(),
                     QStringLiteral("Image conversion failed: couldn't read the image “cut short.png”"));
            QCOMPARE(everythingIn(exports()), QStringList());
        }
        const auto noImages = batchError([&] {
            ShelfBatchActions::compressImages({text(QStringLiteral("t")), files({makeFile(QStringLiteral("x.txt"))})});
        });
        QVERIFY(noImages && noImages->caseOf() == ShelfBatchError::Case::noImages);
    }

    // --- Reveal and AirDrop

    void revealsFilesThroughTheWorkspace()
    {
        auto workspace = std::make_shared<Platform::MemoryWorkspace>();
        Platform::Workspace::setSharedForTesting(workspace);
        const QString file = makeFile(QStringLiteral("folder/one.txt"));
        const ShelfItem entry = files({file, QStringLiteral("/gone")});
        QCOMPARE(ShelfFileActions::revealTarget(entry),
                 std::optional(ShelfRevealTarget{{QUrl::fromLocalFile(file)}, file, QFileInfo(file).path()}));
        QVERIFY(ShelfFileActions::reveal(entry));
        QCOMPARE(workspace->selectedFiles, (QList<std::pair<QString, QString>>{{file, QFileInfo(file).path()}}));

        const ShelfItem link = item(ShelfPayload::url(QStringLiteral("https://a.example")), ClipKind::url);
        QVERIFY(!ShelfFileActions::revealTarget(link));
        QVERIFY(!ShelfFileActions::reveal(link));
        QVERIFY(!ShelfFileActions::reveal(files({QStringLiteral("/gone")})));
        Platform::Workspace::setSharedForTesting(nullptr);
    }

    void airDropHandsOverWhatCanBeShared()
    {
        auto sharing = std::make_shared<RecordingSharing>();
        Platform::SharingService::setAirDropForTesting(sharing);
        QVERIFY(ShelfSharingService::airDrop(text(QStringLiteral("hello"))));
        QCOMPARE(sharing->performed, (QList<QList<Platform::PasteboardObject>>{{QStringLiteral("hello")}}));
        QVERIFY(!ShelfSharingService::airDrop(item(ShelfPayload::imagePNG("broken"), ClipKind::image)));
        sharing->available = false;
        QVERIFY(!ShelfSharingService::airDrop(text(QStringLiteral("hello"))));
        QCOMPARE(sharing->performed.size(), 1);
        Platform::SharingService::setAirDropForTesting(nullptr);
    }
};

QUILLOMARE_TEST_MAIN(TestShelfBatchActions)
#include "tst_shelfbatchactions.moc"
