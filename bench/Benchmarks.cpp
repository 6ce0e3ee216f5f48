// What the history costs on every copy (add and save), at start (load) and per capture (the
// sensitive-text check, the image hash). Each store case runs next to the plain file operation it
// cannot beat, so that the price of the JSON form reads as a ratio at the end of the run.
//
// Every case reports the process's peak resident memory during the measured work (peak_MB) and how
// far that rose above what was resident when the work began (rise_MB). Timings are wall-clock:
// saves end with fsync, which CPU time does not see.

#include <QuillomareCore/ClipSettings.h>
#include <QuillomareCore/ClipboardItem.h>
#include <QuillomareCore/ClipboardStore.h>
#include <QuillomareCore/Foundation.h>
#include <QuillomareCore/Hashing.h>
#include <QuillomareCore/Json.h>
#include <QuillomareCore/SensitiveContentDetector.h>

#include "BenchSupport.h"

#include <benchmark/benchmark.h>

#include <QApplication>
#include <QFile>
#include <QFileInfo>
#include <QElapsedTimer>
#include <QSaveFile>
#include <QStorageInfo>

#include <algorithm>
#include <cstdio>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <unistd.h>
#include <vector>

namespace {

using namespace Bench;
using namespace QuillomareCore;

constexpr qsizetype kLargeImageBytes = ClipDefaults::maxImagePayloadBytes; // 8,388,608

// --- Folders and files

void reportFile(benchmark::State& state, const QString& path)
{
    const qint64 size = QFileInfo(path).size();
    state.SetBytesProcessed(state.iterations() * size);
    state.counters["file_MB"] = double(size) / kMB;
}

const QDateTime kEpoch(QDate(2026, 1, 1), QTime(12, 0), Qt::UTC);

ClipboardItem textItem(const QString& text, const QDateTime& createdAt)
{
    return ClipboardItem{
        .id = QUuid::createUuid(),
        .createdAt = createdAt,
        .kind = ClipKind::text,
        .preview = text,
        .contentHash = ClipHashing::textContentHash(text),
        .sourceAppName = std::nullopt,
        .sourceBundleIdentifier = std::nullopt,
        .sourcePlatform = ClipSourcePlatform::mac,
        .isSensitive = false,
        .isLocalOnly = false,
        .isPinned = false,
        .payload = ClipboardPayload::text(text),
    };
}

ClipboardItem imageItem(const QByteArray& png, const QDateTime& createdAt, QString contentHash = {})
{
    ClipboardItem item = textItem(QString(), createdAt);
    item.kind = ClipKind::image;
    item.preview = QStringLiteral("Image");
    item.contentHash = contentHash.isEmpty() ? ClipHashing::imageContentHash(png) : std::move(contentHash);
    item.payload = ClipboardPayload::imagePNG(png);
    return item;
}

// --- Histories

struct HistoryShape
{
    int texts = 0;
    int images = 0;
    qsizetype imageBytes = 5 * 1000 * 1000;

