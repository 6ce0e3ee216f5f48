#include "TestSupport.h"

#include <QuillomareMac/Island/CaptureEchoHUDView.h>
#include <QuillomareMac/Island/IslandAnimation.h>
#include <QuillomareMac/Island/IslandScheduler.h>
#include <QuillomareMac/Island/IslandTheme.h>
#include <QuillomareMac/Shell/Localization.h>

#include <Platform/MotionPreferences.h>

#include <QApplication>
#include <QImage>
#include <QPainter>

using namespace QuillomareMac;
using QuillomareCore::CaptureFeedback;
using QuillomareCore::ClipKind;
using Status = CaptureFeedback::SaveStatus;
using Outcome = CaptureEchoHUDView::Outcome;

Q_DECLARE_METATYPE(CaptureFeedback)

namespace {

CaptureFeedback feedback(std::optional<ClipKind> kind, std::optional<QString> source, bool sensitive, Status status)
{
    return CaptureFeedback{kind, std::move(source), sensitive, std::move(status)};
}

// The badge as the echo shows it: 260 × 44 inside a 280 × 58 island.
std::unique_ptr<CaptureEchoHUDView> makeBadge(const CaptureFeedback& f, int width = 260)
{
    auto badge = std::make_unique<CaptureEchoHUDView>();
    badge->configure(f);
    badge->setBadgeGeometry(QRect(10, 7, width, CaptureEchoHUDView::kBadgeHeight));
    return badge;
}

QImage paint(CaptureEchoHUDView& badge)
{
    QImage image(badge.size(), QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    badge.render(&image);
    return image;
}

} // namespace

class CaptureEchoHUDViewTest : public QObject
{
    Q_OBJECT

private:
    std::shared_ptr<ManualIslandScheduler> m_scheduler;

private Q_SLOTS:
    void init()
    {
        m_scheduler = std::make_shared<ManualIslandScheduler>();
        IslandScheduler::setSharedForTesting(m_scheduler);
        Platform::MotionPreferences::setReduceMotionForTesting(false);
        L10n::setIsChineseForTesting(false);
    }

    void cleanup()
    {
        IslandScheduler::setSharedForTesting(nullptr);
        Platform::MotionPreferences::setReduceMotionForTesting(std::nullopt);
    }

    void testTexts_data()
    {
        QTest::addColumn<CaptureFeedback>("feedback");
        QTest::addColumn<bool>("chinese");
        QTest::addColumn<QString>("title");
        QTest::addColumn<QString>("subtitle");
        QTest::addColumn<QString>("status");

        const auto text = std::optional<ClipKind>(ClipKind::text);
        const QString ignoredReason = QStringLiteral("已忽略来自 1Password 的剪贴板");
        for (const bool chinese : {true, false}) {
            const auto pick = [chinese](const char* zh, const char* en) {
                return QString::fromUtf8(chinese ? zh : en);
            };
            QTest::addRow("%s saved from an application", chinese ? "zh" : "en")
                << feedback(text, QStringLiteral("TextEdit"), false, Status::saved()) << chinese << pick("文本", "Text")
                << pick("来自 TextEdit", "From TextEdit") << pick("已保存", "Saved");
            QTest::addRow("%s saved, name trimmed", chinese ? "zh" : "en")
                << feedback(ClipKind::url, QStringLiteral("  Safari\n"), false, Status::saved()) << chinese
                << pick("链接", "Link") << pick("来自 Safari", "From Safari") << pick("已保存", "Saved");
            QTest::addRow("%s saved without a source", chinese ? "zh" : "en")
                << feedback(ClipKind::image, std::nullopt, false, Status::saved()) << chinese << pick("图片", "Image")
                << pick("已存入Quillomare", "Saved to Quillomare") << pick("已保存", "Saved");
            QTest::addRow("%s blank source counts as absent", chinese ? "zh" : "en")
                << feedback(ClipKind::file, QStringLiteral("   "), false, Status::duplicate()) << chinese
                << pick("文件", "File") << pick("已存入Quillomare", "Saved to Quillomare") << pick("重复", "Duplicate");
            QTest::addRow("%s sensitive duplicate", chinese ? "zh" : "en")
                << feedback(text, QStringLiteral("Keychain"), true, Status::duplicate()) << chinese
                << pick("敏感内容", "Sensitive content") << pick("来自 Keychain", "From Keychain")
                << pick("重复", "Duplicate");
            QTest::addRow("%s ignored shows its reason unchanged", chinese ? "zh" : "en")
                << feedback(std::nullopt, QStringLiteral("1Password"), false, Status::ignored(ignoredReason)) << chinese
                << pick("剪贴板", "Clipboard") << ignoredReason << pick("已忽略", "Ignored");
            QTest::addRow("%s unknown kind", chinese ? "zh" : "en")
                << feedback(ClipKind::unknown, QStringLiteral("Xfce"), false, Status::saved()) << chinese
                << pick("剪贴", "Clip") << pick("来自 Xfce", "From Xfce") << pick("已保存", "Saved");
            // Nothing was kept: the line must not say it was saved.
            QTest::addRow("%s ignored without reason or source", chinese ? "zh" : "en")
                << feedback(text, std::nullopt, false, Status::ignored(QString())) << chinese << pick("文本", "Text")
                << pick("未存入历史", "Not in history") << pick("已忽略", "Ignored");
            QTest::addRow("%s ignored with a blank reason", chinese ? "zh" : "en")
                << feedback(text, std::nullopt, false, Status::ignored(QStringLiteral(" \n"))) << chinese
                << pick("文本", "Text") << pick("未存入历史", "Not in history") << pick("已忽略", "Ignored");
            QTest::addRow("%s failed shows its reason before the source", chinese ? "zh" : "en")
                << feedback(text, QStringLiteral("Notes"), false, Status::failed(QStringLiteral("磁盘已满"))) << chinese
                << pick("文本", "Text") << QStringLiteral("磁盘已满") << pick("未保存", "Not saved");
            QTest::addRow("%s failed without reason or source", chinese ? "zh" : "en")
                << feedback(std::nullopt, std::nullopt, false, Status::failed(QString())) << chinese
                << pick("剪贴板", "Clipboard") << pick("未存入历史", "Not in history") << pick("未保存", "Not saved");
            QTest::addRow("%s failed without reason names the source", chinese ? "zh" : "en")
                << feedback(ClipKind::image, QStringLiteral("GIMP"), false, Status::failed(QString())) << chinese
                << pick("图片", "Image") << pick("来自 GIMP", "From GIMP") << pick("未保存", "Not saved");
        }
    }

