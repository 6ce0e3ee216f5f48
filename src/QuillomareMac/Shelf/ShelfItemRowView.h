#pragma once

// One entry of the shelf's list variant: a thumbnail, the title and the chip line. A press selects
// (a Control- or Shift-press goes to the multi-selection), a double press previews and a drag of
// 3 points drags the entries out.

#include "Shelf/ShelfItem.h"

#include <QColor>
#include <QList>
#include <QPointF>
#include <QWidget>

#include <functional>
#include <optional>

class QLabel;
class QMouseEvent;

namespace QuillomareMac {

class ClipThumbnailView;

class ShelfItemRowView final : public QWidget
{
    Q_OBJECT

public:
    explicit ShelfItemRowView(const ShelfItem& item, QWidget* parent = nullptr);

    std::function<void(const ShelfItem&)> onSelect;
    // A Control-press toggles (extendRange false); a Shift-press extends (true).
    std::function<void(const ShelfItem&, bool extendRange)> onMultiSelect;
    std::function<void(const ShelfItem&)> onPreview;
    std::function<QList<ShelfItem>()> dragItemsProvider;

    const ShelfItem& item() const { return m_item; }
    ClipThumbnailView* thumbnail() const { return m_thumbnail; }
    QLabel* titleLabel() const { return m_titleLabel; }
    QLabel* detailLabel() const { return m_detailLabel; }

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
    bool didHandleMultiSelectClick() const { return m_didHandleMultiSelectClick; }

    void updateBackground();
    QColor backgroundColor() const { return m_background; }
    QColor borderColor() const { return m_border; }

protected:
    void paintEvent(QPaintEvent* event) override;
    void enterEvent(QEnterEvent* event) override;
    void leaveEvent(QEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void setup();
    void startDrag();

    ShelfItem m_item;
    ClipThumbnailView* m_thumbnail = nullptr;
    QLabel* m_titleLabel = nullptr;
    QLabel* m_detailLabel = nullptr;
    bool m_isSelected = false;
    bool m_isHovering = false;
    QColor m_background;
    QColor m_border;
    std::optional<QPointF> m_mouseDownPoint;
    bool m_didStartDragSession = false;
    bool m_didHandleMultiSelectClick = false;
    int m_clickCount = 0;
};

} // namespace QuillomareMac
