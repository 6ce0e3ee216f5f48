#pragma once

#include <QuillomareCore/Language.h>

#include <QString>

namespace QuillomareMac {

// The preference is the core's type, so that every layer can name it.
using QuillomareCore::AppLanguagePreference;
namespace AppLanguage = QuillomareCore::AppLanguage;

// The stored interface language preference, and what applies it. The interface language itself
// is QuillomareCore::Language's flag, chosen from this preference (or the desktop's first
// language) the first time it is read.
namespace L10n {

inline const QString preferenceKey = QStringLiteral("quillomare.language.preference");

AppLanguagePreference preference();
void setPreference(AppLanguagePreference preference);

// Starts a new instance of the program (which ends this one) and returns at once.
void relaunchToApplyLanguage();

// Qt's own texts (standard buttons, the file dialog) in the interface language: loads Qt's
// translations for Chinese into the running application. True when they are in place (always
// for English, whose texts Qt carries itself); false when Qt's translation files are missing.
bool installQtTranslations();
// Takes them out again, so that a test's Chinese texts do not outlast it.
void removeQtTranslationsForTesting();

} // namespace L10n

} // namespace QuillomareMac
