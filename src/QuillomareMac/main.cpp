#include "DevTools/IslandPreviewRenderer.h"
#include "DevTools/SmokeTest.h"
#include "DevTools/UserInterfaceProbe.h"
#include "Shell/AppDelegate.h"
#include "Shell/CommandLine.h"
#include "Shell/Localization.h"
#include "Shell/SingleInstance.h"
#include "Shell/StatusItemController.h"

#include <QApplication>
#include <QLocale>
#include <QSocketNotifier>
#include <QTimer>

#include <csignal>
#include <cstdio>
#include <sys/socket.h>
#include <unistd.h>
#include <xcb/xcb.h>

namespace {

int g_signalPipe[2] = {-1, -1};

void forwardSignal(int)
{
    const char byte = 1;
    [[maybe_unused]] const auto written = ::write(g_signalPipe[1], &byte, 1);
}

// Qt aborts when the display cannot be opened; this asks first, on a connection of its own.
// The connection stays open until Qt has its own: an X server with no client left resets itself,
// and Qt's connection during that reset is refused (a bare Xvfb, or `xinit quillomare`).
struct DisplayProbe
{
    xcb_connection_t* connection = xcb_connect(nullptr, nullptr);
    DisplayProbe() = default;
    DisplayProbe(const DisplayProbe&) = delete;
    DisplayProbe& operator=(const DisplayProbe&) = delete;
    ~DisplayProbe() { close(); }
    bool opened() const { return connection && xcb_connection_has_error(connection) == 0; }
    void close()
    {
        if (connection)
            xcb_disconnect(connection);
        connection = nullptr;
    }
};

bool g_mainLoopRunning = false;
bool g_quitWhenMainLoopRuns = false;

// SIGTERM and SIGINT end the event loop normally, so that the shut-down sequence runs.
void quitOnTerminationSignals(QApplication& app)
{
    if (::socketpair(AF_UNIX, SOCK_STREAM, 0, g_signalPipe) != 0)
        return;
    auto* notifier = new QSocketNotifier(g_signalPipe[0], QSocketNotifier::Read, &app);
    QObject::connect(notifier, &QSocketNotifier::activated, &app, [&app] {
        char byte = 0;
        [[maybe_unused]] const auto read = ::read(g_signalPipe[0], &byte, 1);
        // Still waiting for other instances to exit: nothing has been read or written, so there
        // is nothing to shut down, and waiting on would only get this process forced.
        if (QuillomareMac::SingleInstance::launchWaitInProgress()) {
            std::fflush(nullptr);
            ::_exit(0);
        }
        // A quit asked for before the main loop runs would be lost.
        if (!g_mainLoopRunning)
            g_quitWhenMainLoopRuns = true;
        else
            app.quit();
    });
    struct sigaction action = {};
    action.sa_handler = forwardSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    sigaction(SIGTERM, &action, nullptr);
    sigaction(SIGINT, &action, nullptr);
}

// The developer modes' tools, handed to the shell that dispatches the switches.
QuillomareMac::CommandLine::DeveloperTools developerTools()
{
    using QuillomareMac::IslandPreviewRenderer;
    using Mode = QuillomareMac::CommandLine::DeveloperMode;
    QuillomareMac::CommandLine::DeveloperTools tools;
    tools.runSmokeTest = [] { QuillomareMac::SmokeTest::run(); };
    tools.renderPreview = [](Mode mode, const QString& path) {
        if (mode == Mode::renderIslandPreview)
            IslandPreviewRenderer::render(path, IslandPreviewRenderer::ContentPreviewMode::history);
        else if (mode == Mode::renderShelfPreview)
            IslandPreviewRenderer::render(path, IslandPreviewRenderer::ContentPreviewMode::shelfGallery);
        else
            IslandPreviewRenderer::renderCaptureEcho(path);
    };
    tools.runInterfaceProbe = [](Mode mode, int& argc, char** argv) {
        return QuillomareMac::UserInterfaceProbe::run(mode, argc, argv);
    };
    return tools;
}

} // namespace

int main(int argc, char* argv[])
{
    // Developer switches do their work instead of the application and end the process themselves.
    const QStringList arguments = QuillomareMac::CommandLine::arguments(argc, argv);
    if (const auto mode = QuillomareMac::CommandLine::developerMode(arguments))
        return QuillomareMac::CommandLine::runDeveloperMode(*mode, arguments, argc, argv, developerTools());

    // Watching the clipboard, the active window and global keys needs X11 (XWayland on Wayland).
    if (qEnvironmentVariableIsEmpty("DISPLAY")) {
        std::fputs("Quillomare needs an X11 display (or XWayland), and DISPLAY is not set.\n", stderr);
        return 1;
    }
    DisplayProbe display;
    if (!display.opened()) {
        std::fprintf(stderr, "Quillomare needs an X11 display (or XWayland), and the display “%s” cannot be opened.\n",
                     qgetenv("DISPLAY").constData());
        return 1;
    }
    qputenv("QT_QPA_PLATFORM", "xcb");
    QApplication app(argc, argv);
    display.close();
    QApplication::setApplicationName(QStringLiteral("Quillomare"));
    QApplication::setQuitOnLastWindowClosed(false);
    quitOnTerminationSignals(app);
    // Names Qt and the desktop give us (application names from desktop files) follow the
    // interface language too.
    QLocale::setDefault(QuillomareCore::Language::isChinese() ? QLocale(QLocale::Chinese, QLocale::China)
                                                              : QLocale(QLocale::English, QLocale::UnitedStates));
    // Qt's own dialogs (the export file dialog, message box buttons) speak the same language.
    if (!QuillomareMac::L10n::installQtTranslations())
        std::fputs("Quillomare: Qt's Chinese translations are missing (qt6-translations-l10n); Qt's own dialogs stay "
                   "in English.\n",
                   stderr);

    // The tray menu lives beside the delegate and reaches it weakly.
    auto statusItem = std::make_shared<QuillomareMac::StatusItemController>();
    QuillomareMac::AppDelegateEnvironment environment;
    environment.statusMenu = statusItem;
    QuillomareMac::AppDelegate delegate(std::move(environment));
    statusItem->setDelegate(&delegate);
    QObject::connect(&app, &QCoreApplication::aboutToQuit, &delegate,
                     &QuillomareMac::AppDelegate::applicationWillTerminate);
    delegate.applicationDidFinishLaunching();
    QTimer::singleShot(0, &app, [&app] {
        g_mainLoopRunning = true;
        if (g_quitWhenMainLoopRuns)
            app.quit();
    });
    return app.exec();
}
