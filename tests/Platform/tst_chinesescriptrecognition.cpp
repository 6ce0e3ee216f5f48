#include "RecognitionPictures.h"
#include "TestSupport.h"

#include <Platform/ChineseScript.h>
#include <Platform/TextRecognizerTesseract.h>

#include <QApplication>
#include <QDir>
#include <QFontMetrics>
#include <QPainter>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTextStream>

using Platform::TesseractTextRecognizer;
using Platform::ChineseScript::Form;
using RecognitionPictures::linesPicture;
using RecognitionPictures::Look;

namespace {

// Run with these arguments, the test reads the pictures 0.png, 1.png, … of a folder and prints
// each one's lines, joined by '|', one picture a line.
constexpr char kReadSwitch[] = "--read-pictures";

QStringList lineTexts(const Platform::TextRecognizer::Result& result)
{
    QStringList lines;
    for (const Platform::RecognizedWord& word : result.words) {
        while (lines.size() <= word.lineIndex)
            lines.append(QString());
        lines[word.lineIndex] += word.text;
    }
    return lines;
}

int readPictures(const QString& folder)
{
    const TesseractTextRecognizer recognizer;
    QTextStream out(stdout);
    for (int i = 0;; ++i) {
        const QImage image(QDir(folder).filePath(QStringLiteral("%1.png").arg(i)));
        if (image.isNull())
            return 0;
        out << lineTexts(recognizer.recognize(image)).join(QLatin1Char('|')) << '\n';
        out.flush();
    }
}

QStringList characters(const QString& text)
{
    QStringList list;
    for (const uint codePoint : text.toUcs4())
        list.append(QString::fromUcs4(reinterpret_cast<const char32_t*>(&codePoint), 1));
    return list;
}

// The characters of the text whose forms are only of one script.
QString ofForm(const QString& text, Form form)
{
    QString found;
    for (const uint codePoint : text.toUcs4()) {
        const QString character = QString::fromUcs4(reinterpret_cast<const char32_t*>(&codePoint), 1);
        if (Platform::ChineseScript::formOf(character) == form)
            found += character;
    }
    return found;
}

struct Picture
{
    QImage image;
    QStringList lines;
};

// A row of a settings panel: a label on the left and its value on the right, in one family.
struct SettingsRow
{
    QString family;
    QString label;
    QString value;
};

// A settings panel, black on white: each row's label at the left edge and its value far to the
// right, a thin grey rule between the rows.
QImage settingsPanel(const QList<SettingsRow>& rows, int pixelSize)
{
    const int width = pixelSize * 24;
    const int step = pixelSize * 5 / 2;
    QImage image(width, int(rows.size()) * step + pixelSize, QImage::Format_RGB32);
    image.fill(Qt::white);
    QPainter painter(&image);
    int top = pixelSize / 2;
    for (const SettingsRow& row : rows) {
        QFont font(row.family);
        font.setPixelSize(pixelSize);
        painter.setFont(font);
        painter.setPen(Qt::black);
        const QRect band(pixelSize, top, width - 2 * pixelSize, step);
        painter.drawText(band, Qt::AlignLeft | Qt::AlignVCenter, row.label);
        painter.drawText(band, Qt::AlignRight | Qt::AlignVCenter, row.value);
        top += step;
        painter.setPen(QColor(0xd0, 0xd0, 0xd0));
        painter.drawLine(pixelSize, top, width - pixelSize, top);
    }
    return image;
}

// A menu of a dark-mode window, light grey on dark grey, a rule between each group of three.
QImage darkMenu(const QString& family, const QStringList& items, int pixelSize)
{
    QFont font(family);
    font.setPixelSize(pixelSize);
    const QFontMetricsF metrics(font);
    const double itemHeight = std::round(pixelSize * 1.9);
    const double pad = std::round(pixelSize * 0.9);
    double width = 0;
    for (const QString& item : items)
        width = std::max(width, metrics.horizontalAdvance(item));
    width += 2 * pad + 2 * pixelSize;
    QImage image(int(width), int(double(items.size()) * itemHeight + double(items.size() / 3) * pixelSize) + pixelSize,
                 QImage::Format_RGB32);
    image.fill(QColor(0x1e, 0x1f, 0x22));
    QPainter painter(&image);
    painter.setFont(font);
    double y = 4;
    for (qsizetype k = 0; k < items.size(); ++k) {
        if (k > 0 && k % 3 == 0) {
            painter.setPen(QColor(0x3a, 0x3c, 0x42));
            painter.drawLine(QPointF(pad / 2, y + pixelSize * 0.3), QPointF(width - pad / 2, y + pixelSize * 0.3));
            y += pixelSize * 0.6;
        }
        painter.setPen(QColor(0xe6, 0xe6, 0xe6));
        painter.drawText(QPointF(pad + pixelSize, y + (itemHeight + metrics.capHeight() * 1.3) / 2), items[k]);
        y += itemHeight;
    }
    return image;
}

// A menu as a desktop without font smoothing draws it: black on white, each item on a row of
// twice the pixel size, the glyphs jagged.
QImage jaggedMenu(const QString& family, const QStringList& items, int pixelSize)
{
    QFont font(family);
    font.setPixelSize(pixelSize);
    font.setStyleStrategy(QFont::NoAntialias);
    const QFontMetrics metrics(font);
    int width = 0;
    for (const QString& item : items)
        width = std::max(width, metrics.horizontalAdvance(item));
    const int step = 2 * pixelSize;
    QImage image(width + 4 * pixelSize, int(items.size()) * step + pixelSize, QImage::Format_RGB32);
    image.fill(Qt::white);
    QPainter painter(&image);
    painter.setFont(font);
    painter.setPen(Qt::black);
    for (qsizetype i = 0; i < items.size(); ++i)
        painter.drawText(QRect(2 * pixelSize, pixelSize / 2 + int(i) * step, width + pixelSize, step),
                         Qt::AlignLeft | Qt::AlignVCenter, items[i]);
    return image;
}

} // namespace

