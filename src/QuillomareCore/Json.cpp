#include "Json.h"

#include "Foundation.h"
#include "StoredImage.h"
#include "TextDecoding.h"

#include <QIODevice>
#include <QStringEncoder>
#include <QThread>
#include <QThreadPool>

#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>
#include <cstring>
#include <latch>
#include <limits>
#include <memory>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace QuillomareCore::Json {

namespace {

constexpr int kMaxDepth = 512;
constexpr qsizetype kFlushThreshold = 4 * 1024 * 1024;

QString syntaxError(const char* message, qsizetype offset)
{
    return QStringLiteral("The data couldn't be read because it isn't valid JSON (%1 at byte %2).")
        .arg(QLatin1String(message))
        .arg(offset);
}

// Characters that end the fast scan of a string: the quote, the backslash and control characters.
constexpr std::array<bool, 256> makeStringStops()
{
    std::array<bool, 256> stops{};
    for (int c = 0; c < 0x20; ++c)
        stops[c] = true;
    stops['"'] = true;
    stops['\\'] = true;
    return stops;
}
constexpr std::array<bool, 256> kStringStops = makeStringStops();

// The first byte at or after p that ends a fast string run (a quote, a backslash, a control
// character and, for the parser, which checks UTF-8, a byte of a multi-byte sequence); eight
// bytes at a time while none does.
template <bool stopAtNonAscii>
const char* skipRun(const char* p, const char* end)
{
#if defined(__SSE2__)
    // Sixty-four bytes at a time: strings of text are short, but an image's is megabytes.
    const __m128i quote = _mm_set1_epi8('"'), backslash = _mm_set1_epi8('\\');
    const __m128i space = _mm_set1_epi8(0x20), controlMax = _mm_set1_epi8(0x1F);
    auto stops = [&](__m128i x) {
        __m128i hits = _mm_or_si128(_mm_cmpeq_epi8(x, quote), _mm_cmpeq_epi8(x, backslash));
        if (stopAtNonAscii) // signed: bytes of 0x80 and above are below the space too
            return _mm_or_si128(hits, _mm_cmplt_epi8(x, space));
        return _mm_or_si128(hits, _mm_cmpeq_epi8(_mm_min_epu8(x, controlMax), x));
    };
    while (end - p >= 64) {
        __m128i hits = stops(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p)));
        hits = _mm_or_si128(hits, stops(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 16))));
        hits = _mm_or_si128(hits, stops(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 32))));
        hits = _mm_or_si128(hits, stops(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 48))));
        if (_mm_movemask_epi8(hits) != 0)
            break;
        p += 64;
    }
#endif
    constexpr quint64 ones = 0x0101010101010101ULL;
    constexpr quint64 highs = 0x8080808080808080ULL;
    while (end - p >= 8) {
        quint64 x;
        std::memcpy(&x, p, 8);
        const quint64 quote = x ^ (ones * '"');
        const quint64 backslash = x ^ (ones * '\\');
        quint64 hits = ((quote - ones) & ~quote) | ((backslash - ones) & ~backslash) | ((x - ones * 0x20) & ~x);
        if (stopAtNonAscii)
            hits |= x;
        if (hits & highs)
            break;
        p += 8;
    }
    while (p < end && !kStringStops[static_cast<unsigned char>(*p)] &&
           !(stopAtNonAscii && static_cast<unsigned char>(*p) >= 0x80))
        ++p;
    return p;
}

