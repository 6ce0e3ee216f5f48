#include "MetadataChipView.h"

#include "IslandTheme.h"

#include <QFontMetricsF>
#include <QPainter>

#include <cmath>

namespace QuillomareMac {

namespace {

constexpr qreal cornerRadius = 4.5;
constexpr qreal labelInset = 5;
constexpr qreal labelHeight = 11;

QFont chipFont()
{
    return IslandTheme::systemFont(8, QFont::DemiBold);
}

} // namespace

MetadataChipView::MetadataChipView(const QString& text, QWidget* parent) : QWidget(parent), m_text(text)
{
    setAttribute(Qt::WA_TranslucentBackground);
    // Hugs its text, gives way when squeezed.
    setSizePolicy(QSizePolicy::Maximum, QSizePolicy::Preferred);
    setAccessibleName(text);
}

void MetadataChipView::setText(const QString& text)
{
    m_text = text;
    setAccessibleName(text);
    updateGeometry();
    update();
}

QString MetadataChipView::shownText() const
{
    const QFontMetricsF metrics(chipFont());
    return metrics.elidedText(m_text, Qt::ElideRight, std::max<qreal>(width() - 2 * labelInset, 0));
}

QSize MetadataChipView::sizeHint() const
{
    const QFontMetricsF metrics(chipFont());
    return QSize(int(std::ceil(metrics.horizontalAdvance(m_text) + 2 * labelInset)), 16);
}

QSize MetadataChipView::minimumSizeHint() const
{
    const QFontMetricsF metrics(chipFont());
    return QSize(int(std::ceil(metrics.horizontalAdvance(QChar(0x2026)) + 2 * labelInset)), int(labelHeight));
}

void MetadataChipView::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setRenderHint(QPainter::TextAntialiasing);
    const QRectF bounds(rect());
    IslandTheme::paintRoundedSurface(painter, bounds, cornerRadius, IslandTheme::white(0.045),
                                     IslandTheme::white(0.06));

    const QRectF label(labelInset, (bounds.height() - labelHeight) / 2, bounds.width() - 2 * labelInset, labelHeight);
    painter.setFont(chipFont());
    painter.setPen(IslandTheme::white(0.58));
    painter.drawText(label, Qt::AlignCenter, shownText());
}

} // namespace QuillomareMac
