#pragma once

// Images as the history file holds them: base64 text at a known place in one version of the
// file. An entry refers to that place instead of holding the image, reads it when asked, and a
// save copies the text as it stands instead of encoding the image again.

#include <QByteArray>
#include <QHash>
#include <QString>
#include <QUuid>

#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string_view>
#include <thread>
#include <vector>

namespace QuillomareCore {

// One version of the history file, kept open: a save replaces the file by renaming a new one
// over it, and what was read from this version must still be read from it afterwards.
//
// Nothing of ours writes into a version once it is read from, but another program may (an
// editor, `cp backup clips.json`, `rsync --inplace`): the same file, another layout. Its stamp
// tells; the version is then read again to find where each entry's image text now lies.
//
// A version that no longer parses whole may be a copy still under way (a slow `cp`, a file
// truncated and not yet refilled): an image it lacks is not taken as gone until the file has
// stayed as it is for unreadableGraceMilliseconds; until then whoever needs it waits.
class HistoryFileVersion
{
public:
    // An image text as a read of the version found it.
    struct FoundImage
    {
        QUuid entryId;       // the entry's id, when it reads as one
        QString contentHash; // the entry's identity, as the file names it
        qint64 offset = 0;   // the text's first byte
        qint64 length = 0;
        bool whole = false;  // valid base64 letters; the two below only then
        qsizetype byteCount = 0;
        QByteArray head;     // the first decoded bytes, as StoredImageText::head
    };
    // Reads the version as it stands now and lists the image texts it holds; false, with why,
    // when it cannot be read. `whole` is false when it no longer parses whole: then only the
    // entries that still do are listed.
    using Locator = std::function<bool(const HistoryFileVersion& version, std::vector<FoundImage>& found, bool& whole,
                                       QString& error)>;

    // Takes the descriptor over; the layout known is the file's as it is now, unless
    // `layoutKnown` is false (a file nobody has read yet): the first layout() reads it.
    explicit HistoryFileVersion(int descriptor, Locator locator = {}, bool layoutKnown = true);
    ~HistoryFileVersion();
    HistoryFileVersion(const HistoryFileVersion&) = delete;
    HistoryFileVersion& operator=(const HistoryFileVersion&) = delete;

    int descriptor() const { return m_descriptor; }

    // Reads exactly `size` bytes at `offset`; false, with the reason, when the file is shorter or
    // the read fails. `endedEarly` tells the two apart: only a file that ends before the bytes
    // is damage for good; a failed read (EIO, ENOMEM…) may pass.
    bool read(qint64 offset, char* into, qint64 size, QString* error, bool* endedEarly = nullptr) const;

    // Tells whether the file was written since. The modification time alone does not: a write
    // in the same clock tick keeps it, and `cp -p`, `rsync -t` or `touch -r` set it back. The
    // inode's change time cannot be set back by anyone but the clock, and with the file's
    // identity and size it tells every write.
    struct Stamp
    {
        quint64 device = 0;
        quint64 inode = 0;
        qint64 size = -1;
        qint64 modified = -1; // nanoseconds
        qint64 changed = -1;  // nanoseconds
        friend bool operator==(const Stamp&, const Stamp&) = default;
    };
    Stamp stamp() const;
    // The stamp, taken once the clock that dates the file's changes has moved past its change
    // time: a write after this, even within the same tick, leaves another stamp. For a stamp
    // that vouches for what is read after it.
    Stamp settledStamp() const;

    // Where the image texts lie: as the version was opened (generation 0), or as the read that
    // followed another program's latest write found them.
    struct Layout
    {
        quint64 generation = 0;
        Stamp stamp;
        bool whole = true; // the file parsed whole
        qint64 readAt = 0;  // when it was read, on MonotonicClock::shared()
        std::shared_ptr<const QHash<QUuid, FoundImage>> byEntry;
        std::shared_ptr<const QHash<QString, FoundImage>> byContentHash;
    };
    // The layout of the version as it is now, read again first when another program wrote into
    // it since the last was known. Nothing, with why, when that cannot be told now: it keeps
    // changing while it is read, or a read failed (both may pass). A file that no longer parses
    // whole may be a copy still under way: only once it has stayed as it is for a moment are the
    // entries it lacks taken as gone.
    std::optional<Layout> layout(QString* error = nullptr) const;
    // Nobody wrote into the version since the layout of `generation` was read: what a read at a
    // place of that layout found is true of the file.
    bool holdsLayout(quint64 generation) const;
    // `layout` does not parse whole and the file has stayed as it is for the grace period: what
    // it lacks is taken as gone. Before that, it may be a copy still under way.
    static bool staysUnreadable(const Layout& layout);
    static constexpr int unreadableGraceMilliseconds = 30'000;

