#include "TestSupport.h"

#include <QuillomareCore/Errors.h>
#include <QuillomareCore/Foundation.h>
#include <QuillomareCore/Hashing.h>
#include <QuillomareCore/Json.h>

#include <QApplication>
#include <QBuffer>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QMouseEvent>
#include <QPainter>
#include <QRegularExpression>
#include <QSettings>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTextLayout>
#include <QThread>
#include <QWidget>

#include <cstdlib>

namespace QuillomareTest {

void isolateUserFolders()
{
    static QTemporaryDir home(QDir::tempPath() + QStringLiteral("/quillomare-test-home-XXXXXX"));
    if (!home.isValid())
        qFatal("Cannot create a temporary home folder");
    const QByteArray root = home.path().toUtf8();
    qputenv("HOME", root);
    qputenv("XDG_DATA_HOME", root + "/.local/share");
    qputenv("XDG_CONFIG_HOME", root + "/.config");
    qputenv("XDG_CACHE_HOME", root + "/.cache");
    qputenv("XDG_STATE_HOME", root + "/.local/state");
    QStandardPaths::setTestModeEnabled(true);
}

ClockOverride::ClockOverride(QDateTime now) : m_now(std::make_shared<QDateTime>(std::move(now)))
{
    QuillomareCore::Clock::setNowProvider([state = m_now] { return *state; });
}

ClockOverride::~ClockOverride()
{
    QuillomareCore::Clock::resetNowProvider();
}

void ClockOverride::set(QDateTime now)
{
    *m_now = std::move(now);
}

void ClockOverride::advance(qint64 milliseconds)
{
    *m_now = m_now->addMSecs(milliseconds);
}

QDateTime ClockOverride::now() const
{
    return *m_now;
}

QDateTime at(qint64 seconds)
{
    return QDateTime(QDate(2026, 1, 1), QTime(12, 0), Qt::UTC).addSecs(seconds);
}

QuillomareCore::ClipboardItem textItem(const QString& text, const QDateTime& createdAt, bool isPinned)
{
    using namespace QuillomareCore;
    return ClipboardItem{
        .id = QUuid::createUuid(),
        .createdAt = createdAt,
        .kind = ClipKind::text,
        .preview = text,
        .contentHash = ClipHashing::textContentHash(text),
        .sourceAppName = std::nullopt,
        .sourceBundleIdentifier = std::nullopt,
        .sourcePlatform = ClipSourcePlatform::mac,
        .isSensitive = false,
        .isLocalOnly = false,
        .isPinned = isPinned,
        .payload = ClipboardPayload::text(text),
    };
}

QuillomareCore::ClipboardItem imageItem(const QByteArray& png, const QDateTime& createdAt)
{
    using namespace QuillomareCore;
    ClipboardItem item = textItem(QString(), createdAt);
    item.kind = ClipKind::image;
    item.preview = QStringLiteral("Image");
    item.contentHash = ClipHashing::imageContentHash(png);
    item.payload = ClipboardPayload::imagePNG(png);
    return item;
}

QuillomareCore::ClipboardItem fileItem(const QStringList& paths, const QDateTime& createdAt)
{
    using namespace QuillomareCore;
    ClipboardItem item = textItem(QString(), createdAt);
    item.kind = ClipKind::file;
    item.preview = paths.join(QLatin1Char('\n'));
    item.contentHash = ClipHashing::fileContentHash(paths);
    item.payload = ClipboardPayload::fileURLs(paths);
    return item;
}

QByteArray readFile(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return file.readAll();
}

void writeFile(const QString& path, const QByteArray& bytes)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size())
        qFatal("Cannot write %s", qPrintable(path));
}

bool waitFor(const std::function<bool()>& condition, int milliseconds, int eventMilliseconds, int sleepMilliseconds)
{
    const QDeadlineTimer deadline(milliseconds);
    while (!deadline.hasExpired()) {
        if (condition())
            return true;
        QCoreApplication::processEvents(QEventLoop::AllEvents, eventMilliseconds);
        if (sleepMilliseconds > 0)
            QThread::msleep(static_cast<unsigned long>(sleepMilliseconds));
    }
    return condition();
}

