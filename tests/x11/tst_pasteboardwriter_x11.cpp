#include "TestSupport.h"
#include "X11Tools.h"

#include <Pasteboard/MacPasteboardWriter.h>
#include <Platform/PasteboardX11.h>

#include <QApplication>
#include <QBuffer>
#include <QImage>
#include <QTemporaryDir>

using namespace QuillomareCore;
using namespace QuillomareMac;

namespace {

using QuillomareTest::xclipPaste;

// What another program is offered; xclip's request is answered from our event loop, which runs on
// while it waits.
QStringList targets()
{
    return QString::fromUtf8(xclipPaste(QStringLiteral("TARGETS"))).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
}

QByteArray pngBytes()
{
    QImage image(12, 8, QImage::Format_RGB32);
    image.fill(QColor(20, 120, 220));
    image.setPixelColor(3, 2, Qt::yellow);
    return QuillomareTest::pngOf(image);
}

} // namespace

class TestPasteboardWriterX11 : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void text_readsBackAsUTF8();
    void linkEntry_offersURLAndUntrimmedText();
    void fileEntry_offersURIListAndPaths();
    void imageEntry_offersPNGAndTIFF();

private:
    std::optional<Platform::X11Pasteboard> m_pasteboard;
};

void TestPasteboardWriterX11::initTestCase()
{
    QVERIFY2(QGuiApplication::platformName() == QLatin1String("xcb"), "needs the xcb platform");
    m_pasteboard.emplace();
}

void TestPasteboardWriterX11::text_readsBackAsUTF8()
{
    const QString text = QStringLiteral("剪贴板里的中文，and English\n第二行 ✓");
    const qint64 before = m_pasteboard->changeCount();
    QVERIFY(MacPasteboardWriter::copyString(text, *m_pasteboard));
    QVERIFY(m_pasteboard->changeCount() > before);

    QCOMPARE(xclipPaste(QStringLiteral("UTF8_STRING")), text.toUtf8());
    QCOMPARE(xclipPaste(QStringLiteral("text/plain")), text.toUtf8());
    const QStringList offered = targets();
    QVERIFY(offered.contains(QStringLiteral("UTF8_STRING")) && !offered.contains(QStringLiteral("text/uri-list")));
}

void TestPasteboardWriterX11::linkEntry_offersURLAndUntrimmedText()
{
    ClipboardItem item = QuillomareTest::textItem(QStringLiteral(" https://example.com/路径?q=1 \n"), QuillomareTest::at(0));
    item.kind = ClipKind::url;
    QVERIFY(MacPasteboardWriter::copy(item, *m_pasteboard));

    QCOMPARE(QUrl::fromEncoded(xclipPaste(QStringLiteral("text/uri-list")).trimmed()),
             QUrl(QStringLiteral("https://example.com/路径?q=1")));
    QCOMPARE(xclipPaste(QStringLiteral("UTF8_STRING")), item.payload.textValue().toUtf8());
}

void TestPasteboardWriterX11::fileEntry_offersURIListAndPaths()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString one = dir.filePath(QStringLiteral("报告 one.txt"));
    const QString two = dir.filePath(QStringLiteral("two.txt"));
    QuillomareTest::writeFile(one, "1");
    QuillomareTest::writeFile(two, "2");

    const ClipboardItem item =
        QuillomareTest::fileItem({QStringLiteral(" ") + one, QStringLiteral("  "), two}, QuillomareTest::at(0));
    QVERIFY(MacPasteboardWriter::copy(item, *m_pasteboard));

    QList<QUrl> urls;
    for (const QByteArray& line : xclipPaste(QStringLiteral("text/uri-list")).split('\n')) {
        if (!line.trimmed().isEmpty())
            urls.append(QUrl::fromEncoded(line.trimmed()));
    }
    QCOMPARE(urls, (QList<QUrl>{QUrl::fromLocalFile(one), QUrl::fromLocalFile(two)}));
    QCOMPARE(xclipPaste(QStringLiteral("UTF8_STRING")), (one + QLatin1Char('\n') + two).toUtf8());
}

void TestPasteboardWriterX11::imageEntry_offersPNGAndTIFF()
{
    const QByteArray png = pngBytes();
    QVERIFY(MacPasteboardWriter::copy(QuillomareTest::imageItem(png, QuillomareTest::at(0)), *m_pasteboard));

    const QStringList offered = targets();
    QVERIFY2(offered.contains(QStringLiteral("image/png")), qPrintable(offered.join(QLatin1Char(' '))));
    QVERIFY2(offered.contains(QStringLiteral("image/tiff")), qPrintable(offered.join(QLatin1Char(' '))));

    QCOMPARE(QImage::fromData(xclipPaste(QStringLiteral("image/png")), "PNG").convertToFormat(QImage::Format_RGB32),
             QImage::fromData(png, "PNG").convertToFormat(QImage::Format_RGB32));
    QCOMPARE(QImage::fromData(xclipPaste(QStringLiteral("image/tiff")), "TIFF").size(), QSize(12, 8));
}

QUILLOMARE_GUI_TEST_MAIN(TestPasteboardWriterX11)
#include "tst_pasteboardwriter_x11.moc"
