#pragma once

// The shelf's drop target inside the island: a dashed rounded box with an icon, a title and a
// subtitle, lit while something is dragged over the island, and an optional pill that turns the
// island's own drop zone on.

#include <QColor>
#include <QString>
#include <QWidget>

#include <functional>

class QLabel;

namespace QuillomareMac {

class ShelfDropZoneView final : public QWidget
{
    Q_OBJECT

public:
    explicit ShelfDropZoneView(QWidget* parent = nullptr);

    QString title() const;
    void setTitle(const QString& title);
    QString subtitle() const;
    void setSubtitle(const QString& subtitle);

    // Takes effect at the next updateAppearance().
    bool isHighlighted() const { return m_isHighlighted; }
    void setHighlighted(bool highlighted) { m_isHighlighted = highlighted; }
    void updateAppearance();

    bool showsToggle() const { return m_showsToggle; }
    void setShowsToggle(bool shows);
    QWidget* toggleContainer() const { return m_toggleContainer; }
    QLabel* toggleLabel() const { return m_toggleLabel; }
    std::function<void()> onToggleNotch;

    QLabel* iconView() const { return m_iconView; }
    QLabel* titleLabel() const { return m_titleLabel; }
    QLabel* subtitleLabel() const { return m_subtitleLabel; }

    // The look last applied.
    QColor fillColor() const { return m_fill; }
    QColor strokeColor() const { return m_stroke; }
    qreal lineWidth() const { return m_lineWidth; }
    QColor iconTint() const { return m_iconTint; }
    QColor titleColor() const { return m_titleColor; }

protected:
    void paintEvent(QPaintEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void setup();

    QLabel* m_iconView = nullptr;
    QLabel* m_titleLabel = nullptr;
    QLabel* m_subtitleLabel = nullptr;
    QWidget* m_toggleContainer = nullptr;
    QLabel* m_toggleIcon = nullptr;
    QLabel* m_toggleLabel = nullptr;
    bool m_isHighlighted = false;
    bool m_showsToggle = false;
    QColor m_fill;
    QColor m_stroke;
    qreal m_lineWidth = 0.75;
    QColor m_iconTint;
    QColor m_titleColor;
};

} // namespace QuillomareMac
