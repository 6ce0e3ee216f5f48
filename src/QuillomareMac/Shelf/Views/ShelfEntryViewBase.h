#pragma once

// What the gallery's card and the list's row share: the entry and its thumbnail, the look of the
// selection and hover state, and the press. The view never changes the selection itself: a press
// selects through onSelect, a double press or a press on a picture previews through onPreview, and
// a drag of 3 points drags the entries that dragItemsProvider names (or the view's own) out to
// other programs.

#include "Shelf/ShelfItem.h"

#include <QColor>
#include <QList>
#include <QPointF>
#include <QWidget>

#include <functional>
#include <optional>

class QMouseEvent;

namespace QuillomareMac {

class ClipThumbnailView;

class ShelfEntryViewBase : public QWidget
{
    Q_OBJECT

public:
    // Where the card's and the row's looks differ.
    struct Look
    {
        qreal cornerRadius = 8;
        qreal selectedBorderWidth = 1;
        QColor hoverBorder;
        QColor restingBorder;
    };

    std::function<void(const ShelfItem&)> onSelect;
    std::function<void(const ShelfItem&)> onPreview;
    // A Control-press toggles the entry in the multi-selection (extendRange false); a Shift-press
    // extends it from the anchor (true). Cards and rows alike.
    std::function<void(const ShelfItem&, bool extendRange)> onMultiSelect;
    // The entries a drag of this view carries; absent or empty drags the view's own entry.
    std::function<QList<ShelfItem>()> dragItemsProvider;

    const ShelfItem& item() const { return m_item; }
    ClipThumbnailView* thumbnail() const { return m_thumbnail; }

    // Takes effect at the next updateBackground().
    bool isSelected() const { return m_isSelected; }
    void setSelected(bool selected) { m_isSelected = selected; }
    bool isHovering() const { return m_isHovering; }

    // The current press, in the view's coordinates; the gallery's scroll fallback sets them when
    // it hands a press over.
    std::optional<QPointF> mouseDownPoint() const { return m_mouseDownPoint; }
    void setMouseDownPoint(std::optional<QPointF> point) { m_mouseDownPoint = point; }
    bool didStartDragSession() const { return m_didStartDragSession; }
    void setDidStartDragSession(bool started) { m_didStartDragSession = started; }

    // The three steps of a press. Positions come from the event's global position, so events that
    // another widget received (the gallery's scroll view) may be handed over.
    void mouseDown(QMouseEvent* event);
    void mouseDragged(QMouseEvent* event);
    void mouseUp(QMouseEvent* event);

    // Applies the look of the selection and hover state and redraws.
    void updateBackground();
    QColor backgroundColor() const { return m_background; }
    QColor borderColor() const { return m_border; }
    qreal borderWidth() const { return m_borderWidth; }

    // The entry's title: never the secret of a sensitive entry.
    static QString displayTitle(const ShelfItem& item);

protected:
    ShelfEntryViewBase(const ShelfItem& item, const Look& look, QWidget* parent);

    // Whether a press with these keys goes to the multi-selection instead of selecting, and the
    // hand-over of such a press: the last the press does.
    bool isMultiSelectPress(Qt::KeyboardModifiers modifiers) const;
    void multiSelectPressed(Qt::KeyboardModifiers modifiers);
    bool didHandleMultiSelectClick() const { return m_didHandleMultiSelectClick; }

    void paintEvent(QPaintEvent* event) override;
    void enterEvent(QEnterEvent* event) override;
    void leaveEvent(QEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void startDrag();

    ShelfItem m_item;
    Look m_look;
    ClipThumbnailView* m_thumbnail = nullptr;
    bool m_isSelected = false;
    bool m_isHovering = false;
    QColor m_background;
    QColor m_border;
    qreal m_borderWidth = 0;
    std::optional<QPointF> m_mouseDownPoint;
    bool m_didStartDragSession = false;
    bool m_didHandleMultiSelectClick = false;
    // 2 while the press is the second of a double click.
    int m_clickCount = 0;
};

} // namespace QuillomareMac
