#include <QuillomareCore/IcuRegex.h>

#include "TestSupport.h"

#include <unicode/regex.h>

#include <memory>

using namespace QuillomareCore;
using namespace QuillomareTest;

namespace {

std::unique_ptr<icu::RegexMatcher> engineMatcher(const char* pattern)
{
    UErrorCode status = U_ZERO_ERROR;
    auto matcher = std::make_unique<icu::RegexMatcher>(icu::UnicodeString::fromUTF8(pattern), 0, status);
    return U_SUCCESS(status) ? std::move(matcher) : nullptr;
}

QString fromCodePoint(char32_t codePoint)
{
    return QString::fromUcs4(&codePoint, 1);
}

icu::UnicodeString toUnicode(const QString& text)
{
    return icu::UnicodeString(reinterpret_cast<const UChar*>(text.utf16()), int32_t(text.size()));
}

} // namespace

// The scans of the secret rules decide \w, \s, \d and \b themselves; the engine's own answers
// are the reference, for every code point.
class IcuRegexTest : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void characterClassesAreTheEngines()
    {
        struct Class
        {
            const char* pattern;
            bool (*ours)(char32_t);
        };
        const Class classes[] = {{"\\w", IcuRegex::isWordCharacter},
                                 {"\\s", IcuRegex::isSpace},
                                 {"\\d", IcuRegex::isDigit}};
        for (const Class& c : classes) {
            const auto matcher = engineMatcher(c.pattern);
            QVERIFY(matcher);
            int differences = 0;
            QString first;
            for (char32_t codePoint = 0; codePoint <= 0x10FFFF; ++codePoint) {
                UErrorCode status = U_ZERO_ERROR;
                matcher->reset(icu::UnicodeString(UChar32(codePoint)));
                const bool engine = matcher->matches(status);
                QVERIFY(U_SUCCESS(status));
                if (engine != c.ours(codePoint) && differences++ == 0)
                    first = QStringLiteral("U+%1").arg(uint(codePoint), 4, 16, QLatin1Char('0'));
            }
            QVERIFY2(differences == 0,
                     qPrintable(QStringLiteral("%1: %2 code points differ, first %3")
                                    .arg(QString::fromLatin1(c.pattern))
                                    .arg(differences)
                                    .arg(first)));
        }
    }

    // Every code point between a word character and a non-word one, on either side: whether it
    // is a word character, and whether \b looks through it to the character before it.
    void wordBoundaryIsTheEnginesBesideEveryCodePoint()
    {
        const auto matcher = engineMatcher("\\b");
        QVERIFY(matcher);
        int differences = 0;
        QString first;
        for (char32_t codePoint = 0; codePoint <= 0x10FFFF; ++codePoint) {
            if (codePoint >= 0xD800 && codePoint <= 0xDFFF)
                continue; // lone surrogates are checked below
            const QString middle = fromCodePoint(codePoint);
            for (const QString& text : {u'a' + middle + u'-', u'-' + middle + u'a', u'a' + middle + u'a',
                                        u'-' + middle + u'-'}) {
                const icu::UnicodeString unicode = toUnicode(text);
                matcher->reset(unicode);
                for (qsizetype position = 0; position <= text.size(); ++position) {
                    UErrorCode status = U_ZERO_ERROR;
                    const bool engine = matcher->lookingAt(position, status);
                    if (engine != IcuRegex::isWordBoundary(text, position) && differences++ == 0)
                        first = QStringLiteral("U+%1 at %2").arg(uint(codePoint), 4, 16, QLatin1Char('0')).arg(position);
                }
            }
        }
        // Unpaired surrogates and runs of characters \b looks through.
        for (const QString& text :
             {QStringLiteral("a\xD800"), QStringLiteral("\xDC00" "a"), QStringLiteral("-\xDBFF-"),
              QStringLiteral("a\u0301\u0301\u00AD\uFEFF-"), QStringLiteral("-\u200D\u0301a"),
              QStringLiteral("\u0301\u0301a"), QStringLiteral("a\u0301\u0301"), QStringLiteral("😀\u0301x")}) {
            const icu::UnicodeString unicode = toUnicode(text);
            matcher->reset(unicode);
            for (qsizetype position = 0; position <= text.size(); ++position) {
                if (position > 0 && position < text.size() && text[position].isLowSurrogate() &&
                    text[position - 1].isHighSurrogate())
                    continue; // the engine never stands inside a pair
                UErrorCode status = U_ZERO_ERROR;
                const bool engine = matcher->lookingAt(position, status);
                if (engine != IcuRegex::isWordBoundary(text, position) && differences++ == 0)
                    first = text + QStringLiteral(" at %1").arg(position);
            }
        }
        QVERIFY2(differences == 0, qPrintable(QStringLiteral("%1 differences, first %2").arg(differences).arg(first)));
    }

    // A match from a position still sees the text before it.
    void matchesSeeTheTextBeforeTheirStart()
    {
        const IcuRegex::Expression word(QStringLiteral("\\bkey\\b"));
        QVERIFY(word.isValid());
        QCOMPARE(word.match(u"monkey key", 3).capturedStart(), 7);
        QCOMPARE(word.match(u"a key!", 2).capturedEnd(), 5);
        QVERIFY(!word.match(u"a keys", 2).hasMatch());

        const IcuRegex::Expression broken(QStringLiteral("(unclosed"));
        QVERIFY(!broken.isValid());
        QVERIFY(!broken.errorString().isEmpty());
        QVERIFY(!broken.match(u"(unclosed").hasMatch());
    }
};

QUILLOMARE_TEST_MAIN(IcuRegexTest)
#include "tst_icuregex.moc"
