#include "TestSupport.h"

#include "Island/Kit/IslandImageView.h"
#include "Island/Kit/IslandActionTileButton.h"
#include "Island/Kit/IslandButtonFactory.h"
#include "Island/Kit/IslandIconButton.h"
#include "Island/Kit/IslandListScrollView.h"
#include "Island/Kit/IslandScheduler.h"
#include "Island/Kit/IslandSegmentedPillControl.h"
#include "Island/Kit/IslandTextFieldCell.h"
#include "Island/Kit/IslandTheme.h"
#include "Island/Kit/TabularFigures.h"
#include "Island/Kit/IslandToastView.h"
#include "Island/Kit/IslandTooltipBubbleView.h"
#include "Island/Kit/MetadataChipView.h"

#include <QuillomareCore/Language.h>

#include <QApplication>
#include <QHBoxLayout>
#include <QLineEdit>
#include <QPainter>
#include <QRegularExpression>
#include <QScrollBar>
#include <QSignalSpy>
#include <QStyleOptionFrame>
#include <QWheelEvent>
#include <QWindow>

#include <cmath>

using namespace QuillomareMac;
namespace Language = QuillomareCore::Language;
using Pill = IslandSegmentedPillControl;

namespace {

// The island's surface is dark; controls are checked as they look on an opaque black backdrop.
class Backdrop final : public QWidget
{
public:
    explicit Backdrop(QSize size)
    {
        resize(size);
        setAutoFillBackground(true);
        QPalette palette;
        palette.setColor(QPalette::Window, Qt::black);
        setPalette(palette);
    }
};

bool near(const QColor& actual, const QColor& expected, int tolerance = 3)
{
    return std::abs(actual.red() - expected.red()) <= tolerance &&
           std::abs(actual.green() - expected.green()) <= tolerance &&
           std::abs(actual.blue() - expected.blue()) <= tolerance;
}

QString describe(const QColor& colour)
{
    return QStringLiteral("rgba(%1, %2, %3, %4)")
        .arg(colour.red())
        .arg(colour.green())
        .arg(colour.blue())
        .arg(colour.alpha());
}

QColor pixel(const QImage& image, QPointF point)
{
    return image.pixelColor(point.toPoint());
}

void enter(QWidget* widget)
{
    QEnterEvent event(QPointF(1, 1), QPointF(1, 1), widget->mapToGlobal(QPointF(1, 1)));
    QApplication::sendEvent(widget, &event);
}

void leave(QWidget* widget)
{
    QEvent event(QEvent::Leave);
    QApplication::sendEvent(widget, &event);
}

QWheelEvent wheel(Qt::ScrollPhase phase)
{
    return QWheelEvent(QPointF(10, 10), QPointF(10, 10), QPoint(0, -10), QPoint(0, -120), Qt::NoButton, Qt::NoModifier,
                       phase, false);
}

// The smallest rectangle holding every pixel in which two pictures of one size differ.
QRect differingPixels(const QImage& a, const QImage& b)
{
    QRect bounds;
    for (int y = 0; y < a.height(); ++y) {
        for (int x = 0; x < a.width(); ++x) {
            if (a.pixel(x, y) != b.pixel(x, y))
                bounds |= QRect(x, y, 1, 1);
        }
    }
    return bounds;
}

} // namespace

class TestIslandControls : public QObject
{
    Q_OBJECT

private:
    std::shared_ptr<ManualIslandScheduler> m_clock;

private Q_SLOTS:
    void init()
    {
        m_clock = std::make_shared<ManualIslandScheduler>();
        IslandScheduler::setSharedForTesting(m_clock);
        Language::setIsChineseForTesting(false);
    }

    void cleanup()
    {
        IslandIconButton::hideAllCustomTooltips();
        IslandScheduler::setSharedForTesting(nullptr);
        m_clock.reset();
    }

    // --- Segmented pill control -------------------------------------------------------------

    void segmentSelectionIsClamped_data()
    {
        QTest::addColumn<int>("labelCount");
        QTest::addColumn<bool>("allowsDeselect");
        QTest::addColumn<int>("requested");
        QTest::addColumn<int>("expected");
        QTest::newRow("past the end") << 3 << false << 7 << 2;
        QTest::newRow("negative without deselection") << 3 << false << -1 << 0;
        QTest::newRow("negative with deselection") << 3 << true << -4 << -1;
        QTest::newRow("no labels") << 0 << false << 5 << 0;
        QTest::newRow("inside") << 3 << true << 1 << 1;
    }

    void segmentSelectionIsClamped()
    {
        QFETCH(int, labelCount);
        QFETCH(bool, allowsDeselect);
        QFETCH(int, requested);
        QFETCH(int, expected);
        QStringList labels;
        for (int i = 0; i < labelCount; ++i)
            labels << QStringLiteral("S%1").arg(i);
        Pill pill(labels, std::nullopt, Pill::Prominence::primary, Pill::SelectionStyle::neutral, allowsDeselect);
        pill.resize(240, 28);
        pill.setSelectedSegmentIndex(requested, true);
        QCOMPARE(pill.selectedSegmentIndex(), expected);
    }

    void segmentsFollowThePointAndTheCapsuleSlides()
    {
        Pill pill({QStringLiteral("A"), QStringLiteral("B"), QStringLiteral("C")}, std::nullopt,
                  Pill::Prominence::primary, Pill::SelectionStyle::neutral, false);
        pill.resize(300, 28);
        QCOMPARE(pill.segmentIndex(QPointF(0, 10)), std::optional<int>(0));
        QCOMPARE(pill.segmentIndex(QPointF(150, 10)), std::optional<int>(1));
        // The right edge of the last segment is still the last segment.
        QCOMPARE(pill.segmentIndex(QPointF(300, 10)), std::optional<int>(2));
        QCOMPARE(pill.segmentIndex(QPointF(301, 10)), std::nullopt);
        QCOMPARE(pill.segmentIndex(QPointF(-0.5, 10)), std::nullopt);

        Pill empty({}, std::nullopt, Pill::Prominence::primary, Pill::SelectionStyle::neutral, false);
        empty.resize(300, 28);
        QCOMPARE(empty.segmentIndex(QPointF(10, 10)), std::nullopt);
        QCOMPARE(empty.segmentRect(0), QRectF());

        // The capsule slides to a new segment on a spring.
        pill.setSelectedSegmentIndex(0, false);
        const QRectF first = pill.presentedSelectionRect();
        QCOMPARE(pill.selectionOpacity(), 1.0);
        pill.setSelectedSegmentIndex(2, true);
        const QRectF target = pill.selectionRect();
        QVERIFY(pill.isSliding());
        QCOMPARE(pill.presentedSelectionRect(), first);
        m_clock->advance(80);
        const qreal midway = pill.presentedSelectionRect().center().x();
        QVERIFY(midway > first.center().x() && midway < target.center().x() + 10);
        m_clock->advance(1000);
        QVERIFY(!pill.isSliding());
        QCOMPARE(pill.presentedSelectionRect(), target);

        // Choosing the segment that is already selected never animates.
        pill.setSelectedSegmentIndex(2, true);
        QVERIFY(!pill.isSliding());
        QVERIFY(!pill.isFading());
    }

