#include "Foundation.h"
#include "TextDecoding.h"

#include <QLocale>
#include <QStringDecoder>
#include <QTextBoundaryFinder>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>

namespace QuillomareCore {

namespace Text {

QString fromUtf8(QByteArrayView bytes)
{
    // ConvertInitialBom keeps the mark as the character U+FEFF (without it the decoder skips
    // it); Stateless, as each call is one whole text.
    QStringDecoder decoder(QStringDecoder::Utf8,
                           QStringDecoder::Flag::Stateless | QStringDecoder::Flag::ConvertInitialBom);
    return decoder.decode(bytes);
}

bool isBlank(QStringView text)
{
    return std::all_of(text.cbegin(), text.cend(), [](QChar c) { return c.isSpace(); });
}

QString trimmed(const QString& text)
{
    // QChar::isSpace covers the Unicode separators, U+0009–U+000D and U+0085: exactly the
    // white space and line breaks we trim everywhere.
    return text.trimmed();
}

namespace {

// A character that no rule of the grapheme cluster boundaries joins to a neighbour of the same
// sort: between two of them there is always a boundary. Marks, joiners, format characters, the
// Hangul jamo and syllables, surrogates (emoji, flags) and the few letters that prepend or attach
// are left to the boundary finder.
bool standsAloneBeyondASCII(char16_t c)
{
    if (c >= 0x4E00 && c <= 0x9FFF)
        return true; // CJK ideographs, most of a Chinese text
    if (QChar::isSurrogate(c) || (c >= 0x1100 && c <= 0x11FF) || (c >= 0xA960 && c <= 0xA97F) ||
        (c >= 0xAC00 && c <= 0xD7FF) || c == 0x0D4E || c == 0x0E33 || c == 0x0EB3)
        return false;
    switch (QChar::category(c)) {
    case QChar::Mark_NonSpacing:
    case QChar::Mark_SpacingCombining:
    case QChar::Mark_Enclosing:
    case QChar::Other_Format:
    case QChar::Letter_Modifier:
    case QChar::Other_NotAssigned:
        return false;
    default:
        return true;
    }
}

inline bool standsAlone(char16_t c)
{
    if (c < 0x80)
        return c != u'\r'; // may pair with a line feed
    return standsAloneBeyondASCII(c);
}

qsizetype finderCount(const QChar* text, qsizetype length)
{
    QTextBoundaryFinder finder(QTextBoundaryFinder::Grapheme, text, length);
    qsizetype count = 0;
    while (finder.toNextBoundary() != -1)
        ++count;
    return count;
}

} // namespace

qsizetype graphemeCount(const QString& text)
{
    // The boundary finder costs about 35 ns a character and a byte of memory for each; a text of
    // megabytes is counted one character at a time where its characters stand alone, and only
    // the stretches between such pairs are handed to the finder.
    const char16_t* units = reinterpret_cast<const char16_t*>(text.constData());
    const qsizetype n = text.size();
    qsizetype count = 0;
    qsizetype i = 0;
    // Whether the character at i, and the one after it, stand alone (past the end counts as one).
    bool here = n > 0 && standsAlone(units[0]);
    while (i < n) {
        if (here) {
            // The common run: ASCII (but CR) and CJK ideographs, counted in a tight loop.
            qsizetype j = i;
            while (j + 1 < n && (units[j + 1] < 0x80 ? units[j + 1] != u'\r'
                                                     : units[j + 1] >= 0x4E00 && units[j + 1] <= 0x9FFF))
                ++j;
            count += j - i;
            i = j;
        }
        bool next = i + 1 == n || standsAlone(units[i + 1]);
        if (here && next) {
            ++count;
            ++i;
            here = next;
            continue;
        }
        // Up to the first pair that stands alone: a boundary lies between them, as at i.
        qsizetype end = i + 1;
        bool before = here;
        while (end < n && !(before && next)) {
            ++end;
            before = next;
            next = end == n || standsAlone(units[end]);
        }
        count += finderCount(text.constData() + i, end - i);
        i = end;
        here = next;
    }
    return count;
}

QString graphemePrefix(const QString& text, qsizetype count)
{
    if (count <= 0)
        return {};
    QTextBoundaryFinder finder(QTextBoundaryFinder::Grapheme, text);
    qsizetype seen = 0;
    qsizetype position = 0;
    while (seen < count) {
        const qsizetype next = finder.toNextBoundary();
        if (next == -1)
            return text;
        position = next;
        ++seen;
    }
    return text.left(position);
}

namespace {

QString trimFraction(double value, int decimals)
{
    QString number = QString::number(value, 'f', decimals);
    if (number.contains(QLatin1Char('.'))) {
        while (number.endsWith(QLatin1Char('0')))
            number.chop(1);
        if (number.endsWith(QLatin1Char('.')))
            number.chop(1);
    }
    return number;
}

} // namespace

QString formatByteCount(qint64 bytes)
{
    if (bytes == 0)
        return QStringLiteral("Zero KB");
    const QString sign = bytes < 0 ? QStringLiteral("-") : QString();
    const double magnitude = std::abs(static_cast<double>(bytes));
    if (magnitude < 1000)
        return sign + QString::number(static_cast<qint64>(magnitude)) +
               (magnitude == 1 ? QStringLiteral(" byte") : QStringLiteral(" bytes"));

    struct Unit
    {
        const char* name;
        double size;
        int decimals;
    };
    static constexpr std::array<Unit, 5> units{{
        {"KB", 1e3, 0},
        {"MB", 1e6, 1},
        {"GB", 1e9, 2},
        {"TB", 1e12, 2},
        {"PB", 1e15, 2},
    }};
    for (size_t i = 0; i < units.size(); ++i) {
        const Unit& unit = units[i];
        const double scaled = magnitude / unit.size;
        const double factor = std::pow(10.0, unit.decimals);
        const double rounded = std::round(scaled * factor) / factor;
        // 999,999 bytes read "1 MB", not "1,000 KB".
        if (rounded >= 1000 && i + 1 < units.size())
            continue;
        return sign + trimFraction(rounded, unit.decimals) + QLatin1Char(' ') + QLatin1String(unit.name);
    }
    return {};
}

} // namespace Text

namespace Uuid {

QString text(const QUuid& uuid)
{
    const QByteArray raw = uuid.toRfc4122();
    static constexpr char16_t hex[] = u"0123456789ABCDEF";
    char16_t out[36];
    int at = 0;
    for (int i = 0; i < 16; ++i) {
        if (i == 4 || i == 6 || i == 8 || i == 10)
            out[at++] = u'-';
        const auto byte = static_cast<unsigned char>(raw[i]);
        out[at++] = hex[byte >> 4];
        out[at++] = hex[byte & 15];
    }
    return QString(reinterpret_cast<const QChar*>(out), 36);
}

std::optional<QUuid> fromText(QStringView text)
{
    if (text.size() != 36)
        return std::nullopt;
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text[i];
        const bool dashPosition = i == 8 || i == 13 || i == 18 || i == 23;
        if (dashPosition != (c == QLatin1Char('-')))
            return std::nullopt;
        if (!dashPosition && !std::isxdigit(static_cast<unsigned char>(c.toLatin1())))
            return std::nullopt;
    }
    const QUuid uuid = QUuid::fromString(text);
    if (uuid.isNull() && text != QLatin1String("00000000-0000-0000-0000-000000000000"))
        return std::nullopt;
    return uuid;
}

} // namespace Uuid

