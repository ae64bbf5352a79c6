/* FreeTDS as Microsoft's drivers behave in manual-commit mode: autocommit off sends
 * SET IMPLICIT_TRANSACTIONS ON and no begin, SQLEndTran sends the commit or rollback as a
 * statement. A broken link is never replaced unseen: Microsoft's connection resiliency makes no
 * attempt for a session that holds a transaction or an application lock, as a run always does,
 * and the next call fails with a link error, as FreeTDS's does here. Every other function is
 * FreeTDS's. */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <sql.h>
#include <sqlext.h>
#include <sqlucode.h>
#include <stdlib.h>

#define REAL(name, ...) ((SQLRETURN(SQL_API *)(__VA_ARGS__))freeTds(#name))

static void *freeTds(const char *name)
{
    static void *lib;
    if (!lib)
        lib = dlopen("libtdsodbc.so.0", RTLD_NOW | RTLD_NOLOAD);
    void *function = lib ? dlsym(lib, name) : NULL;
    if (!function)
        abort(); /* a double that cannot reach FreeTDS proves nothing */
    return function;
}

static SQLRETURN run(SQLHDBC dbc, const char *sql)
{
    SQLHSTMT stmt;
    SQLRETURN rc =
        REAL(SQLAllocHandle, SQLSMALLINT, SQLHANDLE, SQLHANDLE *)(SQL_HANDLE_STMT, dbc, &stmt);
    if (!SQL_SUCCEEDED(rc))
        return rc;
    rc = REAL(SQLExecDirect, SQLHSTMT, SQLCHAR *, SQLINTEGER)(stmt, (SQLCHAR *)sql, SQL_NTS);
    REAL(SQLFreeHandle, SQLSMALLINT, SQLHANDLE)(SQL_HANDLE_STMT, stmt);
    return rc == SQL_NO_DATA ? SQL_SUCCESS : rc;
}

/* Logged in, and the link not lost: FreeTDS reports a handle without a session as dead. */
static int connected(SQLHDBC dbc)
{
    SQLUINTEGER dead = SQL_CD_TRUE;
    return SQL_SUCCEEDED(
               REAL(SQLGetConnectAttr, SQLHDBC, SQLINTEGER, SQLPOINTER, SQLINTEGER,
                    SQLINTEGER *)(dbc, SQL_ATTR_CONNECTION_DEAD, &dead, SQL_IS_UINTEGER, NULL)) &&
           dead == SQL_CD_FALSE;
}

static SQLRETURN setAttr(SQLHDBC dbc, SQLINTEGER attr, SQLPOINTER value, SQLINTEGER length,
                         const char *real)
{
    if (attr != SQL_ATTR_AUTOCOMMIT || !connected(dbc))
        return ((SQLRETURN(SQL_API *)(SQLHDBC, SQLINTEGER, SQLPOINTER, SQLINTEGER))freeTds(real))(
            dbc, attr, value, length);
    return run(dbc, (SQLULEN)value == SQL_AUTOCOMMIT_OFF ? "SET IMPLICIT_TRANSACTIONS ON"
                                                         : "SET IMPLICIT_TRANSACTIONS OFF");
}

SQLRETURN SQL_API SQLSetConnectAttr(SQLHDBC dbc, SQLINTEGER attr, SQLPOINTER value, SQLINTEGER n)
{
    return setAttr(dbc, attr, value, n, "SQLSetConnectAttr");
}

SQLRETURN SQL_API SQLSetConnectAttrW(SQLHDBC dbc, SQLINTEGER attr, SQLPOINTER value, SQLINTEGER n)
{
    return setAttr(dbc, attr, value, n, "SQLSetConnectAttrW");
}

SQLRETURN SQL_API SQLEndTran(SQLSMALLINT type, SQLHANDLE handle, SQLSMALLINT completion)
{
    if (type != SQL_HANDLE_DBC || !connected(handle))
        return REAL(SQLEndTran, SQLSMALLINT, SQLHANDLE, SQLSMALLINT)(type, handle, completion);
    return run(handle, completion == SQL_COMMIT ? "IF @@TRANCOUNT > 0 COMMIT TRAN"
                                                : "IF @@TRANCOUNT > 0 ROLLBACK TRAN");
}
