#include "SensitiveContentDetector.h"

namespace QuillomareCore {

namespace {

const QString kCreditCardLabel = QStringLiteral("Credit card");
const QString kJWTLabel = QStringLiteral("JWT");

struct Rule
{
    const char* label;
    const char* pattern;
};

// Word boundaries, digits and white space are Unicode-aware below (UseUnicodePropertiesOption),
// so digits of other scripts match the card rule and are then refused by the checksum.
// An armoured PGP private key ends its header with " BLOCK"; it is as private as any other key.
// An AWS key pair is the key id (AKIA…) and its secret access key, which has no shape of its own:
// it is recognised by the name it is given in credential files and environments
// (aws_secret_access_key, AWS_SECRET_ACCESS_KEY) followed by the 40 letters of the key.
constexpr Rule kRules[] = {
    {"Private key", R"re(-----BEGIN [A-Z ]*PRIVATE KEY(?: BLOCK)?-----)re"},
    {"JWT", R"re(\beyJ[A-Za-z0-9_-]{8,}\.[A-Za-z0-9_-]{8,}\.[A-Za-z0-9_-]{8,}\b)re"},
    {"Access token",
     R"re((?i)\b(api[_-]?key|access[_-]?token|secret|client[_-]?secret|password|passwd|pwd)\b\s*[:=]\s*['"]?[^'"\s]{8,})re"},
    {"AWS access key",
     R"re(\bAKIA[0-9A-Z]{16}\b|(?i:\baws_?secret_?access_?key\b)\s*[:=]\s*['"]?[A-Za-z0-9/+]{40}(?![A-Za-z0-9/+]))re"},
    {"OpenAI key", R"re(\bsk-[A-Za-z0-9_-]{24,}\b)re"},
    {"Stripe key", R"re(\b(?:sk|rk)_(?:live|test)_[A-Za-z0-9]{16,}\b)re"},
    {"Credit card", R"re(\b(?:\d[ -]*?){13,19}\b)re"},
};

// A card number can only lie inside a run of digits, blanks and hyphens holding at least 13
// digits. Finding those runs first keeps the card rule from crawling through every digit of a
// long text, and lets every candidate in the text be tried.
struct CandidateRun
{
    qsizetype start;
    qsizetype end;
};

// Calls f(codePoint, index, width) for each code point, a surrogate pair counting as one.
template <typename F> void forEachCodePoint(QStringView text, F&& f)
{
    for (qsizetype i = 0; i < text.size(); ++i) {
        char32_t codePoint = text[i].unicode();
        qsizetype width = 1;
        if (QChar::isHighSurrogate(codePoint) && i + 1 < text.size() && text[i + 1].isLowSurrogate()) {
            codePoint = QChar::surrogateToUcs4(text[i], text[i + 1]);
            width = 2;
        }
        f(codePoint, i, width);
        i += width - 1;
    }
}

QList<CandidateRun> cardCandidateRuns(const QString& text)
{
    QList<CandidateRun> runs;
    qsizetype runStart = -1;
    int digits = 0;
    // Only ASCII digits pass the checksum: a run with fewer than 13 of them holds no card number,
    // however many digits of other scripts the expression would match in it.
    int asciiDigits = 0;
    auto close = [&](qsizetype end) {
        if (runStart >= 0 && digits >= 13 && asciiDigits >= 13)
            runs.append(CandidateRun{runStart, end});
        runStart = -1;
        digits = 0;
        asciiDigits = 0;
    };
    forEachCodePoint(text, [&](char32_t codePoint, qsizetype i, qsizetype) {
        const bool digit = QChar::category(codePoint) == QChar::Number_DecimalDigit;
        if (digit || codePoint == U' ' || codePoint == U'-') {
            if (runStart < 0)
                runStart = i;
            digits += digit ? 1 : 0;
            asciiDigits += codePoint >= U'0' && codePoint <= U'9' ? 1 : 0;
        } else {
            close(i);
        }
    });
    close(text.size());
    return runs;
}

// The characters of a token's segments: [A-Za-z0-9_-].
bool isTokenCharacter(QChar c)
{
    const char16_t u = c.unicode();
    return (u >= u'a' && u <= u'z') || (u >= u'A' && u <= u'Z') || (u >= u'0' && u <= u'9') || u == u'_' || u == u'-';
}

qsizetype tokenRunEnd(QStringView text, qsizetype from)
{
    while (from < text.size() && isTokenCharacter(text[from]))
        ++from;
    return from;
}

// The characters of a matched card number that are numbers (any script), in order.
QString numberCharacters(QStringView text)
{
    QString kept;
    forEachCodePoint(text, [&](char32_t codePoint, qsizetype i, qsizetype width) {
        if (QChar::isNumber(codePoint))
            kept += text.mid(i, width);
    });
    return kept;
}

} // namespace

SensitiveContentDetector::SensitiveContentDetector()
    : m_wordCharacter(QStringLiteral("\\A\\w\\z"), QRegularExpression::UseUnicodePropertiesOption)
{
    for (const Rule& rule : kRules) {
        QRegularExpression expression(QString::fromUtf8(rule.pattern), QRegularExpression::UseUnicodePropertiesOption);
        if (!expression.isValid())
            continue;
        expression.optimize();
        m_patterns.append(Pattern{QString::fromUtf8(rule.label), std::move(expression)});
    }
}

SensitiveContentDetector SensitiveContentDetector::isolatedCopy() const
{
    SensitiveContentDetector copy;
    copy.m_patterns.clear();
    for (const Pattern& pattern : m_patterns) {
        QRegularExpression expression(pattern.expression.pattern(), pattern.expression.patternOptions());
        expression.optimize();
        copy.m_patterns.append(Pattern{pattern.label, std::move(expression)});
    }
    return copy;
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

std::optional<TextRange> SensitiveContentDetector::firstCardNumber(const QRegularExpression& expression,
                                                                   const QString& text)
{
    // Every candidate is tried in turn: a number that fails the checksum (an order number, say)
    // must not hide a card number after it.
    for (const CandidateRun& run : cardCandidateRuns(text)) {
        // One character of context on each side keeps the word boundaries what they are in the text.
        qsizetype from = std::max<qsizetype>(run.start - 1, 0);
        if (from > 0 && text[from].isLowSurrogate())
            --from;
        qsizetype to = std::min<qsizetype>(run.end + 1, text.size());
        if (to < text.size() && text[to - 1].isHighSurrogate())
            ++to;
        const QString window = text.mid(from, to - from);
        auto matches = expression.globalMatch(window, run.start - from);
        while (matches.hasNext()) {
            const QRegularExpressionMatch match = matches.next();
            const qsizetype start = from + match.capturedStart();
            const qsizetype length = match.capturedLength();
            if (start >= run.end)
                break;
            if (passesLuhn(numberCharacters(QStringView(text).mid(start, length))))
                return TextRange{start, length};
        }
    }
    return std::nullopt;
}

bool SensitiveContentDetector::isWordCharacter(char32_t codePoint) const
{
    if (codePoint < 0x80) {
        return (codePoint >= U'a' && codePoint <= U'z') || (codePoint >= U'A' && codePoint <= U'Z') ||
               (codePoint >= U'0' && codePoint <= U'9') || codePoint == U'_';
    }
    // Which letters, digits and marks of other scripts count as word characters is the engine's
    // business (and has changed between its versions); asking it about this one character keeps
    // the scan and the expression in agreement. A match over the whole text from this position
    // would cost the rest of the text each time, which is quadratic over a long text.
    const char32_t units[] = {codePoint};
    return m_wordCharacter.match(QString::fromUcs4(units, 1)).hasMatch();
}

bool SensitiveContentDetector::isWordBoundary(const QString& text, qsizetype position) const
{
    // The code points on either side, a surrogate pair counting as one, as the engine reads them.
    char32_t before = U' ';
    if (position > 0) {
        before = text[position - 1].unicode();
        if (QChar::isLowSurrogate(before) && position > 1 && text[position - 2].isHighSurrogate())
            before = QChar::surrogateToUcs4(text[position - 2], text[position - 1]);
    }
    char32_t after = U' ';
    if (position < text.size()) {
        after = text[position].unicode();
        if (QChar::isHighSurrogate(after) && position + 1 < text.size() && text[position + 1].isLowSurrogate())
            after = QChar::surrogateToUcs4(text[position], text[position + 1]);
    }
    return isWordCharacter(before) != isWordCharacter(after);
}

// The JWT expression, \beyJ[…]{8,}\.[…]{8,}\.[…]{8,}\b with […] the token characters, found in
// one pass. The dots are not token characters, so a match is three runs of them joined by dots:
// the first segment runs to the end of its run and the second is a whole run; only the third
// may stop early, at the last word boundary. The engine instead starts afresh at every "eyJ" of
// the first run and crawls to its end each time, which is quadratic in a run such as "-eyJ-eyJ…".
std::optional<TextRange> SensitiveContentDetector::firstJWT(const QString& text) const
{
    constexpr qsizetype minimumSegment = 8;
    const qsizetype length = text.size();
    qsizetype position = 0;
    while (position < length) {
        if (!isTokenCharacter(text[position])) {
            ++position;
            continue;
        }
        // Each run is looked at as a first, second and third segment at most once each.
        const qsizetype firstStart = position;
        const qsizetype firstEnd = tokenRunEnd(text, firstStart);
        position = firstEnd;
        if (firstEnd - firstStart < 3 + minimumSegment || firstEnd >= length || text[firstEnd] != u'.')
            continue;
        const qsizetype secondStart = firstEnd + 1;
        const qsizetype secondEnd = tokenRunEnd(text, secondStart);
        if (secondEnd - secondStart < minimumSegment || secondEnd >= length || text[secondEnd] != u'.')
            continue;
        const qsizetype thirdStart = secondEnd + 1;
        const qsizetype thirdEnd = tokenRunEnd(text, thirdStart);
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

std::optional<SensitiveMatch> SensitiveContentDetector::firstMatch(const QString& text) const
{
    for (const Pattern& pattern : m_patterns) {
        if (pattern.label == kCreditCardLabel) {
            if (const auto range = firstCardNumber(pattern.expression, text))
                return SensitiveMatch{pattern.label, range};
            continue;
        }
        if (pattern.label == kJWTLabel) {
            if (const auto range = firstJWT(text))
                return SensitiveMatch{pattern.label, range};
            continue;
        }
        const QRegularExpressionMatch match = pattern.expression.match(text);
        if (!match.hasMatch())
            continue;
        const qsizetype start = match.capturedStart();
        const qsizetype end = match.capturedEnd();
        if (start < 0 || end < start || end > text.size())
            continue;
        return SensitiveMatch{pattern.label, TextRange{start, end - start}};
    }
    return std::nullopt;
}

} // namespace QuillomareCore
