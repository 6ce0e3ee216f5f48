#include "ClipQuickPreviewView.h"

#include "Island/IslandListScrollView.h"

#include "History/ClipThumbnailView.h"
#include "History/HistoryPreviewPane.h"
#include "History/HistoryTime.h"
#include "History/PreviewLabels.h"
#include "Island/IslandButtonFactory.h"
#include "Island/IslandIcons.h"
#include "Island/IslandTheme.h"
#include "Pasteboard/MacFileContent.h"
#include "Shell/Localization.h"

#include <Platform/ThumbnailProvider.h>
#include <QuillomareCore/Foundation.h>

#include <QDir>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QPainterPath>
#include <QScrollArea>
#include <QStackedWidget>
#include <QVBoxLayout>

#include <algorithm>

namespace QuillomareMac {

using QuillomareCore::ClipboardItem;
using QuillomareCore::ClipboardPayload;

// The picture scaled to fit, centred, with rounded corners; the zoomable image card replaces it.
class FittedImageView final : public QWidget
{
public:
    using QWidget::QWidget;

    const QImage& image() const { return m_image; }
    void setImage(const QImage& image)
    {
        m_image = image;
        update();
    }

protected:
    void paintEvent(QPaintEvent*) override
    {
        if (m_image.isNull() || width() <= 0 || height() <= 0)
            return;
        const QSizeF fitted = m_image.deviceIndependentSize().scaled(QSizeF(size()), Qt::KeepAspectRatio);
        QRectF target(QPointF(), fitted);
        target.moveCenter(QRectF(rect()).center());
        QPainter painter(this);
        painter.setRenderHint(QPainter::SmoothPixmapTransform);
        painter.setRenderHint(QPainter::Antialiasing);
        QPainterPath clip;
        clip.addRoundedRect(target, 8, 8);
        painter.setClipPath(clip);
        painter.drawImage(target, m_image);
    }

private:
    QImage m_image;
};

namespace {

constexpr int maximumTextWidth = 560;
constexpr int maximumImageWidth = 640;
constexpr int fileRowHeight = 34;
constexpr int fileRowSpacing = 6;
// Header row and the card's margins around the content.
constexpr int chromeHeight = 10 + 26 + 8 + 14;

QString unpreviewableImageTitle()
{
    return L10n::text(QStringLiteral("这条图片历史无法预览"), QStringLiteral("This image can't be previewed"));
}

QWidget* makeFileRow(const QString& path, QString& nameLine, QString& detailLine)
{
    using IslandTheme::systemFont;
    using IslandTheme::white;
    auto* row = new QWidget;
    row->setFixedHeight(fileRowHeight);
    auto* layout = new QHBoxLayout(row);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(10);

    const QFileInfo info(path);
    auto* icon = new QLabel(row);
    icon->setFixedSize(28, 28);
    icon->setAlignment(Qt::AlignCenter);
    const qreal scale = row->devicePixelRatioF();
    const QIcon typeIcon = Platform::ThumbnailProvider::fileTypeIcon(path);
    icon->setPixmap(typeIcon.isNull()
                        ? IslandIcons::pixmap(QStringLiteral("doc"), 20, SymbolWeight::regular, white(0.72), scale)
                        : typeIcon.pixmap(QSize(28, 28), scale));
    layout->addWidget(icon, 0, Qt::AlignVCenter);

    nameLine = info.fileName().isEmpty() ? path : info.fileName();
    const qint64 bytes = info.isFile() ? info.size() : 0;
    QStringList details{bytes >= 1 ? ClipboardItem::formattedBytes(bytes) : QString(), info.path()};
    details.removeAll(QString());
    detailLine = details.join(QStringLiteral(" · "));

    auto* texts = new QVBoxLayout;
    texts->setContentsMargins(0, 0, 0, 0);
    texts->setSpacing(2);
    auto* name = new TruncatingLabel(Qt::ElideMiddle, systemFont(11, QFont::Medium), white(0.9), row);
    name->setText(nameLine);
    auto* detail = new TruncatingLabel(Qt::ElideMiddle, monospacedSystemFont(9), white(0.48), row);
    detail->setText(detailLine);
    texts->addWidget(name);
    texts->addWidget(detail);
    layout->addLayout(texts, 1);
    return row;
}

} // namespace

ClipQuickPreviewView::ClipQuickPreviewView(QWidget* parent) : QWidget(parent)
{
    using IslandTheme::systemFont;
    using IslandTheme::white;
    setAttribute(Qt::WA_TranslucentBackground);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(14, 10, 10, 14);
    layout->setSpacing(8);

    auto* header = new QHBoxLayout;
    header->setSpacing(8);
    m_titleLabel = new TruncatingLabel(Qt::ElideRight, systemFont(12, QFont::DemiBold), white(0.92), this);
    m_metaLabel = new TruncatingLabel(Qt::ElideRight, systemFont(9.5, QFont::Medium), white(0.5), this);
    m_closeButton = IslandButtonFactory::makeIconButton(
        QStringLiteral("xmark"), L10n::text(QStringLiteral("关闭"), QStringLiteral("Close")), this,
        [this] {
            if (onClose)
                onClose();
        },
        this);
    header->addWidget(m_titleLabel, 0, Qt::AlignVCenter);
    header->addWidget(m_metaLabel, 1, Qt::AlignVCenter);
    header->addWidget(m_closeButton, 0, Qt::AlignVCenter);
    layout->addLayout(header);

    m_pages = new QStackedWidget(this);
    m_pages->setAttribute(Qt::WA_TranslucentBackground);
    layout->addWidget(m_pages, 1);

    m_textView = new InspectorEditableTextView(m_pages);
    m_textView->setReadOnly(true);
    m_textView->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
    m_textView->onCopySelectedText = [this](const QString& text) {
        if (onCopySelectedText)
            onCopySelectedText(text);
    };
    m_pages->addWidget(m_textView);

    m_imageView = new FittedImageView(m_pages);
    m_pages->addWidget(m_imageView);

    m_fileScroll = new QScrollArea(m_pages);
    m_fileScroll->setFrameShape(QFrame::NoFrame);
    m_fileScroll->setWidgetResizable(true);
    m_fileScroll->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    applySlimScrollBars(m_fileScroll);
    m_fileScroll->viewport()->setAutoFillBackground(false);
    m_pages->addWidget(m_fileScroll);

    m_messagePage = new QWidget(m_pages);
    auto* message = new QVBoxLayout(m_messagePage);
    message->setSpacing(6);
    message->addStretch(1);
    m_messageIcon = new QLabel(m_messagePage);
    m_messageIcon->setFixedSize(32, 32);
    m_messageIcon->setAlignment(Qt::AlignCenter);
    message->addWidget(m_messageIcon, 0, Qt::AlignHCenter);
    m_messageTitle = new TruncatingLabel(Qt::ElideRight, systemFont(12, QFont::DemiBold), white(0.76), m_messagePage);
    m_messageDetail = new TruncatingLabel(Qt::ElideRight, systemFont(10.5), white(0.46), m_messagePage);
    m_messageTitle->setAlignment(Qt::AlignCenter);
    m_messageDetail->setAlignment(Qt::AlignCenter);
    message->addWidget(m_messageTitle);
    message->addWidget(m_messageDetail);
    message->addStretch(1);
    m_pages->addWidget(m_messagePage);
    m_pages->setCurrentWidget(m_messagePage);
}

QLabel* ClipQuickPreviewView::titleLabel() const
{
    return m_titleLabel;
}

QLabel* ClipQuickPreviewView::metaLabel() const
{
    return m_metaLabel;
}

QLabel* ClipQuickPreviewView::messageTitle() const
{
    return m_messageTitle;
}

QImage ClipQuickPreviewView::shownImage() const
{
    return m_imageView->image();
}

void ClipQuickPreviewView::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    IslandTheme::paintRoundedSurface(painter, QRectF(rect()), 14, IslandTheme::expandedSurface(false),
                                     IslandTheme::white(0.1));
}

