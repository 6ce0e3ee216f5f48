// The quick preview and Live Text probes. Each builds the island (or, for the pan gate, the picture
// view alone) around entries of its own: a text, and a picture of English and Chinese text rendered
// into a temporary folder, never the user's history. Events are synthesized and sent the way the
// window system would deliver them; conditions are waited for by bounded polling.

#include "UserInterfaceProbe.h"

#include "DevTools/ProbeSupport.h"
#include "History/HistoryPreviewPane.h"
#include "Island/Kit/IslandIconButton.h"
#include "Island/IslandView.h"
#include "Pasteboard/MacPasteboardWriter.h"
#include "QuickPreview/ClipQuickPreviewView.h"
#include "QuickPreview/LiveTextLayout.h"
#include "QuickPreview/QuickPreviewImageView.h"

#include <Platform/Pasteboard.h>
#include <Platform/TextRecognizer.h>
#include <QuillomareCore/ClipboardItem.h>
#include <QuillomareCore/CloudSyncService.h>
#include <QuillomareCore/Foundation.h>
#include <QuillomareCore/Hashing.h>
#include <QuillomareCore/Language.h>

#include <QApplication>
#include <QDateTime>
#include <QElapsedTimer>
#include <QFile>
#include <QFontInfo>
#include <QFontMetricsF>
#include <QKeyEvent>
#include <QLabel>
#include <QMouseEvent>
#include <QPainter>
#include <QPointer>
#include <QTemporaryDir>
#include <QThread>
#include <QWheelEvent>

#include <atomic>
#include <chrono>
#include <cmath>
#include <future>
#include <memory>
#include <mutex>

