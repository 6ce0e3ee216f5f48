#include "X11Tools.h"

#include <QCoreApplication>
#include <QVariant>

#include <algorithm>
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

} // namespace QuillomareTest
