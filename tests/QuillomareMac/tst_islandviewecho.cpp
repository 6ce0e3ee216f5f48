#include "IslandViewTestRig.h"
#include "TestSupport.h"

#include "Island/CaptureEchoHUDView.h"
#include "Island/IslandScheduler.h"
#include "Island/IslandTheme.h"
#include "Island/IslandView.h"

#include <Platform/MotionPreferences.h>

#include <QApplication>

#include <memory>

using namespace QuillomareMac;
using QuillomareTest::IslandViewTestRig;
using QuillomareCore::CaptureFeedback;
using Mode = IslandView::DisplayMode;
using Style = IslandView::CollapsedVisualStyle;

namespace {
const QRectF kPill(297, 0, 185, 32);
const QRectF kEcho(250, 0, 280, 58);
const QRectF kPanel(0, 0, 780, 430);

CaptureFeedback textFeedback()
{
    return CaptureFeedback{QuillomareCore::ClipKind::text, QStringLiteral("Editor"), false,
                           CaptureFeedback::SaveStatus::saved()};
}
} // namespace

class TestIslandViewEcho : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init();
    void cleanup();
    void echoEndsOnTime_data();
    void echoEndsOnTime();
    void badgeSitsInsideTheEchoAndFadesIn();
    void captureDuringRetractStartsOver();
    void secondCaptureOneSecondLaterExtendsTheEcho();
    void notchRetractShrinksIntoTheScreenEdge();
    void expandingEndsTheEchoSilently();
    void captureWhileCollapsingLetsTheEchoRunItsCourse();
    void stillPreviewHasNoTimer();
    void growthThatDoesNotExpandOnlyCompletes();

private:
    // What the controller does when a capture arrives on the collapsed island.
    void capture(const QRectF& from);

    std::shared_ptr<ManualIslandScheduler> m_scheduler;
    std::unique_ptr<IslandViewTestRig> m_rig;
    QWidget* m_canvas = nullptr;
    IslandView* m_view = nullptr;
    int m_finished = 0;
    QStringList m_events;
};

void TestIslandViewEcho::init()
{
    m_rig = std::make_unique<IslandViewTestRig>(kPill.toRect());
    m_scheduler = m_rig->scheduler;
    m_canvas = m_rig->canvas.get();
    m_view = m_rig->view;
    m_finished = 0;
    m_events.clear();
    m_view->onCaptureEchoDidFinish = [this] { ++m_finished; };
    m_canvas->show();
}

void TestIslandViewEcho::cleanup()
{
    m_rig.reset();
}

void TestIslandViewEcho::capture(const QRectF& from)
{
    if (Platform::MotionPreferences::reduceMotion())
        m_view->setGeometry(kEcho.toRect());
    else
        m_view->morphEchoFrame(from, kEcho, true, nullptr);
    m_view->presentCaptureEcho(textFeedback(), kPill);
}

void TestIslandViewEcho::echoEndsOnTime_data()
{
    QTest::addColumn<bool>("reduceMotion");
    QTest::addColumn<int>("shownFor");
    QTest::addColumn<int>("retractFor");
    QTest::newRow("motion") << false << 1570 << 260;
    QTest::newRow("reduce motion") << true << 1000 << 0;
}

void TestIslandViewEcho::echoEndsOnTime()
{
    QFETCH(bool, reduceMotion);
    QFETCH(int, shownFor);
    QFETCH(int, retractFor);
    Platform::MotionPreferences::setReduceMotionForTesting(reduceMotion);
    capture(kPill);
    m_scheduler->advance(shownFor - 1);
    QVERIFY(m_view->isCaptureEchoShown());
    QCOMPARE(m_view->geometry(), kEcho.toRect());
    m_scheduler->advance(1);
    if (retractFor > 0) {
        QCOMPARE(m_finished, 0);
        QVERIFY(m_view->hasActiveIslandLayerAnimation()); // retracting
        m_scheduler->advance(retractFor - 1);
        QCOMPARE(m_finished, 0);
        m_scheduler->advance(1);
    }
    QCOMPARE(m_finished, 1);
    QVERIFY(!m_view->isCaptureEchoShown());
    QVERIFY(m_view->captureEchoHUD()->isHidden());
    QCOMPARE(m_view->geometry(), kPill.toRect());
    QCOMPARE(m_view->presentationBackground(), IslandTheme::collapsedBackground());
    QVERIFY(!m_view->collapsedRoot()->isHidden());
    QCOMPARE(IslandView::alphaValue(m_view->collapsedRoot()), 1.0);
    QVERIFY(!m_view->hasActiveIslandLayerAnimation());
    m_scheduler->advance(5000);
    QCOMPARE(m_finished, 1);
}

