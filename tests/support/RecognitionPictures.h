#pragma once

// Pictures of text for the text-recognition tests and benchmarks, and how far a reading is from
// what was drawn.

#include <QFont>
#include <QFontMetrics>
#include <QImage>
#include <QList>
#include <QPainter>
#include <QRegularExpression>
#include <QString>

#include <algorithm>
#include <utility>
#include <vector>

namespace RecognitionPictures {

// Lines of (family, text) in one size, black on white with a margin of one line.
inline QImage linesPicture(const QList<std::pair<QString, QString>>& lines, int pixelSize)
{
    int width = 0;
    for (const auto& [family, text] : lines) {
        QFont font(family);
        font.setPixelSize(pixelSize);
        width = std::max(width, QFontMetrics(font).horizontalAdvance(text));
    }
    const int step = pixelSize * 8 / 5;
    QImage image(width + 2 * pixelSize, int(lines.size()) * step + 2 * pixelSize, QImage::Format_RGB32);
    image.fill(Qt::white);
    QPainter painter(&image);
    painter.setPen(Qt::black);
    int top = pixelSize;
    for (const auto& [family, text] : lines) {
        QFont font(family);
        font.setPixelSize(pixelSize);
        painter.setFont(font);
        painter.drawText(pixelSize, top + QFontMetrics(font).ascent(), text);
        top += step;
    }
    return image;
}

// Characters to add, drop or change to turn one text into the other, blanks ignored.
inline qsizetype editDistance(QString a, QString b)
{
    static const QRegularExpression blanks(QStringLiteral("\\s+"));
    a.remove(blanks);
    b.remove(blanks);
    std::vector<qsizetype> row(size_t(b.size()) + 1);
    for (qsizetype j = 0; j <= b.size(); ++j)
        row[size_t(j)] = j;
    for (qsizetype i = 1; i <= a.size(); ++i) {
        qsizetype diagonal = row[0];
        row[0] = i;
        for (qsizetype j = 1; j <= b.size(); ++j) {
            const qsizetype above = row[size_t(j)];
            row[size_t(j)] = std::min({above + 1, row[size_t(j - 1)] + 1, diagonal + (a[i - 1] == b[j - 1] ? 0 : 1)});
            diagonal = above;
        }
    }
    return row[size_t(b.size())];
}

} // namespace RecognitionPictures
