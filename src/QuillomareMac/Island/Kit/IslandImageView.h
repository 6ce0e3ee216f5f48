#pragma once

// One image scaled to fill the view while keeping its proportions (the overflow is cut off), with
// a pointing hand over it and a callback for a click (the inspector's preview and thumbnails).

#include <QImage>
#include <QWidget>

#include <functional>

namespace QuillomareMac {

class AspectFillImageView final : public QWidget
{
    Q_OBJECT

public:
    explicit AspectFillImageView(QWidget* parent = nullptr);

    // A null image means none: no drawing, no tooltip, no hand cursor.
    const QImage& image() const { return m_image; }
    void setImage(const QImage& image);
    bool hasImage() const { return !m_image.isNull(); }

    std::function<void()> onClick;

    // Where an image of `imageSize` is drawn in `bounds`: scaled by the larger of the two ratios,
    // centred. Empty when either size is not positive.
    static QRectF aspectFillRect(const QSizeF& imageSize, const QRectF& bounds);

    // Answers this view for a point inside it and nothing otherwise; the point is in the parent's
    // coordinates (as a parent asks its children) and is mapped into ours before the test. Child
    // widgets never get clicks.
    QWidget* hitTest(const QPointF& pointInParent);

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void childEvent(QChildEvent* event) override;

private:
    QImage m_image;
    bool m_pressedOnImage = false;
};

} // namespace QuillomareMac
