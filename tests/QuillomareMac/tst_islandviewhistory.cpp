#include "IslandViewTestRig.h"
#include "TestSupport.h"

#include "History/ClipRowView.h"
#include "History/HistoryListFooterView.h"
#include "History/HistoryPreviewPane.h"
#include "Island/Kit/IslandActionTileButton.h"
#include "Island/Kit/IslandListScrollView.h"
#include "Island/Kit/IslandSegmentedPillControl.h"
#include "Island/Kit/IslandToastView.h"
#include "Island/IslandView.h"
#include "Pasteboard/MacFileContent.h"
#include "QuickPreview/ClipQuickPreviewView.h"

#include <QuillomareCore/Hashing.h>
#include <QuillomareCore/Language.h>

#include <QAction>
#include <QApplication>
#include <QBuffer>
#include <QDir>
#include <QFileInfo>
#include <QImage>
#include <QLabel>
#include <QVBoxLayout>
#include <QLayout>
#include <QLineEdit>
#include <QMenu>
#include <QPlainTextEdit>
#include <QScrollBar>

#include <memory>

using namespace QuillomareMac;
namespace Language = QuillomareCore::Language;
using QuillomareCore::ClipboardItem;
using QuillomareCore::ClipboardPayload;
using QuillomareCore::ClipKind;
using QuillomareCore::ClipSourcePlatform;
using QuillomareCore::CloudSyncState;
using QuillomareTest::at;

namespace {

QByteArray tinyPNG()
{
    QImage image(4, 4, QImage::Format_RGB32);
    image.fill(Qt::darkCyan);
    QByteArray png;
    QBuffer buffer(&png);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "PNG");
    return png;
}

ClipboardItem entry(const QString& preview, ClipKind kind, ClipSourcePlatform platform = ClipSourcePlatform::mac,
                    bool pinned = false)
{
    ClipboardItem item = QuillomareTest::textItem(preview, at(0), pinned);
    item.kind = kind;
    item.sourcePlatform = platform;
    if (kind == ClipKind::image) {
        item.payload = ClipboardPayload::imagePNG(tinyPNG());
        item.contentHash = QuillomareCore::ClipHashing::imageContentHash(item.payload.imagePNGValue());
    } else if (kind == ClipKind::file) {
        item.payload = ClipboardPayload::fileURLs({QStringLiteral("/tmp/") + preview + QStringLiteral(".txt")});
    }
    return item;
}

} // namespace

