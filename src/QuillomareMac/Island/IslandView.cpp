// Construction of the island view and its view tree. The two roots (collapsed and expanded) are
// placed by hand (IslandViewLayout.cpp); inside them box layouts stand for the stacks, with the
// sizes, spacings and orders of the island's design.

#include "IslandView.h"

#include "IslandButtonFactory.h"
#include "IslandIcons.h"
#include "IslandListScrollView.h"
#include "IslandScheduler.h"
#include "IslandSegmentedPillControl.h"
#include "IslandTextFieldCell.h"
#include "IslandTheme.h"
#include "TabularFigures.h"
#include "TruncatingLabel.h"

#include <QApplication>
#include <QGraphicsOpacityEffect>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QPointer>
#include <QScrollBar>
#include <QTimer>
#include <QVBoxLayout>

#include <algorithm>
#include <cmath>

namespace QuillomareMac {

namespace {

// The opacity effect of a view with an alpha, which can also draw the view scaled about its
// centre (the expanded content shrinks a little while the island collapses).
class ContentEffect final : public QGraphicsOpacityEffect
{
public:
    using QGraphicsOpacityEffect::QGraphicsOpacityEffect;

    double scale() const { return m_scale; }
    void setScale(double scale)
    {
        if (scale == m_scale)
            return;
        m_scale = scale;
        update();
    }

protected:
    void draw(QPainter* painter) override
    {
        if (m_scale == 1.0) {
            QGraphicsOpacityEffect::draw(painter);
            return;
        }
        QPoint offset;
        const QPixmap pixmap = sourcePixmap(Qt::LogicalCoordinates, &offset, QGraphicsEffect::NoPad);
        if (pixmap.isNull())
            return;
        const QRectF bounds = sourceBoundingRect(Qt::LogicalCoordinates);
        painter->save();
        painter->setOpacity(painter->opacity() * opacity());
        painter->setRenderHint(QPainter::SmoothPixmapTransform);
        painter->translate(bounds.center());
        painter->scale(m_scale, m_scale);
        painter->translate(-bounds.center());
        painter->drawPixmap(offset, pixmap);
        painter->restore();
    }

private:
    double m_scale = 1.0;
};

// A round status dot of one colour.
class StatusDot final : public QWidget
{
public:
    explicit StatusDot(QWidget* parent) : QWidget(parent)
    {
        setAttribute(Qt::WA_TranslucentBackground);
        setFixedSize(6, 6);
    }

    QColor color = IslandTheme::rgb(0.56, 0.56, 0.58);

protected:
    void paintEvent(QPaintEvent*) override
    {
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing);
        painter.setPen(Qt::NoPen);
        painter.setBrush(color);
        painter.drawRoundedRect(QRectF(rect()), 3, 3);
    }
};

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

void styleLabel(QLabel* label, const QFont& font, const QColor& color)
{
    label->setFont(font);
    QPalette palette = label->palette();
    for (QPalette::ColorGroup group : {QPalette::Active, QPalette::Inactive, QPalette::Disabled})
        palette.setColor(group, QPalette::WindowText, color);
    label->setPalette(palette);
    label->setAttribute(Qt::WA_TranslucentBackground);
    label->setTextInteractionFlags(Qt::NoTextInteraction);
}

QLabel* makeLabel(const QString& text, const QFont& font, const QColor& color, QWidget* parent)
{
    auto* label = new QLabel(text, parent);
    styleLabel(label, font, color);
    return label;
}

QWidget* makeContainer(QWidget* parent, const QString& name)
{
    auto* view = new QWidget(parent);
    view->setObjectName(name);
    view->setAttribute(Qt::WA_TranslucentBackground);
    return view;
}

QHBoxLayout* makeRow(QWidget* owner, int spacing)
{
    auto* layout = new QHBoxLayout(owner);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(spacing);
    return layout;
}

QVBoxLayout* makeColumn(QWidget* owner, int spacing)
{
    auto* layout = new QVBoxLayout(owner);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(spacing);
    return layout;
}

} // namespace

// MARK: - Alpha

double IslandView::alphaValue(const QWidget* view)
{
    if (!view)
        return 0;
    if (const auto* effect = qobject_cast<const QGraphicsOpacityEffect*>(view->graphicsEffect()))
        return effect->opacity();
    return 1;
}

