// The history's part of the island view's tree: the controls row with the search field and the
// two filters, the list column with its selection bar and scroll view, and the place of the
// inspector beside it (IslandViewDetails.cpp fills it).

#include "Island/IslandView.h"

#include "Island/Kit/IslandIcons.h"
#include "Island/Kit/IslandListScrollView.h"
#include "Island/Kit/IslandSegmentedPillControl.h"
#include "Island/Kit/IslandTextFieldCell.h"
#include "Island/Kit/IslandTheme.h"
#include "Island/Kit/IslandTreeBuilding.h"

#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QPointer>
#include <QTimer>
#include <QVBoxLayout>

#include <algorithm>

namespace QuillomareMac {

namespace Language = QuillomareCore::Language;

namespace {

using IslandTreeBuilding::makeColumn;
using IslandTreeBuilding::makeContainer;
using IslandTreeBuilding::makeLabel;
using IslandTreeBuilding::makeRow;

// A rounded surface with a fill and a 1-point border (the search field's capsule).
class RoundedSurface final : public QWidget
{
public:
    RoundedSurface(qreal radius, QColor fill, QColor border, QWidget* parent)
        : QWidget(parent), m_radius(radius), m_fill(std::move(fill)), m_border(std::move(border))
    {
        setAttribute(Qt::WA_TranslucentBackground);
    }

protected:
    void paintEvent(QPaintEvent*) override
    {
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing);
        IslandTheme::paintRoundedSurface(painter, QRectF(rect()), m_radius, m_fill, m_border, 1);
    }

private:
    qreal m_radius;
    QColor m_fill;
    QColor m_border;
};

// A symbol drawn in one tint, centred.
class SymbolView final : public QWidget
{
public:
    SymbolView(QString symbol, qreal pointSize, QColor tint, QWidget* parent)
        : QWidget(parent), m_symbol(std::move(symbol)), m_pointSize(pointSize), m_tint(std::move(tint))
    {
        setAttribute(Qt::WA_TranslucentBackground);
        setAttribute(Qt::WA_TransparentForMouseEvents);
    }

protected:
    void paintEvent(QPaintEvent*) override
    {
        QPainter painter(this);
        painter.setRenderHint(QPainter::SmoothPixmapTransform);
        IslandIcons::paint(painter, QRectF(rect()), m_symbol, m_pointSize, SymbolWeight::regular, m_tint);
    }

private:
    QString m_symbol;
    qreal m_pointSize;
    QColor m_tint;
};

// A hairline half a point wide, drawn at the left edge of a 1-pixel-wide view.
class HairlineView final : public QWidget
{
public:
    explicit HairlineView(QWidget* parent) : QWidget(parent) { setAttribute(Qt::WA_TranslucentBackground); }

protected:
    void paintEvent(QPaintEvent*) override
    {
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing);
        painter.fillRect(QRectF(0, 0, 0.5, height()), IslandTheme::white(0.1));
    }
};

// The search field's icon, input, placeholder and shortcut hint sit at fixed places in it.
class SearchContainer final : public QWidget
{
public:
    explicit SearchContainer(QWidget* parent) : QWidget(parent) { setAttribute(Qt::WA_TranslucentBackground); }

    QSize sizeHint() const override { return QSize(246, 28); }

    QWidget* surface = nullptr;
    QWidget* icon = nullptr;
    QLineEdit* input = nullptr;
    QLabel* placeholder = nullptr;
    QLabel* hint = nullptr;

    void place()
    {
        const QRectF bounds(rect());
        const qreal midY = bounds.height() / 2;
        surface->setGeometry(rect());
        const QRectF iconRect(12, midY - 7.5, 15, 15);
        icon->setGeometry(iconRect.toRect());

        hint->adjustSize();
        const QSizeF hintSize = hint->size();
        const QRectF hintRect(bounds.width() - 12 - hintSize.width(), midY - 0.5 - hintSize.height() / 2,
                              hintSize.width(), hintSize.height());
        hint->setGeometry(hintRect.toRect());

        // The text sits one point above the icon's centre, 8 points clear of the hint.
        const qreal inputLeft = 34;
        const qreal inputRight = std::max(inputLeft, hintRect.left() - 8);
        const QRectF inputRect(inputLeft, iconRect.center().y() - 1 - 8, inputRight - inputLeft, 16);
        input->setGeometry(inputRect.toRect());
        // The field draws its text 2 pixels in from its edge (and one point up, by its style).
        placeholder->setGeometry(inputRect.translated(2, -1).toRect());
    }

protected:
    void resizeEvent(QResizeEvent* event) override
    {
        QWidget::resizeEvent(event);
        place();
    }
};

} // namespace

