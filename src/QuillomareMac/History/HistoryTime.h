#pragma once

// How old an entry is, in the words rows, the inspector and the shelf show under it.

#include <QDateTime>
#include <QString>

namespace QuillomareMac::HistoryTime {

// "just now" under a minute (and for dates ahead of `now`), then whole minutes, then whole hours,
// then the short date from a day on.
QString relativeTimeText(const QDateTime& date, const QDateTime& now);
// "M月d日 HH:mm" or "MMM d, HH:mm" in the local time zone; the language is the one of the first
// call.
QString shortDateText(const QDateTime& date);

} // namespace QuillomareMac::HistoryTime