void IslandView::setAlphaValue(QWidget* view, double alpha)
{
    if (!view)
        return;
    alpha = std::clamp(alpha, 0.0, 1.0);
    auto* effect = qobject_cast<QGraphicsOpacityEffect*>(view->graphicsEffect());
    if (alpha >= 1.0 && contentScale(view) == 1.0) {
        if (effect)
            view->setGraphicsEffect(nullptr);
        return;
    }
    if (!effect) {
        effect = new ContentEffect(view);
        view->setGraphicsEffect(effect);
    }
    if (effect->opacity() != alpha)
        effect->setOpacity(alpha);
}

double IslandView::contentScale(const QWidget* view)
{
    const auto* effect = view ? dynamic_cast<const ContentEffect*>(view->graphicsEffect()) : nullptr;
    return effect ? effect->scale() : 1.0;
}

void IslandView::setContentScale(QWidget* view, double scale)
{
    if (!view)
        return;
    scale = std::max(scale, 0.0);
    auto* effect = dynamic_cast<ContentEffect*>(view->graphicsEffect());
    if (scale == 1.0 && alphaValue(view) >= 1.0) {
        if (view->graphicsEffect())
            view->setGraphicsEffect(nullptr);
        return;
    }
    if (!effect) {
        // Keep the alpha a plain opacity effect was holding.
        const double alpha = alphaValue(view);
        effect = new ContentEffect(view);
        effect->setOpacity(alpha);
        view->setGraphicsEffect(effect);
    }
    effect->setScale(scale);
}

const QStringList& IslandView::registeredDragTypes()
{
    static const QStringList types{Platform::PasteboardType::uriList, Platform::PasteboardType::string,
                                   QStringLiteral("text/plain"), Platform::PasteboardType::png,
                                   Platform::PasteboardType::tiff, Platform::PasteboardType::html};
    return types;
}

// MARK: - Construction

IslandView::IslandView(const QRect& frame, QWidget* parent) : QWidget(parent)
{
    setGeometry(frame);
    setup();
}

IslandView::~IslandView()
{
    if (m_captureEchoDismissWorkItem)
        m_captureEchoDismissWorkItem->cancel();
}

void IslandView::setup()
{
    // Own surface and drops.
    setAttribute(Qt::WA_NoSystemBackground);
    setAutoFillBackground(false);
    setFocusPolicy(Qt::NoFocus);
    setAcceptDrops(true);

    // The backdrop stands for the desktop's blur behind the island, which X11 has no general
    // way to give; the surface colour carries the look, the view keeps the backdrop's alpha.
    m_backdropView = makeContainer(this, QStringLiteral("backdropView"));
    m_backdropView->setAttribute(Qt::WA_TransparentForMouseEvents);

    setupCollapsedRoot();
    setupExpandedRoot();
    m_backdropView->setGeometry(rect());

    setDisplayMode(DisplayMode::collapsed, false);

    setupHeader();
    setupContentDeck();
    setupHistoryContainer();
    setupHistoryInspectorPanel();
    setupSearchRow();
    setupFilters();
    configureHistorySelectionBar();
    setupListAndScrollView();
    configureHistoryScrollHoverBehavior();
    setupShelfGalleryContainer();
    setupShelfContainer();
    setupCaptureEchoOverlay();
    setupQuickPreviewOverlay();

    updateContentModeVisibility(false);

    // Key equivalents come before the focused field sees them, whichever widget of the island's
    // window has the focus.
    if (qApp)
        qApp->installEventFilter(this);
}

void IslandView::setupCollapsedRoot()
{
    m_collapsedRoot = makeContainer(this, QStringLiteral("collapsedRoot"));
    // Clicks on the collapsed island belong to the island view itself.
    m_collapsedRoot->setAttribute(Qt::WA_TransparentForMouseEvents);
    auto* row = makeRow(m_collapsedRoot, 6);

    auto* dot = new StatusDot(m_collapsedRoot);
    dot->setObjectName(QStringLiteral("collapsedDot"));
    m_collapsedDot = dot;

    m_collapsedTitleLabel = new TruncatingLabel(Qt::ElideRight, IslandTheme::systemFont(11, QFont::DemiBold),
                                                IslandTheme::white(0.88), m_collapsedRoot);
    m_collapsedTitleLabel->setText(QStringLiteral("Quillomare"));
    m_collapsedTitleLabel->setObjectName(QStringLiteral("collapsedTitleLabel"));
    m_collapsedTitleLabel->setAttribute(Qt::WA_TranslucentBackground);
    m_collapsedTitleLabel->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    m_collapsedTitleLabel->setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Preferred);

    // The count's digits keep one width, so the title beside it does not move as it changes.
    m_collapsedMetaLabel = new TabularFigureLabel(m_collapsedRoot);
    m_collapsedMetaLabel->setText(QStringLiteral("0"));
    styleLabel(m_collapsedMetaLabel, IslandTheme::monospacedDigitFont(10, QFont::DemiBold), IslandTheme::white(0.5));
    m_collapsedMetaLabel->setObjectName(QStringLiteral("collapsedMetaLabel"));
    m_collapsedMetaLabel->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    m_collapsedMetaLabel->setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Preferred);

    row->addWidget(m_collapsedDot, 0, Qt::AlignVCenter);
    row->addWidget(m_collapsedTitleLabel, 0, Qt::AlignVCenter);
    row->addStretch(1);
    row->addWidget(m_collapsedMetaLabel, 0, Qt::AlignVCenter);
}