    void segmentClickSendsTheActionEveryTime()
    {
        Backdrop host(QSize(320, 60));
        auto* pill = new Pill({QStringLiteral("All"), QStringLiteral("Pinned"), QStringLiteral("Mac")}, std::nullopt,
                              Pill::Prominence::primary, Pill::SelectionStyle::neutral, false, &host);
        pill->setGeometry(10, 10, 300, 28);
        host.show();
        QSignalSpy clicked(pill, &Pill::clicked);

        QTest::mouseClick(pill, Qt::LeftButton, {}, QPoint(150, 14));
        QCOMPARE(pill->selectedSegmentIndex(), 1);
        QCOMPARE(clicked.count(), 1);
        // Clicking the selected segment changes nothing but still sends the action.
        QTest::mouseClick(pill, Qt::LeftButton, {}, QPoint(160, 14));
        QCOMPARE(pill->selectedSegmentIndex(), 1);
        QCOMPARE(clicked.count(), 2);
    }

    void deselectableSecondClickClearsAndFadesOut()
    {
        Backdrop host(QSize(320, 60));
        auto* kind =
            new Pill({QStringLiteral("Text"), QStringLiteral("Link"), QStringLiteral("File"), QStringLiteral("Image")},
                     QStringList{QStringLiteral("text.alignleft"), QStringLiteral("link"), QStringLiteral("doc"),
                                 QStringLiteral("photo")},
                     Pill::Prominence::secondary, Pill::SelectionStyle::blue, true, &host);
        kind->setGeometry(10, 10, 280, 28);
        kind->setSelectedSegmentIndex(-1, false);
        host.show();
        QCOMPARE(kind->presentedSelectionOpacity(), 0.0);
        QSignalSpy clicked(kind, &Pill::clicked);

        // Appearing from nothing: it fades in where it is, it does not slide.
        QTest::mouseClick(kind, Qt::LeftButton, {}, QPoint(20, 14));
        QCOMPARE(kind->selectedSegmentIndex(), 0);
        QVERIFY(kind->isFading());
        QVERIFY(!kind->isSliding());
        QVERIFY(kind->presentedSelectionOpacity() < 0.5);
        m_clock->advance(200);
        QCOMPARE(kind->presentedSelectionOpacity(), 1.0);
        // The blue selection paints only the selected segment.
        const QImage image = host.grab().toImage();
        const auto inside = [&](int segment) {
            const QRectF rect = kind->segmentRect(segment).translated(10, 10);
            return pixel(image, QPointF(rect.left() + 4, rect.center().y()));
        };
        const QColor selected = inside(0), other = inside(1);
        QVERIFY2(selected.blue() > selected.red() + 10, qPrintable(describe(selected)));
        QVERIFY2(!near(other, selected, 10), qPrintable(describe(other)));

        QTest::mouseClick(kind, Qt::LeftButton, {}, QPoint(30, 14));
        QCOMPARE(kind->selectedSegmentIndex(), -1);
        QCOMPARE(kind->selectionOpacity(), 0.0);
        QVERIFY(kind->presentedSelectionOpacity() > 0.5);
        m_clock->advance(100);
        QVERIFY(kind->presentedSelectionOpacity() > 0.0);
        m_clock->advance(100);
        QCOMPARE(kind->presentedSelectionOpacity(), 0.0);
        QCOMPARE(clicked.count(), 2);
    }

    void setLabelRedrawsWithoutAnimation()
    {
        Pill pill({QStringLiteral("History 0"), QStringLiteral("Shelf 3")}, std::nullopt, Pill::Prominence::top,
                  Pill::SelectionStyle::neutral, false);
        pill.resize(200, 26);
        QCOMPARE(pill.accessibleName(), QStringLiteral("History 0, Shelf 3"));
        pill.setLabel(QStringLiteral("Shelf 4"), 1);
        QCOMPARE(pill.labels().at(1), QStringLiteral("Shelf 4"));
        QCOMPARE(pill.accessibleName(), QStringLiteral("History 0, Shelf 4"));
        QVERIFY(!pill.isSliding());
        pill.setLabel(QStringLiteral("Nope"), 2);
        pill.setLabel(QStringLiteral("Nope"), -1);
        QCOMPARE(pill.labels(), QStringList({QStringLiteral("History 0"), QStringLiteral("Shelf 4")}));
    }

    void headerCountsKeepTheirPlaceAsTheirDigitsChange()
    {
        // 111 becoming 118 redraws the last digit only: the title, the capsule and the other
        // digits stay where they were (proportional figures moved them all).
        const auto render = [](const QString& count) {
            Pill pill({QStringLiteral("History ") + count, QStringLiteral("Shelf 3")}, std::nullopt,
                      Pill::Prominence::top, Pill::SelectionStyle::neutral, false);
            pill.resize(240, 26);
            QImage image(pill.size(), QImage::Format_ARGB32_Premultiplied);
            image.fill(Qt::black);
            pill.render(&image);
            return image;
        };
        const qreal cell = TabularFigures::digitAdvance(IslandTheme::monospacedDigitFont(9, QFont::DemiBold));
        const QImage before = render(QStringLiteral("111"));
        for (const QString& after : {QStringLiteral("118"), QStringLiteral("110"), QStringLiteral("114")}) {
            const QRect changed = differingPixels(before, render(after));
            QVERIFY2(!changed.isEmpty(), qPrintable(after));
            QVERIFY2(changed.width() <= std::ceil(cell) + 1,
                     qPrintable(after + QStringLiteral(": %1 px changed, one digit is %2").arg(changed.width()).arg(cell)));
        }
        // The capsule is as wide for any three digits.
        const QRect grown = differingPixels(render(QStringLiteral("100")), render(QStringLiteral("188")));
        QVERIFY(grown.width() <= 2 * std::ceil(cell) + 1);
    }

    void numericSuffixSplits_data()
    {
        QTest::addColumn<QString>("label");
        QTest::addColumn<QString>("title");
        QTest::addColumn<QString>("count");
        QTest::newRow("word and digits") << QStringLiteral("History 12") << QStringLiteral("History")
                                         << QStringLiteral("12");
        QTest::newRow("extra spaces") << QStringLiteral("  My  Shelf   7 ") << QStringLiteral("My Shelf")
                                      << QStringLiteral("7");
        QTest::newRow("last word not digits")
            << QStringLiteral("Top 10 items") << QStringLiteral("Top 10 items") << QString();
        QTest::newRow("single word") << QStringLiteral("History") << QStringLiteral("History") << QString();
        QTest::newRow("bare number") << QStringLiteral("12") << QStringLiteral("12") << QString();
    }

