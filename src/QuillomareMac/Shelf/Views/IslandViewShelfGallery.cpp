// The shelf gallery: the column the shelf mode shows (session bar, drop zone, card strip, detail
// bar with six tiles, footer), and the texts and states it derives from the shelf state. Nothing
// here is cached: every refresh reads the sessions, the entries and the selection again.

#include "Island/IslandView.h"
#include "Shelf/Views/IslandViewShelfState.h"

#include "Island/Kit/IslandActionTileButton.h"
#include "Island/IslandActionTiles.h"
#include "Island/Kit/IslandButtonFactory.h"
#include "Island/Kit/IslandIcons.h"
#include "Island/Kit/IslandListScrollView.h"
#include "Island/Kit/IslandScheduler.h"
#include "Island/Kit/IslandSelection.h"
#include "Island/Kit/IslandTheme.h"
#include "Island/Kit/IslandWidgetStack.h"
#include "Island/Kit/MetadataChipView.h"
#include "Island/Kit/TruncatingLabel.h"

#include "History/ClipRowView.h"
#include "History/ClipThumbnailView.h"
#include "Pasteboard/ClipboardSharingService.h"
#include "Pasteboard/MacFileContent.h"
#include "Shelf/Views/ShelfDropZoneView.h"
#include "Shelf/Views/ShelfGalleryCardView.h"

#include <QuillomareCore/Foundation.h>
#include <QuillomareCore/Language.h>

#include <QFile>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QMouseEvent>
#include <QPainter>
#include <QPointer>
#include <QScrollBar>
#include <QVBoxLayout>
#include <QWheelEvent>

#include <cstdlib>
#include <functional>
#include <utility>

#include <sys/stat.h>

namespace QuillomareMac {

namespace Language = QuillomareCore::Language;

using QuillomareCore::ClipKind;

namespace {

constexpr qint64 kDropHintMilliseconds = 800;

// A row of the gallery: a rounded surface drawn behind a box layout.
class GallerySurface final : public QWidget
{
public:
    GallerySurface(qreal radius, const QColor& fill, const QColor& stroke, QWidget* parent)
        : QWidget(parent), m_radius(radius), m_fill(fill), m_stroke(stroke)
    {
        setAttribute(Qt::WA_TranslucentBackground);
    }

protected:
    void paintEvent(QPaintEvent*) override
    {
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing);
        IslandTheme::paintRoundedSurface(painter, QRectF(rect()), m_radius, m_fill, m_stroke, 1);
    }

private:
    qreal m_radius;
    QColor m_fill;
    QColor m_stroke;
};

// The session's name and caption: a click opens the session menu, as the list's session pill does.
class SessionSwitch final : public QWidget
{
public:
    using QWidget::QWidget;

    std::function<void()> onPress;

protected:
    void mousePressEvent(QMouseEvent* event) override
    {
        event->accept();
        m_isPressed = event->button() == Qt::LeftButton;
    }

    void mouseReleaseEvent(QMouseEvent* event) override
    {
        event->accept();
        const bool wasPressed = std::exchange(m_isPressed, false);
        if (wasPressed && event->button() == Qt::LeftButton && rect().contains(event->position().toPoint()) &&
            onPress)
            onPress();
    }

private:
    bool m_isPressed = false;
};

// The strip scrolls sideways only: a plain mouse wheel (vertical notches) moves it sideways too,
// as nothing in it could scroll vertically.
class VerticalWheelToHorizontal final : public QObject
{
public:
    VerticalWheelToHorizontal(QScrollBar* bar, QObject* parent) : QObject(parent), m_bar(bar) {}

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (event->type() != QEvent::Wheel || !m_bar)
            return QObject::eventFilter(watched, event);
        auto* wheel = static_cast<QWheelEvent*>(event);
        const QPoint angle = wheel->angleDelta();
        if (std::abs(angle.y()) <= std::abs(angle.x()) || m_bar->maximum() <= m_bar->minimum())
            return QObject::eventFilter(watched, event);
        const QPoint pixels = wheel->pixelDelta();
        const int step = !pixels.isNull() ? pixels.y() : angle.y() * m_bar->singleStep() * 3 / 120;
        m_bar->setValue(m_bar->value() - step);
        wheel->accept();
        return true;
    }

private:
    QPointer<QScrollBar> m_bar;
};

QLabel* makeGalleryLabel(qreal points, QFont::Weight weight, qreal alpha, QWidget* parent)
{
    auto* label =
        new TruncatingLabel(Qt::ElideRight, IslandTheme::systemFont(points, weight), IslandTheme::white(alpha), parent);
    label->setAttribute(Qt::WA_TranslucentBackground);
    label->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    return label;
}

