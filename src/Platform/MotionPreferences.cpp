#include "MotionPreferences.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QFileSystemWatcher>
#include <QPointer>
#include <QProcess>
#include <QStandardPaths>

#include <cmath>
#include <csignal>
#include <sys/prctl.h>
#include <unistd.h>

namespace Platform {

namespace {

const QStringList kGnomeKey{QStringLiteral("org.gnome.desktop.interface"), QStringLiteral("enable-animations")};

struct MotionState
{
    std::optional<bool> testOverride;
    QPointer<MotionPreferencesNotifier> notifier;
    QPointer<QFileSystemWatcher> kdeWatcher;
    QPointer<QProcess> gnomeMonitor;
    std::optional<bool> kde;
    std::optional<bool> gnome;
    bool current = false;
};

MotionState& state()
{
    static MotionState motion;
    return motion;
}

QString configHome()
{
    const QString configured = qEnvironmentVariable("XDG_CONFIG_HOME");
    return configured.isEmpty() ? QDir::homePath() + QStringLiteral("/.config") : configured;
}

QString kdeGlobalsPath()
{
    return configHome() + QStringLiteral("/kdeglobals");
}

void recompute()
{
    auto& motion = state();
    const bool next = motion.kde ? *motion.kde : motion.gnome.value_or(false);
    if (next == motion.current)
        return;
    motion.current = next;
    if (motion.notifier)
        Q_EMIT motion.notifier->changed(next);
}

void readKde()
{
    auto& motion = state();
    motion.kde = MotionPreferences::reduceMotionFromKdeGlobals(kdeGlobalsPath());
    // KDE saves by replacing the file, which ends a watch on the old one: watch the new one.
    if (motion.kdeWatcher && QFileInfo::exists(kdeGlobalsPath())
        && !motion.kdeWatcher->files().contains(kdeGlobalsPath()))
        motion.kdeWatcher->addPath(kdeGlobalsPath());
}

QString gsettingsProgram()
{
    static const QString program = QStandardPaths::findExecutable(QStringLiteral("gsettings"));
    return program;
}

// Runs gsettings without waiting for it; what it prints is taken as it comes.
QProcess* startGSettings(const QString& verb)
{
    auto* process = new QProcess(state().notifier);
    process->setProcessChannelMode(QProcess::ForwardedErrorChannel);
    process->setStandardInputFile(QProcess::nullDevice());
    // The monitor never outlives the program, however the program ends: a monitor left behind
    // would run on for nobody and hold the terminal or pipe the program was started with.
    const pid_t program = ::getpid();
    process->setChildProcessModifier([program] {
        ::prctl(PR_SET_PDEATHSIG, SIGTERM);
        if (::getppid() != program)
            ::_exit(0);
    });
    QObject::connect(process, &QProcess::readyReadStandardOutput, process, [process] {
        while (process->canReadLine())
            MotionPreferences::takeGSettingsOutput(process->readLine());
    });
    QObject::connect(process, &QProcess::finished, process, [process] {
        MotionPreferences::takeGSettingsOutput(process->readAllStandardOutput());
        process->deleteLater();
    });
    QObject::connect(process, &QProcess::errorOccurred, process, [process](QProcess::ProcessError error) {
        if (error == QProcess::FailedToStart)
            process->deleteLater();
    });
    process->start(gsettingsProgram(), QStringList{verb} + kGnomeKey);
    return process;
}

void askGnome()
{
    if (!gsettingsProgram().isEmpty())
        startGSettings(QStringLiteral("get"));
}

// The first question: KDE's file at once, GNOME's key in the background, and from then on the
// change notices of both.
void startFollowing()
{
    auto& motion = state();
    if (motion.notifier || !QCoreApplication::instance())
        return;
    motion.notifier = new MotionPreferencesNotifier(QCoreApplication::instance());
    motion.kdeWatcher = new QFileSystemWatcher(motion.notifier);
    // The folder is watched for a kdeglobals that appears later.
    if (QFileInfo(configHome()).isDir())
        motion.kdeWatcher->addPath(configHome());
    const auto reread = [] {
        readKde();
        recompute();
    };
    QObject::connect(motion.kdeWatcher, &QFileSystemWatcher::directoryChanged, motion.notifier, reread);
    QObject::connect(motion.kdeWatcher, &QFileSystemWatcher::fileChanged, motion.notifier, reread);
    readKde();
    motion.current = motion.kde.value_or(false);
    // A KDE desktop answers through its file; only elsewhere is GNOME's key followed.
    if (!motion.kde && !gsettingsProgram().isEmpty()) {
        motion.gnomeMonitor = startGSettings(QStringLiteral("monitor"));
        askGnome();
    }
}

} // namespace

MotionPreferencesNotifier::~MotionPreferencesNotifier()
{
    // The monitor runs for the life of the program; it goes with it, without a warning.
    for (QProcess* process : findChildren<QProcess*>()) {
        process->disconnect();
        process->kill();
        process->waitForFinished(1000);
    }
}

bool MotionPreferences::reduceMotion()
{
    auto& motion = state();
    if (motion.testOverride)
        return *motion.testOverride;
    const QByteArray environment = qgetenv("QUILLOMARE_REDUCE_MOTION").trimmed();
    if (environment == "1" || environment == "0")
        return environment == "1";
    startFollowing();
    return motion.current;
}

MotionPreferencesNotifier* MotionPreferences::notifier()
{
    startFollowing();
    return state().notifier;
}

void MotionPreferences::setReduceMotionForTesting(std::optional<bool> reduceMotion)
{
    state().testOverride = reduceMotion;
}

void MotionPreferences::invalidateCache()
{
    auto& motion = state();
    // Not following yet: the first question reads everything anyway.
    if (!motion.notifier)
        return;
    readKde();
    recompute();
    if (motion.gnomeMonitor)
        askGnome();
}

void MotionPreferences::takeGSettingsOutput(const QByteArray& output)
{
    if (const auto value = reduceMotionFromGSettingsOutput(output)) {
        state().gnome = value;
        recompute();
    }
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
    const QList<QByteArray> lines = output.trimmed().split('\n');
    QByteArray value = lines.last().trimmed();
    // `gsettings monitor` prefixes the key's name.
    if (const qsizetype colon = value.lastIndexOf(':'); colon >= 0)
        value = value.mid(colon + 1).trimmed();
    if (value == "false")
        return true;
    if (value == "true")
        return false;
    return std::nullopt;
}

} // namespace Platform
