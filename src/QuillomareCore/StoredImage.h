#pragma once

// Images as the history file holds them: base64 text at a known place in one version of the
// file. An entry refers to that place instead of holding the image, reads it when asked, and a
// save copies the text as it stands instead of encoding the image again.

#include <QByteArray>
#include <QString>

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
class HistoryFileVersion
{
public:
    // Takes the descriptor over.
    explicit HistoryFileVersion(int descriptor) : m_descriptor(descriptor) {}
    ~HistoryFileVersion();
    HistoryFileVersion(const HistoryFileVersion&) = delete;
    HistoryFileVersion& operator=(const HistoryFileVersion&) = delete;

    // Reads exactly `size` bytes at `offset`; false, with the reason, when the file is shorter or
    // the read fails. `endedEarly` tells the two apart: only a file that ends before the bytes
    // is damage for good; a failed read (EIO, ENOMEM…) may pass.
    bool read(qint64 offset, char* into, qint64 size, QString* error, bool* endedEarly = nullptr) const;

    // Tells whether the file was written since: its modification time and size. Another
    // program that writes into this version (it is the same file until a save replaces it)
    // changes it; nothing of ours writes into a version once it is read from.
    struct Stamp
    {
        qint64 modified = -1; // nanoseconds
        qint64 size = -1;
        friend bool operator==(const Stamp&, const Stamp&) = default;
    };
    Stamp stamp() const;

    // Tests only: every read fails with this errno while it is not 0.
    static std::atomic<int> failReadsForTesting;

private:
    int m_descriptor;
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
    };

    StoredImageText(Place place, qsizetype byteCount, QByteArray head, QString contentHash = QString());
    StoredImageText(const StoredImageText&) = delete;
    StoredImageText& operator=(const StoredImageText&) = delete;

    const qsizetype byteCount; // the image's size once decoded
    const QByteArray head;     // the first decoded bytes (up to headByteCount)
    // The entry's identity when it has the form of an image's (SHA-256 in hex): the image read
    // back must hash to it. Empty when it cannot be checked.
    const QString contentHash;

    // Enough for every look at an image's header made on the GUI thread (the inspector's
    // sharing check reads 64 bytes), so that none reads the whole image from the file; whole
    // groups of three, so that the head decodes from whole groups of letters.
    static constexpr qsizetype headByteCount = 96;

    Place place() const;
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
    void markDamaged(const QString& reason) const;

private:
    // Results of a check of `checked`: taken only while the text is still there (a save may
    // have moved it meanwhile; the new place is then checked on its own).
    void markChecked(const Place& checked, HistoryFileVersion::Stamp stamp) const;
    void markDamagedAt(const Place& checked, const QString& reason, bool substituted = false) const;
    bool isCheckedAt(const Place& where) const;

    mutable std::mutex m_mutex;
    mutable Place m_place;
    mutable QString m_damage;
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

} // namespace QuillomareCore
