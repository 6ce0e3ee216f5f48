#include "IslandViewTestRig.h"
#include "TestSupport.h"

#include "Island/Kit/IslandIconButton.h"
#include "Island/Kit/IslandScheduler.h"
#include "Island/Kit/IslandSegmentedPillControl.h"
#include "Island/Kit/IslandTheme.h"
#include "Island/Kit/IslandToastView.h"
#include "Island/IslandView.h"
#include "Island/Kit/TabularFigures.h"
#include "Shell/Localization.h"

#include <Platform/UserDefaults.h>

#include <QAction>
#include <QApplication>
#include <QFontMetricsF>
#include <QLabel>
#include <QLayout>
#include <QLineEdit>
#include <QMenu>

#include <memory>

using namespace QuillomareMac;
using QuillomareCore::CloudSyncState;
using Mode = IslandView::DisplayMode;

// The island's header and status texts: the buttons and what they fire, the language menu, the
// mode switch's counts, and what the history and sync state show on the collapsed island.
class TestIslandViewHeader : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init();
    void cleanup();

    void buttonsInBothLanguages();
    void buttonsFireTheirCallbacks();
    void searchButtonShowsTheHistoryAndFocusesTheField();
    void configureShowsCountSyncAndMessage_data();
    void configureShowsCountSyncAndMessage();
    void collapsedCountKeepsItsDigitsInPlace();
    void modeLabelsFollowEveryConfigure();
    void messageFlashesOnlyOnTheExpandedIsland();
    void languageMenu_data();
    void languageMenu();

private:
    void makeView(bool chinese);

    std::unique_ptr<QuillomareTest::IslandViewTestRig> m_rig;
    std::shared_ptr<ManualIslandScheduler> m_scheduler;
    QWidget* m_canvas = nullptr;
    IslandView* m_view = nullptr;
};

void TestIslandViewHeader::init()
{
    Platform::UserDefaults::standard()->remove(L10n::preferenceKey);
    makeView(false);
}

void TestIslandViewHeader::cleanup()
{
    m_rig.reset();
}

void TestIslandViewHeader::makeView(bool chinese)
{
    m_rig.reset(); // before the new rig: the old one puts the shared clock back as it goes
    m_rig = std::make_unique<QuillomareTest::IslandViewTestRig>(QRect(297, 0, 185, 32), chinese);
    m_scheduler = m_rig->scheduler;
    m_canvas = m_rig->canvas.get();
    m_view = m_rig->view;
    m_canvas->show();
}

void TestIslandViewHeader::buttonsInBothLanguages()
{
    // Every header button says what it does, and says it again in the other language.
    const auto tooltips = [this] {
        QStringList texts;
        for (IslandIconButton* button : {m_view->languageButton(), m_view->searchButton(), m_view->settingsButton(),
                                         m_view->quitButton(), m_view->pullButton(), m_view->hideButton()})
            texts.append(button->tooltipText());
        return texts;
    };
    const QStringList english = tooltips();
    QCOMPARE(QStringList(english).removeDuplicates(), 0);
    QVERIFY(!english.contains(QString()));
    // Before anything is configured the switch counts nothing.
    QCOMPARE(m_view->modeControl()->labels(), (QStringList{QStringLiteral("History 0"), QStringLiteral("Shelf 0")}));
    QCOMPARE(m_view->searchPlaceholderLabel()->text(), QStringLiteral("Search history"));
    QCOMPARE(m_view->collapsedTitleLabel()->text(), QStringLiteral("Quillomare"));
    QCOMPARE(m_view->collapsedMetaLabel()->text(), QStringLiteral("0"));

    makeView(true);
    const QStringList chinese = tooltips();
    for (qsizetype i = 0; i < english.size(); ++i)
        QVERIFY2(chinese[i] != english[i], qPrintable(english[i]));
    QCOMPARE(m_view->modeControl()->labels(), (QStringList{QStringLiteral("历史 0"), QStringLiteral("暂存架 0")}));
}

