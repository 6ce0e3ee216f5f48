// The whole program on a real X display, as a user and other programs meet it:
// - how long a copy made in another program waits until it is in the history file on disk, while
//   the history holds 60 screenshots (about 660 MB) and another program copies every 0.4 s, and
//   how many bytes the program writes per copy (it gathers copies into one write of a large file);
// - how long after a key press the search field of the expanded island shows it on screen;
// - how long the GUI thread blocks while another program hands over 20 MB of text or an 8 MiB
//   PNG (island collapsed or expanded), and while the island copies an entry back from another
//   program that holds 20 MB on the clipboard.
//
// It starts bin/quillomare next to this benchmark on the current X display, with a temporary home,
// and needs xclip: run it inside scripts/x11-session with QUILLOMARE_BENCH_PROGRAM=1.
// QUILLOMARE_BENCH_PICTURES=<folder> keeps the island and its search field before and after the
// first key as PNG files, to see what the key case compares.

#include "ProgramBench.h"

#include <benchmark/benchmark.h>

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QProcess>
#include <QThread>

#include <sys/stat.h>

#include <algorithm>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace {

using namespace Bench;

// Percentile of a sorted list.
double percentile(const std::vector<double>& sorted, double fraction)
{
    if (sorted.empty())
        return -1;
    return sorted[std::min(sorted.size() - 1, size_t(fraction * double(sorted.size())))];
}

// --- The history file as a bystander sees it

// Which version of the file is there: every save puts a new file in place.
struct FileVersion
{
    ino_t inode = 0;
    qint64 modifiedNs = 0;
    qint64 size = -1;

    static FileVersion of(const QString& path)
    {
        struct stat info = {};
        FileVersion version;
        if (::stat(QFile::encodeName(path).constData(), &info) == 0) {
            version.inode = info.st_ino;
            version.modifiedNs = qint64(info.st_mtim.tv_sec) * 1000000000 + info.st_mtim.tv_nsec;
            version.size = info.st_size;
        }
        return version;
    }
    bool operator==(const FileVersion&) const = default;
};

// The newest entries come first in the file: a short copy is within its first bytes.
QByteArray historyHead(const QString& path, qint64 bytes = 4 * 1024 * 1024)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return file.read(bytes);
}

bool waitUntilOnDisk(const QString& history, const QByteArray& text, int milliseconds)
{
    return waitUntil([&] { return historyHead(history).contains(text); }, milliseconds);
}

// A program just started with an empty history, settled, with a few short entries on disk.
void copySmallEntries(const QString& history, const QStringList& texts)
{
    for (const QString& text : texts) {
        if (!xclipCopyText(text.toStdString()))
            fail(QStringLiteral("xclip could not copy %1").arg(text));
        if (!waitUntilOnDisk(history, text.toUtf8(), 10000))
            fail(QStringLiteral("\"%1\" was not in the history file within 10 s").arg(text));
    }
}

void waitUntilQuiet(const GuiThreadState& gui, int quietMs, int boundMs, const char* when)
{
    if (!gui.waitUntilQuiet(quietMs, boundMs))
        fail(QStringLiteral("The GUI thread did not settle within %1 s %2").arg(boundMs / 1000).arg(QLatin1String(when)));
}

// The open island's caret blinks every half second: the GUI thread is never idle much longer.
constexpr int kQuietWhileOpenMs = 200;

// The program just started: its island on screen and its GUI thread settled after the load.
GuiThreadState settledAfterLaunch(Display& display, const RunningProgram& program, int boundMs = 20000)
{
    waitForIsland(display);
    const GuiThreadState gui(program.pid());
    waitUntilQuiet(gui, 500, boundMs, "after the launch");
    return gui;
}

// A copy's echo expands the island for a moment; the user opens it from the pill.
void waitUntilFolded(Display& display)
{
    if (!waitUntil([&] { return display.islandGeometry().width() <= kExpandedIslandWidth; }, 10000))
        fail(QStringLiteral("The island did not fold back to the pill within 10 s"));
}

// --- 1. Copy to disk with a 660 MB history

