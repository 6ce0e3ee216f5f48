#include "SharingServiceKdeConnect.h"

#include <QuillomareCore/Errors.h>
#include <QuillomareCore/Files.h>

#include "StandardFolders.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QEventLoop>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryFile>
#include <QThread>
#include <QTimer>

namespace Platform {

namespace {

// How long a probe's answer stands for: long enough to cover isAvailable() and the perform()
// right after it, short enough that a device that has just come into reach is seen.
constexpr qint64 kProbeReuseMs = 5000;
// Images sent earlier are removed once they are this old; the transfer has long read them.
constexpr qint64 kImageFileLifetimeSecs = 60 * 60;

std::shared_ptr<SharingService>& airDropSlot()
{
    static std::shared_ptr<SharingService> service;
    return service;
}

// Waits for a process without freezing the GUI thread: another program may be asking for the
// clipboard we own while we wait. Input events stay queued, so the user cannot start a second
// action inside this one.
bool waitForFinished(QProcess& process, int timeoutMs)
{
    QCoreApplication* application = QCoreApplication::instance();
    if (!application || QThread::currentThread() != application->thread())
        return process.waitForFinished(timeoutMs);
    if (process.state() == QProcess::NotRunning)
        return true;
    QEventLoop loop;
    QTimer timeout;
    timeout.setSingleShot(true);
    QObject::connect(&timeout, &QTimer::timeout, &loop, &QEventLoop::quit);
    QObject::connect(&process, &QProcess::finished, &loop, &QEventLoop::quit);
    QObject::connect(&process, &QProcess::errorOccurred, &loop, &QEventLoop::quit);
    timeout.start(timeoutMs);
    loop.exec(QEventLoop::ExcludeUserInputEvents);
    return process.state() == QProcess::NotRunning;
}

void removeOldImageFiles(const QString& folder)
{
    const QDateTime limit = QDateTime::currentDateTimeUtc().addSecs(-kImageFileLifetimeSecs);
    const QFileInfoList files = QDir(folder).entryInfoList({QStringLiteral("Quillomare-*.png")}, QDir::Files);
    for (const QFileInfo& file : files) {
        if (file.lastModified().toUTC() < limit)
            QFile::remove(file.absoluteFilePath());
    }
}

} // namespace

std::shared_ptr<SharingService> SharingService::airDrop()
{
    std::shared_ptr<SharingService>& service = airDropSlot();
    if (!service)
        service = std::make_shared<KdeConnectSharingService>();
    return service;
}

void SharingService::setAirDropForTesting(std::shared_ptr<SharingService> service)
{
    // Null puts the real service back.
    airDropSlot() = std::move(service);
}

KdeConnectSharingService::KdeConnectSharingService(QString program, int probeTimeoutMs)
    : m_program(std::move(program)), m_probeTimeoutMs(probeTimeoutMs)
{
}

bool KdeConnectSharingService::isAvailable() const
{
    return availability() == Availability::available;
}

SharingService::Availability KdeConnectSharingService::availability() const
{
    if (executable().isEmpty())
        return Availability::notInstalled;
    return reachableDevices().isEmpty() ? Availability::noReachableDevice : Availability::available;
}

QString KdeConnectSharingService::executable() const
{
    const QString path = QFileInfo(m_program).isAbsolute() ? m_program : QStandardPaths::findExecutable(m_program);
    return !path.isEmpty() && QFileInfo(path).isExecutable() ? path : QString();
}

QStringList KdeConnectSharingService::reachableDevices() const
{
    {
        const QMutexLocker locker(&m_answerMutex);
        if (m_probedAt.isValid() && !m_probedAt.hasExpired(kProbeReuseMs))
            return m_devices;
    }
    const QStringList devices = probeDevices();
    const QMutexLocker locker(&m_answerMutex);
    m_devices = devices;
    m_probedAt.start();
    return devices;
}

QStringList KdeConnectSharingService::probeDevices() const
{
    const QString executable = this->executable();
    if (executable.isEmpty())
        return {};

    QProcess process;
    process.setProcessChannelMode(QProcess::SeparateChannels);
    process.setStandardInputFile(QProcess::nullDevice());
    process.start(executable, {QStringLiteral("-a"), QStringLiteral("--id-only")});
    if (!process.waitForStarted(m_probeTimeoutMs))
        return {};
    if (!waitForFinished(process, m_probeTimeoutMs)) {
        process.kill();
        process.waitForFinished(500);
        return {};
    }
    if (process.exitStatus() != QProcess::NormalExit || process.exitCode() != 0)
        return {};

    QStringList devices;
    const QString output = QString::fromUtf8(process.readAllStandardOutput());
    for (const QString& line : output.split(QLatin1Char('\n'))) {
        const QString id = line.trimmed();
        if (!id.isEmpty() && !devices.contains(id))
            devices.append(id);
    }
    return devices;
}

QString KdeConnectSharingService::imageFolder()
{
    const QString caches = StandardFolders::caches();
    return caches.isEmpty() ? QString() : caches + QStringLiteral("/Quillomare/SharedImages");
}

std::optional<QString> KdeConnectSharingService::writeImageFile(const QImage& image)
{
    if (image.isNull())
        return std::nullopt;
    // The images are what the user copied: not in a folder another user could read or swap them in.
    const QString folder = imageFolder();
    if (folder.isEmpty())
        return std::nullopt;
    try {
        QuillomareCore::Files::makePrivateFolder(folder, QFileInfo(folder).path());
    } catch (const QuillomareCore::FileSystemError&) {
        return std::nullopt;
    }
    removeOldImageFiles(folder);
    // The file outlives this call: the detached transfer reads it later.
    QTemporaryFile file(folder + QStringLiteral("/Quillomare-XXXXXX.png"));
    file.setAutoRemove(false);
    if (!file.open())
        return std::nullopt;
    if (!image.save(&file, "PNG")) {
        file.remove();
        return std::nullopt;
    }
    file.close();
    return file.fileName();
}

bool KdeConnectSharingService::perform(const QList<PasteboardObject>& items)
{
    if (items.isEmpty())
        return false;
    const QStringList devices = reachableDevices();
    if (devices.isEmpty())
        return false;
    const QString executable = this->executable();
    const QStringList device{QStringLiteral("--device"), devices.first()};

    bool handedOver = true;
    for (const PasteboardObject& item : items) {
        QStringList arguments = device;
        if (const auto* url = std::get_if<QUrl>(&item)) {
            arguments << QStringLiteral("--share")
                      << (url->isLocalFile() ? url->toLocalFile() : QString::fromUtf8(url->toEncoded()));
        } else if (const auto* text = std::get_if<QString>(&item)) {
            arguments << QStringLiteral("--share-text") << *text;
        } else if (const auto* image = std::get_if<QImage>(&item)) {
            const auto path = writeImageFile(*image);
            if (!path) {
                handedOver = false;
                continue;
            }
            arguments << QStringLiteral("--share") << *path;
        }
        if (!QProcess::startDetached(executable, arguments))
            handedOver = false;
    }
    return handedOver;
}

} // namespace Platform
