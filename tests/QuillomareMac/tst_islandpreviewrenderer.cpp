#include "TestSupport.h"

#include <QuillomareCore/Language.h>
#include <QuillomareMac/DevTools/IslandPreviewRenderer.h>
#include <QuillomareMac/Shelf/ShelfItem.h>

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QImage>
#include <QImageReader>
#include <QSet>
#include <QTemporaryDir>

using namespace QuillomareMac;
namespace Language = QuillomareCore::Language;
using Mode = IslandPreviewRenderer::ContentPreviewMode;
using RenderError = IslandPreviewRenderer::RenderError;
using Kind = RenderError::Kind;

Q_DECLARE_METATYPE(Mode)

namespace {

// The kind of error `work` throws, or nothing when it throws none.
template <typename F> std::optional<Kind> errorKind(F&& work, QString* description = nullptr)
{
    try {
        work();
    } catch (const RenderError& error) {
        if (description)
            *description = error.localizedDescription();
        return error.kind();
    }
    return std::nullopt;
}

QImage readPNG(const QString& path)
{
    QImageReader reader(path, "png");
    return reader.read();
}

// A picture rather than a fill: many colours, and no one colour covering most of it.
bool looksLikeAPicture(const QByteArray& png, QString* why)
{
    const QImage image = QImage::fromData(png, "PNG").convertToFormat(QImage::Format_RGB32);
    if (image.isNull() || image.width() < 200 || image.height() < 150) {
        *why = QStringLiteral("not a picture of some size: %1 × %2").arg(image.width()).arg(image.height());
        return false;
    }
    QHash<QRgb, int> counts;
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x)
            ++counts[image.pixel(x, y)];
    }
    const int largest = *std::max_element(counts.cbegin(), counts.cend());
    *why = QStringLiteral("%1 colours, the commonest on %2 of %3 pixels")
               .arg(counts.size())
               .arg(largest)
               .arg(image.width() * image.height());
    return counts.size() > 500 && largest < image.width() * image.height() / 2;
}

// Names of the other platform's own applications: a Linux desktop has none of them.
const QSet<QString>& foreignApplicationNames()
{
    static const QSet<QString> names = {QStringLiteral("TextEdit"), QStringLiteral("Safari"), QStringLiteral("Finder"),
                                        QStringLiteral("Preview"),  QStringLiteral("Xcode"),  QStringLiteral("Pages"),
                                        QStringLiteral("Numbers"),  QStringLiteral("Keynote")};
    return names;
}

bool anyWindowVisible()
{
    const auto windows = QApplication::topLevelWidgets();
    return std::any_of(windows.begin(), windows.end(), [](QWidget* w) { return w->isVisible(); });
}

} // namespace

class IslandPreviewRendererTest : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<QTemporaryDir> m_dir;

    QString path(const QString& name) const { return m_dir->filePath(name); }