void TestIslandViewHeader::buttonsFireTheirCallbacks()
{
    m_rig->expand();
    QStringList fired;
    QWidget* anchor = nullptr;
    m_view->onHide = [&] { fired.append(QStringLiteral("hide")); };
    m_view->onQuit = [&] { fired.append(QStringLiteral("quit")); };
    m_view->onPullFromIPhone = [&] { fired.append(QStringLiteral("pull")); };
    m_view->onShowSettings = [&](QWidget* from) {
        fired.append(QStringLiteral("settings"));
        anchor = from;
    };
    QTest::mouseClick(m_view->hideButton(), Qt::LeftButton);
    QTest::mouseClick(m_view->settingsButton(), Qt::LeftButton);
    // Never shown, still wired.
    m_view->quitButton()->click();
    m_view->pullButton()->click();
    QCOMPARE(fired, (QStringList{QStringLiteral("hide"), QStringLiteral("settings"), QStringLiteral("quit"),
                                 QStringLiteral("pull")}));
    QCOMPARE(anchor, m_view->settingsButton());

    // Unset callbacks are skipped.
    m_view->onHide = nullptr;
    QTest::mouseClick(m_view->hideButton(), Qt::LeftButton);
    QCOMPARE(fired.size(), 4);
}

void TestIslandViewHeader::searchButtonShowsTheHistoryAndFocusesTheField()
{
    m_canvas->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(m_canvas));
    m_rig->expand();
    m_view->setContentMode(IslandView::ContentMode::shelfGallery, false);
    m_view->searchInput()->setText(QStringLiteral("kept"));
    QTest::mouseClick(m_view->searchButton(), Qt::LeftButton);
    QCOMPARE(m_view->contentMode(), IslandView::ContentMode::history);
    QCOMPARE(QApplication::focusWidget(), m_view->searchInput());
    QCOMPARE(m_view->searchInput()->text(), QStringLiteral("kept"));
}

void TestIslandViewHeader::configureShowsCountSyncAndMessage_data()
{
    QTest::addColumn<bool>("chinese");
    QTest::addColumn<CloudSyncState>("state");
    QTest::addColumn<int>("count");
    QTest::addColumn<QString>("meta");
    QTest::addColumn<QString>("headerTooltip");

    const QString recently = QStringLiteral("Recently copied: entry 0");
    QTest::newRow("idle") << false << CloudSyncState::idle() << 2 << QStringLiteral("2 · Synced") << recently;
    QTest::newRow("syncing") << false << CloudSyncState::syncing() << 1 << QStringLiteral("1 · Syncing") << recently;
    QTest::newRow("failed, any message") << false << CloudSyncState::failed(QStringLiteral("boom")) << 1
                                         << QStringLiteral("1 · Error") << recently;
    QTest::newRow("unavailable, any reason") << false << CloudSyncState::unavailable(QStringLiteral("no account"))
                                             << 0 << QStringLiteral("0 · Offline")
                                             << QStringLiteral("Copied content appears here");
    QTest::newRow("disabled") << false << CloudSyncState::disabled() << 3 << QStringLiteral("3 · Local") << recently;
    QTest::newRow("idle, Chinese") << true << CloudSyncState::idle() << 2 << QStringLiteral("2 · 已同步")
                                   << QStringLiteral("最近复制：entry 0");
}

void TestIslandViewHeader::configureShowsCountSyncAndMessage()
{
    QFETCH(bool, chinese);
    QFETCH(CloudSyncState, state);
    QFETCH(int, count);
    QFETCH(QString, meta);
    QFETCH(QString, headerTooltip);

    makeView(chinese);
    QList<QuillomareCore::ClipboardItem> items;
    for (int i = 0; i < count; ++i)
        items.append(QuillomareTest::textItem(QStringLiteral("entry %1").arg(i), QuillomareTest::at(-i)));
    m_view->configure(items, state, std::nullopt);

    QCOMPARE(m_view->collapsedMetaLabel()->text(), meta);
    QCOMPARE(m_view->toolTip(), QStringLiteral("Quillomare · ") + meta);
    QCOMPARE(m_view->headerStack()->toolTip(), headerTooltip);
    // The dot is grey only when nothing syncs.
    const QColor dot = m_view->collapsedDotColor();
    QCOMPARE(dot.red() == dot.green() && dot.green() == dot.blue(),
             state == CloudSyncState::disabled() || state.caseOf() == CloudSyncState::Case::unavailable);
    // The count shows whole on the pill.
    QVERIFY(m_view->collapsedMetaLabel()->width() >= m_view->collapsedMetaLabel()->sizeHint().width());

    // A message from the shell takes the header's tooltip.
    m_view->configure(items, state, QStringLiteral("Copied"));
    QCOMPARE(m_view->headerStack()->toolTip(), QStringLiteral("Copied"));
}

