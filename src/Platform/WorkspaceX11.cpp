// Everything the workspace asks the X server lives in this file. The clipboard monitor asks for
// the frontmost application at every capture, on the GUI thread: a query is two pipelined round
// trips with a deadline, so a stalled server costs a capture its source name, never a hang.
#include "WorkspaceX11.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusReply>
#include <QDeadlineTimer>
#include <QDesktopServices>
#include <QFile>
#include <QFileInfo>
#include <QGuiApplication>
#include <QLocale>
#include <QLoggingCategory>
#include <QMutexLocker>
#include <QSocketNotifier>
#include <QSysInfo>
#include <QThread>

#include <xcb/xcb.h>
#include <xcb/xcbext.h>

#include <poll.h>
#include <unistd.h>

#include <array>
#include <chrono>
#include <climits>
#include <cstdlib>
#include <thread>

Q_LOGGING_CATEGORY(lcWorkspace, "quillomare.platform.workspace", QtWarningMsg)

namespace Platform {

using DesktopEntries::WindowFacts;

namespace {

const QString kFileManagerPath = QStringLiteral("/org/freedesktop/FileManager1");
const QString kFileManagerInterface = QStringLiteral("org.freedesktop.FileManager1");

struct FreeDeleter
{
    void operator()(void* pointer) const { std::free(pointer); }
};
using PropertyReply = std::unique_ptr<xcb_get_property_reply_t, FreeDeleter>;

enum class ReplyOutcome { received, failed, timedOut };

// Waits for one reply until the deadline. On our own connection we sleep in poll() on its
// socket; on Qt's, Qt's reader thread owns the socket and files replies for us, so we look again
// after short pauses (a local round trip takes well under a millisecond).
ReplyOutcome awaitReply(xcb_connection_t* connection, unsigned int sequence, bool ownConnection,
                        const QDeadlineTimer& deadline, void** reply)
{
    *reply = nullptr;
    for (int attempt = 0;; ++attempt) {
        xcb_generic_error_t* error = nullptr;
        if (xcb_poll_for_reply(connection, sequence, reply, &error)) {
            // A window that vanished mid-query answers BadWindow: an outcome, not a fault.
            const bool failed = error != nullptr || *reply == nullptr;
            std::free(error);
            return failed ? ReplyOutcome::failed : ReplyOutcome::received;
        }
        if (xcb_connection_has_error(connection) || deadline.hasExpired()) {
            if (!xcb_connection_has_error(connection))
                xcb_discard_reply(connection, sequence);
            return ReplyOutcome::timedOut;
        }
        if (ownConnection) {
            pollfd descriptor{xcb_get_file_descriptor(connection), POLLIN, 0};
            ::poll(&descriptor, 1, static_cast<int>(qBound(qint64(1), deadline.remainingTime(), qint64(50))));
        } else if (attempt < 4) {
            std::this_thread::yield();
        } else {
            std::this_thread::sleep_for(std::chrono::microseconds(qMin(25 << qMin(attempt - 4, 6), 1000)));
        }
    }
}

PropertyReply propertyOrNull(ReplyOutcome outcome, void* reply)
{
    return PropertyReply(outcome == ReplyOutcome::received ? static_cast<xcb_get_property_reply_t*>(reply) : nullptr);
}

std::optional<quint32> cardinalValue(const xcb_get_property_reply_t* reply)
{
    if (!reply || reply->format != 32 || xcb_get_property_value_length(reply) < 4)
        return std::nullopt;
    return *static_cast<const quint32*>(xcb_get_property_value(reply));
}

QByteArray bytesValue(const xcb_get_property_reply_t* reply)
{
    if (!reply || reply->format != 8)
        return {};
    return QByteArray(static_cast<const char*>(xcb_get_property_value(reply)), xcb_get_property_value_length(reply));
}

// X string properties may or may not end in a NUL.
QByteArray untilNul(const QByteArray& bytes)
{
    const qsizetype end = bytes.indexOf('\0');
    return end < 0 ? bytes : bytes.first(end);
}

QByteArray readProcFile(const QString& path, qint64 limit = 64 * 1024)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return file.read(limit);
}

bool isThisMachine(const QByteArray& clientMachine)
{
    if (clientMachine.isEmpty())
        return true; // not said: a client on another machine names its host
    const auto shortName = [](const QString& host) { return host.section(QLatin1Char('.'), 0, 0).toLower(); };
    const QString machine = QString::fromLatin1(untilNul(clientMachine));
    return machine.compare(QLatin1String("localhost"), Qt::CaseInsensitive) == 0
           || shortName(machine) == shortName(QSysInfo::machineHostName());
}

// What /proc tells about the window's process. A pid from another pid namespace (a sandboxed
// client reports its own view) may name a kernel thread or nothing here: the pid is dropped then.
void addProcessFacts(WindowFacts& facts)
{
    const QString process = QStringLiteral("/proc/") + QString::number(facts.processIdentifier);
    if (readProcFile(process + QStringLiteral("/cmdline"), 4096).isEmpty()) {
        facts.processIdentifier = 0;
        return;
    }
    std::array<char, PATH_MAX> target{};
    const ssize_t length = ::readlink(QFile::encodeName(process + QStringLiteral("/exe")).constData(), target.data(),
                                      target.size() - 1);
    if (length > 0) {
        QString executable = QFile::decodeName(QByteArray(target.data(), length));
        if (executable.endsWith(QLatin1String(" (deleted)"))) // replaced by an upgrade while running
            executable.chop(10);
        facts.executableName = executable.mid(executable.lastIndexOf(QLatin1Char('/')) + 1);
    } else {
        facts.executableName = QString::fromUtf8(readProcFile(process + QStringLiteral("/comm"), 256).trimmed());
    }
    std::optional<QString> flatpakId =
        DesktopEntries::flatpakIdFromInfo(readProcFile(process + QStringLiteral("/root/.flatpak-info")));
    if (!flatpakId)
        flatpakId = DesktopEntries::flatpakIdFromCgroup(readProcFile(process + QStringLiteral("/cgroup")));
    facts.flatpakId = flatpakId.value_or(QString());
}

// The atoms a query needs, in the order of X11Connection's members.
constexpr std::array<const char*, 3> kAtomNames = {"_NET_ACTIVE_WINDOW", "_NET_WM_PID", "_NET_WM_NAME"};

xcb_window_t rootOfScreen(xcb_connection_t* connection, int screen)
{
    xcb_screen_iterator_t it = xcb_setup_roots_iterator(xcb_get_setup(connection));
    const xcb_window_t first = it.rem > 0 ? it.data->root : xcb_window_t(XCB_WINDOW_NONE);
    for (int i = 0; it.rem > 0; xcb_screen_next(&it), ++i) {
        if (i == screen)
            return it.data->root;
    }
    return first;
}

// The window's own properties that name its application, asked in one go; they are read by
// windowFactsFrom() in the same order.
std::array<unsigned int, 4> requestWindowProperties(xcb_connection_t* connection, xcb_window_t window,
                                                    xcb_atom_t wmPid, xcb_atom_t wmName)
{
    return {
        xcb_get_property(connection, 0, window, wmPid, XCB_GET_PROPERTY_TYPE_ANY, 0, 1).sequence,
        xcb_get_property(connection, 0, window, XCB_ATOM_WM_CLASS, XCB_GET_PROPERTY_TYPE_ANY, 0, 256).sequence,
        xcb_get_property(connection, 0, window, wmName, XCB_GET_PROPERTY_TYPE_ANY, 0, 1024).sequence,
        xcb_get_property(connection, 0, window, XCB_ATOM_WM_CLIENT_MACHINE, XCB_GET_PROPERTY_TYPE_ANY, 0, 64).sequence,
    };
}

WindowFacts windowFactsFrom(const std::array<PropertyReply, 4>& replies)
{
    WindowFacts facts;
    const QByteArray wmClass = bytesValue(replies[1].get());
    const QByteArray instance = untilNul(wmClass);
    facts.wmInstance = QString::fromLatin1(instance);
    if (instance.size() < wmClass.size())
        facts.wmClass = QString::fromLatin1(untilNul(wmClass.mid(instance.size() + 1)));
    facts.title = QString::fromUtf8(bytesValue(replies[2].get())).trimmed();
    if (isThisMachine(bytesValue(replies[3].get())))
        facts.processIdentifier = cardinalValue(replies[0].get()).value_or(0);
    if (facts.processIdentifier > 0)
        addProcessFacts(facts);
    return facts;
}

} // namespace