private Q_SLOTS:
    void init()
    {
        m_dir = std::make_unique<QTemporaryDir>();
        QVERIFY(m_dir->isValid());
        Language::setIsChineseForTesting(false);
    }

    void testIslandPreviewIsANonBlankPNGOfTheExpandedSize_data()
    {
        QTest::addColumn<Mode>("mode");
        QTest::newRow("history") << Mode::history;
        QTest::newRow("shelf gallery") << Mode::shelfGallery;
    }

    void testIslandPreviewIsANonBlankPNGOfTheExpandedSize()
    {
        QFETCH(Mode, mode);
        const QString file = path(QStringLiteral("island.png"));
        IslandPreviewRenderer::render(file, mode);
        const QImage written = readPNG(file);
        QVERIFY(!written.isNull());
        QCOMPARE(written.size(), QSize(780, 430));
        QVERIFY(!IslandPreviewRenderer::isBlank(written));
        QVERIFY2(!anyWindowVisible(), "the preview is painted without a window on screen");
    }

    void testEchoPreviewShowsTheSavedBadge()
    {
        const QString file = path(QStringLiteral("echo.png"));
        IslandPreviewRenderer::renderCaptureEcho(file);
        const QImage written = readPNG(file).convertToFormat(QImage::Format_ARGB32);
        QCOMPARE(written.size(), QSize(280, 58));
        QVERIFY(!IslandPreviewRenderer::isBlank(written));
        // The sample is a saved capture: its pill and icon are green.
        int green = 0;
        for (int y = 0; y < written.height(); ++y) {
            for (int x = written.width() / 2; x < written.width(); ++x) {
                const QColor c = written.pixelColor(x, y);
                if (c.green() > c.red() + 40 && c.green() > c.blue() + 20)
                    ++green;
            }
        }
        QVERIFY2(green > 30, qPrintable(QString::number(green)));
        // The collapsed island's corners stay clear.
        QCOMPARE(written.pixelColor(0, 0).alpha(), 0);
        QVERIFY(!anyWindowVisible());
    }

    // The history sample is a whole history: every kind, a pin and a secret, pictures that are
    // pictures, copied in applications a Linux desktop has.
    void testSampleHistoryIsAWholeHistory()
    {
        for (const bool chinese : {false, true}) {
            Language::setIsChineseForTesting(chinese);
            IslandView view(QRect(QPoint(0, 0), IslandPreviewRenderer::expandedIslandSize()));
            IslandPreviewRenderer::fillWithSampleContent(view);
            const QList<QuillomareCore::ClipboardItem>& items = view.items();
            QSet<int> kinds;
            for (const auto& item : items) {
                kinds.insert(int(item.kind));
                QVERIFY2(item.sourceAppName && !foreignApplicationNames().contains(*item.sourceAppName),
                         qPrintable(item.sourceAppName.value_or(QStringLiteral("no application"))));
                QString why;
                if (item.payload.isImagePNG())
                    QVERIFY2(looksLikeAPicture(item.payload.imagePNGValue(), &why), qPrintable(why));
            }
            QCOMPARE(kinds, (QSet<int>{int(QuillomareCore::ClipKind::text), int(QuillomareCore::ClipKind::url),
                                       int(QuillomareCore::ClipKind::file), int(QuillomareCore::ClipKind::image)}));
            QVERIFY(std::any_of(items.begin(), items.end(), [](const auto& item) { return item.isPinned; }));
            // A secret shows as hidden, never as its text.
            const auto secret =
                std::find_if(items.begin(), items.end(), [](const auto& item) { return item.isSensitive; });
            QVERIFY(secret != items.end());
            QVERIFY(!secret->preview.contains(secret->payload.textValue()));
            QVERIFY(items.size() >= 8); // enough rows to fill the list
        }
    }

    // The shelf sample is one session with a card of every kind, a secret among them.
    void testSampleShelfHasACardOfEveryKind()
    {
        for (const bool chinese : {false, true}) {
            Language::setIsChineseForTesting(chinese);
            IslandView view(QRect(QPoint(0, 0), IslandPreviewRenderer::expandedIslandSize()));
            IslandPreviewRenderer::fillWithSampleContent(view);
            QVERIFY(!view.shelfSessions().isEmpty());
            const QList<ShelfItem>& cards = view.shelfSessions().first().items;
            bool image = false, text = false, link = false, files = false, secret = false;
            for (const ShelfItem& card : cards) {
                QString why;
                if (card.payload.isImagePNG()) {
                    image = true;
                    QVERIFY2(looksLikeAPicture(card.payload.imagePNGValue(), &why), qPrintable(why));
                }
                text = text || (card.payload.isText() && !card.isSensitive);
                link = link || card.payload.isURL();
                files = files || card.payload.isFileURLs();
                secret = secret || card.isSensitive;
            }
            QVERIFY(image && text && link && files && secret);
        }
    }

    // The echo's sample names an application of this desktop.
    void testEchoSampleNamesALinuxApplication()
    {
        const auto source = IslandPreviewRenderer::sampleCaptureFeedback().sourceAppName;
        QVERIFY(source && !source->isEmpty());
        QVERIFY2(!foreignApplicationNames().contains(*source), qPrintable(*source));
    }

    // Both languages render, each in its own words: the pictures differ.
    void testPreviewsRenderInBothLanguages_data() { testIslandPreviewIsANonBlankPNGOfTheExpandedSize_data(); }

    void testPreviewsRenderInBothLanguages()
    {
        QFETCH(Mode, mode);
        Language::setIsChineseForTesting(false);
        const QImage english = IslandPreviewRenderer::islandImage(mode);
        Language::setIsChineseForTesting(true);
        const QImage chinese = IslandPreviewRenderer::islandImage(mode);
        QVERIFY(!IslandPreviewRenderer::isBlank(english) && !IslandPreviewRenderer::isBlank(chinese));
        QCOMPARE(chinese.size(), english.size());
        QVERIFY(chinese != english);
    }

    void testUnwritablePathsAreInvalidPNG_data()
    {
        QTest::addColumn<QString>("relative");
        QTest::newRow("missing folder") << QStringLiteral("no/such/folder/island.png");
        QTest::newRow("a folder") << QStringLiteral(".");
    }

    void testUnwritablePathsAreInvalidPNG()
    {
        QFETCH(QString, relative);
        const QString file = QDir::cleanPath(path(relative));
        QString description;
        QCOMPARE(errorKind([&] { IslandPreviewRenderer::render(file, Mode::history); }, &description),
                 std::optional(Kind::invalidPNG));
        QVERIFY2(description.contains(file), qPrintable(description));
        QCOMPARE(errorKind([&] { IslandPreviewRenderer::renderCaptureEcho(file); }), std::optional(Kind::invalidPNG));
    }

    void testBlankPicturesAreRefusedAndWriteNothing_data()
    {
        QTest::addColumn<QColor>("colour");
        QTest::newRow("transparent") << QColor(Qt::transparent);
        QTest::newRow("one dark colour") << QColor(12, 14, 16, 220);
    }

    void testBlankPicturesAreRefusedAndWriteNothing()
    {
        QFETCH(QColor, colour);
        QImage blank(780, 430, QImage::Format_ARGB32_Premultiplied);
        blank.fill(colour);
        const QString file = path(QStringLiteral("blank.png"));
        QCOMPARE(errorKind([&] { IslandPreviewRenderer::writePNG(blank, file); }), std::optional(Kind::blankPreview));
        QVERIFY(!QFile::exists(file));

        blank.setPixelColor(779, 429, Qt::white);
        QVERIFY(!IslandPreviewRenderer::isBlank(blank));
    }

    void testFailedRenderKeepsThePreviousFile()
    {
        const QString file = path(QStringLiteral("island.png"));
        IslandPreviewRenderer::render(file, Mode::history);
        const QByteArray before = QuillomareTest::readFile(file);
        QImage blank(10, 10, QImage::Format_ARGB32);
        blank.fill(Qt::black);
        QCOMPARE(errorKind([&] { IslandPreviewRenderer::writePNG(blank, file); }), std::optional(Kind::blankPreview));
        QCOMPARE(QuillomareTest::readFile(file), before);
    }

    void testNullPictureIsAMissingBitmap()
    {
        QCOMPARE(errorKind([&] { IslandPreviewRenderer::writePNG(QImage(), path(QStringLiteral("x.png"))); }),
                 std::optional(Kind::missingBitmap));
    }

    void testErrorTextsInBothLanguages()
    {
        QStringList english;
        for (const Kind kind : {Kind::missingBitmap, Kind::invalidPNG, Kind::blankPreview})
            english.append(RenderError::description(kind));
        Language::setIsChineseForTesting(true);
        QStringList chinese;
        for (const Kind kind : {Kind::missingBitmap, Kind::invalidPNG, Kind::blankPreview})
            chinese.append(RenderError::description(kind));
        QCOMPARE(english.removeDuplicates(), 0);
        QCOMPARE(chinese.removeDuplicates(), 0);
        for (int i = 0; i < 3; ++i) {
            QVERIFY(!english.at(i).isEmpty() && !chinese.at(i).isEmpty());
            QVERIFY(english.at(i) != chinese.at(i));
        }
        QCOMPARE(RenderError(Kind::blankPreview, QStringLiteral("/tmp/a.png")).localizedDescription(),
                 chinese.at(2) + QStringLiteral(": /tmp/a.png"));
    }
};

QUILLOMARE_GUI_TEST_MAIN(IslandPreviewRendererTest)
#include "tst_islandpreviewrenderer.moc"
