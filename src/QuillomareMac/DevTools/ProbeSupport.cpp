#include "ProbeSupport.h"

#include <QuillomareCore/Foundation.h>

#include <QBuffer>

namespace QuillomareMac::ProbeSupport {

using QuillomareCore::ClipboardItem;

ClipboardItem sampleEntry(QuillomareCore::ClipKind kind, const QString& preview,
                          QuillomareCore::ClipboardPayload payload, QString contentHash, std::optional<QString> source,
                          qint64 minutesAgo)
{
    return ClipboardItem{
        .id = QUuid::createUuid(),
        .createdAt = QuillomareCore::Clock::now().addSecs(-60 * minutesAgo),
        .kind = kind,
        .preview = preview,
        .contentHash = std::move(contentHash),
        .sourceAppName = std::move(source),
        .sourceBundleIdentifier = std::nullopt,
        .sourcePlatform = QuillomareCore::ClipSourcePlatform::mac,
        .isSensitive = false,
        .isLocalOnly = false,
        .isPinned = false,
        .payload = std::move(payload),
    };
}

QByteArray pngBytes(const QImage& image)
{
    QByteArray png;
    QBuffer buffer(&png);
    if (!buffer.open(QIODevice::WriteOnly) || !image.save(&buffer, "PNG"))
        return {};
    return png;
}

} // namespace QuillomareMac::ProbeSupport
