#pragma once

// Naming the application behind a window from what the desktop has installed: its .desktop
// files and, for sandboxed programs, the Flatpak the process runs in. Nothing here talks to
// the X server; WorkspaceX11.cpp gathers the window's facts and asks this part for a name.

#include "Workspace.h"

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QString>
#include <QStringList>

#include <optional>
#include <utility>

namespace Platform::DesktopEntries {

// What the index keeps of one installed application.
struct DesktopEntry
{
    QString id;
    // Name in the first of the wanted languages the file translates it to, else Name.
    QString name;
    QString startupWMClass;
    // Base name of the program Exec starts ("env VAR=…" skipped); empty for generic launchers.
    QString execProgram;
    bool noDisplay = false;

    friend bool operator==(const DesktopEntry&, const DesktopEntry&) = default;
};

// The keys a Name[…] may carry for the given UI language tags, best first, e.g.
// "zh-Hans-CN" → "zh_CN", "zh"; "sr-RS@latin" → "sr_RS@latin", "sr_RS", "sr@latin", "sr".
QStringList localeKeys(const QStringList& uiLanguages);

// The base name of the program an Exec line starts: quotes undone, a leading `env` and its
// assignments skipped. Empty when there is none.
QString execProgramName(const QString& exec);

// The [Desktop Entry] group of a .desktop file; nullopt unless it describes an application
// that is not hidden (Type absent or Application, Hidden not true).
std::optional<DesktopEntry> parseDesktopEntry(const QByteArray& contents, const QString& id,
                                              const QStringList& localeKeys);

// The desktop-file id of a file below an applications folder: "kde/org.kde.kate.desktop" gives
// "kde-org.kde.kate".
QString desktopFileId(const QString& relativePath);

// $XDG_DATA_HOME/applications, then each $XDG_DATA_DIRS/applications, with the basedir
// defaults when they are unset; in order of precedence.
QStringList applicationFolders();

// The app id of a Flatpak from its sandbox's .flatpak-info ("[Application]", "name=").
std::optional<QString> flatpakIdFromInfo(const QByteArray& flatpakInfo);
// The app id from a /proc/<pid>/cgroup text: the "app-flatpak-<id>-<n>.scope" unit.
std::optional<QString> flatpakIdFromCgroup(const QByteArray& cgroup);

// What the window and its process tell about themselves.
struct WindowFacts
{
    qint64 processIdentifier = 0;
    QString wmInstance;
    QString wmClass;
    // _NET_WM_NAME.
    QString title;
    // The process's executable: the base name of /proc/<pid>/exe, else its comm.
    QString executableName;
    QString flatpakId;
};

// The installed applications, scanned once; lookups are hash lookups.
class Index
{
public:
    Index() = default;

    // Reads every *.desktop below the folders; a file id seen in an earlier folder hides the
    // same id further on, even when the earlier file is hidden or not an application.
    static Index scan(const QStringList& folders, const QStringList& localeKeys);

    const DesktopEntry* byId(const QString& id) const;
    // The entry for a window, by the first rule that finds one: StartupWMClass equals the class
    // (ignoring case); the Exec program is the process's executable; the Exec program is the
    // instance (ignoring case); the file id is the class or the instance (ignoring case). Among
    // several candidates of one rule, a shown entry beats a NoDisplay one, then precedence.
    const DesktopEntry* match(const WindowFacts& facts) const;

    qsizetype size() const { return m_entries.size(); }
    const QStringList& localeKeys() const { return m_localeKeys; }
    // True when a folder scanned (or one of its subfolders) has changed or appeared since.
    bool foldersChanged() const;

private:
    void add(DesktopEntry entry);

    QList<DesktopEntry> m_entries;
    QHash<QString, qsizetype> m_byId;
    QHash<QString, qsizetype> m_byIdFolded;
    QHash<QString, qsizetype> m_byWMClass;
    QHash<QString, qsizetype> m_byProgram;
    QHash<QString, qsizetype> m_byProgramFolded;
    QStringList m_localeKeys;
    QList<std::pair<QString, qint64>> m_folderStamps;
};

// The application as the clipboard reports it. Bundle identifier: the Flatpak id, else the
// matching desktop file's id, else the window class (else its instance). Name: the desktop
// file's, else the window title, else the class.
RunningApplication describe(const WindowFacts& facts, const Index& index);
// The same with an entry already looked up (nullptr when none).
RunningApplication describe(const WindowFacts& facts, const DesktopEntry* entry);

} // namespace Platform::DesktopEntries
