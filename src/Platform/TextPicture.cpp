#include "TextPicture.h"

#include <QRect>

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <vector>

namespace Platform::TextPicture {

namespace {

// The background is judged in tiles of this side, each from its own and its neighbours' pixels
// (a window three tiles wide): small enough that a button or a banner a line tall has its own
// background, large enough that the strokes of a large character do not outnumber it.
constexpr int kTile = 16;

// Grey levels either side of the most common one that count as the background: the shading of
// a gradient across a tile, a JPEG's ripples.
constexpr int kBackgroundSpread = 12;

// A background is an area, a stroke of text is thin: only pixels in the middle of a square this
// wide of neighbours that differ by no more than kSmoothStep (a gradient, a JPEG's ripples)
// count for the background. The strokes of text up to about 120 px are thinner; where a
// character's strokes outnumber the background around it, they would otherwise be taken for
// the background.
constexpr int kFlatRun = 11;
constexpr int kSmoothStep = 4;

// A chat bubble or a banner around small text is padded by less than kFlatRun above and below
// the text, so none of its pixels are background-like and its tiles would take the page's colour
// around it for their background (the bubble then comes out as a grey patch the engine reads as
// ink). But the padding is wide: its colour runs smooth across far longer than a stroke of that
// thickness. Pixels in the middle of such a band (a run across this long, in the middle of a run
// down this tall) vouch for a tile's own most common grey.
constexpr int kBandRun = 3 * kTile;
constexpr int kBandHeight = 5;

// A window with fewer background-like pixels than this (a tenth of a window of three tiles)
// grows, up to this many tiles either side of its own.
constexpr int kEnoughFlat = kTile * kTile * 9 / 10;
constexpr int kFarthestReach = 4;

// Background-like pixels of a tile's own most common grey in its window that make it the tile's
// background.
constexpr int kOwnBackground = 16;

// Differences from the background this small are noise (JPEG, dithering) and stay white.
constexpr int kNoise = 12;

// A grainy background (a photograph, a scan) is told by how far pixels differ from the middle of
// their neighbours: on a screenshot's background, shaded or not, nearly all by nothing. The grain
// is twice the difference that a quarter of a tile's window's pixels stay within (about four
// fifths of the grain's standard deviation), so that the edges of text, fewer than half the pixels
// even where small print is dense, do not count. A background's levels reach this many grains
// either side of its most common one, and differences of fewer than this many grains stay white.
constexpr int kGrainShare = 4; // one pixel in four
constexpr int kGrainForBackground = 2;
constexpr int kGrainForNoise = 3;

// Text of this much contrast keeps its shades (black text on white stays as it was, pixel for
// pixel); fainter text is stretched to black.
constexpr int kFullContrast = 192;

// The least contrast text is taken to have: where nothing near a pixel differs from the
// background by more, the differences there are noise, not faint text to be made black.
constexpr int kLeastContrast = 48;

QImage opaque(const QImage& image)
{
    if (!image.hasAlphaChannel())
        return image.convertToFormat(QImage::Format_RGB32);
    // Over white: a PNG of black text on a transparent background is black text on white.
    const QImage premultiplied = image.convertToFormat(QImage::Format_ARGB32_Premultiplied);
    QImage result(premultiplied.size(), QImage::Format_RGB32);
    for (int y = 0; y < premultiplied.height(); ++y) {
        const auto* in = reinterpret_cast<const QRgb*>(premultiplied.constScanLine(y));
        auto* out = reinterpret_cast<QRgb*>(result.scanLine(y));
        for (int x = 0; x < premultiplied.width(); ++x) {
            const int white = 255 - qAlpha(in[x]);
            out[x] = qRgb(qRed(in[x]) + white, qGreen(in[x]) + white, qBlue(in[x]) + white);
        }
    }
    return result;
}

// How far apart two colours are to the eye of a text reader: the largest difference of a
// channel, so that red on green of one brightness still differs.
// Asked of every pixel several times over: written so that it is worked out in place.
inline int distance(QRgb a, QRgb b)
{
    return std::max(std::max(std::abs(qRed(a) - qRed(b)), std::abs(qGreen(a) - qGreen(b))),
                    std::abs(qBlue(a) - qBlue(b)));
}

// A bar or a bubble of even colour around a line of text (the selected row of a list, a chat
// bubble) on a page of another colour: its top and bottom edges are long runs of its colour, the
// line between them is broken into many short runs of it by the text, and its ends are of its
// colour too. Where a tile holds the page, the bar and the text together, no one grey of the tile
// is the background of all of them; the bar's own colour is the background inside it.
struct Bar
{
    int top = 0;    // the row of its colour above the text
    int bottom = 0; // the row of its colour below the text
    int left = 0;
    int right = 0; // one past
    // The columns where both edges are of the bar's colour (beyond them, a rounded corner or the
    // page): its colour is taken from there.
    int colourLeft = 0;
    int colourRight = 0; // one past
};

// A run across this long of even colour is the edge of a bar: longer than a short caption's
// strokes are thick, shorter than the narrowest list.
constexpr int kBarRun = 3 * kTile;
// The text in a bar lies between its edges this far apart, at most: a line up to about 40 px.
constexpr int kBarHeight = 3 * kTile;
// A row through the middle of the text in a bar changes from its colour to ink and back at least
// this many times (a heavy stroke between two others changes twice), and is at least this
// share of its colour (a line between two rules of the text's colour is mostly page).
constexpr int kBarCrossings = 6;
constexpr int kBarShareOfOwn = 3; // one in three
// A bar is at least this many times as wide as the line in it is tall.
constexpr int kBarWidthPerHeight = 4;
// Pixels at either end of a bar's edge that may be missing from the run along it (JPEG, a
// rounded corner).
constexpr int kBarSlack = kTile / 4;
// A bar's colour at a column is that of its edges this many columns either side.
constexpr int kBarSmoothing = 4;

struct Run
{
    int left = 0;
    int right = 0; // one past
    int grey = 0;
};

// Per row, the bars that cross it; empty where the picture has none. Only runs of a grey far from
// the background their tiles found are looked at: a screenshot's page costs nothing more, and a
// bubble a shade off the page, which its tiles tell apart from the page well enough (and better
// where JPEG ripples around the text), is left to them.
std::vector<std::vector<Bar>> barsOf(const QImage& rgb, const std::vector<uint8_t>& grey,
                                     const std::vector<int>& backgroundGrey, int columns)
{
    const int width = rgb.width();
    const int height = rgb.height();
    std::vector<std::vector<Run>> runs(static_cast<size_t>(height));
    bool any = false;
    for (int y = 0; y < height; ++y) {
        const uint8_t* row = &grey[size_t(y) * size_t(width)];
        // The tiles whose backgrounds the pixels of a bar from this row down are judged against.
        const int firstTileRow = std::max(0, y / kTile - 1);
        const int lastTileRow = std::min(int(backgroundGrey.size() / size_t(columns)) - 1, (y + kBarHeight) / kTile + 1);
        const auto otherThanTiles = [&](int x, int level) {
            for (int r = firstTileRow; r <= lastTileRow; ++r)
                if (std::abs(backgroundGrey[size_t(r) * size_t(columns) + size_t(x / kTile)] - level) > kLeastContrast)
                    return true;
            return false;
        };
        for (int start = 0; start < width;) {
            int end = start + 1;
            while (end < width && std::abs(row[end] - row[end - 1]) <= kSmoothStep)
                ++end;
            if (end - start >= kBarRun) {
                const int middle = (start + end) / 2;
                const int level = row[middle];
                if (otherThanTiles(start, level) || otherThanTiles(middle, level) || otherThanTiles(end - 1, level)) {
                    runs[size_t(y)].push_back({start, end, level});
                    any = true;
                }
            }
            start = end;
        }
    }
    std::vector<std::vector<Bar>> bars;
    if (!any)
        return bars;
    // A run of the bar's colour in row y across all of [left, right) but for a few pixels (JPEG).
    const auto across = [&](int y, int level, int left, int right) {
        for (const Run& other : runs[size_t(y)])
            if (other.left <= left + kBarSlack && other.right >= right - kBarSlack
                && std::abs(other.grey - level) <= kBackgroundSpread)
                return &other;
        return static_cast<const Run*>(nullptr);
    };
    // One overlapping it by a bar's edge at least: the bar's edge above or below the text.
    const auto alongside = [&](int y, int level, int left, int right) {
        for (const Run& other : runs[size_t(y)])
            if (std::min(right, other.right) - std::max(left, other.left) >= kBarRun
                && std::abs(other.grey - level) <= kBackgroundSpread)
                return &other;
        return static_cast<const Run*>(nullptr);
    };
    const auto mark = [&](int y, const Bar& bar) {
        if (bars.empty())
            bars.resize(size_t(height));
        bars[size_t(y)].push_back(bar);
    };
    for (int y = 0; y + 2 < height; ++y) {
        for (const Run& run : runs[size_t(y)]) {
            // The last row of the bar's edge above the text: the row below is broken by the text.
            if (across(y + 1, run.grey, run.left, run.right))
                continue;
            for (int below = y + 2; below < std::min(height, y + kBarHeight); ++below) {
                const Run* edge = across(below, run.grey, run.left, run.right);
                if (!edge)
                    continue;
                const int middleRow = (y + below) / 2;
                const uint8_t* middle = &grey[size_t(middleRow) * size_t(width)];
                const auto own = [&](int x) { return std::abs(middle[x] - run.grey) <= kBackgroundSpread; };
                int left = run.left, right = run.right;
                int crossings = 0, ownCount = 0, widest = 0;
                // A pixel of about the bar's grey between others (a white stroke's soft edge on a
                // darker panel) does not end what stands in the bar: two in a row do.
                for (int x = left, other = 0; x < right; ++x) {
                    ownCount += own(x) ? 1 : 0;
                    crossings += x > left && own(x) != own(x - 1) ? 1 : 0;
                    other = own(x) && x + 1 < right && own(x + 1) ? 0 : other + 1;
                    widest = std::max(widest, other);
                }
                // What stands in it is text, no wider across than a large character: a panel of
                // another colour on the page (a bubble) is not text on the page. Its ends are of
                // its colour (a list's row has its text a few pixels from them).
                // It is far wider than tall, and its sides are of its colour all the way down: the
                // strokes of a large character closing round the page between them are neither.
                const auto sideOfOwn = [&](int x) {
                    for (int r = y + 1; r < below; ++r)
                        if (std::abs(grey[size_t(r) * size_t(width) + size_t(x)] - run.grey) > kBackgroundSpread)
                            return false;
                    return true;
                };
                if (crossings >= kBarCrossings && ownCount * kBarShareOfOwn >= right - left && widest < kBarRun
                    && right - left >= kBarWidthPerHeight * (below - y) && sideOfOwn(left + 1) && sideOfOwn(right - 2)) {
                    // The bar's sides beside the text, and its edges above and below as far as
                    // they go (a tile holding the page too would take them for ink).
                    while (left > 0 && own(left - 1))
                        --left;
                    while (right < width && own(right))
                        ++right;
                    const int colourLeft = std::max(run.left, edge->left);
                    const int colourRight = std::min(run.right, edge->right);
                    for (int r = y + 1; r < below; ++r)
                        mark(r, {y, below, left, right, colourLeft, colourRight});
                    for (int r = y; r >= std::max(0, y - kBarHeight / 2); --r) {
                        const Run* band = alongside(r, run.grey, left, right);
                        if (!band)
                            break;
                        mark(r, {r, r, band->left, band->right, band->left, band->right});
                    }
                    for (int r = below; r < std::min(height, below + kBarHeight / 2); ++r) {
                        const Run* band = alongside(r, run.grey, left, right);
                        if (!band)
                            break;
                        mark(r, {r, r, band->left, band->right, band->left, band->right});
                    }
                }
                break;
            }
        }
    }
    return bars;
}

// A panel of even colour on a page of another (a chat bubble, a banner, a card) has an edge
// a pixel or two wide where the two colours blend, and a JPEG smears that edge and a block's row
// of the panel beside it into shades the tiles around judge neither page nor panel. Left as they
// are, the panel comes out as an outline the engine reads as brackets, bars and dashes
// ("(|一一一|"). Both sides of such an edge are areas of smoothly changing grey that the tiles
// already found to be background; the faded edge of a stroke lies between background and the
// stroke's own colour (white text on a blue bubble on a white page: its core is white like the
// page, but it is a stroke, not an area the tiles took for background). Such edges are made
// white, and inside the panel they part from the page its own colour is the background.
//
// Neighbours within this many grey levels of each other are one smooth area (a JPEG's ripples
// inside a panel reach about this far across an 8-pixel block's edge).
constexpr int kPanelSmoothStep = kBackgroundSpread;
// An area is background where at least this share of its pixels already are: 1 in 2.
constexpr int kPanelBackgroundShare = 2;
// Smooth areas smaller than a tile are the insides of strokes, letters' counters and bits of a
// pattern, not panels or pages.
constexpr int kPanelLeastArea = kTile * kTile;
// A panel's edge is at most this many pixels from either side's smooth area (the blend, a JPEG's
// ringing beside it).
constexpr int kPanelEdgeReach = 3;
// The two sides of an edge differ by more than this: a rule between two parts of one page stays.
constexpr int kPanelContrast = 2 * kNoise;
// A line that goes on between two other areas within this many pixels of the last it stands
// between the panel and the page is drawn.
constexpr int kLineBeyondEdge = kTile;
// A JPEG's blocks are this many pixels across: a panel's colour can be off by a block's row
// along its edge.
constexpr int kJpegBlock = 8;
// A panel's text covers at least this share of its bounds: 1 in 32 (a word in a wide bubble);
// the panel itself, around its text, at least 1 in 4.
constexpr int kPanelInkShare = 32;
constexpr int kPanelFill = 4;

// A row's stretch of smooth pixels: the smooth areas are joined run by run, a page being a few
// runs a row, rather than pixel by pixel.
struct SmoothRun
{
    int y = 0;
    int left = 0;
    int right = 0; // one past
};

// A pixel of a panel's edge and the panel it belongs to.
struct PanelEdge
{
    size_t pixel = 0;
    int panel = 0;
};

void judgeAroundPanels(const QImage& rgb, const std::vector<uint8_t>& grey, std::vector<uint8_t>& difference)
{
    const int width = rgb.width();
    const int height = rgb.height();
    const auto colourAt = [&rgb, width](size_t i) {
        return reinterpret_cast<const QRgb*>(rgb.constScanLine(int(i / size_t(width))))[i % size_t(width)];
    };
    const size_t count = size_t(width) * size_t(height);
    const auto at = [width](int x, int y) { return size_t(y) * size_t(width) + size_t(x); };
    if (std::none_of(difference.begin(), difference.end(), [](uint8_t d) { return d > kNoise; }))
        return;
    // Smooth pixels: every neighbour across and down within a smooth step. Two smooth pixels side
    // by side or one above the other are then within a smooth step of each other, so a smooth area
    // is smooth pixels joined across and down, and its runs along the rows are joined where they
    // overlap.
    std::vector<SmoothRun> runs;
    std::vector<size_t> firstRunOfRow(size_t(height) + 1, 0);
    // A row is judged a chunk at a time (which the compiler does many pixels at once), and a chunk
    // all of one kind, as most of a page is, goes on or leaves out its run whole.
    constexpr int kChunk = 16;
    const auto near = [](uint8_t a, uint8_t b) { return uint8_t(std::max(a, b) - std::min(a, b)) <= kPanelSmoothStep; };
    constexpr uint64_t kAllSmooth = 0x0101010101010101; // eight smooth pixels in a row
    for (int y = 0; y < height; ++y) {
        firstRunOfRow[size_t(y)] = runs.size();
        if (y < 1 || y + 1 >= height)
            continue;
        const uint8_t* row = &grey[at(0, y)];
        const uint8_t* above = row - width;
        const uint8_t* below = row + width;
        int left = -1; // where the run being found began
        for (int x = 1; x + 1 < width; x += kChunk) {
            const int n = std::min(kChunk, width - 1 - x);
            std::array<uint8_t, kChunk> smooth{};
            const uint8_t* centre = row + x;
            const auto judge = [&](int k) {
                return uint8_t(near(centre[k], centre[k - 1]) & near(centre[k], centre[k + 1]) &
                               near(centre[k], above[x + k]) & near(centre[k], below[x + k]));
            };
            if (n == kChunk) {
                for (int k = 0; k < kChunk; ++k)
                    smooth[size_t(k)] = judge(k);
                std::array<uint64_t, kChunk / 8> words{};
                std::memcpy(words.data(), smooth.data(), kChunk);
                const uint64_t all = left >= 0 ? kAllSmooth : 0;
                if (std::all_of(words.begin(), words.end(), [all](uint64_t word) { return word == all; }))
                    continue;
            } else {
                for (int k = 0; k < n; ++k)
                    smooth[size_t(k)] = judge(k);
            }
            for (int k = 0; k < n; ++k) {
                if (smooth[size_t(k)] && left < 0) {
                    left = x + k;
                } else if (!smooth[size_t(k)] && left >= 0) {
                    runs.push_back({y, left, x + k});
                    left = -1;
                }
            }
        }
        if (left >= 0)
            runs.push_back({y, left, width - 1});
    }
    firstRunOfRow[size_t(height)] = runs.size();
    std::vector<int> parent(runs.size());
    for (size_t r = 0; r < runs.size(); ++r)
        parent[r] = int(r);
    const auto find = [&](int i) {
        while (parent[size_t(i)] != i) {
            parent[size_t(i)] = parent[size_t(parent[size_t(i)])];
            i = parent[size_t(i)];
        }
        return i;
    };
    const auto join = [&](int a, int b) {
        a = find(a);
        b = find(b);
        if (a != b)
            parent[size_t(std::max(a, b))] = std::min(a, b);
    };
    for (int y = 1; y < height; ++y) {
        size_t above = firstRunOfRow[size_t(y - 1)];
        const size_t aboveEnd = firstRunOfRow[size_t(y)];
        for (size_t r = firstRunOfRow[size_t(y)]; r < firstRunOfRow[size_t(y + 1)]; ++r) {
            while (above < aboveEnd && runs[above].right <= runs[r].left)
                ++above;
            for (size_t a = above; a < aboveEnd && runs[a].left < runs[r].right; ++a)
                join(int(a), int(r));
        }
    }
    // Each area numbered in the order of its first pixel (in its first run, the root of its runs).
    std::vector<int> label(count, -1);
    std::vector<int> runLabel(runs.size(), -1);
    std::vector<int> area, background;
    std::vector<QRect> bounds;
    for (size_t r = 0; r < runs.size(); ++r) {
        const SmoothRun& run = runs[r];
        const int root = find(int(r));
        if (size_t(root) == r) {
            runLabel[r] = int(area.size());
            area.push_back(0);
            background.push_back(0);
            bounds.emplace_back(QPoint(run.left, run.y), QPoint(run.right - 1, run.y));
        } else {
            runLabel[r] = runLabel[size_t(root)];
        }
        const int number = runLabel[r];
        const size_t first = at(run.left, run.y);
        std::fill(label.begin() + std::ptrdiff_t(first), label.begin() + std::ptrdiff_t(first) + (run.right - run.left),
                  number);
        area[size_t(number)] += run.right - run.left;
        int quiet = 0;
        for (size_t i = first; i < first + size_t(run.right - run.left); ++i)
            quiet += difference[i] <= kNoise ? 1 : 0;
        background[size_t(number)] += quiet;
        QRect& box = bounds[size_t(number)];
        box.setLeft(std::min(box.left(), run.left));
        box.setRight(std::max(box.right(), run.right - 1));
        box.setBottom(run.y);
    }
    parent = {};
    const auto backgroundArea = [&](int number) {
        return area[size_t(number)] >= kPanelLeastArea &&
               background[size_t(number)] * kPanelBackgroundShare >= area[size_t(number)];
    };
    // For each pixel of a panel's edge, the panel: of the two areas either side, the one within the
    // other's bounds.
    std::vector<PanelEdge> edges;
    constexpr std::array<std::array<int, 2>, 4> kDirections{{{1, 0}, {0, 1}, {1, 1}, {1, -1}}};
    // Whether a line followed from a pixel went on, per side: the last followed across, and per
    // column the last followed down.
    struct LineFollowed
    {
        size_t pixel = std::numeric_limits<size_t>::max();
        std::array<int, 2> areas{-1, -1};
        bool drawn = false;
    };
    std::array<LineFollowed, 2> followedAcross{};
    std::vector<std::array<LineFollowed, 2>> followedDown(static_cast<size_t>(width));
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            const size_t i = at(x, y);
            // Ink inside an area the tiles took for background may be a JPEG block's row of a
            // panel the tiles around judged against the page: decided below, by the panel's edge.
            if (difference[i] <= kNoise || label[i] >= 0)
                continue;
            for (const auto& direction : kDirections) {
                const auto side = [&](int sign) {
                    for (int step = 1; step <= kPanelEdgeReach; ++step) {
                        const int sx = x + sign * step * direction[0], sy = y + sign * step * direction[1];
                        if (sx < 0 || sy < 0 || sx >= width || sy >= height)
                            return size_t(count);
                        if (label[at(sx, sy)] >= 0)
                            return at(sx, sy);
                    }
                    return size_t(count);
                };
                const size_t one = side(-1), other = side(1);
                if (one == count || other == count || label[one] == label[other] ||
                    std::abs(grey[one] - grey[other]) <= kPanelContrast || !backgroundArea(label[one]) ||
                    !backgroundArea(label[other]))
                    continue;
                const int lighter = std::max(grey[one], grey[other]), darker = std::min(grey[one], grey[other]);
                if (grey[i] > lighter + kBackgroundSpread || grey[i] < darker - kBackgroundSpread)
                    continue;
                // The panel lies within the page around it.
                const QRect& oneBounds = bounds[size_t(label[one])];
                const QRect& otherBounds = bounds[size_t(label[other])];
                if (otherBounds.contains(oneBounds) == oneBounds.contains(otherBounds))
                    continue;
                // A line across or down that goes on from here between two other areas is drawn
                // (a list's frame beside its selected row, then beside the list's other rows) and
                // stays whole; a bubble's edge ends where it turns round the bubble's corner.
                const std::array<int, 2> areas{label[one], label[other]};
                const auto sidesOf = [&](int ax, int ay, int acrossX, int acrossY) {
                    std::array<int, 2> found{-1, -1};
                    for (size_t s = 0; s < 2; ++s) {
                        const int sign = s == 0 ? -1 : 1;
                        for (int step = 1; step <= kPanelEdgeReach; ++step) {
                            const int sx = ax + sign * step * acrossX, sy = ay + sign * step * acrossY;
                            if (sx < 0 || sy < 0 || sx >= width || sy >= height)
                                break;
                            if (label[at(sx, sy)] >= 0) {
                                found[s] = label[at(sx, sy)];
                                break;
                            }
                        }
                    }
                    return found;
                };
                const auto between = [&areas](const std::array<int, 2>& found) {
                    return found == areas || (found[0] == areas[1] && found[1] == areas[0]);
                };
                const auto goesOn = [&](int alongX, int alongY, int sign) {
                    int lastEdge = 0, elsewhere = 0;
                    for (int step = 1; step <= lastEdge + kLineBeyondEdge && elsewhere < 2; ++step) {
                        const int ax = x + sign * step * alongX, ay = y + sign * step * alongY;
                        if (ax < 0 || ay < 0 || ax >= width || ay >= height || label[at(ax, ay)] >= 0 ||
                            difference[at(ax, ay)] <= kNoise)
                            break;
                        const std::array<int, 2> found = sidesOf(ax, ay, alongY, alongX);
                        if (between(found))
                            lastEdge = step;
                        else if (found[0] >= 0 && found[1] >= 0 && found[0] != found[1])
                            ++elsewhere;
                    }
                    return elsewhere >= 2;
                };
                // Followed from a pixel, the line goes on as it does from the next pixel along it
                // where that one stands between the same two areas: the answer of the pixel before
                // (to the left, above) serves, and an edge as long as a window's is not followed
                // again from each of its pixels.
                bool drawnLine = false;
                for (const auto& [alongX, alongY] : {std::pair{1, 0}, std::pair{0, 1}}) {
                    for (const int sign : {-1, 1}) {
                        if (drawnLine)
                            break;
                        LineFollowed& last = alongX ? followedAcross[sign > 0] : followedDown[size_t(x)][sign > 0];
                        bool known = false;
                        if ((alongX ? x > 0 : y > 0) && last.pixel == i - (alongX ? 1 : size_t(width)) &&
                            (last.areas == areas || (last.areas[0] == areas[1] && last.areas[1] == areas[0]))) {
                            // The pixel next along on that side: the one before, or this one.
                            const int nx = sign < 0 ? x - alongX : x, ny = sign < 0 ? y - alongY : y;
                            const size_t next = at(nx, ny);
                            known = label[next] < 0 && difference[next] > kNoise &&
                                    between(sidesOf(nx, ny, alongY, alongX));
                        }
                        drawnLine = known ? last.drawn : goesOn(alongX, alongY, sign);
                        last = {i, areas, drawnLine};
                    }
                }
                if (drawnLine)
                    continue;
                edges.push_back({i, otherBounds.contains(oneBounds) ? label[one] : label[other]});
                break;
            }
        }
    if (edges.empty())
        return;
    // A panel holds text: it has ink within its bounds
    // besides its edge. A disc of colour on a page (a photograph's blurred lights, a pattern's
    // shapes) holds none, and its outline stays for the pattern it is. And it fills its bounds
    // well: a band of a pattern of stripes, slanting across, does not.
    // Edge pixels: 1, and 2 once whitened.
    std::vector<uint8_t> edge(count, 0);
    for (const PanelEdge& e : edges)
        edge[e.pixel] = 1;
    const auto ink = [&](size_t i) { return difference[i] > kNoise && label[i] < 0 && !edge[i]; };
    std::vector<int8_t> holdsText(area.size(), -1);
    std::vector<int> inkOf(area.size(), -1);
    // Ink is counted within each panel's bounds, or where the bounds together outsize the picture
    // (panels within panels), summed up once over the picture.
    size_t boundsArea = 0;
    for (const PanelEdge& e : edges)
        if (inkOf[size_t(e.panel)] < 0) {
            inkOf[size_t(e.panel)] = 0;
            boundsArea += size_t(bounds[size_t(e.panel)].width()) * size_t(bounds[size_t(e.panel)].height());
        }
    std::vector<int> inkAbove; // ink up and left of each corner
    if (boundsArea > count) {
        inkAbove.assign(size_t(width + 1) * size_t(height + 1), 0);
        for (int y = 0; y < height; ++y) {
            int inRow = 0;
            for (int x = 0; x < width; ++x) {
                inRow += ink(at(x, y)) ? 1 : 0;
                inkAbove[size_t(y + 1) * size_t(width + 1) + size_t(x + 1)] =
                    inkAbove[size_t(y) * size_t(width + 1) + size_t(x + 1)] + inRow;
            }
        }
    }
    const auto inkWithin = [&](const QRect& box) {
        if (inkAbove.empty()) {
            int found = 0;
            for (int y = box.top(); y <= box.bottom(); ++y)
                for (int x = box.left(); x <= box.right(); ++x)
                    found += ink(at(x, y)) ? 1 : 0;
            return found;
        }
        const auto corner = [&](int x, int y) { return inkAbove[size_t(y) * size_t(width + 1) + size_t(x)]; };
        return corner(box.right() + 1, box.bottom() + 1) - corner(box.left(), box.bottom() + 1) -
               corner(box.right() + 1, box.top()) + corner(box.left(), box.top());
    };
    for (const PanelEdge& e : edges) {
        int8_t& panel = holdsText[size_t(e.panel)];
        if (panel < 0) {
            const QRect& box = bounds[size_t(e.panel)];
            const int boxArea = box.width() * box.height();
            panel = inkWithin(box) * kPanelInkShare >= boxArea && area[size_t(e.panel)] * kPanelFill >= boxArea ? 1 : 0;
        }
        if (panel)
            edge[e.pixel] = 2;
    }
    inkAbove = {};
    // Ink within a JPEG block of a whitened edge, across or down, in an area the tiles took for
    // background goes with it.
    for (const PanelEdge& e : edges) {
        if (edge[e.pixel] != 2)
            continue;
        const int x = int(e.pixel % size_t(width)), y = int(e.pixel / size_t(width));
        for (int step = 1; step <= kJpegBlock; ++step)
            for (const auto& [dx, dy] : {std::pair{1, 0}, std::pair{-1, 0}, std::pair{0, 1}, std::pair{0, -1}}) {
                const int nx = x - step * dx, ny = y - step * dy;
                if (nx < 0 || ny < 0 || nx >= width || ny >= height)
                    continue;
                const size_t n = at(nx, ny);
                if (difference[n] > kNoise && label[n] >= 0 && backgroundArea(label[n]))
                    difference[n] = 0;
            }
    }
    for (const PanelEdge& e : edges)
        if (edge[e.pixel] == 2)
            difference[e.pixel] = 0;

