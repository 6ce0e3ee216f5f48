// Copies made while a password manager is the active window are not read, on the real desktop:
// the active window found through X11, its application named by its desktop file.

#include "Pasteboard/ClipboardMonitor.h"

#include <Platform/PasteboardX11.h>
#include <Platform/Workspace.h>
#include <QuillomareCore/Language.h>

#include "TestSupport.h"
#include "MonitorCapture.h"
#include "X11Tools.h"

#include <QApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QWidget>

using namespace QuillomareCore;
using namespace QuillomareMac;
using namespace QuillomareTest;

class IgnoredApplicationX11Test : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_dir;
    QProcess m_passwordManager;
    std::unique_ptr<ClipboardStore> m_store;
    std::unique_ptr<Platform::X11Pasteboard> m_pasteboard;
    SensitiveContentDetector m_detector;
    std::unique_ptr<ClipboardMonitor> m_monitor;
    QList<ClipboardCaptureResult> m_results;

    static bool run(const QString& program, const QStringList& arguments, QByteArray* output = nullptr)
    {
        int exitCode = -1;
        const QByteArray printed = runWhileServingEvents(program, arguments, {}, 10000, &exitCode);
        if (output)
            *output = printed;
        return exitCode == 0;
    }

    static bool activate(const QByteArray& window)
    {
        return run(QStringLiteral("xdotool"),
                   {QStringLiteral("windowactivate"), QStringLiteral("--sync"), QString::fromLatin1(window)});
    }

    ClipboardCaptureResult capture(const QByteArray& text)
    {
        return captureXclipCopy(*m_monitor, m_results, text);
    }

private Q_SLOTS:
    void initTestCase()
    {
        QCOMPARE(QGuiApplication::platformName(), QStringLiteral("xcb"));
        QVERIFY(!QStandardPaths::findExecutable(QStringLiteral("xmessage")).isEmpty());
        QVERIFY(!QStandardPaths::findExecutable(QStringLiteral("xdotool")).isEmpty());
        Language::setIsChineseForTesting(false);

        // The "password manager" is an xmessage window; its desktop file gives it an id and a name.
        const QString applications = qEnvironmentVariable("XDG_DATA_HOME") + QStringLiteral("/applications");
        writeFile(applications + QStringLiteral("/com.example.SecretKeeper.desktop"),
                  "[Desktop Entry]\nType=Application\nName=Secret Keeper\nExec=/usr/bin/xmessage\n"
                  "StartupWMClass=Xmessage\n");

        ClipSettings settings;
        settings.ignoredSourceBundleIdentifiers.append(QStringLiteral("com.example.SecretKeeper"));
        m_store = std::make_unique<ClipboardStore>(m_dir.filePath(QStringLiteral("clips.json")), settings);
        m_pasteboard = std::make_unique<Platform::X11Pasteboard>();
        m_monitor = std::make_unique<ClipboardMonitor>(*m_pasteboard, *m_store, m_detector,
                                                       Platform::Workspace::shared());
        m_monitor->onCapture = [this](const ClipboardCaptureResult& result) { m_results.append(result); };
    }

    void testCopiesWhileThePasswordManagerIsActiveAreIgnored()
    {
        m_passwordManager.start(QStringLiteral("xmessage"), {QStringLiteral("-name"), QStringLiteral("secretkeeper"),
                                                             QStringLiteral("vault")});
        QVERIFY(m_passwordManager.waitForStarted(5000));
        QByteArray found;
        QVERIFY(run(QStringLiteral("xdotool"), {QStringLiteral("search"), QStringLiteral("--sync"),
                                                QStringLiteral("--onlyvisible"), QStringLiteral("--classname"),
                                                QStringLiteral("^secretkeeper$")},
                    &found));
        QVERIFY(activate(found.trimmed().split('\n').constLast()));

        const auto result = capture("correct horse battery staple");
        QVERIFY(!result.item);
        QCOMPARE(result.ignoredReason, std::optional<QString>(QStringLiteral("Ignored clipboard from Secret Keeper")));
    }

    void testCopiesInOtherApplicationsAreRecorded()
    {
        QWidget window;
        window.setWindowTitle(QStringLiteral("An ordinary editor"));
        window.resize(200, 100);
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        QVERIFY(activate(QByteArray::number(window.winId())));

        const auto result = capture("an ordinary copy");
        QVERIFY(result.item);
        QCOMPARE(result.item->payload.textValue(), QStringLiteral("an ordinary copy"));
        QVERIFY(result.item->sourceBundleIdentifier != std::optional<QString>(QStringLiteral("com.example.SecretKeeper")));
    }

    void cleanupTestCase()
    {
        m_passwordManager.kill();
        m_passwordManager.waitForFinished(2000);
    }
};

QUILLOMARE_GUI_TEST_MAIN(IgnoredApplicationX11Test)
#include "tst_ignoredapplication_x11.moc"
