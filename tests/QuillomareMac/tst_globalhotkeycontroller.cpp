#include "TestSupport.h"

#include <Platform/GlobalHotKeys.h>
#include <Shell/GlobalHotKeyController.h>

using namespace QuillomareMac;
using namespace Qt::StringLiterals;
using Platform::GlobalHotKeys;
using Platform::MemoryGlobalHotKeys;

class TestGlobalHotKeyController : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void registeringTwiceRegistersEachKeyOnce()
    {
        auto keys = std::make_shared<MemoryGlobalHotKeys>();
        GlobalHotKeyController controller(keys);
        controller.registerHotKeys();
        controller.registerHotKeys();
        QVERIFY(controller.isRegistered());
        QCOMPARE(keys->calls, (QStringList{u"register 1"_s, u"register 2"_s}));

        // One handler: each press arrives once, after the press was reported, and by its id.
        QList<GlobalHotKeyAction> fired;
        controller.onPressed = [&](GlobalHotKeyAction action) { fired.append(action); };
        keys->press(2);
        keys->press(1);
        QVERIFY(fired.isEmpty());
        QTRY_COMPARE(fired, (QList<GlobalHotKeyAction>{GlobalHotKeyAction::addClipboardToShelf,
                                                       GlobalHotKeyAction::showIsland}));

        controller.unregisterHotKeys();
        controller.unregisterHotKeys();
        QVERIFY(!controller.isRegistered());
        QVERIFY(keys->registered.isEmpty());
        keys->registered = {1}; // a press still in flight from the system finds no handler
        keys->press(1);
        QCoreApplication::processEvents();
        QCOMPARE(fired.size(), 2);
    }

    void secondKeyTakenLeavesNeitherRegistered()
    {
        auto keys = std::make_shared<MemoryGlobalHotKeys>();
        keys->takenByOthers = {GlobalHotKeys::KeyPosition::s};
        GlobalHotKeyController controller(keys);
        controller.registerHotKeys();
        QVERIFY(!controller.isRegistered());
        QCOMPARE(keys->calls, (QStringList{u"register 1"_s, u"register 2"_s, u"unregister 1"_s}));
        QVERIFY(keys->registered.isEmpty());
    }
};

QUILLOMARE_TEST_MAIN(TestGlobalHotKeyController)
#include "tst_globalhotkeycontroller.moc"
