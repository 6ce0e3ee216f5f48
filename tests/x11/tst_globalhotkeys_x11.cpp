#include "TestSupport.h"
#include "X11Tools.h"

#include <Shell/GlobalHotKeyController.h>

#include <QApplication>

#include <xcb/xcb.h>
#include <xcb/xcb_keysyms.h>

#include <cstdlib>

using namespace Qt::StringLiterals;
using namespace QuillomareMac;
using Action = GlobalHotKeyAction;

namespace {

// The session's keymap: the US V and S positions, Alt on Mod1, Num Lock on Mod2.
constexpr xcb_keycode_t kV = 55, kS = 39;
constexpr uint16_t kCtrlAlt = XCB_MOD_MASK_CONTROL | XCB_MOD_MASK_1;
constexpr uint16_t kLockVariants[] = {0, XCB_MOD_MASK_LOCK, XCB_MOD_MASK_2, XCB_MOD_MASK_LOCK | XCB_MOD_MASK_2};

// Another program on the same display.
class OtherClient
{
public:
    OtherClient()
    {
        int screenNumber = 0;
        m_connection = xcb_connect(nullptr, &screenNumber);
        xcb_screen_iterator_t screens = xcb_setup_roots_iterator(xcb_get_setup(m_connection));
        for (int i = 0; i < screenNumber; ++i)
            xcb_screen_next(&screens);
        m_root = screens.data->root;
    }
    ~OtherClient() { xcb_disconnect(m_connection); }

    bool grab(xcb_keycode_t keycode, uint16_t modifiers)
    {
        xcb_generic_error_t* error =
            xcb_request_check(m_connection, xcb_grab_key_checked(m_connection, 0, m_root, modifiers, keycode,
                                                                 XCB_GRAB_MODE_ASYNC, XCB_GRAB_MODE_ASYNC));
        std::free(error);
        return !error;
    }
    bool grabAllLockVariants(xcb_keycode_t keycode)
    {
        for (uint16_t variant : kLockVariants)
            if (!grab(keycode, kCtrlAlt | variant))
                return false;
        return true;
    }
    uint16_t modifierState()
    {
        xcb_query_pointer_reply_t* reply =
            xcb_query_pointer_reply(m_connection, xcb_query_pointer(m_connection, m_root), nullptr);
        const uint16_t mask = reply ? reply->mask : 0;
        std::free(reply);
        return mask;
    }
    xcb_keysym_t firstKeysym(xcb_keycode_t keycode)
    {
        xcb_key_symbols_t* symbols = xcb_key_symbols_alloc(m_connection);
        const xcb_keysym_t keysym = xcb_key_symbols_get_keysym(symbols, keycode, 0);
        xcb_key_symbols_free(symbols);
        return keysym;
    }
    void setAutoRepeat(bool on)
    {
        const uint32_t mode = on ? XCB_AUTO_REPEAT_MODE_ON : XCB_AUTO_REPEAT_MODE_OFF;
        xcb_change_keyboard_control(m_connection, XCB_KB_AUTO_REPEAT_MODE, &mode);
        xcb_flush(m_connection);
    }

    xcb_connection_t* m_connection;
    xcb_window_t m_root;
};

bool xdotool(const QStringList& arguments)
{
    int exitCode = -1;
    QuillomareTest::runWhileServingEvents(u"xdotool"_s, arguments, {}, 10000, &exitCode);
    return exitCode == 0;
}

} // namespace

class TestGlobalHotKeysX11 : public QObject
{
    Q_OBJECT

    std::unique_ptr<GlobalHotKeyController> m_controller;
    QList<Action> m_fired;
    QStringList m_locksOn;

    void makeController()
    {
        m_controller = std::make_unique<GlobalHotKeyController>();
        m_controller->onPressed = [this](Action action) { m_fired.append(action); };
    }

private Q_SLOTS:
    void initTestCase()
    {
        OtherClient client;
        QCOMPARE(client.firstKeysym(kV), xcb_keysym_t('v'));
        QCOMPARE(client.firstKeysym(kS), xcb_keysym_t('s'));
    }

    void init() { makeController(); }

    void cleanup()
    {
        m_controller->unregisterHotKeys();
        m_controller.reset();
        m_fired.clear();
        for (const QString& lock : std::as_const(m_locksOn))
            xdotool({u"key"_s, lock});
        m_locksOn.clear();
    }

