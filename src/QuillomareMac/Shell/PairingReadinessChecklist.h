#pragma once

#include <QuillomareCore/ClipSettings.h>
#include <QuillomareCore/CloudSyncService.h>

#include <QList>
#include <QString>

#include <optional>

namespace QuillomareMac {

// Where cross-device sync stands, as five checklist items for the preferences window and the
// diagnostics report. Texts follow the interface language at the time of the call.
namespace PairingReadinessChecklist {

enum class State { ready, actionNeeded, verifyOnDevice };

// The Chinese label, which is also the state's stored form: "就绪", "需处理", "真机确认".
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

// Always five items, in a fixed order: capture, the sync switch, signing, the shared container,
// the phone side.
QList<Item> make(const QuillomareCore::ClipSettings& settings, bool captureEnabled,
                 const QuillomareCore::CloudSyncState& cloudState, const std::optional<QString>& cloudEntitlementReason);

// One "- [label] title: detail" line per item, joined by line feeds, none after the last.
QString reportText(const QList<Item>& items);

} // namespace PairingReadinessChecklist

} // namespace QuillomareMac
