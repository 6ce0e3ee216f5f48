// The expanded island's header (the mode switch's labels and the round buttons on the right),
// the language menu, the short status texts the island derives from the sync state and the
// history, and the transient status toast.

#include "IslandView.h"

#include "Island/Kit/IslandScheduler.h"

#include "Island/Kit/IslandIconButton.h"
#include "Island/Kit/IslandSegmentedPillControl.h"
#include "Island/Kit/IslandTheme.h"
#include "Island/Kit/IslandToastView.h"

#include <QuillomareCore/Notice.h>

#include <QAction>
#include <QLabel>
#include <QMenu>
#include <QPainter>
#include <QPainterPath>
#include <QPointer>
#include <QProxyStyle>
#include <QStyleOption>

#include <algorithm>

namespace QuillomareMac {

namespace AppLanguage = QuillomareCore::AppLanguage;
namespace Language = QuillomareCore::Language;

using QuillomareCore::AppLanguagePreference;
using QuillomareCore::ClipboardItem;
using QuillomareCore::CloudSyncState;

namespace {

// Where the toast sits: centred on the expanded root, 46 points below its top.
constexpr int kToastTopOffset = 46;

// The island's menus mark the chosen item with a tick alone, as desktop menus of dark programs
// do; the widget style would draw an empty box beside every other item.
class IslandMenuStyle final : public QProxyStyle
{
public:
    int styleHint(StyleHint hint, const QStyleOption* option, const QWidget* widget,
                  QStyleHintReturn* returnData) const override
    {
        // An etched light shadow under disabled text would read as a second, bright label.
        if (hint == SH_EtchDisabledText)
            return 0;
        return QProxyStyle::styleHint(hint, option, widget, returnData);
    }