    // Inside a panel found so, its own colour is the background of what it holds, row by row
    // (a bubble shaded down its height): the tiles along a bubble padded thinly take the page
    // around for the background there, and white text on a bubble on a white page would come
    // out hollow, its strokes' cores as white as the page.
    struct PanelRow
    {
        int left = std::numeric_limits<int>::max();
        int right = -1;
        std::array<long, 3> sum{};
        int pixels = 0;
    };
    std::vector<int> panelOf(area.size(), -1);
    std::vector<std::vector<PanelRow>> panels;
    for (size_t number = 0; number < holdsText.size(); ++number)
        if (holdsText[number] == 1) {
            panelOf[number] = int(panels.size());
            panels.emplace_back(size_t(bounds[number].height()));
        }
    if (panels.empty())
        return;
    for (size_t r = 0; r < runs.size(); ++r) {
        const int number = runLabel[r];
        if (panelOf[size_t(number)] < 0)
            continue;
        const SmoothRun& run = runs[r];
        PanelRow& row = panels[size_t(panelOf[size_t(number)])][size_t(run.y - bounds[size_t(number)].top())];
        row.left = std::min(row.left, run.left);
        row.right = std::max(row.right, run.right - 1);
        for (size_t i = at(run.left, run.y); i < at(run.right, run.y); ++i) {
            const QRgb colour = colourAt(i);
            row.sum[0] += qRed(colour);
            row.sum[1] += qGreen(colour);
            row.sum[2] += qBlue(colour);
        }
        row.pixels += run.right - run.left;
    }
    for (size_t number = 0; number < panelOf.size(); ++number) {
        if (panelOf[number] < 0)
            continue;
        const std::vector<PanelRow>& rows = panels[size_t(panelOf[number])];
        for (size_t r = 0; r < rows.size(); ++r) {
            const PanelRow& row = rows[r];
            if (row.pixels == 0)
                continue;
            const QRgb own =
                qRgb(int(row.sum[0] / row.pixels), int(row.sum[1] / row.pixels), int(row.sum[2] / row.pixels));
            const int y = bounds[number].top() + int(r);
            for (int x = row.left + 1; x < row.right; ++x) {
                const size_t i = at(x, y);
                // Text's strokes are thin: a wide smooth area in the panel is a shape of its own
                // (another disc of a pattern across this one).
                if (label[i] == int(number) || edge[i] == 2 ||
                    (label[i] >= 0 && area[size_t(label[i])] >= kPanelLeastArea))
                    continue;
                const int against = distance(colourAt(i), own);
                if (std::abs(against - difference[i]) > kLeastContrast)
                    difference[i] = uint8_t(against);
            }
        }
    }
}

// A list's selected row is a bar drawn as tight around its text as the row is high: a line of
// small text can fill it from its top to its bottom row, and JPEG ripples its colour all round
// the text, so it has no clean edge above and below the text that barsOf looks for. Its columns
// beside and between the characters are of its colour all the way down, though, and end
// together at its top and bottom: such columns, over at least half of a stretch several times
// as wide as high, with the text's columns among them, make a bar too. The grey a column's run
// keeps to: JPEG's ripples beside a stroke, a bar shaded from top to bottom.
constexpr int kColumnRunSpread = 28;
// The lowest bar whose columns are looked at: a row of text about 8 px high at least.
constexpr int kLowestTightBar = 10;
// How far a tight bar's colour differs from what lies around it at least: a dark button's face
// is hardly lighter than the window.
constexpr int kLeastBarContrast = kLeastContrast / 2;

// The median grey of a bar's pixels, a couple of columns in from its ends.
int medianGreyInside(const std::vector<uint8_t>& grey, int width, const Bar& bar)
{
    std::vector<uint8_t> values;
    for (int y = bar.top; y <= bar.bottom; ++y)
        for (int x = bar.left + 2; x < bar.right - 2; ++x)
            values.push_back(grey[size_t(y) * size_t(width) + size_t(x)]);
    if (values.empty())
        return grey[size_t(bar.top) * size_t(width) + size_t(bar.left)];
    const auto middle = values.begin() + ptrdiff_t(values.size() / 2);
    std::nth_element(values.begin(), middle, values.end());
    return *middle;
}

// The tight bars found are added to `bars` where barsOf found none, and handed back.
std::vector<Bar> addTightBars(std::vector<std::vector<Bar>>& bars, const std::vector<uint8_t>& grey, int width,
                              int height, const std::vector<int>& backgroundGrey, int columns)
{
    struct ColumnRun
    {
        int top = 0;
        int bottom = 0; // one past
        int level = 0;
    };
    // Per column, its runs of about one grey as high as a bar can be.
    std::vector<std::vector<ColumnRun>> runs(static_cast<size_t>(width));
    for (int x = 0; x < width; ++x) {
        int start = 0, sum = 0;
        for (int y = 0; y <= height; ++y) {
            const int value = y < height ? grey[size_t(y) * size_t(width) + size_t(x)] : -1000;
            if (y > start && std::abs(value * (y - start) - sum) > kColumnRunSpread * (y - start)) {
                if (y - start >= kLowestTightBar && y - start <= kBarHeight)
                    runs[size_t(x)].push_back({start, y, sum / (y - start)});
                start = y;
                sum = 0;
            }
            sum += value;
        }
    }
    const auto sameRun = [](const ColumnRun& a, const ColumnRun& b) {
        return std::abs(a.top - b.top) <= 1 && std::abs(a.bottom - b.bottom) <= 1 &&
               std::abs(a.level - b.level) <= kBackgroundSpread;
    };
    struct Candidate
    {
        ColumnRun run;
        int left = 0;
        int right = 0; // the last column with the run
        int count = 0;
    };
    std::vector<Candidate> open;
    std::vector<Candidate> found;
    const auto close = [&](Candidate candidate) {
        // The columns next to the text can have their runs broken by its ripples or its blending
        // into the bar: the bar reaches on as far as its top or its bottom row keeps its colour.
        const auto ofBar = [&](int x) {
            const int top = grey[size_t(candidate.run.top) * size_t(width) + size_t(x)];
            const int bottom = grey[size_t(candidate.run.bottom - 1) * size_t(width) + size_t(x)];
            return std::abs(top - candidate.run.level) <= kColumnRunSpread ||
                   std::abs(bottom - candidate.run.level) <= kColumnRunSpread;
        };
        while (candidate.left > 0 && ofBar(candidate.left - 1))
            --candidate.left;
        while (candidate.right + 1 < width && ofBar(candidate.right + 1))
            ++candidate.right;
        const int barHeight = candidate.run.bottom - candidate.run.top;
        const int span = candidate.right - candidate.left + 1;
        if (span < kBarRun || span < kBarWidthPerHeight * barHeight || 2 * candidate.count < span ||
            candidate.count == span)
            return;
        // Of a colour other than what lies above and below it, both (a list's rows under its
        // frame and over its selected row are the list's, not a bar), a pixel of blending aside.
        int standsOut = 0;
        for (int x = candidate.left; x <= candidate.right; ++x) {
            const int above = candidate.run.top - 2;
            const int below = candidate.run.bottom + 1;
            // Two rows beyond the blending pixel, and again beyond a frame's line right there.
            standsOut += above >= 2 && below + 2 < height &&
                                 std::abs(grey[size_t(above) * size_t(width) + size_t(x)] - candidate.run.level) >
                                     kLeastBarContrast &&
                                 std::abs(grey[size_t(below) * size_t(width) + size_t(x)] - candidate.run.level) >
                                     kLeastBarContrast &&
                                 std::abs(grey[size_t(above - 2) * size_t(width) + size_t(x)] - candidate.run.level) >
                                     kLeastBarContrast &&
                                 std::abs(grey[size_t(below + 2) * size_t(width) + size_t(x)] - candidate.run.level) >
                                     kLeastBarContrast
                             ? 1
                             : 0;
        }
        if (2 * standsOut < span)
            return;
        // Of a colour other than the page's around (the page between two lines is no bar).
        bool other = false;
        const int firstTileRow = std::max(0, candidate.run.top / kTile - 1);
        const int lastTileRow =
            std::min(int(backgroundGrey.size() / size_t(columns)) - 1, candidate.run.bottom / kTile + 1);
        for (int r = firstTileRow; r <= lastTileRow && !other; ++r)
            for (int c = candidate.left / kTile; c <= candidate.right / kTile && !other; ++c)
                other = std::abs(backgroundGrey[size_t(r) * size_t(columns) + size_t(c)] - candidate.run.level) >
                        kLeastBarContrast;
        if (other)
            found.push_back(candidate);
    };
    for (int x = 0; x < width; ++x) {
        for (const ColumnRun& run : runs[size_t(x)]) {
            auto same = std::find_if(open.begin(), open.end(),
                                     [&](const Candidate& candidate) { return sameRun(candidate.run, run); });
            if (same != open.end()) {
                same->right = x;
                ++same->count;
            } else {
                open.push_back({run, x, x, 1});
            }
        }
        // A bar's text breaks its columns' runs for no longer than a few characters are wide.
        std::erase_if(open, [&](const Candidate& candidate) {
            const int gap = 2 * (candidate.run.bottom - candidate.run.top);
            if (x - candidate.right <= gap && x + 1 < width)
                return false;
            close(candidate);
            return true;
        });
    }
    std::vector<Bar> added;
    for (const Candidate& candidate : found) {
        const Bar bar{candidate.run.top,   candidate.run.bottom - 1, candidate.left,
                      candidate.right + 1, candidate.left,           candidate.right + 1};
        bool taken = false;
        for (int y = candidate.run.top; y < candidate.run.bottom && !taken && !bars.empty(); ++y)
            for (const Bar& other : bars[size_t(y)])
                taken = taken || (other.left < bar.right && bar.left < other.right);
        if (taken)
            continue;
        if (bars.empty())
            bars.resize(size_t(height));
        for (int y = candidate.run.top; y < candidate.run.bottom; ++y)
            bars[size_t(y)].push_back(bar);
        added.push_back(bar);
    }
    return added;
}

} // namespace

