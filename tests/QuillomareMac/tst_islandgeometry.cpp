#include "TestSupport.h"

#include "Island/Panel/NotchAnchor.h"

#include <Platform/MotionPreferences.h>
#include <Platform/ScreenInfo.h>

#include <QApplication>
#include <QGuiApplication>
#include <QScreen>
#include <QSignalSpy>
#include <QTemporaryDir>

using namespace QuillomareMac;
using Platform::ScreenDescription;
using Mode = IslandView::DisplayMode;
using Style = IslandView::CollapsedVisualStyle;

namespace {

// A screen of the given frame and visible frame (y-up); area widths below 0 mean "not reported".
ScreenDescription makeScreen(const QString& name, const QRectF& frame, const QRectF& visible, bool builtIn,
                             double leftArea = -1, double rightArea = -1)
{
    ScreenDescription screen;
    screen.name = name;
    screen.frame = frame;
    screen.visibleFrame = visible;
    screen.isBuiltIn = builtIn;
    const double top = frame.y() + frame.height();
    const double strip = std::max(1.0, screen.stripHeight());
    if (leftArea >= 0)
        screen.auxiliaryTopLeftArea = QRectF(frame.x(), top - strip, leftArea, strip);
    if (rightArea >= 0)
        screen.auxiliaryTopRightArea = QRectF(frame.x() + frame.width() - rightArea, top - strip, rightArea, strip);
    return screen;
}

QString describe(const QRectF& r)
{
    return QStringLiteral("(%1, %2, %3 × %4)").arg(r.x()).arg(r.y()).arg(r.width()).arg(r.height());
}

} // namespace

class TestIslandGeometry : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void cleanup();

    void screenCases_data();
    void screenCases();
    void expandedWidthFollowsTheVisibleFrame_data();
    void expandedWidthFollowsTheVisibleFrame();
    void tooShortVisibleFrameGivesOnePointHigh();
    void screenChoice();
    void yUpConversionMirrorsAtThePrimaryScreensBottom();
    void qtScreensAreDescribedYUp();
    void builtInConnectorNames();
    void linuxScreensHaveNoNotch();
    void simulatedNotchMakesAScreenNotched();
    void simulatedNotchParsing();
    void kdeAnimationFactor();
    void gsettingsOutput();
    void reduceMotionReadsTheDesktop();
    void reduceMotionFollowsGnomeNotices();
};

void TestIslandGeometry::cleanup()
{
    Platform::QtScreenInfo::setSimulatedNotchForTesting(std::nullopt);
    Platform::MotionPreferences::setReduceMotionForTesting(std::nullopt);
    Platform::MotionPreferences::invalidateCache();
}