QLabel* makeSymbolImage(const QString& symbol, qreal points, SymbolWeight weight, qreal alpha, int side,
                        const QString& description, QWidget* parent)
{
    auto* label = new QLabel(parent);
    label->setPixmap(
        IslandIcons::pixmap(symbol, points, weight, IslandTheme::white(alpha), parent->devicePixelRatioF()));
    label->setFixedSize(side, side);
    label->setAlignment(Qt::AlignCenter);
    label->setAttribute(Qt::WA_TranslucentBackground);
    label->setAttribute(Qt::WA_TransparentForMouseEvents);
    label->setAccessibleDescription(description);
    return label;
}

QWidget* makeFlexibleSpacer(QWidget* parent)
{
    auto* spacer = new QWidget(parent);
    spacer->setAttribute(Qt::WA_TranslucentBackground);
    spacer->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Preferred);
    spacer->setMinimumWidth(0);
    return spacer;
}

QString countText(qsizetype count)
{
    return Language::text(QStringLiteral("%1 项").arg(count), Language::englishItems(count));
}

} // namespace

bool IslandView::canShareShelfItem(const ShelfItem& item)
{
    switch (item.payload.caseOf()) {
    case ShelfPayload::Case::fileURLs:
        return !MacFileContent::cleanPaths(item.payload.fileURLsValue()).isEmpty();
    case ShelfPayload::Case::url:
        return !QuillomareCore::Text::trimmed(item.payload.urlValue()).isEmpty();
    case ShelfPayload::Case::text:
        return !item.payload.textValue().isEmpty();
    case ShelfPayload::Case::imagePNG:
        return ClipboardSharingService::imageHeaderIsReadable(item.payload.imagePNGValue().left(64));
    }
    return false;
}

bool IslandView::canRevealShelfItem(const ShelfItem& item)
{
    if (item.payload.isImagePNG())
        return !item.payload.imagePNGValue().isEmpty() && !item.isSensitive;
    return !item.revealableFileURLs().isEmpty();
}

namespace {

// The size the file manager gives the item at the path itself: a folder counts its own entry and
// a link the link, as nothing is walked or followed.
qint64 fileItemSize(const QString& path)
{
    if (path.isEmpty())
        return 0;
    struct stat status
    {
    };
    if (::lstat(QFile::encodeName(path).constData(), &status) != 0)
        return 0;
    return qint64(status.st_size);
}

} // namespace

// MARK: - Shelf entries

QString IslandView::shelfPayloadSignature(const ShelfPayload& payload)
{
    switch (payload.caseOf()) {
    case ShelfPayload::Case::fileURLs: {
        const QStringList paths = payload.fileURLsValue();
        return QStringLiteral("files:") + QString::number(paths.size()) + QLatin1Char(':') +
               abbreviatedForSignature(paths.join(QLatin1Char('|')));
    }
    case ShelfPayload::Case::url: {
        const QString url = payload.urlValue();
        return QStringLiteral("url:") + QString::number(QuillomareCore::Text::graphemeCount(url)) + QLatin1Char(':') +
               abbreviatedForSignature(url);
    }
    case ShelfPayload::Case::text: {
        const QString text = payload.textValue();
        return QStringLiteral("text:") + QString::number(QuillomareCore::Text::graphemeCount(text)) + QLatin1Char(':') +
               abbreviatedForSignature(text);
    }
    case ShelfPayload::Case::imagePNG: {
        const QByteArray png = payload.imagePNGValue();
        return QStringLiteral("png:") + QString::number(png.size()) + QLatin1Char(':') +
               QString::fromLatin1(png.left(16).toBase64());
    }
    }
    return QString();
}

QString IslandView::badgeText(const ShelfItem& item)
{
    if (item.isSensitive)
        return Language::text(QStringLiteral("私密"), QStringLiteral("Private"));
    // An entry of no known kind is named after the shelf; several files by their count.
    if (item.kind == ClipKind::unknown)
        return Language::text(QStringLiteral("暂存"), QStringLiteral("Shelf"));
    const qsizetype fileCount =
        item.kind == ClipKind::file && item.payload.isFileURLs() ? item.payload.fileURLsValue().size() : 0;
    if (fileCount > 1)
        return countText(fileCount);
    return Language::localizedDisplayName(item.kind);
}

QStringList IslandView::metadataChips(const ShelfItem& item)
{
    QStringList chips{badgeText(item)};
    // A sensitive entry's subtitle is not trusted to be free of the secret.
    const QString subtitle = item.isSensitive
                                 ? Language::text(QStringLiteral("内容已隐藏"), QStringLiteral("Content hidden"))
                                 : item.subtitle;
    if (!subtitle.isEmpty()) {
        for (const QString& piece : subtitle.split(QChar(0x00B7)))
            chips.append(piece.trimmed());
    }
    chips.append(relativeTimeText(item.createdAt));
    chips.removeAll(QString());
    return chips;
}

