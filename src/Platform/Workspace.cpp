#include "Workspace.h"

#include <algorithm>

namespace Platform {

namespace {
std::shared_ptr<Workspace>& sharedWorkspace()
{
    static std::shared_ptr<Workspace> workspace;
    return workspace;
}
} // namespace

Workspace& Workspace::shared()
{
    auto& workspace = sharedWorkspace();
    if (!workspace)
        workspace = makeSystemWorkspace();
    return *workspace;
}

void Workspace::setSharedForTesting(std::shared_ptr<Workspace> workspace)
{
    sharedWorkspace() = std::move(workspace);
}

// The token is the handler itself: the list only refers to it, so releasing the token is all it
// takes to stop the calls.
std::shared_ptr<void> MemoryWorkspace::observeActivations(ActivationHandler handler)
{
    auto token = std::make_shared<ActivationHandler>(std::move(handler));
    std::erase_if(m_activationHandlers, [](const auto& entry) { return entry.expired(); });
    m_activationHandlers.push_back(token);
    return token;
}

void MemoryWorkspace::activate(const RunningApplication& application)
{
    // A copy: a handler may start or stop observations while it runs.
    const std::vector<std::weak_ptr<ActivationHandler>> handlers = m_activationHandlers;
    for (const auto& entry : handlers) {
        if (const std::shared_ptr<ActivationHandler> handler = entry.lock())
            (*handler)(application);
    }
}

int MemoryWorkspace::activationObserverCount() const
{
    return int(std::count_if(m_activationHandlers.cbegin(), m_activationHandlers.cend(),
                             [](const auto& entry) { return !entry.expired(); }));
}

} // namespace Platform