class TestChineseScriptRecognition : public QObject
{
    Q_OBJECT

    // What the recognizer reads in each picture on a desktop whose only CJK fonts are Noto's
    // (the common default): in a process of its own, since fontconfig reads its configuration
    // once. The pictures are drawn here, in whatever fonts they ask for.
    QList<QStringList> readWithOnlyNotoFonts(const QList<Picture>& pictures)
    {
        QTemporaryDir folder;
        if (!folder.isValid())
            return {};
        for (qsizetype i = 0; i < pictures.size(); ++i)
            pictures[i].image.save(folder.filePath(QStringLiteral("%1.png").arg(i)));
        const QString configuration = folder.filePath(QStringLiteral("fonts.conf"));
        QuillomareTest::writeFile(
            configuration,
            QStringLiteral("<?xml version=\"1.0\"?>\n<fontconfig><dir>/usr/share/fonts/opentype/noto</dir>"
                           "<dir>/usr/share/fonts/truetype/dejavu</dir><cachedir>%1</cachedir></fontconfig>\n")
                .arg(folder.filePath(QStringLiteral("font-cache")))
                .toUtf8());
        QProcess reader;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("FONTCONFIG_FILE"), configuration);
        environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        reader.setProcessEnvironment(environment);
        reader.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        reader.start(QCoreApplication::applicationFilePath(), {QString::fromLatin1(kReadSwitch), folder.path()});
        if (!reader.waitForFinished(480000) || reader.exitStatus() != QProcess::NormalExit || reader.exitCode() != 0)
            return {};
        QList<QStringList> read;
        for (const QString& line : QString::fromUtf8(reader.readAllStandardOutput()).split(QLatin1Char('\n')))
            if (read.size() < pictures.size())
                read.append(line.split(QLatin1Char('|'), Qt::SkipEmptyParts));
        return read;
    }

    // What the recognizer reads in each picture with only Noto's CJK fonts, then with every font
    // installed: the script of a line must not depend on which are.
    QList<QList<QStringList>> readWithBothFontSets(const QList<Picture>& pictures)
    {
        QList<QList<QStringList>> readings{readWithOnlyNotoFonts(pictures)};
        QList<QStringList>& all = readings.emplaceBack();
        const TesseractTextRecognizer recognizer;
        for (const Picture& picture : pictures)
            all.append(lineTexts(recognizer.recognize(picture.image)));
        return readings;
    }

