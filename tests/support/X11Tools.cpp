#include "X11Tools.h"

#include "TestSupport.h"

#include <QCoreApplication>
#include <QDir>
#include <QRegularExpression>
#include <QVariant>

#include <algorithm>
#include <QDeadlineTimer>
#include <QProcess>

#include <xcb/shape.h>
#include <xcb/xcb.h>
#include <xcb/xfixes.h>
#include <xcb/xtest.h>

#include <sys/socket.h>
#include <sys/un.h>

#include <cstddef>
#include <cstdlib>

namespace QuillomareTest {

quint64 windowManagerCheck(const std::function<QByteArray(const QStringList&)>& xprop)
{
    static const QRegularExpression id(QStringLiteral("window id # (0x[0-9a-fA-F]+)"));
    const auto checkOf = [&](const QStringList& target) -> quint64 {
        const auto match =
            id.match(QString::fromLatin1(xprop(target + QStringList{QStringLiteral("_NET_SUPPORTING_WM_CHECK")})));
        return match.hasMatch() ? match.captured(1).toULongLong(nullptr, 16) : 0;
    };
    const quint64 announced = checkOf({QStringLiteral("-root")});
    if (announced == 0)
        return 0;
    return checkOf({QStringLiteral("-id"), QString::number(announced)}) == announced ? announced : 0;
}

QByteArray runWhileServingEvents(const QString& program, const QStringList& arguments, const QByteArray& input,
                                 int timeoutMilliseconds, int* exitCode)
{
    QProcess process;
    process.start(program, arguments);
    if (!process.waitForStarted(5000)) {
        qWarning("could not start %s: %s (scripts/install-deps installs the tools the tests use)", qPrintable(program),
                 qPrintable(process.errorString()));
        return {};
    }
    if (!input.isEmpty())
        process.write(input);
    process.closeWriteChannel();
    const QDeadlineTimer deadline(timeoutMilliseconds);
    while (process.state() != QProcess::NotRunning && !deadline.hasExpired()) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        process.waitForFinished(5);
    }
    if (process.state() != QProcess::NotRunning) {
        process.kill();
        process.waitForFinished(1000);
        return {};
    }
    if (exitCode)
        *exitCode = process.exitCode();
    return process.readAllStandardOutput();
}

namespace {

// Tells when a program takes the CLIPBOARD selection from the moment it is made: the server
// reports every new owner to a connection of its own (XFixes), so nothing is read from the owner.
// xclip takes the selection from its child, or after its message, with a request that may leave
// it a little later: on a slow machine two copies in a row could otherwise land in the other order.
class ClipboardOwnerWatch
{
public:
    ClipboardOwnerWatch() : m_connection(xcb_connect(nullptr, nullptr))
    {
        if (xcb_connection_has_error(m_connection))
            return;
        const xcb_query_extension_reply_t* xfixes = xcb_get_extension_data(m_connection, &xcb_xfixes_id);
        std::free(xcb_xfixes_query_version_reply(m_connection, xcb_xfixes_query_version(m_connection, 5, 0), nullptr));
        static const char name[] = "CLIPBOARD";
        xcb_intern_atom_reply_t* atom =
            xcb_intern_atom_reply(m_connection, xcb_intern_atom(m_connection, 0, sizeof(name) - 1, name), nullptr);
        if (!xfixes || !xfixes->present || !atom) {
            std::free(atom);
            return;
        }
        m_notify = uint8_t(xfixes->first_event + XCB_XFIXES_SELECTION_NOTIFY);
        const xcb_window_t window = xcb_generate_id(m_connection);
        const xcb_screen_t* screen = xcb_setup_roots_iterator(xcb_get_setup(m_connection)).data;
        xcb_create_window(m_connection, XCB_COPY_FROM_PARENT, window, screen->root, 0, 0, 1, 1, 0,
                          XCB_WINDOW_CLASS_INPUT_ONLY, XCB_COPY_FROM_PARENT, 0, nullptr);
        xcb_xfixes_select_selection_input(m_connection, window, atom->atom,
                                          XCB_XFIXES_SELECTION_EVENT_MASK_SET_SELECTION_OWNER);
        std::free(atom);
        // Watching before the copy starts: a round trip makes sure the server has the request.
        std::free(xcb_get_input_focus_reply(m_connection, xcb_get_input_focus(m_connection), nullptr));
        m_watching = true;
    }
    ~ClipboardOwnerWatch() { xcb_disconnect(m_connection); }

