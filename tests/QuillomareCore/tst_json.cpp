#include <QuillomareCore/Foundation.h>
#include <QuillomareCore/Json.h>

#include "TestSupport.h"

#include <QRandomGenerator>

#include <limits>

using namespace QuillomareCore;
using namespace QuillomareTest;
using namespace Qt::StringLiterals;

namespace {

constexpr qint64 kMin = std::numeric_limits<qint64>::min();
constexpr qint64 kMax = std::numeric_limits<qint64>::max();

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
    void longStringsStopWhereverTheByteStands_data();
    void longStringsStopWhereverTheByteStands();
    void imageSizedStringsAreJudgedWhole_data();
    void imageSizedStringsAreJudgedWhole();
    void membersTakeTheLastDuplicateAndNullReadsAsAbsent();
    void typedReadersAcceptOnlyTheirType_data();
    void typedReadersAcceptOnlyTheirType();
    void integers();
    void writerStringsParseBack_data();
    void writerStringsParseBack();
    void writerBase64DecodesBack();
    void writerStructureParsesBackInOrder();
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
    QTest::newRow("NUL in string") << QByteArray("[\"a\0b\"]", 7);
    QTest::newRow("unknown escape") << QByteArray(R"(["\x41"])");
    QTest::newRow("short unicode escape") << QByteArray(R"(["\u12"])");
    QTest::newRow("non-hex unicode escape") << QByteArray(R"(["\u12G4"])");
    QTest::newRow("leading zero") << QByteArray("01");
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
    QCOMPARE(Json::Document::parse(deepest).root().type(), Json::Type::Array);
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
    QCOMPARE(Json::Document::parse(json).root().toString("value"), expected);
}

// Long strings are scanned in wide blocks, first as base64 letters, then as plain text: a byte
// that ends either scan must be found at every place in a block, after either kind of run.
void JsonTest::longStringsStopWhereverTheByteStands_data()
{
    QTest::addColumn<QByteArray>("json");
    QTest::addColumn<QString>("expected"); // null: the text must be refused

    struct Insert
    {
        const char* name;
        QByteArray raw;
        QString meaning; // null: not JSON
    };
    const QList<Insert> inserts{
        {"escaped quote", R"(\")", u"\""_s},
        {"escaped backslash", R"(\\)", u"\\"_s},
        {"escaped slash", R"(\/)", u"/"_s},
        {"Chinese", "中", u"中"_s},
        {"DEL", "\x7F", u"\x7F"_s},
        {"space", " ", u" "_s},
        {"padding", "=", u"="_s},
        {"line feed", "\n", QString()},
        {"unit separator", "\x1F", QString()},
        {"NUL", QByteArray(1, '\0'), QString()},
        {"lone lead byte", "\xC3", QString()},
        {"lone continuation byte", "\x80", QString()},
    };
    const QByteArray letters = QByteArray("QUJDREVGR0hJSktMTU5PUFFSU1RVVldYWVo+/").repeated(6).left(200);
    const QByteArray prose = QByteArray("copied text, ").repeated(16).left(200);
    for (const auto& [fillerName, filler] : {std::pair{"letters", letters}, std::pair{"prose", prose}}) {
        for (const qsizetype at : {0, 1, 15, 16, 63, 64, 65, 127, 128, 192, 199, 200}) {
            for (const Insert& insert : inserts) {
                const QByteArray raw = filler.left(at) + insert.raw + filler.mid(at);
                const QString expected = insert.meaning.isNull()
                                             ? QString()
                                             : QString::fromLatin1(filler.left(at)) + insert.meaning +
                                                   QString::fromLatin1(filler.mid(at));
                QTest::addRow("%s, %s at %lld", fillerName, insert.name, static_cast<long long>(at))
                    << ("[\"" + raw + "\"]") << expected;
            }
        }
    }
}

void JsonTest::longStringsStopWhereverTheByteStands()
{
    QFETCH(QByteArray, json);
    QFETCH(QString, expected);
    if (expected.isNull()) {
        QVERIFY_THROWS_EXCEPTION(DecodingError, Json::Document::parse(json));
        return;
    }
    const Json::Document document = Json::Document::parse(json);
    QString text;
    document.root().forEachElement([&](const Json::Value& value) { text = value.toString("value"); });
    QCOMPARE(text, expected);
}

