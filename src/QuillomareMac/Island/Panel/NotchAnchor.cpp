#include "NotchAnchor.h"

#include <algorithm>
#include <cmath>

namespace QuillomareMac {

using Platform::ScreenDescription;
using namespace Platform::ScreenGeometry;

namespace {

constexpr double kPillWidth = 185;
constexpr double kPillHeight = 32;
constexpr double kMinimumMeasuredNotch = 120;

} // namespace

NotchAnchor::NotchAnchor(ScreenDescription s) : screen(std::move(s)), stripHeight(screen.stripHeight()) {}

NotchAnchor::NotchAnchor(ScreenDescription s, double strip) : screen(std::move(s)), stripHeight(std::max(0.0, strip)) {}

bool NotchAnchor::isBuiltInDisplay() const
{
    return screen.isBuiltIn;
}

std::optional<double> NotchAnchor::measuredNotchWidth() const
{
    if (!screen.auxiliaryTopLeftArea || !screen.auxiliaryTopRightArea)
        return std::nullopt;
    const double width =
        screen.frame.width() - screen.auxiliaryTopLeftArea->width() - screen.auxiliaryTopRightArea->width() + 4;
    if (!std::isfinite(width))
        return std::nullopt;
    return width;
}

bool NotchAnchor::hasMeasuredHardwareNotch() const
{
    const auto width = measuredNotchWidth();
    return isBuiltInDisplay() && !screen.cameraHousingRuledOut && width && *width >= kMinimumMeasuredNotch;
}

QSizeF NotchAnchor::closedNotchSize() const
{
    if (hasMeasuredHardwareNotch())
        return QSizeF(IslandGeometry::roundPoint(*measuredNotchWidth()), kPillHeight);
    return QSizeF(kPillWidth, kPillHeight);
}

bool NotchAnchor::isNotched() const
{
    // A tall top strip hints at a housing only where one can exist at all.
    return isBuiltInDisplay() && !screen.cameraHousingRuledOut
        && (hasMeasuredHardwareNotch() || stripHeight >= kPillHeight);
}

namespace IslandGeometry {

double roundPoint(double value)
{
    return std::round(value);
}

bool contains(const QRectF& rect, const QPointF& point)
{
    return point.x() >= minX(rect) && point.x() < maxX(rect) && point.y() >= minY(rect) && point.y() < maxY(rect);
}

std::optional<ScreenDescription> preferredBuiltInScreen(const QList<ScreenDescription>& screens)
{
    for (const auto& screen : screens) {
        const NotchAnchor anchor(screen);
        if (anchor.isBuiltInDisplay() && anchor.isNotched())
            return screen;
    }
    for (const auto& screen : screens) {
        if (NotchAnchor(screen).isBuiltInDisplay())
            return screen;
    }
    return std::nullopt;
}

std::optional<ScreenDescription> screenContaining(const QList<ScreenDescription>& screens, const QPointF& point)
{
    for (const auto& screen : screens) {
        if (mouseInRect(point, screen.frame))
            return screen;
    }
    return std::nullopt;
}

std::optional<ScreenDescription> targetScreen(const QList<ScreenDescription>& screens, const QPointF& pointer,
                                              const std::optional<ScreenDescription>& mainScreen)
{
    if (auto builtIn = preferredBuiltInScreen(screens))
        return builtIn;
    if (auto underPointer = screenContaining(screens, pointer))
        return underPointer;
    if (mainScreen)
        return mainScreen;
    if (!screens.isEmpty())
        return screens.first();
    return std::nullopt;
}

QSizeF size(IslandView::DisplayMode mode, const ScreenDescription& screen, const NotchAnchor& anchor)
{
    const QRectF& s = screen.frame;
    const QRectF& v = screen.visibleFrame;
    const bool notched = anchor.isNotched();
    if (mode == IslandView::DisplayMode::collapsed) {
        if (!notched)
            return anchor.closedNotchSize();
        const double measuredStrip = maxY(s) - maxY(v);
        const double height = measuredStrip > kPillHeight ? roundPoint(measuredStrip) : kPillHeight;
        return QSizeF(roundPoint(anchor.closedNotchSize().width()), height);
    }
    const double top = notched ? std::max(0.0, maxY(s) - maxY(v)) + 6 : 0;
    const double edge = notched ? maxY(s) + 2 : maxY(v) - 6;
    // The expanded content needs its whole 780 × 430: on a small screen (960 × 540) the island
    // takes that much of it rather than cutting its content short.
    const double width = std::max(1.0, std::min(780.0, std::floor(v.width() * 0.82)));
    const double height = std::max(1.0, std::min({std::max(1.0, std::floor(edge - minY(v) - 16)),
                                                  top + std::floor(v.height() * 0.85), top + 430}));
    return QSizeF(width, height);
}

Target targetFrame(IslandView::DisplayMode mode, const ScreenDescription& screen)
{
    const NotchAnchor anchor(screen);
    const bool notched = anchor.isNotched();
    const double strip = anchor.stripHeight;
    Target target;
    if (mode == IslandView::DisplayMode::collapsed) {
        target.pushes.collapsedVisualStyle =
            notched ? IslandView::CollapsedVisualStyle::hardwareNotch : IslandView::CollapsedVisualStyle::floatingPill;
    }
    const double topInset = notched ? std::max(3.0, (strip - 28) * 0.5) : 14;
    target.pushes.expandedTopInset = topInset;
    target.pushes.notchWidth = notched ? anchor.closedNotchSize().width() : 0;
    target.pushes.stripHeight = strip;
    const QSizeF islandSize = size(mode, screen, anchor);
    const double expandedHeight = mode == IslandView::DisplayMode::expanded
                                      ? islandSize.height()
                                      : size(IslandView::DisplayMode::expanded, screen, anchor).height();
    target.pushes.expandedContentHeight = expandedHeight - topInset - 14;

    const double edge = notched ? maxY(screen.frame) + 2 : maxY(screen.visibleFrame) - 6;
    target.frame = QRectF(roundPoint(midX(screen.frame) - islandSize.width() / 2),
                          roundPoint(edge - islandSize.height()), islandSize.width(), islandSize.height());
    return target;
}

QRectF echoFrame(const ScreenDescription& screen, double contentWidth)
{
    const QRectF collapsed = targetFrame(IslandView::DisplayMode::collapsed, screen).frame;
    // The panel's stage is the expanded rectangle while the echo plays: the echo stays inside it.
    const double widest = size(IslandView::DisplayMode::expanded, screen, NotchAnchor(screen)).width();
    const double width =
        std::max(collapsed.width(), std::min(std::max(280.0, std::ceil(contentWidth)), std::max(280.0, widest)));
    const double height = std::max(collapsed.height(), 58.0);
    const bool notched = NotchAnchor(screen).isNotched();
    const double top = notched ? maxY(screen.visibleFrame) : maxY(screen.visibleFrame) - 6;
    return QRectF(roundPoint(midX(screen.frame) - width / 2), roundPoint(top - height), width, height);
}

QRectF collapsedActivationFrame(const ScreenDescription& screen)
{
    const QRectF r = targetFrame(IslandView::DisplayMode::collapsed, screen).frame.adjusted(-4, -4, 4, 4);
    const double visibleTop = maxY(screen.visibleFrame);
    if (NotchAnchor(screen).isNotched() && minY(r) < visibleTop)
        return QRectF(minX(r), visibleTop, r.width(), std::max(0.0, maxY(r) - visibleTop));
    return r;
}

} // namespace IslandGeometry

} // namespace QuillomareMac
