#include "TestSupport.h"

#include "Island/IslandScheduler.h"
#include "Island/IslandTheme.h"
#include "Island/IslandView.h"

#include <Platform/MotionPreferences.h>

#include <QApplication>
#include <QLineEdit>

#include <memory>

using namespace QuillomareMac;
using Mode = IslandView::DisplayMode;
using Style = IslandView::CollapsedVisualStyle;

class TestIslandView : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init();
    void cleanup();

    void startsCollapsedAsAFloatingPill();
    void leftPressOnTheCollapsedIslandExpandsOnce();
    void collapsedStyleDecidesTheLook();
    void morphCompletesOnceAndOnlyTheLatestCommits();
    void immediateSwitchOverridesAMorphInFlight();
    void echoFinishesOnceAfterTheLastCapture();
    void echoDismissedSilently();
    void echoWithReduceMotionEndsAfterOneSecond();
    void contentModeSwitchShowsTheSearchOnlyForHistory();
    void drawsAPillAndAPanel();

private:
    std::shared_ptr<ManualIslandScheduler> m_scheduler;
    std::unique_ptr<QWidget> m_canvas;
    IslandView* m_view = nullptr;
};

void TestIslandView::init()
{
    L10n::setIsChineseForTesting(false);
    m_scheduler = std::make_shared<ManualIslandScheduler>();
    IslandScheduler::setSharedForTesting(m_scheduler);
    Platform::MotionPreferences::setReduceMotionForTesting(false);
    m_canvas = std::make_unique<QWidget>();
    m_canvas->resize(780, 430);
    m_view = new IslandView(QRect(297, 0, 185, 32), m_canvas.get());
    m_canvas->show();
}

void TestIslandView::cleanup()
{
    m_canvas.reset();
    m_scheduler->advance(5000);
    Platform::MotionPreferences::setReduceMotionForTesting(std::nullopt);
    IslandScheduler::setSharedForTesting(nullptr);
}

void TestIslandView::startsCollapsedAsAFloatingPill()
{
    QCOMPARE(m_view->displayMode(), Mode::collapsed);
    QCOMPARE(m_view->contentMode(), IslandView::ContentMode::history);
    QCOMPARE(m_view->collapsedVisualStyle(), Style::floatingPill);
    QCOMPARE(m_view->presentationBackground(), IslandTheme::collapsedBackground());
    QCOMPARE(m_view->presentationCollapsedContentOpacity(), 1.0);
    QVERIFY(!m_view->searchInput()->isVisible());
    QVERIFY(!m_view->hasActiveIslandLayerAnimation());
}

void TestIslandView::leftPressOnTheCollapsedIslandExpandsOnce()
{
    int expands = 0;
    m_view->onExpand = [&] { ++expands; };
    QTest::mouseClick(m_view, Qt::RightButton, {}, QPoint(10, 10));
    QCOMPARE(expands, 0);
    QTest::mouseClick(m_view, Qt::LeftButton, {}, QPoint(170, 20));
    QCOMPARE(expands, 1);
    m_view->setDisplayMode(Mode::expanded, false);
    m_view->setGeometry(0, 0, 780, 430);
    QTest::mouseClick(m_view, Qt::LeftButton, {}, QPoint(400, 300));
    QCOMPARE(expands, 1);
}

void TestIslandView::collapsedStyleDecidesTheLook()
{
    m_view->setCollapsedVisualStyle(Style::hardwareNotch);
    QCOMPARE(m_view->presentationBackground().alpha(), 0);
    QCOMPARE(m_view->presentationBorder().alpha(), 0);
    QCOMPARE(m_view->presentationCollapsedContentOpacity(), 0.0);
    // Expanded looks the same over a notch or not.
    m_view->setDisplayMode(Mode::expanded, false);
    QCOMPARE(m_view->presentationBackground(), IslandTheme::expandedBackground());
    QCOMPARE(m_view->presentationCornerRadius(), 12.0);
    m_view->setDisplayMode(Mode::collapsed, false);
    QCOMPARE(m_view->presentationCollapsedContentOpacity(), 0.0);
    m_view->setCollapsedVisualStyle(Style::floatingPill);
    QCOMPARE(m_view->presentationBackground(), IslandTheme::collapsedBackground());
    QCOMPARE(m_view->presentationCollapsedContentOpacity(), 1.0);
}

