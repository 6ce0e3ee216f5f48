// The quick preview card over the expanded island, and the capture echo's overlay. The card lies
// on a dimming backdrop above the content deck; it opens scaling in from 94 % and fading, and
// closes fading (at once when the island changes mode or morphs).

#include "Island/IslandView.h"

#include "Island/Kit/IslandPaintedWidget.h"
#include "Island/Kit/IslandTheme.h"

#include "History/HistoryPreviewPane.h"
#include "QuickPreview/ClipQuickPreviewView.h"

#include <QPainter>
#include <QPointer>

namespace QuillomareMac {

using QuillomareCore::ClipboardItem;

namespace {

const QString kQuickPreviewFadeKey = QStringLiteral("quickPreview.progress");
constexpr double kPresentSeconds = 0.22;
constexpr double kDismissSeconds = 0.16;
constexpr double kStartScale = 0.94;

// Dims the island's content behind the card; the island's own rounded surface stays visible.
void paintQuickPreviewBackdrop(QPainter& painter, const QWidget& backdrop)
{
    painter.setPen(Qt::NoPen);
    painter.setBrush(QColor(0, 0, 0, 110));
    painter.drawRoundedRect(QRectF(backdrop.rect()), 12, 12);
}

} // namespace

void IslandView::setupCaptureEchoOverlay()
{
    // The echo's badge (a CaptureEchoHUDView) is made the first time an echo shows
    // (IslandViewEcho.cpp): most sessions never need it before the first copy.
}

void IslandView::setupQuickPreviewOverlay()
{
    m_quickPreviewBackdrop = new IslandPaintedWidget(paintQuickPreviewBackdrop, m_expandedRoot);
    m_quickPreviewBackdrop->setObjectName(QStringLiteral("quickPreviewBackdrop"));
    m_quickPreviewBackdrop->setAttribute(Qt::WA_TranslucentBackground);
    m_quickPreviewBackdrop->setVisible(false);

    m_quickPreviewCard = new ClipQuickPreviewView(m_expandedRoot);
    m_quickPreviewCard->setObjectName(QStringLiteral("quickPreviewCard"));
    m_quickPreviewCard->setVisible(false);
    QPointer<IslandView> weak(this);
    m_quickPreviewCard->onClose = [weak] {
        if (weak)
            weak->dismissQuickPreview(true);
    };
}

bool IslandView::isQuickPreviewVisible() const
{
    if (!m_previewingItemID || !m_quickPreviewBackdrop || !m_quickPreviewCard)
        return false;
    if (m_quickPreviewBackdrop->isHidden() || m_quickPreviewCard->isHidden())
        return false;
    return alphaValue(m_quickPreviewCard) > 0.2;
}

void IslandView::showQuickPreviewEntry(const ClipboardItem& item)
{
    m_quickPreviewCard->applyQuickPreviewMetadata(item);
    m_quickPreviewCard->applyQuickPreviewContent(item, true);
    bindQuickPreviewCallbacks(item);
    if (isQuickPreviewVisible())
        updateQuickPreviewCardLayout();
}

void IslandView::bindQuickPreviewCallbacks(const ClipboardItem& /*item*/)
{
    QPointer<IslandView> weak(this);
    m_quickPreviewCard->onCopySelectedText = [weak](const QString& text) {
        if (weak && weak->onCopyQuickPreviewText)
            weak->onCopyQuickPreviewText(text);
    };
}

void IslandView::updateQuickPreviewCardLayout()
{
    if (!m_quickPreviewCard)
        return;
    // Over the content deck, a little inside it.
    const QRect deck = m_contentDeck->geometry();
    m_quickPreviewBackdrop->setGeometry(deck);
    const QRect available = deck.adjusted(16, 8, -16, -8);
    const QSize size = m_quickPreviewCard->preferredSize(available.size()).boundedTo(available.size());
    const QRect target(available.center().x() - size.width() / 2 + 1, available.center().y() - size.height() / 2 + 1,
                       size.width(), size.height());
    m_quickPreviewCard->setProperty("targetGeometry", target);
    if (!animator().containsPrefix(m_quickPreviewCard, kQuickPreviewFadeKey))
        m_quickPreviewCard->setGeometry(target);
    m_quickPreviewBackdrop->raise();
    m_quickPreviewCard->raise();
}

void IslandView::presentQuickPreview(const ClipboardItem& item, bool animated)
{
    m_previewingItemID = item.id;
    showQuickPreviewEntry(item);
    m_quickPreviewBackdrop->setVisible(true);
    m_quickPreviewCard->setVisible(true);
    updateQuickPreviewCardLayout();
    const QRect target = m_quickPreviewCard->property("targetGeometry").toRect();
    animator().remove(m_quickPreviewCard, kQuickPreviewFadeKey);
    if (!animated) {
        setAlphaValue(m_quickPreviewBackdrop, 1);
        setAlphaValue(m_quickPreviewCard, 1);
        m_quickPreviewCard->setGeometry(target);
        return;
    }
    QPointer<QWidget> card = m_quickPreviewCard;
    QPointer<QWidget> backdrop = m_quickPreviewBackdrop;
    IslandAnimation animation = IslandAnimation::timed(0.0, 1.0, kPresentSeconds, CubicCurve::standard());
    animation.onFrame = [card, backdrop, target](const AnimatedValue& value) {
        const double* progress = std::get_if<double>(&value);
        if (!progress || !card || !backdrop)
            return;
        const double scale = kStartScale + (1 - kStartScale) * *progress;
        const QSizeF size(target.width() * scale, target.height() * scale);
        const QPointF centre = QRectF(target).center();
        card->setGeometry(
            QRectF(centre.x() - size.width() / 2, centre.y() - size.height() / 2, size.width(), size.height())
                .toRect());
        setAlphaValue(card, *progress);
        setAlphaValue(backdrop, *progress);
    };
    animation.completion = [card, target](bool) {
        if (card)
            card->setGeometry(target);
    };
    setAlphaValue(m_quickPreviewCard, 0);
    setAlphaValue(m_quickPreviewBackdrop, 0);
    animator().add(m_quickPreviewCard, kQuickPreviewFadeKey, std::move(animation));
}

void IslandView::openHistoryQuickPreview(const ClipboardItem& item)
{
    if (isQuickPreviewVisible() && m_previewingItemID == item.id)
        return;
    presentQuickPreview(item, true);
    if (m_selectedItemID != item.id)
        selectItem(item.id, false);
    else
        updateHistoryInspector();
}

void IslandView::dismissQuickPreview(bool animated)
{
    const bool wasShown = m_quickPreviewCard && !m_quickPreviewCard->isHidden();
    m_previewingItemID.reset();
    if (!wasShown)
        return;
    animator().remove(m_quickPreviewCard, kQuickPreviewFadeKey);
    QPointer<ClipQuickPreviewView> card = m_quickPreviewCard;
    QPointer<QWidget> backdrop = m_quickPreviewBackdrop;
    // A hidden card lets go of its picture (a 4K one holds tens of megabytes) and of the work
    // still under way for it.
    const auto hide = [card, backdrop] {
        if (card) {
            card->setVisible(false);
            card->clearContent();
        }
        if (backdrop)
            backdrop->setVisible(false);
    };
    if (!animated) {
        hide();
        return;
    }
    const double from = alphaValue(m_quickPreviewCard);
    IslandAnimation animation = IslandAnimation::timed(from, 0.0, kDismissSeconds, CubicCurve::standard());
    animation.onFrame = [card, backdrop](const AnimatedValue& value) {
        if (const double* alpha = std::get_if<double>(&value)) {
            setAlphaValue(card, *alpha);
            setAlphaValue(backdrop, *alpha);
        }
    };
    // A preview opened again meanwhile keeps its card.
    QPointer<IslandView> weak(this);
    animation.completion = [weak, hide](bool finished) {
        if (finished && weak && !weak->m_previewingItemID)
            hide();
    };
    animator().add(m_quickPreviewCard, kQuickPreviewFadeKey, std::move(animation));
}

bool IslandView::copyQuickPreviewSelectedTextIfAvailable()
{
    return m_quickPreviewCard && isQuickPreviewVisible() && m_quickPreviewCard->copySelectedTextIfAvailable();
}

void IslandView::activateQuickPreviewTextExtractionHighlight()
{
    if (m_quickPreviewCard)
        m_quickPreviewCard->activateTextExtractionHighlight();
}

} // namespace QuillomareMac
