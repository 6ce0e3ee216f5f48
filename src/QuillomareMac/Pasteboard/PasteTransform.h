#pragma once

// The forms an entry can be copied back in (as it was, as plain text, as a Markdown link, as its
// file names or paths, as its link without tracking parameters), and the texts several entries
// are joined into.

#include <Platform/Pasteboard.h>
#include <QuillomareCore/ClipboardItem.h>

#include <QHashFunctions>
#include <QList>
#include <QSet>
#include <QString>

#include <array>
#include <optional>

namespace QuillomareMac {

class PasteVariant
{
public:
    // In menu order.
    enum Value : quint8 { original, plainText, markdownLink, fileNames, filePaths, cleanedURL };

    constexpr PasteVariant(Value value = original) : m_value(value) {}
    constexpr operator Value() const { return m_value; }

    static const std::array<PasteVariant, 6>& allCases();
    QString title() const;

    friend size_t qHash(PasteVariant variant, size_t seed = 0) noexcept { return ::qHash(int(variant.m_value), seed); }

private:
    Value m_value;
};

class CombinedPasteFormat
{
public:
    enum Value : quint8 { newline, comma, markdownList, jsonArray };

    constexpr CombinedPasteFormat(Value value = newline) : m_value(value) {}
    constexpr operator Value() const { return m_value; }

    static const std::array<CombinedPasteFormat, 4>& allCases();
    QString title() const;

    friend size_t qHash(CombinedPasteFormat format, size_t seed = 0) noexcept
    {
        return ::qHash(int(format.m_value), seed);
    }

private:
    Value m_value;
};

namespace PasteTransform {

// Query parameters that only tell a site where a visit came from; any name beginning with
// "utm_" counts as well.
const QSet<QString>& trackingParameters();

// The variants the entry offers, in menu order.
QList<PasteVariant> menuVariants(const QuillomareCore::ClipboardItem& item);
// The text a variant gives for the entry; nothing when the variant does not apply.
std::optional<QString> text(const QuillomareCore::ClipboardItem& item, PasteVariant variant);
// The entries' texts (images and empty entries skipped) joined in one format; nothing when no
// entry has a text.
std::optional<QString> combinedText(const QList<QuillomareCore::ClipboardItem>& items, CombinedPasteFormat format);

// Writes the variant; false (and the pasteboard untouched) when it gives nothing to write.
bool copy(const QuillomareCore::ClipboardItem& item, PasteVariant variant, Platform::Pasteboard& pasteboard);

// The link without tracking parameters, its other parts (order, fragment) as they were; a text
// that is no link with a host comes back trimmed.
QString cleanedURLString(const QString& text);

bool copyString(const QString& text, Platform::Pasteboard& pasteboard);

} // namespace PasteTransform

} // namespace QuillomareMac