    // Tests only: every read fails with this errno while it is not 0.
    static std::atomic<int> failReadsForTesting;

private:
    int m_descriptor;
    const Locator m_locator;
    // The change time last seen while the file had a name. A save of ours renames a new file
    // over this one, which changes its change time as it drops its last name: that is no write
    // into it, and nobody can open it by name any more to write.
    mutable std::atomic<qint64> m_changedWhileLinked{-1};
    // One new read at a time; the others wait for its outcome instead of reading too.
    mutable std::mutex m_readingAgain;
    mutable std::mutex m_layoutMutex;
    mutable Layout m_layout;
};

// Where an image's base64 text lies in a file version, and what is known of it without reading it.
//
// Every copy of an entry (the store's, a row's, a pending action's) shares one of these, and a
// save that wrote the same text into a newer version moves it there: the version the text was
// found in is then let go by every holder at once, not when the last row view is rebuilt.
struct StoredImageText : std::enable_shared_from_this<StoredImageText>
{
    struct Place
    {
        std::shared_ptr<const HistoryFileVersion> file;
        qint64 offset = 0; // the text's first byte (after the opening quote)
        qint64 length = 0; // its length
        quint64 layout = 0; // the generation of the file's layout that put it there
    };

    StoredImageText(Place place, qsizetype byteCount, QByteArray head, QString contentHash = QString(),
                    QUuid entryId = QUuid());
    StoredImageText(const StoredImageText&) = delete;
    StoredImageText& operator=(const StoredImageText&) = delete;

    const qsizetype byteCount; // the image's size once decoded
    const QByteArray head;     // the first decoded bytes (up to headByteCount)
    // The entry's identity when it has the form of an image's (SHA-256 in hex): the image read
    // back must hash to it. Empty when it cannot be checked.
    const QString contentHash;
    // The entry the text belongs to: how it is found again in a file another program rewrote.
    const QUuid entryId;

    // Enough for every look at an image's header made on the GUI thread (the inspector's
    // sharing check reads 64 bytes), so that none reads the whole image from the file; whole
    // groups of three, so that the head decodes from whole groups of letters.
    static constexpr qsizetype headByteCount = 96;

    Place place() const;
    // The text's place in the file as the file is now: when another program wrote into its
    // version since, the version is read again and the text found where it now lies (by entry,
    // else by identity, with the same size and header); a text the file no longer holds whole is
    // damaged for good. Nothing, with why, when that cannot be told now.
    std::optional<Place> settledPlace(QString* error = nullptr) const;
    // For a save that copies the text as it stands: its settled place, where a text found by
    // reading a changed version again has first been checked against its identity. Nothing,
    // with why, when that cannot be done now (the save fails and is tried again); damage found
    // is marked.
    std::optional<Place> placeToCopy(QString* error) const;
    // A save wrote this very image at `place` of a newer version: reads go there from now on.
    // `rewritten`: from the checked copy in memory, so a damage of the old place no longer counts.
    void moveTo(Place place, bool rewritten = false) const;

