#include "Shell/Localization.h"

#include <Platform/UserDefaults.h>
#include <QuillomareCore/Language.h>

#include "TestSupport.h"

using namespace QuillomareMac;
namespace Language = QuillomareCore::Language;

class LocalizationTest : public QObject
{
    Q_OBJECT

private:
    static void store(const QVariant& value)
    {
        auto defaults = Platform::UserDefaults::standard();
        if (value.isValid())
            defaults->setValue(L10n::preferenceKey, value);
        else
            defaults->remove(L10n::preferenceKey);
        defaults->sync();
    }

private Q_SLOTS:
    void cleanup()
    {
        store(QVariant());
        Language::resetForTesting();
        L10n::removeQtTranslationsForTesting();
    }

    // Without Qt's translations, Qt's own buttons and file dialogs stay English in a Chinese
    // interface.
    void testQtsOwnTextsFollowTheInterfaceLanguage()
    {
        Language::setIsChineseForTesting(false);
        QVERIFY(L10n::installQtTranslations());
        QCOMPARE(QCoreApplication::translate("QPlatformTheme", "Cancel"), QStringLiteral("Cancel"));
        Language::setIsChineseForTesting(true);
        QVERIFY(L10n::installQtTranslations());
        QCOMPARE(QCoreApplication::translate("QPlatformTheme", "Cancel"), QStringLiteral("取消"));
        QCOMPARE(QCoreApplication::translate("QFileDialog", "Save As"), QStringLiteral("另存为"));
        // Taken out, Qt speaks English again, and the next install puts them back.
        L10n::removeQtTranslationsForTesting();
        QCOMPARE(QCoreApplication::translate("QPlatformTheme", "Cancel"), QStringLiteral("Cancel"));
        QVERIFY(L10n::installQtTranslations());
        QCOMPARE(QCoreApplication::translate("QPlatformTheme", "Cancel"), QStringLiteral("取消"));
    }

    void testStoredPreferenceIsReadExactly_data()
    {
        QTest::addColumn<QVariant>("stored");
        QTest::addColumn<AppLanguagePreference>("expected");
        QTest::newRow("missing") << QVariant() << AppLanguagePreference::system;
        QTest::newRow("system") << QVariant(QStringLiteral("system")) << AppLanguagePreference::system;
        QTest::newRow("chinese") << QVariant(QStringLiteral("chinese")) << AppLanguagePreference::chinese;
        QTest::newRow("english") << QVariant(QStringLiteral("english")) << AppLanguagePreference::english;
        QTest::newRow("capitalised") << QVariant(QStringLiteral("Chinese")) << AppLanguagePreference::system;
        QTest::newRow("other text") << QVariant(QStringLiteral("zh")) << AppLanguagePreference::system;
    }

    void testStoredPreferenceIsReadExactly()
    {
        QFETCH(QVariant, stored);
        QFETCH(AppLanguagePreference, expected);
        store(stored);
        QCOMPARE(L10n::preference(), expected);
    }

    void testChoosingSystemStoresItsRawValue()
    {
        L10n::setPreference(AppLanguagePreference::english);
        L10n::setPreference(AppLanguagePreference::system);
        QCOMPARE(Platform::UserDefaults::standard()->value(L10n::preferenceKey).toString(), QStringLiteral("system"));
    }

    void testTheFlagFollowsTheStoredChoiceAndThenStaysForTheProcess()
    {
        L10n::setPreference(AppLanguagePreference::chinese);
        QVERIFY(Language::isChinese());
        QCOMPARE(Language::text(QStringLiteral("中"), QStringLiteral("en")), QStringLiteral("中"));

        L10n::setPreference(AppLanguagePreference::english);
        QVERIFY(Language::isChinese()); // fixed until the program starts again

        Language::resetForTesting();
        QVERIFY(!Language::isChinese());
        QCOMPARE(Language::text(QStringLiteral("中"), QStringLiteral("en")), QStringLiteral("en"));
    }

    void testSystemLanguageTags_data()
    {
        QTest::addColumn<QString>("tag");
        QTest::addColumn<bool>("chinese");
        QTest::newRow("simplified, mainland") << QStringLiteral("zh-Hans-CN") << true;
        QTest::newRow("traditional, Taiwan") << QStringLiteral("zh-Hant-TW") << true;
        QTest::newRow("bare zh") << QStringLiteral("zh") << true;
        QTest::newRow("English") << QStringLiteral("en-US") << false;
        QTest::newRow("capital ZH") << QStringLiteral("ZH-CN") << false;
        QTest::newRow("empty list stands for en") << QStringLiteral("en") << false;
    }

    void testSystemLanguageTags()
    {
        QFETCH(QString, tag);
        QFETCH(bool, chinese);
        QCOMPARE(Language::isChineseLanguageTag(tag), chinese);
    }
};

QUILLOMARE_TEST_MAIN(LocalizationTest)
#include "tst_localization.moc"
