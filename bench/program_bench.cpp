// The whole program with a large history (60 screenshots of 8 MiB, a file of about 660 MB), as a
// user meets it: how soon the island is on screen after launch, what the process holds once it has
// settled (and its peak during the load), how long the GUI thread stays busy while another program
// copies a text every 200 ms, and how often the program wakes up when nothing happens.
//
// The GUI thread is watched as ProgramBench.h describes; copies are made with xclip, as any other
// program makes them.
//
// It starts bin/quillomare next to this benchmark on the current X display, with a temporary home,
// and needs xclip: run it inside scripts/x11-session with QUILLOMARE_BENCH_PROGRAM=1
// (QUILLOMARE_BENCH_PROGRAM_IMAGES=n for a smaller history).

#include "ProgramBench.h"

#include <benchmark/benchmark.h>

#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QThread>

#include <string>

namespace {

using namespace Bench;

constexpr int kCopyIntervalMs = 200;
constexpr int kCopyStreamMs = 20000;
constexpr int kIdleMs = 10000;

// --- The process

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

// --- The case

void programWithImages(benchmark::State& state)
{
    guarded(state, [&] {
        ProgramHome home;
        writeImageHistory(home.historyPath());
        const double fileMB = double(QFileInfo(home.historyPath()).size()) / kMB;

        Display display;
        for (auto _ : state) {
            // Launch: until the island's window is mapped, then until its GUI thread answers.
            QElapsedTimer clock;
            clock.start();
            RunningProgram program(home);
            const qint64 pid = program.pid();
            waitForIsland(display);
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
            CopyStream stream(kCopyIntervalMs,
                              [](int n) { return "Bench copy " + std::to_string(n) + " of a stream"; });
            const BusyFigures busy = sampleBusyPeriods(guiThread, kCopyStreamMs);
            stream.stop();
            const double streamPeakMB = double(processStatusValue(pid, "VmHWM")) / 1024;
            const double streamRssMB = double(processStatusValue(pid, "VmRSS")) / 1024;

            program.end();

            state.counters["file_MB"] = fileMB;
            state.counters["mapped_ms"] = mappedMs;
            state.counters["answering_ms"] = answeringMs;
            state.counters["settled_MB"] = settledMB;
            state.counters["launch_peak_MB"] = launchPeakMB;
            state.counters["stream_peak_MB"] = streamPeakMB;
            state.counters["idle_wakeups_per_s"] = double(idleAfter.all - idleBefore.all) * 1000 / kIdleMs;
            state.counters["idle_gui_wakeups_per_s"] = double(idleAfter.gui - idleBefore.gui) * 1000 / kIdleMs;
            state.counters["stream_MB"] = streamRssMB;
            state.counters["copies"] = stream.copies();
            reportBusy(state, busy);
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
