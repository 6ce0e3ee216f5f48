// The history mode: the search field, the list's state and selection, and the copy actions the
// keyboard and the inspector's tiles reach.
//
// The rows themselves, the filters' effect, the inspector, the selection bar and the list's
// mouse handling are not built yet: the list shows no rows and keeps every entry visible, so
// that the selection and the actions already work on what the shell hands over.

#include "IslandView.h"

#include "IslandActionTileButton.h"

#include <QuillomareCore/Foundation.h>

#include <QLabel>
#include <QLineEdit>

namespace QuillomareMac {

using QuillomareCore::ClipboardItem;

// MARK: - Parts of the tree filled elsewhere

void IslandView::setupHistoryInspectorPanel()
{
    // The inspector fills historyInspectorPanel (the body's width less 392.5 points).
}

void IslandView::configureHistorySelectionBar()
{
    // The selection bar fills historySelectionBar (372 × 30, hidden while at most one entry is
    // selected).
}

void IslandView::configureHistoryScrollHoverBehavior()
{
    // The rows' hover pauses while the list scrolls; wired with the rows.
}

bool IslandView::handleHistoryScrollFallbackMouseDown(QMouseEvent* /*event*/)
{
    return false;
}

bool IslandView::handleHistoryScrollFallbackMouseDragged(QMouseEvent* /*event*/)
{
    return false;
}

bool IslandView::handleHistoryScrollFallbackMouseUp(QMouseEvent* /*event*/)
{
    m_historyScrollFallbackRowID.reset();
    return false;
}

// MARK: - Search field

void IslandView::focusSearch()
{
    m_searchFocusAsked = true;
    m_searchInput->setFocus(Qt::OtherFocusReason);
    m_searchInput->selectAll();
}

void IslandView::focusSearchTapped()
{
    setContentMode(ContentMode::history, true);
    m_searchFocusAsked = true;
    m_searchInput->setFocus(Qt::OtherFocusReason);
}

void IslandView::controlTextDidChange()
{
    m_searchPlaceholderLabel->setVisible(m_searchInput->text().isEmpty());
    rebuildRows();
}

// MARK: - List

void IslandView::rebuildRows()
{
    m_visibleItems = m_items;

    if (m_previewingItemID && !visibleItem(*m_previewingItemID))
        dismissQuickPreview(false);

    if (m_visibleItems.isEmpty()) {
        m_selectedItemID.reset();
        m_selectedHistoryItemIDs.clear();
        return;
    }
    // The primary selection stays while its entry is visible; else the first entry takes it.
    if (!m_selectedItemID || !visibleItem(*m_selectedItemID))
        m_selectedItemID = m_visibleItems.first().id;
}

void IslandView::filterChanged()
{
    rebuildRows();
}

std::optional<ClipboardItem> IslandView::visibleItem(const QUuid& id) const
{
    for (const ClipboardItem& item : m_visibleItems) {
        if (item.id == id)
            return item;
    }
    return std::nullopt;
}

QList<ClipboardItem> IslandView::selectedHistoryItemsForActions() const
{
    QList<ClipboardItem> result;
    if (m_selectedHistoryItemIDs.isEmpty()) {
        if (m_selectedItemID) {
            if (auto item = visibleItem(*m_selectedItemID))
                result.append(*item);
        }
        return result;
    }
    for (const ClipboardItem& item : m_visibleItems) {
        if (m_selectedHistoryItemIDs.contains(item.id))
            result.append(item);
    }
    return result;
}

// MARK: - Copy actions

std::optional<ClipboardItem> IslandView::primaryActionItem() const
{
    const QList<ClipboardItem> items = selectedHistoryItemsForActions();
    if (items.isEmpty())
        return std::nullopt;
    return items.first();
}

std::optional<QString> IslandView::inspectorEditableTextForCopy() const
{
    // The inspector's editable text preview comes with the inspector.
    return std::nullopt;
}

void IslandView::copyInspectorDraftText(const QString& text)
{
    if (QuillomareCore::Text::trimmed(text).isEmpty())
        return;
    if (onCopyQuickPreviewText)
        onCopyQuickPreviewText(text);
}

void IslandView::copySelectedItem()
{
    if (m_contentMode == ContentMode::shelfGallery) {
        if (const auto item = selectedShelfItem(); item && onCopyShelfItem)
            onCopyShelfItem(*item);
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

} // namespace QuillomareMac
