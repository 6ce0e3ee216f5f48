#include <QuillomareCore/CloudSyncService.h>
#include <QuillomareCore/Json.h>

#include "TestSupport.h"

#include <limits>

using namespace QuillomareCore;
using namespace QuillomareTest;

namespace {

ClipboardDeletionTombstone decodeTombstone(const QByteArray& json)
{
    const Json::Document document = Json::Document::parse(json);
    return ClipboardDeletionTombstone::decode(document.root());
}

QSet<QString> hashesOf(const QList<ClipboardDeletionTombstone>& tombstones)
{
    QSet<QString> hashes;
    for (const auto& tombstone : tombstones)
        hashes.insert(tombstone.contentHash);
    return hashes;
}

std::optional<QDateTime> dateFor(const CloudSyncPullResult& result, const QString& hash)
{
    for (const auto& tombstone : result.deletionTombstones)
        if (tombstone.contentHash == hash)
            return tombstone.deletedAt;
    return std::nullopt;
}

// The folded fields must describe the same hashes, one tombstone each.
void verifyFoldedFieldsAgree(const CloudSyncPullResult& result)
{
    QCOMPARE(hashesOf(result.deletionTombstones), result.deletedContentHashes);
    QCOMPARE(result.deletionTombstones.size(), result.deletedContentHashes.size());
}

} // namespace

namespace QuillomareCore {

// Found by QCOMPARE through argument-dependent lookup, so a mismatch shows both sides.
char* toString(const CloudSyncState& state)
{
    const char* const cases[] = {"unavailable", "failed", "disabled", "idle", "syncing"};
    return qstrdup(QStringLiteral("%1(%2)")
                       .arg(QString::fromLatin1(cases[int(state.caseOf())]), state.text())
                       .toUtf8()
                       .constData());
}

} // namespace QuillomareCore

class CloudSyncTest : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void stateEquality();

    void tombstoneRoundTrip();
    void tombstoneRejects_data();
    void tombstoneRejects();

    void latestDeletionWins_data();
    void latestDeletionWins();
    void setOnlyHashIsDatedAtConstruction();
    void emptyHashesVanish();

    void localOnlyServiceAnswersUnavailable_data();
    void localOnlyServiceAnswersUnavailable();
};

void CloudSyncTest::stateEquality()
{
    const QString a = QStringLiteral("网络不可用");
    // The text is part of the state; the case is too, even with the same text.
    QVERIFY(CloudSyncState::failed(a) == CloudSyncState::failed(a));
    QVERIFY(CloudSyncState::failed(a) != CloudSyncState::failed(QStringLiteral("Quota exceeded")));
    QVERIFY(CloudSyncState::unavailable(a) != CloudSyncState::failed(a));
    QVERIFY(CloudSyncState::unavailable(QString()) != CloudSyncState::disabled());
    QVERIFY(CloudSyncState::idle() != CloudSyncState::syncing());
    QCOMPARE(CloudSyncState::unavailable(a).text(), a);
}

void CloudSyncTest::tombstoneRoundTrip()
{
    const ClipboardDeletionTombstone tombstone{QStringLiteral("text:9f86d081884c7d65"), at(90).addMSecs(123)};
    const QByteArray json = Json::writeToByteArray([&](Json::Writer& w) { tombstone.encode(w); });

    const Json::Document document = Json::Document::parse(json);
    const Json::Value root = document.root();
    QCOMPARE(root.type(), Json::Type::Object);
    QCOMPARE(root.memberCount(), qsizetype(2));
    QCOMPARE(root.member("contentHash")->toString("contentHash"), tombstone.contentHash);
    QCOMPARE(root.member("deletedAt")->toString("deletedAt"), QStringLiteral("2026-01-01T12:01:30.123Z"));

    QCOMPARE(ClipboardDeletionTombstone::decode(root), tombstone);

    // A date without fraction and keys of no meaning are read too.
    QCOMPARE(decodeTombstone(R"({"deletedAt": "2026-01-01T12:00:00Z", "contentHash": "abc", "extra": 1})"),
             (ClipboardDeletionTombstone{QStringLiteral("abc"), at(0)}));
}

void CloudSyncTest::tombstoneRejects_data()
{
    QTest::addColumn<QByteArray>("json");

    QTest::newRow("no deletedAt") << QByteArray(R"({"contentHash": "abc"})");
    QTest::newRow("no contentHash") << QByteArray(R"({"deletedAt": "2026-01-01T12:00:00Z"})");
    QTest::newRow("deletedAt number") << QByteArray(R"({"contentHash": "abc", "deletedAt": 788961600})");
    QTest::newRow("deletedAt null") << QByteArray(R"({"contentHash": "abc", "deletedAt": null})");
    QTest::newRow("deletedAt not a date") << QByteArray(R"({"contentHash": "abc", "deletedAt": "yesterday"})");
    QTest::newRow("contentHash number") << QByteArray(R"({"contentHash": 42, "deletedAt": "2026-01-01T12:00:00Z"})");
    QTest::newRow("contentHash null") << QByteArray(R"({"contentHash": null, "deletedAt": "2026-01-01T12:00:00Z"})");
    QTest::newRow("not an object") << QByteArray(R"(["abc", "2026-01-01T12:00:00Z"])");
}

void CloudSyncTest::tombstoneRejects()
{
    QFETCH(QByteArray, json);
    QVERIFY_THROWS_EXCEPTION(DecodingError, decodeTombstone(json));
}

void CloudSyncTest::latestDeletionWins_data()
{
    QTest::addColumn<bool>("olderFirst");
    QTest::newRow("older first") << true;
    QTest::newRow("newer first") << false;
}

