// The shelf on a real X11 desktop: the delegate with its real island, the X server's pointer moved
// by xdotool, Qt's XDND between windows, and xclip as the program that owns the clipboard. A file
// dragged onto the pill opens the island into the shelf and lands in the session and its file;
// Control-V pastes a picture in; a card dragged out carries its file to another window.

#include "../QuillomareMac/AppDelegateFakes.h"
#include "TestSupport.h"
#include "X11Tools.h"

#include "Island/Panel/IslandPanel.h"
#include "Island/Panel/IslandPanelController.h"
#include "Island/IslandView.h"
#include "Shelf/Views/ShelfDropZoneView.h"
#include "Shelf/Views/ShelfGalleryCardView.h"
#include "Shelf/ShelfSessionStore.h"
#include "Shell/AppDelegate.h"
#include "Shell/AppPortsQt.h"

#include <Platform/GlobalHotKeys.h>
#include <Platform/InstanceRegistry.h>
#include <Platform/MotionPreferences.h>

#include <QApplication>
#include <QBuffer>
#include <QDeadlineTimer>
#include <QDrag>
#include <QDropEvent>
#include <QImage>
#include <QMimeData>
#include <QMouseEvent>
#include <QProcess>
#include <QTemporaryDir>

using namespace QuillomareCore;
using namespace QuillomareMac;
using namespace QuillomareTest;

namespace {

// A window another program would be: a press and a move of a few pixels drags its file out.
class DragSource final : public QWidget
{
public:
    explicit DragSource(QString path) : m_path(std::move(path))
    {
        setWindowTitle(QStringLiteral("drag source"));
        resize(160, 120);
    }

protected:
    void mousePressEvent(QMouseEvent* event) override { m_pressed = event->position().toPoint(); }
    void mouseMoveEvent(QMouseEvent* event) override
    {
        if (!m_pressed || (event->position().toPoint() - *m_pressed).manhattanLength() < 8)
            return;
        m_pressed.reset();
        auto* data = new QMimeData;
        data->setUrls({QUrl::fromLocalFile(m_path)});
        auto* drag = new QDrag(this);
        drag->setMimeData(data);
        drag->exec(Qt::CopyAction);
    }

private:
    QString m_path;
    std::optional<QPoint> m_pressed;
};

QStringList position(const QPoint& point)
{
    return {QString::number(point.x()), QString::number(point.y())};
}

// Press at `from`, leave it by a few pixels, travel to `to` in steps and release there; one
// xdotool process for the whole gesture, since a drag runs its own event loop until the drop.
void startDragGesture(QProcess& pointer, const QPoint& from, const QPoint& to)
{
    QStringList script{QStringLiteral("mousemove")};
    script << position(from) << QStringLiteral("mousedown") << QStringLiteral("1") << QStringLiteral("mousemove")
           << position(from + QPoint(20, 0)) << QStringLiteral("sleep") << QStringLiteral("0.3");
    for (int step = 1; step <= 4; ++step) {
        const QPoint between = from + (to - from) * step / 4;
        script << QStringLiteral("mousemove") << position(between) << QStringLiteral("sleep") << QStringLiteral("0.25");
    }
    // Wiggle over the target while it opens, then drop.
    script << QStringLiteral("mousemove") << position(to + QPoint(3, 2)) << QStringLiteral("sleep")
           << QStringLiteral("0.8") << QStringLiteral("mousemove") << position(to) << QStringLiteral("sleep")
           << QStringLiteral("0.4") << QStringLiteral("mouseup") << QStringLiteral("1");
    pointer.start(QStringLiteral("xdotool"), script);
}

} // namespace

