#include "ClipQuickPreviewView.h"

#include "Island/Kit/IslandListScrollView.h"
#include "LiveTextLayout.h"
#include "QuickPreviewImageView.h"

#include "History/ClipThumbnailView.h"
#include "History/HistoryPreviewPane.h"
#include "History/HistoryTime.h"
#include "History/PreviewLabels.h"
#include "Island/Kit/IslandButtonFactory.h"
#include "Island/Kit/IslandIcons.h"
#include "Island/Kit/IslandTheme.h"
#include "Pasteboard/ImageTextRecognizer.h"
#include "Pasteboard/MacFileContent.h"

#include <Platform/TextRecognizer.h>
#include <Platform/ThumbnailProvider.h>
#include <QuillomareCore/Foundation.h>
#include <QuillomareCore/Language.h>

#include <QBuffer>
#include <QDateTime>
#include <QDir>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QImageReader>
#include <QPainterPath>
#include <QPointer>
#include <QScrollArea>
#include <QStackedWidget>
#include <QVBoxLayout>

#include <algorithm>
#include <memory>

namespace QuillomareMac {

namespace Language = QuillomareCore::Language;

using QuillomareCore::ClipboardItem;
using QuillomareCore::ClipboardPayload;

namespace {

constexpr int maximumTextWidth = 560;
constexpr int maximumImageWidth = 640;
constexpr int fileRowHeight = 34;
constexpr int fileRowSpacing = 6;
// Header row and the card's margins around the content.
constexpr int chromeHeight = 10 + 26 + 8 + 14;

// The fitted card paints from a copy no larger than this; zoom draws from the whole picture.
constexpr int reducedPixelSize = 1600;
// Larger pictures are read at this size on their longer side (a 64-megapixel photo would
// otherwise hold a quarter of a gigabyte).
constexpr int wholePixelSize = 8192;
// Recognised words of this many pictures are kept, so that a picture opened again is not read again.
constexpr int rememberedLiveTexts = 12;

// Reads the whole picture (turned by its orientation) on a pool thread; `whole` gets it, the
// answer is the reduced copy for the fitted card. Null for anything that is not a picture.
QImage readPicture(QImageReader& reader, QImage& whole)
{
    reader.setAutoTransform(true);
    const QSize size = reader.size();
    if (size.isValid() && std::max(size.width(), size.height()) > wholePixelSize)
        reader.setScaledSize(size.scaled(wholePixelSize, wholePixelSize, Qt::KeepAspectRatio).expandedTo(QSize(1, 1)));
    whole = reader.read();
    if (whole.isNull() || std::max(whole.width(), whole.height()) <= reducedPixelSize)
        return whole;
    return whole.scaled(reducedPixelSize, reducedPixelSize, Qt::KeepAspectRatio, Qt::SmoothTransformation);
}

struct RememberedLiveText
{
    QString key;
    Platform::TextRecognizer::Result result;
};

// GUI thread only.
QList<RememberedLiveText>& rememberedLiveTextList()
{
    static QList<RememberedLiveText> list;
    return list;
}

const Platform::TextRecognizer::Result* rememberedLiveText(const QString& key)
{
    for (const RememberedLiveText& entry : rememberedLiveTextList())
        if (entry.key == key)
            return &entry.result;
    return nullptr;
}

void rememberLiveText(const QString& key, const Platform::TextRecognizer::Result& result)
{
    QList<RememberedLiveText>& list = rememberedLiveTextList();
    list.removeIf([&key](const RememberedLiveText& entry) { return entry.key == key; });
    list.append({key, result});
    while (list.size() > rememberedLiveTexts)
        list.removeFirst();
}

// A picture decoded before, at once; `pictureSize` gets the size it stands for. A copy as large
// as its cache makes them was most likely reduced: it stands for a picture large enough to fill
// the card, so that the whole one arriving later does not change the card's look.
QImage earlierPicture(const QStringList& keys, QSize& pictureSize)
{
    const int limits[] = {ClipThumbnailImageCache::previewPixelSize, ClipThumbnailImageCache::tilePixelSize};
    for (qsizetype i = 0; i < keys.size(); ++i) {
        const QImage image = ClipThumbnailImageCache::cached(keys[i]);
        if (image.isNull())
            continue;
        const bool reduced = std::max(image.width(), image.height()) >= limits[std::min<qsizetype>(i, 1)];
        pictureSize = reduced ? image.size().scaled(4096, 4096, Qt::KeepAspectRatio) : image.size();
        return image;
    }
    return {};
}

QString unpreviewableImageTitle()
{
    return Language::text(QStringLiteral("这条图片历史无法预览"), QStringLiteral("This image can't be previewed"));
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
        QStringLiteral("xmark"), Language::text(QStringLiteral("关闭"), QStringLiteral("Close")), this,
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

    m_imageView = new QuickPreviewImageView(m_pages);
    m_imageView->onCopyRequested = [this] { copySelectedTextIfAvailable(); };
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
    return m_imageView->reducedImage();
}

QString ClipQuickPreviewView::selectAndCopyHint()
{
    return Language::text(QStringLiteral("拖动选择图中文字，按 Ctrl+C 复制"),
                          QStringLiteral("Drag across the text to select it, then press Ctrl+C to copy"));
}

QString ClipQuickPreviewView::recognizingHint()
{
    return Language::text(QStringLiteral("正在识别图中文字…"), QStringLiteral("Recognizing the text in the image…"));
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
    m_titleLabel->setText(Language::localizedDisplayName(item.kind));
    QStringList parts{item.sourceAppName ? QuillomareCore::Text::trimmed(*item.sourceAppName) : QString(),
                      HistoryTime::relativeTimeText(item.createdAt, QuillomareCore::Clock::now())};
    // A long text shows only its beginning: the card says so.
    if (item.payload.isText() && !item.isSensitive)
        parts.append(cutTextNote(item.payload.textValue()).value_or(QString()));
    parts.removeAll(QString());
    m_metaLabel->setText(parts.join(QStringLiteral(" · ")));
}

void ClipQuickPreviewView::applyQuickPreviewContent(const ClipboardItem& item, bool startImagePipeline)
{
    const QString signature = QStringList{item.id.toString(), item.contentHash, QString::number(int(item.kind)),
                                          item.isSensitive ? QStringLiteral("sensitive") : QString()}
                                  .join(QLatin1Char('|'));
    // The list pushes the shown entry again whenever the history changes: the same content keeps
    // its zoom, selection and Live Text, unless its picture still has to be started.
    if (m_shownItemID == item.id && signature == m_shownSignature &&
        (m_content != Content::image || m_imagePipelineStarted || !startImagePipeline))
        return;
    ++m_showing;
    m_shownItemID = item.id;
    m_shownSignature = signature;
    m_imagePipelineStarted = false;
    m_textExtractionHighlightRequested = false;
    m_liveTextKey.clear();
    m_liveTextState = LiveTextState::none;
    m_liveTextMessage.clear();
    m_imageView->clear();
    if (item.isSensitive) {
        showMessage(QStringLiteral("lock.fill"),
                    Language::text(QStringLiteral("敏感内容已隐藏"), QStringLiteral("Sensitive content hidden")),
                    Language::text(QStringLiteral("此记录不会在面板中展示正文"),
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
        showMessage(QStringLiteral("rectangle.dashed"),
                    Language::text(QStringLiteral("这条历史没有可预览的内容"),
                                   QStringLiteral("Nothing to preview for this item")),
                    QString());
        break;
    }
}

void ClipQuickPreviewView::clearContent()
{
    ++m_showing;
    m_shownItemID.reset();
    m_shownSignature.clear();
    m_imagePipelineStarted = false;
    m_textExtractionHighlightRequested = false;
    m_liveTextKey.clear();
    m_liveTextState = LiveTextState::none;
    m_liveTextMessage.clear();
    m_fileScroll->setWidget(new QWidget); // lets the file rows go
    m_fileNameLines.clear();
    m_fileDetailLines.clear();
    m_messageSymbol.clear();
    m_messageIcon->clear();
    m_messageTitle->setText(QString());
    m_messageDetail->setText(QString());
    showContent(Content::message, m_messagePage);
}

void ClipQuickPreviewView::showContent(Content content, QWidget* page)
{
    m_content = content;
    m_pages->setCurrentWidget(page);
    if (content != Content::image)
        m_imageView->clear();
    if (content != Content::text)
        m_textView->clear();
}

void ClipQuickPreviewView::showText(const QString& text, bool isLink)
{
    m_textView->setFont(isLink ? monospacedSystemFont(11.5) : IslandTheme::systemFont(12));
    QPalette palette = m_textView->palette();
    palette.setColor(QPalette::Text, isLink ? IslandTheme::rgb(0.46, 0.76, 1.0) : IslandTheme::white(0.92));
    m_textView->setPalette(palette);
    m_textView->setPlainText(shownTextPrefix(text));
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
        showMessage(QStringLiteral("rectangle.dashed"),
                    Language::text(QStringLiteral("这条文件历史没有有效路径"),
                                   QStringLiteral("No valid path for this file item")),
                    QString());
        return;
    }
    m_fileNameLines.clear();
    m_fileDetailLines.clear();
    auto* list = new QWidget;
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
    // The scroll area turns the list's background fill on, which makes Qt take the list for
    // opaque and paint nothing beneath it; the list itself paints no background, so whatever the
    // window held there before (the history rows) would stay. The rows lie on the card's surface.
    list->setAutoFillBackground(false);
    showContent(Content::files, m_fileScroll);
}

void ClipQuickPreviewView::showImage(const ClipboardItem& item, bool startImagePipeline)
{
    const QUuid id = item.id;
    const quint64 showing = m_showing;
    auto whole = std::make_shared<QImage>();
    std::function<QImage()> read;
    std::function<void()> fail;
    QStringList earlierKeys;
    if (item.payload.isFileURLs()) {
        const QString path = *MacPreview::macPreviewImageFilePath(item);
        const QStringList paths = item.payload.fileURLsValue();
        fail = [this, paths] { showFiles(paths); };
        earlierKeys = {QStringLiteral("preview-file:") + path, ClipThumbnailImageCache::fileKey(path)};
        m_liveTextKey = QStringLiteral("live-text-file:") + path + QLatin1Char(':') +
                        QString::number(QFileInfo(path).lastModified().toMSecsSinceEpoch());
        read = [path, whole] {
            QImageReader reader(path);
            reader.setDecideFormatFromContent(true);
            return readPicture(reader, *whole);
        };
    } else {
        // A history image may still lie in the history file: it is read with the decode, off the
        // GUI thread.
        const ClipboardPayload payload = item.payload;
        fail = [this] { showMessage(QStringLiteral("rectangle.dashed"), unpreviewableImageTitle(), QString()); };
        if (payload.imagePNGByteCount() == 0) {
            fail();
            return;
        }
        earlierKeys = {ClipThumbnailImageCache::pngKey(QStringLiteral("preview-png:"), item.contentHash, payload),
                       ClipThumbnailImageCache::pngKey(QStringLiteral("thumb-png:"), item.contentHash, payload)};
        m_liveTextKey =
            ClipThumbnailImageCache::pngKey(QStringLiteral("live-text-png:"), item.contentHash, payload);
        read = [payload, whole] {
            QBuffer buffer;
            buffer.setData(payload.imagePNGValue());
            buffer.open(QIODevice::ReadOnly);
            QImageReader reader(&buffer);
            return readPicture(reader, *whole);
        };
    }
    showContent(Content::image, m_imageView);
    QSize earlierSize;
    const QImage earlier = earlierPicture(earlierKeys, earlierSize);
    if (!earlier.isNull())
        m_imageView->setPicture(earlier, QImage(), earlierSize);
    if (!startImagePipeline)
        return;
    m_imagePipelineStarted = true;
    Platform::ThumbnailProvider::request(
        this, std::move(read),
        [this, id, showing, whole, fail](const QImage& reduced) { applyPicture(id, showing, reduced, *whole, fail); });
}

bool ClipQuickPreviewView::stillShows(const QUuid& id, quint64 showing) const
{
    return m_shownItemID == id && m_showing == showing && m_content == Content::image;
}

void ClipQuickPreviewView::applyPicture(const QUuid& id, quint64 showing, const QImage& reduced, const QImage& whole,
                                        const std::function<void()>& onFailure)
{
    if (!stillShows(id, showing))
        return;
    if (reduced.isNull()) {
        onFailure();
        return;
    }
    m_imageView->setPicture(reduced, whole.isNull() ? reduced : whole, whole.isNull() ? reduced.size() : whole.size());
    if (const auto* remembered = rememberedLiveText(m_liveTextKey)) {
        m_imageView->setLiveText(LiveTextLayout::fromRecognition(*remembered));
        applyLiveTextState(m_imageView->liveText().isEmpty() ? LiveTextState::noText : LiveTextState::ready);
        return;
    }
    startTextRecognition(id, showing, whole.isNull() ? reduced : whole);
}

void ClipQuickPreviewView::startTextRecognition(const QUuid& id, quint64 showing, const QImage& whole)
{
    applyLiveTextState(LiveTextState::recognizing);
    auto result = std::make_shared<Platform::TextRecognizer::Result>();
    auto recognizer = Platform::TextRecognizer::shared();
    const QString key = m_liveTextKey;
    Platform::ThumbnailProvider::request(
        this,
        [recognizer, whole, result] {
            *result = recognizer->recognize(whole);
            return QImage();
        },
        [this, id, showing, whole, result, key](const QImage&) {
            if (!result->failed())
                rememberLiveText(key, *result);
            if (!stillShows(id, showing))
                return;
            if (!result->failed()) {
                m_imageView->setLiveText(LiveTextLayout::fromRecognition(*result));
                applyLiveTextState(m_imageView->liveText().isEmpty() ? LiveTextState::noText : LiveTextState::ready);
                return;
            }
            // The engine's failure in the user's words, as the Extract Text action tells it (a
            // failing engine fails at once).
            applyLiveTextState(LiveTextState::failed);
            QPointer<ClipQuickPreviewView> weak(this);
            ImageTextRecognizer::whenFinished(
                ImageTextRecognizer::recognizeTextRegions(whole), this, [](const ImageTextRecognizer::Regions&) {},
                [weak, id, showing](const QuillomareCore::Error& error) {
                    if (weak && weak->stillShows(id, showing) && weak->m_liveTextState == LiveTextState::failed)
                        weak->applyLiveTextState(LiveTextState::failed, error.localizedDescription());
                });
        });
}

void ClipQuickPreviewView::activateTextExtractionHighlight()
{
    m_textExtractionHighlightRequested = true;
    applyLiveTextState(m_liveTextState, m_liveTextMessage);
}

void ClipQuickPreviewView::applyLiveTextState(LiveTextState state, const QString& message)
{
    m_liveTextState = state;
    m_liveTextMessage = message;
    const bool asked = m_textExtractionHighlightRequested && m_content == Content::image;
    m_imageView->setTextHighlighted(asked && state == LiveTextState::ready);
    QString hint;
    if (asked) {
        switch (state) {
        case LiveTextState::none:
            break;
        case LiveTextState::recognizing:
            hint = recognizingHint();
            break;
        case LiveTextState::ready:
            hint = selectAndCopyHint();
            break;
        case LiveTextState::noText:
            hint = ImageTextRecognizerError::description(ImageTextRecognizerError::Case::noText);
            break;
        case LiveTextState::failed:
            hint = message;
            break;
        }
    }
    m_imageView->setHint(hint);
}

bool ClipQuickPreviewView::copySelectedTextIfAvailable()
{
    if (m_content == Content::image) {
        const auto selected = m_imageView->selectedText();
        if (!selected)
            return false;
        if (onCopySelectedText)
            onCopySelectedText(*selected);
        return true;
    }
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