void TestIslandViewEcho::badgeSitsInsideTheEchoAndFadesIn()
{
    capture(kPill);
    CaptureEchoHUDView* hud = m_view->captureEchoHUD();
    QVERIFY(hud);
    QVERIFY(!hud->isHidden());
    QCOMPARE(hud->title(), CaptureEchoHUDView::titleText(textFeedback()));
    QCOMPARE(hud->badgeGeometry(), QRect(10, 58 - 7 - 44, 280 - 20, 44));
    QCOMPARE(hud->badgeOpacity(), 0.0);
    QVERIFY(m_view->collapsedRoot()->isHidden());
    QVERIFY(m_view->expandedRoot()->isHidden());
    m_scheduler->advance(110);
    QVERIFY(hud->badgeOpacity() > 0.5 && hud->badgeOpacity() < 1);
    m_scheduler->advance(110);
    QCOMPARE(hud->badgeOpacity(), 1.0);
    // The badge's fade is not a movement of the island's surface.
    m_scheduler->advance(1000);
    QVERIFY(!m_view->hasActiveIslandLayerAnimation());
}

void TestIslandViewEcho::captureDuringRetractStartsOver()
{
    m_view->setCollapsedVisualStyle(Style::hardwareNotch);
    capture(kPill);
    m_scheduler->advance(1570 + 130);
    const QRectF halfRetracted = m_view->presentationFrame();
    QVERIFY(halfRetracted.height() < kEcho.height() && halfRetracted.height() > 18);

    const quint64 tokenBefore = m_view->echoMorphCompletionToken();
    capture(QRectF(m_view->geometry()));
    QVERIFY(m_view->echoMorphCompletionToken() > tokenBefore);
    QCOMPARE(m_view->presentationFrame(), halfRetracted);
    // The notch shell had begun to fade: it comes back.
    QVERIFY(IslandAnimator::shared().contains(m_view, QStringLiteral("echo.opacity.restore")));
    QCOMPARE(m_view->captureEchoHUD()->badgeOpacity(), 0.0);

    m_scheduler->advance(1569);
    QCOMPARE(m_finished, 0);
    QVERIFY(m_view->isCaptureEchoShown());
    QCOMPARE(m_view->presentationFrame(), kEcho);
    m_scheduler->advance(1 + 260);
    QCOMPARE(m_finished, 1);
    m_scheduler->advance(5000);
    QCOMPARE(m_finished, 1);
}

void TestIslandViewEcho::secondCaptureOneSecondLaterExtendsTheEcho()
{
    capture(kPill);
    m_scheduler->advance(1000);
    capture(QRectF(m_view->geometry()));
    m_scheduler->advance(1569);
    QVERIFY(m_view->isCaptureEchoShown());
    QVERIFY(!m_view->hasActiveIslandLayerAnimation());
    m_scheduler->advance(1 + 260);
    QCOMPARE(m_finished, 1);
    // A floating pill retracts exactly onto the collapsed island, fully opaque.
    QCOMPARE(m_view->presentationFrame(), kPill);
}

void TestIslandViewEcho::notchRetractShrinksIntoTheScreenEdge()
{
    m_view->setCollapsedVisualStyle(Style::hardwareNotch);
    capture(kPill);
    m_scheduler->advance(1570 + 259);
    QCOMPARE(m_finished, 0);
    const QRectF almost = m_view->presentationFrame();
    QCOMPARE(almost.top(), kEcho.top());
    QVERIFY2(almost.height() >= 18 && almost.height() <= 25, qPrintable(QString::number(almost.height())));
    QCOMPARE(almost.center().x(), kEcho.center().x());
    m_scheduler->advance(1);
    QCOMPARE(m_finished, 1);
    QCOMPARE(m_view->geometry(), kPill.toRect());
    QCOMPARE(m_view->presentationBackground().alpha(), 0);
}