// The connection a query goes over and the atoms interned on it.
struct X11Workspace::X11Connection
{
    xcb_connection_t* connection = nullptr;
    bool owned = false;
    xcb_window_t root = XCB_WINDOW_NONE;
    xcb_atom_t activeWindow = XCB_ATOM_NONE;
    xcb_atom_t wmPid = XCB_ATOM_NONE;
    xcb_atom_t wmName = XCB_ATOM_NONE;
    QElapsedTimer sinceFailedConnect;

    ~X11Connection() { close(); }

    void close()
    {
        if (owned && connection)
            xcb_disconnect(connection);
        connection = nullptr;
        owned = false;
        root = XCB_WINDOW_NONE;
        activeWindow = wmPid = wmName = XCB_ATOM_NONE;
    }

    // Qt's connection, our own, or none (another platform, no display, a refused connection).
    bool attach(X11WorkspaceOptions::Connection choice)
    {
        xcb_connection_t* wanted = nullptr;
        // qGuiApp would also be set, wrongly typed, in a QCoreApplication.
        auto* guiApplication = qobject_cast<QGuiApplication*>(QCoreApplication::instance());
        if (choice == X11WorkspaceOptions::Connection::qtOrOwn && guiApplication) {
            if (QGuiApplication::platformName() != QLatin1String("xcb"))
                return false;
            if (auto* x11 = guiApplication->nativeInterface<QNativeInterface::QX11Application>())
                wanted = x11->connection();
            if (!wanted)
                return false;
            if (wanted != connection) {
                close();
                connection = wanted;
                root = rootOfScreen(connection, screenOfDisplay());
            }
            return root != XCB_WINDOW_NONE;
        }
        if (choice == X11WorkspaceOptions::Connection::qtOrOwn && qEnvironmentVariableIsSet("WAYLAND_DISPLAY"))
            return false; // Xwayland's active window is not the desktop's
        if (owned && connection && !xcb_connection_has_error(connection))
            return true;
        close();
        if (sinceFailedConnect.isValid() && sinceFailedConnect.elapsed() < 2000)
            return false;
        int screen = 0;
        connection = xcb_connect(nullptr, &screen);
        owned = true;
        if (xcb_connection_has_error(connection)) {
            close();
            sinceFailedConnect.start();
            return false;
        }
        root = rootOfScreen(connection, screen);
        return root != XCB_WINDOW_NONE;
    }

