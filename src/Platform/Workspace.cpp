#include "Workspace.h"

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

} // namespace Platform
