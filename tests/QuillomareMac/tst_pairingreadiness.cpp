#include "TestSupport.h"

#include <Shell/Localization.h>
#include <Shell/PairingDiagnosticReport.h>
#include <Shell/PairingReadinessChecklist.h>

#include <QTimeZone>

using namespace Qt::StringLiterals;
using namespace QuillomareMac;
using QuillomareCore::ClipSettings;
using QuillomareCore::CloudSyncState;
using State = PairingReadinessChecklist::State;

namespace {

ClipSettings settingsWith(bool cloudSyncEnabled, QStringList ignored)
{
    ClipSettings settings;
    settings.cloudSyncEnabled = cloudSyncEnabled;
    settings.ignoredSourceBundleIdentifiers = std::move(ignored);
    return settings;
}

QList<State> states(const QList<PairingReadinessChecklist::Item>& items)
{
    QList<State> result;
    for (const auto& item : items)
        result.append(item.state);
    return result;
}

} // namespace

class TestPairingReadiness : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init() { L10n::setIsChineseForTesting(false); }

    void syncOffNeedsActionWhateverTheState()
    {
        const auto items = PairingReadinessChecklist::make(settingsWith(false, {}), false, CloudSyncState::idle(),
                                                           u"no entitlement"_s);
        QCOMPARE(states(items), (QList<State>{State::actionNeeded, State::actionNeeded, State::actionNeeded,
                                              State::ready, State::verifyOnDevice}));
        QCOMPARE(items[1].detail, u"Once enabled, non-sensitive exportable history takes part in cross-device sync."_s);
        QCOMPARE(items[2].detail, u"no entitlement"_s);
    }

    void syncOnStaysReadyAndCarriesTheProblem()
    {
        ClipSettings settings = settingsWith(true, {});
        settings.cloudContainerIdentifier = u"iCloud.other"_s;
        const auto items =
            PairingReadinessChecklist::make(settings, true, CloudSyncState::failed(u"boom"_s), std::nullopt);
        QCOMPARE(states(items),
                 (QList<State>{State::ready, State::ready, State::ready, State::ready, State::verifyOnDevice}));
        QCOMPARE(items[1].detail, u"Last sync failed: boom"_s);
        QCOMPARE(items[3].detail, u"Mac and iPhone targets must both use iCloud.other."_s);

        L10n::setIsChineseForTesting(true);
        const auto chinese =
            PairingReadinessChecklist::make(settings, true, CloudSyncState::unavailable(u"无账户"_s), std::nullopt);
        QCOMPARE(chinese[1].detail, u"iCloud 暂不可用：无账户"_s);
    }

    void reportTextJoinsLinesPerLanguage()
    {
        const QList<PairingReadinessChecklist::Item> items{
            {u"A"_s, State::actionNeeded, u"x"_s},
            {u"B"_s, State::verifyOnDevice, u"y"_s},
        };
        QCOMPARE(PairingReadinessChecklist::reportText(items), u"- [Action needed] A: x\n- [Verify on device] B: y"_s);
        L10n::setIsChineseForTesting(true);
        QCOMPARE(PairingReadinessChecklist::reportText(items), u"- [需处理] A：x\n- [真机确认] B：y"_s);
        QCOMPARE(PairingReadinessChecklist::reportText({}), QString());
    }

    void englishReport()
    {
        ClipSettings settings = settingsWith(true, {u"a"_s, u"b"_s, u"c"_s, u"d"_s, u"e"_s});
        settings.ignoreSensitiveContent = false;
        settings.maxHistoryCount = 120;
        const QDateTime at = QDateTime(QDate(2026, 3, 4), QTime(5, 6, 7, 890), QTimeZone(3600));
        const QString report = PairingDiagnosticReport::make(settings, false, CloudSyncState::syncing(), u"R"_s, at);
        const QString expected = QStringLiteral(
            "Quillomare Cross-device Diagnostics\n"
            "Generated at: 2026-03-04T04:06:07Z\n\n"
            "Mac status\n"
            "- Auto-capture clipboard: Off\n"
            "- iCloud Sync toggle: On\n"
            "- Image/file iCloud Sync: Off\n"
            "- Current sync state: Syncing\n"
            "- History limit: 120\n"
            "- Privacy policy: Sensitive content hides preview and stays on this Mac only\n"
            "- Auto-ignored sources: a, b, c, d and 5 total\n"
            "- Mac signing entitlement: Unavailable (R)\n\n"
            "Shared identifiers\n"
            "- App Group：group.app.quillomare\n"
            "- iCloud Container：iCloud.app.quillomare\n\n"
            "Cross-device readiness checklist\n"
            "- [Action needed] Mac auto-capture: Turn on auto-capture so Mac copies are written to history.\n"
            "- [Ready] iCloud Sync toggle: Syncing iCloud history.\n"
            "- [Action needed] Mac CloudKit signing: R\n"
            "- [Ready] Shared container: Mac and iPhone targets must both use iCloud.app.quillomare.\n"
            "- [Verify on device] iPhone-side verification: On device, use the same Apple ID/Team and enable "
            "iCloud; the keyboard extension needs Full Access.\n\n"
            "iPhone side needs matching configuration\n"
            "- The iOS App, Share Extension, Keyboard Extension and Widget Extension use the same App Group\n"
            "- All iOS targets use the same iCloud Container\n"
            "- Mac and iPhone are signed with the same Apple Developer Team\n"
            "- Enable iCloud Sync in the iPhone app; the keyboard extension needs Full Access in System Settings\n\n"
            "If the Mac signing entitlement is unavailable, repackage with an Apple Development or Developer ID "
            "signature that includes the CloudKit entitlement, then verify cross-device iCloud sync on real "
            "devices.");
        QCOMPARE(report, expected);
    }

    void chineseReportValues_data()
    {
        QTest::addColumn<QStringList>("ignored");
        QTest::addColumn<bool>("ignoreSensitive");
        QTest::addColumn<bool>("markLocal");
        QTest::addColumn<QString>("line");
        QTest::newRow("four sources") << QStringList{u"a"_s, u"b"_s, u"c"_s, u"d"_s} << true << false
                                      << u"\n- 自动忽略来源：a, b, c, d\n"_s;
        QTest::newRow("six sources") << QStringList{u"a"_s, u"b"_s, u"c"_s, u"d"_s, u"e"_s, u"f"_s} << true << false
                                     << u"\n- 自动忽略来源：a, b, c, d 等 6 个\n"_s;
        QTest::newRow("no sources") << QStringList() << true << false << u"\n- 自动忽略来源：未配置\n"_s;
        QTest::newRow("ignore wins") << QStringList() << true << true << u"\n- 隐私策略：自动忽略敏感内容\n"_s;
        QTest::newRow("neither") << QStringList() << false << false
                                 << u"\n- 隐私策略：敏感内容隐藏预览，iCloud 仍跳过敏感项\n"_s;
    }

    void chineseReportValues()
    {
        QFETCH(QStringList, ignored);
        QFETCH(bool, ignoreSensitive);
        QFETCH(bool, markLocal);
        QFETCH(QString, line);
        L10n::setIsChineseForTesting(true);
        ClipSettings settings = settingsWith(false, ignored);
        settings.ignoreSensitiveContent = ignoreSensitive;
        settings.markSensitiveLocalOnly = markLocal;
        const QString report = PairingDiagnosticReport::make(settings, true, CloudSyncState::failed(u"断网"_s),
                                                             std::nullopt, QuillomareTest::at(0));
        QVERIFY2(report.contains(line), qPrintable(report));
        QVERIFY(report.startsWith(QStringLiteral("Quillomare 联动诊断\n生成时间：2026-01-01T12:00:00Z\n\nMac 状态\n"
                                                 "- 自动记录剪贴板：开启\n- iCloud 同步开关：关闭\n")));
        QVERIFY(report.contains(u"\n- 当前同步状态：失败（断网）\n- 历史上限：200 条\n"_s));
        QVERIFY(report.contains(u"\n- Mac 签名权限：可用\n\n共享标识\n- App Group："_s));
        QVERIFY(report.endsWith(u"再进行真机 iCloud 联动验证。"_s));
    }
};

QUILLOMARE_TEST_MAIN(TestPairingReadiness)
#include "tst_pairingreadiness.moc"