// Base64Text::skipLetters, with a run of letters longer than a piece (an image's text: megabytes)
// scanned by several threads at once. The first piece is scanned alone, so a short string costs
// nothing more; after it, each round scans as many pieces as there are threads and ends the
// search at the first piece that holds a byte other than a letter.
class LetterScanner
{
public:
    const char* skipLetters(const char* p, const char* end)
    {
        const char* firstEnd = end - p > kPiece ? p + kPiece : end;
        const char* stop = Base64Text::skipLetters(p, firstEnd);
        if (stop < firstEnd || stop == end)
            return stop;
        if (!m_pool) {
            m_pool = std::make_unique<QThreadPool>();
            m_pool->setMaxThreadCount(std::clamp(QThread::idealThreadCount() - 1, 0, kMaxHelpers));
        }
        const int helpers = m_pool->maxThreadCount();
        if (helpers == 0)
            return Base64Text::skipLetters(stop, end);
        p = stop;
        while (p < end) {
            std::array<const char*, kMaxHelpers + 1> starts{}, ends{}, stops{};
            int pieces = 0;
            for (const char* from = p; from < end && pieces <= helpers; from = ends[pieces - 1]) {
                starts[pieces] = from;
                ends[pieces] = from + std::min<qsizetype>(kPiece, end - from);
                ++pieces;
            }
            std::latch scanned(pieces - 1);
            for (int i = 1; i < pieces; ++i) {
                m_pool->start([&, i] {
                    stops[i] = Base64Text::skipLetters(starts[i], ends[i]);
                    scanned.count_down();
                });
            }
            stops[0] = Base64Text::skipLetters(starts[0], ends[0]);
            scanned.wait();
            for (int i = 0; i < pieces; ++i) {
                if (stops[i] < ends[i])
                    return stops[i];
            }
            p = ends[pieces - 1];
        }
        return end;
    }

private:
    static constexpr qsizetype kPiece = 1 << 20;
    static constexpr int kMaxHelpers = 3;
    std::unique_ptr<QThreadPool> m_pool;
};

const char* skipPlain(const char* p, const char* end)
{
    return skipRun<false>(p, end);
}

const char* skipPlainAscii(const char* p, const char* end)
{
    return skipRun<true>(p, end);
}

// The length of the well-formed UTF-8 sequence at p (shortest form, no surrogates, at most
// U+10FFFF), or 0.
int utf8SequenceLength(const unsigned char* p, const unsigned char* end)
{
    const unsigned char lead = p[0];
    int length = 0;
    unsigned char low = 0x80, high = 0xBF;
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        if (lead == 0xE0)
            low = 0xA0;
        else if (lead == 0xED)
            high = 0x9F;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        if (lead == 0xF0)
            low = 0x90;
        else if (lead == 0xF4)
            high = 0x8F;
    } else {
        return 0;
    }
    if (end - p < length || p[1] < low || p[1] > high)
        return 0;
    for (int i = 2; i < length; ++i) {
        if (p[i] < 0x80 || p[i] > 0xBF)
            return 0;
    }
    return length;
}

} // namespace

class Parser
{
public:
    Parser(const char* data, qsizetype size, Document& document, const std::function<void(qsizetype)>* passed)
        : m_begin(data), m_p(data), m_end(data + size), m_nodes(document.m_nodes), m_passed(passed),
          m_reported(data)
    {
    }

    void parseDocument()
    {
        // A byte-order mark is no part of JSON, but some editors write one.
        if (m_end - m_p >= 3 && std::memcmp(m_p, "\xEF\xBB\xBF", 3) == 0)
            m_p += 3;
        skipWhitespace();
        parseValue(0);
        skipWhitespace();
        if (m_p != m_end)
            fail("garbage after the top-level value");
    }

private:
    [[noreturn]] void fail(const char* message) const
    {
        throw DecodingError(syntaxError(message, m_p - m_begin));
    }

    void skipWhitespace()
    {
        while (m_p < m_end && (*m_p == ' ' || *m_p == '\n' || *m_p == '\r' || *m_p == '\t'))
            ++m_p;
    }

    quint32 addNode(Type type)
    {
        if (m_nodes.size() >= std::numeric_limits<quint32>::max())
            fail("too many values");
        m_nodes.push_back(Document::Node{});
        m_nodes.back().type = type;
        return static_cast<quint32>(m_nodes.size() - 1);
    }

