#pragma once

#include "batch/boxes.h"
#include "batch/catalogue.h"
#include "batch/period_source.h"
#include "batch/statements.h"
#include "dm/query.h"
#include "dm/run_lock.h"

#include <QString>

// The error box of every failing write.
void BatchError(Boxes &boxes);

// Start-up: empties FADMXX and FADMXY together, so that no completion row outlives its
// summary rows, under the batches' lock. A failure shows BatchError once, changes nothing and
// returns false, with the database's message in *databaseMessage when given (BatchError does
// not show it); throws only dm::RunBusy, when another run's batch keeps that lock (no box).
bool ClearSummaryTables(Boxes &boxes, QString *databaseMessage = nullptr);

// Told what the run does; the window ignores it, tools report it.
class BatchListener
{
public:
    virtual ~BatchListener() = default;
    virtual void batchSkipped(const QString &code) { Q_UNUSED(code); }
    virtual void batchDone(const QString &code, int rowsInserted, qint64 elapsedMs)
    {
        Q_UNUSED(code);
        Q_UNUSED(rowsInserted);
        Q_UNUSED(elapsedMs);
    }
    virtual void batchFailed(const QString &code, const QString &databaseMessage)
    {
        Q_UNUSED(code);
        Q_UNUSED(databaseMessage);
    }
};

// What the OK button does: the twelve batches for the period the source shows.
class BatchRun
{
public:
    // With a run lock, the run asks before each batch whether its session still holds it,
    // and takes it again when not (dm::RunLock::keep).
    BatchRun(dm::Query &adoInSert, const PeriodSource &period, Boxes &boxes,
             BatchListener *listener = nullptr, dm::RunLock *runLock = nullptr);

    // True when the batch has no completion row for the period shown now. Throws dm::Error.
    bool Qry_Batch(const QString &code);

    // One batch: its summary and completion statements take effect together or not at all.
    // Its transaction checks for its completion row again once it holds the lock that keeps
    // other runs' batches out: a batch that another run did meanwhile is skipped. A failure
    // shows BatchError; throws only dm::RunBusy, when that lock stays held by another run
    // (nothing of the batch is kept, and no box is shown).
    void RunBatch(const BatchDef &batch);

    void W101();
    void W102();
    void M101();
    void M102();
    void Y101();
    void Y102();
    void W103();
    void M103();
    void Y103();
    void W301();
    void M301();
    void Y301();

    // Each batch not yet done, in the order of the catalogue. A failing check ends the run
    // (dm::Error), as do a run lock held by another run (dm::RunBusy) and one that cannot be
    // checked (dm::RunLockError); a failing batch does not.
    void BitBtn1Click();

private:
    void execute(const QString &sql, const QString &parameterName, qint32 value);
    void executeCompletion(const QString &code, const BatchStatements &s);

    dm::Query &m_adoInSert;
    const PeriodSource &m_period;
    Boxes &m_boxes;
    BatchListener *m_listener;
    dm::RunLock *m_runLock;
};
