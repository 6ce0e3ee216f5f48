#include <QuillomareCore/Foundation.h>
#include <QuillomareCore/TextDecoding.h>

#include "TestSupport.h"

#include <QRandomGenerator>
#include <QTextBoundaryFinder>

using namespace QuillomareCore;
using namespace QuillomareTest;
using namespace Qt::StringLiterals;

class FoundationTest : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void trimmed_data();
    void trimmed();
    void fromUtf8KeepsEveryCharacter_data();
    void fromUtf8KeepsEveryCharacter();
    void graphemeCountAndPrefix_data();
    void graphemeCountAndPrefix();
    void graphemeCountAgreesWithTheBoundaryFinder();
    void uuidFromText_data();
    void uuidFromText();
    void iso8601Parse_data();
    void iso8601Parse();
    void iso8601RoundTripsEveryTimeSpec();
    void base64RoundTrip();
    void base64Refuses_data();
    void base64Refuses();
    void formatByteCount_data();
    void formatByteCount();
    void clockProviderIsInjectable();
    void pngHeaderSize_data();
    void pngHeaderSize();
};

void FoundationTest::trimmed_data()
{
    QTest::addColumn<QString>("input");
    QTest::addColumn<QString>("expected");

    QTest::newRow("tabs and line breaks") << u"\t\r\n abc \n\t"_s << u"abc"_s;
    QTest::newRow("Unicode blanks") << u"\u00A0\u2028\u3000\u0085中文\u2029\u000B\u000C\u00A0"_s << u"中文"_s;
    QTest::newRow("inner white space kept") << u"  a \t b\u3000c  "_s << u"a \t b\u3000c"_s;
    QTest::newRow("zero-width space is content") << u"\u200Babc\u200B"_s << u"\u200Babc\u200B"_s;
    QTest::newRow("only white space") << u" \t\n\u00A0\u3000"_s << QString();
    QTest::newRow("empty") << QString() << QString();
}

void FoundationTest::trimmed()
{
    QFETCH(QString, input);
    QFETCH(QString, expected);
    QCOMPARE(Text::trimmed(input), expected);
    // Blank exactly when trimming leaves nothing.
    QCOMPARE(Text::isBlank(input), expected.isEmpty());
}

void FoundationTest::fromUtf8KeepsEveryCharacter_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QString>("expected");

    QTest::newRow("leading U+FEFF") << QByteArray("\xEF\xBB\xBF" "copied") << u"\uFEFFcopied"_s;
    QTest::newRow("two of them") << QByteArray("\xEF\xBB\xBF\xEF\xBB\xBFx") << u"\uFEFF\uFEFFx"_s;
    QTest::newRow("U+FEFF alone") << QByteArray("\xEF\xBB\xBF") << u"\uFEFF"_s;
    QTest::newRow("inside") << QByteArray("a\xEF\xBB\xBF\xE4\xB8\xAD") << u"a\uFEFF中"_s;
    QTest::newRow("outside the BMP") << QByteArray("\xF0\x9F\x98\x80!") << u"\U0001F600!"_s;
    QTest::newRow("malformed") << QByteArray("\xEF\xBB\xBF\xFFok") << u"\uFEFF\uFFFDok"_s;
    QTest::newRow("empty") << QByteArray() << QString();
}

void FoundationTest::fromUtf8KeepsEveryCharacter()
{
    QFETCH(QByteArray, bytes);
    QFETCH(QString, expected);
    QCOMPARE(Text::fromUtf8(bytes), expected);
    if (!expected.contains(QChar::ReplacementCharacter))
        QCOMPARE(Text::fromUtf8(bytes).toUtf8(), bytes);
    // A text is decoded whole each time: nothing of one call reaches the next.
    QCOMPARE(Text::fromUtf8(bytes), expected);
}

