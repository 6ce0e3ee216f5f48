#pragma once

// The developer switches of the command line: each runs the self-test, renders a preview, starts
// an interface probe or checks the shelf store instead of starting the application, and ends the
// process with its own status. The first switch of the table that is present decides; later ones
// are not acted on.

#include <QString>
#include <QStringList>

#include <functional>
#include <optional>

namespace QuillomareMac::CommandLine {

// Exit statuses of the developer modes.
constexpr int kSuccess = 0;
constexpr int kFailure = 1;
// A render switch without an output path after it.
constexpr int kMissingOutputPath = 64;

// In the order of the dispatch table.
enum class DeveloperMode
{
    smokeTest,
    renderIslandPreview,
    renderShelfPreview,
    renderEchoPreview,
    liveTextProbe,
    liveTextPanGateProbe,
    liveTextZoomProbe,
    animProbe,
    collapseProbe,
    echoRetractProbe,
    stageProbe,
    quickPreviewProbe,
    historyRowPreviewProbe,
    historyRowFilePreviewProbe,
    historyRowBodySelectProbe,
    historyRowBodyMousedownSelectProbe,
    historyScrollFallbackBodySelectProbe,
    shelfGalleryHitTestProbe,
    repairShelfStoreProbe,
    liveTextCopyAllProbe
};

// The program's arguments, the program path first, as file names are decoded.
QStringList arguments(int argc, char** argv);

// Whole-argument and case-sensitive: "--render-echo-preview=out.png" is not the switch.
bool hasSwitch(const QStringList& arguments, const QString& flag);
// The argument right after the first one equal to `flag`; nothing when `flag` is absent or last.
// The value is not checked: an empty argument or another switch is returned as it stands.
std::optional<QString> commandLineValue(const QStringList& arguments, const QString& flag);

// The developer mode the arguments ask for, in the order of the table; nothing: the normal start.
// Arguments that are no switch of the table are ignored.
std::optional<DeveloperMode> developerMode(const QStringList& arguments);
QString switchName(DeveloperMode mode);

// `value` made absolute against `currentDirectory` (an absolute path stays as it is), with "."
// and ".." components removed; ".." at the root stays at the root.
QString resolvedOutputPath(const QString& value, const QString& currentDirectory);

// The self-test and the probes paint their own windows: a display is welcome but not needed.
// Without one (and without a platform asked for), the offscreen platform.
void useOffscreenPlatformWithoutDisplay();

// The developer tools the modes run. They sit above the shell, so the program's entry point
// hands them in.
struct DeveloperTools
{
    // The self-test, once the application object exists.
    std::function<void()> runSmokeTest;
    // Writes the picture of a render mode to `path` (absolute); throws on failure.
    std::function<void(DeveloperMode mode, const QString& path)> renderPreview;
    // Runs an interface probe to its end, application object included; the exit status.
    std::function<int(DeveloperMode mode, int& argc, char** argv)> runInterfaceProbe;
};

// Runs the mode to its end, application object included, and returns the exit status. Writes
// the result or the failure to standard output or standard error.
int runDeveloperMode(DeveloperMode mode, const QStringList& arguments, int& argc, char** argv,
                     const DeveloperTools& tools);

} // namespace QuillomareMac::CommandLine
