#pragma once

// Recording stand-ins for the island and the application object, for tests of the delegate.

#include "Shell/AppPorts.h"

#include <QList>

namespace QuillomareTest {

struct FakeIsland final : QuillomareMac::IslandPort
{
    QuillomareMac::IslandCallbacks actions;
    QList<QuillomareCore::ClipboardItem> items;
    QuillomareCore::CloudSyncState state = QuillomareCore::CloudSyncState::idle();
    std::optional<QString> message;
    int shows = 0, hides = 0, historySwitches = 0, settles = 0, collapses = 0;
    QList<QuillomareCore::CaptureFeedback> echoes;

    QuillomareMac::IslandCallbacks& callbacks() override { return actions; }
    void configure(const QList<QuillomareCore::ClipboardItem>& newItems, const QuillomareCore::CloudSyncState& newState,
                   const std::optional<QString>& newMessage) override
    {
        items = newItems;
        state = newState;
        message = newMessage;
    }
    void configureShelf(const QList<QuillomareMac::ShelfSession>&, const QUuid&, const std::optional<QString>&) override {}
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
};

} // namespace QuillomareTest