void ClipQuickPreviewView::applyQuickPreviewMetadata(const ClipboardItem& item)
{
    m_titleLabel->setText(L10n::localizedDisplayName(item.kind));
    QStringList parts{item.sourceAppName ? QuillomareCore::Text::trimmed(*item.sourceAppName) : QString(),
                      HistoryTime::relativeTimeText(item.createdAt, QuillomareCore::Clock::now())};
    parts.removeAll(QString());
    m_metaLabel->setText(parts.join(QStringLiteral(" · ")));
}

void ClipQuickPreviewView::applyQuickPreviewContent(const ClipboardItem& item, bool startImagePipeline)
{
    m_shownItemID = item.id;
    m_textExtractionHighlightRequested = false;
    if (item.isSensitive) {
        showMessage(QStringLiteral("lock.fill"),
                    L10n::text(QStringLiteral("敏感内容已隐藏"), QStringLiteral("Sensitive content hidden")),
                    L10n::text(QStringLiteral("此记录不会在面板中展示正文"),
                               QStringLiteral("Content is not shown in the panel")));
        return;
    }
    switch (item.payload.caseOf()) {
    case ClipboardPayload::Case::text:
        showText(item.payload.textValue(), item.kind == QuillomareCore::ClipKind::url);
        break;
    case ClipboardPayload::Case::fileURLs:
        if (MacPreview::macPreviewImageFilePath(item))
            showImage(item, startImagePipeline);
        else
            showFiles(item.payload.fileURLsValue());
        break;
    case ClipboardPayload::Case::imagePNG:
        showImage(item, startImagePipeline);
        break;
    case ClipboardPayload::Case::empty:
        showMessage(
            QStringLiteral("rectangle.dashed"),
            L10n::text(QStringLiteral("这条历史没有可预览的内容"), QStringLiteral("Nothing to preview for this item")),
            QString());
        break;
    }
}

