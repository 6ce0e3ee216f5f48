#include "DragSessionRecorder.h"
#include "TestSupport.h"

#include "History/ClipThumbnailView.h"
#include "History/HistoryDragSession.h"
#include "Island/Kit/IslandTheme.h"
#include "Shelf/Views/ShelfDropZoneView.h"
#include "Shelf/Views/ShelfEmptyStateView.h"
#include "Shelf/Views/ShelfGalleryCardView.h"
#include "Shelf/Views/ShelfItemRowView.h"
#include "Shelf/Views/ShelfSessionPillButton.h"

#include <QuillomareCore/Foundation.h>
#include <QuillomareCore/Language.h>

#include <QBuffer>
#include <QLabel>
#include <QWindow>

#include <memory>

using namespace QuillomareCore;
using namespace QuillomareMac;

namespace {

QByteArray pngBytes(int width = 8, int height = 6)
{
    return QuillomareTest::filledPng(QSize(width, height), Qt::blue, QImage::Format_ARGB32);
}

ShelfItem shelfEntry(ClipKind kind, const QString& title, ShelfPayload payload, bool sensitive = false)
{
    return ShelfItem{QUuid::createUuid(), Clock::now(), kind, title, QStringLiteral("Sub · Detail"), title,
                     std::move(payload),  sensitive};
}

ShelfItem textEntry(const QString& text)
{
    return shelfEntry(ClipKind::text, text, ShelfPayload::text(text));
}

ShelfItem imageEntry()
{
    return shelfEntry(ClipKind::image, QStringLiteral("Image"), ShelfPayload::imagePNG(pngBytes()));
}

// A card or row shown as its own window, so presses go through Qt's hit testing like real ones,
// with a log of every callback it fires.
template <typename View> struct Harness
{
    explicit Harness(const ShelfItem& item, QSize size) : view(std::make_unique<View>(item))
    {
        view->onSelect = [this](const ShelfItem&) { log.append(QStringLiteral("select")); };
        view->onPreview = [this](const ShelfItem&) { log.append(QStringLiteral("preview")); };
        view->onMultiSelect = [this](const ShelfItem&, bool extend) {
            log.append(extend ? QStringLiteral("extend") : QStringLiteral("toggle"));
        };
        view->setFixedSize(size);
        view->show();
    }

    QWindow* window() const { return view->windowHandle(); }
    QPoint thumbnailCentre() const { return view->thumbnail()->geometry().center(); }
    // A point on the view away from the thumbnail.
    QPoint textPoint() const { return QPoint(view->width() - 20, view->height() / 2); }

    std::unique_ptr<View> view;
    QStringList log;
};

using CardHarness = Harness<ShelfGalleryCardView>;
using RowHarness = Harness<ShelfItemRowView>;

void doubleClick(QWindow* window, QPoint point)
{
    // Through a window, QTest delivers the whole sequence: press, release, press, double-click,
    // release.
    QTest::mouseDClick(window, Qt::LeftButton, {}, point);
}

QStringList labelTexts(const QWidget& widget)
{
    QStringList texts;
    for (const QLabel* label : widget.findChildren<QLabel*>())
        texts.append(label->text());
    return texts;
}

} // namespace

class TestShelfViews : public QObject
{
    Q_OBJECT

private:
    QList<QList<DraggingItem>> m_sessions;

private Q_SLOTS:
    void init()
    {
        Language::setIsChineseForTesting(false);
        QuillomareTest::recordDragSessions(m_sessions);
    }

    void cleanup() { QuillomareTest::stopRecordingDragSessions(); }

    // MARK: Card

    void card_selectsOnPressAndAgainOnRelease()
    {
        CardHarness harness(textEntry(QStringLiteral("hello")), QSize(300, 96));
        QVERIFY(QTest::qWaitForWindowExposed(harness.view.get()));
        QTest::mousePress(harness.window(), Qt::LeftButton, {}, harness.textPoint());
        QCOMPARE(harness.log, QStringList{QStringLiteral("select")});
        QVERIFY(harness.view->mouseDownPoint().has_value());
        QTest::mouseRelease(harness.window(), Qt::LeftButton, {}, harness.textPoint());
        QCOMPARE(harness.log, (QStringList{QStringLiteral("select"), QStringLiteral("select")}));
        QVERIFY(!harness.view->mouseDownPoint().has_value());
    }

