#include "dm/query.h"

#include "dm/markers.h"
#include "dm/odbc_text.h"
#include "dm/trace.h"
#include "sqlcompat/sqlcompat.h"

#include <QSqlError>
#include <QSqlField>
#include <QSqlQuery>
#include <QSqlRecord>

namespace dm {

namespace {

// A null goes to the driver as a typed null, which every driver binds as NULL.
QVariant bindable(const Variant &value)
{
    if (value.isNull())
        return QVariant(QMetaType::fromType<QString>());
    return value.toQVariant();
}

// Client-side cursor: every row is copied before the first one is read. Texts from SQL
// Server come through odbcText.
void fetchAll(QSqlQuery &query, bool odbc, QStringList &columns, QVector<QVector<QVariant>> &rows)
{
    if (!query.isSelect())
        throw Error(QStringLiteral("The statement returns no result set"));
    const QSqlRecord record = query.record();
    const int count = record.count();
    QVector<bool> wide(count);
    for (int i = 0; i < count; ++i) {
        columns.append(record.fieldName(i));
        wide[i] = odbc && record.field(i).metaType().id() == QMetaType::QString;
    }
    while (query.next()) {
        QVector<QVariant> row(count);
        for (int i = 0; i < count; ++i)
            row[i] = wide[i] ? odbcText(query, i) : query.value(i);
        rows.append(std::move(row));
    }
    // A statement can fail on a later row (a conversion, say) after the first ones came.
    if (query.lastError().isValid())
        throw Error(driverMessage(query.lastError()));
}

} // namespace

Query::Query(Connection *connection) : m_connection(connection)
{
}

Query::~Query() = default;

void Query::setSQL(const QString &text)
{
    if (text == m_sql)
        return;
    close();
    const ParsedStatement parsed = parseMarkers(text);
    QVector<Parameter> params;
    params.reserve(parsed.names.size());
    for (const QString &name : parsed.names) {
        Parameter param(name);
        for (const Parameter &old : std::as_const(m_params)) {
            if (old.name().compare(name, Qt::CaseInsensitive) == 0) {
                param.setValue(old.value());
                break;
            }
        }
        params.append(param);
    }
    m_sql = text;
    m_params = std::move(params);
    // The embedded database gets the statement in its own dialect; the translation
    // depends on the text only, so it is made once per text.
    const bool embedded = m_connection && m_connection->backend() == Backend::Embedded;
    m_positional = embedded ? sqlcompat::translate(parsed.text) : parsed.text;

    // The connection opens when a statement is first given to it; a failure here is
    // reported again when the statement runs.
    if (m_connection && !text.isEmpty() && !m_connection->connected()) {
        try {
            m_connection->open();
        } catch (const Error &) {
        }
    }
}

Parameter &Query::paramByName(const QString &name)
{
    for (Parameter &param : m_params)
        if (param.name().compare(name, Qt::CaseInsensitive) == 0)
            return param;
    throw Error(QStringLiteral("Parameter '%1' not found").arg(name));
}

void Query::execSQL()
{
    run(false);
}

void Query::open()
{
    run(true);
}

void Query::close()
{
    m_active = false;
    m_columns.clear();
    m_rows.clear();
    m_row = 0;
}

int Query::recordCount() const
{
    if (!m_active)
        throw Error(QStringLiteral("The query is not open"));
    return int(m_rows.size());
}

bool Query::eof() const
{
    return !m_active || m_row >= m_rows.size();
}

Variant Query::fieldByName(const QString &name) const
{
    for (qsizetype column = 0; column < m_columns.size(); ++column) {
        if (m_columns.at(column).compare(name, Qt::CaseInsensitive) == 0) {
            if (m_row >= m_rows.size())
                return Variant();
            return Variant::fromQVariant(m_rows.at(m_row).at(column));
        }
    }
    throw Error(QStringLiteral("Field '%1' not found").arg(name));
}

void Query::next()
{
    if (m_active && m_row < m_rows.size())
        ++m_row;
}

void Query::run(bool withResult)
{
    close();
    m_rowsAffected = 0;
    const bool traced = tracing();
    TraceEntry entry{withResult ? TraceEntry::Open : TraceEntry::Execute, {}, {}, true, {}};
    if (traced) {
        entry.sql = m_sql;
        for (const Parameter &param : std::as_const(m_params))
            entry.values.append(param.value());
    }
    try {
        if (!m_connection)
            throw Error(QStringLiteral("The query has no connection"));
        if (!m_connection->connected())
            m_connection->open();
        QSqlQuery query(m_connection->database());
        query.setForwardOnly(true);
        if (m_exactNumbers)
            query.setNumericalPrecisionPolicy(QSql::HighPrecision);
        if (!query.prepare(m_positional))
            throw Error(driverMessage(query.lastError()));
        if (m_connection->backend() == Backend::SqlServer) {
            const int limit = m_connection->queryTimeout();
            odbcSetQueryTimeout(query, limit > 0 ? limit + m_extraTimeout : 0);
        }
        for (const Parameter &param : std::as_const(m_params))
            query.addBindValue(bindable(param.value()));
        if (!query.exec())
            throw Error(driverMessage(query.lastError()));
        if (withResult) {
            QStringList columns;
            QVector<QVector<QVariant>> rows;
            fetchAll(query, m_connection->backend() == Backend::SqlServer, columns, rows);
            m_columns = std::move(columns);
            m_rows = std::move(rows);
            m_row = 0;
            m_active = true;
        } else {
            m_rowsAffected = query.numRowsAffected();
        }
    } catch (const Error &e) {
        close();
        if (m_connection)
            m_connection->closeIfLinkLost();
        if (traced) {
            entry.ok = false;
            entry.error = e.message();
            trace(entry);
        }
        throw;
    }
    if (traced)
        trace(entry);
}

} // namespace dm
