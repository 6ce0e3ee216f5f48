#include "DataFolderLock.h"

#include <QuillomareCore/Errors.h>
#include <QuillomareCore/Files.h>

#include <QDir>
#include <QFile>

#include <cerrno>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace Platform {

namespace {

enum class Outcome
{
    locked,
    busy,
    failed,
};

// Close-on-exec throughout: a program this one starts (a file manager, the next instance of a
// language switch) must not inherit the lock and keep it after this process is gone.
Outcome lockDescriptor(int descriptor, int& error)
{
    while (::flock(descriptor, LOCK_EX | LOCK_NB) != 0) {
        if (errno == EINTR)
            continue;
        error = errno;
        return error == EWOULDBLOCK ? Outcome::busy : Outcome::failed;
    }
    return Outcome::locked;
}

void closeDescriptor(int& descriptor)
{
    if (descriptor >= 0)
        ::close(descriptor);
    descriptor = -1;
}

} // namespace

DataFolderLock::DataFolderLock(const QString& folder) : m_folder(QDir::cleanPath(folder))
{
    try {
        QuillomareCore::Files::makePrivateFolder(m_folder);
    } catch (const QuillomareCore::Error& error) {
        m_failure = error.localizedDescription();
        return;
    }
    const QByteArray folderName = QFile::encodeName(m_folder);
    const QByteArray fileName = QFile::encodeName(m_folder + QLatin1Char('/') + DataFolderLock::fileName);

    int folderError = 0;
    Outcome folderOutcome = Outcome::failed;
    m_folderDescriptor = ::open(folderName.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (m_folderDescriptor >= 0)
        folderOutcome = lockDescriptor(m_folderDescriptor, folderError);
    else
        folderError = errno;

    // Opened for writing (an exclusive lock over NFS needs it), never through a link, and only
    // a regular file: a FIFO put in its place would block the launch.
    int fileError = 0;
    Outcome fileOutcome = Outcome::failed;
    if (folderOutcome != Outcome::busy) {
        m_fileDescriptor = ::open(fileName.constData(), O_RDWR | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0600);
        struct stat status = {};
        if (m_fileDescriptor < 0 || ::fstat(m_fileDescriptor, &status) != 0) {
            fileError = errno;
        } else if (!S_ISREG(status.st_mode)) {
            fileError = EINVAL;
        } else {
            // Like every file of the folder, for this user alone.
            if ((status.st_mode & 077) != 0 && status.st_uid == ::geteuid())
                ::fchmod(m_fileDescriptor, 0600);
            fileOutcome = lockDescriptor(m_fileDescriptor, fileError);
        }
    }

    if (folderOutcome == Outcome::busy || fileOutcome == Outcome::busy) {
        m_state = State::heldElsewhere;
        closeDescriptor(m_folderDescriptor);
        closeDescriptor(m_fileDescriptor);
        return;
    }
    if (folderOutcome == Outcome::failed)
        closeDescriptor(m_folderDescriptor);
    if (fileOutcome == Outcome::failed)
        closeDescriptor(m_fileDescriptor);
    if (folderOutcome == Outcome::locked || fileOutcome == Outcome::locked) {
        m_state = State::held;
        return;
    }
    m_failure = QuillomareCore::Files::reason(fileError ? fileError : folderError);
}

DataFolderLock::~DataFolderLock()
{
    closeDescriptor(m_fileDescriptor);
    closeDescriptor(m_folderDescriptor);
}

} // namespace Platform
