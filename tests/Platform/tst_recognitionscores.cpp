// The scores the interface-screenshot benchmark reports beyond the share of characters read right:
// a wrong count there would send the recognition work after faults it does not have.

#include "RecognitionScores.h"

#include <QtTest>

using namespace RecognitionScores;

class TestRecognitionScores : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void alignmentPairsReadAndLeftOutCharacters()
    {
        // Same, one read in place of another, one left out, one added.
        QCOMPARE(alignment(QStringLiteral("設定"), QStringLiteral("設定")), (QList<qsizetype>{0, 1}));
        QCOMPARE(alignment(QStringLiteral("網路設定"), QStringLiteral("网路设定")), (QList<qsizetype>{0, 1, 2, 3}));
        QCOMPARE(alignment(QStringLiteral("自動更新"), QStringLiteral("自更新")), (QList<qsizetype>{0, -1, 1, 2}));
        QCOMPARE(alignment(QStringLiteral("開啟"), QStringLiteral("x開啟")), (QList<qsizetype>{1, 2}));
        QCOMPARE(alignment(QStringLiteral("關閉"), QString()), (QList<qsizetype>{-1, -1}));
    }

    void simplifiedFormsCountOnlyTraditionalOnlyCharacters()
    {
        const QHash<QChar, QChar> simplifiedOf{
            {QChar(u'網'), QChar(u'网')}, {QChar(u'設'), QChar(u'设')}, {QChar(u'動'), QChar(u'动')}};
        // 路 and 定 are the same in both scripts: they count neither way.
        SimplifiedForms forms = simplifiedForms(QStringLiteral("網路設定"), QStringLiteral("网路设定"), simplifiedOf);
        QCOMPARE(forms.traditionalOnly, 2);
        QCOMPARE(forms.answeredSimplified, 2);
        // Read right, misread as another character, or left out: not the Simplified form.
        forms = simplifiedForms(QStringLiteral("網路設定"), QStringLiteral("網路没定"), simplifiedOf);
        QCOMPARE(forms.answeredSimplified, 0);
        forms = simplifiedForms(QStringLiteral("自動 網路"), QStringLiteral("自网路"), simplifiedOf);
        QCOMPARE(forms.traditionalOnly, 2);
        QCOMPARE(forms.answeredSimplified, 1);
        // A character left out before does not shift the count onto its neighbour.
        forms = simplifiedForms(QStringLiteral("更動設定"), QStringLiteral("更设定"), simplifiedOf);
        QCOMPARE(forms.answeredSimplified, 1);
    }

    void aLineIsMissingWhenLittleOfItIsReadInOrder()
    {
        QCOMPARE(shareFoundInOrder(QStringLiteral("網路 設定"), QStringLiteral("x網路設定y")), 1.0);
        QCOMPARE(shareFoundInOrder(QStringLiteral("結束"), QStringLiteral("結果")), 0.5);
        // Out of order, the characters do not count as found.
        QCOMPARE(shareFoundInOrder(QStringLiteral("abcd"), QStringLiteral("dcba")), 0.25);
        QVERIFY(!lineMissing(QStringLiteral("結束"), QStringLiteral("結")));
        QVERIFY(lineMissing(QStringLiteral("網路連線暫時中斷"), QStringLiteral("網")));
        QVERIFY(lineMissing(QStringLiteral("資訊"), QString()));
        QVERIFY(!lineMissing(QStringLiteral("Show notifications"), QStringLiteral("Shownotifcations")));
    }

    void blocksCountWhereTheyStandInAnyOrder()
    {
        // A sidebar (block 0) beside a page of two lines (block 1).
        const QList<PlacedLine> lines{{QStringLiteral("設定"), QRectF(0, 0, 40, 20), 0},
                                      {QStringLiteral("網路 連線"), QRectF(100, 0, 80, 20), 1},
                                      {QStringLiteral("已連線"), QRectF(100, 40, 60, 20), 1}};
        const auto at = [](const char* text, double x, double y) {
            return PlacedCharacter{QString::fromUtf8(text), QPointF(x, y)};
        };
        // The page read before the sidebar: nothing wrong.
        QList<PlacedCharacter> read{at("網", 110, 10), at("路", 125, 10), at("連", 140, 10),
                                    at("線", 155, 10), at("已", 110, 50), at("連", 125, 50),
                                    at("線", 140, 50), at("設", 10, 10),  at("定", 30, 10)};
        QString joined;
        QCOMPARE(wrongInBlocks(lines, read, &joined), 0.0);
        QCOMPARE(joined, QStringLiteral("設定網路連線已連線"));
        // Within a block the order counts: the page's lines swapped are four edits.
        QList<PlacedCharacter> swapped = read.mid(4, 3) + read.mid(0, 4) + read.mid(7);
        QCOMPARE(wrongInBlocks(lines, swapped), 4.0);
        // A character read far from every line is one more error.
        read.append(at("口", 300, 300));
        QCOMPARE(wrongInBlocks(lines, read), 1.0);
        // A block read nowhere, or as more garbage than it has characters, costs its length.
        QCOMPARE(wrongInBlocks(lines, {at("設", 10, 10), at("定", 30, 10)}), 7.0);
        QList<PlacedCharacter> garbage{at("設", 10, 10), at("定", 30, 10)};
        for (int i = 0; i < 10; ++i)
            garbage.append(at("一", 100 + 6 * i, 12));
        QCOMPARE(wrongInBlocks(lines, garbage), 7.0);
        QCOMPARE(readWhere(read, lines[2].box), QStringLiteral("已連線"));
    }
};

QTEST_GUILESS_MAIN(TestRecognitionScores)
#include "tst_recognitionscores.moc"