constexpr int kDiskCopyIntervalMs = 400;
// Long enough that the last write, which follows the stream's end, weighs little in the bytes
// written per copy.
constexpr int kDiskStreamMs = 60000;
constexpr int kDiskGoalMs = 6000;

std::string diskProbe(int n)
{
    return QStringLiteral("Copy to disk probe %1 of the stream").arg(n, 4, 10, QLatin1Char('0')).toStdString();
}

void copyToDisk(benchmark::State& state)
{
    guarded(state, [&] {
        ProgramHome home;
        const QString history = home.historyPath();
        writeImageHistory(history);
        const double fileMB = double(QFileInfo(history).size()) / kMB;

        Display display;
        for (auto _ : state) {
            RunningProgram program(home);
            const qint64 pid = program.pid();
            settledAfterLaunch(display, program, 60000);

            const qint64 writtenBefore = processValue(pid, "io", "write_bytes");
            const qint64 handedBefore = processValue(pid, "io", "wchar");
            if (writtenBefore < 0)
                fail(QStringLiteral("Cannot read /proc/%1/io").arg(pid));

            struct Copy
            {
                double copiedMs = -1;
                double onDiskMs = -1;
            };
            std::mutex lock;
            std::vector<Copy> copies(kDiskStreamMs / kDiskCopyIntervalMs + 8);
            CopyStream stream(kDiskCopyIntervalMs, diskProbe, [&](int n, double atMs) {
                const std::lock_guard<std::mutex> guard(lock);
                if (size_t(n) < copies.size())
                    copies[size_t(n)].copiedMs = atMs;
            });
            auto anyWaiting = [&] {
                const std::lock_guard<std::mutex> guard(lock);
                return std::any_of(copies.begin(), copies.end(),
                                   [](const Copy& copy) { return copy.copiedMs >= 0 && copy.onDiskMs < 0; });
            };
            // Each new file version is looked into as soon as it is in place; what a copy waited
            // is from its start until the version holding it was seen.
            FileVersion seen = FileVersion::of(history);
            bool streaming = true;
            int versions = 0;
            const double boundMs = kDiskStreamMs + 2.0 * kDiskGoalMs;
            while (stream.elapsedMs() < boundMs) {
                if (streaming && stream.elapsedMs() >= kDiskStreamMs) {
                    stream.stop();
                    streaming = false;
                }
                const FileVersion now = FileVersion::of(history);
                if (!streaming && !anyWaiting())
                    break;
                if (now == seen) {
                    QThread::usleep(2000);
                    continue;
                }
                const double seenMs = stream.elapsedMs();
                seen = now;
                ++versions;
                const QByteArray head = historyHead(history);
                const std::lock_guard<std::mutex> guard(lock);
                for (size_t n = 0; n < copies.size(); ++n) {
                    Copy& copy = copies[n];
                    if (copy.copiedMs >= 0 && copy.onDiskMs < 0 &&
                        head.contains(QByteArray::fromStdString(diskProbe(int(n)))))
                        copy.onDiskMs = seenMs;
                }
            }
            stream.stop();
            const qint64 writtenAfter = processValue(pid, "io", "write_bytes");
            const qint64 handedAfter = processValue(pid, "io", "wchar");
            program.end();

            std::vector<double> waits;
            int missing = 0, late = 0;
            const int copied = stream.copies();
            for (size_t n = 0; n < copies.size(); ++n) {
                const Copy& copy = copies[n];
                if (copy.copiedMs < 0)
                    continue;
                if (copy.onDiskMs < 0) {
                    ++missing;
                    std::fprintf(stderr, "copy %zu never reached the history file\n", n);
                    continue;
                }
                const double wait = copy.onDiskMs - copy.copiedMs;
                waits.push_back(wait);
                if (wait > kDiskGoalMs) {
                    ++late;
                    std::fprintf(stderr, "copy %zu was on disk only after %.0f ms\n", n, wait);
                }
            }
            std::sort(waits.begin(), waits.end());
            if (copied == 0)
                fail(QStringLiteral("xclip made no copy"));

            state.counters["file_MB"] = fileMB;
            state.counters["copies"] = copied;
            state.counters["file_versions"] = versions;
            state.counters["wait_median_ms"] = percentile(waits, 0.5);
            state.counters["wait_max_ms"] = waits.empty() ? -1 : waits.back();
            state.counters["over_6s"] = late;
            state.counters["not_on_disk"] = missing;
            state.counters["disk_MB_per_copy"] = double(writtenAfter - writtenBefore) / kMB / copied;
            state.counters["written_MB_per_copy"] = double(handedAfter - handedBefore) / kMB / copied;
            reportLoad(state);
            state.SetIterationTime(percentile(waits, 0.5) / 1000);
        }
    });
}

