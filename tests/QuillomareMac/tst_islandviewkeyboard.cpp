#include "IslandViewTestRig.h"
#include "TestSupport.h"

#include "History/HistoryPreviewPane.h"
#include "Island/Kit/IslandScheduler.h"
#include "Island/IslandView.h"

#include <QApplication>
#include <QClipboard>
#include <QKeyEvent>
#include <QLineEdit>
#include <QShortcut>
#include <QTextCursor>

#include <memory>

using namespace QuillomareMac;
using QuillomareCore::ClipboardItem;
using Content = IslandView::ContentMode;
using Mode = IslandView::DisplayMode;

// The expanded island's key equivalents, typed for real: into the focused search field, or into
// the island's window when nothing has the keyboard.
class TestIslandViewKeyboard : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init()
    {
        m_rig = std::make_unique<QuillomareTest::IslandViewTestRig>(QRect(297, 0, 185, 32));
        m_scheduler = m_rig->scheduler;
        m_canvas = m_rig->canvas.get();
        m_view = m_rig->view;
        m_canvas->show();
        m_canvas->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(m_canvas));
        m_rig->expand();

        m_pasteboard = Platform::MemoryPasteboard();
        m_pasteboard.setString(QStringLiteral("board"));
        m_view->setGeneralPasteboard(&m_pasteboard);
        QGuiApplication::clipboard()->setText(QStringLiteral("pasted"));

        m_link = QuillomareTest::textItem(QStringLiteral("https://example.com/a?utm_source=news&id=7"),
                                          QuillomareTest::at(0));
        m_link.kind = QuillomareCore::ClipKind::url;
        m_files = QuillomareTest::fileItem({QStringLiteral("/tmp/notes.txt")}, QuillomareTest::at(-1));
        m_image = QuillomareTest::imageItem(QByteArray("\x89PNG\r\n\x1a\n", 8), QuillomareTest::at(-2));

        m_log.clear();
        m_view->onSelectItem = [this](const ClipboardItem& item) { m_log.append(QStringLiteral("select:") + item.preview); };
        m_view->onCopyPasteVariantItem = [this](const ClipboardItem& item, PasteVariant variant) {
            m_log.append(QStringLiteral("variant:%1:").arg(int(variant)) + item.preview);
        };
        m_view->onCopyPlainTextItem = [this](const ClipboardItem& item) {
            m_log.append(QStringLiteral("plain:") + item.preview);
        };
        // A text entry's Original and Plain Text copy the inspector's text as shown.
        m_view->onCopyQuickPreviewText = [this](const QString& text) { m_log.append(QStringLiteral("text:") + text); };
        m_view->onShelfDropPasteboard = [this](Platform::Pasteboard& pasteboard) {
            m_log.append(QStringLiteral("shelfPaste:") + pasteboard.string().value_or(QString()));
        };
        m_view->onCopyShelfItem = [this](const ShelfItem&) { m_log.append(QStringLiteral("shelfCopy")); };
    }

    void cleanup()
    {
        m_rig.reset();
    }

    void keyMatrix_data()
    {
        QTest::addColumn<int>("key");
        QTest::addColumn<Qt::KeyboardModifiers>("modifiers");
        QTest::addColumn<QString>("primary"); // the selected entry: link, files or image
        QTest::addColumn<Content>("mode");
        QTest::addColumn<QString>("initialText"); // selected in the field when not empty
        QTest::addColumn<QStringList>("log");
        QTest::addColumn<QString>("fieldText");

        const Qt::KeyboardModifiers ctrl = Qt::ControlModifier, none;
        const Content history = Content::history, shelf = Content::shelfGallery;
        const auto row = [](const char* name, int key, Qt::KeyboardModifiers modifiers, const char* primary, Content mode,
                            const QString& said, const QString& field = {}, const QString& initial = {}) {
            QTest::newRow(name) << key << modifiers << QString::fromLatin1(primary) << mode << initial
                                << (said.isEmpty() ? QStringList() : QStringList{said}) << field;
        };
        const auto onLink = [](const char* what) {
            return QString::fromLatin1(what) + QStringLiteral("https://example.com/a?utm_source=news&id=7");
        };
        const QString one = QStringLiteral("1");

        row("Ctrl+1 copies the original", Qt::Key_1, ctrl, "link", history, onLink("text:"));
        row("Ctrl+2 copies plain text", Qt::Key_2, ctrl, "link", history, onLink("text:"));
        row("Ctrl+3 copies a Markdown link", Qt::Key_3, ctrl, "link", history, onLink("variant:2:"));
        row("Ctrl+4 copies the cleaned link", Qt::Key_4, ctrl, "link", history, onLink("variant:5:"));
        row("Ctrl+5 on a link offers nothing", Qt::Key_5, ctrl, "link", history, {});
        row("Ctrl+5 copies file names", Qt::Key_5, ctrl, "files", history, QStringLiteral("variant:3:/tmp/notes.txt"));
        row("Ctrl+6 copies file paths", Qt::Key_6, ctrl, "files", history, QStringLiteral("variant:4:/tmp/notes.txt"));
        row("Ctrl+2 on an image copies its plain text", Qt::Key_2, ctrl, "image", history, QStringLiteral("plain:Image"));
        row("Ctrl+3 on an image offers nothing", Qt::Key_3, ctrl, "image", history, {});
        row("digits act in the shelf too", Qt::Key_1, ctrl, "link", shelf, onLink("text:"));
        row("Ctrl+Shift+1 is not ours", Qt::Key_1, ctrl | Qt::ShiftModifier, "link", history, {});
        // The field takes these as typing (Ctrl+Alt is AltGr to it).
        row("Ctrl+Alt+1 is not ours", Qt::Key_1, ctrl | Qt::AltModifier, "link", history, {}, one);
        row("Ctrl+1 on the keypad is not ours", Qt::Key_1, ctrl | Qt::KeypadModifier, "link", history, {}, one);
        row("Ctrl+V in the history pastes into the field", Qt::Key_V, ctrl, "link", history, {},
            QStringLiteral("pasted"));
        row("Ctrl+V in the shelf hands the clipboard over", Qt::Key_V, ctrl, "link", shelf,
            QStringLiteral("shelfPaste:board"));
        row("Ctrl+C copies the selected entry", Qt::Key_C, ctrl, "files", history,
            QStringLiteral("select:/tmp/notes.txt"));
        row("Ctrl+C over selected search text copies that text", Qt::Key_C, ctrl, "files", history, {},
            QStringLiteral("notes"), QStringLiteral("notes"));
        row("Space in the field is typed", Qt::Key_Space, none, "link", history, {}, QStringLiteral(" "));
        row("Escape without a preview is not ours", Qt::Key_Escape, none, "link", history, {});
    }

    void keyMatrix()
    {
        QFETCH(int, key);
        QFETCH(Qt::KeyboardModifiers, modifiers);
        QFETCH(QString, primary);
        QFETCH(Content, mode);
        QFETCH(QString, initialText);
        QFETCH(QStringList, log);
        QFETCH(QString, fieldText);

        const ClipboardItem& first = primary == QLatin1String("files") ? m_files
            : primary == QLatin1String("image")                         ? m_image
                                                                        : m_link;
        QList<ClipboardItem> items{first};
        for (const ClipboardItem* other : {&m_link, &m_files, &m_image}) {
            if (other->id != first.id)
                items.append(*other);
        }
        configure(items);
        QCOMPARE(m_view->selectedItemID(), std::optional<QUuid>(first.id));

        QLineEdit* field = m_view->searchInput();
        m_view->setContentMode(mode, false);
        QWidget* target = field;
        if (mode == Content::history) {
            field->setText(initialText);
            field->setFocus();
            field->selectAll();
            QCOMPARE(QApplication::focusWidget(), field);
        } else {
            // The search field is out of sight in the shelf: the keys go to the window.
            field->clearFocus();
            target = m_canvas;
        }
        QTest::keyClick(target, Qt::Key(key), modifiers);

        QCOMPARE(m_log, log);
        QCOMPARE(field->text(), fieldText);
        if (!initialText.isEmpty())
            QCOMPARE(QGuiApplication::clipboard()->text(), initialText);
    }

    void spaceOpensThePreviewOutsideTheField()
    {
        configure({m_link, m_files});
        m_view->searchInput()->clearFocus();

        // Caps Lock (X11 reports it in the native state) makes it another key.
        QVERIFY(!press(m_canvas, Qt::Key_Space, Qt::NoModifier, 0x2));
        QCOMPARE(m_view->previewingItemID(), std::nullopt);

        QTest::keyClick(m_canvas, Qt::Key_Space);
        QCOMPARE(m_view->previewingItemID(), std::optional<QUuid>(m_link.id));

        // With nothing to preview the key is still taken, and opens nothing.
        m_view->dismissQuickPreview(false);
        configure({});
        QVERIFY(press(m_canvas, Qt::Key_Space, Qt::NoModifier));
        QCOMPARE(m_view->previewingItemID(), std::nullopt);
        m_view->setContentMode(Content::shelfGallery, false);
        QVERIFY(press(m_canvas, Qt::Key_Space, Qt::NoModifier));
        QCOMPARE(m_view->previewingItemID(), std::nullopt);
        QVERIFY(!press(m_canvas, Qt::Key_X, Qt::NoModifier));
    }

    void inspectorEditorKeepsItsOwnKeys()
    {
        const ClipboardItem note = QuillomareTest::textItem(QStringLiteral("hello world"), QuillomareTest::at(1));
        configure({note, m_link});
        InspectorEditableTextView* editor = m_view->historyInspectorPreview()->textView();
        QCOMPARE(editor->toPlainText(), note.preview);
        editor->setFocus(Qt::MouseFocusReason);
        QCOMPARE(QApplication::focusWidget(), editor);
        QWindow* window = m_canvas->windowHandle();
        editor->moveCursor(QTextCursor::End);

        // Space is typed, not the quick preview.
        QTest::keyClick(window, Qt::Key_Space);
        QTest::keyClick(window, 'x');
        QCOMPARE(editor->toPlainText(), QStringLiteral("hello world x"));
        QCOMPARE(m_view->previewingItemID(), std::nullopt);

        // Control-A selects the editor's whole text.
        QTest::keyClick(window, Qt::Key_A, Qt::ControlModifier);
        QCOMPARE(editor->textCursor().selectedText(), QStringLiteral("hello world x"));

        // Control-C copies the selected word only, not the entry.
        QTextCursor cursor = editor->textCursor();
        cursor.setPosition(6);
        cursor.setPosition(11, QTextCursor::KeepAnchor);
        editor->setTextCursor(cursor);
        QTest::keyClick(window, Qt::Key_C, Qt::ControlModifier);
        QCOMPARE(m_log, (QStringList{QStringLiteral("text:world")}));

        // Arrows move the cursor, also where it cannot go further: the list keeps its selection
        // and the edit stays.
        editor->moveCursor(QTextCursor::Start);
        QTest::keyClick(window, Qt::Key_Up);
        QTest::keyClick(window, Qt::Key_Right);
        QCOMPARE(editor->textCursor().position(), 1);
        editor->moveCursor(QTextCursor::End);
        QTest::keyClick(window, Qt::Key_Down);
        QTest::keyClick(window, Qt::Key_Left);
        QCOMPARE(editor->textCursor().position(), 12);
        QCOMPARE(m_view->selectedItemID(), std::optional<QUuid>(note.id));
        QCOMPARE(editor->toPlainText(), QStringLiteral("hello world x"));

        // Outside the editor the keys are the island's again.
        m_log.clear();
        m_view->setFocus();
        QTest::keyClick(window, Qt::Key_Down);
        QCOMPARE(m_view->selectedItemID(), std::optional<QUuid>(m_link.id));
        QTest::keyClick(window, Qt::Key_C, Qt::ControlModifier);
        QCOMPARE(m_log, (QStringList{QStringLiteral("select:") + m_link.preview}));
        QTest::keyClick(window, Qt::Key_Space);
        QCOMPARE(m_view->previewingItemID(), std::optional<QUuid>(m_link.id));
    }

    void controlFFromTheShelfSelectsTheSearch()
    {
        QLineEdit* field = m_view->searchInput();
        field->setText(QStringLiteral("earlier"));
        m_view->setContentMode(Content::shelfGallery, false);
        field->clearFocus();

        QTest::keyClick(m_canvas, Qt::Key_F, Qt::ControlModifier);
        QCOMPARE(m_view->contentMode(), Content::history);
        QCOMPARE(QApplication::focusWidget(), field);
        QCOMPARE(field->selectedText(), QStringLiteral("earlier"));
        m_scheduler->advance(200);
        QVERIFY(m_view->shelfGalleryContainer()->isHidden());

        // Again from within the field: typing then replaces the search.
        field->deselect();
        QTest::keyClick(field, Qt::Key_F, Qt::ControlModifier);
        QCOMPARE(field->selectedText(), QStringLiteral("earlier"));
        QTest::keyClicks(field, QStringLiteral("new"));
        QCOMPARE(field->text(), QStringLiteral("new"));
    }

    void collapsedIslandTakesNoShortcut()
    {
        configure({m_link});
        m_view->setDisplayMode(Mode::collapsed, false);
        QVERIFY(!press(m_canvas, Qt::Key_1, Qt::ControlModifier));
        QVERIFY(!press(m_canvas, Qt::Key_Space, Qt::NoModifier));
        QVERIFY(!press(m_canvas, Qt::Key_F, Qt::ControlModifier));
        QCOMPARE(m_log, QStringList());
        QCOMPARE(m_view->previewingItemID(), std::nullopt);
    }

    void shortcutIsClaimedBeforeWindowShortcuts()
    {
        configure({m_link});
        int windowShortcuts = 0;
        for (const char* sequence : {"Ctrl+1", "Ctrl+9"}) {
            auto* shortcut = new QShortcut(QKeySequence(QLatin1String(sequence)), m_canvas);
            connect(shortcut, &QShortcut::activated, this, [&] { ++windowShortcuts; });
        }
        m_view->searchInput()->setFocus();
        QTest::keyClick(m_view->searchInput(), Qt::Key_1, Qt::ControlModifier);
        QCOMPARE(m_log, (QStringList{QStringLiteral("text:") + m_link.preview}));
        QCOMPARE(windowShortcuts, 0);
        // A key the island does not take still reaches the window's shortcut.
        QTest::keyClick(m_view->searchInput(), Qt::Key_9, Qt::ControlModifier);
        QCOMPARE(windowShortcuts, 1);
    }

    void searchFieldHasTheKeyboardOnlyWhenAsked()
    {
        QLineEdit* field = m_view->searchInput();
        // Through the window system, to whichever widget of the window has the keyboard.
        const auto type = [&] {
            QTest::keyClick(m_canvas->windowHandle(), 'a');
            QTest::keyClick(m_canvas->windowHandle(), 'b');
        };

        // Opened in init without asking: the island has the keyboard, typing fills no field.
        type();
        QCOMPARE(QApplication::focusWidget(), m_view);
        QCOMPARE(field->text(), QString());

        QWidget other;
        other.resize(100, 100);
        other.show();
        const auto reopen = [&](bool askForSearch) {
            other.activateWindow();
            QVERIFY(QTest::qWaitForWindowActive(&other));
            if (askForSearch)
                m_view->focusSearch();
            m_canvas->activateWindow();
            QVERIFY(QTest::qWaitForWindowActive(m_canvas));
            field->clear();
            type();
        };
        reopen(true);
        QCOMPARE(QApplication::focusWidget(), field);
        QCOMPARE(field->text(), QStringLiteral("ab"));

        // Not asked again: the field that had the keyboard last time does not get it back.
        reopen(false);
        QCOMPARE(QApplication::focusWidget(), m_view);
        QCOMPARE(field->text(), QString());
    }

private:
    // Sends one key press to `target`; true when someone accepted it.
    static bool press(QWidget* target, int key, Qt::KeyboardModifiers modifiers, quint32 nativeModifiers = 0)
    {
        QKeyEvent event(QEvent::KeyPress, key, modifiers, 0, 0, nativeModifiers,
                        key == Qt::Key_Space ? QStringLiteral(" ") : QString());
        QApplication::sendEvent(target, &event);
        return event.isAccepted();
    }

    void configure(const QList<ClipboardItem>& items)
    {
        m_view->configure(items, QuillomareCore::CloudSyncState::idle(), std::nullopt);
    }

    std::unique_ptr<QuillomareTest::IslandViewTestRig> m_rig;
    std::shared_ptr<ManualIslandScheduler> m_scheduler;
    QWidget* m_canvas = nullptr;
    IslandView* m_view = nullptr;
    Platform::MemoryPasteboard m_pasteboard;
    QStringList m_log;
    ClipboardItem m_link;
    ClipboardItem m_files;
    ClipboardItem m_image;
};

QUILLOMARE_GUI_TEST_MAIN(TestIslandViewKeyboard)
#include "tst_islandviewkeyboard.moc"
