// What one copy in another program costs the GUI thread: the clipboard monitor's poll that sees
// the change and builds its capture result (the entry, not yet added to the history). The copy
// itself is made with the clock stopped; only the poll is timed.
//
// Text and file captures must never hold the GUI thread for more than one frame: those cases
// report their slowest iteration (max_ms) and the reporter checks it under the table. Images are
// reported as they are: a PNG is decoded once to prove it whole, then hashed; one offered only as
// TIFF is re-encoded as PNG. A list of photos is judged image or file by the files' headers.

#include <Platform/Pasteboard.h>
#include <Platform/PasteboardX11.h>
#include <Platform/Workspace.h>
#include <QuillomareCore/ClipSettings.h>
#include <QuillomareCore/ClipboardItem.h>
#include <QuillomareCore/ClipboardStore.h>
#include <QuillomareCore/Language.h>
#include <QuillomareCore/SensitiveContentDetector.h>
#include <QuillomareMac/Pasteboard/ClipboardMonitor.h>

#include "BenchSupport.h"

#include <benchmark/benchmark.h>

#include <QBuffer>
#include <QCoreApplication>
#include <QGuiApplication>
#include <QProcess>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFont>
#include <QImage>
#include <QLinearGradient>
#include <QPainter>
#include <QTemporaryDir>
#include <QUrl>

#include <algorithm>
#include <cstring>
#include <iterator>
#include <optional>

namespace {

using namespace Bench;
using namespace QuillomareCore;
using Platform::PasteboardItem;
namespace PasteboardType = Platform::PasteboardType;

constexpr qsizetype kImageLimitBytes = ClipDefaults::maxImagePayloadBytes; // 8,388,608

QByteArray encoded(const QImage& image, const char* format)
{
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    if (!image.save(&buffer, format))
        fail(QStringLiteral("Cannot encode a %1×%2 image as %3")
                 .arg(image.width())
                 .arg(image.height())
                 .arg(QString::fromLatin1(format)));
    return bytes;
}

PasteboardItem pasteboardItem(const QByteArray& bytes, const QString& type)
{
    PasteboardItem item;
    item.setData(bytes, type);
    return item;
}

// A monitor on a pasteboard in memory, as the program sets it up, with an editor in front. The
// store is read for its settings (the defaults, from a history file that does not exist yet), and
// takes the entries of the cases that follow a copy to the disk.
class CaptureRig
{
public:
    CaptureRig()
        : m_folder(benchFile(QStringLiteral("capture-XXXXXX"))),
          m_store(m_folder.filePath(QStringLiteral("clips.json"))),
          m_monitor(m_pasteboard, m_store, m_detector, m_workspace)
    {
        if (!m_folder.isValid())
            fail(QStringLiteral("Cannot create a folder for the capture cases"));
        if (const auto& failure = m_store.lastLoadFailure())
            fail(QStringLiteral("The empty history did not load: %1").arg(failure->reason));
        // The preference would be read from the user's settings: fixed instead, for the same
        // texts on every machine.
        QuillomareCore::Language::setIsChineseForTesting(false);
        m_workspace.frontmost =
            Platform::RunningApplication{4242, QStringLiteral("org.kde.kate"), QStringLiteral("Kate")};
        m_monitor.onCapture = [this](const ClipboardCaptureResult& result) { m_result = result; };
    }

    const QTemporaryDir& folder() const { return m_folder; }
    ClipboardStore& store() { return m_store; }

    // One iteration of a benchmark loop: another program copies `items`, then one capture is timed
    // from the poll that sees the change to the result handed on. The poll alone is what holds the
    // GUI thread (the rest runs on the monitor's worker); its slowest time is kept for the goal.
    // `check` looks at the entry built, untimed; a change that records nothing fails the case.
    template <typename Check>
    void capture(benchmark::State& state, PeakMemory& memory, const QList<PasteboardItem>& items, Check&& check)
    {
        state.PauseTiming();
        m_result.reset(); // the previous entry is freed here, not in the timed poll
        m_pasteboard.simulateExternalCopy(items);
        QElapsedTimer timer;
        measured(state, memory, [&] {
            timer.start();
            m_monitor.poll();
            m_slowestNanoseconds = std::max(m_slowestNanoseconds, timer.nsecsElapsed());
            m_monitor.waitForPendingCaptures();
        });
        if (!m_result)
            fail(QStringLiteral("The poll did not see the copy"));
        if (!m_result->item)
            fail(QStringLiteral("Nothing was captured: %1").arg(m_result->ignoredReason.value_or(QString())));
        check(*m_result->item);
        state.ResumeTiming();
    }

