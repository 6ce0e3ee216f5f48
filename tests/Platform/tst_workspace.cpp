#include "TestSupport.h"

#include <Platform/DesktopEntries.h>
#include <Platform/WorkspaceX11.h>

#include <QApplication>
#include <QDir>
#include <QLocale>
#include <QTemporaryDir>

using namespace Platform;
using namespace Platform::DesktopEntries;

namespace {

// Sets environment variables for one test (a null value unsets one) and puts the old values back.
class EnvironmentOverride
{
public:
    void set(const char* name, const QByteArray& value)
    {
        if (std::none_of(m_saved.cbegin(), m_saved.cend(), [&](const auto& saved) { return saved.first == name; }))
            m_saved.append({name, qEnvironmentVariableIsSet(name) ? std::optional(qgetenv(name)) : std::nullopt});
        value.isNull() ? qunsetenv(name) : qputenv(name, value);
    }
    ~EnvironmentOverride()
    {
        for (const auto& [name, value] : m_saved)
            value ? qputenv(name.constData(), *value) : qunsetenv(name.constData());
    }

private:
    QList<std::pair<QByteArray, std::optional<QByteArray>>> m_saved;
};

// A data home and one data dir, both temporary, made the XDG folders for the test's duration.
struct ApplicationFolders
{
    ApplicationFolders()
    {
        environment.set("XDG_DATA_HOME", QFile::encodeName(root.filePath(QStringLiteral("home"))));
        environment.set("XDG_DATA_DIRS", QFile::encodeName(root.filePath(QStringLiteral("system"))));
    }
    QString homeApplications() const { return root.filePath(QStringLiteral("home/applications")); }
    QString systemApplications() const { return root.filePath(QStringLiteral("system/applications")); }
    void write(const QString& folder, const QString& relativePath, const QByteArray& contents) const
    {
        const QString path = folder + QLatin1Char('/') + relativePath;
        QDir().mkpath(QFileInfo(path).absolutePath());
        QuillomareTest::writeFile(path, contents);
    }

    QTemporaryDir root;
    EnvironmentOverride environment;
};

QByteArray desktopFile(const QByteArray& keys)
{
    return "[Desktop Entry]\nType=Application\n" + keys + "\n";
}

WindowFacts window(const QString& instance, const QString& wmClass, const QString& executable = {},
                   const QString& title = {})
{
    WindowFacts facts;
    facts.processIdentifier = 4242;
    facts.wmInstance = instance;
    facts.wmClass = wmClass;
    facts.executableName = executable;
    facts.title = title;
    return facts;
}

} // namespace

class TestWorkspace : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void localeKeysFollowTheDesktopEntryFallbacks_data();
    void localeKeysFollowTheDesktopEntryFallbacks();
    void execProgramName_data();
    void execProgramName();
    void desktopEntryParsing();
    void applicationFoldersFollowXdgVariables();
    void indexMatchesWindows_data();
    void indexMatchesWindows();
    void applicationIsNamedByTheFirstRuleThatApplies();
    void flatpakIdFromInfo();
    void flatpakIdFromCgroup_data();
    void flatpakIdFromCgroup();
    void indexIsScannedOnceAndRefreshedForNewApplications();
    void namesFollowTheProgramLanguage();
    void answersNothingOffX11();
    void nothingToShowIsRefused();
    void memoryWorkspaceReportsToObserversUntilReleased();
};