    void drawPrimitive(PrimitiveElement element, const QStyleOption* option, QPainter* painter,
                       const QWidget* widget) const override
    {
        if (element != PE_IndicatorCheckBox || !qobject_cast<const QMenu*>(widget)) {
            QProxyStyle::drawPrimitive(element, option, painter, widget);
            return;
        }
        if (!(option->state & State_On))
            return;
        const QRectF box = QRectF(option->rect).adjusted(2, 2, -2, -2);
        painter->save();
        painter->setRenderHint(QPainter::Antialiasing);
        QPen pen(option->palette.color(QPalette::Active, QPalette::Text), 1.6);
        pen.setCapStyle(Qt::RoundCap);
        pen.setJoinStyle(Qt::RoundJoin);
        painter->setPen(pen);
        painter->setBrush(Qt::NoBrush);
        QPainterPath tick;
        tick.moveTo(box.left() + box.width() * 0.12, box.top() + box.height() * 0.55);
        tick.lineTo(box.left() + box.width() * 0.4, box.top() + box.height() * 0.82);
        tick.lineTo(box.left() + box.width() * 0.9, box.top() + box.height() * 0.2);
        painter->drawPath(tick);
        painter->restore();
    }
};

} // namespace

// MARK: - Status texts

QString IslandView::syncText(const CloudSyncState& state)
{
    switch (state.caseOf()) {
    case CloudSyncState::Case::unavailable:
        return Language::text(QStringLiteral("离线"), QStringLiteral("Offline"));
    case CloudSyncState::Case::failed:
        return Language::text(QStringLiteral("异常"), QStringLiteral("Error"));
    case CloudSyncState::Case::disabled:
        return Language::text(QStringLiteral("本地"), QStringLiteral("Local"));
    case CloudSyncState::Case::idle:
        return Language::text(QStringLiteral("已同步"), QStringLiteral("Synced"));
    case CloudSyncState::Case::syncing:
        return Language::text(QStringLiteral("同步中"), QStringLiteral("Syncing"));
    }
    return {};
}

QString IslandView::defaultMessage(const QList<ClipboardItem>& items)
{
    if (items.isEmpty())
        return Language::text(QStringLiteral("复制内容后会出现在这里"), QStringLiteral("Copied content appears here"));
    return Language::text(QStringLiteral("最近复制："), QStringLiteral("Recently copied: ")) + items.first().preview;
}

QString IslandView::flashedMessage(const QString& message)
{
    const QString headline = QuillomareCore::Notice::headline(message);
    if (headline == message)
        return message;
    return headline + Language::text(QStringLiteral("。将指针停在灵动岛顶栏上可查看详情"),
                                     QStringLiteral(". Point at the island's top bar for the details"));
}

void IslandView::refreshModeLabels()
{
    m_modeControl->setLabel(Language::text(QStringLiteral("历史"), QStringLiteral("History")) + QLatin1Char(' ') +
                                QString::number(m_items.size()),
                            0);
    m_modeControl->setLabel(Language::text(QStringLiteral("暂存架"), QStringLiteral("Shelf")) + QLatin1Char(' ') +
                                QString::number(shelfItemCount()),
                            1);
}

void IslandView::configure(const QList<ClipboardItem>& items, const CloudSyncState& syncState,
                           const std::optional<QString>& message)
{
    // The entries' part of the signature decides whether the rows change at all.
    const QString itemsSignature = IslandView::historyItemsSignature(items);
    const bool rowsUnchanged = m_lastHistoryRowsSignature
        && *m_lastHistoryRowsSignature == historySignatureHeader(items.size()) + itemsSignature;
    m_items = items;
    m_historySearchTexts.clear();
    m_historyItemsSignature = itemsSignature;
    const QString count = QString::number(items.size());
    const QString sync = syncText(syncState);
    m_collapsedMetaLabel->setText(count + QStringLiteral(" · ") + sync);

    switch (syncState.caseOf()) {
    case CloudSyncState::Case::failed:
        setCollapsedDotColor(IslandTheme::rgb(1.0, 0.36, 0.34));
        break;
    case CloudSyncState::Case::idle:
        setCollapsedDotColor(IslandTheme::rgb(0.36, 0.78, 0.54));
        break;
    case CloudSyncState::Case::syncing:
        setCollapsedDotColor(IslandTheme::rgb(0.38, 0.64, 0.96));
        break;
    case CloudSyncState::Case::unavailable:
    case CloudSyncState::Case::disabled:
        setCollapsedDotColor(IslandTheme::white(0.46));
        break;
    }

    setToolTip(QStringLiteral("Quillomare · ") + count + QStringLiteral(" · ") + sync);
    // The tooltip keeps the whole message, details too (a list too long to flash); the toast
    // flashes its headline and says where the rest is.
    m_headerStack->setToolTip(message ? QuillomareCore::Notice::whole(*message) : defaultMessage(items));
    const std::optional<QString> flashed = message ? std::optional(flashedMessage(*message)) : std::nullopt;
    // A message that arrives while the island is collapsed is read once it has expanded (the
    // shell reports, then shows the island); a later push without one makes it stale.
    m_pendingExpandedMessage.reset();
    if (flashed && m_displayMode == DisplayMode::expanded && !hasActiveIslandLayerAnimation())
        showTransientStatus(*flashed);
    else if (flashed)
        m_pendingExpandedMessage = PendingMessage{*flashed, IslandScheduler::shared().now()};
    refreshModeLabels();
    if (rowsUnchanged)
        refreshFilterLabels();
    else
        rebuildRows();
    // The count may have widened the meta label.
    placeRoots();
}

// MARK: - Toast

void IslandView::showPendingExpandedMessage()
{
    if (!m_pendingExpandedMessage || m_displayMode != DisplayMode::expanded)
        return;
    const PendingMessage pending = *m_pendingExpandedMessage;
    m_pendingExpandedMessage.reset();
    // The shell shows the island right after it reports; a message the user opens the island to
    // long after (an ignored copy's reason) would be news of something past.
    if (IslandScheduler::shared().now() - pending.arrivedAt > kPendingMessageLifetimeMilliseconds)
        return;
    showTransientStatus(pending.text);
}

void IslandView::showTransientStatus(const QString& text)
{
    if (!m_transientToast) {
        m_transientToast = new IslandToastView(this);
        m_transientToast->setObjectName(QStringLiteral("transientToast"));
    }
    m_transientToast->setText(text);
    const QSize size = m_transientToast->sizeHint();
    const int width = std::min(size.width(), int(IslandToastView::maximumToastWidth));
    const QRect root = m_expandedRoot->geometry();
    m_transientToast->setGeometry(root.x() + (root.width() - width) / 2, root.top() + kToastTopOffset, width,
                                  size.height());
    m_transientToast->raise();
    m_transientToast->showTransientStatus(text);
}

// MARK: - Header actions

void IslandView::hideTapped()
{
    if (onHide)
        onHide();
}

void IslandView::quitTapped()
{
    if (onQuit)
        onQuit();
}

void IslandView::pullFromIPhoneTapped()
{
    if (onPullFromIPhone)
        onPullFromIPhone();
}

void IslandView::clearTapped()
{
    if (onClear)
        onClear();
}

void IslandView::settingsTapped(QWidget* sender)
{
    if (onShowSettings)
        onShowSettings(sender ? sender : m_settingsButton);
}

// MARK: - Language menu

QMenu* IslandView::makeIslandMenu(QWidget* parent)
{
    auto* menu = new QMenu(parent);
    menu->setAttribute(Qt::WA_DeleteOnClose);
    menu->setSeparatorsCollapsible(false);
    QPalette palette = menu->palette();
    const QColor background = IslandTheme::rgb(0.16, 0.16, 0.17);
    for (QPalette::ColorGroup group : {QPalette::Active, QPalette::Inactive}) {
        palette.setColor(group, QPalette::Window, background);
        palette.setColor(group, QPalette::Base, background);
        palette.setColor(group, QPalette::Button, background);
        palette.setColor(group, QPalette::WindowText, IslandTheme::white(0.92));
        palette.setColor(group, QPalette::Text, IslandTheme::white(0.92));
        palette.setColor(group, QPalette::ButtonText, IslandTheme::white(0.92));
        palette.setColor(group, QPalette::Highlight, IslandTheme::selectionBlue());
        palette.setColor(group, QPalette::HighlightedText, IslandTheme::white(1));
    }
    for (QPalette::ColorRole role : {QPalette::WindowText, QPalette::Text, QPalette::ButtonText})
        palette.setColor(QPalette::Disabled, role, IslandTheme::white(0.38));
    palette.setColor(QPalette::Disabled, QPalette::Window, background);
    palette.setColor(QPalette::Disabled, QPalette::Base, background);
    palette.setColor(QPalette::Disabled, QPalette::Button, background);
    menu->setPalette(palette);
    auto* style = new IslandMenuStyle;
    style->setParent(menu);
    menu->setStyle(style);
    return menu;
}

void IslandView::languageTapped(QWidget* sender)
{
    if (m_languageMenu)
        m_languageMenu->close();
    QMenu* menu = makeIslandMenu(this);
    menu->setObjectName(QStringLiteral("languageMenu"));

    // The stored choice, read afresh: the interface language of this process may differ from it
    // until the program starts again.
    const AppLanguagePreference stored = storedLanguagePreference();
    for (AppLanguagePreference preference : AppLanguage::allCases()) {
        QString title;
        switch (preference) {
        case AppLanguagePreference::system:
            title = Language::text(QStringLiteral("跟随系统"), QStringLiteral("System"));
            break;
        case AppLanguagePreference::chinese:
            title = QStringLiteral("简体中文");
            break;
        case AppLanguagePreference::english:
            title = QStringLiteral("English");
            break;
        }
        QAction* item = menu->addAction(title);
        item->setData(AppLanguage::rawValue(preference));
        item->setCheckable(true);
        item->setChecked(preference == stored);
        item->setEnabled(true);
        connect(item, &QAction::triggered, this, [this, item] { languageMenuItemTapped(item); });
    }
    menu->addSeparator();
    QAction* note = menu->addAction(
        Language::text(QStringLiteral("切换后应用会自动重启"), QStringLiteral("App relaunches to apply")));
    note->setEnabled(false);

    m_languageMenu = menu;
    QWidget* anchor = sender ? sender : m_languageButton;
    menu->popup(anchor->mapToGlobal(QPoint(0, anchor->height() + 4)));
}

void IslandView::languageMenuItemTapped(QAction* item)
{
    if (!item)
        return;
    const QVariant raw = item->data();
    if (raw.typeId() != QMetaType::QString)
        return;
    const auto preference = AppLanguage::fromRawValue(raw.toString());
    if (preference && onChangeLanguage)
        onChangeLanguage(*preference);
}

} // namespace QuillomareMac
