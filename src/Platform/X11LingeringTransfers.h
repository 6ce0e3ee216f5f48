#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace Platform {

// Selection transfers given up while their owner may still write to their window are kept open a
// while, each on its connection to the X server, and only a few at once. When one too many is
// kept, this one is closed: the oldest of the owner that has the most kept, and of owners with as
// many, the one waited on longest. An owner that answers late keeps its one or two while another
// that takes the clipboard again every few milliseconds, and never answers, loses its own.
// `owners` names each kept transfer's owner (its X client), oldest first; it is not empty.
size_t lingeringTransferToClose(const std::vector<uint32_t>& owners);

} // namespace Platform