void ClipQuickPreviewView::showContent(Content content, QWidget* page)
{
    m_content = content;
    m_pages->setCurrentWidget(page);
    if (content != Content::image)
        m_imageView->setImage(QImage());
    if (content != Content::text)
        m_textView->clear();
}

void ClipQuickPreviewView::showText(const QString& text, bool isLink)
{
    m_textView->setFont(isLink ? monospacedSystemFont(11.5) : IslandTheme::systemFont(12));
    QPalette palette = m_textView->palette();
    palette.setColor(QPalette::Text, isLink ? IslandTheme::rgb(0.46, 0.76, 1.0) : IslandTheme::white(0.92));
    m_textView->setPalette(palette);
    m_textView->setPlainText(text);
    showContent(Content::text, m_textView);
}

void ClipQuickPreviewView::showMessage(const QString& symbol, const QString& title, const QString& detail)
{
    m_messageSymbol = symbol;
    m_messageIcon->setPixmap(
        IslandIcons::pixmap(symbol, 24, SymbolWeight::semibold, IslandTheme::white(0.5), devicePixelRatioF()));
    m_messageIcon->setAccessibleDescription(title);
    m_messageTitle->setText(title);
    m_messageDetail->setText(detail);
    m_messageDetail->setVisible(!detail.isEmpty());
    showContent(Content::message, m_messagePage);
}

