#include "RecognitionPictures.h"
#include "RecognitionScores.h"
#include "TestSupport.h"

#include <Platform/ChineseScript.h>
#include <Platform/TextRecognizerTesseract.h>

#include <QApplication>
#include <QFont>
#include <QFontMetrics>
#include <QPainter>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QTemporaryDir>

#include <algorithm>
#include <map>
#include <tuple>
#include <thread>
#include <vector>

using Platform::RecognizedCharacter;
using Platform::RecognizedWord;
using Platform::TesseractTextRecognizer;
using Failure = Platform::TextRecognizer::Failure;
using RecognitionPictures::editDistance;
using RecognitionPictures::linesPicture;
using RecognitionPictures::Look;

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

QStringList wordTexts(const QList<RecognizedWord>& words)
{
    QStringList texts;
    for (const RecognizedWord& word : words)
        texts.append(word.text);
    return texts;
}

// Two lines, one above the other, in the given fonts; `lineRects` gets where each was drawn.
QImage renderedLines(const QList<std::pair<QString, QString>>& lines, QList<QRect>* lineRects = nullptr)
{
    QImage image(1000, 130 + int(lines.size()) * 90, QImage::Format_RGB32);
    image.fill(Qt::white);
    QPainter painter(&image);
    painter.setPen(Qt::black);
    int top = 60;
    for (const auto& [family, text] : lines) {
        QFont font(family);
        font.setPixelSize(40);
        painter.setFont(font);
        const QRect rect = painter.boundingRect(QRect(80, top, 900, 80), Qt::AlignLeft | Qt::AlignTop, text);
        painter.drawText(rect, Qt::AlignLeft | Qt::AlignTop, text);
        if (lineRects)
            lineRects->append(rect);
        top += 90;
    }
    return image;
}

// The three scripts the recognizer reads, each in the font that draws its forms.
struct Script
{
    QString name;
    QString family;
    QStringList lines;
};

const QList<Script>& scripts()
{
    static const QList<Script> all{
        {QStringLiteral("simplified"), QStringLiteral("Noto Sans CJK SC"),
         {QStringLiteral("剪贴板历史记录"), QStringLiteral("请在周五之前把文件导出"),
          QStringLiteral("网络连接失败，请稍后重试"), QStringLiteral("这张图片没有识别到文字")}},
        {QStringLiteral("traditional"), QStringLiteral("Noto Sans CJK TC"),
         {QStringLiteral("剪貼簿歷史紀錄"), QStringLiteral("繁體中文識別測試"),
          QStringLiteral("網路連線失敗，請稍後重試"), QStringLiteral("快速預覽會顯示圖片中的文字")}},
        {QStringLiteral("English"), QStringLiteral("Noto Sans CJK SC"),
         {QStringLiteral("Clipboard history"), QStringLiteral("The quick brown fox jumps over the lazy dog"),
          QStringLiteral("Release notes version 2.4.1"), QStringLiteral("Pinned items stay at the top")}},
    };
    return all;
}

// The text of each line the recognizer found, its characters joined without blanks.
QStringList lineTexts(const Platform::TextRecognizer::Result& result)
{
    QStringList lines;
    for (const RecognizedWord& word : result.words) {
        while (lines.size() <= word.lineIndex)
            lines.append(QString());
        lines[word.lineIndex] += word.text;
    }
    return lines;
}

// For each mark of the line that has a full-width and an ASCII form, which one it is: 'W' or 'A'.
QString punctuationWidths(const QString& line)
{
    static const QString ascii = QStringLiteral(",:;!?()");
    static const QString fullWidth = QStringLiteral("，：；！？（）");
    QString widths;
    for (const QChar c : line) {
        if (ascii.contains(c))
            widths += QLatin1Char('A');
        else if (fullWidth.contains(c))
            widths += QLatin1Char('W');
    }
    return widths;
}


// Lines of (family, text) on a photograph-like background made from `seed`: soft blobs of colour
// over a shaded base, and grain of ±26 levels a pixel. Light, with near-black text, or dark, with
// near-white text.
QImage onPhotograph(const QList<std::pair<QString, QString>>& lines, int pixelSize, bool light, quint32 seed)
{
    QImage text = linesPicture(lines, pixelSize);
    QImage image(text.size(), QImage::Format_RGB32);
    QRandomGenerator random(seed);
    RecognitionPictures::paintPhotoShading(image, random,
                                           {light ? 140 : 20, 96, 16, double(image.height()), 0.2, 0.6, 160});
    // The text's coverage of each pixel mixes the ink in.
    const int ink = light ? 0x14 : 0xf4;
    for (int y = 0; y < image.height(); ++y) {
        auto* row = reinterpret_cast<QRgb*>(image.scanLine(y));
        const auto* cover = reinterpret_cast<const QRgb*>(text.constScanLine(y));
        for (int x = 0; x < image.width(); ++x) {
            const int grain = int(random.bounded(53)) - 26;
            const int alpha = 255 - qGray(cover[x]);
            const auto mixed = [&](int channel) {
                return std::clamp((channel * (255 - alpha) + ink * alpha) / 255 + grain, 0, 255);
            };
            row[x] = qRgb(mixed(qRed(row[x])), mixed(qGreen(row[x])), mixed(qBlue(row[x])));
        }
    }
    return image;
}

// A chat photographed or screenshotted over a photograph: `messages` in `family` at `pixelSize`,
// each in a bubble veiled a shade darker (or lighter, on a light photograph) than the blobs of
// colour behind it, the messages taking turns left and right; then the photograph's grain over
// it all, ±26 levels a pixel, which the veil does not hide.
QImage chatOnPhotograph(const QString& family, const QStringList& messages, int pixelSize, bool light, quint32 seed)
{
    QFont font(family);
    font.setPixelSize(pixelSize);
    const QFontMetrics metrics(font);
    const int pad = pixelSize * 3 / 5;
    int widest = 0;
    for (const QString& message : messages)
        widest = std::max(widest, metrics.horizontalAdvance(message));
    const int width = widest * 3 / 2 + 4 * pixelSize;
    const int step = metrics.height() + 2 * pad + pixelSize * 4 / 5;
    QImage image(width, int(messages.size()) * step + pixelSize, QImage::Format_RGB32);
    QRandomGenerator random(seed);
    RecognitionPictures::paintPhotoShading(image, random,
                                           {light ? 150 : 40, 80, 0, double(image.height()), 0.2, 0.6, 160});
    {
        QPainter painter(&image);
        painter.setRenderHint(QPainter::Antialiasing);
        painter.setPen(Qt::NoPen);
        // Blobs of colour, as a photograph's out-of-focus lights.
        for (int i = 0; i < 12; ++i) {
            const QPointF centre(random.bounded(image.width()), random.bounded(image.height()));
            const double radius = image.height() * (0.15 + random.bounded(0.35));
            RecognitionPictures::paintSoftBlob(painter, centre, radius,
                                               QColor::fromHsv(int(random.bounded(360)), 200, light ? 230 : 150, 150));
        }
        painter.setFont(font);
        int top = pixelSize / 2;
        for (int i = 0; i < messages.size(); ++i) {
            const int textWidth = metrics.horizontalAdvance(messages[i]);
            const QRect bubble(i % 2 == 1 ? width - pixelSize - textWidth - 2 * pad : pixelSize, top,
                               textWidth + 2 * pad, metrics.height() + 2 * pad);
            painter.setPen(Qt::NoPen);
            painter.setBrush(light ? QColor(255, 255, 255, 90) : QColor(0, 0, 0, 90));
            painter.drawRoundedRect(bubble, pixelSize / 2, pixelSize / 2);
            painter.setPen(light ? QColor(0x10, 0x10, 0x10) : QColor(0xfa, 0xfa, 0xfa));
            painter.drawText(bubble, Qt::AlignCenter, messages[i]);
            top += step;
        }
    }
    for (int y = 0; y < image.height(); ++y) {
        auto* row = reinterpret_cast<QRgb*>(image.scanLine(y));
        for (int x = 0; x < image.width(); ++x) {
            const int grain = int(random.bounded(53)) - 26;
            const auto grained = [&](int channel) { return std::clamp(channel + grain, 0, 255); };
            row[x] = qRgb(grained(qRed(row[x])), grained(qGreen(row[x])), grained(qBlue(row[x])));
        }
    }
    return image;
}

// A short label alone, as a screenshot of a button or a caption cuts it out: `text` in `family`
// at `pixelSize`, on a light or dark page, in a button's rounded outline or none, turned by
// `degrees`.
QImage loneLabel(const QString& family, const QString& text, int pixelSize, bool dark, bool framed, double degrees)
{
    QFont font(family);
    font.setPixelSize(pixelSize);
    const QFontMetrics metrics(font);
    const QSize box(metrics.horizontalAdvance(text) + 2 * pixelSize, metrics.height() + pixelSize);
    QImage image(box + QSize(pixelSize, pixelSize), QImage::Format_RGB32);
    const QColor page = dark ? QColor(0x1e, 0x1f, 0x22) : QColor(Qt::white);
    image.fill(page);
    {
        QPainter painter(&image);
        painter.setRenderHint(QPainter::Antialiasing);
        painter.translate(image.width() / 2.0, image.height() / 2.0);
        painter.rotate(degrees);
        painter.translate(-box.width() / 2.0, -box.height() / 2.0);
        if (framed) {
            painter.setPen(QPen(dark ? QColor(0x8c, 0x8c, 0x8c) : QColor(0x70, 0x70, 0x70), 1));
            painter.setBrush(page);
            painter.drawRoundedRect(QRectF(QPointF(0.5, 0.5), QSizeF(box) - QSizeF(1, 1)), pixelSize * 0.3,
                                    pixelSize * 0.3);
        }
        painter.setFont(font);
        painter.setPen(dark ? QColor(0xe6, 0xe6, 0xe6) : QColor(Qt::black));
        painter.drawText(QRect(QPoint(0, 0), box), Qt::AlignCenter, text);
    }
    return image;
}

// A button as a toolbar or a dialog draws it: a rounded rectangle `fill` on a `page` of another
// colour, its label centred in `ink`, at `scale` times the pixel size (2 on a HiDPI screen). An
// `outline` draws the button's edge, and a `lit` top edge the highlight of a raised button.
struct Button
{
    QString family;
    QString text;
    int pixelSize = 14;
    QColor page;
    QColor fill;
    QColor ink = Qt::white;
    QColor outline = Qt::transparent;
    QColor lit = Qt::transparent;
    int scale = 1;
    double around = 1; // the page shown around the button, in pixel sizes
};

QImage buttonPicture(const Button& button)
{
    QFont font(button.family);
    font.setPixelSize(button.pixelSize * button.scale);
    const QFontMetrics metrics(font);
    const int size = button.pixelSize * button.scale;
    const int around = qRound(size * button.around);
    const QRect box(QPoint(around, around), QSize(metrics.horizontalAdvance(button.text) + 2 * size, 2 * size));
    QImage image(box.size() + QSize(2 * around, 2 * around), QImage::Format_RGB32);
    image.fill(button.page);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(button.outline.alpha() > 0 ? QPen(button.outline, button.scale) : QPen(Qt::NoPen));
    painter.setBrush(button.fill);
    painter.drawRoundedRect(QRectF(box).adjusted(0.5, 0.5, -0.5, -0.5), size * 0.4, size * 0.4);
    if (button.lit.alpha() > 0) {
        painter.setPen(QPen(button.lit, button.scale));
        painter.drawLine(QPointF(box.left() + size * 0.4, box.top() + 0.5),
                         QPointF(box.right() - size * 0.4, box.top() + 0.5));
    }
    painter.setFont(font);
    painter.setPen(button.ink);
    painter.drawText(box, Qt::AlignCenter, button.text);
    return image;
}