void FoundationTest::graphemeCountAndPrefix_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<qsizetype>("expected");

    QTest::newRow("empty") << QString() << qsizetype(0);
    QTest::newRow("ascii") << u"abc"_s << qsizetype(3);
    QTest::newRow("CJK") << u"剪贴板"_s << qsizetype(3);
    QTest::newRow("combining accent") << u"e\u0301te\u0301"_s << qsizetype(3);
    QTest::newRow("emoji with skin tone") << u"👍🏽"_s << qsizetype(1);
    QTest::newRow("ZWJ family") << u"👨\u200D👩\u200D👧\u200D👦"_s << qsizetype(1);
    QTest::newRow("flag") << u"🇨🇳"_s << qsizetype(1);
    QTest::newRow("CRLF is one character") << u"a\r\nb"_s << qsizetype(3);
    QTest::newRow("mixed") << u"a👨\u200D👩\u200D👧\u200D👦e\u0301中👍🏽"_s << qsizetype(5);
}

void FoundationTest::graphemeCountAndPrefix()
{
    QFETCH(QString, text);
    QFETCH(qsizetype, expected);
    QCOMPARE(Text::graphemeCount(text), expected);
    // A prefix never splits a character: it and the rest both count whole characters.
    for (qsizetype n = -1; n <= expected + 1; ++n) {
        const QString prefix = Text::graphemePrefix(text, n);
        const qsizetype taken = qBound(qsizetype(0), n, expected);
        QVERIFY(text.startsWith(prefix));
        QCOMPARE(Text::graphemeCount(prefix), taken);
        QCOMPARE(Text::graphemeCount(text.mid(prefix.size())), expected - taken);
    }
}

// The count takes shortcuts through runs of characters that stand alone; across random mixtures
// of those and of every sort that joins (marks, joiners, jamo, flags, prepending letters, CR LF)
// it must count exactly what the boundary finder counts. (Indic letters are left out: beside an
// emoji, Qt's finder splits the emoji or not depending on the text around them, so no count
// taken in pieces can agree with it there; so are Thai and Malayalam, for the same reason.)
void FoundationTest::graphemeCountAgreesWithTheBoundaryFinder()
{
    const QStringList pieces{u"a"_s,      u" "_s,      u"\r"_s,     u"\n"_s,      u"\t"_s,     u"中"_s,
                             u"，"_s,     u"e"_s,      u"\u0301"_s, u"\u200D"_s,  u"\u200C"_s, u"👍"_s,
                             u"🏽"_s,     u"🇨"_s,     u"🇳"_s,     u"\u1100"_s,  u"\u1161"_s, u"\u11A8"_s,
                             u"가"_s,
                             u"\u0600"_s, u"\uFF9E"_s, u"ｶ"_s,      u"\u2764"_s,  u"\uFE0F"_s, u"\u0378"_s,
                             QString(QChar(0xD800)), QString(QChar(0xDC00)), u"ß"_s,      u"\u3099"_s};
    QRandomGenerator random(31);
    for (int round = 0; round < 4000; ++round) {
        QString text;
        const int length = random.bounded(1, 24);
        for (int i = 0; i < length; ++i)
            text += pieces[random.bounded(int(pieces.size()))];
        QTextBoundaryFinder finder(QTextBoundaryFinder::Grapheme, text);
        qsizetype expected = 0;
        while (finder.toNextBoundary() != -1)
            ++expected;
        QStringList units;
        for (const QChar c : std::as_const(text))
            units.append(QString::number(c.unicode(), 16));
        QVERIFY2(Text::graphemeCount(text) == expected,
                 qPrintable(QStringLiteral("%1 instead of %2 in %3")
                                .arg(Text::graphemeCount(text))
                                .arg(expected)
                                .arg(units.join(u' '))));
    }
}

