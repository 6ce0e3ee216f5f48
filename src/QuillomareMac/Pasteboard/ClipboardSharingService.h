#pragma once

// Hands an entry to the nearby-device service (KDE Connect on this desktop).

#include <Platform/Pasteboard.h>
#include <QuillomareCore/ClipboardItem.h>

#include <QList>

namespace QuillomareMac {

namespace ClipboardSharingService {

// What the entry is shared as: its image, the files that still exist (else their paths as one
// text), its URL or its trimmed text. Nothing for an empty entry.
QList<Platform::PasteboardObject> sharingItems(const QuillomareCore::ClipboardItem& item);
// Whether the entry has something to share, known without decoding an image: a history image may
// be megabytes that lie in the history file, and the tiles ask on every change of selection.
bool canShare(const QuillomareCore::ClipboardItem& item);
// Whether an image's first bytes name a format and a size this program can read; the first 64
// bytes are enough for a PNG.
bool imageHeaderIsReadable(QByteArray head);

// False when there is nothing to share or no device to share with; true once the items have
// been handed over (the transfer itself reports nothing back).
bool airDrop(const QuillomareCore::ClipboardItem& item);
// The same for items already made (the shelf's entries share this way too).
bool share(const QList<Platform::PasteboardObject>& items);

} // namespace ClipboardSharingService

} // namespace QuillomareMac
