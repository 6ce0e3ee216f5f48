#include "HistoryTime.h"

#include <QuillomareCore/Language.h>

#include <QLocale>

namespace QuillomareMac::HistoryTime {

namespace Language = QuillomareCore::Language;

namespace {

struct ShortDateFormat
{
    QLocale locale;
    QString format;
};

const ShortDateFormat& shortDateFormat()
{
    static const ShortDateFormat shared =
        Language::isChinese() ? ShortDateFormat{QLocale(QLocale::Chinese), QStringLiteral("M月d日 HH:mm")}
                              : ShortDateFormat{QLocale(QLocale::English), QStringLiteral("MMM d, HH:mm")};
    return shared;
}

} // namespace

QString relativeTimeText(const QDateTime& date, const QDateTime& now)
{
    // Division truncates toward zero, so a date a fraction of a second ahead is still "just now".
    const qint64 age = date.msecsTo(now) / 1000;
    if (age < 60)
        return Language::text(QStringLiteral("刚刚"), QStringLiteral("just now"));
    if (age < 3600)
        return Language::text(QStringLiteral("%1 分钟前"), QStringLiteral("%1m ago")).arg(age / 60);
    if (age < 86400)
        return Language::text(QStringLiteral("%1 小时前"), QStringLiteral("%1h ago")).arg(age / 3600);
    return shortDateText(date);
}

QString shortDateText(const QDateTime& date)
{
    const ShortDateFormat& shared = shortDateFormat();
    return shared.locale.toString(date.toLocalTime(), shared.format);
}

} // namespace QuillomareMac::HistoryTime
