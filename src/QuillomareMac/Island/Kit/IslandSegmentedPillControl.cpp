#include "IslandSegmentedPillControl.h"

#include "IslandAnimation.h"
#include "IslandIcons.h"
#include "IslandTheme.h"
#include "TabularFigures.h"

#include <QFontMetricsF>
#include <QMouseEvent>
#include <QPainter>
#include <QPointer>

#include <algorithm>
#include <cmath>

namespace QuillomareMac {

namespace {

constexpr SpringParameters slideSpring{1, 260, 22};
constexpr double fadeSeconds = 0.15;

// The capsule's animations on the island's animator, under the control's own keys.
const QString kSlideKey = QStringLiteral("selection.slide");
const QString kFadeKey = QStringLiteral("selection.fade");

qreal floorf(qreal value)
{
    return std::floor(value);
}

} // namespace

IslandSegmentedPillControl::Metrics IslandSegmentedPillControl::metrics(Prominence prominence)
{
    using namespace IslandTheme;
    switch (prominence) {
    case Prominence::top:
        return {26, 2.5, QPointF(0.5, 0.2), white(0.05), white(0.0), 0.75, white(0.14), white(0.46), white(0.94)};
    case Prominence::primary:
        return {28, 3, QPointF(0, 0), white(0.038), white(0.058), 0.5, white(0.115), white(0.55), white(0.92)};
    case Prominence::secondary:
        return {28, 2, QPointF(0, 0), white(0.024), white(0.04), 0.5, white(0.082), white(0.44), white(0.82)};
    }
    return metrics(Prominence::primary);
}

IslandSegmentedPillControl::IslandSegmentedPillControl(QStringList labels,
                                                       const std::optional<QStringList>& iconSymbols,
                                                       Prominence prominence, SelectionStyle selectionStyle,
                                                       bool allowsDeselect, QWidget* parent)
    : QWidget(parent), m_labels(std::move(labels)), m_prominence(prominence), m_selectionStyle(selectionStyle),
      m_allowsDeselect(allowsDeselect), m_iconSymbols(makeIcons(iconSymbols, int(m_labels.size())))
{
    setAttribute(Qt::WA_TranslucentBackground);
    setAutoFillBackground(false);
    setFocusPolicy(Qt::NoFocus);
    setFixedHeight(int(metrics(m_prominence).height));
    setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Fixed);
    updateAccessibleName();
}

IslandSegmentedPillControl::~IslandSegmentedPillControl()
{
    IslandAnimator::shared().removeAll(this);
}

QStringList IslandSegmentedPillControl::makeIcons(const std::optional<QStringList>& symbols, int count)
{
    QStringList icons;
    if (symbols) {
        for (const QString& symbol : *symbols)
            icons.append(!symbol.isEmpty() && IslandIcons::contains(symbol) ? symbol : QString());
    }
    while (icons.size() < count)
        icons.append(QString());
    return icons;
}

std::pair<QString, std::optional<QString>> IslandSegmentedPillControl::splitNumericSuffix(const QString& label)
{
    const QStringList pieces = label.split(QLatin1Char(' '), Qt::SkipEmptyParts);
    if (pieces.size() >= 2) {
        const QString& last = pieces.last();
        const bool allNumeric = std::all_of(last.begin(), last.end(), [](QChar c) { return c.isNumber(); });
        if (allNumeric)
            return {pieces.mid(0, pieces.size() - 1).join(QLatin1Char(' ')), last};
    }
    return {label, std::nullopt};
}

void IslandSegmentedPillControl::updateAccessibleName()
{
    setAccessibleName(m_labels.join(QStringLiteral(", ")));
}

void IslandSegmentedPillControl::setSelectedSegmentIndex(int index, bool animated)
{
    const int count = int(m_labels.size());
    int resolved;
    if (index >= 0)
        resolved = count > 0 ? std::min(index, count - 1) : 0;
    else
        resolved = m_allowsDeselect ? -1 : 0;
    if (resolved == m_selectedSegmentIndex)
        animated = false;
    m_selectedSegmentIndex = resolved;
    update();
    updateSelectionLayer(animated);
}

void IslandSegmentedPillControl::setLabel(const QString& label, int segment)
{
    if (segment < 0 || segment >= m_labels.size())
        return;
    m_labels[segment] = label;
    updateAccessibleName();
    updateGeometry();
    update();
    updateSelectionLayer(false);
}

