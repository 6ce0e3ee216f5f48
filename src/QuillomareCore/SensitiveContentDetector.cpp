#include "SensitiveContentDetector.h"

#include <unicode/uchar.h>
#include <unicode/uniset.h>
#include <unicode/ustring.h>
#include <unicode/utf16.h>

#include <cstring>
#include <iterator>

namespace QuillomareCore {

using IcuRegex::codePointAt;
using IcuRegex::isWordBoundary;

namespace {

struct RuleDefinition
{
    const char* label;
    const char* pattern;
};

// An armoured PGP private key ends its header with " BLOCK"; it is as private as any other key.
// A name and its value are taken in the forms configuration files and programs write them: a line
// (password = …, password: …) and a quoted name (JSON "password": "…", YAML, INI, Python).
// An AWS key pair is the key id (AKIA…) and its secret access key, which has no shape of its own:
// it is recognised by the names AWS tools give it (aws_secret_access_key in credential files,
// AWS_SECRET_ACCESS_KEY in environments, SecretAccessKey in the JSON of the command-line tool and
// the API, secret_access_key and secretAccessKey in SDK settings) followed by the 40 characters
// of the key.
constexpr RuleDefinition kRuleDefinitions[] = {
    {"Private key", R"re(-----BEGIN [A-Z ]*PRIVATE KEY(?: BLOCK)?-----)re"},
    {"JWT", R"re(\beyJ[A-Za-z0-9_-]{8,}\.[A-Za-z0-9_-]{8,}\.[A-Za-z0-9_-]{8,}\b)re"},
    {"Access token",
     R"re((?i)\b(api[_-]?key|access[_-]?token|secret|client[_-]?secret|password|passwd|pwd)\b['"]?\s*[:=]\s*['"]?[^'"\s]{8,})re"},
    {"AWS access key",
     R"re(\bAKIA[0-9A-Z]{16}\b|(?i:\b(?:aws_?)?secret_?access_?key\b)['"]?\s*[:=]\s*['"]?[A-Za-z0-9/+]{40}(?![A-Za-z0-9/+]))re"},
    {"OpenAI key", R"re(\bsk-[A-Za-z0-9_-]{24,}\b)re"},
    {"Stripe key", R"re(\b(?:sk|rk)_(?:live|test)_[A-Za-z0-9]{16,}\b)re"},
    {"Credit card", R"re(\b(?:\d[ -]*?){13,19}\b)re"},
};

// The key words of the two rules spelt out for the scan, in lower case; '~' stands for an optional
// one of "_-" and '!' for an optional "_". At most one spelling can match at a position, so their
// order does not matter.
constexpr const char* kAccessTokenNames[] = {"api~key", "access~token", "secret", "client~secret",
                                             "password", "passwd",      "pwd"};
constexpr const char* kAWSSecretNames[] = {"aws!secret!access!key", "secret!access!key"};

bool isASCIITokenCharacter(char32_t c)
{
    return (c >= U'a' && c <= U'z') || (c >= U'A' && c <= U'Z') || (c >= U'0' && c <= U'9') || c == U'_' || c == U'-';
}

bool isASCIIAlphanumeric(char32_t c)
{
    return (c >= U'a' && c <= U'z') || (c >= U'A' && c <= U'Z') || (c >= U'0' && c <= U'9');
}

bool isQuote(char32_t c)
{
    return c == U'\'' || c == U'"';
}

qsizetype runEnd(QStringView text, qsizetype from, bool (*member)(char32_t))
{
    while (from < text.size() && member(text[from].unicode()))
        ++from;
    return from;
}

// How many characters of a run start at `from`, counting no further than `limit`.
qsizetype runLength(QStringView text, qsizetype from, qsizetype limit, bool (*member)(char32_t))
{
    qsizetype length = 0;
    while (length < limit && from + length < text.size() && member(text[from + length].unicode()))
        ++length;
    return length;
}

qsizetype spacesEnd(QStringView text, qsizetype from)
{
    while (from < text.size()) {
        const auto codePoint = codePointAt(text, from);
        if (!IcuRegex::isSpace(codePoint.value))
            break;
        from += codePoint.width;
    }
    return from;
}

// --- Private key: -----BEGIN [A-Z ]*PRIVATE KEY(?: BLOCK)?-----
// Everything before the closing dashes is [A-Z ], so they must follow the run of [A-Z ] at once.
std::optional<TextRange> firstPrivateKey(QStringView text)
{
    static constexpr QStringView begin = u"-----BEGIN ";
    static constexpr QStringView keyEnd = u"PRIVATE KEY";
    static constexpr QStringView blockEnd = u"PRIVATE KEY BLOCK";
    for (qsizetype start = text.indexOf(begin); start >= 0; start = text.indexOf(begin, start + 1)) {
        const qsizetype headerStart = start + begin.size();
        const qsizetype headerEnd =
            runEnd(text, headerStart, [](char32_t c) { return (c >= U'A' && c <= U'Z') || c == U' '; });
        if (!text.sliced(headerEnd).startsWith(u"-----"))
            continue;
        const QStringView header = text.sliced(headerStart, headerEnd - headerStart);
        if (header.endsWith(keyEnd) || header.endsWith(blockEnd))
            return TextRange{start, headerEnd + 5 - start};
    }
    return std::nullopt;
}

// --- JWT: \beyJ[…]{8,}\.[…]{8,}\.[…]{8,}\b with […] the token characters [A-Za-z0-9_-].
// The dots are not token characters, so a match is three runs of them joined by dots: the first
// segment runs to the end of its run and the second is a whole run; only the third may stop
// early, at the last word boundary. The engine instead starts afresh at every "eyJ" of the first
// run and crawls to its end each time, which is quadratic in a run such as "-eyJ-eyJ…".
std::optional<TextRange> firstJWT(QStringView text)
{
    constexpr qsizetype minimumSegment = 8;
    const qsizetype length = text.size();
    qsizetype position = 0;
    while (position < length) {
        if (!isASCIITokenCharacter(text[position].unicode())) {
            ++position;
            continue;
        }
        // Each run is looked at as a first, second and third segment at most once each.
        const qsizetype firstStart = position;
        const qsizetype firstEnd = runEnd(text, firstStart, isASCIITokenCharacter);
        position = firstEnd;
        if (firstEnd - firstStart < 3 + minimumSegment || firstEnd >= length || text[firstEnd] != u'.')
            continue;
        const qsizetype secondStart = firstEnd + 1;
        const qsizetype secondEnd = runEnd(text, secondStart, isASCIITokenCharacter);
        if (secondEnd - secondStart < minimumSegment || secondEnd >= length || text[secondEnd] != u'.')
            continue;
        const qsizetype thirdStart = secondEnd + 1;
        const qsizetype thirdEnd = runEnd(text, thirdStart, isASCIITokenCharacter);
        qsizetype end = -1;
        for (qsizetype candidate = thirdEnd; candidate >= thirdStart + minimumSegment; --candidate) {
            if (isWordBoundary(text, candidate)) {
                end = candidate;
                break;
            }
        }
        if (end < 0)
            continue;
        for (qsizetype start = firstStart; start + 3 + minimumSegment <= firstEnd; ++start) {
            if (text[start] == u'e' && text[start + 1] == u'y' && text[start + 2] == u'J' &&
                isWordBoundary(text, start))
                return TextRange{start, end - start};
        }
    }
    return std::nullopt;
}

// --- Key words, matched case-insensitively.
// The engine compares the case folding of the text (a letter may fold to several: "ß" to "ss")
// with the key word's, one literal part at a time: a folding that runs past the end of a part
// (before an optional separator, or at the end) does not match.

// The case foldings of the last few characters outside ASCII: every spelling tried at a position
// folds the same characters.
class Foldings
{
public:
    QStringView of(char32_t codePoint)
    {
        for (Folding& folding : m_foldings) {
            if (folding.codePoint == codePoint && folding.length > 0)
                return QStringView(folding.folded, folding.length);
        }
        Folding& folding = m_foldings[m_next];
        m_next = (m_next + 1) % std::size(m_foldings);
        UChar source[2];
        int32_t length = 0;
        U16_APPEND_UNSAFE(source, length, UChar32(codePoint));
        UErrorCode status = U_ZERO_ERROR;
        folding.codePoint = codePoint;
        folding.length = u_strFoldCase(folding.folded, int32_t(std::size(folding.folded)), source, length,
                                       U_FOLD_CASE_DEFAULT, &status);
        if (U_FAILURE(status))
            folding.length = 0;
        return QStringView(folding.folded, folding.length);
    }

private:
    struct Folding
    {
        char32_t codePoint = 0;
        char16_t folded[8] = {};
        int32_t length = 0;
    };
    Folding m_foldings[4];
    std::size_t m_next = 0;
};

// Where `spelling` ends when it is written at `position`, -1 when it is not. The spelling is in
// lower case; '~' stands for an optional one of "_-" and '!' for an optional "_".
qsizetype spellingEnd(QStringView text, qsizetype position, const char* spelling, Foldings& foldings)
{
    const char* s = spelling;
    while (*s != '\0') {
        if (*s == '~' || *s == '!') {
            const char16_t c = position < text.size() ? text[position].unicode() : 0;
            if (c == u'_' || (*s == '~' && c == u'-'))
                ++position;
            ++s;
            continue;
        }
        if (position >= text.size())
            return -1;
        const auto c = codePointAt(text, position);
        position += c.width;
        if (c.value < 0x80) {
            const char32_t lower = c.value >= U'A' && c.value <= U'Z' ? c.value + (U'a' - U'A') : c.value;
            if (lower != char32_t(*s))
                return -1;
            ++s;
            continue;
        }
        const QStringView folded = foldings.of(c.value);
        if (folded.isEmpty())
            return -1;
        for (const QChar f : folded) {
            if (*s == '\0' || *s == '~' || *s == '!' || f.unicode() != char16_t(*s))
                return -1;
            ++s;
        }
    }
    return position;
}

// The characters outside ASCII whose case folding starts with one of the ASCII letters
// `initials` ("ſ" folds to "s", "ß" to "ss"): the only ones besides those letters (in either case)
// that can start a key word.
icu::UnicodeSet foldingToInitials(const char* initials)
{
    UErrorCode status = U_ZERO_ERROR;
    icu::UnicodeSet changing(UNICODE_STRING_SIMPLE("[:Changes_When_Casefolded:]"), status);
    icu::UnicodeSet folding;
    for (int32_t range = 0; range < changing.getRangeCount(); ++range) {
        for (UChar32 c = changing.getRangeStart(range); c <= changing.getRangeEnd(range); ++c) {
            UChar source[2];
            UChar folded[8];
            int32_t length = 0;
            U16_APPEND_UNSAFE(source, length, c);
            UErrorCode foldStatus = U_ZERO_ERROR;
            const int32_t foldedLength = u_strFoldCase(folded, 8, source, length, U_FOLD_CASE_DEFAULT, &foldStatus);
            if (c >= 0x80 && U_SUCCESS(foldStatus) && foldedLength > 0 && folded[0] < 0x80 && folded[0] != 0 &&
                std::strchr(initials, int(folded[0])) != nullptr)
                folding.add(c);
        }
    }
    folding.freeze();
    return folding;
}

bool mayStartName(char32_t codePoint, const char* initials, const icu::UnicodeSet& beyondASCII)
{
    if (codePoint >= 0x80)
        return beyondASCII.contains(UChar32(codePoint));
    const char32_t lower = codePoint >= U'A' && codePoint <= U'Z' ? codePoint + (U'a' - U'A') : codePoint;
    return lower != 0 && std::strchr(initials, int(lower)) != nullptr;
}

// The end of a key word written at `position` (a word boundary), followed by a word boundary.
template <std::size_t N>
std::optional<qsizetype> nameEnd(QStringView text, qsizetype position, const char* const (&spellings)[N])
{
    Foldings foldings;
    for (const char* spelling : spellings) {
        const qsizetype end = spellingEnd(text, position, spelling, foldings);
        if (end >= 0 && isWordBoundary(text, end))
            return end;
    }
    return std::nullopt;
}

// After a name: ['"]?\s*[:=]\s*['"]? — the start of the value, or nothing. No backtracking can
// change the outcome: a quote is neither white space nor a separator nor part of a value.
std::optional<qsizetype> valueStart(QStringView text, qsizetype position)
{
    if (position < text.size() && isQuote(text[position].unicode()))
        ++position;
    position = spacesEnd(text, position);
    if (position >= text.size() || (text[position] != u':' && text[position] != u'='))
        return std::nullopt;
    position = spacesEnd(text, position + 1);
    if (position < text.size() && isQuote(text[position].unicode()))
        ++position;
    return position;
}

// --- Access token: (?i)\b(name)\b['"]?\s*[:=]\s*['"]?[^'"\s]{8,}
std::optional<TextRange> firstAccessToken(QStringView text)
{
    static const icu::UnicodeSet beyondASCII = foldingToInitials("acps");
    for (qsizetype position = 0; position < text.size();) {
        const auto first = codePointAt(text, position);
        const qsizetype start = position;
        position += first.width;
        if (!mayStartName(first.value, "acps", beyondASCII) || !isWordBoundary(text, start))
            continue;
        const auto end = nameEnd(text, start, kAccessTokenNames);
        if (!end)
            continue;
        const auto value = valueStart(text, *end);
        if (!value)
            continue;
        // Eight or more code points that are neither quotes nor white space, as many as there are.
        qsizetype valueEnd = *value;
        int count = 0;
        while (valueEnd < text.size()) {
            const auto codePoint = codePointAt(text, valueEnd);
            if (isQuote(codePoint.value) || IcuRegex::isSpace(codePoint.value))
                break;
            valueEnd += codePoint.width;
            ++count;
        }
        if (count >= 8)
            return TextRange{start, valueEnd - start};
    }
    return std::nullopt;
}

// --- AWS access key: \bAKIA[0-9A-Z]{16}\b | (?i:\b(name)\b)['"]?\s*[:=]\s*['"]?[A-Za-z0-9/+]{40}(?![A-Za-z0-9/+])
std::optional<TextRange> firstAWSKey(QStringView text)
{
    static const icu::UnicodeSet beyondASCII = foldingToInitials("as");
    const auto isKeyIdCharacter = [](char32_t c) { return (c >= U'0' && c <= U'9') || (c >= U'A' && c <= U'Z'); };
    const auto isSecretCharacter = [](char32_t c) { return isASCIIAlphanumeric(c) || c == U'/' || c == U'+'; };
    for (qsizetype position = 0; position < text.size();) {
        const auto first = codePointAt(text, position);
        const qsizetype start = position;
        position += first.width;
        if (!mayStartName(first.value, "as", beyondASCII) || !isWordBoundary(text, start))
            continue;
        if (text.sliced(start).startsWith(u"AKIA") && runLength(text, start + 4, 16, isKeyIdCharacter) == 16 &&
            isWordBoundary(text, start + 20))
            return TextRange{start, 20};
        const auto end = nameEnd(text, start, kAWSSecretNames);
        if (!end)
            continue;
        const auto value = valueStart(text, *end);
        if (value && runLength(text, *value, 41, isSecretCharacter) == 40)
            return TextRange{start, *value + 40 - start};
    }
    return std::nullopt;
}

// --- OpenAI key: \bsk-[A-Za-z0-9_-]{24,}\b
// A match ends at the last word boundary of its token run. When the first start in a run has
// none far enough in, no later start in the same run has one either.
std::optional<TextRange> firstOpenAIKey(QStringView text)
{
    for (qsizetype position = text.indexOf(u"sk-"); position >= 0; position = text.indexOf(u"sk-", position)) {
        const qsizetype start = position;
        if (!isWordBoundary(text, start)) {
            ++position;
            continue;
        }
        const qsizetype end = runEnd(text, start + 3, isASCIITokenCharacter);
        for (qsizetype candidate = end; candidate >= start + 3 + 24; --candidate) {
            if (isWordBoundary(text, candidate))
                return TextRange{start, candidate - start};
        }
        position = end;
    }
    return std::nullopt;
}

// --- Stripe key: \b(?:sk|rk)_(?:live|test)_[A-Za-z0-9]{16,}\b
// Inside a run of letters and digits there is no word boundary: the match ends where the run does.
std::optional<TextRange> firstStripeKey(QStringView text)
{
    for (qsizetype position = text.indexOf(u"k_"); position >= 0; position = text.indexOf(u"k_", position + 1)) {
        const qsizetype start = position - 1;
        if (start < 0 || (text[start] != u's' && text[start] != u'r'))
            continue;
        const QStringView mode = text.sliced(position + 2);
        if (!(mode.startsWith(u"live_") || mode.startsWith(u"test_")) || !isWordBoundary(text, start))
            continue;
        const qsizetype keyStart = start + 8;
        const qsizetype end = runEnd(text, keyStart, isASCIIAlphanumeric);
        if (end - keyStart >= 16 && isWordBoundary(text, end))
            return TextRange{start, end - start};
    }
    return std::nullopt;
}

// --- Credit card: \b(?:\d[ -]*?){13,19}\b
// A number lies inside a run of digits, blanks and hyphens; runs holding fewer than 13 ASCII
// digits are passed over (only ASCII digits pass the checksum). From a start (a digit at a word
// boundary) the engine takes digits across separators until it holds 13; from then on it stops at
// the first digit followed by a separator, or at the end of the run where that is a word boundary,
// and gives up at 19 digits followed by another. Every number it finds is tried, so one that
// fails the checksum (an order number, say) does not hide a card number after it.
bool isSeparator(char32_t c)
{
    return c == U' ' || c == U'-';
}

struct CardWalk
{
    qsizetype end = -1; // where the engine's match from the start ends; -1 for none
    bool runExhausted = false; // no later start in the run can match either
    QString digits;
};

CardWalk walkCardNumber(QStringView text, qsizetype start, qsizetype runEnd)
{
    CardWalk walk;
    int count = 0;
    qsizetype cursor = start;
    while (true) {
        const auto digit = codePointAt(text, cursor);
        walk.digits += text.sliced(cursor, digit.width);
        ++count;
        cursor += digit.width;
        if (cursor >= runEnd) {
            if (count >= 13 && isWordBoundary(text, cursor))
                walk.end = cursor;
            else
                walk.runExhausted = true;
            return walk;
        }
        if (IcuRegex::isDigit(codePointAt(text, cursor).value)) {
            if (count == 19)
                return walk; // nowhere to end: between two digits there is no word boundary
            continue;
        }
        if (count >= 13) {
            walk.end = cursor;
            return walk;
        }
        while (cursor < runEnd && isSeparator(text[cursor].unicode()))
            ++cursor;
        if (cursor >= runEnd) {
            walk.runExhausted = true;
            return walk;
        }
    }
}

std::optional<TextRange> firstCardInRun(QStringView text, qsizetype runStart, qsizetype runEnd)
{
    qsizetype position = runStart;
    bool afterSeparator = false;
    while (position < runEnd) {
        const auto here = codePointAt(text, position);
        if (!IcuRegex::isDigit(here.value)) {
            afterSeparator = true;
            position += here.width;
            continue;
        }
        // Inside the run a digit starts a word only after a separator.
        const bool atBoundary = position == runStart ? isWordBoundary(text, position) : afterSeparator;
        afterSeparator = false;
        if (!atBoundary) {
            position += here.width;
            continue;
        }
        const CardWalk walk = walkCardNumber(text, position, runEnd);
        if (walk.end >= 0) {
            if (SensitiveContentDetector::passesLuhn(walk.digits))
                return TextRange{position, walk.end - position};
            position = walk.end; // the engine looks for the next number after this one
            continue;
        }
        if (walk.runExhausted)
            break;
        position += here.width;
    }
    return std::nullopt;
}

std::optional<TextRange> firstCardNumber(QStringView text)
{
    qsizetype runStart = -1;
    int asciiDigits = 0;
    for (qsizetype position = 0; position <= text.size();) {
        const auto here = position < text.size() ? codePointAt(text, position) : IcuRegex::CodePoint{0, 1};
        const bool inRun = position < text.size() && (IcuRegex::isDigit(here.value) || isSeparator(here.value));
        if (inRun) {
            if (runStart < 0)
                runStart = position;
            asciiDigits += here.value >= U'0' && here.value <= U'9' ? 1 : 0;
        } else if (runStart >= 0) {
            // Only ASCII digits pass the checksum: a run with fewer than 13 of them holds no card
            // number, however many digits of other scripts the expression would match in it.
            if (asciiDigits >= 13) {
                if (const auto range = firstCardInRun(text, runStart, position))
                    return range;
            }
            runStart = -1;
            asciiDigits = 0;
        }
        position += here.width;
    }
    return std::nullopt;
}

} // namespace

SensitiveContentDetector::SensitiveContentDetector()
{
    compile();
}

void SensitiveContentDetector::compile()
{
    constexpr Rule rules[] = {Rule::privateKey, Rule::jwt,       Rule::accessToken, Rule::awsAccessKey,
                              Rule::openAIKey,  Rule::stripeKey, Rule::creditCard};
    static_assert(std::size(rules) == std::size(kRuleDefinitions));
    m_patterns.clear();
    m_rules.clear();
    for (std::size_t i = 0; i < std::size(kRuleDefinitions); ++i) {
        IcuRegex::Expression expression(QString::fromUtf8(kRuleDefinitions[i].pattern));
        if (!expression.isValid())
            continue;
        m_patterns.append(Pattern{QString::fromUtf8(kRuleDefinitions[i].label), std::move(expression)});
        m_rules.append(rules[i]);
    }
}

SensitiveContentDetector SensitiveContentDetector::isolatedCopy() const
{
    return SensitiveContentDetector();
}

bool SensitiveContentDetector::passesLuhn(const QString& numberCharacters)
{
    // Count characters as code points: every character here is a single number character.
    const QList<uint> codePoints = numberCharacters.toUcs4();
    const qsizetype length = codePoints.size();
    if (length < 13 || length > 19)
        return false;
    int sum = 0;
    int position = 0;
    for (auto it = codePoints.crbegin(); it != codePoints.crend(); ++it, ++position) {
        if (*it < '0' || *it > '9')
            return false; // only ASCII digits read as integers
        int digit = static_cast<int>(*it - '0');
        if (position % 2 == 1) {
            digit *= 2;
            if (digit > 9)
                digit -= 9;
        }
        sum += digit;
    }
    return sum % 10 == 0;
}

std::optional<TextRange> SensitiveContentDetector::find(Rule rule, QStringView text) const
{
    switch (rule) {
    case Rule::privateKey:
        return firstPrivateKey(text);
    case Rule::jwt:
        return firstJWT(text);
    case Rule::accessToken:
        return firstAccessToken(text);
    case Rule::awsAccessKey:
        return firstAWSKey(text);
    case Rule::openAIKey:
        return firstOpenAIKey(text);
    case Rule::stripeKey:
        return firstStripeKey(text);
    case Rule::creditCard:
        return firstCardNumber(text);
    }
    return std::nullopt;
}

std::optional<SensitiveMatch> SensitiveContentDetector::firstMatch(const QString& text) const
{
    for (qsizetype i = 0; i < m_patterns.size(); ++i) {
        if (const auto range = find(m_rules.at(i), text))
            return SensitiveMatch{m_patterns.at(i).label, range};
    }
    return std::nullopt;
}

} // namespace QuillomareCore
