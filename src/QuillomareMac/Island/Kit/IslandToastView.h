#pragma once

// The island's one transient status: a dark capsule with a message (wrapped onto a few lines when
// long, then the lines of a place, a folder, after a line break in it) that fades in, stays about
// a second and a half for one line and longer for each further line, and fades out. Clicks pass
// through it to what lies below.

#include <QStringList>
#include <QWidget>

#include <functional>
#include <memory>

namespace QuillomareMac {

class WorkItem;
struct CubicCurve;

class IslandToastView final : public QWidget
{
    Q_OBJECT

public:
    static constexpr qint64 hideDelayMilliseconds = 1400;
    static constexpr qint64 fadeInMilliseconds = 160;
    static constexpr qint64 fadeOutMilliseconds = 280;
    // Each line after the first stays this much longer. A full line holds about 13 English words
    // or 32 Chinese characters: some 3.3 s at an adult's usual silent pace of 240 words a minute,
    // and about as long for the Chinese line, so 3.5 s leaves a moment to take it in.
    static constexpr qint64 readingMillisecondsPerLine = 3500;
    static constexpr int maximumToastWidth = 420;
    static constexpr int toastHeight = 30;
    // A message longer than this many lines ends in an ellipsis; the island's header tooltip
    // keeps it whole.
    static constexpr qsizetype maximumMessageLines = 4;

    explicit IslandToastView(QWidget* parent = nullptr);
    ~IslandToastView() override;

    QString text() const { return m_text; }
    void setText(const QString& text);
    // The lines as shown: the message wrapped between words (anywhere in a word wider than a
    // line), at most maximumMessageLines of them, and each place after a line break wrapped whole
    // onto lines of its own.
    const QStringList& shownLines() const { return m_lines; }
    // The toast's own opacity; 0 and hidden at first.
    qreal alpha() const { return m_alpha; }
    void setAlpha(qreal alpha);

    // Puts the text up at once (replacing any other), fades in over 0.16 s and starts its time
    // (counted from this call) until the 0.28 s fade-out; the toast is hidden once that fade ends
    // at zero. A newer call cancels the pending fade-out and starts the newer text's time.
    void showTransientStatus(const QString& text);
    bool hasPendingHide() const { return m_pendingHide != nullptr; }
    // How long the shown text stays before it fades: 1.4 s for one line, and
    // readingMillisecondsPerLine more for each further line.
    qint64 shownMilliseconds() const;
    // Until the toast is gone, its fade-out included; 0 when it is not up or already fading.
    qint64 remainingMilliseconds() const;

    // Never answers a point: the toast takes no clicks.
    QWidget* hitTest(const QPointF& point) const;

    // The widest shown line's width plus the insets, at most 420 (all of it for a wrapped
    // message), and 30 high for one line (a line spacing more for each further line).
    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    // Fades the alpha from where it is to `target`, replacing a fade under way.
    void fadeTo(qreal target, qint64 milliseconds, const CubicCurve& curve,
                std::function<void(bool finished)> completion = {});

    QString m_text;
    QStringList m_lines{QString()};
    qsizetype m_messageLines = 1;
    qreal m_alpha = 0;
    // When the pending fade-out starts, on the island's clock.
    qint64 m_fadeOutAt = 0;
    std::shared_ptr<WorkItem> m_pendingHide;
};

} // namespace QuillomareMac
