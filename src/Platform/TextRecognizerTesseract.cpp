#include "TextRecognizerTesseract.h"

#include "ChineseScript.h"
#include "HanGlyphs.h"
#include "RecognitionThreads.h"
#include "TextPicture.h"

#include <QuillomareCore/Foundation.h>

#include <QDir>
#include <QFileInfo>
#include <QPainter>
#include <QScopeGuard>
#include <QTransform>

#include <tesseract/baseapi.h>
#include <tesseract/resultiterator.h>

#include <algorithm>
#include <array>
#include <limits>
#include <map>
#include <numeric>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <thread>
#include <tuple>
#include <vector>

namespace Platform {

namespace {

// Tesseract keeps its settings in process-wide variables that loading an engine writes: load
// one engine at a time, whichever recognizer asks.
std::mutex& engineLoadMutex()
{
    static std::mutex mutex;
    return mutex;
}

// A recognised character in image pixels: its own left and right, its line's top and bottom.
struct Symbol
{
    QString text;
    int left;
    int right;
    int top;
    int bottom;
    float confidence = 0; // the engine's, of this character
};

// Tesseract's recognised order along a line is right, its character boxes less so: the left
// edges follow the characters, the right edges of Chinese ones can reach far into their
// neighbours (and the box of a character can stand taller than its line). Every character is
// therefore given the height of its line, the way a text selection covers it, so that a short
// letter stands level with a tall one; and the boxes are made to follow each other without
// overlapping, left edges rising and each right edge stopping at the next left edge, so that
// ordering by position reproduces the recognised order.
void placeAlongLine(std::vector<Symbol>& line, int imageWidth)
{
    for (size_t i = 1; i < line.size(); ++i)
        line[i].left = std::max(line[i].left, line[i - 1].left + 1);
    for (size_t i = 0; i < line.size(); ++i) {
        Symbol& symbol = line[i];
        symbol.left = std::min(symbol.left, imageWidth - 1);
        symbol.right = std::max(symbol.right, symbol.left + 1);
        if (i + 1 < line.size())
            symbol.right = std::clamp(symbol.right, symbol.left + 1, std::max(symbol.left + 1, line[i + 1].left));
    }
}

// What the engine read, in the pixels of the picture it was given.
struct ReadWord
{
    QRect box;
    float confidence = 0;
    std::vector<Symbol> symbols; // non-blank, each with its own box (not yet its line's height)
};

struct ReadLine
{
    QRect box;
    std::vector<ReadWord> words; // non-blank
    // Read alone by the other Chinese language than the page's, which trusted it more: its script
    // is weighed against the page's language's reading all the same.
    bool byOtherChinese = false;
    // The engine's confidence in the line where it was found, which the reading that wins the
    // script can fall below.
    float foundConfidence = 0;
};

QRect boxAt(const tesseract::PageIterator& iterator, tesseract::PageIteratorLevel level)
{
    int left = 0, top = 0, right = 0, bottom = 0;
    if (!iterator.BoundingBox(level, &left, &top, &right, &bottom))
        return {};
    return QRect(QPoint(left, top), QPoint(right - 1, bottom - 1));
}

// The page a character at a time, grouped into words and lines. A word that keeps no character
// (only blanks) is left out, and so is a line that keeps no word.
std::vector<ReadLine> readPage(tesseract::ResultIterator& iterator, QPoint offset = {})
{
    std::vector<ReadLine> lines;
    bool lineOpen = false;
    bool wordOpen = false;
    iterator.Begin();
    constexpr auto level = tesseract::RIL_SYMBOL;
    do {
        if (iterator.IsAtBeginningOf(tesseract::RIL_TEXTLINE))
            lineOpen = false;
        if (iterator.IsAtBeginningOf(tesseract::RIL_WORD))
            wordOpen = false;
        if (iterator.Empty(level))
            continue;
        const std::unique_ptr<char[]> utf8(iterator.GetUTF8Text(level));
        if (!utf8)
            continue;
        const QString text = QuillomareCore::Text::trimmed(QString::fromUtf8(utf8.get()));
        const QRect box = boxAt(iterator, level).translated(offset);
        if (text.isEmpty() || box.isEmpty())
            continue;
        if (!lineOpen) {
            const QRect lineBox = boxAt(iterator, tesseract::RIL_TEXTLINE);
            lines.push_back({lineBox.isEmpty() ? box : lineBox.translated(offset), {}});
            lineOpen = true;
            wordOpen = false;
        }
        if (!wordOpen) {
            const QRect wordBox = boxAt(iterator, tesseract::RIL_WORD);
            lines.back().words.push_back(
                {wordBox.isEmpty() ? box : wordBox.translated(offset), iterator.Confidence(tesseract::RIL_WORD), {}});
            wordOpen = true;
        }
        lines.back().words.back().symbols.push_back(
            {text, box.left(), box.right() + 1, box.top(), box.bottom() + 1, iterator.Confidence(level)});
    } while (iterator.Next(level));
    return lines;
}

std::vector<Symbol*> symbolsOf(ReadLine& line)
{
    std::vector<Symbol*> symbols;
    for (ReadWord& word : line.words)
        for (Symbol& symbol : word.symbols)
            symbols.push_back(&symbol);
    return symbols;
}

// Pairs of positions that stand for the same character in two readings of one line: the
// alignment of least edits, its matches and substitutions, from the end of the line backwards.
std::vector<std::pair<size_t, size_t>> alignment(const std::vector<Symbol*>& a, const std::vector<Symbol*>& b)
{
    const size_t n = a.size(), m = b.size();
    std::vector<std::vector<int>> cost(n + 1, std::vector<int>(m + 1));
    for (size_t i = 0; i <= n; ++i)
        cost[i][0] = int(i);
    for (size_t j = 0; j <= m; ++j)
        cost[0][j] = int(j);
    for (size_t i = 1; i <= n; ++i)
        for (size_t j = 1; j <= m; ++j)
            cost[i][j] = std::min({cost[i - 1][j] + 1, cost[i][j - 1] + 1,
                                   cost[i - 1][j - 1] + (a[i - 1]->text == b[j - 1]->text ? 0 : 1)});
    std::vector<std::pair<size_t, size_t>> pairs;
    size_t i = n, j = m;
    while (i > 0 && j > 0) {
        if (cost[i][j] == cost[i - 1][j - 1] + (a[i - 1]->text == b[j - 1]->text ? 0 : 1)) {
            pairs.emplace_back(i - 1, j - 1);
            --i;
            --j;
        } else if (cost[i][j] == cost[i - 1][j] + 1) {
            --i;
        } else {
            --j;
        }
    }
    return pairs;
}

bool hasHan(const ReadLine& line)
{
    for (const ReadWord& word : line.words)
        for (const Symbol& symbol : word.symbols)
            if (HanGlyphs::isHanCharacter(symbol.text))
                return true;
    return false;
}

// Where a line of the page stands, for telling whether two of them are pieces of one line of the
// picture: its box, and the middle and height of its typical character (the median ones: a
// line's box can reach down into the next line, its characters' boxes do not).
struct LinePlace
{
    QRect box;
    int middle = 0; // twice the row, to keep halves
    int height = 0;
    size_t characters = 0;
};

LinePlace placeOf(const ReadLine& line)
{
    std::vector<int> middles;
    std::vector<int> heights;
    for (const ReadWord& word : line.words) {
        for (const Symbol& symbol : word.symbols) {
            middles.push_back(symbol.top + symbol.bottom);
            heights.push_back(symbol.bottom - symbol.top);
        }
    }
    if (middles.empty())
        return {line.box, line.box.top() + line.box.bottom(), line.box.height(), 0};
    const auto median = [](std::vector<int>& values) {
        std::nth_element(values.begin(), values.begin() + ptrdiff_t(values.size() / 2), values.end());
        return values[values.size() / 2];
    };
    const size_t characters = middles.size();
    return {line.box, median(middles), median(heights), characters};
}

// Whether two of the page's lines are pieces of one line of the picture: they stand over or next
// to each other (no farther apart than a line is high, about two characters' blanks), their
// boxes overlap by at least half the lower one's height, and their characters stand on the same
// rows: their middles less than half a character's height apart (lines set tight one under the
// other stand a character's height apart), or the one is a bit of a character (a dot, a stroke)
// within the other's rows and less than half as high.
bool piecesOfOneLine(const LinePlace& a, const LinePlace& b)
{
    const int overlap = std::min(a.box.bottom(), b.box.bottom()) - std::max(a.box.top(), b.box.top()) + 1;
    const int gap = std::max(a.box.left(), b.box.left()) - std::min(a.box.right(), b.box.right()) - 1;
    if (gap > std::max(a.box.height(), b.box.height()) || 2 * overlap < std::min(a.box.height(), b.box.height()))
        return false;
    const QRect& low = a.box.height() < b.box.height() ? a.box : b.box;
    const QRect& high = a.box.height() < b.box.height() ? b.box : a.box;
    const bool bit = low.top() >= high.top() && low.bottom() <= high.bottom() && 2 * low.height() < high.height();
    return bit || std::abs(a.middle - b.middle) < std::max(a.height, b.height);
}

// The most characters the layout reads in a part of a short line it cut across.
constexpr size_t kMostCharactersOfAPart = 6;

// Whether two of the page's lines are the upper and the lower part of one row of characters: the
// layout can cut a short line of Chinese characters across, each part some strokes of every
// character. The parts stand over the same columns, overlap or touch, and together are hardly
// taller than the taller part (two lines one over the other are twice as tall), but clearly
// taller than either; each part holds only a few characters (two lines of a paragraph or of code
// whose boxes reach into each other hold many).
bool partsOfOneRow(const LinePlace& a, const LinePlace& b)
{
    if (a.characters > kMostCharactersOfAPart || b.characters > kMostCharactersOfAPart)
        return false;
    const int across = std::min(a.box.right(), b.box.right()) - std::max(a.box.left(), b.box.left()) + 1;
    if (2 * across < std::min(a.box.width(), b.box.width()))
        return false;
    const int touch = std::min(a.box.bottom(), b.box.bottom()) - std::max(a.box.top(), b.box.top()) + 2;
    const int whole = (a.box | b.box).height();
    const int taller = std::max(a.box.height(), b.box.height());
    // A box that reaches over the next line holds that line whole: no part of it.
    return touch > 0 && 2 * whole <= 3 * taller && 5 * taller <= 4 * whole;
}

// Lines joined into groups (pieces of one line, the lines of one row), each group known by its
// first line.
class LineGroups
{
public:
    explicit LineGroups(size_t count) : m_parent(count) { std::iota(m_parent.begin(), m_parent.end(), size_t(0)); }

    size_t root(size_t i)
    {
        while (m_parent[i] != i)
            i = m_parent[i] = m_parent[m_parent[i]];
        return i;
    }

    void join(size_t i, size_t j)
    {
        const size_t a = root(i);
        const size_t b = root(j);
        m_parent[std::max(a, b)] = std::min(a, b);
    }

private:
    std::vector<size_t> m_parent;
};

std::vector<LinePlace> placesOf(const std::vector<ReadLine>& lines)
{
    std::vector<LinePlace> places;
    places.reserve(lines.size());
    for (const ReadLine& line : lines)
        places.push_back(placeOf(line));
    return places;
}

// A line of the page whose box holds whole two other lines, one under the other, is no line of
// text: the layout took a shape for one (a bar of colour behind a row, an outline it kept, a
// picture), and joined with what it holds or placed in a row with it it would take those lines
// down with it. It goes; ink of it that is text is read as ink the layout missed. (Pieces of one
// line that the layout cut it into stand side by side, and a box around them is that line's.)
void dropEnclosingLines(std::vector<ReadLine>& lines)
{
    std::vector<bool> encloses(lines.size(), false);
    for (size_t i = 0; i < lines.size(); ++i) {
        std::vector<QRect> held;
        for (size_t j = 0; j < lines.size(); ++j)
            if (j != i && lines[i].box.contains(lines[j].box))
                held.push_back(lines[j].box);
        for (size_t a = 0; a < held.size() && !encloses[i]; ++a)
            for (size_t b = 0; b < held.size() && !encloses[i]; ++b)
                encloses[i] = held[a].bottom() < held[b].top();
    }
    std::vector<ReadLine> kept;
    for (size_t i = 0; i < lines.size(); ++i)
        if (!encloses[i])
            kept.push_back(std::move(lines[i]));
    lines = std::move(kept);
}

// A line of the page whose box holds two rows of ink one under the other, parted by blank rows
// across the whole box, each row at least half as tall as a line: the layout took two lines for
// one (the two lines of a chat bubble, the second a word or two, which the engine reads together
// as neither). It goes, and its rows are handed back to be read each as a line of its own.
std::vector<QRect> rowsOfMergedLines(std::vector<ReadLine>& lines, const QImage& grey)
{
    std::vector<QRect> rows;
    if (lines.size() < 2)
        return rows;
    std::vector<int> heights;
    for (const ReadLine& line : lines)
        heights.push_back(line.box.height());
    std::nth_element(heights.begin(), heights.begin() + ptrdiff_t(heights.size() / 2), heights.end());
    const int typical = heights[heights.size() / 2];
    std::vector<ReadLine> kept;
    for (ReadLine& line : lines) {
        const QRect box = line.box.intersected(grey.rect());
        std::vector<QRect> bands;
        if (5 * box.height() >= 8 * typical) {
            // Rows of ink, a blank row or two inside a character (三, 二) not parting them.
            int top = -1, bottom = -1, left = 0, right = 0;
            const auto close = [&] {
                if (top >= 0 && 2 * (bottom - top + 1) >= typical)
                    bands.emplace_back(QPoint(left, top), QPoint(right, bottom));
                top = -1;
            };
            for (int y = box.top(); y <= box.bottom(); ++y) {
                const uchar* row = grey.constScanLine(y);
                int first = -1, last = -1;
                for (int x = box.left(); x <= box.right(); ++x)
                    if (row[x] < 128) {
                        first = first < 0 ? x : first;
                        last = x;
                    }
                if (first < 0) {
                    if (top >= 0 && y - bottom > 3)
                        close();
                    continue;
                }
                if (top < 0) {
                    top = y;
                    left = first;
                    right = last;
                }
                bottom = y;
                left = std::min(left, first);
                right = std::max(right, last);
            }
            close();
        }
        if (bands.size() >= 2)
            rows.insert(rows.end(), bands.begin(), bands.end());
        else
            kept.push_back(std::move(line));
    }
    lines = std::move(kept);
    return rows;
}

// The layout can cut one line of the picture into several lines, each with some of its
// characters and some of them twice (a mixed Chinese and Latin line, a font whose characters
// stand a little higher or lower than the engine expects): read again over its whole box, each
// piece would bring the whole line back, and the pieces would sort into each other by position.
// The pieces are joined into one line, at the place of its first, with their words from left to
// right; `joined` tells which lines were pieced together, for them to be read again whole.
std::vector<ReadLine> joinPiecesOfLines(std::vector<ReadLine> lines, std::vector<bool>& joined)
{
    LineGroups groups(lines.size());
    const std::vector<LinePlace> places = placesOf(lines);
    // Whether another line stands between two, over the same columns: lines set tight, the
    // box of one reaching down over the next, are no parts of one row.
    const auto lineBetween = [&](size_t i, size_t j) {
        const QRect both = places[i].box | places[j].box;
        for (size_t k = 0; k < places.size(); ++k) {
            const QRect& box = places[k].box;
            if (k != i && k != j && box.center().y() > both.top() && box.center().y() < both.bottom() &&
                box.left() <= both.right() && box.right() >= both.left() &&
                !(places[i].box.contains(box) || places[j].box.contains(box)))
                return true;
        }
        return false;
    };
    for (size_t i = 0; i < lines.size(); ++i)
        for (size_t j = i + 1; j < lines.size(); ++j)
            if (piecesOfOneLine(places[i], places[j]) || (partsOfOneRow(places[i], places[j]) && !lineBetween(i, j)))
                groups.join(i, j);

    std::vector<ReadLine> whole;
    std::vector<size_t> placeOfGroup(lines.size(), lines.size());
    joined.clear();
    for (size_t i = 0; i < lines.size(); ++i) {
        size_t& place = placeOfGroup[groups.root(i)];
        if (place == lines.size()) {
            place = whole.size();
            whole.push_back(std::move(lines[i]));
            joined.push_back(false);
            continue;
        }
        ReadLine& line = whole[place];
        line.box |= lines[i].box;
        for (ReadWord& word : lines[i].words)
            line.words.push_back(std::move(word));
        joined[place] = true;
    }
    for (size_t i = 0; i < whole.size(); ++i)
        if (joined[i])
            std::stable_sort(whole[i].words.begin(), whole[i].words.end(),
                             [](const ReadWord& a, const ReadWord& b) { return a.box.left() < b.box.left(); });
    return whole;
}

// Whether two lines of the page stand side by side on one row of the picture, as a label and its
// value far to the right do, or the two columns of a table: apart along the row, and their
// characters on the same rows (middles less than half a character apart, overlapping by at
// least half the lower one's height).
bool onOneRow(const LinePlace& a, const LinePlace& b)
{
    const int across = std::min(a.box.right(), b.box.right()) - std::max(a.box.left(), b.box.left()) + 1;
    const int overlap = std::min(a.box.bottom(), b.box.bottom()) - std::max(a.box.top(), b.box.top()) + 1;
    return 4 * across < std::min(a.box.height(), b.box.height()) &&
           2 * overlap >= std::min(a.box.height(), b.box.height()) &&
           std::abs(a.middle - b.middle) < std::min(a.height, b.height);
}

// The lines with text, grouped into the rows of the picture they stand on, each row's lines
// from left to right, the rows from top to bottom. Each row is handed out as one line: its
// characters stand on one middle, so that reading order keeps a label and its value together,
// label first, however differently high the engine's boxes for the two are. Lines of different
// blocks of the page (`blocks`, one for each line, -1 for none) are no row: a sidebar's item
// beside a row of the page next to it is a line of its own.
std::vector<std::vector<size_t>> rowsOf(const std::vector<ReadLine>& lines, const std::vector<int>& blocks = {})
{
    LineGroups groups(lines.size());
    const std::vector<LinePlace> places = placesOf(lines);
    const auto oneBlock = [&](size_t i, size_t j) {
        return blocks.empty() || blocks[i] < 0 || blocks[j] < 0 || blocks[i] == blocks[j];
    };
    for (size_t i = 0; i < lines.size(); ++i)
        for (size_t j = i + 1; j < lines.size(); ++j)
            if (!lines[i].words.empty() && !lines[j].words.empty() && oneBlock(i, j) && onOneRow(places[i], places[j]))
                groups.join(i, j);
    std::vector<std::vector<size_t>> rows;
    std::vector<size_t> rowOfGroup(lines.size(), lines.size());
    for (size_t i = 0; i < lines.size(); ++i) {
        if (lines[i].words.empty())
            continue;
        size_t& row = rowOfGroup[groups.root(i)];
        if (row == lines.size()) {
            row = rows.size();
            rows.emplace_back();
        }
        rows[row].push_back(i);
    }
    for (std::vector<size_t>& row : rows)
        std::stable_sort(row.begin(), row.end(),
                         [&](size_t a, size_t b) { return lines[a].box.left() < lines[b].box.left(); });
    const auto top = [&](const std::vector<size_t>& row) {
        int highest = lines[row.front()].box.top();
        for (const size_t i : row)
            highest = std::min(highest, lines[i].box.top());
        return highest;
    };
    // The lines a second reading found come after the page's: back in their place.
    std::stable_sort(rows.begin(), rows.end(),
                     [&](const std::vector<size_t>& a, const std::vector<size_t>& b) { return top(a) < top(b); });
    return rows;
}

// Ink in lines lower than this is rules, underlines and specks, not text the layout missed.
constexpr int kSmallestInk = 8;

// A line's box without the rules above or below its characters that the layout took in (the
// thin line between two rows of a settings panel, an underline of a heading): a box that holds
// a rule is read as the rule and the characters' strokes along it, hardly any of them right.
// A rule is a row of the box with a run of ink longer than half the box is wide and three times
// as high; blank rows beyond it go too. A rule drawn light, or turned with a picture turned
// level, leaves less: nothing dark at all, or a sliver of ink a few rows thin, and a blank gap
// of a quarter of the box or more between it and the characters (no character's parts stand so
// far apart; the layout, which sees the light rule, took it in). The gap and what lies beyond
// go too. The box as it is where it holds none, or nothing else.
QRect withoutRules(const QRect& line, const QImage& grey)
{
    const QRect box = line.intersected(grey.rect());
    if (box.isEmpty())
        return line;
    const int longest = std::max(box.width() / 2, 3 * box.height());
    // Blank is without even light ink: faint characters (a small serif face scaled down) have
    // rows of it only, and what goes must be clear of them.
    constexpr uchar kLightInk = 224;
    std::vector<int> kinds; // per row of the box: 0 blank, 1 ink, 2 rule
    for (int y = box.top(); y <= box.bottom(); ++y) {
        const uchar* row = grey.constScanLine(y);
        int run = 0;
        int kind = 0;
        for (int x = box.left(); x <= box.right() && kind < 2; ++x) {
            run = row[x] < 128 ? run + 1 : 0;
            kind = run > longest ? 2 : std::max(kind, row[x] < kLightInk ? 1 : 0);
        }
        kinds.push_back(kind);
    }
    const int rows = int(kinds.size());
    const int thinnest = std::max(2, box.height() / 8); // rows of a sliver, at most
    // Rows to leave out from one edge (`step` 1 from the top, -1 from the bottom): up to the
    // characters past rules, slivers and wide blank gaps; 0 where nothing goes.
    const auto cut = [&](int step) {
        const auto kindAt = [&](int k) { return kinds[size_t(step > 0 ? k : rows - 1 - k)]; };
        int k = 0;
        int edge = 0; // rows before the characters, as far as known
        while (k < rows) {
            // Blank and rule rows, then a band of ink rows and the blank or rule rows after it.
            const int start = k;
            bool rule = false;
            while (k < rows && kindAt(k) != 1)
                rule = kindAt(k++) == 2 || rule;
            if (k == rows)
                break;
            if (rule || 4 * (k - start) >= box.height())
                edge = k;
            const int band = k;
            while (k < rows && kindAt(k) == 1)
                ++k;
            int gap = 0;
            while (k + gap < rows && kindAt(k + gap) != 1)
                ++gap;
            if (k - band > thinnest || 4 * gap < box.height() || k + gap == rows)
                break;
            k += gap;
            edge = k;
        }
        return edge;
    };
    const int fromTop = cut(1);
    const int fromBottom = cut(-1);
    const int top = box.top() + fromTop;
    const int bottom = box.bottom() - fromBottom;
    if (bottom - top + 1 < kSmallestInk)
        return line;
    if (fromTop == 0 && fromBottom == 0)
        return line;
    return QRect(QPoint(line.left(), fromTop > 0 ? top : line.top()),
                 QPoint(line.right(), fromBottom > 0 ? bottom : line.bottom()));
}

// A line's box widened to the ink that goes on along its rows, with gaps no wider than the line
// is high: where the layout cut a line into pieces it can also have left its last characters out.
QRect widenedToInk(const QRect& line, const QImage& grey)
{
    const QRect band = line.intersected(grey.rect());
    if (band.isEmpty())
        return line;
    const auto inkAt = [&](int x) {
        for (int y = band.top(); y <= band.bottom(); ++y)
            if (grey.constScanLine(y)[x] < 128)
                return true;
        return false;
    };
    const int reach = line.height();
    int right = band.right();
    for (int x = right + 1; x < grey.width() && x - right <= reach; ++x)
        if (inkAt(x))
            right = x;
    int left = band.left();
    for (int x = left - 1; x >= 0 && left - x <= reach; --x)
        if (inkAt(x))
            left = x;
    return QRect(QPoint(left, line.top()), QPoint(right, line.bottom()));
}

// A character as wide as a Chinese one: a Han character or full-width punctuation (，。、：).
bool isFullWidth(const QString& text)
{
    if (HanGlyphs::isHanCharacter(text))
        return true;
    if (text.size() != 1)
        return false;
    const char16_t c = text.front().unicode();
    return (c >= 0x3000 && c <= 0x303F) || (c >= 0xFF01 && c <= 0xFF60);
}

// Punctuation that Chinese text writes in full-width forms, and its ASCII forms.
constexpr std::pair<char16_t, char16_t> kFullWidthForms[] = {
    {u',', u'，'}, {u':', u'：'}, {u';', u'；'}, {u'!', u'！'}, {u'?', u'？'}, {u'(', u'（'}, {u')', u'）'},
};

// A full-width mark takes the room of a Chinese character, an ASCII one a third to a half of it.
// Measured as the blank between the ink of the characters on either side of a mark, the mark's
// own ink included, in the height of the ink of the line's Chinese characters (a tenth to a fifth
// less than their advance): 1.07 to 2 around the full-width marks of Debian's common Chinese
// fonts from 20 to 64 pixels, 0.3 to 0.75 around ASCII ones (up to 0.97 in a Kai font, whose
// characters stand farther apart).
constexpr double kFullWidthRoom = 1.02;

// Where the ink of a mark is looked for, faint ink counts: the thin strokes of a small mark can be
// no darker than light grey.
constexpr int kFaintInk = 192;

// The Chinese models read a full-width opening parenthesis as an angle bracket (〈含稅） for
// （含稅）). The picture of the mark decides, when it looks clearly more like a parenthesis.
constexpr std::pair<char16_t, char16_t> kParenthesesReadAsAngleBrackets[] = {{u'〈', u'（'}, {u'〉', u'）'}};
constexpr double kLikenessToCorrectBracket = 0.15;

// The Chinese models read full-width punctuation as ASCII (：as :, ！as !, （含稅） as (含稅)), the
// traditional one a full-width comma as a narrow one. What the picture shows decides: a mark
// between two characters is full-width when the room between its neighbours' ink is that of a
// Chinese character, ASCII when it is narrower. At either end of a line there is nothing to
// measure by, and a mark takes the width of its neighbour. Only marks beside a Chinese character
// (or beside full-width punctuation) are looked at: an English phrase keeps its own.
void keepPunctuationWidths(ReadLine& line, const QImage& grey)
{
    if (!hasHan(line))
        return;
    std::vector<Symbol*> symbols = symbolsOf(line);
    const QRect band = line.box.intersected(grey.rect());
    if (band.isEmpty())
        return;
    // For each column of the line, its highest and lowest row of ink (-1: none).
    std::vector<int> inkTop(size_t(grey.width()), -1);
    std::vector<int> inkBottom(size_t(grey.width()), -1);
    for (int y = band.top(); y <= band.bottom(); ++y) {
        const uchar* row = grey.constScanLine(y);
        for (int x = band.left(); x <= band.right(); ++x) {
            if (row[x] < kFaintInk) {
                if (inkTop[size_t(x)] < 0)
                    inkTop[size_t(x)] = y;
                inkBottom[size_t(x)] = y;
            }
        }
    }
    const auto clampX = [&](int x) { return std::clamp(x, band.left(), band.right() + 1); };
    const auto isInk = [&](int x) { return x >= band.left() && x <= band.right() && inkTop[size_t(x)] >= 0; };
    const auto firstInk = [&](int from, int to) {
        for (int x = clampX(from); x < clampX(to); ++x)
            if (isInk(x))
                return x;
        return -1;
    };
    const auto lastInk = [&](int from, int to) {
        for (int x = clampX(to) - 1; x >= clampX(from); --x)
            if (isInk(x))
                return x;
        return -1;
    };

    // How high the ink of the line's Chinese characters is (the middle one): the unit of width.
    std::vector<int> heights;
    for (size_t k = 0; k < symbols.size(); ++k) {
        if (!HanGlyphs::isHanCharacter(symbols[k]->text))
            continue;
        const int end = k + 1 < symbols.size() ? std::min(symbols[k]->right, symbols[k + 1]->left) : symbols[k]->right;
        int top = band.bottom() + 1, bottom = -1;
        for (int x = clampX(symbols[k]->left); x < clampX(end); ++x) {
            if (inkTop[size_t(x)] >= 0) {
                top = std::min(top, inkTop[size_t(x)]);
                bottom = std::max(bottom, inkBottom[size_t(x)]);
            }
        }
        if (bottom >= top)
            heights.push_back(bottom - top + 1);
    }
    if (heights.empty())
        return;
    std::nth_element(heights.begin(), heights.begin() + ptrdiff_t(heights.size() / 2), heights.end());
    const double characterHeight = heights[heights.size() / 2];

    // A mark's ink: the columns of ink without a blank one between them where its box starts, or
    // when its box holds none, the nearest before it (the engine places a mark's left edge within
    // a few pixels or a little after its ink, its right edge less well). Empty when there is none.
    const auto inkOf = [&](const Symbol& mark) {
        int left = firstInk(mark.left, mark.right);
        if (left < 0)
            left = lastInk(mark.left - int(characterHeight / 2), mark.left);
        if (left < 0)
            return QRect();
        int right = left;
        while (isInk(left - 1))
            --left;
        while (isInk(right + 1))
            ++right;
        return QRect(QPoint(left, band.top()), QPoint(right, band.bottom()));
    };

    // The engine can read one mark as two on the same ink (〈( or “〈 for one （). One goes: one
    // of the marks looked at below if there is one, else the second.
    const auto isMark = [](const QString& text) { return text.size() == 1 && text.front().isPunct(); };
    const auto isLookedAt = [](const QString& text) {
        const auto is = [&](char16_t c) { return text.front() == QChar(c); };
        return std::any_of(std::begin(kFullWidthForms), std::end(kFullWidthForms),
                           [&](const auto& forms) { return is(forms.first) || is(forms.second); })
               || std::any_of(std::begin(kParenthesesReadAsAngleBrackets), std::end(kParenthesesReadAsAngleBrackets),
                              [&](const auto& forms) { return is(forms.first); });
    };
    bool twice = false;
    for (size_t k = 1; k < symbols.size(); ++k) {
        Symbol& first = *symbols[k - 1];
        Symbol& second = *symbols[k];
        if (isMark(first.text) && isMark(second.text) && !inkOf(second).isEmpty() && inkOf(second) == inkOf(first)) {
            (isLookedAt(second.text) && !isLookedAt(first.text) ? first : second).text.clear();
            twice = true;
        }
    }
    if (twice) {
        for (ReadWord& word : line.words)
            std::erase_if(word.symbols, [](const Symbol& symbol) { return symbol.text.isEmpty(); });
        std::erase_if(line.words, [](const ReadWord& word) { return word.symbols.empty(); });
        symbols = symbolsOf(line);
    }

    std::vector<bool> openParentheses; // whether each one still open is full-width
    for (size_t k = 0; k < symbols.size(); ++k) {
        Symbol& mark = *symbols[k];
        if (mark.text.size() != 1)
            continue;
        for (const auto& [angle, parenthesis] : kParenthesesReadAsAngleBrackets) {
            if (mark.text.front() != QChar(angle))
                continue;
            const QRect ink = inkOf(mark);
            if (ink.isEmpty())
                continue;
            // Each font draws its brackets its own way, and some draw one much like the other: the
            // mark is a parenthesis when, in some style, it is clearly more like that style's.
            const HanGlyphs::Shape shape(grey.copy(ink));
            double lead = -2;
            for (const HanGlyphs::Style& style : HanGlyphs::installedStyles())
                lead = std::max(lead, shape.likeness(QString(QChar(parenthesis)), style.simplified)
                                          - shape.likeness(QString(QChar(angle)), style.simplified));
            if (lead >= kLikenessToCorrectBracket)
                mark.text = QString(QChar(parenthesis));
        }
        const auto form = std::find_if(std::begin(kFullWidthForms), std::end(kFullWidthForms), [&](const auto& forms) {
            return mark.text.front() == QChar(forms.first) || mark.text.front() == QChar(forms.second);
        });
        if (form == std::end(kFullWidthForms))
            continue;
        // A closing parenthesis is written as the one it closes.
        if (form->first == u')' && !openParentheses.empty()) {
            mark.text = QString(QChar(openParentheses.back() ? form->second : form->first));
            openParentheses.pop_back();
            continue;
        }
        const auto decided = qScopeGuard([&] {
            if (form->first == u'(')
                openParentheses.push_back(mark.text.front() == QChar(form->second));
        });
        const Symbol* before = k > 0 ? symbols[k - 1] : nullptr;
        const Symbol* after = k + 1 < symbols.size() ? symbols[k + 1] : nullptr;
        const bool wideBefore = before && isFullWidth(before->text);
        const bool wideAfter = after && isFullWidth(after->text);
        if (!wideBefore && !wideAfter)
            continue;
        bool fullWidth = before ? wideBefore : wideAfter;
        if (before && after) {
            const QRect ink = inkOf(mark);
            const int beforeRight = ink.isEmpty() ? -1 : lastInk(band.left(), ink.left());
            const int afterLeft = ink.isEmpty() ? -1 : firstInk(ink.right() + 1, band.right() + 1);
            if (beforeRight < 0 || afterLeft < 0)
                continue;
            fullWidth = afterLeft - beforeRight - 1 >= kFullWidthRoom * characterHeight;
        }
        mark.text = QString(QChar(fullWidth ? form->second : form->first));
    }
}

// Between two Chinese characters of a run the blank is a fraction of a character (a fifth to a
// third, a little more in a Kai face): a blank as wide as a character is where one run ends and
// another begins (a label and its value far to the right, read as one line).
constexpr double kWidestBlankInARun = 1;

// Where each character of a line stands, for looking at it alone. The engine's boxes of Chinese
// characters are rough (one can hold half of one character and half of the next), but Chinese
// characters are all equally wide: a run of them is cut into equal cells, from where its ink
// starts to where it ends. A run ends where a blank as wide as a character stands between two of
// its characters (the engine's boxes can be a character off, the ink is not). Other characters
// keep the engine's boxes.
std::vector<QRect> characterCells(const std::vector<Symbol*>& symbols, const QRect& line, const QImage& grey)
{
    // How high the line's Chinese characters are (the middle one), in the engine's own boxes.
    std::vector<int> heights;
    for (const Symbol* symbol : symbols)
        if (HanGlyphs::isHanCharacter(symbol->text))
            heights.push_back(symbol->bottom - symbol->top);
    int characterHeight = line.height();
    if (!heights.empty()) {
        std::nth_element(heights.begin(), heights.begin() + ptrdiff_t(heights.size() / 2), heights.end());
        characterHeight = std::max(1, heights[heights.size() / 2]);
    }
    const int widestBlank = int(kWidestBlankInARun * characterHeight);

    const QRect band = line.intersected(grey.rect());
    std::vector<bool> ink(size_t(std::max(0, grey.width())), false);
    for (int y = band.top(); y <= band.bottom(); ++y) {
        const uchar* row = grey.constScanLine(y);
        for (int x = band.left(); x <= band.right(); ++x)
            if (row[x] < 128)
                ink[size_t(x)] = true;
    }
    const auto firstInk = [&](int from, int to) {
        for (int x = std::max(0, from); x < std::min(to, grey.width()); ++x)
            if (ink[size_t(x)])
                return x;
        return -1;
    };
    const auto lastInk = [&](int from, int to) {
        for (int x = std::min(to, grey.width()) - 1; x >= std::max(0, from); --x)
            if (ink[size_t(x)])
                return x;
        return -1;
    };
    // The widest run of columns without ink from one column up to another.
    const auto widestBlankBetween = [&](int from, int to) {
        int widest = 0;
        int run = 0;
        for (int x = std::max(0, from); x < std::min(to, grey.width()); ++x) {
            run = ink[size_t(x)] ? 0 : run + 1;
            widest = std::max(widest, run);
        }
        return widest;
    };

    const int slack = std::max(2, line.height() / 2);
    std::vector<QRect> cells;
    for (size_t start = 0; start < symbols.size();) {
        size_t end = start + 1;
        int left = symbols[start]->left;
        int right = symbols[start]->right;
        if (isFullWidth(symbols[start]->text)) {
            while (end < symbols.size() && isFullWidth(symbols[end]->text) &&
                   widestBlankBetween(symbols[end - 1]->left, symbols[end]->left) < widestBlank)
                ++end;
            const Symbol& last = *symbols[end - 1];
            const int inkLeft = firstInk(left - slack, left + slack);
            // Up to the next character, but where a blank follows, no farther than a character.
            int limit = end < symbols.size() ? std::max(last.right, symbols[end]->left) : last.right + slack;
            if (end < symbols.size() && isFullWidth(symbols[end]->text))
                limit = std::min(limit, std::max(last.right, last.left + characterHeight) + slack);
            const int inkRight = lastInk(last.left, limit);
            left = inkLeft >= 0 ? inkLeft : left;
            right = inkRight >= 0 ? inkRight + 1 : last.right;
        }
        const int width = std::max(right, left + 1) - left;
        const int count = int(end - start);
        for (int k = 0; k < count; ++k)
            cells.emplace_back(QPoint(left + width * k / count, line.top()),
                               QPoint(left + width * (k + 1) / count - 1, line.bottom()));
        start = end;
    }
    return cells;
}

int resolutionOf(const QImage& image)
{
    const int dotsPerInch = qRound(image.dotsPerMeterX() * 0.0254);
    // Outside this range Tesseract distrusts the value and guesses (and says so on stderr).
    return dotsPerInch >= 70 && dotsPerInch <= 2400 ? dotsPerInch : 96;
}


} // namespace

// An engine borrowed from the recognizer, handed back (cleared of the page) when it goes.
class TesseractTextRecognizer::EngineLoan
{
public:
    EngineLoan(const TesseractTextRecognizer& owner, QString language, std::unique_ptr<tesseract::TessBaseAPI> engine)
        : m_owner(owner), m_language(std::move(language)), m_engine(std::move(engine))
    {}
    ~EngineLoan()
    {
        m_engine->Clear();
        const std::lock_guard lock(m_owner.m_mutex);
        m_owner.m_pools[m_language].idle.push_back(std::move(m_engine));
        m_owner.m_engineReturned.notify_all();
    }
    EngineLoan(const EngineLoan&) = delete;
    EngineLoan& operator=(const EngineLoan&) = delete;

