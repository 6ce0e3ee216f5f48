#include "TextRecognizerTesseract.h"

#include <QuillomareCore/Foundation.h>

#include <QDir>
#include <QFileInfo>

#include <tesseract/baseapi.h>
#include <tesseract/resultiterator.h>

#include <dlfcn.h>

#include <algorithm>
#include <cstdlib>
#include <vector>

namespace Platform {

namespace {

// Tesseract keeps its settings in process-wide variables that loading an engine writes: load
// one engine at a time, whichever recognizer asks.
std::mutex& engineLoadMutex()
{
    static std::mutex mutex;
    return mutex;
}

// Tesseract reads colour and grey alike, but a transparent pixel would read as black: a PNG of
// black text on a transparent background must come out as black on white.
QImage greyImageForRecognition(const QImage& image)
{
    if (!image.hasAlphaChannel())
        return image.convertToFormat(QImage::Format_Grayscale8);

    const QImage premultiplied = image.convertToFormat(QImage::Format_ARGB32_Premultiplied);
    QImage grey(premultiplied.size(), QImage::Format_Grayscale8);
    for (int y = 0; y < premultiplied.height(); ++y) {
        const auto* in = reinterpret_cast<const QRgb*>(premultiplied.constScanLine(y));
        uchar* out = grey.scanLine(y);
        for (int x = 0; x < premultiplied.width(); ++x) {
            const QRgb pixel = in[x];
            const int white = 255 - qAlpha(pixel); // "over white" for premultiplied colour
            out[x] = static_cast<uchar>(qGray(qRed(pixel) + white, qGreen(pixel) + white, qBlue(pixel) + white));
        }
    }
    return grey;
}

// A recognised character in image pixels: its own left and right, its line's top and bottom.
struct Symbol
{
    QString text;
    int left;
    int right;
    int top;
    int bottom;
};

// Tesseract's recognised order along a line is right, its character boxes less so: the left
// edges follow the characters, the right edges of Chinese ones can reach far into their
// neighbours (and the box of a character can stand taller than its line). Every character is
// therefore given the height of its line, the way a text selection covers it, so that a short
// letter stands level with a tall one; and the boxes are made to follow each other without
// overlapping, left edges rising and each right edge stopping at the next left edge, so that
// ordering by position reproduces the recognised order.
void placeAlongLine(std::vector<Symbol>& line, int imageWidth)
{
    for (size_t i = 1; i < line.size(); ++i)
        line[i].left = std::max(line[i].left, line[i - 1].left + 1);
    for (size_t i = 0; i < line.size(); ++i) {
        Symbol& symbol = line[i];
        symbol.left = std::min(symbol.left, imageWidth - 1);
        symbol.right = std::max(symbol.right, symbol.left + 1);
        if (i + 1 < line.size())
            symbol.right = std::clamp(symbol.right, symbol.left + 1, std::max(symbol.left + 1, line[i + 1].left));
    }
}

// The page again, a word at a time: the words with the engine's confidence, and the lines they
// stand on. A line that keeps no word (only blanks) is left out and numbers no word.
template <typename Normalise>
void collectWords(tesseract::ResultIterator& iterator, const Normalise& normalised, TextRecognizer::Result& result)
{
    iterator.Begin();
    constexpr auto level = tesseract::RIL_WORD;
    bool lineOpen = false;
    do {
        if (iterator.IsAtBeginningOf(tesseract::RIL_TEXTLINE))
            lineOpen = false;
        if (iterator.Empty(level))
            continue;
        const std::unique_ptr<char[]> utf8(iterator.GetUTF8Text(level));
        if (!utf8)
            continue;
        const QString text = QuillomareCore::Text::trimmed(QString::fromUtf8(utf8.get()));
        int left = 0, top = 0, right = 0, bottom = 0;
        if (text.isEmpty() || !iterator.BoundingBox(level, &left, &top, &right, &bottom))
            continue;
        if (!lineOpen) {
            int lineLeft = 0, lineTop = 0, lineRight = 0, lineBottom = 0;
            if (iterator.BoundingBox(tesseract::RIL_TEXTLINE, &lineLeft, &lineTop, &lineRight, &lineBottom))
                result.lines.append(normalised(lineLeft, lineTop, lineRight, lineBottom));
            else
                result.lines.append(normalised(left, top, right, bottom));
            lineOpen = true;
        }
        result.words.append(
            {text, normalised(left, top, right, bottom), iterator.Confidence(level), int(result.lines.size()) - 1});
    } while (iterator.Next(level));
}

// Tesseract's network runs its small matrix steps in OpenMP teams of a fixed width. On a busy
// machine the team's threads wait on each other for their turn at a processor, and a recognition
// of 50 ms takes seconds. With dynamic adjustment on, the runtime makes the team no wider than
// the processors the load leaves idle (one thread on a busy machine, the full team on an idle
// one). The runtime reads its settings from the environment at load time, before main(), so the
// switch is set on the thread that recognises, through the runtime Tesseract brought along; a
// setting the user made in the environment stands.
void adjustParallelTeamsToLoadOnThisThread()
{
    static const auto setDynamic = []() -> void (*)(int) {
        if (std::getenv("OMP_THREAD_LIMIT") || std::getenv("OMP_NUM_THREADS") || std::getenv("OMP_DYNAMIC"))
            return nullptr;
        return reinterpret_cast<void (*)(int)>(dlsym(RTLD_DEFAULT, "omp_set_dynamic"));
    }();
    if (setDynamic)
        setDynamic(1);
}

int resolutionOf(const QImage& image)
{
    const int dotsPerInch = qRound(image.dotsPerMeterX() * 0.0254);
    // Outside this range Tesseract distrusts the value and guesses (and says so on stderr).
    return dotsPerInch >= 70 && dotsPerInch <= 2400 ? dotsPerInch : 96;
}

} // namespace

// An engine borrowed from the recognizer, handed back (cleared of the page) when it goes.
class TesseractTextRecognizer::EngineLoan
{
public:
    EngineLoan(const TesseractTextRecognizer& owner, std::unique_ptr<tesseract::TessBaseAPI> engine)
        : m_owner(owner), m_engine(std::move(engine))
    {}
    ~EngineLoan()
    {
        m_engine->Clear();
        const std::lock_guard lock(m_owner.m_mutex);
        m_owner.m_idleEngines.push_back(std::move(m_engine));
        m_owner.m_engineReturned.notify_one();
    }
    EngineLoan(const EngineLoan&) = delete;
    EngineLoan& operator=(const EngineLoan&) = delete;

