#include "StatusItemController.h"

#include "Island/Kit/IslandIcons.h"
#include "Shell/AppUpdater.h"

#include <QuillomareCore/Language.h>

#include <QAction>
#include <QCursor>
#include <QFile>
#include <QMenu>
#include <QMessageBox>
#include <QPainter>
#include <QSvgRenderer>
#include <QSystemTrayIcon>

namespace QuillomareMac {

using namespace QuillomareCore;

namespace {

const QString productName = QStringLiteral("Quillomare");

// Menu titles are shown as they are written: '&' is not a mnemonic.
QString plainTitle(QString title)
{
    return title.replace(QLatin1Char('&'), QStringLiteral("&&"));
}

QString pick(const char16_t* chinese, const char16_t* english)
{
    return Language::text(QString::fromUtf16(chinese), QString::fromUtf16(english));
}

// The capsule in `ink`, its strokes `stroke` units of the 24-unit grid wide.
QImage renderCapsule(int side, const QColor& ink, qreal stroke)
{
    QFile file(QStringLiteral(":/island-icons/capsule.portrait.inset.filled.svg"));
    if (!file.open(QIODevice::ReadOnly))
        return {};
    QString source = QString::fromUtf8(file.readAll());
    source.replace(QLatin1String("currentColor"), ink.name());
    source.replace(QLatin1String("stroke-width=\"1.75\""), QStringLiteral("stroke-width=\"%1\"").arg(stroke));
    QSvgRenderer renderer(source.toUtf8());
    if (!renderer.isValid())
        return {};
    QImage image(side, side, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    renderer.render(&painter, QRectF(0, 0, side, side));
    return image;
}

} // namespace

StatusItemController::StatusItemController(StatusItemControllerDelegate* delegate, QObject* parent) : QObject(parent)
{
    setDelegate(delegate);
    m_captureItem = makeItem(captureTitle(true), &StatusItemController::toggleCapture, true);
    m_sensitiveItem = makeItem(pick(u"忽略敏感内容", u"Ignore Sensitive Content"),
                               &StatusItemController::toggleSensitiveFiltering, true);
    m_sensitiveLocalOnlyItem = makeItem(pick(u"敏感内容仅本机保留", u"Sensitive Stays Local"),
                                        &StatusItemController::toggleSensitiveLocalOnly, true);
    m_cloudSyncItem =
        makeItem(pick(u"启用文件夹同步", u"Enable Folder Sync"), &StatusItemController::toggleCloudSync, true);
    m_syncNowItem = makeItem(pick(u"立即同步", u"Sync Now"), &StatusItemController::syncNow);
}

StatusItemController::~StatusItemController()
{
    // The icon goes before the menu it shows.
    delete m_statusItem;
    delete m_quickMenu.data();
    delete m_updatesNotice.data();
}

void StatusItemController::setDelegate(StatusItemControllerDelegate* delegate)
{
    m_delegate = delegate;
    m_delegateObject = dynamic_cast<QObject*>(delegate);
}

QMenu* StatusItemController::quickMenu() const
{
    return m_quickMenu.data();
}

StatusItemControllerDelegate* StatusItemController::delegate() const
{
    return m_delegateObject ? m_delegate : nullptr;
}

QAction* StatusItemController::makeItem(const QString& title, void (StatusItemController::*command)(), bool checkable)
{
    auto* item = new QAction(plainTitle(title), this);
    item->setCheckable(checkable);
    connect(item, &QAction::triggered, this, [this, item, command](bool checked) {
        // The menus show only the marks set here: the delegate's refresh decides, not the click.
        if (item->isCheckable())
            item->setChecked(!checked);
        // Run once the menu has closed, so that a dialog the command opens is not under it.
        QMetaObject::invokeMethod(
            this, [this, command] { (this->*command)(); }, Qt::QueuedConnection);
    });
    return item;
}

QString StatusItemController::captureTitle(bool captureEnabled)
{
    return captureEnabled ? pick(u"暂停自动记录", u"Pause Capturing") : pick(u"继续自动记录", u"Resume Capturing");
}

QIcon StatusItemController::statusIcon()
{
    QIcon icon;
    for (int side : {16, 22, 24, 32, 48, 64}) {
        QImage image = renderCapsule(side, QColor(20, 20, 22, 190), 3.5);
        const QImage face = renderCapsule(side, Qt::white, 1.75);
        if (image.isNull() || face.isNull()) {
            const QPixmap fallback =
                IslandIcons::pixmap(QStringLiteral("doc.on.clipboard"), side / 1.15, SymbolWeight::regular, Qt::white);
            if (!fallback.isNull())
                icon.addPixmap(fallback);
            continue;
        }
        QPainter painter(&image);
        painter.drawImage(0, 0, face);
        painter.end();
        icon.addPixmap(QPixmap::fromImage(image));
    }
    return icon;
}

void StatusItemController::install()
{
    if (m_statusItem)
        return;
    m_menu = std::make_unique<QMenu>();
    auto add = [this](const char16_t* chinese, const char16_t* english, void (StatusItemController::*command)()) {
        QAction* item = makeItem(pick(chinese, english), command);
        m_menu->addAction(item);
        return item;
    };
    add(u"显示灵动岛", u"Show Island", &StatusItemController::showIsland);
    add(u"当前剪贴板加入暂存架", u"Add Clipboard to Shelf", &StatusItemController::addCurrentClipboardToShelf);
    add(u"偏好设置...", u"Preferences...", &StatusItemController::showPreferences)
        ->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Comma));
    add(u"跨设备使用说明...", u"Cross-device Guide...", &StatusItemController::showOnboarding);
    m_menu->addSeparator();
    m_menu->addActions({m_captureItem, m_sensitiveItem, m_sensitiveLocalOnlyItem, m_cloudSyncItem, m_syncNowItem});
    m_menu->addSeparator();
    add(u"清空历史", u"Clear History", &StatusItemController::clearHistory);
    m_menu->addSeparator();
    add(u"检查更新...", u"Check for Updates...", &StatusItemController::checkForUpdates);
    m_menu->addSeparator();
    add(u"退出", u"Quit", &StatusItemController::quit)->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Q));

    m_statusItem = new QSystemTrayIcon(statusIcon(), this);
    m_statusItem->setToolTip(productName);
    m_statusItem->setContextMenu(m_menu.get());
    // A click opens the menu, as a right click does.
    connect(m_statusItem, &QSystemTrayIcon::activated, this, [this](QSystemTrayIcon::ActivationReason reason) {
        if (reason == QSystemTrayIcon::Trigger)
            m_menu->popup(QCursor::pos());
    });
    // Shown even without a tray host: Qt embeds the icon once one appears.
    m_statusItem->show();
}

