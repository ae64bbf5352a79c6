#pragma once

#include <QDate>
#include <QString>

// Start-up: CurYear, CurMonth, CurDay and TodayText from `today` (the program passes the
// system clock's local date), then QueryCurrentWeek(). Throws dm::Error.
void InitToday(QDate today);

// CurWeek <- the week number that FCMSDT holds for TodayText (its low 16 bits). No row for
// today fails with "Invalid variant type conversion". Throws dm::Error.
void QueryCurrentWeek();

namespace calendar {

// The period the window proposes at start-up, in the order the window writes it: year text,
// then each spin box's value before its range (the value is clamped by the range the box had
// until then, and the new range does not clamp it again).
struct ProposedPeriod
{
    QString yearText;
    int monthValue;
    int monthMin, monthMax;
    int weekValue; // may lie outside the range that follows (CurWeek 0 gives -1)
    int weekMin, weekMax;
    QString rocYearText; // of yearText
};

// Last week: week CurWeek - 1 of CurYear, or week 53 of the previous year in week 1.
ProposedPeriod proposePeriod(quint16 curYear, quint16 curMonth, quint16 curWeek);

} // namespace calendar