QImage darkTextOnWhite(const QImage& image)
{
    const QImage rgb = opaque(image);
    const int width = rgb.width();
    const int height = rgb.height();
    QImage result(rgb.size(), QImage::Format_Grayscale8);
    if (width <= 0 || height <= 0)
        return result;

    const int columns = (width + kTile - 1) / kTile;
    const int rows = (height + kTile - 1) / kTile;
    const auto tileAt = [columns](int column, int row) { return size_t(row) * size_t(columns) + size_t(column); };
    const size_t tiles = size_t(columns) * size_t(rows);

    std::vector<uint8_t> grey(size_t(width) * size_t(height));
    for (int y = 0; y < height; ++y) {
        const auto* line = reinterpret_cast<const QRgb*>(rgb.constScanLine(y));
        for (int x = 0; x < width; ++x)
            grey[size_t(y) * size_t(width) + size_t(x)] = uint8_t(qGray(line[x]));
    }
    // Background-like pixels: the middle of a smooth square kFlatRun wide, found as the middle
    // of a smooth run across that lies in the middle of a smooth run down of such pixels.
    constexpr int kHalf = kFlatRun / 2;
    std::vector<uint8_t> flatAcross(grey.size(), 0);
    for (int y = 0; y < height; ++y) {
        const uint8_t* row = &grey[size_t(y) * size_t(width)];
        uint8_t* flat = &flatAcross[size_t(y) * size_t(width)];
        for (int start = 0; start < width;) {
            int end = start + 1;
            while (end < width && std::abs(row[end] - row[end - 1]) <= kSmoothStep)
                ++end;
            for (int x = start + kHalf; x < end - kHalf; ++x)
                flat[x] = 1;
            start = end;
        }
    }
    std::vector<uint8_t> isFlat(grey.size(), 0);
    {
        std::vector<int> runStart(size_t(width), 0);
        const auto endRun = [&](int y, int x) {
            for (int r = runStart[size_t(x)] + kHalf; r < y - kHalf; ++r)
                isFlat[size_t(r) * size_t(width) + size_t(x)] = 1;
            runStart[size_t(x)] = y;
        };
        for (int y = 0; y < height; ++y) {
            const size_t at = size_t(y) * size_t(width);
            for (int x = 0; x < width; ++x) {
                const size_t i = at + size_t(x);
                if (!flatAcross[i]) {
                    endRun(y, x);
                    runStart[size_t(x)] = y + 1;
                } else if (y > 0 && (!flatAcross[i - size_t(width)]
                                     || std::abs(grey[i] - grey[i - size_t(width)]) > kSmoothStep)) {
                    endRun(y, x);
                }
            }
        }
        for (int x = 0; x < width; ++x)
            endRun(height, x);
    }
    // Whether a pixel lies in the middle of a band: in a smooth run across kBandRun long, as are
    // the pixels above and below it, of smoothly changing grey. Asked only of the few tiles that
    // need it, so that a picture without bubbles costs nothing more.
    const auto inLongRunAcross = [&](int x, int y) {
        const uint8_t* row = &grey[size_t(y) * size_t(width)];
        int left = 0, right = 0;
        while (x - left > 0 && left + right + 1 < kBandRun && std::abs(row[x - left] - row[x - left - 1]) <= kSmoothStep)
            ++left;
        while (x + right + 1 < width && left + right + 1 < kBandRun
               && std::abs(row[x + right] - row[x + right + 1]) <= kSmoothStep)
            ++right;
        // A run that goes on past what was looked at is as long.
        while (x - left > 0 && left < kBandHeight / 2 && std::abs(row[x - left] - row[x - left - 1]) <= kSmoothStep)
            ++left;
        while (x + right + 1 < width && right < kBandHeight / 2
               && std::abs(row[x + right] - row[x + right + 1]) <= kSmoothStep)
            ++right;
        return left + right + 1 >= kBandRun && left >= kBandHeight / 2 && right >= kBandHeight / 2;
    };
    const auto inBand = [&](int x, int y) {
        if (y < kBandHeight / 2 || y >= height - kBandHeight / 2)
            return false;
        for (int d = -kBandHeight / 2; d <= kBandHeight / 2; ++d) {
            if (!inLongRunAcross(x, y + d))
                return false;
            const size_t j = size_t(y + d) * size_t(width) + size_t(x);
            if (d > -kBandHeight / 2 && std::abs(grey[j] - grey[j - size_t(width)]) > kSmoothStep)
                return false;
        }
        return true;
    };

    // Per tile the greys of its background-like pixels, and of all its pixels for a tile (and its
    // neighbours) that has none: a fine pattern.
    std::vector<uint16_t> histograms(tiles * 256, 0);
    std::vector<uint16_t> allHistograms(tiles * 256, 0);
    std::vector<int> flatCount(tiles, 0);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            const size_t i = size_t(y) * size_t(width) + size_t(x);
            const size_t tile = tileAt(x / kTile, y / kTile);
            ++allHistograms[tile * 256 + grey[i]];
            if (isFlat[i]) {
                ++histograms[tile * 256 + grey[i]];
                ++flatCount[tile];
            }
        }
    }

    // The grain of each tile's window, from its pixels' differences from the middle of their
    // neighbours across (nothing on a smooth gradient), in every other row: counted up from the
    // smallest, which on a screenshot is nearly always as far as it goes. Larger differences than
    // kSteps are all ink or edges.
    constexpr int kSteps = 32;
    std::vector<uint16_t> steps(tiles * kSteps, 0);
    std::vector<int> counted(tiles, 0);
    for (int y = 0; y < height; y += 2) {
        const uint8_t* row = &grey[size_t(y) * size_t(width)];
        uint16_t* tileRow = &steps[tileAt(0, y / kTile) * kSteps];
        for (int x = 1; x + 1 < width; ++x) {
            const int step = std::abs(2 * row[x] - row[x - 1] - row[x + 1]) / 2;
            ++tileRow[unsigned(x) / kTile * kSteps + unsigned(std::min(step, kSteps - 1))];
        }
    }
    for (size_t tile = 0; tile < tiles; ++tile)
        for (int level = 0; level < kSteps; ++level)
            counted[tile] += steps[tile * kSteps + size_t(level)];
    std::vector<int> grain(tiles, 0);
    for (int row = 0; row < rows; ++row) {
        for (int column = 0; column < columns; ++column) {
            const int top = std::max(0, row - 1), bottom = std::min(rows - 1, row + 1);
            const int left = std::max(0, column - 1), right = std::min(columns - 1, column + 1);
            int total = 0;
            for (int r = top; r <= bottom; ++r)
                for (int c = left; c <= right; ++c)
                    total += counted[tileAt(c, r)];
            int level = 0;
            for (int seen = 0; level < kSteps - 1; ++level) {
                for (int r = top; r <= bottom; ++r)
                    for (int c = left; c <= right; ++c)
                        seen += steps[tileAt(c, r) * kSteps + size_t(level)];
                if (seen * kGrainShare >= total)
                    break;
            }
            grain[tileAt(column, row)] = 2 * level;
        }
    }

    // The background's grey: the most common grey of the tile's window, each level counted with
    // the levels around it, so that a shaded background is one level and not many small ones.
    // On a grainy background the levels around are as many as the grain spreads it over, and the
    // background-like pixels none: the grain's smooth patches are too small to be told from ink.
    std::vector<int> backgroundGrey(tiles);
    for (int row = 0; row < rows; ++row) {
        for (int column = 0; column < columns; ++column) {
            const int tileGrain = grain[tileAt(column, row)];
            const int levelsAround = std::max(4, kGrainForBackground * tileGrain);
            // Inside a large character the window can hold little background: it grows then.
            int reach = 1;
            int flat = 0;
            for (; reach <= kFarthestReach; reach *= 2) {
                flat = 0;
                for (int r = std::max(0, row - reach); r <= std::min(rows - 1, row + reach); ++r)
                    for (int c = std::max(0, column - reach); c <= std::min(columns - 1, column + reach); ++c)
                        flat += flatCount[tileAt(c, r)];
                if (flat >= kEnoughFlat)
                    break;
            }
            reach = std::min(reach, kFarthestReach);
            if (tileGrain > kNoise)
                flat = 0;
            const std::vector<uint16_t>& source = flat > 0 ? histograms : allHistograms;
            std::array<int, 257> cumulative{};
            for (int r = std::max(0, row - reach); r <= std::min(rows - 1, row + reach); ++r)
                for (int c = std::max(0, column - reach); c <= std::min(columns - 1, column + reach); ++c) {
                    const uint16_t* histogram = &source[tileAt(c, r) * 256];
                    for (int level = 0; level < 256; ++level)
                        cumulative[size_t(level) + 1] += histogram[level];
                }
            for (size_t level = 1; level < cumulative.size(); ++level)
                cumulative[level] += cumulative[level - 1];
            const auto modeOf = [levelsAround](const auto& counts) {
                int best = 0, bestCount = -1;
                for (int level = 0; level < 256; ++level) {
                    const int count = counts[size_t(std::min(255, level + levelsAround)) + 1]
                                      - counts[size_t(std::max(0, level - levelsAround))];
                    if (count > bestCount) {
                        best = level;
                        bestCount = count;
                    }
                }
                return best;
            };
            // The tile's own most common grey stands where the window has background-like pixels
            // of it: a button or a banner less tall than the window, on a page of another colour.
            // Inside a large character it is the ink, of which the window has none.
            std::array<int, 257> own{};
            const uint16_t* histogram = &allHistograms[tileAt(column, row) * 256];
            for (int level = 0; level < 256; ++level)
                own[size_t(level) + 1] = own[size_t(level)] + histogram[level];
            const int ownMode = modeOf(own);
            int ownFlat = cumulative[size_t(std::min(255, ownMode + kBackgroundSpread)) + 1]
                          - cumulative[size_t(std::max(0, ownMode - kBackgroundSpread))];
            int pageMode = -1; // the window's most common grey, found where it is needed
            // A band of the tile's own grey vouches for it where the tile holds something that
            // stands out of it more than the page around does: the text in a bubble. A thick stroke
            // of a large character holds nothing but the page around it.
            if (flat > 0 && ownFlat < kOwnBackground) {
                int lowest = 0, highest = 255;
                while (lowest < 255 && histogram[lowest] == 0)
                    ++lowest;
                while (highest > 0 && histogram[highest] == 0)
                    --highest;
                const int standsOut = std::max(highest - ownMode, ownMode - lowest);
                pageMode = modeOf(cumulative);
                if (standsOut > std::abs(pageMode - ownMode) + kNoise) {
                    const int top = std::max(0, row - 1) * kTile, bottom = std::min(height, (row + 2) * kTile);
                    const int left = std::max(0, column - 1) * kTile, right = std::min(width, (column + 2) * kTile);
                    for (int y = top; y < bottom && ownFlat < kOwnBackground; ++y) {
                        const uint8_t* line = &grey[size_t(y) * size_t(width)];
                        for (int x = left; x < right; ++x)
                            if (std::abs(line[x] - ownMode) <= kBackgroundSpread && inBand(x, y))
                                ++ownFlat;
                    }
                }
            }
            backgroundGrey[tileAt(column, row)] = flat > 0 && ownFlat >= kOwnBackground ? ownMode
                                                   : pageMode >= 0                        ? pageMode
                                                                                          : modeOf(cumulative);
        }
    }

    // The background's colour: the tile's pixels of about that grey, on average.
    std::vector<QRgb> background(tiles);
    for (int row = 0; row < rows; ++row) {
        for (int column = 0; column < columns; ++column) {
            const int grey = backgroundGrey[tileAt(column, row)];
            const int spread = std::max(kBackgroundSpread, kGrainForBackground * grain[tileAt(column, row)]);
            long red = 0, green = 0, blue = 0, count = 0;
            for (int y = row * kTile; y < std::min(height, (row + 1) * kTile); ++y) {
                const auto* line = reinterpret_cast<const QRgb*>(rgb.constScanLine(y));
                for (int x = column * kTile; x < std::min(width, (column + 1) * kTile); ++x) {
                    if (std::abs(qGray(line[x]) - grey) <= spread) {
                        red += qRed(line[x]);
                        green += qGreen(line[x]);
                        blue += qBlue(line[x]);
                        ++count;
                    }
                }
            }
            background[tileAt(column, row)] =
                count > 0 ? qRgb(int(red / count), int(green / count), int(blue / count)) : qRgb(grey, grey, grey);
        }
    }

    std::vector<std::vector<Bar>> bars = barsOf(rgb, grey, backgroundGrey, columns);
    const std::vector<Bar> tightBars = addTightBars(bars, grey, width, height, backgroundGrey, columns);

    // Each pixel against the backgrounds of the four tiles whose centres surround it, the nearest
    // of them counting: a background shaded from tile to tile matches one of them, and so does
    // a pixel on either side of the edge of a window or a panel.
    std::vector<int> firstColumn(static_cast<size_t>(width));
    std::vector<int> firstRow(static_cast<size_t>(height));
    for (int x = 0; x < width; ++x)
        firstColumn[size_t(x)] = std::clamp((x - kTile / 2) / kTile, 0, columns - 1);
    for (int y = 0; y < height; ++y)
        firstRow[size_t(y)] = std::clamp((y - kTile / 2) / kTile, 0, rows - 1);
    std::vector<uint8_t> difference(size_t(width) * size_t(height));
    std::vector<int> largest(tiles, 0);
    for (int y = 0; y < height; ++y) {
        const auto* line = reinterpret_cast<const QRgb*>(rgb.constScanLine(y));
        const int row0 = firstRow[size_t(y)];
        const int row1 = std::min(row0 + 1, rows - 1);
        uint8_t* out = &difference[size_t(y) * size_t(width)];
        for (int x = 0; x < width; ++x) {
            const int column0 = firstColumn[size_t(x)];
            const int column1 = std::min(column0 + 1, columns - 1);
            out[x] = uint8_t(std::min({distance(line[x], background[tileAt(column0, row0)]),
                                       distance(line[x], background[tileAt(column1, row0)]),
                                       distance(line[x], background[tileAt(column0, row1)]),
                                       distance(line[x], background[tileAt(column1, row1)])}));
        }
        // Inside a bar, its own colour is the background, above and below the pixel (a bar
        // shaded across has it at every column, smoothed over a few columns against JPEG's
        // ripples), where a tile around would take the page for it; where all the tiles around
        // found the bar, they judge as well.
        if (!bars.empty()) {
            for (const Bar& bar : bars[size_t(y)]) {
                const auto* above = reinterpret_cast<const QRgb*>(rgb.constScanLine(bar.top));
                const auto* below = reinterpret_cast<const QRgb*>(rgb.constScanLine(bar.bottom));
                std::array<int, 3> sum{};
                int count = 0;
                const auto add = [&](int x, int sign) {
                    x = std::clamp(x, bar.colourLeft, bar.colourRight - 1);
                    sum[0] += sign * (qRed(above[x]) + qRed(below[x]));
                    sum[1] += sign * (qGreen(above[x]) + qGreen(below[x]));
                    sum[2] += sign * (qBlue(above[x]) + qBlue(below[x]));
                    count += sign * 2;
                };
                for (int x = bar.left - kBarSmoothing; x < bar.left + kBarSmoothing; ++x)
                    add(x, 1);
                for (int x = bar.left; x < bar.right; ++x) {
                    add(x + kBarSmoothing, 1);
                    if (x > bar.left)
                        add(x - kBarSmoothing - 1, -1);
                    const QRgb own = qRgb(sum[0] / count, sum[1] / count, sum[2] / count);
                    const int column0 = firstColumn[size_t(x)];
                    const int column1 = std::min(column0 + 1, columns - 1);
                    if (std::max({distance(own, background[tileAt(column0, row0)]),
                                  distance(own, background[tileAt(column1, row0)]),
                                  distance(own, background[tileAt(column0, row1)]),
                                  distance(own, background[tileAt(column1, row1)])})
                        > kLeastContrast)
                        out[x] = uint8_t(distance(line[x], own));
                }
            }
        }
    }
    judgeAroundPanels(rgb, grey, difference);
    for (int y = 0; y < height; ++y) {
        const uint8_t* out = &difference[size_t(y) * size_t(width)];
        for (int x = 0; x < width; ++x) {
            int& tileLargest = largest[tileAt(x / kTile, y / kTile)];
            tileLargest = std::max(tileLargest, int(out[x]));
        }
    }

    // The text in a tight bar has its own contrast, less than the bar's against the page around
    // (white strokes a pixel or two thick on a saturated colour come out of JPEG half as bright),
    // and the bar's colour, taken from its edge rows, which blend with what lies around, differs
    // a little from its colour inside: the bar's own pixels, most of it, differ by a few levels.
    // What differs no more than they do stays white, the text is stretched to the whole range
    // (the contrast of the text around, in the tiles the bar crosses, stays as it was).
    for (const Bar& bar : tightBars) {
        // A list's outline runs on past its selected row, down its side right next to it: where a
        // column by the bar's ends (short of where a caption starts, a few pixels in) is a line
        // above and below it, it is that line through the bar's rows too, as dark as it is beyond
        // them (the tiles there can take the bar's colour, of about the outline's grey, for the
        // background), or the outline, cut there, is no frame any more and its pieces are read
        // as strokes (an "I" by the row above).
        constexpr int kOutline = 4;
        std::vector<std::pair<int, uint8_t>> outlines;
        for (int x = bar.left - kOutline; x < bar.right + kOutline; ++x) {
            if (x < 0 || x >= width || (x >= bar.left + 2 && x < bar.right - 2))
                continue;
            bool line = bar.top - 2 * kOutline >= 0 && bar.bottom + 2 * kOutline < height;
            int faintest = 255;
            for (int k = kOutline; line && k < 2 * kOutline; ++k) {
                const int above = difference[size_t(bar.top - k) * size_t(width) + size_t(x)];
                const int below = difference[size_t(bar.bottom + k) * size_t(width) + size_t(x)];
                line = above > kLeastBarContrast && below > kLeastBarContrast;
                faintest = std::min({faintest, above, below});
            }
            if (line)
                outlines.emplace_back(x, uint8_t(faintest));
        }
        std::vector<uint8_t> inside;
        for (int y = bar.top; y <= bar.bottom; ++y)
            for (int x = bar.left + 2; x < bar.right - 2; ++x)
                inside.push_back(difference[size_t(y) * size_t(width) + size_t(x)]);
        if (inside.empty())
            continue;
        const auto share = [&](int percent) {
            const auto at = inside.begin() + ptrdiff_t(inside.size() * size_t(percent) / 100);
            std::nth_element(inside.begin(), at, inside.end());
            return int(*at);
        };
        const int own = share(60) + kNoise;
        const int most = share(100 - 1);
        // A caption is of one colour on its bar, lighter than it or darker, while JPEG ripples
        // the bar both ways beside the strokes, and its colour more than its lightness (it keeps
        // colour at half the resolution): what is no lighter than the bar, or no darker, on the
        // side most of what stands out the most is on, is ripple and stays white once stretched.
        const int barGrey = medianGreyInside(grey, width, bar);
        int lighter = 0, darker = 0;
        for (int y = bar.top; y <= bar.bottom; ++y)
            for (int x = bar.left + 2; x < bar.right - 2; ++x)
                if (difference[size_t(y) * size_t(width) + size_t(x)] >= most)
                    (grey[size_t(y) * size_t(width) + size_t(x)] > barGrey ? lighter : darker) += 1;
        const int captionSide = lighter > 2 * darker ? 1 : darker > 2 * lighter ? -1 : 0;
        // The tiles around take the bar's colour for the background of the rows beside it too
        // (the list's rows next to the selected one): there a pixel is ink only as far as it
        // differs from the colour the row next to the bar has along most of it. (Judged before
        // the bar's edges are, which take what lies beyond them for theirs.)
        for (const int side : {-1, 1}) {
            const int next = side < 0 ? bar.top - 3 : bar.bottom + 3;
            if (next < 0 || next >= height)
                continue;
            const auto* line = reinterpret_cast<const QRgb*>(rgb.constScanLine(next));
            std::array<std::vector<int>, 3> channels;
            for (int x = bar.left; x < bar.right; ++x) {
                channels[0].push_back(qRed(line[x]));
                channels[1].push_back(qGreen(line[x]));
                channels[2].push_back(qBlue(line[x]));
            }
            for (std::vector<int>& channel : channels)
                std::nth_element(channel.begin(), channel.begin() + ptrdiff_t(channel.size() / 2), channel.end());
            const QRgb beside = qRgb(channels[0][channels[0].size() / 2], channels[1][channels[1].size() / 2],
                                     channels[2][channels[2].size() / 2]);
            std::vector<uint8_t> besideGreys(&grey[size_t(next) * size_t(width) + size_t(bar.left)],
                                             &grey[size_t(next) * size_t(width) + size_t(bar.right)]);
            std::nth_element(besideGreys.begin(), besideGreys.begin() + ptrdiff_t(besideGreys.size() / 2),
                             besideGreys.end());
            const int besideGrey = besideGreys[besideGreys.size() / 2];
            for (int k = 1; k <= kBarHeight / 2; ++k) {
                const int y = side < 0 ? bar.top - k : bar.bottom + k;
                if (y < 0 || y >= height)
                    break;
                const auto* pixels = reinterpret_cast<const QRgb*>(rgb.constScanLine(y));
                const uint8_t* greys = &grey[size_t(y) * size_t(width)];
                uint8_t* out = &difference[size_t(y) * size_t(width)];
                // JPEG keeps colour at half the resolution and smears a saturated bar's colour
                // over the rows next to it, as far as a block of colour reaches, their lightness
                // hardly: there a pixel of about the row's lightness is no ink, whatever its hue.
                const bool smeared = k <= 2 * kJpegBlock;
                for (int x = bar.left; x < bar.right; ++x) {
                    const int lightness = std::abs(greys[x] - besideGrey);
                    const int against =
                        smeared && lightness <= kBackgroundSpread ? lightness : distance(pixels[x], beside);
                    out[x] = uint8_t(std::min(int(out[x]), against));
                }
            }
        }
        // The smear reaches past the bar's ends too, into what lies beside its rows (a list's
        // outline and the window around it): there as well a pixel of about the lightness that
        // strip has along most of it is no ink.
        for (const int side : {-1, 1}) {
            const int from = side < 0 ? std::max(0, bar.left - 2 * kJpegBlock) : std::min(width, bar.right + 1);
            const int to = side < 0 ? std::max(0, bar.left - 1) : std::min(width, bar.right + 2 * kJpegBlock);
            if (to - from < 2)
                continue;
            std::vector<uint8_t> strip;
            for (int y = bar.top; y <= bar.bottom; ++y)
                strip.insert(strip.end(), &grey[size_t(y) * size_t(width) + size_t(from)],
                             &grey[size_t(y) * size_t(width) + size_t(to)]);
            std::nth_element(strip.begin(), strip.begin() + ptrdiff_t(strip.size() / 2), strip.end());
            const int stripGrey = strip[strip.size() / 2];
            for (int y = std::max(0, bar.top - 2 * kJpegBlock); y <= std::min(height - 1, bar.bottom + 2 * kJpegBlock);
                 ++y) {
                const uint8_t* greys = &grey[size_t(y) * size_t(width)];
                uint8_t* out = &difference[size_t(y) * size_t(width)];
                for (int x = from; x < to; ++x)
                    if (std::abs(greys[x] - stripGrey) <= kBackgroundSpread)
                        out[x] = uint8_t(std::min(int(out[x]), std::abs(greys[x] - stripGrey)));
            }
        }
        // Its edges blend its colour with what lies around: a pixel between the two, give or
        // take the least contrast of text, is no ink.
        const int level = barGrey;
        const auto blend = [&](int x, int y, int dx, int dy) {
            const int ox = x + dx, oy = y + dy;
            if (x < 0 || y < 0 || x >= width || y >= height || ox < 0 || oy < 0 || ox >= width || oy >= height)
                return;
            const int value = grey[size_t(y) * size_t(width) + size_t(x)];
            const int outside = grey[size_t(oy) * size_t(width) + size_t(ox)];
            if (value >= std::min(level, outside) - kLeastContrast &&
                value <= std::max(level, outside) + kLeastContrast) {
                uint8_t& here = difference[size_t(y) * size_t(width) + size_t(x)];
                here = std::min(here, difference[size_t(oy) * size_t(width) + size_t(ox)]);
            }
        };
        // JPEG blurs a saturated colour over two pixels, and a button has an outline and a
        // highlight inside it: the bar's edges blend over a few pixels, its own outermost too.
        // (Over fewer rows than columns: the rows next to a list's selected row hold text.)
        constexpr int kEdge = 3;
        for (int x = bar.left - kEdge; x < bar.right + kEdge; ++x) {
            blend(x, bar.top - 1, 0, -1);
            blend(x, bar.top, 0, -2);
            blend(x, bar.bottom + 1, 0, 1);
            blend(x, bar.bottom, 0, 2);
        }
        for (int y = bar.top - kEdge; y <= bar.bottom + kEdge; ++y) {
            for (int k = 0; k <= kEdge; ++k) {
                blend(bar.left - kEdge + k, y, -k - 1, 0);
                blend(bar.right - 1 + kEdge - k, y, k + 1, 0);
            }
        }
        // Where nothing stands out of the bar by much, there is no text in it to stretch.
        const int range = most - own >= kLeastContrast / 2 ? most - own : 255;
        for (int y = bar.top; y <= bar.bottom; ++y) {
            uint8_t* out = &difference[size_t(y) * size_t(width)];
            const uint8_t* in = &grey[size_t(y) * size_t(width)];
            for (int x = bar.left; x < bar.right; ++x) {
                const int lift = captionSide != 0 ? captionSide * (in[x] - barGrey) : std::abs(in[x] - barGrey);
                out[x] = lift <= kNoise ? 0 : uint8_t(std::clamp((out[x] - own) * 255 / range, 0, 255));
            }
        }
        // JPEG leaves the bar's ends, a corner most of all, a little off its colour, faint after
        // the stretch and read as a stroke beside the row above or below; the caption is a few
        // pixels in from them and stretched to full contrast, its blending with the bar aside.
        for (int y = bar.top; y <= bar.bottom; ++y) {
            uint8_t* out = &difference[size_t(y) * size_t(width)];
            for (int k = 0; k <= kEdge; ++k)
                for (const int x : {bar.left + k, bar.right - 1 - k})
                    if (x >= 0 && x < width && out[x] < 128)
                        out[x] = 0;
        }
        for (const auto& [x, ink] : outlines)
            for (int y = bar.top - kOutline; y <= bar.bottom + kOutline; ++y) {
                uint8_t& here = difference[size_t(y) * size_t(width) + size_t(x)];
                here = std::max(here, ink);
            }
    }

    // The text's contrast: the largest difference in the tile's window.
    std::vector<int> contrast(tiles);
    for (int row = 0; row < rows; ++row)
        for (int column = 0; column < columns; ++column) {
            int most = kLeastContrast;
            for (int r = std::max(0, row - 1); r <= std::min(rows - 1, row + 1); ++r)
                for (int c = std::max(0, column - 1); c <= std::min(columns - 1, column + 1); ++c)
                    most = std::max(most, largest[tileAt(c, r)]);
            contrast[tileAt(column, row)] = most;
        }

    for (int y = 0; y < height; ++y) {
        const uint8_t* in = &difference[size_t(y) * size_t(width)];
        uchar* out = result.scanLine(y);
        for (int x = 0; x < width; ++x) {
            const size_t tile = tileAt(x / kTile, y / kTile);
            const int most = contrast[tile];
            // On grain, what differs by less than a few grains is grain and stays white, and the
            // text's contrast is what lies above it: the grain that is left in a stroke would
            // otherwise break it into specks.
            // Where nothing stands out of the grain by that much, all is grain (white noise).
            const int noise = std::max(kGrainForNoise * grain[tile], kNoise);
            if (noise >= most) {
                out[x] = 255;
                continue;
            }
            // What is left of a thin stroke on grain is as dark as black from half the contrast.
            const int range = noise == kNoise ? most - noise : std::max(1, (most - noise) / 2);
            const int ink = in[x] < noise                                 ? 0
                            : most >= kFullContrast && noise == kNoise ? in[x]
                                                   : std::min((in[x] - noise) * 255 / range, 255);
            out[x] = uchar(255 - ink);
        }
    }
    return result;
}

