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

// The run could not learn whether it still holds its lock, or take it again: not a busy run,
// not a failing batch.
class RunLockError : public Error
{
public:
    using Error::Error;
};

// One run at a time per company database: the start-up's emptying of the summary tables, or
// the batches of one press of OK, under one lock.
// - SQL Server: an application lock owned by the session (sp_getapplock), named after the
//   company; the server frees it when the connection ends, also when the process is killed,
//   and a broken link leaves the run a new session without it.
// - Embedded: a lock file beside the database file (QLockFile). A lock left by a process that
//   no longer runs on this machine is taken over at once, also when another user's process
//   left it and only its folder is writable.
class RunLock
{
public:
    RunLock(Connection &connection, QString company, int waitSeconds = configuredRunLockWait());
    ~RunLock(); // releases
    RunLock(const RunLock &) = delete;
    RunLock &operator=(const RunLock &) = delete;

    // Opens the connection if closed, then waits up to the wait for the lock; a request that
    // fails (a link that died while idle) is made once more on a new session. Throws RunBusy
    // when another run still holds it (or the server cancelled the request), dm::Error when
    // the database cannot be reached or the lock file cannot be taken over.
    void acquire();
    // Before each batch: asks the server whether this session still holds the lock (the
    // connection may have been closed; a probe that fails closes it); takes it again without
    // waiting, on a new session if need be, when not. Throws RunBusy, or RunLockError.
    void keep();
    void release(); // never throws

    // The lock file of an embedded database.
    static QString lockFilePath(const QString &databaseFile);

private:
    void take(int waitSeconds); // < 0: lost during the run, taken again without waiting
    void takeFile(int waitSeconds);
    void takeSession(int waitSeconds);
    bool sessionHoldsLock();

    Connection &m_connection;
    QString m_company;
    int m_wait;
    bool m_held = false;
    quint64 m_opening = 0; // the connection's opening that holds a session's lock
    std::unique_ptr<QLockFile> m_file;
};

// Inside a batch's transaction (or the start-up's emptying), before it reads: no other run's
// batch or emptying on the company database passes this point until this transaction ends.
// SQL Server: an application lock owned by the transaction, asked for after a statement that
// opens the transaction where the driver only asked for implicit transactions, and only
// inside exactly one; the embedded database's transaction holds the write lock from its
// begin, so nothing is sent. Throws RunBusy when the lock stays held for the wait, dm::Error
// when it is refused or @@TRANCOUNT is not 1.
void lockBatch(Connection &connection, const QString &company,
               int waitSeconds = configuredRunLockWait());

} // namespace dm
