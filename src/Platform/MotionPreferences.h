#pragma once

// The desktop's "reduce motion" choice: animations turned off in GNOME
// (org.gnome.desktop.interface enable-animations false) or KDE (kdeglobals [KDE]
// AnimationDurationFactor=0).
//
// The answer is read once and then followed through the desktop's change notices: KDE's file is
// watched, GNOME's key is followed by a `gsettings monitor` child process and first read by an
// asynchronous `gsettings get`. Asking never starts a process and never waits: the island asks
// at every transition, on the GUI thread, which must keep serving a clipboard it may own.

#include <QByteArray>
#include <QObject>
#include <QString>

#include <optional>

namespace Platform {

class MotionPreferencesNotifier : public QObject
{
    Q_OBJECT

public:
    using QObject::QObject;
    ~MotionPreferencesNotifier() override;

Q_SIGNALS:
    void changed(bool reduceMotion);
};

class MotionPreferences
{
public:
    // The kept answer; the first call starts following the desktop (it needs the application
    // object). Until GNOME's first answer arrives, motion is on.
    static bool reduceMotion();

    // Tells whenever the followed answer changes; null without an application object.
    static MotionPreferencesNotifier* notifier();

    // Tests fix the answer; nullopt goes back to the desktop's. The environment variable
    // QUILLOMARE_REDUCE_MOTION (1 or 0) fixes it for a developer's run.
    static void setReduceMotionForTesting(std::optional<bool> reduceMotion);
    // Reads KDE's file again and asks GNOME again (asynchronously).
    static void invalidateCache();
    // What a `gsettings monitor` or `gsettings get` printed, as if the desktop had just said it.
    static void takeGSettingsOutput(const QByteArray& output);

    // The KDE setting in a kdeglobals file: true for a factor of 0, false for another factor,
    // nothing when the file or the key is missing.
    static std::optional<bool> reduceMotionFromKdeGlobals(const QString& path);
    // The output of `gsettings get org.gnome.desktop.interface enable-animations` ("false"), or a
    // line of `gsettings monitor` on that key ("enable-animations: false"); the last line counts.
    static std::optional<bool> reduceMotionFromGSettingsOutput(const QByteArray& output);
};

} // namespace Platform
