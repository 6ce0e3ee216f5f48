#pragma once

// Puts history entries and texts on a pasteboard, and builds what an entry is dragged out as.
//
// Every write keeps the user's clipboard whole: what the pasteboard held is copied first, and a
// write the pasteboard refuses puts that copy back, so a failed copy never leaves the clipboard
// empty or half written. Each function answers whether the pasteboard now holds the new contents.
// GUI thread only.

#include <Platform/Pasteboard.h>
#include <QuillomareCore/ClipboardItem.h>

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>
#include <QUuid>

namespace QuillomareMac {

namespace MacPasteboardWriter {

// One plain-text string. An empty text writes nothing (blanks are text).
bool copyString(const QString& text, Platform::Pasteboard& pasteboard);

// An entry as it was: a link as its URL plus its text, files as file URLs plus their paths, an
// image as PNG plus TIFF. An empty entry writes nothing.
bool copy(const QuillomareCore::ClipboardItem& item, Platform::Pasteboard& pasteboard);

// What the entry is dragged out as: a URL, a text, file URLs, or the file (else the image) of an
// image entry. Nothing for an empty entry.
QList<Platform::PasteboardObject> draggingWriters(const QuillomareCore::ClipboardItem& item);
// The file rule of draggingWriters() for a list of paths: the file URLs of the cleaned paths that
// exist, else one text of the cleaned paths, else nothing.
QList<Platform::PasteboardObject> fileURLDraggingWriters(const QStringList& paths);
// The image rule of draggingWriters() for bytes held apart from an entry.
QList<Platform::PasteboardObject> imageDraggingWriters(const QByteArray& png, const QUuid& itemID);

} // namespace MacPasteboardWriter

} // namespace QuillomareMac
