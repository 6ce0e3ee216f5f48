#pragma once

// One entry of the shelf's list variant: a thumbnail, the title and the chip line. Presses, drags
// the multi-selection and the look are ShelfEntryViewBase's.

#include "Shelf/Views/ShelfEntryViewBase.h"

class QLabel;

namespace QuillomareMac {

class ShelfItemRowView final : public ShelfEntryViewBase
{
    Q_OBJECT

public:
    explicit ShelfItemRowView(const ShelfItem& item, QWidget* parent = nullptr);

    QLabel* titleLabel() const { return m_titleLabel; }
    QLabel* detailLabel() const { return m_detailLabel; }

    using ShelfEntryViewBase::didHandleMultiSelectClick;

private:
    void setup();

    QLabel* m_titleLabel = nullptr;
    QLabel* m_detailLabel = nullptr;
};

} // namespace QuillomareMac
