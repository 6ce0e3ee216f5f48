#pragma once

// The island's action tiles are described by tables: a name, a title and a tooltip in both
// languages, a symbol, the view's handler and the member that keeps the tile. The history's
// inspector, the shelf's gallery detail bar and the list-shaped shelf's panel fill their rows from
// such tables; only how a tile is made differs.

#include "Island/Kit/IslandActionTileButton.h"
#include "IslandView.h"

#include <QuillomareCore/Language.h>

#include <QAbstractButton>
#include <QBoxLayout>
#include <QPointer>

#include <span>

namespace QuillomareMac::IslandActionTiles {

struct Entry
{
    const char* name;
    const char* chinese;
    const char* english;
    const char* symbol;
    const char* tooltipChinese;
    const char* tooltipEnglish;
    void (IslandView::*handler)();
    IslandActionTileButton* IslandView::*field;
    // A second line under the title; most tiles have none.
    const char* subtitle = nullptr;
};

inline QString text(const char* chinese, const char* english)
{
    return QuillomareCore::Language::text(QString::fromUtf8(chinese), QString::fromUtf8(english));
}

inline QString title(const Entry& entry)
{
    return text(entry.chinese, entry.english);
}

inline QString tooltip(const Entry& entry)
{
    return text(entry.tooltipChinese, entry.tooltipEnglish);
}

// A click that calls the entry's handler while the view lives.
inline auto action(IslandView* view, const Entry& entry)
{
    return [weak = QPointer<IslandView>(view), handler = entry.handler] {
        if (weak)
            (weak.data()->*handler)();
    };
}

// A tile of the panels' size: 48 high, at least 44 wide, sharing its row's width with the others.
inline IslandActionTileButton* makePanelTile(IslandView* view, const Entry& entry, QWidget* row)
{
    auto* tile = new IslandActionTileButton(title(entry), QString::fromUtf8(entry.subtitle),
                                            QString::fromLatin1(entry.symbol), tooltip(entry), row);
    tile->setMinimumWidth(44);
    tile->setFixedHeight(48);
    tile->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    QObject::connect(tile, &QAbstractButton::clicked, view, action(view, entry));
    return tile;
}

// Tiles not made yet (a variant never built) are passed over.
inline void setTileEnabled(IslandActionTileButton* tile, bool enabled)
{
    if (tile)
        tile->setEnabled(enabled);
}

inline void setTilesEnabled(const QList<IslandActionTileButton*>& tiles, bool enabled)
{
    for (IslandActionTileButton* tile : tiles)
        setTileEnabled(tile, enabled);
}

// Every entry with a name made by make(entry), named, added to the row and kept in its member;
// entries without a name leave a gap in a table's row.
template <typename Make>
void fillRow(IslandView* view, std::span<const Entry> entries, QBoxLayout* row, int stretch, Make make)
{
    for (const Entry& entry : entries) {
        if (!entry.name)
            continue;
        IslandActionTileButton* tile = make(entry);
        tile->setObjectName(QString::fromLatin1(entry.name));
        row->addWidget(tile, stretch);
        view->*entry.field = tile;
    }
}

} // namespace QuillomareMac::IslandActionTiles
