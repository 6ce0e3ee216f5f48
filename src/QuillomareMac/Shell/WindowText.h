#pragma once

#include <QString>

namespace QuillomareMac::WindowText {

// `text` as a wrapping label of the auxiliary windows shows it: the blanks around the "+" of a
// key combination ("Ctrl + Alt + V") become non-breaking, so that no line ends inside one.
// Texts that leave the program (the diagnostics report) keep their plain blanks.
QString keepingKeyCombinationsWhole(const QString& text);

} // namespace QuillomareMac::WindowText
