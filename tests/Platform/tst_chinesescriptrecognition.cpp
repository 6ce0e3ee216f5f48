#include "RecognitionPictures.h"
#include "TestSupport.h"

#include <Platform/ChineseScript.h>
#include <Platform/TextRecognizerTesseract.h>

#include <QApplication>
#include <QDir>
#include <QProcess>
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
        QList<QList<QStringList>> readings{readWithOnlyNotoFonts(pictures)};
        QList<QStringList>& all = readings.emplaceBack();
        const TesseractTextRecognizer recognizer;
        for (const Picture& picture : pictures)
            all.append(lineTexts(recognizer.recognize(picture.image)));
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
