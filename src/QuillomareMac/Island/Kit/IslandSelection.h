#pragma once

// The selection model the history and the shelf share: a focused entry, a set of marked entries
// and the anchor of the last mark, all by id over a list of entries in display order. The
// entries only need an `id`; the views keep their own state and redraw it themselves.

#include <QList>
#include <QSet>
#include <QUuid>

#include <algorithm>
#include <optional>

namespace QuillomareMac::IslandSelection {

// The position of the entry with this id, or -1.
template <typename Entry> qsizetype indexOf(const QList<Entry>& entries, const QUuid& id)
{
    for (qsizetype i = 0; i < entries.size(); ++i) {
        if (entries[i].id == id)
            return i;
    }
    return -1;
}

template <typename Entry> std::optional<Entry> find(const QList<Entry>& entries, const std::optional<QUuid>& id)
{
    if (!id)
        return std::nullopt;
    const qsizetype index = indexOf(entries, *id);
    if (index < 0)
        return std::nullopt;
    return entries[index];
}

// The focus kept when its entry is still listed, else the first entry's (none when empty).
template <typename Entry>
std::optional<QUuid> repairedFocus(const QList<Entry>& entries, const std::optional<QUuid>& focus)
{
    if (focus && indexOf(entries, *focus) >= 0)
        return focus;
    if (entries.isEmpty())
        return std::nullopt;
    return entries.first().id;
}

// The marked entries in display order.
template <typename Entry> QList<Entry> markedEntries(const QList<Entry>& entries, const QSet<QUuid>& marked)
{
    QList<Entry> result;
    for (const Entry& entry : entries) {
        if (marked.contains(entry.id))
            result.append(entry);
    }
    return result;
}

// What an action works on: the marked entries when there are any, else the focused entry, else
// the fallback.
template <typename Entry>
QList<Entry> forActions(const QList<Entry>& entries, const QSet<QUuid>& marked, const std::optional<Entry>& focused,
                        const QList<Entry>& fallback = {})
{
    if (!marked.isEmpty())
        return markedEntries(entries, marked);
    if (focused)
        return {*focused};
    return fallback;
}

// The entry a detail shows: the one entry actions work on, else the focused entry.
template <typename Entry>
std::optional<Entry> detailFocus(const QList<Entry>& actionEntries, const std::optional<Entry>& focused)
{
    if (actionEntries.size() == 1)
        return actionEntries.first();
    return focused;
}

// A mark toggled on one entry, or, with extendRange and an anchor still listed, every entry from
// the anchor to it marked.
template <typename Entry>
void toggleMark(const QList<Entry>& entries, QSet<QUuid>& marked, const std::optional<QUuid>& anchor, const QUuid& id,
                bool extendRange)
{
    const qsizetype from = extendRange && anchor ? indexOf(entries, *anchor) : -1;
    const qsizetype to = from >= 0 ? indexOf(entries, id) : -1;
    if (from >= 0 && to >= 0) {
        for (qsizetype i = std::min(from, to); i <= std::max(from, to); ++i)
            marked.insert(entries[i].id);
    } else if (marked.contains(id)) {
        marked.remove(id);
    } else {
        marked.insert(id);
    }
}

// The id the focus moves to by offset, held at either end; the first entry stands for an unlisted
// focus. None when there are no entries.
template <typename Entry>
std::optional<QUuid> movedFocus(const QList<Entry>& entries, const std::optional<QUuid>& focus, int offset)
{
    if (entries.isEmpty())
        return std::nullopt;
    const qsizetype current = focus ? std::max<qsizetype>(indexOf(entries, *focus), 0) : 0;
    const qsizetype target = std::clamp<qsizetype>(current + offset, 0, entries.size() - 1);
    return entries[target].id;
}

} // namespace QuillomareMac::IslandSelection
