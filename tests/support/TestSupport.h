#pragma once

// What every test shares: a private home and XDG folders (no test may touch the user's data),
// a settable clock and small builders for history entries.

#include <QuillomareCore/ClipboardItem.h>

#include <QColor>
#include <QDateTime>
#include <QEvent>
#include <QFileInfo>
#include <QImage>
#include <QPointF>
#include <QProcess>
#include <QProcessEnvironment>
#include <QTest>

#include <functional>

class QLabel;
class QWidget;

namespace QuillomareTest {

// Points HOME and the XDG folders at a fresh temporary folder for the whole process and turns
// on QStandardPaths' test mode. Called by QUILLOMARE_TEST_MAIN before any test runs.
void isolateUserFolders();

// Sets the core's clock for its lifetime; `advance` moves it on.
class ClockOverride
{
public:
    explicit ClockOverride(QDateTime now);
    ~ClockOverride();
    ClockOverride(const ClockOverride&) = delete;
    ClockOverride& operator=(const ClockOverride&) = delete;

    void set(QDateTime now);
    void advance(qint64 milliseconds);
    QDateTime now() const;

private:
    std::shared_ptr<QDateTime> m_now;
};

// A fixed point in time to build dates from: 2026-01-01 12:00:00 UTC plus the given seconds.
QDateTime at(qint64 seconds);

// A text entry whose hash is the text's content hash; exportable unless flags say otherwise.
QuillomareCore::ClipboardItem textItem(const QString& text, const QDateTime& createdAt, bool isPinned = false);
QuillomareCore::ClipboardItem imageItem(const QByteArray& png, const QDateTime& createdAt);
QuillomareCore::ClipboardItem fileItem(const QStringList& paths, const QDateTime& createdAt);

// The whole content of a file, or an empty array when it cannot be read.
QByteArray readFile(const QString& path);
void writeFile(const QString& path, const QByteArray& bytes);

// Handles events until the condition holds or the time is up; the condition's last answer.
// `sleepMilliseconds` rests between rounds where nothing but other processes is waited for.
bool waitFor(const std::function<bool()>& condition, int milliseconds, int eventMilliseconds = 10,
             int sleepMilliseconds = 0);

// --- The built program

// The program the build made, bin/quillomare under QUILLOMARE_BUILD_DIR.
QString builtProgramPath();
// This process's environment with HOME at `home` and the XDG folders left to follow it.
QProcessEnvironment programEnvironment(const QString& home);
// The first-launch guide marked as seen in `home`: it would take the keyboard and sit over the
// island the tests look at.
void markGuideShown(const QString& home);
// The built program started in `home` with the guide seen, as a user starts it; false when it is
// not built or does not start.
bool startBuiltProgram(QProcess& program, const QString& home, QProcess::ProcessChannelMode channels);
// The history file's entries read as a bystander: a store opened on the file would tidy the
// program's folder, its half-written saves included. Empty when missing or unreadable.
QList<QuillomareCore::ClipboardItem> historyAt(const QString& path);

// One run of the built program to its end.
struct ProgramRun
{
    int status = -1; // the exit code; -1 when it crashed, did not start or outlived its bound
    QByteArray out;
    QByteArray err;

