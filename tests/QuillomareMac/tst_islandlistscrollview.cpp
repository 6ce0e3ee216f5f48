#include "TestSupport.h"

#include "Island/Kit/IslandListScrollView.h"
#include "Island/Kit/IslandScheduler.h"

#include <QApplication>
#include <QMouseEvent>
#include <QScrollBar>
#include <QWheelEvent>
#include <QWindow>

#include <memory>

using namespace QuillomareMac;

namespace {

// The list's content: counts the presses that reach it; when it lets them through they go on to
// the scroll view's fallbacks.
class Document final : public QWidget
{
public:
    int presses = 0;
    bool takesPresses = true;

protected:
    void mousePressEvent(QMouseEvent* event) override
    {
        if (!takesPresses) {
            event->ignore();
            return;
        }
        ++presses;
        event->accept();
    }
};

// A 200 × 300 list inside a window, with the overlay scroller on.
struct ListWindow
{
    explicit ListWindow(int contentHeight)
    {
        window.resize(240, 340);
        // The island's dark surface.
        window.setAutoFillBackground(true);
        QPalette palette;
        palette.setColor(QPalette::Window, Qt::black);
        window.setPalette(palette);
        view = new IslandListScrollView(&window);
        view->setGeometry(10, 10, 200, 300);
        document = new Document;
        document->resize(200, contentHeight);
        view->setWidget(document);
        view->setOverlayScroller(Qt::Vertical);
        window.show();
    }

    QWindow* handle() const { return window.windowHandle(); }
    // A point given in the scroll view's coordinates, in the window's.
    QPoint at(QPoint inView) const { return view->mapTo(&window, inView); }
    // On the band along the trailing edge, 4 px in from the edge.
    QPoint band(int y) const { return at(QPoint(view->width() - 4, y)); }
    QPoint knobCentre() const { return at(view->overlayKnobRect().center()); }
    int value() const { return view->verticalScrollBar()->value(); }

    void wheelDown() const
    {
        QWheelEvent event(QPointF(50, 50), view->viewport()->mapToGlobal(QPointF(50, 50)), QPoint(0, -20),
                          QPoint(0, -120), Qt::NoButton, Qt::NoModifier, Qt::NoScrollPhase, false);
        QApplication::sendEvent(view->viewport(), &event);
    }

    QWidget window;
    IslandListScrollView* view = nullptr;
    Document* document = nullptr;
};

} // namespace

class TestIslandListScrollView : public QObject
{
    Q_OBJECT

private:
    std::shared_ptr<ManualIslandScheduler> m_clock;

private Q_SLOTS:
    void init()
    {
        m_clock = std::make_shared<ManualIslandScheduler>();
        IslandScheduler::setSharedForTesting(m_clock);
    }

    void cleanup()
    {
        m_clock->advance(5000);
        IslandScheduler::setSharedForTesting(nullptr);
        m_clock.reset();
    }

    void knobStaysHiddenWhileTheContentFits()
    {
        ListWindow list(250);
        QVERIFY(QTest::qWaitForWindowExposed(&list.window));
        list.wheelDown();
        QTest::mouseMove(list.handle(), list.band(100));
        QVERIFY(!list.view->isOverlayScrollerShown());
        QVERIFY(list.view->overlayKnobRect().isEmpty());

        // Once the content outgrows the list the edge shows the knob.
        list.document->resize(200, 900);
        QTest::mouseMove(list.handle(), list.at(QPoint(50, 100)));
        QTest::mouseMove(list.handle(), list.band(100));
        QVERIFY(list.view->isOverlayScrollerShown());

        // And when it shrinks back the knob goes at once.
        list.document->resize(200, 250);
        QVERIFY(!list.view->isOverlayScrollerShown());
    }

    void noBarTakesRoomFromTheList()
    {
        ListWindow list(2000);
        QVERIFY(QTest::qWaitForWindowExposed(&list.window));
        list.wheelDown();
        QCOMPARE(list.view->viewport()->width(), 200);
        QVERIFY(!list.view->verticalScrollBar()->isVisible());
        // The knob lies inside the list, against its trailing edge.
        const QRect knob = list.view->overlayKnobRect();
        QVERIFY(list.view->viewport()->geometry().contains(knob));
        QCOMPARE(knob.right(), 200 - 1 - 2);
        // Drawn over the content, a faint white: 0.28 of white over black.
        const QColor drawn = list.window.grab().toImage().pixelColor(list.at(knob.center()));
        QVERIFY2(qAbs(drawn.red() - 71) <= 3, qPrintable(QString::number(drawn.red())));
    }

