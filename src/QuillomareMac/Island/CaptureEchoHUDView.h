#pragma once

// The badge the capture echo shows inside the grown island after a copy: an icon for the kind of
// what was captured, a title, a subtitle naming the source application or why nothing was kept,
// and a status pill tinted by the outcome. It paints itself (no child widgets), lets every click
// through, reads one CaptureFeedback per echo and plays a short reveal.
//
// Geometry: the badge itself is 44 high; its glow spreads past its edges, so the widget is the
// badge rectangle grown by kGlowMargin on every side. Place it with setBadgeGeometry(), which
// takes the badge's own rectangle in the parent; badgeRect() is that rectangle inside the widget.
//
// The parts animate under the keys of the island's animator: "echoRevealScale" on the icon
// badge's and the status badge's owners, "echoTextFade" and "echoTextSlide" on the title's and
// the subtitle's, "echoGlow" on the view itself.

#include "Island/Kit/IslandIcons.h"

#include <QuillomareCore/CaptureFeedback.h>

#include <QColor>
#include <QRectF>
#include <QString>
#include <QWidget>

#include <memory>

namespace QuillomareMac {

class WorkItem;

class CaptureEchoHUDView final : public QWidget
{
    Q_OBJECT

public:
    // The colours of one outcome.
    struct StatusPalette
    {
        QColor accent;
        QColor iconBackground;
        QColor iconTint;
        QColor statusBackground;
        QColor statusForeground;
        QString statusSymbol;

        friend bool operator==(const StatusPalette&, const StatusPalette&) = default;
    };

    // A sensitive capture takes the sensitive look whatever became of it.
    enum class Outcome
    {
        sensitive,
        ignored,
        failed,
        saved,
        duplicate
    };

    static constexpr int kBadgeHeight = 44;
    static constexpr int kGlowMargin = 24;
    // The glow after a reveal.
    static constexpr double kRestingGlowOpacity = 0.3;

    explicit CaptureEchoHUDView(QWidget* parent = nullptr);
    ~CaptureEchoHUDView() override;

    // Replaces every text, icon and colour; the glow goes back to 0.
    void configure(const QuillomareCore::CaptureFeedback& feedback);
    // Scales the two badges in, slides the two texts in and raises the glow to its resting 0.3;
    // with Reduce Motion only sets the glow.
    void playRevealAnimation();

    // MARK: Geometry
    // `badge` is the badge's own rectangle in the parent's coordinates.
    void setBadgeGeometry(const QRect& badge);
    QRect badgeGeometry() const;
    QRectF badgeRect() const;
    // The badge's width with its texts and status word on one line; sizeHint() is this one's
    // for the shown feedback, plus the glow.
    static double preferredBadgeWidth(const QuillomareCore::CaptureFeedback& feedback);
    QSize sizeHint() const override;

    // The whole badge's alpha (the echo fades it in and out); 1 at first.
    void setBadgeOpacity(double opacity);
    double badgeOpacity() const { return m_badgeOpacity; }

    // MARK: What is shown now
    const QuillomareCore::CaptureFeedback& feedback() const { return m_feedback; }
    const StatusPalette& palette() const { return m_palette; }
    const QString& kindSymbol() const { return m_kindSymbol; }
    const QString& title() const { return m_title; }
    const QString& subtitle() const { return m_subtitle; }
    // The status word in the interface language.
    const QString& statusText() const { return m_statusText; }
    // The texts as drawn in the space they have (cut at the tail with "…" when too long).
    QString displayedTitle() const;
    QString displayedSubtitle() const;
    QString displayedStatusText() const;

    // Laid out from the current texts, in the widget's coordinates.
    QRectF iconBadgeRect() const;
    QRectF titleRect() const;
    QRectF subtitleRect() const;
    QRectF statusBadgeRect() const;
    QRectF statusIconRect() const;
    QRectF statusLabelRect() const;

    // Presented values (animations included).
    double glowOpacity() const;
    double iconBadgeScale() const;
    double statusBadgeScale() const;
    double statusBadgeAlpha() const { return m_statusBadgeAlpha; }
    double titleOpacity() const;
    double subtitleOpacity() const;
    double titleOffset() const;
    double subtitleOffset() const;

    // Objects the part animations run on (the animator keys animations by owner).
    QObject* iconBadgeLayer() const { return m_iconBadgeLayer; }
    QObject* statusBadgeLayer() const { return m_statusBadgeLayer; }
    QObject* titleLayer() const { return m_titleLayer; }
    QObject* subtitleLayer() const { return m_subtitleLayer; }

    // MARK: Rules
    static Outcome outcome(const QuillomareCore::CaptureFeedback& feedback);
    static StatusPalette coloredPalette(const QuillomareCore::CaptureFeedback& feedback);
    static StatusPalette paletteFor(Outcome outcome);
    static QString kindSymbol(const QuillomareCore::CaptureFeedback& feedback);
    static QString titleText(const QuillomareCore::CaptureFeedback& feedback);
    static QString subtitleText(const QuillomareCore::CaptureFeedback& feedback);
    // The core's Chinese status word in the interface language.
    static QString localizedStatusLabel(const QString& word);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    struct Layout
    {
        QRectF badge, iconBadge, title, subtitle, statusBadge, statusIcon, statusLabel;
    };
    Layout layout() const;
    double presentedDouble(QObject* owner, const QString& key, double model) const;
    void animateScale(QObject* layer, double& modelScale, double target, double delay);
    void slideFadeIn(QObject* layer, double delay);
    void paintGlow(QPainter& painter, const QRectF& badge, double opacity) const;

    QuillomareCore::CaptureFeedback m_feedback;
    StatusPalette m_palette;
    QString m_kindSymbol;
    QString m_title;
    QString m_subtitle;
    QString m_statusText;

    double m_badgeOpacity = 1;
    double m_glowOpacity = 0;
    double m_iconBadgeScale = 1;
    double m_statusBadgeScale = 1;
    double m_statusBadgeAlpha = 1;

    std::shared_ptr<WorkItem> m_statusRevealWork;

    QObject* m_iconBadgeLayer = nullptr;
    QObject* m_statusBadgeLayer = nullptr;
    QObject* m_titleLayer = nullptr;
    QObject* m_subtitleLayer = nullptr;
};

} // namespace QuillomareMac
