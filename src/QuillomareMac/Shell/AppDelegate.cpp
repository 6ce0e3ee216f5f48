#include "AppDelegate.h"

#include "Pasteboard/ClipboardMonitor.h"

#include <Platform/PasteboardX11.h>
#include <Platform/Workspace.h>

#include <QLoggingCategory>
#include <QPointer>

Q_LOGGING_CATEGORY(lcShell, "quillomare.shell", QtWarningMsg)

namespace QuillomareMac {

using namespace QuillomareCore;

AppDelegate::AppDelegate(Platform::Pasteboard* pasteboard, Platform::Workspace* workspace, QString storeFileURL,
                         QObject* parent)
    : QObject(parent), m_pasteboard(pasteboard), m_workspace(workspace), m_storeFileURL(std::move(storeFileURL))
{
}

AppDelegate::~AppDelegate() = default;

Platform::Pasteboard& AppDelegate::pasteboard()
{
    if (!m_pasteboard) {
        m_ownPasteboard = std::make_unique<Platform::X11Pasteboard>();
        m_pasteboard = m_ownPasteboard.get();
    }
    return *m_pasteboard;
}

ClipboardStore& AppDelegate::store()
{
    if (!m_store)
        m_store = std::make_unique<ClipboardStore>(m_storeFileURL, ClipSettings{});
    return *m_store;
}

ClipboardMonitor& AppDelegate::monitor()
{
    if (!m_monitor) {
        Platform::Workspace& workspace = m_workspace ? *m_workspace : Platform::Workspace::shared();
        // Made from the pasteboard's count at this moment: what is on it now is never captured.
        m_monitor = std::make_unique<ClipboardMonitor>(pasteboard(), store(), m_detector, workspace);
    }
    return *m_monitor;
}

void AppDelegate::applicationDidFinishLaunching()
{
    // The history store is made (and its file loaded) before the monitor exists.
    store();

    QPointer<AppDelegate> self(this);
    monitor().onCapture = [self](const ClipboardCaptureResult& result) {
        if (self)
            self->handleCapture(result);
    };
    monitor().start();
}

void AppDelegate::applicationWillTerminate()
{
    if (m_monitor)
        m_monitor->stop();
    // Every change is already handed to the writer; quitting waits for the last write.
    if (m_store)
        m_store->waitForPendingSaves();
}

void AppDelegate::handleCapture(const ClipboardCaptureResult& result)
{
    if (!result.item)
        return;
    try {
        store().add(*result.item);
    } catch (const Error& error) {
        // Never log what was copied; the reason is enough.
        qCWarning(lcShell) << "capture not saved:" << error.localizedDescription();
        return;
    }
    store().whenSaved([](const std::optional<QString>& error) {
        if (error)
            qCWarning(lcShell) << "capture not saved:" << *error;
    });
}

} // namespace QuillomareMac
