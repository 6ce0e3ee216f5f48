#include <QuillomareCore/Foundation.h>
#include <QuillomareCore/Json.h>

#include "TestSupport.h"

#include <QRandomGenerator>

#include <limits>

using namespace QuillomareCore;
using namespace QuillomareTest;
using namespace Qt::StringLiterals;

namespace {

// Writes one string as the only element of an array and reads it back.
QString writeAndReadString(const QString& text, QByteArray* written = nullptr)
{
    const QByteArray bytes = Json::writeToByteArray([&](Json::Writer& w) {
        w.beginArray();
        w.string(text);
        w.endArray();
    });
    if (written)
        *written = bytes;
    const auto doc = Json::Document::parse(bytes);
    QString result;
    doc.root().forEachElement([&](const Json::Value& v) { result = v.toString("element"); });
    return result;
}

} // namespace

class JsonTest : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void syntaxErrorsThrow_data();
    void syntaxErrorsThrow();
    void nestingIsLimited();
    void stringEscapes_data();
    void stringEscapes();
    void duplicateKeyTakesLastValue();
    void presentMemberTreatsNullAsMissing();
    void typedReadersRefuseOtherTypes_data();
    void typedReadersRefuseOtherTypes();
    void integers();
    void writerStringsParseBack_data();
    void writerStringsParseBack();
    void writerBase64DecodesBack();
    void writerEmptyContainers();
    void writerNestedStructure();
};

void JsonTest::syntaxErrorsThrow_data()
{
    QTest::addColumn<QByteArray>("json");

    QTest::newRow("empty") << QByteArray();
    QTest::newRow("only white space") << QByteArray(" \n\t ");
    QTest::newRow("truncated object") << QByteArray(R"({"a":)");
    QTest::newRow("truncated array") << QByteArray("[1,2");
    QTest::newRow("truncated literal") << QByteArray("tru");
    QTest::newRow("unterminated string") << QByteArray(R"(["abc)");
    QTest::newRow("escape at the end") << QByteArray(R"("abc\)");
    QTest::newRow("trailing garbage") << QByteArray("{} x");
    QTest::newRow("two values") << QByteArray("1 2");
    QTest::newRow("trailing comma in array") << QByteArray("[1,]");
    QTest::newRow("trailing comma in object") << QByteArray(R"({"a":1,})");
    QTest::newRow("missing colon") << QByteArray(R"({"a" 1})");
    QTest::newRow("unquoted key") << QByteArray("{a:1}");
    QTest::newRow("single quotes") << QByteArray("['a']");
    QTest::newRow("line feed in string") << QByteArray("[\"a\nb\"]");
    QTest::newRow("tab in string") << QByteArray("[\"a\tb\"]");
    QTest::newRow("NUL in string") << QByteArray("[\"a\0b\"]", 7);
    QTest::newRow("unknown escape") << QByteArray(R"(["\x41"])");
    QTest::newRow("short unicode escape") << QByteArray(R"(["\u12"])");
    QTest::newRow("non-hex unicode escape") << QByteArray(R"(["\u12G4"])");
    QTest::newRow("leading zero") << QByteArray("01");
    QTest::newRow("leading zero in array") << QByteArray("[01]");
    QTest::newRow("negative leading zero") << QByteArray("-01");
    QTest::newRow("bare minus") << QByteArray("[-]");
    QTest::newRow("fraction without digits") << QByteArray("[1.]");
    QTest::newRow("fraction without integer") << QByteArray("[.5]");
    QTest::newRow("plus sign") << QByteArray("[+1]");
    QTest::newRow("exponent without digits") << QByteArray("[1e]");
    QTest::newRow("NaN") << QByteArray("[NaN]");
    QTest::newRow("misspelt null") << QByteArray("[nul]");
}

void JsonTest::syntaxErrorsThrow()
{
    QFETCH(QByteArray, json);
    QVERIFY_THROWS_EXCEPTION(DecodingError, Json::Document::parse(json));
}