    tesseract::TessBaseAPI& engine() const { return *m_engine; }

private:
    const TesseractTextRecognizer& m_owner;
    std::unique_ptr<tesseract::TessBaseAPI> m_engine;
};

QString TesseractTextRecognizer::defaultDataFolder()
{
    return QStringLiteral("/usr/share/tesseract-ocr/5/tessdata");
}

QString TesseractTextRecognizer::defaultLanguages()
{
    return QStringLiteral("chi_sim+eng");
}

TesseractTextRecognizer::TesseractTextRecognizer(QString dataFolder, QString languages, int maximumEngines)
    : m_dataFolder(std::move(dataFolder)), m_languages(std::move(languages)),
      m_maximumEngines(std::max(1, maximumEngines))
{}

TesseractTextRecognizer::~TesseractTextRecognizer() = default;

QStringList TesseractTextRecognizer::missingLanguageFiles() const
{
    QStringList missing;
    const QDir folder(m_dataFolder);
    for (const QString& language : m_languages.split(QLatin1Char('+'), Qt::SkipEmptyParts)) {
        const QString fileName = language + QStringLiteral(".traineddata");
        if (!QFileInfo(folder.filePath(fileName)).isFile())
            missing.append(fileName);
    }
    return missing;
}

TextRecognizer::Result TesseractTextRecognizer::recognize(const QImage& image) const
{
    Result result;
    if (image.isNull() || image.width() <= 0 || image.height() <= 0) {
        result.failure = Failure::emptyImage;
        return result;
    }

    const QStringList missing = missingLanguageFiles();
    if (!missing.isEmpty()) {
        result.failure = Failure::languageDataMissing;
        result.missingFiles = missing;
        result.dataFolder = QDir::toNativeSeparators(m_dataFolder);
        return result;
    }

    // Borrow an idle engine, load a new one while under the limit, or wait for one to come back.
    std::unique_ptr<tesseract::TessBaseAPI> engine;
    {
        std::unique_lock lock(m_mutex);
        m_engineReturned.wait(lock, [this] { return !m_idleEngines.empty() || m_engineCount < m_maximumEngines; });
        if (!m_idleEngines.empty()) {
            engine = std::move(m_idleEngines.back());
            m_idleEngines.pop_back();
        } else {
            ++m_engineCount;
        }
    }
    if (!engine) {
        auto loaded = std::make_unique<tesseract::TessBaseAPI>();
        int status = -1;
        {
            const std::lock_guard loadLock(engineLoadMutex());
            // Tesseract's progress and warnings would otherwise land on our stderr.
            loaded->SetVariable("debug_file", "/dev/null");
            status = loaded->Init(QFile::encodeName(m_dataFolder).constData(), m_languages.toUtf8().constData(),
                                  tesseract::OEM_LSTM_ONLY);
        }
        if (status != 0) {
            {
                const std::lock_guard lock(m_mutex);
                --m_engineCount;
            }
            m_engineReturned.notify_one();
            result.failure = Failure::languagesNotLoaded;
            result.languages = m_languages;
            result.dataFolder = QDir::toNativeSeparators(m_dataFolder);
            return result;
        }
        loaded->SetPageSegMode(tesseract::PSM_AUTO);
        engine = std::move(loaded);
    }
    const EngineLoan loan(*this, std::move(engine));
    tesseract::TessBaseAPI& api = loan.engine();

    adjustParallelTeamsToLoadOnThisThread();
    const QImage grey = greyImageForRecognition(image);
    api.SetImage(grey.constBits(), grey.width(), grey.height(), 1, static_cast<int>(grey.bytesPerLine()));
    api.SetSourceResolution(resolutionOf(image));
    if (api.Recognize(nullptr) != 0) {
        result.failure = Failure::recognitionFailed;
        return result;
    }

    const std::unique_ptr<tesseract::ResultIterator> iterator(api.GetIterator());
    if (!iterator)
        return result;
    std::vector<std::vector<Symbol>> lines;
    constexpr auto level = tesseract::RIL_SYMBOL;
    do {
        if (lines.empty() || iterator->IsAtBeginningOf(tesseract::RIL_TEXTLINE))
            lines.emplace_back();
        if (iterator->Empty(level))
            continue;
        const std::unique_ptr<char[]> utf8(iterator->GetUTF8Text(level));
        if (!utf8)
            continue;
        Symbol symbol{QString::fromUtf8(utf8.get()), 0, 0, 0, 0};
        if (QuillomareCore::Text::trimmed(symbol.text).isEmpty())
            continue;
        int left = 0, top = 0, right = 0, bottom = 0;
        if (!iterator->BoundingBox(level, &left, &top, &right, &bottom))
            continue;
        int lineLeft = 0, lineRight = 0;
        if (!iterator->BoundingBox(tesseract::RIL_TEXTLINE, &lineLeft, &symbol.top, &lineRight, &symbol.bottom)) {
            symbol.top = top;
            symbol.bottom = bottom;
        }
        symbol.left = left;
        symbol.right = right;
        lines.back().push_back(std::move(symbol));
    } while (iterator->Next(level));

    const double width = grey.width();
    const double height = grey.height();
    // Tesseract counts rows from the top; the boxes we hand out count from the bottom.
    const auto normalised = [&](int left, int top, int right, int bottom) {
        left = std::clamp(left, 0, grey.width());
        right = std::clamp(right, left, grey.width());
        top = std::clamp(top, 0, grey.height());
        bottom = std::clamp(bottom, top, grey.height());
        return QRectF(left / width, 1.0 - bottom / height, (right - left) / width, (bottom - top) / height);
    };
    collectWords(*iterator, normalised, result);
    for (std::vector<Symbol>& line : lines) {
        placeAlongLine(line, grey.width());
        for (const Symbol& symbol : line) {
            result.characters.append({symbol.text, normalised(symbol.left, symbol.top, symbol.right, symbol.bottom)});
        }
    }
    return result;
}

// --- The program's recognizer

namespace {

std::mutex& sharedMutex()
{
    static std::mutex mutex;
    return mutex;
}

std::shared_ptr<TextRecognizer>& sharedRecognizer()
{
    static std::shared_ptr<TextRecognizer> recognizer;
    return recognizer;
}

} // namespace

std::shared_ptr<TextRecognizer> TextRecognizer::shared()
{
    const std::lock_guard lock(sharedMutex());
    std::shared_ptr<TextRecognizer>& recognizer = sharedRecognizer();
    if (!recognizer)
        recognizer = std::make_shared<TesseractTextRecognizer>();
    return recognizer;
}

void TextRecognizer::setSharedForTesting(std::shared_ptr<TextRecognizer> recognizer)
{
    const std::lock_guard lock(sharedMutex());
    sharedRecognizer() = std::move(recognizer); // nothing: the next shared() makes the real one again
}

} // namespace Platform
