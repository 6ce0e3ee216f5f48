#include "TestSupport.h"

#include <Pasteboard/PasteTransform.h>

#include <QuillomareCore/Language.h>

#include <QBuffer>
#include <QImage>
#include <QJsonArray>
#include <QJsonDocument>

using namespace QuillomareCore;
using namespace QuillomareMac;
using Platform::MemoryPasteboard;
using Platform::PasteboardItem;
namespace PasteboardType = Platform::PasteboardType;

Q_DECLARE_METATYPE(QuillomareCore::ClipboardItem)
Q_DECLARE_METATYPE(QuillomareMac::PasteVariant)
Q_DECLARE_METATYPE(QuillomareMac::CombinedPasteFormat)
Q_DECLARE_METATYPE(std::optional<QString>)

namespace {

ClipboardItem textEntry(const QString& text)
{
    return QuillomareTest::textItem(text, QuillomareTest::at(0));
}

ClipboardItem linkEntry(const QString& text, const QString& preview = QString())
{
    ClipboardItem item = textEntry(text);
    item.kind = ClipKind::url;
    item.preview = preview.isNull() ? text : preview;
    return item;
}

ClipboardItem fileEntry(const QStringList& paths)
{
    return QuillomareTest::fileItem(paths, QuillomareTest::at(0));
}

ClipboardItem imageEntry()
{
    QImage image(3, 3, QImage::Format_RGB32);
    image.fill(Qt::red);
    QByteArray png;
    QBuffer buffer(&png);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "PNG");
    return QuillomareTest::imageItem(png, QuillomareTest::at(0));
}

ClipboardItem emptyEntry()
{
    ClipboardItem item = textEntry(QString());
    item.kind = ClipKind::unknown;
    item.payload = ClipboardPayload::empty();
    return item;
}

QStringList names(const QList<PasteVariant>& variants)
{
    static const QStringList all{QStringLiteral("original"),  QStringLiteral("plainText"),
                                 QStringLiteral("markdownLink"), QStringLiteral("fileNames"),
                                 QStringLiteral("filePaths"), QStringLiteral("cleanedURL")};
    QStringList result;
    for (PasteVariant variant : variants)
        result.append(all.at(int(variant)));
    return result;
}

} // namespace

class TestPasteTransform : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void cleanupTestCase();

    void titlesFollowTheLanguage();
    void menuVariants_data();
    void menuVariants();
    void fileVariantTexts();
    void cleanedURLString_data();
    void cleanedURLString();
    void markdownLink_data();
    void markdownLink();
    void combinedText_data();
    void combinedText();
    void jsonArray_isPrettyPrintedAndEscaped();
    void copy_writesTheVariant();
    void copy_variantWithoutTextLeavesPasteboardUntouched_data();
    void copy_variantWithoutTextLeavesPasteboardUntouched();
};

void TestPasteTransform::cleanupTestCase()
{
    Language::resetForTesting();
}

void TestPasteTransform::titlesFollowTheLanguage()
{
    // Every menu entry has a title of its own, and another in the other language.
    QList<QStringList> titles;
    for (const bool chinese : {true, false}) {
        Language::setIsChineseForTesting(chinese);
        QStringList& language = titles.emplaceBack();
        for (const PasteVariant variant : PasteVariant::allCases())
            language.append(variant.title());
        for (const CombinedPasteFormat format : CombinedPasteFormat::allCases())
            language.append(format.title());
        QCOMPARE(language.removeDuplicates(), 0);
        QVERIFY(!language.contains(QString()));
    }
    for (qsizetype index = 0; index < titles[0].size(); ++index)
        QVERIFY2(titles[0][index] != titles[1][index], qPrintable(titles[1][index]));
}

