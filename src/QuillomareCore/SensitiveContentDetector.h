#pragma once

#include <QList>
#include <QRegularExpression>
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
// Every rule answers in time linear in the text: where the regular-expression engine would try
// each of many starts against the same long run (tokens, card numbers), the rule is found by a
// scan that gives the expression's own matches.
class SensitiveContentDetector
{
public:
    struct Pattern
    {
        QString label;
        QRegularExpression expression;
    };

    SensitiveContentDetector();

    std::optional<SensitiveMatch> firstMatch(const QString& text) const;
    bool isSensitive(const QString& text) const { return firstMatch(text).has_value(); }

    const QList<Pattern>& patterns() const { return m_patterns; }

    // The same rules compiled anew: for use on another thread, where sharing the compiled
    // expressions of this one would be a data race.
    SensitiveContentDetector isolatedCopy() const;

    // The checksum card numbers carry; exposed for tests of its corner cases.
    static bool passesLuhn(const QString& numberCharacters);

private:
    static std::optional<TextRange> firstCardNumber(const QRegularExpression& expression, const QString& text);
    std::optional<TextRange> firstJWT(const QString& text) const;
    bool isWordBoundary(const QString& text, qsizetype position) const;
    bool isWordCharacter(char32_t codePoint) const;

    QList<Pattern> m_patterns;
    // The engine's own word character, for neighbours outside ASCII.
    QRegularExpression m_wordCharacter;
};

} // namespace QuillomareCore
