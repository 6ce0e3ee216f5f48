#include <QuillomareCore/Foundation.h>

#include "TestSupport.h"

#include <QRandomGenerator>

using namespace QuillomareCore;
using namespace QuillomareTest;
using namespace Qt::StringLiterals;

class FoundationTest : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void trimmed_data();
    void trimmed();
    void graphemeCount_data();
    void graphemeCount();
    void graphemePrefixNeverSplitsACharacter();
    void uuidTextIsUpperCaseWithoutBraces();
    void uuidFromText_data();
    void uuidFromText();
    void iso8601FormatIsUtcWithMilliseconds();
    void iso8601Parse_data();
    void iso8601Parse();
    void iso8601RoundTrip();
    void base64RoundTrip();
    void base64Refuses_data();
    void base64Refuses();
    void formatByteCount_data();
    void formatByteCount();
    void clockProviderIsInjectable();
};

void FoundationTest::trimmed_data()
{
    QTest::addColumn<QString>("input");
    QTest::addColumn<QString>("expected");

    QTest::newRow("tabs and line breaks") << u"\t\r\n abc \n\t"_s << u"abc"_s;
    QTest::newRow("no-break space") << u"\u00A0abc\u00A0"_s << u"abc"_s;
    QTest::newRow("line and paragraph separators") << u"\u2028abc\u2029"_s << u"abc"_s;
    QTest::newRow("ideographic space") << u"\u3000中文\u3000"_s << u"中文"_s;
    QTest::newRow("next line") << u"\u0085abc\u0085"_s << u"abc"_s;
    QTest::newRow("vertical tab and form feed") << u"\u000B\u000Cabc\u000C"_s << u"abc"_s;
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
}

void FoundationTest::graphemeCount_data()
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
    QTest::newRow("mixed") << u"a👍🏽中e\u0301"_s << qsizetype(4);
}

void FoundationTest::graphemeCount()
{
    QFETCH(QString, text);
    QFETCH(qsizetype, expected);
    QCOMPARE(Text::graphemeCount(text), expected);
}

void FoundationTest::graphemePrefixNeverSplitsACharacter()
{
    const QString family = u"👨\u200D👩\u200D👧\u200D👦"_s;
    const QString text = u"a"_s + family + u"e\u0301中👍🏽"_s;

    QCOMPARE(Text::graphemePrefix(text, 1), u"a"_s);
    QCOMPARE(Text::graphemePrefix(text, 2), u"a"_s + family);
    QCOMPARE(Text::graphemePrefix(text, 3), u"a"_s + family + u"e\u0301"_s);
    QCOMPARE(Text::graphemePrefix(text, 4), u"a"_s + family + u"e\u0301中"_s);
    QCOMPARE(Text::graphemePrefix(text, 5), text);
    QCOMPARE(Text::graphemePrefix(text, 50), text);
    QCOMPARE(Text::graphemePrefix(text, 0), QString());
    QCOMPARE(Text::graphemePrefix(text, -1), QString());
    QCOMPARE(Text::graphemePrefix(QString(), 3), QString());
}

void FoundationTest::uuidTextIsUpperCaseWithoutBraces()
{
    const QUuid uuid(u"{e621e1f8-c36c-495a-93fc-0c247a3e6e5f}"_s);
    QCOMPARE(Uuid::text(uuid), u"E621E1F8-C36C-495A-93FC-0C247A3E6E5F"_s);

    const QUuid random = QUuid::createUuid();
    const QString text = Uuid::text(random);
    QCOMPARE(text.size(), 36);
    QCOMPARE(text, text.toUpper());
    QCOMPARE(Uuid::fromText(text), std::optional<QUuid>(random));
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
        QCOMPARE(Uuid::text(*uuid), text.toUpper());
}

void FoundationTest::iso8601FormatIsUtcWithMilliseconds()
{
    const QDateTime utc(QDate(2026, 12, 6), QTime(21, 59, 38, 123), Qt::UTC);
    QCOMPARE(Iso8601::format(utc), u"2026-12-06T21:59:38.123Z"_s);

    // A date given in another zone is written as the same instant in UTC.
    const QDateTime shanghai(QDate(2026, 12, 7), QTime(5, 59, 38, 5), Qt::OffsetFromUTC, 8 * 3600);
    QCOMPARE(Iso8601::format(shanghai), u"2026-12-06T21:59:38.005Z"_s);

    QCOMPARE(Iso8601::format(QDateTime(QDate(2026, 1, 1), QTime(0, 0), Qt::UTC)), u"2026-01-01T00:00:00.000Z"_s);
}

