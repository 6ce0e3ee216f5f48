// The inspector: the column beside the history list that shows the entry the actions apply to
// (its kind and pin state, a preview of its content, chips, two rows of action tiles and an
// information line). It holds nothing of its own: every refresh rewrites it from the selection.

#include "Island/IslandView.h"

#include "Island/Kit/IslandActionTileButton.h"
#include "Island/IslandActionTiles.h"
#include "Island/Kit/IslandButtonFactory.h"
#include "Island/Kit/IslandIcons.h"
#include "Island/Kit/IslandTheme.h"
#include "Island/Kit/MetadataChipView.h"
#include "Island/Kit/TextCharacterCount.h"
#include "Island/Kit/TruncatingLabel.h"

#include "History/HistoryPreviewPane.h"
#include "History/HistoryTime.h"
#include "Pasteboard/ClipboardSharingService.h"
#include "Pasteboard/MacFileContent.h"

#include <QuillomareCore/Files.h>
#include <QuillomareCore/Foundation.h>
#include <QuillomareCore/Language.h>

#include <QDir>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QPointer>
#include <QVBoxLayout>

namespace QuillomareMac {

namespace Language = QuillomareCore::Language;

using QuillomareCore::ClipboardItem;
using QuillomareCore::ClipboardPayload;
using QuillomareCore::ClipKind;
using QuillomareCore::ClipSourcePlatform;

namespace {

constexpr int kContentInset = 20;

// The panel's rounded surface, behind its content and always as large as the panel.
class InspectorPanelSurface final : public QWidget
{
public:
    explicit InspectorPanelSurface(QWidget* panel) : QWidget(panel)
    {
        setAttribute(Qt::WA_TranslucentBackground);
        setAttribute(Qt::WA_TransparentForMouseEvents);
        panel->installEventFilter(this);
        setGeometry(panel->rect());
        lower();
    }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (watched == parent() && event->type() == QEvent::Resize)
            setGeometry(parentWidget()->rect());
        return false;
    }

    void paintEvent(QPaintEvent*) override
    {
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing);
        IslandTheme::paintRoundedSurface(painter, QRectF(rect()), 8, IslandTheme::panelFill(),
                                         IslandTheme::panelStroke(), 1);
    }
};

QLabel* makeInspectorLabel(const QFont& font, const QColor& color, QWidget* parent)
{
    auto* label = new TruncatingLabel(Qt::ElideRight, font, color, parent);
    label->setAttribute(Qt::WA_TranslucentBackground);
    // One line that gives way rather than widening the panel.
    label->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    return label;
}

QLabel* makeSymbolLabel(const QString& symbol, qreal pointSize, SymbolWeight weight, const QColor& tint, int side,
                        QWidget* parent)
{
    auto* label = new QLabel(parent);
    label->setPixmap(IslandIcons::pixmap(symbol, pointSize, weight, tint, parent->devicePixelRatioF()));
    label->setFixedSize(side, side);
    label->setAlignment(Qt::AlignCenter);
    label->setAttribute(Qt::WA_TranslucentBackground);
    return label;
}

QString platformText(ClipSourcePlatform platform)
{
    switch (platform) {
    case ClipSourcePlatform::mac:
        return Language::text(QStringLiteral("本机"), QStringLiteral("This computer"));
    case ClipSourcePlatform::iphone:
        return Language::text(QStringLiteral("手机"), QStringLiteral("Phone"));
    case ClipSourcePlatform::unknown:
        break;
    }
    return Language::text(QStringLiteral("未知"), QStringLiteral("Unknown"));
}

QString countText(qsizetype count)
{
    return count == 1 ? Language::text(QStringLiteral("1 项"), QStringLiteral("1 item"))
                      : Language::text(QStringLiteral("%1 项").arg(count), QStringLiteral("%1 items").arg(count));
}

QString charsText(const QString& text)
{
    const qsizetype count = cachedGraphemeCount(text);
    return Language::text(QStringLiteral("%1 字符").arg(count), QStringLiteral("%1 chars").arg(count));
}

