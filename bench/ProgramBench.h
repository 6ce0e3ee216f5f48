#pragma once

// What the benchmarks of the whole program share: the built program started as a user starts it
// (on the current X display, in a temporary home), its island's window found and looked at through
// X, keys pressed through XTest as a keyboard presses them, copies made by another program (xclip),
// and the GUI thread watched through /proc.
//
// The GUI thread is idle exactly when it waits in its event loop's poll; it is sampled every
// quarter millisecond through /proc (the system call it is in, or "running"). Any other state
// (computing, reading a file, waiting for a lock or for an X reply) is busy: a click or a request
// from another program arriving then waits until the busy period ends. The lag such an event
// would meet at a moment is what remains of the busy period around it; its percentiles and the
// longest busy period are reported.

#include "BenchSupport.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QProcess>
#include <QRect>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTemporaryFile>
#include <QThread>

#include <xcb/xcb.h>
#include <xcb/xtest.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

namespace Bench {

// Polls `condition` every millisecond until it holds or `milliseconds` pass.
inline bool waitUntil(const std::function<bool()>& condition, int milliseconds)
{
    QElapsedTimer clock;
    clock.start();
    while (!condition()) {
        if (clock.elapsed() > milliseconds)
            return false;
        QThread::usleep(1000);
    }
    return true;
}

// --- The history file

// 60 screenshots of 8 MiB (a file of about 660 MB), written entry by entry as the store writes
// them; QUILLOMARE_BENCH_PROGRAM_IMAGES=n runs the same with a smaller history.
inline void writeImageHistory(const QString& path)
{
    const int images = qEnvironmentVariableIsSet("QUILLOMARE_BENCH_PROGRAM_IMAGES")
                           ? qEnvironmentVariableIntValue("QUILLOMARE_BENCH_PROGRAM_IMAGES")
                           : 60;
    QuillomareCore::ClipSettings settings;
    settings.maxHistoryCount = 1000;
    writeHistoryFile(path, images, settings, [](qsizetype i) { return screenshotEntry(int(i)); });
}

// --- The process

// A "name: number" line of a /proc file of the process (or of one of its threads).
inline qint64 processValue(qint64 pid, const char* file, const char* field, qint64 tid = 0)
{
    const QByteArray path = tid ? QStringLiteral("/proc/%1/task/%2/%3").arg(pid).arg(tid).arg(QLatin1String(file)).toLocal8Bit()
                                : QStringLiteral("/proc/%1/%2").arg(pid).arg(QLatin1String(file)).toLocal8Bit();
    return procKilobytes(path.constData(), field);
}

inline qint64 processStatusValue(qint64 pid, const char* field, qint64 tid = 0)
{
    return processValue(pid, "status", field, tid);
}

// A home of its own with the first-run guide already seen, so that the program starts as a user
// meets it every day.
class ProgramHome
{
public:
    ProgramHome() : m_home(benchFolder() + QStringLiteral("/program-home-XXXXXX"))
    {
        if (!m_home.isValid())
            fail(QStringLiteral("Cannot create a temporary home"));
        QDir().mkpath(dataFolder() + QStringLiteral("/Quillomare"));
        QDir().mkpath(configFolder() + QStringLiteral("/Quillomare"));
        QFile ini(configFolder() + QStringLiteral("/Quillomare/Quillomare.ini"));
        if (!ini.open(QIODevice::WriteOnly))
            fail(QStringLiteral("Cannot write the settings"));
        ini.write("[General]\nQuillomare.didShowOnboarding.v1=true\n");
    }

    QString path() const { return m_home.path(); }
    QString dataFolder() const { return m_home.filePath(QStringLiteral(".local/share")); }
    QString configFolder() const { return m_home.filePath(QStringLiteral(".config")); }
    QString historyPath() const { return dataFolder() + QStringLiteral("/Quillomare/clips.json"); }

