#pragma once

#include "TextRecognizer.h"

#include <QString>
#include <QStringList>

#include <condition_variable>
#include <map>
#include <memory>
#include <mutex>
#include <vector>

namespace tesseract {
class TessBaseAPI;
}

namespace Platform {

// Text recognition on Tesseract 5 (LSTM engine). The picture is first made dark text on white,
// whatever its colours (dark mode, coloured or shaded backgrounds, low contrast). It is scaled so that its typical text
// line is as tall as the engine reads best and read as one block by the first language; each
// line is then read again by the other languages that can read it better: a line of Chinese
// characters by the other Chinese script's model, a line without any by English. What the two
// Chinese readings say together (their characters, confidences and the picture's ink) decides
// the script of the line, or of the lines around it where the line itself says little; its
// characters are then made of that script (OpenCC, see ChineseScript). Pieces of one line that the layout took for
// several lines are joined and read again whole, so that each character is read once; the width
// of punctuation beside Chinese characters (full-width or ASCII) comes from the picture.
// Characters come one per Tesseract symbol, blanks left out, in Tesseract's reading order; each
// box spans the height of the character's text line, and along a line the boxes follow each
// other without overlapping.
//
// A Tesseract engine serves one thread at a time and costs ~20–60 MB and ~0.1–0.2 s to load per
// language, so the recognizer keeps a few engines of each language and lends them out: at most
// `maximumEngines` of one language are in use at once, later callers wait for one to come back.
// One recognition reads its lines again on as many threads as the processors other work leaves
// free allow (up to three, see RecognitionThreads), each with an engine of its own: the first
// engine of a language it waits for, more only when they are free at once.
class TesseractTextRecognizer final : public TextRecognizer
{
public:
    // The folder the Debian language packages install into.
    static QString defaultDataFolder();
    // "chi_sim+chi_tra+eng": the page in simplified Chinese, its lines again in traditional
    // Chinese or English.
    static QString defaultLanguages();

    explicit TesseractTextRecognizer(QString dataFolder = defaultDataFolder(),
                                     QString languages = defaultLanguages(), int maximumEngines = 2);
    ~TesseractTextRecognizer() override;

    Result recognize(const QImage& image) const override;

    // The ".traineddata" files the languages need that the data folder lacks.
    QStringList missingLanguageFiles() const;

private:
    class EngineLoan;
    struct Pool
    {
        std::vector<std::unique_ptr<tesseract::TessBaseAPI>> idle;
        int count = 0;
    };

    // Waits for an engine when all of the language's are lent out, unless `wait` is false: then
    // none.
    std::unique_ptr<EngineLoan> borrowEngine(const QString& language, bool wait = true) const;

    QString m_dataFolder;
    QString m_languages;
    int m_maximumEngines;

    mutable std::mutex m_mutex;
    mutable std::condition_variable m_engineReturned;
    mutable std::map<QString, Pool> m_pools;
};

} // namespace Platform