void IslandView::setupHistoryContainer()
{
    m_historyContainer = makeContainer(m_contentDeck, QStringLiteral("historyContainer"));
    auto* column = makeColumn(m_historyContainer, 8);

    m_historyControlsRow = makeContainer(m_historyContainer, QStringLiteral("historyControlsRow"));
    m_historyControlsRow->setFixedHeight(34);
    column->addWidget(m_historyControlsRow);

    m_historyBodyContainer = makeContainer(m_historyContainer, QStringLiteral("historyBodyContainer"));
    auto* body = makeRow(m_historyBodyContainer, 10);
    column->addWidget(m_historyBodyContainer, 1);

    m_historyListColumn = makeContainer(m_historyBodyContainer, QStringLiteral("historyListColumn"));
    m_historyListColumn->setFixedWidth(372);
    auto* list = makeColumn(m_historyListColumn, 4);
    body->addWidget(m_historyListColumn);

    // Shown only while more than one entry is selected; a hidden bar takes no room.
    m_historySelectionBar = makeContainer(m_historyListColumn, QStringLiteral("historySelectionBar"));
    m_historySelectionBar->setFixedSize(372, 30);
    m_historySelectionBar->setVisible(false);
    list->addWidget(m_historySelectionBar);

    m_historySplitLine = new HairlineView(m_historyBodyContainer);
    m_historySplitLine->setObjectName(QStringLiteral("historySplitLine"));
    m_historySplitLine->setFixedWidth(1);
    body->addWidget(m_historySplitLine);

    m_historyInspectorPanel = makeContainer(m_historyBodyContainer, QStringLiteral("historyInspectorPanel"));
    m_historyInspectorPanel->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
    body->addWidget(m_historyInspectorPanel, 1);

    static_cast<QGridLayout*>(m_contentDeck->layout())->addWidget(m_historyContainer, 0, 0);
}

void IslandView::setupSearchRow()
{
    // Spacing 12, and 14 after the source filter: spaced by hand.
    auto* row = makeRow(m_historyControlsRow, 0);

    auto* search = new SearchContainer(m_historyControlsRow);
    search->setObjectName(QStringLiteral("searchContainer"));
    m_searchContainer = search;
    // 246 wide when there is room; it is the first to give way when there is not.
    search->setFixedHeight(28);
    search->setMinimumWidth(96);
    search->setMaximumWidth(246);
    search->setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Fixed);
    search->surface = new RoundedSurface(14, IslandTheme::searchBackground(), IslandTheme::searchBorder(), search);
    search->surface->setAttribute(Qt::WA_TransparentForMouseEvents);

    m_searchIconView = new SymbolView(QStringLiteral("magnifyingglass"), 12.5, IslandTheme::white(0.46), search);
    m_searchIconView->setObjectName(QStringLiteral("searchIconView"));
    search->icon = m_searchIconView;

    m_searchInput = new QLineEdit(search);
    m_searchInput->setObjectName(QStringLiteral("searchInput"));
    IslandTextFieldCell::install(m_searchInput);
    m_searchInput->setFocusPolicy(Qt::StrongFocus);
    search->input = m_searchInput;
    // Qt tells a typed change (textEdited) just before every change (textChanged).
    connect(m_searchInput, &QLineEdit::textEdited, this, [this] { m_searchTextEditedByUser = true; });
    connect(m_searchInput, &QLineEdit::textChanged, this, [this] { controlTextDidChange(); });
    m_searchFilterTimer = new QTimer(this);
    m_searchFilterTimer->setSingleShot(true);
    m_searchFilterTimer->setInterval(0);
    connect(m_searchFilterTimer, &QTimer::timeout, this, [this] { runPendingSearchFilter(); });

    m_searchPlaceholderLabel = makeLabel(Language::text(QStringLiteral("搜索历史"), QStringLiteral("Search history")),
                                         IslandTheme::systemFont(12), IslandTheme::white(0.38), search);
    m_searchPlaceholderLabel->setObjectName(QStringLiteral("searchPlaceholderLabel"));
    m_searchPlaceholderLabel->setAttribute(Qt::WA_TransparentForMouseEvents);
    m_searchPlaceholderLabel->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    search->placeholder = m_searchPlaceholderLabel;

    m_searchShortcutLabel = makeLabel(QStringLiteral("Ctrl F"), IslandTheme::monospacedDigitFont(10, QFont::Medium),
                                      IslandTheme::white(0.36), search);
    m_searchShortcutLabel->setObjectName(QStringLiteral("searchShortcutLabel"));
    m_searchShortcutLabel->setAttribute(Qt::WA_TransparentForMouseEvents);
    search->hint = m_searchShortcutLabel;
    search->surface->lower();
    search->place();

    row->addWidget(search, 0, Qt::AlignVCenter);
    row->addSpacing(12);
}

