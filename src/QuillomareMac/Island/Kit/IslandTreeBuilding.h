#pragma once

// Small pieces the island view's tree is built from, shared by the island's own part of the tree
// and the subsystems' parts: labels in the island's look, transparent containers and box layouts
// without margins.

#include <QBoxLayout>
#include <QColor>
#include <QFont>
#include <QLabel>
#include <QPalette>
#include <QString>
#include <QWidget>

namespace QuillomareMac::IslandTreeBuilding {

inline void styleLabel(QLabel* label, const QFont& font, const QColor& color)
{
    label->setFont(font);
    QPalette palette = label->palette();
    for (QPalette::ColorGroup group : {QPalette::Active, QPalette::Inactive, QPalette::Disabled})
        palette.setColor(group, QPalette::WindowText, color);
    label->setPalette(palette);
    label->setAttribute(Qt::WA_TranslucentBackground);
    label->setTextInteractionFlags(Qt::NoTextInteraction);
}

inline QLabel* makeLabel(const QString& text, const QFont& font, const QColor& color, QWidget* parent)
{
    auto* label = new QLabel(text, parent);
    styleLabel(label, font, color);
    return label;
}

inline QWidget* makeContainer(QWidget* parent, const QString& name)
{
    auto* view = new QWidget(parent);
    view->setObjectName(name);
    view->setAttribute(Qt::WA_TranslucentBackground);
    return view;
}

inline QHBoxLayout* makeRow(QWidget* owner, int spacing)
{
    auto* layout = new QHBoxLayout(owner);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(spacing);
    return layout;
}

inline QVBoxLayout* makeColumn(QWidget* owner, int spacing)
{
    auto* layout = new QVBoxLayout(owner);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(spacing);
    return layout;
}

} // namespace QuillomareMac::IslandTreeBuilding
