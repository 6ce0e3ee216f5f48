#pragma once

// How a reading of a picture compares with what was drawn, beyond the share of characters read
// right (RecognitionPictures::editDistance): whether a drawn line was read at all where it stands,
// and which Traditional characters came back in their Simplified form.

#include <QChar>
#include <QHash>
#include <QList>
#include <QRegularExpression>
#include <QString>

#include <algorithm>
#include <vector>

namespace RecognitionScores {

inline QString withoutBlanks(QString text)
{
    static const QRegularExpression blanks(QStringLiteral("\\s+"));
    text.remove(blanks);
    return text;
}

// For each character of `expected`, the index of the character of `read` that an alignment of
// fewest edits pairs it with (the same character or the one read in its place), or -1 where the
// reading left it out. Blanks are characters here: remove them first.
inline QList<qsizetype> alignment(const QString& expected, const QString& read)
{
    const qsizetype n = expected.size();
    const qsizetype m = read.size();
    std::vector<qsizetype> distance(size_t((n + 1) * (m + 1)));
    const auto at = [&](qsizetype i, qsizetype j) -> qsizetype& { return distance[size_t(i * (m + 1) + j)]; };
    for (qsizetype i = 0; i <= n; ++i)
        at(i, 0) = i;
    for (qsizetype j = 0; j <= m; ++j)
        at(0, j) = j;
    for (qsizetype i = 1; i <= n; ++i)
        for (qsizetype j = 1; j <= m; ++j)
            at(i, j) = std::min(
                {at(i - 1, j) + 1, at(i, j - 1) + 1, at(i - 1, j - 1) + (expected[i - 1] == read[j - 1] ? 0 : 1)});
    QList<qsizetype> pairs(n, -1);
    qsizetype i = n;
    qsizetype j = m;
    while (i > 0 && j > 0) {
        if (at(i, j) == at(i - 1, j - 1) + (expected[i - 1] == read[j - 1] ? 0 : 1)) {
            pairs[i - 1] = j - 1;
            --i;
            --j;
        } else if (at(i, j) == at(i - 1, j) + 1) {
            --i;
        } else {
            --j;
        }
    }
    return pairs;
}

// The Traditional-only characters of a drawing (those `simplifiedOf` maps to a different
// Simplified form) and how many of them the reading answered in that Simplified form.
struct SimplifiedForms
{
    int traditionalOnly = 0;
    int answeredSimplified = 0;
};

inline SimplifiedForms simplifiedForms(const QString& expected, const QString& read,
                                       const QHash<QChar, QChar>& simplifiedOf)
{
    const QString drawn = withoutBlanks(expected);
    const QString answer = withoutBlanks(read);
    const QList<qsizetype> pairs = alignment(drawn, answer);
    SimplifiedForms forms;
    for (qsizetype i = 0; i < drawn.size(); ++i) {
        const auto simplified = simplifiedOf.constFind(drawn[i]);
        if (simplified == simplifiedOf.constEnd() || *simplified == drawn[i])
            continue;
        ++forms.traditionalOnly;
        if (pairs[i] >= 0 && answer[pairs[i]] == *simplified)
            ++forms.answeredSimplified;
    }
    return forms;
}

// The share of a drawn line's characters (blanks aside) that a reading has in the same order: its
// longest common subsequence with the reading, over the line's length. An empty line is found.
inline double shareFoundInOrder(const QString& line, const QString& read)
{
    const QString drawn = withoutBlanks(line);
    const QString answer = withoutBlanks(read);
    if (drawn.isEmpty())
        return 1;
    std::vector<qsizetype> row(size_t(answer.size()) + 1, 0);
    for (qsizetype i = 1; i <= drawn.size(); ++i) {
        qsizetype diagonal = 0;
        for (qsizetype j = 1; j <= answer.size(); ++j) {
            const qsizetype above = row[size_t(j)];
            row[size_t(j)] = drawn[i - 1] == answer[j - 1] ? diagonal + 1 : std::max(above, row[size_t(j - 1)]);
            diagonal = above;
        }
    }
    return double(row.back()) / double(drawn.size());
}

// A drawn line is missing from a reading when less than this share of its characters is read, in
// order, where the line stands: a line read with a few errors is a misreading, one of which little
// or nothing comes back has vanished.
constexpr double kMissingLineBelow = 0.3;

inline bool lineMissing(const QString& line, const QString& readWhereItStands)
{
    return shareFoundInOrder(line, readWhereItStands) < kMissingLineBelow;
}

} // namespace RecognitionScores
