#include "TestSupport.h"
#include "X11Tools.h"

#include <Platform/WorkspaceX11.h>

#include <QApplication>
#include <QDBusConnection>
#include <QDBusContext>
#include <QDBusError>
#include <QDeadlineTimer>
#include <QDesktopServices>
#include <QDir>
#include <QElapsedTimer>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QWidget>

#include <xcb/xcb.h>

#include <memory>

using namespace Platform;

namespace {

const QString kProbeInstance = QStringLiteral("quillomareprobe");
// Xt programs name their class after the program.
const QString kProbeClass = QStringLiteral("Xmessage");

// Readable in a failed comparison.
QString text(const std::optional<RunningApplication>& application)
{
    if (!application)
        return QStringLiteral("(none)");
    return QStringLiteral("pid %1, id %2, name %3")
        .arg(application->processIdentifier)
        .arg(application->bundleIdentifier.value_or(QStringLiteral("(none)")),
             application->localizedName.value_or(QStringLiteral("(none)")));
}

} // namespace

// Stands in for the desktop's URL opener.
class UrlRecorder : public QObject
{
    Q_OBJECT

public Q_SLOTS:
    void open(const QUrl& url) { opened.append(url); }

public:
    QList<QUrl> opened;
};

// A file manager on its own bus connection, answering as a real one does, for as long as it lives.
class FakeFileManager : public QObject, protected QDBusContext
{
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.FileManager1")

public Q_SLOTS:
    void ShowItems(const QStringList& uris, const QString& startupId)
    {
        calls.append({uris, startupId});
        if (refuses)
            sendErrorReply(QDBusError::Failed, QStringLiteral("cannot show these"));
    }

public:
    explicit FakeFileManager(bool refuses = false) : refuses(refuses) {}
    ~FakeFileManager() override
    {
        m_bus.unregisterService(service);
        QDBusConnection::disconnectFromBus(m_bus.name());
    }
    // False without a session bus.
    bool start()
    {
        return m_bus.isConnected()
               && m_bus.registerObject(QStringLiteral("/org/freedesktop/FileManager1"), this,
                                       QDBusConnection::ExportAllSlots)
               && m_bus.registerService(service);
    }

    const bool refuses;
    const QString service = QStringLiteral("org.quillomare.test.FileManager%1").arg(QCoreApplication::applicationPid());
    QList<std::pair<QStringList, QString>> calls;

private:
    QDBusConnection m_bus = QDBusConnection::connectToBus(QDBusConnection::SessionBus, QStringLiteral("fake-file-manager"));
};

class TestWorkspaceX11 : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void init();
    void cleanup();

    void namesOwnWindowByProcessAndExecutable();
    void followsTheActiveWindow_data();
    void followsTheActiveWindow();
    void survivesTheActiveWindowClosing();
    void reportsEachActivationOfAnotherApplicationOnce();

    void showsItemsThroughTheFileManager();
    void opensTheFolderWithoutAFileManager();
    void opensTheFolderWhenTheFileManagerRefuses();

private:
    // Runs a short command while the event loop goes on; false when it failed or hung.
    static bool run(const QString& program, const QStringList& arguments, QByteArray* output = nullptr);
    // Starts an xmessage window and returns its X id (0 when it did not appear).
    quint64 startProbe();
    // Writes the root's active-window property as a window manager does, focus left as it is.
    static void announceActiveWindow(quint64 window);
    bool activate(quint64 window) { return run(QStringLiteral("xdotool"), {QStringLiteral("windowactivate"), QStringLiteral("--sync"), QString::number(window)}); }
    void writeDesktopFile(const QString& name, const QByteArray& keys);
    std::unique_ptr<QWidget> showOwnWindow();

    std::unique_ptr<QTemporaryDir> m_dir;
    std::unique_ptr<QProcess> m_probe;
    UrlRecorder m_recorder;
};

void TestWorkspaceX11::initTestCase()
{
    if (QGuiApplication::platformName() != QLatin1String("xcb"))
        QSKIP("needs an X11 desktop: run inside scripts/x11-session with QT_QPA_PLATFORM=xcb");
    if (QStandardPaths::findExecutable(QStringLiteral("xdotool")).isEmpty()
        || QStandardPaths::findExecutable(QStringLiteral("xmessage")).isEmpty())
        QSKIP("needs xdotool and xmessage");
}

void TestWorkspaceX11::init()
{
    // Only the applications a test installs exist.
    m_dir = std::make_unique<QTemporaryDir>();
    QVERIFY(m_dir->isValid());
    qputenv("XDG_DATA_HOME", QFile::encodeName(m_dir->filePath(QStringLiteral("home"))));
    qputenv("XDG_DATA_DIRS", QFile::encodeName(m_dir->filePath(QStringLiteral("system"))));
    m_recorder.opened.clear();
    QDesktopServices::setUrlHandler(QStringLiteral("file"), &m_recorder, "open");
}

