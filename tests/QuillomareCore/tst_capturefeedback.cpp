#include <QuillomareCore/CaptureFeedback.h>

#include "TestSupport.h"

using namespace QuillomareCore;
using namespace QuillomareTest;

using Feedback = CaptureFeedback;
using Status = CaptureFeedback::SaveStatus;

namespace QuillomareCore {

// Found by QCOMPARE through argument-dependent lookup, so a mismatch shows both sides.
char* toString(const CaptureFeedback& feedback)
{
    const char* const statuses[] = {"ignored", "failed", "saved", "duplicate"};
    const QString text = QStringLiteral("{kind: %1, source: %2, sensitive: %3, status: %4(%5)}")
                             .arg(feedback.kind ? feedback.kind->rawValue() : QStringLiteral("none"),
                                  feedback.sourceAppName ? QStringLiteral("\"%1\"").arg(*feedback.sourceAppName) : QStringLiteral("none"),
                                  feedback.isSensitive ? QStringLiteral("yes") : QStringLiteral("no"),
                                  QString::fromLatin1(statuses[int(feedback.status.caseOf())]), feedback.status.reason());
    return qstrdup(text.toUtf8().constData());
}

} // namespace QuillomareCore

namespace {

const QString kIgnoredPrefix = QStringLiteral("已忽略来自 ");
const QString kIgnoredSuffix = QStringLiteral(" 的剪贴板");

ClipboardItem capturedItem(ClipKind kind, std::optional<QString> sourceAppName, bool isSensitive)
{
    ClipboardItem item = textItem(QStringLiteral("hello"), at(0));
    item.kind = kind;
    item.sourceAppName = std::move(sourceAppName);
    item.isSensitive = isSensitive;
    return item;
}

} // namespace

class CaptureFeedbackTest : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void resultWithNothingIsUnknownFailure();
    void savedEntryTakesItsFieldsFromTheEntry_data();
    void savedEntryTakesItsFieldsFromTheEntry();
    void ignoredReason_data();
    void ignoredReason();
    void ignoredWithEntryPrefersEntryFields();
    void failedFactory();
    void statusEquality();
    void primaryLabel_data();
    void primaryLabel();
};

void CaptureFeedbackTest::resultWithNothingIsUnknownFailure()
{
    const Feedback expected{std::nullopt, std::nullopt, false, Status::failed(QStringLiteral("未知捕获结果"))};
    for (const auto outcome : {std::optional<ClipboardAddOutcome>(), std::optional(ClipboardAddOutcome::inserted),
                               std::optional(ClipboardAddOutcome::deduplicated)}) {
        const Feedback feedback = Feedback::from(ClipboardCaptureResult{}, outcome);
        QCOMPARE(feedback, expected);
        QCOMPARE(feedback.statusLabel(), QStringLiteral("未保存"));
        QCOMPARE(feedback.primaryLabel(), QStringLiteral("剪贴"));
    }
}

void CaptureFeedbackTest::savedEntryTakesItsFieldsFromTheEntry_data()
{
    QTest::addColumn<int>("outcome"); // -1: no outcome given
    QTest::addColumn<bool>("sensitive");
    QTest::addColumn<QString>("statusLabel");
    QTest::addColumn<QString>("primaryLabel");

    QTest::newRow("inserted") << int(ClipboardAddOutcome::inserted) << false << "已保存" << "图片 · Preview";
    QTest::newRow("no outcome") << -1 << false << "已保存" << "图片 · Preview";
    QTest::newRow("deduplicated") << int(ClipboardAddOutcome::deduplicated) << false << "重复" << "图片 · Preview";
    QTest::newRow("sensitive entry") << int(ClipboardAddOutcome::inserted) << true << "已保存" << "敏感 · Preview";
}

