// What text recognition costs on a full-screen screenshot: a 1920×1080 window of English and
// Chinese text, as the user would copy it with a screenshot tool and ask for its text.

#include <Platform/TextRecognizerTesseract.h>
#include <RecognitionPictures.h>

#include <benchmark/benchmark.h>

#include <QElapsedTimer>
#include <QFont>
#include <QFontMetrics>
#include <QImage>
#include <QPainter>
#include <QRegularExpression>
#include <QStringList>

#include <QThread>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <map>
#include <thread>
#include <vector>

using RecognitionPictures::editDistance;
using RecognitionPictures::linesPicture;
using RecognitionPictures::Look;

namespace {

// What the recognizer reads in a picture of `expected`, and how many characters of it (blanks
// aside, as recognition leaves them out) it gets wrong.
struct Reading
{
    QString read;
    QString expected;
    double wrong = 0;
    double total = 0;
};

Reading readingOf(const Platform::TesseractTextRecognizer& recognizer, const QImage& image, QString expected)
{
    QString read;
    for (const Platform::RecognizedCharacter& character : recognizer.recognize(image).characters)
        read += character.text;
    expected.remove(QLatin1Char(' '));
    const double wrong = double(std::min(editDistance(read, expected), expected.size()));
    return {read, expected, wrong, double(expected.size())};
}

const QStringList& screenshotLines()
{
    static const QStringList lines{
        QStringLiteral("Release notes - version 2.4.1"),
        QStringLiteral("The meeting moved to 3:30 PM (room B-204), see https://example.com/notes?id=42."),
        QStringLiteral("请在周五之前把剪贴板历史记录导出为压缩文件。"),
        QStringLiteral("Error: could not open \"config.json\" - permission denied [code 13]"),
        QStringLiteral("今天下午三点开会，地点在二楼会议室，请准时参加。"),
        QStringLiteral("Total: $1,234.56; Tax 8.25%; Items 17"),
        QStringLiteral("文件已复制到桌面，共 12 个项目，大小 3.4 MB。"),
        QStringLiteral("git commit -m \"Fix crash when the list is empty\""),
        QStringLiteral("The quick brown fox jumps over the lazy dog while the build finishes."),
        QStringLiteral("快速预览会显示图片中的文字，并且可以一键复制。"),
        QStringLiteral("Pinned items stay at the top of the history until you unpin them."),
        QStringLiteral("设置里可以修改快捷键、历史条数和语言。"),
    };
    return lines;
}

// A window on a grey desktop: a title bar, a sidebar of short labels and a page of text lines in
// two fonts and three sizes, the way screenshots of documents and chats look.
QImage drawScreenshot()
{
    QImage image(1920, 1080, QImage::Format_RGB32);
    image.fill(QColor(0x6b, 0x72, 0x80));
    QPainter painter(&image);
    painter.setRenderHint(QPainter::TextAntialiasing);
    const QRect window(80, 60, 1760, 960);
    painter.fillRect(window, Qt::white);
    painter.fillRect(QRect(window.topLeft(), QSize(window.width(), 44)), QColor(0xe5, 0xe7, 0xeb));
    painter.fillRect(QRect(window.left(), window.top() + 44, 300, window.height() - 44), QColor(0xf3, 0xf4, 0xf6));

    QFont sans(QStringLiteral("DejaVu Sans"));
    QFont chinese(QStringLiteral("WenQuanYi Micro Hei"));
    painter.setPen(QColor(0x11, 0x18, 0x27));
    sans.setPixelSize(18);
    painter.setFont(sans);
    painter.drawText(QRect(window.left(), window.top(), window.width(), 44), Qt::AlignCenter,
                     QStringLiteral("Notes - Quillomare"));

    const QStringList sidebar{QStringLiteral("Inbox"), QStringLiteral("Today"), QStringLiteral("收藏夹"),
                              QStringLiteral("Archive"), QStringLiteral("最近删除")};
    chinese.setPixelSize(18);
    painter.setFont(chinese);
    for (qsizetype i = 0; i < sidebar.size(); ++i)
        painter.drawText(window.left() + 32, window.top() + 100 + int(i) * 44, sidebar[i]);

    const int sizes[] = {16, 20, 24};
    int y = window.top() + 100;
    for (qsizetype i = 0; i < screenshotLines().size(); ++i) {
        const QString& line = screenshotLines()[i];
        const bool isChinese = line.front().unicode() >= 0x3000;
        QFont font = isChinese ? chinese : sans;
        font.setPixelSize(sizes[i % 3]);
        painter.setFont(font);
        painter.drawText(window.left() + 360, y, line);
        y += font.pixelSize() * 2 + 12;
    }
    return image;
}

// Drawn on first use, when main's QGuiApplication is there, and kept for the rest of the run.
const QImage& screenshot()
{
    static const QImage image = drawScreenshot();
    return image;
}

void recognizeScreenshot(benchmark::State& state)
{
    const QImage& image = screenshot();

    // A fresh recognizer, so that loading the languages is measured once, apart from the runs.
    const Platform::TesseractTextRecognizer recognizer;
    QElapsedTimer loading;
    loading.start();
    Platform::TextRecognizer::Result result = recognizer.recognize(image);
    const double firstRunMs = double(loading.nsecsElapsed()) / 1e6;
    if (result.failed()) {
        const QString why = QStringLiteral("text recognition could not run (failure %1, missing %2)")
                                .arg(int(result.failure))
                                .arg(result.missingFiles.join(QStringLiteral(", ")));
        state.SkipWithError(why.toStdString().c_str());
        return;
    }

    for (auto _ : state) {
        result = recognizer.recognize(image);
        benchmark::DoNotOptimize(result.characters.data());
    }

    QString recognized;
    for (const Platform::RecognizedCharacter& character : result.characters)
        recognized += character.text;
    QString expected = QStringLiteral("Notes-Quillomare");
    for (const QString& label : {QStringLiteral("Inbox"), QStringLiteral("Today"), QStringLiteral("收藏夹"),
                                 QStringLiteral("Archive"), QStringLiteral("最近删除")})
        expected += label;
    expected += screenshotLines().join(QString());
    // Counted in Tesseract's order of blocks, which need not be the drawing order (a line read
    // elsewhere counts as misread), so it is an upper bound of the misread characters. The
    // sidebar's short labels count too: automatic page segmentation does not take them for text.
    state.counters["characters"] = double(result.characters.size());
    state.counters["edit_distance"] = double(editDistance(recognized, expected));
    state.counters["first_run_ms"] = firstRunMs;
    state.SetLabel(qEnvironmentVariableIsSet("OMP_THREAD_LIMIT") ? "OMP_THREAD_LIMIT set" : "OpenMP unlimited");
}

// Four lines as a small screenshot holds them (traditional and simplified Chinese, English), read
// on an idle machine and with every processor kept busy by other work, a busy loop each as
// scripts/stress-tests runs them: the recognition's threads must not wait for each other's turns
// at a processor, so that it takes not much longer than on an idle machine.
void recognizeFourLines(benchmark::State& state)
{
    const bool busy = state.range(0) != 0;
    const QImage image = linesPicture({{QStringLiteral("Noto Sans CJK TC"), QStringLiteral("剪貼簿歷史紀錄")},
                                       {QStringLiteral("Noto Sans CJK SC"), QStringLiteral("Quick brown fox")},
                                       {QStringLiteral("Noto Sans CJK TC"), QStringLiteral("繁體中文識別測試")},
                                       {QStringLiteral("Noto Sans CJK SC"), QStringLiteral("剪贴板历史记录")}},
                                      32);
    const Platform::TesseractTextRecognizer recognizer;
    Platform::TextRecognizer::Result result = recognizer.recognize(image); // loads the languages
    if (result.failed()) {
        state.SkipWithError("text recognition could not run");
        return;
    }

    std::atomic<bool> stop = false;
    std::vector<std::thread> loops;
    if (busy) {
        for (int i = 0; i < QThread::idealThreadCount(); ++i)
            loops.emplace_back([&stop] {
                while (!stop.load(std::memory_order_relaxed)) {
                }
            });
    }
    for (auto _ : state) {
        result = recognizer.recognize(image);
        benchmark::DoNotOptimize(result.characters.data());
    }
    stop = true;
    for (std::thread& loop : loops)
        loop.join();
    state.counters["characters"] = double(result.characters.size());
    state.SetLabel(busy ? "every processor busy" : "idle");
}

// Pictures drawn with the CJK fonts in every size from small print to headings: one line and
// three lines of each script, and one picture with a line of each. Reports the share of
// characters read right per script and size, and the worst picture.
struct SweepScript
{
    const char* name;
    QString family;
    QStringList lines;
};

void recognizeEverySize(benchmark::State& state)
{
    const QString sc = QStringLiteral("Noto Sans CJK SC");
    const QString tc = QStringLiteral("Noto Sans CJK TC");
    const QList<SweepScript> scripts{
        {"simplified", sc,
         {QStringLiteral("剪贴板历史记录"), QStringLiteral("请在周五之前把文件导出"),
          QStringLiteral("今天下午三点开会，地点在二楼"), QStringLiteral("快速预览会显示图片中的文字"),
          QStringLiteral("设置里可以修改快捷键和语言"), QStringLiteral("网络连接失败，请稍后重试")}},
        {"traditional", tc,
         {QStringLiteral("繁體中文識別測試"), QStringLiteral("剪貼簿歷史紀錄"),
          QStringLiteral("請在週五之前把檔案匯出"), QStringLiteral("快速預覽會顯示圖片中的文字"),
          QStringLiteral("設定裡可以修改快捷鍵和語言"), QStringLiteral("網路連線失敗，請稍後重試")}},
        {"English", sc,
         {QStringLiteral("Clipboard history"), QStringLiteral("The quick brown fox jumps over the lazy dog"),
          QStringLiteral("Release notes version 2.4.1"), QStringLiteral("Pinned items stay at the top"),
          QStringLiteral("Error: could not open config.json"), QStringLiteral("Total: $1,234.56; Tax 8.25%")}},
    };
    const QList<int> sizes{16, 20, 24, 28, 32, 40, 44, 52, 64, 80, 96};

    struct Picture
    {
        QString script;
        int size;
        QImage image;
        QString expected;
    };
    QList<Picture> pictures;
    for (qsizetype s = 0; s < sizes.size(); ++s) {
        for (const SweepScript& script : scripts) {
            const qsizetype count = script.lines.size();
            pictures.append({QString::fromLatin1(script.name), sizes[s],
                             linesPicture({{script.family, script.lines[s % count]}}, sizes[s]),
                             script.lines[s % count]});
            QList<std::pair<QString, QString>> three;
            QString expected;
            for (qsizetype i = 1; i <= 3; ++i) {
                three.append({script.family, script.lines[(s + i) % count]});
                expected += script.lines[(s + i) % count];
            }
            pictures.append({QString::fromLatin1(script.name), sizes[s], linesPicture(three, sizes[s]), expected});
        }
        pictures.append({QStringLiteral("mixed"), sizes[s],
                         linesPicture({{sc, scripts[0].lines[s % 6]}, {tc, scripts[1].lines[s % 6]},
                                       {sc, scripts[2].lines[s % 6]}},
                                      sizes[s]),
                         scripts[0].lines[s % 6] + scripts[1].lines[s % 6] + scripts[2].lines[s % 6]});
    }

    const Platform::TesseractTextRecognizer recognizer;
    std::map<QString, std::pair<double, double>> byScript; // wrong, total
    std::map<std::pair<QString, int>, std::pair<double, double>> byScriptAndSize;
    double worst = 1;
    for (auto _ : state) {
        byScript.clear();
        byScriptAndSize.clear();
        worst = 1;
        for (const Picture& picture : pictures) {
            const auto [read, expected, wrong, total] = readingOf(recognizer, picture.image, picture.expected);
            byScript[picture.script].first += wrong;
            byScript[picture.script].second += total;
            byScriptAndSize[{picture.script, picture.size}].first += wrong;
            byScriptAndSize[{picture.script, picture.size}].second += total;
            worst = std::min(worst, 1 - wrong / total);
        }
    }
    for (const auto& [script, counts] : byScript)
        state.counters[script.toStdString()] = 1 - counts.first / counts.second;
    state.counters["worst_picture"] = worst;
    state.counters["pictures"] = double(pictures.size());
    // The table by size, for the record (counters would make one very long row).
    QString table = QStringLiteral("characters read right by size:\n");
    for (const auto& [key, counts] : byScriptAndSize)
        table += QStringLiteral("  %1 %2 px: %3 %\n").arg(key.first).arg(key.second).arg(
            100 * (1 - counts.first / counts.second), 0, 'f', 1);
    std::fputs(table.toUtf8().constData(), stderr);
}

// Pictures as users copy them: every look (dark mode, coloured and gradient backgrounds, low
// contrast, JPEG, a tight crop) in each common CJK font, 20 to 64 px: one line of each script and
// one of all three. Reports the share of characters read right per script, look and font, the
// worst picture, and how many of the textures without text answer text.
void recognizeEveryLookAndFont(benchmark::State& state)
{
    const QList<std::pair<QString, QStringList>> scripts{
        {QStringLiteral("simplified"),
         {QStringLiteral("剪贴板历史记录"), QStringLiteral("请在周五之前把文件导出"),
          QStringLiteral("这张图片里的文字能被识别吗"), QStringLiteral("快速预览会显示图片中的文字"),
          QStringLiteral("设置里可以修改快捷键和语言"), QStringLiteral("网络连接失败请稍后重试")}},
        {QStringLiteral("traditional"),
         {QStringLiteral("剪貼簿歷史紀錄"), QStringLiteral("複製的內容會保存在歷史裡"),
          QStringLiteral("電池電量低於百分之二十"), QStringLiteral("快速預覽會顯示圖片中的文字"),
          QStringLiteral("設定裡可以修改快捷鍵和語言"), QStringLiteral("繁體中文識別測試")}},
        {QStringLiteral("English"),
         {QStringLiteral("Clipboard history"), QStringLiteral("The quick brown fox jumps over the lazy dog"),
          QStringLiteral("Release notes version 2.4.1"), QStringLiteral("Pinned items stay at the top"),
          QStringLiteral("Error could not open config.json"), QStringLiteral("Battery level below twenty percent")}},
    };
    const QList<int> sizes{20, 24, 32, 40, 48, 64};

    struct Picture
    {
        QString script, look, font;
        int size;
        QImage image;
        QString expected;
    };
    QList<Picture> pictures;
    for (qsizetype l = 0; l < RecognitionPictures::looks().size(); ++l) {
        const auto& [look, lookName] = RecognitionPictures::looks()[l];
        for (qsizetype f = 0; f < RecognitionPictures::cjkFonts().size(); ++f) {
            const RecognitionPictures::CjkFont& font = RecognitionPictures::cjkFonts()[f];
            for (qsizetype s = 0; s < sizes.size(); ++s) {
                const int size = sizes[s];
                // Another line at each size, font and look.
                const qsizetype variant = s + f + 2 * l;
                QList<std::pair<QString, QString>> mixed;
                QString mixedText;
                for (const auto& [script, lines] : scripts) {
                    const QString family = script == QLatin1String("traditional") ? font.traditional : font.simplified;
                    const QString& line = lines[variant % lines.size()];
                    pictures.append(
                        {script, lookName, font.name, size, linesPicture({{family, line}}, size, look), line});
                    mixed.append({family, lines[(variant + 1) % lines.size()]});
                    mixedText += mixed.back().second;
                }
                pictures.append({QStringLiteral("mixed"), lookName, font.name, size, linesPicture(mixed, size, look),
                                 mixedText});
            }
        }
    }
    const QList<std::pair<QString, QImage>> textures = RecognitionPictures::textures();

    const Platform::TesseractTextRecognizer recognizer;
    std::map<QString, std::pair<double, double>> byScript, byLook, byFont; // wrong, total
    double worst = 1;
    QStringList poor;
    QStringList texturesWithText;
    for (auto _ : state) {
        byScript.clear();
        byLook.clear();
        byFont.clear();
        poor.clear();
        texturesWithText.clear();
        worst = 1;
        for (const Picture& picture : pictures) {
            const auto [read, expected, wrong, total] = readingOf(recognizer, picture.image, picture.expected);
            for (auto* counts : {&byScript[picture.script], &byLook[picture.look], &byFont[picture.font]}) {
                counts->first += wrong;
                counts->second += total;
            }
            worst = std::min(worst, 1 - wrong / total);
            if (wrong * 5 > total)
                poor.append(QStringLiteral("  %1, %2, %3 px: %4 read as %5")
                                .arg(picture.look, picture.font)
                                .arg(picture.size)
                                .arg(expected, read));
        }
        for (const auto& [name, image] : textures) {
            QString read;
            for (const Platform::RecognizedCharacter& character : recognizer.recognize(image).characters)
                read += character.text;
            if (!read.isEmpty())
                texturesWithText.append(QStringLiteral("  %1: %2").arg(name, read.left(40)));
        }
    }
    for (const auto& [script, counts] : byScript)
        state.counters[script.toStdString()] = 1 - counts.first / counts.second;
    state.counters["worst_picture"] = worst;
    state.counters["pictures"] = double(pictures.size());
    state.counters["textures_with_text"] = double(texturesWithText.size());
    QString table = QStringLiteral("characters read right by script:\n");
    const auto add = [&](const auto& map) {
        for (const auto& [key, counts] : map)
            table += QStringLiteral("  %1: %2 %\n").arg(key).arg(100 * (1 - counts.first / counts.second), 0, 'f', 1);
    };
    add(byScript);
    table += QStringLiteral("by look:\n");
    add(byLook);
    table += QStringLiteral("by font:\n");
    add(byFont);
    table += QStringLiteral("pictures under 80 % (%1):\n").arg(poor.size()) + poor.join(QLatin1Char('\n'));
    table += QStringLiteral("\ntextures answering text (%1 of %2):\n").arg(texturesWithText.size()).arg(textures.size())
             + texturesWithText.join(QLatin1Char('\n')) + QLatin1Char('\n');
    std::fputs(table.toUtf8().constData(), stderr);
}

} // namespace

BENCHMARK(recognizeEveryLookAndFont)
    ->Name("TextRecognition/accuracy by look and font")
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->Iterations(1);

BENCHMARK(recognizeEverySize)
    ->Name("TextRecognition/accuracy by size and script")
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->Iterations(1);

BENCHMARK(recognizeScreenshot)
    ->Name("TextRecognition/1920x1080 screenshot")
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->MeasureProcessCPUTime() // the recognition's other threads too
    ->Iterations(3);

BENCHMARK(recognizeFourLines)
    ->Name("TextRecognition/four lines")
    ->ArgName("busy")
    ->Arg(0)
    ->Arg(1)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->Iterations(10);