// The history list as a user meets it: search and filters, the selection by mouse and keys,
// the inspector and its tiles, the More menu and the selection bar.
class TestIslandViewHistory : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init()
    {
        m_rig = std::make_unique<QuillomareTest::IslandViewTestRig>(QRect(297, 0, 185, 32));
        m_view = m_rig->view;
        m_rig->canvas->show();
        m_rig->canvas->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(m_rig->canvas.get()));
        m_rig->expand();
        m_log.clear();
        m_view->onSelectItem = [this](const ClipboardItem& item) { m_log << QStringLiteral("select:") + item.preview; };
        m_view->onCopyPasteVariantItem = [this](const ClipboardItem& item, PasteVariant variant) {
            m_log << QStringLiteral("variant:%1:").arg(int(variant)) + item.preview;
        };
        m_view->onCopyPlainTextItem = [this](const ClipboardItem& item) {
            m_log << QStringLiteral("plain:") + item.preview;
        };
        m_view->onCopyQuickPreviewText = [this](const QString& text) { m_log << QStringLiteral("text:") + text; };
        m_view->onCombineItems = [this](const QList<ClipboardItem>& items, CombinedPasteFormat format) {
            QStringList previews;
            for (const ClipboardItem& item : items)
                previews << item.preview;
            m_log << QStringLiteral("combine:%1:").arg(int(format)) + previews.join(QLatin1Char(','));
        };
        m_view->onRecognizeTextItem = [this](const ClipboardItem& item) {
            m_log << QStringLiteral("ocr:") + item.preview;
        };
        m_view->onHide = [this] { m_log << QStringLiteral("hide"); };
        m_view->onDeleteItem = [this](const ClipboardItem& item) { m_log << QStringLiteral("delete:") + item.preview; };
    }

    void cleanup() { m_rig.reset(); }

    void keptRowsTellTheirAgeAsOfTheRebuild()
    {
        QuillomareTest::ClockOverride clock(at(1000));
        const QList<ClipboardItem> items{QuillomareTest::textItem(QStringLiteral("alpha"), at(1000)),
                                         QuillomareTest::textItem(QStringLiteral("beta"), at(990))};
        configure(items);
        ClipRowView* kept = row(items[0]);
        QCOMPARE(kept->metaLabel()->text(), QStringLiteral("Text · just now · Computer"));

        // A search that keeps the row rebuilds the list around it: the row stays, its age moves on.
        clock.advance(180'000);
        m_view->searchInput()->setText(QStringLiteral("alpha"));
        QCOMPARE(row(items[0]), kept);
        QCOMPARE(kept->metaLabel()->text(), QStringLiteral("Text · 3m ago · Computer"));
        clock.advance(3'600'000);
        m_view->searchInput()->clear();
        QCOMPARE(row(items[0]), kept);
        QCOMPARE(kept->metaLabel()->text(), QStringLiteral("Text · 1h ago · Computer"));
    }

    void signatureDecidesTheRebuild()
    {
        QList<ClipboardItem> items{entry(QStringLiteral("alpha"), ClipKind::text),
                                   entry(QStringLiteral("beta"), ClipKind::text)};
        configure(items);
        const int rebuilds = m_view->historyRebuildCount();
        configure(items);
        QCOMPARE(m_view->historyRebuildCount(), rebuilds);

        // Every field a row shows changes the signature; so does the search text.
        items[1].isPinned = true;
        configure(items);
        QCOMPARE(m_view->historyRebuildCount(), rebuilds + 1);
        items[0].sourceAppName = QStringLiteral("Kate");
        configure(items);
        QCOMPARE(m_view->historyRebuildCount(), rebuilds + 2);
        m_view->searchInput()->setText(QStringLiteral("ALPHA "));
        QCOMPARE(m_view->historyRebuildCount(), rebuilds + 3);
        configure(items);
        QCOMPARE(m_view->historyRebuildCount(), rebuilds + 3);
        QVERIFY(m_view->lastHistoryRowsSignature()->contains(QStringLiteral("query=alpha")));
    }

    void abbreviationCountsCharacters()
    {
        const QString eighty(80, QLatin1Char('a'));
        QCOMPARE(IslandView::abbreviatedForSignature(eighty), eighty);
        // 81 characters, each two UTF-16 units: 48 + "…" + 24 of them.
        QString emoji;
        for (int i = 0; i < 81; ++i)
            emoji += QString::fromUtf8(i < 48 ? "😀" : "😎");
        const QString shortened = IslandView::abbreviatedForSignature(emoji);
        QCOMPARE(shortened.size(), (48 + 24) * 2 + 1);
        QVERIFY(shortened.startsWith(QString::fromUtf8("😀")));
        QCOMPARE(shortened.at(96), QChar(0x2026));
        QCOMPARE(IslandView::payloadSignature(ClipboardPayload::imagePNG(QByteArray(20, 'x'))),
                 QStringLiteral("png:20:") + QString::fromLatin1(QByteArray(16, 'x').toBase64()));
        QCOMPARE(IslandView::payloadSignature(ClipboardPayload::fileURLs({QStringLiteral("/a"), QStringLiteral("/b")})),
                 QStringLiteral("files:2:/a|/b"));
    }

    void searchAndFilters_data()
    {
        QTest::addColumn<QString>("query");
        QTest::addColumn<int>("source");
        QTest::addColumn<int>("kind");
        QTest::addColumn<QStringList>("visible");
        QTest::addColumn<QString>("emptyChinese");

        QTest::newRow("everything") << QString() << 0 << -1
                                    << QStringList{"pinned note", "phone link", "mac shot", "phone shot", "report"}
                                    << QString();
        QTest::newRow("spaces are no query")
            << QStringLiteral("   ") << 0 << -1
            << QStringList{"pinned note", "phone link", "mac shot", "phone shot", "report"} << QString();
        QTest::newRow("ios finds the iPhone's")
            << QStringLiteral("ios") << 0 << -1 << QStringList{"phone link", "phone shot"} << QString();
        // The words the rows, the source filter and the inspector show find the entries too.
        QTest::newRow("computer finds this computer's")
            << QStringLiteral("Computer") << 0 << -1 << QStringList{"pinned note", "mac shot", "report"} << QString();
        QTest::newRow("本机 finds this computer's")
            << QStringLiteral("本机") << 0 << -1 << QStringList{"pinned note", "mac shot", "report"} << QString();
        QTest::newRow("phone finds the phone's")
            << QStringLiteral("phone") << 0 << -1 << QStringList{"phone link", "phone shot"} << QString();
        QTest::newRow("网址 finds links")
            << QStringLiteral("网址") << 0 << -1 << QStringList{"phone link"} << QString();
        QTest::newRow("pinned") << QStringLiteral("PINNED") << 0 << -1 << QStringList{"pinned note"} << QString();
        QTest::newRow("two terms") << QStringLiteral("mac 图片") << 0 << -1 << QStringList{"mac shot"} << QString();
        QTest::newRow("no match") << QStringLiteral("zebra") << 0 << -1 << QStringList{}
                                  << QStringLiteral("没有匹配结果");
        QTest::newRow("iPhone source") << QString() << 2 << -1 << QStringList{"phone link", "phone shot"} << QString();
        QTest::newRow("pinned images: none")
            << QString() << 3 << 3 << QStringList{} << QStringLiteral("暂无置顶图片历史");
        QTest::newRow("iPhone files: none")
            << QString() << 2 << 2 << QStringList{} << QStringLiteral("暂无手机文件历史");
        QTest::newRow("unknown kinds hide under a kind")
            << QString() << 0 << 0 << QStringList{"pinned note"} << QString();
        QTest::newRow("no pinned links") << QString() << 3 << -1 << QStringList{"pinned note"} << QString();
    }

    void searchAndFilters()
    {
        QFETCH(QString, query);
        QFETCH(int, source);
        QFETCH(int, kind);
        QFETCH(QStringList, visible);
        QFETCH(QString, emptyChinese);

        ClipboardItem unknown = entry(QStringLiteral("report"), ClipKind::unknown);
        unknown.payload = ClipboardPayload();
        configure({entry(QStringLiteral("pinned note"), ClipKind::text, ClipSourcePlatform::mac, true),
                   entry(QStringLiteral("phone link"), ClipKind::url, ClipSourcePlatform::iphone),
                   entry(QStringLiteral("mac shot"), ClipKind::image),
                   entry(QStringLiteral("phone shot"), ClipKind::image, ClipSourcePlatform::iphone), unknown});
        m_view->filterControl()->setSelectedSegmentIndex(source, false);
        m_view->kindFilterControl()->setSelectedSegmentIndex(kind, false);
        m_view->filterChanged();
        m_view->searchInput()->setText(query);

        QStringList shown;
        for (const ClipboardItem& item : m_view->visibleItems()) {
            shown << item.preview;
            QVERIFY(m_view->historyRow(item.id));
        }
        QCOMPARE(shown, visible);
        QCOMPARE(bool(m_view->historyEmptyLabel()), visible.isEmpty());
        QCOMPARE(bool(m_view->historyFooter()), !visible.isEmpty());
        if (!visible.isEmpty()) {
            QCOMPARE(m_view->historyFooter()->label()->text(),
                     visible.size() == 1 ? QStringLiteral("1 item") : QStringLiteral("%1 items").arg(visible.size()));
            return;
        }
        QCOMPARE(static_cast<QLabel*>(m_view->historyEmptyLabel())->text(),
                 query.isEmpty() ? QStringLiteral("No matching history") : QStringLiteral("No matching results"));
        QuillomareTest::IslandViewTestRig chinese(QRect(297, 0, 185, 32), true);
        chinese.view->filterControl()->setSelectedSegmentIndex(source, false);
        chinese.view->kindFilterControl()->setSelectedSegmentIndex(kind, false);
        chinese.view->searchInput()->setText(query);
        QCOMPARE(chinese.view->emptyMessage(!query.trimmed().isEmpty()), emptyChinese);
        Language::setIsChineseForTesting(false);
    }

    // The bar's appearance runs the list's pending layouts at once, and no other window's.
    void selectionBarRunsOnlyTheListsLayouts()
    {
        const QList<ClipboardItem> items = fourTexts();
        configure(items);
        QWidget other;
        auto* layout = new QVBoxLayout(&other);
        layout->addWidget(new QLabel(QStringLiteral("elsewhere")));
        other.show();
        QCoreApplication::processEvents();
        struct LayoutRequests final : QObject
        {
            int count = 0;
            bool eventFilter(QObject*, QEvent* event) override
            {
                count += event->type() == QEvent::LayoutRequest;
                return false;
            }
        } requests;
        other.installEventFilter(&requests);
        layout->invalidate();
        click(items[0], Qt::ControlModifier);
        click(items[1], Qt::ControlModifier);
        QVERIFY(!m_view->historySelectionBar()->isHidden());
        QCOMPARE(requests.count, 0);
        QTRY_COMPARE(requests.count, 1);
    }

    void modifierClicksBuildTheMultiSelection()
    {
        const QList<ClipboardItem> items = fourTexts();
        configure(items);
        click(items[0]);
        click(items[1], Qt::ControlModifier);
        QCOMPARE(m_view->selectedHistoryItemIDs(), QSet<QUuid>{items[1].id});
        QVERIFY(m_view->historySelectionBar()->isHidden());
        QCOMPARE(actionPreviews(), QStringList{"B"});
        QVERIFY(!row(items[0])->isSelected());

        click(items[2], Qt::ControlModifier);
        QVERIFY(!m_view->historySelectionBar()->isHidden());
        QCOMPARE(m_view->historySelectionLabel()->text(), QStringLiteral("2 selected"));
        QCOMPARE(actionPreviews(), (QStringList{"B", "C"}));

        // A plain click moves the primary only.
        click(items[3]);
        QCOMPARE(*m_view->selectedItemID(), items[3].id);
        QCOMPARE(actionPreviews(), (QStringList{"B", "C"}));
        for (int i = 1; i < 4; ++i)
            QVERIFY(row(items[i])->isSelected());
        QCOMPARE(m_view->historyInspectorTitle()->text(), QStringLiteral("Text"));
        QCOMPARE(m_view->historyInspectorPreview()->currentItemID(), std::optional<QUuid>(items[1].id));

        // Leaving the set keeps the entry as the (highlighted) primary.
        click(items[2], Qt::ControlModifier);
        QCOMPARE(m_view->selectedHistoryItemIDs(), QSet<QUuid>{items[1].id});
        QVERIFY(row(items[2])->isSelected());

        // Combine joins in list order, whatever order the clicks came in.
        click(items[0], Qt::ControlModifier);
        m_view->historyCombineTapped(2);
        QCOMPARE(m_log.last(), QStringLiteral("combine:2:A,B"));
    }

    void shiftClicksExtendFromTheAnchor()
    {
        QList<ClipboardItem> items;
        for (const char* fruit : {"kiwi", "lime", "mango", "nectarine", "olive"})
            items << entry(QString::fromLatin1(fruit), ClipKind::text);
        configure(items);
        // Without an anchor Shift toggles like Control; the next Shift adds the range.
        click(items[4], Qt::ShiftModifier);
        QCOMPARE(m_view->selectedHistoryItemIDs(), QSet<QUuid>{items[4].id});
        click(items[1], Qt::ShiftModifier);
        QCOMPARE(m_view->selectedHistoryItemIDs().size(), 4);
        QCOMPARE(actionPreviews(), (QStringList{"lime", "mango", "nectarine", "olive"}));

        // An anchor hidden by the search makes Shift toggle.
        m_view->searchInput()->setText(QStringLiteral("kiwi"));
        QCOMPARE(m_view->visibleItems().size(), 1);
        click(items[0], Qt::ShiftModifier);
        QCOMPARE(m_view->selectedHistoryItemIDs().size(), 5);
        QCOMPARE(m_view->historySelectionLabel()->text(), QStringLiteral("5 selected"));
    }

    void filteringMovesAndClearsTheSelection()
    {
        const QList<ClipboardItem> items = fourTexts();
        configure(items);
        click(items[2]);
        click(items[1], Qt::ControlModifier);
        click(items[3], Qt::ControlModifier);

        // Hiding the primary moves it to the first visible entry; hidden members stay counted.
        m_view->searchInput()->setText(QStringLiteral("d"));
        QCOMPARE(*m_view->selectedItemID(), items[3].id);
        QCOMPARE(m_view->historySelectionLabel()->text(), QStringLiteral("2 selected"));
        // Only one usable entry: combine does nothing.
        m_view->historyCombineTapped(0);
        QVERIFY(m_log.isEmpty());

        m_view->searchInput()->setText(QStringLiteral("nothing here"));
        QVERIFY(!m_view->selectedItemID());
        QVERIFY(m_view->selectedHistoryItemIDs().isEmpty());
        QCOMPARE(m_view->historyInspectorTitle()->text(), QStringLiteral("Details"));
        for (IslandActionTileButton* tile : m_view->historyInspectorTiles())
            QVERIFY(!tile->isEnabled());

        m_view->searchInput()->clear();
        QCOMPARE(*m_view->selectedItemID(), items[0].id);
        QVERIFY(m_view->selectedHistoryItemIDs().isEmpty());
    }

    void keysPickAndCopy()
    {
        const QList<ClipboardItem> items = fourTexts();
        configure(items);
        m_view->searchInput()->setFocus();
        QTest::keyClick(m_view->searchInput(), Qt::Key_Up);
        QCOMPARE(*m_view->selectedItemID(), items[0].id);
        QTest::keyClick(m_view->searchInput(), Qt::Key_Down);
        QTest::keyClick(m_view->searchInput(), Qt::Key_Down);
        QTest::keyClick(m_view->searchInput(), Qt::Key_Return);
        QCOMPARE(m_log, QStringList{"select:C"});
        for (int i = 0; i < 5; ++i)
            QTest::keyClick(m_view->searchInput(), Qt::Key_Down);
        QCOMPARE(*m_view->selectedItemID(), items[3].id);

        // Type to find, Return to copy: the search selects the first match.
        QTest::keyClicks(m_view->searchInput(), QStringLiteral("b"));
        QTest::keyClick(m_view->searchInput(), Qt::Key_Enter);
        QCOMPARE(m_log.last(), QStringLiteral("select:B"));

        // With the island itself holding the keyboard, Return and Escape still work.
        m_view->setFocus();
        QTest::keyClick(m_view, Qt::Key_Return);
        QCOMPARE(m_log.last(), QStringLiteral("select:B"));
        QCOMPARE(m_log.size(), 3);
        QTest::keyClick(m_view, Qt::Key_Escape);
        QCOMPARE(m_log.last(), QStringLiteral("hide"));
    }

    void aTypedCharacterIsDrawnBeforeTheListIsFiltered()
    {
        const QList<ClipboardItem> items = fourTexts();
        configure(items);
        m_view->searchInput()->setFocus();
        // What the field had drawn, and how many filters had run, at each of its paints.
        struct PaintRecorder : QObject
        {
            IslandView* view = nullptr;
            QList<std::pair<QString, int>> paints;
            bool eventFilter(QObject* watched, QEvent* event) override
            {
                if (event->type() == QEvent::Paint)
                    paints.append({view->searchInput()->text(), view->historyRebuildCount()});
                return QObject::eventFilter(watched, event);
            }
        } recorder;
        recorder.view = m_view;
        m_view->searchInput()->installEventFilter(&recorder);
        const int rebuilds = m_view->historyRebuildCount();

        QTest::keyClicks(m_view->searchInput(), QStringLiteral("d"));
        QTRY_COMPARE(m_view->historyRebuildCount(), rebuilds + 1);
        QVERIFY(m_view->visibleItems().size() < items.size());
        QCOMPARE(m_view->visibleItems().first().id, items[3].id);
        const auto firstWithD = std::find_if(recorder.paints.cbegin(), recorder.paints.cend(),
                                             [](const auto& paint) { return paint.first == QStringLiteral("d"); });
        QVERIFY(firstWithD != recorder.paints.cend());
        QCOMPARE(firstWithD->second, rebuilds);

        // Return right after a key acts on what was typed, filtered or not yet.
        QTest::keyClick(m_view->searchInput(), Qt::Key_Backspace);
        QTest::keyClicks(m_view->searchInput(), QStringLiteral("b"));
        QTest::keyClick(m_view->searchInput(), Qt::Key_Return);
        QCOMPARE(m_log.last(), QStringLiteral("select:B"));
        m_view->searchInput()->removeEventFilter(&recorder);
    }

    void escapeClosesThePreviewFirst()
    {
        const QList<ClipboardItem> items = fourTexts();
        configure(items);
        // A double click as the window system delivers it: the second press comes twice.
        const QPoint point(120, 20);
        QTest::mouseClick(row(items[1]), Qt::LeftButton, {}, point);
        QTest::mousePress(row(items[1]), Qt::LeftButton, {}, point);
        QTest::mouseDClick(row(items[1]), Qt::LeftButton, {}, point);
        QTest::mouseRelease(row(items[1]), Qt::LeftButton, {}, point);
        m_rig->scheduler->advance(500);
        QVERIFY(m_view->isQuickPreviewVisible());
        QCOMPARE(*m_view->previewingItemID(), items[1].id);
        QCOMPARE(*m_view->selectedItemID(), items[1].id);

        // A capture pushed while the preview shows refreshes it; one that hides its entry closes it.
        configure(QList<ClipboardItem>{entry(QStringLiteral("new"), ClipKind::text)} + items);
        QVERIFY(m_view->isQuickPreviewVisible());
        m_view->searchInput()->setFocus();
        QTest::keyClick(m_view->searchInput(), Qt::Key_Escape);
        QVERIFY(!m_view->isQuickPreviewVisible());
        QVERIFY(m_log.isEmpty());
        QTest::keyClick(m_view->searchInput(), Qt::Key_Escape);
        QCOMPARE(m_log, QStringList{"hide"});

        m_view->openHistoryQuickPreview(items[2]);
        m_rig->scheduler->advance(500);
        QVERIFY(m_view->isQuickPreviewVisible());
        m_view->searchInput()->setText(QStringLiteral("C"));
        QVERIFY(m_view->isQuickPreviewVisible());
        m_view->searchInput()->setText(QStringLiteral("D"));
        QVERIFY(!m_view->isQuickPreviewVisible());
        QVERIFY(!m_view->previewingItemID());
    }

    void aPushWhileTheShelfShowsKeepsItsPreview()
    {
        const QList<ClipboardItem> items = fourTexts();
        configure(items);
        m_view->setContentMode(IslandView::ContentMode::shelfGallery, false);
        const ClipboardItem shelfEntry = entry(QStringLiteral("shelf text"), ClipKind::text);
        m_view->presentQuickPreview(shelfEntry, false);
        configure(items.mid(1));
        QVERIFY(m_view->isQuickPreviewVisible());
        QCOMPARE(*m_view->previewingItemID(), shelfEntry.id);
    }

    void inspectorShowsTheSubject()
    {
        ClipboardItem text = entry(QStringLiteral("twelve chars"), ClipKind::text, ClipSourcePlatform::unknown, true);
        ClipboardItem files = entry(QStringLiteral("files"), ClipKind::file);
        files.payload = ClipboardPayload::fileURLs({QStringLiteral("/tmp/README"), QStringLiteral("/tmp/notes.txt")});
        ClipboardItem image = entry(QStringLiteral("shot"), ClipKind::image);
        configure({text, files, image});

        QCOMPARE(m_view->historyInspectorPinnedStatus()->text(), QStringLiteral("Pinned"));
        QCOMPARE(IslandView::historyInspectorChips(text), (QStringList{"12 chars", "UTF-8", "Plain Text"}));
        QCOMPARE(IslandView::historyInspectorChips(files), (QStringList{"2 items", "TXT", "File"}));
        QCOMPARE(IslandView::historyInspectorChips(image).mid(1), (QStringList{"PNG", "Image"}));
        QVERIFY(m_view->historyInspectorInfo()->text().startsWith(
            QStringLiteral("Source：Unknown    Type：Text    Size：12 chars    Added：")));
        // Three chips, the spacer, the platform and the age.
        QCOMPARE(m_view->historyInspectorChipRow()->layout()->count(), 6);

        const QList<IslandActionTileButton*> tiles = m_view->historyInspectorTiles();
        QCOMPARE(tiles.size(), 11);
        QVERIFY(tiles[0]->isEnabled() && tiles[1]->isEnabled());
        QVERIFY(!tiles[4]->isEnabled() && !tiles[6]->isEnabled() && !tiles[8]->isEnabled());
        QVERIFY(tiles[9]->isEnabled() && tiles[10]->isEnabled());

        // An image can be exported and shown unless it is private.
        click(image);
        QVERIFY(tiles[8]->isEnabled());
        QVERIFY(tiles[8]->toolTip().startsWith(QStringLiteral("Exports to")));
        // It names the folder the export really writes to, from the home folder on.
        const std::optional<QString> exported = ClipboardImageExportStore::exportImage(image);
        QVERIFY(exported);
        const QString folder = QFileInfo(*exported).path();
        QVERIFY(folder.startsWith(QDir::homePath() + u'/') &&
                folder.endsWith(QLatin1String("/Quillomare/ExportedImages")));
        QCOMPARE(tiles[8]->toolTip(),
                 QStringLiteral("Exports to ~%1 and shows in the file manager; removed together with the item")
                     .arg(folder.mid(QDir::homePath().size())));
        image.isSensitive = true;
        configure({text, files, image});
        QVERIFY(!tiles[8]->isEnabled());
        QCOMPARE(tiles[8]->toolTip(), QStringLiteral("Show in file manager"));
    }

    void tilesAndShortcutsActOnTheFirstSelected()
    {
        ClipboardItem link = entry(QStringLiteral("https://example.com/?utm_source=x"), ClipKind::url);
        const ClipboardItem image = entry(QStringLiteral("shot"), ClipKind::image);
        ClipboardItem secret = entry(QStringLiteral("secret shot"), ClipKind::image);
        secret.isSensitive = true;
        const ClipboardItem note = entry(QStringLiteral("note"), ClipKind::text);
        configure({note, link, image, secret});

        // The multi-selection decides; Return still copies the primary.
        click(image);
        click(link, Qt::ControlModifier);
        click(note, Qt::ControlModifier);
        click(image);
        QTest::keyClick(m_view, Qt::Key_1, Qt::ControlModifier);
        QCOMPARE(m_log, QStringList{"text:note"}); // the first selected in list order, as the inspector shows it
        m_log.clear();
        QTest::keyClick(m_view, Qt::Key_4, Qt::ControlModifier);
        QVERIFY(m_log.isEmpty()); // the note has no link to clean
        m_view->clearHistorySelectionTapped();
        QCOMPARE(actionPreviews(), QStringList{"shot"});
        QTest::keyClick(m_view, Qt::Key_3, Qt::ControlModifier);
        QVERIFY(m_log.isEmpty());
        QVERIFY(!m_view->historyInspectorTiles()[2]->isShowingCopyConfirmation());
        QTest::keyClick(m_view, Qt::Key_2, Qt::ControlModifier);
        QCOMPARE(m_log, QStringList{"plain:shot"});
        QVERIFY(m_view->historyInspectorTiles()[1]->isShowingCopyConfirmation());

        // Extract Text: a private image is recognised by the shell, another opens the preview.
        m_log.clear();
        m_view->historyOCRTapped();
        m_rig->scheduler->advance(500);
        QVERIFY(m_log.isEmpty());
        QVERIFY(m_view->isQuickPreviewVisible());
        m_view->dismissQuickPreview(false);
        click(secret);
        m_view->historyOCRTapped();
        QCOMPARE(m_log, QStringList{"ocr:secret shot"});
        QVERIFY(!m_view->isQuickPreviewVisible());
    }

    void editedDraftIsWhatOriginalCopies()
    {
        const ClipboardItem note = entry(QStringLiteral("stored text"), ClipKind::text);
        configure({note});
        QTest::keyClick(m_view, Qt::Key_1, Qt::ControlModifier);
        QCOMPARE(m_log, QStringList{"text:stored text"});

        QPlainTextEdit* editor = m_view->historyInspectorPreview()->textView();
        editor->setPlainText(QStringLiteral("edited"));
        QTest::keyClick(m_view, Qt::Key_1, Qt::ControlModifier);
        QCOMPARE(m_log.last(), QStringLiteral("text:edited"));
        // Blank drafts fall back to the entry itself.
        editor->setPlainText(QStringLiteral("  \n"));
        m_view->historyOriginalTapped();
        QCOMPARE(m_log.last(), QStringLiteral("select:stored text"));

        // Clearing the selection refreshes the inspector: the draft of another entry is gone.
        editor->setPlainText(QStringLiteral("draft"));
        m_view->clearHistorySelectionTapped();
        m_view->historyOriginalTapped();
        QCOMPARE(m_log.last(), QStringLiteral("text:stored text"));
    }

    void moreMenuFollowsTheEntry()
    {
        ClipboardItem pinned = entry(QStringLiteral("pinned & text"), ClipKind::text);
        pinned.isPinned = true;
        const ClipboardItem image = entry(QStringLiteral("shot"), ClipKind::image);
        configure({pinned, image});

        std::unique_ptr<QMenu> menu(m_view->makeHistoryMoreMenu());
        QVERIFY(menu);
        QStringList titles;
        for (QAction* action : menu->actions())
            titles << (action->isSeparator() ? QStringLiteral("-") : action->text());
        QVERIFY(titles.contains(QStringLiteral("Unpin")));
        QVERIFY(titles.contains(QStringLiteral("Copy with Whitespace Condensed")));

        click(image);
        menu.reset(m_view->makeHistoryMoreMenu());
        titles.clear();
        for (QAction* action : menu->actions()) {
            titles << (action->isSeparator() ? QStringLiteral("-") : action->text());
            if (action->text().startsWith(QStringLiteral("QR Code")))
                QVERIFY(!action->isEnabled());
        }
        QVERIFY(!titles.contains(QStringLiteral("Copy with Whitespace Condensed")));
        QCOMPARE(titles.last(), QStringLiteral("Delete this item"));
        menu->actions().last()->trigger();
        QCOMPARE(m_log, QStringList{"delete:shot"});
    }

    void selectionBarTakesItsRoom()
    {
        const QList<ClipboardItem> items = fourTexts();
        configure(items);
        m_view->setExpandedContentHeight(32 + 7 + 330);
        QCOMPARE(*m_view->scrollHeightConstraint(), 330.0 - 42);
        click(items[0], Qt::ControlModifier);
        click(items[1], Qt::ControlModifier);
        QCOMPARE(*m_view->scrollHeightConstraint(), 330.0 - 84);

        // On the smallest deck the list keeps to the body beside the bar.
        m_view->setExpandedContentHeight(32 + 7 + 300);
        QCOMPARE(*m_view->scrollHeightConstraint(), 300.0 - 42 - 34);
        m_view->relayoutNow();
        QVERIFY(m_view->scrollView()->geometry().bottom() < m_view->historyListColumn()->height());

        m_view->clearHistorySelectionTapped();
        QVERIFY(m_view->historySelectionBar()->isHidden());
        QCOMPARE(*m_view->scrollHeightConstraint(), 300.0 - 42);
        QVERIFY(row(items[1])->isSelected());
        QVERIFY(!row(items[0])->isSelected());
    }

    void rowsStayUnderThePointerAsTheSelectionBarComesAndGoes_data()
    {
        QTest::addColumn<int>("count");
        QTest::addColumn<int>("scrolledBy");
        QTest::addColumn<int>("first");
        QTest::newRow("a short list") << 4 << 0 << 0;
        QTest::newRow("a long list, at its top") << 40 << 0 << 1;
        QTest::newRow("a long list, scrolled") << 40 << 130 << 5;
    }

    void rowsStayUnderThePointerAsTheSelectionBarComesAndGoes()
    {
        // Three Ctrl-clicks without moving between rows: the second brings the selection bar
        // above the list, and the third must still toggle the row the pointer is over.
        QFETCH(int, count);
        QFETCH(int, scrolledBy);
        QFETCH(int, first);
        QList<ClipboardItem> items;
        for (int i = 0; i < count; ++i)
            items << entry(QStringLiteral("entry %1").arg(i), ClipKind::text);
        configure(items);
        m_view->relayoutNow();
        m_view->scrollView()->verticalScrollBar()->setValue(scrolledBy);
        QCoreApplication::processEvents();
        QWidget* window = m_rig->canvas.get();
        const auto pointOn = [&](int index) {
            ClipRowView* target = row(items[index]);
            return target ? target->mapTo(window, QPoint(120, 20)) : QPoint(-1, -1);
        };
        const auto ctrlClick = [&](const QPoint& at) {
            QTest::mouseClick(window->windowHandle(), Qt::LeftButton, Qt::ControlModifier, at);
            QCoreApplication::processEvents();
        };
        const QList<QPoint> points{pointOn(first), pointOn(first + 1), pointOn(first + 2)};
        for (const QPoint& point : points)
            QVERIFY(window->rect().contains(point));

        ctrlClick(points[0]);
        ctrlClick(points[1]);
        QVERIFY(!m_view->historySelectionBar()->isHidden());
        for (int i = 0; i < 3; ++i)
            QCOMPARE(pointOn(first + i), points[i]);
        ctrlClick(points[2]);
        QCOMPARE(m_view->selectedHistoryItemIDs(),
                 (QSet<QUuid>{items[first].id, items[first + 1].id, items[first + 2].id}));

        // Down to one selected entry: the bar goes, and the rows stay put again.
        ctrlClick(points[2]);
        ctrlClick(points[1]);
        QVERIFY(m_view->historySelectionBar()->isHidden());
        for (int i = 0; i < 3; ++i)
            QCOMPARE(pointOn(first + i), points[i]);
        ctrlClick(points[1]);
        QCOMPARE(m_view->selectedHistoryItemIDs(), (QSet<QUuid>{items[first].id, items[first + 1].id}));
    }

    void collapsedMessageShowsOnceExpanded()
    {
        m_view->setDisplayMode(IslandView::DisplayMode::collapsed, false);
        m_view->configure({}, CloudSyncState::idle(), QStringLiteral("History file set aside"));
        QVERIFY(!m_view->transientToast() || m_view->transientToast()->isHidden());
        m_view->setDisplayMode(IslandView::DisplayMode::expanded, false);
        QVERIFY(m_view->transientToast());
        QCOMPARE(m_view->transientToast()->text(), QStringLiteral("History file set aside"));

        // A later push without a message makes a waiting one stale; so does time.
        m_view->setDisplayMode(IslandView::DisplayMode::collapsed, false);
        m_view->configure({}, CloudSyncState::idle(), QStringLiteral("Stale"));
        m_view->configure({}, CloudSyncState::idle(), std::nullopt);
        m_view->setDisplayMode(IslandView::DisplayMode::expanded, false);
        QCOMPARE(m_view->transientToast()->text(), QStringLiteral("History file set aside"));
        m_view->setDisplayMode(IslandView::DisplayMode::collapsed, false);
        m_view->configure({}, CloudSyncState::idle(), QStringLiteral("Ignored an hour ago"));
        m_rig->scheduler->advance(60 * 60 * 1000);
        m_view->setDisplayMode(IslandView::DisplayMode::expanded, false);
        QCOMPARE(m_view->transientToast()->text(), QStringLiteral("History file set aside"));
    }

    void aLongListMakesRowsOnlyForWhatIsInView()
    {
        QList<ClipboardItem> items;
        for (int i = 0; i < 300; ++i)
            items << entry(QStringLiteral("entry %1").arg(i), ClipKind::text);
        configure(items);
        QVERIFY(m_view->historyRowCount() > 4);
        QVERIFY(m_view->historyRowCount() < 20);
        QCOMPARE(m_view->historyFooter()->label()->text(), QStringLiteral("300 items"));

        // Walking down with the keys brings every row it reaches into view.
        m_view->searchInput()->setFocus();
        for (int i = 0; i < 40; ++i)
            QTest::keyClick(m_view->searchInput(), Qt::Key_Down);
        ClipRowView* fortieth = row(items[40]);
        QVERIFY(fortieth);
        QVERIFY(fortieth->isSelected());
        const QRect inView = m_view->scrollView()->viewport()->rect();
        QVERIFY(inView.contains(fortieth->mapTo(m_view->scrollView()->viewport(), QPoint(5, 5))));
        QVERIFY(inView.contains(fortieth->mapTo(m_view->scrollView()->viewport(), QPoint(5, 35))));
        QVERIFY(m_view->historyRowCount() < 60);

        // A keystroke that keeps the same entries keeps their rows.
        ClipRowView* top = row(items[0]);
        m_view->searchInput()->setText(QStringLiteral("entry"));
        QCOMPARE(row(items[0]), top);
        QVERIFY(!top->isSelected());
        QVERIFY(row(items[40]) == nullptr || row(items[40])->isSelected());
    }

    void scrollViewFallbackReachesTheRow()
    {
        const QList<ClipboardItem> items = fourTexts();
        configure(items);
        ClipRowView* target = row(items[2]);
        const QPoint global = target->mapToGlobal(QPoint(100, 20));
        IslandListScrollView* scroll = m_view->scrollView();
        const QPointF local = scroll->mapFromGlobal(global);
        QMouseEvent press(QEvent::MouseButtonPress, local, global, Qt::LeftButton, Qt::LeftButton, Qt::ControlModifier);
        QVERIFY(scroll->onMouseDownFallback(&press));
        QCOMPARE(m_view->selectedHistoryItemIDs(), QSet<QUuid>{items[2].id});
        QMouseEvent release(QEvent::MouseButtonRelease, local, global, Qt::LeftButton, Qt::NoButton,
                            Qt::ControlModifier);
        QVERIFY(scroll->onMouseUpFallback(&release));
        // Nothing under the point: not handled.
        const QPointF below = scroll->mapFromGlobal(m_view->historyFooter()->mapToGlobal(QPoint(5, 30)));
        QMouseEvent miss(QEvent::MouseButtonPress, below, scroll->mapToGlobal(below), Qt::LeftButton, Qt::LeftButton,
                         Qt::NoModifier);
        QVERIFY(!scroll->onMouseDownFallback(&miss));
        QVERIFY(!scroll->onMouseUpFallback(&release));
    }

private:
    static QList<ClipboardItem> fourTexts()
    {
        return {entry(QStringLiteral("A"), ClipKind::text), entry(QStringLiteral("B"), ClipKind::text),
                entry(QStringLiteral("C"), ClipKind::text), entry(QStringLiteral("D"), ClipKind::text)};
    }

    void configure(const QList<ClipboardItem>& items)
    {
        m_view->configure(items, CloudSyncState::idle(), std::nullopt);
    }

    ClipRowView* row(const ClipboardItem& item) const { return m_view->historyRow(item.id); }

    void click(const ClipboardItem& item, Qt::KeyboardModifiers modifiers = {})
    {
        ClipRowView* target = row(item);
        QVERIFY(target);
        QTest::mouseClick(target, Qt::LeftButton, modifiers, QPoint(120, 20));
    }

    QStringList actionPreviews() const
    {
        QStringList previews;
        for (const ClipboardItem& item : m_view->selectedHistoryItemsForActions())
            previews << item.preview;
        return previews;
    }

    std::unique_ptr<QuillomareTest::IslandViewTestRig> m_rig;
    IslandView* m_view = nullptr;
    QStringList m_log;
};

QUILLOMARE_GUI_TEST_MAIN(TestIslandViewHistory)
#include "tst_islandviewhistory.moc"
