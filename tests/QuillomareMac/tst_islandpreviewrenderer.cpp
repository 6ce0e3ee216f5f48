#include "TestSupport.h"

#include <QuillomareMac/DevTools/IslandPreviewRenderer.h>
#include <QuillomareMac/Shell/Localization.h>

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QImage>
#include <QImageReader>
#include <QTemporaryDir>

using namespace QuillomareMac;
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
        L10n::setIsChineseForTesting(false);
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
        L10n::setIsChineseForTesting(true);
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
