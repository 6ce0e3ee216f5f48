#include "TestSupport.h"

#include "Island/IslandIconButton.h"
#include "Island/IslandScheduler.h"
#include "Island/IslandSegmentedPillControl.h"
#include "Island/IslandTheme.h"
#include "Island/IslandToastView.h"
#include "Island/IslandView.h"

#include <Platform/UserDefaults.h>

#include <QAction>
#include <QApplication>
#include <QLabel>
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

    void buttonsInBothLanguages_data();
    void buttonsInBothLanguages();
    void buttonsFireTheirCallbacks();
    void searchButtonShowsTheHistoryAndFocusesTheField();
    void configureShowsCountSyncAndMessage_data();
    void configureShowsCountSyncAndMessage();
    void modeLabelsFollowEveryConfigure_data();
    void modeLabelsFollowEveryConfigure();
    void messageFlashesOnlyOnTheExpandedIsland();
    void languageMenu_data();
    void languageMenu();
    void choosingTheCheckedLanguageStillFires();

private:
    void makeView(bool chinese);

    std::shared_ptr<ManualIslandScheduler> m_scheduler;
    std::unique_ptr<QWidget> m_canvas;
    IslandView* m_view = nullptr;
};

void TestIslandViewHeader::init()
{
    m_scheduler = std::make_shared<ManualIslandScheduler>();
    IslandScheduler::setSharedForTesting(m_scheduler);
    Platform::UserDefaults::standard()->remove(L10n::preferenceKey);
    makeView(false);
}

void TestIslandViewHeader::cleanup()
{
    m_canvas.reset();
    m_scheduler->advance(5000);
    IslandScheduler::setSharedForTesting(nullptr);
}

void TestIslandViewHeader::makeView(bool chinese)
{
    L10n::setIsChineseForTesting(chinese);
    m_canvas.reset();
    m_canvas = std::make_unique<QWidget>();
    m_canvas->resize(780, 430);
    m_view = new IslandView(QRect(297, 0, 185, 32), m_canvas.get());
    m_canvas->show();
}

void TestIslandViewHeader::buttonsInBothLanguages_data()
{
    QTest::addColumn<bool>("chinese");
    QTest::addColumn<QStringList>("tooltips");
    QTest::addColumn<QStringList>("modeLabels");
    QTest::addColumn<QString>("placeholder");

    QTest::newRow("Chinese") << true
                             << QStringList{QStringLiteral("界面语言"), QStringLiteral("搜索历史"),
                                            QStringLiteral("设置"), QStringLiteral("退出Quillomare"),
                                            QStringLiteral("高级同步：从 iCloud 拉取"), QStringLiteral("隐藏")}
                             << QStringList{QStringLiteral("历史 0"), QStringLiteral("暂存架 0")}
                             << QStringLiteral("搜索历史");
    QTest::newRow("English") << false
                             << QStringList{QStringLiteral("Language"), QStringLiteral("Search history"),
                                            QStringLiteral("Settings"), QStringLiteral("Quit Quillomare"),
                                            QStringLiteral("Advanced sync: pull from iCloud"), QStringLiteral("Hide")}
                             << QStringList{QStringLiteral("History 0"), QStringLiteral("Shelf 0")}
                             << QStringLiteral("Search history");
}

void TestIslandViewHeader::buttonsInBothLanguages()
{
    QFETCH(bool, chinese);
    QFETCH(QStringList, tooltips);
    QFETCH(QStringList, modeLabels);
    QFETCH(QString, placeholder);

    makeView(chinese);
    const QList<IslandIconButton*> buttons{m_view->languageButton(), m_view->searchButton(), m_view->settingsButton(),
                                           m_view->quitButton(),     m_view->pullButton(),   m_view->hideButton()};
    QStringList shownTooltips;
    QStringList symbols;
    for (IslandIconButton* button : buttons) {
        shownTooltips.append(button->tooltipText());
        symbols.append(button->symbol());
    }
    QCOMPARE(shownTooltips, tooltips);
    QCOMPARE(symbols, (QStringList{QStringLiteral("globe"), QStringLiteral("magnifyingglass"),
                                   QStringLiteral("gearshape"), QStringLiteral("power"),
                                   QStringLiteral("arrow.down.icloud"), QStringLiteral("xmark")}));
    // Before anything is configured the switch counts nothing.
    QCOMPARE(m_view->modeControl()->labels(), modeLabels);
    QCOMPARE(m_view->searchPlaceholderLabel()->text(), placeholder);
    QCOMPARE(m_view->collapsedTitleLabel()->text(), QStringLiteral("Quillomare"));
    QCOMPARE(m_view->collapsedMetaLabel()->text(), QStringLiteral("0"));
}

