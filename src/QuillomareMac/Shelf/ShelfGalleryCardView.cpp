#include "ShelfGalleryCardView.h"

#include "History/ClipThumbnailView.h"
#include "History/HistoryDragSession.h"
#include "History/HistoryTime.h"
#include "Island/IslandTheme.h"
#include "Island/IslandView.h"
#include "Island/TruncatingLabel.h"
#include "Pasteboard/MacPasteboardWriter.h"
#include "Shell/Localization.h"

#include <QLineF>
#include <QMouseEvent>
#include <QPainter>

#include <algorithm>

namespace QuillomareMac {

using QuillomareCore::ClipKind;

namespace {

// The strip decides the width and the height; these are the card's own wishes.
constexpr int preferredWidth = 300;
constexpr int preferredHeight = 96;
constexpr int inset = 8;
constexpr qreal dragThreshold = 3;
constexpr qreal dragItemOffset = 7;
constexpr int maxDragItemOffsetSteps = 4;

TruncatingLabel* makeCardLabel(qreal points, QFont::Weight weight, const QColor& colour, QWidget* parent)
{
    auto* label = new TruncatingLabel(Qt::ElideRight, IslandTheme::systemFont(points, weight), colour, parent);
    label->setAttribute(Qt::WA_TransparentForMouseEvents);
    return label;
}

} // namespace

ShelfGalleryCardView::ShelfGalleryCardView(const ShelfItem& item, QWidget* parent) : QWidget(parent), m_item(item)
{
    setup();
}

void ShelfGalleryCardView::setup()
{
    setAttribute(Qt::WA_TranslucentBackground);
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Expanding);
    setMinimumSize(120, 72);
    resize(preferredWidth, preferredHeight);
    setAccessibleName(displayTitle(m_item));

    m_thumbnail = new ClipThumbnailView(this);
    m_thumbnail->prefersContentPreview = true;
    m_thumbnail->configure(m_item.clipboardItem(), IslandView::badgeText(m_item), IslandView::tintColor(m_item));
    // Presses on the tile are the card's: watching them keeps the picture's pointing hand.
    m_thumbnail->installEventFilter(this);
    for (QWidget* child : m_thumbnail->findChildren<QWidget*>())
        child->installEventFilter(this);

    m_titleLabel = makeCardLabel(11, QFont::DemiBold, IslandTheme::white(0.9), this);
    m_titleLabel->setText(displayTitle(m_item));

    // The kind in the entry's tint, then its age.
    const QStringList chips = IslandView::metadataChips(m_item);
    QString meta = chips.value(0);
    if (chips.size() > 1)
        meta += QStringLiteral(" · ") + chips.last();
    m_badgeLabel =
        makeCardLabel(8.5, QFont::DemiBold, IslandTheme::withAlpha(IslandView::tintColor(m_item), 0.92), this);
    m_badgeLabel->setText(meta);

    // What the entry holds, in as many lines as the card has room for (five at most); a private entry says only that it
    // is hidden.
    m_previewLabel = new QLabel(this);
    m_previewLabel->setTextFormat(Qt::PlainText);
    m_previewLabel->setWordWrap(true);
    m_previewLabel->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    m_previewLabel->setFont(IslandTheme::systemFont(8.5, QFont::Normal));
    QPalette palette = m_previewLabel->palette();
    palette.setColor(QPalette::WindowText, IslandTheme::white(0.46));
    m_previewLabel->setPalette(palette);
    m_previewLabel->setAttribute(Qt::WA_TransparentForMouseEvents);
    m_previewLabel->setText(
        m_item.isSensitive ? L10n::text(QStringLiteral("敏感内容已隐藏"), QStringLiteral("Sensitive content hidden"))
                           : m_item.preview.left(240));

    layoutContent();
    updateBackground();
}

QSize ShelfGalleryCardView::sizeHint() const
{
    return {preferredWidth, preferredHeight};
}

void ShelfGalleryCardView::layoutContent()
{
    // The picture on the left, as tall as the card allows and a little wider than tall; the
    // texts beside it.
    const int side = std::max(height() - 2 * inset, 24);
    const int thumbnailWidth = std::min(int(side * 1.45), width() / 2);
    m_thumbnail->setGeometry(inset, inset, thumbnailWidth, side);
    const int textLeft = inset + thumbnailWidth + 10;
    const int textWidth = std::max(width() - textLeft - inset, 0);
    int y = inset + 1;
    m_titleLabel->setGeometry(textLeft, y, textWidth, 16);
    y += 18;
    m_badgeLabel->setGeometry(textLeft, y, textWidth, 13);
    y += 17;
    const int lineHeight = m_previewLabel->fontMetrics().lineSpacing();
    const int previewHeight = std::min(height() - inset - y, 5 * lineHeight) / lineHeight * lineHeight;
    m_previewLabel->setGeometry(textLeft, y, textWidth, std::max(previewHeight, 0));
    m_previewLabel->setVisible(previewHeight >= lineHeight);
}

QString ShelfGalleryCardView::displayTitle(const ShelfItem& item)
{
    if (!item.isSensitive)
        return item.title;
    // A title written by an older build or edited by hand may hold the secret itself.
    switch (item.kind) {
    case ClipKind::url:
        return L10n::text(QStringLiteral("私密链接"), QStringLiteral("Private link"));
    case ClipKind::text:
        return L10n::text(QStringLiteral("私密文本"), QStringLiteral("Private text"));
    default:
        break;
    }
    return L10n::text(QStringLiteral("敏感内容已隐藏"), QStringLiteral("Sensitive content hidden"));
}

