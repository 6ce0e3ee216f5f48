// The expanded island's layout metrics, which the panel controller pushes for each screen (top
// inset, camera-housing gap, content height), the redraw of the segmented controls, and where
// the two roots go: the expanded root 17 points in from each side, the collapsed root on the
// surface as drawn now (so that it rides along with a morph).

#include "IslandView.h"

#include "Island/Kit/IslandListScrollView.h"
#include "Island/Kit/IslandSegmentedPillControl.h"

#include <QLayout>
#include <QPainterPath>
#include <QRegion>
#include <QSpacerItem>
#include <QVBoxLayout>

#include <algorithm>
#include <cmath>

namespace QuillomareMac {

namespace {

constexpr double kHeaderHeight = 32;
constexpr double kFallbackTopInset = 14;
constexpr double kFallbackExpandedHeight = 332;
constexpr double kMinimumDeckHeight = 300;

int points(double value)
{
    return int(std::lround(value));
}

} // namespace

// MARK: - Pushed metrics

void IslandView::setCollapsedVisualStyle(CollapsedVisualStyle style)
{
    // The masked corners follow the style on every call; they are read when painting.
    if (style != m_collapsedVisualStyle) {
        m_collapsedVisualStyle = style;
        applySurfaceStyle(m_displayMode);
        if (m_displayMode == DisplayMode::collapsed)
            m_collapsedContentOpacity = style == CollapsedVisualStyle::floatingPill ? 1 : 0;
    }
    presentationDidChange();
}

void IslandView::setExpandedTopInset(double inset)
{
    if (m_expandedTopConstraint && *m_expandedTopConstraint == inset)
        return;
    if (m_expandedTopConstraint)
        m_expandedTopConstraint = inset;
    relayout();
}

void IslandView::setNotchHeaderLayout(double notchWidth, double stripHeight)
{
    m_notchHeaderWidth = notchWidth;
    m_notchHeaderStripHeight = stripHeight;

    const bool hasNotch = notchWidth > 0;
    const double gap = hasNotch ? notchWidth + 28 : 0;
    const double top = m_expandedTopConstraint.value_or(kFallbackTopInset);
    // Below a camera housing the content starts clear of the menu-bar strip.
    const double clearance = hasNotch ? std::max(stripHeight - top - kHeaderHeight + 12, 10.0) : 7.0;
    if (m_headerNotchGapConstraint && *m_headerNotchGapConstraint == gap && m_headerContentClearance == clearance)
        return;
    if (m_headerNotchGapConstraint)
        m_headerNotchGapConstraint = gap;
    m_headerContentClearance = clearance;
    applyExpandedConstraints();
    updateContentDeckMetrics(m_expandedHeightConstraint.value_or(kFallbackExpandedHeight));
}

void IslandView::setExpandedContentHeight(double height)
{
    const double resolved = std::max(height, 1.0);
    if (m_expandedHeightConstraint && *m_expandedHeightConstraint == resolved)
        return;
    if (m_expandedHeightConstraint)
        m_expandedHeightConstraint = resolved;
    updateContentDeckMetrics(resolved);
    relayout();
}

void IslandView::updateContentDeckMetrics(double expandedHeight)
{
    const double deck = std::max(expandedHeight - kHeaderHeight - m_headerContentClearance, kMinimumDeckHeight);
    if (m_contentDeckHeightConstraint)
        m_contentDeckHeightConstraint = deck;
    // The selection bar takes room above the list while more than one entry is selected.
    applyHistoryListHeight();
    applyExpandedConstraints();
}

void IslandView::refreshSegmentIndicators()
{
    for (IslandSegmentedPillControl* control : {m_modeControl, m_filterControl, m_kindFilterControl}) {
        if (!control)
            continue;
        control->update();
        control->updateSelectionLayer(false);
    }
}

// MARK: - Applying the constants

void IslandView::applyExpandedConstraints()
{
    if (m_headerCenterGroup && m_headerNotchGapConstraint)
        m_headerCenterGroup->setFixedWidth(points(*m_headerNotchGapConstraint));
    if (m_headerContentSpacer) {
        m_headerContentSpacer->changeSize(0, points(m_headerContentClearance), QSizePolicy::Minimum,
                                          QSizePolicy::Fixed);
        m_expandedRootLayout->invalidate();
    }
    if (m_contentDeck && m_contentDeckHeightConstraint)
        m_contentDeck->setFixedHeight(points(*m_contentDeckHeightConstraint));
    if (m_scrollView && m_scrollHeightConstraint)
        m_scrollView->setFixedHeight(points(*m_scrollHeightConstraint));
    placeRoots();
}

void IslandView::relayout()
{
    if (m_displayMode != DisplayMode::expanded)
        return;
    relayoutNow();
}

void IslandView::relayoutNow()
{
    applyExpandedConstraints();
    // Top-down, so that every layout works in the rectangle its parent just gave its widget; a
    // widget not yet shown would otherwise wait for its resize event.
    QList<QLayout*> layouts{m_expandedRoot->layout()};
    layouts.append(m_expandedRoot->findChildren<QLayout*>());
    for (QLayout* layout : layouts) {
        if (!layout || !layout->parentWidget())
            continue;
        layout->invalidate();
        layout->activate();
    }
}

// MARK: - The view's own layout

void IslandView::layoutSubviews()
{
    if (m_displayMode == DisplayMode::expanded && m_expandedWidthConstraint) {
        const double width = double(this->width()) - 34;
        if (width > 0 && std::abs(*m_expandedWidthConstraint - width) > 0.5)
            m_expandedWidthConstraint = width;
    }
    placeRoots();
}

void IslandView::placeRoots()
{
    if (!m_expandedRoot)
        return;
    m_backdropView->setGeometry(rect());

    // The collapsed root sits on the surface as drawn, which a morph or an echo moves while the
    // widget keeps its rectangle. Its trailing and bottom edges give way to its content.
    const QRectF surface = presentationFrame().translated(-QPointF(pos()));
    QRectF collapsed = surface.adjusted(18, 7, -18, -7);
    const QSize collapsedMinimum = m_collapsedRoot->minimumSizeHint();
    collapsed.setWidth(std::max(collapsed.width(), double(collapsedMinimum.width())));
    collapsed.setHeight(std::max(collapsed.height(), 0.0));
    m_collapsedRoot->setGeometry(collapsed.toRect());
    // A new count or sync word shows at once, not one event-loop turn later.
    m_collapsedRoot->layout()->activate();

    // Content that needs more height than the island has overflows it rather than being squeezed.
    const double needed = kHeaderHeight + m_headerContentClearance + m_contentDeckHeightConstraint.value_or(0);
    const double height = std::max(m_expandedHeightConstraint.value_or(kFallbackExpandedHeight), needed);
    m_expandedRoot->setGeometry(17, points(m_expandedTopConstraint.value_or(kFallbackTopInset)),
                                points(m_expandedWidthConstraint.value_or(746)), points(height));
}

void IslandView::resizeEvent(QResizeEvent* event)
{
    QWidget::resizeEvent(event);
    layoutSubviews();
}

// MARK: - Presentation

void IslandView::presentationDidChange()
{
    placeRoots();
    setAlphaValue(m_collapsedRoot, m_echoFeedback ? presentationDouble(kEchoRetractContent, 0.0)
                                                  : presentationCollapsedContentOpacity());
    setAlphaValue(m_expandedRoot, presentationExpandedContentOpacity());
    setContentScale(m_expandedRoot, presentationExpandedContentScale());

    // While a morph or an echo moves the surface inside the widget's rectangle, the content
    // shows only where the surface is; so does the echo's badge, whose glow reaches past the
    // rounded corners.
    const QRectF surface = presentationFrame().translated(-QPointF(pos()));
    const bool notch = m_collapsedVisualStyle == CollapsedVisualStyle::hardwareNotch;
    m_presentedRegion = surfaceRegion(surface, presentationCornerRadius(), notch);
    if (hasActiveIslandLayerAnimation() || m_echoFeedback) {
        // Where the window is cut to the surface's pixels the content stops at them too;
        // elsewhere the mask keeps a pixel more, so that the surface's antialiased edge is not
        // chopped into steps.
        const QRegion mask = m_edgesCutToShape
            ? m_presentedRegion
            : surfaceRegion(surface.adjusted(-1, -1, 1, 1), presentationCornerRadius() + 1, notch);
        if (mask != this->mask())
            setMask(mask);
    } else if (!mask().isEmpty()) {
        clearMask();
    }
    update();
}

void IslandView::updateExpandedChildren()
{
    // A morph fades one root out and the other in: both are shown while it runs.
    if (animator().containsPrefix(this, kMorphPrefix)) {
        m_collapsedRoot->setVisible(true);
        m_expandedRoot->setVisible(true);
    }
    updateMouseRouting();
    layoutSubviews();
    presentationDidChange();
}

} // namespace QuillomareMac
