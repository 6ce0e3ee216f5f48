// Construction of the island view and its view tree. The two roots (collapsed and expanded) are
// placed by hand (IslandViewLayout.cpp); inside them box layouts stand for the stacks, with the
// sizes, spacings and orders of the island's design. The history, the shelf and the quick
// preview build their own parts of the tree (the setup members their files define).

#include "IslandView.h"

#include "Island/Kit/IslandButtonFactory.h"
#include "Island/Kit/IslandScheduler.h"
#include "Island/Kit/IslandSegmentedPillControl.h"
#include "Island/Kit/IslandTheme.h"
#include "Island/Kit/IslandTreeBuilding.h"
#include "Island/Kit/TabularFigures.h"
#include "Island/Kit/TruncatingLabel.h"

#include <QApplication>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QPointer>
#include <QVBoxLayout>

namespace QuillomareMac {

namespace Language = QuillomareCore::Language;

namespace {

using IslandTreeBuilding::makeColumn;
using IslandTreeBuilding::makeContainer;
using IslandTreeBuilding::makeRow;
using IslandTreeBuilding::styleLabel;

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

} // namespace

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
        {Language::text(QStringLiteral("历史"), QStringLiteral("History")) + QStringLiteral(" 0"),
         Language::text(QStringLiteral("暂存架"), QStringLiteral("Shelf")) + QStringLiteral(" 0")},
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
        QStringLiteral("globe"), Language::text(QStringLiteral("界面语言"), QStringLiteral("Language")), this,
        [weak] {
            if (weak)
                weak->languageTapped(weak->m_languageButton);
        },
        m_headerRightGroup);
    m_searchButton = makeHeaderIconButton(
        QStringLiteral("magnifyingglass"), Language::text(QStringLiteral("搜索历史"), QStringLiteral("Search history")),
        this,
        [weak] {
            if (weak)
                weak->focusSearchTapped();
        },
        m_headerRightGroup);
    m_settingsButton = makeHeaderIconButton(
        QStringLiteral("gearshape"), Language::text(QStringLiteral("设置"), QStringLiteral("Settings")), this,
        [weak] {
            if (weak)
                weak->settingsTapped(weak->m_settingsButton);
        },
        m_headerRightGroup);
    m_quitButton = makeHeaderIconButton(
        QStringLiteral("power"), Language::text(QStringLiteral("退出Quillomare"), QStringLiteral("Quit Quillomare")),
        this,
        [weak] {
            if (weak)
                weak->quitTapped();
        },
        m_headerRightGroup);
    m_pullButton = makeHeaderIconButton(
        QStringLiteral("arrow.down.icloud"),
        Language::text(QStringLiteral("高级同步：从同步文件夹拉取"),
                       QStringLiteral("Advanced sync: pull from the sync folder")),
        this,
        [weak] {
            if (weak)
                weak->pullFromIPhoneTapped();
        },
        m_headerRightGroup);
    m_hideButton = makeHeaderIconButton(
        QStringLiteral("xmark"), Language::text(QStringLiteral("隐藏"), QStringLiteral("Hide")), this,
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

} // namespace QuillomareMac