    void testTexts()
    {
        QFETCH(CaptureFeedback, feedback);
        QFETCH(bool, chinese);
        QFETCH(QString, title);
        QFETCH(QString, subtitle);
        QFETCH(QString, status);
        L10n::setIsChineseForTesting(chinese);
        const auto badge = makeBadge(feedback);
        QCOMPARE(badge->title(), title);
        QCOMPARE(badge->subtitle(), subtitle);
        QCOMPARE(badge->statusText(), status);
    }

    void testPalettesAndSymbols_data()
    {
        QTest::addColumn<CaptureFeedback>("feedback");
        QTest::addColumn<int>("outcome");
        QTest::addColumn<QColor>("accent");
        QTest::addColumn<QColor>("statusForeground");
        QTest::addColumn<QString>("statusSymbol");
        QTest::addColumn<QString>("kindSymbol");

        const auto rgb = [](double r, double g, double b) { return IslandTheme::rgb(r, g, b); };
        QTest::newRow("saved text") << feedback(ClipKind::text, {}, false, Status::saved()) << int(Outcome::saved)
                                    << rgb(0.36, 0.78, 0.54) << rgb(0.52, 0.92, 0.68)
                                    << QStringLiteral("checkmark.circle.fill") << QStringLiteral("doc.text.fill");
        QTest::newRow("duplicate link") << feedback(ClipKind::url, {}, false, Status::duplicate())
                                        << int(Outcome::duplicate) << rgb(0.38, 0.64, 0.96) << rgb(0.58, 0.78, 1.0)
                                        << QStringLiteral("arrow.triangle.2.circlepath") << QStringLiteral("link");
        QTest::newRow("ignored file") << feedback(ClipKind::file, {}, false, Status::ignored(QStringLiteral("x")))
                                      << int(Outcome::ignored) << IslandTheme::white(0.28) << IslandTheme::white(0.58)
                                      << QStringLiteral("minus.circle.fill") << QStringLiteral("doc.fill");
        QTest::newRow("failed image") << feedback(ClipKind::image, {}, false, Status::failed(QStringLiteral("x")))
                                      << int(Outcome::failed) << rgb(1.0, 0.36, 0.34) << rgb(1.0, 0.52, 0.48)
                                      << QStringLiteral("xmark.circle.fill") << QStringLiteral("photo.fill");
        QTest::newRow("failed, nothing read")
            << feedback(std::nullopt, {}, false, Status::failed(QStringLiteral("x"))) << int(Outcome::failed)
            << rgb(1.0, 0.36, 0.34) << rgb(1.0, 0.52, 0.48) << QStringLiteral("xmark.circle.fill")
            << QStringLiteral("doc.on.clipboard.fill");
        // Sensitive wins over every status, in both places.
        QTest::newRow("sensitive duplicate") << feedback(ClipKind::text, {}, true, Status::duplicate())
                                             << int(Outcome::sensitive) << rgb(1.0, 0.62, 0.22) << rgb(1.0, 0.78, 0.42)
                                             << QStringLiteral("lock.fill") << QStringLiteral("lock.fill");
        QTest::newRow("sensitive ignored") << feedback(std::nullopt, {}, true, Status::ignored(QStringLiteral("敏感")))
                                           << int(Outcome::sensitive) << rgb(1.0, 0.62, 0.22) << rgb(1.0, 0.78, 0.42)
                                           << QStringLiteral("lock.fill") << QStringLiteral("lock.fill");
    }

