#include "ChineseScript.h"

#include <QHash>

#include <Config.hpp>
#include <Conversion.hpp>
#include <ConversionChain.hpp>
#include <Converter.hpp>
#include <Dict.hpp>
#include <DictEntry.hpp>
#include <Exception.hpp>

#include <algorithm>
#include <mutex>

namespace Platform::ChineseScript {

namespace {

// One OpenCC converter, loaded at first use; none when OpenCC's tables are missing.
class Converter
{
public:
    explicit Converter(const char* configuration)
    {
        try {
            opencc::Config config;
            m_converter = config.NewFromFile(configuration);
        } catch (const opencc::Exception&) {
            m_converter.reset();
        }
    }

    bool loaded() const { return m_converter != nullptr; }

    QString convert(const QString& text) const
    {
        if (!loaded() || text.isEmpty())
            return text;
        // OpenCC documents no thread safety for a shared converter.
        const std::lock_guard lock(m_mutex);
        try {
            return QString::fromStdString(m_converter->Convert(text.toStdString()));
        } catch (const opencc::Exception&) {
            return text;
        }
    }

    // Whether the character's entry in the conversion's first table (the other script's forms of
    // a character, the first the usual one) leaves it no form of its own: 這 is only traditional,
    // while 台 also stands in traditional text, beside 臺 and 颱.
    bool onlyOfItsScript(const QString& character) const
    {
        if (!loaded())
            return false;
        const std::lock_guard lock(m_mutex);
        const std::list<opencc::ConversionPtr> conversions = m_converter->GetConversionChain()->GetConversions();
        if (conversions.empty())
            return false;
        const std::string key = character.toStdString();
        const opencc::Dict& table = *conversions.front()->GetDict();
        const opencc::Optional<const opencc::DictEntry*> entry = table.Match(key);
        if (entry.IsNull())
            return false;
        const std::vector<std::string> forms = entry.Get()->Values();
        return !forms.empty() && std::find(forms.begin(), forms.end(), key) == forms.end();
    }

private:
    opencc::ConverterPtr m_converter;
    mutable std::mutex m_mutex;
};

// To traditional, OpenCC's standard forms with Taiwan's variants of a few (為 rather than 爲, 裡
// rather than 裏), which interfaces written in traditional Chinese use. To simplified, from either.
const Converter& toTraditionalConverter()
{
    static const Converter converter("s2tw.json");
    return converter;
}

const Converter& toSimplifiedConverter()
{
    static const Converter converter("t2s.json");
    return converter;
}

QStringList converted(const QStringList& characters, const Converter& converter)
{
    if (characters.isEmpty() || !converter.loaded())
        return characters;
    // Converted whole, the text is split back one character per entry by code points, which
    // holds when every entry is one code point and the conversion keeps their number.
    bool oneEach = true;
    for (const QString& character : characters)
        oneEach = oneEach && character.toUcs4().size() == 1;
    if (oneEach) {
        const QList<uint> whole = converter.convert(characters.join(QString())).toUcs4();
        if (whole.size() == characters.size()) {
            QStringList result;
            result.reserve(characters.size());
            for (const uint codePoint : whole)
                result.append(QString::fromUcs4(reinterpret_cast<const char32_t*>(&codePoint), 1));
            return result;
        }
    }
    QStringList result;
    result.reserve(characters.size());
    for (const QString& character : characters) {
        const QString one = converter.convert(character);
        result.append(one.toUcs4().size() == character.toUcs4().size() ? one : character);
    }
    return result;
}

} // namespace

Form formOf(const QString& character)
{
    if (character.isEmpty())
        return Form::both;
    // A recognition asks about each of its characters several times, and a session about the same
    // few thousand characters: each is converted once. Bounded, since a session can meet many.
    static std::mutex mutex;
    static QHash<QString, Form> known;
    constexpr qsizetype kMostKept = 8192;
    {
        const std::lock_guard lock(mutex);
        if (const auto found = known.constFind(character); found != known.cend())
            return *found;
    }
    Form form = Form::both;
    if (toSimplifiedConverter().onlyOfItsScript(character))
        form = Form::traditional;
    else if (toTraditionalConverter().onlyOfItsScript(character))
        form = Form::simplified;
    const std::lock_guard lock(mutex);
    if (known.size() >= kMostKept)
        known.clear();
    known.insert(character, form);
    return form;
}

QStringList toTraditional(const QStringList& characters)
{
    return converted(characters, toTraditionalConverter());
}

QStringList toSimplified(const QStringList& characters)
{
    return converted(characters, toSimplifiedConverter());
}

bool available()
{
    return toTraditionalConverter().loaded() && toSimplifiedConverter().loaded();
}

} // namespace Platform::ChineseScript
