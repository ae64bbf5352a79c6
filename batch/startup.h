#pragma once

// The start-up the window, salestotals-batch and the benchmark share, written once.
#include "batch/boxes.h"
#include "dm/run_lock.h"

#include <QDate>
#include <QString>
#include <functional>
#include <memory>
#include <optional>

// CompanyCode: the one company this system serves. Statements name it even when nothing else
// of the start-up runs (a dry run given its whole period).
void setCompanyCode();

struct StartUp
{
    QDate today; // whose week the calendar FCMSDT gives
    // Once today's week is known: the window writes the proposed period into its fields and
    // fills its item list, salestotals-batch settles the period it runs.
    std::function<void()> proposed;
    // A file or host instead of the compiled-in data source (the benchmark's database).
    std::optional<QString> dataSource;
    // Off for a dry run: no lock, nothing emptied.
    bool emptySummaryTables = true;
    // How long to wait for another run's lock.
    int waitSeconds = dm::configuredRunLockWait();
};

// In order: CompanyCode; the company connection (the first statement opens it); today and its
// week (InitToday); `proposed`; then, under the run lock, the summary tables emptied. Returns the
// lock, still held, for a run that goes on under it; nullptr when the tables were not emptied
// (`boxes` told once the lock is freed, `*databaseMessage` set) or emptying was not asked for.
// Throws dm::RunBusy when another run holds the lock, dm::Error when the database or today's week
// cannot be read.
std::unique_ptr<dm::RunLock> runStartUp(const StartUp &steps, Boxes &boxes,
                                        QString *databaseMessage = nullptr);
