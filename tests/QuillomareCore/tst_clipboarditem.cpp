#include <QuillomareCore/ClipSettings.h>
#include <QuillomareCore/ClipboardItem.h>
#include <QuillomareCore/Foundation.h>
#include <QuillomareCore/Json.h>
#include <QuillomareCore/Language.h>

#include <QScopeGuard>

#include "TestSupport.h"

using namespace QuillomareCore;
using namespace QuillomareTest;
using namespace Qt::StringLiterals;

namespace {

constexpr qint64 kCloudLimit = 1024 * 1024;
constexpr qint64 kImageLimit = 8 * 1024 * 1024;

ClipboardItem decodeItem(const QByteArray& json)
{
    const auto doc = Json::Document::parse(json);
    return ClipboardItem::decode(doc.root());
}

QByteArray encodeItem(const ClipboardItem& item)
{
    return Json::writeToByteArray([&](Json::Writer& w) { item.encode(w); });
}

QStringList memberNames(const QByteArray& json)
{
    const auto doc = Json::Document::parse(json);
    QStringList names;
    doc.root().forEachMember([&](std::string_view key, const Json::Value&) {
        names.append(QString::fromUtf8(key.data(), qsizetype(key.size())));
    });
    names.sort();
    return names;
}

// An entry of the given kind that passes every exportability rule except the rich-content one.
ClipboardItem itemOfKind(ClipKind kind, bool overCloudLimit)
{
    const qsizetype size = overCloudLimit ? kCloudLimit + 1 : 16;
    ClipboardItem item = textItem(QString(size, u'x'), at(0));
    item.kind = kind;
    if (kind == ClipKind::file)
        item.payload = ClipboardPayload::fileURLs({QString(size, u'f')});
    else if (kind == ClipKind::image)
        item.payload = ClipboardPayload::imagePNG(QByteArray(size, 'i'));
    return item;
}

} // namespace

class ClipboardItemTest : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void kinds();
    void sourcePlatforms();
    void kindFilters();
    void payloadEquality();
    void cloudLimits_data();
    void cloudLimits();
    void localLimitAndFailureText();
    void textLimitCountsUtf8Bytes();
    void exportability_data();
    void exportability();
    void keepLocalOnlyForCloud();
    void plainText_data();
    void plainText();
    void jsonRoundTrip_data();
    void jsonRoundTrip();
    void encodedKeys();
    void tolerantDecoding();
    void strictDecoding_data();
    void strictDecoding();
    void payloadDecoding_data();
    void payloadDecoding();
    void payloadRefused_data();
    void payloadRefused();
};

void ClipboardItemTest::kinds()
{
    // The raw values are what the history file stores; files and images are the rich content.
    const QStringList raws{u"text"_s, u"url"_s, u"file"_s, u"image"_s, u"unknown"_s};
    QCOMPARE(ClipKind::allCases().size(), size_t(raws.size()));
    for (qsizetype i = 0; i < raws.size(); ++i) {
        const ClipKind kind = ClipKind::allCases()[size_t(i)];
        QCOMPARE(kind.rawValue(), raws[i]);
        QCOMPARE(ClipKind::fromRawValue(raws[i]), std::optional<ClipKind>(kind));
        QCOMPARE(kind.isRichContent(), kind == ClipKind::file || kind == ClipKind::image);
        // A search finds the kind by its raw and its shown name.
        QVERIFY(kind.searchText().contains(kind.rawValue()) && kind.searchText().contains(kind.localizedName()));
    }
    for (const QString& raw : {u"Text"_s, u"TEXT"_s, u" text"_s, u"link"_s, QString()})
        QVERIFY2(!ClipKind::fromRawValue(raw), qPrintable(raw));
    ClipboardItem item = textItem(u"x"_s, at(0));
    item.kind = ClipKind::unknown;
    QCOMPARE(item.displayTitle(), u"Clip"_s);
}