void StatusItemController::refresh(bool captureEnabled, const ClipSettings& settings)
{
    m_captureItem->setText(plainTitle(captureTitle(captureEnabled)));
    m_captureItem->setChecked(captureEnabled);
    m_sensitiveItem->setChecked(settings.ignoreSensitiveContent);
    m_sensitiveLocalOnlyItem->setChecked(settings.markSensitiveLocalOnly);
    m_cloudSyncItem->setChecked(settings.cloudSyncEnabled);
    m_syncNowItem->setEnabled(settings.cloudSyncEnabled);
}

void StatusItemController::popUpQuickMenu(QWidget* anchor, bool captureEnabled, const ClipSettings& settings)
{
    delete m_quickMenu.data();
    auto* menu = new QMenu;
    m_quickMenu = menu;
    connect(menu, &QMenu::aboutToHide, menu, &QObject::deleteLater);
    auto add = [this, menu](const QString& title, void (StatusItemController::*command)(), bool checkable = false,
                            bool checked = false) {
        QAction* item = makeItem(title, command, checkable);
        item->setParent(menu);
        item->setChecked(checked);
        menu->addAction(item);
        return item;
    };
    add(pick(u"当前剪贴板加入暂存架", u"Add Clipboard to Shelf"), &StatusItemController::addCurrentClipboardToShelf);
    menu->addSeparator();
    add(captureTitle(captureEnabled), &StatusItemController::toggleCapture, true, captureEnabled);
    add(pick(u"忽略敏感内容", u"Ignore Sensitive Content"), &StatusItemController::toggleSensitiveFiltering, true,
        settings.ignoreSensitiveContent);
    add(pick(u"敏感内容仅本机保留", u"Sensitive Stays Local"), &StatusItemController::toggleSensitiveLocalOnly, true,
        settings.markSensitiveLocalOnly);
    add(pick(u"启用文件夹同步", u"Enable Folder Sync"), &StatusItemController::toggleCloudSync, true,
        settings.cloudSyncEnabled);
    add(pick(u"立即同步", u"Sync Now"), &StatusItemController::syncNow)->setEnabled(settings.cloudSyncEnabled);
    menu->addSeparator();
    add(pick(u"偏好设置...", u"Preferences..."), &StatusItemController::showPreferences);
    add(pick(u"跨设备使用说明...", u"Cross-device Guide..."), &StatusItemController::showOnboarding);
    add(pick(u"检查更新...", u"Check for Updates..."), &StatusItemController::checkForUpdates);
    menu->addSeparator();
    add(pick(u"清空历史", u"Clear History"), &StatusItemController::clearHistory);

    // Just below the anchor, its left edges aligned, nothing selected.
    menu->popup(anchor ? anchor->mapToGlobal(QPoint(0, anchor->height() + 6)) : QCursor::pos());
}

