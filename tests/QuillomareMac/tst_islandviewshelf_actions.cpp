// What a user does with the shelf inside the island: clicks on the cards, the tiles and menus,
// drops from other programs and Control-V. Each action leaves through a callback; these tests
// record what left and what the island shows.

#include "IslandViewTestRig.h"
#include "TestSupport.h"

#include "History/ClipThumbnailView.h"
#include "Island/Kit/IslandActionTileButton.h"
#include "Island/Kit/IslandIconButton.h"
#include "Island/Kit/IslandListScrollView.h"
#include "Island/IslandView.h"
#include "Shelf/Views/ShelfDropZoneView.h"
#include "Shelf/Views/ShelfGalleryCardView.h"
#include "Shelf/Views/ShelfItemRowView.h"
#include "Shelf/Views/ShelfSessionPillButton.h"

#include <QAction>
#include <QApplication>
#include <QBuffer>
#include <QDragEnterEvent>
#include <QImage>
#include <QKeyEvent>
#include <QMenu>
#include <QMimeData>
#include <QTemporaryDir>

#include <memory>

using namespace QuillomareMac;
using QuillomareCore::ClipKind;
using QuillomareTest::at;

namespace {

QByteArray pngOf(const QColor& colour, const QSize& size = QSize(40, 30))
{
    return QuillomareTest::filledPng(size, colour);
}

ShelfItem makeEntry(ClipKind kind, const QString& title)
{
    ShelfItem item;
    item.id = QUuid::createUuid();
    item.createdAt = at(0);
    item.kind = kind;
    item.title = title;
    item.preview = title;
    switch (kind) {
    case ClipKind::image:
        item.payload = ShelfPayload::imagePNG(pngOf(Qt::darkCyan));
        break;
    case ClipKind::file:
        item.payload = ShelfPayload::fileURLs({QStringLiteral("/tmp/") + title});
        break;
    case ClipKind::url:
        item.payload = ShelfPayload::url(title);
        break;
    default:
        item.payload = ShelfPayload::text(title);
        break;
    }
    return item;
}

// Every shelf callback, recorded.
struct Recorder
{
    QStringList calls;
    QList<ShelfItem> lastItems;
    std::optional<PasteVariant> variant;
    std::optional<CombinedPasteFormat> format;
    std::optional<ShelfBatchAction> batch;
    std::optional<QUuid> uuid;
    QStringList droppedTypes;
    std::optional<QString> droppedText;
    std::optional<QByteArray> droppedPNG;

    void attach(IslandView& view)
    {
        view.onCopyShelfItem = [this](const ShelfItem& item) { record(QStringLiteral("copy"), {item}); };
        view.onCopyShelfPasteVariantItem = [this](const ShelfItem& item, PasteVariant chosen) {
            variant = chosen;
            record(QStringLiteral("copyVariant"), {item});
        };
        view.onCombineShelfItems = [this](const QList<ShelfItem>& items, CombinedPasteFormat chosen) {
            format = chosen;
            record(QStringLiteral("combine"), items);
        };
        view.onBatchShelfItems = [this](const QList<ShelfItem>& items, ShelfBatchAction chosen) {
            batch = chosen;
            record(QStringLiteral("batch"), items);
        };
        view.onAirDropShelfItem = [this](const ShelfItem& item) { record(QStringLiteral("airDrop"), {item}); };
        view.onRevealShelfItem = [this](const ShelfItem& item) { record(QStringLiteral("reveal"), {item}); };
        view.onRemoveShelfItem = [this](const QUuid& id) {
            uuid = id;
            record(QStringLiteral("remove"), {});
        };
        view.onClearShelf = [this] { record(QStringLiteral("clear"), {}); };
        view.onCreateShelfSession = [this] { record(QStringLiteral("create"), {}); };
        view.onRenameShelfSession = [this] { record(QStringLiteral("rename"), {}); };
        view.onShelfSessionsChanged = [this](const QUuid& id) {
            uuid = id;
            record(QStringLiteral("session"), {});
        };
        view.onShelfDropPasteboard = [this](Platform::Pasteboard& pasteboard) {
            droppedTypes = pasteboard.types();
            droppedText = pasteboard.string();
            droppedPNG = pasteboard.data(Platform::PasteboardType::png);
            record(QStringLiteral("drop"), {});
        };
    }

