#include "X11Tools.h"

#include "TestSupport.h"

#include <QCoreApplication>
#include <QVariant>

#include <algorithm>
#include <QDeadlineTimer>
#include <QProcess>

#include <xcb/shape.h>
#include <xcb/xcb.h>
#include <xcb/xtest.h>

#include <cstdlib>

namespace QuillomareTest {

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

// The window that owns the CLIPBOARD selection now (XCB_NONE for none), asked on a connection of
// its own so that nothing is read from the owner.
uint32_t clipboardOwner()
{
    xcb_connection_t* connection = xcb_connect(nullptr, nullptr);
    uint32_t owner = XCB_NONE;
    if (!xcb_connection_has_error(connection)) {
        static const char name[] = "CLIPBOARD";
        xcb_intern_atom_reply_t* atom = xcb_intern_atom_reply(
            connection, xcb_intern_atom(connection, 0, sizeof(name) - 1, name), nullptr);
        if (atom) {
            xcb_get_selection_owner_reply_t* reply = xcb_get_selection_owner_reply(
                connection, xcb_get_selection_owner(connection, atom->atom), nullptr);
            owner = reply ? reply->owner : XCB_NONE;
            std::free(reply);
            std::free(atom);
        }
    }
    xcb_disconnect(connection);
    return owner;
}

// xclip takes the selection from its child or after its message, with a request that may leave
// it a little later: on a slow machine two copies in a row could otherwise land in the other
// order. A copy is made once a new window owns the selection; each xclip makes its own. Only when
// the owner that just quit had the same number (the server hands a gone client's numbers out
// again) is the clipboard asked what it holds: reading a large copy alongside the program under
// test would compete with its own read.
bool waitForNewOwner(uint32_t previous, const QByteArray& copied, const QString& target)
{
    return waitFor(
        [&] {
            const uint32_t owner = clipboardOwner();
            return owner != XCB_NONE && (owner != previous || xclipPaste(target) == copied);
        },
        10000);
}

} // namespace

bool xclipCopy(const QByteArray& bytes, const QString& target)
{
    int exitCode = -1;
    const uint32_t previous = clipboardOwner();
    const QByteArray copied = bytes.isEmpty() ? QByteArray(" ") : bytes;
    // xclip forks a child that owns the selection until another program takes it.
    runWhileServingEvents(QStringLiteral("xclip"),
                          {QStringLiteral("-selection"), QStringLiteral("clipboard"), QStringLiteral("-t"), target,
                           QStringLiteral("-i")},
                          copied, 10000, &exitCode);
    return exitCode == 0 && waitForNewOwner(previous, copied, target);
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
    const uint32_t previous = clipboardOwner();
    owner.start(QStringLiteral("xclip"),
                {QStringLiteral("-selection"), QStringLiteral("clipboard"), QStringLiteral("-t"), target,
                 QStringLiteral("-quiet"), QStringLiteral("-i")});
    if (!owner.waitForStarted(5000))
        return false;
    owner.write(bytes);
    owner.closeWriteChannel();
    return waitForOutput(owner, "Waiting for selection requests") && waitForNewOwner(previous, bytes, target);
}

bool startClipboardOwner(QProcess& owner, const QStringList& typeEqualsValue)
{
    owner.start(QStringLiteral(QUILLOMARE_CLIPBOARD_OWNER), typeEqualsValue);
    return owner.waitForStarted(5000) && waitForOutput(owner, "owning");
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