QWidget* makeInspectorMetaItem(const QString& symbol, const QString& text, QWidget* parent)
{
    auto* item = new QWidget(parent);
    item->setAttribute(Qt::WA_TranslucentBackground);
    auto* row = new QHBoxLayout(item);
    row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(3);
    row->addWidget(makeSymbolLabel(symbol, 9.5, SymbolWeight::regular, IslandTheme::white(0.5), 11, item), 0,
                   Qt::AlignVCenter);
    auto* label =
        new TruncatingLabel(Qt::ElideRight, IslandTheme::systemFont(9, QFont::Medium), IslandTheme::white(0.56), item);
    label->setText(text);
    label->setMinimumWidth(std::min(label->fontMetrics().horizontalAdvance(text), 24));
    row->addWidget(label, 0, Qt::AlignVCenter);
    return item;
}

QWidget* makeInspectorDivider(QWidget* parent)
{
    auto* divider = new QWidget(parent);
    divider->setFixedHeight(1);
    divider->setAttribute(Qt::WA_StyledBackground);
    divider->setStyleSheet(QStringLiteral("background: rgba(255,255,255,%1);").arg(int(0.08 * 255)));
    return divider;
}

QLabel* sectionLabel(const QString& text, QWidget* parent)
{
    QLabel* label = makeInspectorLabel(IslandTheme::systemFont(10, QFont::DemiBold), IslandTheme::white(0.62), parent);
    label->setText(text);
    return label;
}

} // namespace

// MARK: - Building

