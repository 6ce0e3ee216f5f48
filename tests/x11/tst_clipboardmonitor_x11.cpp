// The monitor on the real X11 clipboard, with xclip (and a small Qt program where one target is
// not enough) as the other program. The fallback poll is slowed to once a day: every capture here
// comes from the change notice X11 sends.

#include "Pasteboard/ClipboardMonitor.h"
#include "Pasteboard/MacPasteboardWriter.h"

#include <Platform/PasteboardX11.h>
#include <Platform/Workspace.h>
#include <QuillomareCore/Hashing.h>
#include <QuillomareCore/Language.h>

#include "TestSupport.h"
#include "MonitorCapture.h"
#include "X11Tools.h"

#include <QApplication>
#include <QBuffer>
#include <QDeadlineTimer>
#include <QElapsedTimer>
#include <QProcess>
#include <QTemporaryDir>

#include <algorithm>
#include <atomic>
#include <csignal>
#include <thread>

using namespace QuillomareCore;
using namespace QuillomareMac;
using namespace QuillomareTest;

// The X11 clipboard, with a record of what the GUI thread fetched through it and of the readers
// handed to the worker.
class RecordingPasteboard final : public Platform::Pasteboard
{
public:
    RecordingPasteboard() { m_inner.setChangeObserver([this] { notifyChanged(); }); }

    qint64 changeCount() const override { return m_inner.changeCount(); }
    QStringList types() const override
    {
        ++typesAsked;
        return m_inner.types();
    }
    std::optional<QByteArray> data(const QString& type) const override
    {
        fetchedOnGuiThread.append(type);
        return m_inner.data(type);
    }
    BackgroundReader backgroundReader() const override
    {
        BackgroundReader reader = m_inner.backgroundReader();
        if (reader)
            ++readersHandedOut;
        return reader;
    }
    QList<Platform::PasteboardItem> pasteboardItems() const override { return m_inner.pasteboardItems(); }
    qint64 clearContents() override { return m_inner.clearContents(); }
    bool setData(const QByteArray& data, const QString& type) override { return m_inner.setData(data, type); }
    bool writeItems(const QList<Platform::PasteboardItem>& items) override { return m_inner.writeItems(items); }

    mutable QStringList fetchedOnGuiThread;
    mutable int typesAsked = 0;
    mutable int readersHandedOut = 0;

private:
    Platform::X11Pasteboard m_inner;
};

class ClipboardMonitorX11Test : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<QTemporaryDir> m_dir;
    std::unique_ptr<ClipboardStore> m_store;
    std::unique_ptr<Platform::X11Pasteboard> m_pasteboard;
    Platform::MemoryWorkspace m_workspace;
    SensitiveContentDetector m_detector;
    std::unique_ptr<ClipboardMonitor> m_monitor;
    QList<ClipboardCaptureResult> m_results;
    QProcess m_owner;

    // The owner quits, and the monitor has done with the change that makes before the next copy
    // comes: a read of it still running could otherwise take in the next copy and report it too.
    void endOwnerAndItsChange()
    {
        const qint64 before = m_pasteboard->changeCount();
        m_owner.kill();
        m_owner.waitForFinished(2000);
        QTRY_VERIFY(m_pasteboard->changeCount() > before);
        // The monitor looks at a change from the event loop: let it look, then finish reading.
        QCoreApplication::sendPostedEvents(m_monitor.get(), QEvent::MetaCall);
        m_monitor->waitForPendingCaptures();
        m_results.clear();
    }

    ClipboardCaptureResult capture(const QByteArray& bytes, const QString& target)
    {
        return captureXclipCopy(*m_monitor, m_results, bytes, target);
    }