    bool matchLiteral(const char* literal)
    {
        const size_t length = std::strlen(literal);
        if (static_cast<size_t>(m_end - m_p) < length || std::memcmp(m_p, literal, length) != 0)
            return false;
        m_p += length;
        return true;
    }

    quint32 parseValue(int depth)
    {
        if (m_p >= m_end)
            fail("unexpected end of data");
        switch (*m_p) {
        case '{':
            return parseObject(depth + 1);
        case '[':
            return parseArray(depth + 1);
        case '"':
            return parseString();
        case 't':
        case 'f': {
            const quint32 node = addNode(Type::Bool);
            if (matchLiteral("true"))
                m_nodes[node].flag = true;
            else if (!matchLiteral("false"))
                fail("invalid literal");
            return node;
        }
        case 'n':
            if (!matchLiteral("null"))
                fail("invalid literal");
            return addNode(Type::Null);
        default:
            return parseNumber();
        }
    }

    void closeContainer(quint32 node, const char* start)
    {
        m_nodes[node].offset = static_cast<quint64>(start - m_begin);
        m_nodes[node].length = static_cast<quint64>(m_p - start);
    }

    quint32 parseObject(int depth)
    {
        if (depth > kMaxDepth)
            fail("nesting too deep");
        const quint32 node = addNode(Type::Object);
        const char* start = m_p;
        ++m_p;
        skipWhitespace();
        if (m_p < m_end && *m_p == '}') {
            ++m_p;
            closeContainer(node, start);
            return node;
        }
        quint32 previousValue = 0;
        quint32 count = 0;
        while (true) {
            skipWhitespace();
            if (m_p >= m_end || *m_p != '"')
                fail("expected a key string");
            const quint32 key = parseString();
            skipWhitespace();
            if (m_p >= m_end || *m_p != ':')
                fail("expected ':'");
            ++m_p;
            skipWhitespace();
            const quint32 value = parseValue(depth);
            m_nodes[key].next = value;
            if (previousValue)
                m_nodes[previousValue].next = key;
            else
                m_nodes[node].first = key;
            previousValue = value;
            ++count;
            skipWhitespace();
            if (m_p < m_end && *m_p == ',') {
                ++m_p;
                continue;
            }
            if (m_p < m_end && *m_p == '}') {
                ++m_p;
                break;
            }
            fail("expected ',' or '}'");
        }
        m_nodes[node].count = count;
        closeContainer(node, start);
        return node;
    }

    quint32 parseArray(int depth)
    {
        if (depth > kMaxDepth)
            fail("nesting too deep");
        const quint32 node = addNode(Type::Array);
        const char* start = m_p;
        ++m_p;
        skipWhitespace();
        if (m_p < m_end && *m_p == ']') {
            ++m_p;
            closeContainer(node, start);
            return node;
        }
        quint32 previous = 0;
        quint32 count = 0;
        while (true) {
            skipWhitespace();
            const quint32 value = parseValue(depth);
            if (previous)
                m_nodes[previous].next = value;
            else
                m_nodes[node].first = value;
            previous = value;
            ++count;
            skipWhitespace();
            if (m_p < m_end && *m_p == ',') {
                ++m_p;
                continue;
            }
            if (m_p < m_end && *m_p == ']') {
                ++m_p;
                break;
            }
            fail("expected ',' or ']'");
        }
        m_nodes[node].count = count;
        closeContainer(node, start);
        return node;
    }