    void card_modifiersMultiSelectAsRowsDo()
    {
        // Cards take the rows' rule: a Control-press toggles, a Shift-press extends, and neither
        // moves the focus by itself.
        CardHarness harness(textEntry(QStringLiteral("hello")), QSize(300, 96));
        QVERIFY(QTest::qWaitForWindowExposed(harness.view.get()));
        QTest::mouseClick(harness.window(), Qt::LeftButton, Qt::ControlModifier, harness.textPoint());
        QTest::mouseClick(harness.window(), Qt::LeftButton, Qt::ControlModifier | Qt::ShiftModifier,
                          harness.textPoint());
        QCOMPARE(harness.log, (QStringList{QStringLiteral("toggle"), QStringLiteral("extend")}));
    }

    void card_dragThresholdIsThreePointsStraightLine_data()
    {
        QTest::addColumn<QPoint>("move");
        QTest::addColumn<int>("sessions");
        QTest::addColumn<QStringList>("log");
        const QStringList pressOnly{QStringLiteral("select")};
        const QStringList click{QStringLiteral("select"), QStringLiteral("select")};
        QTest::newRow("2 points is a click") << QPoint(2, 0) << 0 << click;
        QTest::newRow("2,2 diagonal (2.83) is a click") << QPoint(2, 2) << 0 << click;
        QTest::newRow("3 points drags") << QPoint(3, 0) << 1 << pressOnly;
        QTest::newRow("3 points upwards drags") << QPoint(0, -3) << 1 << pressOnly;
        QTest::newRow("3,3 diagonal drags") << QPoint(3, 3) << 1 << pressOnly;
    }

    void card_dragThresholdIsThreePointsStraightLine()
    {
        QFETCH(QPoint, move);
        QFETCH(int, sessions);
        QFETCH(QStringList, log);
        CardHarness harness(textEntry(QStringLiteral("hello")), QSize(300, 96));
        QVERIFY(QTest::qWaitForWindowExposed(harness.view.get()));
        const QPoint press = harness.textPoint();
        QTest::mousePress(harness.window(), Qt::LeftButton, {}, press);
        QTest::mouseMove(harness.window(), press + move);
        QCOMPARE(m_sessions.size(), sessions);
        QTest::mouseRelease(harness.window(), Qt::LeftButton, {}, press + move);
        QCOMPARE(harness.log, log);

        // Farther on, one press drags once at most.
        m_sessions.clear();
        QTest::mousePress(harness.window(), Qt::LeftButton, {}, press);
        for (int step = 1; step <= 4; ++step)
            QTest::mouseMove(harness.window(), press + move * step);
        QCOMPARE(m_sessions.size(), 1);
        QTest::mouseRelease(harness.window(), Qt::LeftButton, {}, press + move * 4);
        QVERIFY(!harness.view->didStartDragSession());
    }

    void card_dragCarriesTheProvidedEntriesElseItsOwn()
    {
        CardHarness harness(textEntry(QStringLiteral("own")), QSize(300, 96));
        QVERIFY(QTest::qWaitForWindowExposed(harness.view.get()));
        const QPoint press = harness.textPoint();

        QTest::mousePress(harness.window(), Qt::LeftButton, {}, press);
        QTest::mouseMove(harness.window(), press + QPoint(10, 0));
        QTest::mouseRelease(harness.window(), Qt::LeftButton, {}, press + QPoint(10, 0));
        QCOMPARE(m_sessions.size(), 1);
        QCOMPARE(m_sessions.at(0).size(), 1);
        QCOMPARE(std::get<QString>(m_sessions.at(0).at(0).object), QStringLiteral("own"));

        harness.view->dragItemsProvider = [] {
            return QList<ShelfItem>{textEntry(QStringLiteral("first")), textEntry(QStringLiteral("second"))};
        };
        QTest::mousePress(harness.window(), Qt::LeftButton, {}, press);
        QTest::mouseMove(harness.window(), press + QPoint(10, 0));
        QTest::mouseRelease(harness.window(), Qt::LeftButton, {}, press + QPoint(10, 0));
        QCOMPARE(m_sessions.size(), 2);
        const QList<DraggingItem>& items = m_sessions.at(1);
        QCOMPARE(items.size(), 2);
        QCOMPARE(std::get<QString>(items.at(0).object), QStringLiteral("first"));
        QCOMPARE(std::get<QString>(items.at(1).object), QStringLiteral("second"));
        // Stacked: each further entry's image a step down and to the right.
        QCOMPARE(items.at(1).frame.topLeft() - items.at(0).frame.topLeft(), QPointF(7, 7));

        // A provider that answers nothing drags the card's own entry.
        harness.view->dragItemsProvider = [] { return QList<ShelfItem>{}; };
        QTest::mousePress(harness.window(), Qt::LeftButton, {}, press);
        QTest::mouseMove(harness.window(), press + QPoint(10, 0));
        QTest::mouseRelease(harness.window(), Qt::LeftButton, {}, press + QPoint(10, 0));
        QCOMPARE(m_sessions.size(), 3);
        QCOMPARE(std::get<QString>(m_sessions.at(2).at(0).object), QStringLiteral("own"));
    }

