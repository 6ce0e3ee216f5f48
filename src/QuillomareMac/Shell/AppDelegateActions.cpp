// The delegate's answers to the island's copy actions and to delete, pin and clear.

#include "AppDelegate.h"

#include "Pasteboard/ClipboardMonitor.h"
#include "Pasteboard/MacFileContent.h"
#include "Pasteboard/MacPasteboardWriter.h"

#include <Platform/Pasteboard.h>
#include <QuillomareCore/Language.h>
#include <QuillomareCore/StoredImage.h>

namespace QuillomareMac {

using namespace QuillomareCore;

// MARK: - Copy actions

namespace {

// Why a copy of `item` failed when its image is known to be lost (the history file no longer
// holds it): the damage the failed read found. Nothing is read again for it.
std::optional<QString> unreadableImageReason(const ClipboardItem& item)
{
    const auto stored = item.payload.isImagePNG() ? item.payload.storedImageText() : nullptr;
    if (!stored)
        return std::nullopt;
    if (stored->isDamaged())
        return unreadableImageText(stored->damage());
    // Not gone, but not to be had until the file is whole again: why, as the last read found.
    const QString awaited = stored->awaited();
    if (awaited.isEmpty())
        return std::nullopt;
    return unreadableImageText(awaited);
}

} // namespace

void AppDelegate::copyToPasteboard(const ClipboardItem& item)
{
    const bool written = MacPasteboardWriter::copy(item, pasteboard());
    if (written)
        markOwnWrite();
    report(written ? Language::text(QStringLiteral("已复制到剪贴板"), QStringLiteral("Copied to clipboard"))
                   : unreadableImageReason(item).value_or(Language::text(QStringLiteral("这条历史不可复制"),
                                                                         QStringLiteral("This item can't be copied"))));
    showIsland();
}

void AppDelegate::copyPasteVariant(const ClipboardItem& item, PasteVariant variant)
{
    const bool written = PasteTransform::copy(item, variant, pasteboard());
    if (written)
        markOwnWrite();
    report(written ? variant.title()
                   : unreadableImageReason(item).value_or(
                         Language::text(QStringLiteral("这种复制方式不可用于当前内容"),
                                        QStringLiteral("This copy option isn't available for this content"))));
    showIsland();
}

void AppDelegate::copyCombinedItems(const QList<ClipboardItem>& items, CombinedPasteFormat format)
{
    const std::optional<QString> text = PasteTransform::combinedText(items, format);
    const bool written = text && PasteTransform::copyString(*text, pasteboard());
    if (written)
        markOwnWrite();
    const QString count = QString::number(items.size());
    report(written ? Language::text(format.title() + QStringLiteral(" · ") + count + QStringLiteral(" 条"),
                                    format.title() + QStringLiteral(" · ") + Language::englishItems(items.size()))
                   : Language::text(QStringLiteral("选中内容无法组合复制"),
                                    QStringLiteral("The selected items can't be combined")));
    showIsland();
}

QString AppDelegate::condensedText(const QString& text)
{
    QStringList words;
    QString word;
    for (const QChar c : text) {
        // The white-space-and-line-break set: Unicode separators, tabs, line breaks, U+0085.
        if (c.isSpace()) {
            if (!word.isEmpty())
                words.append(std::exchange(word, QString()));
        } else {
            word.append(c);
        }
    }
    if (!word.isEmpty())
        words.append(word);
    return words.join(QLatin1Char(' '));
}

void AppDelegate::copyCondensedText(const ClipboardItem& item)
{
    if (!item.payload.isText()) {
        report(Language::text(QStringLiteral("只有文本可以压缩空白"), QStringLiteral("Only text can be condensed")));
        island().showHistory();
        showIsland();
        return;
    }
    const bool written = MacPasteboardWriter::copyString(condensedText(item.payload.textValue()), pasteboard());
    if (written)
        markOwnWrite();
    report(written ? Language::text(QStringLiteral("已压缩空白并复制"), QStringLiteral("Condensed and copied"))
                   : Language::text(QStringLiteral("复制失败"), QStringLiteral("Copy failed")));
    showIsland();
}

void AppDelegate::copyPlainTextToPasteboard(const ClipboardItem& item)
{
    const std::optional<QString> text = item.plainTextRepresentation();
    const bool written = text && MacPasteboardWriter::copyString(*text, pasteboard());
    if (written)
        markOwnWrite();
    report(written ? Language::text(QStringLiteral("已复制为纯文本"), QStringLiteral("Copied as plain text"))
                   : Language::text(QStringLiteral("这条历史没有可复制文本"),
                                    QStringLiteral("This item has no copyable text")));
    showIsland();
}

void AppDelegate::copyQuickPreviewText(const QString& text)
{
    // The user is working in the preview or the inspector: only the message changes.
    if (text.isEmpty()) {
        report(Language::text(QStringLiteral("没有选中文本"), QStringLiteral("No text selected")));
        return;
    }
    const bool written = MacPasteboardWriter::copyString(text, pasteboard());
    if (written)
        markOwnWrite();
    report(written ? Language::text(QStringLiteral("已复制文本"), QStringLiteral("Text copied"))
                   : Language::text(QStringLiteral("文本复制失败"), QStringLiteral("Failed to copy text")));
}

// MARK: - Delete, pin, clear

void AppDelegate::removeHistoryItem(const ClipboardItem& item)
{
    const QList<ClipboardItem> removed = store().remove(item.id);
    // Nothing leaves the cloud or the exports until the history file no longer holds the entry.
    QPointer<AppDelegate> self(this);
    afterSave(Language::text(QStringLiteral("删除失败："), QStringLiteral("Delete failed: ")), /*showOnFailure=*/true,
              [self, removed] {
                  self->deleteFromCloud(removed, std::nullopt);
                  ClipboardImageExportStore::removeExportedFiles(removed);
                  self->report(Language::text(QStringLiteral("已删除一条历史"), QStringLiteral("Deleted one item")));
                  self->showIsland();
              });
}

void AppDelegate::togglePinnedHistoryItem(const ClipboardItem& item)
{
    const QUuid id = item.id;
    const auto holds = [this, id] {
        const auto& items = store().items();
        return std::find_if(items.cbegin(), items.cend(), [&](const ClipboardItem& entry) { return entry.id == id; });
    };
    const bool known = holds() != store().items().cend();
    store().togglePinned(id);
    QPointer<AppDelegate> self(this);
    auto finish = [self, id, holds] {
        const auto found = holds();
        const bool pinned = found != self->store().items().cend() && found->isPinned;
        self->report(pinned ? Language::text(QStringLiteral("已置顶"), QStringLiteral("Pinned"))
                            : Language::text(QStringLiteral("已取消置顶"), QStringLiteral("Unpinned")));
        self->showIsland();
        // The changed pin travels to the other devices.
        self->performCloudSync(std::nullopt, false);
    };
    // An entry that is gone changes nothing and writes nothing: no earlier write's failure is
    // this action's.
    if (!known) {
        finish();
        return;
    }
    afterSave(Language::text(QStringLiteral("置顶失败："), QStringLiteral("Pin failed: ")), /*showOnFailure=*/true,
              std::move(finish));
}

void AppDelegate::clearHistory()
{
    const qsizetype count = store().items().size();
    if (count == 0) {
        report(Language::text(QStringLiteral("没有可清空历史"), QStringLiteral("No history to clear")));
        showIsland();
        return;
    }
    island().hide();
    if (!desktop().confirmClearHistory(count)) {
        report(Language::text(QStringLiteral("已取消清空历史"), QStringLiteral("Clear history cancelled")));
        showIsland();
        return;
    }
    const QList<ClipboardItem> removed = store().clear();
    QPointer<AppDelegate> self(this);
    // A failure stays in the collapsed island's header: the alert just closed.
    afterSave(Language::text(QStringLiteral("清空失败："), QStringLiteral("Clear failed: ")), /*showOnFailure=*/false,
              [self, removed] {
                  // The sync folder's answer may come at once: it is the last word, after this one.
                  self->report(Language::text(QStringLiteral("历史已清空"), QStringLiteral("History cleared")));
                  ClipboardImageExportStore::removeExportedFiles(removed);
                  self->deleteFromCloud(removed, Language::text(QStringLiteral("已清空同步文件夹中的历史"),
                                                                QStringLiteral("Sync folder history cleared")));
                  self->showIsland();
              });
}

} // namespace QuillomareMac
