#include "dm/odbc_text.h"

#include "dm/error.h"

#include <QSqlDatabase>
#include <QSqlDriver>
#include <QSqlQuery>
#include <QSqlResult>

#ifdef _WIN32
#include <windows.h>
#endif
#include <sql.h>
#include <sqlext.h>

namespace dm {

static_assert(sizeof(SQLWCHAR) == sizeof(char16_t), "ODBC's wide characters are UTF-16");

namespace {

QString statementError(SQLHSTMT statement)
{
    SQLWCHAR state[6] = {};
    SQLWCHAR text[SQL_MAX_MESSAGE_LENGTH] = {};
    SQLINTEGER native = 0;
    SQLSMALLINT length = 0;
    if (!SQL_SUCCEEDED(SQLGetDiagRecW(SQL_HANDLE_STMT, statement, 1, state, &native, text,
                                      SQL_MAX_MESSAGE_LENGTH, &length)))
        return QStringLiteral("A text could not be read from the result");
    return QString::fromUtf16(reinterpret_cast<const char16_t *>(text),
                              qMin<qsizetype>(length, SQL_MAX_MESSAGE_LENGTH - 1));
}

SQLHSTMT statementOf(const QSqlQuery &query)
{
    const QVariant handle = query.result() ? query.result()->handle() : QVariant();
    if (handle.metaType() != QMetaType::fromType<SQLHSTMT>())
        throw Error(QStringLiteral("The ODBC driver gives no statement handle"));
    return *static_cast<const SQLHSTMT *>(handle.constData());
}

} // namespace

QVariant odbcText(const QSqlQuery &query, int column)
{
    const SQLHSTMT statement = statementOf(query);
    constexpr SQLLEN Chunk = 1024; // UTF-16 units, the terminator included
    SQLWCHAR buffer[Chunk];
    QString text;
    for (;;) {
        SQLLEN indicator = 0;
        const SQLRETURN r = SQLGetData(statement, SQLUSMALLINT(column + 1), SQL_C_WCHAR, buffer,
                                       sizeof buffer, &indicator);
        if (r == SQL_NO_DATA)
            break;
        if (!SQL_SUCCEEDED(r))
            throw Error(statementError(statement));
        if (indicator == SQL_NULL_DATA)
            return QVariant(QMetaType::fromType<QString>());
        // A part fills the buffer but its terminator while more follows; SQL_NO_TOTAL or
        // a length beyond the buffer says only that.
        const bool more =
            indicator == SQL_NO_TOTAL || indicator >= SQLLEN(sizeof buffer - sizeof(SQLWCHAR));
        const qsizetype units = more ? Chunk - 1 : qsizetype(indicator / sizeof(SQLWCHAR));
        text += QString::fromUtf16(reinterpret_cast<const char16_t *>(buffer), units);
        if (r == SQL_SUCCESS)
            break;
    }
    return text;
}

namespace {

// Every diagnostic record of a connection, as Qt joins them.
QString connectionError(SQLHDBC connection)
{
    QStringList messages;
    for (SQLSMALLINT i = 1;; ++i) {
        SQLWCHAR state[6] = {};
        SQLWCHAR text[SQL_MAX_MESSAGE_LENGTH] = {};
        SQLINTEGER native = 0;
        SQLSMALLINT length = 0;
        if (!SQL_SUCCEEDED(SQLGetDiagRecW(SQL_HANDLE_DBC, connection, i, state, &native, text,
                                          SQL_MAX_MESSAGE_LENGTH, &length)))
            break;
        messages << QString::fromUtf16(reinterpret_cast<const char16_t *>(text),
                                       qMin<qsizetype>(length, SQL_MAX_MESSAGE_LENGTH - 1));
    }
    return messages.isEmpty() ? QStringLiteral("The driver refused the commit")
                              : messages.join(u' ');
}

} // namespace

namespace {

SQLHDBC connectionOf(const QSqlDatabase &db)
{
    const QVariant handle = db.driver() ? db.driver()->handle() : QVariant();
    if (handle.metaType() != QMetaType::fromType<SQLHDBC>())
        return nullptr;
    return *static_cast<const SQLHDBC *>(handle.constData());
}

} // namespace

bool odbcCommit(const QSqlDatabase &db, QString *error)
{
    const SQLHDBC connection = connectionOf(db);
    if (!connection) {
        *error = QStringLiteral("The ODBC driver gives no connection handle");
        return false;
    }
    if (!SQL_SUCCEEDED(SQLEndTran(SQL_HANDLE_DBC, connection, SQL_COMMIT)) ||
        !SQL_SUCCEEDED(SQLSetConnectAttr(connection, SQL_ATTR_AUTOCOMMIT,
                                         reinterpret_cast<SQLPOINTER>(SQL_AUTOCOMMIT_ON),
                                         SQL_IS_UINTEGER))) {
        *error = connectionError(connection);
        return false;
    }
    return true;
}

bool odbcLinkLost(const QSqlDatabase &db)
{
    const SQLHDBC connection = connectionOf(db);
    SQLUINTEGER dead = SQL_CD_FALSE;
    return connection &&
           SQL_SUCCEEDED(SQLGetConnectAttr(connection, SQL_ATTR_CONNECTION_DEAD, &dead,
                                           SQL_IS_UINTEGER, nullptr)) &&
           dead == SQL_CD_TRUE;
}

void odbcSetQueryTimeout(const QSqlQuery &query, int seconds)
{
    const SQLHSTMT statement = statementOf(query);
    if (!SQL_SUCCEEDED(SQLSetStmtAttr(statement, SQL_ATTR_QUERY_TIMEOUT,
                                      reinterpret_cast<SQLPOINTER>(SQLULEN(seconds)),
                                      SQL_IS_UINTEGER)))
        throw Error(statementError(statement));
}

} // namespace dm
