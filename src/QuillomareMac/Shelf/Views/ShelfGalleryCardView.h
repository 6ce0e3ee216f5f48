#pragma once

// One entry of the shelf gallery's strip: a thumbnail over a title and a kind badge. Presses,
// drags, the look and the title are ShelfEntryViewBase's; a press with Control or Shift held
// selects like any other.

#include "Shelf/Views/ShelfEntryViewBase.h"

class QLabel;

namespace QuillomareMac {

class ShelfGalleryCardView final : public ShelfEntryViewBase
{
    Q_OBJECT

public:
    explicit ShelfGalleryCardView(const ShelfItem& item, QWidget* parent = nullptr);

    QLabel* titleLabel() const { return m_titleLabel; }
    QLabel* badgeLabel() const { return m_badgeLabel; }
    QLabel* previewLabel() const { return m_previewLabel; }

    QSize sizeHint() const override;

protected:
    void resizeEvent(QResizeEvent* event) override;

private:
    void setup();
    void layoutContent();

    QLabel* m_titleLabel = nullptr;
    QLabel* m_badgeLabel = nullptr;
    QLabel* m_previewLabel = nullptr;
};

} // namespace QuillomareMac