void TestIslandViewHeader::buttonsFireTheirCallbacks()
{
    m_view->setDisplayMode(Mode::expanded, false);
    m_view->setGeometry(0, 0, 780, 430);
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
    QVERIFY(QTest::qWaitForWindowActive(m_canvas.get()));
    m_view->setDisplayMode(Mode::expanded, false);
    m_view->setGeometry(0, 0, 780, 430);
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
    QTest::addColumn<QColor>("dot");
    QTest::addColumn<QString>("headerTooltip");

    const QColor grey = IslandTheme::white(0.46);
    const QString recently = QStringLiteral("Recently copied: entry 0");
    const QString recentlyZh = QStringLiteral("最近复制：entry 0");
    QTest::newRow("idle") << false << CloudSyncState::idle() << 2 << QStringLiteral("2 · Synced")
                          << IslandTheme::rgb(0.36, 0.78, 0.54) << recently;
    QTest::newRow("syncing") << false << CloudSyncState::syncing() << 1 << QStringLiteral("1 · Syncing")
                             << IslandTheme::rgb(0.38, 0.64, 0.96) << recently;
    QTest::newRow("failed, any message") << false << CloudSyncState::failed(QStringLiteral("boom")) << 1
                                         << QStringLiteral("1 · Error") << IslandTheme::rgb(1.0, 0.36, 0.34)
                                         << recently;
    QTest::newRow("unavailable, any reason") << false << CloudSyncState::unavailable(QStringLiteral("no account"))
                                             << 0 << QStringLiteral("0 · Offline") << grey
                                             << QStringLiteral("Copied content appears here");
    QTest::newRow("disabled") << false << CloudSyncState::disabled() << 3 << QStringLiteral("3 · Local") << grey
                              << recently;
    QTest::newRow("idle, Chinese") << true << CloudSyncState::idle() << 2 << QStringLiteral("2 · 已同步")
                                   << IslandTheme::rgb(0.36, 0.78, 0.54) << recentlyZh;
    QTest::newRow("syncing, Chinese") << true << CloudSyncState::syncing() << 1 << QStringLiteral("1 · 同步中")
                                      << IslandTheme::rgb(0.38, 0.64, 0.96) << recentlyZh;
    QTest::newRow("failed, Chinese") << true << CloudSyncState::failed({}) << 1 << QStringLiteral("1 · 异常")
                                     << IslandTheme::rgb(1.0, 0.36, 0.34) << recentlyZh;
    QTest::newRow("unavailable, Chinese") << true << CloudSyncState::unavailable({}) << 0
                                          << QStringLiteral("0 · 离线") << grey
                                          << QStringLiteral("复制内容后会出现在这里");
    QTest::newRow("disabled, Chinese") << true << CloudSyncState::disabled() << 1 << QStringLiteral("1 · 本地")
                                       << grey << recentlyZh;
}

void TestIslandViewHeader::configureShowsCountSyncAndMessage()
{
    QFETCH(bool, chinese);
    QFETCH(CloudSyncState, state);
    QFETCH(int, count);
    QFETCH(QString, meta);
    QFETCH(QColor, dot);
    QFETCH(QString, headerTooltip);

    makeView(chinese);
    QList<QuillomareCore::ClipboardItem> items;
    for (int i = 0; i < count; ++i)
        items.append(QuillomareTest::textItem(QStringLiteral("entry %1").arg(i), QuillomareTest::at(-i)));
    m_view->configure(items, state, std::nullopt);

    QCOMPARE(m_view->collapsedMetaLabel()->text(), meta);
    QCOMPARE(m_view->collapsedDotColor(), dot);
    QCOMPARE(m_view->toolTip(), QStringLiteral("Quillomare · ") + meta);
    QCOMPARE(m_view->headerStack()->toolTip(), headerTooltip);
    // The count shows whole on the pill.
    QVERIFY(m_view->collapsedMetaLabel()->width() >= m_view->collapsedMetaLabel()->sizeHint().width());

    // A message from the shell takes the header's tooltip.
    m_view->configure(items, state, QStringLiteral("Copied"));
    QCOMPARE(m_view->headerStack()->toolTip(), QStringLiteral("Copied"));
}