    tesseract::TessBaseAPI& engine() const { return *m_engine; }

private:
    const TesseractTextRecognizer& m_owner;
    QString m_language;
    std::unique_ptr<tesseract::TessBaseAPI> m_engine;
};

QString TesseractTextRecognizer::defaultDataFolder()
{
    return QStringLiteral("/usr/share/tesseract-ocr/5/tessdata");
}

QString TesseractTextRecognizer::defaultLanguages()
{
    return QStringLiteral("chi_sim+chi_tra+eng");
}

TesseractTextRecognizer::TesseractTextRecognizer(QString dataFolder, QString languages, int maximumEngines)
    : m_dataFolder(std::move(dataFolder)), m_languages(std::move(languages)),
      m_maximumEngines(std::max(1, maximumEngines))
{}

TesseractTextRecognizer::~TesseractTextRecognizer() = default;

QStringList TesseractTextRecognizer::missingLanguageFiles() const
{
    QStringList missing;
    const QDir folder(m_dataFolder);
    for (const QString& language : m_languages.split(QLatin1Char('+'), Qt::SkipEmptyParts)) {
        const QString fileName = language + QStringLiteral(".traineddata");
        if (!QFileInfo(folder.filePath(fileName)).isFile())
            missing.append(fileName);
    }
    return missing;
}

// Borrow an idle engine of the language, load a new one while under the limit, or wait for one
// to come back. None when the language does not load.
std::unique_ptr<TesseractTextRecognizer::EngineLoan> TesseractTextRecognizer::borrowEngine(const QString& language,
                                                                                           bool wait) const
{
    std::unique_ptr<tesseract::TessBaseAPI> engine;
    {
        std::unique_lock lock(m_mutex);
        Pool& pool = m_pools[language];
        const auto available = [&] { return !pool.idle.empty() || pool.count < m_maximumEngines; };
        if (!wait && !available())
            return nullptr;
        m_engineReturned.wait(lock, available);
        if (!pool.idle.empty()) {
            engine = std::move(pool.idle.back());
            pool.idle.pop_back();
        } else {
            ++pool.count;
        }
    }
    if (!engine) {
        auto loaded = std::make_unique<tesseract::TessBaseAPI>();
        int status = -1;
        {
            const std::lock_guard loadLock(engineLoadMutex());
            // Tesseract's progress and warnings would otherwise land on our stderr.
            loaded->SetVariable("debug_file", "/dev/null");
            status = loaded->Init(QFile::encodeName(m_dataFolder).constData(), language.toUtf8().constData(),
                                  tesseract::OEM_LSTM_ONLY);
        }
        if (status != 0) {
            {
                const std::lock_guard lock(m_mutex);
                --m_pools[language].count;
            }
            m_engineReturned.notify_all();
            return nullptr;
        }
        engine = std::move(loaded);
    }
    return std::make_unique<EngineLoan>(*this, language, std::move(engine));
}

namespace {

// The engine reads lines from about 22 to 48 pixels high well; smaller text loses strokes or
// whole lines (a line of 18 px characters can vanish from the layout), larger text is cut into
// pieces that are read out of order. A picture whose typical line lies outside is scaled to
// bring it to 30 pixels, one inside is read as it is: scaling all text to one height reads no
// better and costs up to twice the time on a screenshot. Measured with Noto Sans CJK drawn from
// 14 to 96 px: every size reads alike.
constexpr int kSmallestLine = 22;
constexpr int kLargestLine = 48;
constexpr double kLineHeight = 30;

// At most so many lines of ink the layout left out are read, and no more after so many in a row
// that read as no text, so that a picture of many shapes costs little more than one of text.
// A settings panel whose rows the layout missed has two a row, the label and the value.
constexpr int kMostMissedLines = 24;
constexpr int kMostUnreadMissedLines = 2;

// How the page is cut into lines: a single block. Automatic segmentation takes a short label or
// a line of large characters for several columns and reads their pieces out of order; the
// characters' boxes keep the picture's layout for reading order all the same.
constexpr auto kPageSegmentation = tesseract::PSM_SINGLE_BLOCK;

// The height of the typical band of dark rows: the lines of a picture of text on a plain
// background.
int inkLineHeight(const QImage& grey)
{
    std::vector<int> bands;
    int band = 0;
    for (int y = 0; y < grey.height(); ++y) {
        const uchar* row = grey.constScanLine(y);
        const bool ink = std::any_of(row, row + grey.width(), [](uchar value) { return value < 128; });
        if (ink) {
            ++band;
        } else if (band > 0) {
            bands.push_back(band);
            band = 0;
        }
    }
    if (band > 0)
        bands.push_back(band);
    if (bands.empty())
        return 0;
    std::nth_element(bands.begin(), bands.begin() + ptrdiff_t(bands.size() / 2), bands.end());
    return bands[bands.size() / 2];
}

// The factor that brings the picture's typical text line to a height the engine reads well,
// from the text lines its automatic layout analysis finds (the median, so that a few headings
// or a stray picture do not set it). Where it finds none although there is ink, which happens
// with a single line of small characters and now and then with a clean line of any size, from
// the picture's bands of dark rows. 1 when there is nothing to go by. Whether what it then reads
// is text, the engine's confidence in it says, and more of it where the layout found no text.
struct ReadingScale
{
    double factor = 1;
    bool layoutFoundText = false;
    int lineHeight = 0; // the typical line's, before scaling; 0 where there is nothing to go by
};

ReadingScale scaleToReadingHeight(tesseract::TessBaseAPI& api, const QImage& grey)
{
    std::vector<int> heights;
    api.SetPageSegMode(tesseract::PSM_AUTO);
    if (const std::unique_ptr<tesseract::PageIterator> layout(api.AnalyseLayout()); layout) {
        do {
            const QRect line = boxAt(*layout, tesseract::RIL_TEXTLINE);
            if (!line.isEmpty() && PTIsTextType(layout->BlockType()))
                heights.push_back(line.height());
        } while (layout->Next(tesseract::RIL_TEXTLINE));
    }
    int height = 0;
    if (!heights.empty()) {
        std::nth_element(heights.begin(), heights.begin() + ptrdiff_t(heights.size() / 2), heights.end());
        height = heights[heights.size() / 2];
    } else {
        height = inkLineHeight(grey);
        if (height <= 0)
            return {};
    }
    const bool found = !heights.empty();
    if (height >= kSmallestLine && height <= kLargestLine)
        return {1, found, height};
    return {std::clamp(kLineHeight / height, 0.25, 4.0), found, height};
}

// The engine finds no line in text that touches the edge of the picture (a screenshot cut
// tightly around a line): such a picture gets a white margin of half a line. None otherwise.
int marginFor(const QImage& grey)
{
    constexpr int kEdge = 2;
    const auto isInk = [](uchar value) { return value < 128; };
    bool inkAtEdge = false;
    for (int y = 0; y < grey.height() && !inkAtEdge; ++y) {
        const uchar* row = grey.constScanLine(y);
        if (y < kEdge || y >= grey.height() - kEdge) {
            inkAtEdge = std::any_of(row, row + grey.width(), isInk);
        } else {
            const int edge = std::min(kEdge, grey.width());
            inkAtEdge = std::any_of(row, row + edge, isInk)
                        || std::any_of(row + grey.width() - edge, row + grey.width(), isInk);
        }
    }
    if (!inkAtEdge)
        return 0;
    return std::clamp(inkLineHeight(grey) / 2, 8, 64);
}

// The outlines drawn around text (a button's, a list box's, a text field's, a panel's) and the
// lines that part a window are not text, but the engine reads their upright edges as characters
// ("|Send|") and, where an outline encloses lines, can take the lines for part of a picture and
// drop them. Such an edge is a straight run of ink, thin across: across, at least
// kLongestAcross lines long (no stroke of a character of the page's text is as long); down,
// where it meets edges across at both ends (a box), kShortestSide lines (a button is hardly
// higher than its caption's line), at one end kLongestDown lines, and alone kLongestAlone
// lines (a large clock digit next to small text is thick as well as tall). Thin is at most an
// eighth of a line (3 pixels where that is less): the strokes of a heading as much larger than
// the text are thicker too. A line is the picture's typical band of dark rows, measured before
// any edge goes. The edges go white, with the lighter pixels beside them that antialiasing
// leaves; where a character crosses an edge the ink is thick, and stays.
constexpr double kLongestAcross = 2.5;
constexpr double kShortestSide = 0.6;
constexpr double kLongestDown = 1.5;
constexpr double kLongestAlone = 4;
// Frames are drawn lighter than text, often much lighter: their ink is counted up to this grey.
constexpr uchar kFrameInk = 224;
// How far the grey of an edge changes from one point to the next at most (JPEG's ripples), and
// how much darker than the pixels beside it an edge is at least.
constexpr int kFrameGreys = 32;
constexpr int kFrameContrast = 24;

void removeFrames(QImage& grey, int lineHeight)
{
    // Where the rows of ink say nothing of a line's height (a tilted picture's rows all hold ink
    // or only bits of it), nothing is taken for a frame.
    if (lineHeight < kSmallestInk || grey.isNull())
        return;
    const int width = grey.width();
    const int height = grey.height();
    const int thin = std::max(3, lineHeight / 8);
    const int across = int(std::lround(kLongestAcross * lineHeight));
    const int side = int(std::lround(kShortestSide * lineHeight));
    const int down = int(std::lround(kLongestDown * lineHeight));
    const int alone = int(std::lround(kLongestAlone * lineHeight));
    const int corner = std::max(3, lineHeight / 6);
    const auto ink = [&](int x, int y) { return grey.constScanLine(y)[x] < kFrameInk; };
    // How thick the ink is at a point of a run, across the run: more than `thin` is thick.
    const auto thicknessDown = [&](int x, int y) {
        int top = y, bottom = y;
        while (top > 0 && ink(x, top - 1) && bottom - top < thin)
            --top;
        while (bottom + 1 < height && ink(x, bottom + 1) && bottom - top < thin)
            ++bottom;
        return bottom - top + 1;
    };
    const auto thicknessAcross = [&](int x, int y) {
        int left = x, right = x;
        while (left > 0 && ink(left - 1, y) && right - left < thin)
            --left;
        while (right + 1 < width && ink(right + 1, y) && right - left < thin)
            ++right;
        return right - left + 1;
    };
    struct Run
    {
        int at;    // row of a run across, column of a run down
        int first; // column across, row down
        int last;
    };
    // Runs of ink long enough are edges where nearly all of them is thin, darker than either side,
    // and of one grey from one point to the next (a frame is drawn in one colour, though the
    // picture's light and dark parts can have come out in different greys): a character
    // touching an edge makes it thick in a few places; a bar of colour behind a line is thick all
    // along; grain on a photo, or a stroke of a character running into it, changes grey at every
    // step or is no darker than around.
    const auto isEdge = [&](const Run& run, bool isAcross) {
        const auto at = [&](int k, int offset) {
            const int x = isAcross ? k : run.at + offset;
            const int y = isAcross ? run.at + offset : k;
            return x < 0 || y < 0 || x >= width || y >= height ? 255 : int(grey.constScanLine(y)[x]);
        };
        int edgePoints = 0;
        for (int k = run.first; k <= run.last; ++k) {
            const int value = at(k, 0);
            const int thickness = isAcross ? thicknessDown(k, run.at) : thicknessAcross(run.at, k);
            edgePoints += thickness <= thin && (k == run.first || std::abs(value - at(k - 1, 0)) <= kFrameGreys) &&
                                  at(k, -thin - 1) - value >= kFrameContrast && at(k, thin + 1) - value >= kFrameContrast
                              ? 1
                              : 0;
        }
        return 5 * edgePoints >= 4 * (run.last - run.first + 1);
    };
    std::vector<Run> acrossRuns;
    std::vector<Run> downRuns;
    std::vector<int> downStart(size_t(width), -1);
    for (int y = 0; y <= height; ++y) {
        const uchar* row = y < height ? grey.constScanLine(y) : nullptr;
        int start = -1;
        for (int x = 0; x < width; ++x) {
            const bool here = row && row[x] < kFrameInk;
            if (here) {
                if (start < 0)
                    start = x;
                if (downStart[size_t(x)] < 0)
                    downStart[size_t(x)] = y;
            } else {
                if (start >= 0 && x - start >= across)
                    acrossRuns.push_back({y, start, x - 1});
                start = -1;
                if (const int top = downStart[size_t(x)]; top >= 0) {
                    if (y - top >= side)
                        downRuns.push_back({x, top, y - 1});
                    downStart[size_t(x)] = -1;
                }
            }
        }
        if (start >= 0 && width - start >= across)
            acrossRuns.push_back({y, start, width - 1});
    }
    if (acrossRuns.empty() && downRuns.empty())
        return;
    std::erase_if(acrossRuns, [&](const Run& run) { return !isEdge(run, true); });
    // How many ends of an edge down meet an edge across (corners can be rounded).
    const auto cornersOf = [&](const Run& run) {
        bool top = false, bottom = false;
        for (const Run& edge : acrossRuns) {
            if (run.at < edge.first - corner || run.at > edge.last + corner)
                continue;
            top = top || std::abs(edge.at - run.first) <= corner;
            bottom = bottom || std::abs(edge.at - run.last) <= corner;
        }
        return int(top) + int(bottom);
    };
    std::erase_if(downRuns, [&](const Run& run) {
        const int length = run.last - run.first + 1;
        if (length >= alone)
            return false;
        const int corners = cornersOf(run);
        return !(corners == 2 || (corners == 1 && length >= down));
    });
    std::erase_if(downRuns, [&](const Run& run) { return !isEdge(run, false); });
    const auto whiten = [&](int x, int y) { grey.scanLine(y)[x] = 255; };
    for (const Run& run : acrossRuns) {
        for (int x = run.first; x <= run.last; ++x) {
            if (thicknessDown(x, run.at) > thin)
                continue;
            int top = run.at, bottom = run.at;
            while (top > 0 && ink(x, top - 1))
                --top;
            while (bottom + 1 < height && ink(x, bottom + 1))
                ++bottom;
            for (int y = std::max(0, top - 1); y <= std::min(height - 1, bottom + 1); ++y)
                whiten(x, y);
        }
    }
    for (const Run& run : downRuns) {
        for (int y = run.first; y <= run.last; ++y) {
            if (thicknessAcross(run.at, y) > thin)
                continue;
            int left = run.at, right = run.at;
            while (left > 0 && ink(left - 1, y))
                --left;
            while (right + 1 < width && ink(right + 1, y))
                ++right;
            for (int x = std::max(0, left - 1); x <= std::min(width - 1, right + 1); ++x)
                whiten(x, y);
        }
    }
}

// A photograph's grain that the normalising left as ink: single dark pixels and pairs, strewn
// over the areas around a chat bubble or a caption where the background's shading is as strong
// as its noise, with lighter greys between them. The layout takes a field of them above or below
// a line into the line, whose box then stands two or three lines high and is read as strokes
// and specks together (a line of 28 px characters under a band of grain came back as four
// characters of nonsense, or not at all). Only a grainy picture is cleaned: one whose caller's
// pixels differ from their neighbours by kGrainyStep levels or more half the time (a
// screenshot's flat areas, JPEG's ripples and a gradient's steps differ by a level or two). The
// thin strokes of a Ming or Kai face broken into bits at small sizes look like specks too, and
// their faint parts like grain: a clean picture is left as it is.
constexpr int kGrainyStep = 8;
// A speck is a piece of ink of at most kGrainPixels pixels with no larger piece within
// kGrainReach pixels of it (the dot of an i, a full stop, the dots of 、 and ： stand next to
// strokes, or are larger). Specks go white, and so do the greys that stand apart from the ink
// that stays; a stroke's antialiased edge borders it.
constexpr int kGrainPixels = 2;
constexpr int kGrainReach = 2;
// A speck on the rows of a larger piece no farther than this beside it is none either.
constexpr int kGrainBeside = 16;
// Grain is left where the picture cleaned of it stands less than so many lines high, as the
// layout measures them, or where the layout finds no line in it at all.
constexpr int kLinesOfAGrainyPage = 6;

bool grainy(const QImage& image)
{
    // Every fourth row says as much as all of them, at a quarter of the cost on a large picture.
    const QImage colour = image.depth() == 32 ? image : image.convertToFormat(QImage::Format_RGB32);
    std::array<int, 256> steps{};
    int count = 0;
    for (int y = 0; y < colour.height(); y += 4) {
        const auto* row = reinterpret_cast<const QRgb*>(colour.constScanLine(y));
        for (int x = 1; x < colour.width(); ++x) {
            ++steps[size_t(std::abs(qGray(row[x]) - qGray(row[x - 1])))];
            ++count;
        }
    }
    int below = 0;
    for (int step = 0; step < kGrainyStep; ++step)
        below += steps[size_t(step)];
    return count > 0 && 2 * below < count;
}

void removeGrain(QImage& grey)
{
    const int width = grey.width();
    const int height = grey.height();
    const auto at = [&](int x, int y) { return size_t(y) * size_t(width) + size_t(x); };
    // Each ink pixel's piece, and each piece's size and box.
    std::vector<int> piece(size_t(width) * size_t(height), -1);
    std::vector<int> sizes;
    std::vector<QRect> boxes;
    std::vector<QPoint> stack;
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            if (piece[at(x, y)] >= 0 || grey.constScanLine(y)[x] >= 128)
                continue;
            const int id = int(sizes.size());
            sizes.push_back(0);
            boxes.emplace_back(x, y, 1, 1);
            piece[at(x, y)] = id;
            stack.assign(1, QPoint(x, y));
            while (!stack.empty()) {
                const QPoint p = stack.back();
                stack.pop_back();
                ++sizes.back();
                boxes.back() |= QRect(p, QSize(1, 1));
                for (int ny = std::max(0, p.y() - 1); ny <= std::min(height - 1, p.y() + 1); ++ny)
                    for (int nx = std::max(0, p.x() - 1); nx <= std::min(width - 1, p.x() + 1); ++nx)
                        if (piece[at(nx, ny)] < 0 && grey.constScanLine(ny)[nx] < 128) {
                            piece[at(nx, ny)] = id;
                            stack.emplace_back(nx, ny);
                        }
            }
        }
    }
    std::vector<bool> speck(sizes.size(), false);
    for (size_t id = 0; id < sizes.size(); ++id) {
        if (sizes[id] > kGrainPixels)
            continue;
        const QRect around =
            boxes[id].adjusted(-kGrainReach, -kGrainReach, kGrainReach, kGrainReach).intersected(grey.rect());
        bool nearInk = false;
        for (int y = around.top(); y <= around.bottom() && !nearInk; ++y)
            for (int x = around.left(); x <= around.right() && !nearInk; ++x) {
                const int other = piece[at(x, y)];
                nearInk = other >= 0 && sizes[size_t(other)] > kGrainPixels;
            }
        speck[id] = !nearInk;
    }
    // Nor is a speck on the rows of a larger piece beside it: a full stop, the dots of an
    // ellipsis or a colon at small sizes. The grain that swells a line's box lies above and below.
    std::vector<std::vector<size_t>> largerOnRow(static_cast<size_t>(height));
    for (size_t id = 0; id < sizes.size(); ++id)
        if (sizes[id] > kGrainPixels)
            for (int y = boxes[id].top(); y <= boxes[id].bottom(); ++y)
                largerOnRow[size_t(y)].push_back(id);
    for (size_t id = 0; id < sizes.size(); ++id) {
        if (!speck[id])
            continue;
        const QRect& box = boxes[id];
        const std::vector<size_t>& onRow = largerOnRow[size_t(box.top())];
        speck[id] = std::none_of(onRow.begin(), onRow.end(), [&](size_t other) {
            const QRect& beside = boxes[other];
            return beside.bottom() >= box.bottom() && beside.left() - box.right() <= kGrainBeside &&
                   box.left() - beside.right() <= kGrainBeside;
        });
    }
    // What stays: the ink that is no speck, and the greys within kGrainReach pixels of it.
    std::vector<uchar> kept(size_t(width) * size_t(height), 0);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            if (const int id = piece[at(x, y)]; id >= 0 && !speck[size_t(id)])
                kept[at(x, y)] = 1;
    for (int pass = 0; pass < kGrainReach; ++pass) {
        std::vector<uchar> grown = kept;
        for (int y = 0; y < height; ++y)
            for (int x = 0; x < width; ++x)
                if (kept[at(x, y)])
                    for (int ny = std::max(0, y - 1); ny <= std::min(height - 1, y + 1); ++ny)
                        for (int nx = std::max(0, x - 1); nx <= std::min(width - 1, x + 1); ++nx)
                            grown[at(nx, ny)] = 1;
        kept = std::move(grown);
    }
    for (int y = 0; y < height; ++y) {
        uchar* row = grey.scanLine(y);
        for (int x = 0; x < width; ++x)
            if (!kept[at(x, y)])
                row[x] = 255;
    }
}

// How far the picture's text lines are tilted, in radians anticlockwise on the screen: the slope
// along which its rows of ink line up most sharply (the largest sum of squares of the ink counted
// along it), tried in steps of a seventh of a degree up to about three degrees either way. A
// tilt of less than kLeastSkew, or one along which the rows line up hardly more sharply than
// across the picture, is none: level text is read as it is. Across a row of a settings panel a
// degree of tilt is a line's height, enough for the engine to cut the row apart or to find no
// line in it; the engine's own estimate of the tilt misses text that falls to the right and
// finds tilts in level rows of small widgets.
constexpr double kLeastSkew = 0.01;
constexpr double kLargestSlope = 0.05;
constexpr double kSlopeStep = 0.0025;
constexpr double kSharperThanLevel = 1.15;

