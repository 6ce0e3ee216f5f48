#include "AppPortsQt.h"

#include "Island/IslandPanel.h"
#include "Island/IslandPanelController.h"
#include "Island/IslandScheduler.h"
#include "Shell/Localization.h"

#include <QApplication>
#include <QMessageBox>
#include <QPushButton>

namespace QuillomareMac {

using namespace QuillomareCore;

IslandPanelPort::IslandPanelPort() : m_controller(std::make_unique<IslandPanelController>()) {}

IslandPanelPort::~IslandPanelPort() = default;

IslandCallbacks& IslandPanelPort::callbacks()
{
    return *m_controller;
}

void IslandPanelPort::configure(const QList<ClipboardItem>& items, const CloudSyncState& syncState,
                                const std::optional<QString>& message)
{
    m_controller->islandView()->configure(items, syncState, message);
}

void IslandPanelPort::configureShelf(const QList<ShelfSession>&, const QUuid&, const std::optional<QString>&)
{
    // The island's shelf mode shows its sessions once its views exist; until then it has none to give.
}

void IslandPanelPort::showHistory()
{
    m_controller->islandView()->setContentMode(IslandView::ContentMode::history, false);
}

void IslandPanelPort::show(bool autoHide, bool focusSearch)
{
    m_controller->show(autoHide, focusSearch);
}

void IslandPanelPort::hide()
{
    m_controller->hide();
}

void IslandPanelPort::collapseIfExpanded()
{
    m_controller->collapseIfExpanded();
}

void IslandPanelPort::flashCaptureEcho(const CaptureFeedback& feedback)
{
    m_controller->flashCaptureEcho(feedback);
}

void IslandPanelPort::settleCollapsed()
{
    if (const auto& pending = m_controller->hideWorkItem())
        pending->cancel();
    m_controller->removeClickMonitors();
    m_controller->installCollapsedClickMonitors();
    m_controller->transition(IslandPanelController::DisplayMode::collapsed, false);
    m_controller->panel()->orderFrontRegardless();
}

bool ApplicationDesktopPort::isModalWindowUp() const
{
    return QApplication::activeModalWidget() != nullptr;
}

bool ApplicationDesktopPort::confirmClearHistory(qsizetype itemCount)
{
    const QString count = QString::number(itemCount);
    QMessageBox alert(QMessageBox::Warning, QStringLiteral("Quillomare"),
                      L10n::text(QStringLiteral("清空 ") + count + QStringLiteral(" 条历史？"),
                                 QStringLiteral("Clear ") + count + QStringLiteral(" items?")));
    alert.setInformativeText(
        L10n::text(QStringLiteral("此操作会删除本机历史；开启 iCloud 时也会同步删除可同步历史。"),
                   QStringLiteral("This deletes history on this device, and when iCloud is on it also removes "
                                  "syncable history from iCloud.")));
    QPushButton* clear = alert.addButton(L10n::text(QStringLiteral("清空"), QStringLiteral("Clear")),
                                         QMessageBox::DestructiveRole);
    alert.addButton(L10n::text(QStringLiteral("取消"), QStringLiteral("Cancel")), QMessageBox::RejectRole);
    alert.setDefaultButton(clear);
    alert.setWindowModality(Qt::ApplicationModal);
    alert.activateWindow();
    alert.exec();
    return alert.clickedButton() == clear;
}

void ApplicationDesktopPort::quit()
{
    QCoreApplication::quit();
}

void ApplicationDesktopPort::relaunchToApplyLanguage()
{
    L10n::relaunchToApplyLanguage();
}

} // namespace QuillomareMac