namespace Iso8601 {

QDateTime clamped(const QDateTime& date)
{
    static const QDateTime earliest(QDate(1, 1, 1), QTime(0, 0), Qt::UTC);
    static const QDateTime latest(QDate(9999, 12, 31), QTime(23, 59, 59, 999), Qt::UTC);
    if (!date.isValid())
        return date;
    return date < earliest ? earliest : date > latest ? latest : date;
}

QString format(const QDateTime& date)
{
    const QDateTime utc = clamped(date).toUTC();
    const QDate d = utc.date();
    const QTime t = utc.time();
    const int year = d.year();
    char16_t out[24];
    auto put = [&](int at, int value, int width) {
        for (int i = width - 1; i >= 0; --i, value /= 10)
            out[at + i] = char16_t(u'0' + value % 10);
    };
    put(0, year, 4); out[4] = u'-'; put(5, d.month(), 2); out[7] = u'-'; put(8, d.day(), 2);
    out[10] = u'T'; put(11, t.hour(), 2); out[13] = u':'; put(14, t.minute(), 2); out[16] = u':';
    put(17, t.second(), 2); out[19] = u'.'; put(20, t.msec(), 3); out[23] = u'Z';
    return QString(reinterpret_cast<const QChar*>(out), 24);
}

namespace {

template <typename Char>
std::optional<QDateTime> parseChars(const Char* s, qsizetype n)
{
    qsizetype pos = 0;
    auto digits = [&](int count, int& value) {
        if (pos + count > n)
            return false;
        value = 0;
        for (int i = 0; i < count; ++i) {
            const auto c = static_cast<char32_t>(s[pos + i]);
            if (c < U'0' || c > U'9')
                return false;
            value = value * 10 + static_cast<int>(c - U'0');
        }
        pos += count;
        return true;
    };
    auto literal = [&](char32_t expected) {
        if (pos >= n || static_cast<char32_t>(s[pos]) != expected)
            return false;
        ++pos;
        return true;
    };

    int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0;
    if (!digits(4, year) || !literal(U'-') || !digits(2, month) || !literal(U'-') || !digits(2, day) ||
        !literal(U'T') || !digits(2, hour) || !literal(U':') || !digits(2, minute) || !literal(U':') ||
        !digits(2, second))
        return std::nullopt;

    int millis = 0;
    if (pos < n && static_cast<char32_t>(s[pos]) == U'.') {
        ++pos;
        int fractionDigits = 0;
        while (pos < n && static_cast<char32_t>(s[pos]) >= U'0' && static_cast<char32_t>(s[pos]) <= U'9') {
            if (fractionDigits < 3)
                millis = millis * 10 + static_cast<int>(static_cast<char32_t>(s[pos]) - U'0');
            ++fractionDigits;
            ++pos;
        }
        if (fractionDigits == 0)
            return std::nullopt;
        for (int i = fractionDigits; i < 3; ++i)
            millis *= 10;
    }

    int offsetSeconds = 0;
    if (literal(U'Z')) {
    } else if (pos < n && (static_cast<char32_t>(s[pos]) == U'+' || static_cast<char32_t>(s[pos]) == U'-')) {
        const int sign = static_cast<char32_t>(s[pos]) == U'-' ? -1 : 1;
        ++pos;
        int offsetHours = 0, offsetMinutes = 0;
        if (!digits(2, offsetHours))
            return std::nullopt;
        literal(U':');
        if (!digits(2, offsetMinutes) || offsetHours > 23 || offsetMinutes > 59)
            return std::nullopt;
        offsetSeconds = sign * (offsetHours * 3600 + offsetMinutes * 60);
    } else {
        return std::nullopt;
    }
    if (pos != n)
        return std::nullopt;

    const QDate date(year, month, day);
    const QTime time(hour, minute, second, millis);
    if (!date.isValid() || !time.isValid())
        return std::nullopt;
    return clamped(QDateTime(date, time, Qt::UTC).addSecs(-offsetSeconds));
}

} // namespace

std::optional<QDateTime> parse(QStringView text)
{
    return parseChars(text.utf16(), text.size());
}

std::optional<QDateTime> parse(std::string_view text)
{
    return parseChars(reinterpret_cast<const unsigned char*>(text.data()), static_cast<qsizetype>(text.size()));
}

} // namespace Iso8601