    void numericSuffixSplits()
    {
        QFETCH(QString, label);
        QFETCH(QString, title);
        QFETCH(QString, count);
        const auto [splitTitle, splitCount] = Pill::splitNumericSuffix(label);
        QCOMPARE(splitTitle, title);
        QCOMPARE(splitCount.value_or(QString()), count);
        QCOMPARE(splitCount.has_value(), !count.isEmpty());
    }

    void iconListsArePaddedAndUnknownSymbolsDropped()
    {
        QCOMPARE(Pill::makeIcons(std::nullopt, 3), QStringList({QString(), QString(), QString()}));
        QCOMPARE(Pill::makeIcons(QStringList{QStringLiteral("link"), QStringLiteral("no.such.symbol")}, 3),
                 QStringList({QStringLiteral("link"), QString(), QString()}));
        // A longer list is kept whole.
        QCOMPARE(Pill::makeIcons(QStringList{QStringLiteral("doc"), QStringLiteral("photo")}, 1).size(), 2);
    }

    // --- Action tiles -----------------------------------------------------------------------

    void tileFlashesCopiedAndRestoresAfter900msFromTheLastCopy()
    {
        IslandActionTileButton tile(QStringLiteral("Original"), QString(), QStringLiteral("doc.on.doc"),
                                    QStringLiteral("Copy original (Ctrl+1)"));
        const QColor restingTitle = tile.titleColor();
        const QColor restingIcon = tile.iconTint();
        tile.flashCopySuccess();
        QCOMPARE(tile.text(), QStringLiteral("Copied"));
        QCOMPARE(tile.shownIconName(), QStringLiteral("checkmark.circle.fill"));
        QVERIFY(tile.titleColor() != restingTitle);
        QCOMPARE(tile.accessibleName(), QStringLiteral("Original"));
        const QColor copiedIcon = tile.iconTint();
        // Hovering during the flash brings the colours back but keeps the check.
        enter(&tile);
        QCOMPARE(tile.shownTitle(), QStringLiteral("Copied"));
        QCOMPARE(tile.shownIconName(), QStringLiteral("checkmark.circle.fill"));
        QCOMPARE(tile.titleColor(), restingTitle);
        QVERIFY(tile.iconTint() != copiedIcon);
        leave(&tile);

        m_clock->advance(899);
        QCOMPARE(tile.text(), QStringLiteral("Copied"));
        m_clock->advance(1);
        QCOMPARE(tile.text(), QStringLiteral("Original"));
        QCOMPARE(tile.shownIconName(), QStringLiteral("doc.on.doc"));
        QCOMPARE(tile.titleColor(), restingTitle);
        QCOMPARE(tile.iconTint(), restingIcon);
        QVERIFY(!tile.isShowingCopyConfirmation());

        // A second copy during the flash keeps the confirmation for 900 ms from then.
        tile.flashCopySuccess();
        m_clock->advance(500);
        tile.flashCopySuccess();
        m_clock->advance(899);
        QCOMPARE(tile.text(), QStringLiteral("Copied"));
        m_clock->advance(1);
        QCOMPARE(tile.text(), QStringLiteral("Original"));
    }

    void disabledTileKeepsItsRestingLookAndIgnoresClicks()
    {
        Backdrop host(QSize(100, 80));
        auto* tile = new IslandActionTileButton(QStringLiteral("Markdown"), QString(),
                                                QStringLiteral("text.badge.plus"), QString(), &host);
        tile->setGeometry(10, 10, 44, 48);
        host.show();
        QSignalSpy clicked(tile, &QAbstractButton::clicked);
        const QColor resting = tile->backgroundColor();
        const QColor restingBorder = tile->borderColor();
        const QColor enabledIcon = tile->iconTint();
        enter(tile);
        QVERIFY(tile->backgroundColor() != resting);
        QVERIFY(tile->borderColor() != restingBorder);
        leave(tile);
        QCOMPARE(tile->backgroundColor(), resting);

        tile->setEnabled(false);
        // The widget stays enabled so it still gets hover events, but the look does not change.
        QVERIFY(tile->QWidget::isEnabled());
        enter(tile);
        QVERIFY(tile->isHovering());
        QCOMPARE(tile->backgroundColor(), resting);
        QCOMPARE(tile->borderColor(), restingBorder);
        QVERIFY(tile->iconTint().alphaF() < enabledIcon.alphaF());
        QTest::mouseClick(tile, Qt::LeftButton, {}, QPoint(20, 20));
        QCOMPARE(clicked.count(), 0);

        tile->setEnabled(true);
        QTest::mouseClick(tile, Qt::LeftButton, {}, QPoint(20, 20));
        QCOMPARE(clicked.count(), 1);

        // Disabling through QWidget's own setter means the same thing.
        static_cast<QWidget*>(tile)->setEnabled(false);
        QVERIFY(!tile->isEnabled());
        QVERIFY(tile->QWidget::isEnabled());
    }

    void tileTitleSizeFollowsItsLength_data()
    {
        QTest::addColumn<QString>("title");
        QTest::addColumn<qreal>("pointSize");
        QTest::addColumn<int>("lines");
        QTest::newRow("five letters") << QStringLiteral("Clean") << 9.2 << 1;
        QTest::newRow("seven chinese") << QStringLiteral("复制为纯文本啊") << 8.6 << 1;
        QTest::newRow("line break") << QStringLiteral("Show in\nFolder") << 9.2 << 2;
        QTest::newRow("emoji are one character each") << QStringLiteral("👍🏽👍🏽👍🏽") << 9.2 << 1;
    }

    void tileTitleSizeFollowsItsLength()
    {
        QFETCH(QString, title);
        QFETCH(qreal, pointSize);
        QFETCH(int, lines);
        IslandActionTileButton tile(title, QString(), QStringLiteral("folder"), QString());
        QCOMPARE(tile.titlePointSize(), pointSize);
        QCOMPARE(tile.titleMaximumLines(), lines);
    }

    // Both lines of a two-line title show whole in a tile of the inspector's size, in Chinese too,
    // whose fallback font has taller lines than the title font: the second line is as tall as
    // the first and ends inside the tile.
    void tileShowsBothLinesOfItsTitle_data()
    {
        QTest::addColumn<QString>("title");
        QTest::newRow("english") << QStringLiteral("Show in\nFolder");
        QTest::newRow("chinese") << QStringLiteral("在文件夹中\n显示");
    }

