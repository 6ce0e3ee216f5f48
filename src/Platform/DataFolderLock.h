#pragma once

#include <QString>

namespace Platform {

// The program's data folder held for this process alone, for as long as the lock lives.
//
// The single-instance rule works through the session bus, and two desktop sessions with the same
// home have two buses: without this, an instance in each would save over the other's history.
// The lock is the kernel's (flock), so it goes with the process however it ends, and a crash
// never leaves a stale lock behind. It is taken on the folder itself and on a file in it: the
// folder's lock holds even while the folder may not be written to, and the file's on a network
// home, where only a file open for writing can be locked across machines.
class DataFolderLock final
{
public:
    enum class State
    {
        held,          // this process has the folder
        heldElsewhere, // another process has it: nothing here may write to the folder
        unavailable,   // neither lock could be taken (no folder, no locks on this file system)
    };

    static inline const QString fileName = QStringLiteral("instance.lock");

    // Makes the folder (user-only) when missing, and takes the lock without waiting.
    explicit DataFolderLock(const QString& folder);
    ~DataFolderLock();
    DataFolderLock(const DataFolderLock&) = delete;
    DataFolderLock& operator=(const DataFolderLock&) = delete;

    State state() const { return m_state; }
    const QString& folder() const { return m_folder; }
    // With `unavailable`: why, in the interface language.
    const QString& failure() const { return m_failure; }

private:
    QString m_folder;
    State m_state = State::unavailable;
    QString m_failure;
    int m_folderDescriptor = -1;
    int m_fileDescriptor = -1;
};

} // namespace Platform