    int count() const { return texts + images; }
    std::string name() const
    {
        std::string name = std::to_string(texts) + " texts";
        if (images > 0)
            name += " + " + std::to_string(images) + " images";
        return name;
    }
};

// Built once: generating and hashing a hundred megabytes of images is not what is measured.
const QList<ClipboardItem>& sharedTexts()
{
    static const QList<ClipboardItem> items = [] {
        TextGenerator generator(1);
        QList<ClipboardItem> items;
        for (int i = 0; i < 1000; ++i)
            items.append(textItem(QStringLiteral("#%1 ").arg(i) + generator.historyText(), kEpoch));
        return items;
    }();
    return items;
}

// Twenty distinct images; a history with more repeats their bytes under other hashes.
const QList<ClipboardItem>& sharedImages()
{
    static const QList<ClipboardItem> items = [] {
        QList<ClipboardItem> items;
        for (int i = 0; i < 20; ++i)
            items.append(imageItem(randomBytes(5 * 1000 * 1000, 100 + i), kEpoch));
        return items;
    }();
    return items;
}

// The images are the newest entries, so the adds of a case trim old texts and never an image.
QList<ClipboardItem> historyItems(const HistoryShape& shape)
{
    QList<ClipboardItem> items;
    for (int i = 0; i < shape.images; ++i) {
        ClipboardItem image = sharedImages().at(i % sharedImages().size());
        if (i >= sharedImages().size()) {
            image.id = QUuid::createUuid();
            image.contentHash += QStringLiteral("-%1").arg(i);
        }
        items.append(image);
    }
    for (int i = 0; i < shape.texts; ++i)
        items.append(sharedTexts().at(i));
    for (qsizetype i = 0; i < items.size(); ++i)
        items[i].createdAt = kEpoch.addSecs(-60 * (i + 1));
    return items;
}

void requireLoaded(const ClipboardStore& store, qsizetype count)
{
    if (const auto& failure = store.lastLoadFailure())
        fail(QStringLiteral("The history did not load: %1").arg(failure->reason));
    if (store.items().size() != count)
        fail(QStringLiteral("The history holds %1 entries, not %2").arg(store.items().size()).arg(count));
}

// The history file as the store itself last saved it.
QString prepareHistoryFile(const HistoryShape& shape)
{
    const QString path = benchFile(QStringLiteral("clips.json"));
    const QList<ClipboardItem> items = historyItems(shape);
    ClipSettings settings;
    settings.maxHistoryCount = shape.count();
    writeHistoryFile(path, items.size(), settings, [&](qsizetype i) -> const ClipboardItem& { return items[i]; });
    ClipboardStore store(path);
    requireLoaded(store, shape.count());
    store.save();
    store.waitForPendingSaves();
    return path;
}

qsizetype imageCount(const ClipboardStore& store)
{
    return std::count_if(store.items().begin(), store.items().end(),
                         [](const ClipboardItem& item) { return item.payload.isImagePNG(); });
}

// --- Store cases and their baselines

// The new entry repeats the text of the one it pushes out under a new number, so the file keeps
// its size however many iterations run.
ClipboardItem nextEntry(const ClipboardStore& store, qint64 serial)
{
    const QString oldest = store.items().constLast().payload.textValue();
    const QString text = QStringLiteral("#%1 ").arg(1000 + serial) + oldest.sliced(oldest.indexOf(u' ') + 1);
    return textItem(text, kEpoch.addSecs(serial));
}

// A capture until its change is on disk: the add on the GUI thread and the writer's save.
void addAndSave(benchmark::State& state, HistoryShape shape)
{
    guarded(state, [&] {
        const QString path = prepareHistoryFile(shape);
        FileCleanup cleanup(path);
        ClipboardStore store(path);
        PeakMemory memory;
        qint64 serial = 0;
        for (auto _ : state) {
            state.PauseTiming();
            ClipboardItem item = nextEntry(store, ++serial);
            measured(state, memory, [&] {
                store.add(std::move(item));
                store.waitForPendingSaves();
            });
            state.ResumeTiming();
        }
        if (store.items().size() != shape.count() || imageCount(store) != shape.images || store.lastSaveError())
            fail(QStringLiteral("The history lost entries it should have kept; run fewer iterations"));
        reportFile(state, path);
        memory.report(state);
    });
}

// What a capture holds the GUI thread for, whatever the history's size: the add alone, the
// write running behind it as it does in the program.
void addOnGuiThread(benchmark::State& state, HistoryShape shape)
{
    guarded(state, [&] {
        const QString path = prepareHistoryFile(shape);
        FileCleanup cleanup(path);
        ClipboardStore store(path);
        qint64 serial = 0;
        qint64 slowest = 0;
        for (auto _ : state) {
            state.PauseTiming();
            ClipboardItem item = nextEntry(store, ++serial);
            state.ResumeTiming();
            QElapsedTimer timer;
            timer.start();
            store.add(std::move(item));
            slowest = std::max(slowest, timer.nsecsElapsed());
        }
        store.waitForPendingSaves();
        if (store.lastSaveError())
            fail(*store.lastSaveError());
        state.counters["gui_max_ms"] = double(slowest) / 1e6;
        state.counters[kGoalCounter] = kFrameMilliseconds;
        reportFile(state, path);
    });
}

void atomicWriteBaseline(benchmark::State& state, HistoryShape shape)
{
    guarded(state, [&] {
        const QString path = prepareHistoryFile(shape);
        FileCleanup cleanup(path);
        const QByteArray bytes = readWholeFile(path);
        PeakMemory memory;
        for (auto _ : state) {
            state.PauseTiming();
            measured(state, memory, [&] {
                QSaveFile file(path);
                if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size() || !file.commit())
                    fail(QStringLiteral("Cannot write %1: %2").arg(path, file.errorString()));
            });
            state.ResumeTiming();
        }
        reportFile(state, path);
        memory.report(state);
    });
}

