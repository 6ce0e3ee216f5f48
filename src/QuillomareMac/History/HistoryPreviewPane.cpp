#include "HistoryPreviewPane.h"

#include "Island/Kit/IslandListScrollView.h"

#include "History/ClipThumbnailView.h"
#include "History/HistoryTime.h"
#include "History/PreviewLabels.h"
#include "Island/Kit/IslandIcons.h"
#include "Island/Kit/IslandImageView.h"
#include "Island/Kit/IslandTheme.h"
#include "Island/Kit/TextCharacterCount.h"
#include "Pasteboard/MacFileContent.h"

#include <Platform/ThumbnailProvider.h>
#include <QuillomareCore/Foundation.h>
#include <QuillomareCore/Language.h>

#include <QAction>
#include <QContextMenuEvent>
#include <QDir>
#include <QFileInfo>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLocale>
#include <QMenu>
#include <QPainterPath>
#include <QTextBoundaryFinder>
#include <QVBoxLayout>

#include <algorithm>

namespace QuillomareMac {

namespace Language = QuillomareCore::Language;

using QuillomareCore::ClipboardItem;
using QuillomareCore::ClipboardPayload;
namespace Thumbnails = Platform::ThumbnailProvider;

namespace {

QString normalisedLineBreaks(QString text)
{
    return text.replace(QChar::ParagraphSeparator, QLatin1Char('\n'));
}

QColor linkBlue()
{
    return IslandTheme::rgb(0.46, 0.76, 1.0);
}

// A file's size, 0 when unknown (folders, missing files).
qint64 fileByteCount(const QString& path)
{
    const QFileInfo info(path);
    return info.isFile() ? info.size() : 0;
}

QString modificationDateText(const QString& path)
{
    const QFileInfo info(path);
    const QDateTime modified = info.exists() ? info.lastModified() : QDateTime();
    return modified.isValid() ? HistoryTime::shortDateText(modified) : QString();
}

QString fileMetadataText(const QStringList& paths)
{
    if (paths.size() == 1) {
        const QString& path = paths.first();
        QString type = QFileInfo::exists(path) ? Thumbnails::fileTypeDescription(path) : QString();
        if (type.isEmpty())
            type = QFileInfo(path).suffix().toUpper();
        const qint64 bytes = fileByteCount(path);
        QStringList parts{type, bytes >= 1 ? ClipboardItem::formattedBytes(bytes) : QString(),
                          modificationDateText(path)};
        parts.removeAll(QString());
        return parts.join(QStringLiteral(" · "));
    }
    qint64 total = 0;
    for (const QString& path : paths)
        total += fileByteCount(path);
    return Language::text(QStringLiteral("%1 项").arg(paths.size()), Language::englishItems(paths.size())) +
           QStringLiteral(" · ") + ClipboardItem::formattedBytes(total);
}

qreal scaleOf(const QWidget* widget)
{
    const qreal scale = widget->devicePixelRatioF();
    return scale > 0 ? scale : 2.0;
}

QWidget* transparentContainer(QWidget* parent)
{
    auto* container = new QWidget(parent);
    container->setAttribute(Qt::WA_TranslucentBackground);
    container->hide();
    return container;
}

} // namespace

// MARK: - InspectorEditableTextView

InspectorEditableTextView::InspectorEditableTextView(QWidget* parent) : QPlainTextEdit(parent)
{
    setFrameShape(QFrame::NoFrame);
    setBackgroundVisible(false);
    viewport()->setAutoFillBackground(false);
    QPalette palette = this->palette();
    palette.setColor(QPalette::Base, Qt::transparent);
    setPalette(palette);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    applySlimScrollBars(this);
    setLineWrapMode(QPlainTextEdit::WidgetWidth);
    setWordWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
    setUndoRedoEnabled(true);
    // With the document's own 4-point margin: 10 points at the sides, 7 at top and bottom.
    setViewportMargins(6, 3, 6, 3);
}

std::optional<QString> InspectorEditableTextView::selectedPlainText() const
{
    const QString selected = normalisedLineBreaks(textCursor().selectedText());
    if (selected.isEmpty())
        return std::nullopt;
    return selected;
}

QString InspectorEditableTextView::plainText() const
{
    // toPlainText() would also turn non-breaking spaces into spaces.
    return normalisedLineBreaks(document()->toRawText());
}

void InspectorEditableTextView::copySelection()
{
    if (const auto selected = selectedPlainText()) {
        if (onCopySelectedText)
            onCopySelectedText(*selected);
        return;
    }
    copy();
}

bool InspectorEditableTextView::isCopyShortcut(const QKeyEvent* event)
{
    return event->key() == Qt::Key_C && event->modifiers().testFlag(Qt::ControlModifier);
}

bool InspectorEditableTextView::event(QEvent* event)
{
    // Claim the shortcut before any window-level shortcut (Ctrl+Shift+C included) takes it.
    if (event->type() == QEvent::ShortcutOverride && isCopyShortcut(static_cast<QKeyEvent*>(event)) &&
        selectedPlainText()) {
        event->accept();
        return true;
    }
    return QPlainTextEdit::event(event);
}

void InspectorEditableTextView::keyPressEvent(QKeyEvent* event)
{
    if (isCopyShortcut(event) && selectedPlainText()) {
        copySelection();
        event->accept();
        return;
    }
    QPlainTextEdit::keyPressEvent(event);
}

void InspectorEditableTextView::contextMenuEvent(QContextMenuEvent* event)
{
    QMenu* menu = createStandardContextMenu(event->pos());
    if (auto* copyAction = menu->findChild<QAction*>(QStringLiteral("edit-copy"))) {
        disconnect(copyAction, &QAction::triggered, nullptr, nullptr);
        connect(copyAction, &QAction::triggered, this, &InspectorEditableTextView::copySelection);
    }
    menu->exec(event->globalPos());
    delete menu;
}

// MARK: - InspectorMiniPillButton

namespace {

QFont pillFont()
{
    return IslandTheme::systemFont(10.2, QFont::DemiBold);
}

} // namespace

InspectorMiniPillButton::InspectorMiniPillButton(const QString& title, const QString& tooltip, QWidget* parent)
    : QAbstractButton(parent), m_displayTitle(title)
{
    setAttribute(Qt::WA_TranslucentBackground);
    setAttribute(Qt::WA_Hover);
    setText(title);
    setToolTip(tooltip);
    setAccessibleName(title);
    setCursor(Qt::PointingHandCursor);
    setFixedHeight(18);
}

QSize InspectorMiniPillButton::sizeHint() const
{
    return QSize(QFontMetrics(pillFont()).horizontalAdvance(m_displayTitle) + 16, 18);
}

void InspectorMiniPillButton::paintEvent(QPaintEvent*)
{
    using IslandTheme::white;
    const bool enabled = isEnabled();
    const bool hover = m_isHovering && enabled;
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    IslandTheme::paintRoundedSurface(painter, QRectF(rect()), 7, white(hover ? 0.105 : 0.052),
                                     white(hover ? 0.16 : 0.075));
    painter.setFont(pillFont());
    painter.setPen(white(enabled ? 0.76 : 0.3));
    painter.drawText(rect(), Qt::AlignCenter, m_displayTitle);
}

void InspectorMiniPillButton::enterEvent(QEnterEvent* event)
{
    m_isHovering = true;
    update();
    QAbstractButton::enterEvent(event);
}

void InspectorMiniPillButton::leaveEvent(QEvent* event)
{
    m_isHovering = false;
    update();
    QAbstractButton::leaveEvent(event);
}

void InspectorMiniPillButton::changeEvent(QEvent* event)
{
    if (event->type() == QEvent::EnabledChange)
        update();
    QAbstractButton::changeEvent(event);
}

// MARK: - HistoryInspectorPreviewView

HistoryInspectorPreviewView::HistoryInspectorPreviewView(QWidget* parent) : QWidget(parent)
{
    setAttribute(Qt::WA_TranslucentBackground);
    setupLayout();
    configureMessage(QStringLiteral("rectangle.dashed"),
                     Language::text(QStringLiteral("选择一条历史后查看内容和复制方式"),
                                    QStringLiteral("Select an item to see its content and copy options")),
                     QString());
}

void HistoryInspectorPreviewView::setupLayout()
{
    using IslandTheme::systemFont;
    using IslandTheme::white;
    auto* stack = new QGridLayout(this);
    stack->setContentsMargins(0, 0, 0, 0);

    // Text: the status line and pills above the editable text, so the edit state stays in sight.
    m_textContainer = transparentContainer(this);
    auto* textLayout = new QVBoxLayout(m_textContainer);
    textLayout->setContentsMargins(0, 0, 0, 0);
    textLayout->setSpacing(0);
    auto* toolbar = new QHBoxLayout;
    toolbar->setContentsMargins(8, 2, 7, 1);
    toolbar->setSpacing(6);
    m_textStatusLabel = new TruncatingLabel(Qt::ElideRight, systemFont(9, QFont::Medium), white(0.44));
    m_textStatusLabel->setText(Language::text(QStringLiteral("可编辑草稿"), QStringLiteral("Editable draft")));
    m_textResetButton = new InspectorMiniPillButton(
        Language::text(QStringLiteral("还原"), QStringLiteral("Reset")),
        Language::text(QStringLiteral("还原原始内容"), QStringLiteral("Reset to original")));
    m_textCopyButton = new InspectorMiniPillButton(
        Language::text(QStringLiteral("复制"), QStringLiteral("Copy")),
        Language::text(QStringLiteral("复制编辑内容"), QStringLiteral("Copy edited content")));
    connect(m_textResetButton, &QAbstractButton::clicked, this, &HistoryInspectorPreviewView::resetTextTapped);
    connect(m_textCopyButton, &QAbstractButton::clicked, this, &HistoryInspectorPreviewView::copyTextTapped);
    toolbar->addWidget(m_textStatusLabel, 1, Qt::AlignVCenter);
    toolbar->addWidget(m_textResetButton, 0, Qt::AlignVCenter);
    toolbar->addWidget(m_textCopyButton, 0, Qt::AlignVCenter);
    textLayout->addLayout(toolbar);
    m_textView = new InspectorEditableTextView(m_textContainer);
    m_textView->onCopySelectedText = [this](const QString& text) {
        if (onCopyText)
            onCopyText(text);
    };
    connect(m_textView, &QPlainTextEdit::textChanged, this, &HistoryInspectorPreviewView::updateTextStatus);
    textLayout->addWidget(m_textView, 1);
    stack->addWidget(m_textContainer, 0, 0);

    // Image, clipped to rounded corners.
    m_imageContainer = transparentContainer(this);
    auto* imageLayout = new QVBoxLayout(m_imageContainer);
    imageLayout->setContentsMargins(10, 8, 10, 8);
    m_imagePreview = new AspectFillImageView(m_imageContainer);
    m_imagePreview->onClick = [this] {
        if (onRequestImagePreview)
            onRequestImagePreview();
    };
    m_imagePreview->installEventFilter(this);
    imageLayout->addWidget(m_imagePreview);
    stack->addWidget(m_imageContainer, 0, 0);

    // Files.
    m_fileContainer = transparentContainer(this);
    auto* fileLayout = new QHBoxLayout(m_fileContainer);
    fileLayout->setContentsMargins(10, 9, 10, 9);
    fileLayout->setSpacing(10);
    m_fileIconView = new QLabel(m_fileContainer);
    m_fileIconView->setFixedSize(36, 36);
    m_fileIconView->setAlignment(Qt::AlignCenter);
    fileLayout->addWidget(m_fileIconView, 0, Qt::AlignVCenter);
    auto* fileTextStack = new QWidget(m_fileContainer);
    fileTextStack->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    auto* fileTextLayout = new QVBoxLayout(fileTextStack);
    fileTextLayout->setContentsMargins(0, 0, 0, 0);
    fileTextLayout->setSpacing(4);
    m_fileTitleLabel = new TruncatingLabel(Qt::ElideMiddle, systemFont(10.5, QFont::DemiBold), white(0.92));
    m_fileMetaLabel = new TruncatingLabel(Qt::ElideRight, systemFont(9, QFont::Medium), white(0.54));
    m_filePathLabel = new TruncatingLabel(Qt::ElideMiddle, monospacedSystemFont(8.5), white(0.42));
    for (QLabel* label : {static_cast<QLabel*>(m_fileTitleLabel), static_cast<QLabel*>(m_fileMetaLabel),
                          static_cast<QLabel*>(m_filePathLabel)})
        fileTextLayout->addWidget(label);
    fileLayout->addWidget(fileTextStack, 1, Qt::AlignVCenter);
    stack->addWidget(m_fileContainer, 0, 0);

    // Messages.
    m_messageContainer = transparentContainer(this);
    auto* messageLayout = new QVBoxLayout(m_messageContainer);
    messageLayout->setContentsMargins(10, 0, 10, 0);
    messageLayout->setSpacing(5);
    messageLayout->addStretch(1);
    m_messageIcon = new QLabel(m_messageContainer);
    m_messageIcon->setFixedSize(28, 28);
    m_messageIcon->setAlignment(Qt::AlignCenter);
    messageLayout->addWidget(m_messageIcon, 0, Qt::AlignHCenter);
    m_messageTitle = new TruncatingLabel(Qt::ElideRight, systemFont(11, QFont::DemiBold), white(0.72));
    m_messageDetail = new TruncatingLabel(Qt::ElideRight, systemFont(10), white(0.42));
    m_messageTitle->setAlignment(Qt::AlignCenter);
    m_messageDetail->setAlignment(Qt::AlignCenter);
    messageLayout->addWidget(m_messageTitle);
    messageLayout->addWidget(m_messageDetail);
    messageLayout->addStretch(1);
    stack->addWidget(m_messageContainer, 0, 0);
}

QLabel* HistoryInspectorPreviewView::textStatusLabel() const
{
    return m_textStatusLabel;
}

QLabel* HistoryInspectorPreviewView::fileTitleLabel() const
{
    return m_fileTitleLabel;
}

QLabel* HistoryInspectorPreviewView::fileMetaLabel() const
{
    return m_fileMetaLabel;
}

QLabel* HistoryInspectorPreviewView::filePathLabel() const
{
    return m_filePathLabel;
}

QLabel* HistoryInspectorPreviewView::messageTitle() const
{
    return m_messageTitle;
}

QLabel* HistoryInspectorPreviewView::messageDetail() const
{
    return m_messageDetail;
}

void HistoryInspectorPreviewView::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    IslandTheme::paintRoundedSurface(painter, QRectF(rect()), 12, IslandTheme::rgb(0, 0, 0, 0.15),
                                     IslandTheme::white(0.065));
}

