// The whole program with a large history (60 screenshots of 8 MiB, a file of about 660 MB), as a
// user meets it: how soon the island is on screen after launch, what the process holds once it has
// settled (and its peak during the load), how long the GUI thread stays busy while another program
// copies a text every 200 ms, and how often the program wakes up when nothing happens.
//
// The GUI thread is idle exactly when it waits in its event loop's poll; it is sampled every
// quarter millisecond through /proc (the system call it is in, or "running"). Any other state
// (computing, reading a file, waiting for a lock or for an X reply) is busy: a click or a request
// from another program arriving then waits until the busy period ends. The lag such an event
// would meet at a moment is what remains of the busy period around it; its percentiles and the
// longest busy period are reported. Copies are made with xclip, as any other program makes them.
//
// It starts bin/quillomare next to this benchmark on the current X display, with a temporary home,
// and needs xclip: run it inside scripts/x11-session with QUILLOMARE_BENCH_PROGRAM=1
// (QUILLOMARE_BENCH_PROGRAM_IMAGES=n for a smaller history).

#include <QuillomareCore/ClipSettings.h>
#include <QuillomareCore/ClipboardItem.h>
#include <QuillomareCore/Foundation.h>
#include <QuillomareCore/Json.h>

#include "BenchSupport.h"

#include <benchmark/benchmark.h>

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QThread>

#include <xcb/xcb.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <thread>
#include <vector>

namespace {

using namespace Bench;
using namespace QuillomareCore;

constexpr int kImages = 60;
constexpr int kCopyIntervalMs = 200;
constexpr int kCopyStreamMs = 20000;
constexpr int kIdleMs = 10000;

// --- The history file, written entry by entry as the store writes it

void writeImageHistory(const QString& path)
{
    // QUILLOMARE_BENCH_PROGRAM_IMAGES=n runs the same with a smaller history.
    const int images = qEnvironmentVariableIsSet("QUILLOMARE_BENCH_PROGRAM_IMAGES")
                           ? qEnvironmentVariableIntValue("QUILLOMARE_BENCH_PROGRAM_IMAGES")
                           : kImages;
    ClipSettings settings;
    settings.maxHistoryCount = 1000;
    writeHistoryFile(path, images, settings, [](qsizetype i) { return screenshotEntry(int(i)); });
}

// --- The process

qint64 processStatusValue(qint64 pid, const char* field, qint64 tid = 0)
{
    const QByteArray path = tid ? QStringLiteral("/proc/%1/task/%2/status").arg(pid).arg(tid).toLocal8Bit()
                                : QStringLiteral("/proc/%1/status").arg(pid).toLocal8Bit();
    return procKilobytes(path.constData(), field);
}

// Context switches of every thread: each one is a wake-up (or a preemption).
struct Wakeups
{
    qint64 all = 0;
    qint64 gui = 0;
};

Wakeups wakeups(qint64 pid)
{
    Wakeups total;
    const QStringList tasks =
        QDir(QStringLiteral("/proc/%1/task").arg(pid)).entryList(QDir::Dirs | QDir::NoDotAndDotDot);
    for (const QString& task : tasks) {
        const qint64 tid = task.toLongLong();
        const qint64 count = processStatusValue(pid, "voluntary_ctxt_switches", tid) +
                             processStatusValue(pid, "nonvoluntary_ctxt_switches", tid);
        total.all += count;
        if (tid == pid)
            total.gui += count;
    }
    return total;
}

// --- X

class Display
{
public:
    Display()
    {
        m_connection = xcb_connect(nullptr, nullptr);
        if (xcb_connection_has_error(m_connection))
            fail(QStringLiteral("Cannot open the X display (run inside scripts/x11-session)"));
        m_root = xcb_setup_roots_iterator(xcb_get_setup(m_connection)).data->root;
    }
    ~Display() { xcb_disconnect(m_connection); }
    Display(const Display&) = delete;
    Display& operator=(const Display&) = delete;

