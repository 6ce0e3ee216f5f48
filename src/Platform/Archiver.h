#pragma once

// Zip archives of files and folders, as a file manager's "Compress" makes them: every source is
// stored under its own name at the top of the archive, a folder with everything inside it
// (sub-folders, files, symbolic links as links; sockets and other special files are left out),
// each entry with its modification time and Unix permissions. Names are UTF-8.
//
// The archive is written under a hidden temporary name in the destination's folder and renamed
// to the destination only once it is complete, so that a failure never leaves half an archive
// where one is expected: every partial file is removed and the cause reported.
//
// Files whose contents are already compressed (photos, video, audio, archives, office documents)
// are stored as they are; other files are deflated unless a sample of their start shows that
// deflating would not pay. Runs on the calling thread.

#include <QList>
#include <QString>

#include <optional>

namespace Platform {

struct ArchiveSource
{
    QString path; // a file or folder; a symbolic link given here is followed
    QString name; // its name at the top of the archive (no '/')
};

struct ArchiveFailure
{
    enum class Reason
    {
        noSources,         // nothing to archive
        sourceMissing,     // `path` does not exist (any more)
        sourceUnreadable,  // `path` could not be opened, listed or read to its end
        destinationFailed, // the archive could not be created, written or moved into place
    };
    Reason reason = Reason::destinationFailed;
    QString path;          // the file concerned
    QString systemMessage; // the system's own words for the cause (English), may be empty

    friend bool operator==(const ArchiveFailure&, const ArchiveFailure&) = default;
};

struct ArchiveStatistics
{
    qint64 entries = 0;
    qint64 bytesRead = 0;
    qint64 storedEntries = 0;   // files kept as they were
    qint64 deflatedEntries = 0; // files compressed
};

namespace Archiver {

// Writes the zip archive of `sources` to `destination` (replacing a file of that name only once
// the new archive is complete). Nothing on success; the cause otherwise, with nothing left behind.
std::optional<ArchiveFailure> createZip(const QList<ArchiveSource>& sources, const QString& destination,
                                        ArchiveStatistics* statistics = nullptr);

// Tests: when set, reading source data fails with EIO once this many bytes have been read in one
// archive, as a disk error half-way through would.
void setReadFailureAfterBytesForTesting(std::optional<qint64> bytes);

} // namespace Archiver

} // namespace Platform
