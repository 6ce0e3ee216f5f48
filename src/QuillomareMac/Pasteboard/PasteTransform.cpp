#include "PasteTransform.h"

#include "MacPasteboardWriter.h"

#include <QuillomareCore/Foundation.h>
#include <QuillomareCore/Language.h>

#include <QUrl>

namespace QuillomareMac {

namespace Language = QuillomareCore::Language;

using QuillomareCore::ClipboardItem;
using QuillomareCore::ClipboardPayload;
using QuillomareCore::ClipKind;

// --- PasteVariant

const std::array<PasteVariant, 6>& PasteVariant::allCases()
{
    static constexpr std::array<PasteVariant, 6> cases{original,  plainText, markdownLink,
                                                       fileNames, filePaths, cleanedURL};
    return cases;
}

QString PasteVariant::title() const
{
    switch (m_value) {
    case original:
        return Language::text(QStringLiteral("复制原始内容"), QStringLiteral("Copy Original"));
    case plainText:
        return Language::text(QStringLiteral("复制为纯文本"), QStringLiteral("Copy as Plain Text"));
    case markdownLink:
        return Language::text(QStringLiteral("复制为 Markdown 链接"), QStringLiteral("Copy as Markdown Link"));
    case fileNames:
        return Language::text(QStringLiteral("复制文件名"), QStringLiteral("Copy File Name"));
    case filePaths:
        return Language::text(QStringLiteral("复制文件路径"), QStringLiteral("Copy File Path"));
    case cleanedURL:
        break;
    }
    return Language::text(QStringLiteral("清理 URL 后复制"), QStringLiteral("Copy Cleaned URL"));
}

// --- CombinedPasteFormat

const std::array<CombinedPasteFormat, 4>& CombinedPasteFormat::allCases()
{
    static constexpr std::array<CombinedPasteFormat, 4> cases{newline, comma, markdownList, jsonArray};
    return cases;
}

QString CombinedPasteFormat::title() const
{
    switch (m_value) {
    case newline:
        return Language::text(QStringLiteral("按换行合并"), QStringLiteral("Join with Newlines"));
    case comma:
        return Language::text(QStringLiteral("按逗号合并"), QStringLiteral("Join with Commas"));
    case markdownList:
        return Language::text(QStringLiteral("合并为 Markdown 列表"), QStringLiteral("Markdown List"));
    case jsonArray:
        break;
    }
    return Language::text(QStringLiteral("合并为 JSON 数组"), QStringLiteral("JSON Array"));
}

// --- PasteTransform

namespace {

const QChar kLineFeed = QLatin1Char('\n');

// A text that is one whole URL, of any scheme.
bool parsesAsURL(const QString& text)
{
    if (text.isEmpty())
        return false;
    const QUrl url(text, QUrl::StrictMode);
    return url.isValid() && !url.scheme().isEmpty();
}

std::optional<QString> urlString(const ClipboardItem& item)
{
    if (item.kind != ClipKind::url || !item.payload.isText())
        return std::nullopt;
    const QString trimmed = QuillomareCore::Text::trimmed(item.payload.textValue());
    if (!parsesAsURL(trimmed))
        return std::nullopt;
    return trimmed;
}

std::optional<QString> markdownLink(const ClipboardItem& item)
{
    const auto url = urlString(item);
    if (!url)
        return std::nullopt;
    const QString host = QUrl(*url, QUrl::StrictMode).host();
    if (host.isEmpty())
        return std::nullopt;

    QString title = QuillomareCore::Text::trimmed(item.preview);
    if (title.isEmpty() || title == *url) {
        // Only the leading label: "www.example.com" reads "example.com", but "docs.www.example.com"
        // or "awww.example" keep their names.
        title = host.startsWith(QLatin1String("www.")) ? host.mid(4) : host;
    }
    title.replace(QLatin1Char('['), QLatin1String("\\["));
    title.replace(QLatin1Char(']'), QLatin1String("\\]"));
    title.replace(kLineFeed, QLatin1Char(' '));
    return QLatin1Char('[') + title + QLatin1String("](") + *url + QLatin1Char(')');
}

QStringList fileURLPaths(const ClipboardItem& item)
{
    if (!item.payload.isFileURLs())
        return {};
    QStringList paths;
    for (const QString& path : item.payload.fileURLsValue()) {
        const QString trimmed = QuillomareCore::Text::trimmed(path);
        if (!trimmed.isEmpty())
            paths.append(trimmed);
    }
    return paths;
}

// The last component of the path read as a file URL: trailing slashes do not count, and the
// root is its own name.
QString lastPathComponent(const QString& path)
{
    QString cut = path;
    while (cut.size() > 1 && cut.endsWith(QLatin1Char('/')))
        cut.chop(1);
    if (cut == QLatin1String("/"))
        return cut;
    return cut.mid(cut.lastIndexOf(QLatin1Char('/')) + 1);
}

bool isTrackingParameter(const QString& encodedName)
{
    const QString name = QUrl::fromPercentEncoding(encodedName.toUtf8()).toLower();
    return name.startsWith(QLatin1String("utm_")) || PasteTransform::trackingParameters().contains(name);
}

// A JSON string literal with only the escapes JSON requires.
QString jsonString(const QString& text)
{
    QString out;
    out.reserve(text.size() + 2);
    out += QLatin1Char('"');
    for (const QChar character : text) {
        switch (character.unicode()) {
        case '"':
            out += QLatin1String("\\\"");
            break;
        case '\\':
            out += QLatin1String("\\\\");
            break;
        case '\n':
            out += QLatin1String("\\n");
            break;
        case '\r':
            out += QLatin1String("\\r");
            break;
        case '\t':
            out += QLatin1String("\\t");
            break;
        case '\b':
            out += QLatin1String("\\b");
            break;
        case '\f':
            out += QLatin1String("\\f");
            break;
        default:
            if (character.unicode() < 0x20)
                out += QStringLiteral("\\u%1").arg(character.unicode(), 4, 16, QLatin1Char('0'));
            else
                out += character;
        }
    }
    out += QLatin1Char('"');
    return out;
}

// Pretty-printed as the other platform's serializer prints it: one element a line, two spaces
// in, no line feed after the closing bracket.
QString jsonArray(const QStringList& texts)
{
    QStringList elements;
    elements.reserve(texts.size());
    for (const QString& text : texts)
        elements.append(QLatin1String("  ") + jsonString(text));
    return QLatin1String("[\n") + elements.join(QLatin1String(",\n")) + QLatin1String("\n]");
}

} // namespace

namespace PasteTransform {

const QSet<QString>& trackingParameters()
{
    static const QSet<QString> names{
        QStringLiteral("utm_source"), QStringLiteral("utm_medium"), QStringLiteral("utm_campaign"),
        QStringLiteral("utm_term"),   QStringLiteral("utm_content"), QStringLiteral("utm_id"),
        QStringLiteral("fbclid"),     QStringLiteral("gclid"),       QStringLiteral("dclid"),
        QStringLiteral("gbraid"),     QStringLiteral("wbraid"),      QStringLiteral("msclkid"),
        QStringLiteral("mc_cid"),     QStringLiteral("mc_eid"),      QStringLiteral("igshid"),
        QStringLiteral("spm"),        QStringLiteral("ref"),         QStringLiteral("ref_src"),
    };
    return names;
}

QString cleanedURLString(const QString& text)
{
    const QString trimmed = QuillomareCore::Text::trimmed(text);
    const QUrl url(trimmed, QUrl::StrictMode);
    if (!url.isValid() || url.host().isEmpty())
        return trimmed;

    // Edit the query in the text itself, so that every other part keeps its exact spelling and
    // encoding. In a valid URL the first "#" starts the fragment and the first "?" before it
    // starts the query.
    const qsizetype fragmentStart = trimmed.indexOf(QLatin1Char('#'));
    const QString beforeFragment = fragmentStart < 0 ? trimmed : trimmed.left(fragmentStart);
    const QString fragment = fragmentStart < 0 ? QString() : trimmed.mid(fragmentStart);
    const qsizetype queryStart = beforeFragment.indexOf(QLatin1Char('?'));
    if (queryStart < 0)
        return trimmed;

    const QString query = beforeFragment.mid(queryStart + 1);
    QStringList kept;
    if (!query.isEmpty()) {
        for (const QString& queryItem : query.split(QLatin1Char('&'))) {
            const qsizetype equals = queryItem.indexOf(QLatin1Char('='));
            if (!isTrackingParameter(equals < 0 ? queryItem : queryItem.left(equals)))
                kept.append(queryItem);
        }
    }
    QString cleaned = beforeFragment.left(queryStart);
    if (!kept.isEmpty())
        cleaned += QLatin1Char('?') + kept.join(QLatin1Char('&'));
    return cleaned + fragment;
}

std::optional<QString> text(const ClipboardItem& item, PasteVariant variant)
{
    switch (variant) {
    case PasteVariant::original:
    case PasteVariant::plainText:
        return item.plainTextRepresentation();
    case PasteVariant::markdownLink:
        return markdownLink(item);
    case PasteVariant::fileNames: {
        QStringList names;
        for (const QString& path : fileURLPaths(item)) {
            const QString name = lastPathComponent(path);
            if (!name.isEmpty())
                names.append(name);
        }
        if (names.isEmpty())
            return std::nullopt;
        return names.join(kLineFeed);
    }
    case PasteVariant::filePaths: {
        const QStringList paths = fileURLPaths(item);
        if (paths.isEmpty())
            return std::nullopt;
        return paths.join(kLineFeed);
    }
    case PasteVariant::cleanedURL:
        break;
    }
    const auto url = urlString(item);
    if (!url)
        return std::nullopt;
    return cleanedURLString(*url);
}

QList<PasteVariant> menuVariants(const ClipboardItem& item)
{
    QList<PasteVariant> variants;
    for (PasteVariant variant : PasteVariant::allCases()) {
        if (variant == PasteVariant::original) {
            bool hasContent = false;
            switch (item.payload.caseOf()) {
            case ClipboardPayload::Case::text:
                hasContent = !item.payload.textValue().isEmpty();
                break;
            case ClipboardPayload::Case::fileURLs:
                hasContent = !fileURLPaths(item).isEmpty();
                break;
            case ClipboardPayload::Case::imagePNG:
                hasContent = item.payload.imagePNGByteCount() > 0;
                break;
            case ClipboardPayload::Case::empty:
                break;
            }
            if (hasContent)
                variants.append(variant);
        } else if (text(item, variant)) {
            variants.append(variant);
        }
    }
    return variants;
}

std::optional<QString> combinedText(const QList<ClipboardItem>& items, CombinedPasteFormat format)
{
    QStringList texts;
    for (const ClipboardItem& item : items) {
        if (item.payload.isImagePNG() || item.payload.isEmpty())
            continue;
        if (auto representation = item.plainTextRepresentation())
            texts.append(*representation);
    }
    if (texts.isEmpty())
        return std::nullopt;

    switch (format) {
    case CombinedPasteFormat::newline:
        return texts.join(kLineFeed);
    case CombinedPasteFormat::comma:
        return texts.join(QLatin1String(", "));
    case CombinedPasteFormat::markdownList: {
        QStringList lines;
        for (QString text : texts)
            lines.append(QLatin1String("- ") + text.replace(kLineFeed, QLatin1Char(' ')));
        return lines.join(kLineFeed);
    }
    case CombinedPasteFormat::jsonArray:
        break;
    }
    return jsonArray(texts);
}

bool copy(const ClipboardItem& item, PasteVariant variant, Platform::Pasteboard& pasteboard)
{
    switch (variant) {
    case PasteVariant::original:
        return MacPasteboardWriter::copy(item, pasteboard);
    case PasteVariant::plainText: {
        const auto representation = item.plainTextRepresentation();
        return representation && MacPasteboardWriter::copyString(*representation, pasteboard);
    }
    case PasteVariant::markdownLink:
    case PasteVariant::fileNames:
    case PasteVariant::filePaths:
    case PasteVariant::cleanedURL:
        break;
    }
    const auto variantText = text(item, variant);
    return variantText && copyString(*variantText, pasteboard);
}

bool copyString(const QString& text, Platform::Pasteboard& pasteboard)
{
    return MacPasteboardWriter::copyString(text, pasteboard);
}

} // namespace PasteTransform

} // namespace QuillomareMac
