#include "UserInterfaceProbe.h"

#include <QApplication>
#include <QTimer>

#include <cstdio>

namespace QuillomareMac::UserInterfaceProbe {

namespace {

// Long enough for Tesseract on a loaded machine; a probe that needs more is stuck.
constexpr int kBoundMilliseconds = 60'000;

struct Entry
{
    CommandLine::DeveloperMode mode;
    const char* name;
    void (*start)(Probe&);
};

using Mode = CommandLine::DeveloperMode;

constexpr Entry kEntries[] = {
    {Mode::liveTextProbe, "liveTextProbe", liveTextProbe},
    {Mode::liveTextPanGateProbe, "liveTextPanGateProbe", liveTextPanGateProbe},
    {Mode::liveTextZoomProbe, "liveTextZoomProbe", liveTextZoomProbe},
    {Mode::animProbe, "animProbe", animProbe},
    {Mode::collapseProbe, "collapseProbe", collapseProbe},
    {Mode::echoRetractProbe, "echoRetractProbe", echoRetractProbe},
    {Mode::stageProbe, "stageProbe", stageProbe},
    {Mode::quickPreviewProbe, "quickPreviewProbe", quickPreviewProbe},
    {Mode::historyRowPreviewProbe, "historyRowPreviewProbe", historyRowPreviewProbe},
    {Mode::historyRowFilePreviewProbe, "historyRowFilePreviewProbe", historyRowFilePreviewProbe},
    {Mode::historyRowBodySelectProbe, "historyRowBodySelectProbe", historyRowBodySelectProbe},
    {Mode::historyRowBodyMousedownSelectProbe, "historyRowBodyMousedownSelectProbe",
     historyRowBodyMousedownSelectProbe},
    {Mode::historyScrollFallbackBodySelectProbe, "historyScrollFallbackBodySelectProbe",
     historyScrollFallbackBodySelectProbe},
    {Mode::shelfGalleryHitTestProbe, "shelfGalleryHitTestProbe", shelfGalleryHitTestProbe},
    {Mode::liveTextCopyAllProbe, "liveTextCopyAllProbe", liveTextCopyAllProbe},
};

const Entry* entryFor(Mode mode)
{
    for (const Entry& entry : kEntries) {
        if (entry.mode == mode)
            return &entry;
    }
    return nullptr;
}

} // namespace

Probe::Probe(QString name)
    : m_name(std::move(name))
{
}

void Probe::print(const QString& line)
{
    const QByteArray bytes = (line + u'\n').toUtf8();
    std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stdout);
    std::fflush(stdout);
}

void Probe::report(const QString& finding, const QString& value)
{
    if (!m_finished)
        print(m_name + u' ' + finding + u'=' + value);
}

void Probe::report(const QString& finding, bool value)
{
    report(finding, value ? QStringLiteral("true") : QStringLiteral("false"));
}

void Probe::report(const QString& finding, qint64 value)
{
    report(finding, QString::number(value));
}

void Probe::report(const QString& finding, double value)
{
    report(finding, QString::number(value, 'f', 2));
}

bool Probe::expect(const QString& finding, bool holds)
{
    report(finding, holds);
    if (!holds)
        m_passed = false;
    return holds;
}

void Probe::fail(const QString& finding, const QString& value)
{
    report(finding, value);
    m_passed = false;
}

void Probe::finish()
{
    if (m_finished)
        return;
    print(m_name + (m_passed ? QStringLiteral("=pass") : QStringLiteral("=fail")));
    m_finished = true;
    if (QCoreApplication* application = QCoreApplication::instance())
        application->exit(status());
}

void Probe::after(int milliseconds, std::function<void()> step)
{
    QTimer::singleShot(milliseconds, QCoreApplication::instance(), [this, step = std::move(step)] {
        if (!m_finished)
            step();
    });
}

QString probeName(Mode mode)
{
    const Entry* entry = entryFor(mode);
    return entry ? QString::fromLatin1(entry->name) : QString();
}

int run(Mode mode, int& argc, char** argv)
{
    const Entry* entry = entryFor(mode);
    if (!entry)
        return CommandLine::kFailure;

    CommandLine::useOffscreenPlatformWithoutDisplay();
    QApplication application(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Quillomare"));
    QApplication::setQuitOnLastWindowClosed(false);

    Probe probe(QString::fromLatin1(entry->name));
    entry->start(probe);
    if (probe.isFinished())
        return probe.status();

    QTimer::singleShot(kBoundMilliseconds, &application, [&probe] {
        probe.fail(QStringLiteral("timedOut"), QString::number(kBoundMilliseconds) + QStringLiteral("ms"));
        probe.finish();
    });
    const int status = QApplication::exec();
    // Ended by anything but the probe (a signal, a quit from a window): not a pass.
    return probe.isFinished() ? status : CommandLine::kFailure;
}

} // namespace QuillomareMac::UserInterfaceProbe