    quint32 parseString()
    {
        const quint32 node = addNode(Type::String);
        ++m_p; // opening quote
        const char* start = m_p;
        bool escapes = false;
        // Images are strings of base64 letters: the letters are looked at once, here, and the
        // decoding need not read them again.
        const char* lettersEnd = m_letters.skipLetters(m_p, m_end);
        m_p = lettersEnd;
        while (true) {
            m_p = skipPlainAscii(m_p, m_end);
            if (m_p >= m_end)
                fail("unterminated string");
            const char c = *m_p;
            if (c == '"')
                break;
            if (static_cast<unsigned char>(c) >= 0x80) {
                const int length = utf8SequenceLength(reinterpret_cast<const unsigned char*>(m_p),
                                                      reinterpret_cast<const unsigned char*>(m_end));
                if (length == 0)
                    fail("invalid UTF-8 in string");
                m_p += length;
                continue;
            }
            if (c != '\\')
                fail("control character in string");
            escapes = true;
            ++m_p;
            if (m_p >= m_end)
                fail("unterminated string");
            switch (*m_p) {
            case '"':
            case '\\':
            case '/':
            case 'b':
            case 'f':
            case 'n':
            case 'r':
            case 't':
                ++m_p;
                break;
            case 'u':
                ++m_p;
                for (int i = 0; i < 4; ++i, ++m_p) {
                    if (m_p >= m_end || !std::isxdigit(static_cast<unsigned char>(*m_p)))
                        fail("invalid \\u escape");
                }
                break;
            default:
                fail("invalid escape");
            }
        }
        Document::Node& n = m_nodes[node];
        n.offset = static_cast<quint64>(start - m_begin);
        n.length = static_cast<quint64>(m_p - start);
        n.flag = escapes;
        n.base64 = !escapes && Base64Text::isValid(std::string_view(start, n.length), lettersEnd);
        ++m_p; // closing quote
        // Strings are where the bytes are (images' base64), so the reader hears of the progress
        // here, in steps large enough to cost nothing.
        if (m_passed && m_p - m_reported >= kPassedStep) {
            m_reported = m_p;
            (*m_passed)(m_p - m_begin);
        }
        return node;
    }

    quint32 parseNumber()
    {
        const char* start = m_p;
        if (m_p < m_end && *m_p == '-')
            ++m_p;
        auto digits = [&] {
            const char* from = m_p;
            while (m_p < m_end && *m_p >= '0' && *m_p <= '9')
                ++m_p;
            return m_p - from;
        };
        if (m_p < m_end && *m_p == '0') {
            ++m_p;
        } else if (digits() == 0) {
            m_p = start;
            fail("invalid value");
        }
        if (m_p < m_end && *m_p == '.') {
            ++m_p;
            if (digits() == 0)
                fail("invalid number");
        }
        if (m_p < m_end && (*m_p == 'e' || *m_p == 'E')) {
            ++m_p;
            if (m_p < m_end && (*m_p == '+' || *m_p == '-'))
                ++m_p;
            if (digits() == 0)
                fail("invalid number");
        }
        const quint32 node = addNode(Type::Number);
        m_nodes[node].offset = static_cast<quint64>(start - m_begin);
        m_nodes[node].length = static_cast<quint64>(m_p - start);
        return node;
    }

    const char* m_begin;
    const char* m_p;
    const char* m_end;
    std::vector<Document::Node>& m_nodes;
    static constexpr qsizetype kPassedStep = 1 << 20;
    const std::function<void(qsizetype)>* m_passed;
    const char* m_reported;
    LetterScanner m_letters;
};

Document Document::parse(const char* data, qsizetype size)
{
    return parse(data, size, {});
}

Document Document::parse(const char* data, qsizetype size, const std::function<void(qsizetype)>& passed)
{
    Document document;
    document.m_data = data;
    // A rough guess that avoids most regrowth for small documents without over-reserving big ones.
    document.m_nodes.reserve(static_cast<size_t>(std::min<qsizetype>(size / 16 + 16, 1 << 16)));
    Parser(data, size, document, passed ? &passed : nullptr).parseDocument();
    return document;
}

// --- Value

Type Value::type() const
{
    return m_document->m_nodes[m_index].type;
}

quint32 Value::firstChild() const
{
    return m_document->m_nodes[m_index].first;
}

quint32 Value::nextSibling(quint32 index) const
{
    return m_document->m_nodes[index].next;
}

std::string_view Value::keyText() const
{
    const auto& node = m_document->m_nodes[m_index];
    return std::string_view(m_document->m_data + node.offset, node.length);
}

