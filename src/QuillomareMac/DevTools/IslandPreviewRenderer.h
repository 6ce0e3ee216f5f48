#pragma once

// Pictures of the island for developers: the expanded island in either content mode and the
// capture echo, painted off screen with sample content and written as PNG files. Nothing is shown
// and no display is needed (the offscreen platform does), but a QApplication must exist.
//
// The island is sized as it would be on a 1440 × 900 screen without a camera housing: the
// expanded island 780 × 430, the echo 280 × 58 (wider for a feedback with a long reason).

#include "Island/IslandView.h"

#include <Platform/ScreenInfo.h>
#include <QuillomareCore/CaptureFeedback.h>
#include <QuillomareCore/Errors.h>

#include <QImage>
#include <QSize>
#include <QString>

namespace QuillomareMac {

class IslandPreviewRenderer
{
public:
    enum class ContentPreviewMode
    {
        history,
        shelfGallery
    };

    class RenderError final : public QuillomareCore::Error
    {
    public:
        enum class Kind
        {
            missingBitmap,
            invalidPNG,
            blankPreview
        };

        // `detail` (a path, a cause) follows the kind's text when given.
        explicit RenderError(Kind kind, const QString& detail = {});
        Kind kind() const { return m_kind; }
        // The kind's text in the interface language.
        static QString description(Kind kind);

    private:
        Kind m_kind;
    };

    // Write the picture to `path`, an absolute file path; the folder must exist. Throw RenderError.
    static void render(const QString& path, ContentPreviewMode mode);
    static void renderCaptureEcho(const QString& path);

    // MARK: The pieces
    // The screen the previews are sized for.
    static Platform::ScreenDescription sampleScreen();
    static QSize expandedIslandSize();
    static QSize captureEchoSize();
    // The echo as wide as this feedback makes it.
    static QSize captureEchoSize(const QuillomareCore::CaptureFeedback& feedback);
    // The echo's badge: a text copied in an editor, saved.
    static QuillomareCore::CaptureFeedback sampleCaptureFeedback();
    static IslandView::ContentMode contentMode(ContentPreviewMode mode);
    // Hands the view a sample history and a sample shelf the way the application hands it its
    // own (the entries are made up; their files and images do not exist on disk).
    static void fillWithSampleContent(IslandView& view);

    // The pictures, in logical pixels times the screen's device pixel ratio; null when the
    // painting produced nothing.
    static QImage islandImage(ContentPreviewMode mode);
    static QImage captureEchoImage();
    static QImage captureEchoImage(const QuillomareCore::CaptureFeedback& feedback);

    // Every pixel the same colour (a fully transparent picture included): nothing was drawn.
    static bool isBlank(const QImage& image);
    // Checks the picture, writes it as PNG and reads it back. Throws RenderError: missingBitmap
    // for a null image, blankPreview for a blank one, invalidPNG when writing or reading fails.
    static void writePNG(const QImage& image, const QString& path);
};

} // namespace QuillomareMac