// --- 2. Key to first pixels of the search field

constexpr int kKeyPresses = 40;
constexpr int kKeyBoundMs = 2000;

// The columns in which two pictures of the same place differ: the caret blinking changes one or
// two, a character typed or taken away several.
int changedColumns(const QImage& before, const QImage& after)
{
    if (before.size() != after.size())
        return before.width();
    int columns = 0;
    for (int x = 0; x < before.width(); ++x) {
        for (int y = 0; y < before.height(); ++y) {
            if (before.pixel(x, y) != after.pixel(x, y)) {
                ++columns;
                break;
            }
        }
    }
    return columns;
}
constexpr int kTypedColumns = 4;

// The search field of the expanded island: below the History/Shelf switch, at the left (seen on
// the island's screenshots; QUILLOMARE_BENCH_PICTURES keeps them).
QRect searchField(const QRect& island)
{
    return QRect(island.x() + 16, island.y() + 52, 224, 36);
}

void keepPicture(const QImage& picture, const QString& name)
{
    const QString folder = qEnvironmentVariable("QUILLOMARE_BENCH_PICTURES");
    if (folder.isEmpty())
        return;
    QDir().mkpath(folder);
    if (!picture.save(folder + QLatin1Char('/') + name))
        fail(QStringLiteral("Cannot save %1 in %2").arg(name, folder));
}

void keyToPixels(benchmark::State& state)
{
    guarded(state, [&] {
        ProgramHome home;
        Display display;
        for (auto _ : state) {
            RunningProgram program(home);
            const GuiThreadState gui = settledAfterLaunch(display, program);
            copySmallEntries(home.historyPath(), {QStringLiteral("meeting notes for friday"),
                                                  QStringLiteral("parcel tracking number 8841"),
                                                  QStringLiteral("draft of the quarterly report")});
            waitUntilFolded(display);
            openIsland(display);
            waitUntilQuiet(gui, kQuietWhileOpenMs, 10000, "after opening the island");

            const QRect island = display.islandGeometry();
            const QRect field = searchField(island);
            keepPicture(display.grab(island), QStringLiteral("island-expanded.png"));

            std::vector<double> latencies;
            for (int press = 0; press < kKeyPresses; ++press) {
                waitUntilQuiet(gui, 100, 5000, "between keys");
                const QImage before = display.grab(field);
                if (before.isNull())
                    fail(QStringLiteral("Cannot read the screen's pixels"));
                QElapsedTimer clock;
                clock.start();
                display.pressKey(press % 2 == 0 ? quint32('w') : Keys::backSpace);
                QImage after;
                bool changed = false;
                while (!changed && clock.elapsed() < kKeyBoundMs) {
                    after = display.grab(field);
                    changed = changedColumns(before, after) >= kTypedColumns;
                }
                const double elapsedMs = double(clock.nsecsElapsed()) / 1e6;
                if (press == 0) {
                    keepPicture(before, QStringLiteral("field-before.png"));
                    keepPicture(after, QStringLiteral("field-after.png"));
                }
                if (!changed)
                    fail(QStringLiteral("Key %1 did not show in the search field within %2 ms")
                             .arg(press + 1)
                             .arg(kKeyBoundMs));
                latencies.push_back(elapsedMs);
            }
            program.end();

            std::sort(latencies.begin(), latencies.end());
            state.counters["keys"] = double(latencies.size());
            state.counters["key_median_ms"] = percentile(latencies, 0.5);
            state.counters["key_p90_ms"] = percentile(latencies, 0.9);
            state.counters["key_max_ms"] = latencies.back();
            reportLoad(state);
            state.SetIterationTime(percentile(latencies, 0.5) / 1000);
        }
    });
}