    // Whether a program has taken the selection since the watch began, waiting at most 10 s.
    bool waitForNewOwner()
    {
        if (!m_watching) {
            qWarning("the X server cannot report the clipboard's owner (XFixes)");
            return false;
        }
        return waitFor(
            [&] {
                while (xcb_generic_event_t* event = xcb_poll_for_event(m_connection)) {
                    const bool taken =
                        (event->response_type & 0x7F) == m_notify &&
                        reinterpret_cast<xcb_xfixes_selection_notify_event_t*>(event)->owner != XCB_NONE;
                    std::free(event);
                    if (taken)
                        return true;
                }
                return false;
            },
            10000, 10, 1);
    }

private:
    xcb_connection_t* m_connection;
    uint8_t m_notify = 0;
    bool m_watching = false;
};

} // namespace

bool xclipCopy(const QByteArray& bytes, const QString& target)
{
    int exitCode = -1;
    ClipboardOwnerWatch watch;
    // xclip forks a child that owns the selection until another program takes it.
    runWhileServingEvents(QStringLiteral("xclip"),
                          {QStringLiteral("-selection"), QStringLiteral("clipboard"), QStringLiteral("-t"), target,
                           QStringLiteral("-i")},
                          bytes.isEmpty() ? QByteArray(" ") : bytes, 10000, &exitCode);
    return exitCode == 0 && watch.waitForNewOwner();
}

namespace {

// Waits, serving events meanwhile, until the process has printed `marker`.
bool waitForOutput(QProcess& process, const QByteArray& marker)
{
    QByteArray output;
    const QDeadlineTimer deadline(10000);
    while (!output.contains(marker) && process.state() != QProcess::NotRunning && !deadline.hasExpired()) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        process.waitForReadyRead(5);
        output += process.readAll();
    }
    return output.contains(marker);
}

} // namespace

bool startXclipOwner(QProcess& owner, const QByteArray& bytes, const QString& target)
{
    // -quiet keeps xclip in the foreground, so that ending the process ends the owner.
    owner.setProcessChannelMode(QProcess::MergedChannels);
    ClipboardOwnerWatch watch;
    owner.start(QStringLiteral("xclip"),
                {QStringLiteral("-selection"), QStringLiteral("clipboard"), QStringLiteral("-t"), target,
                 QStringLiteral("-quiet"), QStringLiteral("-i")});
    if (!owner.waitForStarted(5000))
        return false;
    owner.write(bytes);
    owner.closeWriteChannel();
    return waitForOutput(owner, "Waiting for selection requests") && watch.waitForNewOwner();
}

bool startClipboardOwner(QProcess& owner, const QStringList& typeEqualsValue)
{
    owner.start(QStringLiteral(QUILLOMARE_CLIPBOARD_OWNER), typeEqualsValue);
    return owner.waitForStarted(5000) && waitForOutput(owner, "owning");
}

bool startClipboardOwnerUnnoticed(QProcess& owner, const QStringList& typeEqualsValue)
{
    owner.start(QStringLiteral(QUILLOMARE_CLIPBOARD_OWNER), typeEqualsValue);
    if (!owner.waitForStarted(5000))
        return false;
    QByteArray output;
    const QDeadlineTimer deadline(10000);
    while (!output.contains("owning") && owner.state() == QProcess::Running && !deadline.hasExpired()) {
        owner.waitForReadyRead(20);
        output += owner.readAll();
    }
    return output.contains("owning");
}

bool startIncrClipboardOwner(QProcess& owner, const QString& target, qint64 total, qint64 part,
                             int intervalMilliseconds, qint64 announced)
{
    owner.setProperty("incrSent", 0);
    owner.start(QStringLiteral(QUILLOMARE_INCR_CLIPBOARD_OWNER),
                {target, QString::number(total), QString::number(part), QString::number(intervalMilliseconds),
                 QString::number(announced)});
    return owner.waitForStarted(5000) && waitForOutput(owner, "owning");
}

bool startBusyClipboardOwner(QProcess& owner, int intervalMilliseconds)
{
    owner.start(QStringLiteral(QUILLOMARE_BUSY_CLIPBOARD_OWNER), {QString::number(intervalMilliseconds)});
    return owner.waitForStarted(5000) && waitForOutput(owner, "owning");
}

bool startMisansweringClipboardOwner(QProcess& owner, const QString& wrongPart, const QString& text)
{
    owner.start(QStringLiteral(QUILLOMARE_MISANSWERING_CLIPBOARD_OWNER), {wrongPart, text});
    return owner.waitForStarted(5000) && waitForOutput(owner, "owning");
}