void FoundationTest::uuidFromText_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("accepted");

    QTest::newRow("upper case") << u"E621E1F8-C36C-495A-93FC-0C247A3E6E5F"_s << true;
    QTest::newRow("lower case") << u"e621e1f8-c36c-495a-93fc-0c247a3e6e5f"_s << true;
    QTest::newRow("mixed case") << u"e621E1F8-c36c-495A-93fc-0C247A3E6E5F"_s << true;
    QTest::newRow("nil") << u"00000000-0000-0000-0000-000000000000"_s << true;
    QTest::newRow("braces") << u"{E621E1F8-C36C-495A-93FC-0C247A3E6E5F}"_s << false;
    QTest::newRow("no dashes") << u"E621E1F8C36C495A93FC0C247A3E6E5F"_s << false;
    QTest::newRow("dash moved") << u"E621E1F-8C36C-495A-93FC-0C247A3E6E5F"_s << false;
    QTest::newRow("too short") << u"E621E1F8-C36C-495A-93FC-0C247A3E6E5"_s << false;
    QTest::newRow("too long") << u"E621E1F8-C36C-495A-93FC-0C247A3E6E5F0"_s << false;
    QTest::newRow("leading blank, right length") << u" E621E1F8-C36C-495A-93FC-0C247A3E6E5"_s << false;
    QTest::newRow("not hex") << u"G621E1F8-C36C-495A-93FC-0C247A3E6E5F"_s << false;
    QTest::newRow("full-width digit") << u"\uFF10621E1F8-C36C-495A-93FC-0C247A3E6E5F"_s << false;
    QTest::newRow("empty") << QString() << false;
}

void FoundationTest::uuidFromText()
{
    QFETCH(QString, text);
    QFETCH(bool, accepted);
    const auto uuid = Uuid::fromText(text);
    QCOMPARE(uuid.has_value(), accepted);
    if (accepted)
        QCOMPARE(Uuid::text(*uuid), text.toUpper()); // upper case, no braces
    const QUuid random = QUuid::createUuid();
    QCOMPARE(Uuid::fromText(Uuid::text(random)), std::optional<QUuid>(random));
}

void FoundationTest::iso8601Parse_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("written"); // empty: refused

    QTest::newRow("no fraction") << u"2026-12-06T21:59:38Z"_s << u"2026-12-06T21:59:38.000Z"_s;
    QTest::newRow("milliseconds") << u"2026-12-06T21:59:38.123Z"_s << u"2026-12-06T21:59:38.123Z"_s;
    QTest::newRow("one fraction digit") << u"2026-12-06T21:59:38.5Z"_s << u"2026-12-06T21:59:38.500Z"_s;
    QTest::newRow("leading zeros") << u"0012-01-01T00:00:00.005Z"_s << u"0012-01-01T00:00:00.005Z"_s;
    QTest::newRow("positive offset") << u"2026-12-07T05:59:38+08:00"_s << u"2026-12-06T21:59:38.000Z"_s;
    QTest::newRow("negative offset") << u"2026-12-06T16:29:38.250-05:30"_s << u"2026-12-06T21:59:38.250Z"_s;
    QTest::newRow("leap day") << u"2028-02-29T00:00:00Z"_s << u"2028-02-29T00:00:00.000Z"_s;
    QTest::newRow("past year 9999") << u"9999-12-31T23:00:00-05:00"_s << u"9999-12-31T23:59:59.999Z"_s;

    QTest::newRow("date only") << u"2026-12-06"_s << QString();
    QTest::newRow("no time zone") << u"2026-12-06T21:59:38"_s << QString();
    QTest::newRow("no time zone with fraction") << u"2026-12-06T21:59:38.123"_s << QString();
    QTest::newRow("February 30") << u"2026-02-30T12:00:00Z"_s << QString();
    QTest::newRow("no leap day") << u"2026-02-29T12:00:00Z"_s << QString();
    QTest::newRow("hour 25") << u"2026-12-06T25:00:00Z"_s << QString();
    QTest::newRow("empty fraction") << u"2026-12-06T21:59:38.Z"_s << QString();
    QTest::newRow("blank instead of T") << u"2026-12-06 21:59:38Z"_s << QString();
    QTest::newRow("trailing text") << u"2026-12-06T21:59:38Zx"_s << QString();
    QTest::newRow("garbage") << u"yesterday"_s << QString();
    QTest::newRow("empty") << QString() << QString();
}