    void scrollActivityShowsTheKnobUntilAQuietMoment_data()
    {
        QTest::addColumn<QString>("activity");
        QTest::newRow("wheel") << QStringLiteral("wheel");
        QTest::newRow("keyboard") << QStringLiteral("keyboard");
        QTest::newRow("programmatic") << QStringLiteral("programmatic");
    }

    void scrollActivityShowsTheKnobUntilAQuietMoment()
    {
        QFETCH(QString, activity);
        ListWindow list(2000);
        QVERIFY(QTest::qWaitForWindowExposed(&list.window));
        QVERIFY(!list.view->isOverlayScrollerShown());

        if (activity == QStringLiteral("wheel"))
            list.wheelDown();
        else if (activity == QStringLiteral("keyboard"))
            QTest::keyClick(list.view, Qt::Key_PageDown);
        else
            list.view->verticalScrollBar()->setValue(400);
        QVERIFY(list.value() > 0);
        QVERIFY(list.view->isOverlayScrollerShown());
        QCOMPARE(list.view->overlayKnobRect().width(), 6);

        m_clock->advance(900);
        QVERIFY(list.view->isOverlayScrollerShown()); // fading
        m_clock->advance(249);
        QVERIFY(list.view->isOverlayScrollerShown());
        m_clock->advance(1);
        QVERIFY(!list.view->isOverlayScrollerShown());

        // Gone, it leaves the band to the row beneath; shown, only the knob itself is its own.
        QCOMPARE(list.window.childAt(list.band(150)), list.document);
        list.view->verticalScrollBar()->setValue(0);
        const QPoint knob = list.view->mapTo(&list.window, list.view->overlayKnobRect().center());
        QCOMPARE(list.window.childAt(knob), list.view->overlayScrollerWidget());
        QCOMPARE(list.window.childAt(list.band(150)), list.document);
    }

    void newActivityPostponesTheFade()
    {
        ListWindow list(2000);
        QVERIFY(QTest::qWaitForWindowExposed(&list.window));
        list.wheelDown();
        m_clock->advance(800);
        list.wheelDown();
        m_clock->advance(800);
        QVERIFY(list.view->isOverlayScrollerShown());
        m_clock->advance(100 + 250);
        QVERIFY(!list.view->isOverlayScrollerShown());
    }

    void pointerOnTheEdgeShowsAndHoldsTheKnob()
    {
        ListWindow list(2000);
        QVERIFY(QTest::qWaitForWindowExposed(&list.window));
        QTest::mouseMove(list.handle(), list.at(QPoint(100, 100)));
        QVERIFY(!list.view->isOverlayScrollerShown());

        QTest::mouseMove(list.handle(), list.band(100));
        QVERIFY(list.view->isOverlayScrollerShown());
        QCOMPARE(list.view->overlayKnobRect().width(), 9);
        m_clock->advance(5000);
        QVERIFY(list.view->isOverlayScrollerShown());

        QTest::mouseMove(list.handle(), list.at(QPoint(100, 100)));
        QCOMPARE(list.view->overlayKnobRect().width(), 6);
        m_clock->advance(900 + 250);
        QVERIFY(!list.view->isOverlayScrollerShown());
    }