double skewOf(const QImage& grey)
{
    std::vector<std::pair<int, int>> ink; // every other column's dark pixels
    for (int y = 0; y < grey.height(); ++y) {
        const uchar* row = grey.constScanLine(y);
        for (int x = 0; x < grey.width(); x += 2)
            if (row[x] < 128)
                ink.emplace_back(x, y);
    }
    if (ink.size() < 64)
        return 0;
    const int reach = int(std::ceil(grey.width() * kLargestSlope)) + 1;
    std::vector<int> counts(size_t(grey.height() + 2 * reach));
    const auto sharpness = [&](double slope) {
        std::fill(counts.begin(), counts.end(), 0);
        for (const auto& [x, y] : ink)
            ++counts[size_t(y + reach + int(std::lround(x * slope)))];
        double sum = 0;
        for (const int count : counts)
            sum += double(count) * double(count);
        return sum;
    };
    const double level = sharpness(0);
    double best = level;
    double bestSlope = 0;
    const int steps = int(std::lround(kLargestSlope / kSlopeStep));
    for (int step = -steps; step <= steps; ++step) {
        if (step == 0)
            continue;
        const double slope = step * kSlopeStep;
        const double value = sharpness(slope);
        if (value > best) {
            best = value;
            bestSlope = slope;
        }
    }
    if (best < level * kSharperThanLevel)
        return 0;
    const double skew = std::atan(bestSlope);
    return std::abs(skew) < kLeastSkew ? 0 : skew;
}

// The picture turned level, clockwise by `skew` (radians, anticlockwise on the screen), about its
// centre onto a white picture large enough to hold it all, and the turn that takes a point of the
// picture to the turned one.
std::pair<QImage, QTransform> turned(const QImage& grey, double skew)
{
    QTransform turn;
    turn.rotateRadians(skew);
    const QRect bounds = turn.mapRect(QRectF(grey.rect())).toAlignedRect();
    QTransform placed;
    placed.translate(bounds.width() / 2.0, bounds.height() / 2.0);
    placed.rotateRadians(skew);
    placed.translate(-grey.width() / 2.0, -grey.height() / 2.0);
    QImage canvas(bounds.size(), QImage::Format_RGB32);
    canvas.fill(Qt::white);
    {
        QPainter painter(&canvas);
        painter.setRenderHint(QPainter::SmoothPixmapTransform);
        painter.setTransform(placed);
        painter.drawImage(0, 0, grey.convertToFormat(QImage::Format_RGB32));
    }
    return {canvas.convertToFormat(QImage::Format_Grayscale8), placed};
}

// Text drawn without antialiasing: ink and paper alone, next to no greys between them where
// the strokes end. kLeastAliasedInk dark pixels at least (a picture with less says nothing),
// at most one grey pixel for every kInkPerGrey dark ones (antialiased text has about one for
// every two).
constexpr int kLeastAliasedInk = 40;
constexpr int kInkPerGrey = 12;

bool drawnWithoutAntialiasing(const QImage& grey)
{
    int ink = 0;
    int between = 0;
    for (int y = 0; y < grey.height(); ++y) {
        const uchar* row = grey.constScanLine(y);
        for (int x = 0; x < grey.width(); ++x) {
            if (row[x] < 64)
                ++ink;
            else if (row[x] < 224)
                ++between;
        }
    }
    return ink >= kLeastAliasedInk && between * kInkPerGrey <= ink;
}

// The picture with its edges softened: each pixel's value averaged over a square 2 * radius + 1
// wide, twice over (close to a bell curve). Jagged one-pixel strokes scaled up are stairs the
// engine reads as other strokes ("結束" as "巡閉東"); softened, their edges run smooth, as
// antialiased text's do. The radius stays below half a scaled stroke, so that the middle of a
// stroke stays ink.
QImage softened(const QImage& grey, int radius)
{
    if (radius <= 0)
        return grey;
    const int width = grey.width();
    const int height = grey.height();
    const int span = 2 * radius + 1;
    std::vector<int> values(size_t(width) * size_t(height));
    for (int y = 0; y < height; ++y) {
        const uchar* row = grey.constScanLine(y);
        for (int x = 0; x < width; ++x)
            values[size_t(y) * size_t(width) + size_t(x)] = row[x];
    }
    std::vector<int> next(values.size());
    const auto pass = [&](bool across) {
        const int length = across ? width : height;
        const int count = across ? height : width;
        for (int i = 0; i < count; ++i) {
            const auto at = [&](int j) -> int& {
                const int clamped = std::clamp(j, 0, length - 1);
                return across ? values[size_t(i) * size_t(width) + size_t(clamped)]
                              : values[size_t(clamped) * size_t(width) + size_t(i)];
            };
            int sum = 0;
            for (int j = -radius; j <= radius; ++j)
                sum += at(j);
            for (int j = 0; j < length; ++j) {
                const size_t index =
                    across ? size_t(i) * size_t(width) + size_t(j) : size_t(j) * size_t(width) + size_t(i);
                next[index] = sum / span;
                sum += at(j + radius + 1) - at(j - radius);
            }
        }
        std::swap(values, next);
    };
    for (int twice = 0; twice < 2; ++twice) {
        pass(true);
        pass(false);
    }
    QImage result(width, height, QImage::Format_Grayscale8);
    for (int y = 0; y < height; ++y) {
        uchar* row = result.scanLine(y);
        for (int x = 0; x < width; ++x)
            row[x] = uchar(values[size_t(y) * size_t(width) + size_t(x)]);
    }
    return result;
}

// Scaled up by at least this much (text of about 16 px and less), jagged strokes read better
// softened; at 1.5 (18-20 px) softening read a few characters twice or as others.
constexpr double kLeastSofteningScale = 1.75;

// A quarter of the scale: about half of a one-pixel stroke scaled up, to either side.
int softeningRadius(double factor)
{
    return std::max(1, qRound(factor / 4));
}

QImage withMargin(const QImage& grey, int margin)
{
    QImage framed(grey.width() + 2 * margin, grey.height() + 2 * margin, QImage::Format_Grayscale8);
    framed.fill(255);
    for (int y = 0; y < grey.height(); ++y)
        std::copy_n(grey.constScanLine(y), grey.width(), framed.scanLine(margin + y) + margin);
    return framed;
}

// The page's blocks: columns side by side (a window's sidebar, its main column, a chat beside it)
// are read each alone. Read as one block, the engine takes lines of two columns that stand at
// nearly the same height for one line and reads the characters of both as one run, misreading
// most of them. The page is cut along white space (a recursive cut of the ink's projections):
// down through a blank gap wider than kColumnGap lines, across through one taller than
// kBlockGap lines where that lets the parts be cut into columns. Only columns whose lines clash
// are cut apart: a line of the one beside a line of the other, the two overlapping but not on
// one row. Lines on one row (a label and its value far to the right, a menu's items and their
// shortcuts, a table) the engine reads as one line, label first, and lines at heights of their
// own it does not mix; such columns stay one block. Ink that is no line of text (a frame's
// edge, a rule, an icon) clashes with nothing.
constexpr double kColumnGap = 2;
constexpr double kBlockGap = 1.5;
// A cut is tried so many levels deep at most.
constexpr int kDeepestCut = 6;

class PageBlocks
{
public:
    // The page's ink is kept as runs along its rows, which the cuts count many times over: a page
    // of text has far fewer runs than pixels.
    PageBlocks(const QImage& grey, int lineHeight) : m_line(std::max(lineHeight, kSmallestInk)), m_page(grey.rect())
    {
        m_rowStart.reserve(size_t(grey.height()) + 1);
        for (int y = 0; y < grey.height(); ++y) {
            m_rowStart.push_back(m_runs.size());
            const uchar* row = grey.constScanLine(y);
            for (int x = 0; x < grey.width();) {
                // Eight light pixels at a time: most of a page is background.
                if (std::uint64_t eight = 0; x + 8 <= grey.width()) {
                    std::memcpy(&eight, row + x, 8);
                    if ((eight & 0x8080808080808080ULL) == 0x8080808080808080ULL) {
                        x += 8;
                        continue;
                    }
                }
                if (row[x] >= 128) {
                    ++x;
                    continue;
                }
                const int left = x;
                while (x < grey.width() && row[x] < 128)
                    ++x;
                m_runs.emplace_back(left, x - 1);
            }
        }
        m_rowStart.push_back(m_runs.size());
    }

    std::vector<QRect> blocks(const QRect& area) { return cut(trimmed(area), 0); }

private:
    // Blank where at most one pixel is ink: a speck of a compressed picture's noise does not
    // bridge a gap.
    static bool blank(int ink) { return ink <= 1; }

    // Calls `add(first, last)` with each run of ink in the area, cut to it.
    template <typename Add>
    void eachRun(const QRect& area, int y, Add add) const
    {
        for (size_t i = m_rowStart[size_t(y)]; i < m_rowStart[size_t(y) + 1]; ++i) {
            const int first = std::max(m_runs[i].first, area.left());
            const int last = std::min(m_runs[i].second, area.right());
            if (first <= last)
                add(first, last);
        }
    }

    std::vector<int> inkAcross(const QRect& area) const // per column
    {
        std::vector<int> steps(size_t(area.width()) + 1, 0);
        for (int y = area.top(); y <= area.bottom(); ++y)
            eachRun(area, y, [&](int first, int last) {
                ++steps[size_t(first - area.left())];
                --steps[size_t(last - area.left() + 1)];
            });
        std::vector<int> ink(size_t(area.width()), 0);
        int running = 0;
        for (size_t x = 0; x < ink.size(); ++x)
            ink[x] = running += steps[x];
        return ink;
    }

    std::vector<int> inkDown(const QRect& area) const // per row
    {
        std::vector<int> ink(size_t(area.height()), 0);
        for (int y = area.top(); y <= area.bottom(); ++y)
            eachRun(area, y, [&](int first, int last) { ink[size_t(y - area.top())] += last - first + 1; });
        return ink;
    }

    // The area shrunk to its ink; empty where it has none.
    QRect trimmed(const QRect& area) const
    {
        const QRect inside = area.intersected(m_page);
        if (inside.isEmpty())
            return {};
        const std::vector<int> across = inkAcross(inside);
        const std::vector<int> down = inkDown(inside);
        const auto first = [](const std::vector<int>& ink) {
            return int(std::find_if(ink.begin(), ink.end(), [](int n) { return !blank(n); }) - ink.begin());
        };
        const auto last = [](const std::vector<int>& ink) {
            return int(ink.rend() - std::find_if(ink.rbegin(), ink.rend(), [](int n) { return !blank(n); })) - 1;
        };
        const int left = first(across), right = last(across), top = first(down), bottom = last(down);
        if (left > right || top > bottom)
            return {};
        return QRect(QPoint(inside.left() + left, inside.top() + top),
                     QPoint(inside.left() + right, inside.top() + bottom));
    }

    // The runs of ink between blank runs at least `gap` long: [first, last] offsets.
    static std::vector<std::pair<int, int>> runs(const std::vector<int>& ink, int gap)
    {
        std::vector<std::pair<int, int>> found;
        int start = -1, end = -1, blanks = 0;
        for (int i = 0; i < int(ink.size()); ++i) {
            if (blank(ink[size_t(i)])) {
                ++blanks;
                continue;
            }
            if (start < 0 || blanks >= gap) {
                if (start >= 0)
                    found.emplace_back(start, end);
                start = i;
            }
            end = i;
            blanks = 0;
        }
        if (start >= 0)
            found.emplace_back(start, end);
        return found;
    }

    // The rows of ink of an area like lines of text: from a quarter line to two high and at
    // least as wide as high (rules, specks, a frame's edges and bits of shapes aside), as
    // [top, bottom] in the page. Blank rows within a line (between the upper and lower parts of
    // a few Chinese characters) do not cut it.
    std::vector<std::pair<int, int>> rowsIn(const QRect& area) const
    {
        std::vector<std::pair<int, int>> rows;
        for (const auto& [top, bottom] : runs(inkDown(area), std::max(1, m_line / 8))) {
            const int height = bottom - top + 1;
            if (4 * height < m_line || height > 2 * m_line)
                continue;
            const QRect row = trimmed(QRect(area.left(), area.top() + top, area.width(), height));
            if (row.width() >= row.height())
                rows.emplace_back(area.top() + top, area.top() + bottom);
        }
        return rows;
    }

    // Whether lines of two columns clash: a line of the one overlaps a line of the other, or comes
    // within a quarter line of it, their middles a third of a line or more apart. Read as one
    // block, the engine runs two lines that close into one and loses or garbles both.
    bool linesClash(const QRect& a, const QRect& b) const
    {
        const std::vector<std::pair<int, int>> left = rowsIn(a);
        const std::vector<std::pair<int, int>> right = rowsIn(b);
        const int touch = std::max(1, m_line / 4);
        for (const auto& [top, bottom] : left)
            for (const auto& [otherTop, otherBottom] : right)
                if (top <= otherBottom + touch && otherTop <= bottom + touch &&
                    3 * std::abs(top + bottom - otherTop - otherBottom) >= 2 * m_line)
                    return true;
        return false;
    }

    std::vector<QRect> cut(const QRect& area, int depth)
    {
        if (area.isEmpty())
            return {};
        if (depth >= kDeepestCut)
            return {area};
        // Down through wide gaps, into columns; neighbours whose lines do not clash stay one.
        std::vector<QRect> columns;
        for (const auto& [left, right] : runs(inkAcross(area), int(std::ceil(kColumnGap * m_line)))) {
            const QRect column =
                trimmed(QRect(QPoint(area.left() + left, area.top()), QPoint(area.left() + right, area.bottom())));
            if (column.isEmpty())
                continue;
            if (!columns.empty() && !linesClash(columns.back(), column))
                columns.back() |= column;
            else
                columns.push_back(column);
        }
        if (columns.size() > 1) {
            std::vector<QRect> all;
            for (const QRect& column : columns)
                for (const QRect& block : cut(column, depth + 1))
                    all.push_back(block);
            return all;
        }
        // Across through tall gaps, where that lets a part be cut into columns; the parts that
        // stay whole stay one block with their neighbours that do too.
        const std::vector<std::pair<int, int>> parts = runs(inkDown(area), int(std::ceil(kBlockGap * m_line)));
        if (parts.size() < 2)
            return {area};
        std::vector<QRect> all;
        bool open = false; // whether the last block holds whole parts
        for (const auto& [top, bottom] : parts) {
            const QRect part =
                trimmed(QRect(QPoint(area.left(), area.top() + top), QPoint(area.right(), area.top() + bottom)));
            const std::vector<QRect> inPart = cut(part, depth + 1);
            if (inPart.size() == 1 && open)
                all.back() |= inPart.front();
            else
                all.insert(all.end(), inPart.begin(), inPart.end());
            open = inPart.size() == 1;
        }
        if (all.size() == 1)
            return {area};
        return all;
    }

    int m_line;
    QRect m_page;
    std::vector<std::pair<int, int>> m_runs; // first and last column of each run of ink
    std::vector<size_t> m_rowStart;          // where each row's runs start in m_runs, and the end
};

std::vector<ReadLine> read(tesseract::TessBaseAPI& api, const QImage& grey, int resolution,
                           tesseract::PageSegMode mode, QPoint offset = {})
{
    api.SetPageSegMode(mode);
    api.SetImage(grey.constBits(), grey.width(), grey.height(), 1, static_cast<int>(grey.bytesPerLine()));
    api.SetSourceResolution(resolution);
    if (api.Recognize(nullptr) != 0)
        return {};
    const std::unique_ptr<tesseract::ResultIterator> iterator(api.GetIterator());
    return iterator ? readPage(*iterator, offset) : std::vector<ReadLine>{};
}

// A line alone on white, for a second reading, and where the line's picture starts in it: the
// line's box and a little more (the engine's line boxes can clip a stroke), then a white margin
// of half a line. Without the margin the engine can find no line at all in a picture of one.
struct LinePicture
{
    QImage image;
    QPoint offset; // of the picture in the page
};

LinePicture linePicture(const QImage& grey, const QRect& line)
{
    const int clip = std::max(2, line.height() / 8);
    const QRect area = line.adjusted(-clip, -clip, clip, clip).intersected(grey.rect());
    const int margin = std::max(8, line.height() / 2);
    QImage image(area.width() + 2 * margin, area.height() + 2 * margin, QImage::Format_Grayscale8);
    image.fill(255);
    for (int y = 0; y < area.height(); ++y)
        std::copy_n(grey.constScanLine(area.top() + y) + area.left(), area.width(), image.scanLine(margin + y) + margin);
    return {image, area.topLeft() - QPoint(margin, margin)};
}

// The engine's confidence in a line: the mean of its words'.
float meanConfidence(const ReadLine& line)
{
    if (line.words.empty())
        return 0;
    float sum = 0;
    for (const ReadWord& word : line.words)
        sum += word.confidence;
    return sum / float(line.words.size());
}

// What the engine read of one line alone as one line with the line's box, its pieces' words
// from left to right; nothing when it read nothing.
std::optional<ReadLine> asOneLine(std::vector<ReadLine> read, const QRect& box)
{
    if (read.empty())
        return std::nullopt;
    ReadLine line{box, {}};
    for (ReadLine& piece : read)
        for (ReadWord& word : piece.words)
            line.words.push_back(std::move(word));
    if (line.words.empty())
        return std::nullopt;
    std::stable_sort(line.words.begin(), line.words.end(),
                     [](const ReadWord& a, const ReadWord& b) { return a.box.left() < b.box.left(); });
    return line;
}

// A line read alone, the way the engine trusts most: the page's language reading it as a line,
// then as long as it trusts its reading less than `enough`, as one word, larger, and by the
// other Chinese language. A short label in a face the engine knows badly can come back empty one
// way and right another. `otherEngine` lends the other language's engine, when there is one;
// `asLine` is the reading as a line where it was made already.
template <typename OtherEngine>
std::optional<ReadLine> readLineInEarnest(tesseract::TessBaseAPI& api, OtherEngine otherEngine, const QImage& grey,
                                          const QRect& box, int resolution, float enough,
                                          std::optional<ReadLine> asLine = std::nullopt)
{
    const LinePicture picture = linePicture(grey, box);
    std::optional<ReadLine> best;
    const auto consider = [&](std::optional<ReadLine> reading) {
        if (reading && (!best || meanConfidence(*reading) > meanConfidence(*best)))
            best = std::move(reading);
        return best && meanConfidence(*best) >= enough;
    };
    if (!asLine)
        asLine = asOneLine(read(api, picture.image, resolution, tesseract::PSM_SINGLE_LINE, picture.offset), box);
    if (consider(std::move(asLine)))
        return best;
    if (consider(asOneLine(read(api, picture.image, resolution, tesseract::PSM_SINGLE_WORD, picture.offset), box)))
        return best;
    constexpr int kLarger = 3; // halves
    const QImage larger =
        picture.image.scaled(picture.image.width() * kLarger / 2, picture.image.height() * kLarger / 2,
                             Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
    std::vector<ReadLine> largerReading = read(api, larger, resolution, tesseract::PSM_SINGLE_LINE);
    for (ReadLine& line : largerReading)
        for (ReadWord& word : line.words) {
            const auto back = [&](int v) { return v * 2 / kLarger; };
            word.box = QRect(QPoint(back(word.box.left()), back(word.box.top())),
                             QPoint(back(word.box.right()), back(word.box.bottom())))
                           .translated(picture.offset);
            for (Symbol& symbol : word.symbols) {
                symbol.left = back(symbol.left) + picture.offset.x();
                symbol.right = back(symbol.right) + picture.offset.x();
                symbol.top = back(symbol.top) + picture.offset.y();
                symbol.bottom = back(symbol.bottom) + picture.offset.y();
            }
        }
    if (consider(asOneLine(std::move(largerReading), box)))
        return best;
    if (tesseract::TessBaseAPI* other = otherEngine()) {
        std::optional<ReadLine> reading =
            asOneLine(read(*other, picture.image, resolution, tesseract::PSM_SINGLE_LINE, picture.offset), box);
        if (reading)
            reading->byOtherChinese = true;
        consider(std::move(reading));
    }
    return best;
}

// Shapes drawn alike, as many as this or more, can make a pattern.
constexpr size_t kLeastRepeats = 4;

// A connected piece of ink (8-neighbours) within an area of the picture, cut at the area's edges.
struct InkPiece
{
    QRect box;
    int pixels = 0;
};

std::vector<InkPiece> inkPieces(const QImage& grey, const QRect& where, int inkBelow = 128)
{
    const QRect area = where.intersected(grey.rect());
    std::vector<InkPiece> pieces;
    if (area.isEmpty())
        return pieces;
    const int width = area.width();
    std::vector<bool> seen(size_t(width) * size_t(area.height()), false);
    const auto isInk = [&](int x, int y) { return grey.constScanLine(y)[x] < inkBelow; };
    std::vector<QPoint> stack;
    for (int y = area.top(); y <= area.bottom(); ++y) {
        for (int x = area.left(); x <= area.right(); ++x) {
            const size_t at = size_t(y - area.top()) * size_t(width) + size_t(x - area.left());
            if (seen[at] || !isInk(x, y))
                continue;
            seen[at] = true;
            InkPiece piece{QRect(x, y, 1, 1), 0};
            stack.assign(1, QPoint(x, y));
            while (!stack.empty()) {
                const QPoint p = stack.back();
                stack.pop_back();
                ++piece.pixels;
                piece.box |= QRect(p, QSize(1, 1));
                for (int dy = -1; dy <= 1; ++dy) {
                    for (int dx = -1; dx <= 1; ++dx) {
                        const int nx = p.x() + dx, ny = p.y() + dy;
                        if (!area.contains(nx, ny))
                            continue;
                        const size_t next = size_t(ny - area.top()) * size_t(width) + size_t(nx - area.left());
                        if (!seen[next] && isInk(nx, ny)) {
                            seen[next] = true;
                            stack.emplace_back(nx, ny);
                        }
                    }
                }
            }
            pieces.push_back(piece);
        }
    }
    return pieces;
}

// Whether the ink of a line is a pattern rather than writing: most of it in shapes each drawn
// alike several times over (rings, outlines, tiles of a few sizes), each about as tall as the
// line, one after another at a regular pitch. Writing repeats shapes too (the letters o and n,
// the strokes of l and i, a row of dots between a label and its value), but not most of its ink
// in shapes as tall as its characters set at even distances.
bool looksLikePattern(const QImage& grey, const QRect& line)
{
    std::vector<InkPiece> pieces = inkPieces(grey, line);
    std::erase_if(pieces, [&](const InkPiece& piece) { return 2 * piece.box.height() < line.height(); });
    if (pieces.size() < kLeastRepeats)
        return false;
    int ink = 0;
    for (const InkPiece& piece : pieces)
        ink += piece.pixels;
    // Alike: as large, as much ink, and the ink in the same places but for a pixel's
    // difference along the edges of the strokes (antialiasing, placement between pixels).
    const auto isInk = [&](int x, int y) { return grey.constScanLine(y)[x] < 128; };
    const auto alike = [&](const InkPiece& a, const InkPiece& b) {
        const auto near = [](int x, int y, int slack) {
            return std::abs(x - y) <= std::max(slack, std::max(x, y) / 10);
        };
        if (!near(a.box.width(), b.box.width(), 1) || !near(a.box.height(), b.box.height(), 1) ||
            !near(a.pixels, b.pixels, 2))
            return false;
        int differing = 0;
        const int width = std::min(a.box.width(), b.box.width());
        const int height = std::min(a.box.height(), b.box.height());
        for (int y = 0; y < height; ++y)
            for (int x = 0; x < width; ++x)
                differing += isInk(a.box.left() + x, a.box.top() + y) != isInk(b.box.left() + x, b.box.top() + y);
        return 4 * differing <= std::max(a.pixels, b.pixels);
    };
    int repeatedInk = 0;
    for (const InkPiece& piece : pieces) {
        size_t count = 0;
        for (const InkPiece& other : pieces)
            count += alike(piece, other) ? 1 : 0;
        if (count >= kLeastRepeats)
            repeatedInk += piece.pixels;
    }
    if (4 * repeatedInk < 3 * ink)
        return false;
    // And set at a regular pitch, as a pattern is drawn: the letters of a word repeat (o, n, e)
    // at the distances their neighbours make.
    std::vector<int> lefts;
    for (const InkPiece& piece : pieces)
        lefts.push_back(piece.box.left());
    std::sort(lefts.begin(), lefts.end());
    std::vector<int> pitches;
    for (size_t i = 1; i < lefts.size(); ++i)
        pitches.push_back(lefts[i] - lefts[i - 1]);
    std::vector<int> sorted = pitches;
    std::nth_element(sorted.begin(), sorted.begin() + ptrdiff_t(sorted.size() / 2), sorted.end());
    const int pitch = sorted[sorted.size() / 2];
    const auto regular = std::count_if(pitches.begin(), pitches.end(),
                                       [&](int p) { return std::abs(p - pitch) <= std::max(2, pitch / 10); });
    return 4 * size_t(regular) >= 3 * pitches.size();
}

// Whether a line's ink is nearly all of a mesh running through it (cross-hatching, a lattice,
// a net of lines): in pieces that reach half a line past both its top and its bottom. The
// engine reads the holes of a mesh as 0s and its crossings as characters, and trusts them. A
// character stays within its line; where a grid's rule or a stroke of the next line touches
// it, that is a small part of the line's ink.
constexpr double kMeshShare = 0.9;
constexpr int kMeshInk = 192;
constexpr double kMostMeshInk = 0.6;

bool inkRunsThroughLine(const QImage& grey, const QRect& line)
{
    const int height = line.height();
    const QRect area = line.adjusted(0, -height, 0, height).intersected(grey.rect());
    if (height < 4 || area.isEmpty())
        return false;
    const int width = area.width();
    std::vector<int> label(size_t(width) * size_t(area.height()), -1);
    const auto at = [&](int x, int y) -> int& {
        return label[size_t(y - area.top()) * size_t(width) + size_t(x - area.left())];
    };
    // A mesh's lines scaled up are grey beside its dark crossings: its ink is counted to the grey
    // of a faint stroke.
    const auto isInk = [&](int x, int y) { return grey.constScanLine(y)[x] < kMeshInk; };
    // A piece reaches past an edge of the line where it gets half a line beyond it, or to the
    // picture's edge on that side.
    const int above = std::max(area.top(), line.top() - height / 2);
    const int below = std::min(area.bottom(), line.bottom() + height / 2);
    int insideInk = 0;
    int insideThrough = 0;
    std::vector<QPoint> stack;
    for (int y = area.top(); y <= area.bottom(); ++y) {
        for (int x = area.left(); x <= area.right(); ++x) {
            if (at(x, y) >= 0 || !isInk(x, y))
                continue;
            int top = y, bottom = y, inside = 0;
            at(x, y) = 0;
            stack.assign(1, QPoint(x, y));
            while (!stack.empty()) {
                const QPoint p = stack.back();
                stack.pop_back();
                top = std::min(top, p.y());
                bottom = std::max(bottom, p.y());
                inside += p.y() >= line.top() && p.y() <= line.bottom() ? 1 : 0;
                for (int dy = -1; dy <= 1; ++dy)
                    for (int dx = -1; dx <= 1; ++dx) {
                        const int nx = p.x() + dx, ny = p.y() + dy;
                        if (area.contains(nx, ny) && at(nx, ny) < 0 && isInk(nx, ny)) {
                            at(nx, ny) = 0;
                            stack.emplace_back(nx, ny);
                        }
                    }
            }
            insideInk += inside;
            if (top <= above && bottom >= below)
                insideThrough += inside;
        }
    }
    // A panel a shade darker than the page behind a line is no mesh: it has no holes.
    const int boxArea = line.width() * (std::min(line.bottom(), area.bottom()) - std::max(line.top(), area.top()) + 1);
    return insideInk > 0 && double(insideThrough) >= kMeshShare * double(insideInk) &&
           double(insideInk) <= kMostMeshInk * boxArea;
}

// A check box's tick (a check mark) before its caption is no character, but the engine reads it
// as one: V, v, y, or a Chinese character. A tick is one piece of ink about as wide as high whose
// left arm is the shorter: its top holds ink at the right only (V, v, Y and y reach up at both
// sides, the upright of レ at the left), lower down both arms stand side by side, and it ends
// in a point left of its middle, not the middle of the piece. Where the arms stand side by side
// depends on the tick's size and sharpness: a small tick scaled up from a blurred picture (a
// screenshot shown at 75 %) has a short left arm whose blur runs into the right one from
// about three fifths of its height down, so the arms are looked for from two fifths to three.
bool looksLikeTick(const QImage& grey, const InkPiece& piece)
{
    const QRect& box = piece.box;
    if (box.height() < 5 || 5 * box.width() < 3 * box.height() || 5 * box.width() > 8 * box.height())
        return false;
    const auto isInk = [&](int x, int y) { return grey.constScanLine(y)[x] < 128; };
    const int rightPart = box.left() + (9 * box.width()) / 20;
    for (int y = box.top(); y < box.top() + (3 * box.height()) / 10; ++y)
        for (int x = box.left(); x < rightPart; ++x)
            if (isInk(x, y))
                return false;
    const auto runsAt = [&](int y) {
        int runs = 0;
        for (int x = box.left(); x <= box.right(); ++x)
            runs += isInk(x, y) && (x == box.left() || !isInk(x - 1, y)) ? 1 : 0;
        return runs;
    };
    bool arms = false;
    for (int y = box.top() + (2 * box.height()) / 5; y <= box.top() + (3 * box.height()) / 5 && !arms; ++y)
        arms = runsAt(y) == 2;
    if (!arms)
        return false;
    int sum = 0, count = 0;
    for (int y = box.bottom() - box.height() / 6; y <= box.bottom(); ++y)
        for (int x = box.left(); x <= box.right(); ++x)
            if (isInk(x, y)) {
                sum += x - box.left();
                ++count;
            }
    return count > 0 && 5 * sum >= count * box.width() && 5 * sum <= 3 * count * box.width();
}

// A check box's square near the start of a line, in `area`: four straight whole sides, from
// two fifths of a line high to a bit more than a line (口 in a font has its uprights reaching past its lowest stroke, or
// serifs), not much in it but a tick. Its outline is often drawn much lighter than text: its ink
// is counted up to the grey of a frame's.
std::optional<QRect> checkBoxSquare(const QImage& grey, const QRect& area, int lineHeight)
{
    const auto isInk = [&](int x, int y) { return area.contains(x, y) && grey.constScanLine(y)[x] < kFrameInk; };
    const auto covered = [&](int x0, int y0, int dx, int dy, int length) {
        int ink = 0;
        for (int k = 0; k < length; ++k)
            ink += isInk(x0 + k * dx, y0 + k * dy) ? 1 : 0;
        return 10 * ink >= 9 * length;
    };
    for (int x = area.left(); x <= area.left() + lineHeight && x <= area.right(); ++x) {
        // The longest upright run of ink in this column.
        int top = -1, bestTop = 0, bestLength = 0;
        for (int y = area.top(); y <= area.bottom() + 1; ++y) {
            if (y <= area.bottom() && isInk(x, y)) {
                if (top < 0)
                    top = y;
            } else if (top >= 0) {
                if (y - top > bestLength) {
                    bestLength = y - top;
                    bestTop = top;
                }
                top = -1;
            }
        }
        if (5 * bestLength < 2 * lineHeight || 4 * bestLength > 5 * lineHeight)
            continue;
        const int side = bestLength;
        const int bottom = bestTop + side - 1;
        // The sides can stand a pixel or two off the upright's ends (antialiasing, rounding).
        bool right = false;
        for (int r = x + side - 3; r <= x + side + 1 && !right; ++r)
            right = covered(r, bestTop, 0, 1, side);
        bool upper = false, lower = false;
        for (int d = -2; d <= 1; ++d) {
            upper = upper || covered(x, bestTop + d, 1, 0, side - 1);
            lower = lower || covered(x, bottom - d, 1, 0, side - 1);
        }
        if (!right || !upper || !lower)
            return std::nullopt;
        const QRect square(x, bestTop, side, side);
        const int inset = std::max(2, side / 5);
        const QRect inside = square.adjusted(inset, inset, -inset, -inset);
        int ink = 0;
        for (int y = inside.top(); y <= inside.bottom(); ++y)
            for (int ix = inside.left(); ix <= inside.right(); ++ix)
                ink += grey.constScanLine(y)[ix] < 128 ? 1 : 0;
        if (!inside.isEmpty() && 20 * ink > 7 * inside.width() * inside.height())
            return std::nullopt;
        return square;
    }
    return std::nullopt;
}

// The grey a stroke of a thin face drawn small reaches at its darkest, at the least.
constexpr int kFaintStroke = 192;

// Where a line's check box ends: its mark's right edge, and where its caption starts (half-way
// across the gap after the mark). Without a caption the line is the mark alone.
struct CheckMark
{
    int left = 0;
    int right = 0;
    std::optional<int> cut;
};

std::optional<CheckMark> checkMarkOf(const ReadLine& line, const QImage& grey)
{
    const int height = line.box.height();
    if (height < 8)
        return std::nullopt;
    // The engine's line can begin inside the square or after it: it is looked for from a line
    // and a half before the line.
    const QRect start =
        QRect(line.box.left() - 3 * height / 2, line.box.top() - height / 4, 4 * height, height + height / 2)
            .intersected(grey.rect());
    std::vector<InkPiece> pieces = inkPieces(grey, start);
    std::erase_if(pieces, [&](const InkPiece& piece) { return 4 * piece.box.height() < height; });
    if (pieces.empty())
        return std::nullopt;
    QRect mark;
    if (const std::optional<QRect> square = checkBoxSquare(grey, start, height)) {
        mark = *square;
    } else {
        const auto first = std::min_element(pieces.begin(), pieces.end(), [](const InkPiece& a, const InkPiece& b) {
            return a.box.left() < b.box.left();
        });
        if (3 * first->box.height() < height || first->box.height() > height + height / 4 ||
            !looksLikeTick(grey, *first))
            return std::nullopt;
        mark = first->box;
    }
    // What is not the mark (a tick drawn in the square is) stands after it, a gap between. A
    // caption in a thin face at a small size can be lighter than the tick all through (a pixel
    // of stroke blended with the page): what stands after the mark is looked for down to the
    // grey of a faint stroke.
    const QRect withTick = mark.adjusted(-1, -1, 1, 1);
    std::vector<InkPiece> after = inkPieces(grey, start, kFaintStroke);
    std::erase_if(after, [&](const InkPiece& piece) { return 4 * piece.box.height() < height; });
    int next = std::numeric_limits<int>::max();
    for (const InkPiece& piece : pieces)
        if (!withTick.contains(piece.box) && piece.box != mark)
            next = std::min(next, piece.box.left());
    for (const InkPiece& piece : after)
        if (!withTick.contains(piece.box) && !piece.box.intersects(mark))
            next = std::min(next, piece.box.left());
    // The layout can take the mark for a line of its own, the caption another: such a line is
    // the mark and nothing else.
    if (next == std::numeric_limits<int>::max() && withTick.adjusted(-2, -2, 2, 2).contains(line.box))
        return CheckMark{mark.left(), mark.right(), std::nullopt};
    if (next == std::numeric_limits<int>::max() || next - mark.right() <= std::max(2, mark.height() / 3))
        return std::nullopt;
    return CheckMark{mark.left(), mark.right(), (mark.right() + next) / 2};
}

// How much more the engine must trust a caption read alone than as it read it beside its box
// for it to replace that. A caption read beside the box it is not is as trusted alone, give or
// take a point (a code line's first letter Q, scaled down, looks like a square box); one whose
// first characters took in the box's strokes is trusted several points more.
constexpr double kClearlyMoreTrusted = 3;

// The engine's mean trust in a line's characters whose middles lie right of `from`.
double trustAfter(ReadLine& line, int from)
{
    double sum = 0;
    int count = 0;
    for (const Symbol* symbol : symbolsOf(line))
        if ((symbol->left + symbol->right) / 2 > from) {
            sum += symbol->confidence;
            ++count;
        }
    return count > 0 ? sum / count : 0;
}

// A caption read with its check box before it is read with the box's strokes in mind: the
// engine takes the square's side and the tick for strokes of the first characters, and reads
// 聲 for a small 登 beside them. The caption of a line that starts with a box is read again
// alone, from where the box ends, and kept where the engine trusts it more than the caption it
// read beside the box. A box starts its row: a mark with ink just before it is a letter of a
// line (a Q in a line of code, scaled down), which is read as it was.
void readCaptionWithoutCheckBox(ReadLine& line, tesseract::TessBaseAPI& api, const QImage& grey, int resolution)
{
    const std::optional<CheckMark> mark = checkMarkOf(line, grey);
    if (!mark || !mark->cut || line.box.left() > mark->right || *mark->cut >= line.box.right())
        return;
    const QRect before =
        QRect(QPoint(mark->left - line.box.height(), line.box.top()), QPoint(mark->left - 2, line.box.bottom()))
            .intersected(grey.rect());
    for (int y = before.top(); y <= before.bottom(); ++y)
        for (int x = before.left(); x <= before.right(); ++x)
            if (grey.constScanLine(y)[x] < 128)
                return;
    const QRect caption(QPoint(*mark->cut + 1, line.box.top()), line.box.bottomRight());
    const LinePicture picture = linePicture(grey, caption);
    std::optional<ReadLine> reading =
        asOneLine(read(api, picture.image, resolution, tesseract::PSM_SINGLE_LINE, picture.offset), caption);
    if (!reading || trustAfter(*reading, *mark->cut) < trustAfter(line, *mark->cut) + kClearlyMoreTrusted)
        return;
    reading->foundConfidence = line.foundConfidence;
    line = std::move(*reading);
}

// A line that starts with a check box (its square, its tick, or both), a gap, and then its
// caption loses the characters read for the box; a line of nothing but the box, its caption
// read as a line of its own, is emptied. Only a mark alone in its columns and followed by more
// ink is one: a mark alone in its row (a tick drawn by itself, a white square) stays as read.
void dropCheckMark(ReadLine& line, const QImage& grey)
{
    const std::optional<CheckMark> mark = checkMarkOf(line, grey);
    if (!mark)
        return;
    if (!mark->cut) {
        line.words.clear();
        return;
    }
    const int cut = *mark->cut;
    // A line that lies beyond the mark is a caption read on its own.
    if (line.box.left() > mark->right)
        return;
    for (ReadWord& word : line.words) {
        std::erase_if(word.symbols, [&](const Symbol& symbol) { return (symbol.left + symbol.right) / 2 <= cut; });
        if (!word.symbols.empty() && word.box.left() <= cut)
            word.box.setLeft(std::min(word.symbols.front().left, word.box.right()));
    }
    std::erase_if(line.words, [](const ReadWord& word) { return word.symbols.empty(); });
}

// How thick the ink's strokes are: at each pixel of ink (darker than `darkerThan`) the shorter of
// its runs of ink across and down, the median of those. A stroke is as thick as its shorter run;
// a blot or a bar of a chart is thick both ways.
int strokeWidth(const QImage& grey, const QRect& where, int darkerThan = 128)
{
    const QRect area = where.intersected(grey.rect());
    if (area.isEmpty())
        return 0;
    const int width = area.width();
    const int height = area.height();
    const auto isInk = [&](int x, int y) { return grey.constScanLine(area.top() + y)[area.left() + x] < darkerThan; };
    std::vector<int> across(size_t(width) * size_t(height), 0);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width;) {
            if (!isInk(x, y)) {
                ++x;
                continue;
            }
            int end = x;
            while (end < width && isInk(end, y))
                ++end;
            for (int k = x; k < end; ++k)
                across[size_t(y) * size_t(width) + size_t(k)] = end - x;
            x = end;
        }
    }
    std::vector<int> runs;
    for (int x = 0; x < width; ++x) {
        for (int y = 0; y < height;) {
            if (!isInk(x, y)) {
                ++y;
                continue;
            }
            int end = y;
            while (end < height && isInk(x, end))
                ++end;
            for (int k = y; k < end; ++k)
                runs.push_back(std::min(end - y, across[size_t(k) * size_t(width) + size_t(x)]));
            y = end;
        }
    }
    if (runs.empty())
        return 0;
    std::nth_element(runs.begin(), runs.begin() + ptrdiff_t(runs.size() / 2), runs.end());
    return runs[runs.size() / 2];
}

