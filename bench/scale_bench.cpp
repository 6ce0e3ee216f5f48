// A history of many large images (60 screenshots of 8 MiB, a file of about 660 MB) and one of
// 1,000 texts: what launching costs before the island can show (the history's load, its time and
// the memory it leaves resident, and the check of every image that follows it in the background),
// what a copy costs the GUI thread and how long until it is on disk, and a save beside the raw
// atomic write of the same bytes.
//
// The image cases write 660 MB to the bench folder; they run when QUILLOMARE_BENCH_LARGE is set.

#include <QuillomareCore/ClipSettings.h>
#include <QuillomareCore/ClipboardItem.h>
#include <QuillomareCore/ClipboardStore.h>
#include <QuillomareCore/Files.h>
#include <QuillomareCore/Foundation.h>
#include <QuillomareCore/Hashing.h>
#include <QuillomareCore/Json.h>
#include <QuillomareCore/StoredImage.h>

#include "BenchSupport.h"

#include <benchmark/benchmark.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QIODevice>
#include <QTimer>

#include <algorithm>
#include <optional>
#include <vector>

namespace {

using namespace Bench;
using namespace QuillomareCore;

constexpr int kImages = 60;
const QDateTime kStart = QDateTime(QDate(2025, 1, 1), QTime(0, 0), Qt::UTC);

ClipboardItem imageEntry(int index)
{
    return screenshotEntry(index);
}

ClipboardItem textEntry(qint64 serial, const QString& text)
{
    ClipboardItem item;
    item.id = QUuid::createUuid();
    item.createdAt = kStart.addSecs(serial);
    item.kind = ClipKind::text;
    item.preview = text.left(180);
    item.contentHash = QStringLiteral("text-%1").arg(serial);
    item.sourcePlatform = ClipSourcePlatform::mac;
    item.payload = ClipboardPayload::text(text);
    return item;
}

// The history file as the store writes it, made entry by entry so that the images are never all
// in memory.
template <typename ItemAt> QString writeHistory(const QString& name, int count, ItemAt&& itemAt)
{
    const QString path = benchFile(name);
    if (QFile::exists(path))
        return path;
    ClipSettings settings;
    settings.maxHistoryCount = 1000;
    writeHistoryFile(path, count, settings, std::forward<ItemAt>(itemAt));
    return path;
}

const QString& imageHistory()
{
    static const QString path =
        writeHistory(QStringLiteral("scale-images.json"), kImages, [](int i) { return imageEntry(i); });
    return path;
}

const QString& textHistory()
{
    static const QString path = writeHistory(QStringLiteral("scale-texts.json"), 1000, [](int i) {
        TextGenerator generator(50 + i);
        return textEntry(-i - 1, generator.historyText());
    });
    return path;
}

// The same images under their true identities, so that the check after a load reads them all.
const QString& identifiedImageHistory()
{
    static const QString path = writeHistory(QStringLiteral("scale-images-identified.json"), kImages, [](int i) {
        ClipboardItem item = imageEntry(i);
        item.contentHash = ClipHashing::imageContentHash(item.payload.imagePNGValue());
        return item;
    });
    return path;
}

// A private copy of a prepared history, so that saves do not change what the next case loads.
QString copyOf(const QString& path, const QString& name)
{
    const QString copy = benchFile(name);
    QFile::remove(copy);
    if (!QFile::copy(path, copy))
        fail(QStringLiteral("Cannot copy %1").arg(path));
    return copy;
}

void requireCount(const ClipboardStore& store, qsizetype count)
{
    if (store.lastLoadFailure())
        fail(QStringLiteral("The history did not load: %1").arg(store.lastLoadFailure()->reason));
    if (store.items().size() != count)
        fail(QStringLiteral("%1 entries instead of %2").arg(store.items().size()).arg(count));
}

double fileMegabytes(const QString& path)
{
    return double(QFileInfo(path).size()) / kMB;
}

// Launch: the store made from the file, as the launch does before the island exists; what stays
// resident afterwards is what the running program keeps for its history.
void loadImages(benchmark::State& state)
{
    guarded(state, [&] {
        const QString path = imageHistory();
        PeakMemory memory;
        double residentMB = 0;
        for (auto _ : state) {
            state.PauseTiming();
            malloc_trim(0);
            const qint64 before = statusKilobytes("VmRSS");
            std::optional<ClipboardStore> store;
            measured(state, memory, [&] { store.emplace(path); });
            requireCount(*store, kImages);
            residentMB = std::max(residentMB, double(statusKilobytes("VmRSS") - before) * 1024 / kMB);
            store.reset();
            state.ResumeTiming();
        }
        state.counters["file_MB"] = fileMegabytes(path);
        state.counters["resident_MB"] = residentMB;
        memory.report(state);
    });
}

// A save of the whole history, beside the raw atomic write of the same bytes.
void saveImages(benchmark::State& state)
{
    guarded(state, [&] {
        const QString path = copyOf(imageHistory(), QStringLiteral("scale-save.json"));
        FileCleanup cleanup(path);
        ClipboardStore store(path);
        requireCount(store, kImages);
        store.save(); // the store's own file, as after its first save
        store.waitForPendingSaves();
        PeakMemory memory;
        for (auto _ : state) {
            state.PauseTiming();
            measured(state, memory, [&] {
                store.save();
                store.waitForPendingSaves();
            });
            state.ResumeTiming();
        }
        if (store.lastSaveError())
            fail(*store.lastSaveError());
        state.counters["file_MB"] = fileMegabytes(path);
        memory.report(state);
    });
}

void atomicWriteImages(benchmark::State& state)
{
    guarded(state, [&] {
        const QString path = copyOf(imageHistory(), QStringLiteral("scale-raw.json"));
        FileCleanup cleanup(path);
        const QByteArray bytes = readWholeFile(path);
        for (auto _ : state) {
            Files::writeAtomically(path, [&](QIODevice& device) { return device.write(bytes) == bytes.size(); });
        }
        state.counters["file_MB"] = double(bytes.size()) / kMB;
    });
}

// A copy until it is on disk, and the longest the add held the GUI thread.
void copyToDisk(benchmark::State& state, const QString& prepared, qsizetype count, bool image)
{
    guarded(state, [&] {
        const QString path = copyOf(prepared, QStringLiteral("scale-copy.json"));
        FileCleanup cleanup(path);
        ClipboardStore store(path);
        requireCount(store, count);
        qint64 serial = 0;
        qint64 slowest = 0;
        for (auto _ : state) {
            state.PauseTiming();
            ++serial;
            ClipboardItem item =
                image ? imageEntry(1000 + int(serial)) : textEntry(serial, QStringLiteral("copy %1").arg(serial));
            item.createdAt = kStart.addSecs(serial);
            state.ResumeTiming();
            QElapsedTimer timer;
            timer.start();
            store.add(std::move(item));
            slowest = std::max(slowest, timer.nsecsElapsed());
            store.waitForPendingSaves();
        }
        if (store.lastSaveError())
            fail(*store.lastSaveError());
        state.counters["gui_max_ms"] = double(slowest) / 1e6;
        state.counters["file_MB"] = fileMegabytes(path);
    });
}

// A copy every 0.4 s into a history of 200 images of 1 MiB (a file of about 280 MB), as the GUI
// thread makes them (the store's add; the event loop turns between copies): the bytes written per
// copy, and the longest wait from a copy until a write that holds it is on disk. Goals: at most a
// tenth of the file per copy, and every copy on disk within 6 s.
qint64 bytesWrittenByThisProcess()
{
    QFile io(QStringLiteral("/proc/self/io"));
    if (!io.open(QIODevice::ReadOnly))
        fail(QStringLiteral("Cannot read /proc/self/io"));
    for (const QByteArray& line : io.readAll().split('\n')) {
        if (line.startsWith("wchar:"))
            return line.mid(6).trimmed().toLongLong();
    }
    fail(QStringLiteral("No wchar in /proc/self/io"));
}

void copyStream(benchmark::State& state)
{
    guarded(state, [&] {
        constexpr int kStreamImages = 200;
        constexpr int kCopies = 100;
        constexpr int kCopyIntervalMs = 400;
        const QString path = writeHistory(QStringLiteral("scale-stream.json"), kStreamImages, [](int i) {
            ClipboardItem item = imageEntry(i);
            item.contentHash = QStringLiteral("stream-image-%1").arg(i);
            item.payload = ClipboardPayload::imagePNG(randomBytes(1024 * 1024, 5000 + quint64(i)));
            return item;
        });
        for (auto _ : state) {
            const QString copy = copyOf(path, QStringLiteral("scale-stream-copy.json"));
            FileCleanup cleanup(copy);
            ClipboardStore store(copy);
            requireCount(store, kStreamImages);
            const qint64 before = bytesWrittenByThisProcess();
            QElapsedTimer clock;
            clock.start();
            qint64 longestWaitMs = 0;
            int onDisk = 0;
            for (int n = 0; n < kCopies; ++n) {
                while (clock.elapsed() < qint64(n) * kCopyIntervalMs)
                    QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
                store.add(textEntry(n + 1, QStringLiteral("stream copy %1").arg(n)));
                const qint64 madeAt = clock.elapsed();
                store.whenSaved([&, madeAt](const std::optional<QString>&) {
                    longestWaitMs = std::max(longestWaitMs, clock.elapsed() - madeAt);
                    ++onDisk;
                });
            }
            // The last copies until they are on disk, as the running program leaves them: the
            // event loop turns until the writes answer (no quitting flush).
            while (onDisk < kCopies && clock.elapsed() < 60'000)
                QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
            if (onDisk < kCopies)
                fail(QStringLiteral("%1 of %2 copies on disk after a minute").arg(onDisk).arg(kCopies));
            const qint64 written = bytesWrittenByThisProcess() - before;
            state.counters["file_MB"] = fileMegabytes(copy);
            state.counters["written_MB_per_copy"] = double(written) / kMB / kCopies;
            state.counters["whole_writes"] = double(written) / double(QFileInfo(copy).size());
            state.counters["longest_wait_to_disk_ms"] = double(longestWaitMs);
        }
    });
}

// After each save the history list compares every row's entry with the store's new one, on the
// GUI thread: each image row's entry still reads from the file version it was shown from, the
// store's from the version just written. The goal for a copy in a history of 60 images of 8 MiB:
// the GUI thread's longest block stays within 25 ms, so this comparison must be far below that.
void compareRowsAfterSave(benchmark::State& state)
{
    guarded(state, [&] {
        const QString path = copyOf(imageHistory(), QStringLiteral("scale-compare.json"));
        FileCleanup cleanup(path);
        ClipboardStore store(path);
        requireCount(store, kImages);
        const QList<ClipboardItem> shown = store.items();
        store.add(textEntry(1, QStringLiteral("a copy")));
        store.waitForPendingSaves();
        if (store.lastSaveError())
            fail(*store.lastSaveError());
        const QList<ClipboardItem> saved = store.items();
        qint64 slowest = 0;
        for (auto _ : state) {
            QElapsedTimer timer;
            timer.start();
            qsizetype same = 0;
            for (const ClipboardItem& row : shown)
                same += std::count(saved.cbegin(), saved.cend(), row) > 0 ? 1 : 0;
            slowest = std::max(slowest, timer.nsecsElapsed());
            if (same != kImages)
                fail(QStringLiteral("%1 of %2 rows found again").arg(same).arg(kImages));
        }
        state.counters["gui_max_ms"] = double(slowest) / 1e6;
    });
}

// The check of every image after a load, from the load until it has gone through them all:
// how long it takes, what memory it adds at most, and how late a 5 ms timer of the GUI thread
// fires meanwhile at worst.
void checkAfterLoad(benchmark::State& state)
{
    guarded(state, [&] {
        const QString path = identifiedImageHistory();
        PeakMemory memory;
        qint64 latestTimer = 0;
        for (auto _ : state) {
            state.PauseTiming();
            malloc_trim(0);
            std::optional<ClipboardStore> store;
            measured(state, memory, [&] {
                store.emplace(path);
                QElapsedTimer sinceTick;
                sinceTick.start();
                QTimer ticks;
                QObject::connect(&ticks, &QTimer::timeout, [&] {
                    latestTimer = std::max(latestTimer, sinceTick.nsecsElapsed() - 5'000'000);
                    sinceTick.restart();
                });
                ticks.start(5);
                while (!store->hasCheckedLoadedImages())
                    QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
            });
            requireCount(*store, kImages);
            for (const ClipboardItem& item : store->items()) {
                if (!item.payload.storedImageText() || !item.payload.storedImageText()->isChecked())
                    fail(QStringLiteral("An image was not checked"));
            }
            store.reset();
            state.ResumeTiming();
        }
        state.counters["file_MB"] = fileMegabytes(path);
        state.counters["gui_timer_late_max_ms"] = double(latestTimer) / 1e6;
        memory.report(state);
    });
}

struct Registration
{
    Registration()
    {
        benchmark::RegisterBenchmark("Scale/CopyToDisk/1000 texts",
                                     [](benchmark::State& state) { copyToDisk(state, textHistory(), 1000, false); })
            ->Unit(benchmark::kMillisecond)
            ->UseRealTime()
            ->Iterations(30);
        if (qEnvironmentVariableIsEmpty("QUILLOMARE_BENCH_LARGE"))
            return;
        benchmark::RegisterBenchmark("Scale/Load/60 images x 8 MiB", loadImages)
            ->Unit(benchmark::kMillisecond)
            ->UseRealTime()
            ->Iterations(3);
        benchmark::RegisterBenchmark("Scale/CheckAfterLoad/60 images x 8 MiB", checkAfterLoad)
            ->Unit(benchmark::kMillisecond)
            ->UseRealTime()
            ->Iterations(2);
        benchmark::RegisterBenchmark("Scale/Save/60 images x 8 MiB", saveImages)
            ->Unit(benchmark::kMillisecond)
            ->UseRealTime()
            ->Iterations(3);
        benchmark::RegisterBenchmark("Scale/AtomicWriteBaseline/60 images x 8 MiB", atomicWriteImages)
            ->Unit(benchmark::kMillisecond)
            ->UseRealTime()
            ->Iterations(3);
        benchmark::RegisterBenchmark("Scale/CopyToDisk/text, 60 images x 8 MiB",
                                     [](benchmark::State& state) { copyToDisk(state, imageHistory(), kImages, false); })
            ->Unit(benchmark::kMillisecond)
            ->UseRealTime()
            ->Iterations(5);
        benchmark::RegisterBenchmark("Scale/CopyStream/200 images x 1 MiB, a copy every 0.4 s", copyStream)
            ->Unit(benchmark::kMillisecond)
            ->UseRealTime()
            ->Iterations(1);
        benchmark::RegisterBenchmark("Scale/CompareRowsAfterSave/60 images x 8 MiB", compareRowsAfterSave)
            ->Unit(benchmark::kMillisecond)
            ->UseRealTime()
            ->Iterations(3);
        benchmark::RegisterBenchmark("Scale/CopyToDisk/8 MiB image, 60 images x 8 MiB",
                                     [](benchmark::State& state) { copyToDisk(state, imageHistory(), kImages, true); })
            ->Unit(benchmark::kMillisecond)
            ->UseRealTime()
            ->Iterations(5);
    }
};
const Registration registration;

} // namespace