void IslandView::setupHistoryInspectorPanel()
{
    // The panel draws its own rounded surface behind the stack.
    auto* panel = m_historyInspectorPanel;
    auto* surface = new InspectorPanelSurface(panel);
    surface->setObjectName(QStringLiteral("historyInspectorSurface"));

    auto* stack = new QVBoxLayout(panel);
    stack->setContentsMargins(8, 5, 8, 5);
    stack->setSpacing(0);
    const int inset = kContentInset - 16; // the panel's margins already give 16 of the 20 points

    // Header.
    auto* header = new QWidget(panel);
    header->setAttribute(Qt::WA_TranslucentBackground);
    auto* headerRow = new QHBoxLayout(header);
    headerRow->setContentsMargins(inset / 2, 0, inset / 2, 0);
    headerRow->setSpacing(6);
    QLabel* symbol = makeSymbolLabel(QStringLiteral("list.bullet"), 11, SymbolWeight::semibold,
                                     IslandTheme::white(0.72), 14, header);
    symbol->setAccessibleDescription(QStringLiteral("详情"));
    headerRow->addWidget(symbol, 0, Qt::AlignVCenter);
    m_historyInspectorTitle =
        makeInspectorLabel(IslandTheme::systemFont(11.5, QFont::DemiBold), IslandTheme::white(0.88), header);
    m_historyInspectorTitle->setObjectName(QStringLiteral("historyInspectorTitle"));
    headerRow->addWidget(m_historyInspectorTitle, 1, Qt::AlignVCenter);
    m_historyInspectorPinnedStatus = makeInspectorLabel(IslandTheme::systemFont(9.5, QFont::DemiBold),
                                                        IslandTheme::withAlpha(IslandTheme::pinYellow(), 0.94), header);
    m_historyInspectorPinnedStatus->setObjectName(QStringLiteral("historyInspectorPinnedStatus"));
    m_historyInspectorPinnedStatus->setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Preferred);
    headerRow->addWidget(m_historyInspectorPinnedStatus, 0, Qt::AlignVCenter);
    QPointer<IslandView> weak(this);
    auto* hide = IslandButtonFactory::makeIconButton(
        QStringLiteral("xmark"), Language::text(QStringLiteral("隐藏"), QStringLiteral("Hide")), this,
        [weak] {
            if (weak)
                weak->hideTapped();
        },
        header);
    hide->setObjectName(QStringLiteral("historyInspectorHideButton"));
    headerRow->addWidget(hide, 0, Qt::AlignVCenter);
    stack->addWidget(header);
    stack->addSpacing(6);

    // Preview.
    m_historyInspectorPreview = new HistoryInspectorPreviewView(panel);
    m_historyInspectorPreview->setObjectName(QStringLiteral("historyInspectorPreview"));
    m_historyInspectorPreview->setMinimumHeight(74);
    m_historyInspectorPreview->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
    stack->addWidget(m_historyInspectorPreview, 1);
    stack->addSpacing(4);

    // Chips.
    m_historyInspectorChipRow = new QWidget(panel);
    m_historyInspectorChipRow->setObjectName(QStringLiteral("historyInspectorChipRow"));
    m_historyInspectorChipRow->setAttribute(Qt::WA_TranslucentBackground);
    m_historyInspectorChipRow->setFixedHeight(16);
    auto* chips = new QHBoxLayout(m_historyInspectorChipRow);
    chips->setContentsMargins(inset / 2, 0, inset / 2, 0);
    chips->setSpacing(6);
    stack->addWidget(m_historyInspectorChipRow);
    stack->addSpacing(5);

    using IslandActionTiles::Entry;
    using IslandActionTiles::text;
    // Control stands for the Command key of the shortcuts: the keys a user here presses.
    static const Entry copyTiles[] = {
        {"historyOriginalButton", "复制原始", "Original", "doc.on.doc", "复制原始内容 (Ctrl+1)",
         "Copy original (Ctrl+1)", &IslandView::historyOriginalTapped, &IslandView::m_historyOriginalButton},
        {"historyPlainButton", "纯文本", "Plain Text", "doc.plaintext", "复制为纯文本 (Ctrl+2)",
         "Copy as plain text (Ctrl+2)", &IslandView::historyPlainTapped, &IslandView::m_historyPlainButton},
        {"historyMarkdownButton", "Markdown", "Markdown", "text.badge.plus", "复制为 Markdown 链接 (Ctrl+3)",
         "Copy as Markdown link (Ctrl+3)", &IslandView::historyMarkdownTapped, &IslandView::m_historyMarkdownButton},
        {"historyCleanURLButton", "清理链接", "Clean Link", "link.badge.plus", "清理 URL 追踪参数后复制 (Ctrl+4)",
         "Strip tracking params and copy (Ctrl+4)", &IslandView::historyCleanURLTapped,
         &IslandView::m_historyTranslateButton},
        {"historyFileNameButton", "文件名", "File Name", "folder", "复制文件名 (Ctrl+5)", "Copy file name (Ctrl+5)",
         &IslandView::historyFileNameTapped, &IslandView::m_historyFileNameButton},
        {"historyFilePathButton", "文件路径", "File Path", "folder", "复制文件路径 (Ctrl+6)", "Copy file path (Ctrl+6)",
         &IslandView::historyFilePathTapped, &IslandView::m_historyFilePathButton},
    };
    static const Entry smartTiles[] = {
        {"historyOCRButton", "提取文字", "Extract Text", "text.viewfinder", "从图片提取文字 (OCR)",
         "Extract text from image (OCR)", &IslandView::historyOCRTapped, &IslandView::m_historyOCRButton},
        {"historyAirDropButton", "发送", "Send", "antenna.radiowaves.left.and.right",
         "通过 KDE Connect 发送到已配对的设备", "Send via KDE Connect", &IslandView::historyAirDropTapped,
         &IslandView::m_historyAirDropButton},
        {"historyRevealButton", "在文件夹中\n显示", "Show in\nFolder", "folder", "在文件管理器中显示",
         "Show in file manager",
         &IslandView::historyRevealTapped, &IslandView::m_historyRevealButton},
        {"historyQuickPreviewButton", "快速预览", "Quick Preview", "eye", "快速预览 (空格)", "Quick preview (Space)",
         &IslandView::historyQuickPreviewTapped, &IslandView::m_historyQuickPreviewButton},
        {"historyMoreButton", "更多", "More", "ellipsis", "更多操作", "More actions", &IslandView::historyMoreTapped,
         &IslandView::m_historyMoreButton},
    };
    const auto addTileSection = [&](const char* chinese, const char* english, const auto& entries) {
        stack->addWidget(makeInspectorDivider(panel));
        stack->addSpacing(3);
        stack->addWidget(sectionLabel(text(chinese, english), panel));
        stack->addSpacing(4);
        auto* row = new QWidget(panel);
        row->setAttribute(Qt::WA_TranslucentBackground);
        auto* layout = new QHBoxLayout(row);
        layout->setContentsMargins(inset / 2, 0, inset / 2, 0);
        layout->setSpacing(6);
        IslandActionTiles::fillRow(this, entries, layout, 0, [&](const Entry& entry) {
            return IslandActionTiles::makePanelTile(this, entry, row);
        });
        stack->addWidget(row);
        stack->addSpacing(5);
    };
    addTileSection("复制方式", "Copy As", copyTiles);
    addTileSection("智能操作", "Smart Actions", smartTiles);

    stack->addWidget(makeInspectorDivider(panel));
    stack->addSpacing(3);
    stack->addWidget(sectionLabel(text("信息", "Info"), panel));
    stack->addSpacing(4);
    m_historyInspectorInfo =
        makeInspectorLabel(IslandTheme::systemFont(9, QFont::Medium), IslandTheme::white(0.46), panel);
    m_historyInspectorInfo->setObjectName(QStringLiteral("historyInspectorInfo"));
    stack->addWidget(m_historyInspectorInfo);

    m_historyInspectorPreview->onCopyText = [weak](const QString& copied) {
        if (weak)
            weak->copyInspectorDraftText(copied);
    };
    m_historyInspectorPreview->onRequestImagePreview = [weak] {
        if (!weak)
            return;
        const QList<ClipboardItem> items = weak->selectedHistoryItemsForActions();
        if (!items.isEmpty())
            weak->presentQuickPreview(items.first(), true);
    };
    updateHistoryInspector();
}