void load(benchmark::State& state, HistoryShape shape)
{
    guarded(state, [&] {
        const QString path = prepareHistoryFile(shape);
        FileCleanup cleanup(path);
        PeakMemory memory;
        for (auto _ : state) {
            state.PauseTiming();
            std::optional<ClipboardStore> store;
            measured(state, memory, [&] { store.emplace(path); });
            requireLoaded(*store, shape.count());
            store.reset();
            state.ResumeTiming();
        }
        reportFile(state, path);
        memory.report(state);
    });
}

// Reads the file and decodes every image's base64 text where it lies in the bytes read: the least
// any loader of this format has to do.
void readDecodeBaseline(benchmark::State& state, HistoryShape shape)
{
    guarded(state, [&] {
        const QString path = prepareHistoryFile(shape);
        FileCleanup cleanup(path);

        struct Span
        {
            qsizetype offset;
            qsizetype length;
        };
        std::vector<Span> spans;
        {
            const QByteArray bytes = readWholeFile(path);
            for (int i = 0; i < shape.images; ++i) {
                const QByteArray encoded = Base64::encode(sharedImages().at(i).payload.imagePNGValue());
                const qsizetype offset = bytes.indexOf(encoded.first(64));
                if (offset < 0 || bytes.size() - offset < encoded.size() ||
                    QByteArrayView(bytes).sliced(offset, encoded.size()) != encoded)
                    fail(QStringLiteral("Image %1 is not in the file as expected").arg(i));
                spans.push_back({offset, encoded.size()});
            }
        }

        PeakMemory memory;
        for (auto _ : state) {
            state.PauseTiming();
            QList<QByteArray> images;
            measured(state, memory, [&] {
                QFile file(path);
                if (!file.open(QIODevice::ReadOnly))
                    fail(QStringLiteral("Cannot read %1").arg(path));
                const QByteArray bytes = file.readAll();
                images.reserve(qsizetype(spans.size()));
                for (const Span& span : spans) {
                    auto decoded = Base64::decode(std::string_view(bytes.constData() + span.offset, span.length));
                    if (!decoded)
                        fail(QStringLiteral("Invalid base64 in %1").arg(path));
                    images.append(std::move(*decoded));
                }
                benchmark::DoNotOptimize(images.data());
            });
            images.clear();
            state.ResumeTiming();
        }
        reportFile(state, path);
        memory.report(state);
    });
}

// --- Per-capture checks

void sensitiveContent(benchmark::State& state)
{
    guarded(state, [&] {
        qsizetype utf8Bytes = 0;
        const QString text = ordinaryText(1000 * 1000, 3, &utf8Bytes);
        const SensitiveContentDetector detector;
        if (const auto match = detector.firstMatch(text))
            fail(QStringLiteral("The ordinary text matches the rule “%1”").arg(match->label));

        PeakMemory memory;
        for (auto _ : state) {
            state.PauseTiming();
            measured(state, memory, [&] { benchmark::DoNotOptimize(detector.firstMatch(text)); });
            state.ResumeTiming();
        }
        state.SetBytesProcessed(state.iterations() * utf8Bytes);
        state.counters["text_MB"] = double(utf8Bytes) / kMB;
        memory.report(state);
    });
}