    void card_fileDragCarriesExistingFilesAsURLs()
    {
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        const QString path = dir.filePath(QStringLiteral("notes.txt"));
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write("x");
        file.close();
        CardHarness harness(shelfEntry(ClipKind::file, QStringLiteral("notes.txt"), ShelfPayload::fileURLs({path})),
                            QSize(300, 96));
        QVERIFY(QTest::qWaitForWindowExposed(harness.view.get()));
        const QPoint press = harness.textPoint();
        QTest::mousePress(harness.window(), Qt::LeftButton, {}, press);
        QTest::mouseMove(harness.window(), press + QPoint(0, 5));
        QTest::mouseRelease(harness.window(), Qt::LeftButton, {}, press + QPoint(0, 5));
        QCOMPARE(m_sessions.size(), 1);
        QCOMPARE(m_sessions.at(0).size(), 1);
        QCOMPARE(std::get<QUrl>(m_sessions.at(0).at(0).object), QUrl::fromLocalFile(path));
    }

    void card_withoutSizeStartsNoDrag()
    {
        CardHarness harness(textEntry(QStringLiteral("hello")), QSize(300, 96));
        QVERIFY(QTest::qWaitForWindowExposed(harness.view.get()));
        harness.view->setMouseDownPoint(QPointF(10, 10));
        harness.view->setMinimumSize(0, 0);
        harness.view->setFixedSize(0, 0);
        QMouseEvent move(QEvent::MouseMove, QPointF(40, 40), harness.view->mapToGlobal(QPointF(40, 40)), Qt::NoButton,
                         Qt::LeftButton, {});
        harness.view->mouseDragged(&move);
        QCOMPARE(m_sessions.size(), 0);
        QVERIFY(!harness.view->didStartDragSession());
    }

    void card_previews_data()
    {
        QTest::addColumn<bool>("image");
        QTest::addColumn<bool>("onThumbnail");
        QTest::addColumn<bool>("twice");
        QTest::addColumn<QString>("last");
        QTest::newRow("double click on a text card") << false << false << true << QStringLiteral("preview");
        QTest::newRow("click on an image's thumbnail") << true << true << false << QStringLiteral("preview");
        QTest::newRow("click beside an image's thumbnail") << true << false << false << QStringLiteral("select");
        QTest::newRow("click on a text card's thumbnail") << false << true << false << QStringLiteral("select");
    }

    void card_previews()
    {
        QFETCH(bool, image);
        QFETCH(bool, onThumbnail);
        QFETCH(bool, twice);
        QFETCH(QString, last);
        CardHarness harness(image ? imageEntry() : textEntry(QStringLiteral("hello")), QSize(300, 96));
        QVERIFY(QTest::qWaitForWindowExposed(harness.view.get()));
        const QPoint point = onThumbnail ? harness.thumbnailCentre() : harness.textPoint();
        if (twice)
            doubleClick(harness.window(), point);
        else
            QTest::mouseClick(harness.window(), Qt::LeftButton, {}, point);
        QCOMPARE(harness.log.last(), last);
        QCOMPARE(harness.log.count(QStringLiteral("preview")), last == QStringLiteral("preview") ? 1 : 0);
    }

