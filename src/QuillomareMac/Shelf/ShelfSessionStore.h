#pragma once

// The shelf: named sessions of entries, one of them selected, kept in "shelf-sessions.json"
// beside the history file and rewritten whole (atomically, pretty-printed, sorted keys, dates in
// whole seconds) on every change. There is always at least one session.
//
// GUI thread only. Every operation changes memory at once and hands the new state to a writer
// thread (BackgroundFileWriter): the file is always whole, a failed write is reported through
// whenSaved() and tried again, and a file that could not be loaded is never written over.
//
// Private copies. Dropped files and folders are copied under "ShelfFiles" (ShelfFileStore) so
// that an entry survives the original being moved or deleted. Copying a few large files takes
// seconds, and the shell adds entries on the GUI thread and shows them at once, so addItems()
// does not copy: it stores the entries with their original paths and hands the copying to a
// background pool. Each entry's copies are made under partial names and renamed when complete;
// back on the GUI thread the entry's paths are switched to its copies (one path at a time: a copy
// that failed keeps the original path, so an entry is never lost and never names a half-copied
// file). Switches are saved together, at most about once a second, or with the next change.
// Removing an entry stops its copy and deletes what was copied. At the next start, copies that
// were not finished when the program quit are made again (their leftovers deleted), and copies
// that were finished but whose switch was not yet saved are taken as they are.

#include "Shelf/ShelfItem.h"

#include <QuillomareCore/BackgroundFileWriter.h>

#include <QList>
#include <QObject>
#include <QSet>
#include <QString>
#include <QThreadPool>
#include <QTimer>
#include <QUuid>

#include <functional>
#include <memory>
#include <optional>

namespace QuillomareMac {

// Why the shelf file could not be used at start-up, and where it was put aside.
struct ShelfStoreLoadFailure
{
    QString fileURL;
    std::optional<QString> backupURL; // absent when the file could not be moved
    QString message;                  // in the interface language, for the island

    friend bool operator==(const ShelfStoreLoadFailure&, const ShelfStoreLoadFailure&) = default;
};

class ShelfSessionStore final
{
public:
    static constexpr qsizetype maxSessionNameLength = 28;
    // Pending path switches are saved this long after the first of them.
    static constexpr int copySaveDelayMilliseconds = 1000;

    // Loads the file at `fileURL`; never throws. A file that cannot be read or decoded is set
    // aside beside itself ("shelf-sessions.corrupt-<UUID>.json") and reported through
    // lastLoadFailure(); entries whose private copies moved along with the data folder are
    // pointed at them again, and the file is saved when that changed anything.
    explicit ShelfSessionStore(QString fileURL);
    ~ShelfSessionStore();
    ShelfSessionStore(const ShelfSessionStore&) = delete;
    ShelfSessionStore& operator=(const ShelfSessionStore&) = delete;

    // "shelf-sessions.json" in the program's folder "Quillomare" in the user's data folder.
    static QString defaultStoreURL();

    const QList<ShelfSession>& sessions() const { return m_state.sessions; }
    const QUuid& selectedSessionID() const { return m_state.selectedSessionID; }
    // The selected session (the first one when the selection names none).
    const ShelfSession& currentSession() const;
    const QString& fileURL() const { return m_fileURL; }
    // "ShelfFiles" beside the shelf file.
    const QString& shelfFilesFolder() const { return m_shelfFilesFolder; }
    const std::optional<ShelfStoreLoadFailure>& lastLoadFailure() const { return m_lastLoadFailure; }

    // Adds to the front of the selected session as many of `items`, from the start of the list,
    // as fit under `maxItemCount`, saves and answers how many; 0 (nothing saved) when none fit.
    // Dropped files are then copied in the background.
    qsizetype addItems(const QList<ShelfItem>& items, qsizetype maxItemCount);
    // Empties the selected session, saves and deletes its entries' private copies.
    void clearSelectedSession();
    // A new empty session at the front, selected: the name trimmed and cut to 28 characters,
    // the next untitled name when nothing is left.
    ShelfSession createSession(const QString& name);
    // False when the selected session has no such entry.
    bool removeItem(const QUuid& id);
    // False (nothing saved) when the name is empty once trimmed.
    bool renameSelectedSession(const QString& name);
    // False (nothing saved) when no session has that ID.
    bool selectSession(const QUuid& id);

    // Called on the GUI thread when background copies switched entries to their private copies
    // (the island should be given the sessions again) and when a copy failed (the entry keeps
    // its original path; the text is for the island).
    std::function<void()> onItemsChanged;
    std::function<void(const QString& message)> onCopyFailure;
    const std::optional<QString>& lastCopyFailure() const { return m_lastCopyFailure; }

    // `done` runs on the GUI thread once every change so far is on disk or its write failed (with
    // the reason, in the interface language); at once when nothing is pending.
    void whenSaved(std::function<void(const std::optional<QString>& error)> done);
    const std::optional<QString>& lastSaveError() const;
    // Blocks until the newest state is written or has failed: at quit, in tests.
    void waitForPendingSaves();

    bool hasPendingCopies() const { return !m_copyingItemIDs.isEmpty(); }
    // Blocks until every background copy has finished, applies them and saves: for tests and
    // benchmarks.
    void waitForPendingCopies();

    // The name rule of createSession() and renameSelectedSession(); nothing when it is empty.
    static std::optional<QString> normalizedName(const QString& name);
    // "未命名会话" / "Untitled Session", then "… 2", "… 3": the first not already taken.
    static QString nextUntitledName(const QList<ShelfSession>& sessions);

private:
    struct State
    {
        QList<ShelfSession> sessions;
        QUuid selectedSessionID;
    };
    struct CopyQueue;
    struct CopyJobResult;

    static qsizetype currentIndex(const State& state);
    static ShelfSession makeSession(const QString& name);
    void load();
    void useFreshState();
    QString backupURLForBadFile() const;
    bool setBadFileAside(std::optional<QString>& backupURL);
    bool repairMovedCopies();
    void save(const State& state);
    void commit(State next);

    void scheduleCopies(const QList<ShelfItem>& items, bool quiet);
    void drainCopies(bool notify);
    void saveCopySwitches();
    void discardPrivateCopies(const QList<QUuid>& itemIDs);
    bool containsItem(const QUuid& id) const;

    State m_state;
    const QString m_fileURL;
    const QString m_shelfFilesFolder;
    std::optional<ShelfStoreLoadFailure> m_lastLoadFailure;
    std::unique_ptr<QuillomareCore::BackgroundFileWriter> m_writer;

    std::shared_ptr<CopyQueue> m_copies;
    QSet<QUuid> m_copyingItemIDs;
    QSet<QUuid> m_quietCopies;
    bool m_hasUnsavedCopySwitches = false;
    std::optional<QString> m_lastCopyFailure;
    QObject m_context; // receives the workers' results on the GUI thread
    QTimer m_copySaveTimer;
    QThreadPool m_copyPool;
};

} // namespace QuillomareMac
