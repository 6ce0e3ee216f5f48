// The capture echo: the collapsed island grows for a moment after a copy and shows what became
// of it in its badge, then retracts.

#include "IslandView.h"

#include "CaptureEchoHUDView.h"
#include "Island/Kit/IslandScheduler.h"
#include "Island/Kit/IslandTheme.h"

#include <Platform/MotionPreferences.h>

#include <QPointer>

#include <algorithm>

namespace QuillomareMac {

using QuillomareCore::CaptureFeedback;

namespace {

// Response 0.32 s and damping fraction 0.85, written out as the spring's constants.
constexpr SpringParameters kEchoSpring{1, 385.5314219175531, 33.37942194439155};

constexpr qint64 kEchoDuration = 220 + 1350; // badge fade-in, then shown
constexpr qint64 kEchoDurationReducedMotion = 1000;
constexpr double kRetractDuration = 0.26;
constexpr double kBadgeRetractDuration = 0.13;
constexpr CubicCurve kRetractCurve{0.32, 0, 0.67, 1};
constexpr CubicCurve kRetractFadeCurve{0.42, 0, 0.98, 1};

// The badge's inset inside the island.
constexpr int kBadgeSideInset = 10;
constexpr int kBadgeBottomInset = 7;

} // namespace

// MARK: - Badge

CaptureEchoHUDView& IslandView::ensureCaptureEchoHUD()
{
    if (!m_captureEchoHUD) {
        m_captureEchoHUD = new CaptureEchoHUDView(this);
        m_captureEchoHUD->setAttribute(Qt::WA_TransparentForMouseEvents);
        m_captureEchoHUD->setFocusPolicy(Qt::NoFocus);
        m_captureEchoHUD->setBadgeOpacity(0);
        m_captureEchoHUD->hide();
    }
    return *m_captureEchoHUD;
}

void IslandView::placeCaptureEchoHUD()
{
    if (!m_captureEchoHUD)
        return;
    // Pinned to the echo's frame, not to the moving surface: the surface's mask reveals it as the
    // island grows. While the growth runs the widget may be wider than that frame.
    const QRect echo = m_echoGrowthFrame ? m_echoGrowthFrame->translated(-QPointF(pos())).toAlignedRect() : rect();
    const int width = std::max(0, echo.width() - 2 * kBadgeSideInset);
    const int top = echo.top() + echo.height() - kBadgeBottomInset - CaptureEchoHUDView::kBadgeHeight;
    m_captureEchoHUD->setBadgeGeometry(
        QRect(echo.left() + kBadgeSideInset, top, width, CaptureEchoHUDView::kBadgeHeight));
    m_captureEchoHUD->raise();
}

double IslandView::captureEchoWidth(const CaptureFeedback& feedback)
{
    return CaptureEchoHUDView::preferredBadgeWidth(feedback) + 2 * kBadgeSideInset;
}

void IslandView::setEchoBadgeOpacity(double opacity)
{
    if (m_captureEchoHUD)
        m_captureEchoHUD->setBadgeOpacity(std::clamp(opacity, 0.0, 1.0));
}

// MARK: - Capture echo

void IslandView::applyEchoChrome(bool active)
{
    if (active) {
        m_cornerRadius = 16;
        m_background = IslandTheme::collapsedBackground();
        m_border = IslandTheme::collapsedBorder();
        update();
    } else if (m_displayMode == DisplayMode::collapsed) {
        applySurfaceStyle(DisplayMode::collapsed);
    }
}

void IslandView::retireCollapseForEcho()
{
    if (m_displayMode != DisplayMode::collapsed || !animator().containsPrefix(this, kMorphPrefix))
        return;
    // The collapse's end would put the island back on its collapsed frame (and the controller
    // would shrink the stage) under the echo. The echo takes over from what is on screen; the
    // collapse counts as ended when the echo does.
    for (const auto& holder : m_pendingMorphCompletions) {
        if (*holder)
            m_echoHeldMorphCompletions.push_back(std::exchange(*holder, {}));
    }
    m_pendingMorphCompletions.clear();
    ++m_morphCompletionToken;
    animator().removeAll(this, kMorphPrefix);
    finalizeAnimatedDisplayMode(DisplayMode::collapsed);
}

void IslandView::releaseHeldMorphCompletions()
{
    auto held = std::exchange(m_echoHeldMorphCompletions, {});
    for (auto& completion : held)
        completion();
}

void IslandView::morphEchoFrame(const QRectF& from, const QRectF& to, bool expanding, std::function<void()> completion)
{
    if (!expanding) {
        if (completion)
            completion();
        return;
    }
    // What is on screen: a running growth or retract, or the surface of a collapse still moving.
    const bool echoRunning = animator().containsPrefix(this, kEchoPrefix);
    const bool collapseRunning = m_displayMode == DisplayMode::collapsed && animator().contains(this, kMorphBounds);
    const QRectF start = echoRunning || collapseRunning ? presentationFrame() : from;
    const double startOpacity = echoRunning
        ? presentationDouble(kEchoRetractShell, presentationDouble(kEchoOpacityRestore, m_layerOpacity))
        : m_layerOpacity;
    retireCollapseForEcho();

    animator().removeAll(this, kEchoPrefix);
    m_layerOpacity = 1;
    // The widget holds every pixel the surface covers on its way: a surface larger than the
    // widget would be cut square, and where the window is shaped to the surface the part outside
    // the widget would show whatever the window held there (black without a compositing manager).
    m_echoGrowthFrame = to;
    setModelFrame(start.united(to));
    placeCaptureEchoHUD();

    const quint64 token = ++m_echoMorphCompletionToken;
    IslandAnimationTransaction transaction(
        [weak = QPointer<IslandView>(this), token, to, completion = std::move(completion)] {
            if (weak && weak->m_echoMorphCompletionToken == token)
                weak->commitEchoMorphEnd(to);
            if (completion)
                completion();
        });
    const auto repaint = [this](const AnimatedValue&) { presentationDidChange(); };
    IslandAnimation grow = IslandAnimation::spring(start, to, kEchoSpring);
    // At its last frame the widget takes the echo's own rectangle back. (The token cannot tell:
    // the present that follows the growth moves it on.)
    grow.onFrame = [this, to](const AnimatedValue&) {
        if (!animator().contains(this, kEchoBounds) && m_echoGrowthFrame == to) {
            m_echoGrowthFrame.reset();
            setModelFrame(to);
            placeCaptureEchoHUD();
        }
        presentationDidChange();
    };
    grow.completion = transaction.track();
    animator().add(this, kEchoBounds, std::move(grow));
    if (startOpacity < 0.999) {
        IslandAnimation restore = IslandAnimation::timed(startOpacity, 1.0, 0.12);
        restore.onFrame = repaint;
        restore.completion = transaction.track();
        animator().add(this, kEchoOpacityRestore, std::move(restore));
    }
    transaction.commit();
    presentationDidChange();
}

void IslandView::commitEchoMorphEnd(const QRectF& finalFrame)
{
    animator().removeAll(this, kEchoPrefix);
    m_echoGrowthFrame.reset();
    setModelFrame(finalFrame);
    placeCaptureEchoHUD();
    presentationDidChange();
}

void IslandView::presentCaptureEcho(const CaptureFeedback& feedback, const QRectF& morphCollapsedFrame)
{
    // Reached without a growth (Reduce Motion sets the frame directly): a collapse still in flight
    // must not end under the echo either.
    retireCollapseForEcho();
    ++m_echoMorphCompletionToken;
    if (m_captureEchoDismissWorkItem)
        m_captureEchoDismissWorkItem->cancel();

    CaptureEchoHUDView& hud = ensureCaptureEchoHUD();
    hud.configure(feedback);
    m_echoFeedback = feedback;
    m_layerOpacity = 1;
    animator().removeAll(&hud);

    m_collapsedRoot->setVisible(false);
    m_expandedRoot->setVisible(false);
    applyEchoChrome(true);
    placeCaptureEchoHUD();
    hud.show();

    const bool reduceMotion = Platform::MotionPreferences::reduceMotion();
    if (reduceMotion) {
        setEchoBadgeOpacity(1);
    } else {
        setEchoBadgeOpacity(0);
        IslandAnimation fadeIn = IslandAnimation::timed(0.0, 1.0, 0.22);
        fadeIn.onFrame = [this](const AnimatedValue& value) {
            if (const double* opacity = std::get_if<double>(&value))
                setEchoBadgeOpacity(*opacity);
        };
        animator().add(&hud, kEchoBadgeFadeIn, std::move(fadeIn));
        hud.playRevealAnimation();
    }

    const qint64 delay = reduceMotion ? kEchoDurationReducedMotion : kEchoDuration;
    m_captureEchoDismissWorkItem = IslandScheduler::shared().schedule(
        delay, this, [weak = QPointer<IslandView>(this), morphCollapsedFrame] {
            if (!weak)
                return;
            if (weak->m_captureEchoDismissWorkItem)
                weak->m_captureEchoDismissWorkItem->cancel();
            weak->m_captureEchoDismissWorkItem.reset();
            if (Platform::MotionPreferences::reduceMotion())
                weak->finishEchoRetract(morphCollapsedFrame);
            else
                weak->retractCaptureEcho(morphCollapsedFrame);
        });
    presentationDidChange();
}

void IslandView::retractCaptureEcho(const QRectF& collapsedFrame)
{
    const quint64 token = ++m_echoMorphCompletionToken;

    // Start from what is on screen.
    const QRectF start = presentationFrame();
    const double startRadius = presentationCornerRadius();
    const double startOpacity =
        presentationDouble(kEchoRetractShell, presentationDouble(kEchoOpacityRestore, m_layerOpacity));
    const double badgeStart = m_captureEchoHUD ? m_captureEchoHUD->badgeOpacity() : 0;

    QRectF target = collapsedFrame;
    double targetOpacity = 1;
    if (m_collapsedVisualStyle == CollapsedVisualStyle::hardwareNotch) {
        // Over a camera housing the echo shrinks up into the screen edge as a small pill and
        // fades; the finish then snaps to the collapsed frame.
        const double width = std::max(
            std::min(std::max(std::min(0.62 * collapsedFrame.width(), 0.56 * start.width()), 132.0), start.width()), 1.0);
        const double height =
            std::max(std::min(std::max(std::min(0.42 * start.height(), 24.0), 18.0), start.height()), 1.0);
        // The canvas is y-down: the screen edge is the rectangle's top.
        target = QRectF(start.center().x() - width / 2, start.top(), width, height);
        targetOpacity = 0;
    }
    const double targetRadius = std::min(target.height() / 2, 16.0);

    // Freeze what is on screen, then move from there.
    animator().removeAll(this, kEchoPrefix);
    m_echoGrowthFrame.reset();
    if (m_captureEchoHUD)
        animator().removeAll(m_captureEchoHUD);
    setEchoBadgeOpacity(badgeStart);
    m_cornerRadius = targetRadius;
    m_layerOpacity = targetOpacity;

    IslandAnimationTransaction transaction([weak = QPointer<IslandView>(this), token, collapsedFrame] {
        if (weak && weak->m_echoMorphCompletionToken == token)
            weak->finishEchoRetract(collapsedFrame);
    });
    const auto repaint = [this](const AnimatedValue&) { presentationDidChange(); };
    const auto add = [&](QObject* owner, const QString& key, IslandAnimation animation) {
        if (!animation.onFrame)
            animation.onFrame = repaint;
        animation.completion = transaction.track();
        animator().add(owner, key, std::move(animation));
    };
    IslandAnimation bounds = IslandAnimation::timed(start, target, kRetractDuration, kRetractCurve);
    // The echo ends a turn of the event loop after the retract's last frame; a frame drawn in
    // between must not fall back to the echo's rectangle the view keeps meanwhile.
    bounds.onFrame = [this, token, target](const AnimatedValue&) {
        if (!animator().contains(this, kEchoRetractBounds) && m_echoMorphCompletionToken == token)
            setModelFrame(target);
        presentationDidChange();
    };
    add(this, kEchoRetractBounds, std::move(bounds));
    add(this, kEchoRetractRadius, IslandAnimation::timed(startRadius, targetRadius, kRetractDuration, kRetractCurve));
    if (m_captureEchoHUD) {
        IslandAnimation fade = IslandAnimation::timed(badgeStart, 0.0, kBadgeRetractDuration, kRetractFadeCurve);
        fade.onFrame = [this](const AnimatedValue& value) {
            if (const double* opacity = std::get_if<double>(&value))
                setEchoBadgeOpacity(*opacity);
        };
        add(m_captureEchoHUD, kEchoRetractHUD, std::move(fade));
    }
    if (std::abs(startOpacity - targetOpacity) > 1e-9)
        add(this, kEchoRetractShell,
            IslandAnimation::timed(startOpacity, targetOpacity, kRetractDuration, kRetractFadeCurve));
    if (m_collapsedVisualStyle == CollapsedVisualStyle::floatingPill && m_displayMode == DisplayMode::collapsed) {
        // Once the badge is gone the shell would retract empty: the pill's own content fades in
        // on it meanwhile, so that the pill the echo ends on is never an empty capsule.
        m_collapsedRoot->setVisible(true);
        IslandAnimation content =
            IslandAnimation::timed(0.0, 1.0, kRetractDuration - kBadgeRetractDuration, CubicCurve::easeOut());
        content.beginDelay = kBadgeRetractDuration;
        add(this, kEchoRetractContent, std::move(content));
    }
    transaction.commit();
    presentationDidChange();
}

void IslandView::finishEchoRetract(const QRectF& collapsedFrame)
{
    animator().removeAll(this, kEchoPrefix);
    m_echoGrowthFrame.reset();
    if (m_captureEchoHUD) {
        animator().removeAll(m_captureEchoHUD);
        setEchoBadgeOpacity(0);
        m_captureEchoHUD->hide();
    }
    m_echoFeedback.reset();
    setModelFrame(collapsedFrame);
    if (m_displayMode == DisplayMode::collapsed) {
        applySurfaceStyle(DisplayMode::collapsed);
        m_collapsedRoot->setVisible(true);
        m_expandedRoot->setVisible(false);
        m_collapsedContentOpacity = m_collapsedVisualStyle == CollapsedVisualStyle::floatingPill ? 1 : 0;
        m_expandedContentOpacity = 0;
    }
    m_layerOpacity = 1;
    updateExpandedChildren();
    update();
    // A collapse the echo took over ends now, before the echo's own end is reported.
    releaseHeldMorphCompletions();
    if (onCaptureEchoDidFinish)
        onCaptureEchoDidFinish();
}

void IslandView::dismissCaptureEchoImmediately()
{
    if (m_captureEchoDismissWorkItem)
        m_captureEchoDismissWorkItem->cancel();
    m_captureEchoDismissWorkItem.reset();
    ++m_echoMorphCompletionToken;
    animator().removeAll(this, kEchoPrefix);
    m_echoGrowthFrame.reset();
    if (m_captureEchoHUD) {
        animator().removeAll(m_captureEchoHUD);
        setEchoBadgeOpacity(0);
        m_captureEchoHUD->hide();
    }
    m_layerOpacity = 1;
    const bool wasShown = m_echoFeedback.has_value();
    m_echoFeedback.reset();
    if (m_displayMode == DisplayMode::collapsed)
        applySurfaceStyle(DisplayMode::collapsed);
    if (wasShown && m_displayMode == DisplayMode::collapsed)
        m_collapsedRoot->setVisible(true);
    presentationDidChange();
    // The held collapse is over either way; its owner decides what its end means now.
    releaseHeldMorphCompletions();
}

void IslandView::showCaptureEchoPreview(const CaptureFeedback& feedback)
{
    if (m_captureEchoDismissWorkItem)
        m_captureEchoDismissWorkItem->cancel();
    CaptureEchoHUDView& hud = ensureCaptureEchoHUD();
    hud.configure(feedback);
    m_echoFeedback = feedback;
    m_layerOpacity = 1;
    m_collapsedRoot->setVisible(false);
    m_expandedRoot->setVisible(false);
    applyEchoChrome(true);
    placeCaptureEchoHUD();
    setEchoBadgeOpacity(1);
    hud.show();
    presentationDidChange();
}

} // namespace QuillomareMac
