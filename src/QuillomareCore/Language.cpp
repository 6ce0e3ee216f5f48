#include "Language.h"

#include <QLocale>

#include <atomic>

namespace QuillomareCore::Language {

namespace {

bool desktopLanguageIsChinese()
{
    static const bool chinese = [] {
        const QStringList languages = QLocale::system().uiLanguages();
        return !languages.isEmpty() && languages.first().startsWith(QLatin1String("zh"));
    }();
    return chinese;
}

std::atomic<bool (*)()> g_provider{&desktopLanguageIsChinese};

} // namespace

bool isChinese()
{
    return g_provider.load(std::memory_order_acquire)();
}

void setProvider(bool (*provider)())
{
    g_provider.store(provider ? provider : &desktopLanguageIsChinese, std::memory_order_release);
}

} // namespace QuillomareCore::Language