    void testPalettesAndSymbols()
    {
        QFETCH(CaptureFeedback, feedback);
        QFETCH(int, outcome);
        QFETCH(QColor, accent);
        QFETCH(QColor, statusForeground);
        QFETCH(QString, statusSymbol);
        QFETCH(QString, kindSymbol);
        const auto badge = makeBadge(feedback);
        QCOMPARE(int(CaptureEchoHUDView::outcome(feedback)), outcome);
        QCOMPARE(badge->palette().accent, accent);
        QCOMPARE(badge->palette().statusForeground, statusForeground);
        QCOMPARE(badge->palette().statusSymbol, statusSymbol);
        QCOMPARE(badge->kindSymbol(), kindSymbol);
        QVERIFY2(IslandIcons::contains(statusSymbol) && IslandIcons::contains(kindSymbol),
                 "the icon provider draws both");
    }

    void testStatusWordTranslation_data()
    {
        QTest::addColumn<QString>("word");
        QTest::addColumn<QString>("english");
        QTest::newRow("exact") << QStringLiteral("未保存") << QStringLiteral("Not saved");
        QTest::newRow("sensitive") << QStringLiteral("敏感") << QStringLiteral("Sensitive");
        QTest::newRow("beginning replaced, rest kept")
            << QStringLiteral("敏感 · 1Password") << QStringLiteral("Sensitive · 1Password");
        QTest::newRow("unknown word unchanged") << QStringLiteral("同步中") << QStringLiteral("同步中");
        QTest::newRow("key inside is no match") << QStringLiteral("未重复") << QStringLiteral("未重复");
    }

    void testStatusWordTranslation()
    {
        QFETCH(QString, word);
        QFETCH(QString, english);
        QCOMPARE(CaptureEchoHUDView::localizedStatusLabel(word), english);
        L10n::setIsChineseForTesting(true);
        QCOMPARE(CaptureEchoHUDView::localizedStatusLabel(word), word);
    }

    void testLayout()
    {
        const auto badge = makeBadge(feedback(ClipKind::text, QStringLiteral("TextEdit"), false, Status::saved()));
        // The widget has room for the glow; the badge keeps the rectangle it was given.
        QCOMPARE(badge->badgeGeometry(), QRect(10, 7, 260, 44));
        const QRectF b = badge->badgeRect();
        QCOMPARE(badge->iconBadgeRect(), QRectF(b.left() + 12, b.top() + 8, 28, 28));
        QCOMPARE(badge->statusBadgeRect().right(), b.right() - 10);
        QCOMPARE(badge->statusBadgeRect().height(), 22.0);
        QCOMPARE(badge->statusBadgeRect().center().y(), b.center().y());
        QCOMPARE(badge->titleRect().left(), badge->iconBadgeRect().right() + 10);
        QCOMPARE(badge->titleRect().top(), b.top() + 8);
        QCOMPARE(badge->subtitleRect().top(), badge->titleRect().bottom() + 1);
        QVERIFY(badge->subtitleRect().bottom() <= b.bottom());
        QVERIFY(badge->titleRect().right() <= badge->statusBadgeRect().left() - 8);
    }

    void testStatusWordNeverTruncatesTextsDo()
    {
        const QString source = QStringLiteral("An application with a very long name indeed");
        const auto badge = makeBadge(feedback(ClipKind::text, source, true, Status::duplicate()), 200);
        QCOMPARE(badge->displayedStatusText(), QStringLiteral("Duplicate"));
        QVERIFY(
            badge->statusLabelRect().width() >=
            QFontMetricsF(IslandTheme::systemFont(10.5, QFont::Bold)).horizontalAdvance(QStringLiteral("Duplicate")));
        QVERIFY(badge->displayedSubtitle().endsWith(QChar(0x2026)));
        QVERIFY(badge->displayedSubtitle().size() < badge->subtitle().size());
        QCOMPARE(badge->displayedTitle(), badge->title().left(badge->displayedTitle().size() - 1) + QChar(0x2026));
    }

