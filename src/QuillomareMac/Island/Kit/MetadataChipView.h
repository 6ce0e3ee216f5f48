#pragma once

// A tiny rounded chip with one line of small text (sizes, dates, counts in the inspector and the
// shelf gallery). It prefers its text's width, and when squeezed it cuts the text at the tail
// rather than pushing its neighbours out.

#include <QWidget>

namespace QuillomareMac {

class MetadataChipView final : public QWidget
{
    Q_OBJECT

public:
    explicit MetadataChipView(const QString& text, QWidget* parent = nullptr);

    QString text() const { return m_text; }
    void setText(const QString& text);
    // The text as it fits the chip's current width.
    QString shownText() const;

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QString m_text;
};

} // namespace QuillomareMac
