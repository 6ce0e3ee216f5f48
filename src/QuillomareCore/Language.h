#pragma once

#include <QString>

#include <array>
#include <optional>

namespace QuillomareCore {

class ClipKind;

// The interface language the user chose; the application stores it and acts on it.
enum class AppLanguagePreference
{
    system,
    chinese,
    english
};

namespace AppLanguage {
const std::array<AppLanguagePreference, 3>& allCases();
QString rawValue(AppLanguagePreference preference);
// Exactly "system", "chinese" or "english".
std::optional<AppLanguagePreference> fromRawValue(const QString& rawValue);
} // namespace AppLanguage

// The interface language, asked for by every layer: one flag for the whole life of a process,
// chosen the first time it is read (on any thread), by the rule the application hands in (its
// stored choice) or else by the desktop's first language.
namespace Language {

bool isChinese();
// The Chinese or the English text, by the flag.
inline QString text(const QString& chinese, const QString& english)
{
    return isChinese() ? chinese : english;
}

// The application's rule for the flag. It is called once, when the flag is first read, on
// whichever thread reads it; a text asked for while it runs (the reason its settings cannot be
// read, say) follows the desktop's language. Setting it makes the flag be chosen again at its
// next read. Without one, the desktop's language decides.
void setProvider(bool (*provider)());
// The desktop's first preferred language is Chinese.
bool desktopIsChinese();

// The rule for a first preferred language tag: Chinese exactly when it begins with "zh".
bool isChineseLanguageTag(const QString& firstPreferredLanguage);

// A kind's name in the interface language.
QString localizedDisplayName(ClipKind kind);

// An English count of items: "1 item", "2 items" (the Chinese counts need no plural).
QString englishItems(qint64 count);

// Tests fix the flag; tests of the flag itself reset it so that it is chosen again.
void setIsChineseForTesting(bool isChinese);
void resetForTesting();

} // namespace Language

} // namespace QuillomareCore