void IslandView::setupExpandedRoot()
{
    m_expandedRoot = makeContainer(this, QStringLiteral("expandedRoot"));
    // Spacing comes from the spacer after the header (its custom spacing): the root has only
    // the header and the deck.
    m_expandedRootLayout = makeColumn(m_expandedRoot, 0);
    m_expandedTopConstraint = 14;
    m_expandedWidthConstraint = 746;
    m_expandedHeightConstraint = 332;
}

void IslandView::setCollapsedDotColor(const QColor& color)
{
    auto* dot = static_cast<StatusDot*>(m_collapsedDot);
    dot->color = color;
    dot->update();
}

QColor IslandView::collapsedDotColor() const
{
    return static_cast<const StatusDot*>(m_collapsedDot)->color;
}

void IslandView::setupHeader()
{
    m_headerStack = makeContainer(m_expandedRoot, QStringLiteral("headerStack"));
    m_headerStack->setFixedHeight(32);
    auto* header = makeRow(m_headerStack, 0);

    m_headerLeftGroup = makeContainer(m_headerStack, QStringLiteral("headerLeftGroup"));
    auto* left = makeRow(m_headerLeftGroup, 8);
    m_modeControl = new IslandSegmentedPillControl(
        {L10n::text(QStringLiteral("历史"), QStringLiteral("History")) + QStringLiteral(" 0"),
         L10n::text(QStringLiteral("暂存架"), QStringLiteral("Shelf")) + QStringLiteral(" 0")},
        std::nullopt, IslandSegmentedPillControl::Prominence::top, IslandSegmentedPillControl::SelectionStyle::neutral,
        false, m_headerLeftGroup);
    m_modeControl->setObjectName(QStringLiteral("modeControl"));
    m_modeControl->setFixedSize(262, 26);
    m_modeControl->setSelectedSegmentIndex(0, false);
    connect(m_modeControl, &IslandSegmentedPillControl::clicked, this, &IslandView::contentModeChanged);
    left->addWidget(m_modeControl, 0, Qt::AlignVCenter);
    left->addStretch(1);

    // The gap in the middle stands around a camera housing; the two groups beside it are equally
    // wide, so the gap stays centred.
    m_headerCenterGroup = makeContainer(m_headerStack, QStringLiteral("headerCenterGroup"));
    m_headerNotchGapConstraint = 0;
    m_headerCenterGroup->setFixedSize(0, 32);

    m_headerRightGroup = makeContainer(m_headerStack, QStringLiteral("headerRightGroup"));
    auto* right = makeRow(m_headerRightGroup, 8);
    right->addStretch(1);
    using IslandButtonFactory::makeHeaderIconButton;
    QPointer<IslandView> weak(this);
    m_languageButton = makeHeaderIconButton(
        QStringLiteral("globe"), L10n::text(QStringLiteral("界面语言"), QStringLiteral("Language")), this,
        [weak] {
            if (weak)
                weak->languageTapped(weak->m_languageButton);
        },
        m_headerRightGroup);
    m_searchButton = makeHeaderIconButton(
        QStringLiteral("magnifyingglass"), L10n::text(QStringLiteral("搜索历史"), QStringLiteral("Search history")),
        this,
        [weak] {
            if (weak)
                weak->focusSearchTapped();
        },
        m_headerRightGroup);
    m_settingsButton = makeHeaderIconButton(
        QStringLiteral("gearshape"), L10n::text(QStringLiteral("设置"), QStringLiteral("Settings")), this,
        [weak] {
            if (weak)
                weak->settingsTapped(weak->m_settingsButton);
        },
        m_headerRightGroup);
    m_quitButton = makeHeaderIconButton(
        QStringLiteral("power"), L10n::text(QStringLiteral("退出Quillomare"), QStringLiteral("Quit Quillomare")), this,
        [weak] {
            if (weak)
                weak->quitTapped();
        },
        m_headerRightGroup);
    m_pullButton = makeHeaderIconButton(
        QStringLiteral("arrow.down.icloud"),
        L10n::text(QStringLiteral("高级同步：从同步文件夹拉取"), QStringLiteral("Advanced sync: pull from the sync folder")), this,
        [weak] {
            if (weak)
                weak->pullFromIPhoneTapped();
        },
        m_headerRightGroup);
    m_hideButton = makeHeaderIconButton(
        QStringLiteral("xmark"), L10n::text(QStringLiteral("隐藏"), QStringLiteral("Hide")), this,
        [weak] {
            if (weak)
                weak->hideTapped();
        },
        m_headerRightGroup);
    m_languageButton->setObjectName(QStringLiteral("languageButton"));
    m_searchButton->setObjectName(QStringLiteral("searchButton"));
    m_settingsButton->setObjectName(QStringLiteral("settingsButton"));
    m_quitButton->setObjectName(QStringLiteral("quitButton"));
    m_pullButton->setObjectName(QStringLiteral("pullButton"));
    m_hideButton->setObjectName(QStringLiteral("hideButton"));
    for (IslandIconButton* button :
         {m_languageButton, m_searchButton, m_settingsButton, m_quitButton, m_pullButton, m_hideButton})
        right->addWidget(button, 0, Qt::AlignVCenter);
    m_quitButton->setVisible(false);
    m_pullButton->setVisible(false);

    m_headerLeftGroup->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    m_headerRightGroup->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    header->addWidget(m_headerLeftGroup, 1);
    header->addWidget(m_headerCenterGroup, 0);
    header->addWidget(m_headerRightGroup, 1);

    m_expandedRootLayout->addWidget(m_headerStack);
    m_headerContentSpacer = new QSpacerItem(0, int(m_headerContentClearance), QSizePolicy::Minimum, QSizePolicy::Fixed);
    m_expandedRootLayout->addSpacerItem(m_headerContentSpacer);
}

