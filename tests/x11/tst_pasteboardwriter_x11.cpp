#include "TestSupport.h"
#include "X11Tools.h"

#include <Pasteboard/MacPasteboardWriter.h>
#include <Platform/PasteboardX11.h>

#include <QApplication>
#include <QBuffer>
#include <QImage>
#include <QProcess>
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

// The X11 clipboard, with a record of every read made through it.
class ReadRecordingPasteboard final : public Platform::Pasteboard
{
public:
    ReadRecordingPasteboard() { m_inner.setChangeObserver([this] { notifyChanged(); }); }

    qint64 changeCount() const override { return m_inner.changeCount(); }
    QStringList types() const override { return m_inner.types(); }
    std::optional<QByteArray> data(const QString& type) const override
    {
        reads.append(type);
        return m_inner.data(type);
    }
    QList<Platform::PasteboardItem> pasteboardItems() const override
    {
        reads.append(QStringLiteral("every format"));
        return m_inner.pasteboardItems();
    }
    qint64 clearContents() override { return m_inner.clearContents(); }
    bool setData(const QByteArray& data, const QString& type) override { return m_inner.setData(data, type); }
    bool writeItems(const QList<Platform::PasteboardItem>& items) override { return m_inner.writeItems(items); }
    bool keepsContentsWhenAWriteFails() const override { return m_inner.keepsContentsWhenAWriteFails(); }
    void startNewContents() override { m_inner.startNewContents(); }

    mutable QStringList reads;

private:
    Platform::X11Pasteboard m_inner;
};

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
    void writeOverAnotherProgramsCopy_readsNothingOfIt();

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

// Another program holds megabytes: copying an entry back takes the clipboard from it without
// fetching any of them first (a refused write leaves that program's copy where it is).
void TestPasteboardWriterX11::writeOverAnotherProgramsCopy_readsNothingOfIt()
{
    ReadRecordingPasteboard pasteboard;
    QProcess owner;
    const QByteArray large(6 * 1024 * 1024, 'x');
    const qint64 before = pasteboard.changeCount();
    QVERIFY(QuillomareTest::startXclipOwner(owner, large));
    // As a user's click would, the program has seen the other program's copy before it writes:
    // it asks the server for the clipboard with the time of the last event it handled.
    QTRY_VERIFY(pasteboard.changeCount() > before);
    QTRY_VERIFY(pasteboard.types().contains(Platform::PasteboardType::string));

    const ClipboardItem item = QuillomareTest::textItem(QStringLiteral("back from the history"), QuillomareTest::at(0));
    QVERIFY(MacPasteboardWriter::copy(item, pasteboard));
    QCOMPARE(pasteboard.reads, QStringList());
    QCOMPARE(xclipPaste(QStringLiteral("UTF8_STRING")), QByteArray("back from the history"));
    QTRY_VERIFY_WITH_TIMEOUT(owner.state() == QProcess::NotRunning, 5000); // xclip quits once it lost the clipboard

    // Over our own copy, with a link and its text: one write replaces the whole of it.
    ClipboardItem link = QuillomareTest::textItem(QStringLiteral("https://example.com/a"), QuillomareTest::at(0));
    link.kind = ClipKind::url;
    QVERIFY(MacPasteboardWriter::copy(link, pasteboard));
    QVERIFY(MacPasteboardWriter::copy(item, pasteboard));
    QVERIFY(!targets().contains(QStringLiteral("text/uri-list")));
    QCOMPARE(xclipPaste(QStringLiteral("UTF8_STRING")), QByteArray("back from the history"));
}

QUILLOMARE_GUI_TEST_MAIN(TestPasteboardWriterX11)
#include "tst_pasteboardwriter_x11.moc"
