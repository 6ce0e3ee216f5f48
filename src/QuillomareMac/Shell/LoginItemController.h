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
// Whether an entry is there, whatever the desktop made of it since.
bool isRegistered();
// The entry's state as a short text in the interface language.
QString statusDescription();

} // namespace LoginItemController

} // namespace QuillomareMac
