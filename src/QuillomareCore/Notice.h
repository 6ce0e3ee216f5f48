#pragma once

// Messages too long to flash whole: a headline the island flashes, and details after it that the
// island's header tooltip and the log keep whole.

#include <QList>
#include <QString>

namespace QuillomareCore {

namespace Notice {

// The headline and, after a paragraph separator, its details.
QString withDetails(const QString& headline, const QString& details);
// What comes before the details: the message itself when it has none.
QString headline(const QString& message);
// The message to be read at leisure: the details below the headline, after a blank line.
QString whole(const QString& message);

// An image a save had to leave out of the history: how the user recognises it, and why it went.
struct RemovedImage
{
    QString description;
    QString reason;
};

// One image is named in a sentence with its reason. More begin with their count and say why in a
// headline short enough to flash; the details name every one, a line each, in the order given.
QString removedImages(const QList<RemovedImage>& images);

} // namespace Notice

} // namespace QuillomareCore
