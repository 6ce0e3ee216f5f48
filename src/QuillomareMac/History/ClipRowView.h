#pragma once

// One history entry in the island's list: a typed thumbnail, the preview text, a meta line (kind,
// age, device, pinned, local only), a pin button and a "more" button with the row's own menu.
//
// The row never changes the selection or the history: every press, drag and menu choice leaves
// through a callback the list assigns. A press selects at once, a Control- or Shift-press goes to
// the multi-selection, a drag of 20 points drags the entry (or what the list says to drag) out to
// other programs, and a release opens the quick preview (double click, or a click on an image's
// thumbnail) or confirms the selection.

#include "Pasteboard/PasteTransform.h"

#include <QuillomareCore/ClipboardItem.h>

#include <QColor>
#include <QList>
#include <QPointF>
#include <QRectF>
#include <QWidget>

#include <functional>
#include <optional>

class QLabel;
class QMenu;
class QMouseEvent;

namespace QuillomareMac {

class ClipThumbnailView;
class IslandIconButton;

class ClipRowView final : public QWidget
{
    Q_OBJECT

public:
    explicit ClipRowView(const QuillomareCore::ClipboardItem& item, QWidget* parent = nullptr);

    // The entries to drag when this row is dragged; absent (or answering nothing) drags the row's own.
    std::function<std::optional<QList<QuillomareCore::ClipboardItem>>(const QuillomareCore::ClipboardItem&)>
        dragItemsProvider;
    std::function<void(const QuillomareCore::ClipboardItem&)> onPreview;
    // A Control-press toggles (extendRange false); a Shift-press extends (true).
    std::function<void(const QuillomareCore::ClipboardItem&, bool extendRange)> onMultiSelect;
    std::function<void(const QuillomareCore::ClipboardItem&)> onSelect;
    std::function<void(const QuillomareCore::ClipboardItem&, PasteVariant)> onPasteVariant;
    // Assigned by the list; the row's own menu does not fire it.
    std::function<void(const QuillomareCore::ClipboardItem&)> onCopyPlainText;
    std::function<void(const QuillomareCore::ClipboardItem&)> onDelete;
    std::function<void(const QuillomareCore::ClipboardItem&)> onTogglePin;

    const QuillomareCore::ClipboardItem& item() const { return m_item; }
    ClipThumbnailView* thumbnail() const { return m_thumbnail; }
    QLabel* previewLabel() const { return m_preview; }
    QLabel* metaLabel() const { return m_meta; }
    IslandIconButton* pinButton() const { return m_pinButton; }
    IslandIconButton* moreButton() const { return m_moreButton; }

    // Set by the list; they take effect at the next updateBackground().
    bool isSelected() const { return m_isSelected; }
    void setSelected(bool selected) { m_isSelected = selected; }
    bool isHovering() const { return m_isHovering; }
    void setHovering(bool hovering) { m_isHovering = hovering; }
    // False while the list scrolls: the pointer entering a row then does not light it up.
    bool hoverHighlightEnabled() const { return m_hoverHighlightEnabled; }
    void setHoverHighlightEnabled(bool enabled) { m_hoverHighlightEnabled = enabled; }

    // Applies the look of the current selection and hover state and redraws.
    void updateBackground();
    // The look last applied.
    QColor backgroundColor() const { return m_look.background; }
    QColor borderColor() const { return m_look.border; }
    qreal borderWidth() const { return m_look.borderWidth; }
    QColor accentColor() const { return m_look.accent; }
    bool isSeparatorVisible() const { return m_look.separatorVisible; }
    bool isSelectionOutlineVisible() const { return m_look.selectionOutlineVisible; }
    qreal buttonOpacity(const IslandIconButton* button) const;

    // Whether "Copy Original" has anything to copy.
    bool canCopyItem() const;

    static QString badgeText(const QuillomareCore::ClipboardItem& item);
    // The colour of a kind (and of private entries), shared by history rows and shelf entries;
    // none for a kind without one.
    static std::optional<QColor> kindColor(QuillomareCore::ClipKind kind, bool isSensitive);
    static QColor badgeColor(const QuillomareCore::ClipboardItem& item);
    // "Text · 3m ago · Mac · Pinned · Local only": three to five parts.
    static QString metaText(const QuillomareCore::ClipboardItem& item);
    // Sets the meta line again for the present time (its age text goes stale as the row stays).
    void refreshMetaText();

    // The three steps of a press. Positions are taken from the event's global position, so the
    // list may hand over events that another widget received.
    void rowMouseDown(QMouseEvent* event);
    void rowMouseDragged(QMouseEvent* event);
    void rowMouseUp(QMouseEvent* event);

    // Opens the row menu below the more button's corner.
    void moreTapped();
    // A new row menu; the caller owns it (it deletes itself when closed).
    QMenu* makeRowMenu();
    // Where the row menu opens, in the row's coordinates.
    QPoint rowMenuPosition() const;

protected:
    void paintEvent(QPaintEvent* event) override;
    void enterEvent(QEnterEvent* event) override;
    void leaveEvent(QEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    struct Look
    {
        QColor background;
        QColor border;
        qreal borderWidth = 0;
        QColor accent;
        bool separatorVisible = true;
        bool selectionOutlineVisible = false;
    };

    void setup();
    void pinTapped();
    void deleteTapped();
    void copyTapped();
    void pasteVariantMenuItemTapped(int tag);
    void previewIfImage();
    void startDrag();
    QRectF thumbnailFrame() const;

    QuillomareCore::ClipboardItem m_item;
    ClipThumbnailView* m_thumbnail = nullptr;
    QLabel* m_preview = nullptr;
    QLabel* m_meta = nullptr;
    IslandIconButton* m_pinButton = nullptr;
    IslandIconButton* m_moreButton = nullptr;
    QList<IslandIconButton*> m_actionButtons;

    Look m_look;
    bool m_isHovering = false;
    bool m_hoverHighlightEnabled = true;
    bool m_isSelected = false;

    // The current press.
    std::optional<QPointF> m_mouseDownPoint;
    bool m_didStartDragSession = false;
    bool m_didHandleMultiSelectClick = false;
    int m_clickCount = 0;
};

} // namespace QuillomareMac
