#include "ClipboardItem.h"

#include "ClipSettings.h"
#include "Coding.h"
#include "Errors.h"
#include "Foundation.h"
#include "Json.h"
#include "Language.h"
#include "StoredImage.h"

namespace QuillomareCore {

// --- ClipKind

const std::array<ClipKind, 5>& ClipKind::allCases()
{
    static constexpr std::array<ClipKind, 5> cases{text, url, file, image, unknown};
    return cases;
}

std::optional<ClipKind> ClipKind::fromRawValue(QStringView rawValue)
{
    for (ClipKind kind : allCases()) {
        if (rawValue == kind.rawValue())
            return kind;
    }
    return std::nullopt;
}

QString ClipKind::rawValue() const
{
    switch (m_value) {
    case text:
        return QStringLiteral("text");
    case url:
        return QStringLiteral("url");
    case file:
        return QStringLiteral("file");
    case image:
        return QStringLiteral("image");
    case unknown:
        break;
    }
    return QStringLiteral("unknown");
}

bool ClipKind::isRichContent() const
{
    return m_value == file || m_value == image;
}

QString ClipKind::localizedName() const
{
    switch (m_value) {
    case text:
        return QStringLiteral("文本");
    case url:
        return QStringLiteral("链接");
    case file:
        return QStringLiteral("文件");
    case image:
        return QStringLiteral("图片");
    case unknown:
        break;
    }
    return QStringLiteral("剪贴");
}

QString ClipKind::searchText() const
{
    switch (m_value) {
    case text:
        return QStringLiteral("text plain 文本 内容");
    case url:
        return QStringLiteral("url link website 链接 网址");
    case file:
        return QStringLiteral("file folder path 文件 路径");
    case image:
        return QStringLiteral("image photo picture 图片 照片");
    case unknown:
        break;
    }
    return QStringLiteral("unknown clip clipboard 剪贴 剪贴板");
}

// --- ClipSourcePlatform

const std::array<ClipSourcePlatform, 3>& ClipSourcePlatform::allCases()
{
    static constexpr std::array<ClipSourcePlatform, 3> cases{mac, iphone, unknown};
    return cases;
}

std::optional<ClipSourcePlatform> ClipSourcePlatform::fromRawValue(QStringView rawValue)
{
    for (ClipSourcePlatform platform : allCases()) {
        if (rawValue == platform.rawValue())
            return platform;
    }
    return std::nullopt;
}

QString ClipSourcePlatform::rawValue() const
{
    switch (m_value) {
    case mac:
        return QStringLiteral("mac");
    case iphone:
        return QStringLiteral("iphone");
    case unknown:
        break;
    }
    return QStringLiteral("unknown");
}

QString ClipSourcePlatform::displayName() const
{
    switch (m_value) {
    case mac:
        return QStringLiteral("Mac");
    case iphone:
        return QStringLiteral("iPhone");
    case unknown:
        break;
    }
    return QStringLiteral("未知设备");
}

QString ClipSourcePlatform::searchText() const
{
    switch (m_value) {
    // The stored names, older words, and what rows, filters and the inspector show in either
    // language.
    case mac:
        return QStringLiteral("mac macos 电脑 本机 this computer");
    case iphone:
        return QStringLiteral("iphone ios 手机 phone");
    case unknown:
        break;
    }
    return QStringLiteral("unknown 未知设备 unknown device");
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
    payload.m_value = Image{std::move(png), nullptr};
    return payload;
}

ClipboardPayload ClipboardPayload::storedImagePNG(std::shared_ptr<const StoredImageText> stored)
{
    ClipboardPayload payload;
    payload.m_value = Image{QByteArray(), std::move(stored)};
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
        if (aPlace.file == bPlace.file && aPlace.offset == bPlace.offset)
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
    switch (kind) {
    case ClipKind::text:
        return QStringLiteral("Text");
    case ClipKind::url:
        return QStringLiteral("Link");
    case ClipKind::file:
        return QStringLiteral("File");
    case ClipKind::image:
        return QStringLiteral("Image");
    case ClipKind::unknown:
        break;
    }
    return QStringLiteral("Clip");
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

QString ClipboardItem::payloadTooLargeDescription(bool image, qint64 size, bool sizeIsExact)
{
    const QString sizeText = (sizeIsExact ? QString() : QStringLiteral("> ")) + formattedBytes(size);
    const QString limit = formattedBytes(image ? ClipDefaults::maxImagePayloadBytes : ClipDefaults::maxTextPayloadBytes);
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
        item.payload = PayloadCoding::decode(*member, source, item.contentHash);

    return item;
}

// --- ClipKindFilter

const std::array<ClipKindFilter, 5>& ClipKindFilter::allCases()
{
    static constexpr std::array<ClipKindFilter, 5> cases{all, text, url, file, image};
    return cases;
}

std::optional<ClipKindFilter> ClipKindFilter::fromRawValue(int rawValue)
{
    if (rawValue < all || rawValue > image)
        return std::nullopt;
    return ClipKindFilter(static_cast<Value>(rawValue));
}

QString ClipKindFilter::title() const
{
    switch (m_value) {
    case all:
        return QStringLiteral("全部");
    case text:
        return QStringLiteral("文本");
    case url:
        return QStringLiteral("链接");
    case file:
        return QStringLiteral("文件");
    case image:
        return QStringLiteral("图片");
    }
    return {};
}

bool ClipKindFilter::matches(const ClipboardItem& item) const
{
    switch (m_value) {
    case all:
        return true;
    case text:
        return item.kind == ClipKind::text;
    case url:
        return item.kind == ClipKind::url;
    case file:
        return item.kind == ClipKind::file;
    case image:
        return item.kind == ClipKind::image;
    }
    return false;
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
                    // Only a file that ends before the text loses it; any other failed read
                    // fails this save alone, and the entry is written by a later one.
                    if (!place.file || endedEarly)
                        stored->markDamaged(error);
                    throw FileSystemError(unreadableImageText(error));
                }
                // Text damaged in the file since it was loaded is never written on as if whole.
                const std::string_view text(into, static_cast<size_t>(size));
                const bool last = from + size == place.length;
                if (!Base64Text::isValid(text) || (!last && text.ends_with('='))) {
                    stored->markDamaged(
                        Language::text(QStringLiteral("图片数据已损坏"), QStringLiteral("its data is damaged")));
                    throw FileSystemError(unreadableImageText(stored->damage()));
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
                                       const QString& contentHash)
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
                isImageContentHash(contentHash) ? contentHash : QString());
            return ClipboardPayload::storedImagePNG(std::shared_ptr<const StoredImageText>(std::move(stored)));
        }
    }
    return ClipboardPayload::imagePNG(Coding::decodeData(*associated, "imagePNG"));
}

} // namespace QuillomareCore