void TestWorkspaceX11::cleanup()
{
    QDesktopServices::unsetUrlHandler(QStringLiteral("file"));
    if (m_probe) {
        m_probe->kill();
        m_probe->waitForFinished(2000);
        m_probe.reset();
    }
    m_dir.reset();
}

bool TestWorkspaceX11::run(const QString& program, const QStringList& arguments, QByteArray* output)
{
    int exitCode = -1;
    const QByteArray printed = QuillomareTest::runWhileServingEvents(program, arguments, {}, 10000, &exitCode);
    if (output)
        *output = printed;
    return exitCode == 0;
}

quint64 TestWorkspaceX11::startProbe()
{
    // A name of its own, so that the probe of an earlier test, still going away, is never taken for it.
    static int probes = 0;
    const QString instance =
        QStringLiteral("%1-%2-%3").arg(kProbeInstance).arg(QCoreApplication::applicationPid()).arg(++probes);
    m_probe = std::make_unique<QProcess>();
    m_probe->start(QStringLiteral("xmessage"), {QStringLiteral("-name"), instance, QStringLiteral("-title"),
                                                QStringLiteral("Quillomare probe"), QStringLiteral("probe")});
    // xdotool's search walks every window and dies of the first that vanishes under it (the windows
    // of the test before are still closing, the more so on a busy machine): ask until it answers.
    const QDeadlineTimer deadline(10000);
    do {
        QByteArray found;
        if (run(QStringLiteral("xdotool"),
                {QStringLiteral("search"), QStringLiteral("--onlyvisible"), QStringLiteral("--classname"),
                 QLatin1Char('^') + instance + QLatin1Char('$')},
                &found) &&
            !found.trimmed().isEmpty())
            return found.trimmed().split('\n').constLast().toULongLong();
        QTest::qWait(50);
    } while (!deadline.hasExpired());
    return 0;
}

void TestWorkspaceX11::writeDesktopFile(const QString& name, const QByteArray& keys)
{
    const QString folder = m_dir->filePath(QStringLiteral("home/applications"));
    QDir().mkpath(folder);
    QuillomareTest::writeFile(folder + QLatin1Char('/') + name, "[Desktop Entry]\nType=Application\n" + keys + "\n");
}

std::unique_ptr<QWidget> TestWorkspaceX11::showOwnWindow()
{
    auto window = std::make_unique<QWidget>();
    window->setWindowTitle(QStringLiteral("Quillomare own window"));
    window->resize(240, 120);
    window->show();
    if (!QTest::qWaitForWindowExposed(window.get()))
        return nullptr;
    return window;
}

void TestWorkspaceX11::namesOwnWindowByProcessAndExecutable()
{
    const std::unique_ptr<QWidget> window = showOwnWindow();
    QVERIFY(window);
    QVERIFY(activate(window->winId()));

    // Qt names the class of its windows after the application.
    X11Workspace workspace;
    const RunningApplication byClass{QCoreApplication::applicationPid(), QCoreApplication::applicationName(),
                                     QStringLiteral("Quillomare own window")};
    QTRY_COMPARE(text(workspace.frontmostApplication()), text(byClass));

    // A desktop file that starts this very executable names it, found through the window's pid.
    writeDesktopFile(QStringLiteral("org.quillomare.SelfTest.desktop"),
                     "Name=Self Test\nExec=\"" + QFile::encodeName(QCoreApplication::applicationFilePath())
                         + "\" --flag %U");
    X11Workspace withDesktopFile;
    const RunningApplication byExec{QCoreApplication::applicationPid(), QStringLiteral("org.quillomare.SelfTest"),
                                    QStringLiteral("Self Test")};
    QCOMPARE(text(withDesktopFile.frontmostApplication()), text(byExec));
}

void TestWorkspaceX11::followsTheActiveWindow_data()
{
    QTest::addColumn<bool>("ownConnection");
    QTest::newRow("Qt's connection") << false;
    QTest::newRow("a private connection") << true;
}