QColor IslandView::tintColor(const ShelfItem& item)
{
    return ClipRowView::kindColor(item.kind, item.isSensitive).value_or(IslandTheme::white(0.6));
}

// MARK: - Building

void IslandView::setupShelfGalleryContainer()
{
    QPointer<IslandView> weak(this);

    // 1. The column, in the deck's one cell, 5 points in from either side.
    m_shelfGalleryContainer = new QWidget(m_contentDeck);
    m_shelfGalleryContainer->setObjectName(QStringLiteral("shelfGalleryContainer"));
    m_shelfGalleryContainer->setAttribute(Qt::WA_TranslucentBackground);
    auto* column = new QVBoxLayout(m_shelfGalleryContainer);
    column->setContentsMargins(5, 0, 5, 0);
    column->setSpacing(6);

    // 2. Session bar.
    m_shelfGallerySessionBar = new GallerySurface(12, IslandTheme::shelfSurfaceFill(),
                                                  IslandTheme::shelfSurfaceStroke(), m_shelfGalleryContainer);
    m_shelfGallerySessionBar->setObjectName(QStringLiteral("shelfGallerySessionBar"));
    m_shelfGallerySessionBar->setFixedHeight(33);
    auto* sessionRow = new QHBoxLayout(m_shelfGallerySessionBar);
    sessionRow->setContentsMargins(11, 4, 11, 4);
    sessionRow->setSpacing(8);
    auto* iconChip =
        new GallerySurface(4.5, IslandTheme::white(0.055), QColor(Qt::transparent), m_shelfGallerySessionBar);
    iconChip->setFixedSize(18, 18);
    auto* iconChipLayout = new QHBoxLayout(iconChip);
    iconChipLayout->setContentsMargins(0, 0, 0, 0);
    iconChipLayout->addWidget(
        makeSymbolImage(QStringLiteral("tray.full"), 10.5, SymbolWeight::semibold, 0.76, 13,
                        Language::text(QStringLiteral("当前会话"), QStringLiteral("Current Session")), iconChip),
        0, Qt::AlignCenter);
    sessionRow->addWidget(iconChip, 0, Qt::AlignVCenter);
    auto* sessionSwitch = new SessionSwitch(m_shelfGallerySessionBar);
    sessionSwitch->setObjectName(QStringLiteral("shelfGallerySessionSwitch"));
    sessionSwitch->setAttribute(Qt::WA_TranslucentBackground);
    sessionSwitch->setCursor(Qt::PointingHandCursor);
    sessionSwitch->setToolTip(Language::text(QStringLiteral("切换会话"), QStringLiteral("Switch session")));
    sessionSwitch->onPress = [weak] {
        if (weak)
            weak->shelfSessionMenuTapped();
    };
    m_shelfGallerySessionSwitch = sessionSwitch;
    auto* switchRow = new QHBoxLayout(sessionSwitch);
    switchRow->setContentsMargins(0, 0, 0, 0);
    switchRow->setSpacing(8);
    auto* sessionTexts = new QVBoxLayout;
    sessionTexts->setSpacing(2);
    m_shelfGallerySessionTitle = makeGalleryLabel(9.5, QFont::Medium, 0.5, sessionSwitch);
    m_shelfGallerySessionTitle->setObjectName(QStringLiteral("shelfGallerySessionTitle"));
    m_shelfGallerySessionTitle->setText(Language::text(QStringLiteral("当前会话"), QStringLiteral("Current Session")));
    // The caption is never cut: the column is as wide as the wider of the two lines.
    m_shelfGallerySessionTitle->setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Preferred);
    m_shelfGallerySessionSubtitle = makeGalleryLabel(11, QFont::DemiBold, 0.88, sessionSwitch);
    m_shelfGallerySessionSubtitle->setObjectName(QStringLiteral("shelfGallerySessionSubtitle"));
    // The session line sizes to its text but gives way to the buttons.
    m_shelfGallerySessionSubtitle->setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Preferred);
    sessionTexts->addWidget(m_shelfGallerySessionTitle);
    sessionTexts->addWidget(m_shelfGallerySessionSubtitle);
    switchRow->addLayout(sessionTexts, 0);
    switchRow->addWidget(makeSymbolImage(QStringLiteral("chevron.down"), 7.5, SymbolWeight::semibold, 0.42, 10,
                                         QStringLiteral("切换会话"), sessionSwitch),
                         0, Qt::AlignVCenter);
    sessionRow->addWidget(sessionSwitch, 0, Qt::AlignVCenter);
    sessionRow->addWidget(makeFlexibleSpacer(m_shelfGallerySessionBar), 1);
    const auto makeSessionButton = [&](const char* name, const QString& symbol, const QString& tooltip,
                                       void (IslandView::*handler)()) {
        IslandIconButton* button = IslandButtonFactory::makeIconButton(
            symbol, tooltip, this,
            [weak, handler] {
                if (weak)
                    (weak.data()->*handler)();
            },
            m_shelfGallerySessionBar);
        button->setObjectName(QString::fromLatin1(name));
        sessionRow->addWidget(button, 0, Qt::AlignVCenter);
        return button;
    };
    m_shelfGalleryNewButton =
        makeSessionButton("shelfGalleryNewButton", QStringLiteral("plus"),
                          Language::text(QStringLiteral("新建暂存会话"), QStringLiteral("New session")),
                          &IslandView::createShelfSessionTapped);
    m_shelfGalleryRenameButton =
        makeSessionButton("shelfGalleryRenameButton", QStringLiteral("pencil"),
                          Language::text(QStringLiteral("重命名暂存会话"), QStringLiteral("Rename session")),
                          &IslandView::renameShelfSessionTapped);
    m_shelfGalleryMoreButton =
        makeSessionButton("shelfGalleryMoreButton", QStringLiteral("ellipsis"),
                          Language::text(QStringLiteral("更多暂存架操作"), QStringLiteral("More shelf actions")),
                          &IslandView::shelfGalleryMoreTapped);
    column->addWidget(m_shelfGallerySessionBar);

    // 3. Drop zone.
    m_shelfGalleryDropZone = new ShelfDropZoneView(m_shelfGalleryContainer);
    m_shelfGalleryDropZone->setObjectName(QStringLiteral("shelfGalleryDropZone"));
    m_shelfGalleryDropZone->setFixedHeight(42);
    m_shelfGalleryDropZone->setShowsToggle(true);
    m_shelfGalleryDropZone->toggleContainer()->show();
    m_shelfGalleryDropZone->onToggleNotch = [weak] {
        if (weak)
            weak->flashShelfGalleryDropHint();
    };
    column->addWidget(m_shelfGalleryDropZone);

    // 4. Card strip: scrolls sideways only, its width following the cards.
    m_shelfGalleryFrame = new GallerySurface(9, IslandTheme::shelfGalleryWrapFill(),
                                             IslandTheme::shelfGalleryWrapStroke(), m_shelfGalleryContainer);
    m_shelfGalleryFrame->setObjectName(QStringLiteral("shelfGalleryFrame"));
    m_shelfGalleryFrame->setMinimumHeight(114);
    m_shelfGalleryFrame->setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Expanding);
    auto* frameLayout = new QVBoxLayout(m_shelfGalleryFrame);
    frameLayout->setContentsMargins(10, 9, 10, 9);
    m_shelfGalleryScrollView = new IslandListScrollView(m_shelfGalleryFrame);
    m_shelfGalleryScrollView->setObjectName(QStringLiteral("shelfGalleryScrollView"));
    m_shelfGalleryScrollView->setFrameShape(QFrame::NoFrame);
    m_shelfGalleryScrollView->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    m_shelfGalleryScrollView->setOverlayScroller(Qt::Horizontal);
    m_shelfGalleryScrollView->setWidgetResizable(true);
    m_shelfGalleryScrollView->viewport()->setAutoFillBackground(false);
    m_shelfGalleryScrollView->setStyleSheet(QStringLiteral("background: transparent;"));
    auto* document = new FlippedDocumentView();
    document->setObjectName(QStringLiteral("shelfGalleryDocumentView"));
    document->setAttribute(Qt::WA_TranslucentBackground);
    m_shelfGalleryDocumentView = document;
    auto* documentLayout = new QHBoxLayout(document);
    documentLayout->setContentsMargins(0, 0, 0, 0);
    documentLayout->setSpacing(0);
    m_shelfGalleryStack = new QWidget(document);
    m_shelfGalleryStack->setObjectName(QStringLiteral("shelfGalleryStack"));
    m_shelfGalleryStack->setAttribute(Qt::WA_TranslucentBackground);
    auto* cards = new QHBoxLayout(m_shelfGalleryStack);
    cards->setContentsMargins(0, 0, 0, 0);
    cards->setSpacing(6);
    // Cards pack to the left and take the strip's whole height.
    cards->setAlignment(Qt::AlignLeft);
    documentLayout->addWidget(m_shelfGalleryStack, 0, Qt::AlignLeft);
    documentLayout->addStretch(1);
    m_shelfGalleryScrollView->setWidget(document);
    m_shelfGalleryScrollView->onMouseDownFallback = [weak](QMouseEvent* event) {
        return weak && weak->handleShelfGalleryFallbackMouseDown(event);
    };
    m_shelfGalleryScrollView->onMouseDraggedFallback = [weak](QMouseEvent* event) {
        return weak && weak->handleShelfGalleryFallbackMouseDragged(event);
    };
    m_shelfGalleryScrollView->onMouseUpFallback = [weak](QMouseEvent* event) {
        return weak && weak->handleShelfGalleryFallbackMouseUp(event);
    };
    m_shelfGalleryScrollView->horizontalScrollBar()->setSingleStep(20);
    m_shelfGalleryScrollView->viewport()->installEventFilter(
        new VerticalWheelToHorizontal(m_shelfGalleryScrollView->horizontalScrollBar(), m_shelfGalleryScrollView));
    frameLayout->addWidget(m_shelfGalleryScrollView);
    column->addWidget(m_shelfGalleryFrame, 1);

    // 5. Detail bar.
    m_shelfGalleryDetailBar = new GallerySurface(8, IslandTheme::shelfSurfaceFill(), IslandTheme::shelfSurfaceStroke(),
                                                 m_shelfGalleryContainer);
    m_shelfGalleryDetailBar->setObjectName(QStringLiteral("shelfGalleryDetailBar"));
    m_shelfGalleryDetailBar->setFixedHeight(68);
    auto* detailRow = new QHBoxLayout(m_shelfGalleryDetailBar);
    detailRow->setContentsMargins(11, 7, 11, 7);
    detailRow->setSpacing(12);
    m_shelfGalleryDetailThumbnail = new ClipThumbnailView(m_shelfGalleryDetailBar);
    m_shelfGalleryDetailThumbnail->setObjectName(QStringLiteral("shelfGalleryDetailThumbnail"));
    m_shelfGalleryDetailThumbnail->setFixedSize(90, 48);
    m_shelfGalleryDetailThumbnail->prefersContentPreview = true;
    const auto previewSelected = [weak] {
        if (!weak)
            return;
        if (const std::optional<ShelfItem> item = weak->selectedShelfItem())
            weak->presentQuickPreview(item->clipboardItem(), true);
    };
    m_shelfGalleryDetailThumbnail->onThumbnailClick = previewSelected;
    m_shelfGalleryDetailThumbnail->imageView()->onClick = previewSelected;
    detailRow->addWidget(m_shelfGalleryDetailThumbnail, 0, Qt::AlignVCenter);

    auto* detailTexts = new QWidget(m_shelfGalleryDetailBar);
    detailTexts->setAttribute(Qt::WA_TranslucentBackground);
    detailTexts->setMinimumWidth(126);
    detailTexts->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Preferred);
    auto* textColumn = new QVBoxLayout(detailTexts);
    textColumn->setContentsMargins(0, 0, 0, 0);
    textColumn->setSpacing(3);
    m_shelfGalleryDetailTitle = makeGalleryLabel(11.5, QFont::DemiBold, 0.9, detailTexts);
    m_shelfGalleryDetailTitle->setObjectName(QStringLiteral("shelfGalleryDetailTitle"));
    m_shelfGalleryDetailChipStack = new QWidget(detailTexts);
    m_shelfGalleryDetailChipStack->setObjectName(QStringLiteral("shelfGalleryDetailChipStack"));
    m_shelfGalleryDetailChipStack->setAttribute(Qt::WA_TranslucentBackground);
    auto* chipRow = new QHBoxLayout(m_shelfGalleryDetailChipStack);
    chipRow->setContentsMargins(0, 0, 0, 0);
    chipRow->setSpacing(4);
    chipRow->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    m_shelfGalleryDetailSubtitle = makeGalleryLabel(8.5, QFont::Medium, 0.46, detailTexts);
    m_shelfGalleryDetailSubtitle->setObjectName(QStringLiteral("shelfGalleryDetailSubtitle"));
    m_shelfGalleryDetailDescription = makeGalleryLabel(8.5, QFont::Normal, 0.42, detailTexts);
    m_shelfGalleryDetailDescription->setObjectName(QStringLiteral("shelfGalleryDetailDescription"));
    textColumn->addStretch(1);
    textColumn->addWidget(m_shelfGalleryDetailTitle);
    textColumn->addWidget(m_shelfGalleryDetailChipStack);
    textColumn->addWidget(m_shelfGalleryDetailSubtitle);
    textColumn->addWidget(m_shelfGalleryDetailDescription);
    textColumn->addStretch(1);
    detailRow->addWidget(detailTexts, 1);

    m_shelfGalleryActionsStack = new QWidget(m_shelfGalleryDetailBar);
    m_shelfGalleryActionsStack->setObjectName(QStringLiteral("shelfGalleryActionsStack"));
    m_shelfGalleryActionsStack->setAttribute(Qt::WA_TranslucentBackground);
    m_shelfGalleryActionsStack->setFixedSize(260, 39);
    auto* tileRow = new QHBoxLayout(m_shelfGalleryActionsStack);
    tileRow->setContentsMargins(0, 0, 0, 0);
    tileRow->setSpacing(4);
    static const IslandActionTiles::Entry tiles[] = {
        {"shelfGalleryPreviewButton", "预览", "Preview", "eye", "预览", "Preview", &IslandView::shelfPreviewTapped,
         &IslandView::m_shelfGalleryPreviewButton},
        {"shelfGalleryCopyButton", "复制", "Copy", "doc.on.doc", "复制", "Copy", &IslandView::shelfCopyTapped,
         &IslandView::m_shelfGalleryCopyButton},
        {"shelfGalleryAirDropButton", "发送", "Send", "antenna.radiowaves.left.and.right", "通过 KDE Connect 发送",
         "Send via KDE Connect",
         &IslandView::shelfAirDropTapped, &IslandView::m_shelfGalleryAirDropButton},
        {"shelfGalleryRevealButton", "文件夹", "Folder", "folder", "在文件管理器中显示", "Show in file manager",
         &IslandView::shelfRevealTapped, &IslandView::m_shelfGalleryRevealButton},
        {"shelfGalleryRemoveButton", "移除", "Remove", "minus.circle", "移除", "Remove", &IslandView::shelfRemoveTapped,
         &IslandView::m_shelfGalleryRemoveButton},
        {"shelfGalleryCombineButton", "组合", "Combine", "square.stack.3d.up", "组合复制", "Combine Copy",
         &IslandView::shelfCombineTapped, &IslandView::m_shelfGalleryCombineButton},
    };
    IslandActionTiles::fillRow(this, tiles, tileRow, 0, [this](const IslandActionTiles::Entry& entry) {
        return IslandButtonFactory::makeShelfGalleryActionTile(
            IslandActionTiles::title(entry), QString::fromLatin1(entry.symbol), IslandActionTiles::tooltip(entry), this,
            IslandActionTiles::action(this, entry), m_shelfGalleryActionsStack);
    });
    detailRow->addWidget(m_shelfGalleryActionsStack, 0, Qt::AlignVCenter);
    column->addWidget(m_shelfGalleryDetailBar);

    // 6. Footer.
    m_shelfGalleryFooterBar =
        new GallerySurface(6.5, IslandTheme::shelfSurfaceFill(), IslandTheme::white(0.09), m_shelfGalleryContainer);
    m_shelfGalleryFooterBar->setObjectName(QStringLiteral("shelfGalleryFooterBar"));
    m_shelfGalleryFooterBar->setFixedHeight(25);
    auto* footerRow = new QHBoxLayout(m_shelfGalleryFooterBar);
    footerRow->setContentsMargins(13, 5, 13, 5);
    footerRow->setSpacing(13);
    footerRow->addWidget(makeSymbolImage(QStringLiteral("info.circle"), 8.5, SymbolWeight::medium, 0.54, 10,
                                         QStringLiteral("信息"), m_shelfGalleryFooterBar),
                         0, Qt::AlignVCenter);
    const auto makeFooterLabel = [&](const char* name) {
        QLabel* label = makeGalleryLabel(8.5, QFont::Medium, 0.48, m_shelfGalleryFooterBar);
        label->setObjectName(QString::fromLatin1(name));
        label->setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Preferred);
        return label;
    };
    m_shelfGalleryFooterInfoLabel = makeFooterLabel("shelfGalleryFooterInfoLabel");
    footerRow->addWidget(m_shelfGalleryFooterInfoLabel, 0, Qt::AlignVCenter);
    auto* dot = new GallerySurface(2.5, IslandTheme::onlineGreen(), QColor(Qt::transparent), m_shelfGalleryFooterBar);
    dot->setFixedSize(5, 5);
    footerRow->addWidget(dot, 0, Qt::AlignVCenter);
    // The dot belongs to the storage text: the row's spacing would set it too far apart.
    footerRow->addSpacing(-8);
    m_shelfGalleryFooterStorageLabel = makeFooterLabel("shelfGalleryFooterStorageLabel");
    footerRow->addWidget(m_shelfGalleryFooterStorageLabel, 0, Qt::AlignVCenter);
    footerRow->addWidget(makeFlexibleSpacer(m_shelfGalleryFooterBar), 1);
    m_shelfGalleryFooterRetentionLabel = makeFooterLabel("shelfGalleryFooterRetentionLabel");
    footerRow->addWidget(m_shelfGalleryFooterRetentionLabel, 0, Qt::AlignVCenter);
    m_shelfGalleryFooterClearButton = IslandButtonFactory::makeTextIconButton(
        Language::text(QStringLiteral("清空会话"), QStringLiteral("Clear Session")), QStringLiteral("trash"),
        Language::text(QStringLiteral("清空会话"), QStringLiteral("Clear session")), this,
        [weak] {
            if (weak)
                weak->shelfClearTapped();
        },
        m_shelfGalleryFooterBar);
    m_shelfGalleryFooterClearButton->setObjectName(QStringLiteral("shelfGalleryFooterClearButton"));
    footerRow->addWidget(m_shelfGalleryFooterClearButton, 0, Qt::AlignVCenter);
    column->addWidget(m_shelfGalleryFooterBar);

    // Hidden until the content-mode switch shows it.
    m_shelfGalleryContainer->setVisible(false);
    setAlphaValue(m_shelfGalleryContainer, 0);
    static_cast<QGridLayout*>(m_contentDeck->layout())->addWidget(m_shelfGalleryContainer, 0, 0);

    updateShelfGallerySession();
    updateShelfGalleryDetail();
}

