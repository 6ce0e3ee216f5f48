#pragma once

#include <QString>
#include <QStringList>

#include <optional>

namespace QuillomareCore {

namespace Json {
class Value;
class Writer;
} // namespace Json

namespace ClipDefaults {

inline const QString appGroupIdentifier = QStringLiteral("group.app.quillomare");
inline const QString cloudContainerIdentifier = QStringLiteral("iCloud.app.quillomare");
inline constexpr qint64 maxImagePayloadBytes = 8 * 1024 * 1024;
// Far above any text a person works with; beyond it a copy is a dump that would swell every save.
inline constexpr qint64 maxTextPayloadBytes = 32 * 1024 * 1024;
inline constexpr qint64 maxCloudTextPayloadBytes = 1024 * 1024;
inline constexpr qint64 maxCloudBinaryPayloadBytes = 1024 * 1024;
// Password managers: what is copied while one of them is in front is never recorded.
const QStringList& ignoredSourceBundleIdentifiers();

} // namespace ClipDefaults

struct ClipSettings
{
    qint64 maxHistoryCount = 200;
    bool ignoreSensitiveContent = true;
    bool markSensitiveLocalOnly = true;
    bool cloudSyncEnabled = false;
    bool syncRichContentToICloud = false;
    std::optional<QString> cloudContainerIdentifier;
    QStringList ignoredSourceBundleIdentifiers = normalizedBundleIdentifiers(ClipDefaults::ignoredSourceBundleIdentifiers());
    bool showIslandAfterCapture = false;
    bool smartCopyEchoEnabled = true;
    bool hotKeyEnabled = true;
    bool launchAtLoginEnabled = false;

    friend bool operator==(const ClipSettings&, const ClipSettings&) = default;

    // The memberwise form; the ignore list is normalized on the way in.
    static ClipSettings make(qint64 maxHistoryCount, bool ignoreSensitiveContent, bool markSensitiveLocalOnly,
                             bool cloudSyncEnabled, bool syncRichContentToICloud,
                             std::optional<QString> cloudContainerIdentifier,
                             const QStringList& ignoredSourceBundleIdentifiers, bool showIslandAfterCapture,
                             bool smartCopyEchoEnabled, bool hotKeyEnabled, bool launchAtLoginEnabled);

    // Trimmed, blank entries dropped, duplicates (ignoring letter case) dropped, first spelling kept.
    static QStringList normalizedBundleIdentifiers(const QStringList& identifiers);
    QString resolvedCloudContainerIdentifier() const;
    bool ignoresSourceApp(const std::optional<QString>& bundleIdentifier) const;

    // The history store trims to this; a negative count (only a hand-edited file has one)
    // trims as the default does.
    qsizetype effectiveMaxHistoryCount() const;

    void encode(Json::Writer& writer) const;
    static ClipSettings decode(const Json::Value& value);
};

} // namespace QuillomareCore
