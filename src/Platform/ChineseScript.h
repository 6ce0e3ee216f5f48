#pragma once

#include <QString>
#include <QStringList>

namespace Platform::ChineseScript {

// Which of the two Chinese scripts a character belongs to: only to the traditional one (貼, 這),
// only to the simplified one (贴, 这), or to both (中, 文, and 台 or 后, which traditional text
// writes too). Told by OpenCC's character tables: a character is of one script only when the
// table converting from it has other forms for it and not itself among them.
enum class Form
{
    both,
    simplified,
    traditional,
};

Form formOf(const QString& character);

// The characters in the other script, one for one: a list of the same length, each entry the
// form of the character in its place. Converted as one text, so that OpenCC's phrase tables pick
// the form a character takes among its neighbours (发 in 头发 is 髮, in 发送 發); where the text
// converts into another number of characters, each character is converted on its own. Characters
// already in the script, and whatever is not Chinese, stay as they are.
QStringList toTraditional(const QStringList& characters);
QStringList toSimplified(const QStringList& characters);

// Whether OpenCC and its tables are there. Without them every character is of both scripts and
// conversions change nothing.
bool available();

} // namespace Platform::ChineseScript
