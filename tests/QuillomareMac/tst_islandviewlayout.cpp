#include "IslandViewTestRig.h"
#include "TestSupport.h"

#include "Island/Kit/IslandActionTileButton.h"
#include "Island/Kit/IslandIconButton.h"
#include "Island/Kit/IslandListScrollView.h"
#include "Island/Kit/IslandScheduler.h"
#include "Island/Kit/IslandSegmentedPillControl.h"
#include "Island/Kit/IslandTheme.h"
#include "Island/IslandView.h"
#include "Island/Panel/NotchAnchor.h"

#include <Platform/ScreenInfo.h>

#include <QApplication>
#include <QFontMetricsF>
#include <QLabel>
#include <QLineEdit>

#include <memory>

using namespace QuillomareMac;
using Mode = IslandView::DisplayMode;

// The expanded island's inner layout: the metrics the panel controller pushes for each screen
// and the places of the tree's views.
class TestIslandViewLayout : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init();
    void cleanup();

    void screenMetrics_data();
    void screenMetrics();
    void headerGapStaysCentred();
    void historyTreeGeometry();
    void narrowIslandSqueezesTheSearchFieldFirst();
    void headerButtonsInOrder();
    void smallScreenShowsEverythingWhole_data();
    void smallScreenShowsEverythingWhole();

private:
    // Where `view` lies in the island view.
    QRect inIsland(const QWidget* view) const { return QRect(view->mapTo(m_view, QPoint(0, 0)), view->size()); }

    std::unique_ptr<QuillomareTest::IslandViewTestRig> m_rig;
    IslandView* m_view = nullptr;
};

void TestIslandViewLayout::init()
{
    m_rig = std::make_unique<QuillomareTest::IslandViewTestRig>(QRect(297, 0, 185, 32));
    m_view = m_rig->view;
    m_rig->canvas->resize(780, 470);
    m_rig->canvas->show();
    m_rig->expand();
}

void TestIslandViewLayout::cleanup()
{
    m_rig.reset();
}

void TestIslandViewLayout::screenMetrics_data()
{
    QTest::addColumn<double>("top");
    QTest::addColumn<double>("notchWidth");
    QTest::addColumn<double>("stripHeight");
    QTest::addColumn<double>("height");
    QTest::addColumn<double>("gap");
    QTest::addColumn<double>("clearance");
    QTest::addColumn<double>("deck");
    QTest::addColumn<double>("list");

    // Without a camera housing the strip does not matter.
    QTest::newRow("no housing") << 14.0 << 0.0 << 37.0 << 402.0 << 0.0 << 7.0 << 363.0 << 321.0;
    QTest::newRow("no housing, tall strip") << 14.0 << 0.0 << 80.0 << 402.0 << 0.0 << 7.0 << 363.0 << 321.0;
    // Below a housing the content clears the menu-bar strip: 37 − 4.5 − 32 + 12.
    QTest::newRow("housing") << 4.5 << 208.0 << 37.0 << 402.0 << 236.0 << 12.5 << 357.5 << 315.5;
    // A low strip still leaves 10 points.
    QTest::newRow("housing, low strip") << 14.0 << 180.0 << 24.0 << 402.0 << 208.0 << 10.0 << 360.0 << 318.0;
    // A small island overflows rather than squeezing the deck and the list.
    QTest::newRow("tiny island") << 14.0 << 0.0 << 24.0 << 0.0 << 0.0 << 7.0 << 300.0 << 258.0;
}

void TestIslandViewLayout::screenMetrics()
{
    QFETCH(double, top);
    QFETCH(double, notchWidth);
    QFETCH(double, stripHeight);
    QFETCH(double, height);
    QFETCH(double, gap);
    QFETCH(double, clearance);
    QFETCH(double, deck);
    QFETCH(double, list);

    // In the controller's order.
    m_view->setExpandedTopInset(top);
    m_view->setNotchHeaderLayout(notchWidth, stripHeight);
    m_view->setExpandedContentHeight(height);

    QCOMPARE(m_view->expandedContentHeight(), std::max(height, 1.0));
    QCOMPARE(m_view->headerNotchGapConstraint(), std::optional<double>(gap));
    QCOMPARE(m_view->headerContentClearance(), clearance);
    QCOMPARE(m_view->contentDeckHeightConstraint(), std::optional<double>(deck));
    QCOMPARE(m_view->scrollHeightConstraint(), std::optional<double>(list));

    // And the views follow, laid out at once.
    QCOMPARE(m_view->expandedRoot()->pos(), QPoint(17, int(std::lround(top))));
    QCOMPARE(m_view->headerCenterGroup()->width(), int(gap));
    QCOMPARE(m_view->contentDeck()->y(), 32 + int(std::lround(clearance)));
    QCOMPARE(m_view->contentDeck()->height(), int(std::lround(deck)));
    QCOMPARE(m_view->scrollView()->height(), int(std::lround(list)));
    QVERIFY(m_view->expandedRoot()->height() >= m_view->contentDeck()->geometry().bottom());
}

