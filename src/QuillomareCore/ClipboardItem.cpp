#include "ClipboardItem.h"

#include "ClipSettings.h"
#include "Coding.h"
#include "Errors.h"
#include "Foundation.h"
#include "Hashing.h"
#include "Json.h"
#include "Language.h"
#include "StoredImage.h"

#include <QLocale>

namespace QuillomareCore {

namespace {

// Each enum's names in one row per case, in the order of the enum's values. A kind's or a
// platform's last row is its `unknown`, which a value without a row of its own reads as.
struct ClipKindNames
{
    ClipKind::Value value;
    QStringView rawValue;
    QStringView localizedName;
    QStringView displayTitle;
    QStringView searchText;
};

constexpr std::array<ClipKindNames, 5> kClipKindNames{{
    {ClipKind::text, u"text", u"文本", u"Text", u"text plain 文本 内容"},
    {ClipKind::url, u"url", u"链接", u"Link", u"url link website 链接 网址"},
    {ClipKind::file, u"file", u"文件", u"File", u"file folder path 文件 路径"},
    {ClipKind::image, u"image", u"图片", u"Image", u"image photo picture 图片 照片"},
    {ClipKind::unknown, u"unknown", u"剪贴", u"Clip", u"unknown clip clipboard 剪贴 剪贴板"},
}};

struct ClipSourcePlatformNames
{
    ClipSourcePlatform::Value value;
    QStringView rawValue;
    QStringView displayName;
    // The stored names, older words, and what rows, filters and the inspector show in either
    // language.
    QStringView searchText;
};

constexpr std::array<ClipSourcePlatformNames, 3> kClipSourcePlatformNames{{
    {ClipSourcePlatform::mac, u"mac", u"Mac", u"mac macos 电脑 本机 this computer"},
    {ClipSourcePlatform::iphone, u"iphone", u"iPhone", u"iphone ios 手机 phone"},
    {ClipSourcePlatform::unknown, u"unknown", u"未知设备", u"unknown 未知设备 unknown device"},
}};

// A filter of one kind shows that kind's name; "all" has none.
struct ClipKindFilterRow
{
    ClipKindFilter::Value value;
    std::optional<ClipKind> kind;
};

constexpr std::array<ClipKindFilterRow, 5> kClipKindFilterRows{{
    {ClipKindFilter::all, std::nullopt},
    {ClipKindFilter::text, ClipKind::text},
    {ClipKindFilter::url, ClipKind::url},
    {ClipKindFilter::file, ClipKind::file},
    {ClipKindFilter::image, ClipKind::image},
}};

template <typename Row, size_t N> constexpr bool inValueOrder(const std::array<Row, N>& table)
{
    for (size_t i = 0; i < N; ++i) {
        if (size_t(table[i].value) != i)
            return false;
    }
    return true;
}
static_assert(inValueOrder(kClipKindNames) && inValueOrder(kClipSourcePlatformNames) &&
              inValueOrder(kClipKindFilterRows));

template <typename Row, size_t N> const Row* findRow(const std::array<Row, N>& table, size_t value)
{
    return value < N ? &table[value] : nullptr;
}

template <typename Row, size_t N> const Row& rowOrUnknown(const std::array<Row, N>& table, size_t value)
{
    const Row* row = findRow(table, value);
    return row ? *row : table.back();
}

template <typename Enum, typename Row, size_t N> constexpr std::array<Enum, N> casesOf(const std::array<Row, N>& table)
{
    std::array<Enum, N> cases;
    std::transform(table.begin(), table.end(), cases.begin(), [](const Row& row) { return Enum(row.value); });
    return cases;
}

template <typename Enum, typename Row, size_t N>
std::optional<Enum> fromRawText(const std::array<Row, N>& table, QStringView rawValue)
{
    const auto found =
        std::find_if(table.begin(), table.end(), [&](const Row& row) { return rawValue == row.rawValue; });
    return found != table.end() ? std::optional<Enum>(found->value) : std::nullopt;
}

// The table's text without a copy: it lives as long as the program.
QString staticText(QStringView text)
{
    return QString::fromRawData(text.data(), text.size());
}

} // namespace

// --- ClipKind

const std::array<ClipKind, 5>& ClipKind::allCases()
{
    static constexpr auto cases = casesOf<ClipKind>(kClipKindNames);
    return cases;
}

std::optional<ClipKind> ClipKind::fromRawValue(QStringView rawValue)
{
    return fromRawText<ClipKind>(kClipKindNames, rawValue);
}

QString ClipKind::rawValue() const
{
    return staticText(rowOrUnknown(kClipKindNames, m_value).rawValue);
}

bool ClipKind::isRichContent() const
{
    return m_value == file || m_value == image;
}

QString ClipKind::localizedName() const
{
    return staticText(rowOrUnknown(kClipKindNames, m_value).localizedName);
}

QString ClipKind::displayTitle() const
{
    return staticText(rowOrUnknown(kClipKindNames, m_value).displayTitle);
}

QString ClipKind::searchText() const
{
    return staticText(rowOrUnknown(kClipKindNames, m_value).searchText);
}

// --- ClipSourcePlatform

const std::array<ClipSourcePlatform, 3>& ClipSourcePlatform::allCases()
{
    static constexpr auto cases = casesOf<ClipSourcePlatform>(kClipSourcePlatformNames);
    return cases;
}

std::optional<ClipSourcePlatform> ClipSourcePlatform::fromRawValue(QStringView rawValue)
{
    return fromRawText<ClipSourcePlatform>(kClipSourcePlatformNames, rawValue);
}

QString ClipSourcePlatform::rawValue() const
{
    return staticText(rowOrUnknown(kClipSourcePlatformNames, m_value).rawValue);
}

QString ClipSourcePlatform::displayName() const
{
    return staticText(rowOrUnknown(kClipSourcePlatformNames, m_value).displayName);
}

QString ClipSourcePlatform::searchText() const
{
    return staticText(rowOrUnknown(kClipSourcePlatformNames, m_value).searchText);
}

// --- ClipboardPayload

ClipboardPayload ClipboardPayload::text(QString text)
{
    ClipboardPayload payload;
    payload.m_value = std::move(text);
    return payload;
}

ClipboardPayload ClipboardPayload::fileURLs(QStringList paths)
{
    ClipboardPayload payload;
    payload.m_value = std::move(paths);
    return payload;
}

ClipboardPayload ClipboardPayload::imagePNG(QByteArray png)
{
    ClipboardPayload payload;
    payload.m_value = Image{std::move(png), nullptr, QString()};
    return payload;
}

ClipboardPayload ClipboardPayload::hashedImagePNG(QByteArray png)
{
    ClipboardPayload payload;
    QString hash = ClipHashing::imageContentHash(png);
    payload.m_value = Image{std::move(png), nullptr, std::move(hash)};
    return payload;
}

QString ClipboardPayload::imagePNGContentHash() const
{
    const auto* image = std::get_if<Image>(&m_value);
    return image && !image->stored ? image->contentHash : QString();
}

ClipboardPayload ClipboardPayload::storedImagePNG(std::shared_ptr<const StoredImageText> stored)
{
    ClipboardPayload payload;
    payload.m_value = Image{QByteArray(), std::move(stored), QString()};
    return payload;
}

bool ClipboardPayload::Image::operator==(const Image& other) const
{
    const Image& a = *this;
    const Image& b = other;
    if (a.stored && b.stored) {
        if (a.stored == b.stored)
            return true;
        const auto aPlace = a.stored->place(), bPlace = b.stored->place();
        if (aPlace.file == bPlace.file && aPlace.layout == bPlace.layout && aPlace.offset == bPlace.offset)
            return true;
        if (a.stored->byteCount != b.stored->byteCount || a.stored->head != b.stored->head)
            return false;
    }
    const QByteArray left = a.stored ? a.stored->load(nullptr).value_or(QByteArray()) : a.bytes;
    const QByteArray right = b.stored ? b.stored->load(nullptr).value_or(QByteArray()) : b.bytes;
    return left == right;
}

bool operator==(const ClipboardItem& a, const ClipboardItem& b)
{
    if (!(a.id == b.id && a.createdAt == b.createdAt && a.kind == b.kind && a.preview == b.preview &&
          a.contentHash == b.contentHash && a.sourceAppName == b.sourceAppName &&
          a.sourceBundleIdentifier == b.sourceBundleIdentifier && a.sourcePlatform == b.sourcePlatform &&
          a.isSensitive == b.isSensitive && a.isLocalOnly == b.isLocalOnly && a.isPinned == b.isPinned))
        return false;
    if (!a.contentHash.isEmpty() && a.payload.isImagePNG() && b.payload.isImagePNG())
        return a.payload.imagePNGByteCount() == b.payload.imagePNGByteCount();
    return a.payload == b.payload;
}

QString ClipboardPayload::textValue() const
{
    if (const auto* value = std::get_if<QString>(&m_value))
        return *value;
    return {};
}

QStringList ClipboardPayload::fileURLsValue() const
{
    if (const auto* value = std::get_if<QStringList>(&m_value))
        return *value;
    return {};
}

QByteArray ClipboardPayload::imagePNGValue() const
{
    return loadImagePNG().value_or(QByteArray());
}

std::optional<QByteArray> ClipboardPayload::loadImagePNG(QString* error) const
{
    const auto* image = std::get_if<Image>(&m_value);
    if (!image)
        return QByteArray();
    if (image->stored)
        return image->stored->load(error);
    return image->bytes;
}

qsizetype ClipboardPayload::imagePNGByteCount() const
{
    const auto* image = std::get_if<Image>(&m_value);
    if (!image)
        return 0;
    return image->stored ? image->stored->byteCount : image->bytes.size();
}

QByteArray ClipboardPayload::imagePNGHead(qsizetype count) const
{
    const auto* image = std::get_if<Image>(&m_value);
    if (!image)
        return {};
    if (!image->stored)
        return image->bytes.left(count);
    if (count <= image->stored->head.size() || image->stored->head.size() == image->stored->byteCount)
        return image->stored->head.left(count);
    return imagePNGValue().left(count);
}

std::shared_ptr<const StoredImageText> ClipboardPayload::storedImageText() const
{
    const auto* image = std::get_if<Image>(&m_value);
    return image ? image->stored : nullptr;
}

namespace {
qint64 utf8ByteCount(const QString& text);

// A UTF-16 unit takes one to three UTF-8 bytes: most texts are decided without counting.
bool textExceeds(const QString& text, qint64 limit)
{
    if (text.size() > limit)
        return true;
    if (text.size() * 3 <= limit)
        return false;
    return utf8ByteCount(text) > limit;
}
} // namespace

bool ClipboardPayload::exceedsLocalHistoryLimits() const
{
    if (isText())
        return textExceeds(std::get<QString>(m_value), ClipDefaults::maxTextPayloadBytes);
    return isImagePNG() && imagePNGByteCount() > ClipDefaults::maxImagePayloadBytes;
}

namespace {
qint64 utf8ByteCount(const QString& text)
{
    // Counts UTF-8 bytes without building the encoded text.
    qint64 bytes = 0;
    const qsizetype n = text.size();
    for (qsizetype i = 0; i < n; ++i) {
        const char16_t c = text.at(i).unicode();
        if (c < 0x80)
            bytes += 1;
        else if (c < 0x800)
            bytes += 2;
        else if (QChar::isHighSurrogate(c) && i + 1 < n && QChar::isLowSurrogate(text.at(i + 1).unicode())) {
            bytes += 4;
            ++i;
        } else
            bytes += 3; // lone surrogates encode as U+FFFD, three bytes
    }
    return bytes;
}
} // namespace

bool ClipboardPayload::exceedsCloudExportLimits() const
{
    switch (caseOf()) {
    case Case::text:
        return textExceeds(std::get<QString>(m_value), ClipDefaults::maxCloudTextPayloadBytes);
    case Case::fileURLs:
        return utf8ByteCount(std::get<QStringList>(m_value).join(QLatin1Char('\n'))) >
               ClipDefaults::maxCloudTextPayloadBytes;
    case Case::imagePNG:
        return imagePNGByteCount() > ClipDefaults::maxCloudBinaryPayloadBytes;
    case Case::empty:
        break;
    }
    return false;
}

// --- ClipboardItem

QString ClipboardItem::displayTitle() const
{
    return kind.displayTitle();
}

bool ClipboardItem::isCloudExportable(const ClipSettings& settings) const
{
    return isCloudExportable(settings.syncRichContentToICloud);
}

bool ClipboardItem::isCloudExportable(bool syncRichContentToICloud) const
{
    if (contentHash.isEmpty() || isSensitive || isLocalOnly || payload.exceedsCloudExportLimits())
        return false;
    return !kind.isRichContent() || syncRichContentToICloud;
}

bool ClipboardItem::shouldKeepLocalOnlyForCloud(ClipKind kind, const ClipSettings& settings)
{
    return kind.isRichContent() && !settings.syncRichContentToICloud;
}

bool ClipboardItem::shouldKeepLocalOnlyForCloud(ClipKind kind, const ClipboardPayload& payload,
                                                const ClipSettings& settings)
{
    return shouldKeepLocalOnlyForCloud(kind, settings) || payload.exceedsCloudExportLimits();
}

std::optional<QString> ClipboardItem::payloadLimitFailureDescription() const
{
    if (!payload.exceedsLocalHistoryLimits())
        return std::nullopt;
    if (payload.isText())
        return payloadTooLargeDescription(false, utf8ByteCount(payload.textValue()));
    return payloadTooLargeDescription(true, payload.imagePNGByteCount());
}

namespace {

// "33,554,433 bytes" / "33,554,433 字节": every digit, grouped by thousands in both languages.
QString exactByteCount(qint64 bytes)
{
    const QString digits = QLocale(QLocale::English, QLocale::UnitedStates).toString(bytes);
    return Language::text(digits + QStringLiteral(" 字节"), digits + QStringLiteral(" bytes"));
}

} // namespace

QString ClipboardItem::payloadTooLargeDescription(bool image, qint64 size, bool sizeIsExact)
{
    const qint64 limitBytes = image ? ClipDefaults::maxImagePayloadBytes : ClipDefaults::maxTextPayloadBytes;
    QString sizeFigure = formattedBytes(size);
    QString limit = formattedBytes(limitBytes);
    // Just over the limit, the two would read alike ("33.6 MB, limit 33.6 MB"): then only every
    // byte tells them apart.
    if (sizeFigure == limit) {
        sizeFigure = exactByteCount(size);
        limit = exactByteCount(limitBytes);
    }
    const QString sizeText = (sizeIsExact ? QString() : QStringLiteral("> ")) + sizeFigure;
    if (image)
        return Language::text(QStringLiteral("图片过大，未写入历史（%1，上限 %2）"),
                              QStringLiteral("Image too large, not saved (%1, limit %2)"))
            .arg(sizeText, limit);
    return Language::text(QStringLiteral("文本过大，未写入历史（%1，上限 %2）"),
                          QStringLiteral("Text too large, not saved (%1, limit %2)"))
        .arg(sizeText, limit);
}

QString ClipboardItem::formattedBytes(qint64 byteCount)
{
    return Text::formatByteCount(byteCount);
}

std::optional<QString> ClipboardItem::plainTextRepresentation() const
{
    switch (payload.caseOf()) {
    case ClipboardPayload::Case::text: {
        QString text = payload.textValue();
        if (text.isEmpty())
            return std::nullopt;
        return text;
    }
    case ClipboardPayload::Case::fileURLs: {
        QStringList paths;
        for (const QString& path : payload.fileURLsValue()) {
            const QString trimmed = Text::trimmed(path);
            if (!trimmed.isEmpty())
                paths.append(trimmed);
        }
        if (paths.isEmpty())
            return std::nullopt;
        return paths.join(QLatin1Char('\n'));
    }
    case ClipboardPayload::Case::imagePNG:
    case ClipboardPayload::Case::empty:
        break;
    }
    return std::nullopt;
}

void ClipboardItem::encode(Json::Writer& writer) const
{
    // Keys in plain text order: the file is written with sorted keys.
    writer.beginObject();
    writer.key("contentHash");
    writer.string(contentHash);
    writer.key("createdAt");
    writer.string(Iso8601::format(createdAt));
    writer.key("id");
    writer.string(Uuid::text(id));
    writer.key("isLocalOnly");
    writer.boolean(isLocalOnly);
    writer.key("isPinned");
    writer.boolean(isPinned);
    writer.key("isSensitive");
    writer.boolean(isSensitive);
    writer.key("kind");
    writer.string(kind.rawValue());
    writer.key("payload");
    PayloadCoding::encode(writer, payload);
    writer.key("preview");
    writer.string(preview);
    if (sourceAppName) {
        writer.key("sourceAppName");
        writer.string(*sourceAppName);
    }
    if (sourceBundleIdentifier) {
        writer.key("sourceBundleIdentifier");
        writer.string(*sourceBundleIdentifier);
    }
    writer.key("sourcePlatform");
    writer.string(sourcePlatform.rawValue());
    writer.endObject();
}

namespace Coding {

QUuid decodeUuid(const Json::Value& value, const char* what)
{
    const QString text = value.toString(what);
    const auto uuid = Uuid::fromText(text);
    if (!uuid)
        throw DecodingError(QStringLiteral("Attempted to decode UUID from invalid UUID string: %1").arg(text));
    return *uuid;
}

QDateTime decodeDate(const Json::Value& value, const char* what)
{
    if (auto raw = value.rawString()) {
        if (auto date = Iso8601::parse(*raw))
            return *date;
    }
    const QString text = value.toString(what);
    if (auto date = Iso8601::parse(QStringView(text)))
        return *date;
    throw DecodingError(QStringLiteral("Invalid ISO8601 date: ") + text);
}

QByteArray decodeData(const Json::Value& value, const char* what)
{
    if (value.type() != Json::Type::String)
        throw DecodingError(QStringLiteral("Expected to decode Data for %1 but found %2 instead.")
                                .arg(QLatin1String(what), QLatin1String(Json::Value::typeName(value.type()))));
    const auto raw = value.rawString();
    const auto bytes = raw ? Base64::decode(*raw) : Base64::decode(value.toString(what).toStdString());
    if (!bytes)
        throw DecodingError(QStringLiteral("Encountered Data is not valid Base64."));
    return *bytes;
}

} // namespace Coding

ClipboardItem ClipboardItem::decode(const Json::Value& value)
{
    return decode(value, nullptr);
}

ClipboardItem ClipboardItem::decode(const Json::Value& value, const ImageTextSource* source)
{
    value.requireObject("ClipboardItem");
    ClipboardItem item;

    if (auto member = value.presentMember("id"))
        item.id = Coding::decodeUuid(*member, "id");
    else
        item.id = QUuid::createUuid();

    if (auto member = value.presentMember("createdAt"))
        item.createdAt = Coding::decodeDate(*member, "createdAt");
    else
        item.createdAt = Clock::now();

    if (auto member = value.presentMember("kind")) {
        const QString raw = member->toString("kind");
        const auto kind = ClipKind::fromRawValue(raw);
        if (!kind)
            throw DecodingError(QStringLiteral("Cannot initialize ClipKind from invalid String value %1").arg(raw));
        item.kind = *kind;
    }

    if (auto member = value.presentMember("preview"))
        item.preview = member->toString("preview");

    if (auto member = value.presentMember("contentHash"))
        item.contentHash = member->toString("contentHash");
    else
        item.contentHash = item.preview;

    if (auto member = value.presentMember("sourceAppName"))
        item.sourceAppName = member->toString("sourceAppName");
    if (auto member = value.presentMember("sourceBundleIdentifier"))
        item.sourceBundleIdentifier = member->toString("sourceBundleIdentifier");

    if (auto member = value.presentMember("sourcePlatform")) {
        const QString raw = member->toString("sourcePlatform");
        const auto platform = ClipSourcePlatform::fromRawValue(raw);
        if (!platform)
            throw DecodingError(
                QStringLiteral("Cannot initialize ClipSourcePlatform from invalid String value %1").arg(raw));
        item.sourcePlatform = *platform;
    }

    if (auto member = value.presentMember("isSensitive"))
        item.isSensitive = member->toBool("isSensitive");
    if (auto member = value.presentMember("isLocalOnly"))
        item.isLocalOnly = member->toBool("isLocalOnly");
    if (auto member = value.presentMember("isPinned"))
        item.isPinned = member->toBool("isPinned");

    if (auto member = value.presentMember("payload"))
        item.payload = PayloadCoding::decode(*member, source, item.contentHash, item.id);

    return item;
}

// --- ClipKindFilter

const std::array<ClipKindFilter, 5>& ClipKindFilter::allCases()
{
    static constexpr auto cases = casesOf<ClipKindFilter>(kClipKindFilterRows);
    return cases;
}

std::optional<ClipKindFilter> ClipKindFilter::fromRawValue(int rawValue)
{
    const ClipKindFilterRow* row = rawValue < 0 ? nullptr : findRow(kClipKindFilterRows, size_t(rawValue));
    return row ? std::optional<ClipKindFilter>(row->value) : std::nullopt;
}

QString ClipKindFilter::title() const
{
    const ClipKindFilterRow* row = findRow(kClipKindFilterRows, m_value);
    if (!row)
        return {};
    return row->kind ? row->kind->localizedName() : QStringLiteral("全部");
}

bool ClipKindFilter::matches(const ClipboardItem& item) const
{
    const ClipKindFilterRow* row = findRow(kClipKindFilterRows, m_value);
    return row && (!row->kind || item.kind == *row->kind);
}

qsizetype ClipKindFilter::count(const QList<ClipboardItem>& items) const
{
    return std::count_if(items.begin(), items.end(), [this](const ClipboardItem& item) { return matches(item); });
}

// --- Payload coding

void PayloadCoding::encode(Json::Writer& writer, const ClipboardPayload& payload)
{
    writer.beginObject();
    switch (payload.caseOf()) {
    case ClipboardPayload::Case::text:
        writer.key("text");
        writer.beginObject();
        writer.key("_0");
        writer.string(payload.textValue());
        writer.endObject();
        break;
    case ClipboardPayload::Case::fileURLs:
        writer.key("fileURLs");
        writer.beginObject();
        writer.key("_0");
        writer.beginArray();
        for (const QString& path : payload.fileURLsValue())
            writer.string(path);
        writer.endArray();
        writer.endObject();
        break;
    case ClipboardPayload::Case::imagePNG:
        writer.key("imagePNG");
        writer.beginObject();
        writer.key("_0");
        if (const auto stored = payload.storedImageText()) {
            // The text as the file holds it: an image is encoded once, at its first save.
            if (stored->isDamaged())
                throw FileSystemError(unreadableImageText(stored->damage()));
            const StoredImageText::Place place = stored->place();
            writer.copiedBase64(place.length, [&](qint64 from, char* into, qint64 size) {
                QString error;
                bool endedEarly = false;
                if (!place.file || !place.file->read(place.offset + from, into, size, &error, &endedEarly)) {
                    // Only a file that ends before the text loses it (unless another program
                    // wrote into it meanwhile: the text may lie elsewhere now); any other failed
                    // read fails this save alone, and the entry is written by a later one.
                    if (!place.file)
                        stored->markDamaged(error);
                    else if (endedEarly)
                        stored->markDamagedAt(place, error);
                    throw FileSystemError(unreadableImageText(error));
                }
                // Text damaged in the file since it was loaded is never written on as if whole.
                const std::string_view text(into, static_cast<size_t>(size));
                const bool last = from + size == place.length;
                if (!Base64Text::isValid(text) || (!last && text.ends_with('='))) {
                    const QString damaged =
                        Language::text(QStringLiteral("图片数据已损坏"), QStringLiteral("its data is damaged"));
                    stored->markDamagedAt(place, damaged);
                    throw FileSystemError(unreadableImageText(stored->isDamaged() ? stored->damage() : damaged));
                }
            });
        } else {
            writer.base64(payload.imagePNGValue());
        }
        writer.endObject();
        break;
    case ClipboardPayload::Case::empty:
        writer.key("empty");
        writer.emptyObject();
        break;
    }
    writer.endObject();
}

ClipboardPayload PayloadCoding::decode(const Json::Value& value, const ImageTextSource* source,
                                       const QString& contentHash, const QUuid& entryId)
{
    value.requireObject("ClipboardPayload");
    static constexpr std::array<const char*, 4> caseKeys{"text", "fileURLs", "imagePNG", "empty"};
    const char* found = nullptr;
    Json::Value inner = value;
    int foundCount = 0;
    for (const char* key : caseKeys) {
        if (auto member = value.member(key)) {
            ++foundCount;
            found = key;
            inner = *member;
        }
    }
    if (foundCount != 1)
        throw DecodingError(QStringLiteral("Invalid number of keys found, expected one."));

    const std::string_view key(found);
    if (key == "empty")
        return ClipboardPayload::empty();

    inner.requireObject(found);
    const auto associated = inner.presentMember("_0");
    if (!associated)
        throw DecodingError(QStringLiteral("No value associated with key \"_0\" of %1.").arg(QLatin1String(found)));

    if (key == "text")
        return ClipboardPayload::text(associated->toString("text"));
    if (key == "fileURLs") {
        associated->requireArray("fileURLs");
        QStringList paths;
        paths.reserve(associated->arraySize());
        associated->forEachElement([&](const Json::Value& element) { paths.append(element.toString("fileURLs")); });
        return ClipboardPayload::fileURLs(std::move(paths));
    }
    if (source && source->file) {
        // Checked now, decoded when something needs the image.
        if (const auto raw = associated->rawString()) {
            if (!associated->holdsBase64Text())
                throw DecodingError(QStringLiteral("Encountered Data is not valid Base64."));
            // Whole groups of four letters, or the whole (checked) text when it is that short.
            const size_t headText = std::min<size_t>(raw->size(), StoredImageText::headByteCount / 3 * 4);
            auto stored = std::make_shared<StoredImageText>(
                StoredImageText::Place{source->file, raw->data() - source->data, static_cast<qint64>(raw->size())},
                Base64Text::decodedSize(*raw), Base64::decode(raw->substr(0, headText)).value_or(QByteArray()),
                isImageContentHash(contentHash) ? contentHash : QString(), entryId);
            return ClipboardPayload::storedImagePNG(std::shared_ptr<const StoredImageText>(std::move(stored)));
        }
    }
    return ClipboardPayload::imagePNG(Coding::decodeData(*associated, "imagePNG"));
}

} // namespace QuillomareCore