// The ink of the picture outside the lines read (each widened a little, as the engine's boxes can
// clip a stroke), cut into lines: bands of rows with such ink, each split where a gap wider than
// twice the band's height runs across it (a label and its value far to the right are two), of
// the bands from `lowest` to `highest` rows high. The engine's page layout can leave a whole line
// out, a short one above all.
std::vector<QRect> inkOutsideLines(const QImage& grey, const std::vector<QRect>& lines, int lowest, int highest)
{
    const int width = grey.width();
    const int height = grey.height();
    std::vector<bool> covered(size_t(width) * size_t(height), false);
    for (const QRect& line : lines) {
        const int clip = std::max(2, line.height() / 8);
        const QRect area = line.adjusted(-clip, -clip, clip, clip).intersected(grey.rect());
        for (int y = area.top(); y <= area.bottom(); ++y)
            std::fill_n(covered.begin() + ptrdiff_t(size_t(y) * size_t(width) + size_t(area.left())), area.width(),
                        true);
    }
    const auto uncoveredInk = [&](int x, int y) {
        return !covered[size_t(y) * size_t(width) + size_t(x)] && grey.constScanLine(y)[x] < 128;
    };
    std::vector<bool> inkInRow(size_t(height), false);
    for (int y = 0; y < height; ++y) {
        const uchar* row = grey.constScanLine(y);
        for (int x = 0; x < width && !inkInRow[size_t(y)]; ++x)
            inkInRow[size_t(y)] = row[x] < 128 && !covered[size_t(y) * size_t(width) + size_t(x)];
    }

    // Bands, a blank row or two inside a character (三, 二) not cutting one.
    std::vector<std::pair<int, int>> bands;
    for (int y = 0; y < height; ++y) {
        if (!inkInRow[size_t(y)])
            continue;
        if (!bands.empty() && y - bands.back().second <= 3)
            bands.back().second = y;
        else
            bands.emplace_back(y, y);
    }
    std::vector<QRect> found;
    for (const auto& [top, bottom] : bands) {
        const int bandHeight = bottom - top + 1;
        if (bandHeight < lowest || bandHeight > highest)
            continue;
        int left = -1, right = -1;
        const auto close = [&] {
            if (left >= 0)
                found.emplace_back(QPoint(left, top), QPoint(right, bottom));
            left = right = -1;
        };
        for (int x = 0; x < width; ++x) {
            bool ink = false;
            for (int y = top; y <= bottom && !ink; ++y)
                ink = uncoveredInk(x, y);
            if (!ink)
                continue;
            if (left >= 0 && x - right > 2 * bandHeight)
                close();
            if (left < 0)
                left = x;
            right = x;
        }
        close();
    }
    return found;
}

// The engine's confidence in the lines it reads in textures stays under 30 (0 to 40 a word),
// but for the odd line of a letter or two, up to about 55; in a line of text, even one it
// misreads a character or two of, over 50, and in a short label (OK, 42, 设置) over 90. A line
// set so tight that it takes in its neighbours' strokes reads at 30–40, half of it right: kept.
constexpr float kLeastLineConfidence = 30;
// Where the layout analysis found no text line at all, more is asked: a row of the boxes drawn
// for missing glyphs reads as letters at about 55, a clean line the layout missed at 65 to 95.
constexpr float kLeastUnlaidLineConfidence = 60;
constexpr size_t kShortLine = 3;
constexpr float kLeastShortLineConfidence = 65;
// Under this no line is text, however like text its ink looks: what the engine reads in noise.
constexpr float kLeastTextLikeConfidence = 30;
// Ink covers at most this share of a line of text's box, even of bold Chinese characters:
// more is a mesh or a blot; and at least this share, even of thin Latin letters set wide.
constexpr double kMostInk = 0.4;
constexpr double kLeastInk = 0.02;
// Strokes of writing are at most this thick, in heights of their line (a bold face's about 0.12).
constexpr double kThickestStroke = 0.2;
// A line alone in its picture, its ink like writing's, is text at this confidence: a label in a
// face the engine reads badly comes at 40 to 65, while the odd shape it takes for a letter or
// two in a chart or a photograph has its own ink too little or too thick to count as alone.
constexpr float kLeastLoneLineConfidence = 40;
// A lone label that nothing else in its picture was read as, whose readings at the label heights
// agree character by character, is read at this confidence: small print on a photograph's grain
// comes at 20 to 40 even where its ink is plainly writing's, and an answer beats none.
constexpr float kLeastAgreedLabelConfidence = 20;
// The width of a character, a blank beside it included, in heights of its line, at most.
constexpr double kWidestCharacter = 1.4;
// How far apart, in heights of a line, lines of one list can stand: a few items, each a line
// and a half to two lines below the last.
constexpr int kListReach = 6;

// Below this likeness neither character looks like the picture: the place of the character in
// the line was misjudged, and the pair says nothing. A character that is there scores about 0.8
// to 1, the other script's form of it 0.1 to 0.8.
constexpr double kLikenessToDecide = 0.6;

// In a line of a few characters the glyph comparison is the one evidence that tells the forms
// apart at all, and at 12 to 16 px, or in a face that is not installed, neither form looks
// like the picture as much as a character that is there does; but the form that is drawn
// still looks clearly more like it, in every face (語 drawn in a Ming face at 12 px: 語 0.4 to
// 0.6, 语 about 0; with only Noto's faces 0.4 against 0.1). A vote where the likelier looks
// like the picture this much, the other this much less.
constexpr double kLeastLikenessInAShortLine = 0.35;
constexpr double kLikenessApartInAShortLine = 0.2;

// A character replaces another only where it looks like one that is there: where the cell is
// misplaced (half of one character and half of the next), one of the several styles compared
// can make the wrong form win by chance (键 read as 鍵 at 0.71).
constexpr double kLikenessToReplace = 0.75;

// A character the line's other reading has replaces the winning reading's only when it looks
// this much more like the picture: a misread (航 for 剪) loses by far more, while the two forms
// of one character (贴 and 貼) can come close where the line's cells are placed badly.
constexpr double kLikenessToOverride = 0.2;

// The font of a style that draws a Chinese language's forms of the characters.
const QString& familyOf(const HanGlyphs::Style& style, const QString& language)
{
    return language == QLatin1String("chi_tra") ? style.traditional : style.simplified;
}

// The darkness of a cell of the picture, in the share of a square as high as the cell.
double inkIn(const QImage& grey, const QRect& cell)
{
    const QRect area = cell.intersected(grey.rect());
    if (area.isEmpty())
        return 0;
    double ink = 0;
    for (int y = area.top(); y <= area.bottom(); ++y) {
        const uchar* row = grey.constScanLine(y);
        for (int x = area.left(); x <= area.right(); ++x)
            ink += 255 - row[x];
    }
    return ink / (255.0 * area.height() * area.height());
}

// A character's cell is cut where its ink turns dark (above half); a stroke drawn lighter than
// that, as thin strokes of a small Kai or Ming face are, can lie outside it (faint ink, as for
// marks). Faint ink is looked for beside a cell up to this much of its height, not farther: the
// next character stands about that far away.
constexpr double kMostFaintInkBesideACell = 0.25;

// `cell` widened to left and right over columns with faint ink in its rows, up to a quarter of its
// height on each side: all of the character whose dark ink the cell holds.
QRect widenedToFaintInk(const QImage& grey, const QRect& cell)
{
    const QRect area = cell.intersected(grey.rect());
    if (area.isEmpty())
        return cell;
    const auto faint = [&](int x) {
        if (x < 0 || x >= grey.width())
            return false;
        for (int y = area.top(); y <= area.bottom(); ++y)
            if (grey.constScanLine(y)[x] < kFaintInk)
                return true;
        return false;
    };
    const int most = std::max(1, int(kMostFaintInkBesideACell * area.height()));
    int left = area.left();
    while (left > area.left() - most && faint(left - 1))
        --left;
    int right = area.right();
    while (right < area.right() + most && faint(right + 1))
        ++right;
    return QRect(QPoint(left, area.top()), QPoint(right, area.bottom()));
}

// How much each kind of evidence weighs in a line's script, in votes: a clear difference of ink
// at one character counts one. Where the glyph comparison decides at all, it is the surest
// evidence, whichever fonts are installed: measured over 1,100 lines of five families in every
// look, it pointed to the drawn script on 98 % of the lines it said something about, with only
// the Noto CJK fonts as with all five (the ink 88 %, the confidences 82 %). A clear win counts
// one and a half; one that is not clear half of that, since a Ming or Kai picture's characters
// can look more like the other form in Noto's style, where the glyph's own style is missing.
constexpr double kClearGlyphVote = 1.5;
constexpr double kGlyphVote = 0.75;
// The models' mean confidences in a line's Chinese words differ by up to 40 in favour of the
// script the line is written in where the other model misreads what it does not know (錄 as 儿),
// but in a short line by as much either way for no reason of script: a difference of 20 counts
// one vote, and no more; and only as far as the two readings are of the same characters (in
// either form): where they read different characters, the line is misread either way, and what
// the models trust more says nothing about its script.
constexpr double kConfidencePerVote = 20;
constexpr double kMostConfidenceVotes = 1;
// The simplified model knows hardly any traditional-only character: one it reads is there. And
// the traditional model reads a simplified-only character that the simplified model reads too
// (复 in 复制) only where it is drawn: in 1,100 lines, never one drawn in its traditional form.
constexpr double kTraditionalReadBySimplifiedModel = 1;
constexpr double kMostTraditionalReadBySimplifiedModel = 2;
constexpr double kSimplifiedReadByBothModels = 1;
constexpr double kMostSimplifiedReadByBothModels = 2;
// Two forms whose ink differs by less than this (log of their ratio) say nothing about which is
// drawn (纪 and 紀, 设 and 設: fonts differ more than they do); beyond, the more the clearer, and
// 0.25 more (体 and 體: 0.35) counts a whole vote.
constexpr double kInkDifferenceThatTells = 0.15;
constexpr double kInkDifferenceThatTellsWell = 0.25;
// The ink of the picture is measured against the characters both readings agree on: fewer than
// three say less.
constexpr size_t kInkReferences = 3;
// Each model's confidence in the characters where the two differ in form: the one reading its
// own script's form of what is drawn is the surer, by a few points.
constexpr double kCharacterConfidencePerVote = 20;
constexpr double kMostCharacterConfidenceVote = 0.5;
// The strokes' places say which form is drawn by a correlation a few hundredths apart: 0.1 counts
// a whole vote, and no more, about what a clear difference of ink counts. Trusted from 20 px of
// sharp detail on, wholly from 28 px.
constexpr double kStrokesMarginPerVote = 0.1;
constexpr double kMostStrokesVote = 1;
constexpr double kLeastSharpHeightForStrokes = 20;
constexpr double kSharpHeightForStrokes = 28;
// And only where the form that wins looks alike at all: from 0.5, wholly from 0.7.
constexpr double kLeastStrokesLikeness = 0.5;
constexpr double kStrokesLikeness = 0.7;
// A line of at most this many Chinese characters (a label, a button, a menu item) is short.
constexpr size_t kMostCharactersOfAShortLine = 4;
// The models' confidences in a short line alone in its picture (a label) differ by as much either
// way for no reason of script: both read their own script's form of a two-character label at 90
// to 99 whichever form is drawn (编辑 drawn: 編輯 read at 97, 编辑 at 90), and nothing around
// the label evens that out. There they count a quarter, so that the picture's glyphs decide.
constexpr double kConfidenceShareInALoneLabel = 0.25;
// Evidence weaker than this leaves the line to the lines around it.
constexpr double kDecisiveEvidence = 1;
constexpr double kFairEvidence = 2;
constexpr double kOverwhelmingEvidence = 4;
constexpr int kLinesOfALargeBlock = 4;
// Lines say one script together where the evidence of the lines leaning the other way is at most
// a sixth of that of the lines leaning theirs. Lines of one script misread in the other's forms
// rarely say more than a vote or two each, and the lines of a script in a picture of both say
// several.
constexpr double kEvidenceOfOneScript = 6;
// Lines lean one way where the evidence of those leaning the other is at most a third of theirs.
constexpr double kEvidenceOfALeaning = 3;
// A line whose evidence is only its models' confidences follows lines around that say at least
// twice as much the other way.
constexpr double kTimesAConfidentLine = 2;
// Less than this is no evidence at all: a confidence a few points apart, no character of either
// script's own.
constexpr double kNoEvidence = 0.25;

// How much a picture of one character says it is the traditional form drawn (> 0, up to one vote)
// or the simplified one (< 0) by where its strokes lie: the picture's strokes, thinned, compared
// with each form's in the installed styles, each form in the style it looks most alike in. Blind
// to the face's stroke width and brush, this tells the forms apart where the installed faces are
// unlike the picture's (a Kai label with only the Noto fonts), but only where the picture shows
// the character's detail: measured over 900 cells of Kai, Ming and Hei labels compared with the
// Noto faces alone, it pointed to the drawn form in 95 % of the cells with 28 px of sharp detail
// or more, 88 % at 20 to 28 px, and hardly better than the models' guesses below. Over 980
// characters drawn in the Ming faces it is right in 98 %, in the Kai faces in 87 %, and 92 %
// where the form that wins looks alike (0.5 or more).
double strokesVote(const QImage& picture, const QString& traditionalText, const QString& simplifiedText)
{
    const double trust = std::clamp((HanGlyphs::sharpHeight(picture) - kLeastSharpHeightForStrokes) /
                                        (kSharpHeightForStrokes - kLeastSharpHeightForStrokes),
                                    0.0, 1.0);
    if (trust <= 0)
        return 0;
    const HanGlyphs::Strokes strokes(picture);
    double traditional = -1, simplified = -1;
    for (const HanGlyphs::Style& style : HanGlyphs::installedStyles()) {
        traditional = std::max(traditional, strokes.likeness(traditionalText, style.traditional));
        simplified = std::max(simplified, strokes.likeness(simplifiedText, style.simplified));
    }
    // A face far from every installed one (a Kai face beside Noto's) leaves both forms little
    // alike, and there the simpler form, of fewer lines, tends to win (言 drawn in a Kai face looks
    // less like Noto's 言 than like 讠): the margin counts as far as the winner looks alike.
    const double alike = std::clamp((std::max(traditional, simplified) - kLeastStrokesLikeness) /
                                        (kStrokesLikeness - kLeastStrokesLikeness),
                                    0.0, 1.0);
    return alike * trust *
           std::clamp((traditional - simplified) / kStrokesMarginPerVote, -kMostStrokesVote, kMostStrokesVote);
}

// What a Chinese line's two readings, one per Chinese model, say about it.
struct HanComparison
{
    size_t line = 0;
    ReadLine other;                  // the other model's reading
    bool hasOther = false;           // whether it read exactly one line
    bool otherIsTraditional = false; // which model read `other`
    // The pairs of differing characters of `line` and `other` where one looks clearly more like the
    // picture: +1 the other reading's.
    std::vector<std::tuple<size_t, size_t, int>> verdicts;
    std::vector<std::pair<size_t, size_t>> otherCharacters; // differing pairs that are not both Chinese
    // How much the line's own characters say it is traditional (> 0) or simplified (< 0).
    double traditional = 0;
    // The share of the Chinese characters both readings read alike (in either form), and how
    // much more the engine trusts the other reading's Chinese words than the line's.
    double sameShare = 1;
    double otherSurer = 0;
    // The part of `traditional` that comes from the models' confidences.
    double fromConfidence = 0;
    bool shortLine = false;
    // Whether neither reading has a character of one script only, nor the forms of one character.
    bool ofBothScripts = false;
};

