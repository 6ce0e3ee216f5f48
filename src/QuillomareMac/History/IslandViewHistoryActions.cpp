// The actions on history entries: the keyboard copy, the inspector's eleven tiles and the More
// menu. None of them touches the store or the clipboard: each works out the entry it acts on and
// fires one callback; the shell carries the action out and pushes the new history back.

#include "Island/IslandView.h"

#include "Island/Kit/IslandActionTileButton.h"
#include "Island/Kit/IslandIcons.h"

#include "History/HistoryPreviewPane.h"
#include "Pasteboard/ClipboardSharingService.h"
#include "Pasteboard/MacFileContent.h"

#include <QuillomareCore/Foundation.h>
#include <QuillomareCore/Language.h>

#include <QAction>
#include <QMenu>
#include <QPointer>

namespace QuillomareMac {

namespace Language = QuillomareCore::Language;

using QuillomareCore::ClipboardItem;
using QuillomareCore::ClipKind;

namespace {

// Menu titles come from copied content in places: a '&' is a character, not a mnemonic.
QString menuTitle(const QString& text)
{
    QString escaped = text;
    return escaped.replace(QLatin1Char('&'), QStringLiteral("&&"));
}

} // namespace

std::optional<ClipboardItem> IslandView::primaryActionItem() const
{
    const QList<ClipboardItem> items = selectedHistoryItemsForActions();
    if (items.isEmpty())
        return std::nullopt;
    return items.first();
}

std::optional<QString> IslandView::inspectorEditableTextForCopy() const
{
    return m_historyInspectorPreview ? m_historyInspectorPreview->editableTextForCopy() : std::nullopt;
}

void IslandView::copyInspectorDraftText(const QString& text)
{
    if (QuillomareCore::Text::trimmed(text).isEmpty())
        return;
    if (onCopyQuickPreviewText)
        onCopyQuickPreviewText(text);
}

std::optional<ClipboardItem> IslandView::currentItemForAirDropAction() const
{
    if (m_contentMode == ContentMode::shelfGallery) {
        if (auto item = selectedShelfClipboardItem())
            return item;
    }
    return primaryActionItem();
}

// MARK: - Copy

void IslandView::copySelectedItem()
{
    if (m_contentMode == ContentMode::shelfGallery) {
        copySelectedShelfItem();
        return;
    }
    // The primary entry, whatever the multi-selection holds.
    if (!m_selectedItemID)
        return;
    if (const auto item = visibleItem(*m_selectedItemID); item && onSelectItem)
        onSelectItem(*item);
}

void IslandView::historyOriginalTapped()
{
    const auto item = primaryActionItem();
    if (!item)
        return;
    if (const auto draft = inspectorEditableTextForCopy())
        copyInspectorDraftText(*draft);
    else if (onSelectItem)
        onSelectItem(*item);
    if (m_historyOriginalButton)
        m_historyOriginalButton->flashCopySuccess();
}

void IslandView::historyPlainTapped()
{
    const auto item = primaryActionItem();
    if (!item)
        return;
    if (const auto draft = inspectorEditableTextForCopy()) {
        copyInspectorDraftText(*draft);
    } else if (PasteTransform::menuVariants(*item).contains(PasteVariant::plainText)) {
        if (onCopyPasteVariantItem)
            onCopyPasteVariantItem(*item, PasteVariant::plainText);
    } else if (onCopyPlainTextItem) {
        onCopyPlainTextItem(*item);
    }
    if (m_historyPlainButton)
        m_historyPlainButton->flashCopySuccess();
}

bool IslandView::copyVariantIfOffered(PasteVariant variant, IslandActionTileButton* tile)
{
    const auto item = primaryActionItem();
    if (!item || !PasteTransform::menuVariants(*item).contains(variant))
        return false;
    if (onCopyPasteVariantItem)
        onCopyPasteVariantItem(*item, variant);
    if (tile)
        tile->flashCopySuccess();
    return true;
}

void IslandView::historyMarkdownTapped()
{
    copyVariantIfOffered(PasteVariant::markdownLink, m_historyMarkdownButton);
}

void IslandView::historyCleanURLTapped()
{
    copyVariantIfOffered(PasteVariant::cleanedURL, m_historyTranslateButton);
}

void IslandView::historyFileNameTapped()
{
    copyVariantIfOffered(PasteVariant::fileNames, m_historyFileNameButton);
}

void IslandView::historyFilePathTapped()
{
    copyVariantIfOffered(PasteVariant::filePaths, m_historyFilePathButton);
}

// MARK: - Smart actions

void IslandView::historyQuickPreviewTapped()
{
    if (const auto item = primaryActionItem())
        openHistoryQuickPreview(*item);
}

void IslandView::historyOCRTapped()
{
    const auto item = primaryActionItem();
    if (!item)
        return;
    if (!item->isSensitive && MacPreview::hasMacPreviewImagePayload(*item)) {
        openHistoryQuickPreview(*item);
        activateQuickPreviewTextExtractionHighlight();
        return;
    }
    if (onRecognizeTextItem)
        onRecognizeTextItem(*item);
}

void IslandView::historyAirDropTapped()
{
    if (const auto item = currentItemForAirDropAction(); item && onAirDropItem)
        onAirDropItem(*item);
}

void IslandView::historyRevealTapped()
{
    if (const auto item = primaryActionItem(); item && onRevealItem)
        onRevealItem(*item);
}

// MARK: - More menu

QMenu* IslandView::makeHistoryMoreMenu()
{
    const auto item = primaryActionItem();
    if (!item)
        return nullptr;
    const QList<PasteVariant> variants = PasteTransform::menuVariants(*item);
    QMenu* menu = makeIslandMenu(this);
    menu->setObjectName(QStringLiteral("historyMoreMenu"));
    QPointer<IslandView> weak(this);
    const auto add = [&](const QString& title, const QString& icon, void (IslandView::*handler)()) {
        QAction* action = menu->addAction(islandMenuIcon(icon), menuTitle(title));
        QObject::connect(action, &QAction::triggered, this, [weak, handler] {
            if (weak)
                (weak.data()->*handler)();
        });
        return action;
    };

    add(Language::text(QStringLiteral("复制原始内容"), QStringLiteral("Copy Original")), QStringLiteral("doc.on.doc"),
        &IslandView::historyOriginalTapped)
        ->setEnabled(variants.contains(PasteVariant::original));
    for (PasteVariant variant : variants) {
        if (variant == PasteVariant::original)
            continue;
        const int tag = int(std::find(PasteVariant::allCases().begin(), PasteVariant::allCases().end(), variant) -
                            PasteVariant::allCases().begin());
        QAction* action =
            menu->addAction(islandMenuIcon(variant == PasteVariant::cleanedURL ? QStringLiteral("link.badge.plus")
                                                                               : QStringLiteral("text.alignleft")),
                            menuTitle(variant.title()));
        action->setData(tag);
        QObject::connect(action, &QAction::triggered, this, [weak, tag] {
            if (weak)
                weak->historyPasteVariantMenuItemTapped(tag);
        });
    }
    menu->addSeparator();
    add(item->isPinned ? Language::text(QStringLiteral("取消置顶"), QStringLiteral("Unpin"))
                       : Language::text(QStringLiteral("置顶这条历史"), QStringLiteral("Pin this item")),
        item->isPinned ? QStringLiteral("pin.slash") : QStringLiteral("pin"), &IslandView::historyTogglePinTapped);
    menu->addSeparator();
    const bool textual = item->kind == ClipKind::text || item->kind == ClipKind::url;
    add(Language::text(QStringLiteral("生成二维码（手机扫码秒传）"), QStringLiteral("QR Code (scan with phone)")),
        QStringLiteral("qrcode"), &IslandView::historyQRCodeTapped)
        ->setEnabled(textual);
    add(Language::text(QStringLiteral("导出为文件…"), QStringLiteral("Export as File…")),
        QStringLiteral("square.and.arrow.down"), &IslandView::historyExportTapped);
    if (textual)
        add(Language::text(QStringLiteral("压缩空白后复制"), QStringLiteral("Copy with Whitespace Condensed")),
            QStringLiteral("text.justify.left"), &IslandView::historyCondenseTapped);
    menu->addSeparator();
    add(Language::text(QStringLiteral("删除这条历史"), QStringLiteral("Delete this item")), QStringLiteral("trash"),
        &IslandView::historyDeleteTapped);
    return menu;
}

void IslandView::historyMoreTapped()
{
    if (!m_historyMoreButton)
        return;
    QMenu* menu = makeHistoryMoreMenu();
    if (!menu)
        return;
    menu->popup(m_historyMoreButton->mapToGlobal(QPoint(0, m_historyMoreButton->height() + 4)));
}

void IslandView::historyPasteVariantMenuItemTapped(int tag)
{
    if (tag < 0 || tag >= int(PasteVariant::allCases().size()))
        return;
    if (const auto item = primaryActionItem(); item && onCopyPasteVariantItem)
        onCopyPasteVariantItem(*item, PasteVariant::allCases()[size_t(tag)]);
}

void IslandView::historyTogglePinTapped()
{
    if (const auto item = primaryActionItem(); item && onTogglePinItem)
        onTogglePinItem(*item);
}

void IslandView::historyQRCodeTapped()
{
    if (const auto item = primaryActionItem(); item && onMakeQRCodeItem)
        onMakeQRCodeItem(*item);
}

void IslandView::historyExportTapped()
{
    if (const auto item = primaryActionItem(); item && onExportItemToFile)
        onExportItemToFile(*item);
}

void IslandView::historyCondenseTapped()
{
    if (const auto item = primaryActionItem(); item && onCopyCondensedItem)
        onCopyCondensedItem(*item);
}

void IslandView::historyDeleteTapped()
{
    if (const auto item = primaryActionItem(); item && onDeleteItem)
        onDeleteItem(*item);
}

} // namespace QuillomareMac
