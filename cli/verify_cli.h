#pragma once

#include "batch/period_source.h"
#include "batch/verify.h"
#include "cli/run_report.h"

#include <QString>
#include <QTextStream>
#include <QVector>

// salestotals-batch --verify: its lines and its exit status.
namespace batchcli {

// "W101 ok 20 groups", "W101 differs: <what>; <what>", "M101 moved since the run: <what>",
// "W101 not done", "W101 failed: <message>".
QString verdictLine(const verify::BatchVerdict &verdict);

// The closing line, laid out as a batch's: "ALL ok 12 of 12 batches 840 ms",
// "ALL differs 2 of 12 batches 840 ms" (of the batches done or holding summary rows), with
// "(N moved since the run)" before the time when any has.
QString summaryLine(const QVector<verify::BatchVerdict> &verdicts, qint64 elapsedMs);

// 0 every recorded batch matches, Drift when any differs, 2 when a batch could not be
// recomputed and none differs.
int verifyStatus(const QVector<verify::BatchVerdict> &verdicts);

// Takes the run lock, so that no run is half done meanwhile, verifies every batch for the
// period on the company connection and prints the lines (JSON objects when the report says
// so), keeping the verdicts in the report. Returns the exit status (75 when another run holds
// the lock); throws dm::Error when the database cannot be reached.
int verifyTotals(const PeriodSource &period, int waitSeconds, QTextStream &out, QTextStream &err,
                 const QString &program, RunReport *report = nullptr);

} // namespace batchcli
