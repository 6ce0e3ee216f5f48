#include "ShelfDropZoneView.h"

#include "Island/Kit/IslandIcons.h"
#include "Island/Kit/IslandTheme.h"
#include "Island/Kit/TruncatingLabel.h"

#include <QuillomareCore/Language.h>

#include <QHBoxLayout>
#include <QLabel>
#include <QMouseEvent>
#include <QPainter>
#include <QVBoxLayout>

namespace QuillomareMac {

namespace Language = QuillomareCore::Language;

namespace {

constexpr qreal cornerRadius = 8;
constexpr qreal iconPointSize = 13;

// The blue of a zone that something is dragged over.
QColor highlightBlue(qreal alpha)
{
    return IslandTheme::rgb(0.42, 0.70, 0.98, alpha);
}

// The toggle's pill: drawn, not styled, so it follows the island's palette.
class ToggleContainer final : public QWidget
{
public:
    using QWidget::QWidget;

protected:
    void paintEvent(QPaintEvent*) override
    {
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing);
        IslandTheme::paintRoundedSurface(painter, QRectF(rect()), 6, IslandTheme::white(underMouse() ? 0.1 : 0.06),
                                         IslandTheme::white(0.1), 1);
    }
    void enterEvent(QEnterEvent* event) override
    {
        update();
        QWidget::enterEvent(event);
    }
    void leaveEvent(QEvent* event) override
    {
        update();
        QWidget::leaveEvent(event);
    }
};

} // namespace

ShelfDropZoneView::ShelfDropZoneView(QWidget* parent) : QWidget(parent)
{
    setup();
}

void ShelfDropZoneView::setup()
{
    setAttribute(Qt::WA_TranslucentBackground);

    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(12, 4, 8, 4);
    layout->setSpacing(9);

    m_iconView = new QLabel(this);
    m_iconView->setFixedSize(IslandIcons::imageSide(iconPointSize), IslandIcons::imageSide(iconPointSize));
    m_iconView->setAlignment(Qt::AlignCenter);
    m_iconView->setAttribute(Qt::WA_TransparentForMouseEvents);
    layout->addWidget(m_iconView, 0, Qt::AlignVCenter);

    auto* texts = new QVBoxLayout;
    texts->setSpacing(1);
    m_titleLabel = new TruncatingLabel(Qt::ElideRight, IslandTheme::systemFont(10.5, QFont::DemiBold),
                                       IslandTheme::white(0.82), this);
    m_titleLabel->setText(Language::text(QStringLiteral("拖入暂存架"), QStringLiteral("Drag to Shelf")));
    m_subtitleLabel = new TruncatingLabel(Qt::ElideRight, IslandTheme::systemFont(8.5, QFont::Medium),
                                          IslandTheme::white(0.46), this);
    m_subtitleLabel->setText(
        Language::text(QStringLiteral("文件、图片、文本、链接"), QStringLiteral("Files, images, text, links")));
    for (QLabel* label : {m_titleLabel, m_subtitleLabel}) {
        label->setAttribute(Qt::WA_TransparentForMouseEvents);
        label->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    }
    texts->addStretch();
    texts->addWidget(m_titleLabel);
    texts->addWidget(m_subtitleLabel);
    texts->addStretch();
    layout->addLayout(texts, 1);

    m_toggleContainer = new ToggleContainer(this);
    m_toggleContainer->setObjectName(QStringLiteral("shelfDropZoneToggle"));
    m_toggleContainer->setAttribute(Qt::WA_TranslucentBackground);
    m_toggleContainer->setAttribute(Qt::WA_Hover);
    m_toggleContainer->setCursor(Qt::PointingHandCursor);
    auto* toggleRow = new QHBoxLayout(m_toggleContainer);
    toggleRow->setContentsMargins(7, 3, 8, 3);
    toggleRow->setSpacing(4);
    m_toggleIcon = new QLabel(m_toggleContainer);
    m_toggleIcon->setPixmap(IslandIcons::pixmap(QStringLiteral("eye"), 7.5, SymbolWeight::medium,
                                                IslandTheme::white(0.7), devicePixelRatioF()));
    m_toggleIcon->setAttribute(Qt::WA_TransparentForMouseEvents);
    toggleRow->addWidget(m_toggleIcon, 0, Qt::AlignVCenter);
    // The zone that lights up lives in the island here: there is no notch to drop onto.
    m_toggleLabel = new QLabel(
        Language::text(QStringLiteral("显示灵动岛投放区"), QStringLiteral("Show island drop zone")), m_toggleContainer);
    m_toggleLabel->setTextFormat(Qt::PlainText);
    m_toggleLabel->setFont(IslandTheme::systemFont(8.5, QFont::Medium));
    QPalette palette = m_toggleLabel->palette();
    palette.setColor(QPalette::WindowText, IslandTheme::white(0.7));
    m_toggleLabel->setPalette(palette);
    m_toggleLabel->setAttribute(Qt::WA_TransparentForMouseEvents);
    toggleRow->addWidget(m_toggleLabel, 0, Qt::AlignVCenter);
    m_toggleContainer->installEventFilter(this);
    m_toggleContainer->hide();
    layout->addWidget(m_toggleContainer, 0, Qt::AlignVCenter);

    updateAppearance();
}

