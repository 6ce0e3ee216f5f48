#include "TestSupport.h"

#include <Platform/Pasteboard.h>
#include <QuillomareCore/Foundation.h>
#include <QuillomareCore/Language.h>
#include <QuillomareCore/SensitiveContentDetector.h>
#include <Shelf/ShelfItem.h>
#include <Shelf/ShelfPasteboard.h>

#include <QBuffer>
#include <QDir>
#include <QFileInfo>
#include <QImage>
#include <QTemporaryDir>
#include <QUrl>

using namespace QuillomareMac;
namespace Language = QuillomareCore::Language;
using Platform::PasteboardItem;
using QuillomareCore::ClipboardPayload;
using QuillomareCore::ClipKind;
namespace PasteboardType = Platform::PasteboardType;

namespace {

QByteArray encoded(const QImage& image, const char* format)
{
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    if (!image.save(&buffer, format))
        qFatal("Cannot encode a test image as %s", format);
    return bytes;
}

QImage testImage()
{
    QImage image(40, 30, QImage::Format_ARGB32);
    image.fill(QColor(10, 200, 30, 128));
    return image;
}

PasteboardItem representation(const QList<std::pair<QString, QByteArray>>& types)
{
    PasteboardItem item;
    for (const auto& [type, bytes] : types)
        item.setData(bytes, type);
    return item;
}

QByteArray uriList(const QStringList& urls)
{
    QByteArray list;
    for (const QString& url : urls)
        list += QUrl(url).toEncoded() + "\r\n";
    return list;
}

ShelfItem item(ShelfPayload payload, ClipKind kind)
{
    return ShelfItem{QUuid::createUuid(), QuillomareTest::at(3), kind, QStringLiteral("t"), QStringLiteral("s"),
                     QStringLiteral("p"), std::move(payload),    false};
}

} // namespace

Q_DECLARE_METATYPE(QuillomareMac::ShelfPayload)
Q_DECLARE_METATYPE(QuillomareCore::ClipboardPayload)
Q_DECLARE_METATYPE(QList<Platform::PasteboardItem>)
Q_DECLARE_METATYPE(QuillomareCore::ClipKind)

class TestShelfPasteboard : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<QTemporaryDir> m_dir;
    const QuillomareCore::SensitiveContentDetector m_detector;
    Platform::MemoryPasteboard m_pasteboard;

    ShelfReadResult read(const QList<PasteboardItem>& items)
    {
        m_pasteboard.simulateExternalCopy(items);
        return ShelfPasteboardReader::items(m_pasteboard, m_detector);
    }
    QString makeFile(const QString& name, const QByteArray& bytes = "x")
    {
        const QString path = m_dir->filePath(name);
        QDir().mkpath(QFileInfo(path).path());
        QuillomareTest::writeFile(path, bytes);
        return path;
    }

