#pragma once

#include <QString>
#include <QStringView>

#include <memory>

// ICU's regular expressions, with no flags: the engine the secret rules are written for. Its
// \b, \w, \d and \s differ from PCRE's (and so from QRegularExpression's) for about twenty
// characters: superscript digits and vulgar fractions are not word characters, marks, U+200C and
// U+200D and connector punctuation are, and \b looks through combining marks and format
// characters (U+00AD, U+FEFF, U+180E…) as if they were not there.
namespace QuillomareCore::IcuRegex {

namespace detail {
bool isWordCharacterBeyondASCII(char32_t codePoint);
bool isSpaceBeyondASCII(char32_t codePoint);
bool isDigitBeyondASCII(char32_t codePoint);
} // namespace detail

// \w: [\p{Alphabetic}\p{Mark}\p{Decimal_Number}\p{Connector_Punctuation}\u200C\u200D].
inline bool isWordCharacter(char32_t codePoint)
{
    if (codePoint >= 0x80)
        return detail::isWordCharacterBeyondASCII(codePoint);
    return (codePoint >= U'a' && codePoint <= U'z') || (codePoint >= U'A' && codePoint <= U'Z') ||
           (codePoint >= U'0' && codePoint <= U'9') || codePoint == U'_';
}
// \s: \p{White_Space}.
inline bool isSpace(char32_t codePoint)
{
    if (codePoint >= 0x80)
        return detail::isSpaceBeyondASCII(codePoint);
    return codePoint == U' ' || (codePoint >= U'\t' && codePoint <= U'\r');
}
// \d: \p{Decimal_Number}.
inline bool isDigit(char32_t codePoint)
{
    if (codePoint >= 0x80)
        return detail::isDigitBeyondASCII(codePoint);
    return codePoint >= U'0' && codePoint <= U'9';
}
// \b between the code points on either side of `position` (UTF-16 units). A position before a
// combining mark or a format character is never a boundary, and the character before the
// position is the last one that is neither.
bool isWordBoundary(QStringView text, qsizetype position);

// The code point that starts at `position` (a surrogate pair counts as one), and its width.
struct CodePoint
{
    char32_t value = 0;
    qsizetype width = 1;
};
inline CodePoint codePointAt(QStringView text, qsizetype position)
{
    const char16_t unit = text[position].unicode();
    if (QChar::isHighSurrogate(unit) && position + 1 < text.size() && text[position + 1].isLowSurrogate())
        return CodePoint{QChar::surrogateToUcs4(text[position], text[position + 1]), 2};
    return CodePoint{unit, 1};
}

struct Match
{
    qsizetype start = -1;
    qsizetype end = -1;
    bool hasMatch() const { return start >= 0; }
    qsizetype capturedStart() const { return start; }
    qsizetype capturedEnd() const { return end; }
    qsizetype capturedLength() const { return hasMatch() ? end - start : 0; }
};

// A compiled expression. Copies share the compiled form, which ICU never changes after
// compiling; every match runs on a matcher of its own, so one expression may be used by several
// threads at once.
class Expression
{
public:
    Expression() = default;
    explicit Expression(const QString& pattern);

    bool isValid() const { return m_compiled != nullptr; }
    QString errorString() const { return m_error; }
    QString pattern() const { return m_pattern; }

    // The first match that starts at or after `from`, the text before it still seen by \b and
    // look-behinds. A match the engine gives up on (its backtracking limit) is no match.
    Match match(QStringView text, qsizetype from = 0) const;

private:
    struct Compiled;
    std::shared_ptr<const Compiled> m_compiled;
    QString m_pattern;
    QString m_error;
};

} // namespace QuillomareCore::IcuRegex
