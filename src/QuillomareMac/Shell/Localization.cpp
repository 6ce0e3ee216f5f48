#include "Localization.h"

#include "Island/IslandView.h"

#include <Platform/UserDefaults.h>
#include <QuillomareCore/Language.h>

#include <QCoreApplication>
#include <QLibraryInfo>
#include <QLocale>
#include <QProcess>
#include <QTranslator>

namespace QuillomareMac {

namespace L10n {

namespace {

// The stored choice decides the interface language, the core's texts (file errors) included.
bool storedChoiceIsChinese()
{
    switch (preference()) {
    case AppLanguagePreference::chinese:
        return true;
    case AppLanguagePreference::english:
        return false;
    case AppLanguagePreference::system:
        break;
    }
    return QuillomareCore::Language::desktopIsChinese();
}

[[maybe_unused]] const bool g_languageFollowsChoice =
    (QuillomareCore::Language::setProvider(&storedChoiceIsChinese), true);

} // namespace

AppLanguagePreference preference()
{
    const QString stored = Platform::UserDefaults::standard()->value(preferenceKey).toString();
    return AppLanguage::fromRawValue(stored).value_or(AppLanguagePreference::system);
}

void setPreference(AppLanguagePreference preference)
{
    auto defaults = Platform::UserDefaults::standard();
    defaults->setValue(preferenceKey, AppLanguage::rawValue(preference));
    defaults->sync();
}

} // namespace L10n

AppLanguagePreference IslandView::storedLanguagePreference()
{
    return L10n::preference();
}

namespace L10n {

void relaunchToApplyLanguage()
{
    // The new instance ends this one as it starts; a failure to start leaves this one running
    // with the new choice stored for the next launch.
    QProcess::startDetached(QCoreApplication::applicationFilePath(), {});
}

namespace {

// One per process, kept for its whole life, as the language flag is.
QTranslator*& qtTranslator()
{
    static QTranslator* translator = nullptr;
    return translator;
}

} // namespace

bool installQtTranslations()
{
    if (!QuillomareCore::Language::isChinese())
        return true;
    QCoreApplication* application = QCoreApplication::instance();
    if (!application)
        return false;
    QTranslator*& translator = qtTranslator();
    if (translator)
        return true;
    auto* loaded = new QTranslator(application);
    if (!loaded->load(QLocale(QLocale::Chinese, QLocale::China), QStringLiteral("qtbase"), QStringLiteral("_"),
                      QLibraryInfo::path(QLibraryInfo::TranslationsPath))) {
        delete loaded;
        return false;
    }
    QCoreApplication::installTranslator(loaded);
    translator = loaded;
    return true;
}

void removeQtTranslationsForTesting()
{
    QTranslator*& translator = qtTranslator();
    if (!translator)
        return;
    QCoreApplication::removeTranslator(translator);
    delete translator;
    translator = nullptr;
}

} // namespace L10n

} // namespace QuillomareMac