QList<IslandActionTileButton*> IslandView::historyInspectorTiles() const
{
    return {m_historyOriginalButton, m_historyPlainButton,        m_historyMarkdownButton, m_historyTranslateButton,
            m_historyFileNameButton, m_historyFilePathButton,     m_historyOCRButton,      m_historyAirDropButton,
            m_historyRevealButton,   m_historyQuickPreviewButton, m_historyMoreButton};
}

// MARK: - Refreshing

QStringList IslandView::historyInspectorChips(const ClipboardItem& item)
{
    QStringList chips;
    switch (item.payload.caseOf()) {
    case ClipboardPayload::Case::text:
        chips << charsText(item.payload.textValue()) << QStringLiteral("UTF-8");
        break;
    case ClipboardPayload::Case::fileURLs: {
        const QStringList paths = item.payload.fileURLsValue();
        chips << countText(paths.size());
        for (const QString& path : paths) {
            const QString suffix = QFileInfo(path).suffix();
            if (!suffix.isEmpty()) {
                chips << suffix.toUpper();
                break;
            }
        }
        break;
    }
    case ClipboardPayload::Case::imagePNG:
        chips << ClipboardItem::formattedBytes(item.payload.imagePNGByteCount()) << QStringLiteral("PNG");
        break;
    case ClipboardPayload::Case::empty:
        break;
    }
    chips << (item.kind == ClipKind::text ? Language::text(QStringLiteral("纯文本"), QStringLiteral("Plain Text"))
                                          : Language::localizedDisplayName(item.kind));
    chips.removeAll(QString());
    return chips;
}

void IslandView::refreshHistoryInspectorChips(const QStringList& texts, const std::optional<ClipboardItem>& item)
{
    QLayout* row = m_historyInspectorChipRow->layout();
    while (QLayoutItem* entry = row->takeAt(0)) {
        if (QWidget* widget = entry->widget())
            widget->deleteLater();
        delete entry;
    }
    auto* layout = static_cast<QHBoxLayout*>(row);
    for (const QString& text : texts.mid(0, 3)) {
        auto* chip = new MetadataChipView(text, m_historyInspectorChipRow);
        chip->setFixedHeight(16);
        chip->setMinimumWidth(38);
        chip->setMaximumWidth(92);
        layout->addWidget(chip, 0, Qt::AlignVCenter);
    }
    layout->addStretch(1);
    if (!item)
        return;
    layout->addWidget(makeInspectorMetaItem(item->sourcePlatform == ClipSourcePlatform::iphone
                                                ? QStringLiteral("iphone")
                                                : QStringLiteral("display"),
                                            platformText(item->sourcePlatform), m_historyInspectorChipRow),
                      0, Qt::AlignVCenter);
    layout->addWidget(
        makeInspectorMetaItem(QStringLiteral("clock"), relativeTimeText(item->createdAt), m_historyInspectorChipRow), 0,
        Qt::AlignVCenter);
}

QString IslandView::historySizeText(const ClipboardItem& item)
{
    switch (item.payload.caseOf()) {
    case ClipboardPayload::Case::text:
        return charsText(item.payload.textValue());
    case ClipboardPayload::Case::fileURLs:
        return countText(item.payload.fileURLsValue().size());
    case ClipboardPayload::Case::imagePNG:
        return ClipboardItem::formattedBytes(item.payload.imagePNGByteCount());
    case ClipboardPayload::Case::empty:
        break;
    }
    return QStringLiteral("0");
}

