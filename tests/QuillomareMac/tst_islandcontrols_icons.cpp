#include "TestSupport.h"

#include "Island/Kit/IslandIcons.h"

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

// The ink of an image, in fully covered pixels.
int ink(const QImage& image)
{
    int alpha = 0;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            alpha += image.pixelColor(x, y).alpha();
    return alpha / 255;
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
    void everySymbolTheIslandNamesDrawsInTheCallersColour_data()
    {
        QTest::addColumn<QString>("symbol");
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
        QCOMPARE(IslandIcons::symbolNames().size(), used.size());
        for (const QString& symbol : used)
            QTest::newRow(qPrintable(symbol)) << symbol;
    }

    void everySymbolTheIslandNamesDrawsInTheCallersColour()
    {
        QFETCH(QString, symbol);
        QVERIFY(IslandIcons::contains(symbol));
        const QColor tint = QColor::fromRgbF(0.42f, 0.86f, 0.58f);
        for (qreal pointSize : {10.0, 13.0, 20.0}) {
            const QImage image = IslandIcons::image(symbol, pointSize, SymbolWeight::regular, tint);
            const int side = IslandIcons::imageSide(pointSize);
            QCOMPARE(image.size(), QSize(side, side));
            // A shape: neither blank nor a filled square.
            const int drawn = ink(image);
            QVERIFY2(drawn > side / 3 && drawn < side * side * 3 / 4,
                     qPrintable(QStringLiteral("%1 pt: %2").arg(pointSize).arg(drawn)));
            for (int y = 0; y < side; ++y) {
                for (int x = 0; x < side; ++x) {
                    const QColor colour = image.pixelColor(x, y);
                    if (colour.alpha() == 255)
                        QVERIFY(std::abs(colour.green() - tint.green()) <= 1 && std::abs(colour.red() - tint.red()) <= 1);
                }
            }
        }
        QVERIFY(!islandMenuIcon(symbol).isNull());
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

    void cutOutsOfFilledIconsAreHoles()
    {
        // The tick of a filled check circle shows what is behind it, not white.
        const QImage image =
            IslandIcons::image(QStringLiteral("checkmark.circle.fill"), 40, SymbolWeight::regular, Qt::black);
        int holes = 0;
        for (int y = image.height() / 3; y < image.height() * 2 / 3; ++y)
            for (int x = image.width() / 3; x < image.width() * 2 / 3; ++x)
                holes += image.pixelColor(x, y).alpha() == 0 ? 1 : 0;
        QVERIFY(holes > 0);
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