void FoundationTest::iso8601Parse()
{
    QFETCH(QString, text);
    QFETCH(QString, written);

    // The history file is read through the byte form, records through the text form: both agree.
    const QByteArray utf8 = text.toUtf8();
    const auto fromText = Iso8601::parse(QStringView(text));
    const auto fromBytes = Iso8601::parse(std::string_view(utf8.constData(), size_t(utf8.size())));
    QCOMPARE(fromText.has_value(), !written.isEmpty());
    QCOMPARE(fromBytes.has_value(), !written.isEmpty());
    if (fromText && fromBytes) {
        QCOMPARE(Iso8601::format(*fromText), written);
        QCOMPARE(Iso8601::format(*fromBytes), written);
    }
}

void FoundationTest::iso8601RoundTripsEveryTimeSpec()
{
    const QList<QDateTime> dates{
        at(0).addMSecs(1),
        QDateTime(QDate(1999, 12, 31), QTime(23, 59, 59, 10), Qt::OffsetFromUTC, -7 * 3600),
        QDateTime::fromMSecsSinceEpoch(QDateTime::currentMSecsSinceEpoch(), Qt::LocalTime),
    };
    for (const QDateTime& date : dates) {
        const auto parsed = Iso8601::parse(QStringView(Iso8601::format(date)));
        QVERIFY(parsed);
        QCOMPARE(parsed->toMSecsSinceEpoch(), date.toMSecsSinceEpoch());
    }
}