void TestIslandGeometry::screenCases_data()
{
    QTest::addColumn<ScreenDescription>("screen");
    QTest::addColumn<bool>("notched");
    QTest::addColumn<QRectF>("collapsed");
    QTest::addColumn<QRectF>("expanded");
    QTest::addColumn<int>("style");
    QTest::addColumn<double>("topInset");
    QTest::addColumn<double>("notchWidth");
    QTest::addColumn<double>("contentHeight");
    QTest::addColumn<QRectF>("echo");
    QTest::addColumn<QRectF>("activation");

    // An external display with a 25-point top panel: a floating pill 6 points below the panel.
    QTest::newRow("external display")
        << makeScreen(QStringLiteral("HDMI-1"), QRectF(0, 0, 1920, 1080), QRectF(0, 0, 1920, 1055), false) << false
        << QRectF(868, 1017, 185, 32) << QRectF(570, 619, 780, 430) << int(Style::floatingPill) << 14.0 << 0.0
        << 402.0 << QRectF(820, 991, 280, 58) << QRectF(864, 1013, 193, 40);
    // Both auxiliary areas reported: the island is the housing's width, the strip's height, and
    // hangs from 2 points above the screen's top.
    QTest::newRow("built-in with measured notch")
        << makeScreen(QStringLiteral("eDP-1"), QRectF(0, 0, 1512, 982), QRectF(0, 0, 1512, 945), true, 654, 654)
        << true << QRectF(652, 947, 208, 37) << QRectF(366, 511, 780, 473) << int(Style::hardwareNotch) << 4.5
        << 208.0 << 454.5 << QRectF(616, 887, 280, 58) << QRectF(648, 945, 216, 43);
    // A strip of 32 or more on the built-in display counts as a notch without areas.
    QTest::newRow("built-in tall strip without areas")
        << makeScreen(QStringLiteral("eDP-1"), QRectF(0, 0, 1440, 900), QRectF(0, 0, 1440, 865), true) << true
        << QRectF(628, 867, 185, 35) << QRectF(330, 431, 780, 471) << int(Style::hardwareNotch) << 3.5 << 185.0
        << 453.5 << QRectF(580, 807, 280, 58) << QRectF(624, 865, 193, 41);
    // Both areas but a measured width of 119: not measured; with a low strip, not notched.
    QTest::newRow("built-in measured 119, low strip")
        << makeScreen(QStringLiteral("eDP-1"), QRectF(0, 0, 1512, 982), QRectF(0, 0, 1512, 958), true, 700, 697)
        << false << QRectF(664, 920, 185, 32) << QRectF(366, 522, 780, 430) << int(Style::floatingPill) << 14.0
        << 0.0 << 402.0 << QRectF(616, 894, 280, 58) << QRectF(660, 916, 193, 40);
    // …and with a tall strip, notched by the strip, at the pill's width.
    QTest::newRow("built-in measured 119, tall strip")
        << makeScreen(QStringLiteral("eDP-1"), QRectF(0, 0, 1512, 982), QRectF(0, 0, 1512, 945), true, 700, 697)
        << true << QRectF(664, 947, 185, 37) << QRectF(366, 511, 780, 473) << int(Style::hardwareNotch) << 4.5
        << 185.0 << 454.5 << QRectF(616, 887, 280, 58) << QRectF(660, 945, 193, 43);
    // Areas reported by a display that is not built in change nothing.
    QTest::newRow("external with areas")
        << makeScreen(QStringLiteral("DP-2"), QRectF(0, 0, 1512, 982), QRectF(0, 0, 1512, 945), false, 654, 654)
        << false << QRectF(664, 907, 185, 32) << QRectF(366, 509, 780, 430) << int(Style::floatingPill) << 14.0
        << 0.0 << 402.0 << QRectF(616, 881, 280, 58) << QRectF(660, 903, 193, 40);
    // A small screen (1920 × 1080 at scale 2) with a 28-point top panel: the island still gets the
    // 780 × 430 its content needs.
    QTest::newRow("small screen")
        << makeScreen(QStringLiteral("HDMI-1"), QRectF(0, 0, 960, 540), QRectF(0, 0, 960, 512), false) << false
        << QRectF(388, 474, 185, 32) << QRectF(90, 76, 780, 430) << int(Style::floatingPill) << 14.0 << 0.0
        << 402.0 << QRectF(340, 448, 280, 58) << QRectF(384, 470, 193, 40);
    // A screen right of the primary one: everything centred on it.
    QTest::newRow("second screen to the right")
        << makeScreen(QStringLiteral("HDMI-2"), QRectF(1920, 0, 1280, 1024), QRectF(1920, 0, 1280, 1000), false)
        << false << QRectF(2468, 962, 185, 32) << QRectF(2170, 564, 780, 430) << int(Style::floatingPill) << 14.0
        << 0.0 << 402.0 << QRectF(2420, 936, 280, 58) << QRectF(2464, 958, 193, 40);
}

