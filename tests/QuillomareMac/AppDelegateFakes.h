#pragma once

// Recording stand-ins for the island and the application object, for tests of the delegate.

#include "Shell/AppDelegate.h"
#include "Shell/AppPorts.h"

#include <Platform/GlobalHotKeys.h>
#include <Platform/InstanceRegistry.h>
#include <QuillomareCore/CloudSyncService.h>

#include <QDir>
#include <QList>

namespace QuillomareTest {

struct FakeIsland final : QuillomareMac::IslandPort
{
    QuillomareMac::IslandCallbacks actions;
    QList<QuillomareCore::ClipboardItem> items;
    QuillomareCore::CloudSyncState state = QuillomareCore::CloudSyncState::idle();
    std::optional<QString> message;
    QStringList messages; // every message handed over, in order
    int shows = 0, hides = 0, historySwitches = 0, settles = 0, collapses = 0;
    QList<QuillomareCore::CaptureFeedback> echoes;

    QuillomareMac::IslandCallbacks& callbacks() override { return actions; }
    void configure(const QList<QuillomareCore::ClipboardItem>& newItems, const QuillomareCore::CloudSyncState& newState,
                   const std::optional<QString>& newMessage) override
    {
        items = newItems;
        state = newState;
        message = newMessage;
        if (newMessage)
            messages.append(*newMessage);
    }
    // The shelf as last handed over; like the island, a message stays until a new one comes.
    QList<QuillomareMac::ShelfSession> shelfSessions;
    QUuid selectedShelfSessionID;
    std::optional<QString> shelfMessage;
    int shelfConfigures = 0, shelfSwitches = 0;
    void configureShelf(const QList<QuillomareMac::ShelfSession>& sessions, const QUuid& selectedID,
                        const std::optional<QString>& newMessage) override
    {
        shelfSessions = sessions;
        selectedShelfSessionID = selectedID;
        if (newMessage && !newMessage->isEmpty())
            shelfMessage = newMessage;
        ++shelfConfigures;
    }
    void showShelf() override { ++shelfSwitches; }
    void showHistory() override { ++historySwitches; }
    void show(bool, bool) override { ++shows; }
    void hide() override { ++hides; }
    void collapseIfExpanded() override { ++collapses; }
    void flashCaptureEcho(const QuillomareCore::CaptureFeedback& feedback) override { echoes.append(feedback); }
    void settleCollapsed() override { ++settles; }
};

struct FakeDesktop final : QuillomareMac::DesktopPort
{
    bool answer = true;
    QList<qsizetype> confirmations;
    int quits = 0, relaunches = 0;

    bool isModalWindowUp() const override { return false; }
    bool confirmClearHistory(qsizetype count) override
    {
        confirmations.append(count);
        return answer;
    }
    void quit() override { ++quits; }
    void relaunchToApplyLanguage() override { ++relaunches; }
    // The name a user would type (nothing: Cancel), and the questions asked (title, default).
    std::optional<QString> sessionName;
    QList<std::pair<QString, QString>> namePrompts;
    std::optional<QString> promptShelfSessionName(const QString& title, const QString& defaultValue) override
    {
        namePrompts.append({title, defaultValue});
        return sessionName;
    }
    // Each refusal to run: its title and detail.
    QList<std::pair<QString, QString>> refusals;
    void refuseToRun(const QString& title, const QString& detail) override { refusals.append({title, detail}); }
};

// A save dialog the test answers: `choose` is the user picking a path.
struct FakeSavePanel final : QuillomareMac::SavePanelPort
{
    QStringList suggestedNames;
    std::function<void(const QString&)> pending;

    void beginSave(const QString& suggestedFileName, std::function<void(const QString&)> onChosen) override
    {
        suggestedNames.append(suggestedFileName);
        pending = std::move(onChosen);
    }
    void choose(const QString& path) { std::exchange(pending, nullptr)(path); }
};

// A delegate's parts for a test, all in memory or in `folder`: the given pasteboard and workspace,
// no other instance, in-memory hot keys, the history and shelf files in `folder`/Quillomare, a
// FakeIsland (handed to `*island` when the delegate makes it), a FakeDesktop and sync off.
// Tests replace the parts they watch.
inline QuillomareMac::AppDelegateEnvironment fakeDelegateEnvironment(const QString& folder,
                                                                     Platform::Pasteboard& pasteboard,
                                                                     Platform::Workspace& workspace,
                                                                     FakeIsland** island = nullptr)
{
    QuillomareMac::AppDelegateEnvironment environment;
    environment.pasteboard = &pasteboard;
    environment.workspace = &workspace;
    environment.instances = std::make_shared<Platform::MemoryInstanceRegistry>();
    environment.hotKeys = std::make_shared<Platform::MemoryGlobalHotKeys>();
    environment.storeFileURL = QDir(folder).filePath(QStringLiteral("Quillomare/clips.json"));
    environment.shelfFileURL = QDir(folder).filePath(QStringLiteral("Quillomare/shelf-sessions.json"));
    environment.makeIsland = [island] {
        auto made = std::make_unique<FakeIsland>();
        if (island)
            *island = made.get();
        return made;
    };
    environment.desktop = std::make_shared<FakeDesktop>();
    environment.makeSyncService = [](const QuillomareCore::ClipSettings&) {
        return std::shared_ptr<QuillomareCore::CloudSyncing>(
            std::make_shared<QuillomareCore::LocalOnlyCloudSyncService>(QStringLiteral("Folder sync is off")));
    };
    return environment;
}

} // namespace QuillomareTest