int xConnectionsOfThisProcess()
{
    int count = 0;
    const QDir descriptors(QStringLiteral("/proc/self/fd"));
    for (const QString& name : descriptors.entryList(QDir::Files | QDir::System | QDir::NoDotAndDotDot)) {
        bool isNumber = false;
        const int descriptor = name.toInt(&isNumber);
        if (!isNumber)
            continue;
        sockaddr_un peer{};
        socklen_t length = sizeof peer;
        if (::getpeername(descriptor, reinterpret_cast<sockaddr*>(&peer), &length) != 0 || peer.sun_family != AF_UNIX ||
            length <= offsetof(sockaddr_un, sun_path))
            continue;
        // The server listens on a path, an abstract name, or both: the name is the same.
        const bool abstract = peer.sun_path[0] == '\0';
        const QByteArray path(peer.sun_path + (abstract ? 1 : 0),
                              qsizetype(length - offsetof(sockaddr_un, sun_path)) - (abstract ? 1 : 0));
        if (path.startsWith("/tmp/.X11-unix/X"))
            ++count;
    }
    return count;
}

bool canConnectToX()
{
    xcb_connection_t* connection = xcb_connect(nullptr, nullptr);
    const bool connected = !xcb_connection_has_error(connection);
    xcb_disconnect(connection);
    return connected;
}

qint64 incrOwnerBytesSent(QProcess& owner)
{
    owner.waitForReadyRead(0);
    qint64 sent = owner.property("incrSent").toLongLong();
    for (const QByteArray& line : owner.readAll().split('\n')) {
        if (line.startsWith("part "))
            sent = std::max(sent, line.mid(5).toLongLong());
    }
    owner.setProperty("incrSent", sent);
    return sent;
}

QByteArray xclipPaste(const QString& target)
{
    return runWhileServingEvents(QStringLiteral("xclip"), {QStringLiteral("-selection"), QStringLiteral("clipboard"),
                                                           QStringLiteral("-t"), target, QStringLiteral("-o")});
}

QRegion serverShape(uint32_t window, uint8_t kind)
{
    xcb_connection_t* connection = xcb_connect(nullptr, nullptr);
    QRegion region;
    if (!xcb_connection_has_error(connection)) {
        xcb_shape_get_rectangles_reply_t* reply =
            xcb_shape_get_rectangles_reply(connection, xcb_shape_get_rectangles(connection, window, kind), nullptr);
        if (reply) {
            const xcb_rectangle_t* rectangles = xcb_shape_get_rectangles_rectangles(reply);
            for (int i = 0; i < xcb_shape_get_rectangles_rectangles_length(reply); ++i)
                region += QRect(rectangles[i].x, rectangles[i].y, rectangles[i].width, rectangles[i].height);
            std::free(reply);
        }
    }
    xcb_disconnect(connection);
    return region;
}

XTestPointer::XTestPointer()
{
    int screenNumber = 0;
    xcb_connection_t* connection = xcb_connect(nullptr, &screenNumber);
    if (xcb_connection_has_error(connection)) {
        xcb_disconnect(connection);
        return;
    }
    xcb_test_get_version_reply_t* version =
        xcb_test_get_version_reply(connection, xcb_test_get_version(connection, 2, 2), nullptr);
    if (!version) {
        qWarning("the X server has no XTEST extension: the pointer cannot be driven");
        xcb_disconnect(connection);
        return;
    }
    std::free(version);
    xcb_screen_iterator_t screens = xcb_setup_roots_iterator(xcb_get_setup(connection));
    for (int i = 0; i < screenNumber && screens.rem > 0; ++i)
        xcb_screen_next(&screens);
    m_root = screens.data->root;
    m_connection = connection;
}

XTestPointer::~XTestPointer()
{
    if (m_connection)
        xcb_disconnect(m_connection);
}

void XTestPointer::send(uint8_t type, uint8_t detail, const QPoint& rootPosition)
{
    if (!m_connection)
        return;
    xcb_test_fake_input(m_connection, type, detail, XCB_CURRENT_TIME, m_root, int16_t(rootPosition.x()),
                        int16_t(rootPosition.y()), XCB_NONE);
}

void XTestPointer::sync()
{
    if (m_connection)
        std::free(xcb_get_input_focus_reply(m_connection, xcb_get_input_focus(m_connection), nullptr));
}

void XTestPointer::moveTo(const QPoint& rootPosition)
{
    send(XCB_MOTION_NOTIFY, 0 /* absolute */, rootPosition);
    sync();
}

void XTestPointer::click(const QPoint& rootPosition, int button)
{
    send(XCB_MOTION_NOTIFY, 0, rootPosition);
    send(XCB_BUTTON_PRESS, uint8_t(button));
    send(XCB_BUTTON_RELEASE, uint8_t(button));
    sync();
}

} // namespace QuillomareTest
