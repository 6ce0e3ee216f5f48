#pragma once

#include <QImage>
#include <QList>
#include <QRectF>
#include <QString>
#include <QStringList>

#include <memory>

namespace Platform {

// One recognised character and where it stands, in image coordinates normalised to 0…1 with the
// origin at the lower left (a larger y is higher in the image).
struct RecognizedCharacter
{
    QString text;
    QRectF boundingBox;
};

// One recognised word (for Chinese, often a run of characters) and where it stands, in the same
// coordinates as the characters. `confidence` is the engine's, 0…100; `lineIndex` counts the text
// lines of the page in reading order, so words sharing it stand on one line.
struct RecognizedWord
{
    QString text;
    QRectF boundingBox;
    float confidence = 0;
    int lineIndex = 0;
};

// Finds text in images (Simplified Chinese, Traditional Chinese and English), each character in
// the script it is written in. recognize() blocks for tens to hundreds of milliseconds: call it
// off the GUI thread. Safe to call from several threads at once.
class TextRecognizer
{
public:
    virtual ~TextRecognizer() = default;

    // Why recognition could not run. The platform layer has no interface language: the caller
    // turns the failure and its details into the user's words.
    enum class Failure
    {
        none,
        emptyImage,
        languageDataMissing,
        languagesNotLoaded,
        recognitionFailed
    };

    struct Result
    {
        QList<RecognizedCharacter> characters; // in reading order as the engine found it
        QList<RecognizedWord> words;           // in reading order, blanks left out
        QList<QRectF> lines;                   // each text line's box, indexed by RecognizedWord::lineIndex
        Failure failure = Failure::none;
        QStringList missingFiles; // languageDataMissing: the ".traineddata" files not found
        QString languages;        // languagesNotLoaded: what the engine was asked to load, "chi_sim+chi_tra+eng"
        QString dataFolder;       // both: where the language data was looked for

        bool failed() const { return failure != Failure::none; }
    };
    virtual Result recognize(const QImage& image) const = 0;

    // The engine the program uses: Tesseract with "chi_sim+chi_tra+eng".
    static std::shared_ptr<TextRecognizer> shared();
    static void setSharedForTesting(std::shared_ptr<TextRecognizer> recognizer);
};

} // namespace Platform
