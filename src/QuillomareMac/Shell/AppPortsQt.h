#pragma once

// The delegate's ports on the real desktop: the island panel and the application object.

#include "Shell/AppPorts.h"

#include <memory>

namespace QuillomareMac {

class IslandPanelController;

class IslandPanelPort final : public IslandPort
{
public:
    IslandPanelPort();
    ~IslandPanelPort() override;

    IslandPanelController& controller() { return *m_controller; }

    IslandCallbacks& callbacks() override;
    void configure(const QList<QuillomareCore::ClipboardItem>& items, const QuillomareCore::CloudSyncState& syncState,
                   const std::optional<QString>& message) override;
    void configureShelf(const QList<ShelfSession>& sessions, const QUuid& selectedSessionID,
                        const std::optional<QString>& message) override;
    void showHistory() override;
    void showShelf() override;
    void show(bool autoHide, bool focusSearch) override;
    void hide() override;
    void collapseIfExpanded() override;
    void flashCaptureEcho(const QuillomareCore::CaptureFeedback& feedback) override;
    void settleCollapsed() override;

private:
    std::unique_ptr<IslandPanelController> m_controller;
};

class ApplicationDesktopPort final : public DesktopPort
{
public:
    bool isModalWindowUp() const override;
    bool confirmClearHistory(qsizetype itemCount) override;
    void quit() override;
    void relaunchToApplyLanguage() override;
    std::optional<QString> promptShelfSessionName(const QString& title, const QString& defaultValue) override;
    void refuseToRun(const QString& title, const QString& detail) override;
};

// A non-modal file dialog; it deletes itself when closed.
class FileDialogSavePanelPort final : public SavePanelPort
{
public:
    void beginSave(const QString& suggestedFileName, std::function<void(const QString& path)> onChosen) override;
};

} // namespace QuillomareMac
