#include "AppPortsQt.h"

#include "Island/Panel/IslandPanel.h"
#include "Island/Panel/IslandPanelController.h"
#include "Island/Kit/IslandScheduler.h"
#include "Shell/Localization.h"

#include <Platform/X11WindowMapRequest.h>

#include <QApplication>
#include <QFileDialog>
#include <QBoxLayout>
#include <QDeadlineTimer>
#include <QDialog>
#include <QLabel>
#include <QLineEdit>
#include <QLoggingCategory>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>
#include <QWindow>

Q_DECLARE_LOGGING_CATEGORY(lcShell)

namespace QuillomareMac {

using namespace QuillomareCore;

namespace {

// How often a refusal window not yet on screen asks again, and for how long before the process
// gives up on showing it. A window manager takes a fraction of a second to start; the limit
// leaves a slow login many times that.
constexpr int kRefusalShowRetryMilliseconds = 250;
constexpr int kRefusalShowLimitMilliseconds = 20000;

} // namespace

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

void IslandPanelPort::configureShelf(const QList<ShelfSession>& sessions, const QUuid& selectedSessionID,
                                     const std::optional<QString>& message)
{
    m_controller->islandView()->configureShelf(sessions, selectedSessionID, message);
}

void IslandPanelPort::showHistory()
{
    m_controller->islandView()->setContentMode(IslandView::ContentMode::history, false);
}

void IslandPanelPort::showShelf()
{
    m_controller->islandView()->setContentMode(IslandView::ContentMode::shelfGallery, false);
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
                      Language::text(QStringLiteral("清空 ") + count + QStringLiteral(" 条历史？"),
                                     QStringLiteral("Clear ") + count + QStringLiteral(" items?")));
    alert.setInformativeText(
        Language::text(QStringLiteral("此操作会删除本机历史；开启文件夹同步时也会从同步文件夹删除可同步历史。"),
                       QStringLiteral("This deletes history on this device, and when folder sync is on it also removes "
                                      "syncable history from the sync folder.")));
    QPushButton* clear =
        alert.addButton(Language::text(QStringLiteral("清空"), QStringLiteral("Clear")), QMessageBox::DestructiveRole);
    alert.addButton(Language::text(QStringLiteral("取消"), QStringLiteral("Cancel")), QMessageBox::RejectRole);
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

void ApplicationDesktopPort::refuseToRun(const QString& title, const QString& detail)
{
    // Not modal: the main loop runs meanwhile, so that a request to end (SIGTERM, a take-over)
    // still ends the process while the window waits for the user.
    auto* alert = new QMessageBox(QMessageBox::Warning, QStringLiteral("Quillomare"), title);
    alert->setAttribute(Qt::WA_DeleteOnClose);
    alert->setInformativeText(detail);
    alert->setTextFormat(Qt::PlainText);
    alert->setDefaultButton(
        alert->addButton(Language::text(QStringLiteral("退出"), QStringLiteral("Quit")), QMessageBox::AcceptRole));
    QObject::connect(alert, &QMessageBox::finished, qApp, [] { QCoreApplication::exit(1); });
    alert->show();
    alert->raise();
    alert->activateWindow();

    // Nothing else of this process is on screen (no tray, no island), so the window must get
    // there. A window manager starting beside it, as at a login, can lose its request to be
    // mapped: the request is made again until the window is exposed. A window that could not be
    // shown at all leaves the reason on standard error alone, and the process ends rather than
    // lingering unseen.
    auto* watch = new QTimer(alert);
    watch->setInterval(kRefusalShowRetryMilliseconds);
    QObject::connect(watch, &QTimer::timeout, alert,
                     [alert, watch, deadline = QDeadlineTimer(kRefusalShowLimitMilliseconds)] {
                         QWindow* window = alert->windowHandle();
                         if (window && window->isExposed()) {
                             watch->stop();
                             return;
                         }
                         if (deadline.hasExpired()) {
                             watch->stop();
                             qCCritical(lcShell, "the window saying why could not be shown within %d s; quitting",
                                        kRefusalShowLimitMilliseconds / 1000);
                             QCoreApplication::exit(1);
                             return;
                         }
                         Platform::requestWindowMapAgain(window);
                     });
    watch->start();
}

void ApplicationDesktopPort::relaunchToApplyLanguage()
{
    L10n::relaunchToApplyLanguage();
}

std::optional<QString> ApplicationDesktopPort::promptShelfSessionName(const QString& title, const QString& defaultValue)
{
    // Built for each question and gone after it: it keeps nothing between sessions.
    QDialog dialog;
    dialog.setWindowTitle(QStringLiteral("Quillomare"));
    dialog.setWindowModality(Qt::ApplicationModal);
    auto* heading = new QLabel(title, &dialog);
    heading->setTextFormat(Qt::PlainText);
    QFont bold = heading->font();
    bold.setBold(true);
    heading->setFont(bold);
    const QString noteText =
        Language::text(QStringLiteral("会话只保存在本机，不会进入同步文件夹。"),
                       QStringLiteral("Sessions are stored on this device only and won't go to the sync folder."));
    auto* note = new QLabel(noteText, &dialog);
    note->setWordWrap(true);
    auto* field = new QLineEdit(defaultValue, &dialog);
    field->setFixedSize(260, 24);
    auto* ok = new QPushButton(Language::text(QStringLiteral("确定"), QStringLiteral("OK")), &dialog);
    auto* cancel = new QPushButton(Language::text(QStringLiteral("取消"), QStringLiteral("Cancel")), &dialog);
    ok->setDefault(true);
    QObject::connect(ok, &QPushButton::clicked, &dialog, &QDialog::accept);
    QObject::connect(cancel, &QPushButton::clicked, &dialog, &QDialog::reject);

    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(ok);
    buttons->addWidget(cancel);
    auto* layout = new QVBoxLayout(&dialog);
    layout->addWidget(heading);
    layout->addWidget(note);
    layout->addWidget(field);
    layout->addLayout(buttons);

    field->selectAll();
    field->setFocus();
    dialog.show();
    dialog.raise();
    dialog.activateWindow();
    if (dialog.exec() != QDialog::Accepted)
        return std::nullopt;
    return field->text();
}

void FileDialogSavePanelPort::beginSave(const QString& suggestedFileName, std::function<void(const QString&)> onChosen)
{
    auto* dialog = new QFileDialog;
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    dialog->setAcceptMode(QFileDialog::AcceptSave);
    dialog->setFileMode(QFileDialog::AnyFile);
    dialog->selectFile(suggestedFileName);
    QObject::connect(dialog, &QFileDialog::fileSelected, dialog,
                     [onChosen = std::move(onChosen)](const QString& path) { onChosen(path); });
    dialog->show();
    dialog->raise();
    dialog->activateWindow();
}

} // namespace QuillomareMac
