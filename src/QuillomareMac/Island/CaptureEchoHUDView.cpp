#include "CaptureEchoHUDView.h"

#include "Island/Kit/IslandAnimation.h"
#include "Island/Kit/IslandScheduler.h"
#include "Island/Kit/IslandTheme.h"

#include <Platform/MotionPreferences.h>
#include <QuillomareCore/Foundation.h>
#include <QuillomareCore/Language.h>

#include <QFontMetricsF>
#include <QPainter>

#include <algorithm>
#include <cmath>

namespace QuillomareMac {

namespace Language = QuillomareCore::Language;

using IslandTheme::rgb;
using IslandTheme::white;
using QuillomareCore::CaptureFeedback;
using QuillomareCore::ClipKind;

namespace {

const QString kRevealScaleKey = QStringLiteral("echoRevealScale");
const QString kTextFadeKey = QStringLiteral("echoTextFade");
const QString kTextSlideKey = QStringLiteral("echoTextSlide");
const QString kGlowKey = QStringLiteral("echoGlow");

constexpr SpringParameters kRevealSpring{1, 320, 22};
constexpr double kTextRevealDuration = 0.24;
constexpr double kTextSlideDistance = 7;
constexpr double kGlowDuration = 0.55;
constexpr qint64 kStatusBadgeShowDelay = 60; // ms, with the status badge's scale delay

IslandAnimator& animator()
{
    return IslandAnimator::shared();
}

QFont titleFont()
{
    return IslandTheme::systemFont(13, QFont::DemiBold);
}

QFont subtitleFont()
{
    return IslandTheme::systemFont(11, QFont::Normal);
}

QFont statusFont()
{
    return IslandTheme::systemFont(10.5, QFont::Bold);
}

// Labels are one line: a reason with a line break in it shows as one line too.
QString singleLine(QString text)
{
    text.replace(QLatin1String("\r\n"), QLatin1String(" "));
    for (QChar& c : text) {
        if (c == u'\n' || c == u'\r' || c == QChar::LineSeparator || c == QChar::ParagraphSeparator)
            c = u' ';
    }
    return text;
}

// The glow's keyframes: 0 → 0.42 at 45 % → 0.3, over the eased progress.
double glowAt(double progress)
{
    constexpr double peakTime = 0.45;
    constexpr double peak = 0.42;
    const double t = std::clamp(progress, 0.0, 1.0);
    if (t <= peakTime)
        return peak * t / peakTime;
    return peak + (CaptureEchoHUDView::kRestingGlowOpacity - peak) * (t - peakTime) / (1 - peakTime);
}

void paintScaled(QPainter& painter, const QRectF& rect, double scale)
{
    if (std::abs(scale - 1) < 1e-6)
        return;
    const QPointF centre = rect.center();
    painter.translate(centre);
    painter.scale(scale, scale);
    painter.translate(-centre);
}

} // namespace

CaptureEchoHUDView::CaptureEchoHUDView(QWidget* parent)
    : QWidget(parent), m_iconBadgeLayer(new QObject(this)), m_statusBadgeLayer(new QObject(this)),
      m_titleLayer(new QObject(this)), m_subtitleLayer(new QObject(this))
{
    m_iconBadgeLayer->setObjectName(QStringLiteral("iconBadge"));
    m_statusBadgeLayer->setObjectName(QStringLiteral("statusBadge"));
    m_titleLayer->setObjectName(QStringLiteral("titleLabel"));
    m_subtitleLayer->setObjectName(QStringLiteral("subtitleLabel"));
    // Clicks pass through to whatever lies below the badge.
    setAttribute(Qt::WA_TransparentForMouseEvents);
    setAttribute(Qt::WA_NoSystemBackground);
    setFocusPolicy(Qt::NoFocus);
    configure(CaptureFeedback{});
}

CaptureEchoHUDView::~CaptureEchoHUDView()
{
    if (m_statusRevealWork)
        m_statusRevealWork->cancel();
    for (QObject* owner :
         {static_cast<QObject*>(this), m_iconBadgeLayer, m_statusBadgeLayer, m_titleLayer, m_subtitleLayer})
        animator().removeAll(owner);
}

// MARK: - Rules

CaptureEchoHUDView::Outcome CaptureEchoHUDView::outcome(const CaptureFeedback& feedback)
{
    if (feedback.isSensitive)
        return Outcome::sensitive;
    switch (feedback.status.caseOf()) {
    case CaptureFeedback::SaveStatus::Case::ignored:
        return Outcome::ignored;
    case CaptureFeedback::SaveStatus::Case::failed:
        return Outcome::failed;
    case CaptureFeedback::SaveStatus::Case::saved:
        return Outcome::saved;
    case CaptureFeedback::SaveStatus::Case::duplicate:
        return Outcome::duplicate;
    }
    return Outcome::failed;
}

CaptureEchoHUDView::StatusPalette CaptureEchoHUDView::paletteFor(Outcome outcome)
{
    switch (outcome) {
    case Outcome::sensitive:
        return {rgb(1.0, 0.62, 0.22),       rgb(1.0, 0.62, 0.22, 0.18), rgb(1.0, 0.78, 0.42),
                rgb(1.0, 0.62, 0.22, 0.16), rgb(1.0, 0.78, 0.42),       QStringLiteral("lock.fill")};
    case Outcome::ignored:
        return {white(0.28), white(0.08), white(0.62), white(0.08), white(0.58), QStringLiteral("minus.circle.fill")};
    case Outcome::failed:
        return {rgb(1.0, 0.36, 0.34),       rgb(1.0, 0.36, 0.34, 0.16), rgb(1.0, 0.52, 0.48),
                rgb(1.0, 0.36, 0.34, 0.18), rgb(1.0, 0.52, 0.48),       QStringLiteral("xmark.circle.fill")};
    case Outcome::saved:
        return {rgb(0.36, 0.78, 0.54),       rgb(0.36, 0.78, 0.54, 0.16), rgb(0.52, 0.92, 0.68),
                rgb(0.36, 0.78, 0.54, 0.18), rgb(0.52, 0.92, 0.68),       QStringLiteral("checkmark.circle.fill")};
    case Outcome::duplicate:
        return {rgb(0.38, 0.64, 0.96), rgb(0.38, 0.64, 0.96, 0.16),
                rgb(0.58, 0.78, 1.0),  rgb(0.38, 0.64, 0.96, 0.18),
                rgb(0.58, 0.78, 1.0),  QStringLiteral("arrow.triangle.2.circlepath")};
    }
    return paletteFor(Outcome::failed);
}

CaptureEchoHUDView::StatusPalette CaptureEchoHUDView::coloredPalette(const CaptureFeedback& feedback)
{
    return paletteFor(outcome(feedback));
}

QString CaptureEchoHUDView::kindSymbol(const CaptureFeedback& feedback)
{
    if (feedback.isSensitive)
        return QStringLiteral("lock.fill");
    if (!feedback.kind)
        return QStringLiteral("doc.on.clipboard.fill");
    switch (*feedback.kind) {
    case ClipKind::text:
        return QStringLiteral("doc.text.fill");
    case ClipKind::url:
        return QStringLiteral("link");
    case ClipKind::file:
        return QStringLiteral("doc.fill");
    case ClipKind::image:
        return QStringLiteral("photo.fill");
    case ClipKind::unknown:
        break;
    }
    return QStringLiteral("doc.on.clipboard.fill");
}

QString CaptureEchoHUDView::titleText(const CaptureFeedback& feedback)
{
    if (feedback.isSensitive)
        return Language::text(QStringLiteral("敏感内容"), QStringLiteral("Sensitive content"));
    if (!feedback.kind)
        return Language::text(QStringLiteral("剪贴板"), QStringLiteral("Clipboard"));
    return Language::localizedDisplayName(*feedback.kind);
}

QString CaptureEchoHUDView::subtitleText(const CaptureFeedback& feedback)
{
    using Case = CaptureFeedback::SaveStatus::Case;
    // A capture that was not kept must never read as saved: its reason comes first, and without
    // reason or source the line says that nothing was kept.
    const bool notKept = feedback.status.caseOf() == Case::ignored || feedback.status.caseOf() == Case::failed;
    if (notKept && !QuillomareCore::Text::trimmed(feedback.status.reason()).isEmpty())
        return feedback.status.reason();
    const QString name = QuillomareCore::Text::trimmed(feedback.sourceAppName.value_or(QString()));
    if (!name.isEmpty())
        return Language::text(QStringLiteral("来自 ") + name, QStringLiteral("From ") + name);
    if (notKept)
        return Language::text(QStringLiteral("未存入历史"), QStringLiteral("Not in history"));
    return Language::text(QStringLiteral("已存入Quillomare"), QStringLiteral("Saved to Quillomare"));
}

QString CaptureEchoHUDView::localizedStatusLabel(const QString& word)
{
    if (Language::isChinese())
        return word;
    // No key begins another, so at most one matches as a beginning.
    static const std::pair<QString, QString> table[] = {
        {QStringLiteral("已保存"), QStringLiteral("Saved")},   {QStringLiteral("重复"), QStringLiteral("Duplicate")},
        {QStringLiteral("已忽略"), QStringLiteral("Ignored")}, {QStringLiteral("未保存"), QStringLiteral("Not saved")},
        {QStringLiteral("敏感"), QStringLiteral("Sensitive")},
    };
    for (const auto& [key, english] : table) {
        if (word == key)
            return english;
    }
    for (const auto& [key, english] : table) {
        if (word.startsWith(key))
            return english + word.sliced(key.size());
    }
    return word;
}

// MARK: - Configure and reveal

void CaptureEchoHUDView::configure(const CaptureFeedback& feedback)
{
    m_feedback = feedback;
    m_palette = coloredPalette(feedback);
    m_kindSymbol = kindSymbol(feedback);
    m_title = titleText(feedback);
    m_subtitle = subtitleText(feedback);
    m_statusText = localizedStatusLabel(feedback.statusLabel());
    setAccessibleName(m_title + QStringLiteral(", ") + m_subtitle);
    setAccessibleDescription(m_statusText);
    // The glow rises only with the next reveal.
    animator().remove(this, kGlowKey);
    m_glowOpacity = 0;
    updateGeometry();
    update();
}

void CaptureEchoHUDView::playRevealAnimation()
{
    if (Platform::MotionPreferences::reduceMotion()) {
        animator().remove(this, kGlowKey);
        m_glowOpacity = kRestingGlowOpacity;
        update();
        return;
    }

    m_iconBadgeScale = 0.72;
    m_statusBadgeAlpha = 0;
    m_statusBadgeScale = 0.88;
    animateScale(m_iconBadgeLayer, m_iconBadgeScale, 1, 0);
    animateScale(m_statusBadgeLayer, m_statusBadgeScale, 1, 0.06);

    if (m_statusRevealWork)
        m_statusRevealWork->cancel();
    m_statusRevealWork = IslandScheduler::shared().schedule(kStatusBadgeShowDelay, this, [this] {
        m_statusBadgeAlpha = 1;
        update();
    });

    slideFadeIn(m_titleLayer, 0.03);
    slideFadeIn(m_subtitleLayer, 0.07);

    IslandAnimation glow = IslandAnimation::timed(0.0, 1.0, kGlowDuration, CubicCurve::easeOut());
    glow.onFrame = [this](const AnimatedValue&) { update(); };
    animator().add(this, kGlowKey, std::move(glow));
    m_glowOpacity = kRestingGlowOpacity;
    update();
}

void CaptureEchoHUDView::animateScale(QObject* layer, double& modelScale, double target, double delay)
{
    if (!layer)
        return;
    const double from = presentedDouble(layer, kRevealScaleKey, modelScale);
    IslandAnimation spring = IslandAnimation::spring(from, target, kRevealSpring);
    spring.initialVelocity = 0.0;
    spring.beginDelay = delay;
    spring.onFrame = [this](const AnimatedValue&) { update(); };
    animator().add(layer, kRevealScaleKey, std::move(spring));
    modelScale = target;
}

void CaptureEchoHUDView::slideFadeIn(QObject* layer, double delay)
{
    if (!layer)
        return;
    IslandAnimation fade = IslandAnimation::timed(0.0, 1.0, kTextRevealDuration, CubicCurve::standard());
    fade.beginDelay = delay;
    fade.onFrame = [this](const AnimatedValue&) { update(); };
    IslandAnimation slide =
        IslandAnimation::timed(-kTextSlideDistance, 0.0, kTextRevealDuration, CubicCurve::standard());
    slide.beginDelay = delay;
    slide.onFrame = [this](const AnimatedValue&) { update(); };
    animator().add(layer, kTextFadeKey, std::move(fade));
    animator().add(layer, kTextSlideKey, std::move(slide));
}

// MARK: - Presented values

double CaptureEchoHUDView::presentedDouble(QObject* owner, const QString& key, double model) const
{
    if (const auto value = animator().value(owner, key)) {
        if (const double* number = std::get_if<double>(&*value))
            return *number;
    }
    return model;
}

double CaptureEchoHUDView::glowOpacity() const
{
    auto* self = const_cast<CaptureEchoHUDView*>(this);
    if (const auto value = animator().value(self, kGlowKey)) {
        if (const double* progress = std::get_if<double>(&*value))
            return glowAt(*progress);
    }
    return m_glowOpacity;
}

double CaptureEchoHUDView::iconBadgeScale() const
{
    return presentedDouble(m_iconBadgeLayer, kRevealScaleKey, m_iconBadgeScale);
}

double CaptureEchoHUDView::statusBadgeScale() const
{
    return presentedDouble(m_statusBadgeLayer, kRevealScaleKey, m_statusBadgeScale);
}

double CaptureEchoHUDView::titleOpacity() const
{
    return presentedDouble(m_titleLayer, kTextFadeKey, 1);
}

double CaptureEchoHUDView::subtitleOpacity() const
{
    return presentedDouble(m_subtitleLayer, kTextFadeKey, 1);
}

double CaptureEchoHUDView::titleOffset() const
{
    return presentedDouble(m_titleLayer, kTextSlideKey, 0);
}

double CaptureEchoHUDView::subtitleOffset() const
{
    return presentedDouble(m_subtitleLayer, kTextSlideKey, 0);
}

// MARK: - Geometry

void CaptureEchoHUDView::setBadgeGeometry(const QRect& badge)
{
    setGeometry(badge.adjusted(-kGlowMargin, -kGlowMargin, kGlowMargin, kGlowMargin));
}

QRect CaptureEchoHUDView::badgeGeometry() const
{
    return geometry().adjusted(kGlowMargin, kGlowMargin, -kGlowMargin, -kGlowMargin);
}

QRectF CaptureEchoHUDView::badgeRect() const
{
    return QRectF(rect()).adjusted(kGlowMargin, kGlowMargin, -kGlowMargin, -kGlowMargin);
}

namespace {

double badgeWidthFor(const QString& title, const QString& subtitle, const QString& statusText)
{
    const QFontMetricsF titleMetrics(titleFont());
    const QFontMetricsF subtitleMetrics(subtitleFont());
    const QFontMetricsF status(statusFont());
    const double texts = std::max(titleMetrics.horizontalAdvance(singleLine(title)),
                                  subtitleMetrics.horizontalAdvance(singleLine(subtitle)));
    const double statusWidth = 7 + 12 + 4 + std::ceil(status.horizontalAdvance(statusText)) + 8;
    return std::ceil(12 + 28 + 10 + std::ceil(texts) + 8 + statusWidth + 10);
}

} // namespace

double CaptureEchoHUDView::preferredBadgeWidth(const CaptureFeedback& feedback)
{
    return badgeWidthFor(titleText(feedback), subtitleText(feedback), localizedStatusLabel(feedback.statusLabel()));
}

QSize CaptureEchoHUDView::sizeHint() const
{
    return QSize(int(badgeWidthFor(m_title, m_subtitle, m_statusText)) + 2 * kGlowMargin,
                 kBadgeHeight + 2 * kGlowMargin);
}

CaptureEchoHUDView::Layout CaptureEchoHUDView::layout() const
{
    Layout l;
    l.badge = badgeRect();
    const double midY = l.badge.center().y();
    l.iconBadge = QRectF(l.badge.left() + 12, midY - 14, 28, 28);

    // The status pill takes the width of its word, never less: the texts give way first.
    const double statusWidth = std::ceil(QFontMetricsF(statusFont()).horizontalAdvance(m_statusText));
    const double pillWidth = 7 + 12 + 4 + statusWidth + 8;
    l.statusBadge = QRectF(l.badge.right() - 10 - pillWidth, midY - 11, pillWidth, 22);
    l.statusIcon = QRectF(l.statusBadge.left() + 7, midY - 6, 12, 12);
    l.statusLabel = QRectF(l.statusIcon.right() + 4, l.statusBadge.top(), statusWidth, 22);

    const double textLeft = l.iconBadge.right() + 10;
    const double textWidth = std::max(0.0, l.statusBadge.left() - 8 - textLeft);
    const double titleHeight = std::ceil(QFontMetricsF(titleFont()).height());
    const double subtitleHeight = std::ceil(QFontMetricsF(subtitleFont()).height());
    l.title = QRectF(textLeft, l.badge.top() + 8, textWidth, titleHeight);
    l.subtitle = QRectF(textLeft, l.title.bottom() + 1, textWidth, subtitleHeight);
    return l;
}

QRectF CaptureEchoHUDView::iconBadgeRect() const
{
    return layout().iconBadge;
}

QRectF CaptureEchoHUDView::titleRect() const
{
    return layout().title;
}

QRectF CaptureEchoHUDView::subtitleRect() const
{
    return layout().subtitle;
}

QRectF CaptureEchoHUDView::statusBadgeRect() const
{
    return layout().statusBadge;
}

QRectF CaptureEchoHUDView::statusIconRect() const
{
    return layout().statusIcon;
}

QRectF CaptureEchoHUDView::statusLabelRect() const
{
    return layout().statusLabel;
}

QString CaptureEchoHUDView::displayedTitle() const
{
    return QFontMetricsF(titleFont()).elidedText(singleLine(m_title), Qt::ElideRight, layout().title.width());
}

QString CaptureEchoHUDView::displayedSubtitle() const
{
    return QFontMetricsF(subtitleFont()).elidedText(singleLine(m_subtitle), Qt::ElideRight, layout().subtitle.width());
}

QString CaptureEchoHUDView::displayedStatusText() const
{
    return m_statusText;
}

void CaptureEchoHUDView::setBadgeOpacity(double opacity)
{
    const double clamped = std::clamp(opacity, 0.0, 1.0);
    if (clamped == m_badgeOpacity)
        return;
    m_badgeOpacity = clamped;
    update();
}

// MARK: - Painting

void CaptureEchoHUDView::paintGlow(QPainter& painter, const QRectF& badge, double opacity) const
{
    // A soft shadow in the accent colour, 18 wide and 3 below the badge: rings that widen step by
    // step, each faint, add up to a falloff from about half the opacity at the edge to nothing.
    constexpr int steps = 12;
    constexpr double spread = 18;
    const QRectF shape = badge.translated(0, 3);
    QColor colour = m_palette.accent;
    colour.setAlphaF(float(std::clamp(opacity * 0.06, 0.0, 1.0)));
    painter.save();
    painter.setPen(Qt::NoPen);
    painter.setBrush(colour);
    for (int i = steps; i >= 1; --i) {
        const double grow = spread * i / steps;
        const double radius = 16 + grow;
        painter.drawRoundedRect(shape.adjusted(-grow, -grow, grow, grow), radius, radius);
    }
    painter.restore();
}

void CaptureEchoHUDView::paintEvent(QPaintEvent*)
{
    if (m_badgeOpacity <= 0)
        return;
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setRenderHint(QPainter::TextAntialiasing);
    painter.setOpacity(m_badgeOpacity);

    const Layout l = layout();
    if (l.badge.width() <= 0 || l.badge.height() <= 0)
        return;

    const double glow = glowOpacity();
    if (glow > 0.001)
        paintGlow(painter, l.badge, glow);
    IslandTheme::paintRoundedSurface(painter, l.badge, 16, rgb(0.055, 0.06, 0.072, 0.97), white(0.14), 1);

    painter.save();
    paintScaled(painter, l.iconBadge, iconBadgeScale());
    IslandTheme::paintRoundedSurface(painter, l.iconBadge, 9, m_palette.iconBackground,
                                     IslandTheme::withAlpha(m_palette.accent, 0.3), 1);
    IslandIcons::paint(painter, l.iconBadge, m_kindSymbol, 13, SymbolWeight::semibold, m_palette.iconTint);
    painter.restore();

    const auto paintText = [&](const QRectF& rect, const QString& text, const QFont& font, const QColor& colour,
                               double opacity, double offset) {
        if (rect.width() <= 0 || opacity <= 0.001)
            return;
        painter.save();
        painter.setOpacity(painter.opacity() * opacity);
        painter.translate(offset, 0);
        painter.setFont(font);
        painter.setPen(colour);
        painter.drawText(rect, Qt::AlignLeft | Qt::AlignVCenter, text);
        painter.restore();
    };
    paintText(l.title, displayedTitle(), titleFont(), white(0.94), titleOpacity(), titleOffset());
    paintText(l.subtitle, displayedSubtitle(), subtitleFont(), white(0.52), subtitleOpacity(), subtitleOffset());

    if (m_statusBadgeAlpha > 0.001) {
        painter.save();
        painter.setOpacity(painter.opacity() * m_statusBadgeAlpha);
        paintScaled(painter, l.statusBadge, statusBadgeScale());
        IslandTheme::paintRoundedSurface(painter, l.statusBadge, 11, m_palette.statusBackground,
                                         IslandTheme::withAlpha(m_palette.accent, 0.26), 1);
        IslandIcons::paint(painter, l.statusIcon, m_palette.statusSymbol, 10, SymbolWeight::bold,
                           m_palette.statusForeground);
        painter.setFont(statusFont());
        painter.setPen(m_palette.statusForeground);
        painter.drawText(l.statusLabel, Qt::AlignLeft | Qt::AlignVCenter, m_statusText);
        painter.restore();
    }
}

} // namespace QuillomareMac