bool HistoryInspectorPreviewView::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == m_imagePreview && event->type() == QEvent::Resize) {
        QPainterPath path;
        path.addRoundedRect(QRectF(m_imagePreview->rect()), 8, 8);
        m_imagePreview->setMask(QRegion(path.toFillPolygon().toPolygon()));
    }
    return QWidget::eventFilter(watched, event);
}

void HistoryInspectorPreviewView::hideAllModes()
{
    for (QWidget* container : {m_textContainer, m_imageContainer, m_fileContainer, m_messageContainer})
        container->hide();
    m_currentThumbnailURL.reset();
}

void HistoryInspectorPreviewView::configureMessage(const QString& symbol, const QString& title, const QString& detail)
{
    hideAllModes();
    m_messageSymbol = symbol;
    m_messageIcon->setPixmap(
        IslandIcons::pixmap(symbol, 20, SymbolWeight::semibold, IslandTheme::white(0.48), scaleOf(this)));
    m_messageIcon->setAccessibleDescription(title);
    m_messageTitle->setText(title);
    m_messageDetail->setText(detail);
    m_messageDetail->setVisible(!detail.isEmpty());
    m_messageContainer->show();
}

void HistoryInspectorPreviewView::showMissingContent(const QString& title)
{
    m_currentItemID.reset();
    configureMessage(QStringLiteral("rectangle.dashed"), title, QString());
    m_currentMode = Mode::empty;
}