// MARK: - Session line and detail bar

void IslandView::updateShelfGallerySession()
{
    if (!m_shelfGallerySessionSubtitle)
        return;
    const ShelfSession* session = nullptr;
    if (m_selectedShelfSessionID) {
        for (const ShelfSession& candidate : std::as_const(m_shelf->sessions)) {
            if (candidate.id == *m_selectedShelfSessionID) {
                session = &candidate;
                break;
            }
        }
    }
    if (!session && !m_shelf->sessions.isEmpty())
        session = &m_shelf->sessions.first();
    const QString name = session ? session->name : ShelfSession::defaultName();
    const qsizetype count = session ? session->items.size() : m_shelf->items.size();
    const QString line = name + QStringLiteral(" · ") + countText(count);
    m_shelfGallerySessionSubtitle->setText(line);
    m_shelfGallerySessionSubtitle->setToolTip(line);
    updateShelfGalleryFooter();
}

void IslandView::updateShelfGalleryDetail()
{
    if (!m_shelfGalleryDetailTitle)
        return;
    const QList<ShelfItem> actionItems = selectedShelfItemsForActions(false);
    const std::optional<ShelfItem> focus = IslandSelection::detailFocus(actionItems, selectedShelfItem());

    const QList<IslandActionTileButton*> tiles = shelfGalleryTiles();
    if (!focus) {
        m_shelfGalleryDetailTitle->setText(
            Language::text(QStringLiteral("暂存架为空"), QStringLiteral("Shelf is empty")));
        m_shelfGalleryDetailSubtitle->setText(Language::text(QStringLiteral("拖入文件、图片、文本或链接"),
                                                             QStringLiteral("Drop files, images, text or links")));
        m_shelfGalleryDetailSubtitle->setVisible(true);
        m_shelfGalleryDetailDescription->setText(QString());
        m_shelfGalleryDetailThumbnail->setVisible(false);
        refreshShelfGalleryChips({});
        IslandActionTiles::setTilesEnabled(tiles, false);
        updateShelfGalleryFooter();
        return;
    }

    m_shelfGalleryDetailThumbnail->setVisible(true);
    const qsizetype selectedCount = m_selectedShelfItemIDs.size();
    if (selectedCount < 2) {
        m_shelfGalleryDetailSubtitle->setVisible(false);
        m_shelfGalleryDetailSubtitle->setText(focus->isSensitive ? QString() : focus->subtitle);
        m_shelfGalleryDetailTitle->setText(ShelfGalleryCardView::displayTitle(*focus));
        m_shelfGalleryDetailDescription->setText(
            focus->isSensitive
                ? Language::text(QStringLiteral("敏感内容已隐藏"), QStringLiteral("Sensitive content hidden"))
                : focus->preview);
        m_shelfGalleryDetailThumbnail->configure(focus->clipboardItem(), badgeText(*focus), tintColor(*focus));
        refreshShelfGalleryChips(metadataChips(*focus));
    } else {
        m_shelfGalleryDetailSubtitle->setVisible(true);
        m_shelfGalleryDetailTitle->setText(Language::text(QStringLiteral("已选 %1 项").arg(selectedCount),
                                                          QStringLiteral("%1 selected").arg(selectedCount)));
        m_shelfGalleryDetailSubtitle->setText(
            Language::text(QStringLiteral("可组合复制、批量处理或发送到设备"),
                           QStringLiteral("Combine, batch process or send to a device")));
        m_shelfGalleryDetailDescription->setText(Language::text(
            QStringLiteral("按顺序组合为换行、列表或 JSON，也可以批量输出文件名和路径。"),
            QStringLiteral("Combine in order as lines, list or JSON, or batch export file names and paths.")));
        m_shelfGalleryDetailThumbnail->configure(focus->clipboardItem(), countText(selectedCount),
                                                 IslandTheme::selectionBlue());
        refreshShelfGalleryChips({Language::text(QStringLiteral("多选"), QStringLiteral("Multi")),
                                  countText(selectedCount),
                                  Language::text(QStringLiteral("可组合"), QStringLiteral("Combinable"))});
    }
    m_shelfGalleryDetailTitle->setToolTip(m_shelfGalleryDetailTitle->text());

    const bool shareable = std::any_of(actionItems.cbegin(), actionItems.cend(), canShareShelfItem);
    const bool revealable = std::any_of(actionItems.cbegin(), actionItems.cend(), canRevealShelfItem);
    using IslandActionTiles::setTileEnabled;
    setTileEnabled(m_shelfGalleryPreviewButton, actionItems.size() < 2);
    setTileEnabled(m_shelfGalleryCopyButton, true);
    setTileEnabled(m_shelfGalleryAirDropButton, shareable);
    setTileEnabled(m_shelfGalleryRevealButton, revealable);
    setTileEnabled(m_shelfGalleryRemoveButton, true);
    setTileEnabled(m_shelfGalleryCombineButton, !selectedShelfItemsForActions(true).isEmpty());
    updateShelfGalleryFooter();
}