void TestIslandViewHeader::collapsedCountKeepsItsDigitsInPlace()
{
    // The count sits at the pill's trailing edge; as it goes from 111 to 118 only the last digit
    // is redrawn, the others and the sync word stay where they were.
    m_view->setDisplayMode(IslandView::DisplayMode::collapsed, false);
    QLabel* meta = m_view->collapsedMetaLabel();
    const auto render = [&](const QString& text) {
        meta->setText(text);
        m_view->setGeometry(297, 0, 185, 32);
        m_view->collapsedRoot()->layout()->activate();
        QImage image(m_view->size(), QImage::Format_ARGB32_Premultiplied);
        image.fill(Qt::black);
        m_view->render(&image);
        return image;
    };
    const QImage before = render(QStringLiteral("111 · Local"));
    const QImage after = render(QStringLiteral("118 · Local"));
    QRect changed;
    for (int y = 0; y < before.height(); ++y) {
        for (int x = 0; x < before.width(); ++x) {
            if (before.pixel(x, y) != after.pixel(x, y))
                changed |= QRect(x, y, 1, 1);
        }
    }
    QVERIFY(!changed.isEmpty());
    const qreal digit = TabularFigures::digitAdvance(meta->font());
    QVERIFY2(changed.width() <= std::ceil(digit) + 1,
             qPrintable(QStringLiteral("%1 px changed, a digit is %2").arg(changed.width()).arg(digit)));
    QCOMPARE(meta->sizeHint().width(), [&] {
        meta->setText(QStringLiteral("888 · Local"));
        return meta->sizeHint().width();
    }());
}

void TestIslandViewHeader::modeLabelsFollowEveryConfigure()
{
    QList<QuillomareCore::ClipboardItem> items;
    for (int i = 0; i < 1234; ++i)
        items.append(QuillomareTest::textItem(QString::number(i), QuillomareTest::at(-i)));
    m_view->configure(items, CloudSyncState::idle(), std::nullopt);
    // No grouping separators.
    QCOMPARE(m_view->modeControl()->labels(), (QStringList{QStringLiteral("History 1234"), QStringLiteral("Shelf 0")}));
    m_view->configure(items.mid(0, 3), CloudSyncState::idle(), std::nullopt);
    QCOMPARE(m_view->modeControl()->labels(), (QStringList{QStringLiteral("History 3"), QStringLiteral("Shelf 0")}));
}

void TestIslandViewHeader::messageFlashesOnlyOnTheExpandedIsland()
{
    const auto items = QList{QuillomareTest::textItem(QStringLiteral("a"), QuillomareTest::at(0))};
    m_view->configure(items, CloudSyncState::idle(), QStringLiteral("While collapsed"));
    QVERIFY(!m_view->transientToast() || m_view->transientToast()->isHidden());

    // Read once the island has expanded, and only then.
    m_rig->expand();
    QVERIFY(m_view->transientToast() && !m_view->transientToast()->isHidden());
    QCOMPARE(m_view->transientToast()->text(), QStringLiteral("While collapsed"));
    m_rig->scheduler->advance(3000);
    m_view->configure(items, CloudSyncState::idle(), std::nullopt);
    QVERIFY(m_view->transientToast()->isHidden());

    m_view->configure(items, CloudSyncState::idle(), QStringLiteral("Pinned"));
    IslandToastView* toast = m_view->transientToast();
    QVERIFY(toast);
    QVERIFY(!toast->isHidden());
    QCOMPARE(toast->text(), QStringLiteral("Pinned"));
    // Centred over the expanded content, 46 points below its top.
    const QRect root = m_view->expandedRoot()->geometry();
    QCOMPARE(toast->y(), root.top() + 46);
    QCOMPARE(toast->height(), 30);
    QVERIFY(std::abs(toast->geometry().center().x() - root.center().x()) <= 1);
    m_scheduler->advance(1400 + 280 + 20);
    QVERIFY(toast->isHidden());
}