void HistoryInspectorPreviewView::configure(const ClipboardItem& item)
{
    m_currentItemID = item.id;
    hideAllModes();
    if (item.isSensitive) {
        configureMessage(QStringLiteral("lock.fill"),
                         Language::text(QStringLiteral("敏感内容已隐藏"), QStringLiteral("Sensitive content hidden")),
                         Language::text(QStringLiteral("此记录不会在面板中展示正文"),
                                        QStringLiteral("Content is not shown in the panel")));
        m_currentMode = Mode::sensitive;
        return;
    }
    switch (item.payload.caseOf()) {
    case ClipboardPayload::Case::text:
        configureText(item.payload.textValue(), item.kind == QuillomareCore::ClipKind::url);
        break;
    case ClipboardPayload::Case::fileURLs:
        configureFiles(item.payload.fileURLsValue(), item);
        break;
    case ClipboardPayload::Case::imagePNG:
        configureImage(item);
        break;
    case ClipboardPayload::Case::empty:
        showMissingContent(Language::text(QStringLiteral("这条历史没有可预览的内容"),
                                          QStringLiteral("Nothing to preview for this item")));
        break;
    }
}

std::optional<QString> HistoryInspectorPreviewView::editableTextForCopy() const
{
    if (m_currentMode != Mode::editableText)
        return std::nullopt;
    // Unedited, the stored text goes out exactly as it came (the view normalises line breaks).
    const QString text = isTextEdited() ? m_textView->plainText() : m_originalText;
    if (QuillomareCore::Text::isBlank(text))
        return std::nullopt;
    return text;
}

