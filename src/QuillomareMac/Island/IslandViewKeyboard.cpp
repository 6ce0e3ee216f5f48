// The key equivalents of the island: Escape and Control-C for the quick preview, Control-F for
// search, Control-1 to Control-6 for the inspector's copy tiles, Control-V for pasting into the
// shelf, Control-C for the selected entry and Space for the quick preview. Control stands where
// the desktop's own programs put their shortcuts.
//
// The island sees every key press meant for a widget of its window before that widget does
// (an application event filter), so the shortcuts work while the search field has the keyboard;
// the keys the field must keep (Space while typing, Control-C over a text selection) are left
// to it, and so are an inspector editor's own keys while it has the keyboard.

#include "IslandView.h"

#include <Platform/PasteboardX11.h>

#include <QApplication>
#include <QKeyEvent>
#include <QLineEdit>

namespace QuillomareMac {

namespace {

// X11 reports Caps Lock only in the native key state (LockMask), not among Qt's modifiers.
constexpr quint32 kX11LockMask = 0x2;

enum class ModifierSet { none, exactlyControl, other };

// The modifiers that count, as the desktop's device-independent set: Shift, Control, Alt, Meta,
// the keypad flag, the group switch and Caps Lock. A key with any other one held is not ours.
ModifierSet modifierSet(const QKeyEvent& event)
{
    const Qt::KeyboardModifiers counted = event.modifiers()
        & (Qt::ShiftModifier | Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier | Qt::KeypadModifier
           | Qt::GroupSwitchModifier);
    if (event.nativeModifiers() & kX11LockMask)
        return ModifierSet::other;
    if (counted == Qt::NoModifier)
        return ModifierSet::none;
    if (counted == Qt::ControlModifier)
        return ModifierSet::exactlyControl;
    return ModifierSet::other;
}

bool isKeyDown(const QKeyEvent& event)
{
    // A shortcut override is the toolkit asking, before the key goes down, who will take it.
    return event.type() == QEvent::KeyPress || event.type() == QEvent::ShortcutOverride;
}

} // namespace

bool IslandView::isCopyShortcut(const QKeyEvent& event)
{
    return isKeyDown(event) && modifierSet(event) == ModifierSet::exactlyControl && event.key() == Qt::Key_C;
}

std::optional<IslandView::KeyAction> IslandView::keyEquivalentAction(const QKeyEvent& event) const
{
    if (!isKeyDown(event))
        return std::nullopt;
    if (isQuickPreviewVisible()) {
        // Escape closes the card whatever modifiers are held.
        if (event.key() == Qt::Key_Escape)
            return KeyAction::dismissQuickPreview;
        if (isCopyShortcut(event))
            return KeyAction::copyFromQuickPreview;
    }
    return expandedKeyAction(event);
}

std::optional<IslandView::KeyAction> IslandView::expandedKeyAction(const QKeyEvent& event) const
{
    if (m_displayMode != DisplayMode::expanded || !isKeyDown(event))
        return std::nullopt;

    switch (modifierSet(event)) {
    case ModifierSet::exactlyControl:
        switch (event.key()) {
        case Qt::Key_F:
            return KeyAction::focusSearch;
        case Qt::Key_1:
            return KeyAction::copyOriginal;
        case Qt::Key_2:
            return KeyAction::copyPlainText;
        case Qt::Key_3:
            return KeyAction::copyMarkdown;
        case Qt::Key_4:
            return KeyAction::copyCleanURL;
        case Qt::Key_5:
            return KeyAction::copyFileName;
        case Qt::Key_6:
            return KeyAction::copyFilePath;
        case Qt::Key_V:
            // In the history the key pastes into the search field, as anywhere else.
            if (m_contentMode == ContentMode::shelfGallery)
                return KeyAction::pasteIntoShelf;
            return std::nullopt;
        case Qt::Key_C:
            // A text selected in the search field is what the user copies; an editor of the
            // inspector copies its own selection.
            if (m_searchInput->hasFocus() && m_searchInput->hasSelectedText())
                return std::nullopt;
            if (inspectorTextEditorHasKeyboard())
                return std::nullopt;
            return KeyAction::copySelectedItem;
        default:
            return std::nullopt;
        }
    case ModifierSet::none:
        if (event.key() != Qt::Key_Space)
            return std::nullopt;
        // Typing in the search field or an editor of the inspector: the space goes into the text.
        if (m_searchInput->hasFocus() || inspectorTextEditorHasKeyboard())
            return std::nullopt;
        return KeyAction::quickPreview;
    case ModifierSet::other:
        break;
    }
    return std::nullopt;
}

bool IslandView::performKeyEquivalent(QKeyEvent* event)
{
    if (!event)
        return false;
    if (isQuickPreviewVisible()) {
        if (event->key() == Qt::Key_Escape && isKeyDown(*event)) {
            performKeyAction(KeyAction::dismissQuickPreview);
            return true;
        }
        if (isCopyShortcut(*event)) {
            performKeyAction(KeyAction::copyFromQuickPreview);
            return true;
        }
    }
    return handleExpandedKeyEquivalent(event);
}

bool IslandView::handleExpandedKeyEquivalent(QKeyEvent* event)
{
    const auto action = event ? expandedKeyAction(*event) : std::nullopt;
    if (!action)
        return false;
    performKeyAction(*action);
    return true;
}

void IslandView::performKeyAction(KeyAction action)
{
    switch (action) {
    case KeyAction::dismissQuickPreview:
        dismissQuickPreview(true);
        return;
    case KeyAction::copyFromQuickPreview:
        if (!copyQuickPreviewSelectedTextIfAvailable())
            copySelectedItem();
        return;
    case KeyAction::focusSearch:
        setContentMode(ContentMode::history, true);
        m_searchFocusAsked = true;
        m_searchInput->setFocus(Qt::ShortcutFocusReason);
        if (m_searchInput->window()->focusWidget() == m_searchInput)
            m_searchInput->selectAll();
        return;
    case KeyAction::copyOriginal:
        historyOriginalTapped();
        return;
    case KeyAction::copyPlainText:
        historyPlainTapped();
        return;
    case KeyAction::copyMarkdown:
        historyMarkdownTapped();
        return;
    case KeyAction::copyCleanURL:
        historyCleanURLTapped();
        return;
    case KeyAction::copyFileName:
        historyFileNameTapped();
        return;
    case KeyAction::copyFilePath:
        historyFilePathTapped();
        return;
    case KeyAction::pasteIntoShelf:
        setContentMode(ContentMode::shelfGallery, false);
        if (onShelfDropPasteboard)
            onShelfDropPasteboard(generalPasteboard());
        return;
    case KeyAction::quickPreview:
        if (m_contentMode == ContentMode::history) {
            const QList<QuillomareCore::ClipboardItem> selected = selectedHistoryItemsForActions();
            if (!selected.isEmpty())
                openHistoryQuickPreview(selected.first());
        } else {
            shelfPreviewTapped();
        }
        return;
    case KeyAction::copySelectedItem:
        copySelectedItem();
        return;
    }
}

Platform::Pasteboard& IslandView::generalPasteboard()
{
    if (m_generalPasteboard)
        return *m_generalPasteboard;
    if (!m_ownGeneralPasteboard)
        m_ownGeneralPasteboard = std::make_unique<Platform::X11Pasteboard>();
    return *m_ownGeneralPasteboard;
}

void IslandView::windowActivationChanged(bool active)
{
    if (!active) {
        m_searchFocusAsked = false;
        return;
    }
    // An activated window gives the keyboard to the child that last had it, else to its first
    // focusable child: the search field either way. Unless it was asked for, the island's own
    // key handling takes the keyboard; Qt keeps the focus it finds set after this event.
    if (!m_searchFocusAsked)
        setFocus(Qt::ActiveWindowFocusReason);
}

bool IslandView::eventFilter(QObject* watched, QEvent* event)
{
    const QEvent::Type type = event->type();
    if (watched == m_scrollDocumentView && type == QEvent::Resize) {
        placeHistoryListViews();
        return false;
    }
    if (watched == window() && (type == QEvent::WindowActivate || type == QEvent::WindowDeactivate)) {
        windowActivationChanged(type == QEvent::WindowActivate);
        return QWidget::eventFilter(watched, event);
    }
    if (type == QEvent::MouseButtonPress && watched == m_searchInput)
        m_searchFocusAsked = true;
    if (type == QEvent::DragEnter || type == QEvent::DragMove || type == QEvent::DragLeave || type == QEvent::Drop)
        return handleDescendantDragEvent(qobject_cast<QWidget*>(watched), event) || QWidget::eventFilter(watched, event);
    if (type != QEvent::KeyPress && type != QEvent::ShortcutOverride)
        return QWidget::eventFilter(watched, event);
    auto* receiver = qobject_cast<QWidget*>(watched);
    if (!receiver || receiver->window() != window())
        return QWidget::eventFilter(watched, event);

    auto* key = static_cast<QKeyEvent*>(event);
    if (type == QEvent::ShortcutOverride) {
        // Claim the key, so that no shortcut elsewhere takes it; the press then comes here.
        if (keyEquivalentAction(*key)) {
            key->accept();
            return true;
        }
        return false;
    }
    if (performKeyEquivalent(key) || handleListNavigationKey(key, receiver)) {
        key->accept();
        return true;
    }
    return false;
}

} // namespace QuillomareMac
