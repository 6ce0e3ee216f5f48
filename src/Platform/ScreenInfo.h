#pragma once

// The screens as the island's placement rules see them.
//
// Coordinates: the rules are written for a y-up screen space, and so is every rectangle and point
// here. Its origin is the bottom-left corner of the primary screen (the first of the list), x runs
// right as in Qt, y runs up, in Qt's device-independent pixels. Qt's own screen coordinates are
// y-down with the origin at the top-left of the primary screen; `fromQt` and `toQt` convert
// (the same mirror both ways: y' = reference − y − height, with the reference the Qt y of the
// primary screen's bottom edge). A QRectF holding a y-up rectangle keeps its fields as numbers:
// `y()` is its lowest edge and `y() + height()` its highest; use `ScreenGeometry::minY/maxY` to
// read them so that nobody reads QRectF's top()/bottom() with y-down meaning.

#include <QList>
#include <QPointF>
#include <QPointer>
#include <QRectF>
#include <QScreen>
#include <QString>

#include <memory>
#include <optional>

namespace Platform {

namespace ScreenGeometry {
inline double minY(const QRectF& r) { return r.y(); }
inline double maxY(const QRectF& r) { return r.y() + r.height(); }
inline double minX(const QRectF& r) { return r.x(); }
inline double maxX(const QRectF& r) { return r.x() + r.width(); }
inline double midX(const QRectF& r) { return r.x() + r.width() / 2.0; }
// Containment of a pointer location in an unflipped rectangle: the pointer's pixel lies below and
// right of its location, so the left and upper edges count and the right and lower ones do not.
bool mouseInRect(const QPointF& point, const QRectF& rect);
} // namespace ScreenGeometry

// One screen, in y-up coordinates.
struct ScreenDescription
{
    QPointer<QScreen> screen; // absent for made-up screens (tests)
    QString name;
    QRectF frame;
    QRectF visibleFrame; // the frame less panels and docks (Qt's available geometry)
    bool isBuiltIn = false;
    // Set when the platform knows there is no camera housing at the top edge, whatever the panels
    // look like: every screen Qt reports on Linux, unless the housing is simulated. A laptop's
    // panel with a tall top bar is not a notched screen, and treating it as one would put a
    // transparent island over the desktop's bar. Made-up screens leave it unset so that the
    // notch rules can be exercised.
    bool cameraHousingRuledOut = false;
    // The screen parts left and right of a camera housing at the top edge; none on Linux unless
    // simulated.
    std::optional<QRectF> auxiliaryTopLeftArea;
    std::optional<QRectF> auxiliaryTopRightArea;

    // The strip above the visible frame (a top panel's height); never below 0.
    double stripHeight() const;
    // Whether both describe the same screen object.
    bool isSameScreen(const ScreenDescription& other) const;
};

// Makes a screen report a camera housing, so that the notch rules can be seen and tested on
// screens that have none: the screen counts as built in, reports auxiliary top areas leaving a
// housing `notchWidth` wide (measured the way the rules measure it) and, when its top strip is
// lower than `stripHeight`, a strip that high.
struct SimulatedNotch
{
    QString screenName; // empty: the first screen
    double notchWidth = 200;
    double stripHeight = 37;

    // "QUILLOMARE_SIMULATE_NOTCH": "1" (first screen, defaults), "<screen name>",
    // "<screen name or 1>:<notch width>" or "<screen name or 1>:<notch width>:<strip height>".
    static std::optional<SimulatedNotch> fromEnvironment();
    static std::optional<SimulatedNotch> parse(const QString& text);
    // The screen as it reports with this notch.
    ScreenDescription applied(ScreenDescription screen) const;
};

class ScreenInfo
{
public:
    virtual ~ScreenInfo() = default;

    // In the system's order; the primary screen first.
    virtual QList<ScreenDescription> screens() const = 0;
    // The screen of the window that has the keyboard, else the primary screen.
    virtual std::optional<ScreenDescription> mainScreen() const = 0;
    // Where the pointer is, y-up.
    virtual QPointF pointerLocation() const = 0;
    // The Qt y coordinate of the primary screen's bottom edge (the mirror line of the conversion).
    virtual double flipReference() const = 0;

    QRectF fromQt(const QRectF& qtRect) const;
    QRectF toQt(const QRectF& yUpRect) const;
    QPointF fromQt(const QPointF& qtPoint) const;
    QPointF toQt(const QPointF& yUpPoint) const;

    // The desktop's screens through Qt.
    static std::shared_ptr<ScreenInfo> system();
};

// Qt's screens, with the developer's simulated notch applied.
class QtScreenInfo final : public ScreenInfo
{
public:
    QList<ScreenDescription> screens() const override;
    std::optional<ScreenDescription> mainScreen() const override;
    QPointF pointerLocation() const override;
    double flipReference() const override;

    // Replaces the environment's simulated notch for the process (tests); nullopt turns it off.
    static void setSimulatedNotchForTesting(std::optional<SimulatedNotch> notch);
    // Linux names built-in panels by their connector: eDP, LVDS or DSI.
    static bool isBuiltInConnectorName(const QString& screenName);

    ScreenDescription describe(QScreen* screen) const;
    // A Linux screen from its connector name and y-up rectangles: built in by its name, never
    // with a camera housing.
    static ScreenDescription describe(const QString& name, const QRectF& frame, const QRectF& visibleFrame);
    // The screens with the simulated notch (if any) applied to the first that matches it.
    static QList<ScreenDescription> withSimulatedNotch(QList<ScreenDescription> screens,
                                                       const std::optional<SimulatedNotch>& notch);
};

// Screens that a test lays out by hand.
class FixedScreenInfo final : public ScreenInfo
{
public:
    QList<ScreenDescription> screenList;
    std::optional<int> mainScreenIndex = 0;
    QPointF pointer;
    double reference = 0;

    QList<ScreenDescription> screens() const override { return screenList; }
    std::optional<ScreenDescription> mainScreen() const override;
    QPointF pointerLocation() const override { return pointer; }
    double flipReference() const override { return reference; }
};

} // namespace Platform