// --- 3. The GUI thread while 20 MB pass

enum class Transfer { textToPill, textToExpanded, pngToExpanded, copyBackWhile20MBHeld };

constexpr qsizetype kLargeTextBytes = 20 * 1000 * 1000;
constexpr int kTransferWatchMs = 10000;
constexpr int kBeforeTransferMs = 300;

// 20 MB of ordinary text with a line of its own first, to find it in the history file.
const QString& largeTextFile()
{
    static const QString path = [] {
        const QString file = benchFile(QStringLiteral("twenty-megabytes.txt"));
        QByteArray text = "Twenty megabytes copied by another program\n";
        text += ordinaryText(kLargeTextBytes, 2020).toUtf8();
        QFile out(file);
        if (!out.open(QIODevice::WriteOnly) || out.write(text) != text.size())
            fail(QStringLiteral("Cannot write %1").arg(file));
        return file;
    }();
    return path;
}

// A PNG just within the history's 8 MiB limit for images: noise does not compress, as a photo
// barely does.
const QString& largePngFile()
{
    static const QString path = [] {
        const QString file = benchFile(QStringLiteral("eight-mebibytes.png"));
        constexpr int side = 1640; // 3 bytes a pixel
        QImage image(side, side, QImage::Format_RGB888);
        const QByteArray noise = randomBytes(qsizetype(image.bytesPerLine()) * side, 88);
        for (int y = 0; y < side; ++y)
            std::memcpy(image.scanLine(y), noise.constData() + qsizetype(y) * image.bytesPerLine(), image.bytesPerLine());
        const QByteArray png = pngOf(image);
        if (png.size() > QuillomareCore::ClipDefaults::maxImagePayloadBytes || png.size() < 8 * 1000 * 1000)
            fail(QStringLiteral("The noise PNG is %1 bytes, not just below 8 MiB").arg(png.size()));
        QFile out(file);
        if (!out.open(QIODevice::WriteOnly) || out.write(png) != png.size())
            fail(QStringLiteral("Cannot write %1").arg(file));
        return file;
    }();
    return path;
}

// The clipboard as another program reads it now; empty when nobody answers within 5 s.
QByteArray pasted()
{
    QProcess xclipOut;
    xclipOut.start(QStringLiteral("xclip"), {QStringLiteral("-selection"), QStringLiteral("clipboard"),
                                             QStringLiteral("-o")});
    if (!xclipOut.waitForFinished(5000)) {
        xclipOut.kill();
        xclipOut.waitForFinished(1000);
        return {};
    }
    return xclipOut.readAllStandardOutput();
}

// A new version of the history file that grew by about the content: the copy was kept.
bool keptIn(const FileVersion& now, const FileVersion& before, qint64 contentBytes)
{
    return !(now == before) && now.size - before.size > contentBytes / 2;
}