void TestIslandGeometry::screenCases()
{
    QFETCH(ScreenDescription, screen);
    QFETCH(bool, notched);
    QFETCH(QRectF, collapsed);
    QFETCH(QRectF, expanded);
    QFETCH(int, style);
    QFETCH(double, topInset);
    QFETCH(double, notchWidth);
    QFETCH(double, contentHeight);
    QFETCH(QRectF, echo);
    QFETCH(QRectF, activation);

    QCOMPARE(NotchAnchor(screen).isNotched(), notched);
    const auto collapsedTarget = IslandGeometry::targetFrame(Mode::collapsed, screen);
    const auto expandedTarget = IslandGeometry::targetFrame(Mode::expanded, screen);
    QVERIFY2(collapsedTarget.frame == collapsed, qPrintable(describe(collapsedTarget.frame)));
    QVERIFY2(expandedTarget.frame == expanded, qPrintable(describe(expandedTarget.frame)));
    QVERIFY(collapsedTarget.pushes.collapsedVisualStyle.has_value());
    QCOMPARE(int(*collapsedTarget.pushes.collapsedVisualStyle), style);
    QVERIFY(!expandedTarget.pushes.collapsedVisualStyle.has_value());
    for (const auto& pushes : {collapsedTarget.pushes, expandedTarget.pushes}) {
        QCOMPARE(pushes.expandedTopInset, topInset);
        QCOMPARE(pushes.notchWidth, notchWidth);
        QCOMPARE(pushes.stripHeight, screen.stripHeight());
        QCOMPARE(pushes.expandedContentHeight, contentHeight);
    }
    const QRectF echoFrame = IslandGeometry::echoFrame(screen);
    QVERIFY2(echoFrame == echo, qPrintable(describe(echoFrame)));
    const QRectF activationFrame = IslandGeometry::collapsedActivationFrame(screen);
    QVERIFY2(activationFrame == activation, qPrintable(describe(activationFrame)));
    // Whatever the screen, the expanded island never exceeds 780 × (inset + 430).
    QVERIFY(expanded.width() <= 780);
    QVERIFY(expanded.height() <= 430 + (notched ? screen.stripHeight() + 6 : 0));
}

void TestIslandGeometry::expandedWidthFollowsTheVisibleFrame_data()
{
    QTest::addColumn<double>("visibleWidth");
    QTest::addColumn<double>("expectedWidth");
    QTest::newRow("800") << 800.0 << 656.0;
    QTest::newRow("1000") << 1000.0 << 780.0;
    QTest::newRow("1400") << 1400.0 << 780.0;
    QTest::newRow("951 (floor)") << 951.0 << 779.0;
    QTest::newRow("1") << 1.0 << 1.0;
}

void TestIslandGeometry::expandedWidthFollowsTheVisibleFrame()
{
    QFETCH(double, visibleWidth);
    QFETCH(double, expectedWidth);
    const auto screen = makeScreen(QStringLiteral("DP-1"), QRectF(0, 0, visibleWidth, 900),
                                   QRectF(0, 0, visibleWidth, 875), false);
    QCOMPARE(IslandGeometry::size(Mode::expanded, screen, NotchAnchor(screen)).width(), expectedWidth);
}

void TestIslandGeometry::tooShortVisibleFrameGivesOnePointHigh()
{
    const auto screen = makeScreen(QStringLiteral("DP-1"), QRectF(0, 0, 800, 40), QRectF(0, 0, 800, 10), false);
    const QSizeF size = IslandGeometry::size(Mode::expanded, screen, NotchAnchor(screen));
    QCOMPARE(size.height(), 1.0);
    QVERIFY(IslandGeometry::targetFrame(Mode::expanded, screen).frame.height() > 0);
}

