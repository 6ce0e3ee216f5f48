#include "LiveTextLayout.h"

#include <QHash>

#include <algorithm>
#include <cmath>
#include <limits>

namespace QuillomareMac {

namespace {

// Writing that runs without spaces between its words: Han, kana, Hangul, their punctuation and
// the full-width forms.
bool isSpacelessScript(char32_t c)
{
    return (c >= 0x2E80 && c <= 0x9FFF)       // radicals, CJK punctuation, kana, Hangul jamo, Han
           || (c >= 0xAC00 && c <= 0xD7AF)    // Hangul syllables
           || (c >= 0xF900 && c <= 0xFAFF)    // compatibility ideographs
           || (c >= 0xFE30 && c <= 0xFE4F)    // vertical forms
           || (c >= 0xFF00 && c <= 0xFFEF)    // full-width forms and punctuation
           || (c >= 0x20000 && c <= 0x3FFFF); // Han extensions
}

char32_t firstCodePoint(const QString& text)
{
    const auto points = text.toUcs4();
    return points.isEmpty() ? 0 : points.front();
}

char32_t lastCodePoint(const QString& text)
{
    const auto points = text.toUcs4();
    return points.isEmpty() ? 0 : points.back();
}

// Flips a box of the recogniser (origin at the lower left) to the card's upper-left origin.
QRectF flipped(const QRectF& box)
{
    return QRectF(box.x(), 1.0 - box.y() - box.height(), box.width(), box.height());
}

double distanceToSpan(double value, double from, double to)
{
    if (value < from)
        return from - value;
    if (value > to)
        return value - to;
    return 0;
}

} // namespace

LiveTextLayout::LiveTextLayout(QList<LiveTextWord> words) : m_words(std::move(words)) {}

LiveTextLayout LiveTextLayout::fromRecognition(const Platform::TextRecognizer::Result& result)
{
    QList<LiveTextWord> words;
    QHash<int, int> lineNumbers; // the engine's line → ours, counting only lines that keep a word
    for (const Platform::RecognizedWord& word : result.words) {
        if (word.confidence < minimumConfidence || word.text.trimmed().isEmpty() || word.boundingBox.isEmpty())
            continue;
        QRectF box = flipped(word.boundingBox);
        if (word.lineIndex >= 0 && word.lineIndex < result.lines.size()) {
            const QRectF line = flipped(result.lines[word.lineIndex]);
            const double top = std::min(box.top(), line.top());
            const double bottom = std::max(box.bottom(), line.bottom());
            box.setTop(top);
            box.setBottom(bottom);
        }
        const auto known = lineNumbers.constFind(word.lineIndex);
        const int line = known != lineNumbers.cend() ? *known : int(lineNumbers.size());
        lineNumbers.insert(word.lineIndex, line);
        words.append({word.text.trimmed(), box, line});
    }
    return LiveTextLayout(std::move(words));
}

std::optional<int> LiveTextLayout::wordAt(QPointF point, QSizeF slop) const
{
    std::optional<int> best;
    double bestDistance = std::numeric_limits<double>::max();
    for (int i = 0; i < int(m_words.size()); ++i) {
        const QRectF box = m_words[i].box;
        const QRectF grown = box.adjusted(-slop.width(), -slop.height(), slop.width(), slop.height());
        if (!grown.contains(point))
            continue;
        const double distance = std::hypot(distanceToSpan(point.x(), box.left(), box.right()),
                                           distanceToSpan(point.y(), box.top(), box.bottom()));
        if (distance < bestDistance) {
            bestDistance = distance;
            best = i;
        }
    }
    return best;
}

std::optional<int> LiveTextLayout::wordReachedAt(QPointF point) const
{
    if (m_words.isEmpty())
        return std::nullopt;
    // Each line's extent, and its words' range (a line's words follow each other).
    struct Line
    {
        QRectF extent;
        int first;
        int last;
    };
    QList<Line> lines;
    for (int i = 0; i < int(m_words.size()); ++i) {
        const LiveTextWord& word = m_words[i];
        if (!lines.isEmpty() && m_words[lines.back().last].line == word.line) {
            lines.back().extent |= word.box;
            lines.back().last = i;
        } else {
            lines.append({word.box, i, i});
        }
    }
    // Level with the point beats nearer in height; among lines level with it (columns), the
    // one nearest across.
    const Line* chosen = nullptr;
    std::pair<double, double> bestDistance{std::numeric_limits<double>::max(), std::numeric_limits<double>::max()};
    for (const Line& line : lines) {
        const std::pair<double, double> distance{distanceToSpan(point.y(), line.extent.top(), line.extent.bottom()),
                                                 distanceToSpan(point.x(), line.extent.left(), line.extent.right())};
        if (distance < bestDistance) {
            bestDistance = distance;
            chosen = &line;
        }
    }
    int reached = chosen->first;
    for (int i = chosen->first; i <= chosen->last; ++i) {
        if (m_words[i].box.left() <= point.x())
            reached = i;
    }
    return reached;
}

bool LiveTextLayout::joinsWithoutSpace(const QString& before, const QString& after)
{
    return isSpacelessScript(lastCodePoint(before)) || isSpacelessScript(firstCodePoint(after));
}

QString LiveTextLayout::text(int first, int last) const
{
    if (m_words.isEmpty())
        return {};
    if (first > last)
        std::swap(first, last);
    first = std::clamp(first, 0, int(m_words.size()) - 1);
    last = std::clamp(last, 0, int(m_words.size()) - 1);
    QString joined = m_words[first].text;
    for (int i = first + 1; i <= last; ++i) {
        const LiveTextWord& word = m_words[i];
        if (word.line != m_words[i - 1].line)
            joined += QLatin1Char('\n');
        else if (!joinsWithoutSpace(m_words[i - 1].text, word.text))
            joined += QLatin1Char(' ');
        joined += word.text;
    }
    return joined;
}

QList<QRectF> LiveTextLayout::selectionBoxes(int first, int last) const
{
    QList<QRectF> boxes;
    if (m_words.isEmpty())
        return boxes;
    if (first > last)
        std::swap(first, last);
    first = std::clamp(first, 0, int(m_words.size()) - 1);
    last = std::clamp(last, 0, int(m_words.size()) - 1);
    for (int i = first; i <= last; ++i) {
        if (i > first && m_words[i].line == m_words[i - 1].line)
            boxes.back() |= m_words[i].box;
        else
            boxes.append(m_words[i].box);
    }
    return boxes;
}

} // namespace QuillomareMac