// MARK: - Commands

void StatusItemController::forward(void (StatusItemControllerDelegate::*requirement)())
{
    if (StatusItemControllerDelegate* target = delegate())
        (target->*requirement)();
}

void StatusItemController::showIsland()
{
    forward(&StatusItemControllerDelegate::showIslandFromMenu);
}

void StatusItemController::addCurrentClipboardToShelf()
{
    forward(&StatusItemControllerDelegate::addClipboardToShelfFromMenu);
}

void StatusItemController::showPreferences()
{
    forward(&StatusItemControllerDelegate::showPreferencesFromMenu);
}

void StatusItemController::showOnboarding()
{
    forward(&StatusItemControllerDelegate::showOnboardingFromMenu);
}

void StatusItemController::toggleCapture()
{
    forward(&StatusItemControllerDelegate::toggleCaptureFromMenu);
}

void StatusItemController::toggleSensitiveFiltering()
{
    forward(&StatusItemControllerDelegate::toggleSensitiveFilteringFromMenu);
}

void StatusItemController::toggleSensitiveLocalOnly()
{
    forward(&StatusItemControllerDelegate::toggleSensitiveLocalOnlyFromMenu);
}

void StatusItemController::toggleCloudSync()
{
    forward(&StatusItemControllerDelegate::toggleCloudSyncFromMenu);
}

void StatusItemController::syncNow()
{
    forward(&StatusItemControllerDelegate::syncNowFromMenu);
}

void StatusItemController::clearHistory()
{
    forward(&StatusItemControllerDelegate::clearHistoryFromMenu);
}

void StatusItemController::quit()
{
    forward(&StatusItemControllerDelegate::quitFromMenu);
}

void StatusItemController::checkForUpdates()
{
    // Updates come with the package; the notice says so, without a delegate.
    if (!m_updatesNotice) {
        m_updatesNotice =
            new QMessageBox(QMessageBox::Information, productName, AppUpdater::shared().controller().checkForUpdates());
        m_updatesNotice->setTextFormat(Qt::PlainText);
        m_updatesNotice->setAttribute(Qt::WA_DeleteOnClose);
    }
    m_updatesNotice->show();
    m_updatesNotice->raise();
    m_updatesNotice->activateWindow();
}

} // namespace QuillomareMac