    void tileShowsBothLinesOfItsTitle()
    {
        QFETCH(QString, title);
        Backdrop host(QSize(62, 47));
        auto* tile = new IslandActionTileButton(title, QString(), QStringLiteral("folder"), QString(), &host);
        tile->resize(host.size());
        const QImage image = host.grab().toImage();
        // Runs of rows with bright ink, the border's rows and columns left out: the icon, then
        // one run per line of the title.
        QList<std::pair<int, int>> runs;
        for (int y = 2; y < image.height() - 2; ++y) {
            bool ink = false;
            for (int x = 2; x < image.width() - 2 && !ink; ++x)
                ink = qGray(image.pixel(x, y)) > 110;
            if (!ink)
                continue;
            if (!runs.isEmpty() && runs.last().second == y - 1)
                runs.last().second = y;
            else
                runs.append({y, y});
        }
        QVERIFY2(runs.size() == 3, qPrintable(QStringLiteral("%1 runs of ink").arg(runs.size())));
        const int first = runs.at(1).second - runs.at(1).first;
        const int second = runs.at(2).second - runs.at(2).first;
        QVERIFY2(second >= first - 1, qPrintable(QStringLiteral("lines of %1 and %2 rows").arg(first).arg(second)));
        QVERIFY(runs.first().first > 3); // the icon is not pushed out at the top
    }

    void tileGrabShowsTheHoverFill()
    {
        Backdrop host(QSize(64, 68));
        auto* tile = new IslandActionTileButton(QStringLiteral("Copy"), QString(), QStringLiteral("doc.on.doc"),
                                                QString(), &host);
        tile->setGeometry(10, 10, 44, 48);
        const QColor resting = pixel(host.grab().toImage(), QPointF(13, 34));
        enter(tile);
        const QImage image = host.grab().toImage();
        QVERIFY2(pixel(image, QPointF(13, 34)).lightness() > resting.lightness(), qPrintable(describe(resting)));
        // Something light (the icon or the title) is drawn in the middle column.
        bool drawn = false;
        for (int y = 12; y < 56 && !drawn; ++y)
            drawn = image.pixelColor(32, y).lightness() > 120;
        QVERIFY(drawn);
    }

    // --- Icon buttons and their tooltips ----------------------------------------------------

    void iconButtonSymbolSizeIsClamped_data()
    {
        QTest::addColumn<qreal>("iconSize");
        QTest::addColumn<qreal>("pointSize");
        QTest::newRow("header") << 22.0 << 22.0 * 0.62;
        QTest::newRow("small row button") << 15.0 << 11.0;
        QTest::newRow("large") << 28.0 << 15.0;
    }

    void iconButtonSymbolSizeIsClamped()
    {
        QFETCH(qreal, iconSize);
        QFETCH(qreal, pointSize);
        IslandIconButton button(QStringLiteral("xmark"), QStringLiteral("Hide"), iconSize, IslandTheme::white(0.6),
                                IslandTheme::white(0.94));
        QCOMPARE(button.symbolPointSize(), pointSize);
    }

    void iconButtonHoverShowsATooltipAboveTheIsland()
    {
        // A stand-in for the island's panel: frameless and kept above other windows.
        QWidget island(nullptr, Qt::Tool | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint);
        island.setGeometry(300, 200, 400, 120);
        auto* button = IslandButtonFactory::makeHeaderIconButton(QStringLiteral("gearshape"),
                                                                 QStringLiteral("Settings"), &island, {}, &island);
        button->move(100, 40);
        island.show();
        QVERIFY(QTest::qWaitForWindowExposed(&island));

        enter(button);
        QVERIFY(button->isHovering());
        QCOMPARE(button->iconTint(), IslandTheme::white(0.94)); // the hover tint it was made with
        QVERIFY(button->backgroundColor().alpha() > 0);

        QWidget* tooltip = button->tooltipWindow();
        QVERIFY(tooltip);
        QVERIFY(tooltip->isWindow());
        QVERIFY(tooltip->isVisible());
        QCOMPARE(IslandIconButton::tooltipOwners(), QList<IslandIconButton*>{button});
        QVERIFY(tooltip->windowHandle());
        QCOMPARE(tooltip->windowHandle()->transientParent(), island.windowHandle());
        QVERIFY(!tooltip->isActiveWindow());
        QCOMPARE(tooltip->size(), IslandTooltipBubbleView::bubbleSize(QStringLiteral("Settings")));
        // Centred 7 points above the button.
        const QRect anchor(button->mapToGlobal(QPoint(0, 0)), button->size());
        QCOMPARE(tooltip->geometry().bottom() + 1, anchor.top() - 7);
        QVERIFY(std::abs(tooltip->geometry().center().x() - anchor.center().x()) <= 1);

        leave(button);
        QVERIFY(!button->tooltipWindow());
        QVERIFY(IslandIconButton::tooltipOwners().isEmpty());
        QCOMPARE(button->backgroundColor(), QColor(Qt::transparent));
    }

    void tooltipPlacementStaysOnScreen_data()
    {
        QTest::addColumn<QRect>("anchor");
        QTest::addColumn<QPoint>("expected");
        // A tooltip of 80 × 30 on a screen of 1000 × 800.
        QTest::newRow("room above") << QRect(460, 400, 22, 22) << QPoint(431, 363);
        QTest::newRow("top edge opens below") << QRect(460, 10, 22, 22) << QPoint(431, 39);
        QTest::newRow("right edge pushed left") << QRect(980, 400, 22, 22) << QPoint(1000 - 80 - 6, 363);
        QTest::newRow("left edge pushed right") << QRect(0, 400, 22, 22) << QPoint(6, 363);
    }

    void tooltipPlacementStaysOnScreen()
    {
        QFETCH(QRect, anchor);
        QFETCH(QPoint, expected);
        QCOMPARE(IslandIconButton::tooltipPosition(anchor, QSize(80, 30), QRect(0, 0, 1000, 800)), expected);
    }

