#include "Pasteboard/ClipboardMonitor.h"

#include <Platform/Pasteboard.h>
#include <Platform/Workspace.h>
#include <QuillomareCore/Hashing.h>
#include <QuillomareCore/Language.h>
#include <QuillomareCore/StoredImage.h>

#include "TestSupport.h"

#include <QApplication>
#include <QBuffer>
#include <QTemporaryDir>

using namespace QuillomareCore;
using namespace QuillomareMac;
using namespace QuillomareTest;
using Platform::PasteboardItem;

namespace {

PasteboardItem textItemOf(const QString& text)
{
    PasteboardItem item;
    item.setData(text.toUtf8(), Platform::PasteboardType::string);
    return item;
}

PasteboardItem fileItemOf(const QStringList& paths)
{
    PasteboardItem item;
    QByteArray list;
    for (const QString& path : paths)
        list += QUrl::fromLocalFile(path).toEncoded() + "\r\n";
    item.setData(list, Platform::PasteboardType::uriList);
    return item;
}

QByteArray pngBytes(int width = 4, int height = 3, const char* format = "PNG")
{
    QImage image(width, height, QImage::Format_RGB32);
    image.fill(Qt::darkCyan);
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    if (!image.save(&buffer, format))
        qFatal("Cannot encode a test image as %s", format);
    return bytes;
}

std::optional<QString> opt(const char* text)
{
    return QString::fromUtf8(text);
}

PasteboardItem imageItemOf(const QByteArray& bytes, const QString& type = Platform::PasteboardType::png)
{
    PasteboardItem item;
    item.setData(bytes, type);
    return item;
}

// Remembers each format fetched, as the program offering them would see the requests.
class RecordingPasteboard final : public Platform::Pasteboard
{
public:
    Platform::MemoryPasteboard memory;
    mutable QStringList fetched;

    qint64 changeCount() const override { return memory.changeCount(); }
    QStringList types() const override { return memory.types(); }
    std::optional<QByteArray> data(const QString& type) const override
    {
        fetched.append(type);
        return memory.data(type);
    }
    QList<PasteboardItem> pasteboardItems() const override
    {
        fetched.append(QStringLiteral("every format"));
        return memory.pasteboardItems();
    }
    qint64 clearContents() override { return memory.clearContents(); }
    bool setData(const QByteArray& data, const QString& type) override { return memory.setData(data, type); }
    bool writeItems(const QList<PasteboardItem>& items) override { return memory.writeItems(items); }
};

} // namespace

Q_DECLARE_METATYPE(Platform::PasteboardItem)

class ClipboardMonitorTest : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<QTemporaryDir> m_dir;
    std::unique_ptr<ClipboardStore> m_store;
    Platform::MemoryPasteboard m_pasteboard;
    Platform::MemoryWorkspace m_workspace;
    SensitiveContentDetector m_detector;
    std::unique_ptr<ClipboardMonitor> m_monitor;
    QList<ClipboardCaptureResult> m_results;

    // Copies as another program would and lets the monitor look once.
    ClipboardCaptureResult copy(const QList<PasteboardItem>& items)
    {
        m_results.clear();
        m_pasteboard.simulateExternalCopy(items);
        look();
        if (m_results.size() != 1)
            qFatal("expected one capture result, got %lld", qint64(m_results.size()));
        return m_results.first();
    }
    ClipboardCaptureResult copyText(const QString& text) { return copy({textItemOf(text)}); }
    void look()
    {
        m_monitor->poll();
        m_monitor->waitForPendingCaptures();
    }
    QString writeFile(const QString& name, const QByteArray& bytes)
    {
        const QString path = m_dir->filePath(name);
        QuillomareTest::writeFile(path, bytes);
        return path;
    }

