#pragma once

// The island's one transient status: a dark capsule with a line of text (and the lines of a
// place, a folder, after a line break in it) that fades in, stays about a second and a half and
// fades out. Clicks pass through it to what lies below.

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
    static constexpr int maximumToastWidth = 420;
    static constexpr int toastHeight = 30;

    explicit IslandToastView(QWidget* parent = nullptr);
    ~IslandToastView() override;

    QString text() const { return m_text; }
    void setText(const QString& text);
    // The lines as shown: the message's first line (cut at its tail when too long) and each
    // place after a line break wrapped whole onto lines of its own.
    const QStringList& shownLines() const { return m_lines; }
    // The toast's own opacity; 0 and hidden at first.
    qreal alpha() const { return m_alpha; }
    void setAlpha(qreal alpha);

    // Puts the text up at once (replacing any other), fades in over 0.16 s and starts 1.4 s
    // (counted from this call) until the 0.28 s fade-out; the toast is hidden once that fade ends
    // at zero. A newer call cancels the pending fade-out and starts the 1.4 s again.
    void showTransientStatus(const QString& text);
    bool hasPendingHide() const { return m_pendingHide != nullptr; }

    // Never answers a point: the toast takes no clicks.
    QWidget* hitTest(const QPointF& point) const;

    // The widest shown line's width plus the insets, at most 420, and 30 high for one line (a
    // line spacing more for each further line).
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
    qreal m_alpha = 0;
    std::shared_ptr<WorkItem> m_pendingHide;
};

} // namespace QuillomareMac
