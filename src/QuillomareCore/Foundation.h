#pragma once

// Small behaviours the rest of the core relies on and Qt does not give in this exact form:
// Unicode trimming, user-perceived characters, UUID and date texts, strict base64, byte counts
// and one clock that tests can set.

#include <QByteArray>
#include <QDateTime>
#include <QSize>
#include <QString>
#include <QUuid>

#include <functional>
#include <optional>

namespace QuillomareCore {

namespace Text {

// Trims white space and line breaks (Unicode separators, tabs, U+0085) at both ends.
QString trimmed(const QString& text);
// Nothing but what trimmed() takes away, told without a trimmed copy of a text of megabytes.
bool isBlank(QStringView text);

// Counts and cuts by grapheme clusters, so an emoji or a combined accent is one character.
qsizetype graphemeCount(const QString& text);
QString graphemePrefix(const QString& text, qsizetype count);

// "Zero KB", "1 byte", "999 bytes", "12 KB", "8.4 MB", "1.23 GB": decimal units, as file sizes are shown.
QString formatByteCount(qint64 bytes);

} // namespace Text

namespace Uuid {

// Upper-case text without braces: "E621E1F8-C36C-495A-93FC-0C247A3E6E5F".
QString text(const QUuid& uuid);
// Accepts exactly the 36-character form above, in any letter case.
std::optional<QUuid> fromText(QStringView text);

} // namespace Uuid

namespace Iso8601 {

// A date moved into years 1 to 9999 (UTC), the only years the text form has four digits for:
// an offset can carry "9999-12-31T23:00:00-05:00" past them, and what is written must read back.
QDateTime clamped(const QDateTime& date);
// "2026-12-06T21:59:38.123Z": UTC with milliseconds; a date outside the years 1 to 9999 is
// written as the nearest date inside them.
QString format(const QDateTime& date);
// Internet date-time with or without fractional seconds; "Z" or a numeric offset. The result is
// clamped() as format() writes it.
std::optional<QDateTime> parse(QStringView text);
std::optional<QDateTime> parse(std::string_view text);

} // namespace Iso8601

namespace Base64 {

void appendEncoded(QByteArray& out, const char* data, qsizetype size);
QByteArray encode(const QByteArray& data);
// Strict: padding required, no white space, nothing but the 64 letters and '=' at the end.
std::optional<QByteArray> decode(std::string_view text);

} // namespace Base64

// The one source of "now" for the core. Times are cut to whole milliseconds so that a date
// written to the history file reads back equal.
namespace Png {

// The width and height a PNG's header chunk gives, read from its first 24 bytes; when `head`
// holds the whole chunk (33 bytes) its depth, colour type and methods must be known ones too.
// Nothing for bytes that do not begin as a PNG or give no size. Enough to tell a picture from
// bytes dressed up as one without decoding it.
std::optional<QSize> headerSize(QByteArrayView head);

} // namespace Png

namespace Clock {

QDateTime now();
void setNowProvider(std::function<QDateTime()> provider);
void resetNowProvider();

} // namespace Clock

} // namespace QuillomareCore