private Q_SLOTS:
    void init()
    {
        Language::setIsChineseForTesting(false);
        m_pasteboard.setSendsChangeNotices(true);
        m_results.clear();
        m_dir = std::make_unique<QTemporaryDir>();
        m_store = std::make_unique<ClipboardStore>(m_dir->filePath(QStringLiteral("clips.json")));
        m_pasteboard.simulateExternalCopy({textItemOf(QStringLiteral("there before launch"))});
        m_workspace.frontmost = Platform::RunningApplication{42, QStringLiteral("org.kde.kate"), QStringLiteral("Kate")};
        m_monitor = std::make_unique<ClipboardMonitor>(m_pasteboard, *m_store, m_detector, m_workspace);
        m_monitor->onCapture = [this](const ClipboardCaptureResult& result) { m_results.append(result); };
    }

    void testWhatIsThereAtLaunchIsNotCaptured()
    {
        look();
        QVERIFY(m_results.isEmpty());
    }

    void testTextBecomesAnEntryWithItsSource()
    {
        const QString text = QStringLiteral("  line one\n\tline two  ");
        const auto result = copyText(text);
        QVERIFY(result.item && !result.ignoredReason);
        const ClipboardItem& item = *result.item;
        QCOMPARE(item.kind, ClipKind(ClipKind::text));
        QCOMPARE(item.preview, QStringLiteral("line one  line two"));
        QCOMPARE(item.payload, ClipboardPayload::text(text));
        QCOMPARE(item.contentHash, ClipHashing::textContentHash(text));
        QCOMPARE(item.sourceAppName, opt("Kate"));
        QCOMPARE(item.sourceBundleIdentifier, opt("org.kde.kate"));
        QCOMPARE(item.sourcePlatform, ClipSourcePlatform(ClipSourcePlatform::mac));
        QVERIFY(!item.isSensitive && !item.isLocalOnly && !item.isPinned);
    }

    void testPreviewKeeps180CharactersAndCutsLonger()
    {
        const QString exact = QString(179, QLatin1Char('a')) + QStringLiteral("👍🏽");
        QCOMPARE(copyText(exact).item->preview, exact);
        const QString longer = exact + QLatin1Char('b');
        QCOMPARE(copyText(longer).item->preview, QString(177, QLatin1Char('a')) + QStringLiteral("..."));
    }

    void testLinkDetection_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("isLink");
        QTest::newRow("https with line breaks around") << QStringLiteral("\nhttps://example.com/a?b=1\n") << true;
        QTest::newRow("mail link in capitals") << QStringLiteral("MAILTO:someone@example.com") << true;
        QTest::newRow("host without scheme") << QStringLiteral("example.com") << false;
        QTest::newRow("file link") << QStringLiteral("file:///etc/hosts") << false;
        QTest::newRow("ftp link") << QStringLiteral("ftp://example.com/x") << false;
        QTest::newRow("sentence") << QStringLiteral("see https://example.com") << false;
    }

    void testLinkDetection()
    {
        QFETCH(QString, text);
        QFETCH(bool, isLink);
        const auto result = copyText(text);
        QCOMPARE(result.item->kind, ClipKind(isLink ? ClipKind::url : ClipKind::text));
        QCOMPARE(result.item->payload.textValue(), text);
    }

    void testBlankTextIsAnUnsupportedFormat()
    {
        const auto result = copyText(QStringLiteral(" \n\t "));
        QVERIFY(!result.item);
        QCOMPARE(result.ignoredReason, opt("Unsupported clipboard format"));
        Language::setIsChineseForTesting(true);
        QCOMPARE(copy({imageItemOf("private", QStringLiteral("application/x-private"))}).ignoredReason,
                 opt("暂不支持该剪贴板格式"));
    }

    void testAnOwnerThatQuitsLeavesNoResult()
    {
        // X11 reports the owner's exit as a change to an empty clipboard: nothing was copied.
        m_pasteboard.simulateExternalCopy({});
        look();
        QVERIFY(m_results.isEmpty());
        QCOMPARE(m_monitor->lastChangeCount(), m_pasteboard.changeCount());
        QCOMPARE(copyText(QStringLiteral("next copy")).item->payload.textValue(), QStringLiteral("next copy"));
    }

    void testCaptureFetchesOnlyTheFormatsItReads_data()
    {
        const QString privateType = QStringLiteral("application/x-private-document");
        const QString hint = QStringLiteral("x-kde-passwordManagerHint");
        PasteboardItem text = textItemOf(QStringLiteral("hello"));
        text.setData(QByteArray(1 << 20, 'p'), privateType);
        text.setData(pngBytes(), Platform::PasteboardType::png);
        PasteboardItem files = fileItemOf({QStringLiteral("/tmp/a.txt")});
        files.setData("/tmp/a.txt", Platform::PasteboardType::string);
        files.setData(QByteArray(1 << 20, 'p'), privateType);
        PasteboardItem image = imageItemOf(QByteArray(1 << 20, 'p'), privateType);
        image.setData(pngBytes(), Platform::PasteboardType::png);
        PasteboardItem secret = textItemOf(QStringLiteral("correct horse battery staple"));
        secret.setData("secret", hint);
        PasteboardItem capitalSecret = textItemOf(QStringLiteral("correct horse battery staple"));
        capitalSecret.setData(" Secret\n", hint);
        PasteboardItem notSecret = textItemOf(QStringLiteral("an ordinary note"));
        notSecret.setData("other", hint);

        QTest::addColumn<PasteboardItem>("item");
        QTest::addColumn<QStringList>("fetched");
        QTest::addColumn<QString>("ignoredReason"); // empty: an entry
        QTest::newRow("text beside a large private format")
            << text << QStringList{Platform::PasteboardType::string} << QString();
        QTest::newRow("files") << files << QStringList{Platform::PasteboardType::uriList} << QString();
        QTest::newRow("image") << image << QStringList{Platform::PasteboardType::png} << QString();
        QTest::newRow("marked secret by a password manager")
            << secret << QStringList{hint} << QStringLiteral("Ignored clipboard from Kate");
        QTest::newRow("marked Secret, capital S, by a password manager")
            << capitalSecret << QStringList{hint} << QStringLiteral("Ignored clipboard from Kate");
        QTest::newRow("password manager hint without secret")
            << notSecret << QStringList{hint, Platform::PasteboardType::string} << QString();
    }

    void testCaptureFetchesOnlyTheFormatsItReads()
    {
        QFETCH(PasteboardItem, item);
        QFETCH(QStringList, fetched);
        QFETCH(QString, ignoredReason);
        RecordingPasteboard pasteboard;
        ClipboardMonitor monitor(pasteboard, *m_store, m_detector, m_workspace);
        monitor.onCapture = [this](const ClipboardCaptureResult& result) { m_results.append(result); };
        pasteboard.memory.simulateExternalCopy({item});
        monitor.poll();
        monitor.waitForPendingCaptures();
        QCOMPARE(pasteboard.fetched, fetched);
        QCOMPARE(m_results.size(), 1);
        QCOMPARE(m_results.first().ignoredReason.value_or(QString()), ignoredReason);
        QCOMPARE(m_results.first().item.has_value(), ignoredReason.isEmpty());
    }

    void testCopiesFromIgnoredApplicationsAreNotRead()
    {
        m_workspace.frontmost = Platform::RunningApplication{7, QStringLiteral(" COM.LASTPASS.LASTPASS\n"),
                                                             QStringLiteral("LastPass")};
        auto result = copyText(QStringLiteral("hunter2"));
        QVERIFY(!result.item);
        QCOMPARE(result.ignoredReason, opt("Ignored clipboard from LastPass"));

        m_workspace.frontmost->localizedName.reset();
        QCOMPARE(copyText(QStringLiteral("x")).ignoredReason, opt("Ignored clipboard from a restricted app"));
        Language::setIsChineseForTesting(true);
        QCOMPARE(copyText(QStringLiteral("x")).ignoredReason, opt("已忽略来自 敏感来源 App 的剪贴板"));
    }

    void testSensitiveTextIsIgnoredOrHidden()
    {
        const QString secret = QStringLiteral("password = correct-horse-battery");
        auto result = copyText(secret);
        QVERIFY(!result.item);
        QCOMPARE(result.ignoredReason, opt("Ignored sensitive content: Access token"));
        Language::setIsChineseForTesting(true);
        QCOMPARE(copyText(secret).ignoredReason, opt("已忽略敏感内容：Access token"));
        Language::setIsChineseForTesting(false);

        m_store->updateSettings([](ClipSettings& settings) { settings.ignoreSensitiveContent = false; });
        result = copyText(secret);
        QVERIFY(result.item);
        QCOMPARE(result.item->preview, QStringLiteral("Sensitive content hidden"));
        QCOMPARE(result.item->payload.textValue(), secret);
        QVERIFY(result.item->isSensitive && result.item->isLocalOnly);

        m_store->updateSettings([](ClipSettings& settings) { settings.markSensitiveLocalOnly = false; });
        QVERIFY(!copyText(secret).item->isLocalOnly);
    }

    void testOversizedTextIsLocalOnly()
    {
        QVERIFY(copyText(QString(1024 * 1024 + 1, QLatin1Char('x'))).item->isLocalOnly);
    }

    // Over the history's text limit (UTF-8 bytes) a text is refused with a reason; nothing else
    // is read or lost.
    void testTextOverTheLimitIsRefused()
    {
        const QString chinese = QString(ClipDefaults::maxTextPayloadBytes / 3 + 1, QChar(0x6587));
        auto result = copyText(chinese);
        QVERIFY(!result.item);
        QCOMPARE(result.ignoredReason, opt("Text too large, not saved (33,554,433 bytes, limit 33,554,432 bytes)"));

        Language::setIsChineseForTesting(true);
        result = copyText(chinese);
        Language::setIsChineseForTesting(false);
        QCOMPARE(result.ignoredReason, opt("文本过大，未写入历史（33,554,433 字节，上限 33,554,432 字节）"));
        QVERIFY(copyText(QStringLiteral("small again")).item);
    }

    void testFilesWinOverTextAndImages()
    {
        const QString path = writeFile(QStringLiteral("notes.txt"), "hello");
        PasteboardItem item = fileItemOf({path});
        item.setData("the name as text", Platform::PasteboardType::string);
        item.setData(pngBytes(), Platform::PasteboardType::png);
        const auto result = copy({item});
        QCOMPARE(result.item->kind, ClipKind(ClipKind::file));
        QCOMPARE(result.item->preview, QStringLiteral("notes.txt"));
        QCOMPARE(result.item->payload, ClipboardPayload::fileURLs({path}));
        QCOMPARE(result.item->contentHash, ClipHashing::fileContentHash({path}));
        QVERIFY(result.item->isLocalOnly); // rich content does not sync by default
    }

    void testFileKinds()
    {
        const QString first = writeFile(QStringLiteral("a.png"), pngBytes());
        const QString second = writeFile(QStringLiteral("b.PNG"), pngBytes(8, 8));
        const QString text = writeFile(QStringLiteral("c.txt"), "text");
        auto result = copy({fileItemOf({first, second})});
        QCOMPARE(result.item->kind, ClipKind(ClipKind::image));
        QCOMPARE(result.item->preview, QStringLiteral("2 files"));
        QCOMPARE(copy({fileItemOf({first, text})}).item->kind, ClipKind(ClipKind::file));

        QFile::remove(second);
        QCOMPARE(copy({fileItemOf({second})}).item->kind, ClipKind(ClipKind::file));

        Language::setIsChineseForTesting(true);
        QCOMPARE(copy({fileItemOf({first, text, second})}).item->preview, QStringLiteral("3 个文件"));
    }

    void testAFileNamedOnlyBlanksShowsItsPath()
    {
        const QString path = writeFile(QStringLiteral("   "), "x");
        QCOMPARE(copy({fileItemOf({path})}).item->preview, path);
    }

    void testFolderPathsLoseTheirTrailingSlash()
    {
        const QString folder = m_dir->filePath(QStringLiteral("Folder"));
        QVERIFY(QDir().mkpath(folder));
        PasteboardItem item;
        item.setData(QUrl::fromLocalFile(folder + QLatin1Char('/')).toEncoded(), Platform::PasteboardType::uriList);
        const auto result = copy({item});
        QCOMPARE(result.item->payload.fileURLsValue(), QStringList{folder});
        QCOMPARE(result.item->preview, QStringLiteral("Folder"));
    }

    void testImages()
    {
        const QByteArray png = pngBytes();
        auto result = copy({imageItemOf(png)});
        QCOMPARE(result.item->kind, ClipKind(ClipKind::image));
        QCOMPARE(result.item->payload, ClipboardPayload::imagePNG(png));
        QCOMPARE(result.item->contentHash, ClipHashing::sha256(png));
        QCOMPARE(result.item->preview, QStringLiteral("Image · ") + ClipboardItem::formattedBytes(png.size()));
        QVERIFY(result.item->isLocalOnly);

        // A TIFF from another program is stored as PNG.
        result = copy({imageItemOf(pngBytes(16, 16, "TIFF"), Platform::PasteboardType::tiff)});
        QVERIFY(result.item);
        QImage stored;
        QVERIFY(stored.loadFromData(result.item->payload.imagePNGValue(), "PNG"));
        QCOMPARE(stored.size(), QSize(16, 16));

        QCOMPARE(copy({imageItemOf("not an image")}).ignoredReason, opt("Failed to read image"));
        const QByteArray whole = pngBytes(300, 200);
        QCOMPARE(copy({imageItemOf(whole.left(whole.size() - 20))}).ignoredReason, opt("Failed to read image"));
    }

    // The capture hashes an image once: its first save, which checks what it writes against the
    // entry's identity so that reading it back hashes nothing, takes the capture's hash.
    void testCapturedImageIsHashedOnceOnItsWayToTheFile()
    {
        const QByteArray png = pngBytes(640, 480);
        const qint64 before = ClipHashing::hashedByteCountForTesting;
        const auto result = copy({imageItemOf(png)});
        QVERIFY(result.item);
        m_store->add(*result.item);
        m_store->waitForPendingSaves();
        QVERIFY(!m_store->lastSaveError());
        QCOMPARE(ClipHashing::hashedByteCountForTesting - before, png.size());
        const auto stored = m_store->items().first().payload.storedImageText();
        QVERIFY(stored && stored->isChecked());
        QCOMPARE(m_store->items().first().payload.imagePNGValue(), png);
    }

    void testImageSizeLimitIsExact()
    {
        // Decoders stop at the end of the image: padding makes a valid PNG of any size.
        QByteArray png = pngBytes();
        png.append(QByteArray(ClipDefaults::maxImagePayloadBytes - png.size(), '\0'));
        QVERIFY(copy({imageItemOf(png)}).item);

        png.append('\0');
        const auto result = copy({imageItemOf(png)});
        QVERIFY(!result.item);
        QCOMPARE(result.ignoredReason, opt("Image too large, not saved (8,388,609 bytes, limit 8,388,608 bytes)"));
    }

    void testChangesBetweenTwoLooksAreOneCapture()
    {
        m_pasteboard.simulateExternalCopy({textItemOf(QStringLiteral("first"))});
        m_pasteboard.simulateExternalCopy({textItemOf(QStringLiteral("second"))});
        look();
        look();
        QCOMPARE(m_results.size(), 1);
        QCOMPARE(m_results.first().item->payload.textValue(), QStringLiteral("second"));
    }

    void testResultsArriveOnTheEventLoopInTheOrderOfTheChanges()
    {
        // A megabyte of text takes the worker a while; the small copy after it must not overtake it.
        const QString large = QString(1024 * 1024, QLatin1Char('w'));
        m_pasteboard.simulateExternalCopy({textItemOf(large)});
        m_monitor->poll();
        m_pasteboard.simulateExternalCopy({textItemOf(QStringLiteral("small"))});
        m_monitor->poll();
        QVERIFY(m_results.isEmpty()); // nothing is handed on inside poll()
        QTRY_COMPARE(m_results.size(), 2);
        QCOMPARE(m_results[0].item->payload.textValue().size(), large.size());
        QCOMPARE(m_results[1].item->payload.textValue(), QStringLiteral("small"));
    }

    void testOwnWritesAreSkippedOnlyWhenTheCountIsRecorded()
    {
        m_pasteboard.clearContents();
        m_pasteboard.setString(QStringLiteral("written by us"));
        m_monitor->setLastChangeCount(m_pasteboard.changeCount());
        look();
        QVERIFY(m_results.isEmpty());

        m_pasteboard.clearContents();
        m_pasteboard.setString(QStringLiteral("written by us, not recorded"));
        look();
        QCOMPARE(m_results.size(), 1);
    }

    void testPausedCopiesAreNotCapturedAfterwards()
    {
        m_monitor->start();
        QVERIFY(m_monitor->isRunning());
        m_monitor->stop();
        m_pasteboard.simulateExternalCopy({textItemOf(QStringLiteral("while paused"))});
        m_monitor->start();
        look();
        QVERIFY(m_results.isEmpty());
        m_monitor->stop();
        QVERIFY(!m_monitor->isRunning());
    }

    void testChangeNoticesBringALookAtOnceButNeverAtOwnWrites()
    {
        m_monitor->setPollIntervalForTesting(24 * 3600 * 1000);
        m_monitor->start();
        m_pasteboard.simulateExternalCopy({textItemOf(QStringLiteral("seen at once"))});
        QVERIFY(m_results.isEmpty()); // queued: never inside the notice
        QTRY_COMPARE(m_results.size(), 1);
        QCOMPARE(m_results.first().item->payload.textValue(), QStringLiteral("seen at once"));

        // The owner marks its write right after it, in the same run of the event loop.
        m_pasteboard.clearContents();
        m_pasteboard.setString(QStringLiteral("written by us"));
        m_monitor->setLastChangeCount(m_pasteboard.changeCount());
        QCoreApplication::processEvents();
        m_monitor->waitForPendingCaptures();
        QCOMPARE(m_results.size(), 1);

        // Paused, notices are not acted on.
        m_monitor->stop();
        m_pasteboard.simulateExternalCopy({textItemOf(QStringLiteral("while paused"))});
        QCoreApplication::processEvents();
        m_monitor->waitForPendingCaptures();
        QCOMPARE(m_results.size(), 1);
    }

    void testTimerCatchesAChangeWithoutNotice()
    {
        m_pasteboard.setSendsChangeNotices(false);
        m_monitor->start();
        m_pasteboard.simulateExternalCopy({textItemOf(QStringLiteral("seen by the timer"))});
        QTRY_COMPARE_WITH_TIMEOUT(m_results.size(), 1, 2000);
        m_monitor->stop();
    }

    void testWithoutAConsumerTheChangeIsConsumed()
    {
        m_monitor->onCapture = nullptr;
        m_pasteboard.simulateExternalCopy({textItemOf(QStringLiteral("unseen"))});
        look();
        m_monitor->onCapture = [this](const ClipboardCaptureResult& result) { m_results.append(result); };
        look();
        QVERIFY(m_results.isEmpty());
    }
};

QUILLOMARE_GUI_TEST_MAIN(ClipboardMonitorTest)
#include "tst_clipboardmonitor.moc"
