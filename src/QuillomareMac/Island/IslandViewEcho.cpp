// The capture echo: the collapsed island grows for a moment after a copy and shows what became
// of it, then retracts.

#include "IslandView.h"

#include "IslandScheduler.h"
#include "IslandTheme.h"

#include <Platform/MotionPreferences.h>

#include <QPointer>

namespace QuillomareMac {

using QuillomareCore::CaptureFeedback;

namespace {

// Response 0.32 s and damping fraction 0.85, written out as the spring's constants.
constexpr SpringParameters kEchoSpring{1, 385.5314219175531, 33.37942194439155};

constexpr qint64 kEchoDuration = 1570;             // 0.22 s fade-in + 1.35 s shown
constexpr qint64 kEchoDurationReducedMotion = 1000;

} // namespace

// MARK: - Capture echo

void IslandView::applyEchoChrome(bool active)
{
    if (active) {
        m_cornerRadius = 16;
        m_background = IslandTheme::collapsedBackground();
        m_border = IslandTheme::collapsedBorder();
        m_backdropAlpha = 0.1;
        update();
    } else if (m_displayMode == DisplayMode::collapsed) {
        applySurfaceStyle(DisplayMode::collapsed);
    }
}

void IslandView::morphEchoFrame(const QRectF& from, const QRectF& to, bool expanding, std::function<void()> completion)
{
    if (!expanding) {
        if (completion)
            completion();
        return;
    }
    const bool growing = animator().containsPrefix(this, kEchoPrefix);
    const QRectF start = growing ? presentationFrame() : from;
    const double startOpacity = growing ? presentationDouble(kEchoOpacityRestore, m_layerOpacity) : m_layerOpacity;

    animator().removeAll(this, kEchoPrefix);
    m_layerOpacity = 1;
    setModelFrame(to);

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
    grow.onFrame = repaint;
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
    setModelFrame(finalFrame);
    presentationDidChange();
}

void IslandView::presentCaptureEcho(const CaptureFeedback& feedback, const QRectF& morphCollapsedFrame)
{
    ++m_echoMorphCompletionToken;
    if (m_captureEchoDismissWorkItem)
        m_captureEchoDismissWorkItem->cancel();
    m_echoFeedback = feedback;
    m_layerOpacity = 1;
    animator().remove(this, kBadgeOpacity);
    applyEchoChrome(true);

    const bool reduceMotion = Platform::MotionPreferences::reduceMotion();
    if (!reduceMotion) {
        IslandAnimation fadeIn = IslandAnimation::timed(0.0, 1.0, 0.22);
        fadeIn.onFrame = [this](const AnimatedValue&) { update(); };
        animator().add(this, kBadgeOpacity, std::move(fadeIn));
    }

    const qint64 delay = reduceMotion ? kEchoDurationReducedMotion : kEchoDuration;
    m_captureEchoDismissWorkItem = IslandScheduler::shared().schedule(
        delay, this, [weak = QPointer<IslandView>(this), morphCollapsedFrame] {
            if (!weak)
                return;
            if (weak->m_captureEchoDismissWorkItem)
                weak->m_captureEchoDismissWorkItem->cancel();
            weak->m_captureEchoDismissWorkItem.reset();
            weak->finishEchoRetract(morphCollapsedFrame);
        });
    presentationDidChange();
}

void IslandView::finishEchoRetract(const QRectF& collapsedFrame)
{
    animator().removeAll(this, kEchoPrefix);
    animator().remove(this, kBadgeOpacity);
    m_echoFeedback.reset();
    setModelFrame(collapsedFrame);
    if (m_displayMode == DisplayMode::collapsed) {
        applySurfaceStyle(DisplayMode::collapsed);
        m_collapsedContentOpacity = m_collapsedVisualStyle == CollapsedVisualStyle::floatingPill ? 1 : 0;
        m_expandedContentOpacity = 0;
    }
    m_layerOpacity = 1;
    updateExpandedChildren();
    update();
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
    animator().remove(this, kBadgeOpacity);
    m_layerOpacity = 1;
    m_echoFeedback.reset();
    if (m_displayMode == DisplayMode::collapsed)
        applySurfaceStyle(DisplayMode::collapsed);
    presentationDidChange();
}

} // namespace QuillomareMac
