#include "ScreenInfo.h"

#include <QCursor>
#include <QGuiApplication>
#include <QWindow>

#include <algorithm>
#include <cmath>

namespace Platform {

namespace ScreenGeometry {

bool mouseInRect(const QPointF& point, const QRectF& rect)
{
    return point.x() >= minX(rect) && point.x() < maxX(rect) && point.y() > minY(rect) && point.y() <= maxY(rect);
}

} // namespace ScreenGeometry

double ScreenDescription::stripHeight() const
{
    return std::max(0.0, ScreenGeometry::maxY(frame) - ScreenGeometry::maxY(visibleFrame));
}

bool ScreenDescription::isSameScreen(const ScreenDescription& other) const
{
    if (screen || other.screen)
        return screen == other.screen;
    return name == other.name && frame == other.frame;
}

std::optional<SimulatedNotch> SimulatedNotch::fromEnvironment()
{
    const QString text = qEnvironmentVariable("QUILLOMARE_SIMULATE_NOTCH");
    if (text.trimmed().isEmpty() || text.trimmed() == QLatin1String("0"))
        return std::nullopt;
    return parse(text);
}

std::optional<SimulatedNotch> SimulatedNotch::parse(const QString& text)
{
    const QStringList parts = text.trimmed().split(QLatin1Char(':'));
    if (parts.isEmpty() || parts.size() > 3)
        return std::nullopt;
    SimulatedNotch notch;
    const QString screen = parts.at(0).trimmed();
    notch.screenName = (screen == QLatin1String("1") || screen == QLatin1String("*")) ? QString() : screen;
    bool ok = true;
    if (parts.size() >= 2) {
        notch.notchWidth = parts.at(1).trimmed().toDouble(&ok);
        if (!ok || !std::isfinite(notch.notchWidth) || notch.notchWidth <= 0)
            return std::nullopt;
    }
    if (parts.size() == 3) {
        notch.stripHeight = parts.at(2).trimmed().toDouble(&ok);
        if (!ok || !std::isfinite(notch.stripHeight) || notch.stripHeight < 0)
            return std::nullopt;
    }
    return notch;
}

ScreenDescription SimulatedNotch::applied(ScreenDescription screen) const
{
    using namespace ScreenGeometry;
    screen.isBuiltIn = true;
    screen.cameraHousingRuledOut = false;
    if (screen.stripHeight() < stripHeight) {
        const double top = maxY(screen.frame) - stripHeight;
        const double bottom = std::min(minY(screen.visibleFrame), top);
        screen.visibleFrame = QRectF(screen.visibleFrame.x(), bottom, screen.visibleFrame.width(), top - bottom);
    }
    // The rules measure the housing as frame width − both areas + 4.
    const double sides = std::max(0.0, screen.frame.width() - notchWidth + 4);
    const double left = std::floor(sides / 2);
    const double right = sides - left;
    const double strip = std::max(screen.stripHeight(), 1.0);
    const double areaY = maxY(screen.frame) - strip;
    screen.auxiliaryTopLeftArea = QRectF(minX(screen.frame), areaY, left, strip);
    screen.auxiliaryTopRightArea = QRectF(maxX(screen.frame) - right, areaY, right, strip);
    return screen;
}

QRectF ScreenInfo::fromQt(const QRectF& r) const
{
    return QRectF(r.x(), flipReference() - r.y() - r.height(), r.width(), r.height());
}

QRectF ScreenInfo::toQt(const QRectF& r) const
{
    // The mirror is its own inverse.
    return QRectF(r.x(), flipReference() - r.y() - r.height(), r.width(), r.height());
}

QPointF ScreenInfo::fromQt(const QPointF& p) const
{
    return QPointF(p.x(), flipReference() - p.y());
}

QPointF ScreenInfo::toQt(const QPointF& p) const
{
    return QPointF(p.x(), flipReference() - p.y());
}

std::shared_ptr<ScreenInfo> ScreenInfo::system()
{
    static const std::shared_ptr<ScreenInfo> info = std::make_shared<QtScreenInfo>();
    return info;
}

namespace {

struct SimulatedNotchSetting
{
    bool overridden = false;
    std::optional<SimulatedNotch> notch;
};

SimulatedNotchSetting& simulatedNotchSetting()
{
    static SimulatedNotchSetting setting;
    return setting;
}

std::optional<SimulatedNotch> currentSimulatedNotch()
{
    const auto& setting = simulatedNotchSetting();
    if (setting.overridden)
        return setting.notch;
    static const std::optional<SimulatedNotch> fromEnvironment = SimulatedNotch::fromEnvironment();
    return fromEnvironment;
}

} // namespace

void QtScreenInfo::setSimulatedNotchForTesting(std::optional<SimulatedNotch> notch)
{
    simulatedNotchSetting() = SimulatedNotchSetting{true, std::move(notch)};
}

bool QtScreenInfo::isBuiltInConnectorName(const QString& screenName)
{
    for (const auto prefix : {QLatin1String("eDP"), QLatin1String("LVDS"), QLatin1String("DSI")}) {
        if (screenName.startsWith(prefix, Qt::CaseInsensitive))
            return true;
    }
    return false;
}

double QtScreenInfo::flipReference() const
{
    const QScreen* primary = QGuiApplication::primaryScreen();
    if (!primary)
        return 0;
    const QRect geometry = primary->geometry();
    return double(geometry.y()) + double(geometry.height());
}

ScreenDescription QtScreenInfo::describe(const QString& name, const QRectF& frame, const QRectF& visibleFrame)
{
    ScreenDescription description;
    description.name = name;
    description.frame = frame;
    description.visibleFrame = visibleFrame;
    description.isBuiltIn = isBuiltInConnectorName(name);
    description.cameraHousingRuledOut = true;
    return description;
}

ScreenDescription QtScreenInfo::describe(QScreen* screen) const
{
    ScreenDescription description =
        describe(screen->name(), fromQt(QRectF(screen->geometry())), fromQt(QRectF(screen->availableGeometry())));
    description.screen = screen;
    return description;
}

QList<ScreenDescription> QtScreenInfo::withSimulatedNotch(QList<ScreenDescription> screens,
                                                          const std::optional<SimulatedNotch>& notch)
{
    if (!notch)
        return screens;
    for (auto& description : screens) {
        if (notch->screenName.isEmpty() || notch->screenName == description.name) {
            description = notch->applied(description);
            break;
        }
    }
    return screens;
}

QList<ScreenDescription> QtScreenInfo::screens() const
{
    QList<ScreenDescription> result;
    for (QScreen* screen : QGuiApplication::screens())
        result.append(describe(screen));
    return withSimulatedNotch(std::move(result), currentSimulatedNotch());
}

std::optional<ScreenDescription> QtScreenInfo::mainScreen() const
{
    QScreen* wanted = nullptr;
    if (QWindow* focus = QGuiApplication::focusWindow())
        wanted = focus->screen();
    if (!wanted)
        wanted = QGuiApplication::primaryScreen();
    if (!wanted)
        return std::nullopt;
    for (const auto& description : screens()) {
        if (description.screen == wanted)
            return description;
    }
    return std::nullopt;
}

QPointF QtScreenInfo::pointerLocation() const
{
    return fromQt(QPointF(QCursor::pos()));
}

std::optional<ScreenDescription> FixedScreenInfo::mainScreen() const
{
    if (!mainScreenIndex || *mainScreenIndex < 0 || *mainScreenIndex >= screenList.size())
        return std::nullopt;
    return screenList.at(*mainScreenIndex);
}

} // namespace Platform
