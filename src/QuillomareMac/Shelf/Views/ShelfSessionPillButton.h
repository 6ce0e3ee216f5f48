#pragma once

// The session pill of the shelf's list variant: the session's name and a chevron; a press opens
// the session menu.

#include <QColor>
#include <QSize>
#include <QWidget>

#include <functional>

class QLabel;

namespace QuillomareMac {

class ShelfSessionPillButton final : public QWidget
{
    Q_OBJECT

public:
    explicit ShelfSessionPillButton(QWidget* parent = nullptr);

    QLabel* titleLabel() const { return m_titleLabel; }
    void setTitle(const QString& title);
    // Refreshes the look as well.
    void setEnabled(bool enabled);
    void updateAppearance();
    std::function<void()> onPress;

    QColor fillColor() const { return m_fill; }
    QColor textColor() const { return m_textColor; }

    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;
    void enterEvent(QEnterEvent* event) override;
    void leaveEvent(QEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    QLabel* m_titleLabel = nullptr;
    QLabel* m_chevron = nullptr;
    bool m_isHovering = false;
    bool m_isPressed = false;
    QColor m_fill;
    QColor m_textColor;
};

} // namespace QuillomareMac
