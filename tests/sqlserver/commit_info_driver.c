/* FreeTDS as a driver that answers a commit with a message does (Microsoft's, for a trigger's
 * PRINT): SQL_SUCCESS_WITH_INFO where FreeTDS 1.3 drops the message and says SQL_SUCCESS.
 * Every other function is FreeTDS's own, found through this library's dependency on it. */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <sql.h>

SQLRETURN SQL_API SQLEndTran(SQLSMALLINT handleType, SQLHANDLE handle, SQLSMALLINT completion)
{
    typedef SQLRETURN(SQL_API * EndTran)(SQLSMALLINT, SQLHANDLE, SQLSMALLINT);
    EndTran freeTds = (EndTran)dlsym(RTLD_NEXT, "SQLEndTran");
    if (!freeTds)
        return SQL_ERROR;
    const SQLRETURN rc = freeTds(handleType, handle, completion);
    return rc == SQL_SUCCESS && completion == SQL_COMMIT ? SQL_SUCCESS_WITH_INFO : rc;
}
