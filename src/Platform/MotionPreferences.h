#pragma once

// The desktop's "reduce motion" choice: animations turned off in GNOME
// (org.gnome.desktop.interface enable-animations false) or KDE (kdeglobals [KDE]
// AnimationDurationFactor=0). Read at each use; the answer is kept for a second so that a burst
// of transitions does not ask the desktop each time.

#include <QByteArray>
#include <QString>

#include <optional>

namespace Platform {

class MotionPreferences
{
public:
    static bool reduceMotion();

    // Tests fix the answer; nullopt goes back to asking the desktop. The environment variable
    // QUILLOMARE_REDUCE_MOTION (1 or 0) fixes it for a developer's run.
    static void setReduceMotionForTesting(std::optional<bool> reduceMotion);
    // Forgets the kept answer.
    static void invalidateCache();

    // The KDE setting in a kdeglobals file: true for a factor of 0, false for another factor,
    // nothing when the file or the key is missing.
    static std::optional<bool> reduceMotionFromKdeGlobals(const QString& path);
    // The output of `gsettings get org.gnome.desktop.interface enable-animations`.
    static std::optional<bool> reduceMotionFromGSettingsOutput(const QByteArray& output);
};

} // namespace Platform