bool HistoryInspectorPreviewView::isTextEdited() const
{
    return m_textView->plainText() != m_shownOriginalText;
}

// MARK: Text

QString shownTextPrefix(const QString& text)
{
    if (text.size() <= shownTextLimit)
        return text;
    // The boundaries near the cut, from a window that reaches past it.
    const qsizetype window = std::min<qsizetype>(text.size(), shownTextLimit + 64);
    QTextBoundaryFinder finder(QTextBoundaryFinder::Grapheme, text.constData(), window);
    finder.setPosition(shownTextLimit);
    const qsizetype cut = finder.isAtBoundary() ? shownTextLimit : finder.toPreviousBoundary();
    return text.left(std::max<qsizetype>(cut, 0));
}

std::optional<QString> cutTextNote(const QString& text)
{
    if (text.size() <= shownTextLimit)
        return std::nullopt;
    const QLocale locale =
        Language::isChinese() ? QLocale(QLocale::Chinese, QLocale::China) : QLocale(QLocale::English);
    const QString shown = locale.toString(QuillomareCore::Text::graphemeCount(shownTextPrefix(text)));
    const QString whole = locale.toString(cachedGraphemeCount(text));
    return Language::text(QStringLiteral("只显示开头 %1 字符（全文 %2 字符）").arg(shown, whole),
                          QStringLiteral("Showing the first %1 of %2 chars").arg(shown, whole));
}

