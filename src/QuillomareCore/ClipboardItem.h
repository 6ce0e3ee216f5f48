#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QList>
#include <QString>
#include <QStringList>
#include <QUuid>

#include <array>
#include <memory>
#include <optional>
#include <variant>

namespace QuillomareCore {

namespace Json {
class Value;
class Writer;
} // namespace Json

struct ClipSettings;
struct StoredImageText;
struct ImageTextSource;
class HistoryFileVersion;

class ClipKind
{
public:
    enum Value : quint8 { text, url, file, image, unknown };

    constexpr ClipKind(Value value = unknown) : m_value(value) {}
    constexpr operator Value() const { return m_value; }

    static const std::array<ClipKind, 5>& allCases();
    // Exactly the five lower-case raw values.
    static std::optional<ClipKind> fromRawValue(QStringView rawValue);

    QString rawValue() const;
    // Files and images: they reach the cloud only when rich content may sync.
    bool isRichContent() const;
    QString localizedName() const;
    // English in both interface languages: "Text", "Link", "File", "Image", "Clip".
    QString displayTitle() const;
    QString searchText() const;

private:
    Value m_value;
};

class ClipSourcePlatform
{
public:
    enum Value : quint8 { mac, iphone, unknown };

    constexpr ClipSourcePlatform(Value value = unknown) : m_value(value) {}
    constexpr operator Value() const { return m_value; }

    static const std::array<ClipSourcePlatform, 3>& allCases();
    static std::optional<ClipSourcePlatform> fromRawValue(QStringView rawValue);

    QString rawValue() const;
    QString displayName() const;
    QString searchText() const;

private:
    Value m_value;
};

class ClipboardPayload
{
public:
    enum class Case : quint8 { text, fileURLs, imagePNG, empty };

    ClipboardPayload() = default; // empty
    static ClipboardPayload text(QString text);
    static ClipboardPayload fileURLs(QStringList paths);
    static ClipboardPayload imagePNG(QByteArray png);
    // The same, with the image's identity (ClipHashing::imageContentHash) computed here, once:
    // whoever needs it later (the entry's hash, the first save's check) reads it instead of
    // hashing the image again.
    static ClipboardPayload hashedImagePNG(QByteArray png);
    // An image whose base64 text lies in a history file: read only when asked for.
    static ClipboardPayload storedImagePNG(std::shared_ptr<const StoredImageText> stored);
    static ClipboardPayload empty() { return {}; }

    Case caseOf() const { return static_cast<Case>(m_value.index()); }
    bool isText() const { return caseOf() == Case::text; }
    bool isFileURLs() const { return caseOf() == Case::fileURLs; }
    bool isImagePNG() const { return caseOf() == Case::imagePNG; }
    bool isEmpty() const { return caseOf() == Case::empty; }

    // The case's value; empty for another case.
    QString textValue() const;
    QStringList fileURLsValue() const;
    // An image kept in the history file is read from it (an unreadable one gives nothing).
    QByteArray imagePNGValue() const;
    // The image, or why it could not be read back.
    std::optional<QByteArray> loadImagePNG(QString* error = nullptr) const;
    // Known without reading the image.
    qsizetype imagePNGByteCount() const;
    QByteArray imagePNGHead(qsizetype count) const;
    // The identity hashedImagePNG() computed; empty for any other payload.
    QString imagePNGContentHash() const;
    // Where the image's text lies in the history file; null while the image is held in memory.
    std::shared_ptr<const StoredImageText> storedImageText() const;

    // An image over the local image limit, or a text over the local text limit (UTF-8 bytes), is
    // too large for the history.
    bool exceedsLocalHistoryLimits() const;
    bool exceedsCloudExportLimits() const;

