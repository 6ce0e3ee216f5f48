#include "RecognitionPictures.h"

#include <Platform/TextPicture.h>

#include <QFont>
#include <QFontMetrics>
#include <QImage>
#include <QLinearGradient>
#include <QPainter>
#include <QPen>
#include <QTest>

#include <cstdlib>
#include <map>
#include <utility>
#include <vector>

namespace {

// A panel with a line of text in it: where the panel and the line's ink stand.
struct Panel
{
    QRect area;
    QRect text;
    QColor fill;
    QColor ink;
    QString description;
};

// Draws `text` in a rounded panel of `fill` at `top`, padded by about half a line as chat bubbles
// are: too thin around the text for a square of plain background to fit.
Panel drawPanel(QPainter& painter, const QString& text, int pixelSize, const QColor& fill, const QColor& ink,
                int left, int top)
{
    QFont font(QStringLiteral("Noto Sans CJK SC"));
    font.setPixelSize(pixelSize);
    painter.setFont(font);
    const QFontMetrics metrics(font);
    const int pad = pixelSize / 2;
    const QRect textRect(left + pad, top + pad, metrics.horizontalAdvance(text), metrics.height());
    const QRect area(left, top, textRect.width() + 2 * pad, textRect.height() + 2 * pad);
    painter.setPen(Qt::NoPen);
    painter.setBrush(fill);
    painter.drawRoundedRect(area, pad, pad);
    painter.setPen(ink);
    painter.drawText(textRect, Qt::AlignLeft | Qt::AlignVCenter, text);
    return {area, textRect, fill, ink,
            QStringLiteral("%1 on %2, %3 px").arg(ink.name(), fill.name()).arg(pixelSize)};
}

// Of a panel's pixels (clear of its rounded corners) drawn in the panel's colour, the share that
// comes out white; of those drawn in the text's colour, the share that comes out dark.
struct Shares
{
    double white = 0;
    double dark = 0;
};

Shares sharesOf(const QImage& drawn, const QImage& grey, const Panel& panel)
{
    const auto near = [](QRgb a, const QColor& b) {
        return std::max({std::abs(qRed(a) - b.red()), std::abs(qGreen(a) - b.green()), std::abs(qBlue(a) - b.blue())})
               <= 8;
    };
    const QRect clear = panel.area.adjusted(panel.area.height() / 2, 1, -panel.area.height() / 2, -1);
    int background = 0, white = 0, inked = 0, dark = 0;
    for (int y = clear.top(); y <= clear.bottom(); ++y) {
        const auto* colours = reinterpret_cast<const QRgb*>(drawn.constScanLine(y));
        const uchar* row = grey.constScanLine(y);
        for (int x = clear.left(); x <= clear.right(); ++x) {
            if (near(colours[x], panel.fill)) {
                ++background;
                white += row[x] >= 224 ? 1 : 0;
            } else if (near(colours[x], panel.ink)) {
                ++inked;
                dark += row[x] < 128 ? 1 : 0;
            }
        }
    }
    return {background > 0 ? double(white) / background : 0, inked > 0 ? double(dark) / inked : 0};
}

// How a bubble's edge and its white text came out of normalising, counted over `area`: of the
// pixels on the edge's band (`edge`, away from the text), how many are dark; of the text's pure
// white pixels in the drawing, how many are dark.
struct BubbleCounts
{
    int edgePixels = 0;
    int darkEdge = 0;
    int core = 0;
    int darkCore = 0;
};

BubbleCounts countBubble(const QImage& drawn, const QImage& grey, const QImage& edge, const QRect& text,
                         const QRect& area)
{
    BubbleCounts counts;
    const QRect inside = area & drawn.rect();
    for (int y = inside.top(); y <= inside.bottom(); ++y) {
        const auto* colours = reinterpret_cast<const QRgb*>(drawn.constScanLine(y));
        const uchar* read = grey.constScanLine(y);
        const uchar* band = edge.constScanLine(y);
        for (int x = inside.left(); x <= inside.right(); ++x) {
            if (band[x] >= 128 && !text.adjusted(-2, -2, 2, 2).contains(x, y)) {
                ++counts.edgePixels;
                counts.darkEdge += read[x] < 160 ? 1 : 0;
            } else if (text.contains(x, y) && qRed(colours[x]) > 240 && qBlue(colours[x]) > 240) {
                ++counts.core;
                counts.darkCore += read[x] < 160 ? 1 : 0;
            }
        }
    }
    return counts;
}

} // namespace

