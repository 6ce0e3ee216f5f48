// The quick preview's picture: zoom around the pointer, panning within the picture, and the
// Live Text words it selects and joins.

#include "TestSupport.h"

#include "QuickPreview/LiveTextLayout.h"
#include "QuickPreview/QuickPreviewImageView.h"

#include <QApplication>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QNativeGestureEvent>
#include <QPointingDevice>
#include <QWheelEvent>

#include <cmath>
#include <memory>

using namespace QuillomareMac;
using Platform::TextRecognizer;
using QuillomareTest::dragMouse;
using QuillomareTest::sendMouse;

namespace {

QImage filled(QSize size)
{
    QImage image(size, QImage::Format_RGB32);
    image.fill(Qt::darkCyan);
    return image;
}

// What the toolkit sends for a double click: press, release, press, double click, release.
void doubleClick(QWidget* widget, QPointF at)
{
    sendMouse(widget, QEvent::MouseButtonPress, at, Qt::LeftButton);
    sendMouse(widget, QEvent::MouseButtonRelease, at, Qt::NoButton);
    sendMouse(widget, QEvent::MouseButtonPress, at, Qt::LeftButton);
    sendMouse(widget, QEvent::MouseButtonDblClick, at, Qt::LeftButton);
    sendMouse(widget, QEvent::MouseButtonRelease, at, Qt::NoButton);
}

void wheel(QWidget* widget, QPointF at, int angle)
{
    QWheelEvent event(at, widget->mapToGlobal(at), QPoint(), QPoint(0, angle), Qt::NoButton, Qt::NoModifier,
                      Qt::NoScrollPhase, false);
    QApplication::sendEvent(widget, &event);
}

bool near(QPointF a, QPointF b, double tolerance)
{
    return std::abs(a.x() - b.x()) <= tolerance && std::abs(a.y() - b.y()) <= tolerance;
}

// Two lines: "Quick brown fox" over "快速 预览 v2".
LiveTextLayout twoLines()
{
    return LiveTextLayout({{QStringLiteral("Quick"), QRectF(0.10, 0.10, 0.20, 0.10), 0},
                           {QStringLiteral("brown"), QRectF(0.35, 0.10, 0.20, 0.10), 0},
                           {QStringLiteral("fox"), QRectF(0.60, 0.10, 0.12, 0.10), 0},
                           {QStringLiteral("快速"), QRectF(0.10, 0.40, 0.15, 0.10), 1},
                           {QStringLiteral("预览"), QRectF(0.27, 0.40, 0.15, 0.10), 1},
                           {QStringLiteral("v2"), QRectF(0.45, 0.40, 0.08, 0.10), 1}});
}

} // namespace

class TestClipQuickPreviewZoom : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<QuickPreviewImageView> m_view;

    // A 1600×1200 picture in a 400×300 view: fitted at a quarter.
    void showLargePicture()
    {
        m_view->setPicture(filled(QSize(400, 300)), filled(QSize(1600, 1200)), QSize(1600, 1200));
    }

