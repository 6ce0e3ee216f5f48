#pragma once

// Finding the text in an image entry or any image, as one region per character with its place,
// and turning regions into plain text in reading order.

#include <Platform/TextRecognizer.h>
#include <QuillomareCore/ClipboardItem.h>
#include <QuillomareCore/Errors.h>

#include <QFuture>
#include <QHashFunctions>
#include <QImage>
#include <QList>
#include <QObject>
#include <QRectF>
#include <QString>

#include <functional>
#include <optional>

namespace QuillomareMac {

struct RecognizedTextRegion
{
    // One non-blank user-perceived character.
    QString text;
    // Normalised to 0…1 with the origin at the lower left: a larger y is higher in the image.
    QRectF boundingBox;

    friend bool operator==(const RecognizedTextRegion&, const RecognizedTextRegion&) = default;
};

class ImageTextRecognizerError final : public QuillomareCore::Error
{
public:
    enum class Case { unsupportedPayload, unreadableImage, noText };

    // The description is taken in the interface language at the moment of the error.
    explicit ImageTextRecognizerError(Case errorCase);

    Case errorCase() const { return m_case; }
    static QString description(Case errorCase);

    friend bool operator==(const ImageTextRecognizerError& a, const ImageTextRecognizerError& b)
    {
        return a.m_case == b.m_case;
    }
    friend size_t qHash(const ImageTextRecognizerError& error, size_t seed = 0)
    {
        return ::qHash(static_cast<int>(error.m_case), seed);
    }

private:
    Case m_case;
};

namespace ImageTextRecognizer {

using Regions = QList<RecognizedTextRegion>;

// Both recognitions return at once; decoding and recognition run on the global thread pool.
// The future ends with the regions (never an empty list) or with an exception, thrown again by
// result()/waitForFinished(): ImageTextRecognizerError, or QuillomareCore::Error telling in the
// interface language why the engine could not run. A future ends exactly once, so a caller is
// never answered twice; from the GUI thread use `whenFinished` rather than waiting.
//
// The entry must be a PNG image or a file entry holding exactly one image file.
QFuture<Regions> recognizeTextRegions(const QuillomareCore::ClipboardItem& item);
QFuture<Regions> recognizeTextRegions(const QImage& image);

// Calls exactly one of the two handlers, later, on the receiver's thread (call it there), and
// neither once the receiver is destroyed: the weak capture of a view that may have moved on.
void whenFinished(const QFuture<Regions>& future, QObject* receiver, std::function<void(const Regions&)> onRegions,
                  std::function<void(const QuillomareCore::Error&)> onError);

// The regions sorted into lines, top to bottom, each line left to right; characters of one line
// whose centres share a place keep the order they came in. A region belongs to a line when its
// centre lies within 0.012 of the line's highest one, but never less than half and never more
// than three quarters of that one's height; in a picture turned by a few degrees the heights are
// measured as the lines run, not level.
Regions sortedInReadingOrder(const Regions& regions);

// The text of the regions in reading order, one line feed between lines and nothing between
// characters of one line. Nothing for no regions.
std::optional<QString> readingOrderText(const Regions& regions);

// One region per non-blank character of a recognised line, in the line's order; a character
// without a usable box is left out.
Regions selectionRegions(const QList<Platform::RecognizedCharacter>& line);

} // namespace ImageTextRecognizer

} // namespace QuillomareMac
