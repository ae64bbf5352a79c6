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

    bool loginPrompt() const { return m_loginPrompt; }
    void setLoginPrompt(bool on) { m_loginPrompt = on; }

    const QString &connectionString() const { return m_connectionString; }
    void
    setConnectionString(const QString &text); // only while closed has an effect on the next open

    bool connected() const;
    // Successful opens so far: a lock owned by the session went with an earlier one.
    quint64 openings() const { return m_openings; }
    // Throws dm::Error with the driver's own message. A SQL Server session counts weeks
    // from Sunday (SET DATEFIRST 7) whatever the login's language.
    void open();
    void close();

    // Both statements of a batch, and the two deletions at start-up, take effect together.
    // The embedded database takes its write lock at the begin (BEGIN IMMEDIATE), so that what
    // the transaction reads first no other writer changes before the commit.
    void beginTrans();    // throws dm::Error
    void commitTrans();   // throws dm::Error
    void rollbackTrans(); // never throws; closes the connection when the rollback fails

    // A transaction that only reads and is rolled back: the embedded database refuses every
    // write meanwhile (query_only) and takes no write lock; SQL Server keeps nothing of it.
    void beginReadOnlyTrans(); // throws dm::Error
    void endReadOnlyTrans();   // never throws

    QSqlDatabase database() const; // valid while connected

private:
    Backend m_backend;
    int m_timeout;
    bool m_loginPrompt = false;
    QString m_connectionString;
    QString m_qtName; // unique name in Qt's connection registry
    quint64 m_openings = 0;
};

} // namespace dm
