#pragma once

// The shelf's part of the island view's state, kept apart so that the island's header needs no
// shelf type: the island holds it by pointer, and only the shelf's concern files look inside.

#include "Island/IslandView.h"
#include "Shelf/ShelfItem.h"

#include <QList>

namespace QuillomareMac {

struct IslandView::ShelfState
{
    // The whole shelf as last pushed, and the entries of the session shown.
    QList<ShelfSession> sessions;
    QList<ShelfItem> items;
};

} // namespace QuillomareMac
