#include "TestSupport.h"

#include "History/HistoryPreviewPane.h"
#include "History/HistoryTime.h"
#include "Island/Kit/IslandIconButton.h"
#include "QuickPreview/ClipQuickPreviewView.h"

#include <Platform/ThumbnailProvider.h>
#include <QuillomareCore/Language.h>

#include <QApplication>
#include <QBuffer>
#include <QClipboard>
#include <QDir>
#include <QLabel>
#include <QTemporaryDir>

using namespace QuillomareMac;
namespace Language = QuillomareCore::Language;
using namespace QuillomareTest;
using QuillomareCore::ClipboardItem;
using Content = ClipQuickPreviewView::Content;

class TestClipQuickPreviewView : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<ClipQuickPreviewView> m_card;
    QStringList m_copied;

    void show(const ClipboardItem& item)
    {
        m_card->applyQuickPreviewMetadata(item);
        m_card->applyQuickPreviewContent(item, true);
    }

    void select(int from, int to)
    {
        QTextCursor cursor(m_card->textView()->document());
        cursor.setPosition(from);
        cursor.setPosition(to, QTextCursor::KeepAnchor);
        m_card->textView()->setTextCursor(cursor);
    }

private Q_SLOTS:
    void initTestCase() { Language::setIsChineseForTesting(false); }

    void init()
    {
        m_copied.clear();
        m_card = std::make_unique<ClipQuickPreviewView>();
        m_card->onCopySelectedText = [this](const QString& text) { m_copied.append(text); };
        m_card->resize(480, 300);
        m_card->show();
        QVERIFY(QTest::qWaitForWindowExposed(m_card.get()));
    }

    void cleanup()
    {
        m_card.reset();
        Platform::ThumbnailProvider::waitForPendingRequests();
    }

    void textIsShownWithKindSourceAndAge()
    {
        const ClockOverride clock(at(600));
        ClipboardItem item = textItem(QStringLiteral("Hello card"), at(0));
        item.sourceAppName = QStringLiteral("  Notes ");
        show(item);
        QCOMPARE(m_card->content(), Content::text);
        QCOMPARE(m_card->shownItemID(), item.id);
        QCOMPARE(m_card->textView()->toPlainText(), QStringLiteral("Hello card"));
        QVERIFY(m_card->textView()->isReadOnly());
        QCOMPARE(m_card->titleLabel()->text(), QStringLiteral("Text"));
        QCOMPARE(m_card->metaLabel()->text(),
                 QStringLiteral("Notes · ") + HistoryTime::relativeTimeText(at(0), at(600)));
    }

    // Only the beginning of a long text is laid out, and the header says how much of it.
    void longTextShowsItsBeginningWithANote()
    {
        const ClockOverride clock(at(600));
        const QString text = QString(300'000, QLatin1Char('z'));
        ClipboardItem item = textItem(text, at(0));
        item.sourceAppName = QStringLiteral("Notes");
        show(item);
        QCOMPARE(m_card->content(), Content::text);
        QCOMPARE(m_card->textView()->toPlainText(), text.left(shownTextLimit));
        QCOMPARE(m_card->metaLabel()->text(), QStringLiteral("Notes · ") + HistoryTime::relativeTimeText(at(0), at(600)) +
                                                  QStringLiteral(" · Showing the first 8,192 of 300,000 chars"));
    }

    void selectionIsCopiedOnlyWhenThereIsOne()
    {
        show(textItem(QStringLiteral("Hello card"), at(0)));
        QVERIFY(!m_card->copySelectedTextIfAvailable());
        QVERIFY(m_copied.isEmpty());

        select(6, 10);
        QVERIFY(m_card->copySelectedTextIfAvailable());
        QCOMPARE(m_copied, QStringList{QStringLiteral("card")});
    }

    void ctrlCInTheTextGoesThroughTheCallback()
    {
        QGuiApplication::clipboard()->setText(QStringLiteral("before"));
        show(textItem(QStringLiteral("Hello card"), at(0)));
        m_card->textView()->setFocus();
        select(0, 5);
        QTest::keyClick(m_card->textView(), Qt::Key_C, Qt::ControlModifier);
        QCOMPARE(m_copied, QStringList{QStringLiteral("Hello")});
        QCOMPARE(QGuiApplication::clipboard()->text(), QStringLiteral("before"));
    }

    void sensitiveEntryShowsTheLockAndNeverItsText()
    {
        show(textItem(QStringLiteral("visible before"), at(0)));
        ClipboardItem secret = textItem(QStringLiteral("top secret token"), at(1));
        secret.isSensitive = true;
        show(secret);
        QCOMPARE(m_card->content(), Content::message);
        QCOMPARE(m_card->messageSymbol(), QStringLiteral("lock.fill"));
        QCOMPARE(m_card->messageTitle()->text(), QStringLiteral("Sensitive content hidden"));
        QVERIFY(!m_card->textView()->toPlainText().contains(QStringLiteral("secret")));
        QVERIFY(!m_card->copySelectedTextIfAvailable());
    }

    void filesAreListedWithSizeAndFolder()
    {
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        const QString present = dir.filePath(QStringLiteral("report.txt"));
        writeFile(present, "abc");
        const QString missing = dir.filePath(QStringLiteral("gone/old.pdf"));
        show(fileItem({QStringLiteral(" ") + present, QStringLiteral("  "), missing}, at(0)));

        QCOMPARE(m_card->content(), Content::files);
        QCOMPARE(m_card->titleLabel()->text(), QStringLiteral("File"));
        QCOMPARE(m_card->fileNameLines(), (QStringList{QStringLiteral("report.txt"), QStringLiteral("old.pdf")}));
        QCOMPARE(m_card->fileDetailLines(),
                 (QStringList{ClipboardItem::formattedBytes(3) + QStringLiteral(" · ") + dir.path(),
                              dir.filePath(QStringLiteral("gone"))}));
        const QSize size = m_card->preferredSize(QSize(800, 600));
        QVERIFY(size.height() < 600);
    }

    void fileListLiesOnTheCardsSurface()
    {
        // The card lies over the history rows; where it lists files nothing of them may show.
        QWidget rows;
        rows.setAutoFillBackground(true);
        QPalette palette = rows.palette();
        palette.setColor(QPalette::Window, QColor(250, 250, 250));
        rows.setPalette(palette);
        rows.resize(520, 340);
        auto* card = new ClipQuickPreviewView(&rows);
        card->setGeometry(20, 20, 480, 300);
        rows.show();
        QVERIFY(QTest::qWaitForWindowExposed(&rows));
        card->applyQuickPreviewMetadata(fileItem({QStringLiteral("/etc/hostname")}, at(0)));
        card->applyQuickPreviewContent(fileItem({QStringLiteral("/etc/hostname")}, at(0)), true);
        QCOMPARE(card->content(), Content::files);
        QCoreApplication::processEvents();

        // What the window held before (the rows, light here) stays wherever nothing paints anew:
        // a part of the card that claims to cover its area without painting it shows them.
        QImage shown(rows.size(), QImage::Format_ARGB32_Premultiplied);
        shown.fill(QColor(250, 250, 250));
        rows.render(&shown);
        // The list's free room right of the file's name and below the last row: the card's dark
        // surface throughout.
        int light = 0;
        int looked = 0;
        for (int y = 20 + 60; y < 20 + 280; y += 3) {
            for (int x = 20 + 300; x < 20 + 460; x += 3) {
                ++looked;
                light += shown.pixelColor(x, y).lightness() > 100;
            }
        }
        QVERIFY(looked > 1000);
        QCOMPARE(light, 0);
    }

    void closeButtonFiresOnClose()
    {
        int closes = 0;
        m_card->onClose = [&closes] { ++closes; };
        QTest::mouseClick(m_card->closeButton(), Qt::LeftButton);
        QCOMPARE(closes, 1);
    }

    void imageArrivesOnlyForTheShownEntry()
    {
        QImage picture(24, 12, QImage::Format_ARGB32);
        picture.fill(Qt::blue);
        QByteArray png;
        QBuffer buffer(&png);
        buffer.open(QIODevice::WriteOnly);
        picture.save(&buffer, "PNG");

        show(imageItem(png, at(0)));
        QCOMPARE(m_card->content(), Content::image);
        QTRY_COMPARE(m_card->shownImage().size(), QSize(24, 12));

        const ClipboardItem other = imageItem(png + QByteArray(1, '\0'), at(1));
        show(other);
        show(textItem(QStringLiteral("after"), at(2)));
        QVERIFY(Platform::ThumbnailProvider::waitForPendingRequests());
        QCoreApplication::processEvents();
        QCOMPARE(m_card->content(), Content::text);
        QVERIFY(m_card->shownImage().isNull());
    }
};

QUILLOMARE_GUI_TEST_MAIN(TestClipQuickPreviewView)
#include "tst_clipquickpreviewview.moc"
