#include "CommandLine.h"

#include "Shelf/ShelfSessionStore.h"

#include <QApplication>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <cstdio>
#include <exception>

namespace QuillomareMac::CommandLine {

namespace {

enum class Kind
{
    selfTest,
    render,
    interfaceProbe,
    shelfRepairProbe
};

struct Row
{
    DeveloperMode mode;
    const char* flag;
    Kind kind;
    // Before the renderer's error text when it fails.
    const char* failurePrefix = nullptr;
};

// The dispatch table, in order: the first row whose switch is present decides.
constexpr Row kRows[] = {
    {DeveloperMode::smokeTest, "--smoke-test", Kind::selfTest},
    {DeveloperMode::renderIslandPreview, "--render-island-preview", Kind::render, "Preview render failed: "},
    {DeveloperMode::renderShelfPreview, "--render-shelf-preview", Kind::render, "Shelf preview render failed: "},
    {DeveloperMode::renderEchoPreview, "--render-echo-preview", Kind::render, "Echo preview render failed: "},
    {DeveloperMode::liveTextProbe, "--live-text-probe", Kind::interfaceProbe},
    {DeveloperMode::liveTextPanGateProbe, "--live-text-pan-gate-probe", Kind::interfaceProbe},
    {DeveloperMode::liveTextZoomProbe, "--live-text-zoom-probe", Kind::interfaceProbe},
    {DeveloperMode::animProbe, "--anim-probe", Kind::interfaceProbe},
    {DeveloperMode::collapseProbe, "--collapse-probe", Kind::interfaceProbe},
    {DeveloperMode::echoRetractProbe, "--echo-retract-probe", Kind::interfaceProbe},
    {DeveloperMode::stageProbe, "--stage-probe", Kind::interfaceProbe},
    {DeveloperMode::quickPreviewProbe, "--quick-preview-probe", Kind::interfaceProbe},
    {DeveloperMode::historyRowPreviewProbe, "--history-row-preview-probe", Kind::interfaceProbe},
    {DeveloperMode::historyRowFilePreviewProbe, "--history-row-file-preview-probe", Kind::interfaceProbe},
    {DeveloperMode::historyRowBodySelectProbe, "--history-row-body-select-probe", Kind::interfaceProbe},
    {DeveloperMode::historyRowBodyMousedownSelectProbe, "--history-row-body-mousedown-select-probe",
     Kind::interfaceProbe},
    {DeveloperMode::historyScrollFallbackBodySelectProbe, "--history-scroll-fallback-body-select-probe",
     Kind::interfaceProbe},
    {DeveloperMode::shelfGalleryHitTestProbe, "--shelf-gallery-hit-test-probe", Kind::interfaceProbe},
    {DeveloperMode::repairShelfStoreProbe, "--repair-shelf-store-probe", Kind::shelfRepairProbe},
    {DeveloperMode::liveTextCopyAllProbe, "--live-text-copy-all-probe", Kind::interfaceProbe},
};

const Row& rowFor(DeveloperMode mode)
{
    for (const Row& row : kRows) {
        if (row.mode == mode)
            return row;
    }
    return kRows[0];
}

void write(FILE* stream, const QByteArray& bytes)
{
    std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stream);
    std::fflush(stream);
}

int runRender(DeveloperMode mode, const QStringList& arguments, int& argc, char** argv, const DeveloperTools& tools)
{
    const Row& row = rowFor(mode);
    const std::optional<QString> value = commandLineValue(arguments, QString::fromLatin1(row.flag));
    if (!value) {
        write(stderr, QByteArray("Missing output path for ") + row.flag + '\n');
        return kMissingOutputPath;
    }

    // Rendering needs no display: the previews are painted off screen, also where one exists.
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication application(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Quillomare"));

    const QString path = resolvedOutputPath(*value, QDir::currentPath());
    try {
        tools.renderPreview(mode, path);
    } catch (const QuillomareCore::Error& error) {
        write(stderr, QByteArray(row.failurePrefix) + error.localizedDescription().toLocal8Bit() + '\n');
        return kFailure;
    } catch (const std::exception& error) {
        write(stderr, QByteArray(row.failurePrefix) + error.what() + '\n');
        return kFailure;
    }
    write(stdout, QFile::encodeName(path) + '\n');
    return kSuccess;
}

int runSmokeTest(int& argc, char** argv, const DeveloperTools& tools)
{
    useOffscreenPlatformWithoutDisplay();
    QApplication application(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Quillomare"));
    tools.runSmokeTest();
    return kSuccess;
}

// A path as one quoted item of a printed list: a quote, a backslash or a line break in a file
// name must not break the line or the list apart.
QString quoted(const QString& text)
{
    QString result(1, u'"');
    for (const QChar c : text) {
        switch (c.unicode()) {
        case u'"':
            result += QStringLiteral("\\\"");
            break;
        case u'\\':
            result += QStringLiteral("\\\\");
            break;
        case u'\n':
            result += QStringLiteral("\\n");
            break;
        case u'\r':
            result += QStringLiteral("\\r");
            break;
        case u'\t':
            result += QStringLiteral("\\t");
            break;
        default:
            result += c;
        }
    }
    return result + u'"';
}

QString list(const QStringList& items)
{
    return u'[' + items.join(QStringLiteral(", ")) + u']';
}

QString text(bool value)
{
    return value ? QStringLiteral("true") : QStringLiteral("false");
}

// Opens the user's shelf the way the application does (which repairs entries whose private copies
// moved with the data folder) and checks that every file entry still names files that exist.
// Entries that look like documents (by their title or a path) are listed with what was found for
// each path.
int runShelfRepairProbe(int& argc, char** argv)
{
    QCoreApplication application(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("Quillomare"));
    ShelfSessionStore store(ShelfSessionStore::defaultStoreURL());

    bool found = false;
    bool valid = true;
    for (const ShelfSession& session : store.sessions()) {
        for (const ShelfItem& item : session.items) {
            if (!item.payload.isFileURLs())
                continue;
            const QStringList paths = item.payload.fileURLsValue();
            QStringList quotedPaths;
            QStringList answers;
            bool looksLikeDocument = item.title.contains(u"doc", Qt::CaseInsensitive);
            for (const QString& path : paths) {
                const bool exists = QFileInfo::exists(path);
                valid = valid && exists;
                quotedPaths.append(quoted(path));
                answers.append(text(exists));
                looksLikeDocument = looksLikeDocument || path.contains(u".doc", Qt::CaseInsensitive);
            }
            if (looksLikeDocument)
                write(stdout, (QStringLiteral("shelfRepairProbe title=") + item.title + QStringLiteral(" paths=") +
                               list(quotedPaths) + QStringLiteral(" exists=") + list(answers) + u'\n')
                                  .toUtf8());
            found = true;
        }
    }
    // A repair made while opening is written in the background; it must be on disk when we exit.
    store.waitForPendingSaves();
    write(stdout,
          (QStringLiteral("shelfRepairProbe foundFileItem=") + text(found) + QStringLiteral(" allFilePayloadsValid=") +
           text(valid) + QStringLiteral(" result=") + (valid ? QStringLiteral("pass") : QStringLiteral("fail")) + u'\n')
              .toUtf8());
    return valid ? kSuccess : kFailure;
}

} // namespace

QStringList arguments(int argc, char** argv)
{
    QStringList list;
    list.reserve(argc);
    for (int i = 0; i < argc; ++i)
        list.append(QFile::decodeName(argv[i]));
    return list;
}

bool hasSwitch(const QStringList& arguments, const QString& flag)
{
    return arguments.contains(flag, Qt::CaseSensitive);
}

std::optional<QString> commandLineValue(const QStringList& arguments, const QString& flag)
{
    const qsizetype index = arguments.indexOf(flag);
    if (index < 0 || index + 1 >= arguments.size())
        return std::nullopt;
    return arguments.at(index + 1);
}

std::optional<DeveloperMode> developerMode(const QStringList& arguments)
{
    for (const Row& row : kRows) {
        if (hasSwitch(arguments, QString::fromLatin1(row.flag)))
            return row.mode;
    }
    return std::nullopt;
}

QString switchName(DeveloperMode mode)
{
    return QString::fromLatin1(rowFor(mode).flag);
}

QString resolvedOutputPath(const QString& value, const QString& currentDirectory)
{
    const QString absolute = QDir::isAbsolutePath(value) ? value : currentDirectory + u'/' + value;
    QStringList components;
    for (const QString& component : absolute.split(u'/', Qt::SkipEmptyParts)) {
        if (component == QLatin1String("."))
            continue;
        if (component == QLatin1String("..")) {
            if (!components.isEmpty())
                components.removeLast();
            continue;
        }
        components.append(component);
    }
    return u'/' + components.join(u'/');
}

void useOffscreenPlatformWithoutDisplay()
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM") && qEnvironmentVariableIsEmpty("DISPLAY"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
}

int runDeveloperMode(DeveloperMode mode, const QStringList& arguments, int& argc, char** argv,
                     const DeveloperTools& tools)
{
    const Row& row = rowFor(mode);
    switch (row.kind) {
    case Kind::selfTest:
        return runSmokeTest(argc, argv, tools);
    case Kind::interfaceProbe:
        return tools.runInterfaceProbe(mode, argc, argv);
    case Kind::render:
        return runRender(mode, arguments, argc, argv, tools);
    case Kind::shelfRepairProbe:
        return runShelfRepairProbe(argc, argv);
    }
    return kFailure;
}

} // namespace QuillomareMac::CommandLine
