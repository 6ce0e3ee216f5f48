#pragma once

// A small square tile of the island: a symbol over a one- or two-line title (and an optional
// subtitle), lit on hover, and able to flash a green "Copied" confirmation after a copy. A
// disabled tile still gets hover events (so the pointer's effects stay consistent) but ignores
// clicks; that is why its enabled state is its own and not the widget's.

#include <QAbstractButton>
#include <QColor>

#include <memory>

namespace QuillomareMac {

class WorkItem;

class IslandActionTileButton final : public QAbstractButton
{
    Q_OBJECT

public:
    static constexpr qint64 flashRestoreMilliseconds = 900;

    IslandActionTileButton(const QString& title, const QString& subtitle, const QString& iconName,
                           const QString& tooltip, QWidget* parent = nullptr);
    ~IslandActionTileButton() override;

    const QString& displayTitle() const { return m_displayTitle; }
    const QString& displaySubtitle() const { return m_displaySubtitle; }
    const QString& iconName() const { return m_iconName; }
    bool isHovering() const { return m_isHovering; }

    // The tile's own enabled state. These hide QWidget's on purpose: the widget itself stays
    // enabled so that it keeps receiving enter and leave events.
    bool isEnabled() const { return m_actionEnabled; }
    void setEnabled(bool enabled);
    bool actionEnabled() const { return m_actionEnabled; }

    void updateAppearance();
    // Shows the green check and "已复制" / "Copied" for 0.9 s from the last call.
    void flashCopySuccess();
    bool isShowingCopyConfirmation() const { return m_flashRestore != nullptr; }

    // What the tile shows now.
    QString shownTitle() const { return m_shownTitle; }
    QString shownIconName() const { return m_shownIcon; }
    QColor backgroundColor() const { return m_background; }
    QColor borderColor() const { return m_border; }
    QColor iconTint() const { return m_iconTint; }
    QColor titleColor() const { return m_titleColor; }
    QColor subtitleColor() const { return m_subtitleColor; }
    qreal titlePointSize() const;
    int titleMaximumLines() const;

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;
    void enterEvent(QEnterEvent* event) override;
    void leaveEvent(QEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    bool titleHasLineBreak() const;
    QFont titleFont() const;
    void showTitle(const QString& title);

    QString m_displayTitle;
    QString m_displaySubtitle;
    QString m_iconName;
    bool m_isHovering = false;
    bool m_actionEnabled = true;
    std::shared_ptr<WorkItem> m_flashRestore;

    QString m_shownTitle;
    QString m_shownIcon;
    QColor m_background;
    QColor m_border;
    QColor m_iconTint;
    QColor m_titleColor;
    QColor m_subtitleColor;
};

} // namespace QuillomareMac
