#pragma once

#include <QString>

namespace QuillomareMac {

// The number of user-perceived characters of a text, for what the island shows about the entry
// in view (chips, the information line, the preview's note). Several of them ask at every
// refresh of the same entry: a text of megabytes is counted once. GUI thread only.
qsizetype cachedGraphemeCount(const QString& text);

} // namespace QuillomareMac
