#include "UserDefaults.h"

#include <QuillomareCore/Errors.h>
#include <QuillomareCore/Files.h>

#include <QFile>
#include <QSet>
#include <QLoggingCategory>
#include <QStandardPaths>

#include <cerrno>
#include <mutex>
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
// Said once per process: every read of a flag would say it again.
void warnOnce(const QString& text)
{
    static std::mutex mutex;
    static QSet<QString> said;
    std::lock_guard lock(mutex);
    if (!said.contains(text)) {
        said.insert(text);
        qCWarning(lcUserDefaults).noquote() << text;
    }
}

void makePrivate(const QString& folder, const QString& path)
{
    try {
        QuillomareCore::Files::makePrivateFolder(folder);
    } catch (const QuillomareCore::Error& error) {
        // The flags then read as absent and the language as the desktop's: the program goes on.
        warnOnce(error.localizedDescription());
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

std::optional<QString> unusableReason()
{
    const QString path = filePath();
    try {
        QuillomareCore::Files::makePrivateFolder(path.left(path.lastIndexOf(QLatin1Char('/'))));
    } catch (const QuillomareCore::Error& error) {
        return error.localizedDescription();
    }
    return std::nullopt;
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
