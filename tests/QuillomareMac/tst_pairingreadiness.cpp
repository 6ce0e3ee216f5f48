#include "TestSupport.h"

#include <Shell/Localization.h>
#include <Shell/PairingDiagnosticReport.h>
#include <Shell/PairingReadinessChecklist.h>

#include <QTimeZone>

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
                                                           QStringLiteral("no entitlement"));
        QCOMPARE(states(items), (QList<State>{State::actionNeeded, State::actionNeeded, State::actionNeeded,
                                              State::ready, State::verifyOnDevice}));
        QCOMPARE(items[1].detail,
                 QStringLiteral("Once enabled, non-sensitive exportable history takes part in cross-device sync."));
        QCOMPARE(items[2].detail, QStringLiteral("no entitlement"));
    }

    void syncOnStaysReadyAndCarriesTheProblem()
    {
        ClipSettings settings = settingsWith(true, {});
        settings.cloudContainerIdentifier = QStringLiteral("iCloud.other");
        const auto items =
            PairingReadinessChecklist::make(settings, true, CloudSyncState::failed(QStringLiteral("boom")), std::nullopt);
        QCOMPARE(states(items),
                 (QList<State>{State::ready, State::ready, State::ready, State::ready, State::verifyOnDevice}));
        QCOMPARE(items[1].detail, QStringLiteral("Last sync failed: boom"));
        QCOMPARE(items[3].detail, QStringLiteral("Mac and iPhone targets must both use iCloud.other."));

        L10n::setIsChineseForTesting(true);
        const auto chinese = PairingReadinessChecklist::make(
            settings, true, CloudSyncState::unavailable(QStringLiteral("无账户")), std::nullopt);
        QCOMPARE(chinese[1].detail, QStringLiteral("iCloud 暂不可用：无账户"));
    }

    void reportTextJoinsLinesPerLanguage()
    {
        const QList<PairingReadinessChecklist::Item> items{
            {QStringLiteral("A"), State::actionNeeded, QStringLiteral("x")},
            {QStringLiteral("B"), State::verifyOnDevice, QStringLiteral("y")},
        };
        QCOMPARE(PairingReadinessChecklist::reportText(items),
                 QStringLiteral("- [Action needed] A: x\n- [Verify on device] B: y"));
        L10n::setIsChineseForTesting(true);
        QCOMPARE(PairingReadinessChecklist::reportText(items), QStringLiteral("- [需处理] A：x\n- [真机确认] B：y"));
        QCOMPARE(PairingReadinessChecklist::reportText({}), QString());
    }

    void englishReport()
    {
        ClipSettings settings =
            settingsWith(true, {QStringLiteral("a"), QStringLiteral("b"), QStringLiteral("c"), QStringLiteral("d"),
                                QStringLiteral("e")});
        settings.ignoreSensitiveContent = false;
        settings.maxHistoryCount = 120;
        const QDateTime at = QDateTime(QDate(2026, 3, 4), QTime(5, 6, 7, 890), QTimeZone(3600));
        const QString report = PairingDiagnosticReport::make(settings, false, CloudSyncState::syncing(),
                                                             QStringLiteral("R"), at);
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
        QTest::newRow("four sources") << QStringList{QStringLiteral("a"), QStringLiteral("b"), QStringLiteral("c"),
                                                     QStringLiteral("d")}
                                      << true << false << QStringLiteral("\n- 自动忽略来源：a, b, c, d\n");
        QTest::newRow("six sources") << QStringList{QStringLiteral("a"), QStringLiteral("b"), QStringLiteral("c"),
                                                    QStringLiteral("d"), QStringLiteral("e"), QStringLiteral("f")}
                                     << true << false << QStringLiteral("\n- 自动忽略来源：a, b, c, d 等 6 个\n");
        QTest::newRow("no sources") << QStringList() << true << false << QStringLiteral("\n- 自动忽略来源：未配置\n");
        QTest::newRow("ignore wins") << QStringList() << true << true << QStringLiteral("\n- 隐私策略：自动忽略敏感内容\n");
        QTest::newRow("neither") << QStringList() << false << false
                                 << QStringLiteral("\n- 隐私策略：敏感内容隐藏预览，iCloud 仍跳过敏感项\n");
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
        const QString report = PairingDiagnosticReport::make(settings, true, CloudSyncState::failed(QStringLiteral("断网")),
                                                             std::nullopt, QuillomareTest::at(0));
        QVERIFY2(report.contains(line), qPrintable(report));
        QVERIFY(report.startsWith(QStringLiteral("Quillomare 联动诊断\n生成时间：2026-01-01T12:00:00Z\n\nMac 状态\n"
                                                 "- 自动记录剪贴板：开启\n- iCloud 同步开关：关闭\n")));
        QVERIFY(report.contains(QStringLiteral("\n- 当前同步状态：失败（断网）\n- 历史上限：200 条\n")));
        QVERIFY(report.contains(QStringLiteral("\n- Mac 签名权限：可用\n\n共享标识\n- App Group：")));
        QVERIFY(report.endsWith(QStringLiteral("再进行真机 iCloud 联动验证。")));
    }
};

QUILLOMARE_TEST_MAIN(TestPairingReadiness)
#include "tst_pairingreadiness.moc"
