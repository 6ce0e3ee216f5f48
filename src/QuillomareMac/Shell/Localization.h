#pragma once

#include <QuillomareCore/ClipboardItem.h>

#include <QString>

#include <array>
#include <optional>

namespace QuillomareMac {

enum class AppLanguagePreference { system, chinese, english };

namespace AppLanguage {
const std::array<AppLanguagePreference, 3>& allCases();
QString rawValue(AppLanguagePreference preference);
// Exactly "system", "chinese" or "english".
std::optional<AppLanguagePreference> fromRawValue(const QString& rawValue);
} // namespace AppLanguage

// The interface language: one flag for the whole life of a process, chosen from the stored
// preference (or the desktop's first language) the first time it is read.
namespace L10n {

inline const QString preferenceKey = QStringLiteral("quillomare.language.preference");

AppLanguagePreference preference();
void setPreference(AppLanguagePreference preference);

bool isChinese();
// The Chinese or the English text, by the flag.
inline QString text(const QString& chinese, const QString& english)
{
    return isChinese() ? chinese : english;
}

// Starts a new instance of the program (which ends this one) and returns at once.
void relaunchToApplyLanguage();

// Qt's own texts (standard buttons, the file dialog) in the interface language: loads Qt's
// translations for Chinese into the running application. True when they are in place (always
// for English, whose texts Qt carries itself); false when Qt's translation files are missing.
bool installQtTranslations();
// Takes them out again, so that a test's Chinese texts do not outlast it.
void removeQtTranslationsForTesting();

// A kind's name in the interface language.
QString localizedDisplayName(QuillomareCore::ClipKind kind);

// An English count of items: "1 item", "2 items" (the Chinese counts need no plural).
QString englishItems(qint64 count);

// Tests fix the flag; tests of the flag itself reset it so that it is computed again.
void setIsChineseForTesting(bool isChinese);
void resetForTesting();
// The rule for a first preferred language tag: Chinese exactly when it begins with "zh".
bool isChineseLanguageTag(const QString& firstPreferredLanguage);

} // namespace L10n

} // namespace QuillomareMac
