// The island's drawn surface (its "backing layer" of model values and the animations that
// override them) and the spring morph between the collapsed and the expanded island.

#include "IslandView.h"

#include "Island/Kit/IslandIconButton.h"
#include "Island/Kit/IslandScheduler.h"
#include "Island/Kit/IslandTheme.h"
#include "Island/Kit/IslandToastView.h"

#include <Platform/MotionPreferences.h>

#include <QPainter>
#include <QPainterPath>
#include <QPointer>

#include <algorithm>
#include <cmath>
#include <vector>

namespace QuillomareMac {

namespace {

constexpr CubicCurve kCollapseFadeCurve{0.36, 0, 0.7, 1};
constexpr double kCollapsedContentScale = 0.97;

} // namespace

// MARK: - Surface

IslandView::SurfaceLook IslandView::surfaceLook(DisplayMode mode) const
{
    if (mode == DisplayMode::expanded)
        return {12, IslandTheme::expandedSurface(m_backdropBlurred), IslandTheme::expandedBorder()};
    if (m_collapsedVisualStyle == CollapsedVisualStyle::floatingPill)
        return {16, IslandTheme::collapsedBackground(), IslandTheme::collapsedBorder()};
    return {16, QColor(0, 0, 0, 0), QColor(0, 0, 0, 0)};
}

void IslandView::applySurfaceStyle(DisplayMode mode)
{
    const SurfaceLook look = surfaceLook(mode);
    m_cornerRadius = look.cornerRadius;
    m_background = look.background;
    m_border = look.border;
    update();
}

void IslandView::setBackdropBlurred(bool blurred)
{
    if (blurred == m_backdropBlurred)
        return;
    m_backdropBlurred = blurred;
    // A running morph or echo keeps the colours it started with; the resting look changes now.
    if (!hasActiveIslandLayerAnimation())
        applySurfaceStyle(m_displayMode);
}

void IslandView::setEdgesCutToShape(bool cut)
{
    if (cut == m_edgesCutToShape)
        return;
    m_edgesCutToShape = cut;
    presentationDidChange();
}

void IslandView::setModelFrame(const QRectF& frame)
{
    setGeometry(frame.toAlignedRect());
}

void IslandView::syncBackingLayerToCurrentFrameWithoutAnimation()
{
    // A shown echo owns the surface until it ends; the controller snaps the layer whenever it
    // places the panel, which must not cut the echo short.
    animator().removeAll(this, kMorphPrefix);
    if (m_echoFeedback) {
        presentationDidChange();
        return;
    }
    animator().removeAll(this, kEchoPrefix);
    // A growth cut short leaves the widget at the rectangle it was widened to for the way; the
    // echo's own rectangle is the frame it was growing to.
    if (m_echoGrowthFrame) {
        setModelFrame(*m_echoGrowthFrame);
        m_echoGrowthFrame.reset();
        placeCaptureEchoHUD();
    }
    applySurfaceStyle(m_displayMode);
    m_layerOpacity = 1;
    presentationDidChange();
}

bool IslandView::hasActiveIslandLayerAnimation() const
{
    auto* self = const_cast<IslandView*>(this);
    return animator().containsPrefix(self, kMorphPrefix) || animator().containsPrefix(self, kEchoPrefix);
}

void IslandView::morph(const QRectF& from, const QRectF& to, bool expanding, double response, double damping,
                       std::function<void()> completion)
{
    const DisplayMode target = expanding ? DisplayMode::expanded : DisplayMode::collapsed;
    // Nothing floating over the island survives its change of shape.
    IslandIconButton::hideAllCustomTooltips();
    if (m_transientToast) {
        m_transientToast->setAlpha(0);
        m_transientToast->hide();
    }
    dismissQuickPreview(false);
    if (expanding)
        dismissCaptureEchoImmediately();

    // With Reduce Motion there is no movement: the state switches at once.
    if (Platform::MotionPreferences::reduceMotion()) {
        ++m_morphCompletionToken;
        animator().removeAll(this, kMorphPrefix);
        setModelFrame(to);
        setDisplayMode(target, false);
        if (completion)
            completion();
        return;
    }
    m_displayMode = target;

    // A morph that interrupts another starts from what is on screen, at rest: the new spring
    // owes nothing to the old one's momentum.
    const bool interrupting = animator().contains(this, kMorphBounds);
    const QRectF start = interrupting ? presentationFrame() : from;
    const double startCollapsedOpacity = presentationCollapsedContentOpacity();
    const double startExpandedOpacity = presentationDouble(kMorphExpandedOpacity, m_expandedContentOpacity);

    // The widget keeps the expanded rectangle for the whole morph; only the surface moves.
    setModelFrame(expanding ? to : from);

    const SurfaceLook source = expanding ? surfaceLook(DisplayMode::collapsed) : surfaceLook(DisplayMode::expanded);
    const SurfaceLook targetLook = surfaceLook(target);
    m_cornerRadius = targetLook.cornerRadius;
    m_background = targetLook.background;
    m_border = targetLook.border;

    // The caller's completion sits in a holder an echo can take it out of (retireCollapseForEcho).
    auto callerCompletion = std::make_shared<std::function<void()>>(std::move(completion));
    m_pendingMorphCompletions.push_back(callerCompletion);
    const quint64 token = ++m_morphCompletionToken;
    IslandAnimationTransaction transaction([weak = QPointer<IslandView>(this), token, to, target, callerCompletion] {
        if (weak) {
            auto& pending = weak->m_pendingMorphCompletions;
            pending.erase(std::remove(pending.begin(), pending.end(), callerCompletion), pending.end());
            if (weak->m_morphCompletionToken == token)
                weak->commitMorphEnd(to, target);
        }
        if (*callerCompletion)
            std::exchange(*callerCompletion, {})();
    });

    const SpringParameters spring = SpringParameters::fromResponse(response, damping);
    const double settling = spring.settlingDuration();
    const auto repaint = [this](const AnimatedValue&) { presentationDidChange(); };
    const auto add = [&](const QString& key, IslandAnimation animation) {
        if (!animation.onFrame)
            animation.onFrame = repaint;
        animation.completion = transaction.track();
        animator().add(this, key, std::move(animation));
    };

    IslandAnimation bounds = IslandAnimation::spring(start, to, spring);
    // The morph ends a turn of the event loop after its last frame; a frame drawn in between must
    // not fall back to the expanded rectangle the view keeps during a collapse.
    bounds.onFrame = [this, token, to](const AnimatedValue&) {
        if (!animator().contains(this, kMorphBounds) && m_morphCompletionToken == token)
            setModelFrame(to);
        presentationDidChange();
    };
    add(kMorphBounds, std::move(bounds));
    add(kMorphCornerRadius,
        IslandAnimation::spring(source.cornerRadius, targetLook.cornerRadius, spring.criticallyDamped()));
    add(kMorphBackground, IslandAnimation::timed(source.background, targetLook.background, settling));
    add(kMorphBorder, IslandAnimation::timed(source.border, targetLook.border, settling));

    if (expanding) {
        m_collapsedContentOpacity = 0;
        add(kMorphCollapsedOpacity, IslandAnimation::timed(startCollapsedOpacity, 0.0, 0.1, CubicCurve::easeIn()));
        m_expandedContentOpacity = 1;
        IslandAnimation fadeIn = IslandAnimation::timed(0.0, 1.0, 0.26);
        fadeIn.beginDelay = 0.04;
        add(kMorphExpandedOpacity, std::move(fadeIn));
        // The content comes back at its full size, also when it was shrinking a moment ago.
        animator().remove(this, kMorphContentScale);
    } else {
        const double fade = std::min(std::max(0.34 * settling, 0.16), 0.2);
        m_expandedContentOpacity = 0;
        add(kMorphExpandedOpacity, IslandAnimation::timed(startExpandedOpacity, 0.0, fade, kCollapseFadeCurve));
        // While it fades the expanded content shrinks a little towards its centre; at rest it is
        // drawn at its full size again.
        add(kMorphContentScale, IslandAnimation::timed(1.0, kCollapsedContentScale, fade, kCollapseFadeCurve));
        const double restingCollapsed = m_collapsedVisualStyle == CollapsedVisualStyle::floatingPill ? 1 : 0;
        m_collapsedContentOpacity = restingCollapsed;
        IslandAnimation fadeIn = IslandAnimation::timed(0.0, restingCollapsed, 0.14, CubicCurve::easeOut());
        fadeIn.beginDelay = std::max(0.0, 0.45 * settling);
        add(kMorphCollapsedOpacity, std::move(fadeIn));
    }
    transaction.commit();
    updateExpandedChildren();
    update();
}

void IslandView::commitMorphEnd(const QRectF& finalFrame, DisplayMode mode)
{
    animator().removeAll(this, kMorphPrefix);
    setModelFrame(finalFrame);
    finalizeAnimatedDisplayMode(mode);
}

// MARK: - Presentation

double IslandView::presentationDouble(const QString& key, double model) const
{
    if (const auto value = animator().value(const_cast<IslandView*>(this), key)) {
        if (const double* number = std::get_if<double>(&*value))
            return *number;
    }
    return model;
}

QColor IslandView::presentationColor(const QString& key, const QColor& model) const
{
    if (const auto value = animator().value(const_cast<IslandView*>(this), key)) {
        if (const QColor* color = std::get_if<QColor>(&*value))
            return *color;
    }
    return model;
}

QRectF IslandView::presentationFrame() const
{
    auto* self = const_cast<IslandView*>(this);
    for (const QString& key : {kEchoRetractBounds, kEchoBounds, kMorphBounds}) {
        if (const auto value = animator().value(self, key)) {
            if (const QRectF* rect = std::get_if<QRectF>(&*value))
                return *rect;
        }
    }
    return QRectF(geometry());
}

double IslandView::presentationCornerRadius() const
{
    return presentationDouble(kEchoRetractRadius, presentationDouble(kMorphCornerRadius, m_cornerRadius));
}

QColor IslandView::presentationBackground() const
{
    return presentationColor(kMorphBackground, m_background);
}

QColor IslandView::presentationBorder() const
{
    return presentationColor(kMorphBorder, m_border);
}

double IslandView::presentationCollapsedContentOpacity() const
{
    return presentationDouble(kMorphCollapsedOpacity, m_collapsedContentOpacity);
}

double IslandView::presentationExpandedContentOpacity() const
{
    return presentationDouble(kMorphExpandedOpacity, m_expandedContentOpacity);
}

double IslandView::presentationExpandedContentScale() const
{
    return presentationDouble(kMorphContentScale, 1.0);
}

// MARK: - Drawing

QPainterPath IslandView::surfacePath(const QRectF& frame, double radius, bool hardwareNotch)
{
    QPainterPath surface;
    if (!hardwareNotch) {
        surface.addRoundedRect(frame, radius, radius);
        return surface;
    }
    // Over a camera housing only the lower corners are rounded: the top edge meets the screen's.
    surface.moveTo(frame.topLeft());
    surface.lineTo(frame.topRight());
    surface.lineTo(frame.right(), frame.bottom() - radius);
    surface.quadTo(frame.bottomRight(), QPointF(frame.right() - radius, frame.bottom()));
    surface.lineTo(frame.left() + radius, frame.bottom());
    surface.quadTo(frame.bottomLeft(), QPointF(frame.left(), frame.bottom() - radius));
    surface.closeSubpath();
    return surface;
}

QRegion IslandView::surfaceRegion(const QRectF& frame, double radius, bool hardwareNotch)
{
    if (!(frame.width() > 0 && frame.height() > 0))
        return {};
    const double r = std::clamp(radius, 0.0, std::min(frame.width(), frame.height()) / 2);
    // How far the outline lies inside the straight side at `v` from the rounded edge: a circular
    // corner, or over a camera housing a quadratic one (see surfacePath).
    const auto circular = [r](double v) {
        if (v >= r)
            return 0.0;
        const double d = r - std::max(v, 0.0);
        return r - std::sqrt(std::max(0.0, r * r - d * d));
    };
    const auto quadratic = [r](double v) {
        if (v >= r)
            return 0.0;
        const double t = 1 - std::sqrt(std::max(v, 0.0) / r);
        return r * t * t;
    };

    // One span per pixel row, of the pixels whose centres lie inside; equal rows are merged.
    std::vector<QRect> rects;
    const int firstRow = int(std::ceil(frame.top() - 0.5));
    const int endRow = int(std::ceil(frame.bottom() - 0.5));
    for (int y = firstRow; y < endRow; ++y) {
        const double centre = y + 0.5;
        double inset = 0;
        if (r > 0)
            inset = hardwareNotch ? quadratic(frame.bottom() - centre)
                                  : std::max(circular(centre - frame.top()), circular(frame.bottom() - centre));
        const int left = int(std::ceil(frame.left() + inset - 0.5));
        const int right = int(std::ceil(frame.right() - inset - 0.5)); // exclusive
        if (right <= left)
            continue;
        if (!rects.empty() && rects.back().left() == left && rects.back().right() == right - 1
            && rects.back().bottom() == y - 1)
            rects.back().setBottom(y);
        else
            rects.emplace_back(left, y, right - left, 1);
    }
    QRegion region;
    region.setRects(rects.data(), int(rects.size()));
    return region;
}

QRegion IslandView::presentedSurfaceRegion() const
{
    // While a morph or an echo runs, the animations' values move on between two frames; the
    // frame being painted is the one presentationDidChange() laid out (its roots and its mask).
    if (hasActiveIslandLayerAnimation() || m_echoFeedback)
        return m_presentedRegion;
    const QRectF frame = presentationFrame().translated(-QPointF(pos()));
    return surfaceRegion(frame, presentationCornerRadius(),
                         m_collapsedVisualStyle == CollapsedVisualStyle::hardwareNotch);
}

void IslandView::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const double layerOpacity =
        presentationDouble(kEchoRetractShell, presentationDouble(kEchoOpacityRestore, m_layerOpacity));
    painter.setOpacity(std::clamp(layerOpacity, 0.0, 1.0));

    const QRectF frame = presentationFrame().translated(-QPointF(pos()));
    if (frame.width() <= 0 || frame.height() <= 0)
        return;
    const double radius =
        std::max(0.0, std::min({presentationCornerRadius(), frame.height() / 2, frame.width() / 2}));
    const bool notch = m_collapsedVisualStyle == CollapsedVisualStyle::hardwareNotch;

    if (m_edgesCutToShape) {
        // The window shows exactly the surface's pixels: each of them is filled whole, and the
        // border's antialiasing stays inside them.
        const QRegion region = presentedSurfaceRegion();
        painter.setClipRegion(region);
        for (const QRect& rect : region)
            painter.fillRect(rect, presentationBackground());
    } else {
        painter.fillPath(surfacePath(frame, radius, notch), presentationBackground());
    }
    IslandTheme::strokeInsideBorder(painter, presentationBorder(), 1, [&](qreal inset) {
        // Over a camera housing the top edge is the screen's: no border along it.
        return surfacePath(frame.adjusted(inset, notch ? 0 : inset, -inset, -inset), std::max(0.0, radius - inset),
                           notch);
    });
    // The collapsed and expanded content are the two roots and the echo's badge,
    // child views drawn over the surface.
}

} // namespace QuillomareMac
