#pragma once

#include <QSettings>

#include <memory>
#include <optional>

namespace Platform {

// The program's own small preferences (flags and the interface language), kept apart from the
// history file: ~/.config/Quillomare/Quillomare.ini. Keys are used as they are spelled. The
// file and its folder are this user's alone (0600 and 0700), as the history is.
namespace UserDefaults {

QString filePath();
std::unique_ptr<QSettings> standard();
// Why the preferences cannot be kept (their folder cannot be made, say); nothing when they can.
std::optional<QString> unusableReason();
// An absent key reads as false.
bool boolValue(const QString& key);
void setBoolValue(const QString& key, bool value);

} // namespace UserDefaults

} // namespace Platform
