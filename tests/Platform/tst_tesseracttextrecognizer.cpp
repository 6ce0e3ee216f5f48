#include "TestSupport.h"

#include <Platform/TextRecognizerTesseract.h>

#include <QApplication>
#include <QFont>
#include <QPainter>
#include <QTemporaryDir>

#include <thread>
#include <vector>

using Platform::RecognizedCharacter;
using Platform::TesseractTextRecognizer;
using Failure = Platform::TextRecognizer::Failure;

namespace {

QString joined(const QList<RecognizedCharacter>& characters)
{
    QString text;
    for (const RecognizedCharacter& character : characters)
        text += character.text;
    return text;
}

// Black DejaVu Sans text an eighth of the way in from the top left; `drawn` gets its rectangle.
QImage rendered(QSize size, const QString& text, int pixelSize, Qt::GlobalColor background = Qt::white,
                QRect* drawn = nullptr)
{
    QImage image(size, background == Qt::transparent ? QImage::Format_ARGB32 : QImage::Format_RGB32);
    image.fill(background);
    QFont font(QStringLiteral("DejaVu Sans"));
    font.setPixelSize(pixelSize);
    QPainter painter(&image);
    painter.setFont(font);
    painter.setPen(Qt::black);
    const QRect rect = painter.boundingRect(QRect(QPoint(size.width() / 8, size.height() / 8), size),
                                            Qt::AlignLeft | Qt::AlignTop, text);
    painter.drawText(rect, Qt::AlignLeft | Qt::AlignTop, text);
    if (drawn)
        *drawn = rect;
    return image;
}

} // namespace

class TestTesseractTextRecognizer : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void boxesAreNormalisedFromTheLowerLeft()
    {
        // "Hop" in the upper left quarter of an 800×400 image.
        QRect drawn;
        const auto result =
            TesseractTextRecognizer().recognize(rendered(QSize(800, 400), QStringLiteral("Hop"), 48, Qt::white, &drawn));
        QCOMPARE(result.failure, Failure::none);
        QCOMPARE(joined(result.characters), QStringLiteral("Hop"));
        const QRectF h = result.characters[0].boundingBox;
        const QRectF o = result.characters[1].boundingBox;
        const QRectF p = result.characters[2].boundingBox;
        QVERIFY(h.right() <= o.left() && o.right() <= p.left());
        // Each character is as tall as its line, so a short letter stands level with a tall one.
        QCOMPARE(o.top(), h.top());
        QCOMPARE(o.bottom(), p.bottom());
        // Upside down against the image's rows: the text's band, measured from the bottom.
        const QRectF band(drawn.x() / 800.0, 1.0 - (drawn.bottom() + 1) / 400.0, drawn.width() / 800.0,
                          drawn.height() / 400.0);
        QVERIFY2(band.contains(h) && band.contains(o) && band.contains(p), "the glyphs lie inside the drawn text's rectangle");
        QVERIFY(h.height() > 0.5 * band.height());
    }

    void blackTextOnATransparentBackgroundIsRead()
    {
        const auto result =
            TesseractTextRecognizer().recognize(rendered(QSize(600, 200), QStringLiteral("Clear 42"), 40, Qt::transparent));
        QCOMPARE(result.failure, Failure::none);
        QCOMPARE(joined(result.characters), QStringLiteral("Clear42"));
    }

    void missingLanguageDataIsReportedNotGuessed()
    {
        QTemporaryDir empty;
        QImage image(100, 100, QImage::Format_RGB32);
        image.fill(Qt::white);
        const TesseractTextRecognizer recognizer(empty.path());
        QCOMPARE(recognizer.missingLanguageFiles(),
                 (QStringList{QStringLiteral("chi_sim.traineddata"), QStringLiteral("eng.traineddata")}));
        const auto result = recognizer.recognize(image);
        QVERIFY(result.characters.isEmpty());
        QCOMPARE(result.failure, Failure::languageDataMissing);
        QCOMPARE(result.missingFiles, recognizer.missingLanguageFiles());
        QCOMPARE(result.dataFolder, empty.path());
        QCOMPARE(TesseractTextRecognizer().recognize(QImage()).failure, Failure::emptyImage);
    }

    void severalThreadsShareTwoEngines()
    {
        const QStringList words{QStringLiteral("alpha"), QStringLiteral("bravo"), QStringLiteral("charlie"),
                                QStringLiteral("delta"), QStringLiteral("echo"),  QStringLiteral("foxtrot")};
        QList<QImage> images;
        for (const QString& word : words)
            images.append(rendered(QSize(500, 120), word, 36));
        const TesseractTextRecognizer recognizer(TesseractTextRecognizer::defaultDataFolder(),
                                                 TesseractTextRecognizer::defaultLanguages(), 2);
        QStringList texts(words.size());
        std::vector<std::thread> threads;
        for (qsizetype i = 0; i < images.size(); ++i) {
            threads.emplace_back([&, i] {
                const auto result = recognizer.recognize(images[i]);
                texts[i] =
                    result.failed() ? QStringLiteral("failure %1").arg(int(result.failure)) : joined(result.characters);
            });
        }
        for (std::thread& thread : threads)
            thread.join();
        QCOMPARE(texts, words);
    }
};

QUILLOMARE_GUI_TEST_MAIN(TestTesseractTextRecognizer)
#include "tst_tesseracttextrecognizer.moc"
