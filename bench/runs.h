#pragma once

#include "bench/hand_sql.h"

#include <QString>
#include <QVector>

namespace bench {

// What one measured run cost. CPU times come from getrusage; the peak is the whole
// process's resident set (ru_maxrss), start-up, libraries and mapped database pages included;
// the anonymous peak leaves out what is mapped from files (RssAnon, sampled every 5 ms).
struct RunCost
{
    qint64 wallUs = 0;
    qint64 userUs = 0;
    qint64 systemUs = 0;
    qint64 maxRssKb = 0;
    qint64 maxAnonKb = 0;
    int batches = 0;            // batches that finished
    int failures = 0;           // batches that failed
    qint64 rows = 0;            // summary rows inserted
    QVector<qint64> batchUs;    // wall time of each batch, in the order of the run
    QVector<qint64> batchCpuUs; // CPU time of the running thread in each batch, likewise
};

// A run's result as the line a child process prints, and back.
QString costLine(const RunCost &cost);
bool parseCostLine(const QString &output, RunCost &cost);

// The twelve batches through the program's own code (BatchRun::BitBtn1Click on an
// adoInSert query of the data module's company connection) on the database file, every
// box answered. Needs a QCoreApplication. Throws dm::Error when it cannot start.
RunCost runProgram(const QString &databaseFile, const Period &period);

// salestotals-batch --verify's work on a file the program ran on: the run lock, then every
// batch recomputed and compared. batches counts those that matched, failures the others.
RunCost runVerify(const QString &databaseFile, const Period &period);

// The same aggregations as hand-written SQL on a plain sqlite3 connection, one transaction
// per batch, with the embedded connection's PRAGMAs. Throws dm::Error on any failure.
RunCost runHandSql(const QString &databaseFile, const Period &period);

} // namespace bench
