#include "TestSupport.h"
#include "X11Tools.h"

#include "Island/Panel/IslandPanel.h"
#include "Island/Panel/IslandPanelController.h"
#include "Island/Kit/IslandScheduler.h"

#include <Platform/MotionPreferences.h>
#include <Platform/X11WindowShape.h>

#include <QApplication>
#include <QDir>
#include <QImage>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QProcess>
#include <QScreen>
#include <QStandardPaths>
#include <QWindow>

#include <algorithm>
#include <memory>

using namespace QuillomareMac;
using Mode = IslandView::DisplayMode;

namespace {

// The desktop below the island: one window over the whole screen, painted in stripes so that
// anything the island leaves on it shows, counting where it was pressed and, as the filter of
// the island's window, where the island was.
class Desktop : public QWidget
{
public:
    Desktop() : QWidget(nullptr, Qt::FramelessWindowHint) { setGeometry(QGuiApplication::primaryScreen()->geometry()); }
    QList<QPoint> presses, islandPresses;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (event->type() == QEvent::MouseButtonPress)
            islandPresses.append(static_cast<QMouseEvent*>(event)->globalPosition().toPoint());
        return QWidget::eventFilter(watched, event);
    }
    void paintEvent(QPaintEvent*) override
    {
        QPainter painter(this);
        for (int x = 0; x < width(); x += 16)
            painter.fillRect(x, 0, 16, height(), (x / 16) % 2 ? QColor(70, 140, 90) : QColor(200, 180, 60));
    }
    void mousePressEvent(QMouseEvent* event) override { presses.append(event->globalPosition().toPoint()); }
};

QImage grabScreen()
{
    return QGuiApplication::primaryScreen()->grabWindow(0).toImage().convertToFormat(QImage::Format_RGB32);
}

bool compositingManagerRunning(QWindow* window)
{
    return Platform::X11WindowShape::create(window)->compositingManagerRunning();
}

} // namespace

class TestIslandInputX11 : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init();
    void cleanup();

    void echoLetsEveryClickThroughAndThePillTakesThemAgain();
    void expandedIslandTakesClicksInsideItsShapeAtFirstOpeningAndAfterACollapse();
    void nothingButTheIslandIsDrawnWithoutACompositingManager();
    void stageStaysTranslucentWhileACompositingManagerRuns();

private:
    void create()
    {
        m_controller = std::make_unique<IslandPanelController>();
        m_controller->panel()->windowHandle()->installEventFilter(m_desktop.get());
    }
    void launch();
    void open();
    void waitForStill();
    // The island's surface on the screen, as drawn now.
    QPainterPath islandPath() const;
    // Middle-clicks a grid over `area` (the middle button opens and closes nothing) and checks
    // that each press reached the island exactly where `path` is.
    void clickGrid(const QRect& area, int step, const QPainterPath& path);
    // How many pixels of `area` farther than 2 px from `path` are not the desktop's.
    int changedOutside(const QImage& shot, const QRect& area, const QPainterPath& path, const QString& name) const;

    std::shared_ptr<ManualIslandScheduler> m_scheduler;
    std::unique_ptr<IslandPanelController> m_controller;
    std::unique_ptr<Desktop> m_desktop;
    QImage m_desktopShot;
    QProcess m_compositor;
};

void TestIslandInputX11::init()
{
    m_scheduler = std::make_shared<ManualIslandScheduler>();
    IslandScheduler::setSharedForTesting(m_scheduler);
    Platform::MotionPreferences::setReduceMotionForTesting(false);
    m_desktop = std::make_unique<Desktop>();
    m_desktop->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_desktop.get()));
    QTRY_COMPARE(m_desktop->windowHandle()->geometry().topLeft(), QPoint(0, 0));
    QTRY_COMPARE(grabScreen().pixel(8, 500), qRgb(200, 180, 60));
    m_desktopShot = grabScreen();
}

void TestIslandInputX11::cleanup()
{
    m_compositor.kill();
    m_compositor.waitForFinished();
    m_controller.reset();
    m_desktop.reset();
    m_scheduler->advance(5000);
    IslandScheduler::setSharedForTesting(nullptr);
    Platform::MotionPreferences::setReduceMotionForTesting(std::nullopt);
}

void TestIslandInputX11::launch()
{
    create();
    m_controller->transition(Mode::collapsed, false);
    m_controller->panel()->orderFrontRegardless();
    QVERIFY(QTest::qWaitForWindowExposed(m_controller->panel()));
    waitForStill();
}

void TestIslandInputX11::open()
{
    if (!m_controller)
        create();
    m_controller->show(true, false);
    m_controller->removeClickMonitors(); // clicks outside must not close it during a grid
    QVERIFY(QTest::qWaitForWindowExposed(m_controller->panel()));
    waitForStill();
    QCOMPARE(m_controller->displayMode(), Mode::expanded);
}

