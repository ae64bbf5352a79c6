#pragma once

#include "dm/connection.h"
#include "dm/error.h"

#include <QString>
#include <memory>

class QLockFile;

namespace dm {

// Another run holds the company database. The message names it and says since when.
class RunBusy : public Error
{
public:
    using Error::Error;
};

// One run at a time per company database: the start-up's emptying of the summary tables, or
// the batches of one press of OK, under one lock.
// - SQL Server: an application lock owned by the session (sp_getapplock), named after the
//   company; the server frees it when the connection ends, also when the process is killed.
// - Embedded: a lock file beside the database file (QLockFile). A lock left by a process that
//   no longer runs on this machine is taken over at once.
class RunLock
{
public:
    RunLock(Connection &connection, QString company, int waitSeconds = configuredRunLockWait());
    ~RunLock(); // releases
    RunLock(const RunLock &) = delete;
    RunLock &operator=(const RunLock &) = delete;

    // Opens the connection if closed, then waits up to the wait for the lock. Throws RunBusy
    // when another run still holds it, dm::Error when the database cannot be reached.
    void acquire();
    // Before each batch: a session's lock went with a connection that was closed since; takes
    // it again on the new one without waiting. Throws RunBusy, or dm::Error.
    void keep();
    void release(); // never throws

    // The lock file of an embedded database.
    static QString lockFilePath(const QString &databaseFile);

private:
    void take(int waitSeconds); // < 0: lost during the run, taken again without waiting
    void takeFile(int waitSeconds);
    void takeSession(int waitSeconds);

    Connection &m_connection;
    QString m_company;
    int m_wait;
    bool m_held = false;
    quint64 m_opening = 0; // the connection's opening that holds a session's lock
    std::unique_ptr<QLockFile> m_file;
};

// Inside a batch's transaction, before its completion check: no other run's batch on the
// company database passes this point until this transaction ends. SQL Server: an application
// lock owned by the transaction; the embedded database's transaction holds the write lock
// from its begin, so nothing is sent. Throws dm::Error.
void lockBatch(Connection &connection, const QString &company,
               int waitSeconds = configuredRunLockWait());

} // namespace dm
