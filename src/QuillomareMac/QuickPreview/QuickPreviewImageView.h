#pragma once

// The quick preview's picture: fitted at first, zoomed with the wheel, a pinch or a double click
// around the pointer, panned by dragging while zoomed, never past the picture's edges. Over it
// lies the Live Text of the picture: words the user selects by dragging across them, the
// recognised regions lit up on request, and a hint line.
//
// Pictures come in two sizes: a reduced one that paints the fitted card cheaply, and the whole
// one (when there is one) that zoomed views draw from; zoom is measured against the whole
// picture's size, so 100 % shows one of its pixels per point.

#include "LiveTextLayout.h"

#include <QImage>
#include <QPointF>
#include <QRectF>
#include <QWidget>

#include <functional>
#include <optional>

class QGestureEvent;

namespace QuillomareMac {

class QuickPreviewImageView final : public QWidget
{
    Q_OBJECT

public:
    explicit QuickPreviewImageView(QWidget* parent = nullptr);

    // Ctrl+C while the picture has the keyboard.
    std::function<void()> onCopyRequested;

    // `reduced` paints; `whole` (may be null) is drawn from once zoom needs more pixels;
    // `pictureSize` is the whole picture's size in pixels. A new picture of the same shown entry
    // keeps the zoom as it looks; clear() or a picture of another shape starts fitted.
    void setPicture(const QImage& reduced, const QImage& whole, QSize pictureSize);
    void clear();
    const QImage& reducedImage() const { return m_reduced; }
    const QImage& wholeImage() const { return m_whole; }
    QSize pictureSize() const { return m_pictureSize; }
    bool hasPicture() const { return !m_reduced.isNull(); }

    // Zoom: points of the view per pixel of the whole picture.
    double scale() const { return m_scale; }
    double fitScale() const;
    double maximumScale() const;
    bool isZoomed() const;
    // Zooms to `scale` (kept between fitted and the maximum), the picture's point under `anchor`
    // staying there as far as the edges allow.
    void zoomTo(double scale, QPointF anchor);
    void zoomBy(double factor, QPointF anchor) { zoomTo(m_scale * factor, anchor); }
    void zoomToFit();
    // The double click: back to fitted when zoomed, else to 100 % (200 % when the fitted
    // picture is already shown at full size or larger) around `anchor`.
    void toggleZoom(QPointF anchor);
    void panBy(QPointF delta);
    // Where the picture lies in the view.
    QRectF pictureRect() const;
    // A point of the view in the picture (0…1 from its upper left), and back.
    QPointF mapToPicture(QPointF viewPoint) const;
    QPointF mapFromPicture(QPointF picturePoint) const;
    QRectF mapFromPicture(const QRectF& pictureRect) const;

    // Live Text.
    void setLiveText(LiveTextLayout layout);
    const LiveTextLayout& liveText() const { return m_liveText; }
    // The recognised regions lit up, the rest of the picture dimmed.
    void setTextHighlighted(bool highlighted);
    bool isTextHighlighted() const { return m_textHighlighted; }
    void setHint(const QString& hint);
    const QString& hint() const { return m_hint; }
    // Selected words, first and last in reading order.
    std::optional<std::pair<int, int>> selection() const;
    void selectWords(int first, int last);
    void clearSelection();
    // The selected words as text; absent when nothing is selected.
    std::optional<QString> selectedText() const;

protected:
    bool event(QEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    enum class Drag
    {
        none,
        pending, // pressed on a word, not moved far enough yet
        selecting,
        panning
    };

    void clampOffset();
    void refitIfNotZoomed();
    void updateCursor(QPointF position);
    std::optional<int> wordUnder(QPointF viewPoint) const;
    void handleGesture(QGestureEvent* event);
    void paintPicture(QPainter& painter, const QRectF& shown);
    void paintLiveText(QPainter& painter, const QRectF& shown);
    void paintHint(QPainter& painter);

    QImage m_reduced;
    QImage m_whole;
    QSize m_pictureSize;
    // The fitted picture scaled once for the screen, so that painting the resting card is a copy.
    QImage m_fittedCache;
    double m_scale = 1;
    QPointF m_offset; // the picture's upper left in the view
    bool m_zoomed = false;

    LiveTextLayout m_liveText;
    bool m_textHighlighted = false;
    QString m_hint;
    std::optional<int> m_anchorWord;
    std::optional<int> m_reachedWord;

    Drag m_drag = Drag::none;
    QPointF m_pressPosition;
    QPointF m_lastDragPosition;
};

} // namespace QuillomareMac