void TestIslandInputX11::waitForStill()
{
    // The island's animations run on the test's clock.
    for (int frame = 0; frame < 200 && m_controller->islandView()->hasActiveIslandLayerAnimation(); ++frame) {
        m_scheduler->advance(16);
        QCoreApplication::processEvents();
    }
    QVERIFY(!m_controller->islandView()->hasActiveIslandLayerAnimation());
    // The last frame was drawn, and the panel's shape taken from it.
    QTRY_COMPARE(m_controller->panel()->islandShape(), m_controller->canvasView()->islandShape());
}

QPainterPath TestIslandInputX11::islandPath() const
{
    IslandView* view = m_controller->islandView();
    const QRectF frame = view->presentationFrame().translated(m_controller->panel()->geometry().topLeft());
    const double radius = std::min({view->presentationCornerRadius(), frame.height() / 2, frame.width() / 2});
    QPainterPath path;
    path.addRoundedRect(frame, radius, radius);
    return path;
}

void TestIslandInputX11::clickGrid(const QRect& area, int step, const QPainterPath& path)
{
    QList<QPoint> inside, outside;
    for (int y = area.top(); y <= area.bottom(); y += step) {
        for (int x = area.left(); x <= area.right(); x += step) {
            // Points within 2 px of the edge are the antialiased edge's: either side is right.
            int in = 0;
            for (const QPointF d : {QPointF(0, 0), QPointF(-2, -2), QPointF(2, -2), QPointF(-2, 2), QPointF(2, 2)})
                in += path.contains(QPointF(x + 0.5, y + 0.5) + d) ? 1 : 0;
            if (in != 0 && in != 5)
                continue;
            (in ? inside : outside).append({x, y});
        }
    }
    m_desktop->islandPresses.clear();
    m_desktop->presses.clear();
    // One click at a time, each through the server's input queue like a mouse's, and the next only
    // once this one has arrived: a slow machine then delays the grid but moves no press.
    QuillomareTest::XTestPointer pointer;
    QVERIFY(pointer.isValid());
    QList<QPoint> points = inside + outside;
    std::sort(points.begin(), points.end(), [](const QPoint& a, const QPoint& b) {
        return a.y() != b.y() ? a.y() < b.y() : a.x() < b.x();
    });
    for (const QPoint& point : std::as_const(points)) {
        const qsizetype arrived = m_desktop->islandPresses.size() + m_desktop->presses.size();
        pointer.click(point, 2);
        QVERIFY2(QuillomareTest::waitFor(
                     [&] { return m_desktop->islandPresses.size() + m_desktop->presses.size() > arrived; }, 10000),
                 qPrintable(QStringLiteral("the press at (%1, %2) reached neither the island nor the desktop")
                                .arg(point.x()).arg(point.y())));
    }
    QCOMPARE(m_desktop->islandPresses.size() + m_desktop->presses.size(), inside.size() + outside.size());
    QList<QPoint> wrong;
    for (const QPoint& p : inside)
        if (!m_desktop->islandPresses.contains(p))
            wrong.append(p);
    for (const QPoint& p : outside)
        if (!m_desktop->presses.contains(p))
            wrong.append(p);
    // Where the first stray press went, and whether a press arrived twice (then it was taken at
    // the pointer's previous place).
    auto describe = [&](const QPoint& p) {
        QStringList where;
        if (m_desktop->islandPresses.contains(p))
            where << QStringLiteral("the island");
        if (m_desktop->presses.contains(p))
            where << QStringLiteral("the desktop");
        for (const QList<QPoint>* list : {&m_desktop->islandPresses, &m_desktop->presses}) {
            for (const QPoint& q : *list) {
                if (list->count(q) > 1) {
                    where << QStringLiteral("(%1, %2) came twice").arg(q.x()).arg(q.y());
                    break;
                }
            }
        }
        return where.isEmpty() ? QStringLiteral("nowhere") : where.join(QStringLiteral(", "));
    };
    QVERIFY2(wrong.isEmpty(),
             qPrintable(QStringLiteral("%1 of %2 points reached the wrong window, first (%3, %4): %5")
                            .arg(wrong.size()).arg(inside.size() + outside.size())
                            .arg(wrong.value(0).x()).arg(wrong.value(0).y())
                            .arg(wrong.isEmpty() ? QString() : describe(wrong.first()))));
}

int TestIslandInputX11::changedOutside(const QImage& shot, const QRect& area, const QPainterPath& path,
                                       const QString& name) const
{
    const QString keep = qEnvironmentVariable("QUILLOMARE_ISLAND_RENDER_DIR");
    if (!keep.isEmpty())
        shot.copy(area.adjusted(-40, 0, 40, 40)).save(QDir(keep).filePath(name + QStringLiteral(".png")));
    QImage near(area.size(), QImage::Format_Grayscale8);
    near.fill(0);
    QPainter painter(&near);
    painter.translate(-area.topLeft());
    painter.setPen(QPen(Qt::white, 5));
    painter.setBrush(Qt::white);
    painter.drawPath(path);
    painter.end();
    int changed = 0;
    for (int y = 0; y < area.height(); ++y) {
        const uchar* nearRow = near.constScanLine(y);
        for (int x = 0; x < area.width(); ++x) {
            const QPoint p = area.topLeft() + QPoint(x, y);
            changed += nearRow[x] == 0 && shot.pixel(p) != m_desktopShot.pixel(p) ? 1 : 0;
        }
    }
    return changed;
}

