#include "MotionPreferences.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>

#include <chrono>
#include <cmath>

namespace Platform {

namespace {

using Clock = std::chrono::steady_clock;

struct MotionState
{
    std::optional<bool> testOverride;
    std::optional<bool> cached;
    Clock::time_point cachedAt;
    // gsettings that is missing or has no GNOME schema will not have one a second later.
    bool gsettingsUnavailable = false;
};

MotionState& state()
{
    static MotionState motion;
    return motion;
}

QString kdeGlobalsPath()
{
    QString configHome = qEnvironmentVariable("XDG_CONFIG_HOME");
    if (configHome.isEmpty())
        configHome = QDir::homePath() + QStringLiteral("/.config");
    return configHome + QStringLiteral("/kdeglobals");
}

std::optional<bool> readGSettings(MotionState& motion)
{
    if (motion.gsettingsUnavailable)
        return std::nullopt;
    static const QString program = QStandardPaths::findExecutable(QStringLiteral("gsettings"));
    if (program.isEmpty()) {
        motion.gsettingsUnavailable = true;
        return std::nullopt;
    }
    QProcess process;
    process.start(program, {QStringLiteral("get"), QStringLiteral("org.gnome.desktop.interface"),
                            QStringLiteral("enable-animations")});
    // Short: this runs on the GUI thread, which must keep serving the clipboard it may own.
    if (!process.waitForFinished(300)) {
        process.kill();
        process.waitForFinished(100);
        return std::nullopt;
    }
    if (process.exitStatus() != QProcess::NormalExit || process.exitCode() != 0) {
        motion.gsettingsUnavailable = true;
        return std::nullopt;
    }
    return MotionPreferences::reduceMotionFromGSettingsOutput(process.readAllStandardOutput());
}

bool readDesktop(MotionState& motion)
{
    if (const auto kde = MotionPreferences::reduceMotionFromKdeGlobals(kdeGlobalsPath()))
        return *kde;
    if (const auto gnome = readGSettings(motion))
        return *gnome;
    return false;
}

} // namespace

bool MotionPreferences::reduceMotion()
{
    auto& motion = state();
    if (motion.testOverride)
        return *motion.testOverride;
    const QByteArray environment = qgetenv("QUILLOMARE_REDUCE_MOTION").trimmed();
    if (environment == "1" || environment == "0")
        return environment == "1";
    const auto now = Clock::now();
    if (motion.cached && now - motion.cachedAt < std::chrono::seconds(1))
        return *motion.cached;
    motion.cached = readDesktop(motion);
    motion.cachedAt = now;
    return *motion.cached;
}

void MotionPreferences::setReduceMotionForTesting(std::optional<bool> reduceMotion)
{
    state().testOverride = reduceMotion;
}

void MotionPreferences::invalidateCache()
{
    state().cached.reset();
    state().gsettingsUnavailable = false;
}

std::optional<bool> MotionPreferences::reduceMotionFromKdeGlobals(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text))
        return std::nullopt;
    // kdeglobals is INI-like but with KDE's own escapes and markers ([$i]); only one plain key
    // of one group matters here, so read it line by line.
    bool inKdeGroup = false;
    std::optional<bool> result;
    while (!file.atEnd()) {
        const QByteArray line = file.readLine().trimmed();
        if (line.isEmpty() || line.startsWith('#') || line.startsWith(';'))
            continue;
        if (line.startsWith('[')) {
            inKdeGroup = line == "[KDE]";
            continue;
        }
        if (!inKdeGroup)
            continue;
        const qsizetype equals = line.indexOf('=');
        if (equals < 0)
            continue;
        QByteArray key = line.left(equals).trimmed();
        if (key.endsWith("[$i]"))
            key.chop(4);
        if (key != "AnimationDurationFactor")
            continue;
        bool ok = false;
        const double factor = line.mid(equals + 1).trimmed().toDouble(&ok);
        if (ok && std::isfinite(factor))
            result = factor == 0.0;
    }
    return result;
}

std::optional<bool> MotionPreferences::reduceMotionFromGSettingsOutput(const QByteArray& output)
{
    const QByteArray value = output.trimmed();
    if (value == "false")
        return true;
    if (value == "true")
        return false;
    return std::nullopt;
}

} // namespace Platform
