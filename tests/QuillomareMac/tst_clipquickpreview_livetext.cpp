// The quick preview card over pictures: decoded and read off the GUI thread, results kept only
// for the showing that asked, Live Text selected and copied (with the real engine on Chinese and
// English text), the Extract Text highlight, and sensitive entries never read.

#include "IslandViewTestRig.h"
#include "TestSupport.h"

#include "Pasteboard/ImageTextRecognizer.h"
#include "QuickPreview/ClipQuickPreviewView.h"
#include "QuickPreview/QuickPreviewImageView.h"

#include <Platform/TextRecognizer.h>
#include <Platform/ThumbnailProvider.h>
#include <QuillomareCore/CloudSyncService.h>
#include <QuillomareCore/Language.h>

#include <QApplication>
#include <QBuffer>
#include <QClipboard>
#include <QLabel>
#include <QMouseEvent>
#include <QPainter>
#include <QSemaphore>

#include <atomic>
#include <memory>

using namespace QuillomareMac;
namespace Language = QuillomareCore::Language;
using namespace QuillomareTest;
using Platform::TextRecognizer;
using QuillomareCore::ClipboardItem;
using LiveTextState = ClipQuickPreviewView::LiveTextState;

namespace {

// A plain picture `width` wide; the fake engine reads its width back as the word it finds.
QByteArray plainPicture(int width, QColor colour = Qt::white)
{
    QImage image(width, 200, QImage::Format_RGB32);
    image.fill(colour);
    return pngOf(image);
}

// "Quick brown fox" over "快速预览文字", black on white, 40 pixels high.
QByteArray knownTextPicture()
{
    return pngOf(
        textPicture(QSize(1000, 310),
                    {{QStringLiteral("DejaVu Sans"), 40, QPoint(80, 100), QStringLiteral("Quick brown fox")},
                     {QStringLiteral("WenQuanYi Micro Hei"), 40, QPoint(80, 190), QStringLiteral("快速预览文字")}}));
}

// Answers with one word per call (the picture's width, "w<width>"), counts calls, and holds the
// pictures of `gatedWidth` until the gate opens.
class FakeRecognizer final : public TextRecognizer
{
public:
    Result recognize(const QImage& image) const override
    {
        ++calls;
        if (image.width() == gatedWidth)
            gate.acquire();
        Result result = answer;
        if (result.words.isEmpty() && !result.failed() && !answersNothing) {
            result.lines = {QRectF(0.1, 0.5, 0.5, 0.2)};
            result.words = {{QStringLiteral("w%1").arg(image.width()), QRectF(0.1, 0.5, 0.2, 0.2), 90.0F, 0},
                            {QStringLiteral("next"), QRectF(0.35, 0.5, 0.2, 0.2), 90.0F, 0}};
        }
        return result;
    }

    mutable std::atomic<int> calls{0};
    mutable QSemaphore gate;
    int gatedWidth = -1;
    Result answer;
    bool answersNothing = false;
};

QStringList wordTexts(const LiveTextLayout& layout)
{
    QStringList texts;
    for (const LiveTextWord& word : layout.words())
        texts.append(word.text);
    return texts;
}

} // namespace

class TestClipQuickPreviewLiveText : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<ClipQuickPreviewView> m_card;
    std::shared_ptr<FakeRecognizer> m_fake;
    QStringList m_copied;

    void useFake() { TextRecognizer::setSharedForTesting(m_fake); }

    void show(const ClipboardItem& item)
    {
        m_card->applyQuickPreviewMetadata(item);
        m_card->applyQuickPreviewContent(item, true);
    }

    bool waitUntilRead(int timeout = 5000)
    {
        return QTest::qWaitFor(
            [this] {
                const LiveTextState state = m_card->liveTextState();
                return state != LiveTextState::none && state != LiveTextState::recognizing;
            },
            timeout);
    }