    void card_releaseAfterDragNeitherSelectsNorPreviews()
    {
        CardHarness harness(imageEntry(), QSize(300, 96));
        QVERIFY(QTest::qWaitForWindowExposed(harness.view.get()));
        const QPoint press = harness.thumbnailCentre();
        QTest::mousePress(harness.window(), Qt::LeftButton, {}, press);
        QTest::mouseMove(harness.window(), press + QPoint(6, 0));
        // Released back on the thumbnail: still the end of a drag.
        QTest::mouseRelease(harness.window(), Qt::LeftButton, {}, press);
        QCOMPARE(harness.log, QStringList{QStringLiteral("select")});
    }

    void card_sensitiveEntryNeverShowsItsSecret()
    {
        // A record whose title, subtitle and preview carry the secret itself.
        const QString secret = QStringLiteral("hunter2-secret-token");
        ShelfItem item = shelfEntry(ClipKind::text, secret, ShelfPayload::text(secret), true);
        item.subtitle = secret + QStringLiteral(" · x");
        for (const bool chinese : {false, true}) {
            Language::setIsChineseForTesting(chinese);
            ShelfGalleryCardView card(item);
            ShelfItemRowView row(item);
            for (const QString& text : labelTexts(card) + labelTexts(row))
                QVERIFY2(!text.contains(QStringLiteral("hunter2")), qPrintable(text));
            QCOMPARE(card.titleLabel()->text(), chinese ? QStringLiteral("私密文本") : QStringLiteral("Private text"));
            QVERIFY(card.accessibleName().indexOf(QStringLiteral("hunter2")) < 0);
        }
    }

    void card_look_followsSelectionAndHover()
    {
        ShelfGalleryCardView card(textEntry(QStringLiteral("hello")));
        const QColor resting = card.backgroundColor();
        card.setSelected(true);
        // Nothing changes until the owner asks for the new look.
        QCOMPARE(card.backgroundColor(), resting);
        card.updateBackground();
        QCOMPARE(card.borderColor().rgb(), IslandTheme::selectionBlue().rgb());
        QVERIFY(card.backgroundColor() != resting);
        card.setSelected(false);
        card.updateBackground();
        QCOMPARE(card.backgroundColor(), resting);
    }

    void card_fillsTheHeightItIsGiven()
    {
        ShelfGalleryCardView card(imageEntry());
        card.setFixedSize(300, 180);
        card.show();
        QVERIFY(QTest::qWaitForWindowExposed(&card));
        QVERIFY(card.thumbnail()->height() > 140);
        QVERIFY(card.thumbnail()->geometry().right() < card.titleLabel()->geometry().left());
        QVERIFY(card.titleLabel()->geometry().right() <= 300);
        card.setFixedSize(300, 96);
        QVERIFY(card.thumbnail()->geometry().bottom() < 96);
    }

    // MARK: Row

    void row_modifierPressGoesToMultiSelectionOnly_data()
    {
        QTest::addColumn<Qt::KeyboardModifiers>("modifiers");
        QTest::addColumn<QStringList>("log");
        QTest::newRow("plain click selects on press and release")
            << Qt::KeyboardModifiers() << QStringList{QStringLiteral("select"), QStringLiteral("select")};
        QTest::newRow("control toggles") << Qt::KeyboardModifiers(Qt::ControlModifier)
                                         << QStringList{QStringLiteral("toggle")};
        QTest::newRow("shift extends") << Qt::KeyboardModifiers(Qt::ShiftModifier)
                                       << QStringList{QStringLiteral("extend")};
        QTest::newRow("control-shift extends")
            << (Qt::ControlModifier | Qt::ShiftModifier) << QStringList{QStringLiteral("extend")};
        QTest::newRow("alt is no selection modifier")
            << Qt::KeyboardModifiers(Qt::AltModifier)
            << QStringList{QStringLiteral("select"), QStringLiteral("select")};
    }

    void row_modifierPressGoesToMultiSelectionOnly()
    {
        QFETCH(Qt::KeyboardModifiers, modifiers);
        QFETCH(QStringList, log);
        RowHarness harness(imageEntry(), QSize(400, 56));
        QVERIFY(QTest::qWaitForWindowExposed(harness.view.get()));
        QTest::mouseClick(harness.window(), Qt::LeftButton, modifiers, harness.textPoint());
        QCOMPARE(harness.log, log);
        QVERIFY(!harness.view->didHandleMultiSelectClick());
    }

