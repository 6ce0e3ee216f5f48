#include "ShelfItemRowView.h"

#include "ShelfGalleryCardView.h"

#include "History/ClipThumbnailView.h"
#include "History/HistoryDragSession.h"
#include "Island/IslandTheme.h"
#include "Island/IslandView.h"
#include "Island/TruncatingLabel.h"
#include "Pasteboard/MacPasteboardWriter.h"

#include <QHBoxLayout>
#include <QLineF>
#include <QMouseEvent>
#include <QPainter>
#include <QVBoxLayout>

#include <algorithm>

namespace QuillomareMac {

using QuillomareCore::ClipKind;

namespace {

constexpr int rowHeight = 56;
constexpr qreal dragThreshold = 3;
constexpr qreal dragItemOffset = 7;
constexpr int maxDragItemOffsetSteps = 4;

} // namespace

ShelfItemRowView::ShelfItemRowView(const ShelfItem& item, QWidget* parent) : QWidget(parent), m_item(item)
{
    setup();
}

void ShelfItemRowView::setup()
{
    setFixedHeight(rowHeight);
    setAttribute(Qt::WA_TranslucentBackground);
    setAccessibleName(ShelfGalleryCardView::displayTitle(m_item));

    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(10, 6, 12, 6);
    layout->setSpacing(10);

    m_thumbnail = new ClipThumbnailView(this);
    m_thumbnail->prefersContentPreview = true;
    m_thumbnail->setFixedSize(44, 44);
    m_thumbnail->configure(m_item.clipboardItem(), IslandView::badgeText(m_item), IslandView::tintColor(m_item));
    m_thumbnail->installEventFilter(this);
    for (QWidget* child : m_thumbnail->findChildren<QWidget*>())
        child->installEventFilter(this);
    layout->addWidget(m_thumbnail, 0, Qt::AlignVCenter);

    auto* texts = new QVBoxLayout;
    texts->setSpacing(3);
    auto* title = new TruncatingLabel(Qt::ElideRight, IslandTheme::systemFont(12, QFont::DemiBold),
                                      IslandTheme::white(0.9), this);
    title->setText(ShelfGalleryCardView::displayTitle(m_item));
    title->setAttribute(Qt::WA_TransparentForMouseEvents);
    m_titleLabel = title;
    auto* detail = new TruncatingLabel(Qt::ElideRight, IslandTheme::systemFont(9.5, QFont::Medium),
                                       IslandTheme::white(0.48), this);
    detail->setText(IslandView::metadataChips(m_item).join(QStringLiteral(" · ")));
    detail->setAttribute(Qt::WA_TransparentForMouseEvents);
    m_detailLabel = detail;
    texts->addStretch();
    texts->addWidget(title);
    texts->addWidget(detail);
    texts->addStretch();
    layout->addLayout(texts, 1);

    updateBackground();
}

void ShelfItemRowView::updateBackground()
{
    if (m_isSelected) {
        m_background = IslandTheme::white(m_isHovering ? 0.1 : 0.075);
        m_border = IslandTheme::withAlpha(IslandTheme::selectionBlue(), 0.86);
    } else if (m_isHovering) {
        m_background = IslandTheme::shelfCardHoverFill();
        m_border = IslandTheme::white(0.08);
    } else {
        m_background = IslandTheme::shelfCardFill();
        m_border = QColor(Qt::transparent);
    }
    update();
}

void ShelfItemRowView::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    IslandTheme::paintRoundedSurface(painter, QRectF(rect()), 10, m_background, m_border, 1);
}

void ShelfItemRowView::enterEvent(QEnterEvent* event)
{
    m_isHovering = true;
    updateBackground();
    QWidget::enterEvent(event);
}

void ShelfItemRowView::leaveEvent(QEvent* event)
{
    m_isHovering = false;
    updateBackground();
    QWidget::leaveEvent(event);
}

// MARK: - Mouse

void ShelfItemRowView::mouseDown(QMouseEvent* event)
{
    if (event->button() != Qt::LeftButton)
        return;
    event->accept();
    m_mouseDownPoint = mapFromGlobal(event->globalPosition());
    m_didStartDragSession = false;
    m_didHandleMultiSelectClick = false;
    // Control stands for the Command key here.
    const Qt::KeyboardModifiers modifiers = event->modifiers();
    if (modifiers & (Qt::ControlModifier | Qt::ShiftModifier)) {
        m_didHandleMultiSelectClick = true;
        if (onMultiSelect)
            onMultiSelect(m_item, modifiers.testFlag(Qt::ShiftModifier));
        return;
    }
    if (onSelect)
        onSelect(m_item);
}

void ShelfItemRowView::mouseDragged(QMouseEvent* event)
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

void ShelfItemRowView::startDrag()
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
    HistoryDragSession::begin(this, draggingItems, snapshot);
}

void ShelfItemRowView::mouseUp(QMouseEvent* event)
{
    if (event->button() != Qt::LeftButton)
        return;
    event->accept();
    if (!m_didStartDragSession && !m_didHandleMultiSelectClick) {
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
    m_didHandleMultiSelectClick = false;
    m_clickCount = 0;
}

void ShelfItemRowView::mousePressEvent(QMouseEvent* event)
{
    m_clickCount = 1;
    mouseDown(event);
}

void ShelfItemRowView::mouseDoubleClickEvent(QMouseEvent* event)
{
    event->accept();
    m_clickCount = 2;
}

void ShelfItemRowView::mouseMoveEvent(QMouseEvent* event)
{
    mouseDragged(event);
}

void ShelfItemRowView::mouseReleaseEvent(QMouseEvent* event)
{
    mouseUp(event);
}

bool ShelfItemRowView::eventFilter(QObject* watched, QEvent* event)
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