private Q_SLOTS:
    void initTestCase() { Language::setIsChineseForTesting(false); }

    void init()
    {
        m_copied.clear();
        m_fake = std::make_shared<FakeRecognizer>();
        m_card = std::make_unique<ClipQuickPreviewView>();
        m_card->onCopySelectedText = [this](const QString& text) { m_copied.append(text); };
        m_card->resize(700, 420);
        m_card->show();
        QVERIFY(QTest::qWaitForWindowExposed(m_card.get()));
    }

    void cleanup()
    {
        m_fake->gate.release(100);
        m_card.reset();
        QVERIFY(Platform::ThumbnailProvider::waitForPendingRequests(20000));
        TextRecognizer::setSharedForTesting(nullptr);
    }

    void chineseAndEnglishTextIsFoundSelectedAndCopied()
    {
        // The real engine.
        show(imageItem(knownTextPicture(), at(0)));
        QCOMPARE(m_card->liveTextState(), LiveTextState::none);
        QVERIFY(waitUntilRead(60000));
        QCOMPARE(m_card->liveTextState(), LiveTextState::ready);
        QuickPreviewImageView* picture = m_card->imageView();
        QCOMPARE(picture->pictureSize(), QSize(1000, 310));
        const LiveTextLayout& layout = picture->liveText();
        const QStringList words = wordTexts(layout);
        QVERIFY2(words.size() >= 4, qPrintable(words.join(QLatin1Char('|'))));
        QCOMPARE(words.mid(0, 3),
                 (QStringList{QStringLiteral("Quick"), QStringLiteral("brown"), QStringLiteral("fox")}));
        QCOMPARE(words.mid(3).join(QString()), QStringLiteral("快速预览文字"));
        // Every box lies where the text was drawn: the English line above the Chinese one.
        for (const LiveTextWord& word : layout.words()) {
            const QRectF band = word.line == 0 ? QRectF(0.07, 0.15, 0.6, 0.25) : QRectF(0.07, 0.45, 0.4, 0.25);
            QVERIFY2(band.contains(word.box), qPrintable(word.text));
        }

        QVERIFY(!m_card->copySelectedTextIfAvailable());
        QVERIFY(m_copied.isEmpty());

        // From the middle of "brown" to the middle of the last Chinese word.
        const QPointF from = picture->mapFromPicture(layout.words()[1].box.center());
        const QPointF to = picture->mapFromPicture(layout.words().back().box.center());
        dragMouse(picture, from, to);
        QVERIFY(m_card->copySelectedTextIfAvailable());
        QCOMPARE(m_copied, QStringList{QStringLiteral("brown fox\n快速预览文字")});
    }

    void extractTextLightsTheWordsUpAndTellsWhatToDo()
    {
        useFake();
        m_fake->gatedWidth = 320;
        show(imageItem(plainPicture(320), at(0)));
        m_card->activateTextExtractionHighlight();
        QTRY_COMPARE(m_card->liveTextState(), LiveTextState::recognizing);
        QCOMPARE(m_card->imageView()->hint(), ClipQuickPreviewView::recognizingHint());
        QVERIFY(!m_card->imageView()->isTextHighlighted());

        m_fake->gate.release();
        QVERIFY(waitUntilRead());
        QCOMPARE(m_card->liveTextState(), LiveTextState::ready);
        QVERIFY(m_card->imageView()->isTextHighlighted());
        QCOMPARE(m_card->imageView()->hint(), ClipQuickPreviewView::selectAndCopyHint());

        // Another entry starts without the highlight.
        show(imageItem(plainPicture(330), at(1)));
        QVERIFY(!m_card->textExtractionHighlightRequested());
        QVERIFY(m_card->imageView()->hint().isEmpty());
        QVERIFY(waitUntilRead());
        QVERIFY(!m_card->imageView()->isTextHighlighted());
        QVERIFY(m_card->imageView()->hint().isEmpty());
    }

    void pictureWithoutTextOrWithoutTheEngineSaysSo()
    {
        useFake();
        m_fake->answersNothing = true;
        show(imageItem(plainPicture(340), at(0)));
        m_card->activateTextExtractionHighlight();
        QVERIFY(waitUntilRead());
        QCOMPARE(m_card->liveTextState(), LiveTextState::noText);
        QCOMPARE(m_card->imageView()->hint(),
                 ImageTextRecognizerError::description(ImageTextRecognizerError::Case::noText));
        QVERIFY(!m_card->copySelectedTextIfAvailable());

        m_fake->answer.failure = TextRecognizer::Failure::languageDataMissing;
        m_fake->answer.missingFiles = {QStringLiteral("chi_sim.traineddata")};
        m_fake->answer.dataFolder = QStringLiteral("/nowhere");
        show(imageItem(plainPicture(350), at(1)));
        m_card->activateTextExtractionHighlight();
        QVERIFY(waitUntilRead());
        QCOMPARE(m_card->liveTextState(), LiveTextState::failed);
        // The engine's own reason, as Extract Text tells it.
        QTRY_VERIFY(m_card->imageView()->hint().contains(QStringLiteral("chi_sim.traineddata")));
        QVERIFY(m_card->imageView()->hint().contains(QStringLiteral("tesseract-ocr-chi-sim")));
    }

    void resultsForAnEntryNoLongerShownAreDropped()
    {
        useFake();
        m_fake->gatedWidth = 360;
        const ClipboardItem first = imageItem(plainPicture(360, Qt::red), at(0));
        show(first);
        QTRY_COMPARE(m_card->liveTextState(), LiveTextState::recognizing);
        QTRY_COMPARE(m_fake->calls.load(), 1);

        const ClipboardItem second = imageItem(plainPicture(370, Qt::blue), at(1));
        show(second);
        QVERIFY(waitUntilRead());
        QCOMPARE(wordTexts(m_card->imageView()->liveText()).value(0), QStringLiteral("w370"));
        QCOMPARE(m_card->shownImage().pixelColor(5, 5), QColor(Qt::blue));

        // The first picture's words arrive late: the card stays with the second.
        m_fake->gate.release();
        QVERIFY(Platform::ThumbnailProvider::waitForPendingRequests());
        QCoreApplication::processEvents();
        QCOMPARE(m_card->shownItemID(), second.id);
        QCOMPARE(wordTexts(m_card->imageView()->liveText()).value(0), QStringLiteral("w370"));

        // The same entry shown afresh is a new showing too: a picture decoded for the old one
        // does not land in it after a text came between.
        show(first);
        show(textItem(QStringLiteral("after"), at(2)));
        QVERIFY(Platform::ThumbnailProvider::waitForPendingRequests());
        QCoreApplication::processEvents();
        QCOMPARE(m_card->content(), ClipQuickPreviewView::Content::text);
        QVERIFY(!m_card->imageView()->hasPicture());
        QVERIFY(m_card->imageView()->liveText().isEmpty());
    }

    void theSameEntryPushedAgainKeepsItsZoomSelectionAndWords()
    {
        useFake();
        const ClipboardItem item = imageItem(plainPicture(380), at(0));
        show(item);
        QVERIFY(waitUntilRead());
        QuickPreviewImageView* picture = m_card->imageView();
        picture->zoomTo(picture->fitScale() * 2, QPointF(100, 100));
        picture->selectWords(0, 1);
        const QRectF zoomed = picture->pictureRect();
        show(item);
        QCOMPARE(picture->pictureRect(), zoomed);
        QCOMPARE(picture->selectedText(), std::optional<QString>(QStringLiteral("w380 next")));
        QCOMPARE(m_fake->calls.load(), 1);

        // Shown again after another entry: read from memory, not again.
        show(imageItem(plainPicture(390), at(1)));
        QVERIFY(waitUntilRead());
        QCOMPARE(m_fake->calls.load(), 2);
        show(item);
        QTRY_COMPARE(m_card->liveTextState(), LiveTextState::ready);
        QCOMPARE(wordTexts(picture->liveText()).value(0), QStringLiteral("w380"));
        QCOMPARE(m_fake->calls.load(), 2);
        QVERIFY(!picture->isZoomed());
        QCOMPARE(picture->selectedText(), std::nullopt);
    }

    void aSensitivePictureIsNeitherShownNorRead()
    {
        useFake();
        ClipboardItem secret = imageItem(plainPicture(400), at(0));
        secret.isSensitive = true;
        show(secret);
        m_card->activateTextExtractionHighlight();
        QVERIFY(Platform::ThumbnailProvider::waitForPendingRequests());
        QCoreApplication::processEvents();
        QCOMPARE(m_card->content(), ClipQuickPreviewView::Content::message);
        QCOMPARE(m_card->messageSymbol(), QStringLiteral("lock.fill"));
        QCOMPARE(m_card->messageTitle()->text(), QStringLiteral("Sensitive content hidden"));
        QCOMPARE(m_fake->calls.load(), 0);
        QVERIFY(m_card->shownImage().isNull());
        QVERIFY(m_card->imageView()->hint().isEmpty());
        QCOMPARE(m_card->liveTextState(), LiveTextState::none);
        QVERIFY(!m_card->copySelectedTextIfAvailable());

        // The same picture turning sensitive while its words are read: they never land.
        ClipboardItem later = imageItem(plainPicture(410), at(1));
        m_fake->gatedWidth = 410;
        show(later);
        QTRY_COMPARE(m_fake->calls.load(), 1);
        later.isSensitive = true;
        show(later);
        m_fake->gate.release();
        QVERIFY(Platform::ThumbnailProvider::waitForPendingRequests());
        QCoreApplication::processEvents();
        QCOMPARE(m_card->content(), ClipQuickPreviewView::Content::message);
        QVERIFY(m_card->imageView()->liveText().isEmpty());
        QVERIFY(!m_card->imageView()->hasPicture());
    }

    void ctrlCInTheIslandCopiesTheSelectedWordsThroughItsCallback()
    {
        useFake();
        IslandViewTestRig rig(QRect(297, 0, 185, 32));
        rig.canvas->show();
        rig.canvas->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(rig.canvas.get()));
        rig.expand();
        QStringList copied;
        rig.view->onCopyQuickPreviewText = [&copied](const QString& text) { copied.append(text); };
        QGuiApplication::clipboard()->setText(QStringLiteral("before"));

        const ClipboardItem item = imageItem(plainPicture(420), at(0));
        rig.view->configure({item}, QuillomareCore::CloudSyncState::idle(), std::nullopt);
        rig.view->selectItem(item.id, false);
        // Extract Text on a picture opens the card with its words lit up.
        rig.view->historyOCRTapped();
        rig.scheduler->advance(1000);
        QVERIFY(rig.view->isQuickPreviewVisible());
        ClipQuickPreviewView* card = rig.view->quickPreviewCard();
        QVERIFY(card->textExtractionHighlightRequested());
        QTRY_COMPARE(card->liveTextState(), LiveTextState::ready);
        QVERIFY(card->imageView()->isTextHighlighted());

        card->imageView()->selectWords(0, 1);
        card->imageView()->setFocus();
        QTest::keyClick(card->imageView(), Qt::Key_C, Qt::ControlModifier);
        QCOMPARE(copied, QStringList{QStringLiteral("w420 next")});
        QCOMPARE(QGuiApplication::clipboard()->text(), QStringLiteral("before"));

        // Escape still closes the card.
        QTest::keyClick(card->imageView(), Qt::Key_Escape);
        rig.scheduler->advance(1000);
        QVERIFY(!rig.view->isQuickPreviewVisible());
    }
};

QUILLOMARE_GUI_TEST_MAIN(TestClipQuickPreviewLiveText)
#include "tst_clipquickpreview_livetext.moc"