    void hideAllPressAndHidingCloseTooltips()
    {
        Backdrop host(QSize(200, 100));
        auto* first =
            IslandButtonFactory::makeIconButton(QStringLiteral("xmark"), QStringLiteral("Hide"), nullptr, {}, &host);
        auto* second = IslandButtonFactory::makeIconButton(QStringLiteral("pin"), QStringLiteral("Pin this item"),
                                                           nullptr, {}, &host);
        second->move(60, 0);
        host.show();
        enter(first);
        enter(second);
        QCOMPARE(IslandIconButton::tooltipOwners().size(), 2);
        QPointer<QWidget> firstWindow = first->tooltipWindow();

        IslandIconButton::hideAllCustomTooltips();
        QVERIFY(IslandIconButton::tooltipOwners().isEmpty());
        QVERIFY(!first->tooltipWindow());
        QVERIFY(!second->tooltipWindow());
        QVERIFY(!firstWindow);

        // Entering again opens a fresh one.
        leave(first);
        enter(first);
        QVERIFY(first->tooltipWindow());
        QCOMPARE(IslandIconButton::tooltipOwners(), QList<IslandIconButton*>{first});

        // A press closes it, and so does hiding the window.
        auto* silent = new IslandIconButton(QStringLiteral("ellipsis"), QString(), 16, IslandTheme::white(0.42),
                                            IslandTheme::white(0.88), &host);
        silent->move(120, 0);
        silent->show();
        enter(silent);
        QVERIFY(!silent->tooltipWindow()); // an empty tooltip never opens
        QTest::mousePress(first, Qt::LeftButton, {}, QPoint(5, 5));
        QVERIFY(!first->tooltipWindow());
        QTest::mouseRelease(first, Qt::LeftButton, {}, QPoint(5, 5));

        leave(first);
        enter(first);
        QVERIFY(first->tooltipWindow());
        host.hide();
        QVERIFY(!first->tooltipWindow());
        QVERIFY(IslandIconButton::tooltipOwners().isEmpty());

        // Disabled, the tint dims and no hover fill is drawn.
        const QColor base = first->iconTint();
        first->setEnabled(false);
        QVERIFY(first->iconTint().alphaF() < base.alphaF());
        QCOMPARE(first->backgroundColor(), QColor(Qt::transparent));
    }

    // --- Tooltip bubble, toast, chips -------------------------------------------------------

    void bubbleSizesAndDrawsItsText()
    {
        const QFontMetricsF metrics(IslandTooltipBubbleView::tooltipFont());
        const int line = int(std::ceil(metrics.height()));
        QCOMPARE(IslandTooltipBubbleView::bubbleSize(QString()), QSize(46, line + 12));
        QCOMPARE(IslandTooltipBubbleView::bubbleSize(QStringLiteral("x")).width(), 46);

        const QString longLine = QStringLiteral("Strip tracking parameters from the link and copy it again");
        QVERIFY(metrics.horizontalAdvance(longLine) > 250);
        const QSize wrapped = IslandTooltipBubbleView::bubbleSize(longLine);
        QCOMPARE(wrapped.width(), 260 + 22);
        QCOMPARE(wrapped.height(), 2 * line + 12);

        // Three lines' worth is cut to two.
        const QSize cut = IslandTooltipBubbleView::bubbleSize(longLine.repeated(3));
        QCOMPARE(cut.height(), 2 * line + 12);

        // Drawn dark, with rounded corners that leave the backdrop showing.
        Backdrop host(QSize(120, 60));
        host.setPalette(QPalette(Qt::white));
        auto* bubble = new IslandTooltipBubbleView(QStringLiteral("Settings"), &host);
        bubble->setGeometry(10, 10, bubble->sizeHint().width(), bubble->sizeHint().height());
        const QImage image = host.grab().toImage();
        QVERIFY(pixel(image, QPointF(14, 10 + bubble->height() / 2)).lightness() < 40);
        QVERIFY(pixel(image, QPointF(10, 10)).lightness() > 150);
    }

    void toastHidesAfterItsDelayAndLetsClicksThrough()
    {
        Backdrop host(QSize(500, 120));
        auto* list = new QWidget(&host);
        list->setGeometry(0, 0, 500, 120);
        auto* toast = new IslandToastView(&host);
        toast->setGeometry(40, 46, 420, 30);
        host.show();
        QVERIFY(!toast->isVisible());
        QCOMPARE(toast->alpha(), 0.0);

        toast->showTransientStatus(QStringLiteral("Copied to clipboard"));
        QVERIFY(toast->isVisible());
        QCOMPARE(host.childAt(QPoint(200, 60)), list);
        QCOMPARE(toast->hitTest(QPointF(10, 10)), nullptr);
        QCOMPARE(toast->text(), QStringLiteral("Copied to clipboard"));
        m_clock->advance(IslandToastView::fadeInMilliseconds);
        QCOMPARE(toast->alpha(), 1.0);
        QVERIFY2(!near(pixel(host.grab().toImage(), QPointF(40 + 410, 46 + 15)), Qt::black, 8), "the capsule is drawn");
        m_clock->advance(1400 - IslandToastView::fadeInMilliseconds - 1);
        QCOMPARE(toast->alpha(), 1.0);
        m_clock->advance(1 + 140);
        QVERIFY(toast->alpha() > 0.0 && toast->alpha() < 1.0);
        QVERIFY(toast->isVisible());
        m_clock->advance(140);
        QCOMPARE(toast->alpha(), 0.0);
        QVERIFY(!toast->isVisible());

        // A new message restarts the delay.
        toast->showTransientStatus(QStringLiteral("First"));
        m_clock->advance(1000);
        toast->showTransientStatus(QStringLiteral("Second"));
        QCOMPARE(toast->text(), QStringLiteral("Second"));
        m_clock->advance(1399);
        QCOMPARE(toast->alpha(), 1.0);
        // Even during the fade-out a message brings the toast back up for its full time.
        m_clock->advance(1 + 200);
        QVERIFY(toast->alpha() < 1.0);
        toast->showTransientStatus(QStringLiteral("Back again"));
        m_clock->advance(400);
        QVERIFY(toast->isVisible());
        QCOMPARE(toast->alpha(), 1.0);
        QVERIFY(toast->hasPendingHide());
        m_clock->advance(1000 + 280);
        QVERIFY(!toast->isVisible());
    }

    void toastWidthFollowsTheTextUpToItsLimit()
    {
        IslandToastView toast;
        toast.setText(QStringLiteral("Saved"));
        const int shortWidth = toast.sizeHint().width();
        QVERIFY(shortWidth < 120);
        toast.setText(QStringLiteral("A very long status message that goes on and on ").repeated(4));
        QCOMPARE(toast.sizeHint().width(), IslandToastView::maximumToastWidth);
        // Wrapped rather than cut: it grows downwards, not past its width.
        QVERIFY(toast.sizeHint().height() > 30);
    }

    // A message too long for one line is shown whole, wrapped between words (or between Chinese
    // characters): nothing is cut off, no line runs past the toast's edge, and the capsule is tall
    // enough that its last line is drawn.
    void toastWrapsALongMessage_data()
    {
        QTest::addColumn<QString>("message");
        QTest::newRow("damaged image") << QStringLiteral(
            "The image couldn't be read from the history file: the file holds a different image in its place. Removed "
            "from the history: the image copied 2026-12-08 10:11:12 (1920 × 1080). Everything else is saved");
        QTest::newRow("launch at login") << QStringLiteral("Failed to set launch at login: Permission denied — couldn't "
                                                           "write “~/.config/autostart/quillomare.desktop”");
        QTest::newRow("Chinese") << QStringLiteral("无法从历史文件读取图片：文件中的图片已被替换。已从历史中移除：2026-12-08 "
                                                   "10:11:12 复制的图片（1920 × 1080）。其余内容均已保存");
    }

