#include "TestSupport.h"

#include <Platform/BlurBehind.h>

class TestBlurBehind : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void regionInDevicePixels();
};

void TestBlurBehind::regionInDevicePixels()
{
    // Whole device pixels covering each rectangle, so that no sliver of the surface goes unblurred.
    QRegion region(QRect(10, 0, 100, 20));
    region += QRect(11, 20, 98, 1);
    QCOMPARE(Platform::BlurBehind::propertyValue(region, 1.5),
             (QList<quint32>{15, 0, 150, 30, 16, 30, 148, 2}));
    QVERIFY(Platform::BlurBehind::propertyValue(QRegion(), 1).isEmpty());
}

QUILLOMARE_TEST_MAIN(TestBlurBehind)
#include "tst_blurbehind.moc"
