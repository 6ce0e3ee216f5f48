#pragma once

// The words recognised in a previewed picture, as the card selects and copies them: each word's
// box in the picture (normalised to 0…1, origin at the upper left, the way the card draws), its
// line, and reading order. A selection is a run of words in reading order between the word where
// a drag began and the word it reached, so it spans lines the way a text selection does.

#include <Platform/TextRecognizer.h>

#include <QList>
#include <QPointF>
#include <QRectF>
#include <QSizeF>
#include <QString>

#include <optional>

namespace QuillomareMac {

struct LiveTextWord
{
    QString text;
    QRectF box;
    int line = 0;
};

class LiveTextLayout
{
public:
    // Words the engine is less sure of than this are mostly noise read into photos and icons.
    static constexpr float minimumConfidence = 30.0F;

    LiveTextLayout() = default;
    // The recognised words with enough confidence, in the engine's reading order, boxes flipped
    // to the upper-left origin and stretched to their line's height (so a selection stands level
    // along a line). Lines left without words are dropped.
    static LiveTextLayout fromRecognition(const Platform::TextRecognizer::Result& result);
    // Words given directly, in reading order (tests, cached results).
    explicit LiveTextLayout(QList<LiveTextWord> words);

    const QList<LiveTextWord>& words() const { return m_words; }
    bool isEmpty() const { return m_words.isEmpty(); }

    // The word whose box, grown by `slop` on every side, holds the point; the nearest such word
    // when several do. Absent when none.
    std::optional<int> wordAt(QPointF point, QSizeF slop = {}) const;
    // The word a drag that reached `point` selects up to: on the line level with the point (else
    // the line nearest to it), the last word that begins left of the point, or that line's first
    // word. Absent when there are no words.
    std::optional<int> wordReachedAt(QPointF point) const;

    // The words `first`…`last` (either order) joined: a line feed between lines, nothing between
    // two words when either side of the join is Chinese, Japanese or Korean writing or full-width
    // punctuation, else one space.
    QString text(int first, int last) const;
    // One box per line for the words `first`…`last`, from the first selected word's left to the
    // last one's right on that line.
    QList<QRectF> selectionBoxes(int first, int last) const;

    // Whether a join of `before` and `after` needs no space (see text()).
    static bool joinsWithoutSpace(const QString& before, const QString& after);

private:
    QList<LiveTextWord> m_words;
};

} // namespace QuillomareMac
