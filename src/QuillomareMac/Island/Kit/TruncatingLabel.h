#pragma once

// A one-line plain-text label of the island: it cuts its text where asked (at the end unless
// told otherwise) instead of growing past its room, and gives way first when space is short.
// Copied content is shown as it is: no rich text, no mnemonics.

#include <QLabel>
#include <QPainter>

namespace QuillomareMac {

class TruncatingLabel final : public QLabel
{
public:
    TruncatingLabel(Qt::TextElideMode mode, const QFont& font, const QColor& colour, QWidget* parent = nullptr)
        : QLabel(parent), m_mode(mode)
    {
        setTextFormat(Qt::PlainText);
        setFont(font);
        setColour(colour);
    }

    void setColour(const QColor& colour)
    {
        QPalette palette = this->palette();
        palette.setColor(QPalette::WindowText, colour);
        setPalette(palette);
    }

    QSize minimumSizeHint() const override { return QSize(0, QLabel::minimumSizeHint().height()); }

protected:
    void paintEvent(QPaintEvent*) override
    {
        QPainter painter(this);
        painter.setPen(palette().color(QPalette::WindowText));
        const QRect area = contentsRect();
        painter.drawText(area, int(alignment()), fontMetrics().elidedText(text(), m_mode, area.width()));
    }

private:
    Qt::TextElideMode m_mode;
};

} // namespace QuillomareMac