void TestIslandViewLayout::headerGapStaysCentred()
{
    m_view->setNotchHeaderLayout(208, 37);
    m_view->relayoutNow();
    const QRect header = inIsland(m_view->headerStack());
    const QRect gap = inIsland(m_view->headerCenterGroup());
    QCOMPARE(header.width(), 746);
    QCOMPARE(header.height(), 32);
    QCOMPARE(gap.width(), 236);
    QVERIFY2(std::abs(gap.center().x() - header.center().x()) <= 1,
             qPrintable(QStringLiteral("%1 vs %2").arg(gap.center().x()).arg(header.center().x())));
    // The right-hand buttons stay clear of the gap.
    QVERIFY(inIsland(m_view->languageButton()).left() >= gap.right());
    // Each side has (746 − 236) / 2 = 255 points: the mode switch keeps its size and reaches under
    // the gap rather than being squeezed.
    QCOMPARE(m_view->modeControl()->size(), QSize(262, 26));
}

void TestIslandViewLayout::historyTreeGeometry()
{
    m_view->setExpandedContentHeight(402);
    m_view->relayoutNow();

    const QRect deck = inIsland(m_view->contentDeck());
    QCOMPARE(deck, QRect(17, 14 + 32 + 7, 746, 363));
    QCOMPARE(inIsland(m_view->historyContainer()), deck);
    QCOMPARE(inIsland(m_view->modeControl()).center().y(), inIsland(m_view->headerStack()).center().y());

    // The controls row: search, sources and kinds side by side, the kinds at the deck's right edge.
    const QRect row = inIsland(m_view->historyControlsRow());
    QCOMPARE(row, QRect(deck.left(), deck.top(), 746, 34));
    const QRect search = inIsland(m_view->searchContainer());
    const QRect sources = inIsland(m_view->filterControl());
    const QRect kinds = inIsland(m_view->kindFilterControl());
    QCOMPARE(sources.left() - search.right() - 1, 12);
    QCOMPARE(kinds.left() - sources.right() - 1, 14);
    // 746 wide: the search field gives way (746 − 12 − 222 − 14 − 280).
    QCOMPARE(search.width(), 218);
    QCOMPARE(kinds.right(), deck.right());

    // The body: the list column, the hairline and the inspector, 10 apart, below 34 + 8.
    const QRect body = inIsland(m_view->historyBodyContainer());
    QCOMPARE(body, QRect(deck.left(), deck.top() + 42, 746, 363 - 42));
    QCOMPARE(inIsland(m_view->historyListColumn()), QRect(body.left(), body.top(), 372, body.height()));
    const QRect inspector = inIsland(m_view->historyInspectorPanel());
    QCOMPARE(inspector.right(), body.right());
    QCOMPARE(inspector.height(), body.height());
    QCOMPARE(inspector.width(), 746 - 393); // the hairline is drawn half a point wide in a 1-point view
    QVERIFY(m_view->historySelectionBar()->isHidden());

    // The search field's text lies between its icon and the shortcut, the placeholder over it.
    const QRect field = inIsland(m_view->searchInput());
    const QRect shortcut = inIsland(m_view->searchShortcutLabel());
    QVERIFY(field.left() > search.left() + 20);
    QVERIFY(field.right() < shortcut.left() - 7 && shortcut.right() < search.right());
    QCOMPARE(m_view->searchShortcutLabel()->text(), QStringLiteral("Ctrl F"));
    QVERIFY(std::abs(inIsland(m_view->searchPlaceholderLabel()).left() - field.left()) <= 2);
}

void TestIslandViewLayout::narrowIslandSqueezesTheSearchFieldFirst()
{
    m_view->setGeometry(0, 0, 700, 430);
    m_view->relayoutNow();
    QCOMPARE(m_view->expandedWidthConstraint(), std::optional<double>(666));
    QCOMPARE(m_view->searchContainer()->width(), 666 - 12 - 222 - 14 - 280);
    QCOMPARE(m_view->filterControl()->width(), 222);
    QCOMPARE(m_view->kindFilterControl()->width(), 280);

    // A wide one leaves the search field at 246.
    m_view->setGeometry(0, 0, 1000, 430);
    m_view->relayoutNow();
    QCOMPARE(m_view->searchContainer()->width(), 246);
}

