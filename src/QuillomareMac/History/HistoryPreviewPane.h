#pragma once

// The inspector's content area: one entry as an editable copy of its text, its picture, a summary
// of its files, a lock message or a message when there is nothing to show. Edits change only what
// the next copy takes; the stored entry never changes. Pictures and file thumbnails arrive off
// the GUI thread and land only while the view still shows the entry they were asked for.

#include <QuillomareCore/ClipboardItem.h>

#include <QAbstractButton>
#include <QPlainTextEdit>
#include <QUuid>
#include <QWidget>

#include <functional>
#include <optional>

class QLabel;

namespace QuillomareMac {

class AspectFillImageView;
class TruncatingLabel;

// A text view lays its text out whole, on the GUI thread, and a paragraph up to three times when
// the text is put in: one long paragraph of 8 K characters takes about 5 ms each time, a
// megabyte seconds. Beyond this many UTF-16 units only the beginning of a text is shown,
// read-only, with a note of the whole text's size.
inline constexpr qsizetype shownTextLimit = 8 * 1024;
// The part of a text a preview shows: all of it, or its first shownTextLimit units cut at a
// character boundary.
QString shownTextPrefix(const QString& text);
// For a text longer than what is shown: how much of how much is shown.
std::optional<QString> cutTextNote(const QString& text);

// Plain text only. Control+C (other modifiers may be held too) or the menu's Copy over a selection
// hands the selection to onCopySelectedText and writes nothing to the clipboard itself; without a
// selection the standard copy runs.
class InspectorEditableTextView final : public QPlainTextEdit
{
    Q_OBJECT

public:
    explicit InspectorEditableTextView(QWidget* parent = nullptr);

    std::function<void(const QString&)> onCopySelectedText;

    // The selection with line breaks as "\n"; absent when nothing is selected.
    std::optional<QString> selectedPlainText() const;
    // The whole text with line breaks as "\n" and every other character as typed.
    QString plainText() const;
    void copySelection();
    static bool isCopyShortcut(const QKeyEvent* event);

protected:
    bool event(QEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;
};

// The small rounded text pill of the text toolbar (Reset, Copy).
class InspectorMiniPillButton final : public QAbstractButton
{
    Q_OBJECT

public:
    InspectorMiniPillButton(const QString& title, const QString& tooltip, QWidget* parent = nullptr);

    const QString& displayTitle() const { return m_displayTitle; }
    bool isHovering() const { return m_isHovering; }

    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;
    void enterEvent(QEnterEvent* event) override;
    void leaveEvent(QEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    QString m_displayTitle;
    bool m_isHovering = false;
};

class HistoryInspectorPreviewView final : public QWidget
{
    Q_OBJECT

public:
    enum class Mode
    {
        editableText,
        image,
        file,
        sensitive,
        empty
    };

    explicit HistoryInspectorPreviewView(QWidget* parent = nullptr);

    std::function<void(const QString&)> onCopyText;
    std::function<void()> onRequestImagePreview;

    void configure(const QuillomareCore::ClipboardItem& item);
    // The text the Original and Plain Text tiles copy instead of the entry: present only in the
    // text mode and when the text is not blank.
    std::optional<QString> editableTextForCopy() const;
    // Shows a message; the mode is left to the caller.
    void configureMessage(const QString& symbol, const QString& title, const QString& detail);
    void hideAllModes();

    Mode currentMode() const { return m_currentMode; }
    void setCurrentMode(Mode mode) { m_currentMode = mode; }
    std::optional<QUuid> currentItemID() const { return m_currentItemID; }
    void clearCurrentItem() { m_currentItemID.reset(); }

    // Read-outs.
    InspectorEditableTextView* textView() const { return m_textView; }
    QLabel* textStatusLabel() const;
    InspectorMiniPillButton* resetButton() const { return m_textResetButton; }
    InspectorMiniPillButton* copyButton() const { return m_textCopyButton; }
    AspectFillImageView* imagePreview() const { return m_imagePreview; }
    QLabel* fileTitleLabel() const;
    QLabel* fileMetaLabel() const;
    QLabel* filePathLabel() const;
    QLabel* fileIconView() const { return m_fileIconView; }
    // The symbol the file icon shows; empty for a file manager icon or a thumbnail.
    const QString& fileIconSymbol() const { return m_fileIconSymbol; }
    bool fileIconShowsThumbnail() const { return m_fileIconShowsThumbnail; }
    QLabel* messageTitle() const;
    QLabel* messageDetail() const;
    const QString& messageSymbol() const { return m_messageSymbol; }
    bool isTextEdited() const;
    // Only the beginning of the text is shown (and it cannot be edited).
    bool isTextCut() const { return m_textIsCut; }

protected:
    void paintEvent(QPaintEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void setupLayout();
    void configureText(const QString& text, bool isLink);
    void configureImage(const QuillomareCore::ClipboardItem& item);
    void configureFiles(const QStringList& paths, const QuillomareCore::ClipboardItem& item);
    void configureFileSummary(const QStringList& paths);
    void showMissingContent(const QString& title);
    void showImageContainer();
    void updateTextStatus();
    void resetTextTapped();
    void copyTextTapped();
    void requestThumbnail(const QString& path);
    void setFileIconSymbol(const QString& symbol, const QString& description);
    bool stillShowsImageOf(const QUuid& id) const;

    QWidget* m_textContainer = nullptr;
    TruncatingLabel* m_textStatusLabel = nullptr;
    InspectorMiniPillButton* m_textResetButton = nullptr;
    InspectorMiniPillButton* m_textCopyButton = nullptr;
    InspectorEditableTextView* m_textView = nullptr;
    QWidget* m_imageContainer = nullptr;
    AspectFillImageView* m_imagePreview = nullptr;
    QWidget* m_fileContainer = nullptr;
    QLabel* m_fileIconView = nullptr;
    TruncatingLabel* m_fileTitleLabel = nullptr;
    TruncatingLabel* m_fileMetaLabel = nullptr;
    TruncatingLabel* m_filePathLabel = nullptr;
    QWidget* m_messageContainer = nullptr;
    QLabel* m_messageIcon = nullptr;
    TruncatingLabel* m_messageTitle = nullptr;
    TruncatingLabel* m_messageDetail = nullptr;

    QString m_originalText;
    // The text view's text right after the original was put in (line breaks normalised), what
    // "edited" is measured against.
    QString m_shownOriginalText;
    bool m_textIsCut = false;
    std::optional<QUuid> m_currentItemID;
    Mode m_currentMode = Mode::empty;
    std::optional<QString> m_currentThumbnailURL;
    QString m_fileIconSymbol;
    bool m_fileIconShowsThumbnail = false;
    QString m_messageSymbol;
};

} // namespace QuillomareMac
