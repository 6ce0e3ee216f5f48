#pragma once

#include <QList>
#include <QString>
#include <QUrl>

#include <functional>
#include <memory>
#include <optional>
#include <vector>

namespace Platform {

// A running application as the clipboard sees it: the application whose window is active.
struct RunningApplication
{
    qint64 processIdentifier = 0;
    // The desktop-file id ("org.kde.kate", a Flatpak's app id), or the window class when no
    // desktop file matches; absent when nothing names it.
    std::optional<QString> bundleIdentifier;
    // The desktop file's Name, else the window's title; absent when unknown.
    std::optional<QString> localizedName;

    friend bool operator==(const RunningApplication&, const RunningApplication&) = default;
};

class Workspace
{
public:
    virtual ~Workspace() = default;

    using ActivationHandler = std::function<void(const RunningApplication&)>;

    // The application of the active window, asked afresh at every call.
    virtual std::optional<RunningApplication> frontmostApplication() const = 0;
    // Calls `handler` on the GUI thread each time the active window becomes one of another
    // application than the last one reported (the application active at the call counts as
    // reported). A moment without an active window is no activation. Observation lasts as long as
    // the returned token; releasing it, even from inside the handler, stops the calls. Call it on
    // the GUI thread.
    [[nodiscard]] virtual std::shared_ptr<void> observeActivations(ActivationHandler handler) = 0;

    // Shows one file selected in a file-manager window of its folder; false when refused.
    virtual bool selectFile(const QString& path, const QString& rootedAtPath) = 0;
    // Shows the given files selected (or their folders opened); false when nothing could be shown.
    virtual bool activateFileViewerSelecting(const QList<QUrl>& urls) = 0;
    virtual bool openURL(const QUrl& url) = 0;

    // The desktop's workspace (X11 and D-Bus); tests put a MemoryWorkspace in its place.
    static Workspace& shared();
    static void setSharedForTesting(std::shared_ptr<Workspace> workspace);
};

// The real one, made by shared() on first use.
std::shared_ptr<Workspace> makeSystemWorkspace();

// Answers what a test sets and records what was asked.
class MemoryWorkspace final : public Workspace
{
public:
    std::optional<RunningApplication> frontmostApplication() const override { return frontmost; }
    std::shared_ptr<void> observeActivations(ActivationHandler handler) override;
    // Calls every live observer's handler with `application`, as the desktop would.
    void activate(const RunningApplication& application);
    int activationObserverCount() const;
    bool selectFile(const QString& path, const QString& rootedAtPath) override
    {
        selectedFiles.append({path, rootedAtPath});
        return acceptsSelectFile;
    }
    bool activateFileViewerSelecting(const QList<QUrl>& urls) override
    {
        viewerSelections.append(urls);
        return acceptsViewerSelections;
    }
    bool openURL(const QUrl& url) override
    {
        openedURLs.append(url);
        return true;
    }

    std::optional<RunningApplication> frontmost;
    bool acceptsSelectFile = true;
    bool acceptsViewerSelections = true; // false: no file manager and no opener, as on a bare session
    QList<std::pair<QString, QString>> selectedFiles;
    QList<QList<QUrl>> viewerSelections;
    QList<QUrl> openedURLs;

private:
    std::vector<std::weak_ptr<ActivationHandler>> m_activationHandlers;
};

} // namespace Platform
