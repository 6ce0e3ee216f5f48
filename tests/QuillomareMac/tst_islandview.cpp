#include "IslandViewTestRig.h"
#include "TestSupport.h"

#include "Island/Kit/IslandScheduler.h"
#include "Island/Kit/IslandSegmentedPillControl.h"
#include "Island/Kit/IslandTheme.h"
#include "Island/IslandView.h"

#include <Platform/MotionPreferences.h>

#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QWindow>

#include <memory>

using namespace QuillomareMac;
using QuillomareTest::IslandViewTestRig;
using Mode = IslandView::DisplayMode;
using Style = IslandView::CollapsedVisualStyle;
using Content = IslandView::ContentMode;

namespace {

// Shown or hidden, and the alpha, of one view.
struct Look
{
    bool shown;
    double alpha;
    friend bool operator==(const Look&, const Look&) = default;
};

Look lookOf(const QWidget* view)
{
    return {!view->isHidden(), IslandView::alphaValue(view)};
}

char* toString(const Look& look)
{
    return qstrdup(QByteArray(look.shown ? "shown" : "hidden").append(" alpha ").append(QByteArray::number(look.alpha)));
}

} // namespace

class TestIslandView : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init()
    {
        m_rig = std::make_unique<IslandViewTestRig>(QRect(297, 0, 185, 32));
        m_scheduler = m_rig->scheduler;
        m_canvas = m_rig->canvas.get();
        m_view = m_rig->view;
        m_canvas->show();
    }

    void cleanup()
    {
        m_rig.reset();
    }

    void startsCollapsedAsAFloatingPill()
    {
        QCOMPARE(m_view->displayMode(), Mode::collapsed);
        QCOMPARE(m_view->contentMode(), IslandView::ContentMode::history);
        QCOMPARE(m_view->collapsedVisualStyle(), Style::floatingPill);
        QCOMPARE(m_view->presentationBackground(), IslandTheme::collapsedBackground());
        QCOMPARE(m_view->presentationCollapsedContentOpacity(), 1.0);
        QCOMPARE(IslandView::alphaValue(m_view->collapsedRoot()), 1.0);
        QCOMPARE(IslandView::alphaValue(m_view->expandedRoot()), 0.0);
        QVERIFY(!m_view->hasActiveIslandLayerAnimation());
    }

    void immediateSwitchOverridesAMorphInFlight()
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

    void contentModeSwitchShowsTheSearchOnlyForHistory()
    {
        m_rig->expand();
        QVERIFY(m_view->searchInput()->isVisible());
        QCOMPARE(m_view->searchPlaceholderLabel()->text(), QStringLiteral("Search history"));
        m_view->setContentMode(IslandView::ContentMode::shelfGallery, true);
        m_scheduler->advance(200);
        QVERIFY(!m_view->searchInput()->isVisible());
        m_view->setContentMode(IslandView::ContentMode::history, false);
        QVERIFY(m_view->searchInput()->isVisible());
        m_view->focusSearch();
        QCOMPARE(m_canvas->focusWidget(), m_view->searchInput());
        // Collapsed, the field is out of sight and out of reach of the mouse.
        m_view->setDisplayMode(Mode::collapsed, false);
        QCOMPARE(IslandView::alphaValue(m_view->expandedRoot()), 0.0);
        const QPoint onField = m_view->searchInput()->mapTo(m_view, QPoint(5, 5));
        QCOMPARE(m_view->hitTest(onField), m_view);
    }

    void drawsAPillAndAPanel()
    {
        const auto isDark = [](QRgb pixel) { return qAlpha(pixel) > 200 && qRed(pixel) < 40 && qGreen(pixel) < 40; };
        const QImage pill = m_view->grab().toImage();
        QCOMPARE(pill.size(), QSize(185, 32));
        QVERIFY(isDark(pill.pixel(92, 3)));
        QVERIFY(isDark(pill.pixel(92, 28)));
        QVERIFY(qAlpha(pill.pixel(1, 1)) < 60); // rounded: half the height
        QVERIFY(qAlpha(pill.pixel(1, 16)) > 150);

        m_rig->expand();
        const QImage panel = m_view->grab().toImage();
        QVERIFY(isDark(panel.pixel(390, 300)));
        QVERIFY(qAlpha(panel.pixel(390, 300)) < 250); // the expanded surface is slightly see-through
        QVERIFY(qAlpha(panel.pixel(1, 1)) < 60);
        QVERIFY(qAlpha(panel.pixel(778, 428)) < 60);

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

    void displayModeLooks_data()
    {
        QTest::addColumn<Style>("style");
        QTest::addColumn<Mode>("mode");
        QTest::addColumn<bool>("afterMorph");
        QTest::addColumn<Look>("collapsed");
        QTest::addColumn<Look>("expanded");

        const Look visible{true, 1};
        const Look transparent{true, 0};
        const Look hidden{false, 0};
        QTest::newRow("pill") << Style::floatingPill << Mode::collapsed << false << visible << transparent;
        QTest::newRow("notch") << Style::hardwareNotch << Mode::collapsed << false << transparent << transparent;
        QTest::newRow("expanded") << Style::floatingPill << Mode::expanded << false << transparent << visible;
        QTest::newRow("pill after a morph") << Style::floatingPill << Mode::collapsed << true << visible << hidden;
        QTest::newRow("notch after a morph") << Style::hardwareNotch << Mode::collapsed << true << transparent << hidden;
        QTest::newRow("expanded after a morph") << Style::hardwareNotch << Mode::expanded << true << hidden << visible;
    }

    void displayModeLooks()
    {
        QFETCH(Style, style);
        QFETCH(Mode, mode);
        QFETCH(bool, afterMorph);
        QFETCH(Look, collapsed);
        QFETCH(Look, expanded);

        m_view->setCollapsedVisualStyle(style);
        const QRectF pill(297, 0, 185, 32);
        const QRectF panel(0, 0, 780, 430);
        if (afterMorph) {
            const bool expanding = mode == Mode::expanded;
            m_view->setDisplayMode(expanding ? Mode::collapsed : Mode::expanded, false);
            m_view->morph(expanding ? pill : panel, expanding ? panel : pill, expanding, 0.42, 0.8, nullptr);
            // Both roots take part while the morph runs.
            QVERIFY(!m_view->collapsedRoot()->isHidden());
            QVERIFY(!m_view->expandedRoot()->isHidden());
            m_scheduler->advance(3000);
            QVERIFY(!m_view->hasActiveIslandLayerAnimation());
        } else {
            m_view->setDisplayMode(mode == Mode::expanded ? Mode::collapsed : Mode::expanded, false);
            m_view->setDisplayMode(mode, false);
        }
        QCOMPARE(m_view->displayMode(), mode);
        QCOMPARE(lookOf(m_view->collapsedRoot()), collapsed);
        QCOMPARE(lookOf(m_view->expandedRoot()), expanded);
    }

    void contentModeLooks_data()
    {
        QTest::addColumn<Content>("mode");
        QTest::addColumn<Look>("history");
        QTest::addColumn<Look>("gallery");

        QTest::newRow("history") << Content::history << Look{true, 1} << Look{false, 0};
        QTest::newRow("shelf") << Content::shelfGallery << Look{false, 0} << Look{true, 1};
    }

    void contentModeLooks()
    {
        QFETCH(Content, mode);
        QFETCH(Look, history);
        QFETCH(Look, gallery);

        // Collapsed, an animated switch is immediate too.
        m_view->setContentMode(mode == Content::history ? Content::shelfGallery : Content::history, false);
        m_view->setContentMode(mode, true);
        QCOMPARE(m_view->contentMode(), mode);
        QCOMPARE(m_view->modeControl()->selectedSegmentIndex(), int(mode));
        QCOMPARE(lookOf(m_view->historyContainer()), history);
        QCOMPARE(lookOf(m_view->shelfGalleryContainer()), gallery);
        // The list-shaped shelf never shows.
        QVERIFY(m_view->shelfContainer()->isHidden());
    }

    void contentModesCrossFade()
    {
        m_rig->expand();
        m_view->setContentMode(Content::shelfGallery, true);
        QCOMPARE(lookOf(m_view->shelfGalleryContainer()), (Look{true, 0}));
        m_scheduler->advance(50);
        const double incoming = IslandView::alphaValue(m_view->shelfGalleryContainer());
        const double outgoing = IslandView::alphaValue(m_view->historyContainer());
        QVERIFY2(incoming > 0.3 && incoming < 1, qPrintable(QString::number(incoming)));
        QVERIFY2(outgoing > 0 && outgoing < 0.7, qPrintable(QString::number(outgoing)));
        QVERIFY(!m_view->historyContainer()->isHidden());
        m_scheduler->advance(150);
        QCOMPARE(lookOf(m_view->historyContainer()), (Look{false, 0}));
        QCOMPARE(lookOf(m_view->shelfGalleryContainer()), (Look{true, 1}));
    }

    void switchingBackWithinTheFadeEndsOnTheLatestMode()
    {
        m_rig->expand();
        m_view->setContentMode(Content::shelfGallery, true);
        m_scheduler->advance(100);
        m_view->setContentMode(Content::history, true);
        // The first fade's end comes now and must not hide the history.
        m_scheduler->advance(0);
        QVERIFY(!m_view->historyContainer()->isHidden());
        m_scheduler->advance(1000);
        QCOMPARE(lookOf(m_view->historyContainer()), (Look{true, 1}));
        QCOMPARE(lookOf(m_view->shelfGalleryContainer()), (Look{false, 0}));

        // An immediate switch in the middle of a fade ends it.
        m_view->setContentMode(Content::shelfGallery, true);
        m_scheduler->advance(60);
        m_view->setContentMode(Content::history, false);
        QCOMPARE(lookOf(m_view->historyContainer()), (Look{true, 1}));
        m_scheduler->advance(1000);
        QCOMPARE(lookOf(m_view->historyContainer()), (Look{true, 1}));
        QCOMPARE(lookOf(m_view->shelfGalleryContainer()), (Look{false, 0}));
    }

    void sameModeNeitherFadesNorDismissesThePreview()
    {
        const auto item = QuillomareTest::textItem(QStringLiteral("hello"), QuillomareTest::at(0));
        m_view->configure({item}, QuillomareCore::CloudSyncState::idle(), std::nullopt);
        m_view->setDisplayMode(Mode::expanded, false);
        m_view->presentQuickPreview(item, false);
        m_view->setContentMode(Content::history, true);
        QVERIFY(IslandAnimator::shared().keys(m_view->historyContainer()).isEmpty());
        QCOMPARE(m_view->previewingItemID(), std::optional<QUuid>(item.id));
        // Another mode closes the preview.
        m_view->setContentMode(Content::shelfGallery, true);
        QCOMPARE(m_view->previewingItemID(), std::nullopt);
    }

    void modeSwitchClickFades()
    {
        m_rig->expand();
        IslandSegmentedPillControl* control = m_view->modeControl();
        QTest::mouseClick(control, Qt::LeftButton, {}, control->segmentRect(1).center().toPoint());
        QCOMPARE(m_view->contentMode(), Content::shelfGallery);
        QVERIFY(!m_view->historyContainer()->isHidden()); // still fading out
        m_scheduler->advance(200);
        QCOMPARE(lookOf(m_view->shelfGalleryContainer()), (Look{true, 1}));
        QTest::mouseClick(control, Qt::LeftButton, {}, control->segmentRect(0).center().toPoint());
        QCOMPARE(m_view->contentMode(), Content::history);
    }

    void leftPressAnywhereOnTheCollapsedIslandExpandsOnce_data()
    {
        QTest::addColumn<QPoint>("point");
        QTest::newRow("title") << QPoint(40, 16);
        QTest::newRow("dot") << QPoint(21, 16);
        QTest::newRow("count") << QPoint(160, 16);
        QTest::newRow("edge") << QPoint(2, 2);
        // Where the expanded island's mode switch lies, unseen.
        QTest::newRow("under the mode switch") << QPoint(60, 28);
    }

    void leftPressAnywhereOnTheCollapsedIslandExpandsOnce()
    {
        QFETCH(QPoint, point);
        m_view->configure({}, QuillomareCore::CloudSyncState::idle(), std::nullopt);
        int expands = 0;
        m_view->onExpand = [&] { ++expands; };
        QVERIFY(QTest::qWaitForWindowExposed(m_canvas));
        // Through the window, so that the press goes wherever Qt would deliver it.
        const QPoint inWindow = m_view->mapTo(m_canvas, point);
        QTest::mouseClick(m_canvas->windowHandle(), Qt::RightButton, {}, inWindow);
        QCOMPARE(expands, 0);
        QTest::mouseClick(m_canvas->windowHandle(), Qt::LeftButton, {}, inWindow);
        QCOMPARE(expands, 1);
        QCOMPARE(m_view->hitTest(point), m_view);
    }

    void pressOnTheExpandedIslandReachesTheControl()
    {
        int expands = 0;
        m_view->onExpand = [&] { ++expands; };
        m_rig->expand();
        m_view->relayoutNow();
        QVERIFY(QTest::qWaitForWindowExposed(m_canvas));
        IslandSegmentedPillControl* kinds = m_view->kindFilterControl();
        const QPoint onLink = kinds->mapTo(m_canvas, kinds->segmentRect(1).center().toPoint());
        QCOMPARE(m_view->hitTest(m_view->mapFrom(m_canvas, onLink)), kinds);
        QTest::mouseClick(m_canvas->windowHandle(), Qt::LeftButton, {}, onLink);
        QCOMPARE(kinds->selectedSegmentIndex(), 1);
        QCOMPARE(expands, 0);
    }

    void expandedWidthFollowsTheView()
    {
        m_view->setDisplayMode(Mode::expanded, false);
        m_view->setGeometry(0, 0, 900, 430);
        QCOMPARE(m_view->expandedWidthConstraint(), std::optional<double>(866));
        // The height is the deck's business (its floor of 300 points can make the column taller
        // than the 332 asked); the width and the corner follow the view.
        const QRect root = m_view->expandedRoot()->geometry();
        QCOMPARE(root.topLeft(), QPoint(17, 14));
        QCOMPARE(root.width(), 866);
        QVERIFY(root.height() >= 332);
        // The collapsed island does not touch it.
        m_view->setDisplayMode(Mode::collapsed, false);
        m_view->setGeometry(297, 0, 185, 32);
        QCOMPARE(m_view->expandedWidthConstraint(), std::optional<double>(866));
    }

    void placeholderGoesWhileASearchIsTyped()
    {
        m_rig->expand();
        QVERIFY(!m_view->searchPlaceholderLabel()->isHidden());
        m_view->searchInput()->setText(QStringLiteral("abc"));
        QVERIFY(m_view->searchPlaceholderLabel()->isHidden());
        m_view->searchInput()->clear();
        QVERIFY(!m_view->searchPlaceholderLabel()->isHidden());
    }

    void nothingIsDrawnOutsideTheOpeningSurface()
    {
        m_view->morph(QRectF(297, 0, 185, 32), QRectF(0, 0, 780, 430), true, 0.42, 0.8, nullptr);
        m_scheduler->advance(120);
        const QRect surface = m_view->presentationFrame().toAlignedRect();
        QVERIFY(surface.width() < 700);
        // As the screen shows it: grab() would ignore the widget's mask (and render() puts the
        // masked part at the target's origin).
        QImage opening(m_view->size(), QImage::Format_ARGB32_Premultiplied);
        opening.fill(Qt::transparent);
        m_view->render(&opening, m_view->mask().boundingRect().topLeft(), QRegion(), QWidget::DrawChildren);
        const QPoint onModeSwitch(22, 30);
        QVERIFY(!surface.contains(onModeSwitch));
        QCOMPARE(qAlpha(opening.pixel(onModeSwitch)), 0);
        QCOMPARE(qAlpha(opening.pixel(770, 40)), 0);
        m_scheduler->advance(2000);
        // Settled, the whole widget draws again.
        QVERIFY(m_view->mask().isEmpty());
    }

private:
    std::shared_ptr<ManualIslandScheduler> m_scheduler;
    std::unique_ptr<IslandViewTestRig> m_rig;
    QWidget* m_canvas = nullptr;
    IslandView* m_view = nullptr;
};

QUILLOMARE_GUI_TEST_MAIN(TestIslandView)
#include "tst_islandview.moc"
