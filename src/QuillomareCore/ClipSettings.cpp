#include "ClipSettings.h"

#include "Foundation.h"
#include "Json.h"

#include <QSet>

namespace QuillomareCore {

const QStringList& ClipDefaults::ignoredSourceBundleIdentifiers()
{
    static const QStringList identifiers{
        QStringLiteral("com.1password.1password"),
        QStringLiteral("com.1password.1password7"),
        QStringLiteral("com.agilebits.onepassword7"),
        QStringLiteral("com.lastpass.LastPass"),
        QStringLiteral("com.dashlane.dashlanephonefinal"),
        QStringLiteral("com.bitwarden.desktop"),
        QStringLiteral("com.apple.Passwords"),
        // The same products as a Linux desktop names them: desktop file ids of the distribution
        // packages (which are also their window classes), snaps' "<snap>_<app>" desktop ids and
        // Flatpak app ids. Bitwarden's Flatpak id is the one above.
        QStringLiteral("1password"),
        QStringLiteral("1password_1password"),
        QStringLiteral("com.onepassword.OnePassword"),
        QStringLiteral("bitwarden"),
        QStringLiteral("bitwarden_bitwarden"),
        QStringLiteral("org.keepassxc.KeePassXC"),
        QStringLiteral("keepassxc"),
        QStringLiteral("keepassxc_keepassxc"),
    };
    return identifiers;
}

ClipSettings ClipSettings::make(qint64 maxHistoryCount, bool ignoreSensitiveContent, bool markSensitiveLocalOnly,
                                bool cloudSyncEnabled, bool syncRichContentToICloud,
                                std::optional<QString> cloudContainerIdentifier,
                                const QStringList& ignoredSourceBundleIdentifiers, bool showIslandAfterCapture,
                                bool smartCopyEchoEnabled, bool hotKeyEnabled, bool launchAtLoginEnabled)
{
    ClipSettings settings;
    settings.maxHistoryCount = maxHistoryCount;
    settings.ignoreSensitiveContent = ignoreSensitiveContent;
    settings.markSensitiveLocalOnly = markSensitiveLocalOnly;
    settings.cloudSyncEnabled = cloudSyncEnabled;
    settings.syncRichContentToICloud = syncRichContentToICloud;
    settings.cloudContainerIdentifier = std::move(cloudContainerIdentifier);
    settings.ignoredSourceBundleIdentifiers = normalizedBundleIdentifiers(ignoredSourceBundleIdentifiers);
    settings.showIslandAfterCapture = showIslandAfterCapture;
    settings.smartCopyEchoEnabled = smartCopyEchoEnabled;
    settings.hotKeyEnabled = hotKeyEnabled;
    settings.launchAtLoginEnabled = launchAtLoginEnabled;
    return settings;
}

QStringList ClipSettings::normalizedBundleIdentifiers(const QStringList& identifiers)
{
    QStringList result;
    QSet<QString> seen;
    for (const QString& identifier : identifiers) {
        const QString trimmed = Text::trimmed(identifier);
        if (trimmed.isEmpty())
            continue;
        const QString key = trimmed.toLower();
        if (seen.contains(key))
            continue;
        seen.insert(key);
        result.append(trimmed);
    }
    return result;
}

QString ClipSettings::resolvedCloudContainerIdentifier() const
{
    if (cloudContainerIdentifier) {
        const QString trimmed = Text::trimmed(*cloudContainerIdentifier);
        if (!trimmed.isEmpty())
            return trimmed;
    }
    return ClipDefaults::cloudContainerIdentifier;
}

bool ClipSettings::ignoresSourceApp(const std::optional<QString>& bundleIdentifier) const
{
    if (!bundleIdentifier)
        return false;
    const QString key = Text::trimmed(*bundleIdentifier).toLower();
    if (key.isEmpty())
        return false;
    for (const QString& identifier : ignoredSourceBundleIdentifiers) {
        if (identifier.toLower() == key)
            return true;
    }
    return false;
}

qsizetype ClipSettings::effectiveMaxHistoryCount() const
{
    if (maxHistoryCount < 0)
        return ClipSettings{}.maxHistoryCount;
    return static_cast<qsizetype>(maxHistoryCount);
}

void ClipSettings::encode(Json::Writer& writer) const
{
    // Keys in plain text order: the file is written with sorted keys.
    writer.beginObject();
    if (cloudContainerIdentifier) {
        writer.key("cloudContainerIdentifier");
        writer.string(*cloudContainerIdentifier);
    }
    writer.key("cloudSyncEnabled");
    writer.boolean(cloudSyncEnabled);
    writer.key("hotKeyEnabled");
    writer.boolean(hotKeyEnabled);
    writer.key("ignoreSensitiveContent");
    writer.boolean(ignoreSensitiveContent);
    writer.key("ignoredSourceBundleIdentifiers");
    writer.beginArray();
    for (const QString& identifier : ignoredSourceBundleIdentifiers)
        writer.string(identifier);
    writer.endArray();
    writer.key("launchAtLoginEnabled");
    writer.boolean(launchAtLoginEnabled);
    writer.key("markSensitiveLocalOnly");
    writer.boolean(markSensitiveLocalOnly);
    writer.key("maxHistoryCount");
    writer.integer(maxHistoryCount);
    writer.key("showIslandAfterCapture");
    writer.boolean(showIslandAfterCapture);
    writer.key("smartCopyEchoEnabled");
    writer.boolean(smartCopyEchoEnabled);
    writer.key("syncRichContentToICloud");
    writer.boolean(syncRichContentToICloud);
    writer.endObject();
}

ClipSettings ClipSettings::decode(const Json::Value& value)
{
    value.requireObject("ClipSettings");
    ClipSettings settings;
    auto readBool = [&](const char* key, bool& field) {
        if (auto member = value.presentMember(key))
            field = member->toBool(key);
    };
    if (auto member = value.presentMember("maxHistoryCount"))
        settings.maxHistoryCount = member->toInt64("maxHistoryCount");
    readBool("ignoreSensitiveContent", settings.ignoreSensitiveContent);
    readBool("markSensitiveLocalOnly", settings.markSensitiveLocalOnly);
    readBool("cloudSyncEnabled", settings.cloudSyncEnabled);
    readBool("syncRichContentToICloud", settings.syncRichContentToICloud);
    if (auto member = value.presentMember("cloudContainerIdentifier"))
        settings.cloudContainerIdentifier = member->toString("cloudContainerIdentifier");
    if (auto member = value.presentMember("ignoredSourceBundleIdentifiers")) {
        member->requireArray("ignoredSourceBundleIdentifiers");
        QStringList identifiers;
        member->forEachElement(
            [&](const Json::Value& element) { identifiers.append(element.toString("ignoredSourceBundleIdentifiers")); });
        settings.ignoredSourceBundleIdentifiers = normalizedBundleIdentifiers(identifiers);
    }
    readBool("showIslandAfterCapture", settings.showIslandAfterCapture);
    readBool("smartCopyEchoEnabled", settings.smartCopyEchoEnabled);
    readBool("hotKeyEnabled", settings.hotKeyEnabled);
    readBool("launchAtLoginEnabled", settings.launchAtLoginEnabled);
    return settings;
}

} // namespace QuillomareCore
