// Cloud sync as the delegate drives it: which service, one pass at a time (pull, merge, push),
// the background timer, deletions, and what the island is told.

#include "AppDelegate.h"

#include "Pasteboard/ClipboardMonitor.h"
#include "Shell/CloudKitEntitlementChecker.h"
#include "Sync/CloudKitSyncService.h"

#include <Platform/Entitlements.h>
#include <QuillomareCore/Language.h>

#include <QtConcurrent>

namespace QuillomareMac {

using namespace QuillomareCore;

struct AppDelegate::MergeOutcome
{
    QList<ClipboardItem> exportableItems;
    QList<ClipboardDeletionTombstone> tombstones;
    qsizetype merged = 0;
    qsizetype deleted = 0;
    std::optional<QString> error;
};

namespace {

QString syncIsOff()
{
    return Language::text(QStringLiteral("文件夹同步已关闭"), QStringLiteral("Folder sync is off"));
}

// Runs `work` on the thread pool and hands its result to `report` on the delegate's thread, always
// from the event loop and only while the delegate lives. (QFuture::then with a context calls
// straight into the caller when the work has already finished as it is attached: a whole pass
// could then end inside the call that started it, before that call had said it was starting.)
template <typename Work, typename Report>
void runThenReport(const QPointer<AppDelegate>& self, Work work, Report report)
{
    QThreadPool::globalInstance()->start([self, work, report] {
        const auto result = work();
        QMetaObject::invokeMethod(
            self.data(),
            [self, report, result] {
                if (self)
                    report(result);
            },
            Qt::QueuedConnection);
    });
}

} // namespace

std::shared_ptr<CloudSyncing> AppDelegate::makeCloudSyncService() const
{
    const ClipSettings& settings = m_store->settings();
    if (m_environment.makeSyncService)
        return m_environment.makeSyncService(settings);
    if (!settings.cloudSyncEnabled)
        return std::make_shared<LocalOnlyCloudSyncService>(syncIsOff());
    const QString container = settings.resolvedCloudContainerIdentifier();
    if (const auto reason = CloudKitEntitlementChecker::unavailableReason(
            container,
            CloudKitEntitlementChecker::entitlementStrings(Platform::Entitlements::iCloudContainerIdentifiersKey),
            CloudKitEntitlementChecker::entitlementStrings(Platform::Entitlements::iCloudServicesKey)))
        return std::make_shared<LocalOnlyCloudSyncService>(*reason);
    return std::make_shared<CloudKitSyncService>(container, settings.syncRichContentToICloud);
}

CloudSyncing& AppDelegate::cloudSync()
{
    if (!m_cloudSync) {
        store();
        m_cloudSync = makeCloudSyncService();
    }
    return *m_cloudSync;
}

bool AppDelegate::shouldRunBackgroundCloudSync() const
{
    // Sync on and a service that can reach the records: the local-only one never can.
    return m_store && m_store->settings().cloudSyncEnabled && m_cloudSync &&
           m_cloudSync->state().caseOf() != CloudSyncState::Case::unavailable;
}

void AppDelegate::rebuildCloudSync()
{
    m_cloudSync.reset();
    cloudSync();
    configureBackgroundCloudSync();
}

void AppDelegate::configureBackgroundCloudSync()
{
    m_backgroundSyncTimer.stop();
    cloudSync();
    if (!shouldRunBackgroundCloudSync())
        return;
    // The tolerance lets the system bundle wake-ups; a coarse timer does the same here.
    m_backgroundSyncTimer.setTimerType(Qt::VeryCoarseTimer);
    m_backgroundSyncTimer.start();
}

void AppDelegate::runBackgroundCloudSyncTimer()
{
    if (!store().settings().cloudSyncEnabled || m_isCloudSyncInFlight)
        return;
    m_isCloudSyncInFlight = true;
    cloudSync();
    runSyncPass(m_cloudSync, false);
}

void AppDelegate::performCloudSync(const std::optional<QString>& reason, bool showWhenFinished)
{
    if (!store().settings().cloudSyncEnabled)
        return;
    auto announce = [&] {
        if (!reason)
            return;
        report(*reason, CloudSyncState::syncing());
        showIsland();
    };
    if (m_isCloudSyncInFlight) {
        announce();
        return;
    }
    m_isCloudSyncInFlight = true;
    cloudSync();
    announce();
    runSyncPass(m_cloudSync, showWhenFinished);
}

void AppDelegate::runSyncPass(std::shared_ptr<CloudSyncing> service, bool showWhenFinished)
{
    // The service keeps the one it started with even if settings replace it meanwhile.
    QPointer<AppDelegate> self(this);
    runThenReport(
        self, [service] { return service->pull(cloudPullLimit); },
        [self, service, showWhenFinished](const CloudSyncPullResult& pulled) {
            MergeOutcome outcome = self->mergePulled(pulled);
            auto push = [self, service, pulled, showWhenFinished](const MergeOutcome& merged) {
                runThenReport(
                    self,
                    [service, merged] {
                        const CloudSyncState tombstones = service->pushDeletionTombstones(merged.tombstones);
                        const CloudSyncState items = service->push(merged.exportableItems);
                        return std::make_pair(tombstones, items);
                    },
                    [self, merged, pulled, showWhenFinished](const std::pair<CloudSyncState, CloudSyncState>& pushed) {
                        self->reportSyncPass(merged, pulled, pushed.first, pushed.second, showWhenFinished);
                    });
            };
            // What was merged counts once it is on disk, as a capture does; a pass that
            // changed nothing waits for no write (nor reports an older one).
            if (outcome.error || (outcome.merged == 0 && outcome.deleted == 0)) {
                push(outcome);
                return;
            }
            self->store().whenSaved([self, outcome, push](const std::optional<QString>& error) mutable {
                if (!self)
                    return;
                if (error)
                    outcome.error = *error;
                push(outcome);
            });
        });
}

AppDelegate::MergeOutcome AppDelegate::mergePulled(const CloudSyncPullResult& pulled)
{
    MergeOutcome outcome;
    qsizetype refused = 0;
    try {
        outcome.deleted = store().mergeDeletionTombstones(pulled.deletionTombstones);
        outcome.merged = store().merge(pulled.items, &refused);
    } catch (const Error& error) {
        outcome.error = error.localizedDescription();
    }
    // The pass's message has no place for them; whoever looks into a sync that keeps less than
    // the folder holds finds them here.
    if (const qsizetype rejected = pulled.rejectedCount + refused; rejected > 0)
        qWarning("Cloud sync: rejected %lld record(s) from the record folder (damaged, oversized, or not what "
                 "they claim to be)",
                 static_cast<long long>(rejected));
    outcome.exportableItems = store().cloudExportableItems();
    outcome.tombstones = store().deletionTombstones();
    return outcome;
}

void AppDelegate::reportSyncPass(const MergeOutcome& outcome, const CloudSyncPullResult& pulled,
                                 const CloudSyncState& tombstonesPushed, const CloudSyncState& itemsPushed,
                                 bool showWhenFinished)
{
    m_isCloudSyncInFlight = false;
    // Records past the pull's limit come with the next pass, started soon rather than at the
    // next capture or tick, so that a peer's backlog arrives whole in a few passes.
    if (pulled.pendingCount > 0)
        m_pendingRecordsSyncTimer.start();
    if (outcome.error) {
        report(Language::text(QStringLiteral("合并同步文件夹历史失败："),
                              QStringLiteral("Failed to merge sync folder history: ")) +
                   *outcome.error,
               CloudSyncState::failed(*outcome.error));
        refreshStatusMenu();
        if (showWhenFinished)
            showIsland();
        return;
    }
    const CloudSyncState resolved = resolvedSyncState({pulled.state, tombstonesPushed, itemsPushed});
    report(syncOutcomeMessage(resolved, outcome.merged, outcome.deleted), resolved);
    refreshStatusMenu();
    if (outcome.deleted > 0 || showWhenFinished || outcome.merged > 0)
        showIsland();
}

CloudSyncState AppDelegate::resolvedSyncState(const QList<CloudSyncState>& states)
{
    using Case = CloudSyncState::Case;
    for (const Case wanted : {Case::failed, Case::unavailable, Case::disabled, Case::syncing}) {
        for (const CloudSyncState& state : states) {
            if (state.caseOf() == wanted)
                return state;
        }
    }
    return CloudSyncState::idle();
}

QString AppDelegate::syncOutcomeMessage(const CloudSyncState& resolved, qsizetype merged, qsizetype deleted)
{
    switch (resolved.caseOf()) {
    case CloudSyncState::Case::unavailable:
        return Language::text(QStringLiteral("同步文件夹不可用："), QStringLiteral("Sync folder unavailable: ")) +
               resolved.text();
    case CloudSyncState::Case::failed:
        return Language::text(QStringLiteral("文件夹同步失败："), QStringLiteral("Folder sync failed: ")) +
               resolved.text();
    case CloudSyncState::Case::disabled:
        return syncIsOff();
    case CloudSyncState::Case::idle:
    case CloudSyncState::Case::syncing:
        break;
    }
    const QString n = QString::number(merged);
    const QString d = QString::number(deleted);
    if (merged == 0 && deleted == 0)
        return Language::text(QStringLiteral("同步文件夹历史已同步"),
                              QStringLiteral("Sync folder history is up to date"));
    if (deleted == 0)
        return Language::text(QStringLiteral("已从同步文件夹合并 %1 条历史").arg(n),
                              QStringLiteral("Merged %1 from the sync folder").arg(Language::englishItems(merged)));
    if (merged == 0)
        return Language::text(QStringLiteral("已同步删除 %1 条历史").arg(d),
                              QStringLiteral("Synced deletion of %1").arg(Language::englishItems(deleted)));
    return Language::text(QStringLiteral("已同步 %1 条历史并删除 %2 条").arg(n, d),
                          QStringLiteral("Synced %1 and deleted %2").arg(Language::englishItems(merged), d));
}

void AppDelegate::deleteFromCloud(const QList<ClipboardItem>& items, const std::optional<QString>& reason)
{
    if (!store().settings().cloudSyncEnabled)
        return;
    QList<ClipboardItem> exportable;
    for (const ClipboardItem& item : items) {
        if (item.isCloudExportable(store().settings()))
            exportable.append(item);
    }
    if (exportable.isEmpty())
        return;
    cloudSync();
    QPointer<AppDelegate> self(this);
    runThenReport(
        self, [service = m_cloudSync, exportable] { return service->deleteItems(exportable); },
        [self, reason](const CloudSyncState& state) {
            QString message;
            switch (state.caseOf()) {
            case CloudSyncState::Case::unavailable:
                message =
                    Language::text(QStringLiteral("同步文件夹不可用："), QStringLiteral("Sync folder unavailable: ")) +
                    state.text();
                break;
            case CloudSyncState::Case::failed:
                message = Language::text(QStringLiteral("同步文件夹删除失败："),
                                         QStringLiteral("Sync folder delete failed: ")) +
                          state.text();
                break;
            case CloudSyncState::Case::disabled:
                message = syncIsOff();
                break;
            case CloudSyncState::Case::idle:
            case CloudSyncState::Case::syncing:
                message = reason.value_or(Language::text(QStringLiteral("已从同步文件夹删除"),
                                                         QStringLiteral("Deleted from the sync folder")));
                break;
            }
            self->report(message, state);
            self->refreshStatusMenu();
        });
}

} // namespace QuillomareMac