    void record(const QString& call, const QList<ShelfItem>& items)
    {
        calls.append(call);
        lastItems = items;
    }
};

QList<QUuid> idsOf(const QList<ShelfItem>& items)
{
    QList<QUuid> ids;
    for (const ShelfItem& item : items)
        ids.append(item.id);
    return ids;
}

// The island's open menu of that name, closed by the caller through one of its actions.
QMenu* openMenu(const IslandView* view, const QString& name)
{
    for (QMenu* menu : view->findChildren<QMenu*>(name)) {
        if (menu->isVisible())
            return menu;
    }
    return nullptr;
}

void closeMenus(const IslandView* view)
{
    for (QMenu* menu : view->findChildren<QMenu*>())
        menu->close();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
}

void doubleClick(QWidget* widget, const QPoint& point)
{
    // Qt 6.4's mouseDClick sends the double click alone; a real one comes after a click.
    QTest::mousePress(widget, Qt::LeftButton, Qt::NoModifier, point);
    QTest::mouseRelease(widget, Qt::LeftButton, Qt::NoModifier, point);
    QTest::mousePress(widget, Qt::LeftButton, Qt::NoModifier, point);
    QMouseEvent dbl(QEvent::MouseButtonDblClick, point, widget->mapToGlobal(point), Qt::LeftButton, Qt::LeftButton,
                    Qt::NoModifier);
    QCoreApplication::sendEvent(widget, &dbl);
    QTest::mouseRelease(widget, Qt::LeftButton, Qt::NoModifier, point);
}

} // namespace

class TestIslandViewShelfActions : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<QuillomareTest::IslandViewTestRig> m_rig;
    IslandView* m_view = nullptr;
    Recorder m_recorder;
    QList<ShelfItem> m_items;
    ShelfSession m_session;

    void push(const QList<ShelfItem>& items)
    {
        m_items = items;
        m_session = ShelfSession{m_session.id.isNull() ? QUuid::createUuid() : m_session.id, QStringLiteral("Work"),
                                 items, at(-10), at(0)};
        m_view->configureShelf({m_session}, m_session.id, std::nullopt);
    }

    void showShelf()
    {
        m_view->setContentMode(IslandView::ContentMode::shelfGallery, false);
        m_rig->canvas->show();
        QVERIFY(QTest::qWaitForWindowExposed(m_rig->canvas.get()));
        m_view->relayoutNow();
        QCoreApplication::processEvents();
    }