const char* Value::typeName(Type type)
{
    switch (type) {
    case Type::Null:
        return "null";
    case Type::Bool:
        return "bool";
    case Type::Number:
        return "number";
    case Type::String:
        return "string";
    case Type::Array:
        return "array";
    case Type::Object:
        return "dictionary";
    }
    return "value";
}

void Value::typeMismatch(const char* expected, const char* what) const
{
    throw DecodingError(QStringLiteral("Expected to decode %1 for %2 but found %3 instead.")
                            .arg(QLatin1String(expected), QLatin1String(what), QLatin1String(typeName(type()))));
}

bool Value::toBool(const char* what) const
{
    if (type() != Type::Bool)
        typeMismatch("Bool", what);
    return m_document->m_nodes[m_index].flag;
}

double Value::toDouble(const char* what) const
{
    if (type() != Type::Number)
        typeMismatch("Double", what);
    const auto& node = m_document->m_nodes[m_index];
    const char* begin = m_document->m_data + node.offset;
    double value = 0;
    const auto result = std::from_chars(begin, begin + node.length, value);
    if (result.ec != std::errc())
        throw DecodingError(QStringLiteral("The number for %1 does not fit in a Double.").arg(QLatin1String(what)));
    return value;
}

qint64 Value::toInt64(const char* what) const
{
    if (type() != Type::Number)
        typeMismatch("Int", what);
    const auto& node = m_document->m_nodes[m_index];
    const char* begin = m_document->m_data + node.offset;
    const char* end = begin + node.length;
    qint64 value = 0;
    const auto result = std::from_chars(begin, end, value);
    if (result.ec == std::errc() && result.ptr == end)
        return value;
    // 200.0 or 2e2 are whole numbers too; 200.5 is not.
    const double d = toDouble(what);
    if (std::isfinite(d) && std::trunc(d) == d && d >= -9.2e18 && d <= 9.2e18)
        return static_cast<qint64>(d);
    throw DecodingError(QStringLiteral("The number for %1 is not a whole number that fits in Int.")
                            .arg(QLatin1String(what)));
}

std::optional<std::string_view> Value::rawString() const
{
    const auto& node = m_document->m_nodes[m_index];
    if (node.type != Type::String || node.flag)
        return std::nullopt;
    return std::string_view(m_document->m_data + node.offset, node.length);
}

bool Value::holdsBase64Text() const
{
    return m_document->m_nodes[m_index].base64;
}

QString Value::toString(const char* what) const
{
    if (type() != Type::String)
        typeMismatch("String", what);
    const auto& node = m_document->m_nodes[m_index];
    const char* p = m_document->m_data + node.offset;
    const char* end = p + node.length;
    if (!node.flag)
        return Text::fromUtf8(QByteArrayView(p, static_cast<qsizetype>(node.length)));

    QString out;
    out.reserve(static_cast<qsizetype>(node.length));
    while (p < end) {
        const char* run = p;
        while (p < end && *p != '\\')
            ++p;
        if (p > run)
            out += Text::fromUtf8(QByteArrayView(run, p - run));
        if (p >= end)
            break;
        ++p; // backslash; the parser has checked every escape
        switch (*p++) {
        case '"':
            out += QLatin1Char('"');
            break;
        case '\\':
            out += QLatin1Char('\\');
            break;
        case '/':
            out += QLatin1Char('/');
            break;
        case 'b':
            out += QLatin1Char('\b');
            break;
        case 'f':
            out += QLatin1Char('\f');
            break;
        case 'n':
            out += QLatin1Char('\n');
            break;
        case 'r':
            out += QLatin1Char('\r');
            break;
        case 't':
            out += QLatin1Char('\t');
            break;
        case 'u': {
            unsigned int unit = 0;
            std::from_chars(p, p + 4, unit, 16);
            out += QChar(static_cast<char16_t>(unit));
            p += 4;
            break;
        }
        default:
            break;
        }
    }
    return out;
}

