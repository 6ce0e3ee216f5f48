#include "ClipRowView.h"

#include "Island/Kit/TruncatingLabel.h"

#include "ClipThumbnailView.h"
#include "HistoryDragSession.h"
#include "HistoryTime.h"
#include "Island/Kit/IslandIconButton.h"
#include "Island/Kit/IslandIcons.h"
#include "Island/Kit/IslandTheme.h"
#include "Island/IslandView.h"
#include "Pasteboard/MacFileContent.h"
#include "RowDrag.h"

#include <QuillomareCore/Foundation.h>
#include <QuillomareCore/Language.h>

#include <QGraphicsOpacityEffect>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineF>
#include <QMenu>
#include <QMouseEvent>
#include <QPainter>
#include <QVBoxLayout>

namespace QuillomareMac {

namespace Language = QuillomareCore::Language;

using QuillomareCore::ClipboardItem;
using QuillomareCore::ClipboardPayload;
using QuillomareCore::ClipKind;
using QuillomareCore::ClipSourcePlatform;

namespace {

constexpr int rowHeight = 40;
constexpr qreal dragThreshold = 20;
// A drag released farther than this from the press was a drag, not a click.
constexpr qreal clickSlop = 32;

// The row's texts: cut at the end, and the row's own for presses.
TruncatingLabel* makeRowLabel(const QString& text, qreal points, QFont::Weight weight, qreal alpha, QWidget* parent)
{
    auto* label =
        new TruncatingLabel(Qt::ElideRight, IslandTheme::systemFont(points, weight), IslandTheme::white(alpha), parent);
    label->setText(text);
    label->setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Fixed);
    label->setAttribute(Qt::WA_TransparentForMouseEvents);
    return label;
}

} // namespace

ClipRowView::ClipRowView(const ClipboardItem& item, QWidget* parent) : QWidget(parent), m_item(item)
{
    setup();
}

void ClipRowView::setup()
{
    setFixedHeight(rowHeight);
    setAttribute(Qt::WA_TranslucentBackground);

    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(15, 5, 7, 5);
    layout->setSpacing(7);

    m_thumbnail = new ClipThumbnailView(this);
    m_thumbnail->setFixedSize(26, 26);
    m_thumbnail->configure(m_item, badgeText(m_item), badgeColor(m_item));
    m_thumbnail->onThumbnailClick = [this] { previewIfImage(); };
    m_thumbnail->imageView()->onClick = [this] { previewIfImage(); };
    // Presses on the tile are the row's (select, drag, and the preview on release); watching them
    // rather than passing them through keeps the picture's pointing hand.
    m_thumbnail->installEventFilter(this);
    for (QWidget* child : m_thumbnail->findChildren<QWidget*>())
        child->installEventFilter(this);
    layout->addWidget(m_thumbnail, 0, Qt::AlignVCenter);

    auto* texts = new QVBoxLayout;
    texts->setSpacing(2);
    m_preview = makeRowLabel(m_item.preview, 10.5, QFont::DemiBold, 0.94, this);
    m_meta = makeRowLabel(metaText(m_item), 8.5, QFont::Medium, 0.48, this);
    texts->addStretch();
    texts->addWidget(m_preview);
    texts->addWidget(m_meta);
    texts->addStretch();
    layout->addLayout(texts, 0);
    layout->addStretch(1);

    if (m_item.isPinned) {
        m_pinButton = new IslandIconButton(
            QStringLiteral("pin.fill"), Language::text(QStringLiteral("取消置顶"), QStringLiteral("Unpin")), 16,
            IslandTheme::rgb(1.0, 0.77, 0.28, 0.92), IslandTheme::rgb(1.0, 0.84, 0.38, 1.0), this);
    } else {
        m_pinButton = new IslandIconButton(
            QStringLiteral("pin"), Language::text(QStringLiteral("置顶这条历史"), QStringLiteral("Pin this item")), 16,
            IslandTheme::white(0.48), IslandTheme::white(0.88), this);
    }
    m_moreButton = new IslandIconButton(QStringLiteral("ellipsis"),
                                        Language::text(QStringLiteral("更多操作"), QStringLiteral("More actions")), 15,
                                        IslandTheme::white(0.42), IslandTheme::white(0.88), this);
    connect(m_pinButton, &QAbstractButton::clicked, this, [this] { pinTapped(); });
    connect(m_moreButton, &QAbstractButton::clicked, this, [this] { moreTapped(); });
    m_actionButtons = {m_pinButton, m_moreButton};
    for (IslandIconButton* button : m_actionButtons) {
        button->setFixedSize(18, 18);
        layout->addWidget(button, 0, Qt::AlignVCenter);
    }

    updateBackground();
}