void TestWorkspace::localeKeysFollowTheDesktopEntryFallbacks_data()
{
    QTest::addColumn<QStringList>("uiLanguages");
    QTest::addColumn<QStringList>("keys");
    QTest::newRow("Qt's list for Simplified Chinese")
        << QStringList{QStringLiteral("zh-Hans-CN"), QStringLiteral("zh-CN"), QStringLiteral("zh")}
        << QStringList{QStringLiteral("zh_CN"), QStringLiteral("zh")};
    QTest::newRow("script alone gives its territory")
        << QStringList{QStringLiteral("zh-Hant")} << QStringList{QStringLiteral("zh_TW"), QStringLiteral("zh")};
    QTest::newRow("modifier") << QStringList{QStringLiteral("sr-RS@latin")}
                              << QStringList{QStringLiteral("sr_RS@latin"), QStringLiteral("sr_RS"),
                                             QStringLiteral("sr@latin"), QStringLiteral("sr")};
    QTest::newRow("encoding dropped") << QStringList{QStringLiteral("de_DE.UTF-8")}
                                      << QStringList{QStringLiteral("de_DE"), QStringLiteral("de")};
    QTest::newRow("C has no translations") << QStringList{QStringLiteral("C")} << QStringList{};
    QTest::newRow("each language before the next")
        << QStringList{QStringLiteral("pt-BR"), QStringLiteral("en-US")}
        << QStringList{QStringLiteral("pt_BR"), QStringLiteral("pt"), QStringLiteral("en_US"), QStringLiteral("en")};
}

void TestWorkspace::localeKeysFollowTheDesktopEntryFallbacks()
{
    QFETCH(QStringList, uiLanguages);
    QFETCH(QStringList, keys);
    QCOMPARE(localeKeys(uiLanguages), keys);
}

void TestWorkspace::execProgramName_data()
{
    QTest::addColumn<QString>("exec");
    QTest::addColumn<QString>("program");
    QTest::newRow("path and field code") << QStringLiteral("/usr/bin/kate -b %U") << QStringLiteral("kate");
    QTest::newRow("quoted with blank") << QStringLiteral("\"/opt/My Tool/my tool\" %f") << QStringLiteral("my tool");
    QTest::newRow("escaped quote") << QStringLiteral("\"/opt/a\\\"b/prog\"") << QStringLiteral("prog");
    QTest::newRow("env assignments") << QStringLiteral("env GDK_BACKEND=x11 LANG=C /usr/bin/foo --new")
                                     << QStringLiteral("foo");
    QTest::newRow("env options") << QStringLiteral("/usr/bin/env -u QT_SCALE_FACTOR -i bar") << QStringLiteral("bar");
    QTest::newRow("empty") << QStringLiteral("   ") << QString();
}

void TestWorkspace::execProgramName()
{
    QFETCH(QString, exec);
    QFETCH(QString, program);
    QCOMPARE(DesktopEntries::execProgramName(exec), program);
}

void TestWorkspace::desktopEntryParsing()
{
    const QByteArray kate = "# comment\n"
                            "[Desktop Entry]\n"
                            "Type=Application\n"
                            "Name=Kate\\sEditor\n"
                            "Name[zh_CN]=Kate 编辑器\n"
                            "Name[zh]=Kate 中文\n"
                            "Name[de]=Kate-Editor\n"
                            "StartupWMClass = kate\n"
                            "Exec=/usr/bin/kate -b %U\n"
                            "NoDisplay=true\n"
                            "\n"
                            "[Desktop Action newWindow]\n"
                            "Name=New Window\n"
                            "Exec=/usr/bin/other\n";
    const QStringList chineseChina = {QStringLiteral("zh_CN"), QStringLiteral("zh")};
    const std::optional<DesktopEntry> entry = parseDesktopEntry(kate, QStringLiteral("org.kde.kate"), chineseChina);
    QVERIFY(entry);
    QCOMPARE(entry->id, QStringLiteral("org.kde.kate"));
    QCOMPARE(entry->name, QStringLiteral("Kate 编辑器"));
    QCOMPARE(entry->startupWMClass, QStringLiteral("kate"));
    QCOMPARE(entry->execProgram, QStringLiteral("kate")); // not the action's Exec
    QVERIFY(entry->noDisplay);

    // The best key present wins, whatever the order in the file.
    const QStringList chineseTaiwan = {QStringLiteral("zh_TW"), QStringLiteral("zh")};
    QCOMPARE(parseDesktopEntry(kate, QStringLiteral("k"), chineseTaiwan)->name, QStringLiteral("Kate 中文"));
    QCOMPARE(parseDesktopEntry(kate, QStringLiteral("k"), {})->name, QStringLiteral("Kate Editor"));

    // Not applications, or removed.
    QVERIFY(!parseDesktopEntry(desktopFile("Name=X\nHidden=true"), QStringLiteral("x"), {}));
    QVERIFY(!parseDesktopEntry("[Desktop Entry]\nType=Link\nName=X\nURL=https://example.org\n", QStringLiteral("x"), {}));
    QVERIFY(!parseDesktopEntry("[Other]\nName=X\n", QStringLiteral("x"), {}));
    // A file without Type is taken as an application; a launcher's Exec says nothing.
    const auto untyped = parseDesktopEntry("[Desktop Entry]\nName=Script\nExec=python3 /opt/s.py\n", QStringLiteral("s"), {});
    QVERIFY(untyped);
    QVERIFY(untyped->execProgram.isEmpty());

    QCOMPARE(desktopFileId(QStringLiteral("kde/org.kde.kate.desktop")), QStringLiteral("kde-org.kde.kate"));
}

