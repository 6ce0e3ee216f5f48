#include "IslandViewTestRig.h"
#include "TestSupport.h"

#include "Island/Kit/IslandScheduler.h"
#include "Island/Kit/IslandTheme.h"
#include "Island/IslandView.h"

#include <Platform/MotionPreferences.h>

#include <QApplication>

#include <memory>

using namespace QuillomareMac;
using QuillomareTest::IslandViewTestRig;
using Mode = IslandView::DisplayMode;
using Style = IslandView::CollapsedVisualStyle;

namespace {
const QRectF kPill(297, 0, 185, 32);
const QRectF kPanel(0, 0, 780, 430);
} // namespace

class TestIslandViewMorph : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init();
    void cleanup();
    void expandRunsFromThePillToThePanel_data();
    void expandRunsFromThePillToThePanel();
    void interruptedMorphStartsFromItsValueAtRest();
    void collapseShrinksTheExpandedContent();
    void scaledContentIsDrawnAboutItsCentre();
    void staleCompletionCommitsNothing();
    void collapseFadesTheBackdropAndNotchContentStaysHidden();
    void reduceMotionSwitchesAtOnce();
    void surfaceHidesTextBeneathUnlessBlurred();
    void borderLiesInsideTheSurface();

private:
    std::shared_ptr<ManualIslandScheduler> m_scheduler;
    std::unique_ptr<IslandViewTestRig> m_rig;
    QWidget* m_canvas = nullptr;
    IslandView* m_view = nullptr;
    // Members, so that completions still pending after a failed check have somewhere to count.
    int m_completions = 0;
    int m_expandCompletions = 0;
    int m_collapseCompletions = 0;
};

