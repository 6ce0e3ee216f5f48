#include "TestSupport.h"

#include <Pasteboard/MacFileContent.h>
#include <Platform/StandardFolders.h>
#include <Platform/Workspace.h>
#include <QuillomareCore/Errors.h>
#include <QuillomareCore/Language.h>

#include <QBuffer>
#include <QDir>
#include <QFile>
#include <QImage>
#include <QTemporaryDir>

#include <ctime>
#include <sys/stat.h>

using namespace QuillomareMac;
namespace Language = QuillomareCore::Language;
using QuillomareCore::ClipboardItem;
using QuillomareCore::ClipboardPayload;

namespace {

QByteArray encodedImage(int width, int height, const char* format, bool noisy = false)
{
    QImage image(width, height, QImage::Format_RGB32);
    image.fill(Qt::darkCyan);
    if (noisy) {
        quint32 seed = 12345;
        for (int y = 0; y < height; ++y)
            for (int x = 0; x < width; ++x) {
                seed = seed * 1664525u + 1013904223u;
                image.setPixel(x, y, seed >> 8);
            }
    }
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    if (!image.save(&buffer, format))
        qFatal("Cannot encode a test image as %s", format);
    return bytes;
}

// A small JPEG whose frame header claims another size: what a reader of headers sees, while a
// decoder would run out of data (or past its allocation limit).
QByteArray jpegClaiming(int width, int height)
{
    QByteArray jpeg = encodedImage(16, 16, "JPEG");
    const qsizetype frame = jpeg.indexOf("\xFF\xC0"); // baseline start-of-frame marker
    if (frame < 0)
        qFatal("No start-of-frame marker in the test JPEG");
    jpeg[frame + 5] = char(height >> 8);
    jpeg[frame + 6] = char(height & 0xFF);
    jpeg[frame + 7] = char(width >> 8);
    jpeg[frame + 8] = char(width & 0xFF);
    return jpeg;
}

struct FileStat
{
    quint64 inode = 0;
    int mode = 0;
};

FileStat statOf(const QString& path)
{
    struct stat info{};
    if (::stat(QFile::encodeName(path).constData(), &info) != 0)
        return {};
    return {quint64(info.st_ino), int(info.st_mode & 0777)};
}

QList<QUrl> fileURLs(const QStringList& paths)
{
    QList<QUrl> urls;
    for (const QString& path : paths)
        urls.append(QUrl::fromLocalFile(path));
    return urls;
}

} // namespace

Q_DECLARE_METATYPE(QuillomareCore::ClipboardItem)

class TestMacFileContent : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_fixtures; // read-only image fixtures shared by the data-driven tests
    std::unique_ptr<QTemporaryDir> m_dir;
    std::shared_ptr<Platform::MemoryWorkspace> m_workspace;

    QString fixture(const QString& name) const { return m_fixtures.filePath(name); }
    QString file(const QString& name) const { return m_dir->filePath(name); }
    QString exportFolder() const { return ClipboardImageExportStore::baseFolderPath() + QStringLiteral("/ExportedImages"); }