void HistoryInspectorPreviewView::configureText(const QString& text, bool isLink)
{
    m_originalText = text;
    m_textView->setFont(isLink ? monospacedSystemFont(9.5) : IslandTheme::systemFont(10));
    QPalette palette = m_textView->palette();
    palette.setColor(QPalette::Text, isLink ? linkBlue() : IslandTheme::white(0.92));
    m_textView->setPalette(palette);
    // A long text is shown in part and cannot be edited: a draft of a part would copy as if it
    // were the whole. Unedited, the tiles and the Copy pill copy the whole stored text.
    const QString shown = shownTextPrefix(text);
    m_textIsCut = shown.size() < text.size();
    m_textView->setReadOnly(m_textIsCut);
    m_textView->setTextInteractionFlags(m_textIsCut ? Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard
                                                    : Qt::TextEditorInteraction);
    {
        const QSignalBlocker blocker(m_textView);
        m_textView->setPlainText(shown);
    }
    m_shownOriginalText = m_textView->plainText();
    updateTextStatus();
    m_textContainer->show();
    m_currentMode = Mode::editableText;
}

void HistoryInspectorPreviewView::updateTextStatus()
{
    const bool edited = isTextEdited();
    TruncatingLabel* status = m_textStatusLabel;
    if (m_textIsCut) {
        status->setText(Language::text(QStringLiteral("只读 · "), QStringLiteral("Read-only · ")) +
                        cutTextNote(m_originalText).value_or(QString()));
        status->setColour(IslandTheme::white(0.44));
        m_textResetButton->setEnabled(false);
        m_textCopyButton->setEnabled(!QuillomareCore::Text::isBlank(m_originalText));
        return;
    }
    if (edited) {
        status->setText(Language::text(QStringLiteral("已修改 · 只影响本次复制"),
                                       QStringLiteral("Edited · affects this copy only")));
        status->setColour(IslandTheme::withAlpha(IslandTheme::selectionBlue(), 0.86));
    } else {
        status->setText(Language::text(QStringLiteral("可编辑 · 滚动查看完整内容"),
                                       QStringLiteral("Editable · scroll to see all")));
        status->setColour(IslandTheme::white(0.44));
    }
    m_textResetButton->setEnabled(edited);
    m_textCopyButton->setEnabled(!QuillomareCore::Text::isBlank(m_textView->plainText()));
}