    void eachPressFiresItsActionOnce_data()
    {
        QTest::addColumn<QStringList>("locks");
        QTest::addColumn<uint16_t>("lockMask");
        QTest::newRow("no lock") << QStringList{} << uint16_t(0);
        QTest::newRow("Num Lock") << QStringList{u"Num_Lock"_s} << uint16_t(XCB_MOD_MASK_2);
        QTest::newRow("Caps Lock") << QStringList{u"Caps_Lock"_s} << uint16_t(XCB_MOD_MASK_LOCK);
        QTest::newRow("both locks") << QStringList{u"Num_Lock"_s, u"Caps_Lock"_s}
                                    << uint16_t(XCB_MOD_MASK_LOCK | XCB_MOD_MASK_2);
    }

    void eachPressFiresItsActionOnce()
    {
        QFETCH(QStringList, locks);
        QFETCH(uint16_t, lockMask);
        OtherClient client;
        for (const QString& lock : locks) {
            QVERIFY(xdotool({u"key"_s, lock}));
            m_locksOn.append(lock);
        }
        QCOMPARE(client.modifierState() & (XCB_MOD_MASK_LOCK | XCB_MOD_MASK_2), lockMask);

        m_controller->registerHotKeys();
        QVERIFY(m_controller->isRegistered());
        QVERIFY(xdotool({u"key"_s, u"ctrl+alt+v"_s}));
        QVERIFY(xdotool({u"key"_s, u"ctrl+alt+s"_s}));
        // A plain letter and another modifier set are not ours.
        QVERIFY(xdotool({u"key"_s, u"ctrl+v"_s}));
        QVERIFY(xdotool({u"key"_s, u"ctrl+alt+shift+v"_s}));
        QVERIFY(xdotool({u"key"_s, u"ctrl+alt+v"_s}));
        // Each wait ends with the last press, so any extra action would already be in the list.
        QTRY_COMPARE(m_fired, (QList<Action>{Action::showIsland, Action::addClipboardToShelf, Action::showIsland}));
    }

    void heldKeyFiresOnce()
    {
        OtherClient client;
        client.setAutoRepeat(true);
        m_controller->registerHotKeys();
        QVERIFY(m_controller->isRegistered());
        // Longer than the server's repeat delay, so the key repeats several times.
        QVERIFY(xdotool({u"keydown"_s, u"ctrl+alt+v"_s, u"sleep"_s, u"1.5"_s, u"keyup"_s, u"ctrl+alt+v"_s}));
        QVERIFY(xdotool({u"key"_s, u"ctrl+alt+s"_s}));
        QTRY_COMPARE(m_fired, (QList<Action>{Action::showIsland, Action::addClipboardToShelf}));
    }

    void combinationHeldByAnotherProgramRegistersNothing_data()
    {
        QTest::addColumn<xcb_keycode_t>("takenKey");
        QTest::addColumn<uint16_t>("takenVariant");
        // The second combination fails after the first was grabbed; the first fails on a lock variant.
        QTest::newRow("S") << kS << uint16_t(0);
        QTest::newRow("V with Num Lock") << kV << uint16_t(XCB_MOD_MASK_2);
    }

    void combinationHeldByAnotherProgramRegistersNothing()
    {
        QFETCH(xcb_keycode_t, takenKey);
        QFETCH(uint16_t, takenVariant);
        {
            OtherClient other;
            QVERIFY(other.grab(takenKey, kCtrlAlt | takenVariant));
            m_controller->registerHotKeys();
            QVERIFY(!m_controller->isRegistered());

            // Nothing of ours is left grabbed: the other program gets every other variant of both.
            OtherClient third;
            QVERIFY(third.grabAllLockVariants(takenKey == kV ? kS : kV));
            for (uint16_t variant : kLockVariants)
                if (variant != takenVariant)
                    QVERIFY(third.grab(takenKey, kCtrlAlt | variant));
        }
        // Once the other program has let go, the next registration holds both again.
        m_controller->registerHotKeys();
        QVERIFY(m_controller->isRegistered());
        QVERIFY(xdotool({u"key"_s, u"ctrl+alt+s"_s}));
        QTRY_COMPARE(m_fired, QList<Action>{Action::addClipboardToShelf});
    }

    void unregisterReleasesBoth()
    {
        m_controller->registerHotKeys();
        m_controller->registerHotKeys();
        QVERIFY(m_controller->isRegistered());
        m_controller->unregisterHotKeys();
        QVERIFY(!m_controller->isRegistered());
        OtherClient other;
        QVERIFY(other.grabAllLockVariants(kV));
        QVERIFY(other.grabAllLockVariants(kS));
    }
};

QUILLOMARE_GUI_TEST_MAIN(TestGlobalHotKeysX11)
#include "tst_globalhotkeys_x11.moc"