void TestIslandViewHeader::languageMenu_data()
{
    QTest::addColumn<bool>("chinese");
    QTest::addColumn<QString>("stored"); // empty: nothing stored
    QTest::addColumn<int>("checked");

    // How a stored value is read is the language setting's business: one row for each choice.
    QTest::newRow("nothing stored") << false << QString() << 0;
    QTest::newRow("english") << false << QStringLiteral("english") << 2;
    QTest::newRow("chinese, Chinese interface") << true << QStringLiteral("chinese") << 1;
}

void TestIslandViewHeader::languageMenu()
{
    QFETCH(bool, chinese);
    QFETCH(QString, stored);
    QFETCH(int, checked);

    makeView(chinese);
    m_rig->expand();
    if (!stored.isEmpty())
        Platform::UserDefaults::standard()->setValue(L10n::preferenceKey, stored);

    std::optional<AppLanguagePreference> chosen;
    m_view->onChangeLanguage = [&](AppLanguagePreference preference) { chosen = preference; };
    QTest::mouseClick(m_view->languageButton(), Qt::LeftButton);
    QMenu* menu = m_view->languageMenu();
    QVERIFY(menu);
    QVERIFY(menu->isVisible());

    const QList<QAction*> actions = menu->actions();
    QCOMPARE(actions.size(), 5);
    QStringList titles;
    for (int i = 0; i < 3; ++i) {
        titles.append(actions[i]->text());
        QVERIFY(actions[i]->isEnabled());
        QCOMPARE(actions[i]->isChecked(), i == checked);
    }
    QCOMPARE(titles, (QStringList{chinese ? QStringLiteral("跟随系统") : QStringLiteral("System"),
                                  QStringLiteral("简体中文"), QStringLiteral("English")}));
    QVERIFY(actions[3]->isSeparator());
    QCOMPARE(actions[4]->text(),
             chinese ? QStringLiteral("切换后应用会自动重启") : QStringLiteral("App relaunches to apply"));
    QVERIFY(!actions[4]->isEnabled());

    // Just below the button.
    const QPoint below = m_view->languageButton()->mapToGlobal(QPoint(0, m_view->languageButton()->height() + 4));
    QCOMPARE(menu->y(), below.y());

    // QUILLOMARE_ISLAND_RENDER_DIR keeps a picture of the menu for a look.
    if (const QString keep = qEnvironmentVariable("QUILLOMARE_ISLAND_RENDER_DIR"); !keep.isEmpty())
        menu->grab().toImage().scaled(menu->size() * 3).save(keep + QStringLiteral("/language-menu-") + QString::number(QTest::currentDataTag()[0])
                          + QStringLiteral(".png"));

    // Choosing the checked language fires too; the note chooses nothing.
    actions[checked]->trigger();
    QCOMPARE(chosen, std::optional(AppLanguagePreference(checked)));
    chosen.reset();
    actions[4]->trigger();
    QCOMPARE(chosen, std::nullopt);
    menu->close();

    // The menu is made afresh each time, with the stored choice of that moment.
    Platform::UserDefaults::standard()->remove(L10n::preferenceKey);
    m_view->languageTapped(m_view->languageButton());
    QVERIFY(m_view->languageMenu()->actions().at(0)->isChecked());
    m_view->languageMenu()->close();
}

QUILLOMARE_GUI_TEST_MAIN(TestIslandViewHeader)
#include "tst_islandviewheader.moc"
