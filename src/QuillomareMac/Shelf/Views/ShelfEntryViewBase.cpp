#include "ShelfEntryViewBase.h"

#include "History/ClipThumbnailView.h"
#include "History/RowDrag.h"
#include "Island/Kit/IslandTheme.h"
#include "Island/IslandView.h"

#include <QuillomareCore/Language.h>

#include <QMouseEvent>
#include <QPainter>

namespace QuillomareMac {

namespace Language = QuillomareCore::Language;

using QuillomareCore::ClipboardItem;
using QuillomareCore::ClipKind;

namespace {

constexpr qreal dragThreshold = 3;

} // namespace

ShelfEntryViewBase::ShelfEntryViewBase(const ShelfItem& item, const Look& look, QWidget* parent)
    : QWidget(parent), m_item(item), m_look(look)
{
    setAttribute(Qt::WA_TranslucentBackground);
    setAccessibleName(displayTitle(m_item));

    m_thumbnail = new ClipThumbnailView(this);
    m_thumbnail->prefersContentPreview = true;
    m_thumbnail->configure(m_item.clipboardItem(), IslandView::badgeText(m_item), IslandView::tintColor(m_item));
    // Presses on the tile are the view's: watching them keeps the picture's pointing hand.
    m_thumbnail->installEventFilter(this);
    for (QWidget* child : m_thumbnail->findChildren<QWidget*>())
        child->installEventFilter(this);

    updateBackground();
}

QString ShelfEntryViewBase::displayTitle(const ShelfItem& item)
{
    if (!item.isSensitive)
        return item.title;
    // A title written by an older build or edited by hand may hold the secret itself.
    switch (item.kind) {
    case ClipKind::url:
        return Language::text(QStringLiteral("私密链接"), QStringLiteral("Private link"));
    case ClipKind::text:
        return Language::text(QStringLiteral("私密文本"), QStringLiteral("Private text"));
    default:
        break;
    }
    return Language::text(QStringLiteral("敏感内容已隐藏"), QStringLiteral("Sensitive content hidden"));
}

// MARK: - Look

void ShelfEntryViewBase::updateBackground()
{
    if (m_isSelected) {
        m_background = IslandTheme::white(m_isHovering ? 0.1 : 0.075);
        m_border = IslandTheme::withAlpha(IslandTheme::selectionBlue(), 0.86);
        m_borderWidth = m_look.selectedBorderWidth;
    } else if (m_isHovering) {
        m_background = IslandTheme::shelfCardHoverFill();
        m_border = m_look.hoverBorder;
        m_borderWidth = 1;
    } else {
        m_background = IslandTheme::shelfCardFill();
        m_border = m_look.restingBorder;
        m_borderWidth = 1;
    }
    update();
}

void ShelfEntryViewBase::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    IslandTheme::paintRoundedSurface(painter, QRectF(rect()), m_look.cornerRadius, m_background, m_border,
                                     m_borderWidth);
}

void ShelfEntryViewBase::enterEvent(QEnterEvent* event)
{
    m_isHovering = true;
    updateBackground();
    QWidget::enterEvent(event);
}

void ShelfEntryViewBase::leaveEvent(QEvent* event)
{
    m_isHovering = false;
    updateBackground();
    QWidget::leaveEvent(event);
}

// MARK: - Mouse

void ShelfEntryViewBase::mouseDown(QMouseEvent* event)
{
    if (event->button() != Qt::LeftButton)
        return;
    event->accept();
    m_mouseDownPoint = mapFromGlobal(event->globalPosition());
    m_didStartDragSession = false;
    m_didHandleMultiSelectClick = false;
    const Qt::KeyboardModifiers modifiers = event->modifiers();
    if (isMultiSelectPress(modifiers)) {
        m_didHandleMultiSelectClick = true;
        multiSelectPressed(modifiers);
        return;
    }
    // Otherwise selection happens on the press, whatever keys are held.
    if (onSelect)
        onSelect(m_item);
}

bool ShelfEntryViewBase::isMultiSelectPress(Qt::KeyboardModifiers modifiers) const
{
    return modifiers & (Qt::ControlModifier | Qt::ShiftModifier);
}

void ShelfEntryViewBase::multiSelectPressed(Qt::KeyboardModifiers modifiers)
{
    if (onMultiSelect)
        onMultiSelect(m_item, modifiers.testFlag(Qt::ShiftModifier));
}

void ShelfEntryViewBase::mouseDragged(QMouseEvent* event)
{
    if (RowDrag::shouldStartDrag(*this, event, m_mouseDownPoint, m_didStartDragSession, dragThreshold))
        startDrag();
}

void ShelfEntryViewBase::startDrag()
{
    QList<ShelfItem> entries;
    if (dragItemsProvider)
        entries = dragItemsProvider();
    if (entries.isEmpty())
        entries = {m_item};
    QList<ClipboardItem> clips;
    clips.reserve(entries.size());
    for (const ShelfItem& entry : std::as_const(entries))
        clips.append(entry.clipboardItem());

    const QList<DraggingItem> draggingItems = RowDrag::fannedItems(rect(), clips);
    m_didStartDragSession = true;
    if (draggingItems.isEmpty())
        return;
    // A real drag runs its own event loop until the drop and takes the release with it.
    HistoryDragSession::begin(this, draggingItems, RowDrag::snapshot(*this));
}

void ShelfEntryViewBase::mouseUp(QMouseEvent* event)
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

void ShelfEntryViewBase::mousePressEvent(QMouseEvent* event)
{
    m_clickCount = 1;
    mouseDown(event);
}

void ShelfEntryViewBase::mouseDoubleClickEvent(QMouseEvent* event)
{
    // Qt sends the second press of a double click as this event alone: the press has been
    // handled, the release only needs to know it ends a double click.
    event->accept();
    m_clickCount = 2;
}

void ShelfEntryViewBase::mouseMoveEvent(QMouseEvent* event)
{
    mouseDragged(event);
}

void ShelfEntryViewBase::mouseReleaseEvent(QMouseEvent* event)
{
    mouseUp(event);
}

bool ShelfEntryViewBase::eventFilter(QObject* watched, QEvent* event)
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
