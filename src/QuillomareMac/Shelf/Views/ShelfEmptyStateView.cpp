#include "ShelfEmptyStateView.h"

#include "Island/Kit/IslandIcons.h"
#include "Island/Kit/IslandTheme.h"

#include <QuillomareCore/Language.h>

#include <QLabel>
#include <QVBoxLayout>

namespace QuillomareMac {

namespace Language = QuillomareCore::Language;

namespace {

QLabel* makeCentredLabel(const QString& text, const QFont& font, const QColor& colour, QWidget* parent)
{
    auto* label = new QLabel(text, parent);
    label->setTextFormat(Qt::PlainText);
    label->setAlignment(Qt::AlignCenter);
    label->setWordWrap(true);
    label->setFont(font);
    QPalette palette = label->palette();
    palette.setColor(QPalette::WindowText, colour);
    label->setPalette(palette);
    return label;
}

} // namespace

ShelfEmptyStateView::ShelfEmptyStateView(QWidget* parent) : QWidget(parent)
{
    setAttribute(Qt::WA_TranslucentBackground);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(16, 18, 16, 18);
    layout->setSpacing(6);
    m_iconView = new QLabel(this);
    m_iconView->setPixmap(IslandIcons::pixmap(QStringLiteral("tray.full"), 22, SymbolWeight::regular,
                                              IslandTheme::white(0.34), devicePixelRatioF()));
    m_iconView->setAlignment(Qt::AlignCenter);
    m_titleLabel = makeCentredLabel(Language::text(QStringLiteral("暂存架为空"), QStringLiteral("Shelf is empty")),
                                    IslandTheme::systemFont(12.5, QFont::DemiBold), IslandTheme::white(0.72), this);
    m_subtitleLabel = makeCentredLabel(Language::text(QStringLiteral("拖入文件、图片、文本或链接"),
                                                      QStringLiteral("Drop files, images, text or links")),
                                       IslandTheme::systemFont(10, QFont::Normal), IslandTheme::white(0.42), this);
    layout->addStretch();
    layout->addWidget(m_iconView);
    layout->addWidget(m_titleLabel);
    layout->addWidget(m_subtitleLabel);
    layout->addStretch();
}

} // namespace QuillomareMac