void FoundationTest::iso8601Parse_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QDateTime>("expected"); // invalid: refused

    const QDateTime base(QDate(2026, 12, 6), QTime(21, 59, 38), Qt::UTC);
    QTest::newRow("no fraction") << u"2026-12-06T21:59:38Z"_s << base;
    QTest::newRow("milliseconds") << u"2026-12-06T21:59:38.123Z"_s << base.addMSecs(123);
    QTest::newRow("one fraction digit") << u"2026-12-06T21:59:38.5Z"_s << base.addMSecs(500);
    QTest::newRow("positive offset") << u"2026-12-07T05:59:38+08:00"_s << base;
    QTest::newRow("negative offset with fraction") << u"2026-12-06T16:29:38.250-05:30"_s << base.addMSecs(250);
    QTest::newRow("leap day") << u"2028-02-29T00:00:00Z"_s << QDateTime(QDate(2028, 2, 29), QTime(0, 0), Qt::UTC);

    QTest::newRow("date only") << u"2026-12-06"_s << QDateTime();
    QTest::newRow("no time zone") << u"2026-12-06T21:59:38"_s << QDateTime();
    QTest::newRow("no time zone with fraction") << u"2026-12-06T21:59:38.123"_s << QDateTime();
    QTest::newRow("February 30") << u"2026-02-30T12:00:00Z"_s << QDateTime();
    QTest::newRow("no leap day") << u"2026-02-29T12:00:00Z"_s << QDateTime();
    QTest::newRow("hour 25") << u"2026-12-06T25:00:00Z"_s << QDateTime();
    QTest::newRow("empty fraction") << u"2026-12-06T21:59:38.Z"_s << QDateTime();
    QTest::newRow("blank instead of T") << u"2026-12-06 21:59:38Z"_s << QDateTime();
    QTest::newRow("trailing text") << u"2026-12-06T21:59:38Zx"_s << QDateTime();
    QTest::newRow("garbage") << u"yesterday"_s << QDateTime();
    QTest::newRow("empty") << QString() << QDateTime();
}

void FoundationTest::iso8601Parse()
{
    QFETCH(QString, text);
    QFETCH(QDateTime, expected);

    // The history file is read through the byte form, records through the text form: both agree.
    const QByteArray utf8 = text.toUtf8();
    const auto fromText = Iso8601::parse(QStringView(text));
    const auto fromBytes = Iso8601::parse(std::string_view(utf8.constData(), size_t(utf8.size())));
    QCOMPARE(fromText.has_value(), expected.isValid());
    QCOMPARE(fromBytes.has_value(), expected.isValid());
    if (expected.isValid()) {
        QCOMPARE(fromText->toMSecsSinceEpoch(), expected.toMSecsSinceEpoch());
        QCOMPARE(fromBytes->toMSecsSinceEpoch(), expected.toMSecsSinceEpoch());
    }
}

void FoundationTest::iso8601RoundTrip()
{
    const QList<QDateTime> dates{
        at(0).addMSecs(1),
        at(86400 * 200).addMSecs(999),
        QDateTime(QDate(1999, 12, 31), QTime(23, 59, 59, 10), Qt::OffsetFromUTC, -7 * 3600),
        QDateTime::fromMSecsSinceEpoch(QDateTime::currentMSecsSinceEpoch(), Qt::LocalTime),
    };
    for (const QDateTime& date : dates) {
        const auto parsed = Iso8601::parse(QStringView(Iso8601::format(date)));
        QVERIFY(parsed);
        QCOMPARE(*parsed, date);
        QCOMPARE(parsed->toMSecsSinceEpoch(), date.toMSecsSinceEpoch());
    }
}

void FoundationTest::base64RoundTrip()
{
    QByteArray large(300'001, Qt::Uninitialized);
    QRandomGenerator random(20260101);
    for (char& byte : large)
        byte = char(random.bounded(256));

    QList<QByteArray> inputs;
    for (int length = 0; length <= 10; ++length)
        inputs.append(large.left(length));
    inputs.append(QByteArray("\0\xff\xfe", 3));
    inputs.append(large);

    for (const QByteArray& input : inputs) {
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
    QTest::newRow("12,345") << qint64(12'345) << u"12 KB"_s;
    QTest::newRow("999,499") << qint64(999'499) << u"999 KB"_s;
    QTest::newRow("999,999") << qint64(999'999) << u"1 MB"_s;
    QTest::newRow("1,048,576") << qint64(1'048'576) << u"1 MB"_s;
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

    {
        ClockOverride clock(at(0));
        QCOMPARE(Clock::now(), at(0));
        clock.advance(7'000);
        QCOMPARE(Clock::now(), at(7));
        clock.set(at(-60));
        QCOMPARE(Clock::now(), at(-60));
    }

    // Once the override is gone the clock follows real time again.
    const qint64 drift = qAbs(Clock::now().msecsTo(QDateTime::currentDateTimeUtc()));
    QVERIFY2(drift < 60'000, qPrintable(QString::number(drift)));
}

QUILLOMARE_TEST_MAIN(FoundationTest)
#include "tst_foundation.moc"