void IslandView::refreshShelfGalleryChips(const QStringList& texts)
{
    if (!m_shelfGalleryDetailChipStack)
        return;
    IslandWidgetStack::clear(m_shelfGalleryDetailChipStack);
    QLayout* row = m_shelfGalleryDetailChipStack->layout();
    for (const QString& text : texts.mid(0, 3)) {
        auto* chip = new MetadataChipView(text, m_shelfGalleryDetailChipStack);
        chip->setFixedHeight(14);
        row->addWidget(chip);
    }
}

QStringList IslandView::shelfGalleryDetailChipTexts() const
{
    QStringList texts;
    if (!m_shelfGalleryDetailChipStack)
        return texts;
    QLayout* row = m_shelfGalleryDetailChipStack->layout();
    for (int i = 0; i < row->count(); ++i) {
        if (auto* chip = qobject_cast<MetadataChipView*>(row->itemAt(i)->widget()))
            texts.append(chip->text());
    }
    return texts;
}

QList<IslandActionTileButton*> IslandView::shelfGalleryTiles() const
{
    return {m_shelfGalleryPreviewButton, m_shelfGalleryCopyButton,   m_shelfGalleryAirDropButton,
            m_shelfGalleryRevealButton,  m_shelfGalleryRemoveButton, m_shelfGalleryCombineButton};
}

