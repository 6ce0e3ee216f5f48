#include "QuickPreviewImageView.h"

#include "Island/Kit/IslandTheme.h"

#include <QGestureEvent>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QNativeGestureEvent>
#include <QPainter>
#include <QPainterPath>
#include <QPinchGesture>
#include <QRegion>
#include <QWheelEvent>

#include <algorithm>
#include <cmath>

namespace QuillomareMac {

namespace {

constexpr double kCornerRadius = 8;
// Zoom never goes past 8 pixels a point of the whole picture, or 4 times fitted when that is more.
constexpr double kMaximumPixelZoom = 8;
constexpr double kMaximumFitZoom = 4;
// One notch of a mouse wheel zooms by 2^(1/4), about 19 %.
constexpr double kWheelNotchesPerDoubling = 4;
constexpr double kPixelsPerDoubling = 300; // touchpads scrolling in pixels
constexpr double kDragThreshold = 3;
// A press this close to a word (in points) still lands on it.
constexpr double kWordSlop = 4;

} // namespace

QuickPreviewImageView::QuickPreviewImageView(QWidget* parent) : QWidget(parent)
{
    setAttribute(Qt::WA_TranslucentBackground);
    setMouseTracking(true);
    setFocusPolicy(Qt::ClickFocus);
    grabGesture(Qt::PinchGesture);
}

// MARK: - Picture and zoom

void QuickPreviewImageView::setPicture(const QImage& reduced, const QImage& whole, QSize pictureSize)
{
    const QSize size = pictureSize.isValid() && !pictureSize.isEmpty() ? pictureSize : reduced.size();
    const bool sameShape =
        hasPicture() && m_pictureSize.isValid() && !size.isEmpty() &&
        std::abs(double(m_pictureSize.width()) / m_pictureSize.height() - double(size.width()) / size.height()) < 0.01;
    const QRectF shownBefore = pictureRect();
    m_reduced = reduced;
    m_whole = whole;
    m_fittedCache = QImage();
    if (reduced.isNull()) {
        clear();
        return;
    }
    m_pictureSize = size;
    if (sameShape && m_zoomed) {
        // A sharper copy of the picture on screen: it stays where it is.
        m_scale = shownBefore.width() / m_pictureSize.width();
        m_offset = shownBefore.topLeft();
        clampOffset();
    } else {
        if (!sameShape)
            clearSelection();
        zoomToFit();
    }
    update();
}

void QuickPreviewImageView::clear()
{
    m_reduced = QImage();
    m_whole = QImage();
    m_fittedCache = QImage();
    m_pictureSize = QSize();
    m_scale = 1;
    m_offset = QPointF();
    m_zoomed = false;
    m_drag = Drag::none;
    m_liveText = LiveTextLayout();
    m_textHighlighted = false;
    m_hint.clear();
    clearSelection();
    unsetCursor();
    update();
}

double QuickPreviewImageView::fitScale() const
{
    if (m_pictureSize.isEmpty() || width() <= 0 || height() <= 0)
        return 1;
    // Small pictures stay at their own size rather than blown up to the card.
    return std::min({double(width()) / m_pictureSize.width(), double(height()) / m_pictureSize.height(), 1.0});
}

double QuickPreviewImageView::maximumScale() const
{
    return std::max(kMaximumPixelZoom, fitScale() * kMaximumFitZoom);
}

bool QuickPreviewImageView::isZoomed() const
{
    return m_zoomed;
}

void QuickPreviewImageView::zoomTo(double scale, QPointF anchor)
{
    if (!hasPicture())
        return;
    const double fit = fitScale();
    const double clamped = std::clamp(scale, fit, maximumScale());
    const QPointF picturePoint = (anchor - m_offset) / m_scale;
    m_scale = clamped;
    m_offset = anchor - picturePoint * m_scale;
    m_zoomed = m_scale > fit * 1.001;
    clampOffset();
    updateCursor(mapFromGlobal(QCursor::pos()));
    update();
}

void QuickPreviewImageView::zoomToFit()
{
    m_scale = fitScale();
    m_zoomed = false;
    clampOffset();
    update();
}

void QuickPreviewImageView::toggleZoom(QPointF anchor)
{
    if (!hasPicture())
        return;
    if (m_zoomed) {
        zoomToFit();
        return;
    }
    const double fit = fitScale();
    zoomTo(fit < 0.8 ? 1.0 : 2 * fit, anchor);
}

void QuickPreviewImageView::panBy(QPointF delta)
{
    m_offset += delta;
    clampOffset();
    update();
}

void QuickPreviewImageView::clampOffset()
{
    const QSizeF shown = QSizeF(m_pictureSize) * m_scale;
    const auto clampAxis = [](double offset, double extent, double room) {
        // Smaller than the view: centred; larger: no gap at either edge.
        if (extent <= room)
            return (room - extent) / 2;
        return std::clamp(offset, room - extent, 0.0);
    };
    m_offset.setX(clampAxis(m_offset.x(), shown.width(), width()));
    m_offset.setY(clampAxis(m_offset.y(), shown.height(), height()));
}

void QuickPreviewImageView::refitIfNotZoomed()
{
    if (!m_zoomed) {
        zoomToFit();
        return;
    }
    m_scale = std::max(m_scale, fitScale());
    m_zoomed = m_scale > fitScale() * 1.001;
    clampOffset();
}

QRectF QuickPreviewImageView::pictureRect() const
{
    if (!hasPicture())
        return {};
    return QRectF(m_offset, QSizeF(m_pictureSize) * m_scale);
}

QPointF QuickPreviewImageView::mapToPicture(QPointF viewPoint) const
{
    const QRectF shown = pictureRect();
    if (shown.isEmpty())
        return {};
    return QPointF((viewPoint.x() - shown.x()) / shown.width(), (viewPoint.y() - shown.y()) / shown.height());
}

QPointF QuickPreviewImageView::mapFromPicture(QPointF picturePoint) const
{
    const QRectF shown = pictureRect();
    return QPointF(shown.x() + picturePoint.x() * shown.width(), shown.y() + picturePoint.y() * shown.height());
}

QRectF QuickPreviewImageView::mapFromPicture(const QRectF& pictureRect) const
{
    return QRectF(mapFromPicture(pictureRect.topLeft()), mapFromPicture(pictureRect.bottomRight()));
}

// MARK: - Live Text

void QuickPreviewImageView::setLiveText(LiveTextLayout layout)
{
    m_liveText = std::move(layout);
    clearSelection();
    update();
}

void QuickPreviewImageView::setTextHighlighted(bool highlighted)
{
    if (m_textHighlighted == highlighted)
        return;
    m_textHighlighted = highlighted;
    update();
}

void QuickPreviewImageView::setHint(const QString& hint)
{
    if (m_hint == hint)
        return;
    m_hint = hint;
    update();
}

std::optional<std::pair<int, int>> QuickPreviewImageView::selection() const
{
    if (!m_anchorWord || !m_reachedWord || m_liveText.isEmpty())
        return std::nullopt;
    return std::pair{std::min(*m_anchorWord, *m_reachedWord), std::max(*m_anchorWord, *m_reachedWord)};
}

void QuickPreviewImageView::selectWords(int first, int last)
{
    const int count = int(m_liveText.words().size());
    if (count == 0)
        return;
    m_anchorWord = std::clamp(first, 0, count - 1);
    m_reachedWord = std::clamp(last, 0, count - 1);
    update();
}

void QuickPreviewImageView::clearSelection()
{
    if (!m_anchorWord && !m_reachedWord)
        return;
    m_anchorWord.reset();
    m_reachedWord.reset();
    update();
}

std::optional<QString> QuickPreviewImageView::selectedText() const
{
    const auto range = selection();
    if (!range)
        return std::nullopt;
    const QString text = m_liveText.text(range->first, range->second);
    if (text.trimmed().isEmpty())
        return std::nullopt;
    return text;
}

std::optional<int> QuickPreviewImageView::wordUnder(QPointF viewPoint) const
{
    const QRectF shown = pictureRect();
    if (m_liveText.isEmpty() || shown.isEmpty())
        return std::nullopt;
    const QSizeF slop(kWordSlop / shown.width(), kWordSlop / shown.height());
    return m_liveText.wordAt(mapToPicture(viewPoint), slop);
}

// MARK: - Events

bool QuickPreviewImageView::event(QEvent* event)
{
    switch (event->type()) {
    case QEvent::NativeGesture: {
        auto* gesture = static_cast<QNativeGestureEvent*>(event);
        const QPointF at = gesture->position();
        if (gesture->gestureType() == Qt::ZoomNativeGesture) {
            zoomBy(1.0 + gesture->value(), at);
            return true;
        }
        if (gesture->gestureType() == Qt::SmartZoomNativeGesture) {
            toggleZoom(at);
            return true;
        }
        break;
    }
    case QEvent::Gesture:
        handleGesture(static_cast<QGestureEvent*>(event));
        return true;
    case QEvent::ShortcutOverride: {
        // Ctrl+C over a selection is ours, not a window shortcut's.
        auto* key = static_cast<QKeyEvent*>(event);
        if (key->matches(QKeySequence::Copy) && selection()) {
            key->accept();
            return true;
        }
        break;
    }
    default:
        break;
    }
    return QWidget::event(event);
}

void QuickPreviewImageView::handleGesture(QGestureEvent* event)
{
    auto* pinch = static_cast<QPinchGesture*>(event->gesture(Qt::PinchGesture));
    if (!pinch)
        return;
    event->accept(pinch);
    if (pinch->changeFlags() & QPinchGesture::ScaleFactorChanged)
        zoomBy(pinch->scaleFactor(), mapFromGlobal(pinch->centerPoint()));
}

void QuickPreviewImageView::resizeEvent(QResizeEvent*)
{
    m_fittedCache = QImage();
    refitIfNotZoomed();
}

void QuickPreviewImageView::wheelEvent(QWheelEvent* event)
{
    if (!hasPicture()) {
        event->ignore();
        return;
    }
    const QPoint pixels = event->pixelDelta();
    const double doublings = !pixels.isNull() ? pixels.y() / kPixelsPerDoubling
                                              : event->angleDelta().y() / (120.0 * kWheelNotchesPerDoubling);
    if (doublings != 0)
        zoomBy(std::pow(2.0, doublings), event->position());
    event->accept();
}

void QuickPreviewImageView::mousePressEvent(QMouseEvent* event)
{
    if (event->button() != Qt::LeftButton) {
        QWidget::mousePressEvent(event);
        return;
    }
    setFocus(Qt::MouseFocusReason);
    m_pressPosition = event->position();
    m_lastDragPosition = event->position();
    if (const auto word = wordUnder(event->position())) {
        // The selection begins once the pointer moves: a click alone clears it.
        clearSelection();
        m_anchorWord = word;
        m_drag = Drag::pending;
    } else {
        clearSelection();
        m_drag = m_zoomed ? Drag::panning : Drag::none;
    }
    updateCursor(event->position());
    event->accept();
}

void QuickPreviewImageView::mouseMoveEvent(QMouseEvent* event)
{
    const QPointF position = event->position();
    switch (m_drag) {
    case Drag::none:
        updateCursor(position);
        break;
    case Drag::pending:
        if ((position - m_pressPosition).manhattanLength() < kDragThreshold)
            break;
        m_drag = Drag::selecting;
        [[fallthrough]];
    case Drag::selecting:
        m_reachedWord = m_liveText.wordReachedAt(mapToPicture(position));
        update();
        break;
    case Drag::panning:
        panBy(position - m_lastDragPosition);
        break;
    }
    m_lastDragPosition = position;
    event->accept();
}

void QuickPreviewImageView::mouseReleaseEvent(QMouseEvent* event)
{
    if (event->button() != Qt::LeftButton) {
        QWidget::mouseReleaseEvent(event);
        return;
    }
    if (m_drag == Drag::pending)
        m_anchorWord.reset();
    m_drag = Drag::none;
    updateCursor(event->position());
    event->accept();
}

void QuickPreviewImageView::mouseDoubleClickEvent(QMouseEvent* event)
{
    if (event->button() != Qt::LeftButton) {
        QWidget::mouseDoubleClickEvent(event);
        return;
    }
    m_drag = Drag::none;
    m_anchorWord.reset();
    toggleZoom(event->position());
    event->accept();
}

void QuickPreviewImageView::keyPressEvent(QKeyEvent* event)
{
    if (event->matches(QKeySequence::Copy) && selection()) {
        if (onCopyRequested)
            onCopyRequested();
        event->accept();
        return;
    }
    QWidget::keyPressEvent(event);
}

void QuickPreviewImageView::updateCursor(QPointF position)
{
    if (m_drag == Drag::panning)
        setCursor(Qt::ClosedHandCursor);
    else if (m_drag == Drag::selecting || m_drag == Drag::pending || wordUnder(position))
        setCursor(Qt::IBeamCursor);
    else if (m_zoomed)
        setCursor(Qt::OpenHandCursor);
    else
        unsetCursor();
}

// MARK: - Painting

void QuickPreviewImageView::paintEvent(QPaintEvent*)
{
    if (!hasPicture())
        return;
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QRectF shown = pictureRect();
    QPainterPath clip;
    clip.addRoundedRect(shown.intersected(QRectF(rect())), kCornerRadius, kCornerRadius);
    painter.save();
    painter.setClipPath(clip);
    paintPicture(painter, shown);
    paintLiveText(painter, shown);
    painter.restore();
    paintHint(painter);
}

void QuickPreviewImageView::paintPicture(QPainter& painter, const QRectF& shown)
{
    const qreal ratio = devicePixelRatioF();
    const QSize devicePixels = (shown.size() * ratio).toSize();
    if (!m_zoomed) {
        // The resting card: scaled once with area averaging, then copied on every paint.
        if (m_fittedCache.size() != devicePixels && !devicePixels.isEmpty()) {
            const QImage& source = m_reduced.width() >= devicePixels.width() || m_whole.isNull() ? m_reduced : m_whole;
            m_fittedCache = source.size() == devicePixels
                                ? source
                                : source.scaled(devicePixels, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
            m_fittedCache.setDevicePixelRatio(ratio);
        }
        painter.drawImage(shown.topLeft(), m_fittedCache);
        return;
    }
    // Zoomed: only the visible part, from the reduced copy while it has pixels enough.
    const bool reducedSuffices = m_whole.isNull() || double(m_reduced.width()) >= shown.width() * ratio * 0.98;
    const QImage& source = reducedSuffices ? m_reduced : m_whole;
    const QRectF visible = shown.intersected(QRectF(rect()));
    const double toSource = source.width() / shown.width();
    const QRectF sourceRect((visible.x() - shown.x()) * toSource, (visible.y() - shown.y()) * toSource,
                            visible.width() * toSource, visible.height() * toSource);
    painter.setRenderHint(QPainter::SmoothPixmapTransform, toSource > 0.5);
    painter.drawImage(visible, source, sourceRect);
}

void QuickPreviewImageView::paintLiveText(QPainter& painter, const QRectF& shown)
{
    if (m_liveText.isEmpty())
        return;
    const QRectF visible = shown.intersected(QRectF(rect()));
    if (m_textHighlighted) {
        // Everything but the text dims; each line of text keeps its own colours under a light
        // veil and a thin rim.
        const QList<QRectF> lines = m_liveText.selectionBoxes(0, int(m_liveText.words().size()) - 1);
        QRegion text;
        for (const QRectF& line : lines)
            text += mapFromPicture(line).adjusted(-3, -2, 3, 2).toAlignedRect();
        painter.save();
        painter.setClipRegion(QRegion(visible.toAlignedRect()).subtracted(text), Qt::IntersectClip);
        painter.fillRect(visible, QColor(0, 0, 0, 120));
        painter.restore();
        painter.setPen(QPen(IslandTheme::white(0.75), 1));
        painter.setBrush(IslandTheme::white(0.1));
        for (const QRectF& line : lines)
            painter.drawRoundedRect(mapFromPicture(line).adjusted(-3, -2, 3, 2), 4, 4);
    }
    if (const auto range = selection()) {
        painter.setPen(Qt::NoPen);
        painter.setBrush(IslandTheme::withAlpha(IslandTheme::selectionBlue(), 0.42));
        for (const QRectF& box : m_liveText.selectionBoxes(range->first, range->second))
            painter.drawRoundedRect(mapFromPicture(box).adjusted(-2, -1, 2, 1), 3, 3);
    }
}

void QuickPreviewImageView::paintHint(QPainter& painter)
{
    if (m_hint.isEmpty())
        return;
    const QFont font = IslandTheme::systemFont(10.5, QFont::Medium);
    const QFontMetricsF metrics(font);
    const double textWidth = std::min(metrics.horizontalAdvance(m_hint), std::max(width() - 48.0, 40.0));
    const QSizeF size(textWidth + 24, metrics.height() + 10);
    const QRectF capsule(QPointF((width() - size.width()) / 2, height() - size.height() - 10), size);
    painter.setPen(QPen(IslandTheme::white(0.14), 1));
    painter.setBrush(QColor(0, 0, 0, 190));
    painter.drawRoundedRect(capsule, size.height() / 2, size.height() / 2);
    painter.setFont(font);
    painter.setPen(IslandTheme::white(0.92));
    painter.drawText(capsule.adjusted(12, 0, -12, 0), Qt::AlignCenter,
                     metrics.elidedText(m_hint, Qt::ElideRight, textWidth));
}

} // namespace QuillomareMac
