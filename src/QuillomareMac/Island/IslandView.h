#pragma once

// The island's one content view. The panel controller places it (its geometry is the island's
// frame in the canvas, Qt's y-down coordinates of the panel's content) and switches it between
// collapsed and expanded; everything the user does in it leaves through the callback properties
// below, which the controller relays to the application shell.
//
// The class is defined in one source file per concern. The island's own concerns are here; each
// subsystem's concern lives in the subsystem's folder, and the island reaches it only through the
// members that file defines (this header includes none of the subsystems' headers):
//   IslandView.cpp             construction and the view tree
//   IslandViewAlpha.cpp        the views' alpha and scale
//   IslandViewModes.cpp        display and content modes, the mouse
//   IslandViewLayout.cpp       layout metrics pushed by the controller, placement of the two roots
//   IslandViewHeader.cpp       header buttons, language menu, mode labels, status texts, toast
//   IslandViewKeyboard.cpp     the key equivalents of the expanded island
//   IslandViewMorph.cpp        the drawn surface and the morph between the two states
//   IslandViewEcho.cpp         the capture echo
//   History/IslandViewHistoryTree.cpp    the history's part of the tree: search row, filters, list
//   History/IslandViewHistory.cpp        history list, selection, search field and selection bar
//   History/IslandViewDetails.cpp        the inspector beside the list
//   History/IslandViewHistoryActions.cpp the history's actions, tiles and menus
//   Shelf/Views/IslandViewShelf*.cpp     shelf mode: state, actions, drops, gallery, list variant
//   QuickPreview/IslandViewQuickPreview.cpp the quick preview card
//
// The surface is drawn from a "backing layer" of model values (frame, corner radius, colours,
// content opacities) that animations under "morph." and "echo." keys override while they run, so
// that a morph never lays the view out: the widget keeps the expanded rectangle for the whole
// morph and only the drawn surface moves. Every change of a presented value must end in
// presentationDidChange(), which places the two content roots where the surface is, gives them
// their opacity and repaints.
//
// Views have an "alpha" as well as a hidden flag, as the island's design asks: alphaValue() and
// setAlphaValue() keep it in an opacity effect that exists only while the alpha is below 1.

#include "Island/Kit/IslandAnimation.h"
#include "IslandCallbacks.h"

#include <Platform/Pasteboard.h>
#include <QuillomareCore/CaptureFeedback.h>
#include <QuillomareCore/ClipboardItem.h>
#include <QuillomareCore/CloudSyncService.h>
#include <QuillomareCore/Language.h>

#include "Pasteboard/PasteTransform.h"

#include <QColor>
#include <QDateTime>
#include <QHash>
#include <QList>
#include <QMenu>
#include <QPainterPath>
#include <QPointer>
#include <QRectF>
#include <QSet>
#include <QUuid>
#include <QWidget>

#include <array>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

class QTimer;

class QAbstractButton;
class QAction;
class QKeyEvent;
class QLabel;
class QLineEdit;
class QMimeData;
class QSpacerItem;
class QVBoxLayout;