QString IslandView::historyInfoText(const ClipboardItem& item)
{
    const QString separator = QStringLiteral("    ");
    const QString colon = QStringLiteral("：");
    return Language::text(QStringLiteral("来源"), QStringLiteral("Source")) + colon +
           platformText(item.sourcePlatform) + separator +
           Language::text(QStringLiteral("类型"), QStringLiteral("Type")) + colon +
           Language::localizedDisplayName(item.kind) + separator +
           Language::text(QStringLiteral("大小"), QStringLiteral("Size")) + colon + historySizeText(item) + separator +
           Language::text(QStringLiteral("新增"), QStringLiteral("Added")) + colon +
           HistoryTime::shortDateText(item.createdAt);
}

void IslandView::updateHistoryInspector()
{
    if (!m_historyInspectorPreview)
        return;
    const QList<ClipboardItem> subjects = selectedHistoryItemsForActions();
    if (subjects.isEmpty()) {
        m_historyInspectorTitle->setText(Language::text(QStringLiteral("详情"), QStringLiteral("Details")));
        m_historyInspectorPreview->clearCurrentItem();
        m_historyInspectorPreview->hideAllModes();
        m_historyInspectorPreview->configureMessage(
            QStringLiteral("rectangle.dashed"),
            Language::text(QStringLiteral("选择一条历史后查看内容和复制方式"),
                           QStringLiteral("Select an item to see its content and copy options")),
            QString());
        m_historyInspectorPreview->setCurrentMode(HistoryInspectorPreviewView::Mode::empty);
        m_historyInspectorPinnedStatus->clear();
        m_historyInspectorInfo->clear();
        refreshHistoryInspectorChips({}, std::nullopt);
        for (IslandActionTileButton* tile : historyInspectorTiles()) {
            if (tile)
                tile->setEnabled(false);
        }
        return;
    }

    const ClipboardItem& item = subjects.first();
    const QList<PasteVariant> variants = PasteTransform::menuVariants(item);
    m_historyInspectorTitle->setText(Language::localizedDisplayName(item.kind));
    m_historyInspectorPreview->configure(item);
    m_historyInspectorPinnedStatus->setText(
        item.isPinned ? Language::text(QStringLiteral("已置顶"), QStringLiteral("Pinned")) : QString());
    refreshHistoryInspectorChips(historyInspectorChips(item), item);
    m_historyInspectorInfo->setText(historyInfoText(item));

    const auto enable = [](IslandActionTileButton* tile, bool enabled) {
        if (tile)
            tile->setEnabled(enabled);
    };
    enable(m_historyOriginalButton, variants.contains(PasteVariant::original));
    enable(m_historyPlainButton, variants.contains(PasteVariant::plainText));
    enable(m_historyMarkdownButton, variants.contains(PasteVariant::markdownLink));
    enable(m_historyTranslateButton, variants.contains(PasteVariant::cleanedURL));
    enable(m_historyFileNameButton, variants.contains(PasteVariant::fileNames));
    enable(m_historyFilePathButton, variants.contains(PasteVariant::filePaths));
    enable(m_historyOCRButton, MacPreview::hasMacPreviewImagePayload(item));
    enable(m_historyAirDropButton, ClipboardSharingService::canShare(item));
    const bool exportsImage = item.payload.isImagePNG() && item.payload.imagePNGByteCount() > 0 && !item.isSensitive;
    const bool hasRevealTarget = ClipboardFileActions::revealTarget(item).has_value();
    enable(m_historyRevealButton, hasRevealTarget || exportsImage);
    enable(m_historyQuickPreviewButton, true);
    enable(m_historyMoreButton, true);
    if (m_historyRevealButton) {
        // The folder the image really goes to, as the user would type it.
        const QString folder =
            exportsImage ? QuillomareCore::Files::shortPath(ClipboardImageExportStore::exportFolderPath()) : QString();
        m_historyRevealButton->setToolTip(
            !hasRevealTarget && exportsImage
                ? Language::text(
                      QStringLiteral("导出到「%1」并在文件管理器中显示；删除这条历史时文件会一并清理").arg(folder),
                      QStringLiteral("Exports to %1 and shows in the file manager; removed together "
                                     "with the item")
                          .arg(folder))
                : Language::text(QStringLiteral("在文件管理器中显示"), QStringLiteral("Show in file manager")));
    }
}

} // namespace QuillomareMac
