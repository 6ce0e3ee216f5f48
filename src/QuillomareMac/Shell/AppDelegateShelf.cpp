// The delegate's answers to the shelf: adding what was dropped, pasted or copied, the sessions,
// the single-entry actions and the batch actions. Every change of the store is shown in the
// island once it is on disk, or its failed write is.

#include "AppDelegate.h"

#include "Pasteboard/ClipboardMonitor.h"
#include "Pasteboard/ClipboardSharingService.h"
#include "Pasteboard/MacFileContent.h"
#include "Shelf/ShelfBatchActions.h"
#include "Shelf/ShelfPasteboard.h"
#include "Shelf/ShelfSessionStore.h"

#include <Platform/Pasteboard.h>
#include <Platform/Workspace.h>
#include <QuillomareCore/Language.h>

#include <QDir>
#include <QFileInfo>
#include <QLoggingCategory>
#include <QPointer>
#include <QTimer>

Q_DECLARE_LOGGING_CATEGORY(lcShell)

namespace QuillomareMac {

using namespace QuillomareCore;

namespace {

QString cannotShowInFileManager()
{
    return Language::text(QStringLiteral("这项内容不能在文件管理器中显示"),
                          QStringLiteral("This item can't be shown in the file manager"));
}

// An entry of files none of which is there any more (its private copies deleted, say): the user
// learns where to look, the folder on lines of its own in the island's toast.
std::optional<QString> filesGoneMessage(const ShelfItem& item)
{
    const QStringList paths = MacFileContent::cleanPaths(item.payload.fileURLsValue());
    if (paths.isEmpty())
        return std::nullopt;
    const QString folder = QDir::cleanPath(QFileInfo(paths.first()).absolutePath());
    if (paths.size() == 1)
        return Language::text(QStringLiteral("这项内容的文件已不在了，它原来在\n") + folder,
                              QStringLiteral("This item's file is no longer there; it was in\n") + folder);
    return Language::text(QStringLiteral("这项内容的文件已不在了，第一个原来在\n") + folder,
                          QStringLiteral("This item's files are no longer there; the first was in\n") + folder);
}

QList<ClipboardItem> clipboardItems(const QList<ShelfItem>& items)
{
    QList<ClipboardItem> entries;
    entries.reserve(items.size());
    for (const ShelfItem& item : items)
        entries.append(item.clipboardItem());
    return entries;
}

} // namespace

void AppDelegate::bindShelfStore()
{
    QPointer<AppDelegate> self(this);
    // Background copies of dropped files finished: the entries now name their private copies.
    m_shelfSessionStore->onItemsChanged = [self] {
        if (self)
            self->updateShelfState(std::nullopt, false);
    };
    m_shelfSessionStore->onCopyFailure = [self](const QString& message) {
        if (self)
            self->updateShelfState(message, false);
    };
}

void AppDelegate::updateShelfState(const std::optional<QString>& message, bool show)
{
    island().configureShelf(shelfSessionStore().sessions(), shelfSessionStore().selectedSessionID(), message);
    if (!show)
        return;
    island().showShelf();
    island().show(/*autoHide=*/false, /*focusSearch=*/false);
}

void AppDelegate::reportShelfAfterSave(const QString& failurePrefix, const std::optional<QString>& message)
{
    QPointer<AppDelegate> self(this);
    shelfSessionStore().whenSaved([self, failurePrefix, message](const std::optional<QString>& error) {
        if (!self)
            return;
        if (error)
            qCWarning(lcShell) << "shelf not saved:" << *error;
        self->updateShelfState(error ? std::optional<QString>(failurePrefix + *error) : message, true);
    });
}

// MARK: - Adding

void AppDelegate::addShelfItems(const Platform::Pasteboard& source)
{
    // A full session refuses before anything is read: reading a large drop costs time for nothing.
    if (shelfSessionStore().currentSession().items.size() >= maxShelfItemsPerSession) {
        updateShelfState(Language::text(QStringLiteral("暂存架已满，请先清理"),
                                        QStringLiteral("Shelf is full — clear some items first")),
                         true);
        return;
    }
    const ShelfReadResult read = ShelfPasteboardReader::items(source, m_detector);
    if (read.items.isEmpty()) {
        updateShelfState(read.message ? *read.message
                                      : Language::text(QStringLiteral("不支持此拖拽内容"),
                                                       QStringLiteral("This dropped content isn't supported")),
                         true);
        return;
    }
    const qsizetype added = shelfSessionStore().addItems(read.items, maxShelfItemsPerSession);
    const QString count = QString::number(added);
    const QString message =
        added == read.items.size()
            ? Language::text(QStringLiteral("已加入暂存架"), QStringLiteral("Added to Shelf"))
            : Language::text(QStringLiteral("暂存架已满，已加入 ") + count + QStringLiteral(" 项"),
                             QStringLiteral("Shelf is full — added ") + Language::englishItems(added));
    reportShelfAfterSave(
        Language::text(QStringLiteral("暂存架保存失败："), QStringLiteral("Failed to save to Shelf: ")), message);
}

// MARK: - Sessions

void AppDelegate::selectShelfSession(const QUuid& id)
{
    if (!shelfSessionStore().selectSession(id)) {
        updateShelfState(std::nullopt, true);
        return;
    }
    reportShelfAfterSave(Language::text(QStringLiteral("切换会话失败："), QStringLiteral("Failed to switch session: ")),
                         std::nullopt);
}

std::optional<QString> AppDelegate::promptShelfSessionName(const QString& title, const QString& defaultValue)
{
    island().hide();
    const std::optional<QString> name = desktop().promptShelfSessionName(title, defaultValue);
    if (!name)
        return std::nullopt;
    return name->trimmed();
}

void AppDelegate::createShelfSession()
{
    const std::optional<QString> name =
        promptShelfSessionName(Language::text(QStringLiteral("新建暂存会话"), QStringLiteral("New Shelf Session")),
                               Language::text(QStringLiteral("新会话"), QStringLiteral("New Session")));
    if (!name) {
        updateShelfState(Language::text(QStringLiteral("已取消新建会话"), QStringLiteral("New session cancelled")),
                         true);
        return;
    }
    // A blank name is the store's to replace with its next untitled one.
    shelfSessionStore().createSession(*name);
    reportShelfAfterSave(Language::text(QStringLiteral("新建会话失败："), QStringLiteral("Failed to create session: ")),
                         Language::text(QStringLiteral("已新建暂存会话"), QStringLiteral("New shelf session created")));
}

void AppDelegate::renameShelfSession()
{
    const std::optional<QString> name =
        promptShelfSessionName(Language::text(QStringLiteral("重命名暂存会话"), QStringLiteral("Rename Shelf Session")),
                               shelfSessionStore().currentSession().name);
    if (!name) {
        updateShelfState(Language::text(QStringLiteral("已取消重命名"), QStringLiteral("Rename cancelled")), true);
        return;
    }
    if (!shelfSessionStore().renameSelectedSession(*name)) {
        updateShelfState(
            Language::text(QStringLiteral("会话名称不能为空"), QStringLiteral("Session name can't be empty")), true);
        return;
    }
    reportShelfAfterSave(Language::text(QStringLiteral("重命名失败："), QStringLiteral("Rename failed: ")),
                         Language::text(QStringLiteral("已重命名暂存会话"), QStringLiteral("Shelf session renamed")));
}

// MARK: - One entry

void AppDelegate::copyShelfItem(const ShelfItem& item)
{
    const bool written = ShelfPasteboardWriter::copy(item, pasteboard());
    if (written)
        markOwnWrite();
    updateShelfState(written ? Language::text(QStringLiteral("暂存架内容已复制"), QStringLiteral("Shelf item copied"))
                             : Language::text(QStringLiteral("这项暂存内容不可复制"),
                                              QStringLiteral("This shelf item can't be copied")),
                     true);
}

void AppDelegate::airDropShelfItem(const ShelfItem& item)
{
    if (ShelfSharingService::airDrop(item)) {
        island().hide();
        return;
    }
    updateShelfState(
        ClipboardSharingService::serviceIsInstalled()
            ? Language::text(QStringLiteral("这项暂存内容无法通过 KDE Connect 发送"),
                             QStringLiteral("This shelf item can't be sent via KDE Connect"))
            : Language::text(QStringLiteral("这项暂存内容无法发送：未安装 KDE Connect；安装 KDE Connect（软件包 "
                                            "kdeconnect）后才能发送到手机"),
                             QStringLiteral("This shelf item can't be sent: KDE Connect is not installed; install "
                                            "KDE Connect (package kdeconnect) to send items to a phone")),
        true);
}

void AppDelegate::revealShelfItem(const ShelfItem& item)
{
    if (ShelfFileActions::revealTarget(item)) {
        island().hide();
        QPointer<AppDelegate> self(this);
        // The files are looked for again when the file manager would come forward: they may be
        // gone by then. When they are there but nothing can show them, the message says where.
        QTimer::singleShot(revealDelayMilliseconds, this, [self, item] {
            if (!self)
                return;
            const std::optional<ShelfRevealTarget> target = ShelfFileActions::revealTarget(item);
            if (!target)
                self->updateShelfState(filesGoneMessage(item).value_or(cannotShowInFileManager()), true);
            else if (!self->showInFileManager(*target))
                self->updateShelfState(noFileManagerMessage(target->urls.first()), true);
        });
        return;
    }
    if (item.payload.isImagePNG() && !item.payload.imagePNGValue().isEmpty() && !item.isSensitive) {
        exportImageAndRevealInFinder(item.clipboardItem(),
                                     [this](const QString& message) { updateShelfState(message, true); });
        return;
    }
    updateShelfState(filesGoneMessage(item).value_or(cannotShowInFileManager()), true);
}

// MARK: - Removing

void AppDelegate::removeShelfItem(const QUuid& id)
{
    const QList<ShelfItem>& items = shelfSessionStore().currentSession().items;
    const auto found =
        std::find_if(items.cbegin(), items.cend(), [&id](const ShelfItem& item) { return item.id == id; });
    const std::optional<ShelfItem> removed = found == items.cend() ? std::nullopt : std::optional<ShelfItem>(*found);
    if (!shelfSessionStore().removeItem(id)) {
        updateShelfState(
            Language::text(QStringLiteral("没有找到这项暂存内容"), QStringLiteral("Couldn't find this shelf item")),
            true);
        return;
    }
    if (removed)
        ClipboardImageExportStore::removeExportedFiles({removed->clipboardItem()});
    reportShelfAfterSave(
        Language::text(QStringLiteral("移除失败："), QStringLiteral("Remove failed: ")),
        Language::text(QStringLiteral("已移除一项暂存内容"), QStringLiteral("Removed one shelf item")));
}

void AppDelegate::clearShelf()
{
    const QList<ShelfItem> items = shelfSessionStore().currentSession().items;
    if (items.isEmpty()) {
        updateShelfState(Language::text(QStringLiteral("暂存架已经是空的"), QStringLiteral("Shelf is already empty")),
                         true);
        return;
    }
    shelfSessionStore().clearSelectedSession();
    ClipboardImageExportStore::removeExportedFiles(clipboardItems(items));
    reportShelfAfterSave(Language::text(QStringLiteral("清空失败："), QStringLiteral("Clear failed: ")),
                         Language::text(QStringLiteral("暂存架已清空"), QStringLiteral("Shelf cleared")));
}

// MARK: - Batch actions

void AppDelegate::performShelfBatchAction(ShelfBatchAction action, const QList<ShelfItem>& items)
{
    QString message;
    try {
        switch (action) {
        case ShelfBatchAction::copyFileNames:
        case ShelfBatchAction::copyFilePaths: {
            const bool names = action == ShelfBatchAction::copyFileNames;
            const bool written = names ? ShelfBatchActions::copyFileNames(items, pasteboard())
                                       : ShelfBatchActions::copyFilePaths(items, pasteboard());
            if (written)
                markOwnWrite();
            if (names)
                message =
                    written
                        ? Language::text(QStringLiteral("已复制所有文件名"), QStringLiteral("Copied all file names"))
                        : Language::text(QStringLiteral("没有可复制的文件名"), QStringLiteral("No file names to copy"));
            else
                message = written
                              ? Language::text(QStringLiteral("已复制所有路径"), QStringLiteral("Copied all paths"))
                              : Language::text(QStringLiteral("没有可复制的路径"), QStringLiteral("No paths to copy"));
            break;
        }
        case ShelfBatchAction::zipFiles:
            workspace().activateFileViewerSelecting({QUrl::fromLocalFile(ShelfBatchActions::zipFiles(items))});
            message = Language::text(QStringLiteral("已压缩为 ZIP"), QStringLiteral("Zipped"));
            break;
        case ShelfBatchAction::convertImagesToPNG:
        case ShelfBatchAction::convertImagesToJPEG:
        case ShelfBatchAction::compressImages: {
            QStringList written;
            if (action == ShelfBatchAction::compressImages) {
                written = ShelfBatchActions::compressImages(items);
                message = Language::text(QStringLiteral("已压缩图片"), QStringLiteral("Images compressed"));
            } else if (action == ShelfBatchAction::convertImagesToPNG) {
                written = ShelfBatchActions::convertImages(items, ShelfBatchActions::ImageFileType::png);
                message = Language::text(QStringLiteral("已转为 PNG"), QStringLiteral("Converted to PNG"));
            } else {
                written = ShelfBatchActions::convertImages(items, ShelfBatchActions::ImageFileType::jpeg);
                message = Language::text(QStringLiteral("已转为 JPG"), QStringLiteral("Converted to JPG"));
            }
            QList<QUrl> urls;
            for (const QString& path : std::as_const(written))
                urls.append(QUrl::fromLocalFile(path));
            if (!urls.isEmpty())
                workspace().activateFileViewerSelecting(urls);
            break;
        }
        }
    } catch (const Error& error) {
        // The shelf's own errors are already worded for the user.
        message = error.localizedDescription();
    }
    updateShelfState(message, true);
}

} // namespace QuillomareMac