void TestWorkspaceX11::followsTheActiveWindow()
{
    QFETCH(bool, ownConnection);
    const quint64 probe = startProbe();
    QVERIFY(probe != 0);
    const std::unique_ptr<QWidget> window = showOwnWindow();
    QVERIFY(window);
    X11WorkspaceOptions options;
    options.connection = ownConnection ? X11WorkspaceOptions::Connection::alwaysOwn
                                       : X11WorkspaceOptions::Connection::qtOrOwn;
    X11Workspace workspace(options);
    const auto frontmostIdentifier = [&workspace] {
        return workspace.frontmostApplication().value_or(RunningApplication{}).bundleIdentifier;
    };

    QVERIFY(activate(probe));
    QTRY_COMPARE(frontmostIdentifier(), kProbeClass);
    // xmessage neither states its process nor sets a UTF-8 title: the class names it.
    QCOMPARE(text(workspace.frontmostApplication()), text(RunningApplication{0, kProbeClass, kProbeClass}));
    QVERIFY(activate(window->winId()));
    QTRY_COMPARE(frontmostIdentifier(), QCoreApplication::applicationName());
    QCOMPARE(workspace.frontmostApplication()->processIdentifier, QCoreApplication::applicationPid());
    QVERIFY(activate(probe));
    QTRY_COMPARE(frontmostIdentifier(), kProbeClass);

    // Every answer is asked afresh; the installed applications were read once.
    QElapsedTimer clock;
    clock.start();
    for (int i = 0; i < 200; ++i)
        QCOMPARE(frontmostIdentifier(), kProbeClass);
    qInfo("one query took %.3f ms on average", double(clock.nsecsElapsed()) / 200 / 1e6);
    QCOMPARE(workspace.indexScanCount(), 1);
}

void TestWorkspaceX11::survivesTheActiveWindowClosing()
{
    const quint64 probe = startProbe();
    QVERIFY(probe != 0);
    QVERIFY(activate(probe));
    X11Workspace workspace;
    QTRY_COMPARE(workspace.frontmostApplication().value_or(RunningApplication{}).bundleIdentifier, kProbeClass);

    // Ask without pause while the window goes away under the questions.
    m_probe->kill();
    QElapsedTimer clock;
    clock.start();
    qint64 slowest = 0;
    bool probeStillNamed = true;
    while (clock.elapsed() < 5000 && probeStillNamed) {
        QElapsedTimer one;
        one.start();
        const auto application = workspace.frontmostApplication();
        slowest = qMax(slowest, one.elapsed());
        probeStillNamed = application && application->bundleIdentifier == kProbeClass;
        QCoreApplication::processEvents();
    }
    QVERIFY2(!probeStillNamed, "the closed window is still reported as active");
    QVERIFY2(slowest < 1000, qPrintable(QStringLiteral("a query took %1 ms").arg(slowest)));
}

void TestWorkspaceX11::announceActiveWindow(quint64 window)
{
    xcb_connection_t* connection = qGuiApp->nativeInterface<QNativeInterface::QX11Application>()->connection();
    const QByteArray name = "_NET_ACTIVE_WINDOW";
    xcb_intern_atom_reply_t* atom = xcb_intern_atom_reply(
        connection, xcb_intern_atom(connection, 0, uint16_t(name.size()), name.constData()), nullptr);
    QVERIFY(atom);
    const auto value = xcb_window_t(window);
    const xcb_window_t root = xcb_setup_roots_iterator(xcb_get_setup(connection)).data->root;
    xcb_change_property(connection, XCB_PROP_MODE_REPLACE, root, atom->atom, XCB_ATOM_WINDOW, 32, 1, &value);
    std::free(atom);
    xcb_flush(connection);
}

void TestWorkspaceX11::reportsEachActivationOfAnotherApplicationOnce()
{
    const quint64 probe = startProbe();
    QVERIFY(probe != 0);
    // xmessage does not state its process: say it for it.
    const qint64 probePid = m_probe->processId();
    QVERIFY(run(QStringLiteral("xprop"), {QStringLiteral("-id"), QString::number(probe), QStringLiteral("-f"),
                                          QStringLiteral("_NET_WM_PID"), QStringLiteral("32c"), QStringLiteral("-set"),
                                          QStringLiteral("_NET_WM_PID"), QString::number(probePid)}));
    const std::unique_ptr<QWidget> window = showOwnWindow();
    QVERIFY(window);
    QVERIFY(activate(window->winId()));
    const qint64 ownPid = QCoreApplication::applicationPid();
    X11Workspace workspace;
    QList<qint64> activated;
    std::shared_ptr<void> observation =
        workspace.observeActivations([&](const RunningApplication& application) {
            activated.append(application.processIdentifier);
        });

    // What was active when observing began is not news.
    QVERIFY(activate(probe));
    QTRY_COMPARE(activated, QList<qint64>{probePid});
    // The same window again, also after a moment without any, is no new activation; the next
    // activation, ordered after these notices, shows that none of them was reported.
    QVERIFY(activate(probe));
    announceActiveWindow(0);
    announceActiveWindow(probe);
    QVERIFY(activate(window->winId()));
    QTRY_COMPARE(activated, (QList<qint64>{probePid, ownPid}));

    QList<qint64> witnessed;
    const std::shared_ptr<void> witness =
        workspace.observeActivations([&](const RunningApplication& application) {
            witnessed.append(application.processIdentifier);
        });
    observation.reset();
    QVERIFY(activate(probe));
    QTRY_COMPARE(witnessed, QList<qint64>{probePid});
    QCOMPARE(activated, (QList<qint64>{probePid, ownPid}));
}

