#pragma once

// Made-up content the developer switches share: entries as a capture would store them and their
// pictures, for the probes and the preview pictures alike.

#include <QuillomareCore/ClipboardItem.h>

#include <QByteArray>
#include <QImage>
#include <QString>

#include <optional>

namespace QuillomareMac::ProbeSupport {

// An entry copied in `source` (none: not known) `minutesAgo` minutes before the core's clock,
// neither private nor pinned, kept for syncing.
QuillomareCore::ClipboardItem sampleEntry(QuillomareCore::ClipKind kind, const QString& preview,
                                          QuillomareCore::ClipboardPayload payload, QString contentHash,
                                          std::optional<QString> source, qint64 minutesAgo);

// The picture as PNG bytes; empty when it cannot be encoded.
QByteArray pngBytes(const QImage& image);

} // namespace QuillomareMac::ProbeSupport