    void toastWrapsALongMessage()
    {
        QFETCH(QString, message);
        const QFontMetricsF metrics(IslandTheme::systemFont(11.5, QFont::Medium));
        const qreal room = IslandToastView::maximumToastWidth - 2 * 14;
        QVERIFY2(metrics.horizontalAdvance(message) > room, "the message is longer than one line");

        Backdrop host(QSize(500, 200));
        auto* toast = new IslandToastView(&host);
        host.show();
        toast->showTransientStatus(message);
        toast->setGeometry(QRect(QPoint(40, 20), toast->sizeHint()));
        m_clock->advance(IslandToastView::fadeInMilliseconds);

        const QStringList lines = toast->shownLines();
        QVERIFY2(lines.size() >= 2, qPrintable(lines.join(u'|')));
        const auto letters = [](QString text) { return text.remove(QRegularExpression(QStringLiteral("\\s"))); };
        QCOMPARE(letters(lines.join(QString())), letters(message));
        for (const QString& line : lines)
            QVERIFY2(metrics.horizontalAdvance(line) <= room, qPrintable(line));
        QCOMPARE(toast->height(), toast->sizeHint().height());

        // Text is drawn in the band of the last line, inside the capsule.
        const QImage image = host.grab().toImage();
        const qreal lineHeight = metrics.lineSpacing();
        const int bottom = toast->geometry().bottom() - int((30 - lineHeight) / 2);
        int lit = 0;
        for (int y = bottom - int(lineHeight) + 2; y < bottom - 1; ++y) {
            for (int x = toast->x() + 14; x < toast->geometry().right() - 14; ++x)
                lit += image.pixelColor(x, y).lightness() > 160 ? 1 : 0;
        }
        QVERIFY2(lit > 20, qPrintable(QString::number(lit)));
    }

    // A message that would fill the island stops after a few lines with an ellipsis; the island's
    // header tooltip keeps all of it.
    void toastEndsAnEndlessMessageWithAnEllipsis()
    {
        IslandToastView toast;
        const QString message = QStringLiteral("Removed from the history: the image copied 2026-12-08 10:11:12, ").repeated(12);
        toast.setText(message);
        const QStringList lines = toast.shownLines();
        QCOMPARE(lines.size(), IslandToastView::maximumMessageLines);
        QVERIFY2(lines.last().endsWith(QChar(0x2026)), qPrintable(lines.last()));
        QVERIFY(message.startsWith(lines.first()));
        const QFontMetricsF metrics(IslandTheme::systemFont(11.5, QFont::Medium));
        QVERIFY(metrics.horizontalAdvance(lines.last()) <= IslandToastView::maximumToastWidth - 2 * 14);
    }

    // One line keeps its 1.4 s; each further line gives the reader several seconds more (at least
    // three), and the next message has its own time.
    void toastGivesEachFurtherLineTimeToBeRead()
    {
        Backdrop host(QSize(500, 200));
        auto* toast = new IslandToastView(&host);
        host.show();
        const QString threeLines = QStringLiteral(
            "The image couldn't be read from the history file: the file holds a different image in its place. Removed "
            "from the history: the image copied 2026-12-08 10:11:12 (1920 × 1080). Everything else is saved");
        toast->showTransientStatus(threeLines);
        QCOMPARE(toast->shownLines().size(), 3);
        m_clock->advance(1400 + 2 * 3000);
        QCOMPARE(toast->alpha(), 1.0);
        QVERIFY(toast->remainingMilliseconds() > IslandToastView::fadeOutMilliseconds);
        m_clock->advance(toast->remainingMilliseconds());
        QVERIFY(!toast->isVisible());
        QCOMPARE(toast->remainingMilliseconds(), 0);

        toast->showTransientStatus(threeLines);
        m_clock->advance(1000);
        toast->showTransientStatus(QStringLiteral("Copied to clipboard"));
        m_clock->advance(1400 + IslandToastView::fadeOutMilliseconds);
        QVERIFY(!toast->isVisible());
    }

    // A message that names a place gives it a line of its own: the folder is shown whole, not
    // cut at the toast's edge after the sentence before it.
    void toastShowsAPlaceOnALineOfItsOwn()
    {
        IslandToastView toast;
        const QString folder = QStringLiteral("/home/someone/Downloads/Quillomare");
        toast.setText(QStringLiteral("No file manager is available to show it; it is in\n") + folder);
        const QFontMetricsF metrics(IslandTheme::systemFont(11.5, QFont::Medium));
        QVERIFY(toast.sizeHint().height() >= 30 + int(metrics.lineSpacing()));
        QCOMPARE(toast.height(), toast.sizeHint().height());
        QVERIFY(toast.sizeHint().width() >= metrics.horizontalAdvance(folder) + 2 * 14);
        QVERIFY(toast.sizeHint().width() <= IslandToastView::maximumToastWidth);
        toast.setText(QStringLiteral("Saved"));
        QCOMPARE(toast.height(), 30);
    }

    // A folder too long for one line is shown whole: it wraps after its separators onto lines of
    // its own, the toast grows to hold them, and no line runs past the toast's edge.
    void toastShowsALongFolderWhole_data()
    {
        QTest::addColumn<QString>("sentence");
        QTest::addColumn<QString>("folder");
        const QString deep = QStringLiteral("/home/someone/.local/share/Quillomare/ShelfFiles/"
                                            "6F1C0D2E-4B7A-4C55-9E0B-1A2B3C4D5E6F/Project Reports 2024 (final, "
                                            "reviewed by everyone)/Quarterly figures and their sources");
        QTest::newRow("English") << QStringLiteral("No file manager is available to show it; it is in") << deep;
        QTest::newRow("Chinese") << QStringLiteral("没有可用的文件管理器来显示它，它位于")
                                 << QStringLiteral("/home/someone/文档/二〇二四年度项目报告（终稿，已经全体审阅）/"
                                                   "季度数据以及它们的来源与说明/第三季度/附件与原始表格");
        // A name wider than a line by itself is cut between characters, still all there.
        QTest::newRow("one long name") << QStringLiteral("No file manager is available to show it; it is in")
                                       << QStringLiteral("/tmp/") + QString(160, u'x') + QStringLiteral("/end");
    }

