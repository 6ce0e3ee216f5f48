#pragma once

// The shelf and the pasteboard: turning a drop or a paste into shelf entries, and an entry back
// into what is copied or dragged out.

#include "Shelf/ShelfItem.h"

#include <Platform/Pasteboard.h>
#include <QuillomareCore/SensitiveContentDetector.h>

#include <QList>

namespace QuillomareMac {

namespace ShelfPasteboardReader {

// Reads the first of these the pasteboard offers, in this order: file URLs (one entry per file
// or folder that exists), web links (one per link), an image (PNG kept as it is; TIFF and other
// formats converted to PNG), text (a link when the whole text is one). Text and links that look
// like secrets are flagged and never shown in an entry's title, subtitle or preview. The message
// says what could not be read (files that are gone, an image that does not decode). Never throws.
ShelfReadResult items(const Platform::Pasteboard& pasteboard, const QuillomareCore::SensitiveContentDetector& detector);

} // namespace ShelfPasteboardReader

namespace ShelfPasteboardWriter {

// Copies the entry as the history copies an entry (through its clipboardItem form).
bool copy(const ShelfItem& item, Platform::Pasteboard& pasteboard);
// What the entries are dragged out as, in order: their files, links, texts or image files.
QList<Platform::PasteboardObject> draggingWriters(const QList<ShelfItem>& items);

} // namespace ShelfPasteboardWriter

} // namespace QuillomareMac
