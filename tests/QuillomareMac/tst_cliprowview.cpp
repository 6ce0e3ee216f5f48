#include "DragSessionRecorder.h"
#include "TestSupport.h"

#include "History/ClipRowView.h"
#include "History/ClipThumbnailView.h"
#include "History/HistoryDragSession.h"
#include "History/HistoryListFooterView.h"
#include "History/RowDrag.h"
#include "History/HistoryTime.h"
#include "Island/Kit/IslandIconButton.h"
#include "Island/Kit/IslandTheme.h"

#include <QuillomareCore/Foundation.h>
#include <QuillomareCore/Language.h>

#include <QApplication>
#include <QBuffer>
#include <QLabel>
#include <QMenu>
#include <QMimeData>
#include <QWindow>

#include <memory>

using namespace QuillomareCore;
using namespace QuillomareMac;
using QuillomareTest::at;

Q_DECLARE_METATYPE(QuillomareCore::ClipboardItem)

namespace {

QByteArray pngBytes(int width = 8, int height = 6)
{
    return QuillomareTest::filledPng(QSize(width, height), Qt::red, QImage::Format_ARGB32);
}

ClipboardItem textEntry(const QString& text)
{
    return QuillomareTest::textItem(text, Clock::now());
}

ClipboardItem linkEntry(const QString& text)
{
    ClipboardItem item = textEntry(text);
    item.kind = ClipKind::url;
    return item;
}

// A row shown as its own window, so presses go through Qt's hit testing like real ones, and a
// log of every callback it fires.
struct RowHarness
{
    explicit RowHarness(const ClipboardItem& item) : row(std::make_unique<ClipRowView>(item))
    {
        row->onSelect = [this](const ClipboardItem&) { log.append(QStringLiteral("select")); };
        row->onPreview = [this](const ClipboardItem&) { log.append(QStringLiteral("preview")); };
        row->onMultiSelect = [this](const ClipboardItem&, bool extend) {
            log.append(extend ? QStringLiteral("extend") : QStringLiteral("toggle"));
        };
        row->onTogglePin = [this](const ClipboardItem&) { log.append(QStringLiteral("pin")); };
        row->onDelete = [this](const ClipboardItem&) { log.append(QStringLiteral("delete")); };
        row->onPasteVariant = [this](const ClipboardItem&, PasteVariant variant) {
            log.append(QStringLiteral("variant %1").arg(int(variant)));
        };
        row->resize(360, 40);
        row->show();
    }

    QWindow* window() const { return row->windowHandle(); }
    QPoint thumbnailCentre() const { return row->thumbnail()->geometry().center(); }

    std::unique_ptr<ClipRowView> row;
    QStringList log;
};

QStringList titles(const QList<QAction*>& actions)
{
    QStringList texts;
    for (const QAction* action : actions)
        texts.append(action->isSeparator() ? QStringLiteral("---") : action->text());
    return texts;
}

QString describe(const Platform::PasteboardObject& object)
{
    if (const auto* url = std::get_if<QUrl>(&object))
        return QStringLiteral("url ") + url->toString();
    if (const auto* text = std::get_if<QString>(&object))
        return QStringLiteral("text ") + *text;
    return QStringLiteral("image");
}

} // namespace