private Q_SLOTS:
    void init()
    {
        m_view = std::make_unique<QuickPreviewImageView>();
        m_view->resize(400, 300);
        m_view->show();
        QVERIFY(QTest::qWaitForWindowExposed(m_view.get()));
    }

    void cleanup() { m_view.reset(); }

    void picturesStartFittedAndCentred_data()
    {
        QTest::addColumn<QSize>("picture");
        QTest::addColumn<double>("scale");
        QTest::addColumn<QRectF>("shown");
        QTest::newRow("larger, same shape") << QSize(1600, 1200) << 0.25 << QRectF(0, 0, 400, 300);
        QTest::newRow("wide banner") << QSize(1600, 400) << 0.25 << QRectF(0, 100, 400, 100);
        QTest::newRow("tall page") << QSize(600, 1200) << 0.25 << QRectF(125, 0, 150, 300);
        // Small pictures keep their own size instead of being blown up.
        QTest::newRow("icon") << QSize(100, 50) << 1.0 << QRectF(150, 125, 100, 50);
    }

    void picturesStartFittedAndCentred()
    {
        QFETCH(QSize, picture);
        QFETCH(double, scale);
        QFETCH(QRectF, shown);
        m_view->setPicture(filled(picture), QImage(), picture);
        QCOMPARE(m_view->scale(), scale);
        QCOMPARE(m_view->pictureRect(), shown);
        QVERIFY(!m_view->isZoomed());
        // The fitted picture does not pan.
        dragMouse(m_view.get(), QPointF(200, 150), QPointF(260, 190));
        QCOMPARE(m_view->pictureRect(), shown);
    }

    void wheelZoomKeepsThePointUnderThePointer()
    {
        showLargePicture();
        const QPointF pointer(120, 90);
        const QPointF before = m_view->mapToPicture(pointer);
        wheel(m_view.get(), pointer, 120);
        QVERIFY(m_view->isZoomed());
        QVERIFY(std::abs(m_view->scale() - 0.25 * std::pow(2.0, 0.25)) < 1e-9);
        QVERIFY(near(m_view->mapToPicture(pointer), before, 1e-6));

        wheel(m_view.get(), pointer, 3 * 120);
        QVERIFY(std::abs(m_view->scale() - 0.5) < 1e-9);
        QVERIFY(near(m_view->mapToPicture(pointer), before, 1e-6));

        // Out again: never smaller than fitted, and fitted is centred again.
        wheel(m_view.get(), pointer, -20 * 120);
        QCOMPARE(m_view->scale(), 0.25);
        QVERIFY(!m_view->isZoomed());
        QCOMPARE(m_view->pictureRect(), QRectF(0, 0, 400, 300));
    }

    void zoomStopsAtItsMaximum()
    {
        showLargePicture();
        for (int i = 0; i < 40; ++i)
            wheel(m_view.get(), QPointF(200, 150), 120);
        QCOMPARE(m_view->scale(), m_view->maximumScale());
        QVERIFY(m_view->maximumScale() >= 8.0);
    }

    void doubleClickTogglesFullSizeAroundThePointer()
    {
        showLargePicture();
        const QPointF pointer(120, 90);
        const QPointF before = m_view->mapToPicture(pointer);
        doubleClick(m_view.get(), pointer);
        QCOMPARE(m_view->scale(), 1.0);
        QVERIFY(near(m_view->mapToPicture(pointer), before, 1e-6));

        doubleClick(m_view.get(), QPointF(300, 200));
        QCOMPARE(m_view->scale(), 0.25);
        QCOMPARE(m_view->pictureRect(), QRectF(0, 0, 400, 300));
    }

    void doubleClickOnAPictureShownAtFullSizeDoublesIt()
    {
        m_view->setPicture(filled(QSize(300, 200)), QImage(), QSize(300, 200));
        const QPointF pointer(200, 150); // inside the picture at (50…350, 50…250)
        const QPointF before = m_view->mapToPicture(pointer);
        doubleClick(m_view.get(), pointer);
        QCOMPARE(m_view->scale(), 2.0);
        QVERIFY(near(m_view->mapToPicture(pointer), before, 1e-6));
    }

    void pinchZoomsAroundItsCentre()
    {
        showLargePicture();
        const QPointF centre(300, 200);
        const QPointF before = m_view->mapToPicture(centre);
        QNativeGestureEvent pinch(Qt::ZoomNativeGesture, QPointingDevice::primaryPointingDevice(), 2, centre,
                                  m_view->mapToGlobal(centre), m_view->mapToGlobal(centre), 1.0, QPointF());
        QApplication::sendEvent(m_view.get(), &pinch);
        QCOMPARE(m_view->scale(), 0.5);
        QVERIFY(near(m_view->mapToPicture(centre), before, 1e-6));
    }

    void panningStopsAtThePicturesEdges()
    {
        showLargePicture();
        m_view->zoomTo(1.0, QPointF(200, 150));
        const QRectF start = m_view->pictureRect();
        dragMouse(m_view.get(), QPointF(200, 150), QPointF(150, 120));
        QCOMPARE(m_view->pictureRect().topLeft(), start.topLeft() + QPointF(-50, -30));

        dragMouse(m_view.get(), QPointF(10, 10), QPointF(390, 290));
        dragMouse(m_view.get(), QPointF(10, 10), QPointF(390, 290));
        dragMouse(m_view.get(), QPointF(10, 10), QPointF(390, 290));
        QCOMPARE(m_view->pictureRect().topLeft(), QPointF(0, 0));

        for (int i = 0; i < 6; ++i)
            dragMouse(m_view.get(), QPointF(390, 290), QPointF(10, 10));
        QCOMPARE(m_view->pictureRect().topLeft(), QPointF(400 - 1600, 300 - 1200));
        QCOMPARE(m_view->pictureRect().size(), QSizeF(1600, 1200));
    }

    void aSharperCopyKeepsTheZoomAsItLooks()
    {
        // The cached reduced copy first, standing for a 4096 wide picture; then the whole one.
        m_view->setPicture(filled(QSize(400, 300)), QImage(), QSize(4096, 3072));
        m_view->zoomTo(0.2, QPointF(100, 100));
        const QRectF shown = m_view->pictureRect();
        m_view->setPicture(filled(QSize(1600, 1200)), filled(QSize(3200, 2400)), QSize(3200, 2400));
        QCOMPARE(m_view->pictureRect(), shown);
        QVERIFY(m_view->isZoomed());
    }

    void resizingAFittedViewRefits()
    {
        showLargePicture();
        m_view->resize(800, 600);
        QCOMPARE(m_view->scale(), 0.5);
        QCOMPARE(m_view->pictureRect(), QRectF(0, 0, 800, 600));
    }

    // --- Live Text

    void dragAcrossWordsSelectsThemInReadingOrder_data()
    {
        QTest::addColumn<QPointF>("from");
        QTest::addColumn<QPointF>("to");
        QTest::addColumn<QString>("text");
        // Points in the picture (0…1).
        QTest::newRow("one line") << QPointF(0.40, 0.15) << QPointF(0.65, 0.15) << QStringLiteral("brown fox");
        QTest::newRow("across lines") << QPointF(0.40, 0.15) << QPointF(0.30, 0.45)
                                      << QStringLiteral("brown fox\n快速预览");
        QTest::newRow("backwards") << QPointF(0.50, 0.45) << QPointF(0.65, 0.15) << QStringLiteral("fox\n快速预览v2");
        // Past the end of a line reaches its last word; left of a line its first.
        QTest::newRow("past the line's end")
            << QPointF(0.15, 0.15) << QPointF(0.95, 0.12) << QStringLiteral("Quick brown fox");
        QTest::newRow("below the last line")
            << QPointF(0.62, 0.15) << QPointF(0.02, 0.9) << QStringLiteral("fox\n快速");
    }

    void dragAcrossWordsSelectsThemInReadingOrder()
    {
        QFETCH(QPointF, from);
        QFETCH(QPointF, to);
        QFETCH(QString, text);
        showLargePicture();
        m_view->setLiveText(twoLines());
        dragMouse(m_view.get(), m_view->mapFromPicture(from), m_view->mapFromPicture(to));
        QCOMPARE(m_view->selectedText(), std::optional<QString>(text));
    }

    void clickingOrDraggingOutsideTheWordsSelectsNothing()
    {
        showLargePicture();
        m_view->setLiveText(twoLines());
        QCOMPARE(m_view->selectedText(), std::nullopt);
        m_view->selectWords(0, 1);
        // A click on a word clears the selection and starts none.
        const QPointF onFox = m_view->mapFromPicture(QPointF(0.65, 0.15));
        sendMouse(m_view.get(), QEvent::MouseButtonPress, onFox, Qt::LeftButton);
        sendMouse(m_view.get(), QEvent::MouseButtonRelease, onFox, Qt::NoButton);
        QCOMPARE(m_view->selectedText(), std::nullopt);
        // A drag that starts between the lines (fitted, so it does not pan) selects nothing.
        dragMouse(m_view.get(), m_view->mapFromPicture(QPointF(0.40, 0.30)),
                  m_view->mapFromPicture(QPointF(0.65, 0.45)));
        QCOMPARE(m_view->selectedText(), std::nullopt);
    }

    void zoomedDragPansOffTheWordsAndSelectsOnThem()
    {
        showLargePicture();
        m_view->setLiveText(twoLines());
        m_view->zoomTo(0.5, QPointF(0, 0));
        const QRectF start = m_view->pictureRect();
        dragMouse(m_view.get(), m_view->mapFromPicture(QPointF(0.05, 0.30)),
                  m_view->mapFromPicture(QPointF(0.05, 0.30)) + QPointF(-40, -20));
        QCOMPARE(m_view->pictureRect().topLeft(), start.topLeft() + QPointF(-40, -20));
        QCOMPARE(m_view->selectedText(), std::nullopt);
        dragMouse(m_view.get(), m_view->mapFromPicture(QPointF(0.15, 0.15)),
                  m_view->mapFromPicture(QPointF(0.40, 0.15)));
        QCOMPARE(m_view->selectedText(), std::optional<QString>(QStringLiteral("Quick brown")));
    }

    void ctrlCAsksForACopyOnlyWithASelection()
    {
        showLargePicture();
        m_view->setLiveText(twoLines());
        int asked = 0;
        m_view->onCopyRequested = [&asked] { ++asked; };
        QTest::keyClick(m_view.get(), Qt::Key_C, Qt::ControlModifier);
        QCOMPARE(asked, 0);
        m_view->selectWords(3, 4);
        QTest::keyClick(m_view.get(), Qt::Key_C, Qt::ControlModifier);
        QCOMPARE(asked, 1);
    }

    void aNewPictureClearsTheSelection()
    {
        showLargePicture();
        m_view->setLiveText(twoLines());
        m_view->selectWords(0, 2);
        m_view->setPicture(filled(QSize(300, 600)), QImage(), QSize(300, 600));
        QCOMPARE(m_view->selectedText(), std::nullopt);
        m_view->clear();
        QVERIFY(m_view->liveText().isEmpty());
        QVERIFY(!m_view->hasPicture());
    }

    void highlightedPictureDimsAroundTheWords()
    {
        m_view->setPicture(filled(QSize(400, 300)), QImage(), QSize(400, 300));
        m_view->setLiveText(twoLines());
        const QImage plain = m_view->grab().toImage();
        m_view->setTextHighlighted(true);
        m_view->setHint(QStringLiteral("Drag to select"));
        const QImage lit = m_view->grab().toImage();
        const QPoint outside(380, 150);                        // no word there
        const QPoint inside(int(0.45 * 400), int(0.15 * 300)); // inside "brown"
        QVERIFY(qGray(lit.pixel(outside)) < qGray(plain.pixel(outside)) - 20);
        QVERIFY(qGray(lit.pixel(inside)) >= qGray(plain.pixel(inside)));
    }

    // --- The words' text

    void wordsJoinTheWayTheirWritingDoes_data()
    {
        QTest::addColumn<QStringList>("words");
        QTest::addColumn<QString>("text");
        QTest::newRow("latin") << QStringList{QStringLiteral("Hello"), QStringLiteral("world.")}
                               << QStringLiteral("Hello world.");
        QTest::newRow("chinese") << QStringList{QStringLiteral("快速"), QStringLiteral("预"), QStringLiteral("览")}
                                 << QStringLiteral("快速预览");
        QTest::newRow("chinese then latin")
            << QStringList{QStringLiteral("版本"), QStringLiteral("2.4")} << QStringLiteral("版本2.4");
        QTest::newRow("latin then chinese")
            << QStringList{QStringLiteral("Qt"), QStringLiteral("框架")} << QStringLiteral("Qt框架");
        QTest::newRow("full-width punctuation")
            << QStringList{QStringLiteral("好"), QStringLiteral("，"), QStringLiteral("ok")}
            << QStringLiteral("好，ok");
        QTest::newRow("japanese kana") << QStringList{QStringLiteral("テキスト"), QStringLiteral("です")}
                                       << QStringLiteral("テキストです");
    }

    void wordsJoinTheWayTheirWritingDoes()
    {
        QFETCH(QStringList, words);
        QFETCH(QString, text);
        QList<LiveTextWord> layoutWords;
        for (qsizetype i = 0; i < words.size(); ++i)
            layoutWords.append({words[i], QRectF(0.1 * double(i), 0.1, 0.08, 0.1), 0});
        const LiveTextLayout layout(layoutWords);
        QCOMPARE(layout.text(0, int(words.size()) - 1), text);
        QCOMPARE(layout.text(int(words.size()) - 1, 0), text);
    }

    void recognitionBecomesWordsOfTheCard()
    {
        TextRecognizer::Result result;
        // Boxes from the recogniser count from the bottom. Line 1 keeps no word.
        result.lines = {QRectF(0.1, 0.8, 0.6, 0.1), QRectF(0.1, 0.6, 0.3, 0.1), QRectF(0.1, 0.4, 0.5, 0.1)};
        result.words = {{QStringLiteral("Hop"), QRectF(0.1, 0.82, 0.2, 0.06), 95.0F, 0},
                        {QStringLiteral("~#"), QRectF(0.4, 0.82, 0.1, 0.06), 12.0F, 0},
                        {QStringLiteral("%%"), QRectF(0.1, 0.62, 0.1, 0.06), 8.0F, 1},
                        {QStringLiteral("on"), QRectF(0.1, 0.41, 0.2, 0.08), 88.0F, 2}};
        const LiveTextLayout layout = LiveTextLayout::fromRecognition(result);
        QCOMPARE(layout.words().size(), 2);
        const LiveTextWord& hop = layout.words()[0];
        QCOMPARE(hop.text, QStringLiteral("Hop"));
        // Flipped to the upper-left origin and as tall as its line.
        QVERIFY(near(hop.box.topLeft(), QPointF(0.1, 0.1), 1e-9));
        QVERIFY(near(QPointF(hop.box.width(), hop.box.height()), QPointF(0.2, 0.1), 1e-9));
        QCOMPARE(hop.line, 0);
        QCOMPARE(layout.words()[1].line, 1);
        QCOMPARE(layout.text(0, 1), QStringLiteral("Hop\non"));
        QCOMPARE(layout.selectionBoxes(0, 1).size(), 2);
    }
};

QUILLOMARE_GUI_TEST_MAIN(TestClipQuickPreviewZoom)
#include "tst_clipquickpreview_zoom.moc"