void FoundationTest::base64RoundTrip()
{
    QByteArray large(300'001, Qt::Uninitialized);
    QRandomGenerator random(31);
    for (char& byte : large)
        byte = char(random.bounded(256));

    for (qsizetype length : QList<qsizetype>{0, 1, 2, 3, 4, 5, 6, 7, 8, large.size()}) {
        const QByteArray input = large.left(length);
        const QByteArray encoded = Base64::encode(input);
        QCOMPARE(encoded, input.toBase64());
        const auto decoded = Base64::decode(std::string_view(encoded.constData(), size_t(encoded.size())));
        QVERIFY2(decoded, encoded.left(40).constData());
        QCOMPARE(*decoded, input);
    }

    QByteArray appended("prefix:");
    Base64::appendEncoded(appended, "abc", 3);
    QCOMPARE(appended, QByteArray("prefix:YWJj"));
}

void FoundationTest::base64Refuses_data()
{
    QTest::addColumn<QByteArray>("text");

    QTest::newRow("missing padding") << QByteArray("QQ");
    QTest::newRow("half padding") << QByteArray("QQ=");
    QTest::newRow("leading blank") << QByteArray(" QUJD");
    QTest::newRow("trailing line feed") << QByteArray("QUJD\n");
    QTest::newRow("inner blank") << QByteArray("QU JDRA==");
    QTest::newRow("line break inside") << QByteArray("QUJD\nQUJD");
    QTest::newRow("padding in the middle") << QByteArray("QQ==QUJD");
    QTest::newRow("padding inside a group") << QByteArray("QQ=A");
    QTest::newRow("too much padding") << QByteArray("Q===");
    QTest::newRow("URL-safe letters") << QByteArray("ab-_");
    QTest::newRow("punctuation") << QByteArray("QU*D");
    QTest::newRow("non-ASCII byte") << QByteArray("QUJ\xC3");
}

void FoundationTest::base64Refuses()
{
    QFETCH(QByteArray, text);
    QVERIFY(!Base64::decode(std::string_view(text.constData(), size_t(text.size()))));
}

void FoundationTest::formatByteCount_data()
{
    QTest::addColumn<qint64>("bytes");
    QTest::addColumn<QString>("expected");

    QTest::newRow("0") << qint64(0) << u"Zero KB"_s;
    QTest::newRow("1") << qint64(1) << u"1 byte"_s;
    QTest::newRow("2") << qint64(2) << u"2 bytes"_s;
    QTest::newRow("999") << qint64(999) << u"999 bytes"_s;
    QTest::newRow("1000") << qint64(1000) << u"1 KB"_s;
    QTest::newRow("999,499") << qint64(999'499) << u"999 KB"_s;
    QTest::newRow("999,999") << qint64(999'999) << u"1 MB"_s;
    QTest::newRow("1,500,000") << qint64(1'500'000) << u"1.5 MB"_s;
    QTest::newRow("8,388,608") << qint64(8'388'608) << u"8.4 MB"_s;
    QTest::newRow("1,234,567,890") << qint64(1'234'567'890) << u"1.23 GB"_s;
    QTest::newRow("2,000,000,000") << qint64(2'000'000'000) << u"2 GB"_s;
}

void FoundationTest::formatByteCount()
{
    QFETCH(qint64, bytes);
    QFETCH(QString, expected);
    QCOMPARE(Text::formatByteCount(bytes), expected);
}

void FoundationTest::clockProviderIsInjectable()
{
    // A provider in another zone still yields UTC: everything the core stores is UTC.
    const QDateTime shanghai(QDate(2026, 3, 1), QTime(8, 0, 0, 250), Qt::OffsetFromUTC, 8 * 3600);
    Clock::setNowProvider([shanghai] { return shanghai; });
    QCOMPARE(Clock::now(), shanghai);
    QCOMPARE(Clock::now().timeSpec(), Qt::UTC);
    Clock::resetNowProvider();

    // Once reset, the clock follows real time again.
    const qint64 drift = qAbs(Clock::now().msecsTo(QDateTime::currentDateTimeUtc()));
    QVERIFY2(drift < 60'000, qPrintable(QString::number(drift)));
}

QUILLOMARE_TEST_MAIN(FoundationTest)
namespace {

// A PNG's signature and header chunk (check sum left zero: the header's reader does not look at it).
QByteArray pngHead(quint32 width, quint32 height, char depth = 8, char colour = 6, char interlace = 0)
{
    QByteArray head = QByteArray("\x89PNG\r\n\x1a\n", 8) + QByteArray("\0\0\0\x0dIHDR", 8);
    for (const quint32 value : {width, height})
        for (int shift = 24; shift >= 0; shift -= 8)
            head.append(char(value >> shift & 0xff));
    head.append(depth).append(colour).append('\0').append('\0').append(interlace);
    return head + QByteArray(4, '\0');
}

} // namespace

void FoundationTest::pngHeaderSize_data()
{
    QTest::addColumn<QByteArray>("head");
    QTest::addColumn<QSize>("size");
    const QSize none;
    QTest::newRow("whole header") << pngHead(1200, 34) << QSize(1200, 34);
    QTest::newRow("the first 24 bytes") << pngHead(1200, 34).left(24) << QSize(1200, 34);
    QTest::newRow("largest size") << pngHead(0x7fffffff, 1) << QSize(0x7fffffff, 1);
    QTest::newRow("23 bytes") << pngHead(1200, 34).left(23) << none;
    QTest::newRow("not a PNG") << QByteArray("GIF89a").append(pngHead(1, 1).mid(6)) << none;
    QTest::newRow("another chunk first") << pngHead(1, 1).replace(12, 4, "tEXt") << none;
    QTest::newRow("chunk length not 13") << pngHead(1, 1).replace(11, 1, "\x0e") << none;
    QTest::newRow("zero width") << pngHead(0, 5) << none;
    QTest::newRow("height past 2^31 - 1") << pngHead(5, 0x80000000u) << none;
    QTest::newRow("unknown depth") << pngHead(5, 5, 3) << none;
    QTest::newRow("unknown colour type") << pngHead(5, 5, 8, 5) << none;
    QTest::newRow("unknown interlace") << pngHead(5, 5, 8, 6, 2) << none;
    // Beyond the first 24 bytes nothing is asked of a head that stops there.
    QTest::newRow("unknown depth, cut") << pngHead(5, 5, 3).left(24) << QSize(5, 5);
}

void FoundationTest::pngHeaderSize()
{
    QFETCH(QByteArray, head);
    QFETCH(QSize, size);
    QCOMPARE(Png::headerSize(head), size.isValid() ? std::optional<QSize>(size) : std::nullopt);
}

#include "tst_foundation.moc"
