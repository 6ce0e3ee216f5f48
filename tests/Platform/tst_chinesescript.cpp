#include "TestSupport.h"

#include <Platform/ChineseScript.h>

#include <QtTest>

using Platform::ChineseScript::Form;

namespace {

QStringList characters(const QString& text)
{
    QStringList list;
    for (const uint codePoint : text.toUcs4())
        list.append(QString::fromUcs4(reinterpret_cast<const char32_t*>(&codePoint), 1));
    return list;
}

} // namespace

class TestChineseScript : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase() { QVERIFY2(Platform::ChineseScript::available(), "OpenCC or its tables are missing"); }

    void charactersAreToldApartByScript_data()
    {
        QTest::addColumn<QString>("character");
        QTest::addColumn<Form>("form");
        QTest::newRow("traditional 貼") << QStringLiteral("貼") << Form::traditional;
        QTest::newRow("traditional 體") << QStringLiteral("體") << Form::traditional;
        QTest::newRow("traditional 這") << QStringLiteral("這") << Form::traditional;
        QTest::newRow("simplified 贴") << QStringLiteral("贴") << Form::simplified;
        QTest::newRow("simplified 这") << QStringLiteral("这") << Form::simplified;
        QTest::newRow("simplified 钟") << QStringLiteral("钟") << Form::simplified;
        QTest::newRow("both 中") << QStringLiteral("中") << Form::both;
        QTest::newRow("both 文") << QStringLiteral("文") << Form::both;
        // Traditional text writes these too (這台電腦, 皇后), beside the forms converting gives.
        QTest::newRow("both 台") << QStringLiteral("台") << Form::both;
        QTest::newRow("both 后") << QStringLiteral("后") << Form::both;
        QTest::newRow("letter") << QStringLiteral("A") << Form::both;
        QTest::newRow("punctuation") << QStringLiteral("，") << Form::both;
    }

    void charactersAreToldApartByScript()
    {
        QFETCH(QString, character);
        QFETCH(Form, form);
        QCOMPARE(Platform::ChineseScript::formOf(character), form);
    }

    // One entry per character in, one out, each the form of the character in its place.
    void linesConvertCharacterForCharacter_data()
    {
        QTest::addColumn<QString>("simplified");
        QTest::addColumn<QString>("traditional");
        QTest::newRow("settings") << QStringLiteral("检查软件更新时间") << QStringLiteral("檢查軟件更新時間");
        QTest::newRow("mixed with English")
            << QStringLiteral("下载 Linux 版本，共3个") << QStringLiteral("下載 Linux 版本，共3個");
        QTest::newRow("nothing to change") << QStringLiteral("中文 OK") << QStringLiteral("中文 OK");
    }

    void linesConvertCharacterForCharacter()
    {
        QFETCH(QString, simplified);
        QFETCH(QString, traditional);
        const QStringList traditionalCharacters = Platform::ChineseScript::toTraditional(characters(simplified));
        QCOMPARE(traditionalCharacters.size(), characters(simplified).size());
        QCOMPARE(traditionalCharacters.join(QString()), traditional);
        QCOMPARE(Platform::ChineseScript::toSimplified(characters(traditional)).join(QString()), simplified);
        // Characters already in the script stay as they are.
        QCOMPARE(Platform::ChineseScript::toTraditional(characters(traditional)).join(QString()), traditional);
        QCOMPARE(Platform::ChineseScript::toSimplified(characters(simplified)).join(QString()), simplified);
    }

    // The phrase tables choose a character's form among its neighbours, which one character on
    // its own cannot.
    void phrasesChooseTheFormOfACharacter()
    {
        QCOMPARE(Platform::ChineseScript::toTraditional(characters(QStringLiteral("头发"))).join(QString()),
                 QStringLiteral("頭髮"));
        QCOMPARE(Platform::ChineseScript::toTraditional(characters(QStringLiteral("发送"))).join(QString()),
                 QStringLiteral("發送"));
    }

    // An entry of more than one character (a ligature the engine reads as one symbol) is
    // converted on its own and keeps its place.
    void entriesOfSeveralCharactersKeepTheirPlaces()
    {
        const QStringList mixed{QStringLiteral("设"), QStringLiteral("fi"), QStringLiteral("置")};
        QCOMPARE(Platform::ChineseScript::toTraditional(mixed),
                 (QStringList{QStringLiteral("設"), QStringLiteral("fi"), QStringLiteral("置")}));
        QCOMPARE(Platform::ChineseScript::toTraditional({}), QStringList());
    }
};

QUILLOMARE_TEST_MAIN(TestChineseScript)
#include "tst_chinesescript.moc"
