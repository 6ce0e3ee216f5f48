#include "IslandViewTestRig.h"
#include "TestSupport.h"

#include "Island/CaptureEchoHUDView.h"
#include "Island/Kit/IslandScheduler.h"
#include "Island/Kit/IslandTheme.h"
#include "Island/IslandView.h"
#include "Island/Panel/NotchAnchor.h"

#include <Platform/MotionPreferences.h>
#include <QuillomareCore/Language.h>

#include <QApplication>
#include <QFontInfo>
#include <QPainter>

#include <memory>

using namespace QuillomareMac;
namespace Language = QuillomareCore::Language;
using QuillomareTest::IslandViewTestRig;
using QuillomareCore::CaptureFeedback;
using Mode = IslandView::DisplayMode;
using Style = IslandView::CollapsedVisualStyle;

namespace {
const QRectF kPill(297, 0, 185, 32);
const QRectF kEcho(250, 0, 280, 58);
const QRectF kPanel(0, 0, 780, 430);

qint64 regionArea(const QRegion& region)
{
    qint64 area = 0;
    for (const QRect& rect : region)
        area += qint64(rect.width()) * rect.height();
    return area;
}

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
    void growingSurfaceNeverLeavesTheWidget_data();
    void growingSurfaceNeverLeavesTheWidget();
    void stillPreviewHasNoTimer();
    void growthThatDoesNotExpandOnlyCompletes();
    void snappingTheLayerMidGrowthLeavesTheEchosFrame();
    void retractingShellTakesThePillsContentBack();
    void echoTextsFitTheirPlaceInBothLanguages_data();
    void echoTextsFitTheirPlaceInBothLanguages();
    void windowShapeAndPaintedSurfaceAgreeOnEveryEdgePixel_data();
    void windowShapeAndPaintedSurfaceAgreeOnEveryEdgePixel();

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

void TestIslandViewEcho::growingSurfaceNeverLeavesTheWidget_data()
{
    QTest::addColumn<bool>("notch");
    QTest::addColumn<bool>("collapsing");
    QTest::addColumn<QRectF>("collapsed");
    QTest::newRow("pill, copy 0.05 s into a collapse") << false << true << kPill;
    QTest::newRow("notch, copy 0.05 s into a collapse") << true << true << kPill;
    // Over a camera housing the pill sits in the menu-bar strip, above the echo.
    QTest::newRow("notch, from the housing above the echo") << true << false << QRectF(297, -30, 185, 32);
}

void TestIslandViewEcho::growingSurfaceNeverLeavesTheWidget()
{
    // The window is shaped to the drawn surface, and the widget paints only inside its own
    // rectangle: a surface reaching past the widget is cut square (compositing manager) or shows
    // the window's empty pixels there (black without one). Every frame, the two agree.
    QFETCH(bool, notch);
    QFETCH(bool, collapsing);
    QFETCH(QRectF, collapsed);
    m_view->setCollapsedVisualStyle(notch ? Style::hardwareNotch : Style::floatingPill);
    if (collapsing) {
        m_rig->expand();
        m_view->morph(kPanel, collapsed, false, 0.45, 1.0, nullptr);
        m_scheduler->advance(50);
    } else {
        m_view->setGeometry(collapsed.toRect());
    }
    capture(QRectF(m_view->geometry()));

    int frames = 0;
    QRegion everDrawn;
    for (int elapsed = 0; elapsed <= 700; elapsed += 8, m_scheduler->advance(8)) {
        const QRegion surface = m_view->presentedSurfaceRegion();
        QVERIFY2(!surface.isEmpty(), qPrintable(QString::number(elapsed)));
        const QRegion outside = surface - QRegion(m_view->rect());
        QVERIFY2(outside.isEmpty(), qPrintable(QStringLiteral("%1 ms: %2 px outside the widget")
                                                   .arg(elapsed)
                                                   .arg(regionArea(outside))));
        // The badge stays on the echo's frame, wherever the widget is.
        QCOMPARE(m_view->captureEchoHUD()->badgeGeometry().translated(m_view->pos()),
                 QRect(int(kEcho.x()) + 10, int(kEcho.bottom()) - 7 - 44, int(kEcho.width()) - 20, 44));
        everDrawn += surface.translated(m_view->pos());
        ++frames;
    }
    QVERIFY(frames > 80);
    // The growth started from the collapsing surface (or the housing), not from the echo.
    QVERIFY(!(everDrawn - QRegion(kEcho.toRect())).isEmpty());
    QCOMPARE(m_view->geometry(), kEcho.toRect());
    QCOMPARE(m_view->presentedSurfaceRegion(),
             IslandView::surfaceRegion(QRectF(QPointF(0, 0), kEcho.size()), 16, notch));
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

void TestIslandViewEcho::snappingTheLayerMidGrowthLeavesTheEchosFrame()
{
    // The controller snaps the layer when it places the panel; a growth cut short there (before
    // the echo itself is shown) must not leave the widget widened over the housing above.
    const QRectF housing(297, -30, 185, 32);
    m_view->setCollapsedVisualStyle(Style::hardwareNotch);
    m_view->setGeometry(housing.toRect());
    m_view->morphEchoFrame(housing, kEcho, true, nullptr);
    m_scheduler->advance(50);
    QCOMPARE(m_view->geometry(), housing.united(kEcho).toRect());
    m_view->syncBackingLayerToCurrentFrameWithoutAnimation();
    QVERIFY(!m_view->hasActiveIslandLayerAnimation());
    QCOMPARE(m_view->geometry(), kEcho.toRect());
    // The echo shown next places its badge from that frame.
    m_view->presentCaptureEcho(textFeedback(), kPill);
    QCOMPARE(m_view->captureEchoHUD()->badgeGeometry(), QRect(10, 58 - 7 - 44, 280 - 20, 44));
}

void TestIslandViewEcho::retractingShellTakesThePillsContentBack()
{
    // The badge is gone after 0.13 s of the 0.26-s retract; the shell shows the pill's content
    // from then on instead of retracting as an empty capsule.
    capture(kPill);
    m_scheduler->advance(1570 + 100);
    QCOMPARE(IslandView::alphaValue(m_view->collapsedRoot()), 0.0);
    m_scheduler->advance(110);
    QCOMPARE(m_view->captureEchoHUD()->badgeOpacity(), 0.0);
    QVERIFY(!m_view->collapsedRoot()->isHidden());
    QVERIFY2(IslandView::alphaValue(m_view->collapsedRoot()) > 0.5,
             qPrintable(QString::number(IslandView::alphaValue(m_view->collapsedRoot()))));
    // It sits on the shrinking shell, not on the pill's final place.
    QVERIFY(QRectF(m_view->collapsedRoot()->geometry()).translated(m_view->pos()).width()
            > kPill.width() - 36 + 1);
    m_scheduler->advance(60);
    QCOMPARE(m_finished, 1);
    QCOMPARE(IslandView::alphaValue(m_view->collapsedRoot()), 1.0);

    // Over a camera housing the pill has no content of its own to show.
    m_view->setCollapsedVisualStyle(Style::hardwareNotch);
    capture(kPill);
    m_scheduler->advance(1570 + 210);
    QCOMPARE(IslandView::alphaValue(m_view->collapsedRoot()), 0.0);
    m_scheduler->advance(100);
    QCOMPARE(m_finished, 2);
}

void TestIslandViewEcho::echoTextsFitTheirPlaceInBothLanguages_data()
{
    QTest::addColumn<bool>("chinese");
    QTest::newRow("English") << false;
    QTest::newRow("Chinese") << true;
}

void TestIslandViewEcho::echoTextsFitTheirPlaceInBothLanguages()
{
    // The island's own texts (every title with every status word, and the line shown without a
    // source) are whole in the badge of an echo on a plain screen, as the layout places it:
    // only what the core or the source application adds may be cut at the tail.
    QFETCH(bool, chinese);
    Language::setIsChineseForTesting(chinese);
    QVERIFY2(!IslandTheme::fontFamilies().isEmpty(), "the island's fonts are installed (scripts/install-deps)");
    const QString face = QFontInfo(IslandTheme::systemFont(13, QFont::DemiBold)).family();
    QVERIFY2(IslandTheme::fontFamilies().contains(face), qPrintable(face));

    Platform::ScreenDescription screen;
    screen.name = QStringLiteral("HDMI-1");
    screen.frame = QRectF(0, 0, 1920, 1080);
    screen.visibleFrame = QRectF(0, 0, 1920, 1055);
    const QRectF echo = IslandGeometry::echoFrame(screen);
    m_view->setGeometry(QRect(QPoint(0, 0), echo.size().toSize()));

    using Status = CaptureFeedback::SaveStatus;
    const QList<std::optional<QuillomareCore::ClipKind>> kinds = {
        std::nullopt, QuillomareCore::ClipKind::text, QuillomareCore::ClipKind::url, QuillomareCore::ClipKind::file,
        QuillomareCore::ClipKind::image, QuillomareCore::ClipKind::unknown};
    const QList<Status> statuses = {Status::saved(), Status::duplicate(), Status::ignored(QString()),
                                    Status::failed(QString())};
    int checked = 0;
    for (bool sensitive : {false, true}) {
        for (const auto& kind : kinds) {
            for (const Status& status : statuses) {
                const CaptureFeedback feedback{kind, std::nullopt, sensitive, status};
                m_view->showCaptureEchoPreview(feedback);
                const CaptureEchoHUDView* hud = m_view->captureEchoHUD();
                QVERIFY(hud);
                const QString what = hud->title() + QStringLiteral(" | ") + hud->subtitle() + QStringLiteral(" | ")
                    + hud->statusText();
                QVERIFY2(hud->displayedTitle() == hud->title(),
                         qPrintable(what + QStringLiteral(" → ") + hud->displayedTitle()));
                QVERIFY2(hud->displayedSubtitle() == hud->subtitle(),
                         qPrintable(what + QStringLiteral(" → ") + hud->displayedSubtitle()));
                QCOMPARE(hud->displayedStatusText(), hud->statusText());
                ++checked;
            }
        }
    }
    QCOMPARE(checked, 48);
}

void TestIslandViewEcho::windowShapeAndPaintedSurfaceAgreeOnEveryEdgePixel_data()
{
    QTest::addColumn<bool>("notch");
    QTest::addColumn<QRectF>("frame");
    QTest::addColumn<double>("radius");
    QTest::newRow("pill") << false << QRectF(297, 0, 185, 32) << 16.0;
    QTest::newRow("echo") << false << QRectF(250, 0, 280, 58) << 16.0;
    QTest::newRow("opening, between pixels") << false << QRectF(180.4, 0, 420.3, 161.6) << 13.7;
    QTest::newRow("retracting, thin") << false << QRectF(290.5, 0.25, 199.5, 20.5) << 10.25;
    QTest::newRow("notch echo") << true << QRectF(250, 0, 280, 58) << 16.0;
    QTest::newRow("notch retracting") << true << QRectF(311.3, 0, 156.2, 21.7) << 10.85;
}

void TestIslandViewEcho::windowShapeAndPaintedSurfaceAgreeOnEveryEdgePixel()
{
    // Without a compositing manager the window shows exactly its shape, and a pixel of the shape
    // the surface covers only in part shows black at the edge. Cut to the shape, the surface
    // fills every pixel of the region (the mask and the window's shapes) whole and none beyond.
    QFETCH(bool, notch);
    QFETCH(QRectF, frame);
    QFETCH(double, radius);
    const QRegion region = IslandView::surfaceRegion(frame, radius, notch);
    QVERIFY(!region.isEmpty());
    // The region is the outline's pixels: nothing outside the frame, and every pixel whose
    // centre the outline holds.
    QVERIFY((region - QRegion(frame.toAlignedRect())).isEmpty());
    const QPainterPath outline = IslandView::surfacePath(frame, radius, notch);
    const QRect bounds = frame.toAlignedRect();
    int mismatches = 0;
    for (int y = bounds.top(); y <= bounds.bottom(); ++y) {
        for (int x = bounds.left(); x <= bounds.right(); ++x) {
            const QPointF centre(x + 0.5, y + 0.5);
            // Centres on the very outline may go either way.
            const QRectF probe(centre - QPointF(0.02, 0.02), QSizeF(0.04, 0.04));
            if (outline.contains(probe) && !region.contains(QPoint(x, y)))
                ++mismatches;
            if (!outline.intersects(probe) && region.contains(QPoint(x, y)))
                ++mismatches;
        }
    }
    QCOMPARE(mismatches, 0);

    // Painted as the panel shows it without a compositing manager.
    m_view->setCollapsedVisualStyle(notch ? Style::hardwareNotch : Style::floatingPill);
    m_view->setEdgesCutToShape(true);
    m_view->setGeometry(bounds);
    m_view->showCaptureEchoPreview(textFeedback());
    m_view->captureEchoHUD()->hide();
    const QRegion shape = m_view->presentedSurfaceRegion();
    QCOMPARE(shape, IslandView::surfaceRegion(QRectF(m_view->geometry()).translated(-QPointF(m_view->pos())),
                                              m_view->presentationCornerRadius(), notch));
    QImage image(m_view->size(), QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    m_view->render(&image, QPoint(), QRegion(), QWidget::DrawWindowBackground);
    int halfCovered = 0;
    int paintedOutside = 0;
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            const int alpha = qAlpha(image.pixel(x, y));
            if (shape.contains(QPoint(x, y)) ? alpha < IslandTheme::collapsedBackground().alpha() - 1 : alpha != 0)
                ++(shape.contains(QPoint(x, y)) ? halfCovered : paintedOutside);
        }
    }
    QCOMPARE(halfCovered, 0);
    QCOMPARE(paintedOutside, 0);
}

QUILLOMARE_GUI_TEST_MAIN(TestIslandViewEcho)
#include "tst_islandviewecho.moc"