    friend bool operator==(const ClipboardPayload&, const ClipboardPayload&) = default;

private:
    struct Empty
    {
        friend bool operator==(const Empty&, const Empty&) = default;
    };
    // Held in memory (a new capture) or in a history file (after a load or a save). Equal when
    // the bytes are.
    struct Image
    {
        QByteArray bytes;
        std::shared_ptr<const StoredImageText> stored;
        QString contentHash; // of `bytes`, when made by hashedImagePNG()
        bool operator==(const Image& other) const;
    };
    std::variant<QString, QStringList, Image, Empty> m_value = Empty{};
};

struct ClipboardItem
{
    QUuid id;
    QDateTime createdAt;
    ClipKind kind;
    QString preview;
    QString contentHash;
    std::optional<QString> sourceAppName;
    std::optional<QString> sourceBundleIdentifier;
    ClipSourcePlatform sourcePlatform;
    bool isSensitive = false;
    bool isLocalOnly = false;
    bool isPinned = false;
    ClipboardPayload payload;

    // Field by field, except that two images under the same non-empty content hash (the digest
    // of their bytes) are the same image: they are compared without reading either one, which
    // for images kept in the history file would mean two whole reads from the disk.
    friend bool operator==(const ClipboardItem& a, const ClipboardItem& b);

    // The kind's displayTitle().
    QString displayTitle() const;

    bool isCloudExportable(const ClipSettings& settings) const;
    bool isCloudExportable(bool syncRichContentToICloud) const;
    static bool shouldKeepLocalOnlyForCloud(ClipKind kind, const ClipSettings& settings);
    static bool shouldKeepLocalOnlyForCloud(ClipKind kind, const ClipboardPayload& payload,
                                            const ClipSettings& settings);

    bool fitsLocalHistoryPayloadLimits() const { return !payload.exceedsLocalHistoryLimits(); }
    // In the interface language, as payloadTooLargeDescription() words it.
    std::optional<QString> payloadLimitFailureDescription() const;
    // Why an image or a text of `size` bytes is not saved: "Image too large, not saved (12 MB,
    // limit 8.4 MB)"; the size reads "> 12 MB" when it is only a lower bound. Where the two figures
    // would read alike, both are given in bytes: "(8,388,609 bytes, limit 8,388,608 bytes)".
    static QString payloadTooLargeDescription(bool image, qint64 size, bool sizeIsExact = true);
    static QString formattedBytes(qint64 byteCount);

    std::optional<QString> plainTextRepresentation() const;

    // The record's JSON form. Decoding is tolerant of missing keys and strict about types;
    // it throws DecodingError.
    void encode(Json::Writer& writer) const;
    static ClipboardItem decode(const Json::Value& value);
    // Decoding from a history file held in `source`: images stay in the file (their text is
    // checked, not decoded) when they can be found there.
    static ClipboardItem decode(const Json::Value& value, const ImageTextSource* source);
};

// The file a document was parsed from, for images that stay in it.
struct ImageTextSource
{
    std::shared_ptr<const HistoryFileVersion> file;
    const char* data = nullptr; // the parsed bytes: offsets are counted from here
};

class ClipKindFilter
{
public:
    enum Value : quint8 { all, text, url, file, image };

    constexpr ClipKindFilter(Value value = all) : m_value(value) {}
    constexpr operator Value() const { return m_value; }

    static const std::array<ClipKindFilter, 5>& allCases();
    static std::optional<ClipKindFilter> fromRawValue(int rawValue);

    int rawValue() const { return m_value; }
    int id() const { return rawValue(); }
    QString title() const;
    bool matches(const ClipboardItem& item) const;
    qsizetype count(const QList<ClipboardItem>& items) const;

private:
    Value m_value;
};

struct ClipboardCaptureResult
{
    std::optional<ClipboardItem> item;
    std::optional<QString> ignoredReason;

    friend bool operator==(const ClipboardCaptureResult&, const ClipboardCaptureResult&) = default;
};

enum class ClipboardAddOutcome { inserted, deduplicated };

namespace PayloadCoding {
// {"text":{"_0":"…"}}, {"fileURLs":{"_0":[…]}}, {"imagePNG":{"_0":"base64"}}, {"empty":{}}
void encode(Json::Writer& writer, const ClipboardPayload& payload);
// `contentHash`: the entry's identity, which an image kept in the file is checked against when read.
// `entryId`: the entry's, by which the image is found again when another program rewrote the file.
ClipboardPayload decode(const Json::Value& value, const ImageTextSource* source = nullptr,
                        const QString& contentHash = QString(), const QUuid& entryId = QUuid());
} // namespace PayloadCoding

} // namespace QuillomareCore
