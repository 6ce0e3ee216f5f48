#include "IslandIconButton.h"

#include "IslandIcons.h"
#include "IslandTheme.h"
#include "IslandTooltipBubbleView.h"

#include <Platform/X11WindowShape.h>

#include <QEvent>
#include <QGuiApplication>
#include <QMouseEvent>
#include <QPainter>
#include <QScreen>
#include <QVBoxLayout>
#include <QWindow>

#include <algorithm>
#include <cmath>

namespace QuillomareMac {

namespace {

constexpr int tooltipGap = 7;
constexpr int tooltipTopRoom = 4;
constexpr int tooltipMargin = 6;

QList<QPointer<IslandIconButton>>& owners()
{
    static QList<QPointer<IslandIconButton>> list;
    return list;
}

void forgetOwner(IslandIconButton* button)
{
    owners().removeIf([button](const QPointer<IslandIconButton>& owner) { return !owner || owner == button; });
}

// The tooltip's own top-level window. It is an X11 tooltip window (override-redirect, so no
// window manager restacks or focuses it), kept on top, transient for the island's window and
// raised after it is shown, so it sits above the island's panel; input passes through it.
QWidget* makeTooltipWindow(const QString& text, const QSize& size)
{
    auto* window = new QWidget(nullptr, Qt::ToolTip | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint |
                                            Qt::WindowTransparentForInput | Qt::WindowDoesNotAcceptFocus);
    window->setObjectName(QStringLiteral("IslandTooltipWindow"));
    window->setAttribute(Qt::WA_TranslucentBackground);
    window->setAttribute(Qt::WA_ShowWithoutActivating);
    window->setAttribute(Qt::WA_TransparentForMouseEvents);
    window->setAttribute(Qt::WA_X11DoNotAcceptFocus);
    window->setFocusPolicy(Qt::NoFocus);
    auto* layout = new QVBoxLayout(window);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(new IslandTooltipBubbleView(text, window));
    window->setFixedSize(size);
    return window;
}

} // namespace

IslandIconButton::IslandIconButton(const QString& symbol, const QString& tooltipText, qreal iconSize,
                                   const QColor& baseTint, const QColor& hoverTint, QWidget* parent)
    : QAbstractButton(parent), m_symbol(symbol), m_tooltipText(tooltipText), m_iconSize(iconSize), m_baseTint(baseTint),
      m_hoverTint(hoverTint)
{
    setToolTip(tooltipText);
    setAccessibleName(tooltipText);
    setFocusPolicy(Qt::NoFocus);
    setAttribute(Qt::WA_TranslucentBackground);
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    updateAppearance();
}

IslandIconButton::~IslandIconButton()
{
    hideCustomTooltip();
}

qreal IslandIconButton::symbolPointSize() const
{
    return std::max<qreal>(std::min<qreal>(m_iconSize * 0.62, 15), 11);
}

void IslandIconButton::updateAppearance()
{
    const bool enabled = QWidget::isEnabled();
    if (!enabled) {
        m_iconTint = IslandTheme::withAlpha(m_isHovering ? m_hoverTint : m_baseTint, 0.34);
        m_background = Qt::transparent;
        m_border = Qt::transparent;
        m_borderWidth = 0;
    } else if (m_isHovering) {
        m_iconTint = m_hoverTint;
        m_background = IslandTheme::white(0.072);
        m_border = IslandTheme::white(0.07);
        m_borderWidth = 0.7;
    } else {
        m_iconTint = m_baseTint;
        m_background = Qt::transparent;
        m_border = Qt::transparent;
        m_borderWidth = 0;
    }
    update();
}

QSize IslandIconButton::sizeHint() const
{
    const int side = int(std::ceil(m_iconSize));
    return QSize(side, side);
}

bool IslandIconButton::event(QEvent* event)
{
    switch (event->type()) {
    case QEvent::ToolTip:
        // Our own bubble is already up; the toolkit's delayed tooltip would only double it.
        event->accept();
        return true;
    case QEvent::ParentAboutToChange:
        hideCustomTooltip();
        break;
    default:
        break;
    }
    return QAbstractButton::event(event);
}

void IslandIconButton::changeEvent(QEvent* event)
{
    if (event->type() == QEvent::EnabledChange)
        updateAppearance();
    QAbstractButton::changeEvent(event);
}

void IslandIconButton::enterEvent(QEnterEvent* event)
{
    m_isHovering = true;
    updateAppearance();
    showCustomTooltip();
    QAbstractButton::enterEvent(event);
}

void IslandIconButton::leaveEvent(QEvent* event)
{
    m_isHovering = false;
    updateAppearance();
    hideCustomTooltip();
    QAbstractButton::leaveEvent(event);
}

void IslandIconButton::mousePressEvent(QMouseEvent* event)
{
    hideCustomTooltip();
    QAbstractButton::mousePressEvent(event);
}

void IslandIconButton::hideEvent(QHideEvent* event)
{
    hideCustomTooltip();
    QAbstractButton::hideEvent(event);
}

QPoint IslandIconButton::tooltipPosition(const QRect& anchor, const QSize& size, const QRect& available)
{
    const qreal width = size.width();
    const qreal height = size.height();
    const qreal minX = available.x();
    const qreal maxX = available.x() + available.width();
    const qreal minY = available.y();
    const qreal maxY = available.y() + available.height();

    qreal x = anchor.x() + anchor.width() / 2.0 - width / 2.0;
    qreal y = anchor.y() - tooltipGap - height;
    if (y < minY + tooltipTopRoom)
        y = anchor.y() + anchor.height() + tooltipGap;

    // The right and top limits win when the window is too large for both.
    x = std::min(std::max(x, minX + tooltipMargin), maxX - width - tooltipMargin);
    y = std::max(std::min(y, maxY - height - tooltipMargin), minY + tooltipMargin);
    return QPoint(int(std::floor(x)), int(std::floor(y)));
}

void IslandIconButton::showCustomTooltip()
{
    const QString text = toolTip().isEmpty() ? m_tooltipText : toolTip();
    if (text.isEmpty() || m_tooltipWindow || !isVisible())
        return;

    const QSize size = IslandTooltipBubbleView::bubbleSize(text);
    QWidget* window = makeTooltipWindow(text, size);

    const QRect anchor(mapToGlobal(QPoint(0, 0)), this->size());
    QRect available;
    if (const QScreen* shown = screen())
        available = shown->availableGeometry();
    else if (const QScreen* primary = QGuiApplication::primaryScreen())
        available = primary->availableGeometry();
    else
        available = this->window()->frameGeometry();
    window->move(tooltipPosition(anchor, size, available));

    window->winId();
    if (QWindow* handle = window->windowHandle()) {
        if (QWidget* host = this->window(); host && host->windowHandle())
            handle->setTransientParent(host->windowHandle());
        // Without a compositing manager the bubble's transparent corners would show black: the
        // window is cut to the bubble's rounded outline instead.
        const auto shape = Platform::X11WindowShape::create(handle);
        if (shape && !shape->compositingManagerRunning())
            window->setMask(IslandTooltipBubbleView::outline(size));
    }
    window->show();
    window->raise();

    m_tooltipWindow = window;
    forgetOwner(this);
    owners().append(this);
}

void IslandIconButton::hideCustomTooltip()
{
    if (m_tooltipWindow) {
        m_tooltipWindow->hide();
        delete m_tooltipWindow.data();
    }
    m_tooltipWindow = nullptr;
    forgetOwner(this);
}

void IslandIconButton::hideAllCustomTooltips()
{
    const QList<QPointer<IslandIconButton>> open = owners();
    for (const QPointer<IslandIconButton>& button : open) {
        if (button)
            button->hideCustomTooltip();
    }
    owners().clear();
}

QList<IslandIconButton*> IslandIconButton::tooltipOwners()
{
    QList<IslandIconButton*> result;
    for (const QPointer<IslandIconButton>& button : owners()) {
        if (button)
            result.append(button.data());
    }
    return result;
}

void IslandIconButton::setContentOpacity(qreal opacity)
{
    opacity = std::clamp(opacity, 0.0, 1.0);
    if (opacity == m_contentOpacity)
        return;
    m_contentOpacity = opacity;
    update();
}

void IslandIconButton::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.setOpacity(m_contentOpacity);
    painter.setRenderHint(QPainter::Antialiasing);
    const QRectF bounds(rect());
    const qreal radius = std::min({m_iconSize / 2.0, bounds.width() / 2.0, bounds.height() / 2.0});
    IslandTheme::paintRoundedSurface(painter, bounds, radius, m_background, m_border, m_borderWidth);
    IslandIcons::paint(painter, bounds, m_symbol, symbolPointSize(), SymbolWeight::medium, m_iconTint);
}

} // namespace QuillomareMac
