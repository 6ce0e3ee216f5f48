#pragma once

// Copies with xclip as another program would and waits for the monitor's one result. The monitor
// is running: the result comes from its answer to the clipboard's change notice (or its fallback
// poll, which tests that must tell the two apart slow down).

#include "Pasteboard/ClipboardMonitor.h"

#include "X11Tools.h"

#include <QDeadlineTimer>
#include <QTest>

namespace QuillomareTest {

// Waits, serving events, until the monitor has handed on a result; nothing after 5 s.
inline bool waitForCapture(const QList<QuillomareCore::ClipboardCaptureResult>& results)
{
    const QDeadlineTimer deadline(5000);
    while (results.isEmpty() && !deadline.hasExpired())
        QTest::qWait(10);
    return !results.isEmpty();
}

inline QuillomareCore::ClipboardCaptureResult
captureXclipCopy(QuillomareMac::ClipboardMonitor& monitor, QList<QuillomareCore::ClipboardCaptureResult>& results,
                 const QByteArray& bytes, const QString& target = QStringLiteral("UTF8_STRING"))
{
    if (!monitor.isRunning())
        monitor.start();
    results.clear();
    if (!xclipCopy(bytes, target))
        qFatal("xclip could not copy");
    waitForCapture(results);
    monitor.waitForPendingCaptures();
    if (results.size() != 1)
        qFatal("expected one capture, got %lld", qint64(results.size()));
    return results.first();
}

} // namespace QuillomareTest
