#include "TestSupport.h"

#include "Island/IslandIcons.h"

#include <QApplication>
#include <QPainter>

using namespace QuillomareMac;

namespace {

// Pixels that are at least half covered.
int coveredPixels(const QImage& image)
{
    int count = 0;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            count += image.pixelColor(x, y).alpha() >= 128 ? 1 : 0;
    return count;
}

int maximumAlpha(const QImage& image)
{
    int alpha = 0;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            alpha = std::max(alpha, image.pixelColor(x, y).alpha());
    return alpha;
}

} // namespace

class TestIslandIcons : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase() { IslandIcons::ensureIconTheme(); }

    void everySymbolOfTheTableDraws_data()
    {
        QTest::addColumn<QString>("symbol");
        for (const QString& symbol : IslandIcons::symbolNames())
            QTest::newRow(qPrintable(symbol)) << symbol;
    }

    void everySymbolOfTheTableDraws()
    {
        QFETCH(QString, symbol);
        const QColor tint = QColor::fromRgbF(0.42f, 0.86f, 0.58f);
        const QImage image = IslandIcons::image(symbol, 16, SymbolWeight::medium, tint);
        QVERIFY(!image.isNull());
        QCOMPARE(image.size(), QSize(IslandIcons::imageSide(16), IslandIcons::imageSide(16)));
        // A recognisable shape: neither empty nor a filled square.
        const int covered = coveredPixels(image);
        QVERIFY2(covered > 12, qPrintable(QString::number(covered)));
        QVERIFY2(covered < image.width() * image.height() * 3 / 4, qPrintable(QString::number(covered)));
        // Every drawn pixel has the tint's colour.
        for (int y = 0; y < image.height(); ++y) {
            for (int x = 0; x < image.width(); ++x) {
                const QColor colour = image.pixelColor(x, y);
                if (colour.alpha() == 255)
                    QVERIFY(std::abs(colour.green() - tint.green()) <= 1 && std::abs(colour.red() - tint.red()) <= 1);
            }
        }
        // Where the table names a theme icon, breeze has it: the icon is not a stand-in.
        if (!IslandIcons::themeIconName(symbol).isEmpty())
            QVERIFY2(IslandIcons::isFromTheme(symbol), qPrintable(IslandIcons::themeIconName(symbol)));
        QVERIFY(!islandMenuIcon(symbol).isNull());
    }

    void everySymbolTheIslandNamesIsKnown()
    {
        // The symbols the island's views, tiles, menus and badges ask for.
        const QStringList used = QStringLiteral(
            "antenna.radiowaves.left.and.right archivebox arrow.down.icloud arrow.triangle.2.circlepath "
            "checkmark.circle.fill chevron.down circle clock display doc doc.fill doc.on.clipboard "
            "doc.on.clipboard.fill doc.on.doc doc.plaintext doc.richtext doc.text doc.text.fill ellipsis "
            "ellipsis.circle eye film folder gearshape globe info.circle iphone link link.badge.plus "
            "list.bullet lock.fill magnifyingglass minus.circle minus.circle.fill pencil photo photo.fill pin "
            "pin.fill pin.slash plus power qrcode rectangle.dashed square.and.arrow.down square.and.arrow.up "
            "square.stack.3d.up text.alignleft text.append text.badge.plus text.justify.left text.viewfinder "
            "trash tray.and.arrow.down tray.full waveform xmark xmark.circle xmark.circle.fill")
                                     .split(QLatin1Char(' '));
        for (const QString& symbol : used)
            QVERIFY2(IslandIcons::contains(symbol), qPrintable(symbol));
    }

    void unknownSymbolsGiveNothing()
    {
        const QString unknown = QStringLiteral("no.such.symbol");
        QVERIFY(!IslandIcons::contains(unknown));
        QVERIFY(IslandIcons::image(unknown, 12, SymbolWeight::regular, Qt::white).isNull());
        QVERIFY(IslandIcons::pixmap(unknown, 12, SymbolWeight::regular, Qt::white).isNull());
        QVERIFY(islandMenuIcon(unknown).isNull());
        QVERIFY(islandMenuIcon(QString()).isNull());
        QVERIFY(IslandIcons::image(QStringLiteral("pin"), 0, SymbolWeight::regular, Qt::white).isNull());
    }

    void theDesktopWithoutAThemeGetsBreeze()
    {
        // The offscreen platform names no theme.
        QCOMPARE(QIcon::themeName(), QStringLiteral("breeze"));
        QVERIFY(QIcon::hasThemeIcon(QStringLiteral("edit-copy-symbolic")));
    }

    void imagesFollowSizeRatioAndWeight()
    {
        const QImage one = IslandIcons::image(QStringLiteral("doc.on.doc"), 16, SymbolWeight::regular, Qt::white);
        const QImage two = IslandIcons::image(QStringLiteral("doc.on.doc"), 16, SymbolWeight::regular, Qt::white, 2.0);
        QCOMPARE(two.size(), one.size() * 2);
        QCOMPARE(two.devicePixelRatio(), 2.0);

        for (const QString& symbol : {QStringLiteral("xmark"), QStringLiteral("pin")}) {
            const int regular = coveredPixels(IslandIcons::image(symbol, 24, SymbolWeight::regular, Qt::white));
            const int bold = coveredPixels(IslandIcons::image(symbol, 24, SymbolWeight::bold, Qt::white));
            QVERIFY2(bold > regular, qPrintable(symbol));
        }
    }

    void tintCarriesItsAlpha()
    {
        const QImage half =
            IslandIcons::image(QStringLiteral("xmark"), 16, SymbolWeight::medium, QColor::fromRgbF(1, 1, 1, 0.5f));
        QVERIFY(std::abs(maximumAlpha(half) - 128) <= 1);
    }

    void menuIconsAreLightAndDimWhenDisabled()
    {
        const QIcon icon = islandMenuIcon(QStringLiteral("trash"));
        const QImage normal = icon.pixmap(QSize(14, 14), 1.0, QIcon::Normal).toImage();
        const QImage disabled = icon.pixmap(QSize(14, 14), 1.0, QIcon::Disabled).toImage();
        QVERIFY(maximumAlpha(normal) > maximumAlpha(disabled) * 2);
    }

    void paintScalesDownButNeverUp()
    {
        QImage canvas(40, 40, QImage::Format_ARGB32_Premultiplied);
        canvas.fill(Qt::transparent);
        QPainter painter(&canvas);
        IslandIcons::paint(painter, QRectF(0, 0, 40, 40), QStringLiteral("circle"), 12, SymbolWeight::regular,
                           Qt::white);
        painter.end();
        // The 12-point circle stays about 14 pixels wide in the middle of a 40-pixel target.
        QCOMPARE(canvas.pixelColor(2, 20).alpha(), 0);
        QVERIFY(canvas.pixelColor(20 - 6, 20).alpha() > 0 || canvas.pixelColor(20 - 5, 20).alpha() > 0);
    }
};

QUILLOMARE_GUI_TEST_MAIN(TestIslandIcons)
#include "tst_islandcontrols_icons.moc"