void CaptureFeedbackTest::savedEntryTakesItsFieldsFromTheEntry()
{
    QFETCH(int, outcome);
    QFETCH(bool, sensitive);
    QFETCH(QString, statusLabel);
    QFETCH(QString, primaryLabel);

    const ClipboardItem item = capturedItem(ClipKind::image, QStringLiteral("Preview"), sensitive);
    const std::optional<ClipboardAddOutcome> addOutcome =
        outcome < 0 ? std::nullopt : std::optional(static_cast<ClipboardAddOutcome>(outcome));
    const Feedback feedback = Feedback::from(ClipboardCaptureResult{item, std::nullopt}, addOutcome);

    const Status status = addOutcome == ClipboardAddOutcome::deduplicated ? Status::duplicate() : Status::saved();
    QCOMPARE(feedback, (Feedback{ClipKind::image, QStringLiteral("Preview"), sensitive, status}));
    QCOMPARE(feedback.statusLabel(), statusLabel);
    QCOMPARE(feedback.primaryLabel(), primaryLabel);
}

// Reasons as the clipboard monitor words them, captured without an entry.
// A null name means none is read out of the reason.
void CaptureFeedbackTest::ignoredReason_data()
{
    QTest::addColumn<QString>("reason");
    QTest::addColumn<QString>("name");
    QTest::addColumn<bool>("sensitive");
    QTest::addColumn<QString>("primaryLabel");

    QTest::newRow("ignored app") << kIgnoredPrefix + "Notes" + kIgnoredSuffix << "Notes" << false << "剪贴 · Notes";
    QTest::newRow("one-character name") << kIgnoredPrefix + "X" + kIgnoredSuffix << "X" << false << "剪贴 · X";
    QTest::newRow("name with blanks") << kIgnoredPrefix + "Microsoft Outlook" + kIgnoredSuffix << "Microsoft Outlook"
                                      << false << "剪贴 · Microso…";
    // The name between the markers is taken as it stands; only the label trims it.
    QTest::newRow("untrimmed name") << kIgnoredPrefix + " Notes\t" + kIgnoredSuffix << " Notes\t" << false << "剪贴 · Notes";
    QTest::newRow("empty name") << kIgnoredPrefix + kIgnoredSuffix << QString() << false << "剪贴";
    // Prefix and suffix sharing their one blank leave a name of minus one character.
    QTest::newRow("overlapping markers") << "已忽略来自 的剪贴板" << QString() << false << "剪贴";
    QTest::newRow("prefix only") << kIgnoredPrefix + "Notes" << QString() << false << "剪贴";
    QTest::newRow("no blanks") << "已忽略来自Notes的剪贴板" << QString() << false << "剪贴";
    QTest::newRow("unnamed app") << kIgnoredPrefix + "敏感来源 App" + kIgnoredSuffix << "敏感来源 App" << true
                                 << "敏感 · 敏感来源 App";
    QTest::newRow("secret, chinese") << "已忽略敏感内容：Private key" << QString() << true << "敏感";
    QTest::newRow("sensitive mid-text") << "内容包含敏感信息" << QString() << true << "敏感";

    // The English interface: no name is read back, but the two sensitive reasons still count.
    QTest::newRow("english ignored app") << "Ignored clipboard from Notes" << QString() << false << "剪贴";
    QTest::newRow("english secret") << "Ignored sensitive content: JWT" << QString() << true << "敏感";
    QTest::newRow("english restricted app") << "Ignored clipboard from a restricted app" << QString() << true << "敏感";
    QTest::newRow("english app named like it") << "Ignored clipboard from a restricted application" << QString()
                                               << false << "剪贴";
    QTest::newRow("english secret not leading") << "Not ignored sensitive content" << QString() << false << "剪贴";

    QTest::newRow("unsupported format") << "暂不支持该剪贴板格式" << QString() << false << "剪贴";
    QTest::newRow("empty reason") << "" << QString() << false << "剪贴";
}

