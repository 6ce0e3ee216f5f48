// The quick preview card over the expanded island, and the capture echo's overlay. Neither card
// nor overlay is built yet: the island remembers which entry was asked for, and no card is ever
// visible.

#include "IslandView.h"

namespace QuillomareMac {

void IslandView::setupCaptureEchoOverlay()
{
    // The echo's badge (a CaptureEchoHUDView) is made the first time an echo shows
    // (IslandViewEcho.cpp): most sessions never need it before the first copy.
}

void IslandView::setupQuickPreviewOverlay()
{
    // The hidden backdrop and card go on top of the island here.
}

bool IslandView::isQuickPreviewVisible() const
{
    // Visible needs a card showing the entry above 0.2 alpha; there is no card yet.
    return false;
}

void IslandView::presentQuickPreview(const QuillomareCore::ClipboardItem& item, bool /*animated*/)
{
    m_previewingItemID = item.id;
}

void IslandView::openHistoryQuickPreview(const QuillomareCore::ClipboardItem& item)
{
    if (isQuickPreviewVisible() && m_previewingItemID == item.id)
        return;
    presentQuickPreview(item, true);
}

void IslandView::dismissQuickPreview(bool /*animated*/)
{
    m_previewingItemID.reset();
}

bool IslandView::copyQuickPreviewSelectedTextIfAvailable()
{
    return false;
}

} // namespace QuillomareMac
