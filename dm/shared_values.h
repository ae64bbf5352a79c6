#pragma once

#include <QString>
#include <QtGlobal>

// Process-wide values set at start-up and by the week handler, read by the batches.
inline QString CompanyCode;
inline quint16 CurYear = 0;
inline quint16 CurMonth = 0;
inline quint16 CurDay = 0;
inline quint16 CurWeek = 0;
inline QString TodayText;
inline QString RocYearText;
inline QString WeekEndText;

// Tests start each case from the state before start-up.
inline void resetSharedValues()
{
    CompanyCode.clear();
    CurYear = CurMonth = CurDay = CurWeek = 0;
    TodayText.clear();
    RocYearText.clear();
    WeekEndText.clear();
}