// Strings of megabytes are scanned in pieces by several threads: whatever piece holds the first
// byte that is not a letter decides, wherever it stands.
void JsonTest::imageSizedStringsAreJudgedWhole_data()
{
    QTest::addColumn<qsizetype>("at");
    QTest::addColumn<QByteArray>("insert");
    QTest::addColumn<bool>("parses");
    QTest::addColumn<bool>("base64");

    constexpr qsizetype MiB = 1 << 20;
    QTest::newRow("letters only") << qsizetype(-1) << QByteArray() << true << true;
    for (const qsizetype at : {MiB - 1, MiB, MiB + 1, 2 * MiB + 7, 4 * MiB - 1, 4 * MiB, 5 * MiB + 3, 9 * MiB - 3}) {
        QTest::addRow("blank at %lld", static_cast<long long>(at)) << at << QByteArray(" ") << true << false;
        QTest::addRow("escaped quote at %lld", static_cast<long long>(at)) << at << QByteArray(R"(\")") << true
                                                                          << false;
        QTest::addRow("line feed at %lld", static_cast<long long>(at)) << at << QByteArray("\n") << false << false;
        QTest::addRow("high byte at %lld", static_cast<long long>(at)) << at << QByteArray("\xFF") << false << false;
    }
    // Both a text that ends in padding and one whose padding stands too early.
    QTest::newRow("padding at the end") << qsizetype(9 * MiB - 2) << QByteArray("==") << true << true;
    QTest::newRow("padding in the middle") << qsizetype(3 * MiB) << QByteArray("====") << true << false;
}

void JsonTest::imageSizedStringsAreJudgedWhole()
{
    QFETCH(qsizetype, at);
    QFETCH(QByteArray, insert);
    QFETCH(bool, parses);
    QFETCH(bool, base64);

    QByteArray text = QByteArray("QUJDREVGR0hJSktMTU5PUFFSU1RVVldYWVo+/").repeated(9 * (1 << 20) / 36 + 1);
    text.truncate(9 * (1 << 20));
    if (at >= 0)
        text = at + insert.size() == text.size() ? text.left(at) + insert
                                                 : text.left(at) + insert + text.mid(at + insert.size());
    const QByteArray json = R"({"after":true,"text":")" + text + R"(","then":[1,"x"]})";
    if (!parses) {
        QVERIFY_THROWS_EXCEPTION(DecodingError, Json::Document::parse(json));
        return;
    }
    const Json::Document document = Json::Document::parse(json);
    const Json::Value root = document.root();
    QCOMPARE(root.member("text")->holdsBase64Text(), base64);
    QCOMPARE(root.member("text")->toString("text").size(), text.size() - (insert.startsWith('\\') ? 1 : 0));
    // What follows the string is read from where the string really ends.
    QCOMPARE(root.member("then")->arraySize(), 2);
    QVERIFY(root.member("after")->toBool("after"));
}

void JsonTest::membersTakeTheLastDuplicateAndNullReadsAsAbsent()
{
    const auto doc = Json::Document::parse(R"({"a":1,"b":true,"a":2,"\u0062":false,"gone":null,"zero":0,"blank":""})");
    const auto root = doc.root();
    QCOMPARE(root.member("a")->toInt64("a"), qint64(2));
    // The same key written with an escape is still the same key.
    QCOMPARE(root.member("b")->toBool("b"), false);

    QVERIFY(root.member("gone") && root.member("gone")->isNull());
    QVERIFY(!root.presentMember("gone"));
    QVERIFY(!root.presentMember("missing"));
    QVERIFY(!root.member("missing"));
    // Falsy values are still present.
    QCOMPARE(root.presentMember("zero")->toInt64("zero"), qint64(0));
    QCOMPARE(root.presentMember("b")->toBool("b"), false);
    QCOMPARE(root.presentMember("blank")->toString("blank"), QString());
}

void JsonTest::typedReadersAcceptOnlyTheirType_data()
{
    // Readers: s string, b bool, i integer, d double, a array, o object.
    QTest::addColumn<QByteArray>("json");
    QTest::addColumn<QString>("accepting");

    QTest::newRow("whole number") << QByteArray("42") << u"id"_s;
    QTest::newRow("fraction") << QByteArray("200.5") << u"d"_s;
    QTest::newRow("fraction with exponent") << QByteArray("2.5e0") << u"d"_s;
    QTest::newRow("above Int64") << QByteArray("9223372036854775808") << u"d"_s;
    QTest::newRow("beyond double") << QByteArray("1e400") << QString();
    QTest::newRow("true") << QByteArray("true") << u"b"_s;
    QTest::newRow("null") << QByteArray("null") << QString();
    QTest::newRow("\"true\"") << QByteArray(R"("true")") << u"s"_s;
    QTest::newRow("\"[]\"") << QByteArray(R"("[]")") << u"s"_s;
    QTest::newRow("object") << QByteArray("{}") << u"o"_s;
    QTest::newRow("array") << QByteArray("[]") << u"a"_s;
}