    void row_modifierClickOnImageThumbnailDoesNotPreview()
    {
        RowHarness harness(imageEntry(), QSize(400, 56));
        QVERIFY(QTest::qWaitForWindowExposed(harness.view.get()));
        QTest::mouseClick(harness.window(), Qt::LeftButton, Qt::ControlModifier, harness.thumbnailCentre());
        QCOMPARE(harness.log, QStringList{QStringLiteral("toggle")});
        QTest::mouseClick(harness.window(), Qt::LeftButton, {}, harness.thumbnailCentre());
        QCOMPARE(harness.log.last(), QStringLiteral("preview"));
    }

    void row_dragsAtThreePointsAndDoubleClickPreviews()
    {
        RowHarness harness(textEntry(QStringLiteral("row")), QSize(400, 56));
        QVERIFY(QTest::qWaitForWindowExposed(harness.view.get()));
        const QPoint press = harness.textPoint();
        QTest::mousePress(harness.window(), Qt::LeftButton, {}, press);
        QTest::mouseMove(harness.window(), press + QPoint(-2, 0));
        QCOMPARE(m_sessions.size(), 0);
        QTest::mouseMove(harness.window(), press + QPoint(-3, 0));
        QCOMPARE(m_sessions.size(), 1);
        QTest::mouseRelease(harness.window(), Qt::LeftButton, {}, press + QPoint(-3, 0));
        QCOMPARE(harness.log, QStringList{QStringLiteral("select")});

        harness.log.clear();
        doubleClick(harness.window(), press);
        QCOMPARE(harness.log.count(QStringLiteral("preview")), 1);
        QCOMPARE(harness.log.last(), QStringLiteral("preview"));
    }

    // MARK: Drop zone

    void dropZone_startsWithItsTextsUnlitAndWithoutToggle_data()
    {
        QTest::addColumn<bool>("chinese");
        QTest::addColumn<QString>("title");
        QTest::addColumn<QString>("subtitle");
        QTest::addColumn<QString>("toggle");
        QTest::newRow("English") << false << QStringLiteral("Drag to Shelf")
                                 << QStringLiteral("Files, images, text, links")
                                 << QStringLiteral("Show island drop zone");
        QTest::newRow("Chinese") << true << QStringLiteral("拖入暂存架") << QStringLiteral("文件、图片、文本、链接")
                                 << QStringLiteral("显示灵动岛投放区");
    }

    void dropZone_startsWithItsTextsUnlitAndWithoutToggle()
    {
        QFETCH(bool, chinese);
        QFETCH(QString, title);
        QFETCH(QString, subtitle);
        QFETCH(QString, toggle);
        Language::setIsChineseForTesting(chinese);
        ShelfDropZoneView zone;
        QCOMPARE(zone.title(), title);
        QCOMPARE(zone.subtitle(), subtitle);
        QCOMPARE(zone.toggleLabel()->text(), toggle);
        QVERIFY(!zone.isHighlighted());
        QVERIFY(!zone.showsToggle());
        QVERIFY(zone.toggleContainer()->isHidden());
        zone.setTitle(QStringLiteral("New title"));
        zone.setSubtitle(QStringLiteral("New subtitle"));
        QCOMPARE(zone.titleLabel()->text(), QStringLiteral("New title"));
        QCOMPARE(zone.subtitleLabel()->text(), QStringLiteral("New subtitle"));
    }

