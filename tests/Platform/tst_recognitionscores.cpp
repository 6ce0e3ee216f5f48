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
};

QTEST_GUILESS_MAIN(TestRecognitionScores)
#include "tst_recognitionscores.moc"
