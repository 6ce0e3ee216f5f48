// The history mode: the list of rows the shell's history turns into, its filters and search, the
// selection (a primary entry, a multi-selection and a range anchor), the keys of the search
// field, the rows' hover while the list scrolls, the scroll view's mouse fallbacks and the
// selection bar above the list.
//
// The list is rebuilt, never patched: every rebuild throws all rows away and makes new ones from
// the entries that pass the filters. A signature of what the rows would show lets configure()
// skip the rebuild when the shell hands over a history that would look the same.

#include "Island/IslandView.h"

#include "Island/Kit/IslandButtonFactory.h"
#include "Island/Kit/IslandListScrollView.h"
#include "Island/Kit/IslandSelection.h"
#include "Island/Kit/IslandSegmentedPillControl.h"
#include "Island/Kit/IslandTheme.h"

#include "History/ClipRowView.h"
#include "History/HistoryListFooterView.h"
#include "History/HistoryPreviewPane.h"
#include "History/HistoryTime.h"

#include <QuillomareCore/Foundation.h>
#include <QuillomareCore/Language.h>

#include <QApplication>
#include <QCursor>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPlainTextEdit>
#include <QPointer>
#include <QRegularExpression>
#include <QScrollBar>
#include <QTextBoundaryFinder>
#include <QTextEdit>
#include <QTimer>
#include <QVBoxLayout>

#include <algorithm>
#include <utility>