private Q_SLOTS:
    void init()
    {
        Language::setIsChineseForTesting(false);
        m_dir = std::make_unique<QTemporaryDir>();
        QVERIFY(m_dir->isValid());
    }

    // --- The entry as the rest of the program sees it

    void clipboardItemForm_data()
    {
        QTest::addColumn<ShelfPayload>("payload");
        QTest::addColumn<ClipboardPayload>("expected");
        QTest::newRow("link") << ShelfPayload::url(QStringLiteral("https://a.example/x"))
                              << ClipboardPayload::text(QStringLiteral("https://a.example/x"));
        QTest::newRow("text") << ShelfPayload::text(QStringLiteral(" two\nlines "))
                              << ClipboardPayload::text(QStringLiteral(" two\nlines "));
        QTest::newRow("files") << ShelfPayload::fileURLs({QStringLiteral("/a"), QStringLiteral(" /b ")})
                               << ClipboardPayload::fileURLs({QStringLiteral("/a"), QStringLiteral(" /b ")});
        QTest::newRow("image") << ShelfPayload::imagePNG(QByteArray("\x89PNG", 4))
                               << ClipboardPayload::imagePNG(QByteArray("\x89PNG", 4));
    }

    void clipboardItemForm()
    {
        QFETCH(ShelfPayload, payload);
        QFETCH(ClipboardPayload, expected);
        ShelfItem entry = item(payload, ClipKind::url);
        entry.isSensitive = true;
        const QuillomareCore::ClipboardItem form = entry.clipboardItem();
        QCOMPARE(form.payload, expected);
        QCOMPARE(form.id, entry.id);
        QCOMPARE(form.createdAt, entry.createdAt);
        QCOMPARE(form.kind, entry.kind);
        QCOMPARE(form.preview, entry.preview);
        QVERIFY(form.isSensitive && form.isLocalOnly && !form.isPinned);
        QCOMPARE(form.sourceAppName, std::optional<QString>(QStringLiteral("Shelf")));
        // Never taken for another shelf entry of the same content.
        QVERIFY(form.contentHash != item(payload, ClipKind::url).clipboardItem().contentHash);
    }

    void sharingAndRevealableFiles()
    {
        const QString existing = makeFile(QStringLiteral("here.txt"));
        const ShelfItem files =
            item(ShelfPayload::fileURLs({existing, QStringLiteral("/gone.txt"), QStringLiteral(" ")}), ClipKind::file);
        QCOMPARE(files.revealableFileURLs(), QList<QUrl>{QUrl::fromLocalFile(existing)});
        // A file that is gone is still offered: the receiving side says what it can do with it.
        QCOMPARE(files.sharingItems(),
                 (QList<Platform::PasteboardObject>{QUrl::fromLocalFile(existing),
                                                    QUrl::fromLocalFile(QStringLiteral("/gone.txt"))}));

        QCOMPARE(item(ShelfPayload::url(QStringLiteral("https://a.example")), ClipKind::url).sharingItems(),
                 QList<Platform::PasteboardObject>{QUrl(QStringLiteral("https://a.example"))});
        QCOMPARE(item(ShelfPayload::url(QStringLiteral("not a link")), ClipKind::url).sharingItems(),
                 QList<Platform::PasteboardObject>{QStringLiteral("not a link")});
        QVERIFY(
            item(ShelfPayload::url(QStringLiteral("https://a.example")), ClipKind::url).revealableFileURLs().isEmpty());

        const auto image = item(ShelfPayload::imagePNG(encoded(testImage(), "PNG")), ClipKind::image).sharingItems();
        QCOMPARE(image.size(), 1);
        QCOMPARE(std::get<QImage>(image.first()).size(), QSize(40, 30));
        QVERIFY(item(ShelfPayload::imagePNG("not an image"), ClipKind::image).sharingItems().isEmpty());
    }

    // --- Reading a drop or a paste

    void readerTakesTheFirstKindOffered_data()
    {
        QTest::addColumn<QList<PasteboardItem>>("offered");
        QTest::addColumn<ClipKind>("kind");
        QTest::addColumn<ShelfPayload::Case>("payloadCase");
        QTest::addColumn<int>("count");

        const QByteArray png = encoded(testImage(), "PNG");
        const QByteArray link = uriList({QStringLiteral("https://www.example.com/page")});
        const auto offer = [](const QList<std::pair<QString, QByteArray>>& types) {
            return QList<PasteboardItem>{representation(types)};
        };
        using Case = ShelfPayload::Case;
        // Files come before the paths a file manager also offers as text.
        QTest::newRow("files over text") << offer({{PasteboardType::uriList, "FILES"}, {PasteboardType::string, "/a"}})
                                         << ClipKind(ClipKind::file) << Case::fileURLs << 2;
        QTest::newRow("link over image and text")
            << offer({{PasteboardType::uriList, link}, {PasteboardType::png, png}, {PasteboardType::string, "Page"}})
            << ClipKind(ClipKind::url) << Case::url << 1;
        QTest::newRow("image over text") << offer({{PasteboardType::string, "caption"}, {PasteboardType::png, png}})
                                         << ClipKind(ClipKind::image) << Case::imagePNG << 1;
        QTest::newRow("TIFF image") << offer({{PasteboardType::tiff, encoded(testImage(), "TIFF")}})
                                    << ClipKind(ClipKind::image) << Case::imagePNG << 1;
        QTest::newRow("text that is a link") << offer({{PasteboardType::string, "  https://example.com/a  \n"}})
                                             << ClipKind(ClipKind::url) << Case::url << 1;
        QTest::newRow("plain text") << offer({{PasteboardType::string, "hello"}}) << ClipKind(ClipKind::text)
                                    << Case::text << 1;
        QTest::newRow("unreadable image falls back to text")
            << offer({{PasteboardType::png, "broken"}, {PasteboardType::string, "words"}}) << ClipKind(ClipKind::text)
            << Case::text << 1;
        // Nothing readable: no entry, and the shell says the drop is not supported.
        QTest::newRow("blank text") << offer({{PasteboardType::string, " \n\t "}}) << ClipKind(ClipKind::text)
                                    << Case::text << 0;
        QTest::newRow("only HTML") << offer({{PasteboardType::html, "<b>x</b>"}}) << ClipKind(ClipKind::text)
                                   << Case::text << 0;
    }

    void readerTakesTheFirstKindOffered()
    {
        QFETCH(QList<PasteboardItem>, offered);
        QFETCH(ClipKind, kind);
        QFETCH(ShelfPayload::Case, payloadCase);
        QFETCH(int, count);
        // The file rows name two real files.
        const QString a = makeFile(QStringLiteral("folder/a.txt"));
        const QString b = makeFile(QStringLiteral("b.txt"));
        for (PasteboardItem& candidate : offered) {
            if (candidate.data(PasteboardType::uriList) == QByteArray("FILES"))
                candidate.setData(uriList({QUrl::fromLocalFile(a).toString(), QUrl::fromLocalFile(b).toString()}),
                                  PasteboardType::uriList);
        }

        const ShelfReadResult result = read(offered);
        QCOMPARE(result.items.size(), count);
        QVERIFY(!result.message);
        for (const ShelfItem& entry : result.items) {
            QCOMPARE(entry.kind, kind);
            QCOMPARE(entry.payload.caseOf(), payloadCase);
            QVERIFY(!entry.isSensitive);
            QVERIFY(!entry.title.isEmpty());
        }
        if (payloadCase == ShelfPayload::Case::imagePNG) {
            QImage decoded;
            QVERIFY(decoded.loadFromData(result.items.first().payload.imagePNGValue(), "PNG"));
            QCOMPARE(decoded.size(), QSize(40, 30));
            QCOMPARE(result.items.first().subtitle.left(7), QStringLiteral("40 × 30"));
        }
        if (payloadCase == ShelfPayload::Case::fileURLs)
            QCOMPARE(result.items[0].payload.fileURLsValue(), QStringList{a});
        if (payloadCase == ShelfPayload::Case::url)
            QVERIFY(!result.items.first().payload.urlValue().contains(QLatin1Char(' ')));
    }

    void filesKeepTheirOrderAndMissingOnesAreNamed()
    {
        const QString folder = makeFile(QStringLiteral("Photos/x.jpg"));
        const QString file = makeFile(QStringLiteral("report.pdf"), QByteArray(2000, 'p'));
        const QString gone = m_dir->filePath(QStringLiteral("gone.txt"));
        const ShelfReadResult result = read({representation(
            {{PasteboardType::uriList,
              uriList({QUrl::fromLocalFile(file).toString(), QUrl::fromLocalFile(gone).toString(),
                       QUrl::fromLocalFile(QFileInfo(folder).path() + QLatin1Char('/')).toString()})}})});
        QCOMPARE(result.items.size(), 2);
        QCOMPARE(result.items[0].title, QStringLiteral("report.pdf"));
        QCOMPARE(result.items[0].subtitle, QStringLiteral("PDF · 2 KB"));
        QCOMPARE(result.items[1].payload.fileURLsValue(), QStringList{QFileInfo(folder).path()});
        QCOMPARE(result.items[1].subtitle, QStringLiteral("Folder"));
        QCOMPARE(result.message,
                 std::optional<QString>(QStringLiteral("Couldn't find “gone.txt”; it may have been moved or deleted")));

        const ShelfReadResult allGone = read({representation(
            {{PasteboardType::uriList, uriList({QUrl::fromLocalFile(gone).toString(),
                                                QUrl::fromLocalFile(gone + QLatin1Char('2')).toString()})}})});
        QVERIFY(allGone.items.isEmpty());
        QVERIFY(allGone.message && allGone.message->startsWith(QStringLiteral("2 files couldn't be found")));
    }

    void unreadableImageIsReported()
    {
        Language::setIsChineseForTesting(true);
        const ShelfReadResult broken = read({representation({{PasteboardType::png, "not a png"}})});
        QVERIFY(broken.items.isEmpty());
        QCOMPARE(broken.message, std::optional<QString>(QStringLiteral("无法读取拖入的图片")));
    }

    void secretsAreFlaggedAndNeverShown_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("secret");
        QTest::addColumn<ClipKind>("kind");
        QTest::newRow("token") << QStringLiteral("sk-abcdefghijklmnopqrstuvwxyz123456")
                               << QStringLiteral("abcdefghijklmn") << ClipKind(ClipKind::text);
        QTest::newRow("password on the second line") << QStringLiteral("Login for the wiki\npassword: hunter2hunter2")
                                                     << QStringLiteral("hunter2") << ClipKind(ClipKind::text);
        QTest::newRow("card") << QStringLiteral("4111 1111 1111 1111") << QStringLiteral("1111")
                              << ClipKind(ClipKind::text);
        QTest::newRow("link with a token") << QStringLiteral("https://example.com/cb?access_token=abcdef1234567890")
                                           << QStringLiteral("abcdef1234567890") << ClipKind(ClipKind::url);
    }

    void secretsAreFlaggedAndNeverShown()
    {
        QFETCH(QString, text);
        QFETCH(QString, secret);
        QFETCH(ClipKind, kind);
        for (const bool chinese : {false, true}) {
            Language::setIsChineseForTesting(chinese);
            const ShelfReadResult result = read({representation({{PasteboardType::string, text.toUtf8()}})});
            QCOMPARE(result.items.size(), 1);
            const ShelfItem& entry = result.items.first();
            QVERIFY(entry.isSensitive);
            QCOMPARE(entry.kind, kind);
            for (const QString& shown : {entry.title, entry.subtitle, entry.preview}) {
                QVERIFY2(!shown.contains(secret), qPrintable(shown));
                QVERIFY(!shown.contains(QStringLiteral("Login")));
            }
            // The content itself is kept whole: copying it gives the secret back.
            QCOMPARE(entry.clipboardItem().plainTextRepresentation(), std::optional<QString>(text.trimmed()));
        }
    }

    void ordinaryTextIsDescribed()
    {
        const QString text = QStringLiteral(
            "\n\n  First line of a note that goes on and on and on, longer than any title should be\nsecond");
        const ShelfReadResult result = read({representation({{PasteboardType::string, text.toUtf8()}})});
        const ShelfItem& entry = result.items.first();
        QCOMPARE(entry.payload.textValue(), text);
        QVERIFY(entry.title.startsWith(QStringLiteral("First line of a note")));
        QVERIFY(entry.title.endsWith(QStringLiteral("…")));
        QCOMPARE(QuillomareCore::Text::graphemeCount(entry.title), 60);
        QCOMPARE(entry.subtitle, QStringLiteral("%1 characters").arg(text.size()));
        QVERIFY(!entry.preview.contains(QLatin1Char('\n')));
    }

    // --- Writing

    void copyGoesThroughTheHistoryWriter()
    {
        const ShelfItem link = item(ShelfPayload::url(QStringLiteral("https://example.com/a")), ClipKind::url);
        QVERIFY(ShelfPasteboardWriter::copy(link, m_pasteboard));
        QCOMPARE(m_pasteboard.string(), std::optional<QString>(QStringLiteral("https://example.com/a")));
        QCOMPARE(m_pasteboard.readURLs(false), QList<QUrl>{QUrl(QStringLiteral("https://example.com/a"))});

        const QString file = makeFile(QStringLiteral("drag.txt"));
        const auto writers =
            ShelfPasteboardWriter::draggingWriters({item(ShelfPayload::fileURLs({file}), ClipKind::file),
                                                    item(ShelfPayload::text(QStringLiteral(" hi ")), ClipKind::text)});
        QCOMPARE(writers, (QList<Platform::PasteboardObject>{QUrl::fromLocalFile(file), QStringLiteral("hi")}));
    }
};

QUILLOMARE_TEST_MAIN(TestShelfPasteboard)
#include "tst_shelfpasteboard.moc"
