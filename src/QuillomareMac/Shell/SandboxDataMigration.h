#pragma once

// Brings the data folder of a sandboxed (Flatpak) build over to the folder this build uses, once.
// A Flatpak keeps its data in ~/.var/app/<app id>/data/Quillomare; we keep it in
// ~/.local/share/Quillomare. The shelf file "shelf-sessions.json" decides: a target that has
// one is migrated (or was always ours), a source without one has nothing worth bringing.
//
// The copy lands whole or not at all. Everything is first copied into a hidden working folder
// (".Quillomare.migrating-XXXXXX" beside the target, or inside it when it exists), synced, and
// then renamed into place; working folders of a killed run are deleted at the next start.
// When the target folder already exists (a history file of this build, say), only what it lacks
// is moved in, nothing of it is replaced, and the shelf file comes last: an interrupted or failed
// run leaves no shelf file behind, so the next start tries again. Copies are user-only (folders
// 0700, files 0600) and keep their modification times; links are copied as links and never
// followed; FIFOs, sockets and devices are left out. The source stays where it is.
//
// Runs on the GUI thread at launch, before either store reads its file.

#include <QString>

namespace QuillomareMac::SandboxDataMigration {

// The application ID a sandboxed build ran under.
inline const QString sandboxAppID = QStringLiteral("app.quillomare.Quillomare");

// ~/.var/app/<app id>/data/Quillomare
QString sourceFolder();
// <data folder>/Quillomare; empty when the data folder is unknown.
QString targetFolder();

// Migrates when the target has no shelf file and the source has one; never throws. The outcome
// goes to the log only: "[Quillomare] migrated sandbox data → <target>" or
// "[Quillomare] sandbox data migration skipped: <reason>"; the launch goes on either way.
void migrateIfNeeded();

} // namespace QuillomareMac::SandboxDataMigration
