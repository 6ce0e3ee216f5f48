#pragma once

// File-system steps both stores share: folders only their owner may enter, atomic writes that
// say what really went wrong, reads that touch nothing but regular files, and the clean-up of
// what a killed writer left behind.

#include <QByteArray>
#include <QString>

#include <functional>
#include <optional>

class QIODevice;

namespace QuillomareCore::Files {

// Makes `folder` a folder for this user alone (0700), and every missing parent on the way with
// the same mode whatever the umask. The folders from `ownedFrom` (by default `folder` itself)
// down to `folder` are the program's own: one that exists must be a folder of this user and is
// closed to others when they may enter it; one of another user is refused. A link to a folder
// is followed but never has its target's mode changed. Existing folders above `ownedFrom` (the
// home, the data folder) are left as they are. Throws FileSystemError
// naming the folder at fault, in the interface language.
void makePrivateFolder(const QString& folder, const QString& ownedFrom = QString());

// Writes a whole file or nothing: `produce` streams into a hidden temporary file beside `path`
// (mode 0600), which is synced and renamed over `path`. `produce` returns false when the
// device refused a write; it may start over with seek(0), which empties the file. Throws FileSystemError naming the path and the system's reason; the
// previous file is then untouched and the temporary file gone.
void writeAtomically(const QString& path, const std::function<bool(QIODevice&)>& produce);

// Deletes the temporary files of writeAtomically() that a killed process left beside `path`;
// a write still in progress (in any process) is left alone.
void removeLeftoverTemporaryFiles(const QString& path);

// Opens `path` for reading only when it is a regular file (a FIFO would block, a device would
// never end); the descriptor, or -1 with errno set (EINVAL for a file of another kind).
int openRegularFile(const QString& path);
// The whole of a regular file, read up to the size it had when opened; nothing when it cannot
// be read (`error` then says why).
std::optional<QByteArray> readRegularFile(const QString& path, QString* error = nullptr);

// A regular file mapped for reading. Another program may cut the file short while it is read:
// the pages past its new end then read as zeros instead of ending the process with a bus error,
// and wasCut() tells the reader that what it read is not the file.
class MappedFile
{
public:
    MappedFile() = default;
    ~MappedFile();
    MappedFile(const MappedFile&) = delete;
    MappedFile& operator=(const MappedFile&) = delete;

    // Maps `size` bytes of `descriptor` (kept by the caller); false when mapping fails.
    bool map(int descriptor, qsizetype size);
    const char* data() const { return m_data; }
    qsizetype size() const { return m_size; }
    bool wasCut() const;

private:
    char* m_data = nullptr;
    qsizetype m_size = 0;
    int m_slot = -1;
};

// The system's reason for an errno value, in the interface language.
QString reason(int error);
// "reason — couldn't write “~/path”", in the interface language: the reason first, so that a
// message cut to fit still says it.
QString writeFailure(const QString& path, int error);
// `path` for a message: under the home folder as "~/…", else whole.
QString shortPath(const QString& path);

// Tests: called with the temporary file's path just before writeAtomically() renames it into
// place; an empty function turns it off.
void beforeRenameForTesting(std::function<void(const QString& temporary)> hook);
// Tests: the next writes fail with `error` once `afterBytes` bytes went through; 0 turns it off.
void failWritesForTesting(int error, qint64 afterBytes = 0);

} // namespace QuillomareCore::Files
