#pragma once

#include <QString>

namespace Platform {

// The user's folders the program keeps its files in. Each answer is the base folder; callers add
// the product folder ("Quillomare") themselves. An empty answer means the folder is unknown.
namespace StandardFolders {

// ~/.local/share (XDG_DATA_HOME): where the history and the shelf live.
QString applicationSupport();
// ~/.cache (XDG_CACHE_HOME): files that may be thrown away, such as dragged-out images.
QString caches();
// The temporary folder ($TMPDIR or /tmp).
QString temporary();

} // namespace StandardFolders

} // namespace Platform