QString builtProgramPath()
{
    return qEnvironmentVariable("QUILLOMARE_BUILD_DIR") + QStringLiteral("/bin/quillomare");
}

QProcessEnvironment programEnvironment(const QString& home)
{
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("HOME"), home);
    for (const char* name : {"XDG_DATA_HOME", "XDG_CONFIG_HOME", "XDG_CACHE_HOME", "XDG_STATE_HOME"})
        environment.remove(QString::fromLatin1(name));
    return environment;
}

void markGuideShown(const QString& home)
{
    QSettings(home + QStringLiteral("/.config/Quillomare/Quillomare.ini"), QSettings::IniFormat)
        .setValue(QStringLiteral("Quillomare.didShowOnboarding.v1"), true);
}

bool startBuiltProgram(QProcess& program, const QString& home, QProcess::ProcessChannelMode channels)
{
    const QString binary = builtProgramPath();
    if (!QFileInfo(binary).isExecutable())
        return false;
    program.setProcessEnvironment(programEnvironment(home));
    program.setProcessChannelMode(channels);
    markGuideShown(home);
    program.start(binary, {});
    return program.waitForStarted(5000);
}

QList<QuillomareCore::ClipboardItem> historyAt(const QString& path)
{
    using namespace QuillomareCore;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    const QByteArray bytes = file.readAll(); // the document reads from these bytes
    QList<ClipboardItem> items;
    try {
        const Json::Document document = Json::Document::parse(bytes);
        if (const auto list = document.root().presentMember("items"))
            list->forEachElement([&](const Json::Value& element) { items.append(ClipboardItem::decode(element)); });
    } catch (const DecodingError&) {
        return {};
    }
    return items;
}

QStringList ProgramRun::lines() const
{
    return QString::fromUtf8(out).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
}

ProgramRun runBuiltProgram(const QStringList& arguments, const QProcessEnvironment& environment,
                           const QString& workingDirectory, int timeoutMilliseconds)
{
    QProcess process;
    process.setProcessEnvironment(environment);
    if (!workingDirectory.isEmpty())
        process.setWorkingDirectory(workingDirectory);
    process.start(builtProgramPath(), arguments);
    ProgramRun result;
    if (!process.waitForFinished(timeoutMilliseconds)) {
        process.kill();
        process.waitForFinished();
        return result;
    }
    result.status = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    result.out = process.readAllStandardOutput();
    result.err = process.readAllStandardError();
    return result;
}

QProcessEnvironment offscreenProgramEnvironment(const QString& home)
{
    QProcessEnvironment environment = programEnvironment(home);
    environment.remove(QStringLiteral("DISPLAY"));
    environment.remove(QStringLiteral("WAYLAND_DISPLAY"));
    environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    return environment;
}

QByteArray describeRun(const ProgramRun& run)
{
    return "status " + QByteArray::number(run.status) + '\n' + run.out + "\n--- stderr\n" + run.err.right(2000);
}

QStringList malformedProbeLines(const QStringList& lines, const QString& name, ProbeValues values)
{
    const QRegularExpression finding(
        QLatin1Char('^') + QRegularExpression::escape(name) + QStringLiteral(R"( [A-Za-z][A-Za-z0-9.]*=)") +
        (values == ProbeValues::required ? QStringLiteral(R"(\S.*$)") : QStringLiteral(".*$")));
    QStringList malformed;
    for (qsizetype i = 0; i + 1 < lines.size(); ++i) {
        if (!finding.match(lines[i]).hasMatch())
            malformed.append(lines[i]);
    }
    return malformed;
}

