#include "CloudDatabase.h"

#include "StandardFolders.h"

#include <QuillomareCore/CloudSyncService.h>
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
#include <fcntl.h>
#include <sys/inotify.h>
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
            text(QStringLiteral("缺少同步容器标识"), QStringLiteral("The sync container identifier is missing")));
    if (!isSafeFolderName(containerIdentifier))
        throw CloudDatabaseError(
            text(QStringLiteral(
                     "同步容器标识“%1”不能用作文件夹名：只能使用字母、数字、“.”、“-”和“_”，且不能以“.”开头"),
                 QStringLiteral("The sync container identifier “%1” can't name a folder: use only letters, digits, "
                                "“.”, “-” and “_”, and don't start with “.”"))
                .arg(containerIdentifier));
    m_folder = m_recordsRoot + QLatin1Char('/') + containerIdentifier;
}

CloudDatabase::~CloudDatabase()
{
    stopWatching();
}

void CloudDatabase::stopWatching()
{
    if (m_watch >= 0)
        ::close(m_watch);
    m_watch = -1;
}

bool CloudDatabase::takeChangedNames(std::vector<std::string>& names)
{
    // Every quarter of an hour all files are looked at anyway.
    constexpr qint64 fullScanIntervalMs = 15 * 60 * 1000;
    const qint64 nowMs = QDateTime::currentMSecsSinceEpoch();
    bool complete = m_watch >= 0 && nowMs - m_lastFullScanMs < fullScanIntervalMs && nowMs >= m_lastFullScanMs;
    if (m_watch >= 0) {
        alignas(inotify_event) char buffer[64 * 1024];
        for (;;) {
            const ssize_t got = ::read(m_watch, buffer, sizeof buffer);
            if (got < 0 && errno == EINTR)
                continue;
            if (got <= 0)
                break;
            for (ssize_t offset = 0; offset < got;) {
                const auto* event = reinterpret_cast<const inotify_event*>(buffer + offset);
                if (event->mask & (IN_Q_OVERFLOW | IN_IGNORED | IN_DELETE_SELF | IN_MOVE_SELF | IN_UNMOUNT))
                    complete = false;
                else if (event->len > 0 && event->name[0] != '.')
                    names.emplace_back(event->name);
                offset += qsizetype(sizeof(inotify_event)) + event->len;
            }
        }
    }
    if (complete)
        return true;
    // Watch afresh before looking at every file, so that nothing changing meanwhile is missed.
    stopWatching();
    names.clear();
    m_watch = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    if (m_watch >= 0 &&
        ::inotify_add_watch(m_watch, QFile::encodeName(m_folder).constData(),
                            IN_CREATE | IN_CLOSE_WRITE | IN_MODIFY | IN_ATTRIB | IN_MOVED_FROM | IN_MOVED_TO |
                                IN_DELETE | IN_DELETE_SELF | IN_MOVE_SELF | IN_ONLYDIR | IN_DONT_FOLLOW) < 0)
        stopWatching();
    m_lastFullScanMs = nowMs;
    return false;
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

namespace {

// The whole file, when it is a regular file (not a link, a FIFO or a device) of at most
// `maxBytes`; the size is looked at before anything is read, and a file that grows meanwhile is
// not read past the bound.
std::optional<QByteArray> readBounded(const QString& path, qint64 maxBytes)
{
    const int descriptor =
        ::open(QFile::encodeName(path).constData(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    if (descriptor < 0)
        return std::nullopt;
    struct stat status = {};
    if (::fstat(descriptor, &status) != 0 || !S_ISREG(status.st_mode) || status.st_size > maxBytes) {
        ::close(descriptor);
        return std::nullopt;
    }
    QByteArray bytes;
    bytes.resize(qsizetype(status.st_size) + 1);
    qsizetype done = 0;
    while (done < bytes.size()) {
        const ssize_t got = ::read(descriptor, bytes.data() + done, size_t(bytes.size() - done));
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0)
            break;
        done += got;
    }
    ::close(descriptor);
    if (done > maxBytes)
        return std::nullopt;
    bytes.truncate(done);
    return bytes;
}

} // namespace

std::optional<CloudRecord> CloudDatabase::read(const QString& fileName, QByteArray* fieldsDigest) const
{
    const auto bytes = readBounded(m_folder + QLatin1Char('/') + fileName, maxRecordFileBytes);
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

std::array<qint64, 5> identity(const struct stat& status)
{
    return {qint64(status.st_dev), qint64(status.st_ino), qint64(status.st_size),
            qint64(status.st_ctim.tv_sec) * 1'000'000'000 + status.st_ctim.tv_nsec,
            qint64(status.st_mtim.tv_sec) * 1'000'000'000 + status.st_mtim.tv_nsec};
}

QDateTime changeTime(const struct stat& status)
{
    return QDateTime::fromMSecsSinceEpoch(qint64(status.st_ctim.tv_sec) * 1000 + status.st_ctim.tv_nsec / 1'000'000,
                                          Qt::UTC);
}

// Takes in what a stat found; a file that is not the one summarised before must be read again
// and is new to the next fetch.
void observe(const struct stat& status, bool found, auto& summary)
{
    const bool regular = found && S_ISREG(status.st_mode);
    const auto file = regular ? identity(status) : std::array<qint64, 5>{};
    if (regular == summary.isRegular && file == summary.file)
        return;
    summary.isRegular = regular;
    summary.file = file;
    summary.checked = false;
    summary.isRecord = false;
    summary.delivered = false;
    summary.arrivalDate = regular ? changeTime(status) : QDateTime();
}

} // namespace

bool CloudDatabase::check(const std::string& encodedName, Summary& summary) const
{
    summary.checked = true;
    summary.isRecord = false;
    // Too large to be a record of ours: not even opened.
    if (summary.file[2] > maxRecordFileBytes)
        return false;
    const auto record = read(QFile::decodeName(QByteArray::fromStdString(encodedName)), &summary.fieldsDigest);
    if (!record)
        return false;
    summary.isRecord = true;
    summary.recordType = record->recordType;
    summary.modificationDate = record->modificationDate;
    return true;
}

CloudDatabase::Summary* CloudDatabase::summary(const QString& fileName)
{
    const QByteArray encoded = QFile::encodeName(fileName);
    const std::string key(encoded.constData(), size_t(encoded.size()));
    struct stat status = {};
    const bool found = ::lstat(QFile::encodeName(m_folder + QLatin1Char('/') + fileName).constData(), &status) == 0;
    Summary& summary = m_summaries[key];
    summary.isOurs = true;
    summary.scan = m_scan;
    observe(status, found, summary);
    if (!summary.isRegular)
        return nullptr;
    // Should the file be replaced meanwhile, the next look sees another inode and reads it again.
    if (!summary.checked)
        check(key, summary);
    return &summary;
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
            throw CloudDatabaseError(text(QStringLiteral("同步记录“%1”的名称、类型或字段无效"),
                                          QStringLiteral("The sync record “%1” has an invalid name, type or field"))
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

        const QByteArray encoded = QFile::encodeName(name);
        Summary& summary = m_summaries[std::string(encoded.constData(), size_t(encoded.size()))];
        summary = Summary();
        summary.isOurs = true;
        summary.scan = m_scan;
        struct stat status = {};
        observe(status, ::lstat(QFile::encodeName(path).constData(), &status) == 0, summary);
        if (summary.isRegular) {
            // Known without reading it back; still new to the next fetch, like any change.
            summary.checked = true;
            summary.isRecord = true;
            summary.recordType = record.recordType;
            summary.modificationDate = modificationDate;
            summary.fieldsDigest = fieldsDigest;
        }
    }
}

CloudFetch CloudDatabase::fetchChanged(const QStringList& recordTypes, int limit)
{
    if (limit <= 0)
        return {};
    DIR* directory = ::opendir(QFile::encodeName(m_folder).constData());
    if (!directory) {
        const int error = errno;
        if (error == ENOENT) {
            m_summaries.clear();
            stopWatching();
            return {};
        }
        if (error == ENOTDIR)
            throw FileSystemError(notAFolder(m_folder));
        throw FileSystemError(
            text(QStringLiteral("无法读取文件夹“%1”：%2"), QStringLiteral("Couldn't read the folder “%1”: %2"))
                .arg(QDir::toNativeSeparators(m_folder), QuillomareCore::Files::reason(error)));
    }
    // A pass that finds nothing new costs one read of the folder's change events; a full look
    // costs one look at each name and one stat per record file: names are looked up as the
    // directory gives them, without decoding.
    const int folderDescriptor = ::dirfd(directory);
    ++m_scan;
    auto observeName = [&](std::string_view name) {
        auto it = m_summaries.find(name);
        if (it == m_summaries.end()) {
            Summary fresh;
            fresh.isOurs = recordName(QFile::decodeName(QByteArray(name.data(), qsizetype(name.size())))).has_value();
            it = m_summaries.emplace(std::string(name), std::move(fresh)).first;
        }
        Summary& summary = it->second;
        summary.scan = m_scan;
        if (!summary.isOurs)
            return;
        struct stat status = {};
        observe(status, ::fstatat(folderDescriptor, it->first.c_str(), &status, AT_SYMLINK_NOFOLLOW) == 0, summary);
    };
    std::vector<std::string> changedNames;
    const bool onlyChanged = takeChangedNames(changedNames);
    QSet<QString> interruptedSaves;
    if (onlyChanged) {
        for (const std::string& name : changedNames) {
            observeName(name);
            auto it = m_summaries.find(std::string_view(name));
            if (it != m_summaries.end() && it->second.isOurs && !it->second.isRegular)
                m_summaries.erase(it); // gone (or no longer a file)
        }
    } else {
        while (const dirent* entry = ::readdir(directory)) {
            const std::string_view name(entry->d_name);
            if (name.starts_with('.')) {
                // ".<file>.saving-XXXXXX": a save of this program that was killed half-way.
                const QString decoded = QFile::decodeName(entry->d_name);
                if (const qsizetype infix = decoded.lastIndexOf(kSavingInfix); infix > 1)
                    interruptedSaves.insert(decoded.mid(1, infix - 1));
                continue;
            }
            observeName(name);
        }
    }
    ::closedir(directory);
    for (const QString& name : std::as_const(interruptedSaves))
        QuillomareCore::Files::removeLeftoverTemporaryFiles(m_folder + QLatin1Char('/') + name);
    if (!onlyChanged)
        std::erase_if(m_summaries, [&](const auto& entry) { return entry.second.scan != m_scan; });

    struct Candidate
    {
        const std::string* fileName;
        Summary* summary;
    };
    std::vector<Candidate> candidates;
    CloudFetch fetch;
    for (auto& [name, summary] : m_summaries) {
        if (!summary.isOurs || !summary.isRegular || summary.delivered)
            continue;
        if (!summary.checked && !check(name, summary))
            ++fetch.rejectedCount;
        if (summary.isRecord && recordTypes.contains(summary.recordType))
            candidates.push_back({&name, &summary});
        else if (summary.checked)
            summary.delivered = true; // no record of these types: nothing to hand out until it changes
    }
    // The latest arrivals first, by the local clock alone: what a record says of itself ranks
    // nothing, so records claiming to be new cannot push aside those that really came later.
    std::sort(candidates.begin(), candidates.end(), [](const Candidate& a, const Candidate& b) {
        if (a.summary->arrivalDate != b.summary->arrivalDate)
            return a.summary->arrivalDate > b.summary->arrivalDate;
        return *a.fileName < *b.fileName;
    });

    const qsizetype taken = std::min<qsizetype>(qsizetype(candidates.size()), limit);
    for (qsizetype index = 0; index < taken; ++index) {
        const Candidate& candidate = candidates[size_t(index)];
        // Only the records taken are marked: those past the limit stay pending for the next passes.
        candidate.summary->delivered = true;
        // Read again: only the few taken are held whole, and a peer may have replaced one since
        // (the next pass then sees it as changed).
        auto record = read(QFile::decodeName(QByteArray::fromStdString(*candidate.fileName)));
        if (record && recordTypes.contains(record->recordType)) {
            record->arrivalDate = candidate.summary->arrivalDate;
            fetch.records.append(std::move(*record));
        }
    }
    fetch.pendingCount = qsizetype(candidates.size()) - taken;
    return fetch;
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
        const QByteArray encoded = QFile::encodeName(name);
        m_summaries.erase(std::string(encoded.constData(), size_t(encoded.size())));
    }
}

} // namespace Platform
