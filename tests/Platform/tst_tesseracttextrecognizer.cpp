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

} // namespace

class TestTesseractTextRecognizer : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void boxesAreNormalisedFromTheLowerLeft()
    {
        // "Hop" in the upper left quarter of an 800×400 image.
        QImage image(800, 400, QImage::Format_RGB32);
        image.fill(Qt::white);
        QFont font(QStringLiteral("DejaVu Sans"));
        font.setPixelSize(48);
        QPainter painter(&image);
        painter.setFont(font);
        painter.setPen(Qt::black);
        const QRect drawn = painter.boundingRect(QRect(100, 50, 300, 100), Qt::AlignLeft | Qt::AlignTop, QStringLiteral("Hop"));
        painter.drawText(drawn, Qt::AlignLeft | Qt::AlignTop, QStringLiteral("Hop"));
        painter.end();

        const auto result = TesseractTextRecognizer().recognize(image);
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
        QImage image(600, 200, QImage::Format_ARGB32);
        image.fill(Qt::transparent);
        QFont font(QStringLiteral("DejaVu Sans"));
        font.setPixelSize(40);
        QPainter painter(&image);
        painter.setFont(font);
        painter.setPen(Qt::black);
        painter.drawText(40, 110, QStringLiteral("Clear 42"));
        painter.end();

        const auto result = TesseractTextRecognizer().recognize(image);
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
        for (const QString& word : words) {
            QImage image(500, 120, QImage::Format_RGB32);
            image.fill(Qt::white);
            QFont font(QStringLiteral("DejaVu Sans"));
            font.setPixelSize(36);
            QPainter painter(&image);
            painter.setFont(font);
            painter.setPen(Qt::black);
            painter.drawText(30, 75, word);
            images.append(image);
        }
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