    // A viewable top-level window whose WM_CLASS instance is the program's.
    xcb_window_t findMappedIsland()
    {
        xcb_query_tree_reply_t* tree =
            xcb_query_tree_reply(m_connection, xcb_query_tree(m_connection, m_root), nullptr);
        if (!tree)
            return 0;
        const xcb_window_t* children = xcb_query_tree_children(tree);
        const int count = xcb_query_tree_children_length(tree);
        std::vector<xcb_get_window_attributes_cookie_t> attributes;
        std::vector<xcb_get_property_cookie_t> classes;
        for (int i = 0; i < count; ++i) {
            attributes.push_back(xcb_get_window_attributes(m_connection, children[i]));
            classes.push_back(
                xcb_get_property(m_connection, 0, children[i], XCB_ATOM_WM_CLASS, XCB_ATOM_STRING, 0, 64));
        }
        xcb_window_t found = 0;
        for (int i = 0; i < count; ++i) {
            xcb_get_window_attributes_reply_t* a =
                xcb_get_window_attributes_reply(m_connection, attributes[i], nullptr);
            xcb_get_property_reply_t* c = xcb_get_property_reply(m_connection, classes[i], nullptr);
            if (a && c && a->map_state == XCB_MAP_STATE_VIEWABLE && !found) {
                const char* value = static_cast<const char*>(xcb_get_property_value(c));
                const int length = xcb_get_property_value_length(c);
                if (length > 0 && QByteArray(value, qstrnlen(value, length)) == "quillomare")
                    found = children[i];
            }
            free(a);
            free(c);
        }
        free(tree);
        return found;
    }

private:
    xcb_connection_t* m_connection = nullptr;
    xcb_window_t m_root = 0;
};

// --- The GUI thread

// True while the thread waits in its event loop's poll (poll, ppoll, epoll_wait, epoll_pwait).
class GuiThreadState
{
public:
    explicit GuiThreadState(qint64 pid)
        : m_file(QStringLiteral("/proc/%1/task/%1/syscall").arg(pid).toLocal8Bit().toStdString())
    {}