void TestPasteTransform::menuVariants_data()
{
    QTest::addColumn<ClipboardItem>("item");
    QTest::addColumn<QStringList>("variants");

    const QStringList textOnly{QStringLiteral("original"), QStringLiteral("plainText")};
    QTest::newRow("text") << textEntry(QStringLiteral("hello")) << textOnly;
    QTest::newRow("one blank is text") << textEntry(QStringLiteral(" ")) << textOnly;
    QTest::newRow("empty text") << textEntry(QString()) << QStringList();
    QTest::newRow("a URL in a text entry") << textEntry(QStringLiteral("https://example.com")) << textOnly;
    QTest::newRow("link with a host, nothing to clean")
        << linkEntry(QStringLiteral("https://www.example.com/page"))
        << QStringList{QStringLiteral("original"), QStringLiteral("plainText"), QStringLiteral("markdownLink"),
                       QStringLiteral("cleanedURL")};
    QTest::newRow("mail link") << linkEntry(QStringLiteral("mailto:someone@example.com"))
                               << QStringList{QStringLiteral("original"), QStringLiteral("plainText"),
                                              QStringLiteral("cleanedURL")};
    QTest::newRow("link entry whose text is no URL") << linkEntry(QStringLiteral("example dot com")) << textOnly;
    QTest::newRow("one real path and one blank")
        << fileEntry({QStringLiteral("/home/someone/report.pdf"), QStringLiteral("  ")})
        << QStringList{QStringLiteral("original"), QStringLiteral("plainText"), QStringLiteral("fileNames"),
                       QStringLiteral("filePaths")};
    QTest::newRow("blank paths only") << fileEntry({QStringLiteral(" "), QString()}) << QStringList();
    QTest::newRow("image") << imageEntry() << QStringList{QStringLiteral("original")};
    QTest::newRow("empty payload") << emptyEntry() << QStringList();
}

void TestPasteTransform::menuVariants()
{
    QFETCH(ClipboardItem, item);
    QFETCH(QStringList, variants);
    QCOMPARE(names(PasteTransform::menuVariants(item)), variants);
}

void TestPasteTransform::fileVariantTexts()
{
    const ClipboardItem one = fileEntry({QStringLiteral(" /home/someone/report.pdf\n"), QStringLiteral("  ")});
    QCOMPARE(PasteTransform::text(one, PasteVariant::fileNames), QStringLiteral("report.pdf"));
    QCOMPARE(PasteTransform::text(one, PasteVariant::filePaths), QStringLiteral("/home/someone/report.pdf"));

    // A folder's name is its last component, trailing slash or not; the root is "/".
    const ClipboardItem several =
        fileEntry({QStringLiteral("/home/someone/Projects/"), QStringLiteral("/"), QStringLiteral("/tmp/a b.txt")});
    QCOMPARE(PasteTransform::text(several, PasteVariant::fileNames), QStringLiteral("Projects\n/\na b.txt"));
    QCOMPARE(PasteTransform::text(several, PasteVariant::filePaths),
             QStringLiteral("/home/someone/Projects/\n/\n/tmp/a b.txt"));

    QCOMPARE(PasteTransform::text(textEntry(QStringLiteral("/tmp/a.txt")), PasteVariant::fileNames), std::nullopt);
}

void TestPasteTransform::cleanedURLString_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("cleaned");

    QTest::newRow("listed, capitalised utm_ and ordinary parameters, then a fragment")
        << QStringLiteral("https://example.com/a/b?utm_source=news&UTM_Campaign=x&id=42&FBCLID=abc#part-2")
        << QStringLiteral("https://example.com/a/b?id=42#part-2");
    QTest::newRow("any utm_ name, order of the rest kept")
        << QStringLiteral("https://example.com/?b=2&utm_whatever=1&a=1&c")
        << QStringLiteral("https://example.com/?b=2&a=1&c");
    QTest::newRow("only tracking parameters lose the question mark")
        << QStringLiteral("https://example.com/page?gclid=1&ref=home&spm=a.b")
        << QStringLiteral("https://example.com/page");
    QTest::newRow("only tracking parameters, fragment kept")
        << QStringLiteral("https://example.com/?igshid=1#top") << QStringLiteral("https://example.com/#top");
    QTest::newRow("names that only begin like a listed one stay")
        << QStringLiteral("https://example.com/?reference=1&ref_src=tw&refresh=0")
        << QStringLiteral("https://example.com/?reference=1&refresh=0");
    QTest::newRow("encoded names are compared decoded, values keep their encoding")
        << QStringLiteral("https://example.com/?utm%5Fsource=x&q=a%20b%26c")
        << QStringLiteral("https://example.com/?q=a%20b%26c");
    QTest::newRow("a question mark in the fragment is no query")
        << QStringLiteral("https://example.com/app#/route?utm_source=x")
        << QStringLiteral("https://example.com/app#/route?utm_source=x");
    QTest::newRow("no query, trimmed") << QStringLiteral("  https://example.com/path\n")
                                       << QStringLiteral("https://example.com/path");
    QTest::newRow("a mail link has no host") << QStringLiteral(" mailto:someone@example.com?subject=hi&utm_source=x\n")
                                             << QStringLiteral("mailto:someone@example.com?subject=hi&utm_source=x");
    QTest::newRow("not a URL") << QStringLiteral("\tjust some words ") << QStringLiteral("just some words");
}

