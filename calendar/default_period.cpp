#include "calendar/default_period.h"

#include "calendar/period.h"
#include "dm/fdm.h"
#include "dm/query.h"
#include "dm/shared_values.h"
#include "dm/text.h"

void InitToday(QDate today)
{
    CurYear = quint16(today.year());
    CurMonth = quint16(today.month());
    CurDay = quint16(today.day());
    TodayText = calendar::dateText(today);
    QueryCurrentWeek();
}

void QueryCurrentWeek()
{
    dm::Query query(&dm::FDM->PUB_DB);
    query.setSQL(QStringLiteral("select DT002 from FCMSDT WHERE DT003 <='") + TodayText +
                 QStringLiteral("' AND DT004 >='") + TodayText + QStringLiteral("'"));
    query.setPrepared(true);
    query.open();
    CurWeek = quint16(query.fieldByName(QStringLiteral("DT002")).asInteger());
    query.close();
}

namespace calendar {

ProposedPeriod proposePeriod(quint16 curYear, quint16 curMonth, quint16 curWeek)
{
    ProposedPeriod p;
    if (curWeek == 1) {
        p.yearText = QString::number(int(curYear) - 1);
        p.monthValue = 12;
        p.monthMin = 1;
        p.monthMax = 12;
        p.weekValue = 53;
        p.weekMin = 1;
        p.weekMax = 53;
    } else {
        p.yearText = QString::number(curYear);
        p.monthValue = curMonth;
        p.monthMin = 1;
        p.monthMax = curMonth;
        p.weekValue = int(curWeek) - 1;
        p.weekMin = 1;
        p.weekMax = int(curWeek) - 1;
    }
    // Parsed back from the text written, as the year batches read it.
    p.rocYearText = calendar::rocYearText(dm::strToInt(p.yearText));
    return p;
}

} // namespace calendar