// Text scaled down after it was drawn (a screenshot shrunk to fit a message, a window captured
// at a lower scale) reaches the picture blurred: its strokes fade into the paper over a ramp of
// greys two pixels wide or more, where antialiased text drawn at its size fades over one pixel at
// most (its coverage is of the pixel the stroke's edge falls in). Counted along rows and columns,
// from each ink pixel to the paper beside it: where at least kBlurredEdges of such edges are
// ramps, the text was blurred. Measured on the interface pictures read scaled up (text of 18 px
// and less): crisp ones, plain, dark, on colour or a gradient, have a tenth to a fifth of their
// edges ramps, but the faint strokes of a Ming face or WenQuanYi at 12-14 px up to 0.46 (a
// quarter of such panels pass for blurred); scaled down to three quarters, mostly a third to
// all, a few a fifth; JPEG's ringing a quarter.
constexpr double kBlurredEdges = 0.3;
constexpr int kInkBelow = 64;
constexpr int kPaperFrom = 224;

bool blurredByScaling(const QImage& grey)
{
    qint64 steep = 0;
    qint64 ramps = 0;
    const auto walk = [&](auto&& at, int length, int count) {
        for (int i = 0; i < count; ++i)
            for (int j = 0; j < length; ++j) {
                if (at(i, j) >= kInkBelow)
                    continue;
                for (const int step : {-1, 1}) {
                    int k = j + step;
                    if (k < 0 || k >= length || at(i, k) < kInkBelow)
                        continue;
                    int greys = 0;
                    while (k >= 0 && k < length && at(i, k) >= kInkBelow && at(i, k) < kPaperFrom) {
                        ++greys;
                        k += step;
                    }
                    // Greys between two strokes, or at the picture's edge, are no edge to paper.
                    if (k < 0 || k >= length || at(i, k) < kInkBelow)
                        continue;
                    (greys >= 2 ? ramps : steep) += 1;
                }
            }
    };
    walk([&](int y, int x) { return int(grey.constScanLine(y)[x]); }, grey.width(), grey.height());
    walk([&](int x, int y) { return int(grey.constScanLine(y)[x]); }, grey.height(), grey.width());
    return ramps > 0 && double(ramps) >= kBlurredEdges * double(steep + ramps);
}

} // namespace Platform::TextPicture
