#pragma once

// The shelf's stacks (its rows, its cards, the detail bar's chips) are emptied whole and filled
// again on every rebuild.

#include <QLayout>
#include <QWidget>

namespace QuillomareMac::IslandWidgetStack {

// Removes every widget of a stack at once: hidden first, since a widget kept until the event loop
// deletes it would still answer the mouse.
inline void clear(QWidget* stack)
{
    if (!stack || !stack->layout())
        return;
    QLayout* layout = stack->layout();
    while (QLayoutItem* item = layout->takeAt(0)) {
        if (QWidget* widget = item->widget()) {
            widget->hide();
            widget->setParent(nullptr);
            widget->deleteLater();
        }
        delete item;
    }
}

} // namespace QuillomareMac::IslandWidgetStack
