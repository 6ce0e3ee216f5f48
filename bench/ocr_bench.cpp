// What text recognition costs on a full-screen screenshot: a 1920×1080 window of English and
// Chinese text, as the user would copy it with a screenshot tool and ask for its text.

#include <Platform/TextRecognizerTesseract.h>

#include <benchmark/benchmark.h>

#include <QElapsedTimer>
#include <QFont>
#include <QImage>
#include <QPainter>
#include <QRegularExpression>
#include <QStringList>

#include <algorithm>
#include <vector>

namespace {

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

// Characters to add, drop or change to turn one text into the other, blanks ignored.
qsizetype editDistance(QString a, QString b)
{
    static const QRegularExpression blanks(QStringLiteral("\\s+"));
    a.remove(blanks);
    b.remove(blanks);
    std::vector<qsizetype> row(size_t(b.size()) + 1);
    for (qsizetype j = 0; j <= b.size(); ++j)
        row[size_t(j)] = j;
    for (qsizetype i = 1; i <= a.size(); ++i) {
        qsizetype diagonal = row[0];
        row[0] = i;
        for (qsizetype j = 1; j <= b.size(); ++j) {
            const qsizetype above = row[size_t(j)];
            row[size_t(j)] = std::min({above + 1, row[size_t(j - 1)] + 1, diagonal + (a[i - 1] == b[j - 1] ? 0 : 1)});
            diagonal = above;
        }
    }
    return row[size_t(b.size())];
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

} // namespace

BENCHMARK(recognizeScreenshot)
    ->Name("TextRecognition/1920x1080 screenshot")
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->Iterations(3);