    void draggingTheKnobScrollsInProportion()
    {
        ListWindow list(2000);
        QVERIFY(QTest::qWaitForWindowExposed(&list.window));
        QScrollBar* bar = list.view->verticalScrollBar();
        QTest::mouseMove(list.handle(), list.band(20));
        const QRect knob = list.view->overlayKnobRect();
        QCOMPARE(knob.top(), 2);
        // The knob's share of the track is the list's share of the content.
        QCOMPARE(knob.height(), qRound(296.0 * 300 / 2000));
        const int travel = 296 - knob.height();

        const QPoint start = list.knobCentre();
        QTest::mousePress(list.handle(), Qt::LeftButton, {}, start);
        QTest::mouseMove(list.handle(), start + QPoint(0, 63));
        QCOMPARE(bar->value(), qRound(63.0 * bar->maximum() / travel));
        QCOMPARE(list.view->overlayKnobRect().top(), 2 + 63);
        QCOMPARE(list.document->presses, 0);

        // Past the ends the list stops at its ends; the knob follows the pointer back.
        QTest::mouseMove(list.handle(), start + QPoint(0, 290));
        QCOMPARE(bar->value(), bar->maximum());
        QTest::mouseMove(list.handle(), start - QPoint(0, 30));
        QCOMPARE(bar->value(), 0);
        QTest::mouseRelease(list.handle(), Qt::LeftButton, {}, start - QPoint(0, 30));
        QCOMPARE(list.document->presses, 0);
    }

    void onlyTheKnobTakesClicks()
    {
        // The knob shows while the pointer is on the edge; beside it the rows' own controls
        // still take clicks.
        ListWindow list(2000);
        QVERIFY(QTest::qWaitForWindowExposed(&list.window));
        QScrollBar* bar = list.view->verticalScrollBar();
        QTest::mouseMove(list.handle(), list.band(250));
        QVERIFY(list.view->isOverlayScrollerShown());
        QTest::mouseClick(list.handle(), Qt::LeftButton, {}, list.band(250));
        QCOMPARE(bar->value(), 0);
        QCOMPARE(list.document->presses, 1);
        // On the knob itself the press is the knob's.
        const QPoint knob = list.view->overlayKnobRect().center();
        QTest::mouseClick(list.handle(), Qt::LeftButton, {}, list.view->mapTo(&list.window, knob));
        QCOMPARE(list.document->presses, 1);
    }

    void hiddenKnobLeavesTheEdgeToTheContentAndFallbacks()
    {
        // The pointer already rests on the edge when the list outgrows it: nothing has shown the knob.
        ListWindow list(250);
        QVERIFY(QTest::qWaitForWindowExposed(&list.window));
        int fallbackDowns = 0;
        list.view->onMouseDownFallback = [&](QMouseEvent*) {
            ++fallbackDowns;
            return true;
        };
        QTest::mouseMove(list.handle(), list.band(100));
        list.document->resize(200, 2000);
        QVERIFY(!list.view->isOverlayScrollerShown());

        QTest::mouseClick(list.handle(), Qt::LeftButton, {}, list.band(100));
        QCOMPARE(list.document->presses, 1);
        QCOMPARE(list.value(), 0);

        list.document->takesPresses = false;
        QTest::mouseClick(list.handle(), Qt::LeftButton, {}, list.band(100));
        QCOMPARE(fallbackDowns, 1);
        QCOMPARE(list.value(), 0);
    }

    // The press that ends a double click reaches the fallback as what it is, so that what lies
    // under the pointer can tell a double click from two single ones.
    void doubleClickReachesTheFallbackAsOne()
    {
        ListWindow list(250);
        QVERIFY(QTest::qWaitForWindowExposed(&list.window));
        list.document->resize(200, 2000);
        list.document->takesPresses = false;
        QList<QEvent::Type> types;
        list.view->onMouseDownFallback = [&](QMouseEvent* event) {
            types.append(event->type());
            return true;
        };
        // Qt 6.4's QTest sends the double-click event alone: the whole sequence by hand.
        const QPoint at = list.band(100);
        QTest::mousePress(list.handle(), Qt::LeftButton, {}, at);
        QTest::mouseRelease(list.handle(), Qt::LeftButton, {}, at);
        QTest::mousePress(list.handle(), Qt::LeftButton, {}, at);
        QTest::mouseDClick(list.handle(), Qt::LeftButton, {}, at);
        QTest::mouseRelease(list.handle(), Qt::LeftButton, {}, at);
        QVERIFY2(types.contains(QEvent::MouseButtonDblClick), qPrintable(QString::number(types.size())));
        QCOMPARE(types.first(), QEvent::MouseButtonPress);
    }
};

QUILLOMARE_GUI_TEST_MAIN(TestIslandListScrollView)
#include "tst_islandlistscrollview.moc"