void ClipboardItemTest::sourcePlatforms()
{
    // The raw values are what history files and peers' records store.
    const QStringList raws{u"mac"_s, u"iphone"_s, u"unknown"_s};
    QCOMPARE(ClipSourcePlatform::allCases().size(), size_t(raws.size()));
    for (qsizetype i = 0; i < raws.size(); ++i) {
        const ClipSourcePlatform platform = ClipSourcePlatform::allCases()[size_t(i)];
        QCOMPARE(platform.rawValue(), raws[i]);
        QCOMPARE(ClipSourcePlatform::fromRawValue(raws[i]), std::optional<ClipSourcePlatform>(platform));
        // A search (in lower case) finds the platform by its raw value and its shown name.
        const QString words = platform.searchText();
        QVERIFY(words.contains(platform.rawValue()) && words.contains(platform.displayName().toLower()));
    }
    for (const QString& raw : {u"Mac"_s, u"iPhone"_s, u" mac"_s, u"ipad"_s, QString()})
        QVERIFY2(!ClipSourcePlatform::fromRawValue(raw), qPrintable(raw));
}

void ClipboardItemTest::kindFilters()
{
    QList<ClipboardItem> items;
    for (ClipKind kind : ClipKind::allCases())
        items.append(itemOfKind(kind, false));
    items.append(itemOfKind(ClipKind::text, false));

    const QList<qsizetype> counts{6, 2, 1, 1, 1};
    for (int raw = 0; raw < 5; ++raw) {
        const auto filter = ClipKindFilter::fromRawValue(raw);
        QVERIFY(filter);
        QCOMPARE(ClipKindFilter::allCases()[size_t(raw)], *filter);
        QCOMPARE(filter->id(), raw);
        QCOMPARE(filter->count(items), counts[raw]);
        // An unknown entry is only ever matched by "all".
        QCOMPARE(filter->matches(items[4]), raw == 0);
    }
    QVERIFY(!ClipKindFilter::fromRawValue(5));
    QVERIFY(!ClipKindFilter::fromRawValue(-1));
    QCOMPARE(ClipKindFilter(ClipKindFilter::image).count({}), qsizetype(0));
}

void ClipboardItemTest::payloadEquality()
{
    QCOMPARE(ClipboardPayload::text(u"a"_s), ClipboardPayload::text(u"a"_s));
    QVERIFY(ClipboardPayload::text(u"a"_s) != ClipboardPayload::text(u"a "_s));
    QVERIFY(ClipboardPayload::text(QString()) != ClipboardPayload::empty());
    QVERIFY(ClipboardPayload::fileURLs({}) != ClipboardPayload::empty());
    QVERIFY(ClipboardPayload::imagePNG({}) != ClipboardPayload::empty());
    QVERIFY(ClipboardPayload::imagePNG({}) != ClipboardPayload::text(QString()));
    QCOMPARE(ClipboardPayload::empty(), ClipboardPayload());
    QVERIFY(ClipboardPayload::fileURLs({u"/a"_s, u"/b"_s}) != ClipboardPayload::fileURLs({u"/b"_s, u"/a"_s}));
    QVERIFY(ClipboardPayload::imagePNG("\x89PNG") != ClipboardPayload::imagePNG("\x89PNH"));
}