    bool idle() const
    {
        FILE* file = std::fopen(m_file.c_str(), "r");
        if (!file)
            fail(QStringLiteral("Cannot read the GUI thread's state"));
        char text[32] = {};
        const size_t length = std::fread(text, 1, sizeof text - 1, file);
        std::fclose(file);
        if (length == 0 || text[0] < '0' || text[0] > '9')
            return false; // "running"
        const long call = std::strtol(text, nullptr, 10);
        return call == 7 || call == 271 || call == 232 || call == 281;
    }

private:
    std::string m_file;
};

struct BusyFigures
{
    double longestMs = 0;
    double lagP99Ms = 0;
    double lagP999Ms = 0;
    double busyPercent = 0;
    int periodsOver8Ms = 0;
    int periodsOver25Ms = 0;
    qint64 samples = 0;
};

// Samples the thread for `durationMs`. Each busy sample's lag is the time left until the busy
// period it lies in ends; an idle sample's lag is nothing.
BusyFigures sampleBusyPeriods(const GuiThreadState& thread, int durationMs)
{
    std::vector<std::pair<double, bool>> samples; // (ms since start, idle)
    samples.reserve(size_t(durationMs) * 4 + 16);
    QElapsedTimer clock;
    clock.start();
    while (clock.elapsed() < durationMs) {
        const bool idle = thread.idle();
        samples.emplace_back(double(clock.nsecsElapsed()) / 1e6, idle);
        QThread::usleep(250);
    }
    BusyFigures figures;
    figures.samples = qint64(samples.size());
    std::vector<double> lags(samples.size(), 0.0);
    double busyMs = 0;
    size_t i = 0;
    while (i < samples.size()) {
        if (samples[i].second) {
            ++i;
            continue;
        }
        size_t end = i;
        while (end < samples.size() && !samples[end].second)
            ++end;
        // From the last idle sample before to the first idle sample after: the period lies within.
        const double from = i > 0 ? samples[i - 1].first : samples[i].first;
        const double to = end < samples.size() ? samples[end].first : samples.back().first;
        const double length = to - from;
        figures.longestMs = std::max(figures.longestMs, length);
        figures.periodsOver8Ms += length > 8;
        figures.periodsOver25Ms += length > 25;
        busyMs += length;
        for (size_t k = i; k < end; ++k)
            lags[k] = to - samples[k].first;
        i = end;
    }
    std::sort(lags.begin(), lags.end());
    if (!lags.empty()) {
        figures.lagP99Ms = lags[std::min(lags.size() - 1, size_t(0.99 * double(lags.size())))];
        figures.lagP999Ms = lags[std::min(lags.size() - 1, size_t(0.999 * double(lags.size())))];
        figures.busyPercent = 100.0 * busyMs / std::max(1.0, samples.back().first);
    }
    return figures;
}

// --- The case

void programWithImages(benchmark::State& state)
{
    guarded(state, [&] {
        const QString program = QCoreApplication::applicationDirPath() + QStringLiteral("/quillomare");
        if (!QFileInfo(program).isExecutable())
            fail(QStringLiteral("No program at %1").arg(program));
        if (QStandardPaths::findExecutable(QStringLiteral("xclip")).isEmpty())
            fail(QStringLiteral("xclip is needed to copy"));

        QTemporaryDir home(benchFolder() + QStringLiteral("/program-home-XXXXXX"));
        if (!home.isValid())
            fail(QStringLiteral("Cannot create a temporary home"));
        const QString data = home.filePath(QStringLiteral(".local/share"));
        const QString config = home.filePath(QStringLiteral(".config"));
        QDir().mkpath(data + QStringLiteral("/Quillomare"));
        QDir().mkpath(config + QStringLiteral("/Quillomare"));
        const QString history = data + QStringLiteral("/Quillomare/clips.json");
        writeImageHistory(history);
        {
            QFile ini(config + QStringLiteral("/Quillomare/Quillomare.ini"));
            if (!ini.open(QIODevice::WriteOnly))
                fail(QStringLiteral("Cannot write the settings"));
            ini.write("[General]\nQuillomare.didShowOnboarding.v1=true\n");
        }
        const double fileMB = double(QFileInfo(history).size()) / kMB;

        Display display;
        for (auto _ : state) {
            QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
            environment.remove(QStringLiteral("QT_QPA_PLATFORM")); // the benchmark's own is offscreen
            environment.insert(QStringLiteral("HOME"), home.path());
            environment.insert(QStringLiteral("XDG_CONFIG_HOME"), config);
            environment.insert(QStringLiteral("XDG_DATA_HOME"), data);
            environment.insert(QStringLiteral("XDG_CACHE_HOME"), home.filePath(QStringLiteral(".cache")));
            environment.insert(QStringLiteral("XDG_STATE_HOME"), home.filePath(QStringLiteral(".local/state")));
            QProcess process;
            process.setProcessEnvironment(environment);
            process.setStandardOutputFile(QProcess::nullDevice());
            process.setStandardErrorFile(QProcess::nullDevice());
            // Ended however the case ends, with time to finish its last save.
            auto endProcess = [](QProcess* running) {
                running->terminate();
                if (!running->waitForFinished(15000)) {
                    running->kill();
                    running->waitForFinished(5000);
                }
            };
            std::unique_ptr<QProcess, decltype(endProcess)> ended(&process, endProcess);

            // Launch: until the island's window is mapped, then until its GUI thread answers.
            QElapsedTimer clock;
            clock.start();
            process.start(program, {});
            if (!process.waitForStarted(5000))
                fail(QStringLiteral("The program did not start"));
            const qint64 pid = process.processId();
            xcb_window_t island = 0;
            while (!island && clock.elapsed() < 20000) {
                island = display.findMappedIsland();
                if (!island)
                    QThread::usleep(1000);
            }
            if (!island)
                fail(QStringLiteral("The island was not mapped within 20 s"));
            const double mappedMs = double(clock.nsecsElapsed()) / 1e6;
            const GuiThreadState guiThread(pid);
            while (!guiThread.idle() && clock.elapsed() < 30000)
                QThread::usleep(250);
            const double answeringMs = double(clock.nsecsElapsed()) / 1e6;

            // Settled: what the process holds, and its peak so far (the load's).
            QThread::msleep(3000);
            const double settledMB = double(processStatusValue(pid, "VmRSS")) / 1024;
            const double launchPeakMB = double(processStatusValue(pid, "VmHWM")) / 1024;

            // Idle, before any copy: nothing but the fallback poll should wake the program.
            const Wakeups idleBefore = wakeups(pid);
            QThread::msleep(kIdleMs);
            const Wakeups idleAfter = wakeups(pid);

            // A copy every 200 ms by another program, while the GUI thread is watched.
            std::atomic<bool> copying{true};
            std::atomic<int> copies{0};
            std::thread copier([&] {
                QElapsedTimer copyClock;
                copyClock.start();
                for (int n = 0; copying; ++n) {
                    const qint64 due = qint64(n) * kCopyIntervalMs;
                    while (copying && copyClock.elapsed() < due)
                        QThread::usleep(500);
                    if (!copying)
                        break;
                    const std::string command = "printf 'Bench copy %d of a stream' " + std::to_string(n) +
                                                " | xclip -selection clipboard -i >/dev/null 2>&1";
                    if (std::system(command.c_str()) == 0)
                        ++copies;
                }
            });
            const BusyFigures busy = sampleBusyPeriods(guiThread, kCopyStreamMs);
            copying = false;
            copier.join();
            const double streamPeakMB = double(processStatusValue(pid, "VmHWM")) / 1024;
            const double streamRssMB = double(processStatusValue(pid, "VmRSS")) / 1024;

            ended.reset();

            state.counters["file_MB"] = fileMB;
            state.counters["mapped_ms"] = mappedMs;
            state.counters["answering_ms"] = answeringMs;
            state.counters["settled_MB"] = settledMB;
            state.counters["launch_peak_MB"] = launchPeakMB;
            state.counters["stream_peak_MB"] = streamPeakMB;
            state.counters["idle_wakeups_per_s"] = double(idleAfter.all - idleBefore.all) * 1000 / kIdleMs;
            state.counters["idle_gui_wakeups_per_s"] = double(idleAfter.gui - idleBefore.gui) * 1000 / kIdleMs;
            state.counters["stream_MB"] = streamRssMB;
            state.counters["copies"] = copies.load();
            state.counters["samples"] = double(busy.samples);
            state.counters["busy_pct"] = busy.busyPercent;
            state.counters["busy_max_ms"] = busy.longestMs;
            state.counters["lag_p99_ms"] = busy.lagP99Ms;
            state.counters["lag_p999_ms"] = busy.lagP999Ms;
            state.counters["busy_over_8ms"] = busy.periodsOver8Ms;
            state.counters["busy_over_25ms"] = busy.periodsOver25Ms;
            state.SetIterationTime(mappedMs / 1000);
        }
    });
}

struct Registration
{
    Registration()
    {
        if (qEnvironmentVariableIsEmpty("QUILLOMARE_BENCH_PROGRAM"))
            return;
        benchmark::RegisterBenchmark("Program/60 images x 8 MiB, a copy every 200 ms", programWithImages)
            ->Unit(benchmark::kMillisecond)
            ->UseManualTime()
            ->Iterations(1);
    }
};
const Registration registration;

} // namespace
