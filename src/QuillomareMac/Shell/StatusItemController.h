#pragma once

#include "Shell/AppPorts.h"
#include "Shell/StatusItemControllerDelegate.h"

#include <QIcon>
#include <QObject>
#include <QPointer>

#include <memory>

class QAction;
class QMenu;
class QMessageBox;
class QSystemTrayIcon;

namespace QuillomareMac {

// The program's one permanent presence: a tray icon with a fixed menu, and the short-lived quick
// menu below the island's settings button. It holds no state of the program: every command goes
// to the delegate (held weakly), except Check for Updates, which asks the updater itself.
//
// The menu exists whether or not a tray host does; Qt embeds the icon when a host appears later.
class StatusItemController final : public QObject, public StatusMenuPort
{
    Q_OBJECT

public:
    // The delegate must be a QObject; it is held weakly.
    explicit StatusItemController(StatusItemControllerDelegate* delegate = nullptr, QObject* parent = nullptr);
    ~StatusItemController() override;

    void setDelegate(StatusItemControllerDelegate* delegate);

    void install() override;
    void refresh(bool captureEnabled, const QuillomareCore::ClipSettings& settings) override;
    void popUpQuickMenu(QWidget* anchor, bool captureEnabled, const QuillomareCore::ClipSettings& settings) override;

    // Null until install().
    QSystemTrayIcon* statusItem() const { return m_statusItem; }
    QMenu* menu() const { return m_menu.get(); }
    // The quick menu while it is open.
    QMenu* quickMenu() const;
    // The capsule of the program's icon set, light with a dark rim so that it reads on light and
    // dark panels alike.
    static QIcon statusIcon();

    // The menu commands.
    void showIsland();
    void addCurrentClipboardToShelf();
    void showPreferences();
    void showOnboarding();
    void checkForUpdates();
    void toggleCapture();
    void toggleSensitiveFiltering();
    void toggleSensitiveLocalOnly();
    void toggleCloudSync();
    void syncNow();
    void clearHistory();
    void quit();

private:
    StatusItemControllerDelegate* delegate() const;
    void forward(void (StatusItemControllerDelegate::*requirement)());
    QAction* makeItem(const QString& title, void (StatusItemController::*command)(), bool checkable = false);
    static QString captureTitle(bool captureEnabled);

    StatusItemControllerDelegate* m_delegate = nullptr;
    QPointer<QObject> m_delegateObject;
    QSystemTrayIcon* m_statusItem = nullptr;
    std::unique_ptr<QMenu> m_menu;
    QPointer<QMenu> m_quickMenu;
    QPointer<QMessageBox> m_updatesNotice;
    QAction* m_captureItem = nullptr;
    QAction* m_sensitiveItem = nullptr;
    QAction* m_sensitiveLocalOnlyItem = nullptr;
    QAction* m_cloudSyncItem = nullptr;
    QAction* m_syncNowItem = nullptr;
};

} // namespace QuillomareMac
