#pragma once

#include <QDate>
#include <QLocale>
#include <QString>

// The Sunday that begins week `week` of `year`: week 1 is the week holding 1 January, week N
// begins 7 * (N - 1) days later; nothing bounds N. Fails with "Invalid argument to date
// encode" for a year outside 1..9999.
QDate WeekStartDate(qint32 year, qint32 week);

namespace calendar {

QDate weekEnd(QDate first); // the Saturday of the week that begins on `first`

// "YYYYMMDD". A year beyond 9999 gives more digits (10000-01-01 -> "100000101"), a year before
// 1 a leading minus (1 BC is year -1); an invalid date gives "".
QString dateText(QDate date);

// Characters 5 and 6 of a week's end date text as an integer; fails with the integer message
// when they are not digits.
int monthOfWeekEnd(const QString &weekEndText);

// The Minguo year, year - 1911 as an unsigned 16-bit number, in decimal.
QString rocYearText(int year);

QString shortDate(QDate date, const QLocale &locale = QLocale());

struct AppliedWeek
{
    QDate first;
    QDate last;
    QString weekEndText;
    int month;
};

// Everything the week handler computes from the year text and the week value; the window
// only shows it. Throws dm::Error (year not an integer, year outside 1..9999).
AppliedWeek applyWeek(const QString &yearText, int week);

} // namespace calendar