    // The screen DISPLAY names; Qt opened its connection from the same variable.
    static int screenOfDisplay()
    {
        char* host = nullptr;
        int display = 0;
        int screen = 0;
        const int parsed = xcb_parse_display(nullptr, &host, &display, &screen);
        std::free(host);
        return parsed ? screen : 0;
    }

    bool internAtoms(const QDeadlineTimer& deadline)
    {
        if (activeWindow != XCB_ATOM_NONE)
            return true;
        std::array<unsigned int, 3> sequences{};
        for (size_t i = 0; i < kAtomNames.size(); ++i)
            sequences[i] =
                xcb_intern_atom(connection, 0, static_cast<uint16_t>(qstrlen(kAtomNames[i])), kAtomNames[i]).sequence;
        xcb_flush(connection);
        std::array<xcb_atom_t, 3> atoms{};
        bool complete = true;
        for (size_t i = 0; i < kAtomNames.size(); ++i) {
            void* reply = nullptr;
            if (!complete) {
                xcb_discard_reply(connection, sequences[i]);
                continue;
            }
            if (awaitReply(connection, sequences[i], owned, deadline, &reply) != ReplyOutcome::received) {
                complete = false;
                continue;
            }
            atoms[i] = static_cast<xcb_intern_atom_reply_t*>(reply)->atom;
            std::free(reply);
        }
        if (!complete)
            return false;
        activeWindow = atoms[0];
        wmPid = atoms[1];
        wmName = atoms[2];
        return true;
    }

    // The active window, XCB_WINDOW_NONE when there is none; nullopt when the server did not answer.
    std::optional<xcb_window_t> queryActiveWindow(const QDeadlineTimer& deadline)
    {
        const unsigned int sequence =
            xcb_get_property(connection, 0, root, activeWindow, XCB_ATOM_WINDOW, 0, 1).sequence;
        xcb_flush(connection);
        void* reply = nullptr;
        const ReplyOutcome outcome = awaitReply(connection, sequence, owned, deadline, &reply);
        if (outcome == ReplyOutcome::timedOut)
            return std::nullopt;
        const PropertyReply property = propertyOrNull(outcome, reply);
        return xcb_window_t(cardinalValue(property.get()).value_or(0));
    }