void imageHash(benchmark::State& state)
{
    guarded(state, [&] {
        const QByteArray image = randomBytes(kLargeImageBytes, 4);
        PeakMemory memory;
        for (auto _ : state) {
            state.PauseTiming();
            measured(state, memory, [&] { benchmark::DoNotOptimize(ClipHashing::imageContentHash(image)); });
            state.ResumeTiming();
        }
        state.SetBytesProcessed(state.iterations() * image.size());
        memory.report(state);
    });
}

// --- Large histories (opt-in)

// A history of `count` images of the largest size the store accepts. The images are regenerated
// from their seeds when the file is written, so only their hashes stay in memory.
class LargeHistory
{
public:
    explicit LargeHistory(int count) : m_count(count), m_path(benchFile(QStringLiteral("large-%1.json").arg(count))) {}

    int count() const { return m_count; }
    const QString& path() const { return m_path; }
    qint64 expectedFileSize() const { return qint64(m_count) * (kLargeImageBytes / 3 * 4 + 1024); }
    qint64 decodedSize() const { return qint64(m_count) * kLargeImageBytes; }

    bool hasFile() const { return m_hashes.size() == m_count && QFileInfo::exists(m_path); }

    const QString& ensureFile()
    {
        if (hasFile())
            return m_path;
        m_hashes.clear();
        ClipSettings settings;
        settings.maxHistoryCount = m_count;
        writeHistoryFile(m_path, m_count, settings, [&](qsizetype i) {
            const QByteArray png = randomBytes(kLargeImageBytes, 1000 + quint64(i));
            m_hashes.append(ClipHashing::imageContentHash(png));
            return imageItem(png, kEpoch.addSecs(-60 * (i + 1)), m_hashes.back());
        });
        return m_path;
    }

    // Entries newest first, as they were written: the i-th holds the i-th image.
    void verify(const ClipboardStore& store) const
    {
        requireLoaded(store, m_count);
        for (int i = 0; i < m_count; ++i) {
            const QByteArray png = store.items().at(i).payload.imagePNGValue();
            if (png.size() != kLargeImageBytes || ClipHashing::imageContentHash(png) != m_hashes.at(i))
                fail(QStringLiteral("Image %1 did not read back as it was written").arg(i));
        }
    }

    // Room for the file when it is still to be written, and for a second one when saving: the old
    // file stays until the new one is complete.
    void requireRoom(bool saving) const
    {
        const int files = (hasFile() ? 0 : 1) + (saving ? 1 : 0);
        const qint64 needed = expectedFileSize() * files + (qint64(1) << 30);
        const qint64 available = QStorageInfo(benchFolder()).bytesAvailable();
        if (available < needed)
            fail(QStringLiteral("Needs %1 free in %2, has %3")
                     .arg(Text::formatByteCount(needed), benchFolder(), Text::formatByteCount(available)));
        const qint64 memoryNeeded = decodedSize() + decodedSize() / 4;
        const qint64 memoryAvailable = procKilobytes("/proc/meminfo", "MemAvailable") * 1024;
        if (memoryAvailable < memoryNeeded)
            fail(QStringLiteral("Needs %1 of free memory, has %2")
                     .arg(Text::formatByteCount(memoryNeeded), Text::formatByteCount(memoryAvailable)));
    }

private:
    int m_count;
    QString m_path;
    QStringList m_hashes;
};

LargeHistory& largeHistory(int count)
{
    static std::map<int, std::unique_ptr<LargeHistory>> histories;
    auto& history = histories[count];
    if (!history)
        history = std::make_unique<LargeHistory>(count);
    return *history;
}

void largeSave(benchmark::State& state, int count)
{
    guarded(state, [&] {
        LargeHistory& history = largeHistory(count);
        history.requireRoom(true);
        ClipboardStore store(history.ensureFile());
        requireLoaded(store, count);
        PeakMemory memory;
        for (auto _ : state) {
            state.PauseTiming();
            measured(state, memory, [&] {
                store.save();
                store.waitForPendingSaves();
            });
            state.ResumeTiming();
        }
        reportFile(state, history.path());
        memory.report(state);
    });
}