void TestIslandGeometry::screenChoice()
{
    const auto plainBuiltIn =
        makeScreen(QStringLiteral("eDP-1"), QRectF(0, 0, 1920, 1080), QRectF(0, 0, 1920, 1056), true);
    const auto notchedBuiltIn = makeScreen(QStringLiteral("eDP-2"), QRectF(1920, 0, 1512, 982),
                                           QRectF(1920, 0, 1512, 945), true, 654, 654);
    const auto externalLeft =
        makeScreen(QStringLiteral("HDMI-1"), QRectF(0, 0, 1920, 1080), QRectF(0, 0, 1920, 1055), false);
    const auto externalRight =
        makeScreen(QStringLiteral("HDMI-2"), QRectF(1920, 0, 1280, 1024), QRectF(1920, 0, 1280, 1000), false);
    const QPointF onLeft(100, 100);
    const QPointF onRight(2000, 500);
    const QPointF nowhere(-500, -500);

    // The first notched built-in screen wins over an earlier built-in one that is not notched.
    QCOMPARE(IslandGeometry::targetScreen({plainBuiltIn, notchedBuiltIn}, onLeft, plainBuiltIn)->name,
             QStringLiteral("eDP-2"));
    // Without a notched one, the first built-in one, wherever the pointer is.
    QCOMPARE(IslandGeometry::targetScreen({externalRight, plainBuiltIn}, onRight, externalRight)->name,
             QStringLiteral("eDP-1"));
    // No built-in screen: the one under the pointer.
    QCOMPARE(IslandGeometry::targetScreen({externalLeft, externalRight}, onRight, externalLeft)->name,
             QStringLiteral("HDMI-2"));
    // Pointer on no screen: the main screen, else the first.
    QCOMPARE(IslandGeometry::targetScreen({externalLeft, externalRight}, nowhere, externalRight)->name,
             QStringLiteral("HDMI-2"));
    QCOMPARE(IslandGeometry::targetScreen({externalLeft, externalRight}, nowhere, std::nullopt)->name,
             QStringLiteral("HDMI-1"));
    QVERIFY(!IslandGeometry::targetScreen({}, nowhere, std::nullopt));

    // The pointer test includes a screen's top row and left column, not its bottom and right edges.
    QCOMPARE(IslandGeometry::screenContaining({externalLeft, externalRight}, QPointF(1920, 1024))->name,
             QStringLiteral("HDMI-2"));
    QVERIFY(!IslandGeometry::screenContaining({externalLeft}, QPointF(100, 0)));
    QCOMPARE(IslandGeometry::screenContaining({externalLeft}, QPointF(100, 1080))->name, QStringLiteral("HDMI-1"));
}

void TestIslandGeometry::yUpConversionMirrorsAtThePrimaryScreensBottom()
{
    Platform::FixedScreenInfo screens;
    screens.reference = 1080;
    // The pill 6 pixels below the top of a 1080-high primary screen, in Qt's coordinates…
    const QRectF qtPill(868, 6, 185, 32);
    const QRectF yUpPill = screens.fromQt(qtPill);
    // …has its top edge 6 below the screen's top edge in y-up coordinates.
    QCOMPARE(yUpPill, QRectF(868, 1042, 185, 32));
    QCOMPARE(Platform::ScreenGeometry::maxY(yUpPill), 1074.0);
    QCOMPARE(screens.toQt(yUpPill), qtPill);
    QCOMPARE(screens.fromQt(QPointF(10, 0)), QPointF(10, 1080));
    QCOMPARE(screens.toQt(QPointF(10, 1080)), QPointF(10, 0));
    // A screen above the primary one has negative Qt y and lies above 1080 in y-up.
    QCOMPARE(screens.fromQt(QRectF(0, -768, 1024, 768)), QRectF(0, 1080, 1024, 768));
    // The pointer on the pill's top pixel row is inside it; one row above is not.
    QVERIFY(Platform::ScreenGeometry::mouseInRect(screens.fromQt(QPointF(900, 6)), yUpPill));
    QVERIFY(!Platform::ScreenGeometry::mouseInRect(screens.fromQt(QPointF(900, 5)), yUpPill));
    QVERIFY(Platform::ScreenGeometry::mouseInRect(screens.fromQt(QPointF(900, 37)), yUpPill));
    QVERIFY(!Platform::ScreenGeometry::mouseInRect(screens.fromQt(QPointF(900, 38)), yUpPill));
}

void TestIslandGeometry::qtScreensAreDescribedYUp()
{
    Platform::QtScreenInfo info;
    const auto screens = info.screens();
    QVERIFY(!screens.isEmpty());
    QScreen* primary = QGuiApplication::primaryScreen();
    QCOMPARE(screens.first().screen.data(), primary);
    QCOMPARE(screens.first().frame, QRectF(0, 0, primary->geometry().width(), primary->geometry().height()));
    QCOMPARE(screens.first().visibleFrame, info.fromQt(QRectF(primary->availableGeometry())));
    QCOMPARE(screens.first().isBuiltIn, Platform::QtScreenInfo::isBuiltInConnectorName(primary->name()));
    QVERIFY(!screens.first().auxiliaryTopLeftArea && !screens.first().auxiliaryTopRightArea);
    QVERIFY(info.mainScreen().has_value());
}