void TestWorkspace::applicationFoldersFollowXdgVariables()
{
    EnvironmentOverride environment;
    environment.set("XDG_DATA_HOME", "/data/home/");
    environment.set("XDG_DATA_DIRS", "/one:relative/ignored::/two/:/one");
    QCOMPARE(applicationFolders(), (QStringList{QStringLiteral("/data/home/applications"),
                                                QStringLiteral("/one/applications"),
                                                QStringLiteral("/two/applications")}));

    environment.set("XDG_DATA_HOME", {});
    environment.set("XDG_DATA_DIRS", {});
    QCOMPARE(applicationFolders(), (QStringList{QDir::homePath() + QStringLiteral("/.local/share/applications"),
                                                QStringLiteral("/usr/local/share/applications"),
                                                QStringLiteral("/usr/share/applications")}));
}

void TestWorkspace::indexMatchesWindows_data()
{
    QTest::addColumn<WindowFacts>("facts");
    QTest::addColumn<QString>("id"); // empty: no entry

    QTest::newRow("StartupWMClass, any case") << window(QStringLiteral("code"), QStringLiteral("CODE"))
                                              << QStringLiteral("code-editor");
    QTest::newRow("StartupWMClass beats another file's Exec")
        << window(QStringLiteral("x"), QStringLiteral("Code"), QStringLiteral("shared-bin")) << QStringLiteral("code-editor");
    QTest::newRow("Exec program is the executable")
        << window(QStringLiteral("zz"), QStringLiteral("Zz"), QStringLiteral("shared-bin")) << QStringLiteral("shared");
    QTest::newRow("executable name is exact")
        << window(QStringLiteral("zz"), QStringLiteral("Zz"), QStringLiteral("Shared-Bin")) << QString();
    QTest::newRow("Exec program is the instance, any case")
        << window(QStringLiteral("Shared-Bin"), QStringLiteral("Zz")) << QStringLiteral("shared");
    QTest::newRow("file id is the class") << window(QStringLiteral("gimp"), QStringLiteral("org.example.Paint"))
                                          << QStringLiteral("org.example.Paint");
    QTest::newRow("home copy hides the system one")
        << window(QStringLiteral("term"), QStringLiteral("Terminal")) << QStringLiteral("terminal");
    QTest::newRow("hidden home copy removes the application")
        << window(QStringLiteral("gone"), QStringLiteral("Removed")) << QString();
    QTest::newRow("shown entry beats a NoDisplay helper")
        << window(QStringLiteral("viewer"), QStringLiteral("Viewer")) << QStringLiteral("z-viewer");
    QTest::newRow("interpreter is no match")
        << window(QStringLiteral("x"), QStringLiteral("X"), QStringLiteral("python3")) << QString();
    QTest::newRow("nothing") << window(QStringLiteral("xterm"), QStringLiteral("XTerm")) << QString();
}

