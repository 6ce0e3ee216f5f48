#include "TestSupport.h"

#include <Shell/PairingDiagnosticReport.h>
#include <Shell/PairingReadinessChecklist.h>

#include <QuillomareCore/Language.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTimeZone>

#include <unistd.h>

using namespace Qt::StringLiterals;
using namespace QuillomareMac;
namespace Language = QuillomareCore::Language;
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

PairingReadinessChecklist::MachineConditions machine(std::optional<QString> folderProblem, bool device = false,
                                                     bool hotKey = false)
{
    return {u"/data/CloudRecords/iCloud.app.quillomare"_s, std::move(folderProblem), device, hotKey};
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
    void init() { Language::setIsChineseForTesting(false); }

    void syncOffNeedsActionWhateverTheState()
    {
        const auto items = PairingReadinessChecklist::make(settingsWith(false, {}), false, CloudSyncState::idle(),
                                                           machine(u"no entitlement"_s));
        QCOMPARE(states(items), (QList<State>{State::actionNeeded, State::actionNeeded, State::actionNeeded,
                                              State::actionNeeded, State::actionNeeded}));
        QCOMPARE(items[1].detail, u"Once enabled, non-sensitive exportable history takes part in cross-device sync."_s);
        QCOMPARE(items[2].detail, u"no entitlement"_s);
    }

    void syncOnStaysReadyAndCarriesTheProblem()
    {
        ClipSettings settings = settingsWith(true, {});
        settings.cloudContainerIdentifier = u"iCloud.other"_s;
        const auto items = PairingReadinessChecklist::make(settings, true, CloudSyncState::failed(u"boom"_s),
                                                           machine(std::nullopt, true, true));
        QCOMPARE(states(items), (QList<State>{State::ready, State::ready, State::ready, State::ready, State::ready}));
        QCOMPARE(items[1].detail, u"Last sync failed: boom"_s);
        QVERIFY(items[2].detail.contains(u"/data/CloudRecords/iCloud.app.quillomare"_s));

        Language::setIsChineseForTesting(true);
        const auto chinese = PairingReadinessChecklist::make(settings, true, CloudSyncState::unavailable(u"无账户"_s),
                                                             machine(std::nullopt, true, true));
        QCOMPARE(chinese[1].detail, u"同步文件夹暂不可用：无账户"_s);
    }

    // The sync folder row looks at the folder itself: a folder that cannot be written, or an
    // identifier that cannot name one, is a problem the user must see before turning sync on.
    void syncFolderConditionsCheckTheFolder()
    {
        QTemporaryDir root;
        QVERIFY(root.isValid());
        const auto fresh = PairingReadinessChecklist::syncFolderConditions(u" iCloud.app.quillomare "_s, root.path());
        QCOMPARE(fresh.syncFolder, root.path() + u"/iCloud.app.quillomare"_s);
        QCOMPARE(fresh.syncFolderProblem, std::nullopt);

        const auto badName = PairingReadinessChecklist::syncFolderConditions(u"../evil"_s, root.path());
        QVERIFY(badName.syncFolderProblem);
        QVERIFY2(badName.syncFolderProblem->contains(u"../evil"_s), qPrintable(*badName.syncFolderProblem));

        // Not allowed by the build: said before the folder is looked at.
        QVERIFY(PairingReadinessChecklist::syncFolderConditions(u"   "_s, root.path()).syncFolderProblem);

        // A file where a folder above the sync folder should be.
        const QString blocker = root.path() + u"/blocker"_s;
        QVERIFY(QFile(blocker).open(QIODevice::WriteOnly));
        const auto blocked = PairingReadinessChecklist::syncFolderConditions(u"iCloud.app.quillomare"_s,
                                                                             blocker + u"/deeper"_s);
        QCOMPARE(blocked.syncFolderProblem, std::optional(u"“%1” cannot be written"_s.arg(blocker)));

        // A folder without write permission (the superuser may write anywhere).
        if (::geteuid() != 0) {
            const QString locked = root.path() + u"/locked"_s;
            QVERIFY(QDir().mkpath(locked + u"/iCloud.app.quillomare"_s));
            QVERIFY(QFile::setPermissions(locked + u"/iCloud.app.quillomare"_s,
                                          QFileDevice::ReadOwner | QFileDevice::ExeOwner));
            const auto lockedItself =
                PairingReadinessChecklist::syncFolderConditions(u"iCloud.app.quillomare"_s, locked);
            QFile::setPermissions(locked + u"/iCloud.app.quillomare"_s,
                                  QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
            QCOMPARE(lockedItself.syncFolderProblem,
                     std::optional(u"“%1/iCloud.app.quillomare” cannot be written"_s.arg(locked)));
        }
    }

    void hotKeyRowTellsOffFromTaken_data()
    {
        QTest::addColumn<bool>("enabled");
        QTest::addColumn<bool>("registered");
        QTest::addColumn<State>("state");
        QTest::addColumn<QString>("detail");
        QTest::newRow("held") << true << true << State::ready
                              << u"Ctrl + Alt + V opens the island; Ctrl + Alt + S adds to the shelf."_s;
        QTest::newRow("taken") << true << false << State::actionNeeded
                               << u"Another program holds Ctrl + Alt + V or Ctrl + Alt + S."_s;
        QTest::newRow("switched off") << false << false << State::actionNeeded
                                      << u"Turn on the hot key so Ctrl + Alt + V opens the island."_s;
    }

    void hotKeyRowTellsOffFromTaken()
    {
        QFETCH(bool, enabled);
        QFETCH(bool, registered);
        QFETCH(State, state);
        QFETCH(QString, detail);
        ClipSettings settings;
        settings.hotKeyEnabled = enabled;
        const auto items = PairingReadinessChecklist::make(settings, true, CloudSyncState::idle(),
                                                           machine(std::nullopt, false, registered));
        QCOMPARE(items[4].state, state);
        QCOMPARE(items[4].detail, detail);
    }

    void reportTextJoinsLinesPerLanguage()
    {
        const QList<PairingReadinessChecklist::Item> items{
            {u"A"_s, State::actionNeeded, u"x"_s},
            {u"B"_s, State::verifyOnDevice, u"y"_s},
        };
        QCOMPARE(PairingReadinessChecklist::reportText(items), u"- [Action needed] A: x\n- [Verify on device] B: y"_s);
        Language::setIsChineseForTesting(true);
        QCOMPARE(PairingReadinessChecklist::reportText(items), u"- [需处理] A：x\n- [真机确认] B：y"_s);
        QCOMPARE(PairingReadinessChecklist::reportText({}), QString());
    }

    void englishReport()
    {
        ClipSettings settings = settingsWith(true, {u"a"_s, u"b"_s, u"c"_s, u"d"_s, u"e"_s});
        settings.ignoreSensitiveContent = false;
        settings.maxHistoryCount = 120;
        const QDateTime at = QDateTime(QDate(2026, 3, 4), QTime(5, 6, 7, 890), QTimeZone(3600));
        const QString report = PairingDiagnosticReport::make(settings, false, CloudSyncState::syncing(), machine(u"R"_s), at);
        const QString expected = QStringLiteral(
            "Quillomare Cross-device Diagnostics\n"
            "Generated at: 2026-03-04T04:06:07Z\n\n"
            "This computer\n"
            "- Auto-capture clipboard: Off\n"
            "- Folder sync toggle: On\n"
            "- Image/file sync: Off\n"
            "- Current sync state: Syncing\n"
            "- History limit: 120\n"
            "- Privacy policy: Sensitive content hides preview and stays on this computer only\n"
            "- Auto-ignored sources: a, b, c, d and 5 total\n"
            "- Sync folder: Unavailable (R)\n"
            "- KDE Connect paired device: Not reachable\n"
            "- Global hot keys: Not registered\n\n"
            "Shared identifiers\n"
            "- App ID：app.quillomare.Quillomare\n"
            "- Sync Container：iCloud.app.quillomare\n"
            "- Sync Folder：/data/CloudRecords/iCloud.app.quillomare\n\n"
            "Cross-device readiness checklist\n"
            "- [Action needed] Auto-capture: Turn on auto-capture so copies on this computer are written to "
            "history.\n"
            "- [Ready] Folder sync toggle: Syncing history with the sync folder.\n"
            "- [Action needed] Sync folder: R\n"
            "- [Action needed] Paired device: KDE Connect reaches no paired device; pair a phone to send items.\n"
            "- [Action needed] Global hot keys: Another program holds Ctrl + Alt + V or Ctrl + Alt + S.\n\n"
            "Other computers need matching configuration\n"
            "- Use the same sync container identifier\n"
            "- Keep the sync folder in step with this computer's through a file-sync tool (such as Syncthing or "
            "Nextcloud)\n"
            "- Turn on folder sync in Quillomare there too\n"
            "- To send items to a phone, pair it with this computer in KDE Connect\n\n"
            "If the sync folder is unavailable, check that it can be written and that the sync container "
            "identifier uses only letters, digits, “.”, “-” and “_”, then verify sync between two computers.");
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
                                 << u"\n- 隐私策略：敏感内容隐藏预览，文件夹同步仍跳过敏感项\n"_s;
    }

    void chineseReportValues()
    {
        QFETCH(QStringList, ignored);
        QFETCH(bool, ignoreSensitive);
        QFETCH(bool, markLocal);
        QFETCH(QString, line);
        Language::setIsChineseForTesting(true);
        ClipSettings settings = settingsWith(false, ignored);
        settings.ignoreSensitiveContent = ignoreSensitive;
        settings.markSensitiveLocalOnly = markLocal;
        const QString report = PairingDiagnosticReport::make(settings, true, CloudSyncState::failed(u"断网"_s),
                                                             machine(std::nullopt), QuillomareTest::at(0));
        QVERIFY2(report.contains(line), qPrintable(report));
        QVERIFY(report.startsWith(QStringLiteral("Quillomare 联动诊断\n生成时间：2026-01-01T12:00:00Z\n\n本机状态\n"
                                                 "- 自动记录剪贴板：开启\n- 文件夹同步开关：关闭\n")));
        QVERIFY(report.contains(u"\n- 当前同步状态：失败（断网）\n- 历史上限：200 条\n"_s));
        QVERIFY(report.contains(u"\n- 同步文件夹：可用\n"_s));
        QVERIFY(report.contains(u"\n\n共享标识\n- App ID："_s));
        QVERIFY(report.endsWith(u"再在两台电脑之间验证同步。"_s));
    }
};

QUILLOMARE_TEST_MAIN(TestPairingReadiness)
#include "tst_pairingreadiness.moc"
