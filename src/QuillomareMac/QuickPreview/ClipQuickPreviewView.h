#pragma once

// The quick preview card over the expanded island: a header with the entry's kind, source and
// age and a close button, above the entry's text (selectable), its picture, its files or a
// message. A sensitive entry shows only the lock message: its content is never decoded, shown or
// read for text.
//
// Pictures are decoded off the GUI thread: a picture decoded before shows at once, then the whole
// picture (and a reduced copy for the fitted card) arrives; then its text is recognised, also off
// the GUI thread, and becomes the picture's Live Text. Each result lands only while the card
// still shows the entry (and the same showing of it) that asked for it.

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
class QuickPreviewImageView;

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

    // Forgets the shown entry: its content, picture and Live Text go, and results still under way
    // for it are dropped. The next applyQuickPreviewContent() starts afresh.
    void clearContent();

    // A non-empty text selection goes to onCopySelectedText: true; otherwise false.
    bool copySelectedTextIfAvailable();
    // Lights up the recognised text of the shown picture and shows the select-and-copy hint, now
    // or as soon as the text is recognised.
    void activateTextExtractionHighlight();
    bool textExtractionHighlightRequested() const { return m_textExtractionHighlightRequested; }

    enum class LiveTextState
    {
        none, // no picture shown, or recognition not asked for
        recognizing,
        ready, // words found
        noText,
        failed
    };
    LiveTextState liveTextState() const { return m_liveTextState; }

    // The hint texts, one place each.
    static QString selectAndCopyHint();
    static QString recognizingHint();

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
    QuickPreviewImageView* imageView() const { return m_imageView; }
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
    // Still the showing of the entry that a background result belongs to.
    bool stillShows(const QUuid& id, quint64 showing) const;
    void applyPicture(const QUuid& id, quint64 showing, const QImage& reduced, const QImage& whole,
                      const std::function<void()>& onFailure);
    void startTextRecognition(const QUuid& id, quint64 showing, const QImage& whole);
    void applyLiveTextState(LiveTextState state, const QString& message = QString());

    TruncatingLabel* m_titleLabel = nullptr;
    TruncatingLabel* m_metaLabel = nullptr;
    IslandIconButton* m_closeButton = nullptr;
    QStackedWidget* m_pages = nullptr;
    InspectorEditableTextView* m_textView = nullptr;
    QuickPreviewImageView* m_imageView = nullptr;
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
    // Counts showings: an entry shown again starts a new one, and results of an older one are
    // dropped even for the same entry.
    quint64 m_showing = 0;
    // What the shown content came from; the same entry pushed again with it keeps its zoom,
    // selection and Live Text.
    QString m_shownSignature;
    bool m_imagePipelineStarted = false;
    // The key recognised words are remembered under for this picture.
    QString m_liveTextKey;
    LiveTextState m_liveTextState = LiveTextState::none;
    QString m_liveTextMessage;
};

} // namespace QuillomareMac
