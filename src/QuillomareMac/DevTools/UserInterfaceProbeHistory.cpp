// The probes of the history rows (their previews and how a press selects them), of the list's
// scroll-view fallback and of the shelf gallery's hit test.

#include "UserInterfaceProbe.h"

#include "DevTools/IslandPreviewRenderer.h"
#include "DevTools/ProbeSupport.h"
#include "History/ClipRowView.h"
#include "History/ClipThumbnailView.h"
#include "History/HistoryListFooterView.h"
#include "History/HistoryPreviewPane.h"
#include "Island/Kit/IslandIconButton.h"
#include "Island/Kit/IslandListScrollView.h"
#include "Island/IslandView.h"
#include "Island/Panel/NotchAnchor.h"
#include "QuickPreview/ClipQuickPreviewView.h"
#include "Shelf/Views/ShelfGalleryCardView.h"

#include <QuillomareCore/CloudSyncService.h>
#include <QuillomareCore/Foundation.h>
#include <QuillomareCore/Hashing.h>

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QFile>
#include <QImage>
#include <QLabel>
#include <QMouseEvent>
#include <QPainter>
#include <QPointer>
#include <QScrollBar>
#include <QTemporaryDir>
#include <QWindow>

#include <memory>
#include <optional>
#include <vector>

namespace QuillomareMac::UserInterfaceProbe {

using QuillomareCore::ClipboardItem;
using QuillomareCore::ClipboardPayload;
using QuillomareCore::ClipKind;

namespace {

// How often a step looks for the state it waits for, and how long it waits at most.
constexpr int kPollMilliseconds = 15;
constexpr int kWaitMilliseconds = 8000;

// MARK: - Steps

// One step of a probe: what it does, then what must hold before the next step starts. A step
// that waits for nothing still lets the event loop deliver what it posted first.
struct Step
{
    std::function<void()> act;
    std::function<bool()> until = {};
    // Reported as "timedOut" when `until` never holds.
    QString finding = {};
};

using Steps = std::vector<Step>;

void runStep(Probe& probe, const std::shared_ptr<const Steps>& steps, std::size_t index, std::function<void()> then);

void awaitStep(Probe& probe, const std::shared_ptr<const Steps>& steps, std::size_t index, QDeadlineTimer deadline,
               std::function<void()> then)
{
    probe.after(kPollMilliseconds, [&probe, steps, index, deadline, then = std::move(then)] {
        const Step& step = (*steps)[index];
        if (!step.until || step.until())
            return runStep(probe, steps, index + 1, then);
        if (deadline.hasExpired()) {
            probe.fail(step.finding, QStringLiteral("timedOut"));
            return probe.finish();
        }
        awaitStep(probe, steps, index, deadline, then);
    });
}

void runStep(Probe& probe, const std::shared_ptr<const Steps>& steps, std::size_t index, std::function<void()> then)
{
    if (probe.isFinished())
        return;
    if (index == steps->size())
        return then ? then() : probe.finish();
    if (const Step& step = (*steps)[index]; step.act)
        step.act();
    if (!probe.isFinished())
        awaitStep(probe, steps, index, QDeadlineTimer(kWaitMilliseconds), std::move(then));
}

// Runs the steps in order, then `then`, or the verdict when there is none.
void runSteps(Probe& probe, Steps steps, std::function<void()> then = {})
{
    runStep(probe, std::make_shared<const Steps>(std::move(steps)), 0, std::move(then));
}

// A finding the rest of the probe builds on: a false one ends the probe.
bool require(Probe& probe, const QString& finding, bool holds)
{
    if (!probe.expect(finding, holds))
        probe.finish();
    return holds;
}

// MARK: - The island

// The expanded island in a window of its own, sized as the previews draw it. It lives until the
// event loop ends.
IslandView* makeIsland()
{
    const auto target =
        IslandGeometry::targetFrame(IslandView::DisplayMode::expanded, IslandPreviewRenderer::sampleScreen());
    auto* view = new IslandView(QRect(QPoint(0, 0), target.frame.size().toSize()));
    view->setWindowFlag(Qt::FramelessWindowHint);
    view->setExpandedTopInset(target.pushes.expandedTopInset);
    view->setNotchHeaderLayout(target.pushes.notchWidth, target.pushes.stripHeight);
    view->setExpandedContentHeight(target.pushes.expandedContentHeight);
    view->setDisplayMode(IslandView::DisplayMode::expanded, false);
    QObject::connect(qApp, &QCoreApplication::aboutToQuit, qApp,
                     [island = QPointer<IslandView>(view)] { delete island.data(); });
    return view;
}

// Shows the island and waits until its window is exposed and stays put: a window manager may
// still move a new window, and the events below are placed by its position.
Step showStep(IslandView* view)
{
    auto settled = std::make_shared<std::pair<QPoint, int>>(QPoint(), 0);
    return {[view] {
                view->show();
                view->raise();
            },
            [view, settled] {
                const QWindow* window = view->windowHandle();
                if (!window || !window->isExposed())
                    return false;
                const QPoint position = view->mapToGlobal(QPoint(0, 0));
                settled->second = position == settled->first ? settled->second + 1 : 0;
                settled->first = position;
                return settled->second >= 4;
            },
            QStringLiteral("islandShown")};
}

// MARK: - Mouse

// Where an event is handed over. `window`: to the island's window, which finds the widget under
// the point, gives the release to the widget that took the press and lets an ignored event climb
// to the parents, as the windowing system's events go. `widget`: straight to one widget, an event
// that reached that widget itself instead of what lies on top of it.
enum class Route
{
    window,
    widget
};

void postMouse(QWidget* widget, QPointF point, QEvent::Type type, Route route = Route::window)
{
    const Qt::MouseButton button = type == QEvent::MouseMove ? Qt::NoButton : Qt::LeftButton;
    const Qt::MouseButtons buttons = type == QEvent::MouseButtonRelease ? Qt::NoButton : Qt::LeftButton;
    QWidget* top = widget->window();
    const QPointF inWindow = widget->mapTo(top, point);
    const QPointF global = widget->mapToGlobal(point);
    if (route == Route::window)
        QCoreApplication::postEvent(top->windowHandle(),
                                    new QMouseEvent(type, inWindow, inWindow, global, button, buttons, {}));
    else
        QCoreApplication::postEvent(widget, new QMouseEvent(type, point, inWindow, global, button, buttons, {}));
}

void postClick(QWidget* widget, QPointF point, Route route = Route::window)
{
    postMouse(widget, point, QEvent::MouseButtonPress, route);
    postMouse(widget, point, QEvent::MouseButtonRelease, route);
}

// What widgets receive of a double click: the second press, then the double-click event for it.
void postDoubleClick(QWidget* widget, QPointF point, Route route = Route::window)
{
    postClick(widget, point, route);
    postMouse(widget, point, QEvent::MouseButtonPress, route);
    postMouse(widget, point, QEvent::MouseButtonDblClick, route);
    postMouse(widget, point, QEvent::MouseButtonRelease, route);
}

QPointF centre(const QWidget* widget)
{
    return QRectF(widget->rect()).center();
}

// MARK: - History

QByteArray picturePNG(const QColor& colour)
{
    QImage image(120, 80, QImage::Format_RGB32);
    image.fill(colour);
    QPainter painter(&image);
    painter.fillRect(QRect(24, 20, 48, 30), Qt::white);
    painter.end();
    return ProbeSupport::pngBytes(image);
}

ClipboardItem entry(ClipKind kind, const QString& preview, ClipboardPayload payload, QString contentHash,
                    int minutesAgo)
{
    return ProbeSupport::sampleEntry(kind, preview, std::move(payload), std::move(contentHash), QStringLiteral("Kate"),
                                     minutesAgo);
}

ClipboardItem textEntry(const QString& text, int minutesAgo)
{
    return entry(ClipKind::text, text, ClipboardPayload::text(text), QuillomareCore::ClipHashing::textContentHash(text),
                 minutesAgo);
}

ClipboardItem imageEntry(const QByteArray& png, int minutesAgo)
{
    return entry(ClipKind::image, QStringLiteral("Image · ") + ClipboardItem::formattedBytes(png.size()),
                 ClipboardPayload::imagePNG(png), QuillomareCore::ClipHashing::imageContentHash(png), minutesAgo);
}

// As a capture makes it: named by its one file, kind image when that file is a picture.
ClipboardItem fileEntry(const QStringList& paths, ClipKind kind, const QString& preview, int minutesAgo)
{
    return entry(kind, preview, ClipboardPayload::fileURLs(paths), QuillomareCore::ClipHashing::fileContentHash(paths),
                 minutesAgo);
}

QList<ClipboardItem> textEntries(int count)
{
    QList<ClipboardItem> items;
    for (int i = 0; i < count; ++i)
        items.append(textEntry(QStringLiteral("Note %1").arg(i + 1), i + 1));
    return items;
}

// The island in the history mode with `items`; copying an entry (Return, the tiles) is counted in
// `copies`, which no click may do.
IslandView* makeHistoryIsland(const QList<ClipboardItem>& items, const std::shared_ptr<int>& copies = {})
{
    IslandView* view = makeIsland();
    if (copies)
        view->onSelectItem = [copies](const ClipboardItem&) { ++*copies; };
    view->configure(items, QuillomareCore::CloudSyncState::disabled(), std::nullopt);
    return view;
}

ClipRowView* rowAt(const IslandView* view, qsizetype index)
{
    const QList<ClipboardItem>& visible = view->visibleItems();
    return index >= 0 && index < visible.size() ? view->historyRow(visible[index].id) : nullptr;
}

bool isSelected(const IslandView* view, const ClipboardItem& item)
{
    return view->selectedItemID() == item.id;
}

bool inspectorShows(const IslandView* view, const ClipboardItem& item)
{
    return view->historyInspectorPreview() && view->historyInspectorPreview()->currentItemID() == item.id;
}

bool previewShows(const IslandView* view, const ClipboardItem& item)
{
    return view->isQuickPreviewVisible() && view->previewingItemID() == item.id;
}

// The entry at `index` is the selection and its row the one row drawn selected.
bool onlyRowSelected(const IslandView* view, qsizetype index)
{
    const QList<ClipboardItem>& visible = view->visibleItems();
    if (index < 0 || index >= visible.size() || !isSelected(view, visible[index]))
        return false;
    for (qsizetype i = 0; i < visible.size(); ++i) {
        if (view->historyRow(visible[i].id) && view->debugIsHistoryRowSelectedForProbe(i) != (i == index))
            return false;
    }
    return view->debugIsHistoryRowSelectedForProbe(index);
}

enum class RowPart
{
    previewText,
    metaText,
    emptyBody,
    thumbnail
};

// A point of the row's part in the row's coordinates; none when the part has no room.
std::optional<QPointF> rowPoint(const ClipRowView* row, RowPart part)
{
    switch (part) {
    case RowPart::previewText:
        return row->previewLabel()->mapTo(row, centre(row->previewLabel()));
    case RowPart::metaText:
        return row->metaLabel()->mapTo(row, centre(row->metaLabel()));
    case RowPart::thumbnail:
        return row->thumbnail()->mapTo(row, centre(row->thumbnail()));
    case RowPart::emptyBody: {
        // Between the texts and the buttons.
        const int left = std::max(row->previewLabel()->geometry().right(), row->metaLabel()->geometry().right()) + 1;
        const int right = row->pinButton()->geometry().left();
        if (right - left < 6)
            return std::nullopt;
        return QPointF((left + right) / 2.0, row->height() / 2.0);
    }
    }
    return std::nullopt;
}

// A click (or a double click) on a part of the row of visible entry `index`; false when there is
// no such row or part.
bool clickRow(const IslandView* view, qsizetype index, RowPart part, bool twice = false)
{
    ClipRowView* row = rowAt(view, index);
    const std::optional<QPointF> point = row ? rowPoint(row, part) : std::nullopt;
    if (!point)
        return false;
    twice ? postDoubleClick(row, *point) : postClick(row, *point);
    return true;
}

ClipThumbnailView* thumbnailAt(const IslandView* view, qsizetype index)
{
    return rowAt(view, index)->thumbnail();
}

// The first three rows are there to look at; else the probe fails with `rowsBuilt`.
bool requireThreeRows(Probe& probe, const IslandView* view)
{
    return require(probe, QStringLiteral("rowsBuilt"), rowAt(view, 0) && rowAt(view, 1) && rowAt(view, 2));
}

bool previewShowsAPicture(IslandView* view)
{
    return !view->quickPreviewCard()->shownImage().isNull();
}

// The preview showed its picture (`finding`); closed again, the third row's thumbnail is clicked.
void closePreviewAndClickThirdThumbnail(Probe& probe, IslandView* view, const QString& finding)
{
    probe.report(finding, true);
    view->dismissQuickPreview(false);
    clickRow(view, 2, RowPart::thumbnail);
}

// The click named `click` selected `item` and opened no preview.
void expectSelectedWithoutPreview(Probe& probe, IslandView* view, const ClipboardItem& item, const QString& click)
{
    probe.expect(click + QStringLiteral("OpensNoPreview"), !view->previewingItemID());
    probe.expect(click + QStringLiteral("Selects"), isSelected(view, item));
}

} // namespace

// A text row shows its text, image rows their pictures; a click on a picture opens the quick
// preview of its entry, except for a private one, and a double click opens any entry's.
void historyRowPreviewProbe(Probe& probe)
{
    ClipboardItem secret = imageEntry(picturePNG(QColor(200, 60, 90)), 9);
    secret.isSensitive = true;
    const QList<ClipboardItem> items{textEntry(QStringLiteral("Quarterly numbers: revenue up 12 %"), 2),
                                     imageEntry(picturePNG(QColor(47, 140, 255)), 5), secret};
    IslandView* view = makeHistoryIsland(items);
    runSteps(probe,
             {
                 showStep(view),
                 {[&probe, view, items] {
                      if (!requireThreeRows(probe, view))
                          return;
                      probe.expect(QStringLiteral("textRowShowsText"),
                                   rowAt(view, 0)->previewLabel()->text() == items[0].preview);
                      probe.expect(QStringLiteral("textRowShowsSymbol"),
                                   thumbnailAt(view, 0)->shownSymbol() == u"text.alignleft");
                  },
                  [view] { return thumbnailAt(view, 1)->isShowingImage() && thumbnailAt(view, 2)->isShowingImage(); },
                  QStringLiteral("imageRowsShowPictures")},
                 {[&probe] { probe.report(QStringLiteral("imageRowsShowPictures"), true); }},
                 {[view] { clickRow(view, 1, RowPart::thumbnail); },
                  [view, items] { return previewShows(view, items[1]); }, QStringLiteral("pictureClickOpensPreview")},
                 {[&probe, view, items] {
                      probe.report(QStringLiteral("pictureClickOpensPreview"), true);
                      probe.expect(QStringLiteral("previewedEntrySelected"), isSelected(view, items[1]));
                  },
                  [view] { return previewShowsAPicture(view); }, QStringLiteral("previewShowsPicture")},
                 {[&probe, view] {
                     closePreviewAndClickThirdThumbnail(probe, view, QStringLiteral("previewShowsPicture"));
                 }},
                 {[&probe, view, items] {
                     expectSelectedWithoutPreview(probe, view, items[2], QStringLiteral("privatePictureClick"));
                     clickRow(view, 0, RowPart::thumbnail);
                 }},
                 {[&probe, view, items] {
                      expectSelectedWithoutPreview(probe, view, items[0], QStringLiteral("textSymbolClick"));
                      clickRow(view, 0, RowPart::previewText, true);
                  },
                  [view, items] { return previewShows(view, items[0]); }, QStringLiteral("doubleClickOpensPreview")},
                 {[&probe, view] {
                     probe.report(QStringLiteral("doubleClickOpensPreview"), true);
                     probe.expect(QStringLiteral("previewShowsText"),
                                  view->quickPreviewCard()->content() == ClipQuickPreviewView::Content::text);
                 }},
             });
}

// Rows of files the probe writes show the file's name and its picture or its type's icon; a click
// on a picture file opens its preview, a double click on another file lists it in the preview.
void historyRowFilePreviewProbe(Probe& probe)
{
    auto folder = std::make_shared<QTemporaryDir>();
    const QString picture = folder->filePath(QStringLiteral("Holiday.png"));
    const QString notes = folder->filePath(QStringLiteral("notes.txt"));
    QFile notesFile(notes);
    const bool written = folder->isValid() && QImage::fromData(picturePNG(QColor(92, 199, 138))).save(picture) &&
                         notesFile.open(QIODevice::WriteOnly) && notesFile.write("Pick up the parcel.\n") > 0;
    notesFile.close();
    if (!written) {
        probe.fail(QStringLiteral("sampleFilesWritten"),
                   folder->isValid() ? notes + QStringLiteral(": ") + notesFile.errorString() : folder->errorString());
        return probe.finish();
    }
    const QList<ClipboardItem> items{fileEntry({picture}, ClipKind::image, QStringLiteral("Holiday.png"), 1),
                                     fileEntry({notes}, ClipKind::file, QStringLiteral("notes.txt"), 3),
                                     fileEntry({notes, picture}, ClipKind::file, QStringLiteral("2 files"), 6)};
    IslandView* view = makeHistoryIsland(items);
    // The files live as long as the island that shows them.
    QObject::connect(view, &QObject::destroyed, [folder] {});
    runSteps(
        probe,
        {
            showStep(view),
            {[&probe, view, items] {
                 if (!requireThreeRows(probe, view))
                     return;
                 for (qsizetype i = 0; i < items.size(); ++i)
                     probe.expect(QStringLiteral("row%1ShowsName").arg(i),
                                  rowAt(view, i)->previewLabel()->text() == items[i].preview);
                 probe.expect(QStringLiteral("fileRowShowsTypeIcon"),
                              thumbnailAt(view, 1)->isShowingFileIcon() &&
                                  thumbnailAt(view, 1)->shownSymbol() == u"doc");
                 probe.expect(QStringLiteral("filesRowShowsTypeIcon"), thumbnailAt(view, 2)->isShowingFileIcon());
             },
             [view] { return thumbnailAt(view, 0)->isShowingImage(); }, QStringLiteral("pictureFileRowShowsPicture")},
            {[&probe, view] {
                 probe.report(QStringLiteral("pictureFileRowShowsPicture"), true);
                 clickRow(view, 0, RowPart::thumbnail);
             },
             [view, items] { return previewShows(view, items[0]); }, QStringLiteral("pictureFileClickOpensPreview")},
            {[&probe] { probe.report(QStringLiteral("pictureFileClickOpensPreview"), true); },
             [view] { return previewShowsAPicture(view); }, QStringLiteral("previewShowsFilePicture")},
            {[&probe, view] {
                closePreviewAndClickThirdThumbnail(probe, view, QStringLiteral("previewShowsFilePicture"));
            }},
            {[&probe, view, items] {
                 expectSelectedWithoutPreview(probe, view, items[2], QStringLiteral("filesIconClick"));
                 clickRow(view, 1, RowPart::previewText, true);
             },
             [view, items] { return previewShows(view, items[1]); }, QStringLiteral("doubleClickOpensFilePreview")},
            {[&probe, view] {
                const ClipQuickPreviewView* card = view->quickPreviewCard();
                probe.report(QStringLiteral("doubleClickOpensFilePreview"), true);
                probe.expect(QStringLiteral("previewListsFile"),
                             card->content() == ClipQuickPreviewView::Content::files &&
                                 card->fileNameLines() == QStringList{QStringLiteral("notes.txt")});
            }},
        });
}

// A click anywhere on a row's body (its text, its meta line, the empty middle, its symbol) makes
// that row the selection: its look, the inspector and nothing copied.
void historyRowBodySelectProbe(Probe& probe)
{
    const QList<ClipboardItem> items = textEntries(5);
    auto copies = std::make_shared<int>(0);
    IslandView* view = makeHistoryIsland(items, copies);
    struct Click
    {
        qsizetype row;
        RowPart part;
        const char* finding;
    };
    static constexpr Click clicks[] = {{3, RowPart::previewText, "previewTextClickSelects"},
                                       {1, RowPart::metaText, "metaTextClickSelects"},
                                       {4, RowPart::emptyBody, "emptyBodyClickSelects"},
                                       {2, RowPart::thumbnail, "symbolClickSelects"}};
    Steps steps{showStep(view), {[&probe, view] {
                    require(probe, QStringLiteral("firstRowSelectedAtStart"), onlyRowSelected(view, 0));
                }}};
    for (const Click& click : clicks) {
        steps.push_back({[&probe, view, click] {
            require(probe, QStringLiteral("row%1PartClickable").arg(click.row), clickRow(view, click.row, click.part));
        }});
        steps.push_back({[&probe, view, items, click] {
            probe.expect(QString::fromLatin1(click.finding),
                         onlyRowSelected(view, click.row) && inspectorShows(view, items[click.row]));
        }});
    }
    steps.push_back({[&probe, view, copies] {
        probe.expect(QStringLiteral("clicksOpenNoPreview"), !view->previewingItemID());
        probe.expect(QStringLiteral("clicksCopyNothing"), *copies == 0);
    }});
    runSteps(probe, std::move(steps));
}

// The press selects: the row is the selection (and drawn so, with the inspector following)
// before the button comes up; a small move and the release keep it.
void historyRowBodyMousedownSelectProbe(Probe& probe)
{
    const QList<ClipboardItem> items = textEntries(4);
    IslandView* view = makeHistoryIsland(items);
    auto press = std::make_shared<std::pair<ClipRowView*, QPointF>>();
    const auto pressRow = [&probe, view, press](qsizetype index) {
        ClipRowView* row = rowAt(view, index);
        const std::optional<QPointF> point = row ? rowPoint(row, RowPart::previewText) : std::nullopt;
        if (!require(probe, QStringLiteral("row%1Pressable").arg(index), point.has_value()))
            return;
        *press = {row, *point};
        postMouse(row, *point, QEvent::MouseButtonPress);
    };
    const auto selectedOnPress = [&probe, view, items](qsizetype index) {
        probe.expect(QStringLiteral("row%1SelectedOnPress").arg(index),
                     onlyRowSelected(view, index) && inspectorShows(view, items[index]));
    };
    runSteps(probe, {
                        showStep(view),
                        {[&probe, view] {
                            require(probe, QStringLiteral("firstRowSelectedAtStart"), onlyRowSelected(view, 0));
                        }},
                        {[pressRow] { pressRow(2); }},
                        {[selectedOnPress, press] {
                            selectedOnPress(2);
                            // Less than a drag: the press stays a press.
                            postMouse(press->first, press->second + QPointF(6, 2), QEvent::MouseMove);
                            postMouse(press->first, press->second + QPointF(6, 2), QEvent::MouseButtonRelease);
                        }},
                        {[&probe, view, items, pressRow] {
                            probe.expect(QStringLiteral("row2SelectedAfterRelease"), isSelected(view, items[2]));
                            probe.expect(QStringLiteral("releaseOpensNoPreview"), !view->previewingItemID());
                            pressRow(0);
                        }},
                        {[selectedOnPress, press] {
                            selectedOnPress(0);
                            postMouse(press->first, press->second, QEvent::MouseButtonRelease);
                        }},
                        {[&probe, view, items] {
                            probe.expect(QStringLiteral("row0SelectedAfterRelease"), isSelected(view, items[0]));
                        }},
                    });
}

// A press that reaches the list's scroll view itself rather than a row acts on the row under the
// pointer, also with the list scrolled, and the release that follows reaches the same row; one
// below the last row selects nothing.
void historyScrollFallbackBodySelectProbe(Probe& probe)
{
    // Ten rows and part of one: the rows no longer start at the viewport's top.
    constexpr int kScrolledBy = 417;
    const QList<ClipboardItem> items = textEntries(30);
    IslandView* view = makeHistoryIsland(items);
    QScrollBar* bar = view->scrollView()->verticalScrollBar();
    QWidget* viewport = view->scrollView()->viewport();
    // The entry whose row lies at the middle of the viewport once scrolled.
    auto target = std::make_shared<qsizetype>(-1);
    const auto pointOn = [view, viewport](qsizetype index) {
        ClipRowView* row = rowAt(view, index);
        return row ? std::optional<QPointF>(row->mapTo(viewport, QPointF(row->width() / 3.0, row->height() / 2.0)))
                   : std::nullopt;
    };
    runSteps(
        probe,
        {
            showStep(view),
            {[bar] { bar->setValue(kScrolledBy); }, [bar] { return bar->value() == kScrolledBy; },
             QStringLiteral("listScrolled")},
            {[&probe, view, viewport, items, target, pointOn] {
                const QPointF middle = centre(viewport);
                for (qsizetype i = 0; i < items.size() && *target < 0; ++i) {
                    ClipRowView* row = rowAt(view, i);
                    if (row && QRectF(row->mapTo(viewport, QPointF(0, 0)), row->size()).contains(middle))
                        *target = i;
                }
                probe.report(QStringLiteral("rowUnderPointer"), qint64(*target));
                if (!require(probe, QStringLiteral("scrolledRowInView"), *target > 0 && *target + 1 < items.size()))
                    return;
                postMouse(viewport, *pointOn(*target), QEvent::MouseButtonPress, Route::widget);
            }},
            {[&probe, view, viewport, items, target, pointOn] {
                probe.expect(QStringLiteral("fallbackPressSelectsRowUnderPointer"),
                             onlyRowSelected(view, *target) && inspectorShows(view, items[*target]));
                postMouse(viewport, *pointOn(*target), QEvent::MouseButtonRelease, Route::widget);
            }},
            {[&probe, view, viewport, items, target, pointOn] {
                 probe.expect(QStringLiteral("fallbackReleaseKeepsSelection"),
                              isSelected(view, items[*target]) && !view->previewingItemID());
                 if (!require(probe, QStringLiteral("nextRowInView"), pointOn(*target + 1).has_value()))
                     return;
                 postDoubleClick(viewport, *pointOn(*target + 1), Route::widget);
             },
             [view, items, target] { return previewShows(view, items[*target + 1]); },
             QStringLiteral("fallbackDoubleClickReachesSameRow")},
            {[&probe, view, bar] {
                 probe.report(QStringLiteral("fallbackDoubleClickReachesSameRow"), true);
                 view->dismissQuickPreview(false);
                 bar->setValue(bar->maximum());
             },
             [bar] { return bar->maximum() > 0 && bar->value() == bar->maximum(); }, QStringLiteral("listAtEnd")},
            {[&probe, view, viewport] {
                HistoryListFooterView* footer = view->historyFooter();
                if (!require(probe, QStringLiteral("footerShown"), footer && footer->isVisible()))
                    return;
                const QPointF below = footer->mapTo(viewport, centre(footer));
                postClick(viewport, below, Route::widget);
                postClick(footer, centre(footer), Route::window);
            }},
            {[&probe, view, items, target] {
                probe.expect(QStringLiteral("pressBelowRowsSelectsNothing"), isSelected(view, items[*target + 1]));
            }},
        });
}

// Presses at the centre and near each corner of every card in view select that card and mark
// only it; presses in the gaps between cards and below them select nothing, whether the window
// or the gallery's scroll view receives them.
void shelfGalleryHitTestProbe(Probe& probe)
{
    const auto item = [](ClipKind kind, const QString& title, ShelfPayload payload) {
        return ShelfItem{.id = QUuid::createUuid(),
                         .createdAt = QuillomareCore::Clock::now().addSecs(-120),
                         .kind = kind,
                         .title = title,
                         .subtitle = QString(),
                         .preview = title,
                         .payload = std::move(payload),
                         .isSensitive = false};
    };
    const QList<ShelfItem> items{
        item(ClipKind::text, QStringLiteral("Release notes"), ShelfPayload::text(QStringLiteral("Release notes"))),
        item(ClipKind::url, QStringLiteral("example.org"), ShelfPayload::url(QStringLiteral("https://example.org/"))),
        item(ClipKind::text, QStringLiteral("Install script"), ShelfPayload::text(QStringLiteral("make install"))),
        item(ClipKind::text, QStringLiteral("Meeting at 3"), ShelfPayload::text(QStringLiteral("Meeting at 3")))};
    IslandView* view = makeIsland();
    view->configureShelf(items, std::nullopt);
    view->setContentMode(IslandView::ContentMode::shelfGallery, false);
    QWidget* viewport = view->shelfGalleryScrollView()->viewport();

    // Exactly `id` is focused and marked.
    const auto onlyMarked = [view, items](const QUuid& id) {
        bool only = view->selectedShelfItemID() == id;
        for (const ShelfItem& entry : items) {
            const ShelfGalleryCardView* card = view->shelfGalleryCardView(entry.id);
            only = only && card && card->isSelected() == (entry.id == id);
        }
        return only;
    };
    const auto plan = [&probe, view, viewport, items, onlyMarked] {
        // The cards the viewport shows, each with the part of it in view (in its own coordinates).
        QList<std::pair<ShelfGalleryCardView*, QRectF>> cards;
        for (const ShelfItem& entry : items) {
            ShelfGalleryCardView* card = view->shelfGalleryCardView(entry.id);
            if (!card)
                continue;
            const QRect shown = QRect(card->mapTo(viewport, QPoint(0, 0)), card->size()).intersected(viewport->rect());
            if (shown.width() >= 8 && shown.height() >= 8)
                cards.append({card, QRectF(card->mapFrom(viewport, shown.topLeft()), shown.size())});
        }
        probe.report(QStringLiteral("cardsInView"), qint64(cards.size()));
        if (!require(probe, QStringLiteral("firstCardFocusedAtStart"), onlyMarked(items[0].id)) ||
            !require(probe, QStringLiteral("enoughCardsInView"), cards.size() >= 3))
            return;

        Steps steps;
        // A press at `point` of `widget` with the focus first put on `from`: afterwards `expected` is
        // focused and marked.
        const auto press = [&steps, &probe, view, onlyMarked](QWidget* widget, QPointF point, Route route, QUuid from,
                                                              QUuid expected, QString finding) {
            steps.push_back({[view, widget, point, route, from] {
                view->selectShelfItem(from, false);
                postClick(widget, point, route);
            }});
            steps.push_back({[&probe, view, expected, finding, onlyMarked] {
                probe.expect(finding, onlyMarked(expected) && !view->shelfGalleryFallbackCardID());
            }});
        };
        for (qsizetype i = cards.size() - 1; i >= 0; --i) {
            ShelfGalleryCardView* card = cards[i].first;
            const QUuid other = cards[(i + 1) % cards.size()].first->item().id;
            const QRectF inner = cards[i].second.adjusted(1, 1, -2, -2);
            const QList<std::pair<const char*, QPointF>> points{{"Centre", inner.center()},
                                                                {"TopLeft", inner.topLeft()},
                                                                {"TopRight", inner.topRight()},
                                                                {"BottomLeft", inner.bottomLeft()},
                                                                {"BottomRight", inner.bottomRight()}};
            for (const auto& [name, point] : points)
                press(card, point, Route::window, other, card->item().id,
                      QStringLiteral("card%1%2Selects").arg(i).arg(QLatin1String(name)));
        }
        const QUuid first = cards[0].first->item().id;
        for (qsizetype i = 0; i + 1 < cards.size(); ++i) {
            const QRect left = cards[i].first->geometry();
            const QRect right = cards[i + 1].first->geometry();
            const QPointF gap((left.right() + 1 + right.left()) / 2.0, left.center().y());
            QWidget* strip = cards[i].first->parentWidget();
            // The focus on a card away from the gap: neither neighbour may take it.
            const QUuid away = cards[(i + 2) % cards.size()].first->item().id;
            press(strip, gap, Route::window, away, away, QStringLiteral("gap%1SelectsNothing").arg(i));
            press(viewport, strip->mapTo(viewport, gap), Route::widget, away, away,
                  QStringLiteral("gap%1ScrollViewPressSelectsNothing").arg(i));
        }
        ShelfGalleryCardView* second = cards[1].first;
        const QPointF underCard = second->mapTo(viewport, QPointF(second->width() / 2.0, second->height() + 3));
        if (viewport->rect().contains(underCard.toPoint()))
            press(viewport, underCard, Route::window, first, first, QStringLiteral("belowCardSelectsNothing"));
        const auto& [last, lastShown] = cards.constLast();
        press(viewport, last->mapTo(viewport, lastShown.center()), Route::widget, first, last->item().id,
              QStringLiteral("scrollViewPressSelectsCardUnderPointer"));
        // A double click opens the card's preview, also when the scroll view receives it.
        for (const Route route : {Route::window, Route::widget}) {
            const QString finding = route == Route::window ? QStringLiteral("doubleClickOpensPreview")
                                                           : QStringLiteral("scrollViewDoubleClickOpensPreview");
            steps.push_back({[view, viewport, second, route] {
                                 view->dismissQuickPreview(false);
                                 postDoubleClick(viewport, second->mapTo(viewport, centre(second)), route);
                             },
                             [view, second] {
                                 return view->isQuickPreviewVisible() && view->previewingItemID() == second->item().id;
                             },
                             finding});
            steps.push_back({[&probe, finding] { probe.report(finding, true); }});
        }
        runSteps(probe, std::move(steps));
    };
    runSteps(probe, {showStep(view)}, plan);
}

} // namespace QuillomareMac::UserInterfaceProbe