void TestIslandGeometry::builtInConnectorNames()
{
    for (const char* name : {"eDP-1", "eDP1", "LVDS-1", "lvds1", "DSI-1"})
        QVERIFY2(Platform::QtScreenInfo::isBuiltInConnectorName(QLatin1String(name)), name);
    for (const char* name : {"DP-1", "HDMI-A-1", "Virtual-1", ""})
        QVERIFY2(!Platform::QtScreenInfo::isBuiltInConnectorName(QLatin1String(name)), name);
}

void TestIslandGeometry::linuxScreensHaveNoNotch()
{
    // A laptop panel whose desktop bar is 35 points high: no housing, so the pill floats below
    // the bar, centred, drawn as a pill.
    const ScreenDescription laptop = Platform::QtScreenInfo::describe(
        QStringLiteral("eDP-1"), QRectF(0, 0, 1440, 900), QRectF(0, 0, 1440, 865));
    QVERIFY(laptop.isBuiltIn);
    QVERIFY(!NotchAnchor(laptop).isNotched());
    const auto collapsed = IslandGeometry::targetFrame(Mode::collapsed, laptop);
    QCOMPARE(collapsed.frame, QRectF(628, 827, 185, 32));
    QCOMPARE(int(*collapsed.pushes.collapsedVisualStyle), int(Style::floatingPill));
    QCOMPARE(IslandGeometry::targetFrame(Mode::expanded, laptop).frame, QRectF(330, 429, 780, 430));

    // The developer's override still shows the notch look, on the screen it names only.
    const ScreenDescription external = Platform::QtScreenInfo::describe(
        QStringLiteral("HDMI-1"), QRectF(1440, 0, 1920, 1080), QRectF(1440, 0, 1920, 1055));
    const auto simulated = Platform::QtScreenInfo::withSimulatedNotch(
        {external, laptop}, Platform::SimulatedNotch{QStringLiteral("eDP-1"), 200, 37});
    QVERIFY(!NotchAnchor(simulated.at(0)).isNotched());
    QVERIFY(NotchAnchor(simulated.at(1)).isNotched());
}

void TestIslandGeometry::simulatedNotchMakesAScreenNotched()
{
    Platform::QtScreenInfo info;
    Platform::QtScreenInfo::setSimulatedNotchForTesting(Platform::SimulatedNotch{QString(), 200, 37});
    const ScreenDescription screen = info.screens().first();
    QVERIFY(screen.isBuiltIn);
    QVERIFY(screen.stripHeight() >= 37);
    const NotchAnchor anchor(screen);
    QVERIFY(anchor.hasMeasuredHardwareNotch());
    QVERIFY(anchor.isNotched());
    QCOMPARE(anchor.closedNotchSize(), QSizeF(200, 32));
    const auto target = IslandGeometry::targetFrame(Mode::collapsed, screen);
    QCOMPARE(target.frame.width(), 200.0);
    QCOMPARE(Platform::ScreenGeometry::maxY(target.frame), Platform::ScreenGeometry::maxY(screen.frame) + 2);
    QCOMPARE(*target.pushes.collapsedVisualStyle, Style::hardwareNotch);

    // A name that matches no screen simulates nothing.
    Platform::QtScreenInfo::setSimulatedNotchForTesting(Platform::SimulatedNotch{QStringLiteral("nope"), 200, 37});
    QCOMPARE(info.screens().first().auxiliaryTopLeftArea.has_value(), false);
}

void TestIslandGeometry::simulatedNotchParsing()
{
    const auto defaults = Platform::SimulatedNotch::parse(QStringLiteral("1"));
    QVERIFY(defaults);
    QVERIFY(defaults->screenName.isEmpty());
    const auto named = Platform::SimulatedNotch::parse(QStringLiteral("eDP-1:180:40"));
    QVERIFY(named);
    QCOMPARE(named->screenName, QStringLiteral("eDP-1"));
    QCOMPARE(named->notchWidth, 180.0);
    QCOMPARE(named->stripHeight, 40.0);
    QVERIFY(!Platform::SimulatedNotch::parse(QStringLiteral("1:wide")));
    QVERIFY(!Platform::SimulatedNotch::parse(QStringLiteral("1:-5")));
    QVERIFY(!Platform::SimulatedNotch::parse(QStringLiteral("a:1:2:3")));
}

