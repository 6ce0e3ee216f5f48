// The count of a large text is remembered for the entry in view, without keeping the text.

#include "TestSupport.h"

#include "Island/Kit/TextCharacterCount.h"

#include <QTest>

using namespace QuillomareMac;

class TextCharacterCountTest : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void testLargeTextIsCountedWithoutBeingKept()
    {
        QString text(100'000, u'a');
        const QChar* buffer = text.constData();
        QCOMPARE(cachedGraphemeCount(text), 100'000);
        // Nothing else holds the text: once its entry is gone, so are its megabytes.
        QVERIFY(text.isDetached());

        // Edited in place (same buffer, same size): an accent joins the last letter.
        text[text.size() - 1] = QChar(0x0301);
        QCOMPARE(text.constData(), buffer);
        QCOMPARE(cachedGraphemeCount(text), 99'999);
        // Then at the start.
        text[1] = QChar(0x0301);
        QCOMPARE(cachedGraphemeCount(text), 99'998);

        // Another text of the same size.
        const QString other(100'000, u'\u00E9');
        QCOMPARE(cachedGraphemeCount(other), 100'000);
        QCOMPARE(cachedGraphemeCount(text), 99'998);
    }
};

QTEST_GUILESS_MAIN(TextCharacterCountTest)
#include "tst_textcharactercount.moc"
