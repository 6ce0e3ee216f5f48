#pragma once

// The desktop's workspace on X11 and the session bus. Private to the platform layer and its
// tests; the program reaches it through Workspace::shared().

#include "DesktopEntries.h"
#include "Workspace.h"

#include <QElapsedTimer>
#include <QMutex>
#include <QUrl>

#include <memory>
#include <vector>

namespace Platform {

struct X11WorkspaceOptions
{
    // Qt's own X connection when the application runs on xcb; a private one when there is no
    // QGuiApplication. `alwaysOwn` asks the server over a private connection in any case.
    enum class Connection { qtOrOwn, alwaysOwn };
    Connection connection = Connection::qtOrOwn;
    // The bus name that answers org.freedesktop.FileManager1.
    QString fileManagerService = QStringLiteral("org.freedesktop.FileManager1");
    // The longest a query waits for the X server before it answers nothing.
    int replyTimeoutMs = 250;
    // A window no installed application matches rescans the applications folders (when they
    // changed) at most this often.
    int rescanIntervalMs = 5000;
};

class X11Workspace final : public Workspace
{
public:
    explicit X11Workspace(X11WorkspaceOptions options = {});
    ~X11Workspace() override;
    X11Workspace(const X11Workspace&) = delete;
    X11Workspace& operator=(const X11Workspace&) = delete;

    std::optional<RunningApplication> frontmostApplication() const override;
    // Watches the root window's _NET_ACTIVE_WINDOW over a connection of its own per observer;
    // observers end, silent, with the workspace.
    std::shared_ptr<void> observeActivations(ActivationHandler handler) override;
    bool selectFile(const QString& path, const QString& rootedAtPath) override;
    bool activateFileViewerSelecting(const QList<QUrl>& urls) override;
    bool openURL(const QUrl& url) override;

    // The naming half of frontmostApplication(), for facts gathered elsewhere: goes through the
    // cached index of installed applications exactly as a real query does.
    RunningApplication describeWindow(const DesktopEntries::WindowFacts& facts) const;
    // How many times the applications folders have been read.
    int indexScanCount() const;

private:
    struct X11Connection;
    class ActivationWatcher;

    RunningApplication describeLocked(const DesktopEntries::WindowFacts& facts) const;
    void rebuildIndexLocked(const QStringList& localeKeys) const;
    // Asks the file manager over the bus; opens `fallbackFolder` when it cannot be asked or fails.
    bool showItems(const QStringList& uris, const QUrl& fallbackFolder);
    bool fileManagerAvailable() const;

    X11WorkspaceOptions m_options;
    mutable QMutex m_mutex;
    mutable std::unique_ptr<X11Connection> m_x11;
    mutable DesktopEntries::Index m_index;
    mutable bool m_indexBuilt = false;
    mutable int m_indexScans = 0;
    mutable QElapsedTimer m_sinceIndexCheck;
    std::vector<std::weak_ptr<ActivationWatcher>> m_watchers;
};

} // namespace Platform