class TestClipRowView : public QObject
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

    // Runs first: the short-date format is fixed by the language of its first use.
    void shortDate_isMonthDayAndTimeInLocalTime()
    {
        const QDateTime date(QDate(2026, 3, 5), QTime(9, 7), Qt::LocalTime);
        QCOMPARE(HistoryTime::shortDateText(date), QStringLiteral("Mar 5, 09:07"));
        QCOMPARE(HistoryTime::shortDateText(date.toUTC()), QStringLiteral("Mar 5, 09:07"));
    }

    void ages_data()
    {
        QTest::addColumn<qint64>("seconds");
        QTest::addColumn<QString>("chinese");
        QTest::addColumn<QString>("english");
        QTest::newRow("future") << qint64(-5) << QStringLiteral("刚刚") << QStringLiteral("just now");
        QTest::newRow("59 s") << qint64(59) << QStringLiteral("刚刚") << QStringLiteral("just now");
        QTest::newRow("60 s") << qint64(60) << QStringLiteral("1 分钟前") << QStringLiteral("1m ago");
        QTest::newRow("3599 s") << qint64(3599) << QStringLiteral("59 分钟前") << QStringLiteral("59m ago");
        QTest::newRow("3600 s") << qint64(3600) << QStringLiteral("1 小时前") << QStringLiteral("1h ago");
        QTest::newRow("86399 s") << qint64(86399) << QStringLiteral("23 小时前") << QStringLiteral("23h ago");
        QTest::newRow("86400 s") << qint64(86400) << QString() << QString();
    }

    void ages()
    {
        QFETCH(qint64, seconds);
        QFETCH(QString, chinese);
        QFETCH(QString, english);
        // Half a second more must not round up to the next step.
        const QDateTime now = at(seconds).addMSecs(500);
        const QDateTime date = at(0);
        if (chinese.isEmpty())
            chinese = english = HistoryTime::shortDateText(date);
        Language::setIsChineseForTesting(true);
        QCOMPARE(HistoryTime::relativeTimeText(date, now), chinese);
        Language::setIsChineseForTesting(false);
        QCOMPARE(HistoryTime::relativeTimeText(date, now), english);
    }

    void metaLine_data()
    {
        QTest::addColumn<bool>("chinese");
        QTest::addColumn<bool>("extras");
        QTest::addColumn<QString>("expected");
        QTest::newRow("five parts") << false << true
                                    << QStringLiteral("Text · just now · Unknown device · Pinned · Local only");
        QTest::newRow("five parts, Chinese")
            << true << true << QStringLiteral("文本 · 刚刚 · 未知设备 · 已置顶 · 仅本机");
        QTest::newRow("three parts") << false << false << QStringLiteral("Text · 2m ago · Computer");
    }

    void metaLine()
    {
        QFETCH(bool, chinese);
        QFETCH(bool, extras);
        QFETCH(QString, expected);
        Language::setIsChineseForTesting(chinese);
        QuillomareTest::ClockOverride clock(at(150));
        ClipboardItem item = QuillomareTest::textItem(QStringLiteral("hello"), extras ? at(140) : at(0));
        if (extras) {
            item.isPinned = item.isLocalOnly = true;
            item.sourcePlatform = ClipSourcePlatform::unknown;
        }
        QCOMPARE(ClipRowView::metaText(item), expected);
        ClipRowView row(item);
        QCOMPARE(row.metaLabel()->text(), expected);
    }

    void sensitiveEntry_takesThePrivateBadgeWhateverItsKind()
    {
        ClipboardItem item = QuillomareTest::imageItem(pngBytes(), Clock::now());
        item.isSensitive = true;
        Language::setIsChineseForTesting(true);
        QCOMPARE(ClipRowView::badgeText(item), QStringLiteral("私密"));
        QVERIFY(ClipRowView::metaText(item).startsWith(QStringLiteral("私密 · ")));
        Language::setIsChineseForTesting(false);
        QCOMPARE(ClipRowView::badgeText(item), QStringLiteral("Private"));
        QCOMPARE(ClipRowView::badgeColor(item), IslandTheme::rgb(0.95, 0.46, 0.62));
        item.isSensitive = false;
        QCOMPARE(ClipRowView::badgeText(item), QStringLiteral("Image"));
    }

    // --- Mouse ----------------------------------------------------------------------------------

    void press_selectsBeforeRelease()
    {
        RowHarness harness(textEntry(QStringLiteral("hello")));
        QVERIFY(QTest::qWaitForWindowExposed(harness.row.get()));
        // On the preview text: the labels leave presses to the row.
        const QPoint onText = harness.row->previewLabel()->geometry().center();
        QTest::mousePress(harness.window(), Qt::LeftButton, {}, onText);
        QCOMPARE(harness.log, QStringList{QStringLiteral("select")});
        QTest::mouseRelease(harness.window(), Qt::LeftButton, {}, onText);
        QCOMPARE(harness.log, (QStringList{QStringLiteral("select"), QStringLiteral("select")}));
    }

    void modifierPress_goesToMultiSelectionOnly_data()
    {
        QTest::addColumn<Qt::KeyboardModifiers>("modifiers");
        QTest::addColumn<bool>("onThumbnail");
        QTest::addColumn<QString>("expected");
        const Qt::KeyboardModifiers control = Qt::ControlModifier;
        const Qt::KeyboardModifiers shift = Qt::ShiftModifier;
        QTest::newRow("control toggles") << control << false << QStringLiteral("toggle");
        QTest::newRow("shift extends") << shift << false << QStringLiteral("extend");
        QTest::newRow("control-shift extends") << (control | shift) << false << QStringLiteral("extend");
        QTest::newRow("no preview on an image's thumbnail") << control << true << QStringLiteral("toggle");
    }

    void modifierPress_goesToMultiSelectionOnly()
    {
        QFETCH(Qt::KeyboardModifiers, modifiers);
        QFETCH(bool, onThumbnail);
        QFETCH(QString, expected);
        RowHarness harness(QuillomareTest::imageItem(pngBytes(), Clock::now()));
        QVERIFY(QTest::qWaitForWindowExposed(harness.row.get()));
        const QPoint point = onThumbnail ? harness.thumbnailCentre() : QPoint(200, 20);
        QTest::mouseClick(harness.window(), Qt::LeftButton, modifiers, point);
        QCOMPARE(harness.log, QStringList{expected});
    }

    void doubleClick_opensPreview()
    {
        RowHarness harness(textEntry(QStringLiteral("hello")));
        QVERIFY(QTest::qWaitForWindowExposed(harness.row.get()));
        QTest::mouseDClick(harness.window(), Qt::LeftButton, {}, QPoint(200, 20));
        QCOMPARE(harness.log.count(QStringLiteral("preview")), 1);
        QCOMPARE(harness.log.last(), QStringLiteral("preview"));
    }

    void thumbnailClick_previewsOnlyAVisibleImage_data()
    {
        QTest::addColumn<bool>("sensitive");
        QTest::addColumn<QStringList>("expected");
        QTest::newRow("image") << false << QStringList{QStringLiteral("select"), QStringLiteral("preview")};
        QTest::newRow("sensitive image") << true << QStringList{QStringLiteral("select"), QStringLiteral("select")};
    }

    void thumbnailClick_previewsOnlyAVisibleImage()
    {
        QFETCH(bool, sensitive);
        QFETCH(QStringList, expected);
        ClipboardItem item = QuillomareTest::imageItem(pngBytes(), Clock::now());
        item.isSensitive = sensitive;
        RowHarness harness(item);
        QVERIFY(QTest::qWaitForWindowExposed(harness.row.get()));
        QTest::mousePress(harness.window(), Qt::LeftButton, {}, harness.thumbnailCentre());
        QCOMPARE(harness.log, QStringList{QStringLiteral("select")});
        QTest::mouseRelease(harness.window(), Qt::LeftButton, {}, harness.thumbnailCentre());
        QCOMPARE(harness.log, expected);
    }

    void pinButton_isNotARowPress()
    {
        RowHarness harness(textEntry(QStringLiteral("hello")));
        QVERIFY(QTest::qWaitForWindowExposed(harness.row.get()));
        QTest::mouseClick(harness.window(), Qt::LeftButton, {}, harness.row->pinButton()->geometry().center());
        QCOMPARE(harness.log, QStringList{QStringLiteral("pin")});
    }

    void drag_startsAtTwentyPointsOncePerPress_data()
    {
        QTest::addColumn<int>("dragTo");
        QTest::addColumn<int>("releaseAt");
        QTest::addColumn<int>("sessions");
        QTest::addColumn<QStringList>("log");
        const QStringList pressOnly{QStringLiteral("select")};
        const QStringList click{QStringLiteral("select"), QStringLiteral("select")};
        QTest::newRow("19 points is a click") << 19 << 19 << 0 << click;
        QTest::newRow("20 points drags") << 20 << 20 << 1 << pressOnly;
        QTest::newRow("released 40 points away") << 60 << 40 << 1 << pressOnly;
        QTest::newRow("released back near the press") << 60 << 5 << 1 << pressOnly;
    }

    void drag_startsAtTwentyPointsOncePerPress()
    {
        QFETCH(int, dragTo);
        QFETCH(int, releaseAt);
        QFETCH(int, sessions);
        QFETCH(QStringList, log);
        RowHarness harness(textEntry(QStringLiteral("hello")));
        QVERIFY(QTest::qWaitForWindowExposed(harness.row.get()));
        const QPoint press(100, 20);
        QTest::mousePress(harness.window(), Qt::LeftButton, {}, press);
        for (int x = 5; x < dragTo; x += 5)
            QTest::mouseMove(harness.window(), press + QPoint(x, 0));
        QTest::mouseMove(harness.window(), press + QPoint(dragTo, 0));
        QTest::mouseRelease(harness.window(), Qt::LeftButton, {}, press + QPoint(releaseAt, 0));
        QCOMPARE(m_sessions.size(), sessions);
        QCOMPARE(harness.log, log);
    }

    void drag_carriesTheProvidedEntriesInListOrder()
    {
        QList<ClipboardItem> entries;
        for (int i = 0; i < 6; ++i)
            entries.append(textEntry(QStringLiteral("entry %1").arg(i)));
        // The dragged row is not the first of the selection.
        RowHarness harness(entries.at(2));
        harness.row->dragItemsProvider = [&](const ClipboardItem& item) -> std::optional<QList<ClipboardItem>> {
            return item.id == entries.at(2).id ? std::optional(entries) : std::nullopt;
        };
        QVERIFY(QTest::qWaitForWindowExposed(harness.row.get()));
        QTest::mousePress(harness.window(), Qt::LeftButton, {}, QPoint(100, 20));
        QTest::mouseMove(harness.window(), QPoint(130, 20));
        QTest::mouseRelease(harness.window(), Qt::LeftButton, {}, QPoint(130, 20));

        QCOMPARE(m_sessions.size(), 1);
        const QList<DraggingItem>& items = m_sessions.first();
        QCOMPARE(items.size(), 6);
        const QList<qreal> offsets{0, 7, 14, 21, 28, 28};
        for (int i = 0; i < 6; ++i) {
            QCOMPARE(describe(items.at(i).object), QStringLiteral("text entry %1").arg(i));
            QCOMPARE(items.at(i).frame, QRectF(0, 0, 360, 40).translated(offsets.at(i), offsets.at(i)));
        }
    }

    void drag_imageShowsTheRowOnTheIslandsSurface()
    {
        // In the island the row is drawn on the island's dark surface; alone in a drag window
        // its transparent pixels became a blank white bar without a compositing manager.
        QWidget island;
        island.resize(360, 40);
        auto* row = new ClipRowView(textEntry(QStringLiteral("hello drag image")), &island);
        row->setGeometry(0, 0, 360, 40);
        island.show();
        const QImage image = RowDrag::snapshot(*row).toImage().convertToFormat(QImage::Format_ARGB32);
        QCOMPARE(image.size(), QSize(360, 40) * image.devicePixelRatio());
        int translucent = 0;
        int light = 0;
        for (int y = 0; y < image.height(); ++y) {
            for (int x = 0; x < image.width(); ++x) {
                const QColor colour = image.pixelColor(x, y);
                translucent += colour.alpha() != 255;
                light += colour.lightness() > 160;
            }
        }
        QCOMPARE(translucent, 0);
        // The surface is the island's, the text on it is light: the row's content shows.
        const QColor surface = image.pixelColor(image.width() - 3, 2);
        QVERIFY2(surface.lightness() < 40, qPrintable(surface.name()));
        const QRect text = row->previewLabel()->geometry();
        int textPixels = 0;
        for (int y = text.top(); y <= text.bottom(); ++y) {
            for (int x = text.left(); x <= text.right(); ++x)
                textPixels += image.pixelColor(x, y).lightness() > 120;
        }
        QVERIFY2(textPixels > 30, qPrintable(QString::number(textPixels)));
        QVERIFY(light < image.width() * image.height() / 4);
    }

    void drag_leavesOutEntriesWithNothingToDrag()
    {
        const ClipboardItem blank = textEntry(QStringLiteral(" \n\t "));
        const ClipboardItem other = textEntry(QStringLiteral("other"));
        RowHarness harness(blank);
        harness.row->dragItemsProvider = [&](const ClipboardItem&) {
            return std::optional(QList<ClipboardItem>{blank, other});
        };
        QVERIFY(QTest::qWaitForWindowExposed(harness.row.get()));
        QTest::mousePress(harness.window(), Qt::LeftButton, {}, QPoint(100, 20));
        QTest::mouseMove(harness.window(), QPoint(130, 20));
        QTest::mouseRelease(harness.window(), Qt::LeftButton, {}, QPoint(130, 20));
        QCOMPARE(m_sessions.size(), 1);
        QCOMPARE(m_sessions.first().size(), 1);
        QCOMPARE(describe(m_sessions.first().first().object), QStringLiteral("text other"));
        QCOMPARE(m_sessions.first().first().frame.topLeft(), QPointF(7, 7));

        // Alone, the blank entry starts no drag and the press stays a click.
        harness.row->dragItemsProvider = nullptr;
        harness.log.clear();
        QTest::mousePress(harness.window(), Qt::LeftButton, {}, QPoint(100, 20));
        QTest::mouseMove(harness.window(), QPoint(130, 20));
        QTest::mouseRelease(harness.window(), Qt::LeftButton, {}, QPoint(130, 20));
        QCOMPARE(m_sessions.size(), 1);
        QCOMPARE(harness.log, (QStringList{QStringLiteral("select"), QStringLiteral("select")}));
    }

    void drag_linkObjects_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("expected");
        QTest::newRow("web link") << QStringLiteral(" https://example.com/a ")
                                  << QStringLiteral("url https://example.com/a");
        QTest::newRow("file URL is a string")
            << QStringLiteral("file:///etc/hosts") << QStringLiteral("text file:///etc/hosts");
    }

    void drag_linkObjects()
    {
        QFETCH(QString, text);
        QFETCH(QString, expected);
        RowHarness harness(linkEntry(text));
        QVERIFY(QTest::qWaitForWindowExposed(harness.row.get()));
        QTest::mousePress(harness.window(), Qt::LeftButton, {}, QPoint(100, 20));
        QTest::mouseMove(harness.window(), QPoint(125, 20));
        QTest::mouseRelease(harness.window(), Qt::LeftButton, {}, QPoint(125, 20));
        QCOMPARE(m_sessions.size(), 1);
        QCOMPARE(describe(m_sessions.first().first().object), expected);
    }

    void mimeData_offersURLsTextsAndTheImage()
    {
        const QUrl web(QStringLiteral("https://example.com/"));
        const QUrl file = QUrl::fromLocalFile(QStringLiteral("/tmp/a file.txt"));
        QImage image(5, 3, QImage::Format_ARGB32);
        image.fill(Qt::blue);
        const QList<DraggingItem> all{
            {web, {}}, {QStringLiteral("one"), {}}, {file, {}}, {QStringLiteral("two"), {}}, {image, {}}};
        std::unique_ptr<QMimeData> data(HistoryDragSession::mimeData(all));
        QCOMPARE(data->urls(), (QList<QUrl>{web, file}));
        QCOMPARE(data->text(), QStringLiteral("one\ntwo"));
        QVERIFY(data->hasImage());
        QCOMPARE(QImage::fromData(data->data(QStringLiteral("image/png")), "PNG").size(), QSize(5, 3));

        // Links alone reach text-only targets as their text.
        std::unique_ptr<QMimeData> links(HistoryDragSession::mimeData({{web, {}}, {file, {}}}));
        QCOMPARE(links->text(), QStringLiteral("https://example.com/\n/tmp/a file.txt"));
        QVERIFY(!links->hasImage());
    }

    // --- Look -----------------------------------------------------------------------------------

    void looks_data()
    {
        QTest::addColumn<bool>("selected");
        QTest::addColumn<bool>("hovered");
        QTest::addColumn<bool>("pinned");
        QTest::addColumn<qreal>("backgroundAlpha");
        QTest::addColumn<qreal>("borderWidth");
        QTest::addColumn<bool>("blueAccent");
        QTest::addColumn<bool>("separator");
        QTest::addColumn<qreal>("pinOpacity");
        QTest::addColumn<qreal>("moreOpacity");
        QTest::newRow("plain") << false << false << false << 0.01 << 0.0 << false << true << 0.18 << 0.18;
        QTest::newRow("plain, pinned") << false << false << true << 0.01 << 0.0 << false << true << 1.0 << 0.18;
        QTest::newRow("hovered") << false << true << false << 0.035 << 1.0 << false << false << 1.0 << 1.0;
        QTest::newRow("selected") << true << false << false << 0.054 << 0.0 << true << false << 1.0 << 1.0;
        QTest::newRow("selected, hovered") << true << true << false << 0.08 << 0.0 << true << false << 1.0 << 1.0;
    }

    void looks()
    {
        QFETCH(bool, selected);
        QFETCH(bool, hovered);
        QFETCH(bool, pinned);
        QFETCH(qreal, backgroundAlpha);
        QFETCH(qreal, borderWidth);
        QFETCH(bool, blueAccent);
        QFETCH(bool, separator);
        QFETCH(qreal, pinOpacity);
        QFETCH(qreal, moreOpacity);
        ClipRowView row(QuillomareTest::textItem(QStringLiteral("hello"), Clock::now(), pinned));
        row.setSelected(selected);
        row.setHovering(hovered);
        row.updateBackground();
        QVERIFY(qAbs(row.backgroundColor().alphaF() - backgroundAlpha) < 0.005);
        QCOMPARE(row.borderWidth(), borderWidth);
        QCOMPARE(row.accentColor().rgb(), (blueAccent ? IslandTheme::selectionBlue() : QColor(Qt::white)).rgb());
        QCOMPARE(row.isSelectionOutlineVisible(), selected);
        QCOMPARE(row.isSeparatorVisible(), separator);
        QCOMPARE(row.buttonOpacity(row.pinButton()), pinOpacity);
        QCOMPARE(row.buttonOpacity(row.moreButton()), moreOpacity);
    }

    void hover_followsThePointerUnlessPausedForScrolling()
    {
        ClipRowView row(textEntry(QStringLiteral("hello")));
        QEnterEvent enter(QPointF(5, 5), QPointF(5, 5), QPointF(5, 5));
        QEvent leave(QEvent::Leave);

        row.setHoverHighlightEnabled(false);
        QApplication::sendEvent(&row, &enter);
        QVERIFY(!row.isHovering());
        QCOMPARE(row.buttonOpacity(row.moreButton()), 0.18);

        row.setHoverHighlightEnabled(true);
        QApplication::sendEvent(&row, &enter);
        QVERIFY(row.isHovering());
        QCOMPARE(row.buttonOpacity(row.moreButton()), 1.0);

        // Leaving clears the look even while hover is paused.
        row.setHoverHighlightEnabled(false);
        QApplication::sendEvent(&row, &leave);
        QVERIFY(!row.isHovering());
        QCOMPARE(row.borderWidth(), 0.0);
    }

    // --- Menu -----------------------------------------------------------------------------------

    void menu_listsTheEntrysVariantsOnce()
    {
        RowHarness harness(linkEntry(QStringLiteral("https://example.com/?utm_source=x&id=1")));
        std::unique_ptr<QMenu> menu(harness.row->makeRowMenu());
        const QList<QAction*> actions = menu->actions();

        QStringList expected{PasteVariant(PasteVariant::original).title()};
        for (PasteVariant variant : PasteTransform::menuVariants(harness.row->item())) {
            if (variant != PasteVariant::original)
                expected.append(variant.title());
        }
        QVERIFY(expected.contains(PasteVariant(PasteVariant::cleanedURL).title()));
        expected << QStringLiteral("---") << QStringLiteral("Pin this item") << QStringLiteral("Delete this item");
        QCOMPARE(titles(actions), expected);
        QVERIFY(actions.first()->isEnabled());

        actions.at(expected.indexOf(PasteVariant(PasteVariant::cleanedURL).title()))->trigger();
        actions.first()->trigger();
        actions.last()->trigger();
        QCOMPARE(harness.log,
                 (QStringList{QStringLiteral("variant 5"), QStringLiteral("variant 0"), QStringLiteral("delete")}));
    }

    void menu_copyOriginalNeedsSomethingToCopy_data()
    {
        QTest::addColumn<ClipboardItem>("item");
        QTest::addColumn<bool>("enabled");
        QTest::newRow("empty text") << textEntry(QString()) << false;
        QTest::newRow("blank text is still text") << textEntry(QStringLiteral(" ")) << true;
        QTest::newRow("blank paths") << QuillomareTest::fileItem({QStringLiteral(" "), QStringLiteral("\n")}, at(0))
                                     << false;
        QTest::newRow("one path") << QuillomareTest::fileItem({QStringLiteral(" /tmp/x ")}, at(0)) << true;
        QTest::newRow("image") << QuillomareTest::imageItem(pngBytes(), at(0)) << true;
    }

    void menu_copyOriginalNeedsSomethingToCopy()
    {
        QFETCH(ClipboardItem, item);
        QFETCH(bool, enabled);
        ClipRowView row(item);
        QCOMPARE(row.canCopyItem(), enabled);
        std::unique_ptr<QMenu> menu(row.makeRowMenu());
        QCOMPARE(menu->actions().first()->isEnabled(), enabled);
    }

    // --- Footer ---------------------------------------------------------------------------------

    void footer_countsTheEntries()
    {
        Language::setIsChineseForTesting(true);
        QCOMPARE(HistoryListFooterView(3).label()->text(), QStringLiteral("共 3 项"));
        Language::setIsChineseForTesting(false);
        HistoryListFooterView footer(12);
        QCOMPARE(footer.label()->text(), QStringLiteral("12 items"));
        QCOMPARE(footer.height(), 22);
        // One entry is one item, in English as in Chinese.
        QCOMPARE(HistoryListFooterView(1).label()->text(), QStringLiteral("1 item"));
        QCOMPARE(HistoryListFooterView(0).label()->text(), QStringLiteral("0 items"));
        Language::setIsChineseForTesting(true);
        QCOMPARE(HistoryListFooterView(1).label()->text(), QStringLiteral("共 1 项"));
        Language::setIsChineseForTesting(false);
    }
};

QUILLOMARE_GUI_TEST_MAIN(TestClipRowView)
#include "tst_cliprowview.moc"
