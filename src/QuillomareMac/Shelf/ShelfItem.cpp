#include "ShelfItem.h"

#include "Pasteboard/MacFileContent.h"

#include <QuillomareCore/Coding.h>
#include <QuillomareCore/Foundation.h>
#include <QuillomareCore/Json.h>
#include <QuillomareCore/Language.h>

#include <QFileInfo>
#include <QImage>

namespace QuillomareMac {

using namespace QuillomareCore;

namespace {

Json::Value required(const Json::Value& object, const char* key)
{
    const auto member = object.member(key);
    if (!member)
        throw DecodingError(QStringLiteral("No value associated with key \"%1\".").arg(QLatin1String(key)));
    return *member;
}

void writeDate(Json::Writer& writer, const QDateTime& date)
{
    writer.string(ShelfDates::format(date));
}

QDateTime readDate(const Json::Value& object, const char* key)
{
    return Coding::decodeDate(required(object, key), key);
}

} // namespace

// MARK: - ShelfDates

namespace ShelfDates {

QDateTime now()
{
    const QDateTime date = Clock::now();
    return date.addMSecs(-date.time().msec());
}

QString format(const QDateTime& date)
{
    return Iso8601::clamped(date).toUTC().toString(QStringLiteral("yyyy-MM-dd'T'HH:mm:ss'Z'"));
}

} // namespace ShelfDates

// MARK: - ShelfPayload

ShelfPayload ShelfPayload::fileURLs(QStringList paths)
{
    ShelfPayload payload;
    payload.m_value.emplace<0>(std::move(paths));
    return payload;
}

ShelfPayload ShelfPayload::url(QString url)
{
    ShelfPayload payload;
    payload.m_value.emplace<1>(std::move(url));
    return payload;
}

ShelfPayload ShelfPayload::text(QString text)
{
    ShelfPayload payload;
    payload.m_value.emplace<2>(std::move(text));
    return payload;
}

ShelfPayload ShelfPayload::imagePNG(QByteArray png)
{
    ShelfPayload payload;
    payload.m_value.emplace<3>(std::move(png));
    return payload;
}

QStringList ShelfPayload::fileURLsValue() const
{
    return isFileURLs() ? std::get<0>(m_value) : QStringList();
}

QString ShelfPayload::urlValue() const
{
    return isURL() ? std::get<1>(m_value) : QString();
}

QString ShelfPayload::textValue() const
{
    return isText() ? std::get<2>(m_value) : QString();
}

QByteArray ShelfPayload::imagePNGValue() const
{
    return isImagePNG() ? std::get<3>(m_value) : QByteArray();
}

void ShelfPayload::encode(Json::Writer& writer) const
{
    writer.beginObject();
    switch (caseOf()) {
    case Case::fileURLs:
        writer.key("fileURLs");
        writer.beginObject();
        writer.key("_0");
        writer.beginArray();
        for (const QString& path : std::get<0>(m_value))
            writer.string(path);
        writer.endArray();
        break;
    case Case::url:
        writer.key("url");
        writer.beginObject();
        writer.key("_0");
        writer.string(std::get<1>(m_value));
        break;
    case Case::text:
        writer.key("text");
        writer.beginObject();
        writer.key("_0");
        writer.string(std::get<2>(m_value));
        break;
    case Case::imagePNG:
        writer.key("imagePNG");
        writer.beginObject();
        writer.key("_0");
        writer.base64(std::get<3>(m_value));
        break;
    }
    writer.endObject();
    writer.endObject();
}

ShelfPayload ShelfPayload::decode(const Json::Value& value)
{
    value.requireObject("ShelfPayload");
    if (value.memberCount() != 1)
        throw DecodingError(QStringLiteral("Invalid number of keys found, expected one."));
    static constexpr std::array<const char*, 4> caseKeys{"fileURLs", "url", "text", "imagePNG"};
    for (const char* key : caseKeys) {
        const auto inner = value.member(key);
        if (!inner)
            continue;
        inner->requireObject(key);
        const auto associated = inner->presentMember("_0");
        if (!associated)
            throw DecodingError(QStringLiteral("No value associated with key \"_0\" of %1.").arg(QLatin1String(key)));
        const std::string_view name(key);
        if (name == "fileURLs") {
            associated->requireArray("fileURLs");
            QStringList paths;
            paths.reserve(associated->arraySize());
            associated->forEachElement([&](const Json::Value& element) { paths.append(element.toString("fileURLs")); });
            return fileURLs(std::move(paths));
        }
        if (name == "url")
            return url(associated->toString("url"));
        if (name == "text")
            return text(associated->toString("text"));
        // imagePNG: strict base64, as the history reads it.
        return imagePNG(Coding::decodeData(*associated, "imagePNG"));
    }
    throw DecodingError(QStringLiteral("No case of ShelfPayload found."));
}

// MARK: - ShelfItem

ClipboardItem ShelfItem::clipboardItem() const
{
    ClipboardItem item;
    item.id = id;
    item.createdAt = createdAt;
    item.kind = kind;
    item.preview = preview;
    item.contentHash = QStringLiteral("shelf:") + Uuid::text(id);
    item.sourceAppName = Language::text(QStringLiteral("暂存架"), QStringLiteral("Shelf"));
    item.sourceBundleIdentifier = std::nullopt;
    item.sourcePlatform = ClipSourcePlatform::mac;
    item.isSensitive = isSensitive;
    item.isLocalOnly = true;
    item.isPinned = false;
    switch (payload.caseOf()) {
    case ShelfPayload::Case::fileURLs:
        item.payload = ClipboardPayload::fileURLs(payload.fileURLsValue());
        break;
    case ShelfPayload::Case::url:
        item.payload = ClipboardPayload::text(payload.urlValue());
        break;
    case ShelfPayload::Case::text:
        item.payload = ClipboardPayload::text(payload.textValue());
        break;
    case ShelfPayload::Case::imagePNG:
        item.payload = ClipboardPayload::imagePNG(payload.imagePNGValue());
        break;
    }
    return item;
}

QList<QUrl> ShelfItem::revealableFileURLs() const
{
    if (!payload.isFileURLs())
        return {};
    return MacFileContent::revealableFileURLs(payload.fileURLsValue());
}

QList<Platform::PasteboardObject> ShelfItem::sharingItems() const
{
    switch (payload.caseOf()) {
    case ShelfPayload::Case::fileURLs: {
        QList<Platform::PasteboardObject> urls;
        for (const QString& path : MacFileContent::cleanPaths(payload.fileURLsValue()))
            urls.append(QUrl::fromLocalFile(QFileInfo(path).absoluteFilePath()));
        return urls;
    }
    case ShelfPayload::Case::url: {
        const QString text = Text::trimmed(payload.urlValue());
        if (text.isEmpty())
            return {};
        const QUrl url(text, QUrl::StrictMode);
        if (url.isValid() && !url.scheme().isEmpty())
            return {url};
        return {text};
    }
    case ShelfPayload::Case::text:
        if (payload.textValue().isEmpty())
            return {};
        return {payload.textValue()};
    case ShelfPayload::Case::imagePNG: {
        QImage image;
        if (!image.loadFromData(payload.imagePNGValue()))
            return {};
        return {image};
    }
    }
    return {};
}

void ShelfItem::encode(Json::Writer& writer) const
{
    // Sorted keys.
    writer.beginObject();
    writer.key("createdAt");
    writeDate(writer, createdAt);
    writer.key("id");
    writer.string(Uuid::text(id));
    writer.key("isSensitive");
    writer.boolean(isSensitive);
    writer.key("kind");
    writer.string(kind.rawValue());
    writer.key("payload");
    payload.encode(writer);
    writer.key("preview");
    writer.string(preview);
    writer.key("subtitle");
    writer.string(subtitle);
    writer.key("title");
    writer.string(title);
    writer.endObject();
}

ShelfItem ShelfItem::decode(const Json::Value& value)
{
    value.requireObject("ShelfItem");
    ShelfItem item;
    item.id = Coding::decodeUuid(required(value, "id"), "id");
    item.createdAt = readDate(value, "createdAt");
    const QString rawKind = required(value, "kind").toString("kind");
    const auto kind = ClipKind::fromRawValue(rawKind);
    if (!kind)
        throw DecodingError(QStringLiteral("Cannot initialize ClipKind from invalid String value %1").arg(rawKind));
    item.kind = *kind;
    item.title = required(value, "title").toString("title");
    item.subtitle = required(value, "subtitle").toString("subtitle");
    item.preview = required(value, "preview").toString("preview");
    item.payload = ShelfPayload::decode(required(value, "payload"));
    item.isSensitive = required(value, "isSensitive").toBool("isSensitive");
    return item;
}

// MARK: - ShelfSession

QString ShelfSession::defaultName()
{
    return Language::text(QStringLiteral("默认"), QStringLiteral("Default"));
}

void ShelfSession::encode(Json::Writer& writer) const
{
    writer.beginObject();
    writer.key("createdAt");
    writeDate(writer, createdAt);
    writer.key("id");
    writer.string(Uuid::text(id));
    writer.key("items");
    writer.beginArray();
    for (const ShelfItem& item : items)
        item.encode(writer);
    writer.endArray();
    writer.key("name");
    writer.string(name);
    writer.key("updatedAt");
    writeDate(writer, updatedAt);
    writer.endObject();
}

ShelfSession ShelfSession::decode(const Json::Value& value)
{
    value.requireObject("ShelfSession");
    ShelfSession session;
    session.id = Coding::decodeUuid(required(value, "id"), "id");
    session.name = required(value, "name").toString("name");
    const Json::Value items = required(value, "items");
    items.requireArray("items");
    session.items.reserve(items.arraySize());
    items.forEachElement([&](const Json::Value& element) { session.items.append(ShelfItem::decode(element)); });
    session.createdAt = readDate(value, "createdAt");
    session.updatedAt = readDate(value, "updatedAt");
    return session;
}

// MARK: - ShelfBatchAction

const std::array<ShelfBatchAction, 6>& ShelfBatchAction::allCases()
{
    static constexpr std::array<ShelfBatchAction, 6> cases{copyFileNames,      copyFilePaths,       zipFiles,
                                                           convertImagesToPNG, convertImagesToJPEG, compressImages};
    return cases;
}

std::optional<ShelfBatchAction> ShelfBatchAction::fromTag(int tag)
{
    if (tag < 0 || tag >= int(allCases().size()))
        return std::nullopt;
    return allCases()[size_t(tag)];
}

QString ShelfBatchAction::title() const
{
    switch (m_value) {
    case copyFileNames:
        return Language::text(QStringLiteral("复制所有文件名"), QStringLiteral("Copy All File Names"));
    case copyFilePaths:
        return Language::text(QStringLiteral("复制所有路径"), QStringLiteral("Copy All Paths"));
    case zipFiles:
        return Language::text(QStringLiteral("压缩为 ZIP"), QStringLiteral("Zip Files"));
    case convertImagesToPNG:
        return Language::text(QStringLiteral("图片转 PNG"), QStringLiteral("Convert Images to PNG"));
    case convertImagesToJPEG:
        return Language::text(QStringLiteral("图片转 JPG"), QStringLiteral("Convert Images to JPG"));
    case compressImages:
        return Language::text(QStringLiteral("压缩图片"), QStringLiteral("Compress Images"));
    }
    return {};
}

// MARK: - ShelfBatchError

ShelfBatchError ShelfBatchError::noFiles()
{
    return ShelfBatchError(Case::noFiles, Language::text(QStringLiteral("所选内容中没有文件"),
                                                         QStringLiteral("There are no files in the selection")));
}

ShelfBatchError ShelfBatchError::noImages()
{
    return ShelfBatchError(Case::noImages, Language::text(QStringLiteral("所选内容中没有图片"),
                                                          QStringLiteral("There are no images in the selection")));
}

ShelfBatchError ShelfBatchError::zipFailed(const QString& cause)
{
    if (cause.isEmpty())
        return ShelfBatchError(Case::zipFailed, Language::text(QStringLiteral("无法创建 ZIP 压缩包"),
                                                               QStringLiteral("Couldn't create the ZIP archive")));
    return ShelfBatchError(Case::zipFailed,
                           Language::text(QStringLiteral("无法创建 ZIP 压缩包：") + cause,
                                          QStringLiteral("Couldn't create the ZIP archive: ") + cause));
}

ShelfBatchError ShelfBatchError::imageConversionFailed(const QString& cause)
{
    if (cause.isEmpty())
        return ShelfBatchError(Case::imageConversionFailed, Language::text(QStringLiteral("图片转换失败"),
                                                                           QStringLiteral("Image conversion failed")));
    return ShelfBatchError(
        Case::imageConversionFailed,
        Language::text(QStringLiteral("图片转换失败：") + cause, QStringLiteral("Image conversion failed: ") + cause));
}

} // namespace QuillomareMac
