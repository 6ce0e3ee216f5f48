#include "TestSupport.h"

#include <Shelf/ShelfFileStore.h>
#include <Shelf/ShelfItem.h>
#include <Shelf/ShelfSessionStore.h>

#include <QuillomareCore/Foundation.h>
#include <QuillomareCore/Language.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QTemporaryDir>

#include <sys/stat.h>
#include <unistd.h>

using namespace Qt::StringLiterals;
using namespace QuillomareMac;
namespace Language = QuillomareCore::Language;
using QuillomareCore::ClipKind;
using QuillomareTest::readFile;
using QuillomareTest::writeFile;

namespace {

ShelfItem makeItem(ClipKind kind, ShelfPayload payload, const QString& title = u"item"_s)
{
    return ShelfItem{QUuid::createUuid(), QuillomareTest::at(0), kind, title, u"sub"_s,
                     u"preview"_s,        std::move(payload),    false};
}

ShelfItem textItem(const QString& text)
{
    return makeItem(ClipKind::text, ShelfPayload::text(text), text);
}

ShelfItem fileItem(const QStringList& paths)
{
    return makeItem(ClipKind::file, ShelfPayload::fileURLs(paths));
}

QList<ShelfItem> textItems(int count, const QString& prefix = u"t"_s)
{
    QList<ShelfItem> items;
    for (int i = 0; i < count; ++i)
        items.append(textItem(prefix + QString::number(i)));
    return items;
}

int modeOf(const QString& path)
{
    struct stat info
    {
    };
    return ::lstat(QFile::encodeName(path).constData(), &info) == 0 ? int(info.st_mode & 0777) : -1;
}

QStringList titles(const ShelfSession& session)
{
    QStringList result;
    for (const ShelfItem& item : session.items)
        result.append(item.title);
    return result;
}

// A shelf file written by hand, as another version or a moved data folder leaves it.
QByteArray shelfFile(const QUuid& sessionID, const QList<std::pair<QUuid, QStringList>>& fileItems)
{
    QStringList items;
    for (const auto& [id, paths] : fileItems) {
        const QByteArray list = QJsonDocument(QJsonArray::fromStringList(paths)).toJson(QJsonDocument::Compact);
        items.append(
            uR"({"createdAt": "2026-01-01T12:00:00Z", "id": "%1", "isSensitive": false, )"
            R"("kind": "file", "payload": {"fileURLs": {"_0": %2}}, "preview": "p", )"
            R"("subtitle": "s", "title": "doc"})"_s.arg(QuillomareCore::Uuid::text(id), QString::fromUtf8(list)));
    }
    return uR"({"selectedSessionID": "%1", "sessions": [{"createdAt": "2026-01-01T12:00:00.250Z", )"
           R"("id": "%1", "items": [%2], "name": "Work", "updatedAt": "2026-01-01T12:00:00Z"}]})"_s
               .arg(QuillomareCore::Uuid::text(sessionID), items.join(QLatin1Char(',')))
               .toUtf8();
}

} // namespace

class TestShelfSessionStore : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<QTemporaryDir> m_dir;
    QString path(const QString& name) const { return m_dir->filePath(name); }
    QString storeFile() const { return path(u"Quillomare/shelf-sessions.json"_s); }
    QString shelfFiles() const { return path(u"Quillomare/ShelfFiles"_s); }
    QString makeFile(const QString& name, const QByteArray& bytes)
    {
        const QString file = path(name);
        QDir().mkpath(QFileInfo(file).path());
        writeFile(file, bytes);
        return file;
    }
    void writeStoreFile(const QByteArray& bytes) { makeFile(u"Quillomare/shelf-sessions.json"_s, bytes); }
    // The folder of an entry's private copies, and a file made in it.
    QString copyFolder(const QUuid& id) const { return ShelfFileStore::itemFolderPath(shelfFiles(), id); }
    QString makeCopy(const QUuid& id, const QString& name, const QByteArray& bytes)
    {
        return makeFile(u"Quillomare/ShelfFiles/"_s + QuillomareCore::Uuid::text(id) + QLatin1Char('/') + name, bytes);
    }

