#include "IslandViewTestRig.h"
#include "TestSupport.h"

#include "Island/IslandScheduler.h"
#include "Island/IslandView.h"

#include <QApplication>
#include <QClipboard>
#include <QKeyEvent>
#include <QLineEdit>
#include <QShortcut>

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
    void init();
    void cleanup();

    void keyMatrix_data();
    void keyMatrix();
    void spaceOpensThePreviewOutsideTheField();
    void controlFFromTheShelfSelectsTheSearch();
    void collapsedIslandTakesNoShortcut();
    void shortcutIsClaimedBeforeWindowShortcuts();
    void searchFieldHasTheKeyboardOnlyWhenAsked();

private:
    // Sends one key press to `target`; true when someone accepted it.
    static bool press(QWidget* target, int key, Qt::KeyboardModifiers modifiers, quint32 nativeModifiers = 0);
    void configure(const QList<ClipboardItem>& items);

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

void TestIslandViewKeyboard::init()
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
    m_view->onShelfDropPasteboard = [this](Platform::Pasteboard& pasteboard) {
        m_log.append(QStringLiteral("shelfPaste:") + pasteboard.string().value_or(QString()));
    };
    m_view->onCopyShelfItem = [this](const ShelfItem&) { m_log.append(QStringLiteral("shelfCopy")); };
}

void TestIslandViewKeyboard::cleanup()
{
    m_rig.reset();
}

bool TestIslandViewKeyboard::press(QWidget* target, int key, Qt::KeyboardModifiers modifiers, quint32 nativeModifiers)
{
    QKeyEvent event(QEvent::KeyPress, key, modifiers, 0, 0, nativeModifiers,
                    key == Qt::Key_Space ? QStringLiteral(" ") : QString());
    QApplication::sendEvent(target, &event);
    return event.isAccepted();
}

void TestIslandViewKeyboard::configure(const QList<ClipboardItem>& items)
{
    m_view->configure(items, QuillomareCore::CloudSyncState::idle(), std::nullopt);
}

void TestIslandViewKeyboard::keyMatrix_data()
{
    QTest::addColumn<int>("key");
    QTest::addColumn<Qt::KeyboardModifiers>("modifiers");
    QTest::addColumn<QString>("primary"); // the selected entry: link, files or image
    QTest::addColumn<Content>("mode");
    QTest::addColumn<QString>("initialText"); // selected in the field when not empty
    QTest::addColumn<QStringList>("log");
    QTest::addColumn<QString>("fieldText");

    const Qt::KeyboardModifiers ctrl = Qt::ControlModifier;
    const QString link = QStringLiteral("https://example.com/a?utm_source=news&id=7");
    const auto said = [](const QString& what) { return QStringList{what}; };
    const Content history = Content::history;
    const Content shelf = Content::shelfGallery;

    QTest::newRow("Ctrl+1 copies the original") << int(Qt::Key_1) << ctrl << "link" << history << QString()
                                               << said(QStringLiteral("select:") + link) << QString();
    QTest::newRow("Ctrl+2 copies plain text") << int(Qt::Key_2) << ctrl << "link" << history << QString()
                                             << said(QStringLiteral("variant:1:") + link) << QString();
    QTest::newRow("Ctrl+3 copies a Markdown link") << int(Qt::Key_3) << ctrl << "link" << history << QString()
                                                  << said(QStringLiteral("variant:2:") + link) << QString();
    QTest::newRow("Ctrl+4 copies the cleaned link") << int(Qt::Key_4) << ctrl << "link" << history << QString()
                                                   << said(QStringLiteral("variant:5:") + link) << QString();
    QTest::newRow("Ctrl+5 on a link offers nothing") << int(Qt::Key_5) << ctrl << "link" << history << QString()
                                                    << QStringList() << QString();
    QTest::newRow("Ctrl+5 copies file names") << int(Qt::Key_5) << ctrl << "files" << history << QString()
                                             << said(QStringLiteral("variant:3:/tmp/notes.txt")) << QString();
    QTest::newRow("Ctrl+6 copies file paths") << int(Qt::Key_6) << ctrl << "files" << history << QString()
                                             << said(QStringLiteral("variant:4:/tmp/notes.txt")) << QString();
    QTest::newRow("Ctrl+2 on an image copies its plain text") << int(Qt::Key_2) << ctrl << "image" << history
                                                             << QString() << said(QStringLiteral("plain:Image"))
                                                             << QString();
    QTest::newRow("Ctrl+3 on an image offers nothing") << int(Qt::Key_3) << ctrl << "image" << history << QString()
                                                      << QStringList() << QString();
    QTest::newRow("digits act in the shelf too") << int(Qt::Key_1) << ctrl << "link" << shelf << QString()
                                                << said(QStringLiteral("select:") + link) << QString();
    QTest::newRow("Ctrl+Shift+1 is not ours") << int(Qt::Key_1) << (ctrl | Qt::ShiftModifier) << "link" << history
                                             << QString() << QStringList() << QString();
    // The field takes these as typing (Ctrl+Alt is AltGr to it).
    QTest::newRow("Ctrl+Alt+1 is not ours") << int(Qt::Key_1) << (ctrl | Qt::AltModifier) << "link" << history
                                           << QString() << QStringList() << QStringLiteral("1");
    QTest::newRow("Ctrl+1 on the keypad is not ours") << int(Qt::Key_1) << (ctrl | Qt::KeypadModifier) << "link"
                                                     << history << QString() << QStringList()
                                                     << QStringLiteral("1");
    QTest::newRow("Ctrl+V in the history pastes into the field") << int(Qt::Key_V) << ctrl << "link" << history
                                                                << QString() << QStringList()
                                                                << QStringLiteral("pasted");
    QTest::newRow("Ctrl+V in the shelf hands the clipboard over") << int(Qt::Key_V) << ctrl << "link" << shelf
                                                                 << QString()
                                                                 << said(QStringLiteral("shelfPaste:board"))
                                                                 << QString();
    QTest::newRow("Ctrl+C copies the selected entry") << int(Qt::Key_C) << ctrl << "files" << history << QString()
                                                     << said(QStringLiteral("select:/tmp/notes.txt")) << QString();
    QTest::newRow("Ctrl+C over selected search text copies that text")
        << int(Qt::Key_C) << ctrl << "files" << history << QStringLiteral("notes") << QStringList()
        << QStringLiteral("notes");
    QTest::newRow("Space in the field is typed") << int(Qt::Key_Space) << Qt::KeyboardModifiers() << "link" << history
                                                << QString() << QStringList() << QStringLiteral(" ");
    QTest::newRow("Escape without a preview is not ours") << int(Qt::Key_Escape) << Qt::KeyboardModifiers() << "link"
                                                         << history << QString() << QStringList() << QString();
}