void TestPasteTransform::cleanedURLString()
{
    QFETCH(QString, text);
    QFETCH(QString, cleaned);
    QCOMPARE(PasteTransform::cleanedURLString(text), cleaned);
}

void TestPasteTransform::markdownLink_data()
{
    QTest::addColumn<ClipboardItem>("item");
    QTest::addColumn<QString>("link");

    QTest::newRow("preview equal to the URL: host without www.")
        << linkEntry(QStringLiteral("https://www.example.com/a"))
        << QStringLiteral("[example.com](https://www.example.com/a)");
    QTest::newRow("preview equal to the URL once trimmed")
        << linkEntry(QStringLiteral("\nhttps://news.example.org/x\n"), QStringLiteral("  https://news.example.org/x "))
        << QStringLiteral("[news.example.org](https://news.example.org/x)");
    QTest::newRow("www. inside the host stays")
        << linkEntry(QStringLiteral("https://docs.www.example.com/")) << QStringLiteral("[docs.www.example.com](https://docs.www.example.com/)");
    QTest::newRow("empty preview") << linkEntry(QStringLiteral("https://example.com/"), QStringLiteral(""))
                                   << QStringLiteral("[example.com](https://example.com/)");
    QTest::newRow("preview with brackets and a line break")
        << linkEntry(QStringLiteral("https://example.com/x?a=[1]"), QStringLiteral(" Notes [draft]\nsecond line "))
        << QStringLiteral("[Notes \\[draft\\] second line](https://example.com/x?a=[1])");
}

void TestPasteTransform::markdownLink()
{
    QFETCH(ClipboardItem, item);
    QFETCH(QString, link);
    QCOMPARE(PasteTransform::text(item, PasteVariant::markdownLink), link);
}

void TestPasteTransform::combinedText_data()
{
    QTest::addColumn<QList<ClipboardItem>>("items");
    QTest::addColumn<CombinedPasteFormat>("format");
    QTest::addColumn<std::optional<QString>>("text");

    const QList<ClipboardItem> mixed{textEntry(QStringLiteral("line one\nline two")), imageEntry(), emptyEntry(),
                                     textEntry(QStringLiteral("third"))};
    QTest::newRow("newline") << mixed << CombinedPasteFormat(CombinedPasteFormat::newline)
                             << std::optional<QString>(QStringLiteral("line one\nline two\nthird"));
    QTest::newRow("comma") << mixed << CombinedPasteFormat(CombinedPasteFormat::comma)
                           << std::optional<QString>(QStringLiteral("line one\nline two, third"));
    QTest::newRow("markdown list") << mixed << CombinedPasteFormat(CombinedPasteFormat::markdownList)
                                   << std::optional<QString>(QStringLiteral("- line one line two\n- third"));
    QTest::newRow("files give their paths")
        << QList<ClipboardItem>{fileEntry({QStringLiteral(" /tmp/a"), QStringLiteral("/tmp/b ")}),
                                linkEntry(QStringLiteral("https://example.com"))}
        << CombinedPasteFormat(CombinedPasteFormat::comma)
        << std::optional<QString>(QStringLiteral("/tmp/a\n/tmp/b, https://example.com"));
    QTest::newRow("nothing with a text") << QList<ClipboardItem>{emptyEntry(), textEntry(QString())}
                                         << CombinedPasteFormat(CombinedPasteFormat::jsonArray)
                                         << std::optional<QString>();
}

void TestPasteTransform::combinedText()
{
    QFETCH(QList<ClipboardItem>, items);
    QFETCH(CombinedPasteFormat, format);
    QFETCH(std::optional<QString>, text);
    QCOMPARE(PasteTransform::combinedText(items, format), text);
}