void TestWorkspace::indexMatchesWindows()
{
    QFETCH(WindowFacts, facts);
    QFETCH(QString, id);

    ApplicationFolders folders;
    const QString home = folders.homeApplications();
    const QString system = folders.systemApplications();
    folders.write(system, QStringLiteral("code-editor.desktop"), desktopFile("Name=Code\nStartupWMClass=code\nExec=/usr/bin/code"));
    folders.write(system, QStringLiteral("shared.desktop"), desktopFile("Name=Shared\nExec=/opt/shared/shared-bin %F"));
    folders.write(system, QStringLiteral("org.example.Paint.desktop"), desktopFile("Name=Paint\nExec=paint"));
    folders.write(system, QStringLiteral("terminal.desktop"), desktopFile("Name=System Terminal\nStartupWMClass=nothing"));
    folders.write(home, QStringLiteral("terminal.desktop"), desktopFile("Name=My Terminal\nStartupWMClass=Terminal"));
    folders.write(system, QStringLiteral("removed.desktop"), desktopFile("Name=Removed\nStartupWMClass=Removed"));
    folders.write(home, QStringLiteral("removed.desktop"), desktopFile("Name=Removed\nStartupWMClass=Removed\nHidden=true"));
    folders.write(system, QStringLiteral("a-viewer-helper.desktop"), desktopFile("Name=Helper\nStartupWMClass=Viewer\nNoDisplay=true"));
    folders.write(system, QStringLiteral("z-viewer.desktop"), desktopFile("Name=Viewer\nStartupWMClass=Viewer"));
    folders.write(system, QStringLiteral("script.desktop"), desktopFile("Name=Script\nExec=python3 /opt/script.py"));
    folders.write(system, QStringLiteral("notes.txt"), desktopFile("Name=Not a desktop file\nStartupWMClass=XTerm"));

    const Index index = Index::scan(applicationFolders(), {});
    const DesktopEntry* entry = index.match(facts);
    QCOMPARE(entry ? entry->id : QString(), id);
    if (id == QLatin1String("terminal"))
        QCOMPARE(entry->name, QStringLiteral("My Terminal"));
}

void TestWorkspace::applicationIsNamedByTheFirstRuleThatApplies()
{
    ApplicationFolders folders;
    folders.write(folders.homeApplications(), QStringLiteral("org.gnome.Calculator.desktop"),
                  desktopFile("Name=Calculator\nStartupWMClass=gnome-calculator"));
    const Index index = Index::scan(applicationFolders(), {});

    // A Flatpak is named by its id, and by the exported desktop file of that id.
    WindowFacts flatpak = window(QStringLiteral("calc"), QStringLiteral("Calc"));
    flatpak.flatpakId = QStringLiteral("org.gnome.Calculator");
    QCOMPARE(describe(flatpak, index),
             (RunningApplication{4242, QStringLiteral("org.gnome.Calculator"), QStringLiteral("Calculator")}));

    // A Flatpak without a desktop file keeps its id; the name comes from the window.
    flatpak.flatpakId = QStringLiteral("org.example.Bare");
    flatpak.title = QStringLiteral("Bare — document");
    QCOMPARE(describe(flatpak, index),
             (RunningApplication{4242, QStringLiteral("org.example.Bare"), QStringLiteral("Bare — document")}));

    QCOMPARE(describe(window(QStringLiteral("gnome-calculator"), QStringLiteral("Gnome-calculator")), index),
             (RunningApplication{4242, QStringLiteral("org.gnome.Calculator"), QStringLiteral("Calculator")}));
    QCOMPARE(describe(window(QStringLiteral("xterm"), QStringLiteral("XTerm"), {}, QStringLiteral("user@host: ~")), index),
             (RunningApplication{4242, QStringLiteral("XTerm"), QStringLiteral("user@host: ~")}));
    QCOMPARE(describe(window(QStringLiteral("xterm"), QStringLiteral("XTerm")), index),
             (RunningApplication{4242, QStringLiteral("XTerm"), QStringLiteral("XTerm")}));
    QCOMPARE(describe(WindowFacts{}, index), RunningApplication{});
}

