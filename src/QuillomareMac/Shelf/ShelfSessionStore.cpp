#include "ShelfSessionStore.h"

#include "Shelf/ShelfFileStore.h"

#include <Platform/StandardFolders.h>
#include <QuillomareCore/Coding.h>
#include <QuillomareCore/Errors.h>
#include <QuillomareCore/Foundation.h>
#include <QuillomareCore/Files.h>
#include <QuillomareCore/Json.h>
#include <QuillomareCore/Language.h>

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMutex>
#include <QMutexLocker>
#include <QPointer>

#include <atomic>

namespace QuillomareMac {

using namespace QuillomareCore;

// What the workers share with the store: stop requests and finished results.
struct ShelfSessionStore::CopyQueue
{
    QMutex mutex;
    QSet<QUuid> cancelledItems;
    std::atomic<bool> stopping{false};
    QList<CopyJobResult> finished;
    bool drainPosted = false;

    bool isCancelled(const QUuid& id)
    {
        if (stopping.load())
            return true;
        QMutexLocker locker(&mutex);
        return cancelledItems.contains(id);
    }
};

struct ShelfSessionStore::CopyJobResult
{
    QUuid itemID;
    QList<std::pair<QString, QString>> copies; // original path → private copy
    QList<ShelfFileStore::CopyFailure> failures;
};

namespace {

// A path's last component, as a dropped folder given with a trailing slash is named too.
QString lastComponent(QString path)
{
    while (path.size() > 1 && path.endsWith(QLatin1Char('/')))
        path.chop(1);
    return QFileInfo(path).fileName();
}

QDateTime wholeSeconds(const QDateTime& date)
{
    if (!date.isValid())
        return ShelfDates::now();
    const QDateTime inRange = Iso8601::clamped(date);
    return inRange.addMSecs(-inRange.time().msec());
}

} // namespace

ShelfSessionStore::ShelfSessionStore(QString fileURL)
    : m_fileURL(std::move(fileURL)), m_shelfFilesFolder(ShelfFileStore::folderPath(m_fileURL)),
      m_writer(std::make_unique<BackgroundFileWriter>(m_fileURL)), m_copies(std::make_shared<CopyQueue>())
{
    // The shelf's file is small, and a session closed or an entry taken off must leave it at once.
    m_writer->turnGatheringOff();
    m_writer->onWritten = [this](const BackgroundFileWriter::Outcome& outcome) {
        if (outcome.setAsideTo && m_lastLoadFailure)
            m_lastLoadFailure->backupURL = outcome.setAsideTo;
    };
    // Two at a time keep a fast disk busy without making a slow one seek back and forth.
    m_copyPool.setMaxThreadCount(2);
    m_copySaveTimer.setSingleShot(true);
    m_copySaveTimer.setInterval(copySaveDelayMilliseconds);
    QObject::connect(&m_copySaveTimer, &QTimer::timeout, &m_context, [this] { saveCopySwitches(); });
    load();
}

ShelfSessionStore::~ShelfSessionStore()
{
    // Copies still running stop between two pieces and leave nothing behind; their entries keep
    // the original paths and are copied again at the next start.
    m_copies->stopping.store(true);
    m_copyPool.waitForDone();
    drainCopies(/*notify=*/false);
    // The writer finishes this before it stops. Should it fail, the file keeps the original
    // paths, which still work; the copies are then leftovers the next start deletes and remakes.
    if (m_hasUnsavedCopySwitches)
        save(m_state);
}

QString ShelfSessionStore::defaultStoreURL()
{
    QString folder = Platform::StandardFolders::applicationSupport();
    if (folder.isEmpty())
        folder = Platform::StandardFolders::temporary();
    return folder + QStringLiteral("/Quillomare/shelf-sessions.json");
}

qsizetype ShelfSessionStore::currentIndex(const State& state)
{
    for (qsizetype i = 0; i < state.sessions.size(); ++i) {
        if (state.sessions[i].id == state.selectedSessionID)
            return i;
    }
    return 0;
}

const ShelfSession& ShelfSessionStore::currentSession() const
{
    return m_state.sessions[currentIndex(m_state)];
}

ShelfSession ShelfSessionStore::makeSession(const QString& name)
{
    const QDateTime now = ShelfDates::now();
    return ShelfSession{QUuid::createUuid(), name, {}, now, now};
}

std::optional<QString> ShelfSessionStore::normalizedName(const QString& name)
{
    // Cutting may leave a space at the end ("Trip to  …"): trimmed again.
    const QString cut = Text::trimmed(Text::graphemePrefix(Text::trimmed(name), maxSessionNameLength));
    if (cut.isEmpty())
        return std::nullopt;
    return cut;
}

QString ShelfSessionStore::nextUntitledName(const QList<ShelfSession>& sessions)
{
    const QString base = Language::text(QStringLiteral("未命名会话"), QStringLiteral("Untitled Session"));
    QSet<QString> taken;
    for (const ShelfSession& session : sessions)
        taken.insert(session.name);
    if (!taken.contains(base))
        return base;
    for (int number = 2;; ++number) {
        const QString candidate = base + QLatin1Char(' ') + QString::number(number);
        if (!taken.contains(candidate))
            return candidate;
    }
}

// MARK: - Loading

void ShelfSessionStore::useFreshState()
{
    const ShelfSession session = makeSession(ShelfSession::defaultName());
    m_state = State{{session}, session.id};
}

QString ShelfSessionStore::backupURLForBadFile() const
{
    const QFileInfo info(m_fileURL);
    const QString extension = info.suffix().isEmpty() ? QStringLiteral("bak") : info.suffix();
    const QString baseName = info.suffix().isEmpty() ? info.fileName() : info.completeBaseName();
    return info.dir().filePath(baseName + QStringLiteral(".corrupt-") + Uuid::text(QUuid::createUuid()) +
                               QLatin1Char('.') + extension);
}

void ShelfSessionStore::whenSaved(std::function<void(const std::optional<QString>&)> done)
{
    m_writer->whenWritten(std::move(done));
}

const std::optional<QString>& ShelfSessionStore::lastSaveError() const
{
    return m_writer->lastError();
}

void ShelfSessionStore::waitForPendingSaves()
{
    m_writer->waitUntilIdle();
}

bool ShelfSessionStore::setBadFileAside(std::optional<QString>& backupURL)
{
    const QString backup = backupURLForBadFile();
    if (QDir().rename(m_fileURL, backup) || QFile::copy(m_fileURL, backup)) {
        // A copy leaves the bad file in place; the next save replaces it, the copy keeps it.
        backupURL = backup;
        return true;
    }
    return false;
}

void ShelfSessionStore::load()
{
    useFreshState();
    const QFileInfo info(m_fileURL);
    if (info.absoluteDir().exists())
        Files::removeLeftoverTemporaryFiles(m_fileURL);
    if (!info.exists() && !info.isSymLink())
        return;

    // Only a regular file is read: a FIFO would block the start, a device would never end.
    const std::optional<QByteArray> read = Files::readRegularFile(m_fileURL);
    const bool readable = read.has_value();
    const QByteArray bytes = read.value_or(QByteArray());

    QString problem;
    if (readable) {
        try {
            const Json::Document document = Json::Document::parse(bytes);
            const Json::Value root = document.root();
            root.requireObject("ShelfStoreSnapshot");
            State loaded;
            const auto sessions = root.member("sessions");
            if (!sessions)
                throw DecodingError(QStringLiteral("No value associated with key \"sessions\"."));
            sessions->requireArray("sessions");
            sessions->forEachElement(
                [&](const Json::Value& element) { loaded.sessions.append(ShelfSession::decode(element)); });
            if (const auto selected = root.presentMember("selectedSessionID"))
                loaded.selectedSessionID = Coding::decodeUuid(*selected, "selectedSessionID");

            if (loaded.sessions.isEmpty())
                loaded.sessions.append(makeSession(ShelfSession::defaultName()));
            loaded.selectedSessionID = loaded.sessions[currentIndex(loaded)].id;
            m_state = std::move(loaded);
        } catch (const std::exception&) {
            // Malformed, a value of the wrong type, or more than memory allows: unusable either way.
            problem = Language::text(QStringLiteral("暂存架文件已损坏"), QStringLiteral("The shelf file is damaged"));
        }
    } else {
        problem =
            Language::text(QStringLiteral("暂存架文件无法读取"), QStringLiteral("The shelf file couldn't be read"));
    }

    if (!problem.isEmpty()) {
        // The sessions in it may still be recovered by hand: the file is moved aside, never
        // overwritten, and its private copies are left alone.
        std::optional<QString> backup;
        if (!setBadFileAside(backup))
            m_writer->protectExistingFile(
                backupURLForBadFile(),
                Language::text(
                    QStringLiteral(
                        "无法读取的暂存架文件“%1”无法移开，为保留其中内容，暂不保存；更改暂存在内存中，稍后会重试")
                        .arg(QDir::toNativeSeparators(m_fileURL)),
                    QStringLiteral("The unreadable shelf file “%1” couldn't be moved aside; to keep what it "
                                   "holds, nothing is saved over it. Changes are kept in memory and saving "
                                   "will be tried again")
                        .arg(QDir::toNativeSeparators(m_fileURL))));
        const QString message =
            backup
                ? Language::text(
                      problem + QStringLiteral("，已另存为“%1”，暂存架从空白开始").arg(QFileInfo(*backup).fileName()),
                      problem + QStringLiteral("; it was set aside as “%1” and the shelf starts empty")
                                    .arg(QFileInfo(*backup).fileName()))
                : Language::text(problem + QStringLiteral("，且无法移开；暂存架的更改暂存在内存中，直到能把它移开"),
                                 problem +
                                     QStringLiteral(" and couldn't be moved aside; shelf changes are kept in memory "
                                                    "until it can be"));
        m_lastLoadFailure = ShelfStoreLoadFailure{m_fileURL, backup, message};
        useFreshState();
        return;
    }

    if (repairMovedCopies())
        save(m_state);

    QSet<QUuid> itemIDs;
    QList<ShelfItem> items;
    for (const ShelfSession& session : std::as_const(m_state.sessions)) {
        for (const ShelfItem& item : session.items) {
            itemIDs.insert(item.id);
            items.append(item);
        }
    }
    ShelfFileStore::removeUnusedFolders(m_shelfFilesFolder, itemIDs);
    scheduleCopies(items, /*quiet=*/true);
}

bool ShelfSessionStore::repairMovedCopies()
{
    bool repaired = false;
    for (ShelfSession& session : m_state.sessions) {
        for (ShelfItem& item : session.items) {
            if (!item.payload.isFileURLs())
                continue;
            QStringList paths = item.payload.fileURLsValue();
            QStringList names;
            for (const QString& path : std::as_const(paths))
                names.append(lastComponent(Text::trimmed(path)));
            bool changed = false;
            for (QString& path : paths) {
                const QString trimmed = Text::trimmed(path);
                if (trimmed.isEmpty())
                    continue;
                if (!QFileInfo::exists(trimmed) && !QFileInfo(trimmed).isSymLink()) {
                    if (const auto relocated = ShelfFileStore::relocatedPath(m_shelfFilesFolder, trimmed)) {
                        path = *relocated;
                        changed = true;
                    }
                    continue;
                }
                // A copy finished just before the program ended, its switch not yet saved: taken
                // as it is rather than made twice. (Two sources of one name are copied again.)
                if (!ShelfFileStore::isPrivateCopy(m_shelfFilesFolder, item.id, trimmed) &&
                    names.count(lastComponent(trimmed)) == 1) {
                    if (const auto copy = ShelfFileStore::finishedCopyPath(m_shelfFilesFolder, item.id, trimmed)) {
                        path = *copy;
                        changed = true;
                    }
                }
            }
            if (changed) {
                item.payload = ShelfPayload::fileURLs(paths);
                repaired = true;
            }
        }
    }
    return repaired;
}

// MARK: - Saving

void ShelfSessionStore::save(const State& state)
{
    m_writer->write([sessions = state.sessions, selected = state.selectedSessionID](QIODevice& device) {
        // Sorted keys: "selectedSessionID", "sessions".
        Json::Writer writer(&device);
        writer.beginObject();
        writer.key("selectedSessionID");
        writer.string(Uuid::text(selected));
        writer.key("sessions");
        writer.beginArray();
        for (const ShelfSession& session : sessions)
            session.encode(writer);
        writer.endArray();
        writer.endObject();
        return writer.flush();
    });
}

void ShelfSessionStore::commit(State next)
{
    m_state = std::move(next);
    save(m_state);
    // Whatever copies had been switched to is in this write.
    m_hasUnsavedCopySwitches = false;
    m_copySaveTimer.stop();
}

// MARK: - Operations

qsizetype ShelfSessionStore::addItems(const QList<ShelfItem>& items, qsizetype maxItemCount)
{
    if (items.isEmpty())
        return 0;
    State next = m_state;
    ShelfSession& session = next.sessions[currentIndex(next)];
    const qsizetype room = std::max<qsizetype>(0, maxItemCount - session.items.size());
    const qsizetype count = std::min(room, items.size());
    if (count == 0)
        return 0;

    QList<ShelfItem> accepted = items.mid(0, count);
    for (ShelfItem& item : accepted) {
        // The file keeps whole seconds; memory keeps what the file will give back.
        item.createdAt = wholeSeconds(item.createdAt);
        // An entry's ID names its folder of copies: two entries must never share one.
        if (item.id.isNull() || containsItem(item.id))
            item.id = QUuid::createUuid();
    }
    // Newest first, so that what was just dropped is in view; a drop keeps its own order.
    session.items = accepted + session.items;
    session.updatedAt = ShelfDates::now();
    commit(std::move(next));
    scheduleCopies(accepted, /*quiet=*/false);
    return count;
}

void ShelfSessionStore::clearSelectedSession()
{
    const ShelfSession& current = currentSession();
    if (current.items.isEmpty())
        return;
    QList<QUuid> removed;
    for (const ShelfItem& item : current.items)
        removed.append(item.id);
    State next = m_state;
    ShelfSession& session = next.sessions[currentIndex(next)];
    session.items.clear();
    session.updatedAt = ShelfDates::now();
    commit(std::move(next));
    discardPrivateCopies(removed);
}

ShelfSession ShelfSessionStore::createSession(const QString& name)
{
    const ShelfSession session = makeSession(normalizedName(name).value_or(nextUntitledName(m_state.sessions)));
    State next = m_state;
    next.sessions.prepend(session);
    next.selectedSessionID = session.id;
    commit(std::move(next));
    return session;
}

bool ShelfSessionStore::removeItem(const QUuid& id)
{
    State next = m_state;
    ShelfSession& session = next.sessions[currentIndex(next)];
    const auto found =
        std::find_if(session.items.begin(), session.items.end(), [&](const ShelfItem& item) { return item.id == id; });
    if (found == session.items.end())
        return false;
    session.items.erase(found);
    session.updatedAt = ShelfDates::now();
    commit(std::move(next));
    discardPrivateCopies({id});
    return true;
}

bool ShelfSessionStore::renameSelectedSession(const QString& name)
{
    const auto normalized = normalizedName(name);
    if (!normalized)
        return false;
    if (currentSession().name == *normalized)
        return true;
    State next = m_state;
    ShelfSession& session = next.sessions[currentIndex(next)];
    session.name = *normalized;
    session.updatedAt = ShelfDates::now();
    commit(std::move(next));
    return true;
}

bool ShelfSessionStore::selectSession(const QUuid& id)
{
    const bool known = std::any_of(m_state.sessions.cbegin(), m_state.sessions.cend(),
                                   [&](const ShelfSession& session) { return session.id == id; });
    if (!known)
        return false;
    if (m_state.selectedSessionID == id)
        return true;
    State next = m_state;
    next.selectedSessionID = id;
    commit(std::move(next));
    return true;
}

bool ShelfSessionStore::containsItem(const QUuid& id) const
{
    for (const ShelfSession& session : m_state.sessions) {
        for (const ShelfItem& item : session.items) {
            if (item.id == id)
                return true;
        }
    }
    return false;
}

// MARK: - Private copies

void ShelfSessionStore::scheduleCopies(const QList<ShelfItem>& items, bool quiet)
{
    for (const ShelfItem& item : items) {
        if (!item.payload.isFileURLs() || m_copyingItemIDs.contains(item.id))
            continue;
        QStringList sources;
        for (const QString& path : item.payload.fileURLsValue()) {
            const QString trimmed = Text::trimmed(path);
            if (trimmed.isEmpty() || sources.contains(trimmed) ||
                ShelfFileStore::isPrivateCopy(m_shelfFilesFolder, item.id, trimmed))
                continue;
            // At start-up, originals that are gone are simply left as they are.
            if (quiet && !QFileInfo::exists(trimmed))
                continue;
            sources.append(trimmed);
        }
        if (sources.isEmpty())
            continue;

        m_copyingItemIDs.insert(item.id);
        if (quiet)
            m_quietCopies.insert(item.id);
        const std::shared_ptr<CopyQueue> queue = m_copies;
        const QPointer<QObject> context(&m_context);
        const QString root = m_shelfFilesFolder;
        const QUuid id = item.id;
        m_copyPool.start([this, queue, context, root, id, sources] {
            CopyJobResult result{id, {}, {}};
            const std::function<bool()> isCancelled = [&queue, &id] { return queue->isCancelled(id); };
            for (const QString& source : sources) {
                if (isCancelled())
                    break;
                const ShelfFileStore::CopyOutcome outcome =
                    ShelfFileStore::makePrivateCopy(root, id, source, isCancelled);
                if (outcome.copyPath)
                    result.copies.append({source, *outcome.copyPath});
                else if (outcome.failure)
                    result.failures.append(*outcome.failure);
            }
            bool post = false;
            {
                QMutexLocker locker(&queue->mutex);
                queue->finished.append(std::move(result));
                post = !queue->drainPosted;
                queue->drainPosted = true;
            }
            // The store outlives its workers (its destructor waits for them); the context guards
            // against a result arriving after the store is gone all the same.
            if (post && context)
                QMetaObject::invokeMethod(
                    context, [this] { drainCopies(/*notify=*/true); }, Qt::QueuedConnection);
        });
    }
}

void ShelfSessionStore::drainCopies(bool notify)
{
    QList<CopyJobResult> results;
    {
        QMutexLocker locker(&m_copies->mutex);
        results.swap(m_copies->finished);
        m_copies->drainPosted = false;
        for (const CopyJobResult& result : std::as_const(results))
            m_copies->cancelledItems.remove(result.itemID);
    }

    bool switched = false;
    QStringList failures;
    for (const CopyJobResult& result : std::as_const(results)) {
        m_copyingItemIDs.remove(result.itemID);
        const bool quiet = m_quietCopies.remove(result.itemID);

        ShelfItem* target = nullptr;
        for (ShelfSession& session : m_state.sessions) {
            for (ShelfItem& item : session.items) {
                if (item.id == result.itemID)
                    target = &item;
            }
        }
        if (!target) {
            // Removed while it was being copied.
            ShelfFileStore::removeItemFolder(m_shelfFilesFolder, result.itemID);
            continue;
        }
        if (!result.copies.isEmpty()) {
            QStringList paths = target->payload.fileURLsValue();
            for (QString& path : paths) {
                const QString trimmed = Text::trimmed(path);
                for (const auto& [original, copy] : result.copies) {
                    if (trimmed == original) {
                        path = copy;
                        switched = true;
                        break;
                    }
                }
            }
            target->payload = ShelfPayload::fileURLs(paths);
        }
        if (!quiet) {
            for (const ShelfFileStore::CopyFailure& failure : result.failures)
                failures.append(ShelfFileStore::failureDescription(failure));
        }
    }

    if (switched) {
        m_hasUnsavedCopySwitches = true;
        if (!m_copySaveTimer.isActive())
            m_copySaveTimer.start();
    }
    if (!failures.isEmpty())
        m_lastCopyFailure = failures.last();
    if (!notify)
        return;
    if (switched && onItemsChanged)
        onItemsChanged();
    if (onCopyFailure) {
        for (const QString& failure : std::as_const(failures))
            onCopyFailure(failure);
    }
}

void ShelfSessionStore::saveCopySwitches()
{
    if (!m_hasUnsavedCopySwitches)
        return;
    // Should the write fail, the file keeps the original paths, which still work.
    save(m_state);
    m_hasUnsavedCopySwitches = false;
}

void ShelfSessionStore::waitForPendingCopies()
{
    m_copyPool.waitForDone();
    QCoreApplication::sendPostedEvents(&m_context, QEvent::MetaCall);
    drainCopies(/*notify=*/true);
    m_copySaveTimer.stop();
    saveCopySwitches();
}

void ShelfSessionStore::discardPrivateCopies(const QList<QUuid>& itemIDs)
{
    {
        QMutexLocker locker(&m_copies->mutex);
        for (const QUuid& id : itemIDs) {
            if (m_copyingItemIDs.contains(id))
                m_copies->cancelledItems.insert(id);
        }
    }
    // Only once the file no longer names them: a crash before that must not leave entries
    // pointing at deleted copies. After a failed write they stay, and the next start removes
    // whatever the file does not name.
    m_writer->whenWritten([this, itemIDs](const std::optional<QString>& error) {
        if (error)
            return;
        for (const QUuid& id : itemIDs) {
            if (!containsItem(id))
                ShelfFileStore::removeItemFolder(m_shelfFilesFolder, id);
        }
    });
}

} // namespace QuillomareMac