private Q_SLOTS:
    void init()
    {
        Language::setIsChineseForTesting(false);
        m_dir = std::make_unique<QTemporaryDir>();
        QVERIFY(m_dir->isValid());
    }

    // --- The file

    void noSessionsMeansOneDefaultSession_data()
    {
        QTest::addColumn<QByteArray>("contents"); // null: no file
        QTest::newRow("no file") << QByteArray();
        QTest::newRow("empty list") << QByteArray(R"({"sessions": []})");
    }

    void noSessionsMeansOneDefaultSession()
    {
        QFETCH(QByteArray, contents);
        if (!contents.isNull())
            writeStoreFile(contents);
        ShelfSessionStore store(storeFile());
        QVERIFY(!store.lastLoadFailure());
        QCOMPARE(store.sessions().size(), 1);
        QCOMPARE(store.currentSession().name, u"Default"_s);
        QCOMPARE(store.selectedSessionID(), store.sessions().first().id);
        store.waitForPendingSaves();
        QCOMPARE(QFile::exists(storeFile()), !contents.isNull());
    }

    void everyKindOfEntryRoundTripsThroughTheFile()
    {
        QuillomareTest::ClockOverride clock(QuillomareTest::at(0).addMSecs(789));
        const QString original = makeFile(u"outside/report.pdf"_s, "pdf");
        QList<ShelfItem> items{
            makeItem(ClipKind::file, ShelfPayload::fileURLs({original, u" /gone/x.txt "_s})),
            makeItem(ClipKind::url, ShelfPayload::url(u"https://例子.com/a b?q=1"_s)),
            makeItem(ClipKind::text, ShelfPayload::text(u"line one\n\"quoted\" 中文 🎉"_s)),
            makeItem(ClipKind::image, ShelfPayload::imagePNG(QByteArray("\x89PNG\r\n\x1a\n\0\xff", 10))),
        };
        items[2].isSensitive = true;
        items[0].createdAt = QuillomareTest::at(5).addMSecs(999);

        QList<ShelfSession> saved;
        QUuid selected;
        {
            ShelfSessionStore store(storeFile());
            QCOMPARE(store.addItems(items, 30), 4);
            clock.advance(2000);
            store.createSession(u"Second"_s);
            QVERIFY(store.selectSession(store.sessions().last().id));
            store.waitForPendingCopies();
            saved = store.sessions();
            selected = store.selectedSessionID();
        }
        // Dates are kept in whole seconds, in memory as in the file.
        QCOMPARE(saved.last().items.first().createdAt, QuillomareTest::at(5));

        ShelfSessionStore reopened(storeFile());
        QVERIFY(!reopened.lastLoadFailure());
        QCOMPARE(reopened.sessions(), saved);
        QCOMPARE(reopened.selectedSessionID(), selected);
        QCOMPARE(reopened.currentSession().name, u"Default"_s);
    }

    void fileIsSortedPrettyWholeSecondsAndUserOnly()
    {
        QuillomareTest::ClockOverride clock(QuillomareTest::at(0).addMSecs(250));
        {
            ShelfSessionStore store(storeFile());
            store.addItems({makeItem(ClipKind::url, ShelfPayload::url(u"https://a.example"_s))}, 30);
        }
        const QByteArray bytes = readFile(storeFile());
        QVERIFY(bytes.contains("\n  \"selectedSessionID\" : \""));
        QVERIFY(bytes.contains("\"url\" : {\n"));
        QStringList keys;
        static const QRegularExpression key(QStringLiteral(R"re("(\w+)" : )re"));
        for (auto it = key.globalMatch(QString::fromUtf8(bytes)); it.hasNext();)
            keys.append(it.next().captured(1));
        QCOMPARE(keys, (QStringList{"selectedSessionID", "sessions", "createdAt", "id", "items", "createdAt", "id",
                                    "isSensitive", "kind", "payload", "url", "_0", "preview", "subtitle", "title",
                                    "name", "updatedAt"}));
        QVERIFY(bytes.contains("\"_0\" : \"https://a.example\""));

        QVERIFY(bytes.contains(R"("createdAt" : "2026-01-01T12:00:00Z")") && !bytes.contains(".250"));
        QCOMPARE(modeOf(storeFile()), 0600);
        QCOMPARE(modeOf(QFileInfo(storeFile()).path()), 0700);
    }

    void badFileIsSetAsideNeverOverwritten_data()
    {
        QTest::addColumn<QByteArray>("contents");
        QTest::newRow("not JSON") << QByteArray("{\"sessions\": [");
        QTest::newRow("top level is a list") << QByteArray("[]");
        QTest::newRow("missing sessions") << QByteArray("{\"selectedSessionID\": null}");
        QTest::newRow("item without title")
            << shelfFile(QUuid::createUuid(), {{QUuid::createUuid(), {u"/a"_s}}}).replace("\"title\"", "\"other\"");
        QTest::newRow("unknown payload case")
            << shelfFile(QUuid::createUuid(), {{QUuid::createUuid(), {u"/a"_s}}}).replace("\"fileURLs\"", "\"files\"");
        QTest::newRow("bad date") << shelfFile(QUuid::createUuid(), {}).replace("2026-01-01T12:00:00Z", "yesterday");
        QTest::newRow("bad base64") << shelfFile(QUuid::createUuid(), {{QUuid::createUuid(), {u"/a"_s}}})
                                           .replace(R"("file")", R"("image")")
                                           .replace(R"({"fileURLs": {"_0": ["/a"]}})",
                                                    R"({"imagePNG": {"_0": "a b="}})");
    }

    void badFileIsSetAsideNeverOverwritten()
    {
        QFETCH(QByteArray, contents);
        writeStoreFile(contents);
        // The copies of a shelf that could not be read are left alone: the file may be restored.
        const QString copy = makeCopy(QUuid::createUuid(), u"a.txt"_s, "kept");

        ShelfSessionStore store(storeFile());
        QVERIFY(store.lastLoadFailure());
        const auto backup = store.lastLoadFailure()->backupURL;
        QVERIFY(backup);
        QVERIFY(QFileInfo(*backup).fileName().startsWith(u"shelf-sessions.corrupt-"_s));
        QVERIFY(backup->endsWith(u".json"_s));
        QCOMPARE(readFile(*backup), contents);
        QVERIFY(store.lastLoadFailure()->message.contains(QFileInfo(*backup).fileName()));
        QCOMPARE(store.sessions().size(), 1);
        QVERIFY(QFile::exists(copy));

        store.addItems({textItem(u"after"_s)}, 30);
        QCOMPARE(readFile(*backup), contents);
        store.waitForPendingSaves();
        ShelfSessionStore reopened(storeFile());
        QVERIFY(!reopened.lastLoadFailure());
        QCOMPARE(titles(reopened.currentSession()), QStringList{u"after"_s});
    }

    void unreadableFileIsSetAside()
    {
        // A folder where the file should be cannot be read as one.
        QVERIFY(QDir().mkpath(storeFile()));
        ShelfSessionStore store(storeFile());
        QVERIFY(store.lastLoadFailure());
        QVERIFY(store.lastLoadFailure()->message.contains(u"couldn't be read"_s));
        QVERIFY(store.lastLoadFailure()->backupURL && QFileInfo(*store.lastLoadFailure()->backupURL).isDir());
        store.addItems({textItem(u"x"_s)}, 30);
        store.waitForPendingSaves();
        QVERIFY(QFileInfo(storeFile()).isFile());
    }

    void failedSaveKeepsTheChangeInMemoryAndTheFileWhole()
    {
        ShelfSessionStore store(storeFile());
        store.addItems({textItem(u"kept"_s)}, 30);
        store.waitForPendingSaves();
        const QByteArray before = readFile(storeFile());

        // The folder is replaced by a file: no save can succeed.
        const QString folder = QFileInfo(storeFile()).path();
        QVERIFY(QDir(folder).removeRecursively());
        writeFile(folder, "in the way");
        store.addItems({textItem(u"unsaved"_s)}, 30);
        std::optional<QString> reported;
        store.whenSaved([&](const std::optional<QString>& error) { reported = error.value_or(QString()); });
        store.waitForPendingSaves();
        QVERIFY(reported && reported->contains(folder));
        QCOMPARE(titles(store.currentSession()), (QStringList{u"unsaved"_s, u"kept"_s}));

        // Once the folder is back, the next change writes the whole state.
        QFile::remove(folder);
        QVERIFY(QDir().mkpath(folder));
        writeFile(storeFile(), before);
        store.createSession(u"new"_s);
        store.waitForPendingSaves();
        QVERIFY(!store.lastSaveError());
        ShelfSessionStore reopened(storeFile());
        QCOMPARE(reopened.sessions(), store.sessions());
    }

    // --- Operations

    void newItemsGoFirstAndTheLimitTakesTheStartOfTheList()
    {
        ShelfSessionStore store(storeFile());
        QCOMPARE(store.addItems(textItems(2, u"x"_s), 30), 2);
        QCOMPARE(store.addItems(textItems(27, u"old"_s), 30), 27);
        QCOMPARE(store.addItems({textItem(u"a"_s), textItem(u"b"_s)}, 30), 1);
        const QStringList shown = titles(store.currentSession());
        QCOMPARE(shown.size(), 30);
        QCOMPARE(shown.first(3), (QStringList{u"a"_s, u"old0"_s, u"old1"_s}));
        QCOMPARE(shown.last(2), (QStringList{u"x0"_s, u"x1"_s}));

        // Full: nothing added and nothing written.
        store.waitForPendingSaves();
        QFile::remove(storeFile());
        QCOMPARE(store.addItems({textItem(u"d"_s)}, 30), 0);
        QCOMPARE(store.addItems({}, 30), 0);
        store.waitForPendingSaves();
        QVERIFY(!QFile::exists(storeFile()));

        // The limit is per session.
        store.createSession(u"Next"_s);
        QCOMPARE(store.addItems(textItems(3), 30), 3);
    }

    void extremeDatesAndStringsSurviveTheRoundTrip()
    {
        // A date an offset carries past the four-digit years must still be written readably.
        writeStoreFile(R"({"selectedSessionID":"11111111-1111-1111-1111-111111111111","sessions":[{"createdAt":)"
                       R"("9999-12-31T23:00:00-05:00","id":"11111111-1111-1111-1111-111111111111","items":[],)"
                       R"("name":"far","updatedAt":"0001-01-01T00:30:00+01:00"}]})");
        QRandomGenerator random(7);
        QList<ShelfItem> items;
        for (int i = 0; i < 60; ++i) {
            QString text;
            for (int j = 0; j < 8; ++j)
                text += QChar(static_cast<char16_t>(random.bounded(j % 2 ? 0x10000 : 0x40)));
            ShelfItem item = textItem(text);
            item.createdAt = QDateTime(QDate(i % 2 ? 9999 : 1, 1, 1), QTime(0, 0), Qt::UTC).addYears(i % 2 ? 1 : -1);
            items.append(item);
        }
        QList<ShelfSession> sessions;
        {
            ShelfSessionStore store(storeFile());
            QVERIFY(!store.lastLoadFailure());
            QCOMPARE(store.addItems(items.mid(0, 30), 30), 30);
            store.createSession(u"second"_s);
            QCOMPARE(store.addItems(items.mid(30), 30), 30);
            sessions = store.sessions();
        }
        ShelfSessionStore reopened(storeFile());
        QVERIFY(!reopened.lastLoadFailure());
        QCOMPARE(reopened.sessions().size(), 2);
        QCOMPARE(reopened.sessions()[0], sessions[0]);
        // The loaded session's dates, moved into the writable years, come back to the second.
        const ShelfSession& far = reopened.sessions()[1];
        QCOMPARE(far.items, sessions[1].items);
        QCOMPARE(far.createdAt.toSecsSinceEpoch(), sessions[1].createdAt.toSecsSinceEpoch());
        QCOMPARE(far.createdAt.date().year(), 9999);
    }

    void sessionNames_data()
    {
        QTest::addColumn<QString>("given");
        QTest::addColumn<QString>("expected");
        QTest::newRow("trimmed") << u" \t Trip\n"_s << u"Trip"_s;
        QTest::newRow("28 kept") << u"abcdefghijklmnopqrstuvwxyz12"_s << u"abcdefghijklmnopqrstuvwxyz12"_s;
        QTest::newRow("29 cut") << u"abcdefghijklmnopqrstuvwxyz123"_s << u"abcdefghijklmnopqrstuvwxyz12"_s;
        // 28 user-perceived characters: flags and accents count once each.
        QTest::newRow("emoji") << QString(u"🇨🇳"_s.repeated(30)) << QString(u"🇨🇳"_s.repeated(28));
        QTest::newRow("combining") << QString(u"e\u0301"_s.repeated(29)) << QString(u"e\u0301"_s.repeated(28));
        QTest::newRow("space at the cut") << u"abcdefghijklmnopqrstuvwxyz1 tail"_s << u"abcdefghijklmnopqrstuvwxyz1"_s;
        QTest::newRow("blank") << u" \n "_s << u"Untitled Session"_s;
    }

    void sessionNames()
    {
        QFETCH(QString, given);
        QFETCH(QString, expected);
        ShelfSessionStore store(storeFile());
        const ShelfSession created = store.createSession(given);
        QCOMPARE(created.name, expected);
        QCOMPARE(store.sessions().first(), created);
        QCOMPARE(store.selectedSessionID(), created.id);
        QVERIFY(created.items.isEmpty());

        // Renaming trims and cuts the same way; a blank name is refused.
        const bool blank = expected == u"Untitled Session"_s;
        QVERIFY(store.selectSession(store.sessions().last().id));
        QCOMPARE(store.renameSelectedSession(given), !blank);
        QCOMPARE(store.currentSession().name, blank ? u"Default"_s : expected);
    }

    void untitledNamesCountUp()
    {
        ShelfSessionStore store(storeFile());
        QCOMPARE(store.createSession(QString()).name, u"Untitled Session"_s);
        QCOMPARE(store.createSession(u"  "_s).name, u"Untitled Session 2"_s);
        QVERIFY(store.renameSelectedSession(u"Renamed"_s));
        QCOMPARE(store.createSession(QString()).name, u"Untitled Session 2"_s);
    }

    void removeAndClearActOnTheSelectedSessionAndRefusalsWriteNothing()
    {
        ShelfSessionStore store(storeFile());
        store.addItems(textItems(3, u"first"_s), 30);
        const QUuid firstSession = store.selectedSessionID();
        const QUuid firstItem = store.currentSession().items[1].id;
        store.createSession(u"Second"_s);
        store.addItems(textItems(2, u"second"_s), 30);

        store.waitForPendingSaves();
        QFile::remove(storeFile());
        QVERIFY(!store.removeItem(firstItem)); // not in the selected session
        QVERIFY(!store.renameSelectedSession(u" \n"_s));
        QVERIFY(!store.selectSession(QUuid::createUuid()));
        QCOMPARE(store.currentSession().name, u"Second"_s);
        QCOMPARE(store.currentSession().items.size(), 2);
        store.waitForPendingSaves();
        QVERIFY(!QFile::exists(storeFile()));

        store.clearSelectedSession();
        QVERIFY(store.currentSession().items.isEmpty());
        QVERIFY(store.selectSession(firstSession));
        QVERIFY(store.removeItem(firstItem));
        QCOMPARE(titles(store.currentSession()), (QStringList{u"first0"_s, u"first2"_s}));

        store.waitForPendingSaves();
        ShelfSessionStore reopened(storeFile());
        QCOMPARE(reopened.sessions(), store.sessions());
        QCOMPARE(reopened.selectedSessionID(), firstSession);
    }

    // --- Private copies

    void droppedFilesAndFoldersAreCopiedInTheBackground()
    {
        const QString file = makeFile(u"drop/notes.txt"_s, "some notes");
        const QString sameName = makeFile(u"drop/other/notes.txt"_s, "other notes");
        const QString nested = makeFile(u"drop/Photos/2026/a.jpg"_s, QByteArray(300 * 1024, 'j'));
        QVERIFY(QFile::link(u"2026/a.jpg"_s, path(u"drop/Photos/latest.jpg"_s)));
        const QString folder = path(u"drop/Photos"_s);

        ShelfSessionStore store(storeFile());
        int changes = 0;
        store.onItemsChanged = [&] { ++changes; };
        const ShelfItem fileEntry = fileItem({file, sameName});
        const ShelfItem folderEntry = fileItem({folder + QLatin1Char('/')});
        store.addItems({fileEntry, folderEntry}, 30);
        // At once the entries name the originals: nothing is lost while copies are made.
        QCOMPARE(store.currentSession().items[0].payload.fileURLsValue(), (QStringList{file, sameName}));

        store.waitForPendingCopies();
        QVERIFY(changes >= 1);
        // Equal names in one entry stay apart.
        const QString fileCopy = copyFolder(fileEntry.id) + u"/notes.txt"_s;
        const QString sameNameCopy = copyFolder(fileEntry.id) + u"/notes 2.txt"_s;
        const QString folderCopy = copyFolder(folderEntry.id) + u"/Photos"_s;
        QCOMPARE(store.currentSession().items[0].payload.fileURLsValue(), (QStringList{fileCopy, sameNameCopy}));
        QCOMPARE(store.currentSession().items[1].payload.fileURLsValue(), QStringList{folderCopy});
        QCOMPARE(readFile(fileCopy), QByteArray("some notes"));
        QCOMPARE(readFile(sameNameCopy), QByteArray("other notes"));
        QCOMPARE(readFile(folderCopy + u"/2026/a.jpg"_s), readFile(nested));
        QCOMPARE(QFileInfo(folderCopy + u"/latest.jpg"_s).symLinkTarget(), folderCopy + u"/2026/a.jpg"_s);
        QCOMPARE(QFileInfo(fileCopy).lastModified(), QFileInfo(file).lastModified());
        QCOMPARE(modeOf(fileCopy) & 077, 0);
        QCOMPARE(modeOf(folderCopy) & 077, 0);

        // The originals may go now; the saved shelf names the copies.
        QVERIFY(QDir(path(u"drop"_s)).removeRecursively());
        store.waitForPendingSaves();
        ShelfSessionStore reopened(storeFile());
        QCOMPARE(reopened.sessions(), store.sessions());
    }

    void failedCopyKeepsTheOriginalPath()
    {
        const QString file = makeFile(u"drop/kept.txt"_s, "kept");
        const QString gone = path(u"drop/vanished.txt"_s);
        // Nothing can be made under "ShelfFiles" when a file has that name.
        makeFile(u"Quillomare/ShelfFiles"_s, "in the way");

        ShelfSessionStore store(storeFile());
        QStringList failures;
        store.onCopyFailure = [&](const QString& message) { failures.append(message); };
        store.addItems({fileItem({file}), fileItem({gone})}, 30);
        store.waitForPendingCopies();
        QCOMPARE(store.currentSession().items[0].payload.fileURLsValue(), QStringList{file});
        QCOMPARE(store.currentSession().items[1].payload.fileURLsValue(), QStringList{gone});
        QCOMPARE(failures.size(), 2);
        QVERIFY(failures.join(QLatin1Char('\n')).contains(u"“kept.txt”"_s));
        QVERIFY(failures.join(QLatin1Char('\n')).contains(u"“vanished.txt” no longer exists"_s));
        QCOMPARE(store.lastCopyFailure(), std::optional<QString>(failures.last()));
    }

    void copiesGoWithTheirEntries()
    {
        const QString a = makeFile(u"drop/a.txt"_s, "a");
        const ShelfItem first = fileItem({a});
        const ShelfItem second = fileItem({makeFile(u"drop/b.txt"_s, "b")});
        const ShelfItem third = fileItem({makeFile(u"drop/c.txt"_s, "c")});
        ShelfSessionStore store(storeFile());
        store.addItems({first, second}, 30);
        store.createSession(u"Other"_s);
        store.addItems({third}, 30);
        store.waitForPendingCopies();
        const QString thirdFolder = copyFolder(third.id);
        QVERIFY(QFileInfo::exists(thirdFolder));

        // A copy goes only once the file no longer names it.
        store.clearSelectedSession();
        store.waitForPendingSaves();
        QVERIFY(!QFileInfo::exists(thirdFolder));
        QVERIFY(store.selectSession(store.sessions().last().id));
        QVERIFY(store.removeItem(first.id));
        store.waitForPendingSaves();
        QVERIFY(!QFileInfo::exists(copyFolder(first.id)));
        QVERIFY(QFileInfo::exists(copyFolder(second.id)));
        QVERIFY(QFile::exists(a)); // the originals are the user's
    }

    void removingAnEntryWhileItIsCopiedLeavesNothing()
    {
        const QString big = makeFile(u"drop/big.bin"_s, QByteArray(96 << 20, 'x'));
        ShelfSessionStore store(storeFile());
        const ShelfItem entry = fileItem({big});
        store.addItems({entry}, 30);
        QVERIFY(store.removeItem(entry.id));
        store.waitForPendingCopies();
        QVERIFY(!QFileInfo::exists(copyFolder(entry.id)));
        QVERIFY(!store.hasPendingCopies());
    }

    void loadingRepairsMovedCopiesDeletesLeftoversAndFinishesInterruptedCopies()
    {
        // Copies that moved with the data folder.
        const QUuid moved = QUuid::createUuid();
        const QUuid untouched = QUuid::createUuid();
        const QString copy = makeCopy(moved, u"Report.doc"_s, "doc");
        const QString oldPath =
            u"/old/home/.local/share/Quillomare/ShelfFiles/"_s + QuillomareCore::Uuid::text(moved) + u"/Report.doc"_s;
        const QString stillThere = makeFile(u"elsewhere/keep.txt"_s, "k");
        const QString goneElsewhere = u"/nowhere/else.txt"_s;
        // A copy cut short, leftovers of entries gone, and a folder that is not ours.
        const QUuid interrupted = QUuid::createUuid();
        const QString original = makeFile(u"drop/late.txt"_s, "late");
        const QString partial = makeCopy(interrupted, u".late.txt.quillomare-partial"_s, "la");
        const QString orphan = makeCopy(QUuid::createUuid(), u"old.txt"_s, "orphan");
        const QString foreign = makeFile(u"Quillomare/ShelfFiles/notes/readme.txt"_s, "not ours");
        // Copied, but the program ended before the switch to the copy was saved.
        const QUuid copied = QUuid::createUuid();
        const QString copiedOriginal = makeFile(u"drop/done.txt"_s, "done");
        const QString finished = makeCopy(copied, u"done.txt"_s, "done");
        // Dates with fractions are read, and without a selection the first session is selected.
        const QUuid sessionID = QUuid::createUuid();
        writeStoreFile(shelfFile(sessionID, {{moved, {oldPath}},
                                             {untouched, {stillThere, goneElsewhere}},
                                             {interrupted, {original}},
                                             {copied, {copiedOriginal}}})
                           .replace("\"selectedSessionID\"", "\"unusedKey\""));
        {
            ShelfSessionStore store(storeFile());
            QVERIFY(!store.lastLoadFailure());
            QCOMPARE(store.currentSession().id, sessionID);
            QCOMPARE(store.currentSession().createdAt, QuillomareTest::at(0).addMSecs(250));
            QCOMPARE(store.currentSession().items[0].payload.fileURLsValue(), QStringList{copy});
            store.waitForPendingCopies();
            QVERIFY(!QFileInfo::exists(QFileInfo(orphan).path()));
            QVERIFY(!QFile::exists(partial));
            QVERIFY(QFile::exists(foreign));
            const QString late = store.currentSession().items[2].payload.fileURLsValue().first();
            QCOMPARE(late, copyFolder(interrupted) + u"/late.txt"_s);
            QCOMPARE(readFile(late), QByteArray("late"));
            QCOMPARE(store.currentSession().items[3].payload.fileURLsValue(), QStringList{finished});
            QCOMPARE(QDir(QFileInfo(finished).path()).entryList(QDir::Files | QDir::Hidden),
                     QStringList{u"done.txt"_s});
        }
        // Saved when repaired: the file itself now names the copy.
        QVERIFY(readFile(storeFile()).contains(QFile::encodeName(copy)));
        QVERIFY(!readFile(storeFile()).contains(oldPath.toUtf8()));
        ShelfSessionStore reopened(storeFile());
        const QStringList other = reopened.currentSession().items[1].payload.fileURLsValue();
        QCOMPARE(other.size(), 2);
        QVERIFY(ShelfFileStore::isPrivateCopy(shelfFiles(), untouched, other[0])); // copied on the way
        QCOMPARE(other[1], goneElsewhere);
    }
};

QUILLOMARE_TEST_MAIN(TestShelfSessionStore)
#include "tst_shelfsessionstore.moc"
