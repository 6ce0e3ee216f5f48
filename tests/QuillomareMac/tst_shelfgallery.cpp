// The shelf gallery inside the island: the session line, the detail bar and its tiles, the
// footer with its size estimate, the drop-hint flash, the hidden list variant, and the texts the
// island derives from a shelf entry (badge, chips, signature).

#include "IslandViewTestRig.h"
#include "TestSupport.h"

#include "History/ClipThumbnailView.h"
#include "Island/Kit/IslandActionTileButton.h"
#include "Island/Kit/IslandListScrollView.h"
#include "Island/IslandView.h"
#include "Shelf/Views/ShelfDropZoneView.h"
#include "Shelf/Views/ShelfGalleryCardView.h"

#include <QuillomareCore/Foundation.h>
#include <QuillomareCore/Language.h>

#include <QBuffer>
#include <QFile>
#include <QImage>
#include <QLabel>
#include <QScrollBar>
#include <QTemporaryDir>
#include <QWheelEvent>

#include <memory>

using namespace QuillomareMac;
namespace Language = QuillomareCore::Language;
using QuillomareCore::ClipKind;

Q_DECLARE_METATYPE(QuillomareMac::ShelfItem)
Q_DECLARE_METATYPE(QuillomareMac::ShelfPayload)

namespace {

QByteArray pngBytes(int width = 8, int height = 6)
{
    QImage image(width, height, QImage::Format_ARGB32);
    image.fill(Qt::green);
    QByteArray png;
    QBuffer buffer(&png);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "PNG");
    return png;
}

ShelfItem entry(ClipKind kind, ShelfPayload payload, const QString& title = QStringLiteral("Title"),
                const QString& subtitle = QString(), bool sensitive = false)
{
    return ShelfItem{QUuid::createUuid(),
                     QuillomareCore::Clock::now(),
                     kind,
                     title,
                     subtitle,
                     title + QStringLiteral(" preview"),
                     std::move(payload),
                     sensitive};
}

ShelfItem textEntry(const QString& text)
{
    return entry(ClipKind::text, ShelfPayload::text(text), text);
}

ShelfItem linkEntry()
{
    return entry(ClipKind::url, ShelfPayload::url(QStringLiteral("https://example.org/a")),
                 QStringLiteral("example.org"));
}

ShelfItem imageEntry(bool sensitive = false)
{
    return entry(ClipKind::image, ShelfPayload::imagePNG(pngBytes()), QStringLiteral("Image"), QString(), sensitive);
}

ShelfItem fileEntry(const QStringList& paths)
{
    return entry(ClipKind::file, ShelfPayload::fileURLs(paths), QStringLiteral("file"));
}

ShelfSession session(const QString& name, const QList<ShelfItem>& items)
{
    const QDateTime now = QuillomareCore::Clock::now();
    return ShelfSession{QUuid::createUuid(), name, items, now, now};
}

QStringList tileTitles(const QList<IslandActionTileButton*>& tiles)
{
    QStringList titles;
    for (const IslandActionTileButton* tile : tiles)
        titles.append(tile->displayTitle());
    return titles;
}

// "PCARFM": which of Preview, Copy, AirDrop, Finder (Reveal), Remove, Combine are enabled.
QString enabledTiles(const QList<IslandActionTileButton*>& tiles)
{
    static const QString letters = QStringLiteral("PCARXM");
    QString result;
    for (int i = 0; i < tiles.size(); ++i)
        result += tiles.at(i)->isEnabled() ? letters.at(i) : QLatin1Char('-');
    return result;
}

void writeFile(const QString& path, qint64 bytes)
{
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(QByteArray(bytes, 'x'));
}

} // namespace

