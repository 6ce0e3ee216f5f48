#pragma once

// One entry of the shelf gallery's strip: a thumbnail over a title and a kind badge. The card
// never changes the selection itself: a press selects through onSelect, a double press or a press
// on a picture previews through onPreview, and a drag of 3 points drags the entries that
// dragItemsProvider names (or the card's own) out to other programs.

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

class ShelfGalleryCardView final : public QWidget
{
    Q_OBJECT

public:
    explicit ShelfGalleryCardView(const ShelfItem& item, QWidget* parent = nullptr);

    std::function<void(const ShelfItem&)> onSelect;
    std::function<void(const ShelfItem&)> onPreview;
    // The entries a drag of this card carries; absent or empty drags the card's own entry.
    std::function<QList<ShelfItem>()> dragItemsProvider;

    const ShelfItem& item() const { return m_item; }
    ClipThumbnailView* thumbnail() const { return m_thumbnail; }
    QLabel* titleLabel() const { return m_titleLabel; }
    QLabel* badgeLabel() const { return m_badgeLabel; }
    QLabel* previewLabel() const { return m_previewLabel; }

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

    // The card's title: never the secret of a sensitive entry.
    static QString displayTitle(const ShelfItem& item);

    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;
    void enterEvent(QEnterEvent* event) override;
    void leaveEvent(QEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void setup();
    void layoutContent();
    void startDrag();

    ShelfItem m_item;
    ClipThumbnailView* m_thumbnail = nullptr;
    QLabel* m_titleLabel = nullptr;
    QLabel* m_badgeLabel = nullptr;
    QLabel* m_previewLabel = nullptr;
    bool m_isSelected = false;
    bool m_isHovering = false;
    QColor m_background;
    QColor m_border;
    qreal m_borderWidth = 0;
    std::optional<QPointF> m_mouseDownPoint;
    bool m_didStartDragSession = false;
    // 2 while the press is the second of a double click.
    int m_clickCount = 0;
};

} // namespace QuillomareMac
