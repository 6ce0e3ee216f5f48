#include "IslandActionTileButton.h"

#include "IslandIcons.h"
#include "IslandScheduler.h"
#include "IslandTheme.h"

#include <QuillomareCore/Foundation.h>
#include <QuillomareCore/Language.h>

#include <QFontMetricsF>
#include <QMouseEvent>
#include <QPainter>
#include <QTextLayout>
#include <QPointer>

#include <algorithm>
#include <cmath>

namespace QuillomareMac {

namespace Language = QuillomareCore::Language;

namespace {

constexpr qreal cornerRadius = 6.5;
constexpr qreal iconSide = 17;
constexpr qreal iconPointSize = 16;
constexpr qreal spacingAfterIcon = 4.5;
constexpr qreal spacingAfterTitle = 2.5;
constexpr qreal minimumFittedTitleSize = 7.4;
const char* const copiedSymbol = "checkmark.circle.fill";

QColor copiedGreen()
{
    return IslandTheme::rgb(0.42, 0.86, 0.58, 1.0);
}

} // namespace

namespace {

// A title of several lines, wrapped anywhere, at most `maxLines` of them, one line spacing of the
// title font apart: a line of Chinese is drawn in the CJK fallback font, whose own lines are
// taller than the tile has room for, though its letters are not.
struct TitleLines
{
    std::unique_ptr<QTextLayout> layout;
    int count = 0;
};

TitleLines layOutTitle(const QFont& font, const QString& text, qreal width, int maxLines)
{
    QString laidOut = text;
    laidOut.replace(QLatin1Char('\n'), QChar::LineSeparator);
    TitleLines lines{std::make_unique<QTextLayout>(laidOut, font)};
    QTextOption option(Qt::AlignHCenter);
    option.setWrapMode(QTextOption::WrapAnywhere);
    lines.layout->setTextOption(option);
    const QFontMetricsF metrics(font);
    lines.layout->beginLayout();
    for (; lines.count < maxLines; ++lines.count) {
        QTextLine line = lines.layout->createLine();
        if (!line.isValid())
            break;
        line.setLineWidth(width);
        // Each line's letters sit where a line of the title font would put them.
        line.setPosition(QPointF(0, lines.count * metrics.lineSpacing() + metrics.ascent() - line.ascent()));
    }
    lines.layout->endLayout();
    return lines;
}

} // namespace

IslandActionTileButton::IslandActionTileButton(const QString& title, const QString& subtitle, const QString& iconName,
                                               const QString& tooltip, QWidget* parent)
    : QAbstractButton(parent), m_displayTitle(title), m_displaySubtitle(subtitle), m_iconName(iconName),
      m_shownTitle(title), m_shownIcon(iconName)
{
    setToolTip(tooltip);
    setFocusPolicy(Qt::NoFocus);
    setAttribute(Qt::WA_TranslucentBackground);
    setText(m_shownTitle);
    setAccessibleName(m_displayTitle);
    setAccessibleDescription(tooltip);
    updateAppearance();
}

IslandActionTileButton::~IslandActionTileButton()
{
    if (m_flashRestore)
        m_flashRestore->cancel();
}

void IslandActionTileButton::setEnabled(bool enabled)
{
    m_actionEnabled = enabled;
    QWidget::setEnabled(true);
    updateAppearance();
}

void IslandActionTileButton::changeEvent(QEvent* event)
{
    // A plain QWidget::setEnabled(false) (through a base pointer) is taken as the tile's own
    // state, so the tile keeps its hover events.
    if (event->type() == QEvent::EnabledChange && testAttribute(Qt::WA_Disabled)) {
        m_actionEnabled = false;
        QWidget::setEnabled(true);
        updateAppearance();
    }
    QAbstractButton::changeEvent(event);
}

void IslandActionTileButton::updateAppearance()
{
    using namespace IslandTheme;
    const bool hover = m_isHovering && m_actionEnabled;
    m_background = hover ? white(0.105) : white(0.062);
    m_border = hover ? withAlpha(selectionBlue(), 0.46) : white(0.13);
    if (!m_actionEnabled) {
        m_iconTint = white(0.34);
        m_titleColor = white(0.42);
        m_subtitleColor = white(0.28);
    } else {
        m_iconTint = hover ? white(0.95) : white(0.74);
        m_titleColor = white(0.84);
        m_subtitleColor = white(0.46);
    }
    update();
}

void IslandActionTileButton::showTitle(const QString& title)
{
    m_shownTitle = title;
    setText(title);
}

void IslandActionTileButton::flashCopySuccess()
{
    if (m_flashRestore)
        m_flashRestore->cancel();
    m_shownIcon = QLatin1String(copiedSymbol);
    m_iconTint = copiedGreen();
    showTitle(Language::text(QStringLiteral("已复制"), QStringLiteral("Copied")));
    m_titleColor = copiedGreen();
    update();

    QPointer<IslandActionTileButton> tile(this);
    m_flashRestore = IslandScheduler::shared().schedule(flashRestoreMilliseconds, this, [tile] {
        if (!tile)
            return;
        tile->m_flashRestore.reset();
        tile->m_shownIcon = tile->m_iconName;
        tile->showTitle(tile->m_displayTitle);
        tile->updateAppearance();
    });
}

bool IslandActionTileButton::titleHasLineBreak() const
{
    return m_displayTitle.split(QLatin1Char('\n'), Qt::SkipEmptyParts).size() >= 2;
}

qreal IslandActionTileButton::titlePointSize() const
{
    if (titleHasLineBreak())
        return 9.2;
    return QuillomareCore::Text::graphemeCount(m_displayTitle) > 5 ? 8.6 : 9.2;
}

int IslandActionTileButton::titleMaximumLines() const
{
    return titleHasLineBreak() ? 2 : 1;
}

QFont IslandActionTileButton::titleFont() const
{
    return IslandTheme::systemFont(titlePointSize(), QFont::DemiBold);
}

QSize IslandActionTileButton::sizeHint() const
{
    return QSize(44, 48);
}

QSize IslandActionTileButton::minimumSizeHint() const
{
    return QSize(24, 24);
}

void IslandActionTileButton::enterEvent(QEnterEvent* event)
{
    m_isHovering = true;
    updateAppearance();
    QAbstractButton::enterEvent(event);
}

void IslandActionTileButton::leaveEvent(QEvent* event)
{
    m_isHovering = false;
    updateAppearance();
    QAbstractButton::leaveEvent(event);
}

void IslandActionTileButton::mousePressEvent(QMouseEvent* event)
{
    if (!m_actionEnabled) {
        event->accept();
        return;
    }
    QAbstractButton::mousePressEvent(event);
}

void IslandActionTileButton::mouseReleaseEvent(QMouseEvent* event)
{
    if (!m_actionEnabled) {
        event->accept();
        return;
    }
    QAbstractButton::mouseReleaseEvent(event);
}

void IslandActionTileButton::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setRenderHint(QPainter::TextAntialiasing);