    // The window's own properties; nullopt when it is gone or the server did not answer.
    std::optional<WindowFacts> queryWindow(xcb_window_t window, const QDeadlineTimer& deadline)
    {
        const std::array<unsigned int, 4> sequences = requestWindowProperties(connection, window, wmPid, wmName);
        xcb_flush(connection);
        std::array<PropertyReply, 4> replies;
        for (size_t i = 0; i < sequences.size(); ++i) {
            void* reply = nullptr;
            const ReplyOutcome outcome = awaitReply(connection, sequences[i], owned, deadline, &reply);
            if (outcome != ReplyOutcome::received) {
                for (size_t rest = i + 1; rest < sequences.size(); ++rest)
                    xcb_discard_reply(connection, sequences[rest]);
                return std::nullopt; // vanished (every property fails alike) or no answer in time
            }
            replies[i] = propertyOrNull(outcome, reply);
        }
        return windowFactsFrom(replies);
    }
};

// Follows the root window's _NET_ACTIVE_WINDOW on a connection of its own: Qt's reader thread
// takes every event off Qt's connection, and the queries' private connection waits in poll() for
// replies, where events would pile up unseen. Nothing here waits: a socket notifier on the GUI
// thread wakes the watcher, which asks the server and goes on when the answer is in.
class X11Workspace::ActivationWatcher final
{
public:
    ActivationWatcher(X11Workspace& workspace, ActivationHandler handler)
        : m_workspace(&workspace), m_handler(std::move(handler))
    {
    }
    ~ActivationWatcher()
    {
        *m_alive = false;
        stop();
    }
    ActivationWatcher(const ActivationWatcher&) = delete;
    ActivationWatcher& operator=(const ActivationWatcher&) = delete;

    // Without an X server (or off the GUI thread) the watcher stays silent.
    void start(X11WorkspaceOptions::Connection choice)
    {
        auto* application = QCoreApplication::instance();
        if (!application || QThread::currentThread() != application->thread())
            return;
        if (choice == X11WorkspaceOptions::Connection::qtOrOwn) {
            // The same choice of desktop as the queries make (X11Connection::attach).
            auto* guiApplication = qobject_cast<QGuiApplication*>(application);
            if (guiApplication ? QGuiApplication::platformName() != QLatin1String("xcb")
                               : qEnvironmentVariableIsSet("WAYLAND_DISPLAY"))
                return;
        }
        int screen = 0;
        m_connection = xcb_connect(nullptr, &screen);
        if (xcb_connection_has_error(m_connection)) {
            stop();
            return;
        }
        m_root = rootOfScreen(m_connection, screen);
        // Selected first: observation begins with this request, whatever the answers bring later.
        const uint32_t mask = XCB_EVENT_MASK_PROPERTY_CHANGE;
        xcb_change_window_attributes(m_connection, m_root, XCB_CW_EVENT_MASK, &mask);
        std::array<unsigned int, 3> sequences{};
        for (size_t i = 0; i < kAtomNames.size(); ++i)
            sequences[i] =
                xcb_intern_atom(m_connection, 0, static_cast<uint16_t>(qstrlen(kAtomNames[i])), kAtomNames[i]).sequence;
        await(Step::interning, sequences);
        m_notifier = std::make_unique<QSocketNotifier>(xcb_get_file_descriptor(m_connection), QSocketNotifier::Read);
        QObject::connect(m_notifier.get(), &QSocketNotifier::activated, m_notifier.get(), [this] { readAll(); });
    }

    void stop()
    {
        if (m_notifier) {
            // Not deleted here: this may run inside the notifier's own signal, from the handler.
            m_notifier->setEnabled(false);
            m_notifier->disconnect();
            m_notifier.release()->deleteLater();
        }
        if (m_connection)
            xcb_disconnect(m_connection);
        m_connection = nullptr;
        m_step = Step::stopped;
    }

private:
    enum class Step { interning, idle, askingActiveWindow, askingWindow, stopped };
    using Reply = std::unique_ptr<void, FreeDeleter>;

    void readAll()
    {
        // The handler may release this watcher; nothing of it is touched after that.
        const std::shared_ptr<bool> alive = m_alive;
        while (*alive && m_step != Step::stopped && readOne()) {
        }
        if (*alive && m_connection && xcb_connection_has_error(m_connection)) {
            qCInfo(lcWorkspace) << "the X connection for activations broke; activations are no longer reported";
            stop();
        }
    }

