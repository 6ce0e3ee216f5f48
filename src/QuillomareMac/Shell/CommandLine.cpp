#include "CommandLine.h"

#include "DevTools/IslandPreviewRenderer.h"

#include <QApplication>
#include <QDir>
#include <QFile>

#include <cstdio>
#include <exception>

namespace QuillomareMac::CommandLine {

namespace {

struct Row
{
    DeveloperMode mode;
    const char* flag;
    // Before the renderer's error text when it fails.
    const char* failurePrefix;
};

// The dispatch table, in order: the first row whose switch is present decides.
constexpr Row kRows[] = {
    {DeveloperMode::renderIslandPreview, "--render-island-preview", "Preview render failed: "},
    {DeveloperMode::renderShelfPreview, "--render-shelf-preview", "Shelf preview render failed: "},
    {DeveloperMode::renderEchoPreview, "--render-echo-preview", "Echo preview render failed: "},
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

int runRender(DeveloperMode mode, const QStringList& arguments, int& argc, char** argv)
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
        switch (mode) {
        case DeveloperMode::renderIslandPreview:
            IslandPreviewRenderer::render(path, IslandPreviewRenderer::ContentPreviewMode::history);
            break;
        case DeveloperMode::renderShelfPreview:
            IslandPreviewRenderer::render(path, IslandPreviewRenderer::ContentPreviewMode::shelfGallery);
            break;
        case DeveloperMode::renderEchoPreview:
            IslandPreviewRenderer::renderCaptureEcho(path);
            break;
        }
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

int runDeveloperMode(DeveloperMode mode, const QStringList& arguments, int& argc, char** argv)
{
    switch (mode) {
    case DeveloperMode::renderIslandPreview:
    case DeveloperMode::renderShelfPreview:
    case DeveloperMode::renderEchoPreview:
        return runRender(mode, arguments, argc, argv);
    }
    return kFailure;
}

} // namespace QuillomareMac::CommandLine