void Value::requireArray(const char* what) const
{
    if (type() != Type::Array)
        typeMismatch("Array", what);
}

qsizetype Value::arraySize() const
{
    return m_document->m_nodes[m_index].count;
}

void Value::requireObject(const char* what) const
{
    if (type() != Type::Object)
        typeMismatch("Dictionary", what);
}

qsizetype Value::sourceEnd() const
{
    const auto& node = m_document->m_nodes[m_index];
    return static_cast<qsizetype>(node.offset + node.length);
}

qsizetype Value::memberCount() const
{
    return m_document->m_nodes[m_index].count;
}

std::optional<Value> Value::member(std::string_view key) const
{
    if (type() != Type::Object)
        return std::nullopt;
    std::optional<Value> found;
    for (quint32 i = firstChild(); i != 0; i = nextSibling(nextSibling(i))) {
        const Value keyValue(m_document, i);
        const auto& keyNode = m_document->m_nodes[i];
        if (!keyNode.flag) {
            if (keyValue.keyText() == key)
                found = Value(m_document, nextSibling(i));
        } else if (keyValue.toString("key") == QString::fromUtf8(key.data(), static_cast<qsizetype>(key.size()))) {
            found = Value(m_document, nextSibling(i));
        }
    }
    return found;
}

std::optional<Value> Value::presentMember(std::string_view key) const
{
    auto value = member(key);
    if (value && value->isNull())
        return std::nullopt;
    return value;
}

// --- Writer

Writer::Writer(QIODevice* device, int depth) : m_device(device), m_baseDepth(depth)
{
    m_buffer.reserve(kFlushThreshold + 1024);
}

Writer::~Writer()
{
    flush();
}

void Writer::newlineAndIndent()
{
    m_buffer.append('\n');
    m_buffer.append(static_cast<qsizetype>(depth()) * 2, ' ');
}

void Writer::beforeValue()
{
    if (m_afterKey) {
        m_afterKey = false;
        return;
    }
    if (m_hasElements.empty())
        return;
    if (m_hasElements.back())
        m_buffer.append(',');
    m_hasElements.back() = true;
    newlineAndIndent();
}

void Writer::maybeFlush()
{
    if (m_buffer.size() >= kFlushThreshold)
        flush();
}

bool Writer::flush()
{
    if (!m_buffer.isEmpty()) {
        if (m_ok && m_device->write(m_buffer) != m_buffer.size())
            m_ok = false;
        m_flushed += m_buffer.size();
        m_buffer.resize(0); // keeps the capacity for the next slice
    }
    return m_ok;
}

void Writer::beginObject()
{
    beforeValue();
    m_buffer.append('{');
    m_hasElements.push_back(false);
}

void Writer::endObject()
{
    const bool hadElements = m_hasElements.back();
    m_hasElements.pop_back();
    if (hadElements)
        newlineAndIndent();
    m_buffer.append('}');
    maybeFlush();
}

void Writer::beginArray()
{
    beforeValue();
    m_buffer.append('[');
    m_hasElements.push_back(false);
}

void Writer::endArray()
{
    endObject();
    m_buffer.back() = ']';
}

void Writer::key(std::string_view name)
{
    beforeValue();
    m_buffer.append('"');
    m_buffer.append(name.data(), static_cast<qsizetype>(name.size()));
    m_buffer.append("\" : ");
    m_afterKey = true;
}

void Writer::string(const QString& text)
{
    beforeValue();
    m_buffer.append('"');
    if (text.isValidUtf16()) {
        appendEscaped(text);
    } else {
        // A lone surrogate has no UTF-8 form: it is written as its escape, so that the text
        // reads back exactly as it was.
        const QStringView view(text);
        qsizetype run = 0;
        for (qsizetype i = 0; i < view.size(); ++i) {
            const QChar c = view[i];
            if (c.isHighSurrogate() && i + 1 < view.size() && view[i + 1].isLowSurrogate()) {
                ++i;
                continue;
            }
            if (!c.isSurrogate())
                continue;
            appendEscaped(view.mid(run, i - run));
            m_buffer.append(QByteArray("\\u") + QByteArray::number(c.unicode(), 16));
            run = i + 1;
        }
        appendEscaped(view.mid(run));
    }
    m_buffer.append('"');
    maybeFlush();
}

