// The shelf mode of the island. Its two containers take their place in the content deck here;
// the gallery, the list variant and the shelf's state handling fill them.

#include "IslandView.h"

#include <QGridLayout>

namespace QuillomareMac {

namespace {

QWidget* addDeckContainer(QWidget* deck, const QString& name)
{
    auto* container = new QWidget(deck);
    container->setObjectName(name);
    container->setAttribute(Qt::WA_TranslucentBackground);
    container->setVisible(false);
    IslandView::setAlphaValue(container, 0);
    static_cast<QGridLayout*>(deck->layout())->addWidget(container, 0, 0);
    return container;
}

} // namespace

void IslandView::setupShelfGalleryContainer()
{
    // The gallery (session bar, drop zone, card strip, detail bar, footer) fills it.
    m_shelfGalleryContainer = addDeckContainer(m_contentDeck, QStringLiteral("shelfGalleryContainer"));
}

void IslandView::setupShelfContainer()
{
    // The list-shaped shelf: built with the gallery and always kept hidden.
    m_shelfContainer = addDeckContainer(m_contentDeck, QStringLiteral("shelfContainer"));
}

void IslandView::rebuildShelfRows()
{
    // Cards and rows are built with the gallery.
}

void IslandView::moveShelfSelection(int /*offset*/)
{
    // The shelf's cards and their selection come with the gallery.
}

std::optional<ShelfItem> IslandView::selectedShelfItem() const
{
    if (!m_selectedShelfItemID)
        return std::nullopt;
    for (const ShelfItem& item : m_shelfItems) {
        if (item.id == *m_selectedShelfItemID)
            return item;
    }
    return std::nullopt;
}

} // namespace QuillomareMac