// MARK: - Look

void ClipRowView::updateBackground()
{
    const bool hovered = m_isHovering;
    Look look;
    if (m_isSelected) {
        look.background = IslandTheme::white(hovered ? 0.08 : 0.054);
        look.accent = IslandTheme::withAlpha(IslandTheme::selectionBlue(), 0.95);
        look.separatorVisible = false;
        look.selectionOutlineVisible = true;
    } else if (hovered) {
        look.background = IslandTheme::white(0.035);
        look.border = IslandTheme::white(0.07);
        look.borderWidth = 1;
        look.accent = IslandTheme::white(0.48);
        look.separatorVisible = false;
    } else {
        look.background = IslandTheme::white(0.01);
        look.accent = IslandTheme::white(0.48);
    }
    m_look = look;

    // The buttons of a resting row all but vanish; a pinned row always shows its pin.
    for (IslandIconButton* button : m_actionButtons) {
        qreal opacity = 0.18;
        if (!button->isEnabled())
            opacity = 0.22;
        else if (hovered || m_isSelected || (button == m_pinButton && m_item.isPinned))
            opacity = 1.0;
        button->setContentOpacity(opacity);
    }
    update();
}

qreal ClipRowView::buttonOpacity(const IslandIconButton* button) const
{
    return button ? button->contentOpacity() : 1.0;
}

void ClipRowView::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QRectF bounds = rect();
    IslandTheme::paintRoundedSurface(painter, bounds, 8, m_look.background, m_look.border, m_look.borderWidth);

    painter.setPen(Qt::NoPen);
    if (m_look.separatorVisible)
        painter.fillRect(QRectF(15, bounds.height() - 1, bounds.width() - 22, 1), IslandTheme::white(0.075));
    painter.setBrush(m_look.accent);
    painter.drawRoundedRect(QRectF(8, (bounds.height() - 4) / 2, 4, 4), 2, 2);

    if (m_look.selectionOutlineVisible && !bounds.isEmpty()) {
        QPen outline(IslandTheme::withAlpha(IslandTheme::selectionBlue(), 0.86), 1.15);
        painter.setPen(outline);
        painter.setBrush(Qt::NoBrush);
        painter.drawRoundedRect(bounds.adjusted(0.65, 0.65, -0.65, -0.65), 7.35, 7.35);
    }
}

void ClipRowView::enterEvent(QEnterEvent* event)
{
    if (m_hoverHighlightEnabled && !m_isHovering) {
        m_isHovering = true;
        updateBackground();
    }
    QWidget::enterEvent(event);
}

void ClipRowView::leaveEvent(QEvent* event)
{
    // Leaving always clears the look, even while hover is paused for scrolling.
    if (m_isHovering) {
        m_isHovering = false;
        updateBackground();
    }
    QWidget::leaveEvent(event);
}

// MARK: - Texts

bool ClipRowView::canCopyItem() const
{
    switch (m_item.payload.caseOf()) {
    case ClipboardPayload::Case::text:
        return !m_item.payload.textValue().isEmpty();
    case ClipboardPayload::Case::fileURLs:
        return !MacFileContent::cleanPaths(m_item.payload.fileURLsValue()).isEmpty();
    case ClipboardPayload::Case::imagePNG:
        return m_item.payload.imagePNGByteCount() > 0;
    case ClipboardPayload::Case::empty:
        break;
    }
    return false;
}

QString ClipRowView::badgeText(const ClipboardItem& item)
{
    if (item.isSensitive)
        return Language::text(QStringLiteral("私密"), QStringLiteral("Private"));
    return Language::localizedDisplayName(item.kind);
}

std::optional<QColor> ClipRowView::kindColor(ClipKind kind, bool isSensitive)
{
    if (isSensitive)
        return IslandTheme::rgb(0.95, 0.46, 0.62);
    switch (kind) {
    case ClipKind::text:
        return IslandTheme::rgb(0.36, 0.62, 0.94);
    case ClipKind::url:
        return IslandTheme::rgb(0.32, 0.76, 0.78);
    case ClipKind::file:
        return IslandTheme::rgb(0.92, 0.63, 0.30);
    case ClipKind::image:
        return IslandTheme::rgb(0.70, 0.58, 0.92);
    case ClipKind::unknown:
        break;
    }
    return std::nullopt;
}