    QProcessEnvironment environment() const
    {
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.remove(QStringLiteral("QT_QPA_PLATFORM")); // the benchmark's own is offscreen
        environment.insert(QStringLiteral("HOME"), path());
        environment.insert(QStringLiteral("XDG_CONFIG_HOME"), configFolder());
        environment.insert(QStringLiteral("XDG_DATA_HOME"), dataFolder());
        environment.insert(QStringLiteral("XDG_CACHE_HOME"), m_home.filePath(QStringLiteral(".cache")));
        environment.insert(QStringLiteral("XDG_STATE_HOME"), m_home.filePath(QStringLiteral(".local/state")));
        return environment;
    }

private:
    QTemporaryDir m_home;
};

// bin/quillomare next to the benchmark, in the home; ended however the case ends, with time to
// finish its last save.
class RunningProgram
{
public:
    explicit RunningProgram(const ProgramHome& home)
    {
        const QString program = QCoreApplication::applicationDirPath() + QStringLiteral("/quillomare");
        if (!QFileInfo(program).isExecutable())
            fail(QStringLiteral("No program at %1").arg(program));
        if (QStandardPaths::findExecutable(QStringLiteral("xclip")).isEmpty())
            fail(QStringLiteral("xclip is needed to copy"));
        m_process.setProcessEnvironment(home.environment());
        m_process.setStandardOutputFile(QProcess::nullDevice());
        m_process.setStandardErrorFile(QProcess::nullDevice());
        m_process.start(program, {});
        if (!m_process.waitForStarted(5000))
            fail(QStringLiteral("The program did not start"));
    }
    ~RunningProgram() { end(); }
    RunningProgram(const RunningProgram&) = delete;
    RunningProgram& operator=(const RunningProgram&) = delete;

    qint64 pid() const { return m_process.processId(); }
    bool running() const { return m_process.state() == QProcess::Running; }

    void end()
    {
        if (m_process.state() == QProcess::NotRunning)
            return;
        m_process.terminate();
        if (!m_process.waitForFinished(15000)) {
            m_process.kill();
            m_process.waitForFinished(5000);
        }
    }

private:
    QProcess m_process;
};

// --- X

class Display
{
public:
    Display()
    {
        int screenNumber = 0;
        m_connection = xcb_connect(nullptr, &screenNumber);
        if (xcb_connection_has_error(m_connection))
            fail(QStringLiteral("Cannot open the X display (run inside scripts/x11-session)"));
        xcb_screen_iterator_t screens = xcb_setup_roots_iterator(xcb_get_setup(m_connection));
        for (int i = 0; i < screenNumber && screens.rem > 0; ++i)
            xcb_screen_next(&screens);
        m_root = screens.data->root;
    }
    ~Display() { xcb_disconnect(m_connection); }
    Display(const Display&) = delete;
    Display& operator=(const Display&) = delete;

    // The viewable top-level windows whose WM_CLASS instance is the program's.
    std::vector<xcb_window_t> mappedIslandWindows()
    {
        std::vector<xcb_window_t> found;
        xcb_query_tree_reply_t* tree =
            xcb_query_tree_reply(m_connection, xcb_query_tree(m_connection, m_root), nullptr);
        if (!tree)
            return found;
        const xcb_window_t* children = xcb_query_tree_children(tree);
        const int count = xcb_query_tree_children_length(tree);
        std::vector<xcb_get_window_attributes_cookie_t> attributes;
        std::vector<xcb_get_property_cookie_t> classes;
        for (int i = 0; i < count; ++i) {
            attributes.push_back(xcb_get_window_attributes(m_connection, children[i]));
            classes.push_back(
                xcb_get_property(m_connection, 0, children[i], XCB_ATOM_WM_CLASS, XCB_ATOM_STRING, 0, 64));
        }
        for (int i = 0; i < count; ++i) {
            xcb_get_window_attributes_reply_t* a =
                xcb_get_window_attributes_reply(m_connection, attributes[i], nullptr);
            xcb_get_property_reply_t* c = xcb_get_property_reply(m_connection, classes[i], nullptr);
            if (a && c && a->map_state == XCB_MAP_STATE_VIEWABLE) {
                const char* value = static_cast<const char*>(xcb_get_property_value(c));
                const int length = xcb_get_property_value_length(c);
                if (length > 0 && QByteArray(value, qstrnlen(value, length)) == "quillomare")
                    found.push_back(children[i]);
            }
            free(a);
            free(c);
        }
        free(tree);
        return found;
    }

    xcb_window_t findMappedIsland()
    {
        const std::vector<xcb_window_t> windows = mappedIslandWindows();
        return windows.empty() ? 0 : windows.front();
    }

    // Where the window is on the screen; empty when it is gone.
    QRect geometry(xcb_window_t window)
    {
        xcb_get_geometry_reply_t* size =
            xcb_get_geometry_reply(m_connection, xcb_get_geometry(m_connection, window), nullptr);
        xcb_translate_coordinates_reply_t* place = xcb_translate_coordinates_reply(
            m_connection, xcb_translate_coordinates(m_connection, window, m_root, 0, 0), nullptr);
        QRect rect;
        if (size && place)
            rect = QRect(place->dst_x, place->dst_y, size->width, size->height);
        free(size);
        free(place);
        return rect;
    }

