#include "IslandTextFieldCell.h"

#include "IslandTheme.h"

#include <QLineEdit>
#include <QPalette>

namespace QuillomareMac {

IslandTextFieldCell::IslandTextFieldCell(QStyle* base) : QProxyStyle(base) {}

QRect IslandTextFieldCell::drawingRect(const QRect& standard)
{
    return standard.translated(0, -1);
}

QRect IslandTextFieldCell::subElementRect(SubElement element, const QStyleOption* option, const QWidget* widget) const
{
    const QRect standard = QProxyStyle::subElementRect(element, option, widget);
    return element == SE_LineEditContents ? drawingRect(standard) : standard;
}

void IslandTextFieldCell::install(QLineEdit* field)
{
    if (!field)
        return;
    auto* style = new IslandTextFieldCell();
    style->setParent(field);
    field->setStyle(style);
    field->setFrame(false);
    field->setAttribute(Qt::WA_MacShowFocusRect, false);
    field->setAutoFillBackground(false);
    field->setAttribute(Qt::WA_TranslucentBackground);
    field->setFont(IslandTheme::systemFont(12, QFont::Normal));
    field->setTextMargins(0, 0, 0, 0);

    QPalette palette = field->palette();
    const QColor text = IslandTheme::white(0.92);
    for (QPalette::ColorGroup group : {QPalette::Active, QPalette::Inactive, QPalette::Disabled}) {
        // The caret is drawn in the text colour.
        palette.setColor(group, QPalette::Text, text);
        palette.setColor(group, QPalette::WindowText, text);
        palette.setColor(group, QPalette::Base, Qt::transparent);
        palette.setColor(group, QPalette::Window, Qt::transparent);
        palette.setColor(group, QPalette::PlaceholderText, IslandTheme::white(0.38));
        palette.setColor(group, QPalette::Highlight, IslandTheme::withAlpha(IslandTheme::selectionBlue(), 0.45));
        palette.setColor(group, QPalette::HighlightedText, IslandTheme::white(1.0));
    }
    field->setPalette(palette);
}

} // namespace QuillomareMac
