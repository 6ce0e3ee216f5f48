#pragma once

// The island's window: frameless, always above everything, never taking the keyboard from the
// program the user works in unless the user opens the island, and able to let clicks fall
// through to the windows below it.
//
// On X11 it bypasses the window manager (an override-redirect window): the manager neither
// places, decorates nor focuses it, it shows on every desktop, and it stays above the managed
// windows. "Key" is having the X input focus: `makeKeyAndOrderFront` lets the window accept focus
// for that moment and asks for it (Qt sets the input focus directly for such windows), and the
// window refuses focus again as soon as it loses it. Ignoring the mouse is Qt's
// WindowTransparentForInput, an empty input shape on X11, toggled on the live window.

#include <QPointer>
#include <QWidget>

#include <functional>

class QMouseEvent;

namespace QuillomareMac {

class IslandView;

// The panel's content: a transparent stage that the island view moves and resizes inside.
class IslandCanvasView : public QWidget
{
    Q_OBJECT

public:
    explicit IslandCanvasView(QWidget* parent = nullptr);

    QPointer<IslandView> islandView;

protected:
    // Clicks on the stage around the island reach nothing in the island.
    void mousePressEvent(QMouseEvent* event) override;
};

class IslandPanel : public QWidget
{
    Q_OBJECT

public:
    IslandPanel();

    // Called for left, right and other mouse-downs before they reach any view of the panel;
    // true consumes the event.
    std::function<bool(QMouseEvent* event)> onMouseDown;
    // Called after the panel stopped being the key window.
    std::function<void()> onResignKey;

    bool canBecomeKey() const { return true; }
    bool canBecomeMain() const { return false; }

    void setContentView(QWidget* contentView);
    QWidget* contentView() const { return m_contentView; }

    bool isKeyWindow() const;
    // Shows and raises the panel and gives it the keyboard.
    void makeKeyAndOrderFront();
    // Shows and raises the panel without taking the keyboard from anyone.
    void orderFrontRegardless();
    // Gives the program the keyboard through the panel ("activate, ignoring other programs").
    void activateApplication();
    // Drops the keyboard focus of whatever view of the panel has it.
    void clearFirstResponder();

    void setIgnoresMouseEvents(bool ignores);
    bool ignoresMouseEvents() const;

    // Qt (y-down) geometry; `display` repaints at once when the panel is visible.
    void setFrame(const QRect& geometry, bool display);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void changeEvent(QEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    void setWindowFlagLive(Qt::WindowType flag, bool on);

    QWidget* m_contentView = nullptr;
};

} // namespace QuillomareMac
