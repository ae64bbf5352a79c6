// Verify: growth in a month or year that was still running at the run, told from drift.
#include "batch/verify_growth.h"

#include "batch/statements.h"
#include "calendar/period.h"
#include "dm/error.h"
#include "dm/query.h"
#include "dm/text.h"

namespace verify {

namespace {

QDate lastDayOf(PeriodKind kind, int year, int month)
{
    if (kind == PeriodKind::Year)
        return QDate(year, 12, 31);
    const QDate first(year, month, 1);
    return first.isValid() ? first.addMonths(1).addDays(-1) : QDate();
}

// The value a weekly or monthly batch binds.
qint32 periodNumber(const BatchDef &batch, const PeriodSource &period)
{
    return qint32(batch.kind == PeriodKind::Week ? period.week() : period.month());
}

// The batch's own SELECT, narrowed to the rows dated after `day`: the groups they make.
QString laterRowsSelect(const BatchDef &batch, const PeriodSource &period, const QDate &day)
{
    const QString year = dm::trimText(period.yearText());
    const qint32 number = periodNumber(batch, period);
    const QString rocYear = batch.kind == PeriodKind::Year ? rocYearOf(year) : QString();
    QString sql = summarySelect(batch, year, number, rocYear);
    const QString groupBy = QLatin1String(" GROUP BY ") + batch.groupColumn;
    if (!sql.endsWith(groupBy))
        throw dm::Error(QStringLiteral("%1: no GROUP BY to narrow").arg(batch.code));
    sql.chop(groupBy.size());
    // The date column holds "YYYYMMDD", which sorts as the dates do.
    return sql + QLatin1String(" AND ") + batch.dateColumn + QLatin1String(" > ") +
           sqlTextLiteral(calendar::dateText(day)) + groupBy;
}

QSet<QString> laterGroups(dm::Connection &connection, const BatchDef &batch,
                          const PeriodSource &period, const QDate &day)
{
    dm::Query query(&connection);
    query.setSQL(laterRowsSelect(batch, period, day));
    const QString parameter = periodParameterName(batch.kind);
    if (!parameter.isEmpty())
        query.paramByName(parameter).setValue(periodNumber(batch, period));
    query.open();
    QSet<QString> groups;
    for (; !query.eof(); query.next()) {
        const dm::Variant group = query.fieldByName(QStringLiteral("XX005"));
        groups.insert(groupKey(group.isNull() ? std::nullopt : std::optional(group.asString())));
    }
    return groups;
}

} // namespace

std::optional<QDate> runningPastTheWeek(const BatchDef &batch, const PeriodSource &period)
{
    if (batch.kind == PeriodKind::Week)
        return std::nullopt;
    bool isNumber = false;
    const int year = dm::trimText(period.yearText()).toInt(&isNumber);
    if (!isNumber)
        return std::nullopt;
    try {
        const QDate weekEnd = calendar::weekEnd(WeekStartDate(year, period.week()));
        const QDate periodEnd = lastDayOf(batch.kind, year, period.month());
        if (periodEnd.isValid() && weekEnd.isValid() && periodEnd > weekEnd)
            return weekEnd;
    } catch (const dm::Error &) {
    }
    return std::nullopt;
}

void allowGrowth(BatchVerdict &verdict, const QSet<QString> &laterGroups)
{
    if (verdict.status != Status::Differs || !verdict.onlyGrowth)
        return;
    for (const std::optional<QString> &group : std::as_const(verdict.changedGroups))
        if (!laterGroups.contains(groupKey(group)))
            return;
    verdict.status = Status::Moved;
}

void judgeGrowth(dm::Connection &connection, const BatchDef &batch, const PeriodSource &period,
                 BatchVerdict &verdict)
{
    if (verdict.status != Status::Differs || !verdict.onlyGrowth)
        return;
    if (const std::optional<QDate> weekEnd = runningPastTheWeek(batch, period))
        allowGrowth(verdict, laterGroups(connection, batch, period, *weekEnd));
}

} // namespace verify