namespace Base64 {

namespace {

constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

constexpr std::array<qint8, 256> makeDecodeTable()
{
    std::array<qint8, 256> table{};
    for (auto& entry : table)
        entry = -1;
    for (int i = 0; i < 64; ++i)
        table[static_cast<unsigned char>(kAlphabet[i])] = static_cast<qint8>(i);
    return table;
}

constexpr std::array<qint8, 256> kDecode = makeDecodeTable();

// The letter's six bits already in place for each of the four positions; a letter outside the
// alphabet sets the top bit, which survives the OR of a group.
struct ShiftedTables
{
    quint32 t[4][256];
    constexpr ShiftedTables() : t{}
    {
        for (int position = 0; position < 4; ++position)
            for (int c = 0; c < 256; ++c)
                t[position][c] = kDecode[c] < 0 ? 0x80000000u : quint32(kDecode[c]) << (18 - 6 * position);
    }
    constexpr const quint32* operator[](int position) const { return t[position]; }
};
constexpr ShiftedTables kShifted;

} // namespace

namespace {
// Every 12-bit value as its two letters: two lookups per three bytes instead of four.
struct PairTable
{
    char pairs[4096][2];
    constexpr PairTable() : pairs{}
    {
        for (int i = 0; i < 4096; ++i) {
            pairs[i][0] = kAlphabet[i >> 6];
            pairs[i][1] = kAlphabet[i & 63];
        }
    }
};
constexpr PairTable kPairs;
} // namespace

void appendEncoded(QByteArray& out, const char* data, qsizetype size)
{
    const qsizetype start = out.size();
    out.resize(start + (size + 2) / 3 * 4);
    char* dst = out.data() + start;
    const auto* src = reinterpret_cast<const unsigned char*>(data);
    qsizetype i = 0;
    for (; i + 3 <= size; i += 3) {
        const quint32 v = (quint32(src[i]) << 16) | (quint32(src[i + 1]) << 8) | quint32(src[i + 2]);
        std::memcpy(dst, kPairs.pairs[v >> 12], 2);
        std::memcpy(dst + 2, kPairs.pairs[v & 4095], 2);
        dst += 4;
    }
    const qsizetype rest = size - i;
    if (rest == 1) {
        const quint32 v = quint32(src[i]) << 16;
        *dst++ = kAlphabet[(v >> 18) & 63];
        *dst++ = kAlphabet[(v >> 12) & 63];
        *dst++ = '=';
        *dst++ = '=';
    } else if (rest == 2) {
        const quint32 v = (quint32(src[i]) << 16) | (quint32(src[i + 1]) << 8);
        *dst++ = kAlphabet[(v >> 18) & 63];
        *dst++ = kAlphabet[(v >> 12) & 63];
        *dst++ = kAlphabet[(v >> 6) & 63];
        *dst++ = '=';
    }
}

QByteArray encode(const QByteArray& data)
{
    QByteArray out;
    appendEncoded(out, data.constData(), data.size());
    return out;
}

std::optional<QByteArray> decode(std::string_view text)
{
    const qsizetype n = static_cast<qsizetype>(text.size());
    if (n % 4 != 0)
        return std::nullopt;
    if (n == 0)
        return QByteArray();
    qsizetype padding = 0;
    if (text[n - 1] == '=')
        padding = text[n - 2] == '=' ? 2 : 1;

    QByteArray out(n / 4 * 3 - padding, Qt::Uninitialized);
    auto* dst = reinterpret_cast<unsigned char*>(out.data());
    const auto* src = reinterpret_cast<const unsigned char*>(text.data());
    const qsizetype fullGroups = (n / 4) - (padding ? 1 : 0);
    quint32 invalid = 0;
    for (qsizetype g = 0; g < fullGroups; ++g, src += 4) {
        const quint32 v = kShifted[0][src[0]] | kShifted[1][src[1]] | kShifted[2][src[2]] | kShifted[3][src[3]];
        invalid |= v;
        *dst++ = static_cast<unsigned char>(v >> 16);
        *dst++ = static_cast<unsigned char>(v >> 8);
        *dst++ = static_cast<unsigned char>(v);
    }
    if (invalid & 0x80000000u)
        return std::nullopt;
    if (padding) {
        const qint32 a = kDecode[src[0]], b = kDecode[src[1]];
        if ((a | b) < 0)
            return std::nullopt;
        if (padding == 2) {
            *dst++ = static_cast<unsigned char>((a << 2) | (b >> 4));
        } else {
            const qint32 c = kDecode[src[2]];
            if (c < 0)
                return std::nullopt;
            *dst++ = static_cast<unsigned char>((a << 2) | (b >> 4));
            *dst++ = static_cast<unsigned char>(((b & 0x0F) << 4) | (c >> 2));
        }
    }
    return out;
}

} // namespace Base64

