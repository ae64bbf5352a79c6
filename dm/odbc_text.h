#pragma once

#include <QVariant>

class QSqlQuery;

namespace dm {

// A text column of the current row of an ODBC result, read as UTF-16 from the statement
// itself: Qt reads texts as 8-bit data from FreeTDS, which loses what the client character
// set cannot hold and turns a value longer in bytes than its declared size into null.
// A null QString for NULL; throws dm::Error.
QVariant odbcText(const QSqlQuery &query, int column);

} // namespace dm

class QSqlDatabase;

namespace dm {

// Commits the ODBC connection's transaction and returns it to autocommit, as Qt's driver
// does, but takes SQL_SUCCESS_WITH_INFO (a message beside the commit, a trigger's PRINT)
// for the success it is. False with the driver's messages in *error.
bool odbcCommit(const QSqlDatabase &db, QString *error);

// Whether the driver reports the connection lost (SQL_ATTR_CONNECTION_DEAD): after a link
// error (08S01), or a reconnect that failed. False when it cannot tell.
bool odbcLinkLost(const QSqlDatabase &db);

// The driver cancels the prepared statement after this many seconds (0: never) and fails it
// with HYT00; the transaction stays open for the client to roll back. Throws dm::Error.
void odbcSetQueryTimeout(const QSqlQuery &query, int seconds);

} // namespace dm
