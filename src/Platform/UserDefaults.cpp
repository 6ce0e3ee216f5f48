#include "UserDefaults.h"

#include <QuillomareCore/Errors.h>
#include <QuillomareCore/Files.h>

#include <QFile>
#include <QLoggingCategory>
#include <QStandardPaths>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

Q_LOGGING_CATEGORY(lcUserDefaults, "quillomare.platform.defaults", QtWarningMsg)

namespace Platform::UserDefaults {

namespace {

// The preferences say which apps are ignored and what is kept: for this user alone, like the
// history, whatever the umask. The file is made (empty) before the first write so that it is
// born 0600; QSettings then saves over it keeping that mode. One found open to others is closed.
// A link, to the folder or the file, is the user's own arrangement and is followed untouched.
void makePrivate(const QString& folder, const QString& path)
{
    try {
        QuillomareCore::Files::makePrivateFolder(folder);
    } catch (const QuillomareCore::Error& error) {
        qCWarning(lcUserDefaults).noquote() << error.localizedDescription();
        return;
    }
    const int descriptor =
        ::open(QFile::encodeName(path).constData(), O_RDONLY | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0600);
    if (descriptor < 0) {
        if (errno != ELOOP)
            qCWarning(lcUserDefaults) << "cannot open" << path << std::strerror(errno);
        return;
    }
    struct stat status = {};
    if (::fstat(descriptor, &status) == 0 && S_ISREG(status.st_mode) && status.st_uid == ::geteuid() &&
        (status.st_mode & 077) != 0 && ::fchmod(descriptor, status.st_mode & 0700) != 0)
        qCWarning(lcUserDefaults) << "cannot make" << path << "private:" << std::strerror(errno);
    ::close(descriptor);
}

} // namespace

QString filePath()
{
    return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) +
           QStringLiteral("/Quillomare/Quillomare.ini");
}

std::unique_ptr<QSettings> standard()
{
    const QString path = filePath();
    makePrivate(path.left(path.lastIndexOf(QLatin1Char('/'))), path);
    return std::make_unique<QSettings>(path, QSettings::IniFormat);
}

bool boolValue(const QString& key)
{
    return standard()->value(key, false).toBool();
}

void setBoolValue(const QString& key, bool value)
{
    auto settings = standard();
    settings->setValue(key, value);
    settings->sync();
}

} // namespace Platform::UserDefaults
