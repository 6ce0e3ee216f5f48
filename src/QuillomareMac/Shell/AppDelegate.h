#pragma once

#include <QuillomareCore/ClipboardStore.h>
#include <QuillomareCore/SensitiveContentDetector.h>

#include <QObject>

#include <memory>

namespace Platform {
class Pasteboard;
class Workspace;
} // namespace Platform

namespace QuillomareMac {

class ClipboardMonitor;

// Owns every long-lived part of the running program, starts them when the application has
// launched and stops them at termination. Parts are made on first use, in the order the launch
// reads them.
class AppDelegate final : public QObject
{
    Q_OBJECT

public:
    // The general pasteboard and the workspace are the system's unless a test passes its own.
    explicit AppDelegate(Platform::Pasteboard* pasteboard = nullptr, Platform::Workspace* workspace = nullptr,
                         QString storeFileURL = QuillomareCore::ClipboardStore::defaultStoreURL(),
                         QObject* parent = nullptr);
    ~AppDelegate() override;

    void applicationDidFinishLaunching();
    void applicationWillTerminate();

    QuillomareCore::ClipboardStore& store();
    ClipboardMonitor& monitor();

    void handleCapture(const QuillomareCore::ClipboardCaptureResult& result);

private:
    Platform::Pasteboard& pasteboard();

    QuillomareCore::SensitiveContentDetector m_detector;
    Platform::Pasteboard* m_pasteboard;
    std::unique_ptr<Platform::Pasteboard> m_ownPasteboard;
    Platform::Workspace* m_workspace;
    const QString m_storeFileURL;
    std::unique_ptr<QuillomareCore::ClipboardStore> m_store;
    std::unique_ptr<ClipboardMonitor> m_monitor;
};

} // namespace QuillomareMac
