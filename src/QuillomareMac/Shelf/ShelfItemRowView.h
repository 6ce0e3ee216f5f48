#pragma once

// One entry of the shelf's list variant: a thumbnail, the title and the chip line. Presses, drags
// and the look are ShelfEntryViewBase's; here a Control- or Shift-press goes to the
// multi-selection instead of selecting.

#include "Shelf/ShelfEntryViewBase.h"

class QLabel;

namespace QuillomareMac {

class ShelfItemRowView final : public ShelfEntryViewBase
{
    Q_OBJECT

public:
    explicit ShelfItemRowView(const ShelfItem& item, QWidget* parent = nullptr);

    // A Control-press toggles (extendRange false); a Shift-press extends (true).
    std::function<void(const ShelfItem&, bool extendRange)> onMultiSelect;

    QLabel* titleLabel() const { return m_titleLabel; }
    QLabel* detailLabel() const { return m_detailLabel; }

    using ShelfEntryViewBase::didHandleMultiSelectClick;

protected:
    bool isMultiSelectPress(Qt::KeyboardModifiers modifiers) const override;
    void multiSelectPressed(Qt::KeyboardModifiers modifiers) override;

private:
    void setup();

    QLabel* m_titleLabel = nullptr;
    QLabel* m_detailLabel = nullptr;
};

} // namespace QuillomareMac
