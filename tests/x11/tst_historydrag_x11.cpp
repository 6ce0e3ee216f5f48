// A history row dragged out for real: the X server's pointer, moved by xdotool, carries the row
// from the expanded island to a drop target window of another widget, through Qt's X11 drag and
// drop, as a file manager or an editor would receive it.

#include "../QuillomareMac/IslandViewTestRig.h"
#include "TestSupport.h"
#include "X11Tools.h"

#include "History/ClipRowView.h"
#include "Island/IslandView.h"

#include <QApplication>
#include <QDeadlineTimer>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QMimeData>
#include <QProcess>
#include <QTemporaryDir>

using namespace QuillomareMac;
using QuillomareCore::ClipboardItem;

class TestHistoryDragX11 : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void rowsDropIntoAnotherWindow_data()
    {
        QTest::addColumn<bool>("both");
        QTest::newRow("one row") << false;
        QTest::newRow("a multi-selection of two") << true;
    }

    void rowsDropIntoAnotherWindow()
    {
        QFETCH(bool, both);
        QTemporaryDir folder;
        const QString file = folder.filePath(QStringLiteral("notes.txt"));
        QuillomareTest::writeFile(file, "notes");
        const ClipboardItem text = QuillomareTest::textItem(QStringLiteral("dragged text"), QuillomareTest::at(0));
        const ClipboardItem files = QuillomareTest::fileItem({file}, QuillomareTest::at(-60));

        QuillomareTest::IslandViewTestRig rig(QRect(297, 0, 185, 32));
        rig.canvas->move(0, 0);
        rig.canvas->show();
        rig.expand();
        rig.view->configure({text, files}, QuillomareCore::CloudSyncState::idle(), std::nullopt);
        QuillomareTest::DropTarget target(QSize(300, 300));
        target.move(900, 100);
        target.show();
        QVERIFY(QTest::qWaitForWindowExposed(rig.canvas.get()));
        QVERIFY(QTest::qWaitForWindowExposed(&target));
        if (both) {
            QTest::mouseClick(rig.view->historyRow(text.id), Qt::LeftButton, Qt::ControlModifier, QPoint(120, 20));
            QTest::mouseClick(rig.view->historyRow(files.id), Qt::LeftButton, Qt::ControlModifier, QPoint(120, 20));
        }

        // Press on the file row, move past the drag distance, on into the target, release.
        ClipRowView* row = rig.view->historyRow(files.id);
        QVERIFY(row && row->isVisible());
        const QPoint from = row->mapToGlobal(QPoint(150, 20));
        const QPoint to = target.mapToGlobal(QPoint(150, 150));
        const auto position = [](const QPoint& point) {
            return QStringList{QString::number(point.x()), QString::number(point.y())};
        };
        QStringList script{QStringLiteral("mousemove")};
        script << position(from) << QStringLiteral("mousedown") << QStringLiteral("1") << QStringLiteral("mousemove")
               << position(from + QPoint(30, 0)) << QStringLiteral("sleep") << QStringLiteral("0.3")
               << QStringLiteral("mousemove") << position(to - QPoint(20, 0)) << QStringLiteral("sleep")
               << QStringLiteral("0.3") << QStringLiteral("mousemove") << position(to) << QStringLiteral("sleep")
               << QStringLiteral("0.3") << QStringLiteral("mouseup") << QStringLiteral("1");
        // One process for the whole gesture: the drag runs its own event loop until the drop.
        QProcess pointer;
        pointer.start(QStringLiteral("xdotool"), script);
        QVERIFY(QuillomareTest::waitFor([&] { return target.drops == 1; }, 10000));
        pointer.waitForFinished(5000);

        QVERIFY(target.urls.contains(QUrl::fromLocalFile(file)));
        if (both)
            QVERIFY2(target.texts.join(QLatin1Char('\n')).contains(QStringLiteral("dragged text")),
                     qPrintable(target.texts.join(QLatin1Char('|'))));
        else
            QVERIFY(!target.texts.join(QLatin1Char('\n')).contains(QStringLiteral("dragged text")));
    }
};

QUILLOMARE_GUI_TEST_MAIN(TestHistoryDragX11)
#include "tst_historydrag_x11.moc"
