#include "TestSupport.h"

#include <QuillomareCore/Language.h>
#include <QuillomareMac/Pasteboard/ImageTextRecognizer.h>

#include <QApplication>
#include <QBuffer>
#include <QFont>
#include <QPainter>
#include <QPointer>
#include <QRandomGenerator>
#include <QSemaphore>
#include <QTemporaryDir>
#include <QThread>

#include <algorithm>
#include <atomic>
#include <cmath>

using namespace QuillomareMac;
namespace Language = QuillomareCore::Language;
using Case = ImageTextRecognizerError::Case;
using Regions = ImageTextRecognizer::Regions;

namespace {

// Black text on white, one line per entry, as a screenshot would show it.
QImage renderText(const QStringList& lines, const QString& family, int pixelSize)
{
    QList<QuillomareTest::TextLine> drawn;
    for (qsizetype i = 0; i < lines.size(); ++i)
        drawn.append({family, pixelSize, QPoint(40, 60 + pixelSize + int(i) * pixelSize * 2), lines[i]});
    return QuillomareTest::textPicture(QSize(900, 120 + int(lines.size()) * pixelSize * 2), drawn);
}

QByteArray pngBytes(const QImage& image)
{
    return QuillomareTest::pngOf(image);
}

// The outcome of a future, waited for: the regions or the error case (or description).
struct Outcome
{
    Regions regions;
    std::optional<Case> errorCase;
    QString errorDescription;
};

Outcome await(QFuture<Regions> future)
{
    Outcome outcome;
    try {
        outcome.regions = future.result();
    } catch (const ImageTextRecognizerError& error) {
        outcome.errorCase = error.errorCase();
        outcome.errorDescription = error.localizedDescription();
    } catch (const QuillomareCore::Error& error) {
        outcome.errorDescription = error.localizedDescription();
    }
    return outcome;
}

QString textOf(const Regions& regions)
{
    return ImageTextRecognizer::readingOrderText(regions).value_or(QStringLiteral("<nothing>"));
}

RecognizedTextRegion region(const QString& text, double midX, double midY)
{
    return {text, QRectF(midX - 0.01, midY - 0.01, 0.02, 0.02)};
}

// Answers a fixed result, notes the thread it ran on, and can hold callers until released.
class FakeRecognizer final : public Platform::TextRecognizer
{
public:
    Result result;
    bool gated = false;
    mutable QSemaphore gate;
    mutable std::atomic<QThread*> thread{nullptr};
    mutable std::atomic<int> calls{0};

    Result recognize(const QImage&) const override
    {
        thread = QThread::currentThread();
        ++calls;
        if (gated)
            gate.acquire();
        return result;
    }
};

} // namespace

