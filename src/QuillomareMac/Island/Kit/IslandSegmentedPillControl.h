#pragma once

// The island's segmented control: equal segments inside a rounded pill, a selection capsule that
// slides between them on a spring and fades when it appears or goes, and titles drawn above the
// capsule (with live counts in small capsules on the header's switch, with icons on the kind
// filter). A click on a segment selects it and emits clicked(), also when nothing changed.

#include <QColor>
#include <QRectF>
#include <QStringList>
#include <QWidget>

#include <optional>
#include <utility>

class QPainter;

namespace QuillomareMac {

class IslandSegmentedPillControl final : public QWidget
{
    Q_OBJECT

public:
    enum class Prominence
    {
        top,
        primary,
        secondary
    };
    enum class SelectionStyle
    {
        neutral,
        blue
    };

    // What a prominence fixes: sizes and the greys of the pill, capsule and titles.
    struct Metrics
    {
        qreal height;
        qreal inset;
        QPointF capsuleInset;
        QColor pillFill;
        QColor pillStroke;
        qreal pillStrokeWidth;
        QColor neutralSelectionFill;
        QColor unselectedTitle;
        QColor selectedTitleNeutral;
    };
    static Metrics metrics(Prominence prominence);

    // `iconSymbols`: one optional symbol per segment (an empty string for none), or no list at all.
    IslandSegmentedPillControl(QStringList labels, const std::optional<QStringList>& iconSymbols, Prominence prominence,
                               SelectionStyle selectionStyle, bool allowsDeselect, QWidget* parent = nullptr);
    ~IslandSegmentedPillControl() override;

    // The icons of the segments: the symbols that exist, in order, an empty string where there is
    // none, padded with empty strings to `count` (a longer list is kept whole).
    static QStringList makeIcons(const std::optional<QStringList>& symbols, int count);
    // "History 12" → ("History", "12"); "Top 10 items", "History" and "12" → (the label, none).
    static std::pair<QString, std::optional<QString>> splitNumericSuffix(const QString& label);

    const QStringList& labels() const { return m_labels; }
    Prominence prominence() const { return m_prominence; }
    SelectionStyle selectionStyle() const { return m_selectionStyle; }
    bool allowsDeselect() const { return m_allowsDeselect; }
    const QStringList& iconSymbols() const { return m_iconSymbols; }
    int selectedSegmentIndex() const { return m_selectedSegmentIndex; }

    // Clamps into the segments (−1 only when deselection is allowed); re-selecting the current
    // segment never animates.
    void setSelectedSegmentIndex(int index, bool animated);
    // Ignored outside the segments.
    void setLabel(const QString& label, int segment);

    std::optional<int> segmentIndex(const QPointF& point) const;
    QRectF segmentRect(int index) const;

    // Places the capsule on the selected segment (or fades it out when none is selected).
    void updateSelectionLayer(bool animated);
    void fadeSelection(bool visible, bool animated);

    // The capsule as set (where it is going) and as shown now, mid-animation included.
    QRectF selectionRect() const { return m_selectionRect; }
    QRectF presentedSelectionRect() const;
    qreal selectionOpacity() const { return m_selectionOpacity; }
    qreal presentedSelectionOpacity() const { return m_presentedOpacity; }
    bool isSliding() const;
    bool isFading() const;

    QColor selectionFill() const;
    QColor selectionBorderColor() const;
    qreal selectionBorderWidth() const;
    QColor titleColor(int index) const;

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

Q_SIGNALS:
    void clicked();

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;

private:
    void updateAccessibleName();
    void drawOuterPill(QPainter& painter) const;
    void drawSelection(QPainter& painter) const;
    void drawSegmentTitles(QPainter& painter) const;
    void drawTopSegmentTitle(QPainter& painter, const QString& label, const QRectF& rect, bool selected) const;
    void drawPlainSegmentTitle(QPainter& painter, const QString& label, const QRectF& rect, bool selected,
                               const QColor& colour, const QString& icon) const;

    QStringList m_labels;
    Prominence m_prominence;
    SelectionStyle m_selectionStyle;
    bool m_allowsDeselect;
    QStringList m_iconSymbols;
    int m_selectedSegmentIndex = 0;

    QRectF m_selectionRect;
    qreal m_selectionOpacity = 0;
    qreal m_presentedOpacity = 0;
    QPointF m_slideOffset;
};

} // namespace QuillomareMac
