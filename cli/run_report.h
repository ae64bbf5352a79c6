#pragma once

#include "batch/batch_run.h"
#include "batch/verify.h"

#include <QString>
#include <QStringList>
#include <QVector>
#include <algorithm>
#include <optional>

// What one invocation of salestotals-batch did, for its closing JSON object and its metrics.
namespace batchcli {

enum class Mode { Run, DryRun, Verify };

struct ReportedPeriod
{
    QString year;
    int month = 0;
    int week = 0;
};

struct RunReport
{
    Mode mode = Mode::Run;
    bool json = false; // JSON Lines instead of text on standard output
    std::optional<ReportedPeriod> period;
    int done = 0;
    int skipped = 0;
    int failed = 0;
    QVector<verify::BatchVerdict> verdicts;
    QString errorText; // what went to standard error
    qint64 elapsedMs = 0;

    // Verify's batches of that status.
    int count(verify::Status status) const
    {
        return int(
            std::count_if(verdicts.begin(), verdicts.end(),
                          [status](const verify::BatchVerdict &v) { return v.status == status; }));
    }
};

// Counts the batches of a run into the report and passes each event on to the printer.
class Tally : public BatchListener
{
public:
    Tally(RunReport &report, BatchListener &printer) : m_report(report), m_printer(printer) {}
    void batchSkipped(const QString &code) override
    {
        ++m_report.skipped;
        m_printer.batchSkipped(code);
    }
    void batchDone(const QString &code, int rowsInserted, qint64 elapsedMs) override
    {
        ++m_report.done;
        m_printer.batchDone(code, rowsInserted, elapsedMs);
    }
    void batchFailed(const QString &code, const QString &databaseMessage) override
    {
        ++m_report.failed;
        m_printer.batchFailed(code, databaseMessage);
    }

private:
    RunReport &m_report;
    BatchListener &m_printer;
};

} // namespace batchcli