class TestTextPicture : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    // Chat bubbles darker and lighter than the coloured page they lie on, white text in them, small
    // print: each bubble's own colour is its background, whichever way it differs from
    // the page, so that it comes out white around dark text and no grey patch hides the text.
    void textInBubblesOfOtherShadesThanThePageComesOutDarkOnWhite()
    {
        const QList<QColor> pages{QColor(0xd9, 0x77, 0x06), QColor(0x0e, 0x74, 0x90), QColor(0x9d, 0x17, 0x4d),
                                  QColor(0x4d, 0x7c, 0x0f), QColor(0x57, 0x53, 0x4e)};
        for (const QColor& page : pages) {
            for (const int pixelSize : {12, 14, 17}) {
                QImage image(QSize(34 * pixelSize, 12 * pixelSize), QImage::Format_RGB32);
                image.fill(page);
                std::vector<Panel> panels;
                {
                    QPainter painter(&image);
                    painter.setRenderHint(QPainter::Antialiasing);
                    const int step = pixelSize * 3;
                    panels.push_back(drawPanel(painter, QStringLiteral("明天早上九点开会"), pixelSize,
                                               page.darker(150), Qt::white, pixelSize, pixelSize / 2));
                    panels.push_back(drawPanel(painter, QStringLiteral("收到，我会准时到"), pixelSize,
                                               page.darker(200), Qt::white, 14 * pixelSize, pixelSize / 2 + step));
                    panels.push_back(drawPanel(painter, QStringLiteral("Meeting notes are ready"), pixelSize,
                                               page.lighter(135), Qt::white, pixelSize, pixelSize / 2 + 2 * step));
                    panels.push_back(drawPanel(painter, QStringLiteral("請把檔案寄給我"), pixelSize,
                                               page.darker(120), Qt::white, 14 * pixelSize,
                                               pixelSize / 2 + 3 * step));
                }
                const QImage grey = Platform::TextPicture::darkTextOnWhite(image);
                for (const Panel& panel : panels) {
                    const Shares shares = sharesOf(image, grey, panel);
                    const QString what = QStringLiteral("%1 on a page of %2: %3 of the panel white, %4 of the text dark")
                                             .arg(panel.description, page.name())
                                             .arg(shares.white)
                                             .arg(shares.dark);
                    QVERIFY2(shares.white >= 0.9, qPrintable(what));
                    QVERIFY2(shares.dark >= 0.9, qPrintable(what));
                }
            }
        }
    }

    // White text on a coloured bar or bubble on a light page, among dark text on the page: the
    // selected row of a list, a row barely taller than its text so that a tile holds page, bar and
    // text together, and a chat bubble cut off by the picture's right edge. The bar is the
    // background inside it and the page outside it: the white text comes out dark, the bar white,
    // and the dark rows around stay dark on white.
    void whiteTextOnBarsAndBubblesOnALightPageComesOutDarkOnWhite()
    {
        const QStringList rows{QStringLiteral("保存副本"), QStringLiteral("Open Recent"), QStringLiteral("列印預覽"),
                               QStringLiteral("關閉視窗")};
        for (const QColor& bar : {QColor(0x30, 0x8c, 0xc6), QColor(0x00, 0x78, 0xd7), QColor(0x2e, 0x7d, 0x32)}) {
            for (const int pixelSize : {12, 14, 16}) {
                const int rowHeight = pixelSize * 3 / 2;
                QImage image(QSize(24 * pixelSize, 14 * pixelSize), QImage::Format_RGB32);
                image.fill(QColor(0xef, 0xf0, 0xf1));
                std::vector<Panel> selected;
                std::vector<Panel> plain;
                {
                    QPainter painter(&image);
                    painter.setRenderHint(QPainter::Antialiasing);
                    QFont font(QStringLiteral("Noto Sans CJK SC"));
                    font.setPixelSize(pixelSize);
                    painter.setFont(font);
                    const QFontMetrics metrics(font);
                    // The list box: white, framed, one row selected.
                    const QRect list(pixelSize, pixelSize, 14 * pixelSize, 5 * rowHeight);
                    painter.fillRect(list, Qt::white);
                    painter.setPen(QColor(0xa0, 0xa0, 0xa0));
                    painter.drawRect(list.adjusted(-1, -1, 0, 0));
                    for (int i = 0; i < rows.size(); ++i) {
                        const QRect row(list.left(), list.top() + 2 + i * rowHeight, list.width(), rowHeight);
                        const QRect text(row.left() + 4, row.top() + (rowHeight - metrics.height()) / 2,
                                         metrics.horizontalAdvance(rows[i]), metrics.height());
                        const bool isSelected = i == 1;
                        const QColor ink = isSelected ? QColor(Qt::white) : QColor(0x23, 0x26, 0x29);
                        if (isSelected)
                            painter.fillRect(row, bar);
                        painter.setPen(ink);
                        painter.drawText(text, Qt::AlignLeft | Qt::AlignVCenter, rows[i]);
                        const Panel panel{row, text, isSelected ? bar : QColor(Qt::white), ink,
                                          QStringLiteral("list row %1, %2 on %3, %4 px")
                                              .arg(i)
                                              .arg(ink.name(), bar.name())
                                              .arg(pixelSize)};
                        (isSelected ? selected : plain).push_back(panel);
                    }
                    // A bubble running off the right edge, below the list.
                    const QString said = QStringLiteral("下週三交報告可以嗎？");
                    selected.push_back(drawPanel(painter, said, pixelSize, bar, Qt::white,
                                                 image.width() - metrics.horizontalAdvance(said) - pixelSize / 2,
                                                 list.bottom() + pixelSize));
                }
                const QImage grey = Platform::TextPicture::darkTextOnWhite(image);
                for (const std::vector<Panel>* panels : {&selected, &plain}) {
                    for (const Panel& panel : *panels) {
                        const Shares shares = sharesOf(image, grey, panel);
                        const QString what = QStringLiteral("%1: %2 of the background white, %3 of the text dark")
                                                 .arg(panel.description)
                                                 .arg(shares.white)
                                                 .arg(shares.dark);
                        QVERIFY2(shares.white >= 0.9, qPrintable(what));
                        QVERIFY2(shares.dark >= 0.9, qPrintable(what));
                    }
                }
            }
        }
    }

    // A chat bubble of white text on a saturated colour, two lines tall, on a white or light grey
    // page, saved as a JPEG: the bubble's rounded edge, which the JPEG smears into shades of
    // neither page nor bubble, comes out white (read as brackets and dashes otherwise), and the
    // text in it stays dark.
    void aBubblesEdgeComesOutWhiteThroughAJpeg()
    {
        const QStringList lines{QStringLiteral("週末要不要一起去爬山"), QStringLiteral("天氣預報說晴天")};
        QStringList failures;
        for (const QColor& fill : {QColor(0x00, 0x7a, 0xff), QColor(0x0b, 0x80, 0x43), QColor(0x8e, 0x24, 0xaa)}) {
            for (const QColor& page : {QColor(Qt::white), QColor(0xf0, 0xf2, 0xf5)}) {
                for (const int pixelSize : {22, 30}) {
                    for (const int quality : {55, 70}) {
                        QFont font(QStringLiteral("Noto Sans CJK TC"));
                        font.setPixelSize(pixelSize);
                        const QFontMetrics metrics(font);
                        const int pad = pixelSize * 2 / 3;
                        const QRect text(2 * pixelSize, pixelSize, metrics.horizontalAdvance(lines[0]),
                                         2 * metrics.height());
                        const QRect bubble = text.adjusted(-pad, -pad, pad, pad);
                        QImage drawn(bubble.right() + 2 * pixelSize, bubble.bottom() + pixelSize,
                                     QImage::Format_RGB32);
                        drawn.fill(page);
                        // Where the bubble's edge runs: a band 6 px wide along its outline.
                        QImage edge(drawn.size(), QImage::Format_Grayscale8);
                        edge.fill(0);
                        {
                            QPainter painter(&drawn);
                            painter.setRenderHint(QPainter::Antialiasing);
                            painter.setPen(Qt::NoPen);
                            painter.setBrush(fill);
                            painter.drawRoundedRect(bubble, pad, pad);
                            painter.setFont(font);
                            painter.setPen(Qt::white);
                            painter.drawText(text, Qt::AlignLeft | Qt::AlignTop, lines.join(QLatin1Char('\n')));
                            QPainter outline(&edge);
                            outline.setPen(QPen(Qt::white, 6));
                            outline.drawRoundedRect(bubble, pad, pad);
                        }
                        const QImage grey = Platform::TextPicture::darkTextOnWhite(
                            RecognitionPictures::Detail::throughJpeg(drawn, quality));
                        const auto [edgePixels, darkEdge, core, darkCore] =
                            countBubble(drawn, grey, edge, text, drawn.rect());
                        const QString what = QStringLiteral("%1 on %2, %3 px, JPEG %4: %5 of %6 edge pixels dark, "
                                                             "%7 of %8 text pixels dark")
                                                 .arg(fill.name(), page.name())
                                                 .arg(pixelSize)
                                                 .arg(quality)
                                                 .arg(darkEdge)
                                                 .arg(edgePixels)
                                                 .arg(darkCore)
                                                 .arg(core);
                        if (edgePixels == 0 || core == 0 || darkEdge * 100 > edgePixels * 3
                            || darkCore * 20 < core * 9)
                            failures.append(what);
                    }
                }
            }
        }
        QVERIFY2(failures.isEmpty(), qPrintable(failures.join(QStringLiteral("; "))));
    }

    // Large heavy characters with long strokes as thick as a bubble's padding, on light and dark
    // pages: a stroke's own colour is never taken for a background, which would hollow it out.
    void largeHeavyCharactersKeepTheirStrokes()
    {
        for (const auto& [page, ink] : {std::pair{QColor(Qt::white), QColor(0x11, 0x11, 0x11)},
                                        std::pair{QColor(0x1e, 0x1f, 0x22), QColor(0xe6, 0xe6, 0xe6)},
                                        std::pair{QColor(0x25, 0x63, 0xeb), QColor(Qt::white)}}) {
            for (const int pixelSize : {40, 64}) {
                QImage image(QSize(6 * pixelSize, 2 * pixelSize), QImage::Format_RGB32);
                image.fill(page);
                {
                    QPainter painter(&image);
                    QFont font(QStringLiteral("Noto Sans CJK SC"));
                    font.setPixelSize(pixelSize);
                    font.setWeight(QFont::Black);
                    painter.setFont(font);
                    painter.setPen(ink);
                    painter.drawText(image.rect(), Qt::AlignCenter, QStringLiteral("三王正工"));
                }
                const QImage grey = Platform::TextPicture::darkTextOnWhite(image);
                int inked = 0, kept = 0;
                for (int y = 0; y < image.height(); ++y) {
                    const auto* drawn = reinterpret_cast<const QRgb*>(image.constScanLine(y));
                    const uchar* read = grey.constScanLine(y);
                    for (int x = 0; x < image.width(); ++x) {
                        if (std::abs(qGray(drawn[x]) - qGray(ink.rgb())) < 8) {
                            ++inked;
                            kept += read[x] < 96 ? 1 : 0;
                        }
                    }
                }
                QVERIFY(inked > 0);
                QVERIFY2(kept >= inked * 99 / 100,
                         qPrintable(QStringLiteral("%1 on %2, %3 px: %4 of %5 ink pixels dark")
                                        .arg(ink.name(), page.name())
                                        .arg(pixelSize)
                                        .arg(kept)
                                        .arg(inked)));
            }
        }
    }

    // A chat bubble alone in the bottom right corner of a large page saved as a JPEG, its right side
    // a few pixels from the picture's edge: nothing else on the page, or a card of dark text far
    // from it on the left, on a page plain or shaded from top to bottom. However little of the
    // picture holds ink, and however the picture's width falls, the bubble's edge comes out white
    // and its text dark.
    void aLoneBubbleInTheCornerOfALargeJpegLosesItsEdge()
    {
        const QString said = QStringLiteral("今晚七點在門口見");
        QStringList failures;
        for (const QSize size : {QSize(1283, 901), QSize(1920, 1080)}) {
            for (const bool shaded : {false, true}) {
                for (const bool card : {false, true}) {
                    QImage drawn(size, QImage::Format_RGB32);
                    QFont font(QStringLiteral("Noto Sans CJK TC"));
                    font.setPixelSize(20);
                    const QFontMetrics metrics(font);
                    const int pad = 12;
                    const QRect text(size.width() - 4 - pad - metrics.horizontalAdvance(said),
                                     size.height() - 10 - pad - metrics.height(), metrics.horizontalAdvance(said),
                                     metrics.height());
                    const QRect bubble = text.adjusted(-pad, -pad, pad, pad);
                    QImage edge(drawn.size(), QImage::Format_Grayscale8);
                    edge.fill(0);
                    {
                        QPainter painter(&drawn);
                        painter.setRenderHint(QPainter::Antialiasing);
                        if (shaded) {
                            QLinearGradient gradient(0, 0, 0, size.height());
                            gradient.setColorAt(0, QColor(0xfa, 0xfb, 0xfc));
                            gradient.setColorAt(1, QColor(0xea, 0xee, 0xf2));
                            painter.fillRect(drawn.rect(), gradient);
                        } else {
                            painter.fillRect(drawn.rect(), Qt::white);
                        }
                        if (card) {
                            const QRect box(40, 40, size.width() / 2, size.height() / 3);
                            painter.fillRect(box, QColor(0xee, 0xee, 0xee));
                            painter.setFont(font);
                            painter.setPen(QColor(0x20, 0x20, 0x20));
                            painter.drawText(box.adjusted(16, 16, -16, -16), Qt::AlignLeft | Qt::AlignTop,
                                             QStringLiteral("系統設定\n儲存空間 剩餘 48 GB\n螢幕亮度 自動調節"));
                        }
                        painter.setPen(Qt::NoPen);
                        painter.setBrush(QColor(0x00, 0x7a, 0xff));
                        painter.drawRoundedRect(bubble, pad, pad);
                        painter.setFont(font);
                        painter.setPen(Qt::white);
                        painter.drawText(text, Qt::AlignLeft | Qt::AlignVCenter, said);
                        QPainter outline(&edge);
                        outline.setPen(QPen(Qt::white, 6));
                        outline.drawRoundedRect(bubble, pad, pad);
                    }
                    const QImage grey =
                        Platform::TextPicture::darkTextOnWhite(RecognitionPictures::Detail::throughJpeg(drawn, 60));
                    const auto [edgePixels, darkEdge, core, darkCore] =
                        countBubble(drawn, grey, edge, text,
                                    QRect(QPoint(bubble.left() - 4, bubble.top() - 4),
                                          QPoint(size.width() - 1, bubble.bottom() + 4)));
                    if (edgePixels == 0 || core == 0 || darkEdge * 100 > edgePixels * 3 || darkCore * 20 < core * 9)
                        failures.append(
                            QStringLiteral("%1x%2%3%4: %5 of %6 edge pixels dark, %7 of %8 text pixels dark")
                                .arg(size.width())
                                .arg(size.height())
                                .arg(shaded ? QStringLiteral(", shaded") : QString(),
                                     card ? QStringLiteral(", with a card") : QString())
                                .arg(darkEdge)
                                .arg(edgePixels)
                                .arg(darkCore)
                                .arg(core));
                }
            }
        }
        QVERIFY2(failures.isEmpty(), qPrintable(failures.join(QStringLiteral("; "))));
    }

    // Panels of small text in the common faces and looks, as drawn (antialiased, or jagged
    // without antialiasing) and scaled down to three quarters afterwards: the scaled ones are
    // taken for blurred, for the recognizer to read their doubtful characters again, and text
    // drawn at its size is not, for it to be read as before at no more cost. The thin strokes of
    // a Ming face or WenQuanYi at 12-14 px make ramps of their own now and then, so the crisp
    // panels are judged by their share, and the faces of an ordinary desktop one by one.
    void textScaledDownIsToldFromTextDrawnAtItsSize()
    {
        using RecognitionPictures::Look;
        const QList<std::pair<QString, QString>> rows{
            {QStringLiteral("网络连接 已连接"), QStringLiteral("網路連線 已連線")},
            {QStringLiteral("界面语言 简体中文"), QStringLiteral("介面語言 繁體中文")},
            {QStringLiteral("Bluetooth 蓝牙 已关闭"), QStringLiteral("Bluetooth 藍牙 已關閉")},
            {QStringLiteral("自动更新 每天检查"), QStringLiteral("自動更新 每天檢查")},
        };
        enum class Way { crisp, jagged, scaledDown };
        std::map<Way, std::pair<int, int>> counts; // pictures, taken for blurred
        QStringList misjudged;
        const auto judge = [&](Way way, const QImage& picture, const QString& what) {
            const bool blurred =
                Platform::TextPicture::blurredByScaling(Platform::TextPicture::darkTextOnWhite(picture));
            ++counts[way].first;
            counts[way].second += blurred ? 1 : 0;
            if (blurred != (way == Way::scaledDown))
                misjudged.append(what);
            return blurred;
        };
        for (const RecognitionPictures::CjkFont& font : RecognitionPictures::cjkFonts()) {
            for (const bool traditional : {false, true}) {
                const QString family = traditional ? font.traditional : font.simplified;
                QList<std::pair<QString, QString>> lines;
                for (const auto& [simplified, inTraditional] : rows)
                    lines.append({family, traditional ? inTraditional : simplified});
                for (const int size : {12, 14, 16}) {
                    for (const auto& [look, lookName] : RecognitionPictures::looks()) {
                        if (look != Look::plain && look != Look::darkMode && look != Look::whiteOnBlue &&
                            look != Look::gradient)
                            continue;
                        const QString what = QStringLiteral("%1 %2 px %3").arg(family).arg(size).arg(lookName);
                        const QImage crisp = RecognitionPictures::linesPicture(lines, size, look);
                        const bool blurred = judge(Way::crisp, crisp, what);
                        // The face of most desktops, drawn at its size, is never taken for blurred.
                        QVERIFY2(!blurred || !family.startsWith(QStringLiteral("Noto Sans")), qPrintable(what));
                        judge(Way::scaledDown,
                              crisp.scaled(crisp.width() * 3 / 4, crisp.height() * 3 / 4, Qt::IgnoreAspectRatio,
                                           Qt::SmoothTransformation),
                              what + QStringLiteral(" scaled down"));
                    }
                    QFont jaggedFont(family);
                    jaggedFont.setPixelSize(size);
                    jaggedFont.setStyleStrategy(QFont::NoAntialias);
                    const QFontMetrics metrics(jaggedFont);
                    QImage jagged(metrics.horizontalAdvance(lines[2].second) + 4 * size,
                                  int(lines.size()) * 2 * size + 2 * size, QImage::Format_RGB32);
                    jagged.fill(Qt::white);
                    {
                        QPainter painter(&jagged);
                        painter.setRenderHint(QPainter::TextAntialiasing, false);
                        painter.setFont(jaggedFont);
                        painter.setPen(QColor(0x1a, 0x1a, 0x1a));
                        for (qsizetype i = 0; i < lines.size(); ++i)
                            painter.drawText(2 * size, size + int(i) * 2 * size + metrics.ascent(), lines[i].second);
                    }
                    judge(Way::jagged, jagged, QStringLiteral("%1 %2 px jagged").arg(family).arg(size));
                }
            }
        }
        const QString all = misjudged.join(QStringLiteral("; "));
        qInfo("taken for blurred: %d of %d crisp, %d of %d jagged, %d of %d scaled down", counts[Way::crisp].second,
              counts[Way::crisp].first, counts[Way::jagged].second, counts[Way::jagged].first,
              counts[Way::scaledDown].second, counts[Way::scaledDown].first);
        // Measured: 29 of 120 crisp panels (16 of them in UMing, 9 in WenQuanYi), 117 of 120 scaled.
        QVERIFY2(counts[Way::crisp].second * 3 <= counts[Way::crisp].first, qPrintable(all));
        QVERIFY2(counts[Way::jagged].second == 0, qPrintable(all));
        QVERIFY2(counts[Way::scaledDown].second * 10 >= counts[Way::scaledDown].first * 9, qPrintable(all));
    }
};

QTEST_MAIN(TestTextPicture)

#include "tst_textpicture.moc"