void TestIslandInputX11::expandedIslandTakesClicksInsideItsShapeAtFirstOpeningAndAfterACollapse()
{
    open();
    QVERIFY(islandPath().boundingRect().right() > 1300); // past Qt's initial 640-px window
    clickGrid(m_controller->panel()->geometry().adjusted(-20, -6, 20, 20), 37, islandPath());

    // The animated collapse lets the mouse through and takes it again as the 185 x 32 pill.
    m_controller->hide();
    waitForStill();
    QVERIFY(m_controller->displayMode() == Mode::collapsed && !m_controller->isCollapsing());
    QCOMPARE(m_controller->panel()->geometry().size(), QSize(185, 32));
    open();
    clickGrid(m_controller->panel()->geometry().adjusted(-20, -6, 20, 20), 37, islandPath());
}

void TestIslandInputX11::echoLetsEveryClickThroughAndThePillTakesThemAgain()
{
    launch();
    m_controller->flashCaptureEcho(QuillomareCore::CaptureFeedback{});
    waitForStill();
    // The echo is shown, not opened: it takes no click, inside its shape or out.
    const QRectF echo = islandPath().boundingRect();
    QVERIFY(echo.width() >= 280);
    clickGrid(echo.toAlignedRect().adjusted(-20, -6, 20, 20), 6, QPainterPath());

    m_scheduler->advance(1570);
    m_scheduler->advance(260);
    waitForStill();
    QCOMPARE(m_controller->panel()->geometry().size(), QSize(185, 32));
    clickGrid(m_controller->panel()->geometry().adjusted(-20, -6, 20, 20), 4, islandPath());
    open();
    clickGrid(m_controller->panel()->geometry().adjusted(-20, -6, 20, 20), 37, islandPath());
}

void TestIslandInputX11::nothingButTheIslandIsDrawnWithoutACompositingManager()
{
    QVERIFY(!compositingManagerRunning(m_desktop->windowHandle()));
    launch();
    const QRect stage = QRect(570, 0, 780, 460);

    // Every frame of the opening morph, from the first. The island's clock stands still while the
    // test waits for the desktop below (of this process) to repaint what the island uncovered.
    m_controller->show(true, false);
    int frames = 0;
    while (m_controller->islandView()->hasActiveIslandLayerAnimation() && frames < 60) {
        QTRY_COMPARE(changedOutside(grabScreen(), stage, islandPath(),
                       QStringLiteral("island-morph-%1").arg(frames, 2, 10, QLatin1Char('0'))), 0);
        ++frames;
        m_scheduler->advance(16);
    }
    QVERIFY(frames > 3);
    waitForStill();
    QCOMPARE(changedOutside(grabScreen(), stage, islandPath(), QStringLiteral("island-expanded")), 0);

    m_controller->hide();
    waitForStill();
    QVERIFY(m_controller->displayMode() == Mode::collapsed && !m_controller->isCollapsing());
    m_controller->flashCaptureEcho(QuillomareCore::CaptureFeedback{});
    waitForStill();
    QCOMPARE(changedOutside(grabScreen(), stage, islandPath(), QStringLiteral("island-echo")), 0);
}

void TestIslandInputX11::stageStaysTranslucentWhileACompositingManagerRuns()
{
    if (QStandardPaths::findExecutable(QStringLiteral("xcompmgr")).isEmpty())
        QSKIP("xcompmgr is not installed (scripts/install-deps)");
    m_compositor.start(QStringLiteral("xcompmgr"), {});
    QVERIFY(m_compositor.waitForStarted());
    QTRY_VERIFY(compositingManagerRunning(m_desktop->windowHandle()));
    open();
    const QRect stage = m_controller->panel()->geometry();
    QTRY_COMPARE(changedOutside(grabScreen(), stage, islandPath(), QStringLiteral("island-expanded-composited")), 0);
    clickGrid(stage.adjusted(-20, -6, 20, 20), 37, islandPath());

    // The compositing manager goes away while the island stays as it is: no black stage.
    m_compositor.terminate();
    QVERIFY(m_compositor.waitForFinished());
    QTRY_VERIFY(!compositingManagerRunning(m_desktop->windowHandle()));
    QTRY_COMPARE(changedOutside(grabScreen(), stage, islandPath(), QStringLiteral("island-expanded-uncomposited")), 0);
}

QUILLOMARE_GUI_TEST_MAIN(TestIslandInputX11)
#include "tst_islandinput_x11.moc"
