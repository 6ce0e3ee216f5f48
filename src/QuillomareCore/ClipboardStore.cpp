#include "ClipboardStore.h"

#include "BackgroundFileWriter.h"
#include "Foundation.h"
#include "StoredImage.h"

#include <QDir>
#include <QStandardPaths>

#include <algorithm>

namespace QuillomareCore {

ClipboardStore::ClipboardStore(QString fileURL, ClipSettings settings)
    : m_settings(std::move(settings)), m_fileURL(std::move(fileURL)),
      m_encodedItems(std::make_shared<QHash<QUuid, EncodedItem>>()),
      m_fileAtPath(makeFileAtPath()), m_writer(std::make_unique<BackgroundFileWriter>(m_fileURL))
{
    m_writer->onWritten = [this](const BackgroundFileWriter::Outcome& outcome) {
        if (outcome.setAsideTo && m_lastLoadFailure)
            m_lastLoadFailure->backupURL = outcome.setAsideTo;
        if (!outcome.error) {
            m_lastLoadFailure.reset();
            if (onSaved)
                onSaved();
        }
    };
    // Before the waiters: what they hand on (the island's list) then holds no image bytes.
    m_writer->beforeWaiters = [this](const BackgroundFileWriter::Outcome& outcome) {
        adoptWrittenImages(outcome.generation, !outcome.error);
    };
    load();
    checkLoadedImages();
}

ClipboardStore::~ClipboardStore()
{
    // Stops between two slices of an image.
    m_imageCheck.reset();
}

void ClipboardStore::checkLoadedImages()
{
    std::vector<std::weak_ptr<const StoredImageText>> images;
    for (const ClipboardItem& item : std::as_const(m_items)) {
        if (const auto stored = item.payload.isImagePNG() ? item.payload.storedImageText() : nullptr;
            stored && !stored->contentHash.isEmpty())
            images.push_back(stored);
    }
    if (images.empty())
        return;
    m_imageCheck = std::make_unique<StoredImageCheck>(std::move(images), [this] {
        if (!m_damageReported.exchange(true))
            QMetaObject::invokeMethod(&m_context, [this] { dropDamagedImages(); }, Qt::QueuedConnection);
    });
}

bool ClipboardStore::hasCheckedLoadedImages() const
{
    return !m_imageCheck || m_imageCheck->isFinished();
}

void ClipboardStore::dropDamagedImages()
{
    m_damageReported = false;
    const bool damaged = std::any_of(m_items.cbegin(), m_items.cend(), [](const ClipboardItem& item) {
        const auto stored = item.payload.isImagePNG() ? item.payload.storedImageText() : nullptr;
        return stored && stored->isDamaged();
    });
    if (damaged)
        saveRemoval();
}

void ClipboardStore::sortIntoHistoryOrder(QList<ClipboardItem>& items)
{
    std::stable_sort(items.begin(), items.end(), [](const ClipboardItem& a, const ClipboardItem& b) {
        if (a.isPinned != b.isPinned)
            return a.isPinned;
        return a.createdAt > b.createdAt;
    });
}

void ClipboardStore::trimToMaxHistoryCount()
{
    const qsizetype limit = m_settings.effectiveMaxHistoryCount();
    if (m_items.size() > limit)
        m_items.resize(limit);
}

ClipboardAddOutcome ClipboardStore::add(ClipboardItem item)
{
    if (const auto failure = item.payloadLimitFailureDescription())
        throw ClipboardStoreError::payloadTooLarge(*failure);

    if (item.isCloudExportable(m_settings))
        m_deletedContentTombstonesByHash.remove(item.contentHash);

    const auto existing = std::find_if(m_items.begin(), m_items.end(), [&](const ClipboardItem& stored) {
        return stored.contentHash == item.contentHash;
    });
    const bool deduplicated = existing != m_items.end();
    if (deduplicated) {
        item.isPinned = existing->isPinned;
        m_items.erase(existing);
    }

    m_items.prepend(std::move(item));
    sortIntoHistoryOrder(m_items);
    trimToMaxHistoryCount();
    save();
    return deduplicated ? ClipboardAddOutcome::deduplicated : ClipboardAddOutcome::inserted;
}

QList<ClipboardItem> ClipboardStore::remove(const QUuid& id)
{
    QList<ClipboardItem> removed;
    for (const ClipboardItem& item : std::as_const(m_items)) {
        if (item.id == id)
            removed.append(item);
    }
    rememberDeletedContentHashes(removed);
    m_items.removeIf([&](const ClipboardItem& item) { return item.id == id; });
    saveRemoval();
    return removed;
}

void ClipboardStore::togglePinned(const QUuid& id)
{
    const auto it = std::find_if(m_items.begin(), m_items.end(), [&](const ClipboardItem& item) { return item.id == id; });
    if (it == m_items.end())
        return;
    it->isPinned = !it->isPinned;
    sortIntoHistoryOrder(m_items);
    save();
}

QList<ClipboardItem> ClipboardStore::clear()
{
    QList<ClipboardItem> removed = m_items;
    rememberDeletedContentHashes(removed);
    m_items.clear();
    saveRemoval();
    return removed;
}

void ClipboardStore::updateSettings(const std::function<void(ClipSettings&)>& change)
{
    change(m_settings);
    const qsizetype count = m_items.size();
    trimToMaxHistoryCount();
    if (m_items.size() < count)
        saveRemoval();
    else
        save();
}

QList<ClipboardItem> ClipboardStore::cloudExportableItems() const
{
    QList<ClipboardItem> exportable;
    for (const ClipboardItem& item : m_items) {
        if (item.isCloudExportable(m_settings))
            exportable.append(item);
    }
    return exportable;
}

QSet<QString> ClipboardStore::deletedContentHashes() const
{
    QSet<QString> hashes;
    hashes.reserve(m_deletedContentTombstonesByHash.size());
    for (auto it = m_deletedContentTombstonesByHash.cbegin(); it != m_deletedContentTombstonesByHash.cend(); ++it)
        hashes.insert(it.key());
    return hashes;
}

QString ClipboardStore::defaultStoreURL()
{
    QString folder = QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation);
    if (folder.isEmpty())
        folder = QDir::tempPath();
    return folder + QStringLiteral("/Quillomare/clips.json");
}

} // namespace QuillomareCore
