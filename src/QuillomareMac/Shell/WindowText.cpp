#include "WindowText.h"

#include <QRegularExpression>

namespace QuillomareMac::WindowText {

QString keepingKeyCombinationsWhole(const QString& text)
{
    // A "+" with a blank on each side between two key names; "a + b" in prose is rare in these
    // windows and is better kept whole too.
    static const QRegularExpression join(QStringLiteral("(?<=\\S) \\+ (?=\\S)"));
    QString result = text;
    return result.replace(join, QStringLiteral("\u00A0+\u00A0"));
}

} // namespace QuillomareMac::WindowText
