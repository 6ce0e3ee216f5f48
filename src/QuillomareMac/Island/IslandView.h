#pragma once

// The island's one content view. The panel controller places it (its geometry is the island's
// frame in the canvas, Qt's y-down coordinates of the panel's content) and switches it between
// collapsed and expanded; everything the user does in it leaves through the callback properties
// below, which the controller relays to the application shell.
//
// This first version carries the frame, the two modes, the morph and echo entry points and a
// plain drawing of the surface; the history list, inspector, shelf and their controls fill the
// expanded content later, in further files of this class.
//
// The surface is drawn from a "backing layer" of model values (frame, corner radius, colours,
// content opacities) that animations under "morph." and "echo." keys override while they run, so
// that a morph never lays the view out: the widget keeps the expanded rectangle for the whole
// morph and only the drawn surface moves.

#include "IslandAnimation.h"

#include <Platform/Pasteboard.h>
#include <QuillomareCore/CaptureFeedback.h>
#include <QuillomareCore/ClipboardItem.h>

#include "Pasteboard/PasteTransform.h"
#include "Shelf/ShelfItem.h"
#include "Shell/Localization.h"

#include <QColor>
#include <QList>
#include <QRectF>
#include <QUuid>
#include <QWidget>

#include <functional>
#include <memory>
#include <optional>

class QLineEdit;

namespace QuillomareMac {

class WorkItem;

class IslandView : public QWidget
{
    Q_OBJECT

public:
    enum class DisplayMode { collapsed, expanded };
    enum class CollapsedVisualStyle { hardwareNotch, floatingPill };
    enum class ContentMode { history = 0, shelfGallery = 1 };

    // The look of the surface in one state.
    struct SurfaceLook
    {
        double cornerRadius = 16;
        QColor background;
        QColor border;
        double backdropAlpha = 0;
    };

    explicit IslandView(const QRect& frame = QRect(), QWidget* parent = nullptr);
    ~IslandView() override;

    // MARK: Callbacks (each may be unset)
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
    std::function<void(AppLanguagePreference)> onChangeLanguage;
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
    std::function<void(const QList<ShelfItem>&, ShelfBatchAction)> onBatchShelfItems;
    std::function<void(const ShelfItem&)> onAirDropShelfItem;
    std::function<void(const ShelfItem&)> onRevealShelfItem;
    std::function<void(const QUuid& itemID)> onRemoveShelfItem;
    std::function<void()> onClearShelf;
    std::function<void()> onExpand;
    std::function<void()> onCaptureEchoDidFinish;

    // MARK: Frame and modes
    DisplayMode displayMode() const { return m_displayMode; }
    ContentMode contentMode() const { return m_contentMode; }
    CollapsedVisualStyle collapsedVisualStyle() const { return m_collapsedVisualStyle; }

    // The immediate switch, used whenever no morph runs (`animated` makes no difference).
    void setDisplayMode(DisplayMode mode, bool animated);
    // The end state after a morph.
    void finalizeAnimatedDisplayMode(DisplayMode mode);
    void setContentMode(ContentMode mode, bool animated);
    void updateContentModeVisibility(bool animated);

    // Layout values the panel controller pushes whenever it computes a frame for a screen.
    void setCollapsedVisualStyle(CollapsedVisualStyle style);
    void setExpandedTopInset(double inset);
    void setNotchHeaderLayout(double notchWidth, double stripHeight);
    void setExpandedContentHeight(double height);
    double expandedTopInset() const { return m_expandedTopInset; }
    double notchHeaderWidth() const { return m_notchHeaderWidth; }
    double notchHeaderStripHeight() const { return m_notchHeaderStripHeight; }
    double expandedContentHeight() const { return m_expandedContentHeight; }

    // MARK: Morph
    // `from` and `to` are frames in the canvas. The completion is called exactly once, after the
    // morph's animations end, also when a later morph superseded this one.
    void morph(const QRectF& from, const QRectF& to, bool expanding, double response, double damping,
               std::function<void()> completion);
    void applySurfaceStyle(DisplayMode mode);
    SurfaceLook surfaceLook(DisplayMode mode) const;
    // Puts the drawn surface where the frame is, in the current state's look, every morph or
    // echo animation removed.
    void syncBackingLayerToCurrentFrameWithoutAnimation();
    bool hasActiveIslandLayerAnimation() const;
    quint64 morphCompletionToken() const { return m_morphCompletionToken; }

    // MARK: Capture echo
    // Grows the surface from `from` to `to` (canvas frames) with the echo's spring.
    void morphEchoFrame(const QRectF& from, const QRectF& to, bool expanding, std::function<void()> completion);
    // Shows the feedback and ends the echo 1.57 s later (1.0 s with Reduce Motion), back on
    // `morphCollapsedFrame`, firing onCaptureEchoDidFinish.
    void presentCaptureEcho(const QuillomareCore::CaptureFeedback& feedback, const QRectF& morphCollapsedFrame);
    void finishEchoRetract(const QRectF& collapsedFrame);
    // Ends any echo at once, without onCaptureEchoDidFinish.
    void dismissCaptureEchoImmediately();
    bool isCaptureEchoShown() const { return m_echoFeedback.has_value(); }
    quint64 echoMorphCompletionToken() const { return m_echoMorphCompletionToken; }

    // MARK: Search
    void focusSearch();
    QLineEdit* searchInput() const { return m_searchInput; }

    // MARK: What is drawn now
    QRectF presentationFrame() const; // canvas coordinates
    double presentationCornerRadius() const;
    QColor presentationBackground() const;
    QColor presentationBorder() const;
    double presentationCollapsedContentOpacity() const;

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    void setup();
    void commitMorphEnd(const QRectF& finalFrame, DisplayMode mode);
    void commitEchoMorphEnd(const QRectF& finalFrame);
    void applyEchoChrome(bool active);
    void updateExpandedChildren();
    void setModelFrame(const QRectF& frame);
    double presentationDouble(const QString& key, double model) const;
    QColor presentationColor(const QString& key, const QColor& model) const;

    IslandAnimator& animator() const { return IslandAnimator::shared(); }

    DisplayMode m_displayMode = DisplayMode::expanded;
    ContentMode m_contentMode = ContentMode::history;
    CollapsedVisualStyle m_collapsedVisualStyle = CollapsedVisualStyle::floatingPill;
    double m_expandedTopInset = 14;
    double m_notchHeaderWidth = 0;
    double m_notchHeaderStripHeight = 0;
    double m_expandedContentHeight = 0;

    // The backing layer's model values.
    double m_cornerRadius = 16;
    QColor m_background;
    QColor m_border;
    double m_backdropAlpha = 0;
    double m_collapsedContentOpacity = 1;
    double m_expandedContentOpacity = 0;
    double m_layerOpacity = 1;

    quint64 m_morphCompletionToken = 0;
    quint64 m_echoMorphCompletionToken = 0;
    std::shared_ptr<WorkItem> m_captureEchoDismissWorkItem;
    std::optional<QuillomareCore::CaptureFeedback> m_echoFeedback;

    QLineEdit* m_searchInput = nullptr;
};

} // namespace QuillomareMac