void Writer::appendEscaped(QStringView text)
{
    // UTF-8 straight into the buffer; only a string that needs escapes is rewritten.
    const qsizetype start = m_buffer.size();
    m_buffer.resize(start + text.size() * 3);
    char* begin = m_buffer.data() + start;
    QStringEncoder encoder(QStringEncoder::Utf8);
    char* end = encoder.appendToBuffer(begin, text);
    const char* stop = skipPlain(begin, end);
    if (stop == end) {
        m_buffer.truncate(end - m_buffer.constData());
        return;
    }
    const QByteArray tail(stop, end - stop);
    m_buffer.truncate(stop - m_buffer.constData());
    const char* p = tail.constData();
    const char* tailEnd = p + tail.size();
    while (p < tailEnd) {
        const char* run = p;
        p = skipPlain(p, tailEnd);
        m_buffer.append(run, p - run);
        if (p >= tailEnd)
            break;
        const char c = *p++;
        switch (c) {
        case '"':
            m_buffer.append("\\\"", 2);
            break;
        case '\\':
            m_buffer.append("\\\\", 2);
            break;
        case '\n':
            m_buffer.append("\\n", 2);
            break;
        case '\r':
            m_buffer.append("\\r", 2);
            break;
        case '\t':
            m_buffer.append("\\t", 2);
            break;
        case '\b':
            m_buffer.append("\\b", 2);
            break;
        case '\f':
            m_buffer.append("\\f", 2);
            break;
        default:
            static constexpr char hex[] = "0123456789abcdef";
            const auto byte = static_cast<unsigned char>(c);
            const char escape[] = {'\\', 'u', '0', '0', hex[byte >> 4], hex[byte & 15]};
            m_buffer.append(escape, sizeof escape);
        }
    }
}

void Writer::base64(const QByteArray& bytes)
{
    beforeValue();
    m_buffer.append('"');
    const qint64 start = position();
    // Encode in slices so that a large image never doubles the buffer at once.
    constexpr qsizetype slice = 3 * 1024 * 1024;
    for (qsizetype offset = 0; offset < bytes.size(); offset += slice) {
        Base64::appendEncoded(m_buffer, bytes.constData() + offset, std::min(slice, bytes.size() - offset));
        maybeFlush();
    }
    if (onBase64Written)
        onBase64Written(start, position() - start);
    m_buffer.append('"');
    maybeFlush();
}

void Writer::copiedBase64(qint64 length, const std::function<void(qint64, char*, qint64)>& read)
{
    beforeValue();
    m_buffer.append('"');
    const qint64 start = position();
    // Slices of whole groups of four letters.
    constexpr qint64 slice = 4 * 1024 * 1024;
    for (qint64 from = 0; from < length; from += slice) {
        const qint64 size = std::min(slice, length - from);
        const qsizetype at = m_buffer.size();
        m_buffer.resize(at + size);
        read(from, m_buffer.data() + at, size);
        maybeFlush();
    }
    if (onBase64Written)
        onBase64Written(start, position() - start);
    m_buffer.append('"');
    maybeFlush();
}

void Writer::boolean(bool value)
{
    beforeValue();
    m_buffer.append(value ? "true" : "false");
}

void Writer::integer(qint64 value)
{
    beforeValue();
    m_buffer.append(QByteArray::number(value));
}

void Writer::raw(const QByteArray& json)
{
    beforeValue();
    m_buffer.append(json);
    maybeFlush();
}

void Writer::emptyObject()
{
    beforeValue();
    m_buffer.append("{}");
}

} // namespace QuillomareCore::Json