namespace QuillomareMac {

namespace Language = QuillomareCore::Language;

using QuillomareCore::ClipboardItem;
using QuillomareCore::ClipboardPayload;
using QuillomareCore::ClipKind;
using QuillomareCore::ClipKindFilter;
using QuillomareCore::ClipSourcePlatform;

namespace {

constexpr QChar kRecordSeparator(0x1F);
constexpr int kRowHeight = 40;
constexpr int kFooterHeight = 22;
constexpr int kEmptyLabelHeight = 180;
constexpr int kListInset = 3;
// Room the list leaves in the deck: the controls row and its spacing, and the selection bar
// with its spacing while it shows.
constexpr double kListReserve = 42;
constexpr double kListReserveWithBar = 84;
constexpr double kListFloorWithBar = 240;
constexpr double kFallbackDeckHeight = 290;
// What of the deck the body (and so the list column) gets: the controls row (34) and the spacing
// below it (8); and what the selection bar takes of the column (30 and 4).
constexpr double kBodyReserve = 42;
constexpr double kSelectionBarReserve = 34;

bool passesSource(const ClipboardItem& item, int segment)
{
    switch (segment) {
    case 1:
        return item.sourcePlatform == ClipSourcePlatform::mac;
    case 2:
        return item.sourcePlatform == ClipSourcePlatform::iphone;
    case 3:
        return item.isPinned;
    default:
        return true;
    }
}

// A text editor of the island (the inspector's draft) keeps its own arrows and Return.
bool isTextEditor(const QWidget* widget)
{
    return qobject_cast<const QPlainTextEdit*>(widget) || qobject_cast<const QTextEdit*>(widget);
}

} // namespace

// MARK: - Signature and matching

const std::array<ClipKindFilter, 4>& IslandView::kindFilters()
{
    static const std::array<ClipKindFilter, 4> filters{ClipKindFilter::text, ClipKindFilter::url,
                                                       ClipKindFilter::file, ClipKindFilter::image};
    return filters;
}

QString IslandView::relativeTimeText(const QDateTime& date)
{
    return HistoryTime::relativeTimeText(date, QuillomareCore::Clock::now());
}

namespace {

// The character boundaries of a stretch of text: from its start, or (`fromEnd`) those of its end.
// Only the ends of a text are looked at, in windows that grow as needed: a text of megabytes
// costs what its first and last hundred characters cost.
QList<qsizetype> boundariesAtEnd(const QString& text, qsizetype wanted, bool fromEnd)
{
    qsizetype window = std::min<qsizetype>(text.size(), wanted * 4 + 64);
    while (true) {
        const qsizetype start = fromEnd ? text.size() - window : 0;
        QTextBoundaryFinder finder(QTextBoundaryFinder::Grapheme, text.constData() + start, window);
        QList<qsizetype> boundaries;
        for (qsizetype position = 0; position >= 0; position = finder.toNextBoundary())
            boundaries.append(start + position);
        // A boundary at a window's inner edge may be none in the whole text: one more is needed.
        if (boundaries.size() > wanted + 1 || window == text.size())
            return boundaries;
        window = std::min<qsizetype>(text.size(), window * 2);
    }
}

} // namespace

QString IslandView::abbreviatedForSignature(const QString& text)
{
    // Cheap first: a text of at most 80 UTF-16 units has at most 80 characters.
    if (text.size() <= 80)
        return text;
    const QList<qsizetype> head = boundariesAtEnd(text, 81, false);
    if (head.size() - 1 <= 80)
        return text;
    const QList<qsizetype> tail = boundariesAtEnd(text, 24, true);
    return text.left(head[48]) + QChar(0x2026) + text.mid(tail[tail.size() - 1 - 24]);
}

QString IslandView::kindSignature(ClipKind kind)
{
    return kind.rawValue();
}

QString IslandView::payloadSignature(const ClipboardPayload& payload)
{
    switch (payload.caseOf()) {
    case ClipboardPayload::Case::text: {
        const QString text = payload.textValue();
        // The length in UTF-16 units tells changes apart as well as the count of characters, without
        // going through megabytes.
        return QStringLiteral("text:") + QString::number(text.size()) + QLatin1Char(':')
            + abbreviatedForSignature(text);
    }
    case ClipboardPayload::Case::fileURLs: {
        const QStringList paths = payload.fileURLsValue();
        return QStringLiteral("files:") + QString::number(paths.size()) + QLatin1Char(':')
            + abbreviatedForSignature(paths.join(QLatin1Char('|')));
    }
    case ClipboardPayload::Case::imagePNG:
        // Known without reading the image from the history file.
        return QStringLiteral("png:") + QString::number(payload.imagePNGByteCount()) + QLatin1Char(':')
            + QString::fromLatin1(payload.imagePNGHead(16).toBase64());
    case ClipboardPayload::Case::empty:
        break;
    }
    return QStringLiteral("empty");
}

QString IslandView::historyItemsSignature(const QList<ClipboardItem>& items)
{
    QString records;
    records.reserve(items.size() * 160);
    for (const ClipboardItem& item : items) {
        records += kRecordSeparator;
        records += QuillomareCore::Uuid::text(item.id);
        records += QLatin1Char('|') + QString::number(item.createdAt.toMSecsSinceEpoch());
        records += QLatin1Char('|') + kindSignature(item.kind);
        records += QLatin1Char('|') + item.contentHash;
        records += QLatin1Char('|') + abbreviatedForSignature(item.preview);
        records += QLatin1Char('|') + item.sourceAppName.value_or(QString());
        records += QLatin1Char('|') + item.sourceBundleIdentifier.value_or(QString());
        records += QLatin1Char('|') + item.sourcePlatform.rawValue();
        records += item.isSensitive ? QStringLiteral("|S") : QStringLiteral("|-");
        records += item.isLocalOnly ? QStringLiteral("|L") : QStringLiteral("|-");
        records += item.isPinned ? QStringLiteral("|P") : QStringLiteral("|-");
        records += QLatin1Char('|') + payloadSignature(item.payload);
    }
    return records;
}

QString IslandView::historySignatureHeader(qsizetype count) const
{
    return QStringLiteral("count=") + QString::number(count) + kRecordSeparator + QStringLiteral("query=")
        + currentQuery() + kRecordSeparator + QStringLiteral("source=")
        + QString::number(m_filterControl->selectedSegmentIndex()) + kRecordSeparator + QStringLiteral("kind=")
        + QString::number(m_kindFilterControl->selectedSegmentIndex());
}

QString IslandView::makeHistoryRowsSignature(const QList<ClipboardItem>& items) const
{
    return historySignatureHeader(items.size()) + historyItemsSignature(items);
}

QString IslandView::searchText(const ClipboardItem& item)
{
    const QStringList parts{
        item.preview,
        item.sourceAppName.value_or(QString()),
        item.sourceBundleIdentifier.value_or(QString()),
        item.sourcePlatform.searchText(),
        item.kind.searchText(),
        item.isPinned ? QStringLiteral("pinned 置顶") : QString(),
        item.isLocalOnly ? QStringLiteral("local 本地") : QString(),
        item.isSensitive ? QStringLiteral("sensitive 私密 敏感") : QString(),
    };
    return parts.join(QLatin1Char(' ')).toLower();
}

bool IslandView::matches(const ClipboardItem& item, const QStringList& terms)
{
    const QString text = searchText(item);
    return std::all_of(terms.begin(), terms.end(), [&](const QString& term) { return text.contains(term); });
}

QString IslandView::currentQuery() const
{
    return QuillomareCore::Text::trimmed(m_searchInput->text()).toLower();
}

void IslandView::refreshFilterLabels()
{
    m_filterControl->setLabel(
        Language::text(QStringLiteral("全部 "), QStringLiteral("All ")) + QString::number(m_items.size()), 0);
    m_filterControl->setLabel(Language::text(QStringLiteral("本机"), QStringLiteral("Computer")), 1);
    m_filterControl->setLabel(Language::text(QStringLiteral("手机"), QStringLiteral("Phone")), 2);
    m_filterControl->setLabel(Language::text(QStringLiteral("置顶"), QStringLiteral("Pinned")), 3);
}

QString IslandView::emptyMessage(bool hasQuery) const
{
    if (hasQuery)
        return Language::text(QStringLiteral("没有匹配结果"), QStringLiteral("No matching results"));
    const int source = m_filterControl->selectedSegmentIndex();
    const int kind = m_kindFilterControl->selectedSegmentIndex();
    if (kind >= 0 && kind < int(kindFilters().size()) && kindFilters()[size_t(kind)] != ClipKindFilter::all) {
        if (!Language::isChinese())
            return QStringLiteral("No matching history");
        QString sourceWord;
        if (source == 1)
            sourceWord = QStringLiteral("本机");
        else if (source == 2)
            sourceWord = QStringLiteral("手机");
        else if (source == 3)
            sourceWord = QStringLiteral("置顶");
        static const std::array<QString, 4> kindWord{QStringLiteral("文本"), QStringLiteral("链接"),
                                                     QStringLiteral("文件"), QStringLiteral("图片")};
        return QStringLiteral("暂无") + sourceWord + kindWord[size_t(kind)] + QStringLiteral("历史");
    }
    switch (source) {
    case 1:
        return Language::text(QStringLiteral("暂无本机历史"), QStringLiteral("No history from this computer"));
    case 2:
        return Language::text(QStringLiteral("暂无手机历史"), QStringLiteral("No phone history"));
    case 3:
        return Language::text(QStringLiteral("暂无置顶历史"), QStringLiteral("No pinned history"));
    default:
        return Language::text(QStringLiteral("暂无历史"), QStringLiteral("No history yet"));
    }
}

// MARK: - Search field

void IslandView::focusSearch()
{
    m_searchFocusAsked = true;
    // After the window has taken the keyboard: typing then replaces the previous search.
    QTimer::singleShot(0, this, [this] {
        if (!window() || !window()->isVisible())
            return;
        m_searchInput->setFocus(Qt::OtherFocusReason);
        m_searchInput->selectAll();
    });
    m_searchInput->setFocus(Qt::OtherFocusReason);
    m_searchInput->selectAll();
}

void IslandView::focusSearchTapped()
{
    setContentMode(ContentMode::history, true);
    m_searchFocusAsked = true;
    m_searchInput->setFocus(Qt::OtherFocusReason);
}

void IslandView::controlTextDidChange()
{
    m_searchPlaceholderLabel->setVisible(m_searchInput->text().isEmpty());
    if (std::exchange(m_searchTextEditedByUser, false)) {
        // Typing: the character is on screen before the list is filtered, so the field answers
        // the key at once however long the filter and the new rows take. Keys typed meanwhile
        // share one filter.
        m_searchInput->repaint();
        m_searchFilterPending = true;
        m_searchFilterTimer->start();
        return;
    }
    rebuildRows();
}

void IslandView::runPendingSearchFilter()
{
    if (m_searchFilterPending)
        rebuildRows();
}

bool IslandView::searchFieldCommand(int key)
{
    runPendingSearchFilter();
    const bool shelf = m_contentMode == ContentMode::shelfGallery;
    switch (key) {
    case Qt::Key_Down:
    case Qt::Key_Up: {
        const int offset = key == Qt::Key_Down ? 1 : -1;
        if (shelf)
            moveShelfSelection(offset);
        else
            moveSelection(offset);
        return true;
    }
    case Qt::Key_Return:
    case Qt::Key_Enter:
        copySelectedItem();
        return true;
    case Qt::Key_Escape:
        if (isQuickPreviewVisible())
            dismissQuickPreview(true);
        else if (onHide)
            onHide();
        return true;
    default:
        return false;
    }
}

bool IslandView::handleListNavigationKey(QKeyEvent* event, QWidget* receiver)
{
    if (m_displayMode != DisplayMode::expanded || event->type() != QEvent::KeyPress)
        return false;
    const Qt::KeyboardModifiers modifiers =
        event->modifiers() & (Qt::ShiftModifier | Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier);
    if (modifiers != Qt::NoModifier)
        return false;
    const int key = event->key();
    if (key != Qt::Key_Up && key != Qt::Key_Down && key != Qt::Key_Return && key != Qt::Key_Enter
        && key != Qt::Key_Escape)
        return false;
    // An editor of the inspector moves its own cursor and breaks its own lines; Escape still
    // leaves the island.
    if ((isTextEditor(receiver) || inspectorTextEditorHasKeyboard()) && key != Qt::Key_Escape)
        return false;
    return searchFieldCommand(key);
}

bool IslandView::inspectorTextEditorHasKeyboard() const
{
    const QWidget* focus = window()->focusWidget();
    return focus && isTextEditor(focus) && m_historyInspectorPreview && m_historyInspectorPreview->isAncestorOf(focus);
}

// MARK: - List

void IslandView::rebuildRows()
{
    ++m_historyRebuildCount;
    m_searchFilterPending = false;
    if (m_searchFilterTimer)
        m_searchFilterTimer->stop();
    // Hidden at once: a row kept until the event loop deletes it would still answer the mouse.
    const auto discard = [](QWidget* widget) {
        if (!widget)
            return;
        widget->hide();
        widget->deleteLater();
    };
    discard(m_historyEmptyLabel);
    discard(m_historyFooter);
    m_historyEmptyLabel = nullptr;
    m_historyFooter = nullptr;
    refreshFilterLabels();

    const QString query = currentQuery();
    const QStringList terms = query.split(QRegularExpression(QStringLiteral("\\s+")), Qt::SkipEmptyParts);
    const int source = m_filterControl->selectedSegmentIndex();
    const int kindIndex = m_kindFilterControl->selectedSegmentIndex();
    const ClipKindFilter kind = kindIndex >= 0 && kindIndex < int(kindFilters().size())
        ? kindFilters()[size_t(kindIndex)]
        : ClipKindFilter(ClipKindFilter::all);

    // What a keystroke costs must not grow with the entries' own texts: the search texts and the
    // entries' part of the signature are made once per pushed history.
    if (m_historySearchTexts.size() != m_items.size()) {
        m_historySearchTexts.clear();
        m_historySearchTexts.reserve(m_items.size());
        for (const ClipboardItem& item : std::as_const(m_items))
            m_historySearchTexts.append(searchText(item));
    }
    if (!m_historyItemsSignature)
        m_historyItemsSignature = historyItemsSignature(m_items);

    m_visibleItems.clear();
    for (qsizetype i = 0; i < m_items.size(); ++i) {
        const ClipboardItem& item = m_items[i];
        if (!passesSource(item, source) || !kind.matches(item))
            continue;
        const QString& text = m_historySearchTexts[i];
        if (!std::all_of(terms.begin(), terms.end(), [&](const QString& term) { return text.contains(term); }))
            continue;
        m_visibleItems.append(item);
    }
    m_lastHistoryRowsSignature = historySignatureHeader(m_items.size()) + *m_historyItemsSignature;
    m_visibleIndexByID.clear();
    m_visibleIndexByID.reserve(m_visibleItems.size());
    for (qsizetype i = 0; i < m_visibleItems.size(); ++i)
        m_visibleIndexByID.insert(m_visibleItems[i].id, i);

    // A row shows nothing but its entry and the selection: one whose entry is still shown, the
    // same in every field, stays (a keystroke mostly keeps the rows in view); the others go.
    for (auto it = m_rowViewsByID.begin(); it != m_rowViewsByID.end();) {
        const qsizetype index = m_visibleIndexByID.value(it.key(), -1);
        if (index >= 0 && m_visibleItems[index] == it.value()->item()) {
            ++it;
            continue;
        }
        discard(it.value());
        it = m_rowViewsByID.erase(it);
    }
    // A kept row still says how old its entry was when it was made.
    for (ClipRowView* row : std::as_const(m_rowViewsByID))
        row->refreshMetaText();

    // The preview follows its entry's new content, or closes when the entry is gone from view;
    // only in the history: the shelf's card shows a shelf entry.
    if (m_previewingItemID && m_contentMode == ContentMode::history) {
        if (const auto item = visibleItem(*m_previewingItemID))
            showQuickPreviewEntry(*item);
        else
            dismissQuickPreview(false);
    }

    QWidget* document = m_scrollDocumentView;
    if (m_visibleItems.isEmpty()) {
        m_selectedItemID.reset();
        m_selectedHistoryItemIDs.clear();
        auto* label = new QLabel(emptyMessage(!query.isEmpty()), document);
        label->setObjectName(QStringLiteral("historyEmptyLabel"));
        label->setTextFormat(Qt::PlainText);
        label->setAlignment(Qt::AlignCenter);
        label->setFont(IslandTheme::systemFont(14, QFont::Medium));
        QPalette palette = label->palette();
        palette.setColor(QPalette::WindowText, IslandTheme::white(0.42));
        label->setPalette(palette);
        label->setAttribute(Qt::WA_TransparentForMouseEvents);
        label->show();
        m_historyEmptyLabel = label;
    } else {
        if (!m_selectedItemID || !visibleItem(*m_selectedItemID))
            m_selectedItemID = m_visibleItems.first().id;
        redrawHistoryRowSelection();
        m_historyFooter = new HistoryListFooterView(int(m_visibleItems.size()), document);
        m_historyFooter->show();
    }
    applyHistoryDocumentHeight();
    // Back to the top of the list.
    m_scrollView->verticalScrollBar()->setValue(0);
    placeHistoryListViews();

    refreshHistoryRowHoverUnderMouse();
    updateHistorySelectionBar();
    updateHistoryInspector();
}

void IslandView::prepareHistoryForOpening()
{
    for (ClipRowView* row : std::as_const(m_rowViewsByID))
        row->refreshMetaText();
    // Return, the tiles and the arrow keys act on what the user sees: the top row (the newest
    // entry, pinned ones aside).
    m_selectedHistoryItemIDs.clear();
    m_lastHistorySelectionID.reset();
    m_scrollView->verticalScrollBar()->setValue(0);
    if (m_visibleItems.isEmpty()) {
        m_selectedItemID.reset();
        redrawHistoryRowSelection();
        updateHistoryInspector();
    } else {
        selectItem(m_visibleItems.first().id, false);
    }
    materializeHistoryRows();
    updateHistorySelectionBar();
}

QRect IslandView::historyRowFrame(qsizetype index) const
{
    return QRect(0, kListInset + int(index) * kRowHeight, m_scrollDocumentView->width(), kRowHeight);
}

qsizetype IslandView::visibleIndex(const QUuid& id) const
{
    return m_visibleIndexByID.value(id, -1);
}

void IslandView::placeHistoryListViews()
{
    const int width = m_scrollDocumentView->width();
    if (m_historyEmptyLabel)
        m_historyEmptyLabel->setGeometry(0, kListInset, width, kEmptyLabelHeight);
    if (m_historyFooter)
        m_historyFooter->setGeometry(0, kListInset + int(m_visibleItems.size()) * kRowHeight, width, kFooterHeight);
    for (auto it = m_rowViewsByID.cbegin(); it != m_rowViewsByID.cend(); ++it) {
        if (const qsizetype index = visibleIndex(it.key()); index >= 0)
            it.value()->setGeometry(historyRowFrame(index));
    }
    materializeHistoryRows();
}

void IslandView::materializeHistoryRows()
{
    if (m_visibleItems.isEmpty())
        return;
    // What the viewport shows and a row beyond each edge.
    const int top = m_scrollView->verticalScrollBar()->value();
    const int height = std::max(m_scrollView->viewport()->height(), kRowHeight);
    const qsizetype first = std::max<qsizetype>(0, (top - kListInset) / kRowHeight - 1);
    const qsizetype last = std::min<qsizetype>(m_visibleItems.size() - 1, (top + height - kListInset) / kRowHeight + 1);
    for (qsizetype index = first; index <= last; ++index) {
        if (!m_rowViewsByID.contains(m_visibleItems[index].id))
            makeHistoryRow(index);
    }
}

ClipRowView* IslandView::makeHistoryRow(qsizetype index)
{
    const ClipboardItem& item = m_visibleItems[index];
    auto* row = new ClipRowView(item, m_scrollDocumentView);
    row->setSelected(item.id == m_selectedItemID || m_selectedHistoryItemIDs.contains(item.id));
    row->updateBackground();
    wireHistoryRow(row);
    row->setGeometry(historyRowFrame(index));
    row->show();
    m_rowViewsByID.insert(item.id, row);
    return row;
}

void IslandView::wireHistoryRow(ClipRowView* row)
{
    QPointer<IslandView> weak(this);
    row->dragItemsProvider = [weak](const ClipboardItem& item) -> std::optional<QList<ClipboardItem>> {
        if (!weak || weak->m_selectedHistoryItemIDs.size() < 2 || !weak->m_selectedHistoryItemIDs.contains(item.id))
            return std::nullopt;
        QList<ClipboardItem> dragged;
        for (const ClipboardItem& visible : std::as_const(weak->m_visibleItems)) {
            if (weak->m_selectedHistoryItemIDs.contains(visible.id))
                dragged.append(visible);
        }
        return dragged;
    };
    row->onPreview = [weak](const ClipboardItem& item) {
        if (weak)
            weak->openHistoryQuickPreview(item);
    };
    row->onMultiSelect = [weak](const ClipboardItem& item, bool extendRange) {
        if (weak)
            weak->toggleHistorySelection(item, extendRange);
    };
    row->onSelect = [weak](const ClipboardItem& item) {
        if (weak)
            weak->selectItem(item.id, false);
    };
    row->onPasteVariant = [weak](const ClipboardItem& item, PasteVariant variant) {
        if (!weak)
            return;
        weak->selectItem(item.id, false);
        if (weak->onCopyPasteVariantItem)
            weak->onCopyPasteVariantItem(item, variant);
    };
    row->onCopyPlainText = [weak](const ClipboardItem& item) {
        if (!weak)
            return;
        weak->selectItem(item.id, false);
        if (weak->onCopyPlainTextItem)
            weak->onCopyPlainTextItem(item);
    };
    row->onDelete = [weak](const ClipboardItem& item) {
        if (weak && weak->onDeleteItem)
            weak->onDeleteItem(item);
    };
    row->onTogglePin = [weak](const ClipboardItem& item) {
        if (weak && weak->onTogglePinItem)
            weak->onTogglePinItem(item);
    };
}

void IslandView::filterChanged()
{
    rebuildRows();
}

std::optional<ClipboardItem> IslandView::visibleItem(const QUuid& id) const
{
    const qsizetype index = visibleIndex(id);
    if (index < 0)
        return std::nullopt;
    return m_visibleItems[index];
}

// MARK: - Selection

void IslandView::redrawHistoryRowSelection()
{
    for (auto it = m_rowViewsByID.cbegin(); it != m_rowViewsByID.cend(); ++it) {
        it.value()->setSelected(it.key() == m_selectedItemID || m_selectedHistoryItemIDs.contains(it.key()));
        it.value()->updateBackground();
    }
}

void IslandView::selectItem(const QUuid& id, bool scrollIntoView)
{
    m_selectedItemID = id;
    redrawHistoryRowSelection();
    if (scrollIntoView) {
        if (const qsizetype index = visibleIndex(id); index >= 0) {
            const QRect frame = historyRowFrame(index);
            m_scrollView->ensureVisible(frame.center().x(), frame.center().y(), 0, frame.height() / 2);
            materializeHistoryRows();
        }
    }
    if (isQuickPreviewVisible()) {
        if (const auto item = visibleItem(id)) {
            m_previewingItemID = id;
            showQuickPreviewEntry(*item);
        }
    }
    updateHistoryInspector();
}

void IslandView::toggleHistorySelection(const ClipboardItem& item, bool extendRange)
{
    IslandSelection::toggleMark(m_visibleItems, m_selectedHistoryItemIDs, m_lastHistorySelectionID, item.id,
                                extendRange);
    m_lastHistorySelectionID = item.id;
    m_selectedItemID = item.id;
    redrawHistoryRowSelection();
    updateHistorySelectionBar();
    updateHistoryInspector();
}

void IslandView::moveSelection(int offset)
{
    const std::optional<QUuid> next = IslandSelection::movedFocus(m_visibleItems, m_selectedItemID, offset);
    if (!next) {
        m_selectedItemID.reset();
        return;
    }
    selectItem(*next, true);
}

QList<ClipboardItem> IslandView::selectedHistoryItemsForActions() const
{
    return IslandSelection::forActions(m_visibleItems, m_selectedHistoryItemIDs,
                                       m_selectedItemID ? visibleItem(*m_selectedItemID) : std::nullopt);
}

// MARK: - Hover while scrolling

void IslandView::configureHistoryScrollHoverBehavior()
{
    QPointer<IslandView> weak(this);
    m_scrollView->onScrollActivity = [weak] {
        if (weak)
            weak->suppressHistoryRowHoverDuringScroll();
    };
    m_scrollView->onScrollEnded = [weak] {
        if (weak)
            weak->refreshHistoryRowHoverUnderMouse();
    };
    m_scrollView->installBoundsObserver();
    connect(m_scrollView->verticalScrollBar(), &QScrollBar::valueChanged, this, [this] { materializeHistoryRows(); });
}

void IslandView::suppressHistoryRowHoverDuringScroll()
{
    for (ClipRowView* row : std::as_const(m_rowViewsByID)) {
        row->setHoverHighlightEnabled(false);
        if (row->isHovering()) {
            row->setHovering(false);
            row->updateBackground();
        }
    }
}

void IslandView::refreshHistoryRowHoverUnderMouse()
{
    if (!isVisible()) {
        for (ClipRowView* row : std::as_const(m_rowViewsByID))
            row->setHoverHighlightEnabled(true);
        return;
    }
    const QPoint global = QCursor::pos();
    const bool insideList = m_scrollView->rect().contains(m_scrollView->mapFromGlobal(global));
    for (ClipRowView* row : std::as_const(m_rowViewsByID)) {
        row->setHoverHighlightEnabled(true);
        const bool hovering = insideList && row->rect().contains(row->mapFromGlobal(global));
        if (row->isHovering() != hovering) {
            row->setHovering(hovering);
            row->updateBackground();
        }
    }
}

// MARK: - The scroll view's mouse fallbacks

ClipRowView* IslandView::historyRow(QMouseEvent* event) const
{
    if (m_contentMode != ContentMode::history || !event)
        return nullptr;
    const QPoint point = m_scrollDocumentView->mapFromGlobal(event->globalPosition().toPoint());
    if (point.y() < kListInset || point.x() < 0 || point.x() >= m_scrollDocumentView->width())
        return nullptr;
    const qsizetype index = (point.y() - kListInset) / kRowHeight;
    if (index >= m_visibleItems.size())
        return nullptr;
    ClipRowView* row = m_rowViewsByID.value(m_visibleItems[index].id);
    return row ? row : const_cast<IslandView*>(this)->makeHistoryRow(index);
}

bool IslandView::handleHistoryScrollFallbackMouseDown(QMouseEvent* event)
{
    ClipRowView* row = historyRow(event);
    if (!row) {
        m_historyScrollFallbackRowID.reset();
        return false;
    }
    m_historyScrollFallbackRowID = row->item().id;
    row->rowMouseDown(event);
    return true;
}

bool IslandView::handleHistoryScrollFallbackMouseDragged(QMouseEvent* event)
{
    ClipRowView* row = m_historyScrollFallbackRowID ? m_rowViewsByID.value(*m_historyScrollFallbackRowID) : nullptr;
    if (!row)
        return false;
    row->rowMouseDragged(event);
    return true;
}

bool IslandView::handleHistoryScrollFallbackMouseUp(QMouseEvent* event)
{
    ClipRowView* row = m_historyScrollFallbackRowID ? m_rowViewsByID.value(*m_historyScrollFallbackRowID) : nullptr;
    m_historyScrollFallbackRowID.reset();
    if (!row)
        return false;
    row->rowMouseUp(event);
    return true;
}

bool IslandView::debugIsHistoryRowSelectedForProbe(qsizetype index) const
{
    if (index < 0 || index >= m_visibleItems.size())
        return false;
    const ClipRowView* row = m_rowViewsByID.value(m_visibleItems[index].id);
    return row && row->isSelected() && row->isSelectionOutlineVisible();
}

// MARK: - Selection bar

void IslandView::configureHistorySelectionBar()
{
    auto* bar = m_historySelectionBar;
    bar->setAttribute(Qt::WA_StyledBackground);
    bar->setStyleSheet(QStringLiteral("#historySelectionBar { background: rgba(255,255,255,%1); border: 1px solid "
                                      "rgba(255,255,255,%2); border-radius: 13px; }")
                           .arg(int(0.035 * 255))
                           .arg(int(0.052 * 255)));
    auto* row = new QHBoxLayout(bar);
    row->setContentsMargins(10, 3, 8, 3);
    row->setSpacing(7);

    m_historySelectionLabel = new QLabel(bar);
    m_historySelectionLabel->setObjectName(QStringLiteral("historySelectionLabel"));
    m_historySelectionLabel->setTextFormat(Qt::PlainText);
    m_historySelectionLabel->setFont(IslandTheme::systemFont(11.2, QFont::DemiBold));
    QPalette palette = m_historySelectionLabel->palette();
    palette.setColor(QPalette::WindowText, IslandTheme::white(0.72));
    m_historySelectionLabel->setPalette(palette);
    row->addWidget(m_historySelectionLabel, 0, Qt::AlignVCenter);
    row->addStretch(1);

    const std::array<QString, 4> titles{Language::text(QStringLiteral("换行"), QStringLiteral("Newline")),
                                        Language::text(QStringLiteral("逗号"), QStringLiteral("Comma")),
                                        Language::text(QStringLiteral("列表"), QStringLiteral("List")),
                                        QStringLiteral("JSON")};
    QPointer<IslandView> weak(this);
    for (int tag = 0; tag < 4; ++tag) {
        const CombinedPasteFormat format = CombinedPasteFormat::allCases()[size_t(tag)];
        auto* button = IslandButtonFactory::makeCompactTextButton(
            titles[size_t(tag)], format.title(), this,
            [weak, tag] {
                if (weak)
                    weak->historyCombineTapped(tag);
            },
            bar);
        button->setObjectName(QStringLiteral("historyCombineButton%1").arg(tag));
        row->addWidget(button, 0, Qt::AlignVCenter);
    }
    auto* clear = IslandButtonFactory::makeIconButton(
        QStringLiteral("xmark.circle"), Language::text(QStringLiteral("清除选择"), QStringLiteral("Clear selection")),
        this,
        [weak] {
            if (weak)
                weak->clearHistorySelectionTapped();
        },
        bar);
    clear->setObjectName(QStringLiteral("historyClearSelectionButton"));
    row->addWidget(clear, 0, Qt::AlignVCenter);
}

void IslandView::updateHistorySelectionBar()
{
    const qsizetype count = m_selectedHistoryItemIDs.size();
    const bool wasShown = !m_historySelectionBar->isHidden();
    const bool shown = count > 1;
    const int offset = m_scrollView->verticalScrollBar()->value();
    m_historySelectionBar->setVisible(shown);
    m_historySelectionLabel->setText(
        Language::text(QStringLiteral("已选 %1 条").arg(count), QStringLiteral("%1 selected").arg(count)));
    applyHistoryListHeight();
    if (shown == wasShown)
        return;
    // The bar pushes the list down by its height and spacing as it appears and gives that back as
    // it goes. The list scrolls by as much the other way, so the rows stay where they are on
    // screen: the next click lands on the row the pointer is over (a Ctrl-click a moment ago
    // would otherwise toggle the row above or below).
    applyHistoryDocumentHeight();
    if (QLayout* column = m_historyListColumn->layout())
        column->activate();
    // The scroll range follows the new heights now, not a turn of the event loop later; only the
    // list's own layouts are run, inner ones first, not every window's pending ones.
    for (QObject* widget : {static_cast<QObject*>(m_historyListColumn), static_cast<QObject*>(m_scrollView->widget()),
                            static_cast<QObject*>(m_scrollView->viewport()), static_cast<QObject*>(m_scrollView)})
        QCoreApplication::sendPostedEvents(widget, QEvent::LayoutRequest);
    const int shift = int(kSelectionBarReserve);
    m_scrollView->verticalScrollBar()->setValue(shown ? offset + shift : std::max(0, offset - shift));
}

void IslandView::applyHistoryDocumentHeight()
{
    int height = m_visibleItems.isEmpty()
        ? kListInset + kEmptyLabelHeight + kListInset
        : kListInset + int(m_visibleItems.size()) * kRowHeight + kFooterHeight + kListInset;
    // While the bar shows the rows must be able to scroll up by the bar's room, short list or not.
    if (m_selectedHistoryItemIDs.size() > 1 && !m_historySelectionBar->isHidden()) {
        const int viewport = m_scrollHeightConstraint ? int(std::lround(*m_scrollHeightConstraint)) : 0;
        height = std::max(height, viewport) + int(kSelectionBarReserve);
    }
    m_scrollDocumentView->setMinimumHeight(height);
    m_scrollDocumentView->setMaximumHeight(height);
}

void IslandView::applyHistoryListHeight()
{
    if (!m_scrollHeightConstraint)
        return;
    const double deck = m_contentDeckHeightConstraint.value_or(kFallbackDeckHeight);
    const bool barShown = m_selectedHistoryItemIDs.size() > 1;
    double list = std::max(deck - (barShown ? kListReserveWithBar : kListReserve), barShown ? kListFloorWithBar : 0.0);
    // The floor never pushes the list out of the body on a small island.
    const double room = deck - kBodyReserve - (barShown ? kSelectionBarReserve : 0.0);
    list = std::min(list, room);
    if (*m_scrollHeightConstraint == list)
        return;
    m_scrollHeightConstraint = list;
    applyExpandedConstraints();
}

void IslandView::historyCombineTapped(int tag)
{
    if (tag < 0 || tag > 3)
        return;
    const CombinedPasteFormat format = CombinedPasteFormat::allCases()[size_t(tag)];
    const QList<ClipboardItem> entries = selectedHistoryItemsForActions();
    if (entries.size() < 2)
        return;
    if (onCombineItems)
        onCombineItems(entries, format);
}

void IslandView::clearHistorySelectionTapped()
{
    m_selectedHistoryItemIDs.clear();
    m_lastHistorySelectionID.reset();
    redrawHistoryRowSelection();
    updateHistorySelectionBar();
    // The inspector follows at once: the tiles would otherwise copy the old entry's draft.
    updateHistoryInspector();
}

} // namespace QuillomareMac