    // The widest of the program's windows on screen: the island, collapsed or expanded.
    QRect islandGeometry()
    {
        QRect widest;
        for (xcb_window_t window : mappedIslandWindows()) {
            const QRect rect = geometry(window);
            if (rect.width() > widest.width())
                widest = rect;
        }
        return widest;
    }

    // The screen's pixels in `rect` as the X server holds them; null when they cannot be read.
    QImage grab(const QRect& rect)
    {
        xcb_get_image_reply_t* reply = xcb_get_image_reply(
            m_connection,
            xcb_get_image(m_connection, XCB_IMAGE_FORMAT_Z_PIXMAP, m_root, int16_t(rect.x()), int16_t(rect.y()),
                          uint16_t(rect.width()), uint16_t(rect.height()), ~0u),
            nullptr);
        if (!reply)
            return {};
        QImage image;
        const int length = xcb_get_image_data_length(reply);
        if (reply->depth == 24 && length >= rect.width() * rect.height() * 4)
            image = QImage(xcb_get_image_data(reply), rect.width(), rect.height(), rect.width() * 4, QImage::Format_RGB32)
                        .copy();
        free(reply);
        return image;
    }

    // Presses and releases the key of `keysym`, with the modifiers' keys held, through XTest: the
    // server queues it as a keyboard's and gives it to the window with the focus. Returns once the
    // server has taken it in.
    void pressKey(quint32 keysym, const std::vector<quint32>& modifiers = {})
    {
        ensureXTest();
        std::vector<xcb_keycode_t> held;
        for (const quint32 modifier : modifiers)
            held.push_back(keycode(modifier));
        const xcb_keycode_t key = keycode(keysym);
        for (const xcb_keycode_t code : held)
            fake(XCB_KEY_PRESS, code);
        fake(XCB_KEY_PRESS, key);
        fake(XCB_KEY_RELEASE, key);
        for (auto code = held.rbegin(); code != held.rend(); ++code)
            fake(XCB_KEY_RELEASE, *code);
        sync();
    }

    void sync() { free(xcb_get_input_focus_reply(m_connection, xcb_get_input_focus(m_connection), nullptr)); }

private:
    void ensureXTest()
    {
        if (m_hasXTest)
            return;
        xcb_test_get_version_reply_t* version =
            xcb_test_get_version_reply(m_connection, xcb_test_get_version(m_connection, 2, 2), nullptr);
        if (!version)
            fail(QStringLiteral("The X server has no XTEST extension: keys cannot be pressed"));
        free(version);
        m_hasXTest = true;
    }

    xcb_keycode_t keycode(quint32 keysym)
    {
        const xcb_setup_t* setup = xcb_get_setup(m_connection);
        const int count = setup->max_keycode - setup->min_keycode + 1;
        xcb_get_keyboard_mapping_reply_t* mapping = xcb_get_keyboard_mapping_reply(
            m_connection, xcb_get_keyboard_mapping(m_connection, setup->min_keycode, uint8_t(count)), nullptr);
        if (!mapping)
            fail(QStringLiteral("Cannot read the keyboard mapping"));
        const xcb_keysym_t* keysyms = xcb_get_keyboard_mapping_keysyms(mapping);
        const int perCode = mapping->keysyms_per_keycode;
        xcb_keycode_t found = 0;
        for (int i = 0; i < count * perCode && !found; ++i) {
            if (keysyms[i] == keysym)
                found = xcb_keycode_t(setup->min_keycode + i / perCode);
        }
        free(mapping);
        if (!found)
            fail(QStringLiteral("No key gives keysym 0x%1").arg(keysym, 0, 16));
        return found;
    }

    void fake(uint8_t type, xcb_keycode_t code)
    {
        xcb_test_fake_input(m_connection, type, code, XCB_CURRENT_TIME, m_root, 0, 0, XCB_NONE);
    }