    // Background and a one-point border inside the tile's edge.
    const QRectF bounds(rect());
    IslandTheme::paintRoundedSurface(painter, bounds, cornerRadius, m_background, m_border);

    // The stack: icon, title, optional subtitle, centred vertically, one point in from each side.
    const qreal stackWidth = std::max<qreal>(bounds.width() - 2, 0);
    const int maxLines = titleMaximumLines();
    QFont font = titleFont();
    if (maxLines == 1) {
        // The desktop's UI font is usually wider than the one these sizes were chosen for; a
        // one-line title gives up a little size before it gives up letters.
        for (qreal size = titlePointSize();
             size > minimumFittedTitleSize && QFontMetricsF(font).horizontalAdvance(m_shownTitle) > stackWidth;) {
            size = std::max(size - 0.2, minimumFittedTitleSize);
            font = IslandTheme::systemFont(size, QFont::DemiBold);
        }
    }
    const QFontMetricsF titleMetrics(font);
    qreal titleHeight = titleMetrics.height();
    TitleLines lines;
    if (maxLines > 1) {
        lines = layOutTitle(font, m_shownTitle, stackWidth, maxLines);
        titleHeight = std::max(lines.count - 1, 0) * titleMetrics.lineSpacing() + titleMetrics.height();
    }
    const bool hasSubtitle = !m_displaySubtitle.isEmpty();
    const QFont subtitleFont = IslandTheme::systemFont(8.5, QFont::Medium);
    const QFontMetricsF subtitleMetrics(subtitleFont);
    qreal total = iconSide + spacingAfterIcon + titleHeight;
    if (hasSubtitle)
        total += spacingAfterTitle + subtitleMetrics.height();
    qreal y = std::round((bounds.height() - total) / 2.0);
    const qreal left = 1;

    IslandIcons::paint(painter, QRectF(bounds.center().x() - iconSide / 2, y, iconSide, iconSide), m_shownIcon,
                       iconPointSize, SymbolWeight::medium, m_iconTint);
    y += iconSide + spacingAfterIcon;

    painter.setFont(font);
    painter.setPen(m_titleColor);
    const QRectF titleRect(left, y, stackWidth, titleHeight);
    if (maxLines > 1) {
        for (int index = 0; index < lines.count; ++index)
            lines.layout->lineAt(index).draw(&painter, titleRect.topLeft());
    } else {
        painter.drawText(titleRect, Qt::AlignHCenter | Qt::AlignTop, titleMetrics.elidedText(m_shownTitle, Qt::ElideRight, stackWidth));
    }
    y += titleHeight;

    if (hasSubtitle) {
        y += spacingAfterTitle;
        painter.setFont(subtitleFont);
        painter.setPen(m_subtitleColor);
        painter.drawText(QRectF(left, y, stackWidth, subtitleMetrics.height()), Qt::AlignHCenter | Qt::AlignTop,
                         subtitleMetrics.elidedText(m_displaySubtitle, Qt::ElideRight, stackWidth));
    }
}

} // namespace QuillomareMac