// Each Chinese model knows mostly its own script's characters and reads the other script's as
// the nearest ones it knows (貼 as 贴, 贴 as 貼), and the traditional model now and then emits a
// simplified form of what it reads. The script of a line therefore comes from what the two
// readings say together, each kind of evidence independent of the fonts the desktop has:
// - where the readings differ by the form of a character, the picture's ink: a traditional form
//   mostly has more strokes (體 and 体), and a cell's ink, relative to the characters both
//   readings agree on, shows which form is drawn, whatever the font's weight and style;
// - the models' confidence in the line: each trusts its own script's characters more;
// - a traditional-only character the simplified model reads;
// - and, worth less, which of the two characters drawn in the installed fonts looks more like the
//   picture;
// - in a short line, where little else tells, which form's strokes the picture's follow, thinned
//   (`strokesVote`), whatever the face.
// Where the two readings differ, the glyph comparison also mends a character the line's model
// misreads in its own script (航 for 剪) where the other's looks clearly more like the picture.
HanComparison compareHanReadings(ReadLine& line, std::vector<ReadLine>& others, const QImage& grey,
                                 const QString& firstLanguage, const QString& otherLanguage)
{
    HanComparison comparison;
    comparison.otherIsTraditional = otherLanguage == QLatin1String("chi_tra");
    const double towardsOther = comparison.otherIsTraditional ? 1 : -1; // evidence for the other, as traditional
    std::vector<Symbol*> first = symbolsOf(line);

    double readTraditional = 0;
    for (const Symbol* symbol : comparison.otherIsTraditional ? first : std::vector<Symbol*>{})
        if (ChineseScript::formOf(symbol->text) == ChineseScript::Form::traditional)
            readTraditional += kTraditionalReadBySimplifiedModel;

    if (others.size() != 1) {
        comparison.traditional = std::min(readTraditional, kMostTraditionalReadBySimplifiedModel);
        return comparison;
    }
    comparison.hasOther = true;
    comparison.other = std::move(others.front());
    std::vector<Symbol*> second = symbolsOf(comparison.other);
    if (!comparison.otherIsTraditional)
        for (const Symbol* symbol : second)
            if (ChineseScript::formOf(symbol->text) == ChineseScript::Form::traditional)
                readTraditional += kTraditionalReadBySimplifiedModel;

    const std::vector<QRect> cells = characterCells(first, line.box, grey);
    const std::vector<QRect> otherCells = characterCells(second, comparison.other.box, grey);
    const auto pictureAt = [&](const QRect& cell) { return grey.copy(cell.intersected(grey.rect())); };

    // The ink of the picture per ink of the drawn character, over the characters both read alike.
    const QString& inkFamily = HanGlyphs::installedStyles().front().traditional;
    std::vector<double> inkRatios;
    const std::vector<std::pair<size_t, size_t>> pairs = alignment(first, second);
    for (const auto& [i, j] : pairs) {
        if (first[i]->text != second[j]->text || !HanGlyphs::isHanCharacter(first[i]->text))
            continue;
        const double drawn = HanGlyphs::inkOf(first[i]->text, inkFamily);
        if (drawn > 0)
            inkRatios.push_back((inkIn(grey, cells[i]) + inkIn(grey, otherCells[j])) / 2 / drawn);
    }
    double inkScale = 0;
    if (!inkRatios.empty()) {
        std::nth_element(inkRatios.begin(), inkRatios.begin() + ptrdiff_t(inkRatios.size() / 2), inkRatios.end());
        inkScale = inkRatios[inkRatios.size() / 2];
    }

    const auto hanCharacters = [](const std::vector<Symbol*>& symbols) {
        return size_t(std::count_if(symbols.begin(), symbols.end(),
                                    [](const Symbol* symbol) { return HanGlyphs::isHanCharacter(symbol->text); }));
    };
    const bool shortLine = std::max(hanCharacters(first), hanCharacters(second)) <= kMostCharactersOfAShortLine;
    comparison.shortLine = shortLine;
    double inkVotes = 0;
    double characterVotes = 0;
    double glyphVotes = 0;
    double readSimplified = 0;
    double strokesVotes = 0;
    size_t sameCharacters = 0; // Chinese characters both read, in either form
    bool formsDiffer = false;  // whether the readings differ by the form of a character
    for (const auto& [i, j] : pairs) {
        if (first[i]->text == second[j]->text) {
            if (HanGlyphs::isHanCharacter(first[i]->text)) {
                ++sameCharacters;
                if (ChineseScript::formOf(first[i]->text) == ChineseScript::Form::simplified)
                    readSimplified += kSimplifiedReadByBothModels;
            }
            continue;
        }
        if (!HanGlyphs::isHanCharacter(first[i]->text) || !HanGlyphs::isHanCharacter(second[j]->text)) {
            comparison.otherCharacters.emplace_back(i, j);
            continue;
        }
        // Which of the two is the traditional reading's, and whether the pair is a question of
        // script at all: the two forms of one character (贴 and 貼), not a misread (航 for 剪).
        const QString& traditionalText = comparison.otherIsTraditional ? second[j]->text : first[i]->text;
        const QString& simplifiedText = comparison.otherIsTraditional ? first[i]->text : second[j]->text;
        const bool ofScript = ChineseScript::toSimplified({traditionalText}).front() == simplifiedText ||
                              ChineseScript::toTraditional({simplifiedText}).front() == traditionalText;
        if (ofScript) {
            ++sameCharacters;
            formsDiffer = true;
        }
        const float traditionalConfidence =
            comparison.otherIsTraditional ? second[j]->confidence : first[i]->confidence;
        const float simplifiedConfidence = comparison.otherIsTraditional ? first[i]->confidence : second[j]->confidence;
        const double traditionalSurer =
            std::clamp(double(traditionalConfidence - simplifiedConfidence) / kCharacterConfidencePerVote,
                       -kMostCharacterConfidenceVote, kMostCharacterConfidenceVote);
        if (ofScript) {
            characterVotes += traditionalSurer;
        } else {
            // A misread says something only where one model is surer of a character only its
            // script has (錄 read where the other model guesses 儿): that model knows what it sees.
            if (ChineseScript::formOf(traditionalText) == ChineseScript::Form::traditional)
                characterVotes += std::max(0.0, traditionalSurer);
            if (ChineseScript::formOf(simplifiedText) == ChineseScript::Form::simplified)
                characterVotes += std::min(0.0, traditionalSurer);
        }
        // In a short line (a label, a button) the other evidence is thin: the strokes' places weigh.
        if (ofScript && shortLine)
            strokesVotes += strokesVote(pictureAt(cells[i]), traditionalText, simplifiedText);
        if (ofScript && inkScale > 0) {
            const double traditionalInk = HanGlyphs::inkOf(traditionalText, inkFamily);
            const double simplifiedInk = HanGlyphs::inkOf(simplifiedText, inkFamily);
            const double measured = (inkIn(grey, cells[i]) + inkIn(grey, otherCells[j])) / 2 / inkScale;
            if (traditionalInk > 0 && simplifiedInk > 0 && measured > 0) {
                const double apart = std::log(traditionalInk / simplifiedInk);
                if (std::abs(apart) > kInkDifferenceThatTells) {
                    // -1 at the simplified form's ink, +1 at the traditional one's.
                    const double position = (2 * std::log(measured) - std::log(traditionalInk * simplifiedInk)) / apart;
                    inkVotes +=
                        std::clamp(position, -1.0, 1.0) *
                        std::clamp((std::abs(apart) - kInkDifferenceThatTells) / kInkDifferenceThatTellsWell, 0.0, 1.0);
                }
            }
        }
        // Each reading places the character a little differently: the better place counts. The
        // picture's type is unknown: the style in which either character looks most like it
        // decides (in a style unlike the picture's both look alike or neither does). Measured,
        // this does better than one style chosen for the whole line from the characters both
        // readings agree on: at 16 px those say little about the type.
        struct Likeness
        {
            double first = -1, second = -1;         // in the style either looks most alike in
            double firstBest = -1, secondBest = -1; // in any style
        };
        const auto likenessIn = [&](const QRect& cell, const QRect& otherCell) {
            const HanGlyphs::Shape shapes[] = {HanGlyphs::Shape(pictureAt(cell)),
                                               HanGlyphs::Shape(pictureAt(otherCell))};
            Likeness likeness;
            for (const HanGlyphs::Style& style : HanGlyphs::installedStyles()) {
                double inStyle[] = {-1, -1};
                for (const HanGlyphs::Shape& shape : shapes) {
                    inStyle[0] = std::max(inStyle[0], shape.likeness(first[i]->text, familyOf(style, firstLanguage)));
                    inStyle[1] = std::max(inStyle[1], shape.likeness(second[j]->text, familyOf(style, otherLanguage)));
                }
                if (std::max(inStyle[0], inStyle[1]) > std::max(likeness.first, likeness.second)) {
                    likeness.first = inStyle[0];
                    likeness.second = inStyle[1];
                }
                likeness.firstBest = std::max(likeness.firstBest, inStyle[0]);
                likeness.secondBest = std::max(likeness.secondBest, inStyle[1]);
            }
            return likeness;
        };
        const Likeness likeness = likenessIn(cells[i], otherCells[j]);
        const double firstLikeness = likeness.first, secondLikeness = likeness.second;
        const double firstBest = likeness.firstBest, secondBest = likeness.secondBest;
        if (std::max(firstLikeness, secondLikeness) < kLikenessToDecide || firstLikeness == secondLikeness) {
            // The weaker difference is one a misplaced cell or one style can make: a cell that cuts
            // off a faint stroke (the left side of 貝 in a Kai face at 12 px, lighter than the cut)
            // shows a character of fewer strokes, and blurred at 12 px 貼 looks more like 贴 in
            // some faces than in its own. It votes only where the loser drawn in its own best style
            // still looks clearly less alike, and the cells widened to all of the character's faint
            // ink still say the same.
            const auto weakVerdict = [](const Likeness& alike) {
                const int verdict = alike.second > alike.first ? 1 : -1;
                const double winner = std::max(alike.first, alike.second);
                const double loserAnywhere = verdict > 0 ? alike.firstBest : alike.secondBest;
                if (winner < kLeastLikenessInAShortLine || winner - loserAnywhere < kLikenessApartInAShortLine)
                    return 0;
                return verdict;
            };
            if (shortLine && ofScript) {
                const int weak = weakVerdict(likeness);
                if (weak != 0 && weakVerdict(likenessIn(widenedToFaintInk(grey, cells[i]),
                                                        widenedToFaintInk(grey, otherCells[j]))) == weak)
                    glyphVotes += weak * kGlyphVote;
            }
            continue;
        }
        const int verdict = secondLikeness > firstLikeness ? 1 : -1;
        // Only a clear win replaces a character, and only one that no other style undoes: the
        // loser drawn in its own best style must still look clearly less alike.
        const double loserAnywhere = verdict > 0 ? firstBest : secondBest;
        const bool clear = std::max(firstLikeness, secondLikeness) >= kLikenessToReplace &&
                           std::max(firstLikeness, secondLikeness) - loserAnywhere >= kLikenessToOverride;
        if (clear)
            comparison.verdicts.emplace_back(i, j, verdict);
        // A clear win is one in the picture's own type, as good as the ink: a whole vote.
        if (ofScript)
            glyphVotes += verdict * (clear ? kClearGlyphVote : kGlyphVote);
    }
    // Over the words of Chinese characters: the Latin words of a mixed line say nothing of its script.
    const auto hanConfidence = [](const ReadLine& reading) {
        float sum = 0;
        int count = 0;
        for (const ReadWord& word : reading.words) {
            if (std::any_of(word.symbols.begin(), word.symbols.end(),
                            [](const Symbol& symbol) { return HanGlyphs::isHanCharacter(symbol.text); })) {
                sum += word.confidence;
                ++count;
            }
        }
        return count > 0 ? sum / float(count) : 0;
    };
    const double sameShare =
        double(sameCharacters) / double(std::max({hanCharacters(first), hanCharacters(second), size_t(1)}));
    comparison.sameShare = sameShare;
    comparison.otherSurer = double(hanConfidence(comparison.other) - hanConfidence(line));
    // A line whose characters, as either model reads them, are all written alike in both scripts
    // (重新命名), each model reading the same ones or misreading them, is of both: which model
    // trusts it more says nothing of a script, and would only sway the lines around it. Where the
    // two read forms of one character (内 and 內, both standing in either script's text), the
    // models know their own script's usual form.
    const auto ofOneScript = [](const std::vector<Symbol*>& symbols) {
        return std::any_of(symbols.begin(), symbols.end(), [](const Symbol* symbol) {
            return HanGlyphs::isHanCharacter(symbol->text) &&
                   ChineseScript::formOf(symbol->text) != ChineseScript::Form::both;
        });
    };
    comparison.ofBothScripts = !formsDiffer && !ofOneScript(first) && !ofOneScript(second);
    const double confidenceVotes =
        !comparison.ofBothScripts
            ? sameShare * std::clamp(comparison.otherSurer / kConfidencePerVote, -kMostConfidenceVotes,
                                     kMostConfidenceVotes)
            : 0;
    inkVotes *= std::min(1.0, double(inkRatios.size()) / kInkReferences);
    comparison.traditional = strokesVotes + inkVotes + characterVotes +
                             std::min(readTraditional, kMostTraditionalReadBySimplifiedModel) -
                             std::min(readSimplified, kMostSimplifiedReadByBothModels) +
                             towardsOther * (glyphVotes + confidenceVotes);
    comparison.fromConfidence = characterVotes + towardsOther * confidenceVotes;
    return comparison;
}

// What a line's evidence says of the script the lines around it lean to. Its models'
// confidences say less of it than its ink and glyphs: at 12-13 px a model reads characters of
// the other script more surely than its own now and then, and a line or two whose confidences
// alone say the other script held a block back from leaning its way (a traditional menu of
// jagged Noto, 3.7 for traditional against 1.3, all of it the simplified model's surer 书签 and
// 搬充功能: its 下載項目, which said nothing of itself, came back 下载项目). Weighing what the
// lines around say, their confidences count kConfidenceInALeaning of what they would alone.
constexpr double kConfidenceInALeaning = 0.5;

double leaningEvidence(const HanComparison& comparison)
{
    return comparison.traditional - (1 - kConfidenceInALeaning) * comparison.fromConfidence;
}

// Lines that are read over (a block of text): each within a line's height or so of the next, of
// about the same height. A line whose own evidence is thin takes the script of the other lines
// on its row (a label and its value), else of its block, else of the picture, where their
// evidence together is not thin and says one script.
//
// `leaning` tells, for each line whose own thin evidence decided its script, the script the
// lines around it lean to (+1 traditional, -1 simplified; else 0).
void decideScripts(std::vector<HanComparison>& comparisons, const std::vector<ReadLine>& lines,
                   std::vector<bool>& traditional, std::vector<int>& leaning)
{
    // The one Chinese line of its picture, short (a label), has no lines around it to follow, and
    // its models' confidences say little.
    if (comparisons.size() == 1 && comparisons.front().shortLine && comparisons.front().hasOther) {
        HanComparison& alone = comparisons.front();
        alone.traditional -= (1 - kConfidenceShareInALoneLabel) * alone.fromConfidence;
        alone.fromConfidence *= kConfidenceShareInALoneLabel;
    }
    std::vector<size_t> order(comparisons.size());
    for (size_t k = 0; k < order.size(); ++k)
        order[k] = k;
    std::sort(order.begin(), order.end(), [&](size_t a, size_t b) {
        return lines[comparisons[a].line].box.top() < lines[comparisons[b].line].box.top();
    });
    std::vector<size_t> blockOf(comparisons.size(), 0);
    size_t block = 0;
    for (size_t k = 0; k < order.size(); ++k) {
        if (k > 0) {
            const QRect& above = lines[comparisons[order[k - 1]].line].box;
            const QRect& below = lines[comparisons[order[k]].line].box;
            const int high = std::max(above.height(), below.height());
            const int low = std::max(1, std::min(above.height(), below.height()));
            if (below.top() - above.bottom() > 2 * high || 2 * high > 3 * low)
                ++block;
        }
        blockOf[order[k]] = block;
    }
    // The evidence of lines for each script apart: whether lines say one thing together.
    struct Evidence
    {
        double traditional = 0; // of the lines that lean that way
        double simplified = 0;  // (> 0)
        int lines = 0;

        void add(double evidence, int sign = 1)
        {
            (evidence > 0 ? traditional : simplified) += sign * std::abs(evidence);
            lines += sign;
        }
        double sum() const { return traditional - simplified; }
        // Whether what speaks against the lines' sum is little beside it: in a picture of both
        // scripts (a simplified message in a traditional chat, a panel of rows in either) the
        // lines of each say much, and a line that says little of itself follows neither.
        bool agrees() const
        {
            return kEvidenceOfOneScript * std::min(traditional, simplified) <= std::max(traditional, simplified);
        }
        // Whether what speaks against the sum is clearly less, if not little.
        bool leans() const
        {
            return kEvidenceOfALeaning * std::min(traditional, simplified) <= std::max(traditional, simplified);
        }
    };
    std::vector<Evidence> ofBlock(block + 1);
    Evidence ofPicture;
    // The same, for the script lines lean to, each line's confidences counting less.
    std::vector<Evidence> leaningOfBlock(block + 1);
    Evidence leaningOfPicture;
    for (size_t k = 0; k < comparisons.size(); ++k) {
        ofBlock[blockOf[k]].add(comparisons[k].traditional);
        ofPicture.add(comparisons[k].traditional);
        leaningOfBlock[blockOf[k]].add(leaningEvidence(comparisons[k]));
        leaningOfPicture.add(leaningEvidence(comparisons[k]));
    }
    // The other lines on a line's row: a label and its value far to the right are of one script.
    std::vector<LinePlace> places;
    for (const HanComparison& comparison : comparisons)
        places.push_back(placeOf(lines[comparison.line]));
    const auto onItsRow = [&](size_t k) {
        Evidence row;
        for (size_t j = 0; j < comparisons.size(); ++j)
            if (j != k && onOneRow(places[k], places[j]))
                row.add(comparisons[j].traditional);
        return row;
    };
    traditional.assign(comparisons.size(), false);
    leaning.assign(comparisons.size(), 0);
    for (size_t k = 0; k < comparisons.size(); ++k) {
        // What the other lines say: at least two of them, for one line of the other script (a
        // quotation) not to decide its neighbour's, and together. The block's first; where its
        // lines are too few or say too little (rows of a panel set in several sizes make blocks
        // of a line each), the picture's.
        const double own = comparisons[k].traditional;
        Evidence around = ofBlock[blockOf[k]];
        around.add(own, -1);
        Evidence aroundInPicture = ofPicture;
        aroundInPicture.add(own, -1);
        Evidence leaningAround = leaningOfBlock[blockOf[k]];
        leaningAround.add(leaningEvidence(comparisons[k]), -1);
        Evidence leaningInPicture = leaningOfPicture;
        leaningInPicture.add(leaningEvidence(comparisons[k]), -1);
        // Where the lines around lean one way, as they say or with their confidences weighed less
        // (where a line or two whose confidences alone speak against the rest hold them back).
        const auto leansWith = [](const Evidence& others, const Evidence& weighed) {
            return others.lines >= 2 && std::abs(others.sum()) >= kDecisiveEvidence &&
                   (others.leans() || (weighed.leans() && (weighed.sum() > 0) == (others.sum() > 0)));
        };
        // A line whose own evidence is only a little more than thin (one misread character of the
        // other script's) still follows a block of many lines that say much more: a quotation of
        // the other script says more of itself.
        const bool thin = std::abs(own) < kDecisiveEvidence ||
                          (std::abs(own) < kFairEvidence && around.lines + 1 > kLinesOfALargeBlock &&
                           std::abs(around.sum()) >= kOverwhelmingEvidence && (around.sum() > 0) != (own > 0));
        const Evidence row = thin ? onItsRow(k) : Evidence();
        // A line whose evidence is only its models' confidences, and not much of it, says little
        // more of its script than one that says nothing: small jagged characters are read more
        // surely in the other script now and then (切換使用者 read 切换使用者 more surely, in a
        // traditional menu whose other items say so by their ink and glyphs too). In a block of
        // many lines it follows the others where they lean the other way clearly and say much
        // more together; not in a block of a few (a simplified line quoted between two
        // traditional ones), nor the picture's lines, whose blocks may each be of a script (a
        // simplified 复制 in a traditional panel, its only evidence the confidences, stays so).
        const bool ofConfidenceOnly = std::abs(own - comparisons[k].fromConfidence) < kNoEvidence &&
                                      std::abs(own) < kFairEvidence;
        const auto followsOver = [&](const Evidence& others) {
            return others.lines + 1 > kLinesOfALargeBlock && others.leans() && (others.sum() > 0) != (own > 0) &&
                   std::abs(others.sum()) >= std::max(kDecisiveEvidence, kTimesAConfidentLine * std::abs(own));
        };
        if (thin && std::abs(own) < kDecisiveEvidence && std::abs(row.sum()) >= kDecisiveEvidence && row.agrees())
            traditional[k] = row.sum() > 0;
        else if (thin && around.lines >= 2 && std::abs(around.sum()) >= kDecisiveEvidence && around.agrees())
            traditional[k] = around.sum() > 0;
        else if (thin && aroundInPicture.lines >= 2 && std::abs(aroundInPicture.sum()) >= kDecisiveEvidence &&
                 aroundInPicture.agrees())
            traditional[k] = aroundInPicture.sum() > 0;
        else if (ofConfidenceOnly && followsOver(around))
            traditional[k] = around.sum() > 0;
        // A line that says nothing of itself (the other model read no line there) would take a
        // script at random. Where the lines around it lean clearly one way, if not as one (a few
        // short lines misread in the other's forms, with little to say either), it leans with
        // them; in a picture of both scripts, where each says about as much, it is left to what
        // little it says.
        else if (std::abs(own) < kNoEvidence && leansWith(around, leaningAround))
            traditional[k] = around.sum() > 0;
        else if (std::abs(own) < kNoEvidence && leansWith(aroundInPicture, leaningInPicture))
            traditional[k] = aroundInPicture.sum() > 0;
        else {
            traditional[k] = own > 0;
            // A thin line left to what little it says leans as a line that says nothing of itself
            // would, should what it says turn out to come from characters it misread.
            if (std::abs(own) < kDecisiveEvidence && leansWith(around, leaningAround))
                leaning[k] = around.sum() > 0 ? 1 : -1;
            else if (std::abs(own) < kDecisiveEvidence && leansWith(aroundInPicture, leaningInPicture))
                leaning[k] = aroundInPicture.sum() > 0 ? 1 : -1;
        }
    }
}

// The characters of a line that are only of the other script take their form in the line's
// script, chosen among their neighbours (OpenCC's phrase tables); the rest stay as read.
void keepScript(ReadLine& line, bool traditional)
{
    const std::vector<Symbol*> symbols = symbolsOf(line);
    QStringList texts;
    for (const Symbol* symbol : symbols)
        texts.append(symbol->text);
    const ChineseScript::Form foreign =
        traditional ? ChineseScript::Form::simplified : ChineseScript::Form::traditional;
    bool any = false;
    for (const QString& text : texts)
        any = any || ChineseScript::formOf(text) == foreign;
    if (!any)
        return;
    const QStringList converted =
        traditional ? ChineseScript::toTraditional(texts) : ChineseScript::toSimplified(texts);
    for (size_t k = 0; k < symbols.size(); ++k)
        if (ChineseScript::formOf(texts[qsizetype(k)]) == foreign)
            symbols[k]->text = converted[qsizetype(k)];
}

// Where the two readings are mostly of different characters (a short label in a face the
// engine reads badly), the one it trusts this much more is the likelier reading, whatever the
// script.
constexpr double kLeastSameShare = 0.5;

// The line as its script's model read it, mended where the other model's character looks
// clearly more like the picture, and its characters made of its script. Where the two models
// read mostly different characters, the line is what the engine trusts clearly more, made of
// the line's script all the same.
void chooseHanReading(ReadLine& line, HanComparison& comparison, bool traditional)
{
    if (comparison.hasOther) {
        std::vector<Symbol*> first = symbolsOf(line);
        std::vector<Symbol*> second = symbolsOf(comparison.other);
        bool takeOther = traditional == comparison.otherIsTraditional;
        if (comparison.sameShare < kLeastSameShare && std::abs(comparison.otherSurer) >= kConfidencePerVote)
            takeOther = comparison.otherSurer > 0;
        // Neither reading is of one script: the script decided for the line, from the lines around
        // it, says nothing of which is read right, and the engine's trust is all there is.
        if (comparison.ofBothScripts)
            takeOther = comparison.otherSurer > 0;
        if (takeOther) {
            for (const auto& [i, j, verdict] : comparison.verdicts)
                if (verdict < 0)
                    second[j]->text = first[i]->text;
            // Punctuation and letters as the page's reading has them: read as a single line, the
            // traditional model takes a full-width comma for a narrow one.
            for (const auto& [i, j] : comparison.otherCharacters)
                second[j]->text = first[i]->text;
            const float found = line.foundConfidence;
            line = std::move(comparison.other);
            line.foundConfidence = found;
        } else {
            for (const auto& [i, j, verdict] : comparison.verdicts)
                if (verdict > 0)
                    first[i]->text = second[j]->text;
        }
    }
    keepScript(line, traditional);
}

// A line without Chinese characters is read again by the other language (English), whose
// reading stands when the engine trusts it more.
void chooseLatinReading(ReadLine& line, std::vector<ReadLine>& others)
{
    if (others.size() == 1 && !hasHan(others.front()) && meanConfidence(others.front()) > meanConfidence(line))
        line = std::move(others.front());
}

// Small text that reached the picture badly (drawn without antialiasing, or scaled down) is
// read at a scale the engine reads it poorly at whatever scale is chosen: each scale loses other
// strokes, and each model misreads other characters (a 12 px 连 read as 轿 on the page, as 連 by
// the traditional model, as 连 at a smaller scale). What one reading gets wrong, the others
// mostly get wrong in different ways, while the character drawn comes back from several. A
// character the engine doubts is therefore read again from the picture prepared three more
// ways, by both Chinese models, and the character most readings agree on (in either script's
// form, the traditional model reading 連 where the simplified one reads 连) replaces it where it
// has more of the engine's trust than the page's reading. Measured on pictures of interfaces in
// 12-18 px: asking that both models agree, or that more readings agree than on the page's
// character, or a fourth look (sharpened before scaling), or doubting below 85 or 95, each
// mended fewer characters than it spoiled.
constexpr float kDoubtfulCharacter = 90;
// The other preparations, each a scale of the page's and what is done to the text scaled: text
// drawn jagged at a smaller scale and softened, made ink or paper at a larger one then softened
// (the jagged stairs, scaled, fall on other pixels), and larger as it is; text scaled down,
// larger as it is, with its greys pushed toward ink and paper, and smaller and softened.
enum class Treatment
{
    none,
    softened,
    inkOrPaperSoftened,
    spread,
};
struct SecondLook
{
    double scale;
    Treatment treatment;
};
constexpr std::array kJaggedSecondLooks{SecondLook{0.8, Treatment::softened},
                                        SecondLook{1.4, Treatment::inkOrPaperSoftened},
                                        SecondLook{1.4, Treatment::none}};
constexpr std::array kBlurredSecondLooks{SecondLook{1.4, Treatment::none}, SecondLook{1.0, Treatment::spread},
                                         SecondLook{0.8, Treatment::softened}};
static_assert(kJaggedSecondLooks.size() == kBlurredSecondLooks.size());
// Grey below this is ink where jagged text is made ink or paper; where the greys of text scaled
// down are spread, this much of the bottom and top of the range is ink and paper.
constexpr int kInkOrPaper = 170;
constexpr int kDarkestSpread = 60;
constexpr int kLightestSpread = 200;
// A reading stands for a character of the page where its middle is within this much of the
// line's height of the character's.
constexpr double kSameCharacterReach = 0.5;

// The page prepared again from the picture before scaling, the `way`th other look of its kind.
QImage preparedAgain(const QImage& unscaled, double factor, bool jagged, size_t way, double skew, double* scale)
{
    const SecondLook look = jagged ? kJaggedSecondLooks[way] : kBlurredSecondLooks[way];
    *scale = look.scale;
    const double f = factor * look.scale;
    QImage picture = unscaled.scaled(std::max(1, qRound(unscaled.width() * f)),
                                     std::max(1, qRound(unscaled.height() * f)), Qt::IgnoreAspectRatio,
                                     Qt::SmoothTransformation);
    const auto remap = [&](auto&& value) {
        for (int y = 0; y < picture.height(); ++y) {
            uchar* row = picture.scanLine(y);
            for (int x = 0; x < picture.width(); ++x)
                row[x] = uchar(value(int(row[x])));
        }
    };
    if (look.treatment == Treatment::inkOrPaperSoftened)
        remap([](int v) { return v < kInkOrPaper ? 0 : 255; });
    if (look.treatment == Treatment::spread)
        remap([](int v) {
            return std::clamp((v - kDarkestSpread) * 255 / (kLightestSpread - kDarkestSpread), 0, 255);
        });
    if (look.treatment == Treatment::softened || look.treatment == Treatment::inkOrPaperSoftened)
        picture = softened(picture, softeningRadius(f));
    if (skew != 0)
        picture = turned(picture, skew).first;
    return picture;
}

// The key two readings of one character agree by: its simplified form.
QStringList agreementKeys(const std::vector<Symbol*>& symbols)
{
    QStringList texts;
    for (const Symbol* symbol : symbols)
        texts.append(symbol->text);
    return ChineseScript::toSimplified(texts);
}

// The line's doubtful Chinese characters replaced by what the page's and the other readings
// agree on, in the line's script. The other readings' boxes are in the page's pixels.
void mendDoubtfulCharacters(ReadLine& line, std::vector<ReadLine>& others, bool traditional)
{
    const std::vector<Symbol*> symbols = symbolsOf(line);
    const QStringList keys = agreementKeys(symbols);
    std::vector<std::vector<Symbol*>> otherSymbols;
    std::vector<QStringList> otherKeys;
    for (ReadLine& other : others) {
        otherSymbols.push_back(symbolsOf(other));
        otherKeys.push_back(agreementKeys(otherSymbols.back()));
    }
    const double reach = kSameCharacterReach * line.box.height();
    for (size_t i = 0; i < symbols.size(); ++i) {
        Symbol& symbol = *symbols[i];
        if (symbol.confidence >= kDoubtfulCharacter || !HanGlyphs::isHanCharacter(symbol.text))
            continue;
        struct Vote
        {
            double trust = 0;
            int readings = 0;
            std::vector<const Symbol*> texts;
        };
        std::map<QString, Vote> votes;
        votes[keys[qsizetype(i)]] = {symbol.confidence / 100.0, 1, {&symbol}};
        const double middle = (symbol.left + symbol.right) / 2.0;
        for (size_t r = 0; r < otherSymbols.size(); ++r) {
            std::optional<size_t> nearest;
            double distance = reach;
            for (size_t j = 0; j < otherSymbols[r].size(); ++j) {
                const double d = std::abs((otherSymbols[r][j]->left + otherSymbols[r][j]->right) / 2.0 - middle);
                if (d <= distance) {
                    distance = d;
                    nearest = j;
                }
            }
            // A reading that left a character out or read one more can put the page's neighbour
            // where this one stands: the neighbour is no vote for it.
            if (!nearest || !HanGlyphs::isHanCharacter(otherSymbols[r][*nearest]->text) ||
                (i > 0 && otherKeys[r][qsizetype(*nearest)] == keys[qsizetype(i - 1)]) ||
                (i + 1 < symbols.size() && otherKeys[r][qsizetype(*nearest)] == keys[qsizetype(i + 1)]))
                continue;
            Vote& vote = votes[otherKeys[r][qsizetype(*nearest)]];
            vote.trust += otherSymbols[r][*nearest]->confidence / 100.0;
            ++vote.readings;
            vote.texts.push_back(otherSymbols[r][*nearest]);
        }
        const auto best = std::max_element(votes.begin(), votes.end(), [](const auto& a, const auto& b) {
            return a.second.trust < b.second.trust;
        });
        const Vote& page = votes[keys[qsizetype(i)]];
        if (best->first == keys[qsizetype(i)] || best->second.readings < 2 || best->second.trust <= page.trust)
            continue;
        // In the line's script: as a reading has it where one does, else converted.
        const ChineseScript::Form foreign =
            traditional ? ChineseScript::Form::simplified : ChineseScript::Form::traditional;
        QString text;
        for (const Symbol* candidate : best->second.texts)
            if (ChineseScript::formOf(candidate->text) != foreign) {
                text = candidate->text;
                break;
            }
        if (text.isEmpty())
            text = traditional ? ChineseScript::toTraditional({best->first}).front() : best->first;
        symbol.text = text;
        symbol.confidence = float(100 * best->second.trust / best->second.readings);
    }
}

