// The list-shaped shelf: a session pill, a tall drop zone, a list of shelf rows and an action
// panel. It is built with the gallery and never shown; the shelf code still writes its rows, its
// drop zone and its panel, and every refresh of the panel refreshes the gallery's detail bar.

#include "Island/IslandView.h"
#include "Shelf/Views/IslandViewShelfState.h"

#include "Island/Kit/IslandActionTileButton.h"
#include "Island/IslandActionTiles.h"
#include "Island/Kit/IslandButtonFactory.h"
#include "Island/Kit/IslandListScrollView.h"
#include "Island/Kit/IslandPaintedWidget.h"
#include "Island/Kit/IslandSelection.h"
#include "Island/Kit/IslandTheme.h"
#include "Island/Kit/TruncatingLabel.h"

#include "Shelf/Views/ShelfDropZoneView.h"
#include "Shelf/Views/ShelfGalleryCardView.h"
#include "Shelf/Views/ShelfSessionPillButton.h"

#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QPointer>
#include <QVBoxLayout>

#include <algorithm>

namespace QuillomareMac {

namespace Language = QuillomareCore::Language;

namespace {

void paintActionPanel(QPainter& painter, const QWidget& panel)
{
    IslandTheme::paintRoundedSurface(painter, QRectF(panel.rect()), 18, IslandTheme::panelFill(),
                                     IslandTheme::panelStroke(), 1);
}

QLabel* makePanelLabel(qreal points, QFont::Weight weight, qreal alpha, QWidget* parent)
{
    auto* label =
        new TruncatingLabel(Qt::ElideRight, IslandTheme::systemFont(points, weight), IslandTheme::white(alpha), parent);
    label->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    return label;
}

} // namespace

void IslandView::setupShelfContainer()
{
    QPointer<IslandView> weak(this);
    const auto call = [weak](void (IslandView::*handler)()) {
        return [weak, handler] {
            if (weak)
                (weak.data()->*handler)();
        };
    };

    m_shelfContainer = new QWidget(m_contentDeck);
    m_shelfContainer->setObjectName(QStringLiteral("shelfContainer"));
    m_shelfContainer->setAttribute(Qt::WA_TranslucentBackground);
    auto* column = new QVBoxLayout(m_shelfContainer);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(12);

    // Session bar.
    m_shelfSessionBar = new QWidget(m_shelfContainer);
    m_shelfSessionBar->setObjectName(QStringLiteral("shelfSessionBar"));
    m_shelfSessionBar->setFixedHeight(42);
    auto* sessionRow = new QHBoxLayout(m_shelfSessionBar);
    sessionRow->setContentsMargins(0, 0, 0, 0);
    sessionRow->setSpacing(7);
    m_shelfSessionButton = new ShelfSessionPillButton(m_shelfSessionBar);
    m_shelfSessionButton->setObjectName(QStringLiteral("shelfSessionButton"));
    m_shelfSessionButton->setMinimumWidth(220);
    m_shelfSessionButton->setFixedHeight(32);
    m_shelfSessionButton->onPress = call(&IslandView::shelfSessionMenuTapped);
    sessionRow->addWidget(m_shelfSessionButton, 0, Qt::AlignVCenter);
    sessionRow->addStretch(1);
    m_shelfSessionNewButton = IslandButtonFactory::makeShelfActionButton(
        QStringLiteral("plus"), Language::text(QStringLiteral("新建暂存会话"), QStringLiteral("New session")), this,
        call(&IslandView::createShelfSessionTapped), m_shelfSessionBar);
    m_shelfSessionRenameButton = IslandButtonFactory::makeShelfActionButton(
        QStringLiteral("pencil"), Language::text(QStringLiteral("重命名暂存会话"), QStringLiteral("Rename session")),
        this, call(&IslandView::renameShelfSessionTapped), m_shelfSessionBar);
    sessionRow->addWidget(m_shelfSessionNewButton, 0, Qt::AlignVCenter);
    sessionRow->addWidget(m_shelfSessionRenameButton, 0, Qt::AlignVCenter);
    column->addWidget(m_shelfSessionBar);

    // Drop zone.
    m_shelfDropZone = new ShelfDropZoneView(m_shelfContainer);
    m_shelfDropZone->setObjectName(QStringLiteral("shelfDropZone"));
    m_shelfDropZone->setFixedHeight(116);
    column->addWidget(m_shelfDropZone);

    // Body: the list and the action panel. The widths are asked for, not required: the variant
    // is never shown, and a hidden widget takes no room in the deck.
    m_shelfBodyStack = new QWidget(m_shelfContainer);
    m_shelfBodyStack->setObjectName(QStringLiteral("shelfBodyStack"));
    auto* body = new QHBoxLayout(m_shelfBodyStack);
    body->setContentsMargins(0, 0, 0, 0);
    body->setSpacing(12);
    m_shelfScrollView = new IslandListScrollView(m_shelfBodyStack);
    m_shelfScrollView->setObjectName(QStringLiteral("shelfScrollView"));
    m_shelfScrollView->setFrameShape(QFrame::NoFrame);
    m_shelfScrollView->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    m_shelfScrollView->setOverlayScroller(Qt::Vertical);
    m_shelfScrollView->setWidgetResizable(true);
    auto* document = new FlippedDocumentView();
    document->setObjectName(QStringLiteral("shelfDocumentView"));
    m_shelfDocumentView = document;
    auto* documentLayout = new QVBoxLayout(document);
    documentLayout->setContentsMargins(0, 0, 0, 0);
    m_shelfListStack = new QWidget(document);
    m_shelfListStack->setObjectName(QStringLiteral("shelfListStack"));
    auto* rows = new QVBoxLayout(m_shelfListStack);
    rows->setContentsMargins(0, 0, 0, 0);
    rows->setSpacing(7);
    rows->setAlignment(Qt::AlignTop);
    documentLayout->addWidget(m_shelfListStack);
    documentLayout->addStretch(1);
    m_shelfScrollView->setWidget(document);
    body->addWidget(m_shelfScrollView, 1);

    auto* panel = new IslandPaintedWidget(paintActionPanel, m_shelfBodyStack);
    panel->setObjectName(QStringLiteral("shelfActionPanel"));
    panel->setFixedWidth(360);
    m_shelfActionPanel = panel;
    auto* panelColumn = new QVBoxLayout(panel);
    panelColumn->setContentsMargins(18, 18, 18, 18);
    panelColumn->setSpacing(12);
    m_shelfActionTitle = makePanelLabel(15.2, QFont::DemiBold, 0.86, panel);
    m_shelfActionTitle->setObjectName(QStringLiteral("shelfActionTitle"));
    m_shelfActionSubtitle = makePanelLabel(11.2, QFont::Normal, 0.42, panel);
    m_shelfActionSubtitle->setObjectName(QStringLiteral("shelfActionSubtitle"));
    panelColumn->addWidget(m_shelfActionTitle);
    panelColumn->addWidget(m_shelfActionSubtitle);

    // Three rows: looking, handing on, tidying up.
    using IslandActionTiles::Entry;
    static const Entry tileRows[3][3] = {
        {{"shelfPreviewButton", "预览", "Preview", "eye", "预览", "Preview", &IslandView::shelfPreviewTapped,
          &IslandView::m_shelfPreviewButton, ""},
         {"shelfCopyButton", "复制", "Copy", "doc.on.doc", "复制", "Copy", &IslandView::shelfCopyTapped,
          &IslandView::m_shelfCopyButton, ""},
         {"shelfAirDropButton", "发送", "Send", "antenna.radiowaves.left.and.right", "通过 KDE Connect 发送",
          "Send via KDE Connect",
          &IslandView::shelfAirDropTapped, &IslandView::m_shelfAirDropButton, ""}},
        {{"shelfRevealButton", "打开", "Open", "folder", "在文件管理器中显示",
          "Show in file manager", &IslandView::shelfRevealTapped, &IslandView::m_shelfRevealButton, ""},
         {"shelfCombineButton", "组合", "Combine", "text.append", "组合复制", "Combine and copy",
          &IslandView::shelfCombineTapped, &IslandView::m_shelfCombineButton, ""},
         {"shelfBatchButton", "更多", "More", "ellipsis.circle", "批量动作", "Batch actions",
          &IslandView::shelfBatchTapped, &IslandView::m_shelfBatchButton, ""}},
        {{"shelfRemoveButton", "移除", "Remove", "minus.circle", "移除", "Remove", &IslandView::shelfRemoveTapped,
          &IslandView::m_shelfRemoveButton, ""},
         {"shelfClearButton", "清空", "Clear", "trash", "清空暂存架", "Clear shelf", &IslandView::shelfClearTapped,
          &IslandView::m_shelfClearButton, ""},
         {nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr}},
    };
    for (const auto& tileRow : tileRows) {
        auto* row = new QWidget(panel);
        auto* rowLayout = new QHBoxLayout(row);
        rowLayout->setContentsMargins(0, 0, 0, 0);
        rowLayout->setSpacing(7);
        IslandActionTiles::fillRow(this, tileRow, rowLayout, 1, [&](const Entry& entry) {
            return IslandActionTiles::makePanelTile(this, entry, row);
        });
        panelColumn->addWidget(row);
    }
    panelColumn->addStretch(1);
    body->addWidget(panel);
    column->addWidget(m_shelfBodyStack, 1);

    // Never shown: no mode switch, key or click makes it visible.
    m_shelfContainer->setVisible(false);
    setAlphaValue(m_shelfContainer, 0);
    static_cast<QGridLayout*>(m_contentDeck->layout())->addWidget(m_shelfContainer, 0, 0);

    updateShelfDropZone(std::nullopt);
    updateShelfActionPanel();
    updateContentDeckMetrics(m_expandedHeightConstraint.value_or(332));
}

void IslandView::updateShelfActionPanel()
{
    if (!m_shelfActionPanel) {
        updateShelfGalleryDetail();
        return;
    }
    const QList<IslandActionTileButton*> tiles = shelfActionTiles();
    const QString idleTitle = Language::text(QStringLiteral("暂存架"), QStringLiteral("Shelf"));
    const QString idleSubtitle =
        Language::text(QStringLiteral("选择一项后操作"), QStringLiteral("Select an item to act"));
    if (m_shelf->items.isEmpty()) {
        m_shelfActionPanel->setVisible(false);
        m_shelfActionTitle->setText(idleTitle);
        m_shelfActionSubtitle->setText(idleSubtitle);
        IslandActionTiles::setTilesEnabled(tiles, false);
        updateShelfGalleryDetail();
        return;
    }

    // The panel lives in a container that is never shown; its own flag says what it would show.
    m_shelfActionPanel->setVisible(true);
    const QList<ShelfItem> actionItems = selectedShelfItemsForActions(false);
    const std::optional<ShelfItem> focus = IslandSelection::detailFocus(actionItems, selectedShelfItem());

    if (m_selectedShelfItemIDs.size() >= 2) {
        const qsizetype count = m_selectedShelfItemIDs.size();
        m_shelfActionTitle->setText(
            Language::text(QStringLiteral("已选 %1 项").arg(count), QStringLiteral("%1 selected").arg(count)));
        m_shelfActionSubtitle->setText(
            Language::text(QStringLiteral("可组合复制或批量处理"), QStringLiteral("Combine or batch process")));
    } else if (focus) {
        m_shelfActionTitle->setText(ShelfGalleryCardView::displayTitle(*focus));
        m_shelfActionSubtitle->setText(focus->isSensitive ? QString() : focus->subtitle);
    } else {
        m_shelfActionTitle->setText(idleTitle);
        m_shelfActionSubtitle->setText(idleSubtitle);
    }

    const bool hasFocus = focus.has_value();
    const bool anyForActions = !selectedShelfItemsForActions(true).isEmpty();
    using IslandActionTiles::setTileEnabled;
    setTileEnabled(m_shelfPreviewButton, hasFocus && actionItems.size() <= 1);
    setTileEnabled(m_shelfCopyButton, hasFocus);
    if (m_shelfCopyButton)
        m_shelfCopyButton->updateAppearance();
    setTileEnabled(m_shelfAirDropButton, std::any_of(actionItems.cbegin(), actionItems.cend(), canShareShelfItem));
    setTileEnabled(m_shelfRevealButton, std::any_of(actionItems.cbegin(), actionItems.cend(), canRevealShelfItem));
    setTileEnabled(m_shelfRemoveButton, hasFocus);
    setTileEnabled(m_shelfClearButton, true);
    setTileEnabled(m_shelfCombineButton, anyForActions);
    setTileEnabled(m_shelfBatchButton, anyForActions);
    updateShelfGalleryDetail();
}

QList<IslandActionTileButton*> IslandView::shelfActionTiles() const
{
    return {m_shelfPreviewButton, m_shelfCopyButton,  m_shelfAirDropButton, m_shelfRevealButton,
            m_shelfRemoveButton,  m_shelfClearButton, m_shelfCombineButton, m_shelfBatchButton};
}

} // namespace QuillomareMac