void TestWorkspace::flatpakIdFromInfo()
{
    const QByteArray info = "[Application]\n"
                            "name = org.mozilla.firefox\n"
                            "runtime=runtime/org.freedesktop.Platform/x86_64/23.08\n"
                            "\n"
                            "[Instance]\n"
                            "instance-id=1234\n"
                            "name=not-this\n";
    QCOMPARE(DesktopEntries::flatpakIdFromInfo(info), std::optional<QString>(QStringLiteral("org.mozilla.firefox")));
    QCOMPARE(DesktopEntries::flatpakIdFromInfo("[Instance]\nname=org.example.Wrong\n"), std::nullopt);
    QCOMPARE(DesktopEntries::flatpakIdFromInfo(QByteArray()), std::nullopt);
}

void TestWorkspace::flatpakIdFromCgroup_data()
{
    QTest::addColumn<QByteArray>("cgroup");
    QTest::addColumn<QString>("id");
    QTest::newRow("unified hierarchy")
        << QByteArray("0::/user.slice/user-1000.slice/user@1000.service/app.slice/app-flatpak-org.gnome.Calculator-53127.scope\n")
        << QStringLiteral("org.gnome.Calculator");
    QTest::newRow("dash in the id")
        << QByteArray("0::/user.slice/user@1000.service/app.slice/app-flatpak-io.github.some-tool-9.scope\n")
        << QStringLiteral("io.github.some-tool");
    QTest::newRow("escaped dash")
        << QByteArray("0::/app.slice/app-flatpak-io.github.my\\x2dapp-77.scope\n") << QStringLiteral("io.github.my-app");
    QTest::newRow("legacy hierarchies")
        << QByteArray("12:pids:/user.slice\n1:name=systemd:/user.slice/app-flatpak-com.example.App-1.scope\n")
        << QStringLiteral("com.example.App");
    QTest::newRow("ordinary application")
        << QByteArray("0::/user.slice/user-1000.slice/user@1000.service/app.slice/app-org.kde.kate-1234.scope\n")
        << QString();
}

void TestWorkspace::flatpakIdFromCgroup()
{
    QFETCH(QByteArray, cgroup);
    QFETCH(QString, id);
    QCOMPARE(DesktopEntries::flatpakIdFromCgroup(cgroup).value_or(QString()), id);
}

void TestWorkspace::indexIsScannedOnceAndRefreshedForNewApplications()
{
    ApplicationFolders folders;
    folders.write(folders.systemApplications(), QStringLiteral("known.desktop"), desktopFile("Name=Known\nStartupWMClass=Known"));
    X11WorkspaceOptions options;
    options.rescanIntervalMs = 0;
    X11Workspace workspace(options);

    const WindowFacts known = window(QStringLiteral("known"), QStringLiteral("Known"));
    const WindowFacts later = window(QStringLiteral("later"), QStringLiteral("Later"));
    QCOMPARE(workspace.describeWindow(known).bundleIdentifier, QStringLiteral("known"));
    QCOMPARE(workspace.describeWindow(known).bundleIdentifier, QStringLiteral("known"));
    QCOMPARE(workspace.describeWindow(later).bundleIdentifier, QStringLiteral("Later"));
    QCOMPARE(workspace.indexScanCount(), 1); // an unknown window with unchanged folders reads nothing

    // Installed afterwards, in a subfolder made for it.
    QTest::qWait(20); // the folders' modification times must differ from the scan's
    folders.write(folders.homeApplications(), QStringLiteral("vendor/later.desktop"),
                  desktopFile("Name=Later App\nStartupWMClass=Later"));
    QCOMPARE(workspace.describeWindow(later),
             (RunningApplication{4242, QStringLiteral("vendor-later"), QStringLiteral("Later App")}));
    QCOMPARE(workspace.indexScanCount(), 2);
    QCOMPARE(workspace.describeWindow(later).bundleIdentifier, QStringLiteral("vendor-later"));
    QCOMPARE(workspace.describeWindow(window(QStringLiteral("u"), QStringLiteral("U"))).bundleIdentifier,
             QStringLiteral("U"));
    QCOMPARE(workspace.indexScanCount(), 2);

    // Within the interval an unknown window does not even look at the folders.
    X11WorkspaceOptions patient;
    patient.rescanIntervalMs = 60 * 60 * 1000;
    X11Workspace slow(patient);
    QCOMPARE(slow.describeWindow(known).bundleIdentifier, QStringLiteral("known"));
    QTest::qWait(20);
    folders.write(folders.homeApplications(), QStringLiteral("newer.desktop"), desktopFile("Name=Newer\nStartupWMClass=Newer"));
    QCOMPARE(slow.describeWindow(window(QStringLiteral("newer"), QStringLiteral("Newer"))).bundleIdentifier,
             QStringLiteral("Newer"));
    QCOMPARE(slow.indexScanCount(), 1);
}