QColor ClipRowView::badgeColor(const ClipboardItem& item)
{
    // The desktop-neutral grey for a kind without a colour.
    return kindColor(item.kind, item.isSensitive).value_or(QColor(142, 142, 147));
}

void ClipRowView::refreshMetaText()
{
    const QString text = metaText(m_item);
    if (m_meta->text() != text)
        m_meta->setText(text);
}

QString ClipRowView::metaText(const ClipboardItem& item)
{
    QStringList parts{badgeText(item), HistoryTime::relativeTimeText(item.createdAt, QuillomareCore::Clock::now())};
    switch (item.sourcePlatform) {
    case ClipSourcePlatform::mac:
        parts.append(Language::text(QStringLiteral("本机"), QStringLiteral("Computer")));
        break;
    case ClipSourcePlatform::iphone:
        parts.append(Language::text(QStringLiteral("手机"), QStringLiteral("Phone")));
        break;
    case ClipSourcePlatform::unknown:
        parts.append(Language::text(QStringLiteral("未知设备"), QStringLiteral("Unknown device")));
        break;
    }
    if (item.isPinned)
        parts.append(Language::text(QStringLiteral("已置顶"), QStringLiteral("Pinned")));
    if (item.isLocalOnly)
        parts.append(Language::text(QStringLiteral("仅本机"), QStringLiteral("Local only")));
    return parts.join(QStringLiteral(" · "));
}

// MARK: - Mouse

void ClipRowView::rowMouseDown(QMouseEvent* event)
{
    if (event->button() != Qt::LeftButton)
        return;
    event->accept();
    // Qt delivers the second press of a double click and then a double-click event for the same
    // press: the press has been handled, the release only needs to know it was the second click.
    if (event->type() == QEvent::MouseButtonDblClick) {
        m_clickCount = 2;
        return;
    }
    m_mouseDownPoint = mapFromGlobal(event->globalPosition());
    m_didStartDragSession = false;
    m_didHandleMultiSelectClick = false;
    m_clickCount = 1;

    const Qt::KeyboardModifiers modifiers = event->modifiers();
    if (!(modifiers & (Qt::ControlModifier | Qt::ShiftModifier))) {
        if (onSelect)
            onSelect(m_item);
        return;
    }
    m_didHandleMultiSelectClick = true;
    if (onMultiSelect)
        onMultiSelect(m_item, modifiers.testFlag(Qt::ShiftModifier));
}

void ClipRowView::rowMouseDragged(QMouseEvent* event)
{
    if (RowDrag::shouldStartDrag(*this, event, m_mouseDownPoint, m_didStartDragSession, dragThreshold))
        startDrag();
}

void ClipRowView::startDrag()
{
    QList<ClipboardItem> entries;
    if (dragItemsProvider) {
        if (auto provided = dragItemsProvider(m_item))
            entries = *provided;
    }
    if (entries.isEmpty())
        entries = {m_item};

    const QList<DraggingItem> draggingItems = RowDrag::fannedItems(rect(), entries);
    if (draggingItems.isEmpty())
        return;

    const QPixmap snapshot = RowDrag::snapshot(*this);
    m_didStartDragSession = true;
    // A real drag runs its own event loop until the drop and takes the release with it; nothing of
    // this row may be touched after it.
    HistoryDragSession::begin(this, draggingItems, snapshot);
}

void ClipRowView::rowMouseUp(QMouseEvent* event)
{
    if (event->button() != Qt::LeftButton)
        return;
    event->accept();
    const QPointF point = mapFromGlobal(event->globalPosition());
    const bool draggedAway =
        m_didStartDragSession && m_mouseDownPoint && QLineF(*m_mouseDownPoint, point).length() > clickSlop;
    if (!m_didHandleMultiSelectClick && !draggedAway) {
        if (m_clickCount >= 2) {
            if (onPreview)
                onPreview(m_item);
        } else if (thumbnailFrame().contains(point) && !m_item.isSensitive &&
                   MacPreview::hasMacPreviewImagePayload(m_item)) {
            if (onPreview)
                onPreview(m_item);
        } else if (!m_didStartDragSession && onSelect) {
            onSelect(m_item);
        }
    }
    m_mouseDownPoint.reset();
    m_didStartDragSession = false;
    m_didHandleMultiSelectClick = false;
    m_clickCount = 0;
}

