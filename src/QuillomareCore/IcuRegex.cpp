#include "IcuRegex.h"

#include <unicode/regex.h>
#include <unicode/uchar.h>
#include <unicode/uniset.h>
#include <unicode/utext.h>

namespace QuillomareCore::IcuRegex {

namespace {

// The set ICU's engine uses for \w and \b (built from the same definition; the tests hold it to
// the engine for every code point).
const icu::UnicodeSet& wordCharacters()
{
    static const icu::UnicodeSet set = [] {
        UErrorCode status = U_ZERO_ERROR;
        icu::UnicodeSet built(UNICODE_STRING_SIMPLE("[\\p{Alphabetic}\\p{M}\\p{Nd}\\p{Pc}\\u200c\\u200d]"), status);
        built.freeze();
        return built;
    }();
    return set;
}

// Characters \b looks through: they belong to the character before them.
bool isTransparentToBoundary(char32_t codePoint)
{
    if (codePoint < 0x80)
        return false;
    return u_hasBinaryProperty(UChar32(codePoint), UCHAR_GRAPHEME_EXTEND) ||
           u_charType(UChar32(codePoint)) == U_FORMAT_CHAR;
}

CodePoint codePointBefore(QStringView text, qsizetype position)
{
    const char16_t unit = text[position - 1].unicode();
    if (QChar::isLowSurrogate(unit) && position >= 2 && QChar::isHighSurrogate(text[position - 2].unicode()))
        return CodePoint{QChar::surrogateToUcs4(text[position - 2], text[position - 1]), 2};
    return CodePoint{unit, 1};
}

} // namespace

bool detail::isWordCharacterBeyondASCII(char32_t codePoint)
{
    return wordCharacters().contains(UChar32(codePoint));
}

bool detail::isSpaceBeyondASCII(char32_t codePoint)
{
    return u_isUWhiteSpace(UChar32(codePoint));
}

bool detail::isDigitBeyondASCII(char32_t codePoint)
{
    return u_charType(UChar32(codePoint)) == U_DECIMAL_DIGIT_NUMBER;
}

bool isWordBoundary(QStringView text, qsizetype position)
{
    bool afterIsWord = false;
    if (position < text.size()) {
        // The whole code point, even when the position falls inside a surrogate pair.
        char32_t after = text[position].unicode();
        if (QChar::isLowSurrogate(after) && position > 0 && text[position - 1].isHighSurrogate())
            after = QChar::surrogateToUcs4(text[position - 1], text[position]);
        else
            after = codePointAt(text, position).value;
        if (isTransparentToBoundary(after))
            return false;
        afterIsWord = isWordCharacter(after);
    }
    bool beforeIsWord = false;
    while (position > 0) {
        const CodePoint before = codePointBefore(text, position);
        position -= before.width;
        if (!isTransparentToBoundary(before.value)) {
            beforeIsWord = isWordCharacter(before.value);
            break;
        }
    }
    return afterIsWord != beforeIsWord;
}

struct Expression::Compiled
{
    std::unique_ptr<icu::RegexPattern> pattern;
};

Expression::Expression(const QString& pattern) : m_pattern(pattern)
{
    UErrorCode status = U_ZERO_ERROR;
    UParseError parseError{};
    std::unique_ptr<icu::RegexPattern> compiled(icu::RegexPattern::compile(
        icu::UnicodeString(reinterpret_cast<const UChar*>(pattern.utf16()), int32_t(pattern.size())), 0, parseError,
        status));
    if (U_FAILURE(status) || !compiled) {
        m_error = QStringLiteral("%1 at offset %2").arg(QString::fromLatin1(u_errorName(status))).arg(parseError.offset);
        return;
    }
    auto built = std::make_shared<Compiled>();
    built->pattern = std::move(compiled);
    m_compiled = std::move(built);
}

namespace {

Match run(const icu::RegexPattern& pattern, QStringView text, qsizetype position)
{
    if (position < 0 || position > text.size())
        return {};
    UErrorCode status = U_ZERO_ERROR;
    UText input = UTEXT_INITIALIZER;
    utext_openUChars(&input, reinterpret_cast<const UChar*>(text.utf16()), int64_t(text.size()), &status);
    std::unique_ptr<icu::RegexMatcher> matcher(pattern.matcher(status));
    Match result;
    if (U_SUCCESS(status) && matcher) {
        matcher->reset(&input);
        // The region starts at the position, but \b and look-arounds still see the whole text.
        matcher->region(position, int64_t(text.size()), status);
        matcher->useTransparentBounds(true);
        matcher->useAnchoringBounds(false);
        if (matcher->find(status) && U_SUCCESS(status)) {
            const int64_t start = matcher->start64(status);
            const int64_t end = matcher->end64(status);
            if (U_SUCCESS(status) && start >= 0 && end >= start && end <= text.size())
                result = Match{qsizetype(start), qsizetype(end)};
        }
    }
    matcher.reset();
    utext_close(&input);
    return result;
}

} // namespace

Match Expression::match(QStringView text, qsizetype from) const
{
    return m_compiled ? run(*m_compiled->pattern, text, from) : Match{};
}

} // namespace QuillomareCore::IcuRegex
