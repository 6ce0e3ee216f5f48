#pragma once

// Copies with xclip as another program would and waits for the monitor's one result.

#include "Pasteboard/ClipboardMonitor.h"

#include "X11Tools.h"

#include <QDeadlineTimer>
#include <QTest>

namespace QuillomareTest {

inline QuillomareCore::ClipboardCaptureResult
captureXclipCopy(QuillomareMac::ClipboardMonitor& monitor, QList<QuillomareCore::ClipboardCaptureResult>& results,
                 const QByteArray& bytes, const QString& target = QStringLiteral("UTF8_STRING"))
{
    results.clear();
    if (!xclipCopy(bytes, target))
        qFatal("xclip could not copy");
    const QDeadlineTimer deadline(5000);
    while (results.isEmpty() && !deadline.hasExpired()) {
        QTest::qWait(10);
        monitor.poll();
    }
    if (results.size() != 1)
        qFatal("expected one capture, got %lld", qint64(results.size()));
    return results.first();
}

} // namespace QuillomareTest
