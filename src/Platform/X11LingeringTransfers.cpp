#include "X11LingeringTransfers.h"

#include <algorithm>

namespace Platform {

size_t lingeringTransferToClose(const std::vector<uint32_t>& owners)
{
    const auto keptBy = [&owners](uint32_t owner) { return std::count(owners.cbegin(), owners.cend(), owner); };
    size_t chosen = 0;
    auto most = keptBy(owners.front());
    for (size_t i = 1; i < owners.size(); ++i) {
        if (const auto count = keptBy(owners[i]); count > most) {
            chosen = i;
            most = count;
        }
    }
    return chosen;
}

} // namespace Platform
