#include "Island/Kit/IslandSelection.h"

#include <QTest>

#include <optional>

using namespace QuillomareMac;

namespace {

struct Entry
{
    QUuid id;
    int position;
};

// Ids made from small numbers, so that a table can name entries by position.
QUuid idAt(int n)
{
    return QUuid(uint(n + 1), 0, 0, 0, 0, 0, 0, 0, 0, 0, 0);
}

QList<Entry> entries(int count)
{
    QList<Entry> list;
    for (int i = 0; i < count; ++i)
        list.append(Entry{idAt(i), i});
    return list;
}

QSet<QUuid> ids(const QList<int>& positions)
{
    QSet<QUuid> set;
    for (int n : positions)
        set.insert(idAt(n));
    return set;
}

QList<int> positions(const QList<Entry>& list)
{
    QList<int> result;
    for (const Entry& entry : list)
        result.append(entry.position);
    return result;
}

std::optional<QUuid> optionalID(int n)
{
    return n < 0 ? std::nullopt : std::optional<QUuid>(idAt(n));
}

} // namespace

class TestIslandSelection : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void toggleMark_data()
    {
        QTest::addColumn<QList<int>>("marked");
        QTest::addColumn<int>("anchor"); // -1: none; 9: an entry no longer listed
        QTest::addColumn<int>("clicked");
        QTest::addColumn<bool>("extendRange");
        QTest::addColumn<QList<int>>("expected");
        QTest::newRow("mark") << QList<int>{} << -1 << 2 << false << QList<int>{2};
        QTest::newRow("unmark") << QList<int>{1, 2} << 1 << 2 << false << QList<int>{1};
        QTest::newRow("range down") << QList<int>{1} << 1 << 3 << true << QList<int>{1, 2, 3};
        QTest::newRow("range up keeps others") << QList<int>{4, 0} << 4 << 2 << true << QList<int>{0, 2, 3, 4};
        QTest::newRow("range never unmarks") << QList<int>{2, 3} << 2 << 3 << true << QList<int>{2, 3};
        QTest::newRow("no anchor toggles") << QList<int>{} << -1 << 3 << true << QList<int>{3};
        QTest::newRow("anchor gone toggles") << QList<int>{3} << 9 << 3 << true << QList<int>{};
        QTest::newRow("anchor ignored without extend") << QList<int>{0} << 0 << 4 << false << QList<int>{0, 4};
    }

    void toggleMark()
    {
        QFETCH(QList<int>, marked);
        QFETCH(int, anchor);
        QFETCH(int, clicked);
        QFETCH(bool, extendRange);
        QFETCH(QList<int>, expected);
        QSet<QUuid> set = ids(marked);
        IslandSelection::toggleMark(entries(5), set, optionalID(anchor), idAt(clicked), extendRange);
        QCOMPARE(set, ids(expected));
    }

    void movedFocus_data()
    {
        QTest::addColumn<int>("count");
        QTest::addColumn<int>("focus"); // -1: none; 9: not listed
        QTest::addColumn<int>("offset");
        QTest::addColumn<int>("expected"); // -1: none
        QTest::newRow("empty") << 0 << -1 << 1 << -1;
        QTest::newRow("down") << 5 << 1 << 1 << 2;
        QTest::newRow("up") << 5 << 3 << -2 << 1;
        QTest::newRow("held at the end") << 5 << 4 << 1 << 4;
        QTest::newRow("held at the top") << 5 << 0 << -3 << 0;
        QTest::newRow("no focus counts from the first") << 5 << -1 << 1 << 1;
        QTest::newRow("unlisted focus counts from the first") << 5 << 9 << 2 << 2;
    }

    void movedFocus()
    {
        QFETCH(int, count);
        QFETCH(int, focus);
        QFETCH(int, offset);
        QFETCH(int, expected);
        QCOMPARE(IslandSelection::movedFocus(entries(count), optionalID(focus), offset), optionalID(expected));
    }

    void forActions_data()
    {
        QTest::addColumn<QList<int>>("marked");
        QTest::addColumn<int>("focus"); // -1: none
        QTest::addColumn<bool>("withFallback");
        QTest::addColumn<QList<int>>("expected");
        QTest::newRow("marked in list order, not focus") << QList<int>{3, 0} << 2 << true << QList<int>{0, 3};
        QTest::newRow("marked but gone: nothing, no fallback") << QList<int>{9} << 2 << true << QList<int>{};
        QTest::newRow("focus alone") << QList<int>{} << 2 << true << QList<int>{2};
        QTest::newRow("nothing: fallback") << QList<int>{} << -1 << true << QList<int>{0, 1, 2, 3};
        QTest::newRow("nothing: empty") << QList<int>{} << -1 << false << QList<int>{};
    }

    void forActions()
    {
        QFETCH(QList<int>, marked);
        QFETCH(int, focus);
        QFETCH(bool, withFallback);
        QFETCH(QList<int>, expected);
        const QList<Entry> list = entries(4);
        const QList<Entry> result = IslandSelection::forActions(
            list, ids(marked), IslandSelection::find(list, optionalID(focus)), withFallback ? list : QList<Entry>());
        QCOMPARE(positions(result), expected);
    }

    void focusRepairAndDetail()
    {
        const QList<Entry> list = entries(3);
        QCOMPARE(IslandSelection::repairedFocus(list, optionalID(2)), optionalID(2));
        QCOMPARE(IslandSelection::repairedFocus(list, optionalID(9)), optionalID(0));
        QCOMPARE(IslandSelection::repairedFocus(list, std::nullopt), optionalID(0));
        QCOMPARE(IslandSelection::repairedFocus(QList<Entry>(), optionalID(1)), std::optional<QUuid>());
        QVERIFY(!IslandSelection::find(list, optionalID(9)));

        // The detail shows the one entry actions work on, else the focused one.
        const std::optional<Entry> focused = list[2];
        QCOMPARE(IslandSelection::detailFocus(QList<Entry>{list[1]}, focused)->position, 1);
        QCOMPARE(IslandSelection::detailFocus(QList<Entry>{list[0], list[1]}, focused)->position, 2);
        QVERIFY(!IslandSelection::detailFocus(QList<Entry>(), std::optional<Entry>()));
    }
};

QTEST_GUILESS_MAIN(TestIslandSelection)

#include "tst_islandselection.moc"