QString ShelfDropZoneView::title() const
{
    return m_titleLabel->text();
}

void ShelfDropZoneView::setTitle(const QString& title)
{
    m_titleLabel->setText(title);
    m_titleLabel->setToolTip(title);
}

QString ShelfDropZoneView::subtitle() const
{
    return m_subtitleLabel->text();
}

void ShelfDropZoneView::setSubtitle(const QString& subtitle)
{
    m_subtitleLabel->setText(subtitle);
}

void ShelfDropZoneView::setShowsToggle(bool shows)
{
    m_showsToggle = shows;
    m_toggleContainer->setVisible(shows);
}

void ShelfDropZoneView::updateAppearance()
{
    if (m_isHighlighted) {
        m_fill = highlightBlue(0.13);
        m_stroke = highlightBlue(0.34);
        m_lineWidth = 1.0;
        m_iconTint = highlightBlue(0.95);
        m_titleColor = IslandTheme::white(0.94);
    } else {
        m_fill = IslandTheme::white(0.035);
        m_stroke = IslandTheme::white(0.2);
        m_lineWidth = 0.75;
        m_iconTint = IslandTheme::white(0.7);
        m_titleColor = IslandTheme::white(0.82);
    }
    m_iconView->setPixmap(IslandIcons::pixmap(QStringLiteral("tray.and.arrow.down"), iconPointSize,
                                              SymbolWeight::medium, m_iconTint, devicePixelRatioF()));
    static_cast<TruncatingLabel*>(m_titleLabel)->setColour(m_titleColor);
    update();
}

void ShelfDropZoneView::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QRectF box = QRectF(rect()).adjusted(m_lineWidth / 2, m_lineWidth / 2, -m_lineWidth / 2, -m_lineWidth / 2);
    painter.setPen(Qt::NoPen);
    painter.setBrush(m_fill);
    painter.drawRoundedRect(box, cornerRadius, cornerRadius);
    QPen dashed(m_stroke, m_lineWidth);
    // Dashes of 3 on, 3 off, counted in points rather than in line widths.
    dashed.setDashPattern({3 / m_lineWidth, 3 / m_lineWidth});
    painter.setPen(dashed);
    painter.setBrush(Qt::NoBrush);
    painter.drawRoundedRect(box, cornerRadius, cornerRadius);
}

bool ShelfDropZoneView::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == m_toggleContainer) {
        if (event->type() == QEvent::MouseButtonPress) {
            static_cast<QMouseEvent*>(event)->accept();
            return true;
        }
        if (event->type() == QEvent::MouseButtonRelease) {
            auto* mouse = static_cast<QMouseEvent*>(event);
            mouse->accept();
            if (mouse->button() == Qt::LeftButton && m_toggleContainer->rect().contains(mouse->position().toPoint()) &&
                onToggleNotch)
                onToggleNotch();
            return true;
        }
    }
    return QWidget::eventFilter(watched, event);
}

} // namespace QuillomareMac