void ClipRowView::mousePressEvent(QMouseEvent* event)
{
    rowMouseDown(event);
}

void ClipRowView::mouseMoveEvent(QMouseEvent* event)
{
    rowMouseDragged(event);
}

void ClipRowView::mouseReleaseEvent(QMouseEvent* event)
{
    rowMouseUp(event);
}

bool ClipRowView::eventFilter(QObject* watched, QEvent* event)
{
    switch (event->type()) {
    case QEvent::MouseButtonPress:
    case QEvent::MouseButtonDblClick:
        rowMouseDown(static_cast<QMouseEvent*>(event));
        return true;
    case QEvent::MouseMove:
        rowMouseDragged(static_cast<QMouseEvent*>(event));
        return true;
    case QEvent::MouseButtonRelease:
        rowMouseUp(static_cast<QMouseEvent*>(event));
        return true;
    default:
        return QWidget::eventFilter(watched, event);
    }
}

QRectF ClipRowView::thumbnailFrame() const
{
    return QRectF(m_thumbnail->mapTo(this, QPointF(0, 0)), m_thumbnail->size());
}

void ClipRowView::previewIfImage()
{
    if (!m_item.isSensitive && MacPreview::hasMacPreviewImagePayload(m_item) && onPreview)
        onPreview(m_item);
}

// MARK: - Actions

void ClipRowView::pinTapped()
{
    if (onTogglePin)
        onTogglePin(m_item);
}

void ClipRowView::deleteTapped()
{
    if (onDelete)
        onDelete(m_item);
}

void ClipRowView::copyTapped()
{
    if (onPasteVariant)
        onPasteVariant(m_item, PasteVariant::original);
}

void ClipRowView::pasteVariantMenuItemTapped(int tag)
{
    const auto& variants = PasteVariant::allCases();
    if (tag < 0 || tag >= int(variants.size()))
        return;
    if (onPasteVariant)
        onPasteVariant(m_item, variants[std::size_t(tag)]);
}

QMenu* ClipRowView::makeRowMenu()
{
    QMenu* menu = IslandView::makeIslandMenu(this);
    menu->setObjectName(QStringLiteral("historyRowMenu"));

    QAction* copy =
        menu->addAction(islandMenuIcon(QStringLiteral("doc.on.doc")), PasteVariant(PasteVariant::original).title());
    copy->setEnabled(canCopyItem());
    connect(copy, &QAction::triggered, this, [this] { copyTapped(); });

    for (PasteVariant variant : PasteTransform::menuVariants(m_item)) {
        if (variant == PasteVariant::original)
            continue;
        QAction* action = menu->addAction(islandMenuIcon(QStringLiteral("text.alignleft")), variant.title());
        const int tag = int(variant);
        action->setData(tag);
        action->setEnabled(true);
        connect(action, &QAction::triggered, this, [this, tag] { pasteVariantMenuItemTapped(tag); });
    }

    menu->addSeparator();
    const bool pinned = m_item.isPinned;
    QAction* pin =
        menu->addAction(islandMenuIcon(pinned ? QStringLiteral("pin.slash") : QStringLiteral("pin")),
                        pinned ? Language::text(QStringLiteral("取消置顶"), QStringLiteral("Unpin"))
                               : Language::text(QStringLiteral("置顶这条历史"), QStringLiteral("Pin this item")));
    pin->setEnabled(true);
    connect(pin, &QAction::triggered, this, [this] { pinTapped(); });

    QAction* remove =
        menu->addAction(islandMenuIcon(QStringLiteral("trash")),
                        Language::text(QStringLiteral("删除这条历史"), QStringLiteral("Delete this item")));
    remove->setEnabled(true);
    connect(remove, &QAction::triggered, this, [this] { deleteTapped(); });
    return menu;
}

QPoint ClipRowView::rowMenuPosition() const
{
    // The menu's corner sits 30 points in from the right edge, just above the row, so it opens
    // over the row it belongs to.
    return QPoint(width() - 30, -4);
}

void ClipRowView::moreTapped()
{
    makeRowMenu()->popup(mapToGlobal(rowMenuPosition()));
}

} // namespace QuillomareMac
