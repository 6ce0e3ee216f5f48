#pragma once

#include "ClipSettings.h"
#include "ClipboardItem.h"
#include "CloudSyncService.h"
#include "Errors.h"

#include <QHash>
#include <QList>
#include <QObject>
#include <QSet>
#include <QString>

#include <atomic>
#include <functional>
#include <map>
#include <memory>
#include <optional>

namespace QuillomareCore {

class BackgroundFileWriter;
class StoredImageCheck;

class ClipboardStoreError final : public Error
{
public:
    enum class Case { payloadTooLarge };

    static ClipboardStoreError payloadTooLarge(QString message) { return ClipboardStoreError(std::move(message)); }
    Case caseOf() const { return Case::payloadTooLarge; }

private:
    explicit ClipboardStoreError(QString message) : Error(std::move(message)) {}
};

struct ClipboardStoreLoadFailure
{
    QString fileURL;
    std::optional<QString> backupURL;
    QString reason;
    // Entries read from a damaged file in spite of the damage (the file itself was set aside).
    qsizetype recoveredItemCount = 0;

    friend bool operator==(const ClipboardStoreLoadFailure&, const ClipboardStoreLoadFailure&) = default;
};

// The history: entries in display order (pinned first, newest first), the settings and the
// deletion tombstones, kept in one JSON file that is rewritten whole on every change.
//
// GUI thread only. Every operation changes memory at once and hands the new state to a writer
// thread, so that rewriting a history of large images never freezes the island; the file is
// always a whole file, holding some recent state. Callers that must not claim "saved" too early
// wait with whenSaved(). A failed write leaves the change in memory and the previous file in
// place, and is tried again until it works or a newer change is written.
//
// Images are not held in memory: a load checks their base64 text where it lies in the file and
// keeps the file open (a save replaces the file; the entries read from the version they were
// found in), and a save copies each image's text as it stands, then points the entries at the
// new file (every copy of an entry follows, so the older version is closed at once). A fresh
// capture is held only until its first save. An image whose text can no longer be read (another
// program cut or overwrote the file) never stops a save: a copy still in memory is written, else
// the entry is left out, removed from memory and named once through onEntriesLost.
//
// Another program may write the file anew in place (an editor, `cp backup clips.json`): the
// version kept open then holds another layout. Its stamp tells; the version is read again and
// each image found where it now is, by its entry and its identity, and checked against that
// identity before a save copies it. Only an image the file no longer holds is gone as above.
//
// Another program may also have put a different image of the same length in an image's place.
// Once loaded, every image is checked against its identity in the background, one at a time at
// the lowest priority; one found damaged or replaced is treated as above at once (the next save
// leaves it out and names it). No image is handed out of the file before it was checked.
//
// A file that could not be loaded is never written over: it is set aside first, and while that
// is impossible the changes stay in memory only (whenSaved() says so) and setting it aside is
// tried again. The same holds for a file that another program left unreadable while the
// program runs. One that is still being written (a slow copy) costs no image: a save that needs
// an image the file does not hold yet fails, keeping every entry, and is tried again until the
// file is whole; only once it has stayed unreadable for a while are the images it lacks gone.
class ClipboardStore final
{
public:
    static constexpr qsizetype maxDeletedContentHashCount = 1000;

    // Loads the file at `fileURL` (a local path); never throws: a file it cannot use is
    // reported through lastLoadFailure().
    explicit ClipboardStore(QString fileURL, ClipSettings settings = {});
    // Waits for the last write.
    ~ClipboardStore();
    ClipboardStore(const ClipboardStore&) = delete;
    ClipboardStore& operator=(const ClipboardStore&) = delete;

    const QList<ClipboardItem>& items() const { return m_items; }
    const ClipSettings& settings() const { return m_settings; }
    const std::optional<ClipboardStoreLoadFailure>& lastLoadFailure() const { return m_lastLoadFailure; }
    const QString& fileURL() const { return m_fileURL; }

    ClipboardAddOutcome add(ClipboardItem item);
    QList<ClipboardItem> remove(const QUuid& id);
    void togglePinned(const QUuid& id);
    QList<ClipboardItem> clear();
    void updateSettings(const std::function<void(ClipSettings&)>& change);

    QList<ClipboardItem> cloudExportableItems() const;
    QList<ClipboardDeletionTombstone> deletionTombstones() const;
    QSet<QString> deletedContentHashes() const;