void largeTransfer(benchmark::State& state, Transfer transfer)
{
    guarded(state, [&] {
        const bool png = transfer == Transfer::pngToExpanded;
        const QString content = png ? largePngFile() : largeTextFile();
        const qint64 contentBytes = QFileInfo(content).size();
        auto holds = [contentBytes](const FileVersion& now, const FileVersion& before) {
            return keptIn(now, before, contentBytes);
        };
        const std::string xclipIn =
            std::string(png ? "-t image/png " : "") + "-i '" + content.toStdString() + "'";
        const QStringList small{QStringLiteral("a short note copied first"),
                                QStringLiteral("a second short note copied")};
        ProgramHome home;
        const QString history = home.historyPath();
        Display display;
        for (auto _ : state) {
            // Every case reports every counter (-1: not this case's), as the CSV output needs.
            double heldCaptured = -1, copiedBack = -1, xclipMs = -1, savedMs = -1;
            RunningProgram program(home);
            const GuiThreadState gui = settledAfterLaunch(display, program);
            copySmallEntries(history, small);

            if (transfer == Transfer::copyBackWhile20MBHeld) {
                // Another program holds 20 MB; the island copies a short entry back over it.
                const FileVersion before = FileVersion::of(history);
                if (xclip(xclipIn) != 0)
                    fail(QStringLiteral("xclip could not copy %1").arg(content));
                heldCaptured =
                    waitUntil([&] { return holds(FileVersion::of(history), before); }, 20000) ? 1 : 0;
            }
            waitUntilFolded(display);
            waitUntilQuiet(gui, 500, 30000, "before the transfer");
            if (transfer != Transfer::textToPill) {
                openIsland(display);
                waitUntilQuiet(gui, kQuietWhileOpenMs, 10000, "after opening the island");
            }
            if (transfer == Transfer::copyBackWhile20MBHeld) {
                // The second row: Up to the top first, as the selection may start anywhere.
                for (int i = 0; i < 4; ++i)
                    display.pressKey(Keys::up);
                display.pressKey(Keys::down);
                waitUntilQuiet(gui, kQuietWhileOpenMs, 10000, "after selecting a row");
            }

            const FileVersion before = FileVersion::of(history);
            BusyFigures busy;
            std::thread watcher([&] { busy = sampleBusyPeriods(gui, kTransferWatchMs); });
            QThread::msleep(kBeforeTransferMs);
            QElapsedTimer clock;
            clock.start();
            int status = 0;
            if (transfer == Transfer::copyBackWhile20MBHeld)
                display.pressKey(Keys::returnKey);
            else
                status = xclip(xclipIn);
            const bool copyBack = transfer == Transfer::copyBackWhile20MBHeld;
            if (!copyBack)
                xclipMs = double(clock.nsecsElapsed()) / 1e6;
            if (status == 0 && !copyBack &&
                waitUntil([&] { return holds(FileVersion::of(history), before); },
                          kTransferWatchMs - kBeforeTransferMs - 500))
                savedMs = double(clock.nsecsElapsed()) / 1e6;
            watcher.join();
            if (status != 0)
                fail(QStringLiteral("xclip could not copy %1").arg(content));

            if (copyBack) {
                const QByteArray now = pasted();
                copiedBack = small.contains(QString::fromUtf8(now)) ? 1 : 0;
                if (!copiedBack)
                    std::fprintf(stderr, "after Return the clipboard holds %lld bytes, not a short entry\n",
                                 qint64(now.size()));
            } else if (savedMs < 0) {
                std::fprintf(stderr, "%s was not in the history file within %d ms\n", qPrintable(content),
                             kTransferWatchMs - kBeforeTransferMs - 500);
            }
            program.end();

            state.counters["content_MB"] = double(contentBytes) / kMB;
            state.counters["xclip_ms"] = xclipMs;
            state.counters["saved_after_ms"] = savedMs;
            state.counters["held_captured"] = heldCaptured;
            state.counters["copied_back"] = copiedBack;
            reportBusy(state, busy);
            reportLoad(state);
            state.SetIterationTime(busy.longestMs / 1000);
        }
    });
}

struct Registration
{
    Registration()
    {
        if (qEnvironmentVariableIsEmpty("QUILLOMARE_BENCH_PROGRAM"))
            return;
        auto manual = [](benchmark::internal::Benchmark* benchmark) {
            benchmark->Unit(benchmark::kMillisecond)->UseManualTime()->Iterations(1);
        };
        manual(benchmark::RegisterBenchmark("ProgramInput/copy to disk, 60 images x 8 MiB, a copy every 0.4 s",
                                            copyToDisk));
        manual(benchmark::RegisterBenchmark("ProgramInput/key to search field pixels", keyToPixels));
        manual(benchmark::RegisterBenchmark("ProgramInput/20 MB text copied, island collapsed", largeTransfer,
                                            Transfer::textToPill));
        manual(benchmark::RegisterBenchmark("ProgramInput/20 MB text copied, island expanded", largeTransfer,
                                            Transfer::textToExpanded));
        manual(benchmark::RegisterBenchmark("ProgramInput/8 MiB PNG copied, island expanded", largeTransfer,
                                            Transfer::pngToExpanded));
        manual(benchmark::RegisterBenchmark("ProgramInput/entry copied back over a 20 MB owner", largeTransfer,
                                            Transfer::copyBackWhile20MBHeld));
    }
};
const Registration registration;

} // namespace