namespace QuillomareMac::UserInterfaceProbe {

namespace Language = QuillomareCore::Language;

using QuillomareCore::ClipboardItem;
using QuillomareCore::ClipboardPayload;
using QuillomareCore::ClipKind;
using LiveTextState = ClipQuickPreviewView::LiveTextState;

namespace {

constexpr int kPollMilliseconds = 20;
// The engine loads its languages on first use (~0.2 s) and reads the sample in well under a
// second; the bound only keeps a stuck probe from waiting for the run's own timeout.
constexpr int kRecognitionBoundMilliseconds = 45'000;
constexpr int kUiBoundMilliseconds = 5'000;

// --- The sample picture

struct SampleLine
{
    QString family;
    QString text;
    QPointF baseline;
};

const QSize kSampleSize(1000, 310);
constexpr int kSamplePixelSize = 40;

const QList<SampleLine>& sampleLines()
{
    static const QList<SampleLine> lines{
        {QStringLiteral("Inter"), QStringLiteral("Quick brown fox"), QPointF(80, 100)},
        {QStringLiteral("Noto Sans CJK SC"), QStringLiteral("快速预览文字"), QPointF(80, 190)},
    };
    return lines;
}

QFont sampleFont(const SampleLine& line)
{
    QFont font(line.family);
    font.setPixelSize(kSamplePixelSize);
    return font;
}

// Black text on white, as a screenshot of text looks.
QImage samplePicture()
{
    QImage image(kSampleSize, QImage::Format_RGB32);
    image.fill(Qt::white);
    QPainter painter(&image);
    painter.setPen(Qt::black);
    for (const SampleLine& line : sampleLines()) {
        painter.setFont(sampleFont(line));
        painter.drawText(line.baseline, line.text);
    }
    return image;
}

// Where a line's ink lies, normalised to the picture, with room for the engine's line box.
QRectF sampleLineBand(const SampleLine& line)
{
    const QFontMetricsF metrics(sampleFont(line));
    const QRectF ink = metrics.boundingRect(line.text).translated(line.baseline).adjusted(-12, -12, 12, 12);
    return QRectF(ink.x() / kSampleSize.width(), ink.y() / kSampleSize.height(), ink.width() / kSampleSize.width(),
                  ink.height() / kSampleSize.height());
}

// The sample's lines as a reader copies them.
QString sampleText()
{
    QStringList texts;
    for (const SampleLine& line : sampleLines())
        texts.append(line.text);
    return texts.join(QLatin1Char('\n'));
}

// --- Entries

ClipboardItem textEntry(const QString& text)
{
    return ProbeSupport::sampleEntry(ClipKind::text, text, ClipboardPayload::text(text),
                                     QuillomareCore::ClipHashing::textContentHash(text), std::nullopt, 0);
}

ClipboardItem imageEntry(const QByteArray& png)
{
    ClipboardItem item = textEntry(QString());
    item.kind = ClipKind::image;
    item.preview = QStringLiteral("Image");
    item.contentHash = QuillomareCore::ClipHashing::imageContentHash(png);
    item.payload = ClipboardPayload::imagePNG(png);
    return item;
}

ClipboardItem imageFileEntry(const QString& path)
{
    ClipboardItem item = textEntry(QString());
    item.kind = ClipKind::file;
    item.preview = path;
    item.contentHash = QuillomareCore::ClipHashing::fileContentHash({path});
    item.payload = ClipboardPayload::fileURLs({path});
    return item;
}

// --- Events, as the window system delivers them

void sendMouse(QWidget* widget, QEvent::Type type, QPointF at, Qt::MouseButton button, Qt::MouseButtons buttons)
{
    QMouseEvent event(type, at, widget->mapToGlobal(at), button, buttons, Qt::NoModifier);
    QCoreApplication::sendEvent(widget, &event);
}

void click(QWidget* widget, QPointF at)
{
    sendMouse(widget, QEvent::MouseButtonPress, at, Qt::LeftButton, Qt::LeftButton);
    sendMouse(widget, QEvent::MouseButtonRelease, at, Qt::LeftButton, Qt::NoButton);
}

// Press, a hand's few moves, release.
void drag(QWidget* widget, QPointF from, QPointF to)
{
    sendMouse(widget, QEvent::MouseButtonPress, from, Qt::LeftButton, Qt::LeftButton);
    for (int step = 1; step <= 6; ++step)
        sendMouse(widget, QEvent::MouseMove, from + (to - from) * step / 6.0, Qt::NoButton, Qt::LeftButton);
    sendMouse(widget, QEvent::MouseButtonRelease, to, Qt::LeftButton, Qt::NoButton);
}

// The window system's whole sequence of a double click.
void doubleClick(QWidget* widget, QPointF at)
{
    click(widget, at);
    sendMouse(widget, QEvent::MouseButtonPress, at, Qt::LeftButton, Qt::LeftButton);
    sendMouse(widget, QEvent::MouseButtonDblClick, at, Qt::LeftButton, Qt::LeftButton);
    sendMouse(widget, QEvent::MouseButtonRelease, at, Qt::LeftButton, Qt::NoButton);
}

// Mouse wheel notches (120 each), upwards positive.
void wheel(QWidget* widget, QPointF at, int notches)
{
    QWheelEvent event(at, widget->mapToGlobal(at), QPoint(), QPoint(0, 120 * notches), Qt::NoButton, Qt::NoModifier,
                      Qt::NoScrollPhase, false);
    QCoreApplication::sendEvent(widget, &event);
}

// A key pressed and released over `target`, asked about first as a shortcut, as the toolkit does.
void pressKey(QWidget* target, Qt::Key key, Qt::KeyboardModifiers modifiers = Qt::NoModifier)
{
    const QString text = key == Qt::Key_Space ? QStringLiteral(" ") : QString();
    QKeyEvent override(QEvent::ShortcutOverride, key, modifiers, text);
    QCoreApplication::sendEvent(target, &override);
    QKeyEvent press(QEvent::KeyPress, key, modifiers, text);
    QCoreApplication::sendEvent(target, &press);
    QKeyEvent release(QEvent::KeyRelease, key, modifiers, text);
    QCoreApplication::sendEvent(target, &release);
}

// --- Waiting

struct Wait
{
    Probe* probe = nullptr;
    QString finding;
    std::function<bool()> condition;
    std::function<void()> then;
    int bound = 0;
    QElapsedTimer clock;
};

// Held only by the step queued next, so it goes once the wait is over.
void poll(const std::shared_ptr<Wait>& wait)
{
    if (wait->condition()) {
        wait->then();
        return;
    }
    if (wait->clock.elapsed() > wait->bound) {
        wait->probe->fail(wait->finding, QStringLiteral("timedOut"));
        wait->probe->finish();
        return;
    }
    wait->probe->after(kPollMilliseconds, [wait] { poll(wait); });
}

// Runs `then` once `condition` holds, polling; fails the probe with `finding` once `bound` passes.
void waitUntil(Probe& probe, const QString& finding, std::function<bool()> condition, std::function<void()> then,
               int bound = kUiBoundMilliseconds)
{
    auto wait = std::make_shared<Wait>();
    wait->probe = &probe;
    wait->finding = finding;
    wait->condition = std::move(condition);
    wait->then = std::move(then);
    wait->bound = bound;
    wait->clock.start();
    probe.after(0, [wait] { poll(wait); });
}

// One step of a probe: wait until `until` holds (failing with `finding` when it does not in time),
// then act.
struct Step
{
    QString finding;
    std::function<bool()> until;
    std::function<void()> then;
};

// The steps in order, each once the one before has acted; none after the probe has finished.
void runSteps(Probe& probe, QList<Step> steps)
{
    if (steps.isEmpty())
        return;
    Step step = steps.takeFirst();
    waitUntil(probe, step.finding, std::move(step.until),
              [&probe, then = std::move(step.then), rest = std::move(steps)] {
                  then();
                  if (!probe.isFinished())
                      runSteps(probe, rest);
              });
}

// --- The stage: the expanded island on a canvas, the sample in a temporary folder

// Hands recognition to the program's engine and notes where it ran. While a recognition is under
// way on another thread, the GUI thread is asked to run `duringRecognition`: it can only answer
// when recognition leaves it free.
class ThreadNotingRecognizer final : public Platform::TextRecognizer
{
public:
    explicit ThreadNotingRecognizer(std::shared_ptr<TextRecognizer> engine) : m_engine(std::move(engine)) {}