    void toastShowsALongFolderWhole()
    {
        QFETCH(QString, sentence);
        QFETCH(QString, folder);
        const QFontMetricsF metrics(IslandTheme::systemFont(11.5, QFont::Medium));
        const qreal room = IslandToastView::maximumToastWidth - 2 * 14;
        QVERIFY2(metrics.horizontalAdvance(folder) > room, "the folder is longer than one line");

        IslandToastView toast;
        toast.setText(sentence + u'\n' + folder);
        const QStringList lines = toast.shownLines();
        QCOMPARE(lines.first(), sentence);
        QCOMPARE(lines.mid(1).join(QString()), folder);
        QVERIFY(lines.size() >= 3);
        for (const QString& line : lines)
            QVERIFY2(metrics.horizontalAdvance(line) <= room, qPrintable(line));
        QCOMPARE(toast.height(), 30 + int(std::ceil(metrics.lineSpacing() * qreal(lines.size() - 1))));
        QCOMPARE(toast.sizeHint().height(), toast.height());
        QVERIFY(toast.sizeHint().width() <= IslandToastView::maximumToastWidth);
        // Breaks fall after separators where the names allow it, and the folder's own name ends it.
        QVERIFY(lines[1].endsWith(u'/'));
        QVERIFY(lines.last().endsWith(folder.section(u'/', -1)));
    }

    // A path that would fill the island keeps its start and its end; the toast stays a note.
    void toastKeepsTheEndsOfAnEndlessFolder()
    {
        IslandToastView toast;
        QString folder;
        for (int level = 0; level < 120; ++level)
            folder += QStringLiteral("/level-%1").arg(level);
        toast.setText(QStringLiteral("No file manager is available to show it; it is in\n") + folder);
        const QStringList lines = toast.shownLines();
        QVERIFY2(lines.size() <= 7, qPrintable(QString::number(lines.size())));
        QVERIFY(lines[1].startsWith(QStringLiteral("/level-0/level-1/")));
        QVERIFY(lines.last().endsWith(QStringLiteral("/level-119")));
        QVERIFY(lines.contains(QString(QChar(0x2026))));
    }

    void squeezedChipCutsItsTextAtTheTail()
    {
        QWidget row;
        auto* layout = new QHBoxLayout(&row);
        layout->setContentsMargins(0, 0, 0, 0);
        layout->setSpacing(4);
        auto* chip = new MetadataChipView(QStringLiteral("2026-01-01 12:00 · 1.2 MB · 1920×1080"));
        auto* neighbour = new QWidget;
        neighbour->setFixedWidth(60);
        layout->addWidget(chip);
        layout->addWidget(neighbour);
        row.resize(120, 18);
        row.show();
        layout->activate();
        QCOMPARE(neighbour->width(), 60);
        QVERIFY(chip->width() < chip->sizeHint().width());
        QVERIFY(chip->shownText().endsWith(QChar(0x2026)));

        row.resize(600, 18);
        layout->activate();
        QCOMPARE(chip->shownText(), chip->text());
        QCOMPARE(chip->width(), chip->sizeHint().width());
    }

    // --- List scroll view -------------------------------------------------------------------

    void scrollingReportsItsEnd()
    {
        IslandListScrollView view;
        int activity = 0;
        int ended = 0;
        view.onScrollActivity = [&] { ++activity; };
        view.onScrollEnded = [&] { ++ended; };
        QWheelEvent first = wheel(Qt::NoScrollPhase);
        QApplication::sendEvent(view.viewport(), &first);
        m_clock->advance(30);
        QWheelEvent second = wheel(Qt::NoScrollPhase);
        QApplication::sendEvent(view.viewport(), &second);
        QCOMPARE(activity, 2);
        m_clock->advance(49);
        QCOMPARE(ended, 0);
        m_clock->advance(1);
        QCOMPARE(ended, 1);
        m_clock->advance(500);
        QCOMPARE(ended, 1);

        // A gesture reports its end right after it ends, not after a quiet moment.
        ended = 0;
        QWheelEvent moving = wheel(Qt::ScrollUpdate);
        QApplication::sendEvent(view.viewport(), &moving);
        m_clock->advance(100);
        QWheelEvent momentum = wheel(Qt::ScrollMomentum);
        QApplication::sendEvent(view.viewport(), &momentum);
        m_clock->advance(119);
        QCOMPARE(ended, 0);
        QWheelEvent end = wheel(Qt::ScrollEnd);
        QApplication::sendEvent(view.viewport(), &end);
        m_clock->advance(0);
        QCOMPARE(ended, 1);
        m_clock->advance(200);
        QCOMPARE(ended, 1);
    }

    void boundsChangesCountAsScrolling()
    {
        IslandListScrollView view;
        auto* document = new FlippedDocumentView;
        document->resize(200, 2000);
        view.setWidget(document);
        view.resize(200, 300);
        int activity = 0;
        int ended = 0;
        view.onScrollActivity = [&] { ++activity; };
        view.onScrollEnded = [&] { ++ended; };
        view.installBoundsObserver();
        view.installBoundsObserver();
        view.show();
        view.verticalScrollBar()->setValue(120);
        QCOMPARE(activity, 1);
        m_clock->advance(50);
        QCOMPARE(ended, 1);
    }

    void unhandledMouseEventsGoToTheFallbacks()
    {
        // What the island's list sits in: it sees the presses the list lets through.
        class Container final : public QWidget
        {
        public:
            int presses = 0;

        protected:
            void mousePressEvent(QMouseEvent* event) override
            {
                ++presses;
                event->accept();
            }
        };
        Container container;
        container.resize(240, 240);
        auto* view = new IslandListScrollView(&container);
        view->setGeometry(10, 10, 200, 200);
        container.show();
        int downs = 0;
        bool handle = true;
        view->onMouseDownFallback = [&](QMouseEvent*) {
            ++downs;
            return handle;
        };

        QTest::mousePress(view->viewport(), Qt::LeftButton, {}, QPoint(20, 20));
        QTest::mouseRelease(view->viewport(), Qt::LeftButton, {}, QPoint(20, 20));
        QCOMPARE(downs, 1);
        QCOMPARE(container.presses, 0);

        handle = false;
        QTest::mousePress(view->viewport(), Qt::LeftButton, {}, QPoint(20, 20));
        QTest::mouseRelease(view->viewport(), Qt::LeftButton, {}, QPoint(20, 20));
        QCOMPARE(downs, 2);
        QCOMPARE(container.presses, 1);
    }

    // --- Aspect-fill image view -------------------------------------------------------------

    void aspectFillCoversTheBounds_data()
    {
        QTest::addColumn<QSizeF>("image");
        QTest::addColumn<QRectF>("bounds");
        QTest::addColumn<QRectF>("expected");
        QTest::newRow("wide") << QSizeF(400, 100) << QRectF(0, 0, 100, 100) << QRectF(-150, 0, 400, 100);
        QTest::newRow("tall") << QSizeF(100, 400) << QRectF(0, 0, 100, 100) << QRectF(0, -150, 100, 400);
        QTest::newRow("small") << QSizeF(50, 50) << QRectF(0, 0, 100, 200) << QRectF(-50, 0, 200, 200);
        QTest::newRow("empty image") << QSizeF(0, 50) << QRectF(0, 0, 100, 100) << QRectF();
        QTest::newRow("empty view") << QSizeF(50, 50) << QRectF(0, 0, 0, 100) << QRectF();
    }