std::optional<int> IslandSegmentedPillControl::segmentIndex(const QPointF& point) const
{
    const int count = int(m_labels.size());
    if (count == 0)
        return std::nullopt;
    const QRectF bounds(rect());
    if (!bounds.contains(point))
        return std::nullopt;
    const qreal segmentWidth = bounds.width() / count;
    if (segmentWidth <= 0)
        return std::nullopt;
    const int index = int(std::floor((point.x() - bounds.left()) / segmentWidth));
    return std::clamp(index, 0, count - 1);
}

QRectF IslandSegmentedPillControl::segmentRect(int index) const
{
    const int count = int(m_labels.size());
    if (count == 0)
        return {};
    const qreal inset = metrics(m_prominence).inset;
    const QRectF inner = QRectF(rect()).adjusted(inset, inset, -inset, -inset);
    const qreal width = inner.width() / count;
    return QRectF(inner.left() + index * width, inner.top(), width, inner.height());
}

QRectF IslandSegmentedPillControl::presentedSelectionRect() const
{
    return m_selectionRect.translated(m_slideOffset);
}

bool IslandSegmentedPillControl::isSliding() const
{
    return IslandAnimator::shared().contains(const_cast<IslandSegmentedPillControl*>(this), kSlideKey);
}

bool IslandSegmentedPillControl::isFading() const
{
    return IslandAnimator::shared().contains(const_cast<IslandSegmentedPillControl*>(this), kFadeKey);
}

QColor IslandSegmentedPillControl::selectionFill() const
{
    if (m_prominence != Prominence::top && m_selectionStyle == SelectionStyle::blue)
        return IslandTheme::segmentBlueFill();
    return metrics(m_prominence).neutralSelectionFill;
}

QColor IslandSegmentedPillControl::selectionBorderColor() const
{
    if (m_prominence != Prominence::top && m_selectionStyle == SelectionStyle::blue)
        return IslandTheme::withAlpha(IslandTheme::selectionBlue(), 0.6);
    return Qt::transparent;
}

qreal IslandSegmentedPillControl::selectionBorderWidth() const
{
    return m_prominence != Prominence::top && m_selectionStyle == SelectionStyle::blue ? 1.0 : 0.0;
}

QColor IslandSegmentedPillControl::titleColor(int index) const
{
    const Metrics m = metrics(m_prominence);
    if (index != m_selectedSegmentIndex)
        return m.unselectedTitle;
    if (m_prominence != Prominence::top && m_selectionStyle == SelectionStyle::blue)
        return IslandTheme::segmentBlueText();
    return m.selectedTitleNeutral;
}

void IslandSegmentedPillControl::updateSelectionLayer(bool animated)
{
    if (m_selectedSegmentIndex < 0 || m_selectedSegmentIndex >= m_labels.size()) {
        fadeSelection(false, animated);
        return;
    }
    const QPointF capsuleInset = metrics(m_prominence).capsuleInset;
    const QRectF target = segmentRect(m_selectedSegmentIndex)
                              .adjusted(capsuleInset.x(), capsuleInset.y(), -capsuleInset.x(), -capsuleInset.y());
    if (target.width() <= 0 || target.height() <= 0)
        return;

    const qreal previousOpacity = m_selectionOpacity;
    if (animated && previousOpacity >= 0.01) {
        // Already showing: slide from where it is on screen now; the size changes at once.
        const QPointF shownCentre = presentedSelectionRect().center();
        m_selectionRect = target;
        m_selectionOpacity = 1;
        if (!isFading())
            m_presentedOpacity = 1;
        // The offset springs back to nothing from rest: a slide interrupted mid-way is replaced by
        // one that starts afresh where the capsule is shown, without the old slide's speed.
        IslandAnimation slide = IslandAnimation::spring(shownCentre - target.center(), QPointF(0, 0), slideSpring);
        slide.onFrame = [this](const AnimatedValue& offset) {
            m_slideOffset = std::get<QPointF>(offset);
            update();
        };
        IslandAnimator::shared().add(this, kSlideKey, std::move(slide));
        update();
        return;
    }

    IslandAnimator::shared().remove(this, kSlideKey);
    m_slideOffset = {};
    m_selectionRect = target;
    m_selectionOpacity = 1;
    if (animated && previousOpacity < 0.01) {
        // Coming back from nothing: appear in place rather than slide in from the old segment.
        fadeSelection(true, true);
    } else if (!isFading()) {
        m_presentedOpacity = 1;
    }
    update();
}

