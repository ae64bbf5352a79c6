#include "calendar/period.h"

#include "dm/error.h"
#include "dm/text.h"

QDate WeekStartDate(qint32 year, qint32 week)
{
    if (year < 1 || year > 9999)
        throw dm::Error(QStringLiteral("Invalid argument to date encode"));
    const QDate newYear(year, 1, 1);
    // Qt counts Monday = 1 .. Sunday = 7; days back to the Sunday that starts week 1.
    const int sinceSunday = newYear.dayOfWeek() % 7;
    // The week offset is a 32-bit quantity: huge week numbers wrap instead of overflowing.
    const auto offset = qint32(7u * (quint32(week) - 1u));
    return newYear.addDays(qint64(offset) - sinceSunday);
}

namespace calendar {

QDate weekEnd(QDate first)
{
    return first.addDays(6);
}

QString dateText(QDate date)
{
    return date.toString(u"yyyyMMdd");
}

int monthOfWeekEnd(const QString &weekEndText)
{
    return dm::strToInt(weekEndText.mid(4, 2));
}

QString rocYearText(int year)
{
    return QString::number(quint16(quint32(year) - 1911u));
}

QString shortDate(QDate date, const QLocale &locale)
{
    return locale.toString(date, QLocale::ShortFormat);
}

AppliedWeek applyWeek(const QString &yearText, int week)
{
    AppliedWeek applied;
    applied.first = WeekStartDate(dm::strToInt(yearText), week);
    applied.last = weekEnd(applied.first);
    applied.weekEndText = dateText(applied.last);
    // Characters 5-6 hold the month only while the year has four digits; week 54 of 9999
    // and wrapped week numbers end beyond that, so those take the month from the date.
    applied.month = applied.weekEndText.size() == 8 ? monthOfWeekEnd(applied.weekEndText)
                                                    : applied.last.month();
    return applied;
}

} // namespace calendar