void TestWorkspace::namesFollowTheProgramLanguage()
{
    ApplicationFolders folders;
    folders.write(folders.homeApplications(), QStringLiteral("org.example.Notes.desktop"),
                  desktopFile("Name=Notes\nName[zh_CN]=便笺\nStartupWMClass=Notes"));
    X11Workspace workspace;
    const WindowFacts notes = window(QStringLiteral("notes"), QStringLiteral("Notes"));

    const QLocale previous;
    QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));
    QCOMPARE(workspace.describeWindow(notes).localizedName, QStringLiteral("Notes"));
    QLocale::setDefault(QLocale(QLocale::Chinese, QLocale::China));
    const std::optional<QString> chinese = workspace.describeWindow(notes).localizedName;
    QLocale::setDefault(previous);
    QCOMPARE(chinese, QStringLiteral("便笺"));
}

void TestWorkspace::answersNothingOffX11()
{
    // The offscreen platform has no windows of other programs to name.
    if (QGuiApplication::platformName() == QLatin1String("xcb"))
        QSKIP("runs on the offscreen platform");
    X11Workspace workspace;
    QCOMPARE(workspace.frontmostApplication(), std::nullopt);
}

void TestWorkspace::nothingToShowIsRefused()
{
    QTemporaryDir folder;
    X11Workspace workspace;
    const QString missing = folder.filePath(QStringLiteral("missing.txt"));
    QVERIFY(!workspace.selectFile(missing, folder.path()));
    QVERIFY(!workspace.selectFile(QString(), folder.filePath(QStringLiteral("no-such-folder"))));
    QVERIFY(!workspace.activateFileViewerSelecting({}));
    QVERIFY(!workspace.activateFileViewerSelecting(
        {QUrl::fromLocalFile(missing), QUrl(QStringLiteral("https://example.org/file.txt"))}));
    QVERIFY(!workspace.openURL(QUrl()));
}

void TestWorkspace::memoryWorkspaceReportsToObserversUntilReleased()
{
    MemoryWorkspace workspace;
    QList<qint64> first;
    QList<qint64> second;
    // The first observer releases its token from inside its own handler.
    std::shared_ptr<void> firstToken = workspace.observeActivations([&](const RunningApplication& application) {
        first.append(application.processIdentifier);
        firstToken.reset();
    });
    const std::shared_ptr<void> secondToken = workspace.observeActivations(
        [&](const RunningApplication& application) { second.append(application.processIdentifier); });
    workspace.activate({7, {}, {}});
    workspace.activate({8, {}, {}});
    QCOMPARE(first, QList<qint64>{7});
    QCOMPARE(second, (QList<qint64>{7, 8}));
    QCOMPARE(workspace.activationObserverCount(), 1);
}

QUILLOMARE_GUI_TEST_MAIN(TestWorkspace)
#include "tst_workspace.moc"
