#pragma once

// Tabular figures for counts. The island's face draws proportional digits ("1" is much narrower
// than "0"), and this Qt cannot ask a font for its tabular forms: every digit is set here in a
// cell as wide as the face's widest digit, centred in it, so that a count keeps its width (and
// what stands beside it its place) as its digits change. Other characters keep their own widths.

#include <QLabel>
#include <QPointF>
#include <QString>

class QFont;
class QPainter;

namespace QuillomareMac::TabularFigures {

// The advance every digit gets in `font`.
qreal digitAdvance(const QFont& font);
// How wide `text` is with its digits at that advance.
qreal width(const QFont& font, const QString& text);
// Draws `text` in the painter's font and pen, its left edge at `topLeft.x()` and its line's top
// at `topLeft.y()` (as drawText does with AlignLeft | AlignTop).
void draw(QPainter& painter, const QPointF& topLeft, const QString& text);

} // namespace QuillomareMac::TabularFigures

namespace QuillomareMac {

// A one-line label that sets its digits as tabular figures. Alignment and elision are those of a
// plain one-line QLabel without elision; rich text is not interpreted.
class TabularFigureLabel final : public QLabel
{
    Q_OBJECT

public:
    explicit TabularFigureLabel(QWidget* parent = nullptr);

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;
};

} // namespace QuillomareMac
