#pragma once

// The shape of one top-level X11 window: where it takes the mouse (its input region) and where
// it is drawn at all (its bounding region), and whether a compositing manager runs.
//
// Qt sets a window's input region only when "transparent for input" is switched, to the size the
// window has at that moment, and never follows a later resize; a window whose drawn part moves
// and changes size inside it has to say where that part is itself. Without a compositing manager
// the transparent pixels of a translucent window are shown black, so such a window then cuts
// itself down to what it draws.

#include <QAbstractNativeEventFilter>
#include <QObject>
#include <QRegion>

#include <memory>
#include <optional>
#include <vector>

class QWindow;

namespace Platform {

class X11WindowShape : public QObject, public QAbstractNativeEventFilter
{
    Q_OBJECT

public:
    // Null on any platform but X11. `window` must have its native window already.
    static std::unique_ptr<X11WindowShape> create(QWindow* window);
    ~X11WindowShape() override;

    // Regions are in the window's (device-independent) coordinates; an empty input region lets
    // every click through.
    void setInputRegion(const QRegion& region);
    // nullopt gives the window back its whole rectangle.
    void setBoundingRegion(const std::optional<QRegion>& region);

    // Whether the screen's compositing manager selection has an owner.
    bool compositingManagerRunning() const { return m_compositing; }

    bool nativeEventFilter(const QByteArray& eventType, void* message, qintptr* result) override;

    // Waits for the server's answer to every shape request sent since the last check (errors are
    // reported as warnings); runs by itself a moment after a request.
    void checkPendingRequests();
    // How many shape requests the server has refused so far.
    int refusedRequests() const { return m_refusedRequests; }

Q_SIGNALS:
    void compositingManagerChanged(bool running);

private:
    X11WindowShape() = default;
    void setRegion(uint8_t kind, const QRegion* region);
    bool queryCompositingManager() const;

    QWindow* m_window = nullptr;
    void* m_connection = nullptr; // xcb_connection_t, kept out of this header
    uint32_t m_windowId = 0;
    uint32_t m_compositorSelection = 0;
    uint8_t m_xfixesFirstEvent = 0;
    bool m_compositing = false;
    struct PendingRequest
    {
        unsigned int sequence;
        uint8_t kind;
    };
    std::vector<PendingRequest> m_pendingRequests;
    bool m_errorCheckScheduled = false;
    int m_refusedRequests = 0;
};

} // namespace Platform
