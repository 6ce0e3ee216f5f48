#include "ShelfSessionPillButton.h"

#include "Island/Kit/IslandIcons.h"
#include "Island/Kit/IslandTheme.h"
#include "Island/Kit/TruncatingLabel.h"

#include <QEvent>
#include <QHBoxLayout>
#include <QLabel>
#include <QMouseEvent>
#include <QPainter>

namespace QuillomareMac {

ShelfSessionPillButton::ShelfSessionPillButton(QWidget* parent) : QWidget(parent)
{
    setAttribute(Qt::WA_TranslucentBackground);
    setCursor(Qt::PointingHandCursor);
    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(14, 0, 12, 0);
    layout->setSpacing(6);
    m_titleLabel = new TruncatingLabel(Qt::ElideRight, IslandTheme::systemFont(12, QFont::DemiBold),
                                       IslandTheme::white(0.88), this);
    m_titleLabel->setAttribute(Qt::WA_TransparentForMouseEvents);
    layout->addWidget(m_titleLabel, 1, Qt::AlignVCenter);
    m_chevron = new QLabel(this);
    m_chevron->setAttribute(Qt::WA_TransparentForMouseEvents);
    layout->addWidget(m_chevron, 0, Qt::AlignVCenter);
    updateAppearance();
}

void ShelfSessionPillButton::setTitle(const QString& title)
{
    m_titleLabel->setText(title);
    updateGeometry();
}

void ShelfSessionPillButton::setEnabled(bool enabled)
{
    QWidget::setEnabled(enabled);
    updateAppearance();
}

void ShelfSessionPillButton::updateAppearance()
{
    const bool enabled = isEnabled();
    if (!enabled)
        m_fill = IslandTheme::white(0.03);
    else if (m_isPressed)
        m_fill = IslandTheme::white(0.12);
    else if (m_isHovering)
        m_fill = IslandTheme::white(0.09);
    else
        m_fill = IslandTheme::white(0.06);
    m_textColor = IslandTheme::white(enabled ? 0.88 : 0.36);
    static_cast<TruncatingLabel*>(m_titleLabel)->setColour(m_textColor);
    m_chevron->setPixmap(IslandIcons::pixmap(QStringLiteral("chevron.down"), 8, SymbolWeight::semibold,
                                             IslandTheme::white(enabled ? 0.5 : 0.24), devicePixelRatioF()));
    update();
}

QSize ShelfSessionPillButton::sizeHint() const
{
    // The title's own width, the chevron and the margins: the pill follows its title.
    const int title = m_titleLabel->fontMetrics().horizontalAdvance(m_titleLabel->text());
    return {14 + title + 6 + m_chevron->sizeHint().width() + 12, 32};
}

void ShelfSessionPillButton::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const qreal radius = height() / 2.0;
    IslandTheme::paintRoundedSurface(painter, QRectF(rect()), radius, m_fill, IslandTheme::white(0.1), 1);
}

void ShelfSessionPillButton::enterEvent(QEnterEvent* event)
{
    m_isHovering = true;
    updateAppearance();
    QWidget::enterEvent(event);
}

void ShelfSessionPillButton::leaveEvent(QEvent* event)
{
    m_isHovering = false;
    m_isPressed = false;
    updateAppearance();
    QWidget::leaveEvent(event);
}

void ShelfSessionPillButton::mousePressEvent(QMouseEvent* event)
{
    event->accept();
    if (event->button() != Qt::LeftButton)
        return;
    m_isPressed = true;
    updateAppearance();
}

void ShelfSessionPillButton::mouseReleaseEvent(QMouseEvent* event)
{
    event->accept();
    if (event->button() != Qt::LeftButton || !m_isPressed)
        return;
    m_isPressed = false;
    updateAppearance();
    if (rect().contains(event->position().toPoint()) && onPress)
        onPress();
}

void ShelfSessionPillButton::changeEvent(QEvent* event)
{
    if (event->type() == QEvent::EnabledChange)
        updateAppearance();
    QWidget::changeEvent(event);
}

} // namespace QuillomareMac