    // Takes one event or awaited reply; false when there is none yet. Reading for one may queue
    // the other without the socket ever becoming readable again, hence the queued look last.
    bool readOne()
    {
        xcb_generic_event_t* event = xcb_poll_for_event(m_connection);
        if (!event && m_nextReply < m_awaitedCount) {
            void* reply = nullptr;
            xcb_generic_error_t* error = nullptr;
            if (xcb_poll_for_reply(m_connection, m_awaited[m_nextReply], &reply, &error)) {
                // A window that vanished answers BadWindow: an empty reply stands for it.
                std::free(error);
                m_replies[m_nextReply++].reset(reply);
                if (m_nextReply == m_awaitedCount)
                    answered();
                return true;
            }
        }
        if (!event)
            event = xcb_poll_for_queued_event(m_connection);
        if (!event)
            return false;
        if ((event->response_type & 0x7f) == XCB_PROPERTY_NOTIFY) {
            const auto* notify = reinterpret_cast<const xcb_property_notify_event_t*>(event);
            if (notify->window == m_root)
                noticed(notify->atom, notify->sequence);
        }
        std::free(event);
        return true;
    }

    void noticed(xcb_atom_t atom, uint16_t sequence)
    {
        if (m_step == Step::interning) {
            m_earlyNotices.append(atom); // told apart when the atoms are known
            return;
        }
        if (atom != m_atoms[0])
            return;
        // The first answer says what was active when observing began, unless the server changed
        // it before answering: an event carries the last request the server had handled.
        if (!m_baselineTaken && m_step == Step::askingActiveWindow && qint16(sequence - uint16_t(m_awaited[0])) < 0)
            m_changedBeforeBaseline = true;
        else if (m_step == Step::idle)
            askActiveWindow();
        else
            m_noticedWhileAsking = true; // perhaps not in the answer under way
    }

    template<size_t count>
    void await(Step step, const std::array<unsigned int, count>& sequences)
    {
        static_assert(count <= 4);
        xcb_flush(m_connection);
        m_step = step;
        std::copy(sequences.cbegin(), sequences.cend(), m_awaited.begin());
        m_awaitedCount = count;
        m_nextReply = 0;
    }

    void askActiveWindow()
    {
        m_noticedWhileAsking = false;
        await(Step::askingActiveWindow,
              std::array<unsigned int, 1>{
                  xcb_get_property(m_connection, 0, m_root, m_atoms[0], XCB_ATOM_WINDOW, 0, 1).sequence});
    }

    void answered()
    {
        std::array<Reply, 4> replies;
        std::move(m_replies.begin(), m_replies.begin() + std::ptrdiff_t(m_awaitedCount), replies.begin());
        m_awaitedCount = m_nextReply = 0;
        switch (m_step) {
        case Step::interning:
            for (size_t i = 0; i < m_atoms.size(); ++i) {
                if (!replies[i]) {
                    stop();
                    return;
                }
                m_atoms[i] = static_cast<xcb_intern_atom_reply_t*>(replies[i].get())->atom;
            }
            m_changedBeforeBaseline = m_earlyNotices.contains(m_atoms[0]);
            m_earlyNotices.clear();
            askActiveWindow();
            return;
        case Step::askingActiveWindow: {
            if (m_changedBeforeBaseline)
                m_baselineTaken = true; // the answer is news: report it
            const auto* property = static_cast<const xcb_get_property_reply_t*>(replies[0].get());
            const xcb_window_t window = cardinalValue(property).value_or(XCB_WINDOW_NONE);
            // No window is a pause between two, not an activation; the same one again is no news.
            if (window == XCB_WINDOW_NONE || window == m_lastWindow) {
                settle();
                return;
            }
            m_askedWindow = window;
            await(Step::askingWindow, requestWindowProperties(m_connection, window, m_atoms[1], m_atoms[2]));
            return;
        }
        case Step::askingWindow: {
            if (std::any_of(replies.cbegin(), replies.cend(), [](const Reply& reply) { return !reply; })) {
                settle(); // closed before it could be named; the next active window brings a notice
                return;
            }
            std::array<PropertyReply, 4> properties;
            for (size_t i = 0; i < properties.size(); ++i)
                properties[i].reset(static_cast<xcb_get_property_reply_t*>(replies[i].release()));
            const RunningApplication application = m_workspace->describeWindow(windowFactsFrom(properties));
            // Another window of the application reported last is no activation.
            const bool sameApplication =
                application.processIdentifier > 0 && application.processIdentifier == m_lastProcess;
            const bool report = m_baselineTaken && !sameApplication;
            m_lastWindow = m_askedWindow;
            m_lastProcess = application.processIdentifier;
            settle();
            if (report) {
                // Last: the handler may release this watcher.
                const ActivationHandler handler = m_handler;
                handler(application);
            }
            return;
        }
        case Step::idle:
        case Step::stopped:
            return;
        }
    }

