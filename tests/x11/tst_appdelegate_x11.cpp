// The delegate on the real X11 clipboard, with xclip as the other program: what the user
// chooses goes back on the clipboard and is not taken for a new copy.

#include "../QuillomareMac/AppDelegateFakes.h"
#include "Shell/AppDelegate.h"
#include "TestSupport.h"
#include "X11Tools.h"

#include <Platform/GlobalHotKeys.h>
#include <Platform/InstanceRegistry.h>

#include <QApplication>
#include <QDeadlineTimer>
#include <QTemporaryDir>

using namespace QuillomareCore;
using namespace QuillomareMac;
using namespace QuillomareTest;

class AppDelegateX11Test : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void testChosenEntryGoesBackToTheClipboardAndIsNotCapturedAgain()
    {
        QTemporaryDir dir;
        FakeIsland* island = nullptr;
        AppDelegateEnvironment environment;
        environment.instances = std::make_shared<Platform::MemoryInstanceRegistry>();
        environment.hotKeys = std::make_shared<Platform::MemoryGlobalHotKeys>();
        environment.storeFileURL = dir.filePath(QStringLiteral("clips.json"));
        environment.shelfFileURL = dir.filePath(QStringLiteral("shelf-sessions.json"));
        environment.makeIsland = [&island] {
            auto made = std::make_unique<FakeIsland>();
            island = made.get();
            return made;
        };
        environment.desktop = std::make_shared<FakeDesktop>();
        AppDelegate delegate(environment);
        delegate.applicationDidFinishLaunching();

        auto texts = [&] {
            QStringList list;
            for (const ClipboardItem& item : delegate.store().items())
                list.append(item.payload.textValue());
            return list;
        };
        QVERIFY(xclipCopy("chosen later"));
        QTRY_COMPARE(texts(), QStringList{QStringLiteral("chosen later")});
        QVERIFY(xclipCopy("copied last"));
        QTRY_COMPARE(texts(), (QStringList{QStringLiteral("copied last"), QStringLiteral("chosen later")}));

        island->actions.onSelectItem(delegate.store().items().last());
        QCOMPARE(island->message, std::optional<QString>(QStringLiteral("Copied to clipboard")));
        QCOMPARE(xclipPaste(), QByteArray("chosen later"));
        // Taken for a copy, it would move to the top; give the monitor its notice and a poll.
        const QDeadlineTimer settle(1200);
        while (!settle.hasExpired())
            QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
        QCOMPARE(texts(), (QStringList{QStringLiteral("copied last"), QStringLiteral("chosen later")}));
        delegate.applicationWillTerminate();
    }
};

QUILLOMARE_GUI_TEST_MAIN(AppDelegateX11Test)
#include "tst_appdelegate_x11.moc"
