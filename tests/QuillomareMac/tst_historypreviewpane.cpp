#include "TestSupport.h"

#include "History/ClipThumbnailView.h"
#include "History/HistoryPreviewPane.h"
#include "Island/Kit/IslandImageView.h"
#include "Island/Kit/IslandTheme.h"

#include <Platform/ThumbnailProvider.h>
#include <QuillomareCore/Language.h>

#include <QApplication>
#include <QBuffer>
#include <QClipboard>
#include <QDir>
#include <QFile>
#include <QFontDatabase>
#include <QLabel>
#include <QTemporaryDir>

using namespace QuillomareMac;
namespace Language = QuillomareCore::Language;
using namespace QuillomareTest;
using QuillomareCore::ClipboardItem;
using Mode = HistoryInspectorPreviewView::Mode;

namespace {

QByteArray pngBytes(QSize size)
{
    QImage image(size, QImage::Format_ARGB32);
    image.fill(Qt::red);
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "PNG");
    return bytes;
}

QString pngKey(const ClipboardItem& item)
{
    return ClipThumbnailImageCache::pngKey(QStringLiteral("preview-png:"), item.contentHash,
                                           item.payload.imagePNGValue());
}

void placeCursorAtEnd(QPlainTextEdit* view)
{
    QTextCursor cursor = view->textCursor();
    cursor.movePosition(QTextCursor::End);
    view->setTextCursor(cursor);
}

} // namespace

class TestHistoryInspectorPreview : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<HistoryInspectorPreviewView> m_view;
    QStringList m_copied;
    int m_imageRequests = 0;
    QTemporaryDir m_dir;

    QString writeFile(const QString& name, const QByteArray& bytes)
    {
        const QString path = m_dir.filePath(name);
        QuillomareTest::writeFile(path, bytes);
        return path;
    }

