#include "HistoryListFooterView.h"

#include "Island/Kit/IslandTheme.h"

#include <QuillomareCore/Language.h>

#include <QLabel>
#include <QPainter>

#include <algorithm>

namespace QuillomareMac {

namespace Language = QuillomareCore::Language;

namespace {
constexpr int footerHeight = 22;
constexpr int sideInset = 10;
} // namespace

HistoryListFooterView::HistoryListFooterView(int count, QWidget* parent) : QWidget(parent)
{
    setFixedHeight(footerHeight);
    setAttribute(Qt::WA_TranslucentBackground);
    m_label = new QLabel(Language::text(QStringLiteral("共 %1 项").arg(count), Language::englishItems(count)), this);
    m_label->setTextFormat(Qt::PlainText);
    m_label->setAlignment(Qt::AlignCenter);
    m_label->setFont(IslandTheme::systemFont(10, QFont::Medium));
    QPalette colours = m_label->palette();
    colours.setColor(QPalette::WindowText, IslandTheme::white(0.34));
    m_label->setPalette(colours);
}

void HistoryListFooterView::resizeEvent(QResizeEvent* event)
{
    QWidget::resizeEvent(event);
    // Centred one point below the middle.
    m_label->setGeometry(sideInset, 2, std::max(width() - 2 * sideInset, 0), height() - 2);
}

void HistoryListFooterView::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.fillRect(rect(), IslandTheme::white(0.012));
    painter.fillRect(QRect(sideInset, 0, std::max(width() - 2 * sideInset, 0), 1), IslandTheme::white(0.045));
}

} // namespace QuillomareMac