    void settle()
    {
        m_baselineTaken = true;
        m_step = Step::idle;
        if (m_noticedWhileAsking)
            askActiveWindow();
    }

    X11Workspace* m_workspace;
    const ActivationHandler m_handler;
    const std::shared_ptr<bool> m_alive = std::make_shared<bool>(true);
    xcb_connection_t* m_connection = nullptr;
    std::unique_ptr<QSocketNotifier> m_notifier;
    xcb_window_t m_root = XCB_WINDOW_NONE;
    std::array<xcb_atom_t, 3> m_atoms{};
    Step m_step = Step::stopped;
    std::array<unsigned int, 4> m_awaited{};
    std::array<Reply, 4> m_replies;
    size_t m_awaitedCount = 0;
    size_t m_nextReply = 0;
    QList<xcb_atom_t> m_earlyNotices;
    bool m_changedBeforeBaseline = false;
    bool m_noticedWhileAsking = false;
    bool m_baselineTaken = false;
    xcb_window_t m_askedWindow = XCB_WINDOW_NONE;
    xcb_window_t m_lastWindow = XCB_WINDOW_NONE;
    qint64 m_lastProcess = 0;
};

X11Workspace::X11Workspace(X11WorkspaceOptions options)
    : m_options(std::move(options)), m_x11(std::make_unique<X11Connection>())
{
}

X11Workspace::~X11Workspace()
{
    // A watcher names windows through this workspace: it cannot outlive it.
    for (const std::weak_ptr<ActivationWatcher>& entry : m_watchers) {
        if (const std::shared_ptr<ActivationWatcher> watcher = entry.lock())
            watcher->stop();
    }
}

std::shared_ptr<void> X11Workspace::observeActivations(ActivationHandler handler)
{
    auto watcher = std::make_shared<ActivationWatcher>(*this, std::move(handler));
    watcher->start(m_options.connection);
    std::erase_if(m_watchers, [](const auto& entry) { return entry.expired(); });
    m_watchers.push_back(watcher);
    return watcher;
}

std::optional<RunningApplication> X11Workspace::frontmostApplication() const
{
    QMutexLocker locker(&m_mutex);
    if (!m_x11->attach(m_options.connection))
        return std::nullopt;
    const QDeadlineTimer deadline(m_options.replyTimeoutMs);
    if (!m_x11->internAtoms(deadline))
        return std::nullopt;
    // The active window can close between the two questions; then the next one is asked once.
    for (int attempt = 0; attempt < 2; ++attempt) {
        const std::optional<xcb_window_t> window = m_x11->queryActiveWindow(deadline);
        if (!window || *window == XCB_WINDOW_NONE)
            return std::nullopt;
        const std::optional<WindowFacts> facts = m_x11->queryWindow(*window, deadline);
        if (!facts) {
            if (deadline.hasExpired())
                break;
            continue;
        }
        return describeLocked(*facts);
    }
    qCDebug(lcWorkspace) << "the X server did not name the active window in time";
    return std::nullopt;
}

RunningApplication X11Workspace::describeWindow(const WindowFacts& facts) const
{
    QMutexLocker locker(&m_mutex);
    return describeLocked(facts);
}

int X11Workspace::indexScanCount() const
{
    QMutexLocker locker(&m_mutex);
    return m_indexScans;
}

void X11Workspace::rebuildIndexLocked(const QStringList& localeKeys) const
{
    m_index = DesktopEntries::Index::scan(DesktopEntries::applicationFolders(), localeKeys);
    m_indexBuilt = true;
    ++m_indexScans;
    m_sinceIndexCheck.start();
}