bool probeOutputIsWellFormed(const QStringList& lines, const QString& name, const QString& verdict, ProbeValues values)
{
    return !lines.isEmpty() && lines.constLast() == name + QLatin1Char('=') + verdict &&
           malformedProbeLines(lines, name, values).isEmpty();
}

QString probeFinding(const QStringList& lines, const QString& name, const QString& finding)
{
    const QString prefix = name + QLatin1Char(' ') + finding + QLatin1Char('=');
    for (qsizetype i = 0; i + 1 < lines.size(); ++i) {
        if (lines[i].startsWith(prefix))
            return lines[i].mid(prefix.size());
    }
    return {};
}

QString probePassProblem(const ProgramRun& run, const QString& name, const QStringList& expected, ProbeValues values)
{
    const QStringList lines = run.lines();
    QStringList problems;
    if (run.status != 0 || !probeOutputIsWellFormed(lines, name, QStringLiteral("pass"), values))
        problems << QStringLiteral("no well-formed pass");
    for (const QString& line : expected) {
        if (!lines.contains(name + QLatin1Char(' ') + line))
            problems << line + QStringLiteral(" missing");
    }
    if (problems.isEmpty())
        return {};
    return problems.join(QLatin1Char('\n')) + QLatin1Char('\n') + QString::fromUtf8(describeRun(run));
}

QByteArray pngOf(const QImage& image)
{
    QByteArray png;
    QBuffer buffer(&png);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "PNG");
    return png;
}

QByteArray filledPng(QSize size, const QColor& colour, QImage::Format format)
{
    QImage image(size, format);
    image.fill(colour);
    return pngOf(image);
}

QImage textPicture(QSize size, const QList<TextLine>& lines)
{
    QImage image(size, QImage::Format_RGB32);
    image.fill(Qt::white);
    QPainter painter(&image);
    painter.setPen(Qt::black);
    for (const TextLine& line : lines) {
        QFont font(line.family);
        font.setPixelSize(line.pixelSize);
        painter.setFont(font);
        painter.drawText(line.baseline, line.text);
    }
    painter.end();
    return image;
}

QStringList wrappedLines(const QLabel* label, int width)
{
    const QString text = label->text();
    QTextLayout layout(text, label->font());
    QTextOption option;
    option.setWrapMode(QTextOption::WordWrap);
    layout.setTextOption(option);
    const int lineWidth = width > 0 ? width : label->contentsRect().width() - 2 * label->margin();
    QStringList lines;
    layout.beginLayout();
    for (QTextLine line = layout.createLine(); line.isValid(); line = layout.createLine()) {
        line.setLineWidth(lineWidth);
        lines.append(text.mid(line.textStart(), line.textLength()));
    }
    layout.endLayout();
    return lines;
}

bool breaksInsideKeyCombination(const QStringList& lines)
{
    for (qsizetype i = 0; i + 1 < lines.size(); ++i) {
        // QString::trimmed() takes non-breaking blanks too.
        if (lines.at(i).trimmed().endsWith(QLatin1Char('+')) || lines.at(i + 1).trimmed().startsWith(QLatin1Char('+')))
            return true;
    }
    return false;
}

void sendMouse(QWidget* widget, QEvent::Type type, QPointF at, Qt::MouseButtons buttons)
{
    const Qt::MouseButton button = type == QEvent::MouseMove ? Qt::NoButton : Qt::LeftButton;
    QMouseEvent event(type, at, widget->mapToGlobal(at), button, buttons, Qt::NoModifier);
    QApplication::sendEvent(widget, &event);
}

void dragMouse(QWidget* widget, QPointF from, QPointF to)
{
    sendMouse(widget, QEvent::MouseButtonPress, from, Qt::LeftButton);
    for (int step = 1; step <= 4; ++step)
        sendMouse(widget, QEvent::MouseMove, from + (to - from) * step / 4.0, Qt::LeftButton);
    sendMouse(widget, QEvent::MouseButtonRelease, to, Qt::NoButton);
}

} // namespace QuillomareTest