void IslandSegmentedPillControl::fadeSelection(bool visible, bool animated)
{
    const qreal target = visible ? 1.0 : 0.0;
    if (!animated) {
        IslandAnimator::shared().remove(this, kFadeKey);
        m_selectionOpacity = target;
        m_presentedOpacity = target;
        update();
        return;
    }
    const qreal from = m_presentedOpacity;
    m_selectionOpacity = target;
    IslandAnimation fade = IslandAnimation::timed(from, target, fadeSeconds, CubicCurve::defaultTiming());
    fade.onFrame = [this](const AnimatedValue& opacity) {
        m_presentedOpacity = std::get<double>(opacity);
        update();
    };
    fade.completion = [control = QPointer<IslandSegmentedPillControl>(this)](bool finished) {
        // Completions come a turn later: a fade that was cut short, or that a newer one followed
        // in the meantime, leaves the shown opacity to whatever runs now.
        if (!finished || !control || control->isFading())
            return;
        control->m_presentedOpacity = control->m_selectionOpacity;
        control->update();
    };
    IslandAnimator::shared().add(this, kFadeKey, std::move(fade));
}

QSize IslandSegmentedPillControl::sizeHint() const
{
    const QFontMetricsF fm(IslandTheme::systemFont(11, QFont::DemiBold));
    qreal widest = 0;
    for (int i = 0; i < m_labels.size(); ++i) {
        qreal width = fm.horizontalAdvance(m_labels[i]);
        if (m_prominence == Prominence::top && splitNumericSuffix(m_labels[i]).second)
            width += 6 + 17;
        if (m_prominence != Prominence::top && i < m_iconSymbols.size() && !m_iconSymbols[i].isEmpty())
            width += 16;
        widest = std::max(widest, width);
    }
    const qreal inset = metrics(m_prominence).inset;
    const int count = std::max<int>(int(m_labels.size()), 1);
    return QSize(int(std::ceil((widest + 20) * count + 2 * inset)), int(metrics(m_prominence).height));
}

QSize IslandSegmentedPillControl::minimumSizeHint() const
{
    return QSize(int(std::max<qsizetype>(m_labels.size(), 1) * 16), int(metrics(m_prominence).height));
}

void IslandSegmentedPillControl::resizeEvent(QResizeEvent* event)
{
    QWidget::resizeEvent(event);
    updateSelectionLayer(false);
}

void IslandSegmentedPillControl::mousePressEvent(QMouseEvent* event)
{
    if (event->button() != Qt::LeftButton) {
        QWidget::mousePressEvent(event);
        return;
    }
    event->accept();
    const std::optional<int> index = segmentIndex(event->position());
    if (!index)
        return;
    if (m_allowsDeselect && *index == m_selectedSegmentIndex) {
        m_selectedSegmentIndex = -1;
        update();
        updateSelectionLayer(true);
    } else {
        setSelectedSegmentIndex(*index, true);
    }
    Q_EMIT clicked();
}

void IslandSegmentedPillControl::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setRenderHint(QPainter::TextAntialiasing);
    drawOuterPill(painter);
    drawSelection(painter);
    drawSegmentTitles(painter);
}

void IslandSegmentedPillControl::drawOuterPill(QPainter& painter) const
{
    const QRectF pill = QRectF(rect()).adjusted(0.35, 0.35, -0.35, -0.35);
    if (pill.width() <= 0 || pill.height() <= 0)
        return;
    const Metrics m = metrics(m_prominence);
    const qreal radius = pill.height() / 2.0;
    painter.save();
    painter.setPen(m.pillStroke.alpha() > 0 ? QPen(m.pillStroke, m.pillStrokeWidth) : QPen(Qt::NoPen));
    painter.setBrush(m.pillFill);
    painter.drawRoundedRect(pill, radius, radius);
    painter.restore();
}

void IslandSegmentedPillControl::drawSelection(QPainter& painter) const
{
    const QRectF capsule = presentedSelectionRect();
    if (m_presentedOpacity <= 0 || capsule.isEmpty())
        return;
    painter.save();
    painter.setOpacity(m_presentedOpacity);
    IslandTheme::paintRoundedSurface(painter, capsule, capsule.height() / 2.0, selectionFill(), selectionBorderColor(),
                                     selectionBorderWidth());
    painter.restore();
}

