#include "Hashing.h"

#include "ClipboardItem.h"
#include "Foundation.h"

#include <QCryptographicHash>

namespace QuillomareCore::ClipHashing {

std::atomic<qint64> hashedByteCountForTesting{0};

QString sha256(const QByteArray& bytes)
{
    hashedByteCountForTesting.fetch_add(bytes.size(), std::memory_order_relaxed);
    return QString::fromLatin1(QCryptographicHash::hash(bytes, QCryptographicHash::Sha256).toHex());
}

QString sha256(const QString& text)
{
    return sha256(text.toUtf8());
}

QString imageContentHash(const QByteArray& bytes)
{
    return sha256(bytes);
}

QString normalizedText(const QString& text)
{
    return Text::trimmed(text);
}

QString textContentHash(const QString& text)
{
    return sha256(QStringLiteral("text:") + normalizedText(text));
}

QString fileContentHash(const QStringList& paths)
{
    return sha256(QStringLiteral("files:") + paths.join(QLatin1Char('\n')));
}

QString payloadContentHash(const ClipboardPayload& payload)
{
    switch (payload.caseOf()) {
    case ClipboardPayload::Case::text:
        return textContentHash(payload.textValue());
    case ClipboardPayload::Case::fileURLs:
        return fileContentHash(payload.fileURLsValue());
    case ClipboardPayload::Case::imagePNG:
        if (QString known = payload.imagePNGContentHash(); !known.isEmpty())
            return known;
        return imageContentHash(payload.imagePNGValue());
    case ClipboardPayload::Case::empty:
        break;
    }
    return QString();
}

} // namespace QuillomareCore::ClipHashing