// A button as a panel over a wallpaper or a photograph draws it: white, a third see-through, over
// a gradient between two colours (left to right, or corner to corner), the page showing around it
// by `around` pixel sizes; its label white.
QImage translucentButton(const QString& family, const QString& text, int pixelSize, const QColor& from,
                         const QColor& to, bool corner, double around)
{
    QFont font(family);
    font.setPixelSize(pixelSize);
    const QFontMetrics metrics(font);
    const int pad = qRound(pixelSize * around);
    const QRect box(QPoint(pad, pad),
                    QSize(metrics.horizontalAdvance(text) + qRound(1.2 * pixelSize), metrics.height() + pixelSize / 2));
    QImage image(box.size() + QSize(2 * pad, 2 * pad), QImage::Format_RGB32);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    QLinearGradient gradient(0, 0, image.width(), corner ? image.height() : 0);
    gradient.setColorAt(0, from);
    gradient.setColorAt(1, to);
    painter.fillRect(image.rect(), gradient);
    painter.setPen(Qt::NoPen);
    painter.setBrush(QColor(255, 255, 255, 90));
    painter.drawRoundedRect(QRectF(box), pixelSize * 0.3, pixelSize * 0.3);
    painter.setFont(font);
    painter.setPen(Qt::white);
    painter.drawText(box, Qt::AlignCenter, text);
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
        const auto result = TesseractTextRecognizer().recognize(
            rendered(QSize(800, 400), QStringLiteral("Hop"), 48, Qt::white, &drawn));
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
        QVERIFY2(band.contains(h) && band.contains(o) && band.contains(p),
                 "the glyphs lie inside the drawn text's rectangle");
        QVERIFY(h.height() > 0.5 * band.height());
    }

    void wordsComeWithBoxesLinesAndConfidence()
    {
        QList<QRect> drawn;
        const QImage image = renderedLines({{QStringLiteral("DejaVu Sans"), QStringLiteral("Quick brown fox")},
                                            {QStringLiteral("DejaVu Sans"), QStringLiteral("jumps over")}},
                                           &drawn);
        const auto result = TesseractTextRecognizer().recognize(image);
        QCOMPARE(result.failure, Failure::none);
        QCOMPARE(wordTexts(result.words),
                 (QStringList{QStringLiteral("Quick"), QStringLiteral("brown"), QStringLiteral("fox"),
                              QStringLiteral("jumps"), QStringLiteral("over")}));
        QCOMPARE(result.lines.size(), 2);
        const QList<int> lineOfWord{0, 0, 0, 1, 1};
        for (qsizetype i = 0; i < result.words.size(); ++i) {
            const RecognizedWord& word = result.words[i];
            QCOMPARE(word.lineIndex, lineOfWord[i]);
            QVERIFY2(word.confidence > 60 && word.confidence <= 100, qPrintable(word.text));
            // Inside its line's box and the drawn line's band (counted from the bottom).
            const QRect& line = drawn[lineOfWord[i]];
            const QRectF band(line.x() / 1000.0 - 0.01, 1.0 - (line.bottom() + 4) / double(image.height()),
                              line.width() / 1000.0 + 0.02, (line.height() + 8) / double(image.height()));
            QVERIFY2(band.contains(word.boundingBox), qPrintable(word.text));
            QVERIFY(result.lines[word.lineIndex].adjusted(-1e-9, -1e-9, 1e-9, 1e-9).contains(word.boundingBox));
        }
        // Left to right along a line; the second line below the first.
        QVERIFY(result.words[0].boundingBox.right() < result.words[1].boundingBox.left());
        QVERIFY(result.words[1].boundingBox.right() < result.words[2].boundingBox.left());
        QVERIFY(result.lines[1].bottom() < result.lines[0].top());
        // The characters are there as before.
        QCOMPARE(joined(result.characters), QStringLiteral("Quickbrownfoxjumpsover"));
    }

    void chineseAndEnglishWordsKeepTheirText()
    {
        const QImage image = renderedLines({{QStringLiteral("WenQuanYi Micro Hei"), QStringLiteral("快速预览文字")},
                                            {QStringLiteral("DejaVu Sans"), QStringLiteral("Live Text")}});
        const auto result = TesseractTextRecognizer().recognize(image);
        QCOMPARE(result.failure, Failure::none);
        QString chinese;
        QStringList english;
        for (const RecognizedWord& word : result.words)
            (word.lineIndex == 0 ? chinese : english.emplaceBack()) += word.text;
        QCOMPARE(chinese, QStringLiteral("快速预览文字"));
        QCOMPARE(english, (QStringList{QStringLiteral("Live"), QStringLiteral("Text")}));
    }

    void simplifiedTraditionalAndEnglishLinesComeBackAsWritten()
    {
        // Each Chinese model reads the other script's characters as its own (貼 as 贴, 贴 as
        // 貼): the lines must keep the script they were written in.
        const QList<std::pair<QString, QString>> lines{
            {QStringLiteral("Noto Sans CJK SC"), QStringLiteral("剪贴板历史记录")},
            {QStringLiteral("Noto Sans CJK TC"), QStringLiteral("剪貼簿歷史紀錄")},
            {QStringLiteral("Noto Sans CJK TC"), QStringLiteral("繁體中文識別測試")},
            {QStringLiteral("Noto Sans CJK SC"), QStringLiteral("Quick brown fox")},
            {QStringLiteral("Noto Sans CJK SC"), QStringLiteral("请在周五之前把文件导出")},
        };
        const auto result = TesseractTextRecognizer().recognize(linesPicture(lines, 32));
        QCOMPARE(result.failure, Failure::none);
        QCOMPARE(lineTexts(result), (QStringList{QStringLiteral("剪贴板历史记录"), QStringLiteral("剪貼簿歷史紀錄"),
                                                 QStringLiteral("繁體中文識別測試"), QStringLiteral("Quickbrownfox"),
                                                 QStringLiteral("请在周五之前把文件导出")}));
        QCOMPARE(joined(result.characters), lineTexts(result).join(QString()));
    }

    // Small text loses strokes and large text is cut into pieces read out of order, unless the
    // picture is brought to the size the engine reads best. Per script at least 95 % of the
    // characters right, no picture under 80 %.
    void everySizeAndScriptIsReadAlike()
    {
        const TesseractTextRecognizer recognizer;
        const QList<int> sizes{16, 20, 28, 44, 52, 64, 96};
        QStringList report;
        QStringList poorScripts;
        QStringList poorPictures;
        for (const Script& script : scripts()) {
            qsizetype wrong = 0;
            qsizetype total = 0;
            for (qsizetype s = 0; s < sizes.size(); ++s) {
                // One line (another one at each size) and three lines.
                QList<QList<std::pair<QString, QString>>> pictures{{{script.family, script.lines[s % 4]}}, {}};
                for (qsizetype i = 1; i <= 3; ++i)
                    pictures[1].append({script.family, script.lines[(s + i) % 4]});
                for (const auto& lines : pictures) {
                    QString expected;
                    for (const auto& line : lines)
                        expected += line.second;
                    expected.remove(QLatin1Char(' '));
                    const auto result = recognizer.recognize(linesPicture(lines, sizes[s]));
                    QCOMPARE(result.failure, Failure::none);
                    const QString read = joined(result.characters);
                    const qsizetype distance = std::min(editDistance(read, expected), expected.size());
                    wrong += distance;
                    total += expected.size();
                    if (distance * 5 > expected.size())
                        poorPictures.append(QStringLiteral("%1 px: %2 read as %3").arg(sizes[s]).arg(expected, read));
                }
            }
            const double share = 1.0 - double(wrong) / double(total);
            report.append(QStringLiteral("%1 %2 %").arg(script.name).arg(share * 100, 0, 'f', 1));
            if (share < 0.95)
                poorScripts.append(script.name);
        }
        qInfo("characters read right: %s", qPrintable(report.join(QStringLiteral(", "))));
        QVERIFY2(poorScripts.isEmpty(), qPrintable(report.join(QStringLiteral(", "))));
        QVERIFY2(poorPictures.isEmpty(), qPrintable(poorPictures.join(QStringLiteral("; "))));
    }

    // The Chinese models read full-width punctuation as ASCII (注意：明天放假！ as 注意:明天放假!):
    // each mark must come back in the width it is drawn in, full-width in Chinese text, ASCII in
    // an English phrase inside a Chinese line, and ASCII between Chinese characters too.
    void punctuationComesBackInTheWidthItIsDrawnIn()
    {
        const QStringList lines{QStringLiteral("注意：明天放假！"), QStringLiteral("价格（含稅）：一百元，好吗？"),
                                QStringLiteral("运行 make test, 版本 3.5 (beta) 好"), QStringLiteral("他说:好!我们(走)吧")};
        const TesseractTextRecognizer recognizer;
        QStringList wrong;
        for (const QString& family : {QStringLiteral("Noto Sans CJK SC"), QStringLiteral("Noto Sans CJK TC"),
                                      QStringLiteral("Noto Serif CJK SC"), QStringLiteral("WenQuanYi Micro Hei")}) {
            for (const int size : {24, 32, 48}) {
                QList<std::pair<QString, QString>> picture;
                for (const QString& line : lines)
                    picture.append({family, line});
                const auto result = recognizer.recognize(linesPicture(picture, size));
                QCOMPARE(result.failure, Failure::none);
                const QStringList read = lineTexts(result);
                for (qsizetype i = 0; i < lines.size(); ++i) {
                    const QString got = read.value(i);
                    if (punctuationWidths(got) != punctuationWidths(lines[i]))
                        wrong.append(
                            QStringLiteral("%1 %2 px: %3 read as %4").arg(family).arg(size).arg(lines[i], got));
                }
            }
        }
        QVERIFY2(wrong.isEmpty(), qPrintable(wrong.join(QStringLiteral("; "))));
    }

    // Small text drawn without antialiasing is jagged: one-pixel strokes with stairs for edges,
    // which scaled up to the reading height the engine took for other strokes (結束 as 巡閉東,
    // 歷史紀錄 as 其哆刀). Menus of short entries in the common CJK families at 12 and 13 px,
    // drawn with ink and paper alone: most of their characters come back.
    void smallTextDrawnWithoutAntialiasingIsRead()
    {
        const QList<std::pair<QString, QStringList>> menus{
            {QStringLiteral("Noto Sans CJK TC"),
             {QStringLiteral("開新視窗"), QStringLiteral("最近開啟的專案"), QStringLiteral("列印預覽"),
              QStringLiteral("結束程式")}},
            {QStringLiteral("Noto Sans CJK SC"),
             {QStringLiteral("新建标签页"), QStringLiteral("历史记录"), QStringLiteral("下载管理"),
              QStringLiteral("退出浏览器")}},
            {QStringLiteral("AR PL UKai CN"),
             {QStringLiteral("网络代理"), QStringLiteral("自动更新"), QStringLiteral("清除缓存"),
              QStringLiteral("关于本机")}},
            {QStringLiteral("AR PL UKai TW"),
             {QStringLiteral("備份資料"), QStringLiteral("還原設定"), QStringLiteral("檢查更新"),
              QStringLiteral("說明文件")}},
        };
        const TesseractTextRecognizer recognizer;
        qsizetype drawn = 0;
        qsizetype wrong = 0;
        QStringList readings;
        for (const auto& [family, entries] : menus) {
            for (const int size : {12, 13}) {
                QFont font(family);
                font.setPixelSize(size);
                font.setStyleStrategy(QFont::NoAntialias);
                const QFontMetrics metrics(font);
                int width = 0;
                for (const QString& entry : entries)
                    width = std::max(width, metrics.horizontalAdvance(entry));
                const int step = size * 2;
                QImage image(width + 4 * size, int(entries.size()) * step + 2 * size, QImage::Format_RGB32);
                image.fill(QColor(0xf6, 0xf6, 0xf6));
                {
                    QPainter painter(&image);
                    painter.setRenderHint(QPainter::TextAntialiasing, false);
                    painter.setPen(QColor(0x20, 0x20, 0x20));
                    painter.setFont(font);
                    for (qsizetype i = 0; i < entries.size(); ++i)
                        painter.drawText(2 * size, size + int(i) * step + metrics.ascent(), entries[i]);
                }
                const auto result = recognizer.recognize(image);
                QCOMPARE(result.failure, Failure::none);
                const QString expected = entries.join(QString());
                const QString read = joined(result.characters);
                drawn += expected.size();
                wrong += std::min(editDistance(read, expected), expected.size());
                readings.append(QStringLiteral("%1 %2 px: %3").arg(family).arg(size).arg(read));
            }
        }
        // Before, these read 83 %; jagged 12 px UKai stays hard (網 as 同), Noto Sans comes back whole.
        const double share = 1.0 - double(wrong) / double(drawn);
        QVERIFY2(share >= 0.87, qPrintable(QStringLiteral("%1 % read right; %2")
                                               .arg(100 * share, 0, 'f', 1)
                                               .arg(readings.join(QStringLiteral("; ")))));
    }

    // Panels of small text that reached the picture badly, drawn without antialiasing or scaled
    // down to three quarters: the engine misreads some of their characters whatever scale it
    // reads them at, each scale and each model other ones (a jagged 12 px 牙 as 和). A character
    // it doubts is read again two more ways by both models and takes what they agree on.
    void smallTextReadBadlyTakesTheCharactersItsReadingsAgreeOn()
    {
        const QList<std::pair<QString, QStringList>> panels{
            {QStringLiteral("AR PL UKai CN"),
             {QStringLiteral("屏幕保护"), QStringLiteral("蓝牙耳机"), QStringLiteral("字体大小"),
              QStringLiteral("电源管理"), QStringLiteral("开机启动"), QStringLiteral("键盘快捷键")}},
            {QStringLiteral("AR PL UKai TW"),
             {QStringLiteral("螢幕保護"), QStringLiteral("藍牙耳機"), QStringLiteral("字型大小"),
              QStringLiteral("電源管理"), QStringLiteral("開機啟動"), QStringLiteral("鍵盤快捷鍵")}},
            {QStringLiteral("AR PL UMing CN"),
             {QStringLiteral("网络连接"), QStringLiteral("简体中文"), QStringLiteral("历史记录"),
              QStringLiteral("关闭窗口"), QStringLiteral("打开文件"), QStringLiteral("显示通知")}},
            {QStringLiteral("WenQuanYi Zen Hei"),
             {QStringLiteral("登入帳號"), QStringLiteral("開啟檔案"), QStringLiteral("佈景主題"),
              QStringLiteral("語音輸入"), QStringLiteral("結束程式"), QStringLiteral("網路連線")}},
        };
        enum class Way { jagged, scaledDown };
        const TesseractTextRecognizer recognizer;
        std::map<Way, std::pair<qsizetype, qsizetype>> counts; // drawn, wrong
        QStringList readings;
        for (const Way way : {Way::jagged, Way::scaledDown}) {
            for (const auto& [family, entries] : panels) {
                // Drawn jagged at 12 px, or smooth at 13 px and scaled down to about 10.
                const int size = way == Way::jagged ? 12 : 13;
                QFont font(family);
                font.setPixelSize(size);
                if (way == Way::jagged)
                    font.setStyleStrategy(QFont::NoAntialias);
                const QFontMetrics metrics(font);
                int width = 0;
                for (const QString& entry : entries)
                    width = std::max(width, metrics.horizontalAdvance(entry));
                const int step = size * 2;
                QImage image(width + 4 * size, int(entries.size()) * step + 2 * size, QImage::Format_RGB32);
                image.fill(Qt::white);
                {
                    QPainter painter(&image);
                    painter.setRenderHint(QPainter::TextAntialiasing, way != Way::jagged);
                    painter.setPen(QColor(0x1a, 0x1a, 0x1a));
                    painter.setFont(font);
                    for (qsizetype i = 0; i < entries.size(); ++i)
                        painter.drawText(2 * size, size + int(i) * step + metrics.ascent(), entries[i]);
                }
                if (way == Way::scaledDown)
                    image = image.scaled(image.width() * 3 / 4, image.height() * 3 / 4, Qt::IgnoreAspectRatio,
                                         Qt::SmoothTransformation);
                const auto result = recognizer.recognize(image);
                QCOMPARE(result.failure, Failure::none);
                const QString expected = entries.join(QString());
                const QString read = joined(result.characters);
                counts[way].first += expected.size();
                counts[way].second += std::min(editDistance(read, expected), expected.size());
                readings.append(QStringLiteral("%1 %2: %3")
                                    .arg(family, way == Way::jagged ? QStringLiteral("jagged")
                                                                    : QStringLiteral("scaled down"))
                                    .arg(read));
            }
        }
        const auto share = [&](Way way) { return 1.0 - double(counts[way].second) / double(counts[way].first); };
        const QString all = readings.join(QStringLiteral("; "));
        qInfo("jagged %.1f %%, scaled down %.1f %%; %s", 100 * share(Way::jagged), 100 * share(Way::scaledDown),
              qPrintable(all));
        // Before, 75.5 % of the jagged panels and 77.6 % of those scaled down came back.
        QVERIFY2(share(Way::jagged) >= 0.8, qPrintable(all));
        QVERIFY2(share(Way::scaledDown) >= 0.78, qPrintable(all));
    }

    // Long lines of small jagged text, as a paragraph or a settings panel's description has: a
    // doubtful character is read again only over the stretch of the line around it, from the
    // picture prepared around that stretch alone, and must still take what the readings agree on
    // and stand where it stood (a stretch placed wrong in the line votes for its neighbours).
    void longLinesOfSmallTextTakeTheCharactersTheirStretchesAgreeOn()
    {
        const QList<std::pair<QString, QStringList>> paragraphs{
            {QStringLiteral("AR PL UKai CN"),
             {QStringLiteral("打开蓝牙耳机后，网络连接的历史记录会显示在这里"),
              QStringLiteral("开机启动时检查更新，屏幕保护与电源管理设置不变"),
              QStringLiteral("简体中文的字体大小可以在键盘快捷键面板中修改")}},
            {QStringLiteral("AR PL UKai TW"),
             {QStringLiteral("開啟藍牙耳機後，網路連線的歷史紀錄會顯示在這裡"),
              QStringLiteral("開機啟動時檢查更新，螢幕保護與電源管理設定不變"),
              QStringLiteral("繁體中文的字型大小可以在鍵盤快捷鍵面板中修改")}},
        };
        const TesseractTextRecognizer recognizer;
        qsizetype drawn = 0;
        qsizetype wrong = 0;
        QStringList readings;
        for (const auto& [family, lines] : paragraphs) {
            QFont font(family);
            font.setPixelSize(12);
            font.setStyleStrategy(QFont::NoAntialias);
            const QFontMetrics metrics(font);
            int width = 0;
            for (const QString& line : lines)
                width = std::max(width, metrics.horizontalAdvance(line));
            QImage image(width + 48, int(lines.size()) * 20 + 24, QImage::Format_RGB32);
            image.fill(Qt::white);
            {
                QPainter painter(&image);
                painter.setRenderHint(QPainter::TextAntialiasing, false);
                painter.setPen(QColor(0x1a, 0x1a, 0x1a));
                painter.setFont(font);
                for (qsizetype i = 0; i < lines.size(); ++i)
                    painter.drawText(24, 12 + int(i) * 20 + metrics.ascent(), lines[i]);
            }
            const auto result = recognizer.recognize(image);
            QCOMPARE(result.failure, Failure::none);
            const QString expected = lines.join(QString());
            const QString read = joined(result.characters);
            drawn += expected.size();
            wrong += std::min(editDistance(read, expected), expected.size());
            readings.append(QStringLiteral("%1: %2").arg(family, read));
        }
        const double share = 1.0 - double(wrong) / double(drawn);
        const QString all = readings.join(QStringLiteral("; "));
        qInfo("%.1f %%; %s", 100 * share, qPrintable(all));
        // Without reading doubtful characters again, 70.6 % came back; with their stretches, 75.7 %.
        QVERIFY2(share >= 0.73, qPrintable(all));
    }

    // Rows of a panel in small text drawn without antialiasing: the engine reads some characters
    // of such rows as others it hardly trusts, and stretches their boxes far above and below the
    // row (a box of 47 pixels in a row of 30). Such a row was then taken for no text like its
    // neighbours and left out: two rows of four came back from a panel in UKai at 12 px.
    void noRowOfSmallJaggedTextVanishes()
    {
        const QList<std::pair<QString, QList<std::pair<QString, QString>>>> panels{
            {QStringLiteral("AR PL UKai CN"),
             {{QStringLiteral("自动锁屏"), QStringLiteral("五分钟")},
              {QStringLiteral("通知声音"), QStringLiteral("默认铃声")},
              {QStringLiteral("剪贴板保留"), QStringLiteral("三十天")},
              {QStringLiteral("夜间模式"), QStringLiteral("跟随系统")}}},
            {QStringLiteral("AR PL UKai TW"),
             {{QStringLiteral("自動鎖定"), QStringLiteral("五分鐘")},
              {QStringLiteral("通知聲音"), QStringLiteral("預設鈴聲")},
              {QStringLiteral("剪貼簿保留"), QStringLiteral("三十天")},
              {QStringLiteral("夜間模式"), QStringLiteral("跟隨系統")}}},
            {QStringLiteral("AR PL UMing CN"),
             {{QStringLiteral("输入法"), QStringLiteral("拼音")},
              {QStringLiteral("屏幕亮度"), QStringLiteral("自动调节")},
              {QStringLiteral("存储空间"), QStringLiteral("还剩一半")},
              {QStringLiteral("同步书签"), QStringLiteral("已开启")}}},
            {QStringLiteral("WenQuanYi Zen Hei"),
             {{QStringLiteral("螢幕亮度"), QStringLiteral("自動調整")},
              {QStringLiteral("儲存空間"), QStringLiteral("剩餘一半")},
              {QStringLiteral("同步書籤"), QStringLiteral("已開啟")},
              {QStringLiteral("輸入法"), QStringLiteral("注音")}}},
        };
        const TesseractTextRecognizer recognizer;
        qsizetype drawn = 0, wrong = 0;
        QStringList readings, missing;
        for (const auto& [family, rows] : panels) {
            for (const int size : {12, 13}) {
                QFont font(family);
                font.setPixelSize(size);
                font.setStyleStrategy(QFont::NoAntialias);
                const QFontMetrics metrics(font);
                const int step = size * 5 / 2;
                const int width = 24 * size;
                QImage image(width, int(rows.size()) * step + 2 * size, QImage::Format_RGB32);
                image.fill(Qt::white);
                {
                    QPainter painter(&image);
                    painter.setRenderHint(QPainter::TextAntialiasing, false);
                    painter.setPen(QColor(0x22, 0x22, 0x22));
                    painter.setFont(font);
                    for (qsizetype i = 0; i < rows.size(); ++i) {
                        const int baseline = size + int(i) * step + metrics.ascent();
                        painter.drawText(size, baseline, rows[i].first);
                        painter.drawText(width - size - metrics.horizontalAdvance(rows[i].second), baseline,
                                         rows[i].second);
                    }
                }
                QString expected;
                for (const auto& [label, value] : rows)
                    expected += label + value;
                const QString read = joined(recognizer.recognize(image).characters);
                drawn += expected.size();
                wrong += std::min(editDistance(read, expected), expected.size());
                readings.append(QStringLiteral("%1 %2 px: %3").arg(family).arg(size).arg(read));
                for (const auto& [label, value] : rows)
                    if (RecognitionScores::lineMissing(label + value, read))
                        missing.append(QStringLiteral("%1 %2 in %3 %4 px").arg(label, value, family).arg(size));
            }
        }
        // Characters are still misread at 12 px (three in four come back right); no row may go.
        qInfo("small jagged rows read right: %.1f %%; %s", 100 * (1.0 - double(wrong) / double(drawn)),
              qPrintable(readings.join(QStringLiteral("; "))));
        QVERIFY2(missing.isEmpty(), qPrintable(missing.join(QStringLiteral("; "))));
    }

    // A large label drawn without antialiasing is no harder to see than a smooth one, but read
    // at the heights a lone label is read at, its stairs were scaled with it: the models took
    // characters for others (觸 as 舺, 略 as 咯, 縮 in its Simplified form) and two labels of 36 px
    // answered no text. Before, 96.4 % came back.
    void aLargeLabelDrawnWithoutAntialiasingIsRead()
    {
        struct Label
        {
            QString text;
            bool traditional;
        };
        const QList<Label> labels{
            {QStringLiteral("檔案夾"), true},    {QStringLiteral("備忘錄"), true},   {QStringLiteral("捷徑"), true},
            {QStringLiteral("鍵盤設定"), true},  {QStringLiteral("郵件"), true},     {QStringLiteral("灰階"), true},
            {QStringLiteral("縮圖"), true},      {QStringLiteral("螢幕錄影"), true}, {QStringLiteral("觸控板"), true},
            {QStringLiteral("顯示卡"), true},    {QStringLiteral("讀取中"), true},   {QStringLiteral("權限"), true},
            {QStringLiteral("藍牙耳機"), true},  {QStringLiteral("壓縮檔"), true},   {QStringLiteral("續傳"), true},
            {QStringLiteral("聲音"), true},      {QStringLiteral("繁體"), true},     {QStringLiteral("樂器"), true},
            {QStringLiteral("文件夹"), false},   {QStringLiteral("备忘录"), false},  {QStringLiteral("快捷键"), false},
            {QStringLiteral("邮箱"), false},     {QStringLiteral("壁纸"), false},    {QStringLiteral("触控板"), false},
            {QStringLiteral("显卡"), false},     {QStringLiteral("读取中"), false},  {QStringLiteral("权限"), false},
            {QStringLiteral("压缩包"), false},   {QStringLiteral("续传"), false},    {QStringLiteral("声音"), false},
            {QStringLiteral("铁路"), false},     {QStringLiteral("乐器"), false},    {QStringLiteral("缩略图"), false},
            {QStringLiteral("蓝牙耳机"), false},
        };
        const QList<int> sizes{20, 24, 28, 32, 36, 40, 48};
        const TesseractTextRecognizer recognizer;
        qsizetype wrong = 0, total = 0;
        QStringList readings, silent;
        int variant = 0;
        for (const Label& label : labels) {
            for (const RecognitionPictures::CjkFont& font : RecognitionPictures::cjkFonts()) {
                const QString& family = label.traditional ? font.traditional : font.simplified;
                const int size = sizes[variant++ % sizes.size()];
                QFont face(family);
                face.setPixelSize(size);
                face.setStyleStrategy(QFont::NoAntialias);
                const QFontMetrics metrics(face);
                QImage image(metrics.horizontalAdvance(label.text) + 3 * size, metrics.height() + 2 * size,
                             QImage::Format_RGB32);
                image.fill(QColor(0xfa, 0xfa, 0xfa));
                {
                    QPainter painter(&image);
                    painter.setRenderHint(QPainter::TextAntialiasing, false);
                    painter.setFont(face);
                    painter.setPen(QColor(0x1a, 0x1a, 0x1a));
                    painter.drawText(image.rect(), Qt::AlignCenter, label.text);
                }
                const QString read = joined(recognizer.recognize(image).characters);
                const QString name = QStringLiteral("%1 %2 %3 px: %4").arg(label.text, font.name).arg(size).arg(read);
                if (read != label.text)
                    readings.append(name);
                if (read.isEmpty())
                    silent.append(name);
                wrong += std::min(editDistance(read, label.text), label.text.size());
                total += label.text.size();
            }
        }
        const double share = 1.0 - double(wrong) / double(total);
        qInfo("large jagged labels read right: %.1f %%; %s", share * 100,
              qPrintable(readings.join(QStringLiteral("; "))));
        QVERIFY2(silent.isEmpty(), qPrintable(silent.join(QStringLiteral("; "))));
        QVERIFY2(share >= 0.98, qPrintable(readings.join(QStringLiteral("; "))));
    }

    // The layout can cut one line that mixes Chinese characters and Latin letters into pieces,
    // some of them holding the same characters, and reading each piece again over the whole line
    // brought the line back several times over (请运行 make test 然后提交。 as
    // 青请运运行行mak然然后后提提交etest): one line of the picture is one line read, each
    // character once.
    void aLineTheLayoutCutsIntoPiecesIsReadOnce()
    {
        const QString text = QStringLiteral("请运行 make test 然后提交。");
        QString expected = text;
        expected.remove(QLatin1Char(' '));
        const TesseractTextRecognizer recognizer;
        QStringList wrong;
        const QList<std::pair<QString, QList<int>>> cases{{QStringLiteral("Noto Serif CJK SC"), {36, 40, 48, 56}},
                                                          {QStringLiteral("WenQuanYi Micro Hei"), {28, 32, 40, 64}}};
        for (const auto& [family, sizes] : cases) {
            for (const int size : sizes) {
                const auto result = recognizer.recognize(linesPicture({{family, text}}, size));
                QCOMPARE(result.failure, Failure::none);
                const QString read = joined(result.characters);
                bool twice = false;
                for (const QChar c : read)
                    twice = twice || read.count(c) > expected.count(c);
                if (result.lines.size() != 1 || twice || editDistance(read, expected) > 2)
                    wrong.append(QStringLiteral("%1 %2 px: %3 lines, %4")
                                     .arg(family)
                                     .arg(size)
                                     .arg(result.lines.size())
                                     .arg(lineTexts(result).join(QStringLiteral(" / "))));
            }
        }
        QVERIFY2(wrong.isEmpty(), qPrintable(wrong.join(QStringLiteral("; "))));
    }

    // Lines set tight one under the other are not pieces of one line, although the layout can
    // give a line a box that reaches down over the next one.
    void linesSetTightStayApart()
    {
        const TesseractTextRecognizer recognizer;
        const QStringList tight{QStringLiteral("今天下午三点开会，地点在二楼。"),
                                QStringLiteral("Pinned items stay at the top (gjpqy)."),
                                QStringLiteral("请在周五之前把文件导出为 ZIP。")};
        for (const int size : {20, 32}) {
            QFont font(QStringLiteral("Noto Sans CJK SC"));
            font.setPixelSize(size);
            QImage image(size * 24, size * int(tight.size() + 2), QImage::Format_RGB32);
            image.fill(Qt::white);
            {
                QPainter painter(&image);
                painter.setFont(font);
                painter.setPen(Qt::black);
                for (qsizetype i = 0; i < tight.size(); ++i)
                    painter.drawText(size, size * int(i + 1) + QFontMetrics(font).ascent(), tight[i]);
            }
            const auto result = recognizer.recognize(image);
            QCOMPARE(result.failure, Failure::none);
            const QStringList read = lineTexts(result);
            QVERIFY2(read.size() == tight.size(), qPrintable(read.join(QStringLiteral(" / "))));
            // The English line, whose box reaches down, keeps its own characters (the Chinese
            // lines lose strokes to their neighbours when set this tight).
            QVERIFY2(editDistance(read[1], QStringLiteral("Pinneditemsstayatthetop(gjpqy).")) <= 2,
                     qPrintable(read.join(QStringLiteral(" / "))));
        }
    }

    // Screenshots as users copy them: light text on dark, white on a colour or a gradient, grey
    // on grey, a JPEG, a tight crop; in each common CJK font. The traditional lines must keep
    // their script, which the glyph comparison decides: it must see dark text on white and know
    // the picture's type. Per script at least 95 % of the characters right, per look 90 %, no
    // picture under 80 %.
    void everyLookAndFontIsRead()
    {
        const QStringList simplified{QStringLiteral("剪贴板历史记录"), QStringLiteral("这张图片里的文字能被识别吗"),
                                     QStringLiteral("设置里可以修改快捷键和语言")};
        const QStringList traditional{QStringLiteral("剪貼簿歷史紀錄"), QStringLiteral("複製的內容會保存在歷史裡"),
                                      QStringLiteral("電池電量低於百分之二十"), QStringLiteral("繁體中文識別測試")};
        const QList<int> sizes{20, 24, 32, 40, 48, 64};
        struct Picture
        {
            QString script, look;
            QImage image;
            QString expected;
        };
        QList<Picture> pictures;
        int variant = 0;
        for (const auto& [look, lookName] : RecognitionPictures::looks()) {
            for (const RecognitionPictures::CjkFont& font : RecognitionPictures::cjkFonts()) {
                ++variant;
                const int size = sizes[variant % sizes.size()];
                const QString& traditionalLine = traditional[variant % traditional.size()];
                const QString& simplifiedLine = simplified[variant % simplified.size()];
                pictures.append({QStringLiteral("traditional"), lookName,
                                 linesPicture({{font.traditional, traditionalLine}}, size, look), traditionalLine});
                if (variant % 2 == 0)
                    pictures.append({QStringLiteral("simplified"), lookName,
                                     linesPicture({{font.simplified, simplifiedLine}}, size, look), simplifiedLine});
                // Three scripts in one dark picture.
                if (look == Look::darkMode) {
                    const QString english = QStringLiteral("Pinned items stay at the top");
                    pictures.append({QStringLiteral("mixed"), lookName,
                                     linesPicture({{font.simplified, simplifiedLine},
                                                   {font.traditional, traditionalLine},
                                                   {font.simplified, english}},
                                                  size, look),
                                     simplifiedLine + traditionalLine + english});
                }
            }
        }

        const TesseractTextRecognizer recognizer;
        std::map<QString, std::pair<qsizetype, qsizetype>> byScript, byLook; // wrong, total
        QStringList poorPictures;
        for (const Picture& picture : pictures) {
            const auto result = recognizer.recognize(picture.image);
            QCOMPARE(result.failure, Failure::none);
            const QString read = joined(result.characters);
            QString expected = picture.expected;
            expected.remove(QLatin1Char(' '));
            const qsizetype wrong = std::min(editDistance(read, expected), expected.size());
            for (auto* counts : {&byScript[picture.script], &byLook[picture.look]}) {
                counts->first += wrong;
                counts->second += expected.size();
            }
            if (wrong * 5 > expected.size())
                poorPictures.append(QStringLiteral("%1: %2 read as %3").arg(picture.look, expected, read));
        }
        QStringList report;
        QStringList poor;
        for (const auto& [name, counts] : byScript) {
            const double share = 1.0 - double(counts.first) / double(counts.second);
            report.append(QStringLiteral("%1 %2 %").arg(name).arg(share * 100, 0, 'f', 1));
            if (share < 0.95)
                poor.append(name);
        }
        for (const auto& [name, counts] : byLook) {
            const double share = 1.0 - double(counts.first) / double(counts.second);
            report.append(QStringLiteral("%1 %2 %").arg(name).arg(share * 100, 0, 'f', 1));
            if (share < 0.90)
                poor.append(name);
        }
        qInfo("characters read right: %s", qPrintable(report.join(QStringLiteral(", "))));
        QVERIFY2(poor.isEmpty(), qPrintable(report.join(QStringLiteral(", "))));
        QVERIFY2(poorPictures.isEmpty(), qPrintable(poorPictures.join(QStringLiteral("; "))));
    }

    // A clean line can be one in which the engine's layout analysis finds no text line; a line
    // cut tightly around its ink one in which the engine finds nothing at all. Both are read,
    // and the boxes of a tight crop's characters still span the caller's picture.
    void cleanLinesAndTightCropsAreRead()
    {
        const TesseractTextRecognizer recognizer;
        const QString sc = QStringLiteral("Noto Sans CJK SC");
        const QString tc = QStringLiteral("Noto Sans CJK TC");
        const QList<std::tuple<QString, QString, int>> clean{
            {sc, QStringLiteral("这张图片里的文字能被识别吗"), 32}, {sc, QStringLiteral("快速预览会显示图片中的文字"), 32},
            {tc, QStringLiteral("電池電量低於百分之二十"), 24},   {tc, QStringLiteral("快速預覽會顯示圖片中的文字"), 32}};
        for (const auto& [family, text, size] : clean) {
            const QString read = joined(recognizer.recognize(linesPicture({{family, text}}, size)).characters);
            QVERIFY2(editDistance(read, text) <= 1,
                     qPrintable(QStringLiteral("%1 px: %2 read as %3").arg(size).arg(text, read)));
        }
        const QList<std::pair<QString, int>> cropped{{QStringLiteral("剪貼簿歷史紀錄"), 32},
                                                     {QStringLiteral("繁體中文識別測試"), 32},
                                                     {QStringLiteral("繁體中文識別測試"), 96}};
        for (const auto& [text, size] : cropped) {
            const auto result = recognizer.recognize(linesPicture({{tc, text}}, size, Look::tightCrop));
            const QString read = joined(result.characters);
            QVERIFY2(editDistance(read, text) <= 1,
                     qPrintable(QStringLiteral("%1 px: %2 read as %3").arg(size).arg(text, read)));
            QVERIFY(result.characters.front().boundingBox.left() < 0.1);
            QVERIFY(result.characters.back().boundingBox.right() > 0.9);
            for (const RecognizedCharacter& character : result.characters)
                QVERIFY(QRectF(0, 0, 1, 1).adjusted(-1e-9, -1e-9, 1e-9, 1e-9).contains(character.boundingBox));
        }
    }

    // A picture of one short label, a button's caption or a word cut out of a panel: two or three
    // Chinese characters or an English word at the sizes of an interface, plain, in dark mode, in
    // a button's outline, slightly turned. They are read (the engine reads a couple of
    // characters with no line around them badly at the height that suits a page), and a Chinese
    // one in its own script, which its two or three characters must tell.
    void aShortLabelAloneIsReadInItsScript()
    {
        struct Label
        {
            QString text;
            bool traditional;
        };
        const QList<Label> labels{
            {QStringLiteral("首頁"), true},    {QStringLiteral("日曆"), true},    {QStringLiteral("天氣"), true},
            {QStringLiteral("錢包"), true},    {QStringLiteral("導航"), true},    {QStringLiteral("遊戲"), true},
            {QStringLiteral("截图"), false},   {QStringLiteral("首页"), false},   {QStringLiteral("收藏"), false},
            {QStringLiteral("日历"), false},   {QStringLiteral("天气"), false},   {QStringLiteral("浏览器"), false},
            {QStringLiteral("Import"), false}, {QStringLiteral("Rename"), false}, {QStringLiteral("Upload"), false},
        };
        const QList<int> sizes{13, 14, 16, 18};
        const TesseractTextRecognizer recognizer;
        qsizetype wrong = 0, total = 0, otherScript = 0, chinese = 0;
        QStringList silent, readings;
        int variant = 0;
        for (const Label& label : labels) {
            const bool english = label.text.front().unicode() < 0x80;
            for (int way = 0; way < 4; ++way, ++variant) {
                const RecognitionPictures::CjkFont& font =
                    RecognitionPictures::cjkFonts()[variant % RecognitionPictures::cjkFonts().size()];
                const QString& family = label.traditional ? font.traditional : font.simplified;
                const int size = sizes[(variant / 3) % sizes.size()];
                const bool dark = way % 2 == 1, framed = way >= 2;
                const double degrees = way == 3 ? 1.5 : 0;
                const QString read =
                    joined(recognizer.recognize(loneLabel(family, label.text, size, dark, framed, degrees)).characters);
                const QString name =
                    QStringLiteral("%1 %2 %3 px%4%5%6: %7")
                        .arg(label.text, font.name)
                        .arg(size)
                        .arg(dark ? " dark" : "", framed ? " framed" : "", degrees != 0 ? " turned" : "", read);
                readings.append(name);
                if (read.isEmpty())
                    silent.append(name);
                wrong += std::min(editDistance(read, label.text), label.text.size());
                total += label.text.size();
                if (!english) {
                    ++chinese;
                    QStringList characters;
                    for (const QChar c : label.text)
                        characters.append(QString(c));
                    const QString inOtherScript =
                        (label.traditional ? Platform::ChineseScript::toSimplified(characters)
                                           : Platform::ChineseScript::toTraditional(characters))
                            .join(QString());
                    otherScript +=
                        read != label.text && editDistance(read, inOtherScript) < editDistance(read, label.text);
                }
            }
        }
        const double share = 1.0 - double(wrong) / double(total);
        qInfo("short labels read right: %.1f %%, %lld of %lld Chinese ones in the other script", share * 100,
              static_cast<long long>(otherScript), static_cast<long long>(chinese));
        // Read at the page's height, four in five characters came back (three labels in faint
        // frames answered no text, others came back as letters or with the frame's sides); two in
        // faint frames are still beyond the engine.
        QVERIFY2(silent.size() <= 2, qPrintable(silent.join(QStringLiteral("; "))));
        QVERIFY2(share >= 0.85, qPrintable(readings.join(QStringLiteral("; "))));
        QVERIFY2(otherScript * 10 <= chinese, qPrintable(readings.join(QStringLiteral("; "))));
    }

    // A lone label the page reads right at the page's height, while the heights
    // a label is read at each take one of its characters for another (盘 as 伙, 头 as 浆, read
    // unlike at every other height): the page's clearly surer reading of that character stands.
    void aCharacterTheLabelHeightsGuessAtIsReadAsThePageReadsIt()
    {
        struct Case
        {
            QString family;
            QString text;
            int pixelSize;
            bool dark;
        };
        const QList<Case> cases{
            {QStringLiteral("AR PL UMing CN"), QStringLiteral("硬盘"), 12, true},
            {QStringLiteral("AR PL UMing CN"), QStringLiteral("摄像头"), 16, true},
        };
        const TesseractTextRecognizer recognizer;
        QStringList wrong;
        for (const Case& c : cases) {
            const QString read =
                joined(recognizer.recognize(loneLabel(c.family, c.text, c.pixelSize, c.dark, false, 0)).characters);
            if (read != c.text)
                wrong.append(QStringLiteral("%1 %2 px in %3%4: %5")
                                 .arg(c.text)
                                 .arg(c.pixelSize)
                                 .arg(c.family, c.dark ? QStringLiteral(" dark") : QString(),
                                      read.isEmpty() ? "no text" : read));
        }
        QVERIFY2(wrong.isEmpty(), qPrintable(wrong.join(QStringLiteral("; "))));
    }

    // A label photographed or cut from a photograph at a heading's size: the grain beside it is
    // specks of ink, which the engine reads, at one of the heights a label is read at, as a comma
    // or a full stop after the label, and trusts that reading most. The other heights read the
    // label alone; what it is drawn with (an ellipsis, a colon) every height reads.
    void aLabelOnAPhotographEndsWhereItsInkDoes()
    {
        const QList<std::pair<QString, QString>> labels{
            {QStringLiteral("Noto Sans CJK TC"), QStringLiteral("相簿")},
            {QStringLiteral("Noto Sans CJK TC"), QStringLiteral("書籤")},
            {QStringLiteral("Noto Sans CJK SC"), QStringLiteral("相册")},
            {QStringLiteral("Noto Serif CJK TC"), QStringLiteral("錄音")},
            {QStringLiteral("WenQuanYi Zen Hei"), QStringLiteral("日曆")},
            {QStringLiteral("Noto Sans CJK SC"), QStringLiteral("名称：")},
            {QStringLiteral("Noto Sans CJK SC"), QStringLiteral("打开…")},
        };
        const TesseractTextRecognizer recognizer;
        QStringList stray, readings;
        qsizetype wrong = 0, total = 0;
        quint32 seed = 11;
        for (const auto& [family, text] : labels)
            for (const int size : {40, 48})
                for (const bool speck : {false, true}) {
                    // A dark, half-clear button over a grainy photograph, its label white.
                    QFont font(family);
                    font.setPixelSize(size);
                    const QRect button = QRect(QPoint(0, 0), QFontMetrics(font).size(0, text) + QSize(size, size / 2))
                                             .translated(size, size / 2);
                    QImage picture(button.size() + QSize(2 * size, size), QImage::Format_RGB32);
                    QRandomGenerator random(++seed);
                    RecognitionPictures::paintPhotoShading(picture, random,
                                                           {40, 96, 16, double(picture.height()), 0.2, 0.6, 160});
                    {
                        QPainter painter(&picture);
                        painter.setRenderHint(QPainter::Antialiasing);
                        painter.setPen(Qt::NoPen);
                        painter.setBrush(QColor(0x10, 0x10, 0x18, 140));
                        painter.drawRoundedRect(button, size / 4, size / 4);
                        painter.setFont(font);
                        painter.setPen(Qt::white);
                        painter.drawText(button, Qt::AlignCenter, text);
                        if (speck) {
                            // Dust on the lens: a light speck half a character after the label.
                            const QRect ink = QFontMetrics(font).boundingRect(button, Qt::AlignCenter, text);
                            painter.setPen(Qt::NoPen);
                            painter.setBrush(QColor(0xd0, 0xd0, 0xd0));
                            painter.drawEllipse(QPointF(ink.right() + size * 0.45, ink.bottom() - size * 0.3),
                                                size * 0.06, size * 0.07);
                        }
                    }
                    for (int y = 0; y < picture.height(); ++y) {
                        auto* row = reinterpret_cast<QRgb*>(picture.scanLine(y));
                        for (int x = 0; x < picture.width(); ++x) {
                            const int grain = int(random.bounded(53)) - 26;
                            const auto grained = [&](int channel) { return std::clamp(channel + grain, 0, 255); };
                            row[x] = qRgb(grained(qRed(row[x])), grained(qGreen(row[x])), grained(qBlue(row[x])));
                        }
                    }
                    const QString read = joined(recognizer.recognize(picture).characters);
                    const QString name =
                        QStringLiteral("%1 %2 px%3: %4").arg(text).arg(size).arg(speck ? " speck" : "", read);
                    readings.append(name);
                    if (!read.isEmpty() && read.back().isPunct() && !text.back().isPunct())
                        stray.append(name);
                    wrong += std::min(editDistance(read, text), text.size());
                    total += text.size();
                }
        const double share = 1.0 - double(wrong) / double(total);
        qInfo("labels on photographs read right: %.1f %%", share * 100);
        // Eight of the fourteen specks came back as a full stop; one, where the engine trusts the
        // page's own reading of the label, still does. Other characters misread here are the
        // grain's doing, not the specks'.
        QVERIFY2(stray.size() <= 1, qPrintable(stray.join(QStringLiteral("; "))));
        QVERIFY2(share >= 0.7, qPrintable(readings.join(QStringLiteral("; "))));
    }

    // A button cut out of a screenshot: its label stands out from the button's own colour, not
    // from the page around it, which the picture's normalising judges by. Filled buttons came
    // back as no text (white on blue turned grey on grey beside a dark page), as other
    // characters, or with the button's edges read as | beside the label; so did outlines whose
    // rounded corners fade.
    void aLabelOnAButtonOfItsOwnColourIsRead()
    {
        const QColor darkPage(0x1e, 0x1f, 0x22), blue(0x3b, 0x6e, 0xf0), deepBlue(0x3b, 0x5b, 0xdb),
            brightBlue(0x1a, 0x73, 0xe8), green(0x2f, 0x9e, 0x5b), lightPage(0xf3, 0xf4, 0xf6);
        const QColor none = Qt::transparent;
        const QList<Button> buttons{
            // Filled, the page around them another colour.
            {QStringLiteral("Noto Sans CJK SC"), QStringLiteral("保存"), 14, darkPage, blue},
            {QStringLiteral("AR PL UMing CN"), QStringLiteral("设置"), 14, darkPage, deepBlue, Qt::white, none, none, 1,
             0.1},
            {QStringLiteral("AR PL UMing CN"), QStringLiteral("文件"), 14, darkPage, deepBlue, Qt::white, none, none, 1,
             0.2},
            {QStringLiteral("AR PL UMing TW"), QStringLiteral("檔案"), 16, darkPage, deepBlue, Qt::white, none, none, 1,
             0.1},
            {QStringLiteral("AR PL UKai CN"), QStringLiteral("Next"), 14, Qt::white, brightBlue, Qt::white, none, none,
             2, 0.3},
            {QStringLiteral("AR PL UKai CN"), QStringLiteral("Next"), 14, Qt::white, blue, Qt::white, none, none, 2},
            {QStringLiteral("Noto Sans CJK SC"), QStringLiteral("Wi-Fi"), 14, Qt::white, brightBlue, Qt::white, none,
             none, 1, 0.2},
            {QStringLiteral("AR PL UKai CN"), QStringLiteral("记事本"), 48, darkPage, blue},
            {QStringLiteral("Noto Serif CJK TC"), QStringLiteral("上傳"), 24, darkPage, blue},
            {QStringLiteral("AR PL UMing TW"), QStringLiteral("離開"), 24, Qt::white, blue, Qt::white, none, none, 2},
            {QStringLiteral("WenQuanYi Zen Hei"), QStringLiteral("連線"), 16, darkPage, green},
            {QStringLiteral("AR PL UMing TW"), QStringLiteral("確定"), 16, Qt::white, QColor(0x1f, 0x29, 0x37)},
            {QStringLiteral("Noto Serif CJK SC"), QStringLiteral("Send"), 14, Qt::white, blue, Qt::white, none, none,
             2},
            {QStringLiteral("AR PL UKai TW"), QStringLiteral("Apply"), 13, lightPage, QColor(0x16, 0xa3, 0x4a),
             Qt::white, none, none, 2},
            // Outlined, or raised with a lit top edge.
            {QStringLiteral("AR PL UMing TW"), QStringLiteral("取消"), 20, Qt::white, Qt::white, Qt::black,
             QColor(0xb0, 0xb0, 0xb0), none, 2},
            {QStringLiteral("AR PL UKai CN"), QStringLiteral("关于"), 40, darkPage, darkPage, QColor(0xe6, 0xe6, 0xe6),
             QColor(0x50, 0x52, 0x58)},
            {QStringLiteral("Noto Serif CJK TC"), QStringLiteral("分享"), 24, darkPage, QColor(0x2a, 0x2c, 0x31),
             QColor(0xe6, 0xe6, 0xe6), QColor(0x3a, 0x3c, 0x42), QColor(0x9a, 0x9c, 0xa2)},
        };
        const TesseractTextRecognizer recognizer;
        QStringList wrong;
        for (const Button& button : buttons) {
            const QString read = joined(recognizer.recognize(buttonPicture(button)).characters);
            if (read != button.text)
                wrong.append(QStringLiteral("%1 %2 px in %3 on %4: %5")
                                 .arg(button.text)
                                 .arg(button.pixelSize * button.scale)
                                 .arg(button.family, button.fill.name(), read));
        }
        QVERIFY2(wrong.isEmpty(), qPrintable(wrong.join(QStringLiteral("; "))));
    }

    // Around a see-through button on a gradient, the page's normalising leaves the gradient in
    // grey patches reaching the picture's edges: the label is read from its own ink, not the
    // button's edges taken for brackets and the patches for strokes.
    void aLabelOnASeeThroughButtonOverAGradientIsRead()
    {
        const QColor blue(0x25, 0x63, 0xeb), orange(0xf9, 0x73, 0x16), violet(0x6d, 0x28, 0xd9),
            pink(0xdb, 0x27, 0x77), teal(0x0f, 0x76, 0x6e), navy(0x1e, 0x3a, 0x8a);
        struct Case
        {
            QString family;
            QString text;
            int pixelSize;
            QColor from, to;
            bool corner;
            double around;
        };
        const QList<Case> cases{
            {QStringLiteral("Noto Serif CJK SC"), QStringLiteral("收藏"), 18, blue, orange, true, 0.3},
            {QStringLiteral("Noto Serif CJK SC"), QStringLiteral("截屏"), 18, blue, orange, true, 0.3},
            {QStringLiteral("Noto Sans CJK SC"), QStringLiteral("置顶"), 16, violet, pink, false, 0.4},
            {QStringLiteral("AR PL UMing TW"), QStringLiteral("剪下"), 20, teal, navy, true, 0.3},
            {QStringLiteral("WenQuanYi Zen Hei"), QStringLiteral("导入"), 18, blue, orange, false, 0.3},
            {QStringLiteral("Noto Sans CJK TC"), QStringLiteral("分組"), 24, violet, pink, true, 0.5},
            // Patches of a lighter grey, that link the darker ones around the button to its edges.
            {QStringLiteral("WenQuanYi Zen Hei"), QStringLiteral("恢复"), 14, violet, pink, true, 0.4},
            {QStringLiteral("WenQuanYi Zen Hei"), QStringLiteral("分组"), 14, violet, pink, true, 0.4},
            {QStringLiteral("Noto Serif CJK SC"), QStringLiteral("全选"), 16, violet, pink, false, 0.4},
        };
        const TesseractTextRecognizer recognizer;
        QStringList wrong;
        for (const Case& c : cases) {
            const QString read = joined(
                recognizer.recognize(translucentButton(c.family, c.text, c.pixelSize, c.from, c.to, c.corner, c.around))
                    .characters);
            if (read != c.text)
                wrong.append(QStringLiteral("%1 %2 px in %3: %4").arg(c.text).arg(c.pixelSize).arg(c.family, read));
        }
        QVERIFY2(wrong.isEmpty(), qPrintable(wrong.join(QStringLiteral("; "))));
    }

    // A screenshot's background changes from place to place: a button of another colour than
    // its page, less tall than the area its background is judged from, keeps its own.
    void aButtonOnALightOrDarkPageIsRead()
    {
        const TesseractTextRecognizer recognizer;
        for (const QColor& page : {QColor(Qt::white), QColor(0x1e, 0x1f, 0x22)}) {
            QImage image(QSize(800, 300), QImage::Format_RGB32);
            image.fill(page);
            {
                QPainter painter(&image);
                QFont font(QStringLiteral("Noto Sans CJK SC"));
                font.setPixelSize(20);
                painter.setFont(font);
                painter.setPen(page == Qt::white ? QColor(Qt::black) : QColor(0xe6, 0xe6, 0xe6));
                painter.drawText(QPointF(60, 80), QStringLiteral("请在周五之前把文件导出"));
                painter.fillRect(QRect(60, 150, 220, 44), QColor(0x25, 0x63, 0xeb));
                painter.setPen(Qt::white);
                painter.drawText(QRect(60, 150, 220, 44), Qt::AlignCenter, QStringLiteral("复制文字 Copy"));
            }
            const auto result = recognizer.recognize(image);
            QCOMPARE(lineTexts(result),
                     (QStringList{QStringLiteral("请在周五之前把文件导出"), QStringLiteral("复制文字Copy")}));
        }
    }

    // A chat on a coloured page, white text in bubbles a shade darker and lighter than the page,
    // small print padded by about half a line: each bubble's text is read whole and as written,
    // not through the grey patch its bubble became when the page's colour was taken for its
    // background.
    void whiteTextInBubblesOfOtherShadesIsRead()
    {
        const QStringList messages{QStringLiteral("晚上一起吃火锅吧"), QStringLiteral("好的，七点在楼下见"),
                                   QStringLiteral("记得带上充电器"), QStringLiteral("Sure, see you at seven")};
        for (const QColor& page : {QColor(0x0e, 0x74, 0x90), QColor(0xb4, 0x53, 0x09), QColor(0x9d, 0x17, 0x4d)}) {
            QImage image(QSize(420, 230), QImage::Format_RGB32);
            image.fill(page);
            {
                QPainter painter(&image);
                painter.setRenderHint(QPainter::Antialiasing);
                QFont font(QStringLiteral("WenQuanYi Zen Hei"));
                font.setPixelSize(13);
                painter.setFont(font);
                const QFontMetrics metrics(font);
                for (int i = 0; i < messages.size(); ++i) {
                    const bool mine = i % 2 == 1;
                    const int width = metrics.horizontalAdvance(messages[i]) + 16;
                    const QRect bubble(mine ? image.width() - 14 - width : 14, 14 + i * 52, width,
                                       metrics.height() + 16);
                    painter.setPen(Qt::NoPen);
                    painter.setBrush(mine ? page.darker(190) : page.lighter(125));
                    painter.drawRoundedRect(bubble, 7, 7);
                    painter.setPen(Qt::white);
                    painter.drawText(bubble, Qt::AlignCenter, messages[i]);
                }
            }
            const auto result = TesseractTextRecognizer().recognize(image);
            QStringList expected;
            for (const QString& message : messages)
                expected.append(QString(message).remove(QLatin1Char(' ')));
            QCOMPARE(lineTexts(result), expected);
        }
    }

    // A caption on a photograph: the photograph's grain, as strong as the difference between the
    // text's strokes and the blobs of colour around them, is no ink, and the strokes are not
    // broken into its specks. Light and dark photographs, every script, small print to headings.
    void textOnANoisyPhotographIsRead()
    {
        const QString sc = QStringLiteral("Noto Sans CJK SC");
        const QString tc = QStringLiteral("Noto Sans CJK TC");
        const QString kai = QStringLiteral("AR PL UKai CN");
        const QList<std::tuple<QList<std::pair<QString, QString>>, int>> pictures{
            {{{sc, QStringLiteral("海边的日落照片已保存")}, {sc, QStringLiteral("Sunset at the pier")}}, 16},
            {{{tc, QStringLiteral("相簿裡共有三百張照片")}, {tc, QStringLiteral("分享給家人和朋友")}}, 18},
            {{{kai, QStringLiteral("周末去山上看红叶")}, {sc, QStringLiteral("Autumn leaves on the hill")}}, 22},
            {{{tc, QStringLiteral("點一下即可編輯標題")}}, 28},
            {{{sc, QStringLiteral("Tap to edit the caption")}, {sc, QStringLiteral("长按可以复制文字")}}, 20},
            {{{tc, QStringLiteral("夜景模式拍攝")}, {sc, QStringLiteral("Night mode photo")}}, 36},
        };
        const TesseractTextRecognizer recognizer;
        qsizetype wrong = 0;
        qsizetype total = 0;
        QStringList readings;
        quint32 seed = 7;
        for (const auto& [lines, size] : pictures) {
            for (const bool light : {true, false}) {
                QString expected;
                for (const auto& line : lines)
                    expected += line.second;
                expected.remove(QLatin1Char(' '));
                const auto result = recognizer.recognize(onPhotograph(lines, size, light, ++seed));
                QCOMPARE(result.failure, Failure::none);
                const QString read = joined(result.characters);
                wrong += std::min(editDistance(read, expected), expected.size());
                total += expected.size();
                readings.append(QStringLiteral("%1 px %2: %3").arg(size).arg(light ? "light" : "dark", read));
            }
        }
        const double share = 1.0 - double(wrong) / double(total);
        qInfo("characters read right on photographs: %.1f %%", share * 100);
        QVERIFY2(share >= 0.95, qPrintable(readings.join(QStringLiteral("; "))));
    }

    // A chat over a photograph: the grain left around the bubbles, where the photograph's shading
    // is as strong as its noise, is no part of the lines above or below it. Every message comes
    // back as a line of its own and nearly as written, in a large Ming face and in small print,
    // on dark and light photographs.
    void aChatOnAGrainyPhotographKeepsEveryLine()
    {
        const QList<std::tuple<QString, QStringList, int>> chats{
            {QStringLiteral("AR PL UMing CN"),
             {QStringLiteral("明天下午要不要去公园散步？"), QStringLiteral("好啊，三点在地铁站见"),
              QStringLiteral("记得带一把雨伞"), QStringLiteral("天气预报说傍晚有雨")},
             26},
            {QStringLiteral("Noto Sans CJK SC"),
             {QStringLiteral("文件我已经上传到共享盘了"), QStringLiteral("Thanks, I will check it tonight"),
              QStringLiteral("有问题随时找我"), QStringLiteral("See you on Monday")},
             15},
        };
        const TesseractTextRecognizer recognizer;
        quint32 seed = 31;
        for (const auto& [family, messages, size] : chats) {
            for (const bool light : {false, true}) {
                const auto result = recognizer.recognize(chatOnPhotograph(family, messages, size, light, ++seed));
                QCOMPARE(result.failure, Failure::none);
                const QStringList lines = lineTexts(result);
                const QString context = QStringLiteral("%1 %2 px %3: %4")
                                            .arg(family)
                                            .arg(size)
                                            .arg(light ? "light" : "dark", lines.join(QStringLiteral(" | ")));
                qInfo("%s", qPrintable(context));
                qsizetype wrong = 0;
                qsizetype total = 0;
                for (const QString& message : messages) {
                    const QString expected = QString(message).remove(QLatin1Char(' '));
                    qsizetype best = expected.size();
                    for (const QString& line : lines)
                        best = std::min(best, editDistance(line, expected));
                    // A line missing, or read mostly wrong, is as far from the message as its length.
                    QVERIFY2(3 * best <= expected.size(), qPrintable(message + QStringLiteral(" in ") + context));
                    wrong += best;
                    total += expected.size();
                }
                QVERIFY2(10 * wrong <= total, qPrintable(context));
            }
        }
    }

    // A screenshot taken of a screen at a slight angle, or a photographed page: across a wide line
    // a tilt of a degree or two is a line's height. The lines are read whole and in order either
    // way round, and their characters' boxes stand where the characters are in the tilted picture.
    // Small print on a photograph's grain, in a face the engine reads badly at that size: it
    // hardly trusts any one reading, but its readings at the label's heights agree on each
    // character. The picture answers that reading, not "no text".
    void aSmallLabelOnAPhotographAnswersWhatItsHeightsAgreeOn()
    {
        const TesseractTextRecognizer recognizer;
        for (const QString& text : {QStringLiteral("截屏"), QStringLiteral("日曆")}) {
            const QString read =
                joined(recognizer.recognize(onPhotograph({{QStringLiteral("AR PL UMing TW"), text}}, 12, false, 11))
                           .characters);
            const bool shares = std::any_of(text.begin(), text.end(), [&](QChar c) { return read.contains(c); });
            QVERIFY2(!read.isEmpty() && shares, qPrintable(text + QStringLiteral(" read as: ") + read));
        }
    }

    // Small labels the engine reads a character of wrongly at the height whose reading it trusts
    // most, on a photograph's grain or scaled down to 75 %: that character is a guess, read so by
    // that reading alone, while the label's other readings (both Chinese models, every height a
    // label is read at) say another in its place, the right one, with more weight together. A
    // character the reading trusted most says alone, where the others that say another are each
    // trusted less (链 read as 途 at three heights), stays.
    void aCharacterOnlyOneReadingOfALabelSaysGivesWayToWhatTheOthersAgreeOn()
    {
        enum class Look
        {
            photograph,
            downscaled,
        };
        struct Case
        {
            QString family;
            QString text;
            int pixelSize;
            Look look;
            quint32 seed; // of the photograph; light where even
        };
        const QList<Case> cases{
            {QStringLiteral("Noto Sans CJK TC"), QStringLiteral("鈴聲"), 14, Look::photograph, 60},
            {QStringLiteral("AR PL UMing TW"), QStringLiteral("隱藏"), 14, Look::photograph, 268},
            {QStringLiteral("WenQuanYi Zen Hei"), QStringLiteral("隱藏"), 14, Look::photograph, 460},
            {QStringLiteral("AR PL UKai CN"), QStringLiteral("电池"), 12, Look::photograph, 298},
            {QStringLiteral("AR PL UMing TW"), QStringLiteral("暫停"), 14, Look::downscaled, 1},
            {QStringLiteral("AR PL UKai CN"), QStringLiteral("链接"), 16, Look::downscaled, 1},
        };
        const TesseractTextRecognizer recognizer;
        QStringList wrong;
        for (const Case& c : cases) {
            const bool light = c.seed % 2 == 0;
            QImage picture;
            if (c.look == Look::photograph) {
                picture = onPhotograph({{c.family, c.text}}, c.pixelSize, light, c.seed);
            } else {
                const QImage drawn = loneLabel(c.family, c.text, c.pixelSize, !light, false, 0);
                picture = drawn.scaled(drawn.width() * 3 / 4, drawn.height() * 3 / 4, Qt::IgnoreAspectRatio,
                                       Qt::SmoothTransformation);
            }
            const QString read = joined(recognizer.recognize(picture).characters);
            if (read != c.text)
                wrong.append(QStringLiteral("%1 %2 px in %3%4: %5")
                                 .arg(c.text)
                                 .arg(c.pixelSize)
                                 .arg(c.family,
                                      c.look == Look::photograph ? QStringLiteral(" on a photograph")
                                                                 : QStringLiteral(" downscaled"),
                                      read.isEmpty() ? QStringLiteral("no text") : read));
        }
        QVERIFY2(wrong.isEmpty(), qPrintable(wrong.join(QStringLiteral("; "))));
    }

    // Small labels scaled down to 75 % whose reading the engine trusts most splits a character it
    // hardly sees into two (阀 read as 闪同), while most of the label's readings, and its ink, as
    // wide as two squares, count two characters: the label answers as many characters as it
    // holds, the character the engine reads right among them, rather than one too many. The
    // script is left aside (its choice is weighed elsewhere): each character counts in either form.
    void aLabelAnswersAsManyCharactersAsItsInkAndMostOfItsReadingsCount()
    {
        struct Case
        {
            QString family;
            QString text;
            int pixelSize;
        };
        const QList<Case> cases{
            {QStringLiteral("AR PL UMing CN"), QStringLiteral("阀门"), 12},
            {QStringLiteral("AR PL UKai CN"), QStringLiteral("相册"), 16},
        };
        const TesseractTextRecognizer recognizer;
        QStringList wrong;
        for (const Case& c : cases) {
            const QImage drawn = loneLabel(c.family, c.text, c.pixelSize, false, false, 0);
            const QImage picture = drawn.scaled(drawn.width() * 3 / 4, drawn.height() * 3 / 4, Qt::IgnoreAspectRatio,
                                                Qt::SmoothTransformation);
            const auto result = recognizer.recognize(picture);
            QCOMPARE(result.failure, Failure::none);
            QStringList read;
            for (const RecognizedCharacter& character : result.characters)
                read.append(character.text);
            const QStringList simplified = Platform::ChineseScript::toSimplified(read);
            qsizetype right = 0;
            for (qsizetype i = 0; i < std::min(simplified.size(), c.text.size()); ++i)
                right += simplified[i] == QString(c.text[i]);
            if (read.size() != c.text.size() || right == 0)
                wrong.append(QStringLiteral("%1 %2 px in %3: %4")
                                 .arg(c.text)
                                 .arg(c.pixelSize)
                                 .arg(c.family, read.isEmpty() ? QStringLiteral("no text") : read.join(QString())));
        }
        QVERIFY2(wrong.isEmpty(), qPrintable(wrong.join(QStringLiteral("; "))));
    }

    // Small labels in a brush or Ming face, 12 px drawn without antialiasing or scaled down to
    // 75 %, that the engine reads as other characters at every height, with both Chinese models,
    // and trusts below 40 (15 to 37), nor do its heights agree: still plainly two characters,
    // which nearly every reading counts and the ink's width bears out. Such a label answers two
    // characters, not "no text".
    void aLabelWhoseReadingsCountItsInkAlikeIsAnswered()
    {
        struct Case
        {
            QString family;
            QString text;
            bool jagged; // else scaled down to 75 %
        };
        const QList<Case> cases{
            {QStringLiteral("AR PL UKai CN"), QStringLiteral("鼠标"), false},
            {QStringLiteral("AR PL UKai CN"), QStringLiteral("亮度"), false},
            {QStringLiteral("AR PL UKai CN"), QStringLiteral("键盘"), true},
            {QStringLiteral("AR PL UKai TW"), QStringLiteral("鍵盤"), true},
            {QStringLiteral("AR PL UMing TW"), QStringLiteral("隱私"), false},
        };
        constexpr int kPixelSize = 12;
        const TesseractTextRecognizer recognizer;
        QStringList wrong;
        for (const Case& c : cases) {
            QFont font(c.family);
            font.setPixelSize(kPixelSize);
            if (c.jagged)
                font.setStyleStrategy(QFont::NoAntialias);
            const QFontMetrics metrics(font);
            QImage picture(metrics.horizontalAdvance(c.text) + 4 * kPixelSize, metrics.height() + 2 * kPixelSize,
                           QImage::Format_RGB32);
            picture.fill(Qt::white);
            {
                QPainter painter(&picture);
                painter.setFont(font);
                painter.setPen(Qt::black);
                painter.drawText(picture.rect(), Qt::AlignCenter, c.text);
            }
            if (!c.jagged)
                picture = picture.scaled(picture.width() * 3 / 4, picture.height() * 3 / 4, Qt::IgnoreAspectRatio,
                                         Qt::SmoothTransformation);
            const auto result = recognizer.recognize(picture);
            QCOMPARE(result.failure, Failure::none);
            const bool twoHan =
                result.characters.size() == 2 &&
                std::all_of(result.characters.begin(), result.characters.end(), [](const RecognizedCharacter& ch) {
                    return ch.text.size() == 1 && ch.text.front().script() == QChar::Script_Han;
                });
            if (!twoHan)
                wrong.append(
                    QStringLiteral("%1 in %2%3: %4")
                        .arg(c.text, c.family,
                             c.jagged ? QStringLiteral(" without antialiasing") : QStringLiteral(" scaled down"),
                             result.characters.isEmpty() ? QStringLiteral("no text") : joined(result.characters)));
        }
        QVERIFY2(wrong.isEmpty(), qPrintable(wrong.join(QStringLiteral("; "))));
    }

    // Labels of 8 to 9 px drawn without antialiasing or scaled down by their sender reach the
    // engine blurred: their strokes are grey a third of their height wide, dark only at the core.
    void smallBlurredLabelsAnswerText()
    {
        enum class Background
        {
            plain,
            dark,
            gradient
        };
        struct Case
        {
            QString family;
            QString text;
            int pixelSize;
            bool jagged;
            bool scaledDown;
            Background background;
            QSize drawn; // before scaling down
        };
        const QList<Case> cases{
            {QStringLiteral("AR PL UMing CN"), QStringLiteral("删除"), 12, false, true, Background::plain, {43, 23}},
            {QStringLiteral("AR PL UKai CN"), QStringLiteral("帮助"), 11, true, true, Background::dark, {47, 25}},
            {QStringLiteral("AR PL UKai TW"), QStringLiteral("檔案"), 11, true, false, Background::dark, {43, 24}},
            {QStringLiteral("AR PL UKai TW"), QStringLiteral("視窗"), 11, false, true, Background::plain, {40, 22}},
            {QStringLiteral("AR PL UKai TW"), QStringLiteral("圖片"), 12, false, true, Background::plain, {45, 26}},
            {QStringLiteral("AR PL UKai TW"), QStringLiteral("歷史"), 11, true, true, Background::gradient, {44, 23}},
        };
        const TesseractTextRecognizer recognizer;
        QStringList silent;
        int exact = 0;
        for (const Case& c : cases) {
            QFont font(c.family);
            font.setPixelSize(c.pixelSize);
            font.setStyleStrategy(c.jagged ? QFont::NoAntialias : QFont::PreferAntialias);
            QImage picture(c.drawn, QImage::Format_RGB32);
            QColor ink(30, 30, 30);
            {
                QPainter painter(&picture);
                if (c.background == Background::plain) {
                    picture.fill(QColor(250, 250, 250));
                } else if (c.background == Background::dark) {
                    picture.fill(QColor(45, 48, 52));
                    ink = QColor(230, 230, 230);
                } else {
                    QLinearGradient gradient(0, 0, c.drawn.width(), c.drawn.height());
                    gradient.setColorAt(0, QColor(200, 225, 250));
                    gradient.setColorAt(1, QColor(120, 160, 210));
                    painter.fillRect(picture.rect(), gradient);
                    ink = QColor(20, 20, 40);
                }
                painter.setRenderHint(QPainter::Antialiasing, !c.jagged);
                painter.setRenderHint(QPainter::TextAntialiasing, !c.jagged);
                painter.setFont(font);
                painter.setPen(ink);
                painter.drawText(picture.rect(), Qt::AlignCenter, c.text);
            }
            if (c.scaledDown)
                picture =
                    picture.scaled(int(std::lround(picture.width() * 0.75)), int(std::lround(picture.height() * 0.75)),
                                   Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
            const auto result = recognizer.recognize(picture);
            QCOMPARE(result.failure, Failure::none);
            const bool han =
                !result.characters.isEmpty() &&
                std::all_of(result.characters.begin(), result.characters.end(), [](const RecognizedCharacter& ch) {
                    return ch.text.size() == 1 && ch.text.front().script() == QChar::Script_Han;
                });
            if (!han)
                silent.append(
                    QStringLiteral("%1 in %2 at %3 px: %4")
                        .arg(c.text, c.family)
                        .arg(c.pixelSize)
                        .arg(result.characters.isEmpty() ? QStringLiteral("no text") : joined(result.characters)));
            exact += joined(result.characters) == c.text;
        }
        QVERIFY2(silent.isEmpty(), qPrintable(silent.join(QStringLiteral("; "))));
        // Most are read right, not merely answered.
        QVERIFY2(exact * 2 >= int(cases.size()), qPrintable(QString::number(exact)));
    }

    // Shapes as small as those labels, scaled down the same way, stay what they are: blurred
    // dots, a shaded ball, a bar, an icon's square and a star stay thick at their dark cores too.
    void smallBlurredShapesHaveNoText()
    {
        const TesseractTextRecognizer recognizer;
        QStringList answered;
        for (int shape = 0; shape < 5; ++shape) {
            QImage picture(46, 24, QImage::Format_RGB32);
            picture.fill(QColor(250, 250, 250));
            {
                QPainter painter(&picture);
                painter.setRenderHint(QPainter::Antialiasing);
                painter.setPen(Qt::NoPen);
                painter.setBrush(QColor(30, 30, 30));
                switch (shape) {
                case 0: // two dots
                    painter.drawEllipse(QRectF(10, 6, 11, 11));
                    painter.drawEllipse(QRectF(25, 6, 11, 11));
                    break;
                case 1: // a shaded ball
                {
                    QRadialGradient shade(QPointF(20, 9), 12);
                    shade.setColorAt(0, QColor(200, 200, 200));
                    shade.setColorAt(1, QColor(20, 20, 20));
                    painter.setBrush(shade);
                    painter.drawEllipse(QRectF(14, 3, 18, 18));
                    break;
                }
                case 2: // a bar
                    painter.drawRoundedRect(QRectF(8, 8, 30, 8), 3, 3);
                    break;
                case 3: // an icon's rounded square
                    painter.drawRoundedRect(QRectF(16, 4, 15, 15), 4, 4);
                    break;
                default: // a star
                    painter.drawPolygon(QPolygonF{QPointF(23, 4), QPointF(26, 11), QPointF(33, 11), QPointF(27, 15),
                                                  QPointF(30, 21), QPointF(23, 17), QPointF(16, 21), QPointF(19, 15),
                                                  QPointF(13, 11), QPointF(20, 11)});
                    break;
                }
            }
            picture = picture.scaled(picture.width() * 3 / 4, picture.height() * 3 / 4, Qt::IgnoreAspectRatio,
                                     Qt::SmoothTransformation);
            const auto result = recognizer.recognize(picture);
            QCOMPARE(result.failure, Failure::none);
            if (!result.characters.isEmpty())
                answered.append(QStringLiteral("shape %1: %2").arg(shape).arg(joined(result.characters)));
        }
        QVERIFY2(answered.isEmpty(), qPrintable(answered.join(QStringLiteral("; "))));
    }

    void slightlyTiltedLinesAreRead()
    {
        const QString sc = QStringLiteral("Noto Sans CJK SC");
        const QString tc = QStringLiteral("Noto Sans CJK TC");
        const QList<std::pair<QString, QString>> lines{
            {sc, QStringLiteral("自动备份每天凌晨两点开始，备份文件保存在外接硬盘上，旧的备份保留三十天")},
            {sc, QStringLiteral("Backups start at two in the morning and go to the external disk for thirty days")},
            {tc, QStringLiteral("備份完成後會傳送通知，失敗時請檢查硬碟是否已連接，或稍後再試一次")},
            {sc, QStringLiteral("上次备份：昨天 02:14，共 3,812 个文件，用时 6 分钟，下次备份在今晚")},
        };
        QString expected;
        for (const auto& line : lines)
            expected += line.second;
        expected.remove(QLatin1Char(' '));
        const QImage level = linesPicture(lines, 15);
        const TesseractTextRecognizer recognizer;
        for (const double degrees : {1.5, -2.0}) {
            QImage tilted(level.width(), level.height() + level.width() / 20, QImage::Format_RGB32);
            tilted.fill(Qt::white);
            {
                QPainter painter(&tilted);
                painter.setRenderHint(QPainter::SmoothPixmapTransform);
                painter.translate(tilted.width() / 2.0, tilted.height() / 2.0);
                painter.rotate(degrees);
                painter.translate(-level.width() / 2.0, -level.height() / 2.0);
                painter.drawImage(0, 0, level);
            }
            const auto result = recognizer.recognize(tilted);
            QCOMPARE(result.failure, Failure::none);
            const QString read = joined(result.characters);
            const double share = 1.0 - double(std::min(editDistance(read, expected), expected.size()))
                                           / double(expected.size());
            qInfo("tilted %.1f degrees: %.1f %% read right", degrees, share * 100);
            QVERIFY2(share >= 0.95, qPrintable(QStringLiteral("%1 degrees: %2").arg(degrees).arg(read)));
            QVERIFY(!result.characters.isEmpty());
            for (const RecognizedCharacter& character : result.characters)
                QVERIFY(QRectF(0, 0, 1, 1).adjusted(-1e-9, -1e-9, 1e-9, 1e-9).contains(character.boundingBox));
            // The first line's first character stands at its left end, which is higher up (from
            // the bottom) than its right end where the picture is turned clockwise.
            const QRectF first = result.characters.front().boundingBox;
            QVERIFY2(first.left() < 0.15, qPrintable(QString::number(first.left())));
            const qsizetype firstLineLength = lines.front().second.size();
            const QRectF lastOfLine = result.characters[std::min(firstLineLength, result.characters.size()) - 1].boundingBox;
            QCOMPARE(first.center().y() > lastOfLine.center().y(), degrees > 0);
        }
    }

    // Patterns, noise and shading hold no text: nothing the engine makes of them is.
    void texturesHaveNoText()
    {
        const TesseractTextRecognizer recognizer;
        QStringList answered;
        for (const auto& [name, image] : RecognitionPictures::textures()) {
            const auto result = recognizer.recognize(image);
            QCOMPARE(result.failure, Failure::none);
            if (!result.characters.isEmpty() || !result.words.isEmpty() || !result.lines.isEmpty())
                answered.append(QStringLiteral("%1: %2").arg(name, joined(result.characters)));
        }
        QVERIFY2(answered.isEmpty(), qPrintable(answered.join(QStringLiteral("; "))));
    }

    // Lattices and cross-hatchings of thin lines, upright or diagonal, black or grey: read as a
    // page they make lines of 0s, scaled to a reading height a grey blot the engine reads a
    // character or two in. They hold no text.
    void latticesAndHatchingsHaveNoText()
    {
        const TesseractTextRecognizer recognizer;
        QStringList answered;
        for (const int pitch : {7, 8, 10, 20}) {
            for (const int width : {1, 2}) {
                for (const int ink : {0, 110}) {
                    for (const bool diagonal : {false, true}) {
                        QImage image(320, 200, QImage::Format_Grayscale8);
                        for (int y = 0; y < image.height(); ++y) {
                            uchar* row = image.scanLine(y);
                            for (int x = 0; x < image.width(); ++x) {
                                const bool line = diagonal ? (x + y) % pitch < width || (x - y + 1000 * pitch) % pitch < width
                                                           : x % pitch < width || y % pitch < width;
                                row[x] = uchar(line ? ink : 255);
                            }
                        }
                        const auto result = recognizer.recognize(image);
                        QCOMPARE(result.failure, Failure::none);
                        if (!result.characters.isEmpty())
                            answered.append(QStringLiteral("%1 pitch %2, %3 px, grey %4: %5")
                                                .arg(diagonal ? QStringLiteral("hatching") : QStringLiteral("lattice"))
                                                .arg(pitch)
                                                .arg(width)
                                                .arg(ink)
                                                .arg(joined(result.characters).left(20)));
                    }
                }
            }
        }
        QVERIFY2(answered.isEmpty(), qPrintable(answered.join(QStringLiteral("; "))));
    }

    void blankImageHasNoWords()
    {
        QImage image(400, 200, QImage::Format_RGB32);
        image.fill(Qt::white);
        const auto result = TesseractTextRecognizer().recognize(image);
        QCOMPARE(result.failure, Failure::none);
        QVERIFY(result.words.isEmpty());
        QVERIFY(result.lines.isEmpty());
    }

    void blackTextOnATransparentBackgroundIsRead()
    {
        const auto result = TesseractTextRecognizer().recognize(
            rendered(QSize(600, 200), QStringLiteral("Clear 42"), 40, Qt::transparent));
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
                 (QStringList{QStringLiteral("chi_sim.traineddata"), QStringLiteral("chi_tra.traineddata"),
                              QStringLiteral("eng.traineddata")}));
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

    // The lines are read again on several threads, each with an engine of its own: with one
    // engine per language and recognitions running side by side, the other threads mostly get
    // none, and every line must still be read again (the traditional ones are right only then),
    // in its place, without a recognition waiting for another for ever.
    void linesAreReadAgainWhenFewEnginesAreFree()
    {
        const QList<std::pair<QString, QString>> lines{
            {QStringLiteral("Noto Sans CJK TC"), QStringLiteral("剪貼簿歷史紀錄")},
            {QStringLiteral("Noto Sans CJK SC"), QStringLiteral("Quick brown fox")},
            {QStringLiteral("Noto Sans CJK TC"), QStringLiteral("繁體中文識別測試")},
            {QStringLiteral("Noto Sans CJK SC"), QStringLiteral("剪贴板历史记录")},
        };
        const QStringList expected{QStringLiteral("剪貼簿歷史紀錄"), QStringLiteral("Quickbrownfox"),
                                   QStringLiteral("繁體中文識別測試"), QStringLiteral("剪贴板历史记录")};
        const QImage image = linesPicture(lines, 32);
        const TesseractTextRecognizer recognizer(TesseractTextRecognizer::defaultDataFolder(),
                                                 TesseractTextRecognizer::defaultLanguages(), 1);
        std::vector<QStringList> read(3);
        std::vector<std::thread> threads;
        for (size_t i = 0; i < read.size(); ++i)
            threads.emplace_back([&, i] { read[i] = lineTexts(recognizer.recognize(image)); });
        for (std::thread& thread : threads)
            thread.join();
        for (const QStringList& texts : read)
            QCOMPARE(texts, expected);
    }
};

QUILLOMARE_GUI_TEST_MAIN(TestTesseractTextRecognizer)
#include "tst_tesseracttextrecognizer.moc"
