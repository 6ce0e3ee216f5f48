#pragma once

// Where the island goes: which screen, whether that screen has a camera housing (notch) to sit
// over, and every rectangle the island uses. All of it is a function of the screens' frames,
// visible frames, built-in flags and auxiliary top areas, in the y-up screen space of
// Platform::ScreenInfo (see there), so that each screen arrangement can be tested without one.

#include "Island/IslandView.h"

#include <Platform/ScreenInfo.h>

#include <QList>
#include <QPointF>
#include <QRectF>
#include <QSizeF>

#include <optional>

namespace QuillomareMac {

struct NotchAnchor
{
    Platform::ScreenDescription screen;
    double stripHeight = 0; // screen frame maxY − visible frame maxY, never below 0

    explicit NotchAnchor(Platform::ScreenDescription screen);
    NotchAnchor(Platform::ScreenDescription screen, double stripHeight);

    bool isBuiltInDisplay() const;
    // Screen width − both auxiliary areas' widths + 4, when both areas are reported and it is finite.
    std::optional<double> measuredNotchWidth() const;
    bool hasMeasuredHardwareNotch() const;
    QSizeF closedNotchSize() const;
    // The one test every notch-dependent rule uses.
    bool isNotched() const;
};

namespace IslandGeometry {

// The values the island view is told each time a frame is computed for a screen.
struct LayoutPushes
{
    std::optional<IslandView::CollapsedVisualStyle> collapsedVisualStyle; // only for collapsed frames
    double expandedTopInset = 14;
    double notchWidth = 0;
    double stripHeight = 0;
    double expandedContentHeight = 0;
};

struct Target
{
    QRectF frame;
    LayoutPushes pushes;
};

// Rounding of the rules: to the nearest point, halves away from zero.
double roundPoint(double value);

// The first built-in notched screen, else the first built-in screen.
std::optional<Platform::ScreenDescription> preferredBuiltInScreen(const QList<Platform::ScreenDescription>& screens);
std::optional<Platform::ScreenDescription> screenContaining(const QList<Platform::ScreenDescription>& screens,
                                                            const QPointF& point);
// Built-in first, then the screen under the pointer, the main screen, the first screen; nothing
// only when there is no screen at all.
std::optional<Platform::ScreenDescription> targetScreen(const QList<Platform::ScreenDescription>& screens,
                                                        const QPointF& pointer,
                                                        const std::optional<Platform::ScreenDescription>& mainScreen);

QSizeF size(IslandView::DisplayMode mode, const Platform::ScreenDescription& screen, const NotchAnchor& anchor);
Target targetFrame(IslandView::DisplayMode mode, const Platform::ScreenDescription& screen);
// The capture echo's rectangle around the collapsed island: at least 280 × 58, wider when its
// badge needs `contentWidth` to say all it has to say, but never wider than the expanded island.
QRectF echoFrame(const Platform::ScreenDescription& screen, double contentWidth = 0);
// Where a mouse-down opens the collapsed island.
QRectF collapsedActivationFrame(const Platform::ScreenDescription& screen);

// Containment of a point in a rectangle, lower and left edges included (a rectangle's own test,
// as opposed to ScreenGeometry::mouseInRect for the pointer).
bool contains(const QRectF& rect, const QPointF& point);

} // namespace IslandGeometry

} // namespace QuillomareMac
