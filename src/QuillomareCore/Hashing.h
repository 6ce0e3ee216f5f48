#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <atomic>

namespace QuillomareCore {

class ClipboardPayload;

// Content identities: 64 lower-case hex digits of SHA-256. Other devices compute the same
// strings for the same content, so the prefixes and the trimming are a shared format.
namespace ClipHashing {

QString textContentHash(const QString& text);      // "text:" + trimmed text
QString fileContentHash(const QStringList& paths); // "files:" + paths joined by line feeds
QString imageContentHash(const QByteArray& bytes); // the bytes, no prefix
QString sha256(const QByteArray& bytes);
QString sha256(const QString& text); // UTF-8, untrimmed, no prefix
QString normalizedText(const QString& text);
// The identity the payload's own case gives it (empty for an empty payload): what a capture of
// that content computes, so an entry from elsewhere can be checked against its payload.
QString payloadContentHash(const ClipboardPayload& payload);

// Tests only: the bytes sha256() has hashed in this process so far.
extern std::atomic<qint64> hashedByteCountForTesting;

} // namespace ClipHashing

} // namespace QuillomareCore
