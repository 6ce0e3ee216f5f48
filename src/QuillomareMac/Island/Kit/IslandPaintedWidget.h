#pragma once

// A widget drawn by a function: the island's plain drawn surfaces (a panel, a backdrop, a pill)
// differ only in what they paint, so none needs a class of its own.

#include <QPainter>
#include <QWidget>

#include <functional>
#include <utility>

namespace QuillomareMac {

class IslandPaintedWidget final : public QWidget
{
public:
    // Called on every paint with an antialiased painter over the widget.
    using PaintFunction = std::function<void(QPainter& painter, const QWidget& widget)>;

    explicit IslandPaintedWidget(PaintFunction paint, QWidget* parent = nullptr)
        : QWidget(parent), m_paint(std::move(paint))
    {}

protected:
    void paintEvent(QPaintEvent*) override
    {
        if (!m_paint)
            return;
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing);
        m_paint(painter, *this);
    }

private:
    PaintFunction m_paint;
};

} // namespace QuillomareMac