void IslandSegmentedPillControl::drawSegmentTitles(QPainter& painter) const
{
    for (int i = 0; i < m_labels.size(); ++i) {
        const QRectF rect = segmentRect(i);
        const bool selected = i == m_selectedSegmentIndex;
        if (m_prominence == Prominence::top)
            drawTopSegmentTitle(painter, m_labels[i], rect, selected);
        else
            drawPlainSegmentTitle(painter, m_labels[i], rect, selected, titleColor(i),
                                  i < m_iconSymbols.size() ? m_iconSymbols[i] : QString());
    }
}

void IslandSegmentedPillControl::drawTopSegmentTitle(QPainter& painter, const QString& label, const QRectF& rect,
                                                     bool selected) const
{
    using namespace IslandTheme;
    const auto [title, count] = splitNumericSuffix(label);
    const QFont titleFont = systemFont(11, selected ? QFont::DemiBold : QFont::Medium);
    const QFontMetricsF titleMetrics(titleFont);
    const qreal w = titleMetrics.horizontalAdvance(title);
    const qreal h = titleMetrics.height();
    const qreal midX = rect.center().x();
    const qreal midY = rect.center().y();

    painter.save();
    painter.setFont(titleFont);
    painter.setPen(selected ? white(0.94) : white(0.46));
    if (!count) {
        painter.drawText(QRectF(floorf(midX - w / 2), floorf(midY - h / 2) - 0.35, w + 1, h),
                         Qt::AlignLeft | Qt::AlignTop, title);
        painter.restore();
        return;
    }

    const QFont countFont = monospacedDigitFont(9, QFont::DemiBold);
    const QFontMetricsF countMetrics(countFont);
    // Tabular figures: the capsule and the title keep their places as the count changes.
    const qreal cw = TabularFigures::width(countFont, *count);
    const qreal ch = countMetrics.height();
    const qreal capsuleWidth = std::max<qreal>(std::ceil(cw) + 10, 17);
    const qreal total = std::ceil(w) + 6 + capsuleWidth;
    const qreal titleX = floorf(midX - total / 2);
    const QRectF capsule(titleX + std::ceil(w) + 6, floorf(midY - 7), capsuleWidth, 14);

    painter.setPen(Qt::NoPen);
    painter.setBrush(selected ? QColor::fromRgbF(0, 0, 0, 0.2f) : white(0.045));
    painter.drawRoundedRect(capsule, 7, 7);

    painter.setPen(selected ? white(0.94) : white(0.46));
    painter.drawText(QRectF(titleX, floorf(midY - h / 2) - 0.35, w + 1, h), Qt::AlignLeft | Qt::AlignTop, title);
    painter.setFont(countFont);
    painter.setPen(selected ? white(0.75) : white(0.44));
    TabularFigures::draw(painter,
                         QPointF(floorf(capsule.center().x() - cw / 2), floorf(capsule.center().y() - ch / 2) - 0.25),
                         *count);
    painter.restore();
}

void IslandSegmentedPillControl::drawPlainSegmentTitle(QPainter& painter, const QString& label, const QRectF& rect,
                                                       bool selected, const QColor& colour, const QString& icon) const
{
    const QFont::Weight weight = selected ? QFont::DemiBold : QFont::Medium;
    const QFont font = IslandTheme::systemFont(11, weight);
    const QFontMetricsF fm(font);
    const qreal w = fm.horizontalAdvance(label);
    const bool hasIcon = !icon.isEmpty();
    const qreal contentWidth = hasIcon ? 12 + 4 + w : w;
    qreal x = floorf(rect.center().x() - contentWidth / 2);
    const qreal midY = rect.center().y();

    painter.save();
    if (hasIcon) {
        IslandIcons::paint(painter, QRectF(x, floorf(midY - 6), 12, 12), icon, 12,
                           selected ? SymbolWeight::semibold : SymbolWeight::medium, colour);
        x += 16;
    }
    painter.setFont(font);
    painter.setPen(colour);
    painter.drawText(QRectF(x, floorf(midY - fm.height() / 2) - 0.3, w + 1, fm.height()), Qt::AlignLeft | Qt::AlignTop,
                     label);
    painter.restore();
}

} // namespace QuillomareMac
