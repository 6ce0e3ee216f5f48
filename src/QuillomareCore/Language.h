#pragma once

#include <QString>

namespace QuillomareCore {

// The interface language as far as the core's own user-facing texts go (file errors). The
// application hands in its one language flag; without it the desktop's language decides.
namespace Language {

bool isChinese();
// The function that answers isChinese(); it may be called on any thread.
void setProvider(bool (*provider)());
inline QString text(const QString& chinese, const QString& english)
{
    return isChinese() ? chinese : english;
}

} // namespace Language

} // namespace QuillomareCore