void TestIslandViewLayout::headerButtonsInOrder()
{
    m_view->relayoutNow();
    const QList<IslandIconButton*> shown{m_view->languageButton(), m_view->searchButton(), m_view->settingsButton(),
                                         m_view->hideButton()};
    int previousRight = 0;
    for (IslandIconButton* button : shown) {
        QVERIFY(!button->isHidden());
        const QRect place = inIsland(button);
        QVERIFY(place.left() > previousRight);
        previousRight = place.right();
    }
    QCOMPARE(previousRight, inIsland(m_view->headerStack()).right());
    QVERIFY(m_view->quitButton()->isHidden());
    QVERIFY(m_view->pullButton()->isHidden());
}

void TestIslandViewLayout::smallScreenShowsEverythingWhole_data()
{
    QTest::addColumn<bool>("chinese");
    QTest::newRow("English") << false;
    QTest::newRow("Chinese") << true;
}

void TestIslandViewLayout::smallScreenShowsEverythingWhole()
{
    // 1920 × 1080 at scale 2, with a 28-point top panel: the island as the controller places it.
    QFETCH(bool, chinese);
    m_rig.reset();
    m_rig = std::make_unique<QuillomareTest::IslandViewTestRig>(QRect(297, 0, 185, 32), chinese);
    m_view = m_rig->view;
    const Platform::ScreenDescription screen =
        Platform::QtScreenInfo::describe(QStringLiteral("HDMI-1"), QRectF(0, 0, 960, 540), QRectF(0, 0, 960, 512));
    const IslandGeometry::Target target = IslandGeometry::targetFrame(Mode::expanded, screen);
    m_view->setExpandedTopInset(target.pushes.expandedTopInset);
    m_view->setNotchHeaderLayout(target.pushes.notchWidth, target.pushes.stripHeight);
    m_view->setExpandedContentHeight(target.pushes.expandedContentHeight);
    const QSize island = target.frame.size().toSize();
    m_rig->canvas->resize(island);
    m_rig->canvas->show();
    m_view->setDisplayMode(Mode::expanded, false);
    m_view->setGeometry(QRect(QPoint(0, 0), island));
    m_view->configure({QuillomareTest::textItem(QStringLiteral("a note"), QuillomareTest::at(0)),
                       QuillomareTest::textItem(QStringLiteral("another"), QuillomareTest::at(-60))},
                      QuillomareCore::CloudSyncState::idle(), std::nullopt);
    m_view->relayoutNow();

    // The deck ends inside the island.
    const QRect deck = inIsland(m_view->contentDeck());
    QVERIFY2(deck.bottom() < island.height() && deck.right() < island.width(),
             qPrintable(QStringLiteral("deck %1,%2 in %3×%4").arg(deck.right()).arg(deck.bottom())
                            .arg(island.width()).arg(island.height())));

    // The search field shows its whole placeholder; the two filters keep their size, side by side.
    const QLabel* placeholder = m_view->searchPlaceholderLabel();
    QVERIFY2(QFontMetricsF(placeholder->font()).horizontalAdvance(placeholder->text()) <= placeholder->width(),
             qPrintable(placeholder->text()));
    QVERIFY(inIsland(m_view->searchInput()).right() < inIsland(m_view->searchShortcutLabel()).left());
    const QRect sources = inIsland(m_view->filterControl());
    const QRect kinds = inIsland(m_view->kindFilterControl());
    QVERIFY(inIsland(m_view->searchContainer()).right() < sources.left());
    QVERIFY(sources.right() < kinds.left());
    QVERIFY(kinds.right() <= deck.right());
    QCOMPARE(sources.width(), 222);
    QCOMPARE(kinds.width(), 280);

    // The rows stop short of the inspector, which holds every tile whole.
    const QRect list = inIsland(m_view->historyListColumn());
    const QRect inspector = inIsland(m_view->historyInspectorPanel());
    QVERIFY(list.right() < inspector.left());
    QVERIFY(inspector.bottom() <= deck.bottom());
    const QList<IslandActionTileButton*> tiles = m_view->historyInspectorTiles();
    QCOMPARE(tiles.size(), 11);
    for (const IslandActionTileButton* tile : tiles) {
        const QRect place = inIsland(tile);
        QVERIFY2(inspector.contains(place), qPrintable(tile->displayTitle()));
        QCOMPARE(place.height(), 48);
        const QFontMetricsF metrics(IslandTheme::systemFont(tile->titlePointSize(), QFont::DemiBold));
        for (const QString& line : tile->displayTitle().split(QLatin1Char('\n')))
            QVERIFY2(metrics.horizontalAdvance(line) <= place.width() - 2, qPrintable(line));
    }
}

QUILLOMARE_GUI_TEST_MAIN(TestIslandViewLayout)
#include "tst_islandviewlayout.moc"