void JsonTest::typedReadersAcceptOnlyTheirType()
{
    QFETCH(QByteArray, json);
    QFETCH(QString, accepting);
    const auto doc = Json::Document::parse(json);
    const Json::Value value = doc.root();
    const auto check = [&](char reader, auto&& read) {
        if (accepting.contains(QLatin1Char(reader)))
            read(); // throws, and so fails the test, when the reader refuses
        else
            QVERIFY_THROWS_EXCEPTION(DecodingError, read());
    };
    check('s', [&] { value.toString("value"); });
    check('b', [&] { value.toBool("value"); });
    check('i', [&] { value.toInt64("value"); });
    check('d', [&] { value.toDouble("value"); });
    check('a', [&] { value.requireArray("value"); });
    check('o', [&] { value.requireObject("value"); });
}

void JsonTest::integers()
{
    const auto doc = Json::Document::parse("[200, 200.0, 2e2, -7, 0, -0, 9223372036854775807, -9223372036854775808]");
    QList<qint64> integers;
    doc.root().forEachElement([&](const Json::Value& v) { integers.append(v.toInt64("element")); });
    QCOMPARE(integers, (QList<qint64>{200, 200, 200, -7, 0, 0, kMax, kMin}));
    QCOMPARE(Json::Document::parse("0.25").root().toDouble("value"), 0.25);
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
    const QByteArray written = Json::writeToByteArray([&](Json::Writer& w) { w.string(text); });
    QCOMPARE(Json::Document::parse(written).root().toString("value"), text);
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

    for (qsizetype size : QList<qsizetype>{0, 1, 2, 3, 4, 5, 3 * 1024 * 1024 - 1, 3 * 1024 * 1024 + 1, large.size()}) {
        const QByteArray input = large.left(size);
        const QByteArray bytes = Json::writeToByteArray([&](Json::Writer& w) {
            w.beginArray();
            w.base64(input);
            w.endArray();
        });
        const auto doc = Json::Document::parse(bytes);
        std::optional<QByteArray> decoded;
        doc.root().forEachElement([&](const Json::Value& v) { decoded = Base64::decode(v.rawString().value()); });
        QVERIFY(decoded);
        QCOMPARE(decoded->size(), size);
        QVERIFY(*decoded == input);
    }
}

void JsonTest::writerStructureParsesBackInOrder()
{
    const QByteArray bytes = Json::writeToByteArray([](Json::Writer& w) {
        w.beginObject();
        w.key("z");
        w.integer(kMin);
        w.key("a");
        w.beginArray();
        w.boolean(false);
        w.beginObject();
        w.key("n");
        w.integer(kMax);
        w.endObject();
        w.beginArray();
        w.endArray();
        w.emptyObject();
        w.endArray();
        w.key("s");
        w.string(u"last"_s);
        w.endObject();
    });
    QVERIFY2(bytes.contains("[]") && bytes.contains("{}"), bytes.constData());
    const auto doc = Json::Document::parse(bytes);
    const auto root = doc.root();

    QStringList keys;
    root.forEachMember([&](std::string_view key, const Json::Value&) {
        keys.append(QString::fromUtf8(key.data(), qsizetype(key.size())));
    });
    QCOMPARE(keys, (QStringList{u"z"_s, u"a"_s, u"s"_s}));
    QCOMPARE(root.member("z")->toInt64("z"), kMin);
    QCOMPARE(root.member("s")->toString("s"), u"last"_s);

    QList<Json::Value> list;
    root.member("a")->forEachElement([&](const Json::Value& v) { list.append(v); });
    QCOMPARE(list.size(), 4);
    QCOMPARE(list[0].toBool("false"), false);
    QCOMPARE(list[1].member("n")->toInt64("n"), kMax);
    QCOMPARE(list[2].arraySize(), qsizetype(0));
    QCOMPARE(list[3].type(), Json::Type::Object);
    QCOMPARE(list[3].memberCount(), qsizetype(0));
}

QUILLOMARE_TEST_MAIN(JsonTest)
#include "tst_json.moc"
