// The shelf's actions: the gallery's tiles, the session bar, the footer and the hidden list
// variant all send them here. None of them changes the shelf: each reads the selection and fires
// one callback; the shell carries the action out and pushes the new shelf back.

#include "Island/IslandView.h"
#include "Shelf/Views/IslandViewShelfState.h"

#include "Island/Kit/IslandActionTileButton.h"
#include "Island/Kit/IslandIconButton.h"
#include "Island/Kit/IslandIcons.h"

#include "Shelf/Views/ShelfSessionPillButton.h"

#include <QAction>
#include <QMenu>
#include <QPointer>

namespace QuillomareMac {

namespace {

// Session names and variant titles are the user's text: a '&' is a character, not a mnemonic.
QString menuTitle(const QString& text)
{
    QString escaped = text;
    return escaped.replace(QLatin1Char('&'), QStringLiteral("&&"));
}

} // namespace

// MARK: - Menus

QWidget* IslandView::shownMenuAnchor(QWidget* listAnchor, QWidget* galleryAnchor)
{
    // The list variant is built but never shown: a menu placed at one of its buttons would open
    // at a point the user cannot see.
    if (listAnchor && listAnchor->isVisible())
        return listAnchor;
    if (galleryAnchor)
        return galleryAnchor;
    return listAnchor;
}

void IslandView::popUpShelfMenu(QMenu* menu, QWidget* anchor)
{
    menu->popup(anchor->mapToGlobal(QPoint(0, anchor->height() + 4)));
}

// MARK: - Entry actions

void IslandView::copySelectedShelfItem()
{
    if (const auto item = selectedShelfItem(); item && onCopyShelfItem)
        onCopyShelfItem(*item);
}

std::optional<QuillomareCore::ClipboardItem> IslandView::selectedShelfClipboardItem() const
{
    if (const auto item = selectedShelfItem())
        return item->clipboardItem();
    return std::nullopt;
}

void IslandView::shelfPreviewTapped()
{
    if (const auto item = selectedShelfItem())
        presentQuickPreview(item->clipboardItem(), true);
}

void IslandView::shelfCopyTapped()
{
    const auto item = selectedShelfItem();
    if (!item)
        return;
    const QList<PasteVariant> variants = PasteTransform::menuVariants(item->clipboardItem());
    if (variants.size() >= 2 && m_shelfCopyButton) {
        QMenu* menu = makeIslandMenu(this);
        menu->setObjectName(QStringLiteral("shelfPasteVariantMenu"));
        QPointer<IslandView> weak(this);
        for (PasteVariant variant : variants) {
            const auto& cases = PasteVariant::allCases();
            const int tag = int(std::find(cases.begin(), cases.end(), variant) - cases.begin());
            QAction* action = menu->addAction(menuTitle(variant.title()));
            action->setData(tag);
            action->setEnabled(true);
            connect(action, &QAction::triggered, this, [weak, tag] {
                if (weak)
                    weak->shelfPasteVariantMenuItemTapped(tag);
            });
        }
        popUpShelfMenu(menu, shownMenuAnchor(m_shelfCopyButton, m_shelfGalleryCopyButton));
        return;
    }
    if (onCopyShelfItem)
        onCopyShelfItem(*item);
    if (m_shelfCopyButton)
        m_shelfCopyButton->flashCopySuccess();
    if (m_shelfGalleryCopyButton)
        m_shelfGalleryCopyButton->flashCopySuccess();
}

void IslandView::shelfPasteVariantMenuItemTapped(int tag)
{
    const auto item = selectedShelfItem();
    if (!item || tag < 0 || tag >= int(PasteVariant::allCases().size()))
        return;
    const PasteVariant variant = PasteVariant::allCases()[size_t(tag)];
    if (variant == PasteVariant::original) {
        if (onCopyShelfItem)
            onCopyShelfItem(*item);
    } else if (onCopyShelfPasteVariantItem) {
        onCopyShelfPasteVariantItem(*item, variant);
    }
}

void IslandView::shelfAirDropTapped()
{
    if (const auto item = selectedShelfItem(); item && onAirDropShelfItem)
        onAirDropShelfItem(*item);
}

void IslandView::shelfRevealTapped()
{
    if (const auto item = selectedShelfItem(); item && onRevealShelfItem)
        onRevealShelfItem(*item);
}

void IslandView::shelfRemoveTapped()
{
    if (const auto item = selectedShelfItem(); item && onRemoveShelfItem)
        onRemoveShelfItem(item->id);
}

// MARK: - Combine and batch

void IslandView::shelfCombineTapped()
{
    showCombineMenu(shownMenuAnchor(m_shelfCombineButton, m_shelfGalleryCombineButton),
                    &IslandView::shelfCombineMenuItemTapped);
}

void IslandView::showCombineMenu(QWidget* anchor, void (IslandView::*handler)(int))
{
    if (!anchor || !handler)
        return;
    QMenu* menu = makeIslandMenu(this);
    menu->setObjectName(QStringLiteral("shelfCombineMenu"));
    QPointer<IslandView> weak(this);
    const auto& formats = CombinedPasteFormat::allCases();
    for (size_t tag = 0; tag < formats.size(); ++tag) {
        QAction* action = menu->addAction(formats[tag].title());
        action->setData(int(tag));
        action->setEnabled(true);
        connect(action, &QAction::triggered, this, [weak, handler, tag] {
            if (weak)
                (weak.data()->*handler)(int(tag));
        });
    }
    popUpShelfMenu(menu, anchor);
}

void IslandView::shelfCombineMenuItemTapped(int tag)
{
    const auto& formats = CombinedPasteFormat::allCases();
    if (tag < 0 || tag >= int(formats.size()))
        return;
    // One entry is enough: the shell joins what it is given.
    const QList<ShelfItem> items = selectedShelfItemsForActions(true);
    if (!items.isEmpty() && onCombineShelfItems)
        onCombineShelfItems(items, formats[size_t(tag)]);
}

void IslandView::shelfBatchTapped()
{
    QWidget* anchor = m_shelfBatchButton && m_shelfBatchButton->isVisible()
                          ? static_cast<QWidget*>(m_shelfBatchButton)
                          : (m_shelfGalleryMoreButton ? static_cast<QWidget*>(m_shelfGalleryMoreButton)
                                                      : static_cast<QWidget*>(m_shelfBatchButton));
    if (!anchor)
        return;
    QMenu* menu = makeIslandMenu(this);
    menu->setObjectName(QStringLiteral("shelfBatchMenu"));
    QPointer<IslandView> weak(this);
    for (ShelfBatchAction batch : ShelfBatchAction::allCases()) {
        const int tag = int(ShelfBatchAction::Value(batch));
        QAction* action = menu->addAction(batch.title());
        action->setData(tag);
        action->setEnabled(true);
        connect(action, &QAction::triggered, this, [weak, tag] {
            if (weak)
                weak->shelfBatchMenuItemTapped(tag);
        });
    }
    popUpShelfMenu(menu, anchor);
}

void IslandView::shelfGalleryMoreTapped()
{
    shelfBatchTapped();
}

void IslandView::shelfBatchMenuItemTapped(int tag)
{
    const auto batch = ShelfBatchAction::fromTag(tag);
    if (!batch)
        return;
    const QList<ShelfItem> items = selectedShelfItemsForActions(true);
    if (!items.isEmpty() && onBatchShelfItems)
        onBatchShelfItems(items, *batch);
}

// MARK: - Session and shelf

void IslandView::shelfClearTapped()
{
    if (onClearShelf)
        onClearShelf();
}

void IslandView::createShelfSessionTapped()
{
    if (onCreateShelfSession)
        onCreateShelfSession();
}

void IslandView::renameShelfSessionTapped()
{
    if (onRenameShelfSession)
        onRenameShelfSession();
}

void IslandView::shelfSessionMenuTapped()
{
    if (m_shelf->sessions.isEmpty())
        return;
    QWidget* anchor = shownMenuAnchor(m_shelfSessionButton, m_shelfGallerySessionSwitch);
    if (!anchor)
        return;
    QMenu* menu = makeIslandMenu(this);
    menu->setObjectName(QStringLiteral("shelfSessionMenu"));
    QPointer<IslandView> weak(this);
    for (const ShelfSession& session : std::as_const(m_shelf->sessions)) {
        QAction* action =
            menu->addAction(menuTitle(session.name + QLatin1Char(' ') + QString::number(session.items.size())));
        action->setData(QVariant::fromValue(session.id));
        action->setCheckable(true);
        action->setChecked(m_selectedShelfSessionID && session.id == *m_selectedShelfSessionID);
        action->setEnabled(true);
        connect(action, &QAction::triggered, this, [weak, action] {
            if (weak)
                weak->shelfSessionMenuItemTapped(action);
        });
    }
    popUpShelfMenu(menu, anchor);
}

void IslandView::shelfSessionMenuItemTapped(QAction* item)
{
    if (!item || item->data().metaType() != QMetaType::fromType<QUuid>())
        return;
    if (onShelfSessionsChanged)
        onShelfSessionsChanged(item->data().value<QUuid>());
}

} // namespace QuillomareMac