    // The image, read, decoded and checked against its identity; nothing, with a reason, when
    // the file no longer holds it (or holds another image in its place). Any thread. No byte
    // read from the file is handed out before its identity is checked: the image is hashed
    // here unless it was checked at this place and the file was not written since (the check
    // after a load does that for every image, in the background).
    std::optional<QByteArray> load(QString* error) const;
    // Checks the image at its place against its identity without handing it out: read slice by
    // slice, so that memory holds a few megabytes whatever the image's size. Stops early when
    // `cancelled` turns true. A mismatch, or text that is not whole, is damage.
    void check(const std::atomic<bool>* cancelled = nullptr) const;
    // The image at its place has been checked and the file has not been written since.
    bool isChecked() const;
    // The text at its place was just written from bytes that were checked: the file as it is now
    // counts as checked.
    void markCheckedWhereItIs() const;
    // The damage found is another image in this one's place (so its header says nothing of it).
    bool isSubstituted() const { return m_substituted.load(std::memory_order_acquire); }
    // The image when a recent read still holds it in memory, checked as load() checks it.
    std::optional<QByteArray> recentCopy() const;
    // A cheap look (one byte) at whether the file still reaches the end of the text: a file cut
    // short marks it damaged before anything is copied from it.
    void checkEnd() const;
    // A read found the text damaged or not the image it should be: it is gone for good.
    bool isDamaged() const { return m_damaged.load(std::memory_order_acquire); }
    // Why, once isDamaged().
    QString damage() const;
    // Why the image cannot be had now though it is not gone: the file that holds it no longer
    // parses whole and may still be being written. Empty once it is found again, or otherwise.
    QString awaited() const;
    void markDamaged(const QString& reason) const;
    // Damage found by a read at `checked`: it counts only while the text is still there and
    // nobody wrote into the file since that place was known (else the read met another program's
    // write and proves nothing). True when it counted.
    bool markDamagedAt(const Place& checked, const QString& reason, bool substituted = false) const;

private:
    // A result of a check of `checked`: taken only while the text is still there (a save may
    // have moved it meanwhile; the new place is then checked on its own).
    void markChecked(const Place& checked, HistoryFileVersion::Stamp stamp) const;
    bool isCheckedAt(const Place& where) const;
    // The text is still at `where` and the file still as that place knew it.
    bool isSettledAt(const Place& where) const;

    mutable std::mutex m_mutex;
    mutable Place m_place;
    mutable QString m_damage;
    mutable QString m_awaited;
    mutable std::atomic<bool> m_damaged{false};
    mutable std::atomic<bool> m_substituted{false};
    // The file's stamp when the text at m_place was found to be the image: while the file keeps
    // it, a read need not hash the image again.
    mutable std::optional<HistoryFileVersion::Stamp> m_checkedStamp;
};

// The check of every stored image once a history is loaded: image by image, on a thread of the
// lowest priority, so that neither the GUI thread nor the rest of the program waits for it and
// memory never holds more than one slice of one image. An image the history no longer holds
// when its turn comes is skipped.
class StoredImageCheck
{
public:
    // `damageFound` runs on the check's thread after each image found damaged.
    StoredImageCheck(std::vector<std::weak_ptr<const StoredImageText>> images, std::function<void()> damageFound);
    // Stops between two slices and waits for the thread.
    ~StoredImageCheck();
    StoredImageCheck(const StoredImageCheck&) = delete;
    StoredImageCheck& operator=(const StoredImageCheck&) = delete;

    bool isFinished() const { return m_finished.load(std::memory_order_acquire); }

private:
    std::atomic<bool> m_cancelled{false};
    std::atomic<bool> m_finished{false};
    std::thread m_thread;
};

namespace Base64Text {
// True when `text` is what Base64::decode accepts; reads it only, at memory speed.
bool isValid(std::string_view text);
// The same, for a reader that already knows where the run of letters at the start of `text`
// ends (skipLetters), so that nothing is read twice.
bool isValid(std::string_view text, const char* lettersEnd);
// The first byte at or after `text` that is not one of the 64 letters (the padding is not one),
// or `end`.
const char* skipLetters(const char* text, const char* end);
// The decoded size of valid text.
qsizetype decodedSize(std::string_view text);
} // namespace Base64Text

// What an image's identity looks like: SHA-256 in lower-case hex. Anything else (a hand-made
// file, an older writer) cannot be checked.
bool isImageContentHash(const QString& hash);

// The message for an image that could not be read back, in the interface language.
QString unreadableImageText(const QString& reason);
// Why an image could not be read: another program kept writing into the history file.
QString historyFileChangingText();

} // namespace QuillomareCore
