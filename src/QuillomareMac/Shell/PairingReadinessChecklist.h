#pragma once

#include <QuillomareCore/ClipSettings.h>
#include <QuillomareCore/CloudSyncService.h>

#include <QList>
#include <QString>

#include <optional>

namespace QuillomareMac {

// Where sync and sharing stand on this machine, as five checklist items for the preferences
// window and the diagnostics report. Texts follow the interface language at the time of the call.
namespace PairingReadinessChecklist {

enum class State { ready, actionNeeded, verifyOnDevice, checking };

// The Chinese label, which is also the state's stored form: "就绪", "需处理", "真机确认",
// "正在检查…".
QString rawValue(State state);
// The label in the interface language.
QString label(State state);

struct Item
{
    QString title;
    State state;
    QString detail;

    friend bool operator==(const Item&, const Item&) = default;
};

// What this machine offers at the moment of the check.
struct MachineConditions
{
    // The container's record folder.
    QString syncFolder;
    // Why the sync folder cannot be used (the build, the container identifier, the folder
    // itself); nothing when it can.
    std::optional<QString> syncFolderProblem;
    // KDE Connect reaches a paired device.
    bool pairedDeviceReachable = false;
    // The program holds its global hot keys.
    bool hotKeyRegistered = false;
    // Whether a paired device is in reach is still being asked; `pairedDeviceReachable` means
    // nothing meanwhile.
    bool pairedDeviceChecking = false;
    // KDE Connect is on this machine at all; without it there is nothing to pair.
    bool sharingServiceInstalled = true;
};

// The record folder of `containerIdentifier` under `recordsRoot` and whether it can be used: the
// build must allow the container, the identifier must name a folder, and the folder (or, while
// it does not exist yet, the nearest folder above it) must be writable. Touches no file.
MachineConditions syncFolderConditions(const QString& containerIdentifier, const QString& recordsRoot);

// Always five items, in a fixed order: capture, the sync switch, the sync folder, the paired
// device, the hot key.
QList<Item> make(const QuillomareCore::ClipSettings& settings, bool captureEnabled,
                 const QuillomareCore::CloudSyncState& cloudState, const MachineConditions& machine);

// One "- [label] title: detail" line per item, joined by line feeds, none after the last.
QString reportText(const QList<Item>& items);

} // namespace PairingReadinessChecklist

} // namespace QuillomareMac
