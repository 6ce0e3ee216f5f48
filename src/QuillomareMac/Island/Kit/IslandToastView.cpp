#include "IslandToastView.h"

#include "IslandAnimation.h"
#include "IslandScheduler.h"
#include "IslandTheme.h"

#include <QFontMetricsF>
#include <QGraphicsDropShadowEffect>
#include <QPainter>
#include <QPointer>
#include <QTextBoundaryFinder>

#include <algorithm>
#include <cmath>
#include <utility>

namespace QuillomareMac {

namespace {

constexpr qreal cornerRadius = 15;
constexpr qreal labelInset = 14;

const QString kFadeKey = QStringLiteral("toast.fade");

QFont toastFont()
{
    return IslandTheme::systemFont(11.5, QFont::Medium);
}

// The longest a place may run before its middle gives way: the toast stays a note over the
// island, not a page. Paths this long are rare; the header's tooltip still has all of it.
constexpr qsizetype maximumPlaceLines = 6;

qreal labelWidth()
{
    return IslandToastView::maximumToastWidth - 2 * labelInset;
}

// Cuts a part that is wider than a line by itself, between user-perceived characters.
QStringList splitAnywhere(const QString& part, const QFontMetricsF& metrics, qreal width)
{
    QStringList pieces;
    QTextBoundaryFinder finder(QTextBoundaryFinder::Grapheme, part);
    qsizetype start = 0;
    qsizetype lastFit = 0;
    for (qsizetype next = finder.toNextBoundary(); next != -1; next = finder.toNextBoundary()) {
        if (metrics.horizontalAdvance(part.mid(start, next - start)) > width && lastFit > start) {
            pieces << part.mid(start, lastFit - start);
            start = lastFit;
        }
        lastFit = next;
    }
    if (start < part.size())
        pieces << part.mid(start);
    return pieces;
}

// A place (a folder) is shown whole: it wraps after a separator, like a file manager's long
// names, and only a name wider than a line by itself is cut where it must.
QStringList wrapPlace(const QString& place, const QFontMetricsF& metrics, qreal width)
{
    QStringList parts;
    qsizetype start = 0;
    for (qsizetype slash = place.indexOf(u'/'); slash != -1; slash = place.indexOf(u'/', slash + 1)) {
        parts << place.mid(start, slash + 1 - start);
        start = slash + 1;
    }
    if (start < place.size())
        parts << place.mid(start);

    QStringList lines;
    QString line;
    for (const QString& part : std::as_const(parts)) {
        if (metrics.horizontalAdvance(line + part) <= width) {
            line += part;
            continue;
        }
        if (!line.isEmpty())
            lines << std::exchange(line, QString());
        QStringList pieces = splitAnywhere(part, metrics, width);
        line = pieces.takeLast();
        lines << pieces;
    }
    if (!line.isEmpty() || lines.isEmpty())
        lines << line;

    // Far too long: its start and its end (the folder's own name) stay, the middle gives way.
    if (lines.size() > maximumPlaceLines) {
        const QString end = lines.last();
        lines = lines.first(maximumPlaceLines - 2);
        lines << QString(QChar(0x2026)) << end;
    }
    return lines;
}

// The lines the toast shows. The first is the message, cut at its tail when too long; a line
// break starts a place of its own (a folder), wrapped onto as many lines as it needs.
QStringList toastLines(const QString& text)
{
    const QFontMetricsF metrics(toastFont());
    const QStringList given = text.split(QLatin1Char('\n'));
    QStringList lines{metrics.elidedText(given.first(), Qt::ElideRight, labelWidth())};
    for (qsizetype index = 1; index < given.size(); ++index)
        lines << wrapPlace(given[index], metrics, labelWidth());
    return lines;
}

int heightForLines(qsizetype lines)
{
    const QFontMetricsF metrics(toastFont());
    return IslandToastView::toastHeight + int(std::ceil(metrics.lineSpacing() * qreal(std::max<qsizetype>(lines, 1) - 1)));
}

} // namespace

IslandToastView::IslandToastView(QWidget* parent) : QWidget(parent)
{
    setAttribute(Qt::WA_TranslucentBackground);
    setAttribute(Qt::WA_TransparentForMouseEvents);
    setFocusPolicy(Qt::NoFocus);
    setFixedHeight(heightForLines(1));
    setMaximumWidth(maximumToastWidth);
    setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Fixed);

