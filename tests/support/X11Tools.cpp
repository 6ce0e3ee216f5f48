#include "X11Tools.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QProcess>

namespace QuillomareTest {

QByteArray runWhileServingEvents(const QString& program, const QStringList& arguments, const QByteArray& input,
                                 int timeoutMilliseconds, int* exitCode)
{
    QProcess process;
    process.start(program, arguments);
    if (!process.waitForStarted(5000))
        return {};
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

QByteArray xclipPaste(const QString& target)
{
    return runWhileServingEvents(QStringLiteral("xclip"), {QStringLiteral("-selection"), QStringLiteral("clipboard"),
                                                           QStringLiteral("-t"), target, QStringLiteral("-o")});
}

} // namespace QuillomareTest