// The stretches of a line its doubtful characters stand in, each with kDoubtContext characters
// either side (the engine reads a character better among its neighbours than alone), those that
// touch joined; what lies between them is read well already and is not read again. A long line
// of a paragraph with one doubtful character is read again over a few characters' width.
// Measured on the interface pictures of 12-16 px: with two or three characters either side fewer
// characters were mended than with the whole line, with four as many.
constexpr int kDoubtContext = 4;
std::vector<QRect> doubtfulStretches(ReadLine& line)
{
    const std::vector<Symbol*> symbols = symbolsOf(line);
    const int count = int(symbols.size());
    std::vector<QRect> stretches;
    int first = -1;
    int last = -1;
    const auto close = [&] {
        if (first < 0)
            return;
        // From the line's edge at either end, else from the character's left edge to the next
        // one's: the right edges of Chinese characters reach into their neighbours.
        const int left = first == 0 ? line.box.left() : symbols[size_t(first)]->left;
        const int right = last + 1 >= count ? line.box.right() : symbols[size_t(last + 1)]->left - 1;
        stretches.push_back(QRect(QPoint(left, line.box.top()), QPoint(std::max(left, right), line.box.bottom())));
    };
    for (int i = 0; i < count; ++i) {
        if (symbols[size_t(i)]->confidence >= kDoubtfulCharacter ||
            !HanGlyphs::isHanCharacter(symbols[size_t(i)]->text))
            continue;
        const int from = std::max(0, i - kDoubtContext);
        const int to = std::min(count - 1, i + kDoubtContext);
        if (first >= 0 && from <= last + 1) {
            last = to;
            continue;
        }
        close();
        first = from;
        last = to;
    }
    close();
    return stretches;
}

// A line of the page to read again alone, by another language.
struct Rereading
{
    size_t line;
    size_t language; // index into the languages read again
    LinePicture picture;
    std::vector<ReadLine> lines; // what that language read
};

// The lines are read on dedicated threads beside the caller's (as many as the machine's free
// processors allow, see RecognitionThreads), so that a recognition neither waits for nor holds up
// the program's other background work. Each thread reads with engines of its own. The caller's
// reads the lines of the language of the page with the engine that read the page, and waits for
// an engine of each other language it needs, in the languages' order as every recognition does,
// so that two recognitions never wait for each other; the other threads take only engines that
// are free at once and leave the lines of a language they got none of to the caller's.
template<typename Borrow>
void readAgain(std::vector<Rereading>& rereadings, const QStringList& languages, int resolution, Borrow borrow,
               tesseract::TessBaseAPI& callersEngine, const QString& callersLanguage)
{
    if (rereadings.empty())
        return;
    std::stable_sort(rereadings.begin(), rereadings.end(),
                     [](const Rereading& a, const Rereading& b) { return a.language < b.language; });
    const RecognitionThreads::Plan plan = RecognitionThreads::planForNow(int(rereadings.size()));

    std::mutex mutex;
    std::vector<bool> taken(rereadings.size(), false);
    const auto work = [&](bool isCaller) {
        RecognitionThreads::limitTeamsOnThisThread(plan.teamWidth);
        std::vector<decltype(borrow(QString(), true))> loans(size_t(languages.size()));
        std::vector<tesseract::TessBaseAPI*> engines(size_t(languages.size()), nullptr);
        std::vector<bool> unavailable(size_t(languages.size()), false);
        if (isCaller)
            for (qsizetype i = 0; i < languages.size(); ++i)
                if (languages[i] == callersLanguage)
                    engines[size_t(i)] = &callersEngine;
        for (;;) {
            size_t next = rereadings.size();
            {
                const std::lock_guard lock(mutex);
                for (size_t i = 0; i < rereadings.size(); ++i) {
                    if (!taken[i] && !unavailable[rereadings[i].language]) {
                        next = i;
                        // Taken only with an engine in hand, so that no line is left unread.
                        taken[i] = engines[rereadings[i].language] != nullptr;
                        break;
                    }
                }
            }
            if (next == rereadings.size())
                return;
            const size_t language = rereadings[next].language;
            if (!engines[language]) {
                loans[language] = borrow(languages[qsizetype(language)], isCaller);
                if (loans[language])
                    engines[language] = &loans[language]->engine();
                else
                    unavailable[language] = true; // for the caller's thread: the language does not load
                continue;
            }
            Rereading& rereading = rereadings[next];
            rereading.lines = read(*engines[language], rereading.picture.image, resolution,
                                   tesseract::PSM_SINGLE_LINE, rereading.picture.offset);
        }
    };

    std::vector<std::thread> threads;
    for (int i = 1; i < plan.readers; ++i)
        threads.emplace_back(work, false);
    work(true);
    for (std::thread& thread : threads)
        thread.join();
}

// A picture that holds one short line alone, a label or a button's caption: nearly all its ink
// in one band of rows (a blank row or two inside a character kept in it, not the wider blank
// between two lines), over one run of
// columns without a gap wider than a blank between words, a word or a few characters wide.
// None where the picture holds anything else: more lines, a value far to the right of its label,
// ink spread over the picture.
constexpr double kInkOfLabel = 0.9; // of the picture's
// A label of four Chinese characters is four heights of its ink wide, an English word of ten
// letters about five; a longer line has context enough to be read with the page.
constexpr double kWidestLabel = 6;        // in heights of its ink
constexpr double kWidestGapInLabel = 1.5; // in heights of its ink

// A rule's ink reaches across at least this much of the label's width.
constexpr double kRuleAcrossLabel = 0.8;

// A label in a button's frame stands at most this high in it: the button's padding above and
// below. The letters of a word cut off around its middle ones (ettin of Settings) stand higher.
constexpr double kLabelInFrame = 0.6;

// The box of the picture's ink; empty where it has none.
QRect inkBoxOf(const QImage& grey)
{
    QRect box;
    for (int y = 0; y < grey.height(); ++y) {
        const uchar* row = grey.constScanLine(y);
        int left = 0;
        while (left < grey.width() && row[left] >= 128)
            ++left;
        if (left == grey.width())
            continue;
        int right = grey.width() - 1;
        while (row[right] >= 128)
            --right;
        box |= QRect(left, y, right - left + 1, 1);
    }
    return box;
}

// The ink inside a frame drawn around `ink` (the box of a picture's ink), where there is one: thin
// pieces of ink touching the box's edges on at least three of its sides, a button's outline
// whole or what is left of it where its colour fades into the background's (its corners), with
// white between it and the label on every side. A letter at the start or end of a word can look
// like a piece of one (I, l): whether the label is read inside the frame or whole, the engine's
// confidence decides all the same, with a head start for the inside of a frame that `closed`
// tells is one.
std::optional<QRect> insideFrame(const QImage& grey, const QRect& ink, bool* closed = nullptr)
{
    QRect inside;
    bool sides[4] = {false, false, false, false};
    int flatAbove = 0, flatBelow = 0; // lines along the box's top and bottom, a frame's, not letters'
    bool upright = false;
    for (const InkPiece& piece : inkPieces(grey, ink)) {
        const QRect& p = piece.box;
        const bool touches[4] = {p.top() <= ink.top() + 1, p.bottom() >= ink.bottom() - 1, p.left() <= ink.left() + 1,
                                 p.right() >= ink.right() - 1};
        // A frame's lines, a few pixels thick: a closed frame has two of each side's, a side or a
        // corner that is a piece of its own hardly more than its length's. A character touching
        // the edges of a panel's ink (a heading above a row, a value at the right) has more.
        const int thickness = std::clamp(ink.height() / 10, 2, 4);
        const bool closed = std::all_of(std::begin(touches), std::end(touches), [](bool t) { return t; });
        // A rounded corner of a frame whose colour fades breaks into specks a few pixels wide
        // beside the frame's sides, not touching the box: what is left of the frame, not the label.
        const int reach = std::max(3, ink.height() / 8);
        const bool nearEdge = p.top() <= ink.top() + reach || p.bottom() >= ink.bottom() - reach ||
                              p.left() <= ink.left() + reach || p.right() >= ink.right() - reach;
        if (std::none_of(std::begin(touches), std::end(touches), [](bool t) { return t; }) && nearEdge &&
            std::max(p.width(), p.height()) <= 3 * thickness)
            continue;
        const bool thin = piece.pixels <= (closed ? 2 * (p.width() + p.height()) * thickness
                                                  : 8 * std::max(p.width(), p.height()) * thickness / 5);
        if (!thin || std::none_of(std::begin(touches), std::end(touches), [](bool t) { return t; })) {
            inside |= p;
            continue;
        }
        for (int side = 0; side < 4; ++side)
            sides[side] = sides[side] || touches[side];
        if (p.height() <= 2 * thickness) {
            flatAbove += touches[0] ? p.width() : 0;
            flatBelow += touches[1] ? p.width() : 0;
        }
        // A side standing clear of the top and bottom (its corners faded), unlike a letter as
        // tall as the word (l, I), and half as tall as the box at least.
        upright = upright || ((touches[2] || touches[3]) && !touches[0] && !touches[1] && p.width() <= 2 * thickness &&
                              2 * p.height() >= ink.height());
    }
    if (inside.isEmpty() || std::count(std::begin(sides), std::end(sides), true) < 3 ||
        !ink.adjusted(2, 2, -2, -2).contains(inside) || inside.height() > kLabelInFrame * ink.height())
        return std::nullopt;
    // Closed: on all four sides, and along the top or the bottom a third of the way across at
    // least in flat lines, or with an upright side of its own (the letters of a word touch the
    // box's edges too: M and l of Mail).
    if (closed)
        *closed = std::all_of(std::begin(sides), std::end(sides), [](bool side) { return side; }) &&
                  (3 * std::max(flatAbove, flatBelow) >= ink.width() || upright);
    return inside;
}

std::optional<QRect> loneLabelInk(const QImage& grey, QRect area = {})
{
    area = area.isNull() ? grey.rect() : area.intersected(grey.rect());
    if (area.isEmpty())
        return std::nullopt;
    std::vector<int> inkInRow(size_t(area.height()), 0);
    long long total = 0;
    for (int y = 0; y < area.height(); ++y) {
        const uchar* row = grey.constScanLine(area.top() + y) + area.left();
        inkInRow[size_t(y)] = int(std::count_if(row, row + area.width(), [](uchar value) { return value < 128; }));
        total += inkInRow[size_t(y)];
    }
    struct Band
    {
        int top = 0;
        int bottom = 0;
        long long ink = 0;
    };
    std::vector<Band> bands;
    for (int y = 0; y < area.height(); ++y) {
        if (inkInRow[size_t(y)] == 0)
            continue;
        if (!bands.empty() &&
            y - bands.back().bottom - 1 <= std::max(2, (bands.back().bottom - bands.back().top + 1) / 4))
            bands.back().bottom = y;
        else
            bands.push_back({y, y, 0});
        bands.back().ink += inkInRow[size_t(y)];
    }
    if (bands.empty())
        return std::nullopt;
    const Band band =
        *std::max_element(bands.begin(), bands.end(), [](const Band& a, const Band& b) { return a.ink < b.ink; });
    const int height = band.bottom - band.top + 1;
    if (height < kSmallestInk)
        return std::nullopt;
    int first = -1, last = -1, widestGap = 0;
    for (int x = 0; x < area.width(); ++x) {
        bool ink = false;
        for (int y = band.top; y <= band.bottom && !ink; ++y)
            ink = grey.constScanLine(area.top() + y)[area.left() + x] < 128;
        if (!ink)
            continue;
        if (last >= 0)
            widestGap = std::max(widestGap, x - last - 1);
        if (first < 0)
            first = x;
        last = x;
    }
    if (first < 0 || last - first + 1 > kWidestLabel * height || widestGap > kWidestGapInLabel * height)
        return std::nullopt;
    // A rule above or below the label, a band of a row or two of ink reaching across it (the lit
    // upper edge of a button whose other edges faded into the page, an underline), is no more
    // writing than a frame is.
    long long rules = 0;
    for (const Band& other : bands) {
        const int rows = other.bottom - other.top + 1;
        if (other.top != band.top && rows <= std::max(2, height / 8) &&
            double(other.ink) >= kRuleAcrossLabel * rows * (last - first + 1))
            rules += other.ink;
    }
    if (double(band.ink) < kInkOfLabel * double(total - rules))
        return std::nullopt;
    return QRect(area.left() + first, area.top() + band.top, last - first + 1, height);
}

// The picture without the pieces of ink that reach the edges of `page` (the caller's picture in
// it), each pixel of them whitened. Faint ink counts: a background's patches are grey as often as
// dark, and the white a label stands on keeps its strokes apart from them.
QImage withoutInkAtEdges(const QImage& grey, const QRect& page)
{
    QImage clear = grey;
    const QRect area = page.intersected(clear.rect());
    if (area.isEmpty())
        return clear;
    const auto isInk = [&](int x, int y) { return clear.constScanLine(y)[x] < kFaintInk; };
    std::vector<QPoint> stack;
    const auto whiten = [&](int x, int y) {
        if (!isInk(x, y))
            return;
        clear.scanLine(y)[x] = 255;
        stack.assign(1, QPoint(x, y));
        while (!stack.empty()) {
            const QPoint p = stack.back();
            stack.pop_back();
            for (int dy = -1; dy <= 1; ++dy)
                for (int dx = -1; dx <= 1; ++dx) {
                    const int nx = p.x() + dx, ny = p.y() + dy;
                    if (clear.rect().contains(nx, ny) && isInk(nx, ny)) {
                        clear.scanLine(ny)[nx] = 255;
                        stack.emplace_back(nx, ny);
                    }
                }
        }
    };
    for (int x = area.left(); x <= area.right(); ++x) {
        whiten(x, area.top());
        whiten(x, area.bottom());
    }
    for (int y = area.top(); y <= area.bottom(); ++y) {
        whiten(area.left(), y);
        whiten(area.right(), y);
    }
    return clear;
}

// A picture of a label holds hardly more lines than this as the page is read: a frame's sides
// can come back as lines of their own.
constexpr size_t kMostLinesOfALabel = 4;

// A button's inside, where the picture's ink is one piece across nearly all of it: a fill of the
// button's own colour, or an outline thicker than a frame's lines, that the picture's normalising
// for the page around it left dark, the label inside in a shade close to the fill's or lighter
// than black (white on blue turned grey on grey). Its sides and rounded corners, as far in as a
// sixth of its height (a quarter at the sides, past the corners), are left out; the label stands
// further in.
constexpr double kButtonAcrossInk = 0.9; // of the ink's box, each way
std::optional<QRect> insideButton(const QImage& grey, const QRect& ink)
{
    const std::vector<InkPiece> pieces = inkPieces(grey, ink);
    const auto largest = std::max_element(pieces.begin(), pieces.end(), [](const InkPiece& a, const InkPiece& b) {
        return qint64(a.box.width()) * a.box.height() < qint64(b.box.width()) * b.box.height();
    });
    if (largest == pieces.end() || largest->box.width() < kButtonAcrossInk * ink.width() ||
        largest->box.height() < kButtonAcrossInk * ink.height())
        return std::nullopt;
    const QRect& box = largest->box;
    const int inset = std::max(2, box.height() / 6), across = std::max(2, box.height() / 4);
    QRect inside = box.adjusted(across, inset, -across, -inset);
    // Where the inside is white (the piece an outline, not a fill) and ink runs on over its edge,
    // the label reaches further: a side of the button that the page's normalising turned white
    // (the lower edge of a button on a page lighter below it) holds none of the piece, and the
    // label's ink stands out to it.
    const auto inkAlong = [&](int x0, int y0, int dx, int dy, int length) {
        for (int i = 0; i < length; ++i)
            if (grey.constScanLine(y0 + i * dy)[x0 + i * dx] < 128)
                return true;
        return false;
    };
    long long inkInside = 0;
    for (int y = inside.top(); y <= inside.bottom(); ++y)
        for (int x = inside.left(); x <= inside.right(); ++x)
            inkInside += grey.constScanLine(y)[x] < 128;
    if (inside.height() >= kSmallestInk && inside.width() >= kSmallestInk &&
        2 * inkInside < qint64(inside.width()) * inside.height()) {
        const QRect within = inside;
        if (inkAlong(within.left(), within.top(), 0, 1, within.height()))
            inside.setLeft(box.left());
        if (inkAlong(within.left(), within.top(), 1, 0, within.width()))
            inside.setTop(box.top());
        if (inkAlong(within.right(), within.top(), 0, 1, within.height()))
            inside.setRight(box.right());
        if (inkAlong(within.left(), within.bottom(), 1, 0, within.width()))
            inside.setBottom(box.bottom());
    }
    if (inside.height() < kSmallestInk || inside.width() < kSmallestInk)
        return std::nullopt;
    return inside;
}

// A part of the page (in the page's pixels, `page` the caller's picture in them, `unturn` from
// the level page back to it: a button's inside, a label and the background around it) normalised
// on its own from the caller's picture, on white, in a picture `scale` times the page's: at the
// caller's resolution where the page was scaled down (a large button's frame taken for a line),
// the label's thin strokes kept.
struct PartAnew
{
    QImage picture;
    double scale = 1;
};

// The share of the part that a label's darkest pixels take at least, and how dark they are where
// the label is clear enough already.
constexpr double kDarkestOfLabel = 0.02;
constexpr int kBlackEnough = 64;

PartAnew partAnew(const QImage& image, const QSize& size, const QRect& inside, const QTransform& unturn,
                  const QRect& page)
{
    PartAnew anew;
    const QRectF level = unturn.isIdentity() ? QRectF(inside) : unturn.mapRect(QRectF(inside));
    const double across = double(image.width()) / page.width(), down = double(image.height()) / page.height();
    const QRect area = QRectF((level.left() - page.left()) * across, (level.top() - page.top()) * down,
                              level.width() * across, level.height() * down)
                           .toAlignedRect()
                           .intersected(image.rect());
    if (area.width() < 2 || area.height() < 2)
        return anew;
    anew.scale = std::max(1.0, double(area.height()) / inside.height());
    const QRect at(QPoint(qRound(inside.left() * anew.scale), qRound(inside.top() * anew.scale)),
                   QSize(qRound(inside.width() * anew.scale), qRound(inside.height() * anew.scale)));
    anew.picture =
        QImage(QSize(qRound(size.width() * anew.scale), qRound(size.height() * anew.scale)), QImage::Format_Grayscale8);
    anew.picture.fill(255);
    QImage inner = TextPicture::darkTextOnWhite(image.copy(area))
                       .scaled(at.size(), Qt::IgnoreAspectRatio, Qt::SmoothTransformation)
                       .convertToFormat(QImage::Format_Grayscale8);
    // White strokes a pixel thin on a colour never reach black: the darkest of the label is
    // taken for black, as the engine reads a label best.
    std::array<int, 256> histogram{};
    for (int y = 0; y < inner.height(); ++y)
        for (int x = 0; x < inner.width(); ++x)
            ++histogram[inner.constScanLine(y)[x]];
    const long long darkest = std::max<long long>(1, kDarkestOfLabel * inner.width() * inner.height());
    int dark = 0;
    for (long long seen = 0; dark < 255 && (seen += histogram[size_t(dark)]) < darkest;)
        ++dark;
    if (dark > kBlackEnough && dark < kFaintInk) {
        for (int y = 0; y < inner.height(); ++y) {
            uchar* row = inner.scanLine(y);
            for (int x = 0; x < inner.width(); ++x)
                row[x] = uchar(std::max(0, 255 - (255 - row[x]) * 255 / (255 - dark)));
        }
    }
    const QRect paste = at.intersected(anew.picture.rect());
    for (int y = paste.top(); y <= paste.bottom(); ++y)
        std::copy_n(inner.constScanLine(y - at.top()), paste.width(), anew.picture.scanLine(y) + paste.left());
    return anew;
}

// Whether the ink in a box is one piece across nearly all of it, a mesh (a checkerboard's
// squares touch at their corners) rather than characters: those of a word of two or more stand
// apart. A label of one character is left to the page's reading.
bool looksLikeMesh(const QImage& grey, const QRect& ink)
{
    const std::vector<InkPiece> pieces = inkPieces(grey, ink);
    return std::any_of(pieces.begin(), pieces.end(), [&](const InkPiece& piece) {
        return 5 * piece.box.width() >= 4 * ink.width() && 5 * piece.box.height() >= 4 * ink.height();
    });
}

// The heights, in pixels of ink, at which a lone label is read. The engine reads a line of two
// or three characters with no other line to go by badly at the height that suits a page
// (characters come back as letters, or nothing at all); larger, it reads them well.
constexpr int kLabelHeights[] = {24, 32, 40, 48, 64};

// A lone label read at one height by one language, in the pixels of its own picture.
struct LabelReading
{
    ReadLine line;
    QImage picture;
    double factor = 1; // of the label's picture to the page's
    QPoint origin;     // of the label's picture in the page, in the label's pixels
};