private Q_SLOTS:
    void init()
    {
        m_rig = std::make_unique<QuillomareTest::IslandViewTestRig>(QRect(297, 0, 185, 32));
        m_view = m_rig->view;
        m_rig->expand();
        m_recorder = Recorder();
        m_recorder.attach(*m_view);
        m_session = ShelfSession();
        push({makeEntry(ClipKind::text, QStringLiteral("alpha")), makeEntry(ClipKind::image, QStringLiteral("picture")),
              makeEntry(ClipKind::file, QStringLiteral("notes.txt")),
              makeEntry(ClipKind::url, QStringLiteral("https://example.org/a"))});
    }
    void cleanup()
    {
        closeMenus(m_view);
        m_rig.reset();
        m_view = nullptr;
    }

    // MARK: Cards

    void clickingACardSelectsIt()
    {
        showShelf();
        ShelfGalleryCardView* card = m_view->shelfGalleryCardView(m_items[2].id);
        QVERIFY(card && card->isVisible());
        QTest::mouseClick(card, Qt::LeftButton, Qt::NoModifier, QPoint(card->width() - 12, card->height() - 12));
        QCOMPARE(m_view->selectedShelfItemID(), std::optional<QUuid>(m_items[2].id));
        QVERIFY(card->isSelected());
        QVERIFY(!m_view->shelfGalleryCardView(m_items[0].id)->isSelected());
        QVERIFY(!m_view->isQuickPreviewVisible());
        // A Control-click marks the card, as on a row, and moves the focus to it.
        QTest::mouseClick(m_view->shelfGalleryCardView(m_items[3].id), Qt::LeftButton, Qt::ControlModifier,
                          QPoint(20, 20));
        QCOMPARE(m_view->selectedShelfItemID(), std::optional<QUuid>(m_items[3].id));
        QCOMPARE(m_view->selectedShelfItemIDs(), QSet<QUuid>{m_items[3].id});
    }

    // Cards follow the rows' rule: Control toggles, Shift extends from the anchor; the "All"
    // actions then take the marked cards, not the focused one.
    void cardsBuildTheMultiSelectionTheActionsTake()
    {
        showShelf();
        const auto card = [this](int index) { return m_view->shelfGalleryCardView(m_items[index].id); };
        QTest::mouseClick(card(0), Qt::LeftButton, Qt::ControlModifier, QPoint(20, 20));
        QTest::mouseClick(card(2), Qt::LeftButton, Qt::ShiftModifier, QPoint(20, 20));
        QCOMPARE(m_view->selectedShelfItemIDs(), (QSet<QUuid>{m_items[0].id, m_items[1].id, m_items[2].id}));
        QTest::mouseClick(card(1), Qt::LeftButton, Qt::ControlModifier, QPoint(20, 20));
        QCOMPARE(m_view->selectedShelfItemIDs(), (QSet<QUuid>{m_items[0].id, m_items[2].id}));
        QVERIFY(card(0)->isSelected() && card(2)->isSelected() && !card(3)->isSelected());

        // The link is focused by a plain click afterwards: the marked cards still carry the action.
        m_view->selectShelfItem(m_items[3].id, false);
        QTest::mouseClick(m_view->shelfGalleryMoreButton(), Qt::LeftButton);
        QMenu* menu = openMenu(m_view, QStringLiteral("shelfBatchMenu"));
        QVERIFY(menu);
        menu->actions().at(1)->trigger();
        QCOMPARE(m_recorder.batch, std::optional<ShelfBatchAction>(ShelfBatchAction::copyFilePaths));
        QCOMPARE(m_recorder.lastItems.size(), 2);
    }

    void arrowKeysScrollTheFocusedCardIntoView()
    {
        QList<ShelfItem> many;
        for (int i = 0; i < 14; ++i)
            many.append(makeEntry(ClipKind::text, QStringLiteral("entry %1").arg(i)));
        push(many);
        showShelf();
        m_view->selectShelfItem(many.first().id, false);
        QWidget* viewport = m_view->shelfGalleryScrollView()->viewport();
        for (int i = 1; i < many.size(); ++i) {
            QVERIFY(m_view->searchFieldCommand(Qt::Key_Down));
            ShelfGalleryCardView* card = m_view->shelfGalleryCardView(many[i].id);
            QCOMPARE(m_view->selectedShelfItemID(), std::optional<QUuid>(many[i].id));
            const QRect shown(card->mapTo(viewport, QPoint(0, 0)), card->size());
            QVERIFY2(viewport->rect().contains(shown), qPrintable(QStringLiteral("card %1 at %2, viewport width %3")
                                                                      .arg(i)
                                                                      .arg(shown.x())
                                                                      .arg(viewport->width())));
        }
        // And back to the first, scrolled out of view by now.
        for (int i = 0; i < many.size() - 1; ++i)
            QVERIFY(m_view->searchFieldCommand(Qt::Key_Up));
        const QRect first(m_view->shelfGalleryCardView(many.first().id)->mapTo(viewport, QPoint(0, 0)),
                          m_view->shelfGalleryCardView(many.first().id)->size());
        QVERIFY(viewport->rect().contains(first));
    }

    void doubleClickPreviewsAndPushKeepsThePreview()
    {
        showShelf();
        ShelfGalleryCardView* card = m_view->shelfGalleryCardView(m_items[0].id);
        doubleClick(card, QPoint(card->width() - 12, card->height() - 12));
        m_rig->scheduler->advance(500);
        QVERIFY(m_view->isQuickPreviewVisible());
        QCOMPARE(m_view->previewingItemID(), std::optional<QUuid>(m_items[0].id));

        // A push (a new entry dropped meanwhile) rebuilds the cards but leaves the preview open.
        QList<ShelfItem> more = m_items;
        more.append(makeEntry(ClipKind::text, QStringLiteral("late")));
        push(more);
        QVERIFY(m_view->isQuickPreviewVisible());
        QCOMPARE(m_view->previewingItemID(), std::optional<QUuid>(m_items[0].id));
    }

    void aClickOnAPictureThumbnailPreviews()
    {
        showShelf();
        ShelfGalleryCardView* card = m_view->shelfGalleryCardView(m_items[1].id);
        QVERIFY(card->thumbnail());
        const QPoint inThumbnail = card->thumbnail()->mapTo(card, card->thumbnail()->rect().center());
        QTest::mouseClick(card, Qt::LeftButton, Qt::NoModifier, inThumbnail);
        m_rig->scheduler->advance(500);
        QVERIFY(m_view->isQuickPreviewVisible());
        QCOMPARE(m_view->previewingItemID(), std::optional<QUuid>(m_items[1].id));
    }

    void theGalleryFallbackHandsTheCardItsPress()
    {
        showShelf();
        ShelfGalleryCardView* card = m_view->shelfGalleryCardView(m_items[3].id);
        const QPoint global = card->mapToGlobal(QPoint(30, 30));
        QMouseEvent press(QEvent::MouseButtonPress, QPointF(), QPointF(global), Qt::LeftButton, Qt::LeftButton,
                          Qt::NoModifier);
        QVERIFY(m_view->handleShelfGalleryFallbackMouseDown(&press));
        QCOMPARE(m_view->shelfGalleryFallbackCardID(), std::optional<QUuid>(m_items[3].id));
        QCOMPARE(m_view->selectedShelfItemID(), std::optional<QUuid>(m_items[3].id));
        QCOMPARE(card->mouseDownPoint(), std::optional<QPointF>(QPointF(30, 30)));
        QMouseEvent release(QEvent::MouseButtonRelease, QPointF(), QPointF(global), Qt::LeftButton, Qt::NoButton,
                            Qt::NoModifier);
        QVERIFY(m_view->handleShelfGalleryFallbackMouseUp(&release));
        QVERIFY(!m_view->shelfGalleryFallbackCardID());
        QVERIFY(!card->mouseDownPoint());

        // Empty strip space: not handled, and the remembered card is forgotten. (Events are made
        // just before they are used: Qt shares a device's point state between its mouse events.)
        QVERIFY(m_view->handleShelfGalleryFallbackMouseDown(&press));
        QVERIFY(m_view->shelfGalleryFallbackCardID());
        QWidget* stack = m_view->shelfGalleryStack();
        const QPoint beyond = stack->mapToGlobal(QPoint(10, stack->height() + 40));
        QMouseEvent miss(QEvent::MouseButtonPress, QPointF(), QPointF(beyond), Qt::LeftButton, Qt::LeftButton,
                         Qt::NoModifier);
        QVERIFY(!m_view->handleShelfGalleryFallbackMouseDown(&miss));
        QVERIFY(!m_view->shelfGalleryFallbackCardID());
    }

    void rowsBuildTheMultiSelection()
    {
        ShelfItemRowView* first = m_view->shelfRowView(m_items[0].id);
        ShelfItemRowView* third = m_view->shelfRowView(m_items[2].id);
        QTest::mouseClick(first, Qt::LeftButton, Qt::ControlModifier, QPoint(20, 20));
        QTest::mouseClick(third, Qt::LeftButton, Qt::ShiftModifier, QPoint(20, 20));
        QCOMPARE(m_view->selectedShelfItemIDs(), (QSet<QUuid>{m_items[0].id, m_items[1].id, m_items[2].id}));
        QCOMPARE(m_view->selectedShelfItemID(), std::optional<QUuid>(m_items[2].id));
        for (int i = 0; i < 3; ++i)
            QVERIFY(m_view->shelfGalleryCardView(m_items[i].id)->isSelected());
        QVERIFY(!m_view->shelfGalleryCardView(m_items[3].id)->isSelected());
    }

    // MARK: Tiles and menus

    void copyWithOneVariantCopiesAtOnce()
    {
        showShelf();
        m_view->selectShelfItem(m_items[1].id, false); // a picture: its original only
        m_view->shelfCopyTapped();
        QCOMPARE(m_recorder.calls, QStringList{QStringLiteral("copy")});
        QCOMPARE(idsOf(m_recorder.lastItems), QList<QUuid>{m_items[1].id});
        QVERIFY(!openMenu(m_view, QStringLiteral("shelfPasteVariantMenu")));
    }

    void copyWithSeveralVariantsAsksFirst()
    {
        showShelf();
        m_view->selectShelfItem(m_items[2].id, false); // a file: original, names, paths
        QTest::mouseClick(m_view->shelfGalleryTiles().at(1), Qt::LeftButton);
        QVERIFY(m_recorder.calls.isEmpty());
        QMenu* menu = openMenu(m_view, QStringLiteral("shelfPasteVariantMenu"));
        QVERIFY(menu);
        // It opens where the user sees the Copy tile, not at the hidden list's button.
        const QPoint tile = m_view->shelfGalleryTiles().at(1)->mapToGlobal(QPoint(0, 0));
        QVERIFY2(qAbs(menu->pos().x() - tile.x()) < 4,
                 qPrintable(QStringLiteral("%1 vs %2").arg(menu->pos().x()).arg(tile.x())));
        QStringList titles, expected;
        for (QAction* action : menu->actions())
            titles.append(action->text());
        const QList<PasteVariant> variants = PasteTransform::menuVariants(m_items[2].clipboardItem());
        for (PasteVariant variant : variants)
            expected.append(variant.title());
        QCOMPARE(titles, expected);
        const qsizetype paths = variants.indexOf(PasteVariant::filePaths);
        QVERIFY(paths > 0);
        menu->actions().at(paths)->trigger();
        QCOMPARE(m_recorder.calls, QStringList{QStringLiteral("copyVariant")});
        QCOMPARE(m_recorder.variant, std::optional<PasteVariant>(PasteVariant::filePaths));

        m_view->shelfPasteVariantMenuItemTapped(0);
        QCOMPARE(m_recorder.calls.last(), QStringLiteral("copy"));
        m_view->shelfPasteVariantMenuItemTapped(6);
        QCOMPARE(m_recorder.calls.size(), 2);
    }

    void combineTakesSelectionElseSession()
    {
        showShelf();
        m_view->selectShelfItem(QUuid::createUuid(), false); // nothing focused
        m_view->shelfCombineTapped();
        QMenu* menu = openMenu(m_view, QStringLiteral("shelfCombineMenu"));
        QVERIFY(menu);
        QCOMPARE(menu->actions().size(), 4);
        menu->actions().at(3)->trigger();
        QCOMPARE(m_recorder.format, std::optional<CombinedPasteFormat>(CombinedPasteFormat::jsonArray));
        QCOMPARE(idsOf(m_recorder.lastItems), idsOf(m_items));

        m_view->toggleShelfSelection(m_items[3], false);
        m_view->toggleShelfSelection(m_items[0], false);
        m_view->shelfCombineMenuItemTapped(1);
        QCOMPARE(idsOf(m_recorder.lastItems), (QList<QUuid>{m_items[0].id, m_items[3].id}));
        m_view->shelfCombineMenuItemTapped(4);
        QCOMPARE(m_recorder.calls.size(), 2);

        // An empty session: nothing to combine.
        push({});
        m_view->shelfCombineMenuItemTapped(0);
        QCOMPARE(m_recorder.calls.size(), 2);
    }

    void theMoreButtonOffersEveryBatchAction()
    {
        showShelf();
        push({makeEntry(ClipKind::text, QStringLiteral("only text"))});
        QTest::mouseClick(m_view->shelfGalleryMoreButton(), Qt::LeftButton);
        QMenu* menu = openMenu(m_view, QStringLiteral("shelfBatchMenu"));
        QVERIFY(menu);
        QStringList titles;
        for (QAction* action : menu->actions()) {
            titles.append(action->text());
            QVERIFY(action->isEnabled());
        }
        QCOMPARE(titles, (QStringList{QStringLiteral("Copy All File Names"), QStringLiteral("Copy All Paths"),
                                      QStringLiteral("Zip Files"), QStringLiteral("Convert Images to PNG"),
                                      QStringLiteral("Convert Images to JPG"), QStringLiteral("Compress Images")}));
        menu->actions().at(2)->trigger();
        QCOMPARE(m_recorder.batch, std::optional<ShelfBatchAction>(ShelfBatchAction::zipFiles));
        QCOMPARE(m_recorder.lastItems.size(), 1);
    }

    void sessionMenuListsAndChecks()
    {
        const ShelfSession other{QUuid::createUuid(), QStringLiteral("R&D"), {}, at(-5), at(-5)};
        m_view->configureShelf({m_session, other}, m_session.id, std::nullopt);
        m_view->shelfSessionMenuTapped();
        QMenu* menu = openMenu(m_view, QStringLiteral("shelfSessionMenu"));
        QVERIFY(menu);
        QCOMPARE(menu->actions().size(), 2);
        QCOMPARE(menu->actions().at(0)->text(), QStringLiteral("Work 4"));
        QCOMPARE(menu->actions().at(1)->text(), QStringLiteral("R&&D 0"));
        QVERIFY(menu->actions().at(0)->isChecked());
        QVERIFY(!menu->actions().at(1)->isChecked());
        // Choosing the session already shown still asks the shell.
        menu->actions().at(0)->trigger();
        QCOMPARE(m_recorder.uuid, std::optional<QUuid>(m_session.id));
        QCOMPARE(m_view->selectedShelfSessionID(), std::optional<QUuid>(m_session.id));
        closeMenus(m_view);

        // No session carries the mark when the selected ID names none; none opens without sessions.
        m_view->configureShelf({m_session, other}, QUuid::createUuid(), std::nullopt);
        m_view->shelfSessionMenuTapped();
        menu = openMenu(m_view, QStringLiteral("shelfSessionMenu"));
        QVERIFY(menu && !menu->actions().at(0)->isChecked() && !menu->actions().at(1)->isChecked());
        closeMenus(m_view);
        m_view->configureShelf(QList<ShelfSession>{}, QUuid(), std::nullopt);
        m_view->shelfSessionMenuTapped();
        QVERIFY(!openMenu(m_view, QStringLiteral("shelfSessionMenu")));
    }

    // The gallery is the shelf the user sees: its session line opens the same session menu, so
    // that an earlier session stays within reach after "New Session".
    void theGallerySessionLineSwitchesSessions()
    {
        const ShelfSession other{QUuid::createUuid(), QStringLiteral("Trip"), {}, at(-5), at(-5)};
        m_view->configureShelf({other, m_session}, other.id, std::nullopt);
        showShelf();
        QWidget* line = m_view->shelfGallerySessionSwitch();
        QVERIFY(line && line->isVisible());
        QTest::mouseClick(line, Qt::LeftButton, Qt::NoModifier, line->rect().center());
        QMenu* menu = openMenu(m_view, QStringLiteral("shelfSessionMenu"));
        QVERIFY(menu);
        QCOMPARE(menu->actions().size(), 2);
        // It opens under the session line, where the user clicked.
        QVERIFY(qAbs(menu->pos().y() - line->mapToGlobal(QPoint(0, line->height() + 4)).y()) <= 1);
        menu->actions().at(1)->trigger();
        QCOMPARE(m_recorder.uuid, std::optional<QUuid>(m_session.id));
        closeMenus(m_view);

        // "Current Session" is never cut, even beside a short session line.
        QVERIFY2(m_view->shelfGallerySessionTitle()->width() >=
                     m_view->shelfGallerySessionTitle()->fontMetrics().horizontalAdvance(QStringLiteral("Current Session")),
                 qPrintable(QString::number(m_view->shelfGallerySessionTitle()->width())));
    }

    void singleEntryActionsTakeTheFocusOnly()
    {
        showShelf();
        m_view->toggleShelfSelection(m_items[0], false);
        m_view->toggleShelfSelection(m_items[1], false);
        m_view->selectShelfItem(m_items[3].id, false);
        const QList<IslandActionTileButton*> tiles = m_view->shelfGalleryTiles();
        QTest::mouseClick(tiles.at(2), Qt::LeftButton); // AirDrop
        QTest::mouseClick(tiles.at(3), Qt::LeftButton); // Show in the file manager
        QCOMPARE(m_recorder.calls, (QStringList{QStringLiteral("airDrop"), QStringLiteral("reveal")}));
        QCOMPARE(idsOf(m_recorder.lastItems), QList<QUuid>{m_items[3].id});
        QTest::mouseClick(tiles.at(4), Qt::LeftButton); // Remove
        QCOMPARE(m_recorder.uuid, std::optional<QUuid>(m_items[3].id));

        // Without a focused entry they do nothing.
        m_view->selectShelfItem(QUuid::createUuid(), false);
        m_view->shelfAirDropTapped();
        m_view->shelfRevealTapped();
        m_view->shelfRemoveTapped();
        m_view->shelfPreviewTapped();
        QCOMPARE(m_recorder.calls.size(), 3);
        QVERIFY(!m_view->isQuickPreviewVisible());
    }

    void sessionActionsFireWhateverTheSessionHolds()
    {
        push({});
        m_view->shelfClearTapped();
        m_view->createShelfSessionTapped();
        m_view->renameShelfSessionTapped();
        QCOMPARE(m_recorder.calls,
                 (QStringList{QStringLiteral("clear"), QStringLiteral("create"), QStringLiteral("rename")}));
    }

    // MARK: Drops and Control-V

    void aDragOpensTheCollapsedIslandOnceIntoTheShelf()
    {
        m_view->setDisplayMode(IslandView::DisplayMode::collapsed, false);
        int expansions = 0;
        m_view->onExpand = [&] { ++expansions; };
        QMimeData data;
        data.setUrls({QUrl::fromLocalFile(QStringLiteral("/tmp/report.pdf"))});
        QDragEnterEvent enter(QPoint(10, 10), Qt::CopyAction | Qt::MoveAction, &data, Qt::LeftButton, Qt::NoModifier);
        QCoreApplication::sendEvent(m_view, &enter);
        QVERIFY(enter.isAccepted());
        QCOMPARE(enter.dropAction(), Qt::CopyAction);
        QCOMPARE(m_view->contentMode(), IslandView::ContentMode::shelfGallery);
        QCOMPARE(expansions, 1);
        QVERIFY(m_view->shelfDropZone()->isHighlighted());
        QVERIFY(m_view->shelfGalleryDropZone()->isHighlighted());

        for (int i = 0; i < 3; ++i) {
            QDragMoveEvent move(QPoint(20 + i, 10), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
            QCoreApplication::sendEvent(m_view, &move);
            QVERIFY(move.isAccepted());
        }
        QCOMPARE(expansions, 1);

        QDragLeaveEvent leave;
        QCoreApplication::sendEvent(m_view, &leave);
        QVERIFY(!m_view->shelfDropZone()->isHighlighted());
        QVERIFY(!m_view->shelfGalleryDropZone()->isHighlighted());
        QCOMPARE(m_view->contentMode(), IslandView::ContentMode::shelfGallery);
        QVERIFY(m_recorder.calls.isEmpty());
    }

    void aDragIntoTheHistoryClosesThePreview()
    {
        m_view->configure({QuillomareTest::textItem(QStringLiteral("h"), at(0))},
                          QuillomareCore::CloudSyncState::idle(), std::nullopt);
        m_view->presentQuickPreview(QuillomareTest::textItem(QStringLiteral("h"), at(0)), false);
        QMimeData data;
        data.setText(QStringLiteral("dragged"));
        QDragEnterEvent enter(QPoint(10, 10), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
        QCoreApplication::sendEvent(m_view, &enter);
        QCOMPARE(m_view->contentMode(), IslandView::ContentMode::shelfGallery);
        QVERIFY(!m_view->isQuickPreviewVisible());
    }

    void dropsHandOverWhatTheyCarry_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<QStringList>("types");
        QTest::newRow("files") << QStringLiteral("files") << QStringList{Platform::PasteboardType::uriList};
        QTest::newRow("text") << QStringLiteral("text") << QStringList{Platform::PasteboardType::string};
        QTest::newRow("html only") << QStringLiteral("html") << QStringList{Platform::PasteboardType::html};
        QTest::newRow("png") << QStringLiteral("png") << QStringList{Platform::PasteboardType::png};
        QTest::newRow("tiff") << QStringLiteral("tiff") << QStringList{Platform::PasteboardType::tiff};
        QTest::newRow("a Qt image") << QStringLiteral("qtimage") << QStringList{Platform::PasteboardType::png};
    }

    void dropsHandOverWhatTheyCarry()
    {
        QFETCH(QString, kind);
        QFETCH(QStringList, types);
        QMimeData data;
        const QByteArray png = pngOf(Qt::red);
        if (kind == QLatin1String("files"))
            data.setUrls({QUrl::fromLocalFile(QStringLiteral("/tmp/a b.txt"))});
        else if (kind == QLatin1String("text"))
            data.setText(QStringLiteral("héllo"));
        else if (kind == QLatin1String("html"))
            data.setData(QStringLiteral("text/html"), "<b>x</b>");
        else if (kind == QLatin1String("png"))
            data.setData(QStringLiteral("image/png"), png);
        else if (kind == QLatin1String("tiff"))
            data.setData(QStringLiteral("image/tiff"), "II*\0");
        else
            data.setImageData(QImage::fromData(png));
        QVERIFY(IslandView::carriesShelfContent(data));

        // Qt delivers a drop only to the widget that took the drag's entry.
        QDragEnterEvent enter(QPoint(12, 12), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
        QCoreApplication::sendEvent(m_view, &enter);
        QDropEvent drop(QPointF(12, 12), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
        QCoreApplication::sendEvent(m_view, &drop);
        QCOMPARE(m_recorder.calls, QStringList{QStringLiteral("drop")});
        QVERIFY(drop.isAccepted());
        for (const QString& type : types)
            QVERIFY2(m_recorder.droppedTypes.contains(type),
                     qPrintable(m_recorder.droppedTypes.join(QLatin1Char(','))));
        if (kind == QLatin1String("text"))
            QCOMPARE(m_recorder.droppedText, std::optional<QString>(QStringLiteral("héllo")));
        if (kind == QLatin1String("png"))
            QCOMPARE(m_recorder.droppedPNG, std::optional<QByteArray>(png));
        if (kind == QLatin1String("qtimage"))
            QCOMPARE(QImage::fromData(*m_recorder.droppedPNG).pixelColor(0, 0), QColor(Qt::red));
        QCOMPARE(m_view->contentMode(), IslandView::ContentMode::shelfGallery);
        QVERIFY(!m_view->shelfGalleryDropZone()->isHighlighted());
    }

    void dropsWithoutACallbackOrContent()
    {
        m_view->onShelfDropPasteboard = nullptr;
        QMimeData data;
        data.setText(QStringLiteral("x"));
        // Qt delivers a drop only to the widget that took the drag's entry.
        QDragEnterEvent enter(QPoint(12, 12), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
        QCoreApplication::sendEvent(m_view, &enter);
        QDropEvent drop(QPointF(12, 12), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
        QCoreApplication::sendEvent(m_view, &drop);
        QVERIFY(drop.isAccepted());

        QMimeData foreign;
        foreign.setData(QStringLiteral("application/x-unknown"), "zz");
        QVERIFY(!IslandView::carriesShelfContent(foreign));
        QDragEnterEvent refused(QPoint(10, 10), Qt::CopyAction, &foreign, Qt::LeftButton, Qt::NoModifier);
        QCoreApplication::sendEvent(m_view, &refused);
        QVERIFY(!refused.isAccepted());
    }

    void controlVHandsTheClipboardOverInTheShelfOnly()
    {
        Platform::MemoryPasteboard clipboard;
        clipboard.setData(pngOf(Qt::blue), Platform::PasteboardType::png);
        m_view->setGeneralPasteboard(&clipboard);
        QKeyEvent paste(QEvent::KeyPress, Qt::Key_V, Qt::ControlModifier, QStringLiteral("v"));
        QCoreApplication::sendEvent(m_view, &paste);
        QVERIFY(m_recorder.calls.isEmpty()); // the history: the key is the search field's

        m_view->setContentMode(IslandView::ContentMode::shelfGallery, false);
        QKeyEvent again(QEvent::KeyPress, Qt::Key_V, Qt::ControlModifier, QStringLiteral("v"));
        QCoreApplication::sendEvent(m_view, &again);
        QCOMPARE(m_recorder.calls, QStringList{QStringLiteral("drop")});
        QCOMPARE(m_recorder.droppedPNG, clipboard.data(Platform::PasteboardType::png));
        m_view->setGeneralPasteboard(nullptr);
    }

    void spacePreviewsTheFocusedEntry()
    {
        m_view->setContentMode(IslandView::ContentMode::shelfGallery, false);
        m_view->selectShelfItem(m_items[3].id, false);
        QKeyEvent space(QEvent::KeyPress, Qt::Key_Space, Qt::NoModifier, QStringLiteral(" "));
        QCoreApplication::sendEvent(m_view, &space);
        m_rig->scheduler->advance(500);
        QVERIFY(m_view->isQuickPreviewVisible());
        QCOMPARE(m_view->previewingItemID(), std::optional<QUuid>(m_items[3].id));
    }
};

QUILLOMARE_GUI_TEST_MAIN(TestIslandViewShelfActions)
#include "tst_islandviewshelf_actions.moc"
