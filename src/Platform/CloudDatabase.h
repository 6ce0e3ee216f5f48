#pragma once

// The private record database of one iCloud container, kept as a folder of record files:
// ~/.local/share/Quillomare/CloudRecords/<container identifier>/, one JSON file per record.
// Keeping that folder in step between machines with any file-sync tool shares the history: a
// file's name comes from its record's name alone (the same on every machine, lower case, safe on
// every file system), and each write replaces a whole file atomically, so a peer never sees half
// a record. Files that are not records of ours (a sync tool's conflict copies, damaged files)
// are passed over.

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
#include <variant>

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

    const QString& folder() const { return m_folder; }

    // Writes each record whose type or fields differ from its file's; an unchanged record keeps
    // its file and its modification date, so a pass that changes nothing writes nothing. Throws
    // QuillomareCore::Error (the folder cannot be made, a file cannot be written) at the first
    // failure; the records written before it are complete.
    void save(const QList<CloudRecord>& records);

    // The `limit` most recently modified records of a type, newest first. Files that cannot be
    // read, are not JSON, are damaged or hold a record of another type are skipped. No folder
    // yet: no records. Throws QuillomareCore::Error when the folder cannot be listed.
    QList<CloudRecord> fetchNewest(const QString& recordType, int limit);

    // Deleting a record that is not there is no error. Throws QuillomareCore::Error when a file
    // cannot be removed.
    void deleteRecords(const QStringList& recordNames);

    // "item:3fa9…" ⇄ "item_3a3fa9….json": lower-case letters, digits and "-" stay, every other
    // byte of the UTF-8 name becomes "_" and two lower-case hex digits. recordName() accepts
    // exactly the names fileName() gives.
    static QString fileName(const QString& recordName);
    static std::optional<QString> recordName(const QString& fileName);

private:
    // What a fetch needs to know of a file, kept while the file stays the same one (same inode,
    // size and change time), so that a pass reads only files that changed since the last.
    struct Summary
    {
        std::array<qint64, 4> file{}; // device, inode, size, change time in nanoseconds
        bool isRecord = false;
        QString recordType;
        QDateTime modificationDate;
        QByteArray fieldsDigest;
    };

    const Summary* summary(const QString& fileName);
    std::optional<CloudRecord> read(const QString& fileName, QByteArray* fieldsDigest = nullptr) const;

    QString m_folder;
    QString m_recordsRoot;
    QHash<QString, Summary> m_summaries;
};

} // namespace Platform
