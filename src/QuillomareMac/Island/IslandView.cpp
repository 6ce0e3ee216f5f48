#include "IslandView.h"

#include "IslandScheduler.h"
#include "IslandTheme.h"

#include <Platform/MotionPreferences.h>

#include <QFontMetricsF>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QPointer>

#include <algorithm>

namespace QuillomareMac {

using QuillomareCore::CaptureFeedback;

namespace {

const QString kMorphBounds = QStringLiteral("morph.bounds");
const QString kMorphCornerRadius = QStringLiteral("morph.cornerRadius");
const QString kMorphBackground = QStringLiteral("morph.backgroundColor");
const QString kMorphBorder = QStringLiteral("morph.borderColor");
const QString kMorphCollapsedOpacity = QStringLiteral("morph.opacity.collapsedRoot");
const QString kMorphExpandedOpacity = QStringLiteral("morph.opacity.expandedRoot");
const QString kEchoBounds = QStringLiteral("echo.bounds");
const QString kEchoOpacityRestore = QStringLiteral("echo.opacity.restore");
// The badge is a layer of its own: its fade does not count as an island-layer animation.
const QString kBadgeOpacity = QStringLiteral("badge.opacity");

const QString kMorphPrefix = QStringLiteral("morph.");
const QString kEchoPrefix = QStringLiteral("echo.");

// Response 0.32 s and damping fraction 0.85, written out as the spring's constants.
constexpr SpringParameters kEchoSpring{1, 385.5314219175531, 33.37942194439155};
constexpr CubicCurve kCollapseFadeCurve{0.36, 0, 0.7, 1};

constexpr qint64 kEchoDuration = 1570;             // 0.22 s fade-in + 1.35 s shown
constexpr qint64 kEchoDurationReducedMotion = 1000;

QString echoStatusText(const CaptureFeedback& feedback)
{
    using Case = CaptureFeedback::SaveStatus::Case;
    switch (feedback.status.caseOf()) {
    case Case::ignored:
        return L10n::text(QStringLiteral("已忽略"), QStringLiteral("Ignored"));
    case Case::failed:
        return L10n::text(QStringLiteral("未保存"), QStringLiteral("Not Saved"));
    case Case::saved:
        return L10n::text(QStringLiteral("已保存"), QStringLiteral("Saved"));
    case Case::duplicate:
        return L10n::text(QStringLiteral("重复"), QStringLiteral("Duplicate"));
    }
    return {};
}

} // namespace

IslandView::IslandView(const QRect& frame, QWidget* parent) : QWidget(parent)
{
    setGeometry(frame);
    setup();
}

IslandView::~IslandView()
{
    if (m_captureEchoDismissWorkItem)
        m_captureEchoDismissWorkItem->cancel();
}

void IslandView::setup()
{
    setAttribute(Qt::WA_NoSystemBackground);
    setAutoFillBackground(false);
    setFocusPolicy(Qt::NoFocus);

    m_searchInput = new QLineEdit(this);
    m_searchInput->setObjectName(QStringLiteral("searchInput"));
    m_searchInput->setPlaceholderText(L10n::text(QStringLiteral("搜索历史"), QStringLiteral("Search history")));
    m_searchInput->setFrame(false);
    m_searchInput->setAttribute(Qt::WA_MacShowFocusRect, false);
    QPalette palette = m_searchInput->palette();
    palette.setColor(QPalette::Base, IslandTheme::searchBackground());
    palette.setColor(QPalette::Text, QColor::fromRgbF(1, 1, 1, 0.92f));
    palette.setColor(QPalette::PlaceholderText, QColor::fromRgbF(1, 1, 1, 0.38f));
    m_searchInput->setPalette(palette);
    m_searchInput->setTextMargins(12, 0, 12, 0);
    m_searchInput->hide();

    setDisplayMode(DisplayMode::collapsed, false);
    updateContentModeVisibility(false);
}

// MARK: - Modes

void IslandView::setDisplayMode(DisplayMode mode, bool /*animated*/)
{
    m_displayMode = mode;
    if (mode == DisplayMode::expanded)
        dismissCaptureEchoImmediately();
    applySurfaceStyle(mode);
    m_collapsedContentOpacity =
        (mode == DisplayMode::collapsed && m_collapsedVisualStyle == CollapsedVisualStyle::floatingPill) ? 1 : 0;
    m_expandedContentOpacity = mode == DisplayMode::expanded ? 1 : 0;
    // A morph still in flight must not finish into the state this switch replaced.
    ++m_morphCompletionToken;
    animator().removeAll(this);
    updateExpandedChildren();
    update();
}

void IslandView::finalizeAnimatedDisplayMode(DisplayMode mode)
{
    applySurfaceStyle(mode);
    if (mode == DisplayMode::expanded) {
        m_collapsedContentOpacity = 0;
        m_expandedContentOpacity = 1;
    } else {
        m_collapsedContentOpacity = m_collapsedVisualStyle == CollapsedVisualStyle::floatingPill ? 1 : 0;
        m_expandedContentOpacity = 0;
    }
    updateExpandedChildren();
    update();
}

void IslandView::setContentMode(ContentMode mode, bool animated)
{
    if (mode != m_contentMode) {
        m_contentMode = mode;
        updateContentModeVisibility(animated);
        return;
    }
    updateContentModeVisibility(false);
}

void IslandView::updateContentModeVisibility(bool /*animated*/)
{
    updateExpandedChildren();
}

void IslandView::updateExpandedChildren()
{
    const bool expanded = m_displayMode == DisplayMode::expanded;
    m_searchInput->setVisible(expanded && m_contentMode == ContentMode::history);
    m_searchInput->setGeometry(17, int(m_expandedTopInset + 32 + 7), std::clamp(width() - 34, 0, 246), 28);
}

void IslandView::setCollapsedVisualStyle(CollapsedVisualStyle style)
{
    // The masked corners follow the style on every call; they are read when painting.
    if (style != m_collapsedVisualStyle) {
        m_collapsedVisualStyle = style;
        applySurfaceStyle(m_displayMode);
        if (m_displayMode == DisplayMode::collapsed)
            m_collapsedContentOpacity = style == CollapsedVisualStyle::floatingPill ? 1 : 0;
    }
    update();
}

void IslandView::setExpandedTopInset(double inset)
{
    m_expandedTopInset = inset;
    updateExpandedChildren();
}

void IslandView::setNotchHeaderLayout(double notchWidth, double stripHeight)
{
    m_notchHeaderWidth = notchWidth;
    m_notchHeaderStripHeight = stripHeight;
}

void IslandView::setExpandedContentHeight(double height)
{
    m_expandedContentHeight = height;
}

// MARK: - Surface

IslandView::SurfaceLook IslandView::surfaceLook(DisplayMode mode) const
{
    if (mode == DisplayMode::expanded)
        return {12, IslandTheme::expandedBackground(), IslandTheme::expandedBorder(), 0.16};
    if (m_collapsedVisualStyle == CollapsedVisualStyle::floatingPill)
        return {16, IslandTheme::collapsedBackground(), IslandTheme::collapsedBorder(), 0.1};
    return {16, QColor(0, 0, 0, 0), QColor(0, 0, 0, 0), 0};
}

void IslandView::applySurfaceStyle(DisplayMode mode)
{
    const SurfaceLook look = surfaceLook(mode);
    m_cornerRadius = look.cornerRadius;
    m_background = look.background;
    m_border = look.border;
    m_backdropAlpha = look.backdropAlpha;
    update();
}

void IslandView::setModelFrame(const QRectF& frame)
{
    setGeometry(frame.toAlignedRect());
}

void IslandView::syncBackingLayerToCurrentFrameWithoutAnimation()
{
    animator().removeAll(this, kMorphPrefix);
    animator().removeAll(this, kEchoPrefix);
    animator().remove(this, kBadgeOpacity);
    applySurfaceStyle(m_displayMode);
    m_layerOpacity = 1;
    update();
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
    m_displayMode = target;
    if (expanding)
        dismissCaptureEchoImmediately();

    // A morph that interrupts another carries on from what is on screen, with its velocity.
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
    m_backdropAlpha = targetLook.backdropAlpha;

    const quint64 token = ++m_morphCompletionToken;
    IslandAnimationTransaction transaction([weak = QPointer<IslandView>(this), token, to, target,
                                            completion = std::move(completion)] {
        if (weak && weak->m_morphCompletionToken == token)
            weak->commitMorphEnd(to, target);
        if (completion)
            completion();
    });

    const SpringParameters spring = SpringParameters::fromResponse(response, damping);
    const double settling = spring.settlingDuration();
    const auto repaint = [this](const AnimatedValue&) { update(); };
    const auto add = [&](const QString& key, IslandAnimation animation) {
        animation.onFrame = repaint;
        animation.completion = transaction.track();
        animator().add(this, key, std::move(animation));
    };

    add(kMorphBounds, IslandAnimation::spring(interrupting ? std::nullopt : std::optional<AnimatedValue>(start), to,
                                               spring));
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
    } else {
        const double fade = std::min(std::max(0.34 * settling, 0.16), 0.2);
        m_expandedContentOpacity = 0;
        add(kMorphExpandedOpacity, IslandAnimation::timed(startExpandedOpacity, 0.0, fade, kCollapseFadeCurve));
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
    const auto repaint = [this](const AnimatedValue&) { update(); };
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
    update();
}

void IslandView::commitEchoMorphEnd(const QRectF& finalFrame)
{
    animator().removeAll(this, kEchoPrefix);
    setModelFrame(finalFrame);
    update();
}

void IslandView::presentCaptureEcho(const CaptureFeedback& feedback, const QRectF& morphCollapsedFrame)
{
    ++m_echoMorphCompletionToken;
    if (m_captureEchoDismissWorkItem)
        m_captureEchoDismissWorkItem->cancel();
    m_echoFeedback = feedback;
    m_layerOpacity = 1;
    animator().remove(this, kBadgeOpacity);
    m_searchInput->hide();
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
    update();
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
    update();
}

// MARK: - Search

void IslandView::focusSearch()
{
    m_searchInput->setFocus(Qt::OtherFocusReason);
    m_searchInput->selectAll();
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
    for (const QString& key : {kEchoBounds, kMorphBounds}) {
        if (const auto value = animator().value(self, key)) {
            if (const QRectF* rect = std::get_if<QRectF>(&*value))
                return *rect;
        }
    }
    return QRectF(geometry());
}

double IslandView::presentationCornerRadius() const
{
    return presentationDouble(kMorphCornerRadius, m_cornerRadius);
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

// MARK: - Events

void IslandView::resizeEvent(QResizeEvent* event)
{
    QWidget::resizeEvent(event);
    updateExpandedChildren();
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

void IslandView::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setOpacity(std::clamp(presentationDouble(kEchoOpacityRestore, m_layerOpacity), 0.0, 1.0));

    const QRectF frame = presentationFrame().translated(-QPointF(pos()));
    if (frame.width() <= 0 || frame.height() <= 0)
        return;
    const double radius =
        std::max(0.0, std::min({presentationCornerRadius(), frame.height() / 2, frame.width() / 2}));

    // Over a camera housing only the lower corners are rounded: the top edge meets the screen's.
    QPainterPath surface;
    if (m_collapsedVisualStyle == CollapsedVisualStyle::hardwareNotch) {
        surface.moveTo(frame.topLeft());
        surface.lineTo(frame.topRight());
        surface.lineTo(frame.right(), frame.bottom() - radius);
        surface.quadTo(frame.bottomRight(), QPointF(frame.right() - radius, frame.bottom()));
        surface.lineTo(frame.left() + radius, frame.bottom());
        surface.quadTo(frame.bottomLeft(), QPointF(frame.left(), frame.bottom() - radius));
        surface.closeSubpath();
    } else {
        surface.addRoundedRect(frame, radius, radius);
    }
    painter.fillPath(surface, presentationBackground());
    const QColor border = presentationBorder();
    if (border.alpha() > 0) {
        painter.setPen(QPen(border, 1));
        painter.drawPath(surface);
    }
    painter.setClipPath(surface);

    if (m_echoFeedback) {
        const double badgeOpacity = presentationDouble(kBadgeOpacity, 1.0);
        painter.setOpacity(painter.opacity() * badgeOpacity);
        QFont font = painter.font();
        font.setPixelSize(12);
        font.setWeight(QFont::DemiBold);
        painter.setFont(font);
        painter.setPen(QColor::fromRgbF(1, 1, 1, 0.92f));
        const QRectF badge = frame.adjusted(16, 7, -16, -7);
        painter.drawText(badge, Qt::AlignLeft | Qt::AlignVCenter, m_echoFeedback->primaryLabel());
        painter.setPen(QColor::fromRgbF(1, 1, 1, 0.55f));
        painter.drawText(badge, Qt::AlignRight | Qt::AlignVCenter, echoStatusText(*m_echoFeedback));
        return;
    }

    const double collapsedOpacity = presentationCollapsedContentOpacity();
    if (collapsedOpacity > 0.001) {
        painter.save();
        painter.setOpacity(painter.opacity() * collapsedOpacity);
        const QRectF content = frame.adjusted(18, 7, -18, -7);
        const double midY = content.center().y();
        painter.setPen(Qt::NoPen);
        painter.setBrush(QColor::fromRgbF(0.56f, 0.56f, 0.58f));
        painter.drawEllipse(QRectF(content.left(), midY - 3, 6, 6));
        QFont font = painter.font();
        font.setPixelSize(11);
        font.setWeight(QFont::DemiBold);
        painter.setFont(font);
        painter.setPen(QColor::fromRgbF(1, 1, 1, 0.88f));
        painter.drawText(content.adjusted(12, 0, -24, 0), Qt::AlignLeft | Qt::AlignVCenter, QStringLiteral("Quillomare"));
        font.setPixelSize(10);
        painter.setFont(font);
        painter.setPen(QColor::fromRgbF(1, 1, 1, 0.5f));
        painter.drawText(content, Qt::AlignRight | Qt::AlignVCenter, QStringLiteral("0"));
        painter.restore();
    }
}

} // namespace QuillomareMac