    // The shadow falls outside the capsule, so it is an effect rather than part of our painting.
    auto* shadow = new QGraphicsDropShadowEffect(this);
    shadow->setColor(QColor::fromRgbF(0, 0, 0, 0.4f));
    shadow->setBlurRadius(24);
    shadow->setOffset(0, 4);
    setGraphicsEffect(shadow);

    QWidget::setVisible(false);
}

IslandToastView::~IslandToastView()
{
    if (m_pendingHide)
        m_pendingHide->cancel();
    IslandAnimator::shared().removeAll(this);
}

void IslandToastView::setText(const QString& text)
{
    m_text = text;
    m_lines = toastLines(text);
    setAccessibleName(text);
    setFixedHeight(heightForLines(m_lines.size()));
    updateGeometry();
    update();
}

void IslandToastView::setAlpha(qreal alpha)
{
    m_alpha = std::clamp<qreal>(alpha, 0, 1);
    update();
}

void IslandToastView::showTransientStatus(const QString& text)
{
    setText(text);
    if (m_pendingHide) {
        m_pendingHide->cancel();
        m_pendingHide.reset();
    }
    show();
    fadeTo(1.0, fadeInMilliseconds, CubicCurve::easeOut());

    QPointer<IslandToastView> toast(this);
    m_pendingHide = IslandScheduler::shared().schedule(hideDelayMilliseconds, this, [toast] {
        if (!toast)
            return;
        toast->m_pendingHide.reset();
        toast->fadeTo(0.0, fadeOutMilliseconds, CubicCurve::easeIn(), [toast](bool finished) {
            // A newer message that brought the toast back keeps it up; it may have come between
            // the end of the fade and this completion, so a fade running now counts too.
            if (finished && toast && toast->m_alpha == 0.0 && !IslandAnimator::shared().contains(toast, kFadeKey))
                toast->hide();
        });
    });
}

void IslandToastView::fadeTo(qreal target, qint64 milliseconds, const CubicCurve& curve,
                             std::function<void(bool)> completion)
{
    IslandAnimation fade = IslandAnimation::timed(m_alpha, target, double(milliseconds) / 1000.0, curve);
    // The animator drops the toast's fades when it is destroyed, so the frames may use it freely.
    fade.onFrame = [this](const AnimatedValue& value) { setAlpha(std::get<double>(value)); };
    fade.completion = std::move(completion);
    IslandAnimator::shared().add(this, kFadeKey, std::move(fade));
}

QWidget* IslandToastView::hitTest(const QPointF&) const
{
    return nullptr;
}

QSize IslandToastView::sizeHint() const
{
    const QFontMetricsF metrics(toastFont());
    qreal widest = 0;
    for (const QString& line : m_lines)
        widest = std::max(widest, std::ceil(metrics.horizontalAdvance(line)));
    return QSize(int(std::min<qreal>(widest + 2 * labelInset, maximumToastWidth)), heightForLines(m_lines.size()));
}

QSize IslandToastView::minimumSizeHint() const
{
    return QSize(int(2 * labelInset), toastHeight);
}

void IslandToastView::paintEvent(QPaintEvent*)
{
    if (m_alpha <= 0)
        return;
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setRenderHint(QPainter::TextAntialiasing);
    painter.setOpacity(m_alpha);
    const QRectF bounds(rect());
    const qreal radius = std::min(cornerRadius, bounds.height() / 2);
    IslandTheme::paintRoundedSurface(painter, bounds, radius, IslandTheme::rgb(0.075, 0.082, 0.098, 0.96),
                                     IslandTheme::white(0.16));

    const QFont font = toastFont();
    const QFontMetricsF metrics(font);
    const QRectF label = bounds.adjusted(labelInset, 0, -labelInset, 0);
    painter.setFont(font);
    painter.setPen(IslandTheme::white(0.92));
    // Laid out for the widest toast: a narrower one (squeezed by its parent) still cuts at the
    // tail rather than drawing past its edge.
    const qreal lineHeight = metrics.lineSpacing();
    qreal top = label.center().y() - lineHeight * qreal(m_lines.size()) / 2;
    for (const QString& line : m_lines) {
        painter.drawText(QRectF(label.left(), top, label.width(), lineHeight), Qt::AlignLeft | Qt::AlignVCenter,
                         metrics.elidedText(line, Qt::ElideRight, label.width()));
        top += lineHeight;
    }
}

} // namespace QuillomareMac
