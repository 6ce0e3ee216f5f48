#include <QuillomareCore/ClipSettings.h>
#include <QuillomareCore/Json.h>

#include "TestSupport.h"

using namespace QuillomareCore;
using namespace QuillomareTest;
using namespace Qt::StringLiterals;

namespace {

ClipSettings decodeSettings(const QByteArray& json)
{
    const auto doc = Json::Document::parse(json);
    return ClipSettings::decode(doc.root());
}

QByteArray encodeSettings(const ClipSettings& settings)
{
    return Json::writeToByteArray([&](Json::Writer& w) { settings.encode(w); });
}

} // namespace

class ClipSettingsTest : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void defaults()
    {
        const ClipSettings settings;
        QCOMPARE(settings, ClipSettings::make(200, true, true, false, false, std::nullopt,
                                              ClipDefaults::ignoredSourceBundleIdentifiers(), false, true, true, false));
        QCOMPARE(settings.effectiveMaxHistoryCount(), qsizetype(200));
    }

    void memberwiseNormalizesOnlyTheIgnoreList()
    {
        const ClipSettings s = ClipSettings::make(-3, false, false, true, true, u"  iCloud.custom \n"_s,
                                                  {u" Com.Example.A "_s, u"com.example.a"_s, u""_s},
                                                  true, false, false, true);
        QCOMPARE(s.maxHistoryCount, qint64(-3));
        QVERIFY(!s.ignoreSensitiveContent && !s.markSensitiveLocalOnly && s.cloudSyncEnabled && s.syncRichContentToICloud);
        QCOMPARE(s.cloudContainerIdentifier, std::optional(u"  iCloud.custom \n"_s));
        QCOMPARE(s.ignoredSourceBundleIdentifiers, QStringList{u"Com.Example.A"_s});
        QVERIFY(s.showIslandAfterCapture && !s.smartCopyEchoEnabled && !s.hotKeyEnabled && s.launchAtLoginEnabled);
    }

    void normalizedBundleIdentifiers_data()
    {
        QTest::addColumn<QStringList>("input");
        QTest::addColumn<QStringList>("expected");

        QTest::newRow("blanks, case duplicates and empties")
            << QStringList{u"  Com.Example.App \t"_s, u"com.example.app"_s, QString(), u"\n"_s}
            << QStringList{u"Com.Example.App"_s};
        QTest::newRow("order and first spelling kept")
            << QStringList{u"b.two"_s, u"A.one"_s, u"B.TWO"_s, u"a.one"_s, u"c.three"_s}
            << QStringList{u"b.two"_s, u"A.one"_s, u"c.three"_s};
        QTest::newRow("Unicode blanks trimmed")
            << QStringList{u"\u3000com.a\u00A0"_s, u"\u2028com.b"_s} << QStringList{u"com.a"_s, u"com.b"_s};
        QTest::newRow("inner blanks kept") << QStringList{u" com .a "_s, u"com.a"_s}
                                           << QStringList{u"com .a"_s, u"com.a"_s};
        QTest::newRow("the default list is clean")
            << ClipDefaults::ignoredSourceBundleIdentifiers() << ClipDefaults::ignoredSourceBundleIdentifiers();
        QTest::newRow("empty") << QStringList() << QStringList();
    }

    void normalizedBundleIdentifiers()
    {
        QFETCH(QStringList, input);
        QFETCH(QStringList, expected);
        QCOMPARE(ClipSettings::normalizedBundleIdentifiers(input), expected);
    }

    void resolvedCloudContainer_data()
    {
        QTest::addColumn<std::optional<QString>>("stored");
        QTest::addColumn<QString>("expected");

        QTest::newRow("absent") << std::optional<QString>() << ClipDefaults::cloudContainerIdentifier;
        QTest::newRow("empty") << std::optional(QString()) << ClipDefaults::cloudContainerIdentifier;
        QTest::newRow("blanks only") << std::optional(u" \t\n\u3000"_s) << ClipDefaults::cloudContainerIdentifier;
        QTest::newRow("blanks around a name") << std::optional(u"  iCloud.org.other\n"_s) << u"iCloud.org.other"_s;
        QTest::newRow("clean name") << std::optional(u"iCloud.org.other"_s) << u"iCloud.org.other"_s;
    }

    void resolvedCloudContainer()
    {
        QFETCH(std::optional<QString>, stored);
        QFETCH(QString, expected);
        ClipSettings settings;
        settings.cloudContainerIdentifier = stored;
        QCOMPARE(settings.resolvedCloudContainerIdentifier(), expected);
        // Reading it never changes what is stored.
        QCOMPARE(settings.cloudContainerIdentifier, stored);
    }

    void ignoresSourceApp_data()
    {
        QTest::addColumn<std::optional<QString>>("identifier");
        QTest::addColumn<bool>("ignored");

        QTest::newRow("exact") << std::optional(u"com.lastpass.LastPass"_s) << true;
        QTest::newRow("capitals with blank and line feed") << std::optional(u" COM.LASTPASS.LASTPASS\n"_s) << true;
        QTest::newRow("lower case") << std::optional(u"com.apple.passwords"_s) << true;
        QTest::newRow("absent") << std::optional<QString>() << false;
        QTest::newRow("empty") << std::optional(QString()) << false;
        QTest::newRow("blanks only") << std::optional(u" \n"_s) << false;
        QTest::newRow("prefix of a listed one") << std::optional(u"com.lastpass"_s) << false;
        QTest::newRow("listed one extended") << std::optional(u"com.bitwarden.desktop.helper"_s) << false;
        QTest::newRow("other app") << std::optional(u"org.gnome.TextEditor"_s) << false;
        // Password managers as the Linux workspace names them: desktop file, window class, Flatpak.
        QTest::newRow("KeePassXC package") << std::optional(u"org.keepassxc.KeePassXC"_s) << true;
        QTest::newRow("KeePassXC window class") << std::optional(u"KeePassXC"_s) << true;
        QTest::newRow("1Password package") << std::optional(u"1password"_s) << true;
        QTest::newRow("Bitwarden window class") << std::optional(u"Bitwarden"_s) << true;
        QTest::newRow("Bitwarden Flatpak") << std::optional(u"com.bitwarden.desktop"_s) << true;
    }

    void ignoresSourceApp()
    {
        QFETCH(std::optional<QString>, identifier);
        QFETCH(bool, ignored);
        QCOMPARE(ClipSettings().ignoresSourceApp(identifier), ignored);
    }

    void jsonRoundTrip()
    {
        const ClipSettings defaults;
        QCOMPARE(decodeSettings(encodeSettings(defaults)), defaults);

        const ClipSettings custom = ClipSettings::make(
            37, false, false, true, true, u" iCloud.org.other \n"_s,
            {u"Org.Example.\"Quoted\""_s, u"com.例子.app"_s}, true, false, false, true);
        QCOMPARE(decodeSettings(encodeSettings(custom)), custom);

        // Every field is written under its own name; an absent container is left out.
        const auto doc = Json::Document::parse(encodeSettings(defaults));
        QStringList keys;
        doc.root().forEachMember([&](std::string_view key, const Json::Value&) {
            keys.append(QString::fromUtf8(key.data(), qsizetype(key.size())));
        });
        keys.sort();
        QCOMPARE(keys, (QStringList{u"cloudSyncEnabled"_s, u"hotKeyEnabled"_s, u"ignoreSensitiveContent"_s,
                                    u"ignoredSourceBundleIdentifiers"_s, u"launchAtLoginEnabled"_s,
                                    u"markSensitiveLocalOnly"_s, u"maxHistoryCount"_s, u"showIslandAfterCapture"_s,
                                    u"smartCopyEchoEnabled"_s, u"syncRichContentToICloud"_s}));
        QVERIFY(encodeSettings(custom).contains("\"cloudContainerIdentifier\""));
    }

    void tolerantDecoding()
    {
        QCOMPARE(decodeSettings("{}"), ClipSettings());

        ClipSettings hotKeysOff;
        hotKeysOff.hotKeyEnabled = false;
        QCOMPARE(decodeSettings(R"({"hotKeyEnabled":false})"), hotKeysOff);

        // Nulls and unknown keys read as missing.
        QCOMPARE(decodeSettings(R"({"maxHistoryCount":null,"ignoredSourceBundleIdentifiers":null,"theme":"dark"})"),
                 ClipSettings());

        const ClipSettings emptyList = decodeSettings(R"({"ignoredSourceBundleIdentifiers":[]})");
        QCOMPARE(emptyList.ignoredSourceBundleIdentifiers, QStringList());
        QVERIFY(!emptyList.ignoresSourceApp(u"com.lastpass.LastPass"_s));

        const ClipSettings fromFile =
            decodeSettings(R"({"ignoredSourceBundleIdentifiers":[" Org.A ","org.a","","org.b"],
                               "cloudContainerIdentifier":"  iCloud.x  ","maxHistoryCount":50.0})");
        QCOMPARE(fromFile.ignoredSourceBundleIdentifiers, (QStringList{u"Org.A"_s, u"org.b"_s}));
        QCOMPARE(fromFile.cloudContainerIdentifier, std::optional(u"  iCloud.x  "_s));
        QCOMPARE(fromFile.maxHistoryCount, qint64(50));

        // A hand-edited negative count is kept as read; the store trims as the default does.
        const ClipSettings negative = decodeSettings(R"({"maxHistoryCount":-5})");
        QCOMPARE(negative.maxHistoryCount, qint64(-5));
        QCOMPARE(negative.effectiveMaxHistoryCount(), qsizetype(200));
        QCOMPARE(decodeSettings(R"({"maxHistoryCount":0})").effectiveMaxHistoryCount(), qsizetype(0));
        QCOMPARE(decodeSettings(R"({"maxHistoryCount":100000})").effectiveMaxHistoryCount(), qsizetype(100000));
    }

    void strictDecoding_data()
    {
        QTest::addColumn<QByteArray>("json");

        QTest::newRow("not an object") << QByteArray("[]");
        QTest::newRow("count as a string") << QByteArray(R"({"maxHistoryCount":"200"})");
        QTest::newRow("count with a fraction") << QByteArray(R"({"maxHistoryCount":200.5})");
        QTest::newRow("count as a bool") << QByteArray(R"({"maxHistoryCount":true})");
        QTest::newRow("container as a number") << QByteArray(R"({"cloudContainerIdentifier":5})");
        QTest::newRow("ignore list as a string") << QByteArray(R"({"ignoredSourceBundleIdentifiers":"com.a"})");
        QTest::newRow("ignore list with a number") << QByteArray(R"({"ignoredSourceBundleIdentifiers":["com.a",1]})");
        QTest::newRow("ignore list with a null") << QByteArray(R"({"ignoredSourceBundleIdentifiers":[null]})");

        for (const char* key : {"ignoreSensitiveContent", "markSensitiveLocalOnly", "cloudSyncEnabled",
                                "syncRichContentToICloud", "showIslandAfterCapture", "smartCopyEchoEnabled",
                                "hotKeyEnabled", "launchAtLoginEnabled"}) {
            QTest::addRow("%s as a string", key) << (QByteArray("{\"") + key + "\":\"false\"}");
            QTest::addRow("%s as a number", key) << (QByteArray("{\"") + key + "\":0}");
        }
    }

    void strictDecoding()
    {
        QFETCH(QByteArray, json);
        QVERIFY_THROWS_EXCEPTION(DecodingError, decodeSettings(json));
    }
};

QUILLOMARE_TEST_MAIN(ClipSettingsTest)
#include "tst_clipsettings.moc"
