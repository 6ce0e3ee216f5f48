#pragma once

// Hands an entry to the nearby-device service (KDE Connect on this desktop).

#include <Platform/Pasteboard.h>
#include <QuillomareCore/ClipboardItem.h>

#include <QByteArrayView>
#include <QList>
#include <QSize>

#include <optional>

namespace QuillomareMac {

namespace ClipboardSharingService {

// What the entry is shared as: its image, the files that still exist (else their paths as one
// text), its URL or its trimmed text. Nothing for an empty entry.
QList<Platform::PasteboardObject> sharingItems(const QuillomareCore::ClipboardItem& item);
// Whether the entry has something to share, known without decoding an image: a history image may
// be megabytes that lie in the history file, and the tiles ask on every change of selection.
bool canShare(const QuillomareCore::ClipboardItem& item);
// Whether an image's first bytes name a format and a size this program can read; the first 64
// bytes are enough for a PNG, whatever chunks come before its pixels.
bool imageHeaderIsReadable(QByteArray head);
// A PNG's width and height as its header chunk gives them (its first 24 bytes); nothing for bytes
// that do not begin as a PNG or give no size.
std::optional<QSize> pngImageSize(QByteArrayView head);

// False when there is nothing to share or no device to share with; true once the items have
// been handed over (the transfer itself reports nothing back).
bool airDrop(const QuillomareCore::ClipboardItem& item);
// The same for items already made (the shelf's entries share this way too).
bool share(const QList<Platform::PasteboardObject>& items);
// Whether the nearby-device service is on this machine at all; after a failed share, this tells
// "install it" from "pair a device".
bool serviceIsInstalled();

} // namespace ClipboardSharingService

} // namespace QuillomareMac
