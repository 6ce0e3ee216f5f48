#include "ShelfItemRowView.h"

#include "History/ClipThumbnailView.h"
#include "Island/Kit/IslandTheme.h"
#include "Island/IslandView.h"
#include "Island/Kit/TruncatingLabel.h"

#include <QHBoxLayout>
#include <QVBoxLayout>

namespace QuillomareMac {

namespace {

constexpr int rowHeight = 56;

} // namespace

ShelfItemRowView::ShelfItemRowView(const ShelfItem& item, QWidget* parent)
    : ShelfEntryViewBase(item, {10, 1, IslandTheme::white(0.08), QColor(Qt::transparent)}, parent)
{
    setup();
}

void ShelfItemRowView::setup()
{
    setFixedHeight(rowHeight);

    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(10, 6, 12, 6);
    layout->setSpacing(10);

    thumbnail()->setFixedSize(44, 44);
    layout->addWidget(thumbnail(), 0, Qt::AlignVCenter);

    auto* texts = new QVBoxLayout;
    texts->setSpacing(3);
    auto* title = new TruncatingLabel(Qt::ElideRight, IslandTheme::systemFont(12, QFont::DemiBold),
                                      IslandTheme::white(0.9), this);
    title->setText(displayTitle(item()));
    title->setAttribute(Qt::WA_TransparentForMouseEvents);
    m_titleLabel = title;
    auto* detail = new TruncatingLabel(Qt::ElideRight, IslandTheme::systemFont(9.5, QFont::Medium),
                                       IslandTheme::white(0.48), this);
    detail->setText(IslandView::metadataChips(item()).join(QStringLiteral(" · ")));
    detail->setAttribute(Qt::WA_TransparentForMouseEvents);
    m_detailLabel = detail;
    texts->addStretch();
    texts->addWidget(title);
    texts->addWidget(detail);
    texts->addStretch();
    layout->addLayout(texts, 1);
}

} // namespace QuillomareMac
