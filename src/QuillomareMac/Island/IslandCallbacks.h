#pragma once

#include "Pasteboard/PasteTransform.h"

#include <QuillomareCore/ClipboardItem.h>
#include <QuillomareCore/Language.h>

#include <QList>
#include <QString>
#include <QUuid>

#include <functional>

class QWidget;

namespace Platform {
class Pasteboard;
}

namespace QuillomareMac {

class ShelfBatchAction;
struct ShelfItem;

// Every action a user takes in the island: the view fires them, its controller relays each
// through the callback of the same name, and the shell's delegate answers them. Each may be unset.
struct IslandCallbacks
{
    std::function<void(const QuillomareCore::ClipboardItem&)> onSelectItem;
    std::function<void(const QuillomareCore::ClipboardItem&, PasteVariant)> onCopyPasteVariantItem;
    std::function<void(const QList<QuillomareCore::ClipboardItem>&, CombinedPasteFormat)> onCombineItems;
    std::function<void(const QuillomareCore::ClipboardItem&)> onRecognizeTextItem;
    std::function<void(const QuillomareCore::ClipboardItem&)> onAirDropItem;
    std::function<void(const QuillomareCore::ClipboardItem&)> onRevealItem;
    std::function<void()> onPullFromIPhone;
    std::function<void(const QuillomareCore::ClipboardItem&)> onCopyPlainTextItem;
    std::function<void(const QString&)> onCopyQuickPreviewText;
    std::function<void(const QuillomareCore::ClipboardItem&)> onDeleteItem;
    std::function<void(const QuillomareCore::ClipboardItem&)> onTogglePinItem;
    std::function<void()> onClear;
    std::function<void()> onHide;
    std::function<void()> onQuit;
    std::function<void(QuillomareCore::AppLanguagePreference)> onChangeLanguage;
    std::function<void(QWidget* anchor)> onShowSettings;
    std::function<void(const QuillomareCore::ClipboardItem&)> onMakeQRCodeItem;
    std::function<void(const QuillomareCore::ClipboardItem&)> onExportItemToFile;
    std::function<void(const QuillomareCore::ClipboardItem&)> onCopyCondensedItem;
    std::function<void(Platform::Pasteboard&)> onShelfDropPasteboard;
    std::function<void(const QUuid& sessionID)> onShelfSessionsChanged;
    std::function<void()> onCreateShelfSession;
    std::function<void()> onRenameShelfSession;
    std::function<void(const ShelfItem&)> onCopyShelfItem;
    std::function<void(const ShelfItem&, PasteVariant)> onCopyShelfPasteVariantItem;
    std::function<void(const QList<ShelfItem>&, CombinedPasteFormat)> onCombineShelfItems;
    std::function<void(const QList<ShelfItem>&, const ShelfBatchAction&)> onBatchShelfItems;
    std::function<void(const ShelfItem&)> onAirDropShelfItem;
    std::function<void(const ShelfItem&)> onRevealShelfItem;
    std::function<void(const QUuid& itemID)> onRemoveShelfItem;
    std::function<void()> onClearShelf;
};

} // namespace QuillomareMac
