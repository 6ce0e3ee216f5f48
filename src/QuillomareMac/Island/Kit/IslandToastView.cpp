#include "IslandToastView.h"

#include "IslandAnimation.h"
#include "IslandScheduler.h"
#include "IslandTheme.h"

#include <QFontMetricsF>
#include <QGraphicsDropShadowEffect>
#include <QPainter>
#include <QPointer>
#include <QTextBoundaryFinder>
#include <QTextLayout>

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

// A message wraps as running text does: between words, after CJK characters and punctuation as
// the line-breaking rules allow, and inside a word only where the word is wider than a line by
// itself. Past the last line it may take, it ends in an ellipsis.
QStringList wrapMessage(const QString& whole, const QFont& font, qreal width)
{
    // Far more than the lines can hold: a message is never laid out whole for nothing.
    const QString message = whole.left(2048);
    QTextLayout layout(message, font);
    QTextOption option;
    option.setWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
    layout.setTextOption(option);
    QList<std::pair<int, int>> spans;
    layout.beginLayout();
    for (QTextLine line = layout.createLine(); line.isValid(); line = layout.createLine()) {
        line.setLineWidth(width);
        spans.append({line.textStart(), line.textLength()});
    }
    layout.endLayout();

    const auto withoutTrailingBlanks = [](QString line) {
        while (!line.isEmpty() && line.back().isSpace())
            line.chop(1);
        return line;
    };
    const qsizetype kept = std::min(spans.size(), IslandToastView::maximumMessageLines);
    QStringList lines;
    for (qsizetype index = 0; index < kept; ++index) {
        const auto [start, length] = spans[index];
        if (index == kept - 1 && (kept < spans.size() || message.size() < whole.size()))
            lines << QFontMetricsF(font).elidedText(message.mid(start) + QChar(0x2026), Qt::ElideRight, width);
        else
            lines << withoutTrailingBlanks(message.mid(start, length));
    }
    if (lines.isEmpty())
        lines << QString();
    return lines;
}

// The lines the toast shows. The message comes first, wrapped; a line break starts a place of
// its own (a folder), wrapped onto as many lines as it needs. `messageLines` is the message's share.
QStringList toastLines(const QString& text, qsizetype* messageLines)
{
    const QFont font = toastFont();
    const QFontMetricsF metrics(font);
    const QStringList given = text.split(QLatin1Char('\n'));
    QStringList lines = wrapMessage(given.first(), font, labelWidth());
    *messageLines = lines.size();
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
    m_lines = toastLines(text, &m_messageLines);
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
    const qint64 shown = shownMilliseconds();
    m_fadeOutAt = IslandScheduler::shared().now() + shown;
    m_pendingHide = IslandScheduler::shared().schedule(shown, this, [toast] {
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

qint64 IslandToastView::shownMilliseconds() const
{
    return hideDelayMilliseconds + readingMillisecondsPerLine * (std::max<qsizetype>(m_lines.size(), 1) - 1);
}

qint64 IslandToastView::remainingMilliseconds() const
{
    // Once it fades it has been read.
    if (isHidden() || !m_pendingHide)
        return 0;
    return std::max<qint64>(m_fadeOutAt - IslandScheduler::shared().now(), 0) + fadeOutMilliseconds;
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
    // A wrapped message is set on the whole width, as a paragraph is.
    if (m_messageLines > 1)
        widest = maximumToastWidth;
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