// The label's ink scaled to `height` with a white margin of half a line, as the engine finds lines.
// Ink drawn without antialiasing (a label large enough that the page was read unsoftened) is
// softened at every height: scaled up its stairs grow with it, and even scaled down or as drawn
// the models took characters of 24 to 48 px for others (夾 as 区, 交 or 顽) or found no line in
// them at all; softened, they read them as they read smooth ink.
LabelReading labelPicture(const QImage& grey, const QRect& ink, int height)
{
    const int clip = std::max(1, ink.height() / 6);
    const QRect area = ink.adjusted(-clip, -clip, clip, clip).intersected(grey.rect());
    const double factor = double(height) / ink.height();
    const QImage cut = grey.copy(area);
    QImage scaled = cut.scaled(std::max(1, qRound(area.width() * factor)), std::max(1, qRound(area.height() * factor)),
                               Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
    if (drawnWithoutAntialiasing(cut))
        scaled = softened(scaled, softeningRadius(factor));
    const int margin = height / 2;
    LabelReading reading;
    reading.picture = withMargin(scaled, margin);
    reading.factor = factor;
    reading.origin = QPoint(qRound(area.left() * factor) - margin, qRound(area.top() * factor) - margin);
    const QPoint inkAt =
        QPoint(qRound((ink.left() - area.left()) * factor), qRound((ink.top() - area.top()) * factor)) +
        QPoint(margin, margin);
    reading.line.box = QRect(inkAt, QSize(qRound(ink.width() * factor), height));
    return reading;
}

// Whether a label's reading accounts for its ink: characters at most about as wide as high
// (fewer made letters of something else), and reaching from near the ink's left to its right.
bool readsAllOfLabel(const ReadLine& line)
{
    size_t characters = 0;
    int left = std::numeric_limits<int>::max(), right = std::numeric_limits<int>::min();
    for (const ReadWord& word : line.words)
        for (const Symbol& symbol : word.symbols) {
            ++characters;
            left = std::min(left, symbol.left);
            right = std::max(right, symbol.right);
        }
    if (characters == 0)
        return false;
    const double width = line.box.width();
    return width <= kWidestCharacter * double(characters) * line.box.height() &&
           double(std::min(right, line.box.right() + 1) - std::max(left, line.box.left())) >= 0.6 * width;
}

// The line with every box of it carried over to other pixels, `x` and `y` mapping each coordinate.
template <typename MapX, typename MapY>
ReadLine carriedOver(ReadLine line, MapX x, MapY y)
{
    const auto rect = [&](const QRect& r) {
        return QRect(QPoint(x(r.left()), y(r.top())), QPoint(x(r.right()), y(r.bottom())));
    };
    line.box = rect(line.box);
    for (ReadWord& word : line.words) {
        word.box = rect(word.box);
        for (Symbol& symbol : word.symbols) {
            symbol.left = x(symbol.left);
            symbol.right = x(symbol.right);
            symbol.top = y(symbol.top);
            symbol.bottom = y(symbol.bottom);
        }
    }
    return line;
}

// The reading of a label back in the page's pixels.
ReadLine inPage(ReadLine line, const LabelReading& reading)
{
    return carriedOver(
        std::move(line), [&](int v) { return qRound((v + reading.origin.x()) / reading.factor); },
        [&](int v) { return qRound((v + reading.origin.y()) / reading.factor); });
}

// Where a lone label's ink stands, and the picture it is read in (the page's, or the label's
// surroundings normalised anew).
struct LabelInk
{
    const QImage* picture = nullptr;
    QRect ink;
    double scale = 1; // of the picture to the page's
    bool inFrame = false;
    bool whereThePageIs = false; // the picture stands where the page's does, pixel for pixel
};

// The sides of a frame around a label read as characters of the label (| or [ at its ends), which
// the engine trusts as much as the label's own: the label read inside the frame is preferred
// unless the engine trusts the whole picture's reading by this much more.
constexpr float kTrustInsideFrame = 10;

// Characters a frame's side is read as.
bool likeAFrameSide(const QString& text)
{
    static const QString sides = QStringLiteral("|[]()Il1!丨｜（）【】「」");
    return text.size() == 1 && sides.contains(text.front());
}

// A reading of a framed label without the characters at its ends that stand over the frame's
// sides, outside what the frame holds.
void withoutFrameSides(ReadLine& line, const QRect& inside)
{
    const auto outside = [&](const Symbol& symbol) {
        const int middle = (symbol.left + symbol.right) / 2;
        return likeAFrameSide(symbol.text) && (middle < inside.left() || middle > inside.right());
    };
    while (!line.words.empty() && !line.words.front().symbols.empty() && outside(line.words.front().symbols.front())) {
        line.words.front().symbols.erase(line.words.front().symbols.begin());
        if (line.words.front().symbols.empty())
            line.words.erase(line.words.begin());
    }
    while (!line.words.empty() && !line.words.back().symbols.empty() && outside(line.words.back().symbols.back())) {
        line.words.back().symbols.pop_back();
        if (line.words.back().symbols.empty())
            line.words.pop_back();
    }
    for (ReadWord& word : line.words) {
        word.box.setLeft(std::max(word.box.left(), word.symbols.front().left));
        word.box.setRight(std::min(word.box.right(), word.symbols.back().right));
    }
}

// A speck of a photograph's grain or of dust beside a label, which the engine reads as a full stop
// or a comma after it: its ink stands apart from the label's by more than a character's own gaps,
// and is no wider than a dot; or the label's readings at the other heights, most of them, end
// without it. A mark the label is drawn with (a colon, an ellipsis) stands close to its
// characters and is read at every height.
constexpr double kStrayMarkGap = 0.35;  // of the label's height, at least
constexpr double kStrayMarkWidth = 0.2; // of the label's height, at most
void withoutStrayMark(ReadLine& line, const QImage& picture, const std::vector<const ReadLine*>& others)
{
    const auto last = [](const ReadLine& reading) -> const Symbol* {
        for (auto word = reading.words.rbegin(); word != reading.words.rend(); ++word)
            if (!word->symbols.empty())
                return &word->symbols.back();
        return nullptr;
    };
    const auto mark = [](const Symbol* symbol) {
        return symbol && symbol->text.size() == 1 && symbol->text.front().isPunct();
    };
    const Symbol* end = last(line);
    size_t characters = 0;
    for (const ReadWord& word : line.words)
        characters += word.symbols.size();
    if (!mark(end) || characters < 2)
        return;
    // The columns of the label's ink: the last run of them, and the gap before it. A lone pixel
    // of grain in a column is none.
    constexpr int kLeastInkOfMark = 2;
    const QRect box = line.box.intersected(picture.rect());
    const int height = std::max(1, box.height());
    int runStart = -1, runEnd = -1, gap = 0, previousEnd = -1;
    for (int x = box.left(); x <= box.right(); ++x) {
        int dark = 0;
        for (int y = box.top(); y <= box.bottom(); ++y)
            dark += picture.constScanLine(y)[x] < 128;
        if (dark < kLeastInkOfMark)
            continue;
        if (x != runEnd + 1 || runStart < 0) {
            if (runStart >= 0) {
                previousEnd = runEnd;
                gap = x - runEnd - 1;
            }
            runStart = x;
        }
        runEnd = x;
    }
    const bool apart =
        previousEnd >= 0 && gap >= kStrayMarkGap * height && runEnd - runStart + 1 <= kStrayMarkWidth * height;
    const auto withMark =
        std::count_if(others.begin(), others.end(), [&](const ReadLine* other) { return mark(last(*other)); });
    const bool unread = 2 * size_t(withMark) < others.size();
    if (!apart && !unread)
        return;
    ReadWord& word =
        *std::find_if(line.words.rbegin(), line.words.rend(), [](const ReadWord& w) { return !w.symbols.empty(); });
    word.symbols.pop_back();
    if (word.symbols.empty())
        std::erase_if(line.words, [](const ReadWord& w) { return w.symbols.empty(); });
    else
        word.box.setRight(std::min(word.box.right(), word.symbols.back().right));
}

// The texts of a reading's characters, in order.
QStringList characterTexts(const ReadLine& line)
{
    QStringList texts;
    for (const ReadWord& word : line.words)
        for (const Symbol& symbol : word.symbols)
            texts.append(symbol.text);
    return texts;
}

// Whether each character of the reading `best` is read the same, in the same place, at another
// height of the same ink: what the label's ink says, not what the engine made of a photograph's
// grain at one height.
bool heightsAgree(const std::vector<LabelReading>& readings, const std::vector<size_t>& ofInk, size_t best)
{
    const QStringList chosen = characterTexts(readings[best].line);
    if (chosen.isEmpty())
        return false;
    std::vector<bool> seen(size_t(chosen.size()), false);
    for (size_t k = 0; k < readings.size(); ++k) {
        if (k == best || ofInk[k] != ofInk[best])
            continue;
        const QStringList other = characterTexts(readings[k].line);
        if (other.size() != chosen.size())
            continue;
        for (qsizetype i = 0; i < chosen.size(); ++i)
            seen[size_t(i)] = seen[size_t(i)] || other[i] == chosen[i];
    }
    return std::all_of(seen.begin(), seen.end(), [](bool s) { return s; });
}

// A character of a label the heights each read as another (a stroke the engine guesses at anew at
// every height) is a guess; where the page read the same ink, at its own height, as a Chinese
// character it trusts clearly more, the page's reading of it stands.
// A character read alike at two heights is the label's ink speaking, and stays; so does one the
// page read no surer, or as a mark or letter (a button's edge read as | beside the label). The
// engine's trust varies by a few points from height to height alone: the page's must stand
// clearly above.
constexpr float kSurerPageCharacter = 10;
void withPageReadingOfGuesses(ReadLine& chosen, const std::vector<const ReadLine*>& otherHeights, const ReadLine& page)
{
    const std::vector<Symbol*> symbols = symbolsOf(chosen);
    const auto inOrder = [](const ReadLine& line) {
        std::vector<const Symbol*> symbols;
        for (const ReadWord& word : line.words)
            for (const Symbol& symbol : word.symbols)
                symbols.push_back(&symbol);
        return symbols;
    };
    const std::vector<const Symbol*> onPage = inOrder(page);
    if (onPage.size() != symbols.size())
        return;
    std::vector<std::vector<const Symbol*>> alike;
    for (const ReadLine* other : otherHeights)
        if (std::vector<const Symbol*> theirs = inOrder(*other); theirs.size() == symbols.size())
            alike.push_back(std::move(theirs));
    for (size_t i = 0; i < symbols.size(); ++i) {
        Symbol& mine = *symbols[i];
        const Symbol& theirs = *onPage[i];
        if (theirs.text == mine.text || !HanGlyphs::isHanCharacter(theirs.text) ||
            !HanGlyphs::isHanCharacter(mine.text) || theirs.confidence < mine.confidence + kSurerPageCharacter)
            continue;
        const bool borneOut = std::any_of(alike.begin(), alike.end(), [&](const std::vector<const Symbol*>& other) {
            return other[i]->text == mine.text;
        });
        if (borneOut)
            continue;
        mine.text = theirs.text;
        mine.confidence = theirs.confidence;
    }
}

// What one reading of a lone label says of each of its characters: the character in its
// simplified form (so that the two models' readings of one character agree, 鐘 and 钟), how much
// the engine trusted it, and how much it trusted the reading as a whole.
// Who read it: the model of the page's language at a label height, the other Chinese model at
// one, or the page at its own height.
struct LabelVote
{
    enum class Reader
    {
        pageLanguage,
        otherChinese,
        page,
    };
    QStringList characters;
    std::vector<float> confidences;
    float trust = 0;
    Reader reader = Reader::pageLanguage;
};

LabelVote labelVote(const ReadLine& line, LabelVote::Reader reader)
{
    LabelVote vote;
    vote.reader = reader;
    QStringList texts;
    for (const ReadWord& word : line.words)
        for (const Symbol& symbol : word.symbols) {
            texts.append(symbol.text);
            vote.confidences.push_back(symbol.confidence);
        }
    vote.characters = ChineseScript::toSimplified(texts);
    vote.trust = meanConfidence(line);
    return vote;
}

// A Chinese character of a lone label that only the reading kept says (the engine guessed at a
// stroke it hardly sees, at that height and by that model alone) gives way to the character the
// label's readings of as many characters, both models' at every height and the page's, say in
// its place with the most weight. What a reading says in a place weighs what the engine trusts
// that character and the reading as a whole, and counts double where the reading reads the rest
// of the label as most readings do: a model that misreads a character the other reads alike at
// every height is guessing at the label's ink, there and likely beside it. One model's readings
// at several heights misread alike (链 as 途 at three heights): what a model says counts once,
// at its weightiest, and two models saying one character weigh more than either. The reading
// kept, trusted most, keeps its character unless the others are trusted more.
// A character read alike by two readings or more is the label's ink speaking, and stays; so does
// one the two models' readings were compared on and that looks clearly more like the picture
// (`settled`: its place in either reading, and the character). The character taken is written
// in the script decided for the label (`traditional`).
void withCharactersTheReadingsAgreeOn(ReadLine& chosen, const std::vector<LabelVote>& votes,
                                      const std::vector<std::pair<size_t, QString>>& settled, bool traditional)
{
    std::vector<Symbol*> symbols = symbolsOf(chosen);
    const size_t n = symbols.size();
    if (n < 2)
        return;
    QStringList mine;
    for (const Symbol* symbol : symbols)
        mine.append(symbol->text);
    mine = ChineseScript::toSimplified(mine);
    std::vector<const LabelVote*> alike; // the readings of as many characters
    for (const LabelVote& vote : votes)
        if (size_t(vote.characters.size()) == n)
            alike.push_back(&vote);
    if (alike.size() < 3)
        return;
    const auto mostSaid = [&](size_t i, const std::vector<double>& weights) {
        std::vector<std::pair<QString, double>> said;
        std::vector<std::tuple<QString, LabelVote::Reader, double>> byReader;
        for (size_t r = 0; r < alike.size(); ++r) {
            const QString& character = alike[r]->characters[qsizetype(i)];
            const double weight = weights[r] * double(alike[r]->confidences[i]) / 100;
            auto it = std::find_if(byReader.begin(), byReader.end(), [&](const auto& s) {
                return std::get<0>(s) == character && std::get<1>(s) == alike[r]->reader;
            });
            if (it == byReader.end())
                byReader.emplace_back(character, alike[r]->reader, weight);
            else
                std::get<2>(*it) = std::max(std::get<2>(*it), weight);
        }
        for (const auto& [character, reader, weight] : byReader) {
            auto it = std::find_if(said.begin(), said.end(), [&](const auto& s) { return s.first == character; });
            if (it == said.end())
                it = said.insert(said.end(), {character, 0.0});
            it->second += weight;
        }
        return *std::max_element(said.begin(), said.end(),
                                 [](const auto& a, const auto& b) { return a.second < b.second; });
    };
    // What the readings say in each place, whatever the engine's trust in each reading.
    std::vector<QString> agreed(n);
    for (size_t i = 0; i < n; ++i)
        agreed[i] = mostSaid(i, std::vector<double>(alike.size(), 1.0)).first;
    for (size_t i = 0; i < n; ++i) {
        const auto bearers = std::count_if(alike.begin(), alike.end(), [&](const LabelVote* vote) {
            return vote->characters[qsizetype(i)] == mine[qsizetype(i)];
        });
        const bool looksLikeIt = std::any_of(settled.begin(), settled.end(), [&](const auto& s) {
            return s.first == i && ChineseScript::toSimplified({s.second}).front() == mine[qsizetype(i)];
        });
        if (bearers >= 2 || looksLikeIt || !HanGlyphs::isHanCharacter(mine[qsizetype(i)]))
            continue;
        std::vector<double> weights(alike.size());
        for (size_t r = 0; r < alike.size(); ++r) {
            bool restAgrees = true;
            for (size_t j = 0; j < n; ++j)
                restAgrees = restAgrees && (j == i || alike[r]->characters[qsizetype(j)] == agreed[j]);
            weights[r] = (restAgrees ? 2 : 1) * double(alike[r]->trust) / 100;
        }
        const auto [character, weight] = mostSaid(i, weights);
        if (character == mine[qsizetype(i)] || !HanGlyphs::isHanCharacter(character) || weight <= 0)
            continue;
        symbols[i]->text = character;
    }
    keepScript(chosen, traditional);
}

// A reading of a label, in the pixels of another reading's picture of the same ink.
ReadLine inPictureOf(ReadLine line, const LabelReading& from, const LabelReading& to)
{
    const double scale = to.factor / from.factor;
    ReadLine carried = carriedOver(
        std::move(line), [&](int v) { return qRound((v + from.origin.x()) * scale) - to.origin.x(); },
        [&](int v) { return qRound((v + from.origin.y()) * scale) - to.origin.y(); });
    carried.box = to.line.box;
    return carried;
}

bool allHan(const ReadLine& line)
{
    const QStringList texts = characterTexts(line);
    return !texts.isEmpty() &&
           std::all_of(texts.begin(), texts.end(), [](const QString& t) { return HanGlyphs::isHanCharacter(t); });
}

// How many of a label's readings all of Chinese characters count each number of them.
std::map<qsizetype, size_t> readingsByCount(const std::vector<std::pair<ReadLine, const LabelReading*>>& ofInk)
{
    std::map<qsizetype, size_t> readings;
    for (const auto& [line, picture] : ofInk)
        if (allHan(line))
            ++readings[characterTexts(line).size()];
    return readings;
}

// A label of Chinese characters the reading kept counts more or fewer characters of than most of
// its readings do (both models' at every height), and than its ink holds: the engine split a
// character it hardly sees into two (闹 read as 开人), or ran two into one, and trusted that
// reading most all the same. Characters of one face stand a square apart, so the ink of n of them
// is about n times as wide as high; where that and most readings say n, the label's characters
// are those of its reading of n characters the engine trusts most (the readings' vote then mends
// them character for character). The engine's trust in the label, that its ink is writing at
// all, stays that of the reading kept. `ofInk` are the label's readings, each with the picture
// it read.
void withCharacterCountOfInk(LabelReading& chosen, const std::vector<std::pair<ReadLine, const LabelReading*>>& ofInk,
                             const QRect& ink, bool traditional)
{
    if (!allHan(chosen.line) || ink.height() <= 0)
        return;
    const qsizetype kept = characterTexts(chosen.line).size();
    std::map<qsizetype, size_t> readingsOfCount = readingsByCount(ofInk);
    const auto most = std::max_element(readingsOfCount.begin(), readingsOfCount.end(),
                                       [](const auto& a, const auto& b) { return a.second < b.second; });
    if (most == readingsOfCount.end() || most->first == kept || most->first < 2)
        return;
    const qsizetype count = most->first;
    if (most->second <= readingsOfCount[kept] ||
        std::any_of(readingsOfCount.begin(), readingsOfCount.end(),
                    [&](const auto& c) { return c.first != count && c.second == most->second; }))
        return;
    const double squares = double(ink.width()) / ink.height();
    if (std::abs(squares - double(count)) >= std::abs(squares - double(kept)))
        return;
    const std::pair<ReadLine, const LabelReading*>* surest = nullptr;
    for (const auto& reading : ofInk)
        if (allHan(reading.first) && characterTexts(reading.first).size() == count &&
            (!surest || meanConfidence(reading.first) > meanConfidence(surest->first)))
            surest = &reading;
    if (!surest)
        return;
    const float trust = meanConfidence(chosen.line);
    ReadLine line = inPictureOf(surest->first, *surest->second, chosen);
    for (ReadWord& word : line.words)
        word.confidence = trust;
    line.byOtherChinese = chosen.line.byOtherChinese;
    line.foundConfidence = chosen.line.foundConfidence;
    chosen.line = std::move(line);
    keepScript(chosen.line, traditional);
}

// A small label in a face the engine reads badly (a brush face at 12 px, jagged or scaled down)
// is read as other characters at every height and by both models, and trusted at 0 to 30 by
// each, while its ink is plainly a row of characters: what its readings agree on is how many
// characters it holds. Nearly all of them, of both Chinese models at every height, count the same
// n of two or more, and its ink, characters of one face standing a square apart, is about n
// squares wide: a label, answered as well as it is read. A texture or a shape the engine takes
// for characters is read whole at a few heights only, as one character or a mark at one and as
// three at another, and its width bears out no count.
constexpr size_t kLeastReadingsThatCount = 7; // of the ten a label's ink is read in
constexpr double kShareOfReadingsThatCount = 0.75;
constexpr double kCountOffInk = 0.5; // squares, at most
// The count, or 0 where the readings and the ink bear out none.
qsizetype countOfReadingsAndInk(const std::vector<std::pair<ReadLine, const LabelReading*>>& ofInk, const QRect& ink)
{
    if (ink.height() <= 0)
        return 0;
    const std::map<qsizetype, size_t> readingsOfCount = readingsByCount(ofInk);
    const auto most = std::max_element(readingsOfCount.begin(), readingsOfCount.end(),
                                       [](const auto& a, const auto& b) { return a.second < b.second; });
    if (most == readingsOfCount.end() || most->first < 2 || most->second < kLeastReadingsThatCount ||
        double(most->second) < kShareOfReadingsThatCount * double(ofInk.size()) ||
        std::abs(double(ink.width()) / ink.height() - double(most->first)) > kCountOffInk)
        return 0;
    return most->first;
}

// A lone label read at each of the heights by the page's language, the reading the engine trusts
// most of those that account for the label's ink kept; then, at that height, read by the other
// language of its kind (the other Chinese one, or English for a word of letters), which decides
// the script of a Chinese label from its characters' ink and glyphs, as for any line, or stands
// for a word of letters where the engine trusts it more. `borrow` lends an engine of a language.
// `agreed`, where given, tells whether the readings at the other heights bear the one kept out
// (`heightsAgree`), which the engine trusted at `kLeastAgreedLabelConfidence` at least as read
// by the page's language, or count the characters of a Chinese label alike with its ink
// (`countOfReadingsAndInk`). `pageReading`, where given, is the line the page read of the picture
// (`withPageReadingOfGuesses`).
template <typename Borrow>
std::optional<ReadLine> readLoneLabel(tesseract::TessBaseAPI& api, const QStringList& languages, Borrow borrow,
                                      const std::vector<LabelInk>& inks, int resolution, bool* agreed = nullptr,
                                      const ReadLine* pageReading = nullptr)
{
    const auto isChinese = [](const QString& language) { return language.startsWith(QLatin1String("chi_")); };
    const QString& firstLanguage = languages.front();
    std::vector<LabelReading> readings; // those that account for the label's ink
    std::vector<size_t> ofInk;
    size_t best = 0;
    const auto trust = [&](const LabelReading& reading, size_t ink) {
        return meanConfidence(reading.line) + (inks[ink].inFrame ? kTrustInsideFrame : 0);
    };
    for (size_t k = 0; k < inks.size(); ++k) {
        for (const int height : kLabelHeights) {
            LabelReading reading = labelPicture(*inks[k].picture, inks[k].ink, height);
            reading.factor *= inks[k].scale;
            std::optional<ReadLine> line =
                asOneLine(read(api, reading.picture, resolution, tesseract::PSM_SINGLE_LINE), reading.line.box);
            // The engine can find no line in a label it reads as a word.
            if (!line)
                line = asOneLine(read(api, reading.picture, resolution, tesseract::PSM_SINGLE_WORD), reading.line.box);
            if (!line || !readsAllOfLabel(*line))
                continue;
            reading.line = std::move(*line);
            if (readings.empty() || trust(reading, k) > trust(readings[best], ofInk[best]))
                best = readings.size();
            readings.push_back(std::move(reading));
            ofInk.push_back(k);
        }
    }
    if (readings.empty())
        return std::nullopt;
    LabelReading& chosen = readings[best];
    std::vector<LabelVote> votes; // of the readings of the label's ink as read, by either model
    for (size_t k = 0; k < readings.size(); ++k)
        if (ofInk[k] == ofInk[best])
            votes.push_back(labelVote(readings[k].line, LabelVote::Reader::pageLanguage));
    if (agreed)
        *agreed = meanConfidence(chosen.line) >= kLeastAgreedLabelConfidence && heightsAgree(readings, ofInk, best);
    {
        const LabelInk& ink = inks[ofInk[best]];
        if (pageReading && ink.whereThePageIs && pageReading->box.intersects(ink.ink)) {
            std::vector<const ReadLine*> otherHeights;
            for (size_t k = 0; k < readings.size(); ++k)
                if (k != best && ofInk[k] == ofInk[best])
                    otherHeights.push_back(&readings[k].line);
            withPageReadingOfGuesses(chosen.line, otherHeights, *pageReading);
            votes.push_back(labelVote(*pageReading, LabelVote::Reader::page));
        }
    }
    const bool han = hasHan(chosen.line);
    for (const QString& language : languages.mid(1)) {
        if (isChinese(language) != han || (han && !isChinese(firstLanguage)))
            continue;
        const auto loan = borrow(language);
        if (!loan)
            continue;
        const auto readByOther = [&](const LabelReading& reading) {
            std::vector<ReadLine> others;
            std::optional<ReadLine> other = asOneLine(
                read(loan->engine(), reading.picture, resolution, tesseract::PSM_SINGLE_LINE), reading.line.box);
            if (!other)
                other = asOneLine(read(loan->engine(), reading.picture, resolution, tesseract::PSM_SINGLE_WORD),
                                  reading.line.box);
            if (other)
                others.push_back(std::move(*other));
            return others;
        };
        if (!han) {
            std::vector<ReadLine> others = readByOther(chosen);
            if (!others.empty() && !readsAllOfLabel(others.front()))
                others.clear();
            chooseLatinReading(chosen.line, others);
            break;
        }
        // What a label of two or three characters says of its script at one height is thin, and
        // varies with the height: the readings of the same ink at every height weigh together.
        // The models' confidences, alike at every height, would add up to outweigh the glyphs.
        HanComparison comparison;
        double traditional = 0;
        std::vector<std::pair<ReadLine, const LabelReading*>> countable; // every reading of the label's ink
        for (size_t k = 0; k < readings.size(); ++k)
            if (ofInk[k] == ofInk[best])
                countable.emplace_back(readings[k].line, &readings[k]);
        for (size_t k = 0; k < readings.size(); ++k) {
            if (ofInk[k] != ofInk[best] || !hasHan(readings[k].line))
                continue;
            std::vector<ReadLine> others = readByOther(readings[k]);
            if (!others.empty() && readsAllOfLabel(others.front())) {
                votes.push_back(labelVote(others.front(), LabelVote::Reader::otherChinese));
                countable.emplace_back(others.front(), &readings[k]);
            }
            HanComparison atHeight =
                compareHanReadings(readings[k].line, others, readings[k].picture, firstLanguage, language);
            traditional += atHeight.traditional - (1 - kConfidenceShareInALoneLabel) * atHeight.fromConfidence;
            if (k == best)
                comparison = std::move(atHeight);
        }
        // The characters the glyph comparison at the kept height chose, before the script's
        // decision rewrites the line.
        std::vector<std::pair<size_t, QString>> settled;
        {
            const std::vector<Symbol*> first = symbolsOf(chosen.line);
            const std::vector<Symbol*> second = symbolsOf(comparison.other);
            for (const auto& [i, j, verdict] : comparison.verdicts) {
                const QString& looksLike = verdict > 0 ? second[j]->text : first[i]->text;
                settled.emplace_back(i, looksLike);
                settled.emplace_back(j, looksLike);
            }
        }
        chooseHanReading(chosen.line, comparison, traditional > 0);
        withCharacterCountOfInk(chosen, countable, inks[ofInk[best]].ink, traditional > 0);
        withCharactersTheReadingsAgreeOn(chosen.line, votes, settled, traditional > 0);
        // The label's answer is then the reading kept, as many characters as the others count.
        if (agreed && !*agreed && allHan(chosen.line))
            *agreed = characterTexts(chosen.line).size() == countOfReadingsAndInk(countable, inks[ofInk[best]].ink);
        break;
    }
    // Last, as the other language's reading, which can stand for the label's, reads the speck too.
    std::vector<const ReadLine*> others;
    for (size_t k = 0; k < readings.size(); ++k)
        if (k != best && ofInk[k] == ofInk[best])
            others.push_back(&readings[k].line);
    withoutStrayMark(chosen.line, chosen.picture, others);
    return inPage(std::move(chosen.line), chosen);
}

} // namespace

// Whether a picture repeats itself along two directions, as a texture does (a lattice, a
// hatching, a checkerboard, dots, bricks): nearly all its ink lies again one shift away, and
// again a shift away in another direction. Writing does not: the ink of a character lies again
// beside it only where its neighbour shares strokes, and a frame or a rule around a label
// repeats along one direction only. Scaled to the engine's reading height, such a picture can
// become a grey blot the engine reads a character or two in. Shifted less than twice its
// strokes' width, writing's ink lies again in its own strokes.
constexpr int kLeastRepeatShift = 3;
constexpr int kMostRepeatShift = 32;  // pixels of the picture as drawn
constexpr double kRepeatedInk = 0.9;
constexpr size_t kRepeatSamples = 1500;

bool repeatsItself(const QImage& grey)
{
    std::vector<QPoint> ink;
    for (int y = 0; y < grey.height(); ++y) {
        const uchar* row = grey.constScanLine(y);
        for (int x = 0; x < grey.width(); ++x)
            if (row[x] < 128)
                ink.emplace_back(x, y);
    }
    if (ink.size() < 4 * kRepeatSamples / 100)
        return false;
    const size_t stride = std::max<size_t>(1, ink.size() / kRepeatSamples);
    std::vector<QPoint> samples;
    for (size_t i = 0; i < ink.size(); i += stride)
        samples.push_back(ink[i]);
    const int least = std::max(kLeastRepeatShift, 2 * strokeWidth(grey, grey.rect()) + 1);
    std::vector<QPoint> repeats;
    for (int dy = 0; dy <= kMostRepeatShift; ++dy) {
        for (int dx = -kMostRepeatShift; dx <= kMostRepeatShift; ++dx) {
            if ((dy == 0 && dx < least) || dx * dx + dy * dy < least * least)
                continue;
            size_t considered = 0, again = 0;
            for (const QPoint& p : samples) {
                const int x = p.x() + dx, y = p.y() + dy;
                if (x < 0 || y < 0 || x >= grey.width() || y >= grey.height())
                    continue;
                ++considered;
                again += grey.constScanLine(y)[x] < 128 ? 1 : 0;
            }
            if (2 * considered < samples.size() || double(again) < kRepeatedInk * double(considered))
                continue;
            for (const QPoint& other : repeats)
                if (other.x() * dy - other.y() * dx != 0)
                    return true;
            repeats.emplace_back(dx, dy);
        }
    }
    return false;
}