    void dropZone_appearanceStates()
    {
        ShelfDropZoneView zone;
        const auto check = [&](qreal fill, qreal stroke, qreal width, qreal icon, qreal title, bool blue) {
            // Colours keep their alpha in 16 bits.
            QVERIFY(qAbs(zone.fillColor().alphaF() - fill) < 0.001);
            QVERIFY(qAbs(zone.strokeColor().alphaF() - stroke) < 0.001);
            QCOMPARE(zone.lineWidth(), width);
            QVERIFY(qAbs(zone.iconTint().alphaF() - icon) < 0.001);
            QCOMPARE(zone.titleColor(), IslandTheme::white(title));
            const QColor expected = blue ? IslandTheme::rgb(0.42, 0.70, 0.98) : QColor(Qt::white);
            for (const QColor& colour : {zone.fillColor(), zone.strokeColor(), zone.iconTint()}) {
                QCOMPARE(colour.red(), expected.red());
                QCOMPARE(colour.green(), expected.green());
                QCOMPARE(colour.blue(), expected.blue());
            }
        };
        check(0.035, 0.2, 0.75, 0.7, 0.82, false);
        zone.setHighlighted(true);
        // The look follows the flag only when asked.
        check(0.035, 0.2, 0.75, 0.7, 0.82, false);
        zone.updateAppearance();
        check(0.13, 0.34, 1.0, 0.95, 0.94, true);
        QCOMPARE(zone.titleLabel()->palette().color(QPalette::WindowText), IslandTheme::white(0.94));
        zone.setHighlighted(false);
        zone.updateAppearance();
        check(0.035, 0.2, 0.75, 0.7, 0.82, false);
    }

    void dropZone_toggleCallsBackOnRelease()
    {
        ShelfDropZoneView zone;
        int toggles = 0;
        zone.onToggleNotch = [&] { ++toggles; };
        zone.resize(600, 42);
        zone.setShowsToggle(true);
        zone.show();
        QVERIFY(QTest::qWaitForWindowExposed(&zone));
        QVERIFY(zone.toggleContainer()->isVisible());
        const QPoint centre = zone.toggleContainer()->geometry().center();
        QTest::mousePress(zone.windowHandle(), Qt::LeftButton, {}, centre);
        QCOMPARE(toggles, 0);
        QTest::mouseRelease(zone.windowHandle(), Qt::LeftButton, {}, centre);
        QCOMPARE(toggles, 1);
        // A click elsewhere on the zone is no toggle.
        QTest::mouseClick(zone.windowHandle(), Qt::LeftButton, {}, QPoint(20, 20));
        QCOMPARE(toggles, 1);
        zone.setShowsToggle(false);
        QVERIFY(zone.toggleContainer()->isHidden());
    }

    // MARK: Session pill and empty state

    void pill_widthFollowsTitleAndEnabledStateRefreshesLook()
    {
        ShelfSessionPillButton pill;
        pill.setTitle(QStringLiteral("A"));
        const int narrow = pill.sizeHint().width();
        pill.setTitle(QStringLiteral("A much longer session name"));
        QVERIFY(pill.sizeHint().width() > narrow + 50);
        const QColor enabledText = pill.textColor();
        pill.setEnabled(false);
        QVERIFY(pill.textColor().alphaF() < enabledText.alphaF());
        QCOMPARE(pill.titleLabel()->palette().color(QPalette::WindowText), pill.textColor());
        pill.setEnabled(true);
        QCOMPARE(pill.textColor(), enabledText);
    }

    void pill_pressCallsBackOnlyWhenReleasedInside()
    {
        ShelfSessionPillButton pill;
        int presses = 0;
        pill.onPress = [&] { ++presses; };
        pill.setTitle(QStringLiteral("Default"));
        pill.resize(220, 32);
        pill.show();
        QVERIFY(QTest::qWaitForWindowExposed(&pill));
        QTest::mouseClick(pill.windowHandle(), Qt::LeftButton, {}, QPoint(50, 16));
        QCOMPARE(presses, 1);
        QTest::mousePress(pill.windowHandle(), Qt::LeftButton, {}, QPoint(50, 16));
        QTest::mouseRelease(pill.windowHandle(), Qt::LeftButton, {}, QPoint(400, 16));
        QCOMPARE(presses, 1);
    }

    void emptyState_saysTheShelfIsEmpty()
    {
        Language::setIsChineseForTesting(true);
        ShelfEmptyStateView chinese;
        QCOMPARE(chinese.titleLabel()->text(), QStringLiteral("暂存架为空"));
        Language::setIsChineseForTesting(false);
        ShelfEmptyStateView english;
        QCOMPARE(english.titleLabel()->text(), QStringLiteral("Shelf is empty"));
        QCOMPARE(english.subtitleLabel()->text(), QStringLiteral("Drop files, images, text or links"));
    }
};

QUILLOMARE_GUI_TEST_MAIN(TestShelfViews)

#include "tst_shelfviews.moc"
