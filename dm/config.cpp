// Compiled into each executable with its own SALESTOTALS_* definitions (see salestotals_configure).
#include "dm/connection.h"

#include <QUrl>

namespace dm {

Backend configuredBackend()
{
    return QStringLiteral(SALESTOTALS_DATABASE) == QLatin1String("sqlserver") ? Backend::SqlServer
                                                                              : Backend::Embedded;
}

QString configuredDataSource()
{
    return QStringLiteral(SALESTOTALS_DATA_SOURCE);
}

QString configuredOdbcDriver()
{
    return QStringLiteral(SALESTOTALS_ODBC_DRIVER);
}

int configuredRunLockWait()
{
    return QByteArrayLiteral(SALESTOTALS_RUN_LOCK_WAIT).toInt();
}

// An ERP posting holds its rows for seconds; a lock held for a minute is a session left open,
// and waiting on for it would keep every other run out behind this one's run lock.
int configuredLockTimeout()
{
    return 60;
}

// A safety net only: a year's batch at a large site takes minutes; a statement still going
// after half an hour waits for something no lock timeout ends.
int configuredQueryTimeout()
{
    return 1800;
}

// The build percent-encodes the options to carry ';' and quotes through the definition.
QString configuredOdbcOptions()
{
    return QUrl::fromPercentEncoding(QByteArrayLiteral(SALESTOTALS_ODBC_OPTIONS));
}

} // namespace dm
