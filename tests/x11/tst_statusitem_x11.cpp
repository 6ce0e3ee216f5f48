// The tray icon on a desktop with a tray host (trayer): the host embeds it, and Quit from its
// menu ends the built program normally.

#include "Shell/StatusItemController.h"

#include "TestSupport.h"

#include <QApplication>
#include <QDeadlineTimer>
#include <QFileInfo>
#include <QMenu>
#include <QProcess>
#include <QSettings>
#include <QSystemTrayIcon>
#include <QTemporaryDir>

using namespace QuillomareMac;

namespace {

QString run(const QString& program, const QStringList& arguments)
{
    QProcess process;
    process.start(program, arguments);
    process.waitForFinished(10000);
    return QString::fromUtf8(process.readAllStandardOutput());
}

// A window the tray host took in: mapped, and no longer a child of the root window.
bool isEmbedded(const QString& window)
{
    const QString tree = run(QStringLiteral("xwininfo"), {QStringLiteral("-id"), window, QStringLiteral("-tree")});
    const QString parent = tree.section(QStringLiteral("Parent window id:"), 1).section(QLatin1Char('\n'), 0, 0);
    return !parent.isEmpty() && !parent.contains(QStringLiteral("(the root window)")) &&
           run(QStringLiteral("xwininfo"), {QStringLiteral("-id"), window}).contains(QStringLiteral("IsViewable"));
}

// The embedded window among those of a WM_CLASS, waiting for the host to take it in.
QString embeddedWindowOfClass(const QString& className, int milliseconds)
{
    const QDeadlineTimer deadline(milliseconds);
    do {
        const QStringList windows =
            run(QStringLiteral("xdotool"), {QStringLiteral("search"), QStringLiteral("--classname"), className})
                .split(QLatin1Char('\n'), Qt::SkipEmptyParts);
        for (const QString& window : windows)
            if (isEmbedded(window))
                return window;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
    } while (!deadline.hasExpired());
    return {};
}

} // namespace

class StatusItemX11Test : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void testTheTrayHostEmbedsTheIcon()
    {
        StatusItemController controller;
        controller.install();
        QTRY_VERIFY(QSystemTrayIcon::isSystemTrayAvailable());
        QVERIFY(controller.statusItem()->isVisible());
        QVERIFY2(!embeddedWindowOfClass(QCoreApplication::applicationName(), 10000).isEmpty(),
                 "the tray host did not embed the icon");
        // The menu is there to open, tray or not.
        QCOMPARE(controller.statusItem()->contextMenu(), controller.menu());
    }

    void testAClickOnTheEmbeddedIconOpensTheWholeMenu()
    {
        StatusItemController controller;
        controller.install();
        const QString icon = embeddedWindowOfClass(QCoreApplication::applicationName(), 10000);
        QVERIFY2(!icon.isEmpty(), "the tray host did not embed the icon");
        run(QStringLiteral("xdotool"),
            {QStringLiteral("mousemove"), QStringLiteral("--window"), icon, QStringLiteral("8"), QStringLiteral("8"),
             QStringLiteral("click"), QStringLiteral("1")});
        QTRY_VERIFY_WITH_TIMEOUT(controller.menu()->isVisible(), 5000);
        // On screen, near the tray at the bottom right, with every row of the tray menu.
        const QRect shown = controller.menu()->geometry();
        QVERIFY(QGuiApplication::primaryScreen()->geometry().contains(shown));
        QVERIFY2(shown.bottom() > QGuiApplication::primaryScreen()->geometry().height() / 2,
                 qPrintable(QStringLiteral("menu at %1,%2").arg(shown.x()).arg(shown.y())));
        const QList<QAction*> rows = controller.menu()->actions();
        QCOMPARE(rows.size(), 16);
        QCOMPARE(rows.first()->text(), QStringLiteral("Show Island"));
        QVERIFY(rows.last()->text().startsWith(QStringLiteral("Quit")));
        run(QStringLiteral("xdotool"), {QStringLiteral("key"), QStringLiteral("Escape")});
        QTRY_VERIFY_WITH_TIMEOUT(!controller.menu()->isVisible(), 5000);
    }

    void testQuitFromTheTrayMenuEndsTheProgramNormally()
    {
        const QString binary = qEnvironmentVariable("QUILLOMARE_BUILD_DIR") + QStringLiteral("/bin/quillomare");
        QVERIFY2(QFileInfo(binary).isExecutable(), qPrintable(binary));
        QTemporaryDir home;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("HOME"), home.path());
        for (const char* name : {"XDG_DATA_HOME", "XDG_CONFIG_HOME", "XDG_CACHE_HOME", "XDG_STATE_HOME"})
            environment.remove(QString::fromLatin1(name));
        environment.insert(QStringLiteral("LANG"), QStringLiteral("C.UTF-8"));
        QProcess program;
        program.setProcessEnvironment(environment);
        program.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        // The guide a first launch shows would take the keys meant for the menu.
        QSettings(home.filePath(QStringLiteral(".config/Quillomare/Quillomare.ini")), QSettings::IniFormat)
            .setValue(QStringLiteral("Quillomare.didShowOnboarding.v1"), true);
        program.start(binary, {});
        QVERIFY(program.waitForStarted(5000));

        const QString icon = embeddedWindowOfClass(QStringLiteral("quillomare"), 10000);
        QVERIFY2(!icon.isEmpty(), "the program's tray icon was not embedded");
        // A click opens the menu; from nothing selected, Up reaches its last row, Quit.
        run(QStringLiteral("xdotool"),
            {QStringLiteral("mousemove"), QStringLiteral("--window"), icon, QStringLiteral("8"), QStringLiteral("8"),
             QStringLiteral("click"), QStringLiteral("1")});
        QTest::qWait(500);
        run(QStringLiteral("xdotool"), {QStringLiteral("key"), QStringLiteral("Up"), QStringLiteral("Return")});

        const bool ended = program.waitForFinished(10000);
        if (!ended) {
            program.kill();
            program.waitForFinished();
        }
        QVERIFY2(ended, "Quit from the tray menu did not end the program");
        QCOMPARE(program.exitStatus(), QProcess::NormalExit);
        QCOMPARE(program.exitCode(), 0);
    }
};

QUILLOMARE_GUI_TEST_MAIN(StatusItemX11Test)
#include "tst_statusitem_x11.moc"
