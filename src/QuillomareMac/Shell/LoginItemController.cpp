#include "LoginItemController.h"

#include <QuillomareCore/Errors.h>
#include <QuillomareCore/Files.h>
#include <QuillomareCore/Language.h>

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QStandardPaths>

#include <cerrno>
#include <sys/stat.h>
#include <unistd.h>

namespace QuillomareMac::LoginItemController {

using namespace QuillomareCore;

QString autostartFilePath()
{
    return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) +
           QStringLiteral("/autostart/quillomare.desktop");
}

namespace {

// Makes the folder and any missing parents; 0, or the cause of the first step that failed, so
// that the message says why (a parent that is a file is not a permission problem).
int makeFolders(const QString& folder)
{
    QString path;
    for (const QString& part : QDir::cleanPath(folder).split(QLatin1Char('/'), Qt::SkipEmptyParts)) {
        path += QLatin1Char('/') + part;
        const QByteArray name = QFile::encodeName(path);
        struct stat status = {};
        if (::stat(name.constData(), &status) != 0) {
            if (errno != ENOENT)
                return errno;
            if (::mkdir(name.constData(), 0755) != 0 && errno != EEXIST)
                return errno;
        } else if (!S_ISDIR(status.st_mode)) {
            return ENOTDIR;
        }
    }
    return 0;
}

} // namespace

bool isRegistered()
{
    return QFileInfo(autostartFilePath()).isFile();
}

void setEnabled(bool enabled)
{
    const QString path = autostartFilePath();
    if (!enabled) {
        if (::unlink(QFile::encodeName(path).constData()) != 0 && errno != ENOENT)
            throw FileSystemError(Files::writeFailure(path, errno));
        return;
    }
    const QString folder = QFileInfo(path).absolutePath();
    if (const int error = makeFolders(folder))
        throw FileSystemError(Files::writeFailure(folder, error));
    // Quoted as the desktop-entry rules ask, so that a path with blanks still starts.
    QString program = QCoreApplication::applicationFilePath();
    program.replace(QLatin1Char('\\'), QStringLiteral("\\\\")).replace(QLatin1Char('"'), QStringLiteral("\\\""));
    const QByteArray entry = QStringLiteral("[Desktop Entry]\nType=Application\nName=Quillomare\nExec=\"%1\"\n"
                                            "X-GNOME-Autostart-enabled=true\n")
                                 .arg(program)
                                 .toUtf8();
    Files::writeAtomically(path, [&entry](QIODevice& device) { return device.write(entry) == entry.size(); });
}

Status status()
{
    QFile file(autostartFilePath());
    if (!file.open(QIODevice::ReadOnly))
        return Status::notRegistered;
    QHash<QString, QString> keys;
    for (const QString& line : QString::fromUtf8(file.readAll()).split(QLatin1Char('\n')))
        if (const qsizetype equals = line.indexOf(QLatin1Char('=')); equals > 0)
            keys.insert(line.left(equals).trimmed(), line.mid(equals + 1).trimmed());
    if (keys.value(QStringLiteral("Hidden")) == QStringLiteral("true") ||
        keys.value(QStringLiteral("X-GNOME-Autostart-enabled")) == QStringLiteral("false"))
        return Status::requiresApproval;
    QString exec = keys.value(QStringLiteral("Exec"));
    const QString program =
        exec.startsWith(QLatin1Char('"'))
            ? exec.mid(1).section(QLatin1Char('"'), 0, 0).replace(QStringLiteral("\\\\"), QStringLiteral("\\"))
            : exec.section(QLatin1Char(' '), 0, 0);
    return QFileInfo(program).isExecutable() ? Status::enabled : Status::notFound;
}

QString statusDescription()
{
    switch (status()) {
    case Status::notRegistered:
        return Language::text(QStringLiteral("未开启"), QStringLiteral("Off"));
    case Status::enabled:
        return Language::text(QStringLiteral("已开启"), QStringLiteral("Enabled"));
    case Status::requiresApproval:
        return Language::text(QStringLiteral("需要在系统设置中确认"),
                              QStringLiteral("Needs approval in System Settings"));
    case Status::notFound:
        return Language::text(QStringLiteral("未找到应用"), QStringLiteral("App not found"));
    }
    return Language::text(QStringLiteral("未知状态"), QStringLiteral("Unknown"));
}

QString statusLine()
{
    return Language::text(QStringLiteral("登录自启"), QStringLiteral("Launch at login: ")) + statusDescription();
}

} // namespace QuillomareMac::LoginItemController
