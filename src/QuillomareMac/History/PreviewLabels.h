#pragma once

// Small text pieces the inspector preview and the quick preview card share.

#include "Island/IslandTheme.h"

#include <QFontDatabase>
#include <QLabel>
#include <QPainter>

namespace QuillomareMac {

// A one-line plain-text label that cuts its text where asked instead of growing past its room.
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

// The island's point size in the desktop's fixed-pitch family (paths, links).
inline QFont monospacedSystemFont(qreal points, QFont::Weight weight = QFont::Normal)
{
    QFont font = IslandTheme::systemFont(points, weight);
    font.setFamily(QFontDatabase::systemFont(QFontDatabase::FixedFont).family());
    font.setStyleHint(QFont::Monospace);
    return font;
}

} // namespace QuillomareMac
