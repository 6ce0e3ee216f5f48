#include "Language.h"

#include "ClipboardItem.h"

#include <QLocale>
#include <QStringList>

#include <atomic>
#include <mutex>

namespace QuillomareCore {

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

namespace Language {

namespace {

enum : int
{
    notComputed = -1,
    english = 0,
    chinese = 1
};
std::atomic<int> g_flag{notComputed};
std::atomic<bool (*)()> g_provider{&desktopIsChinese};
std::mutex g_mutex;
// Set while this thread asks the application for its choice: a text asked for meanwhile must not
// wait for the choice it is part of reading.
thread_local bool t_readingChoice = false;

} // namespace

bool desktopIsChinese()
{
    const QStringList languages = QLocale::system().uiLanguages();
    return isChineseLanguageTag(languages.isEmpty() ? QStringLiteral("en") : languages.first());
}

bool isChinese()
{
    int flag = g_flag.load(std::memory_order_acquire);
    if (flag == notComputed) {
        if (t_readingChoice)
            return desktopIsChinese();
        std::lock_guard lock(g_mutex);
        flag = g_flag.load(std::memory_order_relaxed);
        if (flag == notComputed) {
            t_readingChoice = true;
            const bool answer = g_provider.load(std::memory_order_acquire)();
            t_readingChoice = false;
            flag = answer ? chinese : english;
            g_flag.store(flag, std::memory_order_release);
        }
    }
    return flag == chinese;
}

void setProvider(bool (*provider)())
{
    std::lock_guard lock(g_mutex);
    g_provider.store(provider ? provider : &desktopIsChinese, std::memory_order_release);
    g_flag.store(notComputed, std::memory_order_release);
}

bool isChineseLanguageTag(const QString& firstPreferredLanguage)
{
    return firstPreferredLanguage.startsWith(QLatin1String("zh"));
}

QString localizedDisplayName(ClipKind kind)
{
    return text(kind.localizedName(), kind.displayTitle());
}

QString englishItems(qint64 count)
{
    return count == 1 ? QStringLiteral("1 item") : QStringLiteral("%1 items").arg(count);
}

void setIsChineseForTesting(bool isChinese)
{
    g_flag.store(isChinese ? chinese : english, std::memory_order_release);
}

void resetForTesting()
{
    g_flag.store(notComputed, std::memory_order_release);
}

} // namespace Language

} // namespace QuillomareCore