    void setDuringRecognition(std::function<void()> work)
    {
        const std::lock_guard lock(m_mutex);
        m_duringRecognition = std::move(work);
    }

    Result recognize(const QImage& image) const override
    {
        ++calls;
        if (QThread::currentThread() == QCoreApplication::instance()->thread()) {
            ranOnGuiThread = true;
        } else {
            std::function<void()> work;
            {
                const std::lock_guard lock(m_mutex);
                work = m_duringRecognition;
            }
            if (work) {
                auto answered = std::make_shared<std::promise<void>>();
                std::future<void> answer = answered->get_future();
                QMetaObject::invokeMethod(
                    QCoreApplication::instance(),
                    [work, answered] {
                        work();
                        answered->set_value();
                    },
                    Qt::QueuedConnection);
                // Bounded: a GUI thread that never answers must not keep the pool thread forever.
                answer.wait_for(std::chrono::seconds(10));
            }
        }
        return m_engine->recognize(image);
    }

    mutable std::atomic<int> calls{0};
    mutable std::atomic<bool> ranOnGuiThread{false};

private:
    std::shared_ptr<TextRecognizer> m_engine;
    mutable std::mutex m_mutex;
    std::function<void()> m_duringRecognition;
};

struct Stage
{
    QTemporaryDir folder;
    QString samplePath;
    QByteArray samplePNG;
    QImage sample;
    std::unique_ptr<QWidget> canvas;
    IslandView* island = nullptr;
    // Where the island's copies of preview text go: the probe leaves the user's clipboard alone.
    Platform::MemoryPasteboard pasteboard;
    int copies = 0;
    std::shared_ptr<ThreadNotingRecognizer> recognizer;

