#pragma once

// The island's round icon-only button. Its tooltip appears the moment the pointer enters it, in
// a window of its own that floats above the island (the island's panel stays on top of other
// windows, so an ordinary tooltip would open underneath it) and never takes focus or clicks.

#include <QAbstractButton>
#include <QColor>
#include <QPointer>

namespace QuillomareMac {

class IslandTooltipBubbleView;

class IslandIconButton final : public QAbstractButton
{
    Q_OBJECT

public:
    IslandIconButton(const QString& symbol, const QString& tooltipText, qreal iconSize, const QColor& baseTint,
                     const QColor& hoverTint, QWidget* parent = nullptr);
    ~IslandIconButton() override;

    const QString& symbol() const { return m_symbol; }
    qreal iconSize() const { return m_iconSize; }
    const QString& tooltipText() const { return m_tooltipText; }
    bool isHovering() const { return m_isHovering; }
    QColor baseTint() const { return m_baseTint; }
    QColor hoverTint() const { return m_hoverTint; }
    // max(min(iconSize × 0.62, 15), 11)
    qreal symbolPointSize() const;

    void updateAppearance();
    // The whole button drawn at this opacity (a list's row fades its buttons while at rest);
    // cheaper than an opacity effect, which paints the button off screen first.
    void setContentOpacity(qreal opacity);
    qreal contentOpacity() const { return m_contentOpacity; }
    QColor iconTint() const { return m_iconTint; }
    QColor backgroundColor() const { return m_background; }
    QColor borderColor() const { return m_border; }
    qreal borderWidth() const { return m_borderWidth; }

    void showCustomTooltip();
    void hideCustomTooltip();
    // Closes every open tooltip window (the island calls it when it changes mode or morphs).
    static void hideAllCustomTooltips();
    // The open tooltip window, if any; a top-level widget of its own.
    QWidget* tooltipWindow() const { return m_tooltipWindow; }
    // The buttons whose tooltip window is open.
    static QList<IslandIconButton*> tooltipOwners();

    // Where a tooltip of `size` goes for a button at `anchor` (global coordinates): centred above
    // the button, below it when there is no room above, kept 6 points inside `available`.
    static QPoint tooltipPosition(const QRect& anchor, const QSize& size, const QRect& available);

    QSize sizeHint() const override;

protected:
    bool event(QEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    void enterEvent(QEnterEvent* event) override;
    void leaveEvent(QEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void hideEvent(QHideEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    QString m_symbol;
    QString m_tooltipText;
    qreal m_iconSize;
    QColor m_baseTint;
    QColor m_hoverTint;
    bool m_isHovering = false;
    QPointer<QWidget> m_tooltipWindow;

    QColor m_iconTint;
    QColor m_background;
    QColor m_border;
    qreal m_borderWidth = 0;
    qreal m_contentOpacity = 1;
};

} // namespace QuillomareMac