private Q_SLOTS:
    void initTestCase()
    {
        QCOMPARE(QGuiApplication::platformName(), QStringLiteral("xcb"));
        Language::setIsChineseForTesting(false);
    }

    void init()
    {
        m_results.clear();
        m_dir = std::make_unique<QTemporaryDir>();
        m_store = std::make_unique<ClipboardStore>(m_dir->filePath(QStringLiteral("clips.json")));
        m_pasteboard = std::make_unique<Platform::X11Pasteboard>();
        m_monitor = std::make_unique<ClipboardMonitor>(*m_pasteboard, *m_store, m_detector, m_workspace);
        m_monitor->onCapture = [this](const ClipboardCaptureResult& result) { m_results.append(result); };
        m_monitor->setPollIntervalForTesting(24 * 3600 * 1000);
        m_monitor->start();
    }

    void cleanup()
    {
        m_monitor.reset();
        m_owner.kill();
        m_owner.waitForFinished(2000);
    }

    void testChineseTextFromAnotherProgram()
    {
        const QString text = QStringLiteral("剪贴板里的中文 and English\n第二行");
        const auto result = capture(text.toUtf8(), QStringLiteral("UTF8_STRING"));
        QVERIFY(result.item);
        QCOMPARE(result.item->payload.textValue(), text);
        QCOMPARE(result.item->preview, QStringLiteral("剪贴板里的中文 and English 第二行"));
    }

    void testATextIsKeptExactlyAsCopiedAndGoesBackTheSame()
    {
        // A leading U+FEFF is part of what was copied (a UTF-8 decoder would take it for a
        // byte-order mark and drop it).
        const QByteArray copied = "\xEF\xBB\xBF" "copied with a mark\n\xEF\xBB\xBF" "and one inside";
        const QString text = QString(QChar(0xFEFF)) + QStringLiteral("copied with a mark\n") + QChar(0xFEFF) +
                             QStringLiteral("and one inside");
        for (const QString& target : {QStringLiteral("UTF8_STRING"), QStringLiteral("text/plain;charset=utf-8")}) {
            const auto result = capture(copied, target);
            QVERIFY(result.item);
            QCOMPARE(result.item->payload.textValue(), text);
            QCOMPARE(result.item->contentHash, ClipHashing::textContentHash(text));
            // Read on the GUI thread, as the shelf reads a copy.
            QCOMPARE(m_pasteboard->string(), std::optional<QString>(text));
        }

        // Copied back, every reader gets the same bytes.
        const auto result = capture(copied, QStringLiteral("UTF8_STRING"));
        QVERIFY(result.item);
        QVERIFY(MacPasteboardWriter::copy(*result.item, *m_pasteboard));
        for (const QString& target : {QStringLiteral("UTF8_STRING"), QStringLiteral("text/plain;charset=utf-8"),
                                      QStringLiteral("text/plain")})
            QCOMPARE(xclipPaste(target), copied);
        QCOMPARE(m_pasteboard->string(), std::optional<QString>(text));
    }

    void testPNGFromAnotherProgram()
    {
        QImage image(32, 20, QImage::Format_RGB32);
        image.fill(Qt::yellow);
        QByteArray png;
        QBuffer buffer(&png);
        buffer.open(QIODevice::WriteOnly);
        QVERIFY(image.save(&buffer, "PNG"));
        const auto result = capture(png, QStringLiteral("image/png"));
        QVERIFY(result.item);
        QCOMPARE(result.item->kind, ClipKind(ClipKind::image));
        QImage stored;
        QVERIFY(stored.loadFromData(result.item->payload.imagePNGValue()));
        QCOMPARE(stored.size(), QSize(32, 20));
    }

    // Megabytes of image come in parts (INCR) and are fetched on the worker's own connection:
    // the capture holds them whole, and a reader works from any thread.
    void testLargeImageIsReadWholeAwayFromTheGuiThread()
    {
        QImage noise(1200, 1100, QImage::Format_RGB32);
        quint32 state = 12345;
        for (int y = 0; y < noise.height(); ++y) {
            auto* line = reinterpret_cast<quint32*>(noise.scanLine(y));
            for (int x = 0; x < noise.width(); ++x) {
                state = state * 1664525u + 1013904223u;
                line[x] = 0xFF000000u | (state >> 8);
            }
        }
        QByteArray png;
        QBuffer buffer(&png);
        buffer.open(QIODevice::WriteOnly);
        QVERIFY(noise.save(&buffer, "PNG"));
        QVERIFY2(png.size() > 3'000'000, "large enough to come in parts");
        QVERIFY(m_pasteboard->backgroundReader());

        const auto result = capture(png, QStringLiteral("image/png"));
        QVERIFY(result.item);
        QCOMPARE(result.item->kind, ClipKind(ClipKind::image));
        QCOMPARE(result.item->payload.imagePNGByteCount(), png.size());
        QVERIFY(result.item->payload.imagePNGValue() == png);

        // From a thread of its own, while the GUI thread goes on serving events.
        const auto reader = m_pasteboard->backgroundReader();
        std::atomic<bool> done = false;
        Platform::Pasteboard::BackgroundData read;
        std::thread worker([&] {
            read = reader(QStringLiteral("image/png"), 64 * 1024 * 1024);
            done = true;
        });
        QTRY_VERIFY_WITH_TIMEOUT(done, 10'000);
        worker.join();
        QVERIFY(!read.superseded);
        QVERIFY(read.bytes && *read.bytes == png);

        // A reader made before another copy reads nothing for the older change.
        m_results.clear();
        QVERIFY(xclipCopy("newer text"));
        QVERIFY(waitForCapture(m_results));
        QVERIFY(reader(QStringLiteral("image/png"), 64 * 1024 * 1024).superseded);
    }

    void testFileListFromAnotherProgram()
    {
        const QString first = m_dir->filePath(QStringLiteral("report 1.txt"));
        const QString second = m_dir->filePath(QStringLiteral("数据.csv"));
        writeFile(first, "a");
        writeFile(second, "b");
        const QByteArray list = QUrl::fromLocalFile(first).toEncoded() + "\r\n" + QUrl::fromLocalFile(second).toEncoded() + "\r\n";
        const auto result = capture(list, QStringLiteral("text/uri-list"));
        QVERIFY(result.item);
        QCOMPARE(result.item->kind, ClipKind(ClipKind::file));
        QCOMPARE(result.item->payload.fileURLsValue(), (QStringList{first, second}));
        QCOMPARE(result.item->preview, QStringLiteral("2 files"));
    }

    void testOwnWriteIsNotCapturedOnceRecorded()
    {
        m_pasteboard->clearContents();
        QVERIFY(m_pasteboard->setString(QStringLiteral("ours")));
        m_monitor->setLastChangeCount(m_pasteboard->changeCount());
        QTest::qWait(200); // room for a late notice, which must not come
        m_monitor->waitForPendingCaptures();
        QVERIFY(m_results.isEmpty());
        QCOMPARE(xclipPaste(), QByteArray("ours"));
    }

    // A read given up while the owner had yet to answer: the owner still writes its answer to our
    // window, and an owner on Xlib's default error handler dies of a window that is gone — taking
    // the user's copy with it.
    void testAReadGivenUpLeavesItsOwnerAlive()
    {
        QVERIFY(startXclipOwner(m_owner, "kept by its owner"));
        QVERIFY(waitForCapture(m_results));
        m_monitor->waitForPendingCaptures();

        m_pasteboard->setTransferDeadlineForTesting(300);
        const auto reader = m_pasteboard->backgroundReader();
        QVERIFY(reader);
        const pid_t owner = pid_t(m_owner.processId());
        QCOMPARE(::kill(owner, SIGSTOP), 0);
        // The owner cannot answer: the reader asks, then gives up at its deadline.
        const Platform::Pasteboard::BackgroundData read = reader(Platform::PasteboardType::string, 1024);
        QCOMPARE(::kill(owner, SIGCONT), 0);
        QVERIFY(read.timedOut);

        // The owner answers the request it was sent first, then this one.
        QCOMPARE(xclipPaste(), QByteArray("kept by its owner"));
        QCOMPARE(m_owner.state(), QProcess::Running);
        endOwnerAndItsChange();
    }

    // Given up in the middle of a transfer in parts: the owner still hands its parts over, and
    // finishes, rather than writing to a window that is gone.
    void testATransferInPartsGivenUpLetsItsOwnerFinish()
    {
        m_pasteboard->setTransferDeadlineForTesting(300);
        QVERIFY(startIncrClipboardOwner(m_owner, QStringLiteral("UTF8_STRING"), 20'000, 1000, 60, 0));
        QTRY_COMPARE_WITH_TIMEOUT(m_results.size(), 1, 8000);
        QVERIFY(!m_results.first().item); // too slow for the deadline
        QTRY_COMPARE_WITH_TIMEOUT(incrOwnerBytesSent(m_owner), 20'000, 8000);
        QCOMPARE(m_owner.state(), QProcess::Running);
        endOwnerAndItsChange();
    }

    // An owner that takes the clipboard again every few milliseconds and never answers: every read
    // of it is given up while the owner may still answer. The X server takes few clients for the
    // whole desktop; what the given-up reads keep stays within a small bound, and other programs
    // can still connect while it goes on. Capture goes on once the owner stops.
    void testABusyOwnerThatNeverAnswersTakesFewConnections()
    {
        const int before = xConnectionsOfThisProcess();
        QVERIFY(before > 0);
        const qint64 changesBefore = m_pasteboard->changeCount();
        QProcess busy;
        QVERIFY(startBusyClipboardOwner(busy, 5));
        int most = before;
        int refused = 0;
        // The owner's load, sampled as it goes.
        const QDeadlineTimer load(3000);
        while (!load.hasExpired()) {
            QTest::qWait(50);
            most = std::max(most, xConnectionsOfThisProcess());
            refused += canConnectToX() ? 0 : 1;
        }
        busy.kill();
        QVERIFY(busy.waitForFinished(5000));
        QVERIFY2(m_pasteboard->changeCount() - changesBefore >= 50, "the owner did not keep taking the clipboard");
        QVERIFY2(most > before, "no read of the busy owner was given up");
        QVERIFY2(most <= before + 16, qPrintable(QStringLiteral("%1 X connections, %2 before").arg(most).arg(before)));
        QCOMPARE(refused, 0);
        QVERIFY(canConnectToX());

        // The busy owner's end is a change of its own, which may be looked at only once the next
        // copy is there: that copy may then be reported twice, but it is reported.
        m_results.clear();
        QVERIFY(xclipCopy("copied after the busy owner"));
        QTRY_VERIFY_WITH_TIMEOUT(std::any_of(m_results.cbegin(), m_results.cend(),
                                             [](const ClipboardCaptureResult& result) {
                                                 return result.item && result.item->payload.textValue() ==
                                                                           QStringLiteral("copied after the busy owner");
                                             }),
                                 5000);
    }

    // An answer is taken only when it answers our request: the server hands a closed window's id
    // to the next program at once, so an answer that names our window may be meant for a request
    // of another time, for another target or selection, or point at another property.
    void testOnlyTheAnswerToOurRequestIsTaken_data()
    {
        QTest::addColumn<QString>("wrongPart");
        for (const char* part : {"target", "selection", "time", "property"})
            QTest::newRow(part) << QString::fromLatin1(part);
    }

    void testOnlyTheAnswerToOurRequestIsTaken()
    {
        QFETCH(QString, wrongPart);
        QVERIFY(startMisansweringClipboardOwner(m_owner, wrongPart, QStringLiteral("the answer we asked for")));
        QVERIFY(waitForCapture(m_results));
        m_monitor->waitForPendingCaptures();
        QCOMPARE(m_results.size(), 1);
        QVERIFY(m_results.first().item);
        QCOMPARE(m_results.first().item->payload.textValue(), QStringLiteral("the answer we asked for"));
    }

    // X11 may tell of an owner's end only once the next owner holds the clipboard: the read for
    // that end must not take in the next copy, which is read for its own change (else one copy
    // gives two results).
    void testAReadForAnOwnersEndDoesNotReadTheNextCopy()
    {
        QVERIFY(startXclipOwner(m_owner, "from a program about to quit"));
        QVERIFY(waitForCapture(m_results));
        m_monitor->stop();
        const qint64 before = m_pasteboard->changeCount();
        m_owner.kill();
        m_owner.waitForFinished(2000);
        QTRY_VERIFY(m_pasteboard->changeCount() > before);
        const auto reader = m_pasteboard->backgroundReader();
        QVERIFY(reader);

        QProcess next;
        QVERIFY(startClipboardOwnerUnnoticed(next, {QStringLiteral("text/plain=the next copy")}));
        const Platform::Pasteboard::BackgroundData names = reader(Platform::PasteboardType::formatNames, 4096);
        const Platform::Pasteboard::BackgroundData text = reader(Platform::PasteboardType::string, 4096);
        next.kill();
        next.waitForFinished(2000);
        QVERIFY(names.superseded);
        QVERIFY(!names.bytes);
        QVERIFY(text.superseded);
        QVERIFY(!text.bytes);
    }

    void testAnOwnerThatQuitsReportsNothing()
    {
        QVERIFY(startXclipOwner(m_owner, "from a program about to quit"));
        QVERIFY(waitForCapture(m_results));
        m_results.clear();

        const qint64 before = m_pasteboard->changeCount();
        m_owner.terminate();
        QVERIFY(m_owner.waitForFinished(5000));
        // X11 reports the clipboard's loss as a change; once it has been looked at, nothing came of it.
        QTRY_VERIFY(m_pasteboard->changeCount() > before &&
                    m_monitor->lastChangeCount() == m_pasteboard->changeCount());
        m_monitor->waitForPendingCaptures();
        QVERIFY(m_results.isEmpty());
    }

    void testCopiesMarkedSecretByAPasswordManagerAreNotRead()
    {
        QVERIFY(startClipboardOwner(m_owner, {QStringLiteral("text/plain=correct horse battery staple"),
                                              QStringLiteral("x-kde-passwordManagerHint=secret")}));
        QVERIFY(waitForCapture(m_results));
        m_monitor->waitForPendingCaptures();
        QCOMPARE(m_results.size(), 1);
        QVERIFY(!m_results.first().item);
        QCOMPARE(m_results.first().ignoredReason,
                 std::optional<QString>(QStringLiteral("Ignored clipboard from a restricted app")));
    }

    void testTextBesideOtherFormatsFromAnotherProgram()
    {
        // The same helper without the mark: its text is captured, so the test above proves the mark.
        QVERIFY(startClipboardOwner(m_owner, {QStringLiteral("text/plain=an ordinary note"),
                                              QStringLiteral("application/x-private-document=private")}));
        QVERIFY(waitForCapture(m_results));
        QVERIFY(m_results.first().item);
        QCOMPARE(m_results.first().item->payload.textValue(), QStringLiteral("an ordinary note"));
    }

    // Another program's copy comes over the worker's own connection, the names of its formats
    // included: the GUI thread never waits for the owner, however long the text or slow the
    // owner. Our own copy is answered by our own event loop, so it is read there, and waiting for
    // the capture while it is read cannot hang on ourselves.
    // An owner that hands over a byte a second would hold capture for as long as it pleased: a
    // newer copy ends its transfer at once and is captured; the trickle itself gives no result.
    void testATricklingOwnerGivesWayToANewerCopy()
    {
        QVERIFY(startIncrClipboardOwner(m_owner, QStringLiteral("UTF8_STRING"), -1, 1, 1000, 0));
        QTRY_VERIFY_WITH_TIMEOUT(incrOwnerBytesSent(m_owner) >= 1, 5000); // the worker is reading it
        QVERIFY(xclipCopy("the newer copy"));
        // Well within the 5 s an owner may take between two parts.
        QTRY_COMPARE_WITH_TIMEOUT(m_results.size(), 1, 3000);
        m_monitor->waitForPendingCaptures();
        QCOMPARE(m_results.size(), 1);
        QVERIFY(m_results.first().item);
        QCOMPARE(m_results.first().item->payload.textValue(), QStringLiteral("the newer copy"));
    }

    // Alone, the trickle is given up at the transfer's deadline, with a reason; capture goes on.
    void testATricklingOwnerIsGivenUpAtTheDeadline()
    {
        m_pasteboard->setTransferDeadlineForTesting(1500);
        QVERIFY(startIncrClipboardOwner(m_owner, QStringLiteral("UTF8_STRING"), -1, 1, 400, 0));
        QTRY_COMPARE_WITH_TIMEOUT(m_results.size(), 1, 8000);
        QVERIFY(!m_results.first().item);
        QCOMPARE(m_results.first().ignoredReason,
                 std::optional<QString>(QStringLiteral("The clipboard contents took too long to arrive, not saved")));
        QVERIFY(incrOwnerBytesSent(m_owner) >= 1);

        const auto next = capture("copied after the slow one", QStringLiteral("UTF8_STRING"));
        QVERIFY(next.item);
    }

    // Quitting ends a transfer in progress instead of waiting for the owner to finish it (this
    // one never would).
    void testQuittingDoesNotWaitForAnOwner()
    {
        QVERIFY(startIncrClipboardOwner(m_owner, QStringLiteral("UTF8_STRING"), -1, 1, 300, 0));
        QTRY_VERIFY_WITH_TIMEOUT(incrOwnerBytesSent(m_owner) >= 1, 5000);
        QElapsedTimer ending;
        ending.start();
        m_monitor.reset();
        QVERIFY2(ending.elapsed() < 2000, qPrintable(QString::number(ending.elapsed())));
    }

    // A text over the history's limit is refused, before a byte comes when the owner announces
    // its size (which it then gives exactly), and as soon as the limit is passed when it does not
    // (more than what came by then); the same for a PNG.
    void testOversizedCopiesAreRefusedWithoutReadingThemWhole()
    {
        constexpr qint64 textLimit = 32 * 1024 * 1024;
        constexpr qint64 imageLimit = 8 * 1024 * 1024;
        constexpr qint64 part = 256 * 1024;

        QVERIFY(startIncrClipboardOwner(m_owner, QStringLiteral("UTF8_STRING"), textLimit + 1, part, 0, textLimit + 1));
        QTRY_COMPARE_WITH_TIMEOUT(m_results.size(), 1, 10000);
        QVERIFY(!m_results.first().item);
        QCOMPARE(m_results.first().ignoredReason,
                 std::optional<QString>(QStringLiteral("Text too large, not saved (33,554,433 bytes, limit 33,554,432 bytes)")));
        QCOMPARE(incrOwnerBytesSent(m_owner), 0);
        endOwnerAndItsChange();
        QVERIFY(startIncrClipboardOwner(m_owner, QStringLiteral("UTF8_STRING"), 4 * textLimit, part, 0, 0));
        QTRY_COMPARE_WITH_TIMEOUT(m_results.size(), 1, 10000);
        QVERIFY(!m_results.first().item);
        QVERIFY2(m_results.first().ignoredReason->startsWith(QStringLiteral("Text too large, not saved (> ")),
                 qPrintable(*m_results.first().ignoredReason));
        QVERIFY(incrOwnerBytesSent(m_owner) <= textLimit + 2 * part);
        endOwnerAndItsChange();
        QVERIFY(startIncrClipboardOwner(m_owner, QStringLiteral("image/png"), 8 * imageLimit, part, 0, 0));
        QTRY_COMPARE_WITH_TIMEOUT(m_results.size(), 1, 10000);
        QVERIFY(!m_results.first().item);
        QVERIFY2(m_results.first().ignoredReason->startsWith(QStringLiteral("Image too large, not saved (> ")),
                 qPrintable(*m_results.first().ignoredReason));
        QVERIFY(m_results.first().ignoredReason->endsWith(QStringLiteral(", limit 8.4 MB)")));
        QVERIFY(incrOwnerBytesSent(m_owner) <= imageLimit + 2 * part);
    }

    // An owner that announces no size (as xclip does): where its copy ends with the part that
    // passes the limit, the size is known after all and given as it is; where more follows, the
    // copy is "more than" what came.
    void testACopyInPartsIsGivenItsSizeWhenItEndsWithThePartOverTheLimit()
    {
        constexpr qint64 textLimit = 32 * 1024 * 1024;
        constexpr qint64 part = 256 * 1024;
        QVERIFY(startIncrClipboardOwner(m_owner, QStringLiteral("UTF8_STRING"), textLimit + 1, part, 0, 0));
        QTRY_COMPARE_WITH_TIMEOUT(m_results.size(), 1, 10000);
        QVERIFY(!m_results.first().item);
        QCOMPARE(m_results.first().ignoredReason,
                 std::optional<QString>(QStringLiteral("Text too large, not saved (33,554,433 bytes, limit 33,554,432 bytes)")));
        endOwnerAndItsChange();

        QVERIFY(startIncrClipboardOwner(m_owner, QStringLiteral("UTF8_STRING"), textLimit + part + 1, part, 0, 0));
        QTRY_COMPARE_WITH_TIMEOUT(m_results.size(), 1, 10000);
        QVERIFY(!m_results.first().item);
        QCOMPARE(m_results.first().ignoredReason,
                 std::optional<QString>(QStringLiteral("Text too large, not saved (> 33.8 MB, limit 33.6 MB)")));
    }

    void testTextIsReadAwayFromTheGuiThread()
    {
        RecordingPasteboard pasteboard;
        ClipboardMonitor monitor(pasteboard, *m_store, m_detector, m_workspace);
        QList<ClipboardCaptureResult> results;
        monitor.onCapture = [&results](const ClipboardCaptureResult& result) { results.append(result); };
        monitor.setPollIntervalForTesting(24 * 3600 * 1000);
        m_monitor->stop();

        // Megabytes come in parts (INCR).
        QString longText;
        while (longText.size() < 1'500'000)
            longText += QStringLiteral("第%1行：剪贴板里的长文本 long text\n").arg(longText.size());
        ClipboardCaptureResult result = captureXclipCopy(monitor, results, longText.toUtf8());
        QVERIFY(result.item);
        QCOMPARE(result.item->payload.textValue(), longText);
        QCOMPARE(pasteboard.fetchedOnGuiThread, QStringList());
        QCOMPARE(pasteboard.typesAsked, 0);
        QVERIFY(pasteboard.readersHandedOut >= 1);

        // An owner offering Latin-1 text only.
        result = captureXclipCopy(monitor, results, QByteArray("caf\xe9 cr\xe8me"), QStringLiteral("STRING"));
        QVERIFY(result.item);
        QCOMPARE(result.item->payload.textValue(), QStringLiteral("café crème"));
        QCOMPARE(pasteboard.fetchedOnGuiThread, QStringList());

        // Blank text: nothing to keep.
        result = captureXclipCopy(monitor, results, "  \n\t ");
        QVERIFY(!result.item);
        QCOMPARE(result.ignoredReason, std::optional<QString>(QStringLiteral("Unsupported clipboard format")));
        QCOMPARE(pasteboard.typesAsked, 0);

        results.clear();
        const int readers = pasteboard.readersHandedOut;
        QVERIFY(pasteboard.setString(QStringLiteral("ours, read at home")));
        QVERIFY(waitForCapture(results));
        monitor.waitForPendingCaptures();
        QVERIFY(results.first().item);
        QCOMPARE(results.first().item->payload.textValue(), QStringLiteral("ours, read at home"));
        QCOMPARE(pasteboard.readersHandedOut, readers);
        QVERIFY(pasteboard.fetchedOnGuiThread.contains(Platform::PasteboardType::string));
        QCOMPARE(pasteboard.typesAsked, 1);
    }
};

QUILLOMARE_GUI_TEST_MAIN(ClipboardMonitorX11Test)
#include "tst_clipboardmonitor_x11.moc"
