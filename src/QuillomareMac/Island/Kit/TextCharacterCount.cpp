#include "TextCharacterCount.h"

#include <QuillomareCore/Foundation.h>

#include <QHash>
#include <QStringView>

namespace QuillomareMac {

qsizetype cachedGraphemeCount(const QString& text)
{
    if (text.size() < 4096)
        return QuillomareCore::Text::graphemeCount(text);
    // Known by its size, its buffer and its two ends, not kept: a text of megabytes must not
    // stay in memory after its entry is gone. A buffer taken over by another text, or edited in
    // place, differs at its ends as good as always.
    struct Key
    {
        qsizetype size = -1;
        const QChar* data = nullptr;
        size_t ends = 0;
        bool operator==(const Key&) const = default;
    };
    constexpr qsizetype endLength = 256;
    const QStringView view(text);
    const Key key{text.size(), text.constData(),
                  qHashMulti(0, view.first(endLength), view.last(endLength))};
    static Key lastKey;
    static qsizetype lastCount = 0;
    if (!(key == lastKey)) {
        lastCount = QuillomareCore::Text::graphemeCount(text);
        lastKey = key;
    }
    return lastCount;
}

} // namespace QuillomareMac