RunningApplication X11Workspace::describeLocked(const WindowFacts& facts) const
{
    // Follows the language the program shows (QLocale::setDefault), else the desktop's.
    const QStringList localeKeys = DesktopEntries::localeKeys(QLocale().uiLanguages());
    if (!m_indexBuilt || localeKeys != m_index.localeKeys())
        rebuildIndexLocked(localeKeys);

    const auto lookUp = [this, &facts]() -> const DesktopEntries::DesktopEntry* {
        const DesktopEntries::DesktopEntry* entry = facts.flatpakId.isEmpty() ? nullptr : m_index.byId(facts.flatpakId);
        return entry ? entry : m_index.match(facts);
    };
    const DesktopEntries::DesktopEntry* entry = lookUp();
    // An application installed since the scan: look again, but only when its folders changed,
    // and not more often than the interval, so that an unknown window keeps captures cheap.
    if (!entry && m_sinceIndexCheck.elapsed() >= m_options.rescanIntervalMs) {
        if (m_index.foldersChanged()) {
            rebuildIndexLocked(localeKeys);
            entry = lookUp();
        } else {
            m_sinceIndexCheck.start();
        }
    }
    return DesktopEntries::describe(facts, entry);
}

bool X11Workspace::selectFile(const QString& path, const QString& rootedAtPath)
{
    if (path.isEmpty()) // nothing to select: show the folder alone
        return !rootedAtPath.isEmpty() && QFileInfo(rootedAtPath).isDir()
               && QDesktopServices::openUrl(QUrl::fromLocalFile(rootedAtPath));
    const QFileInfo file(path);
    if (!file.exists())
        return false;
    const QString folder = rootedAtPath.isEmpty() ? file.absolutePath() : rootedAtPath;
    return showItems({QString::fromUtf8(QUrl::fromLocalFile(file.absoluteFilePath()).toEncoded())},
                     QUrl::fromLocalFile(folder));
}

bool X11Workspace::activateFileViewerSelecting(const QList<QUrl>& urls)
{
    QStringList uris;
    QUrl firstFolder;
    for (const QUrl& url : urls) {
        if (!url.isLocalFile())
            continue;
        const QFileInfo file(url.toLocalFile());
        if (!file.exists())
            continue;
        uris.append(QString::fromUtf8(QUrl::fromLocalFile(file.absoluteFilePath()).toEncoded()));
        if (firstFolder.isEmpty())
            firstFolder = QUrl::fromLocalFile(file.absolutePath());
    }
    return !uris.isEmpty() && showItems(uris, firstFolder);
}

bool X11Workspace::openURL(const QUrl& url)
{
    return url.isValid() && QDesktopServices::openUrl(url);
}

bool X11Workspace::fileManagerAvailable() const
{
    QDBusConnection bus = QDBusConnection::sessionBus();
    const QDBusConnectionInterface* busInterface = bus.isConnected() ? bus.interface() : nullptr;
    if (!busInterface)
        return false;
    const QDBusReply<bool> registered = busInterface->isServiceRegistered(m_options.fileManagerService);
    if (registered.isValid() && registered.value())
        return true;
    // Most file managers start on the first call rather than at login.
    const QDBusReply<QStringList> activatable = busInterface->activatableServiceNames();
    return activatable.isValid() && activatable.value().contains(m_options.fileManagerService);
}

bool X11Workspace::showItems(const QStringList& uris, const QUrl& fallbackFolder)
{
    if (!fileManagerAvailable())
        return QDesktopServices::openUrl(fallbackFolder);

    QDBusMessage message = QDBusMessage::createMethodCall(m_options.fileManagerService, kFileManagerPath,
                                                          kFileManagerInterface, QStringLiteral("ShowItems"));
    message << uris << QString();
    // Not waited for: starting a file manager can take seconds. A refusal opens the folder then.
    auto* watcher = new QDBusPendingCallWatcher(QDBusConnection::sessionBus().asyncCall(message));
    QObject::connect(watcher, &QDBusPendingCallWatcher::finished, watcher,
                     [fallbackFolder](QDBusPendingCallWatcher* call) {
                         if (call->isError()) {
                             qCInfo(lcWorkspace) << "the file manager refused to show items:"
                                                 << call->error().message();
                             QDesktopServices::openUrl(fallbackFolder);
                         }
                         call->deleteLater();
                     });
    return true;
}

std::shared_ptr<Workspace> makeSystemWorkspace()
{
    return std::make_shared<X11Workspace>();
}

} // namespace Platform