class TestImageTextRecognizer : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init()
    {
        Language::setIsChineseForTesting(false);
        Platform::TextRecognizer::setSharedForTesting(nullptr);
    }
    void cleanup() { Platform::TextRecognizer::setSharedForTesting(nullptr); }

    // --- With the real engine

    void twoLinesOfAnImageEntryComeOutUpperFirst()
    {
        const QImage image =
            renderText({QStringLiteral("First line"), QStringLiteral("Second line")}, QStringLiteral("DejaVu Sans"), 32);
        const Outcome outcome = await(ImageTextRecognizer::recognizeTextRegions(
            QuillomareTest::imageItem(pngBytes(image), QuillomareTest::at(0))));
        QVERIFY2(!outcome.errorCase && outcome.errorDescription.isEmpty(), qPrintable(outcome.errorDescription));
        // Blanks give no regions, so the words of a line come out joined; boxes are fractions of
        // the image, and the upper line first means they are measured from the bottom.
        QCOMPARE(textOf(outcome.regions), QStringLiteral("Firstline\nSecondline"));
        for (const RecognizedTextRegion& region : outcome.regions) {
            QCOMPARE(region.text.size(), 1);
            QVERIFY(QRectF(0, 0, 1, 1).contains(region.boundingBox));
        }
    }

    void recognizesChineseInASingleImageFile()
    {
        QTemporaryDir folder;
        const QString path = folder.filePath(QStringLiteral("shot.png"));
        QVERIFY(renderText({QStringLiteral("剪贴板历史")}, QStringLiteral("WenQuanYi Micro Hei"), 28).save(path));
        // Paths of file entries are trimmed before use.
        const Outcome outcome = await(ImageTextRecognizer::recognizeTextRegions(
            QuillomareTest::fileItem({QStringLiteral("  ") + path + QStringLiteral("\n")}, QuillomareTest::at(0))));
        QVERIFY2(outcome.errorDescription.isEmpty(), qPrintable(outcome.errorDescription));
        QCOMPARE(textOf(outcome.regions), QStringLiteral("剪贴板历史"));
    }

    void traditionalChineseKeepsItsScriptOnAWorkerThread()
    {
        // Telling the scripts apart draws characters, off the GUI thread here as in the program.
        const QImage image = renderText({QStringLiteral("剪貼簿歷史紀錄"), QStringLiteral("剪贴板历史记录")},
                                        QStringLiteral("Noto Sans CJK TC"), 32);
        const Outcome outcome =
            await(ImageTextRecognizer::recognizeTextRegions(QuillomareTest::imageItem(pngBytes(image), QuillomareTest::at(0))));
        QVERIFY2(outcome.errorDescription.isEmpty(), qPrintable(outcome.errorDescription));
        QCOMPARE(textOf(outcome.regions), QStringLiteral("剪貼簿歷史紀錄\n剪贴板历史记录"));
    }

    void anImageWithoutTextGivesNoText()
    {
        Language::setIsChineseForTesting(true);
        QImage blank(640, 360, QImage::Format_RGB32);
        blank.fill(Qt::white);
        const Outcome outcome = await(ImageTextRecognizer::recognizeTextRegions(blank));
        QCOMPARE(outcome.errorCase, Case::noText);
        QCOMPARE(outcome.errorDescription, QStringLiteral("没有识别到文字"));
    }

    // --- Entries that are not images

    void entriesThatAreNotOneImage_data()
    {
        QTest::addColumn<QuillomareCore::ClipboardItem>("item");
        QTest::addColumn<int>("expected");

        static QTemporaryDir folder;
        const QString picture = folder.filePath(QStringLiteral("a.png"));
        const QString other = folder.filePath(QStringLiteral("b.png"));
        const QString notes = folder.filePath(QStringLiteral("notes.txt"));
        const QString fakePicture = folder.filePath(QStringLiteral("fake.png"));
        QImage image(20, 20, QImage::Format_RGB32);
        image.fill(Qt::white);
        image.save(picture);
        image.save(other);
        QuillomareTest::writeFile(notes, "plain words");
        QuillomareTest::writeFile(fakePicture, "not an image at all");

        const QDateTime now = QuillomareTest::at(0);
        QTest::newRow("text") << QuillomareTest::textItem(QStringLiteral("hello"), now) << int(Case::unsupportedPayload);
        QTest::newRow("two image files") << QuillomareTest::fileItem({picture, other}, now)
                                         << int(Case::unsupportedPayload);
        QTest::newRow("one file, not an image") << QuillomareTest::fileItem({notes}, now)
                                                << int(Case::unsupportedPayload);
        QTest::newRow("image extension, other contents") << QuillomareTest::fileItem({fakePicture}, now)
                                                         << int(Case::unsupportedPayload);
        QTest::newRow("png bytes that are no image") << QuillomareTest::imageItem("not a png", now)
                                                     << int(Case::unreadableImage);
    }
    void entriesThatAreNotOneImage()
    {
        QFETCH(QuillomareCore::ClipboardItem, item);
        QFETCH(int, expected);
        auto fake = std::make_shared<FakeRecognizer>();
        Platform::TextRecognizer::setSharedForTesting(fake);
        QCOMPARE(await(ImageTextRecognizer::recognizeTextRegions(item)).errorCase, Case(expected));
        QCOMPARE(fake->calls.load(), 0);
    }

    // --- From the engine's characters to regions

    void blanksNeverBecomeRegions()
    {
        const QRectF box(0.1, 0.5, 0.2, 0.1);
        const QList<Platform::RecognizedCharacter> line{
            {QStringLiteral(" "), box},          {QStringLiteral("\n"), box},     {QStringLiteral("\u3000"), box},
            {QStringLiteral("a"), box},          {QStringLiteral("b c"), box},    {QStringLiteral("x"), QRectF()},
            {QStringLiteral("y"), QRectF(0, 0, qQNaN(), 0.1)}, {QString(), box}, {QStringLiteral("e\u0301"), box}};
        const Regions regions = ImageTextRecognizer::selectionRegions(line);
        QStringList texts;
        for (const RecognizedTextRegion& region : regions)
            texts.append(region.text);
        // A combined accent stays with its letter; characters without a box are left out.
        QCOMPARE(texts, (QStringList{QStringLiteral("a"), QStringLiteral("b"), QStringLiteral("c"),
                                     QStringLiteral("e\u0301")}));
        QCOMPARE(regions[0].boundingBox, box);
        // Two characters sharing one box split it, left to right.
        QCOMPARE(regions[1].boundingBox, QRectF(0.1, 0.5, 0.1, 0.1));
        QCOMPARE(regions[2].boundingBox, QRectF(0.2, 0.5, 0.1, 0.1));
    }

    void anEngineFailureReachesTheCallerInTheInterfaceLanguage()
    {
        auto fake = std::make_shared<FakeRecognizer>();
        fake->result.failure = Platform::TextRecognizer::Failure::languageDataMissing;
        fake->result.missingFiles = {QStringLiteral("chi_sim.traineddata")};
        fake->result.dataFolder = QStringLiteral("/data");
        Platform::TextRecognizer::setSharedForTesting(fake);
        const QImage image(10, 10, QImage::Format_RGB32);
        Outcome outcome = await(ImageTextRecognizer::recognizeTextRegions(image));
        QVERIFY(!outcome.errorCase);
        QCOMPARE(outcome.errorDescription, QStringLiteral("Text recognition data is missing: chi_sim.traineddata not "
                                                          "found in /data (install tesseract-ocr-chi-sim)"));
        Language::setIsChineseForTesting(true);
        outcome = await(ImageTextRecognizer::recognizeTextRegions(image));
        QCOMPARE(outcome.errorDescription,
                 QStringLiteral("缺少文字识别数据：/data 中没有 chi_sim.traineddata（请安装 tesseract-ocr-chi-sim）"));
        fake->result.failure = Platform::TextRecognizer::Failure::recognitionFailed;
        QCOMPARE(await(ImageTextRecognizer::recognizeTextRegions(image)).errorDescription,
                 QStringLiteral("这张图片的文字识别失败"));
    }

    // --- Threads and answers

    void recognitionRunsOffTheGuiThreadAndAnswersOnceOnIt()
    {
        auto fake = std::make_shared<FakeRecognizer>();
        fake->result.characters = {{QStringLiteral("A"), QRectF(0.1, 0.1, 0.1, 0.1)}};
        Platform::TextRecognizer::setSharedForTesting(fake);
        QObject receiver;
        QList<Regions> answered;
        QStringList errors;
        QThread* answerThread = nullptr;
        const auto recognize = [&] {
            ImageTextRecognizer::whenFinished(
                ImageTextRecognizer::recognizeTextRegions(QImage(10, 10, QImage::Format_RGB32)), &receiver,
                [&](const Regions& regions) {
                    answerThread = QThread::currentThread();
                    answered.append(regions);
                },
                [&](const QuillomareCore::Error& error) { errors.append(error.localizedDescription()); });
        };
        recognize();
        QTRY_COMPARE(answered.size(), 1);
        QVERIFY(fake->thread.load() != nullptr);
        QVERIFY(fake->thread.load() != QThread::currentThread());
        QCOMPARE(answerThread, QThread::currentThread());
        QCOMPARE(answered.first(), (Regions{{QStringLiteral("A"), QRectF(0.1, 0.1, 0.1, 0.1)}}));

        // The engine reads only blanks: no text, through the error handler.
        fake->result.characters = {{QStringLiteral(" "), QRectF(0.1, 0.1, 0.1, 0.1)}};
        recognize();
        QTRY_COMPARE(errors, QStringList{QStringLiteral("No text was recognized")});
        // Exactly once each: nothing more arrives once the event loop has run on.
        QTest::qWait(50);
        QCOMPARE(answered.size(), 1);
        QCOMPARE(errors.size(), 1);
    }

    void aReceiverGoneBeforeTheEndHearsNothing()
    {
        auto fake = std::make_shared<FakeRecognizer>();
        fake->gated = true;
        fake->result.characters = {{QStringLiteral("A"), QRectF(0.1, 0.1, 0.1, 0.1)}};
        Platform::TextRecognizer::setSharedForTesting(fake);
        int answers = 0;
        auto* receiver = new QObject;
        const QFuture<Regions> future = ImageTextRecognizer::recognizeTextRegions(QImage(10, 10, QImage::Format_RGB32));
        ImageTextRecognizer::whenFinished(
            future, receiver, [&](const Regions&) { ++answers; }, [&](const QuillomareCore::Error&) { ++answers; });
        QTRY_COMPARE(fake->calls.load(), 1);
        delete receiver;
        fake->gate.release();
        QFuture<Regions>(future).waitForFinished();
        QTest::qWait(50);
        QCOMPARE(answers, 0);
    }

    // --- Reading order

    void readingOrderText_data()
    {
        QTest::addColumn<Regions>("regions");
        QTest::addColumn<std::optional<QString>>("text");
        const auto s = [](const char* text) { return QString::fromUtf8(text); };

        QTest::newRow("none") << Regions{} << std::optional<QString>();
        QTest::newRow("one") << Regions{region(s("字"), 0.5, 0.5)} << std::optional<QString>(s("字"));
        QTest::newRow("one line, left to right despite small steps")
            << Regions{region(s("c"), 0.7, 0.505), region(s("a"), 0.1, 0.5), region(s("b"), 0.4, 0.494)}
            << std::optional<QString>(s("abc"));
        QTest::newRow("upper line first, one line feed between")
            << Regions{region(s("d"), 0.3, 0.2), region(s("c"), 0.1, 0.2), region(s("b"), 0.3, 0.8),
                       region(s("a"), 0.1, 0.8)}
            << std::optional<QString>(s("ab\ncd"));
        QTest::newRow("same centre keeps the recognition order")
            << Regions{region(s("x"), 0.5, 0.5), region(s("y"), 0.5, 0.5)} << std::optional<QString>(s("xy"));
        // 0.010 is within reach of both others, which are not of each other: the line begins at
        // the highest centre and takes what lies within reach of it.
        QTest::newRow("chain of centres 0.000, 0.010, 0.020")
            << Regions{region(s("a"), 0.1, 0.000), region(s("b"), 0.5, 0.010), region(s("c"), 0.9, 0.020)}
            << std::optional<QString>(s("bc\na"));
    }
    void readingOrderText()
    {
        QFETCH(Regions, regions);
        QFETCH(std::optional<QString>, text);
        QCOMPARE(ImageTextRecognizer::readingOrderText(regions), text);
        // Where no two regions share a centre, the order of arrival does not matter.
        const auto byText = [](const auto& a, const auto& b) { return a.text < b.text; };
        if (QTest::currentDataTag() == QLatin1String("same centre keeps the recognition order"))
            return;
        std::sort(regions.begin(), regions.end(), byText);
        do {
            QCOMPARE(ImageTextRecognizer::readingOrderText(regions), text);
        } while (std::next_permutation(regions.begin(), regions.end(), byText));
    }

    // Regions as the engine hands them out for a picture held askew: every character as high as
    // its line, the lines rising or falling as they run. Copied, each line stays one line in its
    // place, whatever order the regions came in.
    void aTurnedPictureIsCopiedLineByLine_data()
    {
        QTest::addColumn<double>("degrees");
        QTest::addColumn<int>("width");
        QTest::addColumn<int>("height");
        QTest::addColumn<QStringList>("lines");
        QTest::addColumn<QList<int>>("starts"); // where each piece of a line begins, in pixels
        // A settings row's value far to the right of its label.
        QTest::newRow("settings rows, 1.5 degrees")
            << 1.5 << 820 << 180 << QStringList{QStringLiteral("屏幕亮度|自动调节"), QStringLiteral("夜间模式|日落到日出")}
            << QList<int>{20, 600};
        QTest::newRow("settings rows, -2 degrees")
            << -2.0 << 820 << 180 << QStringList{QStringLiteral("Wi-Fi|Home"), QStringLiteral("蓝牙|已关闭")}
            << QList<int>{20, 640};
        // Long lines falling by almost their spacing across the picture.
        const QStringList paragraph{QStringLiteral("今天下午三点在二楼会议室讨论新版本的发布计划请准时参加"),
                                    QStringLiteral("会议材料已经放在共享文件夹里了有问题随时联系我们")};
        QTest::newRow("paragraph, 2 degrees") << 2.0 << 900 << 140 << paragraph << QList<int>{20};
        QTest::newRow("paragraph, -2 degrees") << -2.0 << 900 << 140 << paragraph << QList<int>{20};
        // A long screenshot, where 0.012 of the height spans more than two lines.
        QTest::newRow("long screenshot, level")
            << 0.0 << 700 << 9000
            << QStringList{QStringLiteral("刚才的链接已经过期了"), QStringLiteral("我再发一次给你"),
                           QStringLiteral("收到，谢谢")}
            << QList<int>{20};
        // A label in a picture hardly taller than itself: 0.012 of it is a third of a pixel.
        for (const double degrees : {1.0, -1.0})
            QTest::addRow("short label, %g degree", degrees)
                << degrees << 140 << 36 << QStringList{QStringLiteral("文件夹")} << QList<int>{20};
    }
    void aTurnedPictureIsCopiedLineByLine()
    {
        QFETCH(double, degrees);
        QFETCH(int, width);
        QFETCH(int, height);
        QFETCH(QStringList, lines);
        QFETCH(QList<int>, starts);
        const double size = 24; // pixels, each character as wide as high
        const double rise = std::tan(degrees * M_PI / 180);
        Regions regions;
        for (qsizetype l = 0; l < lines.size(); ++l) {
            const QStringList pieces = lines[l].split(QLatin1Char('|'));
            for (qsizetype p = 0; p < pieces.size(); ++p) {
                for (qsizetype c = 0; c < pieces[p].size(); ++c) {
                    const double x = starts[p] + (c + 0.5) * size;
                    // Pixels count down from the top; boxes count up from the bottom.
                    const double y = 6 + size / 2 + l * 1.6 * size + (x - width / 2.0) * rise;
                    regions.append({pieces[p].mid(c, 1), QRectF((x - size / 2) / width, 1 - (y + size / 2) / height,
                                                                size / width, size / height)});
                }
            }
        }
        const QString expected = QString(lines.join(QLatin1Char('\n'))).remove(QLatin1Char('|'));
        QCOMPARE(ImageTextRecognizer::readingOrderText(regions), std::optional<QString>(expected));
        std::shuffle(regions.begin(), regions.end(), *QRandomGenerator::global());
        QCOMPARE(ImageTextRecognizer::readingOrderText(regions), std::optional<QString>(expected));
    }

    void aLongChainOfCloseCentresSortsSoundly()
    {
        // Centres 0.004 apart: every neighbour is "on the same line", far ones are not. A pairwise
        // sort on that test may run off the ends of the list; lines must form regardless.
        Regions regions;
        for (int i = 0; i < 2000; ++i)
            regions.append(region(QString(QChar(u'a' + i % 26)), (i * 7919 % 2000) / 2000.0, i * 0.004 / 4));
        const Regions sorted = ImageTextRecognizer::sortedInReadingOrder(regions);
        QCOMPARE(sorted.size(), regions.size());
        for (const RecognizedTextRegion& each : regions)
            QCOMPARE(sorted.count(each), regions.count(each));

        Regions shuffled = regions;
        std::shuffle(shuffled.begin(), shuffled.end(), *QRandomGenerator::global());
        QCOMPARE(ImageTextRecognizer::sortedInReadingOrder(shuffled), sorted);
        // Lines go top to bottom: a later line never starts above an earlier one.
        QVERIFY(sorted.first().boundingBox.center().y() >= sorted.last().boundingBox.center().y());
    }
};

QUILLOMARE_GUI_TEST_MAIN(TestImageTextRecognizer)
#include "tst_imagetextrecognizer.moc"