namespace QuillomareMac {

class CaptureEchoHUDView;
class ClipQuickPreviewView;
class ClipRowView;
class HistoryInspectorPreviewView;
class HistoryListFooterView;
class ClipThumbnailView;
class ShelfDropZoneView;
class ShelfGalleryCardView;
class ShelfItemRowView;
class ShelfSessionPillButton;
class ShelfBatchAction;
class ShelfPayload;
struct ShelfItem;
struct ShelfSession;
class IslandActionTileButton;
class IslandIconButton;
class IslandListScrollView;
class IslandSegmentedPillControl;
class IslandToastView;
class WorkItem;

class IslandView : public QWidget, public IslandCallbacks
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
    };

    explicit IslandView(const QRect& frame = QRect(), QWidget* parent = nullptr);
    ~IslandView() override;

    // MARK: Callbacks of the view itself (the user's actions come from IslandCallbacks)
    std::function<void()> onExpand;
    std::function<void()> onCaptureEchoDidFinish;

    // MARK: View alpha
    // 1 for a view without an opacity effect.
    static double alphaValue(const QWidget* view);
    // Clamped to 0...1; an alpha of 1 removes the effect again, so resting views draw directly.
    static void setAlphaValue(QWidget* view, double alpha);
    // The scale a view is drawn at about its centre, kept in the same effect as its alpha; 1
    // (with an alpha of 1) removes the effect.
    static double contentScale(const QWidget* view);
    static void setContentScale(QWidget* view, double scale);
    // The MIME types a drop onto the island may carry (file URLs and URLs, text, PNG, TIFF, HTML).
    static const QStringList& registeredDragTypes();

    // MARK: Frame and modes (IslandViewModes.cpp)
    DisplayMode displayMode() const { return m_displayMode; }
    ContentMode contentMode() const { return m_contentMode; }
    CollapsedVisualStyle collapsedVisualStyle() const { return m_collapsedVisualStyle; }

    // The immediate switch, used whenever no morph runs (`animated` makes no difference).
    void setDisplayMode(DisplayMode mode, bool animated);
    // The end state after a morph.
    void finalizeAnimatedDisplayMode(DisplayMode mode);
    // Switching to another mode dismisses the quick preview and rebuilds the list it shows;
    // animated (and expanded), the two containers cross-fade over 0.2 s.
    void setContentMode(ContentMode mode, bool animated);
    void updateContentModeVisibility(bool animated);
    // The mode switch's action.
    void contentModeChanged();
    // Collapsed, the island is one button: the view itself answers every point. Expanded, the
    // deepest visible child under the point (or the view).
    QWidget* hitTest(const QPointF& point);

    // MARK: Layout metrics (IslandViewLayout.cpp)
    // Layout values the panel controller pushes whenever it computes a frame for a screen.
    void setCollapsedVisualStyle(CollapsedVisualStyle style);
    // Whether the desktop blurs what lies behind the island's window; without it the expanded
    // surface is drawn nearly opaque (see IslandTheme::surfaceAlpha).
    void setBackdropBlurred(bool blurred);
    bool isBackdropBlurred() const { return m_backdropBlurred; }
    void setExpandedTopInset(double inset);
    void setNotchHeaderLayout(double notchWidth, double stripHeight);
    void setExpandedContentHeight(double height);
    void updateContentDeckMetrics(double expandedHeight);
    void refreshSegmentIndicators();
    double expandedTopInset() const { return m_expandedTopConstraint.value_or(14); }
    double notchHeaderWidth() const { return m_notchHeaderWidth; }
    double notchHeaderStripHeight() const { return m_notchHeaderStripHeight; }
    double expandedContentHeight() const { return m_expandedHeightConstraint.value_or(332); }
    // The constants of the expanded layout, as last set.
    std::optional<double> expandedWidthConstraint() const { return m_expandedWidthConstraint; }
    std::optional<double> headerNotchGapConstraint() const { return m_headerNotchGapConstraint; }
    std::optional<double> contentDeckHeightConstraint() const { return m_contentDeckHeightConstraint; }
    std::optional<double> scrollHeightConstraint() const { return m_scrollHeightConstraint; }
    double headerContentClearance() const { return m_headerContentClearance; }
    // Places both roots and lays the expanded content out now (when expanded).
    void relayoutNow();

    // MARK: Header and status texts (IslandViewHeader.cpp)
    static QString syncText(const QuillomareCore::CloudSyncState& state);
    static QString defaultMessage(const QList<QuillomareCore::ClipboardItem>& items);
    // What the toast flashes of a message: a message with details (Notice::withDetails) gives
    // its headline and a pointer to the header's tooltip, which holds the whole.
    static QString flashedMessage(const QString& message);
    // The history, the sync state and an optional status message from the shell: the collapsed
    // island's count, sync word and dot, the tooltips, the mode labels, a transient status when
    // expanded, and the list.
    void configure(const QList<QuillomareCore::ClipboardItem>& items, const QuillomareCore::CloudSyncState& syncState,
                   const std::optional<QString>& message);
    void refreshModeLabels();
    void showTransientStatus(const QString& text);
    // Shows a message handed over while the island was collapsed, now that it is expanded.
    void showPendingExpandedMessage();
    void languageTapped(QWidget* sender);
    void languageMenuItemTapped(QAction* item);
    // The stored language choice, read afresh; the shell keeps it (Shell/Localization.cpp).
    static QuillomareCore::AppLanguagePreference storedLanguagePreference();
    void settingsTapped(QWidget* sender);
    void hideTapped();
    void quitTapped();
    void pullFromIPhoneTapped();
    void clearTapped();
    // A menu in the island's dark look (the island's menus all use it).
    static QMenu* makeIslandMenu(QWidget* parent = nullptr);
    QMenu* languageMenu() const { return m_languageMenu; }
    QColor collapsedDotColor() const;

    // MARK: Keyboard (IslandViewKeyboard.cpp)
    // What a key equivalent does; decided without side effects, so that a shortcut override can
    // claim the key before the focused field sees it.
    enum class KeyAction {
        dismissQuickPreview,
        copyFromQuickPreview,
        focusSearch,
        copyOriginal,
        copyPlainText,
        copyMarkdown,
        copyCleanURL,
        copyFileName,
        copyFilePath,
        pasteIntoShelf,
        quickPreview,
        copySelectedItem,
    };
    std::optional<KeyAction> keyEquivalentAction(const QKeyEvent& event) const;
    // True when the island handled the key (it then goes no further).
    bool performKeyEquivalent(QKeyEvent* event);
    static bool isCopyShortcut(const QKeyEvent& event);
    bool handleExpandedKeyEquivalent(QKeyEvent* event);
    // The pasteboard that Control-V in the shelf hands over; the desktop's clipboard unless set.
    void setGeneralPasteboard(Platform::Pasteboard* pasteboard) { m_generalPasteboard = pasteboard; }
    Platform::Pasteboard& generalPasteboard();

    // MARK: Morph (IslandViewMorph.cpp)
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
    // Without a compositing manager the window shows only its shape, and a half-covered pixel
    // at the surface's edge shows black: the surface then fills its pixel region whole instead
    // of antialiasing its edge.
    void setEdgesCutToShape(bool cut);
    bool edgesCutToShape() const { return m_edgesCutToShape; }

    // MARK: Capture echo (IslandViewEcho.cpp)
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
    // Animates the echo back into the collapsed island, then finishEchoRetract().
    void retractCaptureEcho(const QRectF& collapsedFrame);
    // A still echo at its end state: no animation, no retract (the off-screen preview).
    void showCaptureEchoPreview(const QuillomareCore::CaptureFeedback& feedback);
    // How wide the echo must be for the feedback's badge to show its texts whole, on one line.
    static double captureEchoWidth(const QuillomareCore::CaptureFeedback& feedback);
    void applyEchoChrome(bool active);
    // The badge; created with the first echo (nullptr before).
    CaptureEchoHUDView* captureEchoHUD() const { return m_captureEchoHUD; }
    // True while a collapse's end waits for the echo that interrupted it.
    bool hasHeldMorphCompletion() const { return !m_echoHeldMorphCompletions.empty(); }

    // MARK: What is drawn now
    QRectF presentationFrame() const; // canvas coordinates
    double presentationCornerRadius() const;
    QColor presentationBackground() const;
    QColor presentationBorder() const;
    // The surface's outline in `frame`; over a camera housing the top corners stay square.
    static QPainterPath surfacePath(const QRectF& frame, double radius, bool hardwareNotch);
    // The outline as pixels: every pixel whose centre lies inside it.
    static QRegion surfaceRegion(const QRectF& frame, double radius, bool hardwareNotch);
    // The pixels of the surface as presented now, in the view's own coordinates; empty when
    // nothing is drawn. One computation for the view's mask, the window's input and bounding
    // shapes and the painted fill, so that they agree on every edge pixel.
    QRegion presentedSurfaceRegion() const;
    double presentationCollapsedContentOpacity() const;
    double presentationExpandedContentOpacity() const;
    // The expanded content's scale about its centre: 1 at rest, down to 0.97 while collapsing.
    double presentationExpandedContentScale() const;

    // MARK: History list, selection and search (IslandViewHistory.cpp)
    // Segment i of the kind control filters by entry i.
    static const std::array<QuillomareCore::ClipKindFilter, 4>& kindFilters();
    // "刚刚" / "just now", "<m> 分钟前" / "<m>m ago", … then the short date.
    static QString relativeTimeText(const QDateTime& date);
    // The rows signature of `items` with the current search text and segments.
    QString makeHistoryRowsSignature(const QList<QuillomareCore::ClipboardItem>& items) const;
    // The signature's two parts: the search text and segments, and one record per entry.
    QString historySignatureHeader(qsizetype count) const;
    static QString historyItemsSignature(const QList<QuillomareCore::ClipboardItem>& items);
    static QString payloadSignature(const QuillomareCore::ClipboardPayload& payload);
    // Texts longer than 80 characters become their first 48, "…" and their last 24.
    static QString abbreviatedForSignature(const QString& text);
    // A kind's word in the history's and the shelf's row signatures.
    static QString kindSignature(QuillomareCore::ClipKind kind);
    // Every term occurs in the entry's search text (its preview, source and descriptive words).
    static bool matches(const QuillomareCore::ClipboardItem& item, const QStringList& terms);
    static QString searchText(const QuillomareCore::ClipboardItem& item);
    void refreshFilterLabels();
    QString emptyMessage(bool hasQuery) const;
    // The search text trimmed and lower-cased.
    QString currentQuery() const;
    void focusSearch();
    void focusSearchTapped();
    QLineEdit* searchInput() const { return m_searchInput; }
    void controlTextDidChange();
    // The filter of a typed character, when it has not run yet (a command such as Return acts on
    // the list of what has been typed).
    void runPendingSearchFilter();
    // A key typed into the search field: Up, Down, Return, Escape. True when handled.
    bool searchFieldCommand(int key);
    void rebuildRows();
    // The island opens (from the pill, the hot key, the tray or the program itself): the list
    // shows its top row selected, and every row's age as of now. A selection made while the
    // island was open before does not outlive its closing.
    void prepareHistoryForOpening();
    void filterChanged();
    void selectItem(const QUuid& id, bool scrollIntoView);
    void toggleHistorySelection(const QuillomareCore::ClipboardItem& item, bool extendRange);
    void moveSelection(int offset);
    std::optional<QuillomareCore::ClipboardItem> visibleItem(const QUuid& id) const;
    QList<QuillomareCore::ClipboardItem> selectedHistoryItemsForActions() const;
    ClipRowView* historyRow(const QUuid& id) const { return m_rowViewsByID.value(id); }
    ClipRowView* historyRow(QMouseEvent* event) const;
    // The rows that exist now: those in view and a row beyond each edge.
    qsizetype historyRowCount() const { return m_rowViewsByID.size(); }
    QWidget* historyEmptyLabel() const { return m_historyEmptyLabel; }
    HistoryListFooterView* historyFooter() const { return m_historyFooter; }
    void suppressHistoryRowHoverDuringScroll();
    void refreshHistoryRowHoverUnderMouse();
    bool handleHistoryScrollFallbackMouseDown(QMouseEvent* event);
    bool handleHistoryScrollFallbackMouseDragged(QMouseEvent* event);
    bool handleHistoryScrollFallbackMouseUp(QMouseEvent* event);
    const QList<QuillomareCore::ClipboardItem>& items() const { return m_items; }
    const QList<QuillomareCore::ClipboardItem>& visibleItems() const { return m_visibleItems; }
    std::optional<QUuid> selectedItemID() const { return m_selectedItemID; }
    const QSet<QUuid>& selectedHistoryItemIDs() const { return m_selectedHistoryItemIDs; }
    std::optional<QUuid> lastHistorySelectionID() const { return m_lastHistorySelectionID; }
    std::optional<QString> lastHistoryRowsSignature() const { return m_lastHistoryRowsSignature; }
    int historyRebuildCount() const { return m_historyRebuildCount; }
    // The developer probes: the row of the visible entry at `index` exists and draws itself selected.
    bool debugIsHistoryRowSelectedForProbe(qsizetype index) const;

    // MARK: Selection bar (IslandViewHistory.cpp)
    void updateHistorySelectionBar();
    void historyCombineTapped(int tag);
    void clearHistorySelectionTapped();
    QLabel* historySelectionLabel() const { return m_historySelectionLabel; }

    // MARK: Inspector (IslandViewDetails.cpp)
    void updateHistoryInspector();
    static QStringList historyInspectorChips(const QuillomareCore::ClipboardItem& item);
    void refreshHistoryInspectorChips(const QStringList& texts, const std::optional<QuillomareCore::ClipboardItem>& item);
    static QString historySizeText(const QuillomareCore::ClipboardItem& item);
    static QString historyInfoText(const QuillomareCore::ClipboardItem& item);
    HistoryInspectorPreviewView* historyInspectorPreview() const { return m_historyInspectorPreview; }
    QLabel* historyInspectorTitle() const { return m_historyInspectorTitle; }
    QLabel* historyInspectorPinnedStatus() const { return m_historyInspectorPinnedStatus; }
    QLabel* historyInspectorInfo() const { return m_historyInspectorInfo; }
    QWidget* historyInspectorChipRow() const { return m_historyInspectorChipRow; }
    // The eleven tiles in their order: Original … File Path, Extract Text, AirDrop, Show in
    // Finder, Quick Look, More.
    QList<IslandActionTileButton*> historyInspectorTiles() const;

    // MARK: History actions (IslandViewHistoryActions.cpp)
    void copySelectedItem();
    void historyOriginalTapped();
    void historyPlainTapped();
    void historyMarkdownTapped();
    void historyCleanURLTapped();
    void historyFileNameTapped();
    void historyFilePathTapped();
    void historyQuickPreviewTapped();
    void historyOCRTapped();
    void historyAirDropTapped();
    void historyRevealTapped();
    void historyMoreTapped();
    // The More menu of the primary action item (the caller owns it); nullptr without one.
    QMenu* makeHistoryMoreMenu();
    void historyPasteVariantMenuItemTapped(int tag);
    void historyTogglePinTapped();
    void historyQRCodeTapped();
    void historyExportTapped();
    void historyCondenseTapped();
    void historyDeleteTapped();
    void copyInspectorDraftText(const QString& text);
    std::optional<QuillomareCore::ClipboardItem> currentItemForAirDropAction() const;

    // MARK: Shelf (IslandViewShelf.cpp)
    // The whole shelf from the shell: the session with `selectedSessionID` is shown (the first
    // one when none has it). The cards and rows are built again only when the shelf signature
    // changed. A message is the outcome of a shelf action: it titles the list variant's drop zone
    // and is the island's transient status (once expanded, when it arrives collapsed).
    void configureShelf(const QList<ShelfSession>& sessions, const QUuid& selectedSessionID,
                        const std::optional<QString>& message);
    // One session of the given entries, named by the default name (a probe's way in).
    void configureShelf(const QList<ShelfItem>& items, const std::optional<QString>& message);
    void refreshShelfSessionMenu();
    void updateShelfDropZone(const std::optional<QString>& message);
    static QString shelfDropZoneTitle(const std::optional<QString>& message, qsizetype count);
    static QString shelfDropZoneSubtitle(const std::optional<QString>& message, qsizetype count);
    static QString shelfGalleryDropZoneTitle();
    static QString shelfGalleryDropZoneSubtitle();
    QString makeShelfRowsSignature() const;
    void rebuildShelfRows();
    int shelfRebuildCount() const { return m_shelfRebuildCount; }
    std::optional<ShelfSession> currentShelfSession() const;
    void selectShelfItem(const QUuid& id, bool scrollIntoView);
    void toggleShelfSelection(const ShelfItem& item, bool extendRange);
    std::optional<ShelfItem> selectedShelfItem() const;
    // The focused entry as a history entry (the shelf's side of the history's copy and share).
    std::optional<QuillomareCore::ClipboardItem> selectedShelfClipboardItem() const;
    void copySelectedShelfItem();
    // The multi-selection in list order, else the focused entry, else the whole session when
    // `defaultToSession`.
    QList<ShelfItem> selectedShelfItemsForActions(bool defaultToSession) const;
    void moveShelfSelection(int offset);
    // The gallery card under a mouse event that reached the gallery's scroll view.
    ShelfGalleryCardView* shelfGalleryCard(QMouseEvent* event) const;
    bool handleShelfGalleryFallbackMouseDown(QMouseEvent* event);
    bool handleShelfGalleryFallbackMouseDragged(QMouseEvent* event);
    bool handleShelfGalleryFallbackMouseUp(QMouseEvent* event);
    const QList<ShelfSession>& shelfSessions() const;
    const QList<ShelfItem>& shelfItems() const;
    qsizetype shelfItemCount() const;
    std::optional<QUuid> selectedShelfItemID() const { return m_selectedShelfItemID; }
    const QSet<QUuid>& selectedShelfItemIDs() const { return m_selectedShelfItemIDs; }
    std::optional<QUuid> lastShelfSelectionID() const { return m_lastShelfSelectionID; }
    std::optional<QUuid> selectedShelfSessionID() const { return m_selectedShelfSessionID; }
    std::optional<QString> lastShelfRowsSignature() const { return m_lastShelfRowsSignature; }
    std::optional<QUuid> shelfGalleryFallbackCardID() const { return m_shelfGalleryFallbackCardID; }
    ShelfGalleryCardView* shelfGalleryCardView(const QUuid& id) const { return m_shelfGalleryCardViewsByID.value(id); }
    ShelfItemRowView* shelfRowView(const QUuid& id) const { return m_shelfRowViewsByID.value(id); }
    qsizetype shelfGalleryCardCount() const { return m_shelfGalleryCardViewsByID.size(); }

    // MARK: Shelf actions and menus (IslandViewShelfActions.cpp)
    void shelfPreviewTapped();
    void shelfCopyTapped();
    void shelfCombineTapped();
    void shelfBatchTapped();
    void shelfGalleryMoreTapped();
    void shelfAirDropTapped();
    void shelfRevealTapped();
    void shelfRemoveTapped();
    void shelfClearTapped();
    void shelfSessionMenuTapped();
    void createShelfSessionTapped();
    void renameShelfSessionTapped();
    // The menus' items; a tag is the case index of the variant, format or batch action.
    void shelfPasteVariantMenuItemTapped(int tag);
    void shelfCombineMenuItemTapped(int tag);
    void shelfBatchMenuItemTapped(int tag);
    void shelfSessionMenuItemTapped(QAction* item);
    void showCombineMenu(QWidget* anchor, void (IslandView::*handler)(int));

    // MARK: Drop onto the island (IslandViewShelfDrop.cpp)
    // What a drop or a paste hands the shell: the representations of the registered types.
    static std::unique_ptr<Platform::MemoryPasteboard> shelfDropPasteboard(const QMimeData& data);
    static bool carriesShelfContent(const QMimeData& data);
    void draggingEntered();
    void draggingUpdated();
    void draggingExited();
    // Hands the data over through onShelfDropPasteboard.
    void performDragOperation(const QMimeData& data);
    void setShelfDropZonesHighlighted(bool highlighted);
    // Drag events addressed to a widget inside the island; true when the island took them.
    bool handleDescendantDragEvent(QWidget* receiver, QEvent* event);

    // MARK: Shelf gallery and list variant (IslandViewShelfGallery.cpp, IslandViewShelfList.cpp)
    // "files:<n>:<paths joined by |>", "url:<n>:<link>", "text:<n>:<text>" (n in characters,
    // long texts shortened) or "png:<bytes>:<Base64 of the first 16 bytes>".
    static QString shelfPayloadSignature(const ShelfPayload& payload);
    // "私密" / "Private", else the kind ("3 items" for a list of three files).
    static QString badgeText(const ShelfItem& item);
    // The badge, the subtitle's pieces between middle dots and the age; never a secret.
    static QStringList metadataChips(const ShelfItem& item);
    // The colour of the entry's thumbnail symbol.
    static QColor tintColor(const ShelfItem& item);
    // Whether sharing the entry would hand anything over; a picture is judged by its header, so
    // that moving the focus never decodes a large image.
    static bool canShareShelfItem(const ShelfItem& item);
    // A file of the entry exists, or it is a picture that is not private.
    static bool canRevealShelfItem(const ShelfItem& item);
    // The session line, the detail bar (with the tiles' enabled states) and the footer, each
    // computed again from the shelf state.
    void updateShelfGallerySession();
    void updateShelfGalleryDetail();
    void refreshShelfGalleryChips(const QStringList& texts);
    void updateShelfGalleryFooter();
    // The bytes the session's entries take, as the file manager counts them ("0 KB" for none).
    QString shelfEstimatedFootprintText() const;
    static QString formattedShelfByteCount(qint64 bytes);
    // Lights the gallery's drop zone for 0.8 s.
    void flashShelfGalleryDropHint();
    // The hidden list variant's panel, then the gallery's detail bar.
    void updateShelfActionPanel();
    ShelfDropZoneView* shelfGalleryDropZone() const { return m_shelfGalleryDropZone; }
    ShelfDropZoneView* shelfDropZone() const { return m_shelfDropZone; }
    QWidget* shelfGalleryStack() const { return m_shelfGalleryStack; }
    QWidget* shelfListStack() const { return m_shelfListStack; }
    IslandListScrollView* shelfGalleryScrollView() const { return m_shelfGalleryScrollView; }
    QLabel* shelfGallerySessionTitle() const { return m_shelfGallerySessionTitle; }
    QLabel* shelfGallerySessionSubtitle() const { return m_shelfGallerySessionSubtitle; }
    QWidget* shelfGallerySessionSwitch() const { return m_shelfGallerySessionSwitch; }
    ClipThumbnailView* shelfGalleryDetailThumbnail() const { return m_shelfGalleryDetailThumbnail; }
    QLabel* shelfGalleryDetailTitle() const { return m_shelfGalleryDetailTitle; }
    QLabel* shelfGalleryDetailSubtitle() const { return m_shelfGalleryDetailSubtitle; }
    QLabel* shelfGalleryDetailDescription() const { return m_shelfGalleryDetailDescription; }
    QStringList shelfGalleryDetailChipTexts() const;
    // Preview, Copy, AirDrop, Finder, Remove, Combine.
    QList<IslandActionTileButton*> shelfGalleryTiles() const;
    QLabel* shelfGalleryFooterInfoLabel() const { return m_shelfGalleryFooterInfoLabel; }
    QLabel* shelfGalleryFooterStorageLabel() const { return m_shelfGalleryFooterStorageLabel; }
    QLabel* shelfGalleryFooterRetentionLabel() const { return m_shelfGalleryFooterRetentionLabel; }
    QAbstractButton* shelfGalleryFooterClearButton() const { return m_shelfGalleryFooterClearButton; }
    IslandIconButton* shelfGalleryMoreButton() const { return m_shelfGalleryMoreButton; }
    QWidget* shelfActionPanel() const { return m_shelfActionPanel; }
    QLabel* shelfActionTitle() const { return m_shelfActionTitle; }
    QLabel* shelfActionSubtitle() const { return m_shelfActionSubtitle; }
    // Preview, Copy, AirDrop, Show in Finder, Remove, Clear, Combine, Batch.
    QList<IslandActionTileButton*> shelfActionTiles() const;
    ShelfSessionPillButton* shelfSessionButton() const { return m_shelfSessionButton; }

    // MARK: Quick preview (IslandViewQuickPreview.cpp)
    std::optional<QUuid> previewingItemID() const { return m_previewingItemID; }
    bool isQuickPreviewVisible() const;
    void presentQuickPreview(const QuillomareCore::ClipboardItem& item, bool animated);
    void openHistoryQuickPreview(const QuillomareCore::ClipboardItem& item);
    void dismissQuickPreview(bool animated);
    void updateQuickPreviewCardLayout();
    void bindQuickPreviewCallbacks(const QuillomareCore::ClipboardItem& item);
    // Copies the card's selected text (Live Text or text); false when nothing is selected.
    bool copyQuickPreviewSelectedTextIfAvailable();
    // Lights up the recognised text of the card's picture (Extract Text on a picture).
    void activateQuickPreviewTextExtractionHighlight();
    ClipQuickPreviewView* quickPreviewCard() const { return m_quickPreviewCard; }
    QWidget* quickPreviewBackdrop() const { return m_quickPreviewBackdrop; }

    // MARK: Views
    QWidget* backdropView() const { return m_backdropView; }
    QWidget* collapsedRoot() const { return m_collapsedRoot; }
    QLabel* collapsedTitleLabel() const { return m_collapsedTitleLabel; }
    QLabel* collapsedMetaLabel() const { return m_collapsedMetaLabel; }
    QWidget* expandedRoot() const { return m_expandedRoot; }
    QWidget* headerStack() const { return m_headerStack; }
    QWidget* headerCenterGroup() const { return m_headerCenterGroup; }
    IslandSegmentedPillControl* modeControl() const { return m_modeControl; }
    IslandIconButton* languageButton() const { return m_languageButton; }
    IslandIconButton* searchButton() const { return m_searchButton; }
    IslandIconButton* settingsButton() const { return m_settingsButton; }
    IslandIconButton* quitButton() const { return m_quitButton; }
    IslandIconButton* pullButton() const { return m_pullButton; }
    IslandIconButton* hideButton() const { return m_hideButton; }
    QWidget* contentDeck() const { return m_contentDeck; }
    QWidget* historyContainer() const { return m_historyContainer; }
    QWidget* historyControlsRow() const { return m_historyControlsRow; }
    QWidget* searchContainer() const { return m_searchContainer; }
    QLabel* searchPlaceholderLabel() const { return m_searchPlaceholderLabel; }
    QLabel* searchShortcutLabel() const { return m_searchShortcutLabel; }
    IslandSegmentedPillControl* filterControl() const { return m_filterControl; }
    IslandSegmentedPillControl* kindFilterControl() const { return m_kindFilterControl; }
    QWidget* historyBodyContainer() const { return m_historyBodyContainer; }
    QWidget* historyListColumn() const { return m_historyListColumn; }
    QWidget* historySelectionBar() const { return m_historySelectionBar; }
    IslandListScrollView* scrollView() const { return m_scrollView; }
    QWidget* historyInspectorPanel() const { return m_historyInspectorPanel; }
    QWidget* shelfGalleryContainer() const { return m_shelfGalleryContainer; }
    QWidget* shelfContainer() const { return m_shelfContainer; }
    IslandToastView* transientToast() const { return m_transientToast; }

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dragMoveEvent(QDragMoveEvent* event) override;
    void dragLeaveEvent(QDragLeaveEvent* event) override;
    void dropEvent(QDropEvent* event) override;

