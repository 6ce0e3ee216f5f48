#include "TestSupport.h"

#include <Platform/HanGlyphs.h>

#include <QFontDatabase>
#include <QGuiApplication>
#include <QPainter>
#include <QtTest>

using Platform::HanGlyphs::Strokes;

namespace {

// One character drawn black on white in a square twice its size, as a line's cell holds it.
QImage drawn(const QString& character, const QString& family, int pixelSize)
{
    QImage image(2 * pixelSize, 2 * pixelSize, QImage::Format_Grayscale8);
    image.fill(255);
    QPainter painter(&image);
    QFont font(family);
    font.setPixelSize(pixelSize);
    painter.setFont(font);
    painter.setPen(Qt::black);
    painter.drawText(image.rect(), Qt::AlignCenter, character);
    return image;
}

// Each form in the Noto face it looks most alike in, as the recognizer compares them with only
// Noto's fonts installed: how much more the picture looks like the traditional form.
double traditionalLead(const Strokes& strokes, const QString& traditional, const QString& simplified)
{
    double traditionalLikeness = -1, simplifiedLikeness = -1;
    for (const QString& style : {QStringLiteral("Noto Sans CJK"), QStringLiteral("Noto Serif CJK")}) {
        traditionalLikeness = std::max(traditionalLikeness, strokes.likeness(traditional, style + QStringLiteral(" TC")));
        simplifiedLikeness = std::max(simplifiedLikeness, strokes.likeness(simplified, style + QStringLiteral(" SC")));
    }
    return traditionalLikeness - simplifiedLikeness;
}

} // namespace

