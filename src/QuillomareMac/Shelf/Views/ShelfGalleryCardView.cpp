#include "ShelfGalleryCardView.h"

#include "History/ClipThumbnailView.h"
#include "Island/Kit/IslandTheme.h"
#include "Island/IslandView.h"
#include "Island/Kit/TruncatingLabel.h"

#include <QuillomareCore/Language.h>

#include <QLabel>

#include <algorithm>

namespace QuillomareMac {

namespace Language = QuillomareCore::Language;

namespace {

// The strip decides the width and the height; these are the card's own wishes.
constexpr int preferredWidth = 300;
constexpr int preferredHeight = 96;
constexpr int inset = 8;

TruncatingLabel* makeCardLabel(qreal points, QFont::Weight weight, const QColor& colour, QWidget* parent)
{
    auto* label = new TruncatingLabel(Qt::ElideRight, IslandTheme::systemFont(points, weight), colour, parent);
    label->setAttribute(Qt::WA_TransparentForMouseEvents);
    return label;
}

} // namespace

ShelfGalleryCardView::ShelfGalleryCardView(const ShelfItem& item, QWidget* parent)
    : ShelfEntryViewBase(item, {8, 1.2, IslandTheme::white(0.1), IslandTheme::white(0.06)}, parent)
{
    setup();
}

void ShelfGalleryCardView::setup()
{
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Expanding);
    setMinimumSize(120, 72);
    resize(preferredWidth, preferredHeight);

    m_titleLabel = makeCardLabel(11, QFont::DemiBold, IslandTheme::white(0.9), this);
    m_titleLabel->setText(displayTitle(item()));

    // The kind in the entry's tint, then its age.
    const QStringList chips = IslandView::metadataChips(item());
    QString meta = chips.value(0);
    if (chips.size() > 1)
        meta += QStringLiteral(" · ") + chips.last();
    m_badgeLabel =
        makeCardLabel(8.5, QFont::DemiBold, IslandTheme::withAlpha(IslandView::tintColor(item()), 0.92), this);
    m_badgeLabel->setText(meta);

    // What the entry holds, in as many lines as the card has room for (five at most); a private entry says only that it
    // is hidden.
    m_previewLabel = new QLabel(this);
    m_previewLabel->setTextFormat(Qt::PlainText);
    m_previewLabel->setWordWrap(true);
    m_previewLabel->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    m_previewLabel->setFont(IslandTheme::systemFont(8.5, QFont::Normal));
    QPalette palette = m_previewLabel->palette();
    palette.setColor(QPalette::WindowText, IslandTheme::white(0.46));
    m_previewLabel->setPalette(palette);
    m_previewLabel->setAttribute(Qt::WA_TransparentForMouseEvents);
    m_previewLabel->setText(item().isSensitive ? Language::text(QStringLiteral("敏感内容已隐藏"),
                                                                QStringLiteral("Sensitive content hidden"))
                                               : item().preview.left(240));

    layoutContent();
}

QSize ShelfGalleryCardView::sizeHint() const
{
    return {preferredWidth, preferredHeight};
}

void ShelfGalleryCardView::layoutContent()
{
    // The picture on the left, as tall as the card allows and a little wider than tall; the
    // texts beside it.
    const int side = std::max(height() - 2 * inset, 24);
    const int thumbnailWidth = std::min(int(side * 1.45), width() / 2);
    thumbnail()->setGeometry(inset, inset, thumbnailWidth, side);
    const int textLeft = inset + thumbnailWidth + 10;
    const int textWidth = std::max(width() - textLeft - inset, 0);
    int y = inset + 1;
    m_titleLabel->setGeometry(textLeft, y, textWidth, 16);
    y += 18;
    m_badgeLabel->setGeometry(textLeft, y, textWidth, 13);
    y += 17;
    const int lineHeight = m_previewLabel->fontMetrics().lineSpacing();
    const int previewHeight = std::min(height() - inset - y, 5 * lineHeight) / lineHeight * lineHeight;
    m_previewLabel->setGeometry(textLeft, y, textWidth, std::max(previewHeight, 0));
    m_previewLabel->setVisible(previewHeight >= lineHeight);
}

void ShelfGalleryCardView::resizeEvent(QResizeEvent* event)
{
    QWidget::resizeEvent(event);
    layoutContent();
}

} // namespace QuillomareMac
