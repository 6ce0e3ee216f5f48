#pragma once

// The line under the history rows: how many entries the list shows.

#include <QWidget>

class QLabel;

namespace QuillomareMac {

class HistoryListFooterView final : public QWidget
{
    Q_OBJECT

public:
    explicit HistoryListFooterView(int count, QWidget* parent = nullptr);

    QLabel* label() const { return m_label; }

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    QLabel* m_label = nullptr;
};

} // namespace QuillomareMac
