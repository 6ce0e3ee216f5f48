#pragma once

// The makers of the island's buttons, one per family, fixing each family's size and tints. Each
// returns a configured button whose click runs `action` (in `target`'s context: the connection
// goes when the target goes); the caller places it.

#include "IslandActionTileButton.h"
#include "IslandIconButton.h"

#include <QAbstractButton>

#include <functional>

namespace QuillomareMac {

// A small rounded text button for the island's bars (the selection bar's Combine, for one).
class IslandCompactTextButton final : public QAbstractButton
{
    Q_OBJECT

public:
    explicit IslandCompactTextButton(const QString& title, QWidget* parent = nullptr);

    QColor fillColor() const;
    QColor titleColor() const;

    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;
    void enterEvent(QEnterEvent* event) override;
    void leaveEvent(QEvent* event) override;

private:
    bool m_isHovering = false;
};

// A borderless symbol-and-title button (the shelf footer's Clear Session).
class IslandTextIconButton final : public QAbstractButton
{
    Q_OBJECT

public:
    IslandTextIconButton(const QString& title, const QString& symbol, QWidget* parent = nullptr);

    const QString& symbol() const { return m_symbol; }
    QColor tint() const;

    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QString m_symbol;
};

namespace IslandButtonFactory {

using Action = std::function<void()>;

// 22 × 22 icon button, white 0.6 at rest, 0.94 under the pointer.
IslandIconButton* makeHeaderIconButton(const QString& symbol, const QString& tooltip, QObject* target, Action action,
                                       QWidget* parent = nullptr);
// 26 × 26 icon button, white 0.54 at rest, 0.94 under the pointer.
IslandIconButton* makeIconButton(const QString& symbol, const QString& tooltip, QObject* target, Action action,
                                 QWidget* parent = nullptr);
// 28 × 28 icon button, white 0.54 at rest, 0.94 under the pointer.
IslandIconButton* makeShelfActionButton(const QString& symbol, const QString& tooltip, QObject* target, Action action,
                                        QWidget* parent = nullptr);
// 40 × 39 action tile without subtitle.
IslandActionTileButton* makeShelfGalleryActionTile(const QString& title, const QString& symbol, const QString& tooltip,
                                                   QObject* target, Action action, QWidget* parent = nullptr);
// A 22-point-high rounded text button in 10.5-point semibold.
IslandCompactTextButton* makeCompactTextButton(const QString& title, const QString& tooltip, QObject* target,
                                               Action action, QWidget* parent = nullptr);
// Symbol (8 pt) and title (8.5 pt) in white 0.52, no border, at its natural size.
IslandTextIconButton* makeTextIconButton(const QString& title, const QString& symbol, const QString& tooltip,
                                         QObject* target, Action action, QWidget* parent = nullptr);

} // namespace IslandButtonFactory

} // namespace QuillomareMac
