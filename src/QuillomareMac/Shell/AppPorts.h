#pragma once

// What the application delegate needs of the desktop it runs on, as small interfaces: the real
// program hands it the island, the application object and the status menu; tests hand it
// recording fakes, so that its rules are checked without a display.

#include "Island/IslandCallbacks.h"
#include "Shelf/ShelfItem.h"

#include <QuillomareCore/CaptureFeedback.h>
#include <QuillomareCore/ClipSettings.h>
#include <QuillomareCore/ClipboardItem.h>
#include <QuillomareCore/CloudSyncService.h>

#include <QList>
#include <QString>
#include <QUuid>

#include <optional>

class QWidget;

namespace QuillomareMac {

class IslandPort
{
public:
    virtual ~IslandPort() = default;

    // The island's actions, for the delegate to answer.
    virtual IslandCallbacks& callbacks() = 0;

    // The list, the sync state and a message: flashed when the island is expanded, else only
    // the header's tooltip. Of a message with details (Notice::withDetails) only the headline
    // flashes; the tooltip keeps the whole.
    virtual void configure(const QList<QuillomareCore::ClipboardItem>& items,
                           const QuillomareCore::CloudSyncState& syncState, const std::optional<QString>& message) = 0;
    virtual void configureShelf(const QList<ShelfSession>& sessions, const QUuid& selectedSessionID,
                                const std::optional<QString>& message) = 0;
    // Switches the island's content to the history, without animation.
    virtual void showHistory() = 0;
    // Switches the island's content to the shelf, without animation.
    virtual void showShelf() = 0;
    virtual void show(bool autoHide, bool focusSearch) = 0;
    // Collapses with animation unless a modal window is up.
    virtual void hide() = 0;
    virtual void collapseIfExpanded() = 0;
    virtual void flashCaptureEcho(const QuillomareCore::CaptureFeedback& feedback) = 0;
    // The island as it starts: collapsed at once, its click monitors in place, on screen without
    // taking the keyboard.
    virtual void settleCollapsed() = 0;
};

// The application object and its modal dialogs.
class DesktopPort
{
public:
    virtual ~DesktopPort() = default;

    virtual bool isModalWindowUp() const = 0;
    // Asks before the history is cleared; true when the user chose to clear.
    virtual bool confirmClearHistory(qsizetype itemCount) = 0;
    // Ends the application through its normal shut-down.
    virtual void quit() = 0;
    // Starts a new instance in the chosen language; that instance ends this one.
    virtual void relaunchToApplyLanguage() = 0;
    // Asks for a shelf session's name, starting from `defaultValue`; nothing when cancelled.
    virtual std::optional<QString> promptShelfSessionName(const QString& title, const QString& defaultValue) = 0;
    // Tells the user, in a window of its own, why this instance cannot run, and ends the
    // application (exit status 1) once they have read it. Returns at once.
    virtual void refuseToRun(const QString& title, const QString& detail) = 0;
};

// The tray icon and its menus.
class StatusMenuPort
{
public:
    virtual ~StatusMenuPort() = default;

    virtual void install() = 0;
    virtual void refresh(bool captureEnabled, const QuillomareCore::ClipSettings& settings) = 0;
    virtual void popUpQuickMenu(QWidget* anchor, bool captureEnabled, const QuillomareCore::ClipSettings& settings) = 0;
};

// Saving an entry to a file: a free-standing save dialog.
class SavePanelPort
{
public:
    virtual ~SavePanelPort() = default;

    // Opens the dialog with `suggestedFileName` in its name field and returns at once; later, on
    // the GUI thread, calls `onChosen` with the chosen path, and not at all when cancelled.
    virtual void beginSave(const QString& suggestedFileName, std::function<void(const QString& path)> onChosen) = 0;
};

} // namespace QuillomareMac