class TestShelfDropX11 : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void dropPasteAndDragOutOnTheRealDesktop()
    {
        Platform::MotionPreferences::setReduceMotionForTesting(true);
        QTemporaryDir dir;
        const QString file = dir.filePath(QStringLiteral("report.txt"));
        writeFile(file, "quarterly figures");
        const QString shelfFile = dir.filePath(QStringLiteral("shelf-sessions.json"));

        AppDelegateEnvironment environment;
        environment.instances = std::make_shared<Platform::MemoryInstanceRegistry>();
        environment.hotKeys = std::make_shared<Platform::MemoryGlobalHotKeys>();
        environment.storeFileURL = dir.filePath(QStringLiteral("clips.json"));
        environment.shelfFileURL = shelfFile;
        environment.desktop = std::make_shared<FakeDesktop>();
        AppDelegate delegate(environment);
        delegate.applicationDidFinishLaunching();
        IslandPanelController& controller = static_cast<IslandPanelPort&>(delegate.island()).controller();
        IslandView* view = controller.islandView();
        QVERIFY(waitFor([&] { return controller.panel()->isVisible(); }, 5000));
        QVERIFY(waitFor([&] { return !view->hasActiveIslandLayerAnimation(); }, 5000));
        QCOMPARE(view->displayMode(), IslandView::DisplayMode::collapsed);

        // 1. A file from another window, dropped on the pill.
        DragSource source(file);
        source.move(60, 420);
        source.show();
        QVERIFY(QTest::qWaitForWindowExposed(&source));
        const QPoint pill = view->mapToGlobal(view->rect().center());
        QProcess pointer;
        startDragGesture(pointer, source.mapToGlobal(QPoint(80, 60)), pill);
        const auto sessionItems = [&] { return delegate.shelfSessionStore().currentSession().items; };
        QVERIFY2(waitFor([&] { return !sessionItems().isEmpty(); }, 15000), "the drop never reached the shelf");
        pointer.waitForFinished(5000);
        QCOMPARE(sessionItems().size(), 1);
        QCOMPARE(sessionItems().first().kind, ClipKind(ClipKind::file));
        QVERIFY(sessionItems().first().title.contains(QStringLiteral("report.txt")));
        QCOMPARE(view->contentMode(), IslandView::ContentMode::shelfGallery);
        QVERIFY(waitFor([&] { return view->displayMode() == IslandView::DisplayMode::expanded; }, 5000));
        QVERIFY(waitFor([&] { return readFile(shelfFile).contains("report.txt"); }, 5000));
        // The gallery takes the session's items in when the drop has been stored.
        QVERIFY(waitFor([&] { return view->shelfItems().size() == 1; }, 5000));
        QCOMPARE(view->shelfItems().size(), 1);
        QVERIFY(!view->shelfDropZone()->isHighlighted());

        // 2. Control-V with a picture on the clipboard, owned by another program.
        const QByteArray png = filledPng(QSize(64, 48), QColor(20, 120, 200));
        QVERIFY(xclipCopy(png, QStringLiteral("image/png")));
        controller.panel()->activateWindow();
        QVERIFY(waitFor([&] { return QApplication::activeWindow() == view->window(); }, 3000));
        QVERIFY(runWhileServingEvents(QStringLiteral("xdotool"), {QStringLiteral("key"), QStringLiteral("ctrl+v")})
                    .isEmpty());
        QVERIFY2(waitFor([&] { return sessionItems().size() == 2; }, 5000), "Control-V added nothing");
        const auto image = std::find_if(sessionItems().cbegin(), sessionItems().cend(),
                                        [](const ShelfItem& item) { return item.kind == ClipKind::image; });
        QVERIFY(image != sessionItems().cend());
        QCOMPARE(QImage::fromData(image->payload.imagePNGValue()).pixelColor(5, 5), QColor(20, 120, 200));
        QVERIFY(waitFor([&] { return view->shelfItems().size() == 2; }, 2000));

        // 3. The file's card dragged out into another window carries the file.
        DropTarget target(QSize(240, 200));
        target.move(700, 420);
        target.show();
        QVERIFY(QTest::qWaitForWindowExposed(&target));
        const auto fileEntry = std::find_if(view->shelfItems().cbegin(), view->shelfItems().cend(),
                                            [](const ShelfItem& item) { return item.kind == ClipKind::file; });
        QVERIFY(fileEntry != view->shelfItems().cend());
        ShelfGalleryCardView* card = view->shelfGalleryCardView(fileEntry->id);
        QVERIFY(card);
        QVERIFY(waitFor([&] { return card->isVisible() && card->width() > 0; }, 3000));
        QProcess outward;
        startDragGesture(outward, card->mapToGlobal(QPoint(card->width() / 2, card->height() / 2)),
                         target.mapToGlobal(QPoint(120, 100)));
        QVERIFY2(waitFor([&] { return target.drops == 1; }, 15000), "the card's drag never arrived");
        outward.waitForFinished(5000);
        QCOMPARE(target.urls.size(), 1);
        QVERIFY(target.urls.first().isLocalFile());
        QCOMPARE(QFileInfo(target.urls.first().toLocalFile()).fileName(), QStringLiteral("report.txt"));
        QCOMPARE(readFile(target.urls.first().toLocalFile()), QByteArray("quarterly figures"));
        // Passing over the island on its way out added nothing.
        QCOMPARE(sessionItems().size(), 2);

        delegate.applicationWillTerminate();
        Platform::MotionPreferences::setReduceMotionForTesting(std::nullopt);
    }
};

QUILLOMARE_GUI_TEST_MAIN(TestShelfDropX11)
#include "tst_shelfdrop_x11.moc"
