#pragma once

// The shelf's records: what one shelf entry holds, the named sessions that group entries, the
// batch actions offered on a selection and the errors those actions report.
//
// Records are values with the JSON form of the shelf file ("shelf-sessions.json"): every key is
// required, payloads are coded like the history's ({"case":{"_0":…}}, bytes in base64) and dates
// are written in whole seconds ("2026-01-01T12:00:00Z"), read with or without fractions.

#include "Pasteboard/ShelfRevealTarget.h"

#include <Platform/Pasteboard.h>
#include <QuillomareCore/ClipboardItem.h>
#include <QuillomareCore/Errors.h>

#include <QByteArray>
#include <QDateTime>
#include <QList>
#include <QString>
#include <QStringList>
#include <QUrl>
#include <QUuid>

#include <array>
#include <optional>
#include <variant>

namespace QuillomareCore::Json {
class Value;
class Writer;
} // namespace QuillomareCore::Json

namespace QuillomareMac {

class ShelfPayload
{
public:
    enum class Case : quint8
    {
        fileURLs,
        url,
        text,
        imagePNG
    };

    ShelfPayload() = default; // an empty text
    static ShelfPayload fileURLs(QStringList paths);
    static ShelfPayload url(QString url);
    static ShelfPayload text(QString text);
    static ShelfPayload imagePNG(QByteArray png);

    Case caseOf() const { return static_cast<Case>(m_value.index()); }
    bool isFileURLs() const { return caseOf() == Case::fileURLs; }
    bool isURL() const { return caseOf() == Case::url; }
    bool isText() const { return caseOf() == Case::text; }
    bool isImagePNG() const { return caseOf() == Case::imagePNG; }

    // The case's value; empty for another case.
    QStringList fileURLsValue() const;
    QString urlValue() const;
    QString textValue() const;
    QByteArray imagePNGValue() const;

    void encode(QuillomareCore::Json::Writer& writer) const;
    // Throws QuillomareCore::DecodingError.
    static ShelfPayload decode(const QuillomareCore::Json::Value& value);

    friend bool operator==(const ShelfPayload&, const ShelfPayload&) = default;

private:
    std::variant<QStringList, QString, QString, QByteArray> m_value{std::in_place_index<2>};
};

struct ShelfItem
{
    QUuid id;
    QDateTime createdAt;
    QuillomareCore::ClipKind kind;
    QString title;
    QString subtitle;
    QString preview;
    ShelfPayload payload;
    bool isSensitive = false;

    friend bool operator==(const ShelfItem&, const ShelfItem&) = default;

    // The entry as a local-only history entry, for previews, copying and paste variants: same id,
    // date, kind, preview and sensitivity, content hash "shelf:<ID>", source "暂存架" / "Shelf".
    QuillomareCore::ClipboardItem clipboardItem() const;
    // File URLs of the stored paths that exist, in order; empty for links, texts and images.
    QList<QUrl> revealableFileURLs() const;
    // What a sharing service is handed: a file URL per stored path (existing or not), the link
    // (its text when it is no URL), the text, or the decoded image. Empty: nothing to share.
    QList<Platform::PasteboardObject> sharingItems() const;

    void encode(QuillomareCore::Json::Writer& writer) const;
    static ShelfItem decode(const QuillomareCore::Json::Value& value);
};

struct ShelfSession
{
    QUuid id;
    QString name;
    QList<ShelfItem> items;
    QDateTime createdAt;
    QDateTime updatedAt;

    friend bool operator==(const ShelfSession&, const ShelfSession&) = default;

    // "默认" / "Default": the name of the session a new shelf starts with.
    static QString defaultName();

    void encode(QuillomareCore::Json::Writer& writer) const;
    static ShelfSession decode(const QuillomareCore::Json::Value& value);
};

class ShelfBatchAction
{
public:
    // The position of a case is the tag of its item in the batch menu.
    enum Value : quint8
    {
        copyFileNames,
        copyFilePaths,
        zipFiles,
        convertImagesToPNG,
        convertImagesToJPEG,
        compressImages
    };

    constexpr ShelfBatchAction(Value value = copyFileNames) : m_value(value) {}
    constexpr operator Value() const { return m_value; }

    static const std::array<ShelfBatchAction, 6>& allCases();
    static std::optional<ShelfBatchAction> fromTag(int tag);
    QString title() const;

private:
    Value m_value;
};

// A batch action that could not be carried out; the description is shown as it is.
class ShelfBatchError final : public QuillomareCore::Error
{
public:
    enum class Case
    {
        noFiles,
        noImages,
        zipFailed,
        imageConversionFailed
    };

    static ShelfBatchError noFiles();
    static ShelfBatchError noImages();
    // `cause` says what went wrong, in the interface language; may be empty.
    static ShelfBatchError zipFailed(const QString& cause = {});
    static ShelfBatchError imageConversionFailed(const QString& cause = {});

    Case caseOf() const { return m_case; }

private:
    ShelfBatchError(Case c, QString description) : Error(std::move(description)), m_case(c) {}
    Case m_case;
};

// What reading a pasteboard gave: the entries, and why something could not be read.
struct ShelfReadResult
{
    QList<ShelfItem> items;
    std::optional<QString> message;
};

namespace ShelfDates {
// Now, cut to whole seconds: the shelf file keeps no more, and an entry must read back equal.
QDateTime now();
// "2026-01-01T12:00:00Z"
QString format(const QDateTime& date);
} // namespace ShelfDates

} // namespace QuillomareMac