void HistoryInspectorPreviewView::resetTextTapped()
{
    m_textView->setPlainText(shownTextPrefix(m_originalText));
    updateTextStatus();
}

void HistoryInspectorPreviewView::copyTextTapped()
{
    if (m_currentMode != Mode::editableText || !onCopyText)
        return;
    if (const auto text = editableTextForCopy())
        onCopyText(*text);
}

// MARK: Image

void HistoryInspectorPreviewView::showImageContainer()
{
    m_imagePreview->setImage(QImage());
    m_imageContainer->show();
    m_currentMode = Mode::image;
}

bool HistoryInspectorPreviewView::stillShowsImageOf(const QUuid& id) const
{
    return m_currentItemID == id && m_currentMode == Mode::image;
}

void HistoryInspectorPreviewView::configureImage(const ClipboardItem& item)
{
    const QString unpreviewable =
        Language::text(QStringLiteral("这条图片历史无法预览"), QStringLiteral("This image can't be previewed"));
    if (item.payload.imagePNGByteCount() == 0) {
        showMissingContent(unpreviewable);
        return;
    }
    showImageContainer();
    const QUuid id = item.id;
    ClipThumbnailImageCache::requestThumbnail(
        item.payload, ClipThumbnailImageCache::pngKey(QStringLiteral("preview-png:"), item.contentHash, item.payload),
        ClipThumbnailImageCache::previewPixelSize, this, [this, id, unpreviewable](const QImage& image) {
            if (!stillShowsImageOf(id))
                return;
            if (image.isNull())
                showMissingContent(unpreviewable);
            else
                m_imagePreview->setImage(image);
        });
}

// MARK: Files