void TestIslandView::morphCompletesOnceAndOnlyTheLatestCommits()
{
    const QRectF collapsed(297, 0, 185, 32);
    const QRectF expanded(0, 0, 780, 430);
    int expandCompletions = 0;
    int collapseCompletions = 0;
    m_view->morph(collapsed, expanded, true, 0.42, 0.8, [&] { ++expandCompletions; });
    QCOMPARE(m_view->displayMode(), Mode::expanded);
    QCOMPARE(m_view->geometry(), expanded.toRect()); // the widget takes the large frame at once
    QCOMPARE(m_view->presentationFrame(), collapsed);
    m_scheduler->advance(160);
    const QRectF halfway = m_view->presentationFrame();
    QVERIFY(halfway.width() > 185 && halfway.width() < 780);

    // Interrupted: the collapse starts from what is on screen and the expand commits nothing.
    m_view->morph(expanded, collapsed, false, 0.45, 1.0, [&] { ++collapseCompletions; });
    QCOMPARE(m_view->presentationFrame(), halfway);
    QCOMPARE(m_view->presentationBackground(), IslandTheme::expandedBackground());
    m_scheduler->advance(0);
    QCOMPARE(expandCompletions, 1);
    QCOMPARE(m_view->geometry(), expanded.toRect());
    QCOMPARE(m_view->displayMode(), Mode::collapsed);

    m_scheduler->advance(3000);
    QCOMPARE(collapseCompletions, 1);
    QCOMPARE(expandCompletions, 1);
    QCOMPARE(m_view->geometry(), collapsed.toRect());
    QVERIFY(!m_view->hasActiveIslandLayerAnimation());
    QCOMPARE(m_view->presentationBackground(), IslandTheme::collapsedBackground());
    QCOMPARE(m_view->presentationCollapsedContentOpacity(), 1.0);
}

void TestIslandView::immediateSwitchOverridesAMorphInFlight()
{
    // A morph superseded by an immediate switch must not finish into its own target later.
    int completions = 0;
    m_view->morph(QRectF(297, 0, 185, 32), QRectF(0, 0, 780, 430), true, 0.42, 0.8, [&] { ++completions; });
    m_scheduler->advance(100);
    m_view->setDisplayMode(Mode::collapsed, false);
    m_view->setGeometry(297, 0, 185, 32);
    m_scheduler->advance(3000);
    QCOMPARE(completions, 1);
    QCOMPARE(m_view->displayMode(), Mode::collapsed);
    QCOMPARE(m_view->geometry(), QRect(297, 0, 185, 32));
    QCOMPARE(m_view->presentationBackground(), IslandTheme::collapsedBackground());
}

void TestIslandView::echoFinishesOnceAfterTheLastCapture()
{
    int finished = 0;
    m_view->onCaptureEchoDidFinish = [&] { ++finished; };
    const QRectF collapsed(297, 0, 185, 32);
    const QRectF echo(250, 0, 280, 58);
    QuillomareCore::CaptureFeedback feedback;
    m_view->morphEchoFrame(collapsed, echo, true, nullptr);
    m_view->presentCaptureEcho(feedback, collapsed);
    QVERIFY(m_view->isCaptureEchoShown());
    QVERIFY(m_view->hasActiveIslandLayerAnimation());
    m_scheduler->advance(1000);

    // A second capture a second later: it grows again from what is shown, one finish later.
    m_view->morphEchoFrame(QRectF(m_view->geometry()), echo, true, nullptr);
    m_view->presentCaptureEcho(feedback, collapsed);
    m_scheduler->advance(1569);
    QCOMPARE(finished, 0);
    m_scheduler->advance(1);
    QCOMPARE(finished, 1);
    QVERIFY(!m_view->isCaptureEchoShown());
    QCOMPARE(m_view->geometry(), collapsed.toRect());
    m_scheduler->advance(5000);
    QCOMPARE(finished, 1);

    // Without a growth in progress, a growth that is told not to expand only completes.
    int completions = 0;
    m_view->morphEchoFrame(collapsed, echo, false, [&] { ++completions; });
    QCOMPARE(completions, 1);
    QCOMPARE(m_view->geometry(), collapsed.toRect());
}