void IslandView::setupContentDeck()
{
    m_contentDeck = makeContainer(m_expandedRoot, QStringLiteral("contentDeck"));
    m_contentDeckHeightConstraint = 290;
    m_contentDeck->setFixedHeight(290);
    // Every content mode fills the whole deck; they lie on top of each other.
    auto* deck = new QGridLayout(m_contentDeck);
    deck->setContentsMargins(0, 0, 0, 0);
    deck->setSpacing(0);
    m_expandedRootLayout->addWidget(m_contentDeck);
    // A root taller than its content keeps the content at its top.
    m_expandedRootLayout->addStretch(1);
}

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

    m_searchPlaceholderLabel = makeLabel(L10n::text(QStringLiteral("搜索历史"), QStringLiteral("Search history")),
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

    m_filterControl = new Control({L10n::text(QStringLiteral("全部"), QStringLiteral("All")), L10n::text(QStringLiteral("本机"), QStringLiteral("Computer")),
                                   L10n::text(QStringLiteral("手机"), QStringLiteral("Phone")), L10n::text(QStringLiteral("置顶"), QStringLiteral("Pinned"))},
                                  std::nullopt, Control::Prominence::primary, Control::SelectionStyle::neutral, false,
                                  m_historyControlsRow);
    m_filterControl->setObjectName(QStringLiteral("filterControl"));
    m_filterControl->setFixedSize(222, 28);
    m_filterControl->setSelectedSegmentIndex(0, false);
    connect(m_filterControl, &Control::clicked, this, &IslandView::filterChanged);

    m_kindFilterControl =
        new Control({L10n::text(QStringLiteral("文本"), QStringLiteral("Text")),
                     L10n::text(QStringLiteral("链接"), QStringLiteral("Link")),
                     L10n::text(QStringLiteral("文件"), QStringLiteral("File")),
                     L10n::text(QStringLiteral("图片"), QStringLiteral("Image"))},
                    QStringList{QStringLiteral("doc.text"), QStringLiteral("link"), QStringLiteral("doc"),
                                QStringLiteral("photo")},
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
