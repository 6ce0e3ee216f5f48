// Which given-up transfer is closed when one too many is kept for its owner: the busy owner's
// flood never costs a late owner its one window, whatever the order they came in.

#include <Platform/X11LingeringTransfers.h>

#include "TestSupport.h"

#include <QTest>

using namespace Platform;

namespace {

constexpr uint32_t lateOwner = 0x0a00000;
constexpr uint32_t busyOwner = 0x0c00000;
constexpr uint32_t otherOwner = 0x0e00000;

} // namespace

class X11LingeringTransfersTest : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void testTheOwnerWithTheMostLosesItsOldest_data()
    {
        QTest::addColumn<std::vector<uint32_t>>("owners");
        QTest::addColumn<size_t>("closed");
        QTest::newRow("a late owner kept before a flood")
            << std::vector<uint32_t>{lateOwner, busyOwner, busyOwner, busyOwner, busyOwner} << size_t(1);
        QTest::newRow("a late owner amid a flood")
            << std::vector<uint32_t>{busyOwner, busyOwner, lateOwner, busyOwner, otherOwner} << size_t(0);
        QTest::newRow("the flood's newest is not the one that goes")
            << std::vector<uint32_t>{lateOwner, otherOwner, busyOwner, lateOwner, busyOwner, busyOwner} << size_t(2);
        QTest::newRow("as many each: the one waited on longest")
            << std::vector<uint32_t>{otherOwner, lateOwner, otherOwner, lateOwner} << size_t(0);
        QTest::newRow("one each: the oldest") << std::vector<uint32_t>{busyOwner, lateOwner, otherOwner} << size_t(0);
        QTest::newRow("an owner that could not be told") << std::vector<uint32_t>{lateOwner, 0, 0} << size_t(1);
    }

    void testTheOwnerWithTheMostLosesItsOldest()
    {
        QFETCH(std::vector<uint32_t>, owners);
        QFETCH(size_t, closed);
        QCOMPARE(lingeringTransferToClose(owners), closed);
    }
};

QUILLOMARE_TEST_MAIN(X11LingeringTransfersTest)
#include "tst_x11lingeringtransfers.moc"
