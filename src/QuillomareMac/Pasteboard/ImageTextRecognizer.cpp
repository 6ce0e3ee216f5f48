#include "ImageTextRecognizer.h"

#include "MacFileContent.h"

#include <QuillomareCore/Foundation.h>
#include <QuillomareCore/Language.h>

#include <QFutureWatcher>
#include <QImageReader>
#include <QPointer>
#include <QPromise>
#include <QTextBoundaryFinder>
#include <QThread>
#include <QtConcurrent>

#include <algorithm>
#include <cmath>
#include <memory>
#include <numeric>
#include <vector>

namespace QuillomareMac {

namespace Language = QuillomareCore::Language;

using QuillomareCore::ClipboardItem;
using ImageTextRecognizer::Regions;

ImageTextRecognizerError::ImageTextRecognizerError(Case errorCase)
    : QuillomareCore::Error(description(errorCase)), m_case(errorCase)
{
}

QString ImageTextRecognizerError::description(Case errorCase)
{
    switch (errorCase) {
    case Case::unsupportedPayload:
        return Language::text(QStringLiteral("这项内容不是可识别的图片"),
                              QStringLiteral("This item is not a recognizable image"));
    case Case::unreadableImage:
        return Language::text(QStringLiteral("图片读取失败"), QStringLiteral("Failed to read the image"));
    case Case::noText:
        break;
    }
    return Language::text(QStringLiteral("没有识别到文字"), QStringLiteral("No text was recognized"));
}

namespace {

using Case = ImageTextRecognizerError::Case;

// Centres closer than this (a fraction of the image height) stand on one line.
constexpr double kSameLineTolerance = 0.012;

double finiteOrZero(double value)
{
    return std::isfinite(value) ? value : 0.0;
}

double midY(const RecognizedTextRegion& region)
{
    return finiteOrZero(region.boundingBox.center().y());
}

double midX(const RecognizedTextRegion& region)
{
    return finiteOrZero(region.boundingBox.center().x());
}

bool isBlank(const QString& text)
{
    return QuillomareCore::Text::trimmed(text).isEmpty();
}

bool isUsableBox(const QRectF& box)
{
    return std::isfinite(box.x()) && std::isfinite(box.y()) && std::isfinite(box.width())
           && std::isfinite(box.height()) && box.width() > 0 && box.height() > 0;
}

// Runs on a pool thread.
QImage imageFrom(const ClipboardItem& item)
{
    if (!MacPreview::hasMacPreviewImagePayload(item))
        throw ImageTextRecognizerError(Case::unsupportedPayload);

    if (item.payload.isImagePNG()) {
        QImage image;
        if (!image.loadFromData(item.payload.imagePNGValue()))
            throw ImageTextRecognizerError(Case::unreadableImage);
        return image;
    }
    if (item.payload.isFileURLs()) {
        const std::optional<QString> path = MacPreview::macPreviewImageFilePath(item);
        if (!path)
            throw ImageTextRecognizerError(Case::unreadableImage);
        QImageReader reader(*path);
        reader.setAutoTransform(true); // a photo reads the way it is shown
        const QImage image = reader.read();
        if (image.isNull())
            throw ImageTextRecognizerError(Case::unreadableImage);
        return image;
    }
    throw ImageTextRecognizerError(Case::unsupportedPayload);
}

QString recognitionFailedDescription()
{
    return Language::text(QStringLiteral("文字识别失败"), QStringLiteral("Text recognition failed"));
}

// The engine's failure in the interface language. Its details (file and package names, folders)
// are the same in both.
QString engineFailureDescription(const Platform::TextRecognizer::Result& result)
{
    using Failure = Platform::TextRecognizer::Failure;
    switch (result.failure) {
    case Failure::languageDataMissing: {
        // Debian ships "xyz_abc.traineddata" in the package "tesseract-ocr-xyz-abc".
        QStringList packages;
        for (const QString& file : result.missingFiles)
            packages.append(QStringLiteral("tesseract-ocr-") +
                            file.section(QLatin1Char('.'), 0, 0).replace(QLatin1Char('_'), QLatin1Char('-')));
        return Language::text(QStringLiteral("缺少文字识别数据：%2 中没有 %1（请安装 %3）")
                                  .arg(result.missingFiles.join(QStringLiteral("、")), result.dataFolder,
                                       packages.join(QStringLiteral("、"))),
                              QStringLiteral("Text recognition data is missing: %1 not found in %2 (install %3)")
                                  .arg(result.missingFiles.join(QStringLiteral(", ")), result.dataFolder,
                                       packages.join(QStringLiteral(", "))));
    }
    case Failure::languagesNotLoaded:
        return Language::text(QStringLiteral("无法从 %2 载入文字识别语言 %1").arg(result.languages, result.dataFolder),
                              QStringLiteral("Text recognition could not load the languages %1 from %2")
                                  .arg(result.languages, result.dataFolder));
    case Failure::recognitionFailed:
        return Language::text(QStringLiteral("这张图片的文字识别失败"),
                              QStringLiteral("Text recognition failed on this image"));
    case Failure::none:
    case Failure::emptyImage:
        break;
    }
    return recognitionFailedDescription();
}

// Runs on a pool thread.
Regions recognize(const Platform::TextRecognizer& recognizer, const QImage& image)
{
    if (image.isNull())
        throw ImageTextRecognizerError(Case::unreadableImage);
    const Platform::TextRecognizer::Result result = recognizer.recognize(image);
    if (result.failure == Platform::TextRecognizer::Failure::emptyImage)
        throw ImageTextRecognizerError(Case::unreadableImage);
    if (result.failed())
        throw QuillomareCore::Error(engineFailureDescription(result));
    const Regions regions = ImageTextRecognizer::selectionRegions(result.characters);
    if (regions.isEmpty())
        throw ImageTextRecognizerError(Case::noText);
    return regions;
}

// The future carries either the value or the exception that `work` ended with, once.
template<typename Work>
QFuture<Regions> runInBackground(Work work)
{
    return QtConcurrent::run(QThreadPool::globalInstance(), [work = std::move(work)](QPromise<Regions>& promise) {
        try {
            promise.addResult(work());
        } catch (...) {
            promise.setException(std::current_exception());
        }
    });
}

} // namespace

QFuture<Regions> ImageTextRecognizer::recognizeTextRegions(const ClipboardItem& item)
{
    // Taken now, on the caller's thread: the engine in place when the user asked is the one used.
    std::shared_ptr<Platform::TextRecognizer> recognizer = Platform::TextRecognizer::shared();
    return runInBackground([recognizer = std::move(recognizer), item] { return recognize(*recognizer, imageFrom(item)); });
}

QFuture<Regions> ImageTextRecognizer::recognizeTextRegions(const QImage& image)
{
    std::shared_ptr<Platform::TextRecognizer> recognizer = Platform::TextRecognizer::shared();
    return runInBackground([recognizer = std::move(recognizer), image] { return recognize(*recognizer, image); });
}

void ImageTextRecognizer::whenFinished(const QFuture<Regions>& future, QObject* receiver,
                                       std::function<void(const Regions&)> onRegions,
                                       std::function<void(const QuillomareCore::Error&)> onError)
{
    if (!receiver)
        return;
    if (receiver->thread() != QThread::currentThread()) {
        // The watcher must live on the receiver's thread, as its child.
        QMetaObject::invokeMethod(
            receiver,
            [future, receiver, onRegions = std::move(onRegions), onError = std::move(onError)]() mutable {
                whenFinished(future, receiver, std::move(onRegions), std::move(onError));
            },
            Qt::QueuedConnection);
        return;
    }

    // A child of the receiver: destroying the receiver takes the watcher and its pending answer along.
    auto* watcher = new QFutureWatcher<Regions>(receiver);
    QObject::connect(watcher, &QFutureWatcherBase::finished, watcher,
                     [watcher, onRegions = std::move(onRegions), onError = std::move(onError)] {
                         watcher->deleteLater();
                         QFuture<Regions> finished = watcher->future();
                         try {
                             finished.waitForFinished(); // throws what the recognition threw
                         } catch (const QuillomareCore::Error& error) {
                             onError(error);
                             return;
                         } catch (...) {
                             // Anything else (out of memory, say) has no words for the user.
                             onError(QuillomareCore::Error(recognitionFailedDescription()));
                             return;
                         }
                         if (finished.resultCount() > 0) // none only when the caller cancelled it
                             onRegions(finished.result());
                     });
    watcher->setFuture(future);
}

namespace {

// A slant is measured only from this many pairs of neighbours or more: a handful of characters
// says nothing about how the picture was held.
constexpr size_t kLeastPairsForSlant = 6;

// How far the lines of the picture rise per unit across, in the regions' own units (0 for level
// text). A photographed or scanned screen is often turned by a degree or two; across a settings
// row, a label and its value far to its right then stand several line heights' worth of tolerance
// apart, and lines cut by height alone interleave their pieces. Each region is paired with its
// nearest neighbour to the right that shares most of its height (the next character of its line);
// the middle of those pairs' slopes is the slant. It depends on the set of regions only, not on
// their order.
double slantOf(const Regions& regions)
{
    std::vector<qsizetype> byX(static_cast<size_t>(regions.size()));
    std::iota(byX.begin(), byX.end(), qsizetype(0));
    std::stable_sort(byX.begin(), byX.end(),
                     [&](qsizetype a, qsizetype b) { return midX(regions[a]) < midX(regions[b]); });
    std::vector<double> slopes;
    for (size_t i = 0; i < byX.size(); ++i) {
        const QRectF& box = regions[byX[i]].boundingBox;
        if (!isUsableBox(box))
            continue;
        for (size_t j = i + 1; j < byX.size(); ++j) {
            const QRectF& next = regions[byX[j]].boundingBox;
            const double across = next.center().x() - box.center().x();
            // A blank between words is narrower than a character or two.
            if (across > 1.5 * (box.width() + next.width()))
                break;
            if (!isUsableBox(next) || across <= 0)
                continue;
            const double shared = std::min(box.bottom(), next.bottom()) - std::max(box.top(), next.top());
            if (shared > 0.5 * std::min(box.height(), next.height())) {
                slopes.push_back((next.center().y() - box.center().y()) / across);
                break;
            }
        }
    }
    if (slopes.size() < kLeastPairsForSlant)
        return 0;
    const auto middle = slopes.begin() + static_cast<std::ptrdiff_t>(slopes.size() / 2);
    std::nth_element(slopes.begin(), middle, slopes.end());
    return std::isfinite(*middle) ? *middle : 0.0;
}

// The height a region's centre would have if the picture were level.
double levelledMidY(const RecognizedTextRegion& region, double slant)
{
    return midY(region) - slant * midX(region);
}

// Ordering regions by a pairwise "more than 0.012 apart vertically, else left to right" test
// is not a strict weak order: with centres at 0.000, 0.010 and 0.020 the middle one is "on the
// line" of both others while those two are not, and sorting with such a test is undefined
// (crashes or scrambled text). Lines are therefore formed first: walking down from the highest
// centre, a region joins the current line while it lies within the tolerance of the line's
// first (highest) region. Ordinary text, whose lines are farther apart than the tolerance and
// whose characters are not, comes out as the pairwise test intends.
//
// The heights compared are those of a levelled picture, so that a slightly turned one keeps its
// lines. And the tolerance keeps to the size of the line: in a short picture (a label, one line
// of a chat) 0.012 of its height is under a pixel, less than a character's centre wanders, so
// characters within half a line's height of its first one belong to it; in a long screenshot
// 0.012 of its height spans two or three lines, which would be merged and interleaved, so no
// more than three quarters of a line's height. Lines of text stand at least a line's height
// apart.
std::vector<std::vector<qsizetype>> linesInReadingOrder(const Regions& regions)
{
    const double slant = slantOf(regions);
    std::vector<double> heights;
    heights.reserve(static_cast<size_t>(regions.size()));
    for (const RecognizedTextRegion& region : regions)
        heights.push_back(levelledMidY(region, slant));

    std::vector<qsizetype> byHeight(static_cast<size_t>(regions.size()));
    std::iota(byHeight.begin(), byHeight.end(), qsizetype(0));
    std::stable_sort(byHeight.begin(), byHeight.end(),
                     [&](qsizetype a, qsizetype b) { return heights[size_t(a)] > heights[size_t(b)]; });

    std::vector<std::vector<qsizetype>> lines;
    double lineTop = 0;
    double tolerance = kSameLineTolerance;
    for (const qsizetype index : byHeight) {
        const double centre = heights[size_t(index)];
        if (lines.empty() || lineTop - centre > tolerance) {
            lines.emplace_back();
            lineTop = centre;
            const double height = regions[index].boundingBox.height();
            tolerance = std::isfinite(height) && height > 0
                            ? std::clamp(kSameLineTolerance, height / 2, height * 3 / 4)
                            : kSameLineTolerance;
        }
        lines.back().push_back(index);
    }
    for (std::vector<qsizetype>& line : lines) {
        std::sort(line.begin(), line.end()); // ties across the line keep the recognition order
        std::stable_sort(line.begin(), line.end(),
                         [&](qsizetype a, qsizetype b) { return midX(regions[a]) < midX(regions[b]); });
    }
    return lines;
}

} // namespace

Regions ImageTextRecognizer::sortedInReadingOrder(const Regions& regions)
{
    Regions sorted;
    sorted.reserve(regions.size());
    for (const std::vector<qsizetype>& line : linesInReadingOrder(regions))
        for (const qsizetype index : line)
            sorted.append(regions[index]);
    return sorted;
}

std::optional<QString> ImageTextRecognizer::readingOrderText(const Regions& regions)
{
    if (regions.isEmpty())
        return std::nullopt;
    QStringList lines;
    for (const std::vector<qsizetype>& line : linesInReadingOrder(regions)) {
        QString text;
        for (const qsizetype index : line)
            text += regions[index].text;
        lines.append(text);
    }
    return lines.join(QLatin1Char('\n'));
}

Regions ImageTextRecognizer::selectionRegions(const QList<Platform::RecognizedCharacter>& line)
{
    Regions regions;
    for (const Platform::RecognizedCharacter& character : line) {
        const QRectF& box = character.boundingBox;
        if (!isUsableBox(box))
            continue;

        // The engine's unit is usually one character; when it holds several, each gets an equal
        // slice of the box, left to right.
        QStringList characters;
        QTextBoundaryFinder finder(QTextBoundaryFinder::Grapheme, character.text);
        qsizetype start = 0;
        for (qsizetype end = finder.toNextBoundary(); end != -1; end = finder.toNextBoundary()) {
            const QString piece = character.text.mid(start, end - start);
            if (!isBlank(piece))
                characters.append(piece);
            start = end;
        }
        const double sliceWidth = box.width() / std::max<qsizetype>(1, characters.size());
        for (qsizetype i = 0; i < characters.size(); ++i)
            regions.append({characters[i], QRectF(box.x() + i * sliceWidth, box.y(), sliceWidth, box.height())});
    }
    return regions;
}

} // namespace QuillomareMac
