#include "TestSupport.h"

#include <QuillomareCore/Foundation.h>
#include <QuillomareCore/Hashing.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>
#include <QTemporaryDir>

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

} // namespace QuillomareTest
