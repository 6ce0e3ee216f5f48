#include "CloudDatabase.h"

#include "StandardFolders.h"

#include <QuillomareCore/Coding.h>
#include <QuillomareCore/Files.h>
#include <QuillomareCore/Foundation.h>
#include <QuillomareCore/Json.h>
#include <QuillomareCore/Language.h>

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSet>

#include <algorithm>
#include <cerrno>
#include <utility>

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

namespace Platform {

namespace {

using QuillomareCore::DecodingError;
using QuillomareCore::FileSystemError;
using QuillomareCore::Language::text;
namespace Json = QuillomareCore::Json;

const QString kFileSuffix = QStringLiteral(".json");
const QString kSavingInfix = QStringLiteral(".saving-");

bool isAsciiLetterOrDigit(char16_t c)
{
    return (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z') || (c >= u'0' && c <= u'9');
}

// A container identifier becomes one folder name: reverse-DNS characters only, and never "."
// or ".." (nor any other hidden name), so it cannot climb out of the records folder.
bool isSafeFolderName(const QString& name)
{
    if (name.isEmpty() || name.startsWith(QLatin1Char('.')) || name.size() > 200)
        return false;
    return std::all_of(name.cbegin(), name.cend(), [](QChar c) {
        const char16_t u = c.unicode();
        return isAsciiLetterOrDigit(u) || u == u'.' || u == u'-' || u == u'_';
    });
}

bool isFieldName(std::string_view name)
{
    return !name.empty() && std::all_of(name.begin(), name.end(),
                                        [](char c) { return isAsciiLetterOrDigit(char16_t(uchar(c))) || c == '_'; });
}

template <class... F> struct Overloaded : F...
{
    using F::operator()...;
};

// {"string": …}, {"strings": […]}, {"bytes": base64}, {"date": ISO 8601}, {"bool": …}, keys sorted.
void writeFields(Json::Writer& writer, const QMap<QString, CloudRecordValue>& fields)
{
    writer.beginObject();
    for (auto it = fields.cbegin(); it != fields.cend(); ++it) {
        const QByteArray name = it.key().toUtf8();
        writer.key(std::string_view(name.constData(), size_t(name.size())));
        writer.beginObject();
        std::visit(Overloaded{
                       [&](const QString& value) {
                           writer.key("string");
                           writer.string(value);
                       },
                       [&](const QStringList& values) {
                           writer.key("strings");
                           writer.beginArray();
                           for (const QString& value : values)
                               writer.string(value);
                           writer.endArray();
                       },
                       [&](const QByteArray& value) {
                           writer.key("bytes");
                           writer.base64(value);
                       },
                       [&](const QDateTime& value) {
                           writer.key("date");
                           writer.string(QuillomareCore::Iso8601::format(value));
                       },
                       [&](bool value) {
                           writer.key("bool");
                           writer.boolean(value);
                       },
                   },
                   it.value());
        writer.endObject();
    }
    writer.endObject();
}

// The fields as they stand in a record file (one level deep), whatever wrote the file: the same
// fields give the same bytes, which is how a save sees that nothing changed.
QByteArray fieldsJson(const QMap<QString, CloudRecordValue>& fields)
{
    return Json::writeToByteArray([&](Json::Writer& writer) { writeFields(writer, fields); }, 1);
}

QByteArray digest(const QByteArray& bytes)
{
    return QCryptographicHash::hash(bytes, QCryptographicHash::Sha256);
}

CloudRecordValue readValue(const Json::Value& value)
{
    value.requireObject("field");
    if (value.memberCount() != 1)
        throw DecodingError(QStringLiteral("A field holds exactly one typed value."));
    std::optional<CloudRecordValue> result;
    value.forEachMember([&](std::string_view type, const Json::Value& inner) {
        if (type == "string") {
            result = inner.toString("string");
        } else if (type == "strings") {
            inner.requireArray("strings");
            QStringList values;
            inner.forEachElement([&](const Json::Value& element) { values.append(element.toString("strings")); });
            result = values;
        } else if (type == "bytes") {
            result = QuillomareCore::Coding::decodeData(inner, "bytes");
        } else if (type == "date") {
            result = QuillomareCore::Coding::decodeDate(inner, "date");
        } else if (type == "bool") {
            result = inner.toBool("bool");
        }
    });
    if (!result)
        throw DecodingError(QStringLiteral("Unknown field type."));
    return *result;
}

Json::Value requiredMember(const Json::Value& object, const char* key)
{
    auto value = object.member(key);
    if (!value)
        throw DecodingError(QStringLiteral("No value associated with key \"%1\".").arg(QLatin1String(key)));
    return *value;
}

QString notAFolder(const QString& path)
{
    return text(QStringLiteral("“%1”不是文件夹"), QStringLiteral("“%1” is not a folder"))
        .arg(QDir::toNativeSeparators(path));
}

} // namespace

QString CloudDatabase::defaultRecordsRoot()
{
    QString base = StandardFolders::applicationSupport();
    if (base.isEmpty())
        base = StandardFolders::temporary();
    return base + QStringLiteral("/Quillomare/CloudRecords");
}

CloudDatabase::CloudDatabase(const QString& containerIdentifier, const QString& recordsRoot)
    : m_recordsRoot(QDir::cleanPath(QFileInfo(recordsRoot).absoluteFilePath()))
{
    if (containerIdentifier.isEmpty())
        throw CloudDatabaseError(
            text(QStringLiteral("缺少 iCloud 容器标识"), QStringLiteral("The iCloud container identifier is missing")));
    if (!isSafeFolderName(containerIdentifier))
        throw CloudDatabaseError(
            text(QStringLiteral(
                     "iCloud 容器标识“%1”不能用作文件夹名：只能使用字母、数字、“.”、“-”和“_”，且不能以“.”开头"),
                 QStringLiteral("The iCloud container identifier “%1” can't name a folder: use only letters, digits, "
                                "“.”, “-” and “_”, and don't start with “.”"))
                .arg(containerIdentifier));
    m_folder = m_recordsRoot + QLatin1Char('/') + containerIdentifier;
}

QString CloudDatabase::fileName(const QString& recordName)
{
    static constexpr char hex[] = "0123456789abcdef";
    QString name;
    const QByteArray bytes = recordName.toUtf8();
    name.reserve(bytes.size() + kFileSuffix.size());
    for (const char byte : bytes) {
        const uchar b = uchar(byte);
        if ((b >= 'a' && b <= 'z') || (b >= '0' && b <= '9') || b == '-') {
            name += QLatin1Char(char(b));
        } else {
            name += QLatin1Char('_');
            name += QLatin1Char(hex[b >> 4]);
            name += QLatin1Char(hex[b & 15]);
        }
    }
    return name + kFileSuffix;
}

std::optional<QString> CloudDatabase::recordName(const QString& fileName)
{
    if (!fileName.endsWith(kFileSuffix) || fileName.size() == kFileSuffix.size())
        return std::nullopt;
    const QStringView stem = QStringView(fileName).chopped(kFileSuffix.size());
    QByteArray bytes;
    for (qsizetype i = 0; i < stem.size(); ++i) {
        if (stem[i] != u'_') {
            bytes.append(char(stem[i].unicode() < 0x80 ? stem[i].unicode() : 0));
            continue;
        }
        bool ok = false;
        const uint byte = stem.mid(i + 1, 2).toUInt(&ok, 16);
        if (!ok || i + 2 >= stem.size())
            return std::nullopt;
        bytes.append(char(byte));
        i += 2;
    }
    // Only the one spelling fileName() gives: no upper-case hex, no needless escape, valid UTF-8.
    // Anything else (a sync tool's conflict copy, say) is not one of ours.
    QString name = QString::fromUtf8(bytes);
    if (CloudDatabase::fileName(name) != fileName)
        return std::nullopt;
    return name;
}

std::optional<CloudRecord> CloudDatabase::read(const QString& fileName, QByteArray* fieldsDigest) const
{
    const auto bytes = QuillomareCore::Files::readRegularFile(m_folder + QLatin1Char('/') + fileName);
    if (!bytes)
        return std::nullopt;
    try {
        const Json::Document document = Json::Document::parse(*bytes);
        const Json::Value root = document.root();
        root.requireObject("record");
        CloudRecord record;
        record.recordType = requiredMember(root, "recordType").toString("recordType");
        record.recordName = requiredMember(root, "recordName").toString("recordName");
        record.modificationDate =
            QuillomareCore::Coding::decodeDate(requiredMember(root, "modificationDate"), "modificationDate");
        const Json::Value fields = requiredMember(root, "fields");
        fields.requireObject("fields");
        fields.forEachMember([&](std::string_view name, const Json::Value& value) {
            if (!isFieldName(name))
                throw DecodingError(QStringLiteral("Invalid field name."));
            record.fields.insert(QString::fromLatin1(name.data(), qsizetype(name.size())), readValue(value));
        });
        // A record copied under another record's name would shadow that one.
        if (record.recordType.isEmpty() || recordName(fileName) != record.recordName)
            return std::nullopt;
        if (fieldsDigest)
            *fieldsDigest = digest(fieldsJson(record.fields));
        return record;
    } catch (const QuillomareCore::Error&) {
        return std::nullopt;
    }
}

namespace {

std::array<qint64, 4> identity(const struct stat& status)
{
    return {qint64(status.st_dev), qint64(status.st_ino), qint64(status.st_size),
            qint64(status.st_ctim.tv_sec) * 1'000'000'000 + status.st_ctim.tv_nsec};
}

} // namespace

const CloudDatabase::Summary* CloudDatabase::summary(const QString& fileName)
{
    struct stat status = {};
    const QByteArray path = QFile::encodeName(m_folder + QLatin1Char('/') + fileName);
    if (::stat(path.constData(), &status) != 0 || !S_ISREG(status.st_mode)) {
        m_summaries.remove(fileName);
        return nullptr;
    }
    auto it = m_summaries.find(fileName);
    if (it != m_summaries.end() && it->file == identity(status))
        return &*it;

    Summary summary;
    summary.file = identity(status);
    // Should the file be replaced meanwhile, the next look sees another inode and reads it again.
    if (const auto record = read(fileName, &summary.fieldsDigest)) {
        summary.isRecord = true;
        summary.recordType = record->recordType;
        summary.modificationDate = record->modificationDate;
    }
    return &*m_summaries.insert(fileName, summary);
}

void CloudDatabase::save(const QList<CloudRecord>& records)
{
    if (records.isEmpty())
        return;
    QuillomareCore::Files::makePrivateFolder(m_folder, m_recordsRoot);
    for (const CloudRecord& record : records) {
        const QString name = fileName(record.recordName);
        const bool fieldNamesValid =
            std::all_of(record.fields.keyBegin(), record.fields.keyEnd(), [](const QString& key) {
                const QByteArray latin = key.toLatin1();
                return key.size() == latin.size() &&
                       isFieldName(std::string_view(latin.constData(), size_t(latin.size())));
            });
        if (record.recordName.isEmpty() || name.toUtf8().size() > 255 || record.recordType.isEmpty() ||
            !fieldNamesValid)
            throw CloudDatabaseError(text(QStringLiteral("iCloud 记录“%1”的名称、类型或字段无效"),
                                          QStringLiteral("The iCloud record “%1” has an invalid name, type or field"))
                                         .arg(record.recordName));

        const QByteArray fields = fieldsJson(record.fields);
        const QByteArray fieldsDigest = digest(fields);
        const Summary* existing = summary(name);
        if (existing && existing->isRecord && existing->recordType == record.recordType &&
            existing->fieldsDigest == fieldsDigest)
            continue;

        const QDateTime modificationDate = QuillomareCore::Clock::now();
        const QString path = m_folder + QLatin1Char('/') + name;
        QuillomareCore::Files::writeAtomically(path, [&](QIODevice& device) {
            Json::Writer writer(&device);
            writer.beginObject();
            writer.key("fields");
            writer.raw(fields);
            writer.key("modificationDate");
            writer.string(QuillomareCore::Iso8601::format(modificationDate));
            writer.key("recordName");
            writer.string(record.recordName);
            writer.key("recordType");
            writer.string(record.recordType);
            writer.endObject();
            return writer.flush();
        });

        m_summaries.remove(name);
        struct stat status = {};
        if (::stat(QFile::encodeName(path).constData(), &status) == 0) {
            Summary& summary = m_summaries[name];
            summary.file = identity(status);
            summary.isRecord = true;
            summary.recordType = record.recordType;
            summary.modificationDate = modificationDate;
            summary.fieldsDigest = fieldsDigest;
        }
    }
}

QList<CloudRecord> CloudDatabase::fetchNewest(const QString& recordType, int limit)
{
    if (limit <= 0)
        return {};
    DIR* directory = ::opendir(QFile::encodeName(m_folder).constData());
    if (!directory) {
        const int error = errno;
        if (error == ENOENT) {
            m_summaries.clear();
            return {};
        }
        if (error == ENOTDIR)
            throw FileSystemError(notAFolder(m_folder));
        throw FileSystemError(
            text(QStringLiteral("无法读取文件夹“%1”：%2"), QStringLiteral("Couldn't read the folder “%1”: %2"))
                .arg(QDir::toNativeSeparators(m_folder), QuillomareCore::Files::reason(error)));
    }
    QSet<QString> names;
    QSet<QString> interruptedSaves;
    while (const dirent* entry = ::readdir(directory)) {
        const QString name = QFile::decodeName(entry->d_name);
        if (name.startsWith(QLatin1Char('.'))) {
            // ".<file>.saving-XXXXXX": a save of this program that was killed half-way.
            if (const qsizetype infix = name.lastIndexOf(kSavingInfix); infix > 1)
                interruptedSaves.insert(name.mid(1, infix - 1));
        } else if (recordName(name)) {
            names.insert(name);
        }
    }
    ::closedir(directory);
    for (const QString& name : std::as_const(interruptedSaves))
        QuillomareCore::Files::removeLeftoverTemporaryFiles(m_folder + QLatin1Char('/') + name);
    m_summaries.removeIf([&](const auto& entry) { return !names.contains(entry.key()); });

    struct Candidate
    {
        QString fileName;
        QDateTime modificationDate;
    };
    std::vector<Candidate> candidates;
    for (const QString& name : std::as_const(names)) {
        const Summary* found = summary(name);
        if (found && found->isRecord && found->recordType == recordType)
            candidates.push_back({name, found->modificationDate});
    }
    std::sort(candidates.begin(), candidates.end(), [](const Candidate& a, const Candidate& b) {
        if (a.modificationDate != b.modificationDate)
            return a.modificationDate > b.modificationDate;
        return a.fileName < b.fileName;
    });

    QList<CloudRecord> records;
    for (const Candidate& candidate : candidates) {
        if (records.size() >= limit)
            break;
        // Read again: only the few newest are held whole, and a peer may have replaced one since.
        auto record = read(candidate.fileName);
        if (record && record->recordType == recordType)
            records.append(std::move(*record));
    }
    return records;
}

void CloudDatabase::deleteRecords(const QStringList& recordNames)
{
    for (const QString& recordName : recordNames) {
        const QString name = fileName(recordName);
        const QString path = m_folder + QLatin1Char('/') + name;
        if (::unlink(QFile::encodeName(path).constData()) != 0 && errno != ENOENT) {
            const int error = errno;
            if (error == ENOTDIR)
                throw FileSystemError(notAFolder(m_folder));
            throw FileSystemError(text(QStringLiteral("无法删除“%1”：%2"), QStringLiteral("Couldn't delete “%1”: %2"))
                                      .arg(QDir::toNativeSeparators(path), QuillomareCore::Files::reason(error)));
        }
        m_summaries.remove(name);
    }
}

} // namespace Platform
