#include "X11Tools.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QProcess>

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

bool xclipCopy(const QByteArray& bytes, const QString& target)
{
    int exitCode = -1;
    // xclip forks a child that owns the selection until another program takes it.
    runWhileServingEvents(QStringLiteral("xclip"),
                          {QStringLiteral("-selection"), QStringLiteral("clipboard"), QStringLiteral("-t"), target,
                           QStringLiteral("-i")},
                          bytes.isEmpty() ? QByteArray(" ") : bytes, 10000, &exitCode);
    return exitCode == 0;
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
    owner.start(QStringLiteral("xclip"),
                {QStringLiteral("-selection"), QStringLiteral("clipboard"), QStringLiteral("-t"), target,
                 QStringLiteral("-quiet"), QStringLiteral("-i")});
    if (!owner.waitForStarted(5000))
        return false;
    owner.write(bytes);
    owner.closeWriteChannel();
    return waitForOutput(owner, "Waiting for selection requests");
}

bool startClipboardOwner(QProcess& owner, const QStringList& typeEqualsValue)
{
    owner.start(QStringLiteral(QUILLOMARE_CLIPBOARD_OWNER), typeEqualsValue);
    return owner.waitForStarted(5000) && waitForOutput(owner, "owning");
}

QByteArray xclipPaste(const QString& target)
{
    return runWhileServingEvents(QStringLiteral("xclip"), {QStringLiteral("-selection"), QStringLiteral("clipboard"),
                                                           QStringLiteral("-t"), target, QStringLiteral("-o")});
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
