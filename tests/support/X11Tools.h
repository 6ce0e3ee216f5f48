#pragma once

// Outside X11 clients for tests that run inside scripts/x11-session.

#include <QByteArray>
#include <QProcess>
#include <QString>
#include <QStringList>

namespace QuillomareTest {

// Runs a command to completion while this process keeps handling events, so that it can serve
// the clipboard it may own meanwhile. Returns the standard output; empty on failure or timeout.
QByteArray runWhileServingEvents(const QString& program, const QStringList& arguments,
                                 const QByteArray& input = {}, int timeoutMilliseconds = 10000,
                                 int* exitCode = nullptr);

// Puts bytes on the CLIPBOARD selection from another process (xclip), as the given target.
bool xclipCopy(const QByteArray& bytes, const QString& target = QStringLiteral("UTF8_STRING"));
// Reads the CLIPBOARD selection as the given target from another process (xclip).
QByteArray xclipPaste(const QString& target = QStringLiteral("UTF8_STRING"));

// Another program owning the CLIPBOARD selection until `owner` ends (an owner that quits takes
// its copy along) or another program takes the selection; true once it owns it. xclip offers
// one target; the test's own owner any number of formats, "text/plain" standing for text.
bool startXclipOwner(QProcess& owner, const QByteArray& bytes, const QString& target = QStringLiteral("UTF8_STRING"));
bool startClipboardOwner(QProcess& owner, const QStringList& typeEqualsValue);

} // namespace QuillomareTest