private:
    // Who has the keyboard when the island's window is activated (IslandViewKeyboard.cpp).
    void windowActivationChanged(bool active);

    // MARK: Tree (IslandView.cpp)
    void setup();
    void setupCollapsedRoot();
    void setupExpandedRoot();
    void setupHeader();
    void setupContentDeck();
    void setupHistoryContainer();
    void setupSearchRow();
    void setupFilters();
    void setupListAndScrollView();
    void setCollapsedDotColor(const QColor& color);

    // The parts other files fill (each builds at least the container the tree places).
    void setupHistoryInspectorPanel();
    void configureHistorySelectionBar();
    void configureHistoryScrollHoverBehavior();
    void setupShelfGalleryContainer();
    void setupShelfContainer();
    void setupCaptureEchoOverlay();
    void setupQuickPreviewOverlay();

    // MARK: Layout (IslandViewLayout.cpp)
    // The view's own layout pass: keeps the expanded width 34 points less than the view's.
    void layoutSubviews();
    void placeRoots();
    void applyExpandedConstraints();
    void relayout();
    // The morph and echo changed a presented value.
    void presentationDidChange();
    // Unhides both roots while a morph runs, then presentationDidChange().
    void updateExpandedChildren();
    void updateMouseRouting();

    // MARK: Modes
    void finishContentModeFade(ContentMode mode);

    // MARK: Keyboard
    std::optional<KeyAction> expandedKeyAction(const QKeyEvent& event) const;
    void performKeyAction(KeyAction action);

    // MARK: Morph and echo
    void commitMorphEnd(const QRectF& finalFrame, DisplayMode mode);
    void commitEchoMorphEnd(const QRectF& finalFrame);
    CaptureEchoHUDView& ensureCaptureEchoHUD();
    void placeCaptureEchoHUD();
    void setEchoBadgeOpacity(double opacity);
    // An echo that starts while the island is still collapsing takes over from the collapse.
    void retireCollapseForEcho();
    void releaseHeldMorphCompletions();
    void setModelFrame(const QRectF& frame);
    double presentationDouble(const QString& key, double model) const;
    QColor presentationColor(const QString& key, const QColor& model) const;

    // MARK: History list and actions
    void wireHistoryRow(ClipRowView* row);
    // The list makes rows only for the entries in view (and a few beyond), as it scrolls: a
    // history of a thousand entries costs a dozen rows.
    void materializeHistoryRows();
    ClipRowView* makeHistoryRow(qsizetype index);
    void placeHistoryListViews();
    QRect historyRowFrame(qsizetype index) const;
    qsizetype visibleIndex(const QUuid& id) const;
    void redrawHistoryRowSelection();
    void showQuickPreviewEntry(const QuillomareCore::ClipboardItem& item);
    std::optional<QuillomareCore::ClipboardItem> primaryActionItem() const;
    bool copyVariantIfOffered(PasteVariant variant, IslandActionTileButton* tile);
    // The inspector's edited text, when it shows one that can be copied.
    std::optional<QString> inspectorEditableTextForCopy() const;
    // The list's height for the deck, kept inside the body the list column has.
    void applyHistoryListHeight();
    // The list's document: its rows and footer, and while the selection bar shows room to scroll
    // the rows back under the pointer (see updateHistorySelectionBar).
    void applyHistoryDocumentHeight();
    // Arrows, Return and Escape wherever the keyboard is in the island (the search field's own
    // commands among them). True when handled.
    bool handleListNavigationKey(QKeyEvent* event, QWidget* receiver);
    // A text editor of the inspector has the keyboard: it keeps its own Space, Control-C,
    // Control-A, arrows and Return, also those it passes on to its parents unused.
    bool inspectorTextEditorHasKeyboard() const;

    // MARK: Shelf state and actions
    void repairShelfFocus();
    void finishShelfPush(const std::optional<QString>& message);
    void showShelfMessage(const QString& message);
    bool isShelfItemMarked(const QUuid& id) const;
    void markShelfSelection();
    QList<ShelfItem> shelfDragItems(const QUuid& id) const;
    void previewShelfItem(const ShelfItem& item);
    // A menu of the hidden list variant opens at the gallery's counterpart of its anchor.
    static QWidget* shownMenuAnchor(QWidget* listAnchor, QWidget* galleryAnchor);
    void popUpShelfMenu(QMenu* menu, QWidget* anchor);

    IslandAnimator& animator() const { return IslandAnimator::shared(); }

    // MARK: Animation keys of the view itself
    static inline const QString kMorphBounds = QStringLiteral("morph.bounds");
    static inline const QString kMorphCornerRadius = QStringLiteral("morph.cornerRadius");
    static inline const QString kMorphBackground = QStringLiteral("morph.backgroundColor");
    static inline const QString kMorphBorder = QStringLiteral("morph.borderColor");
    static inline const QString kMorphCollapsedOpacity = QStringLiteral("morph.opacity.collapsedRoot");
    static inline const QString kMorphExpandedOpacity = QStringLiteral("morph.opacity.expandedRoot");
    static inline const QString kMorphContentScale = QStringLiteral("morph.contentScale");
    static inline const QString kEchoBounds = QStringLiteral("echo.bounds");
    static inline const QString kEchoOpacityRestore = QStringLiteral("echo.opacity.restore");
    static inline const QString kEchoRetractBounds = QStringLiteral("echo.retract.bounds");
    static inline const QString kEchoRetractRadius = QStringLiteral("echo.retract.radius");
    static inline const QString kEchoRetractShell = QStringLiteral("echo.retract.shell");
    // The pill's own content coming back while the echo's shell retracts into it.
    static inline const QString kEchoRetractContent = QStringLiteral("echo.retract.content");
    // On the badge, a layer of its own: its fades do not count as island-layer animations.
    static inline const QString kEchoRetractHUD = QStringLiteral("echo.retract.hud");
    static inline const QString kEchoBadgeFadeIn = QStringLiteral("echo.badge.fadeIn");
    static inline const QString kMorphPrefix = QStringLiteral("morph.");
    static inline const QString kEchoPrefix = QStringLiteral("echo.");

    // MARK: State
    DisplayMode m_displayMode = DisplayMode::expanded;
    ContentMode m_contentMode = ContentMode::history;
    CollapsedVisualStyle m_collapsedVisualStyle = CollapsedVisualStyle::floatingPill;
    bool m_backdropBlurred = false;
    // The search field was asked for (show with focusSearch, Control-F, a click) since the
    // island's window last lost the keyboard; otherwise the island itself takes it when the
    // window is activated.
    bool m_searchFocusAsked = false;
    double m_notchHeaderWidth = 0;
    double m_notchHeaderStripHeight = 0;

    // Constants of the expanded layout ("constraints"); absent until the tree is built.
    std::optional<double> m_expandedTopConstraint;
    std::optional<double> m_expandedHeightConstraint;
    std::optional<double> m_expandedWidthConstraint;
    std::optional<double> m_contentDeckHeightConstraint;
    std::optional<double> m_scrollHeightConstraint;
    std::optional<double> m_headerNotchGapConstraint;
    double m_headerContentClearance = 7;

    // The backing layer's model values.
    double m_cornerRadius = 16;
    QColor m_background;
    QColor m_border;
    bool m_edgesCutToShape = false;
    // The surface's pixels as of the last presented frame (the mask's, while one is set).
    QRegion m_presentedRegion;
    double m_collapsedContentOpacity = 1;
    double m_expandedContentOpacity = 0;
    double m_layerOpacity = 1;

    quint64 m_morphCompletionToken = 0;
    quint64 m_echoMorphCompletionToken = 0;
    std::shared_ptr<WorkItem> m_captureEchoDismissWorkItem;
    std::optional<QuillomareCore::CaptureFeedback> m_echoFeedback;
    CaptureEchoHUDView* m_captureEchoHUD = nullptr;
    // The echo's rectangle (canvas coordinates) while its growth runs in a wider widget.
    std::optional<QRectF> m_echoGrowthFrame;
    // The callers' completions of the morphs still running, each emptied once called or taken.
    std::vector<std::shared_ptr<std::function<void()>>> m_pendingMorphCompletions;
    // Completions of a collapse an echo took over, called when that echo ends.
    std::vector<std::function<void()>> m_echoHeldMorphCompletions;

    // History and shelf as last pushed, and what is selected in them.
    QList<QuillomareCore::ClipboardItem> m_items;
    QList<QuillomareCore::ClipboardItem> m_visibleItems;
    std::optional<QUuid> m_selectedItemID;
    QSet<QUuid> m_selectedHistoryItemIDs;
    std::optional<QUuid> m_lastHistorySelectionID;
    std::optional<QString> m_lastHistoryRowsSignature;
    std::optional<QUuid> m_historyScrollFallbackRowID;
    // The shelf's sessions and the shown session's entries (Shelf/Views/IslandViewShelfState.h).
    struct ShelfState;
    struct ShelfStateDeleter
    {
        void operator()(ShelfState* state) const;
    };
    static std::unique_ptr<ShelfState, ShelfStateDeleter> makeShelfState();
    std::unique_ptr<ShelfState, ShelfStateDeleter> m_shelf = makeShelfState();
    std::optional<QUuid> m_selectedShelfItemID;
    QSet<QUuid> m_selectedShelfItemIDs;
    std::optional<QUuid> m_lastShelfSelectionID;
    std::optional<QUuid> m_selectedShelfSessionID;
    std::optional<QString> m_lastShelfRowsSignature;
    std::optional<QUuid> m_shelfGalleryFallbackCardID;
    QHash<QUuid, ShelfItemRowView*> m_shelfRowViewsByID;
    QHash<QUuid, ShelfGalleryCardView*> m_shelfGalleryCardViewsByID;
    int m_shelfRebuildCount = 0;
    std::optional<QUuid> m_previewingItemID;
    QHash<QUuid, ClipRowView*> m_rowViewsByID;
    QHash<QUuid, qsizetype> m_visibleIndexByID;
    // Made once per pushed history (emptied whenever m_items changes).
    QStringList m_historySearchTexts;
    std::optional<QString> m_historyItemsSignature;
    int m_historyRebuildCount = 0;
    // A typed character is drawn first and filtered right after (m_searchFilterTimer, zero
    // interval): the field never waits for the list.
    bool m_searchTextEditedByUser = false;
    bool m_searchFilterPending = false;
    QTimer* m_searchFilterTimer = nullptr;
    // A message handed over while collapsed, shown once the island has expanded soon after.
    struct PendingMessage
    {
        QString text;
        qint64 arrivedAt = 0; // the island scheduler's clock
    };
    static constexpr qint64 kPendingMessageLifetimeMilliseconds = 10000;
    std::optional<PendingMessage> m_pendingExpandedMessage;

    Platform::Pasteboard* m_generalPasteboard = nullptr;
    std::unique_ptr<Platform::Pasteboard> m_ownGeneralPasteboard;

    // MARK: Views
    QWidget* m_backdropView = nullptr;
    QWidget* m_collapsedRoot = nullptr;
    QWidget* m_collapsedDot = nullptr;
    QLabel* m_collapsedTitleLabel = nullptr;
    QLabel* m_collapsedMetaLabel = nullptr;
    QWidget* m_expandedRoot = nullptr;
    QVBoxLayout* m_expandedRootLayout = nullptr;
    QSpacerItem* m_headerContentSpacer = nullptr;
    QWidget* m_headerStack = nullptr;
    QWidget* m_headerLeftGroup = nullptr;
    QWidget* m_headerCenterGroup = nullptr;
    QWidget* m_headerRightGroup = nullptr;
    IslandSegmentedPillControl* m_modeControl = nullptr;
    IslandIconButton* m_languageButton = nullptr;
    IslandIconButton* m_searchButton = nullptr;
    IslandIconButton* m_settingsButton = nullptr;
    IslandIconButton* m_quitButton = nullptr;
    IslandIconButton* m_pullButton = nullptr;
    IslandIconButton* m_hideButton = nullptr;
    QPointer<QMenu> m_languageMenu;
    QWidget* m_contentDeck = nullptr;
    QWidget* m_historyContainer = nullptr;
    QWidget* m_historyControlsRow = nullptr;
    QWidget* m_searchContainer = nullptr;
    QWidget* m_searchIconView = nullptr;
    QLineEdit* m_searchInput = nullptr;
    QLabel* m_searchPlaceholderLabel = nullptr;
    QLabel* m_searchShortcutLabel = nullptr;
    IslandSegmentedPillControl* m_filterControl = nullptr;
    IslandSegmentedPillControl* m_kindFilterControl = nullptr;
    QWidget* m_historyBodyContainer = nullptr;
    QWidget* m_historyListColumn = nullptr;
    QWidget* m_historySelectionBar = nullptr;
    IslandListScrollView* m_scrollView = nullptr;
    QWidget* m_scrollDocumentView = nullptr;
    QWidget* m_historySplitLine = nullptr;
    QWidget* m_historyInspectorPanel = nullptr;
    QWidget* m_shelfGalleryContainer = nullptr;
    QWidget* m_shelfContainer = nullptr;
    IslandToastView* m_transientToast = nullptr;
    QWidget* m_historyEmptyLabel = nullptr;
    HistoryListFooterView* m_historyFooter = nullptr;
    QLabel* m_historySelectionLabel = nullptr;

    // The inspector.
    QLabel* m_historyInspectorTitle = nullptr;
    QLabel* m_historyInspectorPinnedStatus = nullptr;
    HistoryInspectorPreviewView* m_historyInspectorPreview = nullptr;
    QWidget* m_historyInspectorChipRow = nullptr;
    QLabel* m_historyInspectorInfo = nullptr;

    // The shelf gallery (IslandViewShelfGallery.cpp). Cards go into m_shelfGalleryStack's layout.
    QWidget* m_shelfGallerySessionBar = nullptr;
    QLabel* m_shelfGallerySessionTitle = nullptr;
    QLabel* m_shelfGallerySessionSubtitle = nullptr;
    QWidget* m_shelfGallerySessionSwitch = nullptr;
    IslandIconButton* m_shelfGalleryNewButton = nullptr;
    IslandIconButton* m_shelfGalleryRenameButton = nullptr;
    IslandIconButton* m_shelfGalleryMoreButton = nullptr;
    ShelfDropZoneView* m_shelfGalleryDropZone = nullptr;
    QWidget* m_shelfGalleryFrame = nullptr;
    IslandListScrollView* m_shelfGalleryScrollView = nullptr;
    QWidget* m_shelfGalleryDocumentView = nullptr;
    QWidget* m_shelfGalleryStack = nullptr;
    QWidget* m_shelfGalleryDetailBar = nullptr;
    ClipThumbnailView* m_shelfGalleryDetailThumbnail = nullptr;
    QLabel* m_shelfGalleryDetailTitle = nullptr;
    QLabel* m_shelfGalleryDetailSubtitle = nullptr;
    QLabel* m_shelfGalleryDetailDescription = nullptr;
    QWidget* m_shelfGalleryDetailChipStack = nullptr;
    QWidget* m_shelfGalleryActionsStack = nullptr;
    IslandActionTileButton* m_shelfGalleryPreviewButton = nullptr;
    IslandActionTileButton* m_shelfGalleryCopyButton = nullptr;
    IslandActionTileButton* m_shelfGalleryAirDropButton = nullptr;
    IslandActionTileButton* m_shelfGalleryRevealButton = nullptr;
    IslandActionTileButton* m_shelfGalleryRemoveButton = nullptr;
    IslandActionTileButton* m_shelfGalleryCombineButton = nullptr;
    QWidget* m_shelfGalleryFooterBar = nullptr;
    QLabel* m_shelfGalleryFooterInfoLabel = nullptr;
    QLabel* m_shelfGalleryFooterStorageLabel = nullptr;
    QLabel* m_shelfGalleryFooterRetentionLabel = nullptr;
    QAbstractButton* m_shelfGalleryFooterClearButton = nullptr;

    // The hidden list variant (IslandViewShelfList.cpp). Rows go into m_shelfListStack's layout.
    QWidget* m_shelfSessionBar = nullptr;
    ShelfSessionPillButton* m_shelfSessionButton = nullptr;
    IslandIconButton* m_shelfSessionNewButton = nullptr;
    IslandIconButton* m_shelfSessionRenameButton = nullptr;
    ShelfDropZoneView* m_shelfDropZone = nullptr;
    QWidget* m_shelfBodyStack = nullptr;
    IslandListScrollView* m_shelfScrollView = nullptr;
    QWidget* m_shelfDocumentView = nullptr;
    QWidget* m_shelfListStack = nullptr;
    QWidget* m_shelfActionPanel = nullptr;
    QLabel* m_shelfActionTitle = nullptr;
    QLabel* m_shelfActionSubtitle = nullptr;
    IslandActionTileButton* m_shelfPreviewButton = nullptr;
    IslandActionTileButton* m_shelfCopyButton = nullptr;
    IslandActionTileButton* m_shelfAirDropButton = nullptr;
    IslandActionTileButton* m_shelfRevealButton = nullptr;
    IslandActionTileButton* m_shelfRemoveButton = nullptr;
    IslandActionTileButton* m_shelfClearButton = nullptr;
    IslandActionTileButton* m_shelfCombineButton = nullptr;
    IslandActionTileButton* m_shelfBatchButton = nullptr;

    // The quick preview.
    QWidget* m_quickPreviewBackdrop = nullptr;
    ClipQuickPreviewView* m_quickPreviewCard = nullptr;

    // The inspector's action tiles; set when the inspector is built.
    IslandActionTileButton* m_historyOriginalButton = nullptr;
    IslandActionTileButton* m_historyPlainButton = nullptr;
    IslandActionTileButton* m_historyMarkdownButton = nullptr;
    IslandActionTileButton* m_historyTranslateButton = nullptr; // holds the Clean Link tile
    IslandActionTileButton* m_historyFileNameButton = nullptr;
    IslandActionTileButton* m_historyFilePathButton = nullptr;
    IslandActionTileButton* m_historyOCRButton = nullptr;
    IslandActionTileButton* m_historyAirDropButton = nullptr;
    IslandActionTileButton* m_historyRevealButton = nullptr;
    IslandActionTileButton* m_historyQuickPreviewButton = nullptr;
    IslandActionTileButton* m_historyMoreButton = nullptr;
};

} // namespace QuillomareMac