void largeLoad(benchmark::State& state, int count)
{
    guarded(state, [&] {
        LargeHistory& history = largeHistory(count);
        history.requireRoom(false);
        const QString path = history.ensureFile();
        FileCleanup cleanup(path); // gigabytes: gone once read back
        PeakMemory memory;
        for (auto _ : state) {
            state.PauseTiming();
            std::optional<ClipboardStore> store;
            measured(state, memory, [&] { store.emplace(path); });
            history.verify(*store);
            store.reset();
            state.ResumeTiming();
        }
        reportFile(state, path);
        memory.report(state);
    });
}

// --- Registration and the goals

struct Goal
{
    std::string what;
    std::string measured;
    std::string baseline;
    double limit;
};

std::vector<Goal>& goals()
{
    static std::vector<Goal> goals;
    return goals;
}

void registerBenchmarks()
{
    const std::vector<HistoryShape> shapes = {{200, 0}, {1000, 0}, {200, 20}, {1000, 20}};
    // A save of a history with images waits on fsync for a varying while: more iterations keep
    // that noise out of the ratios.
    auto storeCase = [](const std::string& name, auto function, const HistoryShape& shape) {
        auto* registered =
            benchmark::RegisterBenchmark(name.c_str(), function, shape)->Unit(benchmark::kMillisecond)->UseRealTime();
        if (shape.images > 0)
            registered->MinTime(2.0);
    };
    for (const HistoryShape& shape : shapes) {
        const std::string save = "AddAndSave/" + shape.name();
        const std::string write = "AtomicWriteBaseline/" + shape.name();
        storeCase(save, addAndSave, shape);
        storeCase(write, atomicWriteBaseline, shape);
        goals().push_back({"save " + shape.name(), save, write, 1.5});
    }
    for (const HistoryShape& shape : shapes) {
        const std::string loadName = "Load/" + shape.name();
        const std::string read = "ReadDecodeBaseline/" + shape.name();
        storeCase(loadName, load, shape);
        storeCase(read, readDecodeBaseline, shape);
        goals().push_back({"load " + shape.name(), loadName, read, 2.0});
    }

    // 1000 texts, and a history of about a gigabyte (160 images of 5 MB).
    for (const HistoryShape& shape : {HistoryShape{1000, 0}, HistoryShape{200, 160}}) {
        benchmark::RegisterBenchmark(("AddOnGuiThread/" + shape.name()).c_str(), addOnGuiThread, shape)
            ->Unit(benchmark::kMillisecond)
            ->UseRealTime()
            ->Iterations(40);
    }

    benchmark::RegisterBenchmark("SensitiveContent/firstMatch/1 MB ordinary text", sensitiveContent)
        ->Unit(benchmark::kMillisecond)
        ->UseRealTime();
    benchmark::RegisterBenchmark("ImageHash/8 MiB", imageHash)->Unit(benchmark::kMillisecond)->UseRealTime();

    const QString large = qEnvironmentVariable("QUILLOMARE_BENCH_LARGE");
    std::vector<int> largeCounts;
    if (large == QLatin1String("1") || large == QLatin1String("1000"))
        largeCounts.push_back(200);
    if (large == QLatin1String("1000"))
        largeCounts.push_back(1000);
    for (const int count : largeCounts) {
        const std::string name = std::to_string(count) + " images x 8 MiB";
        benchmark::RegisterBenchmark(("LargeSave/" + name).c_str(), largeSave, count)
            ->Unit(benchmark::kSecond)
            ->UseRealTime()
            ->Iterations(1);
        benchmark::RegisterBenchmark(("LargeLoad/" + name).c_str(), largeLoad, count)
            ->Unit(benchmark::kSecond)
            ->UseRealTime()
            ->Iterations(1);
    }
}