    // Standard output, one entry per line, blank lines left out.
    QStringList lines() const;
};
// The built program run with `arguments` in `environment` until it ends; one that outlives
// `timeoutMilliseconds` is killed and reported with status -1 and no output. An empty
// `workingDirectory` is this process's.
ProgramRun runBuiltProgram(const QStringList& arguments, const QProcessEnvironment& environment,
                           const QString& workingDirectory = {}, int timeoutMilliseconds = 90000);
// programEnvironment() on the offscreen platform, with no display of the desktop's to reach.
QProcessEnvironment offscreenProgramEnvironment(const QString& home);
// The run for a failure message: its status, its standard output and the end of its standard error.
QByteArray describeRun(const ProgramRun& run);

// --- Probe output: every line "<name> <finding>=<value>", the last one "<name>=<verdict>"

// Whether "<finding>=" alone is well formed: a probe that reports what it found (a font's
// family, say) may have found nothing.
enum class ProbeValues
{
    required,
    mayBeEmpty
};
// The lines before the last that are not "<name> <finding>=<value>".
QStringList malformedProbeLines(const QStringList& lines, const QString& name,
                                ProbeValues values = ProbeValues::required);
bool probeOutputIsWellFormed(const QStringList& lines, const QString& name, const QString& verdict,
                             ProbeValues values = ProbeValues::required);
// The value printed for a finding; empty when it was not printed.
QString probeFinding(const QStringList& lines, const QString& name, const QString& finding);
// Why a probe's run is no pass (its status, its lines' form, or one of `expected`, each
// "<finding>=<value>", not printed after its name), with what it printed; empty for a pass.
QString probePassProblem(const ProgramRun& run, const QString& name, const QStringList& expected = {},
                         ProbeValues values = ProbeValues::required);

// --- Pictures

QByteArray pngOf(const QImage& image);
// A picture of one colour.
QByteArray filledPng(QSize size, const QColor& colour, QImage::Format format = QImage::Format_RGB32);

// A line of black text drawn from its baseline's start in a font of that pixel size.
struct TextLine
{
    QString family;
    int pixelSize = 0;
    QPoint baseline;
    QString text;
};
// Black lines on white, such as a screenshot of text for recognition.
QImage textPicture(QSize size, const QList<TextLine>& lines);

// --- Labels

// The lines a wrapping plain-text label draws its text in, laid out at `width` (its own text
// width when 0) with the label's font, as the label itself breaks them.
QStringList wrappedLines(const QLabel* label, int width = 0);
// Whether a line ends, or the next begins, at the "+" of a key combination ("Ctrl + Alt + V"
// broken after "Ctrl +" or before "+ V").
bool breaksInsideKeyCombination(const QStringList& lines);

// --- Mouse

// A mouse event sent straight to the widget: moves carry no button, the others the left one.
void sendMouse(QWidget* widget, QEvent::Type type, QPointF at, Qt::MouseButtons buttons);
// Press at `from`, move in four steps the way a hand moves, release at `to`.
void dragMouse(QWidget* widget, QPointF from, QPointF to);

} // namespace QuillomareTest

// In initTestCase of a test that runs the built program, which it cannot do without one.
#define QUILLOMARE_VERIFY_PROGRAM_BUILT()                                                                      \
    QVERIFY2(QFileInfo(QuillomareTest::builtProgramPath()).isExecutable(),                                     \
             qPrintable(QuillomareTest::builtProgramPath() + QStringLiteral(" is not built")))

// Like QTEST_GUILESS_MAIN, with the user's folders isolated first.
#define QUILLOMARE_TEST_MAIN(TestObject)                                                                       \
    int main(int argc, char* argv[])                                                                           \
    {                                                                                                          \
        QuillomareTest::isolateUserFolders();                                                                  \
        QCoreApplication app(argc, argv);                                                                      \
        app.setAttribute(Qt::AA_Use96Dpi, true);                                                               \
        TestObject tc;                                                                                         \
        QTEST_SET_MAIN_SOURCE_PATH                                                                             \
        return QTest::qExec(&tc, argc, argv);                                                                  \
    }

// For tests of widgets and the clipboard: a QApplication on the platform CTest chose.
#define QUILLOMARE_GUI_TEST_MAIN(TestObject)                                                                   \
    int main(int argc, char* argv[])                                                                           \
    {                                                                                                          \
        QuillomareTest::isolateUserFolders();                                                                  \
        QApplication app(argc, argv);                                                                          \
        TestObject tc;                                                                                         \
        QTEST_SET_MAIN_SOURCE_PATH                                                                             \
        return QTest::qExec(&tc, argc, argv);                                                                  \
    }
