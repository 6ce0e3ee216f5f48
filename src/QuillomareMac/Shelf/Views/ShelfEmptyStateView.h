#pragma once

// What the shelf's list variant shows for a session without entries.

#include <QWidget>

class QLabel;

namespace QuillomareMac {

class ShelfEmptyStateView final : public QWidget
{
    Q_OBJECT

public:
    explicit ShelfEmptyStateView(QWidget* parent = nullptr);

    QLabel* titleLabel() const { return m_titleLabel; }
    QLabel* subtitleLabel() const { return m_subtitleLabel; }

private:
    QLabel* m_iconView = nullptr;
    QLabel* m_titleLabel = nullptr;
    QLabel* m_subtitleLabel = nullptr;
};

} // namespace QuillomareMac
