// The settings the data layer reads, as the site configuration gives them.
#include "dm/connection.h"
#include "dm/settings.h"

namespace dm {

Backend configuredBackend()
{
    return settings().value(QStringLiteral("backend")) == QLatin1String("sqlserver")
               ? Backend::SqlServer
               : Backend::Embedded;
}

QString configuredDataSource()
{
    return settings().value(configuredBackend() == Backend::SqlServer
                                ? QStringLiteral("server")
                                : QStringLiteral("database_file"));
}

QString configuredOdbcDriver()
{
    return settings().value(QStringLiteral("odbc_driver"));
}

int configuredRunLockWait()
{
    return settings().seconds(QStringLiteral("run_lock_wait"));
}

int configuredLockTimeout()
{
    return settings().seconds(QStringLiteral("lock_timeout"));
}

int configuredQueryTimeout()
{
    return settings().seconds(QStringLiteral("query_timeout"));
}

QString configuredOdbcOptions()
{
    return settings().value(QStringLiteral("odbc_options"));
}

} // namespace dm
