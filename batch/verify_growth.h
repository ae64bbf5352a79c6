#pragma once

#include "batch/catalogue.h"
#include "batch/period_source.h"
#include "batch/verify.h"
#include "dm/connection.h"

#include <QDate>
#include <QSet>
#include <QString>
#include <optional>

// Verify: growth in a month or year that was still running at the run, told from drift.
namespace verify {

// The last day of the period's week, when the batch's month or year goes on past it. A run
// totals a week once it is over, so such a period was still running when its totals were
// written. None for a week, for a period over by then, and for a year that is no year.
std::optional<QDate> runningPastTheWeek(const BatchDef &batch, const PeriodSource &period);

// A differing verdict becomes Moved when each difference is one that rows posted since the
// run can make (a total changed, a group added) in a group that has rows dated after the
// week: those are the rows a run could not have seen yet. `laterGroups` holds groupKey()s.
void allowGrowth(BatchVerdict &verdict, const QSet<QString> &laterGroups);

// For a batch whose period runs past the week, reads the groups that have rows dated after
// it (only when the verdict could be growth) and allows that growth. Throws dm::Error.
void judgeGrowth(dm::Connection &connection, const BatchDef &batch, const PeriodSource &period,
                 BatchVerdict &verdict);

} // namespace verify