    void aspectFillCoversTheBounds()
    {
        QFETCH(QSizeF, image);
        QFETCH(QRectF, bounds);
        QFETCH(QRectF, expected);
        QCOMPARE(AspectFillImageView::aspectFillRect(image, bounds), expected);
    }

    void imageViewDrawsTheCentreOfAWideImage()
    {
        QImage wide(400, 100, QImage::Format_RGB32);
        QPainter painter(&wide);
        painter.fillRect(0, 0, 200, 100, Qt::red);
        painter.fillRect(200, 0, 200, 100, Qt::blue);
        painter.end();
        Backdrop host(QSize(120, 120));
        auto* view = new AspectFillImageView(&host);
        view->setGeometry(10, 10, 100, 100);
        view->setImage(wide);
        const QImage image = host.grab().toImage();
        QVERIFY(near(pixel(image, QPointF(10 + 25, 60)), Qt::red));
        QVERIFY(near(pixel(image, QPointF(10 + 75, 60)), Qt::blue));
        // Nothing spills outside the view.
        QVERIFY(near(pixel(image, QPointF(5, 60)), Qt::black));
        QVERIFY(near(pixel(image, QPointF(115, 60)), Qt::black));

        // A zero-size image draws nothing.
        view->setImage(QImage(0, 0, QImage::Format_RGB32));
        QVERIFY(near(pixel(host.grab().toImage(), QPointF(60, 60)), Qt::black));
    }


    void imageViewHitTestUsesItsOwnCoordinates()
    {
        QWidget parent;
        parent.resize(300, 300);
        auto* view = new AspectFillImageView(&parent);
        view->setGeometry(100, 50, 80, 60);
        // A point of the parent inside the view…
        QCOMPARE(view->hitTest(QPointF(110, 60)), view);
        // …and one that would be inside only if the parent's coordinates were taken as the view's.
        QCOMPARE(view->hitTest(QPointF(10, 10)), nullptr);
        QCOMPARE(view->hitTest(QPointF(180, 60)), nullptr);

        view->move(0, 0);
        QCOMPARE(view->hitTest(QPointF(10, 10)), view);
        QCOMPARE(view->hitTest(QPointF(110, 60)), nullptr);

        // Its children never take clicks.
        auto* child = new QWidget(view);
        QVERIFY(child->testAttribute(Qt::WA_TransparentForMouseEvents));
    }

    void imageViewTakesClicksOnlyWithAnImage()
    {
        Backdrop host(QSize(200, 200));
        auto* view = new AspectFillImageView(&host);
        view->setGeometry(10, 10, 100, 100);
        int clicks = 0;
        view->onClick = [&] { ++clicks; };
        host.show();

        QTest::mouseClick(view, Qt::LeftButton, {}, QPoint(50, 50));
        QCOMPARE(clicks, 0); // no image yet

        QImage image(10, 10, QImage::Format_RGB32);
        image.fill(Qt::green);
        view->setImage(image);
        QCOMPARE(view->toolTip(), QStringLiteral("Click to enlarge"));
        QCOMPARE(view->cursor().shape(), Qt::PointingHandCursor);
        // A release outside the image is no click.
        QTest::mousePress(view, Qt::LeftButton, {}, QPoint(50, 50));
        QTest::mouseRelease(view, Qt::LeftButton, {}, QPoint(150, 50));
        QCOMPARE(clicks, 0);
        QTest::mouseClick(view, Qt::LeftButton, {}, QPoint(50, 50));
        QCOMPARE(clicks, 1);

        view->setImage(QImage());
        QVERIFY(view->toolTip().isEmpty());
        QVERIFY(view->cursor().shape() != Qt::PointingHandCursor);
        QTest::mouseClick(view, Qt::LeftButton, {}, QPoint(50, 50));
        QCOMPARE(clicks, 1);
    }

    // --- Search field style -----------------------------------------------------------------

    void searchFieldTextSitsOnePointHigher()
    {
        const auto contents = [](QLineEdit& edit) {
            QStyleOptionFrame option;
            option.initFrom(&edit);
            option.rect = QRect(0, 0, 200, 20);
            return edit.style()->subElementRect(QStyle::SE_LineEditContents, &option, &edit);
        };
        QLineEdit plain;
        plain.setFrame(false);
        QLineEdit field;
        IslandTextFieldCell::install(&field);
        QCOMPARE(contents(field), contents(plain).translated(0, -1));

        QVERIFY(!field.hasFrame());
        // The style belongs to the field.
        QCOMPARE(field.style()->parent(), &field);
    }

    // --- Factories --------------------------------------------------------------------------

    void factoriesMakeEachFamily()
    {
        QWidget target;
        int fired = 0;
        auto count = [&] { ++fired; };
        Backdrop host(QSize(400, 100));
        const QList<QAbstractButton*> buttons = {
            IslandButtonFactory::makeHeaderIconButton(QStringLiteral("globe"), QStringLiteral("Language"), &target,
                                                      count, &host),
            IslandButtonFactory::makeIconButton(QStringLiteral("xmark"), QStringLiteral("Hide"), &target, count, &host),
            IslandButtonFactory::makeShelfActionButton(QStringLiteral("plus"), QStringLiteral("New session"), &target,
                                                       count, &host),
            IslandButtonFactory::makeShelfGalleryActionTile(QStringLiteral("Copy"), QStringLiteral("doc.on.doc"),
                                                            QStringLiteral("Copy"), &target, count, &host),
            IslandButtonFactory::makeCompactTextButton(QStringLiteral("Combine"), QStringLiteral("Combine and copy"),
                                                       &target, count, &host),
            IslandButtonFactory::makeTextIconButton(QStringLiteral("Clear Session"), QStringLiteral("trash"),
                                                    QStringLiteral("Clear session"), &target, count, &host),
        };
        QCOMPARE(static_cast<IslandActionTileButton*>(buttons[3])->displaySubtitle(), QString());
        QCOMPARE(buttons[5]->toolTip(), QStringLiteral("Clear session"));
        QVERIFY(buttons[5]->sizeHint().width() > 40);

        int x = 0;
        for (QAbstractButton* button : buttons) {
            button->move(x, 10);
            x += 60;
        }
        host.show();
        for (QAbstractButton* button : buttons)
            QTest::mouseClick(button, Qt::LeftButton, {}, QPoint(5, 5));
        QCOMPARE(fired, int(buttons.size()));
    }
};

QUILLOMARE_GUI_TEST_MAIN(TestIslandControls)
#include "tst_islandcontrols.moc"