void TestIslandViewHeader::modeLabelsFollowEveryConfigure_data()
{
    QTest::addColumn<bool>("chinese");
    QTest::newRow("English") << false;
    QTest::newRow("Chinese") << true;
}

void TestIslandViewHeader::modeLabelsFollowEveryConfigure()
{
    QFETCH(bool, chinese);
    makeView(chinese);
    const QString history = chinese ? QStringLiteral("历史 ") : QStringLiteral("History ");
    const QString shelf = chinese ? QStringLiteral("暂存架 ") : QStringLiteral("Shelf ");

    QList<QuillomareCore::ClipboardItem> items;
    for (int i = 0; i < 1234; ++i)
        items.append(QuillomareTest::textItem(QString::number(i), QuillomareTest::at(-i)));
    m_view->configure(items, CloudSyncState::idle(), std::nullopt);
    // No grouping separators.
    QCOMPARE(m_view->modeControl()->labels(), (QStringList{history + QStringLiteral("1234"), shelf + QStringLiteral("0")}));
    m_view->configure(items.mid(0, 3), CloudSyncState::idle(), std::nullopt);
    QCOMPARE(m_view->modeControl()->labels(), (QStringList{history + QStringLiteral("3"), shelf + QStringLiteral("0")}));
}

void TestIslandViewHeader::messageFlashesOnlyOnTheExpandedIsland()
{
    const auto items = QList{QuillomareTest::textItem(QStringLiteral("a"), QuillomareTest::at(0))};
    m_view->configure(items, CloudSyncState::idle(), QStringLiteral("While collapsed"));
    QVERIFY(!m_view->transientToast() || m_view->transientToast()->isHidden());

    m_view->setDisplayMode(Mode::expanded, false);
    m_view->setGeometry(0, 0, 780, 430);
    m_view->configure(items, CloudSyncState::idle(), std::nullopt);
    QVERIFY(!m_view->transientToast() || m_view->transientToast()->isHidden());

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

    QTest::newRow("nothing stored") << false << QString() << 0;
    QTest::newRow("english") << false << QStringLiteral("english") << 2;
    QTest::newRow("chinese, Chinese interface") << true << QStringLiteral("chinese") << 1;
    QTest::newRow("system, Chinese interface") << true << QStringLiteral("system") << 0;
    QTest::newRow("a value naming no case") << false << QStringLiteral("klingon") << 0;
}

void TestIslandViewHeader::languageMenu()
{
    QFETCH(bool, chinese);
    QFETCH(QString, stored);
    QFETCH(int, checked);

    makeView(chinese);
    m_view->setDisplayMode(Mode::expanded, false);
    m_view->setGeometry(0, 0, 780, 430);
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

    actions[1]->trigger();
    QCOMPARE(chosen, std::optional(AppLanguagePreference::chinese));
    actions[4]->trigger(); // the note chooses nothing
    QCOMPARE(chosen, std::optional(AppLanguagePreference::chinese));
    menu->close();
}

void TestIslandViewHeader::choosingTheCheckedLanguageStillFires()
{
    Platform::UserDefaults::standard()->setValue(L10n::preferenceKey, QStringLiteral("english"));
    int changes = 0;
    m_view->onChangeLanguage = [&](AppLanguagePreference preference) {
        QCOMPARE(preference, AppLanguagePreference::english);
        ++changes;
    };
    m_view->languageTapped(m_view->languageButton());
    QAction* english = m_view->languageMenu()->actions().at(2);
    QVERIFY(english->isChecked());
    english->trigger();
    QCOMPARE(changes, 1);
    // The menu is made afresh each time, with the stored choice of that moment.
    Platform::UserDefaults::standard()->remove(L10n::preferenceKey);
    m_view->languageTapped(m_view->languageButton());
    QVERIFY(m_view->languageMenu()->actions().at(0)->isChecked());
    m_view->languageMenu()->close();
}

QUILLOMARE_GUI_TEST_MAIN(TestIslandViewHeader)
#include "tst_islandviewheader.moc"