// The usual console table, remembering each case's wall time per iteration for the goals.
class GoalReporter final : public benchmark::ConsoleReporter
{
public:
    using ConsoleReporter::ConsoleReporter;

    void ReportRuns(const std::vector<Run>& runs) override
    {
        // Every case is timed the same way (wall clock, its own minimum time): the names need
        // not repeat it on each line.
        // The frame goal is read here and printed under the table, not as a column of its own.
        std::vector<Run> shown = runs;
        for (Run& run : shown) {
            run.run_name.min_time.clear();
            run.run_name.time_type.clear();
            run.counters.erase(kGoalCounter);
        }
        ConsoleReporter::ReportRuns(shown);
        // With repetitions the median stands for the case; it is reported after the runs.
        for (const Run& run : runs) {
            const bool usable = run.run_type == Run::RT_Iteration || run.aggregate_name == "median";
            if (!usable || run.error_occurred || run.iterations <= 0)
                continue;
            const double seconds = run.real_accumulated_time / double(run.iterations);
            m_seconds[run.run_name.function_name] = seconds;
            if (const auto goal = run.counters.find(kGoalCounter); goal != run.counters.end()) {
                // A promise about every capture: the slowest iteration is what counts.
                const auto slowest = run.counters.find("gui_max_ms");
                const double milliseconds = slowest != run.counters.end() ? double(slowest->second) : seconds * 1e3;
                m_timeGoals[run.run_name.function_name] = {milliseconds, double(goal->second)};
            }
        }
    }

    void printGoals() const
    {
        bool header = false;
        for (const Goal& goal : goals()) {
            const auto measured = m_seconds.find(goal.measured);
            const auto baseline = m_seconds.find(goal.baseline);
            if (measured == m_seconds.end() || baseline == m_seconds.end())
                continue;
            if (!header) {
                std::printf("\nGoals (wall time against the plain file operation):\n");
                header = true;
            }
            const double ratio = measured->second / baseline->second;
            std::printf("  %-28s %9.2f ms / %9.2f ms = %5.2fx  (goal <= %.1fx: %s)\n", goal.what.c_str(),
                        measured->second * 1e3, baseline->second * 1e3, ratio, goal.limit,
                        ratio <= goal.limit ? "holds" : "MISSED");
        }
        if (!m_timeGoals.empty())
            std::printf("\nGoals (slowest iteration's wall time on the GUI thread):\n");
        for (const auto& [name, goal] : m_timeGoals)
            std::printf("  %-40s %9.2f ms  (goal <= %.0f ms: %s)\n", name.c_str(), goal.milliseconds, goal.limit,
                        goal.milliseconds <= goal.limit ? "holds" : "MISSED");
    }

private:
    struct TimeGoal
    {
        double milliseconds;
        double limit;
    };

    std::map<std::string, double> m_seconds;
    std::map<std::string, TimeGoal> m_timeGoals;
};

} // namespace

int main(int argc, char** argv)
{
    // Cases draw with QPainter, paint widgets and read images through Qt's plugins, which need a
    // widget application; the offscreen platform keeps the run free of any display.
    if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication application(argc, argv);

    // The goal summary only makes sense under the console table.
    bool console = true;
    for (int i = 1; i < argc; ++i) {
        const std::string argument = argv[i];
        if (argument.rfind("--benchmark_format=", 0) == 0 && argument != "--benchmark_format=console")
            console = false;
    }

    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    if (!resetPeakResidentSize())
        std::fprintf(stderr, "Cannot reset the memory high-water mark: peak_MB is the whole run's peak.\n");

    registerBenchmarks();
    if (console) {
        GoalReporter reporter(isatty(STDOUT_FILENO) ? benchmark::ConsoleReporter::OO_ColorTabular
                                                    : benchmark::ConsoleReporter::OO_Tabular);
        benchmark::RunSpecifiedBenchmarks(&reporter);
        reporter.printGoals();
    } else {
        benchmark::RunSpecifiedBenchmarks();
    }
    benchmark::Shutdown();
    return 0;
}
