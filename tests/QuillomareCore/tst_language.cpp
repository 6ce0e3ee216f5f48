#include <QuillomareCore/Language.h>

#include <QtTest>

#include "TestSupport.h"

#include <atomic>
#include <thread>
#include <vector>

using namespace QuillomareCore;

namespace {

std::atomic<int> g_providerCalls{0};
std::atomic<bool> g_textWhileReading{false};

bool countedChinese()
{
    ++g_providerCalls;
    // Long enough for the other readers to arrive while the choice is still being read.
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    return true;
}

// Reading the stored choice may itself need a text (the reason the settings cannot be read).
bool chineseAfterAskingForAText()
{
    ++g_providerCalls;
    g_textWhileReading = Language::text(QStringLiteral("中"), QStringLiteral("en")) == QStringLiteral("中");
    return true;
}

} // namespace

// The one language flag every layer asks for: chosen once per process from the application's rule.
class LanguageTest : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init() { g_providerCalls = 0; }
    void cleanup() { Language::setProvider(nullptr); }

    void testReadersOnSeveralThreadsGetOneChoice()
    {
        Language::setProvider(&countedChinese);
        std::atomic<int> chinese{0};
        std::vector<std::thread> readers;
        for (int i = 0; i < 8; ++i)
            readers.emplace_back([&] { chinese += Language::isChinese() ? 1 : 0; });
        for (std::thread& reader : readers)
            reader.join();
        QCOMPARE(chinese.load(), 8);
        QVERIFY(Language::isChinese());
        QCOMPARE(g_providerCalls.load(), 1);
    }

    void testATextAskedForWhileTheChoiceIsReadFollowsTheDesktop()
    {
        Language::setProvider(&chineseAfterAskingForAText);
        QVERIFY(Language::isChinese());
        QCOMPARE(g_textWhileReading.load(), Language::desktopIsChinese());
        QCOMPARE(g_providerCalls.load(), 1);
    }

    void testANewRuleIsAskedAgainAndNoRuleMeansTheDesktop()
    {
        Language::setProvider(&countedChinese);
        QVERIFY(Language::isChinese());
        Language::setProvider(nullptr);
        QCOMPARE(Language::isChinese(), Language::desktopIsChinese());
        Language::setProvider(&countedChinese);
        QVERIFY(Language::isChinese());
        QCOMPARE(g_providerCalls.load(), 2);
    }
};

QUILLOMARE_TEST_MAIN(LanguageTest)
#include "tst_language.moc"