private Q_SLOTS:
    void initTestCase()
    {
        Language::setIsChineseForTesting(false);
        QVERIFY(m_dir.isValid());
    }

    void init()
    {
        ClipThumbnailImageCache::clearForTesting();
        m_copied.clear();
        m_imageRequests = 0;
        m_view = std::make_unique<HistoryInspectorPreviewView>();
        m_view->onCopyText = [this](const QString& text) { m_copied.append(text); };
        m_view->onRequestImagePreview = [this] { ++m_imageRequests; };
        m_view->resize(360, 160);
        m_view->show();
        QVERIFY(QTest::qWaitForWindowExposed(m_view.get()));
    }

    void cleanup()
    {
        m_view.reset();
        Platform::ThumbnailProvider::waitForPendingRequests();
    }

    // --- Text ---------------------------------------------------------------------------------

    void sensitiveTextNeverReachesTheTextView()
    {
        ClipboardItem item = textItem(QStringLiteral("hunter2 password"), at(0));
        item.isSensitive = true;
        m_view->configure(item);
        QCOMPARE(m_view->currentMode(), Mode::sensitive);
        QCOMPARE(m_view->currentItemID(), item.id);
        QCOMPARE(m_view->messageTitle()->text(), QStringLiteral("Sensitive content hidden"));
        QVERIFY(!m_view->textView()->toPlainText().contains(QStringLiteral("hunter2")));
        QCOMPARE(m_view->editableTextForCopy(), std::nullopt);
    }

    void editingShowsStatusAndResetRestores()
    {
        m_view->configure(textItem(QStringLiteral("hello"), at(0)));
        QCOMPARE(m_view->textStatusLabel()->text(), QStringLiteral("Editable · scroll to see all"));
        QVERIFY(!m_view->resetButton()->isEnabled());

        placeCursorAtEnd(m_view->textView());
        QTest::keyClicks(m_view->textView(), QStringLiteral(" world"));
        QCOMPARE(m_view->textStatusLabel()->text(), QStringLiteral("Edited · affects this copy only"));
        QVERIFY(m_view->resetButton()->isEnabled());
        QCOMPARE(m_view->editableTextForCopy(), QStringLiteral("hello world"));

        QTest::mouseClick(m_view->resetButton(), Qt::LeftButton);
        QCOMPARE(m_view->textView()->toPlainText(), QStringLiteral("hello"));
        QVERIFY(!m_view->resetButton()->isEnabled());
        QCOMPARE(m_view->textStatusLabel()->text(), QStringLiteral("Editable · scroll to see all"));
    }

    // A long text is laid out only in part, read-only, with a note of the whole; the tiles and
    // the Copy pill still copy the whole stored text. A short text after it is editable again.
    void longTextShowsItsBeginningOnlyAndCopiesWhole()
    {
        QString text = QString(shownTextLimit - 1, QLatin1Char('a')) + QString::fromUtf8("😀") +
                       QString(200'000, QLatin1Char('b'));
        m_view->configure(textItem(text, at(0)));
        QCOMPARE(m_view->currentMode(), Mode::editableText);
        const QString shown = m_view->textView()->toPlainText();
        QCOMPARE(shown, QString(shownTextLimit - 1, QLatin1Char('a'))); // the emoji is not split
        QVERIFY(m_view->isTextCut());
        QVERIFY(m_view->textView()->isReadOnly());
        QCOMPARE(m_view->textStatusLabel()->text(),
                 QStringLiteral("Read-only · Showing the first 8,191 of 208,192 chars"));
        QVERIFY(!m_view->resetButton()->isEnabled());
        QVERIFY(m_view->copyButton()->isEnabled());

        placeCursorAtEnd(m_view->textView());
        QTest::keyClicks(m_view->textView(), QStringLiteral("typed"));
        QCOMPARE(m_view->textView()->toPlainText(), shown);
        QCOMPARE(m_view->editableTextForCopy(), text);
        QTest::mouseClick(m_view->copyButton(), Qt::LeftButton);
        QCOMPARE(m_copied, QStringList{text});

        m_view->configure(textItem(QStringLiteral("short"), at(0)));
        QVERIFY(!m_view->isTextCut());
        QVERIFY(!m_view->textView()->isReadOnly());
        placeCursorAtEnd(m_view->textView());
        QTest::keyClicks(m_view->textView(), QStringLiteral(" edit"));
        QCOMPARE(m_view->editableTextForCopy(), QStringLiteral("short edit"));

        Language::setIsChineseForTesting(true);
        m_view->configure(textItem(text, at(0)));
        QCOMPARE(m_view->textStatusLabel()->text(),
                 QStringLiteral("只读 · 只显示开头 8,191 字符（全文 208,192 字符）"));
        Language::setIsChineseForTesting(false);
    }

    void editingBackToTheStoredTextCountsAsNotEdited()
    {
        m_view->configure(textItem(QStringLiteral("line one\r\nline two"), at(0)));
        placeCursorAtEnd(m_view->textView());
        QTest::keyClick(m_view->textView(), Qt::Key_X);
        QVERIFY(m_view->isTextEdited());
        QTest::keyClick(m_view->textView(), Qt::Key_Backspace);
        QVERIFY(!m_view->isTextEdited());
        QVERIFY(!m_view->resetButton()->isEnabled());
        // Unedited, the stored text goes out exactly, line breaks included.
        QCOMPARE(m_view->editableTextForCopy(), QStringLiteral("line one\r\nline two"));
    }

    void copyPillFollowsBlankness_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("copyEnabled");
        QTest::addColumn<QStringList>("copied");
        QTest::newRow("white space only") << QStringLiteral("  \n\t ") << false << QStringList();
        QTest::newRow("padded text goes out untrimmed")
            << QStringLiteral(" hi \n") << true << QStringList{QStringLiteral(" hi \n")};
    }

    void copyPillFollowsBlankness()
    {
        QFETCH(QString, text);
        QFETCH(bool, copyEnabled);
        QFETCH(QStringList, copied);
        m_view->configure(textItem(text, at(0)));
        QCOMPARE(m_view->copyButton()->isEnabled(), copyEnabled);
        QCOMPARE(m_view->editableTextForCopy().has_value(), copyEnabled);
        QTest::mouseClick(m_view->copyButton(), Qt::LeftButton);
        QCOMPARE(m_copied, copied);
    }

    void copyShortcutOverASelectionSendsOnlyTheSelection_data()
    {
        QTest::addColumn<Qt::KeyboardModifiers>("modifiers");
        QTest::addColumn<bool>("select");
        QTest::addColumn<QStringList>("copied");
        QTest::newRow("ctrl+shift+c") << Qt::KeyboardModifiers(Qt::ControlModifier | Qt::ShiftModifier) << true
                                      << QStringList{QStringLiteral("beta")};
        QTest::newRow("ctrl+c") << Qt::KeyboardModifiers(Qt::ControlModifier) << true
                                << QStringList{QStringLiteral("beta")};
        QTest::newRow("ctrl+c without selection")
            << Qt::KeyboardModifiers(Qt::ControlModifier) << false << QStringList();
    }

    void copyShortcutOverASelectionSendsOnlyTheSelection()
    {
        QFETCH(Qt::KeyboardModifiers, modifiers);
        QFETCH(bool, select);
        QFETCH(QStringList, copied);
        QGuiApplication::clipboard()->setText(QStringLiteral("before"));
        m_view->configure(textItem(QStringLiteral("alpha beta gamma"), at(0)));
        InspectorEditableTextView* textView = m_view->textView();
        textView->setFocus();
        QTextCursor cursor(textView->document());
        cursor.setPosition(6);
        if (select)
            cursor.setPosition(10, QTextCursor::KeepAnchor);
        textView->setTextCursor(cursor);

        QTest::keyClick(textView, Qt::Key_C, modifiers);
        QCOMPARE(m_copied, copied);
        QCOMPARE(QGuiApplication::clipboard()->text(), QStringLiteral("before"));
        QCOMPARE(textView->toPlainText(), QStringLiteral("alpha beta gamma"));
    }

    void linkIsShownMonospacedAndEditable()
    {
        ClipboardItem item = textItem(QStringLiteral("https://example.com/a"), at(0));
        item.kind = QuillomareCore::ClipKind::url;
        m_view->configure(item);
        QCOMPARE(m_view->currentMode(), Mode::editableText);
        QCOMPARE(m_view->textView()->font().family(), QFontDatabase::systemFont(QFontDatabase::FixedFont).family());
        QCOMPARE(m_view->textView()->palette().color(QPalette::Text), IslandTheme::rgb(0.46, 0.76, 1.0));
        QVERIFY(!m_view->textView()->isReadOnly());

        m_view->configure(textItem(QStringLiteral("plain"), at(0)));
        QVERIFY(m_view->textView()->palette().color(QPalette::Text) != IslandTheme::rgb(0.46, 0.76, 1.0));
    }

    void reconfiguringTheSameEntryReplacesAnEditedText()
    {
        const ClipboardItem item = textItem(QStringLiteral("stored"), at(0));
        m_view->configure(item);
        placeCursorAtEnd(m_view->textView());
        QTest::keyClicks(m_view->textView(), QStringLiteral("zzz"));
        m_view->configure(item);
        QCOMPARE(m_view->textView()->toPlainText(), QStringLiteral("stored"));
        QVERIFY(!m_view->isTextEdited());
    }

    // --- Files --------------------------------------------------------------------------------

    void blankOnlyFilePathShowsTheNoValidPathMessage()
    {
        m_view->configure(fileItem({QStringLiteral("  \n ")}, at(0)));
        QCOMPARE(m_view->currentMode(), Mode::empty);
        QCOMPARE(m_view->currentItemID(), std::nullopt);
        QCOMPARE(m_view->messageTitle()->text(), QStringLiteral("No valid path for this file item"));
        QCOMPARE(m_view->editableTextForCopy(), std::nullopt);
    }

    void singleImageFileIsShownAsImageUntilDeleted()
    {
        const QString path = writeFile(QStringLiteral("photo.png"), pngBytes(QSize(40, 20)));
        m_view->configure(fileItem({path}, at(0)));
        QCOMPARE(m_view->currentMode(), Mode::image);
        QTRY_VERIFY(m_view->imagePreview()->hasImage());
        QCOMPARE(m_view->imagePreview()->image().size(), QSize(40, 20));

        QVERIFY(QFile::remove(path));
        m_view->configure(fileItem({path}, at(0)));
        QCOMPARE(m_view->currentMode(), Mode::file);
        QCOMPARE(m_view->fileIconSymbol(), QStringLiteral("doc"));
        QCOMPARE(m_view->fileTitleLabel()->text(), QStringLiteral("photo.png"));
        QCOMPARE(m_view->fileMetaLabel()->text(), QStringLiteral("PNG"));
        QCOMPARE(m_view->filePathLabel()->text(), m_dir.path());
        QVERIFY(Platform::ThumbnailProvider::waitForPendingRequests());
        QVERIFY(!m_view->fileIconShowsThumbnail());
    }

    void severalFilesShowCountAndTotalSize_data()
    {
        QTest::addColumn<bool>("thirdExists");
        QTest::addColumn<qint64>("total");
        QTest::newRow("all readable") << true << qint64(6);
        QTest::newRow("one missing adds nothing") << false << qint64(3);
    }

    void severalFilesShowCountAndTotalSize()
    {
        QFETCH(bool, thirdExists);
        QFETCH(qint64, total);
        const QString first = writeFile(QStringLiteral("one.txt"), "a");
        const QString second = writeFile(QStringLiteral("two.txt"), "bb");
        const QString third = m_dir.filePath(QStringLiteral("three.txt"));
        QFile::remove(third);
        if (thirdExists)
            writeFile(QStringLiteral("three.txt"), "ccc");

        m_view->configure(fileItem({first, second, third}, at(0)));
        QCOMPARE(m_view->currentMode(), Mode::file);
        QCOMPARE(m_view->fileTitleLabel()->text(), QStringLiteral("one.txt and 2 items"));
        QCOMPARE(m_view->fileMetaLabel()->text(), QStringLiteral("3 items · ") + ClipboardItem::formattedBytes(total));
        QCOMPARE(m_view->filePathLabel()->text(), first);
        QCOMPARE(m_view->fileIconSymbol(), QStringLiteral("doc.on.doc"));
    }

    void twoFilesNameTheFirstAndOneMore()
    {
        const QString first = writeFile(QStringLiteral("notes.txt"), "a");
        const QString second = writeFile(QStringLiteral("50%2 off.txt"), "bb");
        m_view->configure(fileItem({first, second}, at(0)));
        QCOMPARE(m_view->fileTitleLabel()->text(), QStringLiteral("notes.txt and 1 item"));
        QCOMPARE(m_view->fileMetaLabel()->text(), QStringLiteral("2 items · ") + ClipboardItem::formattedBytes(3));
        // The Chinese counts them all; a file name is shown as it is.
        Language::setIsChineseForTesting(true);
        m_view->configure(fileItem({second, first}, at(0)));
        Language::setIsChineseForTesting(false);
        QCOMPARE(m_view->fileTitleLabel()->text(), QStringLiteral("50%2 off.txt 等 2 项"));
        QCOMPARE(m_view->fileMetaLabel()->text(), QStringLiteral("2 项 · ") + ClipboardItem::formattedBytes(3));
    }

    void switchingFilesDropsTheLateThumbnail()
    {
        const QString picture = writeFile(QStringLiteral("first.png"), pngBytes(QSize(30, 30)));
        const QString notes = writeFile(QStringLiteral("notes.txt"), "x");
        const ClipboardItem a = fileItem({picture, notes}, at(0));
        const ClipboardItem b = fileItem({writeFile(QStringLiteral("b.txt"), "y")}, at(1));

        // Alone, A's first file gets its thumbnail.
        m_view->configure(a);
        QTRY_VERIFY(m_view->fileIconShowsThumbnail());

        m_view->configure(a);
        m_view->configure(b);
        QVERIFY(Platform::ThumbnailProvider::waitForPendingRequests());
        QCOMPARE(m_view->fileTitleLabel()->text(), QStringLiteral("b.txt"));
        QVERIFY(!m_view->fileIconShowsThumbnail());
    }

    // --- Images -------------------------------------------------------------------------------

    void imageClickFiresOnlyWithAnImage()
    {
        m_view->configure(imageItem(pngBytes(QSize(50, 50)), at(0)));
        QCOMPARE(m_view->currentMode(), Mode::image);
        QVERIFY(!m_view->imagePreview()->hasImage());
        QTest::mouseClick(m_view->imagePreview(), Qt::LeftButton);
        QCOMPARE(m_imageRequests, 0);

        QTRY_VERIFY(m_view->imagePreview()->hasImage());
        QTest::mouseClick(m_view->imagePreview(), Qt::LeftButton);
        QCOMPARE(m_imageRequests, 1);
    }

    void lateDecodeOfAPreviousEntryDoesNotLand_data()
    {
        QTest::addColumn<bool>("nextIsImage");
        QTest::newRow("next is text") << false;
        QTest::newRow("next is another image") << true;
    }

    void lateDecodeOfAPreviousEntryDoesNotLand()
    {
        QFETCH(bool, nextIsImage);
        const ClipboardItem a = imageItem(pngBytes(QSize(40, 20)), at(0));
        const ClipboardItem b =
            nextIsImage ? imageItem(pngBytes(QSize(10, 30)), at(1)) : textItem(QStringLiteral("next"), at(1));
        m_view->configure(a);
        m_view->configure(b);
        QTRY_VERIFY(!ClipThumbnailImageCache::cached(pngKey(a)).isNull());
        QVERIFY(Platform::ThumbnailProvider::waitForPendingRequests());
        QCoreApplication::processEvents();

        QCOMPARE(m_view->currentItemID(), b.id);
        if (nextIsImage) {
            QTRY_VERIFY(m_view->imagePreview()->hasImage());
            QCOMPARE(m_view->imagePreview()->image().size(), QSize(10, 30));
        } else {
            QCOMPARE(m_view->currentMode(), Mode::editableText);
            QVERIFY(!m_view->imagePreview()->hasImage());
        }
    }

    void undecodableImageEndsInTheMessage()
    {
        m_view->configure(imageItem(QByteArray("not a png at all"), at(0)));
        QCOMPARE(m_view->currentMode(), Mode::image);
        QTRY_COMPARE(m_view->currentMode(), Mode::empty);
        QCOMPARE(m_view->currentItemID(), std::nullopt);
        QCOMPARE(m_view->messageTitle()->text(), QStringLiteral("This image can't be previewed"));
    }
};

QUILLOMARE_GUI_TEST_MAIN(TestHistoryInspectorPreview)
#include "tst_historypreviewpane.moc"
