#pragma once

#include "IcuRegex.h"

#include <QList>
#include <QString>

#include <optional>

namespace QuillomareCore {

// A span of a text in UTF-16 code units, as QString counts.
struct TextRange
{
    qsizetype location = 0;
    qsizetype length = 0;
    friend bool operator==(const TextRange&, const TextRange&) = default;
};

struct SensitiveMatch
{
    QString label;
    std::optional<TextRange> range;
    friend bool operator==(const SensitiveMatch&, const SensitiveMatch&) = default;
};

// Decides whether a copied text looks like a secret. The rules are tried in a fixed order and
// the first one that matches anywhere answers, so a private key wins over a token in the same text.
// The rules are ICU regular expressions and mean what they mean on ICU's engine (its \b, \w, \d
// and \s). Every rule answers in time linear in the text: the engine would try each of many
// starts against the same long run (tokens, card numbers, blanks after a key word) and gives up
// on long runs altogether (its backtracking limit), so each rule is found by a scan that gives the
// expression's own first match, with the engine's character classes, word boundaries and case
// folding. The tests hold every scan to the engine.
class SensitiveContentDetector
{
public:
    struct Pattern
    {
        QString label;
        IcuRegex::Expression expression;
    };

    SensitiveContentDetector();

    std::optional<SensitiveMatch> firstMatch(const QString& text) const;
    bool isSensitive(const QString& text) const { return firstMatch(text).has_value(); }

    const QList<Pattern>& patterns() const { return m_patterns; }

    // The same rules compiled anew, sharing nothing with this one: for use on another thread.
    // (A detector holds no matching state, but each thread having its own keeps that promise
    // independent of how the engine guards its compiled expressions.)
    SensitiveContentDetector isolatedCopy() const;

    // The checksum card numbers carry; exposed for tests of its corner cases.
    static bool passesLuhn(const QString& numberCharacters);

private:
    enum class Rule
    {
        privateKey,
        jwt,
        accessToken,
        awsAccessKey,
        openAIKey,
        stripeKey,
        creditCard
    };

    void compile();
    std::optional<TextRange> find(Rule rule, QStringView text) const;

    QList<Pattern> m_patterns;
    QList<Rule> m_rules; // the rule of each pattern
};

} // namespace QuillomareCore
