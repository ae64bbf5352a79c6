#pragma once

#include "dm/error.h"

#include <QSqlDatabase>
#include <QSqlError>
#include <QString>
#include <QStringList>

namespace dm {

enum class Backend { Embedded, SqlServer };

// The settings in effect (dm/settings.h): backend, data source, driver, options, waits.
Backend configuredBackend();
QString configuredDataSource();
QString configuredOdbcDriver();
QString configuredOdbcOptions(); // appended to the ODBC connect string
int configuredRunLockWait();     // seconds a run waits for another run's lock
int configuredLockTimeout();     // seconds a SQL Server statement waits for a row lock
int configuredQueryTimeout();    // seconds before the driver cancels a SQL Server statement

// ADO-style connection string -> ODBC connect string for the sqlserver backend:
// driver, server (and port after a comma), database, trusted connection, then the driver's
// own options as given ("Key=Value;...").
QString odbcConnectString(const QString &connectionString, const QString &driver,
                          const QString &options = {});

// The cure to add to a failed integrated login's message: the Kerberos service name asked
// for, and what usually mends it. Empty for a login with user and password.
QString integratedLoginHint(const QString &connectionString, const QString &options = {});

// The "Data Source=" value of a connection string ("" when absent).
QString dataSourceOf(const QString &connectionString);

// The database file for the embedded backend: a relative data source is taken
// beside the executable.
QString embeddedDatabasePath(const QString &dataSource);

// The PRAGMAs every embedded connection runs once it is open (the benchmark's hand-written
// SQL runs them too, so that both sides read the file alike).
QStringList embeddedPragmas();

// The database's own message of a failure, else the driver's.
QString driverMessage(const QSqlError &error);

// A connection to one database. Closed when created; opens on demand.
class Connection
{
public:
    Connection(Backend backend, int connectionTimeoutSeconds);
    ~Connection();
    Connection(const Connection &) = delete;
    Connection &operator=(const Connection &) = delete;

    Backend backend() const { return m_backend; }
    void setBackend(Backend backend); // only while closed has an effect on the next open
    int connectionTimeout() const { return m_timeout; }

    // SQL Server only, for sessions opened from now on (the lock timeout) or statements run
    // from now on (the query timeout); 0 leaves the statement without a limit.
    int lockTimeout() const { return m_lockTimeout; }
    void setLockTimeout(int seconds) { m_lockTimeout = seconds; }
    int queryTimeout() const { return m_queryTimeout; }
    void setQueryTimeout(int seconds) { m_queryTimeout = seconds; }

    bool loginPrompt() const { return m_loginPrompt; }
    void setLoginPrompt(bool on) { m_loginPrompt = on; }

    const QString &connectionString() const { return m_connectionString; }
    void
    setConnectionString(const QString &text); // only while closed has an effect on the next open

    bool connected() const;
    // Successful opens so far: a lock owned by the session went with an earlier one.
    quint64 openings() const { return m_openings; }
    // Throws dm::Error with the driver's own message. A SQL Server session counts weeks
    // from Sunday (SET DATEFIRST 7) whatever the login's language, and gives up a lock it
    // waited the lock timeout for (error 1222, which leaves the transaction to roll back).
    void open();
    void close();
    // After a failed statement: a link that the driver reports lost (SQLSTATE 08S01, or
    // Microsoft's IMC05/IMC06 after a failed reconnect) is closed, so that the next
    // statement opens a new session instead of failing on the dead one.
    void closeIfLinkLost();

    // Both statements of a batch, and the two deletions at start-up, take effect together.
    // The embedded database takes its write lock at the begin (BEGIN IMMEDIATE), so that what
    // the transaction reads first no other writer changes before the commit.
    void beginTrans();    // throws dm::Error
    void commitTrans();   // throws dm::Error
    void rollbackTrans(); // never throws; closes the connection when the rollback fails

    // A transaction that only reads and is rolled back: the embedded database refuses every
    // write meanwhile (query_only) and takes no write lock; SQL Server keeps nothing of it,
    // reads under SNAPSHOT where the database allows it, and loses a deadlock against the
    // ERP (DEADLOCK_PRIORITY LOW). True when its reads see one point in time (SQLite's
    // transaction, SQL Server's snapshot); false when each statement sees the commits made
    // before it (READ COMMITTED). Throws dm::Error.
    bool beginReadOnlyTrans();
    void endReadOnlyTrans(); // never throws

    QSqlDatabase database() const; // valid while connected

private:
    Backend m_backend;
    int m_timeout;
    int m_lockTimeout = configuredLockTimeout();
    int m_queryTimeout = configuredQueryTimeout();
    bool m_loginPrompt = false;
    QString m_connectionString;
    QString m_qtName; // unique name in Qt's connection registry
    quint64 m_openings = 0;
};

} // namespace dm
