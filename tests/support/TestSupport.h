#pragma once

// What every test shares: a private home and XDG folders (no test may touch the user's data),
// a settable clock and small builders for history entries.

#include <QuillomareCore/ClipboardItem.h>

#include <QDateTime>
#include <QTest>

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

} // namespace QuillomareTest

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