void TestIslandView::echoDismissedSilently()
{
    int finished = 0;
    m_view->onCaptureEchoDidFinish = [&] { ++finished; };
    m_view->presentCaptureEcho(QuillomareCore::CaptureFeedback{}, QRectF(297, 0, 185, 32));
    m_scheduler->advance(500);
    m_view->setDisplayMode(Mode::expanded, false);
    QVERIFY(!m_view->isCaptureEchoShown());
    m_scheduler->advance(5000);
    QCOMPARE(finished, 0);
}

void TestIslandView::echoWithReduceMotionEndsAfterOneSecond()
{
    Platform::MotionPreferences::setReduceMotionForTesting(true);
    int finished = 0;
    m_view->onCaptureEchoDidFinish = [&] { ++finished; };
    m_view->presentCaptureEcho(QuillomareCore::CaptureFeedback{}, QRectF(297, 0, 185, 32));
    QVERIFY(!m_view->hasActiveIslandLayerAnimation());
    m_scheduler->advance(999);
    QCOMPARE(finished, 0);
    m_scheduler->advance(1);
    QCOMPARE(finished, 1);
}

void TestIslandView::contentModeSwitchShowsTheSearchOnlyForHistory()
{
    m_view->setDisplayMode(Mode::expanded, false);
    m_view->setGeometry(0, 0, 780, 430);
    QVERIFY(m_view->searchInput()->isVisible());
    QCOMPARE(m_view->searchInput()->placeholderText(), QStringLiteral("Search history"));
    m_view->setContentMode(IslandView::ContentMode::shelfGallery, true);
    QVERIFY(!m_view->searchInput()->isVisible());
    m_view->setContentMode(IslandView::ContentMode::history, false);
    QVERIFY(m_view->searchInput()->isVisible());
    m_view->focusSearch();
    QCOMPARE(m_canvas->focusWidget(), m_view->searchInput());
    m_view->setDisplayMode(Mode::collapsed, false);
    QVERIFY(!m_view->searchInput()->isVisible());
}

void TestIslandView::drawsAPillAndAPanel()
{
    // QUILLOMARE_ISLAND_RENDER_DIR keeps the pictures for a look.
    const QString keep = qEnvironmentVariable("QUILLOMARE_ISLAND_RENDER_DIR");
    const auto isDark = [](QRgb pixel) { return qAlpha(pixel) > 200 && qRed(pixel) < 40 && qGreen(pixel) < 40; };

    const QImage pill = m_view->grab().toImage();
    QCOMPARE(pill.size(), QSize(185, 32));
    QVERIFY(isDark(pill.pixel(92, 3)));
    QVERIFY(isDark(pill.pixel(92, 28)));
    QVERIFY(qAlpha(pill.pixel(1, 1)) < 60); // rounded: half the height
    QVERIFY(qAlpha(pill.pixel(1, 16)) > 150);
    if (!keep.isEmpty())
        pill.save(keep + QStringLiteral("/island-collapsed.png"));

    m_view->setDisplayMode(Mode::expanded, false);
    m_view->setGeometry(0, 0, 780, 430);
    const QImage panel = m_view->grab().toImage();
    QVERIFY(isDark(panel.pixel(390, 300)));
    QVERIFY(qAlpha(panel.pixel(390, 300)) < 250); // the expanded surface is slightly see-through
    QVERIFY(qAlpha(panel.pixel(1, 1)) < 60);
    QVERIFY(qAlpha(panel.pixel(778, 428)) < 60);
    if (!keep.isEmpty())
        panel.save(keep + QStringLiteral("/island-expanded.png"));

    // Under a camera housing the top edge stays square against the screen's; the lower corners
    // are rounded.
    m_view->setCollapsedVisualStyle(Style::hardwareNotch);
    const QImage notchPanel = m_view->grab().toImage();
    QVERIFY(qAlpha(notchPanel.pixel(1, 1)) > 150);
    QVERIFY(qAlpha(notchPanel.pixel(1, 428)) < 60);
    QVERIFY(qAlpha(notchPanel.pixel(778, 428)) < 60);

    // Over a camera housing the collapsed island draws nothing of its own.
    m_view->setDisplayMode(Mode::collapsed, false);
    m_view->setGeometry(297, 0, 208, 37);
    const QImage notch = m_view->grab().toImage();
    QVERIFY(qAlpha(notch.pixel(104, 18)) < 10);
}

QUILLOMARE_GUI_TEST_MAIN(TestIslandView)
#include "tst_islandview.moc"