namespace Png {

std::optional<QSize> headerSize(QByteArrayView head)
{
    // The signature, then the header chunk: its length (13) and type, width, height, depth,
    // colour type, compression, filter and interlace methods, and its check sum.
    static constexpr char signature[] = "\x89PNG\r\n\x1a\n";
    if (head.size() < 24 || !head.startsWith(QByteArrayView(signature, 8)))
        return std::nullopt;
    const auto bigEndian32 = [&](qsizetype at) {
        return quint32(uchar(head[at])) << 24 | quint32(uchar(head[at + 1])) << 16 | quint32(uchar(head[at + 2])) << 8 |
               quint32(uchar(head[at + 3]));
    };
    if (bigEndian32(8) != 13 || head.sliced(12, 4) != QByteArrayView("IHDR"))
        return std::nullopt;
    const quint32 width = bigEndian32(16);
    const quint32 height = bigEndian32(20);
    if (width == 0 || height == 0 || width > 0x7fffffff || height > 0x7fffffff)
        return std::nullopt;
    if (head.size() >= 33) {
        const int depth = uchar(head[24]);
        const int colour = uchar(head[25]);
        const bool depthKnown = depth == 1 || depth == 2 || depth == 4 || depth == 8 || depth == 16;
        const bool colourKnown = colour == 0 || colour == 2 || colour == 3 || colour == 4 || colour == 6;
        if (!depthKnown || !colourKnown || head[26] != 0 || head[27] != 0 || uchar(head[28]) > 1)
            return std::nullopt;
    }
    return QSize(int(width), int(height));
}

} // namespace Png

namespace Clock {

namespace {
std::function<QDateTime()>& provider()
{
    static std::function<QDateTime()> instance;
    return instance;
}
} // namespace

QDateTime now()
{
    const auto& custom = provider();
    return (custom ? custom() : QDateTime::currentDateTimeUtc()).toUTC();
}

void setNowProvider(std::function<QDateTime()> newProvider)
{
    provider() = std::move(newProvider);
}

void resetNowProvider()
{
    provider() = nullptr;
}

} // namespace Clock

} // namespace QuillomareCore