void CloudSyncTest::latestDeletionWins()
{
    QFETCH(bool, olderFirst);
    const ClipboardDeletionTombstone oneHourAgo{QStringLiteral("h"), at(-3600)};
    const ClipboardDeletionTombstone threeHoursAgo{QStringLiteral("h"), at(-3 * 3600)};
    const ClipboardDeletionTombstone other{QStringLiteral("k"), at(-7200)};
    const QList<ClipboardDeletionTombstone> tombstones =
        olderFirst ? QList{threeHoursAgo, other, oneHourAgo} : QList{oneHourAgo, other, threeHoursAgo};

    // The state and the items pass through untouched, a repeated entry included.
    const QList<ClipboardItem> items{textItem(QStringLiteral("one"), at(1)), textItem(QStringLiteral("one"), at(3))};
    const CloudSyncState state = CloudSyncState::failed(QStringLiteral("部分记录未能读取"));
    const CloudSyncPullResult result(state, items, {}, tombstones);
    QCOMPARE(result.state, state);
    QCOMPARE(result.items, items);
    verifyFoldedFieldsAgree(result);
    QCOMPARE(result.deletedContentHashes, (QSet<QString>{QStringLiteral("h"), QStringLiteral("k")}));
    QCOMPARE(dateFor(result, QStringLiteral("h")), std::optional(at(-3600)));
    QCOMPARE(dateFor(result, QStringLiteral("k")), std::optional(at(-7200)));
}

// A hash known only from the set has no deletion date of its own: it takes the moment of folding,
// but never overrides a date a tombstone gave, even an older one.
void CloudSyncTest::setOnlyHashIsDatedAtConstruction()
{
    ClockOverride clock(at(500));
    const QSet<QString> set{QStringLiteral("onlyInSet"), QStringLiteral("alsoInSet"), QStringLiteral("second")};
    const QList<ClipboardDeletionTombstone> tombstones{{QStringLiteral("alsoInSet"), at(-100)}};

    const CloudSyncPullResult result(CloudSyncState::idle(), {}, set, tombstones);
    clock.advance(60'000);

    verifyFoldedFieldsAgree(result);
    QCOMPARE(result.deletedContentHashes, set);
    QCOMPARE(dateFor(result, QStringLiteral("onlyInSet")), std::optional(at(500)));
    QCOMPARE(dateFor(result, QStringLiteral("second")), std::optional(at(500)));
    QCOMPARE(dateFor(result, QStringLiteral("alsoInSet")), std::optional(at(-100)));

    // A later fold sees the later clock.
    const CloudSyncPullResult later(CloudSyncState::idle(), {}, {QStringLiteral("onlyInSet")}, {});
    QCOMPARE(dateFor(later, QStringLiteral("onlyInSet")), std::optional(at(560)));
}

void CloudSyncTest::emptyHashesVanish()
{
    const ClockOverride clock(at(0));
    const QList<ClipboardDeletionTombstone> tombstones{{QString(), at(10)}, {QStringLiteral(""), at(20)},
                                                       {QStringLiteral("h"), at(-5)}};

    const CloudSyncPullResult result(CloudSyncState::idle(), {}, {QString(), QStringLiteral("s")}, tombstones);
    verifyFoldedFieldsAgree(result);
    QCOMPARE(result.deletedContentHashes, (QSet<QString>{QStringLiteral("h"), QStringLiteral("s")}));

    const CloudSyncPullResult onlyEmpty(CloudSyncState::idle(), {}, {QString()}, {{QString(), at(1)}});
    QVERIFY(onlyEmpty.deletedContentHashes.isEmpty());
    QVERIFY(onlyEmpty.deletionTombstones.isEmpty());
    const CloudSyncPullResult nothing(CloudSyncState::syncing(), {}, {}, {});
    QVERIFY(nothing.deletedContentHashes.isEmpty() && nothing.deletionTombstones.isEmpty());
}

void CloudSyncTest::localOnlyServiceAnswersUnavailable_data()
{
    QTest::addColumn<QString>("reason");
    QTest::newRow("chinese") << "iCloud 同步已关闭";
    QTest::newRow("empty") << "";
}

void CloudSyncTest::localOnlyServiceAnswersUnavailable()
{
    QFETCH(QString, reason);
    const CloudSyncState expected = CloudSyncState::unavailable(reason);
    const ClockOverride clock(at(0));

    LocalOnlyCloudSyncService service(reason);
    CloudSyncing& sync = service;
    const QList<ClipboardItem> items{textItem(QStringLiteral("hello"), at(0))};

    QCOMPARE(sync.state(), expected);
    QCOMPARE(sync.push(items), expected);
    QCOMPARE(sync.push({}), expected);
    QCOMPARE(sync.pushDeletionTombstones({{QStringLiteral("h"), at(0)}}), expected);
    QCOMPARE(sync.pushDeletedContentHashes({QStringLiteral("h")}), expected);
    QCOMPARE(sync.deleteItems(items), expected);

    for (int limit : {0, 1, 500, -1, std::numeric_limits<int>::max()}) {
        const CloudSyncPullResult pulled = sync.pull(limit);
        QCOMPARE(pulled.state, expected);
        QVERIFY(pulled.items.isEmpty());
        QVERIFY(pulled.deletedContentHashes.isEmpty());
        QVERIFY(pulled.deletionTombstones.isEmpty());
    }
    QCOMPARE(sync.state(), expected);
}

QUILLOMARE_TEST_MAIN(CloudSyncTest)
#include "tst_cloudsync.moc"
