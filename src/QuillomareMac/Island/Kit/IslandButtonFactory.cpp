#include "IslandButtonFactory.h"

#include "IslandIcons.h"
#include "IslandTheme.h"

#include <QFontMetricsF>
#include <QPainter>

#include <cmath>

namespace QuillomareMac {

namespace {

constexpr int compactHeight = 22;
constexpr qreal compactRadius = 6;
constexpr qreal compactPadding = 10;
constexpr qreal textIconSymbolSize = 8;
constexpr qreal textIconGap = 3;

QFont compactFont()
{
    return IslandTheme::systemFont(10.5, QFont::DemiBold);
}

QFont textIconFont()
{
    return IslandTheme::systemFont(8.5, QFont::Medium);
}

void connectAction(QAbstractButton* button, QObject* target, IslandButtonFactory::Action action)
{
    if (!action)
        return;
    QObject::connect(button, &QAbstractButton::clicked, target ? target : button,
                     [action = std::move(action)] { action(); });
}

IslandIconButton* makeRoundButton(const QString& symbol, const QString& tooltip, qreal side, qreal baseAlpha,
                                  QObject* target, IslandButtonFactory::Action action, QWidget* parent)
{
    auto* button =
        new IslandIconButton(symbol, tooltip, side, IslandTheme::white(baseAlpha), IslandTheme::white(0.94), parent);
    button->setFixedSize(int(side), int(side));
    connectAction(button, target, std::move(action));
    return button;
}

} // namespace

IslandCompactTextButton::IslandCompactTextButton(const QString& title, QWidget* parent) : QAbstractButton(parent)
{
    setText(title);
    setFont(compactFont());
    setFocusPolicy(Qt::NoFocus);
    setAttribute(Qt::WA_TranslucentBackground);
    setFixedHeight(compactHeight);
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
}

QColor IslandCompactTextButton::fillColor() const
{
    if (!isEnabled())
        return IslandTheme::white(0.06);
    if (isDown())
        return IslandTheme::white(0.22);
    return IslandTheme::white(m_isHovering ? 0.17 : 0.12);
}

QColor IslandCompactTextButton::titleColor() const
{
    return isEnabled() ? IslandTheme::white(0.9) : IslandTheme::white(0.3);
}

QSize IslandCompactTextButton::sizeHint() const
{
    const QFontMetricsF metrics(compactFont());
    return QSize(int(std::ceil(metrics.horizontalAdvance(text()) + 2 * compactPadding)), compactHeight);
}

void IslandCompactTextButton::enterEvent(QEnterEvent* event)
{
    m_isHovering = true;
    update();
    QAbstractButton::enterEvent(event);
}

void IslandCompactTextButton::leaveEvent(QEvent* event)
{
    m_isHovering = false;
    update();
    QAbstractButton::leaveEvent(event);
}

void IslandCompactTextButton::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setRenderHint(QPainter::TextAntialiasing);
    const QRectF bounds(rect());
    IslandTheme::paintRoundedSurface(painter, bounds, compactRadius, fillColor(), Qt::transparent, 0);
    const QFontMetricsF metrics(compactFont());
    const QRectF label = bounds.adjusted(compactPadding / 2, 0, -compactPadding / 2, 0);
    painter.setFont(compactFont());
    painter.setPen(titleColor());
    painter.drawText(label, Qt::AlignCenter, metrics.elidedText(text(), Qt::ElideRight, label.width()));
}

IslandTextIconButton::IslandTextIconButton(const QString& title, const QString& symbol, QWidget* parent)
    : QAbstractButton(parent), m_symbol(symbol)
{
    setText(title);
    setFont(textIconFont());
    setFocusPolicy(Qt::NoFocus);
    setAttribute(Qt::WA_TranslucentBackground);
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
}

QColor IslandTextIconButton::tint() const
{
    if (!isEnabled())
        return IslandTheme::white(0.26);
    return isDown() ? IslandTheme::white(0.72) : IslandTheme::white(0.52);
}

QSize IslandTextIconButton::sizeHint() const
{
    const QFontMetricsF metrics(textIconFont());
    const qreal symbolWidth =
        IslandIcons::contains(m_symbol) ? IslandIcons::imageSide(textIconSymbolSize) + textIconGap : 0;
    return QSize(int(std::ceil(symbolWidth + metrics.horizontalAdvance(text()) + 2)),
                 int(std::ceil(std::max<qreal>(metrics.height(), IslandIcons::imageSide(textIconSymbolSize)) + 4)));
}

void IslandTextIconButton::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setRenderHint(QPainter::TextAntialiasing);
    const QColor colour = tint();
    const QFontMetricsF metrics(textIconFont());
    const qreal side = IslandIcons::imageSide(textIconSymbolSize);
    const bool hasSymbol = IslandIcons::contains(m_symbol);
    const qreal contentWidth = (hasSymbol ? side + textIconGap : 0) + metrics.horizontalAdvance(text());
    qreal x = std::floor((width() - contentWidth) / 2);
    const qreal midY = height() / 2.0;
    if (hasSymbol) {
        IslandIcons::paint(painter, QRectF(x, midY - side / 2, side, side), m_symbol, textIconSymbolSize,
                           SymbolWeight::medium, colour);
        x += side + textIconGap;
    }
    painter.setFont(textIconFont());
    painter.setPen(colour);
    painter.drawText(QRectF(x, 0, width() - x, height()), Qt::AlignLeft | Qt::AlignVCenter, text());
}

namespace IslandButtonFactory {

IslandIconButton* makeHeaderIconButton(const QString& symbol, const QString& tooltip, QObject* target, Action action,
                                       QWidget* parent)
{
    return makeRoundButton(symbol, tooltip, 22, 0.6, target, std::move(action), parent);
}

IslandIconButton* makeIconButton(const QString& symbol, const QString& tooltip, QObject* target, Action action,
                                 QWidget* parent)
{
    return makeRoundButton(symbol, tooltip, 26, 0.54, target, std::move(action), parent);
}

IslandIconButton* makeShelfActionButton(const QString& symbol, const QString& tooltip, QObject* target, Action action,
                                        QWidget* parent)
{
    return makeRoundButton(symbol, tooltip, 28, 0.54, target, std::move(action), parent);
}

IslandActionTileButton* makeShelfGalleryActionTile(const QString& title, const QString& symbol, const QString& tooltip,
                                                   QObject* target, Action action, QWidget* parent)
{
    auto* tile = new IslandActionTileButton(title, QString(), symbol, tooltip, parent);
    tile->setFixedSize(40, 39);
    connectAction(tile, target, std::move(action));
    return tile;
}

IslandCompactTextButton* makeCompactTextButton(const QString& title, const QString& tooltip, QObject* target,
                                               Action action, QWidget* parent)
{
    auto* button = new IslandCompactTextButton(title, parent);
    button->setToolTip(tooltip);
    connectAction(button, target, std::move(action));
    return button;
}

IslandTextIconButton* makeTextIconButton(const QString& title, const QString& symbol, const QString& tooltip,
                                         QObject* target, Action action, QWidget* parent)
{
    auto* button = new IslandTextIconButton(title, symbol, parent);
    button->setToolTip(tooltip);
    connectAction(button, target, std::move(action));
    return button;
}

} // namespace IslandButtonFactory

} // namespace QuillomareMac