void IslandView::setupFilters()
{
    auto* row = static_cast<QHBoxLayout*>(m_historyControlsRow->layout());
    using Control = IslandSegmentedPillControl;

    m_filterControl = new Control({Language::text(QStringLiteral("全部"), QStringLiteral("All")),
                                   Language::text(QStringLiteral("本机"), QStringLiteral("Computer")),
                                   Language::text(QStringLiteral("手机"), QStringLiteral("Phone")),
                                   Language::text(QStringLiteral("置顶"), QStringLiteral("Pinned"))},
                                  std::nullopt, Control::Prominence::primary, Control::SelectionStyle::neutral, false,
                                  m_historyControlsRow);
    m_filterControl->setObjectName(QStringLiteral("filterControl"));
    m_filterControl->setFixedSize(222, 28);
    m_filterControl->setSelectedSegmentIndex(0, false);
    connect(m_filterControl, &Control::clicked, this, &IslandView::filterChanged);

    m_kindFilterControl = new Control(
        {Language::text(QStringLiteral("文本"), QStringLiteral("Text")),
         Language::text(QStringLiteral("链接"), QStringLiteral("Link")),
         Language::text(QStringLiteral("文件"), QStringLiteral("File")),
         Language::text(QStringLiteral("图片"), QStringLiteral("Image"))},
        QStringList{QStringLiteral("doc.text"), QStringLiteral("link"), QStringLiteral("doc"), QStringLiteral("photo")},
        Control::Prominence::secondary, Control::SelectionStyle::blue, true, m_historyControlsRow);
    m_kindFilterControl->setObjectName(QStringLiteral("kindFilterControl"));
    m_kindFilterControl->setFixedSize(280, 28);
    m_kindFilterControl->setSelectedSegmentIndex(-1, false);
    connect(m_kindFilterControl, &Control::clicked, this, &IslandView::filterChanged);

    row->addWidget(m_filterControl, 0, Qt::AlignVCenter);
    row->addSpacing(14);
    row->addWidget(m_kindFilterControl, 0, Qt::AlignVCenter);
    row->addStretch(0);
}

void IslandView::setupListAndScrollView()
{
    auto* column = static_cast<QVBoxLayout*>(m_historyListColumn->layout());

    m_scrollView = new IslandListScrollView(m_historyListColumn);
    m_scrollView->setObjectName(QStringLiteral("scrollView"));
    m_scrollView->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    m_scrollView->setOverlayScroller(Qt::Vertical);
    m_scrollView->setWidgetResizable(true);
    m_scrollView->setFixedWidth(372);
    m_scrollHeightConstraint = 360;
    m_scrollView->setFixedHeight(360);

    auto* document = new FlippedDocumentView();
    document->setObjectName(QStringLiteral("scrollDocumentView"));
    document->setAttribute(Qt::WA_TranslucentBackground);
    m_scrollDocumentView = document;
    // The rows are placed by hand (IslandViewHistory.cpp): only those in view exist.
    document->installEventFilter(this);
    m_scrollView->setWidget(document);
    // The scroll area paints the document's background unless told otherwise; the list lies on
    // the island's own surface.
    document->setAutoFillBackground(false);
    m_scrollView->viewport()->setAttribute(Qt::WA_TranslucentBackground);

    QPointer<IslandView> weak(this);
    m_scrollView->onMouseDownFallback = [weak](QMouseEvent* event) {
        return weak ? weak->handleHistoryScrollFallbackMouseDown(event) : false;
    };
    m_scrollView->onMouseDraggedFallback = [weak](QMouseEvent* event) {
        return weak ? weak->handleHistoryScrollFallbackMouseDragged(event) : false;
    };
    m_scrollView->onMouseUpFallback = [weak](QMouseEvent* event) {
        return weak ? weak->handleHistoryScrollFallbackMouseUp(event) : false;
    };

    column->addWidget(m_scrollView);
    column->addStretch(1);
}

} // namespace QuillomareMac