void ClipboardItemTest::cloudLimits_data()
{
    QTest::addColumn<ClipboardPayload>("payload");
    QTest::addColumn<bool>("exceeds");

    const qsizetype n = kCloudLimit;
    QTest::newRow("ASCII at the limit") << ClipboardPayload::text(QString(n, u'a')) << false;
    QTest::newRow("ASCII one byte over") << ClipboardPayload::text(QString(n + 1, u'a')) << true;
    QTest::newRow("two-byte letters one byte over") << ClipboardPayload::text(QString(n / 2, u'é') + u'a') << true;
    QTest::newRow("CJK over the limit") << ClipboardPayload::text(u"中"_s.repeated(349'526)) << true;
    QTest::newRow("emoji at the limit") << ClipboardPayload::text(u"😀"_s.repeated(n / 4)) << false;
    QTest::newRow("emoji one byte over") << ClipboardPayload::text(u"😀"_s.repeated(n / 4) + u'a') << true;
    // 1,048,575 bytes of paths plus two line feeds.
    const QString third(349'525, u'p');
    QTest::newRow("line feeds tip the file list over")
        << ClipboardPayload::fileURLs({third, third, third}) << true;
    QTest::newRow("file list with line feeds at the limit")
        << ClipboardPayload::fileURLs({third, third, QString(349'524, u'p')}) << false;
    QTest::newRow("image at the limit") << ClipboardPayload::imagePNG(QByteArray(n, 'i')) << false;
    QTest::newRow("image one byte over") << ClipboardPayload::imagePNG(QByteArray(n + 1, 'i')) << true;
    QTest::newRow("empty") << ClipboardPayload::empty() << false;
}

void ClipboardItemTest::cloudLimits()
{
    QFETCH(ClipboardPayload, payload);
    QFETCH(bool, exceeds);
    QCOMPARE(payload.exceedsCloudExportLimits(), exceeds);
    // Only images are ever too large for the local history.
    QVERIFY(!payload.exceedsLocalHistoryLimits());
}

void ClipboardItemTest::localLimitAndFailureText()
{
    Language::setProvider([] { return true; });
    const auto english = qScopeGuard([] { Language::setProvider([] { return false; }); });
    ClipboardItem item = imageItem(QByteArray(kImageLimit, 'i'), at(0));
    QVERIFY(item.fitsLocalHistoryPayloadLimits());
    QVERIFY(!item.payloadLimitFailureDescription());
    QVERIFY(item.payload.exceedsCloudExportLimits());

    item.payload = ClipboardPayload::imagePNG(QByteArray(kImageLimit + 1, 'i'));
    QVERIFY(!item.fitsLocalHistoryPayloadLimits());
    QCOMPARE(item.payloadLimitFailureDescription(),
             std::optional(u"图片过大，未写入历史（8,388,609 字节，上限 8,388,608 字节）"_s));

    item.payload = ClipboardPayload::imagePNG(QByteArray(12'000'000, 'i'));
    QCOMPARE(item.payloadLimitFailureDescription(), std::optional(u"图片过大，未写入历史（12 MB，上限 8.4 MB）"_s));
    // The same refusal in the other interface language, and with a size known only as a lower bound.
    Language::setProvider([] { return false; });
    QCOMPARE(item.payloadLimitFailureDescription(), std::optional(u"Image too large, not saved (12 MB, limit 8.4 MB)"_s));
    QCOMPARE(ClipboardItem::payloadTooLargeDescription(false, 40'000'000, false),
             u"Text too large, not saved (> 40 MB, limit 33.6 MB)"_s);
    // Figures that round alike are told apart by their bytes; one that rounds apart is not.
    QCOMPARE(ClipboardItem::payloadTooLargeDescription(true, kImageLimit + 1),
             u"Image too large, not saved (8,388,609 bytes, limit 8,388,608 bytes)"_s);
    QCOMPARE(ClipboardItem::payloadTooLargeDescription(false, 32 * 1024 * 1024 + 1, false),
             u"Text too large, not saved (> 33,554,433 bytes, limit 33,554,432 bytes)"_s);
    QCOMPARE(ClipboardItem::payloadTooLargeDescription(true, 8'450'000),
             u"Image too large, not saved (8.5 MB, limit 8.4 MB)"_s);
    Language::setProvider([] { return true; });

    // Texts and file lists are never refused for their size.
    const ClipboardItem text = textItem(QString(kImageLimit + 1, u'a'), at(0));
    QVERIFY(text.fitsLocalHistoryPayloadLimits());
    QVERIFY(!text.payloadLimitFailureDescription());
    QCOMPARE(ClipboardItem::formattedBytes(kImageLimit), u"8.4 MB"_s);
}

// A text is refused by its UTF-8 size, whatever its length in characters.
void ClipboardItemTest::textLimitCountsUtf8Bytes()
{
    Language::setProvider([] { return true; });
    const auto english = qScopeGuard([] { Language::setProvider([] { return false; }); });
    constexpr qint64 limit = 32 * 1024 * 1024;
    ClipboardItem item = textItem(QString(limit, u'a'), at(0));
    QVERIFY(item.fitsLocalHistoryPayloadLimits());
    QVERIFY(!item.payloadLimitFailureDescription());

    item.payload = ClipboardPayload::text(QString(limit + 1, u'a'));
    QVERIFY(!item.fitsLocalHistoryPayloadLimits());
    QCOMPARE(item.payloadLimitFailureDescription(),
             std::optional(u"文本过大，未写入历史（33,554,433 字节，上限 33,554,432 字节）"_s));

    // Three bytes each: fewer characters than the limit, more bytes.
    item.payload = ClipboardPayload::text(QString(limit / 3 + 1, u'文'));
    QVERIFY(!item.fitsLocalHistoryPayloadLimits());
    item.payload = ClipboardPayload::text(QString(limit / 3, u'文'));
    QVERIFY(item.fitsLocalHistoryPayloadLimits());
}

void ClipboardItemTest::exportability_data()
{
    QTest::addColumn<ClipKind>("kind");
    QTest::addColumn<bool>("emptyHash");
    QTest::addColumn<bool>("sensitive");
    QTest::addColumn<bool>("localOnly");
    QTest::addColumn<bool>("oversize");
    QTest::addColumn<bool>("richSync");
    QTest::addColumn<bool>("exportable");

    const auto text = ClipKind(ClipKind::text), file = ClipKind(ClipKind::file), image = ClipKind(ClipKind::image);
    QTest::newRow("plain text") << text << false << false << false << false << false << true;
    QTest::newRow("empty hash") << text << true << false << false << false << true << false;
    QTest::newRow("sensitive") << text << false << true << false << false << true << false;
    QTest::newRow("local only") << text << false << false << true << false << true << false;
    QTest::newRow("text over the cloud limit") << text << false << false << false << true << true << false;
    QTest::newRow("file, rich sync off") << file << false << false << false << false << false << false;
    QTest::newRow("file, rich sync on") << file << false << false << false << false << true << true;
    QTest::newRow("image over the cloud limit") << image << false << false << false << true << true << false;
}

void ClipboardItemTest::exportability()
{
    QFETCH(ClipKind, kind);
    QFETCH(bool, emptyHash);
    QFETCH(bool, sensitive);
    QFETCH(bool, localOnly);
    QFETCH(bool, oversize);
    QFETCH(bool, richSync);
    QFETCH(bool, exportable);

    ClipboardItem item = itemOfKind(kind, oversize);
    if (emptyHash)
        item.contentHash.clear();
    item.isSensitive = sensitive;
    item.isLocalOnly = localOnly;

    ClipSettings settings;
    settings.syncRichContentToICloud = richSync;
    QCOMPARE(item.isCloudExportable(settings), exportable);
}

void ClipboardItemTest::keepLocalOnlyForCloud()
{
    ClipSettings richOff;
    ClipSettings richOn;
    richOn.syncRichContentToICloud = true;
    const auto small = ClipboardPayload::text(u"small"_s);
    const auto large = ClipboardPayload::imagePNG(QByteArray(kCloudLimit + 1, 'i'));

    for (ClipKind kind : ClipKind::allCases()) {
        QCOMPARE(ClipboardItem::shouldKeepLocalOnlyForCloud(kind, richOff), kind.isRichContent());
        QVERIFY(!ClipboardItem::shouldKeepLocalOnlyForCloud(kind, richOn));
        QCOMPARE(ClipboardItem::shouldKeepLocalOnlyForCloud(kind, small, richOff), kind.isRichContent());
        QVERIFY(!ClipboardItem::shouldKeepLocalOnlyForCloud(kind, small, richOn));
        QVERIFY(ClipboardItem::shouldKeepLocalOnlyForCloud(kind, large, richOn));
    }
}

void ClipboardItemTest::plainText_data()
{
    QTest::addColumn<ClipboardPayload>("payload");
    QTest::addColumn<std::optional<QString>>("expected");

    QTest::newRow("text") << ClipboardPayload::text(u"hello"_s) << std::optional(u"hello"_s);
    QTest::newRow("text is not trimmed") << ClipboardPayload::text(u"  \n\t "_s) << std::optional(u"  \n\t "_s);
    QTest::newRow("empty text") << ClipboardPayload::text(QString()) << std::optional<QString>();
    QTest::newRow("paths trimmed, blanks dropped")
        << ClipboardPayload::fileURLs({u"  /a b/c  "_s, QString(), u" \n"_s, u"\u3000/d\t"_s})
        << std::optional(u"/a b/c\n/d"_s);
    QTest::newRow("all paths blank") << ClipboardPayload::fileURLs({u" "_s, u"\n"_s}) << std::optional<QString>();
    QTest::newRow("image") << ClipboardPayload::imagePNG("png") << std::optional<QString>();
    QTest::newRow("empty") << ClipboardPayload::empty() << std::optional<QString>();
}

void ClipboardItemTest::plainText()
{
    QFETCH(ClipboardPayload, payload);
    QFETCH(std::optional<QString>, expected);
    ClipboardItem item = textItem(u"x"_s, at(0));
    item.payload = payload;
    QCOMPARE(item.plainTextRepresentation(), expected);
}

void ClipboardItemTest::jsonRoundTrip_data()
{
    QTest::addColumn<ClipboardItem>("item");

    ClipboardItem full = textItem(u"line 1\n\"quoted\" \\ 😀 剪贴板"_s, at(10).addMSecs(123));
    full.sourceAppName = u"终端 \"Terminal\""_s;
    full.sourceBundleIdentifier = u"com.apple.Terminal"_s;
    full.isSensitive = full.isLocalOnly = full.isPinned = true;
    QTest::newRow("text with every optional field") << full;

    ClipboardItem link = textItem(u"https://example.com/?q=1&r=2"_s, at(20));
    link.kind = ClipKind::url;
    link.sourcePlatform = ClipSourcePlatform::iphone;
    QTest::newRow("link without optional fields") << link;

    ClipboardItem blankSource = textItem(u"x"_s, at(30));
    blankSource.sourceAppName = QString();
    blankSource.sourceBundleIdentifier = QString();
    QTest::newRow("present but empty optional fields") << blankSource;

    QTest::newRow("files")
        << fileItem({u"/home/u/a b.txt"_s, u"/home/u/文件.pdf "_s, QString()}, at(40).addMSecs(1));
    QTest::newRow("no files") << fileItem({}, at(50));

    QByteArray allBytes;
    for (int b = 0; b < 256; ++b)
        allBytes.append(char(b));
    QTest::newRow("image with every byte value") << imageItem(allBytes, at(60));
    QTest::newRow("image without bytes") << imageItem(QByteArray(), at(70));

    ClipboardItem empty = textItem(QString(), QDateTime(QDate(2026, 5, 1), QTime(8, 0, 0, 999), Qt::OffsetFromUTC, 28800));
    empty.kind = ClipKind::unknown;
    empty.contentHash.clear();
    empty.preview = u"not the hash"_s;
    empty.sourcePlatform = ClipSourcePlatform::unknown;
    empty.payload = ClipboardPayload::empty();
    QTest::newRow("empty payload, empty hash, date with offset") << empty;
}

void ClipboardItemTest::jsonRoundTrip()
{
    QFETCH(ClipboardItem, item);
    const ClipboardItem decoded = decodeItem(encodeItem(item));
    QCOMPARE(decoded.id, item.id);
    QCOMPARE(decoded.createdAt, item.createdAt);
    QCOMPARE(decoded.contentHash, item.contentHash);
    QCOMPARE(decoded.sourceAppName, item.sourceAppName);
    QCOMPARE(decoded.payload, item.payload);
    QVERIFY(decoded == item);
}

void ClipboardItemTest::encodedKeys()
{
    ClipboardItem item = textItem(u"x"_s, at(0));
    item.id = QUuid(u"{e621e1f8-c36c-495a-93fc-0c247a3e6e5f}"_s);
    const QByteArray json = encodeItem(item);
    QCOMPARE(memberNames(json), (QStringList{u"contentHash"_s, u"createdAt"_s, u"id"_s, u"isLocalOnly"_s,
                                             u"isPinned"_s, u"isSensitive"_s, u"kind"_s, u"payload"_s,
                                             u"preview"_s, u"sourcePlatform"_s}));
    const auto doc = Json::Document::parse(json);
    QCOMPARE(doc.root().member("id")->toString("id"), u"E621E1F8-C36C-495A-93FC-0C247A3E6E5F"_s);
    QCOMPARE(doc.root().member("createdAt")->toString("createdAt"), u"2026-01-01T12:00:00.000Z"_s);
    QCOMPARE(doc.root().member("kind")->toString("kind"), u"text"_s);
    QCOMPARE(doc.root().member("sourcePlatform")->toString("sourcePlatform"), u"mac"_s);

    item.sourceAppName = u"App"_s;
    item.sourceBundleIdentifier = u"com.example.app"_s;
    QCOMPARE(memberNames(encodeItem(item)).size(), 12);
}

void ClipboardItemTest::tolerantDecoding()
{
    ClockOverride clock(at(3600).addMSecs(42));

    const ClipboardItem first = decodeItem("{}");
    QVERIFY(!first.id.isNull());
    QCOMPARE(first.createdAt, clock.now());
    QCOMPARE(first.kind, ClipKind::unknown);
    QCOMPARE(first.preview, QString());
    QCOMPARE(first.contentHash, QString());
    QVERIFY(!first.sourceAppName && !first.sourceBundleIdentifier);
    QCOMPARE(first.sourcePlatform, ClipSourcePlatform::unknown);
    QVERIFY(!first.isSensitive && !first.isLocalOnly && !first.isPinned);
    QCOMPARE(first.payload, ClipboardPayload::empty());
    QVERIFY(decodeItem("{}").id != first.id);

    QCOMPARE(decodeItem(R"({"preview":"hello"})").contentHash, u"hello"_s);
    QCOMPARE(decodeItem(R"({"preview":"hello","contentHash":null})").contentHash, u"hello"_s);
    QCOMPARE(decodeItem(R"({"preview":"hello","contentHash":""})").contentHash, QString());

    // Nulls read as missing; lower-case ids and numeric offsets are accepted.
    const ClipboardItem nulls = decodeItem(R"({"kind":null,"isPinned":null,"payload":null,"sourceAppName":null,
        "id":"e621e1f8-c36c-495a-93fc-0c247a3e6e5f","createdAt":"2026-01-01T20:00:00+08:00","unknownKey":[1]})");
    QCOMPARE(nulls.kind, ClipKind::unknown);
    QVERIFY(!nulls.isPinned);
    QVERIFY(!nulls.sourceAppName);
    QCOMPARE(nulls.payload, ClipboardPayload::empty());
    QCOMPARE(nulls.id, QUuid(u"{e621e1f8-c36c-495a-93fc-0c247a3e6e5f}"_s));
    QCOMPARE(nulls.createdAt, at(0));
}

void ClipboardItemTest::strictDecoding_data()
{
    QTest::addColumn<QByteArray>("json");

    QTest::newRow("not an object") << QByteArray("[]");
    QTest::newRow("id in braces") << QByteArray(R"({"id":"{E621E1F8-C36C-495A-93FC-0C247A3E6E5F}"})");
    QTest::newRow("February 30") << QByteArray(R"({"createdAt":"2026-02-30T12:00:00Z"})");
    QTest::newRow("kind Text") << QByteArray(R"({"kind":"Text"})");
    QTest::newRow("preview as a number") << QByteArray(R"({"preview":5})");
    QTest::newRow("hash as a bool") << QByteArray(R"({"contentHash":false})");
    QTest::newRow("app name as an array") << QByteArray(R"({"sourceAppName":["a"]})");
    QTest::newRow("platform Mac") << QByteArray(R"({"sourcePlatform":"Mac"})");
    QTest::newRow("sensitive as a string") << QByteArray(R"({"isSensitive":"true"})");
    QTest::newRow("pinned as a number") << QByteArray(R"({"isPinned":1})");
    QTest::newRow("payload as a string") << QByteArray(R"({"payload":"text"})");
}

void ClipboardItemTest::strictDecoding()
{
    QFETCH(QByteArray, json);
    QVERIFY_THROWS_EXCEPTION(DecodingError, decodeItem(json));
}

void ClipboardItemTest::payloadDecoding_data()
{
    QTest::addColumn<QByteArray>("json");
    QTest::addColumn<ClipboardPayload>("expected");

    QTest::newRow("empty") << QByteArray(R"({"empty":{}})") << ClipboardPayload::empty();
    QTest::newRow("inside of empty not looked into") << QByteArray(R"({"empty":{"_0":5}})") << ClipboardPayload::empty();
    QTest::newRow("unknown key beside text")
        << QByteArray(R"({"text":{"_0":"a"},"html":{"_0":"<b>a</b>"}})") << ClipboardPayload::text(u"a"_s);
    QTest::newRow("files") << QByteArray(R"({"fileURLs":{"_0":["/a"," /b"]}})")
                           << ClipboardPayload::fileURLs({u"/a"_s, u" /b"_s});
    QTest::newRow("no files") << QByteArray(R"({"fileURLs":{"_0":[]}})") << ClipboardPayload::fileURLs({});
    QTest::newRow("image") << QByteArray(R"({"imagePNG":{"_0":"iVBORw=="}})")
                           << ClipboardPayload::imagePNG(QByteArray("\x89PNG", 4));
    QTest::newRow("image without bytes") << QByteArray(R"({"imagePNG":{"_0":""}})") << ClipboardPayload::imagePNG({});
}

void ClipboardItemTest::payloadDecoding()
{
    QFETCH(QByteArray, json);
    QFETCH(ClipboardPayload, expected);
    QCOMPARE(decodeItem("{\"payload\":" + json + "}").payload, expected);
}

void ClipboardItemTest::payloadRefused_data()
{
    QTest::addColumn<QByteArray>("json");
    QTest::addColumn<QString>("message"); // empty: any decoding error

    const QString keys = u"Invalid number of keys found, expected one."_s;
    QTest::newRow("text and empty") << QByteArray(R"({"text":{"_0":"a"},"empty":{}})") << keys;
    QTest::newRow("no case key") << QByteArray(R"({"html":{"_0":"a"}})") << keys;
    QTest::newRow("no key at all") << QByteArray("{}") << keys;
    QTest::newRow("_0 missing") << QByteArray(R"({"text":{}})") << QString();
    QTest::newRow("text as a number") << QByteArray(R"({"text":{"_0":5}})") << QString();
    QTest::newRow("case value not an object") << QByteArray(R"({"text":"a"})") << QString();
    QTest::newRow("files as a string") << QByteArray(R"({"fileURLs":{"_0":"/a"}})") << QString();
    QTest::newRow("file path as a number") << QByteArray(R"({"fileURLs":{"_0":["/a",1]}})") << QString();
    QTest::newRow("image base64 with blank") << QByteArray(R"({"imagePNG":{"_0":"QU JD"}})") << QString();
    QTest::newRow("image as a number") << QByteArray(R"({"imagePNG":{"_0":5}})") << QString();
}

void ClipboardItemTest::payloadRefused()
{
    QFETCH(QByteArray, json);
    QFETCH(QString, message);
    try {
        decodeItem("{\"payload\":" + json + "}");
        QFAIL("decoded without an error");
    } catch (const DecodingError& error) {
        if (!message.isEmpty())
            QCOMPARE(error.localizedDescription(), message);
    }
}

QUILLOMARE_TEST_MAIN(ClipboardItemTest)
#include "tst_clipboarditem.moc"