    // Folding in what a sync run pulled; each returns how many entries it removed or changed.
    qsizetype mergeDeletionTombstones(const QList<ClipboardDeletionTombstone>& tombstones);
    qsizetype mergeDeletedContentHashes(const QStringList& contentHashes);
    qsizetype merge(const QList<ClipboardItem>& pulledItems);
    // The same, also counting the pulled entries refused as not what they claim to be.
    qsizetype merge(const QList<ClipboardItem>& pulledItems, qsizetype* rejectedCount);

    // "Quillomare/clips.json" in the user's data folder (the temporary folder when there is none).
    static QString defaultStoreURL();

    // Hands the current state to the writer; the operations above call it.
    void save();
    // `done` runs on the GUI thread once every change made so far is on disk, or its write
    // failed: then with the reason, in the interface language. At once when nothing is pending.
    void whenSaved(std::function<void(const std::optional<QString>& error)> done);
    // Called on the GUI thread when a save had to leave out entries whose image could no longer
    // be read, with a text that names them and says why (in the interface language).
    std::function<void(const QString& notice)> onEntriesLost;
    // Called on the GUI thread after each write that put the history on disk.
    std::function<void()> onSaved;
    // The last such text, once.
    std::optional<QString> takeLostEntriesNotice();
    // Why the newest write failed, until a write succeeds.
    const std::optional<QString>& lastSaveError() const;
    bool hasPendingSave() const;
    // The check of the images loaded has gone through all of them.
    bool hasCheckedLoadedImages() const;
    // Tests only: the writer's gathering of changes to a large file (BackgroundFileWriter).
    void setSaveGatheringForTesting(qint64 thresholdBytes, int milliseconds);
    // Blocks until the newest state has been written or has failed: at quit, in tests.
    void waitForPendingSaves();

    // One tombstone per non-empty hash with the latest date, by date and then hash.
    static QList<ClipboardDeletionTombstone> normalizedTombstones(const QList<ClipboardDeletionTombstone>& tombstones);
    // The order of history: pinned before unpinned, newer before older, stable otherwise.
    static void sortIntoHistoryOrder(QList<ClipboardItem>& items);

private:
    void load();
    void resetAfterLoadFailure(const QString& reason, std::optional<QString> backupURL);
    QString backupURLForCorruptStore() const;
    std::optional<QString> backupCorruptStore();
    void trimToMaxHistoryCount();
    // save() for a change that takes entries away: it goes to disk without the gathering pause.
    void saveRemoval();
    void rememberDeletedContentHashes(const QList<ClipboardItem>& removed);
    void trimDeletedContentHashesIfNeeded();
    // Starts the check of the images just loaded.
    void checkLoadedImages();
    // A stored image was found damaged: the save that leaves it out goes at once.
    void dropDamagedImages();

    QList<ClipboardItem> m_items;
    std::optional<ClipboardStoreLoadFailure> m_lastLoadFailure;
    ClipSettings m_settings;
    const QString m_fileURL;
    QHash<QString, QDateTime> m_deletedContentTombstonesByHash;

    struct EncodedItem
    {
        ClipboardItem item;
        QByteArray json;
    };
    // Written only by the writer thread, one write at a time.
    std::shared_ptr<QHash<QUuid, EncodedItem>> m_encodedItems;

    // Where a save put each image's text, by entry; the new file's version once it is in place.
    // After the save, the entries read their images from there and hold none in memory.
    struct WrittenImages;
    std::map<quint64, std::shared_ptr<WrittenImages>> m_writtenImages; // by write generation
    // The file under the path as the writer's thread last knew it, so that a save can tell
    // whether another program wrote there since, and set aside one that does not parse whole.
    struct FileAtPath;
    static std::shared_ptr<FileAtPath> makeFileAtPath();
    std::shared_ptr<FileAtPath> m_fileAtPath;
    void adoptWrittenImages(quint64 generation, bool succeeded);
    std::optional<QString> m_lostEntriesNotice;

    std::unique_ptr<BackgroundFileWriter> m_writer;
    // Receives on the GUI thread what the check of the images finds.
    QObject m_context;
    std::atomic<bool> m_damageReported{false};
    std::unique_ptr<StoredImageCheck> m_imageCheck;
};

} // namespace QuillomareCore
