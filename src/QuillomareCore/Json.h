#pragma once

// JSON for the history file. Qt's own reader gives up on documents of a few gigabytes (a history
// of large images reaches that), so the file is read with this parser: one pass over the bytes,
// a compact tree of nodes that point back into the bytes, and strings converted only when a
// record asks for them. The writer streams pretty-printed JSON straight to a device, encoding
// image bytes as base64 on the way, so a save never holds the whole text in memory.

#include "Errors.h"

#include <QByteArray>
#include <QString>

#include <functional>
#include <optional>
#include <string_view>
#include <vector>

class QIODevice;

namespace QuillomareCore::Json {

enum class Type : quint8 { Null, Bool, Number, String, Array, Object };

class Document;

class Value
{
public:
    Type type() const;
    bool isNull() const { return type() == Type::Null; }

    // Typed readers: a value of another type throws a DecodingError that names `what`.
    bool toBool(const char* what) const;
    qint64 toInt64(const char* what) const;
    double toDouble(const char* what) const;
    QString toString(const char* what) const;
    // The string's bytes as they stand in the document, when it holds no escape sequence.
    std::optional<std::string_view> rawString() const;
    // True for a string whose raw bytes are a whole base64 text (Base64Text::isValid), found out
    // while parsing.
    bool holdsBase64Text() const;

    // Arrays.
    void requireArray(const char* what) const;
    qsizetype arraySize() const;
    template <typename F>
    void forEachElement(F&& f) const
    {
        for (quint32 i = firstChild(); i != 0; i = nextSibling(i))
            f(Value(m_document, i));
    }

    // Objects. A key that appears twice takes its last value, as Foundation's reader does.
    void requireObject(const char* what) const;
    std::optional<Value> member(std::string_view key) const;
    // A member that is missing or null reads as absent.
    std::optional<Value> presentMember(std::string_view key) const;
    template <typename F>
    void forEachMember(F&& f) const
    {
        for (quint32 i = firstChild(); i != 0; i = nextSibling(nextSibling(i)))
            f(Value(m_document, i).keyText(), Value(m_document, nextSibling(i)));
    }
    qsizetype memberCount() const;

    // The offset just past this value's text (strings: past their contents), in document bytes.
    qsizetype sourceEnd() const;

    static const char* typeName(Type type);

private:
    friend class Document;
    Value(const Document* document, quint32 index) : m_document(document), m_index(index) {}
    quint32 firstChild() const;
    quint32 nextSibling(quint32 index) const;
    std::string_view keyText() const;
    [[noreturn]] void typeMismatch(const char* expected, const char* what) const;

    const Document* m_document;
    quint32 m_index;
};

class Document
{
public:
    // Parses the whole text; a syntax error throws a DecodingError with its byte offset.
    // The bytes must outlive the document.
    static Document parse(const char* data, qsizetype size);
    // The same, telling `passed` now and then the offset up to which the bytes have been read and
    // will not be read again by the parser (a caller may let go of them).
    static Document parse(const char* data, qsizetype size, const std::function<void(qsizetype)>& passed);
    static Document parse(const QByteArray& data) { return parse(data.constData(), data.size()); }

    Value root() const { return Value(this, 0); }

private:
    friend class Value;
    friend class Parser;
    struct Node
    {
        Type type = Type::Null;
        bool flag = false; // Bool: the value; String: holds escapes.
        bool base64 = false; // String: its raw bytes are a base64 text.
        quint32 next = 0;  // next sibling (an object's key is followed by its value)
        quint32 first = 0; // first child of an array or object
        quint32 count = 0; // children of an array, members of an object
        quint64 offset = 0;
        quint64 length = 0;
    };

    const char* m_data = nullptr;
    std::vector<Node> m_nodes;
};

// Streams pretty-printed JSON (two-space indent, "key" : value) to a device. Keys are written in
// the order given: callers that promise sorted keys write them sorted.
class Writer
{
public:
    // `depth` is the nesting at which the written value will stand in a larger document, so that
    // a value written on its own can later be put there with raw() and keep its indentation.
    explicit Writer(QIODevice* device, int depth = 0);
    ~Writer();
    Writer(const Writer&) = delete;
    Writer& operator=(const Writer&) = delete;

    void beginObject();
    void endObject();
    void beginArray();
    void endArray();
    void key(std::string_view name);

    void string(const QString& text);
    void base64(const QByteArray& bytes);
    // Base64 text of `length` letters that is already written elsewhere, copied as it stands:
    // `read(from, into, size)` fills `into` with `size` letters from `from`, or throws. The
    // letters must be valid base64; they are written unchanged.
    void copiedBase64(qint64 length, const std::function<void(qint64 from, char* into, qint64 size)>& read);
    // Told where each base64 text went: the offset of its first letter in what this writer has
    // written, and its length.
    std::function<void(qint64 offset, qint64 length)> onBase64Written;
    // The bytes written so far, buffered ones included.
    qint64 position() const { return m_flushed + m_buffer.size(); }
    void boolean(bool value);
    void integer(qint64 value);
    void emptyObject();
    // A value already written by a Writer of this value's depth.
    void raw(const QByteArray& json);
    int depth() const { return m_baseDepth + static_cast<int>(m_hasElements.size()); }

    // Writes what is buffered; false when the device refused some of it.
    bool flush();
    bool ok() const { return m_ok; }

private:
    void beforeValue();
    void appendEscaped(QStringView text);
    void newlineAndIndent();
    void maybeFlush();

    QIODevice* m_device;
    QByteArray m_buffer;
    std::vector<bool> m_hasElements;
    int m_baseDepth = 0;
    bool m_afterKey = false;
    bool m_ok = true;
    qint64 m_flushed = 0;
};

// Writes a whole document to a byte array: for tests and small records.
template <typename F>
QByteArray writeToByteArray(F&& write, int depth = 0);

} // namespace QuillomareCore::Json

#include <QBuffer>

template <typename F>
QByteArray QuillomareCore::Json::writeToByteArray(F&& write, int depth)
{
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    {
        Writer writer(&buffer, depth);
        write(writer);
        writer.flush();
    }
    return bytes;
}