void TestWorkspaceX11::showsItemsThroughTheFileManager()
{
    FakeFileManager fileManager;
    QVERIFY2(fileManager.start(), "needs a session bus");
    const QString first = m_dir->filePath(QStringLiteral("with blank.txt"));
    const QString second = m_dir->filePath(QStringLiteral("second.txt"));
    QuillomareTest::writeFile(first, "1");
    QuillomareTest::writeFile(second, "2");
    X11WorkspaceOptions options;
    options.fileManagerService = fileManager.service;
    X11Workspace workspace(options);

    QVERIFY(workspace.selectFile(first, m_dir->path()));
    QTRY_COMPARE(fileManager.calls.size(), 1);
    QCOMPARE(fileManager.calls[0].first, QStringList{QString::fromUtf8(QUrl::fromLocalFile(first).toEncoded())});
    QVERIFY(fileManager.calls[0].first[0].endsWith(QLatin1String("/with%20blank.txt")));
    QCOMPARE(fileManager.calls[0].second, QString());

    QVERIFY(workspace.activateFileViewerSelecting(
        {QUrl::fromLocalFile(second), QUrl(QStringLiteral("https://example.org/")), QUrl::fromLocalFile(first)}));
    QTRY_COMPARE(fileManager.calls.size(), 2);
    QCOMPARE(fileManager.calls[1].first, (QStringList{QString::fromUtf8(QUrl::fromLocalFile(second).toEncoded()),
                                                      QString::fromUtf8(QUrl::fromLocalFile(first).toEncoded())}));
    QTest::qWait(50);
    QCOMPARE(m_recorder.opened, QList<QUrl>{}); // the file manager answered: no folder opened besides
}

void TestWorkspaceX11::opensTheFolderWithoutAFileManager()
{
    X11WorkspaceOptions options;
    options.fileManagerService = QStringLiteral("org.quillomare.test.NoSuchFileManager");
    X11Workspace workspace(options);
    const QString folder = m_dir->path();
    QDir().mkpath(m_dir->filePath(QStringLiteral("inner")));
    const QString outer = m_dir->filePath(QStringLiteral("outer.txt"));
    const QString inner = m_dir->filePath(QStringLiteral("inner/inner.txt"));
    QuillomareTest::writeFile(outer, "o");
    QuillomareTest::writeFile(inner, "i");

    // The folder the caller roots the view at; else the file's own.
    QVERIFY(workspace.selectFile(inner, folder));
    QVERIFY(workspace.selectFile(inner, QString()));
    // Several files: the folder of the first that exists.
    QVERIFY(workspace.activateFileViewerSelecting({QUrl::fromLocalFile(m_dir->filePath(QStringLiteral("gone.txt"))),
                                                   QUrl::fromLocalFile(inner), QUrl::fromLocalFile(outer)}));
    QCOMPARE(m_recorder.opened, (QList<QUrl>{QUrl::fromLocalFile(folder),
                                             QUrl::fromLocalFile(m_dir->filePath(QStringLiteral("inner"))),
                                             QUrl::fromLocalFile(m_dir->filePath(QStringLiteral("inner")))}));

    // A URL goes to the desktop's opener as it is.
    const QUrl url = QUrl::fromLocalFile(m_dir->filePath(QStringLiteral("item/1")));
    QVERIFY(workspace.openURL(url));
    QCOMPARE(m_recorder.opened.constLast(), url);
}

void TestWorkspaceX11::opensTheFolderWhenTheFileManagerRefuses()
{
    FakeFileManager fileManager(true);
    QVERIFY2(fileManager.start(), "needs a session bus");
    const QString file = m_dir->filePath(QStringLiteral("file.txt"));
    QuillomareTest::writeFile(file, "f");
    X11WorkspaceOptions options;
    options.fileManagerService = fileManager.service;
    X11Workspace workspace(options);
    QVERIFY(workspace.selectFile(file, m_dir->path()));
    QTRY_COMPARE(m_recorder.opened, QList<QUrl>{QUrl::fromLocalFile(m_dir->path())});
    QCOMPARE(fileManager.calls.size(), 1);
}

QUILLOMARE_GUI_TEST_MAIN(TestWorkspaceX11)
#include "tst_workspace_x11.moc"