    xcb_connection_t* m_connection = nullptr;
    xcb_window_t m_root = 0;
    bool m_hasXTest = false;
};

// Keysyms the cases press.
namespace Keys {
constexpr quint32 controlLeft = 0xffe3;
constexpr quint32 altLeft = 0xffe9;
constexpr quint32 backSpace = 0xff08;
constexpr quint32 returnKey = 0xff0d;
constexpr quint32 up = 0xff52;
constexpr quint32 down = 0xff54;
constexpr quint32 v = 'v';
} // namespace Keys

// Launch: until the island's window is mapped (within 20 s); fails otherwise.
inline xcb_window_t waitForIsland(Display& display)
{
    xcb_window_t island = 0;
    waitUntil([&] { return (island = display.findMappedIsland()) != 0; }, 20000);
    if (!island)
        fail(QStringLiteral("The island was not mapped within 20 s"));
    return island;
}

// The island is much wider expanded than as a pill.
constexpr int kExpandedIslandWidth = 600;

// Opens the island for typing with the global hot key, as a user does.
inline void openIsland(Display& display)
{
    display.pressKey(Keys::v, {Keys::controlLeft, Keys::altLeft});
    if (!waitUntil([&] { return display.islandGeometry().width() > kExpandedIslandWidth; }, 5000))
        fail(QStringLiteral("Ctrl+Alt+V did not expand the island within 5 s"));
}

// --- Copies by another program

// Copies through xclip: the command's exit status (0 once xclip holds the copy).
inline int xclip(const std::string& arguments)
{
    const std::string command = "xclip -selection clipboard " + arguments + " >/dev/null 2>&1";
    return std::system(command.c_str());
}

inline bool xclipCopyText(const std::string& text)
{
    QTemporaryFile file(benchFolder() + QStringLiteral("/copy-XXXXXX"));
    if (!file.open() || file.write(text.data(), qint64(text.size())) != qint64(text.size()) || !file.flush())
        return false;
    return xclip("-i '" + file.fileName().toStdString() + "'") == 0;
}

// Another program copying `textOf(n)` every `intervalMs`, on a schedule of its own, until stopped.
// `copying(n, atMs)` is told of each copy as xclip starts, with the time on the stream's clock.
class CopyStream
{
public:
    CopyStream(int intervalMs, std::function<std::string(int)> textOf,
               std::function<void(int, double)> copying = {})
    {
        m_clock.start();
        m_thread = std::thread([this, intervalMs, textOf = std::move(textOf), copying = std::move(copying)] {
            for (int n = 0; m_copying; ++n) {
                const qint64 due = qint64(n) * intervalMs;
                while (m_copying && m_clock.elapsed() < due)
                    QThread::usleep(500);
                if (!m_copying)
                    break;
                const std::string text = textOf(n);
                if (copying)
                    copying(n, elapsedMs());
                if (xclipCopyText(text))
                    ++m_copies;
            }
        });
    }
    ~CopyStream() { stop(); }
    CopyStream(const CopyStream&) = delete;
    CopyStream& operator=(const CopyStream&) = delete;

    void stop()
    {
        m_copying = false;
        if (m_thread.joinable())
            m_thread.join();
    }
    int copies() const { return m_copies; }
    double elapsedMs() const { return double(m_clock.nsecsElapsed()) / 1e6; }

private:
    QElapsedTimer m_clock;
    std::atomic<bool> m_copying{true};
    std::atomic<int> m_copies{0};
    std::thread m_thread;
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

    // Until the thread has stayed idle for `quietMs` (within `boundMs`): the program has settled.
    bool waitUntilQuiet(int quietMs, int boundMs) const
    {
        QElapsedTimer clock, quiet;
        clock.start();
        quiet.start();
        while (quiet.elapsed() < quietMs) {
            if (clock.elapsed() > boundMs)
                return false;
            if (!idle())
                quiet.restart();
            QThread::usleep(250);
        }
        return true;
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
inline BusyFigures sampleBusyPeriods(const GuiThreadState& thread, int durationMs)
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

inline void reportBusy(benchmark::State& state, const BusyFigures& busy)
{
    state.counters["samples"] = double(busy.samples);
    state.counters["busy_pct"] = busy.busyPercent;
    state.counters["busy_max_ms"] = busy.longestMs;
    state.counters["lag_p99_ms"] = busy.lagP99Ms;
    state.counters["lag_p999_ms"] = busy.lagP999Ms;
    state.counters["busy_over_8ms"] = busy.periodsOver8Ms;
    state.counters["busy_over_25ms"] = busy.periodsOver25Ms;
}

// The machine's load when the figures were taken: other work on it shows in them.
inline void reportLoad(benchmark::State& state)
{
    double load[1] = {0};
    if (getloadavg(load, 1) == 1)
        state.counters["load_1min"] = load[0];
}

} // namespace Bench