    ClipQuickPreviewView* card() const { return island->quickPreviewCard(); }
    QuickPreviewImageView* picture() const { return card()->imageView(); }
};

// Ends the probe after letting go of its windows, which must go before the application does.
void finishStage(Probe& probe, Stage* stage)
{
    delete stage;
    probe.finish();
}

// The sample written to the stage's folder; false (with a finding) when that fails.
bool writeSample(Probe& probe, Stage& stage)
{
    if (!stage.folder.isValid()) {
        probe.fail(QStringLiteral("temporaryFolder"), stage.folder.errorString());
        return false;
    }
    for (const SampleLine& line : sampleLines())
        probe.report(QStringLiteral("sampleFont"), QFontInfo(sampleFont(line)).family());
    stage.samplePath = stage.folder.filePath(QStringLiteral("live-text-sample.png"));
    stage.sample = samplePicture();
    if (!stage.sample.save(stage.samplePath, "PNG")) {
        probe.fail(QStringLiteral("sampleWritten"), stage.samplePath);
        return false;
    }
    QFile file(stage.samplePath);
    if (file.open(QIODevice::ReadOnly))
        stage.samplePNG = file.readAll();
    return probe.expect(QStringLiteral("sampleWritten"), !stage.samplePNG.isEmpty());
}

// The expanded island holding `items`, shown; recognition noted by the stage's recognizer.
Stage* buildStage(Probe& probe, const std::function<QList<ClipboardItem>(Stage&)>& items)
{
    auto* stage = new Stage;
    if (!writeSample(probe, *stage)) {
        finishStage(probe, stage);
        return nullptr;
    }
    stage->recognizer = std::make_shared<ThreadNotingRecognizer>(Platform::TextRecognizer::shared());
    Platform::TextRecognizer::setSharedForTesting(stage->recognizer);

    stage->canvas = std::make_unique<QWidget>();
    stage->canvas->setWindowTitle(probe.name());
    stage->canvas->resize(780, 430);
    stage->island = new IslandView(QRect(297, 0, 185, 32), stage->canvas.get());
    stage->island->setDisplayMode(IslandView::DisplayMode::expanded, false);
    stage->island->setGeometry(0, 0, 780, 430);
    stage->island->configure(items(*stage), QuillomareCore::CloudSyncState::idle(), std::nullopt);
    stage->island->onCopyQuickPreviewText = [stage](const QString& text) {
        ++stage->copies;
        MacPasteboardWriter::copyString(text, stage->pasteboard);
    };
    stage->canvas->show();
    stage->canvas->activateWindow();
    return stage;
}

bool recognitionSettled(const ClipQuickPreviewView& card)
{
    const LiveTextState state = card.liveTextState();
    return state != LiveTextState::none && state != LiveTextState::recognizing;
}

QString stateName(LiveTextState state)
{
    switch (state) {
    case LiveTextState::none:
        return QStringLiteral("none");
    case LiveTextState::recognizing:
        return QStringLiteral("recognizing");
    case LiveTextState::ready:
        return QStringLiteral("ready");
    case LiveTextState::noText:
        return QStringLiteral("noText");
    case LiveTextState::failed:
        return QStringLiteral("failed");
    }
    return QString();
}

// The recognised words line by line, each line as a copy gives it.
QStringList recognisedLines(const LiveTextLayout& layout)
{
    QStringList lines;
    const QList<LiveTextWord>& words = layout.words();
    int first = 0;
    for (int i = 1; i <= int(words.size()); ++i) {
        if (i == int(words.size()) || words[i].line != words[first].line) {
            lines.append(layout.text(first, i - 1));
            first = i;
        }
    }
    return lines;
}

// Opens the sample's picture in the card through Extract Text, the way the inspector's tile does,
// and runs `then` once its text has been read (or reading ended otherwise).
void openSampleForLiveText(Probe& probe, Stage* stage, const QUuid& id, std::function<void()> then)
{
    stage->island->selectItem(id, false);
    stage->island->historyOCRTapped();
    waitUntil(
        probe, QStringLiteral("liveTextSettled"),
        [stage] { return stage->island->isQuickPreviewVisible() && recognitionSettled(*stage->card()); },
        [&probe, stage, then = std::move(then)] {
            probe.report(QStringLiteral("liveTextState"), stateName(stage->card()->liveTextState()));
            if (!probe.expect(QStringLiteral("wordsFound"), stage->card()->liveTextState() == LiveTextState::ready)) {
                finishStage(probe, stage);
                return;
            }
            then();
        },
        kRecognitionBoundMilliseconds);
}

// A point of the view, inside it and over the picture, where a press lands on no word.
bool blankPoint(const QuickPreviewImageView& view, QPointF& point)
{
    const QRectF shown = view.pictureRect().intersected(QRectF(view.rect()).adjusted(10, 10, -10, -10));
    const QRectF picture = view.pictureRect();
    // Wider than the view's own reach around a word.
    const QSizeF slop(12 / picture.width(), 12 / picture.height());
    for (double y = shown.top(); y <= shown.bottom(); y += 8) {
        for (double x = shown.left(); x <= shown.right(); x += 8) {
            if (!view.liveText().wordAt(view.mapToPicture(QPointF(x, y)), slop)) {
                point = QPointF(x, y);
                return true;
            }
        }
    }
    return false;
}

// --- Pan gate

// Three words on two lines of a 1200 × 800 picture.
LiveTextLayout panGateWords()
{
    return LiveTextLayout({{QStringLiteral("alpha"), QRectF(0.10, 0.20, 0.15, 0.06), 0},
                           {QStringLiteral("beta"), QRectF(0.30, 0.20, 0.15, 0.06), 0},
                           {QStringLiteral("gamma"), QRectF(0.10, 0.40, 0.20, 0.06), 1}});
}

// The stage with the sample as its one entry, a picture file; `id` learns that entry's id.
Stage* buildSampleFileStage(Probe& probe, const std::shared_ptr<QUuid>& id)
{
    return buildStage(probe, [id](Stage& stage) {
        const ClipboardItem item = imageFileEntry(stage.samplePath);
        *id = item.id;
        return QList<ClipboardItem>{item};
    });
}

} // namespace

// Opens the card for a text and for a picture from the island's keyboard and closes it with
// Escape and with its close button.
void quickPreviewProbe(Probe& probe)
{
    const QString text = QStringLiteral("Quick preview probe: 快速预览");
    auto ids = std::make_shared<std::pair<QUuid, QUuid>>();
    Stage* stage = buildStage(probe, [&text, ids](Stage& stage) {
        const ClipboardItem textItem = textEntry(text);
        const ClipboardItem pictureItem = imageEntry(stage.samplePNG);
        *ids = {textItem.id, pictureItem.id};
        return QList<ClipboardItem>{pictureItem, textItem};
    });
    if (!stage)
        return;
    probe.expect(QStringLiteral("closedAtStart"), !stage->island->isQuickPreviewVisible());
    IslandView* island = stage->island;
    ClipQuickPreviewView* card = stage->card();
    QuickPreviewImageView* picture = stage->picture();

    stage->island->selectItem(ids->first, false);
    pressKey(island, Qt::Key_Space);
    runSteps(
        probe,
        {
            {QStringLiteral("textCardOpened"), [island] { return island->isQuickPreviewVisible(); },
             [&probe, island, card, ids, text] {
                 probe.expect(QStringLiteral("textPreviewingEntry"), island->previewingItemID() == ids->first);
                 probe.expect(QStringLiteral("textContent"), card->content() == ClipQuickPreviewView::Content::text);
                 probe.expect(QStringLiteral("textShown"), card->textView()->plainText() == text);
                 probe.expect(QStringLiteral("textTitle"),
                              card->titleLabel()->text() == Language::localizedDisplayName(ClipKind::text));
                 pressKey(island, Qt::Key_Escape);
             }},
            {QStringLiteral("textCardClosed"), [card] { return card->isHidden(); },
             [&probe, island, ids] {
                 probe.expect(QStringLiteral("textClosedByEscape"),
                              !island->isQuickPreviewVisible() && !island->previewingItemID());
                 island->selectItem(ids->second, false);
                 pressKey(island, Qt::Key_Space);
             }},
            {QStringLiteral("imageCardOpened"),
             [island, picture] { return island->isQuickPreviewVisible() && picture->pictureSize() == kSampleSize; },
             [&probe, stage, island, card, picture, ids] {
                 probe.expect(QStringLiteral("imagePreviewingEntry"), island->previewingItemID() == ids->second);
                 probe.expect(QStringLiteral("imageContent"), card->content() == ClipQuickPreviewView::Content::image);
                 const QRectF shown = picture->pictureRect();
                 probe.report(QStringLiteral("imageShownWidth"), qint64(std::lround(shown.width())));
                 probe.expect(QStringLiteral("imageFitsCard"),
                              !shown.isEmpty() && QRectF(picture->rect()).adjusted(-1, -1, 1, 1).contains(shown));
                 probe.expect(QStringLiteral("imageIsSample"),
                              card->shownImage().convertToFormat(QImage::Format_RGB32) == stage->sample);
                 click(card->closeButton(), QRectF(card->closeButton()->rect()).center());
             }},
            {QStringLiteral("imageCardClosed"), [card] { return card->isHidden(); },
             [&probe, stage, island, picture] {
                 probe.expect(QStringLiteral("imageClosedByButton"), !island->isQuickPreviewVisible() &&
                                                                         !island->previewingItemID() &&
                                                                         !picture->hasPicture());
                 finishStage(probe, stage);
             }},
        });
}

// Reads the sample's English and Chinese lines with the program's engine, off the GUI thread,
// and places each word where it was drawn; Extract Text lights them up with its hint.
void liveTextProbe(Probe& probe)
{
    auto id = std::make_shared<QUuid>();
    Stage* stage = buildSampleFileStage(probe, id);
    if (!stage)
        return;
    // What the card showed while its text was being read, as the GUI thread saw it then.
    struct Seen
    {
        bool answered = false;
        LiveTextState state = LiveTextState::none;
        QString hint;
    };
    auto seen = std::make_shared<Seen>();
    QPointer<ClipQuickPreviewView> card = stage->card();
    stage->recognizer->setDuringRecognition([card, seen] {
        if (!card || seen->answered)
            return;
        *seen = {true, card->liveTextState(), card->imageView()->hint()};
    });
    auto clock = std::make_shared<QElapsedTimer>();
    clock->start();
    openSampleForLiveText(probe, stage, *id, [&probe, stage, seen, clock] {
        probe.report(QStringLiteral("elapsedMs"), clock->elapsed());
        probe.expect(QStringLiteral("recognizedOffGuiThread"),
                     stage->recognizer->calls > 0 && !stage->recognizer->ranOnGuiThread);
        probe.expect(QStringLiteral("guiAnsweredWhileRecognizing"), seen->answered);
        probe.expect(QStringLiteral("recognizingHintShown"), seen->state == LiveTextState::recognizing &&
                                                                 seen->hint == ClipQuickPreviewView::recognizingHint());
        const LiveTextLayout& layout = stage->picture()->liveText();
        const QStringList lines = recognisedLines(layout);
        probe.report(QStringLiteral("lines"), lines.join(QStringLiteral(" | ")));
        QStringList expected;
        for (const SampleLine& line : sampleLines())
            expected.append(line.text);
        probe.expect(QStringLiteral("linesMatchSample"), lines == expected);

        // Each word inside the band its line was drawn in, English above Chinese.
        bool placed = !layout.isEmpty();
        for (const LiveTextWord& word : layout.words()) {
            const int line = std::clamp(word.line, 0, int(sampleLines().size()) - 1);
            if (word.box.isEmpty() || !sampleLineBand(sampleLines()[line]).contains(word.box))
                placed = false;
        }
        probe.report(QStringLiteral("words"), qint64(layout.words().size()));
        probe.expect(QStringLiteral("wordsWhereDrawn"), placed);
        probe.expect(QStringLiteral("textHighlighted"), stage->picture()->isTextHighlighted());
        probe.expect(QStringLiteral("selectHintShown"),
                     stage->picture()->hint() == ClipQuickPreviewView::selectAndCopyHint());
        finishStage(probe, stage);
    });
}

// Decides, press by press, whether a drag over the zoomed picture pans it or selects its text:
// runs to its verdict inside the entry, without an event loop.
void liveTextPanGateProbe(Probe& probe)
{
    QuickPreviewImageView view;
    view.resize(600, 400);
    view.show();
    QImage picture(1200, 800, QImage::Format_RGB32);
    picture.fill(Qt::white);
    view.setPicture(picture, picture, picture.size());
    view.setLiveText(panGateWords());
    const auto wordCentre = [&view](int index) {
        return view.mapFromPicture(view.liveText().words()[index].box.center());
    };
    // Below every word.
    const auto blank = [&view] { return view.mapFromPicture(QPointF(0.5, 0.6)); };

    // Fitted: a drag on no word neither pans nor selects.
    QRectF before = view.pictureRect();
    drag(&view, blank(), blank() + QPointF(-80, -60));
    probe.expect(QStringLiteral("fittedBlankDragStill"), view.pictureRect() == before && !view.selection());

    // Fitted: a drag from a word selects up to the word reached.
    drag(&view, wordCentre(0), wordCentre(1));
    probe.expect(QStringLiteral("fittedWordDragSelects"),
                 view.selectedText() == std::optional<QString>(QStringLiteral("alpha beta")) &&
                     view.pictureRect() == before);

    view.zoomTo(view.fitScale() * 2, QPointF(300, 200));
    probe.expect(QStringLiteral("zoomed"), view.isZoomed());

    // Zoomed: a drag on no word pans by the pointer's travel (well inside the edges) and clears
    // the selection.
    before = view.pictureRect();
    const QPointF travel(-40, -30);
    drag(&view, blank(), blank() + travel);
    const QPointF moved = view.pictureRect().topLeft() - before.topLeft();
    probe.report(QStringLiteral("panX"), moved.x());
    probe.report(QStringLiteral("panY"), moved.y());
    probe.expect(QStringLiteral("zoomedBlankDragPans"),
                 std::abs(moved.x() - travel.x()) < 0.5 && std::abs(moved.y() - travel.y()) < 0.5 && !view.selection());

    // Zoomed: a drag from a word selects and leaves the picture where it is. The words are
    // brought into view first.
    view.panBy(view.rect().center() - wordCentre(0));
    before = view.pictureRect();
    drag(&view, wordCentre(0), wordCentre(2));
    probe.expect(QStringLiteral("zoomedWordDragSelects"),
                 view.selectedText() == std::optional<QString>(QStringLiteral("alpha beta\ngamma")) &&
                     view.pictureRect() == before);

    // Zoomed: a press on a word released without moving is a click: no selection, no pan.
    click(&view, wordCentre(1));
    probe.expect(QStringLiteral("zoomedWordClickClears"), !view.selection() && view.pictureRect() == before);
    probe.finish();
}

// Wheel and double click zoom the sample within their bounds around the pointer; panning a
// zoomed picture stops at its edges.
void liveTextZoomProbe(Probe& probe)
{
    auto id = std::make_shared<QUuid>();
    Stage* stage = buildSampleFileStage(probe, id);
    if (!stage)
        return;
    stage->island->selectItem(*id, false);
    pressKey(stage->island, Qt::Key_Space);
    // Words arriving while zooming would change where a press lands: wait for them first.
    waitUntil(
        probe, QStringLiteral("pictureShown"),
        [stage] {
            return stage->island->isQuickPreviewVisible() && stage->picture()->pictureSize() == kSampleSize &&
                   recognitionSettled(*stage->card());
        },
        [&probe, stage] {
            QuickPreviewImageView* view = stage->picture();
            const double fit = view->fitScale();
            probe.report(QStringLiteral("fitScale"), fit);
            probe.expect(QStringLiteral("startsFitted"), !view->isZoomed() && std::abs(view->scale() - fit) < 1e-9);

            // Two notches: 2^(2/4) around the pointer, the point under it staying put.
            const QPointF anchor = view->mapFromPicture(QPointF(0.3, 0.4));
            const QPointF pictureAnchor = view->mapToPicture(anchor);
            wheel(view, anchor, 2);
            probe.report(QStringLiteral("wheelScale"), view->scale());
            probe.expect(QStringLiteral("wheelZoomsIn"),
                         view->isZoomed() && std::abs(view->scale() / fit - std::sqrt(2.0)) < 1e-6);
            const QPointF drift = view->mapFromPicture(pictureAnchor) - anchor;
            probe.expect(QStringLiteral("wheelKeepsPointUnderPointer"), drift.manhattanLength() < 1);

            // Far beyond both bounds. The limit is the island's own figure (8 pixels a point of
            // the picture, or 4 times fitted when that is more), not what the view says it is: a
            // wrong limit in the view must fail here.
            const double intendedMaximum = std::max(8.0, 4 * fit);
            wheel(view, anchor, 60);
            probe.report(QStringLiteral("maximumScale"), view->scale());
            probe.expect(QStringLiteral("zoomStopsAtMaximum"), std::abs(view->scale() - intendedMaximum) < 1e-9);

            // Dragged far towards the lower right, then the upper left: the edges stop it. Pressed
            // where no word lies, so that the drag pans.
            QPointF from;
            const bool offText = blankPoint(*view, from);
            probe.expect(QStringLiteral("panStartsOffText"), offText);
            drag(view, from, from + QPointF(100000, 100000));
            const QRectF afterRight = view->pictureRect();
            probe.expect(QStringLiteral("panClampedAtTopLeft"),
                         std::abs(afterRight.left()) < 0.5 && std::abs(afterRight.top()) < 0.5);
            probe.expect(QStringLiteral("panBackStartsOffText"), blankPoint(*view, from));
            drag(view, from, from - QPointF(100000, 100000));
            const QRectF afterLeft = view->pictureRect();
            probe.report(QStringLiteral("pannedRightEdgeGap"), view->width() - afterLeft.right());
            probe.report(QStringLiteral("pannedBottomEdgeGap"), view->height() - afterLeft.bottom());
            probe.expect(QStringLiteral("panClampedAtBottomRight"),
                         std::abs(afterLeft.right() - view->width()) < 0.5 &&
                             std::abs(afterLeft.bottom() - view->height()) < 0.5);
            probe.expect(QStringLiteral("panSelectedNothing"), !view->selection());

            // The double click: back to fitted, then in again to 100 % (or twice fitted).
            doubleClick(view, anchor);
            probe.expect(QStringLiteral("doubleClickFits"), !view->isZoomed() && std::abs(view->scale() - fit) < 1e-9);
            wheel(view, anchor, -3);
            probe.expect(QStringLiteral("zoomStopsAtFitted"),
                         !view->isZoomed() && std::abs(view->scale() - fit) < 1e-9);
            doubleClick(view, anchor);
            const double expected = fit < 0.8 ? 1.0 : 2 * fit;
            probe.report(QStringLiteral("doubleClickScale"), view->scale());
            probe.expect(QStringLiteral("doubleClickZoomsIn"),
                         view->isZoomed() && std::abs(view->scale() - std::min(expected, intendedMaximum)) < 1e-9);
            finishStage(probe, stage);
        },
        kRecognitionBoundMilliseconds);
}

// Selects every recognised word of the sample by dragging across it and copies with Control-C
// in the island: the pasteboard gets exactly the recognised lines, in reading order.
void liveTextCopyAllProbe(Probe& probe)
{
    auto id = std::make_shared<QUuid>();
    Stage* stage = buildSampleFileStage(probe, id);
    if (!stage)
        return;
    openSampleForLiveText(probe, stage, *id, [&probe, stage] {
        QuickPreviewImageView* view = stage->picture();
        const LiveTextLayout& layout = view->liveText();
        const int last = int(layout.words().size()) - 1;

        // Nothing selected yet: Control-C copies no recognised text.
        probe.expect(QStringLiteral("nothingSelectedAtStart"), !view->selectedText());

        // From the first word's left edge to past the last word's end.
        const QRectF firstBox = view->mapFromPicture(layout.words().front().box);
        const QRectF lastBox = view->mapFromPicture(layout.words().back().box);
        drag(view, QPointF(firstBox.left() + 2, firstBox.center().y()),
             QPointF(std::min(lastBox.right() + 30, view->width() - 2.0), lastBox.center().y()));
        const auto range = view->selection();
        probe.expect(QStringLiteral("everyWordSelected"), range && range->first == 0 && range->second == last);

        pressKey(view, Qt::Key_C, Qt::ControlModifier);
        const std::optional<QString> copied = stage->pasteboard.string();
        const QString recognised = recognisedLines(layout).join(QLatin1Char('\n'));
        probe.report(QStringLiteral("copiedLines"), qint64(copied ? copied->split(QLatin1Char('\n')).size() : 0));
        probe.expect(QStringLiteral("copiedOnce"), stage->copies == 1);
        probe.expect(QStringLiteral("copiedRecognisedLines"), copied == recognised);
        probe.expect(QStringLiteral("copiedInReadingOrder"), copied == sampleText());
        probe.expect(QStringLiteral("cardStillOpen"), stage->island->isQuickPreviewVisible());
        finishStage(probe, stage);
    });
}

} // namespace QuillomareMac::UserInterfaceProbe
