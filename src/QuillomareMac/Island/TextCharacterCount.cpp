#include "TextCharacterCount.h"

#include <QuillomareCore/Foundation.h>

namespace QuillomareMac {

qsizetype cachedGraphemeCount(const QString& text)
{
    if (text.size() < 4096)
        return QuillomareCore::Text::graphemeCount(text);
    // The text is kept, so that its buffer cannot become another text's while it is remembered.
    static QString lastText;
    static qsizetype lastCount = 0;
    if (!text.isSharedWith(lastText)) {
        lastCount = QuillomareCore::Text::graphemeCount(text);
        lastText = text;
    }
    return lastCount;
}

} // namespace QuillomareMac
