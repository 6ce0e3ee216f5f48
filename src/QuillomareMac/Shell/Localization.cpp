#include "Localization.h"

#include <Platform/UserDefaults.h>
#include <QuillomareCore/Language.h>

#include <QCoreApplication>
#include <QLibraryInfo>
#include <QLocale>
#include <QProcess>
#include <QTranslator>

#include <atomic>
#include <mutex>

namespace QuillomareMac {

const std::array<AppLanguagePreference, 3>& AppLanguage::allCases()
{
    static constexpr std::array<AppLanguagePreference, 3> cases{
        AppLanguagePreference::system, AppLanguagePreference::chinese, AppLanguagePreference::english};
    return cases;
}

QString AppLanguage::rawValue(AppLanguagePreference preference)
{
    switch (preference) {
    case AppLanguagePreference::chinese:
        return QStringLiteral("chinese");
    case AppLanguagePreference::english:
        return QStringLiteral("english");
    case AppLanguagePreference::system:
        break;
    }
    return QStringLiteral("system");
}

std::optional<AppLanguagePreference> AppLanguage::fromRawValue(const QString& rawValue)
{
    for (AppLanguagePreference preference : allCases()) {
        if (AppLanguage::rawValue(preference) == rawValue)
            return preference;
    }
    return std::nullopt;
}

namespace L10n {

namespace {

enum : int { notComputed = -1, english = 0, chinese = 1 };
std::atomic<int> g_flag{notComputed};
std::mutex g_mutex;
// Set while this thread reads the stored choice: a text asked for meanwhile (the reason the
// settings folder cannot be made, say) must not wait for the choice it is part of reading.
thread_local bool t_readingChoice = false;
// The core's few texts (file errors) follow the same flag.
[[maybe_unused]] const bool g_coreFollows = (QuillomareCore::Language::setProvider(&isChinese), true);

bool systemIsChinese()
{
    const QStringList languages = QLocale::system().uiLanguages();
    return isChineseLanguageTag(languages.isEmpty() ? QStringLiteral("en") : languages.first());
}

bool computeIsChinese()
{
    switch (preference()) {
    case AppLanguagePreference::chinese:
        return true;
    case AppLanguagePreference::english:
        return false;
    case AppLanguagePreference::system:
        break;
    }
    return systemIsChinese();
}

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

bool isChinese()
{
    int flag = g_flag.load(std::memory_order_acquire);
    if (flag == notComputed) {
        if (t_readingChoice)
            return systemIsChinese();
        std::lock_guard lock(g_mutex);
        flag = g_flag.load(std::memory_order_relaxed);
        if (flag == notComputed) {
            t_readingChoice = true;
            const bool answer = computeIsChinese();
            t_readingChoice = false;
            flag = answer ? chinese : english;
            g_flag.store(flag, std::memory_order_release);
        }
    }
    return flag == chinese;
}

bool isChineseLanguageTag(const QString& firstPreferredLanguage)
{
    return firstPreferredLanguage.startsWith(QLatin1String("zh"));
}

void relaunchToApplyLanguage()
{
    // The new instance ends this one as it starts; a failure to start leaves this one running
    // with the new choice stored for the next launch.
    QProcess::startDetached(QCoreApplication::applicationFilePath(), {});
}

QString englishItems(qint64 count)
{
    return count == 1 ? QStringLiteral("1 item") : QStringLiteral("%1 items").arg(count);
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
    if (!isChinese())
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

QString localizedDisplayName(QuillomareCore::ClipKind kind)
{
    return text(kind.localizedName(), kind.displayTitle());
}

void setIsChineseForTesting(bool isChinese)
{
    g_flag.store(isChinese ? chinese : english, std::memory_order_release);
}

void resetForTesting()
{
    g_flag.store(notComputed, std::memory_order_release);
}

} // namespace L10n

} // namespace QuillomareMac
