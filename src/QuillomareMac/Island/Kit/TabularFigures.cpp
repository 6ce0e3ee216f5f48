#include "TabularFigures.h"

#include <QFontMetricsF>
#include <QPainter>

#include <algorithm>
#include <cmath>

namespace QuillomareMac::TabularFigures {

namespace {

bool isDigit(QChar character)
{
    return character >= QLatin1Char('0') && character <= QLatin1Char('9');
}

// Calls `run` for each stretch of non-digits (with its text) and `digit` for each digit, in order.
template <typename Run, typename Digit>
void walk(const QString& text, Run run, Digit digit)
{
    qsizetype start = 0;
    for (qsizetype i = 0; i <= text.size(); ++i) {
        if (i < text.size() && !isDigit(text.at(i)))
            continue;
        if (i > start)
            run(text.mid(start, i - start));
        if (i < text.size())
            digit(text.at(i));
        start = i + 1;
    }
}

} // namespace

qreal digitAdvance(const QFont& font)
{
    const QFontMetricsF metrics(font);
    qreal widest = 0;
    for (char digit = '0'; digit <= '9'; ++digit)
        widest = std::max(widest, metrics.horizontalAdvance(QLatin1Char(digit)));
    return widest;
}

qreal width(const QFont& font, const QString& text)
{
    const QFontMetricsF metrics(font);
    const qreal cell = digitAdvance(font);
    qreal total = 0;
    walk(text, [&](const QString& run) { total += metrics.horizontalAdvance(run); }, [&](QChar) { total += cell; });
    return total;
}

void draw(QPainter& painter, const QPointF& topLeft, const QString& text)
{
    const QFont font = painter.font();
    const QFontMetricsF metrics(font);
    const qreal cell = digitAdvance(font);
    const qreal baseline = topLeft.y() + metrics.ascent();
    qreal x = topLeft.x();
    walk(
        text,
        [&](const QString& run) {
            painter.drawText(QPointF(x, baseline), run);
            x += metrics.horizontalAdvance(run);
        },
        [&](QChar digit) {
            painter.drawText(QPointF(x + (cell - metrics.horizontalAdvance(digit)) / 2, baseline), QString(digit));
            x += cell;
        });
}

} // namespace QuillomareMac::TabularFigures

namespace QuillomareMac {

TabularFigureLabel::TabularFigureLabel(QWidget* parent) : QLabel(parent) {}

QSize TabularFigureLabel::sizeHint() const
{
    const QFontMetricsF metrics(font());
    const QMargins margins = contentsMargins();
    return QSize(int(std::ceil(TabularFigures::width(font(), text()))) + margins.left() + margins.right(),
                 int(std::ceil(metrics.height())) + margins.top() + margins.bottom());
}

QSize TabularFigureLabel::minimumSizeHint() const
{
    return sizeHint();
}

void TabularFigureLabel::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::TextAntialiasing);
    painter.setFont(font());
    painter.setPen(palette().color(foregroundRole()));
    const QRectF area = contentsRect();
    const QFontMetricsF metrics(font());
    const qreal textWidth = TabularFigures::width(font(), text());
    qreal x = area.left();
    if (alignment() & Qt::AlignRight)
        x = area.right() + 1 - textWidth;
    else if (alignment() & Qt::AlignHCenter)
        x = area.left() + (area.width() - textWidth) / 2;
    qreal y = area.top();
    if (alignment() & Qt::AlignVCenter)
        y = area.top() + (area.height() - metrics.height()) / 2;
    else if (alignment() & Qt::AlignBottom)
        y = area.bottom() + 1 - metrics.height();
    TabularFigures::draw(painter, QPointF(x, y), text());
}

} // namespace QuillomareMac
