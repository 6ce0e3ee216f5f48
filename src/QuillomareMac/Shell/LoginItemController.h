#pragma once

#include <QString>

namespace QuillomareMac {

// Launch at login as the desktop knows it: an XDG autostart entry for this executable. Keeps no
// state of its own; the entry is the truth.
namespace LoginItemController {

// ~/.config/autostart/quillomare.desktop (under XDG_CONFIG_HOME when set).
QString autostartFilePath();
// Writes or removes the entry; throws QuillomareCore::FileSystemError naming the path and the cause.
void setEnabled(bool enabled);
enum class Status
{
    notRegistered,
    enabled,
    // The entry is there but the desktop's start-up settings switched it off (Hidden=true or
    // X-GNOME-Autostart-enabled=false): only the user can switch it on again there.
    requiresApproval,
    // The entry starts a program that is not there (moved or removed since it was written).
    notFound,
};

// Whether an entry is there, whatever the desktop made of it since.
bool isRegistered();
// What the entry says now; read from the file on each call, as the desktop may change it at any time.
Status status();
// status() as a short text in the interface language.
QString statusDescription();
// "Launch at login: " and statusDescription(), as one text.
QString statusLine();

} // namespace LoginItemController

} // namespace QuillomareMac