void CaptureFeedbackTest::ignoredReason()
{
    QFETCH(QString, reason);
    QFETCH(QString, name);
    QFETCH(bool, sensitive);
    QFETCH(QString, primaryLabel);

    const Feedback feedback = Feedback::from(ClipboardCaptureResult{std::nullopt, reason}, ClipboardAddOutcome::inserted);
    const std::optional<QString> expectedName = name.isNull() ? std::nullopt : std::optional(name);
    QCOMPARE(feedback, (Feedback{std::nullopt, expectedName, sensitive, Status::ignored(reason)}));
    QCOMPARE(feedback.statusLabel(), QStringLiteral("已忽略"));
    QCOMPARE(feedback.primaryLabel(), primaryLabel);
}

// An entry that was captured but then refused: its kind and app name win, its own sensitivity does not.
void CaptureFeedbackTest::ignoredWithEntryPrefersEntryFields()
{
    const QString fromNotes = kIgnoredPrefix + "Notes" + kIgnoredSuffix;

    Feedback feedback = Feedback::from({capturedItem(ClipKind::url, QStringLiteral("Safari"), false), fromNotes}, std::nullopt);
    QCOMPARE(feedback, (Feedback{ClipKind::url, QStringLiteral("Safari"), false, Status::ignored(fromNotes)}));
    QCOMPARE(feedback.primaryLabel(), QStringLiteral("链接 · Safari"));

    feedback = Feedback::from({capturedItem(ClipKind::file, std::nullopt, false), fromNotes}, std::nullopt);
    QCOMPARE(feedback, (Feedback{ClipKind::file, QStringLiteral("Notes"), false, Status::ignored(fromNotes)}));
    QCOMPARE(feedback.primaryLabel(), QStringLiteral("文件 · Notes"));

    const QString english = QStringLiteral("Ignored clipboard from Notes");
    feedback = Feedback::from({capturedItem(ClipKind::text, QStringLiteral("Notes"), false), english}, std::nullopt);
    QCOMPARE(feedback, (Feedback{ClipKind::text, QStringLiteral("Notes"), false, Status::ignored(english)}));

    const QString unsupported = QStringLiteral("Unsupported clipboard format");
    feedback = Feedback::from({capturedItem(ClipKind::text, std::nullopt, true), unsupported},
                              ClipboardAddOutcome::deduplicated);
    QCOMPARE(feedback, (Feedback{ClipKind::text, std::nullopt, false, Status::ignored(unsupported)}));
    QCOMPARE(feedback.primaryLabel(), QStringLiteral("文本"));

    const QString secret = QStringLiteral("已忽略敏感内容：JWT");
    feedback = Feedback::from({capturedItem(ClipKind::text, QStringLiteral("Terminal"), false), secret}, std::nullopt);
    QCOMPARE(feedback, (Feedback{ClipKind::text, QStringLiteral("Terminal"), true, Status::ignored(secret)}));
    QCOMPARE(feedback.primaryLabel(), QStringLiteral("敏感 · Terminal"));
}

void CaptureFeedbackTest::failedFactory()
{
    const Feedback feedback = Feedback::failed(QStringLiteral("磁盘已满"), ClipKind::image, QStringLiteral("Preview"), true);
    QCOMPARE(feedback, (Feedback{ClipKind::image, QStringLiteral("Preview"), true, Status::failed(QStringLiteral("磁盘已满"))}));
    QCOMPARE(feedback.status.reason(), QStringLiteral("磁盘已满"));
    QCOMPARE(feedback.statusLabel(), QStringLiteral("未保存"));
    QCOMPARE(feedback.primaryLabel(), QStringLiteral("敏感 · Preview"));
}

