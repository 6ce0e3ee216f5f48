// The island view's two state switches (display mode: collapsed or expanded; content mode:
// history or shelf) and how it answers the mouse in each display mode.

#include "IslandView.h"

#include "Island/Kit/IslandIconButton.h"
#include "Island/Kit/IslandSegmentedPillControl.h"

#include <QMouseEvent>
#include <QPointer>

namespace QuillomareMac {

namespace {

// The cross-fade of the content modes runs on each container under this key.
const QString kContentFadeKey = QStringLiteral("contentMode.alpha");
constexpr double kContentFadeSeconds = 0.2;

} // namespace

// MARK: - Display mode

void IslandView::setDisplayMode(DisplayMode mode, bool /*animated*/)
{
    m_displayMode = mode;
    IslandIconButton::hideAllCustomTooltips();
    if (mode == DisplayMode::expanded)
        dismissCaptureEchoImmediately();
    applySurfaceStyle(mode);

    // Both roots stay shown; their alpha tells which one is seen. Over a camera housing the
    // collapsed island shows nothing of its own.
    m_collapsedRoot->setVisible(true);
    m_expandedRoot->setVisible(true);
    m_collapsedContentOpacity =
        (mode == DisplayMode::collapsed && m_collapsedVisualStyle == CollapsedVisualStyle::floatingPill) ? 1 : 0;
    m_expandedContentOpacity = mode == DisplayMode::expanded ? 1 : 0;
    if (mode == DisplayMode::expanded)
        refreshSegmentIndicators();

    // A morph still in flight must not finish into the state this switch replaced.
    ++m_morphCompletionToken;
    animator().removeAll(this);
    animator().removeAll(m_backdropView);
    animator().removeAll(m_collapsedRoot);
    animator().removeAll(m_expandedRoot);

    updateMouseRouting();
    layoutSubviews();
    presentationDidChange();
    showPendingExpandedMessage();
}

void IslandView::finalizeAnimatedDisplayMode(DisplayMode mode)
{
    m_collapsedRoot->setVisible(mode == DisplayMode::collapsed);
    m_expandedRoot->setVisible(mode == DisplayMode::expanded);
    applySurfaceStyle(mode);
    if (mode == DisplayMode::expanded) {
        m_collapsedContentOpacity = 0;
        m_expandedContentOpacity = 1;
        refreshSegmentIndicators();
    } else {
        m_collapsedContentOpacity = m_collapsedVisualStyle == CollapsedVisualStyle::floatingPill ? 1 : 0;
        m_expandedContentOpacity = 0;
    }
    updateMouseRouting();
    layoutSubviews();
    presentationDidChange();
    showPendingExpandedMessage();
}

void IslandView::updateMouseRouting()
{
    // Collapsed, the island is one button: no subview may take a press.
    m_expandedRoot->setAttribute(Qt::WA_TransparentForMouseEvents, m_displayMode == DisplayMode::collapsed);
}

// MARK: - Content mode

void IslandView::setContentMode(ContentMode mode, bool animated)
{
    if (mode == m_contentMode) {
        m_modeControl->setSelectedSegmentIndex(int(mode), false);
        updateContentModeVisibility(false);
        return;
    }
    m_contentMode = mode;
    m_modeControl->setSelectedSegmentIndex(int(mode), false);
    dismissQuickPreview(false);
    if (mode == ContentMode::shelfGallery)
        rebuildShelfRows();
    else
        rebuildRows();
    updateContentModeVisibility(animated);
}

void IslandView::updateContentModeVisibility(bool animated)
{
    QWidget* active = m_contentMode == ContentMode::shelfGallery ? m_shelfGalleryContainer : m_historyContainer;
    QList<QWidget*> others;
    for (QWidget* container : {m_historyContainer, m_shelfGalleryContainer}) {
        if (container && container != active)
            others.append(container);
    }

    m_modeControl->update();
    m_modeControl->updateSelectionLayer(false);

    if (!animated || m_displayMode != DisplayMode::expanded) {
        // A fade under way would otherwise go on setting the alphas.
        for (QWidget* container : {m_historyContainer, m_shelfGalleryContainer}) {
            if (container)
                animator().remove(container, kContentFadeKey);
        }
        active->setVisible(true);
        setAlphaValue(active, 1);
        for (QWidget* other : others) {
            other->setVisible(false);
            setAlphaValue(other, 0);
        }
        return;
    }

    active->setVisible(true);
    setAlphaValue(active, 0);
    const ContentMode mode = m_contentMode;
    IslandAnimationTransaction transaction([weak = QPointer<IslandView>(this), mode] {
        if (weak)
            weak->finishContentModeFade(mode);
    });
    const auto fade = [&](QWidget* view, double target) {
        IslandAnimation animation =
            IslandAnimation::timed(alphaValue(view), target, kContentFadeSeconds, CubicCurve::standard());
        animation.onFrame = [view](const AnimatedValue& value) {
            if (const double* alpha = std::get_if<double>(&value))
                setAlphaValue(view, *alpha);
        };
        animation.completion = transaction.track();
        animator().add(view, kContentFadeKey, std::move(animation));
    };
    for (QWidget* other : others)
        fade(other, 0);
    fade(active, 1);
    transaction.commit();
}

void IslandView::finishContentModeFade(ContentMode mode)
{
    // A switch made meanwhile finishes the job with its own completion.
    if (mode != m_contentMode)
        return;
    QWidget* active = mode == ContentMode::shelfGallery ? m_shelfGalleryContainer : m_historyContainer;
    for (QWidget* container : {m_historyContainer, m_shelfGalleryContainer}) {
        if (container && container != active) {
            container->setVisible(false);
            setAlphaValue(container, 0);
        }
    }
    setAlphaValue(active, 1);
}

void IslandView::contentModeChanged()
{
    setContentMode(m_modeControl->selectedSegmentIndex() == 1 ? ContentMode::shelfGallery : ContentMode::history,
                   true);
}

// MARK: - Mouse

QWidget* IslandView::hitTest(const QPointF& point)
{
    if (m_displayMode == DisplayMode::collapsed)
        return this;
    if (QWidget* child = childAt(point.toPoint()))
        return child;
    return rect().contains(point.toPoint()) ? this : nullptr;
}

void IslandView::mousePressEvent(QMouseEvent* event)
{
    if (m_displayMode == DisplayMode::collapsed) {
        // The whole collapsed island is one button.
        if (event->button() == Qt::LeftButton && onExpand)
            onExpand();
        event->accept();
        return;
    }
    QWidget::mousePressEvent(event);
}

} // namespace QuillomareMac
