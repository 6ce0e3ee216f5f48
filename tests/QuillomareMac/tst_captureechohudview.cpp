#include "TestSupport.h"

#include <QuillomareMac/Island/CaptureEchoHUDView.h>
#include <QuillomareMac/Island/Kit/IslandAnimation.h>
#include <QuillomareMac/Island/Kit/IslandScheduler.h>
#include <QuillomareMac/Island/Kit/IslandTheme.h>

#include <Platform/MotionPreferences.h>
#include <QuillomareCore/Language.h>

#include <QApplication>
#include <QImage>
#include <QPainter>

using namespace QuillomareMac;
namespace Language = QuillomareCore::Language;
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
        Language::setIsChineseForTesting(false);
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
        const QString fromQuillomare = QStringLiteral("Saved to Quillomare");
        const QString notInHistory = QStringLiteral("Not in history");
        QTest::newRow("saved, name trimmed") << feedback(ClipKind::url, QStringLiteral("  Safari\n"), false, Status::saved())
                                             << false << "Link" << "From Safari" << "Saved";
        QTest::newRow("saved without a source") << feedback(ClipKind::image, std::nullopt, false, Status::saved())
                                                << false << "Image" << fromQuillomare << "Saved";
        QTest::newRow("blank source counts as absent")
            << feedback(ClipKind::file, QStringLiteral("   "), false, Status::duplicate()) << false << "File"
            << fromQuillomare << "Duplicate";
        QTest::newRow("sensitive duplicate") << feedback(text, QStringLiteral("Keychain"), true, Status::duplicate())
                                             << false << "Sensitive content" << "From Keychain" << "Duplicate";
        QTest::newRow("ignored shows its reason unchanged")
            << feedback(std::nullopt, QStringLiteral("1Password"), false, Status::ignored(ignoredReason)) << false
            << "Clipboard" << ignoredReason << "Ignored";
        // Nothing was kept: the line must not say it was saved.
        QTest::newRow("ignored without reason or source")
            << feedback(text, std::nullopt, false, Status::ignored(QString())) << false << "Text" << notInHistory
            << "Ignored";
        QTest::newRow("ignored without reason or source, Chinese")
            << feedback(text, std::nullopt, false, Status::ignored(QString())) << true << "文本" << "未存入历史"
            << "已忽略";
        QTest::newRow("ignored with a blank reason")
            << feedback(text, std::nullopt, false, Status::ignored(QStringLiteral(" \n"))) << false << "Text"
            << notInHistory << "Ignored";
        QTest::newRow("failed shows its reason before the source")
            << feedback(text, QStringLiteral("Notes"), false, Status::failed(QStringLiteral("磁盘已满"))) << false
            << "Text" << "磁盘已满" << "Not saved";
        QTest::newRow("failed without reason names the source")
            << feedback(ClipKind::image, QStringLiteral("GIMP"), false, Status::failed(QString())) << false << "Image"
            << "From GIMP" << "Not saved";
    }

    void testTexts()
    {
        QFETCH(CaptureFeedback, feedback);
        QFETCH(bool, chinese);
        QFETCH(QString, title);
        QFETCH(QString, subtitle);
        QFETCH(QString, status);
        Language::setIsChineseForTesting(chinese);
        const auto badge = makeBadge(feedback);
        QCOMPARE(badge->title(), title);
        QCOMPARE(badge->subtitle(), subtitle);
        QCOMPARE(badge->statusText(), status);
    }

    void testOutcomesAndSymbols_data()
    {
        QTest::addColumn<CaptureFeedback>("feedback");
        QTest::addColumn<int>("outcome");
        QTest::addColumn<QString>("statusSymbol");
        QTest::addColumn<QString>("kindSymbol");

        const Status failed = Status::failed(QStringLiteral("x"));
        QTest::newRow("saved text") << feedback(ClipKind::text, {}, false, Status::saved()) << int(Outcome::saved)
                                    << "checkmark.circle.fill" << "doc.text.fill";
        QTest::newRow("duplicate link") << feedback(ClipKind::url, {}, false, Status::duplicate())
                                        << int(Outcome::duplicate) << "arrow.triangle.2.circlepath" << "link";
        QTest::newRow("ignored file") << feedback(ClipKind::file, {}, false, Status::ignored(QStringLiteral("x")))
                                      << int(Outcome::ignored) << "minus.circle.fill" << "doc.fill";
        QTest::newRow("failed image") << feedback(ClipKind::image, {}, false, failed) << int(Outcome::failed)
                                      << "xmark.circle.fill" << "photo.fill";
        QTest::newRow("failed, nothing read") << feedback(std::nullopt, {}, false, failed) << int(Outcome::failed)
                                              << "xmark.circle.fill" << "doc.on.clipboard.fill";
        // Sensitive wins over the status, in both places.
        QTest::newRow("sensitive duplicate") << feedback(ClipKind::text, {}, true, Status::duplicate())
                                             << int(Outcome::sensitive) << "lock.fill" << "lock.fill";
    }

    void testOutcomesAndSymbols()
    {
        QFETCH(CaptureFeedback, feedback);
        QFETCH(int, outcome);
        QFETCH(QString, statusSymbol);
        QFETCH(QString, kindSymbol);
        const auto badge = makeBadge(feedback);
        QCOMPARE(int(CaptureEchoHUDView::outcome(feedback)), outcome);
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
        Language::setIsChineseForTesting(true);
        QCOMPARE(CaptureEchoHUDView::localizedStatusLabel(word), word);
    }

    void testLayoutLetsClicksThrough()
    {
        QWidget island;
        island.resize(280, 58);
        auto* badge = new CaptureEchoHUDView(&island);
        badge->configure(feedback(ClipKind::text, QStringLiteral("TextEdit"), false, Status::saved()));
        badge->setBadgeGeometry(QRect(10, 7, 260, CaptureEchoHUDView::kBadgeHeight));
        QCOMPARE(island.childAt(QPoint(140, 29)), nullptr);
        // The widget has room for the glow; the badge keeps the rectangle it was given.
        QCOMPARE(badge->badgeGeometry(), QRect(10, 7, 260, 44));
        const QRectF b = badge->badgeRect();
        // Icon at the left, status at the right, both centred; the texts between them.
        QCOMPARE(badge->iconBadgeRect().center().y(), b.center().y());
        QCOMPARE(badge->statusBadgeRect().center().y(), b.center().y());
        QVERIFY(badge->iconBadgeRect().left() > b.left() && badge->statusBadgeRect().right() < b.right());
        QVERIFY(badge->titleRect().left() > badge->iconBadgeRect().right());
        QVERIFY(badge->titleRect().right() <= badge->statusBadgeRect().left() - 8);
        QCOMPARE(badge->subtitleRect().top(), badge->titleRect().bottom() + 1);
        QVERIFY(badge->titleRect().top() >= b.top() && badge->subtitleRect().bottom() <= b.bottom());
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
        // Everything starts small, transparent or out of place.
        QVERIFY(badge->iconBadgeScale() < 1 && badge->statusBadgeScale() < 1);
        QCOMPARE(badge->statusBadgeAlpha(), 0.0);
        QCOMPARE(badge->titleOpacity(), 0.0);
        QVERIFY(badge->titleOffset() != 0);
        const double startScale = badge->iconBadgeScale();

        m_scheduler->advance(60);
        QCOMPARE(badge->statusBadgeAlpha(), 1.0);
        QVERIFY(badge->iconBadgeScale() > startScale);

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