    // One iteration from the copy to the entry on disk: the poll, the capture on the worker, the
    // store's add as the capture handler makes it, and the first save (the image encoded and
    // checked against its identity). The history is emptied again untimed.
    void captureToDisk(benchmark::State& state, PeakMemory& memory, const QList<PasteboardItem>& items)
    {
        state.PauseTiming();
        m_result.reset();
        m_pasteboard.simulateExternalCopy(items);
        measured(state, memory, [&] {
            m_monitor.poll();
            m_monitor.waitForPendingCaptures();
            if (m_result && m_result->item)
                m_store.add(*m_result->item);
            m_store.waitForPendingSaves();
        });
        if (!m_result || !m_result->item)
            fail(QStringLiteral("Nothing was captured"));
        if (const auto& error = m_store.lastSaveError())
            fail(QStringLiteral("The entry was not saved: %1").arg(*error));
        if (m_store.items().size() != 1 || !m_store.items().first().payload.storedImageText())
            fail(QStringLiteral("The image is not in the history file"));
        m_result.reset();
        m_store.clear();
        m_store.waitForPendingSaves();
        state.ResumeTiming();
    }

    // The slowest poll (the GUI thread's share), for cases that promise a limit.
    void reportSlowest(benchmark::State& state, std::optional<double> goalMilliseconds = std::nullopt) const
    {
        state.counters["gui_max_ms"] = double(m_slowestNanoseconds) / 1e6;
        if (goalMilliseconds)
            state.counters[kGoalCounter] = *goalMilliseconds;
    }

private:
    QTemporaryDir m_folder;
    ClipboardStore m_store;
    const SensitiveContentDetector m_detector;
    Platform::MemoryPasteboard m_pasteboard;
    Platform::MemoryWorkspace m_workspace;
    QuillomareMac::ClipboardMonitor m_monitor;
    std::optional<ClipboardCaptureResult> m_result;
    qint64 m_slowestNanoseconds = 0;
};

// --- Content

// Random pixels defeat PNG's filters and deflate alike, so the file is about as large as the
// pixels. The height is trimmed until the file fits just under `maxBytes`.
QByteArray makeNoisePNG(qsizetype maxBytes)
{
    constexpr int width = 1670;
    int height = int(maxBytes / (width * 3)) + 1;
    for (;;) {
        QImage image(width, height, QImage::Format_RGB888);
        const QByteArray noise = randomBytes(qsizetype(width) * 3 * height, 7);
        for (int y = 0; y < height; ++y)
            std::memcpy(image.scanLine(y), noise.constData() + qsizetype(y) * width * 3, size_t(width) * 3);
        QByteArray bytes = encoded(image, "PNG");
        if (bytes.size() <= maxBytes)
            return bytes;
        height -= int((bytes.size() - maxBytes) / (width * 3 + 1)) + 1;
    }
}

// Just under the history's image limit.
const QByteArray& noisePNG()
{
    static const QByteArray png = makeNoisePNG(kImageLimitBytes);
    return png;
}

// A screenshot-sized copy: 5 MB.
const QByteArray& fiveMegabytePNG()
{
    static const QByteArray png = makeNoisePNG(5 * 1000 * 1000);
    return png;
}

// A 3840×2160 desktop at twice the usual scale: a gradient wallpaper, three windows of text, a
// toolbar of coloured icons. Saved uncompressed, as screenshot tools hand TIFF over.
const QByteArray& screenshotTIFF()
{
    static const QByteArray tiff = [] {
        QImage image(3840, 2160, QImage::Format_RGB32);
        QPainter painter(&image);
        painter.setRenderHint(QPainter::Antialiasing);
        painter.setRenderHint(QPainter::TextAntialiasing);
        QLinearGradient wallpaper(0, 0, 3840, 2160);
        wallpaper.setColorAt(0, QColor(0x1e, 0x3a, 0x5f));
        wallpaper.setColorAt(1, QColor(0x7c, 0x3a, 0x6d));
        painter.fillRect(image.rect(), wallpaper);

        QFont font(QStringLiteral("DejaVu Sans"));
        font.setPixelSize(30);
        painter.setFont(font);
        TextGenerator generator(11);
        const QRect windows[] = {{160, 160, 1900, 1500}, {1500, 420, 2000, 1400}, {400, 1100, 1500, 900}};
        for (const QRect& window : windows) {
            painter.fillRect(window.adjusted(12, 12, 12, 12), QColor(0, 0, 0, 70));
            painter.fillRect(window, QColor(0xfa, 0xfa, 0xfa));
            painter.fillRect(QRect(window.topLeft(), QSize(window.width(), 72)), QColor(0xe4, 0xe6, 0xea));
            painter.setPen(QColor(0x11, 0x18, 0x27));
            painter.drawText(QRect(window.left(), window.top(), window.width(), 72), Qt::AlignCenter,
                             generator.text(24).simplified());
            for (int y = window.top() + 140; y < window.bottom() - 40; y += 48)
                painter.drawText(window.left() + 48, y, generator.text(window.width() / 18).simplified());
        }
        Random random(12);
        for (int i = 0; i < 24; ++i) {
            painter.setBrush(QColor::fromHsv(int(random.below(360)), 160, 220));
            painter.setPen(Qt::NoPen);
            painter.drawRoundedRect(QRect(880 + i * 88, 2040, 72, 72), 16, 16);
        }
        painter.end();
        return encoded(image.convertToFormat(QImage::Format_RGB888), "TIFF");
    }();
    return tiff;
}

// A selection of documents as a file manager copies it: one text/uri-list of file URLs, the
// names with spaces and Chinese, so that they are percent-encoded.
struct FileSelection
{
    QByteArray uriList;
    int count = 0;
};

FileSelection makeFiles(const QTemporaryDir& folder, int count)
{
    static const char* const extensions[] = {"pdf", "docx", "txt", "md", "xlsx", "zip", "csv", "pptx"};
    const QString subfolder = folder.filePath(QStringLiteral("项目 Documents"));
    if (!QDir().mkpath(subfolder))
        fail(QStringLiteral("Cannot create %1").arg(subfolder));
    TextGenerator generator(13);
    FileSelection selection;
    for (int i = 0; i < count; ++i) {
        const QString path = QStringLiteral("%1/报告 %2 - quarterly budget.%3")
                                 .arg(subfolder)
                                 .arg(i + 1, 4, 10, QLatin1Char('0'))
                                 .arg(QLatin1String(extensions[i % std::size(extensions)]));
        QFile file(path);
        if (!file.open(QIODevice::WriteOnly) || file.write(generator.text(200).toUtf8()) < 0)
            fail(QStringLiteral("Cannot write %1: %2").arg(path, file.errorString()));
        selection.uriList += QUrl::fromLocalFile(path).toEncoded() + "\r\n";
    }
    selection.count = count;
    return selection;
}

// A camera's day out: one 6000×4000 JPEG, written once and copied `count` times (copies, not
// links: each is a file of its own to judge), as a file manager copies a selection of photos.
FileSelection makePhotos(const QTemporaryDir& folder, int count)
{
    const QString subfolder = folder.filePath(QStringLiteral("DCIM 相机"));
    if (!QDir().mkpath(subfolder))
        fail(QStringLiteral("Cannot create %1").arg(subfolder));
    QImage image(6000, 4000, QImage::Format_RGB32);
    QPainter painter(&image);
    QLinearGradient sky(0, 0, 6000, 4000);
    sky.setColorAt(0, QColor(0x3b, 0x82, 0xc4));
    sky.setColorAt(1, QColor(0xe8, 0xb0, 0x6a));
    painter.fillRect(image.rect(), sky);
    painter.end();
    const QString first = subfolder + QStringLiteral("/IMG_0001.JPG");
    if (!image.save(first, "JPEG", 90))
        fail(QStringLiteral("Cannot write %1").arg(first));
    FileSelection selection;
    for (int i = 0; i < count; ++i) {
        const QString path = QStringLiteral("%1/IMG_%2.JPG").arg(subfolder).arg(i + 1, 4, 10, QLatin1Char('0'));
        if (i > 0 && !QFile::copy(first, path))
            fail(QStringLiteral("Cannot copy %1").arg(path));
        selection.uriList += QUrl::fromLocalFile(path).toEncoded() + "\r\n";
    }
    selection.count = count;
    return selection;
}

// --- Cases

void captureText(benchmark::State& state)
{
    guarded(state, [&] {
        CaptureRig rig;
        qsizetype utf8Bytes = 0;
        const QString text = ordinaryText(1000 * 1000, 5, &utf8Bytes);
        if (const auto match = SensitiveContentDetector().firstMatch(text))
            fail(QStringLiteral("The ordinary text matches the rule “%1”").arg(match->label));
        const QList<PasteboardItem> copy{pasteboardItem(text.toUtf8(), PasteboardType::string)};

        PeakMemory memory;
        for (auto _ : state) {
            rig.capture(state, memory, copy, [&](const ClipboardItem& item) {
                if (item.kind != ClipKind::text || item.isSensitive || item.payload.textValue() != text)
                    fail(QStringLiteral("The text was not captured as ordinary text"));
            });
        }
        state.SetBytesProcessed(state.iterations() * utf8Bytes);
        state.counters["text_MB"] = double(utf8Bytes) / kMB;
        rig.reportSlowest(state, kFrameMilliseconds);
        memory.report(state);
    });
}

// A PNG offered as PNG is kept byte for byte.
void capturePNG(benchmark::State& state, const QByteArray& (*makePNG)())
{
    guarded(state, [&] {
        CaptureRig rig;
        const QByteArray& png = makePNG();
        const QList<PasteboardItem> copy{pasteboardItem(png, PasteboardType::png)};

        PeakMemory memory;
        for (auto _ : state) {
            rig.capture(state, memory, copy, [&](const ClipboardItem& item) {
                if (item.kind != ClipKind::image || item.payload.imagePNGValue() != png)
                    fail(QStringLiteral("The PNG was not kept as it was offered"));
            });
        }
        state.SetBytesProcessed(state.iterations() * png.size());
        state.counters["png_MB"] = double(png.size()) / kMB;
        rig.reportSlowest(state);
        memory.report(state);
    });
}

// The same PNG from the copy to its entry in the history file on disk.
void capturePNGToDisk(benchmark::State& state)
{
    guarded(state, [&] {
        CaptureRig rig;
        const QByteArray& png = fiveMegabytePNG();
        const QList<PasteboardItem> copy{pasteboardItem(png, PasteboardType::png)};

        PeakMemory memory;
        for (auto _ : state)
            rig.captureToDisk(state, memory, copy);
        state.SetBytesProcessed(state.iterations() * png.size());
        state.counters["png_MB"] = double(png.size()) / kMB;
        memory.report(state);
    });
}

void captureTIFF(benchmark::State& state)
{
    guarded(state, [&] {
        CaptureRig rig;
        const QByteArray& tiff = screenshotTIFF();
        const QList<PasteboardItem> copy{pasteboardItem(tiff, PasteboardType::tiff)};

        PeakMemory memory;
        qsizetype pngBytes = 0;
        for (auto _ : state) {
            rig.capture(state, memory, copy, [&](const ClipboardItem& item) {
                const QByteArray png = item.payload.imagePNGValue();
                if (item.kind != ClipKind::image || !png.startsWith("\x89PNG"))
                    fail(QStringLiteral("The TIFF was not captured as a PNG image"));
                pngBytes = png.size();
            });
        }
        state.SetBytesProcessed(state.iterations() * tiff.size());
        state.counters["tiff_MB"] = double(tiff.size()) / kMB;
        state.counters["png_MB"] = double(pngBytes) / kMB;
        rig.reportSlowest(state);
        memory.report(state);
    });
}

void captureFiles(benchmark::State& state)
{
    guarded(state, [&] {
        CaptureRig rig;
        const FileSelection selection = makeFiles(rig.folder(), 1000);
        const QList<PasteboardItem> copy{pasteboardItem(selection.uriList, PasteboardType::uriList)};

        PeakMemory memory;
        for (auto _ : state) {
            rig.capture(state, memory, copy, [&](const ClipboardItem& item) {
                if (item.kind != ClipKind::file || item.payload.fileURLsValue().size() != selection.count)
                    fail(QStringLiteral("The %1 files were not captured as one file entry").arg(selection.count));
            });
        }
        state.counters["files"] = selection.count;
        state.counters["uri_list_KB"] = double(selection.uriList.size()) / 1000.0;
        rig.reportSlowest(state, kFrameMilliseconds);
        memory.report(state);
    });
}

void capturePhotos(benchmark::State& state)
{
    guarded(state, [&] {
        CaptureRig rig;
        const FileSelection selection = makePhotos(rig.folder(), 150);
        QStringList paths;
        for (const QByteArray& line : selection.uriList.split('\n')) {
            if (!line.trimmed().isEmpty())
                paths.append(QUrl::fromEncoded(line.trimmed()).toLocalFile());
        }
        const QList<PasteboardItem> copy{pasteboardItem(selection.uriList, PasteboardType::uriList)};

        PeakMemory memory;
        int touch = 0;
        for (auto _ : state) {
            // Photos just copied off a card: a new modification time makes every file new to the
            // classification, as it is the first time they are copied.
            state.PauseTiming();
            const QDateTime stamp = QDateTime::currentDateTime().addSecs(++touch);
            for (const QString& path : paths) {
                QFile file(path);
                if (!file.open(QIODevice::ReadWrite) || !file.setFileTime(stamp, QFileDevice::FileModificationTime))
                    fail(QStringLiteral("Cannot touch %1").arg(path));
            }
            state.ResumeTiming();
            rig.capture(state, memory, copy, [&](const ClipboardItem& item) {
                if (item.kind != ClipKind::image || item.payload.fileURLsValue().size() != selection.count)
                    fail(QStringLiteral("The %1 photos were not captured as one image entry").arg(selection.count));
            });
        }
        state.counters["files"] = selection.count;
        rig.reportSlowest(state, kFrameMilliseconds);
        memory.report(state);
    });
}

// --- Another program's image on the real X11 clipboard

// xclip owns the CLIPBOARD selection with `bytes` as `target` until it ends or another program
// copies; the pasteboard has seen the change once this returns.
void xclipOwns(QProcess& owner, const QString& file, const QString& target, Platform::X11Pasteboard& pasteboard)
{
    // The last owner's end is a change of its own: let it arrive first.
    if (owner.state() != QProcess::NotRunning) {
        const qint64 owned = pasteboard.changeCount();
        owner.kill();
        owner.waitForFinished(2000);
        QElapsedTimer waited;
        waited.start();
        while (pasteboard.changeCount() == owned && waited.elapsed() < 2000)
            QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    }
    const qint64 before = pasteboard.changeCount();
    owner.start(QStringLiteral("xclip"), {QStringLiteral("-quiet"), QStringLiteral("-selection"),
                                          QStringLiteral("clipboard"), QStringLiteral("-t"), target, QStringLiteral("-i"),
                                          file});
    if (!owner.waitForStarted(3000))
        fail(QStringLiteral("xclip could not start"));
    QElapsedTimer waited;
    waited.start();
    while ((pasteboard.changeCount() == before || !pasteboard.types().contains(target)) && waited.elapsed() < 5000)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    if (pasteboard.changeCount() == before)
        fail(QStringLiteral("xclip did not take the clipboard"));
}

// What a 5 MB PNG copied in another program costs the GUI thread: the monitor's poll (which
// hands the transfer to its worker) and, as the baseline, the same transfer read on the GUI
// thread through Qt, as the poll did before. Needs an X11 display: run the bench under
// scripts/x11-session with QT_QPA_PLATFORM=xcb.
void captureX11Image(benchmark::State& state, bool onGuiThread)
{
    guarded(state, [&] {
        if (QGuiApplication::platformName() != QLatin1String("xcb"))
            fail(QStringLiteral("needs an X11 display (QT_QPA_PLATFORM=xcb)"));
        QTemporaryDir folder(benchFile(QStringLiteral("x11-XXXXXX")));
        const QByteArray& png = fiveMegabytePNG();
        const QString file = folder.filePath(QStringLiteral("copy.png"));
        QFile out(file);
        if (!out.open(QIODevice::WriteOnly) || out.write(png) != png.size())
            fail(QStringLiteral("Cannot write %1").arg(file));
        out.close();

        ClipboardStore store(folder.filePath(QStringLiteral("clips.json")));
        const SensitiveContentDetector detector;
        Platform::X11Pasteboard pasteboard;
        Platform::MemoryWorkspace workspace;
        QuillomareMac::ClipboardMonitor monitor(pasteboard, store, detector, workspace);
        std::optional<ClipboardCaptureResult> captured;
        monitor.onCapture = [&](const ClipboardCaptureResult& result) { captured = result; };
        QProcess owner;
        qint64 slowest = 0;
        for (auto _ : state) {
            state.PauseTiming();
            captured.reset();
            xclipOwns(owner, file, QStringLiteral("image/png"), pasteboard);
            monitor.setLastChangeCount(pasteboard.changeCount() - 1);
            state.ResumeTiming();
            QElapsedTimer timer;
            timer.start();
            if (onGuiThread) {
                const auto bytes = pasteboard.data(QStringLiteral("image/png"));
                slowest = std::max(slowest, timer.nsecsElapsed());
                if (!bytes || *bytes != png)
                    fail(QStringLiteral("The image did not come whole (%1 of %2 bytes)").arg(bytes ? bytes->size() : -1).arg(png.size()));
            } else {
                monitor.poll();
                slowest = std::max(slowest, timer.nsecsElapsed());
                monitor.waitForPendingCaptures();
                if (!captured || !captured->item || captured->item->payload.imagePNGValue() != png)
                    fail(QStringLiteral("The image was not captured whole: %1").arg(captured && captured->ignoredReason ? *captured->ignoredReason : QString::number(captured && captured->item ? captured->item->payload.imagePNGByteCount() : -1)));
            }
        }
        owner.kill();
        owner.waitForFinished(2000);
        state.counters["gui_max_ms"] = double(slowest) / 1e6;
        state.counters["png_MB"] = double(png.size()) / kMB;
    });
}

} // namespace

