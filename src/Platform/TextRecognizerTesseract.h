#pragma once

#include "TextRecognizer.h"

#include <QString>
#include <QStringList>

#include <condition_variable>
#include <memory>
#include <mutex>
#include <vector>

namespace tesseract {
class TessBaseAPI;
}

namespace Platform {

// Text recognition on Tesseract 5 (LSTM engine, automatic page segmentation). Characters come
// one per Tesseract symbol, blanks left out, in Tesseract's reading order; each box spans the
// height of the character's text line, and along a line the boxes follow each other without
// overlapping.
//
// A Tesseract engine serves one thread at a time and costs ~60 MB and ~0.2 s to load with
// "chi_sim+eng", so the recognizer keeps a few engines and lends them out: at most
// `maximumEngines` recognitions run at once, later callers wait for an engine to come back.
class TesseractTextRecognizer final : public TextRecognizer
{
public:
    // The folder the Debian language packages install into.
    static QString defaultDataFolder();
    // "chi_sim+eng"
    static QString defaultLanguages();

    explicit TesseractTextRecognizer(QString dataFolder = defaultDataFolder(),
                                     QString languages = defaultLanguages(), int maximumEngines = 2);
    ~TesseractTextRecognizer() override;

    Result recognize(const QImage& image) const override;

    // The ".traineddata" files the languages need that the data folder lacks.
    QStringList missingLanguageFiles() const;

private:
    class EngineLoan;

    QString m_dataFolder;
    QString m_languages;
    int m_maximumEngines;

    mutable std::mutex m_mutex;
    mutable std::condition_variable m_engineReturned;
    mutable std::vector<std::unique_ptr<tesseract::TessBaseAPI>> m_idleEngines;
    mutable int m_engineCount = 0;
};

} // namespace Platform
