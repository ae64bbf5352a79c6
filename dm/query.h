#pragma once

#include "dm/connection.h"
#include "dm/variant.h"

#include <QString>
#include <QStringList>
#include <QVariant>
#include <QVector>
#include <memory>

namespace dm {

class Parameter
{
public:
    explicit Parameter(QString name = {}) : m_name(std::move(name)) {}
    const QString &name() const { return m_name; }
    const Variant &value() const { return m_value; }
    void setValue(qint32 value) { m_value = Variant(value); }
    void setValue(const QString &value) { m_value = Variant(value); }
    void setValue(const Variant &value) { m_value = value; }

private:
    QString m_name;
    Variant m_value;
};

// A statement on a connection: named parameters, execute, or open a result set that is
// fetched whole (client-side cursor). A failed statement leaves the query closed with
// its text and parameters as set.
class Query
{
public:
    explicit Query(Connection *connection);
    ~Query();
    Query(const Query &) = delete;
    Query &operator=(const Query &) = delete;

    Connection *connection() const { return m_connection; }

    // Replaces the text and rebuilds the parameter list (values carried over by name);
    // opens the connection if closed, ignoring a failure there. The same text changes nothing.
    void setSQL(const QString &text);
    const QString &sql() const { return m_sql; }

    // Decimals of SQL Server as their exact text instead of the nearest double.
    void setExactNumbers(bool on) { m_exactNumbers = on; }

    // SQL Server: seconds this statement may take beyond the connection's query timeout,
    // for one that waits a time of its own (a lock request).
    void setExtraTimeout(int seconds) { m_extraTimeout = seconds; }

    bool prepared() const { return m_prepared; }
    void setPrepared(bool on) { m_prepared = on; }

    int paramCount() const { return int(m_params.size()); }
    Parameter &param(int index) { return m_params[index]; }
    Parameter &paramByName(const QString &name); // case-insensitive; "Parameter '%s' not found"

    void execSQL(); // a statement without result set; throws dm::Error
    int rowsAffected() const { return m_rowsAffected; } // of the last execSQL
    void open(); // a statement with result set; first row current; throws dm::Error
    void close();
    bool active() const { return m_active; }

    int recordCount() const; // rows of the open result set
    bool eof() const;        // past the last row (or no row)
    Variant
    fieldByName(const QString &name) const; // current row; "Field '%s' not found"; null when no row
    void next();

private:
    void run(bool withResult);

    Connection *m_connection;
    QString m_sql;
    QString m_positional; // text with markers replaced by placeholders
    QVector<Parameter> m_params;
    bool m_prepared = false;
    bool m_exactNumbers = false;
    int m_extraTimeout = 0;
    bool m_active = false;
    QStringList m_columns;
    QVector<QVector<QVariant>> m_rows;
    int m_row = 0;
    int m_rowsAffected = 0;
};

} // namespace dm