void TestIslandViewEcho::expandingEndsTheEchoSilently()
{
    capture(kPill);
    m_scheduler->advance(400);
    m_view->morph(kEcho, kPanel, true, 0.42, 0.8, [this] { m_events.append(QStringLiteral("expanded")); });
    QVERIFY(!m_view->isCaptureEchoShown());
    QVERIFY(m_view->captureEchoHUD()->isHidden());
    QVERIFY(!IslandAnimator::shared().containsPrefix(m_view, QStringLiteral("echo.")));
    m_scheduler->advance(5000);
    QCOMPARE(m_finished, 0);
    QCOMPARE(m_events, QStringList{QStringLiteral("expanded")});
    QCOMPARE(m_view->geometry(), kPanel.toRect());
}

void TestIslandViewEcho::captureWhileCollapsingLetsTheEchoRunItsCourse()
{
    m_rig->expand();
    // A member, not a local: a failed check must not leave the completions a dangling list.
    QStringList& events = m_events;
    m_view->onCaptureEchoDidFinish = [this] { m_events.append(QStringLiteral("echo finished")); };
    m_view->morph(kPanel, kPill, false, 0.45, 1.0, [this] { m_events.append(QStringLiteral("collapsed")); });
    m_scheduler->advance(120);
    const QRectF collapsing = m_view->presentationFrame();

    capture(QRectF(m_view->geometry()));
    // The echo grows from where the collapsing surface is, not from the pill.
    QCOMPARE(m_view->presentationFrame(), collapsing);
    QVERIFY(m_view->hasHeldMorphCompletion());
    QVERIFY(!IslandAnimator::shared().containsPrefix(m_view, QStringLiteral("morph.")));

    // Long past the collapse's own end the echo is whole and the collapse has not reported.
    m_scheduler->advance(1400);
    QVERIFY(events.isEmpty());
    QVERIFY(m_view->isCaptureEchoShown());
    QCOMPARE(m_view->geometry(), kEcho.toRect());
    QCOMPARE(m_view->presentationFrame(), kEcho);
    QVERIFY(m_view->expandedRoot()->isHidden());
    QCOMPARE(m_view->captureEchoHUD()->badgeOpacity(), 1.0);

    m_scheduler->advance(170 + 260);
    QCOMPARE(events, (QStringList{QStringLiteral("collapsed"), QStringLiteral("echo finished")}));
    QCOMPARE(m_view->geometry(), kPill.toRect());
    QVERIFY(!m_view->hasHeldMorphCompletion());
    m_scheduler->advance(5000);
    QCOMPARE(events.size(), 2);
}

void TestIslandViewEcho::stillPreviewHasNoTimer()
{
    m_view->setGeometry(kEcho.toRect());
    m_view->showCaptureEchoPreview(textFeedback());
    QVERIFY(m_view->isCaptureEchoShown());
    QCOMPARE(m_view->captureEchoHUD()->badgeOpacity(), 1.0);
    QVERIFY(!m_view->captureEchoHUD()->isHidden());
    QVERIFY(!m_view->hasActiveIslandLayerAnimation());
    QCOMPARE(m_view->presentationBackground(), IslandTheme::collapsedBackground());
    m_scheduler->advance(5000);
    QVERIFY(m_view->isCaptureEchoShown());
    QCOMPARE(m_finished, 0);
}

void TestIslandViewEcho::growthThatDoesNotExpandOnlyCompletes()
{
    // Without a growth in progress there is nothing to carry on from.
    m_view->morphEchoFrame(kPill, kEcho, false, [this] { m_events.append(QStringLiteral("done")); });
    QCOMPARE(m_events, QStringList{QStringLiteral("done")});
    QCOMPARE(m_view->geometry(), kPill.toRect());
    QVERIFY(!m_view->hasActiveIslandLayerAnimation());
}

QUILLOMARE_GUI_TEST_MAIN(TestIslandViewEcho)
#include "tst_islandviewecho.moc"
