#pragma once

#include "batch/batch_run.h"
#include "batch/period_source.h"
#include "batch/verify.h"
#include "cli/run_report.h"

#include <QJsonObject>
#include <QString>
#include <QTextStream>

// salestotals-batch --json: JSON Lines on standard output, one object per batch and a closing
// object. The keys are an interface that scripts read; usageText lists them.
namespace batchcli::json {

// The object on one line.
QString line(const QJsonObject &object);

// The period a batch totals: {"year":"2026","week":49}, {"year":"2026","month":12} or
// {"year":"2026","roc_year":"115"}.
QJsonObject batchPeriod(const QString &code, const PeriodSource &period);

// A run's batches: {"code","period","status":"done","rows","ms"}, status "skipped", or
// "failed" with "message".
class BatchPrinter : public BatchListener
{
public:
    BatchPrinter(QTextStream &out, const PeriodSource &period) : m_out(out), m_period(period) {}
    void batchSkipped(const QString &code) override;
    void batchDone(const QString &code, int rowsInserted, qint64 elapsedMs) override;
    void batchFailed(const QString &code, const QString &databaseMessage) override;

private:
    QTextStream &m_out;
    const PeriodSource &m_period;
};

// Verify's batch: status "ok", "differs", "moved", "not_done" or "failed", "groups",
// "differences", "largest" {"group","stored","recomputed","difference"} as exact decimal
// texts (null for a null), "message" of a failure.
QJsonObject verdictObject(const verify::BatchVerdict &verdict, const PeriodSource &period);

// The dry run's batch: status "dry_run", "summary", "completion", "binds" {"name","value"}.
void printStatements(const PeriodSource &period, QTextStream &out);

// The closing object: "code":"ALL", "status" (ok, failed, cannot_start, differs, busy),
// "exit_status", "ms", "period", the counts of the mode, and "message" when something was
// printed on standard error.
QJsonObject closingObject(const RunReport &report, int exitStatus);

} // namespace batchcli::json
