// The shelf mode's state: the sessions the shell pushes, the session shown, the signature that
// decides whether the cards and rows are built again, and the selection among the entries (a
// focused entry, a multi-selection and a range anchor). The view never changes the shelf itself;
// every change comes back through the next push.

#include "Island/IslandView.h"
#include "Shelf/Views/IslandViewShelfState.h"

#include "Island/Kit/IslandListScrollView.h"
#include "Island/Kit/IslandScheduler.h"
#include "Island/Kit/IslandSelection.h"
#include "Island/Kit/IslandWidgetStack.h"

#include "Shelf/Views/ShelfDropZoneView.h"
#include "Shelf/Views/ShelfEmptyStateView.h"
#include "Shelf/Views/ShelfGalleryCardView.h"
#include "Shelf/Views/ShelfItemRowView.h"
#include "Shelf/Views/ShelfSessionPillButton.h"

#include <QuillomareCore/Foundation.h>
#include <QuillomareCore/Language.h>

#include <QBoxLayout>
#include <QCoreApplication>
#include <QLabel>
#include <QMouseEvent>
#include <QPointer>
#include <QScrollBar>

#include <algorithm>

namespace QuillomareMac {

namespace Language = QuillomareCore::Language;

namespace {

// The entry limit of one session, as the shell passes it to the store.
constexpr int kShelfItemLimit = 30;
constexpr int kShelfCardWidth = 300;
constexpr int kShelfRowHeight = 96;
constexpr int kShelfEmptyStateHeight = 150;

const QChar kSignatureSeparator(0x1F);

// The store stamps every date with the current time, so an invalid date means a record made in
// code; it signs as 0 rather than as whatever an invalid date converts to.
QString millisecondsSignature(const QDateTime& date)
{
    return QString::number(date.isValid() ? date.toMSecsSinceEpoch() : qint64(0));
}

void appendToStack(QWidget* stack, QWidget* view)
{
    if (!stack)
        return;
    if (auto* box = qobject_cast<QBoxLayout*>(stack->layout()))
        box->addWidget(view);
    else
        view->setParent(stack);
    view->show();
}

} // namespace

// MARK: - State

std::unique_ptr<IslandView::ShelfState, IslandView::ShelfStateDeleter> IslandView::makeShelfState()
{
    return std::unique_ptr<ShelfState, ShelfStateDeleter>(new ShelfState);
}

void IslandView::ShelfStateDeleter::operator()(ShelfState* state) const
{
    delete state;
}

const QList<ShelfSession>& IslandView::shelfSessions() const
{
    return m_shelf->sessions;
}

const QList<ShelfItem>& IslandView::shelfItems() const
{
    return m_shelf->items;
}

qsizetype IslandView::shelfItemCount() const
{
    return m_shelf->items.size();
}

// MARK: - Pushes

void IslandView::configureShelf(const QList<ShelfSession>& sessions, const QUuid& selectedSessionID,
                                const std::optional<QString>& message)
{
    m_shelf->sessions = sessions;
    m_selectedShelfSessionID = selectedSessionID;
    const auto shown = std::find_if(sessions.cbegin(), sessions.cend(),
                                    [&](const ShelfSession& session) { return session.id == selectedSessionID; });
    if (shown != sessions.cend())
        m_shelf->items = shown->items;
    else if (!sessions.isEmpty())
        m_shelf->items = sessions.first().items;
    else
        m_shelf->items.clear();

    repairShelfFocus();
    QSet<QUuid> listed;
    for (const ShelfItem& item : std::as_const(m_shelf->items))
        listed.insert(item.id);
    m_selectedShelfItemIDs.intersect(listed);

    finishShelfPush(message);
}

void IslandView::configureShelf(const QList<ShelfItem>& items, const std::optional<QString>& message)
{
    m_shelf->items = items;
    QUuid sessionID;
    if (m_selectedShelfSessionID)
        sessionID = *m_selectedShelfSessionID;
    else if (!m_shelf->sessions.isEmpty())
        sessionID = m_shelf->sessions.first().id;
    else
        sessionID = QUuid::createUuid();
    m_selectedShelfSessionID = sessionID;
    const QDateTime now = QuillomareCore::Clock::now();
    m_shelf->sessions = {ShelfSession{sessionID, ShelfSession::defaultName(), items, now, now}};
    repairShelfFocus();
    finishShelfPush(message);
}

void IslandView::repairShelfFocus()
{
    m_selectedShelfItemID = IslandSelection::repairedFocus(m_shelf->items, m_selectedShelfItemID);
}

void IslandView::finishShelfPush(const std::optional<QString>& message)
{
    // The shell reports every shelf outcome (failures too) through this message; the list
    // variant's drop zone that would carry it is never shown, so it is the island's status too.
    if (message && !message->isEmpty())
        showShelfMessage(*message);
    refreshModeLabels();
    refreshShelfSessionMenu();
    updateShelfDropZone(message);
    const QString signature = makeShelfRowsSignature();
    if (m_lastShelfRowsSignature && *m_lastShelfRowsSignature == signature)
        return;
    rebuildShelfRows();
}

void IslandView::showShelfMessage(const QString& message)
{
    // Collapsed (the shell shows the island right after it reports) or still morphing, it is
    // shown once the island has expanded.
    if (m_displayMode == DisplayMode::expanded && !hasActiveIslandLayerAnimation()) {
        m_pendingExpandedMessage.reset();
        showTransientStatus(message);
        return;
    }
    m_pendingExpandedMessage = PendingMessage{message, IslandScheduler::shared().now()};
}

// MARK: - Session pill and drop zones

std::optional<ShelfSession> IslandView::currentShelfSession() const
{
    for (const ShelfSession& session : m_shelf->sessions) {
        if (m_selectedShelfSessionID && session.id == *m_selectedShelfSessionID)
            return session;
    }
    if (m_shelf->sessions.isEmpty())
        return std::nullopt;
    return m_shelf->sessions.first();
}

void IslandView::refreshShelfSessionMenu()
{
    const std::optional<ShelfSession> session = currentShelfSession();
    const QString title = session ? session->name + QLatin1Char(' ') + QString::number(session->items.size())
                                  : ShelfSession::defaultName() + QStringLiteral(" 0");
    if (m_shelfSessionButton) {
        m_shelfSessionButton->setTitle(title);
        m_shelfSessionButton->setEnabled(session.has_value());
        m_shelfSessionButton->updateAppearance();
        m_shelfSessionButton->updateGeometry();
    }
    updateShelfGallerySession();
}

QString IslandView::shelfDropZoneTitle(const std::optional<QString>& message, qsizetype count)
{
    if (message && !message->isEmpty())
        return *message;
    return count > 0 ? Language::text(QStringLiteral("继续添加"), QStringLiteral("Add more"))
                     : Language::text(QStringLiteral("拖入暂存架"), QStringLiteral("Drag to Shelf"));
}

QString IslandView::shelfDropZoneSubtitle(const std::optional<QString>& message, qsizetype count)
{
    const QString fill = QString::number(count) + QLatin1Char('/') + QString::number(kShelfItemLimit);
    if (message && !message->isEmpty())
        return count > 0 ? fill : Language::text(QStringLiteral("空会话"), QStringLiteral("Empty session"));
    if (count > 0)
        return fill + QStringLiteral(" · ") +
               Language::text(QStringLiteral("可拖出或批量处理"), QStringLiteral("Drag out or batch process"));
    return Language::text(QStringLiteral("文件、图片、文本、链接"), QStringLiteral("Files, images, text, links"));
}

QString IslandView::shelfGalleryDropZoneTitle()
{
    return Language::text(QStringLiteral("将文件、图片、文本或链接拖到灵动岛"),
                          QStringLiteral("Drag files, images, text or links to the island"));
}

QString IslandView::shelfGalleryDropZoneSubtitle()
{
    return Language::text(QStringLiteral("或粘贴（Ctrl+V）/ 一键加入（Ctrl+Alt+S）"),
                          QStringLiteral("or paste (Ctrl+V) / quick add (Ctrl+Alt+S)"));
}

void IslandView::updateShelfDropZone(const std::optional<QString>& message)
{
    const qsizetype count = m_shelf->items.size();
    if (m_shelfDropZone) {
        m_shelfDropZone->setTitle(shelfDropZoneTitle(message, count));
        m_shelfDropZone->setSubtitle(shelfDropZoneSubtitle(message, count));
    }
    if (m_shelfGalleryDropZone) {
        m_shelfGalleryDropZone->setTitle(shelfGalleryDropZoneTitle());
        m_shelfGalleryDropZone->setSubtitle(shelfGalleryDropZoneSubtitle());
    }
}

// MARK: - Signature and rebuild

QString IslandView::makeShelfRowsSignature() const
{
    QStringList parts;
    parts.reserve(3 + m_shelf->sessions.size() + m_shelf->items.size());
    parts.append(QStringLiteral("session=") + (m_selectedShelfSessionID
                                                   ? QuillomareCore::Uuid::text(*m_selectedShelfSessionID)
                                                   : QStringLiteral("none")));
    parts.append(QStringLiteral("sessionCount=") + QString::number(m_shelf->sessions.size()));
    parts.append(QStringLiteral("itemCount=") + QString::number(m_shelf->items.size()));
    for (const ShelfSession& session : m_shelf->sessions) {
        parts.append(QuillomareCore::Uuid::text(session.id) + QLatin1Char('|') + session.name + QLatin1Char('|') +
                     QString::number(session.items.size()) + QLatin1Char('|') +
                     millisecondsSignature(session.updatedAt));
    }
    for (const ShelfItem& item : m_shelf->items) {
        parts.append(QuillomareCore::Uuid::text(item.id) + QLatin1Char('|') + millisecondsSignature(item.createdAt) +
                     QLatin1Char('|') + kindSignature(item.kind) + QLatin1Char('|') +
                     abbreviatedForSignature(item.title) + QLatin1Char('|') + abbreviatedForSignature(item.subtitle) +
                     QLatin1Char('|') + abbreviatedForSignature(item.preview) + QLatin1Char('|') +
                     (item.isSensitive ? QLatin1Char('S') : QLatin1Char('-')) + QLatin1Char('|') +
                     shelfPayloadSignature(item.payload));
    }
    return parts.join(kSignatureSeparator);
}

void IslandView::rebuildShelfRows()
{
    ++m_shelfRebuildCount;
    IslandWidgetStack::clear(m_shelfListStack);
    IslandWidgetStack::clear(m_shelfGalleryStack);
    m_shelfRowViewsByID.clear();
    m_shelfGalleryCardViewsByID.clear();
    m_lastShelfRowsSignature = makeShelfRowsSignature();

    if (m_shelf->items.isEmpty()) {
        m_selectedShelfItemID.reset();
        m_selectedShelfItemIDs.clear();
        if (m_shelfListStack) {
            auto* empty = new ShelfEmptyStateView(m_shelfListStack);
            empty->setFixedHeight(kShelfEmptyStateHeight);
            appendToStack(m_shelfListStack, empty);
        }
    } else {
        repairShelfFocus();
        QPointer<IslandView> weak(this);
        for (const ShelfItem& item : std::as_const(m_shelf->items)) {
            const QUuid id = item.id;
            const bool selected = isShelfItemMarked(id);
            // A card and a row answer the same way and show the same mark.
            const auto wire = [&](auto* view) {
                view->dragItemsProvider = [weak, id] { return weak ? weak->shelfDragItems(id) : QList<ShelfItem>(); };
                view->onSelect = [weak](const ShelfItem& entry) {
                    if (weak)
                        weak->selectShelfItem(entry.id, false);
                };
                view->onMultiSelect = [weak](const ShelfItem& entry, bool extendRange) {
                    if (weak)
                        weak->toggleShelfSelection(entry, extendRange);
                };
                view->onPreview = [weak](const ShelfItem& entry) {
                    if (weak)
                        weak->previewShelfItem(entry);
                };
                view->setSelected(selected);
                view->updateBackground();
            };

            auto* card = new ShelfGalleryCardView(item, m_shelfGalleryStack);
            wire(card);
            card->setFixedWidth(kShelfCardWidth);
            m_shelfGalleryCardViewsByID.insert(id, card);
            appendToStack(m_shelfGalleryStack, card);

            auto* row = new ShelfItemRowView(item, m_shelfListStack);
            wire(row);
            row->setFixedHeight(kShelfRowHeight);
            m_shelfRowViewsByID.insert(id, row);
            appendToStack(m_shelfListStack, row);
        }
    }

    // The list starts again at its top; the gallery keeps where the user scrolled it.
    if (m_shelfScrollView) {
        if (QWidget* document = m_shelfScrollView->widget())
            document->adjustSize();
        m_shelfScrollView->verticalScrollBar()->setValue(0);
        m_shelfScrollView->horizontalScrollBar()->setValue(0);
    }
    updateShelfActionPanel();
    updateShelfGallerySession();
    updateShelfGalleryDetail();
}

// MARK: - Selection

bool IslandView::isShelfItemMarked(const QUuid& id) const
{
    return (m_selectedShelfItemID && *m_selectedShelfItemID == id) || m_selectedShelfItemIDs.contains(id);
}

void IslandView::markShelfSelection()
{
    // Only the views whose mark changed are drawn again.
    const auto mark = [this](const auto& viewsByID) {
        for (auto it = viewsByID.cbegin(); it != viewsByID.cend(); ++it) {
            const bool selected = isShelfItemMarked(it.key());
            if (it.value()->isSelected() == selected)
                continue;
            it.value()->setSelected(selected);
            it.value()->updateBackground();
        }
    };
    mark(m_shelfRowViewsByID);
    mark(m_shelfGalleryCardViewsByID);
}

void IslandView::selectShelfItem(const QUuid& id, bool scrollIntoView)
{
    m_selectedShelfItemID = id;
    markShelfSelection();
    if (scrollIntoView && m_shelfScrollView) {
        if (ShelfItemRowView* row = m_shelfRowViewsByID.value(id))
            m_shelfScrollView->ensureWidgetVisible(row, 0, 0);
    }
    // The gallery is what the user sees: its focused card must be in view too.
    if (scrollIntoView && m_shelfGalleryScrollView) {
        if (ShelfGalleryCardView* card = m_shelfGalleryCardViewsByID.value(id))
            m_shelfGalleryScrollView->ensureWidgetVisible(card, 0, 0);
    }
    updateShelfActionPanel();
    updateShelfGalleryDetail();
}

void IslandView::toggleShelfSelection(const ShelfItem& item, bool extendRange)
{
    IslandSelection::toggleMark(m_shelf->items, m_selectedShelfItemIDs, m_lastShelfSelectionID, item.id, extendRange);
    m_lastShelfSelectionID = item.id;
    m_selectedShelfItemID = item.id;
    markShelfSelection();
    updateShelfActionPanel();
    updateShelfGalleryDetail();
}

std::optional<ShelfItem> IslandView::selectedShelfItem() const
{
    return IslandSelection::find(m_shelf->items, m_selectedShelfItemID);
}

QList<ShelfItem> IslandView::selectedShelfItemsForActions(bool defaultToSession) const
{
    return IslandSelection::forActions(m_shelf->items, m_selectedShelfItemIDs, selectedShelfItem(),
                                       defaultToSession ? m_shelf->items : QList<ShelfItem>());
}

void IslandView::moveShelfSelection(int offset)
{
    const std::optional<QUuid> target = IslandSelection::movedFocus(m_shelf->items, m_selectedShelfItemID, offset);
    if (!target) {
        m_selectedShelfItemID.reset();
        return;
    }
    selectShelfItem(*target, true);
}

QList<ShelfItem> IslandView::shelfDragItems(const QUuid& id) const
{
    // A multi-selection travels together only when the dragged entry belongs to it.
    if (m_selectedShelfItemIDs.size() < 2 || !m_selectedShelfItemIDs.contains(id))
        return {};
    return IslandSelection::markedEntries(m_shelf->items, m_selectedShelfItemIDs);
}

void IslandView::previewShelfItem(const ShelfItem& item)
{
    selectShelfItem(item.id, false);
    presentQuickPreview(item.clipboardItem(), true);
}

// MARK: - The gallery's mouse fallback

ShelfGalleryCardView* IslandView::shelfGalleryCard(QMouseEvent* event) const
{
    if (m_contentMode != ContentMode::shelfGallery || !event || !m_shelfGalleryStack)
        return nullptr;
    const QPointF point = m_shelfGalleryStack->mapFromGlobal(event->globalPosition());
    for (const ShelfItem& item : m_shelf->items) {
        ShelfGalleryCardView* card = m_shelfGalleryCardViewsByID.value(item.id);
        if (card && QRectF(card->geometry()).contains(point))
            return card;
    }
    return nullptr;
}

namespace {

// The card takes the event as its own: positions in its coordinates, the rest unchanged.
void forwardMouseEvent(QWidget* card, QMouseEvent* event, QEvent::Type type)
{
    const QPointF local = card->mapFromGlobal(event->globalPosition());
    QMouseEvent forwarded(type, local, local, event->globalPosition(), event->button(), event->buttons(),
                          event->modifiers(), event->pointingDevice());
    QCoreApplication::sendEvent(card, &forwarded);
}

} // namespace

bool IslandView::handleShelfGalleryFallbackMouseDown(QMouseEvent* event)
{
    ShelfGalleryCardView* card = shelfGalleryCard(event);
    if (!card) {
        m_shelfGalleryFallbackCardID.reset();
        return false;
    }
    m_shelfGalleryFallbackCardID = card->item().id;
    // The card's own press remembers the point, forgets an earlier drag and selects; the press
    // that ends a double click stays one, so that the release opens the preview.
    forwardMouseEvent(card, event,
                      event->type() == QEvent::MouseButtonDblClick ? QEvent::MouseButtonDblClick
                                                                  : QEvent::MouseButtonPress);
    return true;
}

bool IslandView::handleShelfGalleryFallbackMouseDragged(QMouseEvent* event)
{
    if (!m_shelfGalleryFallbackCardID)
        return false;
    ShelfGalleryCardView* card = m_shelfGalleryCardViewsByID.value(*m_shelfGalleryFallbackCardID);
    if (!card)
        return false;
    forwardMouseEvent(card, event, QEvent::MouseMove);
    return true;
}

bool IslandView::handleShelfGalleryFallbackMouseUp(QMouseEvent* event)
{
    const std::optional<QUuid> id = m_shelfGalleryFallbackCardID;
    m_shelfGalleryFallbackCardID.reset();
    ShelfGalleryCardView* card = id ? m_shelfGalleryCardViewsByID.value(*id) : nullptr;
    if (!card)
        return false;
    forwardMouseEvent(card, event, QEvent::MouseButtonRelease);
    return true;
}

} // namespace QuillomareMac