void ClipQuickPreviewView::showFiles(const QStringList& paths)
{
    QStringList cleaned = MacFileContent::cleanPaths(paths);
    if (cleaned.isEmpty()) {
        showMessage(
            QStringLiteral("rectangle.dashed"),
            L10n::text(QStringLiteral("这条文件历史没有有效路径"), QStringLiteral("No valid path for this file item")),
            QString());
        return;
    }
    m_fileNameLines.clear();
    m_fileDetailLines.clear();
    auto* list = new QWidget;
    list->setAttribute(Qt::WA_TranslucentBackground);
    auto* layout = new QVBoxLayout(list);
    layout->setContentsMargins(0, 0, 4, 0);
    layout->setSpacing(fileRowSpacing);
    for (const QString& path : std::as_const(cleaned)) {
        QString name;
        QString detail;
        layout->addWidget(makeFileRow(QDir::cleanPath(path), name, detail));
        m_fileNameLines.append(name);
        m_fileDetailLines.append(detail);
    }
    layout->addStretch(1);
    m_fileScroll->setWidget(list); // deletes the previous list
    showContent(Content::files, m_fileScroll);
}

void ClipQuickPreviewView::showImage(const ClipboardItem& item, bool startImagePipeline)
{
    const QUuid id = item.id;
    if (item.payload.isFileURLs()) {
        const QString path = *MacPreview::macPreviewImageFilePath(item);
        const QString key = QStringLiteral("preview-file:") + path;
        const QStringList paths = item.payload.fileURLsValue();
        const auto fallBack = [this, paths] { showFiles(paths); };
        showContent(Content::image, m_imageView);
        m_imageView->setImage(ClipThumbnailImageCache::cached(key));
        if (startImagePipeline)
            ClipThumbnailImageCache::requestFileThumbnail(
                path, key, ClipThumbnailImageCache::previewPixelSize, this,
                [this, id, fallBack](const QImage& image) { applyImage(id, image, fallBack); });
        return;
    }
    const QByteArray png = item.payload.imagePNGValue();
    const auto fail = [this] { showMessage(QStringLiteral("rectangle.dashed"), unpreviewableImageTitle(), QString()); };
    if (png.isEmpty()) {
        fail();
        return;
    }
    const QString key = ClipThumbnailImageCache::pngKey(QStringLiteral("preview-png:"), item.contentHash, png);
    showContent(Content::image, m_imageView);
    m_imageView->setImage(ClipThumbnailImageCache::cached(key));
    if (startImagePipeline)
        ClipThumbnailImageCache::requestThumbnail(
            png, key, ClipThumbnailImageCache::previewPixelSize, this,
            [this, id, fail](const QImage& image) { applyImage(id, image, fail); });
}

void ClipQuickPreviewView::applyImage(const QUuid& id, const QImage& image, const std::function<void()>& onFailure)
{
    if (m_shownItemID != id || m_content != Content::image)
        return;
    if (image.isNull())
        onFailure();
    else
        m_imageView->setImage(image);
}

bool ClipQuickPreviewView::copySelectedTextIfAvailable()
{
    if (m_content != Content::text)
        return false;
    const auto selected = m_textView->selectedPlainText();
    if (!selected)
        return false;
    if (onCopySelectedText)
        onCopySelectedText(*selected);
    return true;
}

QSize ClipQuickPreviewView::preferredSize(const QSize& available) const
{
    const int minimumHeight = std::min(available.height(), 150);
    if (m_content == Content::image)
        return QSize(std::min(available.width(), maximumImageWidth), available.height());
    const int width = std::min(available.width(), maximumTextWidth);
    int contentHeight = 110;
    if (m_content == Content::text) {
        // Long texts fill the room anyway; measuring their start is enough.
        const QString start = m_textView->plainText().left(4000);
        const QRect measured = QFontMetrics(m_textView->font())
                                   .boundingRect(QRect(0, 0, std::max(width - 24 - 20, 1), 1 << 20),
                                                 Qt::TextWordWrap | Qt::TextExpandTabs, start);
        contentHeight = measured.height() + 14 + 8;
    } else if (m_content == Content::files) {
        contentHeight = int(m_fileNameLines.size()) * (fileRowHeight + fileRowSpacing);
    }
    return QSize(width, std::clamp(chromeHeight + contentHeight, minimumHeight, std::max(available.height(), 0)));
}

} // namespace QuillomareMac