class TestShelfGallery : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<QuillomareTest::IslandViewTestRig> m_rig;
    IslandView* m_view = nullptr;

    void makeView(bool chinese = false)
    {
        m_view = nullptr;
        m_rig.reset();
        m_rig = std::make_unique<QuillomareTest::IslandViewTestRig>(QRect(0, 0, 780, 430), chinese);
        m_view = m_rig->view;
    }

    void push(const QList<ShelfItem>& items)
    {
        m_view->configureShelf({session(QStringLiteral("Work"), items)}, QUuid(), std::nullopt);
    }

private Q_SLOTS:
    void init() { makeView(); }
    void cleanup()
    {
        m_view = nullptr;
        m_rig.reset();
    }

    // MARK: Entry texts

    void shelfPayloadSignature_data()
    {
        QTest::addColumn<ShelfPayload>("payload");
        QTest::addColumn<QString>("expected");
        const QString eighty = QString(80, QLatin1Char('a'));
        QString emoji81;
        for (int i = 0; i < 81; ++i)
            emoji81 += i < 48 ? QStringLiteral("👍🏽") : i < 57 ? QStringLiteral("中") : QStringLiteral("e\u0301");
        QString emojiExpected;
        for (int i = 0; i < 48; ++i)
            emojiExpected += QStringLiteral("👍🏽");
        emojiExpected += QChar(0x2026);
        for (int i = 0; i < 24; ++i)
            emojiExpected += QStringLiteral("e\u0301");
        QString cjk81 = QString(40, QChar(0x4E2D)) + QString(41, QChar(0x6587));
        const QString cjkExpected =
            QString(40, QChar(0x4E2D)) + QString(8, QChar(0x6587)) + QChar(0x2026) + QString(24, QChar(0x6587));
        const QByteArray png = pngBytes();
        QTest::newRow("80 characters stay whole") << ShelfPayload::text(eighty) << QStringLiteral("text:80:") + eighty;
        QTest::newRow("81 emoji and accents are cut by clusters")
            << ShelfPayload::text(emoji81) << QStringLiteral("text:81:") + emojiExpected;
        QTest::newRow("81 CJK characters") << ShelfPayload::url(cjk81) << QStringLiteral("url:81:") + cjkExpected;
        QTest::newRow("files joined by bars")
            << ShelfPayload::fileURLs({QStringLiteral("/home/u/a.txt"), QStringLiteral("/home/u/b c.png")})
            << QStringLiteral("files:2:/home/u/a.txt|/home/u/b c.png");
        QTest::newRow("png: count and first 16 bytes")
            << ShelfPayload::imagePNG(png)
            << QStringLiteral("png:%1:").arg(png.size()) + QString::fromLatin1(png.left(16).toBase64());
        QTest::newRow("short png keeps all bytes")
            << ShelfPayload::imagePNG(QByteArray("abc")) << QStringLiteral("png:3:YWJj");
    }

    void shelfPayloadSignature()
    {
        QFETCH(ShelfPayload, payload);
        QFETCH(QString, expected);
        QCOMPARE(IslandView::shelfPayloadSignature(payload), expected);
    }

    void badgeAndChips_data()
    {
        QTest::addColumn<bool>("chinese");
        QTest::addColumn<ShelfItem>("item");
        QTest::addColumn<QStringList>("chips");
        const QString now = QStringLiteral("just now");
        ShelfItem files = fileEntry({QStringLiteral("/a"), QStringLiteral("/b"), QStringLiteral("/c")});
        files.subtitle = QStringLiteral("  PDF ·· 2 MB ·  ");
        ShelfItem secret = textEntry(QStringLiteral("hunter2"));
        secret.isSensitive = true;
        secret.subtitle = QStringLiteral("hunter2 · 7 characters");
        ShelfItem other = textEntry(QStringLiteral("x"));
        other.kind = ClipKind::unknown;
        QTest::newRow("text") << false << textEntry(QStringLiteral("a")) << QStringList{QStringLiteral("Text"), now};
        QTest::newRow("several files, pieces trimmed")
            << false << files
            << QStringList{QStringLiteral("3 items"), QStringLiteral("PDF"), QStringLiteral("2 MB"), now};
        QTest::newRow("one file") << false << fileEntry({QStringLiteral("/a")})
                                  << QStringList{QStringLiteral("File"), now};
        QTest::newRow("link") << false << linkEntry() << QStringList{QStringLiteral("Link"), now};
        QTest::newRow("image") << false << imageEntry() << QStringList{QStringLiteral("Image"), now};
        QTest::newRow("other kind") << false << other << QStringList{QStringLiteral("Shelf"), now};
        QTest::newRow("sensitive hides its subtitle")
            << false << secret << QStringList{QStringLiteral("Private"), QStringLiteral("Content hidden"), now};
        QTest::newRow("Chinese files") << true << files
                                       << QStringList{QStringLiteral("3 项"), QStringLiteral("PDF"),
                                                      QStringLiteral("2 MB"), QStringLiteral("刚刚")};
        QTest::newRow("Chinese sensitive")
            << true << secret
            << QStringList{QStringLiteral("私密"), QStringLiteral("内容已隐藏"), QStringLiteral("刚刚")};
    }

    void badgeAndChips()
    {
        QFETCH(bool, chinese);
        QFETCH(ShelfItem, item);
        QFETCH(QStringList, chips);
        Language::setIsChineseForTesting(chinese);
        QCOMPARE(IslandView::badgeText(item), chips.first());
        QCOMPARE(IslandView::metadataChips(item), chips);
    }

    // MARK: Layout

    void layout_rowHeightsTilesAndTexts()
    {
        m_rig->expand();
        m_view->setContentMode(IslandView::ContentMode::shelfGallery, false);
        m_rig->canvas->show();
        QVERIFY(QTest::qWaitForWindowExposed(m_rig->canvas.get()));
        m_view->relayoutNow();
        QCoreApplication::sendPostedEvents();
        QWidget* gallery = m_view->shelfGalleryContainer();
        QVERIFY(gallery->isVisible());
        const auto height = [&](const char* name) {
            return gallery->findChild<QWidget*>(QLatin1String(name))->height();
        };
        QCOMPARE(height("shelfGallerySessionBar"), 33);
        QCOMPARE(height("shelfGalleryDropZone"), 42);
        QCOMPARE(height("shelfGalleryDetailBar"), 68);
        QCOMPARE(height("shelfGalleryFooterBar"), 25);
        QVERIFY(height("shelfGalleryFrame") >= 114);
        const QList<IslandActionTileButton*> tiles = m_view->shelfGalleryTiles();
        for (int i = 0; i < tiles.size(); ++i) {
            QCOMPARE(tiles.at(i)->width(), 40);
            QCOMPARE(tiles.at(i)->x(), i * 44);
        }
        QCOMPARE(tileTitles(tiles),
                 (QStringList{QStringLiteral("Preview"), QStringLiteral("Copy"), QStringLiteral("Send"),
                              QStringLiteral("Folder"), QStringLiteral("Remove"), QStringLiteral("Combine")}));
        QCOMPARE(tiles.at(3)->toolTip(), QStringLiteral("Show in file manager"));
        QCOMPARE(tiles.at(5)->toolTip(), QStringLiteral("Combine Copy"));
        // The toggle names the island, not a notch.
        QCOMPARE(m_view->shelfGalleryDropZone()->toggleLabel()->text(), QStringLiteral("Show island drop zone"));
        QVERIFY(m_view->shelfGalleryDropZone()->toggleContainer()->isVisible());
        // The list variant never shows, in either mode.
        QVERIFY(!m_view->shelfContainer()->isVisible());
        m_view->setContentMode(IslandView::ContentMode::history, false);
        m_view->setContentMode(IslandView::ContentMode::shelfGallery, false);
        QVERIFY(!m_view->shelfContainer()->isVisible());
    }

    void layout_chineseTileTitles()
    {
        makeView(true);
        QCOMPARE(tileTitles(m_view->shelfGalleryTiles()),
                 (QStringList{QStringLiteral("预览"), QStringLiteral("复制"), QStringLiteral("发送"),
                              QStringLiteral("文件夹"), QStringLiteral("移除"), QStringLiteral("组合")}));
        QCOMPARE(m_view->shelfGalleryDropZone()->toggleLabel()->text(), QStringLiteral("显示灵动岛投放区"));
    }

    void cardStrip_verticalWheelScrollsSideways()
    {
        m_rig->expand();
        m_view->setContentMode(IslandView::ContentMode::shelfGallery, false);
        QList<ShelfItem> items;
        for (int i = 0; i < 8; ++i)
            items.append(textEntry(QStringLiteral("entry %1").arg(i)));
        push(items);
        m_rig->canvas->show();
        QVERIFY(QTest::qWaitForWindowExposed(m_rig->canvas.get()));
        m_view->relayoutNow();
        QCoreApplication::sendPostedEvents();
        QScrollBar* bar = m_view->shelfGalleryScrollView()->horizontalScrollBar();
        QVERIFY(bar->maximum() > 0);
        QCOMPARE(bar->value(), 0);
        QWidget* viewport = m_view->shelfGalleryScrollView()->viewport();
        const QPointF centre = QRectF(viewport->rect()).center();
        QWheelEvent wheel(centre, viewport->mapToGlobal(centre), QPoint(), QPoint(0, -120), Qt::NoButton, {},
                          Qt::NoScrollPhase, false);
        QCoreApplication::sendEvent(viewport, &wheel);
        QVERIFY(bar->value() > 0);
    }

    // MARK: Session line

    void sessionLine_data()
    {
        QTest::addColumn<bool>("chinese");
        QTest::addColumn<int>("sessions");
        QTest::addColumn<bool>("matchingID");
        QTest::addColumn<QString>("expected");
        QTest::newRow("no sessions") << false << 0 << false << QStringLiteral("Default · 0 items");
        QTest::newRow("no sessions, Chinese") << true << 0 << false << QStringLiteral("默认 · 0 项");
        QTest::newRow("unknown id shows the first") << false << 2 << false << QStringLiteral("First · 1 item");
        QTest::newRow("selected second") << false << 2 << true << QStringLiteral("Second · 2 items");
        QTest::newRow("selected second, Chinese") << true << 2 << true << QStringLiteral("Second · 2 项");
    }

    void sessionLine()
    {
        QFETCH(bool, chinese);
        QFETCH(int, sessions);
        QFETCH(bool, matchingID);
        QFETCH(QString, expected);
        makeView(chinese);
        QList<ShelfSession> list;
        if (sessions > 0) {
            list = {
                session(QStringLiteral("First"), {textEntry(QStringLiteral("a"))}),
                session(QStringLiteral("Second"), {textEntry(QStringLiteral("b")), textEntry(QStringLiteral("c"))})};
        }
        m_view->configureShelf(list, matchingID ? list.at(1).id : QUuid::createUuid(), std::nullopt);
        QCOMPARE(m_view->shelfGallerySessionSubtitle()->text(), expected);
        QCOMPARE(m_view->shelfGallerySessionTitle()->text(),
                 chinese ? QStringLiteral("当前会话") : QStringLiteral("Current Session"));
    }

    // MARK: Detail bar

    void detail_emptyShelfDisablesEveryTile()
    {
        push({});
        QCOMPARE(m_view->shelfGalleryDetailTitle()->text(), QStringLiteral("Shelf is empty"));
        QCOMPARE(m_view->shelfGalleryDetailSubtitle()->text(), QStringLiteral("Drop files, images, text or links"));
        QVERIFY(!m_view->shelfGalleryDetailSubtitle()->isHidden());
        QVERIFY(m_view->shelfGalleryDetailThumbnail()->isHidden());
        QVERIFY(m_view->shelfGalleryDetailChipTexts().isEmpty());
        QCOMPARE(enabledTiles(m_view->shelfGalleryTiles()), QStringLiteral("------"));
        // The hidden panel follows: hidden, reset, all tiles off.
        QVERIFY(m_view->shelfActionPanel()->isHidden());
        QCOMPARE(m_view->shelfActionTitle()->text(), QStringLiteral("Shelf"));
        QCOMPARE(m_view->shelfActionSubtitle()->text(), QStringLiteral("Select an item to act"));
        for (const IslandActionTileButton* tile : m_view->shelfActionTiles())
            QVERIFY(!tile->isEnabled());
    }

    void detail_oneEntry_data()
    {
        QTest::addColumn<ShelfItem>("item");
        QTest::addColumn<QString>("tiles");
        QTest::addColumn<QString>("description");
        const QString gone =
            QStringLiteral("/nonexistent-%1/report.pdf").arg(QUuid::createUuid().toString(QUuid::Id128));
        QTest::newRow("link: no Finder") << linkEntry() << QStringLiteral("PCA-XM")
                                         << QStringLiteral("example.org preview");
        QTest::newRow("text") << textEntry(QStringLiteral("note")) << QStringLiteral("PCA-XM")
                              << QStringLiteral("note preview");
        QTest::newRow("image: Finder") << imageEntry() << QStringLiteral("PCARXM") << QStringLiteral("Image preview");
        QTest::newRow("sensitive image: no Finder")
            << imageEntry(true) << QStringLiteral("PCA-XM") << QStringLiteral("Sensitive content hidden");
        QTest::newRow("deleted files: shared, not revealed")
            << fileEntry({gone}) << QStringLiteral("PCA-XM") << QStringLiteral("file preview");
        ShelfItem broken =
            entry(ClipKind::image, ShelfPayload::imagePNG(QByteArray("not a picture")), QStringLiteral("Image"));
        QTest::newRow("undecodable image: nothing to share")
            << broken << QStringLiteral("PC-RXM") << QStringLiteral("Image preview");
    }

    void detail_oneEntry()
    {
        QFETCH(ShelfItem, item);
        QFETCH(QString, tiles);
        QFETCH(QString, description);
        push({item});
        QCOMPARE(m_view->selectedShelfItemID(), std::optional<QUuid>(item.id));
        QCOMPARE(enabledTiles(m_view->shelfGalleryTiles()), tiles);
        QCOMPARE(m_view->shelfGalleryDetailDescription()->text(), description);
        QVERIFY(m_view->shelfGalleryDetailSubtitle()->isHidden());
        QVERIFY(!m_view->shelfGalleryDetailThumbnail()->isHidden());
        QCOMPARE(m_view->shelfGalleryDetailThumbnail()->currentItemID(), std::optional<QUuid>(item.id));
        QCOMPARE(m_view->shelfGalleryDetailChipTexts(), IslandView::metadataChips(item).mid(0, 3));
    }

    void detail_existingFileIsRevealable()
    {
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        const QString path = dir.filePath(QStringLiteral("notes.txt"));
        writeFile(path, 10);
        push({fileEntry({path})});
        QCOMPARE(enabledTiles(m_view->shelfGalleryTiles()), QStringLiteral("PCARXM"));
    }

    void detail_sensitiveEntryNeverShowsItsSecret()
    {
        ShelfItem secret = textEntry(QStringLiteral("hunter2-token"));
        secret.isSensitive = true;
        secret.subtitle = QStringLiteral("hunter2-token · x");
        push({secret});
        QCOMPARE(m_view->shelfGalleryDetailTitle()->text(), QStringLiteral("Private text"));
        QCOMPARE(m_view->shelfGalleryDetailDescription()->text(), QStringLiteral("Sensitive content hidden"));
        QVERIFY(!m_view->shelfGalleryDetailSubtitle()->text().contains(QStringLiteral("hunter2")));
        for (const QString& chip : m_view->shelfGalleryDetailChipTexts())
            QVERIFY2(!chip.contains(QStringLiteral("hunter2")), qPrintable(chip));
        QVERIFY(!m_view->shelfActionTitle()->text().contains(QStringLiteral("hunter2")));
        QVERIFY(!m_view->shelfActionSubtitle()->text().contains(QStringLiteral("hunter2")));
    }

    void detail_showsAtMostThreeChips()
    {
        ShelfItem item = textEntry(QStringLiteral("a"));
        item.subtitle = QStringLiteral("one · two · three · four");
        push({item});
        QCOMPARE(IslandView::metadataChips(item).size(), 6);
        QCOMPARE(m_view->shelfGalleryDetailChipTexts(),
                 (QStringList{QStringLiteral("Text"), QStringLiteral("one"), QStringLiteral("two")}));
    }

    void detail_multiSelection_data()
    {
        QTest::addColumn<bool>("chinese");
        QTest::addColumn<QString>("title");
        QTest::addColumn<QStringList>("chips");
        QTest::newRow("English") << false << QStringLiteral("3 selected")
                                 << QStringList{QStringLiteral("Multi"), QStringLiteral("3 items"),
                                                QStringLiteral("Combinable")};
        QTest::newRow("Chinese") << true << QStringLiteral("已选 3 项")
                                 << QStringList{QStringLiteral("多选"), QStringLiteral("3 项"),
                                                QStringLiteral("可组合")};
    }

    void detail_multiSelection()
    {
        QFETCH(bool, chinese);
        QFETCH(QString, title);
        QFETCH(QStringList, chips);
        makeView(chinese);
        const QList<ShelfItem> items{linkEntry(), textEntry(QStringLiteral("b")), textEntry(QStringLiteral("c")),
                                     textEntry(QStringLiteral("d"))};
        push(items);
        for (int i = 0; i < 3 && m_view->selectedShelfItemIDs().size() < 3; ++i) {
            if (!m_view->selectedShelfItemIDs().contains(items.at(i).id))
                m_view->toggleShelfSelection(items.at(i), false);
        }
        QCOMPARE(m_view->selectedShelfItemIDs().size(), 3);
        QCOMPARE(m_view->shelfGalleryDetailTitle()->text(), title);
        QCOMPARE(m_view->shelfGalleryDetailChipTexts(), chips);
        QVERIFY(!m_view->shelfGalleryDetailSubtitle()->isHidden());
        QCOMPARE(enabledTiles(m_view->shelfGalleryTiles()), QStringLiteral("-CA-XM"));
        QCOMPARE(m_view->shelfActionTitle()->text(), title);
    }

    void detailThumbnailClick_previewsTheFocusedEntryOnly()
    {
        push({});
        m_view->shelfGalleryDetailThumbnail()->onThumbnailClick();
        QVERIFY(!m_view->previewingItemID().has_value());
        const ShelfItem item = textEntry(QStringLiteral("look"));
        push({item});
        m_view->shelfGalleryDetailThumbnail()->onThumbnailClick();
        QCOMPARE(m_view->previewingItemID(), std::optional<QUuid>(item.id));
    }

    // MARK: Footer

    void footer_data()
    {
        QTest::addColumn<bool>("chinese");
        QTest::addColumn<QList<ShelfItem>>("items");
        QTest::addColumn<QString>("info");
        QTest::newRow("empty") << false << QList<ShelfItem>{} << QStringLiteral("0 items · 0 KB");
        QTest::newRow("empty, Chinese") << true << QList<ShelfItem>{} << QStringLiteral("0 项 · 0 KB");
        QTest::newRow("abc counts 3 bytes")
            << false << QList<ShelfItem>{textEntry(QStringLiteral("abc"))} << QStringLiteral("1 item · 3 bytes");
        QTest::newRow("你好 counts 6 bytes")
            << true << QList<ShelfItem>{textEntry(QStringLiteral("你好"))} << QStringLiteral("1 项 · 6 bytes");
        QTest::newRow("link in UTF-8") << false << QList<ShelfItem>{linkEntry()} << QStringLiteral("1 item · 21 bytes");
        QTest::newRow("PNG bytes as stored")
            << false << QList<ShelfItem>{entry(ClipKind::image, ShelfPayload::imagePNG(QByteArray(2048, 'p')))}
            << QStringLiteral("1 item · 2 KB");
        QTest::newRow("missing files count nothing")
            << false
            << QList<ShelfItem>{fileEntry({QStringLiteral("/nonexistent/a"), QStringLiteral("/nonexistent/b")})}
            << QStringLiteral("1 item · 0 KB");
    }

    void footer()
    {
        QFETCH(bool, chinese);
        QFETCH(QList<ShelfItem>, items);
        QFETCH(QString, info);
        makeView(chinese);
        push(items);
        QCOMPARE(m_view->shelfGalleryFooterInfoLabel()->text(), info);
        QCOMPARE(m_view->shelfGalleryFooterStorageLabel()->text(),
                 chinese ? QStringLiteral("本地存储") : QStringLiteral("Stored locally"));
        QCOMPARE(m_view->shelfGalleryFooterRetentionLabel()->text(),
                 chinese ? QStringLiteral("保留到手动清空") : QStringLiteral("Kept until you clear it"));
        QCOMPARE(m_view->shelfGalleryFooterClearButton()->isEnabled(), !items.isEmpty());
    }

    void footer_countsFilesByTheirOwnSize()
    {
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        writeFile(dir.filePath(QStringLiteral("a.bin")), 1500);
        writeFile(dir.filePath(QStringLiteral("b.bin")), 1000);
        push({fileEntry({dir.filePath(QStringLiteral("a.bin")), dir.filePath(QStringLiteral("b.bin")),
                         dir.filePath(QStringLiteral("gone.bin"))})});
        QCOMPARE(m_view->shelfEstimatedFootprintText(), QStringLiteral("3 KB"));
        QCOMPARE(IslandView::formattedShelfByteCount(0), QStringLiteral("0 KB"));
        QCOMPARE(IslandView::formattedShelfByteCount(-5), QStringLiteral("0 KB"));
    }

    // MARK: Drop hint

    void dropHint_endsEightTenthsAfterTheFirstPress()
    {
        ShelfDropZoneView* zone = m_view->shelfGalleryDropZone();
        QVERIFY(!zone->isHighlighted());
        zone->onToggleNotch();
        QVERIFY(zone->isHighlighted());
        QVERIFY(qAbs(zone->lineWidth() - 1.0) < 1e-9);
        m_rig->scheduler->advance(500);
        zone->onToggleNotch();
        QVERIFY(zone->isHighlighted());
        m_rig->scheduler->advance(299);
        QVERIFY(zone->isHighlighted());
        m_rig->scheduler->advance(1);
        // The first reset ends the highlight though the second press was later.
        QVERIFY(!zone->isHighlighted());
        QVERIFY(qAbs(zone->lineWidth() - 0.75) < 1e-9);
        m_rig->scheduler->advance(500);
        QVERIFY(!zone->isHighlighted());
    }

    void dropHint_resetAfterTheViewIsGoneDoesNothing()
    {
        const qsizetype before = m_rig->scheduler->pendingCount();
        m_view->shelfGalleryDropZone()->onToggleNotch();
        QCOMPARE(m_rig->scheduler->pendingCount(), before + 1);
        delete m_view;
        m_view = nullptr;
        m_rig->view = nullptr;
        // The reset falls due with its view gone: it is dropped, nothing runs against freed memory.
        m_rig->scheduler->advance(1000);
        QCOMPARE(m_rig->scheduler->pendingCount(), qsizetype(0));
    }
};

QUILLOMARE_GUI_TEST_MAIN(TestShelfGallery)

#include "tst_shelfgallery.moc"
