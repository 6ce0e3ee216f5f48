#pragma once

// The shelf's private copies of dropped files and folders: "ShelfFiles" beside the shelf file,
// one folder per entry named with the entry's ID, holding a copy of each of its files under the
// file's own name. An entry keeps working after the user moves or deletes the original, and its
// copies go when the entry goes.
//
// A copy is made under a hidden partial name and renamed into place only when complete, so a
// path handed out always names a whole file. Copying may run on any thread and can be stopped
// between two pieces of a file; everything else is for the GUI thread.

#include <QSet>
#include <QString>
#include <QUuid>

#include <functional>
#include <optional>

namespace QuillomareMac {

namespace ShelfFileStore {

// "<program folder>/ShelfFiles" for the shelf file at `shelfFileURL` (it sits beside it).
QString folderPath(const QString& shelfFileURL);
// The folder of the default shelf file.
QString defaultFolderPath();
// "<root>/<ID>": the entry's own folder.
QString itemFolderPath(const QString& root, const QUuid& itemID);
// True when `path` lies inside the entry's own folder under `root`.
bool isPrivateCopy(const QString& root, const QUuid& itemID, const QString& path);

struct CopyFailure
{
    QString sourcePath; // the dropped file or folder
    QString failedPath; // the file inside it (or the destination) where copying stopped
    int systemError = 0;
    bool sourceMissing = false;

    friend bool operator==(const CopyFailure&, const CopyFailure&) = default;
};

struct CopyOutcome
{
    std::optional<QString> copyPath;    // set when the copy is complete
    std::optional<CopyFailure> failure; // set when it failed
    bool cancelled = false;             // stopped on request; nothing is left behind
};

// Copies the file or folder at `sourcePath` (a link given here is followed; links inside a folder
// are copied as links, special files left out) into the entry's folder, under the source's name
// made unique there. Files are user-only and keep their modification times. `isCancelled` is
// asked between pieces. A failed or cancelled copy leaves nothing behind.
CopyOutcome makePrivateCopy(const QString& root, const QUuid& itemID, const QString& sourcePath,
                            const std::function<bool()>& isCancelled = {});

// The complete copy of `sourcePath` already in the entry's folder under the source's own name,
// if there is one (a copy is only ever given that name once it is complete).
std::optional<QString> finishedCopyPath(const QString& root, const QUuid& itemID, const QString& sourcePath);

// Deletes the entry's folder with everything in it; nothing happens when there is none.
void removeItemFolder(const QString& root, const QUuid& itemID);

// For a stored path inside some "ShelfFiles/<ID>/" that no longer exists: the same file under
// `root` when it exists there (the data folder was moved), else nothing.
std::optional<QString> relocatedPath(const QString& root, const QString& storedPath);

// Deletes entry folders under `root` whose ID is not in `itemIDs`, and partial copies left by an
// interrupted run inside the others. Names that are not entry IDs are left alone.
void removeUnusedFolders(const QString& root, const QSet<QUuid>& itemIDs);

// "Couldn't keep a shelf copy of “name”…": the text the shell shows, in the interface language.
QString failureDescription(const CopyFailure& failure);

} // namespace ShelfFileStore

} // namespace QuillomareMac