void HistoryInspectorPreviewView::configureFiles(const QStringList& paths, const ClipboardItem& item)
{
    QStringList cleaned = MacFileContent::cleanPaths(paths);
    for (QString& path : cleaned)
        path = QDir::cleanPath(path);
    if (cleaned.isEmpty()) {
        showMissingContent(Language::text(QStringLiteral("这条文件历史没有有效路径"),
                                          QStringLiteral("No valid path for this file item")));
        return;
    }
    const auto imagePath = MacPreview::macPreviewImageFilePath(item);
    if (cleaned.size() != 1 || !imagePath) {
        configureFileSummary(cleaned);
        return;
    }
    showImageContainer();
    const QUuid id = item.id;
    ClipThumbnailImageCache::requestFileThumbnail(*imagePath, QStringLiteral("preview-file:") + *imagePath,
                                                  ClipThumbnailImageCache::previewPixelSize, this,
                                                  [this, id, cleaned](const QImage& image) {
                                                      if (!stillShowsImageOf(id))
                                                          return;
                                                      if (!image.isNull()) {
                                                          m_imagePreview->setImage(image);
                                                          return;
                                                      }
                                                      hideAllModes();
                                                      configureFileSummary(cleaned);
                                                  });
}

void HistoryInspectorPreviewView::setFileIconSymbol(const QString& symbol, const QString& description)
{
    m_fileIconSymbol = symbol;
    m_fileIconView->setPixmap(
        IslandIcons::pixmap(symbol, 26, SymbolWeight::regular, IslandTheme::white(0.72), scaleOf(this)));
    m_fileIconView->setAccessibleDescription(description);
}

void HistoryInspectorPreviewView::configureFileSummary(const QStringList& paths)
{
    const QString& first = paths.first();
    const QString firstName = QFileInfo(first).fileName();
    m_fileIconShowsThumbnail = false;
    const QIcon fileIcon = paths.size() < 2 ? Thumbnails::fileTypeIcon(first) : QIcon();
    if (paths.size() >= 2) {
        setFileIconSymbol(QStringLiteral("doc.on.doc"),
                          Language::text(QStringLiteral("多个文件"), QStringLiteral("Multiple files")));
    } else if (!fileIcon.isNull()) {
        m_fileIconSymbol.clear();
        m_fileIconView->setPixmap(fileIcon.pixmap(QSize(36, 36), scaleOf(this)));
        m_fileIconView->setAccessibleDescription(QString());
    } else {
        setFileIconSymbol(QStringLiteral("doc"), Language::text(QStringLiteral("文件"), QStringLiteral("File")));
    }
    m_fileTitleLabel->setText(
        paths.size() == 1
            ? firstName
            // The Chinese counts every file, the English the others.
            : Language::text(QStringLiteral("%1 等 %2 项").arg(firstName, QString::number(paths.size())),
                             firstName + QStringLiteral(" and ") + Language::englishItems(paths.size() - 1)));
    m_fileMetaLabel->setText(fileMetadataText(paths));
    m_filePathLabel->setText(paths.size() == 1 ? QFileInfo(first).path() : first);
    m_fileContainer->show();
    m_currentMode = Mode::file;
    requestThumbnail(first);
}

void HistoryInspectorPreviewView::requestThumbnail(const QString& path)
{
    if (!QFileInfo::exists(path))
        return;
    m_currentThumbnailURL = path;
    const int pixelSize = qRound(96 * scaleOf(this));
    Thumbnails::request(
        this, [path, pixelSize] { return Thumbnails::fileThumbnail(path, pixelSize); },
        [this, path](const QImage& image) {
            if (image.isNull() || m_currentThumbnailURL != path)
                return;
            const qreal scale = scaleOf(this);
            QPixmap pixmap =
                QPixmap::fromImage(image).scaled(QSize(36, 36) * scale, Qt::KeepAspectRatio, Qt::SmoothTransformation);
            pixmap.setDevicePixelRatio(scale);
            m_fileIconView->setPixmap(pixmap);
            m_fileIconSymbol.clear();
            m_fileIconShowsThumbnail = true;
        });
}

} // namespace QuillomareMac