BENCHMARK(captureText)->Name("Capture/1 MB text")->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK_CAPTURE(capturePNG, eightMiB, &noisePNG)->Name("Capture/8 MiB PNG")->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK_CAPTURE(capturePNG, fiveMB, &fiveMegabytePNG)->Name("Capture/5 MB PNG")->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(capturePNGToDisk)->Name("Capture/5 MB PNG to the history file")->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(captureTIFF)->Name("Capture/4K TIFF as PNG")->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(captureFiles)->Name("Capture/1000 files")->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(capturePhotos)->Name("Capture/150 photos of 24 MP")->Unit(benchmark::kMillisecond)->UseRealTime();
// Only where they can run: `QT_QPA_PLATFORM=xcb quillomare-bench` inside scripts/x11-session.
const bool x11CasesRegistered = [] {
    if (qgetenv("QT_QPA_PLATFORM") != "xcb")
        return false;
    benchmark::RegisterBenchmark("Capture/5 MB PNG from another program (X11)",
                                 [](benchmark::State& state) { captureX11Image(state, false); })
        ->Unit(benchmark::kMillisecond)
        ->UseRealTime()
        ->Iterations(10);
    benchmark::RegisterBenchmark("Capture/5 MB PNG read on the GUI thread (X11 baseline)",
                                 [](benchmark::State& state) { captureX11Image(state, true); })
        ->Unit(benchmark::kMillisecond)
        ->UseRealTime()
        ->Iterations(10);
    return true;
}();
