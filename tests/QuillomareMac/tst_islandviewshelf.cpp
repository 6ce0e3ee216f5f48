// The shelf mode's state inside the island: what a push shows, when the cards are built again,
// the selection and its keys, and the outcome messages the shell hands over.

#include "IslandViewTestRig.h"
#include "TestSupport.h"

#include "Island/Kit/IslandToastView.h"
#include "Island/IslandView.h"
#include "Shelf/Views/ShelfDropZoneView.h"
#include "Shelf/Views/ShelfGalleryCardView.h"
#include "Shelf/Views/ShelfItemRowView.h"
#include "Shelf/Views/ShelfSessionPillButton.h"

#include <QuillomareCore/Foundation.h>

#include <QBuffer>
#include <QImage>
#include <QKeyEvent>
#include <QLabel>

#include <memory>

using namespace QuillomareMac;
using QuillomareCore::ClipKind;
using QuillomareTest::at;

namespace {

ShelfItem textEntry(const QString& text, qint64 seconds = 0)
{
    ShelfItem item;
    item.id = QUuid::createUuid();
    item.createdAt = at(seconds);
    item.kind = ClipKind::text;
    item.title = text;
    item.subtitle = QStringLiteral("Text · 5 characters");
    item.preview = text;
    item.payload = ShelfPayload::text(text);
    return item;
}

QList<ShelfItem> entries(int count)
{
    QList<ShelfItem> items;
    for (int i = 0; i < count; ++i)
        items.append(textEntry(QStringLiteral("entry %1").arg(i), -i));
    return items;
}

ShelfSession session(const QString& name, const QList<ShelfItem>& items, qint64 updated = 0)
{
    return ShelfSession{QUuid::createUuid(), name, items, at(-100), at(updated)};
}

const QChar kSeparator(0x1F);

} // namespace

class TestIslandViewShelf : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<QuillomareTest::IslandViewTestRig> m_rig;
    IslandView* m_view = nullptr;

    QList<QUuid> ids() const
    {
        QList<QUuid> list;
        for (const ShelfItem& item : m_view->shelfItems())
            list.append(item.id);
        return list;
    }

    // Which views show themselves selected, cards and rows alike.
    QSet<QUuid> markedCards() const
    {
        QSet<QUuid> marked;
        for (const ShelfItem& item : m_view->shelfItems()) {
            if (ShelfGalleryCardView* card = m_view->shelfGalleryCardView(item.id); card && card->isSelected())
                marked.insert(item.id);
        }
        return marked;
    }
    QSet<QUuid> markedRows() const
    {
        QSet<QUuid> marked;
        for (const ShelfItem& item : m_view->shelfItems()) {
            if (ShelfItemRowView* row = m_view->shelfRowView(item.id); row && row->isSelected())
                marked.insert(item.id);
        }
        return marked;
    }

