#pragma once

#include <QList>
#include <QString>
#include <QUrl>

#include <optional>

namespace QuillomareMac {

// What to show in the file manager for an entry's files: all of `urls` selected, or — when there
// is exactly one — that file selected in a window of its folder.
struct ShelfRevealTarget
{
    QList<QUrl> urls;
    std::optional<QString> primaryFilePath;
    std::optional<QString> rootedAtPath;

    friend bool operator==(const ShelfRevealTarget&, const ShelfRevealTarget&) = default;
};

} // namespace QuillomareMac
