/* FreeTDS as Microsoft's drivers behave in manual-commit mode: autocommit off sends
 * SET IMPLICIT_TRANSACTIONS ON and no begin, SQLEndTran sends the commit or rollback as a
 * statement. With MS_STYLE_RESILIENT set in the environment, a session that broke while idle
 * is replaced by a new one before the next statement, unseen, as connection resiliency does
 * (the new session has no SET options of the old one). Every other function is FreeTDS's. */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <sql.h>
#include <sqlext.h>
#include <sqlucode.h>
#include <stdlib.h>
#include <string.h>

#define REAL(name, ...) ((SQLRETURN(SQL_API *)(__VA_ARGS__))freeTds(#name))

struct Session
{
    SQLHDBC app, live; /* the handle the application holds, the one that carries its session */
    SQLHENV env;
    char text[2048]; /* its connect string, as given to SQLDriverConnect(W) */
    SQLSMALLINT length;
    int wide, connected, manual;
};
static struct Session sessions[8];

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

static struct Session *find(SQLHDBC dbc)
{
    for (size_t i = 0; i < sizeof sessions / sizeof *sessions; ++i)
        if (sessions[i].app == dbc)
            return &sessions[i];
    return NULL;
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

static SQLRETURN login(struct Session *s, SQLHDBC dbc, void *out, SQLSMALLINT outMax,
                       SQLSMALLINT *outLength)
{
    if (s->wide)
        return REAL(SQLDriverConnectW, SQLHDBC, SQLHWND, SQLWCHAR *, SQLSMALLINT, SQLWCHAR *,
                    SQLSMALLINT, SQLSMALLINT *, SQLUSMALLINT)(
            dbc, NULL, (SQLWCHAR *)s->text, s->length, out, outMax, outLength, SQL_DRIVER_NOPROMPT);
    return REAL(SQLDriverConnect, SQLHDBC, SQLHWND, SQLCHAR *, SQLSMALLINT, SQLCHAR *, SQLSMALLINT,
                SQLSMALLINT *, SQLUSMALLINT)(dbc, NULL, (SQLCHAR *)s->text, s->length, out, outMax,
                                             outLength, SQL_DRIVER_NOPROMPT);
}

/* Idle (no manual-commit work open) and the session gone: a new one takes its place. */
static void replaceIfBroken(struct Session *s)
{
    SQLHDBC fresh;
    if (!getenv("MS_STYLE_RESILIENT") || s->manual || run(s->live, "-- idle check") != SQL_ERROR)
        return;
    if (!SQL_SUCCEEDED(REAL(SQLAllocHandle, SQLSMALLINT, SQLHANDLE, SQLHANDLE *)(SQL_HANDLE_DBC,
                                                                                 s->env, &fresh)))
        return;
    if (!SQL_SUCCEEDED(login(s, fresh, NULL, 0, NULL))) {
        REAL(SQLFreeHandle, SQLSMALLINT, SQLHANDLE)(SQL_HANDLE_DBC, fresh);
        return;
    }
    if (s->live != s->app) {
        REAL(SQLDisconnect, SQLHDBC)(s->live);
        REAL(SQLFreeHandle, SQLSMALLINT, SQLHANDLE)(SQL_HANDLE_DBC, s->live);
    }
    s->live = fresh;
}

static SQLRETURN allocate(SQLSMALLINT type, SQLHANDLE input, SQLHANDLE *output)
{
    struct Session *s = type == SQL_HANDLE_STMT ? find(input) : NULL;
    if (s && s->connected) {
        replaceIfBroken(s);
        input = s->live;
    }
    const SQLRETURN rc =
        REAL(SQLAllocHandle, SQLSMALLINT, SQLHANDLE, SQLHANDLE *)(type, input, output);
    if (type == SQL_HANDLE_DBC && SQL_SUCCEEDED(rc) && ((s = find(*output)) || (s = find(NULL))))
        *s = (struct Session){.app = *output, .live = *output, .env = input};
    return rc;
}

/* The driver manager uses both, as the application's ODBC version asks. */
SQLRETURN SQL_API SQLAllocHandle(SQLSMALLINT type, SQLHANDLE input, SQLHANDLE *output)
{
    return allocate(type, input, output);
}

SQLRETURN SQL_API SQLAllocConnect(SQLHENV env, SQLHDBC *dbc)
{
    return allocate(SQL_HANDLE_DBC, env, dbc);
}

SQLRETURN SQL_API SQLAllocStmt(SQLHDBC dbc, SQLHSTMT *stmt)
{
    return allocate(SQL_HANDLE_STMT, dbc, stmt);
}

static SQLRETURN remember(SQLHDBC dbc, const void *text, SQLSMALLINT length, int wide, void *out,
                          SQLSMALLINT outMax, SQLSMALLINT *outLength)
{
    struct Session *s = find(dbc);
    const size_t unit = wide ? sizeof(SQLWCHAR) : 1;
    size_t bytes = length;
    if (length == SQL_NTS)
        for (bytes = 0; memcmp((const char *)text + bytes * unit, "\0\0", unit); ++bytes)
            ;
    if (!s || (bytes + 1) * unit > sizeof s->text)
        return SQL_ERROR;
    memset(s->text, 0, sizeof s->text);
    memcpy(s->text, text, bytes * unit);
    s->length = (SQLSMALLINT)bytes;
    s->wide = wide;
    const SQLRETURN rc = login(s, dbc, out, outMax, outLength);
    s->connected = SQL_SUCCEEDED(rc);
    return rc;
}

SQLRETURN SQL_API SQLDriverConnect(SQLHDBC dbc, SQLHWND w, SQLCHAR *in, SQLSMALLINT inLength,
                                   SQLCHAR *out, SQLSMALLINT outMax, SQLSMALLINT *outLength,
                                   SQLUSMALLINT completion)
{
    (void)w, (void)completion;
    return remember(dbc, in, inLength, 0, out, outMax, outLength);
}

SQLRETURN SQL_API SQLDriverConnectW(SQLHDBC dbc, SQLHWND w, SQLWCHAR *in, SQLSMALLINT inLength,
                                    SQLWCHAR *out, SQLSMALLINT outMax, SQLSMALLINT *outLength,
                                    SQLUSMALLINT completion)
{
    (void)w, (void)completion;
    return remember(dbc, in, inLength, 1, out, outMax, outLength);
}

static SQLRETURN setAttr(SQLHDBC dbc, SQLINTEGER attr, SQLPOINTER value, SQLINTEGER length,
                         const char *real)
{
    struct Session *s = find(dbc);
    if (!s || !s->connected || attr != SQL_ATTR_AUTOCOMMIT)
        return ((SQLRETURN(SQL_API *)(SQLHDBC, SQLINTEGER, SQLPOINTER, SQLINTEGER))freeTds(real))(
            dbc, attr, value, length);
    s->manual = (SQLULEN)value == SQL_AUTOCOMMIT_OFF;
    return run(s->live,
               s->manual ? "SET IMPLICIT_TRANSACTIONS ON" : "SET IMPLICIT_TRANSACTIONS OFF");
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
    struct Session *s = type == SQL_HANDLE_DBC ? find(handle) : NULL;
    if (!s || !s->connected)
        return REAL(SQLEndTran, SQLSMALLINT, SQLHANDLE, SQLSMALLINT)(type, handle, completion);
    return run(s->live, completion == SQL_COMMIT ? "IF @@TRANCOUNT > 0 COMMIT TRAN"
                                                 : "IF @@TRANCOUNT > 0 ROLLBACK TRAN");
}

SQLRETURN SQL_API SQLDisconnect(SQLHDBC dbc)
{
    struct Session *s = find(dbc);
    if (s && s->live != s->app) {
        REAL(SQLDisconnect, SQLHDBC)(s->live);
        REAL(SQLFreeHandle, SQLSMALLINT, SQLHANDLE)(SQL_HANDLE_DBC, s->live);
    }
    if (s)
        *s = (struct Session){.app = dbc, .live = dbc, .env = s->env};
    return REAL(SQLDisconnect, SQLHDBC)(dbc);
}