TextRecognizer::Result TesseractTextRecognizer::recognize(const QImage& image) const
{
    Result result;
    if (image.isNull() || image.width() <= 0 || image.height() <= 0) {
        result.failure = Failure::emptyImage;
        return result;
    }

    const QStringList missing = missingLanguageFiles();
    if (!missing.isEmpty()) {
        result.failure = Failure::languageDataMissing;
        result.missingFiles = missing;
        result.dataFolder = QDir::toNativeSeparators(m_dataFolder);
        return result;
    }
    const QStringList languages = m_languages.split(QLatin1Char('+'), Qt::SkipEmptyParts);
    if (languages.isEmpty()) {
        result.failure = Failure::languagesNotLoaded;
        result.languages = m_languages;
        result.dataFolder = QDir::toNativeSeparators(m_dataFolder);
        return result;
    }

    // The page is read by the first language alone: a Chinese model reads Latin letters too,
    // while Chinese and English models together let the English one read Chinese characters as
    // letters. The other languages read again the lines that are theirs.
    const QString& firstLanguage = languages.front();
    const std::unique_ptr<EngineLoan> loan = borrowEngine(firstLanguage);
    if (!loan) {
        result.failure = Failure::languagesNotLoaded;
        result.languages = m_languages;
        result.dataFolder = QDir::toNativeSeparators(m_dataFolder);
        return result;
    }
    tesseract::TessBaseAPI& api = loan->engine();

    RecognitionThreads::limitTeamsOnThisThread(RecognitionThreads::planForNow(1).teamWidth);
    QImage grey = TextPicture::darkTextOnWhite(image);
    const int margin = marginFor(grey);
    if (margin > 0)
        grey = withMargin(grey, margin);
    // Frames go before the line height is measured: an outline around lines is taken for one.
    removeFrames(grey, inkLineHeight(grey));
    // A photograph's grain goes before the layout measures lines, where there is any.
    QImage withGrain;
    if (grainy(image)) {
        withGrain = grey;
        removeGrain(grey);
    }
    const int resolution = resolutionOf(image);
    // Where the picture slants, the line height is measured again in the picture turned level:
    // the layout takes a slanting row of a label and its value far to the right for one line as
    // high as the slant, and the picture would be read at a fraction of its size. The slant
    // makes lines higher, never lower: the lower measure, where the layout found lines both ways.
    api.SetImage(grey.constBits(), grey.width(), grey.height(), 1, static_cast<int>(grey.bytesPerLine()));
    api.SetSourceResolution(resolution);
    ReadingScale scale = scaleToReadingHeight(api, grey);
    // A label alone on a photograph is read with its grain: where grain covers all but a line or
    // two, the steps that find a lone label's ink read it better among the grain than the page
    // reads what is left of it (a word of 32 px came back as nothing).
    if (!withGrain.isNull() && (!scale.layoutFoundText || kLinesOfAGrainyPage * scale.lineHeight > grey.height())) {
        grey = std::move(withGrain);
        withGrain = QImage();
        api.SetImage(grey.constBits(), grey.width(), grey.height(), 1, static_cast<int>(grey.bytesPerLine()));
        scale = scaleToReadingHeight(api, grey);
    }
    const double skew = skewOf(grey);
    if (skew != 0 && scale.layoutFoundText) {
        const QImage level = turned(grey, skew).first;
        api.SetImage(level.constBits(), level.width(), level.height(), 1, static_cast<int>(level.bytesPerLine()));
        if (const ReadingScale levelScale = scaleToReadingHeight(api, level);
            levelScale.layoutFoundText && levelScale.lineHeight < scale.lineHeight)
            scale = levelScale;
    }
    const double factor = scale.factor;
    // Text drawn without antialiasing and scaled up is read softened; its script is weighed on
    // the picture as drawn (only scaled), whose ink the glyphs of either script are compared with.
    const bool softenedForReading = factor >= kLeastSofteningScale && drawnWithoutAntialiasing(grey);
    const QImage unscaled = grey;
    if (factor != 1)
        grey = grey.scaled(std::max(1, qRound(grey.width() * factor)), std::max(1, qRound(grey.height() * factor)),
                           Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
    QImage asDrawn;
    if (softenedForReading) {
        asDrawn = grey;
        grey = softened(grey, softeningRadius(factor));
    }
    // Where the caller's picture lies in the one read.
    const int scaledMargin = qRound(margin * factor);
    const QRect page = grey.rect().adjusted(scaledMargin, scaledMargin, -scaledMargin, -scaledMargin);
    // Boxes found in a picture turned level, back where they stand in the picture before.
    QTransform unturn;
    if (skew != 0) {
        QTransform turn;
        std::tie(grey, turn) = turned(grey, skew);
        unturn = turn.inverted();
        if (!asDrawn.isNull())
            asDrawn = turned(asDrawn, skew).first;
    }
    // Anew, so that each block of the page is laid out as one; a page of one block is read whole,
    // and so is one whose lines the layout did not measure at a height it reads (a large label
    // it found only bits of lines in): the gaps between its columns would be guesses.
    const int lineHeight = qRound(scale.lineHeight * factor);
    const std::vector<QRect> blocks =
        scale.lineHeight >= kSmallestInk && lineHeight >= kSmallestLine && lineHeight <= kLargestLine
            ? PageBlocks(grey, lineHeight).blocks(grey.rect())
            : std::vector<QRect>{};
    api.SetPageSegMode(kPageSegmentation);
    api.SetImage(grey.constBits(), grey.width(), grey.height(), 1, static_cast<int>(grey.bytesPerLine()));
    api.SetSourceResolution(resolution);
    std::vector<ReadLine> lines;
    for (size_t b = 0; b < std::max<size_t>(blocks.size(), 1); ++b) {
        if (blocks.size() > 1) {
            // With a margin of half a line: the engine finds no line that touches the edge.
            const QRect area = blocks[b]
                                   .adjusted(-lineHeight / 2, -lineHeight / 2, lineHeight / 2, lineHeight / 2)
                                   .intersected(grey.rect());
            api.SetRectangle(area.left(), area.top(), area.width(), area.height());
        }
        if (api.Recognize(nullptr) != 0) {
            result.failure = Failure::recognitionFailed;
            return result;
        }
        if (const std::unique_ptr<tesseract::ResultIterator> iterator(api.GetIterator()); iterator)
            for (ReadLine& line : readPage(*iterator))
                lines.push_back(std::move(line));
    }

    dropEnclosingLines(lines);
    const std::vector<QRect> mergedRows = rowsOfMergedLines(lines, grey);
    std::vector<bool> joined;
    lines = joinPiecesOfLines(std::move(lines), joined);
    for (size_t i = 0; i < lines.size(); ++i) {
        // A line read with a rule is read again without it, by the page's language first.
        const QRect box = withoutRules(lines[i].box, grey);
        if (box != lines[i].box) {
            lines[i].box = box;
            joined[i] = true;
        }
        if (joined[i])
            lines[i].box = widenedToInk(lines[i].box, grey);
    }

    for (ReadLine& line : lines)
        readCaptionWithoutCheckBox(line, api, grey, resolution);

    // The other Chinese language's engine, for a line read alone that the page's language reads
    // badly: borrowed only when a line needs it, and given back before the lines are read again,
    // which borrow one of each language in turn.
    std::unique_ptr<EngineLoan> otherLoan;
    const QString otherChineseLanguage = languages.size() > 1 && firstLanguage.startsWith(QLatin1String("chi_")) &&
                                                 languages[1].startsWith(QLatin1String("chi_"))
                                             ? languages[1]
                                             : QString();
    bool otherAsked = false;
    const auto otherChinese = [&]() -> tesseract::TessBaseAPI* {
        if (!otherAsked && !otherChineseLanguage.isEmpty())
            otherLoan = borrowEngine(otherChineseLanguage);
        otherAsked = true;
        return otherLoan ? &otherLoan->engine() : nullptr;
    };
    const auto giveBackOtherChinese = [&] {
        otherLoan.reset();
        otherAsked = false;
    };

    // Whether the ink in a box looks like writing: enough of it (the engine reads letters into a
    // photograph's shading, which has next to none), not too much, in strokes thin for the box's
    // height.
    const auto inkLikeWritingIn = [](const QImage& picture, const QRect& box) {
        const QRect area = box.intersected(picture.rect());
        if (area.isEmpty())
            return false;
        int ink = 0;
        for (int y = area.top(); y <= area.bottom(); ++y) {
            const uchar* row = picture.constScanLine(y);
            ink +=
                int(std::count_if(row + area.left(), row + area.right() + 1, [](uchar value) { return value < 128; }));
        }
        const double share = double(ink) / double(area.width() * area.height());
        return share >= kLeastInk && share <= kMostInk &&
               double(strokeWidth(picture, area)) <= kThickestStroke * area.height();
    };
    const auto inkLikeWriting = [&](const QRect& box) { return inkLikeWritingIn(grey, box); };
    // The same of small writing that came blurred: a label of 8 to 9 px drawn without antialiasing
    // or scaled down by its sender, scaled up ~2.4 times and softened, has strokes 0.25 to 0.35 of
    // its height thick where it is half dark, at any scale, but 0.09 to 0.19 where it is darker
    // than halfway from its darkest to half dark. A blot, a bar or a shaded ball stays thick at its
    // core too, and the core must hold ink of its own, not a speck.
    const auto blurredInkLikeWritingIn = [](const QImage& picture, const QRect& box) {
        const QRect area = box.intersected(picture.rect());
        if (area.isEmpty())
            return false;
        int ink = 0;
        int darkest = 255;
        for (int y = area.top(); y <= area.bottom(); ++y) {
            const uchar* row = picture.constScanLine(y);
            for (int x = area.left(); x <= area.right(); ++x) {
                ink += row[x] < 128;
                darkest = std::min<int>(darkest, row[x]);
            }
        }
        const int coreDarkerThan = (darkest + 128) / 2;
        int core = 0;
        for (int y = area.top(); y <= area.bottom(); ++y) {
            const uchar* row = picture.constScanLine(y);
            core += int(std::count_if(row + area.left(), row + area.right() + 1,
                                      [&](uchar value) { return value < coreDarkerThan; }));
        }
        const double all = double(area.width() * area.height());
        return double(ink) / all >= kLeastInk && double(ink) / all <= kMostInk && double(core) / all >= kLeastInk &&
               double(strokeWidth(picture, area, coreDarkerThan)) <= kThickestStroke * area.height();
    };

    // Ink that stands where the layout found no line, in lines as tall as those found (or any
    // readable height where it found none) and not a pattern, is read as a line of its own.
    const size_t firstMissedLine = lines.size();
    {
        std::vector<QRect> boxes;
        std::vector<int> heights;
        for (const ReadLine& line : lines) {
            boxes.push_back(line.box);
            heights.push_back(line.box.height());
        }
        int typical = 0;
        if (!heights.empty()) {
            std::nth_element(heights.begin(), heights.begin() + ptrdiff_t(heights.size() / 2), heights.end());
            typical = heights[heights.size() / 2];
        }
        int missed = 0;
        int unreadInARow = 0;
        const int lowest = typical > 0 ? (2 * typical + 2) / 3 : kSmallestInk;
        const int highest = typical > 0 ? 3 * typical / 2 : 2 * kLargestLine;
        boxes.insert(boxes.end(), mergedRows.begin(), mergedRows.end());
        std::vector<QRect> bands = mergedRows;
        for (const QRect& band : inkOutsideLines(grey, boxes, lowest, highest))
            bands.push_back(band);
        for (const QRect& band : bands) {
            if (missed == kMostMissedLines || unreadInARow == kMostUnreadMissedLines)
                break;
            if (looksLikePattern(grey, band))
                continue;
            ++missed;
            // Read as a line, and where the engine trusts that little, every other way only where
            // the ink looks like writing: a photograph's or a pattern's bits are not worth it.
            const LinePicture picture = linePicture(grey, band);
            std::optional<ReadLine> again =
                asOneLine(read(api, picture.image, resolution, tesseract::PSM_SINGLE_LINE, picture.offset), band);
            if ((!again || meanConfidence(*again) < kLeastShortLineConfidence) && inkLikeWriting(band))
                again = readLineInEarnest(api, otherChinese, grey, band, resolution, kLeastShortLineConfidence,
                                          std::move(again));
            unreadInARow = again && meanConfidence(*again) >= kLeastLineConfidence ? 0 : unreadInARow + 1;
            if (!again)
                continue;
            again->foundConfidence = meanConfidence(*again);
            lines.push_back(std::move(*again));
            joined.push_back(false);
        }
    }
    giveBackOtherChinese();

    const auto isChinese = [](const QString& language) { return language.startsWith(QLatin1String("chi_")); };
    QStringList rereadingLanguages;
    std::vector<Rereading> rereadings;
    // A line the layout had cut into pieces is read again whole by the page's language first, and
    // so is a Chinese line the other Chinese language read, which is then weighed against it.
    std::vector<std::optional<ReadLine>> byOtherChinese(lines.size());
    for (size_t i = 0; i < lines.size(); ++i)
        if (lines[i].byOtherChinese && hasHan(lines[i])) {
            byOtherChinese[i] = lines[i];
            joined[i] = true;
        }
    if (std::find(joined.begin(), joined.end(), true) != joined.end()) {
        for (size_t i = 0; i < lines.size(); ++i)
            if (joined[i])
                rereadings.push_back({i, 0, linePicture(grey, lines[i].box), {}});
        rereadingLanguages.append(firstLanguage);
    }
    for (const QString& language : languages.mid(1)) {
        const bool chinese = isChinese(language);
        if (chinese && !isChinese(firstLanguage))
            continue;
        for (size_t i = 0; i < lines.size(); ++i)
            if (hasHan(lines[i]) == chinese && !(chinese && byOtherChinese[i]))
                rereadings.push_back({i, size_t(rereadingLanguages.size()), linePicture(grey, lines[i].box), {}});
        rereadingLanguages.append(language);
    }
    readAgain(
        rereadings, rereadingLanguages, resolution,
        [this](const QString& language, bool wait) { return borrowEngine(language, wait); }, api, firstLanguage);
    // The lines read again whole by the page's language take the place of their pieces first.
    // Then the other languages' readings are weighed: a line has one of them (Chinese or not), so
    // their order does not matter.
    std::vector<HanComparison> comparisons;
    const QImage& scriptPicture = asDrawn.isNull() ? grey : asDrawn;
    for (Rereading& rereading : rereadings) {
        if (rereadingLanguages[qsizetype(rereading.language)] != firstLanguage || rereading.lines.size() != 1)
            continue;
        std::optional<ReadLine>& other = byOtherChinese[rereading.line];
        if (other && !hasHan(rereading.lines.front()))
            continue;
        const float found = lines[rereading.line].foundConfidence;
        lines[rereading.line] = std::move(rereading.lines.front());
        lines[rereading.line].foundConfidence = found;
        if (other && otherChineseLanguage.size()) {
            std::vector<ReadLine> others{std::move(*other)};
            comparisons.push_back(
                compareHanReadings(lines[rereading.line], others, scriptPicture, firstLanguage, otherChineseLanguage));
            comparisons.back().line = rereading.line;
        }
    }
    for (Rereading& rereading : rereadings) {
        const QString& language = rereadingLanguages[qsizetype(rereading.language)];
        if (language == firstLanguage)
            continue;
        if (isChinese(language)) {
            comparisons.push_back(
                compareHanReadings(lines[rereading.line], rereading.lines, scriptPicture, firstLanguage, language));
            comparisons.back().line = rereading.line;
        } else {
            chooseLatinReading(lines[rereading.line], rereading.lines);
        }
    }
    // The script of each Chinese line, from its own readings or, where they say little, from
    // the lines around it.
    std::vector<bool> traditional;
    std::vector<int> leaning;
    decideScripts(comparisons, lines, traditional, leaning);
    for (size_t k = 0; k < comparisons.size(); ++k)
        chooseHanReading(lines[comparisons[k].line], comparisons[k], traditional[k]);
    // Small text's doubtful characters, read again from the picture prepared three more ways by
    // both Chinese models; only where the page was read scaled up that much, only where the text
    // reached the picture degraded (jagged or blurred: crisp text's doubtful characters the
    // second readings mended about as often as they spoiled), and only the stretches of lines
    // around them. A screenshot of crisp text costs nothing more (read again, four 1440x810
    // desktops of 14 px text cost a fifth more CPU; read whole, half again).
    if (factor >= kLeastSofteningScale && !otherChineseLanguage.isEmpty() &&
        (softenedForReading || TextPicture::blurredByScaling(unscaled))) {
        std::vector<size_t> doubtful;
        for (size_t i = 0; i < lines.size(); ++i)
            for (const Symbol* symbol : symbolsOf(lines[i]))
                if (symbol->confidence < kDoubtfulCharacter && HanGlyphs::isHanCharacter(symbol->text)) {
                    doubtful.push_back(i);
                    break;
                }
        if (!doubtful.empty()) {
            // A page turned level is prepared whole (its lines' boxes are in the turned page); a
            // level one only around the stretches read again, which on a large screenshot costs a
            // small part of preparing it whole.
            std::array<double, kJaggedSecondLooks.size()> scales{};
            std::array<QImage, kJaggedSecondLooks.size()> pictures;
            for (size_t way = 0; way < pictures.size(); ++way)
                if (skew != 0)
                    pictures[way] = preparedAgain(unscaled, factor, softenedForReading, way, skew, &scales[way]);
                else
                    scales[way] = (softenedForReading ? kJaggedSecondLooks : kBlurredSecondLooks)[way].scale;
            std::vector<int> scriptOf(lines.size(), -1);
            std::vector<int> leaningOf(lines.size(), 0);
            for (size_t k = 0; k < comparisons.size(); ++k) {
                scriptOf[comparisons[k].line] = traditional[k] ? 1 : 0;
                leaningOf[comparisons[k].line] = leaning[k];
            }
            const std::array<tesseract::TessBaseAPI*, 2> engines{&api, otherChinese()};
            for (const size_t i : doubtful) {
                std::vector<ReadLine> others;
                const QRect& box = lines[i].box;
                const std::vector<QRect> stretches = doubtfulStretches(lines[i]);
                for (size_t way = 0; way < pictures.size(); ++way) {
                    const double s = scales[way];
                    std::array<std::vector<ReadLine>, engines.size()> pieces;
                    for (const QRect& stretch : stretches) {
                        const QRect scaled(QPoint(qRound(stretch.left() * s), qRound(stretch.top() * s)),
                                           QPoint(qRound(stretch.right() * s), qRound(stretch.bottom() * s)));
                        LinePicture picture;
                        if (skew != 0) {
                            picture = linePicture(pictures[way], scaled);
                        } else {
                            const int margin = 2 + int(std::ceil(stretch.height() / factor));
                            const QRect around = QRect(QPoint(int(std::floor(stretch.left() / factor)),
                                                              int(std::floor(stretch.top() / factor))),
                                                       QPoint(int(std::ceil(stretch.right() / factor)),
                                                              int(std::ceil(stretch.bottom() / factor))))
                                                     .adjusted(-margin, -margin, margin, margin)
                                                     .intersected(unscaled.rect());
                            double unused = 0;
                            const QImage part =
                                preparedAgain(unscaled.copy(around), factor, softenedForReading, way, 0, &unused);
                            const QPoint corner(qRound(around.left() * factor * s), qRound(around.top() * factor * s));
                            picture = linePicture(part, scaled.translated(-corner));
                            picture.offset += corner;
                        }
                        for (size_t e = 0; e < engines.size(); ++e)
                            if (engines[e])
                                for (ReadLine& piece : read(*engines[e], picture.image, resolution,
                                                            tesseract::PSM_SINGLE_LINE, picture.offset))
                                    pieces[e].push_back(std::move(piece));
                    }
                    for (std::vector<ReadLine>& piecesRead : pieces) {
                        std::optional<ReadLine> reading = asOneLine(std::move(piecesRead), box);
                        if (!reading)
                            continue;
                        for (Symbol* symbol : symbolsOf(*reading)) {
                            symbol->left = qRound(symbol->left / s);
                            symbol->right = qRound(symbol->right / s);
                        }
                        others.push_back(std::move(*reading));
                    }
                }
                bool inTraditional = scriptOf[i] == 1;
                if (scriptOf[i] < 0)
                    for (const Symbol* symbol : symbolsOf(lines[i]))
                        inTraditional = inTraditional ||
                                        ChineseScript::formOf(symbol->text) == ChineseScript::Form::traditional;
                QStringList before;
                for (const Symbol* symbol : symbolsOf(lines[i]))
                    before.append(symbol->text);
                mendDoubtfulCharacters(lines[i], others, inTraditional);
                // A line whose script its own readings said little of, whose characters were
                // misread (搬充功能 for 擴充功能), said it with the characters it misread: mended,
                // it takes the script the lines around it lean to.
                QStringList after;
                for (const Symbol* symbol : symbolsOf(lines[i]))
                    after.append(symbol->text);
                if (after != before && leaningOf[i] != 0 && (leaningOf[i] > 0) != inTraditional) {
                    keepScript(lines[i], leaningOf[i] > 0);
                    for (size_t k = 0; k < comparisons.size(); ++k)
                        if (comparisons[k].line == i)
                            traditional[k] = leaningOf[i] > 0;
                }
            }
            giveBackOtherChinese();
        }
    }
    for (ReadLine& line : lines)
        keepPunctuationWidths(line, grey);


    // What the engine reads in a texture (a checkerboard, noise, a photograph's shading) it
    // hardly trusts, and in a pattern of shapes drawn alike it can trust more: neither is text.
    // A line the engine trusts less than that is text all the same where its ink is like that
    // of its neighbours (a line as high as a line trusted in the same picture) or where it stands
    // alone in the picture (a label): low confidence in a short line or a face the engine reads
    // badly says little about whether it is text.
    int allInk = -1; // counted when a line is not trusted
    const auto inkOfPicture = [&] {
        if (allInk < 0) {
            allInk = 0;
            for (int y = 0; y < grey.height(); ++y) {
                const uchar* row = grey.constScanLine(y);
                allInk += int(std::count_if(row, row + grey.width(), [](uchar value) { return value < 128; }));
            }
        }
        return allInk;
    };
    // Characters are at most about as wide as high: a reading of fewer characters than the
    // line's ink has room for made letters of something else (a mesh read as one 8). Only lines
    // read alone and lines alone in their picture are held to it: a line of the page can hold a
    // gap (a label, its value far to the right).
    const auto fillsItsLine = [](const ReadLine& line) {
        size_t characters = 0;
        for (const ReadWord& word : line.words)
            characters += word.symbols.size();
        return double(line.box.width()) <= kWidestCharacter * double(characters) * double(line.box.height());
    };
    std::vector<bool> pattern(lines.size()), trusted(lines.size());
    for (size_t i = 0; i < lines.size(); ++i) {
        const ReadLine& line = lines[i];
        size_t characters = 0;
        for (const ReadWord& word : line.words)
            characters += word.symbols.size();
        const float least = characters < kShortLine      ? kLeastShortLineConfidence
                            : !scale.layoutFoundText ? kLeastUnlaidLineConfidence
                                                     : kLeastLineConfidence;
        pattern[i] = looksLikePattern(grey, line.box) || inkRunsThroughLine(grey, line.box);
        const float confidence = std::max(meanConfidence(line), line.foundConfidence);
        trusted[i] = !pattern[i] && confidence >= least && (i < firstMissedLine || fillsItsLine(line));
    }
    // As high as a line trusted in the same picture, give or take a quarter. A line's height is
    // that of the ink in its box: the engine can stretch the box of a character it hardly knows
    // (small text drawn without antialiasing) far above or below the others, and the line's box
    // with it.
    std::vector<int> inkHeights(lines.size());
    for (size_t k = 0; k < lines.size(); ++k) {
        const QRect box = lines[k].box.intersected(grey.rect());
        int top = -1, bottom = -1;
        for (int y = box.top(); y <= box.bottom(); ++y) {
            const uchar* row = grey.constScanLine(y);
            if (std::any_of(row + box.left(), row + box.right() + 1, [](uchar value) { return value < 128; })) {
                top = top < 0 ? y : top;
                bottom = y;
            }
        }
        inkHeights[k] = top < 0 ? lines[k].box.height() : bottom - top + 1;
    }
    const auto heightOf = [&](size_t k) { return inkHeights[k]; };
    const auto likeATrustedLine = [&](size_t k) {
        for (size_t j = 0; j < lines.size(); ++j)
            if (j != k && trusted[j] && 4 * heightOf(k) >= 3 * heightOf(j) && 3 * heightOf(k) <= 4 * heightOf(j))
                return true;
        return false;
    };
    // Whether a line of the page stands in a list with lines trusted in it: one of them as high
    // as it, give or take a quarter, a few items above or below, starting or ending where it
    // does (the items of a menu or a sidebar, a settings panel's labels, its values set flush
    // right). What the engine reads into a photograph's shading or a pattern is in no such list.
    const auto inAListOfTrustedLines = [&](size_t k) {
        const QRect& box = lines[k].box;
        const int slack = std::max(2, box.height() / 4);
        for (size_t j = 0; j < lines.size(); ++j) {
            const QRect& other = lines[j].box;
            if (j == k || !trusted[j] || 4 * box.height() < 3 * other.height() ||
                3 * box.height() > 4 * other.height() ||
                std::abs(box.center().y() - other.center().y()) > kListReach * box.height())
                continue;
            if (std::abs(box.left() - other.left()) <= slack || std::abs(box.right() - other.right()) <= slack)
                return true;
        }
        return false;
    };
    std::vector<bool> keep(lines.size());
    for (size_t i = 0; i < lines.size(); ++i) {
        ReadLine& line = lines[i];
        keep[i] = trusted[i];
        if (keep[i] || pattern[i] || line.words.empty())
            continue;
        const int height = line.box.height();
        int inside = 0;
        const int clip = std::max(2, height / 8);
        const QRect area = line.box.adjusted(-clip, -clip, clip, clip).intersected(grey.rect());
        for (int y = area.top(); y <= area.bottom(); ++y) {
            const uchar* row = grey.constScanLine(y);
            inside +=
                int(std::count_if(row + area.left(), row + area.right() + 1, [](uchar value) { return value < 128; }));
        }
        // Alone: nearly all the picture's ink, and ink like writing's: enough of it (the engine
        // reads letters into a photograph's shading, which has next to none), not too much, in
        // strokes thin for the line's height.
        const double share = double(inside) / double(area.width() * area.height());
        const bool alone = 10 * (inkOfPicture() - inside) <= inside && share >= kLeastInk && share <= kMostInk &&
                           double(strokeWidth(grey, line.box)) <= kThickestStroke * height;
        // A label alone that the engine reads badly one way it can read well another.
        if (alone && meanConfidence(line) < kLeastShortLineConfidence) {
            std::optional<ReadLine> again =
                readLineInEarnest(api, otherChinese, grey, line.box, resolution, kLeastShortLineConfidence);
            if (again && meanConfidence(*again) > meanConfidence(line))
                line = std::move(*again);
        }
        // A line of the page as high as lines trusted beside it, its ink like writing's, that the
        // engine hardly trusts where it read the page (a short line in a face it reads badly, read
        // right or nearly at 5 to 25) is text where read alone it is trusted as a short label is.
        // That reading, which the page's language makes in its own script, takes the script
        // decided for the line.
        if (!alone && i < firstMissedLine &&
            std::max(meanConfidence(line), line.foundConfidence) < kLeastTextLikeConfidence && likeATrustedLine(i) &&
            inkLikeWriting(line.box)) {
            std::optional<ReadLine> again =
                readLineInEarnest(api, otherChinese, grey, line.box, resolution, kLeastShortLineConfidence);
            if (again && meanConfidence(*again) >= kLeastShortLineConfidence) {
                const float confidence = meanConfidence(*again);
                line = std::move(*again);
                line.foundConfidence = confidence;
                for (size_t k = 0; k < comparisons.size(); ++k)
                    if (comparisons[k].line == i)
                        keepScript(line, traditional[k]);
            }
        }
        // An item of a list (a menu, a sidebar, a settings panel's labels) the engine reads
        // badly every way is an item all the same. Read alone it is read no better, only trusted
        // more or less at random: the reading among its neighbours is kept.
        if (!alone && i < firstMissedLine &&
            std::max(meanConfidence(line), line.foundConfidence) < kLeastTextLikeConfidence &&
            inAListOfTrustedLines(i) && fillsItsLine(line)) {
            keep[i] = true;
            continue;
        }
        if (std::max(meanConfidence(line), line.foundConfidence) < kLeastTextLikeConfidence ||
            ((i >= firstMissedLine || alone) && !fillsItsLine(line)))
            continue;
        keep[i] = likeATrustedLine(i) ||
                  (alone && std::max(meanConfidence(line), line.foundConfidence) >= kLeastLoneLineConfidence);
    }
    std::vector<ReadLine> kept;
    for (size_t i = 0; i < lines.size(); ++i)
        if (keep[i])
            kept.push_back(std::move(lines[i]));
    lines = std::move(kept);
    // A check box's mark is left out of the text lines it starts, once they are known for text.
    for (ReadLine& line : lines)
        dropCheckMark(line, grey);
    std::erase_if(lines, [](const ReadLine& line) { return line.words.empty(); });

    // A picture of one short label alone is read again at heights the engine reads a few
    // characters well, and its script decided on that reading.
    // A picture of many lines is none: not worth looking at its ink again.
    giveBackOtherChinese();
    if (lines.size() <= kMostLinesOfALabel) {
        const auto likeWriting = [&](const QImage& picture, const QRect& ink) {
            const int clip = ink.height() / 8;
            const QRect box = ink.adjusted(-clip, -clip, clip, clip);
            return (inkLikeWritingIn(picture, box) || blurredInkLikeWritingIn(picture, box)) &&
                   !looksLikeMesh(picture, ink);
        };
        std::vector<LabelInk> inks;
        PartAnew button;
        QImage clearOfEdges;
        std::optional<QRect> frameInside;
        if (const QRect all = inkBoxOf(grey); !all.isEmpty() && all.width() <= 2 * kWidestLabel * all.height()) {
            bool closed = false;
            if (const std::optional<QRect> inside = insideFrame(grey, all, &closed)) {
                if (closed)
                    frameInside = *inside;
                if (const std::optional<QRect> ink = loneLabelInk(grey, inside->adjusted(-1, -1, 1, 1));
                    ink && likeWriting(grey, *ink))
                    inks.push_back({&grey, *ink, 1, closed, true});
            }
            // A button the page's normalising left dark is normalised anew, its inside alone, from
            // the caller's picture: there the label stands out from the button's own colour.
            if (const std::optional<QRect> inside = insideButton(grey, all)) {
                button = partAnew(image, grey.size(), *inside, unturn, page);
                if (!button.picture.isNull())
                    if (const std::optional<QRect> ink = loneLabelInk(button.picture);
                        ink && likeWriting(button.picture, *ink))
                        inks.push_back({&button.picture, *ink, button.scale});
            }
        }
        if (const std::optional<QRect> ink = loneLabelInk(grey); ink && likeWriting(grey, *ink))
            inks.push_back({&grey, *ink, 1, false, true});
        // Where the page read one line and the rest of the picture's ink is none (a photograph's
        // blotches beside a button), the label is looked for along that line's rows.
        if (lines.size() == 1) {
            const QRect& box = lines.front().box;
            const int reach = box.height() / 2;
            if (const std::optional<QRect> ink =
                    loneLabelInk(grey, widenedToInk(box, grey).adjusted(-reach / 2, -reach, reach / 2, reach));
                ink && likeWriting(grey, *ink) &&
                std::none_of(inks.begin(), inks.end(), [&](const LabelInk& other) { return other.ink == *ink; }))
                inks.push_back({&grey, *ink, 1, false, true});
        }
        // A label on a see-through button over a gradient or a photograph: the page's normalising
        // leaves the background around the button dark in patches, which the label's ink is not
        // alone among (nor is the button a frame, its sides a patch's edge). What of that ink
        // reaches the picture's edges is the background's; the label stands clear of them.
        clearOfEdges = withoutInkAtEdges(grey, page);
        if (clearOfEdges != grey)
            if (const std::optional<QRect> ink = loneLabelInk(clearOfEdges);
                ink && likeWriting(clearOfEdges, *ink) &&
                std::none_of(inks.begin(), inks.end(), [&](const LabelInk& other) { return other.ink == *ink; }))
                inks.push_back({&clearOfEdges, *ink, 1, false, true});
        if (!inks.empty()) {
            bool agreed = false;
            std::optional<ReadLine> label = readLoneLabel(
                api, languages, [this](const QString& language) { return borrowEngine(language); }, inks, resolution,
                &agreed, lines.size() == 1 ? &lines.front() : nullptr);
            if (label && frameInside)
                withoutFrameSides(*label, *frameInside);
            // A label the engine hardly trusts read in the page's normalising (a photograph's
            // grain through its strokes) is normalised anew around its own ink and read again.
            const auto lastInPage = std::find_if(inks.rbegin(), inks.rend(),
                                                 [&](const LabelInk& ink) { return ink.picture == &grey; });
            if ((!label || meanConfidence(*label) < kLeastLoneLineConfidence) && lastInPage != inks.rend()) {
                const QRect& ink = lastInPage->ink;
                const int around = ink.height() / 2;
                PartAnew anew =
                    partAnew(image, grey.size(),
                             ink.adjusted(-around, -around, around, around).intersected(grey.rect()), unturn, page);
                if (!anew.picture.isNull())
                    if (const std::optional<QRect> again = loneLabelInk(anew.picture);
                        again && likeWriting(anew.picture, *again)) {
                        bool otherAgreed = false;
                        std::optional<ReadLine> other = readLoneLabel(
                            api, languages, [this](const QString& language) { return borrowEngine(language); },
                            std::vector<LabelInk>{{&anew.picture, *again, anew.scale}}, resolution, &otherAgreed);
                        if (other && (!label || meanConfidence(*other) > meanConfidence(*label))) {
                            label = std::move(other);
                            agreed = otherAgreed;
                        }
                    }
            }
            // Where the page kept nothing, a label whose heights agree, or whose readings count its
            // characters alike with its ink, is answered all the same.
            if (label && (meanConfidence(*label) >= kLeastLoneLineConfidence || (lines.empty() && agreed)))
                lines = {std::move(*label)};
        }
    }

    // A few lines read in a texture are none.
    if (lines.size() <= kMostLinesOfALabel && !lines.empty() && repeatsItself(unscaled))
        lines.clear();

    const double width = page.width();
    const double height = page.height();
    // Tesseract counts rows from the top; the boxes we hand out count from the bottom. Relative
    // to the picture read less its margin, which is the caller's picture scaled.
    const auto normalised = [&](int left, int top, int right, int bottom) {
        left = std::clamp(left - page.left(), 0, page.width());
        right = std::clamp(right - page.left(), left, page.width());
        top = std::clamp(top - page.top(), 0, page.height());
        bottom = std::clamp(bottom - page.top(), top, page.height());
        return QRectF(left / width, 1.0 - bottom / height, (right - left) / width, (bottom - top) / height);
    };
    const auto normalisedRect = [&](QRect rect) {
        if (!unturn.isIdentity())
            rect = unturn.mapRect(QRectF(rect.left(), rect.top(), rect.width(), rect.height())).toAlignedRect();
        return normalised(rect.left(), rect.top(), rect.right() + 1, rect.bottom() + 1);
    };
    // The block each line stands in, by its middle.
    std::vector<int> blockOfLine(lines.size(), -1);
    for (size_t i = 0; i < lines.size() && blocks.size() > 1; ++i)
        for (size_t b = 0; b < blocks.size() && blockOfLine[i] < 0; ++b)
            if (blocks[b]
                    .adjusted(-lineHeight / 2, -lineHeight / 2, lineHeight / 2, lineHeight / 2)
                    .contains(lines[i].box.center()))
                blockOfLine[i] = int(b);
    for (const std::vector<size_t>& row : rowsOf(lines, blockOfLine)) {
        // The lines of a row stand with their middles on the row's, each as high as it is.
        int middles = 0; // twice the rows, to keep halves
        for (const size_t i : row)
            middles += lines[i].box.top() + lines[i].box.bottom();
        const int middle = middles / int(row.size());
        QRect rowBox;
        for (const size_t i : row) {
            const QRect& box = lines[i].box;
            rowBox |= box.translated(0, (middle - box.top() - box.bottom()) / 2);
        }
        const int lineIndex = int(result.lines.size());
        result.lines.append(normalisedRect(rowBox));
        std::vector<Symbol> symbols;
        for (const size_t i : row) {
            const QRect box = lines[i].box.translated(0, (middle - lines[i].box.top() - lines[i].box.bottom()) / 2);
            for (const ReadWord& word : lines[i].words) {
                QString text;
                for (const Symbol& symbol : word.symbols) {
                    text += symbol.text;
                    symbols.push_back(symbol);
                    symbols.back().top = box.top();
                    symbols.back().bottom = box.bottom() + 1;
                }
                result.words.append({text, normalisedRect(word.box), word.confidence, lineIndex});
            }
        }
        placeAlongLine(symbols, grey.width());
        for (const Symbol& symbol : symbols)
            result.characters.append({symbol.text, normalisedRect(QRect(QPoint(symbol.left, symbol.top),
                                                                        QPoint(symbol.right - 1, symbol.bottom - 1)))});
    }
    return result;
}

// --- The program's recognizer

namespace {

std::mutex& sharedMutex()
{
    static std::mutex mutex;
    return mutex;
}

std::shared_ptr<TextRecognizer>& sharedRecognizer()
{
    static std::shared_ptr<TextRecognizer> recognizer;
    return recognizer;
}

} // namespace

std::shared_ptr<TextRecognizer> TextRecognizer::shared()
{
    const std::lock_guard lock(sharedMutex());
    std::shared_ptr<TextRecognizer>& recognizer = sharedRecognizer();
    if (!recognizer)
        recognizer = std::make_shared<TesseractTextRecognizer>();
    return recognizer;
}

void TextRecognizer::setSharedForTesting(std::shared_ptr<TextRecognizer> recognizer)
{
    const std::lock_guard lock(sharedMutex());
    sharedRecognizer() = std::move(recognizer); // nothing: the next shared() makes the real one again
}

} // namespace Platform
