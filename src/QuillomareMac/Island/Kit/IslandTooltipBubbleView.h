#pragma once

// The rounded dark bubble that fills an icon button's tooltip window: one or two centred lines,
// wrapped at characters, sized to its text up to 260 points of text width.

#include <QFont>
#include <QRegion>
#include <QSizeF>
#include <QWidget>

namespace QuillomareMac {

class IslandTooltipBubbleView final : public QWidget
{
    Q_OBJECT

public:
    explicit IslandTooltipBubbleView(const QString& text, QWidget* parent = nullptr);

    // System 12 pt medium, shared.
    static const QFont& tooltipFont();
    // The size the text needs: one-line width plus a little, at most 260 wide; the wrapped
    // height, between one and two lines.
    static QSizeF measuredContentSize(const QString& text);
    // The bubble around that content: (max(width + 22, 46), height + 12).
    static QSize bubbleSize(const QString& text);
    // The pixels of a bubble of that size that its rounded outline holds (by their centres).
    static QRegion outline(const QSize& size);

    QString text() const { return m_text; }
    void setText(const QString& text);
    QSizeF measuredContentSize() const { return measuredContentSize(m_text); }

    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QString m_text;
};

} // namespace QuillomareMac