void TestPasteTransform::jsonArray_isPrettyPrintedAndEscaped()
{
    const QStringList texts{QStringLiteral("plain"), QStringLiteral("say \"hi\"\\now\n\tend\r"),
                            QStringLiteral("中文 https://example.com/a"), QStringLiteral("bell\x07")};
    QList<ClipboardItem> items;
    for (const QString& text : texts)
        items.append(textEntry(text));

    const auto json = PasteTransform::combinedText(items, CombinedPasteFormat::jsonArray);
    QVERIFY(json);
    QCOMPARE(*json, QStringLiteral("[\n"
                                   "  \"plain\",\n"
                                   "  \"say \\\"hi\\\"\\\\now\\n\\tend\\r\",\n"
                                   "  \"中文 https://example.com/a\",\n"
                                   "  \"bell\\u0007\"\n"
                                   "]"));

    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(json->toUtf8(), &error);
    QCOMPARE(error.error, QJsonParseError::NoError);
    QCOMPARE(document.array().toVariantList(), QVariant(texts).toList());
}

void TestPasteTransform::copy_writesTheVariant()
{
    MemoryPasteboard pasteboard;
    const ClipboardItem link = linkEntry(QStringLiteral(" https://www.example.com/p?utm_medium=x&id=1 "));

    // The original is the writer's business (a URL and the text); plain text leaves the URL type out.
    QVERIFY(PasteTransform::copy(link, PasteVariant::original, pasteboard));
    QVERIFY(pasteboard.types().contains(PasteboardType::uriList));
    QVERIFY(PasteTransform::copy(link, PasteVariant::plainText, pasteboard));
    QCOMPARE(pasteboard.types(), QStringList{PasteboardType::string});
    QCOMPARE(pasteboard.string(), QStringLiteral(" https://www.example.com/p?utm_medium=x&id=1 "));

    QVERIFY(PasteTransform::copy(link, PasteVariant::cleanedURL, pasteboard));
    QCOMPARE(pasteboard.types(), QStringList{PasteboardType::string});
    QCOMPARE(pasteboard.string(), QStringLiteral("https://www.example.com/p?id=1"));

    QVERIFY(PasteTransform::copy(fileEntry({QStringLiteral("/tmp/x/a.txt"), QStringLiteral("/tmp/b.txt")}),
                                 PasteVariant::fileNames, pasteboard));
    QCOMPARE(pasteboard.pasteboardItems(),
             (QList<PasteboardItem>{Platform::Pasteboard::item(QStringLiteral("a.txt\nb.txt"))}));
}

void TestPasteTransform::copy_variantWithoutTextLeavesPasteboardUntouched_data()
{
    QTest::addColumn<ClipboardItem>("item");
    QTest::addColumn<PasteVariant>("variant");
    QTest::newRow("markdown link of a text") << textEntry(QStringLiteral("hello")) << PasteVariant(PasteVariant::markdownLink);
    QTest::newRow("markdown link of a mail link")
        << linkEntry(QStringLiteral("mailto:a@example.com")) << PasteVariant(PasteVariant::markdownLink);
    QTest::newRow("file names of a link") << linkEntry(QStringLiteral("https://example.com"))
                                          << PasteVariant(PasteVariant::fileNames);
    QTest::newRow("cleaned URL of files") << fileEntry({QStringLiteral("/tmp/a")}) << PasteVariant(PasteVariant::cleanedURL);
    QTest::newRow("plain text of an image") << imageEntry() << PasteVariant(PasteVariant::plainText);
    QTest::newRow("original of an empty entry") << emptyEntry() << PasteVariant(PasteVariant::original);
}

void TestPasteTransform::copy_variantWithoutTextLeavesPasteboardUntouched()
{
    QFETCH(ClipboardItem, item);
    QFETCH(PasteVariant, variant);
    MemoryPasteboard pasteboard;
    const QList<PasteboardItem> previous{Platform::Pasteboard::item(QStringLiteral("kept")),
                                         Platform::Pasteboard::item(QUrl(QStringLiteral("https://kept.example")))};
    pasteboard.simulateExternalCopy(previous);
    const qint64 before = pasteboard.changeCount();

    QVERIFY(!PasteTransform::copy(item, variant, pasteboard));
    QCOMPARE(pasteboard.changeCount(), before);
    QCOMPARE(pasteboard.pasteboardItems(), previous);
}

QUILLOMARE_TEST_MAIN(TestPasteTransform)
#include "tst_pastetransform.moc"
