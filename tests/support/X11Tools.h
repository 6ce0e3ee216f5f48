#pragma once

// Outside X11 clients for tests that run inside scripts/x11-session.

#include <QByteArray>
#include <QDragEnterEvent>
#include <QDragMoveEvent>
#include <QDropEvent>
#include <QMimeData>
#include <QProcess>
#include <QRegion>
#include <QString>
#include <QStringList>
#include <QUrl>
#include <QWidget>

#include <cstdint>
#include <functional>

struct xcb_connection_t;

namespace QuillomareTest {

// Runs a command to completion while this process keeps handling events, so that it can serve
// the clipboard it may own meanwhile. Returns the standard output; empty on failure or timeout.
QByteArray runWhileServingEvents(const QString& program, const QStringList& arguments,
                                 const QByteArray& input = {}, int timeoutMilliseconds = 10000,
                                 int* exitCode = nullptr);

// The window the window manager names as its own on the root once it runs, else 0: the root's
// _NET_SUPPORTING_WM_CHECK names a window whose own _NET_SUPPORTING_WM_CHECK names itself.
// `xprop` runs xprop with the arguments on the display in question and gives its output.
quint64 windowManagerCheck(const std::function<QByteArray(const QStringList&)>& xprop);

// Puts bytes on the CLIPBOARD selection from another process (xclip), as the given target.
bool xclipCopy(const QByteArray& bytes, const QString& target = QStringLiteral("UTF8_STRING"));
// Reads the CLIPBOARD selection as the given target from another process (xclip).
QByteArray xclipPaste(const QString& target = QStringLiteral("UTF8_STRING"));

// Another program owning the CLIPBOARD selection until `owner` ends (an owner that quits takes
// its copy along) or another program takes the selection; true once it owns it. xclip offers
// one target; the test's own owner any number of formats, "text/plain" standing for text.
bool startXclipOwner(QProcess& owner, const QByteArray& bytes, const QString& target = QStringLiteral("UTF8_STRING"));
bool startClipboardOwner(QProcess& owner, const QStringList& typeEqualsValue);
// The same, without serving this process's events meanwhile: Qt has yet to hear of the new owner.
bool startClipboardOwnerUnnoticed(QProcess& owner, const QStringList& typeEqualsValue);
// An owner that sends `total` bytes (-1: without end) of one target in parts of `part` bytes,
// `intervalMilliseconds` apart, announcing `announced` bytes at the start; it says "part <sent>"
// after each part and "done" after the last.
bool startIncrClipboardOwner(QProcess& owner, const QString& target, qint64 total, qint64 part,
                             int intervalMilliseconds, qint64 announced);
// The bytes such an owner has handed over so far, from what it said.
qint64 incrOwnerBytesSent(QProcess& owner);
// An owner that takes the CLIPBOARD selection again every `intervalMilliseconds` and answers no
// request, until `owner` ends.
bool startBusyClipboardOwner(QProcess& owner, int intervalMilliseconds);

// An owner of `text` that answers each request for it with a misleading answer first, one that
// differs from the request in `wrongPart` ("target", "selection", "time" or "property") and
// points at the decoy "decoy answer"; the right answer follows.
bool startMisansweringClipboardOwner(QProcess& owner, const QString& wrongPart, const QString& text);

// The connections this process holds to the X server (over its local socket).
int xConnectionsOfThisProcess();
// Whether another program could connect to the X server now.
bool canConnectToX();

// The window's shape of one kind (XCB_SHAPE_SK_BOUNDING, _CLIP or _INPUT) as the X server has
// it, asked on a connection of our own; empty when the server cannot be reached.
QRegion serverShape(uint32_t window, uint8_t kind);

// The pointer driven from outside through XTest, as a real mouse drives it: motion and buttons
// go through the server's one input queue, in order. (xdotool warps the pointer instead, and a
// press it queued can then be taken at the pointer's next place when the server is slow.)
class XTestPointer final
{
public:
    XTestPointer();
    ~XTestPointer();
    XTestPointer(const XTestPointer&) = delete;
    XTestPointer& operator=(const XTestPointer&) = delete;

    bool isValid() const { return m_connection != nullptr; }
    // Each returns once the server has taken the events in.
    void moveTo(const QPoint& rootPosition);
    void click(const QPoint& rootPosition, int button);

private:
    void send(uint8_t type, uint8_t detail, const QPoint& rootPosition = {});
    void sync();

    xcb_connection_t* m_connection = nullptr;
    uint32_t m_root = 0;
};

// Another program's window that takes every drop and keeps what it carried.
class DropTarget final : public QWidget
{
public:
    explicit DropTarget(QSize size)
    {
        setAcceptDrops(true);
        setWindowTitle(QStringLiteral("drop target"));
        resize(size);
    }

    QStringList texts;
    QList<QUrl> urls;
    int drops = 0;

protected:
    void dragEnterEvent(QDragEnterEvent* event) override { event->acceptProposedAction(); }
    void dragMoveEvent(QDragMoveEvent* event) override { event->acceptProposedAction(); }
    void dropEvent(QDropEvent* event) override
    {
        texts << event->mimeData()->text();
        urls << event->mimeData()->urls();
        ++drops;
        event->acceptProposedAction();
    }
};

} // namespace QuillomareTest