void CaptureFeedbackTest::statusEquality()
{
    QVERIFY(Status::saved() == Status::saved());
    QVERIFY(Status::saved() != Status::duplicate());
    QVERIFY(Status::ignored(QStringLiteral("a")) == Status::ignored(QStringLiteral("a")));
    QVERIFY(Status::ignored(QStringLiteral("a")) != Status::ignored(QStringLiteral("b")));
    QVERIFY(Status::ignored(QStringLiteral("a")) != Status::failed(QStringLiteral("a")));
    QVERIFY(Status::failed(QStringLiteral("a")) != Status::failed(QStringLiteral("b")));

    const Feedback base{ClipKind::text, QStringLiteral("Notes"), false, Status::saved()};
    QVERIFY((Feedback{ClipKind::url, QStringLiteral("Notes"), false, Status::saved()}) != base);
    QVERIFY((Feedback{ClipKind::text, std::nullopt, false, Status::saved()}) != base);
    QVERIFY((Feedback{ClipKind::text, QStringLiteral("Notes"), true, Status::saved()}) != base);
}

void CaptureFeedbackTest::primaryLabel_data()
{
    QTest::addColumn<int>("kind"); // -1: no kind
    QTest::addColumn<bool>("hasName");
    QTest::addColumn<QString>("name");
    QTest::addColumn<bool>("sensitive");
    QTest::addColumn<QString>("label");

    QTest::newRow("unknown") << int(ClipKind::unknown) << false << QString() << false << "剪贴";
    QTest::newRow("no kind") << -1 << false << QString() << false << "剪贴";

    // The separator is blank, U+00B7, blank; the ellipsis is the single character U+2026.
    QTest::newRow("short name") << int(ClipKind::text) << true << "Safari" << false << "文本 · Safari";
    QTest::newRow("eight characters whole") << int(ClipKind::text) << true << "Terminal" << false << "文本 · Terminal";
    QTest::newRow("nine characters cut") << int(ClipKind::text) << true << "Photoshop" << false << QStringLiteral("文本 \u00B7 Photosh\u2026");
    QTest::newRow("trimmed before counting") << int(ClipKind::text) << true << " Terminal\n " << false << "文本 · Terminal";
    QTest::newRow("unicode blanks") << int(ClipKind::text) << true << QStringLiteral("\u3000微信\u2028") << false << "文本 · 微信";
    QTest::newRow("blanks only") << int(ClipKind::text) << true << " \n\t " << false << "文本";

    // Counted as user-perceived characters: each of these is several UTF-16 units.
    QTest::newRow("eight toned emoji whole") << int(ClipKind::text) << true << QStringLiteral("👍🏽").repeated(8) << false
                                             << "文本 · " + QStringLiteral("👍🏽").repeated(8);
    QTest::newRow("nine families cut") << int(ClipKind::text) << true << QStringLiteral("\U0001F468\u200D\U0001F469\u200D\U0001F467").repeated(9) << false
                                       << "文本 · " + QStringLiteral("\U0001F468\u200D\U0001F469\u200D\U0001F467").repeated(7) + "…";
    QTest::newRow("combining accents") << int(ClipKind::text) << true << QStringLiteral("e\u0301").repeated(8) << false
                                       << "文本 · " + QStringLiteral("e\u0301").repeated(8);

    QTest::newRow("sensitive with name") << int(ClipKind::text) << true << "1Password" << true << "敏感 · 1Passwo…";
    QTest::newRow("sensitive hides kind") << int(ClipKind::image) << false << QString() << true << "敏感";
    QTest::newRow("sensitive blank name") << -1 << true << "   " << true << "敏感";
}

void CaptureFeedbackTest::primaryLabel()
{
    QFETCH(int, kind);
    QFETCH(bool, hasName);
    QFETCH(QString, name);
    QFETCH(bool, sensitive);
    QFETCH(QString, label);

    const Feedback feedback{kind < 0 ? std::nullopt : std::optional(ClipKind(static_cast<ClipKind::Value>(kind))),
                            hasName ? std::optional(name) : std::nullopt, sensitive, Status::saved()};
    QCOMPARE(feedback.primaryLabel(), label);
}

QUILLOMARE_TEST_MAIN(CaptureFeedbackTest)
#include "tst_capturefeedback.moc"
