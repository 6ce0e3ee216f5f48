#include "TestSupport.h"

#include <Platform/SharingServiceKdeConnect.h>

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QImage>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <QTimer>

using Platform::KdeConnectSharingService;
using Platform::PasteboardObject;

namespace {

// A stand-in for KDE Connect's tool: "-a --id-only" prints the devices file (after an optional
// delay); every other call leaves its arguments, NUL-separated, in a file of its own.
QString writeFakeTool(const QString& folder, int probeDelaySeconds = 0)
{
    const QString path = folder + QStringLiteral("/kdeconnect-cli");
    QString script = QStringLiteral("#!/bin/sh\n"
                                    "dir='%1'\n"
                                    "if [ \"$1\" = \"-a\" ]; then\n"
                                    "  echo probe >> \"$dir/probes\"\n"
                                    "  sleep %2\n"
                                    "  cat \"$dir/devices\" 2>/dev/null\n"
                                    "  exit 0\n"
                                    "fi\n"
                                    "call=$(mktemp \"$dir/call.XXXXXX\")\n"
                                    "printf '%s\\0' \"$@\" > \"$call.part\" && mv \"$call.part\" \"$call\"\n")
                         .arg(folder)
                         .arg(probeDelaySeconds);
    QuillomareTest::writeFile(path, script.toUtf8());
    QFile::setPermissions(path, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    return path;
}

// The arguments of every finished call, each call as one line of arguments joined by " | ".
QStringList calls(const QString& folder)
{
    QStringList result;
    const QStringList files = QDir(folder).entryList({QStringLiteral("call.*")}, QDir::Files);
    for (const QString& name : files) {
        if (name.endsWith(QLatin1String(".part")))
            continue;
        QByteArray bytes = QuillomareTest::readFile(folder + QLatin1Char('/') + name);
        if (bytes.isEmpty())
            continue; // created, not yet written
        bytes.chop(1);
        QStringList arguments;
        for (const QByteArray& argument : bytes.split('\0'))
            arguments.append(QString::fromUtf8(argument));
        result.append(arguments.join(QLatin1String(" | ")));
    }
    result.sort();
    return result;
}

int probes(const QString& folder)
{
    return QuillomareTest::readFile(folder + QStringLiteral("/probes")).count('\n');
}

} // namespace

class TestSharingServiceKdeConnect : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init();
    void unavailableWithoutToolOrDevice();
    void aMissingToolIsToldApartFromNoDevice();
    void slowProbeGivesUpAndKeepsEventsFlowing();
    void performSendsEachItemToTheFirstDevice();

private:
    std::optional<QTemporaryDir> m_dir;
};

void TestSharingServiceKdeConnect::init()
{
    m_dir.emplace();
    QVERIFY(m_dir->isValid());
}

void TestSharingServiceKdeConnect::unavailableWithoutToolOrDevice()
{
    const QList<PasteboardObject> items{QStringLiteral("hello")};

    KdeConnectSharingService missing(m_dir->filePath(QStringLiteral("no-such-tool")));
    QVERIFY(!missing.isAvailable());
    QVERIFY(!missing.perform(items));

    // Installed, but no paired device in reach.
    KdeConnectSharingService noDevice(writeFakeTool(m_dir->path()));
    QVERIFY(!noDevice.isAvailable());
    QVERIFY(!noDevice.perform(items));
    QCOMPARE(calls(m_dir->path()), QStringList());
}

// The default tool is looked for on PATH: not there is "not installed", whatever else is wrong;
// there but reaching no device is something pairing mends.
void TestSharingServiceKdeConnect::aMissingToolIsToldApartFromNoDevice()
{
    using Availability = Platform::SharingService::Availability;
    const QByteArray path = qgetenv("PATH");
    const auto restored = qScopeGuard([path] { qputenv("PATH", path); });
    qputenv("PATH", QFile::encodeName(m_dir->path()));

    QCOMPARE(KdeConnectSharingService().availability(), Availability::notInstalled);
    QCOMPARE(KdeConnectSharingService(m_dir->filePath(QStringLiteral("kdeconnect-cli"))).availability(),
             Availability::notInstalled);

    // Ahead of the rest of PATH, which the stand-in needs for its own commands.
    writeFakeTool(m_dir->path());
    qputenv("PATH", QFile::encodeName(m_dir->path()) + ':' + path);
    QCOMPARE(KdeConnectSharingService().availability(), Availability::noReachableDevice);
    QuillomareTest::writeFile(m_dir->filePath(QStringLiteral("devices")), "phone\n");
    KdeConnectSharingService service;
    QCOMPARE(service.availability(), Availability::available);
    QVERIFY(service.isAvailable());
}

void TestSharingServiceKdeConnect::slowProbeGivesUpAndKeepsEventsFlowing()
{
    QuillomareTest::writeFile(m_dir->filePath(QStringLiteral("devices")), "phone\n");
    KdeConnectSharingService service(writeFakeTool(m_dir->path(), 5), 400);

    // While we wait for the tool, other programs must still get the clipboard we own.
    int ticks = 0;
    QTimer ticker;
    connect(&ticker, &QTimer::timeout, this, [&ticks] { ++ticks; });
    ticker.start(20);

    QElapsedTimer elapsed;
    elapsed.start();
    QVERIFY(!service.isAvailable());
    QVERIFY(elapsed.elapsed() < 3000);
    QVERIFY(ticks > 3);
}

void TestSharingServiceKdeConnect::performSendsEachItemToTheFirstDevice()
{
    const QString folder = m_dir->path();
    QuillomareTest::writeFile(m_dir->filePath(QStringLiteral("devices")), "a1b2_phone\nc3d4_laptop\n");
    KdeConnectSharingService service(writeFakeTool(folder));
    QVERIFY(service.isAvailable());
    QCOMPARE(service.reachableDevices(), (QStringList{QStringLiteral("a1b2_phone"), QStringLiteral("c3d4_laptop")}));

    QImage image(5, 3, QImage::Format_RGB32);
    image.fill(Qt::green);
    const QString file = m_dir->filePath(QStringLiteral("报告 1.txt"));
    QuillomareTest::writeFile(file, "x");
    const QList<PasteboardObject> items{QUrl(QStringLiteral("https://example.com/a?b=1")), QUrl::fromLocalFile(file),
                                        QStringLiteral("-dash first\n第二行"), image};
    QVERIFY(service.perform(items));
    // isAvailable() and perform() right after it ask the tool once.
    QCOMPARE(probes(folder), 1);

    QTRY_COMPARE(calls(folder).size(), 4);
    const QStringList made = calls(folder);
    const QString device = QStringLiteral("--device | a1b2_phone | ");
    QString imageCall;
    for (const QString& call : made) {
        if (call.startsWith(device + QStringLiteral("--share | ") + Platform::KdeConnectSharingService::imageFolder()))
            imageCall = call;
    }
    QVERIFY2(!imageCall.isEmpty(), qPrintable(made.join(QLatin1Char('\n'))));
    QVERIFY(made.contains(device + QStringLiteral("--share | https://example.com/a?b=1")));
    QVERIFY(made.contains(device + QStringLiteral("--share | ") + file));
    QVERIFY(made.contains(device + QStringLiteral("--share-text | -dash first\n第二行")));

    const QString imagePath = imageCall.section(QLatin1String(" | "), 3);
    QCOMPARE(QImage(imagePath, "PNG").convertToFormat(QImage::Format_RGB32), image);
}

QUILLOMARE_TEST_MAIN(TestSharingServiceKdeConnect)
#include "tst_sharingservicekdeconnect.moc"