class TestHanGlyphs : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase()
    {
        for (const QString& family : {QStringLiteral("Noto Sans CJK TC"), QStringLiteral("Noto Serif CJK SC"),
                                      QStringLiteral("AR PL UMing TW"), QStringLiteral("AR PL UKai CN")})
            QVERIFY2(QFontDatabase::hasFamily(family), qPrintable(family + QStringLiteral(" is not installed")));
    }

    // A character drawn in a Ming or Kai face, compared with its two forms drawn in Noto's sans and
    // serif faces, looks more like the form drawn: the strokes' places, not their width or brush,
    // decide. Measured with these characters: 108 of 112 in the Ming faces, 99 of 112 in the Kai
    // faces, whose simplified radicals are written by hand (their 钅 and 纟 are no thinner 金 and 糸).
    void strokesTellTheFormDrawnInAnotherFace()
    {
        const QList<std::pair<QString, QString>> forms{
            {QStringLiteral("錢"), QStringLiteral("钱")}, {QStringLiteral("銀"), QStringLiteral("银")},
            {QStringLiteral("車"), QStringLiteral("车")}, {QStringLiteral("門"), QStringLiteral("门")},
            {QStringLiteral("書"), QStringLiteral("书")}, {QStringLiteral("樂"), QStringLiteral("乐")},
            {QStringLiteral("飛"), QStringLiteral("飞")}, {QStringLiteral("熱"), QStringLiteral("热")},
            {QStringLiteral("紙"), QStringLiteral("纸")}, {QStringLiteral("單"), QStringLiteral("单")},
            {QStringLiteral("購"), QStringLiteral("购")}, {QStringLiteral("價"), QStringLiteral("价")},
            {QStringLiteral("動"), QStringLiteral("动")}, {QStringLiteral("轉"), QStringLiteral("转")},
            {QStringLiteral("選"), QStringLiteral("选")}, {QStringLiteral("離"), QStringLiteral("离")},
            {QStringLiteral("隱"), QStringLiteral("隐")}, {QStringLiteral("預"), QStringLiteral("预")},
            {QStringLiteral("險"), QStringLiteral("险")}, {QStringLiteral("鳥"), QStringLiteral("鸟")},
            {QStringLiteral("魚"), QStringLiteral("鱼")}, {QStringLiteral("風"), QStringLiteral("风")},
            {QStringLiteral("館"), QStringLiteral("馆")}, {QStringLiteral("邊"), QStringLiteral("边")},
            {QStringLiteral("聽"), QStringLiteral("听")}, {QStringLiteral("現"), QStringLiteral("现")},
            {QStringLiteral("實"), QStringLiteral("实")}, {QStringLiteral("師"), QStringLiteral("师")},
        };
        for (const QString& face : {QStringLiteral("AR PL UMing"), QStringLiteral("AR PL UKai")}) {
            int right = 0, compared = 0;
            QStringList wrong;
            for (const auto& [traditional, simplified] : forms) {
                for (const int size : {28, 40}) {
                    const double whenTraditional = traditionalLead(
                        Strokes(drawn(traditional, face + QStringLiteral(" TW"), size)), traditional, simplified);
                    const double whenSimplified = traditionalLead(
                        Strokes(drawn(simplified, face + QStringLiteral(" CN"), size)), traditional, simplified);
                    right += (whenTraditional > 0) + (whenSimplified < 0);
                    compared += 2;
                    if (whenTraditional <= 0)
                        wrong.append(traditional);
                    if (whenSimplified >= 0)
                        wrong.append(simplified);
                }
            }
            const int least = face.endsWith(QLatin1String("Ming")) ? 90 : 80;
            QVERIFY2(right * 100 >= least * compared,
                     qPrintable(QStringLiteral("%1: %2 of %3 right; taken for the other form: %4")
                                    .arg(face)
                                    .arg(right)
                                    .arg(compared)
                                    .arg(wrong.join(QLatin1Char(' ')))));
        }
    }

    // The same strokes drawn wider or narrower look alike: a character is more like itself in
    // another face than like a character of other strokes, and a blank picture is like nothing.
    void strokesAreBlindToTheFace()
    {
        const Strokes kai(drawn(QStringLiteral("聽"), QStringLiteral("AR PL UKai TW"), 40));
        QVERIFY(kai.likeness(QStringLiteral("聽"), QStringLiteral("Noto Sans CJK TC")) >
                kai.likeness(QStringLiteral("聰"), QStringLiteral("Noto Sans CJK TC")));
        QVERIFY(kai.likeness(QStringLiteral("聽"), QStringLiteral("Noto Sans CJK TC")) >
                kai.likeness(QStringLiteral("听"), QStringLiteral("Noto Sans CJK SC")));
        const Strokes bold(drawn(QStringLiteral("门"), QStringLiteral("Noto Sans CJK SC"), 40));
        QVERIFY(bold.likeness(QStringLiteral("门"), QStringLiteral("AR PL UMing CN")) > 0.8);
        QImage blank(40, 40, QImage::Format_Grayscale8);
        blank.fill(255);
        QCOMPARE(Strokes(blank).likeness(QStringLiteral("门"), QStringLiteral("Noto Sans CJK SC")), 0.0);
    }

    // A character's detail, not its pixels: drawn small and scaled up, its edges spread over several
    // pixels and it shows no more detail than it was drawn with; drawn large, its edges are sharp.
    void sharpHeightIsTheDetailDrawn()
    {
        const QImage large = drawn(QStringLiteral("書"), QStringLiteral("Noto Sans CJK TC"), 48);
        const QImage small = drawn(QStringLiteral("書"), QStringLiteral("Noto Sans CJK TC"), 14);
        const QImage scaledUp = small.scaled(small.size() * 4, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
        const double sharp = Platform::HanGlyphs::sharpHeight(large);
        const double blurred = Platform::HanGlyphs::sharpHeight(scaledUp);
        QVERIFY2(sharp >= large.height(), qPrintable(QString::number(sharp)));
        QVERIFY2(blurred <= scaledUp.height() / 2, qPrintable(QString::number(blurred)));
        QVERIFY2(blurred < sharp / 3, qPrintable(QStringLiteral("%1 and %2").arg(blurred).arg(sharp)));
        QImage blank(40, 40, QImage::Format_Grayscale8);
        blank.fill(255);
        QCOMPARE(Platform::HanGlyphs::sharpHeight(blank), 0.0);
    }
};

int main(int argc, char* argv[])
{
    QuillomareTest::isolateUserFolders();
    QGuiApplication app(argc, argv);
    TestHanGlyphs test;
    QTEST_SET_MAIN_SOURCE_PATH
    return QTest::qExec(&test, argc, argv);
}

#include "tst_hanglyphs.moc"