namespace {

QImage render(QWidget* view)
{
    QImage image(view->size(), QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    // A masked widget renders its mask's bounding box at the target offset.
    const QRegion painted = view->mask().isEmpty() ? QRegion(view->rect()) : view->mask() & view->rect();
    view->render(&image, painted.boundingRect().topLeft());
    return image;
}

// Source-over of `top` on `bottom`, unpremultiplied.
QColor over(const QColor& top, const QColor& bottom)
{
    const double a = top.alphaF() + bottom.alphaF() * (1 - top.alphaF());
    const auto mix = [&](double t, double b) { return (t * top.alphaF() + b * bottom.alphaF() * (1 - top.alphaF())) / a; };
    return QColor::fromRgbF(float(mix(top.redF(), bottom.redF())), float(mix(top.greenF(), bottom.greenF())),
                            float(mix(top.blueF(), bottom.blueF())), float(a));
}

bool near(const QColor& actual, const QColor& expected)
{
    return std::abs(actual.red() - expected.red()) <= 2 && std::abs(actual.alpha() - expected.alpha()) <= 2;
}

} // namespace

void TestIslandViewMorph::init()
{
    m_rig = std::make_unique<IslandViewTestRig>(kPill.toRect());
    m_scheduler = m_rig->scheduler;
    m_canvas = m_rig->canvas.get();
    m_view = m_rig->view;
    m_completions = m_expandCompletions = m_collapseCompletions = 0;
    m_canvas->show();
}

void TestIslandViewMorph::cleanup()
{
    m_rig.reset();
}

void TestIslandViewMorph::expandRunsFromThePillToThePanel_data()
{
    QTest::addColumn<Style>("style");
    QTest::addColumn<QColor>("startBackground");
    QTest::newRow("pill") << Style::floatingPill << IslandTheme::collapsedBackground();
    QTest::newRow("notch") << Style::hardwareNotch << QColor(0, 0, 0, 0);
}

void TestIslandViewMorph::expandRunsFromThePillToThePanel()
{
    QFETCH(Style, style);
    QFETCH(QColor, startBackground);
    m_view->setCollapsedVisualStyle(style);
    const quint64 tokenBefore = m_view->morphCompletionToken();
    m_view->morph(kPill, kPanel, true, 0.42, 0.8, [this] { ++m_completions; });
    QCOMPARE(m_view->morphCompletionToken(), tokenBefore + 1);
    QCOMPARE(m_view->displayMode(), Mode::expanded);
    QCOMPARE(m_view->presentationFrame(), kPill);
    QCOMPARE(m_view->presentationCornerRadius(), 16.0);
    QCOMPARE(m_view->presentationBackground(), startBackground);
    QCOMPARE(m_view->presentationExpandedContentOpacity(), 0.0);
    QVERIFY(m_view->hasActiveIslandLayerAnimation());

    m_scheduler->advance(3000);
    QCOMPARE(m_completions, 1);
    QCOMPARE(m_view->geometry(), kPanel.toRect());
    QCOMPARE(m_view->presentationFrame(), kPanel);
    QCOMPARE(m_view->presentationCornerRadius(), 12.0);
    QCOMPARE(m_view->presentationBackground(), IslandTheme::expandedSurface(false));
    QCOMPARE(m_view->presentationExpandedContentOpacity(), 1.0);
    QVERIFY(!m_view->hasActiveIslandLayerAnimation());
    QVERIFY(m_view->collapsedRoot()->isHidden());
}

void TestIslandViewMorph::interruptedMorphStartsFromItsValueAtRest()
{
    m_view->morph(kPill, kPanel, true, 0.42, 0.8, nullptr);
    m_scheduler->advance(90);
    const QRectF onScreen = m_view->presentationFrame();
    const auto velocity = IslandAnimator::shared().velocity(m_view, QStringLiteral("morph.bounds"));
    QVERIFY(velocity);
    QVERIFY((*velocity)[2] > 0); // still growing

    m_view->morph(kPanel, kPill, false, 0.45, 1.0, nullptr);
    QCOMPARE(m_view->presentationFrame(), onScreen);
    const auto carried = IslandAnimator::shared().velocity(m_view, QStringLiteral("morph.bounds"));
    QVERIFY(carried);
    for (const double component : *carried)
        QCOMPARE(component, 0.0);
    // Colours start over from the look being left.
    QCOMPARE(m_view->presentationBackground(), IslandTheme::expandedSurface(false));
    // No momentum of the expand carries the surface outwards: it turns towards the pill at once.
    m_scheduler->advance(16);
    QVERIFY(m_view->presentationFrame().width() < onScreen.width());
}

void TestIslandViewMorph::collapseShrinksTheExpandedContent()
{
    m_rig->expand();
    QCOMPARE(m_view->presentationExpandedContentScale(), 1.0);
    m_view->morph(kPanel, kPill, false, 0.45, 1.0, nullptr);
    QCOMPARE(m_view->presentationExpandedContentScale(), 1.0);
    // Shrinking with the fade, towards 0.97 as the content fades out, and drawn so.
    const QString key = QStringLiteral("morph.contentScale");
    QVERIFY(IslandAnimator::shared().contains(m_view, key));
    double previous = 1.0;
    int frames = 0;
    for (; frames < 30; ++frames) {
        m_scheduler->advance(16);
        if (!IslandAnimator::shared().contains(m_view, key))
            break;
        const double scale = m_view->presentationExpandedContentScale();
        QVERIFY2(scale <= previous + 1e-9 && scale >= 0.97 - 1e-9, qPrintable(QString::number(scale, 'g', 17)));
        QCOMPARE(IslandView::contentScale(m_view->expandedRoot()), scale);
        previous = scale;
    }
    QVERIFY(frames > 5 && frames < 30);
    QVERIFY2(previous < 0.975, qPrintable(QString::number(previous)));
    // It ends with the fade.
    QCOMPARE(m_view->presentationExpandedContentOpacity(), 0.0);

    // At rest, and in an expand that interrupts the collapse, the content is at its full size.
    m_scheduler->advance(3000);
    QCOMPARE(m_view->presentationExpandedContentScale(), 1.0);
    QCOMPARE(IslandView::contentScale(m_view->expandedRoot()), 1.0);
    m_view->morph(kPill, kPanel, true, 0.42, 0.8, nullptr);
    m_scheduler->advance(100);
    m_view->morph(kPanel, kPill, false, 0.45, 1.0, nullptr);
    m_scheduler->advance(60);
    QVERIFY(m_view->presentationExpandedContentScale() < 1.0);
    m_view->morph(kPill, kPanel, true, 0.42, 0.8, nullptr);
    QCOMPARE(m_view->presentationExpandedContentScale(), 1.0);
    QCOMPARE(IslandView::contentScale(m_view->expandedRoot()), 1.0);
}

void TestIslandViewMorph::scaledContentIsDrawnAboutItsCentre()
{
    QWidget canvas;
    canvas.resize(200, 100);
    canvas.setAutoFillBackground(true);
    canvas.setPalette(QPalette(Qt::black));
    auto* content = new QWidget(&canvas);
    content->setGeometry(0, 0, 200, 100);
    content->setAutoFillBackground(true);
    content->setPalette(QPalette(Qt::red));

    IslandView::setContentScale(content, 0.5);
    QImage image(canvas.size(), QImage::Format_ARGB32_Premultiplied);
    canvas.render(&image);
    // Half the size, centred: 50…150 by 25…75.
    QCOMPARE(image.pixelColor(100, 50), QColor(Qt::red));
    QCOMPARE(image.pixelColor(52, 27), QColor(Qt::red));
    QCOMPARE(image.pixelColor(147, 72), QColor(Qt::red));
    QCOMPARE(image.pixelColor(47, 50), QColor(Qt::black));
    QCOMPARE(image.pixelColor(100, 22), QColor(Qt::black));
    QCOMPARE(image.pixelColor(153, 78), QColor(Qt::black));

    // Alpha and scale share one effect; the view draws directly again when both are back at 1.
    IslandView::setAlphaValue(content, 0.5);
    QCOMPARE(IslandView::contentScale(content), 0.5);
    IslandView::setContentScale(content, 1.0);
    QCOMPARE(IslandView::alphaValue(content), 0.5);
    IslandView::setAlphaValue(content, 1.0);
    QVERIFY(!content->graphicsEffect());
}

void TestIslandViewMorph::staleCompletionCommitsNothing()
{
    m_view->morph(kPill, kPanel, true, 0.42, 0.8, [this] { ++m_expandCompletions; });
    m_scheduler->advance(100);
    m_view->morph(kPanel, kPill, false, 0.45, 1.0, [this] { ++m_collapseCompletions; });
    m_scheduler->advance(0);
    // The superseded expand reports its end but leaves the frame and the state alone.
    QCOMPARE(m_expandCompletions, 1);
    QCOMPARE(m_view->displayMode(), Mode::collapsed);
    QCOMPARE(m_view->geometry(), kPanel.toRect());
    QVERIFY(m_view->hasActiveIslandLayerAnimation());

    m_scheduler->advance(3000);
    QCOMPARE(m_expandCompletions, 1);
    QCOMPARE(m_collapseCompletions, 1);
    QCOMPARE(m_view->geometry(), kPill.toRect());
    QVERIFY(m_view->expandedRoot()->isHidden());
}

void TestIslandViewMorph::collapseFadesTheBackdropAndNotchContentStaysHidden()
{
    m_view->setCollapsedVisualStyle(Style::hardwareNotch);
    m_rig->expand();
    m_view->morph(kPanel, kPill, false, 0.45, 1.0, nullptr);
    // The surface's own colours carry the fade; no separate backdrop value is animated that
    // nothing would draw.
    QVERIFY(!IslandAnimator::shared().contains(m_view, QStringLiteral("morph.viewAlpha")));
    for (int step = 0; step < 40; ++step) {
        m_scheduler->advance(25);
        QCOMPARE(m_view->presentationCollapsedContentOpacity(), 0.0);
    }
    m_scheduler->advance(2000);
    QCOMPARE(m_view->presentationBackground().alpha(), 0);
    QCOMPARE(m_view->presentationBorder().alpha(), 0);
    QCOMPARE(m_view->geometry(), kPill.toRect());

    // Expanding never fades the backdrop: it goes straight to the panel's.
    m_view->morph(kPill, kPanel, true, 0.42, 0.8, nullptr);
    QVERIFY(!IslandAnimator::shared().contains(m_view, QStringLiteral("morph.viewAlpha")));
}

void TestIslandViewMorph::reduceMotionSwitchesAtOnce()
{
    Platform::MotionPreferences::setReduceMotionForTesting(true);
    m_view->morph(kPill, kPanel, true, 0.42, 0.8, [this] { ++m_completions; });
    QCOMPARE(m_completions, 1);
    QCOMPARE(m_view->displayMode(), Mode::expanded);
    QCOMPARE(m_view->geometry(), kPanel.toRect());
    QCOMPARE(m_view->presentationBackground(), IslandTheme::expandedSurface(false));
    QVERIFY(!m_view->hasActiveIslandLayerAnimation());

    // A morph still in flight when the setting changes ends without committing later.
    Platform::MotionPreferences::setReduceMotionForTesting(false);
    m_view->morph(kPanel, kPill, false, 0.45, 1.0, [this] { ++m_completions; });
    m_scheduler->advance(50);
    Platform::MotionPreferences::setReduceMotionForTesting(true);
    m_view->morph(kPill, kPanel, true, 0.42, 0.8, [this] { ++m_completions; });
    m_scheduler->advance(3000);
    QCOMPARE(m_completions, 3);
    QCOMPARE(m_view->displayMode(), Mode::expanded);
    QCOMPARE(m_view->geometry(), kPanel.toRect());
}

void TestIslandViewMorph::surfaceHidesTextBeneathUnlessBlurred()
{
    m_rig->expand();
    const QColor opaque = render(m_view).pixelColor(300, 300);
    QVERIFY2(opaque.alphaF() >= 0.96, qPrintable(QString::number(opaque.alphaF())));
    m_view->setBackdropBlurred(true);
    const QColor blurred = render(m_view).pixelColor(300, 300);
    QVERIFY(std::abs(blurred.alphaF() - 0.86) < 0.01);
    // Over a dark backdrop both look the same.
    QVERIFY(std::abs(opaque.redF() * opaque.alphaF() - blurred.redF() * blurred.alphaF()) < 2.0 / 255);
}

void TestIslandViewMorph::borderLiesInsideTheSurface()
{
    m_rig->expand();
    const QImage rest = render(m_view);
    const QColor fill = IslandTheme::expandedSurface(false);
    // The outermost pixels carry the whole 1-point border, the next ones none of it.
    const QColor edge = over(IslandTheme::expandedBorder(), fill);
    for (const QPoint p : {QPoint(0, 215), QPoint(779, 215), QPoint(390, 0), QPoint(390, 429)})
        QVERIFY2(near(rest.pixelColor(p), edge), qPrintable(rest.pixelColor(p).name(QColor::HexArgb)));
    QVERIFY(near(rest.pixelColor(1, 215), fill));
    QCOMPARE(rest.pixelColor(0, 0).alpha(), 0);

    // Mid-morph the surface sits inside the view at fractional edges: nothing spills past it.
    m_view->morph(kPill, kPanel, true, 0.42, 0.8, nullptr);
    m_scheduler->advance(60);
    const QRectF frame = m_view->presentationFrame();
    const QImage moving = render(m_view);
    const int y = int(frame.center().y());
    QVERIFY(frame.left() > 1 && frame.right() < 778);
    for (int x = 0; x < moving.width(); ++x) {
        if (x + 1 <= frame.left() || x >= frame.right())
            QVERIFY2(moving.pixelColor(x, y).alpha() == 0, qPrintable(QString::number(x)));
    }
}

QUILLOMARE_GUI_TEST_MAIN(TestIslandViewMorph)
#include "tst_islandviewmorph.moc"