void TestIslandViewKeyboard::keyMatrix()
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

void TestIslandViewKeyboard::spaceOpensThePreviewOutsideTheField()
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

void TestIslandViewKeyboard::controlFFromTheShelfSelectsTheSearch()
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

void TestIslandViewKeyboard::collapsedIslandTakesNoShortcut()
{
    configure({m_link});
    m_view->setDisplayMode(Mode::collapsed, false);
    QVERIFY(!press(m_canvas, Qt::Key_1, Qt::ControlModifier));
    QVERIFY(!press(m_canvas, Qt::Key_Space, Qt::NoModifier));
    QVERIFY(!press(m_canvas, Qt::Key_F, Qt::ControlModifier));
    QCOMPARE(m_log, QStringList());
    QCOMPARE(m_view->previewingItemID(), std::nullopt);
}

void TestIslandViewKeyboard::shortcutIsClaimedBeforeWindowShortcuts()
{
    configure({m_link});
    int windowShortcuts = 0;
    for (const char* sequence : {"Ctrl+1", "Ctrl+9"}) {
        auto* shortcut = new QShortcut(QKeySequence(QLatin1String(sequence)), m_canvas);
        connect(shortcut, &QShortcut::activated, this, [&] { ++windowShortcuts; });
    }
    m_view->searchInput()->setFocus();
    QTest::keyClick(m_view->searchInput(), Qt::Key_1, Qt::ControlModifier);
    QCOMPARE(m_log, (QStringList{QStringLiteral("select:") + m_link.preview}));
    QCOMPARE(windowShortcuts, 0);
    // A key the island does not take still reaches the window's shortcut.
    QTest::keyClick(m_view->searchInput(), Qt::Key_9, Qt::ControlModifier);
    QCOMPARE(windowShortcuts, 1);
}

void TestIslandViewKeyboard::searchFieldHasTheKeyboardOnlyWhenAsked()
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

QUILLOMARE_GUI_TEST_MAIN(TestIslandViewKeyboard)
#include "tst_islandviewkeyboard.moc"