private Q_SLOTS:
    void init()
    {
        m_rig = std::make_unique<QuillomareTest::IslandViewTestRig>(QRect(297, 0, 185, 32));
        m_view = m_rig->view;
        m_rig->expand();
    }
    void cleanup()
    {
        m_rig.reset();
        m_view = nullptr;
    }

    // MARK: Pushes and the signature

    void noSessionsShowNothingAndSignTheirCounts()
    {
        const QUuid id = QUuid::createUuid();
        m_view->configureShelf(QList<ShelfItem>{textEntry(QStringLiteral("old"))}, std::nullopt);
        QVERIFY(m_view->selectedShelfItemID());
        m_view->configureShelf(QList<ShelfSession>{}, id, std::nullopt);

        QVERIFY(m_view->shelfItems().isEmpty());
        QCOMPARE(m_view->makeShelfRowsSignature(), QStringLiteral("session=") + QuillomareCore::Uuid::text(id) +
                                                       kSeparator + QStringLiteral("sessionCount=0") + kSeparator +
                                                       QStringLiteral("itemCount=0"));
        QCOMPARE(m_view->shelfSessionButton()->titleLabel()->text(), QStringLiteral("Default 0"));
        QVERIFY(!m_view->shelfSessionButton()->isEnabled());
        QVERIFY(!m_view->selectedShelfItemID());
        QVERIFY(m_view->selectedShelfItemIDs().isEmpty());
        QCOMPARE(m_view->shelfGalleryCardCount(), 0);
        QCOMPARE(m_view->shelfGalleryStack()->findChildren<ShelfGalleryCardView*>().size(), 0);
    }

    void signatureRecordsEverySessionAndEntry()
    {
        ShelfItem item = textEntry(QStringLiteral("a|b"));
        item.createdAt = QDateTime::fromMSecsSinceEpoch(-1500, Qt::UTC);
        item.isSensitive = true;
        ShelfSession first = session(QStringLiteral("Work"), {item});
        first.updatedAt = QDateTime::fromMSecsSinceEpoch(1700000000123, Qt::UTC);
        m_view->configureShelf({first}, first.id, std::nullopt);

        const QStringList parts = m_view->makeShelfRowsSignature().split(kSeparator);
        QCOMPARE(parts.size(), 5);
        QCOMPARE(parts[3], QuillomareCore::Uuid::text(first.id) + QStringLiteral("|Work|1|1700000000123"));
        QCOMPARE(parts[4], QuillomareCore::Uuid::text(item.id) +
                               QStringLiteral("|-1500|text|a|b|Text · 5 characters|a|b|S|") +
                               IslandView::shelfPayloadSignature(item.payload));
    }

    void longTextsAreShortenedInTheSignature_data()
    {
        QTest::addColumn<QString>("title");
        QTest::addColumn<QString>("shortened");
        const QString eighty = QString(79, QLatin1Char('x')) + QStringLiteral("y");
        QTest::newRow("80 characters stay whole") << eighty << eighty;
        const QString long81 =
            QString(48, QLatin1Char('a')) + QString(9, QLatin1Char('b')) + QString(24, QLatin1Char('c'));
        QTest::newRow("81 become 48, an ellipsis and 24")
            << long81 << QString(48, QLatin1Char('a')) + QChar(0x2026) + QString(24, QLatin1Char('c'));
        // An emoji with a skin tone is one character of four UTF-16 units.
        const QString emoji = QStringLiteral("\U0001F44D\U0001F3FD");
        QString wide;
        for (int i = 0; i < 81; ++i)
            wide += emoji;
        QString expected;
        for (int i = 0; i < 48; ++i)
            expected += emoji;
        expected += QChar(0x2026);
        for (int i = 0; i < 24; ++i)
            expected += emoji;
        QTest::newRow("characters are user-perceived") << wide << expected;
    }

    void longTextsAreShortenedInTheSignature()
    {
        QFETCH(QString, title);
        QFETCH(QString, shortened);
        ShelfItem item = textEntry(QStringLiteral("x"));
        item.title = title;
        m_view->configureShelf(QList<ShelfItem>{item}, std::nullopt);
        const QStringList fields = m_view->makeShelfRowsSignature().split(kSeparator).last().split(QLatin1Char('|'));
        QCOMPARE(fields[3], shortened);
    }

    void rebuildsOnlyWhenTheSignatureChanges_data()
    {
        QTest::addColumn<QString>("change");
        QTest::addColumn<bool>("rebuilds");
        QTest::newRow("the same push again") << QStringLiteral("same") << false;
        QTest::newRow("shown session renamed") << QStringLiteral("rename") << true;
        QTest::newRow("other session renamed") << QStringLiteral("renameOther") << true;
        QTest::newRow("other session's count") << QStringLiteral("countOther") << true;
        QTest::newRow("other session's updatedAt") << QStringLiteral("updatedOther") << true;
        QTest::newRow("other session's entries, same count and date") << QStringLiteral("contentOther") << false;
        QTest::newRow("another session selected") << QStringLiteral("select") << true;
        QTest::newRow("an entry's title") << QStringLiteral("title") << true;
        QTest::newRow("a message only") << QStringLiteral("message") << false;
    }

    void rebuildsOnlyWhenTheSignatureChanges()
    {
        QFETCH(QString, change);
        QFETCH(bool, rebuilds);
        ShelfSession shown = session(QStringLiteral("Shown"), entries(3));
        ShelfSession other = session(QStringLiteral("Other"), entries(2));
        m_view->configureShelf({shown, other}, shown.id, std::nullopt);
        const int before = m_view->shelfRebuildCount();
        QCOMPARE(before, 1);

        QUuid selected = shown.id;
        std::optional<QString> message;
        if (change == QLatin1String("rename"))
            shown.name = QStringLiteral("Renamed");
        else if (change == QLatin1String("renameOther"))
            other.name = QStringLiteral("Renamed");
        else if (change == QLatin1String("countOther"))
            other.items.append(textEntry(QStringLiteral("more")));
        else if (change == QLatin1String("updatedOther"))
            other.updatedAt = other.updatedAt.addSecs(1);
        else if (change == QLatin1String("contentOther"))
            other.items[0].title = QStringLiteral("changed unseen");
        else if (change == QLatin1String("select"))
            selected = other.id;
        else if (change == QLatin1String("title"))
            shown.items[1].title = QStringLiteral("new title");
        else if (change == QLatin1String("message"))
            message = QStringLiteral("Added to Shelf");
        m_view->configureShelf({shown, other}, selected, message);
        QCOMPARE(m_view->shelfRebuildCount(), before + (rebuilds ? 1 : 0));
        // Whatever the rebuild, the pill and the mode label follow every push.
        const ShelfSession& current = selected == shown.id ? shown : other;
        QCOMPARE(m_view->shelfSessionButton()->titleLabel()->text(),
                 current.name + QLatin1Char(' ') + QString::number(current.items.size()));
    }

    void anUnknownSelectedSessionShowsTheFirst()
    {
        const ShelfSession first = session(QStringLiteral("First"), entries(2));
        const ShelfSession second = session(QStringLiteral("Second"), entries(1));
        const QUuid unknown = QUuid::createUuid();
        m_view->configureShelf({first, second}, unknown, std::nullopt);
        QCOMPARE(m_view->shelfItems(), first.items);
        QVERIFY(m_view->makeShelfRowsSignature().startsWith(QStringLiteral("session=") +
                                                            QuillomareCore::Uuid::text(unknown) + kSeparator));
        QCOMPARE(m_view->selectedShelfSessionID(), std::optional<QUuid>(unknown));
        QCOMPARE(m_view->shelfGalleryCardCount(), 2);
    }

    void aPushRepairsFocusAndMultiSelection()
    {
        ShelfSession shown = session(QStringLiteral("S"), entries(4));
        m_view->configureShelf({shown}, shown.id, std::nullopt);
        QCOMPARE(m_view->selectedShelfItemID(), std::optional<QUuid>(shown.items[0].id));
        m_view->toggleShelfSelection(shown.items[1], false);
        m_view->toggleShelfSelection(shown.items[2], false);
        QCOMPARE(m_view->selectedShelfItemID(), std::optional<QUuid>(shown.items[2].id));
        const auto anchor = m_view->lastShelfSelectionID();

        const QUuid removed = shown.items[2].id;
        shown.items.removeAt(2);
        m_view->configureShelf({shown}, shown.id, std::nullopt);
        QCOMPARE(m_view->selectedShelfItemID(), std::optional<QUuid>(shown.items[0].id));
        QCOMPARE(m_view->selectedShelfItemIDs(), QSet<QUuid>{shown.items[1].id});
        QCOMPARE(m_view->lastShelfSelectionID(), anchor);
        QVERIFY(!m_view->shelfGalleryCardView(removed));
        QCOMPARE(markedCards(), (QSet<QUuid>{shown.items[0].id, shown.items[1].id}));
        QCOMPARE(markedRows(), markedCards());
    }

    void singleSessionFormKeepsItsSession()
    {
        const QList<ShelfItem> items = entries(2);
        m_view->configureShelf(items, std::nullopt);
        QCOMPARE(m_view->shelfSessions().size(), 1);
        const QUuid id = m_view->shelfSessions().first().id;
        QCOMPARE(m_view->selectedShelfSessionID(), std::optional<QUuid>(id));
        QCOMPARE(m_view->shelfSessions().first().name, QStringLiteral("Default"));
        m_view->configureShelf(entries(3), std::nullopt);
        QCOMPARE(m_view->shelfSessions().first().id, id);
        QCOMPARE(m_view->shelfSessionButton()->titleLabel()->text(), QStringLiteral("Default 3"));
    }

    // MARK: Messages and drop zone texts

    void outcomeMessagesReachTheUser()
    {
        const ShelfSession shown = session(QStringLiteral("S"), entries(1));
        m_view->configureShelf({shown}, shown.id, QStringLiteral("Shelf is full — clear some items first"));
        QVERIFY(m_view->transientToast() && !m_view->transientToast()->isHidden());
        QCOMPARE(m_view->transientToast()->text(), QStringLiteral("Shelf is full — clear some items first"));

        // Collapsed: nothing now, the message once the island has expanded.
        m_rig->scheduler->advance(3000);
        m_view->setDisplayMode(IslandView::DisplayMode::collapsed, false);
        m_view->configureShelf({shown}, shown.id, QStringLiteral("Failed to save to Shelf: disk full"));
        QVERIFY(m_view->transientToast()->isHidden());
        // Files copied in the background push again without a message: the report still waits.
        m_view->configureShelf({shown}, shown.id, std::nullopt);
        m_view->setDisplayMode(IslandView::DisplayMode::expanded, false);
        QVERIFY(!m_view->transientToast()->isHidden());
        QCOMPARE(m_view->transientToast()->text(), QStringLiteral("Failed to save to Shelf: disk full"));

        // The single-session form too.
        m_rig->scheduler->advance(3000);
        m_view->setDisplayMode(IslandView::DisplayMode::collapsed, false);
        m_view->configureShelf(entries(1), QStringLiteral("Probe"));
        QVERIFY(m_view->transientToast()->isHidden());
        m_view->setDisplayMode(IslandView::DisplayMode::expanded, false);
        QCOMPARE(m_view->transientToast()->text(), QStringLiteral("Probe"));
    }

    void dropZoneTexts_data()
    {
        QTest::addColumn<std::optional<QString>>("message");
        QTest::addColumn<int>("count");
        QTest::addColumn<QString>("title");
        QTest::addColumn<QString>("subtitle");
        QTest::newRow("entries, no message") << std::optional<QString>() << 3 << QStringLiteral("Add more")
                                             << QStringLiteral("3/30 · Drag out or batch process");
        QTest::newRow("empty, no message") << std::optional<QString>() << 0 << QStringLiteral("Drag to Shelf")
                                           << QStringLiteral("Files, images, text, links");
        QTest::newRow("entries, a message") << std::optional<QString>(QStringLiteral("Added to Shelf")) << 2
                                            << QStringLiteral("Added to Shelf") << QStringLiteral("2/30");
        QTest::newRow("empty, a message") << std::optional<QString>(QStringLiteral("Shelf cleared")) << 0
                                          << QStringLiteral("Shelf cleared") << QStringLiteral("Empty session");
        QTest::newRow("an empty message is none")
            << std::optional<QString>(QString()) << 1 << QStringLiteral("Add more")
            << QStringLiteral("1/30 · Drag out or batch process");
    }

    void dropZoneTexts()
    {
        QFETCH(std::optional<QString>, message);
        QFETCH(int, count);
        QFETCH(QString, title);
        QFETCH(QString, subtitle);
        const ShelfSession shown = session(QStringLiteral("S"), entries(count));
        m_view->configureShelf({shown}, shown.id, message);
        QCOMPARE(m_view->shelfDropZone()->title(), title);
        QCOMPARE(m_view->shelfDropZone()->subtitle(), subtitle);
        // The gallery's zone names the keys a Linux user presses, whatever happened.
        QCOMPARE(m_view->shelfGalleryDropZone()->subtitle(),
                 QStringLiteral("or paste (Ctrl+V) / quick add (Ctrl+Alt+S)"));
        QVERIFY(!m_view->shelfGalleryDropZone()->title().contains(QStringLiteral("notch")));
    }

    // MARK: Selection

    void rangeAndToggleSelection()
    {
        const ShelfSession shown = session(QStringLiteral("S"), entries(7));
        m_view->configureShelf({shown}, shown.id, std::nullopt);
        const QList<ShelfItem>& items = shown.items;
        m_view->toggleShelfSelection(items[5], false);
        m_view->toggleShelfSelection(items[2], true);
        QCOMPARE(m_view->selectedShelfItemIDs(), (QSet<QUuid>{items[2].id, items[3].id, items[4].id, items[5].id}));
        QCOMPARE(m_view->lastShelfSelectionID(), std::optional<QUuid>(items[2].id));

        m_view->toggleShelfSelection(items[3], false);
        QVERIFY(!m_view->selectedShelfItemIDs().contains(items[3].id));
        QCOMPARE(m_view->selectedShelfItemID(), std::optional<QUuid>(items[3].id));
        // Toggled out yet focused: it keeps its selected look.
        QVERIFY(markedCards().contains(items[3].id));
        QCOMPARE(markedRows(), markedCards());

        // The actions take the multi-selection in list order, whatever is focused.
        m_view->selectShelfItem(items[6].id, false);
        QList<QUuid> acted;
        for (const ShelfItem& item : m_view->selectedShelfItemsForActions(false))
            acted.append(item.id);
        QCOMPARE(acted, (QList<QUuid>{items[2].id, items[4].id, items[5].id}));
    }

    void rangeWithALostAnchorToggles()
    {
        ShelfSession shown = session(QStringLiteral("S"), entries(4));
        m_view->configureShelf({shown}, shown.id, std::nullopt);
        m_view->toggleShelfSelection(shown.items[0], false);
        shown.items.removeAt(0);
        m_view->configureShelf({shown}, shown.id, std::nullopt);
        m_view->toggleShelfSelection(shown.items[2], true);
        QCOMPARE(m_view->selectedShelfItemIDs(), QSet<QUuid>{shown.items[2].id});
    }

    void itemsForActions_data()
    {
        QTest::addColumn<bool>("focused");
        QTest::addColumn<bool>("defaultToSession");
        QTest::addColumn<int>("count");
        QTest::newRow("focus only") << true << false << 1;
        QTest::newRow("focus, session default") << true << true << 1;
        QTest::newRow("nothing, session default") << false << true << 3;
        QTest::newRow("nothing, no default") << false << false << 0;
    }

    void itemsForActions()
    {
        QFETCH(bool, focused);
        QFETCH(bool, defaultToSession);
        QFETCH(int, count);
        const ShelfSession shown = session(QStringLiteral("S"), entries(3));
        m_view->configureShelf({shown}, shown.id, std::nullopt);
        if (!focused)
            m_view->selectShelfItem(QUuid::createUuid(), false);
        QCOMPARE(m_view->selectedShelfItemsForActions(defaultToSession).size(), count);
    }

    void moveSelection_data()
    {
        QTest::addColumn<int>("start"); // -1: a focus that names no entry
        QTest::addColumn<int>("offset");
        QTest::addColumn<int>("count");
        QTest::addColumn<int>("expected");
        QTest::newRow("down") << 0 << 1 << 3 << 1;
        QTest::newRow("down on the last") << 2 << 1 << 3 << 2;
        QTest::newRow("up on the first") << 0 << -1 << 3 << 0;
        QTest::newRow("lost focus, up") << -1 << -1 << 3 << 0;
        QTest::newRow("lost focus, down") << -1 << 1 << 3 << 1;
        QTest::newRow("lost focus, down, one entry") << -1 << 1 << 1 << 0;
    }

    void moveSelection()
    {
        QFETCH(int, start);
        QFETCH(int, offset);
        QFETCH(int, count);
        QFETCH(int, expected);
        const ShelfSession shown = session(QStringLiteral("S"), entries(count));
        m_view->configureShelf({shown}, shown.id, std::nullopt);
        m_view->selectShelfItem(start < 0 ? QUuid::createUuid() : shown.items[start].id, false);
        m_view->moveShelfSelection(offset);
        QCOMPARE(m_view->selectedShelfItemID(), std::optional<QUuid>(shown.items[expected].id));
        QCOMPARE(markedCards(), QSet<QUuid>{shown.items[expected].id});
    }

    void arrowKeysMoveTheFocusInTheShelf()
    {
        const ShelfSession shown = session(QStringLiteral("S"), entries(3));
        m_view->configureShelf({shown}, shown.id, std::nullopt);
        m_view->setContentMode(IslandView::ContentMode::shelfGallery, false);
        QKeyEvent down(QEvent::KeyPress, Qt::Key_Down, Qt::NoModifier);
        QCoreApplication::sendEvent(m_view, &down);
        QCOMPARE(m_view->selectedShelfItemID(), std::optional<QUuid>(shown.items[1].id));
        QKeyEvent up(QEvent::KeyPress, Qt::Key_Up, Qt::NoModifier);
        QCoreApplication::sendEvent(m_view, &up);
        QCOMPARE(m_view->selectedShelfItemID(), std::optional<QUuid>(shown.items[0].id));
    }

    void moveInAnEmptySessionClearsTheFocus()
    {
        m_view->configureShelf(QList<ShelfSession>{session(QStringLiteral("S"), {})}, QUuid(), std::nullopt);
        m_view->selectShelfItem(QUuid::createUuid(), false);
        m_view->moveShelfSelection(1);
        QVERIFY(!m_view->selectedShelfItemID());
    }

    void dragCarriesTheMultiSelectionOnlyWhenItBelongsToIt()
    {
        const ShelfSession shown = session(QStringLiteral("S"), entries(4));
        m_view->configureShelf({shown}, shown.id, std::nullopt);
        const auto dragged = [&](int index) {
            QList<QUuid> list;
            ShelfGalleryCardView* card = m_view->shelfGalleryCardView(shown.items[index].id);
            ShelfItemRowView* row = m_view->shelfRowView(shown.items[index].id);
            const QList<ShelfItem> fromCard = card->dragItemsProvider();
            if (fromCard != row->dragItemsProvider())
                return QList<QUuid>{QUuid()}; // card and row disagree
            for (const ShelfItem& item : fromCard)
                list.append(item.id);
            return list;
        };
        m_view->toggleShelfSelection(shown.items[3], false);
        QVERIFY(dragged(3).isEmpty()); // the only multi-selected entry drags itself
        m_view->toggleShelfSelection(shown.items[1], false);
        QCOMPARE(dragged(3), (QList<QUuid>{shown.items[1].id, shown.items[3].id}));
        QVERIFY(dragged(0).isEmpty());
    }
};

QUILLOMARE_GUI_TEST_MAIN(TestIslandViewShelf)
#include "tst_islandviewshelf.moc"
