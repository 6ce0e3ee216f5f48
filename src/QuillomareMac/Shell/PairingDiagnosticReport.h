#pragma once

#include "Shell/PairingReadinessChecklist.h"

#include <QuillomareCore/ClipSettings.h>
#include <QuillomareCore/CloudSyncService.h>

#include <QDateTime>
#include <QString>

#include <optional>

namespace QuillomareMac {

// The plain-text diagnostics report the preferences window copies for the user to send along:
// this computer's settings and sync state, the shared identifiers, the readiness checklist and
// what the other computers must match. In the interface language at the time of the call.
namespace PairingDiagnosticReport {

// No line feed after the last line. `generatedAt` is written in UTC to the second, e.g.
// "2026-01-01T12:00:00Z".
QString make(const QuillomareCore::ClipSettings& settings, bool captureEnabled,
             const QuillomareCore::CloudSyncState& cloudState, const PairingReadinessChecklist::MachineConditions& machine, const QDateTime& generatedAt);

} // namespace PairingDiagnosticReport

} // namespace QuillomareMac