void JsonTest::nestingIsLimited()
{
    const auto nested = [](const char* open, const char* close, int depth) {
        return QByteArray(open).repeated(depth) + QByteArray(close).repeated(depth);
    };

    const QByteArray deepest = nested("[", "]", 512);
    const auto doc = Json::Document::parse(deepest);
    QCOMPARE(doc.root().type(), Json::Type::Array);
    QVERIFY_THROWS_EXCEPTION(DecodingError, Json::Document::parse(nested("[", "]", 513)));
    QVERIFY_THROWS_EXCEPTION(DecodingError, Json::Document::parse(nested(R"({"a":)", "}", 513)));

    // Far deeper than any stack allows: must be refused, not recursed into.
    QVERIFY_THROWS_EXCEPTION(DecodingError, Json::Document::parse(QByteArray(1'000'000, '[')));
    QVERIFY_THROWS_EXCEPTION(DecodingError, Json::Document::parse(QByteArray(R"({"a":)").repeated(200'000)));
}

void JsonTest::stringEscapes_data()
{
    QTest::addColumn<QByteArray>("json");
    QTest::addColumn<QString>("expected");

    QTest::newRow("line feed") << QByteArray(R"("a\nb")") << u"a\nb"_s;
    QTest::newRow("quote") << QByteArray(R"("say \"hi\"")") << u"say \"hi\""_s;
    QTest::newRow("backslash") << QByteArray(R"("C:\\temp\\")") << u"C:\\temp\\"_s;
    QTest::newRow("slash") << QByteArray(R"("a\/b")") << u"a/b"_s;
    QTest::newRow("short escapes") << QByteArray(R"("\b\f\r\t")") << u"\b\f\r\t"_s;
    QTest::newRow("latin escape") << QByteArray(R"("caf\u00e9")") << u"café"_s;
    QTest::newRow("upper-case hex") << QByteArray(R"("\u00C9")") << u"É"_s;
    QTest::newRow("surrogate pair") << QByteArray(R"("\ud83d\ude00")") << u"😀"_s;
    QTest::newRow("NUL escape") << QByteArray(R"("a\u0000b")") << QStringView(u"a\0b", 3).toString();
    QTest::newRow("raw UTF-8 around escapes") << QByteArray(R"("中\n文😀\t")") << u"中\n文😀\t"_s;
    QTest::newRow("raw UTF-8 only") << QByteArray(R"("剪贴板 😀")") << u"剪贴板 😀"_s;
    QTest::newRow("empty") << QByteArray(R"("")") << QString();
}

void JsonTest::stringEscapes()
{
    QFETCH(QByteArray, json);
    QFETCH(QString, expected);
    const auto doc = Json::Document::parse(json);
    QCOMPARE(doc.root().toString("value"), expected);
}

void JsonTest::duplicateKeyTakesLastValue()
{
    const QByteArray json(R"({"a":1,"b":true,"a":2,"\u0062":false})");
    const auto doc = Json::Document::parse(json);
    const auto root = doc.root();
    QCOMPARE(root.member("a")->toInt64("a"), qint64(2));
    // The same key written with an escape is still the same key.
    QCOMPARE(root.member("b")->toBool("b"), false);
}

void JsonTest::presentMemberTreatsNullAsMissing()
{
    const QByteArray json(R"({"gone":null,"zero":0,"no":false,"blank":""})");
    const auto doc = Json::Document::parse(json);
    const auto root = doc.root();

    QVERIFY(root.member("gone"));
    QVERIFY(root.member("gone")->isNull());
    QVERIFY(!root.presentMember("gone"));
    QVERIFY(!root.presentMember("missing"));
    QVERIFY(!root.member("missing"));
    // Falsy values are still present.
    QCOMPARE(root.presentMember("zero")->toInt64("zero"), qint64(0));
    QCOMPARE(root.presentMember("no")->toBool("no"), false);
    QCOMPARE(root.presentMember("blank")->toString("blank"), QString());
}

void JsonTest::typedReadersRefuseOtherTypes_data()
{
    QTest::addColumn<QByteArray>("json");
    QTest::addColumn<QString>("reader");

    QTest::newRow("number as string") << QByteArray("42") << u"string"_s;
    QTest::newRow("bool as string") << QByteArray("true") << u"string"_s;
    QTest::newRow("null as string") << QByteArray("null") << u"string"_s;
    QTest::newRow("\"true\" as bool") << QByteArray(R"("true")") << u"bool"_s;
    QTest::newRow("1 as bool") << QByteArray("1") << u"bool"_s;
    QTest::newRow("null as bool") << QByteArray("null") << u"bool"_s;
    QTest::newRow("string as integer") << QByteArray(R"("200")") << u"int"_s;
    QTest::newRow("200.5 as integer") << QByteArray("200.5") << u"int"_s;
    QTest::newRow("2.5e0 as integer") << QByteArray("2.5e0") << u"int"_s;
    QTest::newRow("above Int64 as integer") << QByteArray("9223372036854775808") << u"int"_s;
    QTest::newRow("1e400 as integer") << QByteArray("1e400") << u"int"_s;
    QTest::newRow("bool as double") << QByteArray("false") << u"double"_s;
    QTest::newRow("object as array") << QByteArray("{}") << u"array"_s;
    QTest::newRow("string as array") << QByteArray(R"("[]")") << u"array"_s;
    QTest::newRow("array as object") << QByteArray("[]") << u"object"_s;
    QTest::newRow("null as object") << QByteArray("null") << u"object"_s;
}

void JsonTest::typedReadersRefuseOtherTypes()
{
    QFETCH(QByteArray, json);
    QFETCH(QString, reader);
    const auto doc = Json::Document::parse(json);
    const Json::Value value = doc.root();
    if (reader == u"string")
        QVERIFY_THROWS_EXCEPTION(DecodingError, value.toString("value"));
    else if (reader == u"bool")
        QVERIFY_THROWS_EXCEPTION(DecodingError, value.toBool("value"));
    else if (reader == u"int")
        QVERIFY_THROWS_EXCEPTION(DecodingError, value.toInt64("value"));
    else if (reader == u"double")
        QVERIFY_THROWS_EXCEPTION(DecodingError, value.toDouble("value"));
    else if (reader == u"array")
        QVERIFY_THROWS_EXCEPTION(DecodingError, value.requireArray("value"));
    else if (reader == u"object")
        QVERIFY_THROWS_EXCEPTION(DecodingError, value.requireObject("value"));
    else
        QFAIL("unknown reader");
}

void JsonTest::integers()
{
    const QByteArray json("[200, 200.0, 2e2, -7, 0, -0, 9223372036854775807, -9223372036854775808, 0.25]");
    const auto doc = Json::Document::parse(json);
    QList<qint64> integers;
    QList<double> doubles;
    doc.root().forEachElement([&](const Json::Value& v) {
        doubles.append(v.toDouble("element"));
        if (doubles.size() < 9)
            integers.append(v.toInt64("element"));
    });
    const QList<qint64> expected{200,
                                 200,
                                 200,
                                 -7,
                                 0,
                                 0,
                                 std::numeric_limits<qint64>::max(),
                                 std::numeric_limits<qint64>::min()};
    QCOMPARE(integers, expected);
    QCOMPARE(doubles.last(), 0.25);
}

void JsonTest::writerStringsParseBack_data()
{
    QTest::addColumn<QString>("text");

    QString controls;
    for (char16_t c = 0; c < 0x20; ++c)
        controls.append(QChar(c));

    QTest::newRow("quotes") << u"\"quoted\" and \"\""_s;
    QTest::newRow("backslashes") << u"\\ \\\\ \\n \\u0041"_s;
    QTest::newRow("every control character") << controls;
    QTest::newRow("DEL and slash") << u"\u007F</script>"_s;
    QTest::newRow("non-ASCII") << u"café 剪贴板 \u00A0\u3000\u2028"_s;
    QTest::newRow("emoji") << u"😀👨\u200D👩\u200D👧\u200D👦👍🏽"_s;
    QTest::newRow("empty") << QString();
}

void JsonTest::writerStringsParseBack()
{
    QFETCH(QString, text);
    QByteArray written;
    QCOMPARE(writeAndReadString(text, &written), text);
    // Raw control characters would make the file unreadable to strict readers elsewhere.
    for (qsizetype i = 1; i + 1 < written.size(); ++i) {
        const auto byte = static_cast<unsigned char>(written.at(i));
        QVERIFY2(byte >= 0x20 || byte == '\n', qPrintable(QString::number(i)));
    }
}

void JsonTest::writerBase64DecodesBack()
{
    // Sizes around the writer's internal slice and flush boundaries as well as small ones.
    QByteArray large(5 * 1024 * 1024 + 2, Qt::Uninitialized);
    QRandomGenerator random(7);
    for (char& byte : large)
        byte = char(random.bounded(256));

    const QList<qsizetype> sizes{0, 1, 2, 3, 4, 5, 3 * 1024 * 1024 - 1, 3 * 1024 * 1024 + 1, large.size()};
    for (qsizetype size : sizes) {
        const QByteArray input = large.left(size);
        const QByteArray bytes = Json::writeToByteArray([&](Json::Writer& w) {
            w.beginObject();
            w.key("_0");
            w.base64(input);
            w.endObject();
        });
        const auto doc = Json::Document::parse(bytes);
        const auto raw = doc.root().member("_0")->rawString();
        QVERIFY(raw);
        const auto decoded = Base64::decode(*raw);
        QVERIFY(decoded);
        QCOMPARE(decoded->size(), size);
        QVERIFY(*decoded == input);
    }
}

void JsonTest::writerEmptyContainers()
{
    const auto write = [](auto&& body) { return Json::writeToByteArray(body).trimmed(); };
    QCOMPARE(write([](Json::Writer& w) { w.beginArray(); w.endArray(); }), QByteArray("[]"));
    QCOMPARE(write([](Json::Writer& w) { w.beginObject(); w.endObject(); }), QByteArray("{}"));
    QCOMPARE(write([](Json::Writer& w) { w.emptyObject(); }), QByteArray("{}"));

    const QByteArray nested = write([](Json::Writer& w) {
        w.beginObject();
        w.key("list");
        w.beginArray();
        w.endArray();
        w.key("object");
        w.beginObject();
        w.endObject();
        w.key("empty");
        w.emptyObject();
        w.endObject();
    });
    QVERIFY2(nested.contains("[]"), nested.constData());
    const auto doc = Json::Document::parse(nested);
    QCOMPARE(doc.root().member("list")->arraySize(), qsizetype(0));
    QCOMPARE(doc.root().member("object")->memberCount(), qsizetype(0));
    QCOMPARE(doc.root().member("empty")->type(), Json::Type::Object);
}

void JsonTest::writerNestedStructure()
{
    const QByteArray bytes = Json::writeToByteArray([](Json::Writer& w) {
        w.beginObject();
        w.key("z");
        w.integer(std::numeric_limits<qint64>::min());
        w.key("a");
        w.beginArray();
        w.boolean(true);
        w.boolean(false);
        w.beginObject();
        w.key("n");
        w.integer(std::numeric_limits<qint64>::max());
        w.endObject();
        w.beginArray();
        w.string(u"x"_s);
        w.endArray();
        w.endArray();
        w.key("s");
        w.string(u"last"_s);
        w.endObject();
    });
    const auto doc = Json::Document::parse(bytes);
    const auto root = doc.root();

    QStringList keys;
    root.forEachMember([&](std::string_view key, const Json::Value&) {
        keys.append(QString::fromUtf8(key.data(), qsizetype(key.size())));
    });
    QCOMPARE(keys, (QStringList{u"z"_s, u"a"_s, u"s"_s}));
    QCOMPARE(root.member("z")->toInt64("z"), std::numeric_limits<qint64>::min());
    QCOMPARE(root.member("s")->toString("s"), u"last"_s);

    const auto list = *root.member("a");
    QCOMPARE(list.arraySize(), qsizetype(4));
    QList<Json::Type> types;
    list.forEachElement([&](const Json::Value& v) { types.append(v.type()); });
    QCOMPARE(types, (QList<Json::Type>{Json::Type::Bool, Json::Type::Bool, Json::Type::Object, Json::Type::Array}));
    list.forEachElement([&](const Json::Value& v) {
        if (v.type() == Json::Type::Object)
            QCOMPARE(v.member("n")->toInt64("n"), std::numeric_limits<qint64>::max());
    });
}

QUILLOMARE_TEST_MAIN(JsonTest)
#include "tst_json.moc"
