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

// The build percent-encodes the options to carry ';' and quotes through the definition.
QString configuredOdbcOptions()
{
    return QUrl::fromPercentEncoding(QByteArrayLiteral(SALESTOTALS_ODBC_OPTIONS));
}

} // namespace dm
