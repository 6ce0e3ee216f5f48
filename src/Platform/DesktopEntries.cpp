#include "DesktopEntries.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QLocale>
#include <QSet>

#include <algorithm>

namespace Platform::DesktopEntries {

namespace {

// Programs that start many different applications: an Exec naming one of these says nothing
// about which application a process of that name is.
bool isGenericLauncher(const QString& program)
{
    static const QSet<QString> launchers = {
        QStringLiteral("env"),     QStringLiteral("sh"),     QStringLiteral("bash"),  QStringLiteral("dash"),
        QStringLiteral("flatpak"), QStringLiteral("snap"),   QStringLiteral("java"),  QStringLiteral("python"),
        QStringLiteral("python3"), QStringLiteral("perl"),   QStringLiteral("ruby"),  QStringLiteral("node"),
        QStringLiteral("gjs"),     QStringLiteral("mono"),   QStringLiteral("wine"),  QStringLiteral("pkexec"),
        QStringLiteral("sudo"),    QStringLiteral("xdg-open"),
    };
    return launchers.contains(program);
}

// The string escapes of desktop-file values: \s \n \t \r \\.
QString unescapeValue(const QByteArray& raw)
{
    const QString value = QString::fromUtf8(raw);
    if (!value.contains(QLatin1Char('\\')))
        return value;
    QString result;
    result.reserve(value.size());
    for (qsizetype i = 0; i < value.size(); ++i) {
        const QChar c = value.at(i);
        if (c != QLatin1Char('\\') || i + 1 == value.size()) {
            result.append(c);
            continue;
        }
        const QChar next = value.at(++i);
        switch (next.unicode()) {
        case 's': result.append(QLatin1Char(' ')); break;
        case 'n': result.append(QLatin1Char('\n')); break;
        case 't': result.append(QLatin1Char('\t')); break;
        case 'r': result.append(QLatin1Char('\r')); break;
        case '\\': result.append(QLatin1Char('\\')); break;
        default:
            // Not a string escape: Exec's own quoting reads these later.
            result.append(c);
            result.append(next);
        }
    }
    return result;
}

// One argument of an Exec line from `pos` on, quotes and their escapes undone; nullopt at the end.
std::optional<QString> nextExecArgument(const QString& exec, qsizetype& pos)
{
    while (pos < exec.size() && exec.at(pos).isSpace())
        ++pos;
    if (pos >= exec.size())
        return std::nullopt;
    QString argument;
    if (exec.at(pos) == QLatin1Char('"')) {
        ++pos;
        while (pos < exec.size() && exec.at(pos) != QLatin1Char('"')) {
            if (exec.at(pos) == QLatin1Char('\\') && pos + 1 < exec.size())
                ++pos;
            argument.append(exec.at(pos++));
        }
        ++pos; // the closing quote
        return argument;
    }
    while (pos < exec.size() && !exec.at(pos).isSpace())
        argument.append(exec.at(pos++));
    return argument;
}

QString baseName(const QString& path)
{
    return path.mid(path.lastIndexOf(QLatin1Char('/')) + 1);
}

qint64 folderStamp(const QString& path)
{
    const QFileInfo info(path);
    return info.isDir() ? info.lastModified().toMSecsSinceEpoch() : -1;
}

bool isPlausibleAppId(const QString& id)
{
    if (id.isEmpty() || !id.contains(QLatin1Char('.')))
        return false;
    return std::all_of(id.begin(), id.end(), [](QChar c) {
        return (c.unicode() < 128 && c.isLetterOrNumber()) || c == QLatin1Char('.') || c == QLatin1Char('_')
               || c == QLatin1Char('-');
    });
}

// systemd escapes some characters of unit names as \xNN.
QString unescapeUnitName(const QString& name)
{
    QString result;
    for (qsizetype i = 0; i < name.size(); ++i) {
        if (name.at(i) == QLatin1Char('\\') && i + 3 < name.size() && name.at(i + 1) == QLatin1Char('x')) {
            bool ok = false;
            const int code = name.mid(i + 2, 2).toInt(&ok, 16);
            if (ok) {
                result.append(QChar(code));
                i += 3;
                continue;
            }
        }
        result.append(name.at(i));
    }
    return result;
}

} // namespace

QStringList localeKeys(const QStringList& uiLanguages)
{
    QStringList keys;
    const auto add = [&keys](const QString& key) {
        if (!keys.contains(key))
            keys.append(key);
    };
    for (QString tag : uiLanguages) {
        tag.replace(QLatin1Char('-'), QLatin1Char('_'));
        QString modifier;
        if (const qsizetype at = tag.indexOf(QLatin1Char('@')); at >= 0) {
            modifier = tag.mid(at);
            tag.truncate(at);
        }
        if (const qsizetype dot = tag.indexOf(QLatin1Char('.')); dot >= 0)
            tag.truncate(dot);
        const QStringList parts = tag.split(QLatin1Char('_'), Qt::SkipEmptyParts);
        if (parts.isEmpty())
            continue;
        const QString language = parts.first().toLower();
        if (language == QLatin1String("c") || language == QLatin1String("posix"))
            continue;
        QString script;
        QString territory;
        for (qsizetype i = 1; i < parts.size(); ++i) {
            if (parts.at(i).size() == 4 && parts.at(i).at(0).isLetter())
                script = parts.at(i);
            else if (territory.isEmpty())
                territory = parts.at(i).toUpper();
        }
        // Desktop files translate by territory, never by script: "zh-Hant" is read as zh_TW.
        if (territory.isEmpty() && !script.isEmpty()) {
            const QLocale locale(language + QLatin1Char('_') + script);
            if (locale.language() != QLocale::C)
                territory = QLocale::territoryToCode(locale.territory());
        }
        if (!territory.isEmpty()) {
            if (!modifier.isEmpty())
                add(language + QLatin1Char('_') + territory + modifier);
            add(language + QLatin1Char('_') + territory);
        }
        if (!modifier.isEmpty())
            add(language + modifier);
        add(language);
    }
    return keys;
}

QString execProgramName(const QString& exec)
{
    qsizetype pos = 0;
    std::optional<QString> argument = nextExecArgument(exec, pos);
    if (argument && baseName(*argument) == QLatin1String("env")) {
        while ((argument = nextExecArgument(exec, pos))) {
            if (*argument == QLatin1String("-u") || *argument == QLatin1String("-C")) {
                nextExecArgument(exec, pos); // the option's own argument
                continue;
            }
            if (!argument->contains(QLatin1Char('=')) && !argument->startsWith(QLatin1Char('-')))
                break;
        }
    }
    return argument ? baseName(*argument) : QString();
}

std::optional<DesktopEntry> parseDesktopEntry(const QByteArray& contents, const QString& id,
                                              const QStringList& localeKeys)
{
    DesktopEntry entry;
    entry.id = id;
    bool inEntryGroup = false;
    bool sawEntryGroup = false;
    bool hidden = false;
    QString type;
    QString exec;
    QString localizedName;
    qsizetype localizedRank = localeKeys.size();

    for (const QByteArray& rawLine : contents.split('\n')) {
        const QByteArray line = rawLine.trimmed();
        if (line.isEmpty() || line.startsWith('#'))
            continue;
        if (line.startsWith('[')) {
            if (inEntryGroup)
                break; // everything we read is in the first group
            inEntryGroup = line == "[Desktop Entry]";
            sawEntryGroup = sawEntryGroup || inEntryGroup;
            continue;
        }
        if (!inEntryGroup)
            continue;
        const qsizetype equals = line.indexOf('=');
        if (equals <= 0)
            continue;
        const QByteArray key = line.left(equals).trimmed();
        const QByteArray value = line.mid(equals + 1).trimmed();
        if (key == "Type") {
            type = QString::fromUtf8(value);
        } else if (key == "Name") {
            entry.name = unescapeValue(value);
        } else if (key.startsWith("Name[") && key.endsWith(']')) {
            const QString locale = QString::fromUtf8(key.mid(5, key.size() - 6));
            const qsizetype rank = localeKeys.indexOf(locale);
            if (rank >= 0 && rank < localizedRank) {
                localizedRank = rank;
                localizedName = unescapeValue(value);
            }
        } else if (key == "StartupWMClass") {
            entry.startupWMClass = unescapeValue(value);
        } else if (key == "Exec") {
            exec = unescapeValue(value);
        } else if (key == "Hidden") {
            hidden = value == "true";
        } else if (key == "NoDisplay") {
            entry.noDisplay = value == "true";
        }
    }

    if (!sawEntryGroup || hidden || (!type.isEmpty() && type != QLatin1String("Application")))
        return std::nullopt;
    if (!localizedName.isEmpty())
        entry.name = localizedName;
    const QString program = execProgramName(exec);
    if (!isGenericLauncher(program))
        entry.execProgram = program;
    return entry;
}

QString desktopFileId(const QString& relativePath)
{
    QString id = relativePath;
    if (id.endsWith(QLatin1String(".desktop")))
        id.chop(8);
    id.replace(QLatin1Char('/'), QLatin1Char('-'));
    return id;
}

QStringList applicationFolders()
{
    QString dataHome = qEnvironmentVariable("XDG_DATA_HOME");
    if (!QDir::isAbsolutePath(dataHome))
        dataHome = QDir::homePath() + QStringLiteral("/.local/share");
    QString dataDirs = qEnvironmentVariable("XDG_DATA_DIRS");
    if (dataDirs.isEmpty())
        dataDirs = QStringLiteral("/usr/local/share:/usr/share");

    QStringList folders;
    const auto add = [&folders](const QString& dataFolder) {
        if (!QDir::isAbsolutePath(dataFolder))
            return; // relative entries are invalid and ignored
        const QString folder = QDir::cleanPath(dataFolder + QStringLiteral("/applications"));
        if (!folders.contains(folder))
            folders.append(folder);
    };
    add(dataHome);
    for (const QString& folder : dataDirs.split(QLatin1Char(':'), Qt::SkipEmptyParts))
        add(folder);
    return folders;
}

std::optional<QString> flatpakIdFromInfo(const QByteArray& flatpakInfo)
{
    bool inApplication = false;
    for (const QByteArray& rawLine : flatpakInfo.split('\n')) {
        const QByteArray line = rawLine.trimmed();
        if (line.startsWith('[')) {
            inApplication = line == "[Application]";
            continue;
        }
        if (!inApplication)
            continue;
        const qsizetype equals = line.indexOf('=');
        if (equals > 0 && line.left(equals).trimmed() == "name") {
            const QString id = QString::fromUtf8(line.mid(equals + 1).trimmed());
            if (!id.isEmpty())
                return id;
        }
    }
    return std::nullopt;
}

std::optional<QString> flatpakIdFromCgroup(const QByteArray& cgroup)
{
    static const QLatin1String prefix("app-flatpak-");
    static const QLatin1String suffix(".scope");
    for (const QByteArray& rawLine : cgroup.split('\n')) {
        // "hierarchy:controllers:path"
        const qsizetype pathStart = rawLine.indexOf(':', rawLine.indexOf(':') + 1);
        if (pathStart < 0)
            continue;
        const QString path = QString::fromUtf8(rawLine.mid(pathStart + 1).trimmed());
        for (const QString& segment : path.split(QLatin1Char('/'), Qt::SkipEmptyParts)) {
            if (!segment.startsWith(prefix) || !segment.endsWith(suffix))
                continue;
            QString unit = unescapeUnitName(segment.mid(prefix.size(), segment.size() - prefix.size() - suffix.size()));
            // The unit ends in "-<instance number>"; the id itself may contain dashes.
            const qsizetype dash = unit.lastIndexOf(QLatin1Char('-'));
            if (dash > 0) {
                bool isNumber = false;
                unit.mid(dash + 1).toULongLong(&isNumber);
                if (isNumber)
                    unit.truncate(dash);
            }
            if (isPlausibleAppId(unit))
                return unit;
        }
    }
    return std::nullopt;
}

Index Index::scan(const QStringList& folders, const QStringList& localeKeys)
{
    Index index;
    index.m_localeKeys = localeKeys;
    QSet<QString> seenIds;
    for (const QString& folder : folders) {
        index.m_folderStamps.append({folder, folderStamp(folder)});
        if (index.m_folderStamps.constLast().second < 0)
            continue;
        QStringList relativePaths;
        const QDir root(folder);
        QDirIterator it(folder, QDir::Files | QDir::Dirs | QDir::NoDotAndDotDot,
                        QDirIterator::Subdirectories | QDirIterator::FollowSymlinks);
        while (it.hasNext()) {
            const QString path = it.next();
            const QFileInfo info = it.fileInfo();
            if (info.isDir())
                index.m_folderStamps.append({path, folderStamp(path)});
            else if (path.endsWith(QLatin1String(".desktop")))
                relativePaths.append(root.relativeFilePath(path));
        }
        relativePaths.sort();
        for (const QString& relativePath : std::as_const(relativePaths)) {
            const QString id = desktopFileId(relativePath);
            if (seenIds.contains(id))
                continue;
            seenIds.insert(id);
            QFile file(root.filePath(relativePath));
            if (file.size() > 1024 * 1024 || !file.open(QIODevice::ReadOnly))
                continue;
            if (std::optional<DesktopEntry> entry = parseDesktopEntry(file.readAll(), id, localeKeys))
                index.add(std::move(*entry));
        }
    }
    return index;
}

void Index::add(DesktopEntry entry)
{
    const qsizetype position = m_entries.size();
    const auto offer = [this, position, &entry](QHash<QString, qsizetype>& table, const QString& key) {
        if (key.isEmpty())
            return;
        const auto existing = table.find(key);
        if (existing == table.end())
            table.insert(key, position);
        else if (m_entries.at(*existing).noDisplay && !entry.noDisplay)
            *existing = position;
    };
    offer(m_byId, entry.id);
    offer(m_byIdFolded, entry.id.toLower());
    offer(m_byWMClass, entry.startupWMClass.toLower());
    offer(m_byProgram, entry.execProgram);
    offer(m_byProgramFolded, entry.execProgram.toLower());
    m_entries.append(std::move(entry));
}

const DesktopEntry* Index::byId(const QString& id) const
{
    const auto it = m_byId.constFind(id);
    return it == m_byId.cend() ? nullptr : &m_entries.at(*it);
}

const DesktopEntry* Index::match(const WindowFacts& facts) const
{
    const auto find = [this](const QHash<QString, qsizetype>& table, const QString& key) -> const DesktopEntry* {
        if (key.isEmpty())
            return nullptr;
        const auto it = table.constFind(key);
        return it == table.cend() ? nullptr : &m_entries.at(*it);
    };
    const QString wmClass = facts.wmClass.toLower();
    const QString wmInstance = facts.wmInstance.toLower();
    if (const DesktopEntry* entry = find(m_byWMClass, wmClass))
        return entry;
    if (const DesktopEntry* entry = find(m_byProgram, facts.executableName))
        return entry;
    if (const DesktopEntry* entry = find(m_byProgramFolded, wmInstance))
        return entry;
    if (const DesktopEntry* entry = find(m_byIdFolded, wmClass))
        return entry;
    return find(m_byIdFolded, wmInstance);
}

bool Index::foldersChanged() const
{
    return std::any_of(m_folderStamps.cbegin(), m_folderStamps.cend(),
                       [](const auto& stamp) { return folderStamp(stamp.first) != stamp.second; });
}

RunningApplication describe(const WindowFacts& facts, const DesktopEntry* entry)
{
    RunningApplication application;
    application.processIdentifier = facts.processIdentifier;

    if (!facts.flatpakId.isEmpty())
        application.bundleIdentifier = facts.flatpakId;
    else if (entry)
        application.bundleIdentifier = entry->id;
    else if (!facts.wmClass.isEmpty())
        application.bundleIdentifier = facts.wmClass;
    else if (!facts.wmInstance.isEmpty())
        application.bundleIdentifier = facts.wmInstance;

    if (entry && !entry->name.isEmpty())
        application.localizedName = entry->name;
    else if (!facts.title.isEmpty())
        application.localizedName = facts.title;
    else if (!facts.wmClass.isEmpty())
        application.localizedName = facts.wmClass;
    else if (!facts.wmInstance.isEmpty())
        application.localizedName = facts.wmInstance;
    return application;
}

RunningApplication describe(const WindowFacts& facts, const Index& index)
{
    const DesktopEntry* entry = facts.flatpakId.isEmpty() ? nullptr : index.byId(facts.flatpakId);
    return describe(facts, entry ? entry : index.match(facts));
}

} // namespace Platform::DesktopEntries
