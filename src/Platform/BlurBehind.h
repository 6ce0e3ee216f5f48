#pragma once

// Blur behind a translucent window, where the desktop offers it on request: KWin's blur effect,
// which announces the `_KDE_NET_WM_BLUR_BEHIND_REGION` property on the root window and blurs
// what lies under the parts of a window that window lists in that property. Other X11 desktops
// have no such request; a surface that relies on a blur must then be drawn opaque enough itself.

#include <QRegion>

class QWindow;

namespace Platform::BlurBehind {

// Whether the desktop blurs behind windows on request. Asked of the X server once (two round
// trips) and kept; false off X11.
bool isAvailable();

// Asks for the blur behind `region` of `window` (the window's device-independent coordinates),
// or withdraws the request for an empty region, without waiting for an answer. Does nothing and
// returns false where no blur is offered; returns true where it is.
bool setRegion(QWindow* window, const QRegion& region);

// The property's value: x, y, width, height of each rectangle in device pixels.
QList<quint32> propertyValue(const QRegion& region, qreal devicePixelRatio);

} // namespace Platform::BlurBehind