    void testClicksPassThrough()
    {
        QWidget island;
        island.resize(280, 58);
        auto* badge = new CaptureEchoHUDView(&island);
        badge->configure(feedback(ClipKind::text, {}, false, Status::saved()));
        badge->setBadgeGeometry(QRect(10, 7, 260, 44));
        QCOMPARE(island.childAt(QPoint(140, 29)), nullptr);
    }

    void testPaintsTheOutcomeColours()
    {
        // Inside the status pill, left of its icon: the pill's tint over the badge.
        const auto tintAt = [](const CaptureFeedback& f) {
            const auto badge = makeBadge(f);
            const QImage image = paint(*badge);
            const QRectF pill = badge->statusBadgeRect();
            return image.pixelColor(QPoint(int(pill.left() + 3), int(pill.center().y())));
        };
        const QColor saved = tintAt(feedback(ClipKind::text, {}, false, Status::saved()));
        const QColor failed = tintAt(feedback(ClipKind::text, {}, false, Status::failed(QStringLiteral("x"))));
        const QColor sensitive = tintAt(feedback(ClipKind::text, {}, true, Status::saved()));
        QVERIFY2(saved.green() > saved.red(), qPrintable(saved.name()));
        QVERIFY2(failed.red() > failed.green(), qPrintable(failed.name()));
        QVERIFY2(sensitive.red() > sensitive.blue() && sensitive.green() > sensitive.blue(),
                 qPrintable(sensitive.name()));
        // Nothing is drawn outside the badge while the glow rests at 0.
        const auto badge = makeBadge(feedback(ClipKind::text, {}, false, Status::saved()));
        QCOMPARE(paint(*badge).pixelColor(QPoint(4, 4)).alpha(), 0);
    }

    void testRevealScalesFadesAndRaisesTheGlow()
    {
        const auto badge = makeBadge(feedback(ClipKind::text, QStringLiteral("TextEdit"), false, Status::saved()));
        QCOMPARE(badge->glowOpacity(), 0.0);
        badge->playRevealAnimation();
        QCOMPARE(badge->iconBadgeScale(), 0.72);
        QCOMPARE(badge->statusBadgeScale(), 0.88);
        QCOMPARE(badge->statusBadgeAlpha(), 0.0);
        QCOMPARE(badge->titleOpacity(), 0.0);
        QCOMPARE(badge->titleOffset(), -7.0);

        m_scheduler->advance(60);
        QCOMPARE(badge->statusBadgeAlpha(), 1.0);
        QVERIFY(badge->iconBadgeScale() > 0.72);

        double peak = 0;
        for (int ms = 0; ms < 600; ms += 10) {
            m_scheduler->advance(10);
            peak = std::max(peak, badge->glowOpacity());
        }
        QVERIFY2(peak > 0.4 && peak <= 0.42 + 1e-9, qPrintable(QString::number(peak)));
        m_scheduler->advance(1000);
        QCOMPARE(badge->glowOpacity(), CaptureEchoHUDView::kRestingGlowOpacity);
        QCOMPARE(badge->iconBadgeScale(), 1.0);
        QCOMPARE(badge->statusBadgeScale(), 1.0);
        QCOMPARE(badge->titleOpacity(), 1.0);
        QCOMPARE(badge->subtitleOffset(), 0.0);

        // A new capture starts without glow.
        badge->configure(feedback(ClipKind::url, {}, false, Status::duplicate()));
        QCOMPARE(badge->glowOpacity(), 0.0);
    }

    void testRevealWithReduceMotionOnlySetsTheGlow()
    {
        Platform::MotionPreferences::setReduceMotionForTesting(true);
        const auto badge = makeBadge(feedback(ClipKind::text, {}, false, Status::saved()));
        badge->playRevealAnimation();
        QCOMPARE(badge->glowOpacity(), CaptureEchoHUDView::kRestingGlowOpacity);
        QCOMPARE(badge->iconBadgeScale(), 1.0);
        QCOMPARE(badge->statusBadgeScale(), 1.0);
        QCOMPARE(badge->statusBadgeAlpha(), 1.0);
        QCOMPARE(badge->titleOpacity(), 1.0);
        QCOMPARE(IslandAnimator::shared().count(), 0);
    }
};

QUILLOMARE_GUI_TEST_MAIN(CaptureEchoHUDViewTest)
#include "tst_captureechohudview.moc"