void TestIslandGeometry::kdeAnimationFactor()
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("kdeglobals"));
    const auto withContent = [&](const QByteArray& content) {
        QuillomareTest::writeFile(path, content);
        return Platform::MotionPreferences::reduceMotionFromKdeGlobals(path);
    };
    QCOMPARE(withContent("[General]\nfoo=1\n[KDE]\nAnimationDurationFactor=0\n"), std::optional<bool>(true));
    QCOMPARE(withContent("[KDE]\nAnimationDurationFactor=0.5\n"), std::optional<bool>(false));
    QCOMPARE(withContent("[KDE][$i]\n"), std::optional<bool>());
    QCOMPARE(withContent("[KDE]\nAnimationDurationFactor[$i]=0\n"), std::optional<bool>(true));
    QCOMPARE(withContent("[General]\nAnimationDurationFactor=0\n"), std::optional<bool>());
    QCOMPARE(withContent("[KDE]\nAnimationDurationFactor=fast\n"), std::optional<bool>());
    QCOMPARE(Platform::MotionPreferences::reduceMotionFromKdeGlobals(dir.filePath(QStringLiteral("missing"))),
             std::optional<bool>());
}

void TestIslandGeometry::gsettingsOutput()
{
    QCOMPARE(Platform::MotionPreferences::reduceMotionFromGSettingsOutput("false\n"), std::optional<bool>(true));
    QCOMPARE(Platform::MotionPreferences::reduceMotionFromGSettingsOutput("true\n"), std::optional<bool>(false));
    QCOMPARE(Platform::MotionPreferences::reduceMotionFromGSettingsOutput(""), std::optional<bool>());
    QCOMPARE(Platform::MotionPreferences::reduceMotionFromGSettingsOutput("enable-animations: true\n"),
             std::optional<bool>(false));
}

void TestIslandGeometry::reduceMotionReadsTheDesktop()
{
    QTemporaryDir config;
    const QByteArray previous = qgetenv("XDG_CONFIG_HOME");
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(config.path()));
    const auto restore = qScopeGuard([&] { qputenv("XDG_CONFIG_HOME", previous); });
    const QString path = config.filePath(QStringLiteral("kdeglobals"));

    QuillomareTest::writeFile(path, "[KDE]\nAnimationDurationFactor=0\n");
    Platform::MotionPreferences::invalidateCache();
    QVERIFY(Platform::MotionPreferences::reduceMotion());

    // Asking does not read the desktop again: the kept answer holds until the change notice.
    QSignalSpy changed(Platform::MotionPreferences::notifier(), &Platform::MotionPreferencesNotifier::changed);
    QuillomareTest::writeFile(path, "[KDE]\nAnimationDurationFactor=1\n");
    QVERIFY(Platform::MotionPreferences::reduceMotion());
    QVERIFY(changed.wait());
    QCOMPARE(changed.takeFirst().at(0).toBool(), false);
    QVERIFY(!Platform::MotionPreferences::reduceMotion());
}

void TestIslandGeometry::reduceMotionFollowsGnomeNotices()
{
    QTemporaryDir config;
    const QByteArray previous = qgetenv("XDG_CONFIG_HOME");
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(config.path()));
    const auto restore = qScopeGuard([&] { qputenv("XDG_CONFIG_HOME", previous); });
    Platform::MotionPreferences::invalidateCache();

    // Lines as `gsettings monitor` prints them.
    Platform::MotionPreferences::takeGSettingsOutput("enable-animations: false\n");
    QVERIFY(Platform::MotionPreferences::reduceMotion());
    Platform::MotionPreferences::takeGSettingsOutput("enable-animations: true\n");
    QVERIFY(!Platform::MotionPreferences::reduceMotion());
    // A KDE answer outranks GNOME's.
    QuillomareTest::writeFile(config.filePath(QStringLiteral("kdeglobals")), "[KDE]\nAnimationDurationFactor=0\n");
    Platform::MotionPreferences::invalidateCache();
    QVERIFY(Platform::MotionPreferences::reduceMotion());
}

QUILLOMARE_GUI_TEST_MAIN(TestIslandGeometry)
#include "tst_islandgeometry.moc"
