#pragma once

// The private record database of one iCloud container, kept as a folder of record files:
// ~/.local/share/Quillomare/CloudRecords/<container identifier>/, one JSON file per record.
// Keeping that folder in step between machines with any file-sync tool shares the history: a
// file's name comes from its record's name alone (the same on every machine, lower case, safe on
// every file system), and each write replaces a whole file atomically, so a peer never sees half
// a record. Files that are not records of ours (a sync tool's conflict copies, damaged files)
// are passed over.
//
// Whoever writes into the folder is not trusted with its order: which records are new is told by
// the local file system (the folder's change events, a file's inode, size and status-change time,
// which no writer can set), never by the dates written inside, and no record file is read beyond
// the size a record can have.

#include <QuillomareCore/ClipSettings.h>
#include <QuillomareCore/Errors.h>

#include <QByteArray>
#include <QDateTime>
#include <QHash>
#include <QList>
#include <QMap>
#include <QString>
#include <QStringList>

#include <array>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <variant>
#include <vector>

namespace Platform {

// One field of a record. The file keeps each value's type, so a date never reads back as text.
using CloudRecordValue = std::variant<QString, QStringList, QByteArray, QDateTime, bool>;

struct CloudRecord
{
    QString recordType;
    QString recordName;
    QMap<QString, CloudRecordValue> fields;
    // Set by the database when a save changes the record's fields.
    QDateTime modificationDate;
    // When this version of the record reached this machine's folder, by the local clock (the
    // file's change time); set by a fetch.
    QDateTime arrivalDate;
};

struct CloudFetch
{
    // The latest to reach this machine first.
    QList<CloudRecord> records;
    // New records past the limit, left for the next fetches.
    qsizetype pendingCount = 0;
    // Files in the folder, named as records, that cannot be one: damaged, or too large to read.
    // Each is counted once per change of the file.
    qsizetype rejectedCount = 0;
};

// A container identifier that cannot name the container's folder.
class CloudDatabaseError final : public QuillomareCore::Error
{
public:
    using Error::Error;
};

// Not thread-safe: one call at a time (the sync service serialises its operations).
class CloudDatabase final
{
public:
    // ~/.local/share/Quillomare/CloudRecords (under the temporary folder when there is no data folder).
    static QString defaultRecordsRoot();

    // The database of `containerIdentifier` under `recordsRoot`. Touches no file. Throws
    // CloudDatabaseError when the identifier is not a safe single folder name (empty, "." or "..",
    // with a "/" or anything but letters, digits, ".", "-" and "_"), so that nothing is ever read
    // or written outside `recordsRoot`.
    explicit CloudDatabase(const QString& containerIdentifier, const QString& recordsRoot = defaultRecordsRoot());
    ~CloudDatabase();
    CloudDatabase(const CloudDatabase&) = delete;
    CloudDatabase& operator=(const CloudDatabase&) = delete;

    const QString& folder() const { return m_folder; }

    // Writes each record whose type or fields differ from its file's; an unchanged record keeps
    // its file and its modification date, so a pass that changes nothing writes nothing. Throws
    // QuillomareCore::Error (the folder cannot be made, a file cannot be written) at the first
    // failure; the records written before it are complete.
    void save(const QList<CloudRecord>& records);

    // The records of the given types that are new to this database (never fetched, or changed
    // since): at most `limit`, those that arrived last (by the local file system's clock; the
    // dates written inside a record rank nothing). New records beyond the limit stay new and are
    // counted in pendingCount: the next fetches take them. Records this database saved come
    // back once, like any other change. Files that cannot be read, are not JSON, are damaged,
    // are larger than maxRecordFileBytes (those are never read) or hold a record of another type
    // are skipped. No folder yet: no records. Throws QuillomareCore::Error when the folder cannot
    // be listed; nothing then counts as fetched.
    CloudFetch fetchChanged(const QStringList& recordTypes, int limit);

    // The largest record file there is reason to read: an image at the history's limit, in
    // base64, with room for the rest of the record.
    static constexpr qint64 maxRecordFileBytes =
        (QuillomareCore::ClipDefaults::maxImagePayloadBytes + 2) / 3 * 4 + 1024 * 1024;

    // Deleting a record that is not there is no error. Throws QuillomareCore::Error when a file
    // cannot be removed.
    void deleteRecords(const QStringList& recordNames);

    // "item:3fa9…" ⇄ "item_3a3fa9….json": lower-case letters, digits and "-" stay, every other
    // byte of the UTF-8 name becomes "_" and two lower-case hex digits. recordName() accepts
    // exactly the names fileName() gives.
    static QString fileName(const QString& recordName);
    static std::optional<QString> recordName(const QString& fileName);

private:
    // What a fetch knows of a file, kept while the file stays the same one (same inode, size and
    // change times), so that a pass reads only the files that changed since the last.
    struct Summary
    {
        std::array<qint64, 5> file{}; // device, inode, size, change and modification time in ns
        bool isOurs = false;          // named as fileName() names records
        bool isRegular = false;
        bool checked = false; // the fields below describe this version of the file
        bool isRecord = false;
        bool delivered = false; // handed out by a fetch (or passed over by one)
        QString recordType;
        QDateTime modificationDate;
        QDateTime arrivalDate;
        QByteArray fieldsDigest;
        quint64 scan = 0;
    };
    struct NameHash
    {
        using is_transparent = void;
        size_t operator()(std::string_view name) const { return std::hash<std::string_view>{}(name); }
    };
    using Summaries = std::unordered_map<std::string, Summary, NameHash, std::equal_to<>>;

    Summary* summary(const QString& fileName);
    // Reads what the file is; false when it cannot be a record (damaged, too large).
    bool check(const std::string& encodedName, Summary& summary) const;
    std::optional<CloudRecord> read(const QString& fileName, QByteArray* fieldsDigest = nullptr) const;

    // Which names changed since the last fetch, as the kernel reports changes to the folder;
    // false when every file must be looked at (first fetch, lost or overflowing watch, or the
    // periodic full look that also catches what a network file system does not report).
    bool takeChangedNames(std::vector<std::string>& names);
    void stopWatching();

    QString m_folder;
    QString m_recordsRoot;
    Summaries m_summaries;
    quint64 m_scan = 0;
    int m_watch = -1;
    qint64 m_lastFullScanMs = 0;
};

} // namespace Platform