private Q_SLOTS:
    void initTestCase()
    {
        // A fixed zone east of UTC, so that local-time file names differ from UTC ones.
        qputenv("TZ", "CST-8");
        tzset();
        Language::setIsChineseForTesting(false);
        QVERIFY(m_fixtures.isValid());

        using QuillomareTest::writeFile;
        const QByteArray png = encodedImage(4, 3, "PNG");
        writeFile(fixture(QStringLiteral("photo.png")), png);
        writeFile(fixture(QStringLiteral("photo.jpg")), encodedImage(8, 8, "JPEG"));
        writeFile(fixture(QStringLiteral("SHOUT.PNG")), png);
        writeFile(fixture(QStringLiteral("Mixed.JpEg")), encodedImage(8, 8, "JPEG"));
        writeFile(fixture(QStringLiteral("photo.bmp")), encodedImage(3, 3, "BMP"));
        writeFile(fixture(QStringLiteral("noextension")), png);
        writeFile(fixture(QStringLiteral("png-bytes.txt")), png);
        writeFile(fixture(QStringLiteral("text.png")), "hello, not an image\n");
        writeFile(fixture(QStringLiteral("empty.png")), QByteArray());
        writeFile(fixture(QStringLiteral("huge.jpg")), jpegClaiming(8000, 6000));
        QVERIFY(QDir().mkpath(fixture(QStringLiteral("folder.png"))));
        writeFile(fixture(QStringLiteral("notes.txt")), "notes");
    }

    void init()
    {
        m_dir = std::make_unique<QTemporaryDir>();
        QVERIFY(m_dir->isValid());
        m_workspace = std::make_shared<Platform::MemoryWorkspace>();
        Platform::Workspace::setSharedForTesting(m_workspace);
    }

    void cleanup()
    {
        Platform::Workspace::setSharedForTesting(nullptr);
        QDir(ClipboardImageExportStore::baseFolderPath()).removeRecursively();
        QDir(Platform::StandardFolders::caches() + QStringLiteral("/Quillomare")).removeRecursively();
        m_dir.reset();
    }

    // MARK: Cleaning and image recognition

    void cleanPaths_data()
    {
        QTest::addColumn<QStringList>("paths");
        QTest::addColumn<QStringList>("expected");
        QTest::newRow("nothing") << QStringList() << QStringList();
        QTest::newRow("blanks only") << QStringList{QString(), QStringLiteral("  "), QStringLiteral("\n\t\r\n")}
                                     << QStringList();
        QTest::newRow("trimmed, order kept")
            << QStringList{QStringLiteral("  /b/file \n"), QString(), QStringLiteral("\t/a")}
            << QStringList{QStringLiteral("/b/file"), QStringLiteral("/a")};
        QTest::newRow("unicode spaces at the ends")
            << QStringList{QStringLiteral("\u3000/tmp/x\u00a0\u2028")} << QStringList{QStringLiteral("/tmp/x")};
        QTest::newRow("inner spaces kept")
            << QStringList{QStringLiteral(" /tmp/my file.png ")} << QStringList{QStringLiteral("/tmp/my file.png")};
    }

    void cleanPaths()
    {
        QFETCH(QStringList, paths);
        QFETCH(QStringList, expected);
        QCOMPARE(MacFileContent::cleanPaths(paths), expected);
    }

    void isImageFilePath_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<bool>("expected");
        QTest::newRow("png") << QStringLiteral("photo.png") << true;
        QTest::newRow("jpeg") << QStringLiteral("photo.jpg") << true;
        QTest::newRow("bmp") << QStringLiteral("photo.bmp") << true;
        QTest::newRow("extension in capitals") << QStringLiteral("SHOUT.PNG") << true;
        QTest::newRow("extension in mixed case") << QStringLiteral("Mixed.JpEg") << true;
        QTest::newRow("image without extension") << QStringLiteral("noextension") << false;
        QTest::newRow("image under another extension") << QStringLiteral("png-bytes.txt") << false;
        QTest::newRow("text under an image extension") << QStringLiteral("text.png") << false;
        QTest::newRow("empty file") << QStringLiteral("empty.png") << false;
        QTest::newRow("8000×6000 photo, judged by its header") << QStringLiteral("huge.jpg") << true;
        QTest::newRow("folder with an image extension") << QStringLiteral("folder.png") << false;
        QTest::newRow("missing file") << QStringLiteral("missing.png") << false;
    }

    void isImageFilePath()
    {
        QFETCH(QString, name);
        QFETCH(bool, expected);
        QCOMPARE(MacFileContent::isImageFilePath(fixture(name)), expected);
        QVERIFY(!MacFileContent::isImageFilePath(QString()));
    }

    void isImageFilePath_judgesAReplacedFileAfresh()
    {
        const QString path = file(QStringLiteral("changing.png"));
        QuillomareTest::writeFile(path, "not yet an image");
        QVERIFY(!MacFileContent::isImageFilePath(path));
        QuillomareTest::writeFile(path, encodedImage(5, 5, "PNG"));
        QVERIFY(MacFileContent::isImageFilePath(path));
        QuillomareTest::writeFile(path, "no longer an image");
        QVERIFY(!MacFileContent::isImageFilePath(path));
        QFile::remove(path);
        QVERIFY(!MacFileContent::isImageFilePath(path));
    }

    void allAreImageFiles_data()
    {
        QTest::addColumn<QStringList>("names");
        QTest::addColumn<bool>("expected");
        QTest::newRow("none") << QStringList() << false;
        QTest::newRow("images") << QStringList{QStringLiteral("photo.png"), QStringLiteral("SHOUT.PNG")} << true;
        QTest::newRow("one is not") << QStringList{QStringLiteral("photo.png"), QStringLiteral("text.png")} << false;
        QTest::newRow("one is missing") << QStringList{QStringLiteral("missing.png"), QStringLiteral("photo.jpg")}
                                        << false;
    }

    void allAreImageFiles()
    {
        QFETCH(QStringList, names);
        QFETCH(bool, expected);
        QStringList paths;
        for (const QString& name : names)
            paths.append(QStringLiteral("  ") + fixture(name) + QStringLiteral("\n"));
        QCOMPARE(MacFileContent::allAreImageFiles(paths), expected);
        // Blank paths are dropped before judging: they neither fail nor make an empty list pass.
        if (!paths.isEmpty())
            QCOMPARE(MacFileContent::allAreImageFiles(paths + QStringList{QStringLiteral(" ")}), expected);
        else
            QVERIFY(!MacFileContent::allAreImageFiles({QStringLiteral(" "), QString()}));
    }

    void pngData_keepsWholePNGsAndRefusesCutOnes()
    {
        const QByteArray png = encodedImage(96, 96, "PNG", true);
        const auto kept = MacFileContent::pngData(png, Platform::PasteboardType::png);
        QVERIFY(kept);
        QCOMPARE(kept->first, png);
        QCOMPARE(kept->second, QSize(96, 96));
        // The first 3 KB of it: the header is intact, the pixels are not.
        QVERIFY(!MacFileContent::pngData(png.left(3000), Platform::PasteboardType::png));
        QVERIFY(!MacFileContent::pngData(png.left(3000), QStringLiteral("image/tiff")));
    }

    // MARK: Revealing

    void revealTarget()
    {
        const QString a = file(QStringLiteral("a.txt"));
        const QString b = file(QStringLiteral("sub/b.txt"));
        QuillomareTest::writeFile(a, "a");
        QuillomareTest::writeFile(b, "b");
        const QString missing = file(QStringLiteral("missing.txt"));
        const QDateTime now = QuillomareTest::at(0);

        for (const ClipboardItem& nothing : {QuillomareTest::fileItem({QStringLiteral(" "), QString()}, now),
                                             QuillomareTest::fileItem({missing}, now), QuillomareTest::textItem(a, now),
                                             QuillomareTest::imageItem(encodedImage(2, 2, "PNG"), now)})
            QCOMPARE(ClipboardFileActions::revealTarget(nothing), std::nullopt);

        // One file, given untidily: trimmed, ".." resolved, rooted at its real folder.
        const QString untidy = QStringLiteral("  ") + m_dir->path() + QStringLiteral("/sub/../sub/./b.txt\n");
        const auto single = ClipboardFileActions::revealTarget(QuillomareTest::fileItem({missing, untidy}, now));
        QVERIFY(single);
        QCOMPARE(single->urls, fileURLs({b}));
        QCOMPARE(single->primaryFilePath, b);
        QCOMPARE(single->rootedAtPath, m_dir->path() + QStringLiteral("/sub"));

        // A folder is revealed like a file.
        const auto folder = ClipboardFileActions::revealTarget(QuillomareTest::fileItem({file(QStringLiteral("sub"))}, now));
        QVERIFY(folder);
        QCOMPARE(folder->primaryFilePath, file(QStringLiteral("sub")));
        QCOMPARE(folder->rootedAtPath, m_dir->path());

        const auto several = ClipboardFileActions::revealTarget(QuillomareTest::fileItem({b, missing, a}, now));
        QVERIFY(several);
        QCOMPARE(several->urls, fileURLs({b, a}));
        QCOMPARE(several->primaryFilePath, std::nullopt);
        QCOMPARE(several->rootedAtPath, std::nullopt);
    }

    void reveal_data()
    {
        QTest::addColumn<QStringList>("names");
        QTest::addColumn<bool>("acceptsSelectFile");
        QTest::addColumn<bool>("acceptsViewerSelection");
        QTest::addColumn<bool>("expectsSelectFile");
        QTest::addColumn<bool>("expectsViewerSelection");
        QTest::addColumn<bool>("shown");
        QTest::newRow("one file, selected in its folder")
            << QStringList{QStringLiteral("a.txt")} << true << true << true << false << true;
        QTest::newRow("one file, refused, falls back")
            << QStringList{QStringLiteral("a.txt")} << false << true << true << true << true;
        QTest::newRow("two files") << QStringList{QStringLiteral("a.txt"), QStringLiteral("b.txt")} << true << true
                                   << false << true << true;
        // A bare session: no file manager, nothing that opens a folder. Not reported as shown.
        QTest::newRow("nothing can show them") << QStringList{QStringLiteral("a.txt"), QStringLiteral("b.txt")}
                                               << false << false << false << true << false;
    }

    void reveal()
    {
        QFETCH(QStringList, names);
        QFETCH(bool, acceptsSelectFile);
        QFETCH(bool, acceptsViewerSelection);
        QFETCH(bool, expectsSelectFile);
        QFETCH(bool, expectsViewerSelection);
        QFETCH(bool, shown);
        QStringList paths;
        for (const QString& name : names) {
            paths.append(file(name));
            QuillomareTest::writeFile(paths.last(), "x");
        }
        m_workspace->acceptsSelectFile = acceptsSelectFile;
        m_workspace->acceptsViewerSelections = acceptsViewerSelection;

        QCOMPARE(ClipboardFileActions::reveal(QuillomareTest::fileItem(paths, QuillomareTest::at(0))), shown);

        if (expectsSelectFile)
            QCOMPARE(m_workspace->selectedFiles, (QList<std::pair<QString, QString>>{{paths.first(), m_dir->path()}}));
        else
            QVERIFY(m_workspace->selectedFiles.isEmpty());
        if (expectsViewerSelection)
            QCOMPARE(m_workspace->viewerSelections, QList<QList<QUrl>>{fileURLs(paths)});
        else
            QVERIFY(m_workspace->viewerSelections.isEmpty());
    }

    void reveal_withoutFilesAsksNothing()
    {
        QVERIFY(!ClipboardFileActions::reveal(QuillomareTest::fileItem({file(QStringLiteral("gone"))}, QuillomareTest::at(0))));
        QVERIFY(!ClipboardFileActions::reveal(QuillomareTest::textItem(QStringLiteral("hi"), QuillomareTest::at(0))));
        QVERIFY(m_workspace->selectedFiles.isEmpty());
        QVERIFY(m_workspace->viewerSelections.isEmpty());
    }

    // MARK: Image export

    void exportedFileName()
    {
        ClipboardItem item = QuillomareTest::imageItem(encodedImage(2, 2, "PNG"), QuillomareTest::at(3723));
        item.id = QUuid(QStringLiteral("{e621e1f8-c36c-495a-93fc-0c247a3e6e5f}"));
        // 13:02:03 UTC is 21:02:03 in the test's zone (UTC+8).
        QCOMPARE(ClipboardImageExportStore::exportedFileName(item), QStringLiteral("Quillomare-20260101-210203-E621E1F8.png"));
    }

    void exportImage_writesOncePrivately()
    {
        const QByteArray png = encodedImage(6, 4, "PNG");
        const ClipboardItem item = QuillomareTest::imageItem(png, QuillomareTest::at(0));
        const QString expected = exportFolder() + u'/' + ClipboardImageExportStore::exportedFileName(item);

        const std::optional<QString> first = ClipboardImageExportStore::exportImage(item);
        QCOMPARE(first, expected);
        QCOMPARE(QuillomareTest::readFile(expected), png);
        const FileStat written = statOf(expected);
        QCOMPARE(written.mode, 0600);
        QCOMPARE(statOf(exportFolder()).mode, 0700);
        QCOMPARE(statOf(ClipboardImageExportStore::baseFolderPath()).mode, 0700);

        // The second export finds the complete file and leaves it alone.
        QCOMPARE(ClipboardImageExportStore::exportImage(item), expected);
        QCOMPARE(statOf(expected).inode, written.inode);
        QCOMPARE(QDir(exportFolder()).entryList(QDir::Files | QDir::Hidden), QStringList{QFileInfo(expected).fileName()});
    }

    void exportImage_skipsWhatIsNotAPlainImage_data()
    {
        QTest::addColumn<ClipboardItem>("item");
        const QDateTime now = QuillomareTest::at(0);
        ClipboardItem sensitive = QuillomareTest::imageItem(encodedImage(2, 2, "PNG"), now);
        sensitive.isSensitive = true;
        QTest::newRow("sensitive image") << sensitive;
        QTest::newRow("empty image") << QuillomareTest::imageItem(QByteArray(), now);
        QTest::newRow("file") << QuillomareTest::fileItem({fixture(QStringLiteral("photo.png"))}, now);
        QTest::newRow("text") << QuillomareTest::textItem(QStringLiteral("hello"), now);
    }

    void exportImage_skipsWhatIsNotAPlainImage()
    {
        QFETCH(ClipboardItem, item);
        QCOMPARE(ClipboardImageExportStore::exportImage(item), std::nullopt);
        QVERIFY(!QFileInfo::exists(exportFolder()));
    }

    void exportImage_replacesAFileThatIsNotTheExport_data()
    {
        QTest::addColumn<QByteArray>("existing");
        const QByteArray png = encodedImage(64, 64, "PNG", true);
        QTest::newRow("cut short") << png.left(png.size() / 2);
        QTest::newRow("empty") << QByteArray();
        QTest::newRow("another image") << encodedImage(64, 64, "PNG");
        QTest::newRow("longer") << png + QByteArray("trailing");
    }

    void exportImage_replacesAFileThatIsNotTheExport()
    {
        QFETCH(QByteArray, existing);
        const QByteArray png = encodedImage(64, 64, "PNG", true);
        const ClipboardItem item = QuillomareTest::imageItem(png, QuillomareTest::at(0));
        const QString path = exportFolder() + u'/' + ClipboardImageExportStore::exportedFileName(item);
        QuillomareTest::writeFile(path, existing);

        QCOMPARE(ClipboardImageExportStore::exportImage(item), path);
        QCOMPARE(QuillomareTest::readFile(path), png);
        QCOMPARE(statOf(path).mode, 0600);
        // Written aside and renamed: nothing but the export is left in the folder.
        QCOMPARE(QDir(exportFolder()).entryList(QDir::Files | QDir::Hidden).size(), 1);
    }

    void exportImage_throwsNamingThePath()
    {
        const ClipboardItem item = QuillomareTest::imageItem(encodedImage(2, 2, "PNG"), QuillomareTest::at(0));

        const auto expectErrorNaming = [&](const QString& path) {
            try {
                ClipboardImageExportStore::exportImage(item);
                QFAIL("expected a file-system error");
            } catch (const QuillomareCore::FileSystemError& error) {
                QVERIFY2(error.localizedDescription().contains(path), qPrintable(error.localizedDescription()));
            }
        };
        // A file where the folder should be, then a folder where the file should be.
        QuillomareTest::writeFile(exportFolder(), "in the way");
        expectErrorNaming(exportFolder());
        QVERIFY(QFile::remove(exportFolder()));
        const QString path = exportFolder() + u'/' + ClipboardImageExportStore::exportedFileName(item);
        QVERIFY(QDir().mkpath(path));
        expectErrorNaming(path);
        QVERIFY(QFileInfo(path).isDir());
    }

    void removeExportedFiles()
    {
        const QStringList folders = ClipboardImageExportStore::cleanupFolderPaths();
        const QString base = ClipboardImageExportStore::baseFolderPath();
        QCOMPARE(folders.size(), 4);
        QCOMPARE(folders.first(), base + QStringLiteral("/ExportedImages"));
        QCOMPARE(folders.at(2), base + QStringLiteral("/Quillomare"));
        QCOMPARE(QSet<QString>(folders.begin(), folders.end()).size(), 4);
        for (const QString& folder : folders)
            QCOMPARE(QFileInfo(folder).path(), base);

        const ClipboardItem removed = QuillomareTest::imageItem(encodedImage(2, 2, "PNG"), QuillomareTest::at(0));
        const ClipboardItem kept = QuillomareTest::imageItem(encodedImage(3, 3, "PNG"), QuillomareTest::at(60));
        // Any kind of entry: a text entry's name is removed as well.
        const ClipboardItem text = QuillomareTest::textItem(QStringLiteral("t"), QuillomareTest::at(120));
        const auto exported = [](const QString& folder, const ClipboardItem& item) {
            return folder + u'/' + ClipboardImageExportStore::exportedFileName(item);
        };
        QVERIFY(ClipboardImageExportStore::exportImage(removed));
        QVERIFY(ClipboardImageExportStore::exportImage(kept));
        QuillomareTest::writeFile(exported(folders[1], removed), "old");
        QuillomareTest::writeFile(exported(folders[1], text), "old");
        QuillomareTest::writeFile(exported(folders[2], removed), "old");
        QuillomareTest::writeFile(folders[2] + QStringLiteral("/.directory"), "hidden");
        QuillomareTest::writeFile(folders[2] + QStringLiteral("/.cache/thumb"), "hidden folder");
        QuillomareTest::writeFile(exported(folders[3], removed), "old");
        QuillomareTest::writeFile(folders[3] + QStringLiteral("/notes.txt"), "somebody's file");

        ClipboardImageExportStore::removeExportedFiles({removed, text});

        QVERIFY(!QFileInfo::exists(exported(folders[0], removed)));
        QVERIFY(QFileInfo::exists(exported(folders[0], kept)));
        QVERIFY(!QFileInfo::exists(folders[1]));
        QVERIFY(!QFileInfo::exists(folders[2]));
        QVERIFY(!QFileInfo::exists(exported(folders[3], removed)));
        QVERIFY(QFileInfo::exists(folders[3] + QStringLiteral("/notes.txt")));
        QVERIFY(QFileInfo(base).isDir());

        // The last export goes, and its folder with it.
        ClipboardImageExportStore::removeExportedFiles({kept});
        QVERIFY(!QFileInfo::exists(folders[0]));
        QVERIFY(QFileInfo::exists(folders[3]));
    }

    void removeExportedFiles_emptyListTouchesNothing()
    {
        const QString folder = ClipboardImageExportStore::cleanupFolderPaths().first();
        QVERIFY(QDir().mkpath(folder));
        ClipboardImageExportStore::removeExportedFiles({});
        QVERIFY(QFileInfo(folder).isDir());
        ClipboardImageExportStore::removeExportedFiles({QuillomareTest::textItem(QStringLiteral("t"), QuillomareTest::at(0))});
        QVERIFY(!QFileInfo::exists(folder));
    }

    void removeExportedFiles_leavesWhatALinkPointsAt()
    {
        // A clean-up folder that is a link to a folder of someone else's hidden files: the link
        // may go, the files may not.
        const QString outside = file(QStringLiteral("outside"));
        QuillomareTest::writeFile(outside + QStringLiteral("/.keep"), "precious");
        const QString link = ClipboardImageExportStore::cleanupFolderPaths().at(1);
        QVERIFY(QDir().mkpath(ClipboardImageExportStore::baseFolderPath()));
        QVERIFY(QFile::link(outside, link));

        ClipboardImageExportStore::removeExportedFiles({QuillomareTest::textItem(QStringLiteral("t"), QuillomareTest::at(0))});

        QCOMPARE(QuillomareTest::readFile(outside + QStringLiteral("/.keep")), QByteArray("precious"));
        QVERIFY(!QFileInfo(link).isSymLink());
    }

    // MARK: Drag-out files

    void pngFileWriter_rewritesAtEveryDrag()
    {
        const QUuid id(QStringLiteral("{e621e1f8-c36c-495a-93fc-0c247a3e6e5f}"));
        const QString folder = Platform::StandardFolders::caches()
            + QStringLiteral("/Quillomare/DragExports/E621E1F8-C36C-495A-93FC-0C247A3E6E5F");
        const QString path = folder + QStringLiteral("/Quillomare-e621e1f8.png");

        const QByteArray first = encodedImage(4, 4, "PNG");
        const auto writer = DragExportFileStore::pngFileWriter(first, id);
        QVERIFY(writer);
        QCOMPARE(*writer, Platform::PasteboardObject(QUrl::fromLocalFile(path)));
        QCOMPARE(QuillomareTest::readFile(path), first);
        QCOMPARE(statOf(path).mode, 0600);
        QCOMPARE(statOf(folder).mode, 0700);

        const QByteArray second = encodedImage(5, 5, "PNG");
        QCOMPARE(DragExportFileStore::pngFileWriter(second, id), writer);
        QCOMPARE(QuillomareTest::readFile(path), second);
        QCOMPARE(QDir(folder).entryList(QDir::Files | QDir::Hidden), QStringList{QFileInfo(path).fileName()});
    }

    // Folders that were there before, open to others (an older version, a hand-made folder),
    // are closed once the program puts a picture in them.
    void pngFileWriter_closesTheProgramsExistingFolders()
    {
        const QString product = Platform::StandardFolders::caches() + QStringLiteral("/Quillomare");
        QVERIFY(QDir().mkpath(product + QStringLiteral("/DragExports")));
        QVERIFY(QFile::setPermissions(product, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner |
                                                   QFileDevice::ReadGroup | QFileDevice::ExeGroup |
                                                   QFileDevice::ReadOther | QFileDevice::ExeOther));
        QCOMPARE(statOf(product).mode, 0755);
        QVERIFY(DragExportFileStore::pngFileWriter(encodedImage(4, 4, "PNG"), QUuid::createUuid()));
        QCOMPARE(statOf(product).mode, 0700);
        QCOMPARE(statOf(product + QStringLiteral("/DragExports")).mode, 0700);
    }

    void pngFileWriter_refusesWhatIsNotAnImage()
    {
        const QUuid id = QUuid::createUuid();
        const QString dragFolder = Platform::StandardFolders::caches() + QStringLiteral("/Quillomare/DragExports");
        QCOMPARE(DragExportFileStore::pngFileWriter(QByteArray(), id), std::nullopt);
        QCOMPARE(DragExportFileStore::pngFileWriter("not an image at all", id), std::nullopt);
        QVERIFY(!QFileInfo::exists(dragFolder));
    }

    void fileURLWriters()
    {
        const QString a = file(QStringLiteral("a.txt"));
        const QString folder = file(QStringLiteral("folder"));
        QuillomareTest::writeFile(a, "a");
        QVERIFY(QDir().mkpath(folder));
        const QList<Platform::PasteboardObject> writers = DragExportFileStore::fileURLWriters(
            {QStringLiteral(" ") + folder + QStringLiteral("\n"), file(QStringLiteral("missing")), QString(), a});
        QCOMPARE(writers, (QList<Platform::PasteboardObject>{QUrl::fromLocalFile(folder), QUrl::fromLocalFile(a)}));
        QVERIFY(DragExportFileStore::fileURLWriters({QStringLiteral("  ")}).isEmpty());
    }

    // MARK: Previews

    void previewImage_data()
    {
        QTest::addColumn<ClipboardItem>("item");
        QTest::addColumn<bool>("hasImage");
        QTest::addColumn<QString>("filePath"); // empty: none

        const QDateTime now = QuillomareTest::at(0);
        const QString png = fixture(QStringLiteral("photo.png"));
        QTest::newRow("image bytes") << QuillomareTest::imageItem(encodedImage(2, 2, "PNG"), now) << true << QString();
        QTest::newRow("no image bytes") << QuillomareTest::imageItem(QByteArray(), now) << false << QString();
        QTest::newRow("one image file, untidy")
            << QuillomareTest::fileItem({QStringLiteral("  ") + png + QStringLiteral("\n")}, now) << true << png;
        QTest::newRow("blank and an image file")
            << QuillomareTest::fileItem({QStringLiteral(" "), fixture(QStringLiteral("SHOUT.PNG"))}, now) << true
            << fixture(QStringLiteral("SHOUT.PNG"));
        QTest::newRow("image and another file")
            << QuillomareTest::fileItem({png, fixture(QStringLiteral("notes.txt"))}, now) << false << QString();
        QTest::newRow("two images")
            << QuillomareTest::fileItem({png, fixture(QStringLiteral("photo.jpg"))}, now) << false << QString();
        QTest::newRow("one file that is no image")
            << QuillomareTest::fileItem({fixture(QStringLiteral("text.png"))}, now) << false << QString();
        QTest::newRow("text naming an image") << QuillomareTest::textItem(png, now) << false << QString();
        ClipboardItem empty = QuillomareTest::textItem(QString(), now);
        empty.payload = ClipboardPayload::empty();
        QTest::newRow("empty payload") << empty << false << QString();
    }

    void previewImage()
    {
        QFETCH(ClipboardItem, item);
        QFETCH(bool, hasImage);
        QFETCH(QString, filePath);
        QCOMPARE(MacPreview::hasMacPreviewImagePayload(item), hasImage);
        QCOMPARE(MacPreview::macPreviewImageFilePath(item),
                 filePath.isEmpty() ? std::nullopt : std::optional<QString>(filePath));
    }
};

QUILLOMARE_TEST_MAIN(TestMacFileContent)
#include "tst_macfilecontent.moc"
