#pragma once

// Strict readers shared by the records of the history file.

#include <QByteArray>
#include <QDateTime>
#include <QUuid>

namespace QuillomareCore {
namespace Json {
class Value;
}
namespace Coding {

// The upper- or lower-case 36-character UUID text; anything else throws DecodingError.
QUuid decodeUuid(const Json::Value& value, const char* what);
// ISO 8601 internet date-time, with or without fractional seconds; anything else throws
// DecodingError "Invalid ISO8601 date: …".
QDateTime decodeDate(const Json::Value& value, const char* what);
// Bytes written as strict base64 text; anything else throws DecodingError.
QByteArray decodeData(const Json::Value& value, const char* what);

} // namespace Coding
} // namespace QuillomareCore
