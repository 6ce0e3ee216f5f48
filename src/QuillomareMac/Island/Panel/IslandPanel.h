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
// WindowTransparentForInput, toggled on the live window.
//
// The panel is a large transparent stage, but only the island drawn inside it is there for the
// user: on X11 the window takes clicks only inside the island's shape (everywhere else they reach
// the windows below), and without a compositing manager, which would blend the transparent stage
// away, the window is cut down to that shape so that no black stage shows.

#include <QPointer>
#include <QRegion>
#include <QWidget>

#include <functional>
#include <memory>
#include <optional>

class QMouseEvent;

namespace Platform {
class X11WindowShape;
}

namespace QuillomareMac {

class IslandView;

// The panel's content: a transparent stage that the island view moves and resizes inside.
class IslandCanvasView : public QWidget
{
    Q_OBJECT

public:
    explicit IslandCanvasView(QWidget* parent = nullptr);

    QPointer<IslandView> islandView;

    // Every pixel the island's surface touches as presented right now,
    // in the canvas's coordinates; empty without a shown island.
    QRegion islandShape() const;

protected:
    // Clicks on the stage around the island reach nothing in the island.
    void mousePressEvent(QMouseEvent* event) override;
};

class IslandPanel : public QWidget
{
    Q_OBJECT

public:
    IslandPanel();
    ~IslandPanel() override;

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

    // Where the island is drawn in the panel: the only part that takes the mouse (while the
    // panel does not ignore it) and, without a compositing manager, the only part shown.
    void setIslandShape(const QRegion& shape);
    // Whether the desktop blurs what lies behind the island (the compositor honours the request).
    bool isBackdropBlurred() const { return m_isBackdropBlurred; }
    // Whether the window shows only its island shape (X11 without a compositing manager).
    bool isCutToShape() const;
    QRegion islandShape() const { return m_islandShape; }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void changeEvent(QEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    void setWindowFlagLive(Qt::WindowType flag, bool on);
    void applyWindowShape();
    // `region` in the window's coordinates while the window's top-left is at `origin`; nullopt
    // is the whole window.
    void setBoundingNow(const std::optional<QRegion>& region, const QPoint& origin);

    QWidget* m_contentView = nullptr;
    QRegion m_islandShape;
    std::unique_ptr<Platform::X11WindowShape> m_windowShape;
    // What the window has now, so that the frames of an animation that do not change the shape
    // cost no request.
    std::optional<QRegion> m_appliedInput;
    bool m_boundingApplied = false;
    std::optional<QRegion> m_appliedBounding;
    QPoint m_appliedBoundingOrigin;
    bool m_boundingCatchUpPending = false;
    std::optional<QRegion> m_appliedBlur;
    bool m_isBackdropBlurred = false;
};

} // namespace QuillomareMac
