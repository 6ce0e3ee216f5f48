#include "TestSupport.h"

#include <Pasteboard/MacPasteboardWriter.h>
#include <Platform/PasteboardX11.h>

#include <QApplication>
#include <QBuffer>
#include <QEventLoop>
#include <QImage>
#include <QProcess>
#include <QTemporaryDir>
#include <QTimer>

using namespace QuillomareCore;
using namespace QuillomareMac;

namespace {

// Another program reading the clipboard. We own the selection, so xclip's request is answered
// from our event loop: the loop must keep running while xclip waits.
std::optional<QByteArray> readWithXclip(const QString& target)
{
    QProcess xclip;
    QEventLoop loop;
    QTimer timeout;
    timeout.setSingleShot(true);
    QObject::connect(&xclip, &QProcess::finished, &loop, &QEventLoop::quit);
    QObject::connect(&xclip, &QProcess::errorOccurred, &loop, &QEventLoop::quit);
    QObject::connect(&timeout, &QTimer::timeout, &loop, &QEventLoop::quit);
    xclip.start(QStringLiteral("xclip"),
                {QStringLiteral("-selection"), QStringLiteral("clipboard"), QStringLiteral("-o"), QStringLiteral("-t"),
                 target});
    timeout.start(10000);
    if (xclip.state() != QProcess::NotRunning)
        loop.exec();
    if (xclip.state() != QProcess::NotRunning) {
        xclip.kill();
        xclip.waitForFinished(1000);
        qWarning("xclip did not answer for %s", qPrintable(target));
        return std::nullopt;
    }
    if (xclip.exitStatus() != QProcess::NormalExit || xclip.exitCode() != 0) {
        qWarning("xclip failed for %s: %s", qPrintable(target), xclip.readAllStandardError().constData());
        return std::nullopt;
    }
    return xclip.readAllStandardOutput();
}

QStringList targets()
{
    const auto list = readWithXclip(QStringLiteral("TARGETS"));
    return list ? QString::fromUtf8(*list).split(QLatin1Char('\n'), Qt::SkipEmptyParts) : QStringList();
}

QByteArray pngBytes()
{
    QImage image(12, 8, QImage::Format_RGB32);
    image.fill(QColor(20, 120, 220));
    image.setPixelColor(3, 2, Qt::yellow);
    QByteArray png;
    QBuffer buffer(&png);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "PNG");
    return png;
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

    QCOMPARE(readWithXclip(QStringLiteral("UTF8_STRING")), std::optional<QByteArray>(text.toUtf8()));
    QCOMPARE(readWithXclip(QStringLiteral("text/plain")), std::optional<QByteArray>(text.toUtf8()));
    QVERIFY(!targets().contains(QStringLiteral("text/uri-list")));
}

void TestPasteboardWriterX11::linkEntry_offersURLAndUntrimmedText()
{
    ClipboardItem item = QuillomareTest::textItem(QStringLiteral(" https://example.com/路径?q=1 \n"), QuillomareTest::at(0));
    item.kind = ClipKind::url;
    QVERIFY(MacPasteboardWriter::copy(item, *m_pasteboard));

    const auto uris = readWithXclip(QStringLiteral("text/uri-list"));
    QVERIFY(uris);
    QCOMPARE(QUrl::fromEncoded(uris->trimmed()), QUrl(QStringLiteral("https://example.com/路径?q=1")));
    QCOMPARE(readWithXclip(QStringLiteral("UTF8_STRING")), std::optional<QByteArray>(item.payload.textValue().toUtf8()));
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

    const auto uris = readWithXclip(QStringLiteral("text/uri-list"));
    QVERIFY(uris);
    QList<QUrl> urls;
    for (const QByteArray& line : uris->split('\n')) {
        if (!line.trimmed().isEmpty())
            urls.append(QUrl::fromEncoded(line.trimmed()));
    }
    QCOMPARE(urls, (QList<QUrl>{QUrl::fromLocalFile(one), QUrl::fromLocalFile(two)}));
    QCOMPARE(readWithXclip(QStringLiteral("UTF8_STRING")), std::optional<QByteArray>((one + QLatin1Char('\n') + two).toUtf8()));
}

void TestPasteboardWriterX11::imageEntry_offersPNGAndTIFF()
{
    const QByteArray png = pngBytes();
    QVERIFY(MacPasteboardWriter::copy(QuillomareTest::imageItem(png, QuillomareTest::at(0)), *m_pasteboard));

    const QStringList offered = targets();
    QVERIFY2(offered.contains(QStringLiteral("image/png")), qPrintable(offered.join(QLatin1Char(' '))));
    QVERIFY2(offered.contains(QStringLiteral("image/tiff")), qPrintable(offered.join(QLatin1Char(' '))));

    const auto read = readWithXclip(QStringLiteral("image/png"));
    QVERIFY(read);
    QCOMPARE(QImage::fromData(*read, "PNG").convertToFormat(QImage::Format_RGB32),
             QImage::fromData(png, "PNG").convertToFormat(QImage::Format_RGB32));
    const auto tiff = readWithXclip(QStringLiteral("image/tiff"));
    QVERIFY(tiff);
    QCOMPARE(QImage::fromData(*tiff, "TIFF").size(), QSize(12, 8));
}

QUILLOMARE_GUI_TEST_MAIN(TestPasteboardWriterX11)
#include "tst_pasteboardwriter_x11.moc"