// MARK: - Footer and drop hint

void IslandView::updateShelfGalleryFooter()
{
    if (!m_shelfGalleryFooterInfoLabel)
        return;
    const QString estimate = shelfEstimatedFootprintText();
    m_shelfGalleryFooterInfoLabel->setText(countText(m_shelf->items.size()) + QStringLiteral(" · ") + estimate);
    m_shelfGalleryFooterStorageLabel->setText(
        Language::text(QStringLiteral("本地存储"), QStringLiteral("Stored locally")));
    m_shelfGalleryFooterRetentionLabel->setText(
        Language::text(QStringLiteral("保留到手动清空"), QStringLiteral("Kept until you clear it")));
    if (m_shelfGalleryFooterClearButton)
        m_shelfGalleryFooterClearButton->setEnabled(!m_shelf->items.isEmpty());
}

QString IslandView::shelfEstimatedFootprintText() const
{
    qint64 total = 0;
    for (const ShelfItem& item : m_shelf->items) {
        switch (item.payload.caseOf()) {
        case ShelfPayload::Case::fileURLs:
            for (const QString& path : item.payload.fileURLsValue())
                total += fileItemSize(path);
            break;
        case ShelfPayload::Case::url:
            total += item.payload.urlValue().toUtf8().size();
            break;
        case ShelfPayload::Case::text:
            total += item.payload.textValue().toUtf8().size();
            break;
        case ShelfPayload::Case::imagePNG:
            total += item.payload.imagePNGValue().size();
            break;
        }
    }
    return formattedShelfByteCount(total);
}

QString IslandView::formattedShelfByteCount(qint64 bytes)
{
    if (bytes < 1)
        return QStringLiteral("0 KB");
    return QuillomareCore::Text::formatByteCount(bytes);
}

void IslandView::flashShelfGalleryDropHint()
{
    if (!m_shelfGalleryDropZone)
        return;
    m_shelfGalleryDropZone->setHighlighted(true);
    m_shelfGalleryDropZone->updateAppearance();
    // Never cancelled: the first pending reset ends the highlight, whoever started it.
    // The view is the context: gone, the reset does nothing.
    IslandScheduler::shared().schedule(kDropHintMilliseconds, this, [this] {
        if (!m_shelfGalleryDropZone)
            return;
        m_shelfGalleryDropZone->setHighlighted(false);
        m_shelfGalleryDropZone->updateAppearance();
    });
}

} // namespace QuillomareMac