// MARK: - Look

void ShelfGalleryCardView::updateBackground()
{
    if (m_isSelected) {
        m_background = IslandTheme::white(m_isHovering ? 0.1 : 0.075);
        m_border = IslandTheme::withAlpha(IslandTheme::selectionBlue(), 0.86);
        m_borderWidth = 1.2;
    } else if (m_isHovering) {
        m_background = IslandTheme::shelfCardHoverFill();
        m_border = IslandTheme::white(0.1);
        m_borderWidth = 1;
    } else {
        m_background = IslandTheme::shelfCardFill();
        m_border = IslandTheme::white(0.06);
        m_borderWidth = 1;
    }
    update();
}

void ShelfGalleryCardView::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    IslandTheme::paintRoundedSurface(painter, QRectF(rect()), 8, m_background, m_border, m_borderWidth);
}

void ShelfGalleryCardView::enterEvent(QEnterEvent* event)
{
    m_isHovering = true;
    updateBackground();
    QWidget::enterEvent(event);
}

void ShelfGalleryCardView::leaveEvent(QEvent* event)
{
    m_isHovering = false;
    updateBackground();
    QWidget::leaveEvent(event);
}

void ShelfGalleryCardView::resizeEvent(QResizeEvent* event)
{
    QWidget::resizeEvent(event);
    layoutContent();
}

// MARK: - Mouse

void ShelfGalleryCardView::mouseDown(QMouseEvent* event)
{
    if (event->button() != Qt::LeftButton)
        return;
    event->accept();
    m_mouseDownPoint = mapFromGlobal(event->globalPosition());
    m_didStartDragSession = false;
    // Selection happens on the press, whatever keys are held.
    if (onSelect)
        onSelect(m_item);
}

void ShelfGalleryCardView::mouseDragged(QMouseEvent* event)
{
    if (!(event->buttons() & Qt::LeftButton))
        return;
    event->accept();
    const QPointF point = mapFromGlobal(event->globalPosition());
    if (m_mouseDownPoint && QLineF(*m_mouseDownPoint, point).length() < dragThreshold)
        return;
    if (m_didStartDragSession || width() == 0 || height() == 0)
        return;
    startDrag();
}

void ShelfGalleryCardView::startDrag()
{
    QList<ShelfItem> entries;
    if (dragItemsProvider)
        entries = dragItemsProvider();
    if (entries.isEmpty())
        entries = {m_item};

    QList<DraggingItem> draggingItems;
    for (qsizetype i = 0; i < entries.size(); ++i) {
        const qreal offset = dragItemOffset * qreal(std::min<qsizetype>(i, maxDragItemOffsetSteps));
        const QRectF frame = QRectF(rect()).translated(offset, offset);
        for (const Platform::PasteboardObject& object :
             MacPasteboardWriter::draggingWriters(entries.at(i).clipboardItem()))
            draggingItems.append({object, frame});
    }
    m_didStartDragSession = true;
    if (draggingItems.isEmpty())
        return;
    QPixmap snapshot = grab();
    if (snapshot.isNull()) {
        snapshot = QPixmap(size());
        snapshot.fill(Qt::transparent);
    }
    // A real drag runs its own event loop until the drop and takes the release with it.
    HistoryDragSession::begin(this, draggingItems, snapshot);
}

void ShelfGalleryCardView::mouseUp(QMouseEvent* event)
{
    if (event->button() != Qt::LeftButton)
        return;
    event->accept();
    if (!m_didStartDragSession) {
        const QPointF point = mapFromGlobal(event->globalPosition());
        const QRectF thumbnailFrame(m_thumbnail->mapTo(this, QPointF(0, 0)), m_thumbnail->size());
        if (m_clickCount >= 2) {
            if (onPreview)
                onPreview(m_item);
        } else if (m_item.kind == ClipKind::image && thumbnailFrame.contains(point)) {
            if (onPreview)
                onPreview(m_item);
        } else if (onSelect) {
            onSelect(m_item);
        }
    }
    m_mouseDownPoint.reset();
    m_didStartDragSession = false;
    m_clickCount = 0;
}

void ShelfGalleryCardView::mousePressEvent(QMouseEvent* event)
{
    m_clickCount = 1;
    mouseDown(event);
}

void ShelfGalleryCardView::mouseDoubleClickEvent(QMouseEvent* event)
{
    // Qt sends the second press of a double click as this event alone: the press has been
    // handled, the release only needs to know it ends a double click.
    event->accept();
    m_clickCount = 2;
}

void ShelfGalleryCardView::mouseMoveEvent(QMouseEvent* event)
{
    mouseDragged(event);
}

void ShelfGalleryCardView::mouseReleaseEvent(QMouseEvent* event)
{
    mouseUp(event);
}

bool ShelfGalleryCardView::eventFilter(QObject* watched, QEvent* event)
{
    switch (event->type()) {
    case QEvent::MouseButtonPress:
        mousePressEvent(static_cast<QMouseEvent*>(event));
        return true;
    case QEvent::MouseButtonDblClick:
        mouseDoubleClickEvent(static_cast<QMouseEvent*>(event));
        return true;
    case QEvent::MouseMove:
        mouseMoveEvent(static_cast<QMouseEvent*>(event));
        return true;
    case QEvent::MouseButtonRelease:
        mouseReleaseEvent(static_cast<QMouseEvent*>(event));
        return true;
    default:
        return QWidget::eventFilter(watched, event);
    }
}

} // namespace QuillomareMac