private Q_SLOTS:
    void initTestCase() { QVERIFY2(Platform::ChineseScript::available(), "OpenCC or its tables are missing"); }

    // The script of a line used to come from comparing its characters with glyphs drawn in the
    // installed fonts; with only Noto's, a Ming, Kai or rounded picture's traditional characters
    // looked like Noto's simplified ones and whole lines came back simplified. Blocks of
    // traditional lines in the common families, read with only the Noto CJK fonts: at most 3 % of
    // the traditional-only characters come back in their simplified form, and no line is
    // simplified.
    void traditionalTextStaysTraditionalWithOnlyNotoFonts()
    {
        const QStringList traditional{
            QStringLiteral("關閉視窗前儲存變更"),   QStringLiteral("選擇印表機與紙張大小"),
            QStringLiteral("這個資料夾裡沒有檔案"), QStringLiteral("連線逾時，請檢查網路"),
            QStringLiteral("輸入帳號與密碼"),       QStringLiteral("顯示隱藏的項目"),
            QStringLiteral("開機時自動啟動"),       QStringLiteral("將圖片傳送到手機"),
        };
        QList<Picture> pictures;
        int variant = 0;
        for (const QString& family : {QStringLiteral("AR PL UMing TW"), QStringLiteral("AR PL UKai TW"),
                                      QStringLiteral("WenQuanYi Zen Hei"), QStringLiteral("Noto Serif CJK TC")}) {
            for (const auto& [size, look] : {std::pair{20, Look::plain}, std::pair{32, Look::darkMode}}) {
                QStringList lines;
                for (int i = 0; i < 3; ++i)
                    lines.append(traditional[(variant + 3 * i) % traditional.size()]);
                ++variant;
                pictures.append(
                    {linesPicture({{family, lines[0]}, {family, lines[1]}, {family, lines[2]}}, size, look), lines});
            }
        }
        const QList<QStringList> read = readWithOnlyNotoFonts(pictures);
        QCOMPARE(read.size(), pictures.size());
        qsizetype traditionalOnly = 0;
        qsizetype drawn = 0;
        qsizetype misread = 0;
        QStringList simplifiedLines;
        for (qsizetype i = 0; i < pictures.size(); ++i) {
            for (const QString& line : pictures[i].lines)
                traditionalOnly += ofForm(line, Form::traditional).size();
            // Read in either script, the pictures must have been read.
            const QString expected = pictures[i].lines.join(QString());
            drawn += expected.size();
            misread +=
                std::min(RecognitionPictures::editDistance(
                             Platform::ChineseScript::toSimplified(characters(read[i].join(QString()))).join(QString()),
                             Platform::ChineseScript::toSimplified(characters(expected)).join(QString())),
                         expected.size());
            for (const QString& line : read[i])
                if (!ofForm(line, Form::simplified).isEmpty())
                    simplifiedLines.append(line);
        }
        // Each simplified-only character read stands for a traditional-only one drawn.
        const qsizetype simplified = ofForm(simplifiedLines.join(QString()), Form::simplified).size();
        QVERIFY2(simplified * 100 <= 3 * traditionalOnly,
                 qPrintable(QStringLiteral("%1 of %2 traditional-only characters read simplified: %3")
                                .arg(simplified)
                                .arg(traditionalOnly)
                                .arg(simplifiedLines.join(QStringLiteral(" / ")))));
        QVERIFY2(simplifiedLines.size() <= 1, qPrintable(simplifiedLines.join(QStringLiteral(" / "))));
        QVERIFY2(misread * 10 <= drawn,
                 qPrintable(QStringLiteral("%1 of %2 characters misread").arg(misread).arg(drawn)));
    }

    // A simplified line quoted among traditional ones keeps its script, and the traditional lines
    // theirs, whichever fonts are installed.
    void aSimplifiedLineBesideTraditionalLinesStaysSimplified()
    {
        const QList<std::pair<QString, QString>> fonts{
            {QStringLiteral("Noto Sans CJK SC"), QStringLiteral("Noto Sans CJK TC")},
            {QStringLiteral("AR PL UMing CN"), QStringLiteral("AR PL UMing TW")},
            {QStringLiteral("AR PL UKai CN"), QStringLiteral("AR PL UKai TW")},
        };
        const QStringList simplified{QStringLiteral("发送文件给联系人"), QStringLiteral("打开通知和声音"),
                                     QStringLiteral("请选择要导出的记录")};
        QList<Picture> pictures;
        for (qsizetype i = 0; i < fonts.size(); ++i) {
            const QStringList lines{QStringLiteral("備份與還原設定"), simplified[i],
                                    QStringLiteral("關於這個應用程式")};
            pictures.append(
                {linesPicture({{fonts[i].second, lines[0]}, {fonts[i].first, lines[1]}, {fonts[i].second, lines[2]}},
                              28),
                 lines});
        }
        const QList<QList<QStringList>> readings = readWithBothFontSets(pictures);
        QStringList wrong;
        for (const QList<QStringList>& read : readings) {
            QCOMPARE(read.size(), pictures.size());
            for (qsizetype i = 0; i < pictures.size(); ++i) {
                const QStringList& lines = read[i];
                const bool right = lines.size() == 3 && ofForm(lines[0], Form::simplified).isEmpty() &&
                                   ofForm(lines[1], Form::traditional).isEmpty() &&
                                   !ofForm(lines[1], Form::simplified).isEmpty() &&
                                   ofForm(lines[2], Form::simplified).isEmpty();
                if (!right)
                    wrong.append(lines.join(QStringLiteral(" / ")));
            }
        }
        QVERIFY2(wrong.isEmpty(), qPrintable(wrong.join(QStringLiteral("; "))));
    }

    // A settings row, its label and its value far apart on one line, keeps its script in a panel
    // of rows in either script, whichever fonts are installed: each character is looked at where
    // it stands, not spread over the blank between the two.
    void settingsRowsOfEitherScriptKeepTheirOwn()
    {
        const QList<SettingsRow> traditional{
            {{}, QStringLiteral("自動儲存間隔"), QStringLiteral("五分鐘")},
            {{}, QStringLiteral("預設編碼"), QStringLiteral("萬國碼")},
            {{}, QStringLiteral("顯示行號"), QStringLiteral("開啟")},
        };
        const QList<SettingsRow> simplified{
            {{}, QStringLiteral("自动保存间隔"), QStringLiteral("十分钟")},
            {{}, QStringLiteral("默认编码"), QStringLiteral("统一码")},
            {{}, QStringLiteral("显示行号"), QStringLiteral("关闭")},
        };
        const QList<std::pair<QString, QString>> fonts{
            {QStringLiteral("AR PL UMing CN"), QStringLiteral("AR PL UMing TW")},
            {QStringLiteral("Noto Serif CJK SC"), QStringLiteral("Noto Serif CJK TC")},
            {QStringLiteral("AR PL UKai CN"), QStringLiteral("AR PL UKai TW")},
            {QStringLiteral("Noto Sans CJK SC"), QStringLiteral("Noto Sans CJK TC")},
        };
        QList<Picture> pictures;
        QList<QList<bool>> rowIsTraditional;
        for (qsizetype f = 0; f < fonts.size(); ++f) {
            QList<SettingsRow> rows;
            QList<bool> kinds;
            // The scripts take turns, starting with either.
            for (qsizetype i = 0; i < traditional.size() + simplified.size(); ++i) {
                const bool isTraditional = (i + f) % 2 == 0;
                SettingsRow row = isTraditional ? traditional[(i / 2 + f) % traditional.size()]
                                                : simplified[(i / 2 + f) % simplified.size()];
                row.family = isTraditional ? fonts[f].second : fonts[f].first;
                rows.append(row);
                kinds.append(isTraditional);
            }
            QStringList lines;
            for (const SettingsRow& row : rows)
                lines.append(row.label + row.value);
            pictures.append({settingsPanel(rows, 22 + 2 * int(f)), lines});
            rowIsTraditional.append(kinds);
        }
        const QList<QList<QStringList>> readings = readWithBothFontSets(pictures);
        qsizetype ofScript = 0;
        qsizetype wrong = 0;
        QStringList wrongRows;
        for (const QList<QStringList>& read : readings) {
            QCOMPARE(read.size(), pictures.size());
            for (qsizetype i = 0; i < pictures.size(); ++i) {
                QCOMPARE(read[i].size(), pictures[i].lines.size());
                for (qsizetype r = 0; r < read[i].size(); ++r) {
                    const Form own = rowIsTraditional[i][r] ? Form::traditional : Form::simplified;
                    const Form other = rowIsTraditional[i][r] ? Form::simplified : Form::traditional;
                    ofScript += ofForm(pictures[i].lines[r], own).size();
                    const qsizetype misplaced = ofForm(read[i][r], other).size();
                    wrong += misplaced;
                    if (misplaced > 0)
                        wrongRows.append(read[i][r]);
                }
            }
        }
        // A character or two misread as one of the other script's forms may pass; rows may not.
        QVERIFY2(wrong * 50 <= ofScript && wrongRows.size() <= 1,
                 qPrintable(QStringLiteral("%1 of %2 characters in the other script: %3")
                                .arg(wrong)
                                .arg(ofScript)
                                .arg(wrongRows.join(QStringLiteral(" / ")))));
    }

    // In a picture of both scripts (messages in either, a quotation) the lines of each say much
    // of their script, and a short line that says little of its own follows neither: the lines
    // around it do not say one thing together.
    void aLineWithLittleEvidenceAmongBothScriptsKeepsItsOwn()
    {
        const QList<std::tuple<QString, QString, bool>> lines{
            {QStringLiteral("AR PL UMing TW"), QStringLiteral("請問這份報告什麼時候要交？"), true},
            {QStringLiteral("AR PL UMing CN"), QStringLiteral("明天发"), false},
            {QStringLiteral("AR PL UMing TW"), QStringLiteral("記得順便附上會議紀錄檔案"), true},
            {QStringLiteral("AR PL UMing CN"), QStringLiteral("好的，我会把两份文件一起发过去"), false},
            {QStringLiteral("AR PL UMing CN"), QStringLiteral("谢谢"), false},
        };
        QList<std::pair<QString, QString>> drawn;
        QStringList texts;
        for (const auto& [family, text, isTraditional] : lines) {
            drawn.append({family, text});
            texts.append(text);
        }
        QList<Picture> pictures{{linesPicture(drawn, 26), texts}, {linesPicture(drawn, 20, Look::darkMode), texts}};
        const QList<QList<QStringList>> readings = readWithBothFontSets(pictures);
        QStringList wrong;
        for (const QList<QStringList>& read : readings) {
            QCOMPARE(read.size(), pictures.size());
            for (const QStringList& picture : read) {
                QCOMPARE(picture.size(), lines.size());
                for (qsizetype i = 0; i < lines.size(); ++i)
                    if (!ofForm(picture[i], std::get<2>(lines[i]) ? Form::simplified : Form::traditional).isEmpty())
                        wrong.append(picture[i]);
            }
        }
        QVERIFY2(wrong.isEmpty(), qPrintable(wrong.join(QStringLiteral(" / "))));
    }

    // A line that says little about its script itself (a character or two of a form the picture
    // hardly tells apart, the rest Latin, digits or of both scripts) takes the script of the
    // lines around it.
    void aLineWithLittleEvidenceTakesTheScriptOfItsBlock()
    {
        const QList<std::tuple<QString, int, QString>> cases{
            {QStringLiteral("WenQuanYi Zen Hei"), 24, QStringLiteral("下載Firefox最新版本")},
            {QStringLiteral("WenQuanYi Zen Hei"), 32, QStringLiteral("時間12:30")},
            {QStringLiteral("AR PL UKai TW"), 32, QStringLiteral("USB裝置")},
            {QStringLiteral("AR PL UKai TW"), 32, QStringLiteral("版本2.4.1說明")},
        };
        QList<Picture> pictures;
        for (const auto& [family, size, text] : cases) {
            const QStringList lines{QStringLiteral("檢查是否有新版本"), text, QStringLiteral("安裝完成後重新啟動")};
            pictures.append({linesPicture({{family, lines[0]}, {family, lines[1]}, {family, lines[2]}}, size), lines});
        }
        const QList<QStringList> read = readWithOnlyNotoFonts(pictures);
        QCOMPARE(read.size(), pictures.size());
        QStringList wrong;
        for (qsizetype i = 0; i < pictures.size(); ++i)
            if (read[i].value(1) != pictures[i].lines[1])
                wrong.append(read[i].join(QStringLiteral(" / ")));
        QVERIFY2(wrong.isEmpty(), qPrintable(wrong.join(QStringLiteral("; "))));
    }

    // A label of two or three characters in a Ming or Kai face at 12 or 14 px: the forms drawn in
    // the installed faces look like the picture less than a character that is there does, and
    // both models read their own script's forms at high confidence whichever is drawn. Such
    // labels come back in their own script with either font set, a few misread aside.
    void shortLabelsKeepTheirScriptAtSmallSizes()
    {
        const QStringList simplified{
            QStringLiteral("链接"), QStringLiteral("输入法"), QStringLiteral("导出"), QStringLiteral("预览"),
            QStringLiteral("标签"), QStringLiteral("语言"),   QStringLiteral("书架"), QStringLiteral("网页"),
            QStringLiteral("邮箱"), QStringLiteral("缩放"),   QStringLiteral("账户"),
        };
        const QList<std::pair<QString, QString>> fonts{
            {QStringLiteral("AR PL UMing CN"), QStringLiteral("AR PL UMing TW")},
            {QStringLiteral("AR PL UKai CN"), QStringLiteral("AR PL UKai TW")},
        };
        QList<Picture> pictures;
        QList<bool> isTraditional;
        for (const auto& [simplifiedFamily, traditionalFamily] : fonts) {
            for (const int size : {12, 14}) {
                for (const QString& word : simplified) {
                    const QString traditional =
                        Platform::ChineseScript::toTraditional(characters(word)).join(QString());
                    QVERIFY(traditional != word);
                    pictures.append({linesPicture({{simplifiedFamily, word}}, size), {word}});
                    isTraditional.append(false);
                    pictures.append({linesPicture({{traditionalFamily, traditional}}, size), {traditional}});
                    isTraditional.append(true);
                }
            }
        }
        const QList<QList<QStringList>> readings = readWithBothFontSets(pictures);
        // Misread characters are another matter: a label counts where its characters are read,
        // in either script.
        qsizetype read = 0;
        QStringList wrong;
        for (const QList<QStringList>& inFontSet : readings) {
            QCOMPARE(inFontSet.size(), pictures.size());
            for (qsizetype i = 0; i < pictures.size(); ++i) {
                const QString& drawn = pictures[i].lines.front();
                const QStringList text = characters(inFontSet[i].join(QString()));
                const QStringList ofItsScript = isTraditional[i] ? Platform::ChineseScript::toTraditional(text)
                                                                 : Platform::ChineseScript::toSimplified(text);
                if (ofItsScript.join(QString()) != drawn)
                    continue;
                ++read;
                if (text.join(QString()) != drawn)
                    wrong.append(drawn + QStringLiteral(" → ") + text.join(QString()));
            }
        }
        const qsizetype labels = 2 * pictures.size();
        QVERIFY2(read * 4 >= labels * 3, qPrintable(QStringLiteral("%1 of %2 labels read").arg(read).arg(labels)));
        // A label in twenty may come back in the other script.
        QVERIFY2(wrong.size() * 20 <= read,
                 qPrintable(QStringLiteral("%1 of %2 labels read in the other script: %3")
                                .arg(wrong.size())
                                .arg(read)
                                .arg(wrong.join(QStringLiteral(", ")))));
    }

    // Labels of two characters in a Kai or Ming face at 28 and 36 px, read with only Noto's fonts:
    // large and plainly legible, but no installed face draws like them, so their pixels look
    // little more like one form in Noto's faces than like the other, the ink of the two forms is
    // close, and both models read their own script's forms at 99 whichever is drawn. Where their
    // strokes lie, thinned, tells the forms apart: a label comes back in its own script, a few
    // aside (measured: 11 of 382, where the models' confidences alone turned 25).
    void largeKaiAndMingLabelsKeepTheirScriptWithOnlyNotoFonts()
    {
        const QStringList simplified{
            QStringLiteral("单位"), QStringLiteral("购物"), QStringLiteral("价格"), QStringLiteral("动画"),
            QStringLiteral("密码"), QStringLiteral("转换"), QStringLiteral("选项"), QStringLiteral("离开"),
            QStringLiteral("隐藏"), QStringLiteral("说明"), QStringLiteral("预览"), QStringLiteral("风险"),
        };
        const QList<std::pair<QString, QString>> fonts{
            {QStringLiteral("AR PL UKai CN"), QStringLiteral("AR PL UKai TW")},
            {QStringLiteral("AR PL UMing CN"), QStringLiteral("AR PL UMing TW")},
        };
        QList<Picture> pictures;
        QList<bool> isTraditional;
        QStringList drawnIn; // the face and size of each picture
        for (const auto& [simplifiedFamily, traditionalFamily] : fonts) {
            for (const QString& word : simplified) {
                const QString traditional = Platform::ChineseScript::toTraditional(characters(word)).join(QString());
                QVERIFY(traditional != word);
                for (const int size : {28, 36}) {
                    for (const Look look : {Look::plain, Look::darkMode, Look::whiteOnBlue, Look::gradient}) {
                        pictures.append({linesPicture({{simplifiedFamily, word}}, size, look), {word}});
                        isTraditional.append(false);
                        drawnIn.append(QStringLiteral("%1 %2 px").arg(simplifiedFamily).arg(size));
                        pictures.append({linesPicture({{traditionalFamily, traditional}}, size, look), {traditional}});
                        isTraditional.append(true);
                        drawnIn.append(QStringLiteral("%1 %2 px").arg(traditionalFamily).arg(size));
                    }
                }
            }
        }
        const QList<QStringList> readings = readWithOnlyNotoFonts(pictures);
        QCOMPARE(readings.size(), pictures.size());
        // A label counts where its characters are read, in either script; it must be read in its own.
        qsizetype read = 0;
        QStringList wrong;
        for (qsizetype i = 0; i < pictures.size(); ++i) {
            const QString& drawn = pictures[i].lines.front();
            const QStringList text = characters(readings[i].join(QString()));
            const QStringList ofItsScript = isTraditional[i] ? Platform::ChineseScript::toTraditional(text)
                                                             : Platform::ChineseScript::toSimplified(text);
            if (ofItsScript.join(QString()) != drawn)
                continue;
            ++read;
            if (text.join(QString()) != drawn)
                wrong.append(QStringLiteral("%1 → %2 (%3)").arg(drawn, text.join(QString()), drawnIn[i]));
        }
        QVERIFY2(read * 10 >= pictures.size() * 9,
                 qPrintable(QStringLiteral("%1 of %2 labels read").arg(read).arg(pictures.size())));
        // One label in twenty may come back in the other script.
        QVERIFY2(wrong.size() * 20 <= read,
                 qPrintable(QStringLiteral("%1 of %2 labels read in the other script: %3")
                                .arg(wrong.size())
                                .arg(read)
                                .arg(wrong.join(QStringLiteral(", ")))));
    }

    // Traditional menus drawn without antialiasing at 12 and 13 px in Noto's faces, read with only
    // Noto's fonts: the other model can read no line at all where an item stands, or read its
    // characters alike, and such an item says nothing of its script, while short items around it
    // lean the other way on a misread or two. It takes the script the menu leans to.
    void itemsThatSayNothingOfTheirScriptTakeTheirMenus()
    {
        const QList<QStringList> menus{
            {QStringLiteral("開啟舊檔"), QStringLiteral("關閉視窗"), QStringLiteral("列印"),
             QStringLiteral("匯入聯絡人"), QStringLiteral("匯出備份"), QStringLiteral("離開")},
            {QStringLiteral("複製連結"), QStringLiteral("貼上"), QStringLiteral("全選"),
             QStringLiteral("尋找下一個"), QStringLiteral("取代"), QStringLiteral("刪除")},
            {QStringLiteral("新增資料夾"), QStringLiteral("重新命名"), QStringLiteral("屬性"),
             QStringLiteral("壓縮檔案"), QStringLiteral("傳送到"), QStringLiteral("還原")},
            {QStringLiteral("檢視記錄"), QStringLiteral("顯示工具列"), QStringLiteral("縮放"),
             QStringLiteral("全螢幕"), QStringLiteral("設定選項"), QStringLiteral("說明")},
            {QStringLiteral("開新視窗"), QStringLiteral("書籤"), QStringLiteral("歷史記錄"),
             QStringLiteral("下載項目"), QStringLiteral("擴充功能"), QStringLiteral("結束")},
        };
        QList<Picture> pictures;
        for (const int size : {12, 13})
            for (const QString& family : {QStringLiteral("Noto Sans CJK TC"), QStringLiteral("Noto Serif CJK TC")})
                for (const QStringList& items : menus)
                    pictures.append({jaggedMenu(family, items, size), items});
        const QList<QStringList> read = readWithOnlyNotoFonts(pictures);
        QCOMPARE(read.size(), pictures.size());
        // An item counts where its characters are read in either script; it must be read in its own.
        qsizetype items = 0, found = 0;
        QStringList wrong;
        for (qsizetype i = 0; i < pictures.size(); ++i) {
            for (const QString& item : pictures[i].lines) {
                ++items;
                for (const QString& line : read[i]) {
                    const QString text =
                        characters(line).filter(QRegularExpression(QStringLiteral("\\p{Han}"))).join(QString());
                    if (Platform::ChineseScript::toTraditional(characters(text)).join(QString()) != item)
                        continue;
                    ++found;
                    if (text != item)
                        wrong.append(item + QStringLiteral(" → ") + text);
                    break;
                }
            }
        }
        qInfo("%lld of %lld items read, %lld of them in the other script", static_cast<long long>(found),
              static_cast<long long>(items), static_cast<long long>(wrong.size()));
        // Many are misread that small, which is another matter.
        QVERIFY2(found * 2 >= items, qPrintable(QStringLiteral("%1 of %2 items read").arg(found).arg(items)));
        // An item whose own characters say the other script (屬 read at lower confidence than 属 by
        // the model that knows it) still may; one in twenty.
        QVERIFY2(wrong.size() * 20 <= found, qPrintable(QStringLiteral("%1 of %2 items read in the other script: %3")
                                                 .arg(wrong.size())
                                                 .arg(found)
                                                 .arg(wrong.join(QStringLiteral(", ")))));
    }


    // Jagged Kai menus at 13-14 px: the models read a few items more surely in the other script
    // (切換使用者 read 切换使用者 more surely, 音效裝置 as 音效装置), and nothing else of such an
    // item tells its script, while its menu's other items say clearly, by their ink and glyphs
    // too, which one the menu is in. Such an item follows its menu, with either font set; the
    // items that say more of themselves keep their own.
    void itemsReadSurerInTheOtherScriptFollowTheirMenus()
    {
        const QString kaiTraditional = QStringLiteral("AR PL UKai TW");
        const QList<Picture> pictures{
            {jaggedMenu(kaiTraditional,
                        {QStringLiteral("變更密碼"), QStringLiteral("帳號設定"), QStringLiteral("隱私權"),
                         QStringLiteral("通知設定"), QStringLiteral("登出"), QStringLiteral("切換使用者"),
                         QStringLiteral("說明中心")},
                        14),
             {QStringLiteral("變更密碼"), QStringLiteral("帳號設定"), QStringLiteral("隱私權"),
              QStringLiteral("通知設定"), QStringLiteral("登出"), QStringLiteral("切換使用者"),
              QStringLiteral("說明中心")}},
            {jaggedMenu(kaiTraditional,
                        {QStringLiteral("電源選項"), QStringLiteral("螢幕解析度"), QStringLiteral("顯示卡設定"),
                         QStringLiteral("音效裝置"), QStringLiteral("印表機"), QStringLiteral("顯示桌面"),
                         QStringLiteral("工作管理員")},
                        14),
             {QStringLiteral("電源選項"), QStringLiteral("螢幕解析度"), QStringLiteral("顯示卡設定"),
              QStringLiteral("音效裝置"), QStringLiteral("印表機"), QStringLiteral("顯示桌面"),
              QStringLiteral("工作管理員")}},
            {jaggedMenu(QStringLiteral("AR PL UKai CN"),
                        {QStringLiteral("显示桌面"), QStringLiteral("工作管理员"), QStringLiteral("系统资讯"),
                         QStringLiteral("电源选项"), QStringLiteral("萤幕解析度")},
                        13),
             {QStringLiteral("显示桌面"), QStringLiteral("工作管理员"), QStringLiteral("系统资讯"),
              QStringLiteral("电源选项"), QStringLiteral("萤幕解析度")}},
        };
        const QList<QList<QStringList>> readings = readWithBothFontSets(pictures);
        qsizetype items = 0, found = 0;
        QStringList wrong;
        for (const QList<QStringList>& read : readings) {
            QCOMPARE(read.size(), pictures.size());
            for (qsizetype i = 0; i < pictures.size(); ++i) {
                for (const QString& item : pictures[i].lines) {
                    ++items;
                    const QString key = Platform::ChineseScript::toTraditional(characters(item)).join(QString());
                    for (const QString& line : read[i]) {
                        const QString text =
                            characters(line).filter(QRegularExpression(QStringLiteral("\\p{Han}"))).join(QString());
                        if (Platform::ChineseScript::toTraditional(characters(text)).join(QString()) != key)
                            continue;
                        ++found;
                        if (text != item)
                            wrong.append(item + QStringLiteral(" → ") + text);
                        break;
                    }
                }
            }
        }
        qInfo("%lld of %lld items read, %lld of them in the other script", static_cast<long long>(found),
              static_cast<long long>(items), static_cast<long long>(wrong.size()));
        // Many are misread that small (measured: 20 of 38 read), which is another matter.
        QVERIFY2(found * 3 >= items, qPrintable(QStringLiteral("%1 of %2 items read").arg(found).arg(items)));
        // Measured: 說明中心, whose menu says less clearly what it is in, with only the Noto fonts;
        // seven of them before such items followed their menus.
        QVERIFY2(wrong.size() <= 2, qPrintable(QStringLiteral("%1 of %2 items read in the other script: %3")
                                                   .arg(wrong.size())
                                                   .arg(found)
                                                   .arg(wrong.join(QStringLiteral(", ")))));
    }


    // Menus of a dark window in a Kai face at 12 to 16 px, items of two characters among longer
    // ones, many with 貝 in them: blurred that small, 貝 (its left stroke lighter than the rest,
    // cut off by the character's cell) looks more like 贝 in some faces than in its own, and an
    // item that short has little else to tell its script by. Its own glyphs must not turn it.
    void shortItemsOfADarkKaiListKeepTheirScript()
    {
        const QList<QStringList> lists{
            {QStringLiteral("開啟最近檔案"), QStringLiteral("列表"), QStringLiteral("貼圖"), QStringLiteral("貼到"),
             QStringLiteral("移除"), QStringLiteral("全部"), QStringLiteral("查看與編輯")},
            {QStringLiteral("匯入資料夾"), QStringLiteral("購買"), QStringLiteral("資訊"), QStringLiteral("貼齊"),
             QStringLiteral("費用"), QStringLiteral("說明"), QStringLiteral("關閉所有視窗")},
            {QStringLiteral("傳送檔案給朋友"), QStringLiteral("開始"), QStringLiteral("貼入"), QStringLiteral("財務"),
             QStringLiteral("貨幣"), QStringLiteral("選項"), QStringLiteral("顯示隱藏項目")},
            {QStringLiteral("網路連線設定"), QStringLiteral("貼下"), QStringLiteral("購入"), QStringLiteral("販售"),
             QStringLiteral("贈送"), QStringLiteral("工具"), QStringLiteral("重新整理畫面")},
        };
        QList<QString> drawn;
        QList<QStringList> read;
        const TesseractTextRecognizer recognizer;
        for (const int size : {12, 13, 14, 15, 16}) {
            for (const QStringList& items : lists) {
                const QStringList lines =
                    lineTexts(recognizer.recognize(darkMenu(QStringLiteral("AR PL UKai TW"), items, size)));
                for (const QString& item : items) {
                    drawn.append(item);
                    read.append(lines);
                }
            }
        }
        // An item counts where its characters are read in either script; it must be read in its own.
        qsizetype found = 0;
        QStringList wrong;
        for (qsizetype i = 0; i < drawn.size(); ++i) {
            for (const QString& line : read[i]) {
                const QString text =
                    characters(line).filter(QRegularExpression(QStringLiteral("\\p{Han}"))).join(QString());
                if (Platform::ChineseScript::toTraditional(characters(text)).join(QString()) != drawn[i])
                    continue;
                ++found;
                if (text != drawn[i])
                    wrong.append(drawn[i] + QStringLiteral(" → ") + text);
                break;
            }
        }
        QVERIFY2(found * 4 >= drawn.size() * 3,
                 qPrintable(QStringLiteral("%1 of %2 items read").arg(found).arg(drawn.size())));
        // The models' confidences alone still turn an item now and then (measured: two of 118).
        QVERIFY2(wrong.size() * 30 <= found, qPrintable(QStringLiteral("%1 of %2 items read in the other script: %3")
                                                            .arg(wrong.size())
                                                            .arg(found)
                                                            .arg(wrong.join(QStringLiteral(", ")))));
    }
};

int main(int argc, char* argv[])
{
    QuillomareTest::isolateUserFolders();
    QApplication app(argc, argv);
    if (argc == 3 && qstrcmp(argv[1], kReadSwitch) == 0)
        return readPictures(QString::fromLocal8Bit(argv[2]));
    TestChineseScriptRecognition test;
    QTEST_SET_MAIN_SOURCE_PATH
    return QTest::qExec(&test, argc, argv);
}

#include "tst_chinesescriptrecognition.moc"
