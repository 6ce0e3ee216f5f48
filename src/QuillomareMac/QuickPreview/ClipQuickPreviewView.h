#pragma once

// The quick preview card over the expanded island: a header with the entry's kind, source and
// age and a close button, above the entry's text (selectable), its picture, its files or a
// message. A sensitive entry shows only the lock message. Pictures are decoded off the GUI thread
// and land only while the card still shows the entry they belong to.

#include <QuillomareCore/ClipboardItem.h>

#include <QImage>
#include <QUuid>
#include <QWidget>

#include <functional>
#include <optional>

class QLabel;
class QScrollArea;
class QStackedWidget;

namespace QuillomareMac {

class IslandIconButton;
class InspectorEditableTextView;
class TruncatingLabel;
class FittedImageView;

class ClipQuickPreviewView final : public QWidget
{
    Q_OBJECT

public:
    enum class Content
    {
        text,
        image,
        files,
        message
    };

    explicit ClipQuickPreviewView(QWidget* parent = nullptr);

    std::function<void(const QString&)> onCopySelectedText;
    std::function<void()> onClose;

    void applyQuickPreviewMetadata(const QuillomareCore::ClipboardItem& item);
    // `startImagePipeline` false shows only a picture decoded before.
    void applyQuickPreviewContent(const QuillomareCore::ClipboardItem& item, bool startImagePipeline);

    // A non-empty text selection goes to onCopySelectedText: true; otherwise false.
    bool copySelectedTextIfAvailable();
    // Remembered for the image card's recognised-text overlay.
    void activateTextExtractionHighlight() { m_textExtractionHighlightRequested = true; }
    bool textExtractionHighlightRequested() const { return m_textExtractionHighlightRequested; }

    std::optional<QUuid> shownItemID() const { return m_shownItemID; }
    // The card's size for its content within `available`.
    QSize preferredSize(const QSize& available) const;

    // Read-outs.
    Content content() const { return m_content; }
    QLabel* titleLabel() const;
    QLabel* metaLabel() const;
    IslandIconButton* closeButton() const { return m_closeButton; }
    InspectorEditableTextView* textView() const { return m_textView; }
    QImage shownImage() const;
    QLabel* messageTitle() const;
    const QString& messageSymbol() const { return m_messageSymbol; }
    // One "name" and one "size · folder" line per file, in order.
    const QStringList& fileNameLines() const { return m_fileNameLines; }
    const QStringList& fileDetailLines() const { return m_fileDetailLines; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    void showText(const QString& text, bool isLink);
    void showImage(const QuillomareCore::ClipboardItem& item, bool startImagePipeline);
    void showFiles(const QStringList& paths);
    void showMessage(const QString& symbol, const QString& title, const QString& detail);
    void showContent(Content content, QWidget* page);
    void applyImage(const QUuid& id, const QImage& image, const std::function<void()>& onFailure);

    TruncatingLabel* m_titleLabel = nullptr;
    TruncatingLabel* m_metaLabel = nullptr;
    IslandIconButton* m_closeButton = nullptr;
    QStackedWidget* m_pages = nullptr;
    InspectorEditableTextView* m_textView = nullptr;
    FittedImageView* m_imageView = nullptr;
    QScrollArea* m_fileScroll = nullptr;
    QWidget* m_messagePage = nullptr;
    QLabel* m_messageIcon = nullptr;
    TruncatingLabel* m_messageTitle = nullptr;
    TruncatingLabel* m_messageDetail = nullptr;

    std::optional<QUuid> m_shownItemID;
    Content m_content = Content::message;
    QString m_messageSymbol;
    QStringList m_fileNameLines;
    QStringList m_fileDetailLines;
    bool m_textExtractionHighlightRequested = false;
};

} // namespace QuillomareMac
